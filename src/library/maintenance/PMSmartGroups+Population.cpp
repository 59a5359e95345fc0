// The smart-group engine, matching: which movies belong to a group, and when that changes by itself.
#include "library/maintenance/PMSmartGroups.h"
#include "library/maintenance/PMSmartGroupsShared.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/CallStack.h"
#include "platform/ConcurrentApply.h"

#include <QtCore/QDateTime>
#include <QtCore/QLocale>
#include <QtCore/QMap>

#include <algorithm>
#include <cmath>
#include <limits>

using platform::Array;
using platform::ArrayPtr;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

using namespace pmsmartgroups;

namespace {

// One text criterion (actions 0 to 9) on lower-cased text. Answers 1 pass, 0 fail, -1
// for an action without meaning.
int compareText(const QString& text, const QString& value, long long action)
{
    switch (action) {
    case 0: return text == value;
    case 1: return text != value;
    // An empty value is a prefix, suffix or part of no text.
    case 2: return !value.isEmpty() && text.startsWith(value);
    case 3: return value.isEmpty() || !text.startsWith(value);
    case 4: return !value.isEmpty() && text.endsWith(value);
    case 5: return value.isEmpty() || !text.endsWith(value);
    // Both texts are lower-cased already.
    case 6: return !value.isEmpty() && text.contains(value);
    case 7: return value.isEmpty() || !text.contains(value);
    case 8: return leadingNumber(text) < leadingNumber(value);
    case 9: return leadingNumber(text) > leadingNumber(value);
    default: return -1;
    }
}

QString secondsSince1970Text(const Date& date)
{
    return QString::number(qlonglong(std::floor(date.secondsSince1970)));
}

DictionaryPtr dictionaryFor(const Dictionary& d, const QString& key)
{
    const Value v = d.value(key);
    return v.isDictionary() ? v.dictionary() : nullptr;
}

bool isEnabled(const DictionaryPtr& d)
{
    return d && boolValueOfObjectForKey(d, QStringLiteral("Enabled"));
}

} // namespace

// ---- Population ---------------------------------------------------------------------------

double PMSmartGroupMatcher::referenceDate(double now, long long value, long long unit)
{
    const int v = int(std::clamp<long long>(value, -100000, 100000));
    Date moved;
    switch (unit) {
    case 0: moved = dateByAddingYears(Date{now}, 0, 0, -v); break;
    case 1: moved = dateByAddingYears(Date{now}, 0, -v, 0); break;
    case 3: moved = dateByAddingYears(Date{now}, 0, 0, -7 * v); break;
    default: moved = dateByAddingYears(Date{now}, -v, 0, 0); break;
    }
    return moved.secondsSince1970;
}

PMSmartGroupMatcher::PMSmartGroupMatcher(const DictionaryPtr& criteria, double now, const PMSmartGroupSettings& settings)
    : m_settings(settings)
{
    if (!criteria)
        return;
    if (const Value tags = criteria->value(QStringLiteral("Tags")); tags.isArray()) {
        for (const Value& v : *tags.array()) {
            const DictionaryPtr entry = v.dictionary();
            if (!isEnabled(entry))
                continue;
            TagCriterion c;
            c.lowercaseTag = entry->value(QStringLiteral("Tag")).string().toLower();
            c.lowercaseValue = PMCSVStringWithFields(cachedCSVFields(entry->value(QStringLiteral("Value")).string().toLower()), QString(), true);
            c.action = longLongValueOfObjectForKey(entry, QStringLiteral("Action"));
            if (c.lowercaseTag == QLatin1String("counter") || c.lowercaseTag == QLatin1String("last playback date"))
                m_playbackDependent = true;
            m_tags.push_back(std::move(c));
            ++m_count;
        }
    }
    if (const DictionaryPtr name = dictionaryFor(*criteria, QStringLiteral("Name")); isEnabled(name)) {
        m_nameEnabled = true;
        m_nameAction = longLongValueOfObjectForKey(name, QStringLiteral("Action"));
        m_nameValue = name->value(QStringLiteral("Value")).string().toLower();
        const QString prefix = settings.pathIndicatorPrefix.toLower();
        if (!prefix.isEmpty() && m_nameValue.startsWith(prefix)) {
            m_nameValue = m_nameValue.mid(prefix.size());
            m_nameUsesPath = true;
        }
        ++m_count;
    }
    if (const DictionaryPtr rating = dictionaryFor(*criteria, QStringLiteral("Rating")); isEnabled(rating)) {
        m_ratingEnabled = true;
        m_ratingAction = longLongValueOfObjectForKey(rating, QStringLiteral("Action"));
        m_ratingValue = longLongValueOfObjectForKey(rating, QStringLiteral("Value"));
        ++m_count;
    }
    if (const DictionaryPtr time = dictionaryFor(*criteria, QStringLiteral("Time")); isEnabled(time)) {
        m_timeEnabled = true;
        m_timeAction = longLongValueOfObjectForKey(time, QStringLiteral("Action"));
        const long long value = longLongValueOfObjectForKey(time, QStringLiteral("Value"));
        const long long unit = longLongValueOfObjectForKey(time, QStringLiteral("Unit"));
        // A stored value of any size: the limit saturates instead of overflowing.
        const long long factor = unit == 1 ? 60 : unit == 2 ? 3600 : 1;
        const long long bound = std::numeric_limits<long long>::max() / factor;
        m_timeLimit = std::clamp(value, -bound, bound) * factor;
        ++m_count;
    }
    const auto date = [&](const QString& key, DateCriterion& into) {
        const DictionaryPtr d = dictionaryFor(*criteria, key);
        if (!isEnabled(d))
            return false;
        into.enabled = true;
        into.action = longLongValueOfObjectForKey(d, QStringLiteral("Action"));
        into.reference = referenceDate(now, longLongValueOfObjectForKey(d, QStringLiteral("Value")), longLongValueOfObjectForKey(d, QStringLiteral("Unit")));
        ++m_count;
        return true;
    };
    date(QStringLiteral("Relative Date"), m_date);
    if (date(QStringLiteral("Relative Playback Date"), m_playbackDate))
        m_playbackDependent = true;
    m_allMode = m_count == 1 || !boolValueOfObjectForKey(criteria, QStringLiteral("Match Any"));
}

QString PMSmartGroupMatcher::pseudoTagValue(PMMovieRepresentationPrototype& movie, const QString& tag) const
{
    if (tag == QLatin1String("name"))
        return movie.displayName().toLower();
    if (tag == QLatin1String("rating"))
        return QString::number(qlonglong(movie.rating()));
    if (tag == QLatin1String("date"))
        return m_settings.fuzzyDates ? secondsSince1970Text(movie.oldestDate()) : QString();
    if (tag == QLatin1String("date added"))
        return secondsSince1970Text(m_settings.fuzzyDates ? movie.newestDate() : movie.additionDate());
    if (tag == QLatin1String("date created")) {
        const Date d = movie.creationDate();
        return isNeverDate(d) ? QString() : secondsSince1970Text(d);
    }
    if (tag == QLatin1String("time"))
        return QString::number(movie.duration());
    if (tag == QLatin1String("file size"))
        return QString::number(movie.movieFileSize());
    if (tag == QLatin1String("last playback date")) {
        const Date d = movie.lastPlaybackDate();
        return isNeverDate(d) ? QString() : secondsSince1970Text(d);
    }
    if (tag == QLatin1String("counter"))
        return QString::number(movie.counter());
    if (tag == QLatin1String("location"))
        return movie.locationKey().toLower();
    return QString();
}

namespace {

// A movie's values read from the movie itself.
struct LiveSource {
    static constexpr bool live = true;
    PMMovieRepresentationPrototype& m;
    bool fuzzy;
    PMMovieRepresentationPrototype& movie() const { return m; }
    QString tagValue(const QString& tag) const { return m.cachedLowercaseValueForLowercaseTag(tag); }
    QString name() const { return m.displayName().toLower(); }
    QString path() const { return m.path().toLower(); }
    long long rating() const { return (long long)m.rating(); }
    long long duration() const { return m.duration(); }
    Date date() const { return fuzzy ? m.oldestDate() : m.additionDate(); }
    Date playbackDate() const { return m.lastPlaybackDate(); }
};

// The same values as taken for the update (pseudo-tags included): the record itself is
// never read.
struct FactsSource {
    static constexpr bool live = false;
    const PMSmartGroupMovieFacts& f;
    size_t i;
    PMMovieRepresentationPrototype& movie() const { return *f.movies[i]; }
    QString tagValue(const QString& tag) const
    {
        const auto it = f.tagValues.constFind(tag);
        return it == f.tagValues.constEnd() ? QString() : (*it)[i];
    }
    QString name() const { return f.names.empty() ? QString() : f.names[i]; }
    QString path() const { return f.paths.empty() ? QString() : f.paths[i]; }
    long long rating() const { return f.ratings[i]; }
    long long duration() const { return f.durations[i]; }
    Date date() const { return f.dates[i]; }
    Date playbackDate() const { return f.playbackDates[i]; }
};

} // namespace

template <class Source>
bool PMSmartGroupMatcher::matchesWith(const Source& source, double& expiry) const
{
    if (m_count == 0)
        return true;
    bool passed = false;
    // Answers false when the movie is rejected (all-mode failure).
    const auto apply = [&](int result) {
        if (result > 0)
            passed = true;
        return !(result == 0 && m_allMode);
    };
    const auto takeExpiry = [&](double seconds) {
        if (seconds >= 0 && (expiry < 0 || seconds < expiry))
            expiry = seconds;
    };

    for (const TagCriterion& c : m_tags) {
        QString value = source.tagValue(c.lowercaseTag);
        if constexpr (Source::live)
            if (value.isEmpty() && m_settings.emulateOtherSubdivisionTypes)
                value = pseudoTagValue(source.movie(), c.lowercaseTag);
        int result;
        if (c.action >= 2 && c.action <= 9 && c.lowercaseValue.isEmpty() && m_allMode)
            result = 0;
        else
            result = compareText(value, c.lowercaseValue, c.action);
        if (!apply(result))
            return false;
    }
    if (m_nameEnabled && m_nameAction <= 7) {
        const QString text = m_nameUsesPath ? source.path() : source.name();
        if (!apply(compareText(text, m_nameValue, m_nameAction)))
            return false;
    }
    if (m_ratingEnabled) {
        const long long rating = source.rating();
        int result = -1;
        switch (m_ratingAction) {
        case 0: result = rating == m_ratingValue; break;
        case 1: result = rating != m_ratingValue; break;
        case 2: result = rating < m_ratingValue; break;
        case 3: result = rating > m_ratingValue; break;
        default: break;
        }
        if (!apply(result))
            return false;
    }
    if (m_timeEnabled) {
        const long long duration = source.duration();
        const int result = m_timeAction == 4 ? duration <= m_timeLimit : m_timeAction == 5 ? duration > m_timeLimit : -1;
        if (!apply(result))
            return false;
    }
    // A relative date passes or fails until the reference date (which moves on with the
    // clock) crosses the movie's date: that moment is when the group changes by itself.
    const auto relative = [&](const DateCriterion& c, const Date& date) {
        const double seconds = date.secondsSince1970;
        const bool earlier = seconds < c.reference || isNeverDate(date);
        if (c.action == 5) {
            if (!earlier)
                takeExpiry(seconds - c.reference);
            return apply(earlier);
        }
        if (c.action == 4) {
            if (!earlier)
                takeExpiry(seconds - c.reference);
            return apply(!earlier);
        }
        return apply(-1);
    };
    if (m_date.enabled && !relative(m_date, source.date()))
        return false;
    if (m_playbackDate.enabled && !relative(m_playbackDate, source.playbackDate()))
        return false;
    return passed;
}

bool PMSmartGroupMatcher::matches(PMMovieRepresentationPrototype& movie, double& expiry) const
{
    return matchesWith(LiveSource{movie, m_settings.fuzzyDates}, expiry);
}

bool PMSmartGroupMatcher::matches(const PMSmartGroupMovieFacts& facts, size_t index, double& expiry) const
{
    return matchesWith(FactsSource{facts, index}, expiry);
}

std::shared_ptr<PMSmartGroupMovieFacts> PMSmartGroupMovieFacts::make(const ArrayPtr& movies, const std::vector<DictionaryPtr>& criteria,
                                                                      const PMSmartGroupSettings& settings)
{
    auto facts = std::make_shared<PMSmartGroupMovieFacts>();
    const size_t count = movies ? size_t(movies->count()) : 0;
    facts->movies.resize(count);
    facts->indexOf.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i) {
        facts->movies[i] = PMMovie(movies->at(qsizetype(i)));
        facts->indexOf.insert(movies->at(qsizetype(i)).objectPointer(), i);
    }
    // Which values the criteria and the levels read.
    bool names = false, paths = false;
    bool subdivisionTags = false, displayNames = false, livePaths = false, sizeDescriptions = false;
    QStringList tags;
    for (const DictionaryPtr& c : criteria) {
        const PMSmartGroupMatcher matcher(c, 0, settings);
        for (const PMSmartGroupMatcher::TagCriterion& t : matcher.m_tags)
            if (!tags.contains(t.lowercaseTag))
                tags.append(t.lowercaseTag);
        if (matcher.m_nameEnabled)
            (matcher.m_nameUsesPath ? paths : names) = true;
        if (!c)
            continue;
        const bool tagLevels = c->value(kSubdividerTag).isString();
        subdivisionTags = subdivisionTags || tagLevels || boolValueOfObjectForKey(c, QStringLiteral("Subdivide By Boolean Tag"));
        // With the emulation on, a level of the list may be any of the built-in kinds.
        const bool anyKind = tagLevels && settings.emulateOtherSubdivisionTypes;
        displayNames = displayNames || anyKind || boolValueOfObjectForKey(c, QStringLiteral("Subdivide By First Letter"));
        sizeDescriptions = sizeDescriptions || anyKind || boolValueOfObjectForKey(c, QStringLiteral("Subdivide By File Size"));
        livePaths = livePaths || anyKind || boolValueOfObjectForKey(c, QStringLiteral("Subdivide By Library Folder"));
    }
    const bool fastTrackDescriptions = settings.fastTrack && subdivisionTags;
    facts->ratings.resize(count);
    facts->durations.resize(count);
    facts->counters.resize(count);
    facts->fileSizes.resize(count);
    facts->dates.resize(count);
    facts->playbackDates.resize(count);
    if (names)
        facts->names.resize(count);
    if (paths)
        facts->paths.resize(count);
    if (displayNames) {
        facts->displayNames.resize(count);
        facts->sortNames.resize(count);
    }
    if (livePaths)
        facts->livePaths.resize(count);
    if (sizeDescriptions)
        facts->fileSizeDescriptions.resize(count);
    if (subdivisionTags)
        facts->subdivisionTags.resize(count);
    if (fastTrackDescriptions)
        facts->fastTrackDescriptions.resize(count);
    std::vector<std::vector<QString>*> tagColumns;
    for (const QString& tag : tags) {
        std::vector<QString>& column = facts->tagValues[tag];
        column.resize(count);
    }
    for (const QString& tag : tags)
        tagColumns.push_back(&facts->tagValues[tag]);
    const PMSmartGroupMatcher pseudo(nullptr, 0, settings);
    const size_t chunk = 1024;
    platform::concurrentApply((count + chunk - 1) / chunk, [&](size_t c) {
        PMSideEffectFreeGetters quiet;
        for (size_t i = c * chunk; i < std::min(count, (c + 1) * chunk); ++i) {
            PMMovieRepresentationPrototype* m = facts->movies[i];
            if (!m)
                continue;
            facts->ratings[i] = (long long)m->rating();
            facts->durations[i] = m->duration();
            facts->counters[i] = m->counter();
            facts->fileSizes[i] = m->movieFileSize();
            facts->dates[i] = settings.fuzzyDates ? m->oldestDate() : m->additionDate();
            facts->playbackDates[i] = m->lastPlaybackDate();
            if (names)
                facts->names[i] = m->displayName().toLower();
            if (paths)
                facts->paths[i] = m->path().toLower();
            if (displayNames) {
                facts->displayNames[i] = m->displayName();
                facts->sortNames[i] = m->sortName();
            }
            if (livePaths)
                facts->livePaths[i] = m->path();
            if (sizeDescriptions)
                facts->fileSizeDescriptions[i] = m->movieFileSizeDescriptionIncludingEditedSize(false);
            if (subdivisionTags)
                facts->subdivisionTags[i] = m->cachedSubdivisionTags();
            if (fastTrackDescriptions)
                facts->fastTrackDescriptions[i] = m->fastTrackSubdivisionTagsDescription();
            for (qsizetype t = 0; t < tags.size(); ++t) {
                QString value = m->cachedLowercaseValueForLowercaseTag(tags.at(t));
                if (value.isEmpty() && settings.emulateOtherSubdivisionTypes)
                    value = pseudo.pseudoTagValue(*m, tags.at(t));
                (*tagColumns[size_t(t)])[i] = std::move(value);
            }
        }
    });
    return facts;
}

bool PMSmartGroupContentMayDependOnRatings(const DictionaryPtr& criteria, const PMSmartGroupSettings& settings)
{
    if (!criteria)
        return false;
    if (!PMSmartGroupMatcher(criteria, 0, settings).matchesEverything())
        return true;
    // Any level of subdivision counts, whatever it reads: a list of tags may stand for a
    // rating, and a kind this does not know of may read one.
    if (criteria->value(kSubdividerTag).isString())
        return true;
    for (auto it = criteria->begin(); it != criteria->end(); ++it)
        if (it.key().startsWith(QLatin1String("Subdivide By ")) && !it.key().contains(u':') && boolValueOfObjectForKey(criteria, it.key()))
            return true;
    return false;
}

PMSmartGroupPopulation PMPopulateSmartGroupMovies(const DictionaryPtr& criteria, const ArrayPtr& movies, double now, const PMSmartGroupSettings& settings,
                                                  const PMSmartGroupMovieFacts* facts, const std::atomic<bool>* stop)
{
    PMSmartGroupPopulation result;
    result.children = Array::make();
    if (!movies || movies->isEmpty())
        return result;
    const PMSmartGroupMatcher matcher(criteria, now, settings);
    result.playbackDependent = matcher.isPlaybackDependent();
    if (matcher.matchesEverything()) {
        result.children->values() = movies->values();
        return result;
    }
    // Chunks of the library are tested at once; each chunk keeps its members in library
    // order and its own soonest expiry, and the chunks are joined in order afterwards.
    const size_t count = size_t(movies->count());
    const size_t chunk = std::max<size_t>(512, count / 64 + 1);
    const size_t chunks = (count + chunk - 1) / chunk;
    std::vector<std::vector<qsizetype>> members(chunks);
    std::vector<double> expiries(chunks, -1);
    platform::concurrentApply(chunks, [&](size_t c) {
        if (stop && stop->load(std::memory_order_relaxed))
            return;
        PMSideEffectFreeGetters quiet;
        double expiry = -1;
        std::vector<qsizetype>& mine = members[c];
        const size_t end = std::min(count, (c + 1) * chunk);
        if (facts) {
            for (size_t i = c * chunk; i < end; ++i)
                if (facts->movies[i] && matcher.matches(*facts, i, expiry))
                    mine.push_back(qsizetype(i));
            expiries[c] = expiry;
            return;
        }
        for (size_t i = c * chunk; i < end; ++i)
            if (PMMovieRepresentationPrototype* movie = PMMovie(movies->at(qsizetype(i))); movie && matcher.matches(*movie, expiry))
                mine.push_back(qsizetype(i));
        expiries[c] = expiry;
    });
    size_t total = 0;
    for (const auto& m : members)
        total += m.size();
    result.children->reserve(qsizetype(total));
    for (const auto& m : members)
        for (qsizetype i : m)
            result.children->append(movies->at(i));
    for (double e : expiries)
        if (e >= 0 && (result.expiry < 0 || e < result.expiry))
            result.expiry = e;
    return result;
}

double PMSmartGroupExpiryDelay(const std::vector<double>& answers)
{
    double expiry = -1;
    for (double a : answers)
        if (a >= 0 && (expiry < 0 || a < expiry))
            expiry = a;
    return expiry > 0 ? expiry + 1 : -1;
}
