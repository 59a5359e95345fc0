// Frame grabs from an asset or a composition. With zero tolerance the answer is the frame
// shown at the time (decoded from the key frame before it); with a tolerance any frame
// within it will do, which lets a grab stop at a nearby key frame. Asynchronous requests
// run one at a time on the generator's own queue, and every requested time gets exactly
// one answer there: an image, a failure or a cancellation, within a bounded time.
#pragma once

#include "platform/media/Asset.h"

#include <QtCore/QSize>
#include <QtGui/QImage>

#include <functional>
#include <memory>
#include <vector>

namespace platform::media {

class ImageGenerator {
public:
    explicit ImageGenerator(AssetPtr asset);
    // Cancels what waits, answers it, and waits for the running request to end.
    ~ImageGenerator();
    ImageGenerator(const ImageGenerator&) = delete;
    ImageGenerator& operator=(const ImageGenerator&) = delete;

    // Turn the picture as the video track's display matrix says.
    void setAppliesPreferredTrackTransform(bool applies);
    // Tolerances around the requested time (positive infinity by default: any frame near).
    void setRequestedTimeToleranceBefore(MediaTime tolerance);
    void setRequestedTimeToleranceAfter(MediaTime tolerance);
    // Scales the picture down to fit inside the size (an empty size: full size).
    void setMaximumSize(QSize size);

    // The frame at the time, on the calling thread. A null image and the error's text on
    // failure; the time of the frame found in `actualTime`.
    QImage copyImageAtTime(const MediaTime& time, MediaTime* actualTime = nullptr, QString* error = nullptr);

    enum class Result { Succeeded, Failed, Cancelled };
    using Handler = std::function<void(const MediaTime& requestedTime, const QImage& image, const MediaTime& actualTime, Result result, const QString& error)>;
    // Queues one request per time; the handler runs on the generator's queue, once per time.
    void generateImagesAsynchronouslyForTimes(const std::vector<MediaTime>& times, Handler handler);
    // Answers every waiting request as cancelled and stops the running one.
    void cancelAllImageGeneration();

    // The longest one request may take before it fails.
    static constexpr int kRequestTimeoutMs = 15000;

    struct State;

    // Whether playing the asset from its start shows a picture before its first segment
    // ends, as a player finds it: one seek to the segment's start and decoding onward,
    // frames before the start dropped. A file that seeks to any frame rather than to a key
    // frame (a transport stream) may show nothing in a short segment far from its key
    // frames; such a timeline cannot be played. The reason in `error` when not.
    static bool playsAPictureAtItsStart(const AssetPtr& asset, QString* error = nullptr);

private:
    std::shared_ptr<State> m_state;
};

} // namespace platform::media
