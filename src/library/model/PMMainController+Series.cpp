// The main controller's share of names made from tags: the automatic display name of a
// movie record, and the names, dates, positions and numbering of series.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManager.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Format.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include "platform/ConcurrentApply.h"

#include <algorithm>
#include <mutex>

using platform::ArrayPtr;
using platform::Date;
using platform::DictionaryPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

const QString kPatternKey = prefs::keys::DetermineNamesAutomaticallyPattern;

// Guards the cached "Name" and "Dummy" of series records: names are also asked for from
// the threads of a concurrent sort, and each is computed once.
std::recursive_mutex& seriesNameMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

ArrayPtr membersOf(const DictionaryPtr& series)
{
    return series ? series->value(QStringLiteral("Items")).array() : nullptr;
}

} // namespace

void PMMainController::installSeriesServices()
{
    PMMovieRepresentationServices& services = PMMovieRepresentationServices::shared();
    services.tagBasedDisplayName = [](PMMovieRepresentationPrototype& movie) {
        return mainController().tagBasedDisplayNameForMovieRepresentation(movie);
    };
    services.oldestDateForSeriesIDPrefix = [](const QString& prefix) { return mainController().oldestDateForSeriesIDPrefix(prefix); };
    services.newestDateForSeriesIDPrefix = [](const QString& prefix) { return mainController().newestDateForSeriesIDPrefix(prefix); };
    services.seriesIndexDescription = [](PMMovieRepresentationPrototype& movie) {
        return mainController().seriesIndexDescriptionForMovieRepresentation(movie, nullptr);
    };
}

void PMMainController::updateDisplayNames()
{
    for (const PMMovieRepresentationOriginalPtr& movie : std::as_const(_nonProxyRawMovieRepresentationsByPath))
        if (movie)
            movie->invalidateDisplayNameRecursively();
    updateLibrary();
}

QString PMMainController::tagBasedDisplayNamePattern()
{
    const Value stored = defaults().objectForKey(kPatternKey);
    if (stored.isString())
        return stored.string().trimmed();
    // First use: made from the batch rename's prefix and suffix, and kept.
    const QString prefix = defaults().stringForKey(prefs::keys::BatchRenameSequencePrefix).trimmed();
    const QString suffix = defaults().stringForKey(prefs::keys::BatchRenameSequenceSuffix).trimmed();
    QString pattern;
    if (!prefix.isEmpty() && !suffix.isEmpty())
        pattern = platform::format("%@ %@", prefix, suffix);
    else if (!suffix.isEmpty())
        pattern = suffix;
    else
        pattern = prefix;
    defaults().setObject(Value(pattern), kPatternKey);
    return pattern;
}

QString PMMainController::tagBasedDisplayNameForMovieRepresentation(PMMovieRepresentationPrototype& movie)
{
    const QString pattern = tagBasedDisplayNamePattern();
    if (!pattern.isEmpty()) {
        const QString name = decodeMetaReferencesInString(pattern, &movie, QString(), false,
                                                          defaults().boolForKey(prefs::keys::DumbDownDecodedBatchRenameCSV), 0,
                                                          nullptr)
                                 .trimmed();
        if (!name.isEmpty())
            return name;
    }
    const DictionaryPtr tags = movie.cachedTags();
    if (!tags || tags->isEmpty())
        return {};
    QStringList keys = tags->keys();
    std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    QStringList values;
    for (const QString& key : keys)
        if (const DictionaryPtr tag = tags->value(key).dictionary())
            values << tag->value(QStringLiteral("Value")).string();
    return values.join(QStringLiteral(" \u00B7 "));
}

QString PMMainController::displayNameForSeries(const DictionaryPtr& series) const
{
    if (!series)
        return {};
    std::lock_guard lock(seriesNameMutex());
    const Value cached = series->value(QStringLiteral("Name"));
    if (cached.isString())
        return cached.string();
    const ArrayPtr members = membersOf(series);
    QString name;
    auto dummy = std::make_shared<PMMovieRepresentationOriginal>(QUrl());
    if (!members || members->isEmpty()) {
        name = QStringLiteral("?");
    } else {
        for (const Value& v : *members)
            if (PMMovieRepresentationPrototype* member = PMMovie(v))
                dummy->addTagValuesFromMovieRepresentation(*member, true);
        name = mainController().tagBasedDisplayNameForMovieRepresentation(*dummy);
        if (name.isEmpty())
            if (PMMovieRepresentationPrototype* first = PMMovie(members->at(0)))
                name = first->displayNameWithExtension(false);
    }
    series->setValue(QStringLiteral("Name"), name);
    series->setValue(QStringLiteral("Dummy"), Value(dummy));
    return name;
}

QString PMMainController::displayNameForSeriesIDPrefix(const QString& prefix) const
{
    if (prefix.isEmpty())
        return {};
    return displayNameForSeries(_nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix));
}

QString PMMainController::sortNameForSeriesIDPrefix(const QString& prefix) const
{
    const ArrayPtr members = prefix.isEmpty() ? nullptr : membersOf(_nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix));
    if (!members || members->isEmpty())
        return {};
    PMMovieRepresentationPrototype* first = PMMovie(members->at(0));
    return first ? first->sortName() : QString();
}

std::optional<Date> PMMainController::oldestDateForSeriesIDPrefix(const QString& prefix) const
{
    const DictionaryPtr series = prefix.isEmpty() ? nullptr : _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix);
    const Value date = series ? series->value(QStringLiteral("Date")) : Value();
    return date.isDate() ? std::optional<Date>(date.date()) : std::nullopt;
}

std::optional<Date> PMMainController::newestDateForSeriesIDPrefix(const QString& prefix) const
{
    const DictionaryPtr series = prefix.isEmpty() ? nullptr : _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix);
    const Value date = series ? series->value(QStringLiteral("Newest")) : Value();
    return date.isDate() ? std::optional<Date>(date.date()) : std::nullopt;
}

QString PMMainController::seriesIndexDescriptionForMovieRepresentation(PMMovieRepresentationPrototype& movie, QString* getSeriesDisplayName)
{
    const QString prefix = movie.seriesIDPrefix();
    const DictionaryPtr series = prefix.isEmpty() ? nullptr : _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix);
    const ArrayPtr members = membersOf(series);
    if (!members || members->isEmpty())
        return {};
    const platform::Object* original = movie.nonProxySelf().objectPointer();
    qsizetype position = -1;
    for (qsizetype i = 0; i < members->count(); ++i)
        if (members->at(i).objectPointer() == original) {
            position = i;
            break;
        }
    if (position < 0)
        return {};
    if (getSeriesDisplayName)
        *getSeriesDisplayName = displayNameForSeries(series);
    return QStringLiteral("%1\u2006/\u2006%2").arg(position + 1).arg(members->count());
}

void PMMainController::organizeSeriesIDs()
{
    if (_nonProxyRawMovieRepresentationSeriesByIDPrefix.isEmpty())
        return;
    QList<DictionaryPtr> allSeries = _nonProxyRawMovieRepresentationSeriesByIDPrefix.values();
    // Each block touches the members of one series only.
    platform::concurrentApply(std::size_t(allSeries.size()), [&allSeries](std::size_t at) {
        const DictionaryPtr& series = allSeries.at(qsizetype(at));
        const ArrayPtr members = membersOf(series);
        if (!members || members->isEmpty())
            return;
        if (members->count() == 1) {
            if (PMMovieRepresentationPrototype* lone = PMMovie(members->at(0)))
                lone->setSeriesID(QString(), 0);
            return;
        }
        PMMovieRepresentationPrototype* first = PMMovie(members->at(0));
        const QString seriesID = first ? first->uniqueLibraryID() : QString();
        if (seriesID.isEmpty())
            return;
        std::uint64_t index = 1;
        for (const Value& v : *members)
            if (PMMovieRepresentationPrototype* member = PMMovie(v))
                member->setSeriesID(seriesID, index++);
    });
}
