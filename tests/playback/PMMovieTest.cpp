#include "library/model/PMMovie.h"

#include "foundation/PMLog.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/media/ImageGenerator.h"
#include "platform/media/Player.h"

#include "common/MediaFixtures.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>

using namespace platform;
using namespace platform::media;
namespace fx = testsupport::media;

namespace {

DictionaryPtr step(const char* action, const QString& range)
{
    return Dictionary::make({{QStringLiteral("Action"), action}, {QStringLiteral("Range"), range}});
}

QString range(double start, double length)
{
    return PMMovieTimestampString(start) + u'~' + PMMovieTimestampString(length);
}

// The frame numbers at the start and end of an asset (exact grabs).
std::pair<int, int> firstAndLastFrame(const PMAssetPtr& asset)
{
    ImageGenerator g(asset);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    const int first = fx::decodeFrameNumber(g.copyImageAtTime(MediaTime::zero()));
    const int last = fx::decodeFrameNumber(g.copyImageAtTime(asset->duration() - MediaTime::withSeconds(0.05)));
    return {first, last};
}

PMAssetPtr edited(const QString& path, std::initializer_list<Value> steps, bool* canEdit = nullptr)
{
    bool ignored = false;
    return PMMovie::assetWithURL(QUrl::fromLocalFile(path), QStringLiteral("ID1"), {}, Array::make(steps), canEdit ? canEdit : &ignored);
}

} // namespace

TEST(PMMovieFunctions, RoundedSeconds)
{
    const struct { double in; qint64 out; } cases[] = {
        {0.0, 0}, {0.05, 0}, {0.099, 0}, {0.1, 1}, {0.3, 1}, {0.6, 1}, {1.49, 1}, {1.5, 2}, {2.5, 3}, {59.5, 60}, {-0.3, 0}, {-2.5, 0}, {NAN, 0}, {INFINITY, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PMRoundedSeconds(c.in), c.out) << c.in;
}

TEST(PMMovieFunctions, TimestampTextBothWays)
{
    const struct { double seconds; const char* text; } cases[] = {
        {0, "0:00:00:00.000/1000"},
        {65.25, "0:00:01:05.250/1000"},
        {3661.5, "0:01:01:01.500/1000"},
        {86400 + 7322.001, "1:02:02:02.001/1000"},
        {59.9996, "0:00:01:00.000/1000"}, // milliseconds carry into the seconds
        {12.0004, "0:00:00:12.000/1000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PMMovieTimestampString(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
        EXPECT_NEAR(PMMovieTimestampParse(QString::fromLatin1(c.text)), std::round(c.seconds * 1000) / 1000, 1e-9) << c.text;
    }
    const struct { const char* text; double seconds; } parsed[] = {
        {"0:00:01:05.250", 65.25},    // without "/1000"
        {"0:0:1:5.25/1000", 65.25},
        {"0:00:01/1000", -1},         // three fields
        {"0:00:00:01:00.000/1000", -1},
        {"a:00:00:01.000/1000", -1},
        {"0:00:00:x/1000", -1},
        {"", -1},
    };
    for (const auto& c : parsed)
        EXPECT_DOUBLE_EQ(PMMovieTimestampParse(QString::fromLatin1(c.text)), c.seconds) << c.text;
}

TEST(PMMovieFunctions, DurationsAndNaturalSizes)
{
    const auto& f = fx::fixtures();
    const PMAssetPtr clip = Asset::assetWithURL(QUrl::fromLocalFile(f.numbered()));
    EXPECT_EQ(PMAssetDurationSeconds(clip), 3);
    EXPECT_EQ(PMAssetNaturalSize(clip), QSizeF(64, 32));
    EXPECT_EQ(PMAssetNaturalSize(Asset::assetWithURL(QUrl::fromLocalFile(f.rotated()))), QSizeF(32, 64));
    EXPECT_EQ(PMAssetNaturalSize(Asset::assetWithURL(QUrl::fromLocalFile(f.coverAudio()))), QSizeF(0, 0));
    EXPECT_EQ(PMAssetDurationSeconds(Asset::assetWithURL(QUrl::fromLocalFile(f.textFile()))), 0);
    EXPECT_EQ(PMAssetDurationSeconds(nullptr), 0);

    EXPECT_EQ(PMAnimatedImageDuration(QUrl::fromLocalFile(f.gif())), 2); // 1.5 s rounds up
    EXPECT_EQ(PMAnimatedImageDuration(QUrl::fromLocalFile(f.textFile())), 0);
    EXPECT_EQ(PMAnimatedImageDuration(QUrl::fromLocalFile(f.dir() + QStringLiteral("/none.gif"))), -1);
    EXPECT_EQ(PMAnimatedImageDuration(QUrl(QStringLiteral("https://example.invalid/a.gif"))), -1);
}

TEST(PMMovieEditing, StepsAreReplayedInOrder)
{
    const auto& f = fx::fixtures();
    // Trim with start 0 keeps the head: only the tail goes.
    PMAssetPtr a = edited(f.numbered(), {step("Trim", range(0, 1.0))});
    EXPECT_NEAR(a->duration().seconds(), 1.0, 1e-6);
    EXPECT_EQ(firstAndLastFrame(a), std::make_pair(0, 9));
    // A Trim whose length reaches the end removes only the head.
    a = edited(f.numbered(), {step("Trim", range(2.0, 5.0))});
    EXPECT_NEAR(a->duration().seconds(), 1.0, 1e-6);
    EXPECT_EQ(firstAndLastFrame(a), std::make_pair(20, 29));
    // Both ends.
    a = edited(f.numbered(), {step("Trim", range(0.5, 1.0))});
    EXPECT_EQ(firstAndLastFrame(a), std::make_pair(5, 14));
    // "Cut" is read as "Delete".
    a = edited(f.numbered(), {step("Cut", range(0.0, 1.0))});
    EXPECT_NEAR(a->duration().seconds(), 2.0, 1e-6);
    EXPECT_EQ(firstAndLastFrame(a).first, 10);
    a = edited(f.numbered(), {step("Delete", range(1.0, 1.0)), step("Trim", range(0.5, 1.0))});
    EXPECT_NEAR(a->duration().seconds(), 1.0, 1e-6);
    EXPECT_EQ(firstAndLastFrame(a), std::make_pair(5, 24));
}

TEST(PMMovieEditing, UnsupportedAndBogusStepsEndTheReplay)
{
    const auto& f = fx::fixtures();
    std::mutex mutex;
    QStringList lines;
    platform::setSystemLogSink([&](const QString& line) {
        std::lock_guard lock(mutex);
        lines << line;
    });
    bool canEdit = false;
    // "Split" stops the replay: the Delete before it stays, the Trim after it is ignored.
    PMAssetPtr a = edited(f.numbered(), {step("Delete", range(0, 1.0)), step("Split", range(0, 0.5)), step("Trim", range(0, 0.5))}, &canEdit);
    EXPECT_TRUE(canEdit);
    EXPECT_NEAR(a->duration().seconds(), 2.0, 1e-6);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(lines.size(), 1);
        EXPECT_EQ(lines[0], QStringLiteral("unsupported <Split> editing action in <%1>").arg(QUrl::fromLocalFile(f.numbered()).toString()));
        lines.clear();
    }
    const std::vector<std::pair<Value, double>> bogus = {
        {step("Delete", QStringLiteral("0:00:00:00.000/1000")), 3.0},                 // no "~"
        {step("Delete", range(0, 0)), 3.0},                                            // empty length
        {step("Delete", QStringLiteral("x~0:00:00:01.000/1000")), 3.0},               // no start
        {Value(QStringLiteral("not a step")), 3.0},
    };
    for (const auto& [s, expected] : bogus) {
        a = edited(f.numbered(), {s, step("Delete", range(0, 1.0))});
        EXPECT_NEAR(a->duration().seconds(), expected, 1e-6);
    }
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("bogus time range for <Delete> editing action in <%1>").arg(QUrl::fromLocalFile(f.numbered()).toString()));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("bogus time range for <> editing action in <")));
    platform::setSystemLogSink(nullptr);
}

TEST(PMMovieEditing, ApplyingOneStep)
{
    const auto& f = fx::fixtures();
    const PMAssetPtr clip = Asset::assetWithURL(QUrl::fromLocalFile(f.numbered()));
    const auto fresh = [&] {
        const CompositionPtr c = Composition::composition();
        c->insertTimeRange({MediaTime::zero(), clip->duration()}, clip, MediaTime::zero());
        c->setAssociatedOriginalAsset(clip);
        return c;
    };
    CompositionPtr c = fresh();
    // A start beyond the end is moved to the last time unit: one unit is left deleted.
    EXPECT_EQ(PMMovieApplyEditingStep(c, 2, 10.0, 1.0), QStringLiteral("Delete"));
    EXPECT_EQ(c->duration().value, 3000000 - 1);
    EXPECT_FALSE(c->associatedOriginalAsset());
    c = fresh();
    EXPECT_EQ(PMMovieApplyEditingStep(c, 1, 10.0, 1.0), QStringLiteral("Trim"));
    EXPECT_EQ(c->duration().value, 1);
    c = fresh();
    EXPECT_EQ(PMMovieApplyEditingStep(c, 3, 0, 1.0), QString());
    EXPECT_EQ(PMMovieApplyEditingStep(c, 2, 0, 0), QString());
    EXPECT_EQ(PMMovieApplyEditingStep(c, 2, NAN, 1), QString());
    EXPECT_EQ(c->duration().value, 3000000);
    EXPECT_TRUE(c->associatedOriginalAsset());
    EXPECT_EQ(PMMovieApplyEditingStep(Composition::composition(), 2, 0, 1), QString());
}

TEST(PMMovieEditing, MovieRecordsNewSteps)
{
    const auto& f = fx::fixtures();
    PMMovieRepresentationValues values;
    values.URL = QUrl::fromLocalFile(f.numbered());
    values.uniqueLibraryID = QStringLiteral("M1");
    values.editingSteps = Array::make({step("Delete", range(0, 0.5))});
    PMMovie movie(values);
    EXPECT_FALSE(movie.canEdit());
    const PMAssetPtr asset = movie.asset();
    ASSERT_TRUE(asset);
    EXPECT_TRUE(movie.canEdit());
    EXPECT_NEAR(asset->duration().seconds(), 2.5, 1e-6);
    const DictionaryPtr added = movie.editWithAction(2, 1.0, 1.5);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->value(QStringLiteral("Action")).string(), QStringLiteral("Delete"));
    EXPECT_EQ(added->value(QStringLiteral("Range")).string(), QStringLiteral("0:00:00:01.000/1000~0:00:00:00.500/1000"));
    EXPECT_NEAR(asset->duration().seconds(), 2.0, 1e-6);
    EXPECT_EQ(movie.editingActionDescriptions()->count(), 2);
    EXPECT_FALSE(movie.editWithAction(7, 0, 1));
    // The stored steps rebuild the same movie.
    const PMAssetPtr again = PMMovie::assetWithURL(values.URL, values.uniqueLibraryID, movie.editingActionDescriptions());
    EXPECT_EQ(again->duration(), asset->duration());
    EXPECT_EQ(firstAndLastFrame(again), firstAndLastFrame(asset));
    EXPECT_FALSE(PMMovie(PMMovieRepresentationValues{}).asset());
}

TEST(PMMovieEditing, AssetValuesReachTheHandlerOnTheMainThread)
{
    const auto& f = fx::fixtures();
    qint64 seconds = -1;
    QString size, id;
    PMSetAssetValuesHandler([&](qint64 s, const QString& text, const QString& uniqueLibraryID) {
        seconds = s;
        size = text;
        id = uniqueLibraryID;
    });
    PMMovie::assetWithURL(QUrl::fromLocalFile(f.rotated()), QStringLiteral("R1"), nullptr);
    // Values of assets built by earlier tests may arrive first.
    ASSERT_TRUE(testsupport::waitUntil([&] { return id == QStringLiteral("R1"); }));
    EXPECT_EQ(seconds, 3);
    EXPECT_EQ(size, QStringLiteral("{32, 64}"));
    EXPECT_EQ(id, QStringLiteral("R1"));
    PMSetAssetValuesHandler(nullptr);
}

TEST(PMMovieSize, NaturalSizeAndFrameRate)
{
    const auto& f = fx::fixtures();
    PMMovieRepresentationValues values;
    values.URL = QUrl::fromLocalFile(f.rotated());
    PMMovie rotated(values);
    EXPECT_EQ(rotated.naturalSize(), QSizeF(32, 64));
    EXPECT_FLOAT_EQ(rotated.frameRate(), 10.0f);
    rotated.setRotatesNaturalSize(true); // the record turned by 90 degrees more
    EXPECT_EQ(rotated.naturalSize(), QSizeF(64, 32));
    EXPECT_EQ(rotated.naturalSizeWithMagnification(1.5), QSizeF(96, 48));
    rotated.setAspectRatio(0.75);
    EXPECT_EQ(rotated.naturalSize(), QSizeF(64, 48));
    rotated.invalidateNaturalSizeWithCustomVisibleArea(Dictionary::make({{QStringLiteral("w"), 0.5}, {QStringLiteral("h"), 0.25}}));
    EXPECT_EQ(rotated.naturalSize(), QSizeF(32, 8));

    values.URL = QUrl::fromLocalFile(f.coverAudio());
    values.angle = 270;
    PMMovie audio(values);
    EXPECT_TRUE(audio.rotatesNaturalSize());
    EXPECT_FLOAT_EQ(audio.frameRate(), 24.0f); // no visual track
    EXPECT_EQ(audio.naturalSize(), QSizeF(0, 0));
}

TEST(PMMovieSize, AnAnimatedWebPHasTheSizeOfItsFrames)
{
    // FFmpeg names the stream of an animated WebP without its size; its frames are 96 x 64.
    const QString path = QDir(fx::fixtures().dir()).filePath(QStringLiteral("testsrc-96x64.webp"));
    if (!QFileInfo::exists(path)) {
        ASSERT_TRUE(fx::runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=s=96x64:d=1"),
                                   QStringLiteral("-c:v"), QStringLiteral("libwebp_anim"), QStringLiteral("-loop"), QStringLiteral("0"), path}));
    }
    const PMAssetPtr asset = Asset::assetWithURL(QUrl::fromLocalFile(path));
    EXPECT_EQ(PMAssetNaturalSize(asset), QSizeF(96, 64));
    PMMovieRepresentationValues values;
    values.URL = QUrl::fromLocalFile(path);
    PMMovie movie(values);
    EXPECT_EQ(movie.naturalSize(), QSizeF(96, 64));
    ImageGenerator generator(asset);
    EXPECT_EQ(generator.copyImageAtTime(MediaTime::withSeconds(0.5)).size(), QSize(96, 64));
}

TEST(PMMovieAssets, SequenceBundlePlaysItsPartsAsOne)
{
    const auto& f = fx::fixtures();
    const std::optional<QStringList> parts = PMSequencePaths(QUrl::fromLocalFile(f.sequence()));
    ASSERT_TRUE(parts);
    EXPECT_EQ(*parts, f.sequenceParts());
    const PMAssetPtr asset = PMMovie::assetWithURL(QUrl::fromLocalFile(f.sequence()), QStringLiteral("S1"), nullptr);
    ASSERT_TRUE(asset);
    EXPECT_TRUE(asset->isComposition());
    double sum = 0;
    for (const QString& part : f.sequenceParts())
        sum += Asset::assetWithURL(QUrl::fromLocalFile(part))->duration().seconds();
    EXPECT_NEAR(asset->duration().seconds(), sum, 1e-6);
    EXPECT_NEAR(sum, 4.5, 1e-6);
    EXPECT_EQ(firstAndLastFrame(asset), std::make_pair(0, 44));
    // Edits apply across the parts.
    const PMAssetPtr trimmed = PMMovie::assetWithURL(QUrl::fromLocalFile(f.sequence()), QStringLiteral("S1"), Array::make({step("Trim", range(0.5, 1.5))}));
    EXPECT_EQ(firstAndLastFrame(trimmed), std::make_pair(5, 19));

    // Numeric order of the parts; an empty bundle has no asset; a plain folder is no bundle.
    const QString dir = testsupport::makeTempDir(QStringLiteral("seq"));
    const QString numbered = dir + QStringLiteral("/n.mseq");
    for (const char* name : {"part 10.mp4", "part 9.mp4", "part 1.mp4"})
        testsupport::writeFile(numbered + u'/' + QLatin1String(name), "x");
    const auto order = PMSequencePaths(QUrl::fromLocalFile(numbered));
    ASSERT_TRUE(order);
    EXPECT_EQ(*order, QStringList({numbered + QStringLiteral("/part 1.mp4"), numbered + QStringLiteral("/part 9.mp4"), numbered + QStringLiteral("/part 10.mp4")}));
    const QString empty = dir + QStringLiteral("/empty.mseq");
    QDir().mkpath(empty);
    EXPECT_EQ(PMSequencePaths(QUrl::fromLocalFile(empty)), QStringList());
    EXPECT_FALSE(PMMovie::assetWithURL(QUrl::fromLocalFile(empty), QStringLiteral("E"), nullptr));
    EXPECT_FALSE(PMSequencePaths(QUrl::fromLocalFile(dir)));
    EXPECT_FALSE(PMSequencePaths(QUrl::fromLocalFile(f.numbered())));
    // A bundle whose parts are not movies has no asset.
    EXPECT_FALSE(PMMovie::assetWithURL(QUrl::fromLocalFile(numbered), QStringLiteral("N"), nullptr));
}

// Holds up every conversion as it starts, until released; counts them.
struct HeldConversions {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> started{0};
    HeldConversions()
    {
        PMSetConversionStartHookForTesting([this](const QString&) {
            ++started;
            released.wait();
        });
    }
    ~HeldConversions() { PMSetConversionStartHookForTesting({}); }
};

// A conversion runs without the registry's lock: while one is held up, whether a movie is
// available and a purge are answered at once; a second request of the same key waits for
// that conversion instead of making its own; a key purged meanwhile drops what it made.
TEST(PMMovieAssets, AConversionUnderWayHoldsNoLock)
{
    const auto& f = fx::fixtures();
    PMAutoConvertedAssetsPurge(std::nullopt);
    PMSetConvertsAnimatedImagesToMovies(true);
    const QUrl gif = QUrl::fromLocalFile(f.gif());
    const auto answeredSoon = [](auto& future) { return future.wait_for(std::chrono::seconds(60)) == std::future_status::ready; };
    for (const bool purge : {false, true}) {
        const QString key = purge ? QStringLiteral("C2") : QStringLiteral("C1");
        HeldConversions held;
        std::atomic<int>& started = held.started;
        auto first = std::async(std::launch::async, [&] { return PMMovie::assetWithURL(gif, key, {}, AssetOptions{}); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return started == 1; }, 30000));
        auto available = std::async(std::launch::async, [&] { return PMAutoConvertedAssetIsAvailable(key); });
        ASSERT_TRUE(answeredSoon(available));
        EXPECT_FALSE(available.get());
        auto second = std::async(std::launch::async, [&] { return PMMovie::assetWithURL(gif, key, {}, AssetOptions{}); });
        if (purge) {
            auto purged = std::async(std::launch::async, [&] { PMAutoConvertedAssetsPurge(QStringList{key}); });
            ASSERT_TRUE(answeredSoon(purged));
        }
        held.release.set_value();
        const PMAssetPtr a = first.get();
        const PMAssetPtr b = second.get();
        ASSERT_TRUE(a && b);
        const QString movie = PMAutoConvertedAssetsFolder(false) + u'/' + key + QStringLiteral(".mov");
        if (!purge) {
            EXPECT_EQ(started, 1);
            EXPECT_EQ(a->URL(), QUrl::fromLocalFile(movie));
            EXPECT_EQ(b->URL(), a->URL());
            EXPECT_TRUE(PMAutoConvertedAssetIsAvailable(key));
        } else {
            // The purged conversion plays the source; a request after it converts anew.
            EXPECT_EQ(a->URL(), gif);
            EXPECT_EQ(started + 0, b->URL() == gif ? 1 : 2);
        }
    }
    PMAutoConvertedAssetsPurge(std::nullopt);
    PMSetConvertsAnimatedImagesToMovies(false);
}

// A movie's player is there at once: its asset is made on a worker (here a conversion held
// up), never a second time meanwhile, and the player plays it when it comes.
TEST(PMMovieAssets, APlayerIsThereWhileItsAssetIsMade)
{
    Player::setDefaultAudioOutput(QStringLiteral("null"));
    PMAutoConvertedAssetsPurge(std::nullopt);
    PMSetConvertsAnimatedImagesToMovies(true);
    HeldConversions held;
    PMMovieRepresentationValues values;
    values.URL = QUrl::fromLocalFile(fx::fixtures().gif());
    values.uniqueLibraryID = QStringLiteral("W1");
    PMMovie movie(values);
    const PMPlayerPtr player = movie.player();
    ASSERT_TRUE(player);
    ASSERT_TRUE(testsupport::waitUntil([&] { return held.started == 1; }, 30000));
    EXPECT_FALSE(movie.asset());
    EXPECT_FALSE(movie.canEdit());
    EXPECT_EQ(player->status(), PlayerItemStatus::Unknown);
    held.release.set_value();
    EXPECT_TRUE(testsupport::waitUntil([&] { return player->status() == PlayerItemStatus::ReadyToPlay; }, 10000));
    ASSERT_TRUE(movie.asset());
    EXPECT_EQ(movie.asset(), player->currentAsset());
    EXPECT_TRUE(Player::loadURLForAsset(movie.asset()).endsWith(QLatin1String("/W1.mov")));
    EXPECT_EQ(held.started, 1);
    PMAutoConvertedAssetsPurge(std::nullopt);
    PMSetConvertsAnimatedImagesToMovies(false);
}

TEST(PMMovieAssets, AnimatedImageIsConvertedOnceAndReused)
{
    const auto& f = fx::fixtures();
    PMAutoConvertedAssetsPurge(std::nullopt);
    const QUrl gif = QUrl::fromLocalFile(f.gif());
    // Without the flag the image is its own asset.
    PMSetConvertsAnimatedImagesToMovies(false);
    EXPECT_EQ(PMMovie::assetWithURL(gif, QStringLiteral("G1"), {}, AssetOptions{})->URL(), gif);

    PMSetConvertsAnimatedImagesToMovies(true);
    const PMAssetPtr converted = PMMovie::assetWithURL(gif, QStringLiteral("G1"), {}, AssetOptions{});
    const QString folder = PMAutoConvertedAssetsFolder(false);
    EXPECT_EQ(converted->URL(), QUrl::fromLocalFile(folder + QStringLiteral("/G1.mov")));
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther), QFileDevice::Permissions());
    EXPECT_TRUE(folder.startsWith(testsupport::testHome()));
    EXPECT_NEAR(converted->duration().seconds(), 1.5, 0.01);
    EXPECT_EQ(converted->tracksWithMediaType(MediaType::Video).at(0).codecName, QStringLiteral("h264"));
    ImageGenerator g(converted);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fx::decodeFrameNumber(g.copyImageAtTime(MediaTime::withSeconds(i * 0.5 + 0.25))), i);

    // The second request uses the registered file without converting again.
    const QDateTime written = QFileInfo(converted->URL().toLocalFile()).lastModified().toUTC();
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner); // a new conversion could not write
    const PMAssetPtr again = PMMovie::assetWithURL(gif, QStringLiteral("G1"), {}, AssetOptions{});
    EXPECT_EQ(again->URL(), converted->URL());
    EXPECT_EQ(QFileInfo(again->URL().toLocalFile()).lastModified().toUTC(), written);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // A single-frame image is not converted and plays from its file, remembered as such.
    const QString single = testsupport::makeTempDir(QStringLiteral("single")) + QStringLiteral("/one.gif");
    QImage one(8, 8, QImage::Format_RGB32);
    one.fill(Qt::red);
    ASSERT_TRUE(one.save(single, "GIF") || one.save(single, "PNG"));
    EXPECT_EQ(PMMovie::assetWithURL(QUrl::fromLocalFile(single), QStringLiteral("G2"), {}, AssetOptions{})->URL(), QUrl::fromLocalFile(single));

    // Purging by ID removes the file; purging everything removes the folder.
    PMAutoConvertedAssetsPurge(QStringList{QStringLiteral("G1")});
    EXPECT_FALSE(QFile::exists(converted->URL().toLocalFile()));
    PMAutoConvertedAssetsPurge(std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(folder));
    PMSetConvertsAnimatedImagesToMovies(false);
}

TEST(PMMovieAssets, FrameImagesBecomeOneMovie)
{
    const auto& f = fx::fixtures();
    PMAutoConvertedAssetsPurge(std::nullopt);
    UserDefaults::standard().setInteger(4, QStringLiteral("Image Selection Movie: Frames Per Second"));
    const QString dir = testsupport::makeTempDir(QStringLiteral("frames"));
    const QByteArray raw = fx::numberedFrames(3);
    PMFrameImageMovieRepresentations frames;
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
        const QImage image(reinterpret_cast<const uchar*>(raw.constData()) + i * 64 * 32 * 3, 64, 32, 64 * 3, QImage::Format_RGB888);
        paths << dir + QStringLiteral("/%1.png").arg(i);
        ASSERT_TRUE(image.save(paths.last()));
        if (i > 0)
            frames.push_back({QUrl::fromLocalFile(paths.last()), QStringLiteral("F%1").arg(i)});
    }
    const PMAssetPtr movie = PMMovie::assetWithURL(QUrl::fromLocalFile(paths[0]), QStringLiteral("F0"), frames, AssetOptions{});
    EXPECT_EQ(movie->URL().fileName(), QStringLiteral("+1.mov"));
    EXPECT_NEAR(movie->duration().seconds(), 0.75, 0.01); // 3 frames at 4 per second
    EXPECT_EQ(firstAndLastFrame(movie), std::make_pair(0, 2));
    // The same set again: the registered movie.
    EXPECT_EQ(PMMovie::assetWithURL(QUrl::fromLocalFile(paths[0]), QStringLiteral("F0"), frames, AssetOptions{})->URL(), movie->URL());

    // Frame images that cannot be read make no movie: the first file is used.
    PMFrameImageMovieRepresentations unreadable = {{QUrl::fromLocalFile(f.textFile()), QStringLiteral("T1")}};
    const QUrl text = QUrl::fromLocalFile(dir + QStringLiteral("/missing.png"));
    EXPECT_EQ(PMMovie::assetWithURL(text, QStringLiteral("T0"), unreadable, AssetOptions{})->URL(), text);
    UserDefaults::standard().removeObjectForKey(QStringLiteral("Image Selection Movie: Frames Per Second"));
    PMAutoConvertedAssetsPurge(std::nullopt);
}

TEST(PMMovieAssets, FrameGrabOfAnAsset)
{
    const auto& f = fx::fixtures();
    const PMAssetPtr clip = PMMovie::assetWithURL(QUrl::fromLocalFile(f.rotated()), QStringLiteral("R"), nullptr);
    const ImagePtr image = frameImageAtTime(clip, 1.25, false, 0, nullptr, Value(), QSizeF());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSizeF(32, 64)); // turned by the display matrix, one pixel a point
    EXPECT_FALSE(frameImageAtTime(clip, NAN, false, 0, nullptr, Value(), QSizeF()));
    // With the program's frame transform (the tiles' own), a size asked for is filled: the
    // frame is scaled down until its shorter side meets it.
    EXPECT_EQ(frameImageAtTime(clip, 1.0, false, 0, nullptr, Value(), QSizeF(16, 16))->size(), QSizeF(16, 32));
}
