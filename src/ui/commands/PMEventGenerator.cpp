#include "ui/commands/PMEventGenerator.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPointingDevice>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

namespace {

// The widget a mouse event at the window location lands on, and the location in it.
QWidget* mouseTarget(QWidget* window, QPointF location, QPointF* local)
{
    QWidget* target = window->childAt(location.toPoint());
    if (!target)
        target = window;
    *local = target == window ? location : QPointF(target->mapFrom(window, location.toPoint())) + (location - location.toPoint());
    return target;
}

QWidget* keyTarget(QWidget* window)
{
    QWidget* focus = window->focusWidget();
    return focus ? focus : window;
}

// Posted events stay ours: a posted event remembers where it goes.
struct PostedMouseEvent {
    QWidget* target;
    std::unique_ptr<QMouseEvent> event;
};

PostedMouseEvent mouseEventFor(QEvent::Type type, QPointF location, Qt::KeyboardModifiers modifiers, QWidget* window, int clickCount)
{
    if (!window || !window->isWindow())
        window = window ? window->window() : nullptr;
    if (!window)
        return {nullptr, nullptr};
    QPointF local;
    QWidget* target = mouseTarget(window, location, &local);
    const QPointF global = QPointF(window->mapToGlobal(location.toPoint())) + (location - location.toPoint());
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    // A second click of a double click arrives as a double-click press.
    if (press && clickCount >= 2)
        type = QEvent::MouseButtonDblClick;
    auto event = std::make_unique<QMouseEvent>(type, local, location, global, Qt::LeftButton, press ? Qt::LeftButton : Qt::NoButton, modifiers,
                                               QPointingDevice::primaryPointingDevice());
    if (const std::optional<quint64> time = PMEventGenerator::generatedEvent())
        event->setTimestamp(*time);
    return {target, std::move(event)};
}

bool post(QObject* target, QEvent* event)
{
    if (!target || !event)
        return false;
    QCoreApplication::postEvent(target, event);
    return true;
}

} // namespace

QEvent::Type PMApplicationDefinedEvent::eventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

PMApplicationDefinedEvent::PMApplicationDefinedEvent(qint16 subtype, QWidget* window)
    : QEvent(eventType()), m_subtype(subtype), m_window(window)
{
}

std::optional<quint64> PMEventGenerator::generatedEvent()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return quint64(clock.elapsed());
}

std::unique_ptr<QKeyEvent> PMEventGenerator::createKeyboardEventWithType(QEvent::Type type, const QString& characters, int keyCode,
                                                                        Qt::KeyboardModifiers modifierFlags, QWidget* window)
{
    if (!window || (type != QEvent::KeyPress && type != QEvent::KeyRelease))
        return nullptr;
    const std::optional<quint64> time = generatedEvent();
    if (!time)
        return nullptr;
    auto event = std::make_unique<QKeyEvent>(type, keyCode, modifierFlags, characters, false, ushort(1));
    event->setTimestamp(*time);
    return event;
}

bool PMEventGenerator::generateKeyboardEventWithType(QEvent::Type type, const QString& characters, int keyCode, Qt::KeyboardModifiers modifierFlags,
                                                     QWidget* window)
{
    std::unique_ptr<QKeyEvent> event = createKeyboardEventWithType(type, characters, keyCode, modifierFlags, window);
    return event && post(keyTarget(window->window()), event.release());
}

bool PMEventGenerator::generateKeystrokeWithCharacters(const QString& characters, int keyCode, Qt::KeyboardModifiers modifierFlags, QWidget* window)
{
    return generateKeyboardEventWithType(QEvent::KeyPress, characters, keyCode, modifierFlags, window)
        && generateKeyboardEventWithType(QEvent::KeyRelease, characters, keyCode, modifierFlags, window);
}

bool PMEventGenerator::generateEscapeForView(QWidget* view)
{
    return view && generateKeystrokeWithCharacters(QString(QChar(0x1B)), Qt::Key_Escape, Qt::NoModifier, view->window());
}

std::unique_ptr<QMouseEvent> PMEventGenerator::createMouseEventWithType(QEvent::Type type, QPointF location, Qt::KeyboardModifiers modifierFlags,
                                                                       QWidget* window, int clickCount)
{
    return mouseEventFor(type, location, modifierFlags, window, clickCount).event;
}

std::unique_ptr<QMouseEvent> PMEventGenerator::createMouseEventWithType(QEvent::Type type, QPointF location, QWidget* window)
{
    return createMouseEventWithType(type, location, Qt::NoModifier, window, 1);
}

bool PMEventGenerator::generateMouseEventWithType(QEvent::Type type, QPointF location, QWidget* window)
{
    PostedMouseEvent made = mouseEventFor(type, location, Qt::NoModifier, window, 1);
    return made.event && post(made.target, made.event.release());
}

bool PMEventGenerator::generateLeftMouseDownAtLocation(QPointF location, QWidget* inWindow)
{
    return generateMouseEventWithType(QEvent::MouseButtonPress, location, inWindow);
}

bool PMEventGenerator::generateLeftMouseUpAtLocation(QPointF location, QWidget* inWindow)
{
    return generateMouseEventWithType(QEvent::MouseButtonRelease, location, inWindow);
}

bool PMEventGenerator::generateLeftMouseClickAtLocation(QPointF location, QWidget* inWindow)
{
    return generateLeftMouseDownAtLocation(location, inWindow) && generateLeftMouseUpAtLocation(location, inWindow);
}

namespace {

QPointF inWindowOf(QWidget* view, QPointF location)
{
    return QPointF(view->mapTo(view->window(), location.toPoint())) + (location - location.toPoint());
}

} // namespace

bool PMEventGenerator::generateLeftMouseDownAtLocationInView(QPointF location, QWidget* inView)
{
    return inView && generateLeftMouseDownAtLocation(inWindowOf(inView, location), inView->window());
}

bool PMEventGenerator::generateLeftMouseUpAtLocationInView(QPointF location, QWidget* inView)
{
    return inView && generateLeftMouseUpAtLocation(inWindowOf(inView, location), inView->window());
}

bool PMEventGenerator::generateLeftMouseClickAtLocationInView(QPointF location, QWidget* inView)
{
    return inView && generateLeftMouseClickAtLocation(inWindowOf(inView, location), inView->window());
}

bool PMEventGenerator::generateLeftMouseDownOnView(QWidget* view)
{
    return generateLeftMouseDownAtLocationInView(QPointF(0, 0), view);
}

bool PMEventGenerator::generateLeftMouseUpOnView(QWidget* view)
{
    return generateLeftMouseUpAtLocationInView(QPointF(0, 0), view);
}

bool PMEventGenerator::generateLeftMouseClickOnView(QWidget* view)
{
    return generateLeftMouseClickAtLocationInView(QPointF(0, 0), view);
}

std::unique_ptr<PMApplicationDefinedEvent> PMEventGenerator::createApplicationEventWithType(int type, QWidget* window)
{
    return std::make_unique<PMApplicationDefinedEvent>(qint16(type), window);
}

bool PMEventGenerator::generateApplicationEventWithType(int type, QWidget* window)
{
    std::unique_ptr<PMApplicationDefinedEvent> event = createApplicationEventWithType(type, window);
    QObject* target = window ? static_cast<QObject*>(window) : static_cast<QObject*>(QCoreApplication::instance());
    return post(target, event.release());
}
