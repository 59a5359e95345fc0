// Small classes the windows are built from: grey backgrounds that follow the appearance,
// a check box that hides itself while disabled, a segmented control that drives a stack
// of pages, a table that never takes the keyboard focus, a panel whose key presses go to
// the controller first, and the grid's preview-size slider, whose image at the large end
// lights up while the preview-size adjustment is on. Main thread only.
#pragma once

#include "ui/kit/PMControlSupport.h"
#include "ui/kit/PMSizeToFitControls.h"

#include <QtCore/QPointer>
#include <QtGui/QPixmap>
#include <QtWidgets/QButtonGroup>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QTableView>

class QLabel;

// Which kind of tile the grid shows: covers (true) or previews. Kept by the interface
// refresh of the library window.
extern bool PMIsCoverDisplayMode;

// A background filled with one grey (a white level from 0 to 1).
class PMGrayBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit PMGrayBackgroundView(QWidget* parent = nullptr);
    virtual double whiteLevel() const = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class PMGrayView : public PMGrayBackgroundView {
    Q_OBJECT
public:
    using PMGrayBackgroundView::PMGrayBackgroundView;
    // The grey of the background for a view: darker with increased contrast.
    static double grayWhite(const QWidget* view);
    double whiteLevel() const override { return grayWhite(this); }
};

class PMLightGrayView : public PMGrayBackgroundView {
    Q_OBJECT
public:
    using PMGrayBackgroundView::PMGrayBackgroundView;
    static double grayWhite(const QWidget* view);
    double whiteLevel() const override { return grayWhite(this); }
};

// A check box of the tag editor: while disabled it is not drawn at all, unless the setting
// "Show All Tag Editor Checkboxes" is on.
class PMInvisibleButtonCell : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    bool drawsNothing() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Segments side by side, one selected at a time; selecting one shows the page at the same
// index of the tab view.
class PMTabSegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit PMTabSegmentedControl(QWidget* parent = nullptr);
    void setSegmentLabels(const QStringList& labels);
    // The selected segment; -1 when none is.
    int selectedSegment() const;
    void setSelectedSegment(int index);
    // The selected segment, 0 when none is (so it can stand where a pop-up is expected).
    int indexOfSelectedItem() const;
    QStackedWidget* tabView() const { return _tabView; }
    void setTabView(QStackedWidget* tabView) { _tabView = tabView; }
    QAbstractButton* segmentButton(int index) const;

private:
    QButtonGroup m_group;
    QPointer<QStackedWidget> _tabView;
};

class PMNoKeyTableView : public QTableView {
    Q_OBJECT
public:
    explicit PMNoKeyTableView(QWidget* parent = nullptr);
    bool acceptsFirstResponder() const { return false; }
};

// A key press anywhere in the panel is offered to the controller first
// ("handlePopertyEditorKeyDown"); what it takes goes no further.
class PMPropertyEditorPanel : public QDialog {
    Q_OBJECT
public:
    explicit PMPropertyEditorPanel(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Tool);
    ~PMPropertyEditorPanel() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class PMPreviewSizeSlider : public PMSizeToFitSlider {
    Q_OBJECT
public:
    explicit PMPreviewSizeSlider(QWidget* parent = nullptr);
    ~PMPreviewSizeSlider() override;

    // The action the slider sends: with PMNullObject() when a drag starts, with the slider
    // while the knob moves, with no sender when the drag ends.
    void setAction(const QString& action) { m_targetAction.action = action; }
    void setTarget(QObject* target) { m_targetAction.target = target; }

    void updateMaximumExtremeView();
    void setDoubleValue(double value);
    double doubleValue() const { return value(); }
    bool isDragging() const { return _isDragging; }
    // The image view at the large end of the slider (not owned).
    QLabel* maximumExtremeView() const { return _maximumExtremeView; }
    void setMaximumExtremeView(QLabel* view) { _maximumExtremeView = view; }

protected:
    bool event(QEvent* event) override;
    void sliderChange(SliderChange change) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void sendIfMoved();
    QPixmap _maximumExtremeImage;
    bool _isDragging = false;
    QPointer<QLabel> _maximumExtremeView;
    PMTargetAction m_targetAction;
    int m_lastSentValue = 0;
};
