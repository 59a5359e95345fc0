// Writes QuickTime movies (.mov) with H.264 video (libx264 inside libavcodec) from a
// series of images. The movie is written beside its final path and moved there only when
// complete, so a failed or cancelled writer leaves no torn movie behind.
#pragma once

#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtGui/QImage>

#include <cstdint>
#include <memory>

namespace platform::media {

class MovieWriter {
public:
    enum class Status { Unknown, Writing, Completed, Failed, Cancelled };

    MovieWriter();
    // A writer still writing is cancelled.
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Starts a movie of that pixel size (odd sides are raised to even ones, as H.264 in
    // 4:2:0 needs) whose times count in units of 1/timescale seconds.
    bool startWriting(const QString& path, QSize size, int timescale, QString* error = nullptr);
    // Appends a picture shown from the time on (times must increase); a picture of
    // another size is scaled to the movie's.
    bool appendImage(const QImage& image, std::int64_t presentationTime, QString* error = nullptr);
    // Ends the movie at the end time (the last picture shows until then) and moves the
    // file into place.
    bool finishWriting(std::int64_t endTime, QString* error = nullptr);
    // Stops and removes what was written.
    void cancelWriting();

    Status status() const;
    QString error() const;
    int framesWritten() const;
    QSize size() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

} // namespace platform::media
