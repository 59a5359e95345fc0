// The buttons of the library window's header, drawn entirely by the program: a plain look
// with shapes, a simplified look that shows a shape only when pressed (or hovered), light
// and dark. A toolbar button can also pop up a menu; a mode button stays selected when it
// is clicked again. Main thread only.
#pragma once

#include "ui/kit/PMOptionalMenuButton.h"

class QMenu;

// Buttons always show their shapes (the interface refresh decides; starts true).
extern bool PMToolbarButtonsShowShapes;

class PMToolbarButton : public PMOptionalMenuButton {
    Q_OBJECT
public:
    explicit PMToolbarButton(QWidget* parent = nullptr);

    // A click waits (press and hold) for the menu before acting; set by the controller.
    bool waitsForMenu() override { return _waitsForMenu; }
    void setWaitsForMenu(bool waits) { _waitsForMenu = waits; }
    // Whether the last drawing pass wanted a bezel (a hover while the border shows only
    // with the pointer inside).
    bool drawBezel() const { return _drawBezel; }
    void setDrawBezel(bool draw) { _drawBezel = draw; }
    // Tag bits shape a segment of a row: 1 squares the left corners, 2 the right ones.
    int tag() const { return _tag; }
    void setTag(int tag) { _tag = tag; }
    // The border shows only while the pointer is inside.
    bool showsBorderOnlyWhileMouseInside() const { return _showsBorderOnlyWhileMouseInside; }
    void setShowsBorderOnlyWhileMouseInside(bool flag);
    // The image drawn tinted in the content colour (a mask: its opaque pixels count).
    void setImage(const QImage& image) { _image = image; update(); }
    QImage image() const { return _image; }
    enum class ImageScaling { ProportionallyDown, ProportionallyUpOrDown, None };
    void setImageScaling(ImageScaling scaling) { _imageScaling = scaling; }

    QPointF menuEventLocation() const override;
    // The button is on (checkable and checked): its state shows.
    virtual bool isOn() const;
    virtual bool highlightsViaColor(bool on) const;
    virtual bool hasBlackInterface() const;
    // A key equivalent pressed it: drawn pressed, and plain again a second later.
    void performKeyEquivalent();
    // The state a menu item of this button shows: on, off or mixed (-1 off, 0 mixed, 1 on);
    // the answer is whether the item is enabled.
    bool validateMenuItem(QAction* item);

    // The frame rectangle of the drawing rules, for tests.
    QRectF frameRect(bool retina, bool contrast) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool _waitsForMenu = false;
    bool _drawBezel = false;
    bool _hovered = false;
    bool _showsBorderOnlyWhileMouseInside = false;
    int _tag = 0;
    QImage _image;
    ImageScaling _imageScaling = ImageScaling::ProportionallyDown;
};

class PMAdaptiveToolbarButton : public PMToolbarButton {
    Q_OBJECT
public:
    using PMToolbarButton::PMToolbarButton;
    // "Simplify Toolbar Buttons" when set, else whether the main window hides its title bar.
    static bool isSimplified();
    // Hidden or shown: the border then shows only with the pointer inside unless shapes show.
    void setVisible(bool visible) override;
    bool highlightsViaColor(bool on) const override;
    bool hasBlackInterface() const override;
};

// A mode button: clicking it while on does nothing, so the selected mode stays selected.
class PMPreviewModeButton : public PMAdaptiveToolbarButton {
    Q_OBJECT
public:
    explicit PMPreviewModeButton(QWidget* parent = nullptr);
    bool isOn() const override { return isChecked(); }
    void performClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
