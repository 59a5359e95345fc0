// The keys that drive browsing and playing: offered to the controller by the player windows
// (the library window is one) before the focus widget sees them. Walk or wind the current
// movie, move in the source list, open or play the selection, step back one level with
// Escape, scroll the grid or the list by pages.
#include "library/model/PMMainController.h"
#include "ui/commands/PMMenuController.h"

#include "foundation/PMLog.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Applications.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackController.h"
#include "ui/commands/PMApplication.h"
#include "ui/library_window/PMAutoCompleteTableView.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtGui/QAction>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QScrollBar>

#include <map>

using platform::Array;
using platform::ArrayPtr;
using platform::UserDefaults;
using platform::Value;

namespace {

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

bool isFirstResponder(const QWidget* view)
{
    return PMApplication::isFirstResponderOfItsWindow(view);
}

bool hasTextInputFocus()
{
    return PMApplication::takesTypedText(QApplication::focusWidget());
}

// A view of the library window's tabs: shown, in the window that has the keys.
bool isInKeyWindow(const QWidget* view)
{
    return view && view->isVisible() && view->window() && view->window()->isActiveWindow();
}

// Page Up and Down move the visible rectangle by its own height within the bounds; a move
// that leaves nothing inside (at either end) is not taken. Home and End go to the ends.
bool scrollByKey(int key, const QRectF& visible, const QRectF& bounds, const std::function<void(const QRectF&)>& scrollRectToVisible)
{
    if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        const QRectF moved = visible.translated(0, key == Qt::Key_PageUp ? -visible.height() : visible.height()).intersected(bounds);
        if (moved.isEmpty())
            return false;
        scrollRectToVisible(moved);
        return true;
    }
    if (key == Qt::Key_End)
        scrollRectToVisible(QRectF(0, bounds.bottom() - 1, 1, 1));
    else
        scrollRectToVisible(QRectF(0, 0, 1, 1));
    return true;
}

bool isScrollKey(int key)
{
    return key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown;
}

} // namespace

ArrayPtr PMMainController::accessibleSelectedLibraryItems()
{
    return isSidebarAccessible() ? selectedLibraryItems() : nullptr;
}

void PMMainController::toggleQuickLookFromKeyboard()
{
    if (!platform::sendAction(QStringLiteral("toggleQuickLook"), nullptr, this))
        platform::beep();
}

bool PMMainController::openMovieRepresentationsWithTheirApplications(const ArrayPtr& movies)
{
    if (!movies || movies->isEmpty())
        return false;
    // Each movie's application is an installed desktop entry, found by its ID: a stored
    // path only names the entry, it is never run itself.
    std::map<QString, std::pair<platform::DesktopApplication, QList<Value>>> groups;
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie || movie->path().isEmpty())
            return false;
        const QString applicationPath = movie->applicationPath();
        if (applicationPath.isEmpty())
            return false;
        QString id = QFileInfo(applicationPath).fileName();
        platform::DesktopApplication application;
        if (!id.endsWith(QLatin1String(".desktop")) || !platform::getDesktopApplication(id, &application) || platform::isOwnApplication(application))
            return false;
        auto& group = groups[application.id];
        group.first = application;
        group.second.append(v);
    }
    bool openedAny = false;
    for (auto& [id, group] : groups) {
        QStringList paths;
        for (const Value& v : group.second)
            paths.append(PMMovie(v)->path());
        bool started = true;
        for (const QStringList& command : platform::commandLinesForFiles(group.first, paths)) {
            if (command.isEmpty())
                continue;
            const bool ok = _startApplicationOverride ? _startApplicationOverride(command.first(), command.mid(1))
                                                      : QProcess::startDetached(command.first(), command.mid(1));
            started = started && ok;
        }
        if (!started) {
            PMLog("cannot open %@ with <%@>", paths.join(QStringLiteral(", ")), id);
            continue;
        }
        openedAny = true;
        for (const Value& v : group.second)
            PMMovie(v)->incrementCounter();
    }
    if (openedAny)
        updateLibrary();
    return openedAny;
}

bool PMMainController::handleKeyDown(QKeyEvent* event, bool isRemoteInterfaceEvent)
{
    return menuController().handleKeyDown(event, isRemoteInterfaceEvent);
}

bool PMMenuController::handleKeyDown(QKeyEvent* event, bool isRemoteInterfaceEvent)
{
    if (!event || QApplication::activeModalWidget())
        return false;
    // A name or a search being typed keeps its keys.
    if (!isRemoteInterfaceEvent && !c._isPresenting) {
        if ((c.libraryListView && c.libraryListView->isEditing()) || (c.groupListTable && c.groupListTable->isEditing())
            || (c.searchField && c.searchField->hasFocus()) || hasTextInputFocus())
            return false;
    }

    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int key = event->key();
    PMPlayerViewContent& content = c.playerViewContent();
    const bool movieLoaded = content.movieReplacingImage || content.moviePlayer;
    bool swapped = defaults().boolForKey(prefs::keys::NavigateWithSwappedSpaceAndReturn);
    auto* movieView = qobject_cast<PMMovieView*>(c.playerView.data());

    const auto returnKey = [&]() -> bool {
        if (isRemoteInterfaceEvent) {
            Q_EMIT c.playbackController().remoteInterfaceEnterRequested();
            return true;
        }
        if (swapped) {
            c.toggleQuickLookFromKeyboard();
            return true;
        }
        ArrayPtr items;
        const bool gridIsFirstResponder = isFirstResponder(c._groupView);
        if (c.groupListAccess().isFirstResponder())
            items = c.selectedGroupListItems();
        else if (gridIsFirstResponder)
            items = c._groupView->selectedItems();
        else
            items = c.accessibleSelectedLibraryItems();
        if (!items || items->isEmpty()) {
            platform::beep();
            return true;
        }
        if (modifiers & Qt::ShiftModifier) {
            const ArrayPtr movies = c.uniqueMovieRepresentationsFromItems(items, {}, true, false, true);
            if (c.openMovieRepresentationsWithTheirApplications(movies))
                return true;
        }
        const Value first = items->at(0);
        if (PMMovie(first)) {
            c.chooseMovieRepresentation(first, false, true, !defaults().boolForKey(prefs::keys::DoNotPlayOnOpen), false);
            return true;
        }
        if (PMLibraryContainerPtr container = PMContainerPtr(first); container && gridIsFirstResponder) {
            c.chooseContainer(container);
            return true;
        }
        platform::beep();
        return true;
    };

    // Space: play or pause what is loaded, else Quick Look (or Return, swapped).
    if (key == Qt::Key_Space) {
        if (isRemoteInterfaceEvent) {
            Q_EMIT c.playbackController().remoteInterfaceEnterRequested();
            return true;
        }
        if (movieLoaded) {
            c.showPlaybackControlsByFadingIn(false);
            // The switch's own action toggles playback, so it shows the press as well.
            if (QAbstractButton* button = movieView ? movieView->playPauseSwitch() : nullptr; button && button->isEnabled())
                button->click();
            else
                c.playPause();
            return true;
        }
        if (swapped) {
            swapped = false;
            return returnKey();
        }
        c.toggleQuickLookFromKeyboard();
        return true;
    }

    // Full screen by Ctrl-Meta-F, where the key window allows it; the key goes on.
    if (key == Qt::Key_F && (modifiers & Qt::ControlModifier) && (modifiers & Qt::MetaModifier)) {
        QAction probe;
        platform::setMenuItemAction(&probe, QStringLiteral("toggleFullScreen"));
        if (platform::validateMenuItemNow(&probe))
            platform::sendAction(QStringLiteral("toggleFullScreen"), &probe);
    }

    QWidget* main = c.mainWindow();
    QWidget* mainFirstResponder = main ? PMApplication::firstResponderOf(main) : nullptr;
    const bool mainFirstResponderIsGroupView = mainFirstResponder
        && ((c._groupView && isFirstResponder(c._groupView) && c._groupView->window() == main) || c.groupListAccess().isFirstResponder());

    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        if (isRemoteInterfaceEvent) {
            Q_EMIT c.playbackController().remoteInterfaceStepRequested(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
        // (The info panel's tables with uncommitted input-method text keep their keys:
        // the panel is modal, so no key comes here while it is open.)
        if (mainFirstResponderIsGroupView || !c.isSidebarAccessible() || !c.libraryListView)
            return false;
        // The source list's selection moves wherever the keys are.
        QKeyEvent forwarded(event->type(), key, modifiers, event->text(), event->isAutoRepeat(), ushort(event->count()));
        QCoreApplication::sendEvent(c.libraryListView, &forwarded);
        return true;
    }
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool right = key == Qt::Key_Right;
        if (isRemoteInterfaceEvent) {
            if (right)
                Q_EMIT c.playbackController().remoteInterfaceSelectChildRequested();
            else
                Q_EMIT c.playbackController().remoteInterfaceSelectParentRequested();
            return true;
        }
        if (main && main->isActiveWindow()) {
            if (c.libraryListView && isFirstResponder(c.libraryListView) && c.libraryListView->window() == main) {
                QKeyEvent forwarded(event->type(), key, modifiers, event->text(), event->isAutoRepeat(), ushort(event->count()));
                QCoreApplication::sendEvent(c.libraryListView, &forwarded);
                return true;
            }
            if (mainFirstResponderIsGroupView)
                return false;
        }
        if ((modifiers & Qt::ControlModifier) || !movieLoaded)
            return false;
        const int delta = right ? 1 : -1;
        if (content.movieReplacingImage && !content.moviePlayer) {
            c.pause();
            if (!movieView || !movieView->seekToMovieReplacingImageAnimationFrameWithDelta(delta))
                c.walkPlaylistWithSortedIndexDelta(delta);
            return true;
        }
        if ((modifiers & Qt::AltModifier) || !defaults().boolForKey(prefs::keys::ArrowKeysJump)) {
            c.pause();
            c.windForward(right, true, false);
        } else {
            c.windForward(right, false, false);
        }
        return true;
    }
    case Qt::Key_Enter: {
        if (isRemoteInterfaceEvent) {
            Q_EMIT c.playbackController().remoteInterfaceEnterRequested();
            return true;
        }
        if (c.groupListTable && c.groupListAccess().isFirstResponder()) {
            const int column = c.groupListTable->columnWithIdentifier(QStringLiteral("GroupListName"));
            const QModelIndexList rows = c.groupListTable->selectionModel() ? c.groupListTable->selectionModel()->selectedRows() : QModelIndexList();
            if (column >= 0 && rows.size() == 1) {
                c.groupListTable->editColumn(column, rows.first().row(), true);
                return true;
            }
            return returnKey();
        }
        if (c.libraryListView && isFirstResponder(c.libraryListView)) {
            const QModelIndex current = c.libraryListView->currentIndex();
            if (current.isValid() && c.libraryListView->selectionModel() && c.libraryListView->selectionModel()->isSelected(current))
                static_cast<QAbstractItemView*>(c.libraryListView.data())->edit(current.siblingAtColumn(0));
            return true;
        }
        return returnKey();
    }
    case Qt::Key_Return:
        return returnKey();
    case Qt::Key_Escape: {
        // The desktop's full screen is a state of the window: Escape leaves it first, every
        // time, before it stops or closes anything.
        QWidget* keyWindow = QApplication::activeWindow();
        if (!keyWindow && c.playerView)
            keyWindow = c.playerView->window();
        if (!isRemoteInterfaceEvent && !c._isPresenting && keyWindow && keyWindow->isFullScreen()) {
            keyWindow->showNormal();
            return true;
        }
        if (isRemoteInterfaceEvent) {
            Q_EMIT c.playbackController().remoteInterfaceEscapeRequested();
        } else if (c.destroyInbox()) {
        } else if (c._isPresenting) {
            c.togglePresentation();
        } else if (c.isPlaying()) {
            c.pause();
        } else if (!c._currentMovieRepresentation.isNull()) {
            c.chooseNoMovie();
        } else if (isFirstResponder(c._groupView) && c._groupView->selectedItems() && !c._groupView->selectedItems()->isEmpty()) {
            c._groupView->selectItemsWithIDs({});
        } else if (c.groupListTable && isFirstResponder(c.groupListTable) && c.groupListTable->selectionModel()
                   && c.groupListTable->selectionModel()->hasSelection()) {
            c.groupListTable->clearSelection();
        } else if (const ArrayPtr selected = c.accessibleSelectedLibraryItems(); selected && !selected->isEmpty()) {
            c.libraryListAccess().selectRows({});
        } else {
            platform::beep();
        }
        return true;
    }
    default:
        break;
    }

    if (isScrollKey(key)) {
        if (c._groupView && isInKeyWindow(c._groupView)) {
            PMGroupView* grid = c._groupView;
            const QRectF visible = grid->visibleRect();
            const QRectF bounds(0, 0, visible.width(), grid->verticalScrollBar()->maximum() + visible.height());
            return scrollByKey(key, visible, bounds, [grid](const QRectF& r) { grid->scrollRectToVisible(r); });
        }
        if (c.groupListTable && isInKeyWindow(c.groupListTable)) {
            PMGroupListAccess& list = c.groupListAccess();
            return scrollByKey(key, list.visibleRect(), list.bounds(), [&list](const QRectF& r) { list.scrollRectToVisible(r); });
        }
        return false;
    }
    return false;
}
