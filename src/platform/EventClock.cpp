#include "platform/EventClock.h"

#include <QtCore/QElapsedTimer>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

bool g_steered = false;
double g_steeredNow = 0;
std::vector<OneShotTimer*> g_steeredTimers;

QElapsedTimer& realClock()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock;
}

void forget(OneShotTimer* timer)
{
    g_steeredTimers.erase(std::remove(g_steeredTimers.begin(), g_steeredTimers.end(), timer), g_steeredTimers.end());
}

} // namespace

double eventClockNow()
{
    return g_steered ? g_steeredNow : realClock().nsecsElapsed() / 1e9;
}

OneShotTimer::OneShotTimer()
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        std::function<void()> job = std::move(m_job);
        m_job = nullptr;
        if (job)
            job();
    });
}

OneShotTimer::~OneShotTimer()
{
    stop();
}

void OneShotTimer::start(double seconds, std::function<void()> job)
{
    stop();
    m_job = std::move(job);
    if (g_steered) {
        m_deadline = g_steeredNow + std::max(0.0, seconds);
        g_steeredTimers.push_back(this);
    } else {
        m_timer.start(int(std::max(0.0, seconds) * 1000 + 0.5));
    }
}

void OneShotTimer::stop()
{
    m_timer.stop();
    if (m_deadline >= 0)
        forget(this);
    m_deadline = -1;
    m_job = nullptr;
}

bool OneShotTimer::isActive() const
{
    return m_timer.isActive() || m_deadline >= 0;
}

void steerEventClockForTesting(bool steered)
{
    g_steered = steered;
    g_steeredNow = 0;
}

void advanceEventClockForTesting(double seconds)
{
    const double target = g_steeredNow + seconds;
    for (;;) {
        auto due = std::min_element(g_steeredTimers.begin(), g_steeredTimers.end(),
                                    [](const OneShotTimer* a, const OneShotTimer* b) { return a->m_deadline < b->m_deadline; });
        if (due == g_steeredTimers.end() || (*due)->m_deadline > target)
            break;
        OneShotTimer* timer = *due;
        g_steeredTimers.erase(due);
        g_steeredNow = std::max(g_steeredNow, timer->m_deadline);
        timer->m_deadline = -1;
        std::function<void()> job = std::move(timer->m_job);
        timer->m_job = nullptr;
        if (job)
            job(); // may start timers again, even this one
    }
    g_steeredNow = target;
}

} // namespace platform
