#include "library/model/PMSearch.h"

#include "foundation/PMLog.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/UserDefaults.h"

#include <QtCore/QHash>
#include <QtCore/QRectF>
#include <QtCore/QSet>

#include <bit>
#include <cmath>
#include <mutex>
#include <string_view>
#include <numeric>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

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

// An alternative of a term collection, folded once for the whole search.
struct PreparedAlternative {
    PMSearchTerm term;
    bool negate;
    QString delimitedTerm; // the folded term between separators, for tag names
};

// Calls `found` with the start of every place where `needle` occurs in `haystack`, in
// order; `found` answers where to go on looking (at least one past the place).
// Receives the places where a needle occurs and answers where to go on looking.
struct OccurrenceSink {
    virtual size_t found(size_t at) = 0;

protected:
    ~OccurrenceSink() = default;
};

bool equalUnits(const char16_t* a, const char16_t* b, size_t count)
{
    for (size_t k = 0; k < count; ++k)
        if (a[k] != b[k])
            return false;
    return true;
}

// The places of a block of `width` starting at `i` whose first and last units agree with
// the needle's (two bits per place in `mask`): each is compared whole and reported. Answers
// where the next block starts.
size_t reportCandidates(unsigned mask, size_t i, size_t width, const char16_t* h, const char16_t* n, size_t ns, OccurrenceSink& sink)
{
    while (mask) {
        const size_t at = i + size_t(std::countr_zero(mask)) / 2;
        mask &= mask - 1;
        mask &= mask - 1; // both bytes of the unit
        if (!equalUnits(h + at, n, ns))
            continue;
        const size_t resume = sink.found(at);
        if (resume >= i + width)
            return resume;
        // Drop the places before `resume` within this block.
        const unsigned keep = unsigned(resume - i) * 2;
        mask &= keep >= 32 ? 0u : ~((1u << keep) - 1u);
    }
    return i + width;
}

#if defined(__GNUC__) && defined(__x86_64__)
#define PM_HAS_AVX2_SCAN 1
// Sixteen places at a time, on processors that can; stops where fewer than sixteen places
// are left and answers where.
__attribute__((target("avx2"))) size_t scanSixteenAtATime(const char16_t* h, size_t hs, const char16_t* n, size_t ns, OccurrenceSink& sink)
{
    size_t i = 0;
    const __m256i first = _mm256_set1_epi16(short(n[0]));
    const __m256i last = _mm256_set1_epi16(short(n[ns - 1]));
    while (i + ns - 1 + 16 <= hs) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + ns - 1));
        const unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi16(a, first), _mm256_cmpeq_epi16(b, last))));
        i = mask ? reportCandidates(mask, i, 16, h, n, ns, sink) : i + 16;
    }
    return i;
}

bool canScanSixteenAtATime()
{
    static const bool can = __builtin_cpu_supports("avx2");
    return can;
}
#endif

// Calls `found` with the start of every place where `needle` occurs in `haystack`, in
// order; `found` answers where to go on looking (at least one past the place).
template <typename Found>
void forEachOccurrence(QStringView haystack, QStringView needle, Found&& found)
{
    const char16_t* h = haystack.utf16();
    const char16_t* n = needle.utf16();
    const size_t hs = size_t(haystack.size()), ns = size_t(needle.size());
    if (ns == 0 || ns > hs)
        return;
    struct Sink final : OccurrenceSink {
        Found& f;
        explicit Sink(Found& f) : f(f) {}
        size_t found(size_t at) override { return f(at); }
    } sink(found);
    size_t i = 0;
#ifdef PM_HAS_AVX2_SCAN
    if (canScanSixteenAtATime())
        i = scanSixteenAtATime(h, hs, n, ns, sink);
#endif
#ifdef __SSE2__
    // Eight places at a time: those whose first and last units agree are compared whole.
    const __m128i first = _mm_set1_epi16(short(n[0]));
    const __m128i last = _mm_set1_epi16(short(n[ns - 1]));
    while (i + ns - 1 + 8 <= hs) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + ns - 1));
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, last))));
        i = mask ? reportCandidates(mask, i, 8, h, n, ns, sink) : i + 8;
    }
#endif
    while (i + ns <= hs) {
        if (h[i] == n[0] && equalUnits(h + i, n, ns))
            i = found(i);
        else
            ++i;
    }
}

// The search texts of all movies of the library side by side in one buffer, so that typing
// in the search field scans them without visiting each record. Made again when the movies
// of the library change (a new list after each rebuild) or any record drops its text.
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
                if (earlier->m_entries[size_t(i)].record)
                    earlierPosition.insert(earlier->m_entries[size_t(i)].record, i);
        }

        auto made = std::make_shared<LibrarySearchIndex>();
        made->m_movies = movies;
        made->m_count = movies->count();
        made->m_epoch = epoch;
        made->m_entries.reserve(size_t(made->m_count));
        if (earlier) {
            made->m_names.reserve(earlier->m_names.size());
            made->m_metadata.reserve(earlier->m_metadata.size());
            made->m_tagText.reserve(earlier->m_tagText.size());
        }
        for (qsizetype index = 0; index < movies->count(); ++index) {
            Entry& entry = made->m_entries.emplace_back();
            entry.nameEnd = made->m_names.size();
            entry.metadataEnd = made->m_metadata.size();
            entry.tagsEnd = made->m_tagText.size();
            PMMovieRepresentationPrototype* movie = PMMovie(movies->at(index));
            if (!movie)
                continue;
            entry.record = &movie->original();
            entry.isMovie = true;
            const qsizetype was = !earlier || droppedSet.contains(entry.record) ? -1
                                  : samePositions                             ? (earlier->m_entries[size_t(index)].record == entry.record ? index : -1)
                                                                              : earlierPosition.value(entry.record, -1);
            if (was >= 0) {
                made->copyEntry(*earlier, was);
                continue;
            }
            const std::shared_ptr<const PMMovieSearchText> text = movie->searchText();
            // The name with its separator, the metadata part (ending in one), and each tag
            // name between separators, each in a buffer of its own.
            const QStringView whole(text->text);
            made->m_names += whole.first(text->nameEnd + 1);
            made->m_metadata += whole.sliced(text->nameEnd + 1, text->metadataEnd - text->nameEnd - 1);
            entry.nameEnd = made->m_names.size();
            entry.metadataEnd = made->m_metadata.size();
            if (!text->tagNames.isEmpty()) {
                made->m_tagText += QChar(PMSearchTextSeparator);
                for (const QString& name : text->tagNames) {
                    if (name.contains(QChar(PMSearchTextSeparator)))
                        made->m_oddTagNames.insert(index, text->tagNames);
                    made->m_tagText += name;
                    made->m_tagText += QChar(PMSearchTextSeparator);
                }
            }
            entry.tagsEnd = made->m_tagText.size();
        }
        std::lock_guard lock(mutex);
        current = made;
        return made;
    }

    qsizetype count() const { return qsizetype(m_entries.size()); }
    bool isMovie(qsizetype index) const { return m_entries[size_t(index)].isMovie; }

    // Marks (sets to 1) the movies whose name (with the flag) or metadata (with the flag:
    // tag values, application, tag names whole) hold the folded term.
    void markMatches(const PMSearchTerm& term, const QString& delimitedTerm, bool searchName, bool searchMetadata, std::vector<char>& marks) const
    {
        if (searchName)
            markIn(m_names, term.folded, &Entry::nameEnd, marks);
        if (!searchMetadata)
            return;
        markIn(m_metadata, term.folded, &Entry::metadataEnd, marks);
        markIn(m_tagText, delimitedTerm, &Entry::tagsEnd, marks);
        for (auto it = m_oddTagNames.begin(); it != m_oddTagNames.end(); ++it)
            if (it.value().contains(term.folded))
                marks[size_t(it.key())] = 1;
    }

private:
    // Where the entry's parts end in the three buffers (they start where the entry before
    // ends), and whose they are.
    struct Entry {
        qsizetype nameEnd = 0, metadataEnd = 0, tagsEnd = 0;
        const PMMovieRepresentationOriginal* record = nullptr;
        bool isMovie = false;
    };
    // Appends the texts of entry `at` of the other index as the last entry's.
    void copyEntry(const LibrarySearchIndex& other, qsizetype at)
    {
        auto part = [&](const QString& from, qsizetype Entry::*end) {
            const qsizetype start = at > 0 ? other.m_entries[size_t(at - 1)].*end : 0;
            return QStringView(from).sliced(start, other.m_entries[size_t(at)].*end - start);
        };
        Entry& entry = m_entries.back();
        m_names += part(other.m_names, &Entry::nameEnd);
        m_metadata += part(other.m_metadata, &Entry::metadataEnd);
        m_tagText += part(other.m_tagText, &Entry::tagsEnd);
        entry.nameEnd = m_names.size();
        entry.metadataEnd = m_metadata.size();
        entry.tagsEnd = m_tagText.size();
        if (const auto odd = other.m_oddTagNames.constFind(at); odd != other.m_oddTagNames.constEnd())
            m_oddTagNames.insert(qsizetype(m_entries.size() - 1), *odd);
    }
    // Marks every entry whose part of the buffer holds the needle; the rest of a marked
    // entry's part is skipped.
    void markIn(const QString& buffer, const QString& needle, qsizetype Entry::*end, std::vector<char>& marks) const
    {
        size_t e = 0;
        forEachOccurrence(buffer, needle, [&](size_t at) -> size_t {
            while (m_entries[e].*end <= qsizetype(at))
                ++e;
            marks[e] = 1;
            return size_t(m_entries[e].*end);
        });
    }

    ArrayPtr m_movies;
    qsizetype m_count = 0;
    std::uint64_t m_epoch = 0;
    QString m_names, m_metadata, m_tagText;
    QHash<qsizetype, QStringList> m_oddTagNames; // tag names that hold the separator
    std::vector<Entry> m_entries;
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
    const bool ignoreAspectRatio = defaults().boolForKey(QStringLiteral("Duplicate Search: Image Hash: Ignore Aspect Ratio"));
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
        && defaults().boolForKey(QStringLiteral("Duplicate Search: Ignore Trivial Results"))) {
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
    const bool inScopeOnly = inContainer && defaults().boolForKey(QStringLiteral("Duplicate Search: Ignore Out-Of-Scope Items"));

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
        std::shared_ptr<const PMMovieSearchText> text;
        for (const std::vector<PreparedAlternative>& alternatives : preparedTerms) {
            const bool satisfied = std::any_of(alternatives.begin(), alternatives.end(), [&](const PreparedAlternative& alternative) {
                return isMatch(candidate, *item, alternative.term, searchName, searchMetadata, searchLocation, text) != alternative.negate;
            });
            if (!satisfied)
                return;
        }
        if (duplicateSearch)
            duplicateCandidates->append(candidate);
        else
            addResult(results, candidate, searchFiles);
    };
    // Typing in the search field: every movie of the library against terms that folded texts
    // answer, through the library's search index.
    const bool indexAnswers = candidates == allMovies && searchFiles && filters.isEmpty() && !duplicateSearch && !searchLocation
                              && std::all_of(preparedTerms.begin(), preparedTerms.end(), [](const std::vector<PreparedAlternative>& alternatives) {
                                     return std::all_of(alternatives.begin(), alternatives.end(),
                                                        [](const PreparedAlternative& a) { return a.term.matchesFoldedText; });
                                 });
    if (indexAnswers) {
        const std::shared_ptr<const LibrarySearchIndex> index = LibrarySearchIndex::forMovies(allMovies);
        const size_t count = size_t(index->count());
        std::vector<char> passes(count, 1), satisfied(count), marks(count);
        for (const std::vector<PreparedAlternative>& alternatives : preparedTerms) {
            std::fill(satisfied.begin(), satisfied.end(), 0);
            for (const PreparedAlternative& alternative : alternatives) {
                std::fill(marks.begin(), marks.end(), 0);
                index->markMatches(alternative.term, alternative.delimitedTerm, searchName, searchMetadata, marks);
                for (size_t i = 0; i < count; ++i)
                    satisfied[i] |= char(bool(marks[i]) != alternative.negate);
            }
            for (size_t i = 0; i < count; ++i)
                passes[i] &= satisfied[i];
        }
        for (size_t i = 0; i < count; ++i)
            if (passes[i] && index->isMovie(qsizetype(i)))
                addResult(results, allMovies->at(qsizetype(i)), true);
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
