// The helpers with which every menu of the program is built: items that run a handler,
// items without action, section headers, separators and thin pseudo separators,
// trimming, titles with a dimmer suffix, context menus at a place in a view. Titles are
// plain text: an ampersand is shown, never taken as a mnemonic marker.
#pragma once

#include "ui/kit/PMAppearance.h"

#include <QtCore/QList>
#include <QtCore/QPoint>
#include <QtCore/QString>
#include <QtGui/QFont>

#include <functional>
#include <optional>

class QAction;
class QMenu;
class QWidget;
class QAbstractButton;

using PMMenuItemHandler = std::function<void(QAction*)>;

// The cached fonts of headers (11.5 points, medium) and of small titles (11.5 points).
const QFont& PMMenuHeaderFont();
const QFont& PMMenuSmallTitleFont();
// "Draw Menu Headers At Normal Size": headers are plain items.
bool PMDrawsMenuHeadersAtNormalSize();

// ---- NSMenu(PMExtensions) ----
void addItems(QMenu* menu, const QList<QAction*>& items);
QAction* addItemWithTitle(QMenu* menu, const QString& title, PMMenuItemHandler associateHandler);
// An item without shortcut sending the action (empty: none) along the responder chain;
// with a font, the title is drawn in it.
QAction* addItemWithTitle(QMenu* menu, const QString& title, const std::optional<QFont>& attributes, const QString& action);
QAction* addNonActionItemWithTitle(QMenu* menu, const QString& title);
QAction* addNonActionItemWithSmallTitle(QMenu* menu, const QString& title);
QAction* addHeaderWithTitle(QMenu* menu, const QString& title);
QAction* addSeparator(QMenu* menu);
// Only when the menu has items and its last item is not a separator; else nothing.
QAction* addSeparatorIfNecessary(QMenu* menu);
// An empty, never enabled item of the given height (4 points by default).
QAction* addPseudoSeparatorWithHeight(QMenu* menu, double height);
QAction* addPseudoSeparator(QMenu* menu);
// Removes the item below the top `top` items while more than top + bottom items remain.
void removeItemsSparingAtTop(QMenu* menu, int top, int andBottom);
void removeTrailingSeparators(QMenu* menu);
// Shows the menu as a context menu at a point of the view, in the font of the control
// size, and returns once it closed (the chosen item has then run).
void popUpWithEvent(QMenu* menu, QWidget* forView, const QPoint& atLocation, PMControlSize withSystemFontForControlSize);
void popUpWithEvent(QMenu* menu, QWidget* forView, const QPoint& atLocation);
// YES when following the parent menus never reaches a window's menu bar.
bool isPopUpMenu(const QMenu* menu);

// ---- NSMenuItem(PMExtensions) ----
void performAssociatedMenuItemHandler(QAction* item);
// A new item (its parent is `parent`) with the plain title, no shortcut; with a handler,
// the item runs it and is always enabled.
QAction* menuItemWithTitle(const QString& title, PMMenuItemHandler associateHandler, QObject* parent = nullptr);
QAction* headerMenuItemWithTitle(const QString& title, QObject* parent = nullptr);
// The title followed by a dimmer suffix in the menu font of the size (negative: the
// default menu size); without suffix, a given title is set plainly. Nothing given: the
// item's current title.
void setTitle(QAction* item, const std::optional<QString>& title, const QString& withSuffix, double ofSize);
void setTitleSuffix(QAction* item, const QString& suffix, double ofSize);
// The suffix shown after the title (empty when none) and its colour for the state.
QString titleSuffix(const QAction* item);
QColor PMMenuTitleSuffixColor(bool highlighted, bool dark);
void setHeaderTitle(QAction* item, const QString& title);
// The item clicks the control when chosen.
void setTargetControl(QAction* item, QAbstractButton* control);
bool isPopUpMenuItem(const QAction* item);
