#include "images/NSImage+PMBlurredImages.h"

#include "platform/ImageProcessing.h"
#include "platform/Queues.h"

#include <QtGui/QPainter>

using namespace platform;

#include <algorithm>
#include <cmath>


namespace {

constexpr double kEpsilon = 1.1920928955078125e-07;

QSizeF widestPixelSize(const platform::ImagePtr& image)
{
    const QSizeF size = image->size();
    const QSizeF rounded(std::round(size.width()), std::round(size.height()));
    const QSizeF pixels = image->pixelSize();
    return pixels.width() > rounded.width() ? pixels : rounded;
}

} // namespace

platform::ImagePtr blurredImageWithImage(const platform::ImagePtr& image, QSizeF pointSize, unsigned pixelWidth, unsigned pixelHeight, bool assumeSizeMatch,
                               double radius, double saturationFactor, const QColor& tintColor, const platform::ImagePtr& maskImage)
{
    // Beyond this a bitmap is not a background any more; it would only exhaust memory.
    constexpr unsigned kLargestSide = 16384;
    if (pixelWidth == 0 || pixelHeight == 0 || pixelWidth > kLargestSide || pixelHeight > kLargestSide)
        return nullptr;
    QImage bitmap(int(pixelWidth), int(pixelHeight), QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return nullptr;
    bitmap.fill(Qt::transparent);
    if (image && image->isValid()) {
        QPainter painter(&bitmap);
        const QImage& pixels = image->pixels();
        const QRectF target(0, 0, pixelWidth, pixelHeight);
        if (assumeSizeMatch) {
            painter.drawImage(target, pixels);
        } else {
            // A centred slice of the picture with the bitmap's aspect ratio.
            const double w = pixels.width(), h = pixels.height();
            const double bitmapRatio = double(pixelWidth) / double(pixelHeight);
            QRectF source(0, 0, w, h);
            if (bitmapRatio < w / h) {
                const double sliceWidth = h * bitmapRatio;
                source = QRectF((w - sliceWidth) / 2.0, 0, sliceWidth, h);
            } else {
                const double sliceHeight = w / bitmapRatio;
                source = QRectF(0, (h - sliceHeight) / 2.0, w, sliceHeight);
            }
            painter.drawImage(target, pixels, source);
        }
    }
    if (radius > kEpsilon)
        boxBlur(bitmap, radius);
    if (std::fabs(saturationFactor - 1.0) > kEpsilon) {
        QImage saturated;
        matrixMultiply(bitmap, saturated, saturationMatrix(saturationFactor));
        bitmap = std::move(saturated);
    }
    if (tintColor.isValid() || (maskImage && maskImage->isValid())) {
        QPainter painter(&bitmap);
        if (tintColor.isValid())
            painter.fillRect(bitmap.rect(), tintColor);
        if (maskImage && maskImage->isValid()) {
            painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            painter.drawImage(QRectF(bitmap.rect()), maskImage->pixels());
        }
    }
    return platform::Image::make(std::move(bitmap), pointSize);
}

platform::ImagePtr blurredImageWithImage(const platform::ImagePtr& image, QSizeF croppedToSize, double radius, double saturationFactor, const QColor& tintColor,
                               const platform::ImagePtr& maskImage)
{
    const double w = std::round(croppedToSize.width()), h = std::round(croppedToSize.height());
    if (!(w >= 1.0) || !(h >= 1.0))
        return nullptr;
    return blurredImageWithImage(image, croppedToSize, unsigned(std::min(w, 1e6)), unsigned(std::min(h, 1e6)), false, radius, saturationFactor,
                                 tintColor, maskImage);
}

platform::ImagePtr blurredImageWithImage(const platform::ImagePtr& image, double radius, double saturationFactor, const QColor& tintColor, const platform::ImagePtr& maskImage)
{
    if (!image)
        return nullptr;
    const QSizeF pixels = widestPixelSize(image);
    if (!(pixels.width() >= 1.0) || !(pixels.height() >= 1.0))
        return nullptr;
    return blurredImageWithImage(image, image->size(), unsigned(std::min(pixels.width(), 1e6)), unsigned(std::min(pixels.height(), 1e6)), true,
                                 radius, saturationFactor, tintColor, maskImage);
}

platform::ImagePtr darkBlurredImage(const platform::ImagePtr& image)
{
    return blurredImageWithImage(image, 20.0, 1.8, QColor::fromRgbF(0.11f, 0.11f, 0.11f, 0.73f), nullptr);
}

platform::ImagePtr lightBlurredImage(const platform::ImagePtr& image)
{
    return blurredImageWithImage(image, 7.0, 1.8, QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.3f), nullptr);
}

platform::ImagePtr extraLightBlurredImage(const platform::ImagePtr& image)
{
    return blurredImageWithImage(image, 20.0, 1.8, QColor::fromRgbF(0.97f, 0.97f, 0.97f, 0.82f), nullptr);
}

platform::ImagePtr blurredImageTintedWithColor(const platform::ImagePtr& image, const QColor& color)
{
    QColor tint = color;
    if (tint.isValid())
        tint.setAlphaF(0.6f);
    return blurredImageWithImage(image, 10.0, -1.0, tint, nullptr);
}

double blurRadiusForSize(QSizeF size)
{
    return std::clamp(std::max(size.width(), size.height()) * 0.05, 10.0, 50.0);
}

platform::ImagePtr blurredImageWithSize(const platform::ImagePtr& image, QSizeF size)
{
    return blurredImageWithImage(image, size, blurRadiusForSize(size), 1.5, QColor::fromRgbF(0.3f, 0.3f, 0.3f, 0.3f), nullptr);
}

platform::ImagePtr blurredImageWithSize(const platform::ImagePtr& image, QSizeF size, bool requireSizeMatch, std::function<void(platform::ImagePtr)> successHandler)
{
    if (!image)
        return nullptr;
    if (platform::ImagePtr cached = image->cachedBlurredImage()) {
        const QSizeF cachedSize = cached->size();
        if (!requireSizeMatch
            || (std::fabs(cachedSize.width() - size.width()) < 1.0 && std::fabs(cachedSize.height() - size.height()) < 1.0)) {
            if (successHandler)
                successHandler(cached);
            return cached;
        }
    }
    if (successHandler) {
        dispatchAsyncGlobal(
            [image, size, handler = std::move(successHandler)]() mutable {
                platform::ImagePtr blurred = blurredImageWithSize(image, size);
                if (!blurred)
                    return;
                dispatchAsyncMain([image, blurred, handler = std::move(handler)] {
                    image->setCachedBlurredImage(blurred);
                    handler(blurred);
                });
            },
            QueuePriority::Background);
        return nullptr;
    }
    platform::ImagePtr blurred = blurredImageWithSize(image, size);
    if (blurred && blurred != image)
        image->setCachedBlurredImage(blurred);
    return blurred;
}

