// The one validation of every command of the main menu that reaches the controller: items
// with a submenu by their submenu, then a table of rules from action to predicate. A rule
// answers whether the item is enabled and sets its state, title and visibility on the way.
#include "ui/commands/PMMenuController.h"
#include "ui/commands/PMMenuValidationSupport.h"
#include "foundation/PMSettingsKeys.h"

#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QHash>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidget>

#include <cmath>
#include <initializer_list>
#include <limits>

using platform::Array;
using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::UserDefaults;
using platform::Value;
using namespace pmmenus;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

void setTitle(QAction* item, const char* title)
{
    const QString text = localized(title);
    if (item->text() != text && !platform::menuItemMixedState(item))
        item->setText(text);
}

} // namespace

namespace pmmenus {

// 1 on, 0 off, -1 mixed (a dash in front of the title).
void setItemState(QAction* item, int state)
{
    if (state < 0) {
        item->setCheckable(true);
        platform::setMenuItemMixedState(item, true);
        return;
    }
    platform::setMenuItemMixedState(item, false);
    if (state > 0)
        item->setCheckable(true);
    if (item->isCheckable())
        item->setChecked(state > 0);
}

bool hasOnlineItem(const ArrayPtr& items)
{
    if (!items)
        return false;
    for (const Value& v : *items) {
        if (PMLibraryItem* item = PMMovie(v); item && item->isOnlineItem())
            return true;
        if (PMLibraryItem* item = PMContainer(v); item && item->isOnlineItem())
            return true;
    }
    return false;
}

qsizetype count(const ArrayPtr& items)
{
    return items ? items->count() : 0;
}

bool isVisible(const QWidget* window)
{
    return window && window->isVisible() && !window->isMinimized();
}

Windows windowsOf(PMMainController& c)
{
    Windows w;
    w.main = c.mainWindow();
    w.player = c.playerView ? c.playerView->window() : nullptr;
    w.key = QApplication::activeWindow();
    const auto isDocument = [&](QWidget* window) {
        return window && (window == w.main || window == w.player || window == c._dedicatedPlayerWindow.data());
    };
    if (isDocument(w.key) && isVisible(w.key)) {
        w.appMain = w.key;
    } else {
        for (QWidget* window : c.orderedWindows()) {
            if (isDocument(window) && isVisible(window)) {
                w.appMain = window;
                break;
            }
        }
    }
    return w;
}

} // namespace pmmenus

PMMenuController::PMMenuController(PMMainController& controller, QObject* parent)
    : QObject(parent)
    , c(controller)
{
}

PMMenuController::~PMMenuController() = default;

// ---- Validation -------------------------------------------------------------------------

struct PMMenuController::Validation {
    Validation(PMMainController& controller, QAction* menuItem)
        : c(controller)
        , item(menuItem)
        , d(UserDefaults::standard())
        , w(windowsOf(controller))
        , covers(PMGroupView::coverMode())
        , automaticNames(PMCachedSettings::determineNamesAutomatically)
        , current(PMMovie(controller._currentMovieRepresentation))
        , hasVideo(current && controller._currentMovieHasVideo)
        , content(controller.playerViewContent())
        , hasPlayer(content.moviePlayer != nullptr || controller._playerViewHasMoviePlayer)
        , playerWindowVisible(isVisible(w.player))
        , playerWindowIsMain(w.player && w.player == w.appMain)
        , grid(w.main ? w.main->findChild<PMGroupView*>() : nullptr)
        , gridInMainWindow(grid && w.main == w.appMain)
        , popUp(isPopUpMenuItem(menuItem))
    {
    }

    PMMainController& c;
    QAction* item;
    UserDefaults& d;
    const Windows w;
    const bool covers;
    const bool automaticNames;
    PMMovieRepresentationPrototype* const current;
    const bool hasVideo;
    PMPlayerViewContent& content;
    const bool hasPlayer;
    const bool playerWindowVisible;
    const bool playerWindowIsMain;
    // The grid and the list share the library window's content; the grid stands for both.
    PMGroupView* const grid;
    const bool gridInMainWindow;
    const bool popUp;
    // The item's action, tag and object, read after the item followed its menu.
    QString a;
    qint64 tag = 0;
    Value represented;

    bool currentFrameCondition() const
    {
        if (!hasVideo || !playerWindowVisible)
            return false;
        if (hasPlayer)
            return true;
        return content.movieReplacingImage && current->durationIfCached(true) >= 1;
    }
    ArrayPtr infoItems() const { return c.infoMovieRepresentationsForMenuItem(item); }
    bool smartPlaylistPanelVisible() const { return c._menuValidation.isSmartPlaylistPanelVisible && c._menuValidation.isSmartPlaylistPanelVisible(); }
    bool searchFieldHidden() const { return c._menuValidation.isSearchFieldHidden && c._menuValidation.isSearchFieldHidden(); }
    bool playerCondition() const { return hasVideo && !c._isPresenting && playerWindowIsMain; }
    bool playerOrPopUp() const { return popUp || playerWindowIsMain; }
    const platform::media::Player* player() const { return content.moviePlayer.get(); }
    std::pair<double, double> selection() const
    {
        return c._menuValidation.timeSliderSelection ? c._menuValidation.timeSliderSelection() : std::pair<double, double>(-1, -1);
    }
    bool movieCanBeEdited() const
    {
        const PMPlaybackMoviePtr movie = current ? PMExistingMovieOfRecord(current) : nullptr;
        return movie && movie->canEdit();
    }
};

bool PMMenuController::validateMainMenuItem(QAction* item)
{
    if (!item)
        return false;
    Validation v(c, item);

    // 1. Items with a submenu: by identity first, then by their submenu.
    if (QMenu* submenu = item->menu())
        return validateItemWithSubmenu(v, submenu);

    // 2. The dedicated player window item.
    if (item == c._mainMenu.dedicatedPlayerWindowMenuItem) {
        setItemState(item, v.d.boolForKey(prefs::keys::SingleWindowMode) ? 0 : 1);
        return !c._isPresenting;
    }

    // The first item of the aspect ratio menu keeps its shortcut: it follows the movie and
    // the player's area as they are when the key is pressed.
    if (item->property("PMAspectRatioLockItem").toBool()) {
        if (!v.hasVideo || !v.playerWindowVisible)
            return false;
        if (!followAspectRatioMenu(v))
            return false;
    }

    // 3. By action: its rule, else on when validation knows the action (it can always be
    // given) and off for anything unknown.
    v.a = platform::menuItemAction(item);
    v.tag = platform::menuItemTag(item);
    v.represented = platform::menuItemRepresentedObject(item);
    const QHash<QString, Rule>& table = rules();
    if (const auto rule = table.constFind(v.a); rule != table.cend())
        return (*rule)(v);
    return PMMainController::validationKnowsAction(v.a) && !v.a.isEmpty();
}

bool PMMenuController::validateItemWithSubmenu(Validation& v, QMenu* submenu)
{
    QAction* item = v.item;
    const PMMainController::MainMenuOutlets& m = c._mainMenu;
    if (item == m.chaptersMenuItem)
        return !submenu->actions().isEmpty();
    if (!c.canPopulateMenu(submenu))
        return false;
    if (submenu == m.lastWatchedMenu)
        return count(c.lastWatchedMovieRepresentations()) > 0;
    if (submenu == m.ratingMenu) {
        const ArrayPtr items = v.infoItems();
        return count(items) > 0 && !hasOnlineItem(items);
    }
    if (submenu == m.currentFrameMenu)
        return v.currentFrameCondition();
    if (submenu == m.findMenu) {
        if (v.w.key && v.w.key == v.w.main)
            return !v.searchFieldHidden();
        return !v.w.key || v.w.key != v.w.player;
    }
    if (submenu == m.layoutMenu) {
        const bool buttonEnabled = !c._menuValidation.isPreviewModeButtonEnabled || c._menuValidation.isPreviewModeButtonEnabled();
        if (!v.gridInMainWindow || !buttonEnabled)
            return false;
        return !v.covers || PMGroupView::coverOverlayAlpha() < std::numeric_limits<float>::epsilon();
    }
    if (submenu == m.experimentalViewMenu) {
        const bool show = v.d.boolForKey(prefs::keys::ShowExperimentalViewMenu);
        if (item->isVisible() != show)
            item->setVisible(show);
        return show;
    }
    if (submenu == m.columnMenu)
        return v.gridInMainWindow;
    if (submenu == m.sortMenu) {
        const PMLibraryContainerPtr selected = c.selectedContainer();
        return selected && selected->topLevelRole().isEmpty();
    }
    if (submenu == m.rearrangeMenu) {
        const PMLibraryContainerPtr selected = c.selectedContainer();
        return selected && selected->rearrangeChildrenAsPreflightCheck(true);
    }
    if (submenu == m.presentationModeMenu || submenu == m.aspectRatioMenu)
        return v.hasVideo && v.playerWindowVisible;
    if (submenu == m.playbackControlsModeMenu)
        return v.current && v.playerWindowVisible;
    return true;
}

bool PMMenuController::followAspectRatioMenu(Validation& v)
{
    QMenu now;
    c.populateAspectRatioMenu(&now);
    QAction* first = now.actions().value(0);
    if (!first || platform::menuItemAction(first).isEmpty())
        return false;
    const QString suffix = titleSuffix(first);
    QString title = first->text();
    title.chop(suffix.size());
    setTitle(v.item, std::optional<QString>(title), suffix, -1);
    platform::setMenuItemTag(v.item, platform::menuItemTag(first));
    return true;
}

QStringList PMMenuController::actionsWithRules()
{
    return rules().keys();
}

const QHash<QString, PMMenuController::Rule>& PMMenuController::rules()
{
    static const QHash<QString, Rule> table = [] {
        QHash<QString, Rule> t;
        addLibraryRules(t);
        addWindowRules(t);
        addPlaybackRules(t);
        addCurrentMovieRules(t);
        return t;
    }();
    return table;
}

void PMMenuController::addLibraryRules(QHash<QString, Rule>& t)
{
    const auto add = [&t](std::initializer_list<const char*> actions, Rule rule) {
        for (const char* action : actions)
            t.insert(QString::fromLatin1(action), rule);
    };
    // Library and smart playlists
    add({"addSmartPlaylist"}, [](Validation& v) { return !v.smartPlaylistPanelVisible(); });
    add({"duplicateSmartPlaylist", "editSmartPlaylist"}, [](Validation& v) {
        if (v.smartPlaylistPanelVisible())
            return false;
        if (!v.represented.isNull())
            return true;
        const PMLibraryContainerPtr selected = v.c.selectedContainer();
        return selected && selected->isSmartGroup();
    });
    add({"mergeSequence"}, [](Validation& v) {
        // (Only whether there is something to merge matters here: a sequence is not put
        // in order.)
        bool mergeable = false, movies = false;
        if (v.represented.isNull()) {
            const PMMainController::MergeableSelectionAnswer& answer = v.c.mergeableSelectionAnswer(v.infoItems());
            mergeable = answer.mergeable;
            movies = answer.movies;
        } else if (const ArrayPtr items = v.represented.array(); count(items) > 0) {
            mergeable = true;
            movies = PMMovie(items->at(0)) != nullptr;
        }
        if (!mergeable)
            return false;
        if (!movies)
            setTitle(v.item, "Merge Duplicate References...");
        else if (v.d.boolForKey(prefs::keys::Serialize))
            setTitle(v.item, "Bundle...");
        else
            setTitle(v.item, "Merge Sequence...");
        return true;
    });
    add({"splitSequence"}, [](Validation& v) {
        setTitle(v.item, v.d.boolForKey(prefs::keys::Serialize) ? "Unbundle..." : "Split Sequence...");
        return !v.represented.isNull() || !v.c.splittableMovieRepresentation().isNull();
    });
    add({"chooseMovieRepresentationFromMenuItem"}, [](Validation& v) {
        // The first last-watched item keeps its shortcut for whatever movie is first now.
        QAction* item = v.item;
        Value chosen = v.represented;
        if (item->property(kFirstLastWatchedProperty).toBool()) {
            const ArrayPtr list = v.c.lastWatchedMovieRepresentations();
            if (count(list) == 0)
                return false;
            chosen = list->at(0);
            if (PMMovieRepresentationPrototype* first = PMMovie(chosen); first && chosen.objectPointer() != v.represented.objectPointer()) {
                platform::setMenuItemRepresentedObject(item, chosen);
                item->setText(platform::escapedMenuTitle(first->displayName()));
                item->setIcon(first->icon());
            }
        }
        PMMovieRepresentationPrototype* movie = PMMovie(chosen);
        if (movie && item->text() == QStringLiteral("\u2026")) {
            QString name = movie->displayName();
            if (name.size() > 40)
                name = name.left(39) + QStringLiteral("\u2026");
            item->setText(platform::escapedMenuTitle(name));
        }
        return movie && movie->canPlay();
    });
    add({"help"}, [](Validation& v) { return v.c.helpIsAvailable(); }); // a command that could only fail stays off
    add({"showInFinder"}, [](Validation& v) {
        // A context menu's item names its file (the movie's, its preview's or its cover's)
        // and reveals it whatever the window's selection or focus is.
        // Validation never asks the disk (it runs for every item at every opening and
        // shortcut); a file gone since the menu was made is found out when it is chosen.
        if (v.represented.isString())
            return !v.represented.string().isEmpty();
        const ArrayPtr items = v.infoItems();
        if (count(items) != 1)
            return false;
        PMMovieRepresentationPrototype* movie = PMMovie(items->at(0));
        return movie && !movie->isMissing() && !movie->path().isEmpty();
    });
    add({"exportMetadataCSV"}, [](Validation& v) { return count(v.infoItems()) > 0; });
    add({"copyPlaybackURLViaMenuItem"}, [](Validation& v) { return count(v.infoItems()) == 1; });
    add({"generateIndexImage"}, [](Validation& v) {
        if (!v.represented.isNull())
            return true;
        const ArrayPtr items = v.infoItems();
        PMMovieRepresentationPrototype* movie = count(items) == 1 ? PMMovie(items->at(0)) : nullptr;
        return movie && movie->canShowIndexImage();
    });
    add({"setMissingMoviesModeFromMenuItem"}, [](Validation& v) {
        const qint64 mode = v.d.integerForKey(prefs::keys::MissingMoviesMode);
        setItemState(v.item, mode == -1 ? 1 : (mode == 1 ? 0 : -1));
        return true;
    });

    // The info panel
    add({"showMovieInfo"}, [](Validation& v) {
        QAction* item = v.item;
        const PMMainController::MenuValidationHooks& hooks = v.c._menuValidation;
        const int tab = hooks.infoPanelTabIndex ? hooks.infoPanelTabIndex() : -1;
        if (tab >= 0) {
            if (item == v.c._mainMenu.batchRenameMenuItem)
                return tab != 0 && !v.automaticNames;
            if (item == v.c._mainMenu.infoMenuItem)
                setTitle(item, tab == 0 ? "Show Info" : "Rename...");
            return tab == 0 || !v.automaticNames;
        }
        const ArrayPtr items = v.infoItems();
        const qsizetype n = count(items);
        if (item == v.c._mainMenu.infoMenuItem) {
            setTitle(item, "Show Info");
            return n == 1 && !hasOnlineItem(items);
        }
        if (n == 0 || hasOnlineItem(items))
            return false;
        if (v.automaticNames && v.tag == 11)
            return false;
        if (v.automaticNames && v.tag == 1)
            return n == 1;
        return true;
    });
}

void PMMenuController::addWindowRules(QHash<QString, Rule>& t)
{
    const auto add = [&t](std::initializer_list<const char*> actions, Rule rule) {
        for (const char* action : actions)
            t.insert(QString::fromLatin1(action), rule);
    };
    // Views and windows
    add({"toggleLibrary"}, [](Validation& v) {
        const bool mainIsMain = v.w.main && v.w.main == v.w.appMain;
        setTitle(v.item, mainIsMain && !v.d.boolForKey(prefs::keys::HideLibrary) ? "Hide Sidebar" : "Show Sidebar");
        return mainIsMain;
    });
    add({"performTextFinderAction"}, [](Validation& v) { return v.tag == 1 && !v.searchFieldHidden() && v.gridInMainWindow; });
    add({"filter"}, [](Validation& v) {
        if (v.popUp)
            return true;
        setMacOS26ImageWithSystemSymbolName(v.item, QStringLiteral("line.3.horizontal.decrease"));
        return v.gridInMainWindow;
    });
    add({"toggleHoveringHeaders"}, [](Validation& v) {
        const bool enabled = v.gridInMainWindow;
        setItemState(v.item,
                     enabled && v.d.boolForKey(v.covers ? prefs::keys::HoverCoverHeaders : prefs::keys::HoverPreviewHeaders) ? 1 : 0);
        return enabled;
    });
    add({"toggleAdjustedSizes"}, [](Validation& v) {
        const bool enabled = v.gridInMainWindow;
        setItemState(v.item,
                     enabled && v.d.integerForKey(v.covers ? prefs::keys::AdjustCoverSize : prefs::keys::AdjustPreviewSize) > 0 ? 1 : 0);
        return enabled;
    });
    add({"toggleStayInFront"}, [](Validation& v) {
        const bool enabled = v.playerWindowIsMain && !v.c._isPresenting;
        setItemState(v.item, enabled && v.d.boolForKey(prefs::keys::StayInFront) ? 1 : 0);
        setMacOS26ImageWithSystemSymbolName(v.item, QStringLiteral("balloon"));
        return enabled;
    });
    add({"toggleRemoteControlInterface"}, [](Validation& v) {
        const PMMainController::MenuValidationHooks& hooks = v.c._menuValidation;
        const bool visible = hooks.isRemoteControlInterfaceVisible && hooks.isRemoteControlInterfaceVisible();
        setTitle(v.item, visible ? "Hide Remote Control Interface" : "Show Remote Control Interface");
        return true;
    });
    add({"showMainWindow"}, [](Validation& v) {
        const bool shown = v.w.main && (v.w.main->isVisible() || v.w.main->isMinimized());
        if (v.item->isVisible() == shown)
            v.item->setVisible(!shown);
        return true;
    });
    add({"toggleQuickLook"}, [](Validation& v) {
        const PMMainController::MenuValidationHooks& hooks = v.c._menuValidation;
        if (hooks.isQuickLookPanelVisible && hooks.isQuickLookPanelVisible()) {
            setItemState(v.item, 1);
            return true;
        }
        setItemState(v.item, 0);
        if (!v.represented.isNull())
            return true;
        const ArrayPtr items = v.c.cachedInfoMovieRepresentationsSorted(false);
        if (items) {
            for (const Value& value : *items) {
                if (PMMovieRepresentationPrototype* movie = PMMovie(value); movie && movie->canPlay())
                    return true;
            }
        }
        return false;
    });
    add({"toggleDebugLogging"}, [](Validation& v) {
        QAction* item = v.item;
        setMacOS26ImageWithSystemSymbolName(item, QStringLiteral("scroll"), false, false);
        if (PMLogReaderExists()) {
            setTitle(item, "Log");
            setItemState(item, 0);
            // It opens a window: no check box beside it.
            item->setCheckable(false);
        } else {
            setTitle(item, "Enable Debug Logging");
            setItemState(item, v.d.boolForKey(prefs::keys::PMDebugLog) ? 1 : 0);
        }
        return true;
    });
    add({"increaseScale", "decreaseScale"}, [](Validation& v) {
        const PMMainController::MenuValidationHooks& hooks = v.c._menuValidation;
        if (hooks.helpViewCanChangeTextSize) {
            const int answer = hooks.helpViewCanChangeTextSize(v.a == QLatin1String("increaseScale"));
            if (answer >= 0)
                return answer > 0;
        }
        if (v.gridInMainWindow)
            return true;
        return v.playerCondition();
    });
    add({"setScale", "fitPlayerWindowToScreen"}, [](Validation& v) {
        if (v.item == v.c._mainMenu.currentScaleMenuItem)
            v.c.selectCurrentMagnificationMenuItem();
        return v.playerCondition();
    });
    add({"toggleFullScreen"}, [](Validation& v) {
        // The window that has the keys goes full screen; presenting is the player's own.
        QWidget* window = v.w.key ? v.w.key : v.w.appMain;
        setTitle(v.item, (window && window->isFullScreen()) || v.c._isPresenting ? "Exit Full Screen" : "Enter Full Screen");
        return window != nullptr || v.c._isPresenting;
    });
    // Presenting needs a picture to present, or ends a presentation.
    add({"togglePresentation"}, [](Validation& v) { return v.hasVideo || v.c._isPresenting; });
}

void PMMenuController::addPlaybackRules(QHash<QString, Rule>& t)
{
    const auto add = [&t](std::initializer_list<const char*> actions, Rule rule) {
        for (const char* action : actions)
            t.insert(QString::fromLatin1(action), rule);
    };
    // Playback
    add({"playReverse"}, [](Validation& v) {
        const platform::media::Player* player = v.player();
        if (player && player->rate() < -0.5f) {
            setItemState(v.item, 1);
            return true;
        }
        setItemState(v.item, 0);
        return player && player->canPlayReverse();
    });
    add({"playAtDoubleSpeed"}, [](Validation& v) {
        const platform::media::Player* player = v.player();
        if (player && std::fabs(player->rate()) > 1.5f) {
            setItemState(v.item, 1);
            return true;
        }
        setItemState(v.item, 0);
        if (!player)
            return false;
        return player->rate() < -0.5f ? player->canPlayFastReverse() : player->canPlayFastForward();
    });
    add({"windForward", "windBackward", "goToTime"}, [](Validation& v) { return v.current && v.current->durationIfCached(true) > 0; });
    add({"changePlaybackControlsModeViaMenuItem"}, [](Validation& v) {
        QWidget* playerWindow = v.current ? v.w.player : nullptr;
        const qint64 windowMode = v.d.integerForKey(prefs::keys::WindowPlaybackControls);
        if (v.tag == 10) {
            setTitle(v.item, windowMode != 0 && v.d.boolForKey(prefs::keys::WindowPlaybackControlsShowLocationBar) ? "Hide Location Bar"
                                                                                                                             : "Show Location Bar");
            if (playerWindow && playerWindow == v.w.appMain && playerWindow == v.c._dedicatedPlayerWindow.data())
                return windowMode != 0;
            return false;
        }
        return isVisible(playerWindow);
    });
    add({"undoEditing"}, [](Validation& v) {
        const DictionaryPtr settings = v.current ? v.current->userSettings() : nullptr;
        return settings && count(settings->value(QStringLiteral("Editing Steps")).array()) > 0;
    });
    add({"insertCurrentTimestamp"}, [](Validation& v) { return v.c.insertCurrentTimestampAsTestFlight(true); });
}

void PMMenuController::addCurrentMovieRules(QHash<QString, Rule>& t)
{
    const auto add = [&t](std::initializer_list<const char*> actions, Rule rule) {
        for (const char* action : actions)
            t.insert(QString::fromLatin1(action), rule);
    };
    // The current movie, its frame and the selections
    add({"setCustomPosterImage"}, [](Validation& v) {
        // Selecting an area and saving a file need the player's area selection and the
        // image save panel.
        const PMMainController::ItemCommandHooks& commands = v.c._itemCommands;
        if ((v.tag % 10 == 2 && !commands.selectArea) || (v.tag > 10 && !commands.saveImage))
            return false;
        if (v.tag >= 1)
            return v.currentFrameCondition();
        if (v.current) {
            if (v.tag == 0)
                setTitle(v.item, "Reset Cover and Preview");
            return true;
        }
        const qsizetype n = count(v.infoItems());
        if (v.tag == 0)
            setTitle(v.item, n == 1 ? "Reset Cover and Preview" : "Reset Covers and Previews");
        return n > 0;
    });
    add({"rotate"}, [](Validation& v) {
        const bool counterclockwise = v.d.boolForKey(prefs::keys::RotateCounterclockwise) != (v.tag == 1);
        setTitle(v.item, counterclockwise ? "Rotate Counterclockwise" : "Rotate Clockwise");
        const PMMainController::MenuValidationHooks& hooks = v.c._menuValidation;
        return count(v.infoItems()) > 0 && hooks.canFlipOrRotateMovieRepresentations && hooks.canFlipOrRotateMovieRepresentations(v.infoItems(), nullptr);
    });
    add({"flip"}, [](Validation& v) {
        const ArrayPtr items = v.infoItems();
        qsizetype flipped = 0;
        const PMMainController::MenuValidationHooks& hooks = v.c._menuValidation;
        const bool enabled = count(items) > 0 && hooks.canFlipOrRotateMovieRepresentations && hooks.canFlipOrRotateMovieRepresentations(items, &flipped);
        setItemState(v.item, !enabled || flipped == 0 ? 0 : (flipped == count(items) ? 1 : -1));
        return enabled;
    });
    add({"cropMovie"}, [](Validation& v) {
        const DictionaryPtr settings = v.current ? v.current->userSettings() : nullptr;
        if (v.hasVideo && settings && settings->contains(QStringLiteral("Visible Area")))
            setTitle(v.item, v.d.integerForKey(prefs::keys::SelectAreaMode) < 1 ? "Clear Cropped Visible Area" : "Change Cropped Visible Area...");
        else
            setTitle(v.item, "Crop Visible Area...");
        return v.hasVideo;
    });
    add({"copy"}, [](Validation& v) { return v.hasVideo && (v.hasPlayer || v.content.movieReplacingImage) && v.playerWindowIsMain; });
    add({"copySelection"}, [](Validation& v) {
        if (!v.c._itemCommands.selectArea)
            return false;
        return v.hasVideo && (v.hasPlayer || v.content.movieReplacingImage) && v.playerWindowIsMain;
    });
    add({"setSelectionStart", "setSelectionEnd"},
        [](Validation& v) { return v.hasPlayer && v.movieCanBeEdited() && v.c.timeSlider.duration > 0 && v.playerOrPopUp(); });
    add({"trimToTimeRange", "delete"}, [](Validation& v) {
        const std::pair<double, double> selection = v.selection();
        const double outside = selection.first + v.c.timeSlider.duration - selection.second;
        return v.hasPlayer && v.movieCanBeEdited() && v.playerOrPopUp() && selection.second > 0 && outside >= 0.01;
    });
    add({"clearSelection"}, [](Validation& v) {
        const std::pair<double, double> selection = v.selection();
        if (selection.second > 0 && v.playerOrPopUp()) {
            platform::setMenuItemTag(v.item, 0);
            return true;
        }
        if (!(selection.second > 0) && v.popUp)
            return false;
        const ArrayPtr gridSelection = v.grid ? v.grid->selectedItems() : nullptr;
        const ArrayPtr listSelection = v.c.selectedGroupListItems();
        if (v.gridInMainWindow && (count(gridSelection) > 0 || count(listSelection) > 0)) {
            platform::setMenuItemTag(v.item, 1);
            return true;
        }
        return false;
    });

    // Document commands that other windows (players, image views, the log) answer first.
    add({"export"}, [](Validation& v) {
        if (v.tag == 1)
            setTitle(v.item, "Save as...");
        return false;
    });
    add({"save", "saveAs", "selectAll", "cut", "paste", "saveSelectionAs", "exportSelection"}, [](Validation&) { return false; });

    // The rating of the selection (the submenu was checked already).
    add({"setRating"}, [](Validation& v) {
        const ArrayPtr items = v.infoItems();
        return count(items) > 0 && !hasOnlineItem(items);
    });

    // The transport needs something loaded; the playlist something in it.
    add({"playPause"}, [](Validation& v) { return v.hasPlayer || v.content.movieReplacingImage; });
    add({"forwardPlaylist", "backwardPlaylist"}, [](Validation& v) { return v.current != nullptr; });
    add({"clearPlaylist"}, [](Validation& v) {
        const PMLibraryContainerPtr playlist = v.c.temporaryStorage();
        return playlist && count(playlist->rawChildren()) > 0;
    });
}
