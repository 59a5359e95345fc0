// The in-process notification centre: observers register for a name (or any) and an
// object (or any); a post calls the matching observers at once, on the posting thread.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <functional>
#include <memory>

namespace platform {

struct Notification {
    QString name;
    const void* object = nullptr;  // the sender, compared by identity
    Value objectValue;             // the sender as a value, when it is one of ours
    DictionaryPtr userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    using ObserverId = std::uint64_t;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // An empty name observes every name; a null object every sender. The owner groups
    // observers so that `removeObserver(owner)` drops all of them.
    ObserverId addObserver(const void* owner, const QString& name, const void* object, Handler handler);
    void removeObserver(ObserverId id);
    void removeObserver(const void* owner);
    void removeObserver(const void* owner, const QString& name, const void* object = nullptr);

    void postNotification(const Notification& notification);
    void postNotificationName(const QString& name, const void* object = nullptr, DictionaryPtr userInfo = nullptr);
    // Posts with the object both as sender and as value.
    void postNotificationName(const QString& name, const ObjectPtr& object, DictionaryPtr userInfo = nullptr);

    struct State;
private:
    std::shared_ptr<State> m_state;
};

} // namespace platform
