// The main menu bar: one table of every menu, item, tag, shortcut and action, built into a
// QMenuBar. Every item sends its action along the responder chain (the focus widget, its
// parents, its window, then the controller) and is validated when its menu opens and again
// before its shortcut acts, so a command that is not available now (or not built yet)
// shows disabled and never runs from the keyboard. Submenus whose content follows the
// state are refilled by the controller each time they open.
#pragma once

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtGui/QKeySequence>

class PMMainController;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace PMMainMenu {

// One row of the table. A row with a menu path but neither title nor action is a
// separator; a row whose `submenu` is set opens a submenu of that name, which the rows
// that follow with the longer path fill.
struct Entry {
    const char* menu;      // the path of the menu the row belongs to: "File", "View/Layout"
    const char* title;     // empty: a separator
    const char* action;    // the action sent ("openFile"), empty for submenus and handlers
    long long tag = 0;     // qualifies the command: 1 the variant, -1 a reset, ...
    const char* shortcut = nullptr; // portable text ("Ctrl+O"), nullptr for none
    const char* outlet = nullptr;   // the controller outlet the item or submenu is
    unsigned flags = 0;
};

enum Flags : unsigned {
    Checkable = 1u << 0,
    Submenu = 1u << 1,
    // An alternate of the row before it, shown instead of it while Alt is held.
    AlternateAlt = 1u << 2,
    // Chosen: quits, closes or minimises the active window (handled by the menu itself).
    QuitHandler = 1u << 3,
    CloseWindowHandler = 1u << 4,
    MinimizeHandler = 1u << 5,
};

// The whole table, in menu order.
const QList<Entry>& entries();

// The menu bar for the main window, its items wired to the controller's outlets. Also
// makes sure the controller answers the actions of the commands already built.
QMenuBar* createMenuBar(PMMainController& controller, QWidget* parent);

// Gives another window (the player's own) a menu bar with the same menus as `bar`: one
// set of menus and items, validated and answered alike, shown on both windows, so that
// using a menu never brings the library window over the movie. It follows the menus
// added to `bar` later.
QMenuBar* mirrorMenuBar(QMenuBar* bar, QWidget* window);

// The item of the menu bar made from the row with that title in that menu (tests).
QAction* itemWithTitle(QMenuBar* bar, const QString& menuPath, const QString& title);

} // namespace PMMainMenu
