// The program's one image type: pixels in a QImage, a size in points kept apart from the
// pixel size, and the few annotations that travel with an image from the loader to the
// views. Animated files (GIF, animated PNG, WebP) are read through AnimatedImageSource,
// which stands where an image source with per-frame properties would.
#pragma once

#include <QtCore/QSizeF>
#include <QtCore/QString>
#include <QtCore/QUrl>
#include <QtGui/QImage>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class Image;
using ImagePtr = std::shared_ptr<Image>;
class AnimatedImageSource;
using AnimatedImageSourcePtr = std::shared_ptr<AnimatedImageSource>;

// One frame of an animated image: its picture and how long it shows, in seconds.
struct AnimationFrameRecord {
    QImage image;
    double duration = 0.0;
};

// The frames of an animated image file with their delays, decoded once when opened.
// Untrusted input: the frame count and the decoded bytes are bounded, and a file that
// breaks off keeps the frames read before the fault.
class AnimatedImageSource {
public:
    // Nothing when the file cannot be read as an image at all. With `fitIntoBytes`, frames
    // that would take more at their own size are decoded reduced (the same for all, aspect
    // ratio kept) so that all of them fit; without it such a file is refused.
    static AnimatedImageSourcePtr open(const QString& path, QString* error = nullptr, qint64 fitIntoBytes = 0);

    // Reads the frames one after another, holding one at a time: each goes to `take` with
    // its raw delay in seconds, and `take` answers whether to go on. The header's count and
    // size are checked before anything is decoded; `maximumBytes` (0: no bound) bounds the
    // frames read in all, and with `reduceToFit` a file announcing more is read reduced
    // instead of refused. False, with the reason, when nothing could be read or a limit
    // was passed.
    using FrameHandler = std::function<bool(QImage&& frame, double rawDelay)>;
    static bool readFrames(const QString& path, qint64 maximumBytes, bool reduceToFit, const FrameHandler& take, QString* error = nullptr);
    // The number of frames and their delays added up (the delay rule applied), read
    // without keeping the frames; false when the file cannot be read as an image.
    static bool measure(const QString& path, int* count, double* duration);
    // Whether the file holds (or for GIF and WebP, announces in its header) more than one
    // picture. A PNG counts only with an "acTL" chunk before its image data; nothing is
    // decoded.
    static bool isAnimatedImageFile(const QString& path);

    int count() const { return int(m_frames.size()); }
    // The frame's picture; a null image outside the range.
    QImage imageAtIndex(int index) const;
    // The frame's delay in seconds; a delay below 0.01 s (none, zero or negative) counts
    // as 0.1 s, so that no frame shows for no time at all; 0 outside the range.
    double frameDelay(int index) const;
    const QString& path() const { return m_path; }

    // Limits against hostile files, checked against the header before decoding.
    static constexpr int kMaximumFrameCount = 5000;
    static constexpr qint64 kMaximumDecodedBytes = qint64(512) << 20;

private:
    QString m_path;
    std::vector<AnimationFrameRecord> m_frames;
};

// The delay rule of animated images (see frameDelay): raw delay in seconds in, the
// delay to use out.
double PMAnimatedImageFrameDelayFromRawDelay(double seconds);
// The frame's delay of an image source; 0 without a source or outside its frames.
double PMAnimatedImageFrameDelay(const AnimatedImageSourcePtr& source, int frameIndex);

class Image : public std::enable_shared_from_this<Image> {
public:
    Image() = default;
    // The point size defaults to the pixel size divided by the image's device pixel ratio.
    explicit Image(QImage pixels, QSizeF pointSize = {});
    static ImagePtr make(QImage pixels, QSizeF pointSize = {});
    // The first picture of an image file; nothing when the file cannot be read.
    static ImagePtr imageWithContentsOfFile(const QString& path);
    // An image whose representation holds animation frames (as decoded from a file).
    static ImagePtr imageWithAnimationFrames(std::vector<AnimationFrameRecord> frames);

    bool isValid() const { return !m_pixels.isNull(); }
    const QImage& pixels() const { return m_pixels; }

    // The size in points (what layout uses); the pixel size is that of the pixels.
    QSizeF size() const { return m_size; }
    void setSize(QSizeF size) { m_size = size; }
    // The pixel size of the bitmap; the given size when there is no bitmap.
    QSizeF pixelSizeWithPointsSize(QSizeF pointsSize) const;
    QSizeF pixelSize() const { return pixelSizeWithPointsSize(m_size); }

    // The bitmap representation: this image itself when it has pixels, else nothing.
    ImagePtr anyBitmapImageRep();

    // The animated representation of the image. With a file URL, an image source is
    // opened on it; when it holds two or more frames whose delays add up to more than
    // 0.01 s, the count, the total and the source are handed out. Otherwise (no URL or
    // that failed) the representation's own frames count: fewer than two answer nothing.
    ImagePtr animatedBitmapImageRepWithURL(const QUrl& url, int* numberOfFrames, double* duration, AnimatedImageSourcePtr* source);

    // Frames of the representation itself (for an image made from a file, its frames are
    // read on first need).
    int frameCount() const;
    void setCurrentFrame(int index);
    int currentFrame() const { return m_currentFrame; }
    // The picture and the duration of the current frame.
    QImage currentFrameImage() const;
    double currentFrameDuration() const;

    // The file the image was read from (empty for pictures made in memory).
    const QString& filePath() const { return m_filePath; }
    // Whether the frames of the representation are in memory already.
    bool holdsFrames() const { return m_framesLoaded; }

    // Annotations that travel with the image.
    QString associatedSourcePath;
    int associatedSourceType = 0;
    QSizeF associatedNaturalSize;
    std::vector<AnimationFrameRecord> associatedAnimationFrames;
    double associatedAnimationDuration = 0.0;
    // Drawn in a colour of its own by whoever shows it (menus, sidebars).
    bool isTemplate = false;

    // The blurred copy kept with the image (the tiles' background). A loader thread may set
    // it while the main thread reads it.
    ImagePtr cachedBlurredImage() const { return m_blurred.get(); }
    void setCachedBlurredImage(ImagePtr image) { m_blurred.set(std::move(image)); }

private:
    void loadFramesIfNeeded() const;

    QImage m_pixels;
    QSizeF m_size;
    QString m_filePath; // the file the image was read from, for its further frames
    mutable std::vector<AnimationFrameRecord> m_frames;
    mutable bool m_framesLoaded = false;
    int m_currentFrame = 0;
    // A copy of an image shares its blurred copy but gets a lock of its own.
    class BlurredSlot {
    public:
        BlurredSlot() = default;
        BlurredSlot(const BlurredSlot& other) : m_image(other.get()) {}
        BlurredSlot& operator=(const BlurredSlot& other)
        {
            if (this != &other)
                set(other.get());
            return *this;
        }
        ImagePtr get() const
        {
            std::lock_guard lock(m_mutex);
            return m_image;
        }
        void set(ImagePtr image)
        {
            std::lock_guard lock(m_mutex);
            m_image = std::move(image);
        }

    private:
        mutable std::mutex m_mutex;
        ImagePtr m_image;
    };
    BlurredSlot m_blurred;
};

} // namespace platform
