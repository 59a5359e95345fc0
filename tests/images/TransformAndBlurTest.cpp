#include "common/MediaFixtures.h"
#include "images/NSImage+PMTransform.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovie.h"
#include "platform/ImageProcessing.h"
#include "images/NSImage+PMBlurredImages.h"
#include "ui/kit/NSImage+PMDrawing.h"

#include <gtest/gtest.h>

#include <QtGui/QPainter>

#include <cmath>

using platform::Image;
using platform::ImagePtr;

namespace {

ImagePtr solid(int w, int h, QColor color = QColor(200, 100, 50))
{
    QImage pixels(w, h, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(color);
    return Image::make(std::move(pixels));
}

platform::DictionaryPtr area(double x, double y, double w, double h, double widest)
{
    auto d = std::make_shared<platform::Dictionary>();
    d->setValue(QStringLiteral("x"), x);
    d->setValue(QStringLiteral("y"), y);
    d->setValue(QStringLiteral("w"), w);
    d->setValue(QStringLiteral("h"), h);
    d->setValue(QStringLiteral("w+"), widest);
    return d;
}

} // namespace

TEST(ImageTransform, SizesFromTheSettings)
{
    const struct {
        const char* name;
        QSize source;
        bool flip;
        int angle;
        platform::DictionaryPtr area;
        std::optional<double> ratio;
        QSizeF maximum;
        QSizeF natural, points;
    } cases[] = {
        {"turned 30 degrees", {100, 50}, false, 30, nullptr, {}, QSizeF(0, 0), {111, 93}, {111, 93}},
        {"turned 90 degrees", {100, 50}, false, 90, nullptr, {}, QSizeF(0, 0), {50, 100}, {50, 100}},
        {"turned -90 degrees", {100, 50}, false, -90, nullptr, {}, QSizeF(0, 0), {50, 100}, {50, 100}},
        {"turned 180 degrees", {100, 50}, false, 180, nullptr, {}, QSizeF(0, 0), {100, 50}, {100, 50}},
        {"visible area", {200, 100}, false, 0, area(0.25, 0, 0.5, 1, 0), {}, QSizeF(0, 0), {100, 100}, {100, 100}},
        {"visible area widened", {200, 100}, false, 0, area(0.25, 0, 0.5, 1, 1.5), {}, QSizeF(0, 0), {150, 100}, {150, 100}},
        {"maximum size covered", {1000, 500}, false, 0, nullptr, {}, {200, 200}, {1000, 500}, {400, 200}},
        {"maximum area", {400, 100}, false, 0, nullptr, {}, {-100, -100}, {400, 100}, {200, 50}},
        {"aspect ratio", {200, 100}, false, 0, nullptr, 0.75, QSizeF(0, 0), {200, 150}, {200, 150}},
        {"flipped", {30, 20}, true, 0, nullptr, {}, QSizeF(0, 0), {30, 20}, {30, 20}},
        {"smaller than the maximum", {100, 50}, false, 0, nullptr, {}, {200, 200}, {100, 50}, {100, 50}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImagePtr source = solid(c.source.width(), c.source.height());
        const ImagePtr result = imageWithImage(source, c.flip, c.angle, c.area, c.ratio, c.maximum, false);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->associatedNaturalSize, c.natural);
        EXPECT_EQ(result->size(), c.points);
        EXPECT_EQ(QSizeF(result->pixels().size()), c.points); // at scale 1
    }
}

TEST(ImageTransform, WideningKeepsTheRequestedCentreAndScalesTheRatio)
{
    // A red column where the area asks for it, so the widened cut shows where it went.
    QImage pixels(200, 100, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::white);
    QPainter(&pixels).fillRect(QRect(50, 0, 100, 100), Qt::red);
    const ImagePtr result = imageWithImage(Image::make(pixels), false, 0, area(0.25, 0, 0.5, 1, 1.5), 1.0, QSizeF(0, 0), false);
    // The ratio 1.0 shrinks by 100 / 150: the natural height becomes 150 × 2/3.
    EXPECT_EQ(result->associatedNaturalSize, QSizeF(150, 100));
    // 25 columns of white either side of the red.
    EXPECT_EQ(QColor(result->pixels().pixel(5, 50)), QColor(Qt::white));
    EXPECT_EQ(QColor(result->pixels().pixel(75, 50)), QColor(Qt::red));
    EXPECT_EQ(QColor(result->pixels().pixel(145, 50)), QColor(Qt::white));
}

TEST(ImageTransform, IdentityNothingAndOrigins)
{
    const ImagePtr source = solid(64, 48);
    source->associatedSourceType = PMImageSourceTypeUnderscore;
    source->associatedSourcePath = QStringLiteral("/covers/a.jpg");
    const ImagePtr same = imageWithImage(source, false, 0, nullptr, {}, QSizeF(0, 0), false);
    EXPECT_EQ(same, source);
    EXPECT_EQ(same->associatedNaturalSize, QSizeF(64, 48));
    EXPECT_EQ(same->associatedSourceType, PMImageSourceTypeUnderscore);

    const ImagePtr scaled = imageWithImage(source, false, 0, nullptr, {}, QSizeF(16, 16), false);
    EXPECT_NE(scaled, source);
    EXPECT_EQ(scaled->associatedSourceType, 8 | 48);
    EXPECT_EQ(scaled->associatedSourcePath, source->associatedSourcePath);

    const ImagePtr turned = imageWithImage(source, false, 90, nullptr, {}, QSizeF(0, 0), false);
    EXPECT_EQ(turned->associatedSourceType, 8 | 16);
    EXPECT_TRUE(turned->associatedSourcePath.isEmpty());

    for (const ImagePtr& nothing : {ImagePtr(), std::make_shared<Image>(), Image::make(QImage(1, 1, QImage::Format_ARGB32), QSizeF(0.5, 0.5))}) {
        const ImagePtr black = imageWithImage(nothing, true, 30, nullptr, {}, QSizeF(10, 10), false);
        ASSERT_TRUE(black);
        EXPECT_EQ(black->pixels().size(), QSize(1, 1));
        EXPECT_EQ(QColor(black->pixels().pixel(0, 0)), QColor(Qt::black));
        EXPECT_EQ(black->associatedNaturalSize, QSizeF(1, 1));
    }
}

TEST(ImageTransform, DevicePixelsFollowTheLargestScale)
{
    PMSetLargestBackingScaleFactor(2.0);
    const ImagePtr result = imageWithImage(solid(3840, 2160), false, 0, nullptr, {}, QSizeF(400, 225), false);
    PMSetLargestBackingScaleFactor(1.0);
    EXPECT_EQ(result->size(), QSizeF(400, 225));
    EXPECT_EQ(result->pixels().size(), QSize(800, 450));
}

TEST(ImageTransform, FlipAndQuarterTurnsMovePixels)
{
    QImage pixels(4, 2, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::black);
    pixels.setPixel(0, 0, qRgb(255, 0, 0)); // top left
    const ImagePtr source = Image::make(pixels);
    EXPECT_EQ(QColor(imageWithImage(source, true, 0, nullptr, {}, QSizeF(0, 0), false)->pixels().pixel(3, 0)), QColor(Qt::red));
    // A clockwise quarter turn brings the top left to the top right.
    const ImagePtr turned = imageWithImage(source, false, 90, nullptr, {}, QSizeF(0, 0), false);
    ASSERT_EQ(turned->pixels().size(), QSize(2, 4));
    EXPECT_EQ(QColor(turned->pixels().pixel(1, 0)), QColor(Qt::red));
}

TEST(ImageTransform, CrookedTurnsFillTheCornersWithTheMirroredPicture)
{
    const ImagePtr result = imageWithImage(solid(100, 50, Qt::green), false, 30, nullptr, {}, QSizeF(0, 0), false);
    // No transparent corner: the mirrored copies cover what the turn leaves empty.
    for (const QPoint corner : {QPoint(0, 0), QPoint(110, 0), QPoint(0, 92), QPoint(110, 92)})
        EXPECT_EQ(qAlpha(result->pixels().pixel(corner)), 255) << corner.x() << "," << corner.y();
}

TEST(ImageTransform, ShrinkingAveragesTheArea)
{
    // Premultiplied and opaque pictures, halved exactly (1024 x 128) or not (1000 x 100).
    for (const auto format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32})
        for (const QSize size : {QSize(1000, 100), QSize(1024, 128)}) {
            QImage pixels(size, format);
            pixels.fill(Qt::blue);
            QPainter(&pixels).fillRect(QRect(0, 0, size.width() / 2, size.height()), Qt::red);
            const QImage one = platform::scaledImageAveragingArea(pixels, QSize(1, 1));
            const QColor mean(one.pixel(0, 0));
            EXPECT_NEAR(mean.red(), 128, 2) << size.width();
            EXPECT_NEAR(mean.blue(), 128, 2) << size.width();
            EXPECT_EQ(mean.green(), 0) << size.width();
            EXPECT_EQ(mean.alpha(), 255) << size.width();
        }
}

TEST(ImageTransform, AnimationFramesAreConvertedInOrder)
{
    std::vector<platform::AnimationFrameRecord> frames;
    for (const QColor color : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
        QImage frame(40, 20, QImage::Format_ARGB32_Premultiplied);
        frame.fill(color);
        frames.push_back({frame, 0.3});
    }
    const ImagePtr animated = Image::imageWithAnimationFrames(frames);
    const ImagePtr result = imageWithImage(animated, false, 0, nullptr, {}, QSizeF(10, 10), true);
    ASSERT_EQ(result->associatedAnimationFrames.size(), 3u);
    EXPECT_EQ(result->associatedAnimationFrames[0].image.size(), QSize(20, 10));
    EXPECT_EQ(QColor(result->associatedAnimationFrames[2].image.pixel(5, 5)), QColor(Qt::blue));
    EXPECT_EQ(result->associatedAnimationDuration, 1.0); // 0.9 s rounds to 1
}

TEST(ImageTransform, AnimationFramesHaveTheStillsSizeWithAWidenedAreaAndARatio)
{
    std::vector<platform::AnimationFrameRecord> frames;
    for (const QColor color : {QColor(Qt::red), QColor(Qt::green)}) {
        QImage frame(200, 100, QImage::Format_ARGB32_Premultiplied);
        frame.fill(color);
        frames.push_back({frame, 0.5});
    }
    const ImagePtr animated = Image::imageWithAnimationFrames(frames);
    // The area asks for 100 x 100 and is widened to 150 x 100; the ratio of 0.5 is scaled
    // with the widening once, to 150 x 50, for the still and every frame alike.
    const ImagePtr result = imageWithImage(animated, false, 0, area(0.25, 0, 0.5, 1, 1.5), 0.5, QSizeF(0, 0), true);
    ASSERT_EQ(result->associatedAnimationFrames.size(), 2u);
    EXPECT_EQ(result->size(), QSizeF(150, 50));
    for (const auto& frame : result->associatedAnimationFrames)
        EXPECT_EQ(frame.image.size(), QSize(150, 50));
}

TEST(ImageTransform, GrabbedMovieFramesGoThroughTheTransform)
{
    PMMainController::installImageServices();
    const PMAssetPtr clip = PMMovie::assetWithURL(QUrl::fromLocalFile(testsupport::media::fixtures().numbered()), QStringLiteral("N"), nullptr);
    // A quarter turn of the 64 x 32 clip stands it up; a ratio of 1 makes it square.
    const ImagePtr turned = frameImageAtTime(clip, 1.0, false, 90, nullptr, platform::Value(), QSizeF());
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->size(), QSizeF(32, 64));
    const ImagePtr square = frameImageAtTime(clip, 1.0, false, 0, nullptr, platform::Value(1.0), QSizeF());
    ASSERT_TRUE(square);
    EXPECT_EQ(square->size(), QSizeF(64, 64));
    // A ratio that is no number is none.
    EXPECT_EQ(frameImageAtTime(clip, 1.0, false, 0, nullptr, platform::Value(), QSizeF())->size(), QSizeF(64, 32));
    // A maximum size is covered, one side matching it.
    EXPECT_EQ(frameImageAtTime(clip, 1.0, true, 0, nullptr, platform::Value(), QSizeF(16, 16))->size(), QSizeF(32, 16));
    PMSetFrameImageTransform(nullptr);
}

TEST(ImageTransform, DrawingIntoABitmapOfExactPixels)
{
    EXPECT_FALSE(imageWithSize(QSizeF(10, 10), 0, 10, PMImageInterpolation::High, [](QPainter&, const QRectF&) {}));
    EXPECT_FALSE(imageWithSize(QSizeF(10, 10), 10, 10, PMImageInterpolation::High, nullptr));
    const ImagePtr image = imageWithSize(QSizeF(10, 5), 20, 10, PMImageInterpolation::High,
                                         [](QPainter& painter, const QRectF& rect) { painter.fillRect(rect, Qt::red); });
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSizeF(10, 5));
    EXPECT_EQ(image->pixels().size(), QSize(20, 10));
}

// ---- Blur

TEST(BlurredImages, BoxSizesAndRadii)
{
    const struct {
        double radius;
        int box;
    } boxes[] = {{0, 0}, {-3, 0}, {1, 3}, {7, 13}, {10, 19}, {20, 39}, {100, 189}, {1e9, platform::kMaximumBoxSize}};
    for (const auto& b : boxes)
        EXPECT_EQ(platform::boxSizeForBlurRadius(b.radius), b.box) << b.radius;
    EXPECT_EQ(blurRadiusForSize(QSizeF(100, 100)), 10.0);   // 5 is raised
    EXPECT_EQ(blurRadiusForSize(QSizeF(2000, 1000)), 50.0); // 100 is capped
    EXPECT_EQ(blurRadiusForSize(QSizeF(600, 300)), 30.0);
}

TEST(BlurredImages, BoxConvolutionMatchesAReferenceConvolution)
{
    QImage source(13, 9, QImage::Format_ARGB32_Premultiplied);
    std::uint32_t seed = 7;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            seed = seed * 1103515245 + 12345;
            const int a = 128 + int(seed >> 25);
            source.setPixel(x, y, qRgba(int(seed >> 8) % (a + 1), int(seed >> 16) % (a + 1), int(seed >> 4) % (a + 1), a));
        }
    for (const int k : {1, 3, 5, 11, 31, 189, platform::kMaximumBoxSize}) {
        QImage result(source.size(), QImage::Format_ARGB32_Premultiplied);
        platform::boxConvolve(source, result, k);
        // Reference: the horizontal mean of clamped neighbours, rounded, then the vertical one.
        const auto clampX = [&](int x) { return std::clamp(x, 0, source.width() - 1); };
        const auto clampY = [&](int y) { return std::clamp(y, 0, source.height() - 1); };
        QImage middle(source.size(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                int sum[4] = {};
                for (int i = -k / 2; i <= k / 2; ++i) {
                    const QRgb p = source.pixel(clampX(x + i), y);
                    sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p), sum[3] += qAlpha(p);
                }
                middle.setPixel(x, y, qRgba((sum[0] + k / 2) / k, (sum[1] + k / 2) / k, (sum[2] + k / 2) / k, (sum[3] + k / 2) / k));
            }
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                int sum[4] = {};
                for (int i = -k / 2; i <= k / 2; ++i) {
                    const QRgb p = middle.pixel(x, clampY(y + i));
                    sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p), sum[3] += qAlpha(p);
                }
                const QRgb expected = qRgba((sum[0] + k / 2) / k, (sum[1] + k / 2) / k, (sum[2] + k / 2) / k, (sum[3] + k / 2) / k);
                ASSERT_EQ(result.pixel(x, y), expected) << "box " << k << " at " << x << "," << y;
            }
    }
}

TEST(BlurredImages, SaturationKeepsGreysAndTheLooksApply)
{
    const platform::ColorMatrix m = platform::saturationMatrix(1.8);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(m[0][i] + m[1][i] + m[2][i], 1.0, 1e-12);
    QImage grey(4, 4, QImage::Format_ARGB32_Premultiplied);
    grey.fill(QColor(120, 120, 120));
    QImage out;
    platform::matrixMultiply(grey, out, platform::saturationMatrix(-1.0));
    EXPECT_NEAR(qRed(out.pixel(1, 1)), 120, 1);
    EXPECT_NEAR(qBlue(out.pixel(1, 1)), 120, 1);

    // Radius 0, saturation 1: only redrawn and tinted.
    const ImagePtr red = solid(10, 10, Qt::red);
    const ImagePtr plain = blurredImageWithImage(red, 0.0, 1.0, QColor(), nullptr);
    EXPECT_EQ(QColor(plain->pixels().pixel(5, 5)), QColor(Qt::red));
    EXPECT_FALSE(blurredImageWithImage(red, QSizeF(10, 10), 0, 10, false, 5, 1, QColor(), nullptr));
    const ImagePtr dark = darkBlurredImage(solid(40, 30, Qt::white));
    ASSERT_TRUE(dark);
    EXPECT_EQ(dark->size(), QSizeF(40, 30));
    EXPECT_LT(qRed(dark->pixels().pixel(20, 15)), 100); // white under a dark tint at 0.73
}

TEST(BlurredImages, TheCachedCopyIsReusedWhenItFits)
{
    const ImagePtr image = solid(400, 300);
    const ImagePtr first = blurredImageWithSize(image, QSizeF(200, 150), true, nullptr);
    ASSERT_TRUE(first);
    EXPECT_EQ(image->cachedBlurredImage(), first);
    EXPECT_EQ(blurredImageWithSize(image, QSizeF(200.5, 150.4), true, nullptr), first);
    const ImagePtr other = blurredImageWithSize(image, QSizeF(202, 150), true, nullptr);
    EXPECT_NE(other, first);
    EXPECT_EQ(other->size(), QSizeF(202, 150));
    EXPECT_EQ(blurredImageWithSize(image, QSizeF(10, 10), false, nullptr), other);
}

// ---- Drawing extensions

TEST(DrawingExtensions, FittingIntoAMaximumSize)
{
    QImage pixels(32, 16, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::red);
    const ImagePtr wide = Image::make(pixels);
    const ImagePtr fitted = imageWithMaximumSize(wide, QSizeF(16, 16));
    EXPECT_EQ(fitted->size(), QSizeF(16, 16));
    const QImage& out = fitted->pixels();
    const double s = out.devicePixelRatio();
    EXPECT_EQ(qAlpha(out.pixel(int(8 * s), int(2 * s))), 0);   // above the picture
    EXPECT_EQ(QColor(out.pixel(int(8 * s), int(8 * s))), QColor(Qt::red));
    EXPECT_EQ(qAlpha(out.pixel(int(8 * s), int(13 * s))), 0);  // below it: drawn 16 × 8, 4 from the edge

    const ImagePtr small = Image::make(QImage(8, 8, QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(imageWithMaximumSize(small, QSizeF(16, 16), 1.0, 0.0, true), small);
    EXPECT_EQ(imageWithMaximumSize(small, QSizeF(16, 16), 1.0, 2.0, true)->size(), QSizeF(16, 16)); // enlarged into 12 + 2 × 2
}

TEST(DrawingExtensions, SquaresTintsAndCurvedRectangles)
{
    QImage canvas(100, 50, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&canvas);
    EXPECT_EQ(drawAsSquareInRect(nullptr, painter, QRectF(0, 0, 100, 50), QPainter::CompositionMode_SourceOver, 1.0, 0.0, 1.0),
              QRectF(25, 0, 50, 50)); // a maximum edge of 0 is no limit
    EXPECT_EQ(drawAsSquareInRect(nullptr, painter, QRectF(0, 0, 100, 50), QPainter::CompositionMode_SourceOver, 0.5, 10.0, 1.0),
              QRectF(45, 20, 10, 10));
    painter.end();

    QImage shape(10, 10, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    QPainter(&shape).fillRect(QRect(0, 0, 5, 10), Qt::black);
    const ImagePtr tinted = imageTintedWithColor(Image::make(shape), Qt::green);
    EXPECT_EQ(QColor(tinted->pixels().pixel(2, 5)), QColor(Qt::green));
    EXPECT_EQ(qAlpha(tinted->pixels().pixel(8, 5)), 0);
    const ImagePtr untouched = Image::make(shape);
    EXPECT_EQ(imageTintedWithColor(untouched, QColor()), untouched);

    const QPainterPath plain = bezierPathWithCurvedRect(QRectF(0, 0, 20, 10), 0.4);
    EXPECT_EQ(plain.elementCount(), 5); // four lines and the close
    for (int i = 0; i < plain.elementCount(); ++i)
        EXPECT_NE(plain.elementAt(i).type, QPainterPath::CurveToElement);
    const QPainterPath curved = bezierPathWithCurvedRect(QRectF(0, 0, 20, 10), 2.0);
    EXPECT_EQ(curved.elementAt(0).x, 20.0);
    EXPECT_DOUBLE_EQ(curved.elementAt(0).y, 10.0 - 2.28);
    EXPECT_EQ(errorColorWithAlpha(0.5), QColor::fromRgbF(0.6f, 0.0f, 0.0f, 0.5f));
}
