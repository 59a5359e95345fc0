// The two browsers of a single movie's context menu, filled only when they open: "Similar"
// (the movie's tags and values, and the other movies that share them) and "Other Contexts"
// (every container of the library that holds the movie, in the tree's order and depth).
// Both are rebuilt from scratch at every opening, so changes made in between show up.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMSlowMenuDelegate.h"

#include <QtCore/QCollator>
#include <QtCore/QCoreApplication>
#include <QtCore/QPointer>
#include <QtGui/QAction>
#include <QtGui/QFont>
#include <QtWidgets/QMenu>

#include <algorithm>
#include <optional>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kTagBrowserKey = QStringLiteral("_TagBrowserMenuDelegate_");
const QString kContextBrowserKey = QStringLiteral("_ContextBrowserMenuDelegate_");
const QString kTagKey = QStringLiteral("Tag");
const QString kHeaderKey = QStringLiteral("Header");
const QString kLowercaseTagNamesKey = QStringLiteral("Lowercase Tag Names");
const QString kValueKey = QStringLiteral("Value");
// The spaces around the slash of a position ("3 / 5").
const QString kSixPerEmSpace = QStringLiteral("\u2006");

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

DictionaryPtr copyOf(const DictionaryPtr& populator)
{
    auto copy = Dictionary::make();
    for (auto it = populator->begin(); it != populator->end(); ++it)
        copy->setValue(it.key(), it.value());
    return copy;
}

QAction* addDisabledItem(QMenu* menu, const QString& title)
{
    QAction* item = menu->addAction(platform::escapedMenuTitle(title));
    platform::setMenuItemTargetsNothing(item);
    item->setEnabled(false);
    return item;
}

// A section title: disabled and bold, as menus show their headers.
QAction* addHeader(QMenu* menu, const QString& title, QAction* before = nullptr)
{
    auto* item = new QAction(platform::escapedMenuTitle(title), menu);
    platform::setMenuItemTargetsNothing(item);
    item->setEnabled(false);
    QFont font = item->font();
    font.setBold(true);
    item->setFont(font);
    item->setProperty("PMMenuHeader", true);
    menu->insertAction(before, item);
    return item;
}

// A menu item that opens the movie (selecting it in its container first), placed before
// `before` (at the end when null).
QAction* addMovieItem(QMenu* menu, const Value& movie, QAction* before = nullptr)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    auto* item = new QAction(record->icon(), platform::escapedMenuTitle(record->displayName()), menu);
    menu->insertAction(before, item);
    platform::setMenuItemAction(item, QStringLiteral("chooseMovieRepresentationFromMenuItem"));
    platform::setMenuItemRepresentedObject(item, movie);
    platform::setMenuItemTag(item, 1);
    return item;
}

// The matching movies, the first few hundred at once and the rest on demand.
void addMovieItems(QMenu* menu, const QList<Value>& movies)
{
    QPointer<QMenu> guarded(menu);
    addMenuListWithLimit(menu, movies.size(), [guarded, movies](qsizetype from, qsizetype to, QAction* before) {
        if (QMenu* m = guarded)
            for (qsizetype i = from; i < to; ++i)
                addMovieItem(m, movies.at(i), before);
    });
}

// Menus have no indentation of their own: the title moves right by an em per level.
void setIndentationLevel(QAction* item, int level)
{
    level = std::max(0, level);
    item->setProperty(PMMainController::kMenuItemIndentationLevelProperty, level);
    if (level > 0)
        item->setText(QString(level, QChar(0x2003)) + item->text());
}

// The tag as the movie types it (its lower-case name when it has none).
QString typedTagName(PMMovieRepresentationPrototype& movie, const QString& lowercaseTag)
{
    const DictionaryPtr tags = movie.cachedTags();
    const DictionaryPtr entry = tags ? tags->value(lowercaseTag).dictionary() : nullptr;
    const QString typed = entry ? entry->value(kTagKey).string() : QString();
    return typed.isEmpty() ? lowercaseTag : typed;
}

bool carriesAll(PMMovieRepresentationPrototype& movie, const QString& lowercaseTag, const QStringList& lowercaseValues)
{
    // A value is a piece of the tag's whole text (only quotes are taken out of it): a text
    // without it cannot carry it, and is not split into its values. Most of the library
    // is ruled out this way.
    const QString whole = movie.cachedLowercaseValueForLowercaseTag(lowercaseTag);
    for (const QString& v : lowercaseValues)
        if (!v.contains(u'"') && !whole.contains(v))
            return false;
    const QStringList own = movie.cachedLowercaseValuesForLowercaseTag(lowercaseTag);
    return std::all_of(lowercaseValues.begin(), lowercaseValues.end(), [&own](const QString& v) { return own.contains(v); });
}

} // namespace

// ---- The populators ---------------------------------------------------------------------

DictionaryPtr PMMainController::PMTagBrowserPopulator(const Value& movie, bool contextBrowser)
{
    auto populator = Dictionary::make();
    populator->setValue(contextBrowser ? kContextBrowserKey : kTagBrowserKey, movie);
    return populator;
}

QStringList PMMainController::similarTagNamesOfMovieRepresentation(PMMovieRepresentationPrototype& movie)
{
    const bool includeNotes = defaults().boolForKey(prefs::keys::SimilarIncludeNotes);
    QStringList names;
    const DictionaryPtr tags = movie.cachedTags();
    if (tags)
        for (auto it = tags->begin(); it != tags->end(); ++it)
            if (includeNotes || it.key() != QLatin1String("notes"))
                names.append(it.key());
    names.sort();
    return names;
}

QMenu* PMMainController::tagBrowserMenuWithTitle(const QString& title, const DictionaryPtr& populator, QWidget* parent)
{
    auto* menu = new QMenu(title, parent);
    // Thousands of matches scroll in one column within the screen.
    makeMenuScroll(menu);
    const bool context = populator->contains(kContextBrowserKey);
    menu->setObjectName(context ? QStringLiteral("Context Browser") : QStringLiteral("Tag Browser"));
    platform::setMenuItemRepresentedObject(menu->menuAction(), Value(populator));
    platform::installMenuConventions(menu);
    // Filled each time it is about to open, from scratch.
    QObject::connect(menu, &QMenu::aboutToShow, menu, [this, menu, populator] { menuNeedsUpdateForTagBrowserPopulator(menu, populator); });
    return menu;
}

void PMMainController::menuNeedsUpdateForTagBrowserPopulator(QMenu* menu, const DictionaryPtr& populator)
{
    // The submenus made last time go with their items.
    QList<QMenu*> submenus;
    for (QAction* item : menu->actions())
        if (QMenu* submenu = item->menu(); submenu && submenu->parent() == menu)
            submenus.append(submenu);
    menu->clear();
    for (QMenu* submenu : submenus)
        submenu->deleteLater();
    if (populator->contains(kContextBrowserKey))
        populateContextMatchMenu(menu, populator);
    else
        populateTagMatchMenu(menu, populator);
}

// ---- "Similar" ----------------------------------------------------------------------------

void PMMainController::populateTagMatchMenu(QMenu* menu, const DictionaryPtr& populator)
{
    PMMovieRepresentationPrototype* clicked = PMMovie(populator->value(kTagBrowserKey));
    PMLibraryItem* item = PMItem(populator->value(kTagBrowserKey));
    if (!clicked || !item)
        return;
    const Value movie = item->nonProxySelf();
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    const QString tag = populator->value(kTagKey).string();
    if (!tag.isEmpty()) {
        populateTagMatchMenu(menu, populator, tag);
        return;
    }
    const ArrayPtr names = populator->value(kLowercaseTagNamesKey).array();
    QList<QPair<QString, QStringList>> chosen;
    for (const Value& v : names ? *names : Array()) {
        const QString lowercase = v.string();
        if (lowercase.isEmpty())
            continue;
        const QString typed = typedTagName(*record, lowercase);
        DictionaryPtr naming = copyOf(populator);
        naming->remove(kLowercaseTagNamesKey);
        naming->setValue(kTagKey, Value(typed));
        menu->addMenu(tagBrowserMenuWithTitle(platform::escapedMenuTitle(typed), naming, menu));
        const QStringList values = record->cachedLowercaseValuesForLowercaseTag(lowercase);
        if (!values.isEmpty())
            chosen.append({lowercase, values});
    }
    menu->addSeparator();
    // The movies that carry every value of every one of those tags. A movie with no values
    // at all has nothing to share.
    if (chosen.isEmpty())
        return;
    addMovieItems(menu, matchingMovieRepresentations(movie, chosen));
}

QList<Value> PMMainController::matchingMovieRepresentations(const Value& except, const QList<QPair<QString, QStringList>>& lowercaseValuesByLowercaseTag)
{
    QList<Value> matches;
    const ArrayPtr library = nonProxyFilteredMovieRepresentations();
    PMMovieRepresentationPrototype* excluded = PMMovie(except);
    for (const Value& v : library ? *library : Array()) {
        PMMovieRepresentationPrototype* other = PMMovie(v);
        if (!other || (excluded && &other->original() == &excluded->original()))
            continue;
        bool all = true;
        for (const auto& [tag, values] : lowercaseValuesByLowercaseTag)
            if (!carriesAll(*other, tag, values)) {
                all = false;
                break;
            }
        if (all)
            matches.append(v);
    }
    // In the user's order of names: each name's collation key made once, then only keys
    // compared (thousands of matches would otherwise compare their names many times over).
    const QCollator collator;
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
    keys.reserve(size_t(matches.size()));
    for (qsizetype i = 0; i < matches.size(); ++i)
        keys.emplace_back(collator.sortKey(PMMovie(matches.at(i))->displayName()), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    QList<Value> sorted;
    sorted.reserve(matches.size());
    for (const auto& key : keys)
        sorted.append(matches.at(key.second));
    return sorted;
}

void PMMainController::populateTagMatchMenu(QMenu* menu, const DictionaryPtr& populator, const QString& tag)
{
    PMLibraryItem* item = PMItem(populator->value(kTagBrowserKey));
    PMMovieRepresentationPrototype* record = item ? PMMovie(item->nonProxySelf()) : nullptr;
    if (!record)
        return;
    const Value movie = item->nonProxySelf();
    const QString lowercase = tag.toLower();
    const DictionaryPtr typedValues = record->valuesByLowercaseValueForTag(lowercase);
    QStringList values = record->cachedLowercaseValuesForLowercaseTag(lowercase);
    const QString chosenValue = populator->value(kValueKey).string();
    const auto typed = [&typedValues](const QString& lowercaseValue) {
        const QString t = typedValues ? typedValues->value(lowercaseValue).string() : QString();
        return t.isEmpty() ? lowercaseValue : t;
    };
    if (chosenValue.isEmpty() && values.size() > 1) {
        // One submenu per value first.
        for (const QString& value : values) {
            DictionaryPtr naming = copyOf(populator);
            naming->setValue(kValueKey, Value(typed(value)));
            menu->addMenu(tagBrowserMenuWithTitle(platform::escapedMenuTitle(typed(value)), naming, menu));
        }
        menu->addSeparator();
    }
    if (!chosenValue.isEmpty())
        values = QStringList{chosenValue.toLower()};
    QStringList shownValues;
    for (const QString& value : values)
        shownValues.append(typed(value));
    const bool header = populator->contains(kHeaderKey);
    const QString headerTitle = tag + QStringLiteral(": ") + shownValues.join(QStringLiteral(", "));
    const QList<Value> matches = values.isEmpty() ? QList<Value>() : matchingMovieRepresentations(movie, {{lowercase, values}});
    if (matches.isEmpty()) {
        if (header)
            addHeader(menu, headerTitle + QStringLiteral(" \u2014 ") + localized("No Matches"));
        else
            addDisabledItem(menu, localized("No Matches"));
        return;
    }
    if (header)
        addHeader(menu, headerTitle);
    addMovieItems(menu, matches);
}

// ---- "Other Contexts" ---------------------------------------------------------------------

void PMMainController::populateContextMatchMenu(QMenu* menu, const DictionaryPtr& populator)
{
    const Value movie = populator->value(kContextBrowserKey);
    PMLibraryItem* item = PMItem(movie);
    if (!item || !PMMovie(movie))
        return;
    const bool alwaysIncludeReference = defaults().boolForKey(prefs::keys::OtherContextsAlwaysIncludeReference);
    const long long indexPriority = defaults().integerForKey(prefs::keys::OtherContextsIndexPriority);
    for (const PMLibraryContainerPtr& storage : {existingSourceStorage(), smartGroupStorage()})
        if (storage)
            populateContextMatchMenu(menu, movie, storage, alwaysIncludeReference, indexPriority, -1);
    if (defaults().integerForKey(prefs::keys::SourceListDisplayMode) == 1 && item->isProxy()) {
        if (const PMMovieRepresentationOriginalPtr original = item->proxyOriginal()) {
            if (!menu->actions().isEmpty())
                menu->addSeparator();
            QAction* show = menu->addAction(localized("Show Original in Library"));
            platform::setMenuItemAction(show, QStringLiteral("showLibraryItemFromMenuItem"));
            platform::setMenuItemRepresentedObject(show, Value(original));
        }
    }
    if (menu->actions().isEmpty())
        addDisabledItem(menu, localized("No Matches"));
}

bool PMMainController::populateContextMatchMenu(QMenu* menu, const Value& forMovieRepresentation, const PMLibraryContainerPtr& fromChildrenOfContainer,
                                                bool alwaysIncludeReference, long long indexPriority, int indentationLevel)
{
    PMLibraryContainer* container = fromChildrenOfContainer.get();
    PMLibraryItem* clicked = PMItem(forMovieRepresentation);
    PMMovieRepresentationPrototype* clickedRecord = PMMovie(forMovieRepresentation);
    if (!container || !clicked || !clickedRecord)
        return false;
    const PMMovieRepresentationOriginal* original = &clickedRecord->original();
    if (!container->allMovieChildrenUniqueLibraryIDs().contains(clickedRecord->uniqueLibraryID()))
        return false;
    const bool isStorage = indentationLevel < 0;
    const qsizetype countBefore = menu->actions().size();
    QAction* entry = nullptr;
    std::optional<qsizetype> position;
    qsizetype movieCount = 0;

    if (!isStorage && !container->emancipatesChildren()) {
        const bool cached = container->value(QStringLiteral("Sorted Children")).array() != nullptr;
        const ArrayPtr children = cached ? container->sortedChildren() : container->filteredChildren();
        Value found;
        for (const Value& child : children ? *children : Array()) {
            PMMovieRepresentationPrototype* record = PMMovie(child);
            if (!record)
                continue;
            ++movieCount;
            if (&record->original() != original)
                continue;
            if (!found.isNull()) {
                PMLog(QStringLiteral("unexpected context duplicate: %@ (previously found: %@)"), record->displayName(), PMMovie(found)->displayName());
                continue;
            }
            found = child;
            if (indexPriority >= 0 && cached)
                position = movieCount;
        }
        if (!found.isNull() && indexPriority >= 0 && !cached) {
            const ArrayPtr sorted = container->sortedMovieChildren();
            qsizetype index = 0;
            for (const Value& v : sorted ? *sorted : Array()) {
                ++index;
                if (PMMovieRepresentationPrototype* m = PMMovie(v); m && &m->original() == original) {
                    position = index;
                    break;
                }
            }
        }
        const bool isClickedItem = !found.isNull() && found.object() == forMovieRepresentation.object();
        if (!found.isNull() && (!isClickedItem || alwaysIncludeReference)) {
            entry = menu->addAction(platform::escapedMenuTitle(container->displayName()));
            if (isClickedItem) {
                // Where the user clicked: shown for orientation, not a place to go.
                platform::setMenuItemTargetsNothing(entry);
                entry->setCheckable(true);
                entry->setChecked(true);
                entry->setEnabled(false);
            } else {
                platform::setMenuItemAction(entry, QStringLiteral("showGroupItemFromMenuItem"));
                platform::setMenuItemRepresentedObject(entry, found);
                QAction* open = menu->addAction(PMMovie(found)->icon(),
                                                platform::escapedMenuTitle(container->displayName() + QStringLiteral(" \u25B8 ") + PMMovie(found)->displayName()));
                platform::setMenuItemAction(open, QStringLiteral("chooseMovieRepresentationFromMenuItem"));
                platform::setMenuItemRepresentedObject(open, found);
                platform::setMenuItemTag(open, 1);
                setIndentationLevel(open, indentationLevel);
                platform::setAlternateMenuItem(open, entry, Qt::AltModifier);
            }
        }
    }

    // The subgroups, one level deeper; a storage's or an emancipating container's start afresh.
    const qsizetype countBeforeChildren = menu->actions().size();
    const int childLevel = isStorage || container->emancipatesChildren() ? 0 : indentationLevel + 1;
    const ArrayPtr groups = container->sortedGroupChildren();
    for (const Value& group : groups ? *groups : Array())
        if (const PMLibraryContainerPtr child = PMContainerPtr(group))
            populateContextMatchMenu(menu, forMovieRepresentation, child, alwaysIncludeReference, indexPriority, childLevel);
    const bool childrenAdded = menu->actions().size() > countBeforeChildren;

    if (childrenAdded && !entry) {
        QAction* first = menu->actions().at(countBeforeChildren);
        if (isStorage || container->emancipatesChildren()) {
            if (!first->icon().isNull()) {
                QAction* header = addHeader(menu, container->displayName(), first);
                if (countBefore > 0) {
                    auto* separator = new QAction(menu);
                    separator->setSeparator(true);
                    menu->insertAction(header, separator);
                }
            }
        } else {
            entry = new QAction(platform::escapedMenuTitle(container->displayName()), menu);
            platform::setMenuItemTargetsNothing(entry);
            entry->setEnabled(false);
            menu->insertAction(first, entry);
        }
    }
    if (entry) {
        entry->setIcon(container->icon());
        QString title = entry->text();
        if (position && (indexPriority >= 1 || movieCount >= 2))
            title += QStringLiteral(" (%1%2/%2%3)").arg(*position).arg(kSixPerEmSpace).arg(movieCount);
        entry->setText(title);
        setIndentationLevel(entry, indentationLevel);
    }
    return menu->actions().size() > countBefore;
}

// ---- What the entries do ------------------------------------------------------------------

void PMMainController::installContextBrowserCommands()
{
    // Reveals a movie in the container it was found in: the container in the sidebar, the
    // movie alone selected in the grid (or the list).
    if (!_actions.contains(QStringLiteral("showGroupItemFromMenuItem")))
        _actions.insert(QStringLiteral("showGroupItemFromMenuItem"), [this](QObject* sender) {
            showGroupItemFromMenuItem(platform::menuItemRepresentedObject(qobject_cast<QAction*>(sender)));
        });
    if (!_actions.contains(QStringLiteral("showLibraryItemFromMenuItem")))
        _actions.insert(QStringLiteral("showLibraryItemFromMenuItem"), [this](QObject* sender) {
            const Value item = platform::menuItemRepresentedObject(qobject_cast<QAction*>(sender));
            if (PMItem(item))
                selectLibraryItem(item);
        });
}
