#include "services/PMApplicationIcon.h"

#include "services/AIHAnnouncements.h"

#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <cmath>

QImage PMApplicationIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;

    // A rounded tile of deep blue with a strip of film across it and a play mark.
    const QRectF tile(s * 0.06, s * 0.06, s * 0.88, s * 0.88);
    QLinearGradient background(tile.topLeft(), tile.bottomLeft());
    background.setColorAt(0, QColor(58, 84, 160));
    background.setColorAt(1, QColor(28, 36, 84));
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, s * 0.2, s * 0.2);
    p.fillPath(tilePath, background);

    const QRectF strip(tile.left(), s * 0.3, tile.width(), s * 0.4);
    p.fillRect(strip, QColor(18, 20, 30, 220));
    const double hole = s * 0.045;
    for (int i = 0; i < 7; ++i) {
        const double x = tile.left() + s * 0.05 + i * (tile.width() - s * 0.1) / 6.5;
        for (const double y : {strip.top() + hole * 0.5, strip.bottom() - hole * 1.5}) {
            QPainterPath perforation;
            perforation.addRoundedRect(QRectF(x, y, hole, hole), hole * 0.25, hole * 0.25);
            p.fillPath(perforation, QColor(235, 238, 245));
        }
    }
    QPainterPath play;
    const QPointF centre(s * 0.52, s * 0.5);
    const double r = s * 0.11;
    play.moveTo(centre + QPointF(-r * 0.8, -r));
    play.lineTo(centre + QPointF(r, 0));
    play.lineTo(centre + QPointF(-r * 0.8, r));
    play.closeSubpath();
    p.fillPath(play, QColor(250, 196, 64));
    return image;
}

QImage PMApplicationIconWithBadge(const QImage& base, std::int64_t count, double progress, const QColor& accent)
{
    QImage icon(base.size(), QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(0, 0, base);
    const double w = icon.width();
    const double h = icon.height();
    if (progress >= 0) {
        // Image coordinates run downwards: the bar's bottom stands 17 % above the lower edge.
        const double inset = std::floor(w * 0.22);
        const double barHeight = std::floor(h * 0.04);
        const QRectF track(inset, h - std::floor(h * 0.17) - barHeight, w - 2 * inset, barHeight);
        const double radius = barHeight / 2;
        QPainterPath trackPath;
        trackPath.addRoundedRect(track, radius, radius);
        p.fillPath(trackPath, QColor(255, 255, 255, 128));
        const double filled = barHeight + std::round((track.width() - barHeight) * std::min(progress, 1.0));
        QPainterPath fill;
        fill.addRoundedRect(QRectF(track.left(), track.top(), filled, barHeight), radius, radius);
        p.fillPath(fill, accent);
    }
    if (count >= 1 || count == -1) {
        const QString text = count == -1 ? QStringLiteral("➔") : QString::number(count);
        PMAIHDrawBadgeInRect(p, text, accent, Qt::white, QColor(), true, true, QRectF(0, 0, w, h));
    }
    return icon;
}
