#include "platform/Queues.h"
#include "platform/ThreadSanitizer.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtCore/QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <map>

namespace platform {

namespace {

const QThread* const g_initialThread = QThread::currentThread();

QThreadPool& serialPool()
{
    // Serial queues each hold at most one thread at a time; a pool of their own keeps a
    // busy global pool from stalling them.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(64);
        p->setExpiryTimeout(5000);
        return p;
    }();
    return *pool;
}

QThreadPool& operationPool()
{
    // Operation queues enforce their own limits; this pool only supplies threads.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(64);
        p->setExpiryTimeout(5000);
        return p;
    }();
    return *pool;
}

int poolPriority(QueuePriority p)
{
    return int(p);
}

} // namespace

QThreadPool* backgroundThreadPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::min(kBackgroundThreadCount, std::max(1, QThread::idealThreadCount())));
        p->setExpiryTimeout(5000);
        // SCHED_IDLE on Linux: the scheduler gives these threads only what nothing else of
        // the machine wants.
        p->setThreadPriority(QThread::IdlePriority);
        return p;
    }();
    return pool;
}

bool isBackgroundThread()
{
    return backgroundThreadPool()->contains(QThread::currentThread());
}

namespace {

void startInBackground(Job job)
{
    backgroundThreadPool()->start(carried([job = std::move(job)] {
        job();
    }));
}

} // namespace

bool isMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return QThread::currentThread() == g_initialThread;
}

void dispatchAsyncMain(Job job)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        job();
        return;
    }
    QMetaObject::invokeMethod(app, carried([job = std::move(job)] {
        job();
    }), Qt::QueuedConnection);
}

namespace {

struct MainSlices {
    std::size_t count;
    std::size_t perTurn;
    std::function<void(std::size_t, std::size_t)> slice;
    Job done;
    std::size_t next = 0;
};

void runMainSlice(const std::shared_ptr<MainSlices>& slices)
{
    const std::size_t end = std::min(slices->count, slices->next + slices->perTurn);
    slices->slice(slices->next, end);
    slices->next = end;
    if (end < slices->count)
        dispatchAsyncMain([slices] { runMainSlice(slices); });
    else if (slices->done)
        slices->done();
}

// Hands the job to `post` and waits, on a lock of ours, until it has run there.
void runAndWait(const std::function<void(const Job&)>& post, const Job& job)
{
    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;
    post([&] {
        job();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCondition.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneCondition.wait(lock, [&] { return done; });
}

} // namespace

void dispatchSlicesOnMain(std::size_t count, std::size_t perTurn, std::function<void(std::size_t begin, std::size_t end)> slice, Job done)
{
    runMainSlice(std::make_shared<MainSlices>(MainSlices{count, std::max<std::size_t>(perTurn, 1), std::move(slice), std::move(done)}));
}

void dispatchSyncMain(const Job& job)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        job();
        return;
    }
    // Not a blocking queued call: the wait for it goes through Qt's own semaphore, which
    // the thread sanitizer cannot see; this one orders the job's writes before the return.
    runAndWait([](const Job& j) { dispatchAsyncMain(j); }, job);
}

namespace {
std::atomic<bool> gSharedThreadPoolEnded{false};
} // namespace

QThreadPool* sharedThreadPool()
{
    return gSharedThreadPoolEnded.load(std::memory_order_acquire) ? nullptr : QThreadPool::globalInstance();
}

void endSharedThreadPool()
{
    gSharedThreadPoolEnded.store(true, std::memory_order_release);
}

void dispatchAsyncGlobal(Job job, QueuePriority priority)
{
    if (priority == QueuePriority::Background) {
        startInBackground(std::move(job));
        return;
    }
    if (QThreadPool* pool = sharedThreadPool()) {
        pool->start(carried([job = std::move(job)] {
            job();
        }), poolPriority(priority));
    }
}

// ---------------------------------------------------------------------------
// SerialQueue

struct SerialQueue::State : std::enable_shared_from_this<SerialQueue::State> {
    QString label;
    QueuePriority priority;
    std::mutex mutex;
    std::condition_variable idle;
    std::deque<Job> jobs;
    bool running = false;

    void drain()
    {
        for (;;) {
            Job job;
            {
                std::lock_guard lock(mutex);
                if (jobs.empty()) {
                    running = false;
                    idle.notify_all();
                    return;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
        }
    }
};

SerialQueue::SerialQueue(QString label, QueuePriority priority)
    : m_state(std::make_shared<State>())
{
    m_state->label = std::move(label);
    m_state->priority = priority;
}

SerialQueue::~SerialQueue()
{
    std::unique_lock lock(m_state->mutex);
    m_state->jobs.clear();
    m_state->idle.wait(lock, [&] { return !m_state->running; });
}

const QString& SerialQueue::label() const
{
    return m_state->label;
}

void SerialQueue::async(Job job)
{
    std::shared_ptr<State> state = m_state;
    bool start = false;
    {
        std::lock_guard lock(state->mutex);
        state->jobs.push_back(std::move(job));
        if (!state->running) {
            state->running = true;
            start = true;
        }
    }
    if (start) {
        if (state->priority == QueuePriority::Background) {
            startInBackground([state] { state->drain(); });
            return;
        }
        serialPool().start(carried([state] {
            state->drain();
        }), poolPriority(state->priority));
    }
}

void SerialQueue::sync(const Job& job)
{
    runAndWait([this](const Job& j) { async(j); }, job);
}

void SerialQueue::waitUntilEmpty()
{
    sync([] {});
}

// ---------------------------------------------------------------------------
// Operations


struct Operation::State {
    std::mutex mutex;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> executing{false};
    std::atomic<bool> finished{false};
    Priority priority = Priority::Normal;
    std::uint64_t sequence = 0;
    Job completion;
    std::weak_ptr<OperationQueue::State> queue;
    bool waiting = false; // in its queue's waiting set
};

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    QString name;
    std::mutex mutex;
    std::condition_variable changed;
    struct Key {
        int priority;
        std::uint64_t sequence;
        bool operator<(const Key& o) const
        {
            return priority != o.priority ? priority > o.priority : sequence < o.sequence;
        }
    };
    std::map<Key, OperationPtr> waiting;
    // Operations cancelled before they ran, waiting for their completions: one job finishes
    // them all in the order they were cancelled (a scrolled grid cancels a screenful at once).
    std::vector<OperationPtr> cancelled;
    bool finishingCancelled = false;
    int running = 0;
    int maxConcurrent = -1;
    bool suspended = false;
    bool background = false;
    std::uint64_t nextSequence = 0;

    int limit() const { return maxConcurrent > 0 ? maxConcurrent : std::max(1, QThread::idealThreadCount()); }

    // Puts an operation among the waiting ones (one cancelled already finishes without
    // running). Called with the mutex held.
    void addLocked(OperationPtr op)
    {
        Operation::State& s = *op->m_state;
        s.queue = shared_from_this();
        s.sequence = nextSequence++;
        if (s.cancelled) {
            ++running;
            finishWithoutRunningLocked(std::move(op));
            return;
        }
        Operation::Priority priority;
        {
            std::lock_guard opLock(s.mutex);
            priority = s.priority;
        }
        s.waiting = true;
        waiting.emplace(Key{int(priority), s.sequence}, std::move(op));
    }

    // Starts waiting operations while there is room. Called with the mutex held.
    void scheduleLocked()
    {
        while (!suspended && running < limit() && !waiting.empty()) {
            auto it = waiting.begin();
            OperationPtr op = it->second;
            waiting.erase(it);
            op->m_state->waiting = false;
            ++running;
            std::shared_ptr<State> self = shared_from_this();
            if (background)
                startInBackground([self, op] { self->run(op); });
            else
                operationPool().start(carried([self, op] {
                    self->run(op);
                }));
        }
    }

    void run(const OperationPtr& op)
    {
        Operation::State& s = *op->m_state;
        if (!s.cancelled) {
            s.executing = true;
            op->main();
            s.executing = false;
        }
        finish(op);
        std::lock_guard lock(mutex);
        --running;
        scheduleLocked();
        changed.notify_all();
    }

    // Finishes a cancelled operation that never ran, counted as running until its
    // completion has run. On a pool thread, so a completion never runs inside the caller;
    // called with the mutex held.
    void finishWithoutRunningLocked(OperationPtr op)
    {
        cancelled.push_back(std::move(op));
        if (finishingCancelled)
            return;
        finishingCancelled = true;
        std::shared_ptr<State> self = shared_from_this();
        operationPool().start(carried([self] { self->finishCancelled(); }));
    }

    void finishCancelled()
    {
        for (;;) {
            std::vector<OperationPtr> batch;
            {
                std::lock_guard lock(mutex);
                batch.swap(cancelled);
                if (batch.empty()) {
                    finishingCancelled = false;
                    return;
                }
            }
            for (const OperationPtr& op : batch)
                finish(op);
            std::lock_guard lock(mutex);
            running -= int(batch.size());
            scheduleLocked();
            changed.notify_all();
        }
    }

    static void finish(const OperationPtr& op)
    {
        Operation::State& s = *op->m_state;
        Job completion;
        {
            std::lock_guard lock(s.mutex);
            completion = std::move(s.completion);
            s.completion = nullptr;
        }
        s.finished = true;
        if (completion)
            completion();
    }
};

Operation::Operation()
    : m_state(std::make_shared<State>())
{
}

Operation::~Operation() = default;

bool Operation::isCancelled() const
{
    return m_state->cancelled;
}

bool Operation::isExecuting() const
{
    return m_state->executing;
}

bool Operation::isFinished() const
{
    return m_state->finished;
}

Operation::Priority Operation::queuePriority() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->priority;
}

void Operation::setCompletionBlock(Job block)
{
    std::lock_guard lock(m_state->mutex);
    m_state->completion = std::move(block);
}

void Operation::cancel()
{
    m_state->cancelled = true;
    // A waiting operation leaves its queue at once and finishes without running.
    std::shared_ptr<OperationQueue::State> queue = m_state->queue.lock();
    if (!queue)
        return;
    std::lock_guard lock(queue->mutex);
    if (!m_state->waiting)
        return;
    int priority;
    {
        std::lock_guard opLock(m_state->mutex);
        priority = int(m_state->priority);
    }
    // Found by its key: the priority and the sequence it was queued with.
    auto it = queue->waiting.find(OperationQueue::State::Key{priority, m_state->sequence});
    if (it == queue->waiting.end() || it->second.get() != this)
        it = std::find_if(queue->waiting.begin(), queue->waiting.end(), [this](const auto& entry) { return entry.second.get() == this; });
    m_state->waiting = false;
    if (it == queue->waiting.end())
        return;
    OperationPtr removed = std::move(it->second);
    queue->waiting.erase(it);
    ++queue->running; // counted until its completion has run
    queue->finishWithoutRunningLocked(std::move(removed));
}

void Operation::setQueuePriority(Priority p)
{
    std::shared_ptr<OperationQueue::State> queue = m_state->queue.lock();
    if (!queue) {
        std::lock_guard lock(m_state->mutex);
        m_state->priority = p;
        return;
    }
    std::lock_guard queueLock(queue->mutex);
    Priority old;
    {
        std::lock_guard lock(m_state->mutex);
        old = m_state->priority;
        m_state->priority = p;
    }
    if (!m_state->waiting || old == p)
        return;
    auto it = queue->waiting.find(OperationQueue::State::Key{int(old), m_state->sequence});
    if (it == queue->waiting.end())
        return;
    OperationPtr op = it->second;
    queue->waiting.erase(it);
    queue->waiting.emplace(OperationQueue::State::Key{int(p), m_state->sequence}, op);
}

OperationQueue::OperationQueue(QString name)
    : m_state(std::make_shared<State>())
{
    m_state->name = std::move(name);
}

OperationQueue::~OperationQueue()
{
    cancelAllOperations();
    waitUntilAllOperationsAreFinished();
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    std::lock_guard lock(m_state->mutex);
    m_state->maxConcurrent = count;
    m_state->scheduleLocked();
}

void OperationQueue::setRunsInBackground(bool background)
{
    std::lock_guard lock(m_state->mutex);
    m_state->background = background;
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->maxConcurrent;
}

void OperationQueue::setSuspended(bool suspended)
{
    std::lock_guard lock(m_state->mutex);
    m_state->suspended = suspended;
    m_state->scheduleLocked();
}

void OperationQueue::addOperation(OperationPtr op)
{
    if (!op)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->addLocked(std::move(op));
    m_state->scheduleLocked();
}

void OperationQueue::addOperations(std::vector<OperationPtr> ops)
{
    std::lock_guard lock(m_state->mutex);
    for (OperationPtr& op : ops)
        if (op)
            m_state->addLocked(std::move(op));
    m_state->scheduleLocked();
}

void OperationQueue::addOperation(Job job, Operation::Priority priority)
{
    auto op = BlockOperation::make(std::move(job));
    op->setQueuePriority(priority);
    addOperation(op);
}

void OperationQueue::cancelAllOperations()
{
    std::vector<OperationPtr> all;
    {
        std::lock_guard lock(m_state->mutex);
        for (auto& [key, op] : m_state->waiting)
            all.push_back(op);
    }
    for (const OperationPtr& op : all)
        op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [&] { return m_state->waiting.empty() && m_state->running == 0; });
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->waiting.size()) + m_state->running;
}

std::vector<OperationPtr> OperationQueue::waitingOperations() const
{
    std::lock_guard lock(m_state->mutex);
    std::vector<OperationPtr> all;
    all.reserve(m_state->waiting.size());
    for (auto& [key, op] : m_state->waiting)
        all.push_back(op);
    return all;
}

} // namespace platform
