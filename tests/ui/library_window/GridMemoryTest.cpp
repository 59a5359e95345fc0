// What the grid keeps in memory at library scale: the pictures of tiles that left the
// screen go a while after (not if the tile comes back first), and loads still waiting for
// tiles no longer shown are cancelled.
#include "GridTestSupport.h"
#include "common/TestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/EventClock.h"
#include "ui/library_window/PMGroupView.h"

#include <gtest/gtest.h>

#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

#include <cmath>

using platform::Value;

namespace {

// A grid of 100-point tiles, 4 columns, 300 points high: about 12 tiles on screen.
class GridMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
        gridtest::useSmallUniformTiles();
        dir = testsupport::makeTempDir(QStringLiteral("grid-memory"));
        group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Movies")}});
        for (int i = 0; i < 400; ++i) {
            auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/Movie %1.mp4").arg(i));
            record->setThumbnailSizeDescription(QStringLiteral("{150, 100}"));
            records.push_back(record);
            group->rawChildren()->append(Value(record));
        }
        grid = std::make_unique<PMGroupView>();
        grid->resize(480, 300);
    }
    void fillAndShow()
    {
        grid->setRepresentedGroup(group);
        for (const auto& record : records)
            grid->addItem(Value(record));
        grid->tileWithAdjustedSize(false, false, false);
        grid->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override
    {
        platform::steerEventClockForTesting(false);
        auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
        loader.loadQueue().setSuspended(false);
        grid.reset();
        gridtest::waitForPictureLoads();
    }
    // Every record holds a picture, as after the grid loaded them.
    void givePictures()
    {
        for (const auto& record : records)
            record->original().m_posterImage = platform::Image::make(QImage(150, 100, QImage::Format_RGB32));
    }
    void scrollTo(int y)
    {
        grid->verticalScrollBar()->setValue(y);
        QCoreApplication::processEvents();
    }
    std::vector<int> holding() const
    {
        std::vector<int> out;
        for (std::size_t i = 0; i < records.size(); ++i)
            if (records[i]->original().m_posterImage) // (asking the record would keep the picture)
                out.push_back(int(i));
        return out;
    }
    std::vector<int> shown() const
    {
        std::vector<int> out;
        for (std::size_t i = 0; i < grid->movieProxies().size(); ++i)
            if (grid->movieProxies()[i]->view)
                out.push_back(int(i));
        return out;
    }

    QString dir;
    PMLibraryContainerPtr group;
    std::vector<PMMovieRepresentationOriginalPtr> records;
    std::unique_ptr<PMGroupView> grid;
};

} // namespace

TEST_F(GridMemory, ScrollingPastTilesReleasesTheirPicturesAfterTheDelay)
{
    platform::steerEventClockForTesting(true);
    givePictures();
    fillAndShow();
    const std::vector<int> first = shown();
    ASSERT_FALSE(first.empty());
    // Down the whole grid, a screen at a time.
    const int bottom = grid->verticalScrollBar()->maximum();
    ASSERT_GT(bottom, 5000);
    for (int y = 0; y <= bottom; y += 250)
        scrollTo(y);
    scrollTo(bottom);
    const std::vector<int> last = shown();
    // Within the delay every picture is still there (a quick scroll back costs nothing)...
    platform::advanceEventClockForTesting(4.0);
    EXPECT_EQ(holding().size(), records.size());
    // ...after it only the tiles on screen keep theirs.
    platform::advanceEventClockForTesting(1.5);
    EXPECT_EQ(holding(), last);

    // A tile made again before its release keeps its picture.
    givePictures();
    scrollTo(0);
    scrollTo(bottom);
    platform::advanceEventClockForTesting(2.0);
    scrollTo(0);
    EXPECT_EQ(shown(), first);
    platform::advanceEventClockForTesting(10.0);
    for (int i : first)
        EXPECT_TRUE(records[size_t(i)]->original().m_posterImage) << i;
    for (int i : last)
        EXPECT_FALSE(records[size_t(i)]->original().m_posterImage) << i;
}

TEST_F(GridMemory, ADroppedTilesWaitingLoadIsCancelled)
{
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    gridtest::waitForPictureLoads();
    loader.loadQueue().setSuspended(true); // the loads wait
    fillAndShow();
    const std::vector<int> first = shown();
    ASSERT_FALSE(first.empty());
    for (int i : first)
        EXPECT_GE(loader.queuedLoadCountForID(records[size_t(i)]->uniqueLibraryID()), 1) << i;
    scrollTo(grid->verticalScrollBar()->maximum());
    const std::vector<int> last = shown();
    ASSERT_TRUE(std::find(last.begin(), last.end(), first.front()) == last.end());
    // A tile without pictures lets go at once: its loads leave the queue.
    for (int i : first)
        EXPECT_EQ(loader.queuedLoadCountForID(records[size_t(i)]->uniqueLibraryID()), 0) << i;
    for (int i : last)
        EXPECT_GE(loader.queuedLoadCountForID(records[size_t(i)]->uniqueLibraryID()), 1) << i;
    const auto waiting = loader.loadQueue().waitingOperations();
    EXPECT_EQ(waiting.size(), last.size());
    // Back on screen, the tile asks again.
    scrollTo(0);
    EXPECT_GE(loader.queuedLoadCountForID(records[size_t(first.front())]->uniqueLibraryID()), 1);
}

TEST_F(GridMemory, PicturesAwaitingReleaseAreBounded)
{
    platform::steerEventClockForTesting(true);
    const qsizetype budget = PMMovieRepresentationPrototype::kMaximumPictureBytesAwaitingRelease;
    const std::size_t most = PMMovieRepresentationPrototype::kMaximumRecordsAwaitingPictureRelease;
    // Pictures each counting a tenth of the bytes that may wait (one buffer shared by all),
    // and more small pictures than may wait.
    const int side = int(std::sqrt(double(budget / 10) / 4.0)) + 1;
    const struct {
        QSize picture;
        std::size_t count;
        std::size_t kept;
    } cases[] = {{QSize(side, side), 400, 9}, {QSize(16, 16), most + 300, most}};
    for (const auto& c : cases) {
        const QImage shared(c.picture, QImage::Format_RGB32);
        std::vector<PMMovieRepresentationOriginalPtr> many;
        for (std::size_t i = 0; i < c.count; ++i) {
            many.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/Many %1.mp4").arg(i)));
            many.back()->original().m_posterImage = platform::Image::make(shared);
        }
        // Let go of in order, as tiles leaving the screen are: the last ones keep theirs.
        for (const auto& record : many)
            record->uncacheCoverImageAndPosterImageAfterDelay();
        for (std::size_t i = 0; i < c.count; ++i)
            EXPECT_EQ(bool(many[i]->original().m_posterImage), i >= c.count - c.kept) << c.count << " " << i;
        // A record shown again before its release is no longer waiting: it does not count.
        many.back()->cancelUncacheCoverImageAndPosterImageAfterDelay();
        platform::advanceEventClockForTesting(6.0);
        for (std::size_t i = 0; i + 1 < c.count; ++i)
            EXPECT_FALSE(many[i]->original().m_posterImage) << c.count << " " << i;
        EXPECT_TRUE(many.back()->original().m_posterImage);
    }
}
