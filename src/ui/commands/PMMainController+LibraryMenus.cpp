// The library folder menus: the known library folders with the current one's details, the
// supplementary folders ("Satellites"), the library folder submenu of the main menu that
// offers to organise the folder and to gather the library's files into it, the menu of meta
// references and the time slider's menu.
#include "library/model/PMMainController.h"
#include "ui/commands/PMMenuController.h"

#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Paths.h"
#include "platform/Queues.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtGui/QIcon>
#include <QtWidgets/QMenu>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

QIcon folderIcon()
{
    return QIcon::fromTheme(QStringLiteral("folder"));
}

// The names of a dictionary of paths in the order people read them.
QStringList sortedNames(const DictionaryPtr& paths)
{
    QStringList names;
    if (!paths)
        return names;
    for (auto it = paths->begin(); it != paths->end(); ++it) {
        if (it.value().isString() && !it.value().string().isEmpty())
            names.append(it.key());
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    return names;
}

QAction* addAction(QMenu* menu, const QString& title, const char* action, const Value& object = Value(), qint64 tag = 0)
{
    QAction* item = menu->addAction(platform::escapedMenuTitle(title));
    platform::setMenuItemAction(item, QString::fromLatin1(action));
    if (!object.isNull())
        platform::setMenuItemRepresentedObject(item, object);
    platform::setMenuItemTag(item, tag);
    return item;
}

// "Show in File Manager" for an existing folder, else the line saying why it is not there.
void addFolderState(QMenu* menu, const QString& path)
{
    if (QFileInfo(path).isDir())
        addAction(menu, localized("Show in File Manager"), "showContentInFinder", Value(path));
    else
        addNonActionItemWithTitle(menu, platform::isPathOnMissingVolume(path) ? localized("Not Available") : localized("Missing"));
}

// The folder a path names however it is written: a trailing slash, "." and "..", links.
QString canonicalFolderPath(const QString& path)
{
    if (path.isEmpty())
        return path;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

} // namespace

void PMMainController::addSupplementaryLibraryLocationsToMenu(QMenu* menu, bool includeHeader)
{
    if (!menu)
        return;
    const DictionaryPtr paths = supplementaryLibraryPaths();
    const QStringList names = sortedNames(paths);
    if (!names.isEmpty()) {
        if (includeHeader)
            addHeaderWithTitle(menu, localized("Satellites"));
        for (const QString& name : names) {
            const QString path = platform::stringByExpandingTildeInPath(paths->value(name).string());
            auto* submenu = new QMenu(platform::escapedMenuTitle(name), menu);
            QAction* item = menu->addMenu(submenu);
            item->setIcon(folderIcon());
            if (QFileInfo(path).isDir()) {
                item->setCheckable(true);
                item->setChecked(true);
                addAction(submenu, localized("Show in File Manager"), "showContentInFinder", Value(path));
            } else {
                addHeaderWithTitle(submenu, platform::isPathOnMissingVolume(path) ? localized("Not Available") : localized("Missing"));
                addAction(submenu, localized("Locate..."), "locateSupplementaryLibraryLocation", Value(path));
            }
            submenu->addSeparator();
            addAction(submenu, localized("Remove"), "deleteSupplementaryLibraryLocation", Value(name));
            platform::installMenuConventions(submenu);
        }
        addPseudoSeparator(menu);
    }
    addAction(menu, localized("Add Satellite..."), "addSupplementaryLibraryLocation");
}

void PMMainController::addLibraryLocationsToMenu(QMenu* menu, bool includeSupplementaryLocations)
{
    if (!menu)
        return;
    // While files move into the library folder, the only choice is to stop them.
    if (_numberOfRemainingItemsMovingToLibraryFolder != 0) {
        addAction(menu, localized("Stop Moving Files"), "moveToLibraryFolder");
        return;
    }
    const DictionaryPtr locations = libraryLocations();
    const QStringList names = sortedNames(locations);
    const QString current = canonicalFolderPath(libraryPath());
    const bool hideInaccessible = prefs::get(prefs::keys::HideInaccessibleLibraries);
    for (const QString& name : names) {
        const QString path = platform::stringByExpandingTildeInPath(locations->value(name).string());
        if (canonicalFolderPath(path) == current) {
            auto* details = new QMenu(localized("Library Folder Details"), menu);
            QAction* item = menu->addMenu(details);
            item->setText(platform::escapedMenuTitle(name));
            item->setIcon(folderIcon());
            item->setCheckable(true);
            item->setChecked(true);
            addFolderState(details, path);
            if (includeSupplementaryLocations) {
                details->addSeparator();
                addSupplementaryLibraryLocationsToMenu(details, true);
            }
            platform::installMenuConventions(details);
        } else if (QFileInfo(path).isDir()) {
            addAction(menu, name, "changeLibraryLocation", Value(path))->setIcon(folderIcon());
        } else if (!hideInaccessible && platform::isPathOnMissingVolume(path)) {
            // A folder on a volume that is not mounted may come back; one deleted from a
            // mounted volume will not.
            addNonActionItemWithTitle(menu, name)->setIcon(folderIcon());
        }
    }
    addPseudoSeparator(menu);
    QAction* other = addAction(menu, localized("Other..."), "changeLibraryLocation");
    if (names.size() >= 2) {
        QAction* clear = addAction(menu, localized("Clear"), "changeLibraryLocation", Value(), -1);
        platform::setAlternateMenuItem(clear, other, Qt::AltModifier);
    }
}

void PMMainController::libraryFolderDryRunNeedsUpdate()
{
    ++_libraryFolderGeneration;
    // Only once someone looked: the next opening then finds a fresh answer.
    if (!_libraryFolderDryRun.valid && _libraryFolderDryRunRunning == 0)
        return;
    static bool scheduled = false;
    if (scheduled)
        return;
    scheduled = true;
    QTimer::singleShot(0, this, [this] {
        scheduled = false;
        startLibraryFolderDryRun();
    });
}

// The organiser's walk for the dry runs, made on the main thread (it reads the library) a
// few milliseconds at a time, so that a library of 100,000 movies never stops the window;
// what it finds is checked on the disk by a worker.
struct PMMainController::LibraryFolderWalk {
    struct Frame {
        ArrayPtr items;
        ArrayPtr ancestors; // innermost first
        qsizetype next = 0;
    };
    quint64 generation = 0;
    std::vector<Frame> stack;
    QStringList bases;
    const void* library = nullptr;
    const void* temporary = nullptr;
    QList<std::pair<QString, QString>> unorganized; // (current, suggested) inside the library folders
    QList<std::pair<QString, QString>> outside;     // the same for files outside them
};

void PMMainController::startLibraryFolderDryRun()
{
    const quint64 generation = _libraryFolderGeneration;
    if (_libraryFolderDryRunRunning == generation || (_libraryFolderDryRun.valid && _libraryFolderDryRun.generation == generation))
        return;
    _libraryFolderDryRunRunning = generation;
    auto walk = std::make_shared<LibraryFolderWalk>();
    walk->generation = generation;
    walk->bases = libraryPaths();
    const PMLibraryContainerPtr library = existingSourceStorage();
    const PMLibraryContainerPtr temporary = temporaryStorage();
    walk->library = library.get();
    walk->temporary = temporary.get();
    ArrayPtr roots = Array::make();
    roots->append(Value(pellisSourceStorageSection()));
    if (temporary)
        roots->append(Value(temporary));
    walk->stack.push_back({roots, Array::make(), 0});
    _libraryFolderWalk = walk;
    continueLibraryFolderDryRun();
}

void PMMainController::continueLibraryFolderDryRun()
{
    const std::shared_ptr<LibraryFolderWalk> walk = _libraryFolderWalk;
    if (!walk)
        return;
    if (walk->generation != _libraryFolderGeneration) {
        // The library changed under the walk: start again on the library as it is.
        _libraryFolderWalk.reset();
        _libraryFolderDryRunRunning = 0;
        startLibraryFolderDryRun();
        return;
    }
    QElapsedTimer slice;
    slice.start();
    while (!walk->stack.empty() && slice.elapsed() < 8) {
        LibraryFolderWalk::Frame& frame = walk->stack.back();
        if (!frame.items || frame.next >= frame.items->count()) {
            walk->stack.pop_back();
            continue;
        }
        const Value listed = frame.items->at(frame.next++);
        PMLibraryItem* listedItem = PMItem(listed);
        if (!listedItem)
            continue;
        const Value item = listedItem->nonProxySelf();
        const ArrayPtr ancestors = frame.ancestors;
        if (PMLibraryContainer* container = PMContainer(item)) {
            if (container->isSmartGroup())
                continue;
            if (!container->topLevelRole().isEmpty() && container != walk->library && container != walk->temporary)
                continue;
            ArrayPtr inner = Array::make();
            inner->append(item);
            for (const Value& a : *ancestors)
                inner->append(a);
            walk->stack.push_back({container->filteredChildren(), inner, 0});
            continue;
        }
        PMMovieRepresentationPrototype* movie = PMMovie(item);
        if (!movie || movie->isExternalMediaItem())
            continue;
        const QString path = movie->path();
        if (path.isEmpty() || movie->isMissing() || movie->isMoving())
            continue;
        // A proxy's own ancestors are not the original's.
        const ArrayPtr where = item.objectPointer() == listed.objectPointer() ? ancestors : ancestorsOfLibraryItem(item);
        QString base;
        const QString suggested = movie->suggestedPathForLibraryAncestors(where ? where : Array::make(), walk->bases, &base, false);
        if (suggested.isEmpty() || suggested == path)
            continue;
        (isEqualToOrChildOfPath(path, base) ? walk->unorganized : walk->outside).append({path, suggested});
    }
    if (!walk->stack.empty()) {
        QTimer::singleShot(0, this, [this] { continueLibraryFolderDryRun(); });
        return;
    }
    _libraryFolderWalk.reset();
    finishLibraryFolderDryRun(walk->generation, PMCachedSettings::determineNamesAutomatically ? QList<std::pair<QString, QString>>() : walk->unorganized,
                              walk->outside);
}

void PMMainController::finishLibraryFolderDryRun(quint64 generation, const QList<std::pair<QString, QString>>& unorganized,
                                                 const QList<std::pair<QString, QString>>& outside)
{
    const std::function<QStringList()> search = nonLibraryFilesSearch(true);
    platform::dispatchAsyncGlobal([this, generation, unorganized, outside, search] {
        // A dry run makes no folders: the free name is looked for where it would be.
        const auto wouldMove = [](const std::pair<QString, QString>& candidate) {
            bool match = false;
            const QString available = availablePathWithCurrentPath(candidate.second, candidate.first, &match);
            return !available.isEmpty() && !match && QFileInfo::exists(candidate.first);
        };
        LibraryFolderDryRunAnswer answer;
        answer.valid = true;
        answer.generation = generation;
        for (const auto& candidate : unorganized)
            if (wouldMove(candidate))
                answer.unorganizedPaths.append(candidate.first);
        answer.unorganized = !answer.unorganizedPaths.isEmpty();
        answer.outside = std::any_of(outside.begin(), outside.end(), wouldMove);
        answer.nonLibraryFiles = search();
        platform::dispatchAsyncMain([this, answer] {
            if (_libraryFolderDryRunRunning == answer.generation)
                _libraryFolderDryRunRunning = 0;
            if (_libraryFolderDryRun.valid && _libraryFolderDryRun.generation > answer.generation)
                return;
            _libraryFolderDryRun = answer;
            if (answer.unorganized && PMDebugLogEnabled()) {
                auto paths = Array::make();
                for (const QString& path : answer.unorganizedPaths)
                    paths->append(Value(path));
                PMLog(QStringLiteral("[Debug] files not properly organized: %@"), Value(paths));
            }
            if (QMenu* menu = _mainMenu.libraryFolderMenu; menu && menu->isVisible()) {
                populateLibraryFolderMenu(menu);
                menu->adjustSize();
            }
            Q_EMIT menuController().libraryFolderDryRunAnswered();
            // The library changed while the answer was made: ask again.
            if (answer.generation != _libraryFolderGeneration)
                startLibraryFolderDryRun();
        });
    });
}

void PMMainController::populateLibraryFolderMenu(QMenu* menu)
{
    if (!menu)
        return;
    menu->clear();
    addLibraryLocationsToMenu(menu, true);
    menu->addSeparator();
    const bool automaticNames = PMCachedSettings::determineNamesAutomatically;
    // The dry runs never run here: the menu shows the last answer, and fills in again
    // when the answer for the library as it is now comes.
    if (!_libraryFolderDryRun.valid || _libraryFolderDryRun.generation != _libraryFolderGeneration) {
        const bool firstTime = !_libraryFolderDryRun.valid;
        QTimer::singleShot(0, this, [this] { startLibraryFolderDryRun(); });
        if (firstTime) {
            addNonActionItemWithSmallTitle(menu, localized("Checking the library folder\u2026"));
            removeTrailingSeparators(menu);
            return;
        }
    }
    const LibraryFolderDryRunAnswer& answer = _libraryFolderDryRun;
    bool offered = false;
    if (!automaticNames && answer.unorganized) {
        addAction(menu, localized("Organize Library Folder"), "organizeLibraryFiles");
        offered = true;
    }
    if (!answer.nonLibraryFiles.isEmpty()) {
        auto paths = Array::make();
        for (const QString& path : answer.nonLibraryFiles)
            paths->append(Value(path));
        addAction(menu, localized("Add All Library Folder Files to Library..."), "includeNonLibraryFilesFromMenuItem", Value(paths));
        offered = true;
    }
    if (answer.outside) {
        if (!offered && !automaticNames)
            addNonActionItemWithSmallTitle(menu, localized("Library folder is organized."));
        menu->addSeparator();
        addAction(menu, localized("Move All Files to Library Folder..."), "moveAllToLibraryFolder");
        addAction(menu, localized("Copy All Files to Library Folder..."), "copyAllToLibraryFolder");
    } else if (!automaticNames) {
        if (!offered) {
            addNonActionItemWithSmallTitle(menu, localized("Library folder is organized and contains all files."));
        } else {
            menu->addSeparator();
            addNonActionItemWithSmallTitle(menu, localized("Library folder contains all files."));
        }
    }
    removeTrailingSeparators(menu);
}

QMenu* PMMainController::populateMetaReferenceMenu(QMenu* menu, QWidget* forWindow, const QString& action, QObject* target, const Value& exclude)
{
    if (!menu)
        menu = new QMenu(localized("Meta"));
    const bool inInfoPanel = forWindow && infoWindow && forWindow->window() == infoWindow->window();
    const auto addReference = [&](const QString& title, const QString& reference) {
        QAction* item = menu->addAction(platform::escapedMenuTitle(title));
        if (!action.isEmpty())
            platform::setMenuItemAction(item, action, target);
        platform::setMenuItemRepresentedObject(item, Value(QStringLiteral("<?meta:%1?>").arg(reference)));
        return item;
    };

    // The tags to offer: the info panel's rows as filtered, else every tag of the library.
    QList<platform::DictionaryPtr> records;
    if (inInfoPanel && _filteredInfoTags) {
        for (const Value& v : *_filteredInfoTags)
            if (const platform::DictionaryPtr record = v.dictionary(); record && record->value(QStringLiteral("Tag")).isString())
                records.append(record);
    } else {
        QStringList names;
        for (auto it = _tagTypes.cbegin(); it != _tagTypes.cend(); ++it)
            names.append(it.value().tag.isEmpty() ? it.key() : it.value().tag);
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
        for (const QString& name : std::as_const(names)) {
            auto record = platform::Dictionary::make();
            record->setValue(QStringLiteral("Tag"), Value(name));
            records.append(record);
        }
    }
    // The excluded record: a tag record itself, or the record of a tag name.
    platform::DictionaryPtr excluded = exclude.dictionary();
    QString excludedTag = excluded ? excluded->value(QStringLiteral("Tag")).string() : exclude.string();
    const auto tagOf = [](const platform::DictionaryPtr& record) { return record->value(QStringLiteral("Tag")).string(); };
    const auto isExcluded = [&](const platform::DictionaryPtr& record) {
        return record == excluded || (!excludedTag.isEmpty() && tagOf(record).compare(excludedTag, Qt::CaseInsensitive) == 0);
    };

    // The value the files themselves carry for the excluded tag.
    if (forWindow && !excludedTag.isEmpty()) {
        const ArrayPtr movies = inInfoPanel ? _infoMovieRepresentations : infoMovieRepresentationsForMenuItem(nullptr);
        const QString key = excludedTag.toLower();
        bool embedded = false;
        for (const Value& v : movies ? *movies : Array()) {
            PMMovieRepresentationPrototype* movie = PMMovie(v);
            const platform::DictionaryPtr imported = movie ? movie->importedTags() : nullptr;
            if (imported && imported->contains(key)) {
                embedded = true;
                break;
            }
        }
        if (embedded) {
            addReference(localized("%1: Embedded").arg(excludedTag), excludedTag);
            menu->addSeparator();
        }
    }
    const qsizetype others = std::count_if(records.begin(), records.end(), [&](const platform::DictionaryPtr& r) { return !isExcluded(r); });
    if (others > 0) {
        for (const platform::DictionaryPtr& record : std::as_const(records))
            if (!isExcluded(record))
                addReference(tagOf(record), tagOf(record));
        menu->addSeparator();
    }
    addReference(localized("Name"), QStringLiteral("Name"));
    addReference(localized("Name: Common Prefix"), QStringLiteral("Name: Common Prefix"));
    addReference(localized("Name: Regular Expression"), QStringLiteral("Name: ^(.*)$"));
    if (prefs::get(prefs::keys::EnableMetaReferenceTextAccess))
        addReference(localized("Text: Regular Expression"), QStringLiteral("Text: ^(.*)$"));
    menu->addSeparator();
    addReference(localized("Index"), QStringLiteral("Index"));
    platform::installMenuConventions(menu);
    return menu;
}

QMenu* PMMainController::menuForSlider(QWidget* slider)
{
    if (!slider || !currentMovieRepresentationHasRelevantDuration())
        return nullptr;
    auto* menu = new QMenu(localized("Time"), slider);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = addAction(menu, localized("Copy Playback URL"), "copyPlaybackURLViaMenuItem");
    QAction* markdown = addAction(menu, localized("Copy Playback Markdown Link"), "copyPlaybackURLViaMenuItem", Value(), 1);
    platform::setAlternateMenuItem(markdown, copy, Qt::AltModifier);
    menu->addSeparator();
    addAction(menu, localized("Set Selection Start"), "setSelectionStart");
    addAction(menu, localized("Set Selection End"), "setSelectionEnd");
    menu->addSeparator();
    addAction(menu, localized("Clear Selection"), "clearSelection");
    menu->addSeparator();
    addAction(menu, localized("Trim to Selection"), "trimToTimeRange");
    addAction(menu, localized("Delete Selection"), "delete");
    menu->addSeparator();
    addAction(menu, localized("Revert to Original"), "undoEditing");
    platform::installMenuConventions(menu);
    return menu;
}
