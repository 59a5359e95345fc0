#include "library/model/PMInfoTagEditor.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMRange.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "library/model/PMTagType.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QSet>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace R = PMInfoTagRecord;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMInfoTagEditor", text);
}

QString stringOf(const DictionaryPtr& d, const QString& key)
{
    if (!d)
        return {};
    const Value v = d->value(key);
    return v.isString() ? v.string() : QString();
}

QStringList stringList(const DictionaryPtr& d, const QString& key)
{
    QStringList result;
    if (const ArrayPtr list = d ? d->value(key).array() : nullptr)
        for (const Value& v : *list)
            if (v.isString())
                result << v.string();
    return result;
}

bool containsIgnoringCase(const QStringList& list, const QString& value)
{
    return std::any_of(list.begin(), list.end(), [&](const QString& s) { return s.compare(value, Qt::CaseInsensitive) == 0; });
}

// The values of both texts, each once ignoring case, in the order met.
QString unionOfValues(const QString& a, const QString& b)
{
    QStringList values;
    for (const QString& text : {a, b})
        if (!text.isEmpty())
            for (const QString& v : cachedCSVFields(text))
                if (!v.trimmed().isEmpty() && !containsIgnoringCase(values, v))
                    values << v;
    return PMCSVStringWithFields(values, QString(), false);
}

void sortRecords(const ArrayPtr& records)
{
    if (records)
        std::stable_sort(records->values().begin(), records->values().end(), [](const Value& a, const Value& b) { return PMCompareTagEntries(a, b) < 0; });
}

DictionaryPtr recordNamed(const ArrayPtr& records, const QString& name)
{
    if (records)
        for (const Value& v : *records)
            if (const DictionaryPtr d = v.dictionary(); d && R::tag(d).compare(name, Qt::CaseInsensitive) == 0)
                return d;
    return nullptr;
}

void removeIdentical(const ArrayPtr& records, const DictionaryPtr& record)
{
    if (!records)
        return;
    const qsizetype i = records->indexOfIdentical(record.get());
    if (i >= 0)
        records->removeAt(i);
}

QString metaReference(const QString& name)
{
    return QStringLiteral("<?meta:%1?>").arg(name);
}

} // namespace

// ---- Records -----------------------------------------------------------------------------

namespace PMInfoTagRecord {

DictionaryPtr make(const QString& tag, const QString& value)
{
    return Dictionary::make({{kTag, tag}, {kValue, value}, {kState, Value(1LL)}, {kImmutable, Value(1LL)}});
}

QString tag(const DictionaryPtr& record)
{
    return stringOf(record, kTag);
}

QString value(const DictionaryPtr& record)
{
    return stringOf(record, kValue);
}

bool isImmutable(const DictionaryPtr& record)
{
    return record && record->contains(kImmutable) && record->value(kImmutable).toBool();
}

long long counter(const DictionaryPtr& record)
{
    return record ? record->value(kCounter).toLongLong() : 0;
}

} // namespace PMInfoTagRecord

PMInfoTagEditor::PMInfoTagEditor(PMMainController& controller) : m_controller(controller) {}

qsizetype PMInfoTagEditor::numberOfMovies() const
{
    return m_controller._infoMovieRepresentations ? m_controller._infoMovieRepresentations->count() : 0;
}

void PMInfoTagEditor::prepareInfoTagEditorIncludingRating(const ArrayPtr& movies, bool includingRating)
{
    PMMainController& c = m_controller;
    if (!movies)
        c._infoMovieRepresentations = Array::make();
    else if (movies != c._infoMovieRepresentations)
        c._infoMovieRepresentations = std::make_shared<Array>(*movies);
    c._infoDecodedMetaReferenceCache.clear();
    c._infoGloballyRenamedTagNames = nullptr;
    m_replacementImportTagNames.reset();
    // The values and carriers come from the tag types: bring them up to date first.
    c.invalidateTagTypes();

    // 1. Every tag of every edited movie, once per lower-case name.
    QHash<QString, DictionaryPtr> records;
    QStringList order;
    for (const Value& v : *c._infoMovieRepresentations) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        const DictionaryPtr tags = movie->cachedTags();
        if (!tags)
            continue;
        for (auto it = tags->begin(); it != tags->end(); ++it) {
            const QString key = it.key().toLower();
            if (DictionaryPtr existing = records.value(key)) {
                existing->setValue(R::kCounter, Value(R::counter(existing) + 1));
                continue;
            }
            const DictionaryPtr entry = it.value().dictionary();
            DictionaryPtr record = entry ? deeplyMutableCopy(entry) : Dictionary::make();
            if (R::tag(record).isEmpty())
                record->setValue(R::kTag, it.key());
            record->setValue(R::kCounter, Value(1LL));
            records.insert(key, record);
            order << key;
        }
    }
    for (const QString& key : order) {
        const DictionaryPtr record = records.value(key);
        bool unambiguous = false;
        c.determineEffectiveValueAndStateForInfoTag(record, &unambiguous);
        if (unambiguous)
            record->setValue(R::kImmutable, Value(1LL));
    }

    // 2. The rating.
    if (includingRating) {
        const long long common = commonRatingAmongRatings(*c._infoMovieRepresentations, nullptr);
        m_rating = {};
        if (common < 0 && c._infoMovieRepresentations->count() > 0) {
            m_rating.rating = 5;
            m_rating.switchOn = false;
            m_rating.switchEnabled = true;
        } else {
            m_rating.rating = std::max(0LL, common);
        }
        m_rating.switchHidden = defaults().boolForKey(prefs::keys::ShowAllTagEditorCheckboxes) ? c._infoMovieRepresentations->count() == 1
                                                                                                         : !m_rating.switchEnabled;
    }

    // 3. Every tag of the library, and which ones movies outside the edit carry too.
    for (auto it = c._tagTypes.constBegin(); it != c._tagTypes.constEnd(); ++it) {
        if (DictionaryPtr existing = records.value(it.key())) {
            if (R::counter(existing) < it->counter)
                existing->setValue(R::kCounter, Value(R::kSharedCounter));
            continue;
        }
        DictionaryPtr record = R::make(it->tag.isEmpty() ? it.key() : it->tag);
        record->setValue(R::kCounter, Value(R::kSharedCounter));
        records.insert(it.key(), record);
        order << it.key();
    }

    // 4. The tags kept even where no movie has them.
    c._infoPersistentTagNames = Dictionary::make();
    if (const DictionaryPtr persistent = defaults().dictionaryForKey(prefs::keys::PersistentTags)) {
        for (auto it = persistent->begin(); it != persistent->end(); ++it) {
            const QString name = it.value().isString() ? it.value().string() : it.key();
            const QString key = name.toLower();
            if (name.trimmed().isEmpty())
                continue;
            c._infoPersistentTagNames->setValue(key, name);
            if (!records.contains(key)) {
                records.insert(key, R::make(name));
                order << key;
            }
        }
    }

    // 5. The plain tags are always there.
    if (!records.contains(QStringLiteral("tags"))) {
        records.insert(QStringLiteral("tags"), R::make(QStringLiteral("Tags")));
        order << QStringLiteral("tags");
    }

    // 6. The notes have a field of their own.
    m_notes = records.take(QStringLiteral("notes"));
    order.removeAll(QStringLiteral("notes"));
    if (!m_notes)
        m_notes = R::make(QStringLiteral("Notes"));

    // 7. The records in the tag-name order, filtered.
    c._infoTags = Array::make();
    for (const QString& key : order)
        c._infoTags->append(Value(records.value(key)));
    sortRecords(c._infoTags);
    filterInfoTags(false);
}

// ---- Notes -------------------------------------------------------------------------------

QString PMInfoTagEditor::notesText() const
{
    const QString value = R::value(m_notes);
    if (value.isEmpty())
        return {};
    return cachedCSVFields(value).join(QStringLiteral("\n\n"));
}

bool PMInfoTagEditor::notesSwitchHidden() const
{
    return !m_notes || R::isImmutable(m_notes);
}

bool PMInfoTagEditor::notesSwitchOn() const
{
    return m_notes && m_notes->value(R::kState).toLongLong() != 0;
}

// ---- Filtering ----------------------------------------------------------------------------

ArrayPtr PMInfoTagEditor::updateInfoTagFilterButtonVisibility() const
{
    const ArrayPtr all = m_controller._infoTags;
    if (!all || all->count() < 2)
        return nullptr;
    auto filtered = Array::make();
    filtered->append(all->at(0));
    for (qsizetype i = 1; i < all->count(); ++i) {
        const DictionaryPtr record = all->at(i).dictionary();
        if (record && (!R::isImmutable(record) || !R::value(record).isEmpty()))
            filtered->append(all->at(i));
    }
    return filtered->count() < all->count() ? filtered : nullptr;
}

bool PMInfoTagEditor::filterIsOn()
{
    return defaults().boolForKey(prefs::keys::FilterTagEditor);
}

void PMInfoTagEditor::filterInfoTags(bool toggle)
{
    if (toggle)
        defaults().setBool(!filterIsOn(), prefs::keys::FilterTagEditor);
    const ArrayPtr filtered = updateInfoTagFilterButtonVisibility();
    m_controller._filteredInfoTags = filtered && filterIsOn() ? filtered : (m_controller._infoTags ? m_controller._infoTags : Array::make());
}

bool PMInfoTagEditor::hidesRecords() const
{
    const ArrayPtr all = m_controller._infoTags;
    const ArrayPtr shown = m_controller._filteredInfoTags;
    return all && shown && shown != all && shown->count() < all->count();
}

// ---- Adding -----------------------------------------------------------------------------

DictionaryPtr PMInfoTagEditor::infoAddTag(const QString& tagName, bool* getIsNewProperty)
{
    PMMainController& c = m_controller;
    if (!c._infoTags)
        c._infoTags = Array::make();
    if (getIsNewProperty)
        *getIsNewProperty = false;
    const QString name = tagName.trimmed();

    // 1. A hidden record of that name is shown again; a shown one is simply chosen (a second
    // record of the same name would only make "Year 1").
    if (!name.isEmpty()) {
        if (const DictionaryPtr shown = recordNamed(c._filteredInfoTags, name))
            return shown;
        const DictionaryPtr hidden = c._filteredInfoTags ? recordNamed(c._infoTags, name) : nullptr;
        if (hidden) {
            if (c._infoTags->count() - c._filteredInfoTags->count() <= 1) {
                defaults().setBool(false, prefs::keys::FilterTagEditor);
                c._filteredInfoTags = c._infoTags;
            } else {
                c._filteredInfoTags->append(Value(hidden));
                sortRecords(c._filteredInfoTags);
            }
            return hidden;
        }
    }

    // 2. A new record; a named one refers to each movie's own metadata of that name.
    DictionaryPtr record;
    if (name.isEmpty()) {
        record = R::make(uniqueTagName(*c._infoTags, localized("New Property"), Value()));
        if (getIsNewProperty)
            *getIsNewProperty = true;
    } else {
        const QString unique = uniqueTagName(*c._infoTags, name, Value());
        record = R::make(unique, unique == name ? metaReference(name) : QString());
    }
    const bool separateShownList = c._filteredInfoTags && c._filteredInfoTags != c._infoTags;
    const std::int64_t priority = defaults().integerForKey(prefs::keys::PropertySortingPriority);
    c._infoTags->append(Value(record));
    if (priority >= 1)
        sortRecords(c._infoTags);
    if (separateShownList) {
        c._filteredInfoTags->append(Value(record));
        if (priority >= 0)
            sortRecords(c._filteredInfoTags);
    } else if (!c._filteredInfoTags) {
        c._filteredInfoTags = c._infoTags;
    }
    c._infoDecodedMetaReferenceCache.clear();
    return record;
}

std::vector<PMInfoAddMenuEntry> PMInfoTagEditor::addMenuEntries() const
{
    const PMMainController& c = m_controller;
    std::vector<PMInfoAddMenuEntry> entries;
    QSet<QString> offered;
    // 1. The hidden records.
    if (hidesRecords()) {
        QSet<QString> shownNames;
        for (const Value& v : *c._filteredInfoTags)
            shownNames.insert(R::tag(v.dictionary()).toLower());
        entries.push_back({localized("New..."), QString(), false});
        entries.push_back({QString(), QString(), true});
        for (const Value& v : *c._infoTags) {
            const QString tag = R::tag(v.dictionary());
            if (!tag.isEmpty() && !shownNames.contains(tag.toLower())) {
                entries.push_back({tag, tag, false});
                offered.insert(tag.toLower());
            }
        }
    }
    // 2. The metadata names that are not kept already (nor shown: choosing one would only
    // select its row).
    QSet<QString> shown;
    if (c._filteredInfoTags)
        for (const Value& v : *c._filteredInfoTags)
            shown.insert(R::tag(v.dictionary()).toLower());
    std::vector<PMInfoAddMenuEntry> importable;
    for (const QString& name : PMImportableMetadataTagNames()) {
        const QString title = QCoreApplication::translate("PMTagType", name.toUtf8().constData());
        const QString key = title.toLower();
        if ((c._infoPersistentTagNames && c._infoPersistentTagNames->contains(key)) || offered.contains(key) || shown.contains(key))
            continue;
        importable.push_back({title, title, false});
    }
    if (!importable.empty()) {
        if (!entries.empty())
            entries.push_back({QString(), QString(), true});
        entries.insert(entries.end(), importable.begin(), importable.end());
    }
    return entries;
}

// ---- Deleting and clearing ---------------------------------------------------------------

bool PMInfoTagEditor::canDeleteInfoTag(const DictionaryPtr& record) const
{
    if (!record)
        return false;
    return R::counter(record) != R::kSharedCounter || !R::isImmutable(record) || !R::value(record).isEmpty();
}

void PMInfoTagEditor::deleteInfoTag(const DictionaryPtr& record, bool clearValueOnly)
{
    if (!canDeleteInfoTag(record))
        return;
    PMMainController& c = m_controller;
    const QString tag = R::tag(record);
    c._infoDecodedMetaReferenceCache.clear();
    if (!clearValueOnly && tag.toLower() != QLatin1String("tags") && R::counter(record) != R::kSharedCounter) {
        // Only the edited movies carry it: it goes away, and is no longer imported.
        if (c._filteredInfoTags != c._infoTags)
            removeIdentical(c._filteredInfoTags, record);
        removeIdentical(c._infoTags, record);
        if (c._infoPersistentTagNames)
            c._infoPersistentTagNames->remove(tag.toLower());
        const QStringList current = m_replacementImportTagNames ? *m_replacementImportTagNames : PMImportMetadataTagNames();
        QStringList kept;
        for (const QString& name : current) {
            const bool pseudo = name.compare(QLatin1String("Notes"), Qt::CaseInsensitive) == 0 || name.compare(QLatin1String("Tags"), Qt::CaseInsensitive) == 0;
            const QString title = QCoreApplication::translate("PMTagType", name.toUtf8().constData());
            if (!pseudo && (title.compare(tag, Qt::CaseInsensitive) == 0 || name.compare(tag, Qt::CaseInsensitive) == 0))
                continue;
            kept << name;
        }
        if (kept.size() != current.size())
            m_replacementImportTagNames = kept;
        return;
    }
    // Other movies carry it too (or it is the plain tags): only its values go, here.
    auto unchecked = Array::make();
    for (const QString& v : c.valuesForTag(tag, QString(), nullptr, PMNotFound))
        unchecked->append(Value(v));
    if (unchecked->isEmpty())
        record->remove(R::kUnchecked);
    else
        record->setValue(R::kUnchecked, Value(unchecked));
    record->remove(R::kChecked);
    record->setValue(R::kState, Value(1LL));
    record->setValue(R::kValue, Value(QString()));
}

void PMInfoTagEditor::clearShownInfoTags()
{
    if (!m_controller._filteredInfoTags)
        return;
    const std::vector<Value> shown = m_controller._filteredInfoTags->values();
    for (const Value& v : shown)
        deleteInfoTag(v.dictionary(), false);
}

// ---- Writing back -------------------------------------------------------------------------

void PMInfoTagEditor::applyGlobalRenames()
{
    PMMainController& c = m_controller;
    const DictionaryPtr renames = c._infoGloballyRenamedTagNames;
    if (!renames || renames->isEmpty())
        return;
    for (auto movieIt = c._nonProxyRawMovieRepresentationsByID.cbegin(); movieIt != c._nonProxyRawMovieRepresentationsByID.cend(); ++movieIt) {
        PMMovieRepresentationOriginal* movie = movieIt.value().get();
        const DictionaryPtr cached = movie ? movie->cachedTags() : nullptr;
        if (!cached)
            continue;
        DictionaryPtr tags;
        for (auto it = renames->begin(); it != renames->end(); ++it) {
            const QString oldKey = it.key().toLower();
            const QString newName = it.value().isString() ? it.value().string() : QString();
            const QString newKey = newName.toLower();
            if (newName.isEmpty() || newKey == oldKey)
                continue;
            const DictionaryPtr source = tags ? tags : cached;
            const DictionaryPtr moved = source->value(oldKey).dictionary();
            if (!moved)
                continue;
            if (!tags)
                tags = deeplyMutableCopy(cached);
            // Onto a name the movie has already: both sets of values, each once.
            const QString value = unionOfValues(stringOf(tags->value(newKey).dictionary(), R::kValue), stringOf(moved, R::kValue));
            tags->remove(oldKey);
            tags->setValue(newKey, Dictionary::make({{R::kTag, newName}, {R::kValue, value}}));
        }
        if (tags)
            movie->setTags(tags);
    }
    if (c._infoPersistentTagNames)
        for (const QString& old : renames->keys())
            c._infoPersistentTagNames->remove(old.toLower());
}

void PMInfoTagEditor::storePersistentTagNames()
{
    PMMainController& c = m_controller;
    if (!c._infoPersistentTagNames)
        c._infoPersistentTagNames = Dictionary::make();
    for (const Value& v : *c._infoTags) {
        const QString tag = R::tag(v.dictionary());
        if (!tag.trimmed().isEmpty())
            c._infoPersistentTagNames->setValue(tag.toLower(), tag);
    }
    const DictionaryPtr stored = defaults().dictionaryForKey(prefs::keys::PersistentTags);
    if (!stored || !stored->isEqual(*c._infoPersistentTagNames))
        defaults().setObject(Value(deeplyMutableCopy(c._infoPersistentTagNames)), prefs::keys::PersistentTags);
    // The kept names decide which metadata is imported as tags: only when that changed do
    // the movies' tags need reading again (a library-wide rebuild).
    const QSet<QString> importedBefore = c._importTagNames;
    if (c.updateImportTagNames(true) != importedBefore)
        for (auto it = c._nonProxyRawMovieRepresentationsByID.cbegin(); it != c._nonProxyRawMovieRepresentationsByID.cend(); ++it)
            if (it.value())
                it.value()->invalidateCachedTags();
}

DictionaryPtr PMInfoTagEditor::rebuiltTags(const Value& movieValue, qsizetype index, const std::optional<QString>& notes)
{
    PMMainController& c = m_controller;
    PMMovieRepresentationPrototype* movie = PMMovie(movieValue);
    const DictionaryPtr current = movie->cachedTags();
    const bool single = numberOfMovies() == 1;
    auto tags = Dictionary::make();
    auto put = [&](const QString& key, const QString& tag, const QString& value) {
        // Two records that end under one name keep the values of both.
        const QString merged = tags->contains(key) ? unionOfValues(stringOf(tags->value(key).dictionary(), R::kValue), value) : value;
        tags->setValue(key, Dictionary::make({{R::kTag, tag}, {R::kValue, merged}}));
    };
    auto decoded = [&](const QStringList& values, const QString& key) {
        return PMCSVStringWithFields(c.decodeMetaReferencesInStrings(values, movie, key, index), QString(), false);
    };
    for (const Value& v : *c._infoTags) {
        const DictionaryPtr record = v.dictionary();
        const QString tag = R::tag(record);
        if (tag.trimmed().isEmpty())
            continue;
        const QString key = tag.toLower();
        const QString original = stringOf(record, R::kOriginal);
        const QString lookup = original.isEmpty() ? key : original.toLower();
        const DictionaryPtr entry = current ? current->value(lookup).dictionary() : nullptr;
        const long long state = record->value(R::kState).toLongLong();
        if (single || R::isImmutable(record) || state == 1) {
            const QString value = R::value(record);
            put(key, tag, value.isEmpty() ? QString() : decoded(cachedCSVFields(value), key));
        } else if (state == 0) {
            if (entry)
                put(key, tag, stringOf(entry, R::kValue));
        } else {
            // Merged per movie: the values switched on for all, and the movie's own values
            // that were not switched off.
            const QStringList checked = stringList(record, R::kChecked);
            const QStringList unchecked = stringList(record, R::kUnchecked);
            QStringList values;
            for (const QString& value : checked)
                if (!containsIgnoringCase(values, value))
                    values << value;
            const QString own = stringOf(entry, R::kValue);
            if (!own.isEmpty())
                for (const QString& value : cachedCSVFields(own))
                    if (!value.trimmed().isEmpty() && !containsIgnoringCase(unchecked, value) && !containsIgnoringCase(values, value))
                        values << value;
            put(key, tag, values.isEmpty() ? QString() : decoded(values, key));
        }
    }
    if (!notes) {
        if (const DictionaryPtr entry = current ? current->value(QStringLiteral("notes")).dictionary() : nullptr)
            tags->setValue(QStringLiteral("notes"), deeplyMutableCopy(entry));
    } else if (!notes->isEmpty()) {
        const QString text = c.decodeMetaReferencesInString(*notes, movie, QString(), true, false, index, nullptr);
        if (!text.trimmed().isEmpty())
            tags->setValue(QStringLiteral("notes"), Dictionary::make({{R::kTag, QStringLiteral("Notes")}, {R::kValue, text}}));
    }
    return tags;
}

void PMInfoTagEditor::absorbInfoTags(const std::optional<QString>& notes, const std::optional<long long>& rating)
{
    PMMainController& c = m_controller;
    if (!c._infoTags || !c._infoMovieRepresentations)
        return;
    // 1. The metadata no longer imported.
    if (m_replacementImportTagNames) {
        auto names = Array::make();
        for (const QString& name : *m_replacementImportTagNames)
            names->append(Value(name));
        defaults().setObject(Value(names), prefs::keys::ImportMetadataNames);
    }
    // 2-3. Renames for the whole library, then the names kept.
    applyGlobalRenames();
    storePersistentTagNames();
    c.invalidateTagTypes();
    // 4-6. Every edited movie, from the records; the notes as typed (white space alone is none).
    std::optional<QString> notesText = notes;
    if (notesText && notesText->trimmed().isEmpty())
        notesText = QString();
    c._infoDecodedMetaReferenceCache.clear();
    // Every movie's tags are read before any is written, so that every movie is rebuilt from
    // the library as the editor showed it.
    std::vector<std::pair<PMMovieRepresentationPrototype*, DictionaryPtr>> rebuilt;
    qsizetype index = 0;
    for (const Value& v : *c._infoMovieRepresentations) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        rebuilt.emplace_back(movie, rebuiltTags(v, index++, notesText));
    }
    for (auto& [movie, tags] : rebuilt) {
        if (rating)
            movie->setRating(double(std::clamp(*rating, 0LL, 5LL)));
        movie->setTags(tags);
    }
    c.invalidateTagTypes();
}

void PMInfoTagEditor::forgetInfoTagEditorState(bool forgetEdits)
{
    PMMainController& c = m_controller;
    c._infoTags = Array::make();
    c._filteredInfoTags = c._infoTags;
    c._infoPersistentTagNames = Dictionary::make();
    c._infoGloballyRenamedTagNames = nullptr;
    c._infoDecodedMetaReferenceCache.clear();
    m_replacementImportTagNames.reset();
    m_notes = nullptr;
    if (forgetEdits)
        c.invalidateTagTypes();
}
