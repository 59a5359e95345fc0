// The grid's commands, keys and presses: the context menu, the pointer's hover, clicks,
// the rubber band, the rating drag and the press that starts a drag.
#include "ui/library_window/PMGroupView.h"
#include "foundation/PMSettingsKeys.h"
#include "ui/library_window/PMGroupViewColors.h"
#include "ui/library_window/PMGridSettings.h"
#include "ui/library_window/PMStatusFields.h"
#include "ui/library_window/PMPreviewViewPrototype.h"
#include "ui/library_window/PMPreviewViewToolTipPopover.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMRatingView.h"

#include <QtCore/QMetaMethod>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

using PMGridSettings::defaults;

} // namespace

// ---- Commands and keys

bool PMGroupView::doDelete()
{
    const ArrayPtr items = selectedItems();
    if (!items->isEmpty() && mainController().canDragOrDeleteItems(items, nullptr, nullptr)) {
        mainController().deleteItems(items);
        return true;
    }
    QApplication::beep();
    return false;
}

bool PMGroupView::respondsToAction(const QString& action) const
{
    if (action == QLatin1String("selectAll"))
        return !_proxies.empty();
    if (action == QLatin1String("delete")) {
        const ArrayPtr items = selectedItems();
        return !items->isEmpty() && mainController().canDragOrDeleteItems(items, nullptr, nullptr);
    }
    return false;
}

void PMGroupView::performAction(const QString& action, QObject*)
{
    if (action == QLatin1String("selectAll"))
        selectAll();
    else if (action == QLatin1String("delete"))
        doDelete();
}

void PMGroupView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        doDelete();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        moveSelection(event->key(), event->modifiers() & Qt::ShiftModifier);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void PMGroupView::contextMenuEvent(QContextMenuEvent* event)
{
    // A click arrives through the viewport, in its coordinates; a key press (the menu key)
    // at the grid itself, and then the menu is for the first selected tile.
    PMGroupViewItemProxyPtr proxy;
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const auto selected = selectedProxies();
        if (!selected.empty()) {
            proxy = selected.front();
            const QRectF frame = proxy->frame.translated(0, -verticalScrollBar()->value());
            global = viewport()->mapToGlobal(frame.center().toPoint());
        }
    } else {
        proxy = proxyAt(toGrid(QPointF(event->pos())));
    }
    if (popUpContextMenu(proxy, global))
        event->accept();
    else
        event->ignore();
}

bool PMGroupView::popUpContextMenu(const PMGroupViewItemProxyPtr& proxy, QPoint globalPosition)
{
    if (!isFullyInteractiveGroupView() || !isSignalConnected(QMetaMethod::fromSignal(&PMGroupView::contextMenuRequested)))
        return false;
    // A tile's menu is for the selection it belongs to, or for the tile alone when it lies
    // outside the selection (which stays as it is); the background's for no items.
    ArrayPtr items = Array::make();
    std::vector<PMGroupViewItemProxyPtr> tiles;
    if (proxy) {
        if (proxy->selected) {
            getSelectedItems(*items, &tiles, nullptr);
        } else {
            items->append(proxy->selectedItem());
            tiles = {proxy};
        }
    }
    QMenu* menu = nullptr;
    Q_EMIT contextMenuRequested(proxy ? items : nullptr, proxy ? proxy->view.get() : nullptr, &menu);
    if (!menu)
        return false;
    // Every tile the menu is for shows that a menu is open, until it closes.
    ++interactionCounter();
    for (const PMGroupViewItemProxyPtr& tile : tiles)
        if (tile->view)
            tile->view->displaysMenu = true;
    // The description of a tile would cover the menu.
    PMPreviewViewToolTipPopover::shared().hideForPreviewView(0);
    viewport()->update();
    QPointer<PMGroupView> grid(this);
    menu->exec(globalPosition);
    if (!grid)
        return true;
    --interactionCounter();
    for (const PMGroupViewItemProxyPtr& tile : tiles)
        if (tile->view)
            tile->view->displaysMenu = false;
    viewport()->update();
    return true;
}

bool PMGroupView::viewportEvent(QEvent* event)
{
    // The spotlight closes with the next event.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        if (!m_spotlightRect.isEmpty()) {
            m_spotlightRect = QRectF();
            viewport()->update();
        }
        break;
    case QEvent::MouseMove:
        m_pointer = static_cast<QMouseEvent*>(event)->position();
        if (!m_tracking.active && interactionCounter() == 0)
            hoverAtPointer();
        break;
    case QEvent::Leave:
        m_pointer.reset();
        endHover();
        break;
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void PMGroupView::hoverAtPointer()
{
    // Tiles hover only in the active window (as the desktop's own controls do).
    if (!m_pointer || !isActiveWindow()) {
        endHover();
        return;
    }
    const QPointF point = toGrid(*m_pointer);
    const PMGroupViewItemProxyPtr over = proxyAt(point);
    updateHover(over.get(), point);
    bool changed = false;
    for (PMGroupViewItemProxy* proxy : m_shown)
        if (proxy->view) {
            const bool hover = proxy == over.get() && proxy->view->canHover;
            changed |= proxy->view->hovering != hover;
            proxy->view->hovering = hover;
        }
    if (changed)
        viewport()->update();
}

void PMGroupView::endHover()
{
    updateHover(nullptr, QPointF());
    for (PMGroupViewItemProxy* proxy : m_shown)
        if (proxy->view)
            proxy->view->hovering = false;
    viewport()->update();
}

void PMGroupView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        // The hover look, the cycling and the popover stop when the window goes to the
        // back, and come back with the next move over a tile; the selection ring changes
        // colour.
        if (!isActiveWindow())
            endHover();
        viewport()->update();
    }
}

bool PMGroupView::eventFilter(QObject* watched, QEvent* event)
{
    // A scroll bar that hides while its thumb is held never sends its release: the live
    // scroll ends here instead.
    if (watched == verticalScrollBar() && event->type() == QEvent::Hide && _isInLiveScroll) {
        verticalScrollBar()->setSliderDown(false);
        endLiveScroll();
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void PMGroupView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void PMGroupView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// ---- Press tracking: click, rubber band, drag

void PMGroupView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    // The first click of a double click opened a folder (or otherwise replaced what the
    // grid shows): the second press belongs to the old content and is dropped, so that it
    // never plays whatever tile landed under the pointer.
    if (event->type() == QEvent::MouseButtonDblClick && m_pressGeneration != m_contentGeneration) {
        event->accept();
        return;
    }
    m_pressGeneration = m_contentGeneration;
    const PMGroupViewItemProxyPtr pressed = proxyAt(toGrid(event->position()));
    const bool command = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (!pressed) {
        dragMouseWithEvent(event, pressed, command || shift, false);
        return;
    }
    if (!pressed->isGroup) {
        const QPointF point = toGrid(event->position());
        const QRectF stars = ratingCellFrame(*pressed);
        if (!stars.isEmpty() && stars.contains(point)) {
            beginRatingDrag(pressed, point, shift);
            return;
        }
        // Elsewhere in the band while it shows the menu button: the tile's context menu,
        // below the button. Without a menu to show, the press selects like any other.
        const QRectF button = contextMenuButtonFrame(*pressed);
        if (!button.isEmpty() && isLabelContainerMouseLocation(*pressed, point)) {
            const bool overlaid = drawSettings().labelsOverlaid;
            const QPointF at(button.left() - (overlaid ? 4 : 9) - 2, button.bottom() + (overlaid ? 2 : 3) + 2);
            if (popUpContextMenu(pressed, viewport()->mapToGlobal(at.toPoint() - QPoint(0, verticalScrollBar()->value()))))
                return;
        }
    }
    const int clickCount = event->type() == QEvent::MouseButtonDblClick ? 2 : 1;
    const PMPreviewClickPlan plan = PMPreviewClickPlanFor(command, shift, clickCount, PMPreviewSingleClickBehavior(pressed->isGroup));
    dragMouseWithEvent(event, pressed, plan.keepInitialSelection, plan.move);
    m_tracking.plan = plan;
}

// The name band of a movie tile (grown by a point), where a click never plays the movie.
bool PMGroupView::isLabelContainerMouseLocation(const PMGroupViewItemProxy& proxy, QPointF gridPoint) const
{
    if (proxy.isGroup)
        return false;
    return labelFrameInTile(proxy.frame, drawSettings()).adjusted(-1, -1, 1, 1).contains(gridPoint);
}

QRectF PMGroupView::ratingFrameInTile(const PMGroupViewItemProxy& proxy, const QRectF& rect, const DrawSettings& settings) const
{
    PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem);
    if (proxy.isGroup || !movie)
        return {};
    const PMGroupViewTile* tile = proxy.view.get();
    PMMovieTileRatingState state;
    state.hasRatingControl = proxy.equivalentContainer.isNull() && !movie->isOnlineItem() && !defaults().boolForKey(prefs::keys::HidePreviewRatings);
    state.bandHovered = tile && tile->hoveringLabel;
    state.tracksRating = tile && tile->tracksRatingCell;
    state.menuOpen = tile && tile->displaysMenu;
    state.labelsOverlaid = settings.labelsOverlaid;
    state.hovering = tile && tile->hovering;
    state.selected = proxy.selected;
    state.rating = movie->rating();
    // Labels that appear on hover show no stars where no band is shown.
    if (!settings.staticLabels && !state.hovering && !state.selected && !state.menuOpen && !state.tracksRating)
        return {};
    return PMMovieTileRatingFrame(labelFrameInTile(rect, settings), state);
}

QRectF PMGroupView::ratingCellFrame(const PMGroupViewItemProxy& proxy) const
{
    return ratingFrameInTile(proxy, proxy.frame, drawSettings());
}

QRectF PMGroupView::contextMenuButtonFrame(const PMGroupViewItemProxy& proxy) const
{
    const PMGroupViewTile* tile = proxy.view.get();
    if (proxy.isGroup || !tile || !PMMovie(proxy.representedItem))
        return {};
    const DrawSettings settings = drawSettings();
    return PMMovieTileContextMenuButtonFrame(labelFrameInTile(proxy.frame, settings), tile->hoveringLabel || tile->displaysMenu, tile->tracksRatingCell,
                                             settings.fullyInteractive);
}

void PMGroupView::beginRatingDrag(const PMGroupViewItemProxyPtr& pressed, QPointF gridPoint, bool shift)
{
    // The selected movie tiles change together; a tile outside the selection alone.
    std::vector<PMGroupViewItemProxyPtr> tiles;
    bool othersSelected = false;
    for (const PMGroupViewItemProxyPtr& proxy : _proxies) {
        if (!proxy->selected)
            continue;
        if (!proxy->isGroup && proxy->equivalentContainer.isNull() && PMMovie(proxy->representedItem))
            tiles.push_back(proxy);
        else
            othersSelected = true;
    }
    const auto found = std::find(tiles.begin(), tiles.end(), pressed);
    if (found == tiles.end()) {
        tiles = {pressed};
    } else {
        std::rotate(tiles.begin(), found, found + 1);
        if (othersSelected)
            selectItems(nullptr, tiles, {}, true, false, false, false);
    }
    m_rating = RatingTracking();
    m_rating.active = true;
    m_rating.pressed = pressed;
    m_rating.tiles = std::move(tiles);
    m_rating.frame = ratingCellFrame(*pressed);
    m_rating.last = gridPoint;
    for (const PMGroupViewItemProxyPtr& proxy : m_rating.tiles)
        if (proxy->view)
            proxy->view->tracksRatingCell = true;
    m_rating.cell.setDoubleValue(PMMovie(pressed->representedItem)->rating());
    m_rating.cell.startTrackingAt(gridPoint, m_rating.frame);
    setRatingFromCell(shift);
}

void PMGroupView::setRatingFromCell(bool shift)
{
    const double value = m_rating.cell.doubleValue();
    for (const PMGroupViewItemProxyPtr& proxy : m_rating.tiles) {
        if (!shift && proxy != m_rating.pressed)
            continue;
        PMMovieRepresentationPrototype* movie = PMMovie(proxy->representedItem);
        if (movie && std::floor(value) != std::floor(movie->rating()))
            movie->setRating(std::floor(value));
    }
    viewport()->update();
}

void PMGroupView::endRatingDrag()
{
    for (const PMGroupViewItemProxyPtr& proxy : m_rating.tiles)
        if (proxy->view)
            proxy->view->tracksRatingCell = false;
    m_rating = RatingTracking();
    setFocus(Qt::MouseFocusReason);
    viewport()->update();
    // The change reaches the sorts, searches and smart groups, and is saved.
    mainController().updateLibraryAfterRatingChangeSoon();
}

// A second press of a double click is a press with a click count of two.
void PMGroupView::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

bool PMGroupView::triggerActionForProxy(const PMGroupViewItemProxy& proxy)
{
    if (proxy.isGroup) {
        const auto container = PMContainerPtr(proxy.representedItem);
        if (!container)
            return false;
        mainController().chooseGroup(container);
        return true;
    }
    const bool canHover = !proxy.view || proxy.view->canHover || (m_tracking.active && m_tracking.pressed.get() == &proxy);
    return PMMovieTileTriggerAction(proxy.representedItem, proxy.equivalentContainer, canHover, isFullyInteractiveGroupView());
}

void PMGroupView::dragMouseWithEvent(QMouseEvent* event, const PMGroupViewItemProxyPtr& clickedOnPreviewView, bool keepInitialSelection, bool move)
{
    // The press is tracked by the mouse events that follow: a click, a rubber band, or
    // (held still on a tile) the start of a drag.
    setFocus(Qt::MouseFocusReason);
    Tracking& t = m_tracking;
    t = Tracking();
    t.active = true;
    t.viewportPoint = event->position();
    t.start = t.current = toGrid(event->position());
    t.pressed = clickedOnPreviewView;
    t.keepInitialSelection = keepInitialSelection;
    if (t.pressed && t.pressed->view)
        t.pressed->view->setCanHover(false);
    // Only the selected tiles are remembered: a press costs what is selected, not the grid.
    if (t.keepInitialSelection)
        for (const PMGroupViewItemProxyPtr& proxy : _proxies)
            if (proxy->selected)
                t.initialSelection.insert(proxy.get());
    t.mayDrag = t.pressed && move && isFullyInteractiveGroupView();
    if (t.mayDrag)
        m_dragTimer.start(400);
}

void PMGroupView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_rating.active) {
        const QPointF point = toGrid(event->position());
        m_rating.cell.continueTracking(m_rating.last, point, m_rating.frame);
        m_rating.last = point;
        setRatingFromCell(event->modifiers() & Qt::ShiftModifier);
        return;
    }
    Tracking& t = m_tracking;
    if (!t.active)
        return;
    m_dragTimer.stop();
    t.mayDrag = false;
    t.viewportPoint = event->position();
    t.current = toGrid(event->position());
    t.isClick = false;
    updateRubberBand();
    const bool outside = event->position().y() < 0 || event->position().y() > viewport()->height();
    const bool canScroll = m_contentSize.height() > viewport()->height() + 0.1;
    if (outside && canScroll && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
}

void PMGroupView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_rating.active && event->button() == Qt::LeftButton) {
        endRatingDrag();
        return;
    }
    Tracking& t = m_tracking;
    if (!t.active || event->button() != Qt::LeftButton)
        return;
    if (t.isClick) {
        const Qt::KeyboardModifiers mods = event->modifiers();
        using Selection = PMPreviewClickPlan::Selection;
        if (t.pressed && (t.plan.selection == Selection::Extend || (mods & Qt::ShiftModifier))) {
            selectToProxy(t.pressed);
        } else if (t.pressed && (t.plan.selection == Selection::Toggle || t.plan.selection == Selection::ToggleKeep || (mods & Qt::ControlModifier))) {
            t.pressed->setSelected(!t.pressed->selected);
            viewport()->update();
            mainController().updateStatusFields();
        } else if (!t.keepInitialSelection) {
            if (t.pressed)
                selectItems(nullptr, {t.pressed}, {}, true, false, false, false);
            else
                selectItems(nullptr, {}, {}, true, false, false, false);
        }
        // A click that only selects never acts; otherwise the tile's action runs once
        // the press is over (a release without a drag).
        if (t.pressed && t.plan.performAction && !isLabelContainerMouseLocation(*t.pressed, t.start)) {
            const PMGroupViewItemProxyPtr pressed = t.pressed;
            endTracking();
            triggerActionForProxy(*pressed);
            return;
        }
    }
    endTracking();
}

void PMGroupView::endTracking()
{
    m_dragTimer.stop();
    m_autoScrollTimer.stop();
    if (m_tracking.pressed && m_tracking.pressed->view)
        m_tracking.pressed->view->setCanHover(true);
    m_tracking = Tracking();
    m_selectionWindow.frame = QRectF();
    viewport()->update();
}

void PMGroupView::autoScroll()
{
    const Tracking& t = m_tracking;
    if (!t.active) {
        m_autoScrollTimer.stop();
        return;
    }
    const double y = t.viewportPoint.y();
    QScrollBar* bar = verticalScrollBar();
    if (y < 0)
        bar->setValue(bar->value() - 20);
    else if (y > viewport()->height())
        bar->setValue(bar->value() + 20);
    else
        return;
    m_tracking.current = toGrid(t.viewportPoint);
    updateRubberBand();
}

void PMGroupView::updateRubberBand()
{
    Tracking& t = m_tracking;
    const QRectF band = PMRectBetweenPoints(t.start, t.current);
    bool changed = false;
    const auto apply = [&](PMGroupViewItemProxy& proxy) {
        const bool select = proxy.frame.intersects(band) || (t.keepInitialSelection && t.initialSelection.contains(&proxy));
        if (select != proxy.selected) {
            proxy.setSelected(select);
            changed = true;
        }
    };
    if (!t.bandApplied) {
        // The first step settles every tile; after it, a tile outside both the last band and
        // this one already shows what it should, so a step visits only the tiles that meet
        // the two bands (both start at the press: their bounding box is their union).
        for (const PMGroupViewItemProxyPtr& proxy : _proxies)
            apply(*proxy);
        t.bandApplied = true;
    } else {
        std::vector<PMGroupViewItemProxy*> touched;
        proxiesInRect(t.appliedBand.united(band).adjusted(-1, -1, 1, 1), touched);
        for (PMGroupViewItemProxy* proxy : touched)
            apply(*proxy);
    }
    t.appliedBand = band;
    if (changed)
        scheduleStatusUpdate();
    // The band's visible part, with arrows where it goes on off screen.
    const QRectF visible = visibleRect();
    const QRectF shown = band.intersected(visible);
    m_selectionWindow.frame = shown.translated(0, -visible.top());
    m_selectionWindow.drawsUpArrow = !shown.isEmpty() && t.current.y() < shown.top() - 0.1;
    m_selectionWindow.drawsDownArrow = !shown.isEmpty() && t.current.y() > shown.bottom() + 0.1;
    viewport()->update();
}

void PMGroupView::scheduleStatusUpdate()
{
    // One status update per turn of the event loop, however many events came.
    if (m_statusUpdatePending)
        return;
    m_statusUpdatePending = true;
    QTimer::singleShot(0, this, [this] {
        m_statusUpdatePending = false;
        mainController().updateStatusFields();
    });
}
