#include "ui/commands/PMTagEditorTableView.h"

#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMetaReferenceTokenField.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>

using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMTagEditorTableView", text);
}

} // namespace

PMTagEditorTableView::PMTagEditorTableView(QWidget* parent) : PMAutoCompleteTableView(parent) {}

PMTagEditorTableView::~PMTagEditorTableView() = default;

void PMTagEditorTableView::deselectSibling()
{
    if (_siblingEditorTableView && _siblingEditorTableView->selectionModel())
        _siblingEditorTableView->clearSelection();
}

// ---- Meta references ---------------------------------------------------------------------

QString PMTagEditorTableView::excludedTag() const
{
    const PMMainController& c = controller();
    if (!c._filteredInfoTags)
        return {};
    qsizetype index = -1;
    if (this == c.infoTagTagList.data())
        index = 0;
    else if (editedIndex().isValid())
        index = editedIndex().row() + 1;
    const platform::DictionaryPtr record = index >= 0 ? c._filteredInfoTags->value(index).dictionary() : nullptr;
    return record ? record->value(QStringLiteral("Tag")).string() : QString();
}

void PMTagEditorTableView::insertMetaReference(QAction* item)
{
    if (!item)
        return;
    const Value object = platform::menuItemRepresentedObject(item);
    if (object.isString())
        insertTokenEditingString(object.string());
}

QMenu* PMTagEditorTableView::metaReferenceMenu(QMenu* menu)
{
    return populateMetaReferenceMenu(menu, window(), excludedTag(), [this](const QString& reference) { insertTokenEditingString(reference); });
}

bool PMTagEditorTableView::validateMenuItem(QAction* item)
{
    if (!item || platform::menuItemAction(item) != QLatin1String("insertMetaReference"))
        return true;
    if (item->menu())
        metaReferenceMenu(item->menu());
    return !tokenEditingColumnIdentifier().isEmpty();
}

bool PMTagEditorTableView::respondsToAction(const QString& action) const
{
    if (action == QLatin1String("insertMetaReference"))
        return !tokenEditingColumnIdentifier().isEmpty();
    return PMAutoCompleteTableView::respondsToAction(action);
}

void PMTagEditorTableView::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("insertMetaReference")) {
        insertMetaReference(qobject_cast<QAction*>(sender));
        return;
    }
    PMAutoCompleteTableView::performAction(action, sender);
}

bool PMTagEditorTableView::popUpMetaReferenceMenu()
{
    if (tokenEditingColumnIdentifier().isEmpty())
        return false;
    QMenu menu(this);
    metaReferenceMenu(&menu);
    const QRect cell = visualRect(editedIndex());
    menu.exec(viewport()->mapToGlobal(cell.bottomRight() - QPoint(27, -2)));
    return true;
}

bool PMTagEditorTableView::eventFilter(QObject* watched, QEvent* event)
{
    QLineEdit* editor = fieldEditor();
    if (editor && watched == editor && !tokenEditingColumnIdentifier().isEmpty()) {
        if (event->type() == QEvent::ContextMenu) {
            // The editor's own commands, then the references it may take.
            auto* contextEvent = static_cast<QContextMenuEvent*>(event);
            std::unique_ptr<QMenu> menu(editor->createStandardContextMenu());
            menu->addSeparator();
            metaReferenceMenu(menu->addMenu(localized("Insert Reference")));
            menu->exec(contextEvent->globalPos());
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Plus && (key->modifiers() & Qt::ControlModifier) && !(key->modifiers() & Qt::MetaModifier))
                return popUpMetaReferenceMenu();
        }
    }
    return PMAutoCompleteTableView::eventFilter(watched, event);
}

// ---- Editing -------------------------------------------------------------------------------

bool PMTagEditorTableView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    _editedRow = index.isValid() ? index.row() : -1;
    const bool began = PMAutoCompleteTableView::edit(index, trigger, event);
    // The text being edited reads from its natural side, whatever the cell's alignment.
    if (began && fieldEditor())
        fieldEditor()->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    _editedRow = -1;
    return began;
}

// ---- Mouse and keys ----------------------------------------------------------------------

void PMTagEditorTableView::focusInEvent(QFocusEvent* event)
{
    PMAutoCompleteTableView::focusInEvent(event);
    deselectSibling();
}

void PMTagEditorTableView::mousePressEvent(QMouseEvent* event)
{
    if (m_heldPress)
        forwardHeldPress();
    const QModelIndex index = indexAt(event->position().toPoint());
    // 1. Below the last row: nothing is selected in either table.
    if (numberOfRows() >= 1 && !index.isValid()) {
        clearSelection();
        deselectSibling();
        return;
    }
    // 2. The last column, when the values pop up after a delay unless Alt is held (or the
    // other way round): a quick click offers the row's values. Ctrl counts as Alt: most X11
    // window managers keep Alt+click for moving windows and never pass it on.
    const int lastColumn = int(tableColumns().size()) - 1;
    if (index.isValid() && index.column() == lastColumn && event->button() == Qt::LeftButton) {
        const bool delayed = prefs::get(prefs::keys::PopUpPropertyValuesAfterDelay);
        const bool alt = event->modifiers() & (Qt::AltModifier | Qt::ControlModifier);
        if (delayed != alt) {
            m_heldPress.reset(event->clone());
            m_heldColumn = index.column();
            m_heldRow = index.row();
            m_quickClickTimer.start(kQuickClickInterval, [this] { forwardHeldPress(); });
            event->accept();
            return;
        }
    }
    // 3. Everything else as the table does it.
    PMAutoCompleteTableView::mousePressEvent(event);
    deselectSibling();
}

void PMTagEditorTableView::forwardHeldPress()
{
    m_quickClickTimer.stop();
    std::unique_ptr<QMouseEvent> press = std::move(m_heldPress);
    if (!press)
        return;
    // Held too long: the press selects, drags or edits as any other.
    PMAutoCompleteTableView::mousePressEvent(press.get());
    deselectSibling();
}

void PMTagEditorTableView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_heldPress)
        return; // still waiting for the release
    PMAutoCompleteTableView::mouseMoveEvent(event);
}

void PMTagEditorTableView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_heldPress && event->button() == Qt::LeftButton) {
        m_quickClickTimer.stop();
        m_heldPress.reset();
        const QString identifier = identifierOfColumn(m_heldColumn);
        controller().tableViewSetObjectValue(this, Value(1LL), identifier, m_heldRow);
        deselectSibling();
        event->accept();
        return;
    }
    PMAutoCompleteTableView::mouseReleaseEvent(event);
}
