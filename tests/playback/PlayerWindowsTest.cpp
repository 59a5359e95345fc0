// The player windows with real events: the movie view's picture geometry (a pixel test of
// a turned, mirrored and cut frame), its navigation areas, animation and clicks; the
// controls band's arithmetic; the floating controls' placement and snapping; the time
// slider's selection, texts and dragging.
#include "common/TestSupport.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "playback/PMPlayerWindows.h"

#include "PictureFixtures.h"

#include <QtGui/QAction>
#include <QtGui/QPainter>
#include <QtGui/QStyleHints>
#include <QtWidgets/QPushButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using platform::Dictionary;
using platform::Value;

namespace {

using picturefixtures::area;
using picturefixtures::quadrantFrame;

QColor colorAt(const QImage& image, double x, double y)
{
    return image.pixelColor(int(x), int(y));
}

} // namespace

TEST(MovieViewTest, PictureLandsWhereTurningMirroringAndCuttingPutIt)
{
    // Mirrored, then turned 90° clockwise: the 200 × 400 turned picture has, from top to
    // bottom on its left (what was the bottom row): yellow then green; on its right: blue
    // then red. The visible area keeps the upper half of the turned picture (y from 0.5 to
    // 1 counting from the bottom), and the aspect ratio 0.5 makes it 200 × 100.
    const auto g = PMMoviePictureGeometryFor(QSizeF(400, 200), QSize(400, 200), true, 90, area(0, 0.5, 1, 0.5), 0.5, QRectF(0, 0, 400, 300));
    EXPECT_EQ(g.turnedSize, QSizeF(200, 400));
    EXPECT_EQ(g.shownSize, QSizeF(200, 100));
    EXPECT_EQ(g.destination, QRectF(0, 50, 400, 200));

    auto content = std::make_shared<PMPlayerViewContent>();
    content->movieReplacingImage = platform::Image::make(quadrantFrame());
    content->flipsHorizontally = true;
    content->angle = 90;
    content->visibleArea = area(0, 0.5, 1, 0.5);
    content->aspectRatio = 0.5;
    PMMovieView view;
    view.resize(400, 300);
    view.setContent(content);
    const QImage shot = view.grab().toImage();
    // Bars of the view's background above and below the picture.
    EXPECT_NEAR(colorAt(shot, 200, 20).red(), 237, 1);
    EXPECT_NEAR(colorAt(shot, 200, 280).blue(), 237, 1);
    // The upper half of the turned picture: yellow on the left, blue on the right.
    EXPECT_EQ(colorAt(shot, 100, 150), QColor(Qt::yellow));
    EXPECT_EQ(colorAt(shot, 300, 150), QColor(Qt::blue));
    EXPECT_EQ(colorAt(shot, 100, 60), QColor(Qt::yellow));
    EXPECT_EQ(colorAt(shot, 300, 240), QColor(Qt::blue));
}

TEST(MovieViewTest, TurningWithoutMirroringAndHalfTurns)
{
    struct Case {
        bool flip;
        int angle;
        QColor topLeft, topRight;
    } cases[] = {
        {false, 0, Qt::red, Qt::blue},   {true, 0, Qt::blue, Qt::red},      {false, 180, Qt::yellow, Qt::green},
        {false, 90, Qt::green, Qt::red}, {false, 270, Qt::blue, Qt::yellow}, {true, 270, Qt::red, Qt::green},
    };
    for (const Case& k : cases) {
        const QImage frame = quadrantFrame();
        const auto g = PMMoviePictureGeometryFor(QSizeF(frame.size()), frame.size(), k.flip, k.angle, nullptr, std::nullopt, QRectF(0, 0, 800, 800));
        QImage out(800, 800, QImage::Format_RGB32);
        out.fill(Qt::black);
        QPainter p(&out);
        p.setTransform(g.transform);
        p.drawImage(0, 0, frame);
        p.end();
        const QRectF d = g.destination;
        EXPECT_EQ(colorAt(out, d.x() + 5, d.y() + 5), k.topLeft) << k.flip << " " << k.angle;
        EXPECT_EQ(colorAt(out, d.right() - 5, d.y() + 5), k.topRight) << k.flip << " " << k.angle;
    }
}

TEST(MovieViewTest, NavigationAreaTable)
{
    PMNavigationAreaState s;
    s.previousEnabled = s.nextEnabled = s.playPauseEnabled = true;
    s.playPauseArea = true;
    const QSizeF size(400, 300);
    struct Case {
        QPointF p;
        bool split;
        double areaSize;
        int expected;
    } cases[] = {
        {{10, 150}, false, 50, 1},   // left edge
        {{395, 150}, false, 50, 2},  // right edge
        {{200, 150}, false, 50, 3},  // middle
        {{150, 10}, false, 50, 1},   // top strip, left half (split at the middle)
        {{250, 10}, false, 50, 2},   // top strip, right half
        {{150, 10}, true, 50, 2},    // top strip split at the size: right of 50 is next
        {{30, 10}, true, 50, 1},
        {{10, 150}, false, 0, 3},    // size 0: only the default area
        {{-1, 150}, false, 50, 0},   // outside
    };
    for (const Case& k : cases) {
        s.splitTopStripAtSize = k.split;
        s.size = k.areaSize;
        EXPECT_EQ(PMNavigationAreaAt(k.p, size, s), k.expected) << k.p.x() << "," << k.p.y();
    }
    // A still image with a next item: the whole picture advances unless playing with the
    // play/pause area.
    s.size = 50;
    s.showsStillImage = true;
    EXPECT_EQ(PMNavigationAreaAt({200, 150}, size, s), 2);
    s.isPlaying = true;
    EXPECT_EQ(PMNavigationAreaAt({200, 150}, size, s), 3);
    s.playPauseArea = false;
    s.showsStillImage = false;
    EXPECT_EQ(PMNavigationAreaAt({200, 150}, size, s), 0);
}

TEST(MovieViewTest, PointerOverTheFloatingControlsGivesNoArea)
{
    PMMovieView view;
    view.resize(400, 300);
    view.show();
    QAbstractButton* none = nullptr;
    (void)none;
    QWidget over(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    over.setGeometry(QRect(view.mapToGlobal(QPoint(0, 0)), QSize(400, 300)));
    over.show();
    view.childWindows = [&over] { return QList<QWidget*>{&over}; };
    const QPointF p(200, 150);
    view.updateNavigationAreaWithEvent(&p, view.window());
    EXPECT_EQ(view.navigationArea(), 0);
}

TEST(MovieViewTest, AnimationIndexWrapsAndOneFrameNeverAnimates)
{
    auto content = std::make_shared<PMPlayerViewContent>();
    QImage a(10, 10, QImage::Format_RGB32), b(10, 10, QImage::Format_RGB32), c(10, 10, QImage::Format_RGB32);
    a.fill(Qt::red);
    b.fill(Qt::green);
    c.fill(Qt::blue);
    auto image = platform::Image::make(a);
    image->associatedAnimationFrames = {{a, 0.05}, {b, 0.05}, {c, 0.05}};
    content->movieReplacingImage = image;
    PMMovieView view;
    view.setContent(content);
    EXPECT_TRUE(view.canAnimateMovieReplacingImage()); // -1 wraps to the last frame
    EXPECT_EQ(view.currentMovieReplacingImageAnimationFrame(), 2);
    EXPECT_TRUE(view.seekToMovieReplacingImageAnimationFrameWithDelta(1)); // 3 wraps to 0
    EXPECT_TRUE(view.canAnimateMovieReplacingImage());
    EXPECT_EQ(view.currentMovieReplacingImageAnimationFrame(), 0);
    view.setAnimatesMovieReplacingImage(true);
    EXPECT_TRUE(view.animatesMovieReplacingImage());
    EXPECT_TRUE(testsupport::waitUntil([&] { return view.currentMovieReplacingImageAnimationFrame() != 0; }));
    view.setAnimatesMovieReplacingImage(false);

    auto single = platform::Image::make(a);
    single->associatedAnimationFrames = {{a, 0.05}};
    content->movieReplacingImage = single;
    view.contentDidChange();
    view.setAnimatesMovieReplacingImage(true);
    EXPECT_FALSE(view.animatesMovieReplacingImage());
    EXPECT_EQ(view.currentMovieReplacingImageAnimationFrame(), -1);
}

TEST(MovieViewTest, DoubleClickTogglesPresentationAndKeepsThePlayState)
{
    for (const bool playingAtStart : {true, false}) {
        bool playing = playingAtStart;
        int toggles = 0;
        PMMovieView view;
        view.resize(400, 300);
        view.isPlaying = [&] { return playing; };
        view.play = [&] { playing = true; };
        view.pause = [&] { playing = false; };
        view.togglePresentation = [&] { ++toggles; };
        QPushButton playPause;
        view.setPlayPauseSwitch(&playPause);
        platform::UserDefaults::standard().setObject(Value(true), QStringLiteral("Navigation Area: Play/Pause"));
        view.show();
        const QPoint middle(200, 150);
        QTest::mouseDClick(&view, Qt::LeftButton, {}, middle);
        // That the first click's timer, stopped by the second, never toggles playback: the
        // view's timer is a plain one, out of the steered clock's reach, so a wait past its
        // time shows it.
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 60);
        EXPECT_EQ(toggles, 1);
        EXPECT_EQ(playing, playingAtStart);

        // A single click toggles playback once the double-click time has passed.
        QTest::mouseClick(&view, Qt::LeftButton, {}, middle);
        EXPECT_TRUE(testsupport::waitUntil([&] { return playing == !playingAtStart; }));
        EXPECT_EQ(toggles, 1);
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Navigation Area: Play/Pause"));
    }
}

TEST(PlayerWindowTest, ControlsBandShiftsTheContainer)
{
    // Bottom-up frames: y is the bottom edge.
    const QRectF frame(0, 0, 800, 600);
    EXPECT_EQ(PMPlayerContainerFrameForControlsPosition(frame, 0, -1), QRectF(0, 61, 800, 539));   // added below
    EXPECT_EQ(PMPlayerContainerFrameForControlsPosition(frame, 0, 1), QRectF(0, 0, 800, 539));     // added above
    EXPECT_EQ(PMPlayerContainerFrameForControlsPosition(QRectF(0, 61, 800, 539), -1, 1), QRectF(0, 0, 800, 539)); // moved
    EXPECT_EQ(PMPlayerContainerFrameForControlsPosition(QRectF(0, 61, 800, 539), -1, 0), QRectF(0, 0, 800, 600)); // removed
    EXPECT_EQ(PMPlayerContainerFrameForControlsPosition(frame, 1, 1), frame);

    // In a window (top-down geometry): a band below keeps the top and shortens the container.
    PMPlayerWindow window;
    window.resize(800, 600);
    auto* container = new QWidget(&window);
    container->setGeometry(0, 0, 800, 600);
    window.setPlayerContainer(container);
    window.setPlayerContainer(new QWidget(&window)); // refused: the first stays
    EXPECT_EQ(window.playerContainer(), container);
    window.adjustPlayerContainerFrameWithPlaybackControlsPosition(-1);
    EXPECT_EQ(container->geometry(), QRect(0, 0, 800, 539));
    window.adjustPlayerContainerFrameWithPlaybackControlsPosition(1);
    EXPECT_EQ(container->geometry(), QRect(0, 61, 800, 539));
    EXPECT_EQ(window.playbackControlsPosition(), 1);
}

TEST(PlayerWindowTest, KeysGoToTheControllerFirst)
{
    PMPlayerWindow window;
    int handled = 0;
    window.keyDownHandler = [&](QKeyEvent* e) { return e->key() == Qt::Key_Space && ++handled; };
    window.show();
    QTest::keyClick(&window, Qt::Key_Space);
    QTest::keyClick(&window, Qt::Key_A); // not the controller's: the window's own handling
    EXPECT_EQ(handled, 1);

    bool presenting = false, canToggle = false;
    window.isPresenting = [&] { return presenting; };
    window.canTogglePresentation = [&] { return canToggle; };
    QAction item;
    EXPECT_FALSE(window.validateFullScreenItem(&item));
    EXPECT_EQ(item.text(), QStringLiteral("Enter Full Screen"));
    presenting = canToggle = true;
    EXPECT_TRUE(window.validateFullScreenItem(&item));
    EXPECT_EQ(item.text(), QStringLiteral("Exit Full Screen"));
}

TEST(PlaybackControlsTest, FloatingPlacementAndSnapping)
{
    const QRectF R(100, 100, 1000, 600);
    bool canMove = false;
    PMControlsPlacement centre;
    QRectF f = PMFloatingControlsFrame(R, false, centre, &canMove);
    EXPECT_TRUE(canMove);
    EXPECT_EQ(f, QRectF(100 + 200, 100 + 15 + std::floor(0.05 * (600 - 64 - 30)), 600, 64));
    // Titled in a presentation window.
    EXPECT_EQ(PMFloatingControlsFrame(R, true, centre, &canMove).height(), 81);
    // Too small to move: a full-width 64-point bar at the bottom.
    EXPECT_EQ(PMFloatingControlsFrame(QRectF(0, 0, 560, 400), false, centre, &canMove), QRectF(0, 0, 560, 64));
    EXPECT_FALSE(canMove);
    // Stored fractions outside 0..1 are clamped.
    PMControlsPlacement wild{QStringLiteral("7"), QStringLiteral("-3")};
    f = PMFloatingControlsFrame(R, false, wild, &canMove);
    EXPECT_EQ(f.x(), 100 + 15 + (1000 - 600 - 30));
    EXPECT_EQ(f.y(), 100 + 15);

    struct Case {
        QRectF proposed;
        QString x, y;
        QRectF expected;
    } cases[] = {
        {{300, 100.5, 600, 64}, "Center", "Bottom", {100, 100, 1000, 64}},
        {{300, 114, 600, 64}, "Center", "Bottom Gap", {300, 115, 600, 64}},
        {{300, 700 - 64 - 0.5, 600, 64}, "Center", "Top", {100, 636, 1000, 64}},
        {{310, 300, 600, 64}, "Center", "0.365613", {300, 300, 600, 64}},
        {{105, 300, 600, 64}, "Left Gap", "0.365613", {115, 300, 600, 64}},
        {{490, 300, 600, 64}, "Right Gap", "0.365613", {485, 300, 600, 64}},
    };
    for (const Case& k : cases) {
        PMControlsPlacement p;
        const QRectF out = PMRasterControlsFrame(k.proposed, R, &p);
        EXPECT_EQ(out, k.expected) << k.x.toStdString() << " " << k.y.toStdString();
        EXPECT_EQ(p.x, k.x);
        EXPECT_EQ(p.y, k.y);
    }
    // A presentation screen exactly as high as the titled bar and its two gaps leaves no
    // room between them: the bar stands at the fraction 0, and no "nan" is stored.
    PMControlsPlacement p;
    const QRectF tight(100, 100, 1000, 81 + 30);
    EXPECT_EQ(PMRasterControlsFrame({300, 115, 600, 81}, tight, &p), QRectF(300, 115, 600, 81));
    EXPECT_EQ(p.y, QStringLiteral("0.000000"));
    EXPECT_EQ(PMFloatingControlsFrame(tight, true, p, &canMove).y(), 115);
}

TEST(PlaybackControlsTest, TimeSliderSelectionAndTexts)
{
    PMMovieTimeSlider slider;
    slider.resize(400, 23);
    // No movie view: the duration is the 0.1 s of "nothing shown".
    slider.setSelectionStartTimeValue(12);
    EXPECT_EQ(slider.selectionStartTimeValue(), 12);
    EXPECT_DOUBLE_EQ(slider.selectionEndTimeValue(), slider.durationValue()); // to the end
    slider.invalidateSelection();
    slider.setSelectionEndTimeValue(5);
    EXPECT_EQ(slider.selectionStartTimeValue(), 0); // from the beginning
    slider.setSelectionStartTimeValue(3);
    slider.setSelectionEndTimeValue(3.0001);
    EXPECT_EQ(slider.selectionRectInRect(QRectF(0, 0, 400, 23), 100).width(), 1); // never thinner than a point
    EXPECT_EQ(slider.selectionRectInRect(QRectF(0, 0, 400, 23), 100).x(), 12);

    EXPECT_EQ(PMTimeSliderTextsFor(100, 10, false, 400, {}, {}).right, QStringLiteral("-1:30"));
    EXPECT_EQ(PMTimeSliderTextsFor(100, 99.6, false, 400, {}, {}).right, QString()); // last half second
    EXPECT_EQ(PMTimeSliderTextsFor(100, 10, true, 400, {}, {}).right, QStringLiteral("1:40"));
    EXPECT_EQ(PMTimeSliderTextsFor(0, 0, false, 249, QStringLiteral("3 of 9"), QStringLiteral("10 × 10")).left, QString());
    EXPECT_EQ(PMTimeSliderTextsFor(0, 0, false, 250, QStringLiteral("3 of 9"), QStringLiteral("10 × 10")).left, QStringLiteral("3 of 9"));
}

TEST(PlaybackControlsTest, DraggingTheTimeSliderPausesAndResumes)
{
    struct Case {
        float rate;
        float resumed;
    } cases[] = {{2.0f, 2.0f}, {0.5f, 1.0f}, {0.0f, -99.0f}};
    for (const Case& k : cases) {
        PMMovieTimeSlider slider;
        slider.resize(400, 23);
        float rate = k.rate, resumedAt = -99;
        int pauses = 0;
        std::vector<double> seeks;
        slider.playerRate = [&] { return rate; };
        slider.playerIsPaused = [&] { return rate == 0; };
        slider.pausePlayer = [&] { ++pauses, rate = 0; };
        slider.playAtRate = [&](float r) { resumedAt = r; };
        slider.seek = [&](double s) { seeks.push_back(s); };
        slider.show();
        QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(100, 10));
        EXPECT_TRUE(slider.isTracking());
        QTest::mouseMove(&slider, QPoint(200, 10));
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(200, 10));
        EXPECT_FALSE(slider.isTracking());
        EXPECT_EQ(pauses, k.rate != 0 ? 1 : 0);
        EXPECT_EQ(resumedAt, k.resumed);
        ASSERT_FALSE(seeks.empty());
        EXPECT_NEAR(seeks.back(), 0.05, 1e-9); // half of the 0.1 s of an empty slider
    }
}

TEST(PlayerWindowTest, ANewPlayerWindowIsBlackBeforeItsFirstFrame)
{
    PMDedicatedPlayerWindow window;
    window.resize(320, 200);
    // Nothing inside yet (the movie view and its surface come later): black, not whatever
    // lay behind the window.
    const QImage shot = window.grab().toImage();
    for (const QPoint& at : {QPoint(5, 5), QPoint(160, 100), QPoint(315, 195)})
        EXPECT_EQ(shot.pixelColor(at), QColor(Qt::black)) << at.x() << "," << at.y();
}
