// Blurred, tinted copies of covers and previews for tile, overlay and window backgrounds:
// three box passes (a Gaussian at a fraction of its cost), a saturation matrix, a tint
// and a mask; fixed looks on top; and one blurred copy kept with each image.
#pragma once

#include "platform/Image.h"

#include <QtGui/QColor>

#include <functional>


// The blurred image at the point size and pixel size; nothing when a pixel count is 0.
// Without a size match the image is cropped to the bitmap's aspect ratio (centred); with
// one it is drawn into the whole bitmap. An invalid tint colour or a null mask is none.
platform::ImagePtr blurredImageWithImage(const platform::ImagePtr& image, QSizeF pointSize, unsigned pixelWidth, unsigned pixelHeight, bool assumeSizeMatch,
                               double radius, double saturationFactor, const QColor& tintColor, const platform::ImagePtr& maskImage);
// Cropped to fill the size (points and pixels alike).
platform::ImagePtr blurredImageWithImage(const platform::ImagePtr& image, QSizeF croppedToSize, double radius, double saturationFactor, const QColor& tintColor,
                               const platform::ImagePtr& maskImage);
// At the image's own point size and pixel size.
platform::ImagePtr blurredImageWithImage(const platform::ImagePtr& image, double radius, double saturationFactor, const QColor& tintColor,
                               const platform::ImagePtr& maskImage);

platform::ImagePtr darkBlurredImage(const platform::ImagePtr& image);
platform::ImagePtr lightBlurredImage(const platform::ImagePtr& image);
platform::ImagePtr extraLightBlurredImage(const platform::ImagePtr& image);
platform::ImagePtr blurredImageTintedWithColor(const platform::ImagePtr& image, const QColor& color);
// Cropped to the size, with a radius of 5 % of its larger side, kept within 10...50.
platform::ImagePtr blurredImageWithSize(const platform::ImagePtr& image, QSizeF size);
double blurRadiusForSize(QSizeF size);

// The blurred copy kept with the image when it fits (or no fit is required), else a new
// one: with a handler it is made on a background queue and handed over, and kept, on the
// main thread (nothing answered at once; no call when it cannot be made); without one it
// is made at once and kept.
platform::ImagePtr blurredImageWithSize(const platform::ImagePtr& image, QSizeF size, bool requireSizeMatch, std::function<void(platform::ImagePtr)> successHandler);

