// The source list: the sidebar of the main window, an outline of the library's sections,
// storages, folders, playlists and smart groups through which the user browses the
// library. A tree view over a model that asks the main controller's data-source
// operations; every row has the same height. The view adds what makes the sidebar its
// own: the sidebar background, a hairline under the window header once the list is
// scrolled, merged rounded selection plates, the highlight of the row a drag would drop
// onto, frame corrections for section headers and for the children of smart groups shown
// at their own level, when a click starts a drag, expanding and collapsing everything
// with Alt+Shift, the Delete key, select all, context menus, double clicks and the end of
// renaming. Main thread only.
#pragma once

#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "platform/Value.h"

#include <QtCore/QAbstractItemModel>
#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtGui/QColor>
#include <QtWidgets/QTreeView>

#include <memory>
#include <vector>

class PMMovieCell;
class QMenu;

// Process-wide values of the source list, shared with the data source's row heights.
extern bool PMSourceListUsesRoundedSelection;
extern double PMSourceListFirstRowTopOffset;
extern const double PMSourceListSectionTopOffset;
extern double PMSourceListTopInset;
// The list uses its large font (set by every library update).
bool PMUsesLargeListFont();

// The tree the outline shows, as the data source answers it. Children are asked for when
// a row is first needed; a refresh compares what was asked for before with the answers of
// now and resets only when the rows differ.
class PMSourceListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit PMSourceListModel(PMMainController& dataSource, QObject* parent = nullptr);
    ~PMSourceListModel() override;

    platform::Value itemForIndex(const QModelIndex& index) const;
    // The index of an item whose row was asked for (invalid otherwise).
    QModelIndex indexForItem(const platform::Value& item) const;
    // Answers whether the rows changed (the model was then reset); otherwise the items are
    // taken over in place and only the rows' contents need drawing again.
    bool refresh();
    // How many resets refreshes caused (diagnostics, tests).
    int numberOfResets() const { return m_numberOfResets; }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

private:
    struct Node;
    Node* nodeForIndex(const QModelIndex& index) const;
    void load(Node& node) const;
    bool matches(Node& node);
    void registerNodes(Node& node);

    PMMainController& m_dataSource;
    std::unique_ptr<Node> m_root;
    mutable QHash<const void*, Node*> m_nodesByObject;
    int m_numberOfResets = 0;
};

// The line under the window header, shown once the list is scrolled.
class PMMovieOutlineSeparatorView : public QWidget {
    Q_OBJECT
public:
    explicit PMMovieOutlineSeparatorView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class PMMovieOutlineView : public QTreeView, public platform::Responder {
    Q_OBJECT
public:
    PMMovieOutlineView(PMMainController& controller, QWidget* parent = nullptr);
    ~PMMovieOutlineView() override;

    PMMainController& controller() const { return m_controller; }
    PMSourceListModel* sourceListModel() const { return m_model; }
    PMMovieCell* movieCell() const { return m_cell; }
    // The height of every row: the outline's row height, 2 more with the large list font.
    static double rowHeight();
    // Applies a changed row height (after the list font changed).
    void updateRowHeight();

    // The tree: loads the rows again, keeping expansion, selection and the scroll place.
    void reloadData();
    qsizetype numberOfRows() const;
    platform::Value itemAtRow(qsizetype row) const;
    qsizetype rowForItem(const platform::Value& item) const; // -1: no row
    platform::Value itemForIndex(const QModelIndex& index) const;
    QModelIndex indexAtRow(qsizetype row) const;
    qsizetype rowForIndex(const QModelIndex& index) const;
    int levelForRow(qsizetype row) const;
    int levelForItem(const platform::Value& item) const; // -1: no row
    platform::Value parentForItem(const platform::Value& item) const;
    bool isItemExpanded(const platform::Value& item) const;
    // Alt+Shift held: every item.
    void expandItem(const platform::Value& item, bool expandChildren);
    void collapseItem(const platform::Value& item, bool collapseChildren);
    QList<qsizetype> selectedRowIndexes() const;
    platform::ArrayPtr selectedItems() const;
    void selectRowIndexes(const QList<qsizetype>& rows, bool byExtendingSelection);
    void deselectAll();
    // The row's rectangle in the viewport, as wide as the viewport.
    QRectF rectOfRow(qsizetype row) const;
    qsizetype clickedRow() const { return m_clickedRow; }
    // A name is being edited in place.
    bool isEditing() const { return state() == EditingState; }
    using QTreeView::edit;

    // Frames: row 0 and section rows give their extra top space back; a smart group that
    // shows its children at its own level, and everything inside it, moves left by its
    // level's indentation.
    QRectF correctedFrame(const QRectF& frame, qsizetype row, bool adjustX, bool adjustWidth) const;
    QRectF frameOfCellAtColumn(qsizetype row) const;
    QRectF frameOfOutlineCellAtRow(qsizetype row) const;

    // Selection plates: consecutive rows merge into one plate. Modes: -1 the selection
    // while a drop-on row exists, 0 the selection, 1 the drop-on row.
    struct Plate {
        QRectF rect;
        int mode = 0;
    };
    QList<Plate> selectionPlatesInClipRect(const QRectF& clip) const;
    QColor plateColorForMode(int mode) const;
    void highlightSelectionInClipRect(QPainter& painter, const QRectF& clip) const;
    QColor sidebarBackgroundColor() const;

    // Dragging.
    qsizetype draggingDestinationDropOnRow() const { return m_draggingDestinationDropOnRow; }
    void setDraggingDestinationDropOnRow(qsizetype row);
    bool dragImmediatelyWithMouseDown(const QPoint& viewportPosition) const;
    // The badge's cancel mark is not a button here: a click never tracks it.
    bool trackCancelButtonWithMouseDown(const QPoint&) const { return false; }
    // Whether vertical motion after the mouse-down drags (else it selects rows).
    void setVerticalMotionCanBeginDrag(bool flag) { m_verticalMotionCanBeginDrag = flag; }
    // Outside the program only a copy; inside, every operation (the controller decides).
    static Qt::DropActions draggingSourceOperationMaskForLocal(bool local);
    bool shouldCollapseAutoExpandedItemsForDeposited(bool deposited) const;

    // The header of the window the hairline sits under; the hairline exists only when the
    // window draws its own header in place of the title bar.
    QWidget* windowHeaderView() const { return m_windowHeaderView; }
    void setWindowHeaderView(QWidget* view);
    PMMovieOutlineSeparatorView* separatorView() const { return m_separatorView; }
    // Shows the hairline unless the list is scrolled to the very top.
    void adjustScroll();

    // Commands.
    void doDoubleClick();
    void doDelete();
    bool canDelete() const;
    // The context menu for a point of the viewport (may change the selection first).
    QMenu* menuForEvent(const QPoint& viewportPosition);
    void selectAll() override;
    // Up to 10 points above a revealed row (a section's gap) come into view too.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void moveRight();
    void moveLeft();

    // The responder chain: "delete" (Edit > Delete) only when something can be deleted,
    // and "selectAll".
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

    // The hairline's drawing, and the sidebar's, follow the appearance.
    static QColor separatorColor(bool dark, bool increasedContrast);

Q_SIGNALS:
    void selectionDidChange();

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void scrollContentsBy(int dx, int dy) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void invalidateRows();
    void ensureRows() const;
    void moveHorizontally(bool right);
    bool validateDrop(QDropEvent* event, PMLibraryContainerPtr* item, qsizetype* childIndex);
    PMMainController::PMDraggingInfo draggingInfo(const QDropEvent* event) const;
    void layoutSeparator();

    PMMainController& m_controller;
    PMSourceListModel* m_model = nullptr;
    PMMovieCell* m_cell = nullptr;
    qsizetype m_draggingDestinationDropOnRow = -1;
    qsizetype m_clickedRow = -1;
    QPointer<QWidget> m_windowHeaderView;
    PMMovieOutlineSeparatorView* m_separatorView = nullptr;
    // The visible rows in order, made again after every expansion or reload.
    mutable std::vector<QModelIndex> m_rows;
    mutable QHash<const void*, qsizetype> m_rowsByNode;
    mutable bool m_rowsValid = false;
    // The mouse-down: whether a drag may start from it, and when the button went down.
    bool m_verticalMotionCanBeginDrag = true;
    bool m_trackingPress = false;
    QPoint m_pressPosition;
    QElapsedTimer m_pressTimer;
    // Where a drop between rows would land (a line), -1 for none.
    int m_dropLineY = -1;
    int m_dropLineIndent = 0;
    bool m_restoringSelection = false;
    bool m_didLoad = false;
    double m_laidOutRowHeight = 0;
    // Rows a hovering drag opened, closed again when it ends (see the rule above).
    QList<QPersistentModelIndex> m_autoExpanded;
    bool m_acceptsDrag = false;
    void collapseAutoExpandedItemsForDeposited(bool deposited);
};
