// The clock of the controls' own timing (how long a press is held, how long a pressed
// look stays): one-shot timers on the main thread's event loop. Tests steer it: while
// steered, time stands still until the test advances it, and the timers that fall due
// then run in order, so that a test of a half-second hold takes no real time.
#pragma once

#include <QtCore/QTimer>

#include <functional>

namespace platform {

// Seconds since an arbitrary start; the steered time while a test steers the clock.
double eventClockNow();

// Runs its job once, after the delay, unless stopped first. Destroying it stops it.
class OneShotTimer {
public:
    OneShotTimer();
    ~OneShotTimer();
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;

    // Starts (or restarts) the timer.
    void start(double seconds, std::function<void()> job);
    void stop();
    bool isActive() const;

private:
    friend void advanceEventClockForTesting(double seconds);
    QTimer m_timer;
    std::function<void()> m_job;
    double m_deadline = -1; // steered mode: when it falls due; -1 when idle
};

// Tests: steer the clock (true) or give it back to real time (false).
void steerEventClockForTesting(bool steered);
// Tests: moves the steered clock on and runs the timers that fall due, earliest first.
void advanceEventClockForTesting(double seconds);

} // namespace platform
