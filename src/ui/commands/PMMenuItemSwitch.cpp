#include "ui/commands/PMMenuItemSwitch.h"

#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidgetAction>

#include <algorithm>

namespace {

constexpr double kLeftInset = 12;
constexpr double kRightInset = 12;

int& cachedMaximumWidth()
{
    static int width = -1;
    return width;
}

PMMenuItemSwitch* switchAt(QPoint global)
{
    for (QWidget* w = QApplication::widgetAt(global); w; w = w->parentWidget()) {
        if (auto* s = qobject_cast<PMMenuItemSwitch*>(w))
            return s;
        if (auto* container = qobject_cast<PMMenuItemSwitchContainerView*>(w))
            return container->menuItemSwitch();
        if (w->isWindow())
            break;
    }
    return nullptr;
}

// Follows the pointer while a button is held, for every switch of the program: the pointer
// entering and leaving switches, and the release over one.
class DragTracker : public QObject {
public:
    static void ensure()
    {
        static QPointer<DragTracker> tracker;
        if (!tracker) {
            tracker = new DragTracker(qApp);
            qApp->installEventFilter(tracker);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWidgetType())
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            // Where the press starts counts as entered already: that switch flips by its
            // own click.
            m_current = switchAt(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            break;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() == Qt::NoButton)
                break;
            PMMenuItemSwitch* now = switchAt(mouse->globalPosition().toPoint());
            if (now == m_current)
                break;
            if (m_current)
                m_current->mouseExited();
            m_current = now;
            if (now)
                now->mouseEntered(mouse->buttons());
            break;
        }
        case QEvent::MouseButtonRelease: {
            PMMenuItemSwitch* over = m_current;
            m_current = nullptr;
            if (over && over->isHighlightedViaMouseDrag()) {
                over->mouseUp();
                // The press began elsewhere (or left and came back): its own click must
                // not flip it again.
                if (auto* pressed = qobject_cast<QAbstractButton*>(watched))
                    pressed->setDown(false);
                return true;
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    using QObject::QObject;
    QPointer<PMMenuItemSwitch> m_current;
};

} // namespace

PMMenuItemSwitch::PMMenuItemSwitch() : QCheckBox(new PMMenuItemSwitchContainerView)
{
    connect(this, &QAbstractButton::clicked, this, [this] { sendAction(m_action, m_target); });
}

double PMMenuItemSwitch::leftInset()
{
    return kLeftInset;
}

int PMMenuItemSwitch::maximumWidth()
{
    int& width = cachedMaximumWidth();
    if (width < 0) {
        const platform::Value value = prefs::get(prefs::keys::PMMenuItemSwitchMaximumWidth);
        width = value.isNumber() ? std::max(100, int(value.toDouble())) : 500;
    }
    return width;
}

void PMMenuItemSwitch::resetClassSettingsForTesting()
{
    cachedMaximumWidth() = -1;
}

PMMenuItemSwitch* PMMenuItemSwitch::menuItemSwitchWithTitle(const QString& title, const QFont* font, QMenu* addToMenu, QList<QAction*>* addToMenuItems)
{
    auto* s = new PMMenuItemSwitch;
    place(s, title, font, addToMenu, addToMenuItems);
    return s;
}

void PMMenuItemSwitch::place(PMMenuItemSwitch* s, const QString& title, const QFont* font, QMenu* addToMenu, QList<QAction*>* addToMenuItems)
{
    DragTracker::ensure();
    QWidget* container = s->parentWidget();
    const QFont chosen = font ? *font : (addToMenu ? addToMenu->font() : QApplication::font("QMenu"));
    s->setFont(chosen);
    const bool small = chosen.pointSizeF() > 0 && chosen.pointSizeF() < 12.5;
    s->setText(title);
    s->adjustSize();
    // Where the switch sits in its row: the menu's left inset, a point closer for a small
    // switch; a little room above and below.
    const int x = int(kLeftInset - (small ? 3 : 0));
    const int y = small ? 1 : 2;
    const int width = std::min(s->sizeHint().width(), maximumWidth());
    s->setGeometry(x, y, width, s->sizeHint().height());
    s->setMinimumWidth(0);
    if (s->sizeHint().width() > width) {
        // A long title ends in an ellipsis.
        s->setText(s->fontMetrics().elidedText(title, Qt::ElideRight, width - (s->sizeHint().width() - s->fontMetrics().horizontalAdvance(title))));
    }
    container->setFixedSize(width + 2 * x + int(kRightInset - kLeftInset), s->height() + 2 * y);

    auto* item = new QWidgetAction(addToMenu);
    item->setDefaultWidget(container);
    platform::setMenuItemTag(item, -1);
    s->m_item = item;
    if (addToMenu)
        addToMenu->addAction(item);
    if (addToMenuItems)
        addToMenuItems->append(item);
}

bool PMMenuItemSwitch::sendAction(const QString& action, QObject* to)
{
    if (action.isEmpty() || !to)
        return false;
    auto* responder = dynamic_cast<platform::Responder*>(to);
    if (!responder || !responder->respondsToAction(action))
        return false;
    responder->performAction(action, this);
    return true;
}

void PMMenuItemSwitch::setSwitchState(int state)
{
    setCheckState(state < 0 ? Qt::PartiallyChecked : (state > 0 ? Qt::Checked : Qt::Unchecked));
}

int PMMenuItemSwitch::switchState() const
{
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return -1;
    default:
        return 0;
    }
}

void PMMenuItemSwitch::mouseEntered(Qt::MouseButtons buttons)
{
    if (_isHighlightedViaMouseDrag || !(buttons & (Qt::LeftButton | Qt::RightButton)))
        return;
    if (prefs::get(prefs::keys::PMMenuItemSwitchDisableMouseDragSwitching))
        return;
    _isHighlightedViaMouseDrag = true;
    _attributedTitle = text();
    m_paletteBeforeHighlight = palette();
    QPalette highlighted = palette();
    highlighted.setColor(QPalette::WindowText, palette().color(QPalette::Highlight));
    highlighted.setColor(QPalette::ButtonText, palette().color(QPalette::Highlight));
    setPalette(highlighted);
    _preMouseDragState = switchState();
    nextCheckState();
    setDown(true);
}

void PMMenuItemSwitch::mouseExited()
{
    disableMouseDragHighlight();
}

void PMMenuItemSwitch::disableMouseDragHighlight()
{
    if (!_isHighlightedViaMouseDrag)
        return;
    _isHighlightedViaMouseDrag = false;
    setText(_attributedTitle);
    setPalette(m_paletteBeforeHighlight);
    setSwitchState(_preMouseDragState);
    setDown(false);
}

void PMMenuItemSwitch::mouseUp()
{
    if (!_isHighlightedViaMouseDrag)
        return;
    // The flip is kept: the state it shows becomes the one to return to.
    const int flipped = switchState();
    _preMouseDragState = flipped;
    disableMouseDragHighlight();
    sendAction(m_action, m_target);
}

PMMenuItemSwitch* PMMenuItemSwitchContainerView::menuItemSwitch() const
{
    const QObjectList& children = this->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (auto* s = qobject_cast<PMMenuItemSwitch*>(*it))
            return s;
    }
    return nullptr;
}

void indentToAlignWithMenuItemSwitches(QMenu* menu)
{
    if (!menu)
        return;
    QPixmap blank(int(PMMenuItemSwitch::leftInset() - 5), 1);
    blank.fill(Qt::transparent);
    const QIcon icon(blank);
    for (QAction* item : menu->actions()) {
        if (item->isSeparator() || qobject_cast<QWidgetAction*>(item) || !item->icon().isNull())
            continue;
        item->setIcon(icon);
    }
}

void PMMenuBarView::paintEvent(QPaintEvent*)
{
    drawMenuBarViewWithBorder(false);
}

void PMBorderedMenuBarView::paintEvent(QPaintEvent*)
{
    drawMenuBarViewWithBorder(true);
}

void PMMenuBarView::drawMenuBarViewWithBorder(bool border)
{
    // Inside a menu the menu draws its own background.
    if (QString::fromLatin1(window()->metaObject()->className()).contains(QLatin1String("menu"), Qt::CaseInsensitive))
        return;
    QPainter painter(this);
    const QRectF bounds = rect();
    const bool inverted = isInFullyInvertedDarkMode(this);
    QColor line;
    if (inverted) {
        painter.fillRect(bounds, QColor::fromRgbF(0.3f, 0.3f, 0.3f));
        line = QColor(Qt::gray);
    } else {
        QLinearGradient gradient(bounds.topLeft(), bounds.bottomLeft());
        gradient.setColorAt(0, QColor::fromRgbF(0.99f, 0.99f, 0.99f));
        gradient.setColorAt(1, QColor::fromRgbF(0.94f, 0.94f, 0.94f));
        painter.fillRect(bounds, gradient);
        line = QColor::fromRgbF(0.65f, 0.65f, 0.65f);
    }
    if (border) {
        const double thickness = !inverted && isOnRetinaDisplay(window()) ? 0.5 : 1.0;
        painter.fillRect(QRectF(bounds.left(), bounds.bottom() + 1 - thickness, bounds.width(), thickness), line);
    }
}
