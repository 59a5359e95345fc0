// The image transform: what a tile, a player or an index image shows of a cover, a preview,
// a still image or a movie frame. Mirrored, rotated (any angle, with a mirrored surround),
// cut to the visible area, stretched to the aspect ratio and reduced to a maximum size in
// device pixels; animated images frame by frame. Also: off-screen rendering into bitmaps of
// exact pixel size.
#pragma once

#include "platform/Image.h"
#include "platform/Value.h"

#include <QtCore/QRectF>

#include <functional>
#include <memory>
#include <optional>

class PMMovieRepresentationPrototype;
class QPainter;

// Origin codes of a loaded cover or preview (kept as the image's associatedSourceType).
enum PMImageSourceType : int {
    PMImageSourceTypeFile = 0,
    PMImageSourceTypeThumbnail = 1,
    PMImageSourceTypeMovieFrame = 2,
    PMImageSourceTypeIcon = 4,
    PMImageSourceTypeUnderscore = 8,
    PMImageSourceTypeTransformed = 16,
    PMImageSourceTypeScaledDown = 32,
};

// One frame of a converted animated image: the transformed frame and its duration.
using PMAnimationFrameRecord = platform::AnimationFrameRecord;

// As the platform numbers them.
enum class PMImageInterpolation : unsigned { Default = 0, None = 1, Low = 2, High = 3, Medium = 4 };

// The largest backing scale factor of the screens: 1.0 until the grid's tiling sets it.
double PMLargestBackingScaleFactor();
void PMSetLargestBackingScaleFactor(double factor);

// The transform; never nothing: the source itself (annotated with its natural size) when
// there is nothing to do, a 1 × 1 black image for no source or one below a point. The
// visible area has "x", "y", "w", "h" (fractions, origin at the lower left) and "w+"; a
// maximum size with both sides negative is a maximum area.
platform::ImagePtr imageWithImage(const platform::ImagePtr& image, bool flipHorizontally, int angle, const platform::DictionaryPtr& visibleArea,
                                  std::optional<double> aspectRatio, QSizeF maximumSize, PMImageInterpolation interpolation, bool renderRegardless,
                                  bool convertAnimationFrames, const std::shared_ptr<PMMovieRepresentationPrototype>& updateSizeForMovieRepresentation,
                                  bool updateAssetSize);
// The same with high interpolation, no forced rendering, no record and no asset size.
platform::ImagePtr imageWithImage(const platform::ImagePtr& image, bool flipHorizontally, int angle, const platform::DictionaryPtr& visibleArea,
                                  std::optional<double> aspectRatio, QSizeF maximumSize, bool convertAnimationFrames);

// A bitmap of exact pixel size (transparent, 32-bit premultiplied), drawn by the handler in
// pixel coordinates (the rectangle given), then given the point size. Nothing unless both
// pixel counts are at least 1 (and within the pixel limit) and a handler is given.
using PMDrawingHandler = std::function<void(QPainter& painter, const QRectF& pixelRect)>;
platform::ImagePtr imageWithSize(QSizeF size, int pixelWidth, int pixelHeight, PMImageInterpolation interpolation, const PMDrawingHandler& drawingHandler);

// Draws the part `fromRect` (pixels of the image, top-left origin) of the image rotated
// clockwise by the angle about the centre of a canvas of `rotatedSize`, at `originalSize`;
// with the surround, mirrored copies fill the corners that the turn leaves empty (blurred
// away from the seams when "Enable Rotation Blur" is set).
void drawAtAngle(QPainter& painter, const QImage& image, int angle, const QRectF& fromRect, QSizeF originalSize, QSizeF rotatedSize,
                 bool drawSurroundingImages);

// The largest bitmap (in pixels) that the program decodes or renders.
inline constexpr qint64 kPMMaximumImagePixels = 120'000'000;
// The most that the converted frames of one animated image may take.
inline constexpr qint64 kPMMaximumAnimationFrameBytes = qint64(96) << 20;
