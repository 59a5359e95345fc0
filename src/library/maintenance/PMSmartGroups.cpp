#include "library/maintenance/PMSmartGroups.h"

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
#include "foundation/PMSettingsKeys.h"

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

namespace {

const QString kCriteria = QStringLiteral("Criteria");
const QString kChildren = QStringLiteral("Children");
const QString kSubdivision = QStringLiteral("Subdivision");
const QString kSubdivisionOthers = QStringLiteral("Subdivision Others");
const QString kSubdivisionIntermediate = QStringLiteral("Subdivision Intermediate");
const QString kSubdivisionBranch = QStringLiteral("Subdivision Branch");
const QString kSubdivisionStop = QStringLiteral("Subdivision Stop");
const QString kSubdivisionStopNow = QStringLiteral("Subdivision Stop: Now");
const QString kSubdividingTag = QStringLiteral("Subdividing Tag");
const QString kSubdividingTagRaised = QStringLiteral("Subdividing Tag: Raised");
const QString kPseudoIndex = QStringLiteral("Pseudo-Index");
const QString kPseudoParent = QStringLiteral("Pseudo-Parent");
const QString kUniqueID = QStringLiteral("Unique ID");
const QString kFlattened = QStringLiteral("Flattened");
const QString kFlattenedNonOthers = QStringLiteral("Flattened Non-Others");
const QString kDidSubdivideBasedOnPlayback = QStringLiteral("Did Subdivide Based On Playback");
const QString kSubgroupSettings = QStringLiteral("Subgroup Settings");
const QString kSubdividerTag = QStringLiteral("Subdivider Tag");

// The leading number of the text ("12.5 GB" -> 12.5), 0 when there is none.
double leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        ++i;
    bool digits = false, dot = false;
    for (; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isDigit() && ch.unicode() < 128)
            digits = true;
        else if (ch == u'.' && !dot)
            dot = true;
        else
            break;
    }
    if (!digits)
        return 0;
    return QStringView(text).mid(start, i - start).toDouble();
}

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

// ---- Settings ---------------------------------------------------------------------------

PMSmartGroupSettings PMSmartGroupSettings::fromDefaults()
{
    platform::UserDefaults& d = platform::UserDefaults::standard();
    PMSmartGroupSettings s;
    s.fuzzyDates = PMCachedSettings::determineFuzzyOldestDate;
    s.pathIndicatorPrefix = d.stringForKey(prefs::keys::SmartPlaylistNameCriterionPathIndicatorPrefix);
    s.emulateOtherSubdivisionTypes = d.boolForKey(prefs::keys::SubdivideByTagEmulateOtherSubdivisionTypes);
    s.fastTrack = d.boolForKey(prefs::keys::SubdivideByTagFastTrack);
    s.limitsDisabled = d.boolForKey(prefs::keys::SubdivisionLimitsDisable);
    s.stripWhitespace = !s.limitsDisabled && d.boolForKey(prefs::keys::SubdivisionLimitsStripWhitespace);
    s.groupByVolumeName = d.boolForKey(prefs::keys::SubdivideByLibraryFolderGroupByVolumeName);
    s.indicateAvailability = d.boolForKey(prefs::keys::SubdivideByLibraryFolderIndicateAvailability);
    s.acknowledgeValueCase = d.boolForKey(prefs::keys::SubdivideByTagAcknowledgeValueCase);
    s.useAlternates = d.boolForKey(prefs::keys::SubdivideByBooleanTagUseAlternates);
    s.skipPreviouslyUsedAlternates = s.useAlternates && d.boolForKey(prefs::keys::SubdivideByBooleanTagUseAlternatesSkipPreviouslyUsedAlternates);
    s.keepAllSubdivisions = d.boolForKey(prefs::keys::PseudoIndexKeepAllSubdivisions);
    s.includeNotes = d.boolForKey(prefs::keys::SubdivideByBooleanTagIncludeNotes);
    s.subdivideByValues = d.boolForKey(prefs::keys::SubdivideByBooleanTagSubdivideByValues);
    s.showCombinedNames = d.boolForKey(prefs::keys::SubdivideByBooleanTagSubdivideByValuesShowCombinedNames);
    s.raiseLateSeparateOthers = d.boolForKey(prefs::keys::SubdivideByBooleanTagUseAlternatesRaiseLateSeparateOthers);
    s.fanOutFineTuning = d.boolForKey(prefs::keys::EnableFanOutFineTuning);
    s.cleaningZeal = d.integerForKey(prefs::keys::SubgroupSettingsCleaningZeal);
    s.checkPseudoAncestors = d.boolForKey(prefs::keys::SubgroupSettingsCheckPseudoAncestors);
    s.otherName = pmmaintenance::localized("Other");
    s.neverName = pmmaintenance::localized("Never");
    s.noRatingName = pmmaintenance::localized("No Rating");
    s.nameSeparator = pmmaintenance::localized(": ");
    return s;
}

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

// ---- Subdivision ----------------------------------------------------------------------------

struct PMSmartGroupSubdivider::Level {
    enum Kind { None, FirstLetter, Name, Rating, DateAdded, LastPlayback, Counter, Time, FileSize, Location, Boolean, Values };
    Kind kind = None;
    QStringList tags;           // lower-case tags of a value level, or the restriction of a boolean level
    QSet<QString> stop;         // alternates marked ">>"
    QSet<QString> raiseNormal;  // "<"
    QSet<QString> raiseLate;    // ">"
    bool late = false;
    bool combinedNames = false;
    int limit = 0;              // N
    int maxLength = 0;          // M
    bool moreLevels = false;
    long long nextLevel = 0;
    // The others bucket of a boolean level has no tag whose values could divide it: it goes
    // on with the level after the values, when there is one.
    bool othersMoreLevels = false;
    long long othersNextLevel = 0;
    bool valuesFollow = false;  // a boolean level whose buckets are subdivided by their values
};

struct PMSmartGroupSubdivider::Bucket {
    PMLibraryContainerPtr container;
    std::vector<Value> movies; // originals (or representatives)
    QSet<const void*> seen;
    double sortValue = 0;
    QString raisedTag;
    void add(const Value& movie)
    {
        if (!seen.contains(movie.objectPointer())) {
            seen.insert(movie.objectPointer());
            movies.push_back(movie);
        }
    }
};

struct PMSmartGroupSubdivider::Pass {
    std::mutex lock;
    QHash<QString, int> index; // dictionary key -> bucket
    std::vector<Bucket> buckets;
};

PMSmartGroupSubdivider::PMSmartGroupSubdivider(const PMSmartGroupSettings& settings) : m_settings(settings) {}

namespace {

// "<level> <= M <= N" -> name, M, N.
QString parseLimits(QString field, bool limitsDisabled, int* maxLength, int* limit)
{
    *maxLength = 0;
    *limit = 0;
    field = field.trimmed();
    if (!limitsDisabled) {
        qsizetype at = field.lastIndexOf(QStringLiteral("<="));
        if (at >= 0) {
            *limit = QStringView(field).mid(at + 2).trimmed().toInt();
            field = field.left(at);
            at = field.lastIndexOf(QStringLiteral("<="));
            if (at >= 0) {
                *maxLength = QStringView(field).mid(at + 2).trimmed().toInt();
                field = field.left(at);
            }
        }
    }
    return field.trimmed().toLower();
}

using LevelKind = int;

LevelKind emulatedKind(const QString& name)
{
    enum { None, FirstLetter, Name, Rating, DateAdded, LastPlayback, Counter, Time, FileSize, Location };
    if (name == QLatin1String("name")) return Name;
    if (name == QLatin1String("first letter")) return FirstLetter;
    if (name == QLatin1String("rating")) return Rating;
    if (name == QLatin1String("date added")) return DateAdded;
    if (name == QLatin1String("time") || name == QLatin1String("duration")) return Time;
    if (name == QLatin1String("size") || name == QLatin1String("file size")) return FileSize;
    if (name == QLatin1String("last opened") || name == QLatin1String("last playback date")) return LastPlayback;
    if (name == QLatin1String("counter")) return Counter;
    if (name == QLatin1String("location")) return Location;
    return None;
}

// Splits "+a + <b + c>>" into alternates with their marks.
struct Alternate {
    QString tag;
    bool stop = false, raise = false, late = false;
};
std::vector<Alternate> alternatesOf(const QString& level, bool* lateVariant)
{
    QString text = level.trimmed();
    *lateVariant = text.startsWith(u'+');
    if (*lateVariant)
        text = text.mid(1);
    std::vector<Alternate> result;
    for (QString part : text.split(u'+')) {
        part = part.trimmed();
        Alternate a;
        if (part.endsWith(QStringLiteral(">>"))) {
            a.stop = true;
            part.chop(2);
            part = part.trimmed();
        }
        if (part.startsWith(u'<')) {
            a.raise = true;
            part = part.mid(1).trimmed();
        } else if (part.startsWith(u'>')) {
            a.late = true;
            part = part.mid(1).trimmed();
        }
        if (part.isEmpty())
            continue;
        a.tag = part.toLower();
        result.push_back(a);
    }
    return result;
}

// What a level reads of one movie: the values taken for the update, or (without them,
// on the main thread) the record's own.
struct LevelSource {
    const PMSmartGroupMovieFacts* f;
    size_t i;
    PMMovieRepresentationPrototype* m;
    bool fuzzy;
    template <class T>
    static T taken(const std::vector<T>& column, size_t i)
    {
        return i < column.size() ? column[i] : T();
    }
    QString displayName() const { return f ? taken(f->displayNames, i) : m->displayName(); }
    QString sortName() const { return f ? taken(f->sortNames, i) : m->sortName(); }
    QString path() const { return f ? taken(f->livePaths, i) : m->path(); }
    long long rating() const { return f ? f->ratings[i] : (long long)m->rating(); }
    long long duration() const { return f ? f->durations[i] : m->duration(); }
    std::uint64_t counter() const { return f ? f->counters[i] : m->counter(); }
    std::uint64_t fileSize() const { return f ? f->fileSizes[i] : m->movieFileSize(); }
    QString fileSizeDescription() const { return f ? taken(f->fileSizeDescriptions, i) : m->movieFileSizeDescriptionIncludingEditedSize(false); }
    Date date() const { return f ? f->dates[i] : fuzzy ? m->oldestDate() : m->additionDate(); }
    Date playbackDate() const { return f ? f->playbackDates[i] : m->lastPlaybackDate(); }
    DictionaryPtr subdivisionTags() const
    {
        DictionaryPtr tags = f ? taken(f->subdivisionTags, i) : m->cachedSubdivisionTags();
        return tags ? tags : Dictionary::make();
    }
};

QString dayKey(double seconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds))).date().toString(QStringLiteral("yyyy-MM-dd"));
}

QString dayName(double seconds)
{
    const QDate day = QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds))).date();
    return QLocale().toString(day, QStringLiteral("MMMM d, yyyy"));
}

} // namespace

PMSmartGroupSubdivider::Level PMSmartGroupSubdivider::parseLevel(const Dictionary& criteria, long long level, const PMLibraryContainer& container,
                                                                   bool* ok) const
{
    *ok = true;
    Level l;
    const Value subdividerTag = criteria.value(kSubdividerTag);
    const QStringList fields = subdividerTag.isString() ? cachedCSVFields(subdividerTag.string()) : QStringList();
    const bool stopped = container.contains(kSubdivisionStop);
    if (fields.isEmpty()) {
        const auto flag = [&](const char* key) { return boolValueOfObjectForKey(&criteria, QString::fromLatin1(key)); };
        if (level < 0) {
            // The values of the tag of a boolean bucket.
            l.kind = Level::Values;
            l.tags = {container.value(kSubdivisionIntermediate).string().toLower()};
            return l;
        }
        if (level > 0) {
            *ok = false;
            return l;
        }
        if (flag("Subdivide By First Letter")) {
            l.kind = Level::FirstLetter;
            l.maxLength = 1;
        } else if (flag("Subdivide By Rating")) {
            l.kind = Level::Rating;
        } else if (flag("Subdivide By Date Added")) {
            l.kind = Level::DateAdded;
        } else if (flag("Subdivide By Last Playback Date")) {
            l.kind = Level::LastPlayback;
        } else if (flag("Subdivide By Time")) {
            l.kind = Level::Time;
        } else if (flag("Subdivide By File Size")) {
            l.kind = Level::FileSize;
        } else if (flag("Subdivide By Library Folder")) {
            l.kind = Level::Location;
        } else if (flag("Subdivide By Boolean Tag")) {
            l.kind = Level::Boolean;
            if (m_settings.subdivideByValues) {
                l.valuesFollow = true;
                l.moreLevels = !stopped;
                l.nextLevel = ~level;
            }
        }
        return l;
    }

    const long long k = fields.size();
    long long index = level;
    if (level < 0) {
        // The values of the tag of a boolean bucket; the list goes on after it.
        index = ~level;
        l.kind = Level::Values;
        l.tags = {container.value(kSubdivisionIntermediate).string().toLower()};
        l.moreLevels = !stopped && index < k - 1;
        l.nextLevel = index + 1;
        return l;
    }
    if (index >= k) {
        PMLog("subdivision recursion out of bounds: %@", platform::callStackDescription());
        *ok = false;
        return l;
    }
    const QString name = parseLimits(fields.at(qsizetype(index)), m_settings.limitsDisabled, &l.maxLength, &l.limit);
    l.moreLevels = !stopped && index < k - 1;
    l.nextLevel = index + 1;
    if (name == QLatin1String("?")) {
        l.kind = Level::Boolean;
    } else if (m_settings.emulateOtherSubdivisionTypes && emulatedKind(name) != Level::None) {
        l.kind = Level::Kind(emulatedKind(name));
        if (l.kind == Level::FirstLetter)
            l.maxLength = 1;
    } else if (m_settings.useAlternates && (name.contains(u'+') || name.contains(u'<') || name.contains(u'>'))) {
        bool late = false;
        const std::vector<Alternate> alternates = alternatesOf(name, &late);
        int lateMarked = 0;
        for (const Alternate& a : alternates) {
            l.tags.append(a.tag);
            if (a.stop)
                l.stop.insert(a.tag);
            if (a.raise && !late)
                l.raiseNormal.insert(a.tag);
            if (a.late && late) {
                l.raiseLate.insert(a.tag);
                ++lateMarked;
            }
        }
        // Alternates that the way to this container has fixed already are left out.
        if (m_settings.skipPreviouslyUsedAlternates) {
            const DictionaryPtr branch = container.value(kSubdivisionBranch).dictionary();
            if (branch)
                l.tags.removeIf([&](const QString& t) { return branch->contains(t); });
        }
        if (!late) {
            l.kind = Level::Boolean;
        } else if (lateMarked == 0) {
            l.kind = Level::Values;
            l.late = true;
            l.combinedNames = true;
        } else if (lateMarked < qsizetype(alternates.size())) {
            l.kind = Level::Values;
            l.late = true;
        } else {
            l.kind = Level::Boolean;
            l.raiseLate.clear();
        }
    } else {
        l.kind = Level::Values;
        l.tags = {name};
    }
    l.othersMoreLevels = l.moreLevels;
    l.othersNextLevel = l.nextLevel;
    if (l.kind == Level::Boolean && m_settings.subdivideByValues && !stopped) {
        l.valuesFollow = true;
        l.moreLevels = true;
        l.nextLevel = ~index;
    }
    return l;
}

int PMSmartGroupSubdivider::bucketFor(Pass& pass, const QString& keyComponent, const QString& raisedTagName, const QString& name,
                                                        const double* date, const QString& parentID, bool* isNew) const
{
    QString shownName = name;
    QString key = keyComponent;
    if (key.isEmpty() && shownName.isEmpty()) {
        PMLog("missing ID component and name");
        shownName = m_settings.otherName;
        key = shownName.toLower();
    } else if (key.isEmpty()) {
        key = shownName.toLower();
    } else if (shownName.isEmpty()) {
        PMLog("missing name for subdivision: %@", key);
        shownName = key;
    }
    const QString dictionaryKey = raisedTagName.isEmpty() ? key : raisedTagName + QStringLiteral("::") + key;
    std::lock_guard lock(pass.lock);
    if (auto it = pass.index.constFind(dictionaryKey); it != pass.index.constEnd()) {
        if (isNew)
            *isNew = false;
        return *it;
    }
    auto bucket = PMLibraryContainer::make({{QStringLiteral("Name"), Value(shownName)},
                                           {kUniqueID, Value(parentID + QStringLiteral("::") + dictionaryKey)},
                                           {QStringLiteral("Smart"), Value(true)},
                                           {kSubdivision, Value(key)}});
    if (!raisedTagName.isEmpty())
        bucket->setValue(kSubdividingTagRaised, raisedTagName);
    if (date)
        bucket->setValue(QStringLiteral("Year-Month-Day Name"), dayKey(*date));
    const int index = int(pass.buckets.size());
    pass.index.insert(dictionaryKey, index);
    Bucket b;
    b.container = bucket;
    b.raisedTag = raisedTagName;
    pass.buckets.push_back(std::move(b));
    if (isNew)
        *isNew = true;
    return index;
}

namespace {

// The container holds the movies as their records; their proxies are made when a view
// first reads the container (see `PMLibraryContainer::rawChildren`).
void setMembers(PMLibraryContainer& container, const Array& movies)
{
    auto children = Array::make();
    children->reserve(movies.count());
    for (const Value& v : movies)
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            children->append(movie->isProxy() ? Value(movie->proxyOriginal()) : v);
    container.setValue(kChildren, Value(children));
    container.setMembersAwaitProxies(true);
}

// A movie's record (a proxy's original), unless it was added before.
void addRecordOnce(const Value& v, std::vector<Value>& into, QSet<const void*>& seen)
{
    PMMovieRepresentationPrototype* movie = PMMovie(v);
    if (!movie)
        return;
    const Value original = movie->isProxy() ? Value(movie->proxyOriginal()) : v;
    if (!seen.contains(original.objectPointer())) {
        seen.insert(original.objectPointer());
        into.push_back(original);
    }
}

// The records of the movies below the container, each once: its own first, then those of
// each of its containers in turn.
void moviesBelow(PMLibraryContainer& container, std::vector<Value>& into, QSet<const void*>& seen)
{
    std::vector<PMLibraryContainer*> containers;
    for (const Value& v : *container.storedChildren()) {
        if (PMLibraryContainer* c = PMContainer(v)) {
            containers.push_back(c);
            continue;
        }
        addRecordOnce(v, into, seen);
    }
    for (PMLibraryContainer* c : containers)
        moviesBelow(*c, into, seen);
}

} // namespace

void PMSmartGroupSubdivider::subdivide(PMLibraryContainer& container, const ArrayPtr& givenMovies, const Dictionary& criteria, long long level,
                                       long long othersBehavior, long long threshold, int depth)
{
    container.remove(kFlattened);
    container.remove(kFlattenedNonOthers);
    container.remove(kDidSubdivideBasedOnPlayback);
    container.invalidateChildren();
    std::vector<Value> movies;
    if (givenMovies)
        movies = givenMovies->values();
    else
        movies = std::move(container.storedChildren()->values());
    container.storedChildren()->removeAll();
    if (movies.empty())
        return;

    bool ok = true;
    const Level l = parseLevel(criteria, level, container, &ok);
    if (!ok)
        return;
    if (l.kind == Level::None) {
        // The group's own proxies of the last update stand for the same movies again (the
        // order of both is the library's); the others stay records until a view reads them.
        const std::vector<Value>* previous = depth == 0 && previousChildren ? &previousChildren->values() : nullptr;
        size_t at = 0;
        const auto reused = [&](const platform::Object* original) -> const Value* {
            if (!previous)
                return nullptr;
            for (size_t look = at; look < previous->size() && look < at + 8; ++look) {
                // The same record where no view made a proxy for it: nothing to take again.
                if ((*previous)[look].objectPointer() == original) {
                    at = look + 1;
                    return nullptr;
                }
                PMMovieRepresentationPrototype* old = PMMovie((*previous)[look]);
                if (old && old->isProxy() && !old->isStaticPlaylistProxy() && old->proxyOriginal().get() == original
                    && !dynamic_cast<PMMovieRepresentationFanOutProxy*>(old)) {
                    at = look + 1;
                    return &(*previous)[look];
                }
            }
            return nullptr;
        };
        ArrayPtr raw = container.storedChildren();
        raw->reserve(qsizetype(movies.size()));
        for (const Value& v : movies) {
            PMMovieRepresentationPrototype* movie = PMMovie(v);
            if (!movie)
                continue;
            const platform::Object* original = movie->isProxy() ? static_cast<const platform::Object*>(movie->proxyOriginal().get()) : v.objectPointer();
            if (const Value* same = reused(original))
                raw->append(*same);
            else
                raw->append(movie->isProxy() ? Value(movie->proxyOriginal()) : v);
        }
        return;
    }
    if (l.kind == Level::LastPlayback || l.kind == Level::Counter)
        container.setValue(kDidSubdivideBasedOnPlayback, true);

    const QString others = l.kind == Level::Rating ? m_settings.noRatingName
        : (l.kind == Level::LastPlayback || l.kind == Level::Counter) ? m_settings.neverName
                                                                      : m_settings.otherName;
    const QString othersKey = others.toLower();
    const QString parentID = container.uniqueLibraryID();
    const DictionaryPtr branch = container.value(kSubdivisionBranch).dictionary();
    Pass pass;
    Bucket othersBucket;
    othersBucket.container = nullptr;
    std::vector<Value> othersMovies;
    QSet<const void*> othersSeen;
    const auto toOthers = [&](const Value& movie) {
        if (othersBehavior == 2)
            return;
        if (!othersSeen.contains(movie.objectPointer())) {
            othersSeen.insert(movie.objectPointer());
            othersMovies.push_back(movie);
        }
    };
    const auto put = [&](const Value& movie, const QString& key, const QString& name, const double* date, double sortValue, const QString& raised,
                         bool* isNew) -> PMLibraryContainerPtr {
        bool created = false;
        Bucket& b = pass.buckets[size_t(bucketFor(pass, key, raised, name, date, parentID, &created))];
        if (created)
            b.sortValue = sortValue;
        b.add(movie);
        if (isNew)
            *isNew = created;
        return b.container;
    };

    // Fixed per level: the tags a value level looks at, and the branch values to skip.
    const bool limited = l.limit >= 1 || l.maxLength >= 1;
    for (const Value& v : movies) {
        PMMovieRepresentationPrototype* m = PMMovie(v);
        if (!m)
            continue;
        const size_t* index = facts ? facts->find(v) : nullptr;
        if (facts && !index)
            continue;
        const LevelSource source{facts, index ? *index : 0, m, m_settings.fuzzyDates};
        const LevelSource* movie = &source;
        switch (l.kind) {
        case Level::FirstLetter:
        case Level::Name: {
            QString name = l.kind == Level::Name && l.maxLength < 1 ? movie->displayName().trimmed()
                                                                    : stringFromNonEmptyTrimmedStringWithMaximumLength(movie->sortName(), std::max(1, l.maxLength), m_settings.stripWhitespace);
            if (name.isEmpty())
                toOthers(v);
            else
                put(v, name.toLower(), name, nullptr, 0, QString(), nullptr);
            break;
        }
        case Level::Rating: {
            const long long rating = (long long)movie->rating();
            if (rating < 1)
                toOthers(v);
            else
                put(v, QString(int(rating), QChar(0x2605)), QString(int(rating), QChar(0x2605)), nullptr, double(rating), QString(), nullptr);
            break;
        }
        case Level::DateAdded:
        case Level::LastPlayback: {
            const Date date = l.kind == Level::LastPlayback ? movie->playbackDate() : movie->date();
            if (isNeverDate(date)) {
                toOthers(v);
                break;
            }
            const double seconds = date.secondsSince1970;
            // A day is one bucket: its key is the day, its name the day's description.
            const QString name = dayName(seconds);
            put(v, l.kind == Level::DateAdded ? dayKey(seconds) : name.toLower(), name, &seconds, seconds, QString(), nullptr);
            break;
        }
        case Level::Counter: {
            const auto counter = movie->counter();
            if (counter == 0)
                toOthers(v);
            else
                put(v, QString::number(counter), QString::number(counter), nullptr, double(counter), QString(), nullptr);
            break;
        }
        case Level::Time: {
            const long long duration = movie->duration();
            if (duration < 0) {
                toOthers(v);
                break;
            }
            const QString name = PMDurationString(double(duration), false, true, false);
            bool isNew = false;
            PMLibraryContainerPtr bucket = put(v, name.toLower(), name, nullptr, double(duration), QString(), &isNew);
            if (isNew)
                bucket->setValue(QStringLiteral("Use Sample Duration"), true);
            break;
        }
        case Level::FileSize: {
            if (movie->fileSize() == 0) {
                toOthers(v);
                break;
            }
            const QString name = movie->fileSizeDescription();
            bool isNew = false;
            PMLibraryContainerPtr bucket = put(v, name.toLower(), name, nullptr, double(movie->fileSize()), QString(), &isNew);
            if (isNew)
                bucket->setValue(QStringLiteral("Use Sample Size"), true);
            break;
        }
        case Level::Location: {
            const QString path = movie->path();
            QString name;
            for (const QString& library : m_settings.libraryPaths) {
                if (!path.isEmpty() && isEqualToOrChildOfPath(path, library)) {
                    if (m_settings.groupByVolumeName) {
                        const QString volume = volumePathOrSlash(library);
                        const QString readable = m_settings.readableFolderName ? m_settings.readableFolderName(volume) : volume;
                        name = substringBeforeSuffix(readable, QStringLiteral(" HD"), true).value_or(readable);
                    } else {
                        name = m_settings.readableFolderName ? m_settings.readableFolderName(library) : library;
                    }
                    break;
                }
            }
            if (name.isEmpty())
                toOthers(v);
            else
                put(v, name.toLower(), name, nullptr, 0, QString(), nullptr);
            break;
        }
        case Level::Boolean: {
            const DictionaryPtr tags = movie->subdivisionTags();
            QStringList candidates;
            // With values following, every tag's bucket holds every movie, so that the
            // value level gathers the movies without the tag in its others bucket.
            const bool everyTag = l.valuesFollow && (othersBehavior == 0 || (othersBehavior == 1 && !l.late));
            if (everyTag) {
                if (!l.tags.isEmpty()) {
                    candidates = l.tags;
                } else {
                    candidates = m_settings.tagTypes.keys();
                    std::sort(candidates.begin(), candidates.end());
                }
            } else {
                for (const QString& key : tags->keys())
                    if (l.tags.isEmpty() || l.tags.contains(key))
                        candidates.append(key);
            }
            bool any = false;
            for (const QString& key : candidates) {
                if (key == QLatin1String("notes") && !m_settings.includeNotes)
                    continue;
                QString name = m_settings.tagTypes.value(key).name;
                if (name.isEmpty()) {
                    const DictionaryPtr entry = tags->value(key).dictionary();
                    name = entry ? entry->value(QStringLiteral("Tag")).string() : key;
                }
                bool isNew = false;
                PMLibraryContainerPtr bucket = put(v, key, name, nullptr, 0, QString(), &isNew);
                if (isNew) {
                    bucket->setValue(kSubdivisionIntermediate, name);
                    if (branch)
                        bucket->setValue(kSubdivisionBranch, Value(branch));
                    if (l.stop.contains(key))
                        bucket->setValue(l.valuesFollow ? kSubdivisionStop : kSubdivisionStopNow, true);
                }
                any = true;
            }
            if (!any)
                toOthers(v);
            break;
        }
        case Level::Values: {
            const DictionaryPtr tags = movie->subdivisionTags();
            bool any = false;
            for (const QString& tag : l.tags) {
                const DictionaryPtr entry = tags->value(tag).dictionary();
                if (!entry)
                    continue;
                const QString tagName = entry->value(QStringLiteral("Tag")).string();
                const QString text = entry->value(QStringLiteral("Value")).string();
                const bool series = tag == QLatin1String("sequence") && m_settings.seriesNames.contains(text);
                const QStringList values = series || tag == QLatin1String("notes") ? QStringList{text} : cachedCSVFields(text);
                QStringList fixed;
                if (branch)
                    if (const DictionaryPtr b = branch->value(tag).dictionary())
                        if (const ArrayPtr vs = b->value(QStringLiteral("Values")).array())
                            for (const Value& f : *vs)
                                fixed.append(f.string().toLower());
                for (QString value : values) {
                    value = value.trimmed();
                    if (value.isEmpty() || fixed.contains(value.toLower()))
                        continue;
                    QString name = series ? m_settings.seriesNames.value(text) : value;
                    if (l.maxLength >= 1 && !series)
                        value = name = stringFromNonEmptyTrimmedStringWithMaximumLength(value, l.maxLength, m_settings.stripWhitespace);
                    const QString key = m_settings.acknowledgeValueCase ? value : value.toLower();
                    QString shown = name;
                    if (l.late && l.combinedNames && m_settings.showCombinedNames) {
                        const PMSmartGroupSettings::TagType type = m_settings.tagTypes.value(tag);
                        const QString typeName = type.name.isEmpty() ? tagName : type.name;
                        shown = type.nonNumeric ? typeName + m_settings.nameSeparator + name : typeName + u' ' + name;
                    }
                    bool isNew = false;
                    PMLibraryContainerPtr bucket = put(v, key, shown, nullptr, leadingNumber(value), l.late ? tag : QString(), &isNew);
                    if (isNew) {
                        bucket->setValue(kSubdividingTag, tagName.isEmpty() ? tag : tagName);
                        if (series) {
                            bucket->setValue(QStringLiteral("Series ID Prefix"), text);
                        } else if (limited) {
                            bucket->setValue(kPseudoIndex, Value(Array::make({Value(value)})));
                            if (branch)
                                bucket->setValue(kSubdivisionBranch, Value(branch));
                        } else {
                            DictionaryPtr extended = branch ? deeplyMutableCopy(branch) : Dictionary::make();
                            DictionaryPtr entryOfTag = extended->value(tag).dictionary();
                            if (!entryOfTag) {
                                entryOfTag = Dictionary::make({{QStringLiteral("Tag"), Value(tagName)}, {QStringLiteral("Values"), Value(Array::make())}});
                                extended->setValue(tag, Value(entryOfTag));
                            }
                            ArrayPtr fixedValues = entryOfTag->value(QStringLiteral("Values")).array();
                            if (!fixedValues) {
                                fixedValues = Array::make();
                                entryOfTag->setValue(QStringLiteral("Values"), Value(fixedValues));
                            }
                            fixedValues->append(Value(value));
                            bucket->setValue(kSubdivisionBranch, Value(extended));
                        }
                        if (l.stop.contains(tag))
                            bucket->setValue(kSubdivisionStopNow, true);
                    }
                    any = true;
                }
            }
            if (!any)
                toOthers(v);
            break;
        }
        case Level::None:
            break;
        }
    }

    // An others bucket of the same key as a made bucket is that bucket.
    std::vector<Bucket> buckets = std::move(pass.buckets);
    if (buckets.empty() && othersMovies.empty())
        return;
    // Pseudo-index: below a merged bucket, only the buckets of its own values stay.
    if (!m_settings.keepAllSubdivisions && container.contains(kPseudoIndex) && container.contains(kSubdividingTag)) {
        QStringList names;
        if (const ArrayPtr index = container.value(kPseudoIndex).array())
            for (const Value& n : *index)
                names.append(n.string().toLower());
        const QString tag = container.value(kSubdividingTag).string();
        std::erase_if(buckets, [&](const Bucket& b) {
            if (b.container->value(kSubdividingTag).string() != tag)
                return false;
            const QString key = b.container->value(kSubdivision).string().toLower();
            return std::none_of(names.cbegin(), names.cend(), [&](const QString& n) { return key.startsWith(n); });
        });
    }
    for (auto it = buckets.begin(); it != buckets.end(); ++it) {
        if (it->container->value(kSubdivision).string() == othersKey && it->raisedTag.isEmpty()) {
            for (const Value& m : it->movies)
                if (!othersSeen.contains(m.objectPointer())) {
                    othersSeen.insert(m.objectPointer());
                    othersMovies.push_back(m);
                }
            buckets.erase(it);
            break;
        }
    }

    // Limit N: buckets in the kind's order, merged into N.
    if (l.limit >= 1 && qsizetype(buckets.size()) > l.limit) {
        std::stable_sort(buckets.begin(), buckets.end(), [&](const Bucket& a, const Bucket& b) {
            const bool numeric = l.kind == Level::DateAdded || l.kind == Level::LastPlayback || l.kind == Level::Time || l.kind == Level::FileSize
                || l.kind == Level::Rating || l.kind == Level::Counter;
            if (numeric && a.sortValue != b.sortValue)
                return a.sortValue < b.sortValue;
            return PMCompareSortStrings(a.container->displayName(), b.container->displayName()) < 0;
        });
        const qsizetype count = qsizetype(buckets.size());
        const qsizetype q = count / l.limit, r = count % l.limit;
        std::vector<Bucket> merged;
        qsizetype at = 0;
        for (qsizetype i = 0; i < l.limit; ++i) {
            const qsizetype take = q + (i < r ? 1 : 0);
            Bucket first = std::move(buckets[size_t(at)]);
            QStringList names = {first.container->value(QStringLiteral("Name")).string()};
            ArrayPtr index = first.container->value(kPseudoIndex).array();
            if (!index && take > 1) {
                index = Array::make({Value(first.container->value(QStringLiteral("Name")).string())});
                first.container->setValue(kPseudoIndex, Value(index));
            }
            for (qsizetype j = 1; j < take; ++j) {
                Bucket& other = buckets[size_t(at + j)];
                names.append(other.container->value(QStringLiteral("Name")).string());
                for (const Value& m : other.movies)
                    first.add(m);
                if (const ArrayPtr otherIndex = other.container->value(kPseudoIndex).array())
                    for (const Value& n : *otherIndex)
                        index->append(n);
                else
                    index->append(Value(other.container->value(QStringLiteral("Name")).string()));
            }
            if (names.size() == 2)
                first.container->setValue(QStringLiteral("Name"), PMCSVStringWithFields(names, QString(), false));
            else if (names.size() > 2)
                first.container->setValue(QStringLiteral("Name"), names.first() + QStringLiteral("\u2006\u2013\u2006") + names.last());
            merged.push_back(std::move(first));
            at += take;
        }
        buckets = std::move(merged);
    }

    // Threshold T: small buckets go to the others bucket.
    if (threshold >= 1 && !buckets.empty()) {
        std::vector<Bucket> kept;
        for (Bucket& b : buckets) {
            if (qsizetype(b.movies.size()) > threshold) {
                kept.push_back(std::move(b));
                continue;
            }
            for (const Value& m : b.movies)
                toOthers(m);
        }
        buckets = std::move(kept);
    }

    // Raising of "<" alternates needs to know which bucket belongs to which tag.
    std::vector<PMLibraryContainerPtr> children;
    for (Bucket& b : buckets) {
        auto arrayOfMovies = Array::make();
        arrayOfMovies->values() = std::move(b.movies);
        const bool deeper = l.moreLevels && !b.container->contains(kSubdivisionStopNow) && depth < 100;
        if (l.moreLevels && depth >= 100)
            PMLog("excessive subdivision: %@", platform::callStackDescription());
        if (deeper) {
            subdivide(*b.container, arrayOfMovies, criteria, l.nextLevel, othersBehavior, threshold, depth + 1);
            if (b.container->storedChildren()->isEmpty())
                continue;
        } else {
            setMembers(*b.container, *arrayOfMovies);
        }
        children.push_back(b.container);
    }

    PMLibraryContainerPtr othersContainer;
    if (!othersMovies.empty()) {
        othersContainer = PMLibraryContainer::make({{QStringLiteral("Name"), Value(others)},
                                                    {kUniqueID, Value(parentID + QStringLiteral("::") + othersKey)},
                                                    {QStringLiteral("Smart"), Value(true)},
                                                    {kSubdivision, Value(othersKey)},
                                                    {kSubdivisionOthers, Value(others)}});
        if (l.kind == Level::Boolean)
            othersContainer->setValue(kSubdivisionIntermediate, QString());
        if (branch)
            othersContainer->setValue(kSubdivisionBranch, Value(branch));
        auto arrayOfMovies = Array::make();
        arrayOfMovies->values() = othersMovies;
        // The others of a boolean level hold the movies without any tag: nothing to divide
        // by values there.
        if (l.othersMoreLevels && depth < 100)
            subdivide(*othersContainer, arrayOfMovies, criteria, l.othersNextLevel, othersBehavior, threshold, depth + 1);
        else
            setMembers(*othersContainer, *arrayOfMovies);
        if (othersContainer->storedChildren()->isEmpty())
            othersContainer.reset();
    }

    // Raising: normal variant ("<"): a marked tag's bucket gives its place to its buckets.
    std::vector<PMLibraryContainerPtr> result;
    if (l.kind == Level::Boolean && !l.raiseNormal.isEmpty()) {
        std::vector<PMLibraryContainerPtr> raisedOthers;
        int raisedTags = 0;
        for (const PMLibraryContainerPtr& c : children) {
            const QString key = c->value(kSubdivision).string();
            if (!l.raiseNormal.contains(key)) {
                result.push_back(c);
                continue;
            }
            ++raisedTags;
            const QString tagName = c->value(QStringLiteral("Name")).string();
            for (const Value& sub : *c->storedChildren()) {
                PMLibraryContainerPtr s = PMContainerPtr(sub);
                if (!s)
                    continue; // movies lying directly in it are dropped
                s->setValue(kSubdividingTagRaised, key);
                s->setValue(kPseudoParent, key);
                if (s->isOthers()) {
                    s->setValue(QStringLiteral("Raised Others Tag"), tagName);
                    raisedOthers.push_back(s);
                    if (m_settings.raiseLateSeparateOthers)
                        result.push_back(s);
                } else {
                    result.push_back(s);
                }
            }
        }
        if (m_settings.raiseLateSeparateOthers) {
            if (raisedTags > 1)
                for (const PMLibraryContainerPtr& s : raisedOthers)
                    s->setValue(QStringLiteral("Name"), s->value(QStringLiteral("Raised Others Tag")).string() + m_settings.nameSeparator + others);
        } else if (!raisedOthers.empty()) {
            // One others bucket with the movies that all raised others buckets hold.
            QSet<const void*> common;
            std::vector<Value> commonMovies;
            bool first = true;
            for (const PMLibraryContainerPtr& s : raisedOthers) {
                QSet<const void*> mine;
                std::vector<Value> mineMovies;
                std::vector<Value> below;
                QSet<const void*> belowSeen;
                moviesBelow(*s, below, belowSeen);
                for (const Value& m : below)
                    if (!mine.contains(m.objectPointer())) {
                        mine.insert(m.objectPointer());
                        mineMovies.push_back(m);
                    }
                if (first) {
                    common = mine;
                    commonMovies = mineMovies;
                    first = false;
                } else {
                    common.intersect(mine);
                    std::erase_if(commonMovies, [&](const Value& m) { return !common.contains(m.objectPointer()); });
                }
            }
            if (!commonMovies.empty()) {
                PMLibraryContainerPtr merged = raisedOthers.front();
                merged->remove(kSubdividingTagRaised);
                merged->remove(kPseudoParent);
                merged->setValue(QStringLiteral("Name"), others);
                merged->setValue(kSubdivision, othersKey);
                merged->setValue(kSubdivisionOthers, others);
                merged->setValue(kUniqueID, parentID + QStringLiteral("::") + othersKey);
                auto arrayOfMovies = Array::make();
                arrayOfMovies->values() = commonMovies;
                merged->storedChildren()->removeAll();
                if (l.othersMoreLevels)
                    subdivide(*merged, arrayOfMovies, criteria, l.othersNextLevel, othersBehavior, threshold, depth + 1);
                else
                    setMembers(*merged, *arrayOfMovies);
                if (!merged->storedChildren()->isEmpty() && !othersContainer)
                    othersContainer = merged;
            }
        }
        for (const PMLibraryContainerPtr& s : raisedOthers)
            s->remove(QStringLiteral("Raised Others Tag"));
    } else if (l.late && !l.raiseLate.isEmpty()) {
        // Late variant (">"): the buckets of marked tags are gathered per tag.
        QMap<QString, std::vector<PMLibraryContainerPtr>> gathered;
        for (const PMLibraryContainerPtr& c : children) {
            const QString tag = c->value(kSubdividingTagRaised).string();
            if (l.raiseLate.contains(tag)) {
                gathered[tag].push_back(c);
            } else {
                c->setValue(kPseudoParent, tag);
                result.push_back(c);
            }
        }
        std::vector<PMLibraryContainerPtr> intermediates;
        for (auto it = gathered.constBegin(); it != gathered.constEnd(); ++it) {
            const QString name = m_settings.tagTypes.value(it.key()).name.isEmpty() ? it.key() : m_settings.tagTypes.value(it.key()).name;
            auto intermediate = PMLibraryContainer::make({{QStringLiteral("Name"), Value(name)},
                                                          {kUniqueID, Value(parentID + QStringLiteral("::") + it.key())},
                                                          {QStringLiteral("Smart"), Value(true)},
                                                          {kSubdivision, Value(it.key())},
                                                          {kSubdivisionIntermediate, Value(it.key())}});
            if (branch)
                intermediate->setValue(kSubdivisionBranch, Value(branch));
            for (const PMLibraryContainerPtr& c : it.value())
                intermediate->storedChildren()->append(Value(c));
            intermediates.push_back(intermediate);
        }
        // At the top, in descending order of tag names.
        std::reverse(intermediates.begin(), intermediates.end());
        result.insert(result.begin(), intermediates.begin(), intermediates.end());
    } else {
        result = std::move(children);
    }
    if (othersContainer)
        result.push_back(othersContainer);

    ArrayPtr raw = container.storedChildren();
    raw->removeAll();
    for (const PMLibraryContainerPtr& c : result)
        raw->append(Value(c));
}

bool PMSmartGroupSubdivider::qualifiesForFastTrack(const Dictionary& criteria) const
{
    const Value tag = criteria.value(kSubdividerTag);
    if (tag.isString() && !cachedCSVFields(tag.string()).isEmpty()) {
        for (const QString& field : cachedCSVFields(tag.string())) {
            int m = 0, n = 0;
            const QString level = parseLimits(field, m_settings.limitsDisabled, &m, &n);
            // A level of a built-in kind looks at more than tags, whatever tag shares its name.
            if (m_settings.emulateOtherSubdivisionTypes && level != QLatin1String("?") && emulatedKind(level) != Level::None)
                return false;
            for (QString alternate : level.split(u'+')) {
                alternate = alternate.trimmed();
                while (alternate.startsWith(u'<') || alternate.startsWith(u'>'))
                    alternate = alternate.mid(1);
                while (alternate.endsWith(u'>') || alternate.endsWith(u'<'))
                    alternate.chop(1);
                alternate = alternate.trimmed();
                if (alternate.isEmpty())
                    continue;
                // The boolean level: the notes' bucket is made from more than the tags
                // that representatives share.
                if (alternate == QLatin1String("?")) {
                    if (m_settings.includeNotes)
                        return false;
                    continue;
                }
                if (alternate == QLatin1String("notes") || !m_settings.tagTypes.contains(alternate))
                    return false;
            }
        }
        return true;
    }
    return boolValueOfObjectForKey(&criteria, QStringLiteral("Subdivide By Boolean Tag")) && !m_settings.includeNotes;
}

namespace {

// Replaces each representative in the tree by proxies of its members that belong to the
// group; answers whether anything is left.
bool expandRepresentatives(PMLibraryContainer& container, const QHash<const void*, std::vector<Value>>& members,
                           const QSet<const void*>& belonging)
{
    ArrayPtr raw = container.storedChildren();
    auto next = Array::make();
    for (const Value& v : *raw) {
        if (PMLibraryContainer* c = PMContainer(v)) {
            if (expandRepresentatives(*c, members, belonging))
                next->append(v);
            continue;
        }
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        const void* original = movie->isProxy() ? static_cast<const void*>(static_cast<const platform::Object*>(movie->proxyOriginal().get())) : v.objectPointer();
        const auto it = members.constFind(original);
        if (it == members.constEnd()) {
            next->append(v);
            continue;
        }
        for (const Value& m : *it)
            if (belonging.contains(m.objectPointer()))
                if (PMMovie(m))
                    next->append(m);
    }
    raw->values() = std::move(next->values());
    container.invalidateChildren();
    return !raw->isEmpty();
}

} // namespace

void PMSmartGroupSubdivider::subdivideAndPostProcess(PMLibraryContainer& group, PMSmartGroupRegistry& registry)
{
    const DictionaryPtr criteria = group.value(kCriteria).dictionary();
    const Dictionary empty;
    const Dictionary& c = criteria ? *criteria : empty;
    const long long othersBehavior = longLongValueOfObjectForKey(&c, QStringLiteral("Subdivider Others Behavior"));
    const long long threshold = longLongValueOfObjectForKey(&c, QStringLiteral("Subdivider Threshold"));
    const ArrayPtr movies = group.storedChildren();

    // Fast track: one representative per set of equal subdivision tags.
    bool fastTracked = false;
    if (fastTrack && threshold < 1 && qualifiesForFastTrack(c)) {
        QSet<const void*> belonging;
        auto representatives = Array::make();
        QSet<const void*> taken;
        for (const Value& v : *movies) {
            belonging.insert(v.objectPointer());
            const Value representative = fastTrack->representativeOf.value(v.objectPointer());
            const Value chosen = representative.isNull() ? v : representative;
            if (!taken.contains(chosen.objectPointer())) {
                taken.insert(chosen.objectPointer());
                representatives->append(chosen);
            }
        }
        // Worth it only when many movies share their tags.
        if (representatives->count() * 4 < movies->count() * 3) {
            fastTracked = true;
            subdivide(group, representatives, c, 0, othersBehavior, threshold);
            expandRepresentatives(group, fastTrack->members, belonging);
        }
    }
    if (!fastTracked)
        subdivide(group, nullptr, c, 0, othersBehavior, threshold);
    postProcessSmartGroup(group, c, othersBehavior == 1, m_settings.fanOutFineTuning, m_settings.cleaningZeal, m_settings.checkPseudoAncestors, registry);
}

std::unique_ptr<PMSmartGroupFastTrack> PMSmartGroupFastTrack::make(const ArrayPtr& movies, const PMSmartGroupMovieFacts* facts)
{
    if (!movies || movies->count() < 2)
        return nullptr;
    const qsizetype count = movies->count();
    std::vector<QString> descriptions;
    if (facts && facts->fastTrackDescriptions.size() == size_t(count)) {
        descriptions = facts->fastTrackDescriptions;
    } else {
        descriptions.resize(size_t(count));
        platform::concurrentApply(size_t(count), [&](size_t i) {
            PMSideEffectFreeGetters quiet;
            if (PMMovieRepresentationPrototype* movie = PMMovie(movies->at(qsizetype(i))))
                descriptions[i] = movie->fastTrackSubdivisionTagsDescription();
        });
    }
    auto result = std::make_unique<PMSmartGroupFastTrack>();
    QHash<QString, Value> first;
    bool shared = false;
    for (qsizetype i = 0; i < count; ++i) {
        const Value& movie = movies->at(i);
        auto it = first.find(descriptions[size_t(i)]);
        if (it == first.end()) {
            first.insert(descriptions[size_t(i)], movie);
            result->members[movie.objectPointer()].push_back(movie);
            continue;
        }
        shared = true;
        result->representativeOf.insert(movie.objectPointer(), *it);
        result->members[it->objectPointer()].push_back(movie);
    }
    if (!shared)
        return nullptr;
    return result;
}

// ---- Post-processing -----------------------------------------------------------------------

namespace {

// The same items in the same order (by identity: equal but distinct containers differ).
bool sameItems(const std::vector<Value>& a, const std::vector<Value>& b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](const Value& x, const Value& y) { return x.objectPointer() == y.objectPointer(); });
}

void collectMovies(PMLibraryContainer& container, std::vector<Value>& into, QSet<const void*>& seen)
{
    for (const Value& v : *container.storedChildren()) {
        if (PMLibraryContainer* c = PMContainer(v)) {
            collectMovies(*c, into, seen);
            continue;
        }
        addRecordOnce(v, into, seen);
    }
}

} // namespace

qsizetype PMSmartGroupSubdivider::postProcessSmartGroupOrSubdivision(PMLibraryContainer& container, PMLibraryContainer& group,
                                                                     const Dictionary& criteria, bool raiseOthers, int fanOutLevel,
                                                                     qsizetype parentCount, PMSmartGroupRegistry& registry)
{
    const long long bypassLevel = longLongValueOfObjectForKey(&criteria, QStringLiteral("Subdivider Bypass Level"));
    // Every container of the shaped tree passes here: the members it holds as records get
    // their proxies when a view first reads them.
    container.setMembersAwaitProxies(true);
    ArrayPtr raw = container.storedChildren();
    bool changed = false;
    // Movies only, in no manual order: nothing to shape (their members are distinct).
    if (std::none_of(raw->begin(), raw->end(), [](const Value& v) { return PMContainer(v) != nullptr; })
        && container.indexSequenceFromNonVolatileAncestor(group.sharedContainer()).isEmpty()) {
        container.setHoldsNoContainers(true);
        return raw->count();
    }

    // 1. Bypass of needless levels.
    if (!container.isIntermediate() && bypassLevel <= 0 && !raw->isEmpty()
        && std::all_of(raw->begin(), raw->end(), [](const Value& v) { return PMContainer(v) != nullptr; })) {
        std::vector<Value> intermediates, otherBuckets;
        PMLibraryContainerPtr firstDropped;
        for (const Value& v : *raw) {
            PMLibraryContainer* c = PMContainer(v);
            if (c->isIntermediate() && !c->isOthers()) {
                const ArrayPtr sub = c->storedChildren();
                const bool onlyOthers = sub->count() == 1 && PMContainer(sub->at(0)) && PMContainer(sub->at(0))->isOthers();
                if (sub->isEmpty() || onlyOthers) {
                    if (!firstDropped)
                        firstDropped = PMContainerPtr(v);
                    continue;
                }
                intermediates.push_back(v);
            } else {
                otherBuckets.push_back(v);
            }
        }
        std::vector<Value> next;
        if (!intermediates.empty()) {
            next = intermediates;
            const bool onlyOthers = otherBuckets.size() == 1 && PMContainer(otherBuckets.front())->isOthers();
            if (!onlyOthers)
                next.insert(next.end(), otherBuckets.begin(), otherBuckets.end());
        } else if (!otherBuckets.empty()) {
            next = otherBuckets;
        } else if (firstDropped) {
            for (const Value& sub : *firstDropped->storedChildren())
                if (PMContainer(sub) && PMContainer(sub)->isOthers())
                    next = PMContainer(sub)->storedChildren()->values();
        }
        while (next.size() == 1) {
            PMLibraryContainer* only = PMContainer(next.front());
            if (!only || only->isIntermediate() || (bypassLevel == 0 && !only->isOthers()))
                break;
            next = only->storedChildren()->values();
        }
        if (!sameItems(next, raw->values())) {
            raw->values() = std::move(next);
            changed = true;
        }
    }

    // 2. Whether this container lists the movies of its descendants.
    const bool isGroup = &container == &group;
    bool fansOut = fanOutLevel >= 2 || (fanOutLevel == 1 && !isGroup);
    std::vector<Value> ownMovies;
    QSet<const void*> ownSeen;
    for (const Value& v : *raw) {
        if (PMContainer(v))
            continue;
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        const void* key = movie->isProxy() ? static_cast<const void*>(static_cast<const platform::Object*>(movie->proxyOriginal().get())) : v.objectPointer();
        if (!ownSeen.contains(key)) {
            ownSeen.insert(key);
            ownMovies.push_back(v);
        }
    }
    std::vector<Value> all;
    QSet<const void*> allSeen;
    collectMovies(container, all, allSeen);
    const qsizetype movieCount = qsizetype(all.size());
    if (container.isIntermediate() && !isGroup)
        fansOut = fanOutLevel == 3 || (fanOutLevel == 2 && movieCount != parentCount);

    // 3. Sub-containers first; raising of others.
    std::vector<PMLibraryContainerPtr> subs, raised;
    for (const Value& v : *raw)
        if (PMLibraryContainerPtr c = PMContainerPtr(v))
            subs.push_back(c);
    bool nonOthersContributed = false;
    std::vector<PMLibraryContainerPtr> keptSubs;
    for (const PMLibraryContainerPtr& sub : subs) {
        postProcessSmartGroupOrSubdivision(*sub, group, criteria, raiseOthers, fanOutLevel, movieCount, registry);
        if (raiseOthers && sub->isOthers()) {
            for (const Value& v : *sub->storedChildren()) {
                if (PMLibraryContainerPtr c = PMContainerPtr(v))
                    raised.push_back(c);
                else if (PMMovieRepresentationPrototype* m = PMMovie(v)) {
                    const void* key = m->isProxy() ? static_cast<const void*>(static_cast<const platform::Object*>(m->proxyOriginal().get())) : v.objectPointer();
                    if (!m->isProxy() || !dynamic_cast<PMMovieRepresentationFanOutProxy*>(m))
                        if (!ownSeen.contains(key)) {
                            ownSeen.insert(key);
                            ownMovies.push_back(v);
                        }
                }
            }
            changed = true;
            continue;
        }
        if (!sub->isOthers())
            nonOthersContributed = true;
        keptSubs.push_back(sub);
    }

    // 4. Registration.
    for (const PMLibraryContainerPtr& sub : keptSubs)
        registry.insert(sub->uniqueLibraryID(), sub);
    for (const PMLibraryContainerPtr& sub : raised)
        registry.insert(sub->uniqueLibraryID(), sub);
    keptSubs.insert(keptSubs.end(), raised.begin(), raised.end());

    // 5. The new children.
    std::vector<Value> next;
    auto containers = Array::make();
    for (const PMLibraryContainerPtr& sub : keptSubs)
        containers->append(Value(sub));
    const QStringList sequence = container.indexSequenceFromNonVolatileAncestor(group.sharedContainer());
    std::vector<Value> movies;
    if (fansOut && !keptSubs.empty()) {
        for (const Value& m : all)
            if (PMMovieRepresentationPrototype* movie = PMMovie(m))
                if (auto proxy = movie->fanOutProxy())
                    movies.push_back(Value(proxy));
    } else {
        movies = ownMovies;
    }
    if (!sequence.isEmpty()) {
        if (containers->count() >= 2)
            PMSortLibraryItemsInPlace(containers, QString(), false, nullptr);
        auto ordered = Array::make();
        ordered->values() = containers->values();
        Dictionary byID;
        for (const Value& m : movies)
            if (PMMovieRepresentationPrototype* movie = PMMovie(m))
                byID.setValue(movie->uniqueLibraryID(), m);
        addSequence(*ordered, sequence, byID);
        next = ordered->values();
    } else {
        next = containers->values();
        next.insert(next.end(), movies.begin(), movies.end());
    }
    if (!sameItems(next, raw->values())) {
        raw->values() = std::move(next);
        changed = true;
    }
    if (changed)
        container.invalidateChildren();
    container.setHoldsNoContainers(keptSubs.empty());
    if (fansOut && !keptSubs.empty()) {
        container.setValue(kFlattened, true);
        if (nonOthersContributed)
            container.setValue(kFlattenedNonOthers, true);
    }
    return movieCount;
}

void PMSmartGroupSubdivider::postProcessSmartGroup(PMLibraryContainer& group, const Dictionary& criteria, bool raiseOthers, bool allowFanOutFineTuning,
                                                   long long cleaningZeal, bool checkPseudoAncestors, PMSmartGroupRegistry& registry)
{
    int fanOutLevel = 0;
    if (!m_settings.blendsSubgroupPreviews && boolValueOfObjectForKey(&group, QStringLiteral("Flatten"))) {
        fanOutLevel = 3;
        if (allowFanOutFineTuning && !raiseOthers)
            fanOutLevel = boolValueOfObjectForKey(&group, QStringLiteral("Flatten: Subdivisions Only")) ? 1 : 2;
    }
    postProcessSmartGroupOrSubdivision(group, group, criteria, raiseOthers, fanOutLevel, 0, registry);

    // Subgroup settings: what a bucket stores and already inherits goes.
    const Value stored = group.value(kSubgroupSettings);
    if (!stored.isDictionary())
        return;
    if (stored.dictionary()->isEmpty()) {
        group.remove(kSubgroupSettings);
        return;
    }
    if (cleaningZeal < 0)
        return;
    DictionaryPtr settings = stored.dictionary();
    DictionaryPtr copy; // made at the first change
    QSet<QString> usedPseudoParents;
    const auto mutableCopy = [&]() -> Dictionary& {
        if (!copy)
            copy = deeplyMutableCopy(settings);
        return *copy;
    };
    const auto current = [&]() -> const Dictionary& { return copy ? *copy : *settings; };
    // The entry of `id` without what `inherited` holds; answers what is left (null: nothing).
    const auto clean = [&](const QString& id, const Dictionary& inherited, const char* what) -> DictionaryPtr {
        const DictionaryPtr entry = current().value(id).dictionary();
        if (!entry)
            return nullptr;
        DictionaryPtr left = Dictionary::make();
        bool lost = false;
        for (auto it = entry->begin(); it != entry->end(); ++it) {
            const Value inheritedValue = inherited.value(it.key());
            if (!inheritedValue.isNull() && inheritedValue == it.value()) {
                lost = true;
                if (PMDebugLogEnabled())
                    PMLog(what, id, it.key(), it.value().description());
                continue;
            }
            left->setValue(it.key(), it.value());
        }
        if (lost) {
            if (left->isEmpty())
                mutableCopy().remove(id);
            else
                mutableCopy().setValue(id, Value(left));
        }
        return left->isEmpty() ? nullptr : left;
    };
    std::function<void(PMLibraryContainer&, const Dictionary&)> walk = [&](PMLibraryContainer& container, const Dictionary& inherited) {
        for (const Value& v : *container.storedChildren()) {
            PMLibraryContainer* bucket = PMContainer(v);
            if (!bucket)
                continue;
            Dictionary inheritedHere = inherited;
            if (checkPseudoAncestors) {
                const QString pseudoParent = bucket->pseudoParentUniqueLibraryID();
                if (!pseudoParent.isEmpty()) {
                    usedPseudoParents.insert(pseudoParent);
                    const bool had = current().contains(pseudoParent);
                    const DictionaryPtr left = clean(pseudoParent, inheritedHere, "[Debug] redundant setting in pseudo-ancestor <%@>: <%@> => <%@>");
                    if (had && !left)
                        continue;
                    if (left)
                        for (auto it = left->begin(); it != left->end(); ++it)
                            inheritedHere.setValue(it.key(), it.value());
                }
            }
            const DictionaryPtr left = clean(bucket->uniqueLibraryID(), inheritedHere, "[Debug] redundant setting in subdivision <%@>: <%@> => <%@>");
            if (left)
                for (auto it = left->begin(); it != left->end(); ++it)
                    inheritedHere.setValue(it.key(), it.value());
            walk(*bucket, inheritedHere);
        }
    };
    walk(group, group);
    if (cleaningZeal != 0) {
        const QString groupID = group.uniqueLibraryID();
        for (const QString& id : current().keys())
            if (id != groupID && !registry.contains(id) && !usedPseudoParents.contains(id))
                mutableCopy().remove(id);
    }
    if (copy) {
        if (copy->isEmpty())
            group.remove(kSubgroupSettings);
        else
            group.setValue(kSubgroupSettings, Value(copy));
    }
}

DictionaryPtr PMRekeyedSubgroupSettings(const DictionaryPtr& settings, const QString& oldID, const QString& newID)
{
    if (!settings)
        return nullptr;
    auto result = Dictionary::make();
    for (auto it = settings->begin(); it != settings->end(); ++it) {
        const QString key = it.key();
        const Value value = it.value().isDictionary() ? Value(deeplyMutableCopy(it.value().dictionary())) : it.value();
        result->setValue(!oldID.isEmpty() && key.startsWith(oldID) ? newID + key.mid(oldID.size()) : key, value);
    }
    return result;
}
