#include "platform/ImageReading.h"

#include "platform/RegularFile.h"

#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtGui/QImageReader>

#include <climits>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

// Qt's own limit for one allocation while decoding, a second line behind the header check
// (the header may lie): the cap's pixels at eight bytes each (16-bit colour).
constexpr int kAllocationLimitMB = int((kMaximumDecodedImagePixels * 8) >> 20) + 1;

qint64 area(QSize size)
{
    return qint64(size.width()) * qint64(size.height());
}

QSize scaledToArea(QSize size, qint64 maximum)
{
    const double factor = std::sqrt(double(maximum) / double(area(size)));
    return QSize(std::max(1, int(std::floor(size.width() * factor))), std::max(1, int(std::floor(size.height() * factor))));
}

// Beyond this a GIF's screen must be in proportion to its frames.
constexpr qint64 kLargeGIFCanvasPixels = 4'000'000;
constexpr qint64 kGIFCanvasToFramesRatio = 4;

} // namespace

bool checkGIFCanvas(QByteArrayView data, QString* error)
{
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    const qsizetype n = data.size();
    if (n < 13 || (!data.startsWith("GIF87a") && !data.startsWith("GIF89a")))
        return true;
    const auto word = [&](qsizetype at) { return int(b[at]) | (int(b[at + 1]) << 8); };
    const qint64 width = word(6), height = word(8);
    if (width * height <= kLargeGIFCanvasPixels)
        return true;
    qsizetype at = 13;
    if (b[10] & 0x80)
        at += 3 * (qsizetype(1) << ((b[10] & 7) + 1));
    // Skips a series of sub-blocks; false when the data ends first.
    const auto skipSubBlocks = [&] {
        while (at < n) {
            const int length = b[at++];
            if (length == 0)
                return true;
            at += length;
        }
        return false;
    };
    int left = INT_MAX, top = INT_MAX, right = 0, bottom = 0;
    bool anyFrame = false;
    while (at < n) {
        const unsigned char introducer = b[at++];
        if (introducer == 0x3B)
            break;
        if (introducer == 0x21) {
            if (at >= n)
                break;
            ++at; // the label
            if (!skipSubBlocks())
                break;
        } else if (introducer == 0x2C) {
            if (at + 9 > n)
                break;
            // Only the part of a frame inside the screen is drawn.
            const int x = word(at), y = word(at + 2);
            const int r = int(std::min<qint64>(x + word(at + 4), width)), bo = int(std::min<qint64>(y + word(at + 6), height));
            const unsigned char flags = b[at + 8];
            at += 9;
            if (flags & 0x80)
                at += 3 * (qsizetype(1) << ((flags & 7) + 1));
            if (r > x && bo > y) {
                anyFrame = true;
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, r);
                bottom = std::max(bottom, bo);
            }
            ++at; // the LZW code size
            if (!skipSubBlocks())
                break;
        } else {
            break; // not a block: the decoders stop here too
        }
    }
    const qint64 covered = anyFrame ? qint64(right - left) * (bottom - top) : 0;
    if (width * height <= covered * kGIFCanvasToFramesRatio)
        return true;
    if (error)
        *error = QStringLiteral("the GIF's screen of %1 x %2 pixels is far larger than its frames").arg(width).arg(height);
    return false;
}

bool checkGIFCanvasOfFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // whoever reads it next says why it cannot be read
    char head[6] = {};
    if (file.peek(head, 6) != 6 || (memcmp(head, "GIF87a", 6) != 0 && memcmp(head, "GIF89a", 6) != 0))
        return true;
    const qint64 size = file.size();
    if (size <= 0)
        return true;
    if (const uchar* mapped = file.map(0, size))
        return checkGIFCanvas(QByteArrayView(mapped, size), error);
    return checkGIFCanvas(file.readAll(), error);
}

QImage readImage(QImageReader& reader, const ImageReadOptions& options, QString* error, QSize* originalSize)
{
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return QImage();
    };
    reader.setAllocationLimit(kAllocationLimitMB);
    reader.setAutoTransform(options.autoTransform);
    // (Qt's reader may tell a GIF's size by its first frame rather than its screen.)
    if (reader.format().toLower() == "gif") {
        QString reason;
        bool fits = true;
        if (!reader.fileName().isEmpty())
            fits = checkGIFCanvasOfFile(reader.fileName(), &reason);
        else if (auto* buffer = qobject_cast<QBuffer*>(reader.device()))
            fits = checkGIFCanvas(buffer->data(), &reason);
        if (!fits)
            return fail(reason);
    }
    const QSize size = reader.size(); // the header only
    if (originalSize)
        *originalSize = size;
    if (size.isValid() && !size.isEmpty()) {
        QSize target = size;
        if (options.fitInto.isValid() && !options.fitInto.isEmpty() && (size.width() > options.fitInto.width() || size.height() > options.fitInto.height())) {
            target = size.scaled(options.fitInto, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
            if (options.fitOnlyWhenHalving && (size.width() < 2 * qint64(target.width()) || size.height() < 2 * qint64(target.height())))
                target = size;
        }
        if (area(target) > kMaximumDecodedImagePixels)
            target = scaledToArea(target, kMaximumDecodedImagePixels);
        // Only JPEG decodes at a reduced size directly; other formats (PNG among them,
        // although Qt takes a scaled size for it) decode the whole picture first.
        const QByteArray format = reader.format().toLower();
        if (area(size) > kMaximumDecodedImagePixels && format != "jpeg" && format != "jpg")
            return fail(QStringLiteral("%1 x %2 pixels are too many").arg(size.width()).arg(size.height()));

        if (target != size)
            reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull())
        return fail(reader.errorString());
    if (area(image.size()) > kMaximumDecodedImagePixels)
        return fail(QStringLiteral("%1 x %2 pixels are too many").arg(image.width()).arg(image.height()));
    return image;
}

QImage readImageFile(const QString& path, const ImageReadOptions& options, QString* error, QSize* originalSize)
{
    if (originalSize)
        *originalSize = QSize();
    if (path.isEmpty() || !checkRegularFile(path, error))
        return {};
    QImageReader reader(path);
    reader.setDecideFormatFromContent(options.formatFromContent);
    return readImage(reader, options, error, originalSize);
}

QImage readImageData(const QByteArray& data, const char* format, const ImageReadOptions& options, QString* error)
{
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("no data");
        return {};
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format ? QByteArray(format) : QByteArray());
    reader.setDecideFormatFromContent(!format);
    return readImage(reader, options, error);
}

QSize imageFileSize(const QString& path)
{
    if (!checkRegularFile(path))
        return {};
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.size();
}

} // namespace platform
