#include "ui/kit/PMViewBases.h"

#include <QtWidgets/QApplication>

PMKeyWindowNotifier& PMKeyWindowNotifier::shared()
{
    static PMKeyWindowNotifier* notifier = new PMKeyWindowNotifier;
    return *notifier;
}

PMKeyWindowNotifier::PMKeyWindowNotifier()
{
    qApp->installEventFilter(this);
}

bool PMKeyWindowNotifier::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::WindowActivate || type == QEvent::WindowDeactivate) && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // Qt tells every widget of the window; the window itself stands for all of them.
        if (widget->isWindow()) {
            if (type == QEvent::WindowActivate)
                Q_EMIT windowDidBecomeKey(widget);
            else
                Q_EMIT windowDidResignKey(widget);
        }
    }
    return false;
}

PMKeyWindowReflectingView::PMKeyWindowReflectingView(QWidget* parent) : QWidget(parent)
{
    setReflectsKeyWindowStatusChangeForWindow(parent ? window() : nullptr);
    windowMayHaveChanged();
}

PMKeyWindowReflectingView::~PMKeyWindowReflectingView()
{
    setReflectsKeyWindowStatusChangeForWindow(nullptr);
}

bool PMKeyWindowReflectingView::event(QEvent* event)
{
    // The view moved to another window (or out of every window).
    if (event->type() == QEvent::ParentChange)
        windowMayHaveChanged();
    return QWidget::event(event);
}

bool PMKeyWindowReflectingView::eventFilter(QObject* watched, QEvent* event)
{
    // An ancestor moved: the view went with it, maybe into another window.
    if (event->type() == QEvent::ParentChange && watched != this)
        windowMayHaveChanged();
    return QWidget::eventFilter(watched, event);
}

void PMKeyWindowReflectingView::windowMayHaveChanged()
{
    // The ancestors up to the window are watched for moves of their own.
    for (const QPointer<QWidget>& ancestor : std::as_const(m_ancestors))
        if (ancestor)
            ancestor->removeEventFilter(this);
    m_ancestors.clear();
    for (QWidget* ancestor = parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        ancestor->installEventFilter(this);
        m_ancestors.append(ancestor);
        if (ancestor->isWindow())
            break;
    }
    // A view without parent belongs to no window.
    viewWillMoveToWindow(parentWidget() ? window() : nullptr);
}

void PMKeyWindowReflectingView::viewWillMoveToWindow(QWidget* newWindow)
{
    setReflectsKeyWindowStatusChangeForWindow(newWindow);
}

void PMKeyWindowReflectingView::setReflectsKeyWindowStatusChangeForWindow(QWidget* window)
{
    disconnect(m_becameKey);
    disconnect(m_resignedKey);
    m_observed = window;
    if (!window)
        return;
    // Every window's changes arrive; reflectKeyWindowStatusChange picks the ones that
    // concern this view (its window, or its parent window when it follows that).
    PMKeyWindowNotifier& notifier = PMKeyWindowNotifier::shared();
    m_becameKey = connect(&notifier, &PMKeyWindowNotifier::windowDidBecomeKey, this, [this](QWidget* w) { windowDidBecomeKey(w); });
    m_resignedKey = connect(&notifier, &PMKeyWindowNotifier::windowDidResignKey, this, [this](QWidget* w) { windowDidResignKey(w); });
}

void PMKeyWindowReflectingView::windowDidBecomeKey(QWidget* window)
{
    reflectKeyWindowStatusChange(window);
}

void PMKeyWindowReflectingView::windowDidResignKey(QWidget* window)
{
    reflectKeyWindowStatusChange(window);
}

void PMKeyWindowReflectingView::reflectKeyWindowStatusChange(QWidget* notifiedWindow)
{
    QWidget* own = m_observed;
    if (!own || !notifiedWindow)
        return;
    QWidget* parentWindow = own->parentWidget() ? own->parentWidget()->window() : nullptr;
    if (notifiedWindow == own || (reflectsKeyWindowStatusChangeForParentWindow() && parentWindow && notifiedWindow == parentWindow))
        reflectKeyWindowStatusChange();
}

void PMKeyWindowReflectingView::reflectKeyWindowStatusChange()
{
    update();
}
