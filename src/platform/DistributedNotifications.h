// Notifications for other processes: a signal on the session bus carrying the
// notification's name and its object as text. Observers in this process hear every post
// too, with or without a bus; without a session bus nothing leaves the process.
#pragma once

#include <QtCore/QString>
#include <QtDBus/QDBusConnection>

#include <cstdint>
#include <functional>

namespace platform {

inline constexpr const char* kDistributedNotificationPath = "/com/tolvane/DistributedNotification";
inline constexpr const char* kDistributedNotificationInterface = "com.tolvane.DistributedNotification";
inline constexpr const char* kDistributedNotificationMember = "Posted";

// Answers whether the signal went out on the session bus.
bool postDistributedNotification(const QString& name, const QString& object);

// The bus the notifications (and the launcher's updates) go out on: the session bus, or
// the named connection a test set up to a bus of its own (empty: the session bus again).
QDBusConnection distributedNotificationBus();
void setDistributedNotificationBusForTesting(const QString& connectionName);

using DistributedObserver = std::function<void(const QString& name, const QString& object)>;
std::uint64_t addDistributedNotificationObserver(DistributedObserver observer);
void removeDistributedNotificationObserver(std::uint64_t id);

} // namespace platform
