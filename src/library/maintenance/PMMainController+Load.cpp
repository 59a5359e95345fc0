// Loading the library index: finding it among its current, backup and older names,
// keeping the backup fresh, applying the library's own settings, and turning the saved
// item dictionaries into containers and movie records. An index is outside input: a
// file that does not parse is kept aside and the next name (the backup) is tried, only
// the per-library settings that saving writes are taken over, each checked for its
// type, and nesting is bounded.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMExternalMediaLibrary.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMFunctions.h"
#include "platform/Alert.h"
#include "platform/Bookmark.h"
#include "foundation/PMLog.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/Memory.h"
#include "platform/Paths.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "library/model/PMTagType.h"
#include "platform/PropertyList.h"
#include "platform/SaveFile.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>

#include <cstdio>
#include <optional>
#include <utility>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

// The property-list readers refuse deeper nesting than this, so every tree that was read
// is loaded whole; the bound only keeps the recursion finite for trees from elsewhere.
constexpr int kMaximumLibraryDepth = platform::kPropertyListMaxDepth;

// Set while `loadLibrary` fills the library from a tree that it alone holds (just read
// from the index): the records then take their saved settings over instead of copying
// them. Other callers keep their saved arrays as they were.
bool gAdoptsSavedSettings = false;

enum class Kind { Number, String, Array, StringArray, Dictionary, NumberOrString };

struct PerLibraryKey {
    QString key;
    Kind kind;
};

const std::vector<PerLibraryKey>& perLibraryKeyTable()
{
    static const std::vector<PerLibraryKey> table = {
        {prefs::keys::PreviewSingleClickBehavior, Kind::Number},
        {prefs::keys::ResumeDurationThreshold, Kind::Number},
        {prefs::keys::ResumeTimestampLimit, Kind::Number},
        {prefs::keys::DoNotContinueWithNextGroupMovie, Kind::Number},
        {prefs::keys::ContinueMode, Kind::Number},
        {prefs::keys::PreferPromisedFilesOverURLs, Kind::Number},
        {prefs::keys::Inbox, Kind::String},
        {prefs::keys::LastWatched, Kind::Array},
        {prefs::keys::LastWatchedCount, Kind::Number},
        {prefs::keys::BatchRenameSequencePrefix, Kind::String},
        {prefs::keys::BatchRenameSequenceSuffix, Kind::String},
        {prefs::keys::BatchRenameSuppressSingleItemSequences, Kind::Number},
        {prefs::keys::BatchRenameResumePrefixGroupSequences, Kind::Number},
        {prefs::keys::NSWindowFramePMMPPlayerWindow, Kind::String},
        {prefs::keys::CustomSize, Kind::String},
        {prefs::keys::PMZiruderShiftButtonLeftWidthPlaylistDivider, Kind::NumberOrString},
        {prefs::keys::VisibleImageAreaExtensionHorizontal, Kind::Number},
        {prefs::keys::HideItemCounts, Kind::Number},
        {prefs::keys::ItemCountMode, Kind::Number},
        {prefs::keys::ShowZeroItemCounts, Kind::Number},
        {prefs::keys::SmartGroupsStorageName, Kind::String},
        {prefs::keys::CoverAspectRatio, Kind::NumberOrString},
        {prefs::keys::PreviewAspectRatio, Kind::NumberOrString},
        {prefs::keys::PreviewSpacing, Kind::Number},
        {prefs::keys::CoverOverlayAlpha, Kind::Number},
        {prefs::keys::CoverOverlayPosition, Kind::Number},
        {prefs::keys::HoverCoverHeaders, Kind::Number},
        {prefs::keys::HoverPreviewHeaders, Kind::Number},
        {prefs::keys::AdjustCoverSize, Kind::Number},
        {prefs::keys::AdjustPreviewSize, Kind::Number},
        {prefs::keys::CoverLayout, Kind::Number},
        {prefs::keys::PreviewLayout, Kind::Number},
        {prefs::keys::AverageMedianAspectRatioFallBackTo11, Kind::Number},
        {prefs::keys::CoverWidth, Kind::Number},
        {prefs::keys::PreviewWidth, Kind::Number},
        {prefs::keys::AutomaticallyHideAndShowSidebar, Kind::Number},
        {prefs::keys::PMGroupTableViewColumns, Kind::Array},
        {prefs::keys::VisibleRects4703, Kind::Dictionary},
        {prefs::keys::ExpandedLibraryContainers, Kind::StringArray},
        {prefs::keys::LibrarySelection, Kind::String},
        {prefs::keys::WindowPlaybackControls, Kind::Number},
        {prefs::keys::PresentationPlaybackControls, Kind::Number},
        {prefs::keys::SecondaryLibraryPaths, Kind::Dictionary},
        {prefs::keys::DownloadsContainer, Kind::String},
        {prefs::keys::IgnoreITunesMovies, Kind::Number},
        {prefs::keys::IgnoreIPhotoMovies, Kind::Number},
        {prefs::keys::IncludeApertureMovies, Kind::Number},
        {prefs::keys::IgnoreOnlineMovies, Kind::Number},
        {prefs::keys::MissingMoviesMode, Kind::Number},
        {prefs::keys::PersistentTags, Kind::Dictionary},
        {prefs::keys::ImportMetadataInternal, Kind::Number},
        {prefs::keys::ImportMetadataExternal, Kind::Number},
        {prefs::keys::ImportMetadataName, Kind::Number},
        {prefs::keys::ImportMetadataNames, Kind::StringArray},
        {prefs::keys::OriginalNameTag, Kind::String},
        {prefs::keys::Blacklist, Kind::StringArray},
        {prefs::keys::Whitelist, Kind::StringArray},
        {prefs::keys::BrowseDirectory, Kind::String},
        {prefs::keys::DetermineFuzzyOldestDateUseCreationDate, Kind::Number},
        {prefs::keys::DetermineNamesAutomatically, Kind::Number},
        {prefs::keys::DetermineNamesAutomaticallyPattern, Kind::String},
        {prefs::keys::SubgroupPreviewsPosition, Kind::Number},
    };
    return table;
}

bool hasKind(const Value& value, Kind kind)
{
    switch (kind) {
    case Kind::Number: return value.isNumber();
    case Kind::String: return value.isString();
    case Kind::Array: return value.isArray();
    case Kind::StringArray:
        if (!value.isArray())
            return false;
        for (const Value& entry : *value.array())
            if (!entry.isString())
                return false;
        return true;
    case Kind::Dictionary: return value.isDictionary();
    case Kind::NumberOrString: return value.isNumber() || value.isString();
    }
    return false;
}

const QString kChildren = QStringLiteral("Children");
const QString kTopLevel = QStringLiteral("Top Level");
const QString kSmart = QStringLiteral("Smart");

// A ";"-separated text of the older format as one CSV line; empty when nothing is left.
QString csvFromSemicolonText(const QString& text)
{
    return PMCSVStringWithFields(text.split(QLatin1Char(';')), PMCSVDefaultFieldSeparator(), true);
}

bool isStorageRole(const QString& role)
{
    static const QStringList roles = {QStringLiteral("Library"), QStringLiteral("Temporary"), QStringLiteral("Downloads"),
                                      QStringLiteral("Conversions"), QStringLiteral("Smart Groups"), QStringLiteral("iTunes"),
                                      QStringLiteral("iPhoto")};
    return roles.contains(role);
}

// Moves an index that cannot be read aside, so that nothing written later replaces it;
// answers where it went (empty when it could not be moved).
QString keepDamagedIndexAside(const QString& path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString aside = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".damaged-") + stamp + QStringLiteral("-%1").arg(n);
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) == 0) {
        PMLog("damaged library index <%@> kept as <%@>", path, aside);
        return aside;
    }
    PMLog("cannot keep damaged library index <%@> aside", path);
    return {};
}

// A relative path that names a place inside a library folder: no "." or ".." component
// leads out of it.
bool isInsideRelativePath(const QString& relative)
{
    for (const QStringView component : QStringView(relative).split(u'/'))
        if (component == u"." || component == u"..")
            return false;
    return true;
}

// What was read of the library's index: the first of its files that reads, with what failed before it.
struct ReadLibraryIndex {
    ArrayPtr libraryArray;
    DictionaryPtr preferences;
    bool oldFormat = true;
    QString indexPath;
    qsizetype dataLength = 0;
    bool readAnyIndex = false;
    QString keptAside; // the first damaged index moved aside
};

// Reads the first index of the paths that reads (the index, its backup, the older names),
// moves damaged ones aside and backs a good index up.
ReadLibraryIndex readLibraryIndex(const QStringList& databasePaths)
{
    ReadLibraryIndex result;
    // A save cut short (the process killed while it wrote the index or its backup)
    // leaves its temporary file.
    platform::removeLeftoverSaveFiles(databasePaths.value(0));
    platform::removeLeftoverSaveFiles(databasePaths.value(1));
    for (qsizetype pathIndex = 0; pathIndex < databasePaths.size(); ++pathIndex) {
        const QString& path = databasePaths.at(pathIndex);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = file.readAll();
        file.close();
        result.readAnyIndex = true;
        // The index and its backup of the current names are written as dictionaries; an
        // array there is no library of the older format but a damaged file.
        const bool currentFormatName = pathIndex < 2;
        const platform::PropertyListReadResult read = platform::readPropertyList(data);
        ArrayPtr items;
        DictionaryPtr settings;
        bool old = true;
        if (read.ok() && read.value.isDictionary()) {
            const DictionaryPtr top = read.value.dictionary();
            const Value library = top->value(QStringLiteral("Library"));
            if (library.isArray())
                items = library.array();
            else if (library.isNull())
                items = Array::make();
            if (top->value(QStringLiteral("Preferences")).isDictionary())
                settings = top->value(QStringLiteral("Preferences")).dictionary();
            old = longLongValueOfObjectForKey(top.get(), QStringLiteral("Version")) < 2;
        } else if (read.ok() && read.value.isArray() && !currentFormatName) {
            items = read.value.array();
        }
        if (!items) {
            PMLog("cannot read library index <%@>: %@", path, read.ok() ? QStringLiteral("unexpected contents") : read.error);
            const QString aside = keepDamagedIndexAside(path);
            if (result.keptAside.isEmpty())
                result.keptAside = aside.isEmpty() ? path : aside;
            continue;
        }
        result.libraryArray = items;
        result.preferences = settings;
        result.oldFormat = old;
        result.indexPath = path;
        result.dataLength = data.size();

        // The backup follows a good index at most once an hour, and never takes an empty
        // library over one that holds items.
        const QString backupPath = databasePaths.value(1);
        if (path != backupPath) {
            const QFileInfo backup(backupPath);
            if (backup.exists() && backup.lastModified().secsTo(QDateTime::currentDateTime()) < 3600) {
                if (PMDebugLogEnabled())
                    PMLog("[Debug] skipping library index backup");
            } else if (items->isEmpty() && backup.exists()) {
                if (PMDebugLogEnabled())
                    PMLog("[Debug] skipping library index backup of an empty library");
            } else {
                const QString error = platform::saveFile(backupPath, data);
                if (!error.isEmpty())
                    PMLog("cannot back up library index: %@", error);
            }
        }
        break;
    }
    return result;
}

} // namespace

QStringList PMMainController::perLibrarySettingsKeys()
{
    QStringList keys;
    for (const PerLibraryKey& entry : perLibraryKeyTable())
        keys.append(entry.key);
    return keys;
}

bool PMMainController::isAcceptablePerLibrarySetting(const QString& key, const Value& value)
{
    for (const PerLibraryKey& entry : perLibraryKeyTable())
        if (entry.key == key)
            return hasKind(value, entry.kind) && value.isPropertyList();
    return false;
}

void PMMainController::applyPerLibrarySettings(const DictionaryPtr& settings)
{
    if (!settings)
        return;
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    for (auto it = settings->begin(); it != settings->end(); ++it) {
        if (isAcceptablePerLibrarySetting(it.key(), it.value()))
            defaults.setObject(it.value(), it.key());
        else if (PMDebugLogEnabled())
            PMLog("[Debug] ignoring library setting <%@>", it.key());
    }
}

void PMMainController::loadLibrary()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.removeObjectForKey(prefs::keys::SecondaryLibraryPaths);
    purgeAutoConvertedMovies();
    // A search still running for the records of a library read before is of no use now.
    ++_fileSearchGeneration;
    _pendingFileSearches.clear();
    _pendingExistenceTests.clear();
    _isSearchingMissingFiles = false;
    _foundFilesToApply = false;
    _missingFilesToShow = false;
    // At start-up (until the window shows) and after it (the search starts right after the
    // load) the files are tested by the search, not by the load's rebuild.
    _defersExistenceTests = _didFinishLaunching || _launchDefersExistenceTests;

    // Whatever was let go of before (a library, a search) leaves the heap with holes: the
    // records are laid out in order in the pages it frees, not scattered over them.
    platform::releaseFreeMemory();
    const QStringList databasePaths = libraryDatabasePaths();
    const QString folder = libraryPath();
    auto [libraryArray, preferences, oldFormat, indexPath, dataLength, readAnyIndex, keptAside] = readLibraryIndex(databasePaths);

    if (preferences) {
        applyPerLibrarySettings(preferences);
    } else if (readAnyIndex) {
        // Libraries of older versions kept their settings in files of their own.
        const QDir folderOfSettings(librarySettingsPath() + QStringLiteral("/Preferences"));
        for (const QString& name : folderOfSettings.entryList(QDir::Files, QDir::Name)) {
            if (!name.toLower().endsWith(QLatin1String(".plist")))
                continue;
            const platform::PropertyListReadResult read = platform::readPropertyListFile(folderOfSettings.filePath(name));
            if (read.ok() && read.value.isDictionary())
                applyPerLibrarySettings(read.value.dictionary());
        }
    }

    if (libraryArray && libraryArray->isEmpty())
        PMLog("empty library at <%@> (<%@>: %lu)", folder, indexPath, qulonglong(dataLength));

    if (!libraryArray) {
        if (!volumeExistsForPath(folder)) {
            PMLog("cannot load library at <%@>, because <%@> is missing", folder, volumePathOrSlash(folder));
            // Nothing is created in place of a library whose volume is away. During launch
            // the user may choose another library (or make one); otherwise the program
            // ends without the quit sequence, which would save.
            if (!_didFinishLaunching) {
                const QString readable = readablePathRepresentationIndicatingAvailability(folder, false);
                const QString explanation =
                    QCoreApplication::translate("PMMainController", "%1 is not available. Choose another existing library, create a new library, or cancel to quit.")
                        .arg(readable.isEmpty() ? folder : readable);
                const QString chosen = libraryPathFromOpenPanelWithExplanation(explanation, QString());
                if (!chosen.isEmpty()) {
                    setLibraryPath(chosen);
                    loadLibrary();
                    return;
                }
            } else {
                platform::beep();
            }
            _shouldTerminateWithoutQuitSequence = true;
            _library = Array::make();
            _containersByID.clear();
            return;
        }
        // No index at all is a first start (nothing failed); an index that could not be
        // read is named (or where it was put aside).
        if (!readAnyIndex)
            PMLog("no library at <%@> yet: starting a new one", folder);
        else
            PMLog("cannot load library at <%@> (<%@> cannot be read)", folder, keptAside.isEmpty() ? databasePaths.value(0) : keptAside);
        if (!_didFinishLaunching) {
            const ArrayPtr stored = defaults.arrayForKey(prefs::keys::Library);
            if (stored && !stored->isEmpty()) {
                libraryArray = stored; // a copy: the settings keep their own
                oldFormat = true;
            }
        }
        // A first start (no index at all: a damaged one is never replaced) shows the
        // default library, its storages and a few smart groups, instead of an empty one;
        // the media libraries of the desktop stay out of it.
        if (!libraryArray && !readAnyIndex) {
            const platform::PropertyListReadResult read = platform::readPropertyListFile(defaultLibraryResourcePath());
            if (read.ok() && read.value.isArray()) {
                libraryArray = read.value.array();
                oldFormat = true;
                defaults.setBool(true, prefs::keys::IgnoreITunesMovies);
                defaults.setBool(true, prefs::keys::IgnoreIPhotoMovies);
                PMLog("using default library");
            }
        }
    }

    // Reset: sort strings follow the prefixes of the settings now in force, and are made
    // again for the records of this library; the records of the media libraries are
    // found again among this library's.
    PMRebuildSortPrefixTable();
    PMExternalMediaLibrary::externalMediaLibrary().setCachedMovieRepresentationsByID(std::nullopt);
    PMCachedSettings::determineFuzzyOldestDateUseCreationDate =
        PMCachedSettings::determineFuzzyOldestDate && defaults.boolForKey(prefs::keys::DetermineFuzzyOldestDateUseCreationDate);
    PMCachedSettings::determineFuzzyNewestDateUseSortingContext =
        PMCachedSettings::determineFuzzyOldestDate && defaults.boolForKey(prefs::keys::DetermineFuzzyNewestDateUseSortingContext);
    PMCachedSettings::determineNamesAutomatically = defaults.boolForKey(prefs::keys::DetermineNamesAutomatically);
    _library = Array::make();
    _containersByID.clear();
    // The containers selected before name containers of the library being replaced.
    _selectedContainerHeap.clear();
    _selectedContainerHistory.clear();
    // What the last rebuild kept of the library being replaced would keep its records alive.
    forgetPreviousRebuild();

    // With the files looked at after the load, their metadata is read then too (every
    // record is asked for its tags below).
    std::optional<PMDeferredFirstMetadataReads> deferredMetadataReads;
    if (_defersExistenceTests)
        deferredMetadataReads.emplace();
    if (libraryArray && !libraryArray->isEmpty()) {
        const Value first = libraryArray->at(0);
        const bool withoutStorages = !(first.isDictionary() && first.dictionary()->contains(kTopLevel));
        Array extracted;
        Array loaded;
        gAdoptsSavedSettings = true;
        {
            // Files moved or deleted together are looked for once, not once each.
            const platform::BookmarkSearchSession bookmarkSearch;
            populateLibraryArray(loaded, libraryArray, !defaults.boolForKey(prefs::keys::OriginalURLsTagged), oldFormat,
                                 withoutStorages ? &extracted : nullptr);
        }
        gAdoptsSavedSettings = false;
        libraryArray.reset();
        if (!loaded.isEmpty()) {
            defaults.setBool(true, prefs::keys::OriginalURLsTagged);
            if (withoutStorages) {
                PMLibraryContainerPtr temporary = PMContainerPtr(loaded.values().back());
                if (temporary)
                    loaded.values().pop_back();
                else
                    temporary = PMLibraryContainer::make();
                temporary->setValue(kTopLevel, QStringLiteral("Temporary"));
                auto localized = [](const char* text) { return QCoreApplication::translate("PMStorage", text); };
                auto children = Array::make();
                children->values() = std::move(loaded.values());
                _library->append(Value(PMLibraryContainer::make({{kTopLevel, QStringLiteral("Library")}, {QStringLiteral("Name"), localized("Library")}, {kChildren, children}})));
                _library->append(Value(temporary));
                _library->append(Value(PMLibraryContainer::make({{kTopLevel, QStringLiteral("iTunes")}, {QStringLiteral("Name"), QStringLiteral("iTunes")}})));
                _library->append(Value(PMLibraryContainer::make({{kTopLevel, QStringLiteral("iPhoto")}, {QStringLiteral("Name"), QStringLiteral("iPhoto")}})));
                _library->append(Value(PMLibraryContainer::make({{kTopLevel, QStringLiteral("Downloads")}, {QStringLiteral("Name"), localized("Downloads")}})));
                auto smart = Array::make();
                smart->values() = std::move(extracted.values());
                _library->append(Value(PMLibraryContainer::make({{kTopLevel, QStringLiteral("Smart Groups")}, {QStringLiteral("Name"), localized("Playlists")}, {kChildren, smart}})));
            } else {
                _library->values() = std::move(loaded.values());
            }
        }
    }
    if (_library->isEmpty()) {
        smartGroupStorage();
        PMLog("using empty library");
        // An index that was there but could not be read, with no backup to take its
        // place: the user learns it, and where the damaged file is kept.
        if (!keptAside.isEmpty())
            PMRunAlert(QCoreApplication::translate("PMMainController", "The library could not be read."),
                       QCoreApplication::translate("PMMainController", "The library index is damaged and no backup of it could be read, so "
                                                                       "Pellis opens an empty library. The damaged file is kept as:\n\n%1")
                           .arg(keptAside));
    }
    pellisSourceStorageSection();
    // The records were made without looking at their files. At start-up, and for a library
    // chosen later, whether each file is where the index says is learnt by the search once
    // the window shows (`searchForMissingFilesInBackground`); otherwise this first rebuild
    // tests every file. The files not where the index says are looked for by that search.
    _skipMissingStatusUpdate = false;
    _defersFileSearches = true;
    invalidateLibraryDependencies();
    _defersFileSearches = false;
    if (_didFinishLaunching)
        QMetaObject::invokeMethod(
            this,
            [this] {
                searchForMissingFilesInBackground();
                updateCachedFileMetadataTagsForMovieRepresentations(nullptr);
            },
            Qt::QueuedConnection);
    // What was read of the index is freed by now: its pages are handed back, or gathered
    // for what comes next.
    platform::releaseFreeMemory();
    _libraryIsLoaded = true;
}

namespace {

// The bookmark that takes the place of an older library's alias record: of the file it
// points to, or of its path alone when no file is there now.
QByteArray bookmarkDataFromAlias(const QByteArray& alias, const QString& savedPath)
{
    QString aliasedPath;
    QString error;
    if (!platform::pathFromAliasRecord(alias, &aliasedPath, &error)) {
        PMLog("cannot read alias of <%@>: %@", savedPath, error);
        return {};
    }
    platform::Bookmark bookmark;
    if (!platform::createBookmark(aliasedPath, &bookmark))
        bookmark.path = aliasedPath;
    return bookmark.toData();
}

// A saved path: its exact bytes when the index keeps them beside the text (a file name
// that is not UTF-8), else the text, which older indexes wrote with such bytes as lone
// surrogates in it.
Value savedPath(const Dictionary& saved, const QString& key)
{
    const Value text = saved.value(key);
    if (!text.isString())
        return text;
    const Value bytes = saved.value(key + QStringLiteral(" Data"));
    if (bytes.isData() && !bytes.data().isEmpty() && !bytes.data().contains('\0'))
        return Value(platform::decodeFileName(bytes.data()));
    return text;
}

} // namespace

void PMMainController::populateLibraryArray(Array& libraryArray, const ArrayPtr& fromSavedArray, bool convertOriginalURLsToTags,
                                            bool convertToCSVTags, Array* extractSmartGroups, int depth)
{
    if (!fromSavedArray)
        return;
    if (depth > kMaximumLibraryDepth) {
        PMLog("dropping library items nested deeper than %d levels", kMaximumLibraryDepth);
        return;
    }
    QString mainLibraryPath; // read when the first relative path needs it
    for (Value& slot : fromSavedArray->values()) {
        // A tree that the load alone holds is let go of item by item, so that the memory
        // of what was read is used again for the records made of it.
        const Value savedValue = gAdoptsSavedSettings ? std::exchange(slot, Value()) : slot;
        if (!savedValue.isDictionary())
            continue;
        const DictionaryPtr saved = savedValue.dictionary();
        PMMovieRepresentationOriginalPtr record;
        bool isRecord = false;
        const Value settings = saved->value(QStringLiteral("User Settings"));
        // Settings that the load alone holds become the record's own settings record.
        const DictionaryPtr adoptedSettings = gAdoptsSavedSettings && settings.isDictionary() ? settings.dictionary() : nullptr;
        if (const Value path = savedPath(*saved, QStringLiteral("Path")); !path.isNull()) {
            isRecord = true;
            if (!path.isString() || path.string().isEmpty())
                continue;
            // The last component, as the file-name part of a path (no file is looked at).
            const QString& pathText = path.string();
            if (isTabooFilenameOrSequence(QStringView(pathText).mid(pathText.lastIndexOf(QLatin1Char('/')) + 1))) {
                if (PMDebugLogEnabled())
                    PMLog("[Debug] dropping irrelevant file at <%@>", path.string());
                continue;
            }
            Value relative = savedPath(*saved, QStringLiteral("Relative Path"));
            // One that climbs out of the library folder is no place in it: "Path" stands.
            if (relative.isString() && !isInsideRelativePath(relative.string()))
                relative = Value();
            const Value bookmark = saved->value(QStringLiteral("Bookmark"));
            QByteArray bookmarkData = bookmark.isData() ? bookmark.data() : QByteArray();
            if (bookmarkData.isEmpty())
                if (const Value alias = saved->value(QStringLiteral("Alias")); alias.isData())
                    bookmarkData = bookmarkDataFromAlias(alias.data(), path.string());
            QString filePath = platform::stringByExpandingTildeInPath(path.string());
            // Whether the file is where the index says is learnt by the rebuild that ends
            // the load, which tests every file anyway; the files that moved are looked for
            // after the window shows (by bookmark, or by the same place in another library
            // folder). Only when the library folder itself has moved is the file's place
            // in it tried now; elsewhere it is looked for later, from its saved relative path.
            bool searchLater = false;
            if (relative.isString() && !relative.string().isEmpty()) {
                if (mainLibraryPath.isNull())
                    mainLibraryPath = libraryPath();
                const QString joined = mainLibraryPath + relative.string();
                if (joined != filePath) {
                    if (fileExistsAtPathWithDefaultCache(joined))
                        filePath = joined;
                    else
                        searchLater = true;
                }
            }
            record = std::make_shared<PMMovieRepresentationOriginal>(filePath, adoptedSettings);
            if (!bookmarkData.isEmpty())
                record->setBookmark(bookmarkData);
            if (searchLater)
                _pendingFileSearches.push_back({record, record->path(), relative.string(), bookmarkData});
        } else if (const Value url = saved->value(QStringLiteral("URL")); !url.isNull()) {
            isRecord = true;
            const QUrl parsed = url.isString() ? QUrl(url.string(), QUrl::StrictMode) : QUrl();
            if (!parsed.isValid() || parsed.isEmpty())
                continue;
            record = std::make_shared<PMMovieRepresentationOriginal>(parsed, adoptedSettings);
        }
        if (isRecord) {
            if (!record)
                continue;
            // A new record is stamped with the date it was added and given its ID; a
            // saved one brings both, so neither is made before its settings are read.
            if (settings.isDictionary()) {
                if (gAdoptsSavedSettings)
                    record->adoptUserSettings(settings.dictionary());
                else
                    record->loadUserSettings(settings.dictionary());
                const DictionaryPtr userSettings = record->userSettings();
                const Value tags = userSettings->value(QStringLiteral("Tags"));
                // Tags of the current format that are all well formed stay as they are
                // (the record holds them alone); others are rebuilt below.
                bool keepTags = !convertToCSVTags && tags.isDictionary() && !tags.dictionary()->isEmpty();
                if (keepTags)
                    for (const Value& tag : *tags.dictionary())
                        keepTags = keepTags && tag.isDictionary();
                DictionaryPtr newTags = keepTags ? tags.dictionary() : Dictionary::make();
                if (tags.isDictionary() && !keepTags) {
                    const DictionaryPtr old = tags.dictionary();
                    for (auto it = old->begin(); it != old->end(); ++it) {
                        if (!it.value().isDictionary())
                            continue;
                        DictionaryPtr tag = it.value().dictionary();
                        if (convertToCSVTags && it.key() != QLatin1String("notes")) {
                            const Value value = tag->value(QStringLiteral("Value"));
                            const QString csv = value.isString() ? csvFromSemicolonText(value.string()) : QString();
                            if (csv.isEmpty())
                                continue;
                            tag = deeplyMutableCopy(tag);
                            tag->setValue(QStringLiteral("Value"), csv);
                        }
                        newTags->setValue(it.key(), Value(tag));
                    }
                }
                if (!keepTags) {
                    if (newTags->count())
                        userSettings->setValue(QStringLiteral("Tags"), Value(newTags));
                    else
                        userSettings->remove(QStringLiteral("Tags"));
                }
            } else {
                record->additionDate();
            }
            Q_UNUSED(convertOriginalURLsToTags);
            (void)record->uniqueLibraryID();
            // What the record adds to the tag types is read now, while its settings are
            // fresh in memory, rather than by the rebuild that ends the load.
            if (gAdoptsSavedSettings)
                (void)record->cachedTagTypeShare();
            libraryArray.append(Value(record));
            continue;
        }

        // A container.
        auto container = PMLibraryContainer::make();
        bool mayHaveChildren = true;
        const Value topLevel = saved->value(kTopLevel);
        if (topLevel.isString() && isStorageRole(topLevel.string())) {
            container->setValue(kTopLevel, topLevel);
            if (topLevel.string() == QLatin1String("Downloads") || topLevel.string() == QLatin1String("Conversions"))
                mayHaveChildren = false;
        } else if (const Value online = saved->value(QStringLiteral("Online")); online.isString()) {
            container->setValue(QStringLiteral("Online"), online);
            mayHaveChildren = false;
        } else if (const Value external = saved->value(QStringLiteral("External")); external.isString()) {
            container->setValue(QStringLiteral("External"), external);
        }
        if (boolValueOfObjectForKey(saved.get(), kSmart)) {
            container->setValue(kSmart, true);
            if (const Value criteria = saved->value(QStringLiteral("Criteria")); criteria.isDictionary()) {
                DictionaryPtr copy = deeplyMutableCopy(criteria.dictionary());
                if (convertToCSVTags) {
                    const Value subdivider = copy->value(QStringLiteral("Subdivider Tag"));
                    if (subdivider.isString())
                        copy->setValue(QStringLiteral("Subdivider Tag"), csvFromSemicolonText(subdivider.string()));
                }
                container->setValue(QStringLiteral("Criteria"), Value(copy));
            }
            for (const char* key : {"Flatten", "Flatten: Subdivisions Only", "Continue"})
                if (const Value v = saved->value(QString::fromUtf8(key)); !v.isNull())
                    container->setValue(QString::fromUtf8(key), v);
        } else {
            if (const Value section = saved->value(QStringLiteral("Library Section")); section.isString())
                container->setValue(QStringLiteral("Library Section"), section);
            if (mayHaveChildren) {
                auto children = Array::make();
                const Value savedChildren = saved->value(kChildren);
                if (savedChildren.isArray())
                    populateLibraryArray(*children, savedChildren.array(), convertOriginalURLsToTags, convertToCSVTags, extractSmartGroups,
                                         depth + 1);
                container->setValue(kChildren, Value(children));
                for (const char* key : {"Library Movies", "Smart Playlists Folder"})
                    if (const Value v = saved->value(QString::fromUtf8(key)); !v.isNull())
                        container->setValue(QString::fromUtf8(key), v);
                if (const Value proxies = saved->value(QStringLiteral("Static Proxies")); proxies.isArray())
                    container->setValue(QStringLiteral("Static Proxies"), Value(deeplyMutableCopy(proxies.array())));
            }
        }
        if (const Value v = saved->value(QStringLiteral("Subgroup Settings")); v.isDictionary())
            container->setValue(QStringLiteral("Subgroup Settings"), Value(deeplyMutableCopy(v.dictionary())));
        Value uniqueID = saved->value(QStringLiteral("Unique ID"));
        if (!uniqueID.isString() || uniqueID.string().isEmpty())
            uniqueID = saved->value(QStringLiteral("Persikey"));
        if (uniqueID.isString() && !uniqueID.string().isEmpty()) {
            container->setValue(QStringLiteral("Unique ID"), uniqueID);
            _containersByID.insert(uniqueID.string(), container);
        }
        for (const char* key : {"Group Sorting Criterion", "Group Sorting Criterion: Previous", "Group Sorting Direction",
                                "Group Content Display Mode", "Hide Item Count", "Emancipate", "Index Sequence", "Preview Width",
                                "Cover Width", "Name"})
            if (const Value v = saved->value(QString::fromUtf8(key)); !v.isNull())
                container->setValue(QString::fromUtf8(key), v.isArray() ? Value(deeplyMutableCopy(v.array()))
                                                            : v.isDictionary() ? Value(deeplyMutableCopy(v.dictionary())) : v);
        if (extractSmartGroups && container->isSmartGroup())
            extractSmartGroups->append(Value(container));
        else
            libraryArray.append(Value(container));
    }
}
