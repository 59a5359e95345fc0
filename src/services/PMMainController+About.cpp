// The Help menu's about panel and update commands go to their own objects.
#include "library/model/PMMainController.h"

#include "services/PMAboutPanelManager.h"
#include "ui/commands/PMSparkleWrapper.h"

#include <QtGui/QAction>
#include <QtWidgets/QMenuBar>

void PMMainController::installServiceCommands(QMenuBar* bar)
{
    PMSparkleWrapper& updates = PMSparkleWrapper::sharedSparkleWrapper();
    PMAboutPanelManager& about = PMAboutPanelManager::aboutPanelManager();
    // The items name their targets, so the wrapper validates its own item (and its badge).
    for (QAction* item : bar->findChildren<QAction*>()) {
        const QString action = platform::menuItemAction(item);
        if (action == QLatin1String("checkForUpdates"))
            platform::setMenuItemAction(item, action, &updates);
        else if (action == QLatin1String("orderFrontStandardAboutPanel"))
            platform::setMenuItemAction(item, action, &about);
    }
}
