// The program started for real on a private session bus: a throw-away home whose settings
// run a script when start-up has finished, so a shell can wait for the first copy.
#pragma once

#include "platform/PropertyList.h"

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QStandardPaths>

#include <csignal>
#include <functional>

namespace appsession {

struct Session {
    QString runSession; // dbus-run-session, empty when the machine has none
    QString program;
    QString home;
    QString ready; // made once the first copy has started
};

// `settings(home)` gives the user defaults to write; "Post-Startup Scripts" is added.
inline Session make(const std::function<platform::DictionaryPtr(const QString& home)>& settings)
{
    Session s;
    s.runSession = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    s.program = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/Pellis");
    s.home = testsupport::makeTempDir(QStringLiteral("home"));
    s.ready = s.home + QStringLiteral("/ready");
    // Every XDG folder inside the session's home, so that the machine's applications, icons
    // and settings never reach the program (the system-wide lists are the test's own,
    // inherited from the test main).
    for (const char* folder : {"/.config", "/.cache", "/.local/share", "/.local/state", "/runtime"})
        QDir().mkpath(s.home + QString::fromLatin1(folder));
    QFile::setPermissions(s.home + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString script = s.home + QStringLiteral("/ready.sh");
    testsupport::writeFile(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(s.ready).toUtf8());
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    platform::DictionaryPtr defaults = settings(s.home);
    defaults->setValue(QStringLiteral("Post-Startup Scripts"), platform::Value(script));
    testsupport::writeFile(s.home + QStringLiteral("/.config/Pellis/com.tolvane.Pellis.plist"),
                           platform::writeBinaryPropertyList(platform::Value(defaults)));
    return s;
}

// The environment of a copy started directly (not through the shell of `run`): the
// session's home and settings, no screen, no single-instance check.
inline QProcessEnvironment environment(const Session& s)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), s.home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), s.home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), s.home + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), s.home + QStringLiteral("/.local/share"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), s.home + QStringLiteral("/.local/state"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), s.home + QStringLiteral("/runtime"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("com.tolvane.MultipleApplicationInstanceCheck"), QStringLiteral("skip"));
    return environment;
}

// The program started directly (no screen); once start-up is over `meanwhile` runs, and
// then the session ends it (SIGTERM). Whether it ended within `timeoutMs` (else it is
// killed), how, and what it wrote.
struct Ending {
    bool started = false;
    bool ended = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray output;
};

inline Ending startThenTerminate(const Session& s, int timeoutMs, const std::function<void()>& meanwhile = {})
{
    Ending ending;
    QProcess process;
    process.setProcessEnvironment(environment(s));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(s.program, {});
    if (!process.waitForStarted(10000) || !testsupport::waitUntil([&] { return QFileInfo::exists(s.ready); }, 120000)) {
        process.kill();
        process.waitForFinished(5000);
        ending.output = process.readAll();
        return ending;
    }
    ending.started = true;
    if (meanwhile)
        meanwhile();
    ::kill(pid_t(process.processId()), SIGTERM);
    ending.ended = process.waitForFinished(timeoutMs);
    if (!ending.ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    ending.status = process.exitStatus();
    ending.output = process.readAll();
    return ending;
}

// Runs `shell` with $1 = home, $2 = program, $3 = the ready file and then `extra`.
inline testsupport::ProcessResult run(const Session& s, const QString& shell, const QStringList& extra = {})
{
    // A bus of its own, which starts no desktop service on demand.
    QStringList args{QStringLiteral("--config-file=") + testsupport::privateBusConfigFile(), QStringLiteral("--"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), shell, QStringLiteral("sh"), s.home, s.program, s.ready};
    args += extra;
    return testsupport::runProcess(s.runSession, args, {}, 120000);
}

// The program on a virtual screen of its own (xvfb-run), where alerts are shown and wait
// for an answer: `shell` runs as with `run`. Empty when the machine has no xvfb-run.
inline QString screenRunner()
{
    return QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
}

inline testsupport::ProcessResult runOnScreen(const Session& s, const QString& shell, const QStringList& extra = {})
{
    QStringList args{QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x1024x24 +extension GLX"),
                     QStringLiteral("/bin/sh"), QStringLiteral("-c"), shell, QStringLiteral("sh"), s.home, s.program, s.ready};
    args += extra;
    if (s.runSession.isEmpty())
        return testsupport::runProcess(screenRunner(), args, {}, 300000);
    args.prepend(screenRunner());
    args.prepend(QStringLiteral("--"));
    return testsupport::runProcess(s.runSession, args, {}, 300000);
}

// Shell functions for `run` and `runOnScreen`: `start ARGS` starts the program in the
// session's home ($H), its pid in $pid and its errors in $H/log; `waitfor CONDITION` waits
// up to 90 s; `ends` waits up to 90 s for the program to end and says "exit=N", or "hung"
// (and kills it).
inline const char* kShellFunctions = R"SH(
H="$1"; PROG="$2"; READY="$3"; shift 3
export HOME="$H" XDG_CONFIG_HOME="$H/.config" XDG_CACHE_HOME="$H/.cache" XDG_DATA_HOME="$H/.local/share" XDG_STATE_HOME="$H/.local/state"
export XDG_RUNTIME_DIR="$H/runtime"
start() {
    rm -f "$H/status" "$H/pid"
    ( env com.tolvane.MultipleApplicationInstanceCheck=skip "$PROG" "$@" 2>"$H/log" & echo $! >"$H/pid"; wait $!; echo $? >"$H/status" ) &
    while [ ! -s "$H/pid" ]; do sleep 0.05; done
    pid=$(cat "$H/pid")
}
waitfor() { i=0; until eval "$1"; do i=$((i+1)); [ $i -gt 900 ] && return 1; sleep 0.1; done; return 0; }
ends() { if waitfor '[ -s "$H/status" ]'; then echo "exit=$(cat "$H/status")"; else echo hung; kill -9 $pid; sleep 1; fi; }
)SH";

} // namespace appsession
