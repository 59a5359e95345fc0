// Helpers shared by the test executables.
#pragma once

#include <QtCore/QByteArray>

class QProcess;
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>

#include "platform/Value.h"

#include <QtCore/QStringList>

// Lets GoogleTest print our values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']'; }
namespace platform {
inline void PrintTo(const Value& v, std::ostream* os) { *os << v.description().toStdString(); }
inline void PrintTo(const Date& d, std::ostream* os) { *os << "Date(" << std::fixed << d.secondsSince1970 << ')'; }
} // namespace platform

namespace testsupport {

// The fresh temporary home of the running test (HOME and the XDG dirs lie inside it).
QString testHome();
// Puts back what earlier tests of the process left in the program's process-wide state
// (the controller, the settings, pending delayed work); the test main calls it before
// every test.
void resetProcessState();
// A new empty folder inside the test home.
QString makeTempDir(const QString& hint = QStringLiteral("dir"));
// Writes bytes to a file, creating folders; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
// Runs a program to completion (python3, ffmpeg, ...) with the given standard input.
ProcessResult runProcess(const QString& program, const QStringList& args, const QByteArray& input = {}, int timeoutMs = 60000);

// Captures what reaches the system log while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    QStringList lines() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Starts a private message bus daemon in the process and answers its address; empty when
// the machine has no dbus-daemon or it did not start. Such a bus starts no service by
// itself: a session bus would start the desktop's own file manager or portal when a test
// asks for one, which then owns the name the test means to own.
QString startPrivateBus(QProcess& daemon);
// The configuration of such a bus (for `dbus-run-session --config-file=`).
QString privateBusConfigFile();

// Gives a variable a value for a scope and puts the old one back when the scope ends, also
// when a failed assertion leaves the test early (a controller field, a process-wide flag).
template <typename T>
struct ScopedStoredType {
    using type = T;
};
template <typename U>
struct ScopedStoredType<std::atomic<U>> {
    using type = U;
};
template <typename T>
class ScopedAssignment {
public:
    template <typename V>
    ScopedAssignment(T& target, V&& value)
        : m_target(target)
        , m_old(static_cast<typename ScopedStoredType<T>::type>(target))
    {
        m_target = std::forward<V>(value);
    }
    ~ScopedAssignment() { m_target = std::move(m_old); }
    ScopedAssignment(const ScopedAssignment&) = delete;
    ScopedAssignment& operator=(const ScopedAssignment&) = delete;

private:
    T& m_target;
    typename ScopedStoredType<T>::type m_old;
};

// Spins the event loop until the condition holds or the time runs out.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Spins the event loop until what was queued before the call has run: posted events,
// queued calls and timers of no delay (they run in the order they were started). A test
// that checks that something did not happen checks after this rather than after a sleep.
void runQueuedWork();

} // namespace testsupport
