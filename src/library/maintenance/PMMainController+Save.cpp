// Saving the library index: the whole tree and the library's own settings in one atomic
// write, coalesced requests, the removal of image files that belong to no record, and the
// announcement of the save to other processes. A failed write is reported: logged, shown
// once, answered NO, and not announced.
#include "library/model/PMMainController.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMImageFolderFiles.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/Paths.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/DelayedPerform.h"
#include "platform/DistributedNotifications.h"
#include "platform/PropertyList.h"
#include "platform/SaveFile.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QSet>
#include <QtCore/QStandardPaths>
#include <QtGui/QGuiApplication>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kSaveLibrary = QStringLiteral("saveLibrary");

void copyIfPresent(const Dictionary& from, Dictionary& to, const char* key)
{
    const QString k = QString::fromUtf8(key);
    const Value v = from.value(k);
    if (!v.isNull())
        to.setValue(k, v);
}

// Stores a path under the key. A file name that is not UTF-8 keeps its odd bytes in the
// path as lone surrogates, which the binary format holds but which make every other
// reader of property lists refuse the whole file: the text then gets U+FFFD in their
// place (readable, valid), and the exact bytes go beside it as data under "<key> Data".
void setSavedPath(Dictionary& saved, const QString& key, const QString& path)
{
    const QByteArray bytes = platform::encodeFileName(path);
    const QString text = QString::fromUtf8(bytes);
    saved.setValue(key, text);
    if (text != path)
        saved.setValue(key + QStringLiteral(" Data"), bytes);
}

// The index file's bytes for the library as it is now; empty with an error when the
// tree cannot be written.
QByteArray libraryIndexData(PMMainController& controller, QStringList* collectMovieRepresentationIDs, QString* error)
{
    auto saved = Array::make();
    controller.populateSaveArray(*saved, controller._library, collectMovieRepresentationIDs);
    auto index = Dictionary::make({{QStringLiteral("Library"), Value(saved)},
                                   {QStringLiteral("Preferences"), Value(controller.perLibrarySettings())},
                                   {QStringLiteral("Version"), QStringLiteral("2")}});
    const QByteArray bytes = platform::writeBinaryPropertyList(Value(index), error);
    if (error->isEmpty() && bytes.isEmpty())
        *error = QStringLiteral("nothing to write");
    return bytes;
}

} // namespace

DictionaryPtr PMMainController::perLibrarySettings() const
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    DictionaryPtr settings = Dictionary::make();
    for (const QString& key : perLibrarySettingsKeys()) {
        if (key == QLatin1String("Subgroup Previews Position") && !defaults.boolForKey(prefs::keys::SubgroupPreviewsPositionAllowBlending))
            continue;
        const Value value = defaults.objectForKey(key);
        if (!value.isNull())
            settings->setValue(key, value);
    }
    return settings;
}

void PMMainController::populateSaveArray(Array& saveArray, const ArrayPtr& fromLibraryArray, QStringList* collectMovieRepresentationIDs)
{
    if (!fromLibraryArray)
        return;
    const QString library = libraryPath();
    for (const Value& value : *fromLibraryArray) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(value)) {
            if (movie->isProxy())
                continue;
            auto saved = Dictionary::make();
            const QString path = movie->path();
            if (!path.isEmpty()) {
                setSavedPath(*saved, QStringLiteral("Path"), platform::stringByAbbreviatingWithTildeInPath(path));
                if (path.size() > library.size() && path.startsWith(library) && path.at(library.size()) == QLatin1Char('/'))
                    setSavedPath(*saved, QStringLiteral("Relative Path"), path.mid(library.size()));
                // A bookmark is made of a file found present; of a missing one it cannot be.
                const QByteArray bookmark = movie->isMissing() ? movie->storedBookmark() : movie->bookmark();
                if (!bookmark.isEmpty())
                    saved->setValue(QStringLiteral("Bookmark"), bookmark);
            } else {
                saved->setValue(QStringLiteral("URL"), movie->URL().toString());
            }
            // Transient keys never reach the index: the automatic file name lives for one
            // turn of the run loop only (a save in that turn, the quit's, must not keep it),
            // and the sets of the subdivisions' fast track belong to one update.
            platform::DictionaryPtr settings = movie->userSettings();
            if (settings->contains(QStringLiteral("Auto-Filename")) || settings->contains(QStringLiteral("Fast Track"))) {
                auto copy = Dictionary::make();
                copy->map() = settings->map();
                copy->remove(QStringLiteral("Auto-Filename"));
                copy->remove(QStringLiteral("Fast Track"));
                settings = copy;
            }
            saved->setValue(QStringLiteral("User Settings"), Value(settings));
            if (collectMovieRepresentationIDs)
                collectMovieRepresentationIDs->append(movie->uniqueLibraryID());
            saveArray.append(Value(saved));
            continue;
        }
        PMLibraryContainerPtr container = PMContainerPtr(value);
        if (!container)
            continue;
        auto saved = Dictionary::make();
        bool withoutChildren = false;
        if (const Value top = container->value(QStringLiteral("Top Level")); top.isString()) {
            saved->setValue(QStringLiteral("Top Level"), top);
            withoutChildren = top.string() == QLatin1String("Downloads") || top.string() == QLatin1String("Conversions");
        } else if (const Value online = container->value(QStringLiteral("Online")); online.isString()) {
            saved->setValue(QStringLiteral("Online"), online);
            withoutChildren = true;
        } else if (const Value external = container->value(QStringLiteral("External")); external.isString()) {
            saved->setValue(QStringLiteral("External"), external);
        }
        if (container->isSmartGroup()) {
            saved->setValue(QStringLiteral("Smart"), true);
            for (const char* key : {"Criteria", "Flatten", "Flatten: Subdivisions Only", "Continue"})
                copyIfPresent(*container, *saved, key);
        } else {
            copyIfPresent(*container, *saved, "Library Section");
            if (!withoutChildren) {
                auto children = Array::make();
                const Value raw = container->value(QStringLiteral("Children"));
                if (raw.isArray())
                    populateSaveArray(*children, raw.array(), collectMovieRepresentationIDs);
                saved->setValue(QStringLiteral("Children"), Value(children));
                for (const char* key : {"Library Movies", "Smart Playlists Folder", "Static Proxies"})
                    copyIfPresent(*container, *saved, key);
            }
        }
        copyIfPresent(*container, *saved, "Subgroup Settings");
        copyIfPresent(*container, *saved, "Name");
        QString uniqueID = container->value(QStringLiteral("Unique ID")).isString() ? container->value(QStringLiteral("Unique ID")).string() : QString();
        if (uniqueID.isEmpty()) {
            uniqueID = availableUniqueLibraryID();
            container->setValue(QStringLiteral("Unique ID"), uniqueID);
            _containersByID.insert(uniqueID, container);
        }
        saved->setValue(QStringLiteral("Unique ID"), uniqueID);
        for (const char* key : {"Group Sorting Criterion", "Group Sorting Criterion: Previous", "Group Sorting Direction",
                                "Group Content Display Mode", "Hide Item Count", "Emancipate", "Index Sequence", "Preview Width", "Cover Width"})
            copyIfPresent(*container, *saved, key);
        saveArray.append(Value(saved));
    }
}

bool PMMainController::saveLibraryAndCleanUpImagesIfAppropriate(bool cleanUp)
{
    platform::cancelPreviousPerformRequests(this, kSaveLibrary, Value());
    _lastSaveError.clear();
    if (!_library || !_libraryIsLoaded)
        return false;
    const QString indexPath = libraryDatabasePaths().value(0);
    if (!volumeExistsForPath(indexPath)) {
        PMLog("cannot save library: volume <%@> not available", volumePathOrSlash(indexPath));
        return false;
    }

    // What the window shows now (selected container, expanded rows) is saved with the library.
    storeLibraryWindowStateForSave();

    const bool shiftHeld = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
        && QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    const bool doCleanUp = cleanUp && (_cleanUpCachedImages || shiftHeld);
    QStringList ids;

    QString error;
    const QByteArray bytes = libraryIndexData(*this, doCleanUp ? &ids : nullptr, &error);
    if (error.isEmpty())
        error = platform::saveFile(indexPath, bytes);
    _lastSaveError = error;
    if (!error.isEmpty()) {
        PMLog("cannot save library at <%@>: %@", indexPath, error);
        if (!_callerReportsSaveFailure)
            PMRunAlert(QCoreApplication::translate("PMMainController", "The library could not be saved."),
                   QCoreApplication::translate("PMMainController", "Pellis could not write the library index. Your changes are kept in "
                                                                   "memory; please make room or fix the problem and try again.\n\n%1")
                       .arg(error));
        return false;
    }
    ++_numberOfLibrarySaves;

    if (doCleanUp) {
        const QSet<QString> idSet(ids.begin(), ids.end());
        const QString library = librarySettingsPath();
        PMRemoveStrayImageFiles(coverImageDirectoryPath(), idSet, PMImageFolderKind::Pictures, library);
        PMRemoveStrayImageFiles(posterImageDirectoryPath(), idSet, PMImageFolderKind::Pictures, library);
        PMRemoveStrayImageFiles(standardIndexImagesDirectoryPath(), idSet, PMImageFolderKind::HoverFrames, library);
        _cleanUpCachedImages = false;
    }
    platform::postDistributedNotification(QStringLiteral("com.tolvane.Pellis: Saved Library"), indexPath);
    return true;
}

bool PMMainController::saveLibrary()
{
    return saveLibraryAndCleanUpImagesIfAppropriate(false);
}

void PMMainController::saveLibrarySoon()
{
    ++_libraryEditGeneration;
    platform::performAfterDelay(this, kSaveLibrary, Value(), 10.0, [this] { saveLibrary(); });
}

QString PMMainController::saveLibraryEmergencyCopy()
{
    if (!_library || !_libraryIsLoaded)
        return {};
    QString error;
    const QByteArray bytes = libraryIndexData(*this, nullptr, &error);
    if (!error.isEmpty()) {
        PMLog("cannot write an emergency copy of the library: %@", error);
        return {};
    }
    const QFileInfo index(libraryDatabasePaths().value(0));
    const QString name = index.fileName() + QStringLiteral(".unsaved-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    for (const QString& folder : {index.absolutePath(), cache}) {
        if (folder.isEmpty() || !QDir().mkpath(folder))
            continue;
        QString path = folder + u'/' + name;
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = folder + u'/' + name + QStringLiteral("-%1").arg(n);
        error = platform::saveFile(path, bytes);
        if (error.isEmpty()) {
            PMLog("the library was saved as an emergency copy at <%@>", path);
            return path;
        }
        PMLog("cannot write an emergency copy of the library: %@", error);
    }
    return {};
}
