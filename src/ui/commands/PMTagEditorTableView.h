// The info panel's two tag tables (the one-row tag list and the property list): the
// auto-completing table plus a sibling whose selection it clears, so that at most one
// record is selected; a quick click on the last column (released within 0.2 seconds) that
// the data source hears of as the value 1 (it offers the row's values) when "Pop Up
// Property Values After Delay" differs from the Alt key (or Ctrl, which X11 window managers
// let through where they keep Alt+click for themselves); a meta-reference menu for the
// cell being edited (its context menu and Ctrl++); and natural alignment while a cell is
// edited. Main thread only.
#pragma once

#include "platform/EventClock.h"
#include "ui/library_window/PMAutoCompleteTableView.h"

#include <QtCore/QPointer>

#include <memory>

class QAction;
class QMouseEvent;

class PMTagEditorTableView : public PMAutoCompleteTableView {
    Q_OBJECT
public:
    // How long a press on the last column may last to count as a quick click.
    static constexpr double kQuickClickInterval = 0.2;

    explicit PMTagEditorTableView(QWidget* parent = nullptr);
    ~PMTagEditorTableView() override;

    PMTagEditorTableView* siblingEditorTableView() const { return _siblingEditorTableView; }
    void setSiblingEditorTableView(PMTagEditorTableView* sibling) { _siblingEditorTableView = sibling; }
    // The row whose cell is being prepared for editing, -1 at all other times.
    int editedRow() const { return _editedRow; }
    // Whether a press on the last column is waiting for its release.
    bool isWaitingForQuickClick() const { return m_heldPress != nullptr; }

    // Inserts the item's reference into the cell being edited.
    void insertMetaReference(QAction* item);
    bool validateMenuItem(QAction* item);
    // The references the edited cell may take (this table's own row left out).
    QMenu* metaReferenceMenu(QMenu* menu);
    // Opens the reference menu below the edited cell; answers whether it was shown.
    bool popUpMetaReferenceMenu();

    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void deselectSibling();
    // The tag whose reference the edited cell must not offer.
    QString excludedTag() const;
    void forwardHeldPress();

    int _editedRow = -1;
    QPointer<PMTagEditorTableView> _siblingEditorTableView;
    std::unique_ptr<QMouseEvent> m_heldPress;
    int m_heldColumn = -1;
    int m_heldRow = -1;
    platform::OneShotTimer m_quickClickTimer;
};
