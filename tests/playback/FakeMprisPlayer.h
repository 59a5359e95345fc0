// A stand-in for an external player that speaks MPRIS: its state is set by the test.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QVariantMap>
#include <QtDBus/QDBusAbstractAdaptor>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusObjectPath>

class FakeMprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QString Identity READ identity)
public:
    explicit FakeMprisRoot(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    QString desktopEntry() const { return entry; }
    QString identity() const { return QStringLiteral("Fake"); }
    QString entry;
};

class FakeMprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
public:
    explicit FakeMprisPlayer(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    QString playbackStatus() const { return status; }
    qlonglong position() const { return positionMicroseconds; }
    QVariantMap metadata() const { return data; }
    // Shows the file at the position (seconds) of its length (seconds).
    void show(const QString& path, double at, double length, bool playing)
    {
        status = playing ? QStringLiteral("Playing") : QStringLiteral("Paused");
        positionMicroseconds = qlonglong(at * 1e6);
        data = {{QStringLiteral("xesam:url"), QUrl::fromLocalFile(path).toString()},
                {QStringLiteral("mpris:length"), qlonglong(length * 1e6)},
                {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/track/1"))}};
    }
    QString status = QStringLiteral("Stopped");
    qlonglong positionMicroseconds = 0;
    QVariantMap data;
    int playCount = 0; // how often it was asked to play

public Q_SLOTS:
    void Play() { ++playCount; }
};
