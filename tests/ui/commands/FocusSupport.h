// Giving a widget of a shown, active window the keys, as the commands' tests need.
#pragma once

#include "common/TestSupport.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

namespace testsupport {

// Shows the widget's window, activates it and waits until the widget has the focus.
inline bool giveKeysTo(QWidget* widget)
{
    QWidget* window = widget->window();
    window->show();
    QApplication::setActiveWindow(window);
    widget->setFocus();
    return waitUntil([&] { return widget->hasFocus(); });
}

} // namespace testsupport
