#include "platform/UserDefaults.h"
#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

using platform::UserDefaults;
using testsupport::waitUntil;

namespace {

struct FadingDuration {
    explicit FadingDuration(double seconds) { UserDefaults::standard().setDouble(seconds, QStringLiteral("PMWindowFadingDuration")); }
    ~FadingDuration() { UserDefaults::standard().setObject({}, QStringLiteral("PMWindowFadingDuration")); }
};

class CountingWindow : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        QWidget::closeEvent(event);
    }
};

} // namespace

TEST(WindowFading, FadeOutTwiceClosesOnce)
{
    FadingDuration duration(0.1);
    CountingWindow window;
    orderFrontAndFadeIn(&window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(windowFadingStatus(&window), 1);
    EXPECT_TRUE(waitUntil([&] { return windowFadingStatus(&window) == 0; }));
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);

    int first = 0, second = 0;
    fadeOutAndCloseWithCompletionHandler(&window, [&] { ++first; });
    fadeOutAndCloseWithCompletionHandler(&window, [&] { ++second; });
    EXPECT_EQ(windowFadingStatus(&window), 2);
    EXPECT_TRUE(waitUntil([&] { return first == 1; }));
    waitUntil([] { return false; }, 150);
    EXPECT_EQ(window.closes, 1);
    EXPECT_EQ(second, 0);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(windowFadingStatus(&window), 0);
    // Shown again later, the window is not left transparent.
    window.show();
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
}

TEST(WindowFading, StoppingAFadeOutCancelsTheClose)
{
    FadingDuration duration(0.3);
    QWidget window;
    orderFrontWithAlphaValue(&window, 1.0, false);
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
    bool closedHandler = false;
    fadeOutAndCloseWithCompletionHandler(&window, [&] { closedHandler = true; });
    waitUntil([] { return false; }, 50);
    stopFadingOutAndSetAlphaValue(&window, 0.8);
    EXPECT_EQ(windowFadingStatus(&window), 1);
    // The new alpha is reached within a hundredth of a second's animation.
    EXPECT_TRUE(waitUntil([&] { return windowFadingStatus(&window) == 0; }, 1000));
    EXPECT_NEAR(window.windowOpacity(), 0.8, 0.01);
    waitUntil([] { return false; }, 400);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(closedHandler);

    // A fade-out overtaking a fade-in drops the fade-in's handler.
    bool fadedIn = false;
    window.hide();
    orderFrontWithAlphaValue(&window, 1.0, true, [&] { fadedIn = true; });
    fadeOutAndClose(&window);
    EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }, 2000));
    EXPECT_FALSE(fadedIn);
}

TEST(WindowFading, ShortDurationsCloseAtOnce)
{
    FadingDuration duration(0);
    QWidget window;
    orderFrontAndFadeIn(&window);
    EXPECT_EQ(windowFadingStatus(&window), 0); // nothing animated
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
    bool ran = false;
    fadeOutAndCloseWithCompletionHandler(&window, [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(window.isVisible());

    // A child window is only made transparent.
    QWidget parent;
    parent.show();
    QWidget child(&parent, Qt::Tool);
    setChildWindow(&child, true);
    child.show();
    fadeOutAndClose(&child);
    EXPECT_TRUE(child.isVisible());
    EXPECT_DOUBLE_EQ(child.windowOpacity(), 0.0);

    // A window's own duration wins over the setting.
    QWidget own;
    own.setProperty("windowFadingDuration", 0.2);
    EXPECT_DOUBLE_EQ(windowFadingDuration(&own), 0.2);
    EXPECT_DOUBLE_EQ(windowFadingDuration(&window), 0.0);
    orderFrontAndFadeIn(&own);
    EXPECT_EQ(windowFadingStatus(&own), 1);
}

TEST(WindowFading, ClosesAfterTheNextEvent)
{
    FadingDuration duration(0);
    QWidget window;
    window.show();
    fadeOutAndCloseAfterNextEvent(&window);
    waitUntil([] { return false; }, 50);
    EXPECT_TRUE(window.isVisible()); // nothing happened yet
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }, 1000));
}

TEST(WindowPlacement, CentresOnceAndFitsTheUsableArea)
{
    QWidget window;
    window.resize(300, 200);
    setFrameAutosaveName(&window, QStringLiteral("Test Window"));
    window.show();
    window.move(0, 0);
    centerOnce(&window);
    const QRect area = visibleFrameWithExtraDockSpacing(screenForWindow(&window));
    EXPECT_NEAR(window.frameGeometry().center().x(), area.center().x(), 1);
    EXPECT_NEAR(window.frameGeometry().center().y(), area.center().y(), 1);
    EXPECT_TRUE(UserDefaults::standard().boolForKey(QStringLiteral("NSWindow+PMExtensions Centered Test Window")));
    // The second time the user's place stays.
    window.move(10, 10);
    centerOnce(&window);
    EXPECT_EQ(window.pos(), QPoint(10, 10));
    // Without a name a window is centred every time; a frameless one never.
    setFrameAutosaveName(&window, QString());
    centerOnce(&window);
    EXPECT_NE(window.pos(), QPoint(10, 10));
    QWidget frameless(nullptr, Qt::FramelessWindowHint);
    frameless.move(3, 4);
    center(&frameless);
    EXPECT_EQ(frameless.pos(), QPoint(3, 4));

    // The usable area with a dock on the left: the extra spacing moves the left edge only.
    const QRect screen(0, 0, 1600, 1000);
    const QRect visible(60, 25, 1540, 975);
    EXPECT_EQ(visibleFrameWithExtraDockSpacing(screen, visible, 20), QRect(80, 25, 1520, 975));
    // A panel at the bottom: the bottom edge moves up; the top panel is left as it is.
    EXPECT_EQ(visibleFrameWithExtraDockSpacing(screen, QRect(0, 30, 1600, 920), 20), QRect(0, 30, 1600, 900));
    EXPECT_EQ(visibleFrameWithExtraDockSpacing(screen, visible, 0), visible);
    EXPECT_DOUBLE_EQ(notchGap(screenForWindow(&window)), 0.0);
}

TEST(WindowPlacement, HeightFitsTheContent)
{
    QWidget window;
    window.setGeometry(100, 100, 300, 400);
    auto* label = new QLabel(QStringLiteral("Text"), &window);
    label->setGeometry(10, 10, 200, 30);
    auto* button = new QPushButton(QStringLiteral("OK"), &window);
    button->setGeometry(10, 150, 80, 30);
    auto* empty = new QLabel(&window); // empty labels do not count
    empty->setGeometry(10, 300, 80, 30);
    // A plain container is measured by what it holds.
    auto* box = new QWidget(&window);
    box->setGeometry(0, 100, 300, 250);
    (new QPushButton(QStringLiteral("Inner"), box))->setGeometry(0, 90, 80, 20); // bottom at 210
    EXPECT_DOUBLE_EQ(heightDifferenceNecessaryToFitSubviewsWithBottomMargin(&window, 20, nullptr, true), 400 - 210 - 20);
    // Without looking into subviews, the container counts by its own bottom edge.
    EXPECT_DOUBLE_EQ(heightDifferenceNecessaryToFitSubviewsWithBottomMargin(&window, 20, nullptr, false), 400 - 350 - 20);
    updateFrameWithHeightFittingSubviewsOfView(&window, &window, 20, false);
    EXPECT_EQ(window.geometry(), QRect(100, 100, 300, 230));
}

TEST(TitlebarAccessories, SitAtTheTopRight)
{
    QWidget window;
    window.resize(400, 300);
    window.show();
    QPushButton* button = addTitlebarButtonWithTitle(&window, QStringLiteral("Info"), QStringLiteral("showInfo"), nullptr);
    QWidget* container = titlebarAccessoryViewControllerForView(&window, button);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->geometry().right(), 399);
    EXPECT_EQ(container->y(), 0);
    EXPECT_EQ(button->y(), std::max(0, int((30 - button->height()) / 2)));
    window.resize(500, 300);
    EXPECT_EQ(container->geometry().right(), 499);
    QPointer<QWidget> view(button);
    removeAndDereferenceTitlebarView(&window, view);
    EXPECT_EQ(view, nullptr);
    EXPECT_TRUE(window.findChildren<QWidget*>(QStringLiteral("PMTitlebarAccessory")).isEmpty());
}
