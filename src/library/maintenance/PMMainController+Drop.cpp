// Files and library items entering or moving inside the library tree: drags from the
// source list and the list, the validation and acceptance of drops on the three views,
// the import they lead to, and the placing of new movie records.
#include "library/model/PMMainController.h"

#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/PMLog.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMPasteboard.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/FilePromises.h"
#include "platform/PropertyList.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QSet>
#include <QtCore/QUrl>
#include <QtWidgets/QWidget>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kSubdivisionBranch = QStringLiteral("Subdivision Branch");
const QString kStaticProxies = QStringLiteral("Static Proxies");
const QString kLibrarySection = QStringLiteral("Library Section");
const QString kURIListType = QStringLiteral("text/uri-list");
constexpr int kMaximumWalkDepth = 256;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

bool isManuallySorted(PMLibraryContainer& container, QString* getCriterion = nullptr)
{
    const QString criterion = container.primarySortCriterionFromCSVString(nullptr, nullptr, true);
    if (getCriterion)
        *getCriterion = criterion;
    return criterion.startsWith(kGroupListIndex);
}

bool hasSubdivisionBranch(const PMLibraryContainerPtr& container)
{
    return container && container->contains(kSubdivisionBranch);
}

// A name of a promised file as another program gives it, made safe as one file name in
// the folder; empty when it is refused.
QString safePromisedFileName(const QString& name)
{
    if (name.contains(u'/') || name.contains(QChar(0)) || name == QLatin1String("..") || name == QLatin1String("."))
        return {};
    return cleanFilename(name);
}

// Where the library window's list or source list shows `display` (in display order, which
// runs against the raw order when the container sorts descending), the raw index at which
// a drop above display row `row` lands.
qsizetype rawDropIndex(const ArrayPtr& raw, qsizetype row, const ArrayPtr& display, bool descending)
{
    if (!descending)
        return PMMainController::dropIndexInRawArray(raw, row, display);
    // Above row r lies right after the r-th item in raw order; below the last row is the
    // start of the raw children.
    const qsizetype count = display ? display->count() : 0;
    if (row >= count)
        return 0;
    const qsizetype index = raw->indexOfIdentical(display->at(std::max<qsizetype>(row, 0)).objectPointer());
    return index < 0 ? raw->count() : index + 1;
}

// The movies below the siblings (not below smart groups), first occurrence per location,
// in the order a search of the tree meets them.
void collectMoviesByLocation(const ArrayPtr& siblings, QHash<QString, Value>& byLocation, int depth)
{
    if (!siblings || depth > kMaximumWalkDepth)
        return;
    for (const Value& sibling : *siblings) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(sibling)) {
            const QString key = PMMovieLocationKey(movie->URL());
            if (!byLocation.contains(key))
                byLocation.insert(key, sibling);
        } else if (PMLibraryContainer* container = PMContainer(sibling); container && !container->isSmartGroup()) {
            collectMoviesByLocation(container->rawChildren(), byLocation, depth + 1);
        }
    }
}

// URLs from another program become movie records only when they name a file or a web
// address.
bool isAcceptableDroppedURL(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (url.isLocalFile() || scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The library's own movie section as it stands (validation must not make it).
PMLibraryContainerPtr existingOwnSection(const PMLibraryContainerPtr& libraryStorage)
{
    if (!libraryStorage)
        return nullptr;
    for (const Value& child : *libraryStorage->rawChildren())
        if (PMLibraryContainer* section = PMContainer(child); section && section->contains(kLibrarySection) && section->isPellisSourceStorageSection())
            return PMContainerPtr(child);
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// Placing movies

bool PMMainController::addLibraryItems(const ArrayPtr& libraryItems, const QList<QUrl>& withURLs, const ArrayPtr& defaultSiblings,
                                       qsizetype atIndex, Array* collectMovieRepresentations)
{
    Array ownCollection;
    Array& collection = collectMovieRepresentations ? *collectMovieRepresentations : ownCollection;
    const qsizetype collectedBefore = collection.count();
    const bool givenItems = libraryItems && !libraryItems->isEmpty();

    // First decide what is placed and collected, so that a placement that collects
    // nothing leaves the library as it was.
    std::vector<Value> toPlace;
    const PMLibraryContainerPtr temporary = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    QHash<QString, Value> known;
    if (const PMLibraryContainerPtr section = pellisSourceStorageSection())
        collectMoviesByLocation(section->rawChildren(), known, 0);
    if (!givenItems) {
        for (const QUrl& url : withURLs) {
            const QString key = PMMovieLocationKey(url);
            const auto found = known.constFind(key);
            if (found != known.constEnd()) {
                collection.append(*found);
                continue;
            }
            const PMMovieRepresentationOriginalPtr record = PMMovieRepresentationOriginal::movieRepresentationWithURL(url);
            if (!record)
                continue;
            // A file named twice in one drop gets one record.
            known.insert(key, Value(record));
            collection.append(Value(record));
            toPlace.push_back(Value(record));
        }
    } else {
        for (const Value& item : *libraryItems) {
            if (PMLibraryContainer* container = PMContainer(item)) {
                for (const Value& movie : *container->allNonProxyMovieChildren())
                    collection.append(movie);
            } else {
                collection.append(item);
            }
            toPlace.push_back(item);
        }
        // A file that is known only from the temporary storage moves to the drop position
        // with its record, instead of leaving the library together with its settings.
        if (temporary) {
            QSet<QString> placed;
            for (const Value& item : *libraryItems) {
                if (PMMovieRepresentationPrototype* movie = PMMovie(item))
                    placed.insert(PMMovieLocationKey(movie->URL()));
                else if (PMLibraryContainer* container = PMContainer(item))
                    for (const Value& movie : *container->allNonProxyMovieChildren())
                        placed.insert(PMMovieLocationKey(PMMovie(movie)->URL()));
            }
            for (const QUrl& url : withURLs) {
                const QString key = PMMovieLocationKey(url);
                if (placed.contains(key) || known.contains(key))
                    continue;
                Value inTemporary;
                if (!nonSmartPlaylistSiblingsOfLibraryItemWithURL(url.toString(QUrl::FullyEncoded), temporary->rawChildren(), &inTemporary, nullptr,
                                                                  nullptr, nullptr))
                    continue;
                PMLibraryItem* item = PMItem(inTemporary);
                const Value original = item ? item->nonProxySelf() : Value();
                if (!PMMovie(original))
                    continue;
                placed.insert(key);
                collection.append(original);
                toPlace.push_back(original);
            }
        }
    }
    if (collection.count() == collectedBefore)
        return false;

    // A file that is placed somewhere leaves the temporary storage (every occurrence).
    qsizetype index = atIndex;
    if (temporary) {
        for (const QUrl& url : withURLs) {
            const QString urlString = url.toString(QUrl::FullyEncoded);
            for (;;) {
                qsizetype found = -1;
                const ArrayPtr siblings = nonSmartPlaylistSiblingsOfLibraryItemWithURL(urlString, temporary->rawChildren(), nullptr, &found,
                                                                                       nullptr, nullptr);
                if (!siblings || found < 0 || found >= siblings->count())
                    break;
                siblings->removeAt(found);
                if (siblings == defaultSiblings && index >= 0 && found < index)
                    --index;
            }
        }
    }

    if (defaultSiblings) {
        for (Value& item : toPlace) {
            if (index >= 0 && index <= defaultSiblings->count())
                defaultSiblings->insert(index++, std::move(item));
            else
                defaultSiblings->append(std::move(item));
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Pasteboard types and the window's share

QString PMMainController::imageViewSourcePasteboardType()
{
    return QStringLiteral("com.tolvane.PMDragSourceImageViewSourcePasteboardType");
}

QString PMMainController::trackListPasteboardType()
{
    return QStringLiteral("CorePasteboardFlavorType 0x6974756E");
}

long long& PMMainController::layoutCounter()
{
    static long long counter = 0;
    return counter;
}

void PMMainController::showSidebarWhileDragging()
{
    if (_dropWindow.showSidebarWhileDragging)
        _dropWindow.showSidebarWhileDragging();
}

void PMMainController::updateButtons()
{
    if (_dropWindow.updateButtons)
        _dropWindow.updateButtons();
}

void PMMainController::redrawPlayerView()
{
    if (_dropWindow.redrawPlayerView)
        _dropWindow.redrawPlayerView();
    else if (playerView)
        playerView->update();
}

void PMMainController::showProgressSheet(bool cancellable)
{
    _progressSheetIsVisible = true;
    _progressSheetMayCancel = cancellable;
    if (_dropWindow.progressSheet)
        _dropWindow.progressSheet(true);
}

void PMMainController::hideProgressSheet()
{
    _progressSheetIsVisible = false;
    if (_dropWindow.progressSheet)
        _dropWindow.progressSheet(false);
}

void PMMainController::resetDropStateForTesting()
{
    _groupItemsParent = nullptr;
    _groupMovieItems = Array::make();
    _groupListSortsDescending = false;
    _nonLibraryFilesCheckSuppressionLevel = 0;
    _draggingDestinationDropOnRow = -1;
    _progressSheetIsVisible = false;
    _dropWindow = DropWindowHooks();
    layoutCounter() = 0;
}

// ---------------------------------------------------------------------------
// Drag sources

bool PMMainController::tableView(PMLibraryView tableView, const QList<qsizetype>& writeRowsWithIndexes, QMimeData& toPasteboard)
{
    if (tableView != groupList)
        return false;
    // A drag in the rating column sets the rating instead.
    if (_dropWindow.groupListColumnOfCurrentEvent && _dropWindow.groupListColumnOfCurrentEvent() == QLatin1String("GroupListRating"))
        return false;
    setLibraryItems(toPasteboard, groupListItemsForIndexSet(writeRowsWithIndexes), Value(int(groupList)));
    return true;
}

bool PMMainController::outlineView(PMLibraryView outlineView, const ArrayPtr& writeItems, QMimeData& toPasteboard)
{
    if (outlineView != libraryList || !canDragOrDeleteItems(writeItems, nullptr, nullptr))
        return false;
    setLibraryItems(toPasteboard, writeItems, Value(int(libraryList)));
    return true;
}

// ---------------------------------------------------------------------------
// Rules

int PMMainController::externalDragOperation()
{
    if (!defaults().boolForKey(prefs::keys::MoveCopyToLibrary))
        return PMDragOperationLink;
    return defaults().integerForKey(prefs::keys::MoveCopyToLibraryMode) == 1 ? PMDragOperationCopy : PMDragOperationMove;
}

bool PMMainController::shouldDragExternalItemsWithTypes(const QStringList& types, const PMLibraryContainerPtr& toProposedParent)
{
    if (!types.contains(kURIListType) && !types.contains(platform::filesPromisePasteboardType()) && !types.contains(trackListPasteboardType()))
        return false;
    if (types.contains(imageViewSourcePasteboardType()))
        return false;
    showSidebarWhileDragging();
    if (!toProposedParent)
        return true;
    const ArrayPtr ancestors = ancestorsOfLibraryItem(Value(toProposedParent));
    if (!ancestors)
        return false;
    const PMLibraryContainerPtr top = ancestors->isEmpty() ? toProposedParent : PMContainerPtr(ancestors->at(ancestors->count() - 1));
    if (!top)
        return false;
    if (toProposedParent->isSmartGroup()) {
        if (top != storageWithName(QStringLiteral("Smart Groups"), nullptr, false))
            return false;
        const long long strictness = defaults().integerForKey(prefs::keys::DragDropStrictness);
        if (strictness < 0)
            return true;
        return strictness == 0 && hasSubdivisionBranch(toProposedParent);
    }
    return top == existingSourceStorage() || top == storageWithName(QStringLiteral("Temporary"), nullptr, false);
}

int PMMainController::operationForDraggingLibraryItems(const ArrayPtr& items, const PMLibraryContainerPtr& toProposedParent,
                                                       qsizetype atProposedChildIndex, PMLibraryView inOutlineView,
                                                       PMLibraryContainerPtr* createPlaylist)
{
    if (!items || items->isEmpty())
        return PMDragOperationNone;
    showSidebarWhileDragging();
    const PMLibraryContainerPtr& parent = toProposedParent;
    const qsizetype index = atProposedChildIndex;
    const PMLibraryContainerPtr smartGroups = storageWithName(QStringLiteral("Smart Groups"), nullptr, false);
    const PMLibraryContainerPtr temporary = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    const PMLibraryContainerPtr library = existingSourceStorage();
    const bool outline = inOutlineView != PMLibraryView::None;

    // Movies dropped on the "Smart Groups" storage (or the empty area) make a playlist.
    if (index == -1 && (outline || createPlaylist) && smartGroups && (!parent || parent == smartGroups)) {
        if (createPlaylist)
            *createPlaylist = smartGroups;
        return PMDragOperationCopy;
    }

    bool parentIsSmartPlaylistsFolder = parent && parent->value(QStringLiteral("Smart Playlists Folder")).toBool();
    PMLibraryContainerPtr parentStorage;
    ArrayPtr parentAncestors;
    if (parent) {
        if (parent->isOnlineItem())
            return PMDragOperationNone;
        parentAncestors = ancestorsOfLibraryItem(Value(parent));
        if (!parentAncestors)
            return PMDragOperationNone;
        parentStorage = parentAncestors->isEmpty() ? parent : PMContainerPtr(parentAncestors->at(parentAncestors->count() - 1));
        if (parentStorage && parentStorage == smartGroups) {
            if (parent == smartGroups)
                parentIsSmartPlaylistsFolder = false;
        } else if (parentStorage && (parentStorage == temporary || parentStorage == library)) {
            parentIsSmartPlaylistsFolder = false;
        } else {
            return PMDragOperationNone;
        }
    }

    const bool preventProxies = defaults().boolForKey(prefs::keys::PreventMovingOfOriginalsViaProxy);
    const bool parentHasSubdivisionBranch = hasSubdivisionBranch(parent);
    const bool manual = parent && isManuallySorted(*parent);
    const long long sourceListDisplayMode = defaults().integerForKey(prefs::keys::SourceListDisplayMode);

    bool copy = false;
    bool someFromElsewhere = false;
    ArrayPtr siblings;
    PMLibraryContainerPtr itemParent;
    for (const Value& draggedItem : *items) {
        PMLibraryItem* item = PMItem(draggedItem);
        if (!item)
            return PMDragOperationNone;
        if (!siblings || siblings->indexOfIdentical(draggedItem.objectPointer()) < 0) {
            const ArrayPtr ancestors = ancestorsOfLibraryItem(draggedItem);
            if (!ancestors)
                return PMDragOperationNone;
            itemParent = ancestors->isEmpty() ? nullptr : PMContainerPtr(ancestors->at(0));
            siblings = itemParent ? itemParent->rawChildren() : _library;
        }
        if (item->isOnlineItem())
            return PMDragOperationNone;
        if (item->isExternalMediaItem() && !(parentIsSmartPlaylistsFolder && item->isMovieRepresentation()))
            return PMDragOperationNone;
        const qsizetype ownIndex = siblings->indexOfIdentical(draggedItem.objectPointer());
        if (items->count() == 1 && itemParent == parent && ownIndex >= 0 && index >= ownIndex && index <= ownIndex + 1)
            return PMDragOperationNone; // at its own place
        if (index == -1 && itemParent != parent)
            someFromElsewhere = true;

        if (PMLibraryContainer* container = PMContainer(draggedItem)) {
            if (!container->topLevelRole().isEmpty() && (index == -1 || parent))
                return PMDragOperationNone;
            if (container->contains(kLibrarySection))
                return PMDragOperationNone;
            if (container->isSmartGroup()) {
                if (!(parentStorage && parentStorage == smartGroups && !container->isSmartGroupSubdivision() && parent))
                    return PMDragOperationNone;
            } else {
                const ArrayPtr ancestors = ancestorsOfLibraryItem(draggedItem);
                const bool belowSmartGroups = smartGroups && ancestors && ancestors->indexOfIdentical(smartGroups.get()) >= 0;
                const bool intoSmartGroups = parentStorage && parentStorage == smartGroups;
                if (intoSmartGroups != belowSmartGroups) {
                    if (!(parent && container->rawChildren()->isEmpty()))
                        return PMDragOperationNone;
                } else if (!parent) {
                    return PMDragOperationNone;
                }
            }
            if (parent && parent->isSmartGroup())
                return PMDragOperationNone;
            if (parent && (container == parent.get() || (parentAncestors && parentAncestors->indexOfIdentical(container) >= 0)))
                return PMDragOperationNone;
        } else {
            if (!parentStorage)
                return PMDragOperationNone;
            // Between the children of a source-list container movies are placed only where
            // the source list shows them.
            if ((sourceListDisplayMode != 0 || parentStorage != temporary) && sourceListDisplayMode != 1 && outline && index != -1)
                return PMDragOperationNone;
            if (parentStorage == smartGroups) {
                if (!parent->isSmartGroup()) {
                    if (parent == smartGroups || !item->isMovieRepresentation())
                        return PMDragOperationNone;
                    if (itemParent != parent)
                        copy = true;
                } else if (manual && itemParent == parent) {
                    if (index == -1)
                        return PMDragOperationNone;
                } else if (!(parentHasSubdivisionBranch && index == -1)) {
                    return PMDragOperationNone;
                }
            } else if (preventProxies && item->isProxy()) {
                return PMDragOperationNone;
            }
        }
    }
    if (index == -1 && !someFromElsewhere)
        return PMDragOperationNone; // all of them are there already
    return copy ? PMDragOperationCopy : PMDragOperationMove;
}

qsizetype PMMainController::dropIndexInRawArray(const ArrayPtr& rawArray, qsizetype forIndex, const ArrayPtr& inFilteredArray)
{
    if (forIndex < 0 || !rawArray)
        return 0;
    if (!inFilteredArray || forIndex >= inFilteredArray->count())
        return rawArray->count();
    const qsizetype index = rawArray->indexOfIdentical(inFilteredArray->at(forIndex).objectPointer());
    return index < 0 ? 0 : index;
}

// ---------------------------------------------------------------------------
// The grid

int PMMainController::validateGroupViewDrop(const PMDraggingInfo& info)
{
    const PMLibraryContainerPtr container = _groupItemsParent;
    if (!container || container->hasMultipleSelectionQuery() || !info.draggingPasteboard)
        return PMDragOperationNone;
    if (const ArrayPtr items = libraryItems(*info.draggingPasteboard))
        return operationForDraggingLibraryItems(items, container, -1, PMLibraryView::None, nullptr);
    return shouldDragExternalItemsWithTypes(info.draggingPasteboard->formats(), container) ? externalDragOperation() : PMDragOperationNone;
}

bool PMMainController::acceptGroupViewDrop(const PMDraggingInfo& info)
{
    const PMLibraryContainerPtr container = _groupItemsParent;
    if (!container)
        return false;
    const ArrayPtr siblings = container->rawChildren();
    return dropFileURLs({}, &info, siblings->count(), siblings, container, true);
}

// ---------------------------------------------------------------------------
// The list

int PMMainController::tableView(PMLibraryView tableView, const PMDraggingInfo& validateDrop, qsizetype* proposedRow,
                                PMTableViewDropOperation* proposedDropOperation)
{
    const PMLibraryContainerPtr container = _groupItemsParent;
    if (tableView != groupList || !container || !validateDrop.draggingPasteboard || !proposedRow || !proposedDropOperation)
        return PMDragOperationNone;
    if (container->hasMultipleSelectionQuery())
        return PMDragOperationNone;
    const ArrayPtr items = libraryItems(*validateDrop.draggingPasteboard);
    QString criterion;
    isManuallySorted(*container, &criterion);
    // Validation only asks whether the container could be rearranged; a switch to manual
    // sorting waits for the drop itself.
    const bool canRearrange = container->rearrangeChildrenAsPreflightCheck(true, criterion);
    const bool firstIsChild = items && !items->isEmpty() && parentOfLibraryItem(items->at(0)) == container;
    auto retargetOnList = [&] {
        *proposedRow = -1;
        *proposedDropOperation = PMTableViewDropOperation::On;
    };
    auto external = [&](bool retarget) {
        if (!shouldDragExternalItemsWithTypes(validateDrop.draggingPasteboard->formats(), container))
            return int(PMDragOperationNone);
        if (retarget)
            retargetOnList();
        return externalDragOperation();
    };

    if (container->isSmartGroup() && !firstIsChild) {
        if (!hasSubdivisionBranch(container))
            return PMDragOperationNone;
        if (!items)
            return external(true);
        const int operation = operationForDraggingLibraryItems(items, container, -1, PMLibraryView::None, nullptr);
        if (operation != PMDragOperationNone)
            retargetOnList();
        return operation;
    }
    if (container->isSmartGroup() && (*proposedDropOperation != PMTableViewDropOperation::Above || !canRearrange))
        return PMDragOperationNone;
    if (container->isOnlineItem() || *proposedDropOperation == PMTableViewDropOperation::On)
        return PMDragOperationNone;
    if (!items)
        return external(!canRearrange);
    if (canRearrange)
        return operationForDraggingLibraryItems(items, container, rawDropIndex(container->rawChildren(), *proposedRow, _groupMovieItems, _groupListSortsDescending),
                                                PMLibraryView::None, nullptr);
    const int operation = operationForDraggingLibraryItems(items, container, -1, PMLibraryView::None, nullptr);
    if (operation != PMDragOperationNone)
        retargetOnList();
    return operation;
}

bool PMMainController::tableView(PMLibraryView tableView, const PMDraggingInfo& acceptDrop, qsizetype row, PMTableViewDropOperation dropOperation)
{
    const PMLibraryContainerPtr container = _groupItemsParent;
    if (tableView != groupList || !container)
        return false;
    qsizetype index;
    if (dropOperation == PMTableViewDropOperation::Above) {
        QString criterion;
        if (!isManuallySorted(*container, &criterion))
            container->rearrangeChildrenAsPreflightCheck(false, criterion);
        index = rawDropIndex(container->rawChildren(), row, _groupMovieItems, _groupListSortsDescending);
    } else {
        index = container->rawChildren()->count();
    }
    return dropFileURLs({}, &acceptDrop, index, container->rawChildren(), container, dropOperation == PMTableViewDropOperation::On);
}

// ---------------------------------------------------------------------------
// The source list

int PMMainController::outlineView(PMLibraryView outlineView, const PMDraggingInfo& validateDrop, PMLibraryContainerPtr* proposedItem,
                                  qsizetype* proposedChildIndex)
{
    if (outlineView != libraryList || !validateDrop.draggingPasteboard || !proposedItem || !proposedChildIndex)
        return PMDragOperationNone;
    PMLibraryContainerPtr item = *proposedItem;
    qsizetype childIndex = *proposedChildIndex;
    const ArrayPtr items = libraryItems(*validateDrop.draggingPasteboard);
    const QStringList types = validateDrop.draggingPasteboard->formats();
    qsizetype rawIndex = -1;

    auto finish = [&](int operation) {
        if (operation != PMDragOperationNone && (item != *proposedItem || childIndex != *proposedChildIndex)) {
            *proposedItem = item;
            *proposedChildIndex = childIndex;
        }
        setDraggingDestinationDropOnRow(childIndex == -1 && operation != PMDragOperationNone && item ? libraryListRowForItem(Value(item)) : -1);
        return operation;
    };

    if (!item) {
        if (childIndex == -1) {
            if (items)
                childIndex = visibleTopLevelLibraryItems()->count();
        } else if (!items) {
            return finish(PMDragOperationNone);
        }
        if (items)
            rawIndex = dropIndexInRawArray(_library, childIndex, visibleTopLevelLibraryItems());
    } else {
        if (item->isExternalMediaItem())
            return finish(PMDragOperationNone);
        QString criterion;
        const bool manual = isManuallySorted(*item, &criterion);
        const bool canRearrange = item->rearrangeChildrenAsPreflightCheck(true, criterion);
        bool childIndexAllowed = true;
        if (item->isSmartGroup()) {
            const bool firstIsChild = items && !items->isEmpty() && parentOfLibraryItem(items->at(0)) == item;
            if (firstIsChild) {
                if (childIndex == -1 || !canRearrange)
                    return finish(PMDragOperationNone);
            } else {
                if (!hasSubdivisionBranch(item))
                    return finish(PMDragOperationNone);
                childIndexAllowed = false;
            }
        }
        const PMLibraryContainerPtr library = existingSourceStorage();
        if ((library && item == library) || (item->contains(kLibrarySection) && !item->isPellisSourceStorageSection())) {
            item = existingOwnSection(library);
            childIndex = -1;
            if (!item)
                return finish(PMDragOperationNone);
        }
        if (childIndex != -1) {
            // Items are placed between children only in manual order: the container has it
            // or may be switched to it, which the drop itself does.
            Q_UNUSED(manual);
            const bool keep = childIndexAllowed && canRearrange
                              && (outlineViewShowMovieChildrenOfContainer(item) || (items && !containsMovieRepresentationsOnly(*items)));
            if (keep)
                rawIndex = rawDropIndex(item->rawChildren(), childIndex, outlineViewChildrenOfContainer(item), item->sortsDescendingAccordingToAncestor(nullptr));
            else
                childIndex = -1;
        }
    }

    if (!items) {
        if (!shouldDragExternalItemsWithTypes(types, item))
            return finish(PMDragOperationNone);
        if (childIndex != -1 || item)
            return finish(externalDragOperation());
        item = existingOwnSection(existingSourceStorage());
        return finish(item && libraryListRowForItem(Value(item)) >= 0 ? externalDragOperation() : int(PMDragOperationNone));
    }
    PMLibraryContainerPtr playlistStorage;
    const int operation = operationForDraggingLibraryItems(items, item, childIndex == -1 ? -1 : rawIndex, libraryList, &playlistStorage);
    if (operation != PMDragOperationNone && playlistStorage) {
        item = playlistStorage;
        childIndex = -1;
    }
    return finish(operation);
}

bool PMMainController::outlineView(PMLibraryView outlineView, const PMDraggingInfo& acceptDrop, const PMLibraryContainerPtr& item, qsizetype childIndex)
{
    if (outlineView != libraryList || !acceptDrop.draggingPasteboard)
        return false;
    bool accepted = false;
    if (childIndex != -1) {
        setDraggingDestinationDropOnRow(-1);
        ArrayPtr siblings = _library;
        qsizetype rawIndex = dropIndexInRawArray(_library, childIndex, visibleTopLevelLibraryItems());
        if (item) {
            QString criterion;
            if (!isManuallySorted(*item, &criterion))
                item->rearrangeChildrenAsPreflightCheck(false, criterion);
            siblings = item->rawChildren();
            rawIndex = rawDropIndex(siblings, childIndex, outlineViewChildrenOfContainer(item), item->sortsDescendingAccordingToAncestor(nullptr));
        }
        accepted = dropFileURLs({}, &acceptDrop, rawIndex, siblings, item, false);
    } else {
        setDraggingDestinationDropOnRow(item ? libraryListRowForItem(Value(item)) : -1);
        if (!item)
            return false;
        const ArrayPtr siblings = item->rawChildren();
        qsizetype index = siblings->count();
        if (const ArrayPtr items = libraryItems(*acceptDrop.draggingPasteboard)) {
            PMLibraryContainerPtr playlistStorage;
            if (operationForDraggingLibraryItems(items, item, -1, libraryList, &playlistStorage) == PMDragOperationCopy && playlistStorage == item)
                index = -1;
        }
        accepted = dropFileURLs({}, &acceptDrop, index, siblings, item, true);
    }
    if (accepted && _dropWindow.reloadGroupList)
        _dropWindow.reloadGroupList();
    return accepted;
}

// ---------------------------------------------------------------------------
// The import

bool PMMainController::importExternalFiles(const QList<QUrl>& fileURLs, const QMimeData* pasteboard, qsizetype atIndex, const ArrayPtr& ofSiblings,
                                           const PMLibraryContainerPtr& parent, Array& transfer, ArrayPtr* getDropped)
{
    const bool moveOrCopyToLibrary = defaults().boolForKey(prefs::keys::MoveCopyToLibrary);
    const PMLibraryContainerPtr temporary = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    const ArrayPtr branch = parent ? parent->subdivisionBranches() : nullptr;
    const QStringList types = pasteboard ? pasteboard->formats() : QStringList();
    const QList<QUrl> pasteboardURLs = pasteboard && pasteboard->hasUrls() ? pasteboard->urls() : QList<QUrl>();
    QStringList fileNames;
    for (const QUrl& url : pasteboardURLs)
        if (url.isLocalFile())
            fileNames << url.toLocalFile();
    const bool hasTrackList = types.contains(trackListPasteboardType());
    const QString promiseType = platform::filesPromisePasteboardType();
    const bool hasPromise = types.contains(promiseType)
                            && !QString::fromUtf8(pasteboard->data(promiseType)).contains(QLatin1String("<string>webloc</string>"));
    const bool hasURL = !pasteboardURLs.isEmpty() && isAcceptableDroppedURL(pasteboardURLs.first());
    if (fileURLs.isEmpty() && !hasTrackList && fileNames.isEmpty() && !hasPromise && !hasURL)
        return false;

    PMLibraryContainerPtr target = parent;
    ArrayPtr siblings = ofSiblings;
    qsizetype index = atIndex;
    if (parent && parent->isSmartGroup()) {
        target = downloadsContainer();
        if (!target)
            return false;
        siblings = target->rawChildren();
        index = siblings->count();
    }

    QList<QUrl> urls;
    const ArrayPtr newItems = Array::make();
    Dictionary existing;
    existing.reserve(_nonProxyRawMovieRepresentationsByPath.size());
    for (auto it = _nonProxyRawMovieRepresentationsByPath.constBegin(); it != _nonProxyRawMovieRepresentationsByPath.constEnd(); ++it)
        existing.setValue(it.key(), Value(true));
    auto fromPaths = [&](const QStringList& paths, const QString& basePath) {
        addMovieURLsFromPaths(urls, paths, basePath, &existing, newItems.get());
        return !newItems->isEmpty();
    };
    auto fromPromise = [&] {
        const QString folder = temporaryStoragePathByCreatingIfNecessary(true);
        QStringList paths;
        for (const QString& name : platform::namesOfPromisedFilesDroppedAtDestination(*pasteboard, folder)) {
            const QString safe = safePromisedFileName(name);
            if (safe.isEmpty())
                PMLog("refusing promised file name <%@>", name);
            else
                paths << folder + u'/' + safe;
        }
        return !paths.isEmpty() && fromPaths(paths, folder);
    };

    bool yielded = false;
    if (!fileURLs.isEmpty()) {
        QStringList paths;
        for (const QUrl& url : fileURLs)
            if (url.isLocalFile())
                paths << url.toLocalFile();
        yielded = fromPaths(paths, QString());
    }
    if (!yielded && hasTrackList)
        yielded = addMovieURLs(urls, trackListLocations(pasteboard->data(trackListPasteboardType())));
    if (!yielded && !fileNames.isEmpty())
        yielded = fromPaths(fileNames, QString());
    if (!yielded) {
        if (hasURL && hasPromise && defaults().boolForKey(prefs::keys::PreferPromisedFilesOverURLs)) {
            yielded = fromPromise();
        } else {
            if (hasURL)
                yielded = addMovieURLs(urls, {pasteboardURLs.first()});
            if (!yielded && hasPromise)
                yielded = fromPromise();
        }
    }
    if (!yielded)
        return false;

    std::stable_sort(urls.begin(), urls.end(), [](const QUrl& a, const QUrl& b) { return PMCompareURLsByAbsoluteString(a, b) < 0; });
    Array collected;
    if (!addLibraryItems(newItems, urls, siblings, index, &collected))
        return false;
    if (branch)
        for (const Value& movie : collected)
            if (PMLibraryItem* item = PMItem(movie))
                item->addTagValuesFromSubdivisionBranch(branch);
    if (moveOrCopyToLibrary && target != temporary && (siblings == _library || !liesBelowContainer(Value(target), temporary)))
        for (const Value& item : *newItems)
            transfer.append(item);
    if (getDropped)
        *getDropped = newItems;
    return true;
}

bool PMMainController::importLibraryItems(const ArrayPtr& items, qsizetype atIndex, const ArrayPtr& ofSiblings, const PMLibraryContainerPtr& parent,
                                          bool dropOnParent, Array& transfer)
{
    const bool moveOrCopyToLibrary = defaults().boolForKey(prefs::keys::MoveCopyToLibrary);
    const PMLibraryContainerPtr temporary = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    const bool parentIsSmartGroup = parent && parent->isSmartGroup();
    const ArrayPtr branch = parent ? parent->subdivisionBranches() : nullptr;
    PMLibraryContainerPtr playlistStorage;
    // A drop on the parent is judged as such (index -1), whatever index it places at;
    // a drop the rules refuse changes nothing.
    const int operation = operationForDraggingLibraryItems(items, parent, dropOnParent ? -1 : atIndex, PMLibraryView::None, &playlistStorage);
    if (operation == PMDragOperationNone)
        return false;
    bool changed = false;
    ArrayPtr listedIDs;
    ArrayPtr siblings = ofSiblings;
    qsizetype index = atIndex;
    if (operation == PMDragOperationCopy && playlistStorage) {
        const ArrayPtr movies = uniqueMovieRepresentationsFromItems(items, {}, true, false, true);
        QStringList names;
        auto ids = Array::make();
        for (const Value& movie : *movies) {
            names << PMItem(movie)->displayName();
            ids->append(PMItem(movie)->uniqueLibraryID());
        }
        const QString prefix = commonPrefix(names);
        const QString name = prefix.length() >= 2 ? prefix : tr("Untitled Playlist");
        const PMLibraryContainerPtr playlist = PMLibraryContainer::make({{QStringLiteral("Name"), name}, {kStaticProxies, Value(ids)}});
        addAndSelectLibraryItem(Value(playlist), playlistStorage, Value(), false, nullptr);
        platform::dispatchAsyncMain([this, playlist] {
            editNameOfLibraryItem(Value(playlist));
        });
        changed = true;
    } else {
        if (operation == PMDragOperationCopy) {
            // A static playlist inside the "Smart Groups" storage.
            if (!parent)
                return false;
            // Stored only when the drop changes something.
            listedIDs = parent->value(kStaticProxies).array();
            if (!listedIDs)
                listedIDs = Array::make();
        }
        if (index < 0 || index > siblings->count())
            index = siblings->count();
        QSet<QString> listed;
        if (listedIDs)
            for (const Value& id : *listedIDs)
                if (id.isString())
                    listed.insert(id.string());
        const std::vector<Value> dragged = items->values();
        for (const Value& draggedItem : dragged) {
            PMLibraryItem* item = PMItem(draggedItem);
            if (!item)
                continue;
            qsizetype fromIndex = -1;
            const ArrayPtr ancestors = ancestorsOfLibraryItem(draggedItem, &fromIndex);
            if (!ancestors)
                continue;
            const PMLibraryContainerPtr itemParent = ancestors->isEmpty() ? nullptr : PMContainerPtr(ancestors->at(0));
            const ArrayPtr itemSiblings = itemParent ? itemParent->rawChildren() : _library;
            if (itemSiblings == siblings) {
                if (dropOnParent)
                    continue; // left in place
                // A reorder (inside a static playlist too: the entry moves).
                const qsizetype at = siblings->indexOfIdentical(draggedItem.objectPointer());
                if (at < 0)
                    continue;
                if (at < index)
                    --index;
                siblings->removeAt(at);
                siblings->insert(index++, draggedItem);
                changed = true;
            } else if (parentIsSmartGroup) {
                if (branch) {
                    item->addTagValuesFromSubdivisionBranch(branch);
                    changed = true;
                }
            } else {
                Value moving = draggedItem;
                ArrayPtr from = itemSiblings;
                ArrayPtr movingAncestors = ancestors;
                if (item->isProxy()) {
                    moving = item->nonProxySelf();
                    movingAncestors = ancestorsOfLibraryItem(moving, &fromIndex);
                    from = !movingAncestors ? nullptr : movingAncestors->isEmpty() ? _library : PMContainer(movingAncestors->at(0))->rawChildren();
                }
                if (!listedIDs) {
                    if (from) {
                        const qsizetype at = from->indexOfIdentical(moving.objectPointer());
                        if (at >= 0) {
                            from->removeAt(at);
                            if (from == siblings && at < index)
                                --index;
                        }
                        if (moveOrCopyToLibrary && from != siblings && temporary && !PMIsSameItem(moving, Value(temporary)) && movingAncestors
                            && movingAncestors->indexOfIdentical(temporary.get()) >= 0)
                            transfer.append(moving);
                    }
                    siblings->insert(index++, moving);
                    changed = true;
                } else if (PMMovieRepresentationPrototype* movie = PMMovie(moving)) {
                    const QString id = movie->uniqueLibraryID();
                    if (listed.contains(id))
                        continue;
                    listed.insert(id);
                    const PMMovieRepresentationProxyPtr proxy = movie->staticPlaylistProxy();
                    if (!proxy)
                        continue;
                    siblings->insert(index++, Value(proxy));
                    changed = true;
                } else {
                    siblings->insert(index++, moving);
                    changed = true;
                }
            }
            if (parentIsSmartGroup && itemParent == parent)
                storeSequence(siblings, parent);
        }
        if (!listedIDs && changed && parent && parent->value(QStringLiteral("Smart Playlists Folder")).toBool()) {
            listedIDs = parent->value(kStaticProxies).array();
            if (!listedIDs)
                listedIDs = Array::make();
        }
        if (listedIDs && changed) {
            // The order of the children, then what was listed but is not a child.
            auto rebuilt = Array::make();
            QSet<QString> seen;
            for (const Value& child : *siblings)
                if (PMMovieRepresentationPrototype* movie = PMMovie(child)) {
                    const QString id = movie->uniqueLibraryID();
                    if (!seen.contains(id)) {
                        seen.insert(id);
                        rebuilt->append(id);
                    }
                }
            for (const Value& id : *listedIDs)
                if (id.isString() && !seen.contains(id.string())) {
                    seen.insert(id.string());
                    rebuilt->append(id);
                }
            parent->setValue(kStaticProxies, Value(rebuilt));
        }
    }
    return changed;
}

bool PMMainController::dropFileURLs(const QList<QUrl>& fileURLs, const PMDraggingInfo* orDraggedItems, qsizetype atIndex, const ArrayPtr& ofSiblings,
                                    const PMLibraryContainerPtr& parent, bool dropOnParent)
{
    ++_nonLibraryFilesCheckSuppressionLevel;
    freezeSelections();
    auto fail = [this] {
        releaseFrozenSelections();
        --_nonLibraryFilesCheckSuppressionLevel;
        return false;
    };
    const QMimeData* pasteboard = orDraggedItems ? orDraggedItems->draggingPasteboard : nullptr;
    const ArrayPtr items = pasteboard ? libraryItems(*pasteboard) : nullptr;
    if (!ofSiblings)
        return fail();
    ArrayPtr transfer = Array::make();
    ArrayPtr dropped;

    if (!items || items->isEmpty()) {
        // Files from outside (or the Open panel).
        if (!importExternalFiles(fileURLs, pasteboard, atIndex, ofSiblings, parent, *transfer, &dropped))
            return fail();
    } else {
        // Library items dragged inside the program.
        dropped = items;
        if (!importLibraryItems(items, atIndex, ofSiblings, parent, dropOnParent, *transfer))
            return fail();
    }

    // Completion
    const bool organize = !defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder);
    if (!transfer->isEmpty()) {
        const bool copy = defaults().integerForKey(prefs::keys::MoveCopyToLibraryMode) == 1;
        Array collection;
        FileLocationsRequest preflight;
        preflight.items = transfer;
        preflight.move = !copy;
        preflight.copy = copy;
        preflight.preflightCollection = &collection;
        updateFileLocations(preflight);
        if (!collection.isEmpty()) {
            if (copy)
                showProgressSheet(true);
            const ArrayPtr records = Array::make();
            for (const Value& v : collection)
                if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                    movie->setIsMoving(true);
                    records->append(v);
                }
            ++layoutCounter();
            platform::dispatchAsyncMain([this, records, copy, dropped, organize] { transferFilesToLibraryFolder(records, copy, dropped, organize); });
            updateLibraryAndInvalidateDependencies(true, false, true);
            unfreezeSelections();
            freezeSelections();
            return true; // the suppression level stays raised until the transfer ends
        }
    }
    finishImport(dropped, organize);
    saveLibrarySoon();
    --_nonLibraryFilesCheckSuppressionLevel;
    return true;
}

void PMMainController::finishImport(const ArrayPtr& dropped, bool organize)
{
    FileLocationsRequest request;
    request.items = dropped;
    request.organize = organize;
    updateFileLocations(request);
    updateLibraryAndInvalidateDependencies(true, false, true);
    unfreezeSelections();
    updateButtons();
    redrawPlayerView();
}

void PMMainController::transferFilesToLibraryFolder(const ArrayPtr& records, bool copy, const ArrayPtr& dropped, bool organize)
{
    FileLocationsRequest transfer;
    transfer.items = records;
    transfer.includeMovingFiles = true;
    transfer.move = !copy;
    transfer.copy = copy;
    transfer.showProgress = copy ? tr("Copying file %@ of %@: %@") : tr("Moving file %@ of %@: %@");
    transfer.startDate = platform::Date::now();
    updateFileLocations(transfer);
    for (const Value& v : *records)
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            movie->setIsMoving(false);
    if (_progressSheetIsVisible)
        hideProgressSheet();
    finishImport(dropped, organize);
    saveLibrary();
    --layoutCounter();
    --_nonLibraryFilesCheckSuppressionLevel;
}

bool PMMainController::liesBelowContainer(const Value& item, const PMLibraryContainerPtr& container)
{
    if (!container)
        return false;
    if (PMIsSameItem(item, Value(container)))
        return true;
    const ArrayPtr ancestors = ancestorsOfLibraryItem(item);
    return ancestors && ancestors->indexOfIdentical(container.get()) >= 0;
}

QList<QUrl> PMMainController::trackListLocations(const QByteArray& propertyList)
{
    // Another program's data: only well-formed entries count.
    QList<QUrl> urls;
    const platform::PropertyListReadResult read = platform::readPropertyList(propertyList);
    if (!read.ok()) {
        PMLog("cannot read dropped track list: %@", read.error);
        return urls;
    }
    const DictionaryPtr root = read.value.dictionary();
    const DictionaryPtr tracks = root ? root->value(QStringLiteral("Tracks")).dictionary() : nullptr;
    if (!tracks)
        return urls;
    for (const Value& track : *tracks) {
        const DictionaryPtr entry = track.dictionary();
        const Value location = entry ? entry->value(QStringLiteral("Location")) : Value();
        if (!location.isString())
            continue;
        const QUrl url(location.string());
        if (isAcceptableDroppedURL(url))
            urls << url;
    }
    return urls;
}
