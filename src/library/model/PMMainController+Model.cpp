// The library model's share of the main controller: lookup by unique ID, tree
// navigation and the last-watched list.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "library/model/PMImportTagNames.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QUrl>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

constexpr qsizetype kNotFound = -1;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

} // namespace

PMMainController::PMMainController()
{
    installSeriesServices();
    installChooseService();
    installImageServices();
    PMInstallImportTagNamesService();
}

PMMainController& PMMainController::mainController()
{
    // Never destroyed: other singletons and queued work may still reach it at exit.
    static PMMainController* controller = new PMMainController;
    return *controller;
}

QHash<QString, Value> PMMainController::availableMovieRepresentationsByOriginalURLString()
{
    if (_availableMovieRepresentationsByOriginalURLString)
        return *_availableMovieRepresentationsByOriginalURLString;
    QHash<QString, Value> table;
    if (const PMLibraryContainerPtr downloads = storageWithName(QStringLiteral("Downloads"), nullptr, false))
        for (const Value& v : *downloads->rawChildren())
            if (PMLibraryItem* item = PMItem(v))
                table.insert(item->URLString(), item->nonProxySelf());
    for (const PMMovieRepresentationOriginalPtr& movie : std::as_const(_nonProxyRawMovieRepresentationsByPath)) {
        if (!movie || !movie->canPlay())
            continue;
        const Value original = movie->userSettings()->value(QStringLiteral("Original URL"));
        if (original.isString())
            table.insert(original.string(), Value(movie));
    }
    _availableMovieRepresentationsByOriginalURLString = table;
    return table;
}

void PMMainController::resetForTesting()
{
    cancelSmartGroupPopulation();
    // The answers of a search still running are dropped when they come.
    ++_fileSearchGeneration;
    _pendingFileSearches.clear();
    _pendingExistenceTests.clear();
    _defersExistenceTests = false;
    _launchDefersExistenceTests = false;
    _isSearchingMissingFiles = false;
    _foundFilesToApply = false;
    _missingFilesToShow = false;
    _availableMovieRepresentationsByOriginalURLString.reset();
    _library = Array::make();
    _containersByID.clear();
    _nonProxyRawMovieRepresentationsByPath.clear();
    _nonProxyRawMovieRepresentationsByID.clear();
    _nonProxyRawMovieRepresentationSeriesByIDPrefix.clear();
    _nonProxyFilteredMovieRepresentationsByID.clear();
    _nonProxyFilteredMovieRepresentations = Array::make();
    _currentOrMonitoredMovieRepresentationAncestors = nullptr;
    _currentMovieRepresentation = Value();
    _externalViewerMovieRepresentation = Value();
    _isMonitoringExternalViewer = false;
    _cachedInfoMovieRepresentations = nullptr;
    // A start-up whose window was never painted leaves no activation work waiting.
    _awaitsFirstPaint = false;
    _activationWorkAfterFirstPaint = false;
    // Test trees are made of records whose files do not exist; a test that wants the
    // files tested asks for it (updateLibraryAfterDelay with a forced test).
    _skipMissingStatusUpdate = true;
    _selectedLibraryItems = Array::make();
    _libraryListAccess = nullptr;
    _groupListAccess = nullptr;
    _numberOfSelectedLibraryContainers = 0;
    _numberOfSelectedLibraryFiles = 0;
    _selectionFreezeLevel = 0;
    _frozenSelections = FrozenSelections();
    _selectedContainerHeap.clear();
    _selectedContainerHistory.clear();
    _groupItemsParentOrSearchReferenceContainer = nullptr;
    // The shown container's direction, as the grid last applied it: nothing is shown.
    _groupListSortsDescending = false;
    _tagTypes.clear();
    _importTagNames.clear();
    PMPublishImportTagNames(_importTagNames);
    _infoMovieRepresentations = nullptr;
    _infoTags = nullptr;
    // A new library: the library folder's last answer speaks of the old one.
    _libraryFolderDryRun = LibraryFolderDryRunAnswer();
    _libraryFolderWalk.reset();
    _libraryFolderDryRunRunning = 0;
    ++_libraryFolderGeneration;
    forgetPreviousRebuild();
}

// ---------------------------------------------------------------------------
// Lookup

Value PMMainController::itemWithUniqueLibraryID(const QString& uniqueLibraryID) const
{
    if (PMLibraryContainerPtr container = _containersByID.value(uniqueLibraryID))
        return Value(container);
    if (PMMovieRepresentationOriginalPtr movie = _nonProxyRawMovieRepresentationsByID.value(uniqueLibraryID))
        return Value(movie);
    return {};
}

Value PMMainController::movieRepresentationWithUniqueLibraryID(const QString& uniqueLibraryID, const QString& inContainerWithUniqueLibraryID)
{
    if (uniqueLibraryID.isEmpty())
        return {};
    if (!inContainerWithUniqueLibraryID.isEmpty()) {
        if (PMLibraryContainerPtr container = _containersByID.value(inContainerWithUniqueLibraryID)) {
            const Value child = container->childWithUniqueLibraryID(uniqueLibraryID);
            if (PMMovie(child))
                return child;
        }
    }
    if (PMMovieRepresentationOriginalPtr movie = _nonProxyFilteredMovieRepresentationsByID.value(uniqueLibraryID))
        return Value(movie);
    return {};
}

QList<PMLibraryContainerPtr> PMMainController::filteredContainers() const
{
    // Every container may be selected until the library list has its own rule.
    return _containersByID.values();
}

ArrayPtr PMMainController::nonProxyFilteredItemsForUniqueLibraryIDs(const QStringList& uniqueLibraryIDs, bool includeContainers)
{
    const bool intersection = canIntersectSearch()
        && defaults().stringForKey(prefs::keys::ImplicitMultipleSelectionSearch) == QLatin1String("Intersection");
    ArrayPtr result;
    // Membership of the result by identity, so that neither kind of combination costs a
    // scan of the result per item.
    QSet<const platform::Object*> inResult;
    auto rebuildMembership = [&] {
        inResult.clear();
        for (const Value& v : *result)
            inResult.insert(v.objectPointer());
    };
    for (const QString& id : uniqueLibraryIDs) {
        if (PMLibraryContainerPtr container = _containersByID.value(id)) {
            ArrayPtr contribution;
            if (container->value(QStringLiteral("Flattened Non-Others")).toBool()) {
                contribution = Array::make();
                for (const Value& child : *container->filteredChildren()) {
                    PMLibraryItem* item = PMItem(child);
                    if (!item || (item->isContainer() && !includeContainers))
                        continue;
                    contribution->append(item->nonProxySelf());
                }
            } else {
                contribution = container->allNonProxyChildrenFromFilteredChildren(true, includeContainers);
            }
            if (!result) {
                result = std::make_shared<Array>(contribution->values());
                rebuildMembership();
            } else if (intersection) {
                QSet<const platform::Object*> members;
                for (const Value& v : *contribution)
                    members.insert(v.objectPointer());
                auto kept = Array::make();
                for (const Value& v : *result)
                    if (members.contains(v.objectPointer()))
                        kept->append(v);
                result = kept;
                rebuildMembership();
            } else {
                for (const Value& v : *contribution) {
                    if (!inResult.contains(v.objectPointer())) {
                        result->append(v);
                        inResult.insert(v.objectPointer());
                    }
                }
            }
        } else if (PMMovieRepresentationOriginalPtr movie = _nonProxyFilteredMovieRepresentationsByID.value(id)) {
            if (!result) {
                result = Array::make({Value(movie)});
                rebuildMembership();
            } else if (intersection) {
                if (!inResult.contains(movie.get())) {
                    result = Array::make();
                    inResult.clear();
                }
            } else if (!inResult.contains(movie.get())) {
                result->append(Value(movie));
                inResult.insert(movie.get());
            }
        } else {
            PMLog("unknown multiple selection identifier: %@", id);
        }
    }
    return result ? result : Array::make();
}

// ---------------------------------------------------------------------------
// Ancestors

bool PMMainController::collectAncestors(Array& ancestors, const Value& ofLibraryItem, const ArrayPtr& fromSiblings, bool checkSearchResults,
                                        qsizetype* getIndex)
{
    if (!ofLibraryItem.isObject() || !fromSiblings)
        return false;
    const platform::Object* target = ofLibraryItem.objectPointer();
    qsizetype position = 0;
    for (const Value& sibling : *fromSiblings) {
        if (sibling.isObject() && sibling.objectPointer() == target) {
            if (getIndex)
                *getIndex = position;
            return true;
        }
        if (PMLibraryContainer* container = PMContainer(sibling)) {
            bool found = false;
            if (checkSearchResults)
                found = collectAncestors(ancestors, ofLibraryItem, container->cachedSortedChildrenForCurrentQuery(), true, getIndex);
            if (!found) {
                // Members still held as records have no proxies yet, so nothing but a record
                // can be one of them: the walk need not make the proxies of every group.
                PMMovieRepresentationPrototype* movie = PMMovie(ofLibraryItem);
                const bool record = movie && !movie->isProxy();
                const ArrayPtr children = container->membersAwaitProxies() && !record ? container->storedChildren() : container->rawChildren();
                found = collectAncestors(ancestors, ofLibraryItem, children, checkSearchResults, getIndex);
            }
            if (found) {
                ancestors.append(sibling);
                return true;
            }
        }
        ++position;
    }
    return false;
}

Value PMMainController::searchAncestorsFastPath(const Value& item, qsizetype* getIndex)
{
    const Value subject = _currentMovieRepresentation.isNull() ? _externalViewerMovieRepresentation : _currentMovieRepresentation;
    if (!PMIsSameItem(item, subject) || !_currentOrMonitoredMovieRepresentationAncestors || _currentOrMonitoredMovieRepresentationAncestors->isEmpty())
        return {};
    PMLibraryContainer* parent = PMContainer(_currentOrMonitoredMovieRepresentationAncestors->at(0));
    if (!parent)
        return {};
    const ArrayPtr results = parent->cachedSortedChildrenForCurrentQuery();
    if (!results)
        return {};
    const qsizetype position = results->indexOfIdentical(item.objectPointer());
    if (position < 0)
        return {};
    if (getIndex)
        *getIndex = position;
    return Value(std::make_shared<Array>(_currentOrMonitoredMovieRepresentationAncestors->values()));
}

ArrayPtr PMMainController::ancestorsOfLibraryItem(const Value& item, const ArrayPtr& fromSiblings, qsizetype* getIndex)
{
    if (fromSiblings == _library) {
        const Value fast = searchAncestorsFastPath(item, getIndex);
        if (fast.isArray())
            return fast.array();
    }
    PMLibraryItem* libraryItem = PMItem(item);
    bool checkSearchResults = false;
    if (PMMovieRepresentationPrototype* movie = PMMovie(item))
        checkSearchResults = movie->isSearchResultProxy() || movie->isOnlineItem();
    else if (libraryItem)
        checkSearchResults = libraryItem->isOnlineItem();
    auto ancestors = Array::make();
    if (collectAncestors(*ancestors, item, fromSiblings, checkSearchResults, getIndex))
        return ancestors;
    return nullptr;
}

ArrayPtr PMMainController::ancestorsOfLibraryItem(const Value& item, qsizetype* getIndex)
{
    PMLibraryContainer* container = PMContainer(item);
    if (container) {
        // Climb by "Parent ID": one lookup per level instead of a search of the tree.
        auto ancestors = Array::make();
        qsizetype index = kNotFound;
        bool first = true;
        PMLibraryContainer* current = container;
        Value currentValue = item;
        for (int depth = 0; depth < 10000; ++depth) {
            const Value parentID = current->value(QStringLiteral("Parent ID"));
            if (!parentID.isString()) {
                if (_library->indexOfIdentical(currentValue.objectPointer()) >= 0) {
                    if (first && getIndex)
                        *getIndex = _library->indexOfIdentical(currentValue.objectPointer());
                    else if (getIndex)
                        *getIndex = index;
                    return ancestors;
                }
                break;
            }
            PMLibraryContainerPtr parent = _containersByID.value(parentID.string());
            if (!parent)
                break;
            const qsizetype position = parent->storedChildren()->indexOfIdentical(currentValue.objectPointer());
            if (position < 0)
                break;
            if (first) {
                index = position;
                first = false;
            }
            ancestors->append(Value(parent));
            current = parent.get();
            currentValue = Value(parent);
        }
    }
    return ancestorsOfLibraryItem(item, _library, getIndex);
}

PMLibraryContainerPtr PMMainController::topLevelAncestorOfItem(const Value& item)
{
    if (PMLibraryContainer* container = PMContainer(item); container && !container->topLevelRole().isEmpty())
        return PMContainerPtr(item);
    const ArrayPtr ancestors = ancestorsOfLibraryItem(item);
    if (!ancestors || ancestors->isEmpty())
        return nullptr;
    return PMContainerPtr(ancestors->at(ancestors->count() - 1));
}

PMLibraryContainerPtr PMMainController::nonVolatileAncestorOfLibraryItem(const Value& item, ArrayPtr* getAncestors)
{
    const ArrayPtr ancestors = ancestorsOfLibraryItem(item);
    if (getAncestors)
        *getAncestors = ancestors;
    if (!ancestors)
        return nullptr;
    for (const Value& a : *ancestors) {
        PMLibraryContainer* container = PMContainer(a);
        if (!container || container->isSmartGroupSubdivision())
            continue;
        if (!container->isExternalMediaItem() || !container->topLevelRole().isEmpty() || container->contains(QStringLiteral("Library Section")))
            return PMContainerPtr(a);
    }
    return nullptr;
}

PMLibraryContainerPtr PMMainController::parentOfLibraryItem(const Value& item, qsizetype* getIndex)
{
    const ArrayPtr ancestors = ancestorsOfLibraryItem(item, getIndex);
    if (!ancestors || ancestors->isEmpty())
        return nullptr;
    return PMContainerPtr(ancestors->at(0));
}

// ---------------------------------------------------------------------------
// Siblings

ArrayPtr PMMainController::siblingsOfLibraryItem(const Value& item, const ArrayPtr& fromSiblings, qsizetype* getIndex, qsizetype* getSortedIndex,
                                                 ArrayPtr* getAncestors)
{
    qsizetype rawIndex = kNotFound;
    const ArrayPtr ancestors = fromSiblings == _library ? ancestorsOfLibraryItem(item, &rawIndex) : ancestorsOfLibraryItem(item, fromSiblings, &rawIndex);
    if (getAncestors)
        *getAncestors = ancestors;
    if (!ancestors)
        return nullptr;
    if (ancestors->isEmpty()) {
        if (getIndex)
            *getIndex = rawIndex;
        if (getSortedIndex)
            *getSortedIndex = rawIndex;
        return _library;
    }
    PMLibraryContainer* parent = PMContainer(ancestors->at(0));
    qsizetype sortedIndex = parent->sortedChildren()->indexOfIdentical(item.objectPointer());
    if (sortedIndex < 0) {
        if (const ArrayPtr results = parent->cachedSortedChildrenForCurrentQuery()) {
            const qsizetype inResults = results->indexOfIdentical(item.objectPointer());
            if (inResults >= 0) {
                if (getIndex)
                    *getIndex = rawIndex;
                if (getSortedIndex)
                    *getSortedIndex = inResults;
                return results;
            }
        }
    }
    if (getIndex)
        *getIndex = rawIndex;
    if (getSortedIndex)
        *getSortedIndex = sortedIndex;
    return parent->rawChildren();
}

ArrayPtr PMMainController::siblingsOfLibraryItem(const Value& item, qsizetype* getIndex)
{
    return siblingsOfLibraryItem(item, _library, getIndex, nullptr, nullptr);
}

ArrayPtr PMMainController::sortedSiblingsOfLibraryItem(const Value& item, qsizetype* getSortedIndex, ArrayPtr* getAncestors)
{
    ArrayPtr ancestors;
    const ArrayPtr siblings = siblingsOfLibraryItem(item, _library, nullptr, getSortedIndex, &ancestors);
    if (getAncestors)
        *getAncestors = ancestors;
    if (siblings && ancestors && !ancestors->isEmpty()) {
        PMLibraryContainer* parent = PMContainer(ancestors->at(0));
        if (siblings == parent->rawChildren())
            return parent->sortedChildren();
    }
    return siblings;
}

Value PMMainController::siblingOfLibraryItem(const Value& item, const ArrayPtr& fromSiblings, qsizetype index, qsizetype indexDelta, bool loop,
                                             const Value& stopAt, bool mustBePlayable)
{
    if (!fromSiblings || fromSiblings->isEmpty())
        return {};
    if (index < 0 || index >= fromSiblings->count()) {
        index = item.isObject() ? fromSiblings->indexOfIdentical(item.objectPointer()) : kNotFound;
        if (index < 0)
            return {};
    }
    if (indexDelta == 0)
        return {};
    const qsizetype count = fromSiblings->count();
    bool wrapped = false;
    // Each element is visited at most twice (once before and once after the wrap).
    for (qsizetype steps = 0; steps <= 2 * count + 2; ++steps) {
        index += indexDelta;
        if (index < 0) {
            if (!loop || wrapped)
                return {};
            wrapped = true;
            index = count - 1;
        } else if (index >= count) {
            if (!loop || wrapped)
                return {};
            wrapped = true;
            index = 0;
        }
        const Value& candidate = fromSiblings->at(index);
        if (PMIsSameItem(candidate, stopAt))
            return {};
        if (PMContainer(candidate)) {
            if (!mustBePlayable)
                return candidate;
            continue;
        }
        if (PMMovieRepresentationPrototype* movie = PMMovie(candidate); movie && movie->canPlay())
            return candidate;
    }
    return {};
}

Value PMMainController::playableChildOfGroup(PMLibraryContainer& group, bool enumerateInReverse, bool useFanOutProxies,
                                             const Value& excludeMovieRepresentationOriginal)
{
    const ArrayPtr children = group.sortedChildren();
    const qsizetype n = children->count();
    for (qsizetype k = 0; k < n; ++k) {
        const Value& child = children->at(enumerateInReverse ? n - 1 - k : k);
        if (PMMovieRepresentationPrototype* movie = PMMovie(child)) {
            if (!useFanOutProxies && movie->isFanOutProxy())
                continue;
            if (!movie->canPlay())
                continue;
            if (!excludeMovieRepresentationOriginal.isNull() && PMIsSameItem(movie->nonProxySelf(), excludeMovieRepresentationOriginal))
                continue;
            return child;
        }
        if (PMLibraryContainer* container = PMContainer(child)) {
            if (useFanOutProxies)
                continue;
            const Value found = playableChildOfGroup(*container, enumerateInReverse, false, excludeMovieRepresentationOriginal);
            if (!found.isNull())
                return found;
        }
    }
    return {};
}

Value PMMainController::playableSiblingOfMovieRepresentation(const Value& movie, qsizetype withSortedIndexDelta, ArrayPtr* getAncestors)
{
    qsizetype sortedIndex = kNotFound;
    ArrayPtr ancestors;
    const ArrayPtr siblings = sortedSiblingsOfLibraryItem(movie, &sortedIndex, &ancestors);
    if (getAncestors)
        *getAncestors = ancestors;
    if (!siblings)
        return {};
    const Value modeValue = defaults().objectForKey(prefs::keys::ContinueMode);
    const long long mode = modeValue.isNull() ? defaults().integerForKey(prefs::keys::LoopGroupMovies) : modeValue.toLongLong();
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (mode < 2 || (record && record->isSearchResultProxy()))
        return siblingOfLibraryItem(movie, siblings, sortedIndex, withSortedIndexDelta, mode >= 1, movie, true);
    if (!ancestors || ancestors->isEmpty())
        return {};

    // The descent rule.
    PMLibraryContainer* parent = PMContainer(ancestors->at(0));
    bool stayFlat;
    bool enterContainersAtFirstLevel;
    if (parent->isSmartGroup() && parent->value(QStringLiteral("Flattened")).toBool()) {
        stayFlat = true;
        enterContainersAtFirstLevel = false;
    } else {
        stayFlat = defaults().boolForKey(prefs::keys::ContinueAlwaysStayFlat);
        PMLibraryContainer* highestSmartGroup = nullptr;
        for (const Value& a : *ancestors)
            if (PMLibraryContainer* c = PMContainer(a); c && c->isSmartGroup())
                highestSmartGroup = c;
        enterContainersAtFirstLevel = !(highestSmartGroup && highestSmartGroup->value(QStringLiteral("Flattened")).toBool());
    }
    const Value excluded = record ? record->nonProxySelf() : Value();
    Value current = movie;
    for (qsizetype level = 0; level < ancestors->count(); ++level) {
        PMLibraryContainer* a = PMContainer(ancestors->at(level));
        const bool lastLevel = !a->topLevelRole().isEmpty() || (mode == 2 && !a->isSmartGroupSubdivision()) || level + 1 == ancestors->count();
        const ArrayPtr children = a->sortedChildren();
        const qsizetype start = children->indexOfIdentical(current.objectPointer());
        const bool enter = level > 0 || enterContainersAtFirstLevel;
        if (start >= 0 && withSortedIndexDelta != 0) {
            const qsizetype n = children->count();
            qsizetype index = start;
            bool wrapped = false;
            for (qsizetype steps = 0; steps <= 2 * n + 2; ++steps) {
                index += withSortedIndexDelta;
                if (index < 0 || index >= n) {
                    if (!lastLevel || wrapped)
                        break;
                    wrapped = true;
                    index = index < 0 ? n - 1 : 0;
                }
                if (index == start)
                    break;
                const Value& candidate = children->at(index);
                if (PMMovieRepresentationPrototype* m = PMMovie(candidate)) {
                    if (!m->canPlay())
                        continue;
                    if (level > 0 && m->isFanOutProxy())
                        continue;
                    if (getAncestors)
                        *getAncestors = ancestorsOfLibraryItem(candidate);
                    return candidate;
                }
                if (PMLibraryContainer* c = PMContainer(candidate); c && enter) {
                    const bool fanOut = stayFlat && c->isSmartGroup() && c->value(QStringLiteral("Flattened")).toBool();
                    const Value found = playableChildOfGroup(*c, withSortedIndexDelta < 0, fanOut, excluded);
                    if (!found.isNull()) {
                        if (getAncestors)
                            *getAncestors = ancestorsOfLibraryItem(found);
                        return found;
                    }
                }
            }
        }
        if (lastLevel)
            return {};
        current = ancestors->at(level);
    }
    return {};
}

ArrayPtr PMMainController::nonSmartPlaylistSiblingsOfLibraryItemWithURL(const QString& URL, const ArrayPtr& fromSiblings, Value* getMovieRepresentation,
                                                                        qsizetype* getIndex, qsizetype* getSortedIndex, PMLibraryContainerPtr* getParent)
{
    if (!fromSiblings)
        return nullptr;
    const QString key = PMMovieLocationKey(QUrl(URL));
    qsizetype position = 0;
    for (const Value& sibling : *fromSiblings) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(sibling)) {
            if (PMMovieLocationKey(movie->URL()) == key) {
                if (getMovieRepresentation)
                    *getMovieRepresentation = sibling;
                if (getIndex)
                    *getIndex = position;
                if (getSortedIndex)
                    *getSortedIndex = position;
                return fromSiblings;
            }
        } else if (PMLibraryContainer* container = PMContainer(sibling); container && !container->isSmartGroup()) {
            Value found;
            qsizetype index = kNotFound;
            qsizetype sorted = kNotFound;
            PMLibraryContainerPtr parent;
            const ArrayPtr raw = container->rawChildren();
            const ArrayPtr result = nonSmartPlaylistSiblingsOfLibraryItemWithURL(URL, raw, &found, &index, &sorted, &parent);
            if (result) {
                if (result == raw) {
                    parent = PMContainerPtr(sibling);
                    sorted = container->sortedChildren()->indexOfIdentical(found.objectPointer());
                }
                if (getMovieRepresentation)
                    *getMovieRepresentation = found;
                if (getIndex)
                    *getIndex = index;
                if (getSortedIndex)
                    *getSortedIndex = sorted;
                if (getParent)
                    *getParent = parent;
                return result;
            }
        }
        ++position;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Last watched

std::uint64_t PMMainController::maximumNumberOfLastWatchedMovieRepresentations() const
{
    const Value v = defaults().objectForKey(prefs::keys::LastWatchedCount);
    return v.isNumber() ? std::uint64_t(std::max<long long>(0, v.toLongLong())) : 10;
}

void PMMainController::addLastWatchedMovieRepresentation(const Value& movie, const PMLibraryContainerPtr& withParent)
{
    PMLibraryItem* item = PMItem(movie);
    if (!item)
        return;
    const QString id = item->uniqueLibraryID();
    if (id.isEmpty())
        return;
    auto entry = platform::Dictionary::make({{QStringLiteral("Movie"), id}});
    if (withParent) {
        const QString parentID = withParent->uniqueLibraryID();
        if (!parentID.isEmpty())
            entry->setValue(QStringLiteral("Parent"), parentID);
    }
    auto list = Array::make({Value(entry)});
    if (const ArrayPtr old = defaults().arrayForKey(prefs::keys::LastWatched))
        for (const Value& v : *old)
            if (const platform::DictionaryPtr d = v.dictionary(); d && d->value(QStringLiteral("Movie")).string() != id)
                list->append(v);
    const qsizetype maximum = qsizetype(std::min<std::uint64_t>(maximumNumberOfLastWatchedMovieRepresentations(), 1u << 20));
    while (list->count() > maximum)
        list->removeAt(list->count() - 1);
    defaults().setObject(Value(list), prefs::keys::LastWatched);
}

ArrayPtr PMMainController::lastWatchedMovieRepresentations()
{
    auto result = Array::make();
    if (const ArrayPtr entries = defaults().arrayForKey(prefs::keys::LastWatched)) {
        for (const Value& v : *entries) {
            const platform::DictionaryPtr entry = v.dictionary();
            if (!entry)
                continue;
            const Value movie = movieRepresentationWithUniqueLibraryID(entry->value(QStringLiteral("Movie")).string(), entry->value(QStringLiteral("Parent")).string());
            if (!movie.isNull())
                result->append(movie);
        }
    }
    const qsizetype maximum = qsizetype(std::min<std::uint64_t>(maximumNumberOfLastWatchedMovieRepresentations(), 1u << 20));
    while (result->count() > maximum)
        result->removeAt(result->count() - 1);
    return result;
}

void PMMainController::clearLastWatchedMovieRepresentations(QObject*)
{
    defaults().setObject(Value(Array::make()), prefs::keys::LastWatched);
}
