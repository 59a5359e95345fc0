// Choosing and playing through the real controller and player (null audio, software
// picture): readiness, counting, the playlist, still and animated images, proxies,
// failures, the end of playback with looping and continuation, the transport rules,
// volume, position memory and the default application.
#include "playback/PMExternalViewerWatch.h"
#include "FakeMprisPlayer.h"
#include <QtCore/QProcess>
#include <QtDBus/QDBusConnection>
#include <atomic>
#include <limits>
#include "library/model/ModelFixture.h"

#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/SystemLog.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include "common/MediaFixtures.h"
#include "PlaybackTestSupport.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QScopeGuard>
#include <QtCore/QSemaphore>
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
        const QString path = fx::fixtures().dir() + QStringLiteral("/long-6s.mp4");
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
    // The frames are decoded in the background: the first one shows until they are there,
    // then they animate.
    EXPECT_TRUE(waitUntil([&] { return view.animatesMovieReplacingImage; }));
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

// A movie that does not open in time (its disk or server may not answer) is said so, and
// nothing looks at its file again: no other application is tried for it.
TEST_F(PlaybackTest, AMovieThatDoesNotOpenInTimeIsLeftAlone)
{
    PMMainController& c = mainController();
    setDefault(QStringLiteral("Fall Back To Default Application"), true);
    QString explanation;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        explanation = alert.informativeText;
        return platform::AlertResponse{0, false};
    });
    Player::setReadyTimeoutForTesting(0);
    const bool chosen = choose(Value(m_a));
    Player::setReadyTimeoutForTesting(-1);
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(waitUntil([&] { return !explanation.isEmpty(); }, 10000));
    EXPECT_TRUE(explanation.contains(QLatin1String("did not open in time"))) << explanation.toStdString();
    EXPECT_TRUE(c._currentMovieRepresentation.isNull());
    EXPECT_TRUE(m_started.isEmpty());
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

    // Winding by frames and by steps moves the slider and the player: a frame forward, a
    // frame back, and forward again.
    seek(1.0);
    EXPECT_NEAR(player()->currentTime(), 1.0, 1e-3);
    for (const auto& [forward, time, frame] : {std::tuple{true, 1.1, 11}, {false, 1.0, 10}, {true, 1.1, 11}}) {
        SCOPED_TRACE(forward ? "a frame forward" : "a frame back");
        c.windForward(forward, true, false);
        EXPECT_NEAR(c.timeSlider.currentTime, time, 1e-6);
        EXPECT_TRUE(waitUntil([&] { return fx::decodeFrameNumber(player()->currentFrame().convertToFormat(QImage::Format_RGB32)) == frame; }));
    }
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
    // The picture's place is known once the engine has told the movie's size, which may
    // come a few paints after the window shows.
    EXPECT_TRUE(waitUntil([&] { return window->isVisible() && view->paintCount() > 2 && !view->currentGeometry().destination.isEmpty(); }, 10000));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A"));
    // The controls follow the transport.
    c.updateTimeDisplay(&c);
    EXPECT_EQ(controls->controlView()->playPauseSwitch()->toolTip(), QStringLiteral("Pause"));
    c.pause();
    EXPECT_EQ(controls->controlView()->playPauseSwitch()->toolTip(), QStringLiteral("Play"));

    // A double click on the picture presents; another one alternates filling and fitting
    // the screen.
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->rect().center());
    EXPECT_TRUE(c._isPresenting);
    EXPECT_TRUE(waitUntil([&] { return view->window() != window && view->window()->isFullScreen(); }, 10000));
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
    const bool filled = platform::UserDefaults::standard().integerForKey(QStringLiteral("Presentation Mode")) == 1;
    QTest::mouseDClick(view, Qt::LeftButton, {}, view->rect().center());
    EXPECT_TRUE(c._isPresenting);
    EXPECT_NE(platform::UserDefaults::standard().integerForKey(QStringLiteral("Presentation Mode")) == 1, filled);
    c.togglePresentation();
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

// ---- External viewers, Open With and viewer rules --------------------------------------

namespace {

// Desktop entries in the test's own data folder (and the user's default for MP4 files).
QString installEntry(const QString& id, const QByteArray& name, const QByteArray& mime, const QByteArray& extra = {})
{
    const QString folder = QDir::homePath() + QStringLiteral("/.local/share/applications");
    QDir().mkpath(folder);
    const QString path = folder + u'/' + id;
    testsupport::writeFile(path, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/usr/bin/true %F\nMimeType=" + mime + "\n" + extra);
    return path;
}

} // namespace

TEST(ViewerRulesTest, TheTextIsCheckedWhole)
{
    QString error;
    const platform::ArrayPtr builtIn = PMParseViewerRules(PMBuiltInViewerRules(), &error);
    // Built in: no rules, so every file opens where the desktop's file types say.
    ASSERT_TRUE(builtIn) << error.toStdString();
    EXPECT_EQ(builtIn->count(), 0);
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"[{\"Match\": \"\\\\.mkv$\", \"Open\": \"mpv\"}]", true},
        // Lenient: no commas at line ends.
        {"[\n{\n\t\"Extensions\": \"avi mkv\"\n\t\"Open\": \"vlc.desktop\"\n}\n{\n\t\"Match\": \"x\"\n\t\"Open\": \"y\"\n}\n]", true},
        {"[{\"Match\": \"(unclosed\", \"Open\": \"mpv\"}]", false},
        {"[{\"Match\": \"x\", \"Open\": \"\"}]", false},
        {"[{\"Match\": \"x\", \"Open\": \"mpv\", \"Extra\": 1}]", false},
        {"[{\"Open\": \"mpv\"}]", false},
        {"[]", true},
        {"{\"Match\": \"x\", \"Open\": \"mpv\"}", false},
        {"not json at all [", false},
    };
    for (const Case& k : cases)
        EXPECT_EQ(PMParseViewerRules(QString::fromUtf8(k.text), &error) != nullptr, k.valid) << k.text;
}

TEST_F(PlaybackTest, RulesNameADesktopEntryNeverAProgram)
{
    PMMainController& c = mainController();
    const QString viewer = installEntry(QStringLiteral("pellis-test-viewer.desktop"), "Test Viewer", "video/mp4;");
    platform::UserDefaults::standard().setObject(
        Value(QStringLiteral("[\n{\"Match\": \"numbered\", \"Open\": \"/usr/bin/true\"}\n{\"Match\": \"numbered\", \"Open\": \"Test Viewer\"}\n]")),
        QStringLiteral("Viewer Rules"));
    c.invalidateViewerRules();
    m_a->invalidateApplicationPath();
    // The program path is passed over; the entry is found by its name.
    EXPECT_EQ(m_a->applicationPath(), viewer);
    // An invalid text routes nothing.
    platform::UserDefaults::standard().setObject(Value(QStringLiteral("[{\"Match\": \"(\", \"Open\": \"x\"}]")), QStringLiteral("Viewer Rules"));
    c.invalidateViewerRules();
    m_a->invalidateApplicationPath();
    EXPECT_FALSE(c.viewerRules());
    EXPECT_TRUE(m_a->applicationPath().isEmpty());
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Viewer Rules"));
    c.invalidateViewerRules();
}

TEST_F(PlaybackTest, ARuleThatRunsOutOfTimeIsDroppedAndSearchTextsNeverWorkTheRulesOut)
{
    PMMainController& c = mainController();
    const QString viewer = installEntry(QStringLiteral("pellis-test-viewer.desktop"), "Test Viewer", "video/mp4;");
    QStringList lines;
    platform::setSystemLogSink([&](const QString& line) { lines << line; });
    // The first pattern backtracks past the matching time limit on any file URL. A dropped
    // pattern stays dropped until the process ends: each run of the test (--gtest_repeat)
    // drops one of its own.
    static int run = 0;
    platform::UserDefaults::standard().setObject(
        Value(QStringLiteral("[\n{\"Match\": \"^((.+)*)+!(run%1)?$\", \"Open\": \"Test Viewer\"}\n{\"Match\": \"\\\\.(mp4|mov)$\", \"Open\": \"Test Viewer\"}\n]")
                  .arg(++run)),
        QStringLiteral("Viewer Rules"));
    c.invalidateViewerRules();
    ASSERT_TRUE(c.viewerRules());
    m_a->invalidateApplicationPath();
    m_b->invalidateApplicationPath();
    // Building search texts leaves the rules alone (they ran for every record before).
    m_a->searchText();
    m_b->searchText();
    EXPECT_FALSE(m_a->original().m_applicationPath.has_value());
    EXPECT_FALSE(m_b->original().m_applicationPath.has_value());
    // The slow rule fails once, is dropped, and the next rule answers for both records.
    EXPECT_EQ(m_a->applicationPath(), viewer);
    EXPECT_EQ(m_b->applicationPath(), viewer);
    platform::setSystemLogSink(nullptr);
    EXPECT_EQ(lines.filter(QStringLiteral("ignoring the viewer rule matching")).size(), 1) << lines.join(u'\n').toStdString();
    // Once known, the application is part of the record's search text.
    EXPECT_TRUE(m_a->searchText()->text.contains(QStringLiteral("pellis-test-viewer")));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Viewer Rules"));
    c.invalidateViewerRules();
}

TEST_F(PlaybackTest, OpenWithListsTheApplicationsForAllItems)
{
    PMMainController& c = mainController();
    const QString viewer = installEntry(QStringLiteral("pellis-test-viewer.desktop"), "Test Viewer", "video/mp4;");
    const QString twinA = installEntry(QStringLiteral("pellis-twin-a.desktop"), "Test Twin", "video/mp4;");
    const QString twinB = installEntry(QStringLiteral("pellis-twin-b.desktop"), "Test Twin", "video/mp4;");
    installEntry(QStringLiteral("pellis-hidden.desktop"), "Test Hidden", "video/mp4;", "Hidden=true\n");
    const QString writer = installEntry(QStringLiteral("pellis-writer.desktop"), "Test Writer", "text/plain;");

    auto items = platform::Array::make();
    items->append(Value(m_a));
    QString common = QStringLiteral("unchanged");
    const platform::DictionaryPtr apps = c.applicationsForMovieRepresentations(items, false, &common);
    ASSERT_TRUE(apps);
    EXPECT_EQ(apps->value(QStringLiteral("Test Viewer")).string(), viewer);
    // Two entries of one name are told apart by where they lie.
    QStringList twins;
    for (const QString& title : apps->keys())
        if (title.startsWith(QStringLiteral("Test Twin")))
            twins << title;
    ASSERT_EQ(twins.size(), 2);
    for (const QString& title : twins) {
        EXPECT_TRUE(title.startsWith(QStringLiteral("Test Twin — "))) << title.toStdString();
        EXPECT_TRUE(apps->value(title).string() == twinA || apps->value(title).string() == twinB);
        EXPECT_TRUE(title.endsWith(QFileInfo(apps->value(title).string()).fileName())) << title.toStdString();
    }
    EXPECT_FALSE(apps->contains(QStringLiteral("Test Hidden")));
    EXPECT_TRUE(common.isEmpty());

    // A text file beside the movie: only applications that open both are offered.
    const QString notes = fx::fixtures().dir() + QStringLiteral("/notes.txt");
    testsupport::writeFile(notes, "hello\n");
    items->append(Value(record(notes, QStringLiteral("Notes"))));
    const platform::DictionaryPtr both = c.applicationsForMovieRepresentations(items, false, nullptr);
    EXPECT_FALSE(both && both->contains(QStringLiteral("Test Viewer")));
    EXPECT_FALSE(both && both->contains(QStringLiteral("Test Writer")));
    Q_UNUSED(writer);
}

TEST_F(PlaybackTest, OpeningElsewhereAsksOnceAndRefusesPrograms)
{
    PMMainController& c = mainController();
    const QString viewer = installEntry(QStringLiteral("pellis-test-viewer.desktop"), "Test Viewer", "video/mp4;");
    // Asked once per application: the answer is kept.
    EXPECT_TRUE(c.openURL(m_a->path(), Value(m_a), viewer, true, false));
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0], QStringLiteral("Open in Test Viewer?"));
    ASSERT_EQ(m_started.size(), 1);
    EXPECT_EQ(m_started[0], (QStringList{QStringLiteral("/usr/bin/true"), m_a->path()}));
    EXPECT_TRUE(c.openURL(m_b->path(), Value(m_b), viewer, true, false));
    EXPECT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_started.size(), 2);
    m_alerts.clear();
    m_started.clear();

    // Desktop entries and scripts are never handed over, whatever opens them.
    const QString entryFile = fx::fixtures().dir() + QStringLiteral("/innocent.desktop");
    testsupport::writeFile(entryFile, "[Desktop Entry]\nType=Application\nName=X\nExec=sh -c 'echo owned'\n");
    const QString script = fx::fixtures().dir() + QStringLiteral("/-rf clip.mp4");
    testsupport::writeFile(script, "#!/bin/sh\necho hello\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    for (const QString& path : {entryFile, script}) {
        EXPECT_FALSE(c.openURL(path, Value(record(path, QStringLiteral("X"))), viewer, false, false)) << path.toStdString();
        // Nor is a desktop entry an application to start when it is given as one.
        EXPECT_FALSE(c.openURL(m_a->path(), Value(m_a), path, false, false)) << path.toStdString();
    }
    EXPECT_TRUE(m_started.isEmpty());
    EXPECT_EQ(m_alerts.size(), 2);

    // A launch that fails keeps the user's choice of application.
    m_a->setApplicationPath(viewer);
    c._startApplicationOverride = [](const QString&, const QStringList&) { return false; };
    c.openURL(m_a->path(), Value(m_a), m_a->applicationPath(), false, false);
    choose(Value(m_a), false);
    EXPECT_EQ(m_a->applicationPath(), viewer);
}

TEST_F(PlaybackTest, FollowsAnMprisPlayerToTheNextPartAndItem)
{
    QProcess daemon;
    const QString address = testsupport::startPrivateBus(daemon);
    if (address.isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    const QString busName = QStringLiteral("pellis-mpris-test");
    QDBusConnection bus = QDBusConnection::connectToBus(address, busName);
    ASSERT_TRUE(bus.isConnected());
    QDBusConnection playerBus = QDBusConnection::connectToBus(address, QStringLiteral("pellis-mpris-player"));
    QObject playerObject;
    auto* root = new FakeMprisRoot(&playerObject);
    root->entry = QStringLiteral("pellis-test-player");
    auto* fake = new FakeMprisPlayer(&playerObject);
    ASSERT_TRUE(playerBus.registerObject(QStringLiteral("/org/mpris/MediaPlayer2"), &playerObject));
    ASSERT_TRUE(playerBus.registerService(QStringLiteral("org.mpris.MediaPlayer2.pellistest")));

    PMMainController& c = mainController();
    c._externalViewerBusName = busName;
    const QString player = installEntry(QStringLiteral("pellis-test-player.desktop"), "Test Player", "video/mp4;");
    // A sequence of three parts in a group with one more movie after it.
    const QString trip = fx::fixtures().dir() + QStringLiteral("/Trip.mseq");
    QDir().mkpath(trip);
    QStringList parts;
    for (const char* name : {"1.mp4", "2.mp4", "3.mp4"}) {
        parts << trip + u'/' + QString::fromLatin1(name);
        testsupport::writeFile(parts.last(), QByteArray(16, '\0'));
    }
    const auto sequence = record(trip, QStringLiteral("0 Trip"));
    sequence->setApplicationPath(player);
    m_group->rawChildren()->insert(0, Value(sequence));
    c.invalidateLibraryDependencies();

    // The viewer gets the first part only and is followed.
    ASSERT_TRUE(c.openURL(trip, Value(sequence), player, false, true));
    ASSERT_EQ(m_started.size(), 1);
    EXPECT_EQ(m_started[0], (QStringList{QStringLiteral("/usr/bin/true"), parts[0]}));
    EXPECT_TRUE(c._isMonitoringExternalViewer);

    // One poll, answered before the next begins.
    const auto poll = [&] {
        const int before = c._externalViewerAnswerCount;
        c.monitorExternalViewer();
        ASSERT_TRUE(waitUntil([&] { return c._externalViewerAnswerCount > before; }));
    };
    // Part 1 at 10 of 60 s while paused: neither ended nor near its end.
    fake->show(parts[0], 10, 60, false);
    poll();
    EXPECT_TRUE(waitUntil([&] { return c._externalViewerDurationsBySequencePath->value(QFileInfo(parts[0]).canonicalFilePath()).toDouble() == 60; }));
    EXPECT_FALSE(c._isMonitoredExternalViewerReadyToContinue);
    EXPECT_EQ(m_started.size(), 1);
    // Playing at 55 of 60 s: ready to continue, asked again after 5 s.
    fake->show(parts[0], 55, 60, true);
    poll();
    EXPECT_TRUE(waitUntil([&] { return c._isMonitoredExternalViewerReadyToContinue; }));
    EXPECT_DOUBLE_EQ(c._externalViewerNextPollDelay, 5.0);
    // Stopped at 59 of 60: part 2 opens in the same viewer.
    fake->show(parts[0], 59, 60, false);
    poll();
    ASSERT_TRUE(waitUntil([&] { return m_started.size() == 2; }));
    EXPECT_EQ(m_started[1], (QStringList{QStringLiteral("/usr/bin/true"), parts[1]}));
    // Part 2 reports a duration that is not a number: ignored.
    fake->show(parts[1], 1, std::numeric_limits<double>::infinity(), true);
    poll();
    fake->show(parts[1], 20, 30, true);
    poll();
    fake->show(parts[1], 29.5, 30, false);
    poll();
    ASSERT_TRUE(waitUntil([&] { return m_started.size() == 3; }));
    EXPECT_TRUE(c._isMonitoringExternalViewer) << "after part 3 opens";
    EXPECT_EQ(m_started[2], (QStringList{QStringLiteral("/usr/bin/true"), parts[2]}));
    // Part 3 completes the durations: their sum becomes the item's. Past the last part the
    // watch goes on only where the group continues.
    setDefault(QStringLiteral("Continue: Monitor External Viewer"), true);
    fake->show(parts[2], 5, 20, true);
    poll();
    EXPECT_TRUE(waitUntil([&] { return sequence->duration() == 110; })) << sequence->duration();
    EXPECT_TRUE(c._isMonitoringExternalViewer) << "after the sum";
    // At its end the group's next movie follows, here in the own player.
    fake->show(parts[2], 19.9, 20, true);
    poll();
    EXPECT_TRUE(waitUntil([&] { return c._isMonitoredExternalViewerReadyToContinue; }))
        << c._isMonitoringExternalViewer << c.shouldMonitorExternalViewer() << c.continueFromExternalViewerAsPreflightCheck(true)
        << c.shouldContinueAfterMovieRepresentation(Value(sequence)) << c._externalViewerFilePath.toStdString();
    fake->show(parts[2], 19.9, 20, false);
    poll();
    EXPECT_TRUE(waitUntil([&] { return PMMovie(c._currentMovieRepresentation) == m_a.get(); }, 10000));

    c.stopMonitoringExternalViewer();
    playerBus.unregisterService(QStringLiteral("org.mpris.MediaPlayer2.pellistest"));
    QDBusConnection::disconnectFromBus(QStringLiteral("pellis-mpris-player"));
    QDBusConnection::disconnectFromBus(busName);
    c._externalViewerBusName.clear();
    daemon.kill();
    daemon.waitForFinished();
}

TEST_F(PlaybackTest, TheViewersPictureIsTakenOnceAndOnlyForItsOwnWatch)
{
    PMMainController& c = mainController();
    const QString player = installEntry(QStringLiteral("pellis-watch-player.desktop"), "Watch Player", "video/mp4;video/quicktime;");
    const QString shots = testsupport::makeTempDir(QStringLiteral("shots"));
    setDefault(QStringLiteral("Continue: Monitor External Viewer"), true);
    setDefault(QStringLiteral("Continue: Monitor External Viewer: Detect Preview"), true);
    setDefault(QStringLiteral("Continue: Monitor External Viewer: Detect Preview: Pattern"), QStringLiteral("^Shot"));
    setDefault(QStringLiteral("Continue: Monitor External Viewer: Detect Preview: Directory"), shots);
    // Which records were given a picture from the viewer.
    QList<const PMMovieRepresentationOriginal*> given;
    auto& services = PMMovieRepresentationServices::shared();
    const auto keptSave = services.savePosterImage;
    services.savePosterImage = [&](const platform::ImagePtr& image, PMMovieRepresentationPrototype& record) {
        if (image)
            given.append(&record.original());
    };
    // The viewer shows the watched file, playing; an answer can be held back.
    QString showing;
    QSemaphore gate;
    std::atomic<bool> holdBack{false};
    c._externalViewerStateOverride = [&showing, &gate, &holdBack] {
        if (holdBack)
            gate.tryAcquire(1, 60000);
        PMMainController::ExternalViewerState state;
        state.answered = true;
        state.path = showing;
        state.position = 10;
        state.duration = 60;
        state.isPlaying = true;
        return state;
    };
    const auto restore = qScopeGuard([&] {
        gate.release();
        services.savePosterImage = keptSave;
        c._externalViewerStateOverride = nullptr;
        c.stopMonitoringExternalViewer();
        for (const char* key : {"Continue: Monitor External Viewer", "Continue: Monitor External Viewer: Detect Preview",
                                "Continue: Monitor External Viewer: Detect Preview: Pattern", "Continue: Monitor External Viewer: Detect Preview: Directory"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
    });
    const auto poll = [&] {
        const int before = c._externalViewerAnswerCount;
        c.monitorExternalViewer();
        ASSERT_TRUE(waitUntil([&] { return c._externalViewerAnswerCount > before; }, 60000));
    };
    const auto shot = [&](const char* name) {
        // File times come from a coarse clock (a few milliseconds behind): a picture is
        // made once the clock has clearly passed the watch's start.
        waitUntil([&] { return QDateTime::currentMSecsSinceEpoch() > c._externalViewerWatchStartMSecs + 50; });
        QImage picture(32, 18, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(shots + u'/' + QString::fromLatin1(name)));
    };

    showing = QFileInfo(m_a->path()).canonicalFilePath();
    ASSERT_TRUE(c.openURL(m_a->path(), Value(m_a), player, false, true));
    ASSERT_TRUE(c._isMonitoringExternalViewer);
    shot("Shot 1.png");
    poll();
    EXPECT_EQ(given, (QList<const PMMovieRepresentationOriginal*>{m_a.get()}));
    // The same picture is not taken again by the next polls.
    poll();
    poll();
    EXPECT_EQ(given.size(), 1);

    // A poll of this watch answers late, after the viewer was given the next movie: its
    // answer neither stops the new watch nor gives the new movie the old one's picture.
    shot("Shot 2.png");
    holdBack = true;
    const int before = c._externalViewerAnswerCount;
    c.monitorExternalViewer();
    showing = QFileInfo(m_b->path()).canonicalFilePath();
    ASSERT_TRUE(c.openURL(m_b->path(), Value(m_b), player, false, true));
    holdBack = false;
    gate.release();
    ASSERT_TRUE(waitUntil([&] { return c._externalViewerAnswerCount > before; }, 60000));
    EXPECT_EQ(given.size(), 1);
    EXPECT_TRUE(c._isMonitoringExternalViewer);
    EXPECT_EQ(PMMovie(c._externalViewerMovieRepresentation), m_b.get());
    // Its own polls go on, and take only a picture made during it.
    poll();
    EXPECT_EQ(given.size(), 1);
    EXPECT_TRUE(c._isMonitoringExternalViewer);
    shot("Shot 3.png");
    poll();
    EXPECT_EQ(given, (QList<const PMMovieRepresentationOriginal*>{m_a.get(), m_b.get()}));
}

// "Push-Start: " and a viewer's desktop entry: once the viewer was given a movie to play, its
// player is asked to play as soon as it is on the bus; other players are left alone.
TEST_F(PlaybackTest, PushStartAsksTheViewersPlayerToPlay)
{
    QProcess daemon;
    const QString address = testsupport::startPrivateBus(daemon);
    if (address.isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    const QString busName = QStringLiteral("pellis-push-test");
    QDBusConnection bus = QDBusConnection::connectToBus(address, busName);
    ASSERT_TRUE(bus.isConnected());
    PMMainController& c = mainController();
    c._externalViewerBusName = busName;
    const QString viewer = installEntry(QStringLiteral("pellis-push-player.desktop"), "Push Player", "video/mp4;");
    const QString key = QStringLiteral("Push-Start: pellis-push-player.desktop");
    const auto pending = [&] { return c.findChildren<PMMprisPushStart*>().size(); };

    // Off, or on without playing: nobody is asked.
    for (const auto& [on, play] : {std::pair{false, true}, std::pair{true, false}}) {
        setDefault(key, on);
        ASSERT_TRUE(c.openURL(m_a->path(), Value(m_a), viewer, false, play));
        EXPECT_EQ(pending(), 0) << on << play;
    }

    // On: another player already there is left alone; the viewer's, once it appears, plays.
    struct Player {
        QObject object;
        FakeMprisRoot* root = new FakeMprisRoot(&object);
        FakeMprisPlayer* player = new FakeMprisPlayer(&object);
    };
    Player other, started;
    other.root->entry = QStringLiteral("some-other-player");
    started.root->entry = QStringLiteral("pellis-push-player");
    QDBusConnection otherBus = QDBusConnection::connectToBus(address, QStringLiteral("pellis-push-other"));
    ASSERT_TRUE(otherBus.registerObject(QStringLiteral("/org/mpris/MediaPlayer2"), &other.object));
    ASSERT_TRUE(otherBus.registerService(QStringLiteral("org.mpris.MediaPlayer2.other")));
    ASSERT_TRUE(c.openURL(m_a->path(), Value(m_a), viewer, false, true));
    EXPECT_EQ(pending(), 1);
    QDBusConnection viewerBus = QDBusConnection::connectToBus(address, QStringLiteral("pellis-push-viewer"));
    ASSERT_TRUE(viewerBus.registerObject(QStringLiteral("/org/mpris/MediaPlayer2"), &started.object));
    ASSERT_TRUE(viewerBus.registerService(QStringLiteral("org.mpris.MediaPlayer2.pushviewer")));
    EXPECT_TRUE(waitUntil([&] { return started.player->playCount == 1; }));
    EXPECT_TRUE(waitUntil([&] { return pending() == 0; }));
    EXPECT_EQ(other.player->playCount, 0);

    c.stopMonitoringExternalViewer();
    for (const char* name : {"pellis-push-other", "pellis-push-viewer"})
        QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
    QDBusConnection::disconnectFromBus(busName);
    c._externalViewerBusName.clear();
    daemon.kill();
    daemon.waitForFinished();
}

#include "moc_FakeMprisPlayer.cpp"
