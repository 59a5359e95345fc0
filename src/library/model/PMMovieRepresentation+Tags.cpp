// A record's tags: its own, typed by the user, merged with those imported from the file
// (embedded metadata, file tags and comment) and from external media libraries; the
// background read of embedded metadata and the caches derived from the merged tags.
#include "library/model/PMMovieRepresentation.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerMarks.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/PMCSVParser.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryFileRules.h"
#include "library/model/PMSortLibraryItems.h"
#include "library/model/PMTagType.h"
#include "platform/ExtendedAttributes.h"
#include "platform/PropertyList.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Asset.h"

#include <QtCore/QSet>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <limits>
#include <cmath>

using platform::Value;

namespace {

const QString kTags = QStringLiteral("Tags");
const QString kImported = QStringLiteral("Tags: Imported");
const QString kTimestamp = QStringLiteral("com.tolvane.meta/timestamp");
const QString kFileTags = QStringLiteral("com.tolvane.meta/tags");
const QString kNotes = QStringLiteral("com.tolvane.meta/notes");
const QString kITunMOVI = QStringLiteral("itlk/com.apple.iTunes.iTunMOVI");
// The localized name of the tag that shows a series in subdivisions.
const QString kSequence = QStringLiteral("Sequence");
// A metadata text longer than this is cut: files are outside input.
constexpr qsizetype kMaximumMetadataTextLength = 64 * 1024;
constexpr qsizetype kMaximumITunMOVILength = 1024 * 1024;

struct InFlight {
    std::mutex mutex;
    QSet<QString> ids;
};
InFlight& readsInFlight()
{
    static InFlight* set = new InFlight;
    return *set;
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QString stringOf(const Value& v)
{
    return v.isString() ? v.string() : QString();
}

QString entryValue(const platform::DictionaryPtr& tags, const QString& key)
{
    const platform::DictionaryPtr entry = tags ? tags->value(key).dictionary() : nullptr;
    return entry ? stringOf(entry->value(QStringLiteral("Value"))) : QString();
}

QString csvLine(const QStringList& fields)
{
    return PMCSVStringWithFields(fields, PMCSVDefaultFieldSeparator(), true);
}

bool sortStringLessThan(const QString& a, const QString& b)
{
    return PMCompareNamesBySortString(a, b) < 0;
}

// One imported entry: numbers written without fractions (years as integers), below 1
// dropped when only positive numbers are wanted.
void addImportedEntry(const Value& value, platform::Dictionary& target, const QString& tag)
{
    QString text;
    if (value.isNull())
        return;
    if (value.isNumber()) {
        const double number = value.toDouble();
        if (number < 1 && defaults().boolForKey(prefs::keys::ImportMetadataPositiveNumbersOnly))
            return;
        if (tag == QStringLiteral("Year"))
            text = QString::number((long long)number);
        else
            text = stringWithNumber(value, 0, false);
    } else if (value.isString()) {
        text = value.string();
    } else {
        return;
    }
    target.setValue(tag.toLower(), platform::Dictionary::make({{QStringLiteral("Tag"), tag}, {QStringLiteral("Value"), text}}));
}

qint64 referenceTimestamp(const platform::Date& date)
{
    return qint64(std::llround(date.secondsSinceReferenceDate()));
}

// The raw dictionary of a file: timestamp, file tags and comment, then every metadata
// item of the movie file.
platform::DictionaryPtr readRawMetadata(const QUrl& url, qint64 timestamp, const QString& fileTags, const QString& notes)
{
    auto raw = platform::Dictionary::make();
    raw->setValue(kTimestamp, Value((long long)timestamp));
    if (!fileTags.isEmpty())
        raw->setValue(kFileTags, fileTags);
    if (!notes.isEmpty())
        raw->setValue(kNotes, notes);
    const platform::media::AssetPtr asset = platform::media::Asset::assetWithURL(url);
    if (!asset)
        return raw;
    for (const platform::media::MetadataItem& item : asset->metadata()) {
        if (item.identifier.isEmpty())
            continue;
        if (item.identifier == kITunMOVI) {
            if (item.stringValue.size() > kMaximumITunMOVILength)
                continue;
            QString error;
            const Value parsed = platform::readXMLPropertyList(item.stringValue.toUtf8(), &error);
            if (parsed.isDictionary())
                raw->setValue(kITunMOVI, parsed);
            continue;
        }
        if (item.numberValue && std::isfinite(*item.numberValue)) {
            // Whole numbers are kept as integers where one can hold them; a larger one
            // (a file can claim anything) stays a real number.
            const double number = *item.numberValue;
            const bool integral = number == std::floor(number) && number >= -0x1p63 && number < 0x1p63;
            raw->setValue(item.identifier, integral ? Value((long long)number) : Value(number));
        } else {
            raw->setValue(item.identifier, item.stringValue.left(kMaximumMetadataTextLength));
        }
    }
    return raw;
}

} // namespace

bool PMIsMetadataReadInFlight(const QString& uniqueLibraryID)
{
    std::lock_guard lock(readsInFlight().mutex);
    return readsInFlight().ids.contains(uniqueLibraryID);
}

// ---- Editing

void PMMovieRepresentationPrototype::setTags(const platform::DictionaryPtr& tags)
{
    auto kept = platform::Dictionary::make();
    if (tags && !tags->isEmpty()) {
        const platform::DictionaryPtr imported = importedTags();
        for (auto it = tags->begin(); it != tags->end(); ++it) {
            const platform::DictionaryPtr entry = it.value().dictionary();
            if (!entry)
                continue;
            const QString value = stringOf(entry->value(QStringLiteral("Value")));
            const QString importedValue = entryValue(imported, it.key());
            if ((value.isEmpty() && importedValue.isEmpty()) || value == importedValue)
                continue;
            kept->setValue(it.key(), it.value());
        }
    }
    if (kept->isEmpty())
        userSettings()->remove(kTags);
    else
        userSettings()->setValue(kTags, kept);
    if (PMCachedSettings::determineFuzzyOldestDate)
        invalidateDates();
    invalidateCachedTags();
}

void PMMovieRepresentationPrototype::setValue(const QString& value, const QString& forTag)
{
    const platform::DictionaryPtr own = userSettings()->value(kTags).dictionary();
    platform::DictionaryPtr tags = own ? deeplyMutableCopy(own) : platform::Dictionary::make();
    tags->setValue(forTag.toLower(), platform::Dictionary::make({{QStringLiteral("Tag"), forTag}, {QStringLiteral("Value"), value}}));
    setTags(tags);
}

platform::DictionaryPtr PMMovieRepresentationPrototype::valuesByLowercaseValueForTag(const QString& tag)
{
    auto result = platform::Dictionary::make();
    for (const QString& value : cachedCSVFields(entryValue(cachedTags(), tag.toLower())))
        result->setValue(value.toLower(), value);
    return result;
}

void PMMovieRepresentationPrototype::setValuesByLowercaseValue(const platform::DictionaryPtr& values, const QString& forTag)
{
    QStringList list;
    for (auto it = values->begin(); it != values->end(); ++it)
        list << stringOf(it.value());
    std::sort(list.begin(), list.end(), sortStringLessThan);
    setValue(csvLine(list), forTag);
}

void PMMovieRepresentationPrototype::addValue(const QString& value, const QString& forTag)
{
    if (value.isEmpty())
        return;
    platform::DictionaryPtr values = valuesByLowercaseValueForTag(forTag);
    if (values->contains(value.toLower()))
        return;
    values->setValue(value.toLower(), value);
    setValuesByLowercaseValue(values, forTag);
}

void PMMovieRepresentationPrototype::subtractValue(const QString& value, const QString& forTag)
{
    if (value.isEmpty())
        return;
    platform::DictionaryPtr values = valuesByLowercaseValueForTag(forTag);
    if (!values->contains(value.toLower()))
        return;
    values->remove(value.toLower());
    setValuesByLowercaseValue(values, forTag);
}

void PMMovieRepresentationPrototype::addTagValuesFromMovieRepresentation(PMMovieRepresentationPrototype& other, bool skipNotes)
{
    const platform::DictionaryPtr tags = other.cachedTags();
    for (auto it = tags->begin(); it != tags->end(); ++it) {
        if (skipNotes && it.key() == QStringLiteral("notes"))
            continue;
        const platform::DictionaryPtr entry = it.value().dictionary();
        if (!entry)
            continue;
        const QString tag = stringOf(entry->value(QStringLiteral("Tag")));
        for (const QString& value : cachedCSVFields(stringOf(entry->value(QStringLiteral("Value")))))
            addValue(value, tag);
    }
}

void PMMovieRepresentationPrototype::addTagValuesFromSubdivisionBranch(const platform::ArrayPtr& branches)
{
    if (!branches)
        return;
    for (const Value& v : *branches)
        if (const platform::DictionaryPtr branch = v.dictionary())
            addTagValuesFromSubdivisionBranchDictionary(branch);
}

void PMMovieRepresentationPrototype::addTagValuesFromSubdivisionBranchDictionary(const platform::DictionaryPtr& branch)
{
    for (auto it = branch->begin(); it != branch->end(); ++it) {
        if (it.key() == QStringLiteral("Series ID Prefix")) {
            const QString prefix = stringOf(it.value());
            if (!prefix.isEmpty() && prefix != seriesIDPrefix())
                // Joins at no particular place: the index "not found".
                setSeriesID(prefix.left(prefix.size() - 1), std::uint64_t(std::numeric_limits<long long>::max()));
            continue;
        }
        const platform::DictionaryPtr entry = it.value().dictionary();
        if (!entry)
            continue;
        const QString tag = stringOf(entry->value(QStringLiteral("Tag")));
        const platform::ArrayPtr branchValues = entry->value(QStringLiteral("Values")).array();
        if (tag.isEmpty() || !branchValues)
            continue;
        platform::DictionaryPtr values = valuesByLowercaseValueForTag(tag);
        bool added = false;
        for (const Value& value : *branchValues) {
            const QString text = stringOf(value);
            if (!text.isEmpty() && !values->contains(text.toLower())) {
                values->setValue(text.toLower(), text);
                added = true;
            }
        }
        if (added)
            setValuesByLowercaseValue(values, tag);
    }
}

QString PMMovieRepresentationPrototype::tagValueForListID(const QString& listID)
{
    const QString prefix = QString::fromLatin1(PMAccessoryTagListNamePrefix);
    if (!listID.startsWith(prefix))
        return QStringLiteral("");
    return entryValue(cachedTags(), listID.mid(prefix.size()));
}

// ---- Merging and reading

platform::DictionaryPtr PMMovieRepresentationPrototype::cachedTags()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_cachedTags)
            return o.m_cachedTags;
    }
    const platform::DictionaryPtr imported = importedTags();
    const platform::DictionaryPtr own = userSettings()->value(kTags).dictionary();
    platform::DictionaryPtr merged;
    if (imported) {
        merged = deeplyMutableCopy(imported);
        if (own)
            for (auto it = own->begin(); it != own->end(); ++it) {
                const platform::DictionaryPtr entry = it.value().dictionary();
                if (!entry)
                    continue;
                if (stringOf(entry->value(QStringLiteral("Value"))).isEmpty())
                    merged->remove(it.key());
                else
                    merged->setValue(it.key(), it.value());
            }
    } else if (own) {
        merged = platform::Dictionary::make();
        for (auto it = own->begin(); it != own->end(); ++it)
            if (const platform::DictionaryPtr entry = it.value().dictionary(); entry && !stringOf(entry->value(QStringLiteral("Value"))).isEmpty())
                merged->setValue(it.key(), it.value());
    } else {
        merged = platform::Dictionary::make();
    }
    std::lock_guard lock(o.m_mutex);
    if (!o.m_cachedTags)
        o.m_cachedTags = merged;
    return o.m_cachedTags;
}

platform::DictionaryPtr PMMovieRepresentationPrototype::importedTags()
{
    auto& names = PMMovieRepresentationServices::shared().importTagNames;
    const QStringList tagNames = names ? names() : QStringList();
    if (tagNames.isEmpty())
        return nullptr;
    PMMovieRepresentationOriginal& o = original();
    auto result = platform::Dictionary::make();
    if (const platform::DictionaryPtr file = o.fileMetadataTagsWithNames(tagNames))
        for (auto it = file->begin(); it != file->end(); ++it)
            result->setValue(it.key(), it.value());
    if (const platform::DictionaryPtr external = o.externalMediaTagsWithNames(tagNames))
        for (auto it = external->begin(); it != external->end(); ++it)
            result->setValue(it.key(), it.value());
    return result->isEmpty() ? nullptr : result;
}

namespace {
int gDeferredFirstMetadataReads = 0; // main thread only
} // namespace

PMDeferredFirstMetadataReads::PMDeferredFirstMetadataReads()
{
    ++gDeferredFirstMetadataReads;
}

PMDeferredFirstMetadataReads::~PMDeferredFirstMetadataReads()
{
    --gDeferredFirstMetadataReads;
}

platform::DictionaryPtr PMMovieRepresentationOriginal::fileMetadataTagsWithNames(const QStringList& names)
{
    if (!defaults().boolForKey(prefs::keys::ImportMetadataInternal)) {
        if (PMRecordGettersMayChangeRecords())
            userSettings()->remove(kImported);
        return nullptr;
    }
    const platform::DictionaryPtr raw = userSettings()->value(kImported).dictionary();
    // The first read is started from the main thread; getters warmed elsewhere start nothing.
    if (PMRecordGettersMayChangeRecords() && gDeferredFirstMetadataReads == 0 && !hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce())
        updateRawCachedFileMetadataTags(raw);
    if (!raw || raw->isEmpty())
        return nullptr;
    const QSet<QString> wanted(names.begin(), names.end());
    auto result = platform::Dictionary::make();
    auto add = [&](const QString& name, const Value& value) {
        if (wanted.contains(name))
            addImportedEntry(value, *result, name);
    };
    add(QStringLiteral("Tags"), raw->value(kFileTags));
    add(QStringLiteral("Notes"), raw->contains(kNotes) ? raw->value(kNotes) : raw->value(QStringLiteral("itsk/%A9cmt")));
    add(QStringLiteral("Album"), raw->value(QStringLiteral("itsk/%A9alb")));
    add(QStringLiteral("Artist"), raw->value(QStringLiteral("itsk/%A9ART")));
    add(QStringLiteral("Composer"), raw->value(QStringLiteral("itsk/%A9wrt")));
    add(QStringLiteral("Episode"), raw->value(QStringLiteral("itsk/tves")));
    add(QStringLiteral("Episode Identifier"), raw->value(QStringLiteral("itsk/tven")));
    add(QStringLiteral("Genre"), raw->value(QStringLiteral("itsk/%A9gen")));
    add(QStringLiteral("Season"), raw->value(QStringLiteral("itsk/tvsn")));
    add(QStringLiteral("Series"), raw->value(QStringLiteral("itsk/tvsh")));
    add(QStringLiteral("Tempo"), raw->value(QStringLiteral("itsk/tmpo")));
    if (const Value day = raw->value(QStringLiteral("itsk/%A9day")); day.isString())
        add(QStringLiteral("Year"), day.string().section(u'-', 0, 0));
    if (const platform::DictionaryPtr movi = raw->value(kITunMOVI).dictionary()) {
        for (const QString& name : names) {
            const Value v = movi->value(name.toLower());
            QStringList values;
            if (const platform::ArrayPtr array = v.array()) {
                for (const Value& element : *array)
                    if (const platform::DictionaryPtr d = element.dictionary())
                        if (const QString n = stringOf(d->value(QStringLiteral("name"))).trimmed(); !n.isEmpty())
                            values << n;
            } else if (v.isString()) {
                values = PMCSVFieldsFromString(v.string(), PMCSVDefaultFieldSeparator());
            }
            if (values.isEmpty())
                continue;
            if (values.size() >= 2)
                std::sort(values.begin(), values.end(), sortStringLessThan);
            addImportedEntry(csvLine(values), *result, name);
        }
    }
    return result->isEmpty() ? nullptr : result;
}

platform::DictionaryPtr PMMovieRepresentationOriginal::externalMediaTagsWithNames(const QStringList&)
{
    // External media libraries keep their own tags on their objects; none is present yet.
    return nullptr;
}

void PMMovieRepresentationPrototype::updateCachedFileMetadataTags()
{
    original().updateRawCachedFileMetadataTags(userSettings()->value(kImported).dictionary());
}

void PMMovieRepresentationOriginal::updateRawCachedFileMetadataTags(const platform::DictionaryPtr& raw)
{
    std::vector<PMMovieRepresentationOriginal*> one{this};
    std::vector<platform::DictionaryPtr> raws{raw};
    refreshFileMetadataTags(one, &raws);
}

namespace {

// What the refresh of one record's imported metadata needs of it, read on the main
// thread: the worker then touches neither the record nor its settings.
struct MetadataRefresh {
    std::shared_ptr<PMMovieRepresentationOriginal> record;
    QString path;
    QString uniqueID;
    bool known = false; // something was imported before: these are what it was read from
    qint64 timestamp = 0;
    QString fileTags;
    QString notes;
};

// Files whose metadata is read in one job of the crawl queue, their answers handed to
// the main thread together.
constexpr std::size_t kMetadataBatch = 32;

// Whether two reads of a file's metadata say the same, apart from when they were made.
bool sameReadExceptTimestamp(const platform::DictionaryPtr& a, const platform::DictionaryPtr& b)
{
    const auto entries = [](const platform::DictionaryPtr& d) { return d ? d->count() - (d->contains(kTimestamp) ? 1 : 0) : 0; };
    if (entries(a) != entries(b))
        return false;
    if (entries(a) == 0)
        return true;
    for (auto it = a->begin(); it != a->end(); ++it)
        if (it.key() != kTimestamp && (!b->contains(it.key()) || !(b->value(it.key()) == it.value())))
            return false;
    return true;
}

// Looks at the prepared files on a worker and reads those that changed on the crawl queue.
void startMetadataReads(const std::shared_ptr<std::vector<MetadataRefresh>>& refreshes)
{
    if (refreshes->empty())
        return;
    // Read once for the whole run.
    static const bool showProgress = defaults().boolForKey(prefs::keys::ShowProgressForBackgroundChecks);
    auto crawlDelta = [](int delta) {
        if (!showProgress || delta == 0)
            return;
        platform::dispatchAsyncMain([delta] {
            if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
                update(delta);
        });
    };
    auto finish = [](const QString& uniqueID) {
        std::lock_guard lock(readsInFlight().mutex);
        readsInFlight().ids.remove(uniqueID);
    };
    PMCrawlQueue::beginBackgroundWork();
    // The counted work ends when the job has run, or when it is dropped unrun (at quit).
    const std::shared_ptr<void> end(nullptr, [](void*) { PMCrawlQueue::endBackgroundWork(); });
    // One job looks at every file (in the background pool); only the files that changed
    // since their metadata was read are read again, on the crawl queue.
    platform::dispatchAsyncGlobal([refreshes, end, crawlDelta, finish] {
        (void)end;
        struct Read {
            MetadataRefresh* refresh;
            qint64 timestamp;
            QString fileTags;
            QString notes;
        };
        auto reads = std::make_shared<std::vector<Read>>();
        for (MetadataRefresh& refresh : *refreshes) {
            {
                std::lock_guard lock(readsInFlight().mutex);
                if (readsInFlight().ids.contains(refresh.uniqueID))
                    continue;
                readsInFlight().ids.insert(refresh.uniqueID);
            }
            const std::optional<platform::Date> modified = modificationDateFromPath(refresh.path);
            if (!modified) {
                finish(refresh.uniqueID);
                continue;
            }
            const qint64 timestamp = referenceTimestamp(*modified);
            QString fileTags = csvLine(platform::fileTags(refresh.path));
            QString notes = spotlightComment(refresh.path).value_or(QString()).trimmed();
            if (refresh.known && refresh.timestamp >= timestamp && refresh.fileTags == fileTags && refresh.notes == notes) {
                finish(refresh.uniqueID);
                continue;
            }
            reads->push_back({&refresh, timestamp, std::move(fileTags), std::move(notes)});
        }
        crawlDelta(int(reads->size()));
        for (std::size_t start = 0; start < reads->size(); start += kMetadataBatch) {
            const std::size_t stop = std::min(reads->size(), start + kMetadataBatch);
            // `reads` points into `refreshes`: both live until the last batch is applied.
            PMCrawlQueue::async([refreshes, reads, start, stop, crawlDelta, finish] {
                auto fresh = std::make_shared<std::vector<platform::DictionaryPtr>>();
                fresh->reserve(stop - start);
                for (std::size_t i = start; i < stop; ++i) {
                    const Read& read = (*reads)[i];
                    fresh->push_back(readRawMetadata(QUrl::fromLocalFile(read.refresh->path), read.timestamp, read.fileTags, read.notes));
                }
                platform::dispatchAsyncMain([refreshes, reads, start, stop, fresh, crawlDelta, finish] {
                    bool any = false;
                    for (std::size_t i = start; i < stop; ++i) {
                        const MetadataRefresh& refresh = *(*reads)[i].refresh;
                        // A file renamed or moved meanwhile keeps what it had.
                        if (refresh.record->path() == refresh.path) {
                            const platform::DictionaryPtr& read = (*fresh)[i - start];
                            const bool changed = !sameReadExceptTimestamp(refresh.record->userSettings()->value(kImported).dictionary(), read);
                            refresh.record->userSettings()->setValue(kImported, read);
                            // Most files say what they said before (the first reads of a
                            // library find nothing in most): what was made from the
                            // metadata (tags, search texts, names) stays good then.
                            if (changed) {
                                refresh.record->invalidateCachedTags();
                                any = true;
                            }
                        }
                        finish(refresh.uniqueID);
                    }
                    crawlDelta(-int(stop - start));
                    if (any)
                        if (auto& update = PMMovieRepresentationServices::shared().updateLibraryAfterDelay)
                            update(1.0);
                });
            });
        }
    }, platform::QueuePriority::Background);
}

// A library's worth of records is prepared on the main thread a slice per turn, so that
// an activation with 100,000 movies never holds the window for the whole list.
constexpr std::size_t kPreparedPerTurn = 2048;
bool gPreparingAllRecords = false; // main thread only

} // namespace

void PMMovieRepresentationOriginal::refreshFileMetadataTags(const std::vector<PMMovieRepresentationOriginal*>& records,
                                                            const std::vector<platform::DictionaryPtr>* raws)
{
    const auto prepare = [](PMMovieRepresentationOriginal& record, const platform::DictionaryPtr* given, std::vector<MetadataRefresh>& out) {
        {
            std::lock_guard lock(record.m_mutex);
            record.m_hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce = true;
        }
        const QString filePath = record.path();
        if (filePath.isEmpty() || record.isMissing())
            return;
        const platform::DictionaryPtr raw = given ? *given : record.userSettings()->value(kImported).dictionary();
        MetadataRefresh& refresh = out.emplace_back();
        refresh.record = record.sharedOriginal();
        refresh.path = filePath;
        refresh.uniqueID = record.uniqueLibraryID();
        if (raw) {
            refresh.known = true;
            refresh.timestamp = longLongValueOfObjectForKey(raw.get(), kTimestamp);
            refresh.fileTags = stringOf(raw->value(kFileTags));
            refresh.notes = stringOf(raw->value(kNotes));
        }
    };
    if (raws || records.size() <= kPreparedPerTurn) {
        auto refreshes = std::make_shared<std::vector<MetadataRefresh>>();
        refreshes->reserve(records.size());
        for (std::size_t i = 0; i < records.size(); ++i)
            prepare(*records[i], raws ? &(*raws)[i] : nullptr, *refreshes);
        startMetadataReads(refreshes);
        return;
    }
    // The whole library is being prepared already (an activation soon after another, say):
    // that one looks at every file too.
    if (gPreparingAllRecords)
        return;
    gPreparingAllRecords = true;
    auto held = std::make_shared<std::vector<std::shared_ptr<PMMovieRepresentationOriginal>>>();
    held->reserve(records.size());
    for (PMMovieRepresentationOriginal* record : records) {
        // A getter asking for the tags meanwhile starts no read of its own.
        {
            std::lock_guard lock(record->m_mutex);
            record->m_hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce = true;
        }
        held->push_back(record->sharedOriginal());
    }
    auto refreshes = std::make_shared<std::vector<MetadataRefresh>>();
    refreshes->reserve(records.size());
    platform::dispatchSlicesOnMain(
        held->size(), kPreparedPerTurn,
        [held, refreshes, prepare](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                prepare(*(*held)[i], nullptr, *refreshes);
        },
        [refreshes] {
            gPreparingAllRecords = false;
            startMetadataReads(refreshes);
        });
}

QString PMMovieRepresentationPrototype::cachedLowercaseValueForLowercaseTag(const QString& tag)
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (const QString* cached = o.m_cachedLowercaseTagValues.find(tag))
            return *cached;
    }
    const platform::DictionaryPtr tags = cachedTags();
    QString value;
    if (tag == QStringLiteral("?")) {
        // Any tag: the first entry in a stable order.
        const QStringList keys = tags->sortedKeys();
        if (!keys.isEmpty())
            value = entryValue(tags, keys.first()).toLower();
    } else {
        value = entryValue(tags, tag).toLower();
    }
    std::lock_guard lock(o.m_mutex);
    o.m_cachedLowercaseTagValues.insert(tag, value);
    return value;
}

QStringList PMMovieRepresentationPrototype::cachedLowercaseValuesForLowercaseTag(const QString& tag)
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (const QStringList* cached = o.m_cachedSeparateLowercaseTagValues.find(tag))
            return *cached;
    }
    const QString value = cachedLowercaseValueForLowercaseTag(tag);
    QStringList values;
    if (tag == QStringLiteral("notes")) {
        if (!value.isEmpty())
            values << value;
    } else {
        values = PMCSVFieldsFromString(value, PMCSVDefaultFieldSeparator());
    }
    std::lock_guard lock(o.m_mutex);
    o.m_cachedSeparateLowercaseTagValues.insert(tag, values);
    return values;
}

std::shared_ptr<const PMTagTypeShare> PMMovieRepresentationPrototype::cachedTagTypeShare()
{
    PMMovieRepresentationOriginal& o = original();
    std::uint64_t generation = 0;
    platform::DictionaryPtr tags;
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_tagTypeShare)
            return o.m_tagTypeShare;
        generation = o.m_tagsGeneration;
        tags = o.m_cachedTags;
    }
    // With no tags imported from metadata, the merged tags are just the record's own tags
    // that have a value: those are read where they are, without making the merged copy
    // (a library that loads makes the share of every movie).
    const auto& importNames = PMMovieRepresentationServices::shared().importTagNames;
    const bool ownTagsOnly = !tags && (!importNames || importNames().isEmpty());
    if (ownTagsOnly)
        tags = userSettings()->value(kTags).dictionary();
    else if (!tags)
        tags = cachedTags();
    auto share = std::make_shared<PMTagTypeShare>();
    if (tags) {
        share->tags.reserve(size_t(tags->count()));
        for (auto it = tags->begin(); it != tags->end(); ++it) {
            const platform::DictionaryPtr entry = it.value().dictionary();
            if (!entry)
                continue;
            const Value text = entry->value(QStringLiteral("Value"));
            if (ownTagsOnly && stringOf(text).isEmpty())
                continue;
            PMTagTypeShare::Tag& tag = share->tags.emplace_back();
            tag.key = it.key();
            tag.tag = entry->value(QStringLiteral("Tag")).string();
            // Notes are prose: commas in them separate nothing.
            tag.values = tag.key == QLatin1String("notes") ? QStringList{text.string()} : cachedCSVFields(text.string());
            tag.valueSlots.reserve(size_t(tag.values.size()));
            // Values that are lower case already (lowering gives back the same text) share
            // the list of values.
            bool lowercaseAlready = true;
            for (qsizetype k = 0; k < tag.values.size(); ++k) {
                const QString& value = tag.values.at(k);
                const QString lowercase = value.toLower();
                if (lowercaseAlready && lowercase.constData() != value.constData()) {
                    lowercaseAlready = false;
                    tag.lowercaseValues = tag.values.first(k);
                    tag.lowercaseValues.reserve(tag.values.size());
                }
                if (!lowercaseAlready)
                    tag.lowercaseValues << lowercase;
                tag.nonNumeric = tag.nonNumeric || PMContainsNonNumericCharacter(value);
            }
            if (lowercaseAlready)
                tag.lowercaseValues = tag.values;
            tag.keySlot = PMTagSlots(tag.key, tag.lowercaseValues, tag.valueSlots);
        }
    }
    // Most records of a large library carry no tag: they all hold the one empty share.
    static const std::shared_ptr<const PMTagTypeShare> empty = std::make_shared<const PMTagTypeShare>();
    const std::shared_ptr<const PMTagTypeShare> kept = share->tags.empty() ? empty : std::move(share);
    std::lock_guard lock(o.m_mutex);
    // Kept only while the tags it was made from are still the record's.
    if (!o.m_tagTypeShare && o.m_tagsGeneration == generation)
        o.m_tagTypeShare = kept;
    return kept;
}

namespace {

std::atomic<std::uint64_t> gCachedTagsEpoch{0};

PMChangedRecords& droppedTags()
{
    static PMChangedRecords dropped;
    return dropped;
}

} // namespace

void PMChangedRecords::note(const PMMovieRepresentationOriginal* record)
{
    std::lock_guard lock(m_mutex);
    if (m_records.size() < kLimit)
        m_records.push_back(record);
    else
        m_overflowed = true;
}

bool PMChangedRecords::take(std::vector<const PMMovieRepresentationOriginal*>& records)
{
    std::lock_guard lock(m_mutex);
    records.swap(m_records);
    m_records.clear();
    const bool complete = !m_overflowed;
    m_overflowed = false;
    return complete;
}

std::uint64_t PMCachedTagsEpoch()
{
    return gCachedTagsEpoch.load(std::memory_order_acquire);
}

bool PMTakeRecordsWithDroppedTags(std::vector<const PMMovieRepresentationOriginal*>& records)
{
    return droppedTags().take(records);
}

void PMMovieRepresentationPrototype::invalidateCachedTags()
{
    droppedTags().note(&original());
    gCachedTagsEpoch.fetch_add(1, std::memory_order_acq_rel);
    {
        PMMovieRepresentationOriginal& o = original();
        std::lock_guard lock(o.m_mutex);
        o.m_cachedTags.reset();
        ++o.m_tagsGeneration;
        o.m_cachedLowercaseTagValues.clear();
        o.m_cachedSeparateLowercaseTagValues.clear();
        o.m_tagTypeShare.reset();
        o.invalidateSearchTextLocked();
    }
    invalidateCachedSubdivisionTags();
    if (PMCachedSettings::determineNamesAutomatically)
        invalidateDisplayNameRecursively();
}

platform::DictionaryPtr PMMovieRepresentationPrototype::cachedSubdivisionTags()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_cachedSubdivisionTags)
            return o.m_cachedSubdivisionTags;
    }
    platform::DictionaryPtr tags = cachedTags();
    const QString prefix = seriesIDPrefix();
    if (!prefix.isEmpty() && !tags->contains(kSequence.toLower())) {
        tags = deeplyMutableCopy(tags);
        tags->setValue(kSequence.toLower(), platform::Dictionary::make({{QStringLiteral("Tag"), kSequence}, {QStringLiteral("Value"), prefix}}));
        setAssociatedSeriesIDPrefixFlag(prefix, true);
    }
    std::lock_guard lock(o.m_mutex);
    if (!o.m_cachedSubdivisionTags)
        o.m_cachedSubdivisionTags = tags;
    return o.m_cachedSubdivisionTags;
}

QString PMMovieRepresentationPrototype::fastTrackSubdivisionTagsDescription()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_fastTrackSubdivisionTagsDescription)
            return *o.m_fastTrackSubdivisionTagsDescription;
    }
    const platform::DictionaryPtr tags = cachedSubdivisionTags();
    // Each part carries its lengths, so that no value (with a line break or "=" in it)
    // can make two different sets of tags read alike.
    QString description;
    for (const QString& key : tags->sortedKeys()) {
        if (key == QStringLiteral("notes"))
            continue;
        const QString value = entryValue(tags, key);
        description += QString::number(key.size()) + u':' + key + u'=' + QString::number(value.size()) + u':' + value + u'\n';
    }
    std::lock_guard lock(o.m_mutex);
    if (!o.m_fastTrackSubdivisionTagsDescription)
        o.m_fastTrackSubdivisionTagsDescription = description;
    return *o.m_fastTrackSubdivisionTagsDescription;
}

void PMMovieRepresentationPrototype::invalidateCachedSubdivisionTags()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_cachedSubdivisionTags.reset();
    o.m_fastTrackSubdivisionTagsDescription.reset();
}
