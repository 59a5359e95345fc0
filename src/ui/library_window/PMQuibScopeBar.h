// A bar of button groups above a view that filter what it shows. Each group is a row of
// recessed toggle buttons, optionally with a label and a separator before it; a group
// selects exactly one item (mode 0, radio) or any number (mode 1). When the bar gets too
// narrow, its rightmost groups collapse into pop-up buttons (smart resize) and expand again
// from the left when there is room. Everything the bar shows comes from its delegate.
// Main thread only.
#pragma once

#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QIcon>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QWidget>

#include <limits>
#include <memory>
#include <optional>
#include <vector>

class PMQuibScopeBar;
class QAction;
class QLabel;
class QMenu;

// Text attributes a delegate may give an item's title.
struct PMScopeBarTextAttributes {
    std::optional<QFont> font;
    std::optional<QColor> color;
};

// The bar's data source and delegate. The first five are required; the others answer
// "not implemented" (nullopt, nothing, false) by default, and the bar falls back then.
class QuibScopeBarDelegate {
public:
    virtual ~QuibScopeBarDelegate();
    virtual long long numberOfGroupsInScopeBar(PMQuibScopeBar* scopeBar) = 0;
    virtual QStringList scopeBarItemIdentifiersForGroup(PMQuibScopeBar* scopeBar, long long group) = 0;
    // Empty: no label.
    virtual QString scopeBarLabelForGroup(PMQuibScopeBar* scopeBar, long long group) = 0;
    // 0 one item (radio), 1 any number; anything else counts as 0.
    virtual long long scopeBarSelectionModeForGroup(PMQuibScopeBar* scopeBar, long long group) = 0;
    virtual QString scopeBarTitleOfItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group) = 0;

    // True turns smart resize off (a bar inside a menu).
    virtual std::optional<bool> isMenuScopeBar(PMQuibScopeBar* scopeBar);
    virtual std::optional<bool> assumeDarkModeForScopeBar(PMQuibScopeBar* scopeBar);
    // Without an answer every group but the first gets a separator.
    virtual std::optional<bool> scopeBarShowSeparatorBeforeGroup(PMQuibScopeBar* scopeBar, long long group);
    virtual std::optional<bool> scopeBarEnableItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group);
    virtual std::optional<PMScopeBarTextAttributes> scopeBarTitleAttributesForItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier,
                                                                                         long long group);
    virtual std::optional<QIcon> scopeBarImageForItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group);
    // A view shown at the right end of the bar (the bar becomes its parent); nothing: none.
    virtual QWidget* accessoryViewForScopeBar(PMQuibScopeBar* scopeBar);
    // Answers false when not implemented.
    virtual bool scopeBarSelectedStateChangedForItemInGroup(PMQuibScopeBar* scopeBar, bool selected, const QString& identifier, long long group);
};

// A recessed toggle button of the bar: a rounded, sunken fill while on, a border while the
// pointer is over it. The identifier it stands for is its represented object, the group
// its tag.
class PMQuibScopeBarButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PMQuibScopeBarButton(QWidget* parent = nullptr);
    QString representedObject() const { return _representedObject; }
    void setRepresentedObject(const QString& identifier) { _representedObject = identifier; }
    long long tag() const { return _tag; }
    void setTag(long long tag) { _tag = tag; }
    // Border only while the pointer is inside (the default), or always.
    bool showsBorderOnlyWhileMouseInside() const { return _borderOnlyWhileMouseInside; }
    void setShowsBorderOnlyWhileMouseInside(bool flag);
    void setTitleColor(const QColor& color) { _titleColor = color; }
    bool isHovered() const { return _hovered; }
    // Sized to its title and image.
    void sizeToFit();
    QSize sizeHint() const override;

    // Drawing shared with the pop-ups: the bezel in a frame.
    static void drawRecessedBezel(QPainter& painter, const QRectF& frame, bool on, bool hovered, bool pressed, bool bordered, bool dark,
                                  bool enabled);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString _representedObject;
    long long _tag = 0;
    bool _borderOnlyWhileMouseInside = true;
    bool _hovered = false;
    QColor _titleColor;
};

// The look of a multiple-selection pop-up: a hidden recessed button, always on, lends the
// pop-up its bezel, so that it reads as a selected button of the bar.
class QuibRecessedPopUpButtonCell {
public:
    QuibRecessedPopUpButtonCell();
    ~QuibRecessedPopUpButtonCell();
    void drawBezelWithFrame(QPainter& painter, const QRectF& frame, QWidget* inView, bool bordered, bool hovered, bool pressed);
    void drawTitleWithFrame(QPainter& painter, const QRectF& frame, QWidget* inView, const QString& title, const QIcon& image);
    PMQuibScopeBarButton* button() const { return _button.get(); }

private:
    std::unique_ptr<PMQuibScopeBarButton> _button;
};

// The pop-up a group collapses into: its menu holds the group's items (checked when
// selected); the title names the selection.
class PMQuibScopeBarPopUpButton : public QAbstractButton {
    Q_OBJECT
public:
    PMQuibScopeBarPopUpButton(long long selectionMode, QWidget* parent = nullptr);
    ~PMQuibScopeBarPopUpButton() override;
    QMenu* menu() const { return _menu; }
    bool isBordered() const { return _bordered; }
    void setBordered(bool flag);
    void setImage(const QIcon& image);
    QIcon image() const { return _image; }
    long long selectionMode() const { return _selectionMode; }
    QuibRecessedPopUpButtonCell* recessedCell() const { return _cell.get(); }
    void sizeToFit();
    QSize sizeHint() const override;
    // Opens the menu under the button (tests call it too).
    void showMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    long long _selectionMode = 0;
    QMenu* _menu = nullptr;
    std::unique_ptr<QuibRecessedPopUpButtonCell> _cell; // only in mode 1
    bool _bordered = true;
    bool _hovered = false;
    QIcon _image;
};

class PMQuibScopeBar : public QWidget {
    Q_OBJECT
public:
    explicit PMQuibScopeBar(QWidget* parent = nullptr);
    ~PMQuibScopeBar() override;

    QuibScopeBarDelegate* delegate() const { return _delegate; }
    // Setting a different delegate reloads.
    void setDelegate(QuibScopeBarDelegate* delegate);

    // ---- Content
    // Rebuilds groups and items from the delegate; false when reloading is suspended.
    bool reloadData();
    void sizeToFit();
    void adjustSubviews();
    void resizeSubviewsWithOldSize(QSize oldSize);
    double minimumWidth() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // ---- Selection
    void setSelected(bool selected, const QString& forItem, long long inGroup, bool informDelegate);
    void setSelected(bool selected, const QString& forItem, long long inGroup) { setSelected(selected, forItem, inGroup, true); }
    // A copy of each group's selected identifiers.
    std::vector<QStringList> selectedItems() const { return _selectedItems; }

    // ---- Settings
    bool smartResizeEnabled() const;
    void setSmartResizeEnabled(bool flag);
    bool canReloadData() const { return _canReloadData; }
    void setCanReloadData(bool flag) { _canReloadData = flag; }

    // ---- Styling
    static constexpr double barHeight = 25.0;
    double horizontalInset() const { return 6.0; }
    double fontSize() const { return 11.0; }
    // The medium-weight system font of the bar's size.
    QFont barFont() const;
    QColor labelColor() const;
    QColor gradientTopColor() const;
    QColor gradientBottomColor() const;
    QColor borderColor() const;
    QColor separatorColor() const;
    bool isInDarkMode() const { return _isInDarkMode; }
    // Dark colours for this bar: the delegate's answer, else the view's appearance.
    bool assumesDarkMode() const;

    // ---- Controls
    PMQuibScopeBarButton* buttonForItem(const QString& identifier, long long inGroup, const QString& withTitle,
                                        const std::optional<PMScopeBarTextAttributes>& attributes, const QIcon& image);
    PMQuibScopeBarButton* buttonForItem(const QString& identifier, long long inGroup, const QString& withTitle, const QIcon& image)
    {
        return buttonForItem(identifier, inGroup, withTitle, std::nullopt, image);
    }
    QAction* menuItemForItem(const QString& identifier, long long inGroup, const QString& withTitle, const QIcon& image);
    PMQuibScopeBarPopUpButton* popupButtonForGroup(long long group);
    QLabel* labelFieldWithFrame(const QRect& frame);
    void setControl(QObject* control, const QString& forIdentifier, long long inGroup);
    // The registered control (a button, or a menu item while the group is a pop-up);
    // nothing for a gap or a group beyond the list.
    QObject* getButtonForItem(const QString& identifier, long long inGroup) const;
    void updateMenuTitleForGroupAtIndex(long long group);
    void updateSelectedState(bool selected, const QString& forItem, long long inGroup, bool informDelegate);
    // The action of every button and menu item.
    void scopeButtonClicked(QObject* sender);

    // ---- State, for the window and tests
    qsizetype groupCount() const { return qsizetype(_groups.size()); }
    QStringList identifiersOfGroup(long long group) const;
    bool groupIsInMenuMode(long long group) const;
    PMQuibScopeBarPopUpButton* popupButtonOfGroup(long long group) const;
    QLabel* labelFieldOfGroup(long long group) const;
    long long selectionModeOfGroup(long long group) const;
    // Index of the first group shown as a pop-up; -1 when none.
    long long firstCollapsedGroup() const { return _firstCollapsedGroup; }
    double totalGroupsWidth() const { return _totalGroupsWidth; }
    double totalGroupsWidthForPopups() const { return _totalGroupsWidthForPopups; }
    // The recorded separator positions (nullopt: no separator before that group).
    const std::vector<std::optional<int>>& separatorPositions() const { return _separatorPositions; }
    QWidget* accessoryView() const { return _accessoryView; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Group {
        QStringList identifiers;
        std::vector<QPointer<QObject>> buttons; // buttons, or menu items in menu mode
        long long selectionMode = 0;
        bool menuMode = false;
        bool hasLabel = false;
        bool hasSeparator = false;
        QPointer<QLabel> labelField;
        QPointer<PMQuibScopeBarPopUpButton> popupButton;
        double totalButtonsWidth = 0;
        double widestButtonWidth = 0;
        double cumulativeWidth = 0;
    };
    static constexpr double kNoWidth = 9223372036854775808.0; // 2^63: none recorded yet
    void clearContent();
    // Where a group's content starts after the preceding group (separator and label placed),
    // and places its controls from there; answers the right edge of its last control.
    double layOutGroup(long long group, double x);
    double groupLeftEdge(long long group) const;
    double groupRightEdge(long long group) const;
    void collapseGroup(long long group);
    void expandGroup(long long group);
    void placeAccessoryView();
    static int naturalPopUpWidth(const Group& record);

    QuibScopeBarDelegate* _delegate = nullptr;
    std::vector<Group> _groups;
    QHash<QString, std::vector<QPointer<QObject>>> _identifiers;
    std::vector<QStringList> _selectedItems;
    std::vector<std::optional<int>> _separatorPositions;
    QPointer<QWidget> _accessoryView;
    double _lastWidth = kNoWidth;
    long long _firstCollapsedGroup = -1;
    double _totalGroupsWidth = 0;
    double _totalGroupsWidthForPopups = 0;
    bool _smartResizeEnabled = true;
    bool _isInDarkMode = false;
    bool _canReloadData = true;
};
