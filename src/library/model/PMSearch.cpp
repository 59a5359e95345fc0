#include "library/model/PMSearch.h"

#include "library/model/PMByteScan.h"
#include "foundation/PMLog.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/ConcurrentApply.h"
#include "platform/ThreadSanitizer.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QCoreApplication>
#include <QtCore/QHash>
#include <QtCore/QRectF>
#include <QtCore/QSet>

#include <algorithm>
#include <array>
#include <bit>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;
using namespace bytescan;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// A container as a search result: a copy of its dictionary that points at it.
Value markedCopyOfContainer(PMLibraryContainer& container)
{
    auto copy = PMLibraryContainer::withEntries(container);
    copy->setValue(QStringLiteral("Search Proxy"), container.itemValue());
    return Value(copy);
}

void addResult(Array& results, const Value& item, bool searchFiles)
{
    if (PMMovieRepresentationPrototype* movie = PMMovie(item)) {
        if (!searchFiles)
            return;
        if (PMMovieRepresentationProxyPtr proxy = movie->original().searchResultProxy())
            results.append(Value(proxy));
    } else if (PMLibraryContainer* container = PMContainer(item)) {
        results.append(markedCopyOfContainer(*container));
    }
}

// `text`: the movie's search text, fetched on the first term that needs it.
bool isMatch(const Value& value, PMLibraryItem& item, const PMSearchTerm& term, bool searchName, bool searchMetadata, bool searchLocation,
             std::shared_ptr<const PMMovieSearchText>& text)
{
    if (item.isMovieRepresentation()) {
        auto& movie = static_cast<PMMovieRepresentationPrototype&>(item);
        if (term.matchesFoldedText && !text)
            text = movie.searchText();
        return movie.isMatchForSearchTerm(term, searchName, searchMetadata, searchLocation, text.get());
    }
    PMLibraryContainer* container = PMContainer(value);
    return container && container->displayName().contains(term.string, Qt::CaseInsensitive) && !container->allNonProxyMovieChildren()->isEmpty();
}

// A container's search matches its movies on every core from this many on, in slices.
constexpr qsizetype kParallelMatchFrom = 8192;
constexpr size_t kParallelMatchSlice = 2048;

// An alternative of a term collection, folded once for the whole search.
struct PreparedAlternative {
    PMSearchTerm term;
    bool negate;
    QString delimitedTerm; // the folded term between separators, for tag names
};

// Adds (ors) the marks (0 or 1, flipped when negated) to `satisfied`.
void combineMarks(unsigned char* __restrict satisfied, const unsigned char* __restrict marked, size_t count, bool negate)
{
    const unsigned char flip = negate ? 1 : 0;
    for (size_t i = 0; i < count; ++i)
        satisfied[i] |= marked[i] ^ flip;
}

// Keeps (ands) in `passes` what `satisfied` marks.
void keepMarked(unsigned char* __restrict passes, const unsigned char* __restrict satisfied, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        passes[i] &= satisfied[i];
}

// Asks for the memory of a record and of the reference counts just before it.
inline void prefetchRecord(const PMMovieRepresentationOriginal* record)
{
#if defined(__GNUC__)
    const char* at = reinterpret_cast<const char*>(record);
    __builtin_prefetch(at - 16, 1);
    __builtin_prefetch(at + 48, 1);
#else
    (void)record;
#endif
}

// Appends a search-result stand-in for each record, in order. Making one is an allocation
// and a touch of a record and its reference counts, rarely in the cache: for many results
// they are made on every core (allocations and reference counts are safe there) and only
// moved into the results here.
void appendSearchResultProxies(Array& results, const std::vector<PMMovieRepresentationOriginal*>& records)
{
    std::vector<Value>& out = results.values();
    const size_t first = out.size();
    out.resize(first + records.size());
    const auto make = [&](size_t begin, size_t end) {
        // A record and its reference counts are asked for a few records ahead.
        constexpr size_t kAhead = 8;
        for (size_t i = begin; i < std::min(end, begin + kAhead); ++i)
            prefetchRecord(records[i]);
        for (size_t i = begin; i < end; ++i) {
            if (i + kAhead < end)
                prefetchRecord(records[i + kAhead]);
            if (PMMovieRepresentationProxyPtr proxy = records[i]->searchResultProxy())
                out[first + i] = Value(std::move(proxy));
        }
    };
    if (records.size() >= size_t(kParallelMatchFrom)) {
        platform::concurrentApply((records.size() + kParallelMatchSlice - 1) / kParallelMatchSlice, [&](size_t slice) {
            make(slice * kParallelMatchSlice, std::min(records.size(), (slice + 1) * kParallelMatchSlice));
        });
    } else {
        make(0, records.size());
    }
    // A record that made no stand-in leaves no hole.
    out.erase(std::remove_if(out.begin() + std::ptrdiff_t(first), out.end(), [](const Value& v) { return v.isNull(); }), out.end());
}

// The search texts of all movies of the library side by side, so that typing in the search
// field scans them without visiting each record. Made again when the movies of the library
// change (a new list after each rebuild) or any record drops its text.
class LibrarySearchIndex {
public:
    // The index of the movies (the library's list of filtered movies), made when stale.
    static std::shared_ptr<const LibrarySearchIndex> forMovies(const ArrayPtr& movies)
    {
        static std::mutex mutex; // guards `current`
        static std::mutex building; // one index is made at a time
        static std::shared_ptr<const LibrarySearchIndex> current;
        auto currentIfValid = [&](std::uint64_t epoch) -> std::shared_ptr<const LibrarySearchIndex> {
            std::lock_guard lock(mutex);
            if (current && current->m_movies == movies && current->m_count == movies->count() && current->m_epoch == epoch)
                return current;
            return nullptr;
        };
        if (auto valid = currentIfValid(PMSearchTextEpoch()))
            return valid;
        std::lock_guard buildLock(building);
        const std::uint64_t epoch = PMSearchTextEpoch();
        if (auto valid = currentIfValid(epoch))
            return valid;
        // The texts of the last index serve again for every movie whose text was not
        // dropped since (all are read again when too many were dropped to be remembered).
        std::vector<const PMMovieRepresentationOriginal*> dropped;
        std::shared_ptr<const LibrarySearchIndex> earlier;
        if (PMTakeRecordsWithDroppedSearchTexts(dropped)) {
            std::lock_guard lock(mutex);
            earlier = current;
        }
        const QSet<const PMMovieRepresentationOriginal*> droppedSet(dropped.begin(), dropped.end());
        QHash<const PMMovieRepresentationOriginal*, qsizetype> earlierPosition;
        const bool samePositions = earlier && earlier->m_movies == movies && earlier->m_count == movies->count();
        if (earlier && !samePositions) {
            earlierPosition.reserve(earlier->count());
            for (qsizetype i = 0; i < earlier->count(); ++i)
                if (earlier->m_records[size_t(i)])
                    earlierPosition.insert(earlier->m_records[size_t(i)], i);
        }

        auto made = std::make_shared<LibrarySearchIndex>();
        made->m_movies = movies;
        made->m_count = movies->count();
        made->m_epoch = epoch;
        const size_t count = size_t(made->m_count);
        made->m_records.reserve(count);
        made->m_nameEnds.reserve(count);
        made->m_metadataEnds.reserve(count);
        made->m_tagLists.reserve(count);
        if (earlier) {
            made->m_names.reserve(earlier->m_names.size());
            made->m_metadata.reserve(earlier->m_metadata.size());
        }
        std::string tagText;
        for (qsizetype index = 0; index < movies->count(); ++index) {
            PMMovieRepresentationPrototype* movie = PMMovie(movies->at(index));
            PMMovieRepresentationOriginal* record = movie ? &movie->original() : nullptr;
            made->m_records.push_back(record);
            const qsizetype was = !record || !earlier || droppedSet.contains(record) ? -1
                                  : samePositions ? (earlier->m_records[size_t(index)] == record ? index : -1)
                                                  : earlierPosition.value(record, -1);
            if (was >= 0) {
                made->copyEntry(*earlier, was);
                continue;
            }
            if (movie) {
                const std::shared_ptr<const PMMovieSearchText> text = movie->searchText();
                // The name with its separator, the metadata part (ending in one), and each tag
                // name between separators, each in a buffer of its own.
                const QStringView whole(text->text);
                appendAsBytes(made->m_names, whole.first(text->nameEnd + 1));
                appendAsBytes(made->m_metadata, whole.sliced(text->nameEnd + 1, text->metadataEnd - text->nameEnd - 1));
                tagText.clear();
                if (!text->tagNames.isEmpty()) {
                    const QChar separator(PMSearchTextSeparator);
                    appendAsBytes(tagText, QStringView(&separator, 1));
                    for (const QString& name : text->tagNames) {
                        if (name.contains(separator))
                            made->m_oddTagNames.insert(index, text->tagNames);
                        appendAsBytes(tagText, name);
                        appendAsBytes(tagText, QStringView(&separator, 1));
                    }
                }
                made->m_tagLists.push_back(made->tagList(tagText));
            } else {
                made->m_tagLists.push_back(made->tagList({}));
            }
            made->m_nameEnds.push_back(made->m_names.size());
            made->m_metadataEnds.push_back(made->m_metadata.size());
        }
        made->m_tagListIDs = {};
        made->m_copiedLists = {};
        made->m_nameFrequencies = sampledByteFrequencies(made->m_names);
        made->m_metadataFrequencies = sampledByteFrequencies(made->m_metadata);
        made->m_tagFrequencies = sampledByteFrequencies(made->m_tagText);
        std::lock_guard lock(mutex);
        current = made;
        return made;
    }

    qsizetype count() const { return m_count; }
    // The record of a movie of the list; nothing for other items.
    PMMovieRepresentationOriginal* record(qsizetype index) const { return m_records[size_t(index)]; }

    // Marks (sets marks[k * count() + i] to 1) the movies i whose name (with the flag) or metadata
    // (with the flag: tag values, application, tag names whole) hold the folded term of
    // alternative k. Each buffer is read once for all the terms.
    void markMatches(const std::vector<const PreparedAlternative*>& alternatives, bool searchName, bool searchMetadata,
                     unsigned char* marks) const
    {
        auto scan = [&](const std::string& buffer, const std::vector<size_t>& ends, const ByteFrequencies& frequencies) {
            std::vector<NeedleScan> scans;
            scans.reserve(alternatives.size());
            for (size_t k = 0; k < alternatives.size(); ++k) {
                scans.push_back({byteNeedle(alternatives[k]->term.folded, frequencies),
                                 EntryMarker{ends.data(), marks + k * size_t(m_count)}});
            }
            markAll(buffer, scans);
        };
        if (searchName)
            scan(m_names, m_nameEnds, m_nameFrequencies);
        if (!searchMetadata)
            return;
        scan(m_metadata, m_metadataEnds, m_metadataFrequencies);
        // Tag names are tested once for each list of them, then the movies with the lists
        // that hold the term are marked.
        const size_t lists = m_tagEnds.size();
        std::vector<unsigned char> listMarks(lists * alternatives.size());
        std::vector<NeedleScan> scans;
        for (size_t k = 0; k < alternatives.size(); ++k)
            scans.push_back({byteNeedle(alternatives[k]->delimitedTerm, m_tagFrequencies), EntryMarker{m_tagEnds.data(), listMarks.data() + k * lists}});
        markAll(m_tagText, scans);
        for (size_t k = 0; k < alternatives.size(); ++k) {
            const unsigned char* marked = listMarks.data() + k * lists;
            unsigned char* into = marks + k * size_t(m_count);
            for (size_t i = 0; i < m_tagLists.size(); ++i)
                into[i] |= marked[m_tagLists[i]];
        }
        for (auto it = m_oddTagNames.begin(); it != m_oddTagNames.end(); ++it)
            for (size_t k = 0; k < alternatives.size(); ++k)
                if (it.value().contains(alternatives[k]->term.folded))
                    marks[k * size_t(m_count) + size_t(it.key())] = 1;
    }

private:
    // Appends the texts of entry `at` of the other index as the last entry's.
    void copyEntry(const LibrarySearchIndex& other, qsizetype at)
    {
        auto part = [&](std::string& into, const std::string& from, const std::vector<size_t>& otherEnds, std::vector<size_t>& ends) {
            const size_t start = at > 0 ? otherEnds[size_t(at - 1)] : 0;
            into.append(from, start, otherEnds[size_t(at)] - start);
            ends.push_back(into.size());
        };
        part(m_names, other.m_names, other.m_nameEnds, m_nameEnds);
        part(m_metadata, other.m_metadata, other.m_metadataEnds, m_metadataEnds);
        // The other index's lists keep their new numbers for the movies after.
        const std::uint32_t list = other.m_tagLists[size_t(at)];
        m_copiedLists.resize(other.m_tagEnds.size(), kUnknown);
        if (m_copiedLists[list] == kUnknown) {
            const size_t start = list > 0 ? other.m_tagEnds[list - 1] : 0;
            m_copiedLists[list] = tagList(std::string_view(other.m_tagText).substr(start, other.m_tagEnds[list] - start));
        }
        m_tagLists.push_back(m_copiedLists[list]);
        if (const auto odd = other.m_oddTagNames.constFind(at); odd != other.m_oddTagNames.constEnd())
            m_oddTagNames.insert(qsizetype(m_records.size() - 1), *odd);
    }

    static constexpr std::uint32_t kUnknown = ~std::uint32_t(0);
    // The number of a list of tag names (as bytes, between separators), added when new.
    std::uint32_t tagList(std::string_view text)
    {
        const auto [it, added] = m_tagListIDs.try_emplace(std::string(text), std::uint32_t(m_tagEnds.size()));
        if (added) {
            m_tagText += text;
            m_tagEnds.push_back(m_tagText.size());
        }
        return it->second;
    }

    ArrayPtr m_movies;
    qsizetype m_count = 0;
    std::uint64_t m_epoch = 0;
    // The names (each with its separator) and metadata parts as bytes, and where each
    // entry's part ends in them.
    std::string m_names, m_metadata;
    std::vector<size_t> m_nameEnds, m_metadataEnds;
    // The different lists of tag names (each name between separators) as bytes, where each
    // list ends, and each entry's list (the empty one for movies without tags and for other
    // items). Most movies share a few lists.
    std::string m_tagText;
    std::vector<size_t> m_tagEnds;
    std::vector<std::uint32_t> m_tagLists;
    // While the index is made: the number of each list, and the new numbers of the lists
    // of the index it takes texts from.
    std::unordered_map<std::string, std::uint32_t> m_tagListIDs;
    std::vector<std::uint32_t> m_copiedLists;
    ByteFrequencies m_nameFrequencies{}, m_metadataFrequencies{}, m_tagFrequencies{};
    QHash<qsizetype, QStringList> m_oddTagNames; // tag names that hold the separator
    std::vector<PMMovieRepresentationOriginal*> m_records;
};

// The visible part of a picture as fractions of its frame; the whole frame when unset.
QRectF visibleArea(PMMovieRepresentationPrototype& movie)
{
    const platform::DictionaryPtr area = movie.userSettings()->value(QStringLiteral("Visible Area")).dictionary();
    if (!area)
        return QRectF(0, 0, 1, 1);
    auto number = [&](const char* key, double fallback) {
        const Value v = area->value(QString::fromLatin1(key));
        return v.hasNumericValue() ? v.toDouble() : fallback;
    };
    return QRectF(number("x", 0), number("y", 0), number("w", 1), number("h", 1));
}

struct UnionFind {
    std::vector<size_t> parent;
    explicit UnionFind(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), size_t(0)); }
    size_t find(size_t i)
    {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    }
    void unite(size_t a, size_t b) { parent[find(a)] = find(b); }
};

bool areSimilar(PMMovieRepresentationPrototype& a, PMMovieRepresentationPrototype& b, bool ignoreAspectRatio)
{
    return PMPicturesLookAlike(a.assetSizeIfCached(false), visibleArea(a), b.assetSizeIfCached(false), visibleArea(b), ignoreAspectRatio);
}

// The key value of a candidate as text; empty when the candidate has none (no name, an
// unknown duration, a file of size 0, no hash, an empty tag), which keeps it out of every
// group: candidates that lack a value are not duplicates of each other.
QString duplicateKeyValue(PMMovieRepresentationPrototype& movie, long long criterion, const QString& key, long long resolution)
{
    switch (criterion) {
    case PMParsedQuery::DuplicateName: return movie.displayName();
    case PMParsedQuery::DuplicateLocation: return movie.URLString();
    case PMParsedQuery::DuplicateImageHash: return movie.imageHashWithResolution(resolution);
    case PMParsedQuery::DuplicateFileSize: {
        const std::uint64_t size = movie.movieFileSize();
        return size > 0 ? QString::number(size) : QString();
    }
    case PMParsedQuery::DuplicateDuration: {
        const long long duration = movie.duration();
        return duration >= 0 ? QString::number(duration) : QString();
    }
    case PMParsedQuery::DuplicateTag: return movie.cachedLowercaseValueForLowercaseTag(key);
    default: return {};
    }
}

QString duplicateSortCriterion(long long criterion, const QString& key, long long resolution)
{
    switch (criterion) {
    case PMParsedQuery::DuplicateName: return kGroupListName;
    case PMParsedQuery::DuplicateLocation: return QString::fromLatin1(kGroupListLocation);
    case PMParsedQuery::DuplicateImageHash: return PMImageHashSortCriterion(resolution);
    case PMParsedQuery::DuplicateFileSize: return QString::fromLatin1(kGroupListSize);
    case PMParsedQuery::DuplicateDuration: return QString::fromLatin1(kGroupListTime);
    case PMParsedQuery::DuplicateTag: return QString::fromLatin1(kAccessoryTagListNamePrefix) + key;
    default: return {};
    }
}

void addDuplicates(Array& results, const ArrayPtr& candidates, const ArrayPtr& pool, const PMParsedQuery& query, bool limitedToScope,
                   QString* getDuplicateSortCriterion)
{
    PMMainController& controller = mainController();
    QString sortCriterion;
    long long hashResolution = 0;
    std::vector<PMMovieRepresentationPrototype*> movies;
    for (const Value& v : *candidates)
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            movies.push_back(movie);
    std::vector<QString> comparison(movies.size());
    std::vector<bool> known(movies.size(), true);
    bool first = true;
    for (const QString& key : query.duplicateComponents) {
        const long long criterion = PMParsedQuery::criterionForDuplicateQueryComponent(key);
        const long long resolution = PMParsedQuery::imageHashResolutionForDuplicateQueryComponent(key);
        if (criterion == PMParsedQuery::DuplicateImageHash)
            hashResolution = resolution;
        if (query.duplicateComponents.size() == 1)
            sortCriterion = duplicateSortCriterion(criterion, key, resolution);
        for (size_t i = 0; i < movies.size(); ++i) {
            if (!known[i])
                continue;
            const QString value = duplicateKeyValue(*movies[i], criterion, key, resolution);
            if (value.isEmpty()) {
                known[i] = false;
                continue;
            }
            comparison[i] = first ? value : value + QStringLiteral("\n/\n") + comparison[i];
        }
        first = false;
    }

    // Groups in the order of their first member.
    QHash<QString, size_t> groupIndex;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < movies.size(); ++i) {
        if (!known[i])
            continue;
        auto it = groupIndex.find(comparison[i]);
        if (it == groupIndex.end()) {
            it = groupIndex.insert(comparison[i], groups.size());
            groups.emplace_back();
        }
        groups[*it].push_back(i);
    }

    QSet<const platform::Object*> inPool;
    if (!limitedToScope)
        for (const Value& v : *pool)
            inPool.insert(v.objectPointer());
    const bool ignoreAspectRatio = defaults().boolForKey(prefs::keys::DuplicateSearchImageHashIgnoreAspectRatio);
    std::vector<std::vector<size_t>> kept;
    for (const std::vector<size_t>& group : groups) {
        if (group.size() < 2)
            continue;
        if (!limitedToScope
            && std::none_of(group.begin(), group.end(), [&](size_t i) { return inPool.contains(static_cast<platform::Object*>(movies[i])); }))
            continue;
        if (hashResolution < 1) {
            kept.push_back(group);
            continue;
        }
        // Equal hashes: the members that look alike make up groups of their own, one per
        // set of members connected by likeness.
        for (const std::vector<size_t>& set : PMSimilarSets(group.size(), [&](size_t a, size_t b) {
                 return areSimilar(*movies[group[a]], *movies[group[b]], ignoreAspectRatio);
             })) {
            std::vector<size_t> members;
            for (size_t a : set)
                members.push_back(group[a]);
            kept.push_back(std::move(members));
        }
    }

    if (kept.size() == 1 && qsizetype(kept.front().size()) == controller.nonProxyFilteredMovieRepresentations()->count()
        && defaults().boolForKey(prefs::keys::DuplicateSearchIgnoreTrivialResults)) {
        PMLog("if everything is a duplicate, nothing is");
        return;
    }
    for (const std::vector<size_t>& group : kept) {
        auto ids = Array::make();
        for (size_t i : group)
            ids->append(movies[i]->uniqueLibraryID());
        for (size_t i : group) {
            PMMovieRepresentationProxyPtr proxy = movies[i]->original().searchResultProxy();
            auto* result = dynamic_cast<PMMovieRepresentationSearchResultProxy*>(proxy.get());
            if (!result)
                continue;
            result->setDuplicateIDs(ids);
            if (hashResolution >= 1)
                result->setDuplicateImageHash(movies[i]->imageHashWithResolution(hashResolution));
            results.append(Value(proxy));
        }
    }
    if (sortCriterion.isEmpty())
        return;
    if (getDuplicateSortCriterion)
        *getDuplicateSortCriterion = sortCriterion;
    else
        PMSortLibraryItemsInPlace(std::shared_ptr<Array>(std::shared_ptr<Array>(), &results), sortCriterion, false, nullptr);
}

} // namespace

bool PMPicturesLookAlike(const QSizeF& a, const QRectF& visibleAreaA, const QSizeF& b, const QRectF& visibleAreaB, bool ignoreAspectRatio)
{
    if (a.width() < 1 || a.height() < 1 || b.width() < 1 || b.height() < 1)
        return false;
    if (!ignoreAspectRatio && std::abs(a.width() / a.height() - b.width() / b.height()) > 0.01)
        return false;
    const QRectF& p = visibleAreaA;
    const QRectF& q = visibleAreaB;
    if (p == q || p.contains(q) || q.contains(p))
        return true;
    const QRectF overlap = p.intersected(q);
    const double smaller = std::min(p.width() * p.height(), q.width() * q.height());
    return overlap.width() * overlap.height() > smaller / 2;
}

std::vector<std::vector<size_t>> PMSimilarSets(size_t count, const std::function<bool(size_t, size_t)>& similar)
{
    UnionFind sets(count);
    for (size_t a = 0; a < count; ++a)
        for (size_t b = a + 1; b < count; ++b)
            if (similar(a, b))
                sets.unite(a, b);
    QHash<size_t, size_t> componentIndex;
    std::vector<std::vector<size_t>> components;
    for (size_t a = 0; a < count; ++a) {
        const size_t root = sets.find(a);
        auto it = componentIndex.find(root);
        if (it == componentIndex.end()) {
            it = componentIndex.insert(root, components.size());
            components.emplace_back();
        }
        components[*it].push_back(a);
    }
    std::erase_if(components, [](const std::vector<size_t>& c) { return c.size() < 2; });
    return components;
}

namespace {
// The epoch of the search texts when the last preparation began (main thread only); none
// before the first.
std::optional<std::uint64_t> gPreparedSearchTextEpoch;
} // namespace

QFuture<void> PMPrepareSearchIndexAgainIfStale()
{
    if (!gPreparedSearchTextEpoch || *gPreparedSearchTextEpoch == PMSearchTextEpoch())
        return QFuture<void>();
    return PMPrepareSearchIndexInBackground();
}

QFuture<void> PMPrepareSearchIndexInBackground()
{
    const ArrayPtr movies = mainController().nonProxyFilteredMovieRepresentations();
    if (!movies || movies->isEmpty())
        return QFuture<void>();
    gPreparedSearchTextEpoch = PMSearchTextEpoch();
    // A newer preparation (or the end of the program) makes an older one stop.
    static std::atomic<std::uint64_t> generation{0};
    const std::uint64_t mine = ++generation;
    // Not on the crawl queue: by now it may hold thousands of file reads. Each record keeps
    // what it makes under its own lock, and a text whose record changed meanwhile is not
    // kept (see `searchText`), so the main thread finds each either made or makes it itself.
    // One thread at the usual priority, not the idle background pool: a search typed
    // meanwhile waits for the index this job may be making, and must never wait for a
    // thread that a busy machine starves.
    return QtConcurrent::run(platform::carried([movies, mine] {
        const auto stopped = [mine] { return generation.load(std::memory_order_relaxed) != mine || QCoreApplication::closingDown(); };
        for (const Value& item : *movies) {
            if (stopped())
                return;
            if (PMMovieRepresentationPrototype* movie = PMMovie(item))
                (void)movie->searchText();
        }
        if (stopped())
            return;
        LibrarySearchIndex::forMovies(movies);
        // The first sort by name of a container other than the one shown (which sorts its own),
        // and the sort of the first search's results.
        for (const Value& item : *movies) {
            if (stopped())
                return;
            if (PMMovieRepresentationPrototype* movie = PMMovie(item))
                if (const QString name = movie->sortName(); !name.isEmpty())
                    (void)movie->sortNameCollationKey(name);
        }
    }));
}

namespace {

// Every movie of the library matched through the library's search index: the terms are
// ones that the movies' folded search texts answer alone.
void appendIndexMatches(Array& results, const ArrayPtr& allMovies, const std::vector<std::vector<PreparedAlternative>>& preparedTerms, bool searchName,
                        bool searchMetadata)
{
    const std::shared_ptr<const LibrarySearchIndex> index = LibrarySearchIndex::forMovies(allMovies);
    const size_t count = size_t(index->count());
    std::vector<const PreparedAlternative*> alternatives;
    for (const std::vector<PreparedAlternative>& collection : preparedTerms)
        for (const PreparedAlternative& alternative : collection)
            alternatives.push_back(&alternative);
    // The marks of each alternative, then whether each movie passes and whether it
    // satisfies the collection at hand; kept for the next search of the thread, so that
    // its memory is not asked for again at every keystroke.
    thread_local std::vector<unsigned char> scratch;
    scratch.assign(count * (alternatives.size() + 2), 0);
    unsigned char* marks = scratch.data();
    unsigned char* passes = marks + count * alternatives.size();
    unsigned char* satisfied = passes + count;
    index->markMatches(alternatives, searchName, searchMetadata, marks);
    std::fill(passes, passes + count, 1);
    size_t k = 0;
    for (const std::vector<PreparedAlternative>& collection : preparedTerms) {
        std::fill(satisfied, satisfied + count, 0);
        for (const PreparedAlternative& alternative : collection)
            combineMarks(satisfied, marks + count * k++, count, alternative.negate);
        keepMarked(passes, satisfied, count);
    }
    std::vector<PMMovieRepresentationOriginal*> found;
    for (size_t i = 0; i < count; ++i)
        if (passes[i])
            if (PMMovieRepresentationOriginal* record = index->record(qsizetype(i)))
                found.push_back(record);
    appendSearchResultProxies(results, found);
}

} // namespace

void addMatchesForParsedQuery(Array& results, const PMParsedQuery& query, PMLibraryContainer* inContainer, bool searchContainers, bool searchFiles,
                              bool searchName, bool searchMetadata, bool searchLocation, QString* getDuplicateSortCriterion)
{
    PMMainController& controller = mainController();
    const QStringList& filters = query.filterIdentifierComponents;
    const QStringList& selection = query.multipleSelectionIdentifierComponents;
    const auto& terms = query.regularComponentAlternativeCollections;
    const bool duplicateSearch = !query.duplicateComponents.isEmpty();
    const bool includeContainers = searchContainers && searchName && filters.isEmpty() && !duplicateSearch;

    const ArrayPtr allMovies = controller.nonProxyFilteredMovieRepresentations();
    ArrayPtr pool = allMovies;
    if (selection.isEmpty() && inContainer)
        pool = inContainer->allNonProxyChildrenFromFilteredChildren(true, includeContainers);
    else if (!selection.isEmpty() && (inContainer || (!duplicateSearch && terms.isEmpty())))
        pool = controller.nonProxyFilteredItemsForUniqueLibraryIDs(selection, includeContainers);
    // Searching the whole library by terms looks at its containers too.
    auto containers = Array::make();
    if (pool == allMovies && !terms.isEmpty() && includeContainers)
        for (const PMLibraryContainerPtr& container : controller.filteredContainers())
            containers->append(Value(container));
    const bool inScopeOnly = inContainer && defaults().boolForKey(prefs::keys::DuplicateSearchIgnoreOutOfScopeItems);

    if (filters.isEmpty() && terms.isEmpty()) {
        if (duplicateSearch) {
            const ArrayPtr candidates = searchFiles ? (inScopeOnly ? pool : allMovies) : Array::make();
            addDuplicates(results, candidates, pool, query, !inContainer || inScopeOnly, getDuplicateSortCriterion);
        } else if (!selection.isEmpty()) {
            for (const Value& item : *pool)
                addResult(results, item, searchFiles);
        }
        return;
    }

    const ArrayPtr candidates = duplicateSearch && !inScopeOnly ? allMovies : pool;
    const QSet<QString> filterSet(filters.begin(), filters.end());
    std::vector<std::vector<PreparedAlternative>> preparedTerms;
    for (const QList<PMParsedQueryAlternative>& alternatives : terms) {
        std::vector<PreparedAlternative>& prepared = preparedTerms.emplace_back();
        for (const PMParsedQueryAlternative& alternative : alternatives)
            prepared.push_back({PMSearchTerm(alternative.string), alternative.negate, QString()});
        for (PreparedAlternative& alternative : prepared)
            alternative.delimitedTerm = QChar(PMSearchTextSeparator) + alternative.term.folded + QChar(PMSearchTextSeparator);
    }
    auto duplicateCandidates = Array::make();
    const auto matchesTerms = [&](const Value& candidate, PMLibraryItem& item) {
        std::shared_ptr<const PMMovieSearchText> text;
        for (const std::vector<PreparedAlternative>& alternatives : preparedTerms) {
            const bool satisfied = std::any_of(alternatives.begin(), alternatives.end(), [&](const PreparedAlternative& alternative) {
                return isMatch(candidate, item, alternative.term, searchName, searchMetadata, searchLocation, text) != alternative.negate;
            });
            if (!satisfied)
                return false;
        }
        return true;
    };
    auto test = [&](const Value& candidate) {
        PMLibraryItem* item = PMItem(candidate);
        if (!item)
            return;
        if (item->isMovieRepresentation()) {
            if (!searchFiles || (!filters.isEmpty() && !item->isMatchForIdentifiers(filterSet)))
                return;
        } else if (!filters.isEmpty() && !filterSet.contains(item->uniqueLibraryID())) {
            return;
        }
        if (!matchesTerms(candidate, *item))
            return;
        if (duplicateSearch)
            duplicateCandidates->append(candidate);
        else
            addResult(results, candidate, searchFiles);
    };
    // Typing in the search field: terms that the movies' folded search texts answer alone.
    const bool foldedTextsAnswer = searchFiles && filters.isEmpty() && !duplicateSearch && !searchLocation
                                   && std::all_of(preparedTerms.begin(), preparedTerms.end(), [](const std::vector<PreparedAlternative>& alternatives) {
                                          return std::all_of(alternatives.begin(), alternatives.end(),
                                                             [](const PreparedAlternative& a) { return a.term.matchesFoldedText; });
                                      });
    // Every movie of the library: through the library's search index.
    const bool indexAnswers = foldedTextsAnswer && candidates == allMovies;
    if (indexAnswers) {
        appendIndexMatches(results, allMovies, preparedTerms, searchName, searchMetadata);
    } else if (foldedTextsAnswer && candidates->count() >= kParallelMatchFrom) {
        // Typing in the search field of a large container: the movies' search texts are
        // matched on every core (each record makes its text under its own lock, as the
        // preparation in the background does), and the results gathered here in order.
        // Anything else (a subgroup) is tested here.
        const std::vector<Value>& values = candidates->values();
        // A movie that passes is noted by its record; its stand-in is made on the workers too.
        enum : unsigned char { kNo, kYes, kTestHere };
        std::vector<unsigned char> verdicts(values.size(), kNo);
        std::vector<PMMovieRepresentationOriginal*> records(values.size(), nullptr);
        platform::concurrentApply((values.size() + kParallelMatchSlice - 1) / kParallelMatchSlice, [&](size_t slice) {
            const size_t start = slice * kParallelMatchSlice;
            const size_t stop = std::min(values.size(), start + kParallelMatchSlice);
            for (size_t i = start; i < stop; ++i)
                if (PMLibraryItem* item = PMItem(values[i])) {
                    if (!item->isMovieRepresentation()) {
                        verdicts[i] = kTestHere;
                    } else if (matchesTerms(values[i], *item)) {
                        verdicts[i] = kYes;
                        records[i] = &static_cast<PMMovieRepresentationPrototype*>(item)->original();
                    }
                }
        });
        // Results keep the order of the candidates: runs of passing movies between the
        // subgroups tested here.
        std::vector<PMMovieRepresentationOriginal*> run;
        for (size_t i = 0; i < values.size(); ++i) {
            if (verdicts[i] == kYes) {
                run.push_back(records[i]);
            } else if (verdicts[i] == kTestHere) {
                appendSearchResultProxies(results, run);
                run.clear();
                test(values[i]);
            }
        }
        appendSearchResultProxies(results, run);
    } else {
        for (const Value& candidate : *candidates)
            test(candidate);
    }
    for (const Value& candidate : *containers)
        test(candidate);
    if (duplicateSearch)
        addDuplicates(results, duplicateCandidates, pool, query, !inContainer || inScopeOnly, getDuplicateSortCriterion);
}

QString PMQueryByAppendingMultipleSelection(const QString& query, const ArrayPtr& selectedItems)
{
    QString result = query;
    if (!selectedItems)
        return result;
    for (const Value& v : *selectedItems) {
        PMLibraryItem* item = PMItem(v);
        if (!item)
            continue;
        const QString id = QString::fromLatin1(item->uniqueLibraryID().toUtf8().toPercentEncoding(QByteArray(), QByteArrayLiteral("-._~")));
        result = result.isEmpty() ? QStringLiteral("&=") + id : result + QStringLiteral(" &=") + id;
    }
    return result;
}
