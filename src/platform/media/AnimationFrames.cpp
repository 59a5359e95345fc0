#include "platform/media/AnimationFrames.h"
#include "platform/ImageReading.h"
#include "platform/media/AssetFile.h"

#include <QtCore/QFile>
#include <QtCore/QHash>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace platform::media {

bool isAnimatedPNGFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const char signature[8] = {char(0x89), 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (file.read(8) != QByteArray(signature, 8))
        return false;
    // Walk the chunks up to the first image data; a bounded number of them.
    for (int i = 0; i < 64; ++i) {
        const QByteArray header = file.read(8);
        if (header.size() != 8)
            return false;
        const quint32 length = (quint32(uchar(header[0])) << 24) | (quint32(uchar(header[1])) << 16) | (quint32(uchar(header[2])) << 8) | quint32(uchar(header[3]));
        const QByteArray type = header.mid(4, 4);
        if (type == "acTL")
            return true;
        if (type == "IDAT" || length > 0x7fffffffu)
            return false;
        if (!file.seek(file.pos() + qint64(length) + 4))
            return false;
    }
    return false;
}

bool decodeAnimationFrames(const QString& path, int maximumFrameCount, qint64 maximumDecodedBytes, std::vector<AnimationFrameRecord>* frames, QString* error)
{
    InterruptState interrupt;
    interrupt.deadline = QDeadlineTimer(Asset::kOpenTimeoutMs);
    AVFormatContext* format = openFormatContext(path, &interrupt, error);
    if (!format)
        return false;
    const int streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* decoder = streamIndex >= 0 ? avcodec_find_decoder(format->streams[streamIndex]->codecpar->codec_id) : nullptr;
    AVCodecContext* codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    bool ok = codec && packet && frame && avcodec_parameters_to_context(codec, format->streams[streamIndex]->codecpar) >= 0 && avcodec_open2(codec, decoder, nullptr) >= 0;
    if (!ok)
        *error = QStringLiteral("cannot decode the frames of <%1>").arg(path);
    // What the stream announces is checked before its first frame is decoded.
    if (ok && qint64(codec->width) * codec->height * 4 > std::min(maximumDecodedBytes, kMaximumDecodedImagePixels * 4)) {
        *error = QStringLiteral("animated image too large: <%1>").arg(path);
        ok = false;
    }
    const AVRational timeBase = ok ? format->streams[streamIndex]->time_base : AVRational{1, 1};
    QHash<int64_t, int64_t> durations;
    qint64 bytes = 0;
    bool eof = false;
    while (ok && !interrupt.expired()) {
        const int received = avcodec_receive_frame(codec, frame);
        if (received == 0) {
            if (int(frames->size()) >= maximumFrameCount || frame->width <= 0 || frame->height <= 0) {
                *error = QStringLiteral("animated image too large: <%1>").arg(path);
                ok = false;
                break;
            }
            QImage image(frame->width, frame->height, QImage::Format_ARGB32);
            bytes += image.sizeInBytes();
            if (image.isNull() || bytes > maximumDecodedBytes) {
                *error = QStringLiteral("animated image too large: <%1>").arg(path);
                ok = false;
                break;
            }
            sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr,
                nullptr, nullptr);
            uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
            int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
            if (!sws || sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0) {
                *error = QStringLiteral("cannot convert the frames of <%1>").arg(path);
                ok = false;
                break;
            }
            const int64_t pts = frame->best_effort_timestamp;
            const double delay = double(durations.value(pts, 0)) * av_q2d(timeBase);
            frames->push_back({std::move(image), delay});
            av_frame_unref(frame);
            continue;
        }
        if (received == AVERROR_EOF || (received != AVERROR(EAGAIN)) || eof)
            break;
        const int read = av_read_frame(format, packet);
        if (read < 0) {
            eof = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) {
            if (packet->pts != AV_NOPTS_VALUE)
                durations.insert(packet->pts, packet->duration);
            avcodec_send_packet(codec, packet);
        }
        av_packet_unref(packet);
    }
    if (ok && frames->empty()) {
        *error = QStringLiteral("no frames in <%1>").arg(path);
        ok = false;
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return ok;
}

} // namespace platform::media
