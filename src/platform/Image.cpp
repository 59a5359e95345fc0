#include "platform/Image.h"
#include "platform/ImageReading.h"
#include "platform/RegularFile.h"
#include "platform/media/AnimationFrames.h"

#include <QtCore/QFileInfo>
#include <QtGui/QImageReader>

#include <cmath>

namespace platform {

double PMAnimatedImageFrameDelayFromRawDelay(double seconds)
{
    // Zero, negative and missing delays: browsers and image viewers show such frames for
    // a tenth of a second, and a movie made from them must not stall.
    return seconds < 0.01 ? 0.1 : seconds;
}

double PMAnimatedImageFrameDelay(const AnimatedImageSourcePtr& source, int frameIndex)
{
    return source ? source->frameDelay(frameIndex) : 0.0;
}

bool AnimatedImageSource::readFrames(const QString& path, qint64 maximumBytes, bool reduceToFit, const FrameHandler& take, QString* error)
{
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (QString notRegular; !checkRegularFile(path, &notRegular))
        return fail(notRegular);
    const auto tooLarge = [&] { return fail(QStringLiteral("animated image too large: <%1>").arg(path)); };
    // Qt shows animated PNG files as their first picture; FFmpeg reads their frames. The
    // chunk test comes first, so that a still PNG is never decoded twice.
    if (media::isAnimatedPNGFile(path)) {
        std::vector<AnimationFrameRecord> frames;
        QString ignored;
        if (media::decodeAnimationFrames(path, kMaximumFrameCount, kMaximumDecodedBytes, &frames, &ignored) && frames.size() >= 2) {
            qint64 total = 0;
            for (const AnimationFrameRecord& frame : frames)
                total += frame.image.sizeInBytes();
            const double scale = (maximumBytes > 0 && total > maximumBytes && reduceToFit) ? std::sqrt(double(maximumBytes) / double(total)) : 1.0;
            if (maximumBytes > 0 && total > maximumBytes && !reduceToFit)
                return tooLarge();
            for (AnimationFrameRecord& frame : frames) {
                QImage image = std::move(frame.image);
                if (scale < 1.0)
                    image = image.scaled((QSizeF(image.size()) * scale).toSize().expandedTo(QSize(1, 1)), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                if (!take(std::move(image), frame.duration))
                    break;
            }
            return true;
        }
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return fail(QStringLiteral("cannot read an image from <%1>: %2").arg(path, reader.errorString()));
    if (QString reason; reader.format().toLower() == "gif" && !checkGIFCanvasOfFile(path, &reason))
        return fail(QStringLiteral("cannot read an image from <%1>: %2").arg(path, reason));
    // What the header announces is checked before any frame is decoded: each frame is
    // decoded at the size of the whole picture, so the count times that size is what the
    // frames will take.
    const QSize size = reader.size();
    qint64 frameBytes = size.isValid() ? qint64(size.width()) * size.height() * 4 : 0;
    const int announced = reader.supportsAnimation() ? reader.imageCount() : 1;
    if (announced > kMaximumFrameCount)
        return fail(QStringLiteral("animated image too large: <%1> has %2 frames").arg(path).arg(announced));
    const bool overAnnounced = maximumBytes > 0 && announced > 0 && frameBytes * announced > maximumBytes;
    if (frameBytes > kMaximumDecodedImagePixels * 4 || (overAnnounced && !reduceToFit))
        return fail(QStringLiteral("animated image too large: <%1> has %2 frames of %3 x %4 pixels")
                        .arg(path).arg(std::max(announced, 1)).arg(size.width()).arg(size.height()));
    if (overAnnounced) {
        // Each frame is decoded at its own size and reduced at once: one frame at full
        // size is held at a time.
        const double scale = std::sqrt(double(maximumBytes) / double(frameBytes * announced));
        const QSize reduced = QSize(int(size.width() * scale), int(size.height() * scale)).expandedTo(QSize(1, 1));
        reader.setScaledSize(reduced);
        frameBytes = qint64(reduced.width()) * reduced.height() * 4;
    }
    reader.setAllocationLimit(int((kMaximumDecodedImagePixels * 8) >> 20) + 1);
    qint64 bytes = 0;
    int count = 0;
    while (reader.canRead()) {
        if (count >= kMaximumFrameCount || (maximumBytes > 0 && bytes + frameBytes > maximumBytes))
            return tooLarge();
        QImage image = reader.read();
        if (image.isNull())
            break; // a broken frame ends the animation; the frames before it stay
        const int delayMs = reader.supportsAnimation() ? reader.nextImageDelay() : 0;
        bytes += image.sizeInBytes();
        if (maximumBytes > 0 && bytes > maximumBytes)
            return tooLarge();
        ++count;
        if (!take(std::move(image), delayMs / 1000.0) || !reader.supportsAnimation())
            break;
    }
    if (count == 0)
        return fail(QStringLiteral("cannot read an image from <%1>: %2").arg(path, reader.errorString()));
    return true;
}

AnimatedImageSourcePtr AnimatedImageSource::open(const QString& path, QString* error, qint64 fitIntoBytes)
{
    auto source = std::make_shared<AnimatedImageSource>();
    source->m_path = path;
    const bool read = readFrames(
        path, fitIntoBytes > 0 ? std::min(fitIntoBytes, kMaximumDecodedBytes) : kMaximumDecodedBytes, fitIntoBytes > 0,
        [&](QImage&& frame, double delay) {
            source->m_frames.push_back({std::move(frame), delay});
            return true;
        },
        error);
    return read ? source : nullptr;
}

bool AnimatedImageSource::measure(const QString& path, int* count, double* duration)
{
    int frames = 0;
    double total = 0.0;
    const bool read = readFrames(path, 0, false, [&](QImage&&, double delay) {
        ++frames;
        total += PMAnimatedImageFrameDelayFromRawDelay(delay);
        return true;
    });
    if (count)
        *count = read ? frames : 0;
    if (duration)
        *duration = read ? total : 0.0;
    return read;
}

bool AnimatedImageSource::isAnimatedImageFile(const QString& path)
{
    if (!checkRegularFile(path))
        return false;
    if (media::isAnimatedPNGFile(path))
        return true;
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format().toLower();
    return (format == "gif" || format == "webp") && reader.supportsAnimation() && reader.imageCount() > 1;
}

QImage AnimatedImageSource::imageAtIndex(int index) const
{
    return index >= 0 && index < count() ? m_frames[size_t(index)].image : QImage();
}

double AnimatedImageSource::frameDelay(int index) const
{
    if (index < 0 || index >= count())
        return 0.0;
    return PMAnimatedImageFrameDelayFromRawDelay(m_frames[size_t(index)].duration);
}

Image::Image(QImage pixels, QSizeF pointSize)
    : m_pixels(std::move(pixels))
{
    if (pointSize.isEmpty() && !m_pixels.isNull()) {
        const qreal ratio = m_pixels.devicePixelRatio() > 0 ? m_pixels.devicePixelRatio() : 1.0;
        pointSize = QSizeF(m_pixels.width() / ratio, m_pixels.height() / ratio);
    }
    m_size = pointSize;
}

ImagePtr Image::make(QImage pixels, QSizeF pointSize)
{
    return std::make_shared<Image>(std::move(pixels), pointSize);
}

ImagePtr Image::imageWithContentsOfFile(const QString& path)
{
    QImage pixels = readImageFile(path);
    if (pixels.isNull())
        return nullptr;
    auto image = make(std::move(pixels));
    image->m_filePath = path;
    return image;
}

ImagePtr Image::imageWithAnimationFrames(std::vector<AnimationFrameRecord> frames)
{
    if (frames.empty() || frames.front().image.isNull())
        return nullptr;
    auto image = make(frames.front().image);
    image->m_frames = std::move(frames);
    image->m_framesLoaded = true;
    return image;
}

QSizeF Image::pixelSizeWithPointsSize(QSizeF pointsSize) const
{
    if (m_pixels.isNull() || m_pixels.height() <= 0)
        return pointsSize;
    return QSizeF(m_pixels.width(), m_pixels.height());
}

ImagePtr Image::anyBitmapImageRep()
{
    if (!isValid())
        return nullptr;
    if (auto self = weak_from_this().lock())
        return self;
    return std::make_shared<Image>(*this);
}

void Image::loadFramesIfNeeded() const
{
    if (m_framesLoaded)
        return;
    m_framesLoaded = true;
    if (m_filePath.isEmpty())
        return;
    if (const auto source = AnimatedImageSource::open(m_filePath)) {
        if (source->count() >= 2) {
            m_frames.reserve(size_t(source->count()));
            for (int i = 0; i < source->count(); ++i)
                m_frames.push_back({source->imageAtIndex(i), source->frameDelay(i)});
        }
    }
}

int Image::frameCount() const
{
    if (!isValid())
        return 0;
    loadFramesIfNeeded();
    return m_frames.empty() ? 1 : int(m_frames.size());
}

void Image::setCurrentFrame(int index)
{
    if (index >= 0 && index < frameCount())
        m_currentFrame = index;
}

QImage Image::currentFrameImage() const
{
    loadFramesIfNeeded();
    if (m_frames.empty())
        return m_pixels;
    return m_frames[size_t(m_currentFrame)].image;
}

double Image::currentFrameDuration() const
{
    loadFramesIfNeeded();
    if (m_frames.empty())
        return 0.0;
    return PMAnimatedImageFrameDelayFromRawDelay(m_frames[size_t(m_currentFrame)].duration);
}

ImagePtr Image::animatedBitmapImageRepWithURL(const QUrl& url, int* numberOfFrames, double* duration, AnimatedImageSourcePtr* source)
{
    const ImagePtr rep = anyBitmapImageRep();
    if (!rep)
        return nullptr;
    if (url.isLocalFile()) {
        if (auto opened = AnimatedImageSource::open(url.toLocalFile()); opened && opened->count() >= 2) {
            double total = 0.0;
            for (int i = 0; i < opened->count(); ++i)
                total += PMAnimatedImageFrameDelay(opened, i);
            if (total > 0.01) {
                if (numberOfFrames)
                    *numberOfFrames = opened->count();
                if (duration)
                    *duration = total;
                if (source)
                    *source = std::move(opened);
                return rep;
            }
        }
    }
    const int frames = rep->frameCount();
    if (frames < 2)
        return nullptr;
    if (numberOfFrames)
        *numberOfFrames = frames;
    if (duration) {
        double total = 0.0;
        const int current = rep->currentFrame();
        for (int i = frames - 1; i >= 0; --i) {
            rep->setCurrentFrame(i);
            total += rep->currentFrameDuration();
        }
        rep->setCurrentFrame(current);
        *duration = total;
    }
    return rep;
}

} // namespace platform
