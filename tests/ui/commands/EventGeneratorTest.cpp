// Synthetic events: what a click and a keystroke post, in which order, and where.
#include "common/TestSupport.h"
#include "FocusSupport.h"

#include "ui/commands/PMEventGenerator.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QWidget>

#include <gtest/gtest.h>

namespace {

struct Recorder : QObject {
    struct Seen {
        QEvent::Type type;
        QPointF windowPosition;
        QPointF localPosition;
        int key = 0;
    };
    QList<Seen> seen;
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            seen.append({event->type(), mouse->scenePosition(), mouse->position()});
            break;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            seen.append({event->type(), {}, {}, static_cast<QKeyEvent*>(event)->key()});
            break;
        default:
            if (event->type() == PMApplicationDefinedEvent::eventType())
                seen.append({event->type(), {}, {}, static_cast<PMApplicationDefinedEvent*>(event)->subtype()});
            break;
        }
        return false;
    }
};

} // namespace

TEST(EventGenerator, AClickOnAViewPostsDownThenUpAtOnePlace)
{
    QWidget window;
    window.resize(300, 200);
    auto* view = new QWidget(&window);
    view->setGeometry(40, 30, 100, 50);
    window.show();
    Recorder recorder;
    view->installEventFilter(&recorder);

    ASSERT_TRUE(PMEventGenerator::generateLeftMouseClickOnView(view));
    // Posted, not sent: nothing arrives before the event loop runs.
    EXPECT_TRUE(recorder.seen.isEmpty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.seen.size() >= 2; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.seen.size(), 2);
    EXPECT_EQ(recorder.seen[0].type, QEvent::MouseButtonPress);
    EXPECT_EQ(recorder.seen[1].type, QEvent::MouseButtonRelease);
    for (const auto& e : recorder.seen) {
        EXPECT_EQ(e.windowPosition, QPointF(40, 30));
        EXPECT_EQ(e.localPosition, QPointF(0, 0));
    }
    // A click count of 2 makes the press a double click.
    const std::unique_ptr<QMouseEvent> second =
        PMEventGenerator::createMouseEventWithType(QEvent::MouseButtonPress, QPointF(50, 40), Qt::NoModifier, &window, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->type(), QEvent::MouseButtonDblClick);
    EXPECT_EQ(PMEventGenerator::createMouseEventWithType(QEvent::MouseButtonPress, QPointF(), nullptr), nullptr);
}

TEST(EventGenerator, KeystrokesGoToTheFocusWidgetOfTheWindow)
{
    QWidget window;
    auto* field = new QLineEdit(&window);
    ASSERT_TRUE(testsupport::giveKeysTo(field));
    Recorder recorder;
    field->installEventFilter(&recorder);
    ASSERT_TRUE(PMEventGenerator::generateKeystrokeWithCharacters(QStringLiteral("x"), Qt::Key_X, Qt::NoModifier, &window));
    ASSERT_TRUE(PMEventGenerator::generateEscapeForView(field));
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.seen.size() >= 4; }));
    EXPECT_EQ(field->text(), QStringLiteral("x"));
    EXPECT_EQ(recorder.seen[0].type, QEvent::KeyPress);
    EXPECT_EQ(recorder.seen[1].type, QEvent::KeyRelease);
    EXPECT_EQ(recorder.seen[2].key, int(Qt::Key_Escape));
    EXPECT_FALSE(PMEventGenerator::generateKeystrokeWithCharacters(QStringLiteral("x"), Qt::Key_X, Qt::NoModifier, nullptr));
}

TEST(EventGenerator, ApplicationEventsKeepTheirSubtypeAsASigned16BitNumber)
{
    const struct {
        int type;
        int subtype;
    } cases[] = {{0, 0}, {0x7FFF, 32767}, {0x8000, -32768}, {-1, -1}, {0x12345, 0x2345}};
    for (const auto& testCase : cases) {
        const auto event = PMEventGenerator::createApplicationEventWithType(testCase.type, nullptr);
        EXPECT_EQ(event->subtype(), testCase.subtype) << testCase.type;
        EXPECT_EQ(event->data1, 0);
        EXPECT_EQ(event->data2, 0);
    }
    QWidget window;
    Recorder recorder;
    window.installEventFilter(&recorder);
    ASSERT_TRUE(PMEventGenerator::generateApplicationEventWithType(0x8000, &window));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !recorder.seen.isEmpty(); }));
    EXPECT_EQ(recorder.seen[0].key, -32768);
}
