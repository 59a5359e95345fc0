#include "platform/Cursor.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QCursor>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>

namespace platform {

namespace {

// Pushes one blank override cursor and watches the application's events for the first
// move of the mouse. Only the cursor pushed here is ever popped, once: the override stack
// is shared with whoever else sets one (a drag, a busy pointer).
class HiddenCursor : public QObject {
public:
    void hide()
    {
        if (m_hidden || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return;
        if (m_popPending) {
            // Ours never came back on top since: it hides again as it is.
            m_hidden = true;
            m_popPending = false;
            m_position = QCursor::pos();
            return;
        }
        m_hidden = true;
        m_position = QCursor::pos();
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
        QCoreApplication::instance()->installEventFilter(this);
    }

    void unhide()
    {
        if (!m_hidden)
            return;
        m_hidden = false;
        m_popPending = true;
        popWhenOnTop();
    }

    bool hidden() const { return m_hidden; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove) {
            // Windows appearing under a still pointer send moves of their own: only a
            // real change of place counts.
            const auto* move = static_cast<QMouseEvent*>(event);
            if (m_hidden && move->globalPosition().toPoint() != m_position)
                unhide();
            else if (m_popPending)
                popWhenOnTop();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Ours is the blank one on top. A cursor someone set after it is theirs to take away:
    // ours goes when it is on top again (looked at on the next moves), never theirs.
    void popWhenOnTop()
    {
        const QCursor* top = QGuiApplication::overrideCursor();
        if (top && top->shape() != Qt::BlankCursor)
            return;
        if (top)
            QGuiApplication::restoreOverrideCursor();
        m_popPending = false;
        if (QCoreApplication* application = QCoreApplication::instance())
            application->removeEventFilter(this);
    }

private:
    bool m_hidden = false;
    bool m_popPending = false;
    QPoint m_position;
};

HiddenCursor& hiddenCursor()
{
    static HiddenCursor* cursor = new HiddenCursor; // lives as long as the process
    return *cursor;
}

} // namespace

void hideCursorUntilMouseMoves()
{
    hiddenCursor().hide();
}

void unhideCursorHiddenUntilMouseMoves()
{
    hiddenCursor().unhide();
}

bool isCursorHiddenUntilMouseMoves()
{
    return hiddenCursor().hidden();
}

} // namespace platform
