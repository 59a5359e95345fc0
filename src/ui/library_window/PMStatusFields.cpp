#include "ui/library_window/PMStatusFields.h"

#include "foundation/PMFunctions.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMControlSupport.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <cmath>

namespace {

QColor white(double w, double alpha)
{
    return QColor::fromRgbF(float(w), float(w), float(w), float(alpha));
}

// The status lights: green (valid), red (invalid), grey (no verdict).
QImage statusLight(int status, double size, double ratio)
{
    QImage image(QSize(int(std::ceil(size * ratio)), int(std::ceil(size * ratio))), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = status == 1 ? QColor(40, 190, 60) : status == -1 ? QColor(230, 50, 40) : QColor(170, 170, 170);
    const QRectF circle(size * 0.15, size * 0.15, size * 0.7, size * 0.7);
    QRadialGradient gradient(circle.center() - QPointF(0, size * 0.12), size * 0.45);
    gradient.setColorAt(0, fill.lighter(150));
    gradient.setColorAt(1, fill);
    painter.setBrush(gradient);
    painter.setPen(QPen(fill.darker(140), 0.75));
    painter.drawEllipse(circle);
    return image;
}

} // namespace

namespace PMStatusIndicatorTextFieldCell {

QRectF statusIndicatorFrameForCellFrame(const QRectF& cellFrame, bool showsIcon)
{
    if (!showsIcon)
        return {};
    return QRectF(cellFrame.x(), cellFrame.y(), kIndicatorWidth, cellFrame.height()).adjusted(1, 1, -1, -1);
}

QRectF textFrameForCellFrame(const QRectF& cellFrame, bool showsIcon, bool isSearchField)
{
    if (!showsIcon)
        return cellFrame;
    QRectF frame = cellFrame.adjusted(kIndicatorWidth, 0, 0, 0);
    if (isSearchField)
        frame.setWidth(frame.width() - kSearchFieldRightMargin);
    return frame;
}

QSizeF cellSize(QSizeF base, bool showsIcon, bool isSearchField)
{
    if (showsIcon)
        base.rwidth() += kIndicatorWidth + (isSearchField ? kSearchFieldRightMargin : 0);
    return base;
}

QRectF iconFrame(const QRectF& indicator, bool smallControl, bool showsStatus, bool retina)
{
    const double s = smallControl ? 13 : 16;
    const double x = indicator.x() + std::floor((indicator.width() - s) / 2) + (retina ? 0.5 : 1.0);
    const double y = indicator.y() + std::floor((indicator.height() - s) / 2);
    return {x, y, s, (showsStatus && !retina) ? s - 1 : s};
}

} // namespace PMStatusIndicatorTextFieldCell

QImage PMSearchImage(double pointSize, double devicePixelRatio)
{
    const int pixels = int(std::ceil(pointSize * devicePixelRatio));
    QImage image(QSize(pixels, pixels), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = pointSize;
    painter.setPen(QPen(Qt::black, s * 0.11, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF lens(s * 0.14, s * 0.14, s * 0.52, s * 0.52);
    painter.drawEllipse(lens);
    painter.setPen(QPen(Qt::black, s * 0.14, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(s * 0.58, s * 0.58), QPointF(s * 0.84, s * 0.84));
    return image;
}

// ---------------------------------------------------------------------------

PMStatusIndicatorTextField::PMStatusIndicatorTextField(QWidget* parent) : QLineEdit(parent)
{
    updateEditorFrame();
}

void PMStatusIndicatorTextField::setStatus(int status)
{
    if (status == _status)
        return;
    _status = status;
    if (_showsStatus)
        update();
}

void PMStatusIndicatorTextField::setShowsStatus(bool shows)
{
    if (shows == _showsStatus)
        return;
    _showsStatus = shows;
    update();
    updateEditorFrame();
}

void PMStatusIndicatorTextField::updateEditorFrame()
{
    // The editor is the field's own text area: its margins keep the text right of the
    // indicator, at once, also while editing.
    const QRectF cell(rect());
    const QRectF text = PMStatusIndicatorTextFieldCell::textFrameForCellFrame(cell, showsIcon(), isSearchField());
    setTextMargins(int(text.left() - cell.left()), 0, int(cell.right() - text.right()), 0);
}

QPainterPath PMStatusIndicatorTextField::searchFieldShape() const
{
    return PMRoundedRectPath(QRectF(rect()), PMStatusIndicatorTextFieldCell::searchFieldRadii());
}

void PMStatusIndicatorTextField::drawSearchFieldBackground(QPainter& painter)
{
    painter.fillPath(searchFieldShape(), isInFullyInvertedDarkMode(this) ? white(0.2, 1.0) : white(1.0, 1.0));
}

QSize PMStatusIndicatorTextField::sizeHint() const
{
    QSize size = QLineEdit::sizeHint();
    return size;
}

QSize PMStatusIndicatorTextField::minimumSizeHint() const
{
    QSize size = QLineEdit::minimumSizeHint();
    const QSizeF grown = PMStatusIndicatorTextFieldCell::cellSize(QSizeF(size), showsIcon(), isSearchField());
    return grown.toSize();
}

void PMStatusIndicatorTextField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    updateEditorFrame();
}

void PMStatusIndicatorTextField::drawIndicator(QPainter& painter, const QRectF& cellFrame)
{
    using namespace PMStatusIndicatorTextFieldCell;
    const QRectF indicator = statusIndicatorFrameForCellFrame(cellFrame, showsIcon());
    if (indicator.isEmpty())
        return;
    const bool dark = isInFullyInvertedDarkMode(this);
    const bool retina = isOnRetinaDisplay(this);
    const double v = dark ? 1.0 : 0.0;
    const double t = retina ? 0.5 : 1.0;
    const double h = cellFrame.height();
    const bool verdict = _showsStatus && (_status == 1 || _status == -1);
    auto line = [&](double edgeAlpha, double middleAlpha) {
        QLinearGradient gradient(QPointF(0, indicator.bottom()), QPointF(0, indicator.top()));
        gradient.setColorAt(0, white(v, edgeAlpha));
        gradient.setColorAt(0.5, white(v, middleAlpha));
        gradient.setColorAt(1, white(v, edgeAlpha));
        painter.fillRect(QRectF(indicator.right(), indicator.top(), t, indicator.height()), gradient);
    };
    if (verdict) {
        if (_status == -1)
            painter.fillRect(QRectF(cellFrame.x(), cellFrame.y(), indicator.right() + t - cellFrame.x(), h), QColor::fromRgbF(1, 0, 0, 0.15f));
        line(0.05, retina ? 0.25 : 0.2);
    } else if (h > 25 || _showsStatus) {
        line(0, retina ? 0.2 : 0.15);
    }
    const bool small = controlSize(this) != PMControlSize::Regular;
    const QRectF icon = iconFrame(indicator, small, _showsStatus, retina);
    const double ratio = devicePixelRatioF();
    if (_showsStatus) {
        const QImage light = statusLight(verdict ? _status : 0, icon.width(), ratio);
        painter.setOpacity(verdict ? 1.0 : 0.7);
        painter.drawImage(icon, light);
        painter.setOpacity(1.0);
    } else {
        const bool whiteIcon = dark;
        const QImage mask = PMSearchImage(icon.width(), ratio);
        painter.drawImage(icon, PMTintedImage(mask, whiteIcon ? Qt::white : Qt::black, whiteIcon ? 1.0 : 0.7));
    }
}

void PMStatusIndicatorTextField::paintEvent(QPaintEvent* event)
{
    const QRectF cell(rect());
    if (!isSearchField()) {
        QLineEdit::paintEvent(event);
        QPainter painter(this);
        drawIndicator(painter, cell);
        return;
    }
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        drawSearchFieldBackground(painter);
    }
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(searchFieldShape());
    const bool dark = isInFullyInvertedDarkMode(this);
    const bool contrast = isEnabled() && PMShouldIncreaseContrast();
    const QColor outline = white(dark ? 1.0 : 0.0, contrast ? 1.0 : dark ? 0.1 : 0.25);
    const double width = (isOnRetinaDisplay(this) && !contrast) ? 1.0 : 2.0;
    painter.setPen(QPen(outline, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(searchFieldShape());
    drawIndicator(painter, cell);
}

PMSearchStatusIndicatorTextField::PMSearchStatusIndicatorTextField(QWidget* parent) : PMStatusIndicatorTextField(parent)
{
    // The field draws its own rounded background and outline.
    setFrame(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    setPalette(p);
    setClearButtonEnabled(true);
    updateEditorFrame();
}

// ---------------------------------------------------------------------------

PMAdaptiveSearchField::PMAdaptiveSearchField(QWidget* parent) : PMSearchStatusIndicatorTextField(parent)
{
    m_basePalette = palette();
    m_hasBasePalette = true;
}

bool PMAdaptiveSearchField::usesWhiteText() const
{
    return !isInFullyInvertedDarkMode(this) && hasBlackInterface();
}

void PMAdaptiveSearchField::updateTextColor()
{
    const bool whiteText = usesWhiteText();
    if (whiteText == _didUseWhiteTextColor)
        return;
    _didUseWhiteTextColor = whiteText;
    QPalette p = m_basePalette;
    if (whiteText) {
        p.setColor(QPalette::Text, Qt::white);
        p.setColor(QPalette::PlaceholderText, white(1.0, 0.5));
    }
    p.setColor(QPalette::Base, Qt::transparent);
    setPalette(p);
}

void PMAdaptiveSearchField::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ApplicationPaletteChange) {
        m_basePalette = QGuiApplication::palette();
        _didUseWhiteTextColor = !usesWhiteText();
        updateTextColor();
    }
    PMSearchStatusIndicatorTextField::changeEvent(event);
}

void PMAdaptiveSearchField::paintEvent(QPaintEvent* event)
{
    updateTextColor();
    if (!_didUseWhiteTextColor) {
        PMSearchStatusIndicatorTextField::paintEvent(event);
        return;
    }
    // The dark rounded gradient in place of the white background.
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QGradientStops stops = {{0.0, QColor::fromRgbF(0, 0, 0, 0.5f)}, {1.0, QColor::fromRgbF(0, 0, 0, 0.55f)}};
        PMFillRoundedRect(painter, QRectF(rect()), 3, &stops, nullptr);
    }
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF cell(rect());
    const QRectF indicator = PMStatusIndicatorTextFieldCell::statusIndicatorFrameForCellFrame(cell, true);
    const QRectF icon = PMStatusIndicatorTextFieldCell::iconFrame(indicator, controlSize(this) != PMControlSize::Regular, false, isOnRetinaDisplay(this));
    painter.drawImage(icon, PMTintedImage(PMSearchImage(icon.width(), devicePixelRatioF()), Qt::white, 0.7));
}

// ---------------------------------------------------------------------------

double PMAnimationDuration(double duration)
{
    if (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) {
        const std::int64_t slow = prefs::get(prefs::keys::SlowMotionAnimationDuration);
        if (slow >= 1)
            return double(slow);
    }
    return duration;
}
