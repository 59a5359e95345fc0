#include "ui/kit/PMViewBases.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>

namespace {

QWidget* widgetForWindow(QWindow* window)
{
    if (!window)
        return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() == window)
            return w;
    }
    return nullptr;
}

} // namespace

PMKeyWindowReflectingView::PMKeyWindowReflectingView(QWidget* parent) : QWidget(parent)
{
    setReflectsKeyWindowStatusChangeForWindow(parent ? window() : nullptr);
}

PMKeyWindowReflectingView::~PMKeyWindowReflectingView()
{
    setReflectsKeyWindowStatusChangeForWindow(nullptr);
}

bool PMKeyWindowReflectingView::event(QEvent* event)
{
    // The view moved to another window (or out of every window).
    if (event->type() == QEvent::ParentChange) {
        // A view without parent belongs to no window.
        QWidget* newWindow = parentWidget() ? window() : nullptr;
        setReflectsKeyWindowStatusChangeForWindow(newWindow);
    }
    return QWidget::event(event);
}

void PMKeyWindowReflectingView::setReflectsKeyWindowStatusChangeForWindow(QWidget* window)
{
    if (m_observing) {
        disconnect(m_connection);
        m_observing = false;
    }
    m_observed = window;
    if (!window)
        return;
    m_lastFocusWindow = QGuiApplication::focusWindow();
    m_connection = connect(qApp, &QGuiApplication::focusWindowChanged, this, &PMKeyWindowReflectingView::focusWindowChanged);
    m_observing = true;
}

void PMKeyWindowReflectingView::focusWindowChanged(QWindow* now)
{
    QWidget* resigned = widgetForWindow(m_lastFocusWindow);
    QWidget* became = widgetForWindow(now);
    m_lastFocusWindow = now;
    // Notifications of the observed window only, unless the view follows its parent and
    // hears every window.
    const bool hearsAll = reflectsKeyWindowStatusChangeForParentWindow();
    if (resigned && (hearsAll || resigned == m_observed))
        windowDidResignKey(resigned);
    if (became && (hearsAll || became == m_observed))
        windowDidBecomeKey(became);
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
