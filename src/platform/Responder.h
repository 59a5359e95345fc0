// The responder chain and the menu conventions. An action ("play", "delete", "copy") sent
// to the first responder goes from the focus widget up through its parents and window to
// the application's responder (the controller); the first responder that handles it gets
// it. Every menu item is validated by one entry, `validateMenuItem`, when its menu opens
// and again before its shortcut acts, so a command that is not available never runs from
// the keyboard either: the shortcut beeps instead. Main thread only.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtGui/QKeySequence>

#include <functional>

class QAction;
class QMenu;
class QObject;
class QWidget;

namespace platform {

class Responder {
public:
    virtual ~Responder();
    // Whether this responder handles the action.
    virtual bool respondsToAction(const QString& action) const = 0;
    // Runs the action; the sender is the menu item (a QAction), a control, or nothing.
    virtual void performAction(const QString& action, QObject* sender) = 0;
    // Decides whether the item is enabled, and may set its checked state and its title.
    virtual bool validateMenuItem(QAction* item);
};

// The last responder after the windows (the controller); nothing removes it.
void setApplicationResponder(Responder* responder);

// The first responder of the chain from `from` (else the focus widget, else the active
// window) that handles the action; nothing when none does. A text field of the toolkit at
// the start of the chain answers copy, cut, paste, selectAll and delete while it has
// something to act on.
Responder* targetForAction(const QString& action, QWidget* from = nullptr);
// Sends the action to the explicit target when given (it must handle it), else along
// the chain. Answers whether a responder took it.
bool sendAction(const QString& action, QObject* sender, QObject* target = nullptr);

// ---- Menu items --------------------------------------------------------------------

// The action a menu item sends when chosen, and its explicit target (nothing: the chain).
void setMenuItemAction(QAction* item, const QString& action, QObject* target = nullptr);
QString menuItemAction(const QAction* item);
QObject* menuItemTarget(const QAction* item);
// A target that never handles anything, so the item never enables.
void setMenuItemTargetsNothing(QAction* item);
// A block run when the item is chosen; the item is then its own target and always enabled.
void setMenuItemHandler(QAction* item, std::function<void(QAction*)> handler);
bool hasMenuItemHandler(const QAction* item);
// Calls the item's handler, when it has one.
void performMenuItemHandler(QAction* item);
// The item's tag (kept in QAction::data) and the object it stands for.
void setMenuItemTag(QAction* item, qint64 tag);
qint64 menuItemTag(const QAction* item);
void setMenuItemRepresentedObject(QAction* item, const Value& object);
Value menuItemRepresentedObject(const QAction* item);
// Mixed state of a checkable item (neither on nor off), shown as a dash.
void setMenuItemMixedState(QAction* item, bool mixed);
bool menuItemMixedState(const QAction* item);

// Whether the item is available now: a handler item always is; an item without action
// or with the nothing-target never is; otherwise its target (explicit, or found along
// the chain) must handle the action and its validateMenuItem answer YES.
bool validateMenuItemNow(QAction* item);
// Validates every item of the menu (not separators and submenu items) and sets their
// enabled state.
void validateMenu(QMenu* menu);
// Runs the item as a choice from its menu or its shortcut: validated again first, and a
// refused item beeps and does nothing.
void performMenuItem(QAction* item);

// Makes the menu follow the conventions: it validates its items when it opens, its items
// run through performMenuItem, and their shortcuts stay armed while it is closed (so they
// reach validation). Items added later are handled as well. Idempotent.
void installMenuConventions(QMenu* menu);
// Marks an alternate of `primary`: a command that the modifiers would have swapped in
// for it. Alternates stand as items of their own, right below their primaries, always
// shown (a held Alt closes an open menu and window managers take Alt with a click); the
// modifiers are kept as what the alternate stood for.
void setAlternateMenuItem(QAction* alternate, QAction* primary, Qt::KeyboardModifiers modifiers);
// The primary of an alternate item; null for any other item.
QAction* alternateMenuItemPrimary(const QAction* alternate);

// The title of a menu item made from user data: an ampersand stays an ampersand rather
// than marking a mnemonic.
QString escapedMenuTitle(const QString& title);

} // namespace platform
