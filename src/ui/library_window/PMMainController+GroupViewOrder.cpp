// The manual order that a drag inside the grid leaves: smart groups keep it as their index
// sequence, other containers as the order of their children.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMPasteboard.h"

#include <QtCore/QSet>
#include <QtCore/QTimer>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

// The dragged items put into the stored children where the shown order has them. Nothing
// is stored when the order cannot be matched with the stored children.
void storeDraggedOrder(PMMainController& c, const PMLibraryContainerPtr& container, const ArrayPtr& sequence, const QMimeData* pasteboard,
                       bool descending)
{
    ArrayPtr dragged = pasteboard ? libraryItems(*pasteboard) : nullptr;
    const ArrayPtr stored = container->rawChildren();
    if (!dragged || dragged->isEmpty() || !stored)
        return;
    dragged = std::make_shared<Array>(dragged->values());
    if (descending)
        std::reverse(dragged->begin(), dragged->end());
    QSet<const void*> isDragged;
    for (const Value& v : *dragged)
        if (v.isObject())
            isDragged.insert(v.objectPointer());
    const qsizetype at = sequence->indexOfIdentical(dragged->at(0).objectPointer());
    if (at < 0)
        return;
    ArrayPtr children = Array::make();
    if (at == 0) {
        for (const Value& v : *dragged)
            children->append(v);
        for (const Value& v : *stored)
            if (!v.isObject() || !isDragged.contains(v.objectPointer()))
                children->append(v);
    } else {
        const void* anchor = sequence->at(at - 1).objectPointer();
        for (const Value& v : *stored) {
            if (v.isObject() && isDragged.contains(v.objectPointer()))
                continue;
            children->append(v);
            if (v.isObject() && v.objectPointer() == anchor)
                for (const Value& d : *dragged)
                    children->append(d);
        }
    }
    if (children->count() != stored->count())
        return;
    c.storeSequenceForContainer(children, container);
}

} // namespace

void PMMainController::storeSequenceForContainer(const ArrayPtr& sequence, const PMLibraryContainerPtr& container)
{
    if (!sequence || !container)
        return;
    if (container->isSmartGroup()) {
        storeSequence(sequence, container);
        return;
    }
    container->setValue(QStringLiteral("Children"), Value(std::make_shared<Array>(sequence->values())));
    if (container->value(QStringLiteral("Smart Playlists Folder")).toBool()) {
        QStringList ids;
        for (const Value& v : *sequence)
            if (PMLibraryItem* item = PMItem(v); item && item->isMovieRepresentation())
                ids << item->uniqueLibraryID();
        const QSet<QString> listed(ids.begin(), ids.end());
        if (const ArrayPtr stored = container->value(QStringLiteral("Static Proxies")).array())
            for (const Value& v : *stored)
                if (v.isString() && !listed.contains(v.string()))
                    ids << v.string();
        ArrayPtr proxies = Array::make();
        for (const QString& id : ids)
            proxies->append(Value(id));
        container->setValue(QStringLiteral("Static Proxies"), Value(proxies));
    }
    container->invalidateChildren();
}

void PMMainController::storeSequenceForDragOperation(const ArrayPtr& shown, const QMimeData* pasteboard)
{
    const PMLibraryContainerPtr container = _groupItemsParent;
    if (!shown || !container)
        return;
    const bool descending = container->sortsDescendingAccordingToAncestor(nullptr);
    ArrayPtr sequence = std::make_shared<Array>(shown->values());
    if (descending)
        std::reverse(sequence->begin(), sequence->end());
    if (container->isSmartGroup())
        storeSequence(sequence, container);
    else
        storeDraggedOrder(*this, container, sequence, pasteboard, descending);
    QTimer::singleShot(0, this, [this] {
        freezeSelections();
        updateLibraryAndInvalidateDependencies(false, false, true);
        unfreezeSelections();
    });
}
