#include "platform/DistributedNotifications.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include <map>
#include <mutex>

namespace platform {

namespace {
std::mutex gMutex;
std::map<std::uint64_t, DistributedObserver>& observers()
{
    static std::map<std::uint64_t, DistributedObserver> map;
    return map;
}
std::uint64_t gNextID = 1;
QString gBusConnectionName; // guarded by gMutex
} // namespace

QDBusConnection distributedNotificationBus()
{
    QString name;
    {
        std::lock_guard lock(gMutex);
        name = gBusConnectionName;
    }
    return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

void setDistributedNotificationBusForTesting(const QString& connectionName)
{
    std::lock_guard lock(gMutex);
    gBusConnectionName = connectionName;
}

bool postDistributedNotification(const QString& name, const QString& object)
{
    std::map<std::uint64_t, DistributedObserver> copy;
    {
        std::lock_guard lock(gMutex);
        copy = observers();
    }
    for (const auto& [id, observer] : copy)
        observer(name, object);

    QDBusConnection bus = distributedNotificationBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kDistributedNotificationPath),
                                                     QString::fromLatin1(kDistributedNotificationInterface),
                                                     QString::fromLatin1(kDistributedNotificationMember));
    signal << name << object;
    return bus.send(signal);
}

std::uint64_t addDistributedNotificationObserver(DistributedObserver observer)
{
    std::lock_guard lock(gMutex);
    const std::uint64_t id = gNextID++;
    observers().emplace(id, std::move(observer));
    return id;
}

void removeDistributedNotificationObserver(std::uint64_t id)
{
    std::lock_guard lock(gMutex);
    observers().erase(id);
}

} // namespace platform
