// Smart groups in the library update: each update fills every smart group from its
// criteria, subdivides and shapes it, off the main thread over the library as the update
// left it, and hands the result back; the window keeps showing the previous content until
// then and never waits for it.
#include "library/model/PMMainController.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/maintenance/PMSmartGroups.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ConcurrentApply.h"
#include "platform/DelayedPerform.h"
#include "platform/ThreadSanitizer.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QCoreApplication>
#include <QtCore/QFuture>
#include <QtCore/QPointer>

#include <atomic>
#include <optional>
#include <mutex>

using platform::Array;
using platform::ArrayPtr;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kDidPopulateBasedOnPlayback = QStringLiteral("Did Populate Based On Playback");
const QString kSubgroupSettings = QStringLiteral("Subgroup Settings");

std::function<void()>& jobWillWorkHook()
{
    static std::function<void()> hook;
    return hook;
}

// The keys of a group that the engine reads or writes; the copy it works on has these.
const QStringList kGroupKeys = {QStringLiteral("Unique ID"), QStringLiteral("Name"), QStringLiteral("Smart"), QStringLiteral("Criteria"),
                                QStringLiteral("Flatten"), QStringLiteral("Flatten: Subdivisions Only"), kSubgroupSettings,
                                QStringLiteral("Index Sequence"), QStringLiteral("Group Sorting Criterion"), QStringLiteral("Group Sorting Direction")};
// The keys the engine leaves on the group for the window.
const QStringList kResultKeys = {kDidPopulateBasedOnPlayback, QStringLiteral("Flattened"), QStringLiteral("Flattened Non-Others"),
                                 QStringLiteral("Did Subdivide Based On Playback")};

// Forgets the buckets below the container that are known by their IDs (those objects, not
// newer ones of the same IDs).
void forgetBuckets(QHash<QString, PMLibraryContainerPtr>& containersByID, PMLibraryContainer& container)
{
    // Only containers are looked for: members that no view read stay without proxies.
    if (container.holdsNoContainers())
        return;
    for (const Value& v : *container.storedChildren())
        if (PMLibraryContainer* bucket = PMContainer(v); bucket && bucket->isSmartGroupSubdivision()) {
            const auto it = containersByID.constFind(bucket->uniqueLibraryID());
            if (it != containersByID.constEnd() && it->get() == bucket)
                containersByID.remove(bucket->uniqueLibraryID());
            forgetBuckets(containersByID, *bucket);
        }
}

bool needsSubdivisionTags(const PMLibraryContainer& group)
{
    const DictionaryPtr criteria = group.value(QStringLiteral("Criteria")).dictionary();
    return criteria && (criteria->value(QStringLiteral("Subdivider Tag")).isString()
                        || boolValueOfObjectForKey(criteria, QStringLiteral("Subdivide By Boolean Tag")));
}

} // namespace

struct PMMainController::SmartGroupPopulationJob {
    quint64 generation = 0;
    double now = 0;
    ArrayPtr movies;
    PMSmartGroupSettings settings;
    // What the groups read of the movies, taken on the main thread before the job began.
    std::shared_ptr<PMSmartGroupMovieFacts> facts;
    struct Entry {
        PMLibraryContainerPtr group;   // the live group (read on the main thread only)
        PMLibraryContainerPtr copy;    // what the engine works on (its settings its own)
        DictionaryPtr subgroupSettings; // the group's settings when the copy was made
        ArrayPtr previousChildren;      // what it showed
        double expiry = -1;
        PMSmartGroupRegistry registry;
    };
    std::vector<Entry> entries;
    QFuture<void> future;
    std::atomic<bool> takenOver{false};
    // Set when a newer update made the result useless: the job stops at the next group or
    // chunk of movies.
    std::atomic<bool> obsolete{false};
    // The groups it left unfinished when it stopped; said in the debug log (taken on the
    // main thread when the job was made).
    std::atomic<int> leftUnfinished{0};
    bool debugLog = false;
    std::function<void()> willWork; // a test's hold (taken on the main thread)

    void run()
    {
        work();
        if (debugLog && leftUnfinished > 0)
            PMLog("[Debug] smart groups: a newer update stopped the population with %@ of %@ groups unfinished", QString::number(leftUnfinished.load()),
                  QString::number(entries.size()));
    }

    void work()
    {
        if (willWork)
            willWork();
        if (obsolete.load(std::memory_order_relaxed)) {
            leftUnfinished = int(entries.size());
            return;
        }
        std::unique_ptr<PMSmartGroupFastTrack> fastTrack;
        if (settings.fastTrack
            && std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return needsSubdivisionTags(*e.copy); }))
            fastTrack = PMSmartGroupFastTrack::make(movies, facts.get());
        std::vector<DictionaryPtr> criteria;
        for (const Entry& e : entries)
            criteria.push_back(e.copy->value(QStringLiteral("Criteria")).dictionary());
        platform::concurrentApply(entries.size(), [&](size_t i) {
            if (obsolete.load(std::memory_order_relaxed)) {
                ++leftUnfinished;
                return;
            }
            PMSideEffectFreeGetters quiet;
            Entry& e = entries[i];
            const PMSmartGroupPopulation population = PMPopulateSmartGroupMovies(criteria[i], movies, now, settings, facts.get(), &obsolete);
            if (obsolete.load(std::memory_order_relaxed)) {
                ++leftUnfinished;
                return;
            }
            e.copy->setValue(QStringLiteral("Children"), Value(population.children));
            e.expiry = population.expiry;
            if (population.playbackDependent)
                e.copy->setValue(kDidPopulateBasedOnPlayback, true);
            PMSmartGroupSubdivider subdivider(settings);
            subdivider.fastTrack = fastTrack.get();
            subdivider.facts = facts.get();
            subdivider.previousChildren = e.previousChildren;
            subdivider.subdivideAndPostProcess(*e.copy, e.registry);
        });
    }
};

void PMMainController::setSmartGroupJobWillWorkForTesting(std::function<void()> hook)
{
    jobWillWorkHook() = std::move(hook);
}

double PMMainController::populateSmartGroup(const PMLibraryContainerPtr& smartGroup, double currentDate)
{
    if (!smartGroup)
        return -1;
    const ArrayPtr movies = _nonProxyFilteredMovieRepresentations;
    // A new array: the one shown may still be read by a population on its way.
    smartGroup->setValue(QStringLiteral("Children"), Value(Array::make()));
    smartGroup->invalidateChildren();
    if (!movies || movies->isEmpty()) {
        smartGroup->remove(kDidPopulateBasedOnPlayback);
        return -1;
    }
    const PMSmartGroupSettings settings = PMSmartGroupSettings::fromDefaults();
    const PMSmartGroupPopulation population =
        PMPopulateSmartGroupMovies(smartGroup->value(QStringLiteral("Criteria")).dictionary(), movies, currentDate, settings);
    smartGroup->setValue(QStringLiteral("Children"), Value(population.children));
    if (population.playbackDependent)
        smartGroup->setValue(kDidPopulateBasedOnPlayback, true);
    else
        smartGroup->remove(kDidPopulateBasedOnPlayback);
    return population.expiry;
}

void PMMainController::expireSmartGroups()
{
    if (PMDebugLogEnabled())
        PMLog("[Debug] smart groups expired");
    updateLibrary();
}

bool PMMainController::isPopulatingSmartGroups() const
{
    return _smartGroupPopulationJob && !_smartGroupPopulationJob->takenOver;
}

void PMMainController::startSmartGroupPopulation(const Array& smartGroups, double currentDate)
{
    // A newer update makes every result still on its way obsolete.
    ++_smartGroupPopulationGeneration;
    platform::cancelPreviousPerformRequests(this, QStringLiteral("expireSmartGroups"), Value());
    _smartGroupExpiryDelay = -1;
    if (smartGroups.isEmpty()) {
        if (_smartGroupPopulationJob)
            _smartGroupPopulationJob->obsolete = true;
        _smartGroupPopulationJob.reset();
        return;
    }
    auto job = std::make_shared<SmartGroupPopulationJob>();
    job->generation = _smartGroupPopulationGeneration;
    job->now = currentDate;
    job->debugLog = PMDebugLogEnabled();
    // The list as it is now (the update replaces it, but never mind: it is the job's own).
    job->movies = Array::make();
    if (_nonProxyFilteredMovieRepresentations)
        job->movies->values() = _nonProxyFilteredMovieRepresentations->values();
    job->settings = PMSmartGroupSettings::fromDefaults();
    job->willWork = jobWillWorkHook();
    job->settings.blendsSubgroupPreviews = blendsSubgroupPreviews();
    // What the engine reads of the library, taken now on this thread.
    for (auto it = _tagTypes.constBegin(); it != _tagTypes.constEnd(); ++it)
        job->settings.tagTypes.insert(it.key(), {it->tag, it->nonNumeric});
    {
        auto& services = PMMovieRepresentationServices::shared();
        job->settings.libraryPaths = services.libraryPaths ? services.libraryPaths() : QStringList();
    }
    if (!_nonProxyRawMovieRepresentationSeriesByIDPrefix.isEmpty()) {
        job->settings.tagTypes.insert(QStringLiteral("sequence"), {pmmaintenance::localized("Sequence"), true});
        for (auto it = _nonProxyRawMovieRepresentationSeriesByIDPrefix.constBegin(); it != _nonProxyRawMovieRepresentationSeriesByIDPrefix.constEnd(); ++it)
            job->settings.seriesNames.insert(it.key(), displayNameForSeriesIDPrefix(it.key()));
    }
    {
        auto cache = std::make_shared<std::pair<std::mutex, QHash<QString, QString>>>();
        const bool indicate = job->settings.indicateAvailability;
        job->settings.readableFolderName = [cache, indicate](const QString& path) {
            {
                std::lock_guard lock(cache->first);
                if (auto it = cache->second.constFind(path); it != cache->second.constEnd())
                    return *it;
            }
            const QString name = readablePathRepresentationIndicatingAvailability(path, indicate);
            std::lock_guard lock(cache->first);
            cache->second.insert(path, name);
            return name;
        };
    }
    for (const Value& v : smartGroups) {
        PMLibraryContainerPtr group = PMContainerPtr(v);
        if (!group)
            continue;
        SmartGroupPopulationJob::Entry e;
        e.group = group;
        e.copy = PMLibraryContainer::make();
        (void)group->uniqueLibraryID(); // made here, on the main thread
        // Dictionaries the main thread may change in place are copied.
        for (const QString& key : kGroupKeys)
            if (const Value* value = group->find(key))
                e.copy->setValue(key, value->isDictionary() ? Value(deeplyMutableCopy(value->dictionary())) : *value);
        e.subgroupSettings = group->value(kSubgroupSettings).dictionary();
        // What it shows is never changed in place, only replaced: the engine may read it.
        e.previousChildren = group->value(QStringLiteral("Children")).array();
        job->entries.push_back(std::move(e));
    }
    {
        // What the groups read of the movies, now, while this thread waits: the job never
        // reads a record that this thread goes on changing.
        std::vector<DictionaryPtr> criteria;
        for (const SmartGroupPopulationJob::Entry& e : job->entries)
            criteria.push_back(e.copy->value(QStringLiteral("Criteria")).dictionary());
        job->facts = PMSmartGroupMovieFacts::make(job->movies, criteria, job->settings);
    }
    // The job on its way is of no use any more: it stops early.
    if (_smartGroupPopulationJob)
        _smartGroupPopulationJob->obsolete = true;
    _smartGroupPopulationJob = job;
    QPointer<QCoreApplication> app = QCoreApplication::instance();
    job->future = QtConcurrent::run(platform::carried([this, job, app] {
        job->run();
        // For a wait on the future; the queued call below is ordered by its own hand-over.
        platform::handOver(job.get());
        if (app) {
            QMetaObject::invokeMethod(app, platform::carried([this, job] {
                takeOverSmartGroupPopulation(job);
            }), Qt::QueuedConnection);
        }
    }));
}

bool PMMainController::finishSmartGroupPopulation()
{
    const std::shared_ptr<SmartGroupPopulationJob> job = _smartGroupPopulationJob;
    if (!job || job->takenOver)
        return false;
    job->future.waitForFinished();
    platform::takeOver(job.get());
    takeOverSmartGroupPopulation(job);
    return true;
}

void PMMainController::cancelSmartGroupPopulation()
{
    ++_smartGroupPopulationGeneration;
    if (const std::shared_ptr<SmartGroupPopulationJob> job = _smartGroupPopulationJob) {
        job->takenOver = true;
        job->obsolete = true;
        job->future.waitForFinished();
        platform::takeOver(job.get());
    }
    _smartGroupPopulationJob.reset();
}

void PMMainController::takeOverSmartGroupPopulation(const std::shared_ptr<SmartGroupPopulationJob>& job)
{
    if (!job || job->takenOver.exchange(true) || job->generation != _smartGroupPopulationGeneration)
        return;
    std::vector<double> answers;
    // What the groups showed goes on the thread pool: a hundred thousand proxies take a
    // while to go.
    auto released = std::make_shared<std::vector<Value>>();
    for (SmartGroupPopulationJob::Entry& e : job->entries) {
        answers.push_back(e.expiry);
        PMLibraryContainer& group = *e.group;
        released->push_back(group.value(QStringLiteral("Children")));
        e.previousChildren.reset();
        // Buckets that are gone are no longer found by their IDs.
        forgetBuckets(_containersByID, group);
        group.setValue(QStringLiteral("Children"), e.copy->value(QStringLiteral("Children")));
        group.setMembersAwaitProxies(e.copy->membersAwaitProxies());
        group.setHoldsNoContainers(e.copy->holdsNoContainers());
        for (const QString& key : kResultKeys) {
            if (const Value* value = e.copy->find(key))
                group.setValue(key, *value);
            else
                group.remove(key);
        }
        // The cleaned settings, unless the user changed them meanwhile (every write replaces
        // the dictionary): then they stay as the user left them, and the next update cleans
        // them.
        const bool unchanged = group.value(kSubgroupSettings).dictionary() == e.subgroupSettings;
        const bool cleanedSome = !(e.copy->value(kSubgroupSettings) == (e.subgroupSettings ? Value(e.subgroupSettings) : Value()));
        if (unchanged && cleanedSome)
            setOrRemoveObject(group, e.copy->value(kSubgroupSettings), kSubgroupSettings);
        for (auto it = e.registry.constBegin(); it != e.registry.constEnd(); ++it)
            _containersByID.insert(it.key(), it.value());
        group.invalidateChildren();
    }

    {
        // The movies' facts of the job go the same way: a hundred thousand of each.
        std::shared_ptr<PMSmartGroupMovieFacts> facts = std::move(job->facts);
        (void)QtConcurrent::run(platform::carried([released, facts = std::move(facts)]() mutable {
            released->clear();
            facts.reset();
        }));
    }
    const double delay = PMSmartGroupExpiryDelay(answers);
    _smartGroupExpiryDelay = delay;
    if (delay > 0) {
        if (PMDebugLogEnabled())
            PMLog("[Debug] smart groups will expire in %@", PMDurationString(delay - 1, false, false, false));
        platform::performAfterDelay(this, QStringLiteral("expireSmartGroups"), Value(), delay, [this] { expireSmartGroups(); });
    }
    if (_smartGroupPopulationJob == job)
        _smartGroupPopulationJob.reset();
    // A movie playing from a group is found again among the group's new proxies.
    invalidateCurrentOrMonitoredMovieRepresentationAncestors();

    // The window shows the new content with its selections and open rows kept.
    freezeSelections();
    if (_libraryWasBuiltOnce)
        storeLibraryListExpansionState();
    reloadInterfaceAfterLibraryUpdate();
    unfreezeSelections();
    if (_smartGroupsDidPopulate)
        _smartGroupsDidPopulate();
}

bool PMMainController::changeRelativeDateCriteriaForSmartGroup(const PMLibraryContainerPtr& smartGroup, bool increaseUnits,
                                                               QString* getPreflightReplacementUnitDescription)
{
    if (!smartGroup)
        return false;
    const DictionaryPtr criteria = smartGroup->value(QStringLiteral("Criteria")).dictionary();
    if (!criteria)
        return false;
    const QStringList keys = {QStringLiteral("Relative Date"), QStringLiteral("Relative Playback Date")};
    std::optional<long long> unit, value;
    bool sameValue = true;
    for (const QString& key : keys) {
        const DictionaryPtr entry = criteria->value(key).dictionary();
        if (!entry || !boolValueOfObjectForKey(entry, QStringLiteral("Enabled")))
            continue;
        const long long u = longLongValueOfObjectForKey(entry, QStringLiteral("Unit"));
        const long long v = longLongValueOfObjectForKey(entry, QStringLiteral("Value"));
        if (unit && *unit != u)
            return false;
        if (value && *value != v)
            sameValue = false;
        unit = u;
        value = v;
    }
    if (!unit)
        return false;
    // The ladder: days (0), weeks (3), months (1), years (2).
    static const long long ladder[] = {0, 3, 1, 2};
    const auto at = std::find(std::begin(ladder), std::end(ladder), *unit);
    if (at == std::end(ladder))
        return false;
    const qsizetype index = at - std::begin(ladder) + (increaseUnits ? 1 : -1);
    if (index < 0 || index >= 4)
        return false;
    const long long newUnit = ladder[index];
    if (getPreflightReplacementUnitDescription) {
        if (!sameValue)
            return false;
        static const char* singular[] = {"day", "month", "year", "week"};
        static const char* plural[] = {"days", "months", "years", "weeks"};
        const QString word = pmmaintenance::localized(*value == 1 ? singular[newUnit] : plural[newUnit]);
        *getPreflightReplacementUnitDescription = pmmaintenance::localized("%1 %2").arg(*value).arg(word);
        return true;
    }
    const DictionaryPtr changed = deeplyMutableCopy(criteria);
    for (const QString& key : keys) {
        const DictionaryPtr entry = changed->value(key).dictionary();
        if (entry && boolValueOfObjectForKey(entry, QStringLiteral("Enabled")))
            entry->setValue(QStringLiteral("Unit"), Value(newUnit));
    }
    smartGroup->setValue(QStringLiteral("Criteria"), Value(changed));
    updateLibrary();
    saveLibrarySoon();
    return true;
}
