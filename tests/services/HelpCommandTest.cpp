// The Help command of the main menu opens the help window on the book that lies beside the
// program in the build tree (as it lies beside an installed one).
#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "services/help/PMHelpManager.h"

#include <QtGui/QAction>
#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

TEST(HelpCommand, OpensTheHelpWindowOnTheOverview)
{
    mainController().help(nullptr);
    PMHelpManager* manager = PMHelpManager::helpManager();
    ASSERT_TRUE(PMHelpManager::hasVisibleWindow()) << "no help book at " << qPrintable(PMHelpManager::helpBookFolder());
    EXPECT_EQ(manager->currentRelativePath(), QStringLiteral("overview.html"));
    EXPECT_TRUE(manager->bookFolder().endsWith(QStringLiteral("/share/Pellis/help/en")));

    // The window answers the main menu's commands while it is the active window.
    auto* window = manager->window();
    ASSERT_TRUE(window);
    EXPECT_EQ(platform::targetForAction(QStringLiteral("increaseScale"), manager->webView()), static_cast<platform::Responder*>(window));
    EXPECT_EQ(platform::targetForAction(QStringLiteral("help"), manager->webView()), static_cast<platform::Responder*>(window));
    QAction larger;
    platform::setMenuItemAction(&larger, QStringLiteral("increaseScale"));
    EXPECT_TRUE(window->validateMenuItem(&larger));
    const int before = manager->webView()->zoomStep();
    platform::sendAction(QStringLiteral("increaseScale"), &larger, window);
    EXPECT_EQ(manager->webView()->zoomStep(), before + 1);
}
