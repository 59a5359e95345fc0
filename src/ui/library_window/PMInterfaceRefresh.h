// The arithmetic of the interface refresh, kept apart from the widgets so that it can be
// checked on its own: which display mode shows, where the preview size slider's knob sits
// for a preview width, and where the header's controls go from left to right.
#pragma once

class PMGroupView;

// Whether the toolbar buttons draw their shapes (recomputed by every refresh), whether the
// tiles sit on a light background (cleared by every refresh, set for the grid's look) and
// whether the grid blends subgroup previews among the movies (the update pipeline's).
extern bool PMShowsToolbarButtonShapes;
extern bool PMUsesLightThumbnailBackground;
extern bool PMBlendsSubgroupPreviews;
extern bool PMUsesLargeContentFont;
// A library update with the selections frozen leaves its refresh to the end of the freeze:
// restoring the selection refreshes the window anyway, and a refresh before that would show
// the content of objects about to be replaced (a second full pass over the content).
extern bool PMInterfaceRefreshAwaitsUnfreeze;
// While a refresh or the restoring of the selections runs, status updates (asked for by
// every step that selects) wait and run once when the outermost one ends.
class PMStatusFieldsHold {
public:
    PMStatusFieldsHold();
    ~PMStatusFieldsHold();
    PMStatusFieldsHold(const PMStatusFieldsHold&) = delete;
    PMStatusFieldsHold& operator=(const PMStatusFieldsHold&) = delete;
    // Whether status updates wait now; a waiting one is noted.
    static bool holdsUpdate();
};

// Display modes, stored per container as "Group Content Display Mode".
enum : long long { PMListDisplayMode = 0, PMPreviewDisplayMode = 10, PMCoverDisplayMode = 11 };

// The mode shown for a stored mode: disabled mode buttons always give the preview grid,
// hidden ones keep only the cover grid; a stored mode that is none of the three is the
// preview grid.
long long PMEffectiveDisplayMode(long long storedMode, bool modeButtonsEnabled, bool modeButtonsHidden);

// The canvas width the slider's column arithmetic uses (the glass look's wider spacing
// taken out). Shared by the slider's action and the refresh that sets its knob.
double PMPreviewSizeSliderCanvasWidth(const PMGroupView* grid);

// The most columns the slider offers: those of its minimum width, but no more than the grid
// shows at that width once it has scaled its tiles up to fill the view (else the slider's
// left part would ask for sizes that are never shown). Without a grid, the plain count.
unsigned PMPreviewSizeSliderMostColumns(const PMGroupView* grid, double minimum, double spacing, double canvasWidth);

// The knob for a preview width `width` on a slider from `minimum` (most columns) to
// `maximum` (one column), linear in the number of columns (`mostColumns`, 0: those that fit
// at the minimum width).
double PMPreviewSizeSliderValue(double width, double minimum, double maximum, double spacing, double canvasWidth, unsigned mostColumns = 0);

// The header row from left to right. Controls that are not shown keep their place.
struct PMHeaderControlFrame {
    bool shown = false;
    double x = 0;
    double width = 0; // for the edit and more buttons: the width their text needs
};

struct PMHeaderLayoutInput {
    double tabViewX = 0;
    double headerWidth = 0; // the width of the search field's superview
    double spacing = 8;
    bool showsButtonShapes = true;
    bool highlightsViaColor = false;
    bool usesGlass = false;
    bool usesConcentricGlass = false;
    PMHeaderControlFrame back, listMode, coverMode, increaseUnits, decreaseUnits, edit, searchField;
    bool canGetMoreOnlineChildren = false;
    double moreButtonWidth = 0; // the width its text needs
    double sliderViewWidth = 0;
    bool sliderShown = false;
};

struct PMHeaderLayout {
    double backX = 0;
    double modeButtonsShift = 0;
    double relativeDateButtonsShift = 0;
    double editX = 0, editWidth = 0;
    double searchFieldX = 0;
    double moreButtonX = 0, moreButtonWidth = 0;
    double sliderViewX = 0;
    bool statusShown = false;
    double statusX = 0, statusWidth = 0;
};

PMHeaderLayout PMComputeHeaderLayout(const PMHeaderLayoutInput& in);

// Set (true) on a header view that places its own controls each time it changes size: the
// refresh then leaves their places alone and only shows, hides and enables them.
inline constexpr const char* PMPlacesItsOwnControlsProperty = "placesItsOwnControls";
