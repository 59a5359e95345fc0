// The grid's layout as pure functions: columns, spacing, aspect ratios, the uniform grid,
// the waterfall, variable-height rows and the mosaic.
#include "ui/library_window/PMGroupViewLayout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

PMGroupViewLayoutInput uniform(std::size_t movies, std::size_t groups, QSizeF canvas, double width = 100, double spacing = 10)
{
    PMGroupViewLayoutInput in;
    in.movieRatios.assign(movies, 1.5);
    in.subgroupCount = groups;
    in.baseWidth = width;
    in.spacing = spacing;
    in.canvas = canvas;
    return in;
}

PMGroupViewWaterfallInput waterfall(unsigned columns, double width = 100, double spacing = 10)
{
    PMGroupViewWaterfallInput in;
    in.numberOfColumns = columns;
    in.width = width;
    in.spacing = spacing;
    in.innerVerticalSpacing = spacing;
    return in;
}

} // namespace

TEST(GroupViewLayout, SpacingAndColumns)
{
    struct Case {
        double stored, spacing;
    } spacings[] = {{-3, 8}, {2.5, 3}, {0, 0}, {-0.0000001, 0}, {7.4, 7}, {12, 12}};
    for (const Case& c : spacings)
        EXPECT_EQ(PMGroupViewSpacingFromStoredValue(c.stored), c.spacing) << c.stored;

    struct Columns {
        double width, spacing, canvas;
        unsigned columns;
    } columns[] = {
        {100, 10, 1000, 9},  // floor(990 / 110)
        {100, 10, 999, 8},   // floor(989 / 110)
        {100, 10, 5, 1},     // canvas narrower than the spacing
        {100, 10, -50, 1},   // negative remainder counts as 0
        {191, 8, 199, 1},
        {50, 0, 1000.7, 20}, // floor(floor(1000.7) / 50)
    };
    for (const Columns& c : columns)
        EXPECT_EQ(numberOfColumnsForWidth(c.width, c.spacing, c.canvas), c.columns) << c.canvas;
}

TEST(GroupViewLayout, AspectRatioMeanMedianAndFallBack)
{
    double ratio = 7;
    EXPECT_FALSE(calculateAspectRatio(nullptr, 0, false, false, &ratio));
    const double unknown[] = {-1, 0};
    EXPECT_FALSE(calculateAspectRatio(unknown, 2, false, false, &ratio));
    EXPECT_EQ(ratio, 7); // left alone

    const double one[] = {1.5, -1};
    ASSERT_TRUE(calculateAspectRatio(one, 2, true, false, &ratio));
    EXPECT_NEAR(ratio, 1.5, 1e-12);

    // Two items with the median asked: still the geometric mean.
    const double two[] = {1, 4};
    calculateAspectRatio(two, 2, true, false, &ratio);
    EXPECT_NEAR(ratio, 2, 1e-12);
    const double three[] = {1, 1.5, 100};
    calculateAspectRatio(three, 3, true, false, &ratio);
    EXPECT_NEAR(ratio, 1.5, 1e-12);
    calculateAspectRatio(three, 3, false, false, &ratio);
    EXPECT_NEAR(ratio, std::cbrt(150.0), 1e-9);
    const double four[] = {1, 2, 8, 100};
    calculateAspectRatio(four, 4, true, false, &ratio);
    EXPECT_NEAR(ratio, 4, 1e-9);

    // Landscape only keeps its mean; one portrait item makes it square.
    const double landscape[] = {1.5, 2.0};
    calculateAspectRatio(landscape, 2, false, true, &ratio);
    EXPECT_NEAR(ratio, std::sqrt(3.0), 1e-9);
    const double mixed[] = {1.5, 2.0, 0.7};
    calculateAspectRatio(mixed, 3, false, true, &ratio);
    EXPECT_EQ(ratio, 1.0);
}

TEST(GroupViewLayout, UniformGridColumnsHeightsAndSeparator)
{
    // 10 movies of 100 x (100 / 1.48) in 4 columns, 2 subgroups above.
    PMGroupViewLayoutInput in = uniform(10, 2, QSizeF(480, 300));
    const PMGroupViewLayoutResult r = PMGroupViewLayout(in);
    EXPECT_EQ(r.layout, 0u);
    EXPECT_EQ(r.numberOfColumns, 4u); // floor(470 / 110)
    EXPECT_NEAR(r.tileHeight, 100 / 1.48, 1e-9);
    ASSERT_EQ(r.subgroupFrames.size(), 2u);
    ASSERT_EQ(r.movieFrames.size(), 10u);
    EXPECT_EQ(r.subgroupFrames[0], QRectF(10, 10, 100, 22));
    EXPECT_EQ(r.subgroupFrames[1], QRectF(120, 10, 100, 22));
    EXPECT_EQ(r.separatorY, 10 + 10 + 22);
    // Movies start one spacing and one line below the separator.
    EXPECT_EQ(r.movieFrames[0].top(), 42 + 10 + 1);
    EXPECT_EQ(r.movieFrames[4].left(), 10);
    EXPECT_NEAR(r.movieFrames[4].top(), 53 + 100 / 1.48 + 10, 0.5);
    // subgroups 1 x 32 + 10 + 1, movies 3 rows, no margin
    EXPECT_NEAR(r.combinedHeight, 43 + 3 * (10 + 100 / 1.48) + 20 - 10, 1e-9);
    EXPECT_EQ(r.viewSize.height(), std::max(300.0, r.combinedHeight));

    // Subgroups below: movies first, the line after the last movie row.
    in.subgroupPosition = 1;
    const PMGroupViewLayoutResult below = PMGroupViewLayout(in);
    EXPECT_EQ(below.movieFrames[0].top(), 10);
    EXPECT_GT(below.subgroupFrames[0].top(), below.separatorY);
    EXPECT_GT(below.separatorY, below.movieFrames[9].bottom());
}

TEST(GroupViewLayout, EmptyGridAndCoverMode)
{
    const PMGroupViewLayoutResult empty = PMGroupViewLayout(uniform(0, 0, QSizeF(500, 400)));
    EXPECT_EQ(empty.layout, 0u);
    EXPECT_EQ(empty.combinedHeight, 0); // the vertical margin
    EXPECT_EQ(empty.viewSize, QSizeF(500, 400));
    EXPECT_EQ(empty.separatorY, -1.0);

    PMGroupViewLayoutInput in = uniform(3, 0, QSizeF(500, 400));
    in.coverMode = true;
    in.layout = 56; // overruled while the cover overlay is drawn
    in.staticLabels = true;
    PMGroupViewLayoutResult r = PMGroupViewLayout(in);
    EXPECT_EQ(r.layout, 0u);
    EXPECT_NEAR(r.movieFrames[0].height(), 100 * 1.46 + 22, 0.5);
    in.coverOverlayAlpha = 0;
    EXPECT_EQ(PMGroupViewLayout(in).layout, 56u);
}

TEST(GroupViewLayout, SizeAdjustmentFillsTheWidthAndColumnMajorOrder)
{
    PMGroupViewLayoutInput in = uniform(40, 0, QSizeF(480, 300));
    in.adjust = true;
    const PMGroupViewLayoutResult r = PMGroupViewLayout(in);
    EXPECT_EQ(r.numberOfColumns, 4u);
    // Tiles stretch so the last column ends one spacing from the right edge.
    EXPECT_NEAR(r.movieFrames[3].right(), 480 - 10, 1.0);

    // A few movies grow to fill the visible height.
    PMGroupViewLayoutInput few = uniform(2, 0, QSizeF(800, 600));
    few.adjust = true;
    const PMGroupViewLayoutResult grown = PMGroupViewLayout(few);
    EXPECT_LT(grown.numberOfColumns, 7u);
    EXPECT_GT(grown.tileWidth, 100);
    EXPECT_LE(grown.combinedHeight, 600.0 + 1e-6);

    PMGroupViewLayoutInput columns = uniform(10, 0, QSizeF(480, 300));
    columns.movieColumnThreshold = 0;
    const PMGroupViewLayoutResult major = PMGroupViewLayout(columns);
    EXPECT_EQ(major.movieFrames[1].left(), major.movieFrames[0].left()); // down the first column
    EXPECT_GT(major.movieFrames[1].top(), major.movieFrames[0].top());
}

TEST(GroupViewLayout, WaterfallLeftmostShortestWithOnePointRule)
{
    std::vector<PMGroupViewFrameValue> frames;
    long rows = -1;
    // Equal heights fill the columns left to right.
    double h = calculateMovieWaterfallHeightWithNumberOfColumns({1, 1, 1, 1}, waterfall(3), &rows, &frames);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].frame, QRectF(10, 0, 100, 100));
    EXPECT_EQ(frames[1].frame.left(), 120);
    EXPECT_EQ(frames[2].frame.left(), 230);
    EXPECT_EQ(frames[3].frame, QRectF(10, 110, 100, 100));
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(h, 210);

    // Column 2 is 0.5 shorter than column 1: not preferred; 2 shorter wins.
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({1, 100.0 / 99.5, 1}, waterfall(2), &rows, &frames);
    EXPECT_EQ(frames[2].frame.left(), 10);
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({1, 100.0 / 98, 1}, waterfall(2), &rows, &frames);
    EXPECT_EQ(frames[2].frame.left(), 120);

    // A missing ratio gives a square tile; static labels add the band; the offset moves y.
    PMGroupViewWaterfallInput in = waterfall(1);
    in.drawStaticLabels = true;
    in.verticalOffset = 7;
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({-1, 10}, in, &rows, &frames);
    EXPECT_EQ(frames[0].frame, QRectF(10, 7, 100, 122));
    EXPECT_EQ(frames[1].frame.height(), 44 + 22); // at least the minimum height
}

TEST(GroupViewLayout, VariableHeightRowsCentre)
{
    PMGroupViewWaterfallInput in = waterfall(2);
    in.separateRows = true;
    std::vector<PMGroupViewFrameValue> frames;
    long rows = 0;
    const double h = calculateMovieWaterfallHeightWithNumberOfColumns({2, 1, 1}, in, &rows, &frames);
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(h, 100 + 10 + 100);
    EXPECT_EQ(frames[0].rowHeight, 100);
    EXPECT_EQ(frames[0].centeredFrame(), QRectF(10, 25, 100, 50));
    EXPECT_EQ(frames[2].frame.top(), 110);
}

TEST(GroupViewLayout, MosaicRowsAndLastRowVariants)
{
    // Four tiles of ratio 1 with average 1 in 2 columns: two justified rows.
    PMGroupViewWaterfallInput in = waterfall(2);
    in.separateRows = in.viaHeightFit = in.adjustNumberOfColumns = true;
    std::vector<PMGroupViewFrameValue> frames;
    long rows = 0;
    calculateMovieWaterfallHeightWithNumberOfColumns({1, 1, 1, 1}, in, &rows, &frames);
    EXPECT_EQ(rows, 2);
    EXPECT_NEAR(frames[0].frame.width(), 100, 1e-9);
    EXPECT_NEAR(frames[1].frame.left(), 120, 1e-9);

    // The last row of a lone tile in 3 columns: expand -1 takes floor(sum) = 1 slot,
    // 0 takes floor(0.9) -> at least 1, +1 spans all 3 slots.
    in.numberOfColumns = 3;
    struct Case {
        int expansion;
        double width;
    } cases[] = {{-1, 100}, {0, 100}, {1, 320}};
    for (const Case& c : cases) {
        in.expansionPriority = c.expansion;
        frames.clear();
        calculateMovieWaterfallHeightWithNumberOfColumns({1, 1, 1, 1}, in, &rows, &frames);
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_NEAR(frames[3].frame.width(), c.width, 1e-6) << c.expansion;
    }
    // With expansion 0 a short last row grows into the remaining visible height, never
    // wider than the full row.
    in.expansionPriority = 0;
    in.availableHeight = 250;
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({1, 1, 1, 1}, in, &rows, &frames);
    EXPECT_NEAR(frames[3].frame.height(), 140, 1e-6); // 250 - 110
    in.availableHeight = 2000;
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({1, 1, 1, 1}, in, &rows, &frames);
    EXPECT_NEAR(frames[3].frame.width(), 320, 1e-6);

    // A missing ratio counts as 1 / A in the sum.
    in.expansionPriority = 1;
    in.averageAspectRatio = 2;
    in.spacing = 0;
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({-1, -1, -1, -1, -1, -1}, in, &rows, &frames);
    EXPECT_EQ(rows, 1); // 6 x 0.5 = 3 fills one row of 3 slots
}

TEST(GroupViewLayout, MosaicNarrowTileRetry)
{
    // A very tall item next to a panorama: at the shared row height the tall one would be
    // below 50 points wide, so the panorama's row drops it into the next row.
    PMGroupViewWaterfallInput in = waterfall(2);
    in.separateRows = in.viaHeightFit = true; // without balance: 2 tiles a row
    in.expansionPriority = 1;
    std::vector<PMGroupViewFrameValue> frames;
    long rows = 0;
    calculateMovieWaterfallHeightWithNumberOfColumns({10, 0.2, 1, 1}, in, &rows, &frames);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].frame.top(), frames[0].frame.top());
    EXPECT_LT(frames[0].frame.top(), frames[1].frame.top()); // pushed down
    for (const PMGroupViewFrameValue& f : frames)
        EXPECT_GE(f.frame.width(), 50 - 1e-9);
    EXPECT_GE(rows, 2);

    // A last row with fewer slots than columns widens by one slot when too narrow.
    PMGroupViewWaterfallInput last = waterfall(3, 60);
    last.separateRows = last.viaHeightFit = last.adjustNumberOfColumns = true;
    last.expansionPriority = -1;
    frames.clear();
    calculateMovieWaterfallHeightWithNumberOfColumns({0.5}, last, &rows, &frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_GE(frames[0].frame.width(), 50 - 1e-9);
}

TEST(GroupViewLayout, VisibleIndexFindsTilesAfterAScroll)
{
    PMGroupViewLayoutInput in = uniform(1000, 0, QSizeF(1000, 600));
    in.layout = 8;
    for (std::size_t i = 0; i < in.movieRatios.size(); ++i)
        in.movieRatios[i] = 0.5 + double(i % 7) / 3.0;
    const PMGroupViewLayoutResult r = PMGroupViewLayout(in);
    PMGroupViewVisibleIndex index;
    index.rebuild(r.movieFrames);
    for (double top : {0.0, 1234.5, 5000.0, r.combinedHeight - 100}) {
        const QRectF visible(0, top, 1000, 600);
        std::vector<std::uint32_t> found;
        index.tilesInRect(visible, found);
        std::vector<std::uint32_t> expected;
        for (std::uint32_t i = 0; i < r.movieFrames.size(); ++i)
            if (r.movieFrames[i].intersects(visible))
                expected.push_back(i);
        EXPECT_EQ(found, expected) << top;
        EXPECT_FALSE(found.empty());
    }
}

TEST(GroupViewLayout, ColumnsOnlyAnswersWhatTheWholeLayoutDoes)
{
    // The preview-size slider asks for the columns at the smallest width: the answer
    // without the frames is the whole layout's, whatever the layout and size adjustment.
    std::vector<double> ratios;
    for (int i = 0; i < 97; ++i)
        ratios.push_back(0.5 + (i % 7) * 0.3);
    struct Case {
        unsigned layout;
        bool adjust;
        long adjustSize;
        double width;
        QSizeF canvas;
    } cases[] = {
        {0, false, 1, 100, {480, 300}},
        {0, true, 1, 100, {480, 300}},
        {PMLayoutComputedAspectRatio | PMLayoutMedian, true, 1, 60, {1000, 700}},
        {PMLayoutPerItemHeights, true, 1, 120, {800, 600}},
        {PMLayoutPerItemHeights | PMLayoutRows, true, 2, 90, {640, 400}},
        {PMLayoutPerItemHeights | PMLayoutRows | PMLayoutMosaic, true, 1, 150, {1200, 900}},
        {PMLayoutPerItemHeights | PMLayoutRows | PMLayoutMosaic, true, 0, 50, {300, 2000}},
    };
    for (const Case& c : cases) {
        PMGroupViewLayoutInput in = uniform(0, 5, c.canvas, c.width);
        in.movieRatios = ratios;
        in.layout = c.layout;
        in.adjust = c.adjust;
        in.adjustSize = c.adjustSize;
        const PMGroupViewLayoutResult whole = PMGroupViewLayout(in);
        in.columnsOnly = true;
        const PMGroupViewLayoutResult columns = PMGroupViewLayout(in);
        EXPECT_EQ(columns.numberOfColumns, whole.numberOfColumns) << c.layout << " " << c.width;
        EXPECT_DOUBLE_EQ(columns.tileWidth, whole.tileWidth) << c.layout << " " << c.width;
        EXPECT_DOUBLE_EQ(columns.tileHeight, whole.tileHeight) << c.layout << " " << c.width;
        EXPECT_TRUE(columns.movieFrames.empty());
        EXPECT_EQ(whole.movieFrames.size(), ratios.size());
    }
}
