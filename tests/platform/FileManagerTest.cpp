#include "platform/FileManager.h"
#include "platform/Alert.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QScopeGuard>
#include <QtDBus/QDBusConnection>

using namespace platform;
using namespace testsupport;

namespace {

// Records the URLs the desktop opener would have opened.
struct RecordingOpener {
    QList<QUrl> opened;
    RecordingOpener()
    {
        setURLOpenerForTesting([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
    }
    ~RecordingOpener() { setURLOpenerForTesting(nullptr); }
};

// A private message bus for one test, so that no real file manager is asked.
struct PrivateBus {
    QProcess daemon;
    QString address;
    PrivateBus() { address = startPrivateBus(daemon); }
    ~PrivateBus()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("pellis-client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("pellis-service"));
        setFileManagerBusForTesting({});
        daemon.kill();
        daemon.waitForFinished();
    }
};

} // namespace

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
    QStringList folders;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
    void ShowFolders(const QStringList& uris, const QString&) { folders += uris; }
};

TEST(FileManager, FallsBackToOpeningTheFolder)
{
    RecordingOpener opener;
    // A bus connection that does not exist stands for "no session bus".
    setFileManagerBusForTesting(QStringLiteral("pellis-no-such-bus"));
    EXPECT_FALSE(revealInFileManager({}));
    EXPECT_TRUE(revealInFileManager({QStringLiteral("/data/Movies/a.mov"), QStringLiteral("/data/Movies/b.mov"), QStringLiteral("/data/x.mov")}));
    EXPECT_TRUE(openFolderInFileManager(QStringLiteral("/data/Movies")));
    setFileManagerBusForTesting({});
    EXPECT_EQ(opener.opened, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/data/Movies")), QUrl::fromLocalFile(QStringLiteral("/data")),
                                          QUrl::fromLocalFile(QStringLiteral("/data/Movies"))}));
}

TEST(FileManager, SaysSoWhenNeitherAFileManagerNorTheDesktopOpensTheFolder)
{
    // No file manager and no program for folders (no xdg-open): something must show.
    QList<QUrl> asked;
    setURLOpenerForTesting([&](const QUrl& url) {
        asked.append(url);
        return false;
    });
    QList<Alert> alerts;
    setAlertHandler([&](const Alert& alert) {
        alerts.append(alert);
        return AlertResponse{};
    });
    const auto restore = qScopeGuard([] {
        setURLOpenerForTesting(nullptr);
        setAlertHandler(nullptr);
        setFileManagerBusForTesting({});
    });
    setFileManagerBusForTesting(QStringLiteral("pellis-no-such-bus"));
    EXPECT_TRUE(revealInFileManager({QStringLiteral("/data/Movies/a.mov")}));
    EXPECT_EQ(asked, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/data/Movies"))});
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts[0].messageText.contains(QStringLiteral("Movies"))) << alerts[0].messageText.toStdString();
    EXPECT_EQ(alerts[0].accessoryText, QStringLiteral("/data/Movies"));
}

TEST(FileManager, AsksTheFileManagerOnTheBus)
{
    // A file manager the desktop would start on demand: the test's bus must not start
    // it, or it would own the name before the test does.
    const QString started = makeTempDir(QStringLiteral("activation")) + QStringLiteral("/started");
    const QString services = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/dbus-1/services");
    ASSERT_TRUE(QDir().mkpath(services));
    const QString script = services + QStringLiteral("/file-manager.sh");
    writeFile(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(started).toUtf8());
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    writeFile(services + QStringLiteral("/org.freedesktop.FileManager1.service"),
        QStringLiteral("[D-BUS Service]\nName=org.freedesktop.FileManager1\nExec=%1\n").arg(script).toUtf8());
    const auto removeService = qScopeGuard([&] { QDir(services).removeRecursively(); });

    PrivateBus privateBus;
    if (privateBus.address.isEmpty())
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    QDBusConnection service = QDBusConnection::connectToBus(privateBus.address, QStringLiteral("pellis-service"));
    QDBusConnection client = QDBusConnection::connectToBus(privateBus.address, QStringLiteral("pellis-client"));
    ASSERT_TRUE(service.isConnected() && client.isConnected());
    setFileManagerBusForTesting(QStringLiteral("pellis-client"));
    RecordingOpener opener;

    // Nobody owns the name yet: the bus answers with an error, and the folder opens instead.
    EXPECT_TRUE(revealInFileManager({QStringLiteral("/data/My Movies/a b.mov")}));
    EXPECT_TRUE(waitUntil([&] { return !opener.opened.isEmpty(); }));
    EXPECT_EQ(opener.opened.value(0), QUrl::fromLocalFile(QStringLiteral("/data/My Movies")));
    EXPECT_FALSE(QFile::exists(started)) << "the bus started a file manager";

    FakeFileManager manager;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    opener.opened.clear();
    EXPECT_TRUE(revealInFileManager({QStringLiteral("/data/My Movies/a b.mov")}));
    EXPECT_TRUE(openFolderInFileManager(QStringLiteral("/data/Other")));
    EXPECT_TRUE(waitUntil([&] { return !manager.shown.isEmpty() && !manager.folders.isEmpty(); }));
    EXPECT_EQ(manager.shown, QStringList{QStringLiteral("file:///data/My%20Movies/a%20b.mov")});
    EXPECT_EQ(manager.folders, QStringList{QStringLiteral("file:///data/Other")});
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(opener.opened.isEmpty());
}

#include "FileManagerTest.moc"
