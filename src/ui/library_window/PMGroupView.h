// The grid of the main window: the children of one container as tiles. One scroll area
// whose viewport paints the tiles that are visible; each child has a light item proxy
// (item, frame, selection), and only proxies near the visible area get a tile object
// (hover, pictures, animation), reused across refreshes within a second. The visible
// tiles come from the layout's index in O(log n + visible); one animation clock moves
// every tile.
#pragma once

#include "platform/Image.h"
#include "platform/Responder.h"
#include "platform/Value.h"
#include "ui/library_window/PMGroupViewLayout.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMPreviewViewPrototype.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QFont>
#include <QtGui/QImage>
#include <QtWidgets/QAbstractScrollArea>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class PMLibraryContainer;
class QDrag;
class QMenu;
class QMimeData;
class QVariantAnimation;

// Buffers for the tiles' kept drawings, handed back when a tile leaves the screen or is
// drawn at another size and handed out again for a tile of the same pixel size: a grid of
// equal tiles scrolls without asking the system for fresh memory for every tile.
namespace PMTileBufferPool {
// A buffer of that pixel size and ratio, its contents undefined.
QImage take(QSize pixels, double devicePixelRatio);
void give(QImage&& image);
void clear();
}

// A tile near the visible area: what the item proxy's view holds while on screen.
class PMGroupViewTile {
public:
    PMGroupViewTile() = default;
    PMGroupViewTile(const PMGroupViewTile&) = delete;
    PMGroupViewTile& operator=(const PMGroupViewTile&) = delete;
    // A tile that goes takes its description popover with it.
    ~PMGroupViewTile();

    // Names the tile to the popover: never reused, unlike the tile's address.
    const quint64 serial = nextSerial();
    static quint64 nextSerial();

    bool selected = false;
    bool canHover = true;
    bool hovering = false;
    // A context menu opened from this tile, or from the selection it belongs to, is open.
    bool displaysMenu = false;
    double alpha = 1.0;
    double startAlpha = 1.0;
    // The hover frames: cycling through them while the pointer rests on the picture.
    PMMovieTileHover hover;
    std::size_t hoverFrameCount = 0;
    bool hoveringLabel = false;
    bool tracksRatingCell = false; // its stars are being dragged
    QRectF startFrame; // where an animation started
    QRectF shownFrame; // where the tile is drawn now
    bool simplified = false;
    bool moving = false; // animated by the grid's clock
    // The tile as last drawn (opaque, over the grid's background), reused while nothing it
    // shows has changed; drawn again from its picture layer when only ornaments change.
    QImage rendered;
    struct RenderKey {
        const void* image = nullptr;
        QSize size;
        bool selected = false;
        bool hovering = false;
        bool displaysMenu = false;
        quint64 settings = 0;
        quint64 state = 0; // rating, missing state, hover frame
        QRgb background = 0;
        bool operator==(const RenderKey&) const = default;
    } renderedKey;
    // The picture's area as composed (scaled, cropped, over its blurred copy), kept while the
    // pictures, the size and the look of the area stay.
    QImage picture;
    struct PictureKey {
        const void* main = nullptr;
        const void* blurred = nullptr;
        const void* overlay = nullptr;
        QSize pixels;
        quint64 settings = 0;
        quint64 look = 0;
        PMTileCornerRadii corners;
        bool operator==(const PictureKey&) const = default;
    } pictureKey;

    void setSelected(bool flag) { selected = flag; }
    void setCanHover(bool flag)
    {
        canHover = flag;
        if (!flag)
            hovering = false;
    }
    bool didSimplifyDisplay() const { return simplified; }
    bool endSimplifiedDisplay()
    {
        const bool was = simplified;
        simplified = false;
        if (was)
            invalidateDrawing(); // drawn in full next time
        return was;
    }
    // What the tile shows changed: drawn again, into the same buffer, when next painted.
    void invalidateDrawing() { renderedKey = {}; }
    // The kept drawing goes back to the pool (the tile is drawn afresh when next painted).
    void discardDrawing()
    {
        PMTileBufferPool::give(std::move(rendered));
        PMTileBufferPool::give(std::move(picture));
        rendered = QImage();
        picture = QImage();
        renderedKey = {};
        pictureKey = {};
    }
};
using PMGroupViewTilePtr = std::shared_ptr<PMGroupViewTile>;

class PMGroupViewItemProxy {
public:
    bool selected = false;
    bool dragged = false;
    platform::Value representedItem;
    platform::Value equivalentContainer;
    PMGroupViewTilePtr view;
    QRectF previousFrame;
    QRectF frame;
    bool isGroup = false;
    bool marked = false; // scratch of the visible-tile pass
    std::size_t dragOrder = 0; // its place in the order of a local drag

    void setSelected(bool flag)
    {
        selected = flag;
        if (view)
            view->setSelected(flag);
    }
    // The item a selection stands for: the subgroup of a blended tile, else the item.
    const platform::Value& selectedItem() const { return equivalentContainer.isNull() ? representedItem : equivalentContainer; }
};
using PMGroupViewItemProxyPtr = std::shared_ptr<PMGroupViewItemProxy>;

// The rubber band's visible part with arrows where the band goes on off screen.
class PMGroupViewSelectionWindow {
public:
    bool drawsUpArrow = false;
    bool drawsDownArrow = false;
    QRectF frame; // in viewport coordinates; empty: closed
    static void drawOverlayInBounds(QPainter& painter, const QRectF& bounds, const PMGroupViewSelectionWindow& window);
};

// The grid and its tiles for assistive technology (installed by the first grid).
void PMGroupViewInstallAccessibility();

class PMGroupView : public QAbstractScrollArea, public platform::Responder {
    Q_OBJECT
public:
    explicit PMGroupView(QWidget* parent = nullptr);
    ~PMGroupView() override;

    // ---- Items
    void setRepresentedGroup(const std::shared_ptr<PMLibraryContainer>& group);
    std::shared_ptr<PMLibraryContainer> representedGroup() const { return _representedGroup; }
    void addItem(const platform::Value& item);
    void clear();
    // Shows `items` (in their order) for `group`. The very items the grid shows already keep
    // their proxies, with their places and selection marks, and the tiles on screen are only
    // drawn again: the cost of a refresh that changed no content is that of what is visible.
    // Anything else refills the grid. Answers whether the proxies were kept. The items are
    // `items` followed by `more`.
    bool setItems(const std::shared_ptr<PMLibraryContainer>& group, std::span<const platform::Value> items,
                  std::span<const platform::Value> more = {});
    void clearProxyDump();
    const std::vector<PMGroupViewItemProxyPtr>& proxies() const { return _proxies; }
    const std::vector<PMGroupViewItemProxyPtr>& movieProxies() const { return _movieProxies; }
    const std::vector<PMGroupViewItemProxyPtr>& groupProxies() const { return _groupProxies; }
    PMGroupViewTilePtr previewViewForMovieRepresentation(const platform::Value& record) const;
    PMGroupViewItemProxyPtr proxyForPreviewView(const PMGroupViewTilePtr& view) const;
    bool isFullyInteractiveGroupView() const { return _representedGroup != nullptr; }
    // Set by the window: spacing adjusted for the glass look, and a scope bar above the grid.
    bool adjustsSpacingForGlass() const { return _adjustsSpacingForGlass; }
    void setAdjustsSpacingForGlass(bool flag) { _adjustsSpacingForGlass = flag; }
    bool hasScopeBar() const { return _hasScopeBar; }
    void setHasScopeBar(bool flag) { _hasScopeBar = flag; }

    // ---- Selection
    void getSelectedItems(platform::Array& items, std::vector<PMGroupViewItemProxyPtr>* proxies, std::vector<PMGroupViewTilePtr>* views) const;
    platform::ArrayPtr selectedItems() const;
    std::vector<PMGroupViewItemProxyPtr> selectedProxies() const;
    void selectItems(const platform::ArrayPtr& items, const std::vector<PMGroupViewItemProxyPtr>& proxies, const QStringList& ids,
                     bool byDeselectingOthers, bool orSelectAll, bool scrollToVisible, bool spotlight);
    void selectItems(const platform::ArrayPtr& items, bool byDeselectingOthers, bool scrollToVisible, bool spotlight);
    void selectItemsWithIDs(const QStringList& ids);
    void selectAll();
    void setSelectedForPreviewView(bool selected, const PMGroupViewTilePtr& view);
    std::vector<PMGroupViewTilePtr> selectedPreviewViews() const;
    void selectToProxy(const PMGroupViewItemProxyPtr& proxy);
    void selectToPreviewView(const PMGroupViewTilePtr& view) { selectToProxy(proxyForPreviewView(view)); }
    void spotlightProxy(const PMGroupViewItemProxyPtr& proxy);
    // The arrow keys' move among the movie tiles: Qt::Key_Left, Right, Up or Down.
    void moveSelection(int key, bool extend);

    // ---- Layout
    void tileWithAdjustedSize(bool adjust, bool restoreVisibleRect, bool animate);
    const PMGroupViewLayoutResult& lastLayout() const { return m_layout; }
    // How many times the tiles were laid out (a tiling that found nothing changed keeps
    // the frames it had and lays out nothing).
    quint64 layoutCount() const { return m_layoutCount; }
    unsigned numberOfColumns() const { return _numberOfColumns; }
    // The columns the grid would show for a tile width, its size adjustment included.
    unsigned columnsShownForWidth(double width) const;
    double separatorY() const { return _separatorY; }
    // The enclosing scroll area's usable rectangle (the viewport) and its size.
    QRectF usableRectRelativeToEnclosingScrollView() const;
    QSizeF canvasSizeWithCurrentWidth(double* currentWidth) const;
    QSizeF canvasSize() const { return canvasSizeWithCurrentWidth(nullptr); }
    QSizeF tiledSize() const;
    void updatePreviousFrames();
    // The tiles meeting a rectangle of the grid, in display order.
    void proxiesInRect(const QRectF& rect, std::vector<PMGroupViewItemProxy*>& out) const;
    QRectF visibleRect() const;
    void scrollRectToVisible(const QRectF& rect);
    void setLiveResize(bool live) { m_inLiveResize = live; }

    // ---- The grid's background and band colours, shared with the tiles
    static QColor backgroundColorWithAlpha(double alpha, double darken);
    static QColor backgroundColor();
    static QColor borderColor();

    // ---- Settings read as the class operations of the grid
    static double spacing();
    static void setSpacing(double spacing);
    static double coverAspectRatio();
    static double previewAspectRatio();
    static double coverOverlayAlpha();
    static double previewViewWidthForContainer(const std::shared_ptr<PMLibraryContainer>& container);
    static void setPreviewWidth(double width, const std::shared_ptr<PMLibraryContainer>& forContainer);
    static void setCoverOverlayAlpha(double alpha);
    static double coverOverlayPosition();
    static void setCoverOverlayPosition(double position);
    // The process-wide cover mode flag and the layout value in effect.
    static bool& coverMode();
    static unsigned currentLayout();

    // ---- Drawing and interaction
    bool updatePreviewForMovieRepresentation(const platform::Value& record);
    void updatePreviewsIncludingOrnaments(bool includeOrnaments);
    bool doDelete();
    // The tile's action: open a group, or play, open or locate a movie. False when none.
    bool triggerActionForProxy(const PMGroupViewItemProxy& proxy);
    bool isLabelContainerMouseLocation(const PMGroupViewItemProxy& proxy, QPointF gridPoint) const;
    // Where a movie tile's stars are, in the grid's coordinates (empty when it shows none).
    QRectF ratingCellFrame(const PMGroupViewItemProxy& proxy) const;
    // Painting of one tile (picture, name, selection), also for the drag image.
    void drawPreviewViewInRect(QPainter& painter, const PMGroupViewItemProxy& proxy, const QRectF& rect, double alpha) const;

    // ---- Responder
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

    // ---- Drag and drop
    // The movie order shown while the grid's own tiles are dragged over it.
    const std::vector<PMGroupViewItemProxyPtr>* localDragMovieProxies() const { return _localDragMovieProxies.get(); }
    bool moveItems(const platform::ArrayPtr& items, const std::vector<PMGroupViewItemProxyPtr>& proxies, QPointF atMouseLocation);
    bool draggingLocally(const QMimeData* pasteboard, QPointF point, bool moveOneItemOnly, bool tileRegardless);
    // Tests: a drag is run by this instead of QDrag::exec, with the operations it offers and
    // the one it proposes (the mime data is the drag's).
    std::function<Qt::DropAction(QDrag&, Qt::DropActions offered, Qt::DropAction proposed)> dragRunner;
    bool isDragTarget() const { return _isDragTarget; }
    bool isHighlighted() const { return _isHighlighted; }
    static unsigned& interactionCounter();
    static unsigned& animationSuppressionCounter();
    // The rubber band's overlay while one is drawn.
    const PMGroupViewSelectionWindow& selectionWindow() const { return m_selectionWindow; }
    int paintedTileCount() const { return m_paintedTiles; }
    // The proxies with tiles (near the visible area), in display order.
    const std::vector<PMGroupViewItemProxy*>& shownProxies() const { return m_shown; }
    double arrowAlpha() const { return _arrowAlpha; }
    const QRectF& spotlightRect() const { return m_spotlightRect; }
    bool isInLiveResize() const { return m_inLiveResize; }
    // The hover frames' clock (seconds); tests steer it. A steady clock when unset.
    std::function<double()> hoverClock;
    // The pointer is over a tile (or none): hover frames start, follow it or stop.
    void updateHover(PMGroupViewItemProxy* over, QPointF gridPoint);
    // Runs the hover steps that are due.
    void advanceHover();
    // Paints the visible part of the grid into the painter (benchmarks, screenshots).
    // Paints the visible area; with a dirty rectangle (grid coordinates) only what meets it.
    void paintVisible(QPainter& painter, const QRectF& visible, const QRectF& dirty = QRectF());

Q_SIGNALS:
    // The grid wants the context menu of its background (no items, no tile) or of a tile;
    // the first answer puts the menu into *menu, later ones leave it. Unanswered, the grid
    // shows no menu.
    void contextMenuRequested(const platform::ArrayPtr& items, const PMGroupViewTile* previewView, QMenu** menu);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    // The tiles for where a scroll left the grid: made once for any number of steps taken
    // before the next paint (or the next turn of the event loop, whichever comes first).
    void settleScroll();
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void preparePreviewViewsInRect(const QRectF& rect);
    // The proxy's tile goes (off screen, or the grid is emptied), and with it what its
    // record holds in memory for it.
    void dropTile(PMGroupViewItemProxy& proxy);
    void prepareHoverFrames(PMGroupViewTile& tile, const PMGroupViewItemProxy& proxy);
    // Hover follows the tile under the pointer's last place (after a move or a scroll).
    void hoverAtPointer();
    void endHover();
    QTimer m_hoverTimer;
    std::optional<QPointF> m_pointer; // in the viewport, while the pointer is over it
    // Raised whenever the content is replaced; a double click's second press that finds
    // it raised since the first is dropped.
    quint64 m_contentGeneration = 0;
    quint64 m_pressGeneration = 0;
    // A live scroll (the thumb held): one picture load at a time, tiles refined after it.
    void beginLiveScroll();
    void endLiveScroll();
    // The visible rectangle after a scroll goes to the controller and the image loader.
    void adjustScroll(const QRectF& proposedVisibleRect);
    // A picture's aspect ratio became known: a waterfall is laid out again after a second.
    void updateWaterfall();
    // The arrow of an empty online container fades in while it slides up.
    void animateMask();
    void animationStep(double progress);
    void updateScrollBars();
    QPointF toGrid(QPointF viewportPoint) const;
    PMGroupViewItemProxyPtr proxyAt(QPointF gridPoint) const;
    void scheduleStatusUpdate();
    void updateRubberBand();
    void endTracking();
    // A press on a tile's stars: the rating follows the pointer until the release, on the
    // tile or, with Shift, on every selected movie tile.
    void beginRatingDrag(const PMGroupViewItemProxyPtr& pressed, QPointF gridPoint, bool shift);
    void setRatingFromCell(bool shift);
    void endRatingDrag();
    struct DrawSettings;
    QRectF ratingFrameInTile(const PMGroupViewItemProxy& proxy, const QRectF& rect, const DrawSettings& settings) const;
    void autoScroll();
    void startDragFromPress();
    void dragMouseWithEvent(QMouseEvent* event, const PMGroupViewItemProxyPtr& clickedOnPreviewView, bool keepInitialSelection, bool move);
    void leaveDragTarget();
    void answerDrag(QDragMoveEvent* event, bool entering);
    void endLocalDrag();
    void loadPictures(PMGroupViewItemProxy& proxy, bool visible);
    PMGroupViewLayoutInput layoutInput(bool adjust) const;
    void finishDragFeedback();

    std::vector<PMGroupViewItemProxyPtr> _proxies;
    std::vector<PMGroupViewItemProxyPtr> _groupProxies;
    std::vector<PMGroupViewItemProxyPtr> _movieProxies;
    std::unique_ptr<std::vector<PMGroupViewItemProxyPtr>> _localDragMovieProxies;
    // What a local drag works out once rather than at every step: the dragged tiles and the
    // others, each in its order (a reorder keeps both), and the place last given.
    struct LocalDragCache {
        const QMimeData* pasteboard = nullptr;
        std::vector<PMGroupViewItemProxyPtr> moving, rest;
        std::vector<PMGroupViewItemProxyPtr> spare; // the order before last, reused
        std::size_t index = std::size_t(-1);
        bool moveOneItemOnly = false;
    };
    std::unique_ptr<LocalDragCache> m_localDragCache;
    QHash<QString, QHash<QString, PMGroupViewItemProxyPtr>> _proxyDump;
    // The items of the dumped proxies by address, and the bucket of the shown group.
    QSet<const void*> m_dumpedObjects;
    QHash<QString, PMGroupViewItemProxyPtr>* m_dumpBucket = nullptr;
    const PMLibraryContainer* m_dumpBucketGroup = nullptr;
    // The proxies of earlier contents, let go with the dump (not while the grid refills).
    std::vector<std::vector<PMGroupViewItemProxyPtr>> m_retiredProxies;
    // The proxies of the last content, whose objects a refill uses again for items that
    // had none: their memory is already the program's, where new ones would be laid out
    // in pages the system must first clear (tens of milliseconds for a large search).
    std::vector<PMGroupViewItemProxyPtr> m_recyclable;
    // The items those proxies showed, let go with the dump (each is a reference count in
    // a record rarely in the cache).
    std::vector<platform::Value> m_recycledItems;
    // The frames handed to the visible index, kept between tilings for their memory.
    std::vector<QRectF> m_indexFrames;
    bool m_hasProxyDump = false;
    QTimer m_clearProxyDumpTimer;
    bool _isTiling = false;
    bool _isInLiveScroll = false;
    bool _isDragTarget = false;
    bool _isHighlighted = false;
    bool m_inLiveResize = false;
    bool _adjustsSpacingForGlass = false;
    bool _hasScopeBar = false;
    unsigned _numberOfColumns = 0;
    double _separatorY = -1.0;
    double _arrowAlpha = 0;
    std::shared_ptr<PMLibraryContainer> _representedGroup;
    PMGroupViewLayoutResult m_layout;
    // What the frames of the proxies were last laid out from (its ratios aside: they are
    // m_ratios while m_ratiosValid holds); unset when the frames may differ from it.
    std::optional<PMGroupViewLayoutInput> m_lastLayoutInput;
    quint64 m_layoutCount = 0;
    PMGroupViewVisibleIndex m_index;
    std::vector<PMGroupViewItemProxy*> m_indexed; // the proxies of the index, by frame number
    QSizeF m_contentSize;
    // Aspect ratios of the movies, kept until the content changes.
    std::vector<double> m_ratios;
    bool m_ratiosValid = false;
    bool m_itemsBlended = false; // the items of `setItems` were added with blended subgroups
    // The last answer of columnsShownForWidth and what it was for.
    mutable struct {
        double width = -1;
        QSizeF canvas;
        std::size_t movies = 0;
        std::size_t groups = 0;
        double spacing = 0;
        unsigned layout = 0;
        long adjustSize = 0;
        unsigned columns = 0;
    } m_columnsShown;
    struct {
        bool valid = false;
        bool median = false;
        bool fallBack = false;
        bool found = false;
        double ratio = 1.0;
    } m_aspectRatioCache;
    // A live resize: the waterfall family is laid out again only when the column count
    // changes, and once in full when the resize is over.
    QTimer m_liveResizeTimer;
    unsigned m_liveResizeColumns = 0;
    // Tiles drawn simplified during a live scroll, refined one per turn afterwards.
    std::vector<PMGroupViewTilePtr> _simplifiedDisplayViews;
    void endSimplifiedDisplay();
    QTimer m_arrowTimer;
    QTimer _waterfallTimer;
    // What drawing a tile reads, gathered once per paint.
    struct DrawSettings {
        bool dark = false;
        bool selectionActive = false; // the grid has the focus in the active window
        bool staticLabels = false;
        bool labelsOverlaid = true; // the band at the top of the tile, else below the picture
        bool placeholders = true;
        bool coverMode = false;
        bool scaleIndividually = false;
        bool fullyInteractive = false;
        unsigned layout = 0;
        double radius = 0;
        double scale = 1;
        double overlayAlpha = 1;
        double overlayPosition = 0;
        double coverRatio = 1.46;
        double previewRatio = 1.48;
        QRgb background = 0;     // the grid's
        QRgb bandBackground = 0; // under the tiles of the subgroups' band
        bool operator==(const DrawSettings&) const = default;
    };
    DrawSettings drawSettings() const;
    static QColor selectionColor(const DrawSettings& settings);
    mutable std::optional<DrawSettings> m_paintSettings; // while a paint runs
    mutable DrawSettings m_drawSettings;
    mutable quint64 m_drawSettingsGeneration = 1;
    // Draws the tile into the opaque buffer (its pixel size is the tile's), over the colour
    // behind it; the picture's area comes from the layer, composed again when stale.
    void composeTile(QImage& out, QImage& pictureLayer, PMGroupViewTile::PictureKey* pictureKey, const PMGroupViewItemProxy& proxy,
                     const DrawSettings& settings, const platform::ImagePtr& image, QColor background) const;
    struct PictureLayerLook {
        QRectF area; // the picture's, in the layer
        QRectF band; // a frosted band above the picture, in the layer; empty: none
        PMTileCornerRadii corners;
        bool glyphHover = false;
        bool looksActive = false;
        bool cycling = false;
        bool simplified = false;
        QColor background;
        QColor placeholder;
    };
    void composePictureLayer(QImage& layer, const PictureLayerLook& look, const PMGroupViewItemProxy& proxy, const DrawSettings& settings,
                             const platform::ImagePtr& main, const platform::ImagePtr& cover) const;
    // Composes the layer again (into a buffer of the layer's size) unless the key says it
    // already shows this look.
    void updatePictureLayer(QImage& layer, PMGroupViewTile::PictureKey* pictureKey, QSize layerPixels, const PictureLayerLook& look,
                            const PMGroupViewItemProxy& proxy, const DrawSettings& settings, const platform::ImagePtr& image,
                            const platform::ImagePtr& overlayCover) const;
    void composePicture(QPainter& painter, const QRectF& area, const PictureLayerLook& look, const PMGroupViewItemProxy& proxy,
                        const DrawSettings& settings, const platform::ImagePtr& main, const platform::ImagePtr& cover) const;
    // Fills the area with the grid's colour (the band's where it lies in the band) except
    // where resting tiles will cover it.
    void fillUncovered(QPainter& painter, const QRectF& area, const QRectF& band, const DrawSettings& settings) const;
    // The colour of the grid behind a tile's frame.
    QColor backgroundUnder(const QRectF& frame, const DrawSettings& settings) const;
    // The blurred copy of a picture, asked for (away from the main thread) when missing.
    platform::ImagePtr blurredPicture(const platform::ImagePtr& image, QSizeF size) const;
    // The label band of a tile drawn at rect.
    QRectF labelFrameInTile(const QRectF& rect, const DrawSettings& settings) const;
    // The context-menu button of a tile in the grid's coordinates (empty when not shown).
    QRectF contextMenuButtonFrame(const PMGroupViewItemProxy& proxy) const;
    // Opens the context menu of the tile (or of the selection it belongs to) at the point.
    bool popUpContextMenu(const PMGroupViewItemProxyPtr& proxy, QPoint globalPosition);
    void drawGroupTileContent(QPainter& painter, const PMGroupViewItemProxy& proxy, const QRectF& rect, const DrawSettings& settings) const;
    PMTileCornerRadii tileCornerRadii(const PMGroupViewItemProxy& proxy, const DrawSettings& settings) const;
    platform::ImagePtr tilePicture(const PMGroupViewItemProxy& proxy, const DrawSettings& settings) const;

    // Animation
    QVariantAnimation* m_animation = nullptr;
    std::vector<PMGroupViewItemProxy*> m_shown; // the proxies with tiles
    bool m_anyMoving = false;
    bool m_scrollToSettle = false;
    void stopMoving();

    // Press tracking
    struct Tracking {
        bool active = false;
        bool isClick = true;
        bool mayDrag = false;
        bool keepInitialSelection = false;
        QPointF start;   // grid coordinates
        QPointF current; // grid coordinates
        QPointF viewportPoint;
        PMGroupViewItemProxyPtr pressed;
        // With keepInitialSelection: the tiles selected when the press began (only those).
        QSet<const PMGroupViewItemProxy*> initialSelection;
        // The band as last applied: a step changes only tiles meeting it or the new band.
        QRectF appliedBand;
        bool bandApplied = false;
        PMPreviewClickPlan plan; // what a release without a drag does
    } m_tracking;
    struct RatingTracking {
        bool active = false;
        PMGroupViewItemProxyPtr pressed;
        std::vector<PMGroupViewItemProxyPtr> tiles; // the pressed tile first
        PMRatingCell cell;
        QRectF frame; // grid coordinates
        QPointF last;
    } m_rating;
    QTimer m_dragTimer;
    QTimer m_autoScrollTimer;
    PMGroupViewSelectionWindow m_selectionWindow;
    bool m_statusUpdatePending = false;
    int m_paintedTiles = 0;
    bool m_localDropStored = false;
    // The tile that a selection spotlights, clipped to the visible area, until the next event.
    QRectF m_spotlightRect;
    // Pictures whose blurred copy is being made.
    mutable QSet<const void*> m_pendingBlurs;
};
