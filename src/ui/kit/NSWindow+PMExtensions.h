// What every window of the program does the same way: finding its screen and the usable
// area, fading in and out with completion handlers and a fading status, centring (once),
// fitting its height to its content, title-bar accessories. Windows are top-level
// QWidgets. Main thread only.
#pragma once

#include <QtCore/QPointer>
#include <QtCore/QRect>
#include <QtCore/QSizeF>
#include <QtCore/QString>

#include <functional>

class QAbstractButton;
class QPushButton;
class QScreen;
class QWidget;

// ---- Interface files ----
// Builds the named interface with the owner; what it made lives as long as the process.
// NO when no builder is known or it failed.
bool vintageStyleLoadNibNamed(const QString& name, QObject* owner);

// ---- Screens ----
// The window's screen, else the primary one.
QScreen* screenForWindow(const QWidget* window);
// The gap under a camera housing at the top of the screen (none on Linux screens).
double notchGap(const QScreen* screen);
// The screen's usable area (panels and docks excluded), narrowed by the extra spacing
// "PMVisibleFrameExtraDockSpacing" on each side where a panel or dock takes room (the
// usable edge lies more than 10 points inside the screen): left, right and bottom,
// never at the top. Qt coordinates (top-down).
QRect visibleFrameWithExtraDockSpacing(const QScreen* screen);
QRect visibleFrameWithExtraDockSpacing(const QRect& screenFrame, const QRect& visibleFrame, int extraSpacing);

// ---- Child windows ----
// A child window rides on its parent (floating controls, overlays): it is never ordered
// on its own, and fading it out only makes it transparent.
void setChildWindow(QWidget* window, bool isChild);
bool isChildWindow(const QWidget* window);

// ---- Fading ----
// 0 none, 1 fading in, 2 fading out.
int windowFadingStatus(const QWidget* window);
void setWindowFadingStatus(QWidget* window, int status);
// The window's own duration (property "windowFadingDuration") when it has one, else the
// setting "PMWindowFadingDuration" when it is a number, else 0.15 s. Below 0.05 s
// nothing is animated.
double windowFadingDuration(const QWidget* window);

using PMWindowCompletionHandler = std::function<void()>;
void setAlphaValue(QWidget* window, double alpha, bool orderFront, bool fadeIn, PMWindowCompletionHandler completionHandler);
void fadeInWithAlphaValue(QWidget* window, double alpha);
// Overtakes a running fade-out: the window stays open and reaches the alpha at once.
void stopFadingOutAndSetAlphaValue(QWidget* window, double alpha);
void orderFrontWithAlphaValue(QWidget* window, double alpha, bool fadeIn, PMWindowCompletionHandler completionHandler);
void orderFrontWithAlphaValue(QWidget* window, double alpha, bool fadeIn);
void orderFrontAndFadeIn(QWidget* window);
// Fades out and closes; a window already fading out is left alone (the handler does
// not run). A fade-in started meanwhile cancels the close.
void fadeOutAndCloseWithCompletionHandler(QWidget* window, PMWindowCompletionHandler completionHandler);
void fadeOutAndClose(QWidget* window);
// Fades out and closes at the next key press, click or scroll, or after 60 s.
void fadeOutAndCloseAfterNextEvent(QWidget* window);
void closeRegardless(QWidget* window);

// ---- Placement ----
// The name a window's frame is remembered under.
void setFrameAutosaveName(QWidget* window, const QString& name);
QString frameAutosaveName(const QWidget* window);
// Centres the parent window of a child window, else the window in its screen's usable
// area (not sheets, not windows without title bar).
void center(QWidget* window);
// With a frame-autosave name, centres only the first time ever
// ("NSWindow+PMExtensions Centered %@"); without, always.
void centerOnce(QWidget* window);
// Makes the window as high as the view's visible subviews need, plus the margin below
// them; the top edge stays. The checking of plain container views is always on.
void updateFrameWithHeightFittingSubviewsOfView(QWidget* window, QWidget* view, double bottomMargin, bool checkSubviews, bool animate);
void updateFrameWithHeightFittingSubviewsOfView(QWidget* window, QWidget* view, double bottomMargin, bool animate);
void makeViewFirstResponderIfAppropriate(QWidget* window, QWidget* view);
// The window fills its screen exactly.
bool isFullscreenContentWindow(const QWidget* window);

// ---- Title-bar accessories ----
// The window manager draws the title bar, so accessories sit in the window's top right
// corner, over its content. The container that holds the view, or nothing.
QWidget* titlebarAccessoryViewControllerForView(const QWidget* window, const QWidget* view);
// Zero size: the view keeps its fitted size. With automatic correction, the vertical
// padding centres the view in a 30-point strip.
void addTitlebarView(QWidget* window, QWidget* view, const QSizeF& size, const QSizeF& padding, bool correctPaddingAutomatically);
void addTitlebarView(QWidget* window, QWidget* view, const QSizeF& size, const QSizeF& padding);
void addTitlebarView(QWidget* window, QWidget* view, const QSizeF& padding);
void removeTitlebarView(QWidget* window, QWidget* view);
void removeAndDereferenceTitlebarView(QWidget* window, QPointer<QWidget>& view);
// A small button that sends the action to the target (nothing: along the responder
// chain), added as an accessory.
QPushButton* addTitlebarButtonWithTitle(QWidget* window, const QString& title, const QString& action, QObject* target);
