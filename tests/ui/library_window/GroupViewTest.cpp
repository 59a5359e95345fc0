// The grid with real events: tiles reused across refreshes, selection by clicks, keys
// and rubber band, the visible tiles after a scroll, the delete command, and drags that
// reorder or drop files.
#include "common/MediaFixtures.h"
#include "GridTestSupport.h"
#include "common/TestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMPasteboard.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMSliderExtremeView.h"

#include <gtest/gtest.h>

#include <set>

#include <QtCore/QMimeData>
#include <QtGui/QDrag>
#include <QtGui/QKeyEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QSlider>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

PMMovieRepresentationOriginalPtr movie(const QString& dir, int n, double ratio = 1.5)
{
    const QString path = dir + QStringLiteral("/Movie %1.mp4").arg(n, 3, 10, QLatin1Char('0'));
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    record->setThumbnailSizeDescription(QStringLiteral("{%1, %2}").arg(int(ratio * 100)).arg(100));
    return record;
}

// A grid of 100-point tiles, spacing 10, 4 columns (480 wide), filled with movies.
class GroupView : public ::testing::Test {
protected:
    void SetUp() override
    {
        gridtest::useSmallUniformTiles();
        dir = testsupport::makeTempDir(QStringLiteral("grid"));
        group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Movies")}});
        grid = std::make_unique<PMGroupView>();
        grid->resize(480, 300);
    }
    void TearDown() override
    {
        grid.reset();
        // The loads the tiles asked for end before the records and the process go.
        auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
        testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000);
        loader.waitForSaveQueue();
        QCoreApplication::processEvents();
        defaults().removeObjectForKey(QStringLiteral("Adjust Preview Size"));
    }
    void fill(int count, const PMLibraryContainerPtr& container = nullptr)
    {
        const PMLibraryContainerPtr target = container ? container : group;
        if (records.empty())
            for (int i = 0; i < count; ++i) {
                records.push_back(movie(dir, i));
                target->rawChildren()->append(Value(records.back()));
            }
        grid->clear();
        grid->setRepresentedGroup(target);
        for (const auto& record : records)
            grid->addItem(Value(record));
        grid->tileWithAdjustedSize(false, false, false);
        QCoreApplication::processEvents();
    }
    // The container in the controller's library, as the container it shows; dragging
    // tiles switches it to manual sorting.
    void showInController()
    {
        PMMainController& c = mainController();
        c.resetForTesting();
        c.resetDropStateForTesting();
        defaults().setBool(true, QStringLiteral("Automatically Toggle Manual Sorting"));
        c.pellisSourceStorageSection()->rawChildren()->append(Value(group));
        c.invalidateLibraryDependencies();
        c._groupItemsParent = group;
    }
    QPoint centre(std::size_t movieIndex) const
    {
        const QRectF frame = grid->movieProxies()[movieIndex]->frame;
        return (frame.center() - QPointF(0, grid->verticalScrollBar()->value())).toPoint();
    }
    std::vector<int> selection() const
    {
        std::vector<int> out;
        for (std::size_t i = 0; i < grid->movieProxies().size(); ++i)
            if (grid->movieProxies()[i]->selected)
                out.push_back(int(i));
        return out;
    }
    void select(std::initializer_list<int> indexes)
    {
        std::vector<PMGroupViewItemProxyPtr> proxies;
        for (int i : indexes)
            proxies.push_back(grid->movieProxies()[size_t(i)]);
        grid->selectItems(nullptr, proxies, {}, true, false, false, false);
    }

    QString dir;
    PMLibraryContainerPtr group;
    std::vector<PMMovieRepresentationOriginalPtr> records;
    std::unique_ptr<PMGroupView> grid;
};

} // namespace

TEST_F(GroupView, RefreshWithinASecondReusesTilesAndKeepsTheirPlaces)
{
    fill(6);
    grid->updatePreviousFrames();
    PMGroupViewItemProxyPtr first = grid->movieProxies()[0];
    const QRectF before = first->frame;
    select({0});
    fill(6);
    ASSERT_EQ(grid->movieProxies()[0], first); // the same proxy again
    EXPECT_EQ(first->previousFrame, before);
    EXPECT_FALSE(first->selected); // a reused tile starts unselected

    // After a second the dump is gone (its proxies let go): new tiles without a previous place.
    const std::weak_ptr<PMGroupViewItemProxy> dumped = std::exchange(first, nullptr);
    grid->clear();
    ASSERT_TRUE(testsupport::waitUntil([&] { return dumped.expired(); }, 10000));
    grid->setRepresentedGroup(group);
    for (const auto& record : records)
        grid->addItem(Value(record));
    EXPECT_TRUE(dumped.expired()) << "the dumped proxy is not used again";
    EXPECT_TRUE(grid->movieProxies()[0]->previousFrame.isEmpty());
}

TEST_F(GroupView, ARefillFindsTheProxiesOfRecordsByAddressAndOfContainersByTheirID)
{
    fill(6);
    const auto subgroup = [](const QString& name) {
        return PMLibraryContainer::make({{QStringLiteral("Name"), name}, {QStringLiteral("Unique ID"), QStringLiteral("SUB-1")}});
    };
    std::vector<Value> items(records.begin(), records.end());
    items.push_back(Value(subgroup(QStringLiteral("Sub"))));
    ASSERT_FALSE(grid->setItems(group, items));
    grid->tileWithAdjustedSize(false, false, false);
    const PMGroupViewItemProxyPtr record = grid->movieProxies()[1];
    const PMGroupViewItemProxyPtr container = grid->groupProxies()[0];
    // Other content: one record fewer, and the subgroup as a new object of the same ID
    // (as a search shows a copy of it).
    items.erase(items.begin());
    items.back() = Value(subgroup(QStringLiteral("Sub (Outer)")));
    ASSERT_FALSE(grid->setItems(group, items));
    EXPECT_EQ(grid->movieProxies()[0], record);
    EXPECT_EQ(grid->groupProxies()[0], container);
    EXPECT_EQ(PMItem(container->representedItem)->displayName(), QStringLiteral("Sub (Outer)"));

    // A search shows stand-ins for the records: a record's tile is found by the record it
    // stands for, and the record's again after the search.
    grid->tileWithAdjustedSize(false, false, false);
    const PMGroupViewItemProxyPtr third = grid->movieProxies()[1];
    std::vector<Value> results;
    for (std::size_t i = 1; i < records.size(); ++i)
        results.push_back(Value(records[i]->searchResultProxy()));
    ASSERT_FALSE(grid->setItems(group, results));
    EXPECT_EQ(grid->movieProxies()[0], record);
    EXPECT_EQ(grid->movieProxies()[1], third);
    grid->tileWithAdjustedSize(false, false, false);
    ASSERT_FALSE(grid->setItems(group, items));
    EXPECT_EQ(grid->movieProxies()[0], record);
}

TEST_F(GroupView, TheProxiesOfEarlierContentGoAfterTheRefill)
{
    // Many tiles' proxies are let go after the refill, a slice at a time, not all at once
    // while the grid fills again.
    std::vector<Value> many;
    for (int i = 0; i < 20000; ++i)
        many.push_back(Value(std::make_shared<PMMovieRepresentationOriginal>(dir + QStringLiteral("/Many %1.mp4").arg(i))));
    ASSERT_FALSE(grid->setItems(group, many));
    const std::weak_ptr<PMGroupViewItemProxy> first = grid->movieProxies().front();
    fill(6);
    EXPECT_FALSE(first.expired()) << "kept for reuse until the dump goes";
    grid->clearProxyDump();
    EXPECT_FALSE(first.expired()) << "twenty thousand proxies go over several turns";
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.expired(); }, 10000));
}

TEST_F(GroupView, ARefillTakesTheLastContentsProxiesThatNobodyElseHolds)
{
    // A refill lays its new items into the proxies of the last content (their memory is
    // already the program's), never into one still held elsewhere, and starts each clean.
    std::vector<Value> before;
    for (int i = 0; i < 300; ++i)
        before.push_back(Value(std::make_shared<PMMovieRepresentationOriginal>(dir + QStringLiteral("/Before %1.mp4").arg(i))));
    ASSERT_FALSE(grid->setItems(group, before));
    grid->tileWithAdjustedSize(false, false, false);
    const PMGroupViewItemProxyPtr held = grid->movieProxies().back(); // the first a refill would take
    PMGroupViewItemProxy* const free = grid->movieProxies()[before.size() - 2].get();
    free->selected = true;
    free->dragged = true;
    const std::weak_ptr<platform::Object> shownBefore = before[before.size() - 2].object();

    grid->updatePreviousFrames();
    std::vector<Value> after;
    for (int i = 0; i < 3; ++i) {
        records.push_back(movie(dir, i));
        after.push_back(Value(records.back()));
    }
    ASSERT_FALSE(grid->setItems(group, after));
    ASSERT_EQ(grid->movieProxies().size(), 3u);
    for (const PMGroupViewItemProxyPtr& proxy : grid->movieProxies())
        EXPECT_TRUE(proxy->previousFrame.isEmpty() && proxy->frame.isEmpty()) << "no place of the item it showed before";
    grid->tileWithAdjustedSize(false, false, false);
    EXPECT_TRUE(PMIsSameItem(held->representedItem, before.back())) << "a proxy held elsewhere is left as it was";
    EXPECT_EQ(grid->movieProxies()[0].get(), free) << "the last content's proxy is used again";
    for (std::size_t i = 0; i < 3; ++i) {
        const PMGroupViewItemProxyPtr& proxy = grid->movieProxies()[i];
        EXPECT_TRUE(PMIsSameItem(proxy->representedItem, Value(records[i])));
        EXPECT_FALSE(proxy->selected);
        EXPECT_FALSE(proxy->dragged);
        EXPECT_FALSE(proxy->frame.isEmpty()) << "laid out anew";
    }

    // What those proxies showed is let go with the dump, once nobody else holds it.
    before.clear();
    EXPECT_FALSE(shownBefore.expired());
    grid->clearProxyDump();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownBefore.expired(); }, 10000));
}

TEST_F(GroupView, TilesWhoseFadeInIsCutShortEndOpaque)
{
    grid->show();
    fill(4);
    // The unanimated tiling's hold on animations ends.
    ASSERT_TRUE(testsupport::waitUntil([] { return PMGroupView::animationSuppressionCounter() == 0; }));
    grid->updatePreviousFrames();
    // Four more movies arrive and fade in; before they are done, another tiling comes.
    for (int i = 4; i < 8; ++i) {
        records.push_back(movie(dir, i));
        grid->addItem(Value(records.back()));
    }
    grid->tileWithAdjustedSize(false, false, true);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (std::size_t i = 4; i < grid->movieProxies().size(); ++i)
            if (grid->movieProxies()[i]->view && grid->movieProxies()[i]->view->alpha > 0)
                return true;
        return false;
    })) << "the fade-in begins";
    grid->tileWithAdjustedSize(false, false, true);
    // The second animation ends within a quarter of a second; a busy machine may be late.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const PMGroupViewItemProxyPtr& proxy : grid->movieProxies())
                if (!proxy->view || proxy->view->alpha < 1.0 || proxy->view->shownFrame != proxy->frame)
                    return false;
            return true;
        },
        5000));
    for (std::size_t i = 0; i < grid->movieProxies().size(); ++i) {
        const PMGroupViewItemProxyPtr& proxy = grid->movieProxies()[i];
        ASSERT_TRUE(proxy->view) << i;
        EXPECT_EQ(proxy->view->alpha, 1.0) << i;
        EXPECT_EQ(proxy->view->shownFrame, proxy->frame) << i;
    }
}

TEST_F(GroupView, ClicksAndRangeSelectionAroundExistingBlocks)
{
    fill(12);
    grid->show();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(5));
    EXPECT_EQ(selection(), std::vector<int>({5}));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(8));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(9));
    EXPECT_EQ(selection(), std::vector<int>({5, 8, 9}));
    // Shift before the first selected tile: up to it; the later block stays.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(2));
    EXPECT_EQ(selection(), std::vector<int>({2, 3, 4, 5, 8, 9}));
    // Shift after: from the first selected tile on.
    select({3});
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(6));
    EXPECT_EQ(selection(), std::vector<int>({3, 4, 5, 6}));
    // A click on the background deselects everything.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(470, 290));
    EXPECT_TRUE(selection().empty());
}

TEST_F(GroupView, SelectionByStoredIDsComparesByValue)
{
    fill(8);
    QStringList ids;
    for (int i : {1, 6})
        ids << QString(records[size_t(i)]->uniqueLibraryID().toUtf8()); // new strings, equal text
    grid->selectItemsWithIDs(ids);
    EXPECT_EQ(selection(), std::vector<int>({1, 6}));
    ArrayPtr selected = grid->selectedItems();
    ASSERT_EQ(selected->count(), 2);
    EXPECT_TRUE(PMIsSameItem(selected->at(0), Value(records[1])));
}

TEST_F(GroupView, ArrowKeys)
{
    // 10 tiles in rows of 4: 0-3, 4-7, 8-9.
    fill(10);
    grid->show();
    struct Case {
        std::vector<int> selected;
        Qt::Key key;
        int expected;
    } cases[] = {
        {{}, Qt::Key_Right, 0}, {{}, Qt::Key_Left, 0},  {{}, Qt::Key_Down, 4},   {{9}, Qt::Key_Right, 9}, {{0}, Qt::Key_Left, 0},
        {{5}, Qt::Key_Right, 6}, {{5, 6}, Qt::Key_Left, 4}, {{5}, Qt::Key_Up, 1}, {{5}, Qt::Key_Down, 9}, {{2}, Qt::Key_Up, 0},
        {{8}, Qt::Key_Down, 9},  // the last row: the last movie tile
        {{7}, Qt::Key_Down, 9},  // nothing below in its column: the last tile
        {{1, 6}, Qt::Key_Down, 9}, // from the last selected
    };
    for (const Case& c : cases) {
        std::vector<PMGroupViewItemProxyPtr> proxies;
        for (int i : c.selected)
            proxies.push_back(grid->movieProxies()[size_t(i)]);
        grid->selectItems(nullptr, proxies, {}, true, false, false, false);
        QTest::keyClick(grid.get(), c.key);
        EXPECT_EQ(selection(), std::vector<int>({c.expected})) << "key " << c.key << " from " << (c.selected.empty() ? -1 : c.selected[0]);
    }
    select({1});
    QTest::keyClick(grid.get(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(selection(), std::vector<int>({1, 2, 3, 4, 5}));
}

TEST_F(GroupView, VisibleTilesAfterAScroll)
{
    fill(200);
    grid->show();
    QCoreApplication::processEvents();
    auto withViews = [&] {
        std::vector<int> out;
        for (std::size_t i = 0; i < grid->movieProxies().size(); ++i)
            if (grid->movieProxies()[i]->view)
                out.push_back(int(i));
        return out;
    };
    auto expected = [&] {
        std::vector<int> out;
        const QRectF visible = grid->visibleRect();
        for (std::size_t i = 0; i < grid->movieProxies().size(); ++i)
            if (grid->movieProxies()[i]->frame.intersects(visible))
                out.push_back(int(i));
        return out;
    };
    EXPECT_EQ(withViews(), expected());
    ASSERT_GT(grid->verticalScrollBar()->maximum(), 2000);
    grid->verticalScrollBar()->setValue(2000);
    QCoreApplication::processEvents();
    EXPECT_EQ(withViews(), expected());
    EXPECT_GE(withViews().front(), 60);
    // A tile whose picture is on screen is found at the pointer.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(size_t(withViews()[2])));
    EXPECT_EQ(selection(), std::vector<int>({withViews()[2]}));
}

// Page Down held (keys coming faster than the grid is drawn): the steps taken before the
// next paint are settled together, so tiles are made for where the grid rests, not for
// every screenful passed on the way.
TEST_F(GroupView, KeyStepsBeforeAPaintMakeTilesOnlyWhereTheGridRests)
{
    fill(200);
    grid->show();
    QCoreApplication::processEvents();
    const auto newestSerial = [&] {
        quint64 newest = 0;
        for (const auto& proxy : grid->movieProxies())
            if (proxy->view)
                newest = std::max(newest, proxy->view->serial);
        return newest;
    };
    grid->setFocus();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    const quint64 before = PMGroupViewTile().serial; // tiles made from here on number after it
    for (int i = 0; i < 5; ++i)
        QCoreApplication::postEvent(grid.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier));
    const QRectF visible = [&] {
        QCoreApplication::processEvents();
        return grid->visibleRect();
    }();
    const auto settled = [&] {
        for (const auto& proxy : grid->movieProxies())
            if (bool(proxy->view) != proxy->frame.intersects(visible))
                return false;
        return true;
    };
    EXPECT_TRUE(testsupport::waitUntil(settled, 10000)) << "tiles exactly where the grid rests";
    ASSERT_GE(grid->verticalScrollBar()->value(), 5 * grid->verticalScrollBar()->pageStep()) << "every step was taken";
    std::size_t shown = 0;
    for (const auto& proxy : grid->movieProxies())
        shown += proxy->view ? 1 : 0;
    ASSERT_GT(shown, 0u);
    EXPECT_EQ(newestSerial() - before, shown) << "no tiles made for the screenfuls passed on the way";
}

TEST_F(GroupView, TheGridPaintsEveryPixelOfItsViewportItself)
{
    // The viewport is opaque to Qt (the window under it is not painted first): its own paint
    // must cover it, around and between the tiles, fading tiles included, after a scroll,
    // and when it is empty.
    // Rendered over two different colours, the pictures match only if nothing of what lay
    // under the viewport shows through.
    const auto holes = [&] {
        const auto renderOver = [&](QColor under) {
            QImage image(grid->viewport()->size(), QImage::Format_RGB32);
            image.fill(under);
            grid->viewport()->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
            return image;
        };
        const QImage a = renderOver(QColor(255, 0, 255)), b = renderOver(QColor(0, 255, 0));
        int count = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                count += a.pixel(x, y) != b.pixel(x, y);
        return count;
    };
    EXPECT_TRUE(grid->viewport()->testAttribute(Qt::WA_OpaquePaintEvent));
    grid->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(holes(), 0) << "empty";
    fill(6); // two rows, the second short, and room below
    for (const auto& proxy : grid->movieProxies())
        if (proxy->view)
            proxy->view->alpha = 0.5;
    EXPECT_EQ(holes(), 0) << "fading";
    records.clear();
    fill(200);
    grid->verticalScrollBar()->setValue(1234);
    QCoreApplication::processEvents();
    EXPECT_EQ(holes(), 0) << "scrolled";
}

TEST_F(GroupView, RubberBandSelectsAndUpdatesTheStatusOncePerTurn)
{
    fill(12);
    grid->show();
    int statusUpdates = 0;
    QObject::connect(&mainController(), &PMMainController::statusFieldsUpdated, grid.get(), [&] { ++statusUpdates; });
    select({11});
    // From the background between tiles 0 and 1 down into the second row.
    const QPoint start(115, 5);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, start);
    statusUpdates = 0;
    for (int step = 1; step <= 5; ++step) {
        QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(step * 30, step * 25)), grid->viewport()->mapToGlobal(QPointF(start)),
                         Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(grid->viewport(), &move);
    }
    EXPECT_FALSE(grid->selectionWindow().frame.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(statusUpdates, 1);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, start + QPoint(150, 125));
    // Tiles 1, 2 and 5, 6 meet the band; 11 was kept by Shift.
    EXPECT_EQ(selection(), std::vector<int>({1, 2, 5, 6, 11}));
    EXPECT_TRUE(grid->selectionWindow().frame.isEmpty());
}

TEST_F(GroupView, ARubberBandThatShrinksGivesBackWhatItTook)
{
    fill(12);
    grid->show();
    const QPoint start(115, 5);
    const struct {
        Qt::KeyboardModifiers modifiers;
        std::vector<int> expected;
    } cases[] = {
        {Qt::ShiftModifier, {1, 6}}, // the selection before the press is kept
        {Qt::NoModifier, {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.modifiers));
        select({6});
        QTest::mousePress(grid->viewport(), Qt::LeftButton, c.modifiers, start);
        // Over nine tiles (6 among them), back over one, then to the tile alone.
        for (const QPoint to : {QPoint(465, 290), QPoint(145, 30), QPoint(465, 290), QPoint(150, 35)}) {
            QMouseEvent move(QEvent::MouseMove, QPointF(to), grid->viewport()->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton, c.modifiers);
            QApplication::sendEvent(grid->viewport(), &move);
        }
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, c.modifiers, QPoint(150, 35));
        EXPECT_EQ(selection(), c.expected);
    }
}

TEST_F(GroupView, DeleteIsRefusedWhenTheControllerSaysNo)
{
    // Containers of the top level can be neither dragged nor deleted.
    auto section = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Section")}, {QStringLiteral("Top Level"), QStringLiteral("Movies")}});
    grid->setRepresentedGroup(group);
    grid->addItem(Value(section));
    grid->tileWithAdjustedSize(false, false, false);
    grid->show();
    EXPECT_TRUE(grid->respondsToAction(QStringLiteral("selectAll")));
    EXPECT_FALSE(grid->respondsToAction(QStringLiteral("delete"))); // nothing selected
    grid->selectAll();
    EXPECT_FALSE(grid->respondsToAction(QStringLiteral("delete")));
    QTest::keyClick(grid.get(), Qt::Key_Delete);
    EXPECT_EQ(grid->selectedItems()->count(), 1);
    EXPECT_FALSE(grid->doDelete());

    PMGroupView empty;
    EXPECT_FALSE(empty.respondsToAction(QStringLiteral("selectAll")));
}

TEST_F(GroupView, DragReordersAManuallySortedContainer)
{
    showInController();
    fill(6);
    grid->show();
    QCoreApplication::processEvents();
    group->setSortCriterion(QStringLiteral("GroupListName"), false, true);
    // Drag tile 0 onto tile 4's place and drop it there, with the operations the drag offers.
    bool dragged = false;
    grid->dragRunner = [&](QDrag& drag, Qt::DropActions offered, Qt::DropAction) {
        dragged = true;
        QMimeData* mime = drag.mimeData();
        const QPoint target = centre(4);
        QDragEnterEvent enter(target, offered, mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid->viewport(), &enter);
        EXPECT_TRUE(grid->isDragTarget());
        QDragMoveEvent move(target, offered, mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid->viewport(), &move);
        EXPECT_TRUE(move.isAccepted());
        EXPECT_EQ(group->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListName"))
            << "the sorting changes only when the reorder is dropped";
        QDropEvent drop(QPointF(target), offered, mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid->viewport(), &drop);
        EXPECT_TRUE(drop.isAccepted());
        return drop.dropAction();
    };
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre(0));
    // Held still, the drag starts (on a busy machine, later than the hold's delay).
    ASSERT_TRUE(testsupport::waitUntil([&] { return dragged; }, 30000));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre(0));
    EXPECT_FALSE(grid->isDragTarget());
    EXPECT_EQ(grid->localDragMovieProxies(), nullptr);
    // The new order is the grid's and the container's.
    std::vector<QString> shown;
    for (const auto& proxy : grid->movieProxies())
        shown.push_back(PMItem(proxy->representedItem)->uniqueLibraryID());
    EXPECT_EQ(shown[4], records[0]->uniqueLibraryID());
    EXPECT_EQ(shown[0], records[1]->uniqueLibraryID());
    const ArrayPtr stored = group->rawChildren();
    ASSERT_EQ(stored->count(), 6);
    EXPECT_TRUE(PMIsSameItem(stored->at(4), Value(records[0])));
    EXPECT_TRUE(PMIsSameItem(stored->at(0), Value(records[1])));
    EXPECT_EQ(group->primarySortCriterionFromCSVString(nullptr, nullptr, true), kGroupListIndex);
    QCoreApplication::processEvents(); // the library update that follows
}

TEST_F(GroupView, EveryStepOfALocalDragPutsTheDraggedTileWhereThePointerIs)
{
    showInController();
    fill(12);
    grid->show();
    QCoreApplication::processEvents();
    group->setSortCriterion(QStringLiteral("GroupListName"), false, true);
    select({0, 2});
    const std::set<const PMGroupViewItemProxy*> dragged{grid->movieProxies()[0].get(), grid->movieProxies()[2].get()};
    // Places on screen (the tiles under them change as the order does), back and forth.
    std::vector<QPoint> places;
    for (const std::size_t i : {5, 9, 1, 7, 3, 11, 4, 4, 0, 6})
        places.push_back(centre(i));
    int steps = 0;
    grid->dragRunner = [&](QDrag& drag, Qt::DropActions offered, Qt::DropAction) {
        QMimeData* mime = drag.mimeData();
        QDragEnterEvent enter(places.front(), offered, mime, Qt::LeftButton, {});
        QApplication::sendEvent(grid->viewport(), &enter);
        for (const QPoint place : places) {
            // What the step must give: the other tiles in their order, the first dragged tile
            // where the first tile under the pointer (with the spacing around it) was, the
            // other dragged one at the end.
            const std::vector<PMGroupViewItemProxyPtr> before = *grid->localDragMovieProxies();
            const QPointF point = QPointF(place) + QPointF(0, grid->verticalScrollBar()->value());
            std::size_t index = before.size();
            for (std::size_t i = 0; i < before.size() && index == before.size(); ++i)
                if (before[i]->frame.adjusted(-10, -10, 10, 10).contains(point))
                    index = i;
            std::vector<PMGroupViewItemProxyPtr> moving, rest, expected;
            for (const auto& proxy : before)
                (dragged.count(proxy.get()) ? moving : rest).push_back(proxy);
            index = std::min(index, rest.size());
            expected.assign(rest.begin(), rest.begin() + std::ptrdiff_t(index));
            expected.push_back(moving.front());
            expected.insert(expected.end(), rest.begin() + std::ptrdiff_t(index), rest.end());
            expected.push_back(moving.back());
            QDragMoveEvent move(place, offered, mime, Qt::LeftButton, {});
            QApplication::sendEvent(grid->viewport(), &move);
            EXPECT_TRUE(move.isAccepted());
            EXPECT_TRUE(*grid->localDragMovieProxies() == expected) << "step " << steps;
            ++steps;
        }
        QDragLeaveEvent leave;
        QApplication::sendEvent(grid->viewport(), &leave);
        return Qt::IgnoreAction;
    };
    EXPECT_TRUE(grid->moveItems(grid->selectedItems(), grid->selectedProxies(), QPointF(centre(0))));
    EXPECT_EQ(steps, int(places.size()));
    QCoreApplication::processEvents();
}

TEST_F(GroupView, ADragThatLandsNowhereChangesNothingAndOffersOnlyCopy)
{
    showInController();
    fill(6);
    // Stored in an order that differs from the one shown (by name, descending).
    std::reverse(group->rawChildren()->begin(), group->rawChildren()->end());
    group->setSortCriterion(QStringLiteral("GroupListName"), false, true);
    std::vector<const void*> storedBefore;
    for (const Value& v : *group->rawChildren())
        storedBefore.push_back(v.objectPointer());
    grid->show();
    QCoreApplication::processEvents();
    Qt::DropActions offered;
    Qt::DropAction proposed = Qt::IgnoreAction;
    bool reorderable = false;
    grid->dragRunner = [&](QDrag&, Qt::DropActions supported, Qt::DropAction proposal) {
        offered = supported;
        proposed = proposal;
        reorderable = grid->localDragMovieProxies() != nullptr;
        return Qt::IgnoreAction; // let go outside every window
    };
    select({1});
    EXPECT_TRUE(grid->moveItems(grid->selectedItems(), grid->selectedProxies(), QPointF(centre(1))));
    // A file manager is offered a copy only, never a move that would take the file away.
    EXPECT_EQ(offered, Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(proposed, Qt::CopyAction);
    EXPECT_TRUE(reorderable) << "the grid may still be reordered";
    // Neither the stored order nor the sorting changed.
    EXPECT_EQ(group->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListName"));
    std::vector<const void*> storedAfter;
    for (const Value& v : *group->rawChildren())
        storedAfter.push_back(v.objectPointer());
    EXPECT_EQ(storedAfter, storedBefore);
    QCoreApplication::processEvents();
}

TEST_F(GroupView, DraggingEveryMovieOffersNoReordering)
{
    fill(3);
    grid->show();
    grid->selectAll();
    bool sawLocalOrder = true;
    grid->dragRunner = [&](QDrag&, Qt::DropActions, Qt::DropAction) {
        sawLocalOrder = grid->localDragMovieProxies() != nullptr;
        return Qt::IgnoreAction;
    };
    ArrayPtr items = grid->selectedItems();
    EXPECT_TRUE(grid->moveItems(items, grid->selectedProxies(), QPointF(20, 20)));
    EXPECT_FALSE(sawLocalOrder);
}

TEST_F(GroupView, FilesDroppedFromOutsideGoThroughTheDropRules)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c.resetDropStateForTesting();
    c.pellisSourceStorageSection()->rawChildren()->append(Value(group));
    c.invalidateLibraryDependencies();
    c._groupItemsParent = group;
    fill(0);
    grid->show();
    const QString clip = dir + QStringLiteral("/Dropped.mp4");
    ASSERT_TRUE(testsupport::media::makeNumberedClip(clip, 3));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(clip)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(grid->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(grid->isHighlighted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(grid->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(grid->isHighlighted());
    EXPECT_EQ(PMGroupView::interactionCounter(), 0u);
    ASSERT_EQ(group->rawChildren()->count(), 1);
    EXPECT_TRUE(PMMovie(group->rawChildren()->at(0)));
}

TEST(SliderExtremeView, JumpsTheSliderToItsEnd)
{
    QSlider slider(Qt::Horizontal);
    slider.setRange(50, 400);
    slider.setValue(200);
    PMSliderExtremeView low, high;
    low.setSlider(&slider);
    high.setSlider(&slider);
    high.setTag(1);
    // Without a slider action it only moves the slider.
    QTest::mouseClick(&high, Qt::LeftButton);
    EXPECT_EQ(slider.value(), 400);
    int sent = 0;
    low.sliderAction = [&](QSlider* s) { sent += s == &slider; };
    QTest::mouseClick(&low, Qt::LeftButton);
    EXPECT_EQ(slider.value(), 50);
    EXPECT_EQ(sent, 1);
    // Alt runs the view's own action; a disabled slider ignores clicks.
    int own = 0;
    high.action = [&](PMSliderExtremeView*) { ++own; };
    QTest::mouseClick(&high, Qt::LeftButton, Qt::AltModifier);
    EXPECT_EQ(own, 1);
    EXPECT_EQ(slider.value(), 50);
    slider.setEnabled(false);
    QTest::mouseClick(&high, Qt::LeftButton);
    EXPECT_EQ(slider.value(), 50);
}

TEST_F(GroupView, EmptyOnlineContainerShowsTheArrowUnlessSearching)
{
    auto online = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Web")}, {QStringLiteral("Online"), true}});
    grid->setRepresentedGroup(online);
    grid->show();
    grid->tileWithAdjustedSize(false, false, false);
    EXPECT_TRUE(testsupport::waitUntil([&] { return grid->arrowAlpha() >= 1.0; }, 3000));
    grid->clear();
    auto searching = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Web")}, {QStringLiteral("Online"), true}});
    auto search = platform::Dictionary::make();
    search->setValue(QStringLiteral("Searching"), true);
    searching->setValue(QStringLiteral("Search"), Value(search));
    grid->setRepresentedGroup(searching);
    grid->tileWithAdjustedSize(false, false, false);
    EXPECT_EQ(grid->arrowAlpha(), 0.0);
    // The arrow's fade runs on a timer of the grid's own, out of the steered clock's reach:
    // a short wait beyond its first step (100 ms) shows that it does not come back.
    QTest::qWait(300);
    EXPECT_EQ(grid->arrowAlpha(), 0.0);
}

TEST_F(GroupView, WaterfallKeepsItsFramesDuringALiveResizeUntilTheColumnsChange)
{
    defaults().setInteger(8, QStringLiteral("Preview Layout"));
    defaults().setInteger(1, QStringLiteral("Adjust Preview Size"));
    fill(30);
    grid->show();
    // The resize of showing is over.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !grid->isInLiveResize(); }));
    const QRectF before = grid->movieProxies()[1]->frame;
    grid->resize(500, 300); // still 4 columns
    EXPECT_TRUE(grid->isInLiveResize());
    EXPECT_EQ(grid->movieProxies()[1]->frame, before);
    grid->resize(600, 300); // 5 columns
    EXPECT_EQ(grid->numberOfColumns(), 5u);
    EXPECT_TRUE(testsupport::waitUntil([&] { return !grid->isInLiveResize(); }, 2000));
    defaults().removeObjectForKey(QStringLiteral("Preview Layout"));
}

TEST_F(GroupView, LiveScrollThrottlesLoadingAndRefinesTilesAfterwards)
{
    fill(60);
    grid->show();
    QCoreApplication::processEvents();
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const unsigned level = loader.loadQueueThrottleLevel();
    auto simplified = [&] {
        int n = 0;
        for (const auto& proxy : grid->movieProxies())
            n += proxy->view && proxy->view->didSimplifyDisplay();
        return n;
    };
    // Tiles with pictures are drawn quickly while the thumb is held.
    for (const auto& record : records)
        record->setPosterImage(platform::Image::make(QImage(32, 18, QImage::Format_RGB32)));
    Q_EMIT grid->verticalScrollBar()->sliderPressed();
    EXPECT_EQ(loader.loadQueueThrottleLevel(), level + 1);
    EXPECT_EQ(PMGroupView::interactionCounter(), 1u);
    grid->grab();
    EXPECT_GT(simplified(), 0);
    // A drag over the grid holds the refinement back.
    ++PMGroupView::interactionCounter();
    Q_EMIT grid->verticalScrollBar()->sliderReleased();
    testsupport::runQueuedWork();
    EXPECT_GT(simplified(), 0);
    --PMGroupView::interactionCounter();
    // Without one, the tiles are refined, one per turn of the event loop.
    Q_EMIT grid->verticalScrollBar()->sliderPressed();
    Q_EMIT grid->verticalScrollBar()->sliderReleased();
    EXPECT_TRUE(testsupport::waitUntil([&] { return simplified() == 0; }, 2000));
    EXPECT_TRUE(testsupport::waitUntil([&] { return loader.loadQueueThrottleLevel() == level; }, 3000));
}

TEST_F(GroupView, SpotlightShowsTheSelectedTileUntilTheNextEvent)
{
    fill(40);
    grid->show();
    QCoreApplication::processEvents();
    grid->selectItems(Array::make({Value(records[30])}), true, true, true);
    QCoreApplication::processEvents();
    EXPECT_EQ(selection(), std::vector<int>({30}));
    // Scrolled so that the tile shows, and lit up until the next press.
    EXPECT_TRUE(grid->movieProxies()[30]->frame.intersects(grid->visibleRect()));
    EXPECT_FALSE(grid->spotlightRect().isEmpty());
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(grid->spotlightRect().isEmpty());
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
}

TEST_F(GroupView, ALiveScrollEndsWhenTheScrollBarHidesUnderTheThumb)
{
    fill(60);
    grid->show();
    QCoreApplication::processEvents();
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const unsigned level = loader.loadQueueThrottleLevel();
    const unsigned interactions = PMGroupView::interactionCounter();
    QScrollBar* bar = grid->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setSliderDown(true); // the thumb is held
    EXPECT_EQ(PMGroupView::interactionCounter(), interactions + 1);
    // Most movies go while it is held: nothing is left to scroll, the bar goes away and
    // never sends its release.
    records.resize(3);
    fill(3); // the same grid, refilled with what is left
    EXPECT_EQ(PMGroupView::interactionCounter(), interactions);
    EXPECT_FALSE(bar->isSliderDown());
    EXPECT_TRUE(testsupport::waitUntil([&] { return loader.loadQueueThrottleLevel() == level; }, 3000));
    // Hover works again.
    QTest::mouseMove(grid->viewport(), centre(0));
    QApplication::setActiveWindow(grid.get());
    if (QTest::qWaitForWindowActive(grid.get())) {
        QTest::mouseMove(grid->viewport(), centre(0) + QPoint(1, 0));
        EXPECT_TRUE(grid->movieProxies()[0]->view && grid->movieProxies()[0]->view->hovering);
    }
}
