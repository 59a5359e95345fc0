// The smart-group engine, post-processing: the bucket tree shaped as the user sees it.
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

// The bypass of needless levels: the container of buckets that only pass their movies on
// holds what they hold. Answers whether its children changed.
bool bypassNeedlessLevels(const PMLibraryContainer& container, const ArrayPtr& raw, long long bypassLevel)
{
    if (container.isIntermediate() || bypassLevel > 0 || raw->isEmpty()
        || !std::all_of(raw->begin(), raw->end(), [](const Value& v) { return PMContainer(v) != nullptr; }))
        return false;
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
        return true;
    }
    return false;
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
    if (bypassNeedlessLevels(container, raw, bypassLevel))
        changed = true;

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
