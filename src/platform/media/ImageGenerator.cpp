#include "platform/media/ImageGenerator.h"
#include "platform/media/AssetFile.h"
#include "platform/Paths.h"
#include "platform/Image.h"
#include "platform/ImageReading.h"

#include <QtCore/QHash>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace platform::media {

namespace {

// One opened video stream of one file, kept between grabs so that a series of grabs
// from the same file opens it once.
struct Decoder {
    QString path;
    int streamIndex = -1;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwsContext* sws = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    InterruptState interrupt;
    int64_t originMicroseconds = 0; // the file's start time: asset time 0
    // A picture file (JPEG, PNG, WebP...): one frame, and a demuxer that yields nothing
    // after a seek.
    bool singleImage = false;

    ~Decoder() { close(); }

    void close()
    {
        if (sws)
            sws_freeContext(sws);
        sws = nullptr;
        if (codec)
            avcodec_free_context(&codec);
        if (format)
            avformat_close_input(&format);
        if (packet)
            av_packet_free(&packet);
        if (frame)
            av_frame_free(&frame);
        path.clear();
        streamIndex = -1;
        singleImage = false;
    }

    bool open(const QString& filePath, int trackID, QString* error)
    {
        if (format && path == filePath && streamIndex == trackID - 1)
            return true;
        close();
        format = openFormatContext(filePath, &interrupt, error);
        if (!format)
            return false;
        const int index = trackID - 1;
        if (index < 0 || unsigned(index) >= format->nb_streams || format->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
            *error = QStringLiteral("no video track %1 in <%2>").arg(trackID).arg(filePath);
            close();
            return false;
        }
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        const AVStream* stream = format->streams[index];
        const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!decoder) {
            *error = QStringLiteral("no decoder for the video of <%1>").arg(filePath);
            close();
            return false;
        }
        codec = avcodec_alloc_context3(decoder);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (!codec || !packet || !frame || avcodec_parameters_to_context(codec, stream->codecpar) < 0) {
            *error = QStringLiteral("cannot set up the decoder for <%1>").arg(filePath);
            close();
            return false;
        }
        codec->thread_count = 0; // as many as the machine has
        codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        if (const int result = avcodec_open2(codec, decoder, nullptr); result < 0) {
            *error = QStringLiteral("cannot open the decoder for <%1>: %2").arg(filePath, errorText(result));
            close();
            return false;
        }
        originMicroseconds = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
        const QByteArray demuxer = format->iformat && format->iformat->name ? QByteArray(format->iformat->name) : QByteArray();
        singleImage = demuxer == "image2" || demuxer.endsWith("_pipe");
        path = filePath;
        streamIndex = index;
        return true;
    }
};

struct Grab {
    QImage image;
    int64_t pts = AV_NOPTS_VALUE;
};

// The picture of the decoder's current frame at the given output size.
QImage convertFrame(Decoder& d, const AVFrame* frame, QSize outputSize)
{
    if (frame->width <= 0 || frame->height <= 0 || outputSize.isEmpty())
        return {};
    const bool scales = frame->width != outputSize.width() || frame->height != outputSize.height();
    d.sws = sws_getCachedContext(d.sws, frame->width, frame->height, AVPixelFormat(frame->format), outputSize.width(), outputSize.height(), AV_PIX_FMT_RGB32,
        scales ? SWS_BICUBIC : SWS_POINT, nullptr, nullptr, nullptr);
    if (!d.sws)
        return {};
    QImage image(outputSize, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(d.sws, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    return image;
}

} // namespace

struct ImageGenerator::State {
    AssetPtr asset;

    std::mutex settingsMutex;
    bool appliesTransform = false;
    MediaTime toleranceBefore = MediaTime::positiveInfinity();
    MediaTime toleranceAfter = MediaTime::positiveInfinity();
    QSize maximumSize;

    std::mutex decodeMutex;
    Decoder decoder;
    AnimatedImageSourcePtr imageSource; // the frames of a picture FFmpeg cannot decode

    struct Request {
        MediaTime time;
        Handler handler;
    };
    std::mutex queueMutex;
    std::condition_variable wake;
    std::deque<Request> queue;
    bool stopping = false;
    std::thread worker;
    std::atomic<bool> cancelRunning{false};

    QImage copyImage(const MediaTime& time, MediaTime* actualTime, QString* error, const std::atomic<bool>* cancelled);
    QImage grabFromFile(const AssetPtr& file, int trackID, const MediaTime& sourceTime, const MediaTime& before, const MediaTime& after, QSize outputSize,
        const std::atomic<bool>* cancelled, MediaTime* actual, QString* error);
    QImage grabWithImageReader(const QString& path, const MediaTime& sourceTime, QSize maximumSize, MediaTime* actual, QString* error);
    void run();
};

namespace {

// Where a composition time leads: the file asset, its video track and the time in it,
// and the display matrix that applies.
struct Resolved {
    AssetPtr file;
    int trackID = 0;
    MediaTime sourceTime;
    MediaTime compositionOffset; // composition time minus source time
    AffineTransform transform;
    QSizeF naturalSize;
};

bool resolve(const AssetPtr& asset, MediaTime time, Resolved* out, QString* error, int depth = 0)
{
    if (depth > 16) {
        *error = QStringLiteral("compositions nested too deeply");
        return false;
    }
    if (!asset->isComposition()) {
        const std::vector<Track> video = asset->tracksWithMediaType(MediaType::Video);
        if (video.empty()) {
            *error = asset->error().isEmpty() ? QStringLiteral("no video track in <%1>").arg(asset->URL().toLocalFile()) : asset->error();
            return false;
        }
        out->file = asset;
        out->trackID = video.front().trackID;
        out->sourceTime = time;
        if (depth == 0) {
            out->transform = video.front().preferredTransform;
            out->naturalSize = video.front().naturalSize;
            out->compositionOffset = MediaTime::zero();
        }
        return true;
    }
    const auto composition = std::static_pointer_cast<Composition>(asset);
    const std::vector<Track> video = composition->tracksWithMediaType(MediaType::Video);
    if (video.empty()) {
        *error = QStringLiteral("the composition has no video track");
        return false;
    }
    const MediaTime end = composition->duration();
    if (time >= end && end.value > 0)
        time = end - MediaTime::make(1, end.timescale); // the last frame stands for the end
    Composition::Segment segment;
    MediaTime sourceTime;
    if (!composition->getSegmentForTime(video.front().trackID, time, &segment, &sourceTime)) {
        *error = QStringLiteral("no video at %1 s").arg(time.seconds());
        return false;
    }
    if (depth == 0) {
        out->transform = video.front().preferredTransform;
        out->naturalSize = video.front().naturalSize;
        out->compositionOffset = segment.target.start - segment.sourceStart;
    } else {
        out->compositionOffset = out->compositionOffset + (segment.target.start - segment.sourceStart);
    }
    if (segment.source->isComposition())
        return resolve(segment.source, sourceTime, out, error, depth + 1);
    out->file = segment.source;
    out->trackID = segment.sourceTrackID;
    out->sourceTime = sourceTime;
    return true;
}

QSize outputSizeFor(QSizeF natural, QSize codedSize, const AffineTransform& transform, bool applies, QSize maximumSize)
{
    QSizeF size = natural.isEmpty() ? QSizeF(codedSize) : natural;
    const bool swaps = applies && std::abs(transform.a) < 0.5 && std::abs(transform.d) < 0.5;
    if (!maximumSize.isEmpty()) {
        const QSizeF shown = swaps ? size.transposed() : size;
        if (shown.width() > maximumSize.width() || shown.height() > maximumSize.height()) {
            const QSizeF fitted = shown.scaled(QSizeF(maximumSize), Qt::KeepAspectRatio);
            size = swaps ? fitted.transposed() : fitted;
        }
    }
    return QSize(std::max(1, qRound(size.width())), std::max(1, qRound(size.height())));
}

} // namespace

namespace {

// Decodes the first frame from where the demuxer stands.
bool firstFrame(Decoder& d, QSize outputSize, QImage* image, int64_t* pts)
{
    bool eof = false;
    while (!d.interrupt.expired()) {
        const int received = avcodec_receive_frame(d.codec, d.frame);
        if (received == 0) {
            *pts = d.frame->best_effort_timestamp != AV_NOPTS_VALUE ? d.frame->best_effort_timestamp : d.frame->pts;
            *image = convertFrame(d, d.frame, outputSize);
            av_frame_unref(d.frame);
            return !image->isNull();
        }
        if (received != AVERROR(EAGAIN) || eof)
            return false;
        const int read = av_read_frame(d.format, d.packet);
        if (read == AVERROR(EAGAIN))
            continue;
        if (read < 0) {
            eof = true;
            avcodec_send_packet(d.codec, nullptr);
            continue;
        }
        if (d.packet->stream_index == d.streamIndex)
            avcodec_send_packet(d.codec, d.packet);
        av_packet_unref(d.packet);
    }
    return false;
}

// Seeks to the key frame before (AVSEEK_FLAG_BACKWARD) or after (0) the time and decodes
// the first frame there.
bool firstFrameAfterSeek(Decoder& d, int64_t target, int flags, QSize outputSize, QImage* image, int64_t* pts)
{
    d.codec->skip_frame = AVDISCARD_DEFAULT;
    avcodec_flush_buffers(d.codec);
    if (av_seek_frame(d.format, d.streamIndex, target, flags) < 0)
        return false;
    return firstFrame(d, outputSize, image, pts);
}

} // namespace

namespace {

// The search for the frame at a time: a seek to a key frame before it, then decoding up to
// it. The frame found so far stays in `held`.
struct FrameSearch {
    FrameSearch(Decoder& decoder, AVStream* stream, int64_t target, bool exact, int64_t acceptFrom)
        : d(decoder), stream(stream), tb(stream->time_base), target(target), exact(exact), acceptFrom(acceptFrom)
    {
        streamStart = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : av_rescale_q(d.originMicroseconds, kMicro, tb);
        second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, tb));
    }
    ~FrameSearch() { av_frame_free(&held); }
    FrameSearch(const FrameSearch&) = delete;
    FrameSearch& operator=(const FrameSearch&) = delete;

    static constexpr AVRational kMicro = {1, 1000000};

    Decoder& d;
    AVStream* stream;
    AVRational tb;
    int64_t target;
    bool exact;
    int64_t acceptFrom;

    QHash<int64_t, int64_t> packetDurations; // pts -> duration, to know when a frame covers the time
    int64_t bestPts = AV_NOPTS_VALUE;
    const AVFrame* keep = nullptr;
    AVFrame* held = av_frame_alloc();
    bool eof = false;
    bool done = false;
    bool ranOut = false; // no frame after the time came before the stream's end
    int framesDecoded = 0;
    int64_t firstPts = AV_NOPTS_VALUE; // of the first frame decoded after the seek
    // Some containers (transport streams) seek to any frame near the time rather than to
    // the key frame before it: the decoder then shows nothing until the next key frame,
    // which may lie past the time, or past the end. Such a seek is made again from further
    // back (a second, then four times as far each time), then from the start by time, and
    // at last from the file's first byte.
    int64_t streamStart = 0;
    int64_t second = 1;
    int64_t backOff = 0;
    int stage = 0; // 0: before the time, 1: the start by time, 2: the first byte, 3: nothing left

    bool seekNext()
    {
        d.codec->skip_frame = AVDISCARD_DEFAULT;
        avcodec_flush_buffers(d.codec);
        packetDurations.clear();
        av_frame_unref(held);
        keep = nullptr;
        bestPts = firstPts = AV_NOPTS_VALUE;
        eof = done = ranOut = false;
        framesDecoded = 0;
        if (stage == 0) {
            if (target - backOff > streamStart && av_seek_frame(d.format, d.streamIndex, target - backOff, AVSEEK_FLAG_BACKWARD) >= 0)
                return true;
            stage = 1;
        }
        if (stage == 1) {
            if (av_seek_frame(d.format, d.streamIndex, streamStart, AVSEEK_FLAG_BACKWARD) >= 0
                || avformat_seek_file(d.format, d.streamIndex, INT64_MIN, 0, 0, 0) >= 0)
                return true;
            stage = 2;
        }
        if (stage == 2) {
            stage = 3;
            return !(d.format->iformat->flags & AVFMT_NO_BYTE_SEEK) && av_seek_frame(d.format, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
        }
        return false;
    }

    // Takes the decoder's frame as the one found so far.
    void hold(int64_t pts)
    {
        av_frame_unref(held);
        av_frame_move_ref(held, d.frame);
        keep = held;
        bestPts = pts;
    }

    enum class Fed { Packet, Again, Failed };

    // Reads the next packet of the stream into the decoder; Failed with *failure when the
    // decoder refuses it.
    Fed feed(QString* failure)
    {
        const int read = av_read_frame(d.format, d.packet);
        if (read == AVERROR(EAGAIN))
            return Fed::Again;
        if (read < 0) {
            eof = true;
            avcodec_send_packet(d.codec, nullptr);
            return Fed::Packet;
        }
        if (d.packet->stream_index == d.streamIndex) {
            if (d.packet->pts != AV_NOPTS_VALUE && d.packet->duration > 0)
                packetDurations.insert(d.packet->pts, d.packet->duration);
            // A frame that ends before the wanted one begins need not be pictured
            // unless later frames refer to it.
            const bool notWanted = d.packet->pts != AV_NOPTS_VALUE && d.packet->duration > 0 && d.packet->pts + d.packet->duration <= acceptFrom;
            d.codec->skip_frame = notWanted ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            const int sent = avcodec_send_packet(d.codec, d.packet);
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
                av_packet_unref(d.packet);
                *failure = QStringLiteral("cannot decode <%1>: %2").arg(d.path, errorText(sent));
                return Fed::Failed;
            }
        }
        av_packet_unref(d.packet);
        return Fed::Packet;
    }

    // Takes the frames the decoder has ready, until it wants more input or the frame is found.
    void receive()
    {
        for (;;) {
            const int received = avcodec_receive_frame(d.codec, d.frame);
            if (received == AVERROR(EAGAIN))
                return;
            if (received == AVERROR_EOF || received < 0) {
                // The stream ended: the last frame before the time is the answer.
                done = true;
                ranOut = true;
                return;
            }
            ++framesDecoded;
            const int64_t pts = d.frame->best_effort_timestamp != AV_NOPTS_VALUE ? d.frame->best_effort_timestamp : d.frame->pts;
            if (framesDecoded == 1)
                firstPts = pts;
            if (pts == AV_NOPTS_VALUE || (!exact && pts >= acceptFrom)) {
                hold(pts);
                done = true;
                return;
            }
            if (pts > target) {
                if (!keep) // the time lies before the first frame
                    hold(pts);
                done = true;
                return;
            }
            hold(pts);
            const int64_t length = packetDurations.value(pts, 0);
            if (length > 0 && pts + length > target) {
                done = true;
                return;
            }
        }
    }

    // Decodes from where the demuxer stands until the frame is found or the stream is
    // drained; false when interrupted or on a decoding failure (then *failure says which).
    bool decode(QString* failure)
    {
        while (!done) {
            if (d.interrupt.expired())
                return false;
            if (!eof) {
                const Fed fed = feed(failure);
                if (fed == Fed::Failed)
                    return false;
                if (fed == Fed::Again)
                    continue;
            }
            receive();
        }
        return true;
    }

    // Late: nothing decoded, or an exact grab whose first frame lies past the time and
    // past the stream's first frame.
    bool late() const { return !keep || (exact && firstPts != AV_NOPTS_VALUE && firstPts > std::max(target, streamStart)); }

    // Seeks again from further back for a round that came late; false when nothing is left
    // to try (what the last round found then stands).
    bool retry()
    {
        if (stage == 0)
            backOff = backOff == 0 ? second : backOff * 4;
        else
            ++stage;
        if (stage >= 3 || (stage == 2 && (d.format->iformat->flags & AVFMT_NO_BYTE_SEEK)))
            return false;
        return seekNext();
    }

    // An exact grab that ran out of frames before the time answers the last frame only
    // when the time lies at or past the track's end; in a file cut short, the last frame
    // there is not the one asked for.
    bool endsBeforeTime() const
    {
        if (!exact || !ranOut || bestPts == AV_NOPTS_VALUE)
            return false;
        int64_t frameTicks = packetDurations.value(bestPts, 0);
        const AVRational rate = stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        if (frameTicks <= 0 && rate.num > 0 && rate.den > 0)
            frameTicks = av_rescale_q(1, av_inv_q(rate), tb);
        int64_t end = AV_NOPTS_VALUE;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            end = (stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0) + stream->duration;
        else if (d.format->duration != AV_NOPTS_VALUE && d.format->duration > 0)
            end = av_rescale_q(d.originMicroseconds + d.format->duration, kMicro, tb);
        return frameTicks > 0 && end != AV_NOPTS_VALUE && std::min(target, end - frameTicks) - bestPts >= frameTicks;
    }
};

// With a tolerance, decoding stops at the first frame inside it. Only when the key frame
// before the time lies outside it and the one after lies inside does a seek forward save
// the decoding. The index gives decoding times, close enough to choose.
bool grabAfterNextKeyFrame(Decoder& d, AVStream* stream, int64_t target, int64_t before, int64_t after, QSize outputSize, QImage* image, int64_t* pts)
{
    // Decoding times run ahead of presentation times by the reordering delay: the
    // first entry against the stream's start tells by how much.
    int64_t shift = 0;
    const AVIndexEntry* first = avformat_index_get_entry(stream, 0);
    if (first && stream->start_time != AV_NOPTS_VALUE && stream->start_time > first->timestamp)
        shift = stream->start_time - first->timestamp;
    const AVIndexEntry* previous = avformat_index_get_entry_from_timestamp(stream, target - shift, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* next = avformat_index_get_entry_from_timestamp(stream, target - shift, 0);
    const bool previousNear = previous && target - (previous->timestamp + shift) <= before;
    const bool nextNear = next && next->timestamp + shift >= target && next->timestamp + shift - target <= after;
    *pts = AV_NOPTS_VALUE;
    return !previousNear && nextNear && firstFrameAfterSeek(d, target, 0, outputSize, image, pts) && *pts != AV_NOPTS_VALUE && *pts >= target - before
        && *pts <= target + after;
}

} // namespace

QImage ImageGenerator::State::grabFromFile(const AssetPtr& file, int trackID, const MediaTime& sourceTime, const MediaTime& before, const MediaTime& after,
    QSize outputSize, const std::atomic<bool>* cancelled, MediaTime* actual, QString* error)
{
    Decoder& d = decoder;
    d.interrupt.deadline = QDeadlineTimer(kRequestTimeoutMs);
    d.interrupt.cancelled = cancelled;
    const auto failed = [&](const QString& text) {
        *error = d.interrupt.expired() ? (cancelled && cancelled->load() ? QStringLiteral("cancelled") : QStringLiteral("timed out")) : text;
        return QImage();
    };
    // A picture is read again from its start each time: its frame is the one at every time.
    if (d.singleImage)
        d.close();
    if (!d.open(pathFromFileURL(file->URL()), trackID, error))
        return QImage();
    // A picture's header can announce any size: nothing that large is decoded.
    if (d.codec && qint64(d.codec->width) * d.codec->height > kMaximumDecodedImagePixels) {
        *error = QStringLiteral("%1 x %2 pixels are too many").arg(d.codec->width).arg(d.codec->height);
        d.close();
        return QImage();
    }
    if (d.singleImage) {
        QImage image;
        int64_t pts = AV_NOPTS_VALUE;
        if (!firstFrame(d, outputSize, &image, &pts))
            return failed(QStringLiteral("cannot decode the picture of <%1>").arg(d.path));
        if (actual)
            *actual = MediaTime::zero();
        return image;
    }
    AVStream* stream = d.format->streams[d.streamIndex];
    const AVRational tb = stream->time_base;
    const AVRational micro = FrameSearch::kMicro;
    const int64_t targetMicro = sourceTime.convertScale(MediaTime::kDefaultTimescale).value + d.originMicroseconds;
    const int64_t target = av_rescale_q_rnd(targetMicro, micro, tb, AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    const auto toTicks = [&](const MediaTime& t) -> int64_t {
        if (!t.isValid())
            return 0;
        if (t.flags & MediaTime::PositiveInfinity)
            return INT64_MAX / 4;
        return av_rescale_q(t.convertScale(MediaTime::kDefaultTimescale).value, micro, tb);
    };
    const int64_t before_ = toTicks(before);
    const int64_t after_ = toTicks(after);
    const bool exact = before_ == 0 && after_ == 0;

    if (!exact && after_ > 0) {
        QImage image;
        int64_t pts = AV_NOPTS_VALUE;
        if (grabAfterNextKeyFrame(d, stream, target, before_, after_, outputSize, &image, &pts)) {
            if (actual)
                *actual = MediaTime::make(av_rescale_q(pts, tb, micro) - d.originMicroseconds, MediaTime::kDefaultTimescale);
            return image;
        }
        if (d.interrupt.expired())
            return failed(QString());
    }
    // With a tolerance, the first frame within it will do.
    const int64_t acceptFrom = exact ? target : (before_ >= target ? INT64_MIN / 4 : target - before_);
    FrameSearch search(d, stream, target, exact, acceptFrom);
    if (!search.seekNext())
        return failed(QStringLiteral("cannot seek in <%1>").arg(d.path));
    for (;;) {
        QString failure;
        if (!search.decode(&failure))
            return failed(failure);
        if (!search.late() || d.interrupt.expired() || !search.retry())
            break;
    }
    if (!search.keep)
        return failed(QStringLiteral("no frame at %1 s in <%2>").arg(sourceTime.seconds()).arg(d.path));
    if (search.endsBeforeTime())
        return failed(QStringLiteral("no frame at %1 s in <%2>: the file ends before it").arg(sourceTime.seconds()).arg(d.path));
    const QImage best = convertFrame(d, search.held, outputSize);
    if (best.isNull()) {
        *error = QStringLiteral("cannot convert the frame of <%1>").arg(d.path);
        return QImage();
    }
    if (actual) {
        const int64_t micros = search.bestPts == AV_NOPTS_VALUE ? targetMicro : av_rescale_q(search.bestPts, tb, micro);
        *actual = MediaTime::make(micros - d.originMicroseconds, MediaTime::kDefaultTimescale);
    }
    return best;
}

QImage ImageGenerator::State::grabWithImageReader(const QString& path, const MediaTime& sourceTime, QSize maximumSize, MediaTime* actual, QString* error)
{
    if (!imageSource || imageSource->path() != path) {
        imageSource.reset();
        if (!checkRegularFile(path, error))
            return {};
        imageSource = AnimatedImageSource::open(path, error);
        if (!imageSource)
            return {};
    }
    // The frame shown at the time; the last one past the end.
    const double seconds = sourceTime.seconds();
    double start = 0;
    int index = 0;
    for (; index + 1 < imageSource->count(); ++index) {
        const double delay = imageSource->frameDelay(index);
        if (seconds < start + delay)
            break;
        start += delay;
    }
    QImage image = imageSource->imageAtIndex(index);
    if (image.isNull()) {
        *error = QStringLiteral("no picture in <%1>").arg(path);
        return {};
    }
    if (!maximumSize.isEmpty() && (image.width() > maximumSize.width() || image.height() > maximumSize.height()))
        image = image.scaled(maximumSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    *actual = MediaTime::withSeconds(start);
    return image;
}

QImage ImageGenerator::State::copyImage(const MediaTime& time, MediaTime* actualTime, QString* error, const std::atomic<bool>* cancelled)
{
    QString localError;
    QString* err = error ? error : &localError;
    if (!time.isNumeric()) {
        *err = QStringLiteral("the time is not a number");
        return {};
    }
    bool applies;
    MediaTime before, after;
    QSize maximum;
    {
        std::lock_guard lock(settingsMutex);
        applies = appliesTransform;
        before = toleranceBefore;
        after = toleranceAfter;
        maximum = maximumSize;
    }
    Resolved resolved;
    if (!resolve(asset, time.value < 0 ? MediaTime::zero() : time, &resolved, err))
        return {};
    std::optional<Track> track = resolved.file->trackWithTrackID(resolved.trackID);
    if (!track) {
        *err = QStringLiteral("no video track");
        return {};
    }
    if (track->naturalSize.isEmpty()) {
        // FFmpeg names some picture streams without telling their size or decoding them
        // (animated WebP): Qt's image reader shows their frames, as it does when such
        // pictures are converted to movies.
        MediaTime actual;
        QImage image;
        {
            std::lock_guard lock(decodeMutex);
            image = grabWithImageReader(resolved.file->URL().toLocalFile(), resolved.sourceTime, maximum, &actual, err);
        }
        if (!image.isNull() && actualTime)
            *actualTime = actual + resolved.compositionOffset;
        return image;
    }
    const QSize output = outputSizeFor(resolved.naturalSize.isEmpty() ? track->naturalSize : resolved.naturalSize, track->naturalSize.toSize(), resolved.transform, applies, maximum);
    MediaTime actual;
    QImage image;
    {
        std::lock_guard lock(decodeMutex);
        image = grabFromFile(resolved.file, resolved.trackID, resolved.sourceTime, before, after, output, cancelled, &actual, err);
    }
    if (image.isNull())
        return {};
    if (applies && !resolved.transform.isIdentity()) {
        QTransform t = resolved.transform.toQTransform();
        t = QTransform(t.m11(), t.m12(), t.m21(), t.m22(), 0, 0);
        image = image.transformed(t, Qt::FastTransformation);
    }
    if (actualTime)
        *actualTime = actual + resolved.compositionOffset;
    return image;
}

void ImageGenerator::State::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(queueMutex);
            wake.wait(lock, [&] { return stopping || !queue.empty(); });
            if (queue.empty())
                return;
            request = std::move(queue.front());
            queue.pop_front();
            cancelRunning = false;
        }
        MediaTime actual;
        QString error;
        const QImage image = copyImage(request.time, &actual, &error, &cancelRunning);
        if (cancelRunning.load())
            request.handler(request.time, QImage(), MediaTime::invalid(), Result::Cancelled, QStringLiteral("cancelled"));
        else if (image.isNull())
            request.handler(request.time, QImage(), MediaTime::invalid(), Result::Failed, error);
        else
            request.handler(request.time, image, actual, Result::Succeeded, QString());
    }
}

namespace {

// The answer without decoding up to the start, where the seek (just made) lands on a key
// frame that gives a picture: the player decodes on from there as well, so the frames after
// it come out too, and the answer is whether one of them lies in [start, end) (their
// packets tell). That spares decoding every frame from the key frame to the start (seconds
// of frames in a movie with key frames far apart) while the window waits. No answer where
// the seek lands elsewhere (a transport stream seeks by its clock, not to key frames) or
// the key frame alone gives no picture (a field of an interlaced frame): the frames are
// then decoded.
std::optional<bool> landsOnAPictureBeforeTheEnd(Decoder& d, int64_t start, int64_t end)
{
    const auto readPacket = [&] {
        for (;;) {
            const int read = av_read_frame(d.format, d.packet);
            if (read == AVERROR(EAGAIN))
                continue;
            if (read < 0)
                return false;
            if (d.packet->stream_index == d.streamIndex)
                return true;
            av_packet_unref(d.packet);
        }
    };
    if (d.interrupt.expired() || !readPacket())
        return std::nullopt;
    const bool key = (d.packet->flags & AV_PKT_FLAG_KEY) != 0;
    const int64_t keyPts = d.packet->pts;
    const int64_t keyDts = d.packet->dts;
    // The key frame alone, decoded to its picture (the decoder drained after it).
    const bool sent = key && avcodec_send_packet(d.codec, d.packet) >= 0;
    av_packet_unref(d.packet);
    if (!sent || avcodec_send_packet(d.codec, nullptr) < 0 || avcodec_receive_frame(d.codec, d.frame) < 0)
        return std::nullopt;
    av_frame_unref(d.frame);
    if (keyDts != AV_NOPTS_VALUE && keyDts >= end && end != INT64_MAX)
        return false;
    if (keyPts == AV_NOPTS_VALUE || (keyPts >= start && keyPts < end))
        return true;
    while (!d.interrupt.expired() && readPacket()) {
        const int64_t pts = d.packet->pts;
        const int64_t dts = d.packet->dts;
        av_packet_unref(d.packet);
        // Every later packet is shown from its decoding time on: none before the end.
        if (dts != AV_NOPTS_VALUE && dts >= end && end != INT64_MAX)
            return false;
        if (pts == AV_NOPTS_VALUE || (pts >= start && pts < end))
            return true;
    }
    return d.interrupt.expired() ? std::nullopt : std::optional<bool>(false);
}

} // namespace

bool ImageGenerator::playsAPictureAtItsStart(const AssetPtr& asset, QString* error)
{
    QString localError;
    QString* err = error ? error : &localError;
    if (!asset) {
        *err = QStringLiteral("no asset");
        return false;
    }
    AssetPtr file = asset;
    int trackID = 0;
    MediaTime sourceStart = MediaTime::zero();
    MediaTime length = MediaTime::positiveInfinity();
    if (asset->isComposition()) {
        const auto composition = std::static_pointer_cast<Composition>(asset);
        const std::vector<Track> video = composition->tracksWithMediaType(MediaType::Video);
        if (video.empty())
            return true; // sound only: nothing to show
        Composition::Segment segment;
        MediaTime sourceTime;
        if (!composition->getSegmentForTime(video.front().trackID, MediaTime::zero(), &segment, &sourceTime) || !segment.source) {
            *err = QStringLiteral("no video at the start");
            return false;
        }
        // Nested timelines are not played by segments of files: a grab tells.
        if (segment.source->isComposition())
            return !ImageGenerator(asset).copyImageAtTime(MediaTime::zero(), nullptr, err).isNull();
        file = segment.source;
        trackID = segment.sourceTrackID;
        sourceStart = sourceTime;
        length = segment.target.duration;
    } else {
        const std::vector<Track> video = asset->tracksWithMediaType(MediaType::Video);
        if (video.empty()) {
            *err = asset->error();
            return err->isEmpty(); // a file of sound only shows nothing, and needs not
        }
        trackID = video.front().trackID;
    }
    Decoder d;
    d.interrupt.deadline = QDeadlineTimer(kRequestTimeoutMs);
    if (!d.open(pathFromFileURL(file->URL()), trackID, err))
        return false;
    if (d.singleImage || (d.codec && qint64(d.codec->width) * d.codec->height > kMaximumDecodedImagePixels))
        return true; // a picture: the grabs decide
    AVStream* stream = d.format->streams[d.streamIndex];
    const AVRational tb = stream->time_base;
    const AVRational micro = {1, 1000000};
    const int64_t startMicro = sourceStart.convertScale(MediaTime::kDefaultTimescale).value + d.originMicroseconds;
    const int64_t start = av_rescale_q(startMicro, micro, tb);
    const int64_t end = length.isNumeric() ? av_rescale_q(startMicro + length.convertScale(MediaTime::kDefaultTimescale).value, micro, tb) : INT64_MAX;
    d.codec->skip_frame = AVDISCARD_DEFAULT;
    const auto seekToStart = [&] {
        avcodec_flush_buffers(d.codec);
        return av_seek_frame(d.format, d.streamIndex, start, AVSEEK_FLAG_BACKWARD) >= 0 || avformat_seek_file(d.format, d.streamIndex, INT64_MIN, 0, 0, 0) >= 0;
    };
    if (!seekToStart()) {
        *err = QStringLiteral("cannot seek in <%1>").arg(d.path);
        return false;
    }
    const std::optional<bool> answer = landsOnAPictureBeforeTheEnd(d, start, end);
    if (answer == true)
        return true;
    // Otherwise the frames decoded from where the seek lands, to see whether any comes out.
    if (!answer && !seekToStart()) {
        *err = QStringLiteral("cannot seek in <%1>").arg(d.path);
        return false;
    }
    bool eof = false;
    while (!answer && !d.interrupt.expired()) {
        const int received = avcodec_receive_frame(d.codec, d.frame);
        if (received == 0) {
            const int64_t pts = d.frame->best_effort_timestamp != AV_NOPTS_VALUE ? d.frame->best_effort_timestamp : d.frame->pts;
            av_frame_unref(d.frame);
            if (pts == AV_NOPTS_VALUE || (pts >= start && pts < end))
                return true;
            if (pts >= end)
                break;
            continue;
        }
        if (received != AVERROR(EAGAIN) || eof)
            break;
        const int read = av_read_frame(d.format, d.packet);
        if (read == AVERROR(EAGAIN))
            continue;
        if (read < 0) {
            eof = true;
            avcodec_send_packet(d.codec, nullptr);
            continue;
        }
        if (d.packet->stream_index == d.streamIndex) {
            // Packets from past the segment's end are never shown.
            if (d.packet->dts != AV_NOPTS_VALUE && d.packet->dts >= end && end != INT64_MAX) {
                av_packet_unref(d.packet);
                eof = true;
                avcodec_send_packet(d.codec, nullptr);
                continue;
            }
            avcodec_send_packet(d.codec, d.packet);
        }
        av_packet_unref(d.packet);
    }
    *err = d.interrupt.expired() ? QStringLiteral("timed out")
                                 : QStringLiteral("no picture between %1 s and %2 s of <%3>")
                                       .arg(sourceStart.seconds())
                                       .arg((sourceStart + length).seconds())
                                       .arg(d.path);
    return false;
}

ImageGenerator::ImageGenerator(AssetPtr asset)
    : m_state(std::make_shared<State>())
{
    m_state->asset = std::move(asset);
}

ImageGenerator::~ImageGenerator()
{
    cancelAllImageGeneration();
    {
        std::lock_guard lock(m_state->queueMutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_all();
    if (m_state->worker.joinable()) {
        if (m_state->worker.get_id() == std::this_thread::get_id())
            m_state->worker.detach(); // destroyed from its own handler: the thread ends by itself
        else
            m_state->worker.join();
    }
}

void ImageGenerator::setAppliesPreferredTrackTransform(bool applies)
{
    std::lock_guard lock(m_state->settingsMutex);
    m_state->appliesTransform = applies;
}

void ImageGenerator::setRequestedTimeToleranceBefore(MediaTime tolerance)
{
    std::lock_guard lock(m_state->settingsMutex);
    m_state->toleranceBefore = tolerance;
}

void ImageGenerator::setRequestedTimeToleranceAfter(MediaTime tolerance)
{
    std::lock_guard lock(m_state->settingsMutex);
    m_state->toleranceAfter = tolerance;
}

void ImageGenerator::setMaximumSize(QSize size)
{
    std::lock_guard lock(m_state->settingsMutex);
    m_state->maximumSize = size;
}

QImage ImageGenerator::copyImageAtTime(const MediaTime& time, MediaTime* actualTime, QString* error)
{
    if (!m_state->asset) {
        if (error)
            *error = QStringLiteral("no asset");
        return {};
    }
    return m_state->copyImage(time, actualTime, error, nullptr);
}

void ImageGenerator::generateImagesAsynchronouslyForTimes(const std::vector<MediaTime>& times, Handler handler)
{
    if (!handler)
        return;
    std::lock_guard lock(m_state->queueMutex);
    for (const MediaTime& t : times)
        m_state->queue.push_back({t, handler});
    if (!m_state->worker.joinable()) {
        auto state = m_state;
        m_state->worker = std::thread([state] { state->run(); });
    }
    m_state->wake.notify_all();
}

void ImageGenerator::cancelAllImageGeneration()
{
    std::deque<State::Request> cancelled;
    {
        std::lock_guard lock(m_state->queueMutex);
        cancelled.swap(m_state->queue);
        m_state->cancelRunning = true;
    }
    for (State::Request& r : cancelled)
        r.handler(r.time, QImage(), MediaTime::invalid(), Result::Cancelled, QStringLiteral("cancelled"));
}

} // namespace platform::media
