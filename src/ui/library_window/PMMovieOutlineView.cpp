#include "ui/library_window/PMMovieOutlineView.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMPasteboard.h"
#include "platform/Alert.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSImage+PMDrawing.h"
#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMMovieCell.h"

#include <QtCore/QMimeData>
#include <QtCore/QPointer>
#include <QtGui/QDrag>
#include <QtGui/QIcon>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTableView>

#include <algorithm>
#include <cmath>
#include <utility>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

bool PMSourceListUsesRoundedSelection = true;
double PMSourceListFirstRowTopOffset = 4.0;
const double PMSourceListSectionTopOffset = 8.0;
double PMSourceListTopInset = 0.0;

bool PMUsesLargeListFont()
{
    return PMMainController::listMetrics().largeListFont;
}

namespace {

constexpr double kFloatEpsilon = 1.1920928955078125e-7; // 2^-23
// The outline's own row height, before the large font's extra.
constexpr double kOutlineRowHeight = 24.0;
// The plates stand in from both edges of the list.
constexpr double kPlateInsetLeft = 8.0;
constexpr double kPlateInsetRight = 8.0;
constexpr double kPlateRadius = 6.0;
constexpr int kIndentationPerLevel = 13;
// Every row's content stands in from the left edge, so that section titles line up with
// the plates' left end.
constexpr int kContentInsetLeft = 6;
// And from the right edge, so that badges end inside the plates.
constexpr int kContentInsetRight = 12;
// How long a still button waits before a vertical drag on an unselected row may drag.
constexpr qint64 kDragHoldMilliseconds = 5000;

const void* objectKey(const Value& item)
{
    return item.isObject() ? static_cast<const void*>(item.objectPointer()) : nullptr;
}

// The same row after a rebuild: the same object, or a container that was made again
// with the same unique ID (smart-group subdivisions are).
bool isSameRowItem(const Value& a, const Value& b)
{
    if (PMIsSameItem(a, b))
        return true;
    PMLibraryContainer* ca = PMContainer(a);
    PMLibraryContainer* cb = PMContainer(b);
    if (ca && cb) {
        const Value ida = ca->value(QStringLiteral("Unique ID"));
        const Value idb = cb->value(QStringLiteral("Unique ID"));
        return ida.isString() && !ida.string().isEmpty() && ida == idb;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// The model

struct PMSourceListModel::Node {
    Value item;
    Node* parent = nullptr;
    int row = 0;
    bool loaded = false;
    std::vector<std::unique_ptr<Node>> children;
};

PMSourceListModel::PMSourceListModel(PMMainController& dataSource, QObject* parent)
    : QAbstractItemModel(parent), m_dataSource(dataSource), m_root(std::make_unique<Node>())
{
}

PMSourceListModel::~PMSourceListModel() = default;

PMSourceListModel::Node* PMSourceListModel::nodeForIndex(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_root.get();
}

void PMSourceListModel::load(Node& node) const
{
    if (node.loaded)
        return;
    node.loaded = true;
    const qsizetype count = m_dataSource.outlineViewNumberOfChildrenOfItem(node.item);
    if (count <= 0)
        return;
    const ArrayPtr children = node.item.isNull() ? m_dataSource.visibleTopLevelItems()
                                                 : m_dataSource.outlineViewChildrenOfContainer(PMContainerPtr(node.item));
    if (!children)
        return;
    node.children.reserve(size_t(children->count()));
    int row = 0;
    for (const Value& child : *children) {
        auto n = std::make_unique<Node>();
        n->item = child;
        n->parent = &node;
        n->row = row++;
        if (const void* key = objectKey(child); key && !m_nodesByObject.contains(key))
            m_nodesByObject.insert(key, n.get());
        node.children.push_back(std::move(n));
    }
}

Value PMSourceListModel::itemForIndex(const QModelIndex& index) const
{
    const Node* node = index.isValid() && index.model() == this ? nodeForIndex(index) : nullptr;
    return node ? node->item : Value();
}

QModelIndex PMSourceListModel::indexForItem(const Value& item) const
{
    const void* key = objectKey(item);
    Node* node = key ? m_nodesByObject.value(key) : nullptr;
    return node ? createIndex(node->row, 0, node) : QModelIndex();
}

QModelIndex PMSourceListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    Node* node = nodeForIndex(parent);
    load(*node);
    if (size_t(row) >= node->children.size())
        return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex PMSourceListModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return {};
    Node* node = nodeForIndex(index);
    Node* parent = node->parent;
    if (!parent || parent == m_root.get())
        return {};
    return createIndex(parent->row, 0, parent);
}

int PMSourceListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    Node* node = nodeForIndex(parent);
    load(*node);
    return int(node->children.size());
}

int PMSourceListModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool PMSourceListModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant PMSourceListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Value item = itemForIndex(index);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_dataSource.outlineViewObjectValueByItem(item);
    default:
        return {};
    }
}

bool PMSourceListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    const Value item = itemForIndex(index);
    if (!m_dataSource.outlineViewCanEditItem(item))
        return false;
    m_dataSource.outlineViewSetObjectValue(value.toString(), item);
    Q_EMIT dataChanged(index, index);
    return true;
}

Qt::ItemFlags PMSourceListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    const Value item = itemForIndex(index);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (m_dataSource.outlineViewShouldSelectItem(item))
        flags |= Qt::ItemIsSelectable;
    if (m_dataSource.outlineViewCanEditItem(item))
        flags |= Qt::ItemIsEditable;
    return flags;
}

Qt::DropActions PMSourceListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

Qt::DropActions PMSourceListModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::LinkAction;
}

bool PMSourceListModel::matches(Node& node)
{
    if (!node.loaded)
        return true;
    const qsizetype count = m_dataSource.outlineViewNumberOfChildrenOfItem(node.item);
    const ArrayPtr children = count <= 0 ? nullptr
        : node.item.isNull()             ? m_dataSource.visibleTopLevelItems()
                                         : m_dataSource.outlineViewChildrenOfContainer(PMContainerPtr(node.item));
    const qsizetype n = children ? children->count() : 0;
    if (size_t(n) != node.children.size())
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        Node& child = *node.children[size_t(i)];
        const Value& now = children->at(i);
        if (!isSameRowItem(child.item, now))
            return false;
        child.item = now;
    }
    for (auto& child : node.children)
        if (!matches(*child))
            return false;
    return true;
}

void PMSourceListModel::registerNodes(Node& node)
{
    for (auto& child : node.children) {
        if (const void* key = objectKey(child->item); key && !m_nodesByObject.contains(key))
            m_nodesByObject.insert(key, child.get());
        registerNodes(*child);
    }
}

bool PMSourceListModel::refresh()
{
    if (matches(*m_root)) {
        m_nodesByObject.clear();
        registerNodes(*m_root);
        return false;
    }
    beginResetModel();
    m_root = std::make_unique<Node>();
    m_nodesByObject.clear();
    ++m_numberOfResets;
    endResetModel();
    return true;
}

// ---------------------------------------------------------------------------
// The separator

PMMovieOutlineSeparatorView::PMMovieOutlineSeparatorView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QColor PMMovieOutlineView::separatorColor(bool dark, bool increasedContrast)
{
    const float w = dark ? 1.0f : 0.0f;
    return QColor::fromRgbF(w, w, w, increasedContrast ? 0.95f : 0.15f);
}

void PMMovieOutlineSeparatorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QRectF r = rect();
    if (isOnRetinaDisplay(window()))
        r.setHeight(0.5);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(r, PMMovieOutlineView::separatorColor(isInFullyInvertedDarkMode(this), PMShouldIncreaseContrast()));
}

// ---------------------------------------------------------------------------
// The view

namespace {

// The controller's selection code asks the source list through this: rows, selection,
// expansion and scrolling of the real view.
class PMOutlineViewListAccess final : public PMLibraryListAccess {
public:
    explicit PMOutlineViewListAccess(PMMovieOutlineView* view) : m_view(view) {}
    PMMovieOutlineView* view() const { return m_view; }

    qsizetype numberOfRows() override { return m_view ? m_view->numberOfRows() : 0; }
    platform::Value itemAtRow(qsizetype row) override { return m_view ? m_view->itemAtRow(row) : platform::Value(); }
    qsizetype rowForItem(const platform::Value& item) override { return m_view ? m_view->rowForItem(item) : -1; }
    qsizetype levelForRow(qsizetype row) override { return m_view ? m_view->levelForRow(row) : -1; }
    QList<qsizetype> selectedRows() override
    {
        if (!m_view)
            return {};
        QList<qsizetype> rows = m_view->selectedRowIndexes();
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    void selectRows(const QList<qsizetype>& rows) override
    {
        if (!m_view)
            return;
        if (rows.isEmpty())
            m_view->deselectAll();
        else
            m_view->selectRowIndexes(rows, false);
    }
    bool isItemExpanded(const platform::Value& item) override { return m_view && m_view->isItemExpanded(item); }
    void expandItem(const platform::Value& item) override
    {
        if (m_view)
            m_view->expandItem(item, false);
    }
    void scrollRowToVisible(qsizetype row) override
    {
        if (m_view && row >= 0)
            m_view->scrollTo(m_view->indexAtRow(row));
    }
    QRectF visibleRect() override
    {
        if (!m_view)
            return {};
        const QScrollBar* bar = m_view->verticalScrollBar();
        return QRectF(0, bar ? bar->value() : 0, m_view->viewport()->width(), m_view->viewport()->height());
    }
    QRectF bounds() override
    {
        if (!m_view)
            return {};
        return QRectF(0, 0, m_view->viewport()->width(), double(m_view->numberOfRows()) * PMMovieOutlineView::rowHeight());
    }
    double enclosingScrollViewHeight() override { return m_view ? m_view->viewport()->height() : 0; }
    void scrollRectToVisible(const QRectF& rect) override
    {
        if (!m_view || !m_view->verticalScrollBar())
            return;
        QScrollBar* bar = m_view->verticalScrollBar();
        const double top = bar->value();
        const double height = m_view->viewport()->height();
        if (rect.top() < top)
            bar->setValue(int(std::floor(rect.top())));
        else if (rect.bottom() > top + height)
            bar->setValue(int(std::ceil(rect.bottom() - height)));
    }
    bool shouldSelectItem(const platform::Value& item) override { return mainController().outlineViewShouldSelectItem(item); }

private:
    QPointer<PMMovieOutlineView> m_view;
};

} // namespace

PMMovieOutlineView::PMMovieOutlineView(PMMainController& controller, QWidget* parent) : QTreeView(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("libraryList"));
    m_model = new PMSourceListModel(controller, this);
    m_cell = new PMMovieCell(&controller, this);
    setModel(m_model);
    setItemDelegate(m_cell);
    header()->hide();
    header()->setStretchLastSection(true);
    setUniformRowHeights(true);
    setRootIsDecorated(false);
    // The chevrons are the view's own (they move with the frame corrections): clicks on
    // them are handled here, not by the tree view's branch area.
    setItemsExpandable(false);
    setIndentation(kIndentationPerLevel);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setExpandsOnDoubleClick(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setAutoExpandDelay(700);
    setMouseTracking(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    // Desktops without an icon theme of their own (a bare X server) still get icons.
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    // With rounded plates the first row needs no room of its own above it.
    if (PMSourceListUsesRoundedSelection)
        PMSourceListFirstRowTopOffset = 0;

    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        invalidateRows();
        // A drag hovering over a closed row opens it.
        if (state() == DraggingState && m_acceptsDrag)
            m_autoExpanded << QPersistentModelIndex(index);
    });
    connect(this, &QTreeView::collapsed, this, [this] { invalidateRows(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { invalidateRows(); });
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] { invalidateRows(); });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { invalidateRows(); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { invalidateRows(); });
    updateRowHeight();

    controller.libraryListView = this;
    controller._libraryListAccess = std::make_shared<PMOutlineViewListAccess>(this);
}

PMMovieOutlineView::~PMMovieOutlineView()
{
    if (m_controller.libraryListView == this)
        m_controller.libraryListView = nullptr;
    // The stand-in takes over again when this list goes.
    if (auto* access = dynamic_cast<PMOutlineViewListAccess*>(m_controller._libraryListAccess.get()); access && access->view() == this)
        m_controller._libraryListAccess.reset();
}

double PMMovieOutlineView::rowHeight()
{
    return kOutlineRowHeight + (PMUsesLargeListFont() ? 2 : 0);
}

void PMMovieOutlineView::updateRowHeight()
{
    // Uniform rows take their height from the first row's size hint, which the cell
    // gives as the row height.
    scheduleDelayedItemsLayout();
}

void PMMovieOutlineView::invalidateRows()
{
    m_rowsValid = false;
    m_rows.clear();
    m_rowsByNode.clear();
}

void PMMovieOutlineView::ensureRows() const
{
    if (m_rowsValid)
        return;
    m_rowsValid = true;
    m_rows.clear();
    m_rowsByNode.clear();
    std::vector<QModelIndex> stack;
    const int top = m_model->rowCount();
    for (int i = top - 1; i >= 0; --i)
        stack.push_back(m_model->index(i, 0));
    while (!stack.empty()) {
        const QModelIndex index = stack.back();
        stack.pop_back();
        m_rowsByNode.insert(index.internalPointer(), qsizetype(m_rows.size()));
        m_rows.push_back(index);
        if (isExpanded(index)) {
            const int count = m_model->rowCount(index);
            for (int i = count - 1; i >= 0; --i)
                stack.push_back(m_model->index(i, 0, index));
        }
    }
}

void PMMovieOutlineView::reloadData()
{
    // A changed list font changes the height of every row.
    if (rowHeight() != m_laidOutRowHeight) {
        m_laidOutRowHeight = rowHeight();
        scheduleDelayedItemsLayout();
    }
    // What is selected and where the list stands, to be found again after a reset.
    if (!m_didLoad) {
        // The first load opens the rows the library was saved with.
        m_didLoad = true;
        m_model->refresh();
        invalidateRows();
        m_controller.restoreLibraryListExpansionState();
        return;
    }
    const ArrayPtr selected = selectedItems();
    const int scroll = verticalScrollBar()->value();
    const bool reset = m_model->refresh();
    if (!reset) {
        viewport()->update();
        return;
    }
    invalidateRows();
    m_controller.restoreLibraryListExpansionState();
    QList<qsizetype> rows;
    for (const Value& item : *selected) {
        qsizetype row = rowForItem(item);
        if (row < 0)
            if (PMLibraryContainer* container = PMContainer(item)) {
                const Value id = container->value(QStringLiteral("Unique ID"));
                if (id.isString())
                    row = rowForItem(m_controller.itemWithUniqueLibraryID(id.string()));
            }
        if (row >= 0)
            rows << row;
    }
    m_restoringSelection = true;
    selectRowIndexes(rows, false);
    m_restoringSelection = false;
    executeDelayedItemsLayout();
    verticalScrollBar()->setValue(scroll);
}

qsizetype PMMovieOutlineView::numberOfRows() const
{
    ensureRows();
    return qsizetype(m_rows.size());
}

QModelIndex PMMovieOutlineView::indexAtRow(qsizetype row) const
{
    ensureRows();
    return row >= 0 && size_t(row) < m_rows.size() ? m_rows[size_t(row)] : QModelIndex();
}

Value PMMovieOutlineView::itemAtRow(qsizetype row) const
{
    return m_model->itemForIndex(indexAtRow(row));
}

Value PMMovieOutlineView::itemForIndex(const QModelIndex& index) const
{
    return m_model->itemForIndex(index);
}

qsizetype PMMovieOutlineView::rowForIndex(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    ensureRows();
    return m_rowsByNode.value(index.internalPointer(), -1);
}

qsizetype PMMovieOutlineView::rowForItem(const Value& item) const
{
    return rowForIndex(m_model->indexForItem(item));
}

namespace {
// The number of ancestors of a row (0 for the top level); -1 for none.
int levelOfIndex(QModelIndex index)
{
    if (!index.isValid())
        return -1;
    int level = 0;
    for (index = index.parent(); index.isValid(); index = index.parent())
        ++level;
    return level;
}
} // namespace

int PMMovieOutlineView::levelForRow(qsizetype row) const
{
    return levelOfIndex(indexAtRow(row));
}

int PMMovieOutlineView::levelForItem(const Value& item) const
{
    return levelOfIndex(m_model->indexForItem(item));
}

Value PMMovieOutlineView::parentForItem(const Value& item) const
{
    return m_model->itemForIndex(m_model->indexForItem(item).parent());
}

bool PMMovieOutlineView::isItemExpanded(const Value& item) const
{
    const QModelIndex index = m_model->indexForItem(item);
    return index.isValid() && isExpanded(index);
}

namespace {
bool everythingModifiers()
{
    const Qt::KeyboardModifiers modifiers = QGuiApplication::keyboardModifiers();
    return modifiers.testFlag(Qt::AltModifier) && modifiers.testFlag(Qt::ShiftModifier);
}
} // namespace

void PMMovieOutlineView::expandItem(const Value& item, bool expandChildren)
{
    if (everythingModifiers()) {
        expandAll();
        return;
    }
    const QModelIndex index = m_model->indexForItem(item);
    if (!index.isValid())
        return;
    if (expandChildren)
        expandRecursively(index);
    else
        expand(index);
}

void PMMovieOutlineView::collapseItem(const Value& item, bool collapseChildren)
{
    if (everythingModifiers()) {
        collapseAll();
        return;
    }
    const QModelIndex index = m_model->indexForItem(item);
    if (!index.isValid())
        return;
    if (collapseChildren) {
        std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& i) {
            for (int r = 0; r < m_model->rowCount(i); ++r)
                walk(m_model->index(r, 0, i));
            collapse(i);
        };
        walk(index);
    } else {
        collapse(index);
    }
}

QList<qsizetype> PMMovieOutlineView::selectedRowIndexes() const
{
    QList<qsizetype> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        const qsizetype row = rowForIndex(index);
        if (row >= 0)
            rows << row;
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

ArrayPtr PMMovieOutlineView::selectedItems() const
{
    auto items = Array::make();
    for (qsizetype row : selectedRowIndexes())
        items->append(itemAtRow(row));
    return items;
}

void PMMovieOutlineView::selectRowIndexes(const QList<qsizetype>& rows, bool byExtendingSelection)
{
    QItemSelection selection;
    for (qsizetype row : rows) {
        const QModelIndex index = indexAtRow(row);
        if (index.isValid())
            selection.select(index, index);
    }
    selectionModel()->select(selection, byExtendingSelection ? QItemSelectionModel::Select | QItemSelectionModel::Rows
                                                             : QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!rows.isEmpty() && indexAtRow(rows.first()).isValid())
        selectionModel()->setCurrentIndex(indexAtRow(rows.first()), QItemSelectionModel::NoUpdate);
}

void PMMovieOutlineView::deselectAll()
{
    selectionModel()->clearSelection();
}

QRectF PMMovieOutlineView::rectOfRow(qsizetype row) const
{
    const QModelIndex index = indexAtRow(row);
    if (!index.isValid())
        return {};
    const QRect r = visualRect(index);
    return QRectF(0, r.y(), viewport()->width(), r.height());
}

QRectF PMMovieOutlineView::correctedFrame(const QRectF& frame, qsizetype row, bool adjustX, bool adjustWidth) const
{
    QRectF r = frame;
    if (row == 0) {
        if (PMSourceListFirstRowTopOffset > kFloatEpsilon)
            r.adjust(0, PMSourceListFirstRowTopOffset, 0, 0);
        return r;
    }
    const Value item = itemAtRow(row);
    PMLibraryItem* libraryItem = PMItem(item);
    if (!libraryItem)
        return r;
    if (!libraryItem->topLevelRole().isEmpty()) {
        r.adjust(0, PMSourceListSectionTopOffset, 0, 0);
        return r;
    }
    if (!prefs::get(prefs::keys::EnableSmartPlaylistEmancipation))
        return r;
    Value emancipating;
    for (Value v = item; !v.isNull(); v = parentForItem(v)) {
        PMLibraryItem* i = PMItem(v);
        if (i && i->emancipatesChildrenIfEnabled()) {
            emancipating = v;
            break;
        }
    }
    if (emancipating.isNull())
        return r;
    if (adjustX) {
        const double d = indentation() * std::max(0, levelForItem(emancipating));
        r.adjust(-d, 0, adjustWidth ? 0 : -d, 0);
    }
    if (PMIsSameItem(emancipating, item))
        r.adjust(0, PMSourceListSectionTopOffset, 0, 0);
    return r;
}

QRectF PMMovieOutlineView::frameOfCellAtColumn(qsizetype row) const
{
    const QRectF rowRect = rectOfRow(row);
    if (rowRect.isEmpty())
        return {};
    const double x = kContentInsetLeft + indentation() * std::max(0, levelForRow(row));
    return correctedFrame(QRectF(x, rowRect.y(), rowRect.width() - x - kContentInsetRight, rowRect.height()), row, true, true);
}

QRectF PMMovieOutlineView::frameOfOutlineCellAtRow(qsizetype row) const
{
    const QRectF rowRect = rectOfRow(row);
    const int level = levelForRow(row);
    if (rowRect.isEmpty() || level < 1)
        return {};
    const double x = kContentInsetLeft + indentation() * (level - 1);
    return correctedFrame(QRectF(x, rowRect.y(), indentation(), rowRect.height()), row, true, false);
}

// ---- Selection drawing ----

QColor PMMovieOutlineView::plateColorForMode(int mode) const
{
    const bool focused = hasFocus() || (QApplication::focusWidget() && isAncestorOf(QApplication::focusWidget()));
    if (mode == 1 || (mode == 0 && focused && drawsActiveWindowContent(this)))
        return backwardsCompatibleControlAccentColor();
    const float w = isInFullyInvertedDarkMode(this) ? 1.0f : 0.0f;
    return QColor::fromRgbF(w, w, w, 0.1f);
}

QList<PMMovieOutlineView::Plate> PMMovieOutlineView::selectionPlatesInClipRect(const QRectF& clip) const
{
    QList<Plate> plates;
    const QList<qsizetype> selected = selectedRowIndexes();
    const qsizetype dropOn = m_draggingDestinationDropOnRow;
    if (selected.isEmpty() && dropOn < 0)
        return plates;
    const bool hairline = PMUsesLargeListFont() && isOnRetinaDisplay(window());
    auto plateRect = [&](qsizetype row) {
        QRectF r = correctedFrame(rectOfRow(row), row, false, true).toAlignedRect();
        if (PMSourceListUsesRoundedSelection)
            r.adjust(kPlateInsetLeft, 0, -kPlateInsetRight, 0);
        if (hairline)
            r.adjust(0, 0.5, 0, 0);
        return r;
    };
    auto drawRows = [&](const QList<qsizetype>& rows, int mode) {
        QRectF running;
        qsizetype previous = -2;
        for (qsizetype row : rows) {
            const QRectF r = plateRect(row);
            if (row == previous + 1 && !running.isEmpty()) {
                running = running.united(r);
            } else {
                if (!running.isEmpty() && running.intersects(clip))
                    plates.append({running, mode});
                running = r;
            }
            previous = row;
        }
        if (!running.isEmpty() && running.intersects(clip))
            plates.append({running, mode});
    };
    if (!(selected.size() == 1 && selected.first() == dropOn))
        drawRows(selected, dropOn >= 0 ? -1 : 0);
    if (dropOn >= 0)
        drawRows({dropOn}, 1);
    return plates;
}

void PMMovieOutlineView::highlightSelectionInClipRect(QPainter& painter, const QRectF& clip) const
{
    const QList<Plate> plates = selectionPlatesInClipRect(clip);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(Qt::NoPen);
    for (const Plate& plate : plates) {
        painter.setBrush(plateColorForMode(plate.mode));
        if (PMSourceListUsesRoundedSelection)
            painter.drawPath(bezierPathWithCurvedRect(plate.rect, kPlateRadius));
        else
            painter.drawRect(plate.rect);
    }
    painter.restore();
}

QColor PMMovieOutlineView::sidebarBackgroundColor() const
{
    const QColor window = palette().color(QPalette::Window);
    return isInFullyInvertedDarkMode(this) ? window.darker(115) : window.darker(104);
}

void PMMovieOutlineView::paintEvent(QPaintEvent* event)
{
    executeDelayedItemsLayout();
    {
        QPainter painter(viewport());
        painter.fillRect(event->rect(), sidebarBackgroundColor());
        highlightSelectionInClipRect(painter, event->rect());
        if (m_dropLineY >= 0) {
            painter.setRenderHint(QPainter::Antialiasing, true);
            const QColor accent = backwardsCompatibleControlAccentColor();
            painter.setPen(QPen(accent, 2));
            painter.setBrush(Qt::NoBrush);
            const double x = m_dropLineIndent + 4;
            painter.drawEllipse(QPointF(x, m_dropLineY), 3, 3);
            painter.drawLine(QPointF(x + 3, m_dropLineY), QPointF(viewport()->width() - 8, m_dropLineY));
        }
    }
    QTreeView::paintEvent(event);
}

void PMMovieOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The plates are drawn behind all rows already; the row itself draws no highlight.
    QStyleOptionViewItem opt = option;
    opt.state &= ~(QStyle::State_Selected | QStyle::State_MouseOver | QStyle::State_HasFocus);
    const qsizetype row = rowForIndex(index);
    const int level = std::max(0, levelForRow(row));
    if (level > 0)
        drawBranches(painter, QRect(kContentInsetLeft, option.rect.y(), indentation() * level, option.rect.height()), index);
    const int x = kContentInsetLeft + indentation() * level;
    opt.rect = QRect(x, option.rect.y(), viewport()->width() - x - kContentInsetRight, option.rect.height());
    itemDelegateForIndex(index)->paint(painter, opt, index);
}

void PMMovieOutlineView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    Q_UNUSED(rect);
    const Value item = itemForIndex(index);
    if (!m_controller.outlineViewShouldShowOutlineCellForItem(item) || !m_model->hasChildren(index))
        return;
    const qsizetype row = rowForIndex(index);
    const QRectF frame = frameOfOutlineCellAtRow(row);
    if (frame.isEmpty())
        return;
    const QRectF cell = correctedFrame(rectOfRow(row), row, false, false);
    const bool selected = selectionModel() && selectionModel()->isSelected(index);
    const bool emphasized = selected && hasFocus() && drawsActiveWindowContent(this);
    const bool dark = isInFullyInvertedDarkMode(this);
    QColor color = emphasized ? QColor(Qt::white) : (dark ? QColor::fromRgbF(1, 1, 1, 0.55f) : QColor::fromRgbF(0, 0, 0, 0.45f));
    // A chevron: pointing right when collapsed, down when expanded, centred on the row.
    const QPointF c(frame.x() + frame.width() / 2.0 + 1, cell.y() + cell.height() / 2.0);
    const double s = 3.0;
    QPainterPath path;
    if (isExpanded(index)) {
        path.moveTo(c.x() - s, c.y() - s / 2);
        path.lineTo(c.x(), c.y() + s / 2);
        path.lineTo(c.x() + s, c.y() - s / 2);
    } else {
        path.moveTo(c.x() - s / 2, c.y() - s);
        path.lineTo(c.x() + s / 2, c.y());
        path.lineTo(c.x() - s / 2, c.y() + s);
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(path);
    painter->restore();
}

// ---- Scrolling and the hairline ----

void PMMovieOutlineView::setWindowHeaderView(QWidget* view)
{
    m_windowHeaderView = view;
    if (view && !m_separatorView) {
        PMSourceListTopInset = 8.0;
        setViewportMargins(0, int(PMSourceListTopInset), 0, 0);
        m_separatorView = new PMMovieOutlineSeparatorView(this);
        m_separatorView->raise();
        layoutSeparator();
    }
    adjustScroll();
}

void PMMovieOutlineView::layoutSeparator()
{
    if (m_separatorView)
        m_separatorView->setGeometry(0, 0, width(), 1);
}

void PMMovieOutlineView::adjustScroll()
{
    if (!m_separatorView)
        return;
    // Hidden at the very top of a list as wide as its view; shown once scrolled.
    // (The top inset lies outside the scrolled area here, so the top is 0.)
    const bool atTop = verticalScrollBar()->value() < 1;
    m_separatorView->setVisible(!atTop);
}

void PMMovieOutlineView::scrollContentsBy(int dx, int dy)
{
    QTreeView::scrollContentsBy(dx, dy);
    adjustScroll();
}

void PMMovieOutlineView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    layoutSeparator();
    adjustScroll();
}

void PMMovieOutlineView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    QTreeView::scrollTo(index, hint);
    // Up to 10 points above a revealed row (a section's gap) come into view too.
    const QRect r = visualRect(index);
    QScrollBar* bar = verticalScrollBar();
    if (r.isValid() && r.top() >= 0 && r.top() < 10 && bar->value() > 0)
        bar->setValue(std::max(0, bar->value() - (10 - r.top())));
}

// ---- Dragging ----

void PMMovieOutlineView::setDraggingDestinationDropOnRow(qsizetype row)
{
    if (row == m_draggingDestinationDropOnRow)
        return;
    m_draggingDestinationDropOnRow = row;
    if (row >= 0)
        m_dropLineY = -1;
    viewport()->update();
}

bool PMMovieOutlineView::dragImmediatelyWithMouseDown(const QPoint& position) const
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return false;
    const qsizetype row = rowForIndex(index);
    if (selectionModel()->isSelected(index))
        return true;
    const QRectF cell = frameOfCellAtColumn(row);
    return position.x() >= cell.x() && position.x() < cell.x() + 20;
}

Qt::DropActions PMMovieOutlineView::draggingSourceOperationMaskForLocal(bool local)
{
    return local ? Qt::CopyAction | Qt::MoveAction | Qt::LinkAction : Qt::CopyAction;
}

bool PMMovieOutlineView::shouldCollapseAutoExpandedItemsForDeposited(bool deposited) const
{
    return !deposited || m_draggingDestinationDropOnRow >= 0;
}

PMMainController::PMDraggingInfo PMMovieOutlineView::draggingInfo(const QDropEvent* event) const
{
    PMMainController::PMDraggingInfo info;
    info.draggingPasteboard = event->mimeData();
    QObject* source = event->source();
    if (source == this)
        info.draggingSource = PMMainController::PMLibraryView::LibraryList;
    else if (qobject_cast<PMGroupView*>(source))
        info.draggingSource = PMMainController::PMLibraryView::GroupView;
    else if (qobject_cast<QTableView*>(source))
        info.draggingSource = PMMainController::PMLibraryView::GroupList;
    return info;
}

bool PMMovieOutlineView::validateDrop(QDropEvent* event, PMLibraryContainerPtr* item, qsizetype* childIndex)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    m_dropLineY = -1;
    if (!index.isValid()) {
        // Below the last row: at the end of the top level.
        *item = nullptr;
        *childIndex = m_model->rowCount();
    } else {
        const QRect r = visualRect(index);
        const Value target = itemForIndex(index);
        const bool container = PMContainer(target) != nullptr;
        const int quarter = std::max(1, r.height() / 4);
        const QModelIndex parent = index.parent();
        if (container && pos.y() >= r.top() + quarter && pos.y() < r.bottom() - quarter) {
            *item = PMContainerPtr(target);
            *childIndex = -1;
        } else {
            const bool below = pos.y() >= r.center().y();
            *item = PMContainerPtr(itemForIndex(parent));
            *childIndex = index.row() + (below ? 1 : 0);
        }
    }
    const int operation = m_controller.outlineView(PMMainController::libraryList, draggingInfo(event), item, childIndex);
    if (operation == PMMainController::PMDragOperationNone) {
        m_controller.setDraggingDestinationDropOnRow(-1);
        viewport()->update();
        return false;
    }
    if (*childIndex >= 0) {
        // A drop between rows: a line where the rows would go.
        m_controller.setDraggingDestinationDropOnRow(-1);
        const QModelIndex parentIndex = *item ? m_model->indexForItem(Value(*item)) : QModelIndex();
        const int count = m_model->rowCount(parentIndex);
        const int level = parentIndex.isValid() ? levelForItem(Value(*item)) + 1 : 0;
        m_dropLineIndent = indentation() * level;
        if (count == 0 || (parentIndex.isValid() && !isExpanded(parentIndex))) {
            const QRect r = visualRect(parentIndex);
            m_dropLineY = r.bottom();
        } else if (*childIndex < count) {
            m_dropLineY = visualRect(m_model->index(int(*childIndex), 0, parentIndex)).top();
        } else {
            // After the last child: below its last visible descendant.
            QModelIndex last = m_model->index(count - 1, 0, parentIndex);
            while (isExpanded(last) && m_model->rowCount(last) > 0)
                last = m_model->index(m_model->rowCount(last) - 1, 0, last);
            m_dropLineY = visualRect(last).bottom();
        }
    }
    viewport()->update();
    return true;
}

void PMMovieOutlineView::dragEnterEvent(QDragEnterEvent* event)
{
    PMLibraryContainerPtr item;
    qsizetype childIndex = -1;
    m_autoExpanded.clear();
    m_acceptsDrag = true;
    setState(DraggingState);
    if (validateDrop(event, &item, &childIndex)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->accept(); // keep receiving moves: another row may take the drop
        event->setDropAction(Qt::IgnoreAction);
    }
}

void PMMovieOutlineView::dragMoveEvent(QDragMoveEvent* event)
{
    // Hovering over a collapsed container opens it after a while.
    QTreeView::dragMoveEvent(event);
    PMLibraryContainerPtr item;
    qsizetype childIndex = -1;
    if (validateDrop(event, &item, &childIndex)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void PMMovieOutlineView::collapseAutoExpandedItemsForDeposited(bool deposited)
{
    const QList<QPersistentModelIndex> opened = std::exchange(m_autoExpanded, {});
    if (!shouldCollapseAutoExpandedItemsForDeposited(deposited))
        return;
    for (const QPersistentModelIndex& index : opened)
        if (index.isValid())
            collapse(index);
}

void PMMovieOutlineView::dragLeaveEvent(QDragLeaveEvent* event)
{
    QTreeView::dragLeaveEvent(event);
    m_acceptsDrag = false;
    collapseAutoExpandedItemsForDeposited(false);
    m_dropLineY = -1;
    m_controller.setDraggingDestinationDropOnRow(-1);
    viewport()->update();
}

void PMMovieOutlineView::dropEvent(QDropEvent* event)
{
    PMLibraryContainerPtr item;
    qsizetype childIndex = -1;
    const bool valid = validateDrop(event, &item, &childIndex);
    const bool accepted = valid && m_controller.outlineView(PMMainController::libraryList, draggingInfo(event), item, childIndex);
    m_acceptsDrag = false;
    collapseAutoExpandedItemsForDeposited(accepted);
    m_dropLineY = -1;
    m_controller.setDraggingDestinationDropOnRow(-1);
    // The view's own handling would move rows of the model: the controller did the work.
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
}

void PMMovieOutlineView::startDrag(Qt::DropActions)
{
    const ArrayPtr items = selectedItems();
    if (items->isEmpty())
        return;
    auto* mime = new QMimeData;
    if (!m_controller.outlineView(PMMainController::libraryList, items, *mime)) {
        delete mime;
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    // The picture of the dragged rows.
    QRect bounds;
    for (qsizetype row : selectedRowIndexes())
        bounds = bounds.united(rectOfRow(row).toAlignedRect());
    bounds = bounds.intersected(viewport()->rect());
    if (!bounds.isEmpty()) {
        drag->setPixmap(fadedDragPixmap(viewport(), bounds));
        drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) - bounds.topLeft());
    }
    // Outside the program a dragged item may only be copied: a move would take the
    // file away from the library. Inside, the controller decides what a drop does.
    // (Qt offers one set of operations to every target: the outside's.)
    drag->exec(draggingSourceOperationMaskForLocal(false), Qt::CopyAction);
    invalidateDraggedLibraryItemsCache();
    m_controller.setDraggingDestinationDropOnRow(-1);
}

// ---- Mouse ----

void PMMovieOutlineView::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    m_clickedRow = rowForIndex(index);
    if (trackCancelButtonWithMouseDown(pos)) {
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && index.isValid()) {
        // A click on the disclosure chevron, with Alt+Shift, acts on every item.
        const QRectF outline = frameOfOutlineCellAtRow(m_clickedRow);
        if (!outline.isEmpty() && outline.contains(pos) && m_model->hasChildren(index)
            && m_controller.outlineViewShouldShowOutlineCellForItem(itemForIndex(index))) {
            const Qt::KeyboardModifiers modifiers = event->modifiers();
            const bool expanding = !isExpanded(index);
            if (modifiers.testFlag(Qt::AltModifier) && modifiers.testFlag(Qt::ShiftModifier)) {
                expanding ? expandAll() : collapseAll();
            } else {
                setExpanded(index, expanding);
            }
            event->accept();
            return;
        }
    }
    const bool immediate = event->button() == Qt::LeftButton && dragImmediatelyWithMouseDown(pos);
    setVerticalMotionCanBeginDrag(immediate);
    m_trackingPress = event->button() == Qt::LeftButton;
    m_pressPosition = pos;
    m_pressTimer.start();
    QTreeView::mousePressEvent(event);
    if (m_trackingPress && !immediate && index.isValid())
        setState(DragSelectingState);
}

void PMMovieOutlineView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_trackingPress && !m_verticalMotionCanBeginDrag && state() == DragSelectingState) {
        const QPoint delta = event->position().toPoint() - m_pressPosition;
        const bool held = m_pressTimer.isValid() && m_pressTimer.elapsed() >= kDragHoldMilliseconds;
        // Sideways motion, or motion after holding the button still, drags; vertical
        // motion selects a range of rows.
        if (delta.manhattanLength() >= QApplication::startDragDistance() && (held || std::abs(delta.x()) > std::abs(delta.y()))) {
            const QModelIndex pressed = indexAt(m_pressPosition);
            if (pressed.isValid() && !selectionModel()->isSelected(pressed))
                selectRowIndexes({rowForIndex(pressed)}, false);
            m_trackingPress = false;
            setState(NoState);
            startDrag(Qt::CopyAction);
            return;
        }
    }
    QTreeView::mouseMoveEvent(event);
}

void PMMovieOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    m_trackingPress = false;
    QTreeView::mouseReleaseEvent(event);
}

void PMMovieOutlineView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QTreeView::mouseDoubleClickEvent(event);
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    m_clickedRow = rowForIndex(index);
    doDoubleClick();
    event->accept();
}

void PMMovieOutlineView::doDoubleClick()
{
    m_controller.tableViewDidReceiveDoubleClickInRow(m_clickedRow);
}

QMenu* PMMovieOutlineView::menuForEvent(const QPoint& position)
{
    const QModelIndex index = indexAt(position);
    const qsizetype row = rowForIndex(index);
    m_clickedRow = row;
    if (row < 0)
        return m_controller.contextMenuForLibraryListRowIndexes(nullptr);
    if (selectionModel()->isSelected(index)) {
        const QList<qsizetype> rows = selectedRowIndexes();
        return m_controller.contextMenuForLibraryListRowIndexes(&rows);
    }
    const Value item = itemForIndex(index);
    if (!m_controller.outlineViewShouldSelectItem(item)) {
        PMLibraryItem* i = PMItem(item);
        if (i && i->isSmartGroup()) {
            const QList<qsizetype> rows{row};
            return m_controller.contextMenuForLibraryListRowIndexes(&rows);
        }
        return m_controller.contextMenuForLibraryListRowIndexes(nullptr);
    }
    selectRowIndexes({row}, false);
    const QList<qsizetype> rows{row};
    return m_controller.contextMenuForLibraryListRowIndexes(&rows);
}

void PMMovieOutlineView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = menuForEvent(viewport()->mapFrom(this, event->pos()));
    if (!menu)
        return;
    menu->exec(event->globalPos());
    menu->deleteLater();
}

// ---- Keys and commands ----

bool PMMovieOutlineView::canDelete() const
{
    return m_controller.canDeleteSelectedItemsFromCollectionView(PMMainController::libraryList);
}

void PMMovieOutlineView::doDelete()
{
    m_controller.deleteSelectedItemsFromCollectionView(PMMainController::libraryList);
}

bool PMMovieOutlineView::respondsToAction(const QString& action) const
{
    if (action == QLatin1String("delete") || action == QLatin1String("doDelete"))
        return canDelete();
    return action == QLatin1String("selectAll");
}

void PMMovieOutlineView::performAction(const QString& action, QObject* sender)
{
    Q_UNUSED(sender);
    if (action == QLatin1String("delete") || action == QLatin1String("doDelete"))
        doDelete();
    else if (action == QLatin1String("selectAll"))
        selectAll();
}

void PMMovieOutlineView::selectAll()
{
    if (!m_controller.handleSelectAllRequestFromCollectionView(PMMainController::libraryList))
        QTreeView::selectAll();
}

void PMMovieOutlineView::moveRight()
{
    moveHorizontally(true);
}

void PMMovieOutlineView::moveLeft()
{
    moveHorizontally(false);
}

void PMMovieOutlineView::moveHorizontally(bool right)
{
    // With one selected row that can open (right) or close (left), do that; otherwise
    // the tree view's own move.
    const QList<qsizetype> rows = selectedRowIndexes();
    if (state() != EditingState && rows.size() == 1) {
        const QModelIndex index = indexAtRow(rows.first());
        if (m_model->hasChildren(index) && isExpanded(index) != right) {
            setExpanded(index, right);
            return;
        }
    }
    QKeyEvent key(QEvent::KeyPress, right ? Qt::Key_Right : Qt::Key_Left, Qt::NoModifier);
    QTreeView::keyPressEvent(&key);
}

void PMMovieOutlineView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (state() == EditingState)
            break;
        if (canDelete())
            doDelete();
        else
            platform::beep();
        event->accept();
        return;
    case Qt::Key_Right:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            moveRight();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Left:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            moveLeft();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Return renames the selected row, as in file managers' sidebars.
        if (state() != EditingState && currentIndex().isValid() && selectionModel()->isSelected(currentIndex())) {
            edit(currentIndex());
            event->accept();
            return;
        }
        break;
    default:
        if (event->matches(QKeySequence::SelectAll)) {
            selectAll();
            event->accept();
            return;
        }
        break;
    }
    QTreeView::keyPressEvent(event);
}

bool PMMovieOutlineView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // A click starts renaming only on the name, not on the icon or the badge.
    if (event && trigger != AllEditTriggers
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_cell->configureForIndex(index, this);
        if (!m_cell->hitTestsEditableTextArea(mouse->position(), frameOfCellAtColumn(rowForIndex(index))))
            return false;
    }
    return QTreeView::edit(index, trigger, event);
}

void PMMovieOutlineView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Return or Tab end the rename and leave the selection where it is.
    Q_UNUSED(hint);
    QTreeView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    setFocus(Qt::OtherFocusReason);
}

void PMMovieOutlineView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    viewport()->update();
    if (m_restoringSelection)
        return;
    m_controller.outlineViewSelectionDidChange();
    Q_EMIT selectionDidChange();
}

void PMMovieOutlineView::focusInEvent(QFocusEvent* event)
{
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void PMMovieOutlineView::focusOutEvent(QFocusEvent* event)
{
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

QModelIndex PMMovieOutlineView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // The arrow keys pass over section titles, which cannot be selected.
    const QModelIndex proposed = QTreeView::moveCursor(cursorAction, modifiers);
    auto selectable = [&](const QModelIndex& index) { return index.isValid() && (m_model->flags(index) & Qt::ItemIsSelectable); };
    if (!proposed.isValid() || selectable(proposed))
        return proposed;
    int step = 0;
    switch (cursorAction) {
    case MoveDown:
    case MovePageDown:
    case MoveHome:
    case MoveNext:
        step = 1;
        break;
    case MoveUp:
    case MovePageUp:
    case MoveEnd:
    case MovePrevious:
        step = -1;
        break;
    default:
        return currentIndex();
    }
    const qsizetype rows = numberOfRows();
    for (qsizetype row = rowForIndex(proposed) + step; row >= 0 && row < rows; row += step)
        if (selectable(indexAtRow(row)))
            return indexAtRow(row);
    return currentIndex();
}

bool PMMovieOutlineView::event(QEvent* event)
{
    // The strip above the rows (the top inset) has the sidebar's colour too.
    if (event->type() == QEvent::Paint && viewportMargins().top() > 0) {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, width(), viewportMargins().top()), sidebarBackgroundColor());
    }
    return QTreeView::event(event);
}

bool PMMovieOutlineView::viewportEvent(QEvent* event)
{
    // Focus and window activation change the plates' colour.
    switch (event->type()) {
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
        viewport()->update();
        break;
    default:
        break;
    }
    return QTreeView::viewportEvent(event);
}
