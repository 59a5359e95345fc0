// What the main menu's validation and its builders share: the state marks of an item, the
// questions about the items a command acts on, and which windows count as main.
#pragma once

#include <QtCore/QtGlobal>

#include <memory>

class PMMainController;
class QAction;
class QWidget;

namespace platform {
class Array;
using ArrayPtr = std::shared_ptr<Array>;
} // namespace platform

namespace pmmenus {

// Marks the first item of the last-watched menu, which has a shortcut.
inline constexpr char kFirstLastWatchedProperty[] = "PMFirstLastWatched";

// 1 on, 0 off, -1 mixed (a dash in front of the title).
void setItemState(QAction* item, int state);
bool hasOnlineItem(const platform::ArrayPtr& items);
qsizetype count(const platform::ArrayPtr& items);
bool isVisible(const QWidget* window);

// The player's window and the windows that count as the application's main window (the
// front window holding the library or a player; a panel in front leaves it main).
struct Windows {
    QWidget* main = nullptr;     // the library window
    QWidget* player = nullptr;   // the player view's window
    QWidget* appMain = nullptr;  // the application's main window
    QWidget* key = nullptr;      // the window receiving keys
};

Windows windowsOf(PMMainController& c);

} // namespace pmmenus
