// The select-area tool's state machine: the user draws a rectangle over the player,
// adjusts its edges (which snap to the offered aspect ratios) and accepts or cancels it.
// It knows nothing of windows: the overlay feeds it events and pointer movements and
// shows what it answers (the aperture, its emphasised edges, its colour and the message),
// so tests drive it with synthetic events. All points and rectangles are in the overlay's
// coordinates (origin at the bottom left, y grows upwards).
#pragma once

#include "platform/Value.h"
#include "playback/PMOverlayWindows.h"

#include <QtCore/QList>
#include <QtCore/QPointF>
#include <QtCore/QRectF>
#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QCursor>

#include <functional>
#include <optional>

// One event that ends a run of the overlay's event loop.
struct PMSelectAreaEvent {
    enum Type { MouseDown, MouseUp, KeyDown, Other };
    Type type = Other;
    QPointF location;    // where the pointer was
    QString characters;  // the key's characters, ignoring modifiers
};

class PMSelectAreaSession {
public:
    // Set-up.
    QRectF containerFrame;         // the limit of every selection
    QList<double> ratios;          // the noteworthy ratios (width over height) to snap to
    bool hideRatioReadout = false; // no ratio text while the pointer is outside the selection
    bool inContainerCoordinates = false;
    double horizontalExtension = 0; // "Visible Image Area Extension: Horizontal"
    int mode = 1;                   // "Select Area: Mode"
    // A visible-area dictionary ("x", "y", "w", "h" fractions of the container) to start
    // from, or nothing.
    platform::DictionaryPtr initialArea;
    QColor selectedColor = QColor(0, 99, 225);

    // What the session asks of the world: the next event of the overlay's loop (the loop
    // itself calls `update` on every pointer movement after setting `mouseLocation`), the
    // modifier keys held now, pushing and popping the selection cursor, and showing the
    // overlay's state after a change made outside a pointer movement.
    std::function<PMSelectAreaEvent()> nextEvent;
    std::function<Qt::KeyboardModifiers()> modifiers;
    std::function<void(bool push)> pushCursor;
    std::function<void()> refresh;

    // The overlay's state.
    QPointF mouseLocation;
    QRectF apertureFrame;
    PMApertureEdges emphasizedEdges;
    std::optional<QColor> apertureColor;
    QString message;

    // The run's state.
    QRectF selection;
    QPointF anchor;
    bool creating = false, adjusting = false;
    bool topEdge = false, rightEdge = false, bottomEdge = false, leftEdge = false;
    bool cursorPushed = false;

    // The handler of pointer movements: answers the candidate selection for the pointer
    // at `mouseLocation` and sets the overlay's state.
    QRectF update();
    // The whole run: the chosen rectangle, empty when cancelled.
    QRectF run();

private:
    QRectF finish(double minimum);
    void setCursorPushed(bool pushed);
    bool anyEdge() const { return topEdge || rightEdge || bottomEdge || leftEdge; }
    Qt::KeyboardModifiers currentModifiers() const { return modifiers ? modifiers() : Qt::NoModifier; }
    PMSelectAreaEvent next();
};

// The angle (whole degrees, 0 from 360 up) of a drag on the rotate button: half its length.
int PMRotationDragAngle(double dx, double dy);

// The selection cursor: a dashed circle, white under black.
QCursor PMSelectAreaCursor();
