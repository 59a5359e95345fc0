#include "ui/library_window/PMZiruderShiftButton.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMMainController.h"
#include "platform/UserDefaults.h"

#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>

#include <cmath>


PMZiruderShiftButton::PMZiruderShiftButton(QWidget* parent) : QAbstractButton(parent)
{
    setCursor(Qt::SplitHCursor);
    setFocusPolicy(Qt::NoFocus);
}

void PMZiruderShiftButton::setContainerView(QWidget* view)
{
    if (_containerView)
        _containerView->removeEventFilter(this);
    _containerView = view;
    // A resize of the container (the window's) applies the limits again.
    if (view)
        view->installEventFilter(this);
}

QString PMZiruderShiftButton::leftColumnAutoSaveName() const
{
    if (!_delegate)
        return {};
    return QStringLiteral("PMZiruderShiftButton Left Width %1").arg(_delegate->ziruderShiftButtonAutoSaveName(const_cast<PMZiruderShiftButton*>(this)));
}

double PMZiruderShiftButton::leftMinimumWidth() const
{
    return _delegate ? _delegate->ziruderShiftButtonLeftMinimumWidth(const_cast<PMZiruderShiftButton*>(this)) : 200;
}

double PMZiruderShiftButton::rightMinimumWidth() const
{
    return _delegate ? _delegate->ziruderShiftButtonRightMinimumWidth(const_cast<PMZiruderShiftButton*>(this)) : 200;
}

bool PMZiruderShiftButton::tileWithDelta(double delta, const QRect& originalLeftFrame)
{
    // A hidden sidebar has no boundary to move.
    if (!_leftView || !_rightView || !_containerView || _leftView->isHidden())
        return false;
    const double lmin = leftMinimumWidth();
    const double rmin = rightMinimumWidth();
    const double c = _containerView->width();
    double left = std::max(std::round(originalLeftFrame.width() + delta), lmin);
    double right = c - left;
    if (right < rmin) {
        if (c - rmin < lmin) {
            left = lmin;
            right = c - lmin;
        } else {
            left = c - rmin;
            right = rmin;
        }
    }
    const int l = int(left);
    const QRect leftFrame(_leftView->x(), _leftView->y(), l, _containerView->height());
    const QRect rightFrame(l, _rightView->y(), std::max(0, int(c) - l), _containerView->height());
    // The frames also follow the container (its height may have changed, the content may
    // have filled it while the sidebar was hidden); nothing else changes nothing.
    if (std::abs(left - originalLeftFrame.width()) <= 1.1920928955078125e-07 && _leftView->geometry() == leftFrame
        && _rightView->geometry() == rightFrame)
        return false;
    _leftView->setGeometry(leftFrame);
    _rightView->setGeometry(rightFrame);
    setGeometry(additionalZiruderRectInWindowCoordinates(false));
    raise();
    _containerView->update();
    return true;
}

bool PMZiruderShiftButton::tileWithDelta(double delta)
{
    return _leftView ? tileWithDelta(delta, _leftView->geometry()) : false;
}

void PMZiruderShiftButton::tileUsingLeftColumnAutoSaveName()
{
    const QString name = leftColumnAutoSaveName();
    if (name.isEmpty() || !_leftView) {
        tileWithDelta(0);
        return;
    }
    const platform::Value stored = platform::UserDefaults::standard().objectForKey(name);
    double width = 185;
    if (stored.hasNumericValue() && std::isfinite(stored.toDouble()) && stored.toDouble() > 0)
        width = stored.toDouble();
    tileWithDelta(width - _leftView->width(), _leftView->geometry());
}

bool PMZiruderShiftButton::canShift() const
{
    return _leftView && !_leftView->isHidden() && _leftView->width() > 0;
}

QRect PMZiruderShiftButton::additionalZiruderRectInWindowCoordinates(bool inWindow) const
{
    if (!_leftView || !_containerView)
        return {};
    QRect strip(_leftView->geometry().right() + 1 - 3, 0, 7, _containerView->height());
    if (inWindow)
        strip.moveTopLeft(_containerView->mapTo(_containerView->window(), strip.topLeft()));
    return strip;
}

bool PMZiruderShiftButton::handleMouseDown(QMouseEvent* event)
{
    if (!canShift() || !_containerView)
        return false;
    const QPoint inWindow = _containerView->window()->mapFromGlobal(event->globalPosition().toPoint());
    if (!additionalZiruderRectInWindowCoordinates(true).contains(inWindow))
        return false;
    return true;
}

void PMZiruderShiftButton::beginDrag(double windowX, int clickCount)
{
    if (clickCount >= 2 && _visibilityTogglerControl) {
        _visibilityTogglerControl->click();
        return;
    }
    update();
    m_originalLeftFrame = _leftView ? _leftView->geometry() : QRect();
    m_startX = windowX;
    ++PMLiveResizeCount;
    m_threshold = leftMinimumWidth() / 2;
    m_sidebarVisible = true;
    m_dragging = true;
}

void PMZiruderShiftButton::continueDrag(double windowX, bool mouseUp)
{
    if (!m_dragging)
        return;
    const bool wanted = windowX >= m_threshold;
    if (wanted != m_sidebarVisible && _visibilityTogglerControl)
        _visibilityTogglerControl->click();
    if (wanted) {
        tileWithDelta(windowX - m_startX, m_originalLeftFrame);
        if (!mouseUp) {
            if (_delegate)
                _delegate->ziruderShiftButtonDidShift(this, false);
            m_sidebarVisible = true;
        }
    } else if (!mouseUp) {
        m_sidebarVisible = false;
    }
    if (mouseUp)
        endDrag();
}

void PMZiruderShiftButton::endDrag()
{
    m_dragging = false;
    PMLiveResizeCount = std::max(0LL, PMLiveResizeCount - 1);
    if (_delegate)
        _delegate->ziruderShiftButtonDidShift(this, true);
    const QString name = leftColumnAutoSaveName();
    if (!name.isEmpty() && _leftView)
        tryToSetObject(platform::UserDefaults::standard(), platform::Value(double(_leftView->width())), name);
}

void PMZiruderShiftButton::paintEvent(QPaintEvent*)
{
    // Nothing: the handle is invisible over the seam.
}

void PMZiruderShiftButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const double x = window()->mapFromGlobal(event->globalPosition()).x();
    beginDrag(x, event->type() == QEvent::MouseButtonDblClick ? 2 : 1);
    event->accept();
}

void PMZiruderShiftButton::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        continueDrag(window()->mapFromGlobal(event->globalPosition()).x(), false);
    event->accept();
}

void PMZiruderShiftButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton)
        continueDrag(window()->mapFromGlobal(event->globalPosition()).x(), true);
    event->accept();
}

bool PMZiruderShiftButton::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == _containerView && event->type() == QEvent::Resize && !m_dragging)
        tileWithDelta(0);
    return QAbstractButton::eventFilter(watched, event);
}
