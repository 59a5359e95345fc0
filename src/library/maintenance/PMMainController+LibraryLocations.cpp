// Choosing the library folder and its supplementary folders: the folder chooser, the change
// to another library, and adding, locating and removing supplementary folders. No two
// library folders may contain one another. Locating a folder that moved brings back the
// records that went missing with it.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMMaintenanceShared.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

using pmmaintenance::defaults;
using pmmaintenance::localized;

namespace {

void refuseNesting()
{
    PMLog("library paths cannot be nested");
    platform::beep();
}

// The path with the prefix (whole components) replaced by another folder.
QString replacingFolderPrefix(const QString& path, const QString& oldFolder, const QString& newFolder)
{
    if (path == oldFolder)
        return newFolder;
    return newFolder + path.mid(oldFolder.size());
}

} // namespace

void PMMainController::changeLibraryLocation(const QString& menuItemPath, bool menuItemIsOn, int menuItemTag)
{
    if (menuItemIsOn)
        return;
    if (menuItemTag < 0) {
        saveLibraryLocations(nullptr);
        return;
    }
    QString path = platform::stringByExpandingTildeInPath(menuItemPath);
    if (path.isEmpty())
        path = libraryPathFromOpenPanelWithExplanation({}, {});
    if (path.isEmpty())
        return;
    setLibraryLocation(path);
}

void PMMainController::addSupplementaryLibraryLocation()
{
    const QString chosen = libraryPathFromOpenPanelWithExplanation({}, {});
    if (chosen.isEmpty())
        return;
    if (isEqualToOrChildOrParentOfPath(chosen, libraryPath())) {
        refuseNesting();
        return;
    }
    DictionaryPtr stored = supplementaryLibraryPaths();
    DictionaryPtr paths = Dictionary::make();
    if (stored)
        paths->map() = stored->map();
    for (auto it = paths->begin(); it != paths->end(); ++it)
        if (it.value().isString() && isEqualToOrChildOrParentOfPath(chosen, platform::stringByExpandingTildeInPath(it.value().string()))) {
            refuseNesting();
            return;
        }
    paths->setValue(readablePathRepresentation(chosen), platform::stringByAbbreviatingWithTildeInPath(chosen));
    saveSupplementaryLibraryPaths(paths);
    const QStringList found = nonLibraryFilesFromAllVolumes(true, nullptr);
    includeNonLibraryFiles(found, !defaults().boolForKey(prefs::keys::IncludeNonLibraryFilesWithoutPrompt));
}

void PMMainController::locateSupplementaryLibraryLocation(const QString& oldPath)
{
    if (oldPath.isEmpty()) {
        platform::beep();
        return;
    }
    // A volume that came back mounted under a numbered name ("Media 1" for "Media").
    QString suggestion;
    const QString plainOld = pathByDeletingNumericVolumeSuffix(oldPath);
    for (const platform::Volume& volume : platform::mountedVolumes()) {
        if (volume.isSystemVolume)
            continue;
        if (!isEqualToOrChildOfPath(plainOld, pathByDeletingNumericVolumeSuffix(volume.path)))
            continue;
        const QString oldVolume = volumePathOrSlash(oldPath);
        const QString candidate = volume.path + oldPath.mid(oldVolume.size());
        if (QFileInfo(candidate).isDir())
            suggestion = candidate;
        break;
    }
    const QString explanation = platform::format(localized("If %@ has moved, select it to confirm its new location."),
                                                 readablePathRepresentationIndicatingAvailability(oldPath, false));
    const QString chosen = libraryPathFromOpenPanelWithExplanation(explanation, suggestion);
    if (chosen.isEmpty())
        return;
    if (isEqualToOrChildOrParentOfPath(chosen, libraryPath())) {
        refuseNesting();
        return;
    }
    DictionaryPtr paths = Dictionary::make();
    bool found = false;
    if (const DictionaryPtr stored = supplementaryLibraryPaths())
        for (auto it = stored->begin(); it != stored->end(); ++it) {
            const QString expanded = it.value().isString() ? platform::stringByExpandingTildeInPath(it.value().string()) : QString();
            if (!found && expanded.compare(oldPath, Qt::CaseInsensitive) == 0) {
                found = true;
                continue;
            }
            if (!expanded.isEmpty() && isEqualToOrChildOrParentOfPath(expanded, chosen)) {
                refuseNesting();
                return;
            }
            paths->setValue(it.key(), it.value());
        }
    if (!found) {
        PMLog("cannot find original");
        platform::beep();
        return;
    }
    paths->setValue(readablePathRepresentation(chosen), platform::stringByAbbreviatingWithTildeInPath(chosen));
    saveSupplementaryLibraryPaths(paths);

    // Records that went missing with the folder point at the new place when a file is there.
    ArrayPtr recovered = Array::make();
    for (auto it = _nonProxyRawMovieRepresentationsByPath.constBegin(); it != _nonProxyRawMovieRepresentationsByPath.constEnd(); ++it) {
        const PMMovieRepresentationOriginalPtr& record = it.value();
        // Whole components: "/x/Movies" does not stand for "/x/Movies2".
        if (!record || !record->isMissing() || !isEqualToOrChildOfPath(it.key(), oldPath))
            continue;
        const QString moved = replacingFolderPrefix(it.key(), oldPath, chosen);
        if (!QFileInfo::exists(moved))
            continue;
        record->setURL(QUrl::fromLocalFile(moved));
        record->setMissing(false, false);
        recovered->append(Value(record));
    }
    if (defaults().boolForKey(prefs::keys::PMDebugLog))
        PMLog("[Debug] recovered previously missing files: %@", Value(recovered));
    if (!recovered->isEmpty()) {
        updateCachedFileMetadataTagsForMovieRepresentations(recovered);
        updateLibraryAfterDelay(0, false);
        saveLibrarySoon();
    }
}

void PMMainController::deleteSupplementaryLibraryLocation(const QString& readablePath)
{
    const DictionaryPtr stored = supplementaryLibraryPaths();
    if (!stored)
        return;
    DictionaryPtr paths = Dictionary::make();
    paths->map() = stored->map();
    paths->remove(readablePath);
    saveSupplementaryLibraryPaths(paths->isEmpty() ? nullptr : paths);
}
