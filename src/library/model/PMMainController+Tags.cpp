// The main controller's share of the tag model: the tag types of the whole library, the
// tag names imported from files, and the values offered for completion and for the
// menus of tag-value switches.
#include "library/model/PMMainController.h"

#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerMatching.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMLog.h"
#include "foundation/PMRange.h"
#include "library/model/PMImportTagNames.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/ConcurrentApply.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>

using platform::Array;
using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QStringList csvSetting(const QString& key)
{
    QStringList result;
    for (const QString& field : cachedCSVFields(defaults().stringForKey(key)))
        if (!field.trimmed().isEmpty())
            result << field.trimmed();
    return result;
}

bool containsIgnoringCase(const QStringList& list, const QString& string)
{
    return list.contains(string, Qt::CaseInsensitive);
}

void sortByName(QStringList& values)
{
    std::stable_sort(values.begin(), values.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
}

} // namespace

bool PMContainsNonNumericCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return !c.isDigit() && !c.isPunct(); });
}

namespace {

struct TagSlots {
    std::mutex mutex;
    QHash<QString, qsizetype> tags;
    QHash<std::pair<qsizetype, QString>, qsizetype> values;
};

TagSlots& tagSlots()
{
    static TagSlots slots;
    return slots;
}

// The table keeps texts of its own: one that lies over the caller's memory would change
// with it.
QString ownedText(const QString& text)
{
    QString owned = text;
    owned.detach();
    return owned;
}

qsizetype tagSlotLocked(TagSlots& slots, const QString& lowercaseTag)
{
    const auto found = slots.tags.constFind(lowercaseTag);
    return found != slots.tags.constEnd() ? *found : *slots.tags.insert(ownedText(lowercaseTag), slots.tags.size());
}

qsizetype valueSlotLocked(TagSlots& slots, qsizetype tagSlot, const QString& lowercaseValue)
{
    const auto found = slots.values.constFind(std::pair<qsizetype, QString>(tagSlot, lowercaseValue));
    return found != slots.values.constEnd() ? *found : *slots.values.insert({tagSlot, ownedText(lowercaseValue)}, slots.values.size());
}

} // namespace

qsizetype PMTagTypeSlot(const QString& lowercaseTag)
{
    TagSlots& slots = tagSlots();
    std::lock_guard lock(slots.mutex);
    return tagSlotLocked(slots, lowercaseTag);
}

qsizetype PMTagValueSlot(qsizetype tagSlot, const QString& lowercaseValue)
{
    TagSlots& slots = tagSlots();
    std::lock_guard lock(slots.mutex);
    return valueSlotLocked(slots, tagSlot, lowercaseValue);
}

namespace {

// The numbers given last on this thread, by the storage of the text they were given for.
// Movies share the storage of repeated tag names and values (their lists come from the
// CSV cache), so most texts are answered here without the lock and without hashing the
// text. An entry holds its text, so no other text can come to use that storage.
struct RecentSlots {
    struct Entry {
        QString text;
        qsizetype tagSlot = -1; // -1 for a tag name
        qsizetype slot = -1;
    };
    static constexpr size_t kSize = 256;
    Entry entries[kSize];

    Entry& entryFor(const QString& text, qsizetype tagSlot)
    {
        const auto address = reinterpret_cast<quintptr>(text.constData());
        return entries[((address >> 4) ^ (address >> 12) ^ size_t(tagSlot)) & (kSize - 1)];
    }
    static bool holds(const Entry& e, const QString& text, qsizetype tagSlot)
    {
        return e.slot >= 0 && e.tagSlot == tagSlot && e.text.constData() == text.constData() && e.text.size() == text.size();
    }
    // Texts whose storage is their own (counted, so held by an entry): not literals nor
    // texts over someone else's memory, which another text could later stand at.
    static bool remembers(const QString& text) { return const_cast<QString&>(text).data_ptr().d_ptr() != nullptr; }
};

thread_local RecentSlots tRecentSlots;

} // namespace

qsizetype PMTagSlots(const QString& lowercaseTag, const QStringList& lowercaseValues, std::vector<qsizetype>& valueSlots)
{
    RecentSlots& recent = tRecentSlots;
    RecentSlots::Entry& tagEntry = recent.entryFor(lowercaseTag, -1);
    const bool tagKnown = RecentSlots::holds(tagEntry, lowercaseTag, -1);
    bool valuesKnown = tagKnown;
    for (qsizetype k = 0; valuesKnown && k < lowercaseValues.size(); ++k)
        valuesKnown = RecentSlots::holds(recent.entryFor(lowercaseValues.at(k), tagEntry.slot), lowercaseValues.at(k), tagEntry.slot);
    if (valuesKnown) {
        for (const QString& value : lowercaseValues)
            valueSlots.push_back(recent.entryFor(value, tagEntry.slot).slot);
        return tagEntry.slot;
    }
    TagSlots& slots = tagSlots();
    std::lock_guard lock(slots.mutex);
    const qsizetype tagSlot = tagSlotLocked(slots, lowercaseTag);
    if (RecentSlots::remembers(lowercaseTag))
        tagEntry = {lowercaseTag, -1, tagSlot};
    for (const QString& value : lowercaseValues) {
        const qsizetype slot = valueSlotLocked(slots, tagSlot, value);
        valueSlots.push_back(slot);
        if (RecentSlots::remembers(value))
            recent.entryFor(value, tagSlot) = {value, tagSlot, slot};
    }
    return tagSlot;
}

QStringList PMImportableMetadataTagNames()
{
    return {QStringLiteral("Album"), QStringLiteral("Artist"), QStringLiteral("Cast"), QStringLiteral("Codirectors"),
            QStringLiteral("Composer"), QStringLiteral("Directors"), QStringLiteral("Episode Identifier"), QStringLiteral("Episode"),
            QStringLiteral("Genre"), QStringLiteral("Producers"), QStringLiteral("Screenwriters"), QStringLiteral("Season"),
            QStringLiteral("Series"), QStringLiteral("Source"), QStringLiteral("Studio"), QStringLiteral("Tempo"), QStringLiteral("Year")};
}

QStringList PMImportMetadataTagNames()
{
    const Value stored = defaults().objectForKey(prefs::keys::ImportMetadataNames);
    if (const ArrayPtr names = stored.array()) {
        QStringList result;
        for (const Value& v : *names)
            if (v.isString())
                result << v.string();
        return result;
    }
    return {QStringLiteral("Album"), QStringLiteral("Artist"), QStringLiteral("Cast"), QStringLiteral("Composer"), QStringLiteral("Directors"),
            QStringLiteral("Episode"), QStringLiteral("Genre"), QStringLiteral("Notes"), QStringLiteral("Screenwriters"),
            QStringLiteral("Season"), QStringLiteral("Series"), QStringLiteral("Source"), QStringLiteral("Studio"), QStringLiteral("Tags"),
            QStringLiteral("Tempo"), QStringLiteral("Year")};
}

QSet<QString> PMMainController::updateImportTagNames(bool update)
{
    if (!update)
        return _importTagNames;
    const QStringList pseudoTags = {QStringLiteral("Notes"), QStringLiteral("Tags")};
    const QStringList importable = PMImportableMetadataTagNames();
    QSet<QString> names;
    // Persistent tags are named as the user sees them (localized); the imported list in English.
    QStringList persistent;
    if (const DictionaryPtr tags = defaults().dictionaryForKey(prefs::keys::PersistentTags))
        persistent = tags->keys();
    for (const QString& candidate : persistent) {
        for (const QString& pseudo : pseudoTags)
            if (candidate.compare(pseudo, Qt::CaseInsensitive) == 0)
                names.insert(pseudo);
        for (const QString& name : importable)
            if (candidate.compare(QCoreApplication::translate("PMTagType", name.toUtf8().constData()), Qt::CaseInsensitive) == 0)
                names.insert(name);
    }
    for (const QString& candidate : PMImportMetadataTagNames()) {
        for (const QString& name : pseudoTags + importable)
            if (candidate.compare(name, Qt::CaseInsensitive) == 0)
                names.insert(name);
    }
    _importTagNames = names;
    PMPublishImportTagNames(_importTagNames);
    return _importTagNames;
}

namespace {
// The import tag names as the records see them: the sort engine and the metadata reads ask
// from worker threads while the main thread may rebuild the set, so they read a copy that
// is replaced whole under the lock. Every record asks (twice when its tags are merged):
// each thread keeps a copy of its own, made again only when the names change, so that
// the workers making many records' tags at once do not queue on the lock nor share the
// counts of the same texts.
struct ImportTagNamesSnapshot {
    std::mutex mutex;
    QStringList names;
    std::atomic<std::uint64_t> generation{1};
};

ImportTagNamesSnapshot& importTagNamesSnapshot()
{
    static ImportTagNamesSnapshot snapshot;
    return snapshot;
}
} // namespace

void PMPublishImportTagNames(const QSet<QString>& set)
{
    QStringList names(set.cbegin(), set.cend());
    names.sort();
    ImportTagNamesSnapshot& snapshot = importTagNamesSnapshot();
    std::lock_guard lock(snapshot.mutex);
    if (snapshot.names == names)
        return;
    snapshot.names = std::move(names);
    snapshot.generation.fetch_add(1, std::memory_order_release);
}

void PMInstallImportTagNamesService()
{
    PMMovieRepresentationServices::shared().importTagNames = [] {
        thread_local std::uint64_t seen = 0;
        thread_local QStringList names;
        ImportTagNamesSnapshot& snapshot = importTagNamesSnapshot();
        if (snapshot.generation.load(std::memory_order_acquire) != seen) {
            std::lock_guard lock(snapshot.mutex);
            names.clear();
            for (const QString& name : std::as_const(snapshot.names))
                names << QString(name.constData(), name.size()); // texts of this thread's own
            seen = snapshot.generation.load(std::memory_order_relaxed);
        }
        return names;
    };
}

namespace {

// A movie that was not in the last rebuild.
constexpr size_t kNone = size_t(-1);

} // namespace

// One rebuild of the tag types: which movies changed tags, the sources in the order
// visited, where each was in the last rebuild, and their shares as numbers side by side.
struct PMMainController::TagTypesRebuild {
    bool changesKnown = false;
    QSet<const PMMovieRepresentationOriginal*> changedSet;
    std::vector<TagTypesSource> sources;
    std::vector<size_t> earlier; // where each movie was in the last rebuild
    std::vector<bool> renamed;   // a movie met again with another ID
    std::vector<std::shared_ptr<const PMTagTypeShare>> shares;
    std::vector<qsizetype> flat;
    std::vector<size_t> flatStart;
    std::vector<bool> dirty;
    bool reuseLists = false;
};

void PMMainController::invalidateTagTypes()
{
    updateImportTagNames(true);
    if (tagTypesAreCurrent())
        return;
    const std::uint64_t epoch = PMCachedTagsEpoch();
    // What each movie adds is taken from the last rebuild unless its tags changed since
    // (all are read again when too many changed to be remembered).
    std::vector<const PMMovieRepresentationOriginal*> changed;
    TagTypesRebuild rebuild;
    rebuild.changesKnown = PMTakeRecordsWithDroppedTags(changed) && _tagTypeShares.size() == _tagTypesSources.size();
    rebuild.changedSet = QSet<const PMMovieRepresentationOriginal*>(changed.begin(), changed.end());
    matchTagTypesSources(rebuild);
    makeTagTypeShares(rebuild);
    findReusableTagValueLists(rebuild);
    const QHash<QString, PMTagType> lastBuilt = rebuild.reuseLists ? _builtTagTypes : QHash<QString, PMTagType>();

    _tagTypesSources = std::move(rebuild.sources);
    _tagTypeShares = std::move(rebuild.shares);
    _tagTypeFlat = std::move(rebuild.flat);
    _tagTypeFlatStart = std::move(rebuild.flatStart);

    buildTagTypes(rebuild, lastBuilt);
    _tagTypesEpoch = epoch;
    _builtTagTypes = _tagTypes;
}

// The movies of the library in the order of the table, each with its place in the last rebuild.
void PMMainController::matchTagTypesSources(TagTypesRebuild& rebuild)
{
    const bool changesKnown = rebuild.changesKnown;
    std::vector<TagTypesSource>& sources = rebuild.sources;
    std::vector<size_t>& earlier = rebuild.earlier;
    std::vector<bool>& renamed = rebuild.renamed;
    bool sameMovies = size_t(_nonProxyRawMovieRepresentationsByID.size()) == _tagTypesSources.size();
    if (sameMovies) {
        size_t i = 0;
        for (auto it = _nonProxyRawMovieRepresentationsByID.cbegin(); sameMovies && it != _nonProxyRawMovieRepresentationsByID.cend(); ++it, ++i)
            sameMovies = _tagTypesSources[i].isSame(it.value(), it.key());
    }
    if (sameMovies) {
        sources = std::move(_tagTypesSources);
        earlier.resize(sources.size());
        std::iota(earlier.begin(), earlier.end(), size_t(0));
    } else {
        // A movie is looked for where the one before it was found, and the one after (one
        // movie less since); only when neither is it, in a table of them all, made then.
        // (A movie is in the table by ID once, so the two ways find the same place.)
        QHash<const PMMovieRepresentationOriginal*, size_t> position;
        bool positionMade = false;
        size_t next = 0;
        const auto placeOf = [&](const PMMovieRepresentationOriginal* movie) {
            for (size_t candidate = next; candidate < std::min(next + 2, _tagTypesSources.size()); ++candidate)
                if (_tagTypesSources[candidate].movie.get() == movie)
                    return candidate;
            if (!positionMade) {
                positionMade = true;
                position.reserve(qsizetype(_tagTypesSources.size()));
                for (size_t i = 0; i < _tagTypesSources.size(); ++i)
                    position.insert(_tagTypesSources[i].movie.get(), i);
            }
            return position.value(movie, kNone);
        };
        sources.reserve(size_t(_nonProxyRawMovieRepresentationsByID.size()));
        earlier.reserve(size_t(_nonProxyRawMovieRepresentationsByID.size()));
        // The movies come in the table's order, not in that of their memory: each one is
        // asked for a few steps before it is copied.
        constexpr int kPrefetchDistance = 8;
        auto ahead = _nonProxyRawMovieRepresentationsByID.cbegin();
        for (int k = 0; k < kPrefetchDistance && ahead != _nonProxyRawMovieRepresentationsByID.cend(); ++k)
            ++ahead;
        for (auto it = _nonProxyRawMovieRepresentationsByID.cbegin(); it != _nonProxyRawMovieRepresentationsByID.cend(); ++it) {
            if (ahead != _nonProxyRawMovieRepresentationsByID.cend()) {
                __builtin_prefetch(ahead.value().get());
                ++ahead;
            }
            const size_t was = changesKnown ? placeOf(it.value().get()) : kNone;
            if (was != kNone)
                next = was + 1;
            if (was != kNone && _tagTypesSources[was].isSame(it.value(), it.key())) {
                sources.push_back(std::move(_tagTypesSources[was])); // each movie is met once
            } else {
                if (was != kNone) {
                    renamed.resize(sources.size() + 1);
                    renamed[sources.size()] = true;
                }
                // The IDs of movies with tags are copied side by side (below): every value
                // list shares them, and counting their uses then touches one run of memory
                // rather than every movie's settings. A movie without tags keeps its own.
                sources.push_back({it.value(), it.key(), it.key()});
            }
            earlier.push_back(was);
        }
    }
}

// Each movie's share of the tag types (the last one where its tags did not change), and
// the shares as numbers side by side.
void PMMainController::makeTagTypeShares(TagTypesRebuild& rebuild)
{
    const bool changesKnown = rebuild.changesKnown;
    const QSet<const PMMovieRepresentationOriginal*>& changedSet = rebuild.changedSet;
    std::vector<TagTypesSource>& sources = rebuild.sources;
    const std::vector<size_t>& earlier = rebuild.earlier;
    std::vector<std::shared_ptr<const PMTagTypeShare>>& shares = rebuild.shares;
    shares.resize(sources.size());
    const auto keepsShare = [&](size_t i) { return changesKnown && earlier[i] != kNone && !changedSet.contains(sources[i].movie.get()); };
    // The shares not kept are made on the workers while this thread waits (a record makes
    // its share under its own lock, and nothing writes the settings meanwhile). Only those
    // whose making has no effect but the share: a record whose metadata was never read
    // starts its first read when asked on this thread, and with imported metadata off what
    // was imported is removed then; those are made below, on this thread.
    std::vector<size_t> toMake;
    if (defaults().boolForKey(prefs::keys::ImportMetadataInternal))
        for (size_t i = 0; i < sources.size(); ++i)
            if (sources[i].movie && !keepsShare(i))
                toMake.push_back(i);
    // A few are not worth waking the workers for.
    constexpr size_t kChunk = 512;
    if (toMake.size() >= kChunk)
        platform::concurrentApply((toMake.size() + kChunk - 1) / kChunk, [&](size_t chunk) {
            const size_t end = std::min(toMake.size(), (chunk + 1) * kChunk);
            for (size_t k = chunk * kChunk; k < end; ++k)
                if (PMMovieRepresentationOriginal* movie = sources[toMake[k]].movie.get(); movie->hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce())
                    shares[toMake[k]] = movie->cachedTagTypeShare();
        });
    std::vector<qsizetype>& flat = rebuild.flat;
    std::vector<size_t>& flatStart = rebuild.flatStart;
    flat.reserve(_tagTypeFlat.size());
    flatStart.reserve(sources.size() + 1);
    for (size_t i = 0; i < sources.size(); ++i) {
        flatStart.push_back(flat.size());
        if (i + 16 < sources.size() && sources[i + 16].movie && !shares[i + 16])
            sources[i + 16].movie->prefetchTagTypeShare();
        if (i + 8 < sources.size() && sources[i + 8].movie && !shares[i + 8])
            sources[i + 8].movie->prefetchTagTypeShareContents();
        const PMMovieRepresentationOriginalPtr& movie = sources[i].movie;
        const size_t was = earlier[i];
        if (keepsShare(i)) {
            shares[i] = std::move(_tagTypeShares[was]); // each movie is met once
            flat.insert(flat.end(), _tagTypeFlat.begin() + qsizetype(_tagTypeFlatStart[was]), _tagTypeFlat.begin() + qsizetype(_tagTypeFlatStart[was + 1]));
            continue;
        }
        if (!shares[i])
            shares[i] = movie ? movie->cachedTagTypeShare() : nullptr;
        if (!shares[i])
            continue;
        if (!shares[i]->tags.empty() && sources[i].uniqueID.constData() == sources[i].key.constData())
            sources[i].uniqueID = QString(sources[i].key.constData(), sources[i].key.size());
        for (const PMTagTypeShare::Tag& tag : shares[i]->tags) {
            flat.push_back(tag.keySlot);
            flat.push_back(tag.nonNumeric ? 1 : 0);
            flat.push_back(qsizetype(tag.valueSlots.size()));
            flat.insert(flat.end(), tag.valueSlots.begin(), tag.valueSlots.end());
        }
    }
    flatStart.push_back(flat.size());
}

void PMMainController::findReusableTagValueLists(TagTypesRebuild& rebuild) const
{
    const bool changesKnown = rebuild.changesKnown;
    const QSet<const PMMovieRepresentationOriginal*>& changedSet = rebuild.changedSet;
    const std::vector<TagTypesSource>& sources = rebuild.sources;
    const std::vector<size_t>& earlier = rebuild.earlier;
    const std::vector<bool>& renamed = rebuild.renamed;
    const std::vector<qsizetype>& flat = rebuild.flat;
    const std::vector<size_t>& flatStart = rebuild.flatStart;
    // A value's list of carriers is the one of the last rebuild when none of its carriers
    // then or now came, went, changed tags or ID, and the movies kept their order: those
    // lists are taken as they are. Values of the movies that did are "dirty".
    std::vector<bool>& dirty = rebuild.dirty;
    bool& reuseLists = rebuild.reuseLists;
    reuseLists = changesKnown && !_builtTagTypes.isEmpty();
    if (reuseLists) {
        // (The sources of the last rebuild may have been taken over already: their number
        // is read from the starts of their shares.)
        std::vector<bool> kept(_tagTypeFlatStart.empty() ? 0 : _tagTypeFlatStart.size() - 1);
        size_t last = 0;
        bool first = true;
        const auto markSlots = [&dirty](const std::vector<qsizetype>& table, size_t from, size_t to) {
            for (size_t at = from; at < to;) {
                const size_t count = size_t(table[at + 2]);
                for (size_t k = 0; k < count; ++k) {
                    const size_t slot = size_t(table[at + 3 + k]);
                    if (slot >= dirty.size())
                        dirty.resize(std::max(slot + 1, dirty.size() * 2));
                    dirty[slot] = true;
                }
                at += 3 + count;
            }
        };
        for (size_t i = 0; reuseLists && i < sources.size(); ++i) {
            const size_t was = earlier[i];
            const bool same = was != kNone && !(i < renamed.size() && renamed[i]) && !changedSet.contains(sources[i].movie.get());
            if (was != kNone) {
                if (!first && was <= last)
                    reuseLists = false; // the order changed
                first = false;
                last = was;
                kept[was] = same;
            }
            if (!same) {
                markSlots(flat, flatStart[i], flatStart[i + 1]);
                if (was != kNone)
                    markSlots(_tagTypeFlat, _tagTypeFlatStart[was], _tagTypeFlatStart[was + 1]);
            }
        }
        for (size_t j = 0; reuseLists && j < kept.size(); ++j)
            if (!kept[j])
                markSlots(_tagTypeFlat, _tagTypeFlatStart[j], _tagTypeFlatStart[j + 1]);
    }
}

// The table of tag types from the shares taken over (`_tagTypeFlat`), with the lists of
// carriers of the last one (`lastBuilt`) where they are still right.
void PMMainController::buildTagTypes(const TagTypesRebuild& rebuild, const QHash<QString, PMTagType>& lastBuilt)
{
    const bool reuseLists = rebuild.reuseLists;
    const std::vector<bool>& dirty = rebuild.dirty;
    _tagTypes.clear();
    // The tables are gathered by the numbers of tags and values, in the order of the
    // movies; the texts are read from a movie's share only where a tag or value is met first.
    struct TypeBuild {
        bool seen = false;
        PMTagType type;
        QString key;
    };
    struct ValueBuild {
        bool seen = false;
        bool reused = false;
        qsizetype keySlot = 0;
        QString lowercase;
        PMTagValue value;
    };
    std::vector<TypeBuild> types;
    std::vector<ValueBuild> values;
    std::vector<qsizetype> typeOrder, valueOrder;
    // How many movies carry each value, so that each list of carriers is made at its size
    // at once rather than grown one movie at a time.
    std::vector<qsizetype> carriers;
    for (size_t i = 0; i < _tagTypesSources.size(); ++i) {
        const qsizetype* p = _tagTypeFlat.data() + _tagTypeFlatStart[i];
        const qsizetype* end = _tagTypeFlat.data() + _tagTypeFlatStart[i + 1];
        while (p < end) {
            const size_t count = size_t(p[2]);
            for (const qsizetype* slot = p + 3; slot < p + 3 + count; ++slot) {
                if (size_t(*slot) >= carriers.size())
                    carriers.resize(std::max(size_t(*slot) + 1, carriers.size() * 2));
                ++carriers[size_t(*slot)];
            }
            p += 3 + count;
        }
    }
    for (size_t i = 0; i < _tagTypesSources.size(); ++i) {
        const QString& uniqueID = _tagTypesSources[i].uniqueID;
        const qsizetype* p = _tagTypeFlat.data() + _tagTypeFlatStart[i];
        const qsizetype* end = _tagTypeFlat.data() + _tagTypeFlatStart[i + 1];
        for (size_t t = 0; p < end; ++t) {
            const qsizetype keySlot = p[0];
            const bool nonNumeric = p[1] != 0;
            const size_t count = size_t(p[2]);
            const qsizetype* slots = p + 3;
            p += 3 + count;
            if (size_t(keySlot) >= types.size())
                types.resize(size_t(keySlot) + 1);
            TypeBuild& type = types[size_t(keySlot)];
            if (!type.seen) {
                const PMTagTypeShare::Tag& tag = _tagTypeShares[i]->tags[t];
                type.seen = true;
                type.key = tag.key;
                type.type.tag = tag.tag.isEmpty() ? tag.key : tag.tag;
                typeOrder.push_back(keySlot);
            }
            ++type.type.counter;
            for (size_t k = 0; k < count; ++k) {
                const qsizetype slot = slots[k];
                if (size_t(slot) >= values.size())
                    values.resize(std::max(size_t(slot) + 1, values.size() * 2));
                ValueBuild& value = values[size_t(slot)];
                if (!value.seen) {
                    const PMTagTypeShare::Tag& tag = _tagTypeShares[i]->tags[t];
                    value.seen = true;
                    value.keySlot = keySlot;
                    value.lowercase = tag.lowercaseValues.at(qsizetype(k));
                    value.value.value = tag.values.at(qsizetype(k));
                    if (reuseLists && !(size_t(slot) < dirty.size() && dirty[size_t(slot)])) {
                        const auto oldType = lastBuilt.constFind(types[size_t(keySlot)].key);
                        const auto oldValue = oldType != lastBuilt.constEnd() ? oldType->values.constFind(value.lowercase)
                                                                              : QHash<QString, PMTagValue>::const_iterator();
                        if (oldType != lastBuilt.constEnd() && oldValue != oldType->values.constEnd()) {
                            value.value.associatedIdentifiers = oldValue->associatedIdentifiers;
                            value.reused = true;
                        }
                    }
                    if (!value.reused)
                        value.value.associatedIdentifiers.reserve(carriers[size_t(slot)]);
                    valueOrder.push_back(slot);
                }
                if (!value.reused)
                    value.value.associatedIdentifiers << uniqueID;
            }
            if (nonNumeric)
                type.type.nonNumeric = true;
        }
    }
    _tagTypes.reserve(qsizetype(typeOrder.size()));
    for (qsizetype slot : typeOrder) {
        TypeBuild& type = types[size_t(slot)];
        _tagTypes.insert(type.key, std::move(type.type));
    }
    for (qsizetype slot : valueOrder) {
        ValueBuild& value = values[size_t(slot)];
        _tagTypes[types[size_t(value.keySlot)].key].values.insert(value.lowercase, std::move(value.value));
    }
}

bool PMMainController::tagTypesAreCurrent() const
{
    // Unchanged when no record's tags were dropped since, the same movies with the same
    // IDs come in the same order, and the table is still the one built then.
    if (_tagTypesEpoch != PMCachedTagsEpoch() || _tagTypes.size() != _builtTagTypes.size() || _tagTypes.constBegin() != _builtTagTypes.constBegin()
        || size_t(_nonProxyRawMovieRepresentationsByID.size()) != _tagTypesSources.size())
        return false;
    size_t i = 0;
    for (auto it = _nonProxyRawMovieRepresentationsByID.cbegin(); it != _nonProxyRawMovieRepresentationsByID.cend(); ++it, ++i)
        if (!_tagTypesSources[i].isSame(it.value(), it.key()))
            return false;
    return true;
}

QStringList PMMainController::tagNamesWithPrefix(const QString& prefix) const
{
    QStringList names;
    if (prefix.isEmpty()) {
        for (const PMTagType& type : _tagTypes)
            names << type.tag;
    } else if (!defaults().boolForKey(prefs::keys::DisableFuzzySearchNames)) {
        for (const PMTagType& type : _tagTypes)
            names << type.tag;
        return fuzzyMatchesForQuery(names, prefix);
    } else {
        const QString lowercasePrefix = prefix.toLower();
        for (auto it = _tagTypes.begin(); it != _tagTypes.end(); ++it)
            if (it.key().startsWith(lowercasePrefix))
                names << it->tag;
    }
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return PMCompareSortStrings(a, b) < 0; });
    return names;
}

bool PMMainController::isRelevantTag(const QString& lowercaseTag) const
{
    const auto found = _tagTypes.constFind(lowercaseTag);
    return found != _tagTypes.constEnd() && !found->values.isEmpty();
}

bool PMMainController::isNumericTag(const QString& lowercaseTag) const
{
    const auto found = _tagTypes.constFind(lowercaseTag);
    return found != _tagTypes.constEnd() && !found->nonNumeric;
}

namespace {

// A value of the tag offered for completion or a menu, with the quality of its fuzzy match.
struct TagValueCandidate {
    QString value;
    const PMTagValue* stored;
    std::uint64_t quality;
};

// 6-7. The values of the tag grouped for a menu of tag-value switches: those the movies
// carry, the pinned ones and the others, separated by empty strings when there are many.
QStringList groupedTagValues(const std::vector<TagValueCandidate>& candidates, const QHash<QString, ArrayPtr>& carriersByValue, const QString& tag,
                             bool nonNumeric, std::uint64_t separationThreshold)
{
    // 6. Carried, pinned and the others.
    const QStringList pinnedSetting = csvSetting(QStringLiteral("Toggle Tag Values Via Context Menu: Pinned Values"));
    const bool inverted = containsIgnoringCase(csvSetting(QStringLiteral("Toggle Tag Values Via Context Menu: Inverted Tags")), tag);
    QStringList carried, pinned, others;
    for (const TagValueCandidate& c : candidates) {
        if (carriersByValue.contains(c.value))
            carried << c.value;
        else if (containsIgnoringCase(pinnedSetting, c.value))
            pinned << c.value;
        else
            others << c.value;
    }
    auto order = [inverted](QStringList& list) {
        sortByName(list);
        if (inverted)
            std::reverse(list.begin(), list.end());
    };
    order(carried);
    order(pinned);
    order(others);

    // 7. Separation.
    const std::int64_t mode = defaults().integerForKey(prefs::keys::ToggleTagValuesViaContextMenuMatchSeparationMode);
    const bool separate = (mode >= 1 || (mode == 0 && nonNumeric))
        && std::uint64_t(carried.size() + others.size()) > separationThreshold;
    QStringList result;
    if (separate) {
        for (const QStringList* group : {&carried, &pinned, &others}) {
            if (group->isEmpty())
                continue;
            if (!result.isEmpty())
                result << QString();
            result << *group;
        }
    } else {
        QStringList merged = carried + others;
        order(merged);
        if (!pinned.isEmpty())
            result << pinned << QString();
        result << merged;
    }
    return result;
}

} // namespace

QStringList PMMainController::valuesForTag(const QString& tag, const QString& prefix, const ArrayPtr& movies, std::uint64_t separationThreshold,
                                           QHash<QString, ArrayPtr>* getAssociatedMovieRepresentations)
{
    const QString lowercaseTag = tag.toLower();
    const auto type = _tagTypes.constFind(lowercaseTag);
    if (type == _tagTypes.constEnd())
        return {};

    // 1-2. The candidates, filtered by the prefix.
    std::vector<TagValueCandidate> candidates;
    const bool autoAutoComplete = defaults().boolForKey(prefs::keys::AutoAutoComplete);
    const bool fuzzy = !prefix.isEmpty() && !autoAutoComplete && !defaults().boolForKey(prefs::keys::DisableFuzzySearchValues);
    const QString lowercasePrefix = prefix.toLower();
    for (auto it = type->values.constBegin(); it != type->values.constEnd(); ++it) {
        if (prefix.isEmpty()) {
            candidates.push_back({it->value, &*it, 0});
        } else if (fuzzy) {
            const std::uint64_t quality = matchingQualityOfQuery(it->value, prefix, true);
            if (quality != PMNotFound)
                candidates.push_back({it->value, &*it, quality});
        } else if (it.key().startsWith(lowercasePrefix)) {
            candidates.push_back({autoAutoComplete ? prefix + it->value.mid(prefix.size()) : it->value, &*it, 0});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(), [fuzzy](const TagValueCandidate& a, const TagValueCandidate& b) {
        if (fuzzy && a.quality != b.quality)
            return a.quality < b.quality;
        return PMCompareNamesBySortString(a.value, b.value) < 0;
    });

    // 3. Without movies: every kept value.
    if (!movies || movies->isEmpty()) {
        QStringList result;
        for (const TagValueCandidate& c : candidates)
            result << c.value;
        return result;
    }

    // 4. Which of the movies carry each value. When the movies are the whole library the
    // identifiers gathered by the rebuild answer at once. As many movies as the library
    // holds are not enough for that: a movie and its proxy count twice, so the distinct
    // originals must be the library's own.
    QList<PMMovieRepresentationPrototype*> originals;
    QList<Value> originalValues;
    QSet<const platform::Object*> distinctOriginals;
    bool onlyLibraryMovies = true;
    for (const Value& v : *movies) {
        PMLibraryItem* item = PMItem(v);
        if (!item)
            continue;
        const Value original = item->nonProxySelf();
        PMMovieRepresentationPrototype* movie = PMMovie(original);
        if (!movie || distinctOriginals.contains(original.objectPointer()))
            continue;
        distinctOriginals.insert(original.objectPointer());
        originals << movie;
        originalValues << original;
        if (onlyLibraryMovies && _nonProxyRawMovieRepresentationsByID.value(movie->uniqueLibraryID()).get() != original.objectPointer())
            onlyLibraryMovies = false;
    }
    const bool wholeLibrary = onlyLibraryMovies && originals.size() == _nonProxyRawMovieRepresentationsByID.size();
    const bool isNotes = lowercaseTag == QLatin1String("notes");
    // Each movie's values of the tag, read once and concurrently (the cached tag getters
    // are safe from any thread); notes count as one value.
    QList<QSet<QString>> valuesByMovie;
    bool valuesByMovieRead = false;
    auto readValuesByMovie = [&] {
        if (valuesByMovieRead)
            return;
        valuesByMovieRead = true;
        valuesByMovie.resize(originals.size());
        QSet<QString>* const out = valuesByMovie.data();
        platform::concurrentApply(std::size_t(originals.size()), [&](std::size_t i) {
            PMMovieRepresentationPrototype* movie = originals[qsizetype(i)];
            if (isNotes) {
                const QString note = movie->cachedLowercaseValueForLowercaseTag(lowercaseTag);
                if (!note.isEmpty())
                    out[i] = QSet<QString>{note};
                return;
            }
            const QStringList values = movie->cachedLowercaseValuesForLowercaseTag(lowercaseTag);
            out[i] = QSet<QString>(values.begin(), values.end());
        });
    };
    QHash<QString, ArrayPtr> carriersByValue;
    for (const TagValueCandidate& c : candidates) {
        auto carriers = Array::make();
        const QString lowercaseValue = c.stored->value.toLower();
        if (wholeLibrary && !c.stored->associatedIdentifiers.isEmpty()) {
            for (const QString& id : c.stored->associatedIdentifiers)
                if (PMMovieRepresentationOriginalPtr movie = _nonProxyRawMovieRepresentationsByID.value(id))
                    carriers->append(Value(movie));
        } else {
            readValuesByMovie();
            for (qsizetype i = 0; i < valuesByMovie.size(); ++i)
                if (valuesByMovie[i].contains(lowercaseValue))
                    carriers->append(originalValues[i]);
        }
        if (!carriers->isEmpty())
            carriersByValue.insert(c.value, carriers);
    }
    if (getAssociatedMovieRepresentations)
        *getAssociatedMovieRepresentations = carriersByValue;

    // 5. No grouping asked for.
    if (separationThreshold == PMNotFound) {
        QStringList result;
        for (const TagValueCandidate& c : candidates)
            result << c.value;
        return result;
    }

    return groupedTagValues(candidates, carriersByValue, tag, type->nonNumeric, separationThreshold);
}

void PMMainController::storeValues(const QStringList& values, const DictionaryPtr& forInfoTag)
{
    const QString tag = forInfoTag ? forInfoTag->value(QStringLiteral("Tag")).string() : QString();
    if (tag.isEmpty()) {
        if (defaults().boolForKey(prefs::keys::PMDebugLog))
            PMLog(QStringLiteral("[Debug] missing name for property: %@"), forInfoTag ? Value(forInfoTag) : Value());
        return;
    }
    const QString key = tag.toLower();
    auto type = _tagTypes.find(key);
    if (type == _tagTypes.end()) {
        PMTagType created;
        created.tag = tag;
        created.counter = 1;
        type = _tagTypes.insert(key, created);
    }
    for (const QString& value : values) {
        const QString lowercase = value.toLower();
        if (!type->values.contains(lowercase))
            type->values.insert(lowercase, PMTagValue{value, {}});
    }
}

// ---------------------------------------------------------------------------
// The info panel's pending edits of one tag

namespace {

const QString kChecked = QStringLiteral("Checked Separate Values");
const QString kUnchecked = QStringLiteral("Unchecked Separate Values");

QStringList stringList(const DictionaryPtr& entry, const QString& key)
{
    QStringList result;
    if (const ArrayPtr list = entry->value(key).array())
        for (const Value& v : *list)
            if (v.isString())
                result << v.string();
    return result;
}

void setStringList(const DictionaryPtr& entry, const QString& key, const QStringList& list)
{
    if (list.isEmpty()) {
        entry->remove(key);
        return;
    }
    auto array = Array::make();
    for (const QString& s : list)
        array->append(Value(s));
    entry->setValue(key, array);
}

void removeIgnoringCase(QStringList& list, const QString& value)
{
    list.removeIf([&](const QString& s) { return s.compare(value, Qt::CaseInsensitive) == 0; });
}

} // namespace

void PMMainController::determineEffectiveValueAndStateForInfoTag(const DictionaryPtr& infoTag, bool* isUnambiguous)
{
    if (!infoTag)
        return;
    const qsizetype n = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
    QHash<QString, ArrayPtr> carriers;
    QStringList values = valuesForTag(infoTag->value(QStringLiteral("Tag")).string(), QString(), _infoMovieRepresentations, PMNotFound, &carriers);
    if (values.isEmpty())
        values << checkMarkString(); // a tag without value
    const QStringList checked = stringList(infoTag, kChecked);
    const QStringList unchecked = stringList(infoTag, kUnchecked);
    QStringList effective;
    bool changed = false, partial = false;
    for (const QString& value : values) {
        const bool isChecked = containsIgnoringCase(checked, value);
        const bool isUnchecked = containsIgnoringCase(unchecked, value);
        const qsizetype carried = carriers.contains(value) ? carriers[value]->count() : 0;
        if (carried == 0) {
            if (isChecked) {
                effective << value;
                changed = true;
            }
            continue;
        }
        if (!isUnchecked)
            effective << value;
        else
            changed = true;
        if (carried < n) {
            if (isChecked)
                changed = true;
            else
                partial = true;
        }
    }
    infoTag->setValue(QStringLiteral("Value"), PMCSVStringWithFields(effective, QString(), false));
    infoTag->setValue(QStringLiteral("State"), qint64(!changed ? 0 : partial ? -1 : 1));
    if (isUnambiguous)
        *isUnambiguous = !partial;
}

void PMMainController::setState(int state, const DictionaryPtr& forInfoTag)
{
    if (!forInfoTag)
        return;
    if (state == 0) {
        forInfoTag->remove(kChecked);
        forInfoTag->remove(kUnchecked);
    } else {
        QHash<QString, ArrayPtr> carriers;
        const QStringList values =
            valuesForTag(forInfoTag->value(QStringLiteral("Tag")).string(), QString(), _infoMovieRepresentations, PMNotFound, &carriers);
        QStringList checked = stringList(forInfoTag, kChecked);
        const QStringList unchecked = stringList(forInfoTag, kUnchecked);
        for (const QString& value : values)
            if (carriers.contains(value) && !containsIgnoringCase(checked, value) && !containsIgnoringCase(unchecked, value))
                checked << value;
        setStringList(forInfoTag, kChecked, checked);
    }
    determineEffectiveValueAndStateForInfoTag(forInfoTag, nullptr);
}

void PMMainController::toggleInfoTagValue(const QString& tagName, const QString& tagValue, int state)
{
    if (tagName.isEmpty() || tagValue.isEmpty() || !_infoTags)
        return;
    DictionaryPtr entry;
    for (const Value& v : *_infoTags)
        if (const DictionaryPtr d = v.dictionary(); d && d->value(QStringLiteral("Tag")).string().compare(tagName, Qt::CaseInsensitive) == 0) {
            entry = d;
            break;
        }
    if (!entry)
        return;
    QStringList checked = stringList(entry, kChecked);
    QStringList unchecked = stringList(entry, kUnchecked);
    removeIgnoringCase(checked, tagValue);
    removeIgnoringCase(unchecked, tagValue);
    if (state == 1)
        checked << tagValue;
    else if (state == 0)
        unchecked << tagValue;
    setStringList(entry, kChecked, checked);
    setStringList(entry, kUnchecked, unchecked);
    determineEffectiveValueAndStateForInfoTag(entry, nullptr);
}
