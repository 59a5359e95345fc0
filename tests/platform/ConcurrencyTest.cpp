#include "platform/Collation.h"
#include "platform/ConcurrentApply.h"
#include "platform/ConcurrentQueue.h"

#include <QtCore/QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace platform;

TEST(ConcurrentApply, RunsEveryIndexOnceAlsoFromInsideABusyPool)
{
    std::vector<int> runs(10000);
    concurrentApply(runs.size(), [&](std::size_t i) { ++runs[i]; });
    EXPECT_TRUE(std::all_of(runs.begin(), runs.end(), [](int n) { return n == 1; }));
    concurrentApply(0, [](std::size_t) { FAIL(); });

    // Every pool thread calls in at once (nested calls): each call must finish although no
    // thread of the pool is free to help it.
    const int callers = 2 * QThreadPool::globalInstance()->maxThreadCount();
    std::atomic<long long> total{0};
    std::atomic<int> finished{0};
    concurrentApply(std::size_t(callers), [&](std::size_t) {
        std::atomic<long long> sum{0};
        concurrentApply(1000, [&](std::size_t i) { sum += (long long)i; });
        total += sum;
        ++finished;
    });
    EXPECT_EQ(finished.load(), callers);
    EXPECT_EQ(total.load(), (long long)callers * 999 * 1000 / 2);
}

TEST(ConcurrentQueue, BarrierWritesExcludeReaders)
{
    ConcurrentQueue queue(QStringLiteral("com.tolvane.Pellis.Test"));
    EXPECT_EQ(queue.label(), QStringLiteral("com.tolvane.Pellis.Test"));
    std::vector<int> values(64, 0);
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 2000; ++round) {
                if (t == 0) {
                    queue.barrierSync([&] {
                        for (int& v : values)
                            ++v;
                    });
                } else {
                    queue.sync([&] {
                        if (std::any_of(values.begin(), values.end(), [&](int v) { return v != values.front(); }))
                            torn = true;
                    });
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(torn);
    EXPECT_EQ(values.back(), 2000);
}

TEST(Collation, NumbersCompareByValueAndCaseOnlyBreaksTies)
{
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        {"Movie 2", "Movie 10", -1}, {"movie 2", "Movie 10", -1}, {"a", "B", -1}, {"b", "A", 1},
        {"x", "x", 0},               {"", "a", -1},               {"e", "\xC3\xA9", -1}, {"\xC3\xA9", "f", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " <> " << c.b);
        const QString a = QString::fromUtf8(c.a);
        const QString b = QString::fromUtf8(c.b);
        EXPECT_EQ(localizedStandardCompare(a, b), c.order);
        EXPECT_EQ(compareCollationKeys(localizedStandardCollationKey(a), localizedStandardCollationKey(b)), c.order);
    }
    // Case decides between texts that differ in nothing else, so the order is total.
    EXPECT_NE(localizedStandardCompare(u"abc", u"ABC"), 0);
}
