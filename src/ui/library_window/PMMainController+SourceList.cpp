// The main controller as the source list's data source and delegate: which items appear,
// which rows are section headers, what each row shows (counts, the current movie's
// place, progress, the playing mark, colour, icon), selection and renaming; and the
// source list's share of saving and loading: the selected container and the expanded
// rows.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "library/maintenance/PMSmartGroups.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/DelayedPerform.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMInterfaceRefresh.h"
#include "ui/library_window/PMMovieCell.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QSet>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

constexpr int kMaximumDepth = 256;

const QString kThinSpace = QStringLiteral("\u2006");

} // namespace

// ---------------------------------------------------------------------------
// The tree

namespace {

// A section of another program's media library (a music or photo application) has no
// source on this system unless something fills it: empty, it would only say "0 files".
bool isEmptyExternalSection(PMLibraryContainer& container)
{
    const QString role = container.topLevelRole();
    const QString section = container.value(QStringLiteral("Library Section")).string();
    const auto external = [](const QString& name) {
        return name == QLatin1String("iTunes") || name == QLatin1String("iPhoto") || name == QLatin1String("Aperture");
    };
    if (!external(role) && !external(section))
        return false;
    const ArrayPtr movies = container.allNonProxyMovieChildren();
    return !movies || movies->isEmpty();
}

} // namespace

ArrayPtr PMMainController::visibleTopLevelItems()
{
    auto items = Array::make();
    if (!_library)
        return items;
    for (const Value& v : *_library) {
        PMLibraryContainer* container = PMContainer(v);
        if (!container)
            continue;
        const QString role = container->topLevelRole();
        if (isEmptyExternalSection(*container))
            continue;
        const ArrayPtr children = role == QLatin1String("Library") ? nullptr : container->filteredChildren();
        if (role == QLatin1String("Library") || (children && !children->isEmpty()))
            items->append(v);
    }
    return items;
}

ArrayPtr PMMainController::visibleTopLevelLibraryItems()
{
    return visibleTopLevelItems();
}

bool PMMainController::outlineViewShowMovieChildrenOfContainer(const PMLibraryContainerPtr& container)
{
    if (!container)
        return false;
    const long long mode = defaults().integerForKey(prefs::keys::SourceListDisplayMode);
    if (mode == 1)
        return true;
    const QString role = container->topLevelRole();
    if (role == QLatin1String("Downloads") || role == QLatin1String("Conversions"))
        return true;
    return mode == 0 && role == QLatin1String("Temporary");
}

ArrayPtr PMMainController::outlineViewChildrenOfContainer(const PMLibraryContainerPtr& container)
{
    if (!container)
        return visibleTopLevelItems();
    const ArrayPtr children = outlineViewShowMovieChildrenOfContainer(container) ? container->sortedChildren() : container->sortedGroupChildren();
    if (!children || container->topLevelRole() != QLatin1String("Library"))
        return children;
    // The Library's sections of other programs' media libraries only where they hold movies.
    ArrayPtr shown;
    for (qsizetype i = 0; i < children->count(); ++i) {
        PMLibraryContainer* section = PMContainer(children->at(i));
        const bool hide = section && isEmptyExternalSection(*section);
        if (hide && !shown)
            shown = std::make_shared<Array>(std::vector<Value>(children->values().begin(), children->values().begin() + i));
        else if (!hide && shown)
            shown->append(children->at(i));
    }
    return shown ? shown : children;
}

qsizetype PMMainController::outlineViewNumberOfChildrenOfItem(const Value& item)
{
    if (item.isNull())
        return visibleTopLevelItems()->count();
    if (!PMContainer(item))
        return -1;
    const ArrayPtr children = outlineViewChildrenOfContainer(PMContainerPtr(item));
    return children ? children->count() : 0;
}

Value PMMainController::outlineViewChildOfItem(qsizetype child, const Value& ofItem)
{
    if (!ofItem.isNull() && !PMContainer(ofItem))
        return Value();
    const ArrayPtr children = ofItem.isNull() ? visibleTopLevelItems() : outlineViewChildrenOfContainer(PMContainerPtr(ofItem));
    return children && child >= 0 && child < children->count() ? children->at(child) : Value();
}

bool PMMainController::outlineViewIsItemExpandable(const Value& item)
{
    return !item.isNull() && outlineViewNumberOfChildrenOfItem(item) > 0;
}

QString PMMainController::outlineViewObjectValueByItem(const Value& item)
{
    PMLibraryItem* libraryItem = PMItem(item);
    return libraryItem ? libraryItem->displayName() : QString();
}

bool PMMainController::outlineViewDisplayAsPseudoGroupItem(const Value& item)
{
    PMLibraryItem* libraryItem = PMItem(item);
    return libraryItem && (!libraryItem->topLevelRole().isEmpty() || libraryItem->emancipatesChildren());
}

bool PMMainController::outlineViewShouldShowOutlineCellForItem(const Value& item)
{
    return !outlineViewDisplayAsPseudoGroupItem(item);
}

bool PMMainController::outlineViewShouldSelectItem(const Value& item)
{
    PMLibraryItem* libraryItem = PMItem(item);
    return libraryItem && libraryItem->topLevelRole().isEmpty();
}

bool PMMainController::outlineViewCanEditItem(const Value& item)
{
    PMLibraryItem* libraryItem = PMItem(item);
    if (!libraryItem || libraryItem->isOnlineItem())
        return false;
    if (PMLibraryContainer* container = PMContainer(item))
        return !container->isSourceStorageSection() && !container->isExternalMediaItem() && !container->isSmartGroupSubdivision()
            && container->topLevelRole().isEmpty();
    return !PMCachedSettings::determineNamesAutomatically;
}

void PMMainController::outlineViewSetObjectValue(const QString& objectValue, const Value& byItem)
{
    if (!outlineViewCanEditItem(byItem))
        return;
    // A name cannot be emptied: a blank edit keeps the old name.
    if (objectValue.trimmed().isEmpty())
        return;
    if (PMMovieRepresentationPrototype* movie = PMMovie(byItem)) {
        movie->setDisplayName(objectValue);
        redrawPlayerView();
    } else if (PMLibraryContainer* container = PMContainer(byItem)) {
        container->setValue(QStringLiteral("Name"), QString(objectValue));
        container->invalidateDisplayNameRecursively();
        container->invalidateSortNameRecursively();
    }
    FileLocationsRequest request;
    request.items = Array::make({byItem});
    request.organize = !defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder);
    updateFileLocations(request);
    updateStatusFields();
    freezeSelections();
    platform::performAfterDelay(this, QStringLiteral("updateLibraryWithFrozenSelections"), Value(), 0,
                                [this] { updateLibraryWithFrozenSelections(); });
    saveLibrarySoon();
}

double PMMainController::outlineViewHeightOfRowByItem(const Value& item)
{
    // Every row has the outline's height: a section's gap before it is taken out of the
    // top of its row (the source list's frame corrections), not added to it.
    Q_UNUSED(item);
    return PMMovieOutlineView::rowHeight();
}

void PMMainController::outlineViewSelectionDidChange()
{
    destroyInbox();
    // Readers of the selection that do not ask the list keep up through this copy.
    if (libraryListView)
        _selectedLibraryItems = libraryListView->selectedItems();
    ++PMGroupView::animationSuppressionCounter();
    correctLibrarySelection();
    --PMGroupView::animationSuppressionCounter();
}

void PMMainController::outlineViewWillDisplayCell(PMMovieCell& cell, const Value& item)
{
    PMMovieOutlineView* view = libraryListView;
    PMLibraryItem* libraryItem = PMItem(item);
    if (!libraryItem)
        return;
    std::optional<QColor> textColor;
    bool group = false;
    if (PMMovieRepresentationPrototype* movie = PMMovie(item)) {
        const bool playing = PMIsSameItem(item, _currentMovieRepresentation)
            || (_isMonitoredExternalViewerReadyToContinue && PMIsSameItem(item, _externalViewerMovieRepresentation));
        cell.setPlaying(playing);
        cell.setStatus(movie->isMissing() ? QStringLiteral("?") : QString());
    } else if (PMLibraryContainer* container = PMContainer(item)) {
        group = outlineViewDisplayAsPseudoGroupItem(item);
        if (defaults().boolForKey(prefs::keys::HighlightSortingIssues) && container->isSmartGroupSubdivision()) {
            const ArrayPtr sortedMovies = container->sortedMovieChildren();
            const ArrayPtr filtered = container->filteredChildren();
            if (sortedMovies && filtered && sortedMovies->count() == filtered->count() && !PMLibraryItemsAreSorted(sortedMovies, QString(), false))
                textColor = QColor(Qt::red);
        }
        const ArrayPtr ancestors = _currentOrMonitoredMovieRepresentationAncestors;
        const bool collapsed = !view || !view->isItemExpanded(item);
        qsizetype k = -1;
        if (ancestors)
            for (qsizetype i = 0; i < ancestors->count(); ++i)
                if (PMIsSameItem(ancestors->at(i), item)) {
                    k = i;
                    break;
                }
        if (defaults().boolForKey(prefs::keys::HideItemCounts)) {
            cell.setStatus(QString());
            cell.setPlaying(ancestors && collapsed && k >= 0);
        } else if (container->isOnlineItem()) {
            const QString query = container->query();
            cell.setStatus(query.isEmpty() ? QString() : query);
            cell.setPlaying(false);
        } else if ((collapsed || k == 0) && ancestors && k >= 0) {
            const std::uint64_t n = container->numberOfChildrenToDisplay();
            const Value movie = !_currentMovieRepresentation.isNull() ? _currentMovieRepresentation : _externalViewerMovieRepresentation;
            qsizetype index = 0, count = 0;
            PMLibraryContainer* nearest = PMContainer(ancestors->at(0));
            if (nearest && nearest->getIndex(&index, &count, movie)) {
                QString status;
                if (defaults().boolForKey(prefs::keys::SourceListArrowsReflectCurrentMovieDepth))
                    status = QString(int(k + 1), QChar(0x25B8)) + kThinSpace;
                status += QString::number(index + 1) + kThinSpace + QLatin1Char('/') + kThinSpace + QString::number(count);
                if (std::uint64_t(count) != n)
                    status += QStringLiteral(" \u00B7 ") + QString::number(n);
                cell.setPlaying(true);
                cell.setStatus(status);
            } else {
                cell.setStatus(QString());
            }
        } else if (group) {
            double fraction = 0;
            const QString role = container->topLevelRole();
            if (role == QLatin1String("Downloads")) {
                std::uint64_t longTerm = std::uint64_t(std::max<std::int64_t>(0, _longTermNumberOfDownloads));
                fraction = container->downloadFractionWithLongTermCount(&longTerm);
            } else if (role == QLatin1String("Conversions")) {
                std::uint64_t longTerm = std::uint64_t(std::max<std::int64_t>(0, _longTermNumberOfConversions));
                fraction = container->conversionFractionWithLongTermCount(&longTerm);
            }
            const qint64 percentage = fraction > 0 ? qint64(std::llround(fraction * 100)) : 0;
            // The progress is shown as a pie of its own (an empty text with a percentage).
            cell.setStatus(QStringLiteral(""), role == QLatin1String("Downloads") || role == QLatin1String("Conversions") ? percentage : 0, false,
                           false);
        } else {
            const std::uint64_t n = container->numberOfChildrenToDisplay();
            QString status;
            if (n > 0)
                status = QString::number(n);
            else if (defaults().integerForKey(prefs::keys::ItemCountMode) != 1 && defaults().boolForKey(prefs::keys::ShowZeroItemCounts))
                status = QStringLiteral("0");
            if (container->value(QStringLiteral("Hide Item Count")).toBool())
                status = QString();
            cell.setStatus(status);
        }
    }
    cell.setPseudoGroupItem(group);
    const qsizetype dropOn = view ? view->draggingDestinationDropOnRow() : -1;
    cell.setHighlightedDropTarget(dropOn >= 0 && view && dropOn == view->rowForItem(item));
    cell.setImage(group ? QIcon() : libraryItem->icon());
    if (!textColor) {
        const bool dark = isInFullyInvertedDarkMode(view);
        const float w = dark ? 1.0f : 0.0f;
        textColor = QColor::fromRgbF(w, w, w, view && drawsActiveWindowContent(view) ? 0.95f : 0.6f);
    }
    cell.setTextColor(*textColor);
}

void PMMainController::tableViewDidReceiveDoubleClickInRow(qsizetype row)
{
    PMMovieOutlineView* view = libraryListView;
    if (!view || row < 0 || row >= view->numberOfRows())
        return;
    const Value item = view->itemAtRow(row);
    if (PMContainer(item)) {
        // Closes the movie in the main window so that the selected container shows again.
        if (playerView && playerView->window() == mainWindow())
            chooseGroup(nullptr);
        return;
    }
    PMMovieRepresentationPrototype* movie = PMMovie(item);
    if (!movie)
        return;
    if (movie->isMissing()) {
        movie->promptForURL();
        return;
    }
    chooseMovieRepresentation(item, false, true, !defaults().boolForKey(prefs::keys::DoNotPlayOnOpen), false);
}

QMenu* PMMainController::contextMenuForLibraryListRowIndexes(const QList<qsizetype>* rowIndexes)
{
    return _contextMenuForLibraryListRowIndexes ? _contextMenuForLibraryListRowIndexes(rowIndexes) : nullptr;
}

// ---------------------------------------------------------------------------
// The library window's share of drags

void PMMainController::setDraggingDestinationDropOnRow(qsizetype row)
{
    _draggingDestinationDropOnRow = row;
    if (libraryListView)
        libraryListView->setDraggingDestinationDropOnRow(row);
}

void PMMainController::editNameOfLibraryItem(const Value& item)
{
    PMMovieOutlineView* view = libraryListView;
    if (!view)
        return;
    const qsizetype row = view->rowForItem(item);
    if (row < 0)
        return;
    if (!view->selectedRowIndexes().contains(row))
        view->selectRowIndexes({row}, false);
    const QModelIndex index = view->indexAtRow(row);
    view->scrollTo(index);
    view->setCurrentIndex(index);
    // What is typed next is the name: the library window takes the keys, even when a
    // player window or a panel had them before.
    if (QWidget* window = view->window(); window && window->isVisible() && QApplication::activeWindow() != window) {
        window->raise();
        window->activateWindow();
    }
    view->setFocus(Qt::OtherFocusReason);
    view->edit(index);
}

// ---------------------------------------------------------------------------
// Selection as the save and the start-up see it

ArrayPtr PMMainController::selectedLibraryListItems()
{
    const ArrayPtr selected = selectedLibraryItems();
    return selected ? selected : Array::make();
}

// ---------------------------------------------------------------------------
// Expansion state and the save

void PMMainController::storeExpansionStateOfLibraryItems(const ArrayPtr& items, Array& inArray)
{
    PMMovieOutlineView* view = libraryListView;
    if (!view || !items)
        return;
    std::function<void(const ArrayPtr&, int)> walk = [&](const ArrayPtr& list, int depth) {
        if (!list || depth > kMaximumDepth)
            return;
        for (const Value& v : *list) {
            PMLibraryContainer* container = PMContainer(v);
            if (!container || !view->isItemExpanded(v))
                continue;
            inArray.append(container->uniqueLibraryID());
            walk(outlineViewChildrenOfContainer(PMContainerPtr(v)), depth + 1);
        }
    };
    walk(items, 0);
}

void PMMainController::storeLibraryListExpansionState()
{
    if (!libraryListView)
        return;
    auto expanded = Array::make();
    storeExpansionStateOfLibraryItems(visibleTopLevelItems(), *expanded);
    defaults().setObject(Value(expanded), prefs::keys::ExpandedLibraryContainers);
}

void PMMainController::restoreLibraryListExpansionState()
{
    PMMovieOutlineView* view = libraryListView;
    if (!view)
        return;
    QSet<QString> expanded;
    const ArrayPtr stored = defaults().objectForKey(prefs::keys::ExpandedLibraryContainers).array();
    if (stored)
        for (const Value& v : *stored)
            if (v.isString())
                expanded.insert(v.string());
    PMSourceListModel* model = view->sourceListModel();
    // Rows appear as their parents expand: only expanded rows are walked into.
    std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
        if (depth > kMaximumDepth)
            return;
        const int count = model->rowCount(parent);
        for (int r = 0; r < count; ++r) {
            const QModelIndex index = model->index(r, 0, parent);
            if (!model->hasChildren(index))
                continue;
            const Value item = model->itemForIndex(index);
            PMLibraryContainer* container = PMContainer(item);
            const Value id = container ? container->value(QStringLiteral("Unique ID")) : Value();
            if (outlineViewDisplayAsPseudoGroupItem(item) || (id.isString() && expanded.contains(id.string()))) {
                view->expand(index);
                walk(index, depth + 1);
            } else {
                view->collapse(index);
            }
        }
    };
    walk(QModelIndex(), 0);
}

void PMMainController::reloadInterfaceAfterLibraryUpdate()
{
    if (PMMovieOutlineView* view = libraryListView)
        view->reloadData();
    if (_selectionFreezeLevel > 0) {
        PMInterfaceRefreshAwaitsUnfreeze = true;
        return;
    }
    updateUserInterface();
}

void PMMainController::updateLibraryAfterRatingChange()
{
    if (!_libraryWasBuiltOnce) {
        updateLibrary();
        saveLibrarySoon();
        return;
    }
    freezeSelections();
    // The containers' search results and the sorts that read ratings are dropped and made
    // again when next asked for (the shown one by the refresh below); what they hold and
    // its sums stay, and so does a sort by names or dates. Buckets of smart groups are
    // refilled with their groups.
    for (const PMLibraryContainerPtr& container : std::as_const(_containersByID))
        if (container && !container->isSmartGroupSubdivision())
            container->invalidateAfterRatingChange();
    // The groups keep what they show until their new content arrives. Only those whose
    // content a rating can change are filled again: a group of every movie keeps its
    // members, and with them its sorted order (unless that reads ratings, see above). A
    // population still on its way read the movies before this change and is replaced
    // whole, every group with it.
    Array groups;
    if (isPopulatingSmartGroups()) {
        groups = _rebuiltSmartGroups;
    } else {
        const PMSmartGroupSettings settings = PMSmartGroupSettings::fromDefaults();
        for (const Value& v : _rebuiltSmartGroups)
            if (PMLibraryContainer* group = PMContainer(v);
                group && PMSmartGroupContentMayDependOnRatings(group->value(QStringLiteral("Criteria")).dictionary(), settings))
                groups.append(v);
    }
    if (!groups.isEmpty())
        startSmartGroupPopulation(groups, platform::Date::now().secondsSince1970);
    // One refresh, when the selections are restored.
    PMInterfaceRefreshAwaitsUnfreeze = true;
    unfreezeSelections();
    saveLibrarySoon();
}

void PMMainController::updateLibraryAfterRatingChangeSoon()
{
    platform::performAfterDelay(this, QStringLiteral("updateLibraryAfterRatingChange"), Value(), 0, [this] { updateLibraryAfterRatingChange(); });
    saveLibrarySoon();
}

void PMMainController::storeLibraryWindowStateForSave()
{
    const PMLibraryContainerPtr selected = selectedContainer();
    if (selected)
        defaults().setObject(Value(selected->uniqueLibraryID()), prefs::keys::LibrarySelection);
    else
        defaults().removeObjectForKey(prefs::keys::LibrarySelection);
    storeLibraryListExpansionState();
    if (PMGroupTableView* list = groupListTable)
        list->saveTableColumns();
}
