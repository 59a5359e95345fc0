// The overlay windows: where they go, that they neither take the focus nor the pointer,
// and what the full-screen message window draws (veil, aperture, guide lines, message)
// and how its pointer loop ends.
#include "playback/PMOverlayWindows.h"

#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtCore/QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

// The window's drawing into an image of its size, bottom-up as its content view draws.
QImage render(PMSelfDrawingOverlayWindow& window, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(0, size.height());
    painter.scale(1, -1);
    window.drawOverlayInBounds(painter, QRectF(QPointF(0, 0), QSizeF(size)), nullptr);
    return image;
}

int alphaAt(const QImage& image, int x, int yFromBottom)
{
    return qAlpha(image.pixel(x, image.height() - 1 - yFromBottom));
}

} // namespace

TEST(OverlayWindowsTest, OverlaysLetThePointerThroughAndNeverTakeTheFocus)
{
    QWidget front;
    front.resize(300, 200);
    front.show();
    front.activateWindow();
    std::unique_ptr<PMSelfDrawingOverlayWindow> overlay(PMSelfDrawingOverlayWindow::overlayWindowWithFrame(QRect(10, 20, 200, 100), 3, true));
    EXPECT_FALSE(overlay->isVisible()); // made hidden
    EXPECT_TRUE(overlay->windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_TRUE(overlay->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(overlay->canBecomeKeyWindow());
    ASSERT_TRUE(overlay->contentView());
    EXPECT_TRUE(overlay->contentView()->isFlipped());
    // The window system is told never to give it the focus, nor on showing.
    EXPECT_TRUE(overlay->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_ShowWithoutActivating));
    overlay->show();
    EXPECT_EQ(overlay->contentView()->size(), QSize(200, 100));
    overlay->resize(300, 120);
    EXPECT_EQ(overlay->contentView()->size(), QSize(300, 120)); // the content follows
    // Closing hides it; the owner's reference frees it.
    overlay->close();
    EXPECT_FALSE(overlay->isVisible());

    // The default drawing: a light frame around a faint veil.
    const QImage image = render(*overlay, QSize(40, 30));
    EXPECT_NEAR(alphaAt(image, 0, 15), 242, 2);
    EXPECT_NEAR(alphaAt(image, 20, 15), 33, 2);
}

TEST(OverlayWindowsTest, MessageWindowCoversTheScreenOfItsView)
{
    QWidget view;
    view.resize(200, 100);
    view.show();
    std::unique_ptr<PMFullScreenMessageWindow> window(PMFullScreenMessageWindow::fullscreenWindowWithMessage(QStringLiteral("Hi"), &view, 0.5, nullptr));
    EXPECT_EQ(window->geometry(), view.screen()->geometry());
    EXPECT_EQ(window->level(), 999);
    EXPECT_EQ(window->mouseLocation, QPointF(-10, -10));
    EXPECT_NEAR(window->windowOpacity(), 0.5, 0.01);
    EXPECT_EQ(window->maximumMessageHeight, -1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowTransparentForInput);
    // With a handler it takes the pointer.
    std::unique_ptr<PMFullScreenMessageWindow> tracking(
        PMFullScreenMessageWindow::fullscreenWindowWithMessage(QString(), nullptr, 0.2, [](PMFullScreenMessageWindow*) {}));
    EXPECT_FALSE(tracking->windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_EQ(tracking->tintColor(), QColor::fromRgbF(0.4f, 0.2f, 0.0f, 1.0f));
}

TEST(OverlayWindowsTest, VeilApertureAndGuideLines)
{
    std::unique_ptr<PMFullScreenMessageWindow> window(PMFullScreenMessageWindow::fullscreenWindowWithMessage(QString()));
    window->resize(400, 300);
    window->storedTintColor = QColor(255, 0, 0);
    window->mouseLocation = QPointF(-10, -10);
    // No aperture: everything veiled.
    QImage image = render(*window, QSize(400, 300));
    EXPECT_EQ(QColor(image.pixel(200, 150)), QColor(255, 0, 0));
    // The aperture stays clear and gets a solid frame in the aperture colour.
    window->apertureFrame = QRectF(100, 50, 200, 100);
    window->apertureColor = QColor(0, 0, 255);
    image = render(*window, QSize(400, 300));
    EXPECT_EQ(alphaAt(image, 200, 100), 0);
    EXPECT_EQ(QColor(image.pixel(50, 150)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(image.pixel(100, 300 - 1 - 100)), QColor(0, 0, 255)); // left edge
    // An aperture equal to everything leaves no veil.
    window->apertureFrame = QRectF(0, 0, 400, 300);
    image = render(*window, QSize(400, 300));
    EXPECT_EQ(alphaAt(image, 200, 150), 0);

    // Guide lines: 2:1 inside a 200 × 200 aperture puts lines at 50 and 149 from its bottom;
    // a ratio whose band lies within 5 points of the sides draws none.
    window->apertureColor.reset();
    window->apertureFrame = QRectF(100, 50, 200, 200);
    window->noteworthyApertureAspectRatios = {2.0};
    image = render(*window, QSize(400, 300));
    bool lineAt = false;
    for (int x = 110; x < 290; ++x)
        lineAt = lineAt || alphaAt(image, x, 50 + 50) > 0;
    EXPECT_TRUE(lineAt);
    window->noteworthyApertureAspectRatios = {1.04};
    image = render(*window, QSize(400, 300));
    bool anyInside = false;
    for (int y = 60; y < 240; ++y)
        for (int x = 110; x < 290; x += 7)
            anyInside = anyInside || alphaAt(image, x, y) > 0;
    EXPECT_FALSE(anyInside);
}

TEST(OverlayWindowsTest, MessageOnlyInTargetsLargeEnough)
{
    std::unique_ptr<PMFullScreenMessageWindow> window(PMFullScreenMessageWindow::fullscreenWindowWithMessage(QStringLiteral("WWWW")));
    window->storedTintColor = QColor(0, 0, 0, 0);
    window->apertureColor = QColor(0, 255, 0);
    const auto inked = [&](QRectF aperture) {
        window->apertureFrame = aperture;
        const QImage image = render(*window, QSize(400, 300));
        int count = 0;
        for (int y = int(aperture.y()) + 2; y < int(aperture.bottom()) - 2; ++y)
            for (int x = int(aperture.x()) + 2; x < int(aperture.right()) - 2; ++x)
                count += alphaAt(image, x, y) > 0;
        return count;
    };
    EXPECT_GT(inked(QRectF(100, 100, 200, 60)), 0);
    EXPECT_EQ(inked(QRectF(100, 100, 50, 60)), 0);
    EXPECT_EQ(inked(QRectF(100, 100, 200, 15)), 0);
}

TEST(OverlayWindowsTest, PointerLoopEndsAtAClickWithItsPlace)
{
    int moves = 0;
    std::unique_ptr<PMFullScreenMessageWindow> window(
        PMFullScreenMessageWindow::fullscreenWindowWithMessage(QString(), nullptr, 0.2, [&](PMFullScreenMessageWindow*) { ++moves; }));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // From within the loop: the pointer moves until the window has seen a move, then clicks.
    QTimer driver;
    int ticks = 0;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (moves == 0) {
            QTest::mouseMove(window.get(), QPoint(40 + ticks++ % 2, 50));
        } else {
            driver.stop();
            QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(60, 70));
        }
    });
    driver.start(10);
    EXPECT_EQ(window->nextMouseEvent(), QEvent::MouseButtonPress);
    EXPECT_GE(moves, 1);
    EXPECT_NEAR(window->mouseLocation.x(), 60, 1);
    EXPECT_NEAR(window->mouseLocation.y(), window->height() - 70, 1);
}
