// The menu controller: the main menu's validation as a table of rules from action to
// predicate, the context menus' builders, one per menu, and the keys that drive browsing
// and playing. The main controller owns it and forwards its menu operations here.
#pragma once

#include "platform/Value.h"

#include <QtCore/QHash>
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

    // ---- Context menus ----------------------------------------------------------------------
    // The one builder of the context menus' items for the clicked items; a new menu
    // "Context" without one. Items carry what they act on.
    QMenu* populateContextMenu(QMenu* menu, const platform::ArrayPtr& items, const platform::ArrayPtr& infoPool, const PMGroupViewTile* previewView,
                               bool addAspectRatioMenu, bool addSortAndRearrangeMenus);
    // One builder per menu: the current movie's (nil without one), the grid's tiles and
    // background, the list's rows, and the sidebar's rows (its own options on empty space).
    QMenu* contextMenuForCurrentMovie();
    QMenu* contextMenuForGroupViewItems(const platform::ArrayPtr& items, const PMGroupViewTile* previewView);
    QMenu* contextMenuForGroupListRows(const QList<qsizetype>& rows);
    QMenu* contextMenuForLibraryListRows(const QList<qsizetype>* rows);

    // ---- Keys -------------------------------------------------------------------------------
    // The keys that drive browsing and playing, offered before the focus widget sees them.
    // True when taken.
    bool handleKeyDown(class QKeyEvent* event, bool isRemoteInterfaceEvent);

Q_SIGNALS:
    // The organiser's dry runs answered for the library folder menu (refilled first when
    // it is open).
    void libraryFolderDryRunAnswered();

private:
    // What the sections of a context menu read: the clicked items and the movies they
    // stand for; the delete item's title, set by the section that knows better.
    struct ContextMenuScope {
        platform::ArrayPtr items;
        platform::ArrayPtr infoPool;
        const PMGroupViewTile* previewView = nullptr;
        bool addAspectRatioMenu = false;
        bool addSortAndRearrangeMenus = false;
        qsizetype itemCount = 0;
        platform::Value clicked;
        class PMLibraryContainer* container = nullptr;
        platform::ArrayPtr movies;
        qsizetype movieCount = 0;
        class PMMovieRepresentationPrototype* movie = nullptr; // the one movie
        QString deleteTitle;
    };
    void addPresentationModeItems(QMenu* menu, ContextMenuScope& s);
    void addContainerItems(QMenu* menu, ContextMenuScope& s);
    // True when the items are online: the menu is complete.
    bool addOnlineItems(QMenu* menu, ContextMenuScope& s);
    void addMovieInfoItems(QMenu* menu, ContextMenuScope& s);
    void addSeriesAndFilterItems(QMenu* menu, ContextMenuScope& s);
    void addTurnAndCropItems(QMenu* menu, ContextMenuScope& s);
    void addPreviewCropItems(QMenu* menu, ContextMenuScope& s);
    void addOriginalAddressAndChapterItems(QMenu* menu, ContextMenuScope& s);
    void addOpenWithItems(QMenu* menu, ContextMenuScope& s);
    void addOpenedStateItems(QMenu* menu, ContextMenuScope& s);
    void addQuickLookItem(QMenu* menu, ContextMenuScope& s);
    void addPlayAsMovieItem(QMenu* menu, ContextMenuScope& s);
    void addRevealItems(QMenu* menu, ContextMenuScope& s);
    void addConvertedMovieItems(QMenu* menu, ContextMenuScope& s);
    void addMoveAndDeleteItems(QMenu* menu, ContextMenuScope& s);
    void addSortItems(QMenu* menu, ContextMenuScope& s);

    // What every rule may read: the windows, the current movie and the player, gathered once
    // per validation.
    struct Validation;
    using Rule = bool (*)(Validation& v);
    static const QHash<QString, Rule>& rules();
    // The rules by the part of the program they serve: the library and the info panel, the
    // views and windows, playback, the current movie and the selections.
    static void addLibraryRules(QHash<QString, Rule>& t);
    static void addWindowRules(QHash<QString, Rule>& t);
    static void addPlaybackRules(QHash<QString, Rule>& t);
    static void addCurrentMovieRules(QHash<QString, Rule>& t);
    bool validateItemWithSubmenu(Validation& v, QMenu* submenu);
    // The aspect ratio menu's first item takes the title and tag of the menu's first item
    // now; false when that has no action.
    bool followAspectRatioMenu(Validation& v);

    PMMainController& c;
};
