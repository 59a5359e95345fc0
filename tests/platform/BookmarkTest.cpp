#include "platform/Bookmark.h"
#include "platform/Volumes.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "MountNamespace.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QUuid>

#include <sys/mount.h>

#include <thread>
#include <vector>

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

namespace {

// An alias record of the given version: a fixed part of `header` bytes, then the fields.
QByteArray aliasRecord(int version, int header, const std::vector<std::pair<int, QByteArray>>& fields)
{
    QByteArray record(header, '\0');
    record[7] = char(version);
    for (const auto& [tag, data] : fields) {
        record.append(char(tag >> 8)).append(char(tag & 0xFF)).append(char(data.size() >> 8)).append(char(data.size() & 0xFF)).append(data);
        if (data.size() % 2)
            record.append('\0');
    }
    record.append("\xFF\xFF\0\0", 4);
    record[4] = char(record.size() >> 8);
    record[5] = char(record.size() & 0xFF);
    return record;
}

} // namespace

TEST(Bookmark, AliasRecordsOfOlderLibrariesGiveTheirPath)
{
    const struct {
        const char* why;
        QByteArray alias;
        const char* path; // nullptr: refused
    } cases[] = {
        {"path on another volume", aliasRecord(2, 150, {{2, "Disk:Films:a.mov"}, {18, "/Films/a.mov"}, {19, "/Volumes/Disk"}}), "/Volumes/Disk/Films/a.mov"},
        {"path on the start-up volume", aliasRecord(2, 150, {{18, "/Users/me/b.mov"}, {19, "/"}}), "/Users/me/b.mov"},
        {"only the classic path", aliasRecord(2, 150, {{0, "Films"}, {2, "Disk:Films:a/b.mov"}}), "/Films/a:b.mov"},
        {"newer record with a shorter fixed part", aliasRecord(3, 58, {{14, QByteArray(12, '\1')}, {18, "/Users/me/c.mov"}, {19, "/"}}), "/Users/me/c.mov"},
        {"no path among the fields", aliasRecord(2, 150, {{0, "Films"}}), nullptr},
        {"fields running past the record", aliasRecord(2, 150, {{18, "/Users/me/b.mov"}}).left(160), nullptr},
        {"unknown version", aliasRecord(9, 150, {{18, "/Users/me/b.mov"}}), nullptr},
        {"too short", QByteArray("\0\0\0", 3), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        QString path;
        QString error;
        EXPECT_EQ(pathFromAliasRecord(c.alias, &path, &error), c.path != nullptr) << error.toStdString();
        if (c.path)
            EXPECT_EQ(path, QString::fromUtf8(c.path));
        else
            EXPECT_FALSE(error.isEmpty());
    }
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

namespace {

// `count` files spread over three folders of `top`, each bookmarked.
void makeBookmarkedFiles(const QString& top, int count, QStringList* getPaths, std::vector<Bookmark>* getBookmarks)
{
    for (int i = 0; i < count; ++i) {
        const QString path = top + QStringLiteral("/Folder %1/Movie %2.mov").arg(i % 3).arg(i);
        writeFile(path, QByteArray::number(i));
        Bookmark b;
        ASSERT_TRUE(createBookmark(path, &b));
        getPaths->append(path);
        getBookmarks->push_back(b);
    }
}

} // namespace

TEST(BookmarkSearchSession, FindsFilesMovedTogetherByReadingEachFolderOnce)
{
    // A renamed folder of many movies: each resolution would search the tree again.
    const QString dir = makeTempDir(QStringLiteral("moved-together"));
    QStringList paths;
    std::vector<Bookmark> bookmarks;
    makeBookmarkedFiles(dir + QStringLiteral("/Movies"), 300, &paths, &bookmarks);
    ASSERT_TRUE(QDir().rename(dir + QStringLiteral("/Movies"), dir + QStringLiteral("/Films")));
    const auto movedPath = [&](int i) { return QString(paths[i]).replace(QStringLiteral("/Movies/"), QStringLiteral("/Films/")); };

    QStringList plain;
    for (int i = 0; i < 300; i += 23) {
        QString path;
        EXPECT_TRUE(resolveBookmark(bookmarks[size_t(i)], &path));
        plain.append(path);
    }
    // The limit of 10 entries keeps almost nothing: the searches then mostly read as without a session.
    for (const qsizetype limit : {kBookmarkSessionEntryLimit, qsizetype(10)}) {
        SCOPED_TRACE(limit);
        BookmarkSearchSession session(limit);
        const quint64 before = bookmarkSearchFolderReads();
        quint64 afterFirst = 0;
        for (int i = 0; i < 300; ++i) {
            QString path, error;
            bool stale = false;
            ASSERT_TRUE(resolveBookmark(bookmarks[size_t(i)], &path, &stale, &error)) << error.toStdString();
            EXPECT_EQ(path, movedPath(i));
            EXPECT_TRUE(stale);
            if (i % 23 == 0) {
                EXPECT_EQ(path, plain[i / 23]);
            }
            if (i == 0)
                afterFirst = bookmarkSearchFolderReads();
        }
        // Once the first was found, the others are looked for where their folder went
        // (beside it, or in another folder of "Films") before anything is searched.
        EXPECT_EQ(bookmarkSearchFolderReads(), afterFirst);
        // The test folder, "Films" and its three folders.
        if (limit == kBookmarkSessionEntryLimit) {
            EXPECT_LE(bookmarkSearchFolderReads() - before, 5u);
        }
    }
}

TEST(BookmarkSearchSession, GivesUpOnFilesDeletedTogetherAfterOneSearch)
{
    const QString dir = makeTempDir(QStringLiteral("deleted-together"));
    QStringList paths;
    std::vector<Bookmark> bookmarks;
    makeBookmarkedFiles(dir + QStringLiteral("/Movies"), 300, &paths, &bookmarks);
    // All but the last one; that one moves into a folder that every failed search reads.
    for (int i = 0; i < 299; ++i)
        ASSERT_TRUE(QFile::remove(paths[i]));
    QDir().mkpath(dir + QStringLiteral("/Elsewhere/deep"));
    ASSERT_TRUE(QFile::rename(paths[299], dir + QStringLiteral("/Elsewhere/deep/Kept.mov")));
    const Bookmark kept = bookmarks.back();
    bookmarks.pop_back();

    // One resolution searches up to the whole budget; the session's others start from the
    // same three folders and meet the same searches again.
    quint64 before = bookmarkSearchFolderReads();
    QString path, error;
    EXPECT_FALSE(resolveBookmark(bookmarks[0], &path, nullptr, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot find"))) << error.toStdString();
    const quint64 single = bookmarkSearchFolderReads() - before;
    ASSERT_GT(single, 0u);

    BookmarkSearchSession session;
    before = bookmarkSearchFolderReads();
    for (size_t i = 0; i < bookmarks.size(); ++i) {
        EXPECT_FALSE(resolveBookmark(bookmarks[i], &path, nullptr, &error)) << path.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("cannot find"))) << error.toStdString();
    }
    EXPECT_LT(bookmarkSearchFolderReads() - before, 3 * single);
    // The searches that found nothing are not run again, but what they saw still answers.
    ASSERT_TRUE(resolveBookmark(kept, &path, nullptr, &error)) << error.toStdString();
    EXPECT_EQ(path, dir + QStringLiteral("/Elsewhere/deep/Kept.mov"));
}

TEST(BookmarkSearchSession, BelongsToItsThreadAndAnInnerOneDefersToIt)
{
    const QString dir = makeTempDir(QStringLiteral("session-thread"));
    QStringList paths;
    std::vector<Bookmark> bookmarks;
    makeBookmarkedFiles(dir + QStringLiteral("/Movies"), 9, &paths, &bookmarks);
    ASSERT_TRUE(QDir().rename(dir + QStringLiteral("/Movies"), dir + QStringLiteral("/Films")));
    const auto movedPath = [&](int i) { return QString(paths[i]).replace(QStringLiteral("/Movies/"), QStringLiteral("/Films/")); };

    BookmarkSearchSession session;
    QString path;
    ASSERT_TRUE(resolveBookmark(bookmarks[0], &path));
    EXPECT_EQ(path, movedPath(0));

    // Another thread reads the folders again, for each file: it has no session.
    QString otherPaths[2];
    quint64 otherReads[2] = {};
    std::thread other([&] {
        for (int n = 0; n < 2; ++n) {
            const quint64 before = bookmarkSearchFolderReads();
            resolveBookmark(bookmarks[size_t(3 * n + 3)], &otherPaths[n]);
            otherReads[n] = bookmarkSearchFolderReads() - before;
        }
    });
    other.join();
    EXPECT_EQ(otherPaths[0], movedPath(3));
    EXPECT_EQ(otherPaths[1], movedPath(6));
    EXPECT_GT(otherReads[0], 0u);
    EXPECT_EQ(otherReads[1], otherReads[0]);

    // The folder of file 0 is known here; an inner session neither hides nor ends that.
    {
        BookmarkSearchSession inner;
        const quint64 before = bookmarkSearchFolderReads();
        ASSERT_TRUE(resolveBookmark(bookmarks[3], &path));
        EXPECT_EQ(path, movedPath(3));
        EXPECT_EQ(bookmarkSearchFolderReads(), before);
    }
    const quint64 before = bookmarkSearchFolderReads();
    ASSERT_TRUE(resolveBookmark(bookmarks[6], &path));
    EXPECT_EQ(path, movedPath(6));
    EXPECT_EQ(bookmarkSearchFolderReads(), before);
}
