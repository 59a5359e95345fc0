// Background work and the hand-back to the main thread: the stand-ins for dispatch
// queues and operation queues, over QThreadPool and the Qt event loop.
#pragma once

#include <QtCore/QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QThreadPool;

namespace platform {

using Job = std::function<void()>;

// True on the main (GUI) thread.
bool isMainThread();
// Runs the job on the main thread's event loop, later.
void dispatchAsyncMain(Job job);
// Runs the job on the main thread and waits for it; runs it at once when called there.
void dispatchSyncMain(const Job& job);
// Runs `slice(begin, end)` over the indexes 0 to count - 1 on the main thread, at most
// `perTurn` of them per turn of its event loop (the first slice at once), then `done`: a
// walk over a whole library that never holds the window for the whole of it.
void dispatchSlicesOnMain(std::size_t count, std::size_t perTurn, std::function<void(std::size_t begin, std::size_t end)> slice,
                          Job done = {});

enum class QueuePriority { Background = 0, Utility = 1, Default = 2, UserInitiated = 3, UserInteractive = 4 };
// A global concurrent queue: the shared thread pool at that priority. Background jobs go to
// the background pool instead (below).
void dispatchAsyncGlobal(Job job, QueuePriority priority = QueuePriority::Default);

// The pool of work that nobody waits for (reads and measures of whole libraries, files looked
// for, search texts made ahead): a few threads, each at the lowest scheduling class of the
// system, so that however much there is of it, it never takes the processors from the window
// or from work the user asked for. It lives until the process ends.
constexpr int kBackgroundThreadCount = 2;
QThreadPool* backgroundThreadPool();
// True on a thread of the background pool.
bool isBackgroundThread();
// The shared thread pool, or nullptr once the program has ended it: threads of their own
// (frame grabs, decoders) may still finish after main returns, when the pool is being torn
// down, and what they hand on then is dropped instead of reaching a destroyed pool.
QThreadPool* sharedThreadPool();
void endSharedThreadPool();

// A serial queue: its jobs run one at a time, in the order they were added, on pool threads.
class SerialQueue {
public:
    // A queue at Background priority runs its jobs on the background pool.
    explicit SerialQueue(QString label, QueuePriority priority = QueuePriority::Default);
    ~SerialQueue(); // waits for the running job; drops the waiting ones
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;
    const QString& label() const;
    void async(Job job);
    // Runs the job on the queue and waits for it (a deadlock when called from the queue itself,
    // as with the real thing; callers never do).
    void sync(const Job& job);
    // Waits until every job added so far has run.
    void waitUntilEmpty();
    struct State;
private:
    std::shared_ptr<State> m_state;
};

// A queue of operations with priorities, a maximum concurrency, cancellation and
// re-ranking of waiting operations.
class Operation {
public:
    virtual ~Operation();
    enum class Priority { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };
    // Called on a pool thread. Long work polls isCancelled().
    virtual void main() = 0;
    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    void cancel();
    Priority queuePriority() const;
    // Changing the priority of a waiting operation re-ranks it in its queue.
    void setQueuePriority(Priority p);
    // Runs on the thread that finishes the operation, after main() or on cancellation
    // of a waiting operation.
    void setCompletionBlock(Job block);
    struct State;
    std::shared_ptr<State> state() const { return m_state; }
protected:
    Operation();
private:
    std::shared_ptr<State> m_state;
    friend class OperationQueue;
};
using OperationPtr = std::shared_ptr<Operation>;

// An operation made of one job.
class BlockOperation final : public Operation {
public:
    explicit BlockOperation(Job job) : m_job(std::move(job)) {}
    static std::shared_ptr<BlockOperation> make(Job job) { return std::make_shared<BlockOperation>(std::move(job)); }
    void main() override { if (m_job) m_job(); }
private:
    Job m_job;
};

class OperationQueue {
public:
    explicit OperationQueue(QString name = {});
    ~OperationQueue(); // cancels waiting operations and waits for running ones
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;
    // -1: as many as the pool allows.
    void setMaxConcurrentOperationCount(int count);
    // Runs the operations on the background pool (set before the first is added).
    void setRunsInBackground(bool background);
    int maxConcurrentOperationCount() const;
    void setSuspended(bool suspended);
    void addOperation(OperationPtr op);
    void addOperation(Job job, Operation::Priority priority = Operation::Priority::Normal);
    // Adds them together: one lock, and the first to start are the most urgent of them all,
    // not the first added.
    void addOperations(std::vector<OperationPtr> ops);
    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();
    // Operations added and not yet finished.
    int operationCount() const;
    // The operations that wait to start, in the order they would start.
    std::vector<OperationPtr> waitingOperations() const;
    struct State;
private:
    std::shared_ptr<State> m_state;
};

} // namespace platform
