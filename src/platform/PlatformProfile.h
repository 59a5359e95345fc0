// The one place where the program's questions about the running system get their Linux
// answer. The interface code asks these constants, never a system version: each answer
// says which behaviour of the program applies here and why.
#pragma once

namespace platform::profile {

// Dark mode exists on every desktop we run on (the appearance portal or the palette says
// which one is in use).
inline constexpr bool supportsDarkMode = true;

// No Linux desktop draws the menu bar blurred over the wallpaper; a menu bar of a window
// is an ordinary widget row, so it is never treated as transparent.
inline constexpr bool hasTransparentMenuBar = false;

// Menu items may carry icons: Linux styles show an item's icon beside its title.
inline constexpr bool supportsMenuItemImages = true;
// Whether menu items get their symbol images when the user did not choose: 1 = only the
// items whose image carries meaning, not the ornamental ones (desktop menus show icons
// sparingly; ornaments on every row would crowd them).
inline constexpr int defaultMenuActionImagesMode = 1;
// The icon of a menu item is drawn by the style at its own size, so it is handed over
// as it is rather than redrawn into a small fixed square.
inline constexpr bool drawsMenuSymbolsIntoFixedSquare = false;

// Qt's menu sections draw as bare separators in most styles and lose their title, so a
// section header is a disabled item with the header font.
inline constexpr bool usesSystemMenuSectionHeaders = false;

// The menu font size used where a caller asks for "the default size" (negative size),
// in points; the desktop's menus use the system font's size.
inline constexpr double defaultMenuFontSize = 13.0;

// A title's dimmer suffix follows the menu's highlight and the appearance, as a colour
// chosen when the menu is drawn.
inline constexpr bool usesDynamicMenuSuffixColor = true;

// Screens report no camera housing at the top, so no gap is kept under it.
inline constexpr bool screensMayHaveNotch = false;

// Qt lays out its own combo boxes and buttons; the control frame and title position
// corrections of newer Mac systems are not needed.
inline constexpr bool correctsPopUpButtonLayout = false;
inline constexpr bool correctsControlFramesFromInterfaceFiles = false;
// A pop-up button sized to its selected item: Qt measures the item titles exactly as its
// combo box lays them out, so no slack is taken off the width.
inline constexpr double popUpButtonSelectedItemWidthCorrection = 0.0;

// Buttons have one size on Linux styles; the kit's "small" and "mini" controls are
// marked on the widget and get a smaller font (see PMControlSize).
inline constexpr double regularControlFontSize = 13.0;
inline constexpr double smallControlFontSize = 11.0;
inline constexpr double miniControlFontSize = 9.0;

// The window manager draws the title bar, so its accessories sit at the top right of
// the window's content, in a strip of this height, with automatic vertical centring.
inline constexpr double titlebarHeight = 30.0;
inline constexpr bool centersTitlebarAccessories = true;
// Title-bar buttons: small, with a 10-point font and 5 × 0 points of padding.
inline constexpr double titlebarButtonFontSize = 10.0;
inline constexpr double titlebarButtonPaddingWidth = 5.0;
inline constexpr double titlebarButtonPaddingHeight = 0.0;

// Reduced transparency and inverted colours: no Linux desktop reports them; the
// appearance source answers false unless a test sets them.
inline constexpr bool reportsReducedTransparency = false;
inline constexpr bool reportsInvertedColors = false;

// A window whose scale factor exceeds this counts as being on a high-density screen.
inline constexpr double retinaScaleThreshold = 1.5;

// The system font comes in the three weights the program asks for (light, regular,
// medium) from the desktop's font configuration.
inline constexpr bool hasWeightedSystemFont = true;

// How long a web view may keep loading after it was asked to stop before it is
// released anyway: tries, and seconds between them.
inline constexpr int webViewReleaseAttempts = 6;
inline constexpr double webViewReleaseRetryInterval = 5.0;

} // namespace platform::profile
