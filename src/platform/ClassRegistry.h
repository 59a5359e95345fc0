// Classes looked up by name at run time: a subsystem registers what it offers under its
// class name, and a lower layer finds it without depending on it. The registered object
// is the class's own description of what it can do (a struct of the lower layer's
// making); the registry itself does not look inside.
#pragma once

#include <QtCore/QString>

#include <memory>

namespace platform {

void registerClass(const QString& name, std::shared_ptr<const void> classObject);
// Nothing when no class of that name was registered.
std::shared_ptr<const void> classNamed(const QString& name);

} // namespace platform
