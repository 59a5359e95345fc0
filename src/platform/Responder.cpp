#include "platform/Responder.h"

#include "platform/Alert.h"

#include <QtCore/QPointer>
#include <QtCore/QMimeData>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QTextDocument>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QTextEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QWidget>
#include <QtWidgets/QWidgetAction>

#include <type_traits>

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

// The toolkit's own text fields with the focus answer the editing commands of the menus
// while they have something to act on (a selection to copy, text to select, ...); else
// the command goes on along the chain. (Their keys work without the menus: the fields
// take those shortcuts first.)
class TextFieldResponder : public Responder {
public:
    QPointer<QWidget> field;

    bool respondsToAction(const QString& action) const override
    {
        if (!field)
            return false;
        if (!qobject_cast<QLineEdit*>(field) && !qobject_cast<QTextEdit*>(field) && !qobject_cast<QPlainTextEdit*>(field))
            return false;
        return canPerform(action);
    }

    void performAction(const QString& action, QObject*) override
    {
        const auto run = [&](auto* text) {
            if (action == QLatin1String("copy"))
                text->copy();
            else if (action == QLatin1String("cut"))
                text->cut();
            else if (action == QLatin1String("paste"))
                text->paste();
            else if (action == QLatin1String("selectAll"))
                text->selectAll();
            else if (action == QLatin1String("delete")) {
                if constexpr (std::is_same_v<decltype(text), QLineEdit*>)
                    text->del();
                else
                    text->textCursor().removeSelectedText();
            }
        };
        if (auto* line = qobject_cast<QLineEdit*>(field))
            run(line);
        else if (auto* text = qobject_cast<QTextEdit*>(field))
            run(text);
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(field))
            run(plain);
    }

    bool validateMenuItem(QAction* item) override { return canPerform(menuItemAction(item)); }

private:
    bool canPerform(const QString& action) const
    {
        bool readOnly = true;
        bool selection = false;
        bool empty = true;
        if (auto* line = qobject_cast<QLineEdit*>(field)) {
            readOnly = line->isReadOnly();
            selection = line->hasSelectedText();
            empty = line->text().isEmpty();
        } else if (auto* text = qobject_cast<QTextEdit*>(field)) {
            readOnly = text->isReadOnly();
            selection = text->textCursor().hasSelection();
            empty = text->document()->isEmpty();
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(field)) {
            readOnly = plain->isReadOnly();
            selection = plain->textCursor().hasSelection();
            empty = plain->document()->isEmpty();
        }
        if (action == QLatin1String("copy"))
            return selection;
        if (action == QLatin1String("cut") || action == QLatin1String("delete"))
            return selection && !readOnly;
        if (action == QLatin1String("paste"))
            return !readOnly && QGuiApplication::clipboard()->mimeData() && QGuiApplication::clipboard()->mimeData()->hasText();
        if (action == QLatin1String("selectAll"))
            return !empty;
        return false;
    }
};

Responder* textFieldResponder(QWidget* widget, const QString& action)
{
    static TextFieldResponder responder;
    responder.field = widget;
    return responder.respondsToAction(action) ? &responder : nullptr;
}

// The menus that follow the conventions: validation on opening, shortcuts armed while
// closed.
class MenuConventions : public QObject {
public:
    explicit MenuConventions(QMenu* menu) : QObject(menu), m_menu(menu)
    {
        setObjectName(QStringLiteral("PMMenuConventions"));
        connect(menu, &QMenu::aboutToShow, this, [this] { validateMenu(m_menu); });
        connect(menu, &QMenu::aboutToHide, this, [this] { armShortcuts(); });
        armShortcuts();
    }

    // A closed menu keeps the items with shortcuts enabled (a disabled action's shortcut
    // is dead): the shortcut then reaches performMenuItem, which validates at that moment
    // instead of trusting a stale state.
    void armShortcuts()
    {
        for (QAction* item : m_menu->actions()) {
            const MenuItemData* data = itemData(item);
            if (!data || item->isSeparator())
                continue;
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

// The widget that had the focus before a menu bar took it. Alt alone (or the menu bar's
// keyboard navigation) moves the focus into the bar, and no command belongs to a menu
// bar: its commands still belong to where the user was working.
QPointer<QWidget>& focusBeforeMenus()
{
    static QPointer<QWidget> widget;
    return widget;
}

bool isMenuWidget(const QWidget* widget)
{
    return qobject_cast<const QMenuBar*>(widget) || qobject_cast<const QMenu*>(widget);
}

bool isInsideMenus(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (isMenuWidget(w))
            return true;
    return false;
}

void followFocusOutsideMenus()
{
    static bool following = false;
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (following || !application)
        return;
    following = true;
    if (QWidget* now = QApplication::focusWidget(); now && !isInsideMenus(now))
        focusBeforeMenus() = now;
    QObject::connect(application, &QApplication::focusChanged, application, [](QWidget*, QWidget* now) {
        if (now && !isInsideMenus(now))
            focusBeforeMenus() = now;
    });
}

Responder* targetForAction(const QString& action, QWidget* from)
{
    if (action.isEmpty())
        return nullptr;
    QWidget* widget = from ? from : QApplication::focusWidget();
    if (!from && isMenuWidget(widget)) {
        QWidget* before = focusBeforeMenus();
        widget = before && before->window() == widget->window() ? before : widget->window();
    }
    if (!widget)
        widget = QApplication::activeWindow();
    // The widget, its parents up to its window, then the windows it belongs to.
    if (Responder* field = textFieldResponder(widget, action))
        return field;
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
        // A control placed in the menu (a switch) acts by itself: without an action of its
        // own it is no command to validate, and disabling it would leave it dead.
        if (auto* placed = qobject_cast<QWidgetAction*>(item); placed && placed->defaultWidget()) {
            const MenuItemData* data = itemData(item);
            if (!data || (data->action.isEmpty() && !data->handler))
                continue;
        }
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
    followFocusOutsideMenus();
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
    // Shown as an item of its own, right below its primary: a held Alt closes an open
    // menu here, and window managers take Alt with a click for moving windows.
    alternate->setVisible(true);
}

QAction* alternateMenuItemPrimary(const QAction* alternate)
{
    const MenuItemData* data = itemData(alternate);
    return data ? data->primary.data() : nullptr;
}

QString escapedMenuTitle(const QString& title)
{
    QString escaped = title;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    return escaped;
}

} // namespace platform
