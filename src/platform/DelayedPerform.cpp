#include "platform/DelayedPerform.h"

#include <algorithm>
#include <limits>

#include "platform/Queues.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>

#include <map>
#include <vector>

namespace platform {

namespace {

struct Pending {
    QString operation;
    Value argument;
    QTimer* timer;
};

// Touched on the main thread only.
std::map<const void*, std::vector<Pending>>& registry()
{
    static std::map<const void*, std::vector<Pending>> pending;
    return pending;
}

void cancelOnMain(const void* target, const QString& operation, const Value& argument)
{
    auto it = registry().find(target);
    if (it == registry().end())
        return;
    auto& list = it->second;
    for (auto p = list.begin(); p != list.end(); ++p) {
        if (p->operation == operation && p->argument == argument) {
            p->timer->stop();
            p->timer->deleteLater();
            list.erase(p);
            break;
        }
    }
    if (list.empty())
        registry().erase(it);
}

void onMain(std::function<void()> fn)
{
    if (isMainThread())
        fn();
    else
        dispatchAsyncMain(std::move(fn));
}

} // namespace

void performAfterDelay(const void* target, const QString& operation, const Value& argument, double delaySeconds, std::function<void()> job)
{
    onMain([=, job = std::move(job)]() mutable {
        cancelOnMain(target, operation, argument);
        auto* timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [target, operation, argument, timer, job = std::move(job)] {
            // Leave the registry before running, so the job may schedule itself again.
            auto it = registry().find(target);
            if (it != registry().end()) {
                auto& list = it->second;
                for (auto p = list.begin(); p != list.end(); ++p) {
                    if (p->timer == timer) {
                        list.erase(p);
                        break;
                    }
                }
                if (list.empty())
                    registry().erase(it);
            }
            timer->deleteLater();
            job();
        });
        registry()[target].push_back(Pending{operation, argument, timer});
        // A timer counts milliseconds in an int: a delay of more than 24 days fires then
        // (early) rather than overflowing into a negative interval that never fires.
        timer->start(int(std::clamp(delaySeconds * 1000.0 + 0.5, 0.0, double(std::numeric_limits<int>::max()))));
    });
}

void cancelPreviousPerformRequests(const void* target, const QString& operation, const Value& argument)
{
    onMain([=] { cancelOnMain(target, operation, argument); });
}

void cancelPreviousPerformRequests(const void* target)
{
    onMain([=] {
        auto it = registry().find(target);
        if (it == registry().end())
            return;
        for (Pending& p : it->second) {
            p.timer->stop();
            p.timer->deleteLater();
        }
        registry().erase(it);
    });
}

bool hasPendingPerformRequest(const void* target, const QString& operation, const Value& argument)
{
    bool found = false;
    dispatchSyncMain([&] {
        auto it = registry().find(target);
        if (it == registry().end())
            return;
        for (const Pending& p : it->second)
            if (p.operation == operation && p.argument == argument)
                found = true;
    });
    return found;
}

} // namespace platform
