#include "ui/kit/PMOptionalMenuButton.h"

#include "ui/kit/PMAppearance.h"

#include <QtCore/QPointer>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionButton>
#include <QtWidgets/QStylePainter>

namespace {

// A pointer that trembles by a point or two while the button is held is still a hold.
constexpr int kDragThreshold = 3;

const QString kPerformClick = QStringLiteral("performClick");

// The shadow of a drawing: its coverage in the colour, softened by three passes of a box
// blur (close to a Gaussian) over about the radius, in device pixels.
QImage shadowOf(const QImage& drawing, const QColor& color, double radius)
{
    QImage shadow = PMTintedImage(drawing, color).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = shadow.width(), h = shadow.height();
    const int r = std::max(1, int(radius * shadow.devicePixelRatio() / 3 + 0.5));
    std::vector<quint32> line(std::max(w, h));
    const auto pass = [&](bool horizontal) {
        const int count = horizontal ? h : w, length = horizontal ? w : h;
        for (int i = 0; i < count; ++i) {
            const auto at = [&](int j) -> quint32& {
                return reinterpret_cast<quint32*>(shadow.scanLine(horizontal ? i : j))[horizontal ? j : i];
            };
            for (int j = 0; j < length; ++j)
                line[j] = at(j);
            for (int j = 0; j < length; ++j) {
                int sum[4] = {0, 0, 0, 0};
                for (int k = j - r; k <= j + r; ++k) {
                    const quint32 p = (k >= 0 && k < length) ? line[k] : 0;
                    for (int c = 0; c < 4; ++c)
                        sum[c] += (p >> (8 * c)) & 0xff;
                }
                quint32 out = 0;
                for (int c = 0; c < 4; ++c)
                    out |= quint32(sum[c] / (2 * r + 1)) << (8 * c);
                at(j) = out;
            }
        }
    };
    for (int n = 0; n < 3; ++n) {
        pass(true);
        pass(false);
    }
    return shadow;
}

} // namespace

PMOptionalMenuButtonDelegate::~PMOptionalMenuButtonDelegate() = default;

std::optional<bool> PMOptionalMenuButtonDelegate::waitForMenuForOptionalMenuButton(PMOptionalMenuButton*)
{
    return std::nullopt;
}

std::optional<bool> PMOptionalMenuButtonDelegate::processDragEvent(QMouseEvent*, QPointF, PMOptionalMenuButton*)
{
    return std::nullopt;
}

PMOptionalMenuButton::PMOptionalMenuButton(QWidget* parent) : PMOptionalMenuButton(QString(), parent) {}

PMOptionalMenuButton::PMOptionalMenuButton(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    // Clicks that the ordinary button handles (and the space bar) send the action too.
    connect(this, &QAbstractButton::clicked, this, [this] { sendAction(); });
}

PMOptionalMenuButton::~PMOptionalMenuButton() = default;

bool PMOptionalMenuButton::sendAction()
{
    return m_targetAction.send(this, this);
}

bool PMOptionalMenuButton::waitsForMenu()
{
    if (!targetAnswersAction())
        return false;
    if (_delegate) {
        if (const std::optional<bool> wait = _delegate->waitForMenuForOptionalMenuButton(this))
            return *wait;
    }
    return true;
}

QPointF PMOptionalMenuButton::menuEventLocation() const
{
    return {-3, height() + 2.0};
}

bool PMOptionalMenuButton::popUpMenuWithEvent(QMouseEvent* event, bool wait, bool drag)
{
    if (!_delegate || !isEnabled() || !isVisible())
        return false;
    m_dragAllowed = drag;
    m_pressWindowLocation = event->scenePosition();
    m_pressLocation = m_lastLocation = event->position();
    setDown(true);
    if (wait) {
        m_state = PressState::Waiting;
        m_holdTimer.start(kMenuHoldDelay, [this] { holdElapsed(); });
        return true;
    }
    return openMenuOrGoOn();
}

namespace {
QPointer<QMenu> g_openButtonMenu;
}

void PMOptionalMenuButton::closeOpenMenu()
{
    if (g_openButtonMenu && g_openButtonMenu->isVisible())
        g_openButtonMenu->close();
}

bool PMOptionalMenuButton::openMenuOrGoOn()
{
    if (QMenu* menu = _delegate ? _delegate->menuForOptionalMenuButton(this) : nullptr) {
        g_openButtonMenu = menu;
        _isMenuVisible = true;
        m_state = PressState::MenuOpen;
        repaint();
        connect(menu, &QMenu::aboutToHide, this, [this] {
            _isMenuVisible = false;
            endPress();
        }, Qt::SingleShotConnection);
        menu->popup(mapToGlobal(menuEventLocation().toPoint()));
        return true;
    }
    return beginDragOrGiveUp();
}

bool PMOptionalMenuButton::beginDragOrGiveUp()
{
    if (m_dragAllowed && _delegate && _delegate->processDragEvent(nullptr, QPointF(), this).value_or(false)) {
        m_state = PressState::AwaitingFirstEvent;
        return true;
    }
    endPress();
    return false;
}

void PMOptionalMenuButton::holdElapsed()
{
    if (m_state != PressState::Waiting)
        return;
    if (!openMenuOrGoOn()) {
        // No menu and no drag: the press goes on as an ordinary button's.
        m_state = PressState::Tracking;
        setDown(hitButton(m_lastLocation.toPoint()));
    }
}

void PMOptionalMenuButton::endPress()
{
    m_holdTimer.stop();
    m_state = PressState::Idle;
    setDown(false);
}

void PMOptionalMenuButton::mousePressEvent(QMouseEvent* event)
{
    const bool left = event->button() == Qt::LeftButton;
    if (left || event->button() == Qt::RightButton) {
        const bool wait = left && waitsForMenu();
        if (popUpMenuWithEvent(event, wait, left)) {
            event->accept();
            return;
        }
    }
    QPushButton::mousePressEvent(event);
}

void PMOptionalMenuButton::mouseMoveEvent(QMouseEvent* event)
{
    m_lastLocation = event->position();
    switch (m_state) {
    case PressState::Idle:
        QPushButton::mouseMoveEvent(event);
        return;
    case PressState::MenuOpen:
        return;
    case PressState::Tracking:
        setDown(hitButton(event->position().toPoint()));
        return;
    case PressState::Waiting:
        if ((event->position() - m_pressLocation).manhattanLength() < kDragThreshold)
            return;
        m_holdTimer.stop();
        if (!beginDragOrGiveUp()) {
            m_state = PressState::Tracking;
            setDown(hitButton(event->position().toPoint()));
            return;
        }
        [[fallthrough]]; // this drag is the first event of the drag
    case PressState::AwaitingFirstEvent:
        m_state = PressState::Dragging;
        [[fallthrough]];
    case PressState::Dragging:
        if (_delegate)
            _delegate->processDragEvent(event, event->scenePosition() - m_pressWindowLocation, this);
        return;
    }
}

void PMOptionalMenuButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_state == PressState::Idle) {
        if (m_state == PressState::Idle)
            QPushButton::mouseReleaseEvent(event);
        return;
    }
    const bool inside = hitButton(event->position().toPoint());
    switch (m_state) {
    case PressState::Waiting:
        m_holdTimer.stop();
        if (beginDragOrGiveUp()) {
            // A plain click on a button whose delegate accepts drags.
            endPress();
            sendAction();
            return;
        }
        if (inside) // the ordinary button, released inside
            sendAction();
        return;
    case PressState::AwaitingFirstEvent:
        endPress();
        sendAction();
        return;
    case PressState::Tracking:
        endPress();
        if (inside)
            sendAction();
        return;
    case PressState::Dragging:
        endPress();
        return;
    case PressState::MenuOpen:
    case PressState::Idle:
        return;
    }
}

// ---- Size-to-fit --------------------------------------------------------------------

void PMSizeToFitOptionalMenuButton::awakeFromNib()
{
    PMCorrectButtonFrameFromInterfaceFile(this, !isFlat());
    PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitOptionalMenuButton::setTitle(const QString& title)
{
    setText(title);
    PMSizeToFitAndShiftChain(this);
}

QPointF PMSizeToFitOptionalMenuButton::menuEventLocation() const
{
    return {-5, height() + 5.0};
}

// ---- Context buttons ----------------------------------------------------------------

PMContextButton::PMContextButton(QWidget* parent) : PMOptionalMenuButton(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

QPointF PMContextButton::menuEventLocation() const
{
    return {-3, height() + 3.0};
}

bool PMContextButton::respondsToAction(const QString& action) const
{
    return action == kPerformClick;
}

void PMContextButton::performAction(const QString& action, QObject* sender)
{
    if (action == kPerformClick)
        performClick(sender);
}

bool PMContextButton::validateMenuItem(QAction* item)
{
    const QString action = platform::menuItemAction(item);
    if (!respondsToAction(action))
        return false;
    if (action == kPerformClick) {
        // A button of a child window whose parent window is hidden cannot be pressed.
        const QWidget* parentWindow = window()->parentWidget() ? window()->parentWidget()->window() : nullptr;
        return isEnabled() && (!parentWindow || parentWindow->isVisible());
    }
    return true;
}

void PMContextButton::performClick(QObject*)
{
    if (!isEnabled() || !targetAnswersAction())
        return;
    setDown(true);
    repaint();
    sendAction();
    m_unhighlightTimer.start(0.2, [this] { setDown(false); });
}

QPalette PMContextButton::emphasizedAppearance() const
{
    return QApplication::style()->standardPalette(); // the light look
}

void PMContextButton::setEmphasized(bool emphasized)
{
    if (_emphasized == emphasized)
        return;
    _emphasized = emphasized;
    setPalette(emphasized ? emphasizedAppearance() : QPalette());
    update();
}

void PMContextButton::paintEvent(QPaintEvent* event)
{
    if (!_emphasized || property("PMPaintingPlain").toBool()) {
        QPushButton::paintEvent(event);
        return;
    }
    // The button's own drawing, into an image that can be shaded or tinted.
    const qreal ratio = devicePixelRatioF();
    QImage plain(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    plain.setDevicePixelRatio(ratio);
    plain.fill(Qt::transparent);
    {
        QPainter imagePainter(&plain);
        QStyleOptionButton option;
        initStyleOption(&option);
        style()->drawControl(QStyle::CE_PushButton, &option, &imagePainter, this);
    }

    QPainter painter(this);
    if (emphasizeViaDropShadow()) {
        // A soft black shadow half a point below, blurred over 3 points.
        painter.drawImage(QPointF(0, 0.5), shadowOf(plain, Qt::black, 3));
        painter.drawImage(QPointF(0, 0), plain);
        return;
    }
    if (isEnabled() && !isDown())
        plain = PMTintedImage(plain, backwardsCompatibleControlAccentColor());
    painter.drawImage(QPointF(0, 0), plain);
}

QPalette PMAspectRatioButton::emphasizedAppearance() const
{
    return PMDarkPalette();
}

// ---- List bars -----------------------------------------------------------------------

PMListBarView::PMListBarView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PMListBarView::drawBackgroundInBounds(QPainter& painter, const QRectF& bounds, const QWidget* forView, bool highlight)
{
    const bool contrast = PMShouldIncreaseContrast();
    const bool inverted = isInFullyInvertedDarkMode(forView);
    const double border = contrast ? (inverted ? 0.95 : 0.05) : (inverted ? 0.25 : 0.7);
    painter.fillRect(bounds, QColor::fromRgbF(border, border, border));
    const double d = (!contrast && !inverted && forView && isOnRetinaDisplay(forView->window())) ? 0.5 : 1.0;
    // The border shows on the left, the right and the top.
    const QRectF inner(bounds.x() + d, bounds.y() + d, bounds.width() - 2 * d, bounds.height() - d);
    double white = inverted ? 0.14 : 1.0;
    // A highlight darkens the inside as plus-darker with 0.87 white does (white + 0.87 - 1).
    if (highlight)
        white = std::max(0.0, white + 0.87 - 1.0);
    painter.fillRect(inner, QColor::fromRgbF(white, white, white));
}

void PMListBarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawBackgroundInBounds(painter, rect(), this, false);
}

PMListBarButton::PMListBarButton(QWidget* parent) : PMOptionalMenuButton(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PMListBarButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    PMListBarView::drawBackgroundInBounds(painter, rect(), this, isEnabled() && isDown());
    QStyleOptionButton option;
    initStyleOption(&option);
    option.features |= QStyleOptionButton::Flat;
    option.state &= ~(QStyle::State_Sunken | QStyle::State_HasFocus);
    option.palette.setColor(QPalette::ButtonText, isInFullyInvertedDarkMode(this) ? Qt::white : Qt::black);
    if (icon().isNull())
        painter.translate(0, 0.5); // titles sit half a point lower on the bar
    painter.drawControl(QStyle::CE_PushButtonLabel, option);
}
