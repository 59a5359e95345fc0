// Files that reached a library folder without passing through the program (copied there in
// the file manager, downloaded, left by another program) are found by a search of the
// library folders and offered to the user, who may add them, ignore them for good (the
// blacklist) or stop the automatic search. The search runs in the background against a
// snapshot of the library's table of records by path; a result that arrives after the
// library changed is dropped, and the folders' timestamps are only recorded once their
// result was handed over, so that nothing is skipped unseen.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMMaintenanceShared.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/Bookmark.h"
#include "platform/FileOperations.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <memory>
#include <optional>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

using pmmaintenance::defaults;
using pmmaintenance::localized;

namespace {

const QString kTimestamps = QStringLiteral("Library Check Timestamps");

using RecordsByPath = QHash<QString, PMMovieRepresentationOriginalPtr>;

bool isKnownPath(const RecordsByPath& table, const QString& path)
{
    bool ascii = true;
    for (QChar ch : path)
        if (ch.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    return table.contains(ascii ? path : precomposedStringWithCanonicalMapping(path));
}

// The names in a folder, each with whether it is (or, for a link or an unknown kind, may
// be) a folder. Unreadable: none.
QList<std::pair<QString, bool>> folderEntries(const QString& folder)
{
    QList<std::pair<QString, bool>> entries;
    DIR* dir = opendir(platform::encodeFileName(folder).constData());
    if (!dir)
        return entries;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const bool mayBeFolder = entry->d_type == DT_DIR || entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
        entries.append({platform::decodeFileName(name), mayBeFolder});
    }
    closedir(dir);
    return entries;
}

// A hidden partial copy that a copy killed half-way left behind: a regular file with the
// name of the copies' temporary files that no copy of this program is writing. Removed.
bool removeLeftoverCopy(const QString& folder, const QString& name)
{
    if (!platform::isTemporaryCopyName(name))
        return false;
    const QString path = folder + u'/' + name;
    const QByteArray native = platform::encodeFileName(path);
    struct stat status;
    if (::lstat(native.constData(), &status) != 0 || !S_ISREG(status.st_mode) || platform::isTemporaryCopyInProgress(path))
        return false;
    if (::unlink(native.constData()) == 0)
        PMLog("removed the partial copy <%@>", path);
    return true;
}

struct Crawl {
    const RecordsByPath& table;
    QString settingsPath;
    bool timestampsOn = false;
    DictionaryPtr storedTimestamps;
    DictionaryPtr newTimestamps; // made on first need
    QStringList found;
    bool debugLog = false;
    // Prepared once for the crawl: a blacklist of thousands of entries is then a hash
    // lookup (and the few wildcard patterns) per path.
    PMBlacklistMatcher blacklist = PMBlacklistMatcher::fromUserDefaults();
};

void visitFolder(Crawl& crawl, const QString& folder, int depth)
{
    if (depth > 256)
        return;
    bool unchanged = false;
    if (crawl.timestampsOn) {
        struct stat status;
        if (::stat(platform::encodeFileName(folder).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
            return;
        const QString key = platform::stringByAbbreviatingWithTildeInPath(folder);
        const double value = platform::Date{double(status.st_mtim.tv_sec) + double(status.st_mtim.tv_nsec) / 1e9}.secondsSinceReferenceDate();
        const Value stored = crawl.storedTimestamps ? crawl.storedTimestamps->value(key) : Value();
        const double storedValue = stored.isNumber() ? stored.toDouble() : 0;
        if (value - storedValue < 0.1) {
            // Its own entries are as they were; folders below may have changed all the same.
            unchanged = true;
            if (crawl.debugLog)
                PMLog("[Debug] skipping non-library file check for folder: %@", key);
            // Where the file system counts subfolders in the link count (2 + subfolders), a
            // folder without any needs no reading at all.
            if (status.st_nlink == 2)
                return;
        } else {
            if (!crawl.newTimestamps) {
                crawl.newTimestamps = Dictionary::make();
                if (crawl.storedTimestamps)
                    crawl.newTimestamps->map() = crawl.storedTimestamps->map();
            }
            crawl.newTimestamps->setValue(key, value);
        }
    }
    for (const auto& [name, mayBeFolder] : folderEntries(folder)) {
        if (removeLeftoverCopy(folder, name))
            continue;
        if (unchanged && !mayBeFolder)
            continue;
        const std::optional<QString> path = itemPathWithBasePath(name, folder, nullptr, true, true, &crawl.blacklist);
        if (!path)
            continue;
        if (isKnownPath(crawl.table, *path) || path->compare(crawl.settingsPath, Qt::CaseInsensitive) == 0
            || path->contains(QStringLiteral("no auto-check"), Qt::CaseInsensitive))
            continue;
        const bool descend = mayBeFolder && isFolderPath(*path) && !isPackagePath(*path);
        if (descend)
            visitFolder(crawl, *path, depth + 1);
        else if (!unchanged)
            crawl.found.append(*path);
    }
}

// The found files that are files of the library's own records under another name: a file
// renamed or moved by the program just before it was stopped (the index still names its old
// place until the search for missing files finds it there), or reached through another
// link. Its record's bookmark knows it by device and inode; offering it as new would give
// one file two records, or ask the user about files the library holds.
QStringList withoutFilesOfRecords(const QStringList& found, const RecordsByPath& table)
{
    if (found.isEmpty())
        return found;
    struct Identity {
        quint64 device = 0, inode = 0;
        qint64 birth = 0; // 0 where the file system keeps none
    };
    QList<std::optional<Identity>> identities;
    identities.reserve(found.size());
    QSet<QByteArray> inodeTexts;
    for (const QString& path : found) {
        struct statx status;
        if (::statx(AT_FDCWD, platform::encodeFileName(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &status) != 0) {
            identities.append(std::nullopt);
            continue;
        }
        const qint64 birth = (status.stx_mask & STATX_BTIME) ? qint64(status.stx_btime.tv_sec) * 1000000000 + status.stx_btime.tv_nsec : 0;
        identities.append(Identity{quint64(makedev(status.stx_dev_major, status.stx_dev_minor)), quint64(status.stx_ino), birth});
        inodeTexts.insert(QByteArray::number(quint64(status.stx_ino)));
    }
    // Only the bookmarks that mention one of those inode numbers are read: the others
    // cannot name any of the files, and a library holds many.
    QHash<std::pair<quint64, quint64>, platform::Bookmark> heldByIdentity;
    for (const PMMovieRepresentationOriginalPtr& record : table) {
        if (!record)
            continue;
        const QByteArray data = record->storedBookmark();
        if (data.isEmpty() || std::none_of(inodeTexts.cbegin(), inodeTexts.cend(), [&](const QByteArray& text) { return data.contains(text); }))
            continue;
        platform::Bookmark bookmark;
        if (platform::Bookmark::fromData(data, &bookmark) && bookmark.inode != 0)
            heldByIdentity.insert({bookmark.device, bookmark.inode}, bookmark);
    }
    if (heldByIdentity.isEmpty())
        return found;
    QStringList result;
    result.reserve(found.size());
    QStringList held;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (const std::optional<Identity>& identity = identities.at(i)) {
            const auto record = heldByIdentity.constFind({identity->device, identity->inode});
            // A later file given the freed inode number is told apart by its birth time.
            if (record != heldByIdentity.cend() && (identity->birth == 0 || record->birthTime == 0 || identity->birth == record->birthTime)) {
                held.append(found.at(i));
                continue;
            }
        }
        result.append(found.at(i));
    }
    if (!held.isEmpty())
        PMLog("not offering %lu files as new: the library holds them under other names (<%@>, ...)", qulonglong(held.size()), held.first());
    return result;
}

// Searches the folders; the timestamps the search recorded come back through `getTimestamps`.
QStringList crawlLibraryFolders(const QStringList& folders, const QString& settingsPath, bool allVolumes, const RecordsByPath& table,
                                DictionaryPtr* getTimestamps)
{
    Crawl crawl{table, settingsPath, false, nullptr, nullptr, {}, false};
    crawl.timestampsOn = defaults().boolForKey(prefs::keys::CheckForNonLibraryFilesViaTopLevelModificationDate);
    crawl.debugLog = defaults().boolForKey(prefs::keys::PMDebugLog);
    if (crawl.timestampsOn)
        crawl.storedTimestamps = defaults().dictionaryForKey(kTimestamps);
    for (const QString& folder : folders) {
        // External volumes are the folders that do not lie on the system volume.
        if (!allVolumes && platform::volumeRootForPath(folder) != QLatin1String("/"))
            continue;
        visitFolder(crawl, folder, 0);
    }
    crawl.found = withoutFilesOfRecords(crawl.found, table);
    std::sort(crawl.found.begin(), crawl.found.end(), [](const QString& a, const QString& b) { return PMCompareSortStrings(a, b) < 0; });
    if (getTimestamps)
        *getTimestamps = crawl.newTimestamps;
    return crawl.found;
}

void storeTimestamps(const DictionaryPtr& timestamps)
{
    if (timestamps)
        defaults().setObject(Value(timestamps), kTimestamps);
}

} // namespace

void PMMainController::autoDetectAndIncludeNonLibraryFiles()
{
    if (_nonLibraryFilesCheckSuppressionLevel != 0 || defaults().boolForKey(prefs::keys::DoNotCheckForNonLibraryFiles))
        return;
    if (_maintenanceWindow.isRunningModal ? _maintenanceWindow.isRunningModal() : QApplication::activeModalWidget() != nullptr)
        return;
    nonLibraryFilesFromAllVolumes(!defaults().boolForKey(prefs::keys::DoNotCheckExternalVolumesForNonLibraryFiles),
                                  [this](const QStringList& paths) {
                                      if (defaults().boolForKey(prefs::keys::DebugNonLibraryNameDuplicates)) {
                                          for (const QString& path : paths) {
                                              QStringList duplicates;
                                              const QString name = QFileInfo(path).fileName();
                                              for (auto it = _nonProxyRawMovieRepresentationsByPath.constBegin();
                                                   it != _nonProxyRawMovieRepresentationsByPath.constEnd(); ++it) {
                                                  const QString other = QFileInfo(it.key()).fileName();
                                                  if ((other.isEmpty() ? QStringLiteral(".none") : other).compare(name.isEmpty() ? QStringLiteral(".none") : name,
                                                                                                                   Qt::CaseInsensitive)
                                                      == 0)
                                                      duplicates.append(it.key());
                                              }
                                              if (duplicates.isEmpty())
                                                  continue;
                                              bringMainWindowToFront();
                                              const long answer = PMRunAlert(
                                                  localized("Are these duplicates?"),
                                                  platform::format(
                                                      localized("Detected new file:\n%@\n\nPossible duplicate(s):\n%@\n\nIf you suspect that any of these "
                                                                "point to the exact same file on the file system level, please take a screenshot of this "
                                                                "alert before clicking either button below and send it to us."),
                                                      path, duplicates.join(u'\n')),
                                                  localized("Continue"), localized("Cancel"));
                                              if (answer != PMAlertFirstButtonReturn)
                                                  return;
                                          }
                                      }
                                      includeNonLibraryFiles(paths, !defaults().boolForKey(prefs::keys::IncludeNonLibraryFilesWithoutPrompt));
                                  });
}

std::function<QStringList()> PMMainController::nonLibraryFilesSearch(bool allVolumes)
{
    return [folders = libraryPaths(), settingsPath = librarySettingsPath(), allVolumes, snapshot = _nonProxyRawMovieRepresentationsByPath] {
        return crawlLibraryFolders(folders, settingsPath, allVolumes, snapshot, nullptr);
    };
}

QStringList PMMainController::nonLibraryFilesFromAllVolumes(bool allVolumes, std::function<void(const QStringList& paths)> handler)
{
    ++_numberOfNonLibraryFileSearches;
    const QStringList folders = libraryPaths();
    const QString settingsPath = librarySettingsPath();
    if (!handler) {
        DictionaryPtr timestamps;
        const QStringList found = crawlLibraryFolders(folders, settingsPath, allVolumes, _nonProxyRawMovieRepresentationsByPath, &timestamps);
        storeTimestamps(timestamps);
        return found;
    }
    const bool showProgress = defaults().boolForKey(prefs::keys::ShowProgressForBackgroundChecks);
    if (showProgress)
        updateApplicationIconWithCrawlDelta(1);
    const RecordsByPath snapshot = _nonProxyRawMovieRepresentationsByPath;
    platform::dispatchAsyncGlobal([this, folders, settingsPath, allVolumes, snapshot, showProgress, handler] {
        DictionaryPtr timestamps;
        const QStringList found = crawlLibraryFolders(folders, settingsPath, allVolumes, snapshot, &timestamps);
        if (found.isEmpty()) {
            platform::dispatchAsyncMain([this, timestamps, showProgress] {
                storeTimestamps(timestamps);
                if (showProgress)
                    updateApplicationIconWithCrawlDelta(-1);
            });
            return;
        }
        platform::dispatchSyncMain([this, found, snapshot, timestamps, showProgress, handler] {
            if (snapshot == _nonProxyRawMovieRepresentationsByPath) {
                storeTimestamps(timestamps);
                handler(found);
            } else {
                PMLog("skipping %lu non-library files because of context change", (unsigned long long)found.size());
            }
            if (showProgress)
                updateApplicationIconWithCrawlDelta(-1);
        });
    });
    return {};
}

void PMMainController::includeNonLibraryFilesFromMenuItem(const QStringList& paths, int menuItemTag)
{
    includeNonLibraryFiles(paths, menuItemTag == 0);
}

void PMMainController::includeNonLibraryFiles(const QStringList& paths, bool askForPermission)
{
    if (paths.isEmpty())
        return;
    if (askForPermission) {
        const bool checkIsOff = defaults().boolForKey(prefs::keys::DoNotCheckForNonLibraryFiles);
        const long answer = PMRunAlert(
            localized("Found New Files in Library Folder"),
            // clang-format off
            platform::format(localized("The following files are located inside your library folder, but not yet part of your library:\n\n%@\n\nDo you want to add them to your library?"),
                             // clang-format on
                             namesListForItems(nullptr, paths, true, true, {})),
            localized("Add"), checkIsOff ? localized("Cancel") : localized("Stop Auto-Detecting New Files"), localized("Ignore"), PMAlertNoAnswer);
        // Unanswered (the session ends): nothing is added, ignored or switched off; the
        // files are found again next time.
        if (answer == PMAlertNoAnswer)
            return;
        if (answer == PMAlertThirdButtonReturn) {
            addBlacklistPaths(paths);
            return;
        }
        if (answer == PMAlertSecondButtonReturn) {
            if (!checkIsOff) {
                defaults().setBool(true, prefs::keys::DoNotCheckForNonLibraryFiles);
                if (_maintenanceWindow.setConfirmationSwitch)
                    _maintenanceWindow.setConfirmationSwitch(QStringLiteral("Do Not Check For Non-Library Files"), false);
            }
            return;
        }
    }

    freezeSelections();
    const QStringList folders = libraryPaths();
    const QString temporaryFolder = temporaryStoragePathByCreatingIfNecessary(false);
    const ArrayPtr temporaryChildren = temporaryStorage()->rawChildren();
    const ArrayPtr movieChildren = pellisSourceStorageSection()->rawChildren();
    const ArrayPtr added = Array::make();
    for (const QString& path : paths) {
        QString base;
        ArrayPtr list;
        if (isEqualToOrChildOfPath(path, temporaryFolder)) {
            base = temporaryFolder;
            list = temporaryChildren;
        } else {
            for (const QString& folder : folders)
                if (isEqualToOrChildOfPath(path, folder)) {
                    base = folder;
                    break;
                }
            list = movieChildren;
        }
        if (base.isEmpty())
            continue;
        // Found twice in one list (a path given twice): added once.
        if (isKnownPath(_nonProxyRawMovieRepresentationsByPath, path))
            continue;
        const PMMovieRepresentationOriginalPtr record = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        if (!record)
            continue;
        // The folders between the base and the file become containers of the same names.
        QString relativeFolder = QFileInfo(path).path().mid(base.size());
        for (const QString& folderName : relativeFolder.split(u'/', Qt::SkipEmptyParts)) {
            PMLibraryContainerPtr next;
            for (const Value& v : *list) {
                PMLibraryContainer* container = PMContainer(v);
                if (container && !container->isSmartGroup() && container->displayName() == folderName) {
                    next = PMContainerPtr(v);
                    break;
                }
            }
            if (!next) {
                next = PMLibraryContainer::make({{QStringLiteral("Name"), folderName}});
                list->append(Value(next));
            }
            list = next->rawChildren();
        }
        list->append(Value(record));
        added->append(Value(record));
        _nonProxyRawMovieRepresentationsByPath.insert(precomposedStringWithCanonicalMapping(path), record);
    }
    if (!added->isEmpty()) {
        FileLocationsRequest request;
        request.items = added;
        request.organize = !defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder);
        updateFileLocations(request);
        updateLibraryAndInvalidateDependencies(true, false, true);
        saveLibrary();
    }
    unfreezeSelections();
}
