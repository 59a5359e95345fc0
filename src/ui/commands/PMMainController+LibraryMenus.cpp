// The library folder menus: the known library folders with the current one's details, the
// supplementary folders ("Satellites"), and the library folder submenu of the main menu
// that offers to organise the folder and to gather the library's files into it.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Paths.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtGui/QAction>
#include <QtGui/QIcon>
#include <QtWidgets/QMenu>

#include <algorithm>

using platform::Array;
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
    const QString current = libraryPath();
    const bool hideInaccessible = platform::UserDefaults::standard().boolForKey(QStringLiteral("Hide Inaccessible Libraries"));
    for (const QString& name : names) {
        const QString path = platform::stringByExpandingTildeInPath(locations->value(name).string());
        if (path == current) {
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

void PMMainController::populateLibraryFolderMenu(QMenu* menu)
{
    if (!menu)
        return;
    menu->clear();
    addLibraryLocationsToMenu(menu, true);
    menu->addSeparator();
    const bool automaticNames = PMCachedSettings::determineNamesAutomatically;
    bool offered = false;

    // Dry runs of the organiser: they only collect the files they would touch.
    if (!automaticNames) {
        Array unorganized;
        FileLocationsRequest request;
        request.organize = true;
        request.preflightCollection = &unorganized;
        updateFileLocations(request);
        if (!unorganized.isEmpty()) {
            if (PMDebugLogEnabled())
                PMLog(QStringLiteral("[Debug] files not properly organized: %@"), Value(std::make_shared<Array>(unorganized)));
            addAction(menu, localized("Organize Library Folder"), "organizeLibraryFiles");
            offered = true;
        }
    }
    const QStringList outsiders = nonLibraryFilesFromAllVolumes(true, nullptr);
    if (!outsiders.isEmpty()) {
        auto paths = Array::make();
        for (const QString& path : outsiders)
            paths->append(Value(path));
        addAction(menu, localized("Add All Library Folder Files to Library..."), "includeNonLibraryFilesFromMenuItem", Value(paths));
        offered = true;
    }
    Array outside;
    FileLocationsRequest move;
    move.move = true;
    move.preflightCollection = &outside;
    updateFileLocations(move);
    if (!outside.isEmpty()) {
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
