#include "library/model/PMSortLibraryItems.h"

#include "library/model/PMLibraryItem.h"

#include <QtCore/QCollator>

#include <optional>

#include <algorithm>
#include <numeric>

namespace {

// Until the full criterion set exists, names, addition dates and the item kinds order
// the items; any other criterion keeps the given order. Keys are made once per item.
struct Key {
    bool isContainer = false;
    std::optional<QCollatorSortKey> name;
    double date = 0;
};

} // namespace

platform::ArrayPtr PMSortLibraryItems(bool* getIsSorted, bool inPlace, const platform::ArrayPtr& items, const QString& criterion,
                                      bool descending, PMLibraryContainer*)
{
    if (!items)
        return items;
    const QString primary = criterion.section(u',', 0, 0).trimmed();
    const bool byName = primary.isEmpty() || primary == QLatin1String("GroupListName");
    const bool byDate = primary == QLatin1String("GroupListDate");
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);

    const qsizetype n = items->count();
    std::vector<Key> keys(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i) {
        PMLibraryItem* item = PMItem(items->at(i));
        if (!item)
            continue;
        keys[size_t(i)].isContainer = item->isContainer();
        if (byName)
            keys[size_t(i)].name = collator.sortKey(item->sortName());
        else if (byDate)
            keys[size_t(i)].date = item->additionDate().secondsSince1970;
    }
    auto compare = [&](size_t x, size_t y) -> int {
        const Key& a = keys[x];
        const Key& b = keys[y];
        if (byName) {
            if (primary.isEmpty() && a.isContainer != b.isContainer)
                return a.isContainer ? -1 : 1;
            if (a.name && b.name)
                return a.name->compare(*b.name);
            return 0;
        }
        if (byDate)
            return a.date < b.date ? -1 : (b.date < a.date ? 1 : 0);
        return 0;
    };
    std::vector<size_t> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), size_t(0));
    auto less = [&](size_t x, size_t y) {
        const int c = compare(x, y);
        return descending ? c > 0 : c < 0;
    };
    if (getIsSorted) {
        *getIsSorted = std::is_sorted(order.begin(), order.end(), less);
        return items;
    }
    std::stable_sort(order.begin(), order.end(), less);
    std::vector<platform::Value> sorted;
    sorted.reserve(size_t(n));
    for (size_t i : order)
        sorted.push_back(items->at(qsizetype(i)));
    if (inPlace) {
        items->values() = std::move(sorted);
        return items;
    }
    return std::make_shared<platform::Array>(std::move(sorted));
}

platform::ArrayPtr PMSortedLibraryItems(const platform::ArrayPtr& items, const QString& criterion, bool descending)
{
    return PMSortLibraryItems(nullptr, false, items, criterion, descending, nullptr);
}
