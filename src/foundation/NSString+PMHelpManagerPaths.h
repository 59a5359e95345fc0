// Path helpers the library code shares: the volume part of a path, readable path texts for
// the interface, path containment, folder creation and removal, file dates, and an
// existence test with a cache for external volumes.
//
// A volume is named by the folder it is mounted at: a direct subfolder of /media/<user>,
// /run/media/<user> or /mnt (platform/Volumes.h); every other path lies on the system
// volume "/". Paths are compared exactly, after canonical composition (NFC).
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <memory>
#include <optional>

// The last path component, without its extension unless the user default "Show File
// Extensions" is set.
QString displayFilename(const QString& path);

// The volume of the path by its text ("/media/me/Disk" for "/media/me/Disk/a.mov"), or "/".
QString volumePathOrSlash(const QString& path);
// A volume mounted a second time as "<Name> <n>" taken back to "<Name>".
QString pathByDeletingNumericVolumeSuffix(const QString& path);
// "Not Available: <volume>" (or "Not Available") for a path whose volume is missing.
QString missingVolumeDescription(const QString& path);

// The components a person reads for the path (the volume's name first, for a path on an
// external volume), below the base path when it lies below it; the file name only when
// asked. A path that does not exist has none, except, with the fallback allowed and no
// base, one on an external volume, whose components are taken from its text.
QStringList pathComponentsRelativeToPath(const QString& path, const QString& basePath, bool includeFilename);
QStringList pathComponentsRelativeToPath(const QString& path, const QString& basePath, bool includeFilename, bool useFallback,
                                         bool* didUseFallback);
// The components joined by " ▸ "; a path that is not there gets " — Missing" (its volume is
// there) or " — Not Available" (its volume is not) when `indicateAvailability` is set.
QString readablePathRepresentationRelativeToPath(const QString& path, const QString& basePath, bool includeFilename,
                                                 bool indicateAvailability);
QString readablePathRepresentationIndicatingAvailability(const QString& path, bool indicateAvailability);
QString readablePathRepresentation(const QString& path);

// The path equals the other path or lies below it (whole components: "/Lib" does not
// contain "/Library2"). NO for an empty other path.
bool isEqualToOrChildOfPath(const QString& path, const QString& otherPath);
bool isEqualToOrChildOrParentOfPath(const QString& path, const QString& otherPath);

// Expands "~"; YES when a folder is there or was made with every missing folder above it.
// Nothing is made on a volume that is not mounted.
bool checkFolderPathAndCreateIfNecessary(const QString& path);
// Removes the folder when it holds nothing but clutter that file managers leave behind
// (".DS_Store", "._*", "Icon\r", "Thumbs.db", "desktop.ini", ".directory"). A folder with
// anything else, hidden or not, stays. YES when it was removed.
bool removeFolderIfVirtuallyEmpty(const QString& path);

// The file's creation date (its birth time; the modification time where the file system
// keeps none) and modification date; nothing when the file cannot be read.
std::optional<platform::Date> creationDateFromPath(const QString& path);
std::optional<platform::Date> modificationDateFromPath(const QString& path);
// Whether the file's modification date is exactly the date (NO for no date); the actual
// date is handed back when asked.
bool hasModificationDate(const QString& path, const std::optional<platform::Date>& date, std::optional<platform::Date>* getActualDate = nullptr);

// Removes the item (a folder with everything in it; a symbolic link, not what it points
// to). NO for no path or nothing there.
bool removeItemAtPath(const QString& path);
bool removeItemAtAbbreviatedPath(const QString& path);

// Whether something exists at the path. Paths on the system volume are always asked of the
// file system. On an external volume, with the simplified cache, a present volume answers
// for all its files and an absent one against all of them, without touching the disk; the
// answers are kept until the cache is cleared (at every mount and unmount). No path: the
// cache is dropped and the answer is NO. Main thread only.
bool fileExistsAtPath(const QString& path, bool useSimplifiedCacheForExternalVolumes);

// Tests many paths one after the other, as a rebuild of the library does: the folder of a
// path is looked up once for all the paths in it that come in a row (the files of one
// folder usually do), each file then by its name alone, and when many of them come the
// folder's list of names is read once instead; a missing folder answers for all of them.
// Answers as `lstat` would (a symbolic link itself counts). One thread.
class PMFileExistenceProbe {
public:
    PMFileExistenceProbe();
    ~PMFileExistenceProbe();
    PMFileExistenceProbe(const PMFileExistenceProbe&) = delete;
    PMFileExistenceProbe& operator=(const PMFileExistenceProbe&) = delete;

    bool exists(const QString& path);

private:
    enum class Folder { Unknown, Open, Missing, Unusable };
    struct Listing;
    void forgetFolder();
    bool readListing();

    QString m_folder;
    Folder m_state = Folder::Unknown;
    int m_descriptor = -1;
    bool m_mayList = false;
    int m_testsInFolder = 0;
    std::unique_ptr<Listing> m_listing; // the folder's names, once read
};

// The same as `fileExistsAtPath`, for a path whose `volumePathOrSlash` the caller has
// already; the file system is asked through the probe when one is given.
bool fileExistsAtPathOnVolume(const QString& path, const QString& volume, bool useSimplifiedCacheForExternalVolumes,
                              PMFileExistenceProbe* probe = nullptr);
void clearSimplifiedExternalVolumesCache();
// How many times this thread asked whether a file exists (through the functions above):
// for tests of what runs on the main thread.
quint64 fileExistenceTestsOnThisThread();
