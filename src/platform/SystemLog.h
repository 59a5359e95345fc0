// The system log: syslog(3) and standard error, safe from any thread.
#pragma once

#include <QtCore/QString>

#include <functional>

namespace platform {

void writeToSystemLog(const QString& line);
// The identifier the lines carry in the system log (syslog's tag, the journal's
// SYSLOG_IDENTIFIER).
QString systemLogIdentifier();

// Tests capture what reaches the system log; a null sink restores the real one.
using SystemLogSink = std::function<void(const QString& line)>;
void setSystemLogSink(SystemLogSink sink);

} // namespace platform
