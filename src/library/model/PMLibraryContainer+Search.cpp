// A container's search: its query (kept in the user defaults), and the matches of the
// library search cached in its "Search" entry, named after their place.
#include "library/model/PMLibraryContainer.h"

#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMParsedQuery.h"
#include "library/model/PMSearch.h"
#include "platform/Format.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kSearch = QStringLiteral("Search");
const QString kName = QStringLiteral("Name");

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMLibraryContainer", text);
}

} // namespace

QString PMLibraryContainer::queryName() const
{
    const QString online = onlineRole();
    return online.isEmpty() ? QStringLiteral("Filter") : online + QStringLiteral(" Search");
}

QString PMLibraryContainer::query() const
{
    return defaults().stringForKey(queryName());
}

void PMLibraryContainer::setQuery(const QString& query)
{
    if (query.isEmpty())
        defaults().removeObjectForKey(queryName());
    else
        defaults().setObject(query, queryName());
}

QString PMLibraryContainer::multipleSelectionQuery() const
{
    return PMQueryByAppendingMultipleSelection(query(), mainController().multipleSelectionLibraryItems());
}

bool PMLibraryContainer::hasMultipleSelectionQuery() const
{
    return !multipleSelectionQuery().trimmed().isEmpty();
}

ArrayPtr PMLibraryContainer::sortedChildrenForQuery(const QString& queryText, bool searchIfNotCached, bool getMoreOnlineChildren)
{
    const PMParsedQueryPtr parsed = PMParsedQuery::parsedQuery(queryText);
    if (!parsed) {
        remove(kSearch);
        return nullptr;
    }
    PMMainController& controller = mainController();
    const bool intersect = controller.canIntersectSearch()
        && defaults().stringForKey(prefs::keys::ImplicitMultipleSelectionSearch) == QLatin1String("Intersection");
    bool searchContainers = false;
    bool searchFiles = true;
    if (controller.canSearchContainers()) {
        searchContainers = defaults().boolForKey(prefs::keys::GroupSearchCriterionGroups);
        searchFiles = defaults().boolForKey(prefs::keys::GroupSearchCriterionFiles);
    }
    const bool searchName = defaults().boolForKey(prefs::keys::GroupSearchCriterionName);
    const bool searchMetadata = defaults().boolForKey(prefs::keys::GroupSearchCriterionMetadata);
    const bool searchLocation = defaults().boolForKey(prefs::keys::GroupSearchCriterionLocation);
    QString scope = QStringLiteral("[All]");
    if (controller.canSelectSearchScope()) {
        const Value stored = defaults().objectForKey(prefs::keys::GroupSearchScope);
        scope = stored.isString() ? stored.string() : QStringLiteral("[Selected]");
    }
    const bool selectedScope = scope == QLatin1String("[Selected]");
    const std::pair<const char*, bool> settings[] = {{"Search Containers", searchContainers}, {"Search Files", searchFiles},
                                                     {"Search Name", searchName},             {"Search Tags", searchMetadata},
                                                     {"Search Location", searchLocation},     {"Intersect Multiple Selection", intersect}};

    DictionaryPtr search = value(kSearch).dictionary();
    const bool online = isOnlineItem();
    if (search && search->value(QStringLiteral("Query")).string() == queryText) {
        if (!online) {
            bool same = search->value(QStringLiteral("Scope")).string() == scope;
            for (const auto& [key, flag] : settings)
                same = same && search->value(QString::fromLatin1(key)).toBool() == flag;
            if (same)
                return sortLibraryItems(search->value(QStringLiteral("Group Search Matches")).array(), selectedScope ? nullptr : parsed.get(), nullptr,
                                        nullptr, true);
        } else if (!search->value(QStringLiteral("Search YouTube")).toBool() && !search->value(QStringLiteral("Search Vimeo")).toBool()) {
            return receivedOnlineMatches(*search, getMoreOnlineChildren);
        }
    }
    if (!searchIfNotCached) {
        remove(kSearch);
        return nullptr;
    }
    if (online)
        return startOnlineSearch(queryText);

    auto results = Array::make();
    QString duplicateSortCriterion;
    addMatchesForParsedQuery(*results, *parsed, selectedScope ? this : nullptr, searchContainers, searchFiles, searchName, searchMetadata,
                             searchLocation, &duplicateSortCriterion);
    // Container results are named after their place: "Name (Outer: Inner)".
    const bool stopHere = selectedScope && parsed->multipleSelectionIdentifierComponents.size() < 2;
    for (const Value& result : *results) {
        PMLibraryContainer* copy = PMContainer(result);
        PMLibraryContainer* original = copy ? PMContainer(copy->value(QStringLiteral("Search Proxy"))) : nullptr;
        if (!original)
            continue;
        QStringList names;
        if (const ArrayPtr ancestors = controller.ancestorsOfLibraryItem(original->itemValue())) {
            for (const Value& a : *ancestors) {
                PMLibraryContainer* ancestor = PMContainer(a);
                if (!ancestor || !ancestor->topLevelRole().isEmpty() || (stopHere && ancestor == this))
                    break;
                names.prepend(ancestor->displayName());
            }
        }
        if (!names.isEmpty())
            copy->setValue(kName, platform::format(localized(" (%@)").toUtf8().constData(), names.join(localized(": "))).prepend(original->displayName()));
    }
    auto entry = Dictionary::make({{QStringLiteral("Query"), queryText}, {QStringLiteral("Scope"), scope}, {QStringLiteral("Group Search Matches"), Value(results)}});
    if (!duplicateSortCriterion.isEmpty())
        entry->setValue(QStringLiteral("Duplicate Sort Criterion"), duplicateSortCriterion);
    for (const auto& [key, flag] : settings)
        entry->setValue(QString::fromLatin1(key), flag);
    setValue(kSearch, Value(entry));
    return sortLibraryItems(results, selectedScope ? nullptr : parsed.get(), nullptr, nullptr, true);
}

ArrayPtr PMLibraryContainer::cachedSortedChildrenForCurrentQuery()
{
    const DictionaryPtr search = value(kSearch).dictionary();
    if (!search || !(search->contains(QStringLiteral("Group Search Matches")) || search->contains(QStringLiteral("YouTube Matches"))
                     || search->contains(QStringLiteral("Vimeo Matches"))))
        return nullptr;
    return sortedChildrenForQuery(multipleSelectionQuery(), false, false);
}

ArrayPtr PMLibraryContainer::sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(bool getMore)
{
    return sortedChildrenForQuery(multipleSelectionQuery(), true, getMore);
}

