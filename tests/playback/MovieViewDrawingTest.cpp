// The movie view's two ways of drawing: movie frames (of clips as they stand and turned by
// the file) land where the picture geometry puts them, drawn by the software path and by
// the OpenGL path (frames the engine renders into a framebuffer texture), and a still
// image drawn from a texture lands as on the software path. The OpenGL tests need a GL
// context (ctest runs them under Xvfb with GLX where xvfb-run is installed); without one
// they are skipped.
#include "platform/Value.h"
#include "platform/media/Asset.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"

#include "common/MediaFixtures.h"

#include "PictureFixtures.h"

#include <QtGui/QOpenGLContext>
#include <QtGui/QPainter>
#include <QtTest/QTest>

#include <gtest/gtest.h>

using platform::Dictionary;
using platform::Value;
using namespace platform::media;
namespace fx = testsupport::media;
using testsupport::waitUntil;

namespace {

using picturefixtures::area;

class MovieViewOpenGLTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString reason;
        if (!PMMovieView::canMakeOpenGLContext(&reason))
            GTEST_SKIP() << "no OpenGL here: " << reason.toStdString();
        m_before = PMMovieView::drawsWithOpenGL();
        PMMovieView::setDrawsWithOpenGL(true);
        Player::setDefaultAudioOutput(QStringLiteral("null"));
    }
    void TearDown() override { PMMovieView::setDrawsWithOpenGL(m_before); }

    bool m_before = false;
};

bool isWhite(const QImage& image, QPointF p)
{
    return qGray(image.pixel(p.toPoint())) > 128;
}


} // namespace

TEST_F(MovieViewOpenGLTest, StillImageLandsWhereTurningMirroringAndCuttingPutIt)
{
    const QImage frame = picturefixtures::quadrantFrame();
    auto content = std::make_shared<PMPlayerViewContent>();
    content->movieReplacingImage = platform::Image::make(frame);
    content->flipsHorizontally = true;
    content->angle = 90;
    content->visibleArea = area(0, 0.5, 1, 0.5);
    content->aspectRatio = 0.5;
    PMMovieView view;
    ASSERT_TRUE(view.usesOpenGL());
    view.resize(400, 300);
    view.setContent(content);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QImage shot = view.grab().toImage();
    // Mirrored and turned, the upper half of the turned picture shows yellow on the left
    // and blue on the right, stretched to 400 × 200 between bars of the background.
    EXPECT_NEAR(QColor(shot.pixel(200, 20)).red(), 237, 2);
    EXPECT_NEAR(QColor(shot.pixel(200, 280)).blue(), 237, 2);
    EXPECT_EQ(QColor(shot.pixel(100, 150)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(shot.pixel(300, 150)), QColor(Qt::blue));
    EXPECT_EQ(QColor(shot.pixel(100, 60)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(shot.pixel(300, 240)), QColor(Qt::blue));
}

// Plays frames of the numbered clips in views drawing one way or the other, and reads the
// frame number back where the geometry puts each block.
void checkMovieFramesLandWhereTheGeometrySays(bool openGL)
{
    // Frame 13 of the numbered clip (bits 0, 2 and 3 white), as the file stands and turned
    // by the file's own rotation, each plain and mirrored, turned and cut.
    struct Case {
        bool rotatedFile;
        bool flip;
        int angle;
        platform::DictionaryPtr visibleArea;
        std::optional<double> aspectRatio;
    } cases[] = {
        {false, false, 0, nullptr, std::nullopt},
        {false, true, 90, area(0.1, 0, 0.9, 1), 1.5},
        {true, false, 0, nullptr, std::nullopt},
        {true, true, 270, nullptr, 0.5},
    };
    constexpr int kFrame = 13;
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.rotatedFile << " " << k.flip << " " << k.angle);
        auto player = std::make_shared<Player>();
        auto content = std::make_shared<PMPlayerViewContent>();
        content->moviePlayer = player;
        content->flipsHorizontally = k.flip;
        content->angle = k.angle;
        content->visibleArea = k.visibleArea;
        content->aspectRatio = k.aspectRatio;
        PMMovieView view;
        view.resize(480, 360);
        view.setContent(content);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        const QString file = k.rotatedFile ? fx::fixtures().rotated() : fx::fixtures().numbered();
        player->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(file)));
        ASSERT_TRUE(waitUntil([&] { return player->status() == PlayerItemStatus::ReadyToPlay && player->renderedFrameCount() > 0; }, 10000));
        EXPECT_EQ(player->usesOpenGL(), openGL);
        const QSize natural = k.rotatedFile ? QSize(fx::kClipHeight, fx::kClipWidth) : QSize(fx::kClipWidth, fx::kClipHeight);
        EXPECT_TRUE(waitUntil([&] { return player->presentationSize() == natural; }));
        player->seekToTime((kFrame + 0.5) / fx::kClipFPS);
        ASSERT_TRUE(waitUntil([&] { return !player->isSeeking() && std::lround(player->currentTime() * fx::kClipFPS) == kFrame; }));
        QTest::qWait(100);
        const QImage shot = view.grab().toImage();
        // The frame's blocks in the file's own picture, turned as the file asks.
        const PMMoviePictureGeometry g =
            PMMoviePictureGeometryFor(QSizeF(natural), natural, k.flip, k.angle, k.visibleArea, k.aspectRatio, QRectF(view.rect()));
        ASSERT_FALSE(g.destination.isEmpty());
        for (int bit = 0; bit < 5; ++bit) {
            QPointF inFile(bit * 8 + 4, fx::kClipHeight / 2);
            if (k.rotatedFile) // turned a quarter counterclockwise into the 32 × 64 picture
                inFile = QPointF(inFile.y(), fx::kClipWidth - inFile.x());
            const QPointF shown = g.transform.map(inFile);
            if (!g.destination.contains(shown))
                continue;
            EXPECT_EQ(isWhite(shot, shown), bool((kFrame >> bit) & 1)) << "bit " << bit << " at " << shown.x() << "," << shown.y();
        }
        // Outside the picture, on both sides of it: black bars (the background is painted
        // only around the picture).
        EXPECT_LT(qGray(shot.pixel(2, 2)), 16);
        EXPECT_LT(qGray(shot.pixel(shot.width() - 3, shot.height() - 3)), 16);
    }
}

TEST_F(MovieViewOpenGLTest, MovieFrameLandsWhereTheGeometrySays)
{
    checkMovieFramesLandWhereTheGeometrySays(true);
}

// The same table on the software path, which runs everywhere.
TEST(MovieViewTest, MovieFrameLandsWhereTheGeometrySays)
{
    Player::setDefaultAudioOutput(QStringLiteral("null"));
    const bool before = PMMovieView::drawsWithOpenGL();
    PMMovieView::setDrawsWithOpenGL(false);
    checkMovieFramesLandWhereTheGeometrySays(false);
    PMMovieView::setDrawsWithOpenGL(before);
}

// Letting go of a movie drawn with OpenGL, the player dropped before or after the view shows
// the next one, kept playing elsewhere, the view closed (as when the program quits) or
// moved into another window (its context goes) while the renderer is still being let go:
// no GL renderer is left behind, each is freed with the view's context current, the
// engines end, and a player kept goes on with the software renderer.
TEST_F(MovieViewOpenGLTest, LettingGoOfAMovieFreesItsRendererWithTheContextCurrent)
{
    int freed = 0;
    int freedWithoutItsContext = 0;
    Player::setOpenGLRendererFreedHookForTesting([&](void* context) {
        ++freed;
        if (QOpenGLContext::currentContext() != context)
            ++freedWithoutItsContext;
    });
    struct Case {
        const char* name;
        bool viewFirst;  // the view shows the next player before the first is dropped
        bool keepFirst;  // the first player is not dropped
        bool closeAtOnce; // the view goes right after the switch
        bool moveAtOnce;  // the view moves into another window right after the switch
    } cases[] = {
        {"player dropped first", false, false, false, false},
        {"view switched first", true, false, false, false},
        {"player kept", true, true, false, false},
        {"view closed at once", false, false, true, false},
        {"view closed at once, player kept", true, true, true, false},
        {"view moved at once", false, false, false, true},
    };
    const auto clip = [] { return Asset::assetWithURL(QUrl::fromLocalFile(fx::fixtures().numbered())); };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const int renderersBefore = Player::openGLRenderers();
        const int freedBefore = freed;
        auto view = std::make_unique<PMMovieView>();
        view->resize(320, 240);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        auto first = std::make_shared<Player>();
        view->setMoviePlayer(first);
        first->replaceCurrentItemWithAsset(clip());
        first->play();
        ASSERT_TRUE(waitUntil([&] { return first->usesOpenGL() && first->renderedFrameCount() > 0; }, 10000));
        EXPECT_EQ(Player::openGLRenderers(), renderersBefore + 1);
        auto next = std::make_shared<Player>();
        next->replaceCurrentItemWithAsset(clip());
        std::weak_ptr<Player> firstLeft = first;
        if (!k.viewFirst && !k.keepFirst)
            first.reset();
        view->setMoviePlayer(next);
        if (!k.keepFirst)
            first.reset();
        EXPECT_TRUE(firstLeft.expired() != k.keepFirst);
        std::unique_ptr<QWidget> otherWindow;
        if (k.moveAtOnce) {
            otherWindow = std::make_unique<QWidget>();
            otherWindow->resize(400, 300);
            view->setParent(otherWindow.get());
            EXPECT_EQ(Player::openGLRenderers(), renderersBefore);
            otherWindow->show();
            view->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(otherWindow.get()));
        }
        if (k.closeAtOnce) {
            view.reset();
            EXPECT_EQ(Player::openGLRenderers(), renderersBefore);
        } else {
            EXPECT_TRUE(waitUntil([&] { return next->usesOpenGL() && next->renderedFrameCount() > 0; }, 10000));
            EXPECT_TRUE(waitUntil([&] { return Player::openGLRenderers() == renderersBefore + 1; }));
            view.reset();
            EXPECT_EQ(Player::openGLRenderers(), renderersBefore);
        }
        // The first player's renderer, and the next one's unless the view went before it drew.
        EXPECT_EQ(freed - freedBefore, k.closeAtOnce ? 1 : 2);
        if (first) {
            // Back on the software renderer, the player kept shows its pictures again.
            EXPECT_FALSE(first->usesOpenGL());
            first->seekToTime(0.5);
            EXPECT_TRUE(waitUntil([&] { return !first->currentFrame().isNull(); }, 10000));
        }
        first.reset();
        next.reset();
        otherWindow.reset();
        EXPECT_TRUE(waitUntil([] { return Player::enginesBeingEnded() == 0; }, 10000));
    }
    Player::setOpenGLRendererFreedHookForTesting({});
    EXPECT_EQ(freedWithoutItsContext, 0);
}
