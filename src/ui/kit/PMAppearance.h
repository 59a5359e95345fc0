// What every window asks before it draws: dark or light, increased contrast, reduced
// transparency, whether menu items get symbol images; a window's high-density test, a
// view's dark test, the accent colour, the control sizes of the kit and the baseline
// correction of buttons. Main thread only.
#pragma once

#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QPalette>

class QAction;
class QWidget;

bool PMShouldReduceTransparency();
bool PMShouldIncreaseContrast();
// The desktop's colour scheme is dark (appearance portal, else the palette).
bool PMIsDarkInterfaceStyle();
bool PMIsDarkMode();
bool PMIsMenuBarTransparent();
// 0 no symbol images in menus, 1 only for items that are not ornamental, 2 for all;
// computed once per process: the setting "PMEnableMenuActionImages" (a boolean: NO 0,
// YES 2) wins, then "NSMenuEnableActionImages" set to NO gives 0, else the desktop's way.
int PMMenuActionImagesMode();
bool PMShouldSetMenuActionImages();
// Tests: computes the mode again on the next call.
void PMResetMenuActionImagesModeForTesting();

// The window's scale factor exceeds 1.5.
bool isOnRetinaDisplay(const QWidget* window);
// Whether the view is drawn dark: its own palette when it was given one, else the
// desktop's appearance. Without dark mode support, the default.
bool isInFullyInvertedDarkModeWithDefault(const QWidget* view, bool defaultValue);
bool isInFullyInvertedDarkMode(const QWidget* view);

// Gives the item the named icon of the desktop's icon theme when the menu action images
// mode allows it (ornamental items only in mode 2); NO when not allowed, without name,
// when the item has an icon and replacing was not asked for, or when the theme lacks it.
bool setMacOS26ImageWithSystemSymbolName(QAction* item, const QString& symbolName, bool ornamental = true,
                                         bool replaceExistingImage = false);

// The desktop's accent (highlight) colour.
QColor backwardsCompatibleControlAccentColor();

// The contrast ratio of two opaque colours (1 to 21), as readability guidelines measure it.
double PMContrastRatio(const QColor& a, const QColor& b);
// The text colour, moved towards black or white (whichever stands out more from the
// background) just far enough that the two reach the ratio; kept when they already do.
QColor PMReadableTextColor(const QColor& text, const QColor& background, double minimumRatio = 4.5);

// Control sizes of the kit: Qt widgets have one size, so small and mini controls are
// marked on the widget (and get the smaller fonts).
enum class PMControlSize { Regular = 0, Small = 1, Mini = 2 };
PMControlSize controlSize(const QWidget* control);
void setControlSize(QWidget* control, PMControlSize size);

// Aligns the titles of regular-size buttons after a layout change: a combo box whose
// title area starts more than 0.1 away from the combo reference moves by the difference,
// other buttons likewise against the button reference (only when it is above -0.1);
// everything else is visited recursively.
void correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(QWidget* view, double popUpReference,
                                                                                double buttonReference);
void correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(QWidget* view, double popUpReference);
// The y of a button's title area within its bounds (what the correction compares).
double PMTitleRectY(const QWidget* button);

// Keeps the application's palette in step with the desktop: when the desktop is dark but
// the palette in use is light (a desktop whose theme Qt does not read), a dark palette is
// put in place, and taken back when the desktop turns light. Follows changes live.
void PMFollowDesktopAppearance();
// The dark palette used then.
QPalette PMDarkPalette();
