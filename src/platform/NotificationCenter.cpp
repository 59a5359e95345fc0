#include "platform/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform {

struct NotificationCenter::State {
    struct Observer {
        ObserverId id;
        const void* owner;
        QString name;
        const void* object;
        Handler handler;
        std::shared_ptr<std::atomic<bool>> alive;
    };
    std::mutex mutex;
    std::vector<Observer> observers;
    ObserverId nextId = 1;

    template <class Pred>
    void removeIf(Pred pred)
    {
        std::lock_guard lock(mutex);
        for (auto it = observers.begin(); it != observers.end();) {
            if (pred(*it)) {
                *it->alive = false;
                it = observers.erase(it);
            } else {
                ++it;
            }
        }
    }
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter()
    : m_state(std::make_shared<State>())
{
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter::ObserverId NotificationCenter::addObserver(const void* owner, const QString& name, const void* object, Handler handler)
{
    std::lock_guard lock(m_state->mutex);
    const ObserverId id = m_state->nextId++;
    m_state->observers.push_back({id, owner, name, object, std::move(handler), std::make_shared<std::atomic<bool>>(true)});
    return id;
}

void NotificationCenter::removeObserver(ObserverId id)
{
    m_state->removeIf([id](const State::Observer& o) { return o.id == id; });
}

void NotificationCenter::removeObserver(const void* owner)
{
    m_state->removeIf([owner](const State::Observer& o) { return o.owner == owner; });
}

void NotificationCenter::removeObserver(const void* owner, const QString& name, const void* object)
{
    m_state->removeIf([&](const State::Observer& o) {
        return o.owner == owner && (name.isEmpty() || o.name == name) && (!object || o.object == object);
    });
}

void NotificationCenter::postNotification(const Notification& notification)
{
    std::vector<std::pair<Handler, std::shared_ptr<std::atomic<bool>>>> matching;
    {
        std::lock_guard lock(m_state->mutex);
        for (const State::Observer& o : m_state->observers) {
            if ((o.name.isEmpty() || o.name == notification.name) && (!o.object || o.object == notification.object))
                matching.emplace_back(o.handler, o.alive);
        }
    }
    // Handlers run outside the lock, so they may post, add and remove observers; one
    // removed by an earlier handler of this post is not called any more.
    for (auto& [handler, alive] : matching)
        if (*alive)
            handler(notification);
}

void NotificationCenter::postNotificationName(const QString& name, const void* object, DictionaryPtr userInfo)
{
    postNotification(Notification{name, object, Value(), std::move(userInfo)});
}

void NotificationCenter::postNotificationName(const QString& name, const ObjectPtr& object, DictionaryPtr userInfo)
{
    postNotification(Notification{name, object.get(), Value(object), std::move(userInfo)});
}

} // namespace platform
