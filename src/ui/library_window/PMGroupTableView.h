// The list of the library window: one row per movie of the shown container, with the
// columns the user chose (remembered per library under "PMGroupTableViewColumns"), tag
// columns drawn as pills or as right-aligned numbers, a message over an empty list,
// dragging rows out (at once from selected rows or the name's icon), the context menu of
// the clicked rows and the columns menu in the header and its corner. The rows and
// values come from the main controller, the list's data source. Main thread only.
#pragma once

#include "ui/library_window/PMAutoCompleteTableView.h"

#include <QtCore/QHash>
#include <QtWidgets/QHeaderView>

class QMenu;

// The list's header; as the table's corner view it opens the columns menu.
class PMGroupTableViewHeaderView : public QHeaderView {
    Q_OBJECT
public:
    explicit PMGroupTableViewHeaderView(Qt::Orientation orientation, QWidget* parent = nullptr);
    // The corner view's stand-in for the table's header (the one whose menu it opens).
    void setTableHeader(PMGroupTableViewHeaderView* header) { m_tableHeader = header; }
    bool isCornerView() const { return m_tableHeader != nullptr; }
    QMenu* headerMenu() const { return m_menu; }
    void setHeaderMenu(QMenu* menu) { m_menu = menu; }
    // The menu for a right click: the columns menu (the corner's is the table header's).
    QMenu* menuForEvent() const;
    QSize sizeHint() const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    PMGroupTableViewHeaderView* m_tableHeader = nullptr;
    QMenu* m_menu = nullptr;
};

class PMGroupTableView : public PMAutoCompleteTableView {
    Q_OBJECT
public:
    explicit PMGroupTableView(QWidget* parent = nullptr);
    ~PMGroupTableView() override;

    static QString visibleTableColumnsUserDefaultsKey() { return QStringLiteral("PMGroupTableViewColumns"); }
    // "AccessoryTagListName: " and the title in lower case.
    static QString accessoryTableColumnIdentifierForTitle(const QString& title);
    // "Group List: Pill Priority", read once: below 0 tag columns are plain text, 0 numeric
    // tags are right-aligned text and other tags pills, above 0 every tag column is pills.
    static long long PMGroupListPillPriority();
    static void resetPillPriorityForTesting();

    PMMainController::PMLibraryView collectionView() const override { return PMMainController::PMLibraryView::GroupList; }

    // Every known column by identifier, shown or not.
    const QHash<QString, PMTableColumn>& cachedTableColumnsByIdentifier() const { return _cachedTableColumnsByIdentifier; }
    // The cached column, or a new one made from its prototype (Name, Date or Time);
    // without a prototype, none.
    std::optional<PMTableColumn> cachedTableColumnWithIdentifier(const QString& identifier, const QString& header);
    void invalidateTableColumns() { _hasUpToDateTableColumns = false; }
    bool hasUpToDateTableColumns() const { return _hasUpToDateTableColumns; }
    // Restores the stored column set once until invalidated (every interface refresh).
    void updateTableColumns();
    // Shows or hides a column: a fixed identifier ("GroupList…") with the header, or a tag
    // title. Answers the identifier of the column added, empty when one was removed.
    QString toggleTableColumn(const QString& identifierOrTagTitle, const QString& header);
    // Stores the shown columns in order (the library save).
    void saveTableColumns();
    void reloadData() override;
    bool isReloadingData() const { return _isReloadingData; }
    void clearIsReloadingDataFlag();
    // The header of a fixed column as the window shows it.
    static QString defaultHeaderForIdentifier(const QString& identifier);

    // The message over an empty list ("Empty", "N subgroups", "No Matches"), or none.
    QString emptyListMessage() const;
    // A press there drags at once (a selected row, or the name's icon).
    bool dragImmediatelyWithMouseDown(const QPoint& viewportPosition) const;
    static Qt::DropActions draggingSourceOperationMaskForLocal(bool local);
    QMenu* menuForEvent(const QPoint& viewportPosition);
    PMGroupTableViewHeaderView* groupHeaderView() const { return m_header; }
    QMenu* columnsMenu() const { return m_columnsMenu; }

    // Styles the tag columns for their numeric or text values before they are drawn.
    void styleTagColumns();

    // A meta-reference menu item: its represented object goes into the tag cell being
    // edited. Enabled only while a tag cell of pills is edited.
    void insertMetaReference(QAction* item);
    bool validateMenuItem(QAction* item) override;
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void tableColumnsDidChange() override;

private:
    PMMainController::PMDraggingInfo draggingInfo(const QDropEvent* event) const;
    bool validateDrop(QDropEvent* event, qsizetype* row, PMMainController::PMTableViewDropOperation* operation);
    void showColumnsMenu(const QPoint& globalPosition);
    // The name column takes the room the other columns leave, never less than the width
    // the user gave it (which is what is saved).
    void sizeNameColumnToFit();
    double m_nameBaseWidth = 320;
    bool m_sizingNameColumn = false;

    bool _isReloadingData = false;
    bool _hasUpToDateTableColumns = false;
    QHash<QString, PMTableColumn> _cachedTableColumnsByIdentifier;
    double _tokenFieldCellInset = 0;
    PMGroupTableViewHeaderView* m_header = nullptr;
    PMGroupTableViewHeaderView* m_corner = nullptr;
    QMenu* m_columnsMenu = nullptr;
    QTimer* m_reloadFlagTimer = nullptr;
    // The gesture of a press: whether motion drags, and where it began.
    bool m_pressCanDragAtOnce = false;
    bool m_pressDecided = true;
    QPoint m_pressPosition;
};
