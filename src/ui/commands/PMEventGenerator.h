// Synthetic keyboard, mouse and application-defined events, posted to the program's own
// widgets (never to other programs) so that the program can act as if the user had
// pressed a key or clicked somewhere. Posting never waits: the events go to the end of
// the event queue and are delivered in order. Main thread only.
#pragma once

#include <QtCore/QEvent>
#include <QtCore/QPointF>
#include <QtCore/QString>

#include <memory>
#include <optional>

class QKeyEvent;
class QMouseEvent;
class QWidget;

// An application-defined event: a subtype (a signed 16-bit number) and two data words.
class PMApplicationDefinedEvent : public QEvent {
public:
    static QEvent::Type eventType();
    PMApplicationDefinedEvent(qint16 subtype, QWidget* window);
    qint16 subtype() const { return m_subtype; }
    QWidget* window() const { return m_window; }
    long long data1 = 0;
    long long data2 = 0;

private:
    qint16 m_subtype;
    QWidget* m_window;
};

class PMEventGenerator {
public:
    PMEventGenerator() = delete;

    // The current event time (milliseconds, the clock input events are stamped with).
    static std::optional<quint64> generatedEvent();

    // A key event of the type (KeyPress or KeyRelease) for the window's focus widget: the
    // text, the key, the modifiers, the current event time, not a repeat. Nil without a
    // window.
    static std::unique_ptr<QKeyEvent> createKeyboardEventWithType(QEvent::Type type, const QString& characters, int keyCode,
                                                                  Qt::KeyboardModifiers modifierFlags, QWidget* window);
    static bool generateKeyboardEventWithType(QEvent::Type type, const QString& characters, int keyCode, Qt::KeyboardModifiers modifierFlags,
                                              QWidget* window);
    // Key down, then (only when that was posted) key up.
    static bool generateKeystrokeWithCharacters(const QString& characters, int keyCode, Qt::KeyboardModifiers modifierFlags, QWidget* window);
    // Escape in the view's window.
    static bool generateEscapeForView(QWidget* view);

    // A mouse event of the type at the location in the window's coordinates, for the
    // widget under it; the button is the left one. Nil without a window.
    static std::unique_ptr<QMouseEvent> createMouseEventWithType(QEvent::Type type, QPointF location, Qt::KeyboardModifiers modifierFlags,
                                                                 QWidget* window, int clickCount);
    static std::unique_ptr<QMouseEvent> createMouseEventWithType(QEvent::Type type, QPointF location, QWidget* window);
    static bool generateMouseEventWithType(QEvent::Type type, QPointF location, QWidget* window);
    static bool generateLeftMouseDownAtLocation(QPointF location, QWidget* inWindow);
    static bool generateLeftMouseUpAtLocation(QPointF location, QWidget* inWindow);
    // Down, then (only when that was posted) up at the same place.
    static bool generateLeftMouseClickAtLocation(QPointF location, QWidget* inWindow);
    // The same with a location in the view's coordinates.
    static bool generateLeftMouseDownAtLocationInView(QPointF location, QWidget* inView);
    static bool generateLeftMouseUpAtLocationInView(QPointF location, QWidget* inView);
    static bool generateLeftMouseClickAtLocationInView(QPointF location, QWidget* inView);
    // At the view's origin.
    static bool generateLeftMouseDownOnView(QWidget* view);
    static bool generateLeftMouseUpOnView(QWidget* view);
    static bool generateLeftMouseClickOnView(QWidget* view);

    // An application-defined event with the type as its subtype (taken as a signed 16-bit
    // number); posted to the window, or to the application without one.
    static std::unique_ptr<PMApplicationDefinedEvent> createApplicationEventWithType(int type, QWidget* window);
    static bool generateApplicationEventWithType(int type, QWidget* window);
};
