// Rows of a menu that switch on and off without closing the menu: a menu item whose widget
// is a small container holding a check box. The switch sends its action only to its own
// target. While a mouse button is held, every switch the pointer enters flips and shows
// itself highlighted, leaving it flips it back, and releasing over it keeps the flip and
// sends its action: one drag switches several rows.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QWidget>

class QAction;
class QMenu;
class QWidgetAction;

class PMMenuItemSwitch : public QCheckBox {
    Q_OBJECT
public:
    // A switch in a new menu item (no title of its own, no action, tag -1), added to the
    // menu and to the list when given. Without a font: the menu's, else the menu font;
    // a font below 12.5 points makes a small switch. Its width is capped by the user
    // default "PMMenuItemSwitch: Maximum Width" (at least 100; 500 without it).
    static PMMenuItemSwitch* menuItemSwitchWithTitle(const QString& title, const QFont* font, QMenu* addToMenu, QList<QAction*>* addToMenuItems);
    // The menu item the switch is the view of.
    QWidgetAction* enclosingMenuItem() const { return m_item; }

    // The action goes to the target only, never along the responder chain.
    void setTarget(QObject* target) { m_target = target; }
    QObject* target() const { return m_target; }
    void setAction(const QString& action) { m_action = action; }
    QString action() const { return m_action; }
    // Whether the target answers the action; the action is performed with the switch.
    bool sendAction(const QString& action, QObject* to);

    // Mixed allowed: the clicks go mixed, on, off, mixed.
    void setAllowsMixedState(bool allows) { setTristate(allows); }
    void setSwitchState(int state); // 1 on, 0 off, -1 mixed
    int switchState() const;

    // The drag: entering with a button held, leaving, releasing.
    void mouseEntered(Qt::MouseButtons buttons);
    void mouseExited();
    void mouseUp();
    void rightMouseUp() { mouseUp(); }
    void disableMouseDragHighlight();
    bool isHighlightedViaMouseDrag() const { return _isHighlightedViaMouseDrag; }

    // The class-wide settings, read on first use; tests read them again.
    static double leftInset();
    static int maximumWidth();
    static void resetClassSettingsForTesting();

protected:
    // Made inside a new container view; `place` sizes it and makes its menu item.
    PMMenuItemSwitch();
    static void place(PMMenuItemSwitch* s, const QString& title, const QFont* font, QMenu* addToMenu, QList<QAction*>* addToMenuItems);

private:
    QWidgetAction* m_item = nullptr;
    QPointer<QObject> m_target;
    QString m_action;
    bool _isHighlightedViaMouseDrag = false;
    QString _attributedTitle;
    QPalette m_paletteBeforeHighlight;
    int _preMouseDragState = 0;
};

// The menu item's view; its last child is the switch.
class PMMenuItemSwitchContainerView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    PMMenuItemSwitch* menuItemSwitch() const;
};

// Plain items of the menu (not separators, without a widget or an icon) get a blank icon
// so that their titles line up with the switches' titles.
void indentToAlignWithMenuItemSwitches(QMenu* menu);

// A strip painted like a menu bar (the bordered one with a line along its bottom). Inside
// a menu's window nothing is painted.
class PMMenuBarView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawMenuBarViewWithBorder(bool border);
};

class PMBorderedMenuBarView : public PMMenuBarView {
    Q_OBJECT
public:
    using PMMenuBarView::PMMenuBarView;

protected:
    void paintEvent(QPaintEvent* event) override;
};
