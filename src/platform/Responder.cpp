#include "platform/Responder.h"

#include "platform/Alert.h"

#include <QtCore/QPointer>
#include <QtGui/QAction>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidget>

namespace platform {

namespace {

Responder* g_applicationResponder = nullptr;

// What the conventions keep per menu item, as a child of the item.
class MenuItemData : public QObject {
public:
    explicit MenuItemData(QAction* item) : QObject(item) { setObjectName(QStringLiteral("PMMenuItemData")); }
    QString action;
    QPointer<QObject> target;
    bool targetsNothing = false;
    std::function<void(QAction*)> handler;
    Value representedObject;
    bool mixed = false;
    QPointer<QAction> primary; // set on an alternate item
    Qt::KeyboardModifiers alternateModifiers;
    bool connected = false;
};

MenuItemData* itemData(const QAction* item)
{
    return item ? item->findChild<MenuItemData*>(QStringLiteral("PMMenuItemData"), Qt::FindDirectChildrenOnly) : nullptr;
}

MenuItemData* ensureItemData(QAction* item)
{
    MenuItemData* data = itemData(item);
    if (!data)
        data = new MenuItemData(item);
    if (!data->connected) {
        data->connected = true;
        QObject::connect(item, &QAction::triggered, item, [item] { performMenuItem(item); });
    }
    return data;
}

Responder* responderOf(QObject* object)
{
    return dynamic_cast<Responder*>(object);
}

// The menus that follow the conventions: validation on opening, shortcuts armed while
// closed, alternates swapped by the held modifiers.
class MenuConventions : public QObject {
public:
    explicit MenuConventions(QMenu* menu) : QObject(menu), m_menu(menu)
    {
        setObjectName(QStringLiteral("PMMenuConventions"));
        connect(menu, &QMenu::aboutToShow, this, [this] {
            validateMenu(m_menu);
            applyAlternates(QGuiApplication::queryKeyboardModifiers());
        });
        connect(menu, &QMenu::aboutToHide, this, [this] { armShortcuts(); });
        menu->installEventFilter(this);
        armShortcuts();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_menu && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
            const auto* key = static_cast<QKeyEvent*>(event);
            Qt::KeyboardModifier changed = Qt::NoModifier;
            switch (key->key()) {
            case Qt::Key_Shift:
                changed = Qt::ShiftModifier;
                break;
            case Qt::Key_Control:
                changed = Qt::ControlModifier;
                break;
            case Qt::Key_Alt:
                changed = Qt::AltModifier;
                break;
            case Qt::Key_Meta:
                changed = Qt::MetaModifier;
                break;
            default:
                break;
            }
            // Whether the event's modifiers already count the key differs between
            // platforms: the key itself says what is held now.
            if (changed != Qt::NoModifier)
                applyAlternates(event->type() == QEvent::KeyPress ? key->modifiers() | changed : key->modifiers() & ~changed);
        }
        return false;
    }

    void applyAlternates(Qt::KeyboardModifiers held)
    {
        for (QAction* item : m_menu->actions()) {
            const MenuItemData* data = itemData(item);
            if (!data || !data->primary)
                continue;
            const bool alternate = data->alternateModifiers != Qt::NoModifier && (held & data->alternateModifiers) == data->alternateModifiers;
            item->setVisible(alternate);
            data->primary->setVisible(!alternate);
        }
    }

    // A closed menu keeps the items with shortcuts enabled, and alternates visible beside
    // their primaries (a hidden action's shortcut is dead): the shortcut then reaches
    // performMenuItem, which validates at that moment instead of trusting a stale state.
    void armShortcuts()
    {
        for (QAction* item : m_menu->actions()) {
            const MenuItemData* data = itemData(item);
            if (!data || item->isSeparator())
                continue;
            if (data->primary) {
                item->setVisible(true);
                data->primary->setVisible(true);
            }
            if (!item->shortcut().isEmpty())
                item->setEnabled(true);
        }
    }

private:
    QMenu* m_menu;
};

} // namespace

Responder::~Responder() = default;

bool Responder::validateMenuItem(QAction*)
{
    return true;
}

void setApplicationResponder(Responder* responder)
{
    g_applicationResponder = responder;
}

Responder* applicationResponder()
{
    return g_applicationResponder;
}

Responder* targetForAction(const QString& action, QWidget* from)
{
    if (action.isEmpty())
        return nullptr;
    QWidget* widget = from ? from : QApplication::focusWidget();
    if (!widget)
        widget = QApplication::activeWindow();
    // The widget, its parents up to its window, then the windows it belongs to.
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (Responder* responder = responderOf(w); responder && responder->respondsToAction(action))
            return responder;
    }
    if (g_applicationResponder && g_applicationResponder->respondsToAction(action))
        return g_applicationResponder;
    return nullptr;
}

bool sendAction(const QString& action, QObject* sender, QObject* target)
{
    Responder* responder = nullptr;
    if (target) {
        responder = responderOf(target);
        if (!responder || !responder->respondsToAction(action))
            return false;
    } else {
        responder = targetForAction(action);
    }
    if (!responder)
        return false;
    responder->performAction(action, sender);
    return true;
}

void setMenuItemAction(QAction* item, const QString& action, QObject* target)
{
    MenuItemData* data = ensureItemData(item);
    data->action = action;
    data->target = target;
    data->targetsNothing = false;
}

QString menuItemAction(const QAction* item)
{
    const MenuItemData* data = itemData(item);
    return data ? data->action : QString();
}

QObject* menuItemTarget(const QAction* item)
{
    const MenuItemData* data = itemData(item);
    return data ? data->target.data() : nullptr;
}

void setMenuItemTargetsNothing(QAction* item)
{
    MenuItemData* data = ensureItemData(item);
    data->targetsNothing = true;
    data->target = nullptr;
}

void setMenuItemHandler(QAction* item, std::function<void(QAction*)> handler)
{
    ensureItemData(item)->handler = std::move(handler);
}

bool hasMenuItemHandler(const QAction* item)
{
    const MenuItemData* data = itemData(item);
    return data && data->handler;
}

void performMenuItemHandler(QAction* item)
{
    const MenuItemData* data = itemData(item);
    if (!data || !data->handler)
        return;
    // A copy: the handler may change or delete the menu it belongs to.
    const std::function<void(QAction*)> handler = data->handler;
    handler(item);
}

void setMenuItemTag(QAction* item, qint64 tag)
{
    item->setData(QVariant(tag));
}

qint64 menuItemTag(const QAction* item)
{
    return item ? item->data().toLongLong() : 0;
}

void setMenuItemRepresentedObject(QAction* item, const Value& object)
{
    MenuItemData* data = itemData(item);
    if (!data)
        data = new MenuItemData(item);
    data->representedObject = object;
}

Value menuItemRepresentedObject(const QAction* item)
{
    const MenuItemData* data = itemData(item);
    return data ? data->representedObject : Value();
}

void setMenuItemMixedState(QAction* item, bool mixed)
{
    MenuItemData* data = itemData(item);
    if (!data)
        data = new MenuItemData(item);
    if (data->mixed == mixed)
        return;
    data->mixed = mixed;
    // Qt has no mixed state for menu items: a dash in front of the title shows it.
    static const QString dash = QStringLiteral("\u2013 ");
    QString title = item->text();
    if (mixed) {
        item->setChecked(false);
        item->setText(dash + title);
    } else if (title.startsWith(dash)) {
        item->setText(title.mid(dash.size()));
    }
}

bool menuItemMixedState(const QAction* item)
{
    const MenuItemData* data = itemData(item);
    return data && data->mixed;
}

bool validateMenuItemNow(QAction* item)
{
    if (!item || item->isSeparator())
        return false;
    if (item->menu())
        return true;
    const MenuItemData* data = itemData(item);
    if (!data || data->targetsNothing)
        return false;
    if (data->handler)
        return true;
    if (data->action.isEmpty())
        return false;
    Responder* responder = nullptr;
    if (data->target) {
        responder = responderOf(data->target);
        if (!responder || !responder->respondsToAction(data->action))
            return false;
    } else {
        responder = targetForAction(data->action);
    }
    return responder && responder->validateMenuItem(item);
}

void validateMenu(QMenu* menu)
{
    if (!menu)
        return;
    for (QAction* item : menu->actions()) {
        if (item->isSeparator() || item->menu())
            continue;
        item->setEnabled(validateMenuItemNow(item));
    }
}

void performMenuItem(QAction* item)
{
    const MenuItemData* data = itemData(item);
    if (!data)
        return;
    if (!validateMenuItemNow(item)) {
        beep();
        return;
    }
    if (data->handler) {
        performMenuItemHandler(item);
        return;
    }
    sendAction(data->action, item, data->target);
}

void installMenuConventions(QMenu* menu)
{
    if (!menu || menu->findChild<QObject*>(QStringLiteral("PMMenuConventions"), Qt::FindDirectChildrenOnly))
        return;
    new MenuConventions(menu);
}

void setAlternateMenuItem(QAction* alternate, QAction* primary, Qt::KeyboardModifiers modifiers)
{
    MenuItemData* data = itemData(alternate);
    if (!data)
        data = new MenuItemData(alternate);
    data->primary = primary;
    data->alternateModifiers = modifiers;
    alternate->setVisible(false);
}

QString escapedMenuTitle(const QString& title)
{
    QString escaped = title;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    return escaped;
}

} // namespace platform
