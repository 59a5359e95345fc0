#include "playback/PMPlayerWindowGeometry.h"

#include <QtCore/QRect>
#include <QtCore/QStringList>

#include <algorithm>
#include <cmath>

QRectF PMBottomUpFromGlobal(const QRect& g)
{
    return QRectF(g.x(), -(g.y() + g.height()), g.width(), g.height());
}

QRect PMGlobalFromBottomUp(const QRectF& f)
{
    return QRectF(f.x(), -(f.y() + f.height()), f.width(), f.height()).toAlignedRect();
}

QString PMStringFromSize(const QSizeF& size)
{
    return QStringLiteral("{%1, %2}").arg(QString::number(size.width(), 'g', 12), QString::number(size.height(), 'g', 12));
}

std::optional<QSizeF> PMSizeFromString(const QString& text)
{
    const QString t = text.trimmed();
    if (!t.startsWith(u'{') || !t.endsWith(u'}'))
        return std::nullopt;
    const QStringList parts = t.mid(1, t.size() - 2).split(u',');
    if (parts.size() != 2)
        return std::nullopt;
    bool okW = false, okH = false;
    const double w = parts[0].trimmed().toDouble(&okW), h = parts[1].trimmed().toDouble(&okH);
    if (!okW || !okH || !std::isfinite(w) || !std::isfinite(h) || w < 0 || h < 0)
        return std::nullopt;
    return QSizeF(w, h);
}

PMZoomFrame PMPlayerWindowZoomFrame(const QRectF& V, const QRectF& F, const QSizeF& C, std::optional<QSizeF> natural, bool lock, bool center)
{
    PMZoomFrame answer{V, std::nullopt};
    if (!natural)
        return answer;
    const double nw = std::max(1.0, natural->width()), nh = std::max(1.0, natural->height());
    if (!lock) {
        answer.playerWidth = V.width() + C.width() - F.width();
        return answer;
    }
    double playerWidth = std::round(nw * (V.height() - F.height() + C.height()) / nh);
    const double windowWidth = F.width() + playerWidth - C.width();
    if (windowWidth > V.width()) {
        playerWidth = V.width() - F.width() + C.width();
        const double height = F.height() + std::round(nh * playerWidth / nw) - C.height();
        const double y = center ? V.y() + std::round((V.height() - height) / 2) : F.y() + F.height() - height;
        answer.frame = QRectF(V.x(), y, V.width(), height);
    } else {
        const double x = center ? V.x() + std::round((V.width() - windowWidth) / 2) : F.x();
        answer.frame = QRectF(x, V.y(), windowWidth, V.height());
    }
    answer.playerWidth = playerWidth;
    return answer;
}

QRectF PMResizedWindowFrame(const PMResizeWindowRequest& r)
{
    const double wantedWidth = std::max(kPMMinimumPlayerWidth, r.wanted.width());
    const double wantedHeight = std::max(kPMMinimumPlayerHeight, r.wanted.height());
    const double currentHeight = r.container.height() + (r.isMainWindowSize ? r.containerY : 0);
    const double heightChange = wantedHeight - currentHeight;
    // The top edge stays where it is.
    QRectF f(r.frame.x(), r.frame.y() - heightChange, r.frame.width() + wantedWidth - r.container.width(), r.frame.height() + heightChange);

    const QRectF& V = r.visible;
    if (f.y() < V.y()) {
        f.moveTop(V.y()); // QRectF's "top" is the smaller y: here the bottom edge
        if (f.height() > V.height()) {
            f.setHeight(V.height());
            if (r.zoomFrame) {
                const QRectF zoom = r.zoomFrame();
                f.moveLeft(zoom.x());
                if (zoom.width() >= kPMMinimumPlayerWidth)
                    f = QRectF(zoom.x(), zoom.y(), zoom.width(), zoom.height());
                else
                    f = QRectF(f.x(), V.y(), kPMMinimumPlayerWidth, V.height());
            }
        }
    }
    // A window of its own grows on both sides.
    if (!r.isMainWindow && !r.resizeFromLeft)
        f.moveLeft(f.x() - std::trunc((f.width() - r.frame.width()) / 2));
    const double right = V.x() + V.width();
    if (f.x() + f.width() > right)
        f.moveLeft(std::max(V.x(), f.x() - (f.x() + f.width() - right)));
    return f;
}

PMLiveResize PMPlayerWindowWillResize(const QSizeF& proposed, const QRectF& F, const QSizeF& C, QSizeF natural, bool lock, double visibleBottom,
                                      double minimumWidth)
{
    const double nw = std::max(1.0, natural.width()), nh = std::max(1.0, natural.height());
    const double fw = F.width(), fh = F.height(), cw = C.width(), ch = C.height();
    PMLiveResize out{proposed, 1, 0};
    double pw = proposed.width() - fw + cw;
    double magnification = pw / nw;
    if (lock) {
        // The window keeps its top edge: its bottom would be at F.y + ch - ph.
        const auto overshoot = [&](double ph) { return std::max(0.0, visibleBottom - (F.y() + ch - ph)); };
        double ph = std::round(nh * magnification);
        if (ph >= kPMMinimumPlayerHeight && overshoot(ph) <= 0) {
            out.size.setHeight(fh + ph - ch);
        } else {
            const double allowed = ph < kPMMinimumPlayerHeight ? kPMMinimumPlayerHeight : std::max(kPMMinimumPlayerHeight, ph - overshoot(ph));
            magnification = allowed / nh;
            pw = std::round(nw * magnification);
            bool again = false;
            if (pw < kPMMinimumPlayerWidth) {
                magnification = kPMMinimumPlayerWidth / nw;
                pw = kPMMinimumPlayerWidth;
                out.size.setWidth(fw + pw - cw);
                ph = std::round(nh * magnification);
                again = true;
            } else {
                out.size.setWidth(fw + pw - cw);
                if (out.size.width() >= minimumWidth) {
                    out.size.setHeight(fh + allowed - ch);
                } else {
                    out.size.setWidth(minimumWidth);
                    pw = minimumWidth - fw + cw;
                    magnification = pw / nw;
                    ph = std::round(nh * magnification);
                    again = true;
                }
            }
            if (again) {
                ph -= overshoot(ph);
                out.size.setHeight(fh + ph - ch);
            }
        }
    }
    out.magnification = magnification;
    out.playerWidth = pw;
    return out;
}

std::optional<QRectF> PMPresentationPictureFrame(const QSizeF& screen, double notch, int controlsMode, int presentationMode, QSizeF picture)
{
    if (picture.isEmpty())
        return std::nullopt;
    const double pw = std::max(1.0, picture.width()), ph = std::max(1.0, picture.height());
    const double a = pw / ph;
    const double W = screen.width();
    double h = screen.height() - notch;
    double x = 0, y = 0;
    if (controlsMode == -1) {
        y += 62; // the band and its separator
        h -= 62;
    } else if (controlsMode != 0) {
        h -= 62;
    }
    if (h < 1)
        h = 1;
    const double s = W / h;
    // Filling crops the overflow, fitting shows bars: which side the picture spans depends
    // on both the mode and whether the picture is wider than the screen.
    if ((presentationMode == 1) == (a < s))
        return QRectF(x, y + std::round((h - W / a) / 2), W, std::round(W / a));
    return QRectF(x + std::round((W - h * a) / 2), y, std::round(h * a), h);
}

double PMNextMagnificationStep(double magnification, bool up)
{
    if (up)
        return std::floor(2 * magnification + 0.01) * 0.5 + 0.5;
    return std::max(0.5, std::ceil(2 * magnification - 0.01) * 0.5 - 0.5);
}
