// The handle between the library window's sidebar and its content: dragging it (or the
// 7-point strip over the seam) moves the boundary within the limits the delegate sets, a
// double click or a drag past half the sidebar's minimum width hides or shows the sidebar,
// and the sidebar's width is remembered under the delegate's autosave name. The two sides
// sit in one container; there is no splitter. Main thread only.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QAbstractButton>

class PMZiruderShiftButton;
class QMouseEvent;

class PMZiruderShiftButtonDelegate {
public:
    virtual ~PMZiruderShiftButtonDelegate() = default;
    virtual QString ziruderShiftButtonAutoSaveName(PMZiruderShiftButton* button) = 0;
    virtual double ziruderShiftButtonLeftMinimumWidth(PMZiruderShiftButton* button) = 0;
    // -1: no limit.
    virtual double ziruderShiftButtonRightMinimumWidth(PMZiruderShiftButton* button) = 0;
    virtual void ziruderShiftButtonDidShift(PMZiruderShiftButton* button, bool done) = 0;
};

class PMZiruderShiftButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PMZiruderShiftButton(QWidget* parent = nullptr);

    QWidget* containerView() const { return _containerView; }
    void setContainerView(QWidget* view);
    QWidget* leftView() const { return _leftView; }
    void setLeftView(QWidget* view) { _leftView = view; }
    QWidget* rightView() const { return _rightView; }
    void setRightView(QWidget* view) { _rightView = view; }
    QAbstractButton* visibilityTogglerControl() const { return _visibilityTogglerControl; }
    void setVisibilityTogglerControl(QAbstractButton* control) { _visibilityTogglerControl = control; }
    PMZiruderShiftButtonDelegate* delegate() const { return _delegate; }
    void setDelegate(PMZiruderShiftButtonDelegate* delegate) { _delegate = delegate; }

    // "PMZiruderShiftButton Left Width <autosave name>"; empty without a delegate.
    QString leftColumnAutoSaveName() const;
    double leftMinimumWidth() const;
    double rightMinimumWidth() const;
    // Lays the two sides out with the left side's width changed by delta from the frame,
    // within the limits. Answers whether anything changed.
    bool tileWithDelta(double delta, const QRect& originalLeftFrame);
    bool tileWithDelta(double delta);
    // The stored width (185 when nothing usable is stored) applied.
    void tileUsingLeftColumnAutoSaveName();
    // While the sidebar has width.
    bool canShift() const;
    // The grab strip over the seam: 7 points wide, the container's height; in window
    // coordinates when asked.
    QRect additionalZiruderRectInWindowCoordinates(bool inWindow) const;
    // The window's press dispatch offers every press: one in the strip starts a drag.
    bool handleMouseDown(QMouseEvent* event);

    // The drag as its events arrive (window coordinates of the pointer's x).
    void beginDrag(double windowX, int clickCount);
    void continueDrag(double windowX, bool mouseUp);
    bool isDragging() const { return m_dragging; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void endDrag();
    QPointer<QWidget> _containerView;
    QPointer<QWidget> _leftView;
    QPointer<QWidget> _rightView;
    QPointer<QAbstractButton> _visibilityTogglerControl;
    PMZiruderShiftButtonDelegate* _delegate = nullptr;

    bool m_dragging = false;
    bool m_sidebarVisible = true;
    double m_threshold = 0;
    double m_startX = 0;
    QRect m_originalLeftFrame;
};
