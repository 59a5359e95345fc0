// Deleting library items: containers, movies, movies shown through proxies (their originals
// go), entries of static playlists and items of the external media libraries (blacklisted,
// since they cannot be removed from their libraries). The user is asked first (each
// question can be turned off for good); files of deleted movies that lie inside the library
// folders go to the Trash when the user agrees, or are blacklisted when the user keeps
// them, so that the search for new files does not bring them back. Cancel changes nothing.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMMaintenanceShared.h"

#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSet>

#include <sys/stat.h>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

using pmmaintenance::defaults;
using pmmaintenance::localized;

namespace {

const QString kStaticProxies = QStringLiteral("Static Proxies");
const QString kDeleteIfTrashingFails = QStringLiteral("Delete If Trashing Fails (Apply To All)");
const QString kKeepIfTrashingFails = QStringLiteral("Keep If Trashing Fails (Apply To All)");

// The items of a list, by identity: a selection of thousands is looked up in it without
// going through the list each time.
using ItemSet = QSet<const platform::Object*>;

void appendOnce(Array& array, ItemSet& members, const Value& value)
{
    if (!members.contains(value.objectPointer())) {
        members.insert(value.objectPointer());
        array.append(value);
    }
}

// The paths of the movie records the library tree holds (smart groups and external media
// sections, which only show records held elsewhere, left out), apart from the items given.
QSet<QString> pathsHeldByLibrary(PMMainController& c, const ItemSet* except)
{
    QSet<QString> paths;
    std::function<void(const ArrayPtr&, int)> walk = [&](const ArrayPtr& children, int depth) {
        if (!children || depth > 256)
            return;
        for (const Value& v : *children) {
            if (except && except->contains(v.objectPointer()))
                continue;
            if (PMLibraryContainer* container = PMContainer(v)) {
                if (!container->isSmartGroup() && !container->isExternalMediaItem())
                    walk(container->rawChildren(), depth + 1);
            } else if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                if (!movie->isProxy() && !movie->isExternalMediaItem())
                    paths.insert(movie->path());
            }
        }
    };
    walk(c._library, 0);
    return paths;
}

// A file on disk as the kernel knows it: its identity (following links) and its real path.
struct DiskItem {
    dev_t device = 0;
    ino_t inode = 0;
    bool folder = false;
    QString realPath;
};

bool diskItem(const QString& path, DiskItem* item)
{
    struct stat st;
    if (path.isEmpty() || ::stat(platform::encodeFileName(path).constData(), &st) != 0)
        return false;
    item->device = st.st_dev;
    item->inode = st.st_ino;
    item->folder = S_ISDIR(st.st_mode);
    return true;
}

// The files among `candidates` that a path of `held` still reaches: the same file by
// device and inode (through a symbolic link, a linked folder or another spelling), a file
// inside a candidate folder (a bundle whose part another record names), or a candidate
// inside a held folder. Path texts alone cannot tell.
QSet<QString> filesStillReached(const QStringList& candidates, const QSet<QString>& held)
{
    QSet<QString> reached;
    QList<std::pair<QString, DiskItem>> items;
    QSet<dev_t> devices;
    for (const QString& path : candidates) {
        if (held.contains(path)) {
            reached.insert(path);
            continue;
        }
        DiskItem item;
        if (!diskItem(path, &item))
            continue;
        item.realPath = QFileInfo(path).canonicalFilePath();
        devices.insert(item.device);
        items.append({path, item});
    }
    if (items.isEmpty())
        return reached;
    for (const QString& path : held) {
        DiskItem other;
        if (!diskItem(path, &other) || !devices.contains(other.device))
            continue;
        for (const auto& [candidate, item] : std::as_const(items)) {
            if (reached.contains(candidate))
                continue;
            bool same = other.device == item.device && other.inode == item.inode;
            if (!same && (item.folder || other.folder)) {
                if (other.realPath.isEmpty())
                    other.realPath = QFileInfo(path).canonicalFilePath();
                same = !item.realPath.isEmpty() && !other.realPath.isEmpty()
                    && ((item.folder && isEqualToOrChildOfPath(other.realPath, item.realPath))
                        || (other.folder && isEqualToOrChildOfPath(item.realPath, other.realPath)));
            }
            if (same)
                reached.insert(candidate);
        }
    }
    return reached;
}

// Lets go of the current movie (leaving presentation mode first) when it is among the items
// or below one of them.
void letGoOfCurrentMovieIfAmong(PMMainController& c, const Array& items, bool checkBelow)
{
    if (c._currentMovieRepresentation.isNull())
        return;
    PMLibraryItem* current = PMItem(c._currentMovieRepresentation);
    if (!current)
        return;
    const Value original = current->nonProxySelf();
    bool among = items.indexOfIdentical(original.objectPointer()) >= 0 || items.indexOfIdentical(c._currentMovieRepresentation.objectPointer()) >= 0;
    if (!among && checkBelow) {
        const ArrayPtr ancestors = c.ancestorsOfLibraryItem(original);
        if (ancestors)
            for (const Value& a : *ancestors)
                if (items.indexOfIdentical(a.objectPointer()) >= 0) {
                    among = true;
                    break;
                }
    }
    if (!among)
        return;
    if (c._isPresenting)
        c.togglePresentation();
    // The player lets go too: a movie whose record is gone must not play on unowned.
    c.chooseNoMovie();
    c._nextMovieRepresentation = Value();
    if (c._updatePlaybackControls)
        c._updatePlaybackControls();
}

} // namespace

bool PMMainController::canDragOrDeleteItems(const ArrayPtr& items, bool* byRemovingFromLibrary, bool* orBlacklisting)
{
    bool removes = false;
    bool blacklists = false;
    if (!items || items->isEmpty())
        return false;
    for (const Value& v : *items) {
        PMLibraryItem* item = PMItem(v);
        if (!item || item->isOnlineItem())
            return false;
        if (PMLibraryContainer* container = PMContainer(v)) {
            if (container->isSourceStorageSection() || container->isExternalMediaItem() || container->isSmartGroupSubdivision()
                || !container->topLevelRole().isEmpty())
                return false;
            removes = true;
        } else if (item->isExternalMediaItem()) {
            blacklists = true;
        } else if (!item->isStaticPlaylistProxy()) {
            removes = true;
        }
    }
    if (byRemovingFromLibrary)
        *byRemovingFromLibrary = removes;
    if (orBlacklisting)
        *orBlacklisting = blacklists;
    return true;
}

bool PMMainController::handleSelectAllRequestFromCollectionView(PMLibraryView view)
{
    if (view != libraryList)
        return false;
    const PMLibraryContainerPtr selected = selectedContainer();
    if (!selected || selected != _groupItemsParent)
        return false;
    selectAllInSelectedGroupTab();
    return true;
}

namespace {
ArrayPtr selectedItemsOfView(PMMainController& c, PMMainController::PMLibraryView view)
{
    if (view == PMMainController::groupList)
        return c.selectedGroupListItems();
    if (view == PMMainController::libraryList)
        return c._maintenanceWindow.accessibleSelectedLibraryItems ? c._maintenanceWindow.accessibleSelectedLibraryItems() : c.selectedLibraryItems();
    return nullptr;
}
} // namespace

bool PMMainController::canDeleteSelectedItemsFromCollectionView(PMLibraryView view)
{
    const ArrayPtr items = selectedItemsOfView(*this, view);
    return items && canDragOrDeleteItems(items, nullptr, nullptr);
}

bool PMMainController::deleteSelectedItemsFromCollectionView(PMLibraryView view)
{
    if (view != groupList && view != libraryList)
        return false;
    deleteItems(selectedItemsOfView(*this, view));
    return true;
}

void PMMainController::deleteItemsFromMenuItem(const Value& representedObject)
{
    deleteItems(representedObject.array());
}

void PMMainController::deleteMovieRepresentationRegardless(const Value& movie)
{
    freezeSelections();
    deleteItems(Array::make({movie}), nullptr, false, false, true);
    unfreezeSelections();
}

namespace {
// Set while a menu asks for the deletion's title: the disk check is handed back instead of run.
std::function<bool()>* gDeferredDiskCheck = nullptr;
} // namespace

std::function<bool()> PMMainController::deleteItemsDryRunDeferringDiskWork(const ArrayPtr& items, bool* confirmationRequired)
{
    std::function<bool()> check;
    bool required = false;
    gDeferredDiskCheck = &check;
    deleteItems(items, &required, true, true, false);
    gDeferredDiskCheck = nullptr;
    if (confirmationRequired)
        *confirmationRequired = required;
    return check;
}

bool PMMainController::deleteItems(const ArrayPtr& items, bool* dryRun, bool confirm, bool confirmTrash, bool updateUI)
{
    const bool dry = dryRun != nullptr;
    const bool U = updateUI && !dry;
    if (!items || items->isEmpty()) {
        if (U)
            platform::beep();
        return false;
    }
    if (U)
        freezeSelections();

    // Classify. Entries of static playlists are only noted here: they leave their playlists
    // when the user has confirmed (a cancelled deletion changes nothing).
    Array toRemove;
    ItemSet toRemoveSet;
    Array originalsViaProxies;
    ItemSet originalsViaProxiesSet;
    QStringList blacklistPaths;
    QList<std::pair<PMLibraryContainerPtr, QString>> staticEntries;
    bool throughProxy = false;
    for (const Value& v : *items) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (movie && movie->isStaticPlaylistProxy()) {
            const ArrayPtr ancestors = ancestorsOfLibraryItem(v);
            PMLibraryContainerPtr playlist = ancestors && !ancestors->isEmpty() ? PMContainerPtr(ancestors->at(0)) : nullptr;
            if (playlist)
                staticEntries.append({playlist, movie->uniqueLibraryID()});
            continue;
        }
        if (movie && movie->isExternalMediaItem()) {
            if (!movie->path().isEmpty())
                blacklistPaths.append(movie->path());
            throughProxy = throughProxy || movie->isProxy();
            continue;
        }
        if (movie && movie->isProxy()) {
            throughProxy = true;
            const Value original = movie->nonProxySelf();
            appendOnce(originalsViaProxies, originalsViaProxiesSet, original);
            appendOnce(toRemove, toRemoveSet, original);
            continue;
        }
        if (PMItem(v))
            appendOnce(toRemove, toRemoveSet, v);
    }

    bool changed = false;
    auto removeStaticEntries = [&] {
        if (dry)
            return;
        for (const auto& [playlist, id] : staticEntries) {
            const ArrayPtr ids = playlist->value(kStaticProxies).array();
            if (!ids)
                continue;
            for (qsizetype i = 0; i < ids->count(); ++i)
                if (ids->at(i).isString() && ids->at(i).string() == id) {
                    ids->removeAt(i);
                    playlist->invalidateChildren();
                    changed = true;
                    break;
                }
        }
    };
    // The end without removal (step 8) and the end after a change (step 9).
    auto finish = [&]() -> bool {
        if (!changed) {
            if (U)
                releaseFrozenSelections();
            return false;
        }
        saveLibrarySoon();
        if (U) {
            platform::dispatchAsyncMain([this] { updateLibraryWithFrozenSelections(); });
            redrawPlayerView();
        }
        return true;
    };
    // Nothing was confirmed: nothing changes.
    auto cancel = [&]() -> bool {
        if (U)
            releaseFrozenSelections();
        return false;
    };

    if (toRemove.isEmpty() && blacklistPaths.isEmpty()) {
        removeStaticEntries();
        return finish();
    }

    // The movies concerned: those below the items, then the originals reached through proxies.
    const ArrayPtr toRemoveArray = Array::make();
    for (const Value& v : toRemove)
        toRemoveArray->append(v);
    const ArrayPtr movies = uniqueMovieRepresentationsFromItems(toRemoveArray, {}, false, true, false);
    if (!originalsViaProxies.isEmpty()) {
        ItemSet movieSet;
        for (const Value& v : *movies)
            movieSet.insert(v.objectPointer());
        for (const Value& original : originalsViaProxies)
            appendOnce(*movies, movieSet, original);
    }

    // The deletion question.
    bool askedToDelete = false;
    if (confirm) {
        QString key;
        QString text;
        if (throughProxy) {
            key = QStringLiteral("Delete Smart Group Children Without Confirmation");
            text = localized("Are you sure you want to delete the selected files from your library?");
        } else if (movies->isEmpty()) {
            key = QStringLiteral("Delete Containers Without Confirmation");
            text = localized("Are you sure you want to delete the selected items?");
        } else {
            key = QStringLiteral("Delete Items Without Confirmation");
            text = localized("Are you sure you want to delete the selected files from your library?");
        }
        if (!defaults().boolForKey(key)) {
            if (dry) {
                *dryRun = true;
                return false;
            }
            const long answer = PMRunAlert(localized("Delete Items?"), text, localized("Delete"), localized("Cancel"),
                                           localized("Delete and Stop Asking for Confirmation"));
            if (answer == PMAlertSecondButtonReturn)
                return cancel();
            if (answer == PMAlertThirdButtonReturn) {
                defaults().setBool(true, key);
                if (_maintenanceWindow.setConfirmationSwitch)
                    _maintenanceWindow.setConfirmationSwitch(key, false);
            }
            askedToDelete = true;
        }
    }

    // The files to move to the Trash: those of the movies concerned inside the library
    // folders, never one that a record staying in the library still refers to.
    QStringList filesToTrash;
    const QStringList libraries = libraryPaths();
    if (dry && gDeferredDiskCheck) {
        // A menu's title: the files are looked at later, off the main thread.
        const bool wouldAsk = confirmTrash && confirm && !askedToDelete && !defaults().boolForKey(prefs::keys::MoveFilesToTrashWithoutConfirmation);
        if (!wouldAsk || defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder) || libraries.isEmpty())
            return false;
        QStringList candidates;
        QSet<QString> seen;
        for (const Value& v : *movies) {
            PMMovieRepresentationPrototype* movie = PMMovie(v);
            const QString path = movie ? movie->path() : QString();
            if (path.isEmpty() || seen.contains(path))
                continue;
            seen.insert(path);
            if (std::any_of(libraries.begin(), libraries.end(), [&](const QString& l) { return isEqualToOrChildOfPath(path, l) && path != l; }))
                candidates.append(path);
        }
        if (candidates.isEmpty())
            return false;
        *gDeferredDiskCheck = [candidates, held = pathsHeldByLibrary(*this, &toRemoveSet)] {
            QStringList existing;
            for (const QString& path : candidates)
                if (QFileInfo::exists(path))
                    existing.append(path);
            if (existing.isEmpty())
                return false;
            const QSet<QString> reached = filesStillReached(existing, held);
            return std::any_of(existing.begin(), existing.end(), [&](const QString& path) { return !reached.contains(path); });
        };
        return false;
    }
    if (!defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder) && !libraries.isEmpty()) {
        QSet<QString> seen;
        for (const Value& v : *movies) {
            PMMovieRepresentationPrototype* movie = PMMovie(v);
            const QString path = movie ? movie->path() : QString();
            if (path.isEmpty() || seen.contains(path))
                continue;
            seen.insert(path);
            if (!QFileInfo::exists(path))
                continue;
            if (std::any_of(libraries.begin(), libraries.end(), [&](const QString& l) { return isEqualToOrChildOfPath(path, l) && path != l; }))
                filesToTrash.append(path);
        }
        if (!filesToTrash.isEmpty()) {
            const QSet<QString> reached = filesStillReached(filesToTrash, pathsHeldByLibrary(*this, &toRemoveSet));
            filesToTrash.removeIf([&](const QString& path) { return reached.contains(path); });
        }
    }
    bool trash = true;
    if (!filesToTrash.isEmpty() && confirmTrash && !defaults().boolForKey(prefs::keys::MoveFilesToTrashWithoutConfirmation)) {
        // clang-format off
        const QString text = platform::format(localized("Pellis is currently configured to keep your library folder organized. The following files that are about to be removed from your library are located inside said library folder:") + QStringLiteral("\n\n%@\n\n") + localized("Do you want to move them to the Trash?"),
                                              namesListForItems(nullptr, filesToTrash, true, true, {}));
        // clang-format on
        if (!askedToDelete && confirm) {
            if (dry) {
                *dryRun = true;
                return false;
            }
            const long answer = PMRunAlert(localized("Move Files to Trash?"), text, localized("Move Files to Trash"), localized("Cancel"),
                                           localized("Keep Files"));
            if (answer == PMAlertSecondButtonReturn)
                return cancel();
            trash = answer == PMAlertFirstButtonReturn;
        } else {
            if (dry)
                return false;
            // Nobody there to answer (a quit without a screen): the files stay.
            trash = PMRunAlert(localized("Move Files to Trash?"), text, localized("Move Files to Trash"), localized("Keep Files"), {},
                               PMAlertSecondButtonReturn)
                == PMAlertFirstButtonReturn;
        }
        if (!trash) {
            blacklistPaths += filesToTrash;
            filesToTrash.clear();
        }
    }
    if (dry)
        return false;

    // Removal.
    removeStaticEntries();
    if (U)
        letGoOfCurrentMovieIfAmong(*this, toRemove, true);
    for (const Value& v : toRemove) {
        PMLibraryItem* item = PMItem(v);
        if (!item->topLevelRole().isEmpty())
            continue; // storages stay
        qsizetype index = -1;
        const Value self = item->nonProxySelf();
        const ArrayPtr siblings = siblingsOfLibraryItem(self, &index);
        if (siblings && index >= 0 && index < siblings->count() && PMIsSameItem(siblings->at(index), self)) {
            siblings->removeAt(index);
            changed = true;
        } else {
            PMLog("cannot delete <%@> ", item->displayName());
        }
    }
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        if (U)
            letGoOfCurrentMovieIfAmong(*this, Array{v}, false);
        if (auto& removeImages = PMMovieRepresentationServices::shared().removeImagesOfMovieRepresentation)
            removeImages(*movie);
    }
    if (!filesToTrash.isEmpty()) {
        // The index forgets the records before their files go: a crash in between leaves
        // a file that the search for new files offers again, never a record of a file
        // that is gone.
        if (_libraryIsLoaded)
            saveLibrary();
        // What the tree holds now decides: a file another record still refers to stays.
        const QSet<QString> kept = filesStillReached(filesToTrash, pathsHeldByLibrary(*this, nullptr));
        defaults().removeObjectForKey(kDeleteIfTrashingFails);
        defaults().removeObjectForKey(kKeepIfTrashingFails);
        for (const QString& path : std::as_const(filesToTrash)) {
            if (kept.contains(path))
                continue;
            if (moveFileToTrashOrDeleteWithoutAsking(path, false, filesToTrash.size() > 1))
                deleteFolder(QFileInfo(path).path(), libraries);
        }
        defaults().removeObjectForKey(kDeleteIfTrashingFails);
        defaults().removeObjectForKey(kKeepIfTrashingFails);
    }
    if (!blacklistPaths.isEmpty()) {
        addBlacklistPaths(blacklistPaths);
        changed = true;
    }
    return finish();
}
