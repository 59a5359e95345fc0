// Editing what plays: the select-area state machine fed with synthetic events, the drag
// angle of the rotate button, and through the real controller and player: trimming,
// deleting and undoing on a numbered 60 s movie (frames read back from the player),
// degree steps of the rotate button, the marker table, cropping (a cancelled re-crop
// keeps the crop) and the crop's way onto disk.
#include "library/model/ModelFixture.h"

#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "playback/PMSelectArea.h"
#include "foundation/PMFunctions.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "PlaybackTestSupport.h"

#include <QtCore/QFile>
#include <QtGui/QImage>
#include <QtGui/QMouseEvent>
#include <QtTest/QTest>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

using platform::Array;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;
namespace fx = testsupport::media;
using testsupport::waitUntil;

namespace {

// ---- The select-area session, driven by a script of pointer steps

struct Step {
    enum Kind { Move, Down, Up, Key } kind;
    QPointF at;
    QString characters;
};
Step move(double x, double y) { return {Step::Move, {x, y}, {}}; }
Step down(double x, double y) { return {Step::Down, {x, y}, {}}; }
Step up(double x, double y) { return {Step::Up, {x, y}, {}}; }
Step key(const QString& characters) { return {Step::Key, {}, characters}; }
const QString kReturn = QString(QChar(13));
const QString kEscape = QString(QChar(27));

struct Script {
    Script(QList<Step> s = {}) : steps(std::move(s)) {}
    QList<Step> steps;
    qsizetype next = 0;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    // The overlay's state after each pointer movement.
    QStringList messages;
    void attach(PMSelectAreaSession& s)
    {
        s.modifiers = [this] { return modifiers; };
        s.nextEvent = [this, &s]() -> PMSelectAreaEvent {
            while (next < steps.size()) {
                const Step step = steps[next++];
                if (step.kind == Step::Move) {
                    s.mouseLocation = step.at;
                    s.update();
                    messages << s.message;
                    continue;
                }
                PMSelectAreaEvent e;
                e.location = step.at;
                e.type = step.kind == Step::Down ? PMSelectAreaEvent::MouseDown : step.kind == Step::Up ? PMSelectAreaEvent::MouseUp : PMSelectAreaEvent::KeyDown;
                e.characters = step.characters;
                return e;
            }
            ADD_FAILURE() << "the session asked for more events than the script has";
            PMSelectAreaEvent escape;
            escape.type = PMSelectAreaEvent::KeyDown;
            escape.characters = kEscape;
            return escape;
        };
    }
};

const QRectF kContainer(100, 100, 400, 200);

QRectF runScript(PMSelectAreaSession& s, Script& script)
{
    if (s.containerFrame.isEmpty())
        s.containerFrame = kContainer;
    script.attach(s);
    return s.run();
}

DictionaryPtr area(double x, double y, double w, double h)
{
    return Dictionary::make({{QStringLiteral("x"), x}, {QStringLiteral("y"), y}, {QStringLiteral("w"), w}, {QStringLiteral("h"), h}});
}

TEST(SelectAreaSessionTest, DrawThenAcceptOrCancel)
{
    struct Case {
        const char* name;
        int mode;
        QList<Step> steps;
        bool accepted;
    };
    const QList<Case> cases = {
        {"Return accepts in the adjust phase", 1, {down(150, 150), move(200, 200), up(250, 230), key(kReturn)}, true},
        {"Enter accepts", 1, {down(150, 150), up(250, 230), key(QString(QChar(3)))}, true},
        {"an empty key accepts", 1, {down(150, 150), up(250, 230), key(QString())}, true},
        {"a click inside accepts", 1, {down(150, 150), up(250, 230), move(200, 190), down(200, 190), up(200, 190)}, true},
        {"a click outside cancels", 1, {down(150, 150), up(250, 230), move(400, 280), down(400, 280), up(400, 280)}, false},
        {"Escape cancels", 1, {down(150, 150), up(250, 230), key(kEscape)}, false},
        {"Return before the first click cancels", 1, {key(kReturn)}, false},
        {"mode 0 finishes on release", 0, {down(150, 150), up(250, 230)}, true},
        {"mode 0 refuses a tiny drag", 0, {down(150, 150), up(155, 155)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PMSelectAreaSession s;
        s.mode = c.mode;
        Script script{c.steps};
        const QRectF r = runScript(s, script);
        EXPECT_EQ(!r.isEmpty(), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(r, PMRectBetweenPoints({150, 150}, {250, 230}));
        }
        EXPECT_FALSE(s.cursorPushed) << "the cursor is popped at the end";
        EXPECT_EQ(script.next, c.steps.size()) << "every event was used";
    }
}

TEST(SelectAreaSessionTest, ATinyFirstDragInModeOneFallsBackToTheWholeContainer)
{
    PMSelectAreaSession s;
    Script script{{down(150, 150), up(152, 153), key(kReturn)}};
    EXPECT_EQ(runScript(s, script), kContainer);
}

TEST(SelectAreaSessionTest, TheSelectionStaysInsideTheContainer)
{
    PMSelectAreaSession s;
    Script script{{down(450, 250), move(900, 900), up(900, 900), key(kReturn)}};
    const QRectF r = runScript(s, script);
    EXPECT_TRUE(kContainer.contains(r)) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    EXPECT_EQ(r.right(), kContainer.right());
    EXPECT_EQ(r.bottom(), kContainer.bottom());
}

TEST(SelectAreaSessionTest, DraggingAnEdgePastTheOppositeOneFlipsTheRectangle)
{
    // Preset 200..300 wide: grab the right edge at x 300 and drag it to x 150.
    PMSelectAreaSession s;
    s.initialArea = area(0.25, 0.25, 0.25, 0.5); // x 200, y 150, 100 x 100
    Script script{{move(300, 200), down(300, 200), move(150, 200), up(150, 200), key(kReturn)}};
    const QRectF r = runScript(s, script);
    EXPECT_EQ(r, QRectF(150, 150, 50, 100));
    EXPECT_GT(r.width(), 0);
}

TEST(SelectAreaSessionTest, HoveringFindsTheEdgesWithinTheTolerance)
{
    PMSelectAreaSession s;
    s.containerFrame = kContainer;
    s.selection = QRectF(200, 150, 100, 100);
    struct Case {
        QPointF at;
        bool top, right, bottom, left;
        QString message;
    };
    for (const Case& c : QList<Case>{
             {{304, 200}, false, true, false, false, {}},
             {{304.02, 200}, false, false, false, false, {}}, // outside by more than 4.01
             {{200, 250}, true, false, false, true, {}},      // the top left corner
             {{250, 200}, false, false, false, false, QStringLiteral("\u2713")},
         }) {
        s.mouseLocation = c.at;
        s.update();
        EXPECT_EQ(s.topEdge, c.top) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(s.rightEdge, c.right) << c.at.x();
        EXPECT_EQ(s.bottomEdge, c.bottom) << c.at.x();
        EXPECT_EQ(s.leftEdge, c.left) << c.at.x();
        EXPECT_EQ(s.apertureColor.has_value(), !c.message.isEmpty());
        if (!c.message.isEmpty()) {
            EXPECT_EQ(s.message, c.message);
        }
    }
}

TEST(SelectAreaSessionTest, EdgesSnapToTheOfferedRatio)
{
    // A 100 x 100 selection at (200, 150); the ratio 2 asks for a width of 200. The right
    // edge is dragged to within 3 points of it, 6 points off, and with Option or Command.
    struct Case {
        const char* name;
        double toX;
        Qt::KeyboardModifiers modifiers;
        double width;
        QString message;
    };
    const QList<Case> cases = {
        {"within 4.01 points it snaps", 397, Qt::NoModifier, 200, QStringLiteral("\u2FF4")},
        {"6 points off it does not", 394, Qt::NoModifier, 194, QStringLiteral("1.94:1")},
        {"Option always snaps", 340, Qt::AltModifier, 200, QStringLiteral("\u2FF4")},
        {"Command never snaps", 399, Qt::ControlModifier, 199, QStringLiteral("1.99:1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PMSelectAreaSession s;
        s.ratios = {2.0};
        s.initialArea = area(0.25, 0.25, 0.25, 0.5);
        Script script{{move(300, 200), down(300, 200), move(c.toX, 200), up(c.toX, 200), key(kReturn)}};
        script.modifiers = c.modifiers;
        const QRectF r = runScript(s, script);
        EXPECT_EQ(r.width(), c.width);
        EXPECT_EQ(r.height(), 100);
        EXPECT_EQ(script.messages.value(1), c.message);
    }

    // A snap that would leave the container is not taken, even with Option: at the
    // container's right edge the width cannot grow to twice the height.
    PMSelectAreaSession s;
    s.ratios = {2.0};
    s.initialArea = area(0.5, 0.0, 0.5, 1.0); // x 300, 200 x 200: the ratio wants 400
    Script script{{move(500, 200), down(500, 200), move(499, 200), up(499, 200), key(kReturn)}};
    script.modifiers = Qt::AltModifier;
    const QRectF r = runScript(s, script);
    EXPECT_EQ(r, QRectF(300, 100, 199, 200));
}

// The first drag snaps by moving the edges the pointer moves, whichever way it goes from
// the press: the edges at the press stay where they were. (The drawn rectangle covers the
// pixels of both points: one more each way, one row lower.)
TEST(SelectAreaSessionTest, TheFirstDragSnapsAtTheEdgesThePointerMoves)
{
    const QPointF anchor(300, 200);
    struct Case {
        const char* name;
        double ratio;
        QPointF to;
        QRectF expected;
    };
    const QList<Case> cases = {
        // 98 x 51 drawn; 2:1 is nearer by the height (49) than by the width (102).
        {"up: the top edge moves", 2, {397, 250}, QRectF(300, 199, 98, 49)},
        {"down: the bottom edge moves", 2, {397, 150}, QRectF(300, 151, 98, 49)},
        // 53 x 100 drawn; 1:2 by the height would be 6 points off, by the width 3.
        {"left: the left edge moves", 0.5, {248, 299}, QRectF(251, 199, 50, 100)},
        {"right: the right edge moves", 0.5, {352, 101}, QRectF(300, 100, 50, 100)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        PMSelectAreaSession s;
        s.ratios = {k.ratio};
        Script script{{down(anchor.x(), anchor.y()), move(k.to.x(), k.to.y()), up(k.to.x(), k.to.y()), key(kReturn)}};
        const QRectF r = runScript(s, script);
        EXPECT_EQ(r, k.expected) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
        EXPECT_EQ(script.messages.value(0), QStringLiteral("\u2FF4")) << "snapped while dragging";
    }
}

TEST(SelectAreaSessionTest, TheHintInsideTheSelection)
{
    PMSelectAreaSession s;
    s.containerFrame = kContainer;
    s.selection = QRectF(200, 150, 100, 100);
    s.mouseLocation = {250, 200};
    s.update();
    EXPECT_EQ(s.message, QStringLiteral("\u2713"));
    s.inContainerCoordinates = true;
    s.horizontalExtension = 0.2;
    s.update();
    EXPECT_EQ(s.message, QStringLiteral("\u2194\uFE0E")) << "a narrower selection of a picture that widens";
    s.modifiers = [] { return Qt::KeyboardModifiers(Qt::ControlModifier); };
    s.update();
    EXPECT_EQ(s.message, QStringLiteral("\u2713")) << "Command uses the area exactly";
}

TEST(RotationDragTest, HalfTheDistanceInWholeDegrees)
{
    struct Case {
        double dx, dy;
        int angle;
    };
    for (const Case& c : QList<Case>{{100, 0, 50}, {0, -100, 50}, {60, 80, 50}, {-100, 0, 50}, {1, 0, 0}, {3, 0, 1}, {719, 0, 359}, {720, 0, 0}, {1000, 0, 0}})
        EXPECT_EQ(PMRotationDragAngle(c.dx, c.dy), c.angle) << c.dx << "," << c.dy;
}

// ---- Replaying stored steps

TEST(EditingStepsTest, ReplayStopsAtTheFirstStepThatCannotApply)
{
    const QString path = fx::fixtures().dir() + QStringLiteral("/long-60s.mp4");
    if (!QFile::exists(path)) {
        ASSERT_TRUE(fx::makeNumberedClip(path, 600));
    }
    const auto step = [](const char* action, double start, double length) {
        return Value(Dictionary::make({{QStringLiteral("Action"), QString::fromLatin1(action)},
                                       {QStringLiteral("Range"), PMMovieTimestampString(start) + u'~' + PMMovieTimestampString(length)}}));
    };
    struct Case {
        const char* name;
        QList<Value> steps;
        double duration;
    };
    const QList<Case> cases = {
        {"both apply", {step("Trim", 10, 10), step("Trim", 0, 5)}, 5},
        {"\"Cut\" is read as a delete", {step("Cut", 0, 15)}, 45},
        {"deleting everything applies nothing", {step("Delete", 0, 60)}, 60},
        {"the steps after one that cannot apply are skipped", {step("Trim", 10, 10), step("Delete", 0, 10), step("Trim", 0, 5)}, 10},
        {"an unknown action stops the replay", {step("Trim", 10, 10), step("Reverse", 0, 5), step("Trim", 0, 5)}, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::ArrayPtr steps = Array::make();
        for (const Value& v : c.steps)
            steps->append(v);
        const PMAssetPtr asset = PMMovie::assetWithURL(QUrl::fromLocalFile(path), QStringLiteral("Steps"), steps);
        ASSERT_TRUE(asset);
        EXPECT_NEAR(asset->duration().seconds(), c.duration, 0.05);
    }
}

// ---- Through the controller

class EditingTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        testsupport::preparePlaybackController();
        platform::setAlertHandler([](const platform::Alert&) { return platform::AlertResponse{0, false}; });
        mainController().installPlayerWindows();
    }
    void TearDown() override
    {
        PMMainController& c = mainController();
        c._selectAreaEventSource = nullptr;
        c._keyboardModifiersOverride = nullptr;
        testsupport::releasePlaybackController();
        delete c._dedicatedPlayerWindow.data();
        c.playerView = nullptr;
        platform::setAlertHandler(nullptr);
        ModelTest::TearDown();
    }
    static PMMovieRepresentationOriginalPtr record(const QString& path, const QString& name)
    {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        m->userSettings()->setValue(QStringLiteral("Name"), name);
        return m;
    }
    // A record of a 60 x 40 picture file of its own (nothing when it cannot be written).
    static PMMovieRepresentationOriginalPtr photoRecord(const QString& name)
    {
        const QString path = fx::fixtures().dir() + u'/' + name + QStringLiteral(".png");
        QImage picture(60, 40, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        return picture.save(path) ? record(path, name) : nullptr;
    }
    static QString longClip()
    {
        const QString path = fx::fixtures().dir() + QStringLiteral("/long-60s.mp4");
        if (!QFile::exists(path))
            fx::makeNumberedClip(path, 600);
        return path;
    }
    static PMPlayerPtr player() { return mainController().playerViewContent().moviePlayer; }
    static bool choose(const Value& movie)
    {
        PMMainController& c = mainController();
        return c.chooseMovieRepresentation(movie, false, false, false, false)
            && waitUntil([&c] { return c._currentMovieIsPlayable && player() && player()->status() == platform::media::PlayerItemStatus::ReadyToPlay; }, 15000);
    }
    static void seek(double seconds)
    {
        mainController().setTimeSliderCurrentTimeValue(seconds);
        waitUntil([seconds] { return player() && !player()->isSeeking() && std::fabs(player()->currentTime() - seconds) < 0.05; }, 10000);
    }
    // The number drawn into the frame shown now (the player renders at the view's size).
    static int shownFrame() { return frameNumber(player()->currentFrame()); }
    static int frameNumber(const QImage& frame)
    {
        if (frame.isNull())
            return -1;
        return fx::decodeFrameNumber(frame.scaled(fx::kClipWidth, fx::kClipHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                         .convertToFormat(QImage::Format_RGB32));
    }
    // Waits until the player has ready what the edit made, standing near the time.
    static bool waitEdited(double duration, double position)
    {
        const bool edited = waitUntil([&] {
            const PMPlayerPtr p = player();
            return mainController()._currentMovieIsPlayable && p && !p->isSeeking() && std::fabs(durationValue(p.get()) - duration) < 0.15
                && std::fabs(p->currentTime() - position) < 0.15;
        }, 15000);
        if (!edited) {
            const PMPlayerPtr p = player();
            ADD_FAILURE() << "playable " << mainController()._currentMovieIsPlayable << ", player " << bool(p) << ", seeking "
                          << (p && p->isSeeking()) << ", duration " << (p ? durationValue(p.get()) : -1) << ", at "
                          << (p ? p->currentTime() : -1);
        }
        return edited;
    }
    // The window's time slider learns a new length a moment after the player: a selection
    // beyond the length it knows is cut to it, so the selection is set until it holds.
    static bool select(double start, double end)
    {
        return waitUntil([&] {
            mainController().setTimeSliderSelection(start, end);
            const auto [s, e] = mainController().timeSliderSelection();
            return std::fabs(s - start) < 0.01 && std::fabs(e - end) < 0.01;
        }, 15000);
    }
};

TEST_F(EditingTest, TrimDeleteAndUndoAll)
{
    PMMainController& c = mainController();
    const auto movie = record(longClip(), QStringLiteral("Long"));
    library({Value(folder(QStringLiteral("F"), {Value(movie)}))});
    ASSERT_TRUE(choose(Value(movie)));
    ASSERT_NEAR(durationValue(player().get()), 60, 0.15);

    // Trim to 10..20 while standing at 15: 10 s remain and the place moves by -10.
    seek(15);
    c.setTimeSliderSelection(10, 20);
    c.trimToTimeRange();
    ASSERT_TRUE(waitEdited(10, 5));
    EXPECT_EQ(movie->durationIfCached(true), 10);
    const platform::ArrayPtr steps = movie->userSettings()->value(QStringLiteral("Editing Steps")).array();
    ASSERT_TRUE(steps && steps->count() == 1);
    EXPECT_EQ(steps->at(0).dictionary()->value(QStringLiteral("Action")).string(), QStringLiteral("Trim"));
    EXPECT_EQ(c.timeSliderSelection().second, -1) << "the old selection is gone";
    // The frame shown comes from source time 15 (frame 150).
    EXPECT_TRUE(waitUntil([] { return shownFrame() == 150; }, 10000)) << shownFrame();

    // The edited timeline plays to its end, which is the source's second 20.
    seek(9.5);
    const PMPlayerPtr edited = player();
    std::optional<double> endedAt;
    int lastFrame = -1;
    QObject::connect(edited.get(), &platform::media::Player::didPlayToEnd, edited.get(), [&] {
        endedAt = edited->currentTime();
        lastFrame = frameNumber(edited->currentFrame());
    });
    c.play();
    EXPECT_TRUE(waitUntil([&] { return endedAt.has_value(); }, 15000));
    EXPECT_NEAR(endedAt.value_or(0), 10, 0.2);
    EXPECT_LE(std::abs(lastFrame - 199), 1) << lastFrame;

    // Undo: the whole movie again (the end of playback may have let it go: choose it).
    if (c._currentMovieRepresentation.isNull()) {
        ASSERT_TRUE(choose(Value(movie)));
    }
    c.undoEditing();
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && player() && std::fabs(durationValue(player().get()) - 60) < 0.15; }, 15000));
    EXPECT_FALSE(movie->userSettings()->contains(QStringLiteral("Editing Steps")));

    // Delete 10..20 of 60 while at 30: 50 s remain and the place becomes 10, which
    // shows the source's second 20.
    seek(30);
    ASSERT_TRUE(select(10, 20));
    const int beepsBefore = platform::beepCount();
    c.deleteSelectedTimeRange();
    EXPECT_EQ(platform::beepCount(), beepsBefore) << "the edit was refused";
    ASSERT_TRUE(waitEdited(50, 10));
    EXPECT_EQ(movie->durationIfCached(true), 50);
    EXPECT_TRUE(waitUntil([] { return shownFrame() == 200; }, 10000)) << shownFrame();
    seek(12);
    EXPECT_TRUE(waitUntil([] { return shownFrame() == 220; }, 10000)) << shownFrame();

    // Several steps go at once, and choosing the movie again replays what is kept.
    ASSERT_TRUE(select(0, 5));
    c.deleteSelectedTimeRange();
    ASSERT_TRUE(waitEdited(45, 0));
    EXPECT_EQ(movie->userSettings()->value(QStringLiteral("Editing Steps")).array()->count(), 2);
    c.undoEditing();
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && player() && std::fabs(durationValue(player().get()) - 60) < 0.15; }, 15000));
}

TEST_F(EditingTest, SelectionStartAndEnd)
{
    PMMainController& c = mainController();
    const auto movie = record(longClip(), QStringLiteral("Long"));
    library({Value(folder(QStringLiteral("F"), {Value(movie)}))});
    ASSERT_TRUE(choose(Value(movie)));
    seek(20);
    c.setSelectionStart();
    EXPECT_NEAR(c.timeSliderSelection().first, 20, 0.05);
    EXPECT_NEAR(c.timeSliderSelection().second, 60, 0.15) << "without an end, the selection runs to the end";
    seek(30);
    c.setSelectionEnd();
    EXPECT_NEAR(c.timeSliderSelection().second, 30, 0.05);
    // An end before the start resets the start to 0.
    seek(10);
    c.setSelectionEnd();
    EXPECT_EQ(c.timeSliderSelection().first, 0);
    EXPECT_NEAR(c.timeSliderSelection().second, 10, 0.05);
    // A start after the end makes the end the duration.
    seek(40);
    c.setSelectionStart();
    EXPECT_NEAR(c.timeSliderSelection().second, 60, 0.15);
    c.clearSelection(nullptr);
    EXPECT_LE(c.timeSliderSelection().second, 0);
}

TEST_F(EditingTest, TheRotateButtonTurnsPicturesByDegreesAndMoviesByQuarters)
{
    PMMainController& c = mainController();
    const auto photo = photoRecord(QStringLiteral("Photo"));
    ASSERT_TRUE(photo);
    const auto movie = record(fx::fixtures().numbered(), QStringLiteral("Movie"));
    library({Value(folder(QStringLiteral("F"), {Value(photo), Value(movie)}))});
    ASSERT_TRUE(c.rotateButton);

    struct Case {
        Qt::KeyboardModifiers modifiers;
        int photoAngle, movieAngle;
    };
    for (const Case& k : QList<Case>{{Qt::NoModifier, 90, 90},
                                     {Qt::ControlModifier, 1, 90},
                                     {Qt::ControlModifier | Qt::ShiftModifier, 10, 90},
                                     {Qt::AltModifier, 270, 270},
                                     {Qt::AltModifier | Qt::ControlModifier, 359, 270}}) {
        for (const auto& item : {photo, movie}) {
            item->userSettings()->remove(QStringLiteral("Angle"));
            ASSERT_TRUE(c.chooseMovieRepresentation(Value(item), false, false, false, false));
            ASSERT_TRUE(waitUntil([&] { return c._currentMovieHasVideo; }, 15000));
            c.rotateWithModifiers(c.rotateButton.data(), k.modifiers);
            EXPECT_EQ(item->angle(), item == photo ? k.photoAngle : k.movieAngle) << int(k.modifiers);
        }
    }
    // The movie view follows the record at once.
    EXPECT_EQ(c.playerViewContent().angle, movie->angle());

    // A click on the button turns once.
    movie->userSettings()->remove(QStringLiteral("Angle"));
    c._keyboardModifiersOverride = [] { return Qt::KeyboardModifiers(); };
    QTest::mouseClick(c.rotateButton.data(), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return movie->angle() != 0; }));
    QTest::qWait(50);
    EXPECT_EQ(movie->angle(), 90);
}

TEST_F(EditingTest, DraggingTheRotateButtonPreviewsAndThenTurns)
{
    PMMainController& c = mainController();
    const auto photo = photoRecord(QStringLiteral("Drag"));
    ASSERT_TRUE(photo);
    library({Value(folder(QStringLiteral("F"), {Value(photo)}))});
    ASSERT_TRUE(c.chooseMovieRepresentation(Value(photo), false, false, false, false));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieHasVideo; }, 15000));
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    setDefault(QStringLiteral("Rotate By Dragging"), false);
    EXPECT_FALSE(c.processDragEvent(nullptr, {}, c.rotateButton.data(), {})) << "the setting is off";
    setDefault(QStringLiteral("Rotate By Dragging"), true);
    EXPECT_TRUE(c.processDragEvent(nullptr, {}, c.rotateButton.data(), {}));
    QMouseEvent drag(QEvent::MouseMove, QPointF(), QPointF(), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(c.processDragEvent(&drag, {-60, 80}, c.rotateButton.data(), {}));
    EXPECT_EQ(view->rotationPreviewAngle().value_or(0), 50);
    setDefault(QStringLiteral("Rotate By Dragging: Directional"), true);
    EXPECT_TRUE(c.processDragEvent(&drag, {-60, 80}, c.rotateButton.data(), {}));
    EXPECT_EQ(view->rotationPreviewAngle().value_or(0), -50) << "a leftward drag turns the other way";
    c.endRotationPreview();
    EXPECT_FALSE(view->rotationPreviewAngle().has_value());
    EXPECT_EQ(photo->angle(), 310);
    EXPECT_EQ(c._rotateButtonTag, 0);
    EXPECT_FALSE(c.processDragEvent(&drag, {10, 0}, nullptr, {})) << "only the rotate button turns";

    // A drag that comes back to where it began turns nothing, and the preview still ends
    // when the button is let go.
    EXPECT_TRUE(c.processDragEvent(&drag, {-60, 80}, c.rotateButton.data(), {}));
    EXPECT_TRUE(c.processDragEvent(&drag, {0, 0}, c.rotateButton.data(), {}));
    EXPECT_EQ(view->rotationPreviewAngle().value_or(-1), 0);
    QTest::mouseRelease(c.rotateButton.data(), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !view->rotationPreviewAngle().has_value(); }));
    EXPECT_EQ(photo->angle(), 310);
}

// "Open Images In Presentation Mode": a still image opens presenting (Alt while choosing
// turns the setting round for that one), and leaving the presentation closes it. Either
// way the scale menu is brought up to date.
TEST_F(EditingTest, ImagesOpenInPresentationWhenAskedAndCloseWithIt)
{
    PMMainController& c = mainController();
    const auto photo = photoRecord(QStringLiteral("Shown"));
    ASSERT_TRUE(photo);
    const auto movie = record(fx::fixtures().numbered(), QStringLiteral("Movie"));
    library({Value(folder(QStringLiteral("F"), {Value(photo), Value(movie)}))});
    const struct {
        bool setting;
        Qt::KeyboardModifiers modifiers;
        bool presents, closesWithThePresentation;
    } cases[] = {
        {false, {}, false, false},
        {true, {}, true, true},
        {true, Qt::AltModifier, false, false},
        {false, Qt::AltModifier, true, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.setting << " " << int(k.modifiers));
        setDefault(QStringLiteral("Open Images In Presentation Mode"), k.setting);
        c._keyboardModifiersOverride = [m = k.modifiers] { return m; };
        ASSERT_TRUE(c.chooseMovieRepresentation(Value(photo), false, false, false, false));
        ASSERT_TRUE(waitUntil([&] { return c._currentMovieHasVideo; }, 15000));
        EXPECT_EQ(c._isPresenting, k.presents);
        if (c._isPresenting) {
            c._currentScaleTitle.clear();
            c.togglePresentation();
            EXPECT_FALSE(c._isPresenting);
            EXPECT_FALSE(c._currentScaleTitle.isEmpty()) << "the scale menu follows";
            EXPECT_EQ(c._currentMovieRepresentation.isNull(), k.closesWithThePresentation);
        }
        c.chooseNoMovie();
    }
    // A movie is never presented for being opened.
    setDefault(QStringLiteral("Open Images In Presentation Mode"), true);
    c._keyboardModifiersOverride = [] { return Qt::KeyboardModifiers(); };
    ASSERT_TRUE(c.chooseMovieRepresentation(Value(movie), false, false, false, false));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable; }, 15000));
    EXPECT_FALSE(c._isPresenting);
    c.chooseNoMovie();
    setDefault(QStringLiteral("Open Images In Presentation Mode"), false);
}

TEST_F(EditingTest, FlippingSeveralItemsChangesOnlyThoseThatDiffer)
{
    PMMainController& c = mainController();
    QList<PMMovieRepresentationOriginalPtr> photos;
    for (int i = 0; i < 3; ++i) {
        photos << photoRecord(QStringLiteral("Flip %1").arg(i));
        ASSERT_TRUE(photos.last());
    }
    const auto movie = record(fx::fixtures().numbered(), QStringLiteral("Movie"));
    library({Value(folder(QStringLiteral("F"), {Value(photos[0]), Value(photos[1]), Value(photos[2]), Value(movie)}))});
    photos[1]->setFlippedHorizontally(true);
    const platform::ArrayPtr items = Array::make();
    for (const auto& p : photos)
        items->append(Value(p));

    qsizetype flipped = -1;
    EXPECT_TRUE(c.canFlipOrRotateMovieRepresentations(items, &flipped));
    EXPECT_EQ(flipped, 1);
    QAction item;
    item.setCheckable(true);
    platform::setMenuItemRepresentedObject(&item, Value(items));
    platform::setMenuItemMixedState(&item, true);
    c.flip(&item);
    for (const auto& p : photos)
        EXPECT_TRUE(p->isFlippedHorizontally());
    item.setChecked(true);
    platform::setMenuItemMixedState(&item, false);
    c.flip(&item);
    for (const auto& p : photos)
        EXPECT_FALSE(p->isFlippedHorizontally()) << "an item that is on turns mirroring off";

    // A movie that is not playing qualifies only with "Rotate Anything Via Context Menu".
    items->append(Value(movie));
    EXPECT_FALSE(c.canFlipOrRotateMovieRepresentations(items, &flipped));
    EXPECT_EQ(flipped, 0);
    setDefault(QStringLiteral("Rotate Anything Via Context Menu"), true);
    EXPECT_TRUE(c.canFlipOrRotateMovieRepresentations(items, &flipped));
    EXPECT_FALSE(c.canFlipOrRotateMovieRepresentations(Array::make(), &flipped));
}

TEST_F(EditingTest, TheMarkerTable)
{
    PMMainController& c = mainController();
    const auto tagged = record(fx::fixtures().tagged(), QStringLiteral("Tagged"));
    library({Value(folder(QStringLiteral("F"), {Value(tagged)}))});
    const auto setTag = [&](const QString& value) {
        tagged->setValue(value, QStringLiteral("Scenes"));
        c._currentMovieMarkersByTimestampValue.reset();
    };

    // Tag marks of any item, by whole second.
    setTag(QStringLiteral("1:02:03 (Intro), 5:00, 12:3, 12:345, 9:00:00x, 1:00 (Two) and 0:01 ( Early )"));
    auto table = c.markersByTimeStampValueForMovieRepresentation(Value(tagged));
    ASSERT_TRUE(table);
    QMap<qint64, QString> titles;
    for (const auto& [seconds, marker] : *table)
        titles.insert(seconds, marker->value(QStringLiteral("Title")).string());
    const QMap<qint64, QString> expected = {
        {3723, QStringLiteral("Intro")}, {300, QStringLiteral("Scenes")}, {60, QStringLiteral("Two")}, {1, QStringLiteral("Early")}, {32400, QStringLiteral("Scenes")}};
    EXPECT_EQ(titles, expected) << "12:3 and 12:345 give none";

    // The current movie adds its chapters (0 s "Opening", 1.5 s "Ending"); a tag mark at
    // the same second replaces the chapter.
    setTag(QStringLiteral("0:01 (Mine)"));
    ASSERT_TRUE(choose(Value(tagged)));
    c._currentMovieMarkersByTimestampValue.reset();
    table = c.markersByTimeStampValueForMovieRepresentation(Value(tagged));
    ASSERT_EQ(table->size(), 2u);
    EXPECT_EQ(table->at(0)->value(QStringLiteral("Title")).string(), QStringLiteral("Opening"));
    EXPECT_TRUE(table->at(0)->contains(QStringLiteral("Group")));
    EXPECT_EQ(table->at(1)->value(QStringLiteral("Title")).string(), QStringLiteral("Mine"));
    EXPECT_FALSE(table->at(1)->contains(QStringLiteral("Group")));
    EXPECT_EQ(c.markersByTimeStampValueForMovieRepresentation(Value(tagged)), table) << "the current movie's table is kept";

    // The menu and the button: two items per marker, titled "Chapters" with chapters.
    bool hasChapters = false;
    std::unique_ptr<QMenu> menu(c.populateChaptersMenu(nullptr, Value(tagged), &hasChapters));
    ASSERT_TRUE(menu);
    EXPECT_TRUE(hasChapters);
    EXPECT_EQ(menu->actions().size(), 4);
    EXPECT_TRUE(waitUntil([&] { return c.chaptersButton && c.chaptersButton->isEnabled(); }));
    EXPECT_EQ(c.chaptersButton->toolTip(), QStringLiteral("Chapters"));

    // After a trim the source's chapters are gone; the tag mark stays.
    seek(0.5);
    c.setTimeSliderSelection(0.5, 2.5);
    c.trimToTimeRange();
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && std::fabs(durationValue(player().get()) - 2) < 0.15; }, 15000));
    table = c.markersByTimeStampValueForMovieRepresentation(Value(tagged));
    ASSERT_EQ(table->size(), 1u);
    EXPECT_EQ(table->begin()->second->value(QStringLiteral("Title")).string(), QStringLiteral("Mine"));
    EXPECT_TRUE(waitUntil([&] { return c.chaptersButton->toolTip() == QStringLiteral("Markers"); }));
}

class CropTest : public EditingTest {
protected:
    void SetUp() override
    {
        EditingTest::SetUp();
        setDefault(QStringLiteral("Select Area: Mode"), 1);
        m_movie = record(fx::fixtures().numbered(), QStringLiteral("Crop"));
        library({Value(folder(QStringLiteral("F"), {Value(m_movie)}))});
        PMMainController& c = mainController();
        ASSERT_TRUE(choose(Value(m_movie)));
        auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
        ASSERT_TRUE(view);
        ASSERT_TRUE(waitUntil([&] { return view->isVisible() && !view->currentGeometry().destination.isEmpty(); }, 10000));
    }
    // Runs the crop command with the script's events (in the overlay's coordinates,
    // relative to the picture's bottom left corner).
    void crop(const QList<Step>& steps)
    {
        PMMainController& c = mainController();
        auto script = std::make_shared<Script>();
        script->steps = steps;
        bool attached = false;
        c._selectAreaEventSource = [script, attached](PMSelectAreaSession& s) mutable {
            if (!attached) {
                const QPointF origin = s.containerFrame.topLeft();
                for (Step& step : script->steps)
                    step.at += origin;
                script->attach(s);
                attached = true;
            }
            return s.nextEvent();
        };
        c.cropMovie(nullptr);
        c._selectAreaEventSource = nullptr;
    }
    DictionaryPtr visibleArea() const { return m_movie->userSettings()->value(QStringLiteral("Visible Area")).dictionary(); }
    PMMovieRepresentationOriginalPtr m_movie;
};

TEST_F(CropTest, CropRecropCancelAndUncrop)
{
    PMMainController& c = mainController();
    // Draw the left half (the picture is 2:1) and accept.
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    const QSizeF size = view->currentGeometry().destination.size();
    const double W = std::round(size.width()), H = std::round(size.height());
    crop({down(0, H), up(W / 2 - 1, 1), key(kReturn)});
    DictionaryPtr a = visibleArea();
    ASSERT_TRUE(a);
    EXPECT_NEAR(a->value(QStringLiteral("x")).toDouble(), 0, 0.02);
    EXPECT_NEAR(a->value(QStringLiteral("w")).toDouble(), 0.5, 0.02);
    EXPECT_NEAR(a->value(QStringLiteral("h")).toDouble(), 1.0, 0.02);
    EXPECT_FALSE(a->contains(QStringLiteral("s")));
    EXPECT_TRUE(c.playerViewContent().visibleArea) << "the view shows the crop";

    // A cancelled re-crop keeps the crop.
    crop({key(kEscape)});
    ASSERT_TRUE(visibleArea());
    EXPECT_NEAR(visibleArea()->value(QStringLiteral("w")).toDouble(), 0.5, 0.02);
    EXPECT_TRUE(c.playerViewContent().visibleArea);

    // A re-crop starts from the crop: Return keeps it as it is.
    crop({key(kReturn)});
    ASSERT_TRUE(visibleArea());
    EXPECT_NEAR(visibleArea()->value(QStringLiteral("w")).toDouble(), 0.5, 0.02);

    // Mode 0: the command uncrops without asking.
    setDefault(QStringLiteral("Select Area: Mode"), 0);
    c._selectAreaEventSource = [](PMSelectAreaSession&) -> PMSelectAreaEvent {
        ADD_FAILURE() << "no selection in mode 0 with a crop";
        return {};
    };
    c.cropMovie(nullptr);
    c._selectAreaEventSource = nullptr;
    EXPECT_FALSE(visibleArea());
    EXPECT_FALSE(c.playerViewContent().visibleArea);

    // Shift reuses the last crop rectangle; Command stores "use exactly".
    setDefault(QStringLiteral("Select Area: Mode"), 1);
    c._keyboardModifiersOverride = [] { return Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier); };
    c.cropMovie(nullptr);
    c._keyboardModifiersOverride = nullptr;
    ASSERT_TRUE(visibleArea());
    EXPECT_NEAR(visibleArea()->value(QStringLiteral("w")).toDouble(), 0.5, 0.02);
    EXPECT_TRUE(visibleArea()->value(QStringLiteral("s")).toBool());
}

// A selection off the middle in both directions keeps its place: the top left quarter is
// stored at the top (the stored area's origin is at the bottom left) and shown as the top.
TEST_F(CropTest, AQuarterIsCroppedWhereItWasChosen)
{
    PMMainController& c = mainController();
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    struct Case {
        const char* name;
        bool right, top;
    };
    for (const Case& k : {Case{"top left", false, true}, Case{"bottom right", true, false}, Case{"top right", true, true}}) {
        SCOPED_TRACE(k.name);
        if (visibleArea()) {
            // Uncropped first, so that the next drag chooses from the whole picture.
            setDefault(QStringLiteral("Select Area: Mode"), 0);
            c.cropMovie(nullptr);
            setDefault(QStringLiteral("Select Area: Mode"), 1);
            ASSERT_FALSE(visibleArea());
        }
        ASSERT_TRUE(waitUntil([&] { return !view->currentGeometry().destination.isEmpty(); }, 10000));
        const QSizeF size = view->currentGeometry().destination.size();
        const double W = std::round(size.width()), H = std::round(size.height());
        const double x0 = k.right ? W / 2 + 1 : 0, x1 = k.right ? W : W / 2 - 1;
        const double y0 = k.top ? H / 2 + 1 : 0, y1 = k.top ? H : H / 2 - 1;
        crop({down(x0, y1), up(x1, y0), key(kReturn)});
        const DictionaryPtr a = visibleArea();
        ASSERT_TRUE(a);
        EXPECT_NEAR(a->value(QStringLiteral("x")).toDouble(), k.right ? 0.5 : 0, 0.02);
        EXPECT_NEAR(a->value(QStringLiteral("y")).toDouble(), k.top ? 0.5 : 0, 0.02);
        EXPECT_NEAR(a->value(QStringLiteral("w")).toDouble(), 0.5, 0.02);
        EXPECT_NEAR(a->value(QStringLiteral("h")).toDouble(), 0.5, 0.02);
        // The view shows that part of the picture (its rectangle counts from the top left).
        ASSERT_TRUE(waitUntil([&] { return !view->currentGeometry().visibleRect.isEmpty(); }, 10000));
        const PMMoviePictureGeometry g = view->currentGeometry();
        EXPECT_NEAR(g.visibleRect.x() / g.turnedSize.width(), k.right ? 0.5 : 0, 0.02);
        EXPECT_NEAR(g.visibleRect.y() / g.turnedSize.height(), k.top ? 0 : 0.5, 0.02);
    }
}

TEST_F(CropTest, ACropIsSavedSoon)
{
    PMMainController& c = mainController();
    const QString folder = testsupport::makeTempDir(QStringLiteral("crop-library"));
    setDefault(QStringLiteral("Library Path"), folder);
    c._libraryIsLoaded = true; // the library of the fixture, as if read from there
    const int before = c._numberOfLibrarySaves;
    auto* view = qobject_cast<PMMovieView*>(c.playerView.data());
    const QSizeF size = view->currentGeometry().destination.size();
    crop({down(10, size.height() - 10), up(size.width() / 2, 10), key(kReturn)});
    ASSERT_TRUE(visibleArea());
    ASSERT_TRUE(waitUntil([&] { return c._numberOfLibrarySaves > before; }, 30000)) << "saved after the save delay";
    const QString index = folder + QStringLiteral("/Pellis.library/Pellis.2.libraryindex");
    QFile file(index);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << index.toStdString();
    EXPECT_TRUE(file.readAll().contains("Visible Area"));
}

TEST_F(CropTest, CustomAspectRatio)
{
    PMMainController& c = mainController();
    EXPECT_FALSE(c.setCustomAspectRatioEnabled(false, Value())) << "nothing to clear";
    ASSERT_TRUE(c.setCustomAspectRatioEnabled(true, Value(0.75)));
    EXPECT_EQ(m_movie->userSettings()->value(QStringLiteral("Aspect Ratio")).toDouble(), 0.75);
    EXPECT_EQ(c.playerViewContent().aspectRatio.value_or(0), 0.75);
    EXPECT_TRUE(c.isAspectRatioLocked());
    ASSERT_TRUE(c.setCustomAspectRatioEnabled(false, Value()));
    EXPECT_FALSE(m_movie->userSettings()->contains(QStringLiteral("Aspect Ratio")));
    EXPECT_FALSE(c.playerViewContent().aspectRatio.has_value());
}

} // namespace

TEST_F(EditingTest, AnEditLeavingNoPictureIsRefusedAndTheMovieKept)
{
    // A transport stream whose clock starts 11.4 s in, with one key frame at its start, as
    // camcorders and recorders write them: a short piece of its middle has no picture.
    const QString path = fx::fixtures().dir() + QStringLiteral("/one-key.ts");
    if (!QFile::exists(path)) {
        ASSERT_TRUE(fx::makeNumberedClip(path, 60, 0,
                                         {QStringLiteral("-x264-params"), QStringLiteral("keyint=1000:min-keyint=1000:scenecut=0"), QStringLiteral("-output_ts_offset"),
                                          QStringLiteral("10"), QStringLiteral("-f"), QStringLiteral("mpegts")}));
    }
    PMMainController& c = mainController();
    QStringList alerts;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        alerts << alert.messageText;
        return platform::AlertResponse{0, false};
    });
    const auto movie = record(path, QStringLiteral("Camcorder"));
    library({Value(folder(QStringLiteral("F"), {Value(movie)}))});
    ASSERT_TRUE(choose(Value(movie)));
    // Two seconds of its middle: refused with a message, and the movie stays as it was.
    ASSERT_TRUE(select(3, 5));
    c.trimToTimeRange();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0], QStringLiteral("The movie cannot be trimmed to the selection."));
    EXPECT_FALSE(movie->userSettings()->contains(QStringLiteral("Editing Steps")));
    ASSERT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && player() && shownFrame() >= 0; }, 10000));
    EXPECT_NEAR(durationValue(player().get()), 6, 0.15);

    // A stream with a key frame every 1.2 s: a piece of 1.5 s holding one plays as edited.
    const auto keyed = record(fx::fixtures().transportStream(), QStringLiteral("Recorder"));
    library({Value(folder(QStringLiteral("G"), {Value(keyed)}))});
    ASSERT_TRUE(choose(Value(keyed)));
    ASSERT_TRUE(select(1.0, 2.5));
    c.trimToTimeRange();
    // (Its picture starts at that key frame, 0.2 s in.)
    EXPECT_TRUE(waitUntil([&] { return c._currentMovieIsPlayable && player() && std::fabs(durationValue(player().get()) - 1.5) < 0.15 && shownFrame() >= 0; }, 15000));
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_TRUE(keyed->userSettings()->contains(QStringLiteral("Editing Steps")));
}
