#include "ui/kit/PMRatingView.h"

#include "ui/kit/PMControlSupport.h"

#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QApplication>

#include <array>
#include <cmath>

namespace {

// The star: five points, opaque where the star is, drawn as a mask into 13 × 16 points.
QImage starMask()
{
    constexpr qreal ratio = 2;
    QImage mask(int(PMRatingCell::kStarWidth * ratio), int(PMRatingCell::kStarHeight * ratio), QImage::Format_ARGB32_Premultiplied);
    mask.setDevicePixelRatio(ratio);
    mask.fill(Qt::transparent);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(PMRatingCell::kStarWidth / 2, PMRatingCell::kStarHeight / 2 + 0.5);
    const double outer = 6.0, inner = 2.5;
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        const double angle = -M_PI / 2 + i * M_PI / 5;
        const double radius = i % 2 ? inner : outer;
        const QPointF point = centre + QPointF(std::cos(angle) * radius, std::sin(angle) * radius);
        i ? path.lineTo(point) : path.moveTo(point);
    }
    path.closeSubpath();
    painter.fillPath(path, Qt::black);
    return mask;
}

QColor tintColor(int tint)
{
    if (tint == 0)
        return Qt::white;
    if (tint == 1)
        return Qt::gray;
    return QColor::fromRgbF(1.0, 0.75, 0.15, 1.0);
}

} // namespace

// ---- The cell ------------------------------------------------------------------------

QImage PMRatingCell::starImage(int tint)
{
    static const std::array<QImage, 3> images = [] {
        const QImage mask = starMask();
        return std::array<QImage, 3>{PMTintedImage(mask, tintColor(0)), PMTintedImage(mask, tintColor(1)),
                                     PMTintedImage(mask, tintColor(2))};
    }();
    return images[std::clamp(tint, 0, 2)];
}

void PMRatingCell::setDoubleValue(double value)
{
    m_value = std::isfinite(value) ? std::clamp(std::round(value), 0.0, double(kMaximumRating)) : 0.0;
}

double PMRatingCell::valueAtPoint(QPointF point, const QRectF& frame) const
{
    const double x = point.x() - frame.x();
    if (x <= 0)
        return 0;
    return std::clamp(std::ceil(x / kStarWidth), 0.0, double(kMaximumRating));
}

bool PMRatingCell::startTrackingAt(QPointF point, const QRectF& frame)
{
    continueTracking(point, point, frame);
    return true;
}

bool PMRatingCell::continueTracking(QPointF, QPointF point, const QRectF& frame)
{
    setDoubleValue(valueAtPoint(point, frame));
    return true;
}

void PMRatingCell::drawWithFrame(QPainter& painter, const QRectF& frame) const
{
    const QImage star = starImage(m_tint);
    const double y = frame.y() + std::floor((frame.height() - kStarHeight) / 2);
    for (int i = 0; i < kMaximumRating; ++i) {
        const QPointF origin(frame.x() + i * kStarWidth, y);
        if (i < m_value) {
            painter.drawImage(QRectF(origin, QSizeF(kStarWidth, kStarHeight)), star);
        } else if (m_highlighted) {
            // Where the stars would go: a small dot, so that an empty rating can be seen.
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            // In the text's colour, half strength: plain to see on light and dark alike.
            QColor dot = QGuiApplication::palette().color(QPalette::WindowText);
            dot.setAlphaF(0.5);
            painter.setBrush(dot);
            painter.drawEllipse(origin + QPointF(kStarWidth / 2, kStarHeight / 2 + 0.5), 2.0, 2.0);
            painter.restore();
        }
    }
}

// ---- The view ------------------------------------------------------------------------

PMRatingView::PMRatingView(QWidget* parent) : QWidget(parent)
{
    awakeFromNib();
    qApp->installEventFilter(this);
}

PMRatingView::~PMRatingView()
{
    qApp->removeEventFilter(this);
}

void PMRatingView::awakeFromNib()
{
    if (!_ratingCell)
        _ratingCell = std::make_unique<PMRatingCell>();
}

void PMRatingView::setRating(const platform::Value& rating)
{
    _ratingCell->setDoubleValue(rating.isNumber() ? rating.toDouble() : 0.0);
    update();
}

platform::Value PMRatingView::rating() const
{
    return platform::Value(qint64(_ratingCell->doubleValue()));
}

void PMRatingView::changeRating(QObject*)
{
    tickOnStateSwitch();
    update();
}

void PMRatingView::tickOnStateSwitch()
{
    if (auto* box = qobject_cast<PMOnStateViaActionSwitch*>(_onStateSwitch.data()))
        box->setOnStateViaAction(this);
    else if (auto* fitting = dynamic_cast<PMSizeToFitOnStateViaActionSwitch*>(_onStateSwitch.data()))
        fitting->setOnStateViaAction(this);
    else if (_onStateSwitch)
        _onStateSwitch->setChecked(true);
}

bool PMRatingView::performKeyEquivalent(QKeyEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier) || event->key() < Qt::Key_0 || event->key() > Qt::Key_5)
        return false;
    tickOnStateSwitch();
    setRating(platform::Value(qint64(event->key() - Qt::Key_0)));
    Q_EMIT ratingDidEndChange(_ratingCell->doubleValue());
    return true;
}

QSize PMRatingView::sizeHint() const
{
    return PMRatingCell::cellSize().toSize() + QSize(2, 4);
}

void PMRatingView::paintEvent(QPaintEvent*)
{
    if (!_ratingCell)
        return;
    QPainter painter(this);
    _ratingCell->setHighlighted(true);
    _ratingCell->drawWithFrame(painter, rect());
}

void PMRatingView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !_ratingCell) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_tracking = true;
    m_lastPoint = event->position();
    const double before = _ratingCell->doubleValue();
    _ratingCell->startTrackingAt(m_lastPoint, rect());
    changeRating(this);
    if (_ratingCell->doubleValue() != before)
        Q_EMIT ratingDidChange(_ratingCell->doubleValue());
}

void PMRatingView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_tracking)
        return;
    const double before = _ratingCell->doubleValue();
    _ratingCell->continueTracking(m_lastPoint, event->position(), rect());
    m_lastPoint = event->position();
    if (_ratingCell->doubleValue() != before) { // a continuous cell sends its action on every change
        changeRating(this);
        Q_EMIT ratingDidChange(_ratingCell->doubleValue());
    }
}

void PMRatingView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_tracking || event->button() != Qt::LeftButton)
        return;
    m_tracking = false;
    Q_EMIT ratingDidEndChange(_ratingCell->doubleValue());
}

bool PMRatingView::eventFilter(QObject* watched, QEvent* event)
{
    // Key equivalents reach every view of the active window before the menus' shortcuts.
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) || !isVisible())
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window() || !window()->isActiveWindow())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Claim the key, so that no shortcut takes it; it then arrives as a key press.
        if ((key->modifiers() & Qt::ControlModifier) && key->key() >= Qt::Key_0 && key->key() <= Qt::Key_5) {
            event->accept();
            return true;
        }
        return false;
    }
    return performKeyEquivalent(key);
}

// ---- Switches --------------------------------------------------------------------------

void PMOnStateViaActionSwitch::setOnStateViaAction(QObject*)
{
    setChecked(true);
}

void PMSizeToFitOnStateViaActionSwitch::awakeFromNib()
{
    PMCorrectButtonFrameFromInterfaceFile(this, false);
    PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitOnStateViaActionSwitch::setTitle(const QString& title)
{
    setText(title);
    PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitOnStateViaActionSwitch::setOnStateViaAction(QObject*)
{
    setChecked(true);
}
