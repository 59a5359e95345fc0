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

void PMMainController::setDraggingDestinationDropOnRow(qsizetype row)
{
    _draggingDestinationDropOnRow = row;
    if (_dropWindow.setDraggingDestinationDropOnRow)
        _dropWindow.setDraggingDestinationDropOnRow(row);
}

bool PMMainController::outlineViewShowMovieChildrenOfContainer(const PMLibraryContainerPtr& container)
{
    if (_dropWindow.showMovieChildrenOfContainer)
        return _dropWindow.showMovieChildrenOfContainer(container);
    if (!container)
        return false;
    if (defaults().integerForKey(QStringLiteral("Source List Display Mode")) == 1)
        return true;
    const ArrayPtr ancestors = ancestorsOfLibraryItem(Value(container));
    if (!ancestors)
        return false;
    PMLibraryContainer* top = ancestors->isEmpty() ? container.get() : PMContainer(ancestors->at(ancestors->count() - 1));
    const QString role = top ? top->topLevelRole() : QString();
    if (role == QLatin1String("Downloads") || role == QLatin1String("Conversions"))
        return true;
    return role == QLatin1String("Temporary") && defaults().integerForKey(QStringLiteral("Source List Display Mode")) == 0;
}

ArrayPtr PMMainController::outlineViewChildrenOfContainer(const PMLibraryContainerPtr& container)
{
    if (_dropWindow.childrenOfContainer)
        return _dropWindow.childrenOfContainer(container);
    if (!container)
        return visibleTopLevelLibraryItems();
    return outlineViewShowMovieChildrenOfContainer(container) ? container->sortedChildren() : container->sortedGroupChildren();
}

ArrayPtr PMMainController::visibleTopLevelLibraryItems()
{
    if (_dropWindow.visibleTopLevelItems)
        return _dropWindow.visibleTopLevelItems();
    return _library;
}

qsizetype PMMainController::libraryListRowForItem(const Value& item)
{
    if (_dropWindow.rowForItem)
        return _dropWindow.rowForItem(item);
    // Without the window: the row in a source list with every container expanded.
    qsizetype row = 0;
    std::function<bool(const ArrayPtr&, int)> walk = [&](const ArrayPtr& rows, int depth) {
        if (!rows || depth > kMaximumWalkDepth)
            return false;
        for (const Value& v : *rows) {
            if (PMIsSameItem(v, item))
                return true;
            ++row;
            if (PMContainer(v) && walk(outlineViewChildrenOfContainer(PMContainerPtr(v)), depth + 1))
                return true;
        }
        return false;
    };
    return walk(visibleTopLevelLibraryItems(), 0) ? row : -1;
}

ArrayPtr PMMainController::groupListItemsForIndexSet(const QList<qsizetype>& indexes)
{
    if (_dropWindow.groupListItemsForIndexSet)
        return _dropWindow.groupListItemsForIndexSet(indexes);
    auto items = Array::make();
    for (qsizetype index : indexes)
        if (_groupMovieItems && index >= 0 && index < _groupMovieItems->count())
            items->append(_groupMovieItems->at(index));
    return items;
}

void PMMainController::storeSequence(const ArrayPtr& sequence, const PMLibraryContainerPtr& forSmartGroup)
{
    if (!sequence || !forSmartGroup)
        return;
    QStringList ids;
    for (const Value& v : *sequence)
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            ids << movie->uniqueLibraryID();
    forSmartGroup->setIndexSequence(ids);
}

void PMMainController::addAndSelectLibraryItem(const Value& item, const PMLibraryContainerPtr& toStorage, const Value& withSelectedItem,
                                               bool assumeExpanded, ArrayPtr* getSiblings)
{
    Q_UNUSED(withSelectedItem);
    Q_UNUSED(assumeExpanded);
    // Without the window there is no selection to place the item near: it goes to the
    // end of the storage (the own movie section for the "Library" storage).
    PMLibraryContainerPtr target = toStorage ? toStorage : pellisSourceStorageSection();
    if (target && target == existingSourceStorage())
        target = pellisSourceStorageSection();
    if (!target)
        return;
    const ArrayPtr siblings = target->rawChildren();
    siblings->append(item);
    if (getSiblings)
        *getSiblings = siblings;
    updateLibraryAndInvalidateDependencies(true, false, true);
    selectLibraryItem(item);
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
    if (_dropWindow.progressSheet)
        _dropWindow.progressSheet(true);
    Q_UNUSED(cancellable);
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
    if (!defaults().boolForKey(QStringLiteral("Move/Copy To Library")))
        return PMDragOperationLink;
    return defaults().integerForKey(QStringLiteral("Move/Copy To Library Mode")) == 1 ? PMDragOperationCopy : PMDragOperationMove;
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
        const long long strictness = defaults().integerForKey(QStringLiteral("Drag & Drop Strictness"));
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
    const PMLibraryContainerPtr& P = toProposedParent;
    const qsizetype i = atProposedChildIndex;
    const PMLibraryContainerPtr S = storageWithName(QStringLiteral("Smart Groups"), nullptr, false);
    const PMLibraryContainerPtr T = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    const PMLibraryContainerPtr library = existingSourceStorage();
    const bool outline = inOutlineView != PMLibraryView::None;

    // Movies dropped on the "Smart Groups" storage (or the empty area) make a playlist.
    if (i == -1 && (outline || createPlaylist) && S && (!P || P == S)) {
        if (createPlaylist)
            *createPlaylist = S;
        return PMDragOperationCopy;
    }

    bool F = P && P->value(QStringLiteral("Smart Playlists Folder")).toBool();
    PMLibraryContainerPtr U;
    ArrayPtr ancestorsOfP;
    if (P) {
        if (P->isOnlineItem())
            return PMDragOperationNone;
        ancestorsOfP = ancestorsOfLibraryItem(Value(P));
        if (!ancestorsOfP)
            return PMDragOperationNone;
        U = ancestorsOfP->isEmpty() ? P : PMContainerPtr(ancestorsOfP->at(ancestorsOfP->count() - 1));
        if (U && U == S) {
            if (P == S)
                F = false;
        } else if (U && (U == T || U == library)) {
            F = false;
        } else {
            return PMDragOperationNone;
        }
    }

    const bool preventProxies = defaults().boolForKey(QStringLiteral("Prevent Moving Of Originals Via Proxy"));
    const bool B = hasSubdivisionBranch(P);
    const bool manual = P && isManuallySorted(*P);
    const long long M = defaults().integerForKey(QStringLiteral("Source List Display Mode"));

    bool copy = false;
    bool someFromElsewhere = false;
    ArrayPtr siblings;
    PMLibraryContainerPtr Q;
    for (const Value& X : *items) {
        PMLibraryItem* x = PMItem(X);
        if (!x)
            return PMDragOperationNone;
        if (!siblings || siblings->indexOfIdentical(X.objectPointer()) < 0) {
            const ArrayPtr ancestors = ancestorsOfLibraryItem(X);
            if (!ancestors)
                return PMDragOperationNone;
            Q = ancestors->isEmpty() ? nullptr : PMContainerPtr(ancestors->at(0));
            siblings = Q ? Q->rawChildren() : _library;
        }
        if (x->isOnlineItem())
            return PMDragOperationNone;
        if (x->isExternalMediaItem() && !(F && x->isMovieRepresentation()))
            return PMDragOperationNone;
        const qsizetype ownIndex = siblings->indexOfIdentical(X.objectPointer());
        if (items->count() == 1 && Q == P && ownIndex >= 0 && i >= ownIndex && i <= ownIndex + 1)
            return PMDragOperationNone; // at its own place
        if (i == -1 && Q != P)
            someFromElsewhere = true;

        if (PMLibraryContainer* container = PMContainer(X)) {
            if (!container->topLevelRole().isEmpty() && (i == -1 || P))
                return PMDragOperationNone;
            if (container->contains(kLibrarySection))
                return PMDragOperationNone;
            if (container->isSmartGroup()) {
                if (!(U && U == S && !container->isSmartGroupSubdivision() && P))
                    return PMDragOperationNone;
            } else {
                const ArrayPtr ancestors = ancestorsOfLibraryItem(X);
                const bool belowS = S && ancestors && ancestors->indexOfIdentical(S.get()) >= 0;
                const bool intoS = U && U == S;
                if (intoS != belowS) {
                    if (!(P && container->rawChildren()->isEmpty()))
                        return PMDragOperationNone;
                } else if (!P) {
                    return PMDragOperationNone;
                }
            }
            if (P && P->isSmartGroup())
                return PMDragOperationNone;
            if (P && (container == P.get() || (ancestorsOfP && ancestorsOfP->indexOfIdentical(container) >= 0)))
                return PMDragOperationNone;
        } else {
            if (!U)
                return PMDragOperationNone;
            // Between the children of a source-list container movies are placed only where
            // the source list shows them.
            if ((M != 0 || U != T) && M != 1 && outline && i != -1)
                return PMDragOperationNone;
            if (U == S) {
                if (!P->isSmartGroup()) {
                    if (P == S || !x->isMovieRepresentation())
                        return PMDragOperationNone;
                    if (Q != P)
                        copy = true;
                } else if (manual && Q == P) {
                    if (i == -1)
                        return PMDragOperationNone;
                } else if (!(B && i == -1)) {
                    return PMDragOperationNone;
                }
            } else if (preventProxies && x->isProxy()) {
                return PMDragOperationNone;
            }
        }
    }
    if (i == -1 && !someFromElsewhere)
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
    const PMLibraryContainerPtr C = _groupItemsParent;
    if (!C || C->hasMultipleSelectionQuery() || !info.draggingPasteboard)
        return PMDragOperationNone;
    if (const ArrayPtr items = libraryItems(*info.draggingPasteboard))
        return operationForDraggingLibraryItems(items, C, -1, PMLibraryView::None, nullptr);
    return shouldDragExternalItemsWithTypes(info.draggingPasteboard->formats(), C) ? externalDragOperation() : PMDragOperationNone;
}

bool PMMainController::acceptGroupViewDrop(const PMDraggingInfo& info)
{
    const PMLibraryContainerPtr C = _groupItemsParent;
    if (!C)
        return false;
    const ArrayPtr siblings = C->rawChildren();
    return dropFileURLs({}, &info, siblings->count(), siblings, C, true);
}

// ---------------------------------------------------------------------------
// The list

int PMMainController::tableView(PMLibraryView tableView, const PMDraggingInfo& validateDrop, qsizetype* proposedRow,
                                PMTableViewDropOperation* proposedDropOperation)
{
    const PMLibraryContainerPtr C = _groupItemsParent;
    if (tableView != groupList || !C || !validateDrop.draggingPasteboard || !proposedRow || !proposedDropOperation)
        return PMDragOperationNone;
    if (C->hasMultipleSelectionQuery())
        return PMDragOperationNone;
    const ArrayPtr items = libraryItems(*validateDrop.draggingPasteboard);
    QString criterion;
    isManuallySorted(*C, &criterion);
    // Validation only asks whether the container could be rearranged; a switch to manual
    // sorting waits for the drop itself.
    const bool R = C->rearrangeChildrenAsPreflightCheck(true, criterion);
    const bool firstIsChild = items && !items->isEmpty() && parentOfLibraryItem(items->at(0)) == C;
    auto retargetOnList = [&] {
        *proposedRow = -1;
        *proposedDropOperation = PMTableViewDropOperation::On;
    };
    auto external = [&](bool retarget) {
        if (!shouldDragExternalItemsWithTypes(validateDrop.draggingPasteboard->formats(), C))
            return int(PMDragOperationNone);
        if (retarget)
            retargetOnList();
        return externalDragOperation();
    };

    if (C->isSmartGroup() && !firstIsChild) {
        if (!hasSubdivisionBranch(C))
            return PMDragOperationNone;
        if (!items)
            return external(true);
        const int operation = operationForDraggingLibraryItems(items, C, -1, PMLibraryView::None, nullptr);
        if (operation != PMDragOperationNone)
            retargetOnList();
        return operation;
    }
    if (C->isSmartGroup() && (*proposedDropOperation != PMTableViewDropOperation::Above || !R))
        return PMDragOperationNone;
    if (C->isOnlineItem() || *proposedDropOperation == PMTableViewDropOperation::On)
        return PMDragOperationNone;
    if (!items)
        return external(!R);
    if (R)
        return operationForDraggingLibraryItems(items, C, rawDropIndex(C->rawChildren(), *proposedRow, _groupMovieItems, _groupListSortsDescending),
                                                PMLibraryView::None, nullptr);
    const int operation = operationForDraggingLibraryItems(items, C, -1, PMLibraryView::None, nullptr);
    if (operation != PMDragOperationNone)
        retargetOnList();
    return operation;
}

bool PMMainController::tableView(PMLibraryView tableView, const PMDraggingInfo& acceptDrop, qsizetype row, PMTableViewDropOperation dropOperation)
{
    const PMLibraryContainerPtr C = _groupItemsParent;
    if (tableView != groupList || !C)
        return false;
    qsizetype index;
    if (dropOperation == PMTableViewDropOperation::Above) {
        QString criterion;
        if (!isManuallySorted(*C, &criterion))
            C->rearrangeChildrenAsPreflightCheck(false, criterion);
        index = rawDropIndex(C->rawChildren(), row, _groupMovieItems, _groupListSortsDescending);
    } else {
        index = C->rawChildren()->count();
    }
    return dropFileURLs({}, &acceptDrop, index, C->rawChildren(), C, dropOperation == PMTableViewDropOperation::On);
}

// ---------------------------------------------------------------------------
// The source list

int PMMainController::outlineView(PMLibraryView outlineView, const PMDraggingInfo& validateDrop, PMLibraryContainerPtr* proposedItem,
                                  qsizetype* proposedChildIndex)
{
    if (outlineView != libraryList || !validateDrop.draggingPasteboard || !proposedItem || !proposedChildIndex)
        return PMDragOperationNone;
    PMLibraryContainerPtr I = *proposedItem;
    qsizetype k = *proposedChildIndex;
    const ArrayPtr items = libraryItems(*validateDrop.draggingPasteboard);
    const QStringList types = validateDrop.draggingPasteboard->formats();
    qsizetype rawIndex = -1;

    auto finish = [&](int operation) {
        if (operation != PMDragOperationNone && (I != *proposedItem || k != *proposedChildIndex)) {
            *proposedItem = I;
            *proposedChildIndex = k;
        }
        setDraggingDestinationDropOnRow(k == -1 && operation != PMDragOperationNone && I ? libraryListRowForItem(Value(I)) : -1);
        return operation;
    };

    if (!I) {
        if (k == -1) {
            if (items)
                k = visibleTopLevelLibraryItems()->count();
        } else if (!items) {
            return finish(PMDragOperationNone);
        }
        if (items)
            rawIndex = dropIndexInRawArray(_library, k, visibleTopLevelLibraryItems());
    } else {
        if (I->isExternalMediaItem())
            return finish(PMDragOperationNone);
        QString criterion;
        const bool manual = isManuallySorted(*I, &criterion);
        const bool R = I->rearrangeChildrenAsPreflightCheck(true, criterion);
        bool childIndexAllowed = true;
        if (I->isSmartGroup()) {
            const bool firstIsChild = items && !items->isEmpty() && parentOfLibraryItem(items->at(0)) == I;
            if (firstIsChild) {
                if (k == -1 || !R)
                    return finish(PMDragOperationNone);
            } else {
                if (!hasSubdivisionBranch(I))
                    return finish(PMDragOperationNone);
                childIndexAllowed = false;
            }
        }
        const PMLibraryContainerPtr library = existingSourceStorage();
        if ((library && I == library) || (I->contains(kLibrarySection) && !I->isPellisSourceStorageSection())) {
            I = existingOwnSection(library);
            k = -1;
            if (!I)
                return finish(PMDragOperationNone);
        }
        if (k != -1) {
            // Items are placed between children only in manual order: the container has it
            // or may be switched to it, which the drop itself does.
            Q_UNUSED(manual);
            const bool keep = childIndexAllowed && R
                              && (outlineViewShowMovieChildrenOfContainer(I) || (items && !containsMovieRepresentationsOnly(*items)));
            if (keep)
                rawIndex = rawDropIndex(I->rawChildren(), k, outlineViewChildrenOfContainer(I), I->sortsDescendingAccordingToAncestor(nullptr));
            else
                k = -1;
        }
    }

    if (!items) {
        if (!shouldDragExternalItemsWithTypes(types, I))
            return finish(PMDragOperationNone);
        if (k != -1 || I)
            return finish(externalDragOperation());
        I = existingOwnSection(existingSourceStorage());
        return finish(I && libraryListRowForItem(Value(I)) >= 0 ? externalDragOperation() : int(PMDragOperationNone));
    }
    PMLibraryContainerPtr playlistStorage;
    const int operation = operationForDraggingLibraryItems(items, I, k == -1 ? -1 : rawIndex, libraryList, &playlistStorage);
    if (operation != PMDragOperationNone && playlistStorage) {
        I = playlistStorage;
        k = -1;
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

ArrayPtr PMMainController::uniqueMovieRepresentationsFromItems(const ArrayPtr& items, const QStringList& restrictToPaths, bool sort,
                                                               bool orIncludeHiddenMovieRepresentations, bool includeProxies)
{
    auto result = Array::make();
    QSet<const platform::Object*> seen;
    std::function<void(const ArrayPtr&, bool, int)> walk = [&](const ArrayPtr& children, bool enterContainers, int depth) {
        if (!children || depth > kMaximumWalkDepth)
            return;
        for (const Value& v : *children) {
            if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                if (movie->isProxy() && !includeProxies)
                    continue;
                if (!restrictToPaths.isEmpty()) {
                    const QString path = movie->path();
                    const bool below = std::any_of(restrictToPaths.begin(), restrictToPaths.end(), [&](const QString& p) {
                        return !path.isEmpty() && (path == p || path.startsWith(p.endsWith(u'/') ? p : p + u'/'));
                    });
                    if (!below || !QFileInfo::exists(path))
                        continue;
                }
                const Value original = movie->nonProxySelf();
                if (!seen.contains(original.objectPointer())) {
                    seen.insert(original.objectPointer());
                    result->append(v);
                }
            } else if (PMLibraryContainer* container = PMContainer(v)) {
                if (!enterContainers || (container->isSmartGroup() && !includeProxies))
                    continue;
                const ArrayPtr inner = sort ? container->sortedChildren()
                                            : (orIncludeHiddenMovieRepresentations ? container->rawChildren() : container->filteredChildren());
                const bool flattened = container->value(QStringLiteral("Flattened")).toBool()
                                       || container->value(QStringLiteral("Flattened Non-Others")).toBool();
                walk(inner, !flattened, depth + 1);
            }
        }
    };
    walk(items, true, 0);
    return result;
}

bool PMMainController::importExternalFiles(const QList<QUrl>& fileURLs, const QMimeData* pasteboard, qsizetype atIndex, const ArrayPtr& ofSiblings,
                                           const PMLibraryContainerPtr& parent, Array& transfer, ArrayPtr* getDropped)
{
    const bool moveOrCopyToLibrary = defaults().boolForKey(QStringLiteral("Move/Copy To Library"));
    const PMLibraryContainerPtr T = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    const ArrayPtr branch = parent ? parent->value(kSubdivisionBranch).array() : nullptr;
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
        if (hasURL && hasPromise && defaults().boolForKey(QStringLiteral("Prefer Promised Files Over URLs"))) {
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
    if (moveOrCopyToLibrary && target != T && (siblings == _library || !liesBelowContainer(Value(target), T)))
        for (const Value& item : *newItems)
            transfer.append(item);
    if (getDropped)
        *getDropped = newItems;
    return true;
}

bool PMMainController::importLibraryItems(const ArrayPtr& items, qsizetype atIndex, const ArrayPtr& ofSiblings, const PMLibraryContainerPtr& parent,
                                          bool dropOnParent, Array& transfer)
{
    const bool moveOrCopyToLibrary = defaults().boolForKey(QStringLiteral("Move/Copy To Library"));
    const PMLibraryContainerPtr T = storageWithName(QStringLiteral("Temporary"), nullptr, false);
    const bool parentIsSmartGroup = parent && parent->isSmartGroup();
    const ArrayPtr branch = parent ? parent->value(kSubdivisionBranch).array() : nullptr;
    PMLibraryContainerPtr playlistStorage;
    // A drop on the parent is judged as such (index -1), whatever index it places at;
    // a drop the rules refuse changes nothing.
    const int operation = operationForDraggingLibraryItems(items, parent, dropOnParent ? -1 : atIndex, PMLibraryView::None, &playlistStorage);
    if (operation == PMDragOperationNone)
        return false;
    bool changed = false;
    ArrayPtr L;
    ArrayPtr S = ofSiblings;
    qsizetype i = atIndex;
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
            if (_dropWindow.editNameOfLibraryItem)
                _dropWindow.editNameOfLibraryItem(Value(playlist));
        });
        changed = true;
    } else {
        if (operation == PMDragOperationCopy) {
            // A static playlist inside the "Smart Groups" storage.
            if (!parent)
                return false;
            // Stored only when the drop changes something.
            L = parent->value(kStaticProxies).array();
            if (!L)
                L = Array::make();
        }
        if (i < 0 || i > S->count())
            i = S->count();
        QSet<QString> listed;
        if (L)
            for (const Value& id : *L)
                if (id.isString())
                    listed.insert(id.string());
        const std::vector<Value> dragged = items->values();
        for (const Value& X : dragged) {
            PMLibraryItem* x = PMItem(X);
            if (!x)
                continue;
            qsizetype fromIndex = -1;
            const ArrayPtr ancestors = ancestorsOfLibraryItem(X, &fromIndex);
            if (!ancestors)
                continue;
            const PMLibraryContainerPtr xParent = ancestors->isEmpty() ? nullptr : PMContainerPtr(ancestors->at(0));
            const ArrayPtr xSiblings = xParent ? xParent->rawChildren() : _library;
            if (xSiblings == S) {
                if (dropOnParent)
                    continue; // left in place
                // A reorder (inside a static playlist too: the entry moves).
                const qsizetype at = S->indexOfIdentical(X.objectPointer());
                if (at < 0)
                    continue;
                if (at < i)
                    --i;
                S->removeAt(at);
                S->insert(i++, X);
                changed = true;
            } else if (parentIsSmartGroup) {
                if (branch) {
                    x->addTagValuesFromSubdivisionBranch(branch);
                    changed = true;
                }
            } else {
                Value moving = X;
                ArrayPtr from = xSiblings;
                ArrayPtr movingAncestors = ancestors;
                if (x->isProxy()) {
                    moving = x->nonProxySelf();
                    movingAncestors = ancestorsOfLibraryItem(moving, &fromIndex);
                    from = !movingAncestors ? nullptr : movingAncestors->isEmpty() ? _library : PMContainer(movingAncestors->at(0))->rawChildren();
                }
                if (!L) {
                    if (from) {
                        const qsizetype at = from->indexOfIdentical(moving.objectPointer());
                        if (at >= 0) {
                            from->removeAt(at);
                            if (from == S && at < i)
                                --i;
                        }
                        if (moveOrCopyToLibrary && from != S && T && !PMIsSameItem(moving, Value(T)) && movingAncestors
                            && movingAncestors->indexOfIdentical(T.get()) >= 0)
                            transfer.append(moving);
                    }
                    S->insert(i++, moving);
                    changed = true;
                } else if (PMMovieRepresentationPrototype* movie = PMMovie(moving)) {
                    const QString id = movie->uniqueLibraryID();
                    if (listed.contains(id))
                        continue;
                    listed.insert(id);
                    const PMMovieRepresentationProxyPtr proxy = movie->staticPlaylistProxy();
                    if (!proxy)
                        continue;
                    S->insert(i++, Value(proxy));
                    changed = true;
                } else {
                    S->insert(i++, moving);
                    changed = true;
                }
            }
            if (parentIsSmartGroup && xParent == parent)
                storeSequence(S, parent);
        }
        if (!L && changed && parent && parent->value(QStringLiteral("Smart Playlists Folder")).toBool()) {
            L = parent->value(kStaticProxies).array();
            if (!L)
                L = Array::make();
        }
        if (L && changed) {
            // The order of the children, then what was listed but is not a child.
            auto rebuilt = Array::make();
            QSet<QString> seen;
            for (const Value& child : *S)
                if (PMMovieRepresentationPrototype* movie = PMMovie(child)) {
                    const QString id = movie->uniqueLibraryID();
                    if (!seen.contains(id)) {
                        seen.insert(id);
                        rebuilt->append(id);
                    }
                }
            for (const Value& id : *L)
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
    const bool organize = !defaults().boolForKey(QStringLiteral("Do Not Organize Library Folder"));
    if (!transfer->isEmpty()) {
        const bool copy = defaults().integerForKey(QStringLiteral("Move/Copy To Library Mode")) == 1;
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
