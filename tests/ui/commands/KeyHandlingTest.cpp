// The keys that drive browsing and playing: WASD as arrows, the Escape ladder, what Return,
// Enter and Space open or play, and page scrolling of the grid.
#include "common/TestSupport.h"
#include "FocusSupport.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "playback/PMPlaybackController.h"
#include "ui/commands/PMApplication.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"

#include "../library_window/GridTestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QKeyEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTableWidget>

#include <gtest/gtest.h>

using platform::Array;
using platform::ArrayPtr;
using platform::UserDefaults;
using platform::Value;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

QKeyEvent press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = QString())
{
    return QKeyEvent(QEvent::KeyPress, key, modifiers, text);
}

bool handle(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool remote = false)
{
    QKeyEvent event = press(key, modifiers);
    return c().handleKeyDown(&event, remote);
}

// The source list: one row per movie of the test.
class SourceList : public PMLibraryListAccess {
public:
    std::vector<PMMovieRepresentationOriginalPtr>* movies = nullptr;
    QList<qsizetype> selection;
    qsizetype numberOfRows() override { return qsizetype(movies->size()); }
    Value itemAtRow(qsizetype row) override { return Value((*movies)[size_t(row)]); }
    QList<qsizetype> selectedRows() override { return selection; }
    void selectRows(const QList<qsizetype>& rows) override { selection = rows; }
};

// Who was asked to open what, and whether to play.
struct Chosen {
    QList<Value> movies;
    QList<bool> playing;
};

class Keys : public ::testing::Test {
protected:
    void SetUp() override
    {
        c().resetForTesting();
        dir = testsupport::makeTempDir(QStringLiteral("keys"));
        for (int i = 0; i < 3; ++i) {
            const QString path = dir + QStringLiteral("/Movie %1.mp4").arg(i);
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            movies.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(path));
        }
        c()._chooseMovieRepresentationHandler = [this](const Value& movie, bool, bool, bool startPlaying, bool) {
            chosen.movies.append(movie);
            chosen.playing.append(startPlaying);
            return true;
        };
        c()._actions.insert(QStringLiteral("toggleQuickLook"), [this](QObject*) { ++quickLooks; });
        sourceList = std::make_shared<SourceList>();
        sourceList->movies = &movies;
        c()._libraryListAccess = sourceList;
    }
    void TearDown() override
    {
        grid.reset();
        gridtest::waitForPictureLoads();
        c()._groupView = nullptr;
        c()._chooseMovieRepresentationHandler = nullptr;
        c()._startApplicationOverride = nullptr;
        c()._actions.remove(QStringLiteral("toggleQuickLook"));
        c()._libraryListAccess = nullptr;
        c()._inboxItems = nullptr;
        c()._isPresenting = false;
        c()._currentMovieRepresentation = Value();
        for (const char* key : {"Navigate With WASD", "Navigate With Swapped Space And Return", "Do Not Play On Open", "Hide Library"})
            defaults().removeObjectForKey(QString::fromUtf8(key));
        c().resetForTesting();
    }
    void selectInSourceList(std::initializer_list<int> indexes) { sourceList->selection = QList<qsizetype>(indexes.begin(), indexes.end()); }
    qsizetype sourceListSelectionCount() const { return sourceList->selection.size(); }
    // A grid of the three movies in a window of its own, with the keys.
    void makeGrid(int count = 3)
    {
        gridtest::useSmallUniformTiles();
        group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Movies")}});
        for (int i = 3; i < count; ++i)
            movies.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/More %1.mp4").arg(i)));
        for (const auto& movie : movies)
            group->rawChildren()->append(Value(movie));
        grid = std::make_unique<PMGroupView>();
        grid->resize(480, 300);
        grid->setRepresentedGroup(group);
        for (const auto& movie : movies)
            grid->addItem(Value(movie));
        grid->tileWithAdjustedSize(false, false, false);
        grid->setFocusPolicy(Qt::StrongFocus);
        ASSERT_TRUE(testsupport::giveKeysTo(grid.get()));
        c()._groupView = grid.get();
    }
    void selectInGrid(std::initializer_list<int> indexes)
    {
        std::vector<PMGroupViewItemProxyPtr> proxies;
        for (int i : indexes)
            proxies.push_back(grid->movieProxies()[size_t(i)]);
        grid->selectItems(nullptr, proxies, {}, true, false, false, false);
    }

    QString dir;
    std::vector<PMMovieRepresentationOriginalPtr> movies;
    PMLibraryContainerPtr group;
    std::unique_ptr<PMGroupView> grid;
    std::shared_ptr<SourceList> sourceList;
    Chosen chosen;
    int quickLooks = 0;
};

} // namespace

TEST_F(Keys, WASDBecomeArrowsOnlyWhereNothingIsTyped)
{
    QWidget window;
    auto* plain = new QWidget(&window);
    plain->setFocusPolicy(Qt::StrongFocus);
    auto* field = new QLineEdit(&window);
    auto* table = new QTableWidget(2, 2, &window);
    ASSERT_TRUE(testsupport::giveKeysTo(plain));

    const auto translate = [&](const QString& text, Qt::KeyboardModifiers modifiers, QWidget* receiver) -> int {
        const QKeyEvent event(QEvent::KeyPress, text.isEmpty() ? 0 : QKeySequence(text.toUpper())[0].key(), modifiers, text);
        const std::unique_ptr<QKeyEvent> out = PMApplication::keyEventByOptionallyTranslatingWASDKeysInEvent(&event, receiver);
        return out ? out->key() : 0;
    };

    // Off by default.
    EXPECT_EQ(translate(QStringLiteral("d"), Qt::NoModifier, plain), 0);
    defaults().setBool(true, QStringLiteral("Navigate With WASD"));
    const struct {
        const char* text;
        int arrow;
    } table_[] = {{"a", Qt::Key_Left}, {"d", Qt::Key_Right}, {"s", Qt::Key_Down}, {"w", Qt::Key_Up}, {"x", 0}, {"q", 0}};
    for (const auto& row : table_)
        EXPECT_EQ(translate(QString::fromLatin1(row.text), Qt::NoModifier, plain), row.arrow) << row.text;

    // Ctrl-W closes a window; Shift gives "W", which is a letter.
    EXPECT_EQ(translate(QStringLiteral("w"), Qt::ControlModifier, plain), 0);
    EXPECT_EQ(translate(QStringLiteral("W"), Qt::ShiftModifier, plain), 0);
    // A text field, and a list cell being edited, keep their letters.
    ASSERT_TRUE(testsupport::giveKeysTo(field));
    EXPECT_EQ(translate(QStringLiteral("w"), Qt::NoModifier, field), 0);
    table->setFocus();
    table->setCurrentCell(0, 0);
    table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("x")));
    table->editItem(table->item(0, 0));
    ASSERT_TRUE(testsupport::waitUntil([&] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }));
    EXPECT_EQ(translate(QStringLiteral("a"), Qt::NoModifier, table), 0);

    // Through the application: "d" typed into a field is a letter, into a plain widget an arrow.
    PMApplication::install();
    int seenKey = 0;
    struct Spy : QObject {
        int* key = nullptr;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::KeyPress)
                *key = static_cast<QKeyEvent*>(e)->key();
            return false;
        }
    } spy;
    spy.key = &seenKey;
    plain->installEventFilter(&spy);
    ASSERT_TRUE(testsupport::giveKeysTo(plain));
    QTest::keyClick(plain, Qt::Key_D, Qt::NoModifier);
    EXPECT_EQ(seenKey, int(Qt::Key_Right));
    ASSERT_TRUE(testsupport::giveKeysTo(field));
    QTest::keyClick(field, Qt::Key_W);
    EXPECT_EQ(field->text(), QStringLiteral("w"));
}

TEST_F(Keys, EscapeStepsDownOneRungPerPress)
{
    c()._inboxItems = Array::make();
    c()._isPresenting = true;
    c()._currentMovieRepresentation = Value(movies[0]);
    selectInSourceList({1});
    const int beeps = platform::beepCount();

    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_EQ(c()._inboxItems, nullptr);
    EXPECT_TRUE(c()._isPresenting);

    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_FALSE(c()._isPresenting);
    EXPECT_FALSE(c()._currentMovieRepresentation.isNull());

    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_TRUE(c()._currentMovieRepresentation.isNull());
    // (The refresh after the movie went checks the selection against a library this test
    // does not have: the selection is made again.)
    selectInSourceList({1});

    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_EQ(sourceListSelectionCount(), 0);
    EXPECT_EQ(platform::beepCount(), beeps);

    // Nothing left: a beep, and the key is still taken.
    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(Keys, EscapeWhilePlayingPausesAndKeepsTheMovie)
{
    // A slideshow waiting for its next picture is playing; Escape pauses it (and must reach
    // the controller's pause, not the process's).
    c()._currentMovieRepresentation = Value(movies[0]);
    c()._nextMovieRepresentation = Value(movies[1]);
    ASSERT_TRUE(c().isPlaying());
    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_FALSE(c().isPlaying());
    EXPECT_FALSE(c()._currentMovieRepresentation.isNull());
}

TEST_F(Keys, EscapeLeavesTheDesktopsFullScreenFirstEveryTime)
{
    // A window in the desktop's full screen with the current movie: the first Escape
    // leaves the full screen and nothing else; only the next one goes on down the list.
    QWidget window;
    window.setWindowTitle(QStringLiteral("Player"));
    window.showFullScreen();
    ASSERT_TRUE(testsupport::giveKeysTo(&window));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        c()._currentMovieRepresentation = Value(movies[0]);
        window.showFullScreen();
        ASSERT_TRUE(window.isFullScreen());
        EXPECT_TRUE(handle(Qt::Key_Escape));
        EXPECT_FALSE(window.isFullScreen());
        EXPECT_FALSE(c()._currentMovieRepresentation.isNull());
        EXPECT_TRUE(handle(Qt::Key_Escape));
        EXPECT_TRUE(c()._currentMovieRepresentation.isNull());
    }
}

TEST_F(Keys, EscapeClearsTheGridsSelectionBeforeTheSourceLists)
{
    makeGrid();
    selectInGrid({0, 2});
    selectInSourceList({1});
    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_TRUE(grid->selectedItems()->isEmpty());
    EXPECT_EQ(sourceListSelectionCount(), 1);
}

TEST_F(Keys, ReturnEnterAndSpace)
{
    selectInSourceList({1, 2});
    const int beeps = platform::beepCount();
    // key, modifiers, swapped, remote: what happens (chosen movie index, Quick Look, remote enter)
    const struct {
        int key;
        bool swapped;
        bool remote;
        bool doNotPlay;
        int chosenIndex; // -1: none
        bool playing;
        int quickLooks;
        int remoteEnters;
    } cases[] = {
        {Qt::Key_Return, false, false, false, 1, true, 0, 0},
        {Qt::Key_Return, false, false, true, 1, false, 0, 0},
        {Qt::Key_Enter, false, false, false, 1, true, 0, 0},
        {Qt::Key_Space, false, false, false, -1, false, 1, 0},
        {Qt::Key_Return, true, false, false, -1, false, 1, 0},
        {Qt::Key_Space, true, false, false, 1, true, 0, 0},
        {Qt::Key_Return, false, true, false, -1, false, 0, 1},
        {Qt::Key_Enter, false, true, false, -1, false, 0, 1},
        {Qt::Key_Space, true, true, false, -1, false, 0, 1},
    };
    for (const auto& testCase : cases) {
        chosen = {};
        quickLooks = 0;
        int remoteEnters = 0;
        // The remote interface window's stand-in; its connection ends with the case.
        QObject remoteInterfaceWindow;
        QObject::connect(&c().playbackController(), &PMPlaybackController::remoteInterfaceEnterRequested, &remoteInterfaceWindow,
                         [&] { ++remoteEnters; });
        defaults().setBool(testCase.swapped, QStringLiteral("Navigate With Swapped Space And Return"));
        defaults().setBool(testCase.doNotPlay, QStringLiteral("Do Not Play On Open"));
        EXPECT_TRUE(handle(testCase.key, Qt::NoModifier, testCase.remote)) << testCase.key;
        const std::string where = std::to_string(testCase.key) + (testCase.swapped ? " swapped" : "") + (testCase.remote ? " remote" : "");
        if (testCase.chosenIndex < 0) {
            EXPECT_TRUE(chosen.movies.isEmpty()) << where;
        } else {
            ASSERT_EQ(chosen.movies.size(), 1) << where;
            EXPECT_EQ(chosen.movies[0].objectPointer(), movies[size_t(testCase.chosenIndex)].get()) << where;
            EXPECT_EQ(chosen.playing[0], testCase.playing) << where;
        }
        EXPECT_EQ(quickLooks, testCase.quickLooks) << where;
        EXPECT_EQ(remoteEnters, testCase.remoteEnters) << where;
    }
    EXPECT_EQ(platform::beepCount(), beeps);

    // Nothing selected: Return beeps; a hidden sidebar hides its selection too.
    defaults().setBool(false, QStringLiteral("Navigate With Swapped Space And Return"));
    defaults().setBool(true, QStringLiteral("Hide Library"));
    EXPECT_TRUE(handle(Qt::Key_Return));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(Keys, ShiftReturnOpensWithEachMoviesApplicationOrFallsBack)
{
    // An installed viewer that takes a list of files.
    const QString applications = QDir::homePath() + QStringLiteral("/.local/share/applications");
    QDir().mkpath(applications);
    QFile entry(applications + QStringLiteral("/pellis-test-viewer.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Viewer\nExec=sh -c true %F\n");
    entry.close();
    QList<QStringList> started;
    c()._startApplicationOverride = [&](const QString& program, const QStringList& arguments) {
        started.append(QStringList{program} + arguments);
        return true;
    };
    for (int i : {1, 2})
        movies[size_t(i)]->setApplicationPath(entry.fileName());
    selectInSourceList({1, 2});
    EXPECT_TRUE(handle(Qt::Key_Return, Qt::ShiftModifier));
    ASSERT_EQ(started.size(), 1);
    EXPECT_TRUE(started[0].contains(movies[1]->path()) && started[0].contains(movies[2]->path()));
    EXPECT_TRUE(chosen.movies.isEmpty());
    EXPECT_EQ(movies[1]->counter(), 1u);

    // One movie without an application: the first item opens here, as without Shift.
    started.clear();
    selectInSourceList({0, 1});
    EXPECT_TRUE(handle(Qt::Key_Return, Qt::ShiftModifier));
    EXPECT_TRUE(started.isEmpty());
    ASSERT_EQ(chosen.movies.size(), 1);
    EXPECT_EQ(chosen.movies[0].objectPointer(), movies[0].get());

    // A stored path naming no installed entry is never run.
    movies[0]->setApplicationPath(QStringLiteral("/usr/bin/rm"));
    chosen = {};
    selectInSourceList({0});
    EXPECT_TRUE(handle(Qt::Key_Return, Qt::ShiftModifier));
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(chosen.movies.size(), 1);
}

TEST_F(Keys, ReturnInTheGridOpensItsSelection)
{
    makeGrid();
    selectInSourceList({0});
    selectInGrid({2});
    EXPECT_TRUE(handle(Qt::Key_Return));
    ASSERT_EQ(chosen.movies.size(), 1);
    EXPECT_EQ(chosen.movies[0].objectPointer(), movies[2].get());
    // The grid keeps Left and Right and Up and Down for its own selection.
    EXPECT_FALSE(handle(Qt::Key_Left));
    EXPECT_FALSE(handle(Qt::Key_Down));
}

TEST_F(Keys, PageKeysScrollTheGridAndStopAtItsEnds)
{
    makeGrid(40);
    QScrollBar* bar = grid->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_TRUE(handle(Qt::Key_PageDown));
    EXPECT_GT(bar->value(), 0);
    EXPECT_TRUE(handle(Qt::Key_End));
    EXPECT_EQ(bar->value(), bar->maximum());
    // At the bottom, nothing lies below: the key is not taken.
    EXPECT_FALSE(handle(Qt::Key_PageDown));
    EXPECT_TRUE(handle(Qt::Key_Home));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(handle(Qt::Key_PageUp));
}

TEST_F(Keys, NothingIsTakenWhileTextIsTypedOrAPanelIsModal)
{
    selectInSourceList({1});
    QWidget window;
    auto* field = new QLineEdit(&window);
    ASSERT_TRUE(testsupport::giveKeysTo(field));
    EXPECT_FALSE(handle(Qt::Key_Return));
    EXPECT_FALSE(handle(Qt::Key_Escape));
    EXPECT_TRUE(chosen.movies.isEmpty());
    // In presentation the keys are the player's, typed text or not.
    c()._isPresenting = true;
    EXPECT_TRUE(handle(Qt::Key_Escape));
    EXPECT_FALSE(c()._isPresenting);
}
