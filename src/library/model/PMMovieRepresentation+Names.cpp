// How a record names itself: display, sort and file names, the values of the list's
// columns, the tool tip and the two tests of the search.
#include "library/model/PMMovieRepresentation.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerMarks.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMCaseFolding.h"
#include "foundation/PMFunctions.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryFileRules.h"
#include "library/model/PMMainController.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Collation.h"
#include "platform/Paths.h"
#include "platform/Queues.h"
#include "platform/Format.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QFileInfo>
#include <QtCore/QSet>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string_view>

using platform::Date;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// The name ("Tag") and value text ("Value") of every entry of the merged tags.
void forEachTag(const platform::DictionaryPtr& tags, const std::function<void(const Value& name, const Value& value)>& visit)
{
    if (!tags)
        return;
    for (auto it = tags->begin(); it != tags->end(); ++it)
        if (const platform::DictionaryPtr entry = it.value().dictionary())
            visit(entry->value(QStringLiteral("Tag")), entry->value(QStringLiteral("Value")));
}

bool namesAutomatically()
{
    return PMCachedSettings::determineNamesAutomatically;
}

// The text names sort by: the sort engine's sort string (ignorable prefixes dropped,
// sort-last prefixes marked).
QString recordSortString(const QString& name)
{
    return PMSortString(name);
}

QString lastComponentOfPath(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString lastComponentOfURL(const QUrl& url)
{
    // A local file's name as the file system has it, bytes that are not UTF-8 included
    // (percent decoding would read them as Latin-1 and name another file).
    if (url.isLocalFile())
        return lastComponentOfPath(platform::pathFromFileURL(url));
    return stringByReplacingPercentEscapesIfNecessary(lastComponentOfPath(url.path(QUrl::FullyEncoded)));
}

QString originalNameTag()
{
    return defaults().stringForKey(prefs::keys::OriginalNameTag).trimmed();
}

// The tag-entry order of tool tips: "tags" first, "notes" last, the others by name.
bool tagEntryLessThan(const QString& a, const QString& b)
{
    auto rank = [](const QString& key) { return key == QStringLiteral("tags") ? 0 : key == QStringLiteral("notes") ? 2 : 1; };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    return PMCompareTagNames(a, b) < 0;
}

} // namespace

// Cut a long tag text for a tool tip to at most `threshold` characters.
QString PMToolTipTruncatedTagText(const QString& value, const QString& text, qsizetype threshold);

QString PMToolTipTruncatedTagText(const QString& value, const QString& text, qsizetype threshold)
{
    if (threshold < 1 || text.size() <= threshold)
        return text;
    const QStringList fields = PMCSVFieldsFromString(value, PMCSVDefaultFieldSeparator());
    if (fields.size() >= 2) {
        QStringList taken;
        qsizetype length = 0;
        for (const QString& field : fields) {
            if (length + field.size() + 2 > threshold)
                break;
            length += field.size() + 2;
            taken << field;
        }
        if (!taken.isEmpty() && taken.size() < fields.size())
            return (taken << ellipsisString()).join(QStringLiteral(", "));
    }
    const QString head = text.left(threshold);
    qsizetype cut = -1;
    for (qsizetype i = head.size() - 1; i >= 0; --i)
        if (head.at(i).isSpace()) {
            cut = i;
            break;
        }
    if (cut <= 0)
        return head + ellipsisString();
    return head.left(cut) + u' ' + ellipsisString();
}

// ---- Display names

QString PMMovieRepresentationPrototype::displayName()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_displayName)
            return *o.m_displayName;
    }
    const QString name = displayNameWithExtension(defaults().boolForKey(prefs::keys::ShowFileExtensions));
    std::lock_guard lock(o.m_mutex);
    if (!o.m_displayName)
        o.m_displayName = name;
    return *o.m_displayName;
}

QString PMMovieRepresentationPrototype::displayNameWithExtension(bool withExtension)
{
    PMMovieRepresentationOriginal& o = original();
    std::optional<QString>& slot = withExtension ? o.m_displayNameWithExtension : o.m_displayNameWithoutExtension;
    {
        std::lock_guard lock(o.m_mutex);
        if (slot)
            return *slot;
    }
    const QString name = o.retainedDisplayNameWithExtension(withExtension, namesAutomatically(), false);
    std::lock_guard lock(o.m_mutex);
    if (!slot)
        slot = name;
    return *slot;
}

QString PMMovieRepresentationOriginal::retainedDisplayNameWithExtension(bool withExtension, bool autoName, bool clean)
{
    QString name;
    if (autoName) {
        auto& tagBased = PMMovieRepresentationServices::shared().tagBasedDisplayName;
        name = tagBased ? tagBased(*this) : QString();
        if (name.isEmpty())
            name = QStringLiteral("?");
        // With automatic names no name is stored, and the former name may be recorded:
        // both change the record, which happens on the main thread only.
        if (PMRecordGettersMayChangeRecords())
            setDisplayName(name);
    } else {
        name = displayNameFromMetadataName(!clean);
    }
    if (clean) {
        name = cleanFilename(name);
        if (name.isEmpty())
            name = QStringLiteral("Untitled");
    }
    const QString extension = filenameExtension();
    if (!extension.isEmpty()) {
        const QString suffix = u'.' + extension;
        if (name.endsWith(suffix, Qt::CaseInsensitive)) {
            if (!withExtension)
                name.chop(suffix.size());
        } else if (withExtension) {
            name += suffix;
        }
    }
    return name;
}

QString PMMovieRepresentationPrototype::displayNameFromMetadataName(bool useMetadata)
{
    platform::DictionaryPtr settings = userSettings();
    const Value stored = settings->value(QStringLiteral("Name"));
    if (stored.isString() && !stored.string().isEmpty())
        return stored.string();
    if (useMetadata && defaults().boolForKey(prefs::keys::ImportMetadataName)) {
        if (const platform::DictionaryPtr imported = settings->value(QStringLiteral("Tags: Imported")).dictionary()) {
            const Value title = imported->value(QStringLiteral("itsk/%A9nam"));
            if (title.isString() && !title.string().trimmed().isEmpty())
                return title.string();
        }
    }
    // A local file's name comes from its path: a URL made here would stay with the record,
    // and a load names a hundred thousand records.
    if (const QString localPath = path(); !localPath.isEmpty())
        return lastComponentOfPath(localPath);
    return lastComponentOfURL(URL());
}

void PMMovieRepresentationPrototype::setDisplayName(const QString& name)
{
    PMMovieRepresentationOriginal& o = original();
    QString former;
    const QString tag = originalNameTag();
    if (!tag.isEmpty() && cachedLowercaseValueForLowercaseTag(tag.toLower()).isEmpty())
        former = namesAutomatically() ? o.retainedDisplayNameWithExtension(false, false, false) : displayNameWithExtension(false);
    platform::DictionaryPtr settings = userSettings();
    if (!namesAutomatically()) {
        if (name.isEmpty())
            settings->remove(QStringLiteral("Name"));
        else
            settings->setValue(QStringLiteral("Name"), name);
        invalidateDisplayNameRecursively();
        // The former name is worth keeping only when there is one and it differs from
        // the new name.
        if (former.isEmpty())
            return;
        const QString extension = filenameExtension();
        QString newWithoutExtension = name;
        if (!extension.isEmpty() && newWithoutExtension.endsWith(u'.' + extension, Qt::CaseInsensitive))
            newWithoutExtension.chop(extension.size() + 1);
        if (newWithoutExtension == former)
            return;
        setValue(former, tag);
    } else {
        settings->remove(QStringLiteral("Name"));
        if (!former.isEmpty() && former != name)
            setValue(former, tag);
        invalidateDisplayNameRecursively();
    }
}

void PMMovieRepresentationPrototype::invalidateDisplayNameRecursively()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        o.m_displayName.reset();
        o.m_displayNameWithExtension.reset();
        o.m_displayNameWithoutExtension.reset();
        o.invalidateSearchTextLocked();
    }
    invalidateSortNameRecursively();
}

QString PMMovieRepresentationPrototype::sortName()
{
    PMMovieRepresentationOriginal& o = original();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_sortName)
            return *o.m_sortName;
        generation = o.m_sortNameGeneration;
    }
    const QString sort = recordSortString(displayName());
    std::lock_guard lock(o.m_mutex);
    if (o.m_sortName)
        return *o.m_sortName;
    // The name changed while this was made (on another thread): it serves this call only.
    if (generation == o.m_sortNameGeneration)
        o.m_sortName = sort;
    return sort;
}

QByteArray PMMovieRepresentationPrototype::sortNameCollationKey(const QString& sortName)
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        // Kept with its text: a key never answers for another name, whatever changed meanwhile.
        if (!o.m_sortNameCollationKey.isEmpty() && o.m_collationKeySortName == sortName)
            return o.m_sortNameCollationKey;
    }
    const QByteArray key = platform::localizedStandardCollationKey(sortName);
    std::lock_guard lock(o.m_mutex);
    o.m_collationKeySortName = sortName;
    o.m_sortNameCollationKey = key;
    return key;
}

void PMMovieRepresentationPrototype::invalidateSortNameRecursively()
{
    {
        PMMovieRepresentationOriginal& o = original();
        std::lock_guard lock(o.m_mutex);
        o.m_sortName.reset();
        ++o.m_sortNameGeneration;
    }
    invalidateSeriesSortName();
}

QString PMMovieRepresentationPrototype::seriesSortName()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_seriesSortName)
            return *o.m_seriesSortName;
    }
    QString result;
    const QString prefix = seriesIDPrefix();
    const QString seriesSort = prefix.isEmpty() ? QString() : mainController().sortNameForSeriesIDPrefix(prefix);
    if (!seriesSort.isEmpty()) {
        result = platform::format("%@:%@", seriesSort, indexedSeriesID());
        if (associatedSortLastFlag(seriesSort))
            setAssociatedSortLastFlag(result, true);
    } else {
        const QString sort = sortName();
        result = sort.isEmpty() ? sort : sort + QStringLiteral(":Z");
        if (!sort.isEmpty() && associatedSortLastFlag(sort))
            setAssociatedSortLastFlag(result, true);
    }
    std::lock_guard lock(o.m_mutex);
    if (!o.m_seriesSortName)
        o.m_seriesSortName = result;
    return *o.m_seriesSortName;
}

void PMMovieRepresentationPrototype::invalidateSeriesSortName()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_seriesSortName.reset();
}

QString PMMovieRepresentationPrototype::suggestedFilename()
{
    const Value stored = userSettings()->value(QStringLiteral("Auto-Filename"));
    if (stored.isString() && !stored.string().isEmpty())
        return stored.string();
    return original().retainedDisplayNameWithExtension(true, namesAutomatically(), true);
}

// ---- List columns

platform::DictionaryPtr PMMovieRepresentationPrototype::valueLabelsByListIDForSeries(bool series, QStringList* getOrderedListIDs)
{
    const bool fuzzy = PMCachedSettings::determineFuzzyOldestDate;
    QList<std::pair<QString, QString>> labels = {
        {QStringLiteral("GroupListName"), QStringLiteral("Name")},
        {QStringLiteral("GroupListTime"), QStringLiteral("Time")},
        {QStringLiteral("GroupListRating"), QStringLiteral("Rating")},
        {QStringLiteral("GroupListLocation"), QStringLiteral("Location")},
        {QStringLiteral("GroupListSize"), QStringLiteral("File Size")},
        {QStringLiteral("GroupListWidth"), QStringLiteral("Width")},
        {QStringLiteral("GroupListHeight"), QStringLiteral("Height")},
        {QStringLiteral("GroupListResolution"), QStringLiteral("Resolution")},
    };
    if (fuzzy)
        labels.append({QStringLiteral("GroupListOldestDate"), QStringLiteral("Date")});
    labels.append({QStringLiteral("GroupListCreationDate"), QStringLiteral("Date Created")});
    labels.append({QStringLiteral("GroupListDate"), fuzzy ? (series ? QStringLiteral("Last Added") : QStringLiteral("Added")) : QStringLiteral("Date Added")});
    labels.append({QStringLiteral("GroupListPlaybackDate"), QStringLiteral("Last Opened")});
    labels.append({QStringLiteral("GroupListCounter"), QStringLiteral("Counter")});
    auto result = platform::Dictionary::make();
    for (const auto& [id, label] : labels) {
        result->setValue(id, label);
        if (getOrderedListIDs)
            getOrderedListIDs->append(id);
    }
    return result;
}

Value PMMovieRepresentationPrototype::valueForListID(const QString& listID, bool tip)
{
    const bool fuzzy = PMCachedSettings::determineFuzzyOldestDate;
    if (listID == QStringLiteral("GroupListName"))
        return tip ? Value() : Value(displayName());
    if (listID == QStringLiteral("GroupListRating"))
        return tip ? Value() : Value(rating());
    if (listID == QStringLiteral("GroupListDate")) {
        if (!fuzzy)
            return Value(additionDate());
        if (!tip)
            return Value(newestDate());
        const QString n = fuzzyDescriptionForEndOfYearOnly(newestDate(), false);
        QString c;
        if (PMCachedSettings::determineFuzzyNewestDateUseSortingContext && hasNewestDateInSortingContext()) {
            c = fuzzyDescriptionForEndOfYearOnly(newestDateInSortingContext(), false);
            if (c == n)
                c.clear();
        }
        if (fuzzyDescriptionForEndOfYearOnly(oldestDate(), false) == n)
            return c.isEmpty() ? Value() : Value(platform::format("⇅ %@", c));
        return c.isEmpty() ? Value(n) : Value(platform::format("%@ · ⇅ %@", n, c));
    }
    if (listID == QStringLiteral("GroupListCreationDate")) {
        const Date created = creationDate();
        if (isNeverDate(created))
            return {};
        if (!tip)
            return Value(created);
        if (fuzzy || !(created < additionDate()))
            return {};
        return Value(created);
    }
    if (listID == QStringLiteral("GroupListOldestDate")) {
        if (!tip)
            return Value(oldestDate());
        if (!fuzzy)
            return {};
        const long year = yearTagValue();
        if (year >= 1 && oldestDate() == dateWithEndOfYear(year))
            return {};
        return Value(oldestDate());
    }
    if (listID == QStringLiteral("GroupListSize"))
        return tip ? Value() : Value(fileSizeDescriptionWithBytesCount(movieFileSize()));
    if (listID == QStringLiteral("GroupListCounter")) {
        const Value c = counterNumber();
        return c.isNull() ? Value(0LL) : c;
    }
    if (listID == QStringLiteral("GroupListWidth") || listID == QStringLiteral("GroupListHeight")) {
        if (tip)
            return {};
        const QSizeF size = assetSizeIfCached(false);
        const double side = listID == QStringLiteral("GroupListWidth") ? size.width() : size.height();
        return side < 1 ? Value() : Value(stringWithDouble(side, 0, false));
    }
    if (listID == QStringLiteral("GroupListResolution")) {
        if (tip)
            return {};
        const QString description = assetSizeDescription();
        return description.isEmpty() ? Value() : Value(description);
    }
    if (listID == QStringLiteral("GroupListPlaybackDate")) {
        const Date last = lastPlaybackDate();
        return isNeverDate(last) ? Value() : Value(last);
    }
    if (listID == QStringLiteral("GroupListTime")) {
        if (tip)
            return {};
        const long long d = duration();
        return Value(d >= 1 ? PMDurationString(double(d)) : QStringLiteral("-"));
    }
    return tip ? Value() : Value(tagValueForListID(listID));
}

QString PMMovieRepresentationPrototype::fileMetaDataDescriptionForToolTip(bool forToolTip)
{
    QStringList parts;
    const QString extension = filenameExtension();
    if (!extension.isEmpty())
        parts << extension.toUpper();
    const long long d = duration();
    if (d >= 1)
        parts << PMDurationString(double(d));
    if (const QString size = movieFileSizeDescriptionIncludingEditedSize(true); !size.isEmpty())
        parts << size;
    if (const QString pixels = assetSizeDescription(); !pixels.isEmpty())
        parts << pixels;
    if (auto& seriesText = PMMovieRepresentationServices::shared().seriesIndexDescription)
        if (const QString text = seriesText(*this); !text.isEmpty())
            parts << text;
    if (forToolTip) {
        const long long stars = (long long)rating();
        if (stars >= 1)
            parts << stringWithNumberOfStars(stars, QString());
        else if (PMCachedSettings::determineFuzzyOldestDate)
            parts << fuzzyDescriptionForEndOfYearOnly(oldestDate(), false);
        else
            parts << platform::format("Added: %@", fuzzyDescriptionForEndOfYearOnly(additionDate(), false));
    }
    return parts.join(QStringLiteral(" · "));
}

QString PMMovieRepresentationPrototype::toolTip()
{
    QStringList lines;
    lines << displayName().trimmed();
    if (const QString facts = fileMetaDataDescriptionForToolTip(true); !facts.isEmpty())
        lines << facts;
    const platform::DictionaryPtr tags = cachedTags();
    QStringList keys = tags ? tags->keys() : QStringList();
    std::sort(keys.begin(), keys.end(), tagEntryLessThan);
    const Value thresholdValue = defaults().objectForKey(prefs::keys::ToolTipsTruncationThreshold);
    const qsizetype threshold = thresholdValue.hasNumericValue() ? qsizetype(thresholdValue.toLongLong()) : 500;
    for (const QString& key : keys) {
        const platform::DictionaryPtr entry = tags->value(key).dictionary();
        if (!entry)
            continue;
        const QString value = entry->value(QStringLiteral("Value")).isString() ? entry->value(QStringLiteral("Value")).string() : QString();
        if (value.isEmpty())
            continue;
        const QString name = entry->value(QStringLiteral("Tag")).isString() ? entry->value(QStringLiteral("Tag")).string() : key;
        const QString text = PMToolTipTruncatedTagText(value, prettyButBrokenCSVString(value), threshold);
        lines << platform::format("• %@: %@", name, text);
    }
    if (!defaults().boolForKey(prefs::keys::ToolTipsSkipDatesAndCounter)) {
        QStringList ids;
        const platform::DictionaryPtr labels = valueLabelsByListIDForSeries(!seriesIDPrefix().isEmpty(), &ids);
        for (const QString& id : ids) {
            const Value v = valueForListID(id, true);
            if (v.isNull())
                continue;
            const QString text = v.isDate() ? fuzzyDescriptionForEndOfYearOnly(v.date(), false) : v.description();
            if (!text.isEmpty())
                lines << platform::format("• %@: %@", labels->value(id).string(), text);
        }
    }
    if (isSearchResultProxy() && !duplicateImageHash().isEmpty())
        lines << platform::format("• %@: %@", QStringLiteral("Image Hash"), duplicateImageHash());
    if (isMissing()) {
        lines << QString();
        lines << (isMissingVolume() ? missingVolumeDescription(path()) : platform::format("Missing: %@", locationKey()));
    }
    return lines.join(u'\n');
}

// ---- Matching

bool PMMovieRepresentationPrototype::isMatchForIdentifiers(const QSet<QString>& identifiers)
{
    if (identifiers.contains(uniqueLibraryID()))
        return true;
    const QString prefix = seriesIDPrefix();
    return !prefix.isEmpty() && identifiers.contains(prefix);
}

// The application that opens the record as far as it is known without asking the viewer
// rules: the chosen one, or the rules' answer once something else asked for it (that answer
// makes the search text again). The rules' patterns are the user's: run for every record
// each time the search texts are built, one slow pattern held every search.
namespace {

QString knownApplicationPath(PMMovieRepresentationOriginal& o)
{
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_applicationPath)
            return *o.m_applicationPath;
    }
    const Value stored = o.userSettings()->value(QStringLiteral("Application Path"));
    return stored.isString() && !stored.string().isEmpty() ? platform::stringByExpandingTildeInPath(stored.string()) : QString();
}

} // namespace

// The test record by record, for terms the folded texts cannot answer.
bool PMMovieRepresentationPrototype::isMatchForSearchStringDirectly(const QString& string, bool searchName, bool searchMetadata, bool searchLocation)
{
    QString s = string;
    if (searchName && displayNameWithExtension(true).contains(s, Qt::CaseInsensitive))
        return true;
    if (searchMetadata) {
        if (s.startsWith(u'*')) {
            const long long r = (long long)rating();
            const QChar suffix = s.endsWith(u'+') ? u'+' : s.endsWith(u'-') ? u'-' : QChar();
            if (!suffix.isNull())
                s.chop(1);
            const long long n = s.size();
            const bool holds = suffix == u'+' ? r >= n : suffix == u'-' ? r < n : r == n;
            const bool onlyStars = std::all_of(s.begin(), s.end(), [](QChar c) { return c == u'*'; });
            if (holds && onlyStars)
                return true;
        }
        if (!s.isEmpty()) {
            const QString application = knownApplicationPath(original());
            if (!application.isEmpty() && QFileInfo(application).fileName().contains(s, Qt::CaseInsensitive))
                return true;
            bool found = false;
            forEachTag(cachedTags(), [&](const Value& name, const Value& value) {
                found = found || (name.isString() && name.string().compare(s, Qt::CaseInsensitive) == 0)
                        || (value.isString() && value.string().contains(s, Qt::CaseInsensitive));
            });
            if (found)
                return true;
        }
    }
    if (searchLocation && !s.isEmpty()) {
        const QString p = path();
        if ((p.isEmpty() ? URLString() : p).contains(s, Qt::CaseInsensitive))
            return true;
        const Value originalURL = userSettings()->value(QStringLiteral("Original URL"));
        if (originalURL.isString() && originalURL.string().contains(s, Qt::CaseInsensitive))
            return true;
        if (defaults().boolForKey(prefs::keys::SearchCheckReadablePathRepresentation) && !p.isEmpty()
            && readablePathRepresentationIndicatingAvailability(p, false).contains(s, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// ---- Search text

namespace {

constexpr char16_t kSearchTextSeparator = PMSearchTextSeparator;
std::atomic<std::uint64_t> gSearchTextEpoch{0};

void appendFolded(QString& into, QStringView text)
{
    const char16_t* fold = PMCaseFoldTable();
    const qsizetype at = into.size();
    into.resize(at + text.size());
    char16_t* out = reinterpret_cast<char16_t*>(into.data()) + at;
    const char16_t* in = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = fold[in[i]];
}

QString folded(QStringView text)
{
    QString out;
    appendFolded(out, text);
    return out;
}

bool containsFolded(QStringView haystack, QStringView needle)
{
    return std::u16string_view(haystack.utf16(), size_t(haystack.size())).find(std::u16string_view(needle.utf16(), size_t(needle.size())))
           != std::u16string_view::npos;
}

} // namespace

std::uint64_t PMSearchTextEpoch()
{
    return gSearchTextEpoch.load(std::memory_order_acquire);
}

namespace {

PMChangedRecords& droppedSearchTexts()
{
    static PMChangedRecords dropped;
    return dropped;
}

} // namespace

bool PMTakeRecordsWithDroppedSearchTexts(std::vector<const PMMovieRepresentationOriginal*>& records)
{
    return droppedSearchTexts().take(records);
}

void PMMovieRepresentationOriginal::invalidateSearchTextLocked()
{
    m_searchText.reset();
    ++m_searchTextGeneration;
    droppedSearchTexts().note(this);
    gSearchTextEpoch.fetch_add(1, std::memory_order_acq_rel);
}

PMSearchTerm::PMSearchTerm(const QString& given) : string(given)
{
    matchesFoldedText = !given.isEmpty() && !given.startsWith(u'*')
                        && std::none_of(given.begin(), given.end(), [](QChar c) { return c.isSurrogate() || c.unicode() == kSearchTextSeparator; });
    if (matchesFoldedText)
        folded = ::folded(given);
}

std::shared_ptr<const PMMovieSearchText> PMMovieRepresentationPrototype::searchText()
{
    PMMovieRepresentationPrototype& record = *this;
    PMMovieRepresentationOriginal& o = original();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_searchText)
            return o.m_searchText;
        generation = o.m_searchTextGeneration;
    }
    auto made = std::make_shared<PMMovieSearchText>();
    QString& text = made->text;
    appendFolded(text, record.displayNameWithExtension(true));
    made->nameEnd = text.size();
    text += QChar(kSearchTextSeparator);
    const QString application = knownApplicationPath(o);
    if (!application.isEmpty())
        appendFolded(text, QFileInfo(application).fileName());
    text += QChar(kSearchTextSeparator);
    forEachTag(record.cachedTags(), [&](const Value& name, const Value& value) {
        if (name.isString())
            made->tagNames << folded(name.string());
        if (value.isString()) {
            appendFolded(text, value.string());
            text += QChar(kSearchTextSeparator);
        }
    });
    made->metadataEnd = text.size();
    const QString p = record.path();
    appendFolded(text, p.isEmpty() ? record.URLString() : p);
    std::lock_guard lock(o.m_mutex);
    if (o.m_searchText)
        return o.m_searchText;
    // Something the text holds changed while it was made: it serves this search only.
    if (generation == o.m_searchTextGeneration)
        o.m_searchText = made;
    return made;
}

bool PMMovieRepresentationPrototype::isMatchForSearchString(const QString& string, bool searchName, bool searchMetadata, bool searchLocation)
{
    return isMatchForSearchTerm(PMSearchTerm(string), searchName, searchMetadata, searchLocation);
}

bool PMMovieRepresentationPrototype::isMatchForSearchTerm(const PMSearchTerm& term, bool searchName, bool searchMetadata, bool searchLocation,
                                                          const PMMovieSearchText* given)
{
    if (!term.matchesFoldedText)
        return isMatchForSearchStringDirectly(term.string, searchName, searchMetadata, searchLocation);
    std::shared_ptr<const PMMovieSearchText> made;
    if (!given)
        made = this->searchText();
    const PMMovieSearchText* searchText = given ? given : made.get();
    const QStringView text(searchText->text);
    const QStringView needle(term.folded);
    if (searchName && searchMetadata) {
        if (containsFolded(text.first(searchText->metadataEnd), needle))
            return true;
    } else if (searchName) {
        if (containsFolded(text.first(searchText->nameEnd), needle))
            return true;
    } else if (searchMetadata) {
        if (containsFolded(text.sliced(searchText->nameEnd, searchText->metadataEnd - searchText->nameEnd), needle))
            return true;
    }
    if (searchMetadata && searchText->tagNames.contains(term.folded))
        return true;
    if (searchLocation) {
        if (containsFolded(text.sliced(searchText->metadataEnd), needle))
            return true;
        const Value originalURL = userSettings()->value(QStringLiteral("Original URL"));
        if (originalURL.isString() && originalURL.string().contains(term.string, Qt::CaseInsensitive))
            return true;
        const QString p = path();
        if (defaults().boolForKey(prefs::keys::SearchCheckReadablePathRepresentation) && !p.isEmpty()
            && readablePathRepresentationIndicatingAvailability(p, false).contains(term.string, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
