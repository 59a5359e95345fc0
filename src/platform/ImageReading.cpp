#include "platform/ImageReading.h"

#include "platform/RegularFile.h"

#include <QtCore/QBuffer>
#include <QtGui/QImageReader>

#include <cmath>

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

} // namespace

QImage readImage(QImageReader& reader, const ImageReadOptions& options, QString* error, QSize* originalSize)
{
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return QImage();
    };
    reader.setAllocationLimit(kAllocationLimitMB);
    reader.setAutoTransform(options.autoTransform);
    const QSize size = reader.size(); // the header only
    if (originalSize)
        *originalSize = size;
    if (size.isValid() && !size.isEmpty()) {
        QSize target = size;
        if (options.fitInto.isValid() && !options.fitInto.isEmpty() && (size.width() > options.fitInto.width() || size.height() > options.fitInto.height()))
            target = size.scaled(options.fitInto, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
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
