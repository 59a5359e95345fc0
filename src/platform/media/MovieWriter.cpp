#include "platform/media/MovieWriter.h"
#include "platform/media/AssetFile.h"

#include <QtCore/QFile>
#include <QtGui/QPainter>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

namespace platform::media {

struct MovieWriter::State {
    Status status = Status::Unknown;
    QString error;
    QString path;
    QString partialPath;
    QSize size;
    int timescale = 600;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    SwsContext* sws = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVPacket* pending = nullptr; // held until the next one tells its duration
    std::int64_t lastTime = -1;
    int frames = 0;

    ~State() { release(); }

    void release()
    {
        if (sws)
            sws_freeContext(sws);
        sws = nullptr;
        if (codec)
            avcodec_free_context(&codec);
        if (frame)
            av_frame_free(&frame);
        if (packet)
            av_packet_free(&packet);
        if (pending)
            av_packet_free(&pending);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
        stream = nullptr;
    }

    bool fail(const QString& text, QString* out)
    {
        error = text;
        status = Status::Failed;
        release();
        if (!partialPath.isEmpty())
            QFile::remove(partialPath);
        if (out)
            *out = text;
        return false;
    }

    // Writes the held packet with the given duration (in the encoder's time base).
    int writePending(std::int64_t nextPts)
    {
        if (!pending->data)
            return 0;
        if (nextPts != AV_NOPTS_VALUE && pending->pts != AV_NOPTS_VALUE && nextPts > pending->pts)
            pending->duration = nextPts - pending->pts;
        av_packet_rescale_ts(pending, codec->time_base, stream->time_base);
        pending->stream_index = stream->index;
        const int result = av_interleaved_write_frame(format, pending); // takes the reference
        av_packet_unref(pending);
        return result;
    }

    int drain(bool flushing, std::int64_t endTime)
    {
        for (;;) {
            const int received = avcodec_receive_packet(codec, packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                break;
            if (received < 0)
                return received;
            if (const int w = writePending(packet->pts); w < 0)
                return w;
            av_packet_move_ref(pending, packet);
        }
        if (flushing)
            return writePending(endTime);
        return 0;
    }
};

MovieWriter::MovieWriter()
    : m_state(std::make_unique<State>())
{
}

MovieWriter::~MovieWriter()
{
    if (m_state->status == Status::Writing)
        cancelWriting();
}

bool MovieWriter::startWriting(const QString& path, QSize size, int timescale, QString* error)
{
    setUpMediaLibraryLogging();
    State& s = *m_state;
    if (s.status != Status::Unknown)
        return s.fail(QStringLiteral("the writer was already used"), error);
    if (path.isEmpty() || size.width() < 1 || size.height() < 1 || size.width() > 16384 || size.height() > 16384 || timescale < 1)
        return s.fail(QStringLiteral("cannot write a movie of %1 x %2 pixels to <%3>").arg(size.width()).arg(size.height()).arg(path), error);
    s.path = path;
    s.partialPath = path + QStringLiteral(".part");
    s.size = QSize((size.width() + 1) & ~1, (size.height() + 1) & ~1);
    s.timescale = timescale;
    const QByteArray partial = s.partialPath.toUtf8();
    if (avformat_alloc_output_context2(&s.format, nullptr, "mov", partial.constData()) < 0 || !s.format)
        return s.fail(QStringLiteral("cannot make a QuickTime movie"), error);
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder)
        encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!encoder)
        return s.fail(QStringLiteral("no H.264 encoder"), error);
    s.stream = avformat_new_stream(s.format, nullptr);
    s.codec = avcodec_alloc_context3(encoder);
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    s.pending = av_packet_alloc();
    if (!s.stream || !s.codec || !s.frame || !s.packet || !s.pending)
        return s.fail(QStringLiteral("out of memory"), error);
    s.codec->width = s.size.width();
    s.codec->height = s.size.height();
    s.codec->pix_fmt = AV_PIX_FMT_YUV420P;
    s.codec->time_base = AVRational{1, timescale};
    s.codec->max_b_frames = 0; // decode order is presentation order: durations are known
    s.codec->gop_size = 250;
    s.codec->thread_count = 0;
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER)
        s.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "crf", "18", 0);
    const int opened = avcodec_open2(s.codec, encoder, &options);
    av_dict_free(&options);
    if (opened < 0)
        return s.fail(QStringLiteral("cannot open the H.264 encoder: %1").arg(errorText(opened)), error);
    if (avcodec_parameters_from_context(s.stream->codecpar, s.codec) < 0)
        return s.fail(QStringLiteral("cannot set up the movie's track"), error);
    s.stream->time_base = s.codec->time_base;
    if (const int io = avio_open(&s.format->pb, partial.constData(), AVIO_FLAG_WRITE); io < 0)
        return s.fail(QStringLiteral("cannot create <%1>: %2").arg(s.partialPath, errorText(io)), error);
    if (const int header = avformat_write_header(s.format, nullptr); header < 0)
        return s.fail(QStringLiteral("cannot write <%1>: %2").arg(s.partialPath, errorText(header)), error);
    s.frame->format = s.codec->pix_fmt;
    s.frame->width = s.codec->width;
    s.frame->height = s.codec->height;
    if (av_frame_get_buffer(s.frame, 0) < 0)
        return s.fail(QStringLiteral("out of memory"), error);
    s.status = Status::Writing;
    return true;
}

bool MovieWriter::appendImage(const QImage& image, std::int64_t presentationTime, QString* error)
{
    State& s = *m_state;
    if (s.status != Status::Writing)
        return s.status == Status::Failed ? (error ? (*error = s.error, false) : false) : s.fail(QStringLiteral("the writer is not writing"), error);
    if (image.isNull())
        return s.fail(QStringLiteral("no picture to append"), error);
    if (presentationTime <= s.lastTime)
        return s.fail(QStringLiteral("the times of the pictures do not increase"), error);
    // The picture is drawn over the whole frame, scaled when its size differs.
    QImage rgb(s.size, QImage::Format_RGB32);
    rgb.fill(Qt::black);
    {
        QPainter painter(&rgb);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), s.size), image);
    }
    s.sws = sws_getCachedContext(s.sws, s.size.width(), s.size.height(), AV_PIX_FMT_RGB32, s.size.width(), s.size.height(), AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
        nullptr, nullptr);
    if (!s.sws || av_frame_make_writable(s.frame) < 0)
        return s.fail(QStringLiteral("cannot convert the picture"), error);
    const uint8_t* planes[4] = {rgb.constBits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(rgb.bytesPerLine()), 0, 0, 0};
    sws_scale(s.sws, planes, strides, 0, s.size.height(), s.frame->data, s.frame->linesize);
    s.frame->pts = presentationTime;
    if (const int sent = avcodec_send_frame(s.codec, s.frame); sent < 0)
        return s.fail(QStringLiteral("cannot encode a picture: %1").arg(errorText(sent)), error);
    if (const int drained = s.drain(false, 0); drained < 0)
        return s.fail(QStringLiteral("cannot write <%1>: %2").arg(s.partialPath, errorText(drained)), error);
    s.lastTime = presentationTime;
    ++s.frames;
    return true;
}

bool MovieWriter::finishWriting(std::int64_t endTime, QString* error)
{
    State& s = *m_state;
    if (s.status != Status::Writing)
        return s.fail(s.status == Status::Failed ? s.error : QStringLiteral("the writer is not writing"), error);
    if (s.frames == 0)
        return s.fail(QStringLiteral("no pictures were written"), error);
    if (endTime <= s.lastTime)
        endTime = s.lastTime + 1;
    if (const int sent = avcodec_send_frame(s.codec, nullptr); sent < 0)
        return s.fail(QStringLiteral("cannot finish encoding: %1").arg(errorText(sent)), error);
    if (const int drained = s.drain(true, endTime); drained < 0)
        return s.fail(QStringLiteral("cannot write <%1>: %2").arg(s.partialPath, errorText(drained)), error);
    if (const int trailer = av_write_trailer(s.format); trailer < 0)
        return s.fail(QStringLiteral("cannot finish <%1>: %2").arg(s.partialPath, errorText(trailer)), error);
    if (avio_closep(&s.format->pb) < 0)
        return s.fail(QStringLiteral("cannot finish <%1>").arg(s.partialPath), error);
    s.release();
    // Into place without replacing anything that is there.
    if (QFile::exists(s.path) || !QFile::rename(s.partialPath, s.path))
        return s.fail(QStringLiteral("cannot move <%1> to <%2>").arg(s.partialPath, s.path), error);
    s.partialPath.clear();
    s.status = Status::Completed;
    return true;
}

void MovieWriter::cancelWriting()
{
    State& s = *m_state;
    if (s.status != Status::Writing)
        return;
    s.release();
    QFile::remove(s.partialPath);
    s.status = Status::Cancelled;
}

MovieWriter::Status MovieWriter::status() const
{
    return m_state->status;
}

QString MovieWriter::error() const
{
    return m_state->error;
}

int MovieWriter::framesWritten() const
{
    return m_state->frames;
}

QSize MovieWriter::size() const
{
    return m_state->size;
}

} // namespace platform::media
