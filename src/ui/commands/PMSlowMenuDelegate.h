// Menus of a container or of a folder on disk that fill themselves when they open: a
// library of thousands of items is never built as a whole, only the submenu the user
// opens, and its list is kept only while that submenu stays open.
#pragma once

#include "platform/Value.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>

#include <functional>

class QAction;
class QMenu;
class QWidget;

class PMSlowMenuDelegate : public QObject {
    Q_OBJECT
public:
    // A delegate for a container (a library item) or a folder path (a string).
    static PMSlowMenuDelegate* slowMenuDelegateForContainerOrPath(const platform::Value& containerOrPath, QObject* parent = nullptr);

    platform::Value representedContainerOrPath() const { return _representedContainerOrPath; }
    void setRepresentedContainerOrPath(const platform::Value& value) { _representedContainerOrPath = value; }
    bool representsContainer() const { return _representsContainer; }
    void setRepresentsContainer(bool flag) { _representsContainer = flag; }

    // The entries shown: library items, null values for separators, or for a folder file
    // records {"Name", "Path", "Folder"}. Computed on first request, kept until the menu closes.
    platform::ArrayPtr sourceItems();
    // How many items the menu gets (at least 1: an empty list shows "Empty"); 0 for a
    // container menu that is not really on screen.
    qsizetype numberOfItemsInMenu(QMenu* menu);
    // Makes the item at the index what the entry there asks for; answers whether to go on.
    bool updateItem(QMenu* menu, QAction* item, qsizetype index);
    // A slow menu is never searched for shortcuts.
    bool menuHasKeyEquivalent() const { return false; }
    void menuDidClose(QMenu* menu);
    // Opens a file item's record with the desktop's default application, never running a
    // program, a script or a desktop entry.
    void openFileFromRepresentedObject(QAction* item);

    // Builds the menu's items for this opening (called as it is about to show).
    void fillMenu(QMenu* menu);

    // The item list of a folder: tagged files, folders, other files, separated.
    static platform::ArrayPtr folderSourceItems(const QString& path);

    // Whether a file may be handed to the default application: a plain file that is not
    // executable, nor a desktop entry, nor a script, nor a link to one of those.
    static bool isSafeToOpen(const QString& path);

private:
    platform::Value _representedContainerOrPath;
    bool _representsContainer = false;
    platform::ArrayPtr _sourceItems;
    bool _opening = false;
};

// A menu with the title; with a container or a path, a slow menu delegate (owned by the
// menu) fills it each time it opens.
QMenu* slowMenuWithTitle(const QString& title, const platform::Value& containerOrPath, QWidget* parent = nullptr);
// Long menus scroll in one column instead of spreading over the screen.
void makeMenuScroll(QMenu* menu);
// The delegate of a slow menu (nullptr for other menus).
PMSlowMenuDelegate* slowMenuDelegate(const QMenu* menu);
// The sorted children as shown in a menu: a separator between leading containers and the
// first movie, emancipated containers inlined up to "Submenu Threshold". The input is not
// changed.
platform::ArrayPtr slowMenuSourceItems(const platform::ArrayPtr& children);
// A long list in a menu (a container's items, the matches of "Similar") shows this many
// items at first; a "(N more)" item below them reveals the next as many in place.
inline constexpr qsizetype kPMMenuListLimit = 300;
// Makes the items of the entries [from, to) of a list, placed before `before` (appended at
// the end when null).
using PMMenuListFiller = std::function<void(qsizetype from, qsizetype to, QAction* before)>;
// Fills the menu with the first kPMMenuListLimit of `count` entries through `fill`, followed
// by a "(N more)" item when there are more. Choosing that item keeps the menu open, adds the
// next entries above it, and keeps the grown menu within the screen (it scrolls).
void addMenuListWithLimit(QMenu* menu, qsizetype count, const PMMenuListFiller& fill);
// The "(N more)" item of such a list (nullptr for any other item).
bool isMenuListRevealItem(const QAction* item);

// The bundle identifier of the menu-browsing companion program.
inline constexpr char kPMCompanionBundleIdentifier[] = "com.tolvane.Sorbelle";
