// The pointer hidden until the mouse moves: it comes back on a real move or when asked,
// once, and never takes away a cursor someone else set.
#include "platform/Cursor.h"

#include <gtest/gtest.h>

#include <QtGui/QCursor>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

using namespace platform;

namespace {

// A move of the mouse over a window of the program, as the window system delivers it.
void moveMouse(QWidget& widget, QPoint global)
{
    const QPointF local = widget.mapFromGlobal(global);
    QMouseEvent move(QEvent::MouseMove, local, local, QPointF(global), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &move);
}

int overrideDepth()
{
    int depth = 0;
    while (QGuiApplication::overrideCursor()) {
        QGuiApplication::restoreOverrideCursor();
        ++depth;
    }
    return depth;
}

Qt::CursorShape topShape()
{
    return QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor;
}

} // namespace

TEST(Cursor, HiddenUntilTheMouseMovesAndNeverTakesAnotherCursor)
{
    QWidget window;
    window.resize(200, 200);
    const QPoint still = QCursor::pos();
    const QPoint elsewhere = still + QPoint(40, 30);

    // Hidden; a move event at the same place (a window appearing under the pointer) keeps
    // it hidden, a real move brings it back; asked twice, it hides once.
    hideCursorUntilMouseMoves();
    hideCursorUntilMouseMoves();
    EXPECT_TRUE(isCursorHiddenUntilMouseMoves());
    EXPECT_EQ(topShape(), Qt::BlankCursor);
    moveMouse(window, still);
    EXPECT_TRUE(isCursorHiddenUntilMouseMoves());
    moveMouse(window, elsewhere);
    EXPECT_FALSE(isCursorHiddenUntilMouseMoves());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // Showing it again when it already shows takes nothing away.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    unhideCursorHiddenUntilMouseMoves();
    EXPECT_EQ(topShape(), Qt::WaitCursor);
    EXPECT_EQ(overrideDepth(), 1);

    // Asked to show: back at once, and only ours goes.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    hideCursorUntilMouseMoves();
    unhideCursorHiddenUntilMouseMoves();
    EXPECT_EQ(topShape(), Qt::WaitCursor);
    EXPECT_EQ(overrideDepth(), 1);

    // A cursor set after ours stays while it is set; ours goes once it is on top again.
    hideCursorUntilMouseMoves();
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    moveMouse(window, QCursor::pos() + QPoint(5, 5));
    EXPECT_FALSE(isCursorHiddenUntilMouseMoves());
    EXPECT_EQ(topShape(), Qt::CrossCursor);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(topShape(), Qt::BlankCursor) << "until the next move";
    moveMouse(window, QCursor::pos() + QPoint(9, 9));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
