#include "foundation/NSString+PMHelpManagerIcons.h"

#include "platform/Applications.h"
#include "platform/ImageReading.h"

#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QMimeDatabase>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <algorithm>
#include <cmath>

using platform::Image;
using platform::ImagePtr;

namespace {

double pixelRatio()
{
    return qGuiApp ? std::max(qGuiApp->devicePixelRatio(), 1.0) : 1.0;
}

QSize pixelSizeOf(QSizeF size)
{
    const double ratio = pixelRatio();
    return QSize(std::max(1, int(std::ceil(size.width() * ratio))), std::max(1, int(std::ceil(size.height() * ratio))));
}

// An image of exactly the size with the painter's drawing in it (y down, in points).
template<typename Draw>
ImagePtr drawnImage(QSizeF size, Draw draw)
{
    QImage pixels(pixelSizeOf(size), QImage::Format_ARGB32_Premultiplied);
    if (pixels.isNull())
        return nullptr;
    pixels.fill(Qt::transparent);
    {
        QPainter painter(&pixels);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixels.width() / size.width(), pixels.height() / size.height());
        draw(painter, QRectF(QPointF(0, 0), size));
    }
    return Image::make(std::move(pixels), size);
}

QRectF fittedRect(QSizeF picture, const QRectF& bounds)
{
    if (picture.width() <= 0 || picture.height() <= 0)
        return bounds;
    const QSizeF fitted = picture.scaled(bounds.size(), Qt::KeepAspectRatio);
    return QRectF(bounds.x() + (bounds.width() - fitted.width()) / 2, bounds.y() + (bounds.height() - fitted.height()) / 2, fitted.width(),
                  fitted.height());
}

ImagePtr imageWithPicture(const QImage& picture, QSizeF size)
{
    return drawnImage(size, [&](QPainter& painter, const QRectF& bounds) { painter.drawImage(fittedRect(picture.size(), bounds), picture); });
}

const QMimeDatabase& database()
{
    static const QMimeDatabase db;
    return db;
}

// The desktop entry's own icon: a name of the icon theme, or a picture file.
ImagePtr desktopEntryIcon(const QString& path, QSizeF size)
{
    platform::DesktopApplication application;
    if (!platform::readDesktopEntry(path, QFileInfo(path).fileName(), &application) || application.icon.isEmpty())
        return nullptr;
    if (application.icon.startsWith(u'/')) {
        const QImage picture = platform::readImageFile(application.icon, {pixelSizeOf(size)});
        return picture.isNull() ? nullptr : imageWithPicture(picture, size);
    }
    const QIcon icon = QIcon::fromTheme(application.icon);
    return icon.isNull() ? nullptr : PMImageWithIcon(icon, size);
}

QHash<QString, ImagePtr>& iconsByPath()
{
    static QHash<QString, ImagePtr> icons;
    return icons;
}

QHash<QString, ImagePtr>& iconsByExtension()
{
    static QHash<QString, ImagePtr> icons;
    return icons;
}

} // namespace

QIcon PMIconForMimeType(const QMimeType& type)
{
    QIcon icon;
    if (type.isValid()) {
        icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(type.genericIconName());
    }
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("text-x-generic"), QIcon::fromTheme(QStringLiteral("application-octet-stream")));
    return icon;
}

void PMDrawGenericDocumentIcon(QPainter& painter, const QRectF& frame)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A sheet of paper of the proportions 3 : 4, its top-right corner folded down.
    const double unit = std::min(frame.width() / 3.0, frame.height() / 4.0);
    const QSizeF sheetSize(unit * 2.6, unit * 3.7);
    const QRectF sheet(frame.center().x() - sheetSize.width() / 2, frame.center().y() - sheetSize.height() / 2, sheetSize.width(),
                       sheetSize.height());
    const double fold = sheet.width() * 0.3;
    QPainterPath path;
    path.moveTo(sheet.topLeft());
    path.lineTo(sheet.right() - fold, sheet.top());
    path.lineTo(sheet.right(), sheet.top() + fold);
    path.lineTo(sheet.bottomRight());
    path.lineTo(sheet.bottomLeft());
    path.closeSubpath();
    painter.fillPath(path, QColor(250, 250, 250));
    painter.setPen(QPen(QColor(150, 150, 150), std::max(unit * 0.06, 0.5)));
    painter.drawPath(path);
    painter.drawLine(QPointF(sheet.right() - fold, sheet.top()), QPointF(sheet.right() - fold, sheet.top() + fold));
    painter.drawLine(QPointF(sheet.right() - fold, sheet.top() + fold), QPointF(sheet.right(), sheet.top() + fold));
    painter.restore();
}

ImagePtr PMImageWithIcon(const QIcon& icon, QSizeF size)
{
    if (!(size.width() > 0) || !(size.height() > 0))
        return nullptr;
    return drawnImage(size, [&](QPainter& painter, const QRectF& bounds) {
        if (icon.isNull()) {
            PMDrawGenericDocumentIcon(painter, bounds);
            return;
        }
        // The theme's picture nearest the pixels asked for, fitted into the square.
        const QSize pixels = pixelSizeOf(size);
        const QPixmap pixmap = icon.pixmap(QSize(std::max(pixels.width(), pixels.height()), std::max(pixels.width(), pixels.height())));
        if (pixmap.isNull()) {
            PMDrawGenericDocumentIcon(painter, bounds);
            return;
        }
        painter.drawPixmap(fittedRect(pixmap.size(), bounds), pixmap, QRectF(pixmap.rect()));
    });
}

ImagePtr iconFromPathWithSize(const QString& path, QSizeF size)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !(size.width() > 0) || !(size.height() > 0))
        return nullptr;
    const QMimeType type = database().mimeTypeForFile(info);
    if (info.isFile() && type.inherits(QStringLiteral("application/x-desktop")))
        if (ImagePtr icon = desktopEntryIcon(path, size))
            return icon;
    // A picture shows itself, decoded no larger than the icon needs.
    if (info.isFile() && type.name().startsWith(QLatin1String("image/"))) {
        const QImage picture = platform::readImageFile(path, {pixelSizeOf(size)});
        if (!picture.isNull())
            return imageWithPicture(picture, size);
    }
    return PMImageWithIcon(PMIconForMimeType(type), size);
}

ImagePtr iconFromPath(const QString& path)
{
    return iconFromPathWithSize(path, QSizeF(16, 16));
}

ImagePtr cachedIconFromPath(const QString& path)
{
    QHash<QString, ImagePtr>& icons = iconsByPath();
    if (auto it = icons.constFind(path); it != icons.constEnd())
        return *it;
    ImagePtr icon = iconFromPath(path);
    if (icon)
        icons.insert(path, icon);
    return icon;
}

ImagePtr cachedIconFromExtension(const QString& extension)
{
    const QString key = extension.toLower();
    QHash<QString, ImagePtr>& icons = iconsByExtension();
    if (auto it = icons.constFind(key); it != icons.constEnd())
        return *it;
    QMimeType type;
    if (!key.isEmpty())
        type = database().mimeTypeForFile(QStringLiteral("x.") + key, QMimeDatabase::MatchExtension);
    // A name without an extension (or with one nobody knows) is a document of no
    // particular type: the generic document.
    ImagePtr icon = PMImageWithIcon(PMIconForMimeType(type.isValid() && !type.isDefault() ? type : QMimeType()), QSizeF(16, 16));
    icons.insert(key, icon);
    return icon;
}

QString fileTypeFromPath(const QString&)
{
    return {};
}

QString fileCreatorFromPath(const QString&)
{
    return {};
}

void PMResetCachedIcons()
{
    iconsByPath().clear();
    iconsByExtension().clear();
}
