// The arithmetic of the player's windows, kept apart from the widgets so that it can be
// checked on its own: the zoom frame that fits the movie to the screen, resizing a window
// so that its player area gets a wanted size, the size a live resize may take with the
// aspect ratio locked, and the picture's frame in a presentation.
//
// Frames here are bottom-up, as the stored sizes and the placements count: x and y are the
// left and the bottom edge, and y grows upwards. `PMBottomUpFromGlobal` and
// `PMGlobalFromBottomUp` convert Qt's top-down screen rectangles.
#pragma once

#include <QtCore/QRectF>
#include <QtCore/QSizeF>
#include <QtCore/QString>

#include <functional>
#include <optional>

// The smallest player area: narrower or lower pictures are not worth a window.
inline constexpr double kPMMinimumPlayerWidth = 153;
inline constexpr double kPMMinimumPlayerHeight = 100;
// The room the library keeps beside the player in the main window.
inline constexpr double kPMMinimumLibraryWidth = 560;

QRectF PMBottomUpFromGlobal(const QRect& global);
QRect PMGlobalFromBottomUp(const QRectF& frame);

// A size as stored text, "{width, height}", in the C locale whatever the user's; reading
// refuses anything else (and sizes that are not finite or negative).
QString PMStringFromSize(const QSizeF& size);
std::optional<QSizeF> PMSizeFromString(const QString& text);

// The zoom frame of a player window. `visible` is the visible frame of the window's screen,
// `frame` the window's frame and `container` the size of its player area; `natural` is the
// picture's natural size (nothing without video: the answer is the visible frame). With the
// lock the window keeps the picture's proportions: it fills the visible height, or the
// visible width when that is narrower; centred, or else keeping its left edge (filling the
// height) or its top edge (filling the width). The player width that results goes out.
struct PMZoomFrame {
    QRectF frame;
    std::optional<double> playerWidth;
};
PMZoomFrame PMPlayerWindowZoomFrame(const QRectF& visible, const QRectF& frame, const QSizeF& container, std::optional<QSizeF> natural,
                                    bool lock, bool center);

// Resizing a window so that its player area gets the wanted size.
struct PMResizeWindowRequest {
    QRectF frame;           // the window's frame
    QSizeF container;       // the player area's size
    double containerY = 0;  // the player area's bottom above the window's bottom
    QSizeF wanted;
    bool isMainWindowSize = false; // the wanted height counts from the window's bottom
    QRectF visible;         // the visible frame of the window's screen
    bool isMainWindow = false;
    bool resizeFromLeft = false;   // "Player Width: Resize From Left"
    // For the player window with a current movie: the zoom frame with the lock, not
    // centred (and changing the magnification); asked only when the height does not fit.
    std::function<QRectF()> zoomFrame;
};
QRectF PMResizedWindowFrame(const PMResizeWindowRequest& request);

// The size a live resize of a player window may take. `proposed` is the size the user
// drags to; the picture has the natural size `natural` (each side at least 1). With the
// lock the height follows the width, never lower than 100 points, never narrower than 153,
// never below `visibleBottom` (the window keeps its top edge). The magnification and the
// player width that result go out.
struct PMLiveResize {
    QSizeF size;
    double magnification = 1;
    double playerWidth = 0;
};
PMLiveResize PMPlayerWindowWillResize(const QSizeF& proposed, const QRectF& frame, const QSizeF& container, QSizeF natural, bool lock,
                                      double visibleBottom, double minimumWidth);

// The picture's frame on a presentation screen of the size `screen` (bottom-up, origin at
// the screen's lower left). `notch` is the camera gap at the top, `controlsMode` the
// "Presentation Playback Controls" (-1 a band below, 0 hovering, other a band above) and
// `presentationMode` the "Presentation Mode" (1 fills the screen and crops the overflow,
// anything else fits the whole picture). Nothing for a picture without size.
std::optional<QRectF> PMPresentationPictureFrame(const QSizeF& screen, double notch, int controlsMode, int presentationMode, QSizeF picture);

// The player's scale after one step of the scale commands: up to the next half step
// (1.0 → 1.5, 1.2 → 1.5), down to the one below (1.0 → 0.5, 1.2 → 1.0), never below 0.5.
double PMNextMagnificationStep(double magnification, bool up);
