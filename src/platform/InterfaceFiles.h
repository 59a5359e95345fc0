// Interface files are builder functions looked up by the file's name ("MainWindow",
// "Preferences", ...). A builder makes the window with its owner and answers it, or
// nothing when it cannot.
#pragma once

#include <QtCore/QString>

#include <functional>

class QObject;
class QWidget;

namespace platform {

using InterfaceBuilder = std::function<QWidget*(QObject* owner)>;

// Registers (or, given an empty function, removes) the builder of the named file.
void registerInterfaceBuilder(const QString& name, InterfaceBuilder builder);
// Builds the named interface; nothing when no builder is known or the builder failed.
QWidget* loadInterface(const QString& name, QObject* owner);

} // namespace platform
