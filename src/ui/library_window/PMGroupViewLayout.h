// The grid's layout as pure functions over tile sizes: the number of columns, the tiles'
// aspect ratio, the waterfall, variable-height and mosaic placement of movie tiles, and
// one whole tiling pass (size fitting, subgroups above or below the movies, the canvas).
// Nothing here touches a view or a setting: the grid reads the settings into
// PMGroupViewLayoutInput and gives the frames to its tiles. Ratios live in flat arrays.
#pragma once

#include <QtCore/QRectF>
#include <QtCore/QSizeF>

#include <cstdint>
#include <vector>

// The layout value's bits ("Cover Layout", "Preview Layout").
enum PMGroupViewLayoutBits : unsigned {
    PMLayoutScaleToFit = 1,
    PMLayoutComputedAspectRatio = 2,
    PMLayoutMedian = 4,
    PMLayoutPerItemHeights = 8,
    PMLayoutRows = 16,
    PMLayoutMosaic = 32,
};
inline bool PMIsWaterfallLayout(unsigned layout) { return layout & PMLayoutPerItemHeights; }
inline bool PMIsVariableHeightLayout(unsigned layout) { return (layout & 24) == 24; }
inline bool PMIsMosaicLayout(unsigned layout) { return (layout & 56) == 56; }

inline constexpr double PMGroupViewEpsilon = 1.1920928955078125e-07;
inline constexpr double PMGroupViewLabelBand = 22.0;  // a label strip and a subgroup bar
inline constexpr double PMGroupViewMinimumThumbnailWidth = 50.0;

// "Preview Spacing" as stored (absent reads as 0): below zero 8, otherwise rounded half
// away from zero.
double PMGroupViewSpacingFromStoredValue(double stored);
// Columns of tiles of the width with the spacing in the canvas width: at least 1.
unsigned numberOfColumnsForWidth(double width, double spacing, double canvasWidth);
// The tiles' aspect ratio from the items' ratios (width over height; 0 or below: unknown):
// the geometric mean, or with `median` and 3 or more values the median; 1.0 at once when
// `fallBackToSquare` and both portrait and landscape items occur. Answers false (and
// leaves `ratio` alone) when no item has a ratio.
bool calculateAspectRatio(const double* ratios, std::size_t count, bool median, bool fallBackToSquare, double* ratio);

// One movie tile's frame in a row or column layout.
struct PMGroupViewFrameValue {
    double contentAspectRatio = 0; // width over height; 0 or below when missing
    double rowHeight = 0;
    QRectF frame;
    // The frame moved down to the middle of its row.
    QRectF centeredFrame() const;
};

struct PMGroupViewWaterfallInput {
    unsigned numberOfColumns = 1;
    bool separateRows = false;          // variable height
    bool viaHeightFit = false;          // mosaic
    bool adjustNumberOfColumns = false; // balance the row height (mosaic)
    double averageAspectRatio = 1;
    double width = 191;
    double spacing = 8;
    double innerVerticalSpacing = 8;
    double verticalOffset = 0;
    double availableHeight = 0;
    double smallDeltaCompensation = 0;
    int expansionPriority = -1;
    bool drawStaticLabels = false;
    double minimumThumbnailHeight = 44;
    double mosaicMinimumAspectRatio = PMGroupViewEpsilon;
};

// Lays the movie tiles of the waterfall family out: the content height comes back, the
// number of rows through `rows`, and when `frames` is given one frame value per tile.
double calculateMovieWaterfallHeightWithNumberOfColumns(const std::vector<double>& ratios, const PMGroupViewWaterfallInput& input, long* rows,
                                                std::vector<PMGroupViewFrameValue>* frames);

// Everything one tiling pass reads.
struct PMGroupViewLayoutInput {
    unsigned layout = 0;             // the stored layout value, before the cover-mode rule
    bool coverMode = false;
    double coverOverlayAlpha = 1.0;  // cover mode uses layout 0 while the overlay is drawn
    std::vector<double> movieRatios; // one per movie tile, in display order
    std::size_t subgroupCount = 0;
    double baseWidth = 191;
    double spacing = 8;
    QSizeF canvas;                   // the usable rectangle's size
    bool adjust = false;             // fit the tile size to the canvas
    long adjustSize = 1;             // "Adjust Cover Size" / "Adjust Preview Size"
    bool fullyInteractive = true;
    double deltaCompensationThreshold = 1.1; // uniform grid and mosaic
    bool heightFitSingleRowOnly = true;
    bool staticLabels = false;
    bool labelsOverlay = true;
    double mosaicMinimumAspectRatio = PMGroupViewEpsilon;
    bool balanceRowHeight = false;
    int expansionPriority = -1;
    bool fallBackToSquare = false;
    // The items' aspect ratio when the caller has it already (kept per content change):
    // valid says whether it is given, found whether the items had any ratio.
    struct ComputedAspectRatio {
        bool valid = false;
        bool found = false;
        double ratio = 1.0;
        bool operator==(const ComputedAspectRatio&) const = default;
    } computedAspectRatio;
    double coverAspectRatio = 1.46;   // height over width
    double previewAspectRatio = 1.48; // width over height
    bool adjustsSpacingForGlass = false;
    bool hasScopeBar = false;
    int subgroupPosition = 0;         // 1: subgroups below the movies
    bool centerVertically = true;     // variable height rows
    bool stretchSingleSubgroupRow = false;
    long subgroupColumnThreshold = -1; // column-major above this many rows per column (-1: never)
    long movieColumnThreshold = -1;
    double backingScale = 1.0;
    bool columnsOnly = false;         // stop once the columns and the tile size are known
    bool operator==(const PMGroupViewLayoutInput&) const = default;
};

struct PMGroupViewLayoutResult {
    unsigned layout = 0; // the layout in effect
    unsigned numberOfColumns = 0;
    double tileWidth = 0;
    double tileHeight = 0; // uniform grid; the content height in the waterfall family
    double aspectRatio = 1;
    double smallDelta = 0;
    double separatorY = -1.0;
    double combinedHeight = 0;
    QSizeF viewSize;
    double minimumThumbnailHeight = 44;
    std::vector<QRectF> subgroupFrames;
    std::vector<QRectF> movieFrames;
};

PMGroupViewLayoutResult PMGroupViewLayout(const PMGroupViewLayoutInput& input);

// The tiles meeting a rectangle, found from their frames sorted by top edge with the
// running lowest bottom: O(log n + visible).
class PMGroupViewVisibleIndex {
public:
    void rebuild(const std::vector<QRectF>& frames);
    // Indexes of the frames meeting the rectangle, in ascending order.
    void tilesInRect(const QRectF& rect, std::vector<std::uint32_t>& out) const;
    std::size_t count() const { return m_order.size(); }

private:
    std::vector<std::uint32_t> m_order; // frame indexes by top edge
    std::vector<double> m_tops;
    std::vector<double> m_maxBottoms; // the lowest bottom of the first i+1 in that order
    const std::vector<QRectF>* m_frames = nullptr;
    std::vector<QRectF> m_copy;
};
