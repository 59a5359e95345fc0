#include "ui/library_window/PMGroupTableView.h"

#include "ui/kit/NSView+PMExtensions.h"

#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMPasteboard.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMMovieCell.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>
#include <QtCore/QTimer>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QDrag>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kTagPrefix = QStringLiteral("AccessoryTagListName: ");
constexpr double kMinimumStoredWidth = 16;
constexpr double kMaximumStoredWidth = 4000;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMGroupTableView", text);
}

// The fixed columns the list knows, with the headers the window gives them.
const QList<std::pair<QString, const char*>>& fixedColumns()
{
    static const QList<std::pair<QString, const char*>> columns = {
        {QStringLiteral("GroupListIndex"), "#"},
        {QStringLiteral("GroupListName"), "Name"},
        {QStringLiteral("GroupListRating"), "Rating"},
        {QStringLiteral("GroupListDate"), "Date Added"},
        {QStringLiteral("GroupListCreationDate"), "Date Created"},
        {QStringLiteral("GroupListOldestDate"), "Date"},
        {QStringLiteral("GroupListPlaybackDate"), "Last Opened"},
        {QStringLiteral("GroupListSize"), "File Size"},
        {QStringLiteral("GroupListCounter"), "Counter"},
        {QStringLiteral("GroupListWidth"), "Width"},
        {QStringLiteral("GroupListHeight"), "Height"},
        {QStringLiteral("GroupListResolution"), "Resolution"},
        {QStringLiteral("GroupListTime"), "Time"},
    };
    return columns;
}

bool isFixedIdentifier(const QString& identifier)
{
    for (const auto& [id, header] : fixedColumns())
        if (id == identifier)
            return true;
    return false;
}

// The columns of the window as it first shows the list.
std::vector<PMTableColumn> initialColumns()
{
    std::vector<PMTableColumn> columns;
    PMTableColumn index;
    index.identifier = QStringLiteral("GroupListIndex");
    index.width = 36;
    index.minWidth = 24;
    index.maxWidth = 80;
    index.rightAligned = true;
    columns.push_back(index);
    PMTableColumn name;
    name.identifier = QStringLiteral("GroupListName");
    name.width = 320;
    name.minWidth = 60;
    name.cell = PMTableColumn::Cell::Movie;
    name.editable = true;
    columns.push_back(name);
    PMTableColumn rating;
    rating.identifier = QStringLiteral("GroupListRating");
    rating.width = 74;
    rating.minWidth = 74;
    rating.maxWidth = 74;
    rating.cell = PMTableColumn::Cell::Rating;
    rating.editable = true;
    columns.push_back(rating);
    PMTableColumn date;
    date.identifier = QStringLiteral("GroupListDate");
    date.width = 130;
    date.minWidth = 40;
    columns.push_back(date);
    PMTableColumn time;
    time.identifier = QStringLiteral("GroupListTime");
    time.width = 70;
    time.minWidth = 30;
    time.rightAligned = true;
    columns.push_back(time);
    for (PMTableColumn& column : columns)
        column.header = PMGroupTableView::defaultHeaderForIdentifier(column.identifier);
    return columns;
}

long long& pillPriority()
{
    static long long priority = LLONG_MIN;
    return priority;
}

// What the controller's selection code asks of the list.
class PMGroupTableListAccess final : public PMGroupListAccess {
public:
    explicit PMGroupTableListAccess(PMGroupTableView* table) : m_table(table) {}

    qsizetype numberOfRows() override { return m_table ? m_table->numberOfRows() : PMGroupListAccess::numberOfRows(); }
    QList<qsizetype> selectedRows() override
    {
        QList<qsizetype> rows;
        if (!m_table || !m_table->selectionModel())
            return PMGroupListAccess::selectedRows();
        for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
            rows << index.row();
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    void selectRows(const QList<qsizetype>& rows) override
    {
        if (!m_table) {
            PMGroupListAccess::selectRows(rows);
            return;
        }
        QItemSelection selection;
        const int columns = m_table->tableModel()->columnCount();
        for (qsizetype row : rows)
            if (row >= 0 && row < m_table->numberOfRows() && columns > 0)
                selection.select(m_table->tableModel()->index(int(row), 0), m_table->tableModel()->index(int(row), columns - 1));
        m_table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        if (!rows.isEmpty() && rows.first() >= 0 && rows.first() < m_table->numberOfRows())
            m_table->selectionModel()->setCurrentIndex(m_table->tableModel()->index(int(rows.first()), 0), QItemSelectionModel::NoUpdate);
    }
    void scrollRowToVisible(qsizetype row) override
    {
        if (m_table && row >= 0 && row < m_table->numberOfRows())
            m_table->scrollTo(m_table->tableModel()->index(int(row), 0));
    }
    QRectF visibleRect() override
    {
        if (!m_table)
            return PMGroupListAccess::visibleRect();
        return QRectF(m_table->horizontalScrollBar()->value(), m_table->verticalScrollBar()->value(), m_table->viewport()->width(),
                      m_table->viewport()->height());
    }
    QRectF bounds() override
    {
        if (!m_table)
            return PMGroupListAccess::bounds();
        return QRectF(0, 0, std::max(m_table->horizontalHeader()->length(), m_table->viewport()->width()),
                      double(m_table->numberOfRows()) * m_table->rowHeight());
    }
    void scrollRectToVisible(const QRectF& rect) override
    {
        if (!m_table)
            return;
        QScrollBar* bar = m_table->verticalScrollBar();
        const int top = bar->value();
        const int height = m_table->viewport()->height();
        if (rect.top() < top)
            bar->setValue(int(std::floor(rect.top())));
        else if (rect.bottom() > top + height)
            bar->setValue(int(std::ceil(rect.bottom() - height)));
        if (rect.height() >= height)
            bar->setValue(int(std::floor(rect.top())));
    }
    double topContentInset() override { return 0; }
    void setSortIndicator(const QString& columnIdentifier, bool descending) override
    {
        PMGroupListAccess::setSortIndicator(columnIdentifier, descending);
        if (!m_table)
            return;
        const int column = m_table->columnWithIdentifier(columnIdentifier);
        m_table->horizontalHeader()->setSortIndicatorShown(column >= 0);
        m_table->horizontalHeader()->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    QString toggleColumn(const QString& columnIdentifier) override
    {
        if (!m_table)
            return columnIdentifier;
        const QString header = pendingHeader.isEmpty() ? PMGroupTableView::defaultHeaderForIdentifier(columnIdentifier) : pendingHeader;
        pendingHeader.clear();
        return m_table->toggleTableColumn(columnIdentifier, header);
    }
    bool isFirstResponder() override
    {
        return m_table && (m_table->hasFocus() || (m_table->fieldEditor() && m_table->fieldEditor()->hasFocus()));
    }
    void makeFirstResponder() override
    {
        if (m_table)
            m_table->setFocus(Qt::OtherFocusReason);
    }

    QString pendingHeader;

private:
    QPointer<PMGroupTableView> m_table;
};

} // namespace

// ---- Header ------------------------------------------------------------------------------

PMGroupTableViewHeaderView::PMGroupTableViewHeaderView(Qt::Orientation orientation, QWidget* parent) : QHeaderView(orientation, parent) {}

QMenu* PMGroupTableViewHeaderView::menuForEvent() const
{
    return m_tableHeader ? m_tableHeader->headerMenu() : m_menu;
}

QSize PMGroupTableViewHeaderView::sizeHint() const
{
    if (m_tableHeader)
        return QSize(16, m_tableHeader->height());
    return QHeaderView::sizeHint();
}

void PMGroupTableViewHeaderView::mousePressEvent(QMouseEvent* event)
{
    if (m_tableHeader && event->button() == Qt::LeftButton) {
        if (QMenu* menu = menuForEvent())
            menu->popup(event->globalPosition().toPoint());
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void PMGroupTableViewHeaderView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = menuForEvent()) {
        menu->popup(event->globalPos());
        return;
    }
    QHeaderView::contextMenuEvent(event);
}

void PMGroupTableViewHeaderView::paintEvent(QPaintEvent* event)
{
    if (!m_tableHeader) {
        QHeaderView::paintEvent(event);
        return;
    }
    // The corner: the header's background with a small mark of the columns menu.
    QPainter painter(viewport());
    QStyleOptionHeader option;
    option.initFrom(this);
    option.rect = viewport()->rect();
    option.section = 0;
    style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c = QRectF(viewport()->rect()).center();
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1.2));
    for (int i = -1; i <= 1; ++i)
        painter.drawLine(QPointF(c.x() - 4, c.y() + 3 * i), QPointF(c.x() + 4, c.y() + 3 * i));
}

// ---- Table --------------------------------------------------------------------------------

PMGroupTableView::PMGroupTableView(QWidget* parent) : PMAutoCompleteTableView(parent)
{
    setObjectName(QStringLiteral("groupList"));
    m_header = new PMGroupTableViewHeaderView(Qt::Horizontal, this);
    setHorizontalHeader(m_header);
    m_header->setSectionsMovable(true);
    m_header->setSectionsClickable(true);
    m_header->setHighlightSections(false);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setStretchLastSection(false);
    m_header->setSortIndicatorShown(false);
    m_header->setMinimumSectionSize(16);
    connect(m_header, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        PMTableColumn* column = tableColumn(logical);
        if (!column || m_sizingNameColumn)
            return;
        if (column->identifier == QLatin1String("GroupListName"))
            m_nameBaseWidth = size;
        column->width = size;
        _cachedTableColumnsByIdentifier.insert(column->identifier, *column);
        if (column->identifier != QLatin1String("GroupListName"))
            sizeNameColumnToFit();
    });
    connect(m_header, &QHeaderView::sectionClicked, this, [this](int logical) {
        controller().tableViewDidClickTableColumn(this, identifierOfColumn(logical));
    });

    // The columns menu: the controller fills it as it opens.
    m_columnsMenu = new QMenu(localized("Columns"), this);
    connect(m_columnsMenu, &QMenu::aboutToShow, this, [this] { controller().populateColumnMenu(m_columnsMenu); });
    m_header->setHeaderMenu(m_columnsMenu);
    m_corner = new PMGroupTableViewHeaderView(Qt::Horizontal, this);
    m_corner->setObjectName(QStringLiteral("groupListCornerView"));
    m_corner->setTableHeader(m_header);
    m_corner->setFixedSize(16, 22);
    addScrollBarWidget(m_corner, Qt::AlignTop);

    m_reloadFlagTimer = new QTimer(this);
    m_reloadFlagTimer->setSingleShot(true);
    m_reloadFlagTimer->setInterval(100);
    connect(m_reloadFlagTimer, &QTimer::timeout, this, &PMGroupTableView::clearIsReloadingDataFlag);

    // Half the room between cells, at most 4 points (there is none between cells here).
    _tokenFieldCellInset = 0;
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);

    const std::vector<PMTableColumn> columns = initialColumns();
    for (const PMTableColumn& column : columns)
        _cachedTableColumnsByIdentifier.insert(column.identifier, column);
    setTableColumns(columns);

    // The first list made is the window's (a list already in place keeps its place).
    PMMainController& c = controller();
    if (c.groupListTable)
        return;
    c.groupListTable = this;
    c._groupListAccess = std::make_shared<PMGroupTableListAccess>(this);
    const QPointer<PMGroupTableView> guarded(this);
    // A columns menu item: a fixed column's identifier with its title, or a tag's title.
    c._actions.insert(QStringLiteral("toggleGroupListColumn"), [guarded](QObject* sender) {
        auto* item = qobject_cast<QAction*>(sender);
        if (!guarded || !item)
            return;
        const Value object = platform::menuItemRepresentedObject(item);
        if (!object.isString())
            return;
        if (auto* access = dynamic_cast<PMGroupTableListAccess*>(PMMainController::mainController()._groupListAccess.get()))
            access->pendingHeader = object.string().startsWith(QLatin1String("GroupList")) ? item->text().remove(QLatin1Char('&')) : QString();
        PMMainController::mainController().toggleGroupListColumn(object.string());
    });
    c._invalidateGroupListTableColumns = [guarded] {
        if (guarded)
            guarded->invalidateTableColumns();
    };
    c._menuValidation.groupListColumns = [guarded] {
        QList<PMMainController::MenuValidationHooks::TableColumn> result;
        if (!guarded)
            return result;
        QSet<QString> shown;
        for (const PMTableColumn& column : guarded->tableColumns())
            shown.insert(column.identifier);
        for (auto it = guarded->_cachedTableColumnsByIdentifier.begin(); it != guarded->_cachedTableColumnsByIdentifier.end(); ++it)
            result.append({it.key(), it->header, shown.contains(it.key())});
        return result;
    };
}

PMGroupTableView::~PMGroupTableView()
{
    PMMainController& c = controller();
    if (c.groupListTable == this) {
        c.groupListTable = nullptr;
        c._groupListAccess = nullptr;
        c._menuValidation.groupListColumns = nullptr;
        c._invalidateGroupListTableColumns = nullptr;
    }
}

QString PMGroupTableView::accessoryTableColumnIdentifierForTitle(const QString& title)
{
    return kTagPrefix + title.toLower();
}

long long PMGroupTableView::PMGroupListPillPriority()
{
    long long& priority = pillPriority();
    if (priority == LLONG_MIN)
        priority = defaults().integerForKey(prefs::keys::GroupListPillPriority);
    return priority;
}

void PMGroupTableView::resetPillPriorityForTesting()
{
    pillPriority() = LLONG_MIN;
}

QString PMGroupTableView::defaultHeaderForIdentifier(const QString& identifier)
{
    if (identifier == QLatin1String("GroupListDate") && PMCachedSettings::determineFuzzyOldestDate)
        return localized("Last Added");
    for (const auto& [id, header] : fixedColumns())
        if (id == identifier)
            return localized(header);
    if (identifier.startsWith(kTagPrefix))
        return identifier.mid(kTagPrefix.size());
    return identifier;
}

std::optional<PMTableColumn> PMGroupTableView::cachedTableColumnWithIdentifier(const QString& identifier, const QString& header)
{
    if (auto it = _cachedTableColumnsByIdentifier.constFind(identifier); it != _cachedTableColumnsByIdentifier.constEnd())
        return *it;
    const bool isTag = identifier.startsWith(kTagPrefix) && identifier.size() > kTagPrefix.size();
    // Fixed columns this list does not know are not made up.
    if (!isTag && !isFixedIdentifier(identifier))
        return std::nullopt;
    QString prototypeIdentifier = QStringLiteral("GroupListName");
    static const QStringList timeLike = {QStringLiteral("GroupListSize"), QStringLiteral("GroupListCounter"), QStringLiteral("GroupListWidth"),
                                         QStringLiteral("GroupListHeight")};
    static const QStringList dateLike = {QStringLiteral("GroupListCreationDate"), QStringLiteral("GroupListOldestDate"),
                                         QStringLiteral("GroupListPlaybackDate")};
    if (timeLike.contains(identifier))
        prototypeIdentifier = QStringLiteral("GroupListTime");
    else if (dateLike.contains(identifier))
        prototypeIdentifier = QStringLiteral("GroupListDate");
    const auto prototype = _cachedTableColumnsByIdentifier.constFind(prototypeIdentifier);
    if (prototype == _cachedTableColumnsByIdentifier.constEnd())
        return std::nullopt;
    PMTableColumn column = *prototype;
    column.identifier = identifier;
    column.header = header.isEmpty() ? defaultHeaderForIdentifier(identifier) : header;
    column.width = 150;
    column.minWidth = prototype->minWidth;
    column.maxWidth = prototype->maxWidth;
    if (isTag && PMGroupListPillPriority() >= 0 && identifier != kTagPrefix + QStringLiteral("notes")) {
        column.cell = PMTableColumn::Cell::GroupToken;
        column.editable = true;
        column.clips = true;
    } else if (column.cell == PMTableColumn::Cell::Movie) {
        // A copy of the name's cell without icon, playing mark or status: plain text.
        column.cell = PMTableColumn::Cell::Text;
        column.editable = true;
        column.rightAligned = false;
    }
    _cachedTableColumnsByIdentifier.insert(identifier, column);
    return column;
}

void PMGroupTableView::updateTableColumns()
{
    if (_hasUpToDateTableColumns)
        return;
    // The cached columns' headers follow the date setting.
    for (auto it = _cachedTableColumnsByIdentifier.begin(); it != _cachedTableColumnsByIdentifier.end(); ++it)
        if (isFixedIdentifier(it.key()))
            it->header = defaultHeaderForIdentifier(it.key());
    for (PMTableColumn& column : m_columns)
        if (isFixedIdentifier(column.identifier))
            column.header = defaultHeaderForIdentifier(column.identifier);

    std::vector<PMTableColumn> restored;
    QSet<QString> seen;
    const Value stored = defaults().objectForKey(visibleTableColumnsUserDefaultsKey());
    if (const ArrayPtr entries = stored.array()) {
        for (const Value& entry : *entries) {
            const DictionaryPtr dictionary = entry.dictionary();
            if (!dictionary)
                continue;
            const Value identifierValue = dictionary->value(QStringLiteral("Identifier"));
            const QString identifier = identifierValue.isString() ? identifierValue.string() : QString();
            if (identifier.isEmpty() || seen.contains(identifier))
                continue;
            const Value headerValue = dictionary->value(QStringLiteral("Header"));
            const QString header = headerValue.isString() ? headerValue.string().trimmed() : QString();
            std::optional<PMTableColumn> column = cachedTableColumnWithIdentifier(identifier, header);
            if (!column)
                continue;
            if (!header.isEmpty() && !isFixedIdentifier(identifier))
                column->header = header;
            // Widths from the index are kept within what the column and a window can show.
            const Value widthValue = dictionary->value(QStringLiteral("Width"));
            double width = widthValue.isNumber() ? widthValue.toDouble() : 150.0;
            if (!std::isfinite(width))
                width = 150;
            width = std::clamp(width, std::max(kMinimumStoredWidth, column->minWidth), std::min(kMaximumStoredWidth, column->maxWidth));
            column->width = width;
            seen.insert(identifier);
            restored.push_back(*column);
        }
    }
    if (!restored.empty())
        setTableColumns(restored);
    _hasUpToDateTableColumns = true;
}

QString PMGroupTableView::toggleTableColumn(const QString& identifierOrTagTitle, const QString& header)
{
    if (identifierOrTagTitle.isEmpty())
        return {};
    QString identifier = identifierOrTagTitle;
    QString title = header;
    if (!identifier.startsWith(QLatin1String("GroupList")) && !identifier.startsWith(kTagPrefix)) {
        title = identifierOrTagTitle;
        identifier = accessoryTableColumnIdentifierForTitle(identifierOrTagTitle);
    }
    // The columns in the order the user sees them.
    std::vector<PMTableColumn> columns;
    for (int visual = 0; visual < m_header->count(); ++visual)
        if (const PMTableColumn* column = tableColumn(m_header->logicalIndex(visual)))
            columns.push_back(*column);
    const auto shown = std::find_if(columns.begin(), columns.end(), [&](const PMTableColumn& c) { return c.identifier == identifier; });
    if (shown != columns.end()) {
        // The name column stays.
        if (identifier == QLatin1String("GroupListName"))
            return {};
        columns.erase(shown);
        setTableColumns(columns);
        _hasUpToDateTableColumns = true;
        return {};
    }
    std::optional<PMTableColumn> column = cachedTableColumnWithIdentifier(identifier, title);
    if (!column)
        return {};
    columns.push_back(*column);
    setTableColumns(columns);
    _hasUpToDateTableColumns = true;
    return identifier;
}

void PMGroupTableView::saveTableColumns()
{
    if (!_hasUpToDateTableColumns)
        return;
    auto entries = Array::make();
    for (int visual = 0; visual < m_header->count(); ++visual) {
        const PMTableColumn* column = tableColumn(m_header->logicalIndex(visual));
        if (!column)
            continue;
        auto entry = std::make_shared<Dictionary>();
        entry->setValue(QStringLiteral("Header"), Value(column->header.trimmed()));
        entry->setValue(QStringLiteral("Identifier"), Value(column->identifier));
        const double width = column->identifier == QLatin1String("GroupListName") ? m_nameBaseWidth
                                                                                : double(m_header->sectionSize(m_header->logicalIndex(visual)));
        entry->setValue(QStringLiteral("Width"), Value(width));
        entries->append(Value(entry));
    }
    defaults().setObject(Value(entries), visibleTableColumnsUserDefaultsKey());
    defaults().removeObjectForKey(prefs::keys::PMGroupTableViewVisibleColumnsGroupViewList);
}

void PMGroupTableView::reloadData()
{
    m_reloadFlagTimer->stop();
    _isReloadingData = true;
    PMAutoCompleteTableView::reloadData();
    m_reloadFlagTimer->start();
}

void PMGroupTableView::tableColumnsDidChange()
{
    const int name = columnWithIdentifier(QStringLiteral("GroupListName"));
    if (const PMTableColumn* column = tableColumn(name))
        m_nameBaseWidth = column->width;
    sizeNameColumnToFit();
}

void PMGroupTableView::resizeEvent(QResizeEvent* event)
{
    PMAutoCompleteTableView::resizeEvent(event);
    sizeNameColumnToFit();
}

void PMGroupTableView::sizeNameColumnToFit()
{
    const int name = columnWithIdentifier(QStringLiteral("GroupListName"));
    if (name < 0 || m_sizingNameColumn)
        return;
    int others = 0;
    for (int i = 0; i < m_header->count(); ++i)
        if (i != name && !m_header->isSectionHidden(i))
            others += m_header->sectionSize(i);
    const int wanted = std::max(int(std::lround(m_nameBaseWidth)), viewport()->width() - others);
    if (m_header->sectionSize(name) == wanted)
        return;
    m_sizingNameColumn = true;
    m_header->resizeSection(name, wanted);
    m_sizingNameColumn = false;
}

void PMGroupTableView::clearIsReloadingDataFlag()
{
    _isReloadingData = false;
}

void PMGroupTableView::scrollContentsBy(int dx, int dy)
{
    PMAutoCompleteTableView::scrollContentsBy(dx, dy);
    if (!_isReloadingData && dy != 0) {
        const QRectF visible(horizontalScrollBar()->value(), verticalScrollBar()->value(), viewport()->width(), viewport()->height());
        controller().storeVisibleGroupViewRect(visible);
    }
}

// ---- Drawing ----------------------------------------------------------------------------

void PMGroupTableView::styleTagColumns()
{
    const long long priority = PMGroupListPillPriority();
    for (PMTableColumn& column : m_columns) {
        if (!column.identifier.startsWith(kTagPrefix))
            continue;
        const bool numeric = controller().isNumericTag(column.identifier.mid(kTagPrefix.size()));
        if (column.cell == PMTableColumn::Cell::GroupToken) {
            const bool plain = priority < 1 && numeric;
            column.tokenStyle = plain ? 1 : 0;
            column.rightAligned = plain;
        } else {
            column.rightAligned = numeric;
        }
    }
}

QString PMGroupTableView::emptyListMessage() const
{
    PMMainController& c = controller();
    const PMLibraryContainerPtr container = c.selectedContainer();
    if (!container)
        return {};
    const platform::DictionaryPtr search = container->value(QStringLiteral("Search")).dictionary();
    const bool searching = search && search->value(QStringLiteral("Searching")).toBool();
    const bool online = container->isOnlineItem();
    const ArrayPtr children = container->rawChildren();
    const bool hasChildren = children && !children->isEmpty();
    const bool searchesAll = defaults().stringForKey(prefs::keys::GroupSearchScope) == QLatin1String("[All]");
    if ((online && !searching) || hasChildren || (!online && searchesAll)) {
        if (!container->multipleSelectionQuery().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).isEmpty())
            return localized("No Matches");
    } else if (online) {
        return {};
    }
    if (online || searching)
        return {};
    const ArrayPtr sorted = container->sortedGroupChildren();
    const qsizetype count = sorted ? sorted->count() : 0;
    if (count == 0)
        return localized("Empty");
    if (count == 1)
        return localized("1 subgroup");
    return localized("%1 subgroups").arg(count);
}

void PMGroupTableView::paintEvent(QPaintEvent* event)
{
    if (numberOfRows() > 0) {
        styleTagColumns();
        PMAutoCompleteTableView::paintEvent(event);
        return;
    }
    QPainter painter(viewport());
    const bool dark = isInFullyInvertedDarkMode(this);
    painter.fillRect(event->rect(), dark ? palette().color(QPalette::Base) : QColor(Qt::white));
    const QString message = emptyListMessage();
    if (message.isEmpty())
        return;
    const QRectF area = QRectF(viewport()->rect()).adjusted(20, 0, -20, 0);
    fitAndDrawInRect(painter, message, area, nullptr, dark ? QColor::fromRgbF(1, 1, 1, 0.3f) : QColor::fromRgbF(0, 0, 0, 0.25f), nullptr, 48);
}

// ---- Meta references ------------------------------------------------------------------------

void PMGroupTableView::insertMetaReference(QAction* item)
{
    if (!item)
        return;
    const Value object = platform::menuItemRepresentedObject(item);
    if (object.isString())
        insertTokenEditingString(object.string());
}

bool PMGroupTableView::validateMenuItem(QAction* item)
{
    if (item && platform::menuItemAction(item) == QLatin1String("insertMetaReference"))
        return !tokenEditingColumnIdentifier().isEmpty();
    return PMAutoCompleteTableView::validateMenuItem(item);
}

bool PMGroupTableView::respondsToAction(const QString& action) const
{
    if (action == QLatin1String("insertMetaReference"))
        return !tokenEditingColumnIdentifier().isEmpty();
    return PMAutoCompleteTableView::respondsToAction(action);
}

void PMGroupTableView::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("insertMetaReference")) {
        insertMetaReference(qobject_cast<QAction*>(sender));
        return;
    }
    PMAutoCompleteTableView::performAction(action, sender);
}

// ---- Mouse, menus, dragging ------------------------------------------------------------------

bool PMGroupTableView::dragImmediatelyWithMouseDown(const QPoint& viewportPosition) const
{
    const QModelIndex index = indexAt(viewportPosition);
    if (!index.isValid())
        return false;
    if (selectionModel() && selectionModel()->isRowSelected(index.row(), QModelIndex()))
        return true;
    if (identifierOfColumn(index.column()) == QLatin1String("GroupListName")) {
        const QRect cell = visualRect(index);
        return viewportPosition.x() - cell.x() < 20;
    }
    return false;
}

Qt::DropActions PMGroupTableView::draggingSourceOperationMaskForLocal(bool local)
{
    return local ? Qt::CopyAction | Qt::MoveAction | Qt::LinkAction : Qt::CopyAction;
}

void PMGroupTableView::mousePressEvent(QMouseEvent* event)
{
    m_pressPosition = event->position().toPoint();
    m_pressCanDragAtOnce = event->button() == Qt::LeftButton && dragImmediatelyWithMouseDown(m_pressPosition);
    m_pressDecided = m_pressCanDragAtOnce || event->button() != Qt::LeftButton;
    setDragEnabled(m_pressCanDragAtOnce);
    PMAutoCompleteTableView::mousePressEvent(event);
}

void PMGroupTableView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressDecided && (event->buttons() & Qt::LeftButton)) {
        const QPoint delta = event->position().toPoint() - m_pressPosition;
        if (delta.manhattanLength() >= QApplication::startDragDistance()) {
            // Sideways motion drags the rows; vertical motion selects more rows.
            m_pressDecided = true;
            setDragEnabled(std::abs(delta.x()) > std::abs(delta.y()));
        } else {
            return;
        }
    }
    PMAutoCompleteTableView::mouseMoveEvent(event);
}

void PMGroupTableView::mouseReleaseEvent(QMouseEvent* event)
{
    PMAutoCompleteTableView::mouseReleaseEvent(event);
    m_pressDecided = true;
    setDragEnabled(true);
}

QMenu* PMGroupTableView::menuForEvent(const QPoint& viewportPosition)
{
    const QModelIndex index = indexAt(viewportPosition);
    if (!index.isValid()) {
        clearSelection();
    } else if (!selectionModel()->isRowSelected(index.row(), QModelIndex())) {
        selectRow(index.row());
    }
    QList<qsizetype> rows;
    for (const QModelIndex& selected : selectionModel()->selectedRows())
        rows << selected.row();
    std::sort(rows.begin(), rows.end());
    return controller().contextMenuForGroupListRowIndexes(rows);
}

void PMGroupTableView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = menuForEvent(viewport()->mapFromGlobal(event->globalPos())))
        menu->popup(event->globalPos());
}

void PMGroupTableView::startDrag(Qt::DropActions)
{
    QList<qsizetype> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    // A drag that starts in the rating column sets ratings instead.
    const QModelIndex pressed = indexAt(m_pressPosition);
    if (identifierOfColumn(pressed.column()) == QLatin1String("GroupListRating"))
        return;
    auto* mime = new QMimeData;
    if (!controller().tableView(PMMainController::groupList, rows, *mime)) {
        delete mime;
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    QRect bounds;
    for (qsizetype row : rows)
        bounds = bounds.united(visualRect(tableModel()->index(int(row), 0)).united(visualRect(tableModel()->index(int(row), tableModel()->columnCount() - 1))));
    bounds = bounds.intersected(viewport()->rect());
    if (!bounds.isEmpty()) {
        drag->setPixmap(fadedDragPixmap(viewport(), bounds));
        drag->setHotSpot(m_pressPosition - bounds.topLeft());
    }
    // Outside the program only a copy (a move would take the file away from the library);
    // inside, the controller decides what a drop does. Qt offers one set of operations to
    // every target: the outside's.
    drag->exec(draggingSourceOperationMaskForLocal(false), Qt::CopyAction);
    invalidateDraggedLibraryItemsCache();
    controller().setDraggingDestinationDropOnRow(-1);
}

PMMainController::PMDraggingInfo PMGroupTableView::draggingInfo(const QDropEvent* event) const
{
    PMMainController::PMDraggingInfo info;
    info.draggingPasteboard = event->mimeData();
    QObject* source = event->source();
    if (source == this)
        info.draggingSource = PMMainController::PMLibraryView::GroupList;
    else if (qobject_cast<PMMovieOutlineView*>(source))
        info.draggingSource = PMMainController::PMLibraryView::LibraryList;
    else if (source && source->inherits("PMGroupView"))
        info.draggingSource = PMMainController::PMLibraryView::GroupView;
    return info;
}

bool PMGroupTableView::validateDrop(QDropEvent* event, qsizetype* row, PMMainController::PMTableViewDropOperation* operation)
{
    const QPoint position = event->position().toPoint();
    const QModelIndex index = indexAt(position);
    qsizetype proposed = index.isValid() ? index.row() : numberOfRows();
    if (index.isValid()) {
        const QRect rect = visualRect(index);
        if (position.y() > rect.center().y())
            ++proposed;
    }
    PMMainController::PMTableViewDropOperation dropOperation = PMMainController::PMTableViewDropOperation::Above;
    const int mask = controller().tableView(PMMainController::groupList, draggingInfo(event), &proposed, &dropOperation);
    *row = proposed;
    *operation = dropOperation;
    if (mask == 0)
        return false;
    Qt::DropAction action = Qt::LinkAction;
    if (mask & PMMainController::PMDragOperationMove)
        action = Qt::MoveAction;
    else if (mask & PMMainController::PMDragOperationCopy)
        action = Qt::CopyAction;
    event->setDropAction(action);
    return true;
}

void PMGroupTableView::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void PMGroupTableView::dragMoveEvent(QDragMoveEvent* event)
{
    qsizetype row = 0;
    PMMainController::PMTableViewDropOperation operation;
    if (validateDrop(event, &row, &operation))
        event->accept();
    else
        event->ignore();
}

void PMGroupTableView::dropEvent(QDropEvent* event)
{
    qsizetype row = 0;
    PMMainController::PMTableViewDropOperation operation;
    if (!validateDrop(event, &row, &operation)) {
        event->ignore();
        return;
    }
    if (controller().tableView(PMMainController::groupList, draggingInfo(event), row, operation))
        event->acceptProposedAction();
    else
        event->ignore();
}
