// The behaviour of the grid's tiles that is not drawing: what a press does (selection,
// tracking, the tile's action), the item-count text of group tiles, the overlay and
// badge rules of the movie tile, and the hover-frame cycling of a movie tile with a
// clock that the grid (or a test) steers.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtCore/QRectF>
#include <QtCore/QSizeF>

class QPainter;
class QPainterPath;


#include <cstddef>
#include <cstdint>
#include <functional>

class PMLibraryContainer;
class PMGroupView;

// ---- Clicks

// What the grid does with a left press on a tile, decided before the release.
struct PMPreviewClickPlan {
    enum class Selection {
        Toggle,         // Command: this tile toggled, others kept
        Extend,         // Shift: the selection extended to this tile
        Alone,          // released without a drag: this tile alone
        ToggleKeep,     // behaviour 2 or more: this tile toggled, others kept
    };
    Selection selection = Selection::Alone;
    bool keepInitialSelection = false; // the tracking keeps the selection as it was
    bool move = true;                  // the press may start a drag of the tiles
    bool performAction = false;        // released without a drag: the tile's action runs
    bool operator==(const PMPreviewClickPlan&) const = default;
};

// command: the platform's Command (Control here); shift; clickCount of the press;
// behavior: the tile's single-click behaviour.
PMPreviewClickPlan PMPreviewClickPlanFor(bool command, bool shift, int clickCount, std::int64_t behavior);

// "Preview Single-Click Behavior" (0 when absent); group tiles follow it only with
// "Preview Single-Click Behavior: Apply To Subgroups", else they act on a single click.
std::int64_t PMPreviewSingleClickBehavior(bool groupTile);

// ---- Texts and shapes

// The inset of a tile's label from its sides.
double PMPreviewLabelInset();
// The tiles' label font: 11 points (13 with the large content font), regular for an
// unselected tile in the light look, else medium.
QFont PMPreviewLabelFont(bool selected, bool largeFont);
// A tile's name, vertically centred in the rectangle, truncated at the tail.
void PMPreviewDrawLabel(QPainter& painter, const QString& name, const QRectF& rect, bool center, bool selected, const QColor& color,
                        bool largeFont = false);

// The count a group tile's badge shows, after "Item Count Mode" and "Show Zero Item
// Counts"; empty for no badge.
QString PMItemCountString(PMLibraryContainer& container);

// Whether an image of aspect ratio r stands out in an area of ratio t enough to be
// repeated as an overlay over its own blurred copy.
bool PMShapesDifferMarkedly(double r, double t);

// A group tile's badge is drawn only when more than 30 points of label stay beside it.
inline constexpr double PMGroupTileBadgeExtra = 8.0;
bool PMGroupTileBadgeFits(double labelWidth, double badgeTextWidth);

// ---- The movie tile's look

// The ring of a movie whose file is missing while its volume is there.
QColor PMMovieTileMissingFileColor();
// The stars' tint (PMRatingCell): 0 white, 1 grey, 2 gold.
int PMMovieTileRatingTint(bool onColour, bool dark, bool missing, bool labelsBelow, double rating);
// A circle with a play triangle (or an eye for a look without playing), scaled into the
// middle of the rectangle, at 0.8 opacity.
void PMDrawMovieTileHoverGlyph(QPainter& painter, const QRectF& rect, double scale, bool play);

// The corners of a tile near the window's rounded corner: with the window's corner radius
// r, a tile whose bottom gap to the grid's edge is below r gets a bottom-right corner of
// r less the larger of its gaps to the right and bottom edges, so that its curve follows
// the window's; every other corner (and one that would not exceed it) keeps the
// thumbnail radius. Order: top-left, top-right, bottom-right, bottom-left.
struct PMTileCornerRadii {
    double topLeft = 0, topRight = 0, bottomRight = 0, bottomLeft = 0;
    bool operator==(const PMTileCornerRadii&) const = default;
};
inline constexpr double PMMainWindowTileCornerRadius = 10.0;
PMTileCornerRadii PMTileCornerRadiiForFrame(const QRectF& frame, const QRectF& gridBounds, double windowRadius, double thumbnailRadius);
// A rectangle with its own radius at each corner.
QPainterPath PMRoundedRectPathWithRadii(const QRectF& rect, const PMTileCornerRadii& radii);

// The frames of a movie tile's parts, in the tile (x, y, w, h), for a label band of
// height L: at the top when labels are overlaid, else below the picture.
QRectF PMMovieTileLabelFrame(const QRectF& bounds, bool labelsOverlaid, double bandHeight);
// The picture's area: the bounds less the band when labels are always shown.
QRectF PMMovieTilePictureFrame(const QRectF& bounds, bool staticLabels, bool labelsOverlaid, double bandHeight);
// The context-menu button: an 18-point square at the band's left, shown while the band is
// hovered or a menu is open, unless stars are being dragged or the grid shows no group.
QRectF PMMovieTileContextMenuButtonFrame(const QRectF& band, bool bandHoveredOrMenuOpen, bool tracksRating, bool fullyInteractive);
// The stars in the band: for setting a rating while the band is hovered (wider than 91
// points), or showing one where the band is (wider than 138 points); empty otherwise.
struct PMMovieTileRatingState {
    bool hasRatingControl = true; // not for containers, online items, "Hide Preview Ratings"
    bool bandHovered = false;
    bool tracksRating = false;
    bool menuOpen = false;
    bool labelsOverlaid = false;
    bool hovering = false;
    bool selected = false;
    double rating = 0;
};
QRectF PMMovieTileRatingFrame(const QRectF& band, const PMMovieTileRatingState& state);
// The label's colour at emphasis e (0 to 1).
QColor PMMovieTileLabelColor(bool missing, bool missingVolume, bool selected, bool dark, bool bandHoveredOrMenuOpen, double emphasis);
// The band's frosted colour over the blurred picture.
QColor PMMovieTileBandColor(bool dark);
// The context-menu button's glyph: three dots in a circle, in the colour.
void PMDrawMovieTileMenuGlyph(QPainter& painter, const QRectF& rect, const QColor& color);

// Which picture lies over the main one: none, the main picture again (whole, over its
// blurred copy), or the cover over the preview picture.
enum class PMMovieTileOverlay { None, Main, Cover };
struct PMMovieTileOverlayInput {
    bool coverMode = false;
    bool scaleToFit = false;     // the layout's scale-to-fit bit
    bool waterfall = false;
    bool hasPoster = false;      // P
    bool hasCover = false;       // C
    bool looksActive = false;    // missing, cycling, selected, menu open or visibly hovering
    bool scaleIndividually = false;
    double alpha = 1.0;          // the overlay alpha A
    double mainRatio = 1.0;      // M's width / height
    QSizeF area;                 // the picture's area
};
PMMovieTileOverlay PMMovieTileOverlayFor(const PMMovieTileOverlayInput& in);
// Where the overlay picture lies in the area (the area's coordinates).
struct PMMovieTileOverlayGeometry {
    bool coverMode = false;
    bool scaleToFit = false;
    bool overlayIsMain = true;
    bool scaleIndividually = false;
    bool cycling = false;
    double coverAspectRatio = 1.46;   // height / width of a cover
    double previewAspectRatio = 1.48; // width / height of a preview
    double position = 0.5; // "Cover Overlay Position"
};
QRectF PMMovieTileOverlayFrame(const QRectF& area, double overlayRatio, const PMMovieTileOverlayGeometry& g);
// "Scale Previews To Fit Individually": the movie's own "Scale Preview To Fit" when it is
// a boolean, else whether the picture's orientation differs from the area's.
bool PMMovieTileScalesIndividually(const platform::Value& stored, double pictureRatio, double areaRatio);

// ---- The movie tile's action

enum class PMMovieTileAction {
    None,          // nothing can be done (a missing volume, hover disabled, no grid)
    OpenContainer, // the tile stands for a container
    PromptForFile, // the file is missing but its volume is there
    Play,          // play (or only choose) the movie
};
PMMovieTileAction PMMovieTileActionFor(const platform::Value& item, const platform::Value& equivalentContainer, bool canHover,
                                       bool fullyInteractive);
// Runs the action; false when there is none.
bool PMMovieTileTriggerAction(const platform::Value& item, const platform::Value& equivalentContainer, bool canHover,
                              bool fullyInteractive);

// ---- Hover frames

// The frame under the pointer while scrubbing: x in the tile, its width, n frames.
std::size_t PMMovieTileScrubIndex(double x, double width, std::size_t n);

// The hover-frame state of one movie tile. State: 0 or more, the frame shown; -1 never
// cycles; -2 frames are being fetched; -3 ready, not cycling. At most one step is
// pending; the owner calls advance() whenever its clock may have passed it.
class PMMovieTileHover {
public:
    static constexpr std::int64_t NeverCycles = -1;
    static constexpr std::int64_t Fetching = -2;
    static constexpr std::int64_t Ready = -3;

    std::function<double()> clock;               // seconds; a steady clock by default
    std::function<std::size_t()> cachedFrameCount; // the item's cached hover frames
    // Starts fetching the frames; calls back (on the main thread) with the count.
    std::function<void(std::function<void(std::size_t)>)> fetchFrames;
    std::function<bool()> itemIsMoving;
    std::function<void()> changed; // the tile must be redrawn

    explicit PMMovieTileHover(bool neverCycles = false);

    std::int64_t state() const { return m_state; }
    // The frame index shown, or -1 when not cycling.
    std::int64_t indexImageIndex() const { return m_state >= 0 ? m_state : -1; }
    bool hasPendingStep() const { return m_due >= 0; }
    double pendingStepTime() const { return m_due; }

    // The pointer's situation, as the tile knows it.
    void setPointer(bool mayHover, bool hovering, bool onLabel);
    // Back to ready and, when the pointer rests on the image, the delay starts again.
    void resetStandardIndexImageAnimation();
    // The pointer moved on the image: before cycling starts, the delay starts again (the
    // frames cycle only once the pointer rests).
    void pointerMoved();
    // Runs the pending step when its time has come; true when it ran.
    bool advance();
    // The pointer moved horizontally while cycling: the frame under it; true on a change.
    bool scrub(double x, double width);

    static double delay();    // "Cycle Through Index Image On Hover: Delay", at least 0.1
    static double interval(); // "... : Interval", at least 0.01

private:
    void performStandardIndexImageAnimation();
    void schedule(double after);
    double now() const;

    std::int64_t m_state;
    double m_due = -1;
    bool m_mayHover = false;
    bool m_hovering = false;
    bool m_onLabel = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
