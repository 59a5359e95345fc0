#include "platform/Bookmark.h"
#include "platform/Volumes.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "MountNamespace.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QUuid>

#include <sys/mount.h>

using namespace platform;
using namespace testsupport;

TEST(Bookmark, ResolvesByPathThenByInode)
{
    const QString dir = makeTempDir(QStringLiteral("bookmarks"));
    writeFile(dir + QStringLiteral("/Movies/Clip.mov"), "clip");
    writeFile(dir + QStringLiteral("/Elsewhere/deep/other.mov"), "other");
    Bookmark b;
    QString error;
    ASSERT_TRUE(createBookmark(dir + QStringLiteral("/Movies/Clip.mov"), &b, &error)) << error.toStdString();
    EXPECT_EQ(b.volumePath, QStringLiteral("/"));

    QString path;
    bool stale = true;
    ASSERT_TRUE(resolveBookmark(b, &path, &stale));
    EXPECT_EQ(path, dir + QStringLiteral("/Movies/Clip.mov"));
    EXPECT_FALSE(stale);

    // Renamed in its folder.
    ASSERT_TRUE(QFile::rename(dir + QStringLiteral("/Movies/Clip.mov"), dir + QStringLiteral("/Movies/Renamed Clip.mov")));
    ASSERT_TRUE(resolveBookmark(b, &path, &stale, &error)) << error.toStdString();
    EXPECT_EQ(path, dir + QStringLiteral("/Movies/Renamed Clip.mov"));
    EXPECT_TRUE(stale);

    // Moved into another branch, and its old folder renamed away.
    ASSERT_TRUE(QFile::rename(dir + QStringLiteral("/Movies/Renamed Clip.mov"), dir + QStringLiteral("/Elsewhere/deep/Clip.mov")));
    ASSERT_TRUE(QDir().rename(dir + QStringLiteral("/Movies"), dir + QStringLiteral("/Films")));
    ASSERT_TRUE(resolveBookmark(b, &path, &stale, &error)) << error.toStdString();
    EXPECT_EQ(path, dir + QStringLiteral("/Elsewhere/deep/Clip.mov"));

    // Another file now at the recorded path: the path wins, and the bookmark is stale.
    writeFile(dir + QStringLiteral("/Movies/Clip.mov"), "impostor");
    ASSERT_TRUE(resolveBookmark(b, &path, &stale));
    EXPECT_EQ(path, dir + QStringLiteral("/Movies/Clip.mov"));
    EXPECT_TRUE(stale);

    // Gone for good.
    QFile::remove(dir + QStringLiteral("/Movies/Clip.mov"));
    QFile::remove(dir + QStringLiteral("/Elsewhere/deep/Clip.mov"));
    EXPECT_FALSE(resolveBookmark(b, &path, &stale, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(createBookmark(dir + QStringLiteral("/none"), &b, &error));
    EXPECT_FALSE(createBookmark(QStringLiteral("relative"), &b, &error));
}

TEST(Bookmark, AReusedInodeIsNotTheFile)
{
    // Once a file is deleted its inode number goes to the next new file: such a file must
    // never be taken for the bookmarked one.
    const QString dir = makeTempDir(QStringLiteral("reuse"));
    writeFile(dir + QStringLiteral("/sub/Newer.mov"), "newer file");
    Bookmark b;
    ASSERT_TRUE(createBookmark(dir + QStringLiteral("/sub/Newer.mov"), &b));
    b.path = dir + QStringLiteral("/sub/Deleted.mov");
    QString path;
    bool stale = false;
    ASSERT_TRUE(resolveBookmark(b, &path, &stale));
    EXPECT_EQ(path, dir + QStringLiteral("/sub/Newer.mov"));

    Bookmark other = b;
    if (other.birthTime != 0) {
        other.birthTime += 1;
        EXPECT_FALSE(resolveBookmark(other, &path, &stale));
    }
    // Without a birth time, the size and modification time decide.
    other = b;
    other.birthTime = 0;
    EXPECT_TRUE(resolveBookmark(other, &path, &stale));
    other.size += 1;
    EXPECT_FALSE(resolveBookmark(other, &path, &stale));
    other = b;
    other.birthTime = 0;
    other.modificationTime -= 1000000000;
    EXPECT_FALSE(resolveBookmark(other, &path, &stale));
    // At the recorded path, another file is reported as stale.
    other = b;
    other.path = dir + QStringLiteral("/sub/Newer.mov");
    other.birthTime = b.birthTime ? b.birthTime + 1 : 0;
    other.size = b.birthTime ? b.size : b.size + 1;
    ASSERT_TRUE(resolveBookmark(other, &path, &stale));
    EXPECT_TRUE(stale);
}

TEST(Bookmark, SerialisedFormsRoundTripAndRefuseBadInput)
{
    Bookmark b;
    b.path = QStringLiteral("/media/u/Disk/Movies/ä \"b\".mov");
    b.volumePath = QStringLiteral("/media/u/Disk");
    b.volumeIdentity = QStringLiteral("UUID:ABCD-1234");
    b.device = 2049;
    b.inode = 18446744073709551557ull; // beyond what a JSON number keeps exactly
    b.birthTime = 1700000000123456789;
    b.size = 5000000000;
    b.modificationTime = -5;
    Bookmark back;
    ASSERT_TRUE(Bookmark::fromData(b.toData(), &back));
    EXPECT_EQ(back.path, b.path);
    EXPECT_EQ(back.volumeIdentity, b.volumeIdentity);
    EXPECT_EQ(back.inode, b.inode);
    EXPECT_EQ(back.birthTime, b.birthTime);
    EXPECT_EQ(back.size, b.size);
    EXPECT_EQ(back.modificationTime, b.modificationTime);
    ASSERT_TRUE(Bookmark::fromValue(b.toValue(), &back));
    EXPECT_EQ(back.volumePath, b.volumePath);
    EXPECT_EQ(back.device, b.device);

    const char* bad[] = {
        "",
        "{",
        "[]",
        "{\"Version\":2,\"Path\":\"/a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":\"1\",\"Inode\":\"2\"}",
        "{\"Version\":1,\"Path\":\"a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":\"1\",\"Inode\":\"2\"}",
        "{\"Version\":1,\"Path\":\"/a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":\"1\",\"Inode\":\"-2\"}",
        "{\"Version\":1,\"Path\":\"/a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":1,\"Inode\":\"2\"}",
        "{\"Version\":1.5,\"Path\":\"/a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":\"1\",\"Inode\":\"2\"}",
        "{\"Version\":1,\"Path\":\"/a\"}",
        "{\"Version\":1,\"Path\":\"/a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":\"1\",\"Inode\":\"2\",\"Size\":3}",
        "{\"Version\":1,\"Path\":\"/a\",\"Volume Path\":\"/\",\"Volume Identity\":\"\",\"Device\":\"1\",\"Inode\":\"2\",\"Birth\":\"x\"}",
    };
    for (const char* data : bad) {
        QString error;
        EXPECT_FALSE(Bookmark::fromData(QByteArray(data), &back, &error)) << data;
        EXPECT_FALSE(error.isEmpty()) << data;
    }
    EXPECT_FALSE(Bookmark::fromData(QByteArray(100000, ' '), &back));
    EXPECT_FALSE(Bookmark::fromValue(Value(QStringLiteral("x")), &back));
}

TEST(Bookmark, FollowsItsVolumeToAnotherMountPoint)
{
    if (!enterPrivateMountNamespace())
        GTEST_SKIP() << "mounting needs root and a private mount namespace";
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString first = QStringLiteral("/mnt/pellis-disk-") + tag, second = first + QStringLiteral(" 1");
    ASSERT_TRUE(QDir().mkpath(first) && QDir().mkpath(second));
    const QByteArray source = "pellis-disk-" + tag.toUtf8();
    ASSERT_EQ(mount(source.constData(), QFile::encodeName(first).constData(), "tmpfs", 0, "size=1m"), 0);
    writeFile(first + QStringLiteral("/Movies/Clip.mov"), "clip");
    Bookmark b;
    ASSERT_TRUE(createBookmark(first + QStringLiteral("/Movies/Clip.mov"), &b));
    EXPECT_EQ(b.volumePath, first);
    EXPECT_EQ(b.volumeIdentity, QStringLiteral("tmpfs:") + QString::fromUtf8(source));

    // The same disk mounted at another place.
    ASSERT_EQ(mount(QFile::encodeName(first).constData(), QFile::encodeName(second).constData(), nullptr, MS_MOVE, nullptr), 0);
    QString path, error;
    bool stale = false;
    EXPECT_TRUE(resolveBookmark(b, &path, &stale, &error)) << error.toStdString();
    EXPECT_EQ(path, second + QStringLiteral("/Movies/Clip.mov"));
    EXPECT_TRUE(stale);

    // Not mounted: nothing, and no folder is created where it was.
    umount(QFile::encodeName(second).constData());
    EXPECT_FALSE(resolveBookmark(b, &path, &stale, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("not available"))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(first + QStringLiteral("/Movies")));
}
