#include "platform/ClassRegistry.h"

#include <QtCore/QHash>

#include <mutex>

namespace platform {

namespace {

std::mutex g_mutex;

QHash<QString, std::shared_ptr<const void>>& classes()
{
    static QHash<QString, std::shared_ptr<const void>> table;
    return table;
}

} // namespace

void registerClass(const QString& name, std::shared_ptr<const void> classObject)
{
    std::lock_guard lock(g_mutex);
    classes().insert(name, std::move(classObject));
}

std::shared_ptr<const void> classNamed(const QString& name)
{
    std::lock_guard lock(g_mutex);
    return classes().value(name);
}

} // namespace platform
