// The selections of the library window: the source list's items and the shown group
// content's items (the grid, or the list table of the shown movies). Every library
// update rebuilds the tree, so the objects behind a selection may be replaced: freezing
// records a selection in a form that survives that (the objects, "parent>>item" IDs for
// proxies, the group items' IDs) and unfreezing finds the new objects again.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMInterfaceRefresh.h"
#include "ui/library_window/PMLibraryWindowAccess.h"

#include <QtWidgets/QLineEdit>

#include <algorithm>
#include <functional>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

constexpr int kMaximumListDepth = 200;
constexpr double kStandInRowHeight = 22;
constexpr double kStandInListWidth = 200;

QList<qsizetype> sortedUnique(QList<qsizetype> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

} // namespace

// ---------------------------------------------------------------------------
// The stand-ins of the source list and the list table

ArrayPtr PMLibraryListAccess::standInRows(QList<qsizetype>* levels)
{
    PMMainController& c = mainController();
    auto rows = Array::make();
    std::function<void(const ArrayPtr&, qsizetype)> walk = [&](const ArrayPtr& items, qsizetype level) {
        if (!items || level > kMaximumListDepth)
            return;
        for (const Value& v : *items) {
            rows->append(v);
            if (levels)
                levels->append(level);
            if (PMContainer(v))
                walk(c.outlineViewChildrenOfContainer(PMContainerPtr(v)), level + 1);
        }
    };
    walk(c.visibleTopLevelLibraryItems(), 0);
    return rows;
}

qsizetype PMLibraryListAccess::numberOfRows()
{
    return standInRows(nullptr)->count();
}

Value PMLibraryListAccess::itemAtRow(qsizetype row)
{
    return standInRows(nullptr)->value(row);
}

qsizetype PMLibraryListAccess::rowForItem(const Value& item)
{
    if (!item.isObject())
        return -1;
    return standInRows(nullptr)->indexOfIdentical(item.objectPointer());
}

qsizetype PMLibraryListAccess::levelForRow(qsizetype row)
{
    QList<qsizetype> levels;
    standInRows(&levels);
    return row >= 0 && row < levels.size() ? levels.at(row) : -1;
}

QList<qsizetype> PMLibraryListAccess::selectedRows()
{
    if (mainController()._selectedLibraryItems->isEmpty())
        return {};
    const ArrayPtr rows = standInRows(nullptr);
    QList<qsizetype> selected;
    for (const Value& item : *mainController()._selectedLibraryItems)
        if (item.isObject())
            if (const qsizetype row = rows->indexOfIdentical(item.objectPointer()); row >= 0)
                selected.append(row);
    return sortedUnique(selected);
}

void PMLibraryListAccess::selectRows(const QList<qsizetype>& rows)
{
    PMMainController& c = mainController();
    const QList<qsizetype> before = selectedRows();
    const ArrayPtr shown = standInRows(nullptr);
    auto items = Array::make();
    for (qsizetype row : sortedUnique(rows))
        if (row >= 0 && row < shown->count())
            items->append(shown->at(row));
    const bool sameItems = items->count() == c._selectedLibraryItems->count()
        && std::equal(items->begin(), items->end(), c._selectedLibraryItems->begin(), PMIsSameItem);
    c._selectedLibraryItems = items;
    // A list announces a changed selection, and its delegate corrects it.
    if (!sameItems || selectedRows() != before)
        c.correctLibrarySelection();
}

bool PMLibraryListAccess::isItemExpanded(const Value& item)
{
    return PMContainer(item) != nullptr; // the stand-in shows every container expanded
}

void PMLibraryListAccess::expandItem(const Value&) {}

void PMLibraryListAccess::scrollRowToVisible(qsizetype row)
{
    if (row < 0)
        return;
    const QRectF rowRect(0, row * kStandInRowHeight, kStandInListWidth, kStandInRowHeight);
    if (standInVisibleRect.isEmpty())
        standInVisibleRect = QRectF(0, 0, kStandInListWidth, enclosingScrollViewHeight());
    if (!standInVisibleRect.contains(rowRect))
        standInVisibleRect.moveTop(rowRect.top() < standInVisibleRect.top() ? rowRect.top() : rowRect.bottom() - standInVisibleRect.height());
}

QRectF PMLibraryListAccess::visibleRect()
{
    return standInVisibleRect;
}

QRectF PMLibraryListAccess::bounds()
{
    return QRectF(0, 0, kStandInListWidth, double(numberOfRows()) * kStandInRowHeight);
}

double PMLibraryListAccess::enclosingScrollViewHeight()
{
    return 400;
}

void PMLibraryListAccess::scrollRectToVisible(const QRectF& rect)
{
    standInVisibleRect = rect;
}

bool PMLibraryListAccess::shouldSelectItem(const Value& item)
{
    PMLibraryItem* libraryItem = PMItem(item);
    return libraryItem && libraryItem->topLevelRole().isEmpty();
}

qsizetype PMGroupListAccess::numberOfRows()
{
    const ArrayPtr& items = mainController()._groupMovieItems;
    return items ? items->count() : 0;
}

QList<qsizetype> PMGroupListAccess::selectedRows()
{
    QList<qsizetype> rows;
    for (qsizetype row : standInSelectedRows)
        if (row >= 0 && row < numberOfRows())
            rows.append(row);
    return rows;
}

void PMGroupListAccess::selectRows(const QList<qsizetype>& rows)
{
    standInSelectedRows = sortedUnique(rows);
}

void PMGroupListAccess::scrollRowToVisible(qsizetype row)
{
    if (row >= 0)
        standInVisibleRect.moveTop(row * kStandInRowHeight);
}

QRectF PMGroupListAccess::visibleRect()
{
    return standInVisibleRect;
}

QRectF PMGroupListAccess::bounds()
{
    return QRectF(0, 0, 600, double(numberOfRows()) * kStandInRowHeight);
}

void PMGroupListAccess::scrollRectToVisible(const QRectF& rect)
{
    standInVisibleRect = rect;
}

double PMGroupListAccess::topContentInset()
{
    return 0;
}

void PMGroupListAccess::setSortIndicator(const QString& columnIdentifier, bool descending)
{
    standInSortColumn = columnIdentifier;
    standInSortsDescending = descending;
}

QString PMGroupListAccess::toggleColumn(const QString& columnIdentifier)
{
    return columnIdentifier;
}

bool PMGroupListAccess::isFirstResponder()
{
    return standInIsFirstResponder;
}

void PMGroupListAccess::makeFirstResponder()
{
    standInIsFirstResponder = true;
}

PMLibraryListAccess& PMMainController::libraryListAccess()
{
    if (!_libraryListAccess)
        _libraryListAccess = std::make_shared<PMLibraryListAccess>();
    return *_libraryListAccess;
}

PMGroupListAccess& PMMainController::groupListAccess()
{
    if (!_groupListAccess)
        _groupListAccess = std::make_shared<PMGroupListAccess>();
    return *_groupListAccess;
}

bool PMMainController::isGroupViewShown() const
{
    if (!_groupView)
        return false;
    // A grid without a parent is the shown one (tests, benchmarks); in the window it is
    // shown while its tab is selected.
    return !_groupView->parentWidget() || _groupView->isVisibleTo(_groupView->window());
}

qsizetype PMMainController::libraryListRowForItem(const Value& item)
{
    return libraryListAccess().rowForItem(item);
}

// ---------------------------------------------------------------------------
// Selection access

ArrayPtr PMMainController::groupListItemsForIndexSet(const QList<qsizetype>& indexes)
{
    auto items = Array::make();
    for (qsizetype index : indexes)
        if (_groupMovieItems && index >= 0 && index < _groupMovieItems->count())
            items->append(_groupMovieItems->at(index));
    return items;
}

ArrayPtr PMMainController::selectedGroupListItems()
{
    return groupListItemsForIndexSet(groupListAccess().selectedRows());
}

void PMMainController::selectGroupItemsWithIDs(const QStringList& ids)
{
    if (isGroupViewShown()) {
        _groupView->selectItemsWithIDs(ids);
        return;
    }
    const QSet<QString> wanted(ids.begin(), ids.end());
    QList<qsizetype> rows;
    if (_groupMovieItems && !wanted.isEmpty())
        for (qsizetype row = 0; row < _groupMovieItems->count(); ++row)
            if (PMLibraryItem* item = PMItem(_groupMovieItems->at(row)); item && wanted.contains(item->uniqueLibraryID()))
                rows.append(row);
    PMGroupListAccess& list = groupListAccess();
    list.selectRows(rows);
    if (!rows.isEmpty())
        list.scrollRowToVisible(rows.first());
}

void PMMainController::clearGroupItemSelection(QObject*)
{
    selectGroupItemsWithIDs({});
}

void PMMainController::selectAllInSelectedGroupTab()
{
    if (isGroupViewShown()) {
        _groupView->selectAll();
        return;
    }
    QList<qsizetype> rows;
    for (qsizetype row = 0; row < groupListAccess().numberOfRows(); ++row)
        rows.append(row);
    groupListAccess().selectRows(rows);
}

ArrayPtr PMMainController::libraryItemsForIndexSet(const QList<qsizetype>& indexes)
{
    if (indexes.isEmpty())
        return nullptr;
    PMLibraryListAccess& list = libraryListAccess();
    const qsizetype rows = list.numberOfRows();
    auto items = Array::make();
    for (qsizetype row : indexes)
        if (row >= 0 && row < rows)
            if (const Value item = list.itemAtRow(row); !item.isNull())
                items->append(item);
    return items->isEmpty() ? nullptr : items;
}

ArrayPtr PMMainController::selectedLibraryItems()
{
    return libraryItemsForIndexSet(libraryListAccess().selectedRows());
}

ArrayPtr PMMainController::multipleSelectionLibraryItems()
{
    if (_numberOfSelectedLibraryFiles == 0 && _numberOfSelectedLibraryContainers < 2)
        return nullptr;
    return selectedLibraryItems();
}

bool PMMainController::canSelectSearchScope()
{
    if (_numberOfSelectedLibraryContainers == 0)
        return _numberOfSelectedLibraryFiles > 0;
    if (_numberOfSelectedLibraryContainers != 1)
        return true;
    const PMLibraryContainerPtr library = existingSourceStorage();
    const ArrayPtr groups = library ? library->sortedGroupChildren() : nullptr;
    return !(groups && groups->count() == 1 && _groupItemsParent && PMContainer(groups->at(0)) == _groupItemsParent.get());
}

bool PMMainController::canSearchContainers()
{
    return _numberOfSelectedLibraryFiles == 0;
}

bool PMMainController::canIntersectSearch()
{
    return _numberOfSelectedLibraryContainers >= 2 && _numberOfSelectedLibraryFiles == 0;
}

QSet<QString> PMMainController::selectedLibraryContainerIDs()
{
    QSet<QString> ids;
    if (const ArrayPtr items = selectedLibraryItems())
        for (const Value& v : *items)
            if (PMLibraryContainer* container = PMContainer(v))
                if (const QString id = container->uniqueLibraryID(); !id.isEmpty())
                    ids.insert(id);
    return ids;
}

PMLibraryContainerPtr PMMainController::selectedContainer()
{
    if (const ArrayPtr items = selectedLibraryItems())
        for (const Value& v : *items)
            if (PMContainer(v))
                return PMContainerPtr(v);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Revealing and selecting

bool PMMainController::revealLibraryItems(const ArrayPtr& items, bool select)
{
    PMLibraryListAccess& list = libraryListAccess();
    if (items)
        for (const Value& item : *items)
            if (const ArrayPtr ancestors = ancestorsOfLibraryItem(item))
                for (const Value& ancestor : *ancestors) // nearest first
                    if (!list.isItemExpanded(ancestor))
                        list.expandItem(ancestor);
    if (!select || !items)
        return false;
    QList<qsizetype> rows;
    for (const Value& item : *items)
        if (const qsizetype row = list.rowForItem(item); row >= 0)
            rows.append(row);
    if (rows.isEmpty())
        return false;
    rows = sortedUnique(rows);
    list.selectRows(rows);
    list.scrollRowToVisible(rows.first());
    return true;
}

bool PMMainController::revealLibraryItem(const Value& item, bool select)
{
    return revealLibraryItems(item.isNull() ? Array::make() : Array::make({item}), select);
}

bool PMMainController::selectLibraryItems(const ArrayPtr& items)
{
    return revealLibraryItems(items, true);
}

bool PMMainController::selectLibraryItem(const Value& item)
{
    return revealLibraryItem(item, true);
}

void PMMainController::addAndSelectLibraryItem(const Value& item, const PMLibraryContainerPtr& toStorage, ArrayPtr* getSiblings)
{
    const ArrayPtr selected = selectedLibraryItems();
    addAndSelectLibraryItem(item, toStorage, selected && !selected->isEmpty() ? selected->at(selected->count() - 1) : Value(), false,
                            getSiblings);
}

void PMMainController::addAndSelectLibraryItem(const Value& item, const PMLibraryContainerPtr& toStorage, const Value& withSelectedItem,
                                               bool assumeExpanded, ArrayPtr* getSiblings)
{
    const PMLibraryContainerPtr own = pellisSourceStorageSection();
    const PMLibraryContainerPtr library = existingSourceStorage();
    ArrayPtr target;
    qsizetype index = -1; // -1 appends
    auto appendToStorage = [&] {
        const PMLibraryContainerPtr storage = toStorage == library ? own : toStorage;
        target = storage ? storage->rawChildren() : nullptr;
        index = -1;
    };
    auto withoutReference = [&] {
        if (toStorage) {
            appendToStorage();
        } else {
            target = own ? own->rawChildren() : nullptr;
            index = -1;
        }
    };

    const PMLibraryContainerPtr reference = PMContainerPtr(withSelectedItem);
    if (!PMItem(withSelectedItem)) {
        withoutReference();
    } else if (toStorage && (topLevelAncestorOfItem(withSelectedItem) != toStorage
                             || (toStorage == library && reference != own
                                 && !(own && ancestorsOfLibraryItem(withSelectedItem)
                                      && ancestorsOfLibraryItem(withSelectedItem)->indexOfIdentical(own.get()) >= 0)))) {
        appendToStorage();
    } else {
        bool placed = false;
        if (reference) {
            const bool expanded = assumeExpanded || libraryListAccess().isItemExpanded(withSelectedItem);
            if (!reference->topLevelRole().isEmpty() || reference == own) {
                target = reference->rawChildren();
                index = expanded ? 0 : -1;
                placed = true;
            } else if (expanded && !reference->isSmartGroup()) {
                target = reference->rawChildren();
                index = 0;
                placed = true;
            }
        }
        if (!placed) {
            qsizetype referenceIndex = -1;
            const ArrayPtr siblings = siblingsOfLibraryItem(withSelectedItem, _library, &referenceIndex, nullptr, nullptr);
            const PMLibraryContainerPtr parent = parentOfLibraryItem(withSelectedItem);
            if (siblings && !(parent && parent->isSmartGroup())) {
                target = siblings;
                index = referenceIndex < 0 ? -1 : referenceIndex + 1;
            } else {
                withoutReference();
            }
        }
    }
    if (!target)
        return;
    if (index < 0 || index > target->count())
        target->append(item);
    else
        target->insert(index, item);
    updateLibraryAndInvalidateDependencies(true, false, true);
    selectLibraryItem(item);
    if (getSiblings)
        *getSiblings = target;
}

// ---------------------------------------------------------------------------
// Correcting the library selection, and the first selection

void PMMainController::correctLibrarySelection()
{
    if (_isCorrectingLibrarySelection)
        return;
    _isCorrectingLibrarySelection = true;
    _numberOfSelectedLibraryContainers = 0;
    _numberOfSelectedLibraryFiles = 0;

    PMLibraryListAccess& list = libraryListAccess();
    const ArrayPtr selected = selectedLibraryItems();
    auto kept = Array::make();
    ArrayPtr referenceSiblings;
    bool sawOnlineItem = false;
    bool sawSubdivision = false;
    if (selected) {
        for (const Value& item : *selected) {
            PMLibraryItem* libraryItem = PMItem(item);
            if (!libraryItem || !list.shouldSelectItem(item))
                continue;
            sawOnlineItem = sawOnlineItem || libraryItem->isOnlineItem();
            sawSubdivision = sawSubdivision || libraryItem->isSmartGroupSubdivision();
            if (kept->isEmpty()) {
                referenceSiblings = siblingsOfLibraryItem(item);
                if (!referenceSiblings)
                    continue;
            } else if (!(referenceSiblings && referenceSiblings->indexOfIdentical(item.objectPointer()) >= 0)
                       && !(!sawOnlineItem && sawSubdivision)) {
                continue;
            }
            kept->append(item);
            if (libraryItem->isContainer())
                ++_numberOfSelectedLibraryContainers;
            else
                ++_numberOfSelectedLibraryFiles;
        }
    }
    // Items that may not be selected leave the selection; none left clears it.
    if (selected && kept->count() < selected->count() && !selectLibraryItems(kept))
        list.selectRows({});

    updateUserInterface();
    if (_groupItemsParent && !_groupItemsParent->onlineRole().isEmpty() && (!_groupMovieItems || _groupMovieItems->isEmpty())
        && searchField && searchField->text().isEmpty() && !searchField->hasFocus())
        searchField->setFocus(Qt::OtherFocusReason);
    _isCorrectingLibrarySelection = false;
}

void PMMainController::selectFirstLibraryItem()
{
    PMLibraryListAccess& list = libraryListAccess();
    const qsizetype rows = list.numberOfRows();
    if (rows >= 2) {
        if (const PMLibraryContainerPtr smartGroups = storageWithName(QStringLiteral("Smart Groups"), nullptr, false)) {
            const ArrayPtr children = smartGroups->sortedChildren();
            if (children && !children->isEmpty())
                if (const qsizetype row = list.rowForItem(children->at(0)); row >= 0) {
                    list.selectRows({row});
                    return;
                }
        }
        for (qsizetype row = 1; row < rows; ++row)
            if (list.levelForRow(row) >= 1 && list.shouldSelectItem(list.itemAtRow(row))) {
                list.selectRows({row});
                return;
            }
    }
    list.selectRows({});
}

void PMMainController::setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem()
{
    const QString id = defaults().stringForKey(prefs::keys::LibrarySelection);
    if (const PMLibraryContainerPtr container = id.isEmpty() ? nullptr : _containersByID.value(id))
        if (selectLibraryItem(Value(container)))
            return;
    selectFirstLibraryItem();
}

// ---------------------------------------------------------------------------
// Freezing

void PMMainController::freezeSelections()
{
    if (_selectionFreezeLevel > 0) {
        ++_selectionFreezeLevel;
        return;
    }
    PMLibraryListAccess& list = libraryListAccess();
    _frozenSelections.libraryRect = list.visibleRect();

    // Proxies and external media records are made anew by every rebuild: they are found
    // again through their parent's ID and their own.
    auto library = Array::make();
    PMLibraryContainerPtr parent;
    if (const ArrayPtr selected = selectedLibraryItems()) {
        for (const Value& item : *selected) {
            PMLibraryItem* libraryItem = PMItem(item);
            if (!libraryItem)
                continue;
            if (libraryItem->isContainer() || !(libraryItem->isProxy() || libraryItem->isExternalMediaItem())) {
                library->append(item);
                continue;
            }
            if (!(parent && parent->rawChildren()->indexOfIdentical(item.objectPointer()) >= 0))
                parent = parentOfLibraryItem(item);
            if (!parent)
                continue;
            library->append(Value(parent->uniqueLibraryID() + QStringLiteral(">>") + libraryItem->uniqueLibraryID()));
        }
    }
    _frozenSelections.library = library;

    QStringList group;
    const bool grid = isGroupViewShown();
    const ArrayPtr groupItems = grid ? _groupView->selectedItems() : selectedGroupListItems();
    if (groupItems)
        for (const Value& v : *groupItems)
            if (PMLibraryItem* item = PMItem(v))
                if (const QString id = item->uniqueLibraryID(); !id.isEmpty())
                    group.append(id);
    _frozenSelections.group = group;
    _frozenSelections.groupViewHadFocus = grid ? _groupView->hasFocus() : groupListAccess().isFirstResponder();
    _selectionFreezeLevel = 1;
}

void PMMainController::unfreezeSelections()
{
    const long long levelBefore = _selectionFreezeLevel--;
    if (levelBefore <= 0) {
        _selectionFreezeLevel = 0;
        return;
    }
    // Restoring both selections updates the status once, at the end.
    const PMStatusFieldsHold statusHold;
    PMLibraryListAccess& list = libraryListAccess();
    const QList<qsizetype> rowsBefore = list.selectedRows();
    const int refreshesBefore = _userInterfaceRefreshCount;

    auto resolved = Array::make();
    if (_frozenSelections.library) {
        for (const Value& recorded : *_frozenSelections.library) {
            if (recorded.isString()) {
                const QString text = recorded.string();
                const qsizetype separator = text.indexOf(QStringLiteral(">>"));
                if (separator <= 0 || separator + 2 >= text.size())
                    continue;
                if (const PMLibraryContainerPtr parent = _containersByID.value(text.left(separator))) {
                    // The child as the source list shows it: a search active in the parent
                    // has results of its own that are not the list's rows.
                    const QString childID = text.mid(separator + 2);
                    const ArrayPtr shown = outlineViewChildrenOfContainer(parent);
                    Value child = shown ? objectWithUniqueLibraryID(*shown, childID) : Value();
                    if (child.isNull())
                        child = parent->childWithUniqueLibraryID(childID);
                    if (!child.isNull())
                        resolved->append(child);
                }
                continue;
            }
            PMLibraryItem* item = PMItem(recorded);
            if (!item || !(item->isSmartGroupSubdivision() || item->isExternalMediaItem())) {
                resolved->append(recorded);
                continue;
            }
            // Subdivisions and media categories are made anew by every rebuild: the one with
            // the same ID, else the one whose ID starts alike and that holds the same movies.
            const QString id = item->uniqueLibraryID();
            if (const PMLibraryContainerPtr same = _containersByID.value(id)) {
                if (resolved->indexOfIdentical(same.get()) < 0)
                    resolved->append(Value(same));
                continue;
            }
            const qsizetype cut = id.lastIndexOf(QStringLiteral("::"));
            PMLibraryContainer* recordedContainer = PMContainer(recorded);
            if (cut < 0 || !recordedContainer)
                continue;
            const QString prefix = id.left(cut);
            const QSet<QString> movies = recordedContainer->allMovieChildrenUniqueLibraryIDs();
            if (movies.isEmpty())
                continue;
            QStringList keys = _containersByID.keys();
            std::sort(keys.begin(), keys.end());
            for (const QString& key : keys) {
                if (!key.startsWith(prefix))
                    continue;
                const PMLibraryContainerPtr candidate = _containersByID.value(key);
                if (candidate && candidate->allMovieChildrenUniqueLibraryIDs() == movies) {
                    if (resolved->indexOfIdentical(candidate.get()) < 0)
                        resolved->append(Value(candidate));
                    break;
                }
            }
        }
    }
    if (!selectLibraryItems(resolved) && _selectionFreezeLevel == 0) {
        // What was selected is gone (deleted): rather than a blank header over an empty
        // grid, the containers selected before it come back, else the first item.
        const bool hadSelection = _frozenSelections.library && !_frozenSelections.library->isEmpty();
        if (!hadSelection)
            list.selectRows({});
        else if (!goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(false))
            selectFirstLibraryItem();
    }

    if (_selectionFreezeLevel == 0) {
        // The same rows announce no change: the selection is corrected (and the window
        // refreshed) all the same, since the objects behind them (or their content) may be
        // new. At the end of a refresh that froze the very objects now selected, that
        // refresh has just shown them as they are: a second one would show the same.
        const auto selectedAsFrozen = [&] {
            const ArrayPtr& frozen = _frozenSelections.library;
            const ArrayPtr now = selectedLibraryItems();
            if (!frozen || !now || frozen->count() != now->count())
                return false;
            for (qsizetype i = 0; i < frozen->count(); ++i)
                if (!frozen->at(i).isObject() || frozen->at(i).objectPointer() != now->at(i).objectPointer())
                    return false;
            return true;
        };
        const bool unchanged = _userInterfaceRefreshDepth > 0 && list.selectedRows() == rowsBefore && selectedAsFrozen();
        _frozenSelections.library = nullptr;
        if (list.selectedRows() == rowsBefore && !unchanged) {
            ++_selectionFreezeLevel;
            correctLibrarySelection();
            --_selectionFreezeLevel;
        }
        // The refresh a library update left for now, unless restoring the selection ran one.
        if (PMInterfaceRefreshAwaitsUnfreeze) {
            PMInterfaceRefreshAwaitsUnfreeze = false;
            if (_userInterfaceRefreshCount == refreshesBefore)
                updateUserInterface();
        }
    }

    if (_frozenSelections.group)
        selectGroupItemsWithIDs(*_frozenSelections.group);

    if (_selectionFreezeLevel == 0) {
        _frozenSelections.group.reset();
        if (_frozenSelections.groupViewHadFocus) {
            if (_groupView && isGroupViewShown()) {
                if (!_groupView->hasFocus() && _groupView->focusPolicy() != Qt::NoFocus)
                    _groupView->setFocus(Qt::OtherFocusReason);
            } else if (!groupListAccess().isFirstResponder()) {
                groupListAccess().makeFirstResponder();
            }
        }
        _frozenSelections.groupViewHadFocus = false;
        const QRectF recorded = _frozenSelections.libraryRect;
        if (recorded.height() > 0.1) {
            QRectF visible = recorded.intersected(list.bounds());
            if (!visible.isEmpty()) {
                visible.setHeight(std::min(visible.height(), list.enclosingScrollViewHeight()));
                list.scrollRectToVisible(visible);
                _frozenSelections.libraryRect = QRectF();
            }
        }
    }
}

void PMMainController::releaseFrozenSelections()
{
    if (--_selectionFreezeLevel > 0)
        return;
    _selectionFreezeLevel = 0;
    _frozenSelections = FrozenSelections();
    // Let go inside a refresh (the player took the window): that refresh is the one owed.
    PMInterfaceRefreshAwaitsUnfreeze = false;
}
