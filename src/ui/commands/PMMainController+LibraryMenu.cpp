// The library menu: the whole library as nested submenus that fill themselves when they
// open, with a filter field at the top that narrows it to the matching movies, and the
// two actions that reveal a library item in the library window.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManager.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMParsedQuery.h"
#include "library/model/PMSearch.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMSlowMenuDelegate.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/library_window/PMQuibScopeBar.h"

#include <QtCore/QCoreApplication>
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

// The widget an item carries as its view (nullptr for plain items).
QWidget* viewOfItem(QAction* item)
{
    auto* widgetAction = qobject_cast<QWidgetAction*>(item);
    return widgetAction ? widgetAction->defaultWidget() : nullptr;
}

QWidgetAction* addViewItem(QMenu* menu, const QString& title, QWidget* view)
{
    auto* item = new QWidgetAction(menu);
    item->setText(title);
    item->setDefaultWidget(view);
    item->setEnabled(false);
    menu->addAction(item);
    view->setEnabled(true);
    return item;
}

// A view item gives its view back when it goes, so that the view survives.
void releaseView(QAction* item)
{
    if (auto* widgetAction = qobject_cast<QWidgetAction*>(item))
        if (QWidget* view = widgetAction->defaultWidget()) {
            widgetAction->releaseWidget(view);
            view->setParent(nullptr);
        }
}

void removeItem(QMenu* menu, QAction* item)
{
    menu->removeAction(item);
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
    if (!forUpdate) {
        const QList<QAction*> items = menu->actions();
        for (qsizetype i = 1; i + 1 < items.size(); ++i) {
            if (viewOfItem(items.at(i)) == libraryMenuFilterScopeBar.data())
                releaseView(items.at(i));
            removeItem(menu, items.at(i));
        }
        return;
    }
    const QList<QAction*> items = menu->actions();
    if (!items.isEmpty() && _libraryMenuFilterRow && viewOfItem(items.constFirst()) == _libraryMenuFilterRow.data()) {
        for (qsizetype i = spareAtTop; i < items.size(); ++i) {
            QWidget* view = viewOfItem(items.at(i));
            if (view && (view == _libraryMenuFilterRow.data() || view == libraryMenuFilterScopeBar.data()))
                releaseView(items.at(i));
            removeItem(menu, items.at(i));
        }
        return;
    }
    for (QAction* item : items) {
        QWidget* view = viewOfItem(item);
        if (view && (view == _libraryMenuFilterRow.data() || view == libraryMenuFilterScopeBar.data()))
            releaseView(item);
        removeItem(menu, item);
    }
    if (_libraryMenuFilterRow)
        addViewItem(menu, localized("Filter"), _libraryMenuFilterRow);
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
            const bool barInMenu = scopeBar && present.size() >= 2 && viewOfItem(present.at(1)) == scopeBar;
            clearLibraryMenuForUpdate(true, barInMenu ? 2 : 1);
            platform::UserDefaults& defaults = platform::UserDefaults::standard();
            const auto criterion = [&defaults](const char* name) {
                const QString key = QStringLiteral("Menu Search Criterion: ") + QString::fromLatin1(name);
                return defaults.objectForKey(key).isNull() ? QLatin1String(name) != QLatin1String("Location") : defaults.boolForKey(key);
            };
            if (!scopeBar) {
                scopeBar = new PMQuibScopeBar;
                libraryMenuFilterScopeBar = scopeBar;
                scopeBar->setDelegate(scopeBarDelegate());
                for (const char* name : {"Name", "Metadata", "Location"})
                    scopeBar->setSelected(criterion(name), QString::fromLatin1(name), 0, false);
                scopeBar->setCanReloadData(false);
            }
            if (!barInMenu)
                addViewItem(menu, localized("Criteria"), scopeBar);
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
    for (qsizetype i = 0; i < entries->count(); ++i) {
        const Value entry = entries->at(i);
        if (entry.isNull()) {
            menu->addSeparator();
            continue;
        }
        if (!updateLibraryMenuItem(nullptr, menu, entry, i, filtered, entries))
            break;
    }
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
    // The movie alone selected in the shown view (grid or list), scrolled to.
    selectGroupItemsWithIDs({movie->uniqueLibraryID()});
}

void PMMainController::installLibraryMenu(QMenuBar* bar)
{
    if (!bar || libraryMenu)
        return;
    auto* menu = new QMenu(localized("&Browse"), bar);
    menu->setObjectName(QStringLiteral("Browse"));
    menu->setProperty("PMMainMenuTitle", QStringLiteral("Browse"));
    libraryMenu = menu;

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
    addViewItem(menu, localized("Filter"), row);

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
            libraryMenu->adjustSize();
        }
    };
    _scopeBarHooks.updateLibraryMenuFilterResults = [this] {
        if (auto* f = qobject_cast<QLineEdit*>(libraryMenuFilterField.data()))
            updateResultsForSearchField(f, false);
    };
    platform::installMenuConventions(menu);

    QAction* before = nullptr;
    for (QAction* top : bar->actions())
        if (top->menu() && top->menu()->objectName() == QLatin1String("Window"))
            before = top;
    bar->insertMenu(before, menu);
}
