// Where the player goes (the dedicated window, the main window's player container, the
// presentation window) through the real controller, the titles that follow it, the fast
// buttons of short movies and closing the player.
#include "library/model/ModelFixture.h"

#include "platform/DelayedPerform.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "playback/PMPlayerWindowGeometry.h"
#include "playback/PMPlayerWindows.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QHBoxLayout>

#include "common/MediaFixtures.h"
#include "PlaybackTestSupport.h"

#include <QtCore/QFile>
#include <QtTest/QTest>

using platform::Value;
namespace fx = testsupport::media;
using testsupport::waitUntil;

namespace {

class PlayerPlacementTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        testsupport::preparePlaybackController();
        PMMainController& c = mainController();
        m_a = PMMovieRepresentationOriginal::movieRepresentationWithPath(fx::fixtures().numbered());
        m_a->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("A"));
        m_group = folder(QStringLiteral("F"), {Value(m_a)});
        library({Value(m_group)});

        // A stand-in for the library window: a window with a player container beside the
        // library's side.
        m_main = new QWidget;
        auto* layout = new QHBoxLayout(m_main);
        layout->setContentsMargins(0, 0, 0, 40);
        layout->setSpacing(0);
        auto* side = new QWidget;
        side->setFixedWidth(250);
        layout->addWidget(side);
        m_container = new PMPlayerContainerView;
        layout->addWidget(m_container, 1);
        m_main->resize(700, 500);
        c._mainWindow = m_main;
        c.installPlayerWindows();
    }
    void TearDown() override
    {
        testsupport::releasePlaybackController();
        PMMainController& c = mainController();
        delete c._dedicatedPlayerWindow.data();
        delete m_main.data();
        c.playerView = nullptr;
        ModelTest::TearDown();
    }
    static void setSingleWindowMode(bool on) { platform::UserDefaults::standard().setBool(on, QStringLiteral("Single Window Mode")); }

    PMMovieRepresentationOriginalPtr m_a;
    PMLibraryContainerPtr m_group;
    QPointer<QWidget> m_main;
    QPointer<PMPlayerContainerView> m_container;
};

} // namespace

TEST_F(PlayerPlacementTest, PlacementMatrix)
{
    PMMainController& c = mainController();
    QWidget* dedicated = c._dedicatedPlayerWindow;
    struct Case {
        bool single, presenting, movie;
        bool showsPlayer, computesGroupContent;
        QWidget* window; // where the movie view ends up (nullptr: where it was)
    } cases[] = {
        {false, false, true, false, true, dedicated},
        {false, false, false, false, true, nullptr},
        {false, true, true, false, true, nullptr},
        {false, true, false, false, true, nullptr},
        {true, false, true, true, false, m_main},
        {true, false, false, false, true, nullptr},
        {true, true, true, true, true, nullptr},
        {true, true, false, false, true, nullptr},
    };
    for (const Case& k : cases) {
        const std::string name = std::to_string(k.single) + std::to_string(k.presenting) + std::to_string(k.movie);
        // Each case starts from the movie view in the dedicated window, shown.
        setSingleWindowMode(false);
        c._isPresenting = false;
        c._currentMovieRepresentation = Value(m_a);
        c.updatePlayerPlacement();
        dedicated->show();
        ASSERT_EQ(c.playerWindow(), dedicated) << name;

        setSingleWindowMode(k.single);
        c._isPresenting = k.presenting;
        c._currentMovieRepresentation = k.movie ? Value(m_a) : Value();
        const PMMainController::PlayerPlacement p = c.updatePlayerPlacement();
        EXPECT_EQ(p.showsPlayer, k.showsPlayer) << name;
        EXPECT_EQ(p.computesGroupContent, k.computesGroupContent) << name;
        EXPECT_EQ(c.playerWindow(), k.window ? k.window : dedicated) << name;
        // The dedicated window shows only for a movie outside single window mode and
        // presentation; the main window's player container only while it shows the player.
        EXPECT_EQ(dedicated->isVisible(), !k.single && !k.presenting && k.movie) << name;
        EXPECT_EQ(m_container->isVisibleTo(m_main), k.showsPlayer) << name;
    }
    c._isPresenting = false;
    dedicated->hide();
}

TEST_F(PlayerPlacementTest, PlaysInTheMainWindowAndInItsOwn)
{
    PMMainController& c = mainController();
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    ASSERT_TRUE(view);
    m_main->show();

    // Single window mode: the movie plays in the main window's container, whose title is
    // the movie's name; the dedicated window stays hidden.
    setSingleWindowMode(true);
    ASSERT_TRUE(c.chooseMovieRepresentation(Value(m_a), false, false, true, false));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable; }, 10000));
    EXPECT_EQ(c.playerWindow(), m_main.data());
    EXPECT_TRUE(m_container->isAncestorOf(view));
    EXPECT_FALSE(c._dedicatedPlayerWindow->isVisible());
    EXPECT_EQ(m_main->windowTitle(), QStringLiteral("A"));
    // The main window keeps its place: it grows to the right only (the library keeps its
    // side), and sizing for a player size changes only the player area's share.
    const QRect before = m_main->geometry();
    const int containerWidth = m_container->width();
    c.resizeWindow(nullptr, QSizeF(containerWidth + 50, 300), false);
    EXPECT_EQ(m_main->geometry().x(), before.x());
    EXPECT_EQ(m_main->width(), before.width() + 50);
    EXPECT_EQ(m_main->geometry().top(), before.top()) << "the top edge stays";

    // Ending the movie shows the library again.
    c.chooseNoMovie();
    EXPECT_FALSE(m_container->isVisibleTo(m_main));
    EXPECT_EQ(m_main->windowTitle(), QStringLiteral("Pellis"));

    // Outside single window mode the movie plays in its own window, sized to the movie:
    // without a stored width it keeps the player area's width and takes the movie's
    // proportions.
    setSingleWindowMode(false);
    ASSERT_TRUE(c.chooseMovieRepresentation(Value(m_a), false, false, true, false));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && c._dedicatedPlayerWindow->isVisible(); }, 10000));
    EXPECT_EQ(c.playerWindow(), c._dedicatedPlayerWindow.data());
    const QSizeF natural = c.currentPictureNaturalSize();
    ASSERT_FALSE(natural.isEmpty());
    ASSERT_TRUE(waitUntil([&] {
        return std::abs(view->height() - view->width() * natural.height() / natural.width()) <= 1.5;
    }, 5000)) << view->width() << "x" << view->height() << " for " << natural.width() << "x" << natural.height() << " in "
               << c._dedicatedPlayerWindow->width() << "x" << c._dedicatedPlayerWindow->height() << " on "
               << screenForWindow(c._dedicatedPlayerWindow)->availableGeometry().width() << "x"
               << screenForWindow(c._dedicatedPlayerWindow)->availableGeometry().height() << " band " << platform::UserDefaults::standard().integerForKey(QStringLiteral("Window Playback Controls"));
    EXPECT_EQ(c._dedicatedPlayerWindow->windowTitle(), QStringLiteral("A"));
    EXPECT_EQ(m_main->windowTitle(), QStringLiteral("Pellis"));

    // Resized by the user, the window shows the ratio for a moment; with the lock on it
    // takes the picture's proportions once the user lets go, and remembers the width.
    QWidget* own = c._dedicatedPlayerWindow;
    QTest::qWait(600);
    own->resize(own->width() - 100, own->height());
    EXPECT_TRUE(waitUntil([&] { return !c._aspectRatioText.isEmpty(); }, 2000));
    EXPECT_TRUE(c._aspectRatioText.endsWith(QStringLiteral(":1")));
    EXPECT_TRUE(waitUntil([&] { return !c._aspectRatioWindow || !c._aspectRatioWindow->isVisible(); }, 2000)) << "the read-out closes soon";
    c.setAspectRatioLocked(true);
    QTest::qWait(600);
    own->resize(700, own->height() + 40);
    EXPECT_TRUE(waitUntil([&] { return view->width() == 700 && std::abs(view->height() - 700 * natural.height() / natural.width()) <= 1; }, 3000))
        << view->width() << "x" << view->height();
    EXPECT_EQ(platform::UserDefaults::standard().doubleForKey(QStringLiteral("Player Width")), 700);
    c.setAspectRatioLocked(false);

    // Presenting moves the movie view into a full-screen window of its own and back.
    c.togglePresentation();
    EXPECT_TRUE(c._isPresenting);
    QWidget* presentation = c.playerWindow();
    ASSERT_TRUE(presentation && presentation != c._dedicatedPlayerWindow.data() && presentation != m_main.data());
    EXPECT_TRUE(waitUntil([&] { return presentation->isFullScreen(); }, 2000));
    c.togglePresentation();
    EXPECT_FALSE(c._isPresenting);
    EXPECT_EQ(c.playerWindow(), c._dedicatedPlayerWindow.data());

    // Closing the dedicated window ends the movie, and the window closes: a refused close
    // would cancel a quit that closes every window.
    EXPECT_TRUE(c._dedicatedPlayerWindow->close());
    EXPECT_TRUE(c._currentMovieRepresentation.isNull());
    EXPECT_FALSE(c._dedicatedPlayerWindow->isVisible());
}

TEST(PlaybackControlsTest, FastButtonsLeaveShortMoviesAndStillImages)
{
    struct Case {
        bool still, playable;
        double duration;
        bool shows;
    } cases[] = {
        {false, true, 600, true}, {false, true, 5, true},   {false, true, 4.9, false},
        {false, true, 0, false},  {true, true, 600, false}, {false, false, 600, false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(PMPlaybackControlView::showsFastButtons(k.still, k.playable, k.duration), k.shows) << k.still << k.playable << k.duration;

    // Hiding them moves previous and next inwards by their own widths; showing them again
    // moves them back.
    PMPlaybackControlView bar;
    bar.resize(600, 61);
    bar.show();
    const int previous = bar.previousButton()->x(), next = bar.nextButton()->x();
    bar.setShowsFastButtons(false);
    EXPECT_TRUE(bar.windBackwardButton()->isHidden());
    EXPECT_FALSE(bar.windForwardButton()->isEnabled());
    EXPECT_EQ(bar.previousButton()->x(), previous + bar.previousButton()->width());
    EXPECT_EQ(bar.nextButton()->x(), next - bar.nextButton()->width());
    bar.setShowsFastButtons(true);
    EXPECT_FALSE(bar.windBackwardButton()->isHidden());
    EXPECT_EQ(bar.previousButton()->x(), previous);
    EXPECT_EQ(bar.nextButton()->x(), next);
}

TEST(WindowSizingTest, SizeStringsReadBackAndRefuseGarbage)
{
    EXPECT_EQ(PMStringFromSize(QSizeF(800, 450.5)), QStringLiteral("{800, 450.5}"));
    EXPECT_EQ(*PMSizeFromString(QStringLiteral("{800, 450.5}")), QSizeF(800, 450.5));
    EXPECT_EQ(*PMSizeFromString(QStringLiteral(" {12,34} ")), QSizeF(12, 34));
    for (const char* bad : {"", "800x450", "{800}", "{a, b}", "{nan, 3}", "{-4, 3}", "{1, 2, 3}"})
        EXPECT_FALSE(PMSizeFromString(QString::fromLatin1(bad))) << bad;
}

TEST(PlaybackControlsTest, SideControlsStepAsideNearTheTransport)
{
    // A wide bar shows the presentation toggle, the lock and the volume; a narrow one hides
    // whatever would come within 22 points of the transport group.
    PMPlaybackControlView bar;
    bar.resize(700, 61);
    bar.show();
    EXPECT_TRUE(bar.presentationSwitch()->isVisible());
    EXPECT_TRUE(bar.aspectRatioLockSwitch()->isVisible());
    EXPECT_TRUE(bar.volumeSlider()->isVisible());
    bar.resize(250, 61);
    testsupport::runQueuedWork(); // the layout the resize asked for
    EXPECT_FALSE(bar.aspectRatioLockSwitch()->isVisible());
    EXPECT_FALSE(bar.volumeSlider()->isVisible());
    // Asked to hide, the lock stays hidden however wide the bar is.
    bar.resize(700, 61);
    bar.setShowsAspectRatioLockSwitch(false);
    EXPECT_FALSE(bar.aspectRatioLockSwitch()->isVisible());
    EXPECT_TRUE(bar.presentationSwitch()->isVisible());
    bar.setPresenting(true);
    EXPECT_EQ(bar.presentationSwitch()->toolTip(), QStringLiteral("Exit Full Screen"));
}

TEST_F(PlayerPlacementTest, PointerMovementAndTheHoverPriority)
{
    PMMainController& c = mainController();
    c._currentMovieRepresentation = Value(m_a);
    c.updatePlayerPlacement();
    QWidget* window = c._dedicatedPlayerWindow;
    window->setGeometry(100, 100, 400, 300);
    window->show();
    window->activateWindow();
    if (!waitUntil([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }, 1000))
        GTEST_SKIP() << "the platform never activates the application";
    const QPoint inside = window->frameGeometry().center();
    const QPoint elsewhere = window->frameGeometry().bottomRight() + QPoint(50, 50);
    struct Case {
        int priority;
        bool inside, elsewhere;
    } cases[] = {{0, false, false}, {1, true, false}, {2, true, true}};
    auto& d = platform::UserDefaults::standard();
    for (const Case& k : cases) {
        d.setInteger(k.priority, QStringLiteral("Hover Playback Controls Priority"));
        EXPECT_EQ(c.showWindowChromeAndPlaybackControlsByFadingIn(false, &inside), k.inside) << k.priority;
        EXPECT_EQ(c.showWindowChromeAndPlaybackControlsByFadingIn(false, &elsewhere), k.elsewhere) << k.priority;
    }
    // Without an event (the pointer over the picture itself) the controls always come.
    d.setInteger(0, QStringLiteral("Hover Playback Controls Priority"));
    EXPECT_TRUE(c.showWindowChromeAndPlaybackControlsByFadingIn(false, nullptr));

    // Real pointer moves reach it with their place: a move beside the window brings the
    // controls back only where the priority allows it.
    auto moveTo = [&](QPoint global) {
        QMouseEvent move(QEvent::MouseMove, QPointF(window->mapFromGlobal(global)), QPointF(global), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &move);
    };
    c._playbackControlsAreVisible = false;
    moveTo(elsewhere);
    EXPECT_FALSE(c._playbackControlsAreVisible) << "priority 0";
    d.setInteger(2, QStringLiteral("Hover Playback Controls Priority"));
    moveTo(elsewhere);
    EXPECT_TRUE(c._playbackControlsAreVisible) << "priority 2";
    d.removeObjectForKey(QStringLiteral("Hover Playback Controls Priority"));
    window->hide();
}

TEST_F(PlayerPlacementTest, HoveringControlsFadeInAndOut)
{
    PMMainController& c = mainController();
    auto& d = platform::UserDefaults::standard();
    d.setInteger(0, QStringLiteral("Window Playback Controls"));
    c._currentMovieRepresentation = Value(m_a);
    c.updatePlayerPlacement();
    QWidget* window = c._dedicatedPlayerWindow;
    window->setGeometry(100, 100, 400, 300);
    window->show();
    auto* controls = window->findChild<PMPlaybackControlWindow*>();
    ASSERT_TRUE(controls);
    c.hidePlaybackControlWindow();
    ASSERT_TRUE(waitUntil([&] { return !controls->isVisible(); }, 5000));
    // Fading in: shown at once, transparent at first, then at full strength.
    c.showPlaybackControlsByFadingIn(true);
    EXPECT_TRUE(controls->isVisible());
    EXPECT_LT(controls->windowOpacity(), 0.9);
    EXPECT_TRUE(waitUntil([&] { return controls->windowOpacity() > 0.99; }, 5000));
    // Hiding fades out before the window goes.
    c.hidePlaybackControlWindow();
    EXPECT_TRUE(controls->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !controls->isVisible(); }, 5000));
    // Without a fade, at once.
    c.showPlaybackControlsByFadingIn(false);
    EXPECT_DOUBLE_EQ(controls->windowOpacity(), 1.0);
    d.removeObjectForKey(QStringLiteral("Window Playback Controls"));
    window->hide();
}

TEST_F(PlayerPlacementTest, HoveringControlsNeverFloatOverTheGrid)
{
    PMMainController& c = mainController();
    auto& d = platform::UserDefaults::standard();
    d.setInteger(0, QStringLiteral("Window Playback Controls"));
    d.setInteger(2, QStringLiteral("Hover Playback Controls Priority"));
    setSingleWindowMode(true);
    m_main->setGeometry(100, 100, 700, 500);
    m_main->show();
    auto* controls = m_main->window()->findChild<PMPlaybackControlWindow*>();
    if (!controls)
        controls = c._dedicatedPlayerWindow->findChild<PMPlaybackControlWindow*>();
    ASSERT_TRUE(controls);
    // A fresh start: no movie, the library window shows its grid.
    c.showPlaybackControlsByFadingIn(false);
    EXPECT_FALSE(controls->isVisible()) << "no movie";

    // A movie in the library window: the controls float over it.
    c._currentMovieRepresentation = Value(m_a);
    c.updatePlayerPlacement();
    ASSERT_TRUE(m_container->isVisible());
    c.showPlaybackControlsByFadingIn(false);
    EXPECT_TRUE(controls->isVisible());

    // The grid takes the player's place (the movie stays the current one): the controls go,
    // and neither a request nor the pointer brings them back over the grid.
    m_container->hide();
    EXPECT_FALSE(controls->isVisible()) << "gone with the picture";
    c.showPlaybackControlsByFadingIn(false);
    const QPoint inside = m_main->frameGeometry().center();
    c.showWindowChromeAndPlaybackControlsByFadingIn(false, &inside);
    EXPECT_FALSE(controls->isVisible()) << "nothing to float over";

    // The picture back: so are the controls.
    m_container->show();
    c.showPlaybackControlsByFadingIn(false);
    EXPECT_TRUE(controls->isVisible());
    c._currentMovieRepresentation = Value();
    setSingleWindowMode(false);
    d.removeObjectForKey(QStringLiteral("Window Playback Controls"));
    d.removeObjectForKey(QStringLiteral("Hover Playback Controls Priority"));
    m_main->hide();
}

TEST_F(PlayerPlacementTest, ClosingTheLibraryWindowHidesItWhileAPlayerRemains)
{
    PMMainController& c = mainController();
    auto& d = platform::UserDefaults::standard();
    m_main->setWindowTitle(QStringLiteral("Pellis"));
    m_main->show();
    QWidget* player = c._dedicatedPlayerWindow;
    player->setWindowTitle(QStringLiteral("A"));
    player->show();
    // A player remains: the library window only hides, unless the user asked otherwise.
    EXPECT_FALSE(c.closingWindowEndsProgram(m_main));
    d.setBool(true, QStringLiteral("Quit On Close"));
    EXPECT_TRUE(c.closingWindowEndsProgram(m_main));
    d.removeObjectForKey(QStringLiteral("Quit On Close"));
    // The last window shown: nothing would be left to reach the program by.
    player->hide();
    EXPECT_TRUE(c.closingWindowEndsProgram(m_main));
    // Never while files are being moved into the library.
    c._numberOfRemainingItemsMovingToLibraryFolder = 1;
    EXPECT_FALSE(c.closingWindowEndsProgram(m_main));
    c._numberOfRemainingItemsMovingToLibraryFolder = 0;
    m_main->hide();
}

TEST_F(PlayerPlacementTest, AClickOnTheTimeBarOfTheBandSeeksThere)
{
    PMMainController& c = mainController();
    auto& d = platform::UserDefaults::standard();
    d.setInteger(-1, QStringLiteral("Window Playback Controls")); // a fixed band below the movie
    ASSERT_TRUE(c.chooseMovieRepresentation(Value(m_a), false, false, false, false));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && c._dedicatedPlayerWindow->isVisible(); }, 10000));
    PMMovieTimeSlider* bar = nullptr;
    for (auto* slider : c._dedicatedPlayerWindow->findChildren<PMMovieTimeSlider*>())
        if (slider->isVisible())
            bar = slider;
    ASSERT_TRUE(bar) << "the band's time bar shows";
    const PMPlayerPtr& player = c.playerViewContent().moviePlayer;
    ASSERT_TRUE(player);
    const double duration = player->duration();
    ASSERT_GT(duration, 1.0);
    // A click (no drag) three quarters along the bar, which reaches the band's edges.
    const QPoint at(int(bar->width() * 0.75 + bar->x() * 0.5), bar->height() / 2);
    QTest::mouseClick(bar, Qt::LeftButton, {}, at);
    const double wanted = (at.x() + bar->x()) / (bar->width() + 2.0 * bar->x()) * duration;
    EXPECT_TRUE(waitUntil([&] { return std::abs(player->currentTime() - wanted) < 0.3; }, 5000))
        << player->currentTime() << " for " << wanted;
    d.removeObjectForKey(QStringLiteral("Window Playback Controls"));
    c._dedicatedPlayerWindow->hide();
}

TEST_F(PlayerPlacementTest, TheClosedLibraryWindowComesBackWhenThePlayerGoes)
{
    PMMainController& c = mainController();
    QWidget* player = c._dedicatedPlayerWindow;
    player->setWindowTitle(QStringLiteral("A"));
    player->show();
    // The user closed the library window while the movie played.
    m_main->setWindowTitle(QStringLiteral("Pellis"));
    m_main->setProperty(kPMLibraryWindowClosedProperty, true);
    m_main->hide();
    // The movie ends: the player goes, and the library window is back.
    player->hide();
    EXPECT_TRUE(waitUntil([&] { return m_main->isVisible(); }, 2000));
    EXPECT_FALSE(m_main->property(kPMLibraryWindowClosedProperty).toBool());
    // A library window that was never closed by the user stays as it is.
    m_main->hide();
    player->show();
    player->hide();
    QTest::qWait(50);
    EXPECT_FALSE(m_main->isVisible());
}

TEST_F(PlayerPlacementTest, ScaleCommandsSizeThePlayer)
{
    PMMainController& c = mainController();
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    ASSERT_TRUE(view);
    setSingleWindowMode(false);
    ASSERT_TRUE(c.chooseMovieRepresentation(Value(m_a), false, false, true, false));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && c._dedicatedPlayerWindow->isVisible(); }, 10000));
    const QSizeF natural = c.currentPictureNaturalSize();
    ASSERT_FALSE(natural.isEmpty());

    // Presets and half steps size the picture to its natural size (64 points wide) times
    // the scale.
    const auto widthIs = [&](double scale) {
        return waitUntil([&] { return std::abs(view->width() - scale * natural.width()) <= 1; }, 3000);
    };
    c.setScale(400);
    EXPECT_TRUE(widthIs(4)) << view->width();
    EXPECT_EQ(c._currentScaleTitle, QStringLiteral("Current Size: 400%"));
    c.increaseScale();
    EXPECT_DOUBLE_EQ(c._currentMagnification, 4.5);
    EXPECT_TRUE(widthIs(4.5)) << view->width();
    for (const double expected : {4.0, 3.5, 3.0, 2.5, 2.0}) {
        c.decreaseScale();
        EXPECT_DOUBLE_EQ(c._currentMagnification, expected);
    }
    // At 2.0 the window is at its smallest width (153 points): a further step cannot shrink
    // it, so the scale stays.
    ASSERT_TRUE(waitUntil([&] { return view->width() == 153; }, 3000)) << view->width();
    c.decreaseScale();
    EXPECT_DOUBLE_EQ(c._currentMagnification, 2.0);
    EXPECT_DOUBLE_EQ(c._currentMagnificationQuantum, 2.0);

    // Presenting refuses scale commands and leaves the scale as it was.
    const double before = c._currentMagnification;
    c.togglePresentation();
    ASSERT_TRUE(c._isPresenting);
    c.increaseScale();
    c.setScale(200);
    EXPECT_DOUBLE_EQ(c._currentMagnification, before);
    // A double click on the picture alternates filling and fitting the screen.
    const qint64 mode = platform::UserDefaults::standard().integerForKey(QStringLiteral("Presentation Mode"));
    c.togglePresentationFromPicture(2);
    EXPECT_TRUE(c._isPresenting);
    EXPECT_NE(platform::UserDefaults::standard().integerForKey(QStringLiteral("Presentation Mode")) == 1, mode == 1);
    c.togglePresentationFromPicture(3);
    EXPECT_FALSE(c._isPresenting);
}
