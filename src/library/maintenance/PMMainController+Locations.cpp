// Where a library lives: the main library folder and its fallbacks, the known libraries,
// the supplementary library folders, the settings folder (with the move of the older
// layouts into place), the names of the index files and the image folders.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/OpenPanel.h"
#include "platform/Paths.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

#include <cstdio>
#include <memory>
#include <mutex>

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kLibraryPathKey = prefs::keys::LibraryPath;
const QString kLibrariesKey = prefs::keys::Libraries;
const QString kSecondaryLibraryPathsKey = prefs::keys::SecondaryLibraryPaths;

bool isFolder(const QString& path)
{
    return QFileInfo(path).isDir();
}

// A rename that never replaces what is already at the destination.
bool moveFolder(const QString& from, const QString& to)
{
    if (QFileInfo::exists(to))
        return false;
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

QString readableNameForStoredPath(const QString& storedPath)
{
    const QString readable = readablePathRepresentation(platform::stringByExpandingTildeInPath(storedPath));
    return readable.isEmpty() ? storedPath : readable;
}

// The folders of the stored library path, checked (and made when missing) once for each
// stored path: the paths are asked for at every picture load and every save, and a look at
// the disk each time put file-system calls on the main thread of every scroll step. A
// folder removed meanwhile is made again by whatever writes into it.
struct ResolvedFolders {
    std::mutex mutex;
    QString stored;
    QString library;
    QHash<QString, QString> imageFolders; // by name, for the stored path above
};

ResolvedFolders& resolvedFolders()
{
    static ResolvedFolders folders;
    return folders;
}

} // namespace

QString PMMainController::libraryPath()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const QString stored = defaults.stringForKey(kLibraryPathKey);
    if (!stored.isEmpty()) {
        ResolvedFolders& resolved = resolvedFolders();
        {
            std::lock_guard lock(resolved.mutex);
            if (resolved.stored == stored && !resolved.library.isEmpty())
                return resolved.library;
        }
        const QString path = platform::stringByExpandingTildeInPath(stored);
        checkFolderPathAndCreateIfNecessary(path);
        std::lock_guard lock(resolved.mutex);
        if (resolved.stored != stored) {
            resolved.stored = stored;
            resolved.imageFolders.clear();
        }
        resolved.library = path;
        return path;
    }
    const QString movies = QDir::homePath() + QStringLiteral("/Movies");
    const QString standard = movies + QStringLiteral("/Pellis Library");
    if (isFolder(standard))
        return standard;
    const QString legacy = movies + QStringLiteral("/Quentor Library");
    if (isFolder(legacy))
        return moveFolder(legacy, standard) ? standard : legacy;
    if (!checkFolderPathAndCreateIfNecessary(movies))
        return movies;
    const QString fresh = movies + QStringLiteral("/Pellis");
    return checkFolderPathAndCreateIfNecessary(fresh) ? fresh : movies;
}

void PMMainController::setLibraryPath(const QString& path)
{
    platform::UserDefaults::standard().setObject(Value(platform::stringByAbbreviatingWithTildeInPath(path)), kLibraryPathKey);
    saveLibraryLocations(libraryLocations());
}

namespace {

// Two stored folder paths name the same folder however they are written ("~", a trailing
// slash, "." and "..", links).
bool isSameFolder(const QString& a, const QString& b)
{
    const auto canonical = [](const QString& stored) {
        const QString path = platform::stringByExpandingTildeInPath(stored);
        const QString resolved = QFileInfo(path).canonicalFilePath();
        return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
    };
    return canonical(a) == canonical(b);
}

} // namespace

DictionaryPtr PMMainController::libraryLocations()
{
    const QString current = platform::stringByAbbreviatingWithTildeInPath(libraryPath());
    DictionaryPtr known = platform::UserDefaults::standard().dictionaryForKey(kLibrariesKey);
    DictionaryPtr locations = Dictionary::make();
    QSet<QString> seen;
    if (known) {
        for (auto it = known->begin(); it != known->end(); ++it) {
            if (!it.value().isString())
                continue;
            const QString stored = it.value().string();
            if (stored.isEmpty() || stored == current || seen.contains(stored) || isSameFolder(stored, current))
                continue;
            seen.insert(stored);
            locations->setValue(readableNameForStoredPath(stored), stored);
        }
    }
    locations->setValue(readableNameForStoredPath(current), current);
    return locations;
}

void PMMainController::saveLibraryLocations(const DictionaryPtr& locations)
{
    platform::UserDefaults::standard().setObject(locations ? Value(locations) : Value(), kLibrariesKey);
}

DictionaryPtr PMMainController::supplementaryLibraryPaths() const
{
    return platform::UserDefaults::standard().dictionaryForKey(kSecondaryLibraryPathsKey);
}

void PMMainController::saveSupplementaryLibraryPaths(const DictionaryPtr& paths)
{
    platform::UserDefaults::standard().setObject(paths ? Value(paths) : Value(), kSecondaryLibraryPathsKey);
}

QStringList PMMainController::libraryPaths()
{
    QStringList paths{libraryPath()};
    if (DictionaryPtr supplementary = supplementaryLibraryPaths())
        for (auto it = supplementary->begin(); it != supplementary->end(); ++it)
            if (it.value().isString() && !it.value().string().isEmpty())
                paths.append(platform::stringByExpandingTildeInPath(it.value().string()));
    return paths;
}

QString PMMainController::libraryFolderForPath(const QString& path)
{
    if (path.isEmpty())
        return {};
    for (const QString& folder : libraryPaths())
        if (isEqualToOrChildOfPath(path, folder))
            return folder;
    return {};
}

QString PMMainController::libraryFolderForItem(const Value& item)
{
    PMMovieRepresentationPrototype* movie = PMMovie(item);
    return movie ? libraryFolderForPath(movie->path()) : QString();
}

QString PMMainController::vintageLibrarySettingsPath()
{
    const QString library = libraryPath();
    if (prefs::get(prefs::keys::DoNotEncapsulateSettings)) {
        const QString plain = library + QStringLiteral("/Quentor");
        if (isFolder(plain))
            return plain;
    }
    const QString encapsulated = library + QStringLiteral("/Quentor.library");
    return isFolder(encapsulated) ? encapsulated : QString();
}

QString PMMainController::librarySettingsPath()
{
    const QString path = libraryPath() + QStringLiteral("/Pellis.library");
    if (isFolder(path))
        return path;
    const QString vintage = vintageLibrarySettingsPath();
    if (!vintage.isEmpty())
        return moveFolder(vintage, path) ? path : vintage;
    // Nothing is made where a volume that is away would be mounted.
    checkFolderPathAndCreateIfNecessary(path);
    return path;
}

QStringList PMMainController::libraryDatabasePaths()
{
    static const char* const names[] = {
        "Pellis.2.libraryindex", "Pellis.2.backup.libraryindex", "Pellis.libraryindex", "Pellis.backup.libraryindex",
        "Quentor.libraryindex", "Quentor.backup.libraryindex", "Library.QuentorLibrary", "Previous Library.QuentorLibrary",
        "Quentor Library.database",
    };
    const QString settings = librarySettingsPath();
    QStringList paths;
    for (const char* name : names)
        paths.append(settings + QLatin1Char('/') + QString::fromUtf8(name));
    return paths;
}

QString PMMainController::imageFolder(const QString& name)
{
    const QString stored = platform::UserDefaults::standard().stringForKey(kLibraryPathKey);
    ResolvedFolders& resolved = resolvedFolders();
    if (!stored.isEmpty()) {
        std::lock_guard lock(resolved.mutex);
        if (resolved.stored == stored)
            if (const auto it = resolved.imageFolders.constFind(name); it != resolved.imageFolders.constEnd())
                return it.value();
    }
    const QString path = librarySettingsPath() + QLatin1Char('/') + name;
    checkFolderPathAndCreateIfNecessary(path);
    if (!stored.isEmpty()) {
        std::lock_guard lock(resolved.mutex);
        if (resolved.stored == stored)
            resolved.imageFolders.insert(name, path);
    }
    return path;
}

QString PMMainController::coverImageDirectoryPath()
{
    return imageFolder(QStringLiteral("Cover Images"));
}

QString PMMainController::posterImageDirectoryPath()
{
    return imageFolder(QStringLiteral("Preview Images"));
}

QString PMMainController::standardIndexImagesDirectoryPath()
{
    return imageFolder(QStringLiteral("Index Images"));
}

QString PMMainController::temporaryStoragePathByCreatingIfNecessary(bool create)
{
    QString name = cleanFilename(temporaryStorage()->displayName());
    if (name.isEmpty())
        name = QCoreApplication::translate("PMStorage", "Temporary");
    const QString path = libraryPath() + QLatin1Char('/') + name;
    if (create)
        checkFolderPathAndCreateIfNecessary(path);
    return path;
}

bool PMMainController::setLibraryLocation(const QString& path)
{
    if (_numberOfRemainingItemsMovingToLibraryFolder != 0 || path.isEmpty())
        return false;
    if (!QFileInfo(path).isDir())
        return false;
    platform::UserDefaults::standard().removeObjectForKey(prefs::keys::Filter);
    saveLibraryLocations(libraryLocations());
    if (!_didFinishLaunching) {
        setLibraryPath(path);
        return true;
    }

    organizeSeriesIDs();
    if (PMCachedSettings::determineNamesAutomatically)
        organizeLibraryFiles();
    // The movie playing keeps its place in the library being left.
    saveCurrentPlaybackPosition();
    // The library being left must be on disk before another one replaces it in memory.
    if (!saveLibraryAndCleanUpImagesIfAppropriate(true) && !_lastSaveError.isEmpty()) {
        PMLog("not switching to library <%@>: the current library could not be saved", path);
        return false;
    }
    if (_mainWindow)
        _mainWindow->hide();

    setLibraryPath(path);
    if (_mainWindow)
        _mainWindow->setWindowTitle(QFileInfo(libraryPath()).fileName());
    _selectedLibraryItems = platform::Array::make();
    // Its records go: the player lets go of the movie, which must not play on unowned.
    chooseNoMovie();
    _nextMovieRepresentation = Value();
    // The load's own rebuild has tested every file of the new library.
    loadLibrary();
    // The new library's own list columns.
    if (_invalidateGroupListTableColumns)
        _invalidateGroupListTableColumns();
    updateLibraryAndInvalidateDependencies(true, false, false);
    setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem();
    bringMainWindowToFront();
    autoDetectAndIncludeNonLibraryFiles();
    return true;
}

QString PMMainController::libraryPathFromOpenPanelWithExplanation(const QString& explanation, const QString& suggestedPath)
{
    if (_chooseLibraryPathOverride)
        return _chooseLibraryPathOverride(explanation, suggestedPath);
    const QString title = QCoreApplication::translate("PMMainController", "Choose Library Location");
    const std::unique_ptr<QFileDialog> panel(platform::makeFolderPanel(nullptr, title, title, explanation, suggestedPath));
    if (panel->exec() != QDialog::Accepted)
        return {};
    return panel->selectedFiles().value(0);
}
