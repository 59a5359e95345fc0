// The program's tables: a table view over a model that asks the main controller's data
// source operations for the rows it shows (and only for those), with cells configured
// for each row as the data source's `willDisplayCell` says. The auto-completing table
// offers completions while a cell is edited (one request per keystroke, cancelled by the
// next keystroke, never for deleting keys), ends editing with Return or Tab without
// moving on by itself (the data source decides where Tab continues), keeps the keyboard
// focus, and routes double clicks and the Delete key to its data source. It is the base
// of the library window's list and of the panels' tables. Main thread only.
#pragma once

#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "platform/Value.h"
#include "ui/library_window/PMTableCells.h"

#include <QtCore/QAbstractTableModel>
#include <QtCore/QPersistentModelIndex>
#include <QtCore/QPointer>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QTableView>

#include <functional>
#include <memory>
#include <vector>

class PMAutoCompleteTableView;
class QListWidget;
class QMenu;
class QTimer;

// One column: its identifier, header, widths and the kind of cell that draws it.
struct PMTableColumn {
    // PopUp: an arrow whose menu's first item is its title; Choice: the title of the item
    // at the cell's value (an index), every item choosable.
    enum class Cell { Text, Movie, Rating, Token, GroupToken, Check, PopUp, Choice };
    QString identifier;
    QString header;
    double width = 100;
    double minWidth = 20;
    double maxWidth = 100000;
    Cell cell = Cell::Text;
    // The column's cells may be edited at all (the data source still decides per row).
    bool editable = false;
    // Text that does not fit is clipped (token cells then fade out).
    bool clips = true;
    // Right-aligned numbers (set for numeric tag columns while drawing).
    bool rightAligned = false;
    // Token cells: 0 pills, 1 plain text.
    int tokenStyle = 0;

    static PMTableColumn make(const QString& identifier, const QString& header, Cell cell, double width, bool editable)
    {
        PMTableColumn c;
        c.identifier = identifier;
        c.header = header;
        c.cell = cell;
        c.width = width;
        c.editable = editable;
        return c;
    }
};

// What a cell shows beyond its value: the items of a pop-up cell.
struct PMTableCellMenuItem {
    QString title;
    bool enabled = true;
    bool checked = false;
    bool separator = false;
    // Runs in place of storing the item's index as the cell's value.
    std::function<void()> action;
    // What the item stands for; a menu with such an item is offered to the controller to
    // rebuild before it opens.
    platform::Value representedObject;
};

// The model: rows and values come from the data source when the view asks for them.
class PMTableViewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PMTableViewModel(PMAutoCompleteTableView* table);

    // Asks the data source for the number of rows again and resets.
    void reload();
    // The columns changed (added, removed, moved): the header follows.
    void reloadColumns();
    int numberOfRows() const { return m_rows; }
    // How many cell values the view asked for since the last reset (benchmarks, tests).
    mutable qint64 numberOfValueRequests = 0;
    mutable qint64 highestRequestedRow = -1;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;

private:
    PMAutoCompleteTableView* m_table;
    int m_rows = 0;
};

// Draws and edits every cell of a table through the cell classes.
class PMTableCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit PMTableCellDelegate(PMAutoCompleteTableView* table);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index) override;

private:
    PMAutoCompleteTableView* m_table;
};

class PMAutoCompleteTableView : public QTableView, public platform::Responder {
    Q_OBJECT
public:
    explicit PMAutoCompleteTableView(QWidget* parent = nullptr);
    ~PMAutoCompleteTableView() override;

    PMMainController& controller() const;
    PMTableViewModel* tableModel() const { return m_model; }

    // The columns shown, in order.
    const std::vector<PMTableColumn>& tableColumns() const { return m_columns; }
    void setTableColumns(const std::vector<PMTableColumn>& columns);
    int columnWithIdentifier(const QString& identifier) const;
    QString identifierOfColumn(int column) const;
    PMTableColumn* tableColumn(int column);
    const PMTableColumn* tableColumn(int column) const;
    // Reloads rows and values from the data source.
    virtual void reloadData();
    qsizetype numberOfRows() const { return m_model->numberOfRows(); }
    // The row height of every row (the data source's answer for row 0, else the base's).
    double rowHeight() const;
    void setRowHeight(double height);

    // What the data source decides, asked for one cell.
    platform::Value objectValue(int column, int row) const;
    PMTableCellAppearance willDisplayCell(int column, int row, bool selected) const;
    // The items of a pop-up cell, as the data source just rebuilt them.
    std::vector<PMTableCellMenuItem> popUpItems(int column, int row) const;
    // The menu a click on a pop-up cell opens: its items, completed by the controller
    // where they stand for something; nothing for a cell without items.
    std::unique_ptr<QMenu> popUpMenu(int column, int row);
    // Stores an edited value through the data source. `tracking`: a rating set while the
    // mouse is still down.
    void setObjectValue(const platform::Value& value, int column, int row, bool tracking = false);

    // Editing.
    bool isEditing() const { return state() == EditingState; }
    QLineEdit* fieldEditor() const { return m_fieldEditor; }
    // The edited cell, held for the editor's lifetime.
    QPersistentModelIndex editedIndex() const { return m_editedIndex; }
    // Starts editing the cell, selecting its text; answers whether it began.
    bool editColumn(int column, int row, bool select);
    // Stores the cell being edited and ends the edit (a panel's OK).
    void commitEditing();
    // The key that ended the last edit: Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Return, or 0.
    int editingEndKey() const { return m_editingEndKey; }
    // Whether the edit now being stored ends with Tab (the data source continues there).
    bool currentEventIsTab() const { return m_editingEndKey == Qt::Key_Tab; }
    int clickedRow() const { return m_clickedRow; }
    // While a token cell of pills is edited, its column's identifier; else empty.
    QString tokenEditingColumnIdentifier() const;
    // Inserts the text at the edited cell's selection, as a paste would; NO for an empty
    // text or when no cell is edited.
    bool insertTokenEditingString(const QString& string);
    int clickedColumn() const { return m_clickedColumn; }

    // Completion.
    virtual bool supportsAutoComplete() const { return true; }
    bool hasPendingAutoComplete() const;
    // Opens the completion list for the field editor's partial word (the timer's work).
    void doTimedAutoComplete();
    // The data source's completions for the partial word; an empty list offers nothing.
    virtual QStringList completionsForPartialWord(const QString& partialWord, int* indexOfSelectedItem);
    QListWidget* completionList() const { return m_completionList; }
    bool isShowingCompletions() const;
    // Accepting or dismissing the list: the next text change is the completion's own.
    void textViewFinishedCompletion();
    void textViewCancelledCompletion();
    // How many times the list was opened (tests).
    int numberOfCompletionRequests() const { return m_completionRequests; }

    // The double action: the data source hears of the clicked row.
    void doDoubleClick();
    // When focus went to no view after editing, the table takes it back.
    void makeMeFirstResponderIfNecessary();
    // Which of the library window's views this is for deletions (None: nothing deletes).
    virtual PMMainController::PMLibraryView collectionView() const { return PMMainController::PMLibraryView::None; }
    void doDelete();

    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

    // A cell's frame in viewport coordinates.
    QRectF frameOfCellAtColumn(int column, int row) const;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    // The column set changed (subclasses size their columns again).
    virtual void tableColumnsDidChange() {}

    // The text of the field editor changed by the user.
    void textDidBeginEditing();
    void textDidChange(bool byKeyDown, const QString& keyText, int key, Qt::KeyboardModifiers modifiers);
    void textDidEndEditing();
    // Subclasses add their own behaviour to a press; answer true when it was handled.
    virtual bool handleCellPress(QMouseEvent* event, int column, int row);

    PMTableViewModel* m_model = nullptr;
    std::vector<PMTableColumn> m_columns;

private:
    QList<int> selectedRowNumbers() const;
    void reselectRows(const QList<int>& rows);
    void acceptCompletion();
    void hideCompletions();
    void cancelAutoComplete();
    QPair<int, int> partialWordRange() const;

    PMTableCellDelegate* m_delegate = nullptr;
    QTimer* _autoCompleteTimer = nullptr;
    bool _lastTextChangeWasCompletion = false;
    QPointer<QLineEdit> m_fieldEditor;
    QPersistentModelIndex m_editedIndex;
    QListWidget* m_completionList = nullptr;
    int m_completionRequests = 0;
    int m_editingEndKey = 0;
    // The key press the field editor is handling now (text changes made by it count as
    // typed).
    bool m_inKeyPress = false;
    QString m_keyText;
    int m_key = 0;
    Qt::KeyboardModifiers m_keyModifiers;
    int m_clickedRow = -1;
    int m_clickedColumn = -1;
    // A rating being set with the mouse.
    int m_trackingRatingRow = -1;
    int m_trackingRatingColumn = -1;
    double m_rowHeight = 20;
};
