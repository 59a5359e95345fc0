#include "platform/SaveFile.h"

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace platform;

namespace {

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(SaveFile, ReplacesTheFileAndKeepsItsPermissions)
{
    const QString dir = testsupport::makeTempDir();
    const QString path = dir + QStringLiteral("/index");
    ASSERT_EQ(saveFile(path, "old"), QString());
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_EQ(saveFile(path, "new contents"), QString());
    EXPECT_EQ(testsupport::readFile(path), "new contents");
    EXPECT_EQ(QFileInfo(path).permissions() & 0x0fff, QFileInfo(path).permissions() & 0x0fff);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(dir), QStringList{QStringLiteral("index")});
}

TEST(SaveFile, AFailedWriteLeavesTheOldFileAndNoLitter)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "a read-only folder does not stop root";
    const QString dir = testsupport::makeTempDir();
    const QString path = dir + QStringLiteral("/index");
    ASSERT_EQ(saveFile(path, "old"), QString());
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0500), 0);
    const QString error = saveFile(path, "new");
    ::chmod(QFile::encodeName(dir).constData(), 0700);
    EXPECT_TRUE(error.startsWith(QStringLiteral("cannot "))) << error.toStdString();
    EXPECT_EQ(testsupport::readFile(path), "old");
}

TEST(SaveFile, AFullDiskLeavesTheOldFileAndNoLitter)
{
    // A file-size limit makes the write fail part-way, as a full disk does.
    const QString dir = testsupport::makeTempDir();
    const QString path = dir + QStringLiteral("/index");
    ASSERT_EQ(saveFile(path, QByteArray(1000, 'a')), QString());
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = old;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const QString error = saveFile(path, QByteArray(100000, 'b'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(testsupport::readFile(path), QByteArray(1000, 'a'));
    EXPECT_EQ(entries(dir), QStringList{QStringLiteral("index")});
}

TEST(SaveFile, RefusesAFolderAndAMissingFolder)
{
    const QString dir = testsupport::makeTempDir();
    EXPECT_FALSE(saveFile(dir, "x").isEmpty());
    EXPECT_FALSE(saveFile(dir + QStringLiteral("/missing/file"), "x").isEmpty());
}
