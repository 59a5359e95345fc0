#include "images/NSImage+PMTransform.h"

#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ImageProcessing.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>

#include <atomic>
#include <cmath>

using platform::Image;
using platform::ImagePtr;

namespace {

constexpr double kEpsilon = 1.1920928955078125e-07;

std::atomic<double>& largestScale()
{
    static std::atomic<double> scale{1.0};
    return scale;
}

ImagePtr blackPixel()
{
    QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
    pixel.fill(Qt::black);
    return Image::make(std::move(pixel), QSizeF(1, 1));
}

void applyInterpolation(QPainter& painter, PMImageInterpolation interpolation)
{
    painter.setRenderHint(QPainter::SmoothPixmapTransform, interpolation != PMImageInterpolation::None);
}

QString sizeText(QSizeF size)
{
    return QStringLiteral("{%1, %2}").arg(QString::number(size.width(), 'g', 17), QString::number(size.height(), 'g', 17));
}

// A rectangle of the lower-left-origin content space as pixels of the image (top-left).
QRect pixelRectForContentRect(const QRectF& content, QSizeF points, const QImage& pixels)
{
    const double sx = points.width() > 0 ? pixels.width() / points.width() : 1.0;
    const double sy = points.height() > 0 ? pixels.height() / points.height() : 1.0;
    const double left = content.x() * sx, right = (content.x() + content.width()) * sx;
    const double top = (points.height() - content.y() - content.height()) * sy, bottom = (points.height() - content.y()) * sy;
    QRect rect(QPoint(int(std::lround(left)), int(std::lround(top))), QPoint(int(std::lround(right)) - 1, int(std::lround(bottom)) - 1));
    rect = rect.intersected(pixels.rect());
    if (rect.isEmpty() && !content.isEmpty()) // a sliver below a pixel still shows its pixel
        rect = QRect(int(std::floor(left)), int(std::floor(top)), 1, 1).intersected(pixels.rect());
    return rect;
}

// One frame of an animated image, on black, at the representation's pixel size.
QImage frameOnBlack(const QImage& frame, QSize size)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.drawImage(QRect(QPoint(0, 0), size), frame);
    return canvas;
}

} // namespace

double PMLargestBackingScaleFactor()
{
    return largestScale().load(std::memory_order_relaxed);
}

void PMSetLargestBackingScaleFactor(double factor)
{
    if (std::isfinite(factor) && factor > 0.0)
        largestScale().store(factor, std::memory_order_relaxed);
}

ImagePtr imageWithSize(QSizeF size, int pixelWidth, int pixelHeight, PMImageInterpolation interpolation, const PMDrawingHandler& drawingHandler)
{
    if (pixelWidth < 1 || pixelHeight < 1 || !drawingHandler || qint64(pixelWidth) * pixelHeight > kPMMaximumImagePixels)
        return nullptr;
    QImage bitmap(pixelWidth, pixelHeight, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return nullptr;
    bitmap.fill(Qt::transparent);
    {
        QPainter painter(&bitmap);
        applyInterpolation(painter, interpolation);
        drawingHandler(painter, QRectF(0, 0, pixelWidth, pixelHeight));
    }
    return Image::make(std::move(bitmap), size);
}

void drawAtAngle(QPainter& painter, const QImage& image, int angle, const QRectF& fromRect, QSizeF originalSize, QSizeF rotatedSize,
                 bool drawSurroundingImages)
{
    painter.save();
    painter.translate(rotatedSize.width() / 2.0, rotatedSize.height() / 2.0);
    painter.rotate(angle);
    const double w = originalSize.width(), h = originalSize.height();
    const QRectF centre(-w / 2.0, -h / 2.0, w, h);
    if (!drawSurroundingImages) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(centre, image, fromRect);
        painter.restore();
        return;
    }
    // The content at its drawn size, so that copies and their blur line up pixel for pixel.
    const QSize size(std::max(1, int(std::lround(w))), std::max(1, int(std::lround(h))));
    const QImage content = image.copy(fromRect.toAlignedRect()).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage blurred;
    if (prefs::get(prefs::keys::EnableRotationBlur)) {
        blurred = content;
        platform::boxBlur(blurred, 100.0);
    }
    struct Copy {
        QRectF rect;
        bool mirrorX;
        QPointF seam, solid; // where the blur begins (transparent) and where it is complete
    };
    const Copy copies[] = {
        {QRectF(1 - 1.5 * w, -0.5 * h, w, h), true, QPointF(w, 0), QPointF(0.7 * w, 0)},
        {QRectF(0.5 * w - 1, -0.5 * h, w, h), true, QPointF(0, 0), QPointF(0.3 * w, 0)},
        {QRectF(-0.5 * w, 1 - 1.5 * h, w, h), false, QPointF(0, h), QPointF(0, 0.7 * h)},
        {QRectF(-0.5 * w, 0.5 * h - 1, w, h), false, QPointF(0, 0), QPointF(0, 0.3 * h)},
    };
    for (const Copy& copy : copies) {
        const QImage sharp = content.mirrored(copy.mirrorX, !copy.mirrorX);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(copy.rect, sharp);
        if (blurred.isNull())
            continue;
        QImage layer(size, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            const double sx = size.width() / w, sy = size.height() / h;
            QLinearGradient gradient(QPointF(copy.seam.x() * sx, copy.seam.y() * sy), QPointF(copy.solid.x() * sx, copy.solid.y() * sy));
            gradient.setColorAt(0.0, QColor(0, 0, 0, 0));
            gradient.setColorAt(1.0, QColor(0, 0, 0, 255));
            layerPainter.fillRect(layer.rect(), gradient);
            layerPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            layerPainter.drawImage(0, 0, blurred.mirrored(copy.mirrorX, !copy.mirrorX));
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(copy.rect, layer);
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(centre, content);
    painter.restore();
}

ImagePtr imageWithImage(const ImagePtr& source, bool flipHorizontally, int angle, const platform::DictionaryPtr& visibleArea,
                        std::optional<double> aspectRatio, QSizeF maximumSize, bool convertAnimationFrames)
{
    return imageWithImage(source, flipHorizontally, angle, visibleArea, aspectRatio, maximumSize, PMImageInterpolation::High, false,
                          convertAnimationFrames, nullptr, false);
}

namespace {

// The picture on its way through the transform: its pixels, their size in points, the part
// of them that is content (lower-left origin, in points) and the size the result stands for.
struct TransformStage {
    QImage current;
    QSizeF currentPoints;
    bool isSource = true;
    QRectF content;
    QSizeF natural;
    bool render = false;

    void replace(QImage&& image)
    {
        currentPoints = QSizeF(image.size());
        current = std::move(image);
        isSource = false;
        content = QRectF(QPointF(0, 0), currentPoints);
    }
};

// Turns the picture by the angle; false when the turned picture would be too large.
bool rotateStage(TransformStage& stage, int angle, PMImageInterpolation interpolation)
{
    QSizeF& natural = stage.natural;
    const int quarter = ((angle % 180) + 180) % 180;
    const QSizeF unrotated = natural;
    bool surround = false;
    if (quarter == 90) {
        natural.transpose();
    } else if (quarter != 0) {
        const double radians = angle * M_PI / 180.0;
        const double c = std::fabs(std::cos(radians)), s = std::fabs(std::sin(radians));
        natural = QSizeF(std::floor(unrotated.width() * c + unrotated.height() * s), std::floor(unrotated.width() * s + unrotated.height() * c));
        surround = true;
    }
    const int cw = std::max(1, int(natural.width())), ch = std::max(1, int(natural.height()));
    if (qint64(cw) * ch > kPMMaximumImagePixels) {
        PMLog("cannot transform image: %ld x %ld pixels are too many", qint64(cw), qint64(ch));
        return false;
    }
    const QRect from = pixelRectForContentRect(stage.content, stage.currentPoints, stage.current);
    QImage canvas(cw, ch, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        applyInterpolation(painter, interpolation);
        drawAtAngle(painter, stage.current, angle, QRectF(from), unrotated, QSizeF(cw, ch), surround);
    }
    stage.replace(std::move(canvas));
    return true;
}

// Keeps the visible area of the picture, widened up to its widest ratio ("w+") where the
// turned picture has room; a widening narrows the aspect ratio to match.
void cropStage(TransformStage& stage, const platform::DictionaryPtr& visibleArea, int angle, std::optional<double>& aspectRatio)
{
    QRectF& content = stage.content;
    const auto number = [&](const char* key) { return visibleArea->value(QLatin1String(key)).toDouble(); };
    const double W = content.width(), H = content.height();
    double X = content.x() + W * number("x");
    const double Y = content.y() + H * number("y");
    double w = W * number("w");
    const double h = H * number("h");
    const double widest = number("w+");
    if (h > 0.0 && w / h < widest) {
        double left = 0.0, right = W;
        if (angle % 90 != 0) {
            const int r = ((angle % 90) + 90) % 90;
            const double a = r <= 45 ? r : 90 - r;
            const double s = H * std::sin(a * M_PI / 180.0);
            left = std::min(s, X);
            right = std::max(W - s, X + w);
        }
        const double widened = std::min(right - left, h * widest);
        if (widened > w) {
            if (aspectRatio)
                *aspectRatio *= w / widened;
            double x = X + (w - widened) / 2.0;
            if (x < left)
                x = left;
            else if (x + widened > right)
                x = right - widened;
            X = x;
            w = widened;
        }
    }
    const QRectF visible = QRectF(X, Y, w, h).intersected(content);
    if (visible != content) {
        stage.natural = QSizeF(stage.natural.width() * (W > 0 ? visible.width() / W : 0.0), stage.natural.height() * (H > 0 ? visible.height() / H : 0.0));
        stage.render = true;
        content = visible;
    }
}

// The frames of an animated source, each through the same transform, kept on the result
// when they fit in memory.
void convertAnimationFramesOf(const ImagePtr& source, const ImagePtr& result, const std::function<QImage(ImagePtr)>& transform)
{
    const QSize sourcePixels = source->pixelSize().toSize();
    std::vector<PMAnimationFrameRecord> frames;
    double total = 0.0;
    qint64 bytes = 0;
    bool tooLarge = false;
    // Each frame goes through the transform as it comes: only the frames at the size
    // shown are kept, and at most the cap of them.
    const auto convert = [&](QImage&& image, double duration) {
        total += duration;
        QImage picture;
        if (result != source) {
            const ImagePtr frame = Image::make(frameOnBlack(image, sourcePixels), source->size());
            image = QImage();
            picture = transform(frame);
        } else {
            picture = std::move(image);
        }
        // Frames at the size shown stay small; a huge animation shown unscaled is
        // kept as a still rather than held in memory frame by frame.
        bytes += picture.sizeInBytes();
        if (bytes > kPMMaximumAnimationFrameBytes) {
            tooLarge = true;
            return false;
        }
        frames.push_back({std::move(picture), duration});
        return true;
    };
    if (!source->holdsFrames() && !source->filePath().isEmpty()) {
        // Read from the file one frame at a time rather than decoding all of them first.
        platform::AnimatedImageSource::readFrames(source->filePath(), 0, false, [&](QImage&& frame, double rawDelay) {
            return convert(std::move(frame), platform::PMAnimatedImageFrameDelayFromRawDelay(rawDelay));
        });
    } else {
        int count = 0;
        const ImagePtr rep = source->animatedBitmapImageRepWithURL(QUrl(), &count, nullptr, nullptr);
        if (rep && count > 1) {
            const int currentFrame = rep->currentFrame();
            for (int i = 0; i < count && !tooLarge; ++i) {
                rep->setCurrentFrame(i);
                convert(rep->currentFrameImage(), rep->currentFrameDuration());
            }
            rep->setCurrentFrame(currentFrame);
        }
    }
    if (tooLarge) {
        PMLog("not converting the frames of an animated image: more than %ld MB", qint64(kPMMaximumAnimationFrameBytes >> 20));
    } else if (frames.size() > 1) {
        result->associatedAnimationFrames = std::move(frames);
        const double rounded = std::round(total);
        result->associatedAnimationDuration = rounded >= 1.0 ? rounded : (total >= 0.1 ? 1.0 : 0.0);
    }
}

} // namespace

ImagePtr imageWithImage(const ImagePtr& source, bool flipHorizontally, int angle, const platform::DictionaryPtr& visibleArea,
                        std::optional<double> aspectRatio, QSizeF maximumSize, PMImageInterpolation interpolation, bool renderRegardless,
                        bool convertAnimationFrames, const std::shared_ptr<PMMovieRepresentationPrototype>& movie, bool updateAssetSize)
{
    if (aspectRatio && !(std::isfinite(*aspectRatio) && *aspectRatio > 0.0))
        aspectRatio.reset(); // a stored ratio of 0, below 0 or not a number means none
    // The widening below scales the ratio for this picture; the frames of an animation go
    // through the same transform and must start from the ratio as asked, not as scaled.
    const std::optional<double> requestedAspectRatio = aspectRatio;
    ImagePtr result;
    QSizeF natural(1, 1);
    bool scaled = false;
    if (!source || !source->isValid() || source->size().width() < 1.0 || source->size().height() < 1.0) {
        result = blackPixel();
    } else {
        TransformStage stage;
        stage.current = source->pixels();
        stage.currentPoints = source->size();
        stage.content = QRectF(QPointF(0, 0), stage.currentPoints);
        stage.natural = source->pixelSize();
        stage.render = renderRegardless;
        QImage& current = stage.current;
        QSizeF& currentPoints = stage.currentPoints;
        QRectF& content = stage.content;
        bool& render = stage.render;

        if (flipHorizontally) {
            current = current.convertToFormat(QImage::Format_ARGB32_Premultiplied).mirrored(true, false);
            currentPoints = stage.natural;
            stage.isSource = false;
            content = QRectF(QPointF(0, 0), currentPoints);
        }

        if (angle != 0 && !rotateStage(stage, angle, interpolation))
            return blackPixel();

        if (visibleArea)
            cropStage(stage, visibleArea, angle, aspectRatio);

        natural = stage.natural;
        if (aspectRatio) {
            natural.setHeight(natural.width() * *aspectRatio);
            if (!convertAnimationFrames)
                render = true;
        }

        if (movie) {
            const QString text = sizeText(natural);
            auto update = [movie, text, updateAssetSize] {
                movie->setThumbnailSizeDescription(text);
                if (updateAssetSize)
                    movie->userSettings()->setValue(QStringLiteral("Asset Size"), text);
            };
            if (platform::isMainThread())
                update();
            else
                platform::dispatchAsyncMain(update);
        }

        const double s = PMLargestBackingScaleFactor();
        QSizeF T = s > 1.0 ? natural / s : natural;
        if (maximumSize.width() > kEpsilon && maximumSize.height() > kEpsilon) {
            if (T.width() > maximumSize.width() && T.height() > maximumSize.height()) {
                T *= std::max(maximumSize.width() / T.width(), maximumSize.height() / T.height());
                scaled = render = true;
            }
        } else if (maximumSize.width() < -kEpsilon && maximumSize.height() < -kEpsilon) {
            const double area = std::fabs(maximumSize.width() * maximumSize.height());
            if (T.width() * T.height() > area) {
                T *= std::sqrt(area / (T.width() * T.height()));
                scaled = render = true;
            }
        }
        const auto side = [&](double t, double n, double* points, double* pixels) {
            if (t >= 1.0) {
                *points = std::round(t);
                *pixels = std::max(1.0, std::round(scaled ? s * t : n));
            } else {
                *points = *pixels = 1.0;
            }
        };
        double pointsW, pointsH, pixelsW, pixelsH;
        side(T.width(), natural.width(), &pointsW, &pixelsW);
        side(T.height(), natural.height(), &pointsH, &pixelsH);

        if (render) {
            const QRect from = pixelRectForContentRect(content, currentPoints, current);
            if (content.isEmpty() || from.isEmpty()) {
                result = blackPixel();
            } else if (pixelsW * pixelsH > double(kPMMaximumImagePixels)) {
                PMLog("cannot transform image: %ld x %ld pixels are too many", qint64(pixelsW), qint64(pixelsH));
                result = blackPixel();
            } else {
                const QImage part = from == current.rect() ? current : current.copy(from);
                const QSize target{int(pixelsW), int(pixelsH)};
                QImage drawn = interpolation == PMImageInterpolation::None ? part.scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                                                                           : platform::scaledImageAveragingArea(part, target);
                if (drawn.format() != QImage::Format_ARGB32_Premultiplied)
                    drawn = std::move(drawn).convertToFormat(QImage::Format_ARGB32_Premultiplied);
                result = Image::make(std::move(drawn), QSizeF(pointsW, pointsH));
            }
        } else if (stage.isSource) {
            result = source;
        } else {
            result = Image::make(std::move(current), QSizeF(pointsW, pointsH));
        }
    }

    result->associatedNaturalSize = natural;
    if (result != source) {
        if (source) {
            if (angle == 0 && !visibleArea && !aspectRatio && !flipHorizontally)
                result->associatedSourcePath = source->associatedSourcePath;
            result->associatedSourceType = source->associatedSourceType | (scaled ? 48 : 16);
        } else {
            result->associatedSourceType = scaled ? 48 : 16;
        }
    }

    if (convertAnimationFrames && source && source->isValid()) {
        convertAnimationFramesOf(source, result, [&](const ImagePtr& frame) {
            return imageWithImage(frame, flipHorizontally, angle, visibleArea, requestedAspectRatio, maximumSize, PMImageInterpolation::None, false,
                                  false, nullptr, false)
                ->pixels();
        });
    }
    return result;
}
