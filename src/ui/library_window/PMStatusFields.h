// Text fields with a small indicator at their left end: a validity light (valid, invalid,
// none) for fields whose text is checked while the user types, or a magnifier for a field
// that plays the part of a search field (which then draws its own rounded background);
// and the library window's search field, which turns light-on-dark in the black
// interface. Also the duration of the grid's animations. Main thread only.
#pragma once

#include <QtCore/QRectF>
#include <QtGui/QImage>
#include <QtWidgets/QLineEdit>

#include <functional>

// The geometry and drawing the fields share (what a text-field cell answers).
namespace PMStatusIndicatorTextFieldCell {
inline constexpr double kIndicatorWidth = 22;
inline constexpr double kSearchFieldRightMargin = 5;
// The rounded search-field shape's corner radii.
inline constexpr double searchFieldRadii() { return 4.5; }
// With an icon, the indicator's rectangle (22 wide at the left, inset by 1); else empty.
QRectF statusIndicatorFrameForCellFrame(const QRectF& cellFrame, bool showsIcon);
// With an icon, the rest right of the indicator (and 5 less for a search field).
QRectF textFrameForCellFrame(const QRectF& cellFrame, bool showsIcon, bool isSearchField);
// The size widened for the indicator.
QSizeF cellSize(QSizeF base, bool showsIcon, bool isSearchField);
// Where the icon goes inside the indicator rectangle.
QRectF iconFrame(const QRectF& indicator, bool smallControl, bool showsStatus, bool retina);
} // namespace PMStatusIndicatorTextFieldCell

// The magnifier of the search fields (a mask image, tinted when drawn).
QImage PMSearchImage(double pointSize, double devicePixelRatio);

class PMStatusIndicatorTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit PMStatusIndicatorTextField(QWidget* parent = nullptr);

    // 1 valid, -1 invalid, anything else no verdict.
    int status() const { return _status; }
    void setStatus(int status);
    bool showsStatus() const { return _showsStatus; }
    void setShowsStatus(bool shows);
    bool showsIcon() const { return _showsStatus || isSearchField(); }
    virtual bool isSearchField() const { return false; }

    // Moves the text (the editor) right of the indicator.
    void updateEditorFrame();
    // The rounded search-field background: white, or white 0.2 when dark.
    void drawSearchFieldBackground(QPainter& painter);
    QPainterPath searchFieldShape() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void drawIndicator(QPainter& painter, const QRectF& cellFrame);
    int _status = 0;
    bool _showsStatus = false;
};

class PMSearchStatusIndicatorTextField : public PMStatusIndicatorTextField {
    Q_OBJECT
public:
    explicit PMSearchStatusIndicatorTextField(QWidget* parent = nullptr);
    bool isSearchField() const override { return true; }
};

// The library window's search field: in the black interface (unless the field itself is
// drawn dark) white text on a dark rounded gradient; otherwise the usual colours.
class PMAdaptiveSearchField : public PMSearchStatusIndicatorTextField {
    Q_OBJECT
public:
    explicit PMAdaptiveSearchField(QWidget* parent = nullptr);
    // Asked whether the interface is black (in the main window the controller's answer);
    // true when nobody answers.
    std::function<bool()> interfaceDelegate;
    bool hasBlackInterface() const { return interfaceDelegate ? interfaceDelegate() : true; }
    // Whether the light-on-dark look applies now.
    bool usesWhiteText() const;
    // Applies the text colour when the choice changed since the last time.
    void updateTextColor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool _didUseWhiteTextColor = false;
    QPalette m_basePalette;
    bool m_hasBasePalette = false;
};

// The duration of the grid's animations: while Control is held, "Slow-Motion Animation
// Duration" seconds when that is 1 or more; otherwise the given one.
double PMAnimationDuration(double duration);
