// Media fixtures made at test time by the ffmpeg command, once per test process, in a
// temporary folder: clips whose frame number can be read back from the pixels, a rotated
// clip, a clip with chapters and tags, an audio file with a cover, a 3-frame GIF, a
// 3-part sequence bundle, a still JPEG, a WebM that starts before 0, a named pipe, and
// broken files.
#pragma once

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtGui/QImage>

#include <gtest/gtest.h>

namespace testsupport::media {

// A clip shows its frame number n (counted from `first`) as eight blocks side by side,
// bit k of n white in block k, so the number survives any near-lossless codec.
constexpr int kClipWidth = 64;
constexpr int kClipHeight = 32;
constexpr int kClipFPS = 10;
constexpr int kClipFrames = 30; // 3 s

inline QByteArray numberedFrames(int count, int first = 0)
{
    QByteArray out;
    out.reserve(count * kClipWidth * kClipHeight * 3);
    for (int n = first; n < first + count; ++n) {
        for (int y = 0; y < kClipHeight; ++y) {
            for (int x = 0; x < kClipWidth; ++x) {
                const char v = ((n >> (x / 8)) & 1) ? char(255) : char(0);
                out.append(v).append(v).append(v);
            }
        }
    }
    return out;
}

// The frame number shown in the picture; -1 when it is no such picture.
inline int decodeFrameNumber(const QImage& image)
{
    if (image.width() != kClipWidth || image.height() != kClipHeight)
        return -1;
    int n = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const QRgb p = image.pixel(bit * 8 + 4, kClipHeight / 2);
        if (qGray(p) > 128)
            n |= 1 << bit;
    }
    return n;
}

inline bool runFFmpeg(const QStringList& args, const QByteArray& input = {})
{
    QStringList all = {QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error")};
    all += args;
    const ProcessResult r = runProcess(QStringLiteral("ffmpeg"), all, input);
    if (r.exitCode != 0)
        ADD_FAILURE() << "ffmpeg " << all.join(u' ').toStdString() << " failed: " << r.err.toStdString();
    return r.exitCode == 0;
}

// H.264 with B-frames and a key frame every 12 frames, near-lossless.
inline bool makeNumberedClip(const QString& path, int frames, int first = 0, const QStringList& extra = {})
{
    QStringList args = {QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
        QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-r"), QString::number(kClipFPS), QStringLiteral("-i"), QStringLiteral("-")};
    args += extra;
    args += {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-g"), QStringLiteral("12"), QStringLiteral("-bf"), QStringLiteral("2"),
        QStringLiteral("-sc_threshold"), QStringLiteral("0"),
        QStringLiteral("-qp"), QStringLiteral("4"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), path};
    return runFFmpeg(args, numberedFrames(frames, first));
}

// Each fixture is made on first use, once per test process (ctest runs every test in a
// process of its own, so a test pays only for the files it reads).
class Fixtures {
public:
    QString dir() const { return folder(); }
    // 3 s at 10 fps showing 0..29; H.264 with B-frames, key frames at 0, 1.2 and 2.4 s.
    QString numbered() const
    {
        return once(QStringLiteral("numbered.mp4"), [](const QString& p) { return makeNumberedClip(p, kClipFrames); });
    }
    // The same with a display matrix that turns it by 90 degrees.
    QString rotated() const
    {
        return once(QStringLiteral("rotated.mp4"), [this](const QString& p) {
            return runFFmpeg({QStringLiteral("-i"), numbered(), QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-metadata:s:v:0"), QStringLiteral("rotate=90"), p});
        });
    }
    // The same with tags and two chapters (0-1.5 s "Opening", 1.5-3 s "Ending").
    QString tagged() const
    {
        return once(QStringLiteral("tagged.mp4"), [this](const QString& p) {
            const QString meta = folder() + QStringLiteral("/meta.txt");
            writeFile(meta,
                ";FFMETADATA1\ntitle=Tagged Clip\nartist=The Artist\nalbum=The Album\ngenre=Drama\ndate=2019-05-04\nshow=The Show\nseason_number=2\nepisode_sort=7\n"
                "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Opening\n\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Ending\n");
            return runFFmpeg({QStringLiteral("-i"), numbered(), QStringLiteral("-i"), meta, QStringLiteral("-map"), QStringLiteral("0"), QStringLiteral("-map_metadata"),
                QStringLiteral("1"), QStringLiteral("-map_chapters"), QStringLiteral("1"), QStringLiteral("-c"), QStringLiteral("copy"), p});
        });
    }
    // Audio only, 1 s, with a 32 x 24 red cover picture.
    QString coverAudio() const
    {
        return once(QStringLiteral("cover.m4a"), [this](const QString& p) {
            const QString cover = folder() + QStringLiteral("/cover.png");
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=red:s=32x24"), QStringLiteral("-frames:v"),
                       QStringLiteral("1"), cover})
                && runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=1"), QStringLiteral("-i"),
                    cover, QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-map"), QStringLiteral("1:v"), QStringLiteral("-c:a"), QStringLiteral("aac"),
                    QStringLiteral("-c:v"), QStringLiteral("png"), QStringLiteral("-disposition:v:0"), QStringLiteral("attached_pic"), p});
        });
    }
    // 3 frames of 0.5 s showing 0, 1, 2.
    QString gif() const
    {
        return once(QStringLiteral("three.gif"), [](const QString& p) {
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
                                 QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-r"), QStringLiteral("2"), QStringLiteral("-i"),
                                 QStringLiteral("-"), p},
                numberedFrames(3));
        });
    }
    // The same three frames as an animated PNG and an animated WebP.
    QString apng() const
    {
        return once(QStringLiteral("three.png"), [](const QString& p) {
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
                                 QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-r"), QStringLiteral("2"), QStringLiteral("-i"),
                                 QStringLiteral("-"), QStringLiteral("-plays"), QStringLiteral("0"), QStringLiteral("-f"), QStringLiteral("apng"), p},
                numberedFrames(3));
        });
    }
    QString webp() const
    {
        return once(QStringLiteral("three.webp"), [](const QString& p) {
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
                                 QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-r"), QStringLiteral("2"), QStringLiteral("-i"),
                                 QStringLiteral("-"), QStringLiteral("-c:v"), QStringLiteral("libwebp_anim"), QStringLiteral("-lossless"), QStringLiteral("1"),
                                 QStringLiteral("-loop"), QStringLiteral("0"), p},
                numberedFrames(3));
        });
    }
    // "parts.mseq" with three parts of 1.0, 1.5 and 2.0 s counting on from each other.
    QString sequence() const
    {
        return once(QStringLiteral("parts.mseq"), [](const QString& p) {
            QDir().mkpath(p);
            const int lengths[3] = {10, 15, 20};
            int first = 0;
            bool ok = true;
            for (int i = 0; i < 3; ++i) {
                ok = ok && makeNumberedClip(p + QStringLiteral("/part %1.mp4").arg(i + 1), lengths[i], first);
                first += lengths[i];
            }
            return ok;
        });
    }
    QStringList sequenceParts() const
    {
        const QString s = sequence();
        return {s + QStringLiteral("/part 1.mp4"), s + QStringLiteral("/part 2.mp4"), s + QStringLiteral("/part 3.mp4")};
    }
    // The first half of `numbered` (its index, written last, is missing).
    QString truncated() const
    {
        return once(QStringLiteral("truncated.mp4"), [this](const QString& p) {
            const QByteArray whole = readFile(numbered());
            writeFile(p, whole.left(whole.size() / 2));
            return true;
        });
    }
    // The index first, then the frames cut off after two thirds.
    QString truncatedFastStart() const
    {
        return once(QStringLiteral("truncated-faststart.mp4"), [this](const QString& p) {
            const QString fastStart = folder() + QStringLiteral("/faststart.mp4");
            if (!runFFmpeg({QStringLiteral("-i"), numbered(), QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-movflags"), QStringLiteral("+faststart"),
                    fastStart}))
                return false;
            const QByteArray fast = readFile(fastStart);
            writeFile(p, fast.left(fast.size() * 2 / 3));
            return true;
        });
    }
    // The numbered frames beside loud uncompressed noise (so that the file is mostly
    // sound), index first, cut off after four fifths: the index promises 3 s of frames,
    // the file holds them up to 2.5 s (the last key frame is at 2.4 s).
    QString truncatedInterleaved() const
    {
        return once(QStringLiteral("truncated-interleaved.mov"), [this](const QString& p) {
            const QString whole = folder() + QStringLiteral("/interleaved.mov");
            if (!runFFmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
                               QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-r"), QString::number(kClipFPS), QStringLiteral("-i"),
                               QStringLiteral("-"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("anoisesrc=d=3:c=white:r=44100"),
                               QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-g"), QStringLiteral("12"), QStringLiteral("-bf"), QStringLiteral("2"),
                               QStringLiteral("-qp"), QStringLiteral("4"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:a"),
                               QStringLiteral("pcm_s16le"), QStringLiteral("-movflags"), QStringLiteral("+faststart"), QStringLiteral("-shortest"), whole},
                    numberedFrames(kClipFrames)))
                return false;
            const QByteArray bytes = readFile(whole);
            writeFile(p, bytes.left(bytes.size() * 4 / 5));
            return true;
        });
    }
    // Frame 5 of the numbered clip as a still JPEG, ten times the clip's size (a size that
    // FFmpeg reads with its general image demuxer, as it does camera pictures).
    QString stillJPEG() const
    {
        return once(QStringLiteral("still.jpg"), [](const QString& p) {
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
                                 QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-i"), QStringLiteral("-"), QStringLiteral("-vf"),
                                 QStringLiteral("scale=%1:%2:flags=neighbor").arg(kClipWidth * 10).arg(kClipHeight * 10), QStringLiteral("-frames:v"),
                                 QStringLiteral("1"), QStringLiteral("-q:v"), QStringLiteral("2"), p},
                numberedFrames(1, 5));
        });
    }
    // The numbered frames as VP8 in WebM with Opus sound, whose encoder delay makes the
    // container start at -0.007 s and the video at +0.007 s.
    QString earlyStartWebM() const
    {
        return once(QStringLiteral("early.webm"), [](const QString& p) {
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"), QStringLiteral("-s"),
                                 QStringLiteral("%1x%2").arg(kClipWidth).arg(kClipHeight), QStringLiteral("-r"), QString::number(kClipFPS), QStringLiteral("-i"),
                                 QStringLiteral("-"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=3"),
                                 QStringLiteral("-c:v"), QStringLiteral("libvpx"), QStringLiteral("-b:v"), QStringLiteral("2M"), QStringLiteral("-c:a"),
                                 QStringLiteral("libopus"), QStringLiteral("-shortest"), p},
                numberedFrames(kClipFrames));
        });
    }
    // The numbered clip as an MPEG transport stream with sound, as camcorders and TV
    // recordings write it: its streams start 10 s into the file's clock, not at 0, and a
    // seek by time lands on any frame, not on a key frame.
    QString transportStream() const
    {
        return once(QStringLiteral("late.ts"), [](const QString& p) {
            return makeNumberedClip(p, kClipFrames, 0,
                {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=3"), QStringLiteral("-c:a"),
                    QStringLiteral("aac"), QStringLiteral("-shortest"), QStringLiteral("-output_ts_offset"), QStringLiteral("10"), QStringLiteral("-f"),
                    QStringLiteral("mpegts")});
        });
    }
    // 20 s of numbered frames (0..199) twenty times the clip's size, with one key frame
    // only, as screen recorders and some cameras write them (read its frames rendered at
    // the clip's size).
    QString longGOP() const
    {
        return once(QStringLiteral("long-gop.mp4"), [](const QString& p) {
            return makeNumberedClip(p, 200, 0,
                {QStringLiteral("-vf"), QStringLiteral("scale=%1:%2:flags=neighbor").arg(kClipWidth * 20).arg(kClipHeight * 20), QStringLiteral("-x264-params"),
                    QStringLiteral("keyint=1000:min-keyint=1000:scenecut=0")});
        });
    }
    // 3 s of sound and nothing else.
    QString sound() const
    {
        return once(QStringLiteral("sound.m4a"), [](const QString& p) {
            return runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=3"),
                QStringLiteral("-c:a"), QStringLiteral("aac"), p});
        });
    }
    // A named pipe called like a movie, with nobody writing to it.
    QString fifo() const
    {
        return once(QStringLiteral("pipe.mp4"), [](const QString& p) { return runProcess(QStringLiteral("mkfifo"), {p}).exitCode == 0; });
    }
    // Text named .mp4.
    QString textFile() const
    {
        return once(QStringLiteral("notes.mp4"), [](const QString& p) {
            writeFile(p, QByteArray("These are not the frames you are looking for.\n").repeated(40));
            return true;
        });
    }

private:
    static QString folder()
    {
        static const QString dir = makeTempDir(QStringLiteral("media"));
        return dir;
    }
    template <class Make>
    static QString once(const QString& name, Make make)
    {
        static QStringList made;
        const QString path = folder() + u'/' + name;
        if (!made.contains(name)) {
            if (!make(path))
                ADD_FAILURE() << "cannot make the fixture " << name.toStdString();
            made << name;
        }
        return path;
    }
};

inline const Fixtures& fixtures()
{
    static const Fixtures f;
    return f;
}

} // namespace testsupport::media
