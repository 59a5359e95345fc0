#include "ui/commands/PMApplication.h"

#include "library/model/PMMainController.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMPlayerWindows.h"

#include <QtCore/QPointer>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QAbstractScrollArea>
#include <QtWidgets/QAbstractSpinBox>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QTextEdit>

namespace {

QPointer<PMApplication>& theRouter()
{
    static QPointer<PMApplication> router;
    return router;
}

} // namespace

QWidget* PMApplication::firstResponderOf(QWidget* window)
{
    // The menu bar takes the focus while its menus are worked with the keys; the view
    // that had it before still counts as the one the commands are for.
    static QPointer<QWidget> beforeMenuBar;
    static const bool following = [] {
        QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget*, QWidget* now) {
            if (now && !qobject_cast<QMenuBar*>(now) && !qobject_cast<QMenu*>(now))
                beforeMenuBar = now;
        });
        return true;
    }();
    Q_UNUSED(following);
    QWidget* focus = window ? window->focusWidget() : nullptr;
    if (qobject_cast<QMenuBar*>(focus) && beforeMenuBar && beforeMenuBar->window() == window)
        return beforeMenuBar;
    return focus;
}

bool PMApplication::isFirstResponderOfItsWindow(const QWidget* view)
{
    if (!view || !view->window())
        return false;
    const QWidget* focus = firstResponderOf(view->window());
    if (!focus)
        return false;
    if (focus == view)
        return true;
    const auto* area = qobject_cast<const QAbstractScrollArea*>(view);
    return area && focus == area->viewport();
}

bool PMApplication::takesTypedText(const QWidget* widget)
{
    if (!widget)
        return false;
    // (A cell being edited has its editor, one of these, as the focus widget.)
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget)
           || qobject_cast<const QAbstractSpinBox*>(widget);
}

PMApplication* PMApplication::install()
{
    if (!theRouter()) {
        theRouter() = new PMApplication(qApp);
        qApp->installEventFilter(theRouter());
        // The windows no longer ask the controller themselves: the router does it first.
        PMPlayerWindowPrototype::keyDownIsOfferedByApplication() = true;
    }
    return theRouter();
}

PMApplication* PMApplication::installed()
{
    return theRouter();
}

std::unique_ptr<QKeyEvent> PMApplication::keyEventByOptionallyTranslatingWASDKeysInEvent(const QKeyEvent* event, const QWidget* receiver)
{
    if (!event || (event->modifiers() & Qt::ControlModifier))
        return nullptr;
    if (!prefs::get(prefs::keys::NavigateWithWASD))
        return nullptr;
    const QString text = event->text();
    if (text.isEmpty())
        return nullptr;
    const QWidget* window = receiver ? receiver->window() : QApplication::activeWindow();
    const QWidget* focus = window ? window->focusWidget() : nullptr;
    if (!focus || takesTypedText(focus) || takesTypedText(receiver))
        return nullptr;
    int arrow = 0;
    switch (text.at(0).unicode()) {
    case u'a':
        arrow = Qt::Key_Left;
        break;
    case u'd':
        arrow = Qt::Key_Right;
        break;
    case u's':
        arrow = Qt::Key_Down;
        break;
    case u'w':
        arrow = Qt::Key_Up;
        break;
    default:
        return nullptr;
    }
    return std::make_unique<QKeyEvent>(event->type(), arrow, event->modifiers(), event->nativeScanCode(), event->nativeVirtualKey(),
                                       event->nativeModifiers(), QString(), event->isAutoRepeat(), ushort(event->count()));
}

bool PMApplication::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || !watched->isWidgetType() || m_handlingDepth > 0)
        return QObject::eventFilter(watched, event);
    auto* receiver = static_cast<QWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);

    // 1. W, A, S and D as arrows: the arrow goes where the letter would have gone (and
    // comes through here again as that arrow).
    if (std::unique_ptr<QKeyEvent> translated = keyEventByOptionallyTranslatingWASDKeysInEvent(key, receiver)) {
        QCoreApplication::sendEvent(receiver, translated.get());
        return true;
    }
    if (type != QEvent::KeyPress)
        return false;
    // Offered once, where the key lands first: the focus widget of its window (the window
    // itself when nothing in it has the focus), not again as it goes up to the parents.
    QWidget* window = receiver->window();
    if (window->focusWidget() ? receiver != window->focusWidget() : receiver != window)
        return false;
    // Menus worked with the keys keep them (the menu bar has the focus meanwhile).
    if (qobject_cast<QMenuBar*>(receiver) || qobject_cast<QMenu*>(window))
        return false;

    PMMainController& controller = mainController();
    ++m_handlingDepth;
    bool taken = false;
    // 2. The remote interface window, while it is open, has the keys first.
    if (controller.isRemoteInterfaceVisible())
        taken = controller.handleKeyDown(key, true);
    // 3. The window the key goes to: a player window asks the controller.
    if (!taken) {
        if (auto* player = qobject_cast<PMPlayerWindowPrototype*>(window); player && player->keyDownHandler)
            taken = player->keyDownHandler(key);
    }
    --m_handlingDepth;
    if (taken)
        key->accept();
    return taken;
}
