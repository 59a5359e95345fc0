// The Help command: the help window, on the book's overview page.
#include "library/model/PMMainController.h"

#include "services/help/PMHelpManager.h"

void PMMainController::help(QObject*)
{
    PMHelpManager::helpManager()->openPage(QStringLiteral("overview"), QString(), false);
}
