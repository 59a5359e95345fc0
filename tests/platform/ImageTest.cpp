#include "platform/Image.h"

#include "common/MediaFixtures.h"

#include <gtest/gtest.h>

#include <QtCore/QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

using namespace platform;
namespace fx = testsupport::media;

TEST(AnimatedImage, DelayRuleGivesZeroAndMissingDelaysATenth)
{
    const struct { double raw, expected; } cases[] = {{0.0, 0.1}, {-1.0, 0.1}, {0.005, 0.1}, {0.01, 0.01}, {0.5, 0.5}, {2.0, 2.0}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(PMAnimatedImageFrameDelayFromRawDelay(c.raw), c.expected) << c.raw;
}

TEST(AnimatedImage, GifGivesItsFramesDurationAndSource)
{
    const auto& f = fx::fixtures();
    const ImagePtr image = Image::imageWithContentsOfFile(f.gif());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSizeF(fx::kClipWidth, fx::kClipHeight));
    EXPECT_EQ(image->pixelSize(), QSizeF(fx::kClipWidth, fx::kClipHeight));
    int frames = 0;
    double duration = 0;
    AnimatedImageSourcePtr source;
    const ImagePtr rep = image->animatedBitmapImageRepWithURL(QUrl::fromLocalFile(f.gif()), &frames, &duration, &source);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep.get(), image.get());
    EXPECT_EQ(frames, 3);
    EXPECT_NEAR(duration, 1.5, 0.011);
    ASSERT_TRUE(source);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fx::decodeFrameNumber(source->imageAtIndex(i).convertToFormat(QImage::Format_RGB32)), i);
        EXPECT_NEAR(PMAnimatedImageFrameDelay(source, i), 0.5, 0.011);
    }
    EXPECT_TRUE(source->imageAtIndex(3).isNull());
    EXPECT_EQ(PMAnimatedImageFrameDelay(source, 7), 0.0);

    // Without a URL the representation's own frames count.
    frames = 0;
    duration = 0;
    ASSERT_TRUE(image->animatedBitmapImageRepWithURL(QUrl(), &frames, &duration, nullptr));
    EXPECT_EQ(frames, 3);
    EXPECT_NEAR(duration, 1.5, 0.011);
    EXPECT_EQ(image->currentFrame(), 0);
}

TEST(AnimatedImage, AnimatedPNGAndWebPGiveTheirFrames)
{
    const auto& f = fx::fixtures();
    for (const QString& path : {f.apng(), f.webp()}) {
        const ImagePtr image = Image::imageWithContentsOfFile(path);
        ASSERT_TRUE(image) << path.toStdString();
        int frames = 0;
        double duration = 0;
        AnimatedImageSourcePtr source;
        ASSERT_TRUE(image->animatedBitmapImageRepWithURL(QUrl::fromLocalFile(path), &frames, &duration, &source)) << path.toStdString();
        EXPECT_EQ(frames, 3);
        EXPECT_NEAR(duration, 1.5, 0.011);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(fx::decodeFrameNumber(source->imageAtIndex(i).convertToFormat(QImage::Format_RGB32)), i) << path.toStdString();
    }
    // A PNG that only claims an animation is still read.
    const QString dir = testsupport::makeTempDir(QStringLiteral("apng"));
    QImage still(8, 8, QImage::Format_RGB32);
    still.fill(Qt::blue);
    ASSERT_TRUE(still.save(dir + QStringLiteral("/still.png")));
    QByteArray bytes = testsupport::readFile(dir + QStringLiteral("/still.png"));
    const QByteArray acTL = QByteArray::fromHex("00000008616354" "4c000000020000000000000000");
    bytes.insert(33, acTL); // after the header chunk
    testsupport::writeFile(dir + QStringLiteral("/claims.png"), bytes);
    const auto source = AnimatedImageSource::open(dir + QStringLiteral("/claims.png"));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->count(), 1);
}

TEST(AnimatedImage, OnlyFilesWithMoreThanOnePictureCountAsAnimated)
{
    const auto& f = fx::fixtures();
    const QString dir = testsupport::makeTempDir(QStringLiteral("animated"));
    QImage still(8, 8, QImage::Format_RGB32);
    still.fill(Qt::blue);
    ASSERT_TRUE(still.save(dir + QStringLiteral("/still.png")));
    // One frame of one pixel (Qt writes no GIF).
    testsupport::writeFile(dir + QStringLiteral("/still.gif"),
                           QByteArray::fromHex("474946383961" "01000100" "800000" "000000ffffff" "2c000000000100010000" "0202440100" "3b"));
    ASSERT_TRUE(still.save(dir + QStringLiteral("/still.jpg")));
    const QByteArray png = testsupport::readFile(dir + QStringLiteral("/still.png"));
    const QByteArray acTL = QByteArray::fromHex("00000008616354" "4c000000020000000000000000");
    // The animation chunk counts only before the first image data.
    QByteArray before = png, after = png;
    before.insert(33, acTL); // right after the header chunk
    after.insert(after.size() - 12, acTL); // just before the end chunk
    testsupport::writeFile(dir + QStringLiteral("/before.png"), before);
    testsupport::writeFile(dir + QStringLiteral("/after.png"), after);
    testsupport::writeFile(dir + QStringLiteral("/png-named.gif"), png);
    const struct {
        QString path;
        bool animated;
    } cases[] = {
        {f.apng(), true},
        {f.gif(), true},
        {f.webp(), true},
        {dir + QStringLiteral("/before.png"), true},
        {dir + QStringLiteral("/after.png"), false},
        {dir + QStringLiteral("/still.png"), false},
        {dir + QStringLiteral("/still.gif"), false},
        {dir + QStringLiteral("/still.jpg"), false},
        {dir + QStringLiteral("/png-named.gif"), false},
        {dir + QStringLiteral("/missing.gif"), false},
        {dir, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnimatedImageSource::isAnimatedImageFile(c.path), c.animated) << c.path.toStdString();
}

TEST(AnimatedImage, StillAndUnreadableImagesAreNotAnimated)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("still"));
    const QString png = dir + QStringLiteral("/still.png");
    QImage pixels(8, 8, QImage::Format_RGB32);
    pixels.fill(Qt::blue);
    ASSERT_TRUE(pixels.save(png));
    const ImagePtr still = Image::imageWithContentsOfFile(png);
    ASSERT_TRUE(still);
    int frames = -1;
    EXPECT_FALSE(still->animatedBitmapImageRepWithURL(QUrl::fromLocalFile(png), &frames, nullptr, nullptr));
    EXPECT_EQ(frames, -1);
    EXPECT_EQ(still->frameCount(), 1);

    const QString broken = dir + QStringLiteral("/broken.gif");
    testsupport::writeFile(broken, QByteArray("GIF89a\x40\x00\x20\x00", 10));
    EXPECT_FALSE(Image::imageWithContentsOfFile(broken));
    QString error;
    EXPECT_FALSE(AnimatedImageSource::open(broken, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(Image().anyBitmapImageRep());
}

TEST(AnimatedImage, PicturesThatAreNoFilesFailAtOnce)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("pipes"));
    const QString pipe = dir + QStringLiteral("/pipe.gif");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString folder = testsupport::makeTempDir(QStringLiteral("folder.png"));
    for (const QString& path : {pipe, folder}) {
        SCOPED_TRACE(path.toStdString());
        auto read = std::async(std::launch::async, [path] {
            QString error;
            const bool animated = bool(AnimatedImageSource::open(path, &error));
            return std::make_tuple(animated, error, bool(Image::imageWithContentsOfFile(path)));
        });
        // A reader that opened the pipe would wait for a writer for good: let one in after a
        // while, so that a failing build ends instead of hanging.
        if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "reading blocks";
            for (int i = 0; i < 2; ++i) {
                const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0)
                    ::close(writer);
            }
        }
        const auto [animated, error, still] = read.get();
        EXPECT_FALSE(animated);
        EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << error.toStdString();
        EXPECT_FALSE(still);
    }
}

TEST(AnimatedImage, ImageFromFramesAnswersItsFrames)
{
    QImage a(4, 4, QImage::Format_RGB32), b(4, 4, QImage::Format_RGB32);
    a.fill(Qt::red);
    b.fill(Qt::green);
    const ImagePtr image = Image::imageWithAnimationFrames({{a, 0.25}, {b, 0.0}});
    ASSERT_TRUE(image);
    int frames = 0;
    double duration = 0;
    ASSERT_TRUE(image->animatedBitmapImageRepWithURL(QUrl(), &frames, &duration, nullptr));
    EXPECT_EQ(frames, 2);
    EXPECT_DOUBLE_EQ(duration, 0.35); // the frame without a delay counts 0.1 s
    image->setCurrentFrame(1);
    EXPECT_EQ(image->currentFrameImage().pixel(0, 0), b.pixel(0, 0));
}
