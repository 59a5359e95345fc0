#include "platform/DisplaySleep.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

#include <algorithm>

namespace platform {

namespace {

const char* const kService = "org.freedesktop.ScreenSaver";
const char* const kPath = "/org/freedesktop/ScreenSaver";
constexpr double kFirstBackOff = 1.0;
constexpr double kLongestBackOff = 300.0;

struct State {
    bool wanted = false;
    bool pending = false;
    unsigned int cookie = 0;
    double nextAttempt = 0;
    double backOff = kFirstBackOff;
    int requests = 0;
    std::uint64_t generation = 0; // answers to requests of an earlier state are ignored
    std::function<double()> clock;
};

State& state()
{
    static State s;
    return s;
}

double now()
{
    State& s = state();
    if (s.clock)
        return s.clock();
    static QElapsedTimer steady = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return steady.nsecsElapsed() / 1e9;
}

QDBusMessage call(const char* member)
{
    return QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kService),
                                          QString::fromLatin1(member));
}

void release(unsigned int cookie)
{
    if (cookie == 0 || !QDBusConnection::sessionBus().isConnected())
        return;
    QDBusMessage message = call("UnInhibit");
    message << cookie;
    QDBusConnection::sessionBus().call(message, QDBus::NoBlock);
}

void failed()
{
    State& s = state();
    s.nextAttempt = now() + s.backOff;
    s.backOff = std::min(s.backOff * 2, kLongestBackOff);
}

} // namespace

void setKeepsDisplayAwake(bool awake, const QString& reason)
{
    State& s = state();
    s.wanted = awake;
    if (!awake) {
        release(s.cookie);
        s.cookie = 0;
        return;
    }
    if (s.cookie != 0 || s.pending || now() < s.nextAttempt)
        return;
    ++s.requests;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        failed();
        return;
    }
    QDBusMessage message = call("Inhibit");
    message << QCoreApplication::applicationName() << reason;
    s.pending = true;
    const std::uint64_t generation = s.generation;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 2000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, generation] {
        watcher->deleteLater();
        State& s = state();
        const QDBusPendingReply<unsigned int> reply = *watcher;
        if (generation != s.generation) {
            if (reply.isValid())
                release(reply.value());
            return;
        }
        s.pending = false;
        if (!reply.isValid() || reply.value() == 0) {
            failed();
            return;
        }
        s.backOff = kFirstBackOff;
        s.nextAttempt = 0;
        if (s.wanted)
            s.cookie = reply.value();
        else
            release(reply.value()); // let go meanwhile
    });
}

bool keepsDisplayAwake()
{
    return state().cookie != 0;
}

int displaySleepRequestCount()
{
    return state().requests;
}

bool isDisplaySleepRequestPending()
{
    return state().pending;
}

void setDisplaySleepClockForTesting(std::function<double()> clock)
{
    state().clock = std::move(clock);
}

void resetDisplaySleepForTesting()
{
    State& s = state();
    release(s.cookie);
    const std::uint64_t generation = s.generation + 1;
    std::function<double()> clock = std::move(s.clock);
    s = State();
    s.generation = generation;
    s.clock = std::move(clock);
}

} // namespace platform
