// Keeping the library folders in order: every movie file of the library's own movie section
// and of the temporary storage lives at the place its position in the tree and its name
// give it. The organiser moves files inside the library folders to that place, moves or
// copies files from outside into them, or only reports what it would touch. Files are
// never overwritten: every transfer goes through the no-replace file operations, and a
// transfer that fails leaves the file where it was. Also here: automatic file names, the
// removal of subfolders that became empty, the list of names that confirmations show, and
// Move All / Copy All.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMMaintenanceShared.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/FileOperations.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

using pmmaintenance::defaults;
using pmmaintenance::localized;

namespace {

// Set while automatic names are computed and not yet removed again.
bool gAutomaticNamesPending = false;

QString parentFolder(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash > 0 ? path.left(slash) : QStringLiteral("/");
}

// Gives every movie of the library the file name that its name (or its series) and the
// order of the oldest dates make unique, under "Auto-Filename", until the next turn of the
// run loop.
void computeAutomaticFilenames(PMMainController& c)
{
    if (!PMCachedSettings::determineNamesAutomatically || gAutomaticNamesPending)
        return;
    gAutomaticNamesPending = true;
    const bool seriesGrouping = defaults().boolForKey(prefs::keys::BatchRenameSequencesPreferSeriesPrefix);
    QString separator = QStringLiteral(".");
    const Value separatorSetting = defaults().objectForKey(prefs::keys::BatchRenameSequencesPreferSeriesPrefixIndexSeparator);
    if (!separatorSetting.isNull())
        separator = separatorSetting.isString() ? separatorSetting.string() : separatorSetting.description();

    ArrayPtr records = Array::make();
    records->reserve(c._nonProxyRawMovieRepresentationsByID.size());
    for (const PMMovieRepresentationOriginalPtr& record : std::as_const(c._nonProxyRawMovieRepresentationsByID))
        records->append(Value(record));
    records = PMSortedLibraryItems(records, QStringLiteral("GroupListOldestDate"), false);

    struct Entry {
        QList<PMMovieRepresentationPrototype*> records;
        bool series = false;
    };
    QHash<QString, QList<Entry>> entriesByName;
    QStringList names; // in the order met
    QHash<QString, std::pair<QString, qsizetype>> seriesEntries; // prefix -> (name, entry)
    for (const Value& v : *records) {
        PMMovieRepresentationPrototype* record = PMMovie(v);
        if (!record)
            continue;
        QString name;
        bool series = false;
        QString prefix;
        if (seriesGrouping) {
            prefix = record->seriesIDPrefix();
            if (!prefix.isEmpty()) {
                const QString seriesName = c.displayNameForSeriesIDPrefix(prefix);
                if (!seriesName.isEmpty()) {
                    if (auto it = seriesEntries.constFind(prefix); it != seriesEntries.constEnd()) {
                        entriesByName[it->first][it->second].records.append(record);
                        continue;
                    }
                    name = seriesName;
                    series = true;
                }
            }
        }
        if (!series)
            name = record->displayNameWithExtension(false);
        name = cleanFilename(name);
        if (name.isEmpty())
            name = QStringLiteral("?");
        QList<Entry>& list = entriesByName[name];
        if (list.isEmpty())
            names.append(name);
        list.append(Entry{{record}, series});
        if (series)
            seriesEntries.insert(prefix, {name, list.size() - 1});
    }

    for (const QString& name : std::as_const(names)) {
        const QList<Entry>& list = entriesByName[name];
        for (qsizetype i = 0; i < list.size(); ++i) {
            const Entry& entry = list.at(i);
            const bool numberedSeries = entry.series && entry.records.size() > 1;
            for (qsizetype k = 1; k <= entry.records.size(); ++k) {
                PMMovieRepresentationPrototype* record = entry.records.at(k - 1);
                QString filename;
                if (list.size() == 1) {
                    filename = numberedSeries ? platform::format(u"%@ %lu", name, (unsigned long long)k) : name;
                } else {
                    filename = platform::format(u"%@ %lu", name, (unsigned long long)(i + 1));
                    if (numberedSeries)
                        filename = platform::format(u"%@%@%lu", filename, separator, (unsigned long long)k);
                }
                const QString extension = record->filenameExtension();
                if (!extension.isEmpty())
                    filename += u'.' + extension;
                record->userSettings()->setValue(QStringLiteral("Auto-Filename"), filename);
            }
        }
    }

    platform::dispatchAsyncMain([&c] {
        for (const PMMovieRepresentationOriginalPtr& record : std::as_const(c._nonProxyRawMovieRepresentationsByID))
            record->userSettings()->remove(QStringLiteral("Auto-Filename"));
        gAutomaticNamesPending = false;
    });
}

struct OrganizerRun {
    const PMMainController::FileLocationsRequest& request;
    QStringList bases;
    bool showsProgress = false;
    bool cancelled = false;
    // Records that name one file with others follow it together. The first of them met
    // places the file (or finds it in place); the others leave it there, so that the file
    // does not go back and forth between their places.
    pmmaintenance::RecordsSharingPaths sharing{};
    QHash<QString, const PMMovieRepresentationPrototype*> placedBy{};
};

bool progressCancelled(PMMainController& c, OrganizerRun& run, qsizetype n, qsizetype total, PMLibraryItem& item)
{
    if (!c._progressSheetIsVisible) {
        const double started = run.request.startDate ? run.request.startDate->secondsSince1970 : platform::Date::now().secondsSince1970;
        if (platform::Date::now().secondsSince1970 - started < 2)
            return false;
        c.showProgressSheet(true);
    }
    const QString text = platform::format(run.request.showProgress, QString::number(n), QString::number(total), item.displayName());
    const int percent = int(100 * n / (total + 1));
    if (c._maintenanceWindow.progressUpdate)
        c._maintenanceWindow.progressUpdate(text, percent);
    return c._maintenanceWindow.progressCancelPressed && c._maintenanceWindow.progressCancelPressed();
}

// Whether the ancestors (innermost first) still hold the item as a direct child.
bool ancestorsHoldItem(PMMainController& c, const ArrayPtr& ancestors, const Value& item)
{
    if (!ancestors)
        return false;
    if (ancestors->isEmpty())
        return c._library->indexOfIdentical(item.objectPointer()) >= 0;
    PMLibraryContainer* parent = PMContainer(ancestors->at(0));
    return parent && parent->rawChildren()->indexOfIdentical(item.objectPointer()) >= 0;
}

bool organizerWalk(PMMainController& c, const ArrayPtr& items, ArrayPtr ancestors, OrganizerRun& run, bool top)
{
    const PMMainController::FileLocationsRequest& r = run.request;
    bool changed = false;
    const std::vector<Value> list = items->values(); // a copy: nothing below changes the tree, but be safe
    const qsizetype total = qsizetype(list.size());
    qsizetype n = 0;
    const PMLibraryContainerPtr library = c.existingSourceStorage();
    const PMLibraryContainerPtr temporary = c.temporaryStorage();
    for (const Value& listed : list) {
        ++n;
        PMLibraryItem* listedItem = PMItem(listed);
        if (!listedItem)
            continue;
        const Value item = listedItem->nonProxySelf();
        if (top && run.showsProgress && progressCancelled(c, run, n, total, *listedItem)) {
            run.cancelled = true;
            return changed;
        }
        // Below the top, the items are the children of the container just walked into:
        // its ancestors hold them (looking them up in a section of 100,000 movies, one by
        // one, made the walk quadratic).
        const bool childOfWalkedContainer = !top && item.objectPointer() == listed.objectPointer();
        if (!childOfWalkedContainer && !ancestorsHoldItem(c, ancestors, item)) {
            ancestors = c.ancestorsOfLibraryItem(item);
            if (!ancestors)
                ancestors = Array::make();
        }
        if (PMLibraryContainer* container = PMContainer(item)) {
            if (container->isSmartGroup())
                continue;
            if (!container->topLevelRole().isEmpty() && container != library.get() && container != temporary.get())
                continue;
            ArrayPtr inner = Array::make();
            inner->append(item);
            for (const Value& a : *ancestors)
                inner->append(a);
            changed = organizerWalk(c, container->filteredChildren(), inner, run, false) || changed;
            if (run.cancelled)
                return changed;
            continue;
        }
        PMMovieRepresentationPrototype* movie = PMMovie(item);
        if (!movie || movie->isExternalMediaItem())
            continue;
        const QString path = movie->path();
        if (path.isEmpty() || movie->isMissing() || (movie->isMoving() && !r.includeMovingFiles))
            continue;
        if (const auto owner = run.placedBy.constFind(path); owner != run.placedBy.cend() && *owner != movie)
            continue;
        const bool shared = !run.sharing.isEmpty() && run.sharing.contains(precomposedStringWithCanonicalMapping(path));
        if (shared)
            run.placedBy.insert(path, movie);
        QString base;
        const QString suggested = movie->suggestedPathForLibraryAncestors(ancestors, run.bases, &base, false);
        // Exactly: names that differ only in letter case are different files here, and a
        // record renamed from "holiday" to "Holiday" is not yet in place.
        if (suggested.isEmpty() || suggested == path)
            continue;
        const bool inside = isEqualToOrChildOfPath(path, base);
        if (inside ? !r.organize : !(r.move || r.copy))
            continue;
        if (r.preflightCollection) {
            // A dry run makes no folders: the free name is looked for where it would be.
            bool match = false;
            const QString available = availablePathWithCurrentPath(suggested, path, &match);
            if (!available.isEmpty() && !match && QFileInfo::exists(path))
                r.preflightCollection->append(item);
            continue;
        }
        bool match = false;
        const QString available = movie->availablePathForLibraryAncestors(ancestors, run.bases, &base, &match);
        if (available.isEmpty() || match)
            continue;
        const bool moves = inside || r.move;
        QString finalPath;
        QString error;
        bool done = false;
        if (moves) {
            // A file copied to another file system is recorded (and the index saved) before
            // its source goes, so that a crash in between loses no record.
            done = pmmaintenance::moveItemCommitting(
                path, available,
                [&](const QString& newPath, bool copied) {
                    finalPath = newPath;
                    movie->setURL(QUrl::fromLocalFile(newPath));
                    pmmaintenance::followMovedFile(run.sharing, path, newPath);
                    if (copied && c._libraryIsLoaded)
                        c.saveLibrary();
                },
                [&] {
                    movie->setURL(QUrl::fromLocalFile(path));
                    pmmaintenance::followMovedFile(run.sharing, finalPath, path);
                    if (c._libraryIsLoaded)
                        c.saveLibrary();
                },
                &error);
        } else {
            done = platform::copyItem(path, available, platform::NameConflict::UseFreeName, &finalPath, &error);
        }
        if (!done) {
            PMLog("cannot %@ <%@> to <%@>: %@", moves ? "move" : "copy", path, available, error);
            c._filesThatStayed.append(path);
            // The folders made for it hold nothing now.
            c.deleteFolder(parentFolder(available), base);
            continue;
        }
        if (!error.isEmpty())
            PMLog("%@", error); // a folder whose original could be removed only in part
        if (moves)
            c.deleteFolder(parentFolder(path), base);
        if (!moves)
            movie->setURL(QUrl::fromLocalFile(finalPath.isEmpty() ? available : finalPath));
        else if (shared)
            run.placedBy.insert(movie->path(), movie);
        changed = true;
    }
    return changed;
}

} // namespace

pmmaintenance::RecordsSharingPaths pmmaintenance::recordsSharingPaths(PMMainController& c)
{
    QHash<QString, QList<PMMovieRepresentationOriginalPtr>> byPath;
    byPath.reserve(c._nonProxyRawMovieRepresentationsByID.size());
    for (const PMMovieRepresentationOriginalPtr& record : std::as_const(c._nonProxyRawMovieRepresentationsByID))
        if (record && !record->isExternalMediaItem())
            if (const QString path = record->path(); !path.isEmpty())
                byPath[precomposedStringWithCanonicalMapping(path)].append(record);
    RecordsSharingPaths shared;
    for (auto it = byPath.cbegin(); it != byPath.cend(); ++it)
        if (it.value().size() > 1)
            shared.insert(it.key(), it.value());
    return shared;
}

void pmmaintenance::followMovedFile(const RecordsSharingPaths& shared, const QString& from, const QString& to)
{
    if (shared.isEmpty() || from.isEmpty() || to.isEmpty())
        return;
    const QString key = precomposedStringWithCanonicalMapping(from);
    const auto it = shared.constFind(key);
    if (it == shared.cend())
        return;
    for (const PMMovieRepresentationOriginalPtr& record : it.value())
        if (precomposedStringWithCanonicalMapping(record->path()) == key)
            record->setURL(QUrl::fromLocalFile(to));
}

bool pmmaintenance::moveItemCommitting(const QString& source, const QString& destination,
                                       const std::function<void(const QString& path, bool copied)>& commit, const std::function<void()>& revert,
                                       QString* error)
{
    int reason = 0;
    if (platform::renameWithoutReplacing(source, destination, error, &reason)) {
        commit(destination, false);
        return true;
    }
    if (reason != EXDEV) {
        QString finalPath;
        if (!platform::moveItem(source, destination, platform::NameConflict::UseFreeName, &finalPath, error))
            return false;
        commit(finalPath.isEmpty() ? destination : finalPath, false);
        return true;
    }
    QString copy;
    if (!platform::copyItem(source, destination, platform::NameConflict::UseFreeName, &copy, error))
        return false;
    if (copy.isEmpty())
        copy = destination;
    commit(copy, true);
    struct stat st;
    const QByteArray native = platform::encodeFileName(source);
    const bool folder = ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!folder) {
        // A file is removed whole or not at all: when it stays, the record goes back to
        // it (and the index says so) before the copy goes, so one copy is always named.
        if (::unlink(native.constData()) == 0 || errno == ENOENT)
            return true;
        const int err = errno;
        revert();
        removeItemAtPath(copy);
        if (error)
            *error = platform::format(u"cannot remove <%@> after copying it: %@", source, QString::fromLocal8Bit(std::strerror(err)));
        return false;
    }
    // A folder (a bundle, a sequence) may go only in part. The complete copy is committed
    // and is never deleted: the record stays on it, and what is left of the source is said.
    if (!removeItemAtPath(source) && error)
        *error = platform::format(u"moved <%@>, but parts of the original could not be removed", source);
    return true;
}

bool PMMainController::updateFileLocations(const FileLocationsRequest& request)
{
    if (!request.organize && !request.move && !request.copy)
        return false;
    computeAutomaticFilenames(*this);
    ArrayPtr items = request.items;
    if (!items) {
        items = Array::make();
        items->append(Value(pellisSourceStorageSection()));
        items->append(Value(temporaryStorage()));
    }
    OrganizerRun run{request, libraryPaths()};
    run.sharing = pmmaintenance::recordsSharingPaths(*this);
    run.showsProgress = !request.showProgress.isEmpty();
    _filesThatStayed.clear();
    bool changed = organizerWalk(*this, items, request.ancestors, run, true);
    if (changed && !run.cancelled && request.runTwice && !run.showsProgress && !request.preflightCollection) {
        organizerWalk(*this, items, request.ancestors, run, true);
        changed = true;
    }
    if (run.showsProgress && !run.cancelled && _progressSheetIsVisible && _maintenanceWindow.progressUpdate)
        _maintenanceWindow.progressUpdate(QString(), 100);
    return changed;
}

void PMMainController::organizeLibraryFolderForUpdate()
{
    FileLocationsRequest request;
    request.organize = true;
    updateFileLocations(request);
}

bool PMMainController::organizeLibraryFiles()
{
    FileLocationsRequest request;
    request.organize = true;
    request.runTwice = PMCachedSettings::determineNamesAutomatically;
    return updateFileLocations(request);
}

void PMMainController::organizeLibraryFilesCommand()
{
    freezeSelections();
    organizeLibraryFiles();
    updateLibraryWithFrozenSelections();
    saveLibrary();
}

bool PMMainController::transferAllToLibraryFolder(bool copy)
{
    Array collected;
    FileLocationsRequest preflight;
    preflight.move = !copy;
    preflight.copy = copy;
    preflight.preflightCollection = &collected;
    updateFileLocations(preflight);
    if (collected.isEmpty())
        return true;
    const ArrayPtr records = Array::make();
    for (const Value& v : collected)
        records->append(v);
    const QString names = namesListForItems(records, {}, true, false, {});
    const long answer = copy
        ? PMRunAlert(localized("Copy Files to Library Folder?"),
                     // clang-format off
                     platform::format(localized("The following files are currently located outside your library folder:\n\n%@\n\nDo you want to copy them to your library folder?\n\nPlease note that - depending on the size of those files - this operation might take some time and consume a significant amount of disk space."),
                                      names),
                     // clang-format on
                     localized("Copy Files"), localized("Cancel"))
        : PMRunAlert(localized("Move Files to Library Folder?"),
                     // clang-format off
                     platform::format(localized("The following files are currently located outside your library folder:\n\n%@\n\nDo you want to move them to your library folder?"),
                                      names),
                     // clang-format on
                     localized("Move Files"), localized("Cancel"));
    if (answer != PMAlertFirstButtonReturn)
        return false;
    freezeSelections();
    if (copy)
        showProgressSheet(true);
    FileLocationsRequest transfer;
    transfer.items = records;
    transfer.move = !copy;
    transfer.copy = copy;
    transfer.showProgress = copy ? localized("Copying file %@ of %@: %@") : localized("Moving file %@ of %@: %@");
    transfer.startDate = platform::Date::now();
    updateFileLocations(transfer);
    const QStringList stayed = _filesThatStayed;
    if (_progressSheetIsVisible)
        hideProgressSheet();
    updateLibraryAndInvalidateDependencies(true, false, true);
    unfreezeSelections();
    saveLibrary();
    if (!stayed.isEmpty())
        PMRunAlert(copy ? localized("Some Files Could Not Be Copied") : localized("Some Files Could Not Be Moved"),
                   platform::format(localized("The following files stayed where they were:\n\n%@"), namesListForItems(nullptr, stayed, true, false, {})));
    return true;
}

bool PMMainController::deleteFolder(const QString& folder, const QStringList& bases)
{
    if (folder.isEmpty())
        return false;
    if (bases.isEmpty())
        return removeFolderIfVirtuallyEmpty(folder);
    bool inside = false;
    for (const QString& base : bases)
        if (isEqualToOrChildOfPath(folder, base) && folder.toLower() != base.toLower()) {
            inside = true;
            break;
        }
    if (!inside || !removeFolderIfVirtuallyEmpty(folder))
        return false;
    deleteFolder(parentFolder(folder), bases);
    return true;
}

bool PMMainController::deleteFolder(const QString& folder, const QString& base)
{
    return deleteFolder(folder, base.isEmpty() ? QStringList() : QStringList{base});
}

QString PMMainController::namesListForItems(const ArrayPtr& items, const QStringList& files, bool sort, bool listReadablePaths,
                                            const QString& relativeToPath)
{
    QStringList entries;
    if (items) {
        const ArrayPtr sorted = sort ? PMSortedLibraryItems(items, kGroupListName, false) : items;
        for (const Value& v : *sorted) {
            PMLibraryItem* item = PMItem(v);
            if (!item)
                continue;
            const QString base = listReadablePaths ? (relativeToPath.isEmpty() ? libraryFolderForItem(v) : relativeToPath) : QString();
            entries.append(base.isEmpty() || item->path().isEmpty()
                               ? item->displayName()
                               : readablePathRepresentationRelativeToPath(item->path(), base, true, true));
        }
    } else {
        QStringList paths = files;
        if (sort)
            std::sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) { return PMCompareSortStrings(a, b) < 0; });
        for (const QString& path : std::as_const(paths)) {
            const QString base = listReadablePaths ? (relativeToPath.isEmpty() ? libraryFolderForPath(path) : relativeToPath) : QString();
            entries.append(base.isEmpty() ? displayFilename(path) : readablePathRepresentationRelativeToPath(path, base, true, true));
        }
    }
    QStringList lines;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i == 9 && entries.size() > 10) {
            lines.append(QStringLiteral("• ") + platform::format(localized("(%@ more)"), (long long)(entries.size() - 9)));
            break;
        }
        lines.append(QStringLiteral("• ") + entries.at(i));
    }
    return lines.join(u'\n');
}
