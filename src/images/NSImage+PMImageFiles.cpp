#include "images/NSImage+PMImageFiles.h"

#include "foundation/PMLog.h"
#include "images/NSImage+PMTransform.h"
#include "platform/ImageProcessing.h"
#include "platform/ImageReading.h"
#include "platform/RegularFile.h"
#include "platform/SaveFile.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QBuffer>
#include <QtCore/QFileInfo>
#include <QtGui/QImageReader>
#include <QtGui/QImageWriter>
#include <QtGui/QPainter>

#include <cmath>

using platform::Image;
using platform::ImagePtr;

namespace {

QByteArray encode(const ImagePtr& image, const char* format, int quality, int compression)
{
    if (!image || !image->isValid())
        return {};
    QImage pixels = image->pixels();
    if (qstrcmp(format, "jpeg") == 0 && pixels.hasAlphaChannel()) {
        // JPEG keeps no transparency: what is transparent shows black, as drawn on black.
        QImage opaque(pixels.size(), QImage::Format_RGB32);
        opaque.fill(Qt::black);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, pixels);
        painter.end();
        pixels = std::move(opaque);
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    if (compression >= 0)
        writer.setCompression(compression);
    if (!writer.write(pixels))
        return {};
    return data;
}

int qualityForFactor(double factor)
{
    return int(std::lround(std::clamp(std::isfinite(factor) ? factor : 0.95, 0.0, 1.0) * 100.0));
}

bool writeData(const QByteArray& data, const QString& path, QString* error)
{
    if (data.isEmpty()) {
        PMLog("no data for <%@>", path);
        if (error)
            *error = QStringLiteral("no data");
        return false;
    }
    const QString failure = platform::saveFile(path, data);
    if (!failure.isEmpty()) {
        PMLog("cannot write data to <%@>", path);
        if (error)
            *error = failure;
        return false;
    }
    return true;
}

} // namespace

const PMImageFolderSettings& PMImageFolderSettings::shared()
{
    static const PMImageFolderSettings settings = [] {
        PMImageFolderSettings s;
        platform::UserDefaults& defaults = platform::UserDefaults::standard();
        s.savesTIFFImages = defaults.boolForKey(prefs::keys::SaveTIFFImages);
        if (s.savesTIFFImages)
            defaults.setObject(platform::Value(true), prefs::keys::LoadTIFFImages);
        s.loadsTIFFImages = s.savesTIFFImages || defaults.boolForKey(prefs::keys::LoadTIFFImages);
        s.usesUnderscoreImages = !defaults.boolForKey(prefs::keys::DisableUnderscoreImages);
        const platform::Value area = defaults.objectForKey(prefs::keys::UnderscoreImageArea);
        const double limit = area.hasNumericValue() ? area.toDouble() : 0.0;
        if (limit >= 1.0 && limit <= 1000000.0)
            s.underscoreImageArea = qint64(limit);
        return s;
    }();
    return settings;
}

ImagePtr PMImageWithContentsOfFile(const QString& path, QSize fitIntoPixels)
{
    if (path.isEmpty() || !platform::checkRegularFile(path))
        return nullptr;
    platform::ImageReadOptions options;
    options.fitInto = fitIntoPixels;
    QString error;
    QImage pixels = platform::readImageFile(path, options, &error);
    if (pixels.isNull()) {
        if (error.contains(QLatin1String("too many")) || error.contains(QLatin1String("limit"), Qt::CaseInsensitive))
            PMLog("cannot read image <%@>: %@", path, error);
        return nullptr;
    }
    ImagePtr image = Image::make(std::move(pixels));
    image->associatedSourcePath = path;
    return image;
}

ImagePtr coverImageWithBasePath(const QString& basePath, const ImagePtr& externalMediaArtwork)
{
    if (ImagePtr image = PMImageWithContentsOfFile(basePath + QStringLiteral(".jpg")))
        return image;
    if (PMImageFolderSettings::shared().loadsTIFFImages)
        if (ImagePtr image = PMImageWithContentsOfFile(basePath + QStringLiteral(".tiff")))
            return image;
    if (externalMediaArtwork && externalMediaArtwork->isValid()) {
        const QSizeF size = externalMediaArtwork->size();
        if (size.width() > 1.0 && size.height() / size.width() > 0.95) {
            externalMediaArtwork->associatedSourceType = PMImageSourceTypeThumbnail;
            return externalMediaArtwork;
        }
    }
    return nullptr;
}

ImagePtr posterImageWithBasePath(const QString& basePath)
{
    if (ImagePtr image = PMImageWithContentsOfFile(basePath + QStringLiteral(".jpg")))
        return image;
    if (PMImageFolderSettings::shared().loadsTIFFImages)
        return PMImageWithContentsOfFile(basePath + QStringLiteral(".tiff"));
    return nullptr;
}

QSize underscoreImagePixelSize(QSizeF pixelSize, qint64 areaLimit)
{
    const double w = pixelSize.width(), h = pixelSize.height();
    if (!(w * h > double(areaLimit)))
        return QSize(int(w), int(h));
    const double f = std::sqrt(double(areaLimit) / (w * h));
    return QSize(std::max(1, int(std::lround(w * f))), std::max(1, int(std::lround(h * f))));
}

QByteArray underscoreImageJPEGRepresentation(const ImagePtr& image)
{
    if (!image || !image->isValid())
        return {};
    const qint64 limit = PMImageFolderSettings::shared().underscoreImageArea;
    const QSizeF pixels = image->pixelSize();
    if (!(pixels.width() * pixels.height() > double(limit)))
        return {};
    const QSize size = underscoreImagePixelSize(pixels, limit);
    const ImagePtr reduced = Image::make(platform::scaledImageAveragingArea(image->pixels(), size), QSizeF(size));
    return JPEGRepresentationWithCompressionFactor(reduced, 0.85);
}

QByteArray JPEGRepresentationWithCompressionFactor(const ImagePtr& image, double factor)
{
    return encode(image, "jpeg", qualityForFactor(factor), -1);
}

QByteArray PNGRepresentation(const ImagePtr& image)
{
    return encode(image, "png", -1, -1);
}

QByteArray TIFFRepresentation(const ImagePtr& image)
{
    return encode(image, "tiff", -1, 1); // LZW
}

bool writeToJPEGFile(const ImagePtr& image, const QString& path, double compressionFactor, QString* error)
{
    return writeData(JPEGRepresentationWithCompressionFactor(image, compressionFactor), path, error);
}

bool writeToPNGFile(const ImagePtr& image, const QString& path)
{
    return writeData(PNGRepresentation(image), path, nullptr);
}

bool writeToTIFFFile(const ImagePtr& image, const QString& path, QString* error)
{
    const QByteArray data = TIFFRepresentation(image);
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("no data");
        return false;
    }
    const QString failure = platform::saveFile(path, data);
    if (error)
        *error = failure;
    return failure.isEmpty();
}
