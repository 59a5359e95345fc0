// The info panel's own keys, offered before the control with the focus sees them: Space
// turns the selected record on for every edited movie, Up and Down in an edited value open
// the row's values, Tab walks the value cells of the tag and property tables, and Return is
// OK whenever no cell or note is being written.
#include "library/model/PMMainController.h"

#include "library/model/PMInfoTagEditor.h"
#include "ui/commands/PMEventGenerator.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMInfoTagEditorView.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMTagEditorTableView.h"

#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QTabBar>

using platform::DictionaryPtr;

namespace {

// Whether the widget with the keys is the table or lies inside it (its field editor).
bool hasKeysIn(const QWidget* table)
{
    const QWidget* focus = QApplication::focusWidget();
    return table && focus && (focus == table || table->isAncestorOf(focus));
}

int selectedRow(const PMTagEditorTableView* table)
{
    const QModelIndexList rows = table->selectionModel() ? table->selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? -1 : rows.first().row();
}

} // namespace

bool PMMainController::handlePopertyEditorKeyDown(QKeyEvent* event, QWidget* window)
{
    if (!event || !_infoPanel || window != _infoPanel.data() || !_infoPanel->isVisible())
        return false;
    PMInfoPanel& panel = *_infoPanel;
    PMTagEditorTableView* tagList = panel.infoTagEditor->tagList();
    PMTagEditorTableView* propertyList = panel.infoTagEditor->propertyList();
    const qsizetype movies = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int key = event->key();

    // The table whose cell is being edited, if any.
    PMTagEditorTableView* editing = tagList->isEditing() ? tagList : (propertyList->isEditing() ? propertyList : nullptr);

    if (key == Qt::Key_Space && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        if (movies < 2 || editing)
            return false;
        PMTagEditorTableView* table = hasKeysIn(tagList) ? tagList : (hasKeysIn(propertyList) ? propertyList : nullptr);
        const int row = table ? selectedRow(table) : -1;
        if (row < 0 || !_filteredInfoTags)
            return false;
        const DictionaryPtr record = _filteredInfoTags->value(table == tagList ? 0 : row + 1).dictionary();
        if (!record || ::PMInfoTagRecord::isImmutable(record))
            return false;
        setState(1, record);
        table->viewport()->update();
        return true;
    }

    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        // The list of completions takes its own arrows. (A key the input method is composing
        // with never reaches here.)
        if (!editing || editing->isShowingCompletions())
            return false;
        const int valueColumn = editing->columnWithIdentifier(QStringLiteral("Value"));
        const QModelIndex edited = editing->editedIndex();
        if (valueColumn >= 0 && edited.isValid() && edited.column() == valueColumn && valueColumn + 1 < editing->tableModel()->columnCount()) {
            // As a click on the values button beside the cell: the edit is kept and the
            // row's values are offered.
            const QRectF neighbour = editing->frameOfCellAtColumn(valueColumn + 1, edited.row());
            editing->commitEditing();
            PMEventGenerator::generateLeftMouseClickAtLocationInView(neighbour.topLeft() + QPointF(1, 1), editing->viewport());
        }
        return true;
    }

    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (editing || hasKeysIn(panel.infoTagEditor->notesField()))
            return false;
        infoOK(panel.okButton);
        return true;
    }

    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        if (panel.infoChapterSelector->currentIndex() != 0)
            return false;
        const bool backwards = key == Qt::Key_Backtab || (modifiers & Qt::ShiftModifier);
        const int rows = int(propertyList->numberOfRows());
        int target = -1; // a row of the property list; -1: the tag list's row
        if (hasKeysIn(tagList)) {
            target = backwards ? rows - 1 : 0;
            if (target < 0 || target >= rows)
                return false;
        } else if (hasKeysIn(propertyList)) {
            const QModelIndex edited = propertyList->editedIndex();
            const bool inEdit = propertyList->isEditing() && edited.isValid();
            const int from = inEdit ? edited.row() : selectedRow(propertyList);
            // From a property's name its own value comes next.
            const bool fromName = inEdit && edited.column() != propertyList->columnWithIdentifier(QStringLiteral("Value"))
                                  && propertyList->identifierOfColumn(edited.column()) == QLatin1String("Tag");
            target = from < 0 ? (backwards ? rows - 1 : 0) : (fromName && !backwards ? from : from + (backwards ? -1 : 1));
            // Past either end: back to the tag list.
            if (target < 0 || target >= rows)
                target = -1;
        } else {
            return false;
        }
        // The record, not the row: a renamed property may move when its edit ends.
        const DictionaryPtr record = target >= 0 && _filteredInfoTags ? _filteredInfoTags->value(target + 1).dictionary() : nullptr;
        if (editing)
            editing->commitEditing();
        if (record && _filteredInfoTags)
            target = int(_filteredInfoTags->indexOfIdentical(record.get())) - 1;
        PMTagEditorTableView* table = target < 0 ? tagList : propertyList;
        const int row = target < 0 ? 0 : target;
        if (row >= table->numberOfRows())
            return false;
        const int valueColumn = table->columnWithIdentifier(QStringLiteral("Value"));
        if (valueColumn < 0)
            return false;
        table->setFocus(Qt::TabFocusReason);
        table->selectRow(row);
        table->scrollTo(table->tableModel()->index(row, valueColumn));
        table->editColumn(valueColumn, row, true);
        return true;
    }
    return false;
}
