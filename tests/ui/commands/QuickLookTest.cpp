// The preview panel: what it shows for the chosen movies, how it opens and closes, how it
// follows the selection and steps through several movies.
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "library/model/ModelFixture.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/media/Player.h"
#include "ui/commands/PMQuickLookPanel.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtGui/QAction>
#include <QtGui/QImage>
#include <QtGui/QKeyEvent>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QMenu>

#include <gtest/gtest.h>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;
using testsupport::waitUntil;
namespace fx = testsupport::media;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

class QuickLook : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        platform::media::Player::setDefaultAudioOutput(QStringLiteral("null"));
        c().installContextMenus();
        const QString dir = testsupport::makeTempDir(QStringLiteral("quicklook"));
        for (int i = 0; i < 3; ++i) {
            const QString path = dir + QStringLiteral("/Picture %1.png").arg(i);
            QImage picture(40 + 10 * i, 30, QImage::Format_RGB32);
            picture.fill(QColor::fromHsv(i * 100, 200, 200));
            ASSERT_TRUE(picture.save(path));
            pictures.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(path));
        }
        clip = PMMovieRepresentationOriginal::movieRepresentationWithPath(fx::fixtures().numbered());
        group = folder(QStringLiteral("Group"));
        library({Value(pictures[0]), Value(pictures[1]), Value(pictures[2]), Value(clip), Value(group)});
    }
    void TearDown() override
    {
        if (PMQuickLookPanel* panel = PMQuickLookPanel::sharedPreviewPanel(false))
            panel->hide();
        c()._infoMovieRepresentations = nullptr;
        ModelTest::TearDown();
    }
    // What the library window has chosen (without a window, the commands' movies).
    static void choose(std::initializer_list<Value> items)
    {
        c()._infoMovieRepresentations = Array::make(items);
        c()._cachedInfoMovieRepresentations = nullptr;
    }
    static PMQuickLookPanel* panel() { return PMQuickLookPanel::sharedPreviewPanel(false); }
    static bool isOpen() { return panel() && panel()->isVisible(); }

    std::vector<PMMovieRepresentationOriginalPtr> pictures;
    PMMovieRepresentationOriginalPtr clip;
    PMLibraryContainerPtr group;
};

} // namespace

TEST_F(QuickLook, OpensForPlayableMoviesBeepsForContainersAndClosesWithSpaceOrEscape)
{
    const int beeps = platform::beepCount();
    choose({Value(group)});
    c().toggleQuickLook(nullptr);
    EXPECT_EQ(platform::beepCount(), beeps + 1) << "only containers: nothing to show";
    EXPECT_FALSE(isOpen());

    choose({Value(group), Value(pictures[1])});
    c().toggleQuickLook(nullptr);
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(panel()->numberOfItems(), 1);
    EXPECT_EQ(panel()->titleText(), QStringLiteral("Picture 1.png"));

    // The same command closes it; Space and Escape in the panel close it too.
    c().toggleQuickLook(nullptr);
    EXPECT_FALSE(isOpen());
    for (const int key : {int(Qt::Key_Space), int(Qt::Key_Escape)}) {
        c().toggleQuickLook(nullptr);
        ASSERT_TRUE(isOpen());
        QTest::keyClick(panel(), Qt::Key(key));
        EXPECT_FALSE(isOpen()) << key;
    }
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(QuickLook, FollowsTheSelectionOncePerChangeAndShowsTheRightMovie)
{
    choose({Value(pictures[0])});
    c().toggleQuickLook(nullptr);
    ASSERT_TRUE(isOpen());
    QSignalSpy reloads(panel(), &PMQuickLookPanel::didReload);

    // Several notices within one turn of the event loop: one reload, with the last choice.
    choose({Value(pictures[1])});
    c().updateQuickLook();
    choose({Value(pictures[2])});
    c().updateQuickLook();
    c().updateQuickLook();
    ASSERT_TRUE(reloads.wait(10000));
    EXPECT_EQ(panel()->titleText(), QStringLiteral("Picture 2.png"));
    // A notice with the same choice reloads nothing; the next change reloads once more.
    c().updateQuickLook();
    choose({Value(pictures[0]), Value(pictures[1])});
    c().updateQuickLook();
    ASSERT_TRUE(reloads.wait(10000));
    EXPECT_EQ(reloads.count(), 2);
    EXPECT_EQ(panel()->numberOfItems(), 2);
}

TEST_F(QuickLook, ArrowKeysStepThroughSeveralMovies)
{
    choose({Value(pictures[0]), Value(pictures[1]), Value(pictures[2])});
    c().toggleQuickLook(nullptr);
    ASSERT_TRUE(isOpen());
    const struct {
        Qt::Key key;
        const char* shown;
    } steps[] = {
        {Qt::Key_Right, "Picture 1.png"},
        {Qt::Key_Right, "Picture 2.png"},
        {Qt::Key_Right, "Picture 0.png"}, // round to the first
        {Qt::Key_Left, "Picture 2.png"},
    };
    for (const auto& step : steps) {
        QTest::keyClick(panel(), step.key);
        EXPECT_EQ(panel()->titleText(), QString::fromUtf8(step.shown));
    }
    // A reload that keeps the shown movie keeps it in view.
    choose({Value(pictures[2]), Value(pictures[0])});
    panel()->reloadData();
    EXPECT_EQ(panel()->titleText(), QStringLiteral("Picture 2.png"));
    EXPECT_EQ(panel()->currentPreviewItemIndex(), 0);
    // Closed on the second movie and opened again for others, it starts at the first of them.
    QTest::keyClick(panel(), Qt::Key_Right);
    c().toggleQuickLook(nullptr);
    ASSERT_FALSE(isOpen());
    choose({Value(pictures[1]), Value(pictures[2])});
    c().toggleQuickLook(nullptr);
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(panel()->titleText(), QStringLiteral("Picture 1.png"));
}

TEST_F(QuickLook, AMoviePlaysSilentlyAndAPictureIsShownWithoutAPlayer)
{
    choose({Value(pictures[0]), Value(clip)});
    c().toggleQuickLook(nullptr);
    ASSERT_TRUE(isOpen());
    EXPECT_EQ(panel()->player(), nullptr);
    QTest::keyClick(panel(), Qt::Key_Right);
    platform::media::Player* player = panel()->player();
    ASSERT_TRUE(player);
    EXPECT_TRUE(player->isMuted());
    EXPECT_TRUE(waitUntil([player] { return player->status() == platform::media::PlayerItemStatus::ReadyToPlay && !player->currentFrame().isNull(); }, 15000));
    // Closed, nothing keeps playing.
    panel()->hide();
    EXPECT_EQ(panel()->player(), nullptr);
}

TEST_F(QuickLook, AFileThatCannotBeReadSaysSoInsteadOfShowingBlack)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("unreadable"));
    const QString unreadable = QStringLiteral("Pellis cannot make sense of this file.");
    // A movie with garbage inside, a movie cut off after its first bytes. (A picture that
    // cannot be read is no preview item at all.)
    QByteArray garbage(4096, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) % 251);
    const QByteArray clipBytes = testsupport::readFile(fx::fixtures().numbered());
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {{"Broken.mp4", garbage}, {"Cut.mp4", clipBytes.left(64)}};
    for (const auto& testCase : cases) {
        const QString path = dir + u'/' + QString::fromLatin1(testCase.name);
        testsupport::writeFile(path, testCase.bytes);
        auto broken = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        group->rawChildren()->append(Value(broken));
        choose({Value(broken)});
        c().toggleQuickLook(nullptr);
        ASSERT_TRUE(isOpen()) << testCase.name;
        EXPECT_EQ(panel()->titleText(), QString::fromLatin1(testCase.name));
        EXPECT_TRUE(waitUntil([&] { return panel()->messageText() == unreadable; }, 15000)) << testCase.name;
        // A file that can be read says nothing.
        choose({Value(pictures[0])});
        panel()->reloadData();
        EXPECT_EQ(panel()->titleText(), QStringLiteral("Picture 0.png"));
        EXPECT_TRUE(panel()->messageText().isEmpty()) << testCase.name;
        panel()->hide();
    }
}

TEST_F(QuickLook, TheContextMenuOffersItForPlayableMovies)
{
    choose({Value(pictures[0])});
    c()._groupMovieItems = Array::make({Value(pictures[0]), Value(pictures[1])});
    const auto quickLookItem = [](const ArrayPtr& items) -> QAction* {
        std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(items, nullptr));
        for (QAction* item : menu->actions())
            if (item->text() == QLatin1String("Quick Look")) {
                item->setParent(nullptr);
                return item;
            }
        return nullptr;
    };
    // The current movies: the item carries nothing and acts on the selection.
    std::unique_ptr<QAction> current(quickLookItem(Array::make({Value(pictures[0])})));
    ASSERT_TRUE(current);
    EXPECT_TRUE(platform::menuItemRepresentedObject(current.get()).isNull());
    // Others in the grid: the item carries them.
    std::unique_ptr<QAction> other(quickLookItem(Array::make({Value(pictures[1])})));
    ASSERT_TRUE(other);
    EXPECT_EQ(platform::menuItemRepresentedObject(other.get()).array()->count(), 1);
    // Not in the grid: not offered.
    EXPECT_FALSE(std::unique_ptr<QAction>(quickLookItem(Array::make({Value(pictures[2])}))));
    c()._groupMovieItems = Array::make();
}

TEST_F(QuickLook, AlwaysZoomKeepsThePanelAtTheScreensAvailableArea)
{
    setDefault(QStringLiteral("Always Zoom Quick Look"), true);
    choose({Value(pictures[0])});
    c().toggleQuickLook(nullptr);
    ASSERT_TRUE(isOpen());
    const QRect visible = visibleFrameWithExtraDockSpacing(panel()->screen());
    EXPECT_TRUE(waitUntil([&] { return panel()->frameGeometry() == visible; }, 10000));
    // Made smaller, it grows back by itself.
    panel()->setGeometry(visible.x() + 50, visible.y() + 50, 300, 200);
    EXPECT_TRUE(waitUntil([&] { return panel()->frameGeometry() == visible; }, 10000));
    // Closed, it is left alone.
    panel()->hide();
    c().endPreviewPanelControl(panel());
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Always Zoom Quick Look"));
}
