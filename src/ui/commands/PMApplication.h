// The program's first look at every key press, before any window or widget: W, A, S and D
// become arrow keys when the user wants that, keys go to the remote interface while it is
// open, and the player windows (the library window is one) offer each key press to the
// controller before the focus widget sees it. Installed once on the application.
#pragma once

#include <QtCore/QObject>

#include <memory>

class QKeyEvent;
class QWidget;

class PMApplication : public QObject {
    Q_OBJECT
public:
    // Installs the one router on the application (idempotent) and answers it.
    static PMApplication* install();
    static PMApplication* installed();

    // With "Navigate With WASD" on, a, s, d and w pressed without Ctrl and outside text
    // being typed become Left, Down, Right and Up (with the same modifiers, repeat and
    // type); nil when the event stays as it is. Shift (an upper-case letter) is not
    // translated. `receiver` is the widget the event goes to.
    static std::unique_ptr<QKeyEvent> keyEventByOptionallyTranslatingWASDKeysInEvent(const QKeyEvent* event, const QWidget* receiver);

    // Whether the view has the keys of its window (an editor inside it does not count; a
    // scroll area's viewport counts as the area).
    static bool isFirstResponderOfItsWindow(const QWidget* view);
    // The widget the window's keys are for: its focus widget, or while its menu bar has
    // the focus, the widget that had it before.
    static QWidget* firstResponderOf(QWidget* window);
    // Whether text is typed there: a text field or view (a cell's editor is one).
    static bool takesTypedText(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
    // Above zero while the controller handles a key: the keys it passes on to a view are
    // not offered again.
    int m_handlingDepth = 0;
};
