#include "ui/commands/PMInfoTagEditorView.h"

#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMTagEditorTableView.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtGui/QPainter>
#include <QtGui/QPixmap>
#include <QtGui/QAbstractTextDocumentLayout>
#include <QtGui/QResizeEvent>
#include <QtGui/QTextDocument>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <cmath>

using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::Value;
namespace R = PMInfoTagRecord;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMInfoTagEditorView", text);
}

constexpr double kMinimumNotesHeight = 55;

PMTableColumn column(const char* identifier, const QString& header, PMTableColumn::Cell cell, double width, bool editable)
{
    return PMTableColumn::make(QString::fromLatin1(identifier), header, cell, width, editable);
}

// The filter button's picture: three bars, narrower from top to bottom, in the accent colour
// while the filter is on.
QIcon filterIcon(bool on, const QPalette& palette, double devicePixelRatio)
{
    QPixmap pixmap(QSize(12, 12) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QColor color = on ? palette.color(QPalette::Highlight) : palette.color(QPalette::ButtonText);
    // Drawn from the top: the widest bar lies 8.5 points above the bottom.
    painter.fillRect(QRectF(0, 12 - 8.5 - 2, 12, 2), color);
    painter.fillRect(QRectF(2, 12 - 5 - 2, 8, 2), color);
    painter.fillRect(QRectF(4, 12 - 1.5 - 2, 4, 2), color);
    return QIcon(pixmap);
}

} // namespace

PMInfoTagEditorView::PMInfoTagEditorView(QWidget* parent)
    : QWidget(parent), m_editor(std::make_unique<PMInfoTagEditor>(PMMainController::mainController()))
{
    setObjectName(QStringLiteral("infoTagEditor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_tagList = new PMTagEditorTableView(this);
    m_tagList->setObjectName(QStringLiteral("infoTagTagList"));
    m_propertyList = new PMTagEditorTableView(this);
    m_propertyList->setObjectName(QStringLiteral("infoTagPropertyList"));
    m_tagList->setSiblingEditorTableView(m_propertyList);
    m_propertyList->setSiblingEditorTableView(m_tagList);
    for (PMTagEditorTableView* table : {m_tagList, m_propertyList}) {
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->verticalHeader()->hide();
        table->setShowGrid(false);
    }
    m_tagList->horizontalHeader()->hide();
    m_tagList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tagList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_tagList);

    m_propertiesContainer = new QWidget(this);
    m_propertiesContainer->setObjectName(QStringLiteral("infoTagPropertiesContainer"));
    auto* properties = new QVBoxLayout(m_propertiesContainer);
    properties->setContentsMargins(0, 0, 0, 0);
    properties->setSpacing(4);
    properties->addWidget(m_propertyList, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    m_addButton = new PMOptionalMenuButton(QStringLiteral("+"), m_propertiesContainer);
    m_addButton->setObjectName(QStringLiteral("infoTagAddButton"));
    m_addButton->setToolTip(localized("Add a property (hold for the properties you can add)"));
    m_addButton->setDelegate(this);
    m_addButton->setAction(QStringLiteral("infoAddTag"));
    m_addButton->setTarget(this);
    m_deleteButton = new QToolButton(m_propertiesContainer);
    m_deleteButton->setObjectName(QStringLiteral("infoTagDeleteButton"));
    m_deleteButton->setText(QStringLiteral("\u2212"));
    m_deleteButton->setToolTip(localized("Delete the selected property (Ctrl or Alt: clear all shown properties)"));
    m_filterButton = new QToolButton(m_propertiesContainer);
    m_filterButton->setObjectName(QStringLiteral("infoTagFilterButton"));
    m_filterButton->setToolTip(localized("Show only the properties that are used"));
    m_filterButton->setAutoRaise(true);
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{m_addButton, m_deleteButton})
        button->setFixedSize(24, 22);
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch(1);
    buttons->addWidget(m_filterButton);
    properties->addLayout(buttons);
    layout->addWidget(m_propertiesContainer, 1);

    m_notesContainer = new QWidget(this);
    m_notesContainer->setObjectName(QStringLiteral("infoTagNotesContainer"));
    auto* notes = new QVBoxLayout(m_notesContainer);
    notes->setContentsMargins(0, 0, 0, 0);
    notes->setSpacing(2);
    auto* notesHeader = new QHBoxLayout;
    m_notesSwitch = new QCheckBox(localized("Notes"), m_notesContainer);
    m_notesSwitch->setObjectName(QStringLiteral("infoTagNotesSwitch"));
    m_notesSwitch->setToolTip(localized("On: every movie gets these notes. Off: every movie keeps its own."));
    auto* notesLabel = new QLabel(localized("Notes"), m_notesContainer);
    notesHeader->addWidget(m_notesSwitch);
    notesHeader->addWidget(notesLabel);
    notesHeader->addStretch(1);
    notes->addLayout(notesHeader);
    m_notesField = new PMMetaReferenceTextView(m_notesContainer);
    m_notesField->setObjectName(QStringLiteral("infoTagNotesField"));
    m_notesField->document()->setDocumentMargin(3);
    notes->addWidget(m_notesField, 1);
    layout->addWidget(m_notesContainer);
    // The label stands in for the switch while the switch is hidden.
    notesLabel->setVisible(false);
    m_notesLabel = notesLabel;

    // Typing notes means they are meant for every movie.
    connect(m_notesField, &QPlainTextEdit::textChanged, this, [this] {
        if (m_preparing)
            return;
        if (!m_notesSwitch->isHidden())
            m_notesSwitch->setChecked(true);
        updateInfoTagNotesFieldAndFixAttributes(false);
    });
    // Its height follows its text as the text is laid out.
    connect(m_notesField->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { updateInfoTagNotesFieldAndFixAttributes(false); });
    connect(m_deleteButton, &QToolButton::clicked, this, [this] { performAction(QStringLiteral("infoDeleteTag"), m_deleteButton); });
    connect(m_filterButton, &QToolButton::clicked, this, [this] { filterInfoTags(true); });
    for (PMTagEditorTableView* table : {m_tagList, m_propertyList})
        connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { updateInfoTagButtonsAvailability(); });

    PMMainController& c = controller();
    c.infoTagTagList = m_tagList;
    c.infoTagPropertyList = m_propertyList;
    c.infoTagDeleteButton = m_deleteButton;
    c._updateInfoTagButtonsAvailability = [view = QPointer<PMInfoTagEditorView>(this)] {
        if (view)
            view->updateInfoTagButtonsAvailability();
    };
    c._updateInfoTagNotesFieldAndFixAttributes = [view = QPointer<PMInfoTagEditorView>(this)](bool fix) {
        if (view)
            view->updateInfoTagNotesFieldAndFixAttributes(fix);
    };
    showStateColumn(false);
    updateInfoTagButtonsAvailability();
}

PMInfoTagEditorView::~PMInfoTagEditorView()
{
    PMMainController& c = controller();
    if (c.infoTagTagList == m_tagList)
        c.infoTagTagList = nullptr;
    if (c.infoTagPropertyList == m_propertyList)
        c.infoTagPropertyList = nullptr;
}

PMMainController& PMInfoTagEditorView::controller() const
{
    return m_editor->controller();
}

// ---- Columns and tables --------------------------------------------------------------------

void PMInfoTagEditorView::showStateColumn(bool show)
{
    // The state check box is there only for several movies; the value column takes the room.
    for (PMTagEditorTableView* table : {m_tagList, m_propertyList}) {
        std::vector<PMTableColumn> columns;
        columns.push_back(column("Tag", localized("Property"), PMTableColumn::Cell::Text, 120, table == m_propertyList));
        if (show)
            columns.push_back(column("State", QString(), PMTableColumn::Cell::Check, 24, true));
        columns.push_back(column("Value", localized("Values"), PMTableColumn::Cell::Token, 200, true));
        columns.push_back(column("ChooseValue", QString(), PMTableColumn::Cell::PopUp, 22, true));
        if (table->tableColumns().size() == columns.size())
            continue;
        table->setTableColumns(columns);
        // A section that stretched before keeps its stretched width when it turns fixed:
        // each fixed one is sized again once its mode is set.
        QHeaderView* header = table->horizontalHeader();
        for (int i = 0; i < int(columns.size()); ++i) {
            const bool stretches = columns[size_t(i)].identifier == QLatin1String("Value");
            header->setSectionResizeMode(i, stretches ? QHeaderView::Stretch : QHeaderView::Fixed);
            if (!stretches)
                header->resizeSection(i, int(std::lround(columns[size_t(i)].width)));
        }
    }
}

void PMInfoTagEditorView::reloadTables()
{
    m_tagList->reloadData();
    m_propertyList->reloadData();
    const int rowHeight = int(std::ceil(m_tagList->rowHeight()));
    m_tagList->setFixedHeight(rowHeight + 2 * m_tagList->frameWidth() + 2);
}

void PMInfoTagEditorView::prepareInfoTagEditorIncludingRating(const ArrayPtr& movies, bool includingRating)
{
    m_preparing = true;
    cleanUpCurrentEditor();
    m_editor->prepareInfoTagEditorIncludingRating(movies, includingRating);
    showStateColumn(m_editor->numberOfMovies() > 1);
    reloadTables();
    m_tagList->clearSelection();
    m_propertyList->clearSelection();
    m_notesField->setPlainText(m_editor->notesText());
    m_notesSwitch->setVisible(!m_editor->notesSwitchHidden());
    m_notesLabel->setVisible(m_editor->notesSwitchHidden());
    m_notesSwitch->setChecked(m_editor->notesSwitchOn());
    updateInfoTagNotesFieldAndFixAttributes(true);
    updateInfoTagButtonsAvailability();
    m_preparing = false;
}

void PMInfoTagEditorView::cleanUpCurrentEditor()
{
    for (PMTagEditorTableView* table : {m_tagList, m_propertyList})
        if (table->isEditing())
            table->commitEditing();
}

void PMInfoTagEditorView::absorbInfo(const std::optional<long long>& rating)
{
    cleanUpCurrentEditor();
    std::optional<QString> notes;
    if (m_notesSwitch->isHidden() || m_notesSwitch->isChecked())
        notes = m_notesField->toPlainText();
    m_editor->absorbInfoTags(notes, rating);
}

void PMInfoTagEditorView::releaseInfoTagEditorState()
{
    m_editor->forgetInfoTagEditorState(false);
    reloadTables();
}

void PMInfoTagEditorView::infoCancel()
{
    cleanUpCurrentEditor();
    m_editor->forgetInfoTagEditorState(true);
    reloadTables();
}

void PMInfoTagEditorView::focusPropertyList()
{
    m_propertyList->setFocus(Qt::OtherFocusReason);
}

// ---- Adding, deleting, filtering -----------------------------------------------------------

void PMInfoTagEditorView::selectRecord(const DictionaryPtr& record, bool edit, bool newProperty)
{
    const ArrayPtr shown = controller()._filteredInfoTags;
    const qsizetype index = shown && record ? shown->indexOfIdentical(record.get()) : -1;
    if (index < 0)
        return;
    PMTagEditorTableView* table = index == 0 ? m_tagList : m_propertyList;
    const int row = index == 0 ? 0 : int(index - 1);
    table->selectRow(row);
    table->scrollTo(table->tableModel()->index(row, 0));
    table->setFocus(Qt::OtherFocusReason);
    if (!edit)
        return;
    // Editing starts on the next turn, if nothing else happened meanwhile.
    QTimer::singleShot(0, table, [this, table, row, newProperty] {
        if (!isVisible() || m_tagList->isEditing() || m_propertyList->isEditing() || !table->selectionModel()
            || !table->selectionModel()->isRowSelected(row, QModelIndex()))
            return;
        const int column = table->columnWithIdentifier(newProperty && table == m_propertyList ? QStringLiteral("Tag") : QStringLiteral("Value"));
        if (column >= 0)
            table->editColumn(column, row, true);
    });
}

void PMInfoTagEditorView::infoAddTag(const QString& tagName)
{
    cleanUpCurrentEditor();
    bool isNew = false;
    const DictionaryPtr record = m_editor->infoAddTag(tagName, &isNew);
    reloadTables();
    updateInfoTagNotesFieldAndFixAttributes(false);
    selectRecord(record, true, isNew);
    updateInfoTagButtonsAvailability();
}

void PMInfoTagEditorView::infoDeleteTag(bool clearAll)
{
    if (clearAll) {
        infoClearTags();
        return;
    }
    cleanUpCurrentEditor();
    const ArrayPtr shown = controller()._filteredInfoTags;
    if (!shown)
        return;
    if (m_tagList->selectionModel()->hasSelection()) {
        m_editor->deleteInfoTag(shown->value(0).dictionary(), false);
        m_tagList->reloadData();
    } else if (!m_propertyList->selectionModel()->selectedRows().isEmpty()) {
        const int row = m_propertyList->selectionModel()->selectedRows().first().row();
        m_propertyList->clearSelection();
        m_editor->deleteInfoTag(shown->value(row + 1).dictionary(), false);
        m_propertyList->reloadData();
        updateInfoTagNotesFieldAndFixAttributes(false);
        if (row > 0) {
            m_propertyList->selectRow(row - 1);
            m_propertyList->scrollTo(m_propertyList->tableModel()->index(row - 1, 0));
            m_propertyList->setFocus(Qt::OtherFocusReason);
        }
    }
    updateInfoTagButtonsAvailability();
}

void PMInfoTagEditorView::infoClearTags()
{
    cleanUpCurrentEditor();
    m_tagList->clearSelection();
    m_propertyList->clearSelection();
    m_editor->clearShownInfoTags();
    reloadTables();
    updateInfoTagButtonsAvailability();
    updateInfoTagNotesFieldAndFixAttributes(false);
}

void PMInfoTagEditorView::filterInfoTags(bool toggle)
{
    const bool wasEditing = m_propertyList->isEditing();
    if (wasEditing)
        m_propertyList->commitEditing();
    DictionaryPtr selected;
    const ArrayPtr before = controller()._filteredInfoTags;
    if (!m_propertyList->selectionModel()->selectedRows().isEmpty() && before)
        selected = before->value(m_propertyList->selectionModel()->selectedRows().first().row() + 1).dictionary();
    m_editor->filterInfoTags(toggle);
    m_propertyList->reloadData();
    const ArrayPtr after = controller()._filteredInfoTags;
    const qsizetype index = selected && after ? after->indexOfIdentical(selected.get()) : -1;
    if (index >= 1) {
        m_propertyList->selectRow(int(index - 1));
        m_propertyList->scrollTo(m_propertyList->tableModel()->index(int(index - 1), 0));
        if (wasEditing)
            m_propertyList->setFocus(Qt::OtherFocusReason);
    } else {
        m_propertyList->clearSelection();
    }
    updateInfoTagButtonsAvailability();
}

bool PMInfoTagEditorView::canDeleteSelectedInfoTagListItem() const
{
    const ArrayPtr shown = controller()._filteredInfoTags;
    DictionaryPtr selected;
    if (shown && m_tagList->selectionModel()->hasSelection())
        selected = shown->value(0).dictionary();
    else if (shown && !m_propertyList->selectionModel()->selectedRows().isEmpty())
        selected = shown->value(m_propertyList->selectionModel()->selectedRows().first().row() + 1).dictionary();
    return selected && m_editor->canDeleteInfoTag(selected);
}

void PMInfoTagEditorView::updateInfoTagFilterButtonImage(bool on)
{
    m_filterButton->setIcon(filterIcon(on, palette(), devicePixelRatioF()));
}

void PMInfoTagEditorView::updateInfoTagButtonsAvailability()
{
    m_deleteButton->setEnabled(canDeleteSelectedInfoTagListItem());
    m_filterButton->setVisible(m_editor->filterButtonVisible());
    updateInfoTagFilterButtonImage(PMInfoTagEditor::filterIsOn());
}

void PMInfoTagEditorView::updateInfoTagNotesFieldAndFixAttributes(bool fixAttributes)
{
    if (fixAttributes) {
        const QFont font = backwardsCompatibleSystemFontOfSize(11, 0);
        m_notesField->setFont(font);
        m_notesField->document()->setDefaultFont(font);
    }
    // As tall as its text, at least 55 points; beyond a quarter of the editor only as far
    // as the property list keeps room for its rows.
    const QTextDocument* document = m_notesField->document();
    // The plain text layout measures its height in lines.
    const double textHeight = document->size().height() * QFontMetricsF(m_notesField->font()).lineSpacing() + 2 * document->documentMargin();
    const double chrome = m_notesContainer->height() - m_notesField->height();
    double wanted = std::ceil(textHeight + 2 * m_notesField->frameWidth() + std::max(0.0, chrome));
    wanted = std::max(wanted, kMinimumNotesHeight);
    const double quarter = std::floor(height() / 4.0);
    if (wanted > quarter) {
        const qsizetype rows = std::max<qsizetype>(1, m_propertyList->numberOfRows());
        const double rowsHeight = rows * m_propertyList->rowHeight() + m_propertyList->horizontalHeader()->height() + 2 * m_propertyList->frameWidth();
        const double combined = m_notesContainer->height() + m_propertyList->height();
        wanted = std::max(wanted > combined - rowsHeight ? std::max(quarter, combined - rowsHeight) : wanted, kMinimumNotesHeight);
    }
    if (std::abs(wanted - m_notesContainer->minimumHeight()) > 0.1)
        m_notesContainer->setFixedHeight(int(wanted));
}

void PMInfoTagEditorView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateInfoTagNotesFieldAndFixAttributes(false);
}

// ---- The add button's menu -----------------------------------------------------------------

QMenu* PMInfoTagEditorView::menuForOptionalMenuButton(PMOptionalMenuButton* button)
{
    if (button != m_addButton)
        return nullptr;
    const std::vector<PMInfoAddMenuEntry> entries = m_editor->addMenuEntries();
    if (entries.empty())
        return nullptr;
    if (!m_addMenu)
        m_addMenu = new QMenu(localized("Add"), this);
    m_addMenu->clear();
    for (const PMInfoAddMenuEntry& entry : entries) {
        if (entry.separator) {
            m_addMenu->addSeparator();
            continue;
        }
        QAction* item = m_addMenu->addAction(entry.title);
        platform::setMenuItemAction(item, QStringLiteral("infoAddTag"), this);
        if (!entry.tagName.isEmpty())
            platform::setMenuItemRepresentedObject(item, Value(entry.tagName));
    }
    return m_addMenu;
}

std::optional<bool> PMInfoTagEditorView::waitForMenuForOptionalMenuButton(PMOptionalMenuButton* button)
{
    if (button != m_addButton)
        return std::nullopt;
    return m_editor->waitForAddMenu();
}

// ---- Actions ---------------------------------------------------------------------------------

bool PMInfoTagEditorView::respondsToAction(const QString& action) const
{
    return action == QLatin1String("infoAddTag") || action == QLatin1String("infoDeleteTag") || action == QLatin1String("infoClearTags")
           || action == QLatin1String("filterInfoTags");
}

void PMInfoTagEditorView::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("infoAddTag")) {
        const auto* item = qobject_cast<QAction*>(sender);
        infoAddTag(item ? platform::menuItemRepresentedObject(item).string() : QString());
    } else if (action == QLatin1String("infoDeleteTag")) {
        // Ctrl as well as Alt: Alt+click seldom gets past an X11 window manager.
        infoDeleteTag(sender == m_deleteButton && (QApplication::keyboardModifiers() & (Qt::AltModifier | Qt::ControlModifier)));
    } else if (action == QLatin1String("infoClearTags")) {
        infoClearTags();
    } else if (action == QLatin1String("filterInfoTags")) {
        filterInfoTags(sender != nullptr);
    }
}
