// Picture files that would hang or exhaust the program: named pipes where pictures are
// expected, and "bombs" whose small files decode to gigabytes (one colour over a huge area,
// thousands of animation frames). Every reader refuses them, or decodes them reduced,
// before it allocates.
#include "common/TestSupport.h"
#include "ImagesTestSupport.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMQuickLook.h"
#include "images/PMIndexImageWrapper.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "images/PMMovieRepresentationImageLoaderRequest.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Image.h"
#include "platform/ImageReading.h"
#include "platform/UserDefaults.h"
#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>
#include <QtCore/QUrl>
#include <QtCore/QUuid>

#include <atomic>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::ImagePtr;
using namespace imagestest;

namespace {

// Waits for the condition. Past the deadline the pipe is opened for writing now and then,
// which frees a reader blocked on it: a failure ends the test instead of hanging it.
bool waitFreeingPipe(const QString& pipe, const std::function<bool()>& condition)
{
    if (testsupport::waitUntil(condition, 10000))
        return true;
    testsupport::waitUntil([&] {
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        return condition();
    }, 60000);
    return false;
}

void makePipe(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0) << path.toStdString();
}

// A PNG of one grey over the area, written row by row by python3's zlib: a few hundred
// kilobytes that announce (and decode to) the whole area.
QString pngBomb(int width, int height)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("bombs")) + QStringLiteral("/%1x%2.png").arg(width).arg(height);
    static const char* script = R"(
import struct, sys, zlib
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
z = zlib.compressobj(9)
row = b'\x00' + b'\x80' * w
data = b''.join(z.compress(row) for _ in range(h)) + z.flush()
with open(path, 'wb') as f:
    f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 0, 0, 0, 0)) + chunk(b'IDAT', data) + chunk(b'IEND', b''))
)";
    const auto result = testsupport::runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script), path,
                                                                           QString::number(width), QString::number(height)});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    return path;
}

// A GIF of n frames of one pixel each on a screen of the size: every frame decodes to the
// whole screen.
QByteArray gifBomb(int side, int frames)
{
    QByteArray gif("GIF89a");
    const auto le16 = [&](int v) {
        gif += char(v & 0xff);
        gif += char((v >> 8) & 0xff);
    };
    le16(side);
    le16(side);
    gif += QByteArray::fromHex("800000"); // a global table of two colours
    gif += QByteArray::fromHex("000000ffffff");
    gif += QByteArray::fromHex("21ff0b4e45545343415045322e300301000000"); // loop for ever
    for (int i = 0; i < frames; ++i) {
        gif += QByteArray::fromHex("21f904000a000000");       // 0.1 s
        gif += QByteArray::fromHex("2c0000000001000100000202440100"); // one pixel
    }
    gif += ';';
    return gif;
}

// The growth of the process's peak memory while the call runs (the peak is reset first);
// nothing where the kernel cannot reset it.
std::optional<qint64> peakGrowthMB(const std::function<void()>& call)
{
    const auto peakKB = []() -> qint64 {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return -1;
    };
    const auto currentKB = []() -> qint64 {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return -1;
    };
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    const bool canReset = reset.open(QIODevice::WriteOnly) && reset.write("5") == 1;
    reset.close();
    const qint64 before = currentKB();
    call();
    const qint64 peak = peakKB();
    if (!canReset || before < 0 || peak < 0)
        return std::nullopt;
    return (peak - before) / 1024;
}

} // namespace

TEST(HostileImageFiles, ANamedPipeInTheThumbnailCacheIsNeverOpened)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("docs")) + QStringLiteral("/paper.pdf");
    testsupport::writeFile(path, "%PDF-1.4 not really\n");
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    const QString pipe = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails/normal/")
                       + QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
    makePipe(pipe);
    std::atomic<bool> done = false;
    QImage image;
    std::thread reader([&] {
        image = PMSharedThumbnailCacheImage(path);
        done = true;
    });
    EXPECT_TRUE(waitFreeingPipe(pipe, [&] { return done.load(); }));
    reader.join();
    EXPECT_TRUE(image.isNull());
    QFile::remove(pipe);
}

TEST(HostileImageFiles, ANamedPipeAsAReducedCopyIsNeverOpened)
{
    platform::UserDefaults::standard().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
    const QString moviePath = testsupport::makeTempDir(QStringLiteral("movies")) + QStringLiteral("/a.mov");
    testsupport::writeFile(moviePath, "not a movie");
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(moviePath);
    const QString id = record->uniqueLibraryID();
    const QString covers = PMMainController::mainController().coverImageDirectoryPath();
    ASSERT_TRUE(picture(800, 600, Qt::red)->pixels().save(covers + QLatin1Char('/') + id + QStringLiteral(".jpg"), "JPEG"));
    const QString pipe = covers + QStringLiteral("/_/") + id + QStringLiteral(".jpg");
    makePipe(pipe);
    ImagePtr cover;
    PMMovieRepresentationImageLoader::defaultLoader().loadCoverImageAndPosterImageForMovieRepresentation(
        *record, true, QSizeF(200, 150), QRectF(), platform::Operation::Priority::Normal, [&](const ImagePtr& c, const ImagePtr&) {
            if (c)
                cover = c;
        });
    // The stored cover is shown; the pipe is passed over.
    EXPECT_TRUE(waitFreeingPipe(pipe, [&] {
        QCoreApplication::processEvents();
        return bool(cover);
    }));
    settle();
    QFile::remove(pipe);
}

TEST(HostileImageFiles, PictureBombsAreRefusedOrReducedBeforeTheyAreDecoded)
{
    const QString big = pngBomb(10000, 10000);   // 100 megapixels in a few hundred kilobytes
    const QString huge = pngBomb(30000, 30000);  // 900 megapixels
    ASSERT_LT(QFileInfo(huge).size(), 2 << 20);
    const QString jpeg = testsupport::makeTempDir(QStringLiteral("bombs")) + QStringLiteral("/big.jpg");
    const auto made = testsupport::runProcess(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                                                                        QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=c=red:s=9000x6000"),
                                                                        QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-y"), jpeg});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();

    for (const QString& bomb : {big, huge}) {
        SCOPED_TRACE(bomb.toStdString());
        testsupport::LogCapture log;
        std::optional<qint64> growth = peakGrowthMB([&] {
            EXPECT_FALSE(PMImageWithContentsOfFile(bomb));
            EXPECT_FALSE(platform::Image::imageWithContentsOfFile(bomb));
            QString error;
            EXPECT_TRUE(platform::readImageFile(bomb, {}, &error).isNull());
            EXPECT_TRUE(error.contains(QStringLiteral("too many"))) << error.toStdString();
            // The same picture handed over as the artwork of a media-library item.
            EXPECT_FALSE(PMExternalMediaArtworkImage(platform::Value(testsupport::readFile(bomb))));
        });
        EXPECT_TRUE(log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("too many")));
        if (growth) {
            EXPECT_LT(*growth, 150) << "MB";
        }
    }

    // A photo above the cap in a format that decodes at a reduced size is read reduced.
    std::optional<qint64> growth = peakGrowthMB([&] {
        const ImagePtr reduced = PMImageWithContentsOfFile(jpeg);
        ASSERT_TRUE(reduced);
        const QSize size = reduced->pixels().size();
        EXPECT_LE(qint64(size.width()) * size.height(), platform::kMaximumDecodedImagePixels);
        EXPECT_NEAR(double(size.width()) / size.height(), 1.5, 0.01);
    });
    if (growth) {
        EXPECT_LT(*growth, 500) << "MB"; // a decode at 7/8 and its reduction to the cap
    }

    // A folder of hover frames with a bomb among them: the bomb is skipped or read small.
    const QString frames = testsupport::makeTempDir(QStringLiteral("frames"));
    ASSERT_TRUE(QFile::copy(big, frames + QStringLiteral("/1 (0.50).jpg")));
    ASSERT_TRUE(picture(160, 90, Qt::blue)->pixels().save(frames + QStringLiteral("/2 (1.00).jpg"), "JPEG"));
    growth = peakGrowthMB([&] {
        const std::optional<PMIndexImageWrappers> read = PMSavedIndexImageWrapper::indexImageWrappersAtPath(frames);
        ASSERT_TRUE(read);
        for (const auto& wrapper : *read)
            EXPECT_LE(wrapper->image()->pixels().width(), 4 * 1024);
    });
    if (growth) {
        EXPECT_LT(*growth, 150) << "MB";
    }
}

TEST(HostileImageFiles, AnAnimationTooLargeForTheCapIsDecodedReducedOneFrameAtATime)
{
    // 150 frames of 720 x 720 take 296 MB at their own size: asked to fit 96 MB, every
    // frame comes reduced (the same for all), and no more than one full frame is held.
    const QString folder = testsupport::makeTempDir(QStringLiteral("fit"));
    const QString path = folder + QStringLiteral("/big.gif");
    testsupport::writeFile(path, gifBomb(720, 150));
    const qint64 cap = qint64(96) << 20;
    platform::AnimatedImageSourcePtr source;
    const std::optional<qint64> growth = peakGrowthMB([&] { source = platform::AnimatedImageSource::open(path, nullptr, cap); });
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), 150);
    qint64 bytes = 0;
    for (int i = 0; i < source->count(); ++i) {
        EXPECT_EQ(source->imageAtIndex(i).size(), source->imageAtIndex(0).size());
        bytes += source->imageAtIndex(i).sizeInBytes();
    }
    EXPECT_LE(bytes, cap);
    EXPECT_LT(source->imageAtIndex(0).width(), 720);
    EXPECT_NEAR(source->imageAtIndex(0).width(), source->imageAtIndex(0).height(), 1);
    if (growth) {
        EXPECT_LT(*growth, 96 + 40) << "MB";
    }
    // Measuring keeps no frame at all.
    int count = 0;
    double duration = 0;
    const std::optional<qint64> measured = peakGrowthMB([&] { EXPECT_TRUE(platform::AnimatedImageSource::measure(path, &count, &duration)); });
    EXPECT_EQ(count, 150);
    EXPECT_NEAR(duration, 15.0, 0.01);
    if (measured) {
        EXPECT_LT(*measured, 40) << "MB";
    }
}

TEST(HostileImageFiles, AnimationsAreMeasuredBeforeTheirFramesAreDecoded)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("bombs"));
    struct Case {
        const char* name;
        int side, frames;
    } cases[] = {
        {"1000 frames of 400 x 400 (640 MB decoded)", 400, 1000},
        {"10000 frames of 167 x 167", 167, 10000},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const QString path = folder + QStringLiteral("/%1.gif").arg(k.frames);
        testsupport::writeFile(path, gifBomb(k.side, k.frames));
        ASSERT_LT(QFileInfo(path).size(), 300 * 1024);
        QString error;
        std::optional<qint64> growth = peakGrowthMB([&] { EXPECT_FALSE(platform::AnimatedImageSource::open(path, &error)); });
        EXPECT_TRUE(error.contains(QStringLiteral("frames"))) << error.toStdString();
        if (growth) {
            EXPECT_LT(*growth, 100) << "MB";
        }
    }
    // A small animation still gives its frames.
    const QString small = folder + QStringLiteral("/small.gif");
    testsupport::writeFile(small, gifBomb(32, 12));
    const platform::AnimatedImageSourcePtr source = platform::AnimatedImageSource::open(small);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->count(), 12);
    EXPECT_EQ(source->imageAtIndex(11).size(), QSize(32, 32));
}

TEST(HostileImageFiles, AGIFScreenFarLargerThanItsFramesIsRefusedByEveryReader)
{
    // 43 bytes: a 2 x 2 frame on a screen of 65,281 x 252 pixels, which each decoder filled
    // (for two seconds) before it drew the frame.
    const QString folder = testsupport::makeTempDir(QStringLiteral("screen"));
    const QString path = folder + QStringLiteral("/screen.gif");
    testsupport::writeFile(path, QByteArray::fromHex("47494638396101fffc008000706e675f7069ff215b0400000000002c00000000020002000002024401003b"));
    QString error;
    EXPECT_TRUE(platform::readImageFile(path, {}, &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("screen"))) << error.toStdString();
    EXPECT_TRUE(platform::readImageData(testsupport::readFile(path), nullptr, {}, &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("screen"))) << error.toStdString();
    EXPECT_FALSE(platform::AnimatedImageSource::open(path, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("screen"))) << error.toStdString();
    const auto asset = platform::media::Asset::assetWithURL(QUrl::fromLocalFile(path));
    platform::media::ImageGenerator generator(asset);
    EXPECT_TRUE(generator.copyImageAtTime(platform::media::MediaTime::zero(), nullptr, &error).isNull());
    EXPECT_TRUE(asset->error().contains(QStringLiteral("screen"))) << asset->error().toStdString();

    // A large screen that its frame fills is a picture like any other.
    const QString full = folder + QStringLiteral("/full.gif");
    const auto made = testsupport::runProcess(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                                        QStringLiteral("-i"), QStringLiteral("color=c=red:s=2100x2100"), QStringLiteral("-frames:v"),
                                                                        QStringLiteral("1"), QStringLiteral("-y"), full});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_EQ(platform::readImageFile(full, {}, &error).size(), QSize(2100, 2100)) << error.toStdString();
    EXPECT_TRUE(platform::checkGIFCanvasOfFile(full));
}
