#include "library/model/PMSortLibraryItems.h"

#include "foundation/NSString+PMHelpManagerLibraryFiles.h"

#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerMarks.h"
#include "foundation/PMCSVParser.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Collation.h"
#include "platform/ConcurrentApply.h"
#include "platform/ConcurrentQueue.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QVariant>
#include <QtCore/QRegularExpression>
#include <QtCore/QThread>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

const QString kIgnorableSortingPrefixes = QStringLiteral("Ignorable Sorting Prefixes");
const QString kImageHashPrefix = QStringLiteral("GroupListImageHash: dHash");
const QString kImageHashDeltaPrefix = QStringLiteral("GroupListImageHashDelta: dHash");

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

int compareNumbers(auto a, auto b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// The integer at the start of the text (after blanks, with an optional sign), 0 when there
// is none.
long long leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        negative = text.at(i++) == u'-';
    long long value = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        if (value > (std::numeric_limits<long long>::max() - 9) / 10)
            return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
        value = value * 10 + (text.at(i).unicode() - u'0');
    }
    return negative ? -value : value;
}

long long wholeSeconds(const platform::Date& date)
{
    return (long long)std::floor(date.secondsSinceReferenceDate());
}

// ---------------------------------------------------------------------------
// Sort strings

struct SortPrefix {
    QString key;    // lower case; an ignorable word ends in a blank
    QString number; // the text a sort-last name sorts by, before the name
    bool sortLast = false;
};

struct SortStringState {
    platform::ConcurrentQueue queue{QStringLiteral("com.tolvane.Pellis.SortStringQueue")};
    bool built = false;
    quint64 generation = 0;
    QHash<QString, QString> cache;
    std::vector<SortPrefix> prefixes;
};

SortStringState& sortStringState()
{
    // Never destroyed: sorts on pool threads may still run while the process ends.
    static SortStringState* state = new SortStringState;
    return *state;
}

QString computeSortString(const QString& name, const std::vector<SortPrefix>& prefixes)
{
    const QString s = prettyButBrokenCSVString(name);
    if (prefixes.empty() || s.isEmpty())
        return s;
    const QString lower = s.toLower();
    for (const SortPrefix& prefix : prefixes) {
        if (!lower.startsWith(prefix.key))
            continue;
        if (!prefix.sortLast)
            return s.mid(prefix.key.size());
        // A text of its own, so that the mark does not travel to the name it came from.
        QString sortString = prefix.number.isEmpty() ? QString(s.constData(), s.size()) : prefix.number + u' ' + s;
        setAssociatedSortLastFlag(sortString, true);
        return sortString;
    }
    return s;
}

std::atomic<bool> g_subgroupsTreatedAsFiles{false};

// ---------------------------------------------------------------------------
// Keys: every value a comparison reads, worked out once per item before the sort

// A sort string as PMCompareSortStrings compares it, with its collation key when the
// sort compares it often.
struct SortText {
    QString text;
    QByteArray collationKey;
    bool sortLast = false;
    bool hasCollationKey = false;

    void set(const QString& string, bool makeCollationKey)
    {
        text = string;
        sortLast = associatedSortLastFlag(string);
        hasCollationKey = makeCollationKey;
        if (makeCollationKey && !string.isEmpty())
            collationKey = platform::localizedStandardCollationKey(string);
    }

    // A movie's sort name, with the key the record keeps for it.
    void setSortNameOf(PMMovieRepresentationPrototype& movie, bool makeCollationKey)
    {
        set(movie.sortName(), false);
        hasCollationKey = makeCollationKey;
        if (makeCollationKey && !text.isEmpty())
            collationKey = movie.sortNameCollationKey(text);
    }
};

int compareSortTexts(const SortText& a, const SortText& b)
{
    const bool aEmpty = a.text.isEmpty();
    const bool bEmpty = b.text.isEmpty();
    if (aEmpty || bEmpty)
        return aEmpty == bEmpty ? 0 : (aEmpty ? 1 : -1);
    if (a.sortLast != b.sortLast)
        return a.sortLast ? 1 : -1;
    if (a.hasCollationKey && b.hasCollationKey)
        return platform::compareCollationKeys(a.collationKey, b.collationKey);
    return platform::localizedStandardCompare(a.text, b.text);
}

// The same for texts that are no sort strings (display names, IDs, paths, URLs, hashes):
// only sort strings ever carry the sort-last mark (PMSortString marks a text of its own),
// so these skip the look-up of the mark.
int comparePlainTexts(const QString& a, const QString& b)
{
    const bool aEmpty = a.isEmpty();
    const bool bEmpty = b.isEmpty();
    if (aEmpty || bEmpty)
        return aEmpty == bEmpty ? 0 : (aEmpty ? 1 : -1);
    return platform::localizedStandardCompare(a, b);
}

// What every comparison may read of an item.
struct ItemKey {
    bool intermediate = false;
    bool others = false;
    bool movie = false;
    SortText sortName;
    SortText seriesSortName;
    QString displayName;
    QString uniqueID;
    QString path;
    long long nameDate = 0;
};

// The settings that the kinds and names orders read, taken once per sort.
struct NameOrderSettings {
    bool fuzzyOldest = false;
    bool namesAutomatically = false;
    bool subgroupsAsFiles = false;

    static NameOrderSettings current()
    {
        return {PMCachedSettings::determineFuzzyOldestDate, PMCachedSettings::determineNamesAutomatically, g_subgroupsTreatedAsFiles};
    }
};

// The kind and name parts of an item's key; the series name only when asked for.
void setNameKey(PMLibraryItem& item, ItemKey& key, const NameOrderSettings& settings, bool withSeries, bool makeCollationKeys, const platform::Date& added)
{
    key.movie = item.isMovieRepresentation();
    key.intermediate = item.isIntermediate();
    key.others = item.isOthers();
    key.uniqueID = item.uniqueLibraryID();
    if (auto* movie = key.movie ? dynamic_cast<PMMovieRepresentationPrototype*>(&item) : nullptr)
        key.sortName.setSortNameOf(*movie, makeCollationKeys);
    else
        key.sortName.set(item.sortName(), makeCollationKeys);
    key.displayName = item.displayName();
    if (withSeries)
        key.seriesSortName.set(item.seriesSortName(), makeCollationKeys);
    key.nameDate = wholeSeconds(settings.fuzzyOldest ? item.oldestDate() : added);
    if (settings.namesAutomatically)
        key.path = item.path();
}

// The kinds order: intermediate items first, "others" last, and (unless subgroups count
// as files) containers before movies.
int compareKinds(const ItemKey& a, const ItemKey& b, const NameOrderSettings& settings)
{
    if (a.intermediate != b.intermediate)
        return a.intermediate ? -1 : 1;
    if (a.others != b.others)
        return a.others ? 1 : -1;
    if (settings.subgroupsAsFiles)
        return 0;
    if (a.movie != b.movie)
        return a.movie ? 1 : -1;
    return 0;
}

// The names order: sort name, name, date, path (when names come from files), and the
// unique ID last, so that no two items are ever the same.
int compareByName(const ItemKey& a, const ItemKey& b, const NameOrderSettings& settings)
{
    if (int c = compareSortTexts(a.sortName, b.sortName))
        return c;
    if (int c = comparePlainTexts(a.displayName, b.displayName))
        return c;
    if (int c = compareNumbers(a.nameDate, b.nameDate))
        return c;
    if (settings.namesAutomatically)
        if (int c = comparePlainTexts(a.path, b.path))
            return c;
    return comparePlainTexts(a.uniqueID, b.uniqueID);
}

int compareBySeriesAndName(const ItemKey& a, const ItemKey& b, const NameOrderSettings& settings)
{
    if (int c = compareSortTexts(a.seriesSortName, b.seriesSortName))
        return c;
    return compareByName(a, b, settings);
}

// The value of one item for one criterion.
struct CriterionValue {
    long long first = 0;  // durations, whole seconds, sizes, counters, widths, distances
    long long second = 0; // what breaks ties within a criterion: heights, widths, aspect ratios
    double real = 0;      // creation and playback dates, ratings
};

// The text of one item for a criterion of texts: locations, hashes, tag values.
struct CriterionText {
    SortText sortString; // tag values: the value's sort string
    QString text;
};

struct Keys {
    std::vector<ItemKey> items;
    std::vector<CriterionValue> values; // one row of `criteria` per item
    std::vector<CriterionText> texts;   // one row of `textCriteria` per item
    size_t criteria = 0;
    size_t textCriteria = 0;
};

class Engine {
public:
    // An order test compares each item with its neighbours only: collation keys would
    // cost more than they save.
    Engine(const QString& criterion, bool descending, PMLibraryContainer* container, bool testingOrder);

    void prepareSortingContextDates() const;
    void prepare(Keys& keys, size_t count) const;
    void makeKey(PMLibraryItem& item, Keys& keys, size_t index) const;
    int compare(const Keys& keys, size_t x, size_t y) const;

    bool playbackCompared() const { return m_playbackCompared.load(std::memory_order_relaxed); }

private:
    int compareCriterion(size_t index, const Keys& keys, size_t x, size_t y) const;

    bool m_descending = false;
    PMLibraryContainer* m_container = nullptr;
    NameOrderSettings m_settings;
    QString m_nameEquivalentTag;

    bool m_fastPath = false;
    bool m_fastPathBySeries = false;
    std::vector<PMParsedSortingCriterion> m_criteria;
    std::vector<int> m_textSlots; // per criterion: its column in Keys::texts, or -1
    size_t m_textCriteria = 0;
    bool m_hasNameCriterion = false;
    bool m_dateWithFuzzyOldest = false;
    long long m_hashResolution = 0;
    long long m_deltaResolution = 0;
    QByteArray m_referenceHash;
    bool m_needsSeries = false;
    bool m_makeCollationKeys = false;

    mutable std::atomic<bool> m_playbackCompared{false};
};

Engine::Engine(const QString& criterion, bool descending, PMLibraryContainer* container, bool testingOrder)
    : m_descending(descending)
    , m_container(container)
    , m_settings(NameOrderSettings::current())
{
    if (m_settings.subgroupsAsFiles)
        m_nameEquivalentTag = defaults().stringForKey(prefs::keys::SubgroupPreviewsPositionTreatSubgroupsAsFilesNameEquivalent).toLower();
    if (criterion.isNull() || criterion == kGroupListName) {
        m_fastPath = true;
        m_fastPathBySeries = criterion.isNull();
        m_needsSeries = m_fastPathBySeries;
        m_makeCollationKeys = !testingOrder;
        return;
    }
    for (const QString& field : PMCSVFieldsFromString(criterion, QStringLiteral(","))) {
        if (field == kGroupListIndex)
            continue;
        PMParsedSortingCriterion c;
        if (field == kGroupListName) {
        } else if (field == QLatin1String(kGroupListTime)) {
            c.compareDuration = true;
        } else if (field == QLatin1String(kGroupListDate)) {
            c.compareAdditionDate = true;
            m_dateWithFuzzyOldest = m_settings.fuzzyOldest;
        } else if (field == QLatin1String(kGroupListCreationDate)) {
            c.compareCreationDate = true;
        } else if (field == QLatin1String(kGroupListOldestDate)) {
            c.compareOldestDate = true;
        } else if (field == QLatin1String(kGroupListPlaybackDate)) {
            c.comparePlaybackDate = true;
        } else if (field == QLatin1String(kGroupListSize)) {
            c.compareFileSize = true;
        } else if (field == QLatin1String(kGroupListWidth) || field == QLatin1String(kGroupListResolution)) {
            c.compareWidth = true;
        } else if (field == QLatin1String(kGroupListHeight)) {
            c.compareHeight = true;
        } else if (field == QLatin1String(kGroupListCounter)) {
            c.compareCounter = true;
        } else if (field == QLatin1String(kGroupListLocation)) {
            c.compareLocation = true;
        } else if (field == QLatin1String(kGroupListRating)) {
            c.compareRating = true;
        } else if (field.startsWith(QLatin1String(kAccessoryTagListNamePrefix))) {
            c.lowercaseTagName = field.mid(qsizetype(qstrlen(kAccessoryTagListNamePrefix)));
        } else if (field.startsWith(kImageHashPrefix)) {
            const long long resolution = leadingInteger(QStringView(field).mid(kImageHashPrefix.size()));
            if (resolution >= 1) {
                if (m_hashResolution >= 1)
                    continue; // one resolution per sort: the first entry counts
                c.compareImageHash = true;
                m_hashResolution = resolution;
            }
        } else if (field.startsWith(kImageHashDeltaPrefix)) {
            const long long resolution = leadingInteger(QStringView(field).mid(kImageHashDeltaPrefix.size()));
            if (resolution >= 1) {
                if (!m_referenceHash.isEmpty())
                    continue;
                const qsizetype separator = field.lastIndexOf(QLatin1String(": "));
                const QString id = separator >= 0 ? field.mid(separator + 2) : QString();
                if (!id.isEmpty()) {
                    const ArrayPtr found = mainController().nonProxyFilteredItemsForUniqueLibraryIDs({id}, false);
                    PMLibraryItem* reference = found && !found->isEmpty() ? PMItem(found->at(0)) : nullptr;
                    if (reference)
                        m_referenceHash = PMImageHashData(reference->imageHashWithResolution(resolution));
                }
                if (!m_referenceHash.isEmpty()) {
                    c.compareImageHashDelta = true;
                    m_deltaResolution = resolution;
                }
                // Without a reference hash the entry sorts by name.
            }
        }
        const bool text = c.compareLocation || c.compareImageHash || !c.lowercaseTagName.isNull();
        if (c.isNameCriterion())
            m_hasNameCriterion = true;
        m_criteria.push_back(c);
        m_textSlots.push_back(text ? int(m_textCriteria++) : -1);
    }
    // Without a name criterion every tie ends in the series-and-name order.
    m_needsSeries = !m_hasNameCriterion;
    m_makeCollationKeys = !testingOrder && (m_criteria.empty() || m_criteria.front().isNameCriterion());
}

// Members of one series share the newest date of the series in this container.
void Engine::prepareSortingContextDates() const
{
    if (!m_dateWithFuzzyOldest || !m_container || !PMCachedSettings::determineFuzzyNewestDateUseSortingContext
        || m_container->value(QStringLiteral("Determined Fuzzy Newest Dates")).toBool())
        return;
    struct Series {
        std::vector<PMMovieRepresentationPrototype*> members;
        std::optional<platform::Date> newest;
    };
    QHash<QString, Series> series;
    const ArrayPtr children = m_container->filteredChildren();
    for (const Value& child : *children) {
        PMMovieRepresentationPrototype* movie = PMMovie(child);
        if (!movie)
            continue;
        const QString prefix = movie->seriesIDPrefix();
        if (prefix.isEmpty()) {
            movie->setNewestDateInSortingContext(std::nullopt);
            continue;
        }
        Series& s = series[prefix];
        s.members.push_back(movie);
        const platform::Date date = movie->original().individualNewestDate();
        if (!s.newest || *s.newest < date)
            s.newest = date;
    }
    for (const Series& s : std::as_const(series))
        for (PMMovieRepresentationPrototype* member : s.members)
            member->setNewestDateInSortingContext(s.newest);
    m_container->setValue(QStringLiteral("Determined Fuzzy Newest Dates"), true);
}

void Engine::prepare(Keys& keys, size_t count) const
{
    keys.criteria = m_criteria.size();
    keys.textCriteria = m_textCriteria;
    keys.items.resize(count);
    keys.values.resize(count * keys.criteria);
    keys.texts.resize(count * keys.textCriteria);
}

void Engine::makeKey(PMLibraryItem& item, Keys& keys, size_t index) const
{
    ItemKey& key = keys.items[index];
    const platform::Date added = item.additionDate();
    setNameKey(item, key, m_settings, m_needsSeries, m_makeCollationKeys, added);

    bool assetSizeWarmed = false;
    for (size_t i = 0; i < m_criteria.size(); ++i) {
        const PMParsedSortingCriterion& c = m_criteria[i];
        CriterionValue& value = keys.values[index * keys.criteria + i];
        CriterionText* text = m_textSlots[i] >= 0 ? &keys.texts[index * keys.textCriteria + size_t(m_textSlots[i])] : nullptr;
        if (c.compareDuration)
            value.first = item.duration();
        else if (c.compareAdditionDate)
            value.first = wholeSeconds(m_settings.fuzzyOldest ? item.newestDateInSortingContext() : added);
        else if (c.compareCreationDate)
            value.real = item.creationDate().secondsSince1970;
        else if (c.compareOldestDate)
            value.first = wholeSeconds(item.oldestDate());
        else if (c.comparePlaybackDate)
            value.real = item.lastPlaybackDate().secondsSince1970;
        else if (c.compareFileSize)
            value.first = (long long)std::min<std::uint64_t>(item.movieFileSize(), std::numeric_limits<long long>::max());
        else if (c.compareCounter)
            value.first = (long long)std::min<std::uint64_t>(item.counter(), std::numeric_limits<long long>::max());
        else if (c.compareLocation)
            text->text = item.URLString();
        else if (c.compareRating)
            value.real = item.rating();
        else if (c.compareWidth || c.compareHeight) {
            if (!assetSizeWarmed) {
                item.assetSizeIfCached(false);
                assetSizeWarmed = true;
            }
            const QSizeF size = item.assetSizeIfCached(true);
            const long long width = std::llround(size.width());
            const long long height = std::llround(size.height());
            value.first = c.compareWidth ? width : height;
            value.second = c.compareWidth ? height : width;
        } else if (c.compareImageHash) {
            text->text = item.imageHashWithResolution(m_hashResolution);
            const QSizeF size = item.assetSizeIfCached(false);
            value.second = size.height() < 1 ? 0 : std::llround(size.width() * 100 / size.height());
        } else if (c.compareImageHashDelta) {
            value.first = key.movie ? PMImageHashDistance(m_referenceHash, PMImageHashData(item.imageHashWithResolution(m_deltaResolution))) : 0;
        } else if (!c.lowercaseTagName.isNull()) {
            QString tagValue = item.cachedLowercaseValueForLowercaseTag(c.lowercaseTagName);
            if (tagValue.isEmpty() && m_settings.subgroupsAsFiles && c.lowercaseTagName == m_nameEquivalentTag)
                tagValue = key.displayName;
            text->sortString.set(PMSortString(tagValue), false);
            text->text = tagValue;
        }
    }
}

int Engine::compareCriterion(size_t index, const Keys& keys, size_t x, size_t y) const
{
    const PMParsedSortingCriterion& c = m_criteria[index];
    const CriterionValue& a = keys.values[x * keys.criteria + index];
    const CriterionValue& b = keys.values[y * keys.criteria + index];
    const int slot = m_textSlots[index];
    const CriterionText* s = slot >= 0 ? &keys.texts[x * keys.textCriteria + size_t(slot)] : nullptr;
    const CriterionText* t = slot >= 0 ? &keys.texts[y * keys.textCriteria + size_t(slot)] : nullptr;
    if (c.compareCreationDate || c.compareRating)
        return compareNumbers(a.real, b.real);
    if (c.comparePlaybackDate || c.compareCounter) {
        m_playbackCompared.store(true, std::memory_order_relaxed);
        return c.compareCounter ? compareNumbers(a.first, b.first) : compareNumbers(a.real, b.real);
    }
    if (c.compareDuration || c.compareAdditionDate || c.compareOldestDate || c.compareFileSize || c.compareImageHashDelta)
        return compareNumbers(a.first, b.first);
    if (c.compareWidth || c.compareHeight) {
        if (int r = compareNumbers(a.first, b.first))
            return r;
        return compareNumbers(a.second, b.second);
    }
    if (c.compareLocation)
        return comparePlainTexts(s->text, t->text);
    if (c.compareImageHash) {
        if (int r = comparePlainTexts(s->text, t->text))
            return r;
        return compareNumbers(a.second, b.second);
    }
    if (!c.lowercaseTagName.isNull()) {
        if (int r = compareSortTexts(s->sortString, t->sortString))
            return r;
        return comparePlainTexts(s->text, t->text);
    }
    return compareByName(keys.items[x], keys.items[y], m_settings);
}

int Engine::compare(const Keys& keys, size_t x, size_t y) const
{
    const ItemKey& a = keys.items[x];
    const ItemKey& b = keys.items[y];
    // The kinds order holds in either direction.
    if (int kinds = compareKinds(a, b, m_settings))
        return kinds;
    if (m_fastPath) {
        const int result = m_fastPathBySeries ? compareBySeriesAndName(a, b, m_settings) : compareByName(a, b, m_settings);
        return m_descending ? -result : result;
    }
    // Only the first criterion (or, without any, the final tie-break) follows the
    // direction; later criteria and the tie-break after them stay ascending.
    for (size_t i = 0; i < m_criteria.size(); ++i) {
        if (int result = compareCriterion(i, keys, x, y))
            return m_descending && i == 0 ? -result : result;
    }
    if (m_hasNameCriterion)
        return 0;
    const int result = compareBySeriesAndName(a, b, m_settings);
    return m_descending && m_criteria.empty() ? -result : result;
}

// Sorts runs of the order side by side, then merges neighbouring runs pairwise, the pairs
// of one round side by side.
template <class Less>
void concurrentSort(std::vector<quint32>& order, const Less& less)
{
    const size_t n = order.size();
    const size_t threads = size_t(std::max(1, QThread::idealThreadCount()));
    const size_t runCount = std::clamp<size_t>(n / 4096, 1, threads);
    if (runCount == 1) {
        std::stable_sort(order.begin(), order.end(), less);
        return;
    }
    std::vector<size_t> bounds(runCount + 1);
    for (size_t r = 0; r <= runCount; ++r)
        bounds[r] = n * r / runCount;
    platform::concurrentApply(runCount, [&](size_t r) {
        std::stable_sort(order.begin() + qsizetype(bounds[r]), order.begin() + qsizetype(bounds[r + 1]), less);
    });
    std::vector<quint32> buffer(n);
    while (bounds.size() > 2) {
        const size_t pairCount = (bounds.size() - 1 + 1) / 2;
        std::vector<size_t> next;
        next.reserve(pairCount + 1);
        for (size_t k = 0; k < pairCount; ++k)
            next.push_back(bounds[2 * k]);
        next.push_back(n);
        platform::concurrentApply(pairCount, [&](size_t k) {
            const size_t from = bounds[2 * k];
            const size_t middle = bounds[2 * k + 1];
            if (2 * k + 2 >= bounds.size()) {
                std::copy(order.begin() + qsizetype(from), order.begin() + qsizetype(middle), buffer.begin() + qsizetype(from));
                return;
            }
            const size_t to = bounds[2 * k + 2];
            std::merge(order.begin() + qsizetype(from), order.begin() + qsizetype(middle), order.begin() + qsizetype(middle),
                       order.begin() + qsizetype(to), buffer.begin() + qsizetype(from), less);
        });
        order.swap(buffer);
        bounds = std::move(next);
    }
}

// Runs the job for every index, in chunks side by side when asked to.
void forEachIndex(size_t count, bool concurrently, const std::function<void(size_t)>& job)
{
    constexpr size_t kChunk = 512;
    if (!concurrently || count <= kChunk) {
        for (size_t i = 0; i < count; ++i)
            job(i);
        return;
    }
    platform::concurrentApply((count + kChunk - 1) / kChunk, [&](size_t chunk) {
        const PMSideEffectFreeGetters calm;
        const size_t end = std::min(count, (chunk + 1) * kChunk);
        for (size_t i = chunk * kChunk; i < end; ++i)
            job(i);
    });
}

// Works out the keys of every item. Containers first, on this thread: their values come
// from caches in their dictionaries and from the movies below them. Then the movies side
// by side, each original once, so that no two threads ever ask one record at a time; a
// record that appears again (another proxy of it) after them.
void makeKeys(const Engine& engine, const Array& items, Keys& keys, bool concurrently)
{
    // Asking for values must not change the records: no reads start, no dates are stamped.
    const PMSideEffectFreeGetters calm;
    const size_t n = size_t(items.count());
    engine.prepare(keys, n);
    struct Found {
        PMLibraryItem* item = nullptr;
        const void* original = nullptr; // movies only
    };
    std::vector<Found> found(n);
    forEachIndex(n, concurrently, [&](size_t i) {
        const Value& v = items.at(qsizetype(i));
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            found[i] = {movie, &movie->original()};
        else
            found[i].item = PMItem(v);
    });
    std::vector<quint32> movies;
    std::vector<quint32> later;
    movies.reserve(n);
    // The originals seen so far, in an open-addressing table of twice the size needed.
    size_t capacity = 16;
    while (capacity < 2 * n)
        capacity *= 2;
    std::vector<const void*> originals(capacity, nullptr);
    auto insertOriginal = [&](const void* original) {
        size_t slot = (std::hash<const void*>()(original) * 0x9E3779B97F4A7C15ULL) & (capacity - 1);
        while (originals[slot]) {
            if (originals[slot] == original)
                return false;
            slot = (slot + 1) & (capacity - 1);
        }
        originals[slot] = original;
        return true;
    };
    for (size_t i = 0; i < n; ++i) {
        if (!found[i].item)
            continue;
        if (!found[i].original)
            engine.makeKey(*found[i].item, keys, i);
        else if (insertOriginal(found[i].original))
            movies.push_back(quint32(i));
        else
            later.push_back(quint32(i));
    }
    forEachIndex(movies.size(), concurrently, [&](size_t j) { engine.makeKey(*found[movies[j]].item, keys, movies[j]); });
    for (quint32 i : later)
        engine.makeKey(*found[i].item, keys, i);
}

} // namespace

// ---------------------------------------------------------------------------

bool PMParsedSortingCriterion::isNameCriterion() const
{
    return !(compareDuration || compareAdditionDate || compareCreationDate || compareOldestDate || comparePlaybackDate || compareFileSize
             || compareCounter || compareLocation || compareRating || compareWidth || compareHeight || compareImageHash
             || compareImageHashDelta || !lowercaseTagName.isNull());
}

QString PMImageHashSortCriterion(long long resolution)
{
    return kImageHashPrefix + QString::number(resolution);
}

QString PMImageHashDeltaSortCriterion(long long resolution, const QString& referenceUniqueLibraryID)
{
    return kImageHashDeltaPrefix + QString::number(resolution) + QStringLiteral(": ") + referenceUniqueLibraryID;
}

ArrayPtr PMSortLibraryItems(bool* getIsSorted, bool inPlace, const ArrayPtr& items, const QString& criterion, bool descending,
                            PMLibraryContainer* container)
{
    if (!items || items->count() < 2) {
        if (getIsSorted)
            *getIsSorted = true;
        return items;
    }
    Engine engine(criterion, descending, container, getIsSorted != nullptr);
    engine.prepareSortingContextDates();
    Keys keys;
    makeKeys(engine, *items, keys, !getIsSorted);
    auto setPlaybackMark = [&] {
        if (container && engine.playbackCompared())
            container->setValue(QStringLiteral("Did Sort Based On Playback"), true);
    };

    if (getIsSorted) {
        bool sorted = true;
        for (size_t i = 1; i < keys.items.size() && sorted; ++i)
            sorted = engine.compare(keys, i - 1, i) <= 0;
        *getIsSorted = sorted;
        setPlaybackMark();
        return items;
    }

    std::vector<quint32> order(keys.items.size());
    std::iota(order.begin(), order.end(), quint32(0));
    concurrentSort(order, [&](quint32 x, quint32 y) { return engine.compare(keys, x, y) < 0; });
    setPlaybackMark();

    std::vector<Value> sorted;
    sorted.reserve(order.size());
    if (inPlace) {
        std::vector<Value>& values = items->values();
        for (quint32 i : order)
            sorted.push_back(std::move(values[i]));
        items->values() = std::move(sorted);
        return items;
    }
    for (quint32 i : order)
        sorted.push_back(items->at(qsizetype(i)));
    return std::make_shared<Array>(std::move(sorted));
}

bool PMLibraryItemsAreSorted(const ArrayPtr& items, const QString& criterion, bool descending)
{
    bool sorted = true;
    PMSortLibraryItems(&sorted, false, items, criterion, descending, nullptr);
    return sorted;
}

void PMSortLibraryItemsInPlace(const ArrayPtr& items, const QString& criterion, bool descending, PMLibraryContainer* container)
{
    PMSortLibraryItems(nullptr, true, items, criterion, descending, container);
}

ArrayPtr PMSortedLibraryItems(const ArrayPtr& items, const QString& criterion, bool descending)
{
    return PMSortLibraryItems(nullptr, false, items, criterion, descending, nullptr);
}

// ---------------------------------------------------------------------------
// Sort strings

void PMRebuildSortPrefixTable()
{
    static const QRegularExpression sortLastEntry(QStringLiteral("^(.+)\\*(\\d*)$"));
    std::vector<SortPrefix> prefixes;
    for (const QString& part : sortPrefixesString().split(u' ')) {
        const QString entry = part.toLower().trimmed();
        if (entry.isEmpty())
            continue;
        SortPrefix prefix;
        const QRegularExpressionMatch match = sortLastEntry.match(entry);
        if (match.hasMatch()) {
            prefix.key = match.captured(1);
            prefix.number = match.captured(2);
            prefix.sortLast = true;
        } else {
            prefix.key = entry + u' ';
        }
        // A repeated entry replaces the earlier one in its place.
        auto same = std::find_if(prefixes.begin(), prefixes.end(), [&](const SortPrefix& p) { return p.key == prefix.key; });
        if (same != prefixes.end())
            *same = prefix;
        else
            prefixes.push_back(prefix);
    }
    // Longest first, so that of two entries that both begin a name the more specific one
    // applies, whatever order they were written in.
    std::stable_sort(prefixes.begin(), prefixes.end(), [](const SortPrefix& a, const SortPrefix& b) { return a.key.size() > b.key.size(); });

    SortStringState& state = sortStringState();
    state.queue.barrierSync([&] {
        state.built = true;
        ++state.generation;
        state.cache = QHash<QString, QString>();
        state.prefixes = std::move(prefixes);
    });

    static std::once_flag installed;
    std::call_once(installed, [] {
        PMSetNameOrdering({PMCompareNamesBySortString, PMSortString});
        setSequencePartNameComparison(PMCompareNamesBySortString);
    });
}

void setSortPrefixesString(const QString& prefixes)
{
    defaults().setObject(prefixes, kIgnorableSortingPrefixes);
    PMRebuildSortPrefixTable();
}

QString sortPrefixesString()
{
    const Value stored = defaults().objectForKey(kIgnorableSortingPrefixes);
    if (stored.isString())
        return stored.string();
    return QCoreApplication::translate("PMSortLibraryItems", "a an the");
}

QString PMSortString(const QString& name)
{
    if (name.isEmpty())
        return name;
    SortStringState& state = sortStringState();
    bool built = false;
    bool found = false;
    quint64 generation = 0;
    QString sortString;
    state.queue.sync([&] {
        built = state.built;
        if (!built)
            return;
        const auto it = state.cache.constFind(name);
        if (it != state.cache.cend()) {
            found = true;
            sortString = *it;
            return;
        }
        generation = state.generation;
        sortString = computeSortString(name, state.prefixes);
    });
    if (!built)
        return name;
    if (found)
        return sortString;
    state.queue.barrierSync([&] {
        if (state.generation != generation)
            return; // the table changed meanwhile: answer what this one gave, keep nothing
        // Whoever stored first wins, so that one name always has one sort string (and mark).
        const auto it = state.cache.constFind(name);
        if (it != state.cache.cend())
            sortString = *it;
        else
            state.cache.insert(name, sortString);
    });
    return sortString;
}

void PMUpdateSubgroupsTreatedAsFiles()
{
    g_subgroupsTreatedAsFiles = defaults().boolForKey(prefs::keys::SubgroupPreviewsPositionAllowBlending)
        && defaults().integerForKey(prefs::keys::SubgroupPreviewsPosition) == 2;
}

bool PMSubgroupsTreatedAsFiles()
{
    return g_subgroupsTreatedAsFiles;
}

// ---------------------------------------------------------------------------
// Comparison functions

int PMCompareSortStrings(const QString& a, const QString& b)
{
    SortText x;
    SortText y;
    x.set(a, false);
    y.set(b, false);
    return compareSortTexts(x, y);
}

int PMCompareNamesBySortString(const QString& a, const QString& b)
{
    if (int c = PMCompareSortStrings(PMSortString(a), PMSortString(b)))
        return c;
    return PMCompareSortStrings(a, b);
}

int PMCompareURLsByAbsoluteString(const QUrl& a, const QUrl& b)
{
    return PMCompareSortStrings(a.toString(QUrl::FullyEncoded), b.toString(QUrl::FullyEncoded));
}

int PMCompareTagNames(const QString& a, const QString& b)
{
    const bool aTags = a == QLatin1String("tags");
    const bool bTags = b == QLatin1String("tags");
    if (aTags || bTags)
        return aTags == bTags ? 0 : (aTags ? -1 : 1);
    const bool aNotes = a == QLatin1String("notes");
    const bool bNotes = b == QLatin1String("notes");
    if (aNotes || bNotes)
        return aNotes == bNotes ? 0 : (aNotes ? 1 : -1);
    return PMCompareNamesBySortString(a, b);
}

int PMCompareTagEntries(const Value& a, const Value& b)
{
    auto tag = [](const Value& entry) {
        const platform::DictionaryPtr d = entry.dictionary();
        return d ? d->value(QStringLiteral("Tag")).string().toLower() : QString();
    };
    return PMCompareTagNames(tag(a), tag(b));
}

int PMCompareObjectsByTitle(const QObject* a, const QObject* b)
{
    auto title = [](const QObject* object) {
        if (!object)
            return QString();
        const QVariant title = object->property("title");
        return (title.isValid() ? title : object->property("text")).toString();
    };
    return PMCompareNamesBySortString(title(a), title(b));
}

int PMCompareItemDates(PMLibraryItem& a, PMLibraryItem& b, int mode)
{
    auto date = [mode](PMLibraryItem& item) {
        if (mode == 1)
            return item.newestDateInSortingContext();
        if (mode == -1)
            return item.oldestDate();
        return item.additionDate();
    };
    return compareNumbers(wholeSeconds(date(a)), wholeSeconds(date(b)));
}

namespace {

// Two items compared once, through the keys a sort would make of them.
template <class Compare>
int compareItemsThroughKeys(PMLibraryItem& a, PMLibraryItem& b, bool withSeries, Compare compare)
{
    const NameOrderSettings settings = NameOrderSettings::current();
    ItemKey x;
    ItemKey y;
    setNameKey(a, x, settings, withSeries, false, a.additionDate());
    setNameKey(b, y, settings, withSeries, false, b.additionDate());
    return compare(x, y, settings);
}

} // namespace

int PMCompareLibraryItemsByName(PMLibraryItem& a, PMLibraryItem& b)
{
    return compareItemsThroughKeys(a, b, false, compareByName);
}

int PMCompareLibraryItemsBySeriesAndName(PMLibraryItem& a, PMLibraryItem& b)
{
    return compareItemsThroughKeys(a, b, true, compareBySeriesAndName);
}

int PMCompareItemKinds(PMLibraryItem& a, PMLibraryItem& b)
{
    return compareItemsThroughKeys(a, b, false, compareKinds);
}

QByteArray PMImageHashData(const QString& imageHash)
{
    // A movie's hash is the hashes of its frames joined as they are, each with its own
    // padding ("…==…=="), which no decoder takes in one piece: decode piece by piece, each
    // piece ending after its padding.
    const QByteArray text = imageHash.toLatin1();
    QByteArray data;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('=', start);
        if (end < 0)
            end = text.size();
        while (end < text.size() && text.at(end) == '=')
            ++end;
        const QByteArray::FromBase64Result piece = QByteArray::fromBase64Encoding(text.mid(start, end - start), QByteArray::AbortOnBase64DecodingErrors);
        if (!piece)
            return {};
        data += *piece;
        start = end;
    }
    return data;
}

long long PMImageHashDistance(const QByteArray& reference, const QByteArray& hash)
{
    const qsizetype common = std::min(reference.size(), hash.size());
    long long distance = 8 * std::abs((long long)reference.size() - (long long)hash.size());
    for (qsizetype i = 0; i < common; ++i)
        distance += std::popcount(static_cast<unsigned char>(reference.at(i) ^ hash.at(i)));
    return distance;
}
