#include "ui/library_window/PMAutoCompleteTableView.h"

#include "foundation/PMCSVParser.h"
#include "library/model/PMPasteboard.h"
#include "platform/Alert.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMMovieCell.h"

#include <QtCore/QMimeData>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QHelpEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMenu>
#include <QtWidgets/QToolTip>

#include <cmath>

using platform::Value;

namespace {

QStringList stringsOfValue(const Value& value)
{
    if (value.isArray()) {
        QStringList strings;
        for (const Value& v : *value.array())
            strings << (v.isString() ? v.string() : v.description());
        return strings;
    }
    if (value.isString())
        return value.string().isEmpty() ? QStringList() : cachedCSVFields(value.string());
    return {};
}

QString textOfValue(const Value& value)
{
    if (value.isNull())
        return {};
    if (value.isString())
        return value.string();
    if (value.isArray())
        return stringsOfValue(value).join(QStringLiteral(", "));
    if (value.isDate())
        return value.description();
    return value.description();
}

bool isTextCell(PMTableColumn::Cell cell)
{
    return cell == PMTableColumn::Cell::Text || cell == PMTableColumn::Cell::Movie || cell == PMTableColumn::Cell::Token
        || cell == PMTableColumn::Cell::GroupToken;
}

bool isTokenCell(PMTableColumn::Cell cell)
{
    return cell == PMTableColumn::Cell::Token || cell == PMTableColumn::Cell::GroupToken;
}

} // namespace

// ---- Model ------------------------------------------------------------------------------

PMTableViewModel::PMTableViewModel(PMAutoCompleteTableView* table) : QAbstractTableModel(table), m_table(table) {}

void PMTableViewModel::reload()
{
    beginResetModel();
    m_rows = int(std::max<qsizetype>(0, m_table->controller().numberOfRowsInTableView(m_table)));
    numberOfValueRequests = 0;
    highestRequestedRow = -1;
    endResetModel();
}

void PMTableViewModel::reloadColumns()
{
    beginResetModel();
    m_rows = int(std::max<qsizetype>(0, m_table->controller().numberOfRowsInTableView(m_table)));
    endResetModel();
}

int PMTableViewModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int PMTableViewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_table->tableColumns().size());
}

QVariant PMTableViewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::AccessibleTextRole) {
        return textOfValue(m_table->objectValue(index.column(), index.row()));
    }
    return {};
}

QVariant PMTableViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    const PMTableColumn* column = m_table->tableColumn(section);
    return column ? column->header : QString();
}

Qt::ItemFlags PMTableViewModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    const PMTableColumn* column = m_table->tableColumn(index.column());
    if (column && column->editable && isTextCell(column->cell))
        flags |= Qt::ItemIsEditable;
    return flags;
}

QStringList PMTableViewModel::mimeTypes() const
{
    return {internalLibraryIndexPasteboardType(), QStringLiteral("text/uri-list")};
}

QMimeData* PMTableViewModel::mimeData(const QModelIndexList& indexes) const
{
    if (m_table->collectionView() == PMMainController::PMLibraryView::None)
        return nullptr;
    QList<qsizetype> rows;
    for (const QModelIndex& index : indexes)
        if (!rows.contains(index.row()))
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    auto* data = new QMimeData;
    if (!m_table->controller().tableView(m_table->collectionView(), rows, *data)) {
        delete data;
        return nullptr;
    }
    return data;
}

Qt::DropActions PMTableViewModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

Qt::DropActions PMTableViewModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

// ---- Cells ---------------------------------------------------------------------------------

PMTableCellDelegate::PMTableCellDelegate(PMAutoCompleteTableView* table) : QStyledItemDelegate(table), m_table(table) {}

void PMTableCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const PMTableColumn* column = m_table->tableColumn(index.column());
    if (!column)
        return;
    const bool selected = option.state & QStyle::State_Selected;
    PMTableCellAppearance a = m_table->willDisplayCell(index.column(), index.row(), selected);
    const QRectF frame = option.rect;
    const Value value = m_table->objectValue(index.column(), index.row());
    switch (column->cell) {
    case PMTableColumn::Cell::Rating: {
        PMRatingCell cell;
        cell.setTint(a.tint);
        cell.setHighlighted(a.ratingHighlighted);
        cell.setDoubleValue(value.isNumber() ? value.toDouble() : 0.0);
        // One point lower and one shorter than the row.
        const QSizeF size = PMRatingCell::cellSize();
        const QRectF cellFrame = frame.adjusted(2, 1, 0, 0);
        const QRectF stars(cellFrame.x(), cellFrame.y() + std::floor((cellFrame.height() - size.height()) / 2.0), size.width(), size.height());
        cell.drawWithFrame(*painter, stars);
        return;
    }
    case PMTableColumn::Cell::Check: {
        // A disabled check box is not drawn at all.
        if (!a.enabled)
            return;
        QStyleOptionButton box;
        box.rect = QRect(int(frame.x() + (frame.width() - 16) / 2), int(frame.y() + (frame.height() - 16) / 2), 16, 16);
        box.state = (a.enabled ? QStyle::State_Enabled : QStyle::State_None);
        const long long state = value.isNumber() || value.isBool() ? value.toLongLong() : 0;
        box.state |= state > 0 ? QStyle::State_On : state < 0 ? QStyle::State_NoChange : QStyle::State_Off;
        m_table->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, m_table);
        return;
    }
    case PMTableColumn::Cell::Choice: {
        const std::vector<PMTableCellMenuItem> items = m_table->popUpItems(index.column(), index.row());
        const long long chosen = value.toLongLong();
        const QString title = chosen >= 0 && chosen < qsizetype(items.size()) ? items[size_t(chosen)].title : QString();
        painter->save();
        painter->setPen(a.highlighted && a.focused ? QColor(Qt::white) : option.palette.color(QPalette::Text));
        painter->drawText(frame.adjusted(4, 0, -14, 0), Qt::AlignVCenter | Qt::AlignLeft, painter->fontMetrics().elidedText(title, Qt::ElideRight, int(frame.width()) - 18));
        painter->restore();
        [[fallthrough]];
    }
    case PMTableColumn::Cell::PopUp: {
        // A small pull-down arrow; the menu opens on a click.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        const QPointF c = column->cell == PMTableColumn::Cell::Choice ? QPointF(frame.right() - 8, frame.center().y()) : frame.center();
        QPolygonF arrow;
        arrow << QPointF(c.x() - 4, c.y() - 2) << QPointF(c.x() + 4, c.y() - 2) << QPointF(c.x(), c.y() + 3);
        painter->setPen(Qt::NoPen);
        painter->setBrush(a.highlighted && a.focused ? QColor(Qt::white) : QColor::fromRgbF(0, 0, 0, a.enabled ? 0.6f : 0.25f));
        if (isInFullyInvertedDarkMode(m_table) && !(a.highlighted && a.focused))
            painter->setBrush(QColor::fromRgbF(1, 1, 1, a.enabled ? 0.7f : 0.3f));
        painter->drawPolygon(arrow);
        painter->restore();
        return;
    }
    case PMTableColumn::Cell::Movie: {
        PMMovieCell cell;
        cell.setStringValue(textOfValue(value));
        if (a.textColor)
            cell.setTextColor(*a.textColor);
        else if (a.highlighted && a.focused)
            cell.setTextColor(Qt::white);
        cell.setPlaying(a.playing);
        cell.setIcon(index.data(Qt::DecorationRole).value<QIcon>());
        if (const PMMainController::PMLibraryView view = m_table->collectionView(); view != PMMainController::PMLibraryView::None) {
            const platform::ArrayPtr& items = m_table->controller()._groupMovieItems;
            if (items && index.row() < items->count())
                if (PMLibraryItem* item = PMItem(items->at(index.row())))
                    cell.setIcon(item->icon());
        }
        PMMovieCell::DrawingStates states;
        states.highlighted = a.highlighted;
        states.active = a.focused;
        states.inverted = isInFullyInvertedDarkMode(m_table);
        states.inOutlineView = false;
        cell.drawWithFrame(*painter, frame, states);
        return;
    }
    case PMTableColumn::Cell::Token:
    case PMTableColumn::Cell::GroupToken: {
        PMGroupTableViewTokenFieldCell groupCell;
        PMTableViewTokenFieldCell plainCell;
        PMTableViewTokenFieldCell& cell = column->cell == PMTableColumn::Cell::GroupToken ? groupCell : plainCell;
        cell.setAppearance(a);
        cell.setClipsLines(column->clips);
        cell.setObjectValue(stringsOfValue(value));
        cell.drawInteriorWithFrame(*painter, frame, m_table);
        return;
    }
    case PMTableColumn::Cell::Text: {
        PMTableViewTextFieldCell cell;
        cell.setAppearance(a);
        cell.setStringValue(textOfValue(value));
        cell.drawInteriorWithFrame(*painter, frame, m_table);
        return;
    }
    }
}

QSize PMTableCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(index);
    // Uniform rows: no row is measured.
    return QSize(option.rect.width(), int(m_table->rowHeight()));
}

QWidget* PMTableCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(option);
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    const PMTableCellAppearance a = m_table->willDisplayCell(index.column(), index.row(), true);
    editor->setFont(a.font);
    editor->setAlignment((a.alignment & Qt::AlignRight) ? Qt::AlignRight : Qt::AlignLeft);
    return editor;
}

void PMTableCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line)
        return;
    const PMTableColumn* column = m_table->tableColumn(index.column());
    const Value value = m_table->objectValue(index.column(), index.row());
    if (column && isTokenCell(column->cell)) {
        // Tokens are edited as the CSV text they are stored as.
        QStringList quoted;
        for (const QString& token : stringsOfValue(value))
            quoted << PMCSVQuotedField(token, QStringLiteral(","));
        line->setText(quoted.join(QStringLiteral(", ")));
    } else {
        line->setText(textOfValue(value));
    }
}

void PMTableCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    Q_UNUSED(model);
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line)
        return;
    const PMTableColumn* column = m_table->tableColumn(index.column());
    if (column && isTokenCell(column->cell)) {
        QStringList tokens;
        for (const QString& field : PMCSVFieldsFromString(line->text(), QStringLiteral(",")))
            if (!field.trimmed().isEmpty())
                tokens << field.trimmed();
        auto array = platform::Array::make();
        for (const QString& token : tokens)
            array->append(Value(token));
        m_table->setObjectValue(Value(array), index.column(), index.row());
    } else {
        m_table->setObjectValue(Value(line->text()), index.column(), index.row());
    }
}

void PMTableCellDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(index);
    QRectF frame = option.rect;
    const PMTableColumn* column = m_table->tableColumn(index.column());
    if (column && column->cell == PMTableColumn::Cell::Movie) {
        // Over the name only, where the cell draws it (after the icon when there is one).
        PMMovieCell cell;
        cell.setStringValue(textOfValue(m_table->objectValue(index.column(), index.row())));
        const platform::ArrayPtr& items = m_table->controller()._groupMovieItems;
        if (m_table->collectionView() != PMMainController::PMLibraryView::None && items && index.row() < items->count())
            if (PMLibraryItem* item = PMItem(items->at(index.row())))
                cell.setIcon(item->icon());
        const QRectF text = cell.textFrameForCellFrame(frame);
        frame.setLeft(text.left());
        frame.setRight(text.right());
    }
    // The editor is as tall as its text needs, centred on the row.
    const double height = std::min(frame.height(), double(editor->sizeHint().height()));
    editor->setGeometry(QRectF(frame.x(), frame.y() + (frame.height() - height) / 2.0, frame.width(), height).toAlignedRect());
}

bool PMTableCellDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (!event || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString tip = m_table->controller().tableViewToolTip(m_table, m_table->identifierOfColumn(index.column()), index.row());
    if (!tip.isEmpty()) {
        QToolTip::showText(event->globalPos(), tip, view);
        return true;
    }
    // A clipped token or text cell shows its whole value.
    const PMTableColumn* column = m_table->tableColumn(index.column());
    if (column && isTextCell(column->cell) && column->cell != PMTableColumn::Cell::Movie) {
        const PMTableCellAppearance a = m_table->willDisplayCell(index.column(), index.row(), false);
        const Value value = m_table->objectValue(index.column(), index.row());
        PMTableViewTokenFieldCell cell;
        cell.setAppearance(a);
        cell.setObjectValue(stringsOfValue(value));
        if (cell.naturalWidth() > option.rect.width()) {
            QToolTip::showText(event->globalPos(), stringsOfValue(value).join(QStringLiteral(", ")), view);
            return true;
        }
    }
    QToolTip::hideText();
    return true;
}

// ---- Table ---------------------------------------------------------------------------------

PMAutoCompleteTableView::PMAutoCompleteTableView(QWidget* parent) : QTableView(parent)
{
    m_model = new PMTableViewModel(this);
    m_delegate = new PMTableCellDelegate(this);
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(false);
    setWordWrap(false);
    setAlternatingRowColors(true);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFocusPolicy(Qt::StrongFocus);
    verticalHeader()->hide();
    // Every row has the same height: nothing is measured, whatever the number of rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(int(m_rowHeight));
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    _autoCompleteTimer = new QTimer(this);
    _autoCompleteTimer->setSingleShot(true);
    _autoCompleteTimer->setInterval(0);
    connect(_autoCompleteTimer, &QTimer::timeout, this, &PMAutoCompleteTableView::doTimedAutoComplete);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { controller().tableViewSelectionDidChange(this); });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (PMTableColumn* column = tableColumn(logical))
            column->width = size;
    });
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int logical) {
        controller().tableViewDidClickTableColumn(this, identifierOfColumn(logical));
    });
}

PMAutoCompleteTableView::~PMAutoCompleteTableView()
{
    cancelAutoComplete();
    delete m_completionList;
}

PMMainController& PMAutoCompleteTableView::controller() const
{
    return PMMainController::mainController();
}

void PMAutoCompleteTableView::setTableColumns(const std::vector<PMTableColumn>& columns)
{
    if (isEditing() && m_fieldEditor)
        closeEditor(m_fieldEditor, QAbstractItemDelegate::RevertModelCache);
    const QList<int> selected = selectedRowNumbers();
    m_columns = columns;
    m_model->reloadColumns();
    reselectRows(selected);
    QHeaderView* header = horizontalHeader();
    for (int i = 0; i < int(m_columns.size()); ++i) {
        header->resizeSection(i, int(std::lround(std::clamp(m_columns[size_t(i)].width, m_columns[size_t(i)].minWidth, m_columns[size_t(i)].maxWidth))));
        // The visual order is the columns' order.
        const int visual = header->visualIndex(i);
        if (visual != i)
            header->moveSection(visual, i);
    }
    tableColumnsDidChange();
}

int PMAutoCompleteTableView::columnWithIdentifier(const QString& identifier) const
{
    for (int i = 0; i < int(m_columns.size()); ++i)
        if (m_columns[size_t(i)].identifier == identifier)
            return i;
    return -1;
}

QString PMAutoCompleteTableView::identifierOfColumn(int column) const
{
    const PMTableColumn* c = tableColumn(column);
    return c ? c->identifier : QString();
}

PMTableColumn* PMAutoCompleteTableView::tableColumn(int column)
{
    return column >= 0 && column < int(m_columns.size()) ? &m_columns[size_t(column)] : nullptr;
}

const PMTableColumn* PMAutoCompleteTableView::tableColumn(int column) const
{
    return column >= 0 && column < int(m_columns.size()) ? &m_columns[size_t(column)] : nullptr;
}

QList<int> PMAutoCompleteTableView::selectedRowNumbers() const
{
    QList<int> rows;
    if (selectionModel())
        for (const QModelIndex& index : selectionModel()->selectedRows())
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void PMAutoCompleteTableView::reselectRows(const QList<int>& rows)
{
    // A reload keeps the selected row numbers that still exist, as the rows are numbers.
    const int columns = m_model->columnCount();
    if (!selectionModel() || columns == 0)
        return;
    QItemSelection selection;
    for (int row : rows)
        if (row >= 0 && row < m_model->numberOfRows())
            selection.select(m_model->index(row, 0), m_model->index(row, columns - 1));
    if (!selection.isEmpty())
        selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void PMAutoCompleteTableView::reloadData()
{
    if (isEditing() && m_fieldEditor)
        closeEditor(m_fieldEditor, QAbstractItemDelegate::RevertModelCache);
    const QList<int> selected = selectedRowNumbers();
    const double height = controller().tableViewHeightOfRow(this, 0);
    if (height > 0)
        setRowHeight(height);
    m_model->reload();
    reselectRows(selected);
}

double PMAutoCompleteTableView::rowHeight() const
{
    return m_rowHeight;
}

void PMAutoCompleteTableView::setRowHeight(double height)
{
    if (std::abs(height - m_rowHeight) < 0.01)
        return;
    m_rowHeight = height;
    verticalHeader()->setDefaultSectionSize(int(std::lround(height)));
}

Value PMAutoCompleteTableView::objectValue(int column, int row) const
{
    const PMTableColumn* c = tableColumn(column);
    if (!c)
        return {};
    ++m_model->numberOfValueRequests;
    m_model->highestRequestedRow = std::max<qint64>(m_model->highestRequestedRow, row);
    return controller().tableViewObjectValue(const_cast<PMAutoCompleteTableView*>(this), c->identifier, row);
}

PMTableCellAppearance PMAutoCompleteTableView::willDisplayCell(int column, int row, bool selected) const
{
    PMTableCellAppearance a;
    a.font = font();
    a.highlighted = selected;
    a.focused = hasFocus() || (m_fieldEditor && m_fieldEditor->hasFocus());
    if (const PMTableColumn* c = tableColumn(column)) {
        if (c->rightAligned)
            a.alignment = Qt::AlignRight;
        a.tokenStyle = c->tokenStyle;
        controller().tableViewWillDisplayCell(const_cast<PMAutoCompleteTableView*>(this), a, c->identifier, row);
    }
    return a;
}

std::vector<PMTableCellMenuItem> PMAutoCompleteTableView::popUpItems(int column, int row) const
{
    std::vector<PMTableCellMenuItem> items;
    if (const PMTableColumn* c = tableColumn(column))
        controller().tableViewPopUpItems(const_cast<PMAutoCompleteTableView*>(this), c->identifier, row, &items);
    return items;
}

std::unique_ptr<QMenu> PMAutoCompleteTableView::popUpMenu(int column, int row)
{
    const PMTableColumn* c = tableColumn(column);
    if (!c)
        return nullptr;
    const std::vector<PMTableCellMenuItem> items = popUpItems(column, row);
    if (items.empty())
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    bool represents = false;
    const bool choice = c->cell == PMTableColumn::Cell::Choice;
    for (size_t i = 0; i < items.size(); ++i) {
        const PMTableCellMenuItem& item = items[i];
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.title);
        action->setCheckable(item.checked);
        action->setChecked(item.checked);
        platform::setMenuItemTag(action, qint64(i));
        // Chosen, the item runs its own action, or else stores its index as the cell's value.
        platform::setMenuItemHandler(action, [this, column, row, index = qint64(i), run = item.action](QAction*) {
            if (run)
                run();
            else
                setObjectValue(Value(index), column, row);
        });
        // The first item of a pop-up is its title.
        action->setEnabled(item.enabled && (i > 0 || choice));
        if (!item.representedObject.isNull()) {
            platform::setMenuItemRepresentedObject(action, item.representedObject);
            represents = true;
        }
    }
    // A menu that stands for something is the controller's to complete (the tag values of
    // an info row); the items it adds act on their own.
    if (represents)
        controller().menuNeedsUpdate(menu.get());
    return menu;
}

void PMAutoCompleteTableView::setObjectValue(const Value& value, int column, int row, bool tracking)
{
    const PMTableColumn* c = tableColumn(column);
    if (!c)
        return;
    controller().tableViewSetObjectValue(this, value, c->identifier, row, tracking);
    viewport()->update();
}

QRectF PMAutoCompleteTableView::frameOfCellAtColumn(int column, int row) const
{
    return visualRect(m_model->index(row, column));
}

// ---- Editing ---------------------------------------------------------------------------------

bool PMAutoCompleteTableView::editColumn(int column, int row, bool select)
{
    const QModelIndex index = m_model->index(row, column);
    if (!index.isValid())
        return false;
    if (!controller().tableViewShouldEditTableColumn(this, identifierOfColumn(column), row, false))
        return false;
    setCurrentIndex(index);
    if (!edit(index, QAbstractItemView::AllEditTriggers, nullptr))
        return false;
    if (select && m_fieldEditor)
        m_fieldEditor->selectAll();
    return true;
}

QString PMAutoCompleteTableView::tokenEditingColumnIdentifier() const
{
    if (!isEditing() || !m_editedIndex.isValid())
        return {};
    const PMTableColumn* column = tableColumn(m_editedIndex.column());
    if (!column || !isTokenCell(column->cell) || column->tokenStyle != 0)
        return {};
    return column->identifier;
}

bool PMAutoCompleteTableView::insertTokenEditingString(const QString& string)
{
    if (string.isEmpty() || !m_fieldEditor || !isEditing())
        return false;
    m_fieldEditor->insert(string);
    // The inserted text is no typed word: no completion list for it.
    _lastTextChangeWasCompletion = false;
    cancelAutoComplete();
    return true;
}

bool PMAutoCompleteTableView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    if (!index.isValid())
        return QTableView::edit(index, trigger, event);
    if (state() != EditingState && trigger != QAbstractItemView::NoEditTriggers && trigger != QAbstractItemView::CurrentChanged) {
        const PMTableColumn* column = tableColumn(index.column());
        if (!column || !column->editable || !isTextCell(column->cell))
            return false;
        if (trigger != QAbstractItemView::AllEditTriggers
            && !controller().tableViewShouldEditTableColumn(this, column->identifier, index.row(), trigger == QAbstractItemView::DoubleClicked))
            return false;
    }
    const bool began = QTableView::edit(index, trigger, event);
    if (began && state() == EditingState) {
        // The editor just opened: the one not yet watched (closed ones are on their way out).
        for (QLineEdit* line : viewport()->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
            if (!line->property("PMAutoCompleteWatched").toBool())
                m_fieldEditor = line;
        if (m_fieldEditor && !m_fieldEditor->property("PMAutoCompleteWatched").toBool()) {
            m_fieldEditor->setProperty("PMAutoCompleteWatched", true);
            m_fieldEditor->installEventFilter(this);
            connect(m_fieldEditor, &QLineEdit::textEdited, this, [this] { textDidChange(m_inKeyPress, m_keyText, m_key, m_keyModifiers); });
        }
        m_editedIndex = index;
        m_editingEndKey = 0;
        textDidBeginEditing();
    }
    return began;
}

void PMAutoCompleteTableView::textDidBeginEditing()
{
    _lastTextChangeWasCompletion = false;
}

void PMAutoCompleteTableView::textDidChange(bool byKeyDown, const QString& keyText, int key, Qt::KeyboardModifiers modifiers)
{
    cancelAutoComplete();
    if (_lastTextChangeWasCompletion) {
        _lastTextChangeWasCompletion = false;
        return;
    }
    // Only typing asks for completions: not a paste, and never deleting or Escape. A list
    // still open from the last request no longer fits the text.
    const bool typed = byKeyDown && key != Qt::Key_Escape && key != Qt::Key_Backspace && key != Qt::Key_Delete && !keyText.isEmpty()
        && keyText.at(0) != QChar(27) && keyText.at(0) != QChar(127) && keyText.at(0) != QChar(8)
        && !(modifiers & (Qt::ControlModifier | Qt::MetaModifier));
    if (!typed || !supportsAutoComplete()) {
        hideCompletions();
        return;
    }
    // The list opens on the next pass of the event loop; a faster keystroke replaces
    // the request (the timer also runs while a modal panel's loop runs).
    _autoCompleteTimer->start();
}

bool PMAutoCompleteTableView::hasPendingAutoComplete() const
{
    return _autoCompleteTimer->isActive();
}

void PMAutoCompleteTableView::cancelAutoComplete()
{
    if (_autoCompleteTimer)
        _autoCompleteTimer->stop();
}

QPair<int, int> PMAutoCompleteTableView::partialWordRange() const
{
    if (!m_fieldEditor)
        return {0, 0};
    const QString text = m_fieldEditor->text();
    const int cursor = m_fieldEditor->cursorPosition();
    int start = cursor;
    // A word of a CSV list begins after the last comma before the cursor and its blanks.
    while (start > 0 && text.at(start - 1) != QLatin1Char(','))
        --start;
    while (start < cursor && text.at(start).isSpace())
        ++start;
    return {start, cursor - start};
}

QStringList PMAutoCompleteTableView::completionsForPartialWord(const QString& partialWord, int* indexOfSelectedItem)
{
    Q_UNUSED(partialWord);
    if (!m_fieldEditor)
        return {};
    const QPair<int, int> range = partialWordRange();
    return controller().controlTextViewCompletions(this, m_fieldEditor->text(), range.first, range.second, indexOfSelectedItem);
}

void PMAutoCompleteTableView::doTimedAutoComplete()
{
    if (!m_fieldEditor || !isEditing())
        return;
    const QPair<int, int> range = partialWordRange();
    const QString partial = m_fieldEditor->text().mid(range.first, range.second);
    int selected = -1;
    const QStringList completions = completionsForPartialWord(partial, &selected);
    ++m_completionRequests;
    if (completions.isEmpty()) {
        hideCompletions();
        return;
    }
    if (!m_completionList) {
        m_completionList = new QListWidget;
        m_completionList->setObjectName(QStringLiteral("completionList"));
        m_completionList->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
        m_completionList->setAttribute(Qt::WA_ShowWithoutActivating);
        m_completionList->setFocusPolicy(Qt::NoFocus);
        m_completionList->setUniformItemSizes(true);
        connect(m_completionList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
            m_completionList->setCurrentItem(item);
            acceptCompletion();
        });
    }
    m_completionList->clear();
    m_completionList->addItems(completions);
    m_completionList->setCurrentRow(selected >= 0 && selected < completions.size() ? selected : -1);
    const int rows = std::min<int>(int(completions.size()), 10);
    const int rowHeight = std::max(16, m_completionList->sizeHintForRow(0));
    const int width = std::max(m_fieldEditor->width(), std::min(400, m_completionList->sizeHintForColumn(0) + 24));
    m_completionList->resize(width, rows * rowHeight + 4);
    m_completionList->move(m_fieldEditor->mapToGlobal(QPoint(0, m_fieldEditor->height())));
    m_completionList->show();
}

bool PMAutoCompleteTableView::isShowingCompletions() const
{
    return m_completionList && m_completionList->isVisible();
}

void PMAutoCompleteTableView::hideCompletions()
{
    if (m_completionList)
        m_completionList->hide();
}

void PMAutoCompleteTableView::acceptCompletion()
{
    if (!m_completionList || !m_fieldEditor)
        return;
    QListWidgetItem* item = m_completionList->currentItem();
    if (!item) {
        textViewCancelledCompletion();
        return;
    }
    const QPair<int, int> range = partialWordRange();
    QString text = m_fieldEditor->text();
    text.replace(range.first, range.second, item->text());
    m_fieldEditor->setText(text);
    m_fieldEditor->setCursorPosition(range.first + int(item->text().size()));
    textViewFinishedCompletion();
}

void PMAutoCompleteTableView::textViewFinishedCompletion()
{
    hideCompletions();
    cancelAutoComplete();
    _lastTextChangeWasCompletion = true;
}

void PMAutoCompleteTableView::textViewCancelledCompletion()
{
    hideCompletions();
    cancelAutoComplete();
    _lastTextChangeWasCompletion = true;
}

bool PMAutoCompleteTableView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_fieldEditor && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (isShowingCompletions()) {
            switch (key->key()) {
            case Qt::Key_Down:
            case Qt::Key_Up: {
                const int count = m_completionList->count();
                int row = m_completionList->currentRow();
                row = key->key() == Qt::Key_Down ? std::min(count - 1, row + 1) : std::max(0, row - 1);
                m_completionList->setCurrentRow(row);
                return true;
            }
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Tab:
                if (m_completionList->currentItem()) {
                    acceptCompletion();
                    return true;
                }
                hideCompletions();
                break;
            case Qt::Key_Escape:
                textViewCancelledCompletion();
                return true;
            default: break;
            }
        }
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            m_editingEndKey = key->key() == Qt::Key_Enter ? int(Qt::Key_Return) : key->key();
        // The text change this key causes counts as typed; it happens while the editor
        // handles the key, right after this filter.
        m_inKeyPress = true;
        m_keyText = key->text();
        m_key = key->key();
        m_keyModifiers = key->modifiers();
        QTimer::singleShot(0, this, [this] { m_inKeyPress = false; });
        return false;
    }
    if (watched == m_fieldEditor && event->type() == QEvent::KeyRelease)
        m_inKeyPress = false;
    if (watched == m_fieldEditor && (event->type() == QEvent::InputMethod || event->type() == QEvent::MouseButtonPress))
        m_inKeyPress = false;
    return QTableView::eventFilter(watched, event);
}

void PMAutoCompleteTableView::commitEditing()
{
    if (!isEditing() || !m_fieldEditor)
        return;
    QWidget* editor = m_fieldEditor;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void PMAutoCompleteTableView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    cancelAutoComplete();
    hideCompletions();
    // Storing the value may already have reloaded the table and closed the editor.
    if (state() != EditingState)
        return;
    // Return and Tab end editing here; the table never moves on to the next cell by
    // itself (the data source continues editing where it wants to).
    if (hint == QAbstractItemDelegate::EditNextItem || hint == QAbstractItemDelegate::EditPreviousItem)
        hint = QAbstractItemDelegate::NoHint;
    if (editor == m_fieldEditor)
        m_fieldEditor = nullptr;
    m_editedIndex = QPersistentModelIndex();
    m_inKeyPress = false;
    QTableView::closeEditor(editor, hint);
    textDidEndEditing();
}

void PMAutoCompleteTableView::textDidEndEditing()
{
    QTimer::singleShot(0, this, [this] { makeMeFirstResponderIfNecessary(); });
}

void PMAutoCompleteTableView::makeMeFirstResponderIfNecessary()
{
    QWidget* top = window();
    QWidget* focus = top ? top->focusWidget() : nullptr;
    if (!focus || focus == top || (!focus->isVisible() && focus != this))
        setFocus(Qt::OtherFocusReason);
}

void PMAutoCompleteTableView::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

// ---- Keys and mouse ------------------------------------------------------------------------

void PMAutoCompleteTableView::keyPressEvent(QKeyEvent* event)
{
    m_editingEndKey = 0;
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        doDelete();
        return;
    }
    // A rating is set from the keyboard with 0 to 5 while the current cell is a rating.
    const QModelIndex current = currentIndex();
    const PMTableColumn* column = tableColumn(current.column());
    if (current.isValid() && column && column->cell == PMTableColumn::Cell::Rating && !(event->modifiers() & ~Qt::KeypadModifier)
        && event->key() >= Qt::Key_0 && event->key() <= Qt::Key_5
        && controller().tableViewShouldEditTableColumn(this, column->identifier, current.row(), false)) {
        setObjectValue(Value(double(event->key() - Qt::Key_0)), current.column(), current.row(), false);
        return;
    }
    QTableView::keyPressEvent(event);
}

void PMAutoCompleteTableView::doDelete()
{
    PMMainController& c = controller();
    if (c.canDeleteSelectedItemsFromCollectionView(collectionView()))
        c.deleteSelectedItemsFromCollectionView(collectionView());
    else
        platform::beep();
}

bool PMAutoCompleteTableView::respondsToAction(const QString& action) const
{
    if (action == QLatin1String("delete"))
        return controller().canDeleteSelectedItemsFromCollectionView(collectionView());
    if (action == QLatin1String("selectAll"))
        return true;
    return false;
}

void PMAutoCompleteTableView::performAction(const QString& action, QObject* sender)
{
    Q_UNUSED(sender);
    if (action == QLatin1String("delete"))
        controller().deleteSelectedItemsFromCollectionView(collectionView());
    else if (action == QLatin1String("selectAll"))
        selectAll();
}

bool PMAutoCompleteTableView::handleCellPress(QMouseEvent* event, int column, int row)
{
    const PMTableColumn* c = tableColumn(column);
    if (!c || event->button() != Qt::LeftButton)
        return false;
    if (c->cell == PMTableColumn::Cell::Rating) {
        if (!controller().tableViewShouldEditTableColumn(this, c->identifier, row, false))
            return false;
        selectRow(row);
        const QRectF frame = frameOfCellAtColumn(column, row).adjusted(2, 1, 0, 0);
        PMRatingCell cell;
        const QRectF stars(frame.x(), frame.y() + std::floor((frame.height() - PMRatingCell::cellSize().height()) / 2.0),
                           PMRatingCell::cellSize().width(), PMRatingCell::cellSize().height());
        m_trackingRatingRow = row;
        m_trackingRatingColumn = column;
        setObjectValue(Value(cell.valueAtPoint(event->position(), stars)), column, row, true);
        return true;
    }
    if (c->cell == PMTableColumn::Cell::Check) {
        const PMTableCellAppearance a = willDisplayCell(column, row, false);
        if (!a.enabled || !controller().tableViewShouldEditTableColumn(this, c->identifier, row, false))
            return false;
        const Value value = objectValue(column, row);
        setObjectValue(Value(value.toLongLong() > 0 ? 0LL : 1LL), column, row);
        return true;
    }
    if (c->cell == PMTableColumn::Cell::PopUp || c->cell == PMTableColumn::Cell::Choice) {
        if (!controller().tableViewShouldEditTableColumn(this, c->identifier, row, false))
            return false;
        selectRow(row);
        std::unique_ptr<QMenu> menu = popUpMenu(column, row);
        if (!menu)
            return true;
        // Every item acts by itself when chosen: the cell's own through their handlers, the
        // controller's (submenus, switches) through their actions.
        const QRect cell = visualRect(m_model->index(row, column));
        menu->exec(viewport()->mapToGlobal(cell.bottomLeft()));
        return true;
    }
    return false;
}

void PMAutoCompleteTableView::mousePressEvent(QMouseEvent* event)
{
    m_editingEndKey = 0;
    const QModelIndex index = indexAt(event->position().toPoint());
    m_clickedRow = index.isValid() ? index.row() : -1;
    m_clickedColumn = index.isValid() ? index.column() : -1;
    if (index.isValid() && handleCellPress(event, index.column(), index.row()))
        return;
    // The data source may keep a row from being selected (it may scroll instead).
    if (index.isValid() && event->button() == Qt::LeftButton && !controller().tableViewShouldSelectRow(this, index.row()))
        return;
    QTableView::mousePressEvent(event);
}

void PMAutoCompleteTableView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_trackingRatingRow >= 0) {
        const QRectF frame = frameOfCellAtColumn(m_trackingRatingColumn, m_trackingRatingRow).adjusted(2, 1, 0, 0);
        const QRectF stars(frame.x(), frame.y(), PMRatingCell::cellSize().width(), frame.height());
        PMRatingCell cell;
        const double value = cell.valueAtPoint(event->position(), stars);
        if (std::abs(value - objectValue(m_trackingRatingColumn, m_trackingRatingRow).toDouble()) > 0.001)
            setObjectValue(Value(value), m_trackingRatingColumn, m_trackingRatingRow, true);
        return;
    }
    QTableView::mouseMoveEvent(event);
}

void PMAutoCompleteTableView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_trackingRatingRow >= 0) {
        const int row = m_trackingRatingRow;
        const int column = m_trackingRatingColumn;
        m_trackingRatingRow = m_trackingRatingColumn = -1;
        // The release stores the final value and ends the edit.
        setObjectValue(objectValue(column, row), column, row, false);
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

void PMAutoCompleteTableView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    m_clickedRow = index.isValid() ? index.row() : -1;
    m_clickedColumn = index.isValid() ? index.column() : -1;
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    const PMTableColumn* column = tableColumn(index.column());
    if (column && (column->cell == PMTableColumn::Cell::Check || column->cell == PMTableColumn::Cell::PopUp || column->cell == PMTableColumn::Cell::Choice))
        return;
    if (column && column->editable && (isTextCell(column->cell) || column->cell == PMTableColumn::Cell::Rating)) {
        // The data source decides: edit, or act on the row (the list plays the movie).
        if (controller().tableViewShouldEditTableColumn(this, column->identifier, index.row(), true) && isTextCell(column->cell))
            editColumn(index.column(), index.row(), true);
        return;
    }
    doDoubleClick();
}

void PMAutoCompleteTableView::doDoubleClick()
{
    controller().tableViewDidReceiveDoubleClickInRow(this, m_clickedRow);
}
