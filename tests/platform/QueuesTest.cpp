#include "platform/DelayedPerform.h"
#include "platform/NotificationCenter.h"
#include "platform/Queues.h"

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtCore/QThreadPool>

#include <sched.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace platform;

TEST(Queues, MainThreadHandOffRunsOnTheMainThread)
{
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> done{false};
    dispatchAsyncGlobal([&] {
        EXPECT_FALSE(isMainThread());
        dispatchSyncMain([&] { ranOnMain = isMainThread(); });
        dispatchAsyncMain([&] { done = true; });
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done.load(); }));
    EXPECT_TRUE(ranOnMain);
}

TEST(Queues, SlicesOnTheMainThreadCoverEveryIndexInOrderATurnAtATime)
{
    // 10 indexes, 4 per turn: the first slice at once, the others on later turns, then done.
    std::vector<std::pair<std::size_t, std::size_t>> slices;
    bool done = false;
    dispatchSlicesOnMain(10, 4, [&](std::size_t begin, std::size_t end) { slices.emplace_back(begin, end); }, [&] { done = true; });
    EXPECT_EQ(slices.size(), 1u);
    EXPECT_FALSE(done);
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    EXPECT_EQ(slices, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 4}, {4, 8}, {8, 10}}));
    // Nothing to walk: done at once.
    bool empty = false;
    dispatchSlicesOnMain(0, 4, [](std::size_t, std::size_t) {}, [&] { empty = true; });
    EXPECT_TRUE(empty);
}

TEST(Queues, SerialQueueRunsOneJobAtATimeInOrder)
{
    SerialQueue queue(QStringLiteral("com.tolvane.test"));
    std::vector<int> order;
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            const int now = ++concurrent;
            maxConcurrent = std::max(maxConcurrent.load(), now);
            order.push_back(i);
            --concurrent;
        });
    }
    queue.waitUntilEmpty();
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_EQ(maxConcurrent, 1);
}

TEST(Queues, OperationQueueHonoursConcurrencyPriorityCancellationAndReRanking)
{
    OperationQueue queue(QStringLiteral("test"));
    queue.setMaxConcurrentOperationCount(1);
    queue.setSuspended(true);
    std::mutex mutex;
    std::vector<QString> ran;
    std::vector<QString> completed;
    auto make = [&](const QString& name, Operation::Priority priority) {
        auto op = BlockOperation::make([&, name] {
            std::lock_guard lock(mutex);
            ran.push_back(name);
        });
        op->setQueuePriority(priority);
        op->setCompletionBlock([&, name] {
            std::lock_guard lock(mutex);
            completed.push_back(name);
        });
        queue.addOperation(op);
        return op;
    };
    auto low = make(QStringLiteral("low"), Operation::Priority::Low);
    auto normal1 = make(QStringLiteral("normal1"), Operation::Priority::Normal);
    auto normal2 = make(QStringLiteral("normal2"), Operation::Priority::Normal);
    auto high = make(QStringLiteral("high"), Operation::Priority::High);
    auto cancelled = make(QStringLiteral("cancelled"), Operation::Priority::VeryHigh);
    cancelled->cancel();
    // Re-ranking a waiting operation moves it ahead of the others.
    low->setQueuePriority(Operation::Priority::VeryHigh);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();

    const std::vector<QString> expected{QStringLiteral("low"), QStringLiteral("high"), QStringLiteral("normal1"), QStringLiteral("normal2")};
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(completed.size(), 5u); // the cancelled one completes without running
    EXPECT_TRUE(cancelled->isFinished());
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(Queues, CancelledOperationsFinishOffTheCallerInTheOrderCancelledAndOneAtATime)
{
    // A scrolled grid cancels a screenful of waiting loads at once: each still completes,
    // never inside the caller, and the burst is finished by one job, in order, not by a job
    // per operation racing the others.
    OperationQueue queue(QStringLiteral("test"));
    queue.setSuspended(true);
    constexpr int count = 300;
    std::mutex mutex;
    std::vector<int> completed;
    std::atomic<int> concurrent{0};
    std::atomic<int> peak{0};
    std::atomic<bool> ranInCaller{false};
    std::atomic<bool> ran{false};
    const auto caller = std::this_thread::get_id();
    std::vector<OperationPtr> ops;
    for (int i = 0; i < count; ++i) {
        auto op = BlockOperation::make([&] { ran = true; });
        // Mixed priorities: each is found in its queue by its own key.
        op->setQueuePriority(i % 3 == 0 ? Operation::Priority::Low : (i % 3 == 1 ? Operation::Priority::Normal : Operation::Priority::High));
        op->setCompletionBlock([&, i] {
            const int now = ++concurrent;
            int seen = peak;
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            if (std::this_thread::get_id() == caller)
                ranInCaller = true;
            QThread::usleep(50);
            {
                std::lock_guard lock(mutex);
                completed.push_back(i);
            }
            --concurrent;
        });
        queue.addOperation(op);
        ops.push_back(op);
    }
    // Re-ranked while waiting, then cancelled: still found.
    ops[5]->setQueuePriority(Operation::Priority::VeryHigh);
    for (int i = count - 1; i >= 0; --i)
        ops[std::size_t(i)]->cancel();
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_FALSE(ran);
    EXPECT_FALSE(ranInCaller);
    EXPECT_EQ(peak, 1);
    std::vector<int> expected;
    for (int i = count - 1; i >= 0; --i)
        expected.push_back(i);
    EXPECT_EQ(completed, expected);
    for (const OperationPtr& op : ops)
        EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(queue.operationCount(), 0);
    // The queue goes on with new work afterwards.
    std::atomic<bool> later{false};
    queue.setSuspended(false);
    queue.addOperation([&] { later = true; });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(later);
}

TEST(Queues, OperationsAddedTogetherStartMostUrgentFirst)
{
    // One at a time and with room: added one by one, the first added would start at once;
    // added together, the most urgent start first. A cancelled one only completes.
    OperationQueue queue(QStringLiteral("test"));
    queue.setMaxConcurrentOperationCount(1);
    std::mutex mutex;
    std::vector<QString> ran;
    std::atomic<int> completions{0};
    std::vector<OperationPtr> ops;
    const std::pair<const char*, Operation::Priority> made[] = {
        {"low", Operation::Priority::Low}, {"normal", Operation::Priority::Normal}, {"cancelled", Operation::Priority::VeryHigh},
        {"very high", Operation::Priority::VeryHigh}, {"high", Operation::Priority::High}};
    for (const auto& [name, priority] : made) {
        auto op = BlockOperation::make([&, name = QString::fromLatin1(name)] {
            std::lock_guard lock(mutex);
            ran.push_back(name);
        });
        op->setQueuePriority(priority);
        op->setCompletionBlock([&] { ++completions; });
        ops.push_back(op);
    }
    ops[2]->cancel();
    queue.addOperations(ops);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, (std::vector<QString>{QStringLiteral("very high"), QStringLiteral("high"), QStringLiteral("normal"), QStringLiteral("low")}));
    EXPECT_EQ(completions, 5);
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(Queues, OperationQueueNeverExceedsItsMaximum)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(3);
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    for (int i = 0; i < 40; ++i) {
        queue.addOperation([&] {
            const int now = ++running;
            int seen = peak;
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            QThread::usleep(500);
            --running;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_LE(peak, 3);
    EXPECT_GE(peak, 2);
}

// Work nobody waits for goes to a few threads at the idle scheduling class, whichever way it
// is queued (a global queue at Background priority, a serial queue at that priority, an
// operation queue told so): a library's worth of it never holds more than those threads,
// and each yields the processors to the window.
TEST(Queues, BackgroundWorkRunsOnAFewThreadsAtTheIdleSchedulingClass)
{
    const int bound = backgroundThreadPool()->maxThreadCount();
    ASSERT_GE(bound, 1);
    ASSERT_LE(bound, kBackgroundThreadCount);

    SerialQueue serial(QStringLiteral("test background serial"), QueuePriority::Background);
    OperationQueue operations(QStringLiteral("test background operations"));
    operations.setRunsInBackground(true); // as many at once as the pool lets it
    struct Starter {
        const char* how;
        std::function<void(Job)> start;
    };
    const std::vector<Starter> starters{
        {"global queue at Background priority", [](Job job) { dispatchAsyncGlobal(std::move(job), QueuePriority::Background); }},
        {"serial queue at Background priority", [&](Job job) { serial.async(std::move(job)); }},
        {"operation queue run in the background", [&](Job job) { operations.addOperation(std::move(job)); }},
    };

    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    std::atomic<int> done{0};
    std::atomic<int> notIdle{0};
    std::atomic<int> notInPool{0};
    constexpr int kEach = 6;
    for (const Starter& starter : starters)
        for (int i = 0; i < kEach; ++i)
            starter.start([&] {
                if (sched_getscheduler(0) != SCHED_IDLE)
                    ++notIdle;
                if (!isBackgroundThread() || isMainThread())
                    ++notInPool;
                const int now = ++running;
                int seen = peak;
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                {
                    std::unique_lock lock(mutex);
                    opened.wait(lock, [&] { return open; });
                }
                --running;
                ++done;
            });
    // Every thread of the pool holds a job now; the others wait for one to end.
    ASSERT_TRUE(testsupport::waitUntil([&] { return running.load() == bound; }));
    EXPECT_EQ(backgroundThreadPool()->activeThreadCount(), bound);
    EXPECT_EQ(done.load(), 0);
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    opened.notify_all();
    ASSERT_TRUE(testsupport::waitUntil([&] { return done.load() == kEach * int(starters.size()); }, 30000));
    EXPECT_EQ(peak.load(), bound);
    EXPECT_EQ(notIdle.load(), 0);
    EXPECT_EQ(notInPool.load(), 0);
    // Work of the other queues stays off those threads.
    std::atomic<int> onBackground{-1};
    dispatchAsyncGlobal([&] { onBackground = isBackgroundThread() ? 1 : 0; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return onBackground.load() >= 0; }));
    EXPECT_EQ(onBackground.load(), 0);
    serial.waitUntilEmpty();
    operations.waitUntilAllOperationsAreFinished();
}

TEST(DelayedPerform, ANewRequestReplacesThePendingOneOfTheSameKind)
{
    int target = 0;
    std::vector<int> runs;
    for (int i = 0; i < 10; ++i)
        performAfterDelay(&target, QStringLiteral("saveLibrary"), Value(), 0.05, [&runs, i] { runs.push_back(i); });
    // Another argument is another kind of request.
    performAfterDelay(&target, QStringLiteral("saveLibrary"), Value(7), 0.05, [&runs] { runs.push_back(100); });
    ASSERT_TRUE(hasPendingPerformRequest(&target, QStringLiteral("saveLibrary"), Value()));
    ASSERT_TRUE(testsupport::waitUntil([&] { return runs.size() >= 2; }));
    QThread::msleep(100);
    QCoreApplication::processEvents();
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<int>{9, 100}));
    EXPECT_FALSE(hasPendingPerformRequest(&target, QStringLiteral("saveLibrary"), Value()));

    bool ran = false;
    performAfterDelay(&target, QStringLiteral("update"), Value("x"), 0.01, [&] { ran = true; });
    cancelPreviousPerformRequests(&target, QStringLiteral("update"), Value("x"));
    QThread::msleep(30);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

TEST(NotificationCenter, DeliversByNameAndSenderAndStopsAfterRemoval)
{
    NotificationCenter center;
    int sender = 0;
    int other = 0;
    int owner = 0;
    std::vector<QString> seen;
    center.addObserver(&owner, QStringLiteral("A"), nullptr, [&](const Notification& n) { seen.push_back(QStringLiteral("any-sender ") + n.name); });
    center.addObserver(&owner, QStringLiteral("A"), &sender, [&](const Notification&) { seen.push_back(QStringLiteral("from sender")); });
    const auto all = center.addObserver(&owner, QString(), nullptr, [&](const Notification& n) { seen.push_back(QStringLiteral("all ") + n.name); });
    center.postNotificationName(QStringLiteral("A"), &other);
    center.postNotificationName(QStringLiteral("B"), &sender, Dictionary::make({{"k", 1}}));
    center.postNotificationName(QStringLiteral("A"), &sender);
    center.removeObserver(all);
    center.postNotificationName(QStringLiteral("B"));
    center.removeObserver(&owner);
    center.postNotificationName(QStringLiteral("A"), &sender);
    const std::vector<QString> expected{QStringLiteral("any-sender A"), QStringLiteral("all A"), QStringLiteral("all B"),
                                        QStringLiteral("any-sender A"), QStringLiteral("from sender"), QStringLiteral("all A")};
    EXPECT_EQ(seen, expected);
}
