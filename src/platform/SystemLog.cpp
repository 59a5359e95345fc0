#include "platform/SystemLog.h"

#include <QtCore/QDateTime>

#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex g_mutex;
SystemLogSink g_sink;
std::once_flag g_openOnce;
// openlog keeps the pointer, so the tag is a constant.
constexpr const char* kIdentifier = "Pellis";

} // namespace

QString systemLogIdentifier()
{
    return QString::fromLatin1(kIdentifier);
}

void setSystemLogSink(SystemLogSink sink)
{
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
}

void writeToSystemLog(const QString& line)
{
    {
        std::lock_guard lock(g_mutex);
        if (g_sink) {
            g_sink(line);
            return;
        }
    }
    std::call_once(g_openOnce, [] { openlog(kIdentifier, LOG_PID, LOG_USER); });
    const QByteArray utf8 = line.toUtf8();
    syslog(LOG_NOTICE, "%s", utf8.constData());
    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
    std::lock_guard lock(g_mutex);
    std::fprintf(stderr, "%s Pellis[%d] %s\n", stamp.constData(), int(getpid()), utf8.constData());
    std::fflush(stderr);
}

} // namespace platform
