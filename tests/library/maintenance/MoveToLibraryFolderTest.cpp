// Moving movies to another library folder: the targets offered, a move stopped after its
// first file, progress by bytes, and what is refused while files move.
#include "library/maintenance/FilesFixture.h"

#include "platform/Paths.h"
#include "platform/Queues.h"

#include <QtWidgets/QMenu>

#include <atomic>

using platform::Array;
using platform::Value;

namespace {

class MoveToLibraryFolderTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        m_second = testsupport::makeTempDir(QStringLiteral("second"));
        auto paths = platform::Dictionary::make();
        paths->setValue(QStringLiteral("Second"), platform::stringByAbbreviatingWithTildeInPath(m_second));
        c().saveSupplementaryLibraryPaths(paths);
    }
    void TearDown() override
    {
        c()._willMoveFileToLibraryFolder = nullptr;
        testsupport::waitUntil([] { return c()._nonLibraryFilesCheckSuppressionLevel == 0; });
        FilesTest::TearDown();
    }
    QString m_second;
};

TEST_F(MoveToLibraryFolderTest, TargetsAreTheFoldersNotHoldingTheFiles)
{
    const auto inMain = fileMovie(m_library + QStringLiteral("/a.mov"));
    const auto inSecond = fileMovie(m_second + QStringLiteral("/b.mov"));
    const auto gone = movie(QStringLiteral("gone"));
    library({v(inMain), v(inSecond), v(gone)});
    const auto targets = c().moveToLibraryFolderTargetsForMovieRepresentations(items({v(inMain), v(inSecond), v(gone)}));
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0].items->count(), 2); // the missing file cannot move
    QStringList folders{targets[0].folder, targets[1].folder};
    folders.sort();
    QStringList expected{m_library, m_second};
    expected.sort();
    EXPECT_EQ(folders, expected);
    QMenu menu;
    c().addMoveToLibraryFolderSubmenuForMovieRepresentations(items({v(inMain), v(inSecond)}), &menu);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("Move to Library Folder"));
    ASSERT_TRUE(menu.actions()[0]->menu());
    EXPECT_EQ(menu.actions()[0]->menu()->actions().size(), 2);
    // Only the main folder, with the file already in it: nothing to offer.
    c().saveSupplementaryLibraryPaths(nullptr);
    EXPECT_TRUE(c().moveToLibraryFolderTargetsForMovieRepresentations(items({v(inMain)})).isEmpty());
}

TEST_F(MoveToLibraryFolderTest, StoppedAfterTheFirstOfThreeFilesWhileQuitAndLibraryChangesWait)
{
    const auto big = fileMovie(m_library + QStringLiteral("/big.mov"), QByteArray(3000, 'b'));
    const auto small1 = fileMovie(m_library + QStringLiteral("/small1.mov"), QByteArray(500, 's'));
    const auto small2 = fileMovie(m_library + QStringLiteral("/small2.mov"), QByteArray(500, 't'));
    // Taken in the target: the moved file gets the next free name.
    testsupport::writeFile(m_second + QStringLiteral("/big.mov"), "already there");
    const auto movies = library({v(big), v(small1), v(small2)});
    c()._currentMovieRepresentation = v(small2);

    bool quitRefused = false;
    bool libraryChangeRefused = false;
    std::atomic<int> calls{0};
    c()._willMoveFileToLibraryFolder = [&](const QString&) {
        if (calls++ != 0)
            return;
        platform::dispatchSyncMain([&] {
            quitRefused = !c().applicationShouldTerminate();
            libraryChangeRefused = !c().setLibraryLocation(m_second);
            // The menu now only offers to stop.
            const auto targets = c().moveToLibraryFolderTargetsForMovieRepresentations(items({v(big)}));
            EXPECT_EQ(targets.size(), 1);
            EXPECT_TRUE(targets.value(0).folder.isEmpty());
            c().moveToLibraryFolder({}, nullptr); // "Stop Moving Files"
        });
    };
    const int saves = c()._numberOfLibrarySaves;
    c().moveToLibraryFolder(m_second, items({v(big), v(small1), v(small2)}));
    EXPECT_TRUE(c()._currentMovieRepresentation.isNull());
    EXPECT_EQ(c()._numberOfRemainingItemsMovingToLibraryFolder, 3);
    EXPECT_EQ(c()._nonLibraryFilesCheckSuppressionLevel, 1);
    EXPECT_TRUE(big->isMoving());
    // The end step gives the search for new files back.
    ASSERT_TRUE(testsupport::waitUntil([] { return c()._nonLibraryFilesCheckSuppressionLevel == 0; }));
    EXPECT_EQ(c()._numberOfRemainingItemsMovingToLibraryFolder, 0);
    EXPECT_TRUE(quitRefused);
    EXPECT_TRUE(libraryChangeRefused);
    EXPECT_EQ(big->path(), m_second + QStringLiteral("/big 1.mov"));
    EXPECT_EQ(testsupport::readFile(big->path()), QByteArray(3000, 'b'));
    EXPECT_EQ(testsupport::readFile(m_second + QStringLiteral("/big.mov")), QByteArray("already there"));
    EXPECT_EQ(small1->path(), m_library + QStringLiteral("/small1.mov"));
    EXPECT_TRUE(exists(small2->path()));
    EXPECT_FALSE(big->isMoving());
    EXPECT_FALSE(small1->isMoving());
    EXPECT_EQ(c()._nonLibraryFilesCheckSuppressionLevel, 0);
    EXPECT_EQ(c()._numberOfLibrarySaves, saves + 1);
}

TEST_F(MoveToLibraryFolderTest, ProgressCountsBytes)
{
    const auto big = fileMovie(m_library + QStringLiteral("/big.mov"), QByteArray(9000, 'b'));
    const auto small = fileMovie(m_library + QStringLiteral("/small.mov"), QByteArray(1000, 's'));
    library({v(big), v(small)});
    QList<double> fractions;
    QList<int> remaining;
    c()._willMoveFileToLibraryFolder = [&](const QString&) {
        platform::dispatchSyncMain([&] {
            fractions << c()._movingToLibraryFolderFraction;
            remaining << c()._numberOfRemainingItemsMovingToLibraryFolder;
        });
    };
    c().moveToLibraryFolder(m_second, items({v(big), v(small)}));
    // The end step gives the search for new files back.
    ASSERT_TRUE(testsupport::waitUntil([] { return c()._nonLibraryFilesCheckSuppressionLevel == 0; }));
    EXPECT_EQ(c()._numberOfRemainingItemsMovingToLibraryFolder, 0);
    ASSERT_EQ(fractions.size(), 2);
    EXPECT_DOUBLE_EQ(fractions[0], 0.0);
    EXPECT_DOUBLE_EQ(fractions[1], 0.9);
    EXPECT_EQ(remaining, QList<int>({2, 1}));
    EXPECT_EQ(filesBelow(m_second), QStringList({QStringLiteral("big.mov"), QStringLiteral("small.mov")}));
    EXPECT_TRUE(filesBelow(m_library).filter(QStringLiteral(".mov")).isEmpty());
}

TEST_F(MoveToLibraryFolderTest, EveryRecordOfAMovedFileFollowsIt)
{
    const auto first = fileMovie(m_library + QStringLiteral("/clip.mov"), "clip");
    const auto second = PMMovieRepresentationOriginal::movieRepresentationWithPath(first->path());
    library({v(first)});
    c().temporaryStorage()->rawChildren()->append(v(second));
    c().invalidateLibraryDependencies();
    c().moveToLibraryFolder(m_second, items({v(first)}));
    ASSERT_TRUE(testsupport::waitUntil([] { return c()._nonLibraryFilesCheckSuppressionLevel == 0; }));
    EXPECT_EQ(first->path(), m_second + QStringLiteral("/clip.mov"));
    EXPECT_EQ(second->path(), first->path()) << "the second record was left at the old path";
    EXPECT_TRUE(m_alerts.isEmpty());
}

} // namespace
