#include "platform/ExtendedAttributes.h"
#include "platform/FileOperations.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using namespace testsupport;

namespace {

// Installs hooks for one test and removes them at its end.
struct ScopedHooks {
    FileOperationTestHooks hooks;
    ScopedHooks() { setFileOperationTestHooks(&hooks); }
    ~ScopedHooks() { setFileOperationTestHooks(nullptr); }
};

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(FileOperations, NumberedNames)
{
    const struct {
        const char* path;
        unsigned long long n;
        const char* expected;
    } cases[] = {
        {"/M/Movie.mov", 1, "/M/Movie 1.mov"},
        {"/M/Movie.mov", 2, "/M/Movie 2.mov"},
        {"/M/Extras", 1, "/M/Extras 1"},
        {"/M/Extras/", 3, "/M/Extras 3"},
        {"/M/archive.tar.gz", 1, "/M/archive.tar 1.gz"},
        {"/M/.hidden", 1, "/M/.hidden 1"},
        {"/M/Trailing.", 1, "/M/Trailing. 1"},
        {"/M.d/Movie", 1, "/M.d/Movie 1"},
        {"Holiday.mseq", 12, "Holiday 12.mseq"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numberedPath(QString::fromUtf8(c.path), c.n), QString::fromUtf8(c.expected)) << c.path;
    // Names at the 255-byte limit give way to the number, at a character boundary.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xAC"); // 4 bytes, two UTF-16 units
    const struct {
        QString name;
        unsigned long long n;
        QString expected;
    } longCases[] = {
        {QString(251, u'a') + QStringLiteral(".mov"), 12, QString(248, u'a') + QStringLiteral(" 12.mov")},
        {emoji.repeated(62) + QStringLiteral("b.mov"), 2, emoji.repeated(62) + QStringLiteral("b 2.mov")}, // 255 bytes: fits
        {QStringLiteral("ab") + emoji.repeated(62) + QStringLiteral(".mov"), 12, QStringLiteral("ab") + emoji.repeated(61) + QStringLiteral(" 12.mov")},
        {QStringLiteral("a.") + QString(253, u'x'), 3, QStringLiteral("a.") + QString(251, u'x') + QStringLiteral(" 3")},
    };
    for (const auto& c : longCases) {
        const QString numbered = numberedPath(QStringLiteral("/M/") + c.name, c.n);
        EXPECT_EQ(numbered, QStringLiteral("/M/") + c.expected) << c.name.toStdString();
        EXPECT_LE(numbered.mid(3).toUtf8().size(), 255);
    }
}

TEST(FileOperations, MoveNeverOverwrites)
{
    for (const bool withoutNoReplace : {false, true}) {
        ScopedHooks scoped;
        scoped.hooks.simulateNoReplaceUnsupported = withoutNoReplace;
        SCOPED_TRACE(withoutNoReplace ? "checked fallback" : "renameat2");
        const QString dir = makeTempDir(QStringLiteral("move"));
        writeFile(dir + QStringLiteral("/a.mov"), "new");
        writeFile(dir + QStringLiteral("/b.mov"), "old");
        writeFile(dir + QStringLiteral("/b 1.mov"), "older");

        QString error, finalPath;
        int err = 0;
        EXPECT_FALSE(renameWithoutReplacing(dir + QStringLiteral("/a.mov"), dir + QStringLiteral("/b.mov"), &error, &err));
        EXPECT_EQ(err, EEXIST);
        EXPECT_FALSE(moveItem(dir + QStringLiteral("/a.mov"), dir + QStringLiteral("/b.mov"), NameConflict::Fail, &finalPath, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("already exists"))) << error.toStdString();
        EXPECT_EQ(readFile(dir + QStringLiteral("/a.mov")), "new");
        EXPECT_EQ(readFile(dir + QStringLiteral("/b.mov")), "old");

        ASSERT_TRUE(moveItem(dir + QStringLiteral("/a.mov"), dir + QStringLiteral("/b.mov"), NameConflict::UseFreeName, &finalPath, &error))
            << error.toStdString();
        EXPECT_EQ(finalPath, dir + QStringLiteral("/b 2.mov"));
        EXPECT_EQ(readFile(finalPath), "new");
        EXPECT_EQ(readFile(dir + QStringLiteral("/b 1.mov")), "older");
        EXPECT_EQ(entries(dir), (QStringList{QStringLiteral("b 1.mov"), QStringLiteral("b 2.mov"), QStringLiteral("b.mov")}));

        // Folders: an existing folder, even an empty one, is never replaced.
        QDir().mkpath(dir + QStringLiteral("/F/sub"));
        QDir().mkpath(dir + QStringLiteral("/G"));
        EXPECT_FALSE(moveItem(dir + QStringLiteral("/F"), dir + QStringLiteral("/G"), NameConflict::Fail, &finalPath, &error));
        EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/F/sub")).isDir());
        ASSERT_TRUE(moveItem(dir + QStringLiteral("/F"), dir + QStringLiteral("/G"), NameConflict::UseFreeName, &finalPath, &error));
        EXPECT_EQ(finalPath, dir + QStringLiteral("/G 1"));
        EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/G 1/sub")).isDir());

        // A symbolic link, even one to nothing, is taken as much as a file is.
        ASSERT_TRUE(QFile::link(dir + QStringLiteral("/nowhere"), dir + QStringLiteral("/link.mov")));
        writeFile(dir + QStringLiteral("/c.mov"), "c");
        EXPECT_FALSE(moveItem(dir + QStringLiteral("/c.mov"), dir + QStringLiteral("/link.mov"), NameConflict::Fail, &finalPath, &error));
        EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/link.mov")).isSymLink());
        EXPECT_EQ(readFile(dir + QStringLiteral("/c.mov")), "c");
        QFile::remove(dir + QStringLiteral("/link.mov"));
        QFile::remove(dir + QStringLiteral("/c.mov"));

        // A move onto itself changes nothing; a missing source is an error.
        EXPECT_TRUE(moveItem(dir + QStringLiteral("/b.mov"), dir + QStringLiteral("/b.mov"), NameConflict::Fail, &finalPath, &error));
        EXPECT_EQ(readFile(dir + QStringLiteral("/b.mov")), "old");
        EXPECT_FALSE(moveItem(dir + QStringLiteral("/gone.mov"), dir + QStringLiteral("/x.mov"), NameConflict::Fail, &finalPath, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("does not exist")));
    }
}

TEST(FileOperations, CrossDeviceMoveCopiesFlushesAndRemovesSource)
{
    ScopedHooks scoped;
    scoped.hooks.simulateCrossDevice = true;
    const QString src = makeTempDir(QStringLiteral("src"));
    const QString dst = makeTempDir(QStringLiteral("dst"));

    // A file, with its modification time, permissions and attributes.
    writeFile(src + QStringLiteral("/Clip.mov"), QByteArray(3 * 1024 * 1024 + 17, 'm'));
    const bool xattrs = extendedAttributesSupported(src + QStringLiteral("/Clip.mov"));
    if (xattrs)
        setFileComment(src + QStringLiteral("/Clip.mov"), QStringLiteral("keep me"));
    const QDateTime mtime = QDateTime::fromSecsSinceEpoch(1500000000, Qt::UTC);
    {
        QFile f(src + QStringLiteral("/Clip.mov"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(mtime, QFileDevice::FileModificationTime));
    }
    chmod(QFile::encodeName(src + QStringLiteral("/Clip.mov")).constData(), 0640);
    writeFile(dst + QStringLiteral("/Clip.mov"), "taken");

    QString finalPath, error;
    ASSERT_TRUE(moveItem(src + QStringLiteral("/Clip.mov"), dst + QStringLiteral("/Clip.mov"), NameConflict::UseFreeName, &finalPath, &error))
        << error.toStdString();
    EXPECT_EQ(finalPath, dst + QStringLiteral("/Clip 1.mov"));
    EXPECT_FALSE(QFileInfo::exists(src + QStringLiteral("/Clip.mov")));
    const QFileInfo moved(finalPath);
    EXPECT_EQ(moved.size(), 3 * 1024 * 1024 + 17);
    EXPECT_EQ(moved.lastModified().toUTC(), mtime);
    EXPECT_EQ(moved.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther), QFile::ReadGroup);
    if (xattrs) {
        EXPECT_EQ(fileComment(finalPath), QStringLiteral("keep me"));
    }
    EXPECT_EQ(readFile(dst + QStringLiteral("/Clip.mov")), "taken");

    // A sequence folder with a nested file and a symbolic link.
    writeFile(src + QStringLiteral("/Trip.mseq/Trip 1.mov"), "one");
    writeFile(src + QStringLiteral("/Trip.mseq/sub/Trip 2.mov"), "two");
    ASSERT_TRUE(QFile::link(QStringLiteral("Trip 1.mov"), src + QStringLiteral("/Trip.mseq/first")));
    ASSERT_TRUE(moveItem(src + QStringLiteral("/Trip.mseq"), dst + QStringLiteral("/Trip.mseq"), NameConflict::Fail, &finalPath, &error))
        << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(src + QStringLiteral("/Trip.mseq")));
    EXPECT_EQ(readFile(dst + QStringLiteral("/Trip.mseq/sub/Trip 2.mov")), "two");
    EXPECT_EQ(QFileInfo(dst + QStringLiteral("/Trip.mseq/first")).symLinkTarget(), dst + QStringLiteral("/Trip.mseq/Trip 1.mov"));
    // No temporary copies are left behind.
    EXPECT_EQ(entries(dst), (QStringList{QStringLiteral("Clip 1.mov"), QStringLiteral("Clip.mov"), QStringLiteral("Trip.mseq")}));
}

TEST(FileOperations, FailedCrossDeviceCopyLeavesTheSource)
{
    ScopedHooks scoped;
    scoped.hooks.simulateCrossDevice = true;
    const QString src = makeTempDir(QStringLiteral("src"));
    const QString dst = makeTempDir(QStringLiteral("dst"));
    writeFile(src + QStringLiteral("/Clip.mov"), QByteArray(4096, 'c'));
    writeFile(src + QStringLiteral("/Seq/a.mov"), "a");

    const struct {
        const char* what;
        std::function<bool(const QString&, const QString&)> hook;
    } failures[] = {
        {"copy step fails", [](const QString&, const QString&) { return false; }},
        {"short copy", [](const QString&, const QString& temp) {
             QFileInfo info(temp);
             const QString file = info.isDir() ? temp + QStringLiteral("/a.mov") : temp;
             return QFile::resize(file, 0);
         }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.what);
        scoped.hooks.afterCopy = failure.hook;
        for (const char* name : {"Clip.mov", "Seq"}) {
            QString finalPath, error;
            const QString from = src + u'/' + QString::fromUtf8(name);
            EXPECT_FALSE(moveItem(from, dst + u'/' + QString::fromUtf8(name), NameConflict::UseFreeName, &finalPath, &error));
            EXPECT_FALSE(error.isEmpty());
            EXPECT_TRUE(QFileInfo::exists(from));
        }
        EXPECT_EQ(readFile(src + QStringLiteral("/Clip.mov")), QByteArray(4096, 'c'));
        EXPECT_EQ(readFile(src + QStringLiteral("/Seq/a.mov")), "a");
        EXPECT_TRUE(entries(dst).isEmpty()) << entries(dst).join(u',').toStdString();
    }
}

TEST(FileOperations, RealCrossDeviceMove)
{
    struct stat home, shm;
    if (stat(QFile::encodeName(testHome()).constData(), &home) != 0 || stat("/dev/shm", &shm) != 0 || home.st_dev == shm.st_dev
        || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "/dev/shm is not a separate writable file system here";
    const QString src = makeTempDir(QStringLiteral("src"));
    char pattern[] = "/dev/shm/pellis-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const QString other = QString::fromUtf8(pattern);

    writeFile(src + QStringLiteral("/Clip.mov"), "across");
    QString finalPath, error;
    int err = 0;
    EXPECT_FALSE(renameWithoutReplacing(src + QStringLiteral("/Clip.mov"), other + QStringLiteral("/Clip.mov"), &error, &err));
    EXPECT_EQ(err, EXDEV);
    ASSERT_TRUE(moveItem(src + QStringLiteral("/Clip.mov"), other + QStringLiteral("/Clip.mov"), NameConflict::Fail, &finalPath, &error))
        << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(src + QStringLiteral("/Clip.mov")));
    EXPECT_EQ(readFile(other + QStringLiteral("/Clip.mov")), "across");
    ASSERT_TRUE(copyItem(other + QStringLiteral("/Clip.mov"), src + QStringLiteral("/Clip.mov"), NameConflict::Fail, &finalPath, &error));
    EXPECT_EQ(readFile(src + QStringLiteral("/Clip.mov")), "across");
    EXPECT_TRUE(QFileInfo::exists(other + QStringLiteral("/Clip.mov")));
    EXPECT_FALSE(copyItem(other + QStringLiteral("/Clip.mov"), src + QStringLiteral("/Clip.mov"), NameConflict::Fail, &finalPath, &error));
    QDir(other).removeRecursively();
}
