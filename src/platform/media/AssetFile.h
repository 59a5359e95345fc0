// Internal to the media layer: the opened and probed file behind a file asset, and the
// FFmpeg helpers the image generator shares with it.
#pragma once

#include "platform/RegularFile.h"
#include "platform/media/Asset.h"

#include <QtCore/QDeadlineTimer>

#include <atomic>
#include <mutex>

struct AVFormatContext;

namespace platform::media {

// A deadline and a cancellation flag that FFmpeg's blocking calls poll.
struct InterruptState {
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
    const std::atomic<bool>* cancelled = nullptr;
    bool expired() const { return deadline.hasExpired() || (cancelled && cancelled->load()); }
};
int interruptCallback(void* opaque);

// Keeps FFmpeg's own console chatter out of the program's output: failures reach callers
// as error texts. Setting PELLIS_FFMPEG_LOG in the environment lets FFmpeg's lines through.
void setUpMediaLibraryLogging();

// Opens the file for reading with the interrupt state attached; nullptr and the error's
// text on failure. The caller owns the context (avformat_close_input).
AVFormatContext* openFormatContext(const QString& path, InterruptState* interrupt, QString* error);
QString errorText(int averror);

struct Asset::File {
    QString path;
    std::mutex mutex;
    bool opened = false;
    bool failed = false;
    // Read without the lock: Unknown, Loading, Loaded or Failed.
    std::atomic<LoadStatus> status{LoadStatus::Unknown};
    QString error;
    MediaTime duration;
    MediaTime startTime = MediaTime::zero(); // the container's start on the file's own clock
    std::vector<Track> tracks;      // trackID = FFmpeg stream index + 1
    std::vector<MetadataItem> metadata;
    std::vector<Chapter> chapters;
    QImage cover;

    // Opens and probes once; later calls answer at once.
    void openIfNeeded();
};

} // namespace platform::media
