// The player engine on libmpv, headless: null audio output and the software renderer.
// Frames are read back from the rendered pixels of clips that show their frame number.
#include "platform/Paths.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"

#include "common/MediaFixtures.h"

#include <QtCore/QFile>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <cmath>

#include <fcntl.h>
#include <unistd.h>

using namespace platform;
using namespace platform::media;
namespace fx = testsupport::media;
using testsupport::waitUntil;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override { Player::setDefaultAudioOutput(QStringLiteral("null")); }

    // A player of the asset, ready (or failed) before it is answered.
    std::unique_ptr<Player> load(const AssetPtr& asset)
    {
        auto player = std::make_unique<Player>();
        player->replaceCurrentItemWithAsset(asset);
        EXPECT_TRUE(waitUntil([&] { return player->status() != PlayerItemStatus::Unknown; }, 10000));
        return player;
    }
    std::unique_ptr<Player> load(const QString& path) { return load(Asset::assetWithURL(QUrl::fromLocalFile(path))); }

    static int shownFrame(const Player& player) { return fx::decodeFrameNumber(player.currentFrame().convertToFormat(QImage::Format_RGB32)); }
    // Seeks exactly and answers the frame number shown once the seek is done (or, when
    // that is not the expected one, the frame shown after waiting for it a while: a
    // redraw of the old picture may come in between).
    static int frameAt(Player& player, double seconds, int expected = -1)
    {
        QSignalSpy done(&player, &Player::seekCompleted);
        player.seekToTime(seconds);
        if (!waitUntil([&] { return done.count() > 0 && !player.isSeeking(); }, 5000))
            return -2;
        if (expected >= 0)
            waitUntil([&] { return shownFrame(player) == expected; }, 2000);
        return shownFrame(player);
    }
};

TEST_F(PlayerTest, ReadyThenTheEndExactlyOnce)
{
    auto player = load(fx::fixtures().numbered());
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    EXPECT_TRUE(player->hasVideo());
    EXPECT_FALSE(player->hasAudio());
    EXPECT_TRUE(waitUntil([&] { return player->duration() > 0; }));
    EXPECT_NEAR(player->duration(), 3.0, 0.05);
    EXPECT_TRUE(waitUntil([&] { return !player->presentationSize().isEmpty(); }));
    EXPECT_EQ(player->presentationSize(), QSize(fx::kClipWidth, fx::kClipHeight));

    QSignalSpy ends(player.get(), &Player::didPlayToEnd);
    frameAt(*player, 2.6);
    player->play();
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Playing);
    EXPECT_TRUE(waitUntil([&] { return ends.count() > 0; }));
    QTest::qWait(300);
    EXPECT_EQ(ends.count(), 1);
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_NEAR(player->currentTime(), 3.0, 0.11);
    EXPECT_EQ(fx::decodeFrameNumber(player->currentFrame().convertToFormat(QImage::Format_RGB32)), fx::kClipFrames - 1);

    // Back to the start and to the end again: a second end.
    frameAt(*player, 2.8);
    player->play();
    EXPECT_TRUE(waitUntil([&] { return ends.count() == 2; }));
}

TEST_F(PlayerTest, AWindowThatFallsBehindIsHandedOnlyTheFrameDue)
{
    // While the main thread is busy the renderer draws nothing ahead: when it comes back it
    // is handed one picture, not a queue of frames drawn meanwhile to be painted late, one
    // after the other; and playing goes on.
    auto player = load(fx::fixtures().numbered());
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    ASSERT_TRUE(waitUntil([&] { return player->renderedFrameCount() > 0; }));
    player->play();
    ASSERT_TRUE(waitUntil([&] { return player->currentTime() > 0.3; }));
    int handedOver = 0;
    QObject::connect(player.get(), &Player::frameChanged, player.get(), [&] { ++handedOver; });
    QThread::msleep(800); // busy: eight frames of the clip go by
    QCoreApplication::processEvents(); // what was posted meanwhile
    EXPECT_LE(handedOver, 1);
    const qint64 shown = player->renderedFrameCount();
    EXPECT_TRUE(waitUntil([&] { return player->renderedFrameCount() >= shown + 3; }));
}

TEST_F(PlayerTest, ExactSeeksShowTheFrameOfTheTime)
{
    auto player = load(fx::fixtures().numbered());
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    // Key frames at 0, 1.2 and 2.4 s, B-frames between: the frame before a key frame, the
    // key frame itself, a B-frame, and going backwards.
    for (double t : {0.0, 0.55, 1.19, 1.2, 2.35, 0.3, 2.95, 0.05}) {
        const int expected = int(std::floor(t * fx::kClipFPS + 1e-9));
        EXPECT_EQ(frameAt(*player, t, expected), expected) << t;
    }
}

TEST_F(PlayerTest, AMovieWhoseNameIsNotUTF8Plays)
{
    QFile source(fx::fixtures().numbered());
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const QByteArray native = QFile::encodeName(fx::fixtures().dir()) + "/caf\xE9 play.mp4"; // a Latin-1 name
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
    auto player = load(decodeFileName(native));
    EXPECT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    EXPECT_TRUE(waitUntil([&] { return player->duration() > 0; }));
    EXPECT_NEAR(player->duration(), 3.0, 0.05);
    player.reset();
    ::unlink(native.constData());
}

TEST_F(PlayerTest, AnEditedCompositionPlaysItsOwnTimeline)
{
    // Keep 0.5..2.5 s, then cut 1.0..1.5 s of the source out: 1.5 s remain.
    const QString path = fx::fixtures().numbered();
    auto steps = Array::make({Dictionary::make({{QStringLiteral("Action"), QStringLiteral("Trim")},
                                  {QStringLiteral("Range"), PMMovieTimestampString(0.5) + u'~' + PMMovieTimestampString(2.0)}}),
        Dictionary::make({{QStringLiteral("Action"), QStringLiteral("Delete")},
            {QStringLiteral("Range"), PMMovieTimestampString(0.5) + u'~' + PMMovieTimestampString(0.5)}})});
    const AssetPtr asset = PMMovie::assetWithURL(QUrl::fromLocalFile(path), QStringLiteral("E1"), steps);
    ASSERT_TRUE(asset && asset->isComposition());
    const auto composition = std::static_pointer_cast<Composition>(asset);
    EXPECT_TRUE(Player::loadURLForAsset(asset).startsWith(QLatin1String("edl://")));

    auto player = load(asset);
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    EXPECT_TRUE(waitUntil([&] { return player->duration() > 0; }));
    EXPECT_NEAR(player->duration(), 1.5, 0.05);
    const int videoTrack = composition->tracksWithMediaType(MediaType::Video).front().trackID;
    for (double t : {0.0, 0.25, 0.55, 0.95, 1.25}) {
        Composition::Segment segment;
        MediaTime source;
        ASSERT_TRUE(composition->getSegmentForTime(videoTrack, MediaTime::withSeconds(t), &segment, &source));
        const int expected = int(std::floor(source.seconds() * fx::kClipFPS + 1e-6));
        EXPECT_EQ(frameAt(*player, t, expected), expected) << t;
    }

    QSignalSpy ends(player.get(), &Player::didPlayToEnd);
    frameAt(*player, 1.0);
    player->play();
    EXPECT_TRUE(waitUntil([&] { return ends.count() > 0; }));
    QTest::qWait(200);
    EXPECT_EQ(ends.count(), 1);
    EXPECT_NEAR(player->currentTime(), 1.5, 0.11);
    EXPECT_EQ(fx::decodeFrameNumber(player->currentFrame().convertToFormat(QImage::Format_RGB32)), 24);
}

TEST_F(PlayerTest, ASequencePlaysItsPartsAsOne)
{
    const AssetPtr asset = PMMovie::assetWithURL(QUrl::fromLocalFile(fx::fixtures().sequence()), QStringLiteral("S1"), nullptr);
    ASSERT_TRUE(asset);
    auto player = load(asset);
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    EXPECT_TRUE(waitUntil([&] { return player->duration() > 0; }));
    EXPECT_NEAR(player->duration(), 4.5, 0.05);
    // The parts count on from each other: 0..9, 10..24, 25..44.
    for (double t : {0.45, 1.05, 2.45, 2.55, 4.35}) {
        const int expected = int(std::floor(t * fx::kClipFPS + 1e-9));
        EXPECT_EQ(frameAt(*player, t, expected), expected) << t;
    }
}

TEST_F(PlayerTest, BrokenFilesFailOnce)
{
    const auto& f = fx::fixtures();
    for (const QString& path : {f.truncated(), f.textFile(), f.dir() + QStringLiteral("/missing.mp4")}) {
        auto player = std::make_unique<Player>();
        QSignalSpy changes(player.get(), &Player::statusChanged);
        player->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(path)));
        EXPECT_TRUE(waitUntil([&] { return player->status() != PlayerItemStatus::Unknown; }, 10000)) << path.toStdString();
        QTest::qWait(100);
        EXPECT_EQ(player->status(), PlayerItemStatus::Failed) << path.toStdString();
        EXPECT_FALSE(player->error().isEmpty()) << path.toStdString();
        EXPECT_EQ(changes.count(), 1) << path.toStdString();
    }
    Player nothing;
    nothing.replaceCurrentItemWithAsset(nullptr);
    EXPECT_EQ(nothing.status(), PlayerItemStatus::Failed);
}

TEST_F(PlayerTest, SoundRotationVolumeAndRates)
{
    const auto& f = fx::fixtures();
    auto audio = load(f.coverAudio());
    ASSERT_EQ(audio->status(), PlayerItemStatus::ReadyToPlay);
    EXPECT_TRUE(audio->hasAudio());
    EXPECT_FALSE(audio->hasVideo()) << "a cover picture is no video";
    audio->setVolume(0.25f);
    audio->setMuted(true);
    EXPECT_TRUE(waitUntil([&] { return audio->isMuted() && std::fabs(audio->volume() - 0.25f) < 1e-3; }));
    audio->setVolume(1.7f);
    EXPECT_EQ(audio->volume(), 1.0f);

    auto rotated = load(f.rotated());
    EXPECT_TRUE(waitUntil([&] { return !rotated->presentationSize().isEmpty(); }));
    EXPECT_EQ(rotated->presentationSize(), QSize(fx::kClipHeight, fx::kClipWidth));

    auto player = load(f.numbered());
    player->setRate(2.0f);
    EXPECT_EQ(player->rate(), 2.0f);
    EXPECT_TRUE(waitUntil([&] { return player->currentTime() > 0.4; }));
    player->pause();
    EXPECT_EQ(player->rate(), 0.0f);
    const double at = player->currentTime();
    // Frame steps move by one frame each way.
    const int shown = frameAt(*player, 1.0, 10);
    EXPECT_EQ(shown, 10);
    player->stepByFrames(1);
    EXPECT_TRUE(waitUntil([&] { return fx::decodeFrameNumber(player->currentFrame().convertToFormat(QImage::Format_RGB32)) == shown + 1; }));
    player->stepByFrames(-1);
    EXPECT_TRUE(waitUntil([&] { return fx::decodeFrameNumber(player->currentFrame().convertToFormat(QImage::Format_RGB32)) == shown; }));
    EXPECT_GT(at, 0.0);
}

} // namespace

namespace {

TEST_F(PlayerTest, ReplacingTheItemStartsOver)
{
    const auto& f = fx::fixtures();
    auto player = load(f.numbered());
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    EXPECT_TRUE(waitUntil([&] { return player->renderedFrameCount() > 0; }));
    EXPECT_EQ(frameAt(*player, 2.5, 25), 25);
    // Another file of the same size (mpv says nothing of its size), a turned one, and the
    // same file again (as an edit reloads it).
    for (const QString& path : {f.tagged(), f.rotated(), f.tagged(), f.tagged()}) {
        player->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(path)));
        EXPECT_TRUE(waitUntil([&] { return player->status() == PlayerItemStatus::ReadyToPlay && player->renderedFrameCount() > 0; }));
    
        EXPECT_EQ(player->currentTime(), 0.0);
        if (path == f.rotated()) {
            EXPECT_TRUE(waitUntil([&] { return player->presentationSize() == QSize(fx::kClipHeight, fx::kClipWidth); }));
            EXPECT_TRUE(waitUntil([&] { return player->currentFrame().size() == QSize(fx::kClipHeight, fx::kClipWidth); }));
            continue;
        }
        EXPECT_TRUE(waitUntil([&] { return player->presentationSize() == QSize(fx::kClipWidth, fx::kClipHeight); }));
        EXPECT_EQ(frameAt(*player, 1.5, 15), 15);
    }
}

} // namespace

namespace {

TEST_F(PlayerTest, PlayingBackwards)
{
    auto player = load(fx::fixtures().numbered());
    ASSERT_TRUE(player->canPlayReverse());
    EXPECT_EQ(frameAt(*player, 2.0, 20), 20);
    player->setRate(-1.0f);
    EXPECT_EQ(player->rate(), -1.0f);

    EXPECT_TRUE(waitUntil([&] { const int n = shownFrame(*player); return n >= 0 && n < 15; }, 5000)) << shownFrame(*player);
    player->setRate(1.0f);
    const int back = shownFrame(*player);
    EXPECT_TRUE(waitUntil([&] { return shownFrame(*player) > back + 3; }, 5000));
}

} // namespace

namespace {

// The resident memory of this process in megabytes.
long residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
    return -1;
}

// What a player shows from first to last while it plays to the end from where it is.
QList<int> framesUntilTheEnd(Player& player, int (*shown)(const Player&))
{
    QSignalSpy ends(&player, &Player::didPlayToEnd);
    QList<int> seen;
    const auto note = [&] {
        const int n = shown(player);
        if (n >= 0 && (seen.isEmpty() || seen.last() != n))
            seen << n;
    };
    note();
    QObject::connect(&player, &Player::frameChanged, &player, note);
    player.play();
    EXPECT_TRUE(waitUntil([&] { return ends.count() > 0; }, 20000));
    waitUntil([&] { return false; }, 200);
    note();
    QObject::disconnect(&player, &Player::frameChanged, &player, nullptr);
    return seen;
}

TEST_F(PlayerTest, ATransportStreamPlaysOnItsOwnClock)
{
    // Its streams start 11.4 s into the file's clock: the file as such, the program's
    // movie of it (unedited), and an edit of it keeping 1.0..2.5 s.
    const QString path = fx::fixtures().transportStream();
    const QUrl url = QUrl::fromLocalFile(path);
    const AssetPtr file = Asset::assetWithURL(url);
    ASSERT_NEAR(file->startTime().seconds(), 11.38, 0.05);
    bool canEdit = false;
    const AssetPtr movie = PMMovie::assetWithURL(url, QStringLiteral("T1"), {}, nullptr, &canEdit);
    ASSERT_TRUE(movie && movie->isComposition() && canEdit);
    auto trim = Array::make({Dictionary::make({{QStringLiteral("Action"), QStringLiteral("Trim")},
        {QStringLiteral("Range"), PMMovieTimestampString(1.0) + u'~' + PMMovieTimestampString(1.5)}})});
    const AssetPtr edited = PMMovie::assetWithURL(url, QStringLiteral("T2"), trim);
    ASSERT_TRUE(edited && edited->isComposition());
    EXPECT_TRUE(Player::loadURLForAsset(edited).startsWith(QLatin1String("edl://")));

    // Frame n starts at 0.0232 + n / 10 s of the asset.
    const struct {
        AssetPtr asset;
        double duration;
        QList<int> firstFrames;
        int lastFrame;
        bool seeks;
    } rows[] = {{file, 3.02, {0}, 29, true}, {movie, 3.02, {0}, 29, true}, {edited, 1.5, {9, 10, 11, 12}, 24, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Player::loadURLForAsset(row.asset).toStdString());
        auto player = load(row.asset);
        ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
        EXPECT_TRUE(waitUntil([&] { return shownFrame(*player) >= 0; })) << "a first picture";
        EXPECT_TRUE(row.firstFrames.contains(shownFrame(*player))) << shownFrame(*player);
        EXPECT_NEAR(player->duration(), row.duration, 0.05);
        // Between key frames (every 1.2 s) and onto them; a seek by time lands on any
        // frame in these files, so the picture needs a head start.
        // (Inside an edit's timeline such a file still starts at a key frame.)
        for (double t : {0.55, 1.75, 2.45, 0.15}) {
            if (!row.seeks)
                break;
            const int expected = int(std::floor((t - 0.0232) * fx::kClipFPS));
            EXPECT_EQ(frameAt(*player, t, expected), expected) << t;
        }
        frameAt(*player, 0);
        const QList<int> seen = framesUntilTheEnd(*player, &shownFrame);
        ASSERT_FALSE(seen.isEmpty());
        EXPECT_TRUE(row.firstFrames.contains(seen.first())) << seen.first();
        EXPECT_EQ(seen.last(), row.lastFrame);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_NEAR(player->currentTime(), row.duration, 0.11);
    }
}

TEST_F(PlayerTest, SoundLandsWhereAskedAndStepsByTime)
{
    bool canEdit = false;
    auto player = load(PMMovie::assetWithURL(QUrl::fromLocalFile(fx::fixtures().sound()), QStringLiteral("S1"), {}, nullptr, &canEdit));
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    ASSERT_FALSE(player->hasVideo());
    ASSERT_TRUE(waitUntil([&] { return player->duration() > 0; }));
    const auto seekTo = [&](double t) {
        QSignalSpy done(player.get(), &Player::seekCompleted);
        player->seekToTime(t);
        EXPECT_TRUE(waitUntil([&] { return done.count() > 0 && !player->isSeeking(); }));
        waitUntil([&] { return false; }, 100); // later news of the position
    };
    // Whole seconds read as such (a time display shows whole seconds).
    for (double t : {2.0, 1.0, 0.5, 2.25}) {
        seekTo(t);
        EXPECT_GE(player->currentTime(), t) << t;
        EXPECT_NEAR(player->currentTime(), t, 0.002) << t;
    }
    // A step forward goes forward, a step back goes back.
    QSignalSpy done(player.get(), &Player::seekCompleted);
    player->stepByFrames(1);
    EXPECT_TRUE(waitUntil([&] { return done.count() == 1 && !player->isSeeking(); }));
    EXPECT_NEAR(player->currentTime(), 2.25 + 1.0 / 24, 0.002);
    player->stepByFrames(-2);
    EXPECT_TRUE(waitUntil([&] { return done.count() == 2 && !player->isSeeking(); }));
    EXPECT_NEAR(player->currentTime(), 2.25 - 1.0 / 24, 0.002);
    EXPECT_EQ(player->rate(), 0.0f);
}

TEST_F(PlayerTest, PlayingBackwardsThroughALongGroupOfPicturesKeepsToItsMemory)
{
    auto player = load(fx::fixtures().longGOP());
    ASSERT_EQ(player->status(), PlayerItemStatus::ReadyToPlay);
    player->setSoftwareTargetSize(QSize(fx::kClipWidth, fx::kClipHeight));
    ASSERT_EQ(frameAt(*player, 15.0, 150), 150);
    const long before = residentMegabytes();
    long peak = before;
    player->setRate(-1.0f);
    EXPECT_EQ(player->rate(), -1.0f);
    EXPECT_EQ(player->timeControlStatus(), TimeControlStatus::Playing);
    // One key frame for 20 s of 1280 x 640 pictures: mpv's own backward playback held the
    // whole group decoded (over 200 MB here).
    EXPECT_TRUE(waitUntil([&] {
        peak = std::max(peak, residentMegabytes());
        const int n = shownFrame(*player);
        return n >= 0 && n < 135;
    }, 20000)) << shownFrame(*player);
    EXPECT_LT(peak - before, 64) << "megabytes while playing backwards";
    player->pause();
    EXPECT_EQ(player->rate(), 0.0f);

    // At the start it stops there.
    ASSERT_EQ(frameAt(*player, 0.35, 3), 3);
    QSignalSpy ends(player.get(), &Player::didPlayToEnd);
    player->setRate(-2.0f);
    EXPECT_TRUE(waitUntil([&] { return player->rate() == 0.0f && shownFrame(*player) == 0; }, 20000)) << shownFrame(*player);
    EXPECT_EQ(ends.count(), 0);
    EXPECT_NEAR(player->currentTime(), 0.0, 0.01);
}

// A player let go returns at once and its engine (with the software renderer's thread) is
// ended on a worker, whatever it was doing: playing, paused at its first frame, still
// loading, or with its item still being prepared.
TEST_F(PlayerTest, PlayersLetGoInAnyStateAreEnded)
{
    const QString clip = fx::fixtures().numbered();
    enum class State { Playing, Paused, Loading, Preparing };
    std::vector<std::unique_ptr<Player>> players;
    for (const State state : {State::Playing, State::Paused, State::Loading, State::Preparing, State::Playing, State::Paused}) {
        auto player = std::make_unique<Player>();
        if (state == State::Preparing) {
            player->replaceCurrentItemWithAssetBuiltBy([clip] { return Asset::assetWithURL(QUrl::fromLocalFile(clip)); }, {});
        } else {
            player->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(clip)));
        }
        if (state == State::Playing || state == State::Paused) {
            ASSERT_TRUE(waitUntil([&] { return player->renderedFrameCount() > 0; }, 10000));
        }
        if (state == State::Playing)
            player->play();
        players.push_back(std::move(player));
    }
    ASSERT_TRUE(waitUntil([&] { return players.front()->currentTime() > 0.2; }, 10000));
    players.clear();
    EXPECT_TRUE(waitUntil([] { return Player::enginesBeingEnded() == 0; }, 30000));
}

// The asset of an item is built on a worker: while that takes long (a file on a mount that
// does not answer), the window goes on answering; the item gets ready when the asset comes,
// or fails once when it does not come in time (what comes later is ignored); a player let
// go meanwhile is not reached from the worker.
TEST_F(PlayerTest, AnItemWhoseAssetTakesLongKeepsTheWindowAnswering)
{
    enum class End { AssetComes, TimeRunsOut, PlayerLetGo };
    for (const End end : {End::AssetComes, End::TimeRunsOut, End::PlayerLetGo}) {
        SCOPED_TRACE(int(end));
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> building{false};
        std::atomic<bool> returned{false};
        auto player = std::make_unique<Player>();
        QSignalSpy changes(player.get(), &Player::statusChanged);
        AssetPtr handedOver;
        if (end == End::TimeRunsOut)
            Player::setReadyTimeoutForTesting(0);
        player->replaceCurrentItemWithAssetBuiltBy(
            [&, path = fx::fixtures().numbered()] {
                building = true;
                released.wait();
                returned = true;
                return Asset::assetWithURL(QUrl::fromLocalFile(path));
            },
            [&](const AssetPtr& asset) { handedOver = asset; });
        Player::setReadyTimeoutForTesting(-1);
        ASSERT_TRUE(waitUntil([&] { return building.load(); }));
        bool answered = false;
        QTimer::singleShot(0, [&] { answered = true; });
        EXPECT_TRUE(waitUntil([&] { return answered; }));
        EXPECT_FALSE(player->currentAsset());
        if (end == End::TimeRunsOut) {
            EXPECT_TRUE(waitUntil([&] { return player->status() == PlayerItemStatus::Failed; }));
        } else {
            EXPECT_EQ(player->status(), PlayerItemStatus::Unknown);
        }
        if (end == End::PlayerLetGo)
            player.reset();
        release.set_value();
        ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
        if (end == End::AssetComes) {
            EXPECT_TRUE(waitUntil([&] { return player->status() == PlayerItemStatus::ReadyToPlay; }, 10000));
            EXPECT_TRUE(handedOver);
            EXPECT_EQ(handedOver, player->currentAsset());
            EXPECT_EQ(changes.count(), 1);
        } else {
            // Whatever the worker posted has had its turn.
            waitUntil([] { return false; }, 300);
            EXPECT_FALSE(handedOver);
            if (player) {
                EXPECT_EQ(player->status(), PlayerItemStatus::Failed);
                EXPECT_EQ(changes.count(), 1);
            }
        }
    }
}

TEST_F(PlayerTest, AnItemThatIsNoFileOrNeverGetsReadyFails)
{
    // A named pipe would hold the engine in its first read for good.
    auto pipe = std::make_unique<Player>();
    QSignalSpy pipeChanges(pipe.get(), &Player::statusChanged);
    pipe->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(fx::fixtures().fifo())));
    EXPECT_TRUE(waitUntil([&] { return pipe->status() == PlayerItemStatus::Failed; }, 2000));
    EXPECT_TRUE(pipe->error().contains(QLatin1String("not a regular file"))) << pipe->error().toStdString();
    EXPECT_TRUE(waitUntil([&] { return pipeChanges.count() == 1; }));

    // An item that is not ready in time fails, once, whatever comes later.
    Player::setReadyTimeoutForTesting(0);
    auto slow = std::make_unique<Player>();
    QSignalSpy changes(slow.get(), &Player::statusChanged);
    slow->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(fx::fixtures().numbered())));
    Player::setReadyTimeoutForTesting(-1);
    EXPECT_TRUE(waitUntil([&] { return slow->status() == PlayerItemStatus::Failed; }, 2000));
    EXPECT_FALSE(slow->error().isEmpty());
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(slow->status(), PlayerItemStatus::Failed);
    EXPECT_EQ(changes.count(), 1);
    // The next item is given its time again.
    slow->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(fx::fixtures().numbered())));
    EXPECT_TRUE(waitUntil([&] { return slow->status() == PlayerItemStatus::ReadyToPlay; }, 10000));
}

} // namespace
