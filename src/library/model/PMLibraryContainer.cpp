#include "library/model/PMLibraryContainer.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMParsedQuery.h"
#include "library/model/PMSearch.h"
#include "library/model/PMSortLibraryItems.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QIcon>

#include <algorithm>
#include <atomic>
#include <mutex>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

std::atomic<bool> PMCachedSettings::determineFuzzyOldestDate{false};
std::atomic<bool> PMCachedSettings::convertAnimatedImagesToMovies{false};
std::atomic<bool> PMCachedSettings::determineFuzzyOldestDateUseCreationDate{false};
std::atomic<bool> PMCachedSettings::determineFuzzyNewestDateUseSortingContext{false};
std::atomic<bool> PMCachedSettings::determineNamesAutomatically{false};

namespace {

const QString kUniqueID = QStringLiteral("Unique ID");
const QString kName = QStringLiteral("Name");
const QString kChildren = QStringLiteral("Children");
const QString kTopLevel = QStringLiteral("Top Level");
const QString kLibrarySection = QStringLiteral("Library Section");
const QString kLibraryMovies = QStringLiteral("Library Movies");
const QString kSmart = QStringLiteral("Smart");
const QString kSubdivision = QStringLiteral("Subdivision");
const QString kExternal = QStringLiteral("External");
const QString kOnline = QStringLiteral("Online");
const QString kParentID = QStringLiteral("Parent ID");
const QString kSearch = QStringLiteral("Search");
const QString kSubgroupSettings = QStringLiteral("Subgroup Settings");
const QString kGroupSortingCriterion = QStringLiteral("Group Sorting Criterion");
const QString kGroupSortingDirection = QStringLiteral("Group Sorting Direction");
const QString kIndexSequence = QStringLiteral("Index Sequence");
const QString kGroupContentDisplayMode = QStringLiteral("Group Content Display Mode");
const QString kPreviousSuffix = QStringLiteral(": Previous");
const QString kGroupSortingCriterionPrevious = QStringLiteral("Group Sorting Criterion: Previous");

const QString kFilteredChildren = QStringLiteral("Filtered Children");
const QString kSortedChildren = QStringLiteral("Sorted Children");
const QString kSortedGroupChildren = QStringLiteral("Sorted Group Children");
const QString kFilteredMovieChildren = QStringLiteral("Filtered Movie Children");
const QString kSortedMovieChildren = QStringLiteral("Sorted Movie Children");
const QString kAllNonProxyChildren = QStringLiteral("All Non-Proxy Children");
const QString kAllNonProxyMovieChildren = QStringLiteral("All Non-Proxy Movie Children");

// The cache keys dropped by invalidation ("Search" is handled apart).
const QStringList kCacheKeys{kFilteredChildren,
                             kSortedChildren,
                             kSortedGroupChildren,
                             kFilteredMovieChildren,
                             kSortedMovieChildren,
                             kAllNonProxyChildren,
                             kAllNonProxyMovieChildren,
                             QStringLiteral("Aggregate Duration"),
                             QStringLiteral("Aggregate Size"),
                             QStringLiteral("Aggregate Counter"),
                             QStringLiteral("Last Movie Date"),
                             QStringLiteral("Last Movie Creation"),
                             QStringLiteral("Last Movie Playback"),
                             QStringLiteral("Did Sort Based On Playback"),
                             QStringLiteral("Determined Fuzzy Newest Dates"),
                             kParentID};

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// A boolean default that reads as `fallback` while it is not set at all.
bool boolDefault(const QString& key, bool fallback)
{
    const Value v = defaults().objectForKey(key);
    return v.isNull() ? fallback : defaults().boolForKey(key);
}

bool debugLogging()
{
    return PMDebugLogEnabled();
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMLibraryContainer", text);
}

ArrayPtr moviesOf(const ArrayPtr& items)
{
    auto result = Array::make();
    if (items)
        for (const Value& v : *items)
            if (PMMovie(v))
                result->append(v);
    return result;
}

ArrayPtr containersOf(const ArrayPtr& items)
{
    auto result = Array::make();
    if (items)
        for (const Value& v : *items)
            if (PMContainer(v))
                result->append(v);
    return result;
}

QStringList csvFields(const QString& csv)
{
    QStringList fields;
    for (const QString& f : csv.split(u','))
        fields << f.trimmed();
    return fields;
}

bool sameMovies(const ArrayPtr& a, const ArrayPtr& b)
{
    const ArrayPtr x = moviesOf(a);
    const ArrayPtr y = moviesOf(b);
    if (x->count() != y->count())
        return false;
    for (qsizetype i = 0; i < x->count(); ++i)
        if (!PMIsSameItem(x->at(i), y->at(i)))
            return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

PMLibraryContainer::PMLibraryContainer(std::initializer_list<std::pair<QString, Value>> entries)
    : Dictionary(entries)
{
}

std::shared_ptr<PMLibraryContainer> PMLibraryContainer::make(std::initializer_list<std::pair<QString, Value>> entries)
{
    return std::make_shared<PMLibraryContainer>(entries);
}

std::shared_ptr<PMLibraryContainer> PMLibraryContainer::withEntries(const Dictionary& dictionary)
{
    auto container = std::make_shared<PMLibraryContainer>();
    container->map() = dictionary.map();
    return container;
}

std::shared_ptr<PMLibraryContainer> PMLibraryContainer::sharedContainer()
{
    return std::static_pointer_cast<PMLibraryContainer>(shared_from_this());
}

QString PMLibraryContainer::description() const
{
    return platform::format("<PMLibraryContainer: %@ %p>", value(kName), static_cast<const void*>(this));
}

// ---------------------------------------------------------------------------
// Identity and roles

QString PMLibraryContainer::uniqueLibraryID()
{
    const Value* id = find(kUniqueID);
    if (id && id->isString() && !id->string().isEmpty())
        return id->string();
    const QString created = availableUniqueLibraryID();
    setValue(kUniqueID, created);
    return created;
}

void PMLibraryContainer::setUniqueLibraryID(const QString& uniqueLibraryID)
{
    setOrRemoveObject(*this, uniqueLibraryID.isNull() ? Value() : Value(uniqueLibraryID), kUniqueID);
}

QString PMLibraryContainer::topLevelRole() const
{
    return value(kTopLevel).string();
}

bool PMLibraryContainer::isSmartGroup() const
{
    return boolValueOfObjectForKey(this, kSmart);
}

bool PMLibraryContainer::isSmartGroupSubdivision() const
{
    return contains(kSubdivision) && isSmartGroup();
}

bool PMLibraryContainer::isNonSubdivisionSmartGroup() const
{
    return !contains(kSubdivision) && isSmartGroup();
}

bool PMLibraryContainer::isIntermediate() const
{
    return contains(QStringLiteral("Subdivision Intermediate"));
}

bool PMLibraryContainer::isOthers() const
{
    return contains(QStringLiteral("Subdivision Others"));
}

bool PMLibraryContainer::emancipatesChildrenIfEnabled() const
{
    return isNonSubdivisionSmartGroup() && boolValueOfObjectForKey(this, QStringLiteral("Emancipate"));
}

bool PMLibraryContainer::emancipatesChildren() const
{
    return defaults().boolForKey(prefs::keys::EnableSmartPlaylistEmancipation) && emancipatesChildrenIfEnabled();
}

QString PMLibraryContainer::externalMediaRole() const
{
    return value(kExternal).string();
}

bool PMLibraryContainer::isExternalMediaItem() const
{
    return contains(kExternal);
}

QString PMLibraryContainer::onlineRole() const
{
    return value(kOnline).string();
}

bool PMLibraryContainer::isOnlineItem() const
{
    return contains(kOnline);
}

bool PMLibraryContainer::isSourceStorageSection() const
{
    return boolValueOfObjectForKey(this, kLibraryMovies) || contains(kLibrarySection);
}

bool PMLibraryContainer::isPellisSourceStorageSection() const
{
    return boolValueOfObjectForKey(this, kLibraryMovies) || value(kLibrarySection).string() == QLatin1String("Movies");
}

QString PMLibraryContainer::pseudoParentUniqueLibraryID() const
{
    const Value pseudoParent = value(QStringLiteral("Pseudo-Parent"));
    const Value subdivision = value(kSubdivision);
    const QString id = value(kUniqueID).string();
    if (!pseudoParent.isString() || !subdivision.isString())
        return {};
    const QString p = pseudoParent.string();
    const QString s = subdivision.string();
    if (id.size() <= p.size() + s.size() + 2)
        return {};
    if (id.mid(id.size() - (p.size() + s.size() + 2), p.size()) != p)
        return {};
    return id.left(id.size() - (s.size() + 2));
}

// ---------------------------------------------------------------------------
// Names

QString PMLibraryContainer::displayName()
{
    PMMainController& controller = mainController();
    if (isOnlineItem())
        return localized("Web");
    if (isPellisSourceStorageSection()) {
        PMLibraryContainerPtr library = controller.existingSourceStorage();
        if (library && library->sortedGroupChildren()->count() > 1)
            return QStringLiteral("Pellis");
        return localized("All Media");
    }
    const QString role = topLevelRole();
    if (!role.isEmpty()) {
        if (role == QLatin1String("Library")) {
            if (sortedGroupChildren()->count() >= 2)
                return localized("Sources");
            return localized("Library");
        }
        if (role == QLatin1String("Smart Groups")) {
            const QString custom = defaults().stringForKey(prefs::keys::SmartGroupsStorageName).trimmed();
            return custom.isEmpty() ? localized("Playlists") : defaults().stringForKey(prefs::keys::SmartGroupsStorageName);
        }
        return QCoreApplication::translate("PMLibraryContainer", role.toUtf8().constData());
    }
    if (value(kLibrarySection).string() == QLatin1String("iPhoto"))
        return localized("Photos");
    const Value prefix = value(QStringLiteral("Series ID Prefix"));
    if (prefix.isString()) {
        const QString name = controller.displayNameForSeriesIDPrefix(prefix.string());
        if (!name.isEmpty())
            return name;
    }
    return value(kName).string();
}

QString PMLibraryContainer::sortName()
{
    const Value ymd = value(QStringLiteral("Year-Month-Day Name"));
    if (ymd.isString())
        return ymd.string();
    return PMSortString(displayName());
}

QString PMLibraryContainer::seriesSortName()
{
    const Value prefix = value(QStringLiteral("Series ID Prefix"));
    if (!prefix.isString())
        return {};
    QString name = mainController().sortNameForSeriesIDPrefix(prefix.string());
    if (name.isEmpty())
        name = sortName();
    return platform::format("%@:%@:0", name, prefix.string());
}

void PMLibraryContainer::invalidateDisplayNameRecursively()
{
    // Members without proxies yet have nothing cached of their own to drop.
    for (const Value& child : *storedChildren())
        if (PMLibraryItem* item = PMItem(child))
            item->invalidateDisplayNameRecursively();
}

void PMLibraryContainer::invalidateSortNameRecursively()
{
    // Members without proxies yet have nothing cached of their own to drop.
    for (const Value& child : *storedChildren())
        if (PMLibraryItem* item = PMItem(child))
            item->invalidateSortNameRecursively();
}

QString PMLibraryContainer::iconName()
{
    if (boolValueOfObjectForKey(this, QStringLiteral("External: Stale")))
        return QStringLiteral("PMStale");
    const QString section = value(kLibrarySection).string();
    const QString external = externalMediaRole();
    if (section.isEmpty() && external.isEmpty()) {
        if (emancipatesChildren())
            return QStringLiteral("PMMedia");
        if (isSmartGroup()) {
            if (contains(kSubdivision)) {
                const Value intermediate = value(QStringLiteral("Subdivision Intermediate"));
                return intermediate.isString() && !intermediate.string().isEmpty() ? QStringLiteral("PMSmartIntermediateFolder")
                                                                                     : QStringLiteral("PMSmartSubdivisionFolder");
            }
            return QStringLiteral("PMSmartFolder");
        }
        if (boolValueOfObjectForKey(this, QStringLiteral("Smart Playlists Folder"))) {
            const ArrayPtr filtered = filteredChildren();
            return filtered->isEmpty() || moviesOf(filtered)->count() > 0 ? QStringLiteral("PMPlaylist") : QStringLiteral("PMBasicFolder");
        }
        if (isOnlineItem())
            return QStringLiteral("NSMenuGlobe");
        return QStringLiteral("PMFolder");
    }
    if (!external.isEmpty()) {
        if (PMExternalMediaKindSeparationLevel() < 1)
            return QStringLiteral("PMBasicFolder");
        if (external == QLatin1String("Movies") || external == QLatin1String("TV Shows") || external == QLatin1String("iTunes U")
            || external == QLatin1String("Podcasts"))
            return QStringLiteral("PMMediaApplication");
        return QStringLiteral("PMMusic");
    }
    if (section == QLatin1String("Movies"))
        return QStringLiteral("PMLibraryArchive");
    if (section == QLatin1String("iTunes"))
        return QStringLiteral("PMMusic");
    if (section == QLatin1String("iPhoto") || section == QLatin1String("Aperture"))
        return QStringLiteral("PMPhotos");
    if (section == QLatin1String("Online") || section == QLatin1String("YouTube"))
        return QStringLiteral("NSMenuGlobe");
    return QStringLiteral("PMBasicFolder");
}

QIcon PMLibraryContainer::icon()
{
    // The artwork is chosen from the desktop theme, by the role that `iconName` gives.
    static const QHash<QString, QString> themeNames{
        {QStringLiteral("PMStale"), QStringLiteral("content-loading-symbolic")},
        {QStringLiteral("PMMedia"), QStringLiteral("view-list-symbolic")},
        {QStringLiteral("PMPlaylist"), QStringLiteral("media-playlist-symbolic")},
        {QStringLiteral("PMSmartFolder"), QStringLiteral("folder-saved-search")},
        {QStringLiteral("PMSmartIntermediateFolder"), QStringLiteral("go-jump-symbolic")},
        {QStringLiteral("PMSmartSubdivisionFolder"), QStringLiteral("folder-saved-search")},
        {QStringLiteral("PMBasicFolder"), QStringLiteral("folder")},
        {QStringLiteral("PMFolder"), QStringLiteral("folder")},
        {QStringLiteral("PMMusic"), QStringLiteral("folder-music")},
        {QStringLiteral("PMMediaApplication"), QStringLiteral("folder-videos")},
        {QStringLiteral("PMPhotos"), QStringLiteral("folder-pictures")},
        {QStringLiteral("PMLibraryArchive"), QStringLiteral("folder-videos")},
        {QStringLiteral("NSMenuGlobe"), QStringLiteral("applications-internet")},
    };
    static QHash<QString, QIcon> cache;
    const QString name = iconName();
    auto it = cache.find(name);
    if (it == cache.end())
        it = cache.insert(name, QIcon::fromTheme(themeNames.value(name, QStringLiteral("folder")), QIcon::fromTheme(QStringLiteral("folder"))));
    return it.value();
}

// ---------------------------------------------------------------------------
// Dates and aggregates

namespace {

platform::Date movieDate(PMMovieRepresentationPrototype& movie, PMLibraryContainer::DateSelector selector)
{
    using S = PMLibraryContainer::DateSelector;
    switch (selector) {
    case S::Addition: return movie.additionDate();
    case S::Creation: return movie.creationDate();
    case S::Oldest: return movie.oldestDate();
    case S::Newest: return movie.newestDate();
    case S::IndividualNewest: return movie.newestDate();
    case S::LastPlayback: return movie.lastPlaybackDate();
    }
    return neverDate();
}

} // namespace

platform::Date PMLibraryContainer::dateWithAggregateKey(const QString& key, DateSelector forSelector, bool inferFromMovieChildrenRegardlessOfType)
{
    if (!inferFromMovieChildrenRegardlessOfType && !isSmartGroupSubdivision()) {
        if (std::optional<platform::Date> own = dateForKey(*this, QStringLiteral("Generic Timestamp"), QStringLiteral("Date")))
            return *own;
        const platform::Date now = canonicalMainQueueDate();
        setDate(*this, now, QStringLiteral("Generic Timestamp"));
        return now;
    }
    if (const Value* cached = find(key); cached && cached->isDate())
        return cached->date();
    const long long priority = defaults().integerForKey(prefs::keys::SubdivisionDateSortingPriority);
    const bool series = contains(QStringLiteral("Series ID Prefix"));
    std::optional<platform::Date> latest;
    if (priority > 0 || (series && priority > -1)) {
        for (const Value& v : *allNonProxyMovieChildren()) {
            if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                const platform::Date d = movieDate(*movie, forSelector);
                if (!latest || *latest < d)
                    latest = d;
            }
        }
    }
    const platform::Date result = latest ? *latest : neverDate();
    setValue(key, Value(result));
    return result;
}

platform::Date PMLibraryContainer::additionDate()
{
    return dateWithAggregateKey(QStringLiteral("Last Movie Date"), DateSelector::Addition, false);
}

platform::Date PMLibraryContainer::creationDate()
{
    return dateWithAggregateKey(QStringLiteral("Last Movie Creation"), DateSelector::Creation, false);
}

platform::Date PMLibraryContainer::oldestDate()
{
    return dateWithAggregateKey(QStringLiteral("Last Movie Oldest Date"), DateSelector::Oldest, false);
}

platform::Date PMLibraryContainer::newestDate()
{
    return dateWithAggregateKey(QStringLiteral("Last Movie Newest Date"), DateSelector::Newest, false);
}

platform::Date PMLibraryContainer::newestDateInSortingContext()
{
    if (PMCachedSettings::determineFuzzyOldestDate && PMCachedSettings::determineFuzzyNewestDateUseSortingContext)
        return dateWithAggregateKey(QStringLiteral("Last Movie Individual Newest Date"), DateSelector::IndividualNewest, false);
    return newestDate();
}

platform::Date PMLibraryContainer::lastPlaybackDate()
{
    return dateWithAggregateKey(QStringLiteral("Last Movie Playback"), DateSelector::LastPlayback, true);
}

long long PMLibraryContainer::duration()
{
    if (const Value* cached = find(QStringLiteral("Aggregate Duration")); cached && cached->isInteger())
        return cached->integer();
    long long total = 0;
    const ArrayPtr movies = allNonProxyMovieChildren();
    if (boolValueOfObjectForKey(this, QStringLiteral("Use Sample Duration"))) {
        if (!movies->isEmpty())
            if (PMMovieRepresentationPrototype* last = PMMovie(movies->at(movies->count() - 1)))
                total = last->duration();
    } else {
        getAggregateDuration(*movies, &total, nullptr, false);
    }
    setValue(QStringLiteral("Aggregate Duration"), Value(total));
    return total;
}

std::uint64_t PMLibraryContainer::movieFileSize()
{
    if (const Value* cached = find(QStringLiteral("Aggregate Size")); cached && cached->isInteger())
        return cached->unsignedInteger();
    std::uint64_t total = 0;
    const ArrayPtr movies = allNonProxyMovieChildren();
    if (boolValueOfObjectForKey(this, QStringLiteral("Use Sample Size"))) {
        if (!movies->isEmpty())
            if (PMMovieRepresentationPrototype* last = PMMovie(movies->at(movies->count() - 1)))
                total = last->movieFileSize();
    } else {
        for (const Value& v : *movies)
            if (PMMovieRepresentationPrototype* movie = PMMovie(v))
                total += movie->movieFileSize();
    }
    setValue(QStringLiteral("Aggregate Size"), Value((unsigned long long)total));
    return total;
}

std::uint64_t PMLibraryContainer::counter()
{
    if (const Value* cached = find(QStringLiteral("Aggregate Counter")); cached && cached->isInteger())
        return cached->unsignedInteger();
    std::uint64_t total = 0;
    for (const Value& v : *allNonProxyMovieChildren())
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            total += movie->counter();
    setValue(QStringLiteral("Aggregate Counter"), Value((unsigned long long)total));
    return total;
}

platform::ArrayPtr PMLibraryContainer::subdivisionBranches() const
{
    const platform::Value branch = value(QStringLiteral("Subdivision Branch"));
    if (branch.isDictionary())
        return platform::Array::make({branch});
    return branch.isArray() ? branch.array() : nullptr;
}

void PMLibraryContainer::addTagValuesFromSubdivisionBranch(const ArrayPtr& branch)
{
    for (const Value& v : *allNonProxyMovieChildren())
        if (PMLibraryItem* movie = PMItem(v))
            movie->addTagValuesFromSubdivisionBranch(branch);
}

ArrayPtr PMLibraryContainer::populatorObjects() const
{
    return value(QStringLiteral("Populator Objects")).array();
}

void PMLibraryContainer::setPopulatorObject(const Value& object, const ArrayPtr& additionalObjects)
{
    auto objects = Array::make();
    objects->append(object);
    if (additionalObjects)
        for (const Value& v : *additionalObjects)
            objects->append(v);
    setValue(QStringLiteral("Populator Objects"), Value(objects));
}

// ---------------------------------------------------------------------------
// Children

ArrayPtr PMLibraryContainer::cachedArray(const QString& key) const
{
    const Value* v = find(key);
    return v ? v->array() : nullptr;
}

void PMLibraryContainer::setParentIDOfChildContainers(const ArrayPtr& children)
{
    const QString id = uniqueLibraryID();
    for (const Value& child : *children)
        if (PMLibraryContainer* container = PMContainer(child))
            container->setValue(kParentID, id);
}

ArrayPtr PMLibraryContainer::storedChildren()
{
    if (const Value* v = find(kChildren); v && v->isArray())
        return v->array();
    auto children = Array::make();
    setValue(kChildren, Value(children));
    return children;
}

ArrayPtr PMLibraryContainer::rawChildren()
{
    // Searches read children from several threads at once: the marks are read and cleared
    // atomically (and only written when set), and one thread alone makes a group's proxies.
    std::atomic_ref<bool> holdsNoContainers(m_holdsNoContainers);
    if (holdsNoContainers.load(std::memory_order_relaxed))
        holdsNoContainers.store(false, std::memory_order_relaxed); // the caller may change them
    std::atomic_ref<bool> awaiting(m_membersAwaitProxies);
    if (!awaiting.load(std::memory_order_acquire))
        return storedChildren();
    static std::mutex makingProxies;
    std::lock_guard guard(makingProxies);
    const ArrayPtr stored = storedChildren();
    if (!awaiting.load(std::memory_order_relaxed))
        return stored;
    // A new array: the old one may still be read by a population on its way.
    auto children = Array::make();
    children->reserve(stored->count());
    for (const Value& v : *stored) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (movie && !movie->isProxy())
            children->append(Value(movie->original().proxy()));
        else
            children->append(v);
    }
    setValue(kChildren, Value(children));
    awaiting.store(false, std::memory_order_release);
    return children;
}

void PMLibraryContainer::populateRawChildrenWithMovieRepresentationProxies(const ArrayPtr& items)
{
    auto children = Array::make();
    if (items) {
        children->reserve(items->count());
        for (const Value& v : *items)
            if (PMMovieRepresentationPrototype* movie = PMMovie(v))
                children->append(Value(movie->original().proxy()));
    }
    setValue(kChildren, Value(children));
}

ArrayPtr PMLibraryContainer::filteredChildren()
{
    if (ArrayPtr cached = cachedArray(kFilteredChildren))
        return cached;
    const ArrayPtr raw = rawChildren();
    ArrayPtr result;
    const QString role = topLevelRole();
    if (role == QLatin1String("Library")) {
        result = Array::make();
        const long long separation = PMExternalMediaKindSeparationLevel();
        for (const Value& child : *raw) {
            PMLibraryContainer* container = PMContainer(child);
            if (!container)
                continue;
            const QString section = container->value(kLibrarySection).string();
            if (section == QLatin1String("iTunes")) {
                if (defaults().boolForKey(prefs::keys::IgnoreITunesMovies))
                    continue;
                if (separation >= 1) {
                    const ArrayPtr sectionChildren = container->filteredChildren();
                    const bool allContainers = !sectionChildren->isEmpty()
                        && std::all_of(sectionChildren->begin(), sectionChildren->end(), [](const Value& v) { return PMContainer(v) != nullptr; });
                    if (allContainers) {
                        for (const Value& v : *sectionChildren)
                            result->append(v);
                        continue;
                    }
                }
            } else if (section == QLatin1String("iPhoto")) {
                if (defaults().boolForKey(prefs::keys::IgnoreIPhotoMovies))
                    continue;
            } else if (section == QLatin1String("Aperture")) {
                if (!defaults().boolForKey(prefs::keys::IncludeApertureMovies))
                    continue;
            } else if (section == QLatin1String("Online") || section == QLatin1String("YouTube")) {
                continue;
            }
            result->append(child);
        }
        setParentIDOfChildContainers(result);
    } else {
        const long long mode = defaults().integerForKey(prefs::keys::MissingMoviesMode);
        if (!role.isEmpty() && mode == -1 && defaults().boolForKey(prefs::keys::MissingMoviesModeHideAllHideEmptySmartGroups)) {
            result = Array::make();
            setParentIDOfChildContainers(raw);
            for (const Value& child : *raw) {
                PMLibraryContainer* container = PMContainer(child);
                if (container && container->isSmartGroup() && container->rawChildren()->isEmpty())
                    continue;
                result->append(child);
            }
        } else if (role.isEmpty() && mode != 1 && !raw->isEmpty() && !isExternalMediaItem() && !isSmartGroup()) {
            result = Array::make();
            const QString id = uniqueLibraryID();
            for (const Value& child : *raw) {
                if (PMMovieRepresentationPrototype* movie = PMMovie(child)) {
                    if (movie->isMissingVolume() || (mode == -1 && movie->isMissing()))
                        continue;
                } else if (PMLibraryContainer* container = PMContainer(child)) {
                    container->setValue(kParentID, id);
                }
                result->append(child);
            }
        } else {
            result = raw;
            setParentIDOfChildContainers(raw);
        }
    }
    setValue(kFilteredChildren, Value(result));
    return result;
}

ArrayPtr PMLibraryContainer::filteredChildrenOrRecords()
{
    // A smart group's filtered children are its raw children: while its members wait for
    // their proxies, the stored children stand for them with the same containers and the
    // same movies' records.
    if (!m_membersAwaitProxies || !isSmartGroup() || !topLevelRole().isEmpty() || cachedArray(kFilteredChildren))
        return filteredChildren();
    const ArrayPtr stored = storedChildren();
    setParentIDOfChildContainers(stored);
    return stored;
}

ArrayPtr PMLibraryContainer::sortedChildren()
{
    if (ArrayPtr cached = cachedArray(kSortedChildren))
        return cached;
    const ArrayPtr filtered = filteredChildren();
    if (!topLevelRole().isEmpty()) {
        setValue(kSortedChildren, Value(filtered));
        return filtered;
    }
    ArrayPtr sorted = filtered;
    QString criterion;
    Value criterionSource;
    if (filtered->count() < 2) {
        primarySortCriterionFromCSVString(&criterion, &criterionSource, true);
        if (!criterionSource.isNull()) {
            setValue(kSortedChildren, Value(sorted));
            return sorted;
        }
    } else {
        bool fromAncestor = false;
        sorted = sortLibraryItems(filtered, nullptr, &criterion, &fromAncestor, true);
        if (fromAncestor) {
            setValue(kSortedChildren, Value(sorted));
            return sorted;
        }
    }

    // Automatic return from manual order.
    if (criterion.startsWith(kGroupListIndex) && boolDefault(QStringLiteral("Automatically Toggle Manual Sorting"), true)) {
        bool done = false;
        if (isSmartGroupSubdivision()) {
            if (filtered->count() < 2) {
                if (removeVolatileSortCriterionAndIndexSequence(true) && debugLogging())
                    PMLog("[Debug] [Automatically Toggle Manual Sorting] reverting <%@> to inherited criterion", displayName());
                done = true;
            } else {
                ArrayPtr ancestors;
                nonVolatileAncestorOrSelfWithAncestors(&ancestors);
                PMLibraryContainer* parent = ancestors && !ancestors->isEmpty() ? PMContainer(ancestors->at(0)) : nullptr;
                if (parent) {
                    if (ArrayPtr result = sortedChildren(filtered, *parent)) {
                        sorted = result;
                        done = true;
                        if (debugLogging())
                            PMLog("[Debug] [Automatically Toggle Manual Sorting] reverting <%@> to matching inherited criterion", displayName());
                    }
                }
            }
        }
        if (!done) {
            std::shared_ptr<PMLibraryContainer> ancestor;
            DictionaryPtr settings = volatilityResistantSettingsFromNonVolatileAncestor(&ancestor);
            const Value previous = settings ? settings->value(kGroupSortingCriterionPrevious) : Value();
            if (previous.isString() && !previous.string().isEmpty()) {
                const bool descending = sortsDescendingAccordingToAncestor(nullptr);
                if (filtered->count() < 2) {
                    setSortCriterion(previous.string(), false, false);
                    setSortsDescending(descending, false);
                    if (debugLogging())
                        PMLog("[Debug] [Automatically Toggle Manual Sorting] reverting <%@> to previous criterion <%@>", displayName(), previous.string());
                } else {
                    auto reference = PMLibraryContainer::make({{kGroupSortingCriterion, previous}, {kGroupSortingDirection, Value(descending)}});
                    if (ArrayPtr result = sortedChildren(filtered, *reference)) {
                        setSortCriterion(previous.string(), false, false);
                        setSortsDescending(descending, false);
                        sorted = result;
                        if (debugLogging())
                            PMLog("[Debug] [Automatically Toggle Manual Sorting] reverting <%@> to matching previous criterion <%@>", displayName(),
                                  previous.string());
                    }
                }
            }
        }
    }
    setValue(kSortedChildren, Value(sorted));
    return sorted;
}

ArrayPtr PMLibraryContainer::sortedGroupChildren()
{
    if (ArrayPtr sorted = cachedArray(kSortedChildren))
        return containersOf(sorted);
    ArrayPtr groups = containersOf(filteredChildrenOrRecords());
    sortLibraryItems(groups, nullptr, nullptr, nullptr, false);
    return groups;
}

ArrayPtr PMLibraryContainer::filteredMovieChildren()
{
    if (ArrayPtr cached = cachedArray(kSortedMovieChildren))
        return cached;
    return moviesOf(filteredChildren());
}

ArrayPtr PMLibraryContainer::sortedMovieChildren()
{
    if (ArrayPtr cached = cachedArray(kSortedMovieChildren))
        return cached;
    ArrayPtr movies = moviesOf(sortedChildren());
    setValue(kSortedMovieChildren, Value(movies));
    return movies;
}

ArrayPtr PMLibraryContainer::allNonProxyChildrenFromFilteredChildren(bool fromFilteredChildren, bool includeContainers)
{
    if (fromFilteredChildren) {
        if (ArrayPtr cached = cachedArray(includeContainers ? kAllNonProxyChildren : kAllNonProxyMovieChildren))
            return cached;
    }
    auto items = Array::make();
    auto movies = Array::make();
    std::vector<PMLibraryContainer*> groups;
    // Only the records are collected here: counts and sums read members that no view has
    // asked for without making their proxies.
    const ArrayPtr direct = fromFilteredChildren ? filteredChildrenOrRecords() : storedChildren();
    items->reserve(direct->count());
    movies->reserve(direct->count());
    QSet<const platform::Object*> seen;
    for (const Value& child : *direct) {
        if (PMLibraryItem* item = PMItem(child)) {
            if (item->isMovieRepresentation()) {
                const Value original = item->nonProxySelf();
                items->append(original);
                movies->append(original);
                seen.insert(original.objectPointer());
            } else if (PMLibraryContainer* container = PMContainer(child)) {
                items->append(child);
                groups.push_back(container);
            }
        }
    }
    if (!groups.empty()) {
        const bool flattened = boolValueOfObjectForKey(this, QStringLiteral("Flattened"));
        if (!(flattened && !includeContainers)) {
            const bool filterDuplicates = isSmartGroup() || boolValueOfObjectForKey(this, QStringLiteral("Smart Playlists Folder"));
            // The lists are sized once for all the groups' items (a section of 2,000 folders
            // would otherwise grow them to twice the library's length as they fill).
            std::vector<ArrayPtr> belowGroups;
            belowGroups.reserve(groups.size());
            qsizetype belowCount = 0;
            for (PMLibraryContainer* group : groups) {
                belowGroups.push_back(group->allNonProxyChildrenFromFilteredChildren(fromFilteredChildren, true));
                belowCount += belowGroups.back()->count();
            }
            items->reserve(items->count() + belowCount);
            if (!flattened)
                movies->reserve(movies->count() + belowCount);
            for (const ArrayPtr& below : belowGroups) {
                for (const Value& v : *below) {
                    if (PMContainer(v)) {
                        items->append(v);
                        continue;
                    }
                    if (flattened)
                        continue;
                    if (filterDuplicates && seen.contains(v.objectPointer()))
                        continue;
                    if (filterDuplicates)
                        seen.insert(v.objectPointer());
                    items->append(v);
                    movies->append(v);
                }
            }
        }
    }
    // Without groups the two lists are the same (every item a movie): one array serves as
    // both, rather than two copies of a list as long as the library.
    if (groups.empty())
        movies = items;
    if (fromFilteredChildren) {
        setValue(kAllNonProxyChildren, Value(items));
        setValue(kAllNonProxyMovieChildren, Value(movies));
    }
    return includeContainers ? items : movies;
}

ArrayPtr PMLibraryContainer::allNonProxyMovieChildrenFromFilteredChildren(bool fromFilteredChildren)
{
    return allNonProxyChildrenFromFilteredChildren(fromFilteredChildren, false);
}

ArrayPtr PMLibraryContainer::allNonProxyMovieChildren()
{
    return allNonProxyChildrenFromFilteredChildren(true, false);
}

QSet<QString> PMLibraryContainer::allMovieChildrenUniqueLibraryIDs()
{
    QSet<QString> ids;
    for (const Value& v : *allNonProxyMovieChildren())
        if (PMLibraryItem* item = PMItem(v))
            ids.insert(item->uniqueLibraryID());
    return ids;
}

std::uint64_t PMLibraryContainer::numberOfChildrenToDisplay()
{
    const long long mode = defaults().integerForKey(prefs::keys::ItemCountMode);
    auto unplayed = [](const ArrayPtr& movies) {
        std::uint64_t n = 0;
        for (const Value& v : *movies)
            if (PMLibraryItem* item = PMItem(v); item && item->counter() < 1)
                ++n;
        return n;
    };
    switch (mode) {
    case 2: return std::uint64_t(filteredChildren()->count());
    case 1: return std::uint64_t(filteredMovieChildren()->count());
    case 4: return unplayed(filteredMovieChildren());
    default:
        if (mode == 3 || mode > 4)
            return unplayed(allNonProxyMovieChildren());
        return std::uint64_t(allNonProxyMovieChildren()->count());
    }
}

bool PMLibraryContainer::getIndex(qsizetype* index, qsizetype* andNumberOfMovieSiblings, const Value& forMovieRepresentation)
{
    const ArrayPtr movies = sortedMovieChildren();
    qsizetype position = movies->indexOfIdentical(forMovieRepresentation.objectPointer());
    qsizetype count = movies->count();
    if (position < 0) {
        const ArrayPtr results = cachedSortedChildrenForCurrentQuery();
        if (!results)
            return false;
        const ArrayPtr resultMovies = moviesOf(results);
        position = resultMovies->indexOfIdentical(forMovieRepresentation.objectPointer());
        count = resultMovies->count();
        if (position < 0)
            return false;
    }
    if (index)
        *index = position;
    if (andNumberOfMovieSiblings)
        *andNumberOfMovieSiblings = count;
    return true;
}

Value PMLibraryContainer::childWithUniqueLibraryID(const QString& uniqueLibraryID)
{
    if (ArrayPtr results = sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(false)) {
        Value found = objectWithUniqueLibraryID(*results, uniqueLibraryID);
        if (!found.isNull())
            return found;
    }
    return objectWithUniqueLibraryID(*rawChildren(), uniqueLibraryID);
}

// ---------------------------------------------------------------------------
// Sorting

ArrayPtr PMLibraryContainer::sortLibraryItems(const ArrayPtr& items, const PMParsedQuery* applyIndexSequenceForParsedQuery, QString* getCriterion,
                                              bool* didSortAccordingToAncestor, bool returnNewArrayIfNecessary)
{
    if (getCriterion)
        getCriterion->clear();
    if (didSortAccordingToAncestor)
        *didSortAccordingToAncestor = false;
    if (!items || items->count() < 2)
        return items;

    QString criterion;
    Value criterionSource;
    primarySortCriterionFromCSVString(&criterion, &criterionSource, true);
    Value directionSource;
    const bool descending = sortsDescendingAccordingToAncestor(&directionSource);
    if (getCriterion)
        *getCriterion = criterion;
    if (didSortAccordingToAncestor)
        *didSortAccordingToAncestor = !criterionSource.isNull() && !directionSource.isNull();

    ArrayPtr target = items;
    const bool manual = criterion.startsWith(kGroupListIndex);
    if (returnNewArrayIfNecessary && (!manual || descending))
        target = std::make_shared<Array>(items->values());

    auto reverse = [](const ArrayPtr& a) { std::reverse(a->begin(), a->end()); };
    if (!manual) {
        PMSortLibraryItems(nullptr, true, target, criterion, descending, this);
        return target;
    }
    const QStringList sequence = indexSequenceFromNonVolatileAncestor(nullptr);
    if (!applyIndexSequenceForParsedQuery) {
        if (!sequence.isEmpty()) {
            if (descending)
                reverse(target);
            return target;
        }
    } else {
        for (const QString& component : applyIndexSequenceForParsedQuery->filterIdentifierComponents) {
            if (!component.endsWith(u':'))
                continue;
            int members = 0;
            for (const Value& v : *target)
                if (PMMovieRepresentationPrototype* movie = PMMovie(v); movie && movie->seriesIDPrefix() == component)
                    ++members;
            if (members >= 2) {
                PMSortLibraryItems(nullptr, true, target, QString(), descending, this);
                return target;
            }
        }
        if (!sequence.isEmpty()) {
            auto containers = Array::make();
            Dictionary moviesByID;
            int movieCount = 0;
            for (const Value& v : *target) {
                if (PMMovie(v)) {
                    moviesByID.setValue(PMItem(v)->uniqueLibraryID(), v);
                    ++movieCount;
                } else {
                    containers->append(v);
                }
            }
            if (movieCount >= 2) {
                addSequence(*containers, sequence, moviesByID);
                target->values() = containers->values();
            }
            if (descending)
                reverse(target);
            return target;
        }
    }
    if (isSmartGroup())
        PMSortLibraryItems(nullptr, true, target, QString(), descending, this);
    else if (descending)
        reverse(target);
    return target;
}

ArrayPtr PMLibraryContainer::sortedChildren(const ArrayPtr& children, PMLibraryContainer& inAccordanceWithReference)
{
    const ArrayPtr sorted = inAccordanceWithReference.sortLibraryItems(children, nullptr, nullptr, nullptr, true);
    QString criterion;
    inAccordanceWithReference.primarySortCriterionFromCSVString(&criterion, nullptr, true);
    if (criterion.startsWith(kGroupListIndex))
        return nullptr;
    if (!sameMovies(sorted, children))
        return nullptr;
    removeVolatileSortCriterionAndIndexSequence(true);
    return sorted;
}

// ---------------------------------------------------------------------------
// Settings

std::shared_ptr<PMLibraryContainer> PMLibraryContainer::nonVolatileAncestorOrSelfWithAncestors(ArrayPtr* ancestors)
{
    if (ancestors)
        *ancestors = nullptr;
    const QString role = topLevelRole();
    if (!role.isEmpty()) {
        if (role == QLatin1String("iTunes") || role == QLatin1String("iPhoto") || role == QLatin1String("Aperture"))
            return sharedContainer();
        return nullptr;
    }
    if (!isSmartGroupSubdivision() && !isExternalMediaItem())
        return sharedContainer();
    return mainController().nonVolatileAncestorOfLibraryItem(itemValue(), ancestors);
}

DictionaryPtr PMLibraryContainer::volatilityResistantSettingsFromNonVolatileAncestor(std::shared_ptr<PMLibraryContainer>* ancestor)
{
    if (ancestor)
        *ancestor = nullptr;
    std::shared_ptr<PMLibraryContainer> nonVolatile = nonVolatileAncestorOrSelfWithAncestors(nullptr);
    if (!nonVolatile)
        return nullptr;
    if (nonVolatile.get() == this)
        return nonVolatile;
    if (ancestor)
        *ancestor = nonVolatile;
    // The entry is handed out to be written: it and the dictionary that holds it are
    // replaced by copies first, so that whoever holds the former ones (the smart-group job
    // that cleans them) sees that they changed, and never sees them change.
    const DictionaryPtr stored = nonVolatile->value(kSubgroupSettings).dictionary();
    DictionaryPtr subgroupSettings = stored ? std::make_shared<Dictionary>(*stored) : Dictionary::make();
    nonVolatile->setValue(kSubgroupSettings, Value(subgroupSettings));
    const QString id = uniqueLibraryID();
    const DictionaryPtr storedEntry = subgroupSettings->value(id).dictionary();
    DictionaryPtr entry = storedEntry ? std::make_shared<Dictionary>(*storedEntry) : Dictionary::make();
    subgroupSettings->setValue(id, Value(entry));
    return entry;
}

Value PMLibraryContainer::volatilityResistantSettingForKey(const QString& key, const std::shared_ptr<PMLibraryContainer>& nonVolatileAncestor,
                                                           bool checkAncestors, Value* didUseSettingFromAncestor)
{
    if (didUseSettingFromAncestor)
        *didUseSettingFromAncestor = Value();
    if (key.isEmpty())
        return {};
    if (const Value* own = find(key))
        return *own;
    ArrayPtr ancestors;
    std::shared_ptr<PMLibraryContainer> ancestor = nonVolatileAncestor;
    if (!ancestor)
        ancestor = nonVolatileAncestorOrSelfWithAncestors(&ancestors);
    if (!ancestor || ancestor.get() == this)
        return {};
    const DictionaryPtr subgroupSettings = ancestor->value(kSubgroupSettings).dictionary();
    auto entryValue = [&](const QString& id) -> Value {
        if (!subgroupSettings || id.isEmpty())
            return {};
        const DictionaryPtr entry = subgroupSettings->value(id).dictionary();
        return entry ? entry->value(key) : Value();
    };
    if (Value v = entryValue(value(kUniqueID).string()); !v.isNull())
        return v;
    if (!checkAncestors)
        return {};
    const bool pseudo = defaults().boolForKey(prefs::keys::SubgroupSettingsCheckPseudoAncestors);
    if (pseudo) {
        if (Value v = entryValue(pseudoParentUniqueLibraryID()); !v.isNull()) {
            if (didUseSettingFromAncestor)
                *didUseSettingFromAncestor = value(QStringLiteral("Pseudo-Parent"));
            return v;
        }
    }
    if (!nonVolatileAncestor && ancestors) {
        for (const Value& a : *ancestors) {
            PMLibraryContainer* container = PMContainer(a);
            if (!container || container == ancestor.get())
                break;
            if (Value v = entryValue(container->value(kUniqueID).string()); !v.isNull()) {
                if (didUseSettingFromAncestor)
                    *didUseSettingFromAncestor = a;
                return v;
            }
            if (pseudo) {
                if (Value v = entryValue(container->pseudoParentUniqueLibraryID()); !v.isNull()) {
                    if (didUseSettingFromAncestor)
                        *didUseSettingFromAncestor = container->value(QStringLiteral("Pseudo-Parent"));
                    return v;
                }
            }
        }
    }
    if (const Value* inherited = ancestor->find(key)) {
        if (didUseSettingFromAncestor)
            *didUseSettingFromAncestor = ancestor->itemValue();
        return *inherited;
    }
    return {};
}

void PMLibraryContainer::setVolatilityResistantSetting(const Value& setting, const QString& forKey, const QStringList& storePreviousValueForNewValues,
                                                       const QStringList& appendWithExceptions, bool invalidateChildren)
{
    if (setting.isNull())
        return;
    std::shared_ptr<PMLibraryContainer> ancestor;
    DictionaryPtr settings = volatilityResistantSettingsFromNonVolatileAncestor(&ancestor);
    if (!settings)
        return;
    const Value old = settings->value(forKey);
    const QString newText = setting.isString() ? setting.string() : setting.description();
    const QString oldText = old.isString() ? old.string() : old.description();
    if (!old.isNull() && !storePreviousValueForNewValues.isEmpty()) {
        if (storePreviousValueForNewValues.contains(newText)) {
            if (!storePreviousValueForNewValues.contains(oldText))
                settings->setValue(forKey + kPreviousSuffix, old);
        } else {
            settings->remove(forKey + kPreviousSuffix);
        }
    }
    Value stored = setting;
    if (!old.isNull() && !appendWithExceptions.isEmpty() && !appendWithExceptions.contains(newText) && !appendWithExceptions.contains(oldText)) {
        QStringList fields = csvFields(oldText);
        fields.removeAll(newText);
        fields.removeAll(QString());
        if (!fields.isEmpty()) {
            if (defaults().boolForKey(prefs::keys::PrependTieredSettings))
                fields.prepend(newText);
            else
                fields.append(newText);
            stored = Value(fields.join(u','));
        }
    }
    settings->setValue(forKey, stored);
    if (ancestor && !ancestor->contains(forKey))
        ancestor->setValue(forKey, setting);
    if (invalidateChildren) {
        if (ancestor)
            ancestor->invalidateChildrenRecursively(true);
        else
            invalidateChildrenRecursively(true);
    }
}

void PMLibraryContainer::setSortCriterion(const QString& criterion, bool asAuxiliaryCriterion, bool invalidateChildren)
{
    const DictionaryPtr search = value(kSearch).dictionary();
    if (search) {
        const Value duplicate = search->value(QStringLiteral("Duplicate Sort Criterion"));
        if (duplicate.isString() && duplicate.string() != criterion)
            defaults().removeObjectForKey(prefs::keys::GroupSearchSortsByDuplicateQueryComponent);
    }
    const QString name = criterion.isEmpty() ? kGroupListIndex : criterion;
    setVolatilityResistantSetting(Value(name), kGroupSortingCriterion, {kGroupListIndex},
                                  asAuxiliaryCriterion ? QStringList{kGroupListIndex} : QStringList{}, invalidateChildren);
}

void PMLibraryContainer::setSortsDescending(bool descending, bool invalidateChildren)
{
    setVolatilityResistantSetting(Value(descending), kGroupSortingDirection, {}, {}, invalidateChildren);
}

bool PMLibraryContainer::removeVolatileSortCriterionAndIndexSequence(bool includeIndexSequence)
{
    std::shared_ptr<PMLibraryContainer> nonVolatile = nonVolatileAncestorOrSelfWithAncestors(nullptr);
    if (nonVolatile.get() == this)
        return false;
    std::shared_ptr<PMLibraryContainer> ancestor;
    DictionaryPtr settings = volatilityResistantSettingsFromNonVolatileAncestor(&ancestor);
    if (!settings)
        return false;
    settings->remove(kGroupSortingCriterion);
    settings->remove(kGroupSortingCriterionPrevious);
    settings->remove(kGroupSortingDirection);
    if (includeIndexSequence)
        settings->remove(kIndexSequence);
    return true;
}

void PMLibraryContainer::setIndexSequence(const QStringList& uniqueLibraryIDs)
{
    std::shared_ptr<PMLibraryContainer> ancestor;
    DictionaryPtr settings = volatilityResistantSettingsFromNonVolatileAncestor(&ancestor);
    if (settings) {
        if (uniqueLibraryIDs.size() >= 2)
            settings->setValue(kIndexSequence, uniqueLibraryIDs.join(u','));
        else
            settings->remove(kIndexSequence);
    }
    invalidateChildren();
}

void PMLibraryContainer::setDisplayMode(long long mode)
{
    if (mode < 0)
        return;
    setVolatilityResistantSetting(Value(mode), kGroupContentDisplayMode, {}, {}, false);
}

QString PMLibraryContainer::primarySortCriterionFromCSVString(QString* csvString, Value* accordingToAncestor, bool observeDuplicateSearchOverride)
{
    if (accordingToAncestor)
        *accordingToAncestor = Value();
    if (observeDuplicateSearchOverride && defaults().boolForKey(prefs::keys::GroupSearchSortsByDuplicateQueryComponent)) {
        const DictionaryPtr search = value(kSearch).dictionary();
        const Value duplicate = search ? search->value(QStringLiteral("Duplicate Sort Criterion")) : Value();
        if (duplicate.isString() && !duplicate.string().isEmpty()) {
            if (csvString)
                *csvString = duplicate.string();
            return duplicate.string();
        }
    }
    const Value v = volatilityResistantSettingForKey(kGroupSortingCriterion, nullptr, true, accordingToAncestor);
    if (v.isString() && !v.string().isEmpty()) {
        if (csvString)
            *csvString = v.string();
        const QString first = v.string().section(u',', 0, 0).trimmed();
        return first.isEmpty() ? v.string() : first;
    }
    const QString fallback = isSmartGroup() ? kGroupListName : kGroupListIndex;
    if (csvString)
        *csvString = fallback;
    return fallback;
}

bool PMLibraryContainer::sortsDescendingAccordingToAncestor(Value* ancestor)
{
    return volatilityResistantSettingForKey(kGroupSortingDirection, nullptr, true, ancestor).toBool();
}

QStringList PMLibraryContainer::indexSequenceFromNonVolatileAncestor(const std::shared_ptr<PMLibraryContainer>& ancestor)
{
    const Value v = volatilityResistantSettingForKey(kIndexSequence, ancestor, false, nullptr);
    if (!v.isString() || v.string().isEmpty())
        return {};
    return v.string().split(u',');
}

long long PMLibraryContainer::displayModeByCheckingAncestors(bool checkAncestors, bool convertOldSettings)
{
    const Value v = volatilityResistantSettingForKey(kGroupContentDisplayMode, nullptr, checkAncestors, nullptr);
    if (v.hasNumericValue())
        return v.toLongLong();
    if (convertOldSettings) {
        std::shared_ptr<PMLibraryContainer> ancestor = nonVolatileAncestorOrSelfWithAncestors(nullptr);
        if (ancestor) {
            if (ancestor->value(QStringLiteral("List Group")).toBool())
                return 0;
            const Value preview = ancestor->value(QStringLiteral("Preview Mode"));
            if (!preview.isNull())
                return preview.toLongLong() == 1 ? 11 : 10;
        }
    }
    if (!checkAncestors)
        return -1;
    const Value fallback = defaults().objectForKey(kGroupContentDisplayMode);
    return fallback.hasNumericValue() ? fallback.toLongLong() : 10;
}

// ---------------------------------------------------------------------------
// Rearranging and invalidation

bool PMLibraryContainer::rearrangeChildrenAsPreflightCheck(bool preflight, const QString& currentSortCriterion)
{
    if (isOnlineItem() || filteredChildren()->count() < 2 || hasMultipleSelectionQuery())
        return false;
    if (currentSortCriterion.startsWith(kGroupListIndex))
        return true;
    const bool toggle = boolDefault(QStringLiteral("Automatically Toggle Manual Sorting"), true);
    if (!toggle || preflight)
        return toggle;
    const ArrayPtr sorted = sortedChildren();
    const ArrayPtr raw = rawChildren();
    auto order = std::make_shared<Array>(sorted->values());
    for (const Value& v : *raw)
        if (order->indexOfIdentical(v.objectPointer()) < 0)
            order->append(v);
    if (order->count() != raw->count())
        return false;
    const bool descending = sortsDescendingAccordingToAncestor(nullptr);
    if (descending)
        std::reverse(order->begin(), order->end());
    if (isSmartGroup()) {
        QStringList ids;
        for (const Value& v : *moviesOf(sorted))
            ids << PMItem(v)->uniqueLibraryID();
        if (descending)
            std::reverse(ids.begin(), ids.end());
        setIndexSequence(ids);
    }
    setValue(kChildren, Value(order));
    setSortCriterion(kGroupListIndex, false, false);
    if (debugLogging())
        PMLog("[Debug] [Automatically Toggle Manual Sorting] switching <%@> to manual sorting", displayName());
    return true;
}

bool PMLibraryContainer::rearrangeChildrenAsPreflightCheck(bool preflight)
{
    return rearrangeChildrenAsPreflightCheck(preflight, primarySortCriterionFromCSVString(nullptr, nullptr, true));
}

void PMLibraryContainer::invalidateSortsAndSearches()
{
    for (const QString* key : {&kSortedChildren, &kSortedGroupChildren, &kSortedMovieChildren})
        remove(*key);
    if (!isOnlineItem())
        remove(kSearch);
}

void PMLibraryContainer::invalidateAfterRatingChange()
{
    // Search results may match ratings: they go. A sort keeps its order unless one of its
    // criteria reads ratings (a tag criterion may name one); a container that searched
    // may sort by the search's own criterion, so its sorts go with the search.
    QString criteria;
    primarySortCriterionFromCSVString(&criteria, nullptr, true);
    const bool searched = !isOnlineItem() && !value(kSearch).isNull();
    const bool readsRatings = criteria.contains(QLatin1String(kGroupListRating)) || criteria.contains(QLatin1String(kAccessoryTagListNamePrefix));
    if (searched || readsRatings)
        invalidateSortsAndSearches();
}

void PMLibraryContainer::invalidateChildrenRecursively(bool recursively)
{
    for (const QString& key : kCacheKeys)
        remove(key);
    if (!isOnlineItem())
        remove(kSearch);
    if (!recursively)
        return;
    if (const Value* children = find(kChildren); children && children->isArray())
        for (const Value& child : *children->array())
            if (PMLibraryContainer* container = PMContainer(child))
                container->invalidateChildrenRecursively(true);
}
