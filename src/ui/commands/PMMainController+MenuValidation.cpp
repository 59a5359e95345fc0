// The controller's share of the main menu: the one validation of every command that
// reaches the controller (enabled, state, title, visibility), the submenus refilled as
// they open, and the actions of the main menu that the controller answers.
#include "library/model/PMMainController.h"
#include <QtGui/QGuiApplication>

#include "foundation/PMLog.h"
#include "library/maintenance/PMMergeableMovies.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "ui/images/PMIndexImageView.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include <QtWidgets/QCheckBox>
#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"
#include "playback/PMPlayback.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/commands/PMMenuController.h"
#include "ui/commands/PMMenuValidationSupport.h"
#include "ui/commands/PMMenuItemSwitch.h"
#include "ui/commands/PMTagValueSwitch.h"
#include "ui/library_window/PMAutoCompleteTableView.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMRange.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QSet>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidget>
#include <QtWidgets/QWidgetAction>

#include <cmath>
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

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

QAction* senderItem(QObject* sender)
{
    return qobject_cast<QAction*>(sender);
}

qint64 senderTag(QObject* sender)
{
    return platform::menuItemTag(senderItem(sender));
}

Value senderObject(QObject* sender)
{
    return platform::menuItemRepresentedObject(senderItem(sender));
}

} // namespace

// ---- Outlets and the movies a command acts on ------------------------------------------

ArrayPtr PMMainController::infoMovieRepresentationsForMenuItem(const QAction* item)
{
    const Value object = platform::menuItemRepresentedObject(item);
    if (const DictionaryPtr record = object.dictionary(); record && record->contains(QStringLiteral("Movies")))
        return record->value(QStringLiteral("Movies")).array();
    if (const ArrayPtr items = object.array())
        return uniqueMovieRepresentationsFromItems(items, {}, false, false, true);
    if (PMMovie(object)) {
        auto one = Array::make();
        one->append(object);
        return one;
    }
    if (PMContainer(object)) {
        auto one = Array::make();
        one->append(object);
        return uniqueMovieRepresentationsFromItems(one, {}, false, false, true);
    }
    return cachedInfoMovieRepresentationsSorted(false);
}

const PMMainController::MergeableSelectionAnswer& PMMainController::mergeableSelectionAnswer(const ArrayPtr& items)
{
    MergeableSelectionAnswer& answer = _mergeableSelectionAnswer;
    const qsizetype n = count(items);
    bool same = answer.valid && answer.updates == _libraryFolderGeneration && answer.edits == _libraryEditGeneration
                && qsizetype(answer.items.size()) == n;
    for (qsizetype i = 0; same && i < n; ++i)
        same = answer.items[size_t(i)].objectPointer() == items->at(i).objectPointer();
    if (same)
        return answer;
    answer.items.clear();
    if (items)
        answer.items.assign(items->begin(), items->end());
    answer.updates = _libraryFolderGeneration;
    answer.edits = _libraryEditGeneration;
    answer.valid = true;
    // (Only whether there is something to merge matters here: a sequence is not put in
    // order.)
    const ArrayPtr mergeable = PMMergeableMovieRepresentations(items, false);
    answer.mergeable = count(mergeable) > 0;
    answer.movies = answer.mergeable && PMMovie(mergeable->at(0)) != nullptr;
    return answer;
}

bool PMMainController::canPopulateMenu(const QMenu* menu) const
{
    if (!menu)
        return false;
    // Menus that are refilled here, or whose items come with the table.
    return menu == _mainMenu.lastWatchedMenu || menu == _mainMenu.ratingMenu || menu == _mainMenu.layoutMenu
           || menu == _mainMenu.experimentalViewMenu || menu == _mainMenu.presentationModeMenu || menu == _mainMenu.playbackControlsModeMenu
           || menu == _mainMenu.currentFrameMenu || menu == _mainMenu.findMenu || menu == _mainMenu.libraryFolderMenu
           || menu == _mainMenu.sortMenu || menu == _mainMenu.rearrangeMenu || menu == _mainMenu.aspectRatioMenu
           || menu == _mainMenu.columnMenu || menu == _mainMenu.openWithMenu
           || !menu->actions().isEmpty();
}

// ---- Validation -------------------------------------------------------------------------

PMMenuController& PMMainController::menuController()
{
    if (!_menuController)
        _menuController = new PMMenuController(*this, this);
    return *_menuController;
}

bool PMMainController::validateMainMenuItem(QAction* item)
{
    return menuController().validateMainMenuItem(item);
}

bool PMMainController::validationKnowsAction(const QString& action)
{
    static const QSet<QString> known = [] {
        QSet<QString> set;
        for (const char* name : {
                 // decided above, by their own rules
                 "addSmartPlaylist", "duplicateSmartPlaylist", "editSmartPlaylist", "mergeSequence", "splitSequence",
                 "chooseMovieRepresentationFromMenuItem", "showInFinder", "exportMetadataCSV", "copyPlaybackURLViaMenuItem", "generateIndexImage",
                 "setMissingMoviesModeFromMenuItem", "showMovieInfo", "toggleLibrary", "performTextFinderAction", "filter", "toggleHoveringHeaders",
                 "toggleAdjustedSizes", "toggleStayInFront", "toggleRemoteControlInterface", "showMainWindow", "toggleQuickLook",
                 "toggleDebugLogging", "increaseScale", "decreaseScale", "setScale", "fitPlayerWindowToScreen", "toggleFullScreen",
                 "togglePresentation", "playReverse", "playAtDoubleSpeed", "windForward", "windBackward", "goToTime",
                 "changePlaybackControlsModeViaMenuItem", "undoEditing", "setCustomPosterImage", "rotate", "flip", "cropMovie", "copy",
                 "copySelection", "setSelectionStart", "setSelectionEnd", "trimToTimeRange", "delete", "clearSelection", "export", "save",
                 "saveAs", "selectAll", "cut", "paste", "saveSelectionAs", "exportSelection", "setRating", "playPause", "forwardPlaylist",
                 "backwardPlaylist", "clearPlaylist", "insertCurrentTimestamp",
                 // always available: they open a panel or window, or change a setting
                 "openFile", "openURL", "addContainer", "help", "showPreferences", "showInbox", "showBlacklist", "increaseVolume",
                 "decreaseVolume", "mute", "setPresentationModeFromMenuItem", "toggleBooleanPreferenceViaMenuItem", "checkForUpdates",
                 "orderFrontStandardAboutPanel", "clearLastWatchedMovieRepresentations", "showGroupItemFromMenuItem",
                 "showLibraryItemFromMenuItem", "chooseGroupFromMenuItem", "setSortCriterionForSelectedContainerFromMenuItem",
                 "toggleAutomaticDuplicateSorting", "rearrangeSelectedContainerFromMenuItem", "changeAspectRatio", "changeLibraryLocation",
                 "addSupplementaryLibraryLocation", "locateSupplementaryLibraryLocation", "deleteSupplementaryLibraryLocation",
                 "includeNonLibraryFilesFromMenuItem", "organizeLibraryFiles", "moveAllToLibraryFolder", "copyAllToLibraryFolder",
                 "moveToLibraryFolder", "showContentInFinder", "deleteItemsFromMenuItem", "toggleGroupListColumn", "copyToPasteboard",
                 "setWatchedFromMenuItem",
                 // Open With: the item carries its movies and application, so it can always act
                 "openWithApplicationFromMenuItem", "alwaysOpenWithApplicationFromMenuItem", "filterOpenWithApplicationFromMenuItemSwitch",
                 "didTogglePropertyValue", "addInfoTagValueViaMenuItem", "toggleInfoTagValue"})
            set.insert(QString::fromLatin1(name));
        return set;
    }();
    return known.contains(action);
}

// ---- Submenus refilled as they open -------------------------------------------------------

namespace {

// The layout values of the grid and their titles.
struct LayoutItem {
    const char* title;
    unsigned value;
};

QString preferenceTitle(QString key)
{
    for (const char* word : {" To ", " On ", " In ", " At ", " As ", " And "}) {
        const QString w = QString::fromLatin1(word);
        key.replace(w, w.toLower());
    }
    return key;
}

} // namespace

void PMMainController::menuNeedsUpdate(QMenu* menu)
{
    if (!menu)
        return;
    UserDefaults& d = defaults();

    if (menu == _mainMenu.lastWatchedMenu) {
        menu->clear();
        const ArrayPtr movies = lastWatchedMovieRepresentations();
        bool first = true;
        for (const Value& v : movies ? *movies : Array()) {
            PMMovieRepresentationPrototype* movie = PMMovie(v);
            if (!movie)
                continue;
            const QString name = movie->displayName();
            QAction* item = menu->addAction(movie->icon(), platform::escapedMenuTitle(name));
            // A movie that cannot play has no action; the first item keeps its action for
            // its shortcut, which validation points at the first movie of the moment.
            if (movie->canPlay() || first) {
                platform::setMenuItemAction(item, QStringLiteral("chooseMovieRepresentationFromMenuItem"));
                platform::setMenuItemRepresentedObject(item, v);
                platform::setMenuItemTag(item, 1);
            } else {
                platform::setMenuItemTargetsNothing(item);
            }
            QAction* reveal = menu->addAction(movie->icon(), platform::escapedMenuTitle(localized("Reveal \"%1\"").arg(name)));
            platform::setMenuItemAction(reveal, QStringLiteral("showGroupItemFromMenuItem"));
            platform::setMenuItemRepresentedObject(reveal, v);
            platform::setAlternateMenuItem(reveal, item, first ? Qt::ControlModifier | Qt::AltModifier : Qt::AltModifier);
            if (first) {
                item->setProperty(kFirstLastWatchedProperty, true);
                item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal));
                reveal->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Equal));
                item->setShortcutContext(Qt::ApplicationShortcut);
                reveal->setShortcutContext(Qt::ApplicationShortcut);
            }
            first = false;
        }
        if (!menu->actions().isEmpty()) {
            menu->addSeparator();
            QAction* clear = menu->addAction(localized("Clear"));
            platform::setMenuItemAction(clear, QStringLiteral("clearLastWatchedMovieRepresentations"));
        }
        return;
    }

    if (menu == _mainMenu.openWithMenu) {
        menu->clear();
        // The same builder as the context menus', for the selection.
        const ArrayPtr movies = cachedInfoMovieRepresentationsSorted(false);
        QString common;
        const DictionaryPtr applications = count(movies) > 0 ? applicationsForMovieRepresentations(movies, false, &common) : nullptr;
        if (!applications || applications->isEmpty()) {
            menu->addAction(localized("No Applications"))->setEnabled(false);
            return;
        }
        bool everyMoviePresent = true;
        for (const Value& v : *movies)
            if (PMMovieRepresentationPrototype* m = PMMovie(v); m && m->isMissing())
                everyMoviePresent = false;
        populateOpenWithMenu(menu, movies, applications, common, everyMoviePresent);
        return;
    }
    if (menu == _mainMenu.libraryFolderMenu) {
        populateLibraryFolderMenu(menu);
        return;
    }
    if (menu == _mainMenu.columnMenu) {
        populateColumnMenu(menu);
        return;
    }
    if (menu == _mainMenu.aspectRatioMenu) {
        menu->clear();
        populateAspectRatioMenu(menu);
        return;
    }
    if (menu == _mainMenu.sortMenu || menu == _mainMenu.rearrangeMenu) {
        menu->clear();
        if (menu == _mainMenu.sortMenu)
            populateSortMenu(menu, false, Value());
        else
            populateRearrangeMenu(menu, Value());
        return;
    }

    if (menu == _mainMenu.presentationModeMenu || menu == _mainMenu.playbackControlsModeMenu) {
        const QString key = menu == _mainMenu.presentationModeMenu
                                ? QStringLiteral("Presentation Mode")
                                : (_isPresenting ? QStringLiteral("Presentation Playback Controls") : QStringLiteral("Window Playback Controls"));
        const qint64 value = d.integerForKey(key);
        for (QAction* item : menu->actions()) {
            if (item->isSeparator() || !item->isCheckable())
                continue;
            setItemState(item, platform::menuItemTag(item) == value ? 1 : 0);
        }
        return;
    }

    if (menu == _mainMenu.ratingMenu) {
        std::vector<double> ratings;
        const ArrayPtr items = cachedInfoMovieRepresentationsSorted(false);
        const long long common = items ? commonRatingAmongRatings(*items, &ratings) : -1;
        for (QAction* item : menu->actions()) {
            if (item->isSeparator())
                continue;
            const qint64 tag = platform::menuItemTag(item);
            const bool among = std::find(ratings.begin(), ratings.end(), double(tag)) != ratings.end();
            setItemState(item, tag == common ? 1 : (among ? -1 : 0));
        }
        return;
    }

    if (menu == _mainMenu.layoutMenu) {
        menu->clear();
        const bool covers = PMGroupView::coverMode();
        const unsigned current = PMGroupView::currentLayout();
        const bool medianShown = current & 4;
        const QString key = covers ? QStringLiteral("Cover Layout") : QStringLiteral("Preview Layout");
        const auto add = [&](const QString& title, unsigned value) {
            QAction* item = addItemWithTitle(menu, title, [this, key, value](QAction*) {
                defaults().setInteger(value, key);
                updateUserInterface();
            });
            item->setCheckable(true);
            item->setChecked(value == current);
            return item;
        };
        addHeaderWithTitle(menu, localized("Fixed Grid"));
        add(localized("Crop Previews to Default Aspect Ratio"), 0);
        QAction* average = add(localized("Crop Previews to Average Aspect Ratio"), 2);
        QAction* median = add(localized("Crop Previews to Median Aspect Ratio"), 6);
        if (!medianShown)
            platform::setAlternateMenuItem(median, average, Qt::AltModifier);
        // Its median alternate stands beside it: the title says which of the two it is.
        QAction* fit = add(localized("Scale Previews to Fit Average Aspect Ratio"), 3);
        QAction* fitMedian = add(localized("Scale Previews to Fit Median Aspect Ratio"), 7);
        if (!medianShown)
            platform::setAlternateMenuItem(fitMedian, fit, Qt::AltModifier);
        menu->addSeparator();
        addHeaderWithTitle(menu, localized("Dynamic"));
        add(localized("Variable Height"), 24);
        add(localized("Waterfall"), 8);
        add(localized("Mosaic"), 56);
        return;
    }

    if (menu == _mainMenu.experimentalViewMenu) {
        menu->clear();
        if (_groupItemsParent && !_groupItemsParent->uniqueLibraryID().isEmpty()) {
            const QString identifier = _groupItemsParent->uniqueLibraryID();
            const bool isInbox = d.stringForKey(prefs::keys::Inbox) == identifier;
            QAction* item = addItemWithTitle(menu, localized("Use \"%1\" as Inbox").arg(_groupItemsParent->displayName()), [this, identifier, isInbox](QAction*) {
                defaults().setObject(Value(isInbox ? QString() : identifier), prefs::keys::Inbox);
                updateUserInterface();
            });
            item->setCheckable(true);
            item->setChecked(isInbox);
        }
        if (_groupItemsParent) {
            const PMLibraryContainerPtr owner = _groupItemsParent->nonVolatileAncestorOrSelfWithAncestors(nullptr);
            const DictionaryPtr subgroupSettings = owner ? owner->value(QStringLiteral("Subgroup Settings")).dictionary() : nullptr;
            if (subgroupSettings && !subgroupSettings->isEmpty()) {
                addItemWithTitle(menu, localized("Reset \"%1\" Subdivisions").arg(owner->displayName()), [this, owner](QAction*) {
                    owner->remove(QStringLiteral("Subgroup Settings"));
                    owner->invalidateChildrenRecursively(true);
                    updateUserInterface();
                });
            }
        }
        if (!menu->actions().isEmpty())
            menu->addSeparator();
        static const char* const keys[] = {
            "Enable Smart Playlist Emancipation", "Enable Fan-Out Fine Tuning", "Automatically Hide And Show Sidebar", "",
            "Import Metadata: Name", "Import Metadata: Internal", "Import Metadata: External", "",
            "Batch Rename: Suppress Single-Item Sequences", "Batch Rename: Resume Prefix Group Sequences", "",
            "Automatically Toggle Manual Sorting", "Enable Image Hash Delta Sorting", "Highlight Sorting Issues", "",
            "Arrange Subgroups In Columns", "Arrange Thumbnails In Columns", "",
            "Mosaic: Balance Row Height", "-Mosaic: Expand Last Row", "Average/Median Aspect Ratio: Fall Back To 1:1",
            "Height Fit: Single Row Only", "-Variable Height: Center Vertically", "Scale Previews To Fit Individually",
            "-Position Labels Below Thumbnails", "",
            "-Simplify Toolbar Buttons", "Draw Color Thumbnail Placeholders", "Draw Badges As Pills", "Draw Menu Headers At Normal Size",
            "Draw Scope Bar Icons", "Other Contexts: Always Include Reference", "",
            "Rotate By Dragging", "",
            "Open Images In Presentation Mode"};
        const auto addPreference = [&](QMenu* into, const QString& title, const QString& key, bool absenceMatters) {
            QAction* item = into->addAction(platform::escapedMenuTitle(title));
            platform::setMenuItemAction(item, QStringLiteral("toggleBooleanPreferenceViaMenuItem"));
            platform::setMenuItemRepresentedObject(item, Value(key));
            item->setCheckable(true);
            const bool on = d.boolForKey(key);
            if (absenceMatters) {
                platform::setMenuItemTag(item, -1);
                if (!on && !d.hasPersistentValueForKey(key)) {
                    setItemState(item, -1);
                    return;
                }
            }
            setItemState(item, on ? 1 : 0);
        };
        for (const char* key : keys) {
            QString text = QString::fromUtf8(key);
            if (text.isEmpty()) {
                menu->addSeparator();
                continue;
            }
            const bool absenceMatters = text.startsWith(u'-');
            if (absenceMatters)
                text.remove(0, 1);
            addPreference(menu, preferenceTitle(localized(text.toUtf8().constData())), text, absenceMatters);
        }
        QAction* monitor = menu->addAction(QStringLiteral("Continue: Monitor External Viewer"));
        auto* viewer = new QMenu(localized("External Viewer"), menu);
        monitor->setMenu(viewer);
        addPreference(viewer, localized("Continue on Reopen"), QStringLiteral("Continue: Monitor External Viewer: Continue On Reopen"), false);
        addPreference(viewer, localized("Continue on VLC Mismatch"),
                      QStringLiteral("Continue: Monitor External Viewer: Continue On Mismatch: org.videolan.vlc"), false);
        if (!d.objectForKey(prefs::keys::ContinueMonitorExternalViewerDetectPreviewPattern).isNull()) {
            viewer->addSeparator();
            addPreference(viewer, localized("Detect Preview"), QStringLiteral("Continue: Monitor External Viewer: Detect Preview"), false);
        }
        return;
    }

    populateInfoTagValueMenu(menu);
}

bool PMMainController::populateInfoTagValueMenu(QMenu* menu)
{
    // The value pop-up of an info row: its title, "New..." and the row's "Clear", which
    // stands for the row.
    if (!infoWindow || !infoWindow->isVisible() || !menu || menu->actions().size() != 3)
        return false;
    QAction* kept = menu->actions().at(2);
    const platform::DictionaryPtr record = platform::menuItemRepresentedObject(kept).dictionary();
    if (!record || !_infoTags)
        return false;
    bool isInfoRow = false;
    for (const Value& v : *_infoTags)
        isInfoRow = isInfoRow || v.dictionary() == record;
    const QString tagName = record->value(QStringLiteral("Tag")).string();
    if (!isInfoRow || tagName.isEmpty())
        return false;
    menu->removeAction(kept);

    // Values of the other rows (and of the files themselves) to add to this one.
    _infoNewTagEntry = record;
    QAction* import = menu->addAction(localized("Import"));
    platform::setMenuItemTargetsNothing(import);
    import->setMenu(populateMetaReferenceMenu(new QMenu(localized("Import"), menu), infoWindow, QStringLiteral("addInfoTagValueViaMenuItem"), this,
                                              Value(record)));
    menu->addSeparator();

    // A switch per value: on for every edited movie, off for none, mixed as they are.
    const std::uint64_t threshold = defaults().boolForKey(prefs::keys::ToggleTagValuesViaContextMenu) ? 0 : PMNotFound;
    QHash<QString, ArrayPtr> carriers;
    QStringList values = valuesForTag(tagName.toLower(), QString(), _infoMovieRepresentations, threshold, &carriers);
    if (values.isEmpty())
        values << checkMarkString();
    const qsizetype n = count(_infoMovieRepresentations);
    const auto containsIgnoringCase = [&](const QString& key, const QString& value) {
        const ArrayPtr list = record->value(key).array();
        if (!list)
            return false;
        for (const Value& v : *list)
            if (v.isString() && v.string().compare(value, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    for (const QString& value : std::as_const(values)) {
        if (value.isEmpty()) {
            menu->addSeparator();
            continue;
        }
        PMTagValueSwitch* valueSwitch = PMTagValueSwitch::make(stringByMakingMetaReferencesReadableWithMetaPrefix(value, false), nullptr, menu, nullptr);
        valueSwitch->tagName = tagName;
        valueSwitch->tagValue = value;
        valueSwitch->setTarget(this);
        valueSwitch->setAction(QStringLiteral("toggleInfoTagValue"));
        const qsizetype m = count(carriers.value(value));
        valueSwitch->setAllowsMixedState(m > 0 && m < n);
        int state;
        if (containsIgnoringCase(QStringLiteral("Checked Separate Values"), value))
            state = 1;
        else if (containsIgnoringCase(QStringLiteral("Unchecked Separate Values"), value))
            state = 0;
        else
            state = m > 0 && m < n ? -1 : (m > 0 ? 1 : 0);
        valueSwitch->setSwitchState(state);
    }
    menu->addSeparator();
    menu->addAction(kept);
    indentToAlignWithMenuItemSwitches(menu);
    return true;
}

void PMMainController::toggleInfoTagValueFromSwitch(QObject* sender)
{
    auto* valueSwitch = qobject_cast<PMTagValueSwitch*>(sender);
    if (!valueSwitch)
        return;
    toggleInfoTagValue(valueSwitch->tagName, valueSwitch->tagValue, valueSwitch->switchState());
    updateInfoTagButtonsAvailability();
    _infoDecodedMetaReferenceCache.clear();
    for (PMAutoCompleteTableView* table : {infoTagTagList.data(), infoTagPropertyList.data()})
        if (table)
            table->viewport()->update();
}

// ---- Actions ----------------------------------------------------------------------------

void PMMainController::toggleDebugLogging(QObject* sender)
{
    if (PMLogReaderDisplay(sender))
        return;
    UserDefaults& d = defaults();
    d.setBool(!d.boolForKey(prefs::keys::PMDebugLog), prefs::keys::PMDebugLog);
}

void PMMainController::toggleHoveringHeaders()
{
    const QString key = PMGroupView::coverMode() ? QStringLiteral("Hover Cover Headers") : QStringLiteral("Hover Preview Headers");
    defaults().setBool(!defaults().boolForKey(key), key);
    updateUserInterface();
}

void PMMainController::toggleAdjustedSizes()
{
    const QString key = PMGroupView::coverMode() ? QStringLiteral("Adjust Cover Size") : QStringLiteral("Adjust Preview Size");
    defaults().setInteger(defaults().integerForKey(key) < 1 ? 1 : 0, key);
    updateUserInterface();
}

void PMMainController::toggleBooleanPreferenceViaMenuItem(QAction* item)
{
    if (!item)
        return;
    if (item == _mainMenu.dedicatedPlayerWindowMenuItem) {
        if (!_isPresenting)
            setUseDedicatedPlayer(defaults().boolForKey(prefs::keys::SingleWindowMode));
        return;
    }
    const QString key = platform::menuItemRepresentedObject(item).string();
    if (key.isEmpty())
        return;
    UserDefaults& d = defaults();
    const bool on = d.boolForKey(key);
    // A default whose absence means something goes on, off, then back to absent.
    if (platform::menuItemTag(item) == -1 && !on && d.hasPersistentValueForKey(key))
        d.removeObjectForKey(key);
    else
        d.setBool(!on, key);
    if (key == QLatin1String("Enable Smart Playlist Emancipation") || key == QLatin1String("Enable Fan-Out Fine Tuning")) {
        updateLibrary();
    } else if (key.startsWith(QLatin1String("Import Metadata:"))) {
        if (!updateImportTagNames(true).isEmpty()) {
            // The names and tags made from metadata change with what is imported; a source
            // just switched on is read again when the file's own metadata is imported.
            const bool reread = d.boolForKey(key) && d.boolForKey(prefs::keys::ImportMetadataInternal);
            for (const PMMovieRepresentationOriginalPtr& movie : std::as_const(_nonProxyRawMovieRepresentationsByPath)) {
                if (!movie)
                    continue;
                movie->invalidateDisplayNameRecursively();
                movie->invalidateCachedTags();
                if (reread)
                    movie->updateCachedFileMetadataTags();
            }
        }
        updateLibraryAndInvalidateDependencies(true, false, true);
    } else if (key == QLatin1String("Draw Badges As Pills")) {
        for (QWidget* widget : QApplication::allWidgets())
            if (widget->inherits("PMMovieTimeSlider"))
                widget->update();
        if (indexImageWell)
            indexImageWell->update();
    } else {
        updateUserInterface();
    }
}

void PMMainController::setUseDedicatedPlayer(bool useDedicatedPlayer)
{
    // The movie comes into the library window: a library window filling its screen leaves
    // full screen first.
    if (!useDedicatedPlayer && !defaults().boolForKey(prefs::keys::SingleWindowMode) && mainWindow()
        && isFullscreenContentWindow(mainWindow()) && mainWindow()->isFullScreen())
        mainWindow()->showNormal();
    defaults().setBool(!useDedicatedPlayer, prefs::keys::SingleWindowMode);
    if (dedicatedPlayerWindowSwitch && dedicatedPlayerWindowSwitch->isChecked() != useDedicatedPlayer) {
        const QSignalBlocker blocker(dedicatedPlayerWindowSwitch);
        dedicatedPlayerWindowSwitch->setChecked(useDedicatedPlayer);
    }
    const Value movie = _currentMovieRepresentation;
    if (!movie.isNull()) {
        if (!useDedicatedPlayer && _dedicatedPlayerWindow && _dedicatedPlayerWindow->isVisible())
            _dedicatedPlayerWindow->close();
        chooseNoMovie();
        if (_playerControlsDidChange)
            _playerControlsDidChange();
        chooseMovieRepresentation(movie, false, false, false, false);
    } else if (_playerControlsDidChange) {
        _playerControlsDidChange();
    }
}

void PMMainController::changePlaybackControlsModeViaMenuItem(int tag)
{
    if (_currentMovieRepresentation.isNull() || !playerView || !isVisible(playerView->window()))
        return;
    UserDefaults& d = defaults();
    if (tag == 10) {
        const QString key = QStringLiteral("Window Playback Controls: Show Location Bar");
        d.setBool(!d.boolForKey(key), key);
    } else {
        d.setInteger(tag, _isPresenting ? prefs::keys::PresentationPlaybackControls : prefs::keys::WindowPlaybackControls);
    }
    if (_playerControlsDidChange)
        _playerControlsDidChange();
    if (tag == 0)
        showPlaybackControlsByFadingIn(true);
}

void PMMainController::setPresentationModeFromMenuItem(int tag)
{
    setPresentationMode(tag, nullptr);
}

void PMMainController::addContainer(QObject* sender)
{
    QAction* item = senderItem(sender);
    const Value inside = senderObject(sender);
    bool playlist = senderTag(sender) == 1;
    // The sidebar's add button: a playlist, a folder with Shift, a smart playlist with Alt.
    if (sender && sender == libraryAddButton.data()) {
        const Qt::KeyboardModifiers modifiers = keyboardModifiers();
        if (modifiers & Qt::AltModifier) {
            performAction(QStringLiteral("addSmartPlaylist"), sender);
            return;
        }
        playlist = !(modifiers & Qt::ShiftModifier);
    }
    PMLibraryContainerPtr storage;
    if (PMLibraryContainerPtr parent = PMContainerPtr(inside)) {
        playlist = topLevelAncestorOfItem(inside) == smartGroupStorage();
        storage = parent;
    } else {
        storage = playlist ? smartGroupStorage() : sourceStorage();
    }
    Q_UNUSED(item);
    if (!storage) {
        platform::beep();
        return;
    }
    const PMLibraryContainerPtr container =
        PMLibraryContainer::make({{QStringLiteral("Name"), Value(playlist ? localized("Untitled Playlist") : localized("Untitled Folder"))}});
    const Value value(container);
    const ArrayPtr selected = _maintenanceWindow.accessibleSelectedLibraryItems ? _maintenanceWindow.accessibleSelectedLibraryItems() : selectedLibraryItems();
    addAndSelectLibraryItem(value, storage, count(selected) > 0 ? selected->at(selected->count() - 1) : Value(), !inside.isNull(), nullptr);
    editNameOfLibraryItem(value);
}

void PMMainController::setRating(QObject* sender)
{
    const Value object = senderObject(sender);
    ArrayPtr movies;
    if (QAction* item = senderItem(sender); item && !object.isNull())
        movies = infoMovieRepresentationsForMenuItem(item);
    else
        movies = cachedInfoMovieRepresentationsSorted(true);
    // An online item among what the item names refuses the whole command, even where the
    // movies collected from it would leave it out.
    if (count(movies) == 0 || hasOnlineItem(movies) || hasOnlineItem(object.array())) {
        platform::beep();
        return;
    }
    const double rating = double(senderTag(sender));
    for (const Value& v : *movies) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            movie->setRating(rating);
    }
    updateLibraryAfterRatingChange();
    unfreezeSelections();
}

void PMMainController::toggleFullScreen()
{
    QWidget* window = windowsOf(*this).key;
    if (!window)
        window = windowsOf(*this).appMain;
    if (!window)
        return;
    if (window->isFullScreen())
        window->showNormal();
    else
        window->showFullScreen();
}

void PMMainController::terminate()
{
    // The quit sequence (saving included) decides; it may keep the program running.
    if (approveTermination())
        QCoreApplication::quit();
}

void PMMainController::installMenuCommands()
{
    const auto add = [this](const char* name, std::function<void(QObject*)> run) {
        const QString key = QString::fromLatin1(name);
        if (!_actions.contains(key))
            _actions.insert(key, std::move(run));
    };
    installSmartPlaylistCommands();
    installInfoPanelCommands();
    installContextMenus();
    // Files and the library
    add("openFile", [this](QObject* s) { openFile(int(senderTag(s))); });
    add("openURL", [this](QObject* s) { openURL(s); });
    add("generateIndexImage", [this](QObject* s) { generateIndexImage(s); });
    add("help", [this](QObject* s) { help(s); });
    add("addContainer", [this](QObject* s) { addContainer(s); });
    // The movies (or the query) an item carries become the search; without any, the selection's.
    add("filter", [this](QObject* s) { filter(senderObject(s)); });
    add("clearLastWatchedMovieRepresentations", [this](QObject* s) { clearLastWatchedMovieRepresentations(s); });
    add("chooseMovieRepresentationFromMenuItem", [this](QObject* s) { chooseMovieRepresentationFromMenuItem(senderObject(s), int(senderTag(s))); });
    add("setSortCriterionForSelectedContainerFromMenuItem",
        [this](QObject* s) { setSortCriterionForSelectedContainerFromMenuItem(senderObject(s), int(senderTag(s))); });
    add("rearrangeSelectedContainerFromMenuItem", [this](QObject* s) { rearrangeSelectedContainerFromMenuItem(senderObject(s), int(senderTag(s))); });
    add("fitPlayerWindowToScreen", [this](QObject*) { fitPlayerWindowToScreen(); });
    add("toggleAutomaticDuplicateSorting", [this](QObject* s) { toggleAutomaticDuplicateSorting(s); });
    add("chooseGroupFromMenuItem", [this](QObject* s) { chooseGroupFromMenuItem(senderObject(s)); });
    add("showGroupItemFromMenuItem", [this](QObject* s) { showGroupItemFromMenuItem(senderObject(s)); });
    add("showLibraryItemFromMenuItem", [this](QObject* s) { showLibraryItemFromMenuItem(senderObject(s)); });
    add("copyPlaybackURLViaMenuItem", [this](QObject* s) { copyPlaybackURLViaMenuItem(int(senderTag(s))); });
    add("exportMetadataCSV", [this](QObject* s) { exportMetadataCSV(senderObject(s)); });
    add("mergeSequence", [this](QObject* s) { mergeSequence(senderObject(s)); });
    add("splitSequence", [this](QObject* s) { splitSequence(senderObject(s)); });
    add("deleteItemsFromMenuItem", [this](QObject* s) { deleteItemsFromMenuItem(senderObject(s)); });
    add("showInbox", [this](QObject*) { showInbox(); });
    add("showBlacklist", [this](QObject*) { showBlacklist(); });
    add("organizeLibraryFiles", [this](QObject*) { organizeLibraryFilesCommand(); });
    add("moveAllToLibraryFolder", [this](QObject*) { moveAllToLibraryFolder(); });
    add("copyAllToLibraryFolder", [this](QObject*) { copyAllToLibraryFolder(); });
    add("includeNonLibraryFilesFromMenuItem", [this](QObject* s) {
        QStringList paths;
        if (const ArrayPtr list = senderObject(s).array())
            for (const Value& v : *list)
                paths.append(v.string());
        includeNonLibraryFilesFromMenuItem(paths, int(senderTag(s)));
    });
    add("changeLibraryLocation", [this](QObject* s) {
        QAction* item = senderItem(s);
        changeLibraryLocation(senderObject(s).string(), item && item->isChecked(), int(senderTag(s)));
    });
    add("addSupplementaryLibraryLocation", [this](QObject*) { addSupplementaryLibraryLocation(); });
    // Reveals the file of the one movie the item stands for (or a path it carries).
    add("showInFinder", [this](QObject* s) {
        QString path = senderObject(s).string();
        if (path.isEmpty()) {
            const ArrayPtr movies = infoMovieRepresentationsForMenuItem(senderItem(s));
            if (PMMovieRepresentationPrototype* movie = count(movies) == 1 ? PMMovie(movies->at(0)) : nullptr)
                path = movie->path();
        }
        if (!path.isEmpty() && !QFileInfo::exists(path)) {
            PMLog(QStringLiteral("cannot reveal <%@>"), Value(path));
            platform::beep();
            return;
        }
        if (path.isEmpty() || !platform::revealInFileManager({path}))
            platform::beep();
    });
    add("showContentInFinder", [](QObject* s) {
        const QString path = senderObject(s).string();
        if (path.isEmpty() || !platform::revealInFileManager({path}))
            platform::beep();
    });
    // The location menus offer only stopping while files move into the library folder.
    // A stale item chosen after the move ended must not stop the next one.
    add("moveToLibraryFolder", [this](QObject*) { moveToLibraryFolder({}, nullptr); });
    add("locateSupplementaryLibraryLocation", [this](QObject* s) { locateSupplementaryLibraryLocation(senderObject(s).string()); });
    add("deleteSupplementaryLibraryLocation", [this](QObject* s) { deleteSupplementaryLibraryLocation(senderObject(s).string()); });
    add("setRating", [this](QObject* s) { setRating(s); });
    add("setCustomPosterImage", [this](QObject* s) { setCustomPosterImage(s); });
    add("copy", [this](QObject*) { processCurrentFrameSection(false, true, false); });
    add("copySelection", [this](QObject*) { processCurrentFrameSection(true, true, false); });
    add("setMissingMoviesModeFromMenuItem", [this](QObject*) { setMissingMoviesModeFromMenuItem(); });
    add("toggleBooleanPreferenceViaMenuItem", [this](QObject* s) { toggleBooleanPreferenceViaMenuItem(senderItem(s)); });
    add("showPreferences", [this](QObject* s) { showPreferences(s); });
    // Playback
    add("playPause", [this](QObject*) { playPause(); });
    add("playReverse", [this](QObject*) { playReverse(); });
    add("playAtDoubleSpeed", [this](QObject*) { playAtDoubleSpeed(); });
    add("windForward", [this](QObject*) { windForward(); });
    add("windBackward", [this](QObject*) { windBackward(); });
    add("goToTime", [this](QObject*) { goToTime(); });
    add("forwardPlaylist", [this](QObject*) { forwardPlaylist(); });
    add("backwardPlaylist", [this](QObject*) { backwardPlaylist(); });
    add("clearPlaylist", [this](QObject*) { clearPlaylist(); });
    add("increaseVolume", [this](QObject*) { increaseVolume(); });
    add("decreaseVolume", [this](QObject*) { decreaseVolume(); });
    add("mute", [this](QObject*) { mute(); });
    add("togglePresentation", [this](QObject*) { togglePresentation(); });
    add("setScale", [this](QObject* s) { setScale(int(senderTag(s))); });
    // Zooming acts on the library's grid when its window is in front, else on the player.
    const auto gridIsMain = [this] {
        PMGroupView* grid = mainWindow() ? mainWindow()->findChild<PMGroupView*>() : nullptr;
        return grid && grid->isVisible() && windowsOf(*this).appMain == mainWindow() && playerWindow() != mainWindow();
    };
    add("increaseScale", [this, gridIsMain](QObject*) {
        if (gridIsMain())
            changePreviewSizeWithColumnsDelta(-1);
        else
            increaseScale();
    });
    add("decreaseScale", [this, gridIsMain](QObject*) {
        if (gridIsMain())
            changePreviewSizeWithColumnsDelta(1);
        else
            decreaseScale();
    });
    add("toggleStayInFront", [this](QObject*) { toggleStayInFront(); });
    add("openWithApplicationFromMenuItem", [this](QObject* s) { openWithApplicationFromMenuItem(senderItem(s)); });
    add("alwaysOpenWithApplicationFromMenuItem", [this](QObject* s) { alwaysOpenWithApplicationFromMenuItem(senderItem(s)); });
    add("filterOpenWithApplicationFromMenuItemSwitch", [this](QObject* s) {
        // The switch has flipped already when its action runs; a switch in a menu
        // speaks through its menu item.
        if (auto* control = qobject_cast<PMMenuItemSwitch*>(s)) {
            QAction* item = control->enclosingMenuItem();
            if (!item)
                return;
            item->setCheckable(true);
            item->setChecked(control->switchState() == 1);
            filterOpenWithApplicationFromMenuItemSwitch(item);
            return;
        }
        filterOpenWithApplicationFromMenuItemSwitch(senderItem(s));
    });
    add("toggleRemoteControlInterface", [this](QObject* s) { toggleRemoteControlInterface(s); });
    add("setPresentationModeFromMenuItem", [this](QObject* s) { setPresentationModeFromMenuItem(int(senderTag(s))); });
    add("changePlaybackControlsModeViaMenuItem", [this](QObject* s) { changePlaybackControlsModeViaMenuItem(int(senderTag(s))); });
    // Views and windows
    add("toggleDebugLogging", [this](QObject* s) { toggleDebugLogging(s); });
    add("toggleHoveringHeaders", [this](QObject*) { toggleHoveringHeaders(); });
    add("toggleAdjustedSizes", [this](QObject*) { toggleAdjustedSizes(); });
    add("showMainWindow", [this](QObject*) { showMainWindow(); });
    add("toggleFullScreen", [this](QObject*) { toggleFullScreen(); });
    add("didTogglePropertyValue", [this](QObject*) { didTogglePropertyValue(); });
    add("toggleInfoTagValue", [this](QObject* s) { toggleInfoTagValueFromSwitch(s); });
    add("addInfoTagValueViaMenuItem", [this](QObject* s) { addInfoTagValueViaMenuItem(senderObject(s)); });
    // Document commands that only players and image windows perform: here they beep.
    for (const char* name : {"save", "saveAs", "saveSelectionAs", "setExportExtension", "convert", "export", "exportSelection"})
        add(name, [](QObject*) { platform::beep(); });
}
