#include "platform/Image.h"
#include "platform/ImageReading.h"
#include "platform/RegularFile.h"
#include "platform/media/AnimationFrames.h"

#include <QtCore/QFileInfo>
#include <QtGui/QImageReader>

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

AnimatedImageSourcePtr AnimatedImageSource::open(const QString& path, QString* error)
{
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return AnimatedImageSourcePtr();
    };
    if (QString notRegular; !checkRegularFile(path, &notRegular))
        return fail(notRegular);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return fail(QStringLiteral("cannot read an image from <%1>: %2").arg(path, reader.errorString()));
    // What the header announces is checked before any frame is decoded: each frame is
    // decoded at the size of the whole picture, so the count times that size is what the
    // frames will take.
    const QSize size = reader.size();
    const qint64 frameBytes = size.isValid() ? qint64(size.width()) * size.height() * 4 : 0;
    const int announced = reader.supportsAnimation() ? reader.imageCount() : 1;
    if (announced > kMaximumFrameCount)
        return fail(QStringLiteral("animated image too large: <%1> has %2 frames").arg(path).arg(announced));
    if (frameBytes > kMaximumDecodedImagePixels * 4 || (announced > 0 && frameBytes * announced > kMaximumDecodedBytes))
        return fail(QStringLiteral("animated image too large: <%1> has %2 frames of %3 x %4 pixels")
                        .arg(path).arg(std::max(announced, 1)).arg(size.width()).arg(size.height()));
    reader.setAllocationLimit(int((kMaximumDecodedImagePixels * 8) >> 20) + 1);
    auto source = std::make_shared<AnimatedImageSource>();
    source->m_path = path;
    qint64 bytes = 0;
    while (reader.canRead()) {
        if (int(source->m_frames.size()) >= kMaximumFrameCount || bytes + frameBytes > kMaximumDecodedBytes)
            return fail(QStringLiteral("animated image too large: <%1>").arg(path));
        QImage image = reader.read();
        if (image.isNull())
            break; // a broken frame ends the animation; the frames before it stay
        const int delayMs = reader.supportsAnimation() ? reader.nextImageDelay() : 0;
        bytes += image.sizeInBytes();
        if (bytes > kMaximumDecodedBytes)
            return fail(QStringLiteral("animated image too large: <%1>").arg(path));
        source->m_frames.push_back({std::move(image), delayMs / 1000.0});
        if (!reader.supportsAnimation())
            break;
    }
    if (source->m_frames.empty())
        return fail(QStringLiteral("cannot read an image from <%1>: %2").arg(path, reader.errorString()));
    // Qt shows animated PNG files as their first picture; FFmpeg reads their frames.
    if (source->m_frames.size() == 1 && media::isAnimatedPNGFile(path)) {
        std::vector<AnimationFrameRecord> frames;
        QString ignored;
        if (media::decodeAnimationFrames(path, kMaximumFrameCount, kMaximumDecodedBytes, &frames, &ignored) && frames.size() >= 2)
            source->m_frames = std::move(frames);
    }
    return source;
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
