// A concurrent queue with barrier writes: readers run side by side, a barrier job runs
// alone once every reader before it has finished. Jobs run on the calling thread, so this
// is a reader-writer lock with the shape of a queue: `sync` for reads, `barrierSync` for
// writes. Neither may be called from inside a job of the same queue.
#pragma once

#include <QtCore/QString>

#include <functional>
#include <shared_mutex>

namespace platform {

class ConcurrentQueue {
public:
    explicit ConcurrentQueue(QString label) : m_label(std::move(label)) {}
    ConcurrentQueue(const ConcurrentQueue&) = delete;
    ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;
    const QString& label() const { return m_label; }

    template <class Job>
    void sync(Job&& job) const
    {
        std::shared_lock lock(m_lock);
        job();
    }
    template <class Job>
    void barrierSync(Job&& job)
    {
        std::unique_lock lock(m_lock);
        job();
    }

private:
    QString m_label;
    mutable std::shared_mutex m_lock;
};

} // namespace platform
