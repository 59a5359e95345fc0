#include "images/NSImage+PMQuickLook.h"

#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMTransform.h"
#include "platform/ImageReading.h"
#include "platform/Queues.h"
#include "platform/RegularFile.h"
#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"

#include "foundation/NSString+PMHelpManagerIcons.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QMimeDatabase>
#include <QtCore/QStandardPaths>

#include <mutex>
#include <QtGui/QIcon>
#include <QtGui/QImageReader>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

using platform::ImagePtr;

platform::ImagePtr sizeCorrectedImageWithCGImage(const QImage& image, QSizeF size)
{
    if (image.isNull())
        return nullptr;
    return platform::Image::make(image, size);
}

platform::ImagePtr sizeCorrectedImageWithCGImage(const QImage& image)
{
    return sizeCorrectedImageWithCGImage(image, QSizeF(image.width(), image.height()));
}

namespace {

// The text of a tEXt chunk before the picture data. Read here, not through the image
// reader, which takes a key with a colon ("Thumb::MTime") apart.
QByteArray pngText(const QString& path, const QByteArray& wanted)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(256 * 1024);
    if (!head.startsWith("\x89PNG\r\n\x1a\n"))
        return {};
    qsizetype at = 8;
    while (at + 12 <= head.size()) {
        const auto* p = reinterpret_cast<const uchar*>(head.constData() + at);
        const quint32 length = (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
        const QByteArray type = head.mid(at + 4, 4);
        if (type == "IDAT" || type == "IEND" || length > quint32(head.size()) || at + 12 + qsizetype(length) > head.size())
            break;
        if (type == "tEXt") {
            const QByteArray body = head.mid(at + 8, length);
            const qsizetype zero = body.indexOf('\0');
            if (zero > 0 && body.left(zero) == wanted)
                return body.mid(zero + 1);
        }
        at += 12 + qsizetype(length);
    }
    return {};
}

} // namespace

QImage PMSharedThumbnailCacheImage(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QByteArray uri = QUrl::fromLocalFile(info.absoluteFilePath()).toEncoded();
    const QString name = QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails/");
    const qint64 modified = info.lastModified().toSecsSinceEpoch();
    for (const char* size : {"x-large", "large", "normal"}) {
        const QString thumbnailPath = root + QLatin1String(size) + QLatin1Char('/') + name;
        // Anything but a regular file (a named pipe would block the reads below for good)
        // is no thumbnail.
        if (!platform::checkRegularFile(thumbnailPath))
            continue;
        // A thumbnail belongs to one version of the file: its MTime must match.
        const QByteArray mtime = pngText(thumbnailPath, "Thumb::MTime");
        bool ok = false;
        if (mtime.toLongLong(&ok) != modified || !ok)
            continue;
        QImageReader reader(thumbnailPath, "png");
        const QSize pixels = reader.size();
        if (pixels.width() <= 0 || pixels.height() <= 0 || qint64(pixels.width()) * pixels.height() > 4096 * 4096)
            continue;
        QImage image = platform::readImage(reader);
        if (!image.isNull())
            return image;
    }
    return {};
}

namespace {

// The media layer's picture of a movie or audio file: its attached artwork, else a frame a
// tenth into it. Nothing for files that it cannot open (bounded in time by the layer).
QImage mediaThumbnail(const QString& path, QSize maximumSize)
{
    platform::media::AssetPtr asset = platform::media::Asset::assetWithURL(QUrl::fromLocalFile(path));
    if (!asset || !asset->isPlayable())
        return {};
    QImage artwork = asset->coverImage();
    if (!artwork.isNull())
        return artwork;
    if (asset->tracksWithMediaType(platform::media::MediaType::Video).empty())
        return {};
    const platform::media::MediaTime duration = asset->duration();
    double seconds = 0;
    if (duration.isNumeric())
        seconds = duration.seconds() * 0.1;
    platform::media::ImageGenerator generator(asset);
    generator.setAppliesPreferredTrackTransform(true);
    generator.setMaximumSize(maximumSize);
    return generator.copyImageAtTime(platform::media::MediaTime::withSeconds(seconds));
}

} // namespace

platform::ImagePtr quickLookImageWithURL(const QUrl& url, QSize maximumSize)
{
    if (!url.isLocalFile())
        return nullptr;
    const QString path = url.toLocalFile();
    QImage image = mediaThumbnail(path, maximumSize);
    if (image.isNull())
        image = PMSharedThumbnailCacheImage(path);
    if (image.isNull() || image.width() == 0 || image.height() == 0)
        return nullptr;
    if (maximumSize.isValid() && (image.width() > maximumSize.width() || image.height() > maximumSize.height()))
        image = image.scaled(maximumSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return sizeCorrectedImageWithCGImage(image);
}

platform::ImagePtr quickLookImageWithPotentialSequenceURL(const QUrl& url)
{
    QUrl target = url;
    if (url.isLocalFile())
        if (const std::optional<QStringList> parts = sequencePaths(url.toLocalFile()); parts && !parts->isEmpty())
            target = QUrl::fromLocalFile(parts->first());
    return quickLookImageWithURL(target, QSize(1024, 1024));
}

platform::ImagePtr PMFileIconPreviewImage(const QUrl& url)
{
    static QMimeDatabase database;
    QMimeType type;
    if (url.isLocalFile())
        type = database.mimeTypeForFile(url.toLocalFile());
    else if (!QFileInfo(url.path()).suffix().isEmpty())
        type = database.mimeTypeForFile(url.path(), QMimeDatabase::MatchExtension);
    return PMFileIconPreviewImageWithIcon(PMFileIconImageForTypeName(type.name()));
}

namespace {
const QRect kIconFrameInPreview(153, 153, 206, 206);
}

QString PMFileIconTypeName(const QUrl& url)
{
    const QString name = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QFileInfo info(name);
    if (info.suffix().isEmpty())
        return {};
    // Every tile without a picture asks, each time it scrolls into view, and matching a name
    // against every pattern of the type database takes longer than drawing the tile. The
    // type is remembered by everything after the name's first dot (so ".tar.gz" and ".gz"
    // stay apart), where that alone tells the same type as the whole name.
    const QString suffix = info.completeSuffix();
    static std::mutex mutex;
    static QHash<QString, QString> bySuffix;
    static QMimeDatabase database;
    {
        std::lock_guard lock(mutex);
        if (const auto it = bySuffix.constFind(suffix); it != bySuffix.constEnd())
            return *it;
    }
    const QString type = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
    const QString bySuffixAlone = database.mimeTypeForFile(QStringLiteral("x.") + suffix, QMimeDatabase::MatchExtension).name();
    if (type == bySuffixAlone) {
        std::lock_guard lock(mutex);
        if (bySuffix.size() < 4096)
            bySuffix.insert(suffix, type);
    }
    return type;
}

QImage PMFileIconImageForTypeName(const QString& typeName)
{
    static QHash<QString, QImage> drawn; // the main thread's, like the icons
    if (const auto it = drawn.constFind(typeName); it != drawn.constEnd())
        return *it;
    static QMimeDatabase database;
    const QIcon icon = typeName.isEmpty() ? QIcon() : PMIconForMimeType(database.mimeTypeForName(typeName));
    QImage image;
    if (!icon.isNull()) {
        image = QImage(kIconFrameInPreview.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        icon.paint(&painter, image.rect());
    }
    drawn.insert(typeName, image);
    return image;
}

platform::ImagePtr PMFileIconPreviewImageWithIcon(const QImage& icon)
{
    return imageWithSize(QSizeF(512, 512), 512, 512, PMImageInterpolation::High, [&](QPainter& painter, const QRectF&) {
        if (!icon.isNull())
            painter.drawImage(kIconFrameInPreview, icon);
        else
            PMDrawGenericDocumentIcon(painter, QRectF(kIconFrameInPreview));
    });
}
