// The update pipeline: every change of the library reaches the screen by this road. It
// rebuilds the state derived from the tree (the lookup tables, the missing state of files,
// downloads and conversions, series, static playlists, smart groups), then
// refreshes the interface with the selections frozen around it. Steps that belong to parts
// of the program not present yet keep their place in the sequence as hooks that do nothing.
#include "library/model/PMMainController.h"
#include "library/model/PMSearch.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Bookmark.h"
#include "platform/ConcurrentApply.h"
#include "platform/DelayedPerform.h"
#include "platform/Paths.h"
#include "platform/ThreadSanitizer.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QPointer>

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>
#include <tuple>

using platform::Array;
using platform::ArrayPtr;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

// The library folders, read once per rebuild for the repair of missing files (main
// thread only).
QStringList gRebuildLibraryPaths;
std::atomic<bool> gBlendsSubgroupPreviews{false};
PMMainController::ListMetrics gListMetrics;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// The number after the colon of an indexed series ID ("<prefix>:<index>").
qulonglong seriesIndex(const QString& indexedSeriesID)
{
    const qsizetype colon = indexedSeriesID.lastIndexOf(u':');
    return colon < 0 ? 0 : QStringView(indexedSeriesID).mid(colon + 1).toULongLong();
}

} // namespace

bool PMMainController::blendsSubgroupPreviews()
{
    return gBlendsSubgroupPreviews.load();
}

const PMMainController::ListMetrics& PMMainController::listMetrics()
{
    return gListMetrics;
}

void PMMainController::updateLibraryAfterDelay(double delay, bool forceUpdateMissingStatus)
{
    if (forceUpdateMissingStatus)
        _skipMissingStatusUpdate = false;
    platform::performAfterDelay(this, QStringLiteral("updateLibrary"), Value(), delay, [this] { updateLibrary(); });
}

void PMMainController::updateLibrary()
{
    platform::cancelPreviousPerformRequests(this, QStringLiteral("updateLibrary"), Value());
    freezeSelections();
    updateLibraryWithFrozenSelections();
}

void PMMainController::updateLibraryWithFrozenSelections()
{
    updateLibraryAndInvalidateDependencies(true, false, true);
    unfreezeSelections();
}

void PMMainController::updateLibraryAndInvalidateDependencies(bool invalidateDependencies, bool forceUpdateFileLocations,
                                                             bool saveExpansionStateFirst)
{
    auto step = [this](const char* name) {
        if (_libraryUpdateStepObserver)
            _libraryUpdateStepObserver(QString::fromUtf8(name));
    };
    step("closeInterface");
    closeInterfaceForLibraryUpdate();
    if (saveExpansionStateFirst && _libraryWasBuiltOnce) {
        step("storeLibraryListExpansionState");
        storeLibraryListExpansionState();
    }
    if (invalidateDependencies) {
        step("invalidateLibraryDependencies");
        invalidateLibraryDependencies();
        if (forceUpdateFileLocations && !defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder)) {
            step("organize");
            organizeLibraryFolderForUpdate();
            step("invalidateLibraryDependencies");
            invalidateLibraryDependencies();
        }
        step("invalidateCurrentOrMonitoredMovieRepresentationAncestors");
        invalidateCurrentOrMonitoredMovieRepresentationAncestors();
    }

    step("listMetrics");
    const long long listFontSize = defaults().integerForKey(prefs::keys::ListFontSize);
    const long long contentFontSize = defaults().integerForKey(prefs::keys::ContentFontSize);
    ListMetrics metrics;
    metrics.largeListFont = listFontSize == 2
        || (listFontSize != 1 && defaults().integerForKey(prefs::keys::NSTableViewDefaultSizeMode) != 1);
    metrics.largeContentFont = contentFontSize == 2 || (contentFontSize != 1 && metrics.largeListFont);
    metrics.rowHeights[0] = metrics.largeContentFont ? 26 : 22;
    metrics.rowHeights[1] = metrics.largeContentFont ? 25 : 22;
    const double cellPadding = 5;
    metrics.rowHeights[2] = metrics.rowHeights[0] + 2 * cellPadding;
    gListMetrics = metrics;

    step("reloadInterface");
    reloadInterfaceAfterLibraryUpdate();
    _libraryWasBuiltOnce = true;
    libraryFolderDryRunNeedsUpdate();
    // Files found at new places or metadata read again dropped search texts and sort names
    // of many movies: made again in the background, not by the next keystroke.
    if (_didFinishLaunching && !_awaitsFirstPaint)
        PMPrepareSearchIndexAgainIfStale();
}

struct PMMainController::RebuildFileTests {
    QHash<QString, bool> volumes; // mounted or not
    PMFileExistenceProbe probe;
    // The volume of the last folder asked about: the files of a folder come in a row.
    QString lastFolder;
    QString lastVolume;
    // Movies not found by their bookmarks (their place in the walk), with the number of
    // moved folders known then: those are looked for again where later ones went.
    std::vector<std::pair<size_t, quint64>> notFoundByBookmark;
    // The items of the tree that may be movies, in the order of the walk (the arrays they
    // stand in are not changed until the walk is done).
    std::vector<const Value*> movieValues;

    QString volumeOf(const QString& path)
    {
        const qsizetype slash = path.lastIndexOf(u'/');
        const QStringView folder = QStringView(path).left(slash);
        if (slash > 0 && !lastFolder.isEmpty() && folder == lastFolder)
            return lastVolume;
        QString volume = volumePathOrSlash(path);
        // A path that is a volume itself says nothing of the other paths in its folder.
        const bool answersForFolder = slash > 0 && volume != path && platform::isCleanAbsolutePath(path);
        lastFolder = answersForFolder ? folder.toString() : QString();
        lastVolume = volume;
        return volume;
    }
};

void PMMainController::invalidateLibraryDependencies()
{
    // Files moved or deleted together are looked for once, not once each.
    const platform::BookmarkSearchSession bookmarkSearch;
    static const bool servicesWired = [this] {
        // Fuzzy dates of series members come from the series records of the last rebuild.
        auto& services = PMMovieRepresentationServices::shared();
        services.oldestDateForSeriesIDPrefix = [this](const QString& prefix) -> std::optional<Date> {
            const Value date = _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix)
                ? _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix)->value(QStringLiteral("Date")) : Value();
            return date.isDate() ? std::optional<Date>(date.date()) : std::nullopt;
        };
        services.newestDateForSeriesIDPrefix = [this](const QString& prefix) -> std::optional<Date> {
            const Value date = _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix)
                ? _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix)->value(QStringLiteral("Newest")) : Value();
            return date.isDate() ? std::optional<Date>(date.date()) : std::nullopt;
        };
        if (!services.updateLibraryAfterDelay)
            services.updateLibraryAfterDelay = [this](double delay) { updateLibraryAfterDelay(delay, false); };
        return true;
    }();
    Q_UNUSED(servicesWired);
    gBlendsSubgroupPreviews = defaults().boolForKey(prefs::keys::SubgroupPreviewsPositionAllowBlending)
        && defaults().integerForKey(prefs::keys::SubgroupPreviewsPosition) == 2;

    // The tables are rebuilt from scratch, at about the size they had. The old ones are
    // released here, on the main thread, while the new ones are filled by workers.
    auto oldContainers = std::move(_containersByID);
    auto oldByPath = std::move(_nonProxyRawMovieRepresentationsByPath);
    auto oldByID = std::move(_nonProxyRawMovieRepresentationsByID);
    auto oldFilteredByID = std::move(_nonProxyFilteredMovieRepresentationsByID);
    _containersByID = {};
    _containersByID.reserve(oldContainers.size());
    _nonProxyRawMovieRepresentationSeriesByIDPrefix = {};
    _availableMovieRepresentationsByOriginalURLString.reset();
    _walkedMovies.clear();
    _walkedMovies.reserve(_previousWalk.size());

    // What every existence test of this rebuild reads.
    _testsMissingStatus = !_skipMissingStatusUpdate || defaults().boolForKey(prefs::keys::AlwaysUpdateMissingStatusOnInvalidation);
    _useSimplifiedVolumeCache = defaults().boolForKey(prefs::keys::UseSimplifiedCacheForExternalVolumeFileChecks);
    _missingMoviesMode = defaults().integerForKey(prefs::keys::MissingMoviesMode);
    RebuildFileTests fileTests;
    {
        auto& services = PMMovieRepresentationServices::shared();
        gRebuildLibraryPaths = services.libraryPaths ? services.libraryPaths() : QStringList();
    }

    PMUpdateSubgroupsTreatedAsFiles();
    Array smartGroups;
    Array smartGroupFolders;
    fileTests.movieValues.reserve(_previousWalk.size());
    invalidateLibraryDependencies(_library, &smartGroupFolders, &smartGroups, false, fileTests);
    walkMovies(fileTests);
    _rebuiltSmartGroups = smartGroups;
    // A folder that moved is found by the first of its files whose search reaches it; the
    // files met before that (whose searches gave up) are looked for where it went.
    for (const auto& [index, movesKnown] : fileTests.notFoundByBookmark) {
        if (movesKnown == platform::bookmarkSearchMovedFoldersLearned())
            continue;
        WalkedMovie& walked = _walkedMovies[index];
        PMMovieRepresentationOriginal* movie = walked.original.get();
        const QString fixed = PMMovieRepresentationPrototype::fixedPath(walked.path, QString(), movie->storedBookmark(), movie);
        if (fixed.isEmpty())
            continue;
        walked.path = fixed;
        walked.filteredIn = true;
        movie->setMissing(false, false);
    }

    // The same movies as last time, untouched tables: those are kept.
    const auto unchanged = [](const auto& table, const auto& built) {
        return table.size() == built.size() && table.constBegin() == built.constBegin();
    };
    const bool keepTables = walkMatchesPrevious() && unchanged(oldByPath, _builtByPath) && unchanged(oldByID, _builtByID)
                            && unchanged(oldFilteredByID, _builtFilteredByID);
    if (keepTables) {
        _nonProxyRawMovieRepresentationsByPath = std::move(oldByPath);
        _nonProxyRawMovieRepresentationsByID = std::move(oldByID);
        _nonProxyFilteredMovieRepresentationsByID = std::move(oldFilteredByID);
        oldContainers = {};
        registerWalkedSeriesAndFilteredMovies(_walkedMovies, false, true);
    } else {
        _builtByPath = {};
        _builtByID = {};
        _builtFilteredByID = {};
        _nonProxyRawMovieRepresentationsByPath = {};
        _nonProxyRawMovieRepresentationsByPath.reserve(std::max(oldByPath.size(), qsizetype(_walkedMovies.size())));
        _nonProxyRawMovieRepresentationsByID = {};
        _nonProxyRawMovieRepresentationsByID.reserve(qsizetype(_walkedMovies.size()));
        _nonProxyFilteredMovieRepresentationsByID = {};
        // The workers get the walk as it stands (not the vector, which this thread moves
        // away once they are done).
        const std::span<const WalkedMovie> walked(_walkedMovies);
        QFuture<void> building;
        {
            building = QtConcurrent::run(platform::carried([this, walked] {
                registerWalkedMovies(walked);
                platform::handOver(&_walkedMovies);
            }));
        }
        oldContainers = {};
        oldByPath = {};
        oldByID = {};
        oldFilteredByID = {};
        building.waitForFinished();
        platform::takeOver(&_walkedMovies);
        _builtByPath = _nonProxyRawMovieRepresentationsByPath;
        _builtByID = _nonProxyRawMovieRepresentationsByID;
        _builtFilteredByID = _nonProxyFilteredMovieRepresentationsByID;
    }
    // The storage of the walk before is kept for the next one (fresh memory for a
    // library's worth of entries costs more than their writing).
    std::swap(_previousWalk, _walkedMovies);
    _walkedMovies.clear();

    // Downloads and conversions: oldest first; the long-term counts remember the largest
    // number seen since the storage was last empty (the Dock badge shows progress by them).
    // (The storages are not created here: a rebuild never changes the tree.)
    const PMLibraryContainerPtr downloads = storageWithName(QStringLiteral("Downloads"), nullptr, false);
    const PMLibraryContainerPtr conversions = storageWithName(QStringLiteral("Conversions"), nullptr, false);
    ArrayPtr downloadItems = Array::make();
    ArrayPtr conversionItems = Array::make();
    for (auto [storage, items, longTerm] : {std::tuple{downloads, &downloadItems, &_longTermNumberOfDownloads},
                                             std::tuple{conversions, &conversionItems, &_longTermNumberOfConversions}}) {
        if (storage)
            *items = storage->rawChildren();
        if ((*items)->isEmpty()) {
            *longTerm = 0;
            continue;
        }
        PMSortLibraryItemsInPlace(*items, QString::fromLatin1(kGroupListDate), false, nullptr);
        storage->invalidateChildren();
        *longTerm = std::max<std::int64_t>(*longTerm, (*items)->count());
    }
    updateApplicationIconWithDownloads(downloadItems, conversionItems, Date::now().secondsSinceReferenceDate());

    // External media sections (music, photos): rebuilt from the external media library.
    invalidateExternalMediaSections();

    // Series: each record gets its dates and its members in series order.
    if (!_nonProxyRawMovieRepresentationSeriesByIDPrefix.isEmpty()) {
        QList<DictionaryPtr> records = _nonProxyRawMovieRepresentationSeriesByIDPrefix.values();
        const bool fuzzy = PMCachedSettings::determineFuzzyOldestDate;
        platform::concurrentApply(size_t(records.size()), [&](size_t index) {
            Dictionary& record = *records[qsizetype(index)];
            const ArrayPtr items = record.value(QStringLiteral("Items")).array();
            if (!items)
                return;
            std::optional<Date> oldest, newest;
            std::vector<std::pair<qulonglong, PMMovieRepresentationOriginalPtr>> members;
            members.reserve(size_t(items->count()));
            for (const Value& v : *items) {
                auto movie = std::static_pointer_cast<PMMovieRepresentationOriginal>(v.object());
                movie->invalidateFuzzyDates();
                movie->invalidateSeriesSortName();
                movie->invalidateSortNameRecursively();
                (void)movie->sortName();
                if (fuzzy) {
                    const Date o = movie->individualOldestDate();
                    if (!isNeverDate(o) && (!oldest || o < *oldest))
                        oldest = o;
                    const Date n = movie->individualNewestDate();
                    if (!isNeverDate(n) && (!newest || n > *newest))
                        newest = n;
                }
                members.emplace_back(seriesIndex(movie->indexedSeriesID()), movie);
            }
            if (fuzzy) {
                record.setValue(QStringLiteral("Date"), oldest ? Value(*oldest) : Value());
                record.setValue(QStringLiteral("Newest"), newest ? Value(*newest) : Value());
            }
            std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
                if (a.first != b.first)
                    return a.first < b.first;
                return PMCompareLibraryItemsByName(*a.second, *b.second) < 0;
            });
            items->removeAll();
            for (const auto& member : members)
                items->append(Value(member.second));
        });
    }
    invalidateTagTypes();

    // Smart groups: filled, subdivided and shaped off this thread with one shared "now";
    // the earliest moment one of them changes by itself schedules the next update.
    startSmartGroupPopulation(smartGroups, Date::now().secondsSince1970);

    // Static playlists: the plain folders of the "Smart Groups" storage show their folders,
    // then a proxy of each movie they name that is still in the library.
    for (const Value& v : smartGroupFolders) {
        PMLibraryContainer* folder = PMContainer(v);
        auto children = Array::make();
        for (const Value& child : *folder->rawChildren())
            if (PMContainer(child))
                children->append(child);
        if (const Value proxies = folder->value(QStringLiteral("Static Proxies")); proxies.isArray())
            for (const Value& id : *proxies.array()) {
                const auto original = _nonProxyFilteredMovieRepresentationsByID.value(id.string());
                if (!original)
                    continue;
                if (PMMovieRepresentationProxyPtr proxy = original->staticPlaylistProxy())
                    children->append(Value(proxy));
            }
        folder->setValue(QStringLiteral("Children"), Value(children));
        folder->invalidateChildren();
    }

    _skipMissingStatusUpdate = true;
}

void PMMainController::registerWalkedMovies(std::span<const WalkedMovie> walked)
{
    // With every movie shown, the table of shown movies would hold just what the table of
    // all movies holds (the last movie walked for each ID): it shares that one. Nothing
    // iterates it, so only its contents matter.
    const bool allShown = std::all_of(walked.begin(), walked.end(), [](const WalkedMovie& m) { return m.filteredIn; });
    if (!allShown)
        _nonProxyFilteredMovieRepresentationsByID.reserve(qsizetype(walked.size()));
    // Independent tables: each is filled by its own worker; the walk order of the
    // filtered list is kept.
    auto byID = QtConcurrent::run(platform::carried([this, walked] {
        // Backwards, so that this worker does not touch the same records as the others at
        // the same moment; the first entry met for a key is then the last one walked, the
        // one a forward pass would have kept. One look-up per movie: the entry is made
        // where a look-up would have found no movie (an original is never null).
        for (auto it = walked.rbegin(); it != walked.rend(); ++it) {
            PMMovieRepresentationOriginalPtr& entry = _nonProxyRawMovieRepresentationsByID[it->uniqueLibraryID];
            if (!entry)
                entry = it->original;
        }
        platform::handOver(&_nonProxyRawMovieRepresentationsByID);
    }));
    auto byPath = QtConcurrent::run(platform::carried([this, walked] {
        for (const WalkedMovie& m : walked)
            if (!m.path.isEmpty())
                _nonProxyRawMovieRepresentationsByPath.insert(precomposedStringWithCanonicalMapping(m.path), m.original);
        platform::handOver(&_nonProxyRawMovieRepresentationsByPath);
    }));
    registerWalkedSeriesAndFilteredMovies(walked, !allShown, false);
    byID.waitForFinished();
    byPath.waitForFinished();
    platform::takeOver(&_nonProxyRawMovieRepresentationsByID);
    platform::takeOver(&_nonProxyRawMovieRepresentationsByPath);
    if (allShown)
        _nonProxyFilteredMovieRepresentationsByID = _nonProxyRawMovieRepresentationsByID;
}

void PMMainController::registerWalkedSeriesAndFilteredMovies(std::span<const WalkedMovie> walked, bool tablesToo, bool walkUnchanged)
{
    // Series records, from the settings the walk left untouched: the prefixes are read on
    // the workers (each record under its own lock; most movies have none), the records
    // made here in the order of the walk.
    std::vector<QString> prefixes(walked.size());
    constexpr size_t kChunk = 1024;
    platform::concurrentApply((walked.size() + kChunk - 1) / kChunk, [&](size_t chunk) {
        const size_t end = std::min(walked.size(), (chunk + 1) * kChunk);
        for (size_t i = chunk * kChunk; i < end; ++i)
            prefixes[i] = walked[i].original->seriesIDPrefix();
    });
    for (size_t i = 0; i < walked.size(); ++i) {
        if (prefixes[i].isEmpty())
            continue;
        DictionaryPtr& record = _nonProxyRawMovieRepresentationSeriesByIDPrefix[prefixes[i]];
        if (!record)
            record = Dictionary::make({{QStringLiteral("Items"), Value(Array::make())}});
        record->value(QStringLiteral("Items")).array()->append(Value(walked[i].original));
    }
    // The same walk makes the same list: the one made last is kept while nobody added to it.
    if (walkUnchanged && !tablesToo && _builtFiltered && _nonProxyFilteredMovieRepresentations == _builtFiltered
        && _builtFiltered->count() == _builtFilteredCount)
        return;
    auto filtered = Array::make();
    filtered->reserve(qsizetype(walked.size()));
    for (const WalkedMovie& m : walked) {
        if (!m.filteredIn)
            continue;
        if (tablesToo)
            _nonProxyFilteredMovieRepresentationsByID.insert(m.uniqueLibraryID, m.original);
        filtered->append(Value(m.original));
    }
    _nonProxyFilteredMovieRepresentations = filtered;
    _builtFiltered = filtered;
    _builtFilteredCount = filtered->count();
}

void PMMainController::forgetPreviousRebuild()
{
    _previousWalk = {};
    _builtFiltered = nullptr;
    _builtFilteredCount = 0;
    _builtByPath = {};
    _builtByID = {};
    _builtFilteredByID = {};
    _tagTypesSources = {};
    _tagTypeShares = {};
    _tagTypeFlat = {};
    _tagTypeFlatStart = {};
    _builtTagTypes = {};
    _tagTypesEpoch = 0;
}

bool PMMainController::walkMatchesPrevious() const
{
    if (_walkedMovies.size() != _previousWalk.size())
        return false;
    const auto same = [](const QString& a, const QString& b) { return (a.constData() == b.constData() && a.size() == b.size()) || a == b; };
    for (size_t i = 0; i < _walkedMovies.size(); ++i) {
        const WalkedMovie& now = _walkedMovies[i];
        const WalkedMovie& then = _previousWalk[i];
        if (now.original != then.original || now.filteredIn != then.filteredIn || !same(now.uniqueLibraryID, then.uniqueLibraryID)
            || !same(now.path, then.path))
            return false;
    }
    return true;
}

void PMMainController::invalidateLibraryDependencies(const ArrayPtr& items, Array* collectSmartGroupFolders, Array* collectSmartGroups,
                                                     bool inSmartGroupStorage, RebuildFileTests& fileTests)
{
    if (!items)
        return;
    for (const Value& v : *items) {
        if (PMLibraryContainer* container = PMContainer(v)) {
            _containersByID.insert(container->uniqueLibraryID(), PMContainerPtr(v));
            container->invalidateChildren();
            const QString section = container->value(QStringLiteral("Library Section")).string();
            const QString role = container->topLevelRole();
            if (role == QLatin1String("Downloads") || role == QLatin1String("Conversions") || section == QLatin1String("iTunes")
                || section == QLatin1String("iPhoto") || section == QLatin1String("Aperture") || section == QLatin1String("Online"))
                continue;
            if (container->isSmartGroup()) {
                // The group shows what it showed until its new content arrives: its buckets
                // stay known by their IDs meanwhile, so selections of them survive.
                registerSmartGroupBuckets(*container);
                if (collectSmartGroups)
                    collectSmartGroups->append(v);
            } else if (inSmartGroupStorage) {
                if (collectSmartGroupFolders)
                    collectSmartGroupFolders->append(v);
                container->setValue(QStringLiteral("Smart Playlists Folder"), Value(true));
                invalidateLibraryDependencies(container->rawChildren(), collectSmartGroupFolders, collectSmartGroups, true, fileTests);
            } else {
                container->remove(QStringLiteral("Smart Playlists Folder"));
                container->remove(QStringLiteral("Static Proxies"));
                invalidateLibraryDependencies(container->rawChildren(), collectSmartGroupFolders, collectSmartGroups,
                                              role == QLatin1String("Smart Groups"), fileTests);
            }
            continue;
        }
        if (v.type() == Value::Type::Object)
            fileTests.movieValues.push_back(&v);
    }
}

void PMMainController::walkMovies(RebuildFileTests& fileTests)
{
    const long long mode = _missingMoviesMode;
    // What the walk reads of each record is read for all of them first, on the workers
    // while this thread waits (each record under its own lock), into the walk's own list:
    // the records of a large library lie all over memory, and one thread reading them in
    // turn waits on each. Nothing is made or changed there: a record without an ID gets
    // one below, on this thread, and the files are tested in the order of the walk.
    const std::vector<const Value*>& values = fileTests.movieValues;
    _walkedMovies.resize(values.size());
    constexpr size_t kChunk = 1024;
    platform::concurrentApply((values.size() + kChunk - 1) / kChunk, [&](size_t chunk) {
        const size_t end = std::min(values.size(), (chunk + 1) * kChunk);
        for (size_t i = chunk * kChunk; i < end; ++i) {
            WalkedMovie& read = _walkedMovies[i];
            PMMovieRepresentationPrototype* movie = PMMovie(*values[i]);
            if (!movie || movie->isProxy())
                continue; // (left out below)
            read.original = std::static_pointer_cast<PMMovieRepresentationOriginal>(values[i]->object());
            read.uniqueLibraryID = movie->storedUniqueLibraryID();
            read.path = movie->path();
            read.missing = movie->isMissing();
            read.missingVolume = movie->isMissingVolume();
        }
    });
    // The movies close up in place, in the order of the walk.
    size_t kept = 0;
    const auto keep = [&](WalkedMovie& walked) {
        if (&walked != &_walkedMovies[kept])
            _walkedMovies[kept] = std::move(walked);
        ++kept;
    };
    for (size_t i = 0; i < values.size(); ++i) {
        WalkedMovie& walked = _walkedMovies[i];
        PMMovieRepresentationOriginal* movie = walked.original.get();
        if (!movie)
            continue;
        // IDs are made here, on the main thread, before the workers read them.
        if (walked.uniqueLibraryID.isEmpty())
            walked.uniqueLibraryID = movie->uniqueLibraryID();
        // A file test may move a record's file: a record met twice is read again then.
        if (_testsMissingStatus && !_defersExistenceTests)
            walked.path = movie->path();
        if (walked.path.isEmpty()) {
            // Nothing to test: always shown.
        } else if (!_testsMissingStatus || _defersExistenceTests) {
            if (mode != 1)
                walked.filteredIn = !walked.missingVolume && !(mode == -1 && walked.missing);
            if (_testsMissingStatus)
                _pendingExistenceTests.push_back({walked.original, walked.path});
        } else if (const QString volume = fileTests.volumeOf(walked.path);
                   fileExistsAtPathOnVolume(walked.path, volume, _useSimplifiedVolumeCache, &fileTests.probe)) {
            movie->setMissing(false, false);
        } else {
            // A volume is asked about at most once per rebuild.
            auto cached = fileTests.volumes.constFind(volume);
            if (cached == fileTests.volumes.constEnd())
                cached = fileTests.volumes.insert(volume, platform::isVolumeMounted(volume));
            if (!*cached) {
                movie->setMissing(true, true);
                walked.filteredIn = mode == 1;
            } else {
                // The file is not there, so no bookmark can be made of it now: only one
                // stored earlier can find it. Without one, only a file inside a library
                // folder can be found (at its place in another library folder).
                const QByteArray bookmark = movie->storedBookmark();
                const bool findable = !bookmark.isEmpty()
                    || std::any_of(gRebuildLibraryPaths.cbegin(), gRebuildLibraryPaths.cend(), [&](const QString& library) {
                           return walked.path != library && isEqualToOrChildOfPath(walked.path, library);
                       });
                if (findable && _defersFileSearches) {
                    // Looked for once the window shows; missing until found.
                    movie->setMissing(true, false);
                    walked.filteredIn = mode != -1;
                    _pendingFileSearches.push_back({walked.original, walked.path, QString(), bookmark});
                    keep(walked);
                    continue;
                }
                const QString fixed = findable ? PMMovieRepresentationPrototype::fixedPath(walked.path, QString(), bookmark, movie) : QString();
                if (!fixed.isEmpty()) {
                    walked.path = fixed;
                    movie->setMissing(false, false);
                } else {
                    movie->setMissing(true, false);
                    walked.filteredIn = mode != -1;
                    if (!bookmark.isEmpty())
                        fileTests.notFoundByBookmark.emplace_back(kept, platform::bookmarkSearchMovedFoldersLearned());
                }
            }
        }
        keep(walked);
    }
    _walkedMovies.resize(kept);
}

void PMMainController::searchForMissingFilesInBackground()
{
    // The rebuilds from now on test the files themselves again.
    _defersExistenceTests = false;
    if (_pendingFileSearches.empty() && _pendingExistenceTests.empty())
        return;
    // One search per record: the load's own (with the saved relative path) comes first.
    auto searches = std::make_shared<std::vector<PendingFileSearch>>();
    auto tests = std::make_shared<std::vector<PendingExistenceTest>>();
    {
        QSet<const PMMovieRepresentationOriginal*> seen;
        for (PendingFileSearch& search : _pendingFileSearches)
            if (!seen.contains(search.movie.get())) {
                seen.insert(search.movie.get());
                searches->push_back(std::move(search));
            }
        _pendingFileSearches.clear();
        // A record searched for anyway needs no test of its own.
        tests->reserve(_pendingExistenceTests.size());
        for (PendingExistenceTest& test : _pendingExistenceTests)
            if (!seen.contains(test.movie.get())) {
                seen.insert(test.movie.get());
                tests->push_back(std::move(test));
            }
        _pendingExistenceTests = {};
    }
    _isSearchingMissingFiles = true;
    // What the search reads of the settings and the library folders is read here, on the
    // main thread; the worker reads only the disk (and the records' bookmarks, under
    // their locks).
    const PMMovieRepresentationPrototype::FileSearchSettings settings = PMMovieRepresentationPrototype::FileSearchSettings::current();
    const quint64 generation = _fileSearchGeneration;
    QPointer<PMMainController> self(this);
    // One thread at the usual priority, not the idle background pool: until a file is found
    // its tile shows it missing, so the answers are what the window shows.
    (void)QtConcurrent::run(platform::carried([self, searches, tests, settings, generation] {
        auto found = std::make_shared<std::vector<FoundFile>>();
        // The files the rebuild did not test: those not there are looked for like the
        // load's own, when a bookmark or their place in a library folder can find them.
        {
            RebuildFileTests fileTests;
            for (const PendingExistenceTest& test : *tests) {
                const QString volume = fileTests.volumeOf(test.path);
                if (fileExistsAtPathOnVolume(test.path, volume, settings.simplifiedVolumeCache, &fileTests.probe))
                    continue;
                auto mounted = fileTests.volumes.constFind(volume);
                if (mounted == fileTests.volumes.constEnd())
                    mounted = fileTests.volumes.insert(volume, platform::isVolumeMounted(volume));
                const QByteArray bookmark = *mounted ? test.movie->storedBookmark() : QByteArray();
                const bool findable = *mounted
                    && (!bookmark.isEmpty() || std::any_of(settings.libraryPaths.cbegin(), settings.libraryPaths.cend(), [&](const QString& library) {
                           return test.path != library && isEqualToOrChildOfPath(test.path, library);
                       }));
                if (findable)
                    searches->push_back({test.movie, test.path, QString(), bookmark});
                else
                    found->push_back({test.movie, test.path, QString(), QByteArray(), !*mounted});
            }
        }
        // Files moved together are looked for once, not once each.
        const platform::BookmarkSearchSession bookmarkSearch;
        const quint64 readsBefore = platform::bookmarkSearchFolderReads();
        std::vector<char> searchFound(searches->size(), 0);
        std::vector<std::pair<size_t, quint64>> notFoundByBookmark;
        const auto search = [&](size_t index) {
            const PendingFileSearch& pending = (*searches)[index];
            const QString fixed = PMMovieRepresentationPrototype::searchedPath(pending.path, pending.relativePath, pending.bookmark, settings);
            if (!fixed.isEmpty()) {
                // The bookmark of the new place, made here rather than on the main thread.
                found->push_back({pending.movie, pending.path, fixed, fixed == pending.path ? QByteArray() : PMBookmarkDataFromPath(fixed)});
                searchFound[index] = 1;
                return true;
            }
            return false;
        };
        for (size_t i = 0; i < searches->size(); ++i)
            if (!search(i) && !(*searches)[i].bookmark.isEmpty())
                notFoundByBookmark.emplace_back(i, platform::bookmarkSearchMovedFoldersLearned());
        // A folder that moved is found by the first of its files whose search reaches it;
        // the files met before that are looked for where it went.
        for (const auto& [index, movesKnown] : notFoundByBookmark)
            if (movesKnown != platform::bookmarkSearchMovedFoldersLearned())
                search(index);
        // What was not found is missing (the load's own records show so already).
        for (size_t i = 0; i < searches->size(); ++i)
            if (!searchFound[i])
                found->push_back({(*searches)[i].movie, (*searches)[i].path, QString(), QByteArray(), false});
        const quint64 folderReads = platform::bookmarkSearchFolderReads() - readsBefore;
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            platform::carried([self, found, generation, folderReads] {
                if (!self)
                    return;
                self->_missingFileSearchFolderReads = folderReads;
                self->applyFoundFiles(found, 0, generation);
            }),
            Qt::QueuedConnection);
    }));
}

void PMMainController::applyFoundFiles(std::shared_ptr<const std::vector<FoundFile>> found, size_t from, quint64 generation)
{
    // The library was replaced meanwhile (the new load has its own search).
    if (generation != _fileSearchGeneration)
        return;
    // A slice at a time, so that the window answers between them.
    constexpr size_t kSlice = 2000;
    const size_t end = std::min(found->size(), from + kSlice);
    for (size_t i = from; i < end; ++i) {
        const FoundFile& file = (*found)[i];
        PMMovieRepresentationOriginal* movie = file.movie.get();
        // A record moved, located or removed meanwhile by the user keeps what it has now.
        if (movie->path() != file.oldPath || !_nonProxyRawMovieRepresentationsByID.contains(movie->uniqueLibraryID()))
            continue;
        if (file.newPath.isEmpty()) {
            if (!movie->isMissing() || movie->isMissingVolume() != file.volumeMissing) {
                movie->setMissing(true, file.volumeMissing);
                _missingFilesToShow = true;
            }
            continue;
        }
        if (file.newPath != file.oldPath)
            movie->setURLWithBookmark(QUrl::fromLocalFile(file.newPath), file.bookmark);
        movie->setMissing(false, false);
        _foundFilesToApply = true;
    }
    if (end < found->size()) {
        QMetaObject::invokeMethod(this, [this, found, end, generation] { applyFoundFiles(found, end, generation); }, Qt::QueuedConnection);
        return;
    }
    _isSearchingMissingFiles = false;
    const bool moved = std::exchange(_foundFilesToApply, false);
    if (std::exchange(_missingFilesToShow, false) || moved) {
        // The new paths go into the tables and the index, and the window shows the movies
        // present again or missing: one rebuild, one refresh.
        updateLibrary();
        if (moved)
            saveLibrarySoon();
    }
}

void PMMainController::registerSmartGroupBuckets(PMLibraryContainer& container)
{
    if (container.holdsNoContainers())
        return;
    for (const Value& v : *container.storedChildren())
        if (PMLibraryContainer* bucket = PMContainer(v); bucket && bucket->isSmartGroupSubdivision()) {
            _containersByID.insert(bucket->uniqueLibraryID(), PMContainerPtr(v));
            registerSmartGroupBuckets(*bucket);
        }
}

void PMMainController::invalidateCurrentOrMonitoredMovieRepresentationAncestors()
{
    // The old parent is where a proxy that the rebuild replaced is looked for again.
    QString oldParentID;
    if (_currentOrMonitoredMovieRepresentationAncestors && !_currentOrMonitoredMovieRepresentationAncestors->isEmpty())
        if (PMLibraryItem* parent = PMItem(_currentOrMonitoredMovieRepresentationAncestors->at(0)))
            oldParentID = parent->uniqueLibraryID();
    _currentOrMonitoredMovieRepresentationAncestors = nullptr;

    const bool hasCurrent = !_currentMovieRepresentation.isNull();
    const Value subject = hasCurrent ? _currentMovieRepresentation : _externalViewerMovieRepresentation;
    if (subject.isNull())
        return;
    _currentOrMonitoredMovieRepresentationAncestors = ancestorsOfLibraryItem(subject);
    if (!_currentOrMonitoredMovieRepresentationAncestors) {
        Value replacement;
        if (PMLibraryItem* item = PMItem(subject); item && item->isProxy()) {
            if (const PMLibraryContainerPtr oldParent = _containersByID.value(oldParentID))
                replacement = oldParent->childWithUniqueLibraryID(item->uniqueLibraryID());
            if (replacement.isNull())
                if (PMMovieRepresentationOriginalPtr original = item->proxyOriginal())
                    replacement = Value(original);
        }
        if (!replacement.isNull()) {
            if (hasCurrent) {
                _currentMovieRepresentation = replacement;
                _currentOrMonitoredMovieRepresentationAncestors = ancestorsOfLibraryItem(replacement);
                _externalViewerMovieRepresentation = Value();
            } else {
                _externalViewerMovieRepresentation = replacement;
                if (_isMonitoringExternalViewer)
                    _currentOrMonitoredMovieRepresentationAncestors = ancestorsOfLibraryItem(replacement);
            }
        }
    }
    if (!hasCurrent && !(_isMonitoringExternalViewer && !_externalViewerMovieRepresentation.isNull()))
        _currentOrMonitoredMovieRepresentationAncestors = nullptr;
}

void PMMainController::updateCachedFileMetadataTagsForMovieRepresentations(const ArrayPtr& movies)
{
    if (!defaults().boolForKey(prefs::keys::ImportMetadataInternal))
        return;
    // Without names taken from the files, only the tags named for import are read; with
    // none named there is nothing to read.
    if (!defaults().boolForKey(prefs::keys::ImportMetadataName)) {
        auto& services = PMMovieRepresentationServices::shared();
        if (!services.importTagNames || services.importTagNames().isEmpty())
            return;
    }
    std::vector<PMMovieRepresentationOriginal*> records;
    if (movies) {
        records.reserve(size_t(movies->count()));
        for (const Value& v : *movies)
            if (PMMovieRepresentationPrototype* movie = PMMovie(v))
                records.push_back(&movie->original());
    } else {
        records.reserve(size_t(_nonProxyRawMovieRepresentationsByPath.size()));
        for (const PMMovieRepresentationOriginalPtr& movie : std::as_const(_nonProxyRawMovieRepresentationsByPath))
            records.push_back(movie.get());
    }
    PMMovieRepresentationOriginal::refreshFileMetadataTags(records);
}

void PMMainController::volumeWasMountedOrUnmounted(const QString& volumePath)
{
    Q_UNUSED(volumePath);
    clearSimplifiedExternalVolumesCache();
    _skipMissingStatusUpdate = false;
    updateLibrary();
    updateCachedFileMetadataTagsForMovieRepresentations(nullptr);
    autoDetectAndIncludeNonLibraryFiles();
}

void PMMainController::startWatchingVolumes()
{
    if (_volumeWatcher)
        return;
    auto* watcher = new platform::VolumeWatcher(this);
    connect(watcher, &platform::VolumeWatcher::volumeMounted, this, &PMMainController::volumeWasMountedOrUnmounted);
    connect(watcher, &platform::VolumeWatcher::volumeUnmounted, this, &PMMainController::volumeWasMountedOrUnmounted);
    watcher->start();
    _volumeWatcher = watcher;
}
