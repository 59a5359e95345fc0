// The library menu: the whole library as nested submenus that fill themselves when they
// open, with a filter field at the top that narrows it to the matching movies, and the
// two actions that reveal a library item in the library window.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManager.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMParsedQuery.h"
#include "library/model/PMSearch.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMSlowMenuDelegate.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/library_window/PMQuibScopeBar.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QHash>
#include <QtGui/QAction>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QWidgetAction>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

constexpr qsizetype kFilteredLimit = 25;

// The rows of the library menu that carry views (the filter field, the criteria): made
// once, taken out of the menu and put back, never deleted while the program runs.
QPointer<QWidgetAction> gFilterItem;
QPointer<QWidgetAction> gCriteriaItem;

QWidgetAction* viewItem(QMenu* menu, const QString& title, QWidget* view)
{
    auto* item = new QWidgetAction(menu);
    item->setText(title);
    item->setDefaultWidget(view);
    item->setEnabled(false);
    view->setEnabled(true);
    return item;
}

bool isKeptItem(QAction* item)
{
    return item && (item == gFilterItem.data() || item == gCriteriaItem.data());
}

// Takes the item out of the menu; an item made for this filling goes, with its submenu.
void removeItem(QMenu* menu, QAction* item)
{
    menu->removeAction(item);
    if (isKeptItem(item))
        return;
    if (QMenu* submenu = item->menu(); submenu && submenu->parent() == menu)
        submenu->deleteLater();
    if (item->parent() == menu)
        item->deleteLater();
}

bool isAncestor(const ArrayPtr& ancestors, const Value& container)
{
    return ancestors && ancestors->indexOfIdentical(container.objectPointer()) >= 0;
}

} // namespace

bool PMMainController::populateSlowMenusProperly()
{
    QWidget* field = libraryMenuFilterField;
    return field && field->window() && field->window()->isVisible();
}

void PMMainController::clearLibraryMenuForUpdate(bool forUpdate, int spareAtTop)
{
    QMenu* menu = libraryMenu;
    if (!menu)
        return;
    const QList<QAction*> items = menu->actions();
    if (!forUpdate) {
        for (qsizetype i = 1; i + 1 < items.size(); ++i)
            removeItem(menu, items.at(i));
        return;
    }
    if (!items.isEmpty() && gFilterItem && items.constFirst() == gFilterItem.data()) {
        for (qsizetype i = spareAtTop; i < items.size(); ++i)
            removeItem(menu, items.at(i));
        return;
    }
    for (QAction* item : items)
        removeItem(menu, item);
    if (gFilterItem)
        menu->addAction(gFilterItem);
}

bool PMMainController::updateLibraryMenuItem(QAction* item, QMenu* inMenu, const Value& libraryItem, qsizetype atIndex, bool isFiltered,
                                             const ArrayPtr& siblings)
{
    if (!inMenu)
        return false;
    const auto ensureItem = [&]() -> QAction* {
        if (!item)
            item = inMenu->addAction(QString());
        return item;
    };
    if (PMMovieRepresentationPrototype* movie = PMMovie(libraryItem)) {
        if (isFiltered && atIndex >= kFilteredLimit) {
            const qsizetype remaining = (siblings ? siblings->count() : 0) - atIndex;
            if (item)
                inMenu->removeAction(item);
            addNonActionItemWithSmallTitle(inMenu, localized("(%1 more)").arg(remaining));
            return false;
        }
        ensureItem();
        item->setText(isFiltered ? ellipsisString() : platform::escapedMenuTitle(movie->displayName()));
        platform::setMenuItemAction(item, QStringLiteral("chooseMovieRepresentationFromMenuItem"));
        platform::setMenuItemTag(item, 1);
        item->setIcon(movie->icon());
        PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
        if (!current && _isMonitoringExternalViewer)
            current = PMMovie(_externalViewerMovieRepresentation);
        bool on = current && current == movie;
        if (!on && isFiltered && current)
            on = &current->original() == &movie->original();
        item->setCheckable(on);
        item->setChecked(on);
        platform::setMenuItemRepresentedObject(item, libraryItem);
        return true;
    }
    PMLibraryContainer* container = PMContainer(libraryItem);
    if (!container)
        return true;
    if (!container->topLevelRole().isEmpty()) {
        const QString role = container->topLevelRole();
        const ArrayPtr children = container->sortedChildren();
        if (!children || children->isEmpty() || role == QLatin1String("Online") || role == QLatin1String("Downloads")
            || role == QLatin1String("Conversions")) {
            if (item)
                inMenu->removeAction(item);
            return true;
        }
        if (item)
            inMenu->removeAction(item);
        if (inMenu->actions().size() >= 3)
            addSeparatorIfNecessary(inMenu);
        if (role != QLatin1String("Library"))
            platform::setMenuItemRepresentedObject(addHeaderWithTitle(inMenu, container->displayName()), libraryItem);
        populateLibraryMenu(inMenu, children);
        return true;
    }
    // A storage section with nothing in it (music or photo libraries not in use) is not
    // listed, as the sidebar does not list it.
    if (container->isSourceStorageSection() && !container->isPellisSourceStorageSection()) {
        const ArrayPtr children = container->rawChildren();
        if (!children || children->isEmpty()) {
            if (item)
                inMenu->removeAction(item);
            return true;
        }
    }
    const QString onlineRole = container->onlineRole();
    if (onlineRole == QLatin1String("Online") || onlineRole == QLatin1String("YouTube")) {
        if (item)
            inMenu->removeAction(item);
        return true;
    }
    if (container->value(QStringLiteral("Emancipate: Menu")).toBool()) {
        if (item) {
            item->setMenu(nullptr);
            setHeaderTitle(item, container->displayName());
        } else {
            addHeaderWithTitle(inMenu, container->displayName());
        }
        return true;
    }
    ensureItem();
    const QString title = platform::escapedMenuTitle(container->displayName());
    QMenu* submenu = slowMenuWithTitle(container->displayName(), libraryItem, inMenu);
    item->setText(title);
    item->setMenu(submenu);
    item->setIcon(container->icon());
    platform::setMenuItemAction(item, QStringLiteral("chooseGroupFromMenuItem"));
    const bool mixed = isAncestor(_currentOrMonitoredMovieRepresentationAncestors, libraryItem);
    item->setCheckable(mixed);
    platform::setMenuItemMixedState(item, mixed);
    platform::setMenuItemRepresentedObject(item, libraryItem);
    return true;
}

void PMMainController::populateLibraryMenu(QMenu* menu, const ArrayPtr& items)
{
    if (!menu)
        return;
    ArrayPtr entries;
    bool filtered = false;
    const bool isLibraryMenu = menu == libraryMenu.data();
    if (items) {
        entries = slowMenuSourceItems(items);
    } else if (isLibraryMenu) {
        auto* field = qobject_cast<QLineEdit*>(libraryMenuFilterField.data());
        const QString text = field ? field->text().trimmed() : QString();
        const PMParsedQueryPtr query = text.isEmpty() ? nullptr : PMParsedQuery::parsedQuery(text);
        if (!query) {
            clearLibraryMenuForUpdate(true, 1);
            addPseudoSeparatorWithHeight(menu, 6);
            menu->setMinimumWidth(0);
            entries = slowMenuSourceItems(_library);
        } else {
            auto* scopeBar = qobject_cast<PMQuibScopeBar*>(libraryMenuFilterScopeBar.data());
            const QList<QAction*> present = menu->actions();
            const bool barInMenu = gCriteriaItem && present.size() >= 2 && present.at(1) == gCriteriaItem.data();
            clearLibraryMenuForUpdate(true, barInMenu ? 2 : 1);
            platform::UserDefaults& defaults = platform::UserDefaults::standard();
            // Name and metadata are searched unless switched off, the location only when on.
            const auto criterion = [&defaults](const char* name) {
                static const QHash<QString, std::pair<QString, bool>> keys = {
                    {QStringLiteral("Name"), {QStringLiteral("Menu Search Criterion: Name"), true}},
                    {QStringLiteral("Metadata"), {QStringLiteral("Menu Search Criterion: Metadata"), true}},
                    {QStringLiteral("Location"), {QStringLiteral("Menu Search Criterion: Location"), false}},
                };
                const auto [key, byDefault] = keys.value(QString::fromLatin1(name));
                return defaults.objectForKey(key).isNull() ? byDefault : defaults.boolForKey(key);
            };
            if (!scopeBar) {
                scopeBar = new PMQuibScopeBar;
                libraryMenuFilterScopeBar = scopeBar;
                scopeBar->setDelegate(scopeBarDelegate());
                for (const char* name : {"Name", "Metadata", "Location"})
                    scopeBar->setSelected(criterion(name), QString::fromLatin1(name), 0, false);
                scopeBar->setCanReloadData(false);
            }
            if (!gCriteriaItem)
                gCriteriaItem = viewItem(menu, localized("Criteria"), scopeBar);
            if (!barInMenu)
                menu->addAction(gCriteriaItem);
            addPseudoSeparatorWithHeight(menu, 6);
            Array matches;
            addMatchesForParsedQuery(matches, *query, nullptr, false, true, criterion("Name"), criterion("Metadata"), criterion("Location"), nullptr);
            if (matches.isEmpty()) {
                addNonActionItemWithSmallTitle(menu, localized("No Matches"));
                entries = slowMenuSourceItems(_library);
            } else {
                entries = Array::make();
                for (const Value& v : matches)
                    entries->append(v);
                filtered = true;
            }
            menu->setMinimumWidth(int(scopeBar->minimumWidth()));
        }
    }
    if (!entries || entries->isEmpty()) {
        if (isLibraryMenu)
            addNonActionItemWithSmallTitle(menu, localized("No Movies"));
        else
            addNonActionItemWithTitle(menu, localized("Empty"));
        return;
    }
    if (filtered) {
        for (qsizetype i = 0; i < entries->count(); ++i) {
            const Value entry = entries->at(i);
            if (entry.isNull()) {
                menu->addSeparator();
                continue;
            }
            if (!updateLibraryMenuItem(nullptr, menu, entry, i, filtered, entries))
                break;
        }
        return;
    }
    QPointer<QMenu> guarded(menu);
    addMenuListWithLimit(menu, entries->count(), [this, guarded, entries](qsizetype from, qsizetype to, QAction* before) {
        QMenu* m = guarded;
        if (!m)
            return;
        for (qsizetype i = from; i < to; ++i) {
            const Value entry = entries->at(i);
            if (entry.isNull()) {
                m->insertSeparator(before);
                continue;
            }
            if (!before) {
                updateLibraryMenuItem(nullptr, m, entry, i, false, entries);
                continue;
            }
            // Revealed items go above the "(N more)" item.
            auto* item = new QAction(m);
            m->insertAction(before, item);
            updateLibraryMenuItem(item, m, entry, i, false, entries);
            if (!m->actions().contains(item))
                item->deleteLater();
        }
    });
}

void PMMainController::showLibraryItemFromMenuItem(const Value& representedObject)
{
    if (!representedObject.isNull())
        selectLibraryItem(representedObject);
}

void PMMainController::showGroupItemFromMenuItem(const Value& representedObject)
{
    PMMovieRepresentationPrototype* movie = PMMovie(representedObject);
    const PMLibraryContainerPtr parent = movie ? parentOfLibraryItem(representedObject) : nullptr;
    if (!parent)
        return;
    selectLibraryItem(Value(parent));
    // The movie alone selected in the shown view, scrolled to (and spotlit in the grid),
    // and that view takes the keys. (Restoring a selection never scrolls; this does.)
    const auto select = [this, representedObject, id = movie->uniqueLibraryID()](bool spotlight) {
        if (isGroupViewShown()) {
            _groupView->selectItems(Array::make({representedObject}), {}, {id}, true, false, true, spotlight);
            if (_groupView->focusPolicy() != Qt::NoFocus)
                _groupView->setFocus(Qt::OtherFocusReason);
            return;
        }
        selectGroupItemsWithIDs({id});
        if (!groupListAccess().selectedRows().isEmpty())
            groupListAccess().makeFirstResponder();
    };
    select(false);
    // The newly shown container is laid out again on the next turn (its place in the grid
    // restored): the movie is scrolled to once more after that, and spotlit.
    platform::performAfterDelay(this, QStringLiteral("showGroupItemFromMenuItem"), Value(), 0, [select] { select(true); });
}

void PMMainController::installLibraryMenu(QMenuBar* bar)
{
    if (!bar || libraryMenu)
        return;
    auto* menu = new QMenu(localized("&Browse"), bar);
    menu->setObjectName(QStringLiteral("Browse"));
    menu->setProperty("PMMainMenuTitle", QStringLiteral("Browse"));
    libraryMenu = menu;
    makeMenuScroll(menu);

    // The filter row: a search field that lives for the whole run, in and out of the menu.
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 3, 8, 3);
    auto* field = new QLineEdit(row);
    field->setPlaceholderText(localized("Filter"));
    field->setClearButtonEnabled(true);
    field->setObjectName(QStringLiteral("libraryMenuFilterField"));
    layout->addWidget(field);
    _libraryMenuFilterRow = row;
    libraryMenuFilterField = field;
    QObject::connect(field, &QLineEdit::textChanged, this, [this, field] { updateResultsForSearchField(field, true); });
    gFilterItem = viewItem(menu, localized("Filter"), row);
    menu->addAction(gFilterItem);

    // The last item stays below the listing.
    menu->addSeparator();
    QAction* last = menu->addAction(localized("Library Window"));
    platform::setMenuItemAction(last, QStringLiteral("showMainWindow"));

    _libraryMenuPopulator = platform::Dictionary::make();
    _libraryMenuPopulator->setValue(QStringLiteral("_MainLibraryMenuDelegate_"), Value(true));
    const auto rebuild = [this] {
        QMenu* m = libraryMenu;
        if (!m || m->actions().isEmpty())
            return;
        QAction* kept = m->actions().constLast();
        m->removeAction(kept);
        populateLibraryMenu(m, nullptr);
        m->addSeparator();
        m->addAction(kept);
    };
    QObject::connect(menu, &QMenu::aboutToShow, this, rebuild);
    // The field's own text and the criteria refill the open menu.
    _libraryMenuNeedsUpdate = [this, rebuild] {
        if (libraryMenu && libraryMenu->isVisible()) {
            rebuild();
            // The new rows get their titles and states as at an opening.
            platform::validateMenu(libraryMenu);
            libraryMenu->adjustSize();
        }
    };
    QObject::disconnect(this, &PMMainController::libraryMenuFilterResultsNeedUpdate, this, nullptr);
    QObject::connect(this, &PMMainController::libraryMenuFilterResultsNeedUpdate, this, [this] {
        if (auto* f = qobject_cast<QLineEdit*>(libraryMenuFilterField.data()))
            updateResultsForSearchField(f, false);
    });
    platform::installMenuConventions(menu);

    QAction* before = nullptr;
    for (QAction* top : bar->actions())
        if (top->menu() && top->menu()->objectName() == QLatin1String("Window"))
            before = top;
    bar->insertMenu(before, menu);
}
