// The Help command: the help window, on the book's overview page.
#include "library/model/PMMainController.h"

#include "services/help/PMHelpManager.h"

#include <QtCore/QFileInfo>

void PMMainController::help(QObject*)
{
    PMHelpManager::helpManager()->openPage(QStringLiteral("overview"), QString(), false);
}

bool PMMainController::openHelpPage(const QString& page, const QString& fragment, bool force)
{
    return PMHelpManager::helpManager()->openPage(page, fragment, force);
}

bool PMHelpBookHasOverview(const QString& folder)
{
    return !folder.isEmpty() && QFileInfo::exists(folder + QStringLiteral("/overview.html"));
}

bool PMMainController::helpIsAvailable()
{
    return PMHelpBookHasOverview(PMHelpManager::helpBookFolder());
}
