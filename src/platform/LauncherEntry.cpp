#include "platform/LauncherEntry.h"

#include "platform/DistributedNotifications.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include <algorithm>

namespace platform {

QVariantMap launcherEntryProperties(std::int64_t count, double progress)
{
    const bool showsCount = count > 0;
    const bool showsProgress = progress >= 0;
    return {
        {QStringLiteral("count"), qint64(showsCount ? count : 0)},
        {QStringLiteral("count-visible"), showsCount},
        {QStringLiteral("progress"), showsProgress ? std::min(progress, 1.0) : 0.0},
        {QStringLiteral("progress-visible"), showsProgress},
        {QStringLiteral("urgent"), count < 0},
    };
}

QString launcherEntryURI(const QString& desktopFileName)
{
    QString name = desktopFileName;
    if (!name.endsWith(QLatin1String(".desktop")))
        name += QLatin1String(".desktop");
    return QStringLiteral("application://") + name;
}

bool updateLauncherEntry(const QString& desktopFileName, std::int64_t count, double progress)
{
    QDBusConnection bus = distributedNotificationBus();
    if (!bus.isConnected() || desktopFileName.isEmpty())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kLauncherEntryPath), QString::fromLatin1(kLauncherEntryInterface),
                                                     QStringLiteral("Update"));
    signal << launcherEntryURI(desktopFileName) << launcherEntryProperties(count, progress);
    return bus.send(signal);
}

} // namespace platform
