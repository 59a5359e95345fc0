// Controls that size themselves to their content whenever it changes (a new title, a new
// selected item, new text) and then move or widen the controls that follow them in a
// row, so that a row stays packed without manual layout. Each control names the next
// control of its row; the chain ends at a control that stretches with its container or
// at a missing link. How a control is anchored horizontally is its autoresizing mask
// (below), set where the row is built. Qt coordinates (top-down), whole points. Main
// thread only.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFrame>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>

class QAbstractButton;

// The horizontal part of a view's autoresizing mask. Flexible left margin only: anchored
// right; flexible right margin only: anchored left; both or neither: centred; flexible
// width: stretches (such a control never sizes itself and ends a chain).
enum PMAutoresizingMask : int {
    PMViewNotSizable = 0,
    PMViewMinXMargin = 1,
    PMViewWidthSizable = 2,
    PMViewMaxXMargin = 4,
};
void setAutoresizingMask(QWidget* view, int mask);
int autoresizingMask(const QWidget* view);

// A view of a chain: it names the next view and sizes itself to its content.
class PMSizeToFitViewProtocol {
public:
    virtual ~PMSizeToFitViewProtocol();
    virtual QWidget* nextSizeToFitView() const = 0;
    virtual void sizeToFit() = 0;
};

// The link to the next view, for the classes of the family.
class PMSizeToFitLink : public PMSizeToFitViewProtocol {
public:
    QWidget* nextSizeToFitView() const override { return _nextSizeToFitView; }
    void setNextSizeToFitView(QWidget* view) { _nextSizeToFitView = view; }

private:
    QPointer<QWidget> _nextSizeToFitView; // not owned
};

// Sizes the view to its content and moves (or widens) the views of its chain by the
// change of its width.
void PMSizeToFitAndShiftChain(QWidget* view);

class PMSizeToFitView : public QWidget, public PMSizeToFitLink {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void sizeToFit() override { resize(sizeHint()); }
};

class PMSizeToFitBox : public QFrame, public PMSizeToFitLink {
    Q_OBJECT
public:
    using QFrame::QFrame;
    // Called once the box is placed in its window (the corrections of the interface files).
    void awakeFromNib();
    void sizeToFit() override { resize(sizeHint()); }
};

// A label that fits its text; with a click button, a click on the label presses that
// check box or radio button (while it is enabled), so the label stands for it.
class PMSizeToFitTextField : public QLabel, public PMSizeToFitLink {
    Q_OBJECT
public:
    using QLabel::QLabel;
    void awakeFromNib();
    void setStringValue(const QString& string);
    void sizeToFit() override { resize(sizeHint()); }
    QAbstractButton* clickButton() const { return _clickButton; }
    void setClickButton(QAbstractButton* button) { _clickButton = button; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QAbstractButton> _clickButton; // not owned
};

// Takes part in chains; does not size itself.
class PMSizeToFitStaticButton : public QPushButton, public PMSizeToFitLink {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    virtual void awakeFromNib();
    void sizeToFit() override { resize(sizeHint()); }
};

// Sizes itself when it is placed and when its title changes.
class PMSizeToFitButton : public PMSizeToFitStaticButton {
    Q_OBJECT
public:
    using PMSizeToFitStaticButton::PMSizeToFitStaticButton;
    void awakeFromNib() override;
    void setTitle(const QString& title);
};

// The tag of a pop-up item lives in its data; a custom item (one that holds a view of
// its own, such as a slider) is marked with this role.
inline constexpr int PMPopUpItemHasCustomViewRole = Qt::UserRole + 40;

class PMSizeToFitStaticPopUpButton : public QComboBox, public PMSizeToFitLink {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    virtual void awakeFromNib();
    void sizeToFit() override { resize(sizeHint()); }
};

// A pop-up button sized to its selected item rather than to its widest item.
class PMSizeToFitPopUpButton : public PMSizeToFitStaticPopUpButton {
    Q_OBJECT
public:
    explicit PMSizeToFitPopUpButton(QWidget* parent = nullptr);
    void awakeFromNib() override;
    void sizeToFit() override;
    void selectItemAtIndex(int index);
    // Selects the item whose tag (its data) is the tag; answers whether one was found.
    bool selectItemWithTag(qint64 tag);
    // A pull-down button keeps its title and size whatever is chosen.
    bool pullsDown() const { return m_pullsDown; }
    void setPullsDown(bool pullsDown) { m_pullsDown = pullsDown; }
    void showPopup() override;

private:
    void itemChosen(int index);
    int m_indexBeforeMenu = -1;
    bool m_pullsDown = false;
};

class PMSizeToFitSlider : public QSlider, public PMSizeToFitLink {
    Q_OBJECT
public:
    explicit PMSizeToFitSlider(QWidget* parent = nullptr) : QSlider(Qt::Horizontal, parent) {}
    virtual void awakeFromNib();
    void sizeToFit() override { resize(width(), sizeHint().height()); }
};

// The frame corrections of controls loaded from interface files, for systems that need
// them (none here, see PlatformProfile.h): a bordered button is inset by 7 points at each
// side, a borderless one by 2.
void PMCorrectButtonFrameFromInterfaceFile(QAbstractButton* button, bool bordered);
