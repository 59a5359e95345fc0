#include "foundation/PMUserDefaultsAccess.h"

#include <QtCore/QHash>

#include <mutex>

namespace {

std::mutex& defaultsLock()
{
    static std::mutex lock;
    return lock;
}

QHash<QString, platform::Value>& defaultsStore()
{
    static QHash<QString, platform::Value> store;
    return store;
}

} // namespace

platform::Value PMUserDefaultValue(const QString& key)
{
    std::lock_guard guard(defaultsLock());
    return defaultsStore().value(key);
}

bool PMUserDefaultBool(const QString& key)
{
    return PMUserDefaultValue(key).toBool();
}

void PMSetUserDefaultValue(const QString& key, const platform::Value& value)
{
    std::lock_guard guard(defaultsLock());
    if (value.isNull())
        defaultsStore().remove(key);
    else
        defaultsStore().insert(key, value);
}
