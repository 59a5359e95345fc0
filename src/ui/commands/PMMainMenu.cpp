#include "ui/commands/PMMainMenu.h"

#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QWidget>

namespace PMMainMenu {

namespace {

// The desktop's conventions: Ctrl where other systems have Command, Ctrl+Q quits, Ctrl+,
// opens the preferences, F11 toggles full screen, F1 opens the help.
const QList<Entry> kEntries = {
    // ---- File
    {"File", "Open...", "openFile", 0, "Ctrl+O"},
    {"File", "Add to Library...", "openFile", 1, "Ctrl+Shift+O"},
    {"File", "Open URL...", "openURL", 0, "Ctrl+U"},
    {"File", "Last Watched", "", 0, nullptr, "lastWatchedMenu", Submenu},
    {"File", "", ""},
    {"File", "New Playlist", "addContainer", 1, "Ctrl+N"},
    {"File", "New Folder", "addContainer", 0, "Ctrl+Shift+N"},
    {"File", "New Smart Playlist...", "addSmartPlaylist", 0, "Ctrl+Alt+N"},
    {"File", "Edit Smart Playlist...", "editSmartPlaylist", 0, nullptr},
    {"File", "Duplicate Smart Playlist", "duplicateSmartPlaylist", 0, nullptr},
    {"File", "", ""},
    {"File", "Show Info", "showMovieInfo", 1, "Ctrl+I", "infoMenuItem"},
    {"File", "Rename...", "showMovieInfo", 11, "Ctrl+Shift+I", "batchRenameMenuItem"},
    {"File", "Quick Look", "toggleQuickLook", 0, "Ctrl+Y", nullptr, Checkable},
    {"File", "Open With", "", 0, nullptr, "openWithMenu", Submenu},
    {"File", "Show in File Manager", "showInFinder", 0, "Ctrl+Alt+R"},
    {"File", "Show Index Image", "generateIndexImage", 0, nullptr},
    {"File", "", ""},
    {"File", "Copy Playback URL", "copyPlaybackURLViaMenuItem", 0, "Ctrl+Shift+C"},
    {"File", "Copy Playback Markdown Link", "copyPlaybackURLViaMenuItem", 1, "Ctrl+Alt+Shift+C", nullptr, AlternateAlt},
    {"File", "Export Metadata CSV...", "exportMetadataCSV", 0, "Ctrl+Shift+E"},
    {"File", "", ""},
    {"File", "Merge Sequence...", "mergeSequence", 0, "Ctrl+Shift+M"},
    {"File", "Split Sequence...", "splitSequence", 0, nullptr},
    {"File", "", ""},
    {"File", "Save...", "save", 0, "Ctrl+S"},
    {"File", "Save as...", "export", 1, "Ctrl+Shift+S"},
    {"File", "Save Selection As...", "saveSelectionAs", 0, nullptr},
    {"File", "Export Selection...", "exportSelection", 0, nullptr},
    {"File", "", ""},
    {"File", "Close Window", "", 0, "Ctrl+W", nullptr, CloseWindowHandler},
    {"File", "Quit Pellis", "", 0, "Ctrl+Q", nullptr, QuitHandler},

    // ---- Edit
    {"Edit", "Cut", "cut", 0, "Ctrl+X"},
    {"Edit", "Copy", "copy", 0, "Ctrl+C"},
    {"Edit", "Copy Selected Area", "copySelection", 0, "Ctrl+Alt+C"},
    {"Edit", "Paste", "paste", 0, "Ctrl+V"},
    {"Edit", "Delete", "delete", 0, "Del"},
    {"Edit", "Select All", "selectAll", 0, "Ctrl+A"},
    {"Edit", "Clear Selection", "clearSelection", 0, "Ctrl+Shift+A"},
    {"Edit", "", ""},
    {"Edit", "Find", "", 0, nullptr, "findMenu", Submenu},
    {"Edit/Find", "Search...", "performTextFinderAction", 1, "Ctrl+F"},
    {"Edit/Find", "Filter", "filter", 0, "Ctrl+Shift+F"},
    {"Edit", "", ""},
    {"Edit", "Preferences...", "showPreferences", 0, "Ctrl+,"},

    // ---- View
    {"View", "Hide Sidebar", "toggleLibrary", 0, "Ctrl+Alt+S"},
    {"View", "", ""},
    {"View", "Layout", "", 0, nullptr, "layoutMenu", Submenu},
    {"View", "Columns", "", 0, nullptr, "columnMenu", Submenu},
    {"View", "Show Headers on Hover", "toggleHoveringHeaders", 0, nullptr, nullptr, Checkable},
    {"View", "Adjust Thumbnail Sizes", "toggleAdjustedSizes", 0, nullptr, nullptr, Checkable},
    {"View", "Hide Missing Movies", "setMissingMoviesModeFromMenuItem", 0, nullptr, nullptr, Checkable},
    {"View", "Experimental", "", 0, nullptr, "experimentalViewMenu", Submenu},
    {"View", "", ""},
    {"View", "Zoom In", "increaseScale", 0, "Ctrl++"},
    {"View", "Zoom Out", "decreaseScale", 0, "Ctrl+-"},
    {"View", "Scale", "", 0, nullptr, nullptr, Submenu},
    {"View/Scale", "Half Size", "setScale", 50, "Ctrl+Alt+0"},
    {"View/Scale", "Actual Size", "setScale", 100, "Ctrl+Alt+1", nullptr, Checkable},
    {"View/Scale", "Double Size", "setScale", 200, "Ctrl+Alt+2"},
    {"View/Scale", "Current Size", "setScale", 0, nullptr, "currentScaleMenuItem", Checkable},
    {"View/Scale", "", ""},
    {"View/Scale", "Fit to Screen", "fitPlayerWindowToScreen", 0, "Ctrl+Alt+3"},
    {"View", "", ""},
    {"View", "Stay in Front", "toggleStayInFront", 0, "Ctrl+Alt+F", nullptr, Checkable},
    {"View", "Enter Full Screen", "toggleFullScreen", 0, "F11", "fullScreenMenuItem"},

    // ---- Movie
    {"Movie", "Play/Pause", "playPause", 0, "Ctrl+P", "playPauseMenuItem"},
    {"Movie", "Play Reverse", "playReverse", 0, "Ctrl+Shift+P", nullptr, Checkable},
    {"Movie", "Double Speed", "playAtDoubleSpeed", 0, "Ctrl+Alt+P", nullptr, Checkable},
    {"Movie", "Wind Forward", "windForward", 0, "Ctrl+Right"},
    {"Movie", "Wind Backward", "windBackward", 0, "Ctrl+Left"},
    {"Movie", "Go to Time...", "goToTime", 0, "Ctrl+J"},
    {"Movie", "", ""},
    {"Movie", "Next Movie", "forwardPlaylist", 0, "Ctrl+]"},
    {"Movie", "Previous Movie", "backwardPlaylist", 0, "Ctrl+["},
    {"Movie", "Clear Playlist", "clearPlaylist", 0, nullptr},
    {"Movie", "", ""},
    {"Movie", "Increase Volume", "increaseVolume", 0, "Ctrl+Up"},
    {"Movie", "Decrease Volume", "decreaseVolume", 0, "Ctrl+Down"},
    {"Movie", "Mute", "mute", 0, "Ctrl+Alt+Down", nullptr, Checkable},
    {"Movie", "", ""},
    {"Movie", "Chapters", "", 0, nullptr, "chaptersMenuItem", Submenu},
    {"Movie", "Time", "", 0, nullptr, nullptr, Submenu},
    {"Movie/Time", "Set Selection Start", "setSelectionStart", 0, "Ctrl+Alt+I"},
    {"Movie/Time", "Set Selection End", "setSelectionEnd", 0, "Ctrl+Alt+O"},
    {"Movie/Time", "", ""},
    {"Movie/Time", "Trim to Selection", "trimToTimeRange", 0, "Ctrl+T"},
    {"Movie/Time", "", ""},
    {"Movie/Time", "Insert Current Timestamp", "insertCurrentTimestamp", 0, "Ctrl+Alt+T"},
    {"Movie/Time", "Revert to Original", "undoEditing", 0, nullptr},
    {"Movie", "Current Frame", "", 0, nullptr, "currentFrameMenu", Submenu},
    {"Movie/Current Frame", "Use Frame as Preview", "setCustomPosterImage", 1, "Ctrl+Alt+U"},
    {"Movie/Current Frame", "Use Area as Preview...", "setCustomPosterImage", 2, nullptr},
    {"Movie/Current Frame", "", ""},
    {"Movie/Current Frame", "Save Frame...", "setCustomPosterImage", 11, nullptr},
    {"Movie/Current Frame", "Save Area...", "setCustomPosterImage", 12, nullptr},
    {"Movie", "Reset Cover and Preview", "setCustomPosterImage", 0, nullptr},
    {"Movie", "Generate Index Images", "setCustomPosterImage", -1, nullptr},
    {"Movie", "Delete Index Images", "setCustomPosterImage", -2, nullptr},
    {"Movie", "", ""},
    {"Movie", "Rotate Clockwise", "rotate", 0, "Ctrl+R"},
    {"Movie", "Rotate Counterclockwise", "rotate", 1, "Ctrl+Shift+R"},
    {"Movie", "Mirror", "flip", 0, "Ctrl+Alt+M", nullptr, Checkable},
    {"Movie", "Crop Visible Area...", "cropMovie", 0, "Ctrl+K"},
    {"Movie", "Aspect Ratio", "", 0, nullptr, "aspectRatioMenu", Submenu},
    {"Movie", "", ""},
    {"Movie", "Rating", "", 0, nullptr, "ratingMenu", Submenu},
    {"Movie/Rating", "No Rating", "setRating", 0, "Ctrl+0", nullptr, Checkable},
    {"Movie/Rating", "\u2605", "setRating", 1, "Ctrl+1", nullptr, Checkable},
    {"Movie/Rating", "\u2605\u2605", "setRating", 2, "Ctrl+2", nullptr, Checkable},
    {"Movie/Rating", "\u2605\u2605\u2605", "setRating", 3, "Ctrl+3", nullptr, Checkable},
    {"Movie/Rating", "\u2605\u2605\u2605\u2605", "setRating", 4, "Ctrl+4", nullptr, Checkable},
    {"Movie/Rating", "\u2605\u2605\u2605\u2605\u2605", "setRating", 5, "Ctrl+5", nullptr, Checkable},
    {"Movie", "", ""},
    {"Movie", "Presentation", "togglePresentation", 0, "Ctrl+Shift+F11"},
    {"Movie", "Presentation Mode", "", 0, nullptr, "presentationModeMenu", Submenu},
    {"Movie/Presentation Mode", "Fit to Screen", "setPresentationModeFromMenuItem", 0, nullptr, nullptr, Checkable},
    {"Movie/Presentation Mode", "Fill Screen", "setPresentationModeFromMenuItem", 1, nullptr, nullptr, Checkable},
    {"Movie", "Playback Controls", "", 0, nullptr, "playbackControlsModeMenu", Submenu},
    {"Movie/Playback Controls", "Hovering", "changePlaybackControlsModeViaMenuItem", 0, nullptr, nullptr, Checkable},
    {"Movie/Playback Controls", "Above the Movie", "changePlaybackControlsModeViaMenuItem", 1, nullptr, nullptr, Checkable},
    {"Movie/Playback Controls", "Below the Movie", "changePlaybackControlsModeViaMenuItem", -1, nullptr, nullptr, Checkable},
    {"Movie/Playback Controls", "", ""},
    {"Movie/Playback Controls", "Show Location Bar", "changePlaybackControlsModeViaMenuItem", 10, nullptr},

    // ---- Library
    {"Library", "Inbox", "showInbox", 0, "Ctrl+Alt+B"},
    {"Library", "Blacklist...", "showBlacklist", 0, nullptr},
    {"Library", "", ""},
    {"Library", "Sort", "", 0, nullptr, "sortMenu", Submenu},
    {"Library", "Rearrange", "", 0, nullptr, "rearrangeMenu", Submenu},
    {"Library", "", ""},
    {"Library", "Library Folder", "", 0, nullptr, "libraryFolderMenu", Submenu},

    // ---- Window
    {"Window", "Minimize", "", 0, "Ctrl+M", nullptr, MinimizeHandler},
    {"Window", "", ""},
    {"Window", "Library Window", "showMainWindow", 0, "Ctrl+Alt+L"},
    {"Window", "Dedicated Player Window", "toggleBooleanPreferenceViaMenuItem", 0, nullptr, "dedicatedPlayerWindowMenuItem", Checkable},
    {"Window", "Show Remote Control Interface", "toggleRemoteControlInterface", 0, "Ctrl+Alt+K"},
    {"Window", "", ""},
    {"Window", "Enable Debug Logging", "toggleDebugLogging", 0, nullptr, nullptr, Checkable},

    // ---- Help
    {"Help", "Pellis Help", "help", 0, "F1"},
    {"Help", "", ""},
    {"Help", "Check for Updates...", "checkForUpdates", 0, nullptr},
    {"Help", "About Pellis", "orderFrontStandardAboutPanel", 0, nullptr},
};

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainMenu", text);
}

void setOutlet(PMMainController& controller, const QString& outlet, QAction* item)
{
    auto& o = controller._mainMenu;
    QMenu* menu = item->menu();
    const QHash<QString, QPointer<QAction>*> items = {
        {QStringLiteral("chaptersMenuItem"), &o.chaptersMenuItem},
        {QStringLiteral("dedicatedPlayerWindowMenuItem"), &o.dedicatedPlayerWindowMenuItem},
        {QStringLiteral("infoMenuItem"), &o.infoMenuItem},
        {QStringLiteral("batchRenameMenuItem"), &o.batchRenameMenuItem},
        {QStringLiteral("playPauseMenuItem"), &o.playPauseMenuItem},
        {QStringLiteral("currentScaleMenuItem"), &o.currentScaleMenuItem},
        {QStringLiteral("fullScreenMenuItem"), &o.fullScreenMenuItem},
    };
    const QHash<QString, QPointer<QMenu>*> menus = {
        {QStringLiteral("lastWatchedMenu"), &o.lastWatchedMenu},
        {QStringLiteral("ratingMenu"), &o.ratingMenu},
        {QStringLiteral("currentFrameMenu"), &o.currentFrameMenu},
        {QStringLiteral("findMenu"), &o.findMenu},
        {QStringLiteral("layoutMenu"), &o.layoutMenu},
        {QStringLiteral("experimentalViewMenu"), &o.experimentalViewMenu},
        {QStringLiteral("columnMenu"), &o.columnMenu},
        {QStringLiteral("sortMenu"), &o.sortMenu},
        {QStringLiteral("rearrangeMenu"), &o.rearrangeMenu},
        {QStringLiteral("presentationModeMenu"), &o.presentationModeMenu},
        {QStringLiteral("playbackControlsModeMenu"), &o.playbackControlsModeMenu},
        {QStringLiteral("aspectRatioMenu"), &o.aspectRatioMenu},
        {QStringLiteral("libraryFolderMenu"), &o.libraryFolderMenu},
        {QStringLiteral("openWithMenu"), &o.openWithMenu},
    };
    if (auto* slot = items.value(outlet))
        *slot = item;
    else if (auto* menuSlot = menus.value(outlet); menuSlot && menu)
        *menuSlot = menu;
}

// Submenu items are not validated by the menu conventions (they always open); the main
// menu asks the controller about them as their parent opens, so that a submenu with
// nothing to offer shows disabled.
void validateSubmenuItems(PMMainController& controller, QMenu* menu)
{
    for (QAction* item : menu->actions()) {
        if (item->menu())
            item->setEnabled(controller.validateMainMenuItem(item));
    }
}

QAction* findItem(QMenu* menu, const QString& title)
{
    for (QAction* item : menu->actions()) {
        if (item->property("PMMainMenuTitle").toString() == title)
            return item;
    }
    return nullptr;
}

} // namespace

const QList<Entry>& entries()
{
    return kEntries;
}

QMenuBar* createMenuBar(PMMainController& controller, QWidget* parent)
{
    controller.installMenuCommands();
    auto* bar = new QMenuBar(parent);
    bar->setObjectName(QStringLiteral("PMMainMenuBar"));
    QHash<QString, QMenu*> menus;
    QAction* previous = nullptr;

    const auto menuForPath = [&](const QString& path) -> QMenu* {
        if (QMenu* menu = menus.value(path))
            return menu;
        // Top-level menus are made in the order the table names them; submenus by their rows.
        auto* menu = bar->addMenu(u'&' + localized(path.toUtf8().constData()));
        menu->setObjectName(path);
        menu->setProperty("PMMainMenuTitle", path);
        menus.insert(path, menu);
        return menu;
    };

    for (const Entry& entry : kEntries) {
        const QString path = QString::fromUtf8(entry.menu);
        QMenu* menu = menuForPath(path);
        const QString title = QString::fromUtf8(entry.title);
        if (title.isEmpty()) {
            menu->addSeparator();
            previous = nullptr;
            continue;
        }
        QAction* item = nullptr;
        if (entry.flags & Submenu) {
            auto* submenu = new QMenu(localized(entry.title), menu);
            const QString subpath = path + u'/' + title;
            submenu->setObjectName(subpath);
            submenu->setProperty("PMMainMenuTitle", subpath);
            menus.insert(subpath, submenu);
            item = menu->addMenu(submenu);
            // Refilled first, then validated by the conventions as it opens.
            QObject::connect(submenu, &QMenu::aboutToShow, submenu, [&controller, submenu] {
                controller.menuNeedsUpdate(submenu);
                validateSubmenuItems(controller, submenu);
            });
            platform::installMenuConventions(submenu);
        } else {
            item = menu->addAction(localized(entry.title));
            if (entry.flags & QuitHandler) {
                item->setMenuRole(QAction::QuitRole);
                platform::setMenuItemHandler(item, [&controller](QAction*) { controller.terminate(); });
            } else if (entry.flags & CloseWindowHandler) {
                platform::setMenuItemHandler(item, [](QAction*) {
                    if (QWidget* window = QApplication::activeWindow())
                        window->close();
                });
            } else if (entry.flags & MinimizeHandler) {
                platform::setMenuItemHandler(item, [](QAction*) {
                    if (QWidget* window = QApplication::activeWindow())
                        window->showMinimized();
                });
            } else {
                platform::setMenuItemAction(item, QString::fromUtf8(entry.action));
            }
            platform::setMenuItemTag(item, entry.tag);
            item->setCheckable(entry.flags & Checkable);
            if (entry.shortcut) {
                item->setShortcut(QKeySequence(QString::fromUtf8(entry.shortcut), QKeySequence::PortableText));
                // The shortcut works wherever the focus is in any window of the program;
                // validation decides at that moment whether it acts.
                item->setShortcutContext(Qt::ApplicationShortcut);
            }
            if ((entry.flags & AlternateAlt) && previous)
                platform::setAlternateMenuItem(item, previous, Qt::AltModifier);
        }
        item->setProperty("PMMainMenuTitle", title);
        if (entry.outlet)
            setOutlet(controller, QString::fromUtf8(entry.outlet), item);
        previous = item;
    }

    for (auto it = menus.cbegin(); it != menus.cend(); ++it) {
        if (it.key().contains(u'/'))
            continue;
        QMenu* menu = it.value();
        platform::installMenuConventions(menu);
        QObject::connect(menu, &QMenu::aboutToShow, menu, [&controller, menu] { validateSubmenuItems(controller, menu); });
    }
    // The first last-watched movie has a shortcut: the list is there before its menu
    // first opens, and is brought up to date whenever the menu above it opens.
    if (QMenu* lastWatched = controller._mainMenu.lastWatchedMenu) {
        controller.menuNeedsUpdate(lastWatched);
        if (QMenu* above = qobject_cast<QMenu*>(lastWatched->parentWidget()))
            QObject::connect(above, &QMenu::aboutToShow, lastWatched, [&controller, lastWatched] { controller.menuNeedsUpdate(lastWatched); });
    }
    // The full-screen shortcut: the desktop's F11, or with "Use Traditional Full Screen
    // Keyboard Equivalent" Ctrl+F, the search moving to Ctrl+Alt+Shift+F.
    controller._useModernFullScreenKeyboardEquivalent =
        !prefs::get(prefs::keys::UseTraditionalFullScreenKeyboardEquivalent);
    if (!controller._useModernFullScreenKeyboardEquivalent) {
        if (QAction* fullScreen = controller._mainMenu.fullScreenMenuItem)
            fullScreen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
        if (QAction* search = itemWithTitle(bar, QStringLiteral("Edit/Find"), QStringLiteral("Search...")))
            search->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F));
    }
    controller.installLibraryMenu(bar);
    controller.installServiceCommands(bar);
    return bar;
}

namespace {

// Keeps a second menu bar showing the menus of the first, in its order.
class MenuBarMirror : public QObject {
public:
    MenuBarMirror(QMenuBar* source, QMenuBar* mirror) : QObject(mirror), m_source(source), m_mirror(mirror)
    {
        source->installEventFilter(this);
        mirror->installEventFilter(this);
        // The menus look as on the library window, not as the player window's black.
        applyApplicationPalette();
        update();
    }
    void applyApplicationPalette()
    {
        // Every colour set explicitly: a palette set as it comes would still take the
        // window's black where it says nothing of its own.
        QPalette palette = QApplication::palette();
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            for (int role = 0; role < QPalette::NColorRoles; ++role)
                palette.setBrush(group, QPalette::ColorRole(role), palette.brush(group, QPalette::ColorRole(role)));
        m_mirror->setPalette(palette);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (watched == m_source && (type == QEvent::ActionAdded || type == QEvent::ActionRemoved))
            QMetaObject::invokeMethod(this, &MenuBarMirror::update, Qt::QueuedConnection);
        else if (watched == m_mirror && type == QEvent::ApplicationPaletteChange)
            applyApplicationPalette();
        return false;
    }
    void update()
    {
        if (!m_source || !m_mirror)
            return;
        if (m_mirror->actions() == m_source->actions())
            return;
        // Removing leaves the menus alone: they belong to the first bar.
        for (QAction* action : m_mirror->actions())
            m_mirror->removeAction(action);
        m_mirror->addActions(m_source->actions());
    }

private:
    QPointer<QMenuBar> m_source;
    QPointer<QMenuBar> m_mirror;
};

} // namespace

QMenuBar* mirrorMenuBar(QMenuBar* bar, QWidget* window)
{
    if (!bar || !window)
        return nullptr;
    auto* mirror = new QMenuBar(window);
    mirror->setObjectName(QStringLiteral("PMMirroredMenuBar"));
    // Over a player window's black: the bar paints its own background.
    mirror->setAutoFillBackground(true);
    new MenuBarMirror(bar, mirror);
    return mirror;
}

QAction* itemWithTitle(QMenuBar* bar, const QString& menuPath, const QString& title)
{
    if (!bar)
        return nullptr;
    QMenu* menu = bar->findChild<QMenu*>(menuPath);
    return menu ? findItem(menu, title) : nullptr;
}

} // namespace PMMainMenu
