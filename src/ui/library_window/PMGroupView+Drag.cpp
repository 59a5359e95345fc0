// The grid's drags: its tiles as a drag source (the drag image, the local reorder while
// the drag is over the grid) and the grid as a drop destination.
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMPreviewViewPrototype.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMPasteboard.h"

#include <QtCore/QMimeData>
#include <QtCore/QSet>
#include <QtGui/QDrag>
#include <QtGui/QDropEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPainter>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

// ---- Drag source

// A press held still on a tile starts a drag of it (or of the selection it belongs to).
void PMGroupView::startDragFromPress()
{
    Tracking& t = m_tracking;
    if (!t.active || !t.isClick || !t.mayDrag || !t.pressed)
        return;
    std::vector<PMGroupViewItemProxyPtr> proxies;
    ArrayPtr items = Array::make();
    if (t.pressed->selected) {
        getSelectedItems(*items, &proxies, nullptr);
    } else {
        items->append(t.pressed->selectedItem());
        proxies.push_back(t.pressed);
    }
    const QPointF at = t.current;
    if (moveItems(items, proxies, at)) {
        endTracking();
        return;
    }
    t.isClick = false;
    t.mayDrag = false;
}


bool PMGroupView::moveItems(const ArrayPtr& items, const std::vector<PMGroupViewItemProxyPtr>& proxies, QPointF at)
{
    if (!mainController().canDragOrDeleteItems(items, nullptr, nullptr))
        return false;
    _localDragMovieProxies.reset();
    m_localDragCache.reset();
    m_localDropStored = false;
    // Only whether the tiles may be reordered: the container keeps its order and sorting
    // until a reorder is dropped.
    if (std::size_t(items->count()) < _movieProxies.size() && _representedGroup && _representedGroup->rearrangeChildrenAsPreflightCheck(true))
        _localDragMovieProxies = std::make_unique<std::vector<PMGroupViewItemProxyPtr>>(_movieProxies);

    // The drag image: the tiles as they are drawn, or a badge when any is off screen.
    QRectF united;
    bool allShown = true;
    for (const PMGroupViewItemProxyPtr& proxy : proxies) {
        united = united.united(proxy->frame);
        allShown &= proxy->view != nullptr;
    }
    QPixmap pixmap;
    QPoint hotSpot;
    if (allShown && !united.isEmpty()) {
        QImage image(united.size().toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        for (const PMGroupViewItemProxyPtr& proxy : proxies)
            drawPreviewViewInRect(painter, *proxy, proxy->frame.translated(-united.topLeft()), 1.0);
        painter.end();
        const QSize limit(std::min(400, int(0.666 * image.width())), std::min(400, int(0.666 * image.height())));
        const QImage reduced = image.scaled(limit.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QImage faded(reduced.size(), QImage::Format_ARGB32_Premultiplied);
        faded.fill(Qt::transparent);
        QPainter fade(&faded);
        fade.setOpacity(0.3);
        fade.drawImage(0, 0, reduced);
        fade.end();
        pixmap = QPixmap::fromImage(faded);
        const double scale = double(reduced.width()) / std::max(1.0, united.width());
        hotSpot = ((at - united.topLeft()) * scale).toPoint();
    } else {
        bool moviesOnly = true;
        for (const Value& v : *items)
            moviesOnly &= PMMovie(v) != nullptr;
        const QString text = (moviesOnly ? tr("%1 files") : tr("%1 items")).arg(items->count());
        QFont font;
        font.setPointSizeF(11);
        const int w = QFontMetrics(font).horizontalAdvance(text) + 12 + 20;
        QImage image(w, 16, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(0.5);
        QIcon::fromTheme(QStringLiteral("document-multiple"), QIcon::fromTheme(QStringLiteral("folder-documents"))).paint(&painter, QRect(0, 0, 16, 16));
        painter.setBrush(QGuiApplication::palette().highlight());
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(20, 0, w - 20, 16), 8, 8);
        painter.setPen(Qt::white);
        painter.setFont(font);
        painter.drawText(QRectF(20, 0, w - 20, 16), Qt::AlignCenter, text);
        painter.end();
        pixmap = QPixmap::fromImage(image);
        hotSpot = QPoint(-8, -8);
    }
    for (const PMGroupViewItemProxyPtr& proxy : _proxies)
        if (proxy->view)
            proxy->view->setCanHover(false);

    auto* mime = new QMimeData;
    setLibraryItems(*mime, items, Value(QStringLiteral("PMGroupView")));
    QDrag drag(this);
    drag.setMimeData(mime);
    drag.setPixmap(pixmap);
    drag.setHotSpot(hotSpot);
    // Outside the program a tile may only be copied: a move would take the file out of the
    // library. Reordering inside the grid does not depend on the operation.
    const Qt::DropActions offered = Qt::CopyAction;
    if (dragRunner)
        dragRunner(drag, offered, Qt::CopyAction);
    else
        drag.exec(offered, Qt::CopyAction);
    // The source end: tiles hover again and the local order goes.
    for (const PMGroupViewItemProxyPtr& proxy : _proxies)
        if (proxy->view)
            proxy->view->setCanHover(true);
    endLocalDrag();
    return true;
}

void PMGroupView::endLocalDrag()
{
    if (!_localDragMovieProxies)
        return;
    _localDragMovieProxies.reset();
    m_localDragCache.reset();
    for (const PMGroupViewItemProxyPtr& proxy : _proxies)
        proxy->dragged = false;
    if (_isDragTarget)
        leaveDragTarget();
    tileWithAdjustedSize(true, false, true);
}

bool PMGroupView::draggingLocally(const QMimeData* pasteboard, QPointF point, bool moveOneItemOnly, bool tileRegardless)
{
    if (!_localDragMovieProxies || !pasteboard)
        return false;
    auto& order = *_localDragMovieProxies;
    const double S = spacing();
    const auto numberOrder = [&order] {
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i]->dragOrder = i;
    };
    // The first tile of the order whose frame, grown by the spacing, holds the point: looked
    // up among the tiles near the point, by their place in the order.
    std::size_t index = order.size();
    std::vector<PMGroupViewItemProxy*> near;
    proxiesInRect(QRectF(point - QPointF(S, S), QSizeF(2 * S + 0.01, 2 * S + 0.01)), near);
    for (PMGroupViewItemProxy* proxy : near) {
        if (proxy->isGroup || !proxy->frame.adjusted(-S, -S, S, S).contains(point))
            continue;
        if (proxy->dragOrder >= order.size() || order[proxy->dragOrder].get() != proxy) {
            numberOrder(); // not yet numbered for this order
            if (proxy->dragOrder >= order.size() || order[proxy->dragOrder].get() != proxy)
                continue;
        }
        index = std::min(index, proxy->dragOrder);
    }
    // The dragged items are read from the pasteboard once per drag, and the tiles split once:
    // a reorder keeps the order of the dragged tiles and of the others.
    LocalDragCache* cache = m_localDragCache.get();
    if (!cache || cache->pasteboard != pasteboard || cache->moving.size() + cache->rest.size() != order.size()) {
        m_localDragCache = std::make_unique<LocalDragCache>();
        cache = m_localDragCache.get();
        cache->pasteboard = pasteboard;
        const ArrayPtr dragged = libraryItems(*pasteboard);
        QSet<const void*> draggedItems;
        if (dragged)
            for (const Value& v : *dragged)
                if (v.isObject())
                    draggedItems.insert(v.objectPointer());
        for (const PMGroupViewItemProxyPtr& proxy : order) {
            const Value& item = proxy->selectedItem();
            if (item.isObject() && draggedItems.contains(item.objectPointer()))
                cache->moving.push_back(proxy);
            else
                cache->rest.push_back(proxy);
        }
        cache->moveOneItemOnly = !moveOneItemOnly; // the flags below are set
    }
    const std::vector<PMGroupViewItemProxyPtr>& moving = cache->moving;
    const std::vector<PMGroupViewItemProxyPtr>& rest = cache->rest;
    index = std::min(index, rest.size());
    // The same place as at the last step: the order is already that one.
    if (index == cache->index && moveOneItemOnly == cache->moveOneItemOnly && !tileRegardless)
        return true;
    if (!moving.empty() && index != cache->index && cache->index <= rest.size() && moveOneItemOnly == cache->moveOneItemOnly) {
        // The order is that of the last step: only the dragged block (the first dragged tile
        // when one moves alone) changes place, by turning the stretch between its places.
        const std::size_t k = moveOneItemOnly ? 1 : moving.size();
        const std::size_t from = cache->index, to = index;
        const std::size_t low = std::min(from, to), high = std::max(from, to) + k;
        const auto at = [&order](std::size_t i) { return order.begin() + std::ptrdiff_t(i); };
        std::rotate(at(low), to < from ? at(from) : at(from + k), at(high));
        for (std::size_t i = low; i < high; ++i)
            order[i]->dragOrder = i;
        cache->index = index;
        tileWithAdjustedSize(true, false, true);
        return true;
    }
    if (moveOneItemOnly != cache->moveOneItemOnly)
        for (const PMGroupViewItemProxyPtr& proxy : moving)
            proxy->dragged = moveOneItemOnly;
    cache->index = index;
    cache->moveOneItemOnly = moveOneItemOnly;
    std::vector<PMGroupViewItemProxyPtr> reordered = std::move(cache->spare);
    reordered.clear();
    reordered.reserve(order.size());
    reordered.insert(reordered.end(), rest.begin(), rest.begin() + std::ptrdiff_t(index));
    if (moveOneItemOnly && !moving.empty()) {
        reordered.push_back(moving.front());
        reordered.insert(reordered.end(), rest.begin() + std::ptrdiff_t(index), rest.end());
        reordered.insert(reordered.end(), moving.begin() + 1, moving.end());
    } else {
        reordered.insert(reordered.end(), moving.begin(), moving.end());
        reordered.insert(reordered.end(), rest.begin() + std::ptrdiff_t(index), rest.end());
    }
    if (reordered != order || tileRegardless) {
        std::swap(order, reordered);
        numberOrder();
        tileWithAdjustedSize(true, false, true);
    }
    reordered.clear();
    cache->spare = std::move(reordered); // its memory serves the next step
    return true;
}

// ---- Drag destination

namespace {

// A drag of this grid's own tiles: its items are this process's current drag from the grid.
bool isOwnDrag(const QDropEvent* event, const QObject* grid, bool hasLocalOrder)
{
    if (event->source() == grid)
        return true;
    const QMimeData* mime = event->mimeData();
    if (!hasLocalOrder || !mime || !libraryItems(*mime))
        return false;
    const Value source = lastDraggedLibraryItemsSource();
    return source.isString() && source.string() == QLatin1String("PMGroupView");
}

Qt::DropAction dropActionFor(int operation)
{
    if (operation & PMMainController::PMDragOperationMove)
        return Qt::MoveAction;
    if (operation & PMMainController::PMDragOperationCopy)
        return Qt::CopyAction;
    if (operation & PMMainController::PMDragOperationLink)
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

} // namespace

void PMGroupView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!isFullyInteractiveGroupView()) {
        event->ignore();
        return;
    }
    if (!_isDragTarget) {
        _isDragTarget = true;
        ++interactionCounter();
    }
    answerDrag(event, true);
}

void PMGroupView::dragMoveEvent(QDragMoveEvent* event)
{
    answerDrag(event, false);
}

void PMGroupView::answerDrag(QDragMoveEvent* event, bool entering)
{
    // A reorder of the grid's own tiles moves; anything else is for the drop rules.
    const QPointF point = toGrid(event->position());
    if (isOwnDrag(event, this, _localDragMovieProxies != nullptr) && draggingLocally(event->mimeData(), point, true, entering)) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    const PMMainController::PMDraggingInfo info{event->mimeData(),
                                                isOwnDrag(event, this, true) ? PMMainController::groupView : PMMainController::PMLibraryView::None};
    const int operation = mainController().validateGroupViewDrop(info);
    if (operation) {
        if (entering) {
            _isHighlighted = true;
            viewport()->update();
        }
        event->setDropAction(dropActionFor(operation));
        event->accept();
    } else {
        event->ignore();
    }
}

void PMGroupView::leaveDragTarget()
{
    _isHighlighted = false;
    if (_isDragTarget) {
        _isDragTarget = false;
        if (interactionCounter() > 0)
            --interactionCounter();
    }
    for (const PMGroupViewItemProxyPtr& proxy : _proxies)
        if (proxy->view)
            proxy->view->setCanHover(true);
    viewport()->update();
}

void PMGroupView::dragLeaveEvent(QDragLeaveEvent*)
{
    leaveDragTarget();
    // The unchanged order comes back while the drag is elsewhere.
    if (_localDragMovieProxies)
        tileWithAdjustedSize(true, false, true);
}

void PMGroupView::dropEvent(QDropEvent* event)
{
    const QPointF point = toGrid(event->position());
    bool accepted = false;
    if (_localDragMovieProxies && isOwnDrag(event, this, true)) {
        const std::vector<PMGroupViewItemProxyPtr> before = _movieProxies;
        draggingLocally(event->mimeData(), point, false, false);
        if (*_localDragMovieProxies != before) {
            _movieProxies = *_localDragMovieProxies;
            // The display order of all tiles follows: subgroups, then movies (or the reverse).
            std::vector<PMGroupViewItemProxyPtr> all;
            all.reserve(_proxies.size());
            const bool groupsFirst = !(_proxies.size() && !_proxies.front()->isGroup && !_groupProxies.empty());
            if (groupsFirst)
                all.insert(all.end(), _groupProxies.begin(), _groupProxies.end());
            all.insert(all.end(), _movieProxies.begin(), _movieProxies.end());
            if (!groupsFirst)
                all.insert(all.end(), _groupProxies.begin(), _groupProxies.end());
            _proxies = std::move(all);
            m_ratiosValid = false;
            ArrayPtr sequence = Array::make();
            for (const PMGroupViewItemProxyPtr& proxy : _movieProxies)
                sequence->append(proxy->representedItem);
            // The container takes the order it showed and manual sorting now, when a
            // reorder is dropped, and the new order on top of that.
            if (_representedGroup)
                _representedGroup->rearrangeChildrenAsPreflightCheck(false);
            mainController().storeSequenceForDragOperation(sequence, event->mimeData());
            m_localDropStored = true;
            accepted = true;
        }
        for (const PMGroupViewItemProxyPtr& proxy : _proxies)
            proxy->dragged = false;
        event->setDropAction(Qt::MoveAction);
    } else {
        const PMMainController::PMDraggingInfo info{event->mimeData(),
                                                    isOwnDrag(event, this, true) ? PMMainController::groupView : PMMainController::PMLibraryView::None};
        accepted = mainController().acceptGroupViewDrop(info);
    }
    leaveDragTarget();
    if (accepted)
        event->accept();
    else
        event->ignore();
    setFocus(Qt::OtherFocusReason);
    if (_localDragMovieProxies)
        tileWithAdjustedSize(true, false, true);
}
