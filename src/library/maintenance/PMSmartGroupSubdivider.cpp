// The smart-group engine, subdivision: a group's movies divided into buckets, level by level.
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

namespace pmsmartgroups {

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

} // namespace pmsmartgroups

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

// One subdivision of one container at one level: what the level fixes, the buckets as
// the movies fill them, and the movies of the others bucket.
struct PMSmartGroupSubdivider::Division {
    Division(PMSmartGroupSubdivider& subdivider, PMLibraryContainer& container, const Dictionary& criteria, const Level& l, long long othersBehavior,
             long long threshold, int depth);

    PMSmartGroupSubdivider& subdivider;
    const PMSmartGroupSettings& m_settings;
    const PMSmartGroupMovieFacts* facts;
    PMLibraryContainer& container;
    const Dictionary& criteria;
    const Level& l;
    const long long othersBehavior, threshold;
    const int depth;
    QString others, othersKey, parentID;
    DictionaryPtr branch;
    bool limited = false;
    Pass pass;
    std::vector<Bucket> buckets;
    std::vector<Value> othersMovies;
    QSet<const void*> othersSeen;

    void toOthers(const Value& movie);
    PMLibraryContainerPtr put(const Value& movie, const QString& key, const QString& name, const double* date, double sortValue, const QString& raised,
                              bool* isNew);

    // The stages, in their order.
    void sortIntoBuckets(const std::vector<Value>& movies);
    void sortByBooleanTags(const Value& v, const LevelSource* movie);
    void sortByValues(const Value& v, const LevelSource* movie);
    void dropBucketsOutsidePseudoIndex();
    void mergeBucketOfOthersKey();
    void mergeBucketsToLimit();
    void moveSmallBucketsToOthers();
    std::vector<PMLibraryContainerPtr> subdivideBuckets();
    PMLibraryContainerPtr makeOthersContainer();
    std::vector<PMLibraryContainerPtr> raiseNormalAlternates(const std::vector<PMLibraryContainerPtr>& children, PMLibraryContainerPtr& othersContainer);
    std::vector<PMLibraryContainerPtr> raiseLateAlternates(const std::vector<PMLibraryContainerPtr>& children);
};

PMSmartGroupSubdivider::Division::Division(PMSmartGroupSubdivider& subdivider, PMLibraryContainer& container, const Dictionary& criteria, const Level& l,
                                           long long othersBehavior, long long threshold, int depth)
    : subdivider(subdivider), m_settings(subdivider.m_settings), facts(subdivider.facts), container(container), criteria(criteria), l(l),
      othersBehavior(othersBehavior), threshold(threshold), depth(depth)
{

    others = l.kind == Level::Rating ? m_settings.noRatingName
        : (l.kind == Level::LastPlayback || l.kind == Level::Counter) ? m_settings.neverName
                                                                      : m_settings.otherName;
    othersKey = others.toLower();
    parentID = container.uniqueLibraryID();
    branch = container.value(kSubdivisionBranch).dictionary();

    // Fixed per level: the tags a value level looks at, and the branch values to skip.
    limited = l.limit >= 1 || l.maxLength >= 1;
}

void PMSmartGroupSubdivider::Division::toOthers(const Value& movie)
{
        if (othersBehavior == 2)
            return;
        if (!othersSeen.contains(movie.objectPointer())) {
            othersSeen.insert(movie.objectPointer());
            othersMovies.push_back(movie);
        }
}

PMLibraryContainerPtr PMSmartGroupSubdivider::Division::put(const Value& movie, const QString& key, const QString& name, const double* date,
                                                            double sortValue, const QString& raised, bool* isNew)
{
        bool created = false;
        Bucket& b = pass.buckets[size_t(subdivider.bucketFor(pass, key, raised, name, date, parentID, &created))];
        if (created)
            b.sortValue = sortValue;
        b.add(movie);
        if (isNew)
            *isNew = created;
        return b.container;
}

void PMSmartGroupSubdivider::keepMoviesUndivided(PMLibraryContainer& container, const std::vector<Value>& movies, int depth) const
{
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

void PMSmartGroupSubdivider::Division::sortIntoBuckets(const std::vector<Value>& movies)
{
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
        case Level::Boolean:
            sortByBooleanTags(v, movie);
            break;
        case Level::Values:
            sortByValues(v, movie);
            break;
        case Level::None:
            break;
        }
    }
}

void PMSmartGroupSubdivider::Division::sortByBooleanTags(const Value& v, const LevelSource* movie)
{
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
}

void PMSmartGroupSubdivider::Division::sortByValues(const Value& v, const LevelSource* movie)
{
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
}

void PMSmartGroupSubdivider::Division::dropBucketsOutsidePseudoIndex()
{
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
}

// An others bucket of the same key as a made bucket is that bucket.
void PMSmartGroupSubdivider::Division::mergeBucketOfOthersKey()
{
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
}

void PMSmartGroupSubdivider::Division::mergeBucketsToLimit()
{
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
}

void PMSmartGroupSubdivider::Division::moveSmallBucketsToOthers()
{
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
}

std::vector<PMLibraryContainerPtr> PMSmartGroupSubdivider::Division::subdivideBuckets()
{
    // Raising of "<" alternates needs to know which bucket belongs to which tag.
    std::vector<PMLibraryContainerPtr> children;
    for (Bucket& b : buckets) {
        auto arrayOfMovies = Array::make();
        arrayOfMovies->values() = std::move(b.movies);
        const bool deeper = l.moreLevels && !b.container->contains(kSubdivisionStopNow) && depth < 100;
        if (l.moreLevels && depth >= 100)
            PMLog("excessive subdivision: %@", platform::callStackDescription());
        if (deeper) {
            subdivider.subdivide(*b.container, arrayOfMovies, criteria, l.nextLevel, othersBehavior, threshold, depth + 1);
            if (b.container->storedChildren()->isEmpty())
                continue;
        } else {
            setMembers(*b.container, *arrayOfMovies);
        }
        children.push_back(b.container);
    }
    return children;
}

PMLibraryContainerPtr PMSmartGroupSubdivider::Division::makeOthersContainer()
{
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
            subdivider.subdivide(*othersContainer, arrayOfMovies, criteria, l.othersNextLevel, othersBehavior, threshold, depth + 1);
        else
            setMembers(*othersContainer, *arrayOfMovies);
        if (othersContainer->storedChildren()->isEmpty())
            othersContainer.reset();
    }
    return othersContainer;
}

// Raising: normal variant ("<"): a marked tag's bucket gives its place to its buckets.
std::vector<PMLibraryContainerPtr> PMSmartGroupSubdivider::Division::raiseNormalAlternates(const std::vector<PMLibraryContainerPtr>& children,
                                                                                           PMLibraryContainerPtr& othersContainer)
{
    std::vector<PMLibraryContainerPtr> result;
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
                subdivider.subdivide(*merged, arrayOfMovies, criteria, l.othersNextLevel, othersBehavior, threshold, depth + 1);
            else
                setMembers(*merged, *arrayOfMovies);
            if (!merged->storedChildren()->isEmpty() && !othersContainer)
                othersContainer = merged;
        }
    }
    for (const PMLibraryContainerPtr& s : raisedOthers)
        s->remove(QStringLiteral("Raised Others Tag"));
    return result;
}

// Late variant (">"): the buckets of marked tags are gathered per tag.
std::vector<PMLibraryContainerPtr> PMSmartGroupSubdivider::Division::raiseLateAlternates(const std::vector<PMLibraryContainerPtr>& children)
{
    std::vector<PMLibraryContainerPtr> result;
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
    return result;
}

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
        keepMoviesUndivided(container, movies, depth);
        return;
    }
    if (l.kind == Level::LastPlayback || l.kind == Level::Counter)
        container.setValue(kDidSubdivideBasedOnPlayback, true);

    Division division(*this, container, criteria, l, othersBehavior, threshold, depth);
    division.sortIntoBuckets(movies);
    division.buckets = std::move(division.pass.buckets);
    if (division.buckets.empty() && division.othersMovies.empty())
        return;
    division.dropBucketsOutsidePseudoIndex();
    division.mergeBucketOfOthersKey();
    division.mergeBucketsToLimit();
    division.moveSmallBucketsToOthers();
    std::vector<PMLibraryContainerPtr> children = division.subdivideBuckets();
    PMLibraryContainerPtr othersContainer = division.makeOthersContainer();

    std::vector<PMLibraryContainerPtr> result;
    if (l.kind == Level::Boolean && !l.raiseNormal.isEmpty())
        result = division.raiseNormalAlternates(children, othersContainer);
    else if (l.late && !l.raiseLate.isEmpty())
        result = division.raiseLateAlternates(children);
    else
        result = std::move(children);
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
