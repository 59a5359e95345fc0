// User scripts: executables listed under a time key, run one after another and waited
// for. A script that cannot run or fails is logged and the caller goes on.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"

#include <QtCore/QFileInfo>
#include <QtCore/QProcess>

namespace {
// A script that runs longer than this is stopped, so that start-up and quit end.
constexpr int kScriptTimeLimitMilliseconds = 60 * 1000;
}

void PMMainController::runScriptsForTimeKey(const QString& timeKey)
{
    const platform::Value value = platform::UserDefaults::standard().objectForKey(timeKey);
    QStringList entries;
    if (value.isString())
        entries.append(value.string());
    else if (value.isArray())
        for (const platform::Value& entry : *value.array())
            entries.append(entry.isString() ? entry.string() : QString());
    for (const QString& entry : entries) {
        if (PMDebugLogEnabled())
            PMLog("[Debug] [%@] %@", timeKey, entry);
        if (entry.isEmpty())
            continue;
        const QString path = platform::stringByExpandingTildeInPath(entry);
        const QFileInfo info(path);
        if (!info.isFile() || !info.isExecutable())
            continue;
        if (PMDebugLogEnabled())
            PMLog("[Debug] [%@] - running...", timeKey);
        QProcess process;
        process.setProgram(path);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        bool finished = process.waitForStarted(kScriptTimeLimitMilliseconds) && process.waitForFinished(kScriptTimeLimitMilliseconds);
        if (!finished && process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
            PMLog("[%@] script <%@> ran too long and was stopped", timeKey, path);
        } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || process.error() == QProcess::FailedToStart) {
            PMLog("[%@] script <%@> failed (exit code %d)", timeKey, path, process.exitCode());
        }
        if (PMDebugLogEnabled()) {
            const QString result = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
            if (finished && process.exitCode() == 0 && !result.isEmpty())
                PMLog("[Debug] [%@] - result: <%@>", timeKey, result);
            else
                PMLog("[Debug] [%@] - no result", timeKey);
        }
    }
}
