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

#include <cmath>
#include <numeric>
#include <vector>

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

bool isMatch(const Value& value, PMLibraryItem& item, const PMSearchTerm& term, bool searchName, bool searchMetadata, bool searchLocation)
{
    if (item.isMovieRepresentation())
        return static_cast<PMMovieRepresentationPrototype&>(item).isMatchForSearchTerm(term, searchName, searchMetadata, searchLocation);
    PMLibraryContainer* container = PMContainer(value);
    return container && container->displayName().contains(term.string, Qt::CaseInsensitive) && !container->allNonProxyMovieChildren()->isEmpty();
}

// An alternative of a term collection, folded once for the whole search.
struct PreparedAlternative {
    PMSearchTerm term;
    bool negate;
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
            prepared.push_back({PMSearchTerm(alternative.string), alternative.negate});
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
        for (const std::vector<PreparedAlternative>& alternatives : preparedTerms) {
            const bool satisfied = std::any_of(alternatives.begin(), alternatives.end(), [&](const PreparedAlternative& alternative) {
                return isMatch(candidate, *item, alternative.term, searchName, searchMetadata, searchLocation) != alternative.negate;
            });
            if (!satisfied)
                return;
        }
        if (duplicateSearch)
            duplicateCandidates->append(candidate);
        else
            addResult(results, candidate, searchFiles);
    };
    for (const Value& candidate : *candidates)
        test(candidate);
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
