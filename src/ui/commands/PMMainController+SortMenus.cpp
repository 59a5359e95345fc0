// The sort and rearrange menus of the container shown in the grid or list: the criteria
// (the list columns, the library's tags, the manual order), the direction, inheriting the
// order of an ancestor, and reordering the children once. And the list's columns menu.
#include "library/model/PMMainController.h"

#include "foundation/PMCSVParser.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QAction>
#include <QtGui/QPainter>
#include <QtWidgets/QMenu>

#include <algorithm>

using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

const QString kIndex = QStringLiteral("GroupListIndex");

// The identifier of a tag's list column.
QString tagCriterion(const QString& tagName)
{
    return QStringLiteral("AccessoryTagListName: ") + tagName.toLower();
}

struct Criterion {
    QString identifier;
    QString title;
};

void sortByTitle(QList<Criterion>& criteria)
{
    std::stable_sort(criteria.begin(), criteria.end(),
                     [](const Criterion& a, const Criterion& b) { return PMCompareNamesBySortString(a.title, b.title) < 0; });
}

// The built-in criteria and one per tag of the library whose name no built-in label takes;
// with `index`, the manual order too.
QList<Criterion> criteria(PMMainController& controller, bool withIndexLabel, QSet<QString>* lowercaseLabels)
{
    QList<Criterion> result;
    QStringList ordered;
    const platform::DictionaryPtr labels = PMMovieRepresentationPrototype::valueLabelsByListIDForSeries(true, &ordered);
    QSet<QString> taken;
    for (const QString& identifier : ordered) {
        const QString title = labels ? labels->value(identifier).string() : QString();
        if (title.isEmpty())
            continue;
        result.append({identifier, title});
        taken.insert(title.toLower());
    }
    if (withIndexLabel)
        taken.insert(QStringLiteral("index"));
    for (const QString& tag : controller.tagNamesWithPrefix(QString())) {
        if (!tag.isEmpty() && !taken.contains(tag.toLower()))
            result.append({tagCriterion(tag), tag});
    }
    if (lowercaseLabels)
        *lowercaseLabels = taken;
    return result;
}

// A small rounded badge with the tier number, in place of the check mark.
QIcon tierBadge(int number)
{
    QPixmap pixmap(QSize(16, 16) * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 26));
    painter.drawRoundedRect(QRectF(0, 1, 16, 14), 5, 5);
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPixelSize(10);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, 16, 15), Qt::AlignCenter, QString::number(number));
    painter.end();
    return QIcon(pixmap);
}

QAction* sortItem(QMenu* menu, const QString& criterion, const QString& title, const QString& suffix)
{
    QAction* item = menu->addAction(platform::escapedMenuTitle(title));
    platform::setMenuItemAction(item, QStringLiteral("setSortCriterionForSelectedContainerFromMenuItem"));
    if (!criterion.isEmpty())
        platform::setMenuItemRepresentedObject(item, Value(criterion));
    if (!suffix.isEmpty())
        setTitleSuffix(item, suffix, -1);
    return item;
}

} // namespace

void PMMainController::populateSortMenu(QMenu* menu, bool addRearrangeSubmenu, const Value& movieRepresentation)
{
    if (!menu)
        return;
    platform::UserDefaults& d = platform::UserDefaults::standard();
    const PMLibraryContainerPtr container = _groupItemsParent;
    QString csv;
    QString primary;
    Value inheritedFrom;
    PMLibraryContainerPtr inheritAncestor;
    bool criterionInherited = false;
    bool directionInherited = false;
    if (container) {
        primary = container->primarySortCriterionFromCSVString(&csv, &inheritedFrom, true);
        criterionInherited = !inheritedFrom.isNull();
        Value directionFrom;
        container->sortsDescendingAccordingToAncestor(&directionFrom);
        directionInherited = !directionFrom.isNull();
        if (criterionInherited)
            inheritAncestor = PMContainerPtr(inheritedFrom);
        else
            inheritAncestor = nonVolatileAncestorOfLibraryItem(Value(container), nullptr);
    } else {
        primary = d.stringForKey(prefs::keys::GroupSortingCriterion);
        if (primary.isEmpty())
            primary = kIndex;
        csv = primary;
    }
    const bool descending = _groupListSortsDescending;

    // The duplicate search's own order.
    const platform::DictionaryPtr search = container ? container->value(QStringLiteral("Search")).dictionary() : nullptr;
    const bool hasDuplicateCriterion = search && search->value(QStringLiteral("Duplicate Sort Criterion")).isString();
    const bool duplicateSorting = hasDuplicateCriterion && d.boolForKey(prefs::keys::GroupSearchSortsByDuplicateQueryComponent);
    if (hasDuplicateCriterion) {
        QAction* item = menu->addAction(localized("Use Duplicate Search Criterion When Applicable"));
        platform::setMenuItemAction(item, QStringLiteral("toggleAutomaticDuplicateSorting"));
        item->setCheckable(true);
        item->setChecked(duplicateSorting);
        menu->addSeparator();
    }

    // Tiers: a list of criteria, the first of them the primary one.
    QStringList tiers;
    if (!duplicateSorting && csv != primary) {
        const QStringList fields = PMCSVFieldsFromString(csv, QStringLiteral(","));
        if (fields.size() >= 2 && fields.first() == primary) {
            tiers = fields;
            if (d.boolForKey(prefs::keys::PrependTieredSettings) && !tiers.contains(QStringLiteral("GroupListName")))
                tiers.append(QStringLiteral("GroupListName"));
        }
    }

    QList<Criterion> items = criteria(*this, true, nullptr);
    if (primary == kIndex || !d.boolForKey(prefs::keys::AutomaticallyToggleManualSorting))
        items.append({kIndex, localized("Index")});
    // Similarity to a movie's picture.
    if (d.boolForKey(prefs::keys::EnableImageHashDeltaSorting)) {
        bool similarityIsPrimary = false;
        if (PMMovieRepresentationPrototype* movie = PMMovie(movieRepresentation)) {
            if (!movie->imageHashWithResolution(7).isEmpty()) {
                const QString criterion = QStringLiteral("GroupListImageHashDelta: dHash7: ") + movie->uniqueLibraryID();
                items.append({criterion, localized("Similarity to \"%1\"").arg(movie->displayName())});
                similarityIsPrimary = criterion == primary;
            }
        }
        if (!similarityIsPrimary && primary.startsWith(QLatin1String("GroupListImageHashDelta: "))) {
            const QString identifier = primary.section(QStringLiteral(": "), -1);
            if (const auto movie = _nonProxyFilteredMovieRepresentationsByID.value(identifier))
                items.append({primary, localized("Similarity to \"%1\"").arg(movie->displayName())});
        }
    }
    sortByTitle(items);

    const QString similaritySuffix = localized(" (Image Hash Delta)");
    for (const Criterion& criterion : items) {
        const bool similarity = criterion.identifier.startsWith(QLatin1String("GroupListImageHashDelta: "));
        QAction* item = sortItem(menu, criterion.identifier, criterion.title, similarity ? similaritySuffix : QString());
        const qsizetype tier = similarity ? -1 : tiers.indexOf(criterion.identifier);
        item->setCheckable(true);
        if (tier >= 0) {
            item->setIcon(tierBadge(int(tier) + 1));
            item->setChecked(criterion.identifier == primary);
            if (criterion.identifier != primary)
                platform::setMenuItemMixedState(item, true);
        } else if (criterion.identifier == primary) {
            if (duplicateSorting)
                platform::setMenuItemMixedState(item, true);
            else
                item->setChecked(true);
        }
        // The same criterion the other way round, while Alt is held.
        QAction* other = sortItem(menu, criterion.identifier, criterion.title, descending ? localized(" (Ascending)") : localized(" (Descending)"));
        platform::setMenuItemTag(other, 1);
        other->setCheckable(true);
        if (criterion.identifier == primary && tier < 0)
            platform::setMenuItemMixedState(other, true);
        platform::setAlternateMenuItem(other, item, Qt::AltModifier);
    }

    menu->addSeparator();
    QAction* ascendingItem = sortItem(menu, QString(), localized("Ascending"), QString());
    ascendingItem->setCheckable(true);
    ascendingItem->setChecked(!descending);
    QAction* descendingItem = sortItem(menu, QString(), localized("Descending"), QString());
    platform::setMenuItemTag(descendingItem, 1);
    descendingItem->setCheckable(true);
    descendingItem->setChecked(descending);

    if (inheritAncestor && !(criterionInherited && directionInherited)) {
        menu->addSeparator();
        const QString name = inheritAncestor->displayName();
        QAction* inherit = sortItem(menu, QString(), localized("Inherit Sort Order"),
                                    name.isEmpty() ? QString() : QStringLiteral(" \u2190 %1").arg(QStringLiteral("\"%1\"").arg(name)));
        platform::setMenuItemTag(inherit, -1);
    }

    if (addRearrangeSubmenu) {
        menu->addSeparator();
        auto* rearrange = new QMenu(QStringLiteral("ContextRearrangeBy"), menu);
        populateRearrangeMenu(rearrange, movieRepresentation);
        QAction* item = menu->addMenu(rearrange);
        item->setText(localized("Rearrange by"));
        platform::installMenuConventions(rearrange);
    }
}

void PMMainController::populateRearrangeMenu(QMenu* menu, const Value& movieRepresentation)
{
    if (!menu)
        return;
    const auto rearrangeItem = [menu](const QString& criterion, const QString& title, const QString& suffix) {
        QAction* item = menu->addAction(platform::escapedMenuTitle(title));
        platform::setMenuItemAction(item, QStringLiteral("rearrangeSelectedContainerFromMenuItem"));
        platform::setMenuItemRepresentedObject(item, Value(criterion));
        if (!suffix.isEmpty())
            setTitleSuffix(item, suffix, -1);
        return item;
    };
    QList<Criterion> items = criteria(*this, false, nullptr);
    if (prefs::get(prefs::keys::EnableImageHashDeltaSorting)) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(movieRepresentation); movie && !movie->imageHashWithResolution(7).isEmpty())
            items.append({QStringLiteral("GroupListImageHashDelta: dHash7: ") + movie->uniqueLibraryID(),
                          localized("Similarity to \"%1\"").arg(movie->displayName())});
    }
    sortByTitle(items);
    for (const Criterion& criterion : items) {
        QAction* item = rearrangeItem(criterion.identifier, criterion.title, QString());
        QAction* descending = rearrangeItem(criterion.identifier, criterion.title, localized(" (Descending)"));
        platform::setMenuItemTag(descending, 1);
        platform::setAlternateMenuItem(descending, item, Qt::AltModifier);
    }
    menu->addSeparator();
    // These two are names of the commands themselves, not looked up.
    rearrangeItem(QStringLiteral("GroupListInvert"), QStringLiteral("Invert"), QString());
    rearrangeItem(QStringLiteral("GroupListShuffle"), QStringLiteral("Shuffle"), QString());
}

void PMMainController::populateColumnMenu(QMenu* menu)
{
    if (!menu)
        return;
    menu->clear();
    struct ColumnItem {
        QString title;
        Value object;
        bool toggles = true;
        bool shown = false;
    };
    QList<ColumnItem> items;
    QSet<QString> listed;
    if (_menuValidation.groupListColumns) {
        for (const MenuValidationHooks::TableColumn& column : _menuValidation.groupListColumns()) {
            listed.insert(column.identifier);
            // The name column stays.
            items.append({column.identifier == kIndex ? localized("Index") : column.title.trimmed(), Value(column.identifier),
                          column.identifier != QLatin1String("GroupListName"), column.shown});
        }
    }
    QList<std::pair<const char*, QString>> fixed = {
        {"File Size", QStringLiteral("GroupListSize")},    {"Counter", QStringLiteral("GroupListCounter")},
        {"Date Created", QStringLiteral("GroupListCreationDate")}, {"Last Opened", QStringLiteral("GroupListPlaybackDate")},
        {"Width", QStringLiteral("GroupListWidth")},       {"Height", QStringLiteral("GroupListHeight")},
        {"Resolution", QStringLiteral("GroupListResolution")}};
    if (PMCachedSettings::determineFuzzyOldestDate)
        fixed.append({"Date", QStringLiteral("GroupListOldestDate")});
    for (const auto& [name, identifier] : fixed) {
        if (listed.contains(identifier))
            continue;
        listed.insert(identifier);
        items.append({localized(name), Value(identifier)});
    }
    for (const QString& tag : tagNamesWithPrefix(QString())) {
        if (tag.isEmpty() || listed.contains(tagCriterion(tag)))
            continue;
        listed.insert(tagCriterion(tag));
        items.append({tag, Value(tag)});
    }
    std::stable_sort(items.begin(), items.end(), [](const ColumnItem& a, const ColumnItem& b) { return PMCompareNamesBySortString(a.title, b.title) < 0; });
    for (const ColumnItem& column : items) {
        QAction* item = menu->addAction(platform::escapedMenuTitle(column.title));
        if (column.toggles)
            platform::setMenuItemAction(item, QStringLiteral("toggleGroupListColumn"));
        else
            platform::setMenuItemTargetsNothing(item);
        platform::setMenuItemRepresentedObject(item, column.object);
        item->setCheckable(true);
        item->setChecked(column.shown);
    }
}
