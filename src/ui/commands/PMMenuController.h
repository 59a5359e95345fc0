// The menu controller: the main menu's validation as a table of rules from action to
// predicate, the context menus' builders, one per menu, and the keys that drive browsing
// and playing. The main controller owns it and forwards its menu operations here.
#pragma once

#include "platform/Value.h"

#include <QtCore/QObject>
#include <QtCore/QString>

class PMMainController;
class PMGroupViewTile;
class QAction;
class QMenu;

class PMMenuController : public QObject {
    Q_OBJECT
public:
    explicit PMMenuController(PMMainController& controller, QObject* parent = nullptr);
    ~PMMenuController() override;

    // ---- Validation of the main menu's items --------------------------------------------
    // Enabled, and the item's state, title and visibility set on the way.
    bool validateMainMenuItem(QAction* item);
    // The actions the table has a rule for (each other known action is always enabled).
    static QStringList actionsWithRules();

private:
    // What every rule may read: the windows, the current movie and the player, gathered once
    // per validation.
    struct Validation;
    using Rule = bool (*)(Validation& v);
    static const QHash<QString, Rule>& rules();
    bool validateItemWithSubmenu(Validation& v, QMenu* submenu);
    // The aspect ratio menu's first item takes the title and tag of the menu's first item
    // now; false when that has no action.
    bool followAspectRatioMenu(Validation& v);

    PMMainController& c;
};
