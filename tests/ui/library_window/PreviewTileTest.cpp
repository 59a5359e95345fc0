// The tiles' rules: the click table, the item count, the overlay and badge thresholds,
// the hover frames with a steered clock, and the tile's action, alone and in the grid.
#include "GridTestSupport.h"
#include "common/TestSupport.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "platform/DelayedPerform.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMPreviewViewPrototype.h"
#include "ui/library_window/PMPreviewViewToolTipPopover.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QtCore/QFile>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QAccessible>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtCore/QTimer>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QStaticText>
#include <QtTest/QTest>
#include <QtWidgets/QScrollBar>

using platform::Value;
using Selection = PMPreviewClickPlan::Selection;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

struct DefaultsGuard {
    QStringList keys;
    ~DefaultsGuard()
    {
        for (const QString& key : keys)
            defaults().removeObjectForKey(key);
    }
};

} // namespace

TEST(PreviewTile, ALabelShortenedFromOneShapingLooksLikeTheFontsOwnShortening)
{
    // A tile's name is shaped once and cut before an ellipsis where it is too wide: what is
    // drawn must be what the fonts' own shortening draws, for names that fit and names that
    // do not, with accents, CJK, an emoji, spaces, and right-to-left names (which keep the
    // fonts' own way), drawn twice (the second time from the kept layout).
    const QString names[] = {QStringLiteral("Glass Hollow"), QStringLiteral("Glass Łódź Müller naïve"), QStringLiteral("東京の夜 Night"),
                             QStringLiteral("A"), QStringLiteral("Ünïcödé façade résumé e\u0301t\u0301e\u0301"), QStringLiteral("Rocket 🚀 launch"),
                             QStringLiteral("שלום עולם"), QStringLiteral("مرحبا بالعالم"), QStringLiteral("ab  cd   ef  gh   "), QString()};
    const double widths[] = {23, 60.25, 91.5, 140, 400};
    for (const bool selected : {false, true}) {
        const QFont font = PMPreviewLabelFont(selected, false);
        for (const QString& name : names)
            for (const double width : widths)
                for (int pass = 0; pass < 2; ++pass) {
                    const QRectF rect(4, 2, width, 20);
                    QImage drawn(420, 24, QImage::Format_ARGB32_Premultiplied);
                    drawn.fill(Qt::white);
                    QImage expected = drawn;
                    {
                        QPainter painter(&drawn);
                        PMPreviewDrawLabel(painter, name, rect, false, selected, Qt::black);
                    }
                    {
                        QPainter painter(&expected);
                        painter.setFont(font);
                        painter.setPen(Qt::black);
                        QStaticText text(QFontMetricsF(font).elidedText(name, Qt::ElideRight, width));
                        text.setTextFormat(Qt::PlainText);
                        text.prepare(QTransform(), font);
                        painter.drawStaticText(QPointF(rect.left(), rect.center().y() - text.size().height() / 2), text);
                    }
                    int different = 0;
                    for (int y = 0; y < drawn.height(); ++y)
                        for (int x = 0; x < drawn.width(); ++x)
                            different += std::abs(qGray(drawn.pixel(x, y)) - qGray(expected.pixel(x, y))) > 24;
                    EXPECT_EQ(different, 0) << name.toStdString() << " in " << width << (selected ? " selected" : "") << " pass " << pass;
                }
    }
}

TEST(PreviewTile, ClickTable)
{
    struct Case {
        bool command, shift;
        int clicks;
        std::int64_t behavior;
        Selection selection;
        bool keep, perform;
    } cases[] = {
        {true, false, 1, 0, Selection::Toggle, true, false},
        {true, false, 2, 0, Selection::Toggle, true, false}, // never acts, even double
        {true, true, 2, 3, Selection::Toggle, true, false},
        {false, true, 1, 0, Selection::Extend, true, false},
        {false, true, 2, 1, Selection::Extend, true, false},
        {false, false, 1, 0, Selection::Alone, false, true},
        {false, false, 1, -1, Selection::Alone, false, true},
        {false, false, 1, 1, Selection::Alone, false, false},
        {false, false, 1, 2, Selection::ToggleKeep, true, false},
        {false, false, 1, 7, Selection::ToggleKeep, true, false},
        {false, false, 2, 0, Selection::Alone, false, true},
        {false, false, 2, 1, Selection::Alone, false, true},
        {false, false, 3, 2, Selection::Alone, false, true},
    };
    for (const Case& c : cases) {
        const PMPreviewClickPlan plan = PMPreviewClickPlanFor(c.command, c.shift, c.clicks, c.behavior);
        SCOPED_TRACE(QStringLiteral("cmd %1 shift %2 clicks %3 behaviour %4").arg(c.command).arg(c.shift).arg(c.clicks).arg(c.behavior).toStdString());
        EXPECT_EQ(plan.selection, c.selection);
        EXPECT_EQ(plan.keepInitialSelection, c.keep);
        EXPECT_EQ(plan.performAction, c.perform);
        EXPECT_EQ(plan.move, !(c.command || c.shift));
    }
}

TEST(PreviewTile, GroupTilesActOnASingleClickUnlessTheBehaviourAppliesToSubgroups)
{
    DefaultsGuard guard{{QStringLiteral("Preview Single-Click Behavior"), QStringLiteral("Preview Single-Click Behavior: Apply To Subgroups")}};
    EXPECT_EQ(PMPreviewSingleClickBehavior(false), 0); // absent
    defaults().setInteger(2, QStringLiteral("Preview Single-Click Behavior"));
    EXPECT_EQ(PMPreviewSingleClickBehavior(false), 2);
    EXPECT_EQ(PMPreviewSingleClickBehavior(true), 0);
    defaults().setBool(true, QStringLiteral("Preview Single-Click Behavior: Apply To Subgroups"));
    EXPECT_EQ(PMPreviewSingleClickBehavior(true), 2);
}

TEST(PreviewTile, ItemCountStringInEveryModeAndWithZero)
{
    DefaultsGuard guard{{QStringLiteral("Item Count Mode"), QStringLiteral("Show Zero Item Counts")}};
    auto empty = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Empty")}});
    auto full = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Full")}});
    const QString dir = testsupport::makeTempDir(QStringLiteral("count"));
    for (int i = 0; i < 1234; ++i)
        full->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/m%1.mp4").arg(i))));
    for (int mode = 0; mode <= 4; ++mode) {
        defaults().setInteger(mode, QStringLiteral("Item Count Mode"));
        defaults().setBool(false, QStringLiteral("Show Zero Item Counts"));
        EXPECT_EQ(PMItemCountString(*empty), QString()) << mode;
        defaults().setBool(true, QStringLiteral("Show Zero Item Counts"));
        EXPECT_EQ(PMItemCountString(*empty), mode == 1 ? QString() : QStringLiteral("0")) << mode;
        const std::uint64_t n = full->numberOfChildrenToDisplay();
        EXPECT_EQ(PMItemCountString(*full), n ? QString::number(n) : PMItemCountString(*empty)) << mode;
    }
    defaults().setInteger(0, QStringLiteral("Item Count Mode"));
    EXPECT_EQ(PMItemCountString(*full), QStringLiteral("1234")); // no grouping separator
}

TEST(PreviewTile, OverlayShapesAndBadgeRoom)
{
    // Landscape areas: portrait images always, near-square ones only in wide areas.
    EXPECT_TRUE(PMShapesDifferMarkedly(0.89, 1.2));
    EXPECT_FALSE(PMShapesDifferMarkedly(1.0, 1.2));
    EXPECT_TRUE(PMShapesDifferMarkedly(1.0, 1.31));
    EXPECT_FALSE(PMShapesDifferMarkedly(1.1, 1.31));
    // Portrait areas, mirrored.
    EXPECT_TRUE(PMShapesDifferMarkedly(1.11, 0.8));
    EXPECT_FALSE(PMShapesDifferMarkedly(1.0, 0.8));
    EXPECT_TRUE(PMShapesDifferMarkedly(1.0, 0.69));
    EXPECT_FALSE(PMShapesDifferMarkedly(0.9, 0.69));
    // Square-ish areas never repeat the image.
    EXPECT_FALSE(PMShapesDifferMarkedly(3.0, 1.0));
    EXPECT_FALSE(PMShapesDifferMarkedly(0.2, 0.9));
    EXPECT_FALSE(PMShapesDifferMarkedly(0.2, 1.1));

    EXPECT_TRUE(PMGroupTileBadgeFits(100, 20));   // 72 points of label left
    EXPECT_FALSE(PMGroupTileBadgeFits(58, 20));   // exactly 30: dropped
    EXPECT_TRUE(PMGroupTileBadgeFits(58.5, 20));
}

TEST(PreviewTile, CornerRadiiOfTilesTouchingTheEdges)
{
    const QRectF grid(0, 0, 500, 400);
    const double r = PMMainWindowTileCornerRadius;
    // Far from the edges: the thumbnail radius everywhere.
    EXPECT_EQ(PMTileCornerRadiiForFrame({100, 100, 100, 80}, grid, r, 4), (PMTileCornerRadii{4, 4, 4, 4}));
    // In the bottom-right corner with gaps of 2 and 3: 10 - 3.
    EXPECT_EQ(PMTileCornerRadiiForFrame({398, 297, 100, 100}, grid, r, 4), (PMTileCornerRadii{4, 4, 7, 4}));
    // Touching both edges: the window's radius.
    EXPECT_EQ(PMTileCornerRadiiForFrame({400, 300, 100, 100}, grid, r, 0), (PMTileCornerRadii{0, 0, 10, 0}));
    // At the bottom but far from the right edge: the thumbnail radius.
    EXPECT_EQ(PMTileCornerRadiiForFrame({0, 300, 100, 100}, grid, r, 4), (PMTileCornerRadii{4, 4, 4, 4}));
    // A value not above the thumbnail radius keeps the thumbnail radius.
    EXPECT_EQ(PMTileCornerRadiiForFrame({392, 300, 100, 100}, grid, r, 4), (PMTileCornerRadii{4, 4, 4, 4}));

    const QPainterPath path = PMRoundedRectPathWithRadii({0, 0, 100, 100}, {0, 0, 20, 0});
    EXPECT_TRUE(path.contains(QPointF(1, 1)));     // a square corner
    EXPECT_FALSE(path.contains(QPointF(99, 99)));  // cut by the round one
    EXPECT_TRUE(path.contains(QPointF(50, 99)));
}

TEST(PreviewTile, ScrubbingIndex)
{
    EXPECT_EQ(PMMovieTileScrubIndex(0, 120, 10), 0u);
    EXPECT_EQ(PMMovieTileScrubIndex(10, 120, 10), 0u); // the left 10 points: the first frame
    EXPECT_EQ(PMMovieTileScrubIndex(20.5, 120, 10), 1u);
    EXPECT_EQ(PMMovieTileScrubIndex(60, 120, 10), 5u);
    EXPECT_EQ(PMMovieTileScrubIndex(110, 120, 10), 9u);
    EXPECT_EQ(PMMovieTileScrubIndex(120, 120, 10), 9u); // the right edge: the last
    EXPECT_EQ(PMMovieTileScrubIndex(5, 15, 10), 0u);    // too narrow to scrub
    EXPECT_EQ(PMMovieTileScrubIndex(50, 120, 0), 0u);
}

namespace {

// A hover-frame machine on a clock the test moves.
struct SteeredHover {
    double time = 100;
    std::size_t cached = 0;
    int fetches = 0;
    int redraws = 0;
    std::function<void(std::size_t)> pendingFetch;
    PMMovieTileHover hover;

    explicit SteeredHover(bool never = false)
        : hover(never)
    {
        hover.clock = [this] { return time; };
        hover.cachedFrameCount = [this] { return cached; };
        hover.fetchFrames = [this](std::function<void(std::size_t)> done) {
            ++fetches;
            pendingFetch = std::move(done);
        };
        hover.itemIsMoving = [] { return false; };
        hover.changed = [this] { ++redraws; };
    }
    bool at(double t)
    {
        time = t;
        return hover.advance();
    }
};

} // namespace

TEST(PreviewTile, HoverFramesCycleAfterTheDelayAndFollowThePointer)
{
    DefaultsGuard guard{{QStringLiteral("Cycle Through Index Image On Hover: Delay"), QStringLiteral("Cycle Through Index Image On Hover: Interval")}};
    SteeredHover s;
    EXPECT_EQ(s.hover.state(), PMMovieTileHover::Ready);
    s.hover.setPointer(true, true, false);
    EXPECT_FALSE(s.at(101.9)); // the registered delay is 2 s
    EXPECT_TRUE(s.at(102.0));
    EXPECT_EQ(s.hover.state(), PMMovieTileHover::Fetching);
    EXPECT_EQ(s.fetches, 1);
    // Asking again while fetching changes nothing (idempotent requests).
    s.hover.setPointer(true, true, false);
    s.hover.resetStandardIndexImageAnimation();
    EXPECT_EQ(s.hover.state(), PMMovieTileHover::Fetching);
    EXPECT_FALSE(s.hover.hasPendingStep());

    s.cached = 4;
    s.pendingFetch(4);
    EXPECT_EQ(s.hover.state(), 0);
    EXPECT_DOUBLE_EQ(s.hover.pendingStepTime(), 103.0); // the registered interval is 1 s
    for (int k = 1; k <= 4; ++k)
        EXPECT_TRUE(s.at(102.0 + k));
    EXPECT_EQ(s.hover.state(), 0); // wrapped after the last frame

    // Scrubbing takes over and stops the automatic steps until the next reset.
    EXPECT_TRUE(s.hover.scrub(100, 120));
    EXPECT_EQ(s.hover.state(), 3);
    EXPECT_FALSE(s.hover.scrub(105, 120)); // the same frame: no redraw
    EXPECT_FALSE(s.hover.hasPendingStep());

    // Entering the label band resets; leaving it starts the delay from the cache.
    s.hover.setPointer(true, true, true);
    EXPECT_EQ(s.hover.state(), PMMovieTileHover::Ready);
    EXPECT_FALSE(s.hover.hasPendingStep());
    s.hover.setPointer(true, true, false);
    EXPECT_TRUE(s.at(s.time + 2.0));
    EXPECT_EQ(s.hover.state(), 0);
    EXPECT_EQ(s.fetches, 1); // from the cache

    // Floors on the delay and the interval.
    defaults().setDouble(0, QStringLiteral("Cycle Through Index Image On Hover: Delay"));
    defaults().setDouble(0, QStringLiteral("Cycle Through Index Image On Hover: Interval"));
    EXPECT_DOUBLE_EQ(PMMovieTileHover::delay(), 0.1);
    EXPECT_DOUBLE_EQ(PMMovieTileHover::interval(), 0.01);
}

TEST(PreviewTile, HoverFramesArrivingLateOrEmpty)
{
    {
        SteeredHover s; // the pointer left before the frames came: ready, from the cache next time
        s.hover.setPointer(true, true, false);
        s.at(102);
        s.hover.setPointer(true, false, false);
        s.cached = 3;
        s.pendingFetch(3);
        EXPECT_EQ(s.hover.state(), PMMovieTileHover::Ready);
        s.hover.setPointer(true, true, false);
        s.at(s.time + 2);
        EXPECT_EQ(s.hover.state(), 0);
        EXPECT_EQ(s.fetches, 1);
    }
    {
        SteeredHover s; // no frames: the tile never asks again
        s.hover.setPointer(true, true, false);
        s.at(102);
        s.pendingFetch(0);
        EXPECT_EQ(s.hover.state(), PMMovieTileHover::NeverCycles);
        s.hover.setPointer(true, false, false);
        s.hover.setPointer(true, true, false);
        EXPECT_FALSE(s.at(200));
        EXPECT_EQ(s.fetches, 1);
    }
    {
        SteeredHover s(true); // a container's tile never cycles
        s.hover.setPointer(true, true, false);
        EXPECT_FALSE(s.at(500));
        EXPECT_EQ(s.fetches, 0);
    }
    {
        SteeredHover s; // hover disabled: nothing scheduled
        s.hover.setPointer(false, true, false);
        EXPECT_FALSE(s.hover.hasPendingStep());
    }
}

TEST(PreviewTile, ActionRouting)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("action"));
    const QString path = dir + QStringLiteral("/Present.mp4");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
    auto present = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    auto missing = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/Gone.mp4"));
    missing->setMissing(true, false);
    auto offline = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/Gone/Gone.mp4"));
    offline->setMissing(true, true);
    auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Sub")}});

    EXPECT_EQ(PMMovieTileActionFor(Value(present), Value(container), true, true), PMMovieTileAction::OpenContainer);
    EXPECT_EQ(PMMovieTileActionFor(Value(missing), Value(), true, true), PMMovieTileAction::PromptForFile);
    EXPECT_EQ(PMMovieTileActionFor(Value(offline), Value(), true, true), PMMovieTileAction::None);
    EXPECT_EQ(PMMovieTileActionFor(Value(present), Value(), true, true), present->canPlay() ? PMMovieTileAction::Play : PMMovieTileAction::None);
    EXPECT_EQ(PMMovieTileActionFor(Value(present), Value(), false, true), PMMovieTileAction::None);
    EXPECT_EQ(PMMovieTileActionFor(Value(present), Value(), true, false), PMMovieTileAction::None);
    EXPECT_FALSE(PMMovieTileTriggerAction(Value(offline), Value(), true, true));
}

namespace {

// A double click ending with its release (QTest's stops at the double-click press).
void doubleClick(QWidget* widget, Qt::KeyboardModifiers modifiers, QPoint at)
{
    QTest::mouseDClick(widget, Qt::LeftButton, modifiers, at);
    QTest::mouseRelease(widget, Qt::LeftButton, modifiers, at);
}

class TileClicks : public ::testing::Test {
protected:
    void SetUp() override
    {
        gridtest::useSmallUniformTiles();
        dir = testsupport::makeTempDir(QStringLiteral("clicks"));
        group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Movies")}});
        for (int i = 0; i < 4; ++i) {
            const QString path = dir + QStringLiteral("/Movie %1.mp4").arg(i);
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write("x");
            records.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(path));
            group->rawChildren()->append(Value(records.back()));
        }
        grid = std::make_unique<PMGroupView>();
        grid->resize(480, 300);
        grid->setRepresentedGroup(group);
        for (const auto& record : records)
            grid->addItem(Value(record));
        grid->tileWithAdjustedSize(false, false, false);
        grid->show();
        QCoreApplication::processEvents();
        mainController()._chooseMovieRepresentationHandler = [this](const Value& movie, bool, bool, bool startPlaying, bool) {
            chosen.push_back(PMMovie(movie));
            playing = startPlaying;
            return true;
        };
    }
    void TearDown() override
    {
        mainController()._chooseMovieRepresentationHandler = nullptr;
        grid.reset();
        auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
        testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000);
        loader.waitForSaveQueue();
        defaults().removeObjectForKey(QStringLiteral("Preview Single-Click Behavior"));
        defaults().removeObjectForKey(QStringLiteral("Adjust Preview Size"));
    }
    QPoint centre(std::size_t i) const
    {
        return (grid->movieProxies()[i]->frame.center() - QPointF(0, grid->verticalScrollBar()->value())).toPoint();
    }
    int selectedCount() const
    {
        int n = 0;
        for (const auto& p : grid->movieProxies())
            n += p->selected;
        return n;
    }

    QString dir;
    PMLibraryContainerPtr group;
    std::vector<PMMovieRepresentationOriginalPtr> records;
    std::unique_ptr<PMGroupView> grid;
    std::vector<PMMovieRepresentationPrototype*> chosen;
    bool playing = false;
};

} // namespace

TEST_F(TileClicks, ClicksPlayOrSelectAsTheBehaviourSays)
{
    if (!records[0]->canPlay())
        GTEST_SKIP() << "no playable fixture";
    // Absent: a single click plays the movie.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(1));
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0], records[1].get());
    EXPECT_TRUE(playing);
    EXPECT_TRUE(grid->movieProxies()[1]->selected);

    // A click on the name band (at the top of the tile) selects and never plays.
    const QRectF frame = grid->movieProxies()[2]->frame.translated(0, -grid->verticalScrollBar()->value());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPointF(frame.center().x(), frame.top() + 5).toPoint());
    EXPECT_EQ(chosen.size(), 1u);
    EXPECT_TRUE(grid->movieProxies()[2]->selected);

    // A Command (Control) click only toggles, even when doubled.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(2));
    doubleClick(grid->viewport(), Qt::ControlModifier, centre(3));
    EXPECT_EQ(chosen.size(), 1u);

    // 1: selects only; a double click still plays.
    defaults().setInteger(1, QStringLiteral("Preview Single-Click Behavior"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(0));
    EXPECT_EQ(chosen.size(), 1u);
    EXPECT_EQ(selectedCount(), 1);
    doubleClick(grid->viewport(), {}, centre(0));
    EXPECT_EQ(chosen.size(), 2u);

    // 2: toggles and keeps the others.
    defaults().setInteger(2, QStringLiteral("Preview Single-Click Behavior"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(2));
    EXPECT_EQ(selectedCount(), 2);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(2));
    EXPECT_EQ(selectedCount(), 1);
    EXPECT_EQ(chosen.size(), 2u);
}

namespace {

QColor pixel(const QImage& image, QPointF at)
{
    return image.pixelColor(at.toPoint());
}

bool near(const QColor& a, const QColor& b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

TEST_F(TileClicks, SelectedRatedAndMissingLooks)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(700, 500);
    records[1]->setRating(5);
    records[2]->setMissing(true, false);
    grid->tileWithAdjustedSize(false, false, false);
    grid->selectItems(nullptr, {grid->movieProxies()[0]}, {}, true, false, false, false);
    QCoreApplication::processEvents();
    const QImage shot = grid->viewport()->grab().toImage();
    const double top = grid->verticalScrollBar()->value();
    const QRectF selected = grid->movieProxies()[0]->frame.translated(0, -top);
    const QRectF rated = grid->movieProxies()[1]->frame.translated(0, -top);
    const QRectF missing = grid->movieProxies()[2]->frame.translated(0, -top);
    const QRectF plain = grid->movieProxies()[3]->frame.translated(0, -top);
    ASSERT_GT(rated.width(), 140); // room for the stars beside the name

    // The selection ring on the picture's edge.
    EXPECT_TRUE(near(pixel(shot, {selected.left() + 1.5, selected.center().y() - 20}), QGuiApplication::palette().highlight().color()));
    EXPECT_FALSE(near(pixel(shot, {plain.left() + 1.5, plain.center().y() - 20}), QGuiApplication::palette().highlight().color()));
    // A missing file's ring.
    EXPECT_TRUE(near(pixel(shot, {missing.left() + 1.5, missing.center().y() - 20}), PMMovieTileMissingFileColor()));

    // The stars of the rated tile, in the band at the right, in the light look's grey and
    // not in the gold of the dark look.
    ASSERT_FALSE(PMIsDarkMode());
    const QColor grey(Qt::gray);
    const QColor gold = QColor::fromRgbF(1.0, 0.75, 0.15);
    auto countStarPixels = [&](const QRectF& tile, const QColor& colour) {
        int n = 0;
        for (int y = int(tile.top()); y < int(tile.top() + 22); ++y)
            for (int x = int(tile.right() - 72); x < int(tile.right()); ++x)
                n += near(shot.pixelColor(x, y), colour, 24);
        return n;
    };
    EXPECT_GT(countStarPixels(rated, grey), 20);
    EXPECT_LT(countStarPixels(plain, grey), 5);
    EXPECT_LT(countStarPixels(rated, gold), 5);
}

TEST_F(TileClicks, GroupTileShowsItsCountWithoutAPie)
{
    auto sub = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Shelf")}});
    for (const auto& record : records)
        sub->rawChildren()->append(Value(record));
    grid->clear();
    grid->setRepresentedGroup(group);
    grid->addItem(Value(sub));
    grid->tileWithAdjustedSize(false, false, false);
    QCoreApplication::processEvents();
    ASSERT_EQ(grid->groupProxies().size(), 1u);
    const QImage shot = grid->viewport()->grab().toImage();
    const QRectF tile = grid->groupProxies()[0]->frame.translated(0, -grid->verticalScrollBar()->value());
    // The count is grey text on the light box: nothing darker, no unplayed dot before it.
    int darkest = 255;
    for (int y = int(tile.top()) + 2; y < int(tile.bottom()) - 2; ++y)
        for (int x = int(tile.right()) - 30; x < int(tile.right()) - 2; ++x)
            darkest = std::min(darkest, qGray(shot.pixel(x, y)));
    EXPECT_LT(darkest, 230) << "the count is drawn";
    EXPECT_GT(darkest, 140) << "no dot beside the count";
}

TEST_F(TileClicks, HoverAskedForFramesOnceAndNeverAgainWhenThereAreNone)
{
    double now = 1000;
    grid->hoverClock = [&] { return now; };
    grid->tileWithAdjustedSize(false, false, false); // tiles anew with the steered clock
    grid->clear();
    grid->setRepresentedGroup(group);
    for (const auto& record : records)
        grid->addItem(Value(record));
    grid->tileWithAdjustedSize(false, false, false);
    QCoreApplication::processEvents();
    const PMGroupViewItemProxyPtr proxy = grid->movieProxies()[1];
    ASSERT_TRUE(proxy->view);
    const QRectF frame = proxy->frame;
    grid->updateHover(proxy.get(), frame.center() - QPointF(0, 20));
    EXPECT_EQ(proxy->view->hover.state(), PMMovieTileHover::Ready);
    EXPECT_TRUE(proxy->view->hover.hasPendingStep());
    grid->updateHover(proxy.get(), frame.center() - QPointF(0, 20)); // the same request again
    EXPECT_DOUBLE_EQ(proxy->view->hover.pendingStepTime(), 1002.0);
    now = 1002;
    grid->advanceHover();
    // The fake files have no frames: the tile fetches once and then never cycles.
    testsupport::waitUntil([&] { return proxy->view->hover.state() != PMMovieTileHover::Fetching; }, 20000);
    EXPECT_EQ(proxy->view->hover.state(), PMMovieTileHover::NeverCycles);
    grid->updateHover(nullptr, QPointF());
    grid->updateHover(proxy.get(), frame.center());
    EXPECT_FALSE(proxy->view->hover.hasPendingStep());
}

TEST(PreviewTile, PopoverTextAndFitRule)
{
    DefaultsGuard guard{{QStringLiteral("Item Count Mode"), QStringLiteral("Show Zero Item Counts")}};
    auto shortName = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Jazz")}});
    auto longName = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("  A Very Long Collection Name That Cannot Fit  ")}});
    const QString dir = testsupport::makeTempDir(QStringLiteral("popover"));
    longName->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/a.mp4"))));
    // A name that fits its tile needs no description; one that does not gets its full text.
    EXPECT_EQ(PMToolTipText(Value(shortName), 200), QString());
    EXPECT_EQ(PMToolTipText(Value(longName), 120), QStringLiteral("A Very Long Collection Name That Cannot Fit\n1 file"));
    // Without a tile (a movie tile standing for the container): always the text.
    EXPECT_EQ(PMToolTipText(Value(shortName)), QStringLiteral("Jazz"));
    auto two = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Two")}});
    for (const char* name : {"/b.mp4", "/c.mp4"})
        two->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QLatin1String(name))));
    EXPECT_EQ(PMToolTipText(Value(two)), QStringLiteral("Two\n2 files"));
    // The fit rule allows 5% over the label's width.
    const double nameWidth = QFontMetricsF(PMPreviewLabelFont(false, false)).horizontalAdvance(QStringLiteral("Jazz"));
    EXPECT_EQ(PMToolTipText(Value(shortName), nameWidth / 1.04 + 2 * PMPreviewLabelInset()), QString());
    EXPECT_EQ(PMToolTipText(Value(shortName), nameWidth / 1.06 + 2 * PMPreviewLabelInset()), QStringLiteral("Jazz"));

    // A subdivision of a smart group: a line per fixed tag, in the tags' sort order, even when
    // the name fits; a search's copy of it shows the original's.
    auto bucket = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Drama")}});
    for (const char* name : {"/d.mp4", "/e.mp4", "/f.mp4"})
        bucket->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QLatin1String(name))));
    auto entry = [](const char* tag, std::initializer_list<Value> values) {
        auto d = platform::Dictionary::make();
        d->setValue(QStringLiteral("Tag"), Value(QString::fromUtf8(tag)));
        d->setValue(QStringLiteral("Values"), Value(platform::Array::make(values)));
        return Value(d);
    };
    auto branch = platform::Dictionary::make();
    branch->setValue(QStringLiteral("year"), entry("Year", {Value(1999), Value(QStringLiteral("2001"))}));
    branch->setValue(QStringLiteral("genre"), entry("Genre", {Value(QStringLiteral("Drama")), Value(QStringLiteral("Crime"))}));
    auto noValues = platform::Dictionary::make();
    noValues->setValue(QStringLiteral("Tag"), Value(QStringLiteral("Director")));
    branch->setValue(QStringLiteral("director"), Value(noValues));
    bucket->setValue(QStringLiteral("Subdivision Branch"), Value(branch));
    const QString expected = QStringLiteral("Drama\n3 files\n•Genre: Drama, Crime\n•Year: 1999, 2001");
    EXPECT_EQ(PMToolTipText(Value(bucket), 400), expected);
    auto found = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Drama")}});
    found->setValue(QStringLiteral("Search Proxy"), Value(bucket));
    EXPECT_TRUE(PMToolTipText(Value(found), 400).endsWith(QStringLiteral("•Genre: Drama, Crime\n•Year: 1999, 2001")));
}

TEST_F(TileClicks, PopoverAfterTheDelayThenAtOnceFromTileToTile)
{
    auto& popover = PMPreviewViewToolTipPopover::shared();
    popover.hideForPreviewView(0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !popover.isVisibleOrRecentlyHidden(); })); // nothing recently hidden
    const auto first = grid->movieProxies()[0];
    const auto second = grid->movieProxies()[1];
    grid->updateHover(first.get(), first->frame.center());
    EXPECT_EQ(popover.delayedPreviewView(), first->view->serial);
    EXPECT_EQ(popover.previewView(), 0u);
    grid->updateHover(first.get(), first->frame.center()); // asked again: still waiting, once
    EXPECT_TRUE(testsupport::waitUntil([&] { return popover.previewView() == first->view->serial; }, 5000));
    EXPECT_EQ(popover.text(), records[0]->toolTip());
    grid->updateHover(second.get(), second->frame.center());
    EXPECT_EQ(popover.previewView(), second->view->serial); // moved at once
    grid->updateHover(nullptr, QPointF());
    EXPECT_EQ(popover.previewView(), 0u);
    EXPECT_TRUE(popover.isVisibleOrRecentlyHidden());
}

TEST_F(TileClicks, ContextMenuIsForTheTileOrTheSelectionItBelongsTo)
{
    std::vector<int> counts;
    const void* asked = nullptr;
    QMetaObject::Connection answer =
        QObject::connect(grid.get(), &PMGroupView::contextMenuRequested, grid.get(), [&](const platform::ArrayPtr& items, const void* view, QMenu**) {
            counts.push_back(items ? int(items->count()) : 0);
            asked = view;
        });
    grid->selectItems(nullptr, {grid->movieProxies()[0], grid->movieProxies()[1]}, {}, true, false, false, false);
    auto rightClick = [&](std::size_t i) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, centre(i), grid->viewport()->mapToGlobal(centre(i)));
        QCoreApplication::sendEvent(grid->viewport(), &event);
    };
    rightClick(1); // a selected tile: the whole selection
    rightClick(3); // outside the selection: that tile alone
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[0], 2);
    EXPECT_EQ(counts[1], 1);
    EXPECT_EQ(asked, grid->movieProxies()[3]->view.get());
    // The selection stays as it was.
    EXPECT_TRUE(grid->movieProxies()[0]->selected && grid->movieProxies()[1]->selected);
    EXPECT_FALSE(grid->movieProxies()[3]->selected);

    // A menu that opens: every tile it is for looks so while it is open, and no longer after.
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    std::vector<bool> looks;
    // Looked at and closed from within the menu's own loop, once it shows.
    QObject::connect(
        &menu, &QMenu::aboutToShow, &menu,
        [&] {
            for (const auto& proxy : grid->movieProxies())
                looks.push_back(proxy->view && proxy->view->displaysMenu);
            menu.close();
        },
        Qt::QueuedConnection);
    QObject::disconnect(answer);
    answer = QObject::connect(grid.get(), &PMGroupView::contextMenuRequested, grid.get(),
                              [&](const platform::ArrayPtr&, const void*, QMenu** shown) { *shown = &menu; });
    rightClick(0);
    QObject::disconnect(answer);
    EXPECT_EQ(looks, (std::vector<bool>{true, true, false, false}));
    for (const auto& proxy : grid->movieProxies())
        EXPECT_FALSE(proxy->view->displaysMenu);
    EXPECT_EQ(PMGroupView::interactionCounter(), 0u);
}

TEST_F(TileClicks, RatingOnTheTileOrWithShiftOnTheWholeSelection)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(900, 500);
    for (const auto& record : records)
        record->setRating(2);
    grid->tileWithAdjustedSize(false, false, false);
    QCoreApplication::processEvents();
    const auto& tiles = grid->movieProxies();
    ASSERT_EQ(tiles.size(), 4u);
    grid->selectItems(nullptr, {tiles[0], tiles[1], tiles[2]}, {}, true, false, false, false);
    const double top = grid->verticalScrollBar()->value();
    // The middle of the n-th star of a tile.
    auto star = [&](std::size_t tile, int n) {
        const QRectF stars = grid->ratingCellFrame(*tiles[tile]);
        EXPECT_FALSE(stars.isEmpty());
        return QPointF(stars.left() + (n - 0.5) * PMRatingCell::kStarWidth, stars.center().y() - top).toPoint();
    };
    auto ratings = [&] {
        std::vector<double> out;
        for (const auto& record : records)
            out.push_back(record->rating());
        return out;
    };
    platform::cancelPreviousPerformRequests(&mainController(), QStringLiteral("updateLibraryAfterRatingChange"), Value());

    // Without Shift only the pressed tile changes, and the drag follows the pointer.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, star(0, 3));
    EXPECT_EQ(records[0]->rating(), 3);
    QTest::mouseMove(grid->viewport(), star(0, 4));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, star(0, 4));
    EXPECT_EQ(ratings(), (std::vector<double>{4, 2, 2, 2}));
    EXPECT_TRUE(platform::hasPendingPerformRequest(&mainController(), QStringLiteral("updateLibraryAfterRatingChange"), Value()));
    EXPECT_TRUE(platform::hasPendingPerformRequest(&mainController(), QStringLiteral("saveLibrary"), Value())) << "a rating is saved soon";
    platform::cancelPreviousPerformRequests(&mainController(), QStringLiteral("saveLibrary"), Value());
    platform::cancelPreviousPerformRequests(&mainController(), QStringLiteral("updateLibraryAfterRatingChange"), Value());
    EXPECT_EQ(selectedCount(), 3); // rating never changes the selection

    // With Shift every selected movie tile takes the value; the unselected one keeps its own.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, star(1, 5));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, star(1, 5));
    EXPECT_EQ(ratings(), (std::vector<double>{5, 5, 5, 2}));
    EXPECT_TRUE(platform::hasPendingPerformRequest(&mainController(), QStringLiteral("updateLibraryAfterRatingChange"), Value()));

    // A tile outside the selection is rated alone, even with Shift.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, star(3, 1));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, star(3, 1));
    EXPECT_EQ(ratings(), (std::vector<double>{5, 5, 5, 1}));
    platform::cancelPreviousPerformRequests(&mainController(), QStringLiteral("updateLibraryAfterRatingChange"), Value());
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
}

TEST_F(TileClicks, WhileTheThumbIsDraggedTheLabelIsPlainUntilTheGridRests)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(900, 500);
    records[1]->setRating(5);
    grid->tileWithAdjustedSize(false, false, false);
    QCoreApplication::processEvents();
    // The right end of a tile's band, where the stars of a rated tile are.
    auto starsArea = [&](const QImage& shot, std::size_t tile) {
        const QRectF frame = grid->movieProxies()[tile]->frame.translated(0, -grid->verticalScrollBar()->value());
        return shot.copy(QRectF(frame.right() - 72, frame.top() + 2, 70, 18).toRect());
    };
    // The same tile drawn with and without its rating.
    auto grabRated = [&](double rating) {
        records[1]->setRating(rating);
        grid->movieProxies()[1]->view->invalidateDrawing();
        return starsArea(grid->viewport()->grab().toImage(), 1);
    };
    const QImage unrated = grabRated(0);
    ASSERT_NE(grabRated(5), unrated); // the stars show

    Q_EMIT grid->verticalScrollBar()->sliderPressed();
    for (const auto& proxy : grid->movieProxies())
        proxy->view->invalidateDrawing(); // drawn again while the thumb is held
    const QImage quickUnrated = grabRated(0);
    EXPECT_EQ(grabRated(5), quickUnrated);
    Q_EMIT grid->verticalScrollBar()->sliderReleased();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !grid->movieProxies()[1]->view->didSimplifyDisplay(); }, 2000));
    const QImage rested = starsArea(grid->viewport()->grab().toImage(), 1);
    EXPECT_NE(rested, unrated);
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
}

TEST_F(TileClicks, TilesAnswerAssistiveTechnologyAsButtons)
{
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(grid.get());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    ASSERT_EQ(list->childCount(), int(grid->shownProxies().size()));
    ASSERT_GE(list->childCount(), 4);
    QAccessibleInterface* first = list->child(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, list->child(0)); // one interface per tile
    EXPECT_EQ(first->role(), QAccessible::Button);
    EXPECT_EQ(first->text(QAccessible::Name), PMItem(grid->shownProxies()[0]->representedItem)->displayName());
    EXPECT_FALSE(first->text(QAccessible::Help).contains(QLatin1Char('\n')));
    EXPECT_EQ(list->indexOfChild(first), 0);
    EXPECT_EQ(first->parent(), list);
    EXPECT_EQ(list->childAt(first->rect().center().x(), first->rect().center().y()), first);
    grid->selectItems(nullptr, {grid->movieProxies()[0]}, {}, true, false, false, false);
    EXPECT_TRUE(first->state().selected);
    // A missing volume: no action, so the button is disabled.
    records[2]->setMissing(true, true);
    EXPECT_TRUE(list->child(2)->state().disabled);
    EXPECT_FALSE(list->child(1)->state().disabled);
    records[2]->setMissing(false, false);
    // Pressing it is the tile's action.
    if (records[1]->canPlay()) {
        auto* action = list->child(1)->actionInterface();
        ASSERT_NE(action, nullptr);
        action->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_EQ(chosen.size(), 1u);
        EXPECT_EQ(chosen[0], records[1].get());
    }
}

TEST(MovieTileOverlay, WhichPictureLiesOverTheMainOneAndWhere)
{
    using O = PMMovieTileOverlay;
    PMMovieTileOverlayInput base;
    base.hasPoster = true;
    base.area = QSizeF(160, 90);
    struct Case {
        const char* what;
        std::function<void(PMMovieTileOverlayInput&)> change;
        O expected;
    } cases[] = {
        {"a wide picture in a wide tile", [](auto& in) { in.mainRatio = 1.78; }, O::None},
        {"a poster in a wide tile", [](auto& in) { in.mainRatio = 0.67; }, O::Main},
        {"a poster, overlay alpha nearly 0", [](auto& in) { in.mainRatio = 0.67, in.alpha = 1e-8; }, O::None},
        {"a poster in a waterfall", [](auto& in) { in.mainRatio = 0.67, in.waterfall = true; }, O::None},
        {"covers mode repeats the picture", [](auto& in) { in.coverMode = true, in.mainRatio = 1.78; }, O::Main},
        {"a cover over the preview", [](auto& in) { in.hasCover = true, in.mainRatio = 1.78; }, O::Cover},
        {"scaling one by one", [](auto& in) { in.scaleIndividually = true, in.mainRatio = 1.78; }, O::Main},
        {"scale to fit at rest", [](auto& in) { in.scaleToFit = true, in.mainRatio = 0.67; }, O::None},
        {"scale to fit, active", [](auto& in) { in.scaleToFit = true, in.looksActive = true, in.mainRatio = 0.67; }, O::Main},
        {"scale to fit with both pictures", [](auto& in) { in.scaleToFit = true, in.hasCover = true; }, O::Cover},
    };
    for (const Case& c : cases) {
        PMMovieTileOverlayInput in = base;
        c.change(in);
        EXPECT_EQ(PMMovieTileOverlayFor(in), c.expected) << c.what;
    }

    // A poster over a wide area: the cover's shape, at the overlay position.
    const QRectF area(0, 0, 160, 90);
    PMMovieTileOverlayGeometry g;
    g.position = 0;
    QRectF frame = PMMovieTileOverlayFrame(area, 0.67, g);
    EXPECT_NEAR(frame.width() / frame.height(), 1 / 1.46, 0.01);
    EXPECT_EQ(frame.left(), 0);
    EXPECT_EQ(frame.height(), 90);
    g.position = 1;
    EXPECT_NEAR(PMMovieTileOverlayFrame(area, 0.67, g).right(), 160, 1e-6);
    g.position = 0.5;
    EXPECT_EQ(PMMovieTileOverlayFrame(area, 0.67, g).left(), std::floor((160 - frame.width()) / 2));
    g.cycling = true; // centred while cycling
    EXPECT_NEAR(PMMovieTileOverlayFrame(area, 0.67, g).center().x(), 80, 1e-6);
    g.cycling = false;
    // Scaled one by one: fitted at its own shape and centred.
    g.scaleIndividually = true;
    frame = PMMovieTileOverlayFrame(area, 0.5, g);
    EXPECT_NEAR(frame.width(), 45, 1e-6);
    EXPECT_NEAR(frame.center().x(), 80, 1e-6);
    // A picture of the area's shape keeps the whole area.
    g.scaleIndividually = false;
    EXPECT_EQ(PMMovieTileOverlayFrame(area, 160.0 / 90.0, g), area);
    // The stored per-movie choice wins; else orientations that differ scale to fit.
    EXPECT_FALSE(PMMovieTileScalesIndividually(platform::Value(false), 0.5, 1.78));
    EXPECT_TRUE(PMMovieTileScalesIndividually(platform::Value(), 0.5, 1.78));
    EXPECT_FALSE(PMMovieTileScalesIndividually(platform::Value(), 1.5, 1.78));
}

TEST(MovieTileBand, MenuButtonAndStarsFollowTheBand)
{
    const QRectF band(0, 0, 200, 22);
    EXPECT_TRUE(PMMovieTileContextMenuButtonFrame(band, false, false, true).isEmpty());
    EXPECT_EQ(PMMovieTileContextMenuButtonFrame(band, true, false, true), QRectF(2, 2, 18, 18));
    EXPECT_TRUE(PMMovieTileContextMenuButtonFrame(band, true, true, true).isEmpty());  // stars dragged
    EXPECT_TRUE(PMMovieTileContextMenuButtonFrame(band, true, false, false).isEmpty()); // no group shown
    PMMovieTileRatingState s;
    s.labelsOverlaid = true;
    EXPECT_TRUE(PMMovieTileRatingFrame(band, s).isEmpty()); // unrated, band not hovered
    s.rating = 3;
    EXPECT_EQ(PMMovieTileRatingFrame(band, s), QRectF(200 - 68 - 2, 1, 68, 21));
    EXPECT_TRUE(PMMovieTileRatingFrame(QRectF(0, 0, 138, 22), s).isEmpty());
    s.rating = 0;
    s.bandHovered = true;
    EXPECT_FALSE(PMMovieTileRatingFrame(QRectF(0, 0, 92, 22), s).isEmpty());
    EXPECT_TRUE(PMMovieTileRatingFrame(QRectF(0, 0, 91, 22), s).isEmpty());
    s.menuOpen = true;
    EXPECT_TRUE(PMMovieTileRatingFrame(band, s).isEmpty());
    // Labels below, not selected: moved right by 3.
    PMMovieTileRatingState below;
    below.hovering = true;
    below.rating = 4;
    EXPECT_EQ(PMMovieTileRatingFrame(band, below).left(), 200 - 68 + 3);
    // Band frames.
    EXPECT_EQ(PMMovieTileLabelFrame(QRectF(0, 0, 100, 80), true, 22), QRectF(0, 0, 100, 22));
    EXPECT_EQ(PMMovieTileLabelFrame(QRectF(0, 0, 100, 80), false, 22), QRectF(0, 58, 100, 22));
    EXPECT_EQ(PMMovieTilePictureFrame(QRectF(0, 0, 100, 80), true, true, 22), QRectF(0, 22, 100, 58));
    EXPECT_EQ(PMMovieTilePictureFrame(QRectF(0, 0, 100, 80), false, true, 22), QRectF(0, 0, 100, 80));
}

TEST_F(TileClicks, FirstTheReducedPictureThenALargerOneWhenTheTileGrows)
{
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const auto& record = records[0];
    QImage pixels(1600, 900, QImage::Format_RGB32);
    pixels.fill(QColor(40, 120, 200));
    const platform::ImagePtr picture = platform::Image::make(std::move(pixels));
    const QString id = record->uniqueLibraryID();
    loader.savePosterImage(picture, *record);
    loader.saveUnderscorePosterImageJPEGRepresentation(underscoreImageJPEGRepresentation(picture),
                                                       mainController().posterImageDirectoryPath() + QStringLiteral("/_/") + id, id,
                                                       loader.imageGeneration(false, id));
    loader.waitForSaveQueue();
    record->uncacheCoverImageAndPosterImage();
    auto tileAnew = [&] {
        grid->clear();
        for (const auto& r : records)
            grid->addItem(Value(r));
        grid->tileWithAdjustedSize(false, false, false);
        grid->viewport()->grab(); // drawn: the tiles ask for what they lack
    };
    // Small tiles: the reduced copy comes first and suffices.
    tileAnew();
    ASSERT_TRUE(testsupport::waitUntil([&] { return record->cachedPosterImage() != nullptr; }, 30000));
    const int reduced = record->cachedPosterImage()->pixels().width();
    EXPECT_LT(reduced, 1600);
    EXPECT_TRUE(testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0; }, 30000));
    EXPECT_EQ(record->cachedPosterImage()->pixels().width(), reduced);

    // The same tile grown beyond the reduced copy asks for the picture itself once drawn.
    const auto tile = grid->movieProxies()[0]->view;
    defaults().setDouble(reduced + 60, QStringLiteral("Preview Width"));
    grid->resize(2 * reduced + 200, 600);
    grid->tileWithAdjustedSize(false, false, false);
    grid->viewport()->grab();
    ASSERT_EQ(grid->movieProxies()[0]->view, tile);
    ASSERT_GT(grid->movieProxies()[0]->frame.width(), reduced + 5);
    EXPECT_TRUE(testsupport::waitUntil([&] { return record->cachedPosterImage() && record->cachedPosterImage()->pixels().width() > reduced; }, 30000));
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
}

TEST_F(TileClicks, TheSecondPressOfADoubleClickIsDroppedWhenTheContentWasReplaced)
{
    if (!records[0]->canPlay())
        GTEST_SKIP() << "no playable fixture";
    // A single click only selects; a double click plays.
    defaults().setInteger(1, QStringLiteral("Preview Single-Click Behavior"));
    auto secondPress = [&](QPoint at) {
        QMouseEvent press(QEvent::MouseButtonDblClick, QPointF(at), QPointF(grid->viewport()->mapToGlobal(at)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(grid->viewport(), &press);
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
    };
    // The first click changed what the grid shows (as opening a folder does): the tile now
    // under the pointer is not played.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre(1));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre(1));
    grid->clear();
    grid->setRepresentedGroup(group);
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        grid->addItem(Value(*it));
    grid->tileWithAdjustedSize(false, false, false);
    secondPress(centre(1));
    EXPECT_TRUE(chosen.empty());
    // The same content: the double click plays.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre(1));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre(1));
    secondPress(centre(1));
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0], PMMovie(grid->movieProxies()[1]->representedItem));
}

TEST_F(TileClicks, TheMenuButtonSelectsWhileNoMenuCanOpen)
{
    QObject::disconnect(grid.get(), &PMGroupView::contextMenuRequested, nullptr, nullptr);
    const PMGroupViewItemProxyPtr tile = grid->movieProxies()[2];
    const QRectF band = PMMovieTileLabelFrame(tile->frame, true, PMGroupViewLabelBand);
    const QRectF button = PMMovieTileContextMenuButtonFrame(band, true, false, true);
    ASSERT_FALSE(button.isEmpty());
    const QPoint at = (button.center() - QPointF(0, grid->verticalScrollBar()->value())).toPoint();
    // The pointer on the band shows the button.
    QTest::mouseMove(grid->viewport(), at);
    grid->updateHover(tile.get(), button.center());
    ASSERT_TRUE(tile->view && tile->view->hoveringLabel);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(tile->selected);
    EXPECT_EQ(selectedCount(), 1);
    EXPECT_TRUE(chosen.empty()) << "a click on the band never plays";
}

TEST_F(TileClicks, HoverFollowsThePointerThroughScrollsAndStopsWithTheWindow)
{
    double now = 1000;
    grid->hoverClock = [&] { return now; };
    // Many tiles, so that the grid scrolls; rebuilt with the steered clock.
    for (int i = 4; i < 40; ++i) {
        records.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/More %1.mp4").arg(i)));
        group->rawChildren()->append(Value(records.back()));
    }
    grid->clear();
    grid->setRepresentedGroup(group);
    for (const auto& record : records)
        grid->addItem(Value(record));
    grid->tileWithAdjustedSize(false, false, false);
    QApplication::setActiveWindow(grid.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.get()));
    QCoreApplication::processEvents();
    const PMGroupViewItemProxyPtr first = grid->movieProxies()[1];
    const QPoint at = centre(1) + QPoint(0, 10);
    QTest::mouseMove(grid->viewport(), at);
    ASSERT_TRUE(first->view && first->view->hovering);
    EXPECT_DOUBLE_EQ(first->view->hover.pendingStepTime(), 1002.0);
    // The pointer moves on the picture before the delay is over: the delay starts again.
    now = 1001.5;
    QTest::mouseMove(grid->viewport(), at + QPoint(3, 0));
    EXPECT_DOUBLE_EQ(first->view->hover.pendingStepTime(), 1003.5);

    // A wheel scroll moves another tile under the resting pointer: the hover goes with it.
    grid->verticalScrollBar()->setValue(int(grid->movieProxies()[9]->frame.top() - grid->movieProxies()[1]->frame.top()));
    QCoreApplication::processEvents();
    EXPECT_FALSE(first->view && first->view->hovering);
    const QPointF gridPoint = QPointF(at + QPoint(3, 0)) + QPointF(0, grid->verticalScrollBar()->value());
    PMGroupViewItemProxyPtr under;
    for (const auto& proxy : grid->movieProxies())
        if (proxy->frame.contains(gridPoint))
            under = proxy;
    ASSERT_TRUE(under && under != first);
    EXPECT_TRUE(under->view && under->view->hovering);
    EXPECT_EQ(PMPreviewViewToolTipPopover::shared().delayedPreviewView() | PMPreviewViewToolTipPopover::shared().previewView(), under->view->serial);

    // The window goes to the back: no hover, no cycling, no popover.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(under->view->hovering);
    EXPECT_FALSE(under->view->hover.hasPendingStep());
    EXPECT_EQ(PMPreviewViewToolTipPopover::shared().delayedPreviewView(), 0u);
    EXPECT_EQ(PMPreviewViewToolTipPopover::shared().previewView(), 0u);
    // Moves over the inactive window's tiles change nothing.
    QTest::mouseMove(grid->viewport(), at);
    EXPECT_FALSE(grid->movieProxies()[9]->view && grid->movieProxies()[9]->view->hovering);
}

TEST_F(TileClicks, ThePopoverGoesWithItsTileAndReads)
{
    auto& popover = PMPreviewViewToolTipPopover::shared();
    popover.hideForPreviewView(0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !popover.isVisibleOrRecentlyHidden(); }));
    const auto tile = grid->movieProxies()[0];
    grid->updateHover(tile.get(), tile->frame.center());
    ASSERT_TRUE(testsupport::waitUntil([&] { return popover.previewView() == tile->view->serial; }, 5000));
    QWidget* window = popover.window();
    ASSERT_TRUE(window);
    // Its text, as drawn, reads against its background (4.5:1).
    const QImage shot = window->grab().toImage();
    const QColor background = shot.pixelColor(4, shot.height() / 2);
    QColor strongest = background;
    for (int y = 6; y < shot.height() - 6; ++y) // inside the frame's line
        for (int x = 6; x < shot.width() - 6; ++x)
            if (PMContrastRatio(shot.pixelColor(x, y), background) > PMContrastRatio(strongest, background))
                strongest = shot.pixelColor(x, y);
    EXPECT_GE(PMContrastRatio(strongest, background), 4.5) << strongest.name().toStdString() << " on " << background.name().toStdString();
    // The secondary colours of the light and the dark look are moved just far enough.
    for (const QColor& base : {QColor(Qt::white), QColor(40, 40, 40)}) {
        const QColor secondary = base.lightness() > 128 ? QColor(0, 0, 0, 128) : QColor(255, 255, 255, 128);
        const QColor readable = PMReadableTextColor(secondary, base);
        EXPECT_GE(PMContrastRatio(readable, base), 4.5);
        EXPECT_LT(PMContrastRatio(readable, base), 5.0) << "still a secondary colour";
    }
    // The content is replaced: the tile is gone, and so is its description.
    const quint64 serial = tile->view->serial;
    grid->clear();
    EXPECT_NE(popover.previewView(), serial);
    EXPECT_EQ(popover.previewView(), 0u);
}

TEST_F(TileClicks, TheSelectionRingIsGreyWhileTheGridHasNoFocus)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(700, 500);
    grid->tileWithAdjustedSize(false, false, false);
    grid->selectItems(nullptr, {grid->movieProxies()[0]}, {}, true, false, false, false);
    const QColor accent = QGuiApplication::palette().highlight().color();
    auto ringColour = [&] {
        const QImage shot = grid->viewport()->grab().toImage();
        const QRectF selected = grid->movieProxies()[0]->frame.translated(0, -grid->verticalScrollBar()->value());
        return shot.pixelColor(QPointF(selected.left() + 1.5, selected.center().y() - 20).toPoint());
    };
    QApplication::setActiveWindow(grid.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.get()));
    grid->setFocus();
    QCoreApplication::processEvents();
    EXPECT_TRUE(near(ringColour(), accent)) << ringColour().name().toStdString();
    grid->clearFocus();
    QCoreApplication::processEvents();
    const QColor grey = ringColour();
    EXPECT_FALSE(near(grey, accent)) << grey.name().toStdString();
    EXPECT_EQ(grey.red(), grey.blue()) << "grey";
}

TEST_F(TileClicks, TheDurationSitsBottomRightAndMarksOnlyUnplayedMovies)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(700, 500);
    for (const auto& record : records) {
        record->setDuration(5025);
        record->setPosterImage(platform::Image::make([] {
            QImage picture(160, 90, QImage::Format_RGB32);
            picture.fill(QColor(20, 120, 40));
            return picture;
        }()));
    }
    records[1]->incrementCounter(); // played
    grid->tileWithAdjustedSize(false, false, false);
    QCoreApplication::processEvents();
    const QImage shot = grid->viewport()->grab().toImage();
    const double top = grid->verticalScrollBar()->value();
    // The badge's dark plate lies in the picture's bottom-right corner, not its top.
    auto darkIn = [&](const QRectF& area) {
        int n = 0;
        for (int y = int(area.top()); y < int(area.bottom()); ++y)
            for (int x = int(area.left()); x < int(area.right()); ++x)
                n += qGray(shot.pixel(x, y)) < 60;
        return n;
    };
    const QRectF unplayed = grid->movieProxies()[0]->frame.translated(0, -top);
    const QRectF played = grid->movieProxies()[1]->frame.translated(0, -top);
    const QRectF bottomRight(unplayed.right() - 90, unplayed.bottom() - 30, 88, 28);
    const QRectF topRight(unplayed.right() - 90, unplayed.top() + 24, 88, 28);
    EXPECT_GT(darkIn(bottomRight), 40);
    EXPECT_LT(darkIn(topRight), 10);
    // The unplayed mark: a light ring before the time, only on the movie never played.
    auto lightIn = [&](const QRectF& tile) {
        int n = 0;
        const QRectF corner(tile.right() - 90, tile.bottom() - 30, 88, 28);
        for (int y = int(corner.top()); y < int(corner.bottom()); ++y)
            for (int x = int(corner.left()); x < int(corner.right()); ++x)
                n += qGray(shot.pixel(x, y)) > 200;
        return n;
    };
    EXPECT_GT(lightIn(unplayed), lightIn(played));
}

// The grid asked for the fake files' pictures when it was shown; a preview set while those
// loads run stays: their late answers (the files' icons) bring back nothing.
TEST_F(TileClicks, APictureSetWhileItsLoadRunsIsKept)
{
    const platform::ImagePtr poster = platform::Image::make([] {
        QImage picture(160, 90, QImage::Format_RGB32);
        picture.fill(QColor(20, 120, 40));
        return picture;
    }());
    const platform::ImagePtr cover = platform::Image::make([] {
        QImage picture(90, 160, QImage::Format_RGB32);
        picture.fill(QColor(120, 20, 40));
        return picture;
    }());
    records[0]->setPosterImage(poster);
    records[1]->setCoverImage(cover);
    gridtest::waitForPictureLoads();
    EXPECT_EQ(records[0]->cachedPosterImage(), poster);
    EXPECT_EQ(records[1]->cachedCoverImage(), cover);
}

TEST_F(TileClicks, AnIconStandsInTheMiddleOfItsGlow)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(700, 500);
    grid->tileWithAdjustedSize(false, false, false);
    // The fake files have no picture: their tiles show the file's icon over its blurred
    // glow, which is made in the background (until then the icon fills the picture).
    const QRectF tile = grid->movieProxies()[0]->frame.translated(0, -grid->verticalScrollBar()->value());
    const QRectF picture = tile.adjusted(2, PMGroupViewLabelBand + 2, -2, -2);
    double centre = 0;
    int n = 0;
    const bool glowing = testsupport::waitUntil(
        [&] {
            QCoreApplication::processEvents();
            const QImage shot = grid->viewport()->grab().toImage();
            double sum = 0;
            n = 0;
            for (int y = int(picture.top()); y < int(picture.bottom()); ++y)
                for (int x = int(picture.left()); x < int(picture.right()); ++x)
                    if (qGray(shot.pixel(x, y)) > 246) {
                        sum += x;
                        ++n;
                    }
            centre = n ? sum / n : 0;
            return n > 100 && n < picture.width() * picture.height() * 0.4; // the icon at its own size
        },
        10000);
    ASSERT_TRUE(glowing) << n;
    EXPECT_NEAR(centre, tile.center().x(), 3.0);
}

TEST_F(TileClicks, ATileArrivingOnScreenLooksAsOneDrawnAgain)
{
    defaults().setDouble(200, QStringLiteral("Preview Width"));
    grid->resize(700, 500);
    grid->tileWithAdjustedSize(false, false, false);
    // A picture smaller than the tile, dark at the top and light at the bottom: drawn
    // enlarged over its blurred copy.
    QImage gradient(100, 60, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(gradient.scanLine(y)), gradient.width(), qRgb(y * 4, y * 4, y * 4));
    const platform::ImagePtr picture = platform::Image::make(gradient);
    // Once the loads for the fake file have answered (with its icon).
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0;
    }, 30000));
    QCoreApplication::processEvents();
    records[0]->original().m_posterImage = picture;
    const PMGroupViewItemProxyPtr proxy = grid->movieProxies()[0];
    ASSERT_TRUE(proxy->view);
    const QRect tile = proxy->frame.translated(0, -grid->verticalScrollBar()->value()).toAlignedRect();
    ASSERT_GE(tile.height(), 120); // taller than one band of rows
    const auto shot = [&] {
        grid->viewport()->repaint();
        return grid->viewport()->grab(tile).toImage().convertToFormat(QImage::Format_RGB32);
    };
    shot();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return picture->cachedBlurredImage() != nullptr;
    }, 10000));
    // Arriving (its buffers from the pool, the picture composed into the drawing), drawn
    // again with the same picture (the picture's area then kept apart), and drawn from that.
    proxy->view->discardDrawing();
    const QImage arriving = shot();
    proxy->view->invalidateDrawing();
    const QImage again = shot();
    proxy->view->invalidateDrawing();
    const QImage fromKept = shot();
    EXPECT_EQ(arriving, again);
    EXPECT_EQ(arriving, fromKept);
    // The enlarged picture runs smoothly from dark to light down the middle of the tile.
    int previous = -1, steps = 0;
    for (int y = tile.height() / 2 - 30; y < tile.height() / 2 + 30; ++y) {
        const int grey = qGray(arriving.pixel(arriving.width() / 2, y));
        if (previous >= 0) {
            EXPECT_GE(grey, previous) << y;
            EXPECT_LE(grey - previous, 12) << y;
            steps += grey > previous;
        }
        previous = grey;
    }
    EXPECT_GT(steps, 20);
    defaults().removeObjectForKey(QStringLiteral("Preview Width"));
}
