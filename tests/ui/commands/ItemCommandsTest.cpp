// The commands on chosen items: new containers by sender, ratings, the area of a frame as
// fractions, the names saved frames get, and the frame commands on a playing clip.
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "library/model/ModelFixture.h"

#include "../../playback/PlaybackTestSupport.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"

#include <QtCore/QDir>
#include <QtGui/QAction>
#include <QtGui/QPainter>
#include <QtWidgets/QPushButton>

#include <gtest/gtest.h>

using platform::Array;
using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::Value;
using testsupport::waitUntil;
namespace fx = testsupport::media;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

// The containers of that name anywhere below the container.
int countNamed(const PMLibraryContainerPtr& container, const QString& name)
{
    int n = 0;
    for (const Value& v : *container->rawChildren())
        if (const PMLibraryContainerPtr child = PMContainerPtr(v))
            n += (child->displayName() == name ? 1 : 0) + countNamed(child, name);
    return n;
}

class ItemCommands : public ModelTest {
protected:
    void TearDown() override
    {
        c()._keyboardModifiersOverride = nullptr;
        c().libraryAddButton = nullptr;
        c()._actions.remove(QStringLiteral("addSmartPlaylist"));
        ModelTest::TearDown();
    }
};

} // namespace

TEST_F(ItemCommands, AddContainerPicksItsKindAndPlaceBySender)
{
    library({});
    const PMLibraryContainerPtr playlists = c().smartGroupStorage();
    const PMLibraryContainerPtr sources = c().sourceStorage();
    const PMLibraryContainerPtr inLibrary = folder(QStringLiteral("Shelf"));
    const PMLibraryContainerPtr inPlaylists = folder(QStringLiteral("Lists"));
    sources->rawChildren()->append(Value(inLibrary));
    playlists->rawChildren()->append(Value(inPlaylists));
    c().invalidateLibraryDependencies();
    int smartSheets = 0;
    c()._actions.insert(QStringLiteral("addSmartPlaylist"), [&smartSheets](QObject*) { ++smartSheets; });
    QPushButton addButton;
    c().libraryAddButton = &addButton;

    enum Sender { AddButton, ItemTag0, ItemTag1, ItemInLibraryFolder, ItemInPlaylistsFolder };
    const struct {
        const char* name;
        Sender sender;
        Qt::KeyboardModifiers modifiers;
        PMLibraryContainerPtr where; // null: the smart group sheet opens instead
        const char* made;
    } cases[] = {
        {"add button", AddButton, Qt::NoModifier, playlists, "Untitled Playlist"},
        {"add button with Shift", AddButton, Qt::ShiftModifier, sources, "Untitled Folder"},
        {"add button with Alt", AddButton, Qt::AltModifier, nullptr, ""},
        {"menu item tag 0", ItemTag0, Qt::NoModifier, sources, "Untitled Folder"},
        {"menu item tag 1", ItemTag1, Qt::NoModifier, playlists, "Untitled Playlist"},
        // A context menu's item carries the container: its kind follows the storage.
        {"inside a library folder", ItemInLibraryFolder, Qt::NoModifier, inLibrary, "Untitled Folder"},
        {"inside a playlists folder", ItemInPlaylistsFolder, Qt::NoModifier, inPlaylists, "Untitled Playlist"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        c()._keyboardModifiersOverride = [m = testCase.modifiers] { return m; };
        QAction item;
        QObject* sender = &item;
        switch (testCase.sender) {
        case AddButton:
            sender = &addButton;
            break;
        case ItemTag0:
            platform::setMenuItemTag(&item, 0);
            break;
        case ItemTag1:
            platform::setMenuItemTag(&item, 1);
            break;
        case ItemInLibraryFolder:
            platform::setMenuItemRepresentedObject(&item, Value(inLibrary));
            break;
        case ItemInPlaylistsFolder:
            platform::setMenuItemRepresentedObject(&item, Value(inPlaylists));
            break;
        }
        const int sheetsBefore = smartSheets;
        const QString made = QString::fromUtf8(testCase.made);
        const int before = testCase.where ? countNamed(testCase.where, made) : 0;
        const int elsewhere = countNamed(testCase.where == playlists || testCase.where == inPlaylists ? sources : playlists, made);
        c().addContainer(sender);
        if (!testCase.where) {
            EXPECT_EQ(smartSheets, sheetsBefore + 1);
            continue;
        }
        EXPECT_EQ(smartSheets, sheetsBefore);
        EXPECT_EQ(countNamed(testCase.where, made), before + 1);
        EXPECT_EQ(countNamed(testCase.where == playlists || testCase.where == inPlaylists ? sources : playlists, made), elsewhere);
        if (testCase.where == inLibrary || testCase.where == inPlaylists) {
            EXPECT_EQ(testCase.where->rawChildren()->count(), before + 1) << "inside the clicked container itself";
        }
    }
}

TEST_F(ItemCommands, RatingRefusesOnlineAndEmptyItemsAndIsSavedSoon)
{
    const auto local = movie(QStringLiteral("Local"));
    auto online = PMLibraryContainer::make({{QStringLiteral("Online"), QStringLiteral("YouTube")}, {QStringLiteral("Name"), QStringLiteral("clip")}});
    library({Value(local), Value(online)});
    const int beeps = platform::beepCount();
    QAction item;
    platform::setMenuItemTag(&item, 4);

    platform::setMenuItemRepresentedObject(&item, Value(Array::make({Value(local), Value(online)})));
    c().setRating(&item);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_EQ(local->rating(), 0.0) << "nothing is rated when an online item is among them";

    platform::setMenuItemRepresentedObject(&item, Value(Array::make()));
    c().setRating(&item);
    EXPECT_EQ(platform::beepCount(), beeps + 2);

    platform::setMenuItemRepresentedObject(&item, Value(Array::make({Value(local)})));
    c().setRating(&item);
    EXPECT_EQ(local->rating(), 4.0);
    EXPECT_TRUE(platform::hasPendingPerformRequest(&c(), QStringLiteral("saveLibrary"), Value())) << "a rating is saved soon";
    platform::cancelPreviousPerformRequests(&c());
}

TEST(FrameArea, FractionsAndTheCutPictureAreTheSameAtEveryPixelRatio)
{
    const QRectF full(100, 50, 400, 200); // screen points, top-down
    const struct {
        const char* name;
        QRectF area;
        double x, y, w, h; // the lower-left fractions
    } cases[] = {
        {"top left quarter", QRectF(100, 50, 200, 100), 0.0, 0.5, 0.5, 0.5},
        {"bottom right quarter", QRectF(300, 150, 200, 100), 0.5, 0.0, 0.5, 0.5},
        {"a band across the top", QRectF(100, 50, 400, 40), 0.0, 0.8, 1.0, 0.2},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const DictionaryPtr visible = PMMainController::visibleAreaOfArea(testCase.area, full);
        ASSERT_TRUE(visible);
        EXPECT_NEAR(visible->value(QStringLiteral("x")).toDouble(), testCase.x, 1e-9);
        EXPECT_NEAR(visible->value(QStringLiteral("y")).toDouble(), testCase.y, 1e-9);
        EXPECT_NEAR(visible->value(QStringLiteral("w")).toDouble(), testCase.w, 1e-9);
        EXPECT_NEAR(visible->value(QStringLiteral("h")).toDouble(), testCase.h, 1e-9);
        // The frame as a screen of either ratio delivers it: the area's part is red.
        for (const qreal ratio : {1.0, 2.0}) {
            SCOPED_TRACE(ratio);
            QImage pixels((full.size() * ratio).toSize(), QImage::Format_RGB32);
            pixels.fill(Qt::blue);
            QPainter(&pixels).fillRect(QRectF((testCase.area.topLeft() - full.topLeft()) * ratio, testCase.area.size() * ratio), Qt::red);
            platform::ImagePtr frame = platform::Image::make(pixels);
            frame->setSize(full.size());
            const platform::ImagePtr cut = PMMainController::imageOfArea(frame, testCase.area, full, std::nullopt);
            ASSERT_TRUE(cut && cut->isValid());
            const QImage out = cut->pixels();
            for (const QPoint p : {QPoint(1, 1), QPoint(out.width() - 2, out.height() - 2), QPoint(out.width() / 2, out.height() / 2)})
                EXPECT_EQ(QColor(out.pixel(p)).red() > 200 && QColor(out.pixel(p)).blue() < 60, true) << p.x() << "," << p.y();
            EXPECT_NEAR(cut->size().width() / cut->size().height(), testCase.area.width() / testCase.area.height(), 0.02);
        }
    }
    EXPECT_FALSE(PMMainController::visibleAreaOfArea(full, full)) << "the whole frame needs no area";
}

TEST(SavedFrameNames, HostileNamesBecomeSafeFileNames)
{
    const struct {
        const char* name;
        QString displayName;
        double seconds;
        QString expected; // empty: only the rules are checked
    } cases[] = {
        {"time with colons", QStringLiteral("Movie.mov"), 3723.456, QStringLiteral("Movie.mov (1'02'03.456)")},
        {"colons in the name", QStringLiteral("Part 1: The Start.mkv"), 2.5, QStringLiteral("Part 1' The Start.mkv (0'02.500)")},
        {"slashes and NUL", QStringLiteral("a/b") + QChar(0) + QStringLiteral("c.mp4"), 0, QString()},
        {"dots only", QStringLiteral(".."), 1, QString()},
        {"very long", QString(300, QChar(0x00E9)) + QStringLiteral(".mov"), 61, QString()},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const QString name = PMMainController::savedFrameFilename(testCase.displayName, testCase.seconds);
        if (!testCase.expected.isEmpty()) {
            EXPECT_EQ(name, testCase.expected);
        }
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(name.contains(u'/'));
        EXPECT_FALSE(name.contains(u':'));
        EXPECT_FALSE(name.contains(QChar(0)));
        EXPECT_FALSE(name.startsWith(u'.'));
        // Room stays for the picture's extension within the 255 bytes.
        EXPECT_LE(name.toUtf8().size() + 4, 255);
    }
}

// ---- On a playing clip

namespace {

class FrameCommands : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        testsupport::preparePlaybackController();
        platform::setAlertHandler([](const platform::Alert&) { return platform::AlertResponse{0, false}; });
        c().installPlayerWindows();
        c().installContextMenus();
        m_movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(fx::fixtures().numbered());
        m_movie->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Clip: One"));
        library({Value(folder(QStringLiteral("F"), {Value(m_movie)}))});
        ASSERT_TRUE(c().chooseMovieRepresentation(Value(m_movie), false, false, false, false));
        auto* view = qobject_cast<PMMovieView*>(c().playerView.data());
        ASSERT_TRUE(view);
        ASSERT_TRUE(waitUntil([&] {
            const auto player = c().playerViewContent().moviePlayer;
            return c()._currentMovieIsPlayable && player && player->status() == platform::media::PlayerItemStatus::ReadyToPlay && view->isVisible()
                && !view->currentGeometry().destination.isEmpty();
        }, 15000));
        m_savedSelectArea = c()._itemCommands.selectArea;
        m_savedSaveImage = c()._itemCommands.saveImage;
    }
    void TearDown() override
    {
        c()._itemCommands.selectArea = m_savedSelectArea;
        c()._itemCommands.saveImage = m_savedSaveImage;
        testsupport::releasePlaybackController();
        delete c()._dedicatedPlayerWindow.data();
        c().playerView = nullptr;
        platform::setAlertHandler(nullptr);
        ModelTest::TearDown();
    }
    PMMovieRepresentationOriginalPtr m_movie;
    std::function<QRect(const QRect&, bool)> m_savedSelectArea;
    std::function<void(const platform::ImagePtr&, const QString&, QWidget*)> m_savedSaveImage;
};

} // namespace

TEST_F(FrameCommands, TheTagChoosesWholeOrAreaAndPosterOrFile)
{
    const struct {
        qint64 tag;
        bool selects;  // the user is asked for an area
        bool cancel;   // and presses Escape
        bool saves;    // a file is offered
        bool poster;   // the poster changes
        double widthFraction;
    } cases[] = {
        {1, false, false, false, true, 1.0},
        {2, true, false, false, true, 0.5},
        {2, true, true, false, false, 0},
        {11, false, false, true, false, 1.0},
        {12, true, false, true, false, 0.5},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.tag);
        SCOPED_TRACE(testCase.cancel ? "cancelled" : "");
        m_movie->setPosterImage(nullptr);
        int selections = 0;
        bool thumbnailRatio = false;
        QRect full;
        c()._itemCommands.selectArea = [&](const QRect& rect, bool indicate) {
            ++selections;
            full = rect;
            thumbnailRatio = indicate;
            return testCase.cancel ? QRect() : QRect(rect.x(), rect.y(), rect.width() / 2, rect.height());
        };
        QList<QPair<platform::ImagePtr, QString>> saved;
        c()._itemCommands.saveImage = [&saved](const platform::ImagePtr& image, const QString& name, QWidget*) { saved.append({image, name}); };
        // The floating controls are out of the way while the area is chosen, and back after.
        c().showPlaybackControlsByFadingIn(false);
        QAction item;
        platform::setMenuItemTag(&item, testCase.tag);
        c().setCustomPosterImage(&item);

        EXPECT_EQ(selections, testCase.selects ? 1 : 0);
        if (testCase.selects) {
            EXPECT_EQ(thumbnailRatio, !testCase.saves) << "a poster area shows the tiles' ratio";
        }
        EXPECT_TRUE(c()._playbackControlsAreVisible) << "the controls are back";
        ASSERT_EQ(saved.size(), testCase.saves ? 1 : 0);
        platform::ImagePtr made = testCase.saves ? saved[0].first : m_movie->cachedPosterImage();
        if (testCase.saves) {
            EXPECT_EQ(saved[0].second, QStringLiteral("Clip' One.mp4 (0'00.000)"));
        }
        if (!testCase.poster && !testCase.saves) {
            EXPECT_FALSE(m_movie->cachedPosterImage()) << "a cancelled selection leaves the poster alone";
            continue;
        }
        ASSERT_TRUE(made && made->isValid());
        EXPECT_NEAR(made->size().width() / made->size().height(), 2.0 * testCase.widthFraction, 0.1);
    }
}
