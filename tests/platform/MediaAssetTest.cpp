#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"
#include "platform/media/MovieWriter.h"
#include "platform/Paths.h"

#include "common/MediaFixtures.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <map>

#include <fcntl.h>
#include <unistd.h>

using namespace platform::media;
namespace fx = testsupport::media;

namespace {

AssetPtr open(const QString& path)
{
    return Asset::assetWithURL(QUrl::fromLocalFile(path));
}

std::map<QString, MetadataItem> byIdentifier(const std::vector<MetadataItem>& items)
{
    std::map<QString, MetadataItem> map;
    for (const auto& i : items)
        map[i.identifier] = i;
    return map;
}

} // namespace

TEST(MediaTime, ArithmeticIsExactAcrossScales)
{
    const MediaTime a = MediaTime::make(3, 10);     // 0.3 s
    const MediaTime b = MediaTime::make(600, 1000); // 0.6 s
    EXPECT_EQ((a + b).convertScale(1000).value, 900);
    EXPECT_TRUE(a < b);
    EXPECT_EQ(MediaTime::withSeconds(2.5, 600).value, 1500);
    EXPECT_FALSE(MediaTime::withSeconds(std::nan(""), 600).isValid());
    EXPECT_FALSE(MediaTime::positiveInfinity().isNumeric());
    EXPECT_FALSE(MediaTime::indefinite().isNumeric());
    EXPECT_TRUE(MediaTime::positiveInfinity() > MediaTime::make(1LL << 40, 1));
}

TEST(MediaAsset, ClipAnswersDurationTracksAndFrameRate)
{
    const auto& f = fx::fixtures();
    const AssetPtr asset = open(f.numbered());
    ASSERT_TRUE(asset);
    EXPECT_NEAR(asset->duration().seconds(), 3.0, 1e-6);
    const auto video = asset->tracksWithMediaType(MediaType::Video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].naturalSize, QSizeF(64, 32));
    EXPECT_FLOAT_EQ(video[0].nominalFrameRate, 10.0f);
    EXPECT_TRUE(video[0].preferredTransform.isIdentity());
    EXPECT_TRUE(asset->isPlayable());
    EXPECT_TRUE(asset->error().isEmpty());
    EXPECT_FALSE(Asset::assetWithURL(QUrl(QStringLiteral("https://example.invalid/a.mp4"))));
}

TEST(MediaAsset, AClipWhoseNameIsNotUTF8IsRead)
{
    const auto& f = fx::fixtures();
    QFile source(f.numbered());
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const QByteArray native = QFile::encodeName(f.dir()) + "/caf\xE9.mp4"; // a Latin-1 name
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
    const AssetPtr asset = open(platform::decodeFileName(native));
    ASSERT_TRUE(asset);
    EXPECT_NEAR(asset->duration().seconds(), 3.0, 1e-6) << asset->error().toStdString();
    EXPECT_EQ(asset->tracksWithMediaType(MediaType::Video).size(), 1u);
    ::unlink(native.constData());
}

TEST(MediaAsset, RotatedClipCarriesItsDisplayMatrix)
{
    const auto& f = fx::fixtures();
    const auto video = open(f.rotated())->tracksWithMediaType(MediaType::Video);
    ASSERT_EQ(video.size(), 1u);
    const AffineTransform t = video[0].preferredTransform;
    EXPECT_EQ(video[0].naturalSize, QSizeF(64, 32)); // the coded size; the matrix turns it
    EXPECT_NEAR(std::abs(t.b), 1.0, 1e-9);
    EXPECT_NEAR(std::abs(t.c), 1.0, 1e-9);
    EXPECT_NEAR(t.a, 0.0, 1e-9);
    EXPECT_NEAR(t.d, 0.0, 1e-9);
}

TEST(MediaAsset, TagsAndChaptersAreRead)
{
    const auto& f = fx::fixtures();
    const AssetPtr asset = open(f.tagged());
    const auto items = byIdentifier(asset->metadata());
    const std::map<QString, QString> expected = {
        {QStringLiteral("itsk/%A9nam"), QStringLiteral("Tagged Clip")},
        {QStringLiteral("itsk/%A9ART"), QStringLiteral("The Artist")},
        {QStringLiteral("itsk/%A9alb"), QStringLiteral("The Album")},
        {QStringLiteral("itsk/%A9gen"), QStringLiteral("Drama")},
        {QStringLiteral("itsk/%A9day"), QStringLiteral("2019-05-04")},
        {QStringLiteral("itsk/tvsh"), QStringLiteral("The Show")},
    };
    for (const auto& [identifier, value] : expected) {
        ASSERT_TRUE(items.count(identifier)) << identifier.toStdString();
        EXPECT_EQ(items.at(identifier).stringValue, value) << identifier.toStdString();
    }
    ASSERT_TRUE(items.count(QStringLiteral("itsk/tvsn")));
    EXPECT_EQ(items.at(QStringLiteral("itsk/tvsn")).numberValue.value_or(-1), 2.0);
    EXPECT_EQ(items.at(QStringLiteral("itsk/tves")).numberValue.value_or(-1), 7.0);
    EXPECT_FALSE(items.count(QStringLiteral("mdta/major_brand")));

    const auto chapters = asset->chapters();
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[0].title, QStringLiteral("Opening"));
    EXPECT_NEAR(chapters[0].timeRange.start.seconds(), 0.0, 1e-6);
    EXPECT_NEAR(chapters[0].timeRange.duration.seconds(), 1.5, 1e-6);
    EXPECT_EQ(chapters[1].title, QStringLiteral("Ending"));
    EXPECT_NEAR(chapters[1].timeRange.start.seconds(), 1.5, 1e-6);
}

TEST(MediaAsset, MetadataMappingTable)
{
    const struct { const char* key; const char* value; const char* identifier; double number; } cases[] = {
        {"album", "A", "itsk/%A9alb", NAN},
        {"ALBUM", "A", "itsk/%A9alb", NAN},     // Matroska and Ogg write upper case
        {"composer", "C", "itsk/%A9wrt", NAN},
        {"episode_id", "S01E02", "itsk/tven", NAN},
        {"tmpo", "120", "itsk/tmpo", 120},
        {"season_number", "x", "itsk/tvsn", NAN}, // not a number: text only
        {"iTunMOVI", "<plist/>", "itlk/com.apple.iTunes.iTunMOVI", NAN},
        {"com.apple.quicktime.make", "M", "mdta/com.apple.quicktime.make", NAN},
        {"weird key%\xc3\xa9", "v", "mdta/weird key%25%C3%A9", NAN},
    };
    for (const auto& c : cases) {
        const auto item = metadataItemFromTag(QString::fromUtf8(c.key), QString::fromUtf8(c.value));
        ASSERT_TRUE(item) << c.key;
        EXPECT_EQ(item->identifier, QString::fromUtf8(c.identifier)) << c.key;
        EXPECT_EQ(item->numberValue.has_value(), !std::isnan(c.number)) << c.key;
        if (item->numberValue) {
            EXPECT_EQ(*item->numberValue, c.number);
        }
    }
    EXPECT_FALSE(metadataItemFromTag(QStringLiteral("compatible_brands"), QStringLiteral("isom")));
}

TEST(MediaAsset, AudioFileGivesItsCoverAndNoVideoTrack)
{
    const auto& f = fx::fixtures();
    const AssetPtr asset = open(f.coverAudio());
    EXPECT_TRUE(asset->tracksWithMediaType(MediaType::Video).empty());
    EXPECT_EQ(asset->tracksWithMediaType(MediaType::Audio).size(), 1u);
    const QImage cover = asset->coverImage();
    ASSERT_FALSE(cover.isNull());
    EXPECT_EQ(cover.size(), QSize(32, 24));
    EXPECT_GT(qRed(cover.pixel(5, 5)), 240);
    EXPECT_NEAR(asset->duration().seconds(), 1.0, 0.1);
}

TEST(MediaAsset, BrokenFilesFail)
{
    const auto& f = fx::fixtures();
    for (const QString& path : {f.truncated(), f.textFile(), f.dir() + QStringLiteral("/missing.mp4")}) {
        const AssetPtr asset = open(path);
        EXPECT_FALSE(asset->duration().isValid()) << path.toStdString();
        EXPECT_FALSE(asset->error().isEmpty()) << path.toStdString();
        EXPECT_TRUE(asset->tracks().empty());
        EXPECT_FALSE(asset->isPlayable());
        EXPECT_EQ(asset->statusOfValueForKey(QStringLiteral("duration")), LoadStatus::Failed);
        ImageGenerator generator(asset);
        QString error;
        EXPECT_TRUE(generator.copyImageAtTime(MediaTime::withSeconds(1.0), nullptr, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(MediaAsset, ValuesLoadInTheBackgroundAndAnswerOnTheMainThread)
{
    const auto& f = fx::fixtures();
    const AssetPtr asset = open(f.numbered());
    EXPECT_EQ(asset->statusOfValueForKey(QStringLiteral("duration")), LoadStatus::Unknown);
    int calls = 0;
    bool onMain = false;
    asset->loadValuesAsynchronouslyForKeys({QStringLiteral("duration"), QStringLiteral("tracks")}, [&] {
        ++calls;
        onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return calls > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(asset->statusOfValueForKey(QStringLiteral("tracks")), LoadStatus::Loaded);
}

// ---- Compositions

TEST(MediaComposition, InsertAndRemoveKeepExactTimes)
{
    const auto& f = fx::fixtures();
    const AssetPtr clip = open(f.numbered());
    const CompositionPtr c = Composition::composition();
    const TimeRange whole = {MediaTime::zero(), clip->duration()};
    ASSERT_TRUE(c->insertTimeRange(whole, clip, MediaTime::zero()));
    EXPECT_EQ(c->duration(), MediaTime::make(3000000, MediaTime::kDefaultTimescale));
    // Remove [1 s, 1.5 s): time 1.2 then shows source 1.7.
    c->removeTimeRange({MediaTime::withSeconds(1.0), MediaTime::withSeconds(0.5)});
    EXPECT_NEAR(c->duration().seconds(), 2.5, 1e-9);
    const int video = c->tracksWithMediaType(MediaType::Video).at(0).trackID;
    Composition::Segment segment;
    MediaTime source;
    ASSERT_TRUE(c->getSegmentForTime(video, MediaTime::withSeconds(1.2), &segment, &source));
    EXPECT_NEAR(source.seconds(), 1.7, 1e-9);
    ASSERT_TRUE(c->getSegmentForTime(video, MediaTime::withSeconds(0.2), &segment, &source));
    EXPECT_NEAR(source.seconds(), 0.2, 1e-9);
    EXPECT_EQ(c->segmentsForTrack(video).size(), 2u);
    // Insert the first second again at 0.5 s.
    ASSERT_TRUE(c->insertTimeRange({MediaTime::zero(), MediaTime::withSeconds(1.0)}, clip, MediaTime::withSeconds(0.5)));
    EXPECT_NEAR(c->duration().seconds(), 3.5, 1e-9);
    ASSERT_TRUE(c->getSegmentForTime(video, MediaTime::withSeconds(0.7), &segment, &source));
    EXPECT_NEAR(source.seconds(), 0.2, 1e-9);
    ASSERT_TRUE(c->getSegmentForTime(video, MediaTime::withSeconds(1.7), &segment, &source));
    EXPECT_NEAR(source.seconds(), 0.7, 1e-9);
    // Removing everything leaves an empty composition.
    c->removeTimeRange({MediaTime::zero(), c->duration()});
    EXPECT_EQ(c->duration().value, 0);
    EXPECT_FALSE(c->insertTimeRange(whole, open(f.textFile()), MediaTime::zero()));
}

// Whether an edited timeline shows a picture at its start, answered as the player would
// find one: where the seek lands on a key frame, by the packets after it (a key frame far
// before the piece is not decoded up to it); where a transport stream's seek lands between
// key frames, by decoding.
TEST(MediaComposition, APictureAtTheStartIsFoundWhereThePlayerFindsOne)
{
    const auto& f = fx::fixtures();
    const QString oneKeyStream = f.dir() + QStringLiteral("/one-key-stream.ts");
    if (!QFile::exists(oneKeyStream)) {
        ASSERT_TRUE(fx::makeNumberedClip(oneKeyStream, 60, 0,
                                         {QStringLiteral("-x264-params"), QStringLiteral("keyint=1000:min-keyint=1000:scenecut=0"), QStringLiteral("-output_ts_offset"),
                                          QStringLiteral("10"), QStringLiteral("-f"), QStringLiteral("mpegts")}));
    }
    const struct {
        QString path;
        double start;
        double length;
        bool picture;
    } rows[] = {
        {f.numbered(), 0.0, 3.0, true},
        {f.longGOP(), 12.0, 2.0, true},   // 12 s after its only key frame
        {f.longGOP(), 12.02, 0.05, false}, // between two frames: none starts in the piece
        {f.transportStream(), 1.0, 1.5, true},
        {oneKeyStream, 3.0, 2.0, false},    // the seek lands between key frames: nothing decodes
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.path.toStdString() << " " << row.start << "+" << row.length);
        const AssetPtr file = open(row.path);
        const CompositionPtr c = Composition::composition();
        ASSERT_TRUE(c->insertTimeRange({MediaTime::withSeconds(row.start), MediaTime::withSeconds(row.length)}, file, MediaTime::zero()));
        QString error;
        EXPECT_EQ(ImageGenerator::playsAPictureAtItsStart(c, &error), row.picture) << error.toStdString();
        EXPECT_EQ(error.isEmpty(), row.picture) << error.toStdString();
    }
}

// ---- Frame grabs

class FrameGrabs : public ::testing::Test {
protected:
    static int grabNumber(ImageGenerator& g, double seconds, MediaTime* actual = nullptr)
    {
        QString error;
        const QImage image = g.copyImageAtTime(MediaTime::withSeconds(seconds), actual, &error);
        EXPECT_FALSE(image.isNull()) << error.toStdString();
        return fx::decodeFrameNumber(image);
    }
};

TEST_F(FrameGrabs, ExactGrabAnswersTheFrameShownAtTheTime)
{
    const auto& f = fx::fixtures();
    ImageGenerator g(open(f.numbered()));
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    // Out of order, across key frames (every 12 frames), on and between frame starts.
    const double times[] = {0.0, 0.05, 1.25, 0.1, 0.99, 2.95, 1.2, 1.19, 2.35, 0.3, 2.9, 2.999, 1.1};
    for (const double t : times) {
        MediaTime actual;
        EXPECT_EQ(grabNumber(g, t, &actual), int(std::floor(t * fx::kClipFPS + 1e-9))) << t;
        EXPECT_NEAR(actual.seconds(), std::floor(t * fx::kClipFPS + 1e-9) / fx::kClipFPS, 1e-6) << t;
    }
    // Past the end: the last frame.
    EXPECT_EQ(grabNumber(g, 10.0), fx::kClipFrames - 1);
    QString error;
    EXPECT_TRUE(g.copyImageAtTime(MediaTime::invalid(), nullptr, &error).isNull());
}

TEST_F(FrameGrabs, TolerantGrabTakesANearbyKeyFrame)
{
    const auto& f = fx::fixtures();
    ImageGenerator g(open(f.numbered()));
    // Key frames at 0, 1.2 and 2.4 s.
    g.setRequestedTimeToleranceBefore(MediaTime::withSeconds(2.0));
    g.setRequestedTimeToleranceAfter(MediaTime::withSeconds(2.0));
    for (const double t : {1.3, 2.3, 0.4, 2.9}) {
        MediaTime actual;
        const int n = grabNumber(g, t, &actual);
        EXPECT_TRUE(n == 0 || n == 12 || n == 24) << t << " gave " << n;
        EXPECT_NEAR(actual.seconds(), n / 10.0, 1e-6);
        EXPECT_LE(std::abs(actual.seconds() - t), 2.0);
    }
    g.setRequestedTimeToleranceBefore(MediaTime::withSeconds(0.2));
    g.setRequestedTimeToleranceAfter(MediaTime::withSeconds(0.2));
    EXPECT_EQ(grabNumber(g, 1.3), 12);
    EXPECT_EQ(grabNumber(g, 2.3), 24); // the key frame after the time
    g.setRequestedTimeToleranceBefore(MediaTime::withSeconds(0.05));
    g.setRequestedTimeToleranceAfter(MediaTime::withSeconds(0.05));
    EXPECT_EQ(grabNumber(g, 0.75), 7); // no key frame that near: decoded exactly
}

TEST_F(FrameGrabs, DisplayMatrixTurnsThePicture)
{
    const auto& f = fx::fixtures();
    ImageGenerator g(open(f.rotated()));
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    g.setAppliesPreferredTrackTransform(true);
    const QImage turned = g.copyImageAtTime(MediaTime::withSeconds(0.5));
    ASSERT_EQ(turned.size(), QSize(32, 64));
    const auto video = open(f.rotated())->tracksWithMediaType(MediaType::Video);
    const QTransform back = video[0].preferredTransform.toQTransform().inverted();
    EXPECT_EQ(fx::decodeFrameNumber(turned.transformed(QTransform(back.m11(), back.m12(), back.m21(), back.m22(), 0, 0))), 5);
    g.setAppliesPreferredTrackTransform(false);
    EXPECT_EQ(fx::decodeFrameNumber(g.copyImageAtTime(MediaTime::withSeconds(0.5))), 5);
    g.setMaximumSize(QSize(16, 16));
    g.setAppliesPreferredTrackTransform(true);
    EXPECT_EQ(g.copyImageAtTime(MediaTime::withSeconds(0.5)).size(), QSize(8, 16));
}

TEST_F(FrameGrabs, CompositionGrabsFollowTheSegments)
{
    const auto& f = fx::fixtures();
    const CompositionPtr c = Composition::composition();
    MediaTime at = MediaTime::zero();
    for (const QString& part : f.sequenceParts()) {
        const AssetPtr asset = open(part);
        ASSERT_TRUE(c->insertTimeRange({MediaTime::zero(), asset->duration()}, asset, at));
        at = at + asset->duration();
    }
    EXPECT_NEAR(c->duration().seconds(), 4.5, 1e-6);
    ImageGenerator g(c);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    for (const double t : {0.0, 0.95, 1.0, 2.45, 2.5, 4.4})
        EXPECT_EQ(grabNumber(g, t), int(std::floor(t * fx::kClipFPS + 1e-9))) << t;
    MediaTime actual;
    EXPECT_EQ(grabNumber(g, 4.5, &actual), 44); // the end shows the last frame
    EXPECT_NEAR(actual.seconds(), 4.4, 1e-6);
}

TEST_F(FrameGrabs, ATransportStreamIsGrabbedOnItsOwnClock)
{
    // Its clock starts 11.4 s in; frame n shows from 0.0232 + n / 10 s of the asset.
    const AssetPtr file = open(fx::fixtures().transportStream());
    const CompositionPtr movie = Composition::composition();
    ASSERT_TRUE(movie->insertTimeRange({MediaTime::zero(), file->duration()}, file, MediaTime::zero()));
    for (const AssetPtr& asset : {file, AssetPtr(movie)}) {
        SCOPED_TRACE(asset->isComposition() ? "its composition" : "the file");
        ImageGenerator g(asset);
        g.setRequestedTimeToleranceBefore(MediaTime::zero());
        g.setRequestedTimeToleranceAfter(MediaTime::zero());
        // The start, the middle, the end.
        for (const auto& [t, frame] : {std::pair{0.0, 0}, std::pair{1.55, 15}, std::pair{2.98, 29}})
            EXPECT_EQ(grabNumber(g, t), frame) << t;
        // With a tolerance: a key frame (every 1.2 s) or the frame itself.
        g.setRequestedTimeToleranceBefore(MediaTime::withSeconds(1.0));
        g.setRequestedTimeToleranceAfter(MediaTime::withSeconds(1.0));
        MediaTime actual;
        const int n = grabNumber(g, 1.55, &actual);
        EXPECT_LE(std::abs(actual.seconds() - 1.55), 1.0) << n;
        EXPECT_NEAR(actual.seconds(), 0.0232 + n / 10.0, 0.01) << n;
    }
}

TEST_F(FrameGrabs, EveryAsynchronousRequestIsAnsweredOnce)
{
    const auto& f = fx::fixtures();
    struct Answer { double time; ImageGenerator::Result result; int frame; };
    std::mutex mutex;
    std::vector<Answer> answers;
    const auto handler = [&](const MediaTime& requested, const QImage& image, const MediaTime&, ImageGenerator::Result result, const QString&) {
        std::lock_guard lock(mutex);
        answers.push_back({requested.seconds(), result, fx::decodeFrameNumber(image)});
    };
    {
        ImageGenerator g(open(f.numbered()));
        g.setRequestedTimeToleranceBefore(MediaTime::zero());
        g.setRequestedTimeToleranceAfter(MediaTime::zero());
        g.generateImagesAsynchronouslyForTimes({MediaTime::withSeconds(0.5), MediaTime::withSeconds(1.5), MediaTime::invalid()}, handler);
        ASSERT_TRUE(testsupport::waitUntil([&] { std::lock_guard lock(mutex); return answers.size() == 3; }));
        std::lock_guard lock(mutex);
        EXPECT_EQ(answers[0].frame, 5);
        EXPECT_EQ(answers[1].frame, 15);
        EXPECT_EQ(answers[2].result, ImageGenerator::Result::Failed);
    }
    {
        std::lock_guard lock(mutex);
        answers.clear();
    }
    {
        // Many requests, then a cancellation and the generator's end: each still answered once.
        ImageGenerator g(open(f.numbered()));
        std::vector<MediaTime> times;
        for (int i = 0; i < 40; ++i)
            times.push_back(MediaTime::withSeconds(i * 0.07));
        g.generateImagesAsynchronouslyForTimes(times, handler);
        g.cancelAllImageGeneration();
        g.generateImagesAsynchronouslyForTimes({MediaTime::withSeconds(0.1)}, handler);
    }
    std::unique_lock lock(mutex);
    ASSERT_EQ(answers.size(), 41u);
    std::map<double, int> counts;
    for (const Answer& a : answers)
        ++counts[a.time];
    for (int i = 0; i < 40; ++i)
        EXPECT_GE(counts[MediaTime::withSeconds(i * 0.07).seconds()], 1);
    int cancelled = 0;
    for (const Answer& a : answers)
        cancelled += a.result == ImageGenerator::Result::Cancelled;
    EXPECT_GE(cancelled, 30);

    // Failing files answer too.
    answers.clear();
    for (const QString& path : {f.textFile(), f.truncated(), f.truncatedFastStart()}) {
        ImageGenerator g(open(path));
        std::atomic<int> count = 0;
        g.generateImagesAsynchronouslyForTimes({MediaTime::withSeconds(2.9)}, [&](const MediaTime&, const QImage&, const MediaTime&, ImageGenerator::Result r, const QString&) {
            answers.push_back({0, r, 0});
            ++count;
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return count == 1; }));
    }
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].result, ImageGenerator::Result::Failed);
    EXPECT_EQ(answers[1].result, ImageGenerator::Result::Failed);
}

// ---- Writer

TEST(MovieWriter, WritesAnH264MovieThatReadsBack)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("writer"));
    const QString path = dir + QStringLiteral("/out.mov");
    MovieWriter w;
    ASSERT_TRUE(w.startWriting(path, QSize(64, 32), 600));
    const QByteArray raw = fx::numberedFrames(4);
    for (int i = 0; i < 4; ++i) {
        const QImage frame(reinterpret_cast<const uchar*>(raw.constData()) + i * 64 * 32 * 3, 64, 32, 64 * 3, QImage::Format_RGB888);
        // Frames of another size are scaled to the movie's.
        const QImage given = i == 2 ? frame.scaled(128, 64) : frame;
        ASSERT_TRUE(w.appendImage(given, i * 300)) << w.error().toStdString();
    }
    ASSERT_TRUE(w.finishWriting(1200)) << w.error().toStdString();
    EXPECT_EQ(w.status(), MovieWriter::Status::Completed);
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".part")));

    const AssetPtr movie = open(path);
    EXPECT_NEAR(movie->duration().seconds(), 2.0, 0.01);
    const auto video = movie->tracksWithMediaType(MediaType::Video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].codecName, QStringLiteral("h264"));
    EXPECT_EQ(video[0].naturalSize, QSizeF(64, 32));
    ImageGenerator g(movie);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(fx::decodeFrameNumber(g.copyImageAtTime(MediaTime::withSeconds(i * 0.5 + 0.25))), i);
}

TEST(MovieWriter, FailuresLeaveNoFile)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("writer-fail"));
    {
        MovieWriter w;
        QString error;
        EXPECT_FALSE(w.startWriting(dir + QStringLiteral("/missing/folder/out.mov"), QSize(16, 16), 600, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(w.status(), MovieWriter::Status::Failed);
    }
    {
        MovieWriter w;
        EXPECT_FALSE(w.startWriting(dir + QStringLiteral("/zero.mov"), QSize(0, 16), 600));
    }
    {
        QImage frame(16, 16, QImage::Format_RGB32);
        frame.fill(Qt::white);
        MovieWriter w;
        ASSERT_TRUE(w.startWriting(dir + QStringLiteral("/backwards.mov"), QSize(15, 15), 600));
        EXPECT_EQ(w.size(), QSize(16, 16));
        ASSERT_TRUE(w.appendImage(frame, 100));
        EXPECT_FALSE(w.appendImage(frame, 100)); // times must increase
        EXPECT_EQ(w.status(), MovieWriter::Status::Failed);
    }
    {
        MovieWriter w;
        ASSERT_TRUE(w.startWriting(dir + QStringLiteral("/cancelled.mov"), QSize(16, 16), 600));
        w.cancelWriting();
        EXPECT_EQ(w.status(), MovieWriter::Status::Cancelled);
    }
    {
        // An existing file is never replaced.
        testsupport::writeFile(dir + QStringLiteral("/taken.mov"), "keep");
        QImage frame(16, 16, QImage::Format_RGB32);
        frame.fill(Qt::white);
        MovieWriter w;
        ASSERT_TRUE(w.startWriting(dir + QStringLiteral("/taken.mov"), QSize(16, 16), 600));
        ASSERT_TRUE(w.appendImage(frame, 0));
        EXPECT_FALSE(w.finishWriting(600));
        EXPECT_EQ(testsupport::readFile(dir + QStringLiteral("/taken.mov")), QByteArray("keep"));
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{QStringLiteral("taken.mov")});
}

// ---- Damaged files: every cut and every scribble gives an answer, never a crash or a hang.

TEST(MediaDamage, CutAndScribbledFilesAnswer)
{
    const auto& f = fx::fixtures();
    const QByteArray whole = testsupport::readFile(f.truncatedFastStart()); // index first, so the cuts reach the frames
    const QByteArray original = testsupport::readFile(f.numbered());
    ASSERT_FALSE(original.isEmpty());
    const QString dir = testsupport::makeTempDir(QStringLiteral("damage"));
    std::vector<QByteArray> damaged;
    for (int percent : {1, 5, 20, 40, 60, 80, 95})
        damaged.push_back(original.left(original.size() * percent / 100));
    for (int percent : {10, 50, 90})
        damaged.push_back(whole.left(whole.size() * percent / 100));
    for (int seed = 1; seed <= 6; ++seed) {
        QByteArray scribbled = original;
        quint32 x = quint32(seed) * 2654435761u;
        for (int i = 0; i < 40; ++i) {
            x = x * 1664525u + 1013904223u;
            scribbled[qsizetype(x % quint32(scribbled.size()))] = char(x >> 24);
        }
        damaged.push_back(scribbled);
    }
    int index = 0;
    for (const QByteArray& bytes : damaged) {
        const QString path = dir + QStringLiteral("/damaged-%1.mp4").arg(index++);
        testsupport::writeFile(path, bytes);
        const AssetPtr asset = open(path);
        asset->duration();
        asset->metadata();
        asset->chapters();
        ImageGenerator g(asset);
        g.setRequestedTimeToleranceBefore(MediaTime::zero());
        g.setRequestedTimeToleranceAfter(MediaTime::zero());
        for (const double t : {0.0, 1.3, 2.9}) {
            QString error;
            const QImage image = g.copyImageAtTime(MediaTime::withSeconds(t), nullptr, &error);
            EXPECT_TRUE(!image.isNull() || !error.isEmpty()) << path.toStdString();
        }
    }
}

// ---- Files from the wild: things found in real library folders.

TEST(MediaWildFiles, PipesDevicesAndFoldersFailAtOnce)
{
    const auto& f = fx::fixtures();
    const QString folder = testsupport::makeTempDir(QStringLiteral("folder.mp4"));
    for (const QString& path : {f.fifo(), QStringLiteral("/dev/zero"), folder}) {
        SCOPED_TRACE(path.toStdString());
        const AssetPtr asset = open(path);
        // A blocking open would never return: wait a while, then let a writer in so that
        // a failing build ends instead of hanging.
        auto opened = std::async(std::launch::async, [asset] { return asset->error(); });
        if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "opening blocks";
            const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        const QString error = opened.get();
        EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << error.toStdString();
        EXPECT_TRUE(asset->tracks().empty());
        EXPECT_FALSE(asset->isPlayable());
        ImageGenerator g(asset);
        QString grabError;
        EXPECT_TRUE(g.copyImageAtTime(MediaTime::zero(), nullptr, &grabError).isNull());
        EXPECT_FALSE(grabError.isEmpty());
    }
}

TEST(MediaWildFiles, AnimatedWebPHasNoSizeFromFFmpegAndFramesFromQt)
{
    const auto& f = fx::fixtures();
    const AssetPtr asset = open(f.webp()); // 3 frames of 0.5 s
    const std::vector<Track> video = asset->tracksWithMediaType(MediaType::Video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video.front().naturalSize, QSizeF(0, 0)); // unknown, not 1 x 1
    EXPECT_FALSE(asset->isPlayable());
    ImageGenerator g(asset);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    for (const auto& [seconds, frame] : std::vector<std::pair<double, int>>{{0.0, 0}, {0.7, 1}, {1.2, 2}, {9.0, 2}}) {
        MediaTime actual;
        QString error;
        const QImage image = g.copyImageAtTime(MediaTime::withSeconds(seconds), &actual, &error);
        ASSERT_FALSE(image.isNull()) << seconds << ": " << error.toStdString();
        EXPECT_EQ(fx::decodeFrameNumber(image), frame) << seconds;
        EXPECT_NEAR(actual.seconds(), frame * 0.5, 1e-6) << seconds;
    }
    g.setMaximumSize(QSize(32, 32));
    EXPECT_EQ(g.copyImageAtTime(MediaTime::zero()).size(), QSize(32, 16));
}

TEST(MediaWildFiles, StillPictureGivesItsFrameAtEveryTime)
{
    const AssetPtr asset = open(fx::fixtures().stillJPEG());
    ASSERT_EQ(asset->tracksWithMediaType(MediaType::Video).size(), 1u);
    ImageGenerator g(asset);
    g.setMaximumSize(QSize(fx::kClipWidth, fx::kClipHeight));
    for (const bool exact : {true, false}) {
        if (exact) {
            g.setRequestedTimeToleranceBefore(MediaTime::zero());
            g.setRequestedTimeToleranceAfter(MediaTime::zero());
        }
        for (const double seconds : {0.0, 2.5, 0.0}) {
            QString error;
            const QImage image = g.copyImageAtTime(MediaTime::withSeconds(seconds), nullptr, &error);
            EXPECT_EQ(fx::decodeFrameNumber(image), 5) << seconds << " exact " << exact << ": " << error.toStdString();
        }
    }
}

TEST(MediaWildFiles, ExactGrabInAFileCutShortNeverAnswersAnotherFrame)
{
    // The index (written first) promises 3 s; the frames stop at 2.5 s.
    const AssetPtr asset = open(fx::fixtures().truncatedInterleaved());
    ASSERT_NEAR(asset->duration().seconds(), 3.0, 0.05);
    ImageGenerator g(asset);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    int answered = 0, refused = 0;
    for (const double seconds : {0.5, 1.05, 2.45, 2.75, 2.9, 3.0, 5.0}) {
        MediaTime actual;
        QString error;
        const QImage image = g.copyImageAtTime(MediaTime::withSeconds(seconds), &actual, &error);
        const int wanted = std::min(int(std::floor(seconds * fx::kClipFPS + 1e-9)), fx::kClipFrames - 1);
        if (image.isNull()) {
            EXPECT_FALSE(error.isEmpty());
            ++refused;
            continue;
        }
        ++answered;
        EXPECT_EQ(fx::decodeFrameNumber(image), wanted) << seconds;
        EXPECT_NEAR(actual.seconds(), wanted / double(fx::kClipFPS), 1e-6) << seconds;
    }
    EXPECT_GE(answered, 3); // the part that is there
    EXPECT_GE(refused, 3);  // 2.6 s and later are gone: never frame 25 instead
}

TEST(MediaWildFiles, ContainerStartingBeforeZeroUsesOneOrigin)
{
    const AssetPtr asset = open(fx::fixtures().earlyStartWebM());
    const std::vector<Track> video = asset->tracksWithMediaType(MediaType::Video);
    ASSERT_EQ(video.size(), 1u);
    const TimeRange range = video.front().timeRange;
    const double duration = asset->duration().seconds();
    EXPECT_NEAR(duration, 3.008, 0.01);
    EXPECT_LE(range.end().seconds(), duration + 1e-6);
    EXPECT_NEAR(range.start.seconds(), 0.014, 0.002); // the video starts 0.014 s after the container
    for (const auto& track : asset->tracks())
        EXPECT_GE(track.timeRange.start.seconds(), 0.0);
    ImageGenerator g(asset);
    g.setRequestedTimeToleranceBefore(MediaTime::zero());
    g.setRequestedTimeToleranceAfter(MediaTime::zero());
    for (const int frame : {0, 12, 29}) {
        const MediaTime at = range.start + MediaTime::withSeconds(frame / double(fx::kClipFPS) + 0.05);
        MediaTime actual;
        QString error;
        const QImage image = g.copyImageAtTime(at, &actual, &error);
        ASSERT_FALSE(image.isNull()) << error.toStdString();
        EXPECT_EQ(fx::decodeFrameNumber(image), frame);
        EXPECT_NEAR(actual.seconds(), range.start.seconds() + frame / double(fx::kClipFPS), 1e-3) << frame;
    }
    MediaTime actual;
    g.copyImageAtTime(MediaTime::zero(), &actual);
    EXPECT_NEAR(actual.seconds(), range.start.seconds(), 1e-3); // before the first frame: that frame
}
