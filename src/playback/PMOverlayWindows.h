// Surfaces drawn straight onto the screen above the other windows: a borderless window
// without shadow that lets the pointer through, never takes the focus and draws its whole
// content through one overridable operation; and the full-screen message window built on
// it (a tinted veil with an optional clear aperture, marching or solid frame lines,
// crosshairs, guide lines for noteworthy aspect ratios and a fitted message), which can
// also run a small loop that hands every pointer movement to a handler.
#pragma once

#include <QtCore/QPointer>
#include <QtCore/QRectF>
#include <QtGui/QColor>
#include <QtGui/QPixmap>
#include <QtWidgets/QWidget>

#include <functional>
#include <optional>

#include <QtCore/QEvent>
class QPainter;
class QScreen;

// Whether the window system blends translucent windows with what lies below them. Where
// it does not, overlays are drawn opaque.
bool PMWindowSystemComposites();

// Fills the four edges of the rectangle one point wide with the painter's current brush
// colour, replacing what is there.
void PMDrawOnePointFrame(QPainter& painter, const QRectF& rect, const QColor& color);

class PMSelfDrawingOverlayWindowContentView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Unflipped views draw with the origin at the bottom left.
    bool isFlipped() const { return flipped; }
    void setFlipped(bool f) { flipped = f; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool flipped = false;
};

class PMSelfDrawingOverlayWindow : public QWidget {
    Q_OBJECT
public:
    // A window above the others (level > 0) or in the ordinary layer.
    static void configureWindow(QWidget* window, QSizeF size, int level, bool flipContent);
    // A hidden overlay over the frame (screen coordinates).
    static PMSelfDrawingOverlayWindow* overlayWindowWithFrame(const QRect& frame, int level, bool flipContent = false);

    bool isOpaque() const { return false; }
    bool canBecomeKeyWindow() const { return false; }
    bool canBecomeMainWindow() const { return false; }
    int level() const { return m_level; }
    PMSelfDrawingOverlayWindowContentView* contentView() const;
    // Drawn first where the window system does not blend translucent windows.
    QPixmap backdrop;

    // The whole drawing; bounds and points in the content view's coordinates (bottom-up
    // unless the content is flipped). By default a light one-point frame around a faint veil.
    virtual void drawOverlayInBounds(QPainter& painter, const QRectF& bounds, PMSelfDrawingOverlayWindowContentView* view);
    static void drawDefaultOverlay(QPainter& painter, const QRectF& bounds);

protected:
    explicit PMSelfDrawingOverlayWindow(QWidget* parent = nullptr);
    int m_level = 0;
};

// Mouse events pass and nothing activates: the panel form of the same overlay.
class PMSelfDrawingOverlayPanel : public PMSelfDrawingOverlayWindow {
    Q_OBJECT
public:
    static PMSelfDrawingOverlayPanel* overlayPanelWithFrame(const QRect& frame, int level, bool nonActivating = false, bool flipContent = false);

protected:
    using PMSelfDrawingOverlayWindow::PMSelfDrawingOverlayWindow;
};

struct PMApertureEdges {
    bool top = false, right = false, bottom = false, left = false;
};

class PMFullScreenMessageWindow : public PMSelfDrawingOverlayWindow {
    Q_OBJECT
public:
    using MouseMovedHandler = std::function<void(PMFullScreenMessageWindow*)>;
    // Covers the screen of the view's window (the first screen without a view) at level
    // 999; not shown yet.
    static PMFullScreenMessageWindow* fullscreenWindowWithMessage(const QString& message, QWidget* overView, double alphaValue,
                                                                  MouseMovedHandler mouseMovedHandler);
    static PMFullScreenMessageWindow* fullscreenWindowWithMessage(const QString& message);
    static PMFullScreenMessageWindow* fadeInFullscreenWindowWithMessage(const QString& message, double alphaValue);
    // "PMFullScreenMessageWindowAnimationInterval", read once; 0.7 s when not a number.
    static double animationInterval();

    void sizeToFit();
    // Runs until a mouse-down or -up (or another event than pointer movement, modifier
    // changes and the periodic redraws); answers that event's type.
    QEvent::Type nextMouseEvent();

    bool drawsHalfApertureFrameLines = false;
    PMApertureEdges apertureFrameEmphasizedEdges;
    QString message;
    QPointer<QWidget> messageView;
    double maximumMessageHeight = -1;
    std::optional<QColor> storedTintColor;
    QColor tintColor() const { return storedTintColor.value_or(QColor::fromRgbF(0.4f, 0.2f, 0.0f, 1.0f)); }
    std::optional<QColor> apertureColor;
    QList<double> noteworthyApertureAspectRatios;
    MouseMovedHandler mouseMovedHandler;
    QPointF mouseLocation; // window coordinates, bottom-up
    QString lastKeyCharacters; // of the key press that ended the last loop
    QRectF apertureFrame;  // window coordinates, bottom-up; empty for none

    void drawOverlayInBounds(QPainter& painter, const QRectF& bounds, PMSelfDrawingOverlayWindowContentView* view) override;

protected:
    using PMSelfDrawingOverlayWindow::PMSelfDrawingOverlayWindow;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointF bottomUpPoint(const QPointF& globalPoint) const;
    bool m_inLoop = false;
    QEvent::Type m_endingEvent = QEvent::None;
};

// A marching (dashed, moving) line or rectangle; bottom-up coordinates as the overlay's.
void PMDrawMarchingRect(QPainter& painter, QRectF rect, const PMApertureEdges* edges, double phase);
