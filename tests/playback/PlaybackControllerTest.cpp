// Choosing and playing through the real controller and player (null audio, software
// picture): readiness, counting, the playlist, still and animated images, proxies,
// failures, the end of playback with looping and continuation, the transport rules,
// volume, position memory and the default application.
#include "library/model/ModelFixture.h"

#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include "common/MediaFixtures.h"
#include "PlaybackTestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QImage>
#include <QtGui/QStyleHints>
#include <QtTest/QTest>

using platform::Array;
using platform::Value;
using platform::media::Player;
namespace fx = testsupport::media;
using testsupport::waitUntil;

namespace {

class PlaybackTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        testsupport::preparePlaybackController();
        PMMainController& c = mainController();
        platform::setAlertHandler([this](const platform::Alert& alert) {
            m_alerts << alert.messageText;
            return platform::AlertResponse{m_alertAnswer, false};
        });
        c._startApplicationOverride = [this](const QString& program, const QStringList& arguments) {
            m_started << (QStringList{program} + arguments);
            return true;
        };
        const auto& f = fx::fixtures();
        m_a = record(f.numbered(), QStringLiteral("A"));
        m_b = record(f.rotated(), QStringLiteral("B"));
        m_group = folder(QStringLiteral("F"), {Value(m_a), Value(m_b)});
        library({Value(m_group)});
    }
    void TearDown() override
    {
        testsupport::releasePlaybackController();
        platform::setAlertHandler(nullptr);
        ModelTest::TearDown();
    }
    static PMMovieRepresentationOriginalPtr record(const QString& path, const QString& name)
    {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        m->userSettings()->setValue(QStringLiteral("Name"), name);
        return m;
    }
    static bool choose(const Value& movie, bool play = true, bool byContinuing = false)
    {
        return mainController().chooseMovieRepresentation(movie, false, false, play, byContinuing);
    }
    static PMPlayerPtr player() { return mainController().playerViewContent().moviePlayer; }
    static bool waitPlayable() { return waitUntil([] { return mainController()._currentMovieIsPlayable; }, 10000); }
    // Seeks the current movie and waits until it stands there.
    static void seek(double seconds)
    {
        player()->seekToTime(seconds);
        waitUntil([] { return !player()->isSeeking(); });
    }
    static QString longClip()
    {
        const QString path = fx::fixtures().dir() + QStringLiteral("/long.mp4");
        if (!QFile::exists(path))
            fx::makeNumberedClip(path, 60);
        return path;
    }

    PMMovieRepresentationOriginalPtr m_a, m_b;
    PMLibraryContainerPtr m_group;
    QStringList m_alerts;
    QList<QStringList> m_started;
    int m_alertAnswer = 0;
};

TEST_F(PlaybackTest, ChoosingPlaysOnceReadyAndCountsOnce)
{
    PMMainController& c = mainController();
    ASSERT_TRUE(choose(Value(m_a)));
    EXPECT_EQ(c._currentMovieRepresentation.objectPointer(), m_a.get());
    ASSERT_TRUE(waitPlayable());
    EXPECT_TRUE(c.isPlayingMovie());
    EXPECT_TRUE(c._currentMovieHasVideo);
    EXPECT_FALSE(c._currentMovieHasAudio);
    EXPECT_EQ(m_a->counter(), 1u);
    EXPECT_EQ(c.lastWatchedMovieRepresentations()->count(), 1);
    EXPECT_EQ(c.temporaryStorage()->rawChildren()->count(), 0) << "a library item is no playlist item";

    // Choosing it again neither counts again nor adds a second entry.
    ASSERT_TRUE(choose(Value(m_a)));
    ASSERT_TRUE(waitPlayable());
    EXPECT_EQ(m_a->counter(), 1u);
    EXPECT_EQ(c.lastWatchedMovieRepresentations()->count(), 1);

    // Online items and items without a file are refused.
    EXPECT_FALSE(choose(Value()));
    EXPECT_FALSE(choose(Value(PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl()))));
}

TEST_F(PlaybackTest, AnItemFromOutsideGoesToThePlaylist)
{
    PMMainController& c = mainController();
    const auto outside = record(fx::fixtures().tagged(), QStringLiteral("Outside"));
    ASSERT_TRUE(choose(Value(outside)));
    const platform::ArrayPtr playlist = c.temporaryStorage()->rawChildren();
    ASSERT_EQ(playlist->count(), 1);
    EXPECT_EQ(playlist->at(0).objectPointer(), outside.get());
    EXPECT_EQ(outside->counter(), 1u);
    EXPECT_TRUE(waitPlayable());

    c.clearPlaylist();
    EXPECT_EQ(c.temporaryStorage()->rawChildren()->count(), 0);
    EXPECT_TRUE(c._currentMovieRepresentation.isNull()) << "the playing playlist item went with it";
}

TEST_F(PlaybackTest, StillImagesAndAnimations)
{
    PMMainController& c = mainController();
    const QString stillPath = fx::fixtures().dir() + QStringLiteral("/still.png");
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(stillPath));
    const auto still = record(stillPath, QStringLiteral("Still"));
    const auto next = record(fx::fixtures().numbered(), QStringLiteral("Next"));
    m_group->rawChildren()->append(Value(still));
    m_group->rawChildren()->append(Value(next));
    c.invalidateLibraryDependencies();

    // A plain still image chosen with playback does not start a slideshow.
    ASSERT_TRUE(choose(Value(still)));
    PMPlayerViewContent& view = c.playerViewContent();
    EXPECT_FALSE(view.moviePlayer);
    ASSERT_TRUE(view.movieReplacingImage);
    EXPECT_TRUE(c._currentMovieIsPlayable);
    EXPECT_FALSE(c.isPlaying());
    EXPECT_TRUE(c._nextMovieRepresentation.isNull());
    EXPECT_TRUE(waitUntil([&] { return !view.showsQuickImage; }));
    EXPECT_EQ(view.movieReplacingImage->pixels().size(), QSize(40, 30));
    // Pressing play starts one after the image's time.
    mainController().play();
    EXPECT_TRUE(c.isPlaying());
    EXPECT_FALSE(c._nextMovieRepresentation.isNull());
    c.pause();
    EXPECT_TRUE(c._nextMovieRepresentation.isNull());
    EXPECT_FALSE(c.isPlaying());

    // An animation shown as an image (conversion off) animates.
    PMSetConvertsAnimatedImagesToMovies(false);
    const auto gif = record(fx::fixtures().gif(), QStringLiteral("Animation"));
    gif->setDuration(2);
    ASSERT_TRUE(choose(Value(gif)));
    EXPECT_FALSE(view.moviePlayer);
    EXPECT_TRUE(view.animatesMovieReplacingImage);
    EXPECT_TRUE(c.isPlaying());
    EXPECT_TRUE(c._nextMovieRepresentation.isNull());

    // With conversion on, the animation shows as an image while it is converted, and
    // plays as a movie once that is done; the main thread never waits for it.
    PMSetConvertsAnimatedImagesToMovies(true);
    PMAutoConvertedAssetsPurge(std::nullopt);
    const auto converted = record(fx::fixtures().gif(), QStringLiteral("Converted"));
    ASSERT_TRUE(choose(Value(converted)));
    EXPECT_TRUE(view.movieReplacingImage || view.moviePlayer);
    EXPECT_TRUE(waitUntil([&] { return view.moviePlayer && c._currentMovieIsPlayable; }, 15000));
    EXPECT_EQ(c._currentMovieRepresentation.objectPointer(), converted.get());
    // A converted movie removed with the cache is converted again.
    PMAutoConvertedAssetsPurge(std::nullopt);
    EXPECT_FALSE(PMAutoConvertedAssetIsAvailable(converted->uniqueLibraryID()));
    PMSetConvertsAnimatedImagesToMovies(false);
}

TEST_F(PlaybackTest, ASearchProxyResolvesToTheSelectedContainersChild)
{
    PMMainController& c = mainController();
    c._selectedLibraryItems = Array::make({Value(m_group)});
    const auto proxy = m_b->searchResultProxy();
    ASSERT_TRUE(choose(Value(proxy), false));
    EXPECT_EQ(c._currentMovieRepresentation.objectPointer(), m_b.get());
    EXPECT_EQ(c.temporaryStorage()->rawChildren()->count(), 0);
}

TEST_F(PlaybackTest, AFailingFileIsReportedOnce)
{
    PMMainController& c = mainController();
    const auto broken = record(fx::fixtures().truncated(), QStringLiteral("Broken"));
    m_group->rawChildren()->append(Value(broken));
    c.invalidateLibraryDependencies();
    for (bool fallBack : {false, true}) {
        m_alerts.clear();
        setDefault(QStringLiteral("Fall Back To Default Application"), fallBack);
        ASSERT_TRUE(choose(Value(broken)));
        EXPECT_TRUE(waitUntil([&] { return c._currentMovieRepresentation.isNull(); }, 10000));
        QTest::qWait(200);
        // No application on this machine opens it: the user hears of it once.
        EXPECT_EQ(m_alerts.size(), 1) << fallBack;
        EXPECT_FALSE(c._currentMovieIsPlayable);
    }
    // In the program's words, not the decoder's.
    QString explanation;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        explanation = alert.informativeText;
        return platform::AlertResponse{0, false};
    });
    setDefault(QStringLiteral("Fall Back To Default Application"), false);
    ASSERT_TRUE(choose(Value(broken)));
    EXPECT_TRUE(waitUntil([&] { return !explanation.isEmpty(); }, 10000));
    EXPECT_EQ(explanation, QStringLiteral("The file is damaged or is not a movie."));
    // A file that went away, or that cannot be read, is said so.
    EXPECT_EQ(PMPlaybackFailureExplanation(testsupport::testHome() + QStringLiteral("/gone.mp4")), QStringLiteral("The file is no longer there."));
}

TEST_F(PlaybackTest, TheEndLoopsContinuesOrEnds)
{
    PMMainController& c = mainController();
    // A 3-second clip with a loop threshold of 5 plays again from the start.
    setDefault(QStringLiteral("Playback End: Loop Threshold"), 5);
    ASSERT_TRUE(choose(Value(m_a)));
    ASSERT_TRUE(waitPlayable());
    seek(2.7);
    EXPECT_TRUE(waitUntil([&] { return player()->currentTime() < 1.0 && c.isPlayingMovie(); }, 5000));
    EXPECT_EQ(c._currentMovieRepresentation.objectPointer(), m_a.get());

    // Without looping it continues with the next movie of the group.
    setDefault(QStringLiteral("Playback End: Loop Threshold"), 0);
    seek(2.7);
    EXPECT_TRUE(waitUntil([&] { return c._currentMovieRepresentation.objectPointer() == m_b.get(); }, 5000));
    EXPECT_TRUE(c._currentMovieIsContinuing);
    ASSERT_TRUE(waitPlayable());
    EXPECT_TRUE(c.isPlayingMovie());

    // The last movie of the group ends by selecting the group.
    seek(2.7);
    EXPECT_TRUE(waitUntil([&] { return c._currentMovieRepresentation.isNull(); }, 5000));
    ASSERT_EQ(c._selectedLibraryItems->count(), 1);
    EXPECT_EQ(c._selectedLibraryItems->at(0).objectPointer(), m_group.get());
}

TEST_F(PlaybackTest, ContinueRules)
{
    PMMainController& c = mainController();
    EXPECT_TRUE(PMShouldLoop(5, 3.0));
    EXPECT_FALSE(PMShouldLoop(5, 0.0)) << "an unknown duration never loops";
    EXPECT_FALSE(PMShouldLoop(0, 3.0));
    EXPECT_FALSE(PMShouldLoop(3, 3.0));

    auto smart = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Smart")}, {QStringLiteral("Smart"), true}});
    auto subdivision = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Part")}, {QStringLiteral("Smart"), true},
                                                 {QStringLiteral("Subdivision"), QStringLiteral("Year")}});
    const auto inSmart = record(fx::fixtures().numbered(), QStringLiteral("In Smart"));
    const auto inSubdivision = record(fx::fixtures().numbered(), QStringLiteral("In Subdivision"));
    c.smartGroupStorage()->rawChildren()->append(Value(smart));
    c.invalidateLibraryDependencies();
    // What populating the smart group puts into it (a rebuild empties it again).
    smart->rawChildren()->append(Value(inSmart));
    subdivision->rawChildren()->append(Value(inSubdivision));
    smart->rawChildren()->append(Value(subdivision));
    const auto outside = record(fx::fixtures().numbered(), QStringLiteral("Nowhere"));

    struct Case {
        Value continueValue; // the smart group's "Continue"
        bool doNotContinue;  // "Do Not Continue With Next Group Movie"
        bool group, smartChild, subdivisionChild;
    };
    const Case cases[] = {
        {Value(), false, true, true, true},
        {Value(), true, false, false, false},
        {Value(false), false, true, false, false},
        {Value(true), true, false, true, true},
        {Value(QStringLiteral("no")), false, true, true, true}, // not a boolean: the general rule
    };
    for (const Case& k : cases) {
        if (k.continueValue.isNull())
            smart->remove(QStringLiteral("Continue"));
        else
            smart->setValue(QStringLiteral("Continue"), k.continueValue);
        setDefault(QStringLiteral("Do Not Continue With Next Group Movie"), k.doNotContinue);
        EXPECT_EQ(c.shouldContinueAfterMovieRepresentation(Value(m_a)), k.group) << k.continueValue.description().toStdString();
        EXPECT_EQ(c.shouldContinueAfterMovieRepresentation(Value(inSmart)), k.smartChild) << k.continueValue.description().toStdString();
        EXPECT_EQ(c.shouldContinueAfterMovieRepresentation(Value(inSubdivision)), k.subdivisionChild) << k.continueValue.description().toStdString();
        EXPECT_FALSE(c.shouldContinueAfterMovieRepresentation(Value(outside)));
    }
}

TEST_F(PlaybackTest, RatesAndWinding)
{
    const PMRateAbilities all{true, true, true}, forwardOnly{false, false, true}, none{};
    struct RateCase {
        float r;
        PMRateAbilities abilities;
        std::optional<float> reverse, doubleSpeed;
        float windBack, windForward;
    };
    const RateCase cases[] = {
        {-2.0f, all, 2.0f, -1.0f, -2.0f, -1.0f},
        {-2.0f, none, 1.0f, 0.0f, -2.0f, 1.0f}, // double speed from -2 without reverse pauses
        {-1.0f, all, 1.0f, -2.0f, -2.0f, 1.0f},
        {-1.0f, none, 1.0f, std::nullopt, -1.0f, 1.0f},
        {0.0f, all, -1.0f, 2.0f, -1.0f, 2.0f},
        {1.0f, all, -1.0f, 2.0f, -1.0f, 2.0f},
        {1.0f, forwardOnly, std::nullopt, 2.0f, 1.0f, 2.0f},
        {1.0f, none, std::nullopt, std::nullopt, 1.0f, 1.0f},
        {2.0f, all, -2.0f, 1.0f, 1.0f, 2.0f},
        {2.0f, PMRateAbilities{true, false, true}, -1.0f, 1.0f, 1.0f, 2.0f},
        {2.0f, forwardOnly, std::nullopt, 1.0f, 1.0f, 2.0f},
    };
    for (const RateCase& k : cases) {
        EXPECT_EQ(PMRateForPlayReverse(k.r, k.abilities), k.reverse) << k.r;
        EXPECT_EQ(PMRateForDoubleSpeed(k.r, k.abilities), k.doubleSpeed) << k.r;
        EXPECT_EQ(PMRateForWinding(false, k.r, k.abilities), k.windBack) << k.r;
        EXPECT_EQ(PMRateForWinding(true, k.r, k.abilities), k.windForward) << k.r;
    }

    // Three forward winds within 2 s with growing steps: 10, 15, 22.5, each at most half
    // of what is left.
    PMWindingRun run;
    double t = 0, maximum = 200;
    const double expected[] = {10, 15, 22.5};
    for (double e : expected) {
        const double step = PMWindingStep(true, 10, run, true, t, maximum);
        EXPECT_DOUBLE_EQ(step, e);
        t += step;
        run = {true, 0.5, step};
    }
    EXPECT_DOUBLE_EQ(PMWindingStep(true, 10, {true, 0.5, 22.5}, true, 170, 200), 15) << "half of the 30 s left";
    EXPECT_DOUBLE_EQ(PMWindingStep(true, 10, {true, 2.5, 22.5}, true, 0, 200), 10) << "a pause ends the run";
    EXPECT_DOUBLE_EQ(PMWindingStep(true, 10, {true, 0.5, 22.5}, false, 0, 200), 10);
    EXPECT_DOUBLE_EQ(PMWindingStep(false, 10, {true, 0.5, -15}, true, 4, 200), -10) << "never less than the interval";
    EXPECT_DOUBLE_EQ(PMWindingStep(false, 10, {true, 0.5, 15}, true, 100, 200), -10) << "a turn starts over";
}

TEST_F(PlaybackTest, TransportOnAPlayingMovie)
{
    PMMainController& c = mainController();
    ASSERT_TRUE(choose(Value(m_a), false));
    ASSERT_TRUE(waitPlayable());
    EXPECT_FALSE(c.isPlaying());
    // Play at the very end starts over.
    seek(2.95);
    c.play();
    EXPECT_TRUE(c.isPlayingMovie());
    EXPECT_TRUE(waitUntil([&] { return player()->currentTime() < 1.0; }));
    c.playAtDoubleSpeed();
    EXPECT_EQ(player()->rate(), 2.0f);
    c.playAtDoubleSpeed();
    EXPECT_EQ(player()->rate(), 1.0f);
    c.pause();
    EXPECT_FALSE(c.isPlaying());

    // Winding by frames and by steps moves the slider and the player.
    seek(1.0);
    EXPECT_NEAR(player()->currentTime(), 1.0, 1e-3);
    c.windForward(true, true, false);
    EXPECT_NEAR(c.timeSlider.currentTime, 1.1, 1e-6);
    EXPECT_TRUE(waitUntil([&] { return fx::decodeFrameNumber(player()->currentFrame().convertToFormat(QImage::Format_RGB32)) == 11; }));
    setDefault(QStringLiteral("Step Interval"), 1);
    c.windBackward();
    EXPECT_NEAR(c.timeSlider.currentTime, 0.1, 1e-6);
    c.windBackward();
    EXPECT_EQ(c.timeSlider.currentTime, 0.0) << "never before the start";

    // The time display redraws only when its text changes.
    c.updateTimeDisplay(&c);
    const int repaints = c._timeDisplayRepaints;
    c.updateTimeDisplay(&c);
    c.updateTimeDisplay(&c);
    EXPECT_EQ(c._timeDisplayRepaints, repaints);
}

TEST_F(PlaybackTest, VolumeAndMute)
{
    PMMainController& c = mainController();
    ASSERT_TRUE(choose(Value(m_a), false));
    ASSERT_TRUE(waitPlayable());
    EXPECT_EQ(c.volume(), 1.0f);
    c.changeVolume(0.6f);
    EXPECT_FLOAT_EQ(c.volume(), 0.6f);
    EXPECT_TRUE(waitUntil([&] { return std::fabs(player()->volume() - 0.6f) < 1e-3; }));
    c.mute();
    EXPECT_EQ(c.volumeSlider.value, 0.0);
    EXPECT_TRUE(c.muteMenuItem.state);
    EXPECT_EQ(c.volumeSliderMuteView.imageName, QStringLiteral("PMVolumeOff"));
    EXPECT_FLOAT_EQ(c.volume(), 0.6f) << "muting keeps the stored volume";
    c.mute();
    EXPECT_NEAR(c.volumeSlider.value, 0.6, 1e-6);
    EXPECT_EQ(c.volumeSliderMuteView.imageName, QStringLiteral("PMVolumeDown"));
    // Unmuting a stored volume of 0 gives 0.1, and stores it.
    c.changeVolume(0.0f);
    c.mute();
    EXPECT_NEAR(c.volumeSlider.value, 0.1, 1e-6);
    EXPECT_NEAR(c.volume(), 0.1, 1e-6);
    c.increaseVolume();
    EXPECT_NEAR(c.volumeSlider.value, 0.2, 1e-6);
    for (int i = 0; i < 4; ++i)
        c.decreaseVolume();
    EXPECT_EQ(c.volumeSlider.value, 0.0);
}

TEST_F(PlaybackTest, ThePositionIsKeptAcrossSwitchesAndQuit)
{
    PMMainController& c = mainController();
    const auto longMovie = record(longClip(), QStringLiteral("Long"));
    m_group->rawChildren()->append(Value(longMovie));
    c.invalidateLibraryDependencies();
    const QString kPosition = QStringLiteral("Last Playback: Position");

    ASSERT_TRUE(choose(Value(longMovie), false));
    ASSERT_TRUE(waitPlayable());
    seek(2.5);
    ASSERT_TRUE(choose(Value(m_a), false)); // switching keeps the place
    EXPECT_NEAR(longMovie->userSettings()->value(kPosition).toDouble(), 2.5, 0.01);

    ASSERT_TRUE(choose(Value(longMovie), false));
    ASSERT_TRUE(waitPlayable());
    EXPECT_NEAR(c.timeSlider.currentTime, 2.5, 0.01);
    EXPECT_TRUE(waitUntil([&] { return fx::decodeFrameNumber(player()->currentFrame().convertToFormat(QImage::Format_RGB32)) == 25; }));

    // The quit step saves the current movie's place.
    seek(3.2);
    ASSERT_TRUE(c._saveCurrentPlaybackPositionHook);
    c._saveCurrentPlaybackPositionHook();
    EXPECT_NEAR(longMovie->userSettings()->value(kPosition).toDouble(), 3.2, 0.01);
    // Letting the movie go keeps it too.
    seek(1.5);
    c.chooseNoMovie();
    EXPECT_NEAR(longMovie->userSettings()->value(kPosition).toDouble(), 1.5, 0.01);
    EXPECT_FALSE(c.playerViewContent().moviePlayer);
}

TEST_F(PlaybackTest, TheDefaultApplicationNeverRunsAFile)
{
    PMMainController& c = mainController();
    // A desktop entry that opens movies, made the default for MP4 files.
    const QString applications = QDir::homePath() + QStringLiteral("/.local/share/applications");
    QDir().mkpath(applications);
    testsupport::writeFile(applications + QStringLiteral("/viewer.desktop"),
        "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/usr/bin/true --play %f\nMimeType=video/mp4;\n");
    testsupport::writeFile(QDir::homePath() + QStringLiteral("/.config/mimeapps.list"), "[Default Applications]\nvideo/mp4=viewer.desktop\n");

    EXPECT_TRUE(c.openWithDefaultApplication(Value(m_a), false, true));
    ASSERT_EQ(m_started.size(), 1);
    EXPECT_EQ(m_started[0], (QStringList{QStringLiteral("/usr/bin/true"), QStringLiteral("--play"), m_a->path()}));

    // A script, even one named like a movie, is refused with a message.
    const QString script = fx::fixtures().dir() + QStringLiteral("/run me.mp4");
    testsupport::writeFile(script, "#!/bin/sh\necho hello\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    m_started.clear();
    EXPECT_FALSE(c.openWithDefaultApplication(Value(record(script, QStringLiteral("Script"))), false, true));
    EXPECT_TRUE(m_started.isEmpty());
    EXPECT_EQ(m_alerts.size(), 1);

    // Asked with confirmation and cancelled: nothing starts.
    m_alertAnswer = 1;
    EXPECT_FALSE(c.openWithDefaultApplication(Value(m_a), true, true));
    EXPECT_TRUE(m_started.isEmpty());
    // Chosen with the default application: counted like a playback.
    m_alertAnswer = 0;
    EXPECT_TRUE(c.chooseMovieRepresentation(Value(m_b), true, false, true, false));
    EXPECT_EQ(m_b->counter(), 1u);
}

} // namespace

TEST_F(PlaybackTest, ThePlayerWindowShowsTheMovieWithItsControls)
{
    PMMainController& c = mainController();
    c.installPlayerWindows();
    QPointer<QWidget> window = c._dedicatedPlayerWindow;
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    ASSERT_TRUE(window && view);
    auto* controls = window->findChild<PMPlaybackControlWindow*>();
    ASSERT_TRUE(controls);

    ASSERT_TRUE(choose(Value(m_a)));
    ASSERT_TRUE(waitPlayable());
    EXPECT_TRUE(waitUntil([&] { return window->isVisible() && view->paintCount() > 2; }, 10000));
    EXPECT_FALSE(view->currentGeometry().destination.isEmpty());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A"));
    // The controls follow the transport.
    c.updateTimeDisplay(&c);
    EXPECT_EQ(controls->controlView()->playPauseSwitch()->toolTip(), QStringLiteral("Pause"));
    c.pause();
    EXPECT_EQ(controls->controlView()->playPauseSwitch()->toolTip(), QStringLiteral("Play"));

    // A double click on the picture presents, and another one ends it.
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->rect().center());
    EXPECT_TRUE(c._isPresenting);
    EXPECT_TRUE(waitUntil([&] { return view->window() != window && view->window()->isFullScreen(); }, 10000));
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->rect().center());
    EXPECT_FALSE(c._isPresenting);

    // Closing the player stops playback and leaves no current movie.
    c.play();
    window->close();
    EXPECT_TRUE(c._currentMovieRepresentation.isNull());
    EXPECT_FALSE(c.playerViewContent().moviePlayer);

    delete window.data();
    c.playerView = nullptr;
}

namespace {

TEST_F(PlaybackTest, AMovieWhoseRecordGoesOrMovesLetsThePlayerGo)
{
    PMMainController& c = mainController();
    const QString folder = testsupport::makeTempDir(QStringLiteral("going"));
    const QString target = testsupport::makeTempDir(QStringLiteral("target"));
    for (const bool moves : {false, true}) {
        SCOPED_TRACE(moves ? "moved to a library folder" : "deleted");
        const QString path = folder + (moves ? QStringLiteral("/moves.mp4") : QStringLiteral("/goes.mp4"));
        ASSERT_TRUE(QFile::copy(fx::fixtures().numbered(), path));
        const auto movie = record(path, QStringLiteral("Going"));
        m_group->rawChildren()->append(Value(movie));
        library({Value(m_group)});
        ASSERT_TRUE(choose(Value(movie)));
        ASSERT_TRUE(waitPlayable());
        const PMPlayerPtr playing = player();
        ASSERT_TRUE(playing);
        ASSERT_TRUE(waitUntil([&] { return playing->rate() > 0; }));
        if (moves) {
            c.moveToLibraryFolder(target, Array::make({Value(movie)}));
        } else {
            c.deleteItems(Array::make({Value(movie)}), nullptr, false, false, true);
        }
        EXPECT_TRUE(c._currentMovieRepresentation.isNull());
        EXPECT_FALSE(player()) << "the player is cleared";
        EXPECT_EQ(playing->rate(), 0.0f) << "and stopped";
        EXPECT_FALSE(PMExistingMovieOfRecord(movie.get()));
        EXPECT_TRUE(waitUntil([&] { return c._numberOfRemainingItemsMovingToLibraryFolder == 0; }, 20000));
    }
}

} // namespace
