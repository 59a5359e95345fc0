#include "ui/library_window/PMToolbarButtons.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMMainController.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/library_window/PMMainWindow.h"

#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtGui/QEnterEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QApplication>

#include <optional>

bool PMToolbarButtonsShowShapes = true;

namespace {

QColor white(double w, double alpha)
{
    return QColor::fromRgbF(float(w), float(w), float(w), float(alpha));
}

// The frame path with the radius at the corners that are not squared by the tag bits.
QPainterPath segmentPath(const QRectF& r, double radius, bool squareLeft, bool squareRight)
{
    if (radius < 1)
        radius = 0;
    radius = std::min(radius, std::min(r.width(), r.height()) / 2);
    QPainterPath path;
    const double l = r.left(), t = r.top(), rr = r.right(), b = r.bottom();
    const double rl = squareLeft ? 0 : radius, rrad = squareRight ? 0 : radius;
    path.moveTo(l + rl, t);
    path.lineTo(rr - rrad, t);
    if (rrad > 0)
        path.arcTo(QRectF(rr - 2 * rrad, t, 2 * rrad, 2 * rrad), 90, -90);
    path.lineTo(rr, b - rrad);
    if (rrad > 0)
        path.arcTo(QRectF(rr - 2 * rrad, b - 2 * rrad, 2 * rrad, 2 * rrad), 0, -90);
    path.lineTo(l + rl, b);
    if (rl > 0)
        path.arcTo(QRectF(l, b - 2 * rl, 2 * rl, 2 * rl), 270, -90);
    path.lineTo(l, t + rl);
    if (rl > 0)
        path.arcTo(QRectF(l, t, 2 * rl, 2 * rl), 180, -90);
    path.closeSubpath();
    return path;
}

} // namespace

PMToolbarButton::PMToolbarButton(QWidget* parent) : PMOptionalMenuButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setFlat(true);
}

void PMToolbarButton::setShowsBorderOnlyWhileMouseInside(bool flag)
{
    _showsBorderOnlyWhileMouseInside = flag;
    update();
}

QPointF PMToolbarButton::menuEventLocation() const
{
    return {-1.0, double(height()) + 3.0};
}

bool PMToolbarButton::isOn() const
{
    return isCheckable() && isChecked();
}

bool PMToolbarButton::highlightsViaColor(bool) const
{
    return false;
}

bool PMToolbarButton::hasBlackInterface() const
{
    return isInFullyInvertedDarkMode(this);
}

void PMToolbarButton::performKeyEquivalent()
{
    setDown(true);
    repaint();
    QPointer<PMToolbarButton> self(this);
    QTimer::singleShot(1000, this, [self] {
        if (self) {
            self->setDown(false);
            self->update();
        }
    });
}

bool PMToolbarButton::validateMenuItem(QAction* item)
{
    QWidget* main = mainController().mainWindow();
    if (isEnabled() && window() == main) {
        item->setCheckable(true);
        if (isOn()) {
            // A hidden segment marked 2 shows mixed; the title says so for menus that draw it.
            item->setChecked(isVisible() || _tag != 2);
            item->setProperty("PMMixedState", !isVisible() && _tag == 2);
        } else {
            item->setChecked(false);
            item->setProperty("PMMixedState", false);
        }
        return true;
    }
    item->setChecked(false);
    item->setProperty("PMMixedState", false);
    return false;
}

QRectF PMToolbarButton::frameRect(bool retina, bool contrast) const
{
    QRectF r(rect());
    r.setHeight(r.height() - 3);
    // Qt's views are flipped.
    r.translate(0, (!contrast && retina) ? 1.5 : 1.0);
    return r;
}

QSize PMToolbarButton::sizeHint() const
{
    if (!_image.isNull())
        return {30, 28};
    const QFontMetrics metrics(font());
    return {std::max(30, metrics.horizontalAdvance(text()) + 20), 28};
}

void PMToolbarButton::enterEvent(QEnterEvent* event)
{
    _hovered = true;
    update();
    PMOptionalMenuButton::enterEvent(event);
}

void PMToolbarButton::leaveEvent(QEvent* event)
{
    _hovered = false;
    update();
    PMOptionalMenuButton::leaveEvent(event);
}

void PMToolbarButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled();
    const bool on = isOn();
    const bool black = hasBlackInterface();
    const bool contrast = PMShouldIncreaseContrast();
    const bool shapes = PMToolbarButtonsShowShapes;
    const bool retina = isOnRetinaDisplay(this);

    // 1. Whether a frame is wanted. The cell's bezel request is the hover here.
    const bool pressed = on || isDown();
    bool frameWanted = true;
    if (!pressed && _showsBorderOnlyWhileMouseInside) {
        _drawBezel = _hovered && enabled;
        frameWanted = _drawBezel;
    }
    const QRectF R = frameRect(retina, contrast);
    const double lineWidth = retina ? 0.7 : 1.0;
    std::optional<QColor> accent;
    bool contentPressed = pressed;

    if (frameWanted && highlightsViaColor(on)) {
        accent = backwardsCompatibleControlAccentColor();
    } else if (frameWanted) {
        if (!shapes) {
            if (pressed) {
                QRectF f = R.adjusted(1, 0, -1, 0);
                double radius = 4.0;
                if (PMMainWindow::usesGlass()) {
                    const double h = f.height();
                    f = QRectF(f.center().x() - h / 2 + ((_tag & 1) ? 0 : 0.5), f.top(), h, h).adjusted(-0.5, -0.5, 0.5, 0.5);
                    radius = -1;
                }
                if (contrast) {
                    const QColor fill = white(black ? 1.0 : 0.0, 0.95);
                    PMFillRoundedRect(painter, f, radius, nullptr, &fill);
                    contentPressed = true;
                } else {
                    const double a = black ? 0.3 : (PMMainWindow::usesGlass() ? 0.08 : 0.1);
                    const QColor fill = white(black ? 1.0 : 0.0, a);
                    PMFillRoundedRect(painter, f, radius, nullptr, &fill);
                    painter.setPen(QPen(black ? white(0, 0.8) : white(0, a), lineWidth));
                    painter.setBrush(Qt::NoBrush);
                    painter.drawPath(PMRoundedRectPath(f.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2), radius));
                    contentPressed = false;
                }
            }
        } else {
            const double radius = 0.2 * R.height();
            const bool tagsCount = !_showsBorderOnlyWhileMouseInside;
            const bool squareLeft = tagsCount && (_tag & 1);
            const bool squareRight = tagsCount && (_tag & 2);
            // (The older systems' shadow is never drawn here.)
            const bool dropShadow = pressed || black || contrast
                || !prefs::get(prefs::keys::SimplifyToolbarButtons).isNull();
            const QPainterPath path = segmentPath(R, radius, squareLeft, squareRight);
            if (dropShadow)
                painter.fillPath(path.translated(0, 0.5), white(0, 0.05));
            const double t = pressed ? 0.45 : black ? 0.3 : contrast ? 1.0 : 0.99;
            const double d = black ? 0.05 : contrast ? 0.01 : 0.04;
            const double alpha = dropShadow ? 1.0 : 0.1;
            QLinearGradient gradient(R.topLeft(), R.bottomLeft());
            gradient.setColorAt(0, white(t, alpha));
            gradient.setColorAt(1, white(t - d, alpha));
            painter.fillPath(path, gradient);
            const double half = lineWidth / 2;
            const QRectF border = R.adjusted(squareLeft ? -half : half, half, squareRight ? half : -half, -half);
            QColor stroke = contrast ? white(black ? 1.0 : 0.0, 0.95) : black ? white(0, 0.6) : white(0, dropShadow ? 0.25 : 0.15);
            painter.setPen(QPen(stroke, lineWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(segmentPath(border, radius, squareLeft, squareRight));
        }
    }

    // Content colour.
    QColor colour;
    // A disabled button fades its content once: the text through its colour, an image
    // through the tint's fraction below.
    if (!enabled)
        colour = _image.isNull() ? white(black ? 1.0 : 0.0, black ? 0.3 : 0.4) : white(black ? 1.0 : 0.0, 1.0);
    else if (accent)
        colour = *accent;
    else if (contentPressed || black)
        colour = Qt::white;
    else
        colour = _image.isNull() ? palette().color(QPalette::ButtonText) : white(0, 0.7);

    if (_image.isNull()) {
        QFont f = font();
        const double size = PMFontSize(f);
        if (enabled && (contentPressed || black))
            f = backwardsCompatibleSystemFontOfSize(size, 2);
        painter.setFont(f);
        painter.setPen(colour);
        QRectF textRect = R;
        if (size > 11.5)
            textRect.translate(0, -1);
        const QString title = QFontMetrics(f).elidedText(text(), Qt::ElideMiddle, int(textRect.width()) - 6);
        painter.drawText(textRect, Qt::AlignCenter, title);
        return;
    }
    QRectF imageRect;
    const QSizeF imageSize = QSizeF(_image.size()) / _image.devicePixelRatio();
    switch (_imageScaling) {
    case ImageScaling::ProportionallyDown:
        imageRect = PMRectFittingSizeInRect(R.adjusted(2.5, 2.5, -2.5, -2.5), imageSize);
        break;
    case ImageScaling::ProportionallyUpOrDown:
        imageRect = PMRectFittingSizeInRect(R.adjusted(6, 0, -6, 0), imageSize);
        break;
    case ImageScaling::None:
        imageRect = QRectF(QPointF(std::floor(R.center().x() - imageSize.width() / 2), std::floor(R.center().y() - imageSize.height() / 2)), imageSize);
        break;
    }
    const double fraction = enabled ? 1.0 : (black ? 0.3 : 0.4);
    painter.drawImage(imageRect, PMTintedImage(_image, colour, enabled ? 1.0 : fraction));
}

// ---------------------------------------------------------------------------

bool PMAdaptiveToolbarButton::isSimplified()
{
    const platform::Value value = prefs::get(prefs::keys::SimplifyToolbarButtons);
    if (value.isBool() || value.isNumber())
        return value.toBool();
    return PMMainWindowHidesTitlebar;
}

void PMAdaptiveToolbarButton::setVisible(bool visible)
{
    PMToolbarButton::setVisible(visible);
    setShowsBorderOnlyWhileMouseInside(!PMToolbarButtonsShowShapes && !isHidden());
}

bool PMAdaptiveToolbarButton::highlightsViaColor(bool on) const
{
    if (PMToolbarButtonsShowShapes || on)
        return false;
    return !prefs::get(prefs::keys::SimplifyToolbarButtonsDrawBezelOnHover);
}

bool PMAdaptiveToolbarButton::hasBlackInterface() const
{
    return PMMainWindowHasBlackInterface();
}

// ---------------------------------------------------------------------------

PMPreviewModeButton::PMPreviewModeButton(QWidget* parent) : PMAdaptiveToolbarButton(parent)
{
    setCheckable(true);
}

void PMPreviewModeButton::performClick()
{
    if (!isChecked())
        click();
}

void PMPreviewModeButton::mousePressEvent(QMouseEvent* event)
{
    if (isChecked()) {
        event->accept();
        return;
    }
    PMAdaptiveToolbarButton::mousePressEvent(event);
}

void PMPreviewModeButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (isChecked() && !isDown()) {
        event->accept();
        return;
    }
    PMAdaptiveToolbarButton::mouseReleaseEvent(event);
}

void PMPreviewModeButton::keyPressEvent(QKeyEvent* event)
{
    if (isChecked()) {
        event->accept();
        return;
    }
    PMAdaptiveToolbarButton::keyPressEvent(event);
}
