#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/Volumes.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "MountNamespace.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QUuid>
#include <QtTest/QSignalSpy>

#include <sys/mount.h>

using namespace platform;
using namespace testsupport;

namespace {

QString media()
{
    return volumeParentFolders().first(); // /media/<user>
}

QByteArray escaped(const QString& path)
{
    return path.toUtf8().replace("\\", "\\134").replace(" ", "\\040").replace("\t", "\\011");
}

// A mount table fixture in the test home, installed for the test's duration.
class FakeMountTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = makeTempDir(QStringLiteral("mounts"));
        m_table = m_dir + QStringLiteral("/mountinfo");
        // Device nodes and their by-uuid links, as udev lays them out.
        writeFile(m_dir + QStringLiteral("/dev/sdb1"), {});
        QDir().mkpath(m_dir + QStringLiteral("/by-uuid"));
        QFile::link(m_dir + QStringLiteral("/dev/sdb1"), m_dir + QStringLiteral("/by-uuid/ABCD-1234"));
        setMountInfoPath(m_table);
        setDiskByUUIDPath(m_dir + QStringLiteral("/by-uuid"));
    }
    void TearDown() override
    {
        setMountInfoPath({});
        setDiskByUUIDPath({});
    }
    void writeTable(const QList<QByteArray>& extraLines)
    {
        QByteArray text = "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                          "22 21 0:20 / /proc rw,nosuid shared:12 - proc proc rw\n"
                          "23 21 0:21 / /sys rw,nosuid shared:2 - sysfs sysfs rw\n";
        for (const QByteArray& line : extraLines)
            text += line + '\n';
        writeFile(m_table, text);
    }
    QByteArray diskLine(int id, const QString& mountPoint, const QByteArray& tail)
    {
        return QByteArray::number(id) + " 21 8:17 / " + escaped(mountPoint) + " rw,nosuid - " + tail;
    }
    QString m_dir;
    QString m_table;
};

} // namespace

TEST(Volumes, UnescapesMountInfoFields)
{
    const struct {
        const char* raw;
        const char* expected;
    } cases[] = {
        {"/media/u/My\\040Disk", "/media/u/My Disk"},
        {"a\\011b\\012c", "a\tb\nc"},
        {"back\\134slash", "back\\slash"},
        {"\\303\\251t\\303\\251", "été"},   // UTF-8 bytes written as escapes
        {"odd\\04", "odd\\04"},             // too short: kept as it is
        {"odd\\", "odd\\"},
        {"odd\\999", "odd\\999"},           // not octal
        {"nul\\000x", "nul\\000x"},         // a NUL never enters a path
    };
    for (const auto& c : cases)
        EXPECT_EQ(unescapeMountInfoField(QByteArrayView(c.raw)), QString::fromUtf8(c.expected)) << c.raw;
}

TEST(Volumes, VolumeRootsByPathText)
{
    const QString m = media();
    const struct {
        QString path;
        QString expected;
    } cases[] = {
        {m + QStringLiteral("/Disk/Movies/a.mov"), m + QStringLiteral("/Disk")},
        {m + QStringLiteral("/Disk"), m + QStringLiteral("/Disk")},
        {m + QStringLiteral("/Disk/"), m + QStringLiteral("/Disk")},
        {m, QStringLiteral("/")},
        {m + QStringLiteral("X/a"), QStringLiteral("/")},
        {QStringLiteral("/run/media/") + m.mid(7) + QStringLiteral("/Stick/a"), QStringLiteral("/run/media/") + m.mid(7) + QStringLiteral("/Stick")},
        {QStringLiteral("/mnt/Net/share/a.mov"), QStringLiteral("/mnt/Net")},
        {QStringLiteral("/mnt"), QStringLiteral("/")},
        {QStringLiteral("/mnt//Net/a.mov"), QStringLiteral("/mnt/Net")},
        {QStringLiteral("/home/../mnt/Net/./a.mov"), QStringLiteral("/mnt/Net")},
        {QStringLiteral("/mnt/Net/.."), QStringLiteral("/")},
        {QStringLiteral("/mnt/.Hidden/a.mov"), QStringLiteral("/mnt/.Hidden")},
        {QStringLiteral("/home/u/Movies/a.mov"), QStringLiteral("/")},
        {QStringLiteral("relative/mnt/x"), QStringLiteral("/")},
        {QString(), QStringLiteral("/")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(volumeRootForPath(c.path), c.expected) << c.path.toStdString();
}

TEST(Volumes, CleanAbsolutePaths)
{
    // Clean: absolute, with no empty, "." or ".." component and no trailing "/".
    for (const char* path : {"/", "/a", "/a/b.mov", "/.hidden/x", "/a/..b/c", "/a/b.", "/a/.../b", "/Été/ø"})
        EXPECT_TRUE(isCleanAbsolutePath(QString::fromUtf8(path))) << path;
    for (const char* path : {"relative", "", "//", "/a/", "/a//b", "/a/./b", "/a/../b", "/a/.", "/a/..", "/.", "/..", "./a", "~/a"})
        EXPECT_FALSE(isCleanAbsolutePath(QString::fromUtf8(path))) << path;
}

TEST_F(FakeMountTable, PresentAndAbsentVolumes)
{
    const QString m = media();
    writeTable({
        diskLine(30, m + QStringLiteral("/My Disk"), "vfat " + m_dir.toUtf8() + "/dev/sdb1 rw"),
        diskLine(31, QStringLiteral("/mnt/Net"), "nfs4 server:/export rw"),
        diskLine(32, m + QStringLiteral("/My Disk/inner"), "tmpfs tmpfs rw"),
        "garbage line without fields",
        "33 21 8:33 / relative rw - ext4 /dev/x rw",
        diskLine(34, m + QStringLiteral("/Twice"), "ext4 /dev/sdc1 rw"),
        diskLine(35, m + QStringLiteral("/Twice"), "ext4 /dev/sdd1 rw"),
    });
    std::vector<MountEntry> entries;
    QString error;
    ASSERT_TRUE(readMountTable(&entries, &error));
    EXPECT_EQ(entries.size(), 8u);
    const QByteArray table = readFile(m_table);
    parseMountInfo(table, &error);
    EXPECT_EQ(error, QStringLiteral("2 malformed mount table lines skipped"));

    const std::vector<Volume> volumes = mountedVolumes();
    ASSERT_EQ(volumes.size(), 4u);
    EXPECT_TRUE(volumes[0].isSystemVolume);
    EXPECT_EQ(volumes[0].path, QStringLiteral("/"));
    EXPECT_EQ(volumes[1].path, m + QStringLiteral("/My Disk"));
    EXPECT_EQ(volumes[1].name, QStringLiteral("My Disk"));
    EXPECT_EQ(volumes[1].identity, QStringLiteral("UUID:ABCD-1234"));
    EXPECT_EQ(volumes[2].path, QStringLiteral("/mnt/Net"));
    EXPECT_EQ(volumes[2].identity, QStringLiteral("nfs4:server:/export"));
    EXPECT_EQ(volumes[3].identity, QStringLiteral("ext4:/dev/sdd1")); // the later mount hides the earlier

    // Present means mounted: a folder that exists but holds no mount is absent.
    QDir().mkpath(m_dir + QStringLiteral("/Backup"));
    EXPECT_TRUE(isVolumeMounted(m + QStringLiteral("/My Disk")));
    EXPECT_TRUE(isVolumeMounted(m + QStringLiteral("/My Disk/")));
    EXPECT_TRUE(isVolumeMounted(QStringLiteral("/")));
    EXPECT_FALSE(isVolumeMounted(m + QStringLiteral("/Backup")));
    EXPECT_FALSE(isVolumeMounted(m + QStringLiteral("/My Disk/inner"))); // a mount, but not a volume
    EXPECT_FALSE(isVolumeMounted(QStringLiteral("/proc")));
    // Nothing may be created on a volume that is not there.
    EXPECT_TRUE(isPathOnMissingVolume(m + QStringLiteral("/Backup/Movies")));
    EXPECT_FALSE(isPathOnMissingVolume(m + QStringLiteral("/My Disk/Movies")));
    EXPECT_FALSE(isPathOnMissingVolume(QStringLiteral("/home/u/Movies")));

    Volume v;
    ASSERT_TRUE(getVolumeForPath(m + QStringLiteral("/My Disk/Movies/a.mov"), &v));
    EXPECT_EQ(v.path, m + QStringLiteral("/My Disk"));
    ASSERT_TRUE(getVolumeForPath(m + QStringLiteral("/Backup/a.mov"), &v));
    EXPECT_TRUE(v.isSystemVolume);
    EXPECT_FALSE(getVolumeForPath(QStringLiteral("relative"), &v));
}

TEST_F(FakeMountTable, UnreadableTableLeavesOnlyTheSystemVolume)
{
    setMountInfoPath(m_dir + QStringLiteral("/missing"));
    QString error;
    EXPECT_FALSE(readMountTable(nullptr, &error));
    EXPECT_FALSE(error.isEmpty());
    const std::vector<Volume> volumes = mountedVolumes();
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_TRUE(volumes[0].isSystemVolume);
}

TEST_F(FakeMountTable, WatcherReportsMountsAndUnmounts)
{
    const QString m = media();
    writeTable({diskLine(30, m + QStringLiteral("/My Disk"), "vfat /dev/sdb1 rw")});
    VolumeWatcher watcher;
    NotificationCenter center;
    QStringList posted;
    center.addObserver(this, QString(), &watcher, [&](const Notification& n) {
        posted << n.name + u' ' + n.userInfo->value(QString::fromLatin1(kVolumeDevicePathKey)).string();
    });
    watcher.setNotificationCenter(&center);
    QStringList mountedByCallback, unmountedByCallback;
    watcher.setCallbacks([&](const Volume& v) { mountedByCallback << v.name; }, [&](const Volume& v) { unmountedByCallback << v.name; });
    QSignalSpy mounted(&watcher, &VolumeWatcher::volumeMounted);
    QSignalSpy unmounted(&watcher, &VolumeWatcher::volumeUnmounted);
    watcher.start();
    EXPECT_TRUE(watcher.isWatching());

    watcher.rescan();
    EXPECT_EQ(mounted.count() + unmounted.count(), 0);

    writeTable({diskLine(31, m + QStringLiteral("/Stick\tA"), "exfat /dev/sdc1 rw")});
    watcher.rescan();
    ASSERT_EQ(mounted.count(), 1);
    EXPECT_EQ(mounted.at(0).at(0).toString(), m + QStringLiteral("/Stick\tA"));
    ASSERT_EQ(unmounted.count(), 1);
    EXPECT_EQ(unmounted.at(0).at(0).toString(), m + QStringLiteral("/My Disk"));
    EXPECT_EQ(mountedByCallback, QStringList{QStringLiteral("Stick\tA")});
    EXPECT_EQ(unmountedByCallback, QStringList{QStringLiteral("My Disk")});
    EXPECT_EQ(posted, (QStringList{QStringLiteral("NSWorkspaceDidUnmountNotification ") + m + QStringLiteral("/My Disk"),
                                   QStringLiteral("NSWorkspaceDidMountNotification ") + m + QStringLiteral("/Stick\tA")}));

    // A different disk at the same mount point is an unmount and a mount.
    writeTable({diskLine(32, m + QStringLiteral("/Stick\tA"), "exfat /dev/sde1 rw")});
    watcher.rescan();
    EXPECT_EQ(mounted.count(), 2);
    EXPECT_EQ(unmounted.count(), 2);
    watcher.stop();
    EXPECT_FALSE(watcher.isWatching());
}

TEST(Volumes, RealMountTableHasTheSystemVolume)
{
    const std::vector<Volume> volumes = mountedVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_TRUE(volumes[0].isSystemVolume);
    qint64 total = 0, available = 0;
    EXPECT_TRUE(getVolumeSizes(QStringLiteral("/"), &total, &available));
    EXPECT_GT(total, 0);
    // The kernel's change signal is watched on the real table.
    VolumeWatcher watcher;
    watcher.start();
    EXPECT_TRUE(watcher.isWatching());
}

TEST(Volumes, KernelReportsARealMount)
{
    if (!enterPrivateMountNamespace())
        GTEST_SKIP() << "mounting needs root and a private mount namespace";
    const QString point = QStringLiteral("/mnt/pellis-test-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    ASSERT_TRUE(QDir().mkpath(point));
    VolumeWatcher watcher;
    QSignalSpy mounted(&watcher, &VolumeWatcher::volumeMounted);
    QSignalSpy unmounted(&watcher, &VolumeWatcher::volumeUnmounted);
    watcher.start();
    EXPECT_FALSE(isVolumeMounted(point));
    ASSERT_EQ(mount("pellis-test", QFile::encodeName(point).constData(), "tmpfs", 0, "size=1m"), 0);
    EXPECT_TRUE(waitUntil([&] { return mounted.count() > 0; }, 5000));
    EXPECT_TRUE(isVolumeMounted(point));
    Volume v;
    EXPECT_TRUE(getVolume(point, &v));
    EXPECT_EQ(v.identity, QStringLiteral("tmpfs:pellis-test"));
    umount(QFile::encodeName(point).constData());
    EXPECT_TRUE(waitUntil([&] { return unmounted.count() > 0; }, 5000));
    EXPECT_FALSE(isVolumeMounted(point));
    ASSERT_GE(mounted.count(), 1);
    EXPECT_EQ(mounted.at(0).at(0).toString(), point);
}
