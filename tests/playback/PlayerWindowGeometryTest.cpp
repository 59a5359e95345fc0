// The arithmetic of the player's windows: resizing for a player size (the floors, growth
// about the centre, the shift at the right screen edge), the zoom frame with and without
// the aspect-ratio lock, live resizing with the lock, and the presentation picture.
#include "playback/PMPlayerWindowGeometry.h"

#include <gtest/gtest.h>

namespace {

// A window of 800 × 500 whose player area is 800 × 440 (a 60-point band below it), on a
// screen whose visible frame is 1600 × 1000 from the origin.
PMResizeWindowRequest request(QSizeF wanted)
{
    PMResizeWindowRequest r;
    r.frame = QRectF(400, 300, 800, 500);
    r.container = QSizeF(800, 440);
    r.containerY = 60;
    r.wanted = wanted;
    r.visible = QRectF(0, 0, 1600, 1000);
    return r;
}

} // namespace

TEST(ResizeWindowTest, Arithmetic)
{
    struct Case {
        const char* name;
        QRectF frame;
        QSizeF wanted;
        bool isMainWindow, isMainWindowSize, resizeFromLeft;
        QRectF expected;
    } cases[] = {
        // 100 × 50 is raised to 153 × 100: 647 narrower, 340 lower, the top edge kept
        // (800), the window of its own shrinking about its centre (x + 323).
        {"floor", {400, 300, 800, 500}, {100, 50}, false, false, false, {723, 640, 153, 160}},
        // Grown by 200 points: it moves 100 points left and 40 points down.
        {"centre", {400, 300, 800, 500}, {1000, 480}, false, false, false, {300, 260, 1000, 540}},
        {"from left", {400, 300, 800, 500}, {1000, 480}, false, false, true, {400, 260, 1000, 540}},
        {"main window", {400, 300, 800, 500}, {1000, 480}, true, false, false, {400, 260, 1000, 540}},
        // A main window size counts the height from the window's bottom: 440 + 60 is
        // already 500, so the height stays.
        {"main window size", {400, 300, 800, 500}, {800, 500}, true, true, false, {400, 300, 800, 500}},
        // At the right edge it shifts left so that it ends at the visible right edge...
        {"right edge", {700, 300, 800, 500}, {1000, 440}, false, false, true, {600, 300, 1000, 500}},
        // ...but never past the visible left edge.
        {"left edge", {700, 300, 800, 500}, {2000, 440}, false, false, true, {0, 300, 2000, 500}},
        // Lower than the screen: it starts at the visible bottom and keeps its height...
        {"bottom", {400, 100, 800, 500}, {800, 840}, false, false, false, {400, 0, 800, 900}},
        // ...or gets the visible height when it does not fit.
        {"too high", {400, 100, 800, 500}, {800, 1400}, false, false, false, {400, 0, 800, 1000}},
    };
    for (const Case& k : cases) {
        PMResizeWindowRequest r = request(k.wanted);
        r.frame = k.frame;
        r.isMainWindow = k.isMainWindow;
        r.isMainWindowSize = k.isMainWindowSize;
        r.resizeFromLeft = k.resizeFromLeft;
        EXPECT_EQ(PMResizedWindowFrame(r), k.expected) << k.name;
    }
}

TEST(ResizeWindowTest, TooHighPlayerWindowTakesTheZoomFrame)
{
    PMResizeWindowRequest r = request({800, 1400});
    r.frame = QRectF(400, 100, 800, 500);
    r.resizeFromLeft = true;
    r.zoomFrame = [] { return QRectF(450, 0, 700, 1000); };
    EXPECT_EQ(PMResizedWindowFrame(r), QRectF(450, 0, 700, 1000));
    // A zoom frame narrower than the floor gives the floor's width, the visible height.
    r.zoomFrame = [] { return QRectF(450, 20, 100, 900); };
    EXPECT_EQ(PMResizedWindowFrame(r), QRectF(450, 0, 153, 1000));
}

TEST(ZoomFrameTest, WithAndWithoutTheLock)
{
    const QRectF wide(0, 0, 2000, 1000), narrow(0, 0, 1000, 1000);
    const QRectF frame(100, 200, 800, 500);
    const QSizeF container(800, 440);
    const QSizeF hd(1920, 1080);

    // A still image or audio: the visible frame, no player width.
    PMZoomFrame z = PMPlayerWindowZoomFrame(wide, frame, container, std::nullopt, true, true);
    EXPECT_EQ(z.frame, wide);
    EXPECT_FALSE(z.playerWidth);

    // Without the lock: the whole visible frame, the player as wide as it leaves.
    z = PMPlayerWindowZoomFrame(wide, frame, container, hd, false, true);
    EXPECT_EQ(z.frame, wide);
    EXPECT_EQ(*z.playerWidth, 2000);

    // Locked on a wide screen: the picture fills the visible height (940 points of player,
    // 1671 wide) and the window is centred horizontally.
    z = PMPlayerWindowZoomFrame(wide, frame, container, hd, true, true);
    EXPECT_EQ(*z.playerWidth, 1671);
    EXPECT_EQ(z.frame, QRectF(165, 0, 1671, 1000)); // (2000 - 1671) / 2 = 164.5, rounded
    // Not centred it keeps its left edge.
    EXPECT_EQ(PMPlayerWindowZoomFrame(wide, frame, container, hd, true, false).frame, QRectF(100, 0, 1671, 1000));

    // Locked on a narrow screen: the picture fills the visible width (1000 wide, 563
    // high), centred vertically...
    z = PMPlayerWindowZoomFrame(narrow, frame, container, hd, true, true);
    EXPECT_EQ(*z.playerWidth, 1000);
    EXPECT_EQ(z.frame, QRectF(0, 189, 1000, 623)); // 563 + 60, (1000 - 623) / 2 rounded
}

TEST(ZoomFrameTest, NarrowScreenKeepsTheTopEdgeWhenNotCentred)
{
    const QRectF frame(100, 200, 800, 500);
    const PMZoomFrame z = PMPlayerWindowZoomFrame(QRectF(0, 0, 1000, 1000), frame, QSizeF(800, 440), QSizeF(1920, 1080), true, false);
    EXPECT_EQ(z.frame.y() + z.frame.height(), 700);
    EXPECT_EQ(z.frame.width(), 1000);
}

TEST(LiveResizeTest, LockedRatioKeepsTheFloorsAndTheScreen)
{
    const QRectF frame(100, 400, 800, 500); // top edge at 900
    const QSizeF container(800, 440);
    const QSizeF hd(1600, 900);
    // Unlocked: the size stays as proposed.
    PMLiveResize r = PMPlayerWindowWillResize({900, 300}, frame, container, hd, false, 0, 200);
    EXPECT_EQ(r.size, QSizeF(900, 300));
    EXPECT_EQ(r.playerWidth, 900);
    // Locked: the height follows the width (900 wide → 506 high + 60).
    r = PMPlayerWindowWillResize({900, 300}, frame, container, hd, true, 0, 200);
    EXPECT_EQ(r.size, QSizeF(900, 566));
    EXPECT_DOUBLE_EQ(r.magnification, 900.0 / 1600);
    // So small that the picture would be lower than 100: 100 high (178 wide).
    r = PMPlayerWindowWillResize({120, 100}, frame, container, hd, true, 0, 100);
    EXPECT_EQ(r.size, QSizeF(178, 160));
    // A tall picture 100 high would be narrower than 153: 153 wide, its height following
    // (1530) but shortened to end at the visible bottom (top at 900: 840 of player).
    r = PMPlayerWindowWillResize({100, 100}, frame, container, QSizeF(100, 1000), true, 0, 100);
    EXPECT_EQ(r.size, QSizeF(153, 900));
    EXPECT_EQ(r.playerWidth, 153);
    // Below the window's minimum width the width is raised to it.
    r = PMPlayerWindowWillResize({120, 100}, frame, container, hd, true, 0, 300);
    EXPECT_EQ(r.size, QSizeF(300, 169 + 60));
    // Larger than the screen allows below: the picture is shortened to end at the visible
    // bottom (the top at 900, the visible bottom at 300: 540 of player).
    r = PMPlayerWindowWillResize({1400, 300}, frame, container, hd, true, 300, 200);
    EXPECT_EQ(r.size.height(), 600);
    EXPECT_EQ(r.size.width(), 960);
}

TEST(PresentationTest, FillingAndFittingTheScreen)
{
    const QSizeF screen(1600, 1000); // 16:10
    const QSizeF movie(1920, 1080);  // 16:9
    // Mode 1 fills the height and crops left and right.
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 0, 0, 1, movie), QRectF(-89, 0, 1778, 1000));
    // Any other mode fits the whole picture: the width, with bars above and below.
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 0, 0, 0, movie), QRectF(0, 50, 1600, 900));
    // A portrait picture fitted shows bars left and right; filled it crops top and bottom.
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 0, 0, 0, QSizeF(500, 1000)), QRectF(550, 0, 500, 1000));
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 0, 0, 1, QSizeF(500, 1000)), QRectF(0, -1100, 1600, 3200));
    // A band below lifts the picture area by 62 points; one above only shortens it; the
    // camera gap shortens it too.
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 0, -1, 0, movie), QRectF(0, 62 + 19, 1600, 900));
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 0, 1, 0, movie), QRectF(0, 19, 1600, 900));
    EXPECT_EQ(*PMPresentationPictureFrame(screen, 38, 0, 1, movie), QRectF(-55, 0, 1710, 962));
    EXPECT_FALSE(PMPresentationPictureFrame(screen, 0, 0, 1, QSizeF()));
}

TEST(PresentationTest, ScaleSteps)
{
    struct Step {
        double from;
        bool up;
        double to;
    } steps[] = {
        {1.0, true, 1.5}, {1.5, true, 2.0}, {1.2, true, 1.5}, {0.5, true, 1.0}, {1.99, true, 2.0},
        {1.0, false, 0.5}, {2.0, false, 1.5}, {1.2, false, 1.0}, {0.5, false, 0.5}, {0.6, false, 0.5},
    };
    for (const Step& s : steps)
        EXPECT_DOUBLE_EQ(PMNextMagnificationStep(s.from, s.up), s.to) << s.from << (s.up ? " up" : " down");
}
