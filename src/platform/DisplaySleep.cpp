#include "platform/DisplaySleep.h"

#include <QtCore/QCoreApplication>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusReply>

namespace platform {

namespace {

const char* const kService = "org.freedesktop.ScreenSaver";
const char* const kPath = "/org/freedesktop/ScreenSaver";

bool screenSaverListens()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value();
}

} // namespace

unsigned int preventDisplaySleep(const QString& reason)
{
    if (!screenSaverListens())
        return 0;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kService),
                                                       QStringLiteral("Inhibit"));
    call << QCoreApplication::applicationName() << reason;
    const QDBusReply<unsigned int> reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    return reply.isValid() ? reply.value() : 0;
}

void allowDisplaySleep(unsigned int cookie)
{
    if (cookie == 0 || !QDBusConnection::sessionBus().isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kService),
                                                       QStringLiteral("UnInhibit"));
    call << cookie;
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}

} // namespace platform
