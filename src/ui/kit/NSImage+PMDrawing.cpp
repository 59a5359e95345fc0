#include "ui/kit/NSImage+PMDrawing.h"
#include "foundation/NSString+PMHelpManagerIcons.h"

#include "foundation/PMFunctions.h"

#include <QtCore/QFileInfo>
#include <QtGui/QIcon>

#include <cmath>

using platform::Image;
using platform::ImagePtr;

namespace {

constexpr double kEpsilon = 1.1920928955078125e-07;

// A canvas of the point size at the device pixel ratio of the screens (at least 1).
QImage canvas(QSizeF points, double scale = 2.0)
{
    QImage image(std::max(1, int(std::ceil(points.width() * scale))), std::max(1, int(std::ceil(points.height() * scale))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    return image;
}

ImagePtr iconImage(const QIcon& icon)
{
    if (icon.isNull())
        return nullptr;
    const QImage pixels = icon.pixmap(QSize(32, 32)).toImage();
    return pixels.isNull() ? nullptr : Image::make(pixels, QSizeF(pixels.width(), pixels.height()));
}

ImagePtr namedImage(const QString& name)
{
    for (const QString& path : {QStringLiteral(":/images/%1.png").arg(name), QStringLiteral(":/images/%1.svg").arg(name)})
        if (QFileInfo::exists(path))
            return iconImage(QIcon(path));
    return iconImage(QIcon::fromTheme(name));
}

} // namespace

ImagePtr imageWithAlpha(const ImagePtr& image, double fraction)
{
    if (!image || !image->isValid())
        return image;
    QImage pixels(image->pixels().size(), QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::transparent);
    QPainter painter(&pixels);
    painter.setOpacity(std::clamp(fraction, 0.0, 1.0));
    painter.drawImage(0, 0, image->pixels());
    painter.end();
    return Image::make(std::move(pixels), image->size());
}

ImagePtr imageWithMaximumSize(const ImagePtr& image, QSizeF size, double fraction, double inset, bool snug)
{
    if (!image || !image->isValid())
        return image;
    const bool insetCounts = std::fabs(inset) > 0.1;
    const QSizeF available = insetCounts ? QSizeF(size.width() - 2 * inset, size.height() - 2 * inset) : size;
    const double w = image->size().width(), h = image->size().height();
    const double rx = w / available.width(), ry = h / available.height();
    if (snug && !insetCounts && rx <= 1.0 && ry <= 1.0)
        return fraction >= 0.99 ? image : imageWithAlpha(image, fraction);
    QSizeF drawn = rx > ry ? QSizeF(available.width(), std::floor(h / rx)) : QSizeF(std::floor(w / ry), available.height());
    drawn = QSizeF(std::max(1.0, drawn.width()), std::max(1.0, drawn.height()));
    const QSizeF canvasSize = snug ? (insetCounts ? drawn + QSizeF(2 * inset, 2 * inset) : drawn) : size;
    if (!(canvasSize.width() >= 1.0) || !(canvasSize.height() >= 1.0))
        return nullptr;
    QPointF origin = snug ? (insetCounts ? QPointF(inset, inset) : QPointF(0, 0))
                          : QPointF(std::trunc((canvasSize.width() - drawn.width()) / 2.0), std::trunc((canvasSize.height() - drawn.height()) / 2.0));
    QImage pixels = canvas(canvasSize);
    QPainter painter(&pixels);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(fraction);
    painter.drawImage(QRectF(origin, drawn), image->pixels());
    painter.end();
    return Image::make(std::move(pixels), canvasSize);
}

ImagePtr imageWithMaximumSize(const ImagePtr& image, QSizeF size)
{
    return imageWithMaximumSize(image, size, 1.0, 0.0, false);
}

ImagePtr folderImage()
{
    static const ImagePtr image = imageWithMaximumSize(iconImage(QIcon::fromTheme(QStringLiteral("folder"))), QSizeF(16, 16));
    return image;
}

ImagePtr genericApplicationImage()
{
    static const ImagePtr image = imageWithMaximumSize(iconImage(QIcon::fromTheme(QStringLiteral("application-x-executable"))), QSizeF(16, 16));
    return image;
}

ImagePtr applicationImageFromPaths(const QStringList& paths)
{
    for (const QString& path : paths)
        if (ImagePtr image = cachedIconFromPath(path))
            return image;
    return genericApplicationImage();
}

ImagePtr sidebarTemplateImageNamed(const QString& name, double inset)
{
    ImagePtr image = imageWithMaximumSize(namedImage(name), QSizeF(16, 16), 1.0, inset, false);
    if (image)
        image->isTemplate = true;
    return image;
}

ImagePtr imageNamed(const QString& name, bool flipHorizontally, double height, double inset, double offset, const QColor& color)
{
    const ImagePtr named = namedImage(name);
    if (!named || !(height >= 1.0) || named->size().height() <= 0)
        return nullptr;
    const double width = std::round((height - 2 * inset) * named->size().width() / named->size().height() + 2 * inset);
    if (!(width >= 1.0))
        return nullptr;
    QImage pixels = canvas(QSizeF(width, height));
    QPainter painter(&pixels);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QRectF rect(0, 0, width, height);
    if (flipHorizontally) {
        painter.scale(-1, 1);
        rect.moveLeft(-rect.x() - rect.width());
    }
    // Up by the offset (y down here).
    drawInRectWithColor(named, painter, rect.translated(0, -offset).adjusted(inset, inset, -inset, -inset), color, 1.0);
    painter.end();
    return Image::make(std::move(pixels), QSizeF(width, height));
}

ImagePtr imageWithSystemSymbolName(const QString&, double, const QColor&)
{
    return nullptr;
}

ImagePtr whiteImageWithSystemSymbolName(const QString& name, double pointSize)
{
    return imageWithSystemSymbolName(name, pointSize, Qt::white);
}

ImagePtr imageTintedWithColor(const ImagePtr& image, const QColor& color)
{
    if (!image || !color.isValid() || !(image->size().width() > 0) || !(image->size().height() > 0))
        return image;
    QImage pixels(image->pixels().size(), QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::transparent);
    QPainter painter(&pixels);
    drawInRectWithColor(image, painter, QRectF(pixels.rect()), color, 1.0);
    painter.end();
    ImagePtr tinted = Image::make(std::move(pixels), image->size());
    return tinted;
}

QRectF drawAsSquareInRect(const ImagePtr& image, QPainter& painter, const QRectF& rect, QPainter::CompositionMode operation, double scalingFactor,
                          double maximumEdgeLength, double fraction)
{
    double side = std::min(rect.width(), rect.height()) * scalingFactor;
    if (maximumEdgeLength > kEpsilon)
        side = std::min(side, maximumEdgeLength);
    const QRectF square(rect.center().x() - side / 2.0, rect.center().y() - side / 2.0, side, side);
    if (image && image->isValid()) {
        painter.save();
        painter.setCompositionMode(operation);
        painter.setOpacity(fraction);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(square, image->pixels());
        painter.restore();
    }
    return square;
}

void drawScaledToFitInRect(const ImagePtr& image, QPainter& painter, const QRectF& rect)
{
    if (!image || !image->isValid())
        return;
    const QSizeF size = image->size();
    const QRectF target = size.height() >= kEpsilon ? PMRectFittingAspectRatioInRect(rect, size.width() / size.height()) : rect;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image->pixels());
    painter.restore();
}

void drawInRectWithColor(const ImagePtr& image, QPainter& painter, const QRectF& rect, const QColor& color, double fraction)
{
    if (!image || !image->isValid())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!color.isValid()) {
        painter.setOpacity(fraction);
        painter.drawImage(rect, image->pixels());
    } else {
        // The shape in the colour, made apart (a transparency layer) and then laid over.
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        QImage layer = canvas(rect.size(), std::max(1.0, ratio));
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::SmoothPixmapTransform);
        layerPainter.drawImage(QRectF(QPointF(0, 0), rect.size()), image->pixels());
        layerPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        layerPainter.fillRect(QRectF(QPointF(0, 0), rect.size()), color);
        layerPainter.end();
        painter.setOpacity(fraction);
        painter.drawImage(rect, layer);
    }
    painter.restore();
}

void deprecatedDissolveToPoint(const ImagePtr& image, QPainter& painter, QPointF point, double fraction)
{
    if (!image || !image->isValid())
        return;
    painter.save();
    painter.setOpacity(fraction);
    painter.drawImage(QRectF(point, image->size()), image->pixels());
    painter.restore();
}

QColor errorColorWithAlpha(double alpha)
{
    return QColor::fromRgbF(0.6f, 0.0f, 0.0f, float(std::clamp(alpha, 0.0, 1.0)));
}

double curvedRectCornerRadiusFactor()
{
    return kCurvedRectCornerRadiusFactor;
}

QPainterPath bezierPathWithCurvedRect(const QRectF& rect, double maxXMaxYRadius, double minXMaxYRadius, double minXMinYRadius, double maxXMinYRadius)
{
    // Built with y up as the radii are named; the caller's flip, if any, is its own.
    const double f = kCurvedRectCornerRadiusFactor;
    const double x = rect.x(), y = rect.y(), right = rect.x() + rect.width(), top = rect.y() + rect.height();
    QPainterPath path;
    if (maxXMaxYRadius >= 0.5) {
        path.moveTo(right, top - f * maxXMaxYRadius);
        path.quadTo(QPointF(right, top), QPointF(right - f * maxXMaxYRadius, top));
    } else {
        path.moveTo(right, top);
    }
    if (minXMaxYRadius >= 0.5) {
        path.lineTo(x + f * minXMaxYRadius, top);
        path.quadTo(QPointF(x, top), QPointF(x, top - f * minXMaxYRadius));
    } else {
        path.lineTo(x, top);
    }
    if (minXMinYRadius >= 0.5) {
        path.lineTo(x, y + f * minXMinYRadius);
        path.quadTo(QPointF(x, y), QPointF(x + f * minXMinYRadius, y));
    } else {
        path.lineTo(x, y);
    }
    if (maxXMinYRadius >= 0.5) {
        path.lineTo(right - f * maxXMinYRadius, y);
        path.quadTo(QPointF(right, y), QPointF(right, y + f * maxXMinYRadius));
    } else {
        path.lineTo(right, y);
    }
    path.closeSubpath();
    return path;
}

QPainterPath bezierPathWithCurvedRect(const QRectF& rect, double radius)
{
    return bezierPathWithCurvedRect(rect, radius, radius, radius, radius);
}
