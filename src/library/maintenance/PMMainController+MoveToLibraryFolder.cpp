// Moving the files of movies into another library folder (to free space on one volume),
// one file after another on a background queue. After each file the main thread points the
// record at its new place and updates the progress; the user can stop after the file in
// hand. While a move runs, quitting and changing the library are refused and the search
// for new files waits. Files are never overwritten, and a file that cannot move stays.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMMaintenanceShared.h"

#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/FileOperations.h"
#include "platform/Format.h"
#include "platform/Queues.h"
#include "platform/Responder.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtGui/QIcon>
#include <QtWidgets/QMenu>

#include <algorithm>
#include <atomic>
#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

using pmmaintenance::localized;

QList<PMMainController::MoveToLibraryFolderTarget> PMMainController::moveToLibraryFolderTargetsForMovieRepresentations(const ArrayPtr& movies)
{
    QList<MoveToLibraryFolderTarget> targets;
    if (_numberOfRemainingItemsMovingToLibraryFolder != 0) {
        targets.append({localized("Stop Moving Files"), QString(), nullptr});
        return targets;
    }
    QStringList candidates;
    for (const QString& folder : libraryPaths())
        if (QFileInfo(folder).isDir())
            candidates.append(folder);
    QStringList folders;
    const ArrayPtr movable = Array::make();
    for (const Value& v : movies ? *movies : Array()) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie || !movie->canMove() || movie->isMoving() || !QFileInfo::exists(movie->path()))
            continue;
        bool joins = false;
        for (const QString& folder : std::as_const(candidates)) {
            if (isEqualToOrChildOfPath(movie->path(), folder))
                continue;
            joins = true;
            if (!folders.contains(folder))
                folders.append(folder);
        }
        if (joins && movable->indexOfIdentical(v.objectPointer()) < 0)
            movable->append(v);
    }
    for (const QString& folder : std::as_const(folders))
        targets.append({readablePathRepresentation(folder), folder, movable});
    std::sort(targets.begin(), targets.end(),
              [](const MoveToLibraryFolderTarget& a, const MoveToLibraryFolderTarget& b) { return PMCompareNamesBySortString(a.title, b.title) < 0; });
    return targets;
}

void PMMainController::addMoveToLibraryFolderSubmenuForMovieRepresentations(const ArrayPtr& movies, QMenu* toMenu)
{
    if (!toMenu)
        return;
    const QList<MoveToLibraryFolderTarget> targets = moveToLibraryFolderTargetsForMovieRepresentations(movies);
    if (targets.isEmpty())
        return;
    if (targets.constFirst().folder.isEmpty()) {
        // The same command as in the location menus, so that validation and the menu's
        // own dispatch treat it as one: it stops the move after the file in hand.
        platform::setMenuItemAction(toMenu->addAction(targets.constFirst().title), QStringLiteral("moveToLibraryFolder"), this);
        return;
    }
    auto* submenu = new QMenu(localized("Move To"), toMenu);
    for (const MoveToLibraryFolderTarget& target : targets) {
        // A folder's name is the user's: an "&" in it is no shortcut letter.
        QAction* action = submenu->addAction(QIcon::fromTheme(QStringLiteral("folder")), platform::escapedMenuTitle(target.title));
        const QString folder = target.folder;
        const ArrayPtr items = target.items;
        // A handler item: validated like every other item of the menu, never a bare signal.
        platform::setMenuItemHandler(action, [this, folder, items](QAction*) { moveToLibraryFolder(folder, items); });
    }
    QAction* item = toMenu->addAction(localized("Move to Library Folder"));
    item->setMenu(submenu);
}

void PMMainController::moveToLibraryFolder(const QString& folder, const ArrayPtr& items)
{
    if (_numberOfRemainingItemsMovingToLibraryFolder != 0) {
        _stopMovingToLibraryFolder = true;
        return;
    }
    if (folder.isEmpty() || !items)
        return;
    struct Work {
        QStringList paths;
        QList<std::shared_ptr<PMMovieRepresentationPrototype>> records;
        QList<std::uint64_t> sizes;
        std::uint64_t totalBytes = 0;
        std::atomic<bool> stop{false};
        // Other records of a moved file follow it.
        pmmaintenance::RecordsSharingPaths sharing;
    };
    auto work = std::make_shared<Work>();
    for (const Value& v : *items) {
        std::shared_ptr<PMMovieRepresentationPrototype> movie = PMMoviePtr(v);
        if (!movie)
            continue;
        const QString path = movie->path();
        if (path.isEmpty() || isEqualToOrChildOfPath(path, folder) || work->paths.contains(path))
            continue;
        if (PMItem(_currentMovieRepresentation) && PMIsSameItem(PMItem(_currentMovieRepresentation)->nonProxySelf(), movie->nonProxySelf())) {
            // The player lets go of the file that moves, and of its record.
            chooseNoMovie();
            if (_updatePlaybackControls)
                _updatePlaybackControls();
            redrawPlayerView();
        }
        movie->setIsMoving(true);
        const std::uint64_t size = movie->movieFileSize();
        work->paths.append(path);
        work->records.append(movie);
        work->sizes.append(size);
        work->totalBytes += size;
    }
    if (work->paths.isEmpty())
        return;
    work->sharing = pmmaintenance::recordsSharingPaths(*this);
    _numberOfRemainingItemsMovingToLibraryFolder = int(work->paths.size());
    ++_nonLibraryFilesCheckSuppressionLevel;
    _movingToLibraryFolderFraction = 0;
    updateApplicationIcon();

    const std::function<void(const QString&)> willMove = _willMoveFileToLibraryFolder;
    platform::dispatchAsyncGlobal([this, work, folder, willMove] {
        qsizetype moved = 0;
        std::uint64_t movedBytes = 0;
        auto stayed = std::make_shared<QStringList>();
        for (qsizetype i = 0; i < work->paths.size() && !work->stop; ++i) {
            const QString& path = work->paths.at(i);
            if (willMove)
                willMove(path);
            const QString target = availablePath(folder + u'/' + QFileInfo(path).fileName());
            const auto record = work->records.at(i);
            const qsizetype movedSoFar = moved + 1;
            const std::uint64_t bytesSoFar = movedBytes + work->sizes.at(i);
            // Each moved file is recorded on the main thread; one copied to another file
            // system is recorded, and the index saved, before its source goes.
            const auto committedPath = std::make_shared<QString>();
            const auto commit = [this, work, record, path, committedPath, movedSoFar, bytesSoFar](const QString& newPath, bool copied) {
                *committedPath = newPath;
                platform::dispatchSyncMain([this, work, record, path, newPath, movedSoFar, bytesSoFar, copied] {
                    record->setURL(QUrl::fromLocalFile(newPath));
                    record->setOriginalURLFileAttributes();
                    pmmaintenance::followMovedFile(work->sharing, path, newPath);
                    if (copied && _libraryIsLoaded)
                        saveLibrary();
                    if (!_stopMovingToLibraryFolder) {
                        _numberOfRemainingItemsMovingToLibraryFolder = int(work->paths.size() - movedSoFar);
                        _movingToLibraryFolderFraction = work->totalBytes ? double(bytesSoFar) / double(work->totalBytes) : 0;
                        updateApplicationIcon();
                    } else {
                        work->stop = true;
                    }
                });
            };
            const auto revert = [this, work, record, path, committedPath] {
                platform::dispatchSyncMain([this, work, record, path, committedPath] {
                    record->setURL(QUrl::fromLocalFile(path));
                    pmmaintenance::followMovedFile(work->sharing, *committedPath, path);
                    if (_libraryIsLoaded)
                        saveLibrary();
                });
            };
            QString error;
            if (target.isEmpty() || !pmmaintenance::moveItemCommitting(path, target, commit, revert, &error)) {
                PMLog("cannot move <%@> to <%@>", path, target);
                stayed->append(path);
                continue;
            }
            if (!error.isEmpty())
                PMLog("%@", error); // a folder whose original could be removed only in part
            moved = movedSoFar;
            movedBytes = bytesSoFar;
        }
        platform::dispatchAsyncMain([this, work, moved, stayed] {
            for (const auto& record : work->records)
                record->setIsMoving(false);
            if (moved > 0) {
                freezeSelections();
                updateLibraryAndInvalidateDependencies(true, true, true);
                unfreezeSelections();
                saveLibrary();
            }
            _numberOfRemainingItemsMovingToLibraryFolder = 0;
            --_nonLibraryFilesCheckSuppressionLevel;
            _stopMovingToLibraryFolder = false;
            updateApplicationIcon();
            if (!stayed->isEmpty())
                PMRunAlert(localized("Some Files Could Not Be Moved"),
                           platform::format(localized("The following files stayed where they were:\n\n%@"),
                                            namesListForItems(nullptr, *stayed, true, false, {})));
        });
    });
}
