#include "platform/InterfaceFiles.h"

#include <QtCore/QHash>

namespace platform {

namespace {
QHash<QString, InterfaceBuilder>& builders()
{
    static QHash<QString, InterfaceBuilder> map;
    return map;
}
} // namespace

void registerInterfaceBuilder(const QString& name, InterfaceBuilder builder)
{
    if (builder)
        builders().insert(name, std::move(builder));
    else
        builders().remove(name);
}

QWidget* loadInterface(const QString& name, QObject* owner)
{
    const InterfaceBuilder builder = builders().value(name);
    return builder ? builder(owner) : nullptr;
}

} // namespace platform
