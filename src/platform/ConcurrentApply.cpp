#include "platform/Queues.h"
#include "platform/ConcurrentApply.h"
#include "platform/ThreadSanitizer.h"

#include <QtCore/QThread>
#include <QtCore/QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform {

namespace {

struct Apply {
    std::size_t count = 0;
    const std::function<void(std::size_t)>* job = nullptr;
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::condition_variable finished;
    std::size_t done = 0;

    // Takes indexes until none is left; answers how many it ran.
    void work()
    {
        std::size_t ran = 0;
        for (std::size_t i = next.fetch_add(1, std::memory_order_relaxed); i < count; i = next.fetch_add(1, std::memory_order_relaxed)) {
            (*job)(i);
            ++ran;
        }
        if (ran == 0)
            return;
        std::lock_guard guard(lock);
        done += ran;
        if (done == count)
            finished.notify_all();
    }
};

// A helper that starts after every index has run finds nothing to do and never touches
// the job, which may be gone by then.
class Helper final : public QRunnable {
public:
    explicit Helper(std::shared_ptr<Apply> apply) : m_apply(std::move(apply)) {}
    void run() override
    {
        // The pool hands work over through Qt's own locks.
        takeOver(this);
        m_apply->work();
    }

private:
    std::shared_ptr<Apply> m_apply;
};

} // namespace

void concurrentApply(std::size_t count, const std::function<void(std::size_t)>& job)
{
    if (count == 0)
        return;
    if (count == 1) {
        job(0);
        return;
    }
    auto apply = std::make_shared<Apply>();
    apply->count = count;
    apply->job = &job;
    // Once the program is ending the calling thread does all of it. The caller works too:
    // with one helper fewer than the pool has threads, no more threads run than there are
    // processors, and the caller (often the main thread) is not pushed off its processor
    // for a time slice while the helpers run.
    QThreadPool* pool = sharedThreadPool();
    const std::size_t helpers = pool ? std::min<std::size_t>(count - 1, std::size_t(std::max(1, pool->maxThreadCount() - 1))) : 0;
    for (std::size_t h = 0; h < helpers; ++h) {
        auto* helper = new Helper(apply);
        handOver(helper);
        pool->start(helper);
    }
    apply->work();
    std::unique_lock guard(apply->lock);
    apply->finished.wait(guard, [&] { return apply->done == count; });
}

} // namespace platform
