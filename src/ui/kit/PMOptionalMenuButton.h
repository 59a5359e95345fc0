// Buttons that carry a menu besides their action: pressing and holding the button, or a
// right click, opens a menu that a delegate supplies; a button without an action opens
// its menu at once; a delegate may instead turn a press-and-drag into a stream of drag
// offsets (the rotate button rotates the movie by dragging). Also the context buttons of
// the player, the aspect-ratio button and the list-bar buttons with their background.
// Main thread only.
#pragma once

#include "platform/Responder.h"
#include "platform/EventClock.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/kit/PMSizeToFitControls.h"

#include <QtCore/QPointer>
#include <QtWidgets/QPushButton>

#include <optional>

class QMenu;
class PMOptionalMenuButton;

// Every operation but the first is optional: the defaults answer "not implemented".
class PMOptionalMenuButtonDelegate {
public:
    virtual ~PMOptionalMenuButtonDelegate();
    // The menu to open; nothing for none. The delegate keeps it.
    virtual QMenu* menuForOptionalMenuButton(PMOptionalMenuButton* button) = 0;
    // Whether a press waits before the menu opens.
    virtual std::optional<bool> waitForMenuForOptionalMenuButton(PMOptionalMenuButton* button);
    // Called first without an event and with a zero offset, to ask whether this press may
    // be a drag; then for every drag event with the offset of the pointer from where the
    // press began, in window coordinates.
    virtual std::optional<bool> processDragEvent(QMouseEvent* event, QPointF withDelta, PMOptionalMenuButton* forOptionalMenuButton);
};

class PMOptionalMenuButton : public QPushButton {
    Q_OBJECT
public:
    explicit PMOptionalMenuButton(QWidget* parent = nullptr);
    explicit PMOptionalMenuButton(const QString& title, QWidget* parent = nullptr);
    ~PMOptionalMenuButton() override;

    // The action the button sends (to the target, else along the responder chain).
    void setAction(const QString& action) { m_targetAction.action = action; }
    QString action() const { return m_targetAction.action; }
    void setTarget(QObject* target) { m_targetAction.target = target; }
    QObject* target() const { return m_targetAction.target; }
    bool targetAnswersAction() { return m_targetAction.targetAnswers(this); }
    // Sends the action with the button as sender, when its target answers it.
    bool sendAction();

    PMOptionalMenuButtonDelegate* delegate() const { return _delegate; }
    void setDelegate(PMOptionalMenuButtonDelegate* delegate) { _delegate = delegate; }

    // Whether a press waits half a second before the menu opens: only with an action its
    // target answers, unless the delegate says otherwise.
    virtual bool waitsForMenu();
    bool isMenuVisible() const { return _isMenuVisible; }
    // Where the menu opens, in the button's coordinates.
    virtual QPointF menuEventLocation() const;
    // Starts handling a press; answers whether the button took it (false: the ordinary
    // button handles the press).
    bool popUpMenuWithEvent(QMouseEvent* event, bool wait, bool drag);

    // How long a press is held before the menu opens.
    static constexpr double kMenuHoldDelay = 0.5;
    // Closes the menu a button has open, if any (there is one popup at a time).
    static void closeOpenMenu();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class PressState { Idle, Waiting, AwaitingFirstEvent, Dragging, MenuOpen, Tracking };
    bool openMenuOrGoOn();
    bool beginDragOrGiveUp();
    void holdElapsed();
    void endPress();

    bool _isMenuVisible = false;
    PMOptionalMenuButtonDelegate* _delegate = nullptr; // not owned
    PMTargetAction m_targetAction;
    PressState m_state = PressState::Idle;
    bool m_dragAllowed = false;
    QPointF m_pressWindowLocation, m_pressLocation, m_lastLocation;
    platform::OneShotTimer m_holdTimer;
};

class PMSizeToFitOptionalMenuButton : public PMOptionalMenuButton, public PMSizeToFitLink {
    Q_OBJECT
public:
    using PMOptionalMenuButton::PMOptionalMenuButton;
    void awakeFromNib();
    void setTitle(const QString& title);
    QPointF menuEventLocation() const override;
    void sizeToFit() override { resize(sizeHint()); }
};

// A button of the player's controls: it can be pressed by a menu item's shortcut
// ("performClick"), and an emphasized one is tinted in the accent colour (or, for the
// aspect-ratio button, lifted by a drop shadow).
class PMContextButton : public PMOptionalMenuButton, public platform::Responder {
    Q_OBJECT
public:
    explicit PMContextButton(QWidget* parent = nullptr);
    QPointF menuEventLocation() const override;

    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;
    bool validateMenuItem(QAction* item) override;

    // Shows the button pressed, sends its action, and lets go 0.2 s later.
    void performClick(QObject* sender);

    virtual bool emphasizeViaDropShadow() const { return false; }
    // The palette an emphasized button draws with.
    virtual QPalette emphasizedAppearance() const;
    void setEmphasized(bool emphasized);
    bool emphasized() const { return _emphasized; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool _emphasized = false;
    platform::OneShotTimer m_unhighlightTimer;
};

class PMAspectRatioButton : public PMContextButton {
    Q_OBJECT
public:
    using PMContextButton::PMContextButton;
    bool emphasizeViaDropShadow() const override { return true; }
    QPalette emphasizedAppearance() const override;
};

// The background of the bars under lists: a border on the left, the right and the top
// around a white (or, dark, nearly black) inside.
class PMListBarView : public QWidget {
    Q_OBJECT
public:
    explicit PMListBarView(QWidget* parent = nullptr);
    static void drawBackgroundInBounds(QPainter& painter, const QRectF& bounds, const QWidget* forView, bool highlight);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class PMListBarButton : public PMOptionalMenuButton {
    Q_OBJECT
public:
    explicit PMListBarButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
