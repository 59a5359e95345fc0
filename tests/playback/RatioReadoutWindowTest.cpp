// The aspect-ratio read-out over the player while its window is resized: one window serves
// every resize, faded out between them.
#include "library/model/PMMainController.h"
#include "platform/DelayedPerform.h"
#include "playback/PMOverlayWindows.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QtWidgets/QApplication>
#include <QtWidgets/QVBoxLayout>

namespace {

int readoutWindowCount()
{
    int n = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        n += qobject_cast<PMFullScreenMessageWindow*>(widget) != nullptr;
    return n;
}

} // namespace

TEST(AspectRatioReadoutTest, FortyResizesLeaveOneWindow)
{
    PMMainController& c = mainController();
    // The read-out an earlier test of the process left is the one these resizes would reuse.
    platform::cancelPreviousPerformRequests(&c, QStringLiteral("closeAspectRatioWindow"), platform::Value());
    delete c._aspectRatioWindow.data();
    const int before = readoutWindowCount();
    auto window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    auto* player = new QWidget;
    layout->addWidget(player);
    window->resize(640, 400);
    window->show();
    c.playerView = player;
    c._isAspectRatioLocked = false;
    QString lastText;
    for (int i = 0; i < 40; ++i) {
        window->resize(640 + 7 * i, 400);
        QCoreApplication::processEvents();
        c.updateAspectRatioWindow();
        ASSERT_TRUE(c._aspectRatioWindow);
        EXPECT_TRUE(c._aspectRatioWindow->isVisible());
        EXPECT_NE(c._aspectRatioText, lastText);
        lastText = c._aspectRatioText;
        // The read-out goes a moment after the resize.
        ASSERT_TRUE(testsupport::waitUntil([&] { return !c._aspectRatioWindow || !c._aspectRatioWindow->isVisible(); }, 10000)) << i;
    }
    EXPECT_EQ(readoutWindowCount() - before, 1);
    platform::cancelPreviousPerformRequests(&c, QStringLiteral("closeAspectRatioWindow"), platform::Value());
    delete c._aspectRatioWindow.data();
    c.playerView = nullptr;
}
