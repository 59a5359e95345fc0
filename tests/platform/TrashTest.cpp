#include "platform/FileOperations.h"
#include "platform/Trash.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>

#include <unistd.h>

using namespace platform;
using namespace testsupport;

TEST(Trash, TrashAndRestoreByHand)
{
    const QString dir = makeTempDir(QStringLiteral("trash"));
    const QString path = dir + QStringLiteral("/Old Movie.mov");
    writeFile(path, "bye");
    // The data folder may not exist yet on a fresh account ($XDG_DATA_HOME goes).
    QDir(QFileInfo(homeTrashPath()).path()).removeRecursively();

    QString inTrash, error;
    ASSERT_TRUE(moveToTrash(path, &inTrash, &error)) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(QFileInfo(inTrash).path(), homeTrashPath() + QStringLiteral("/files"));
    EXPECT_TRUE(isPathInTrash(inTrash));
    EXPECT_EQ(readFile(inTrash), "bye");

    // The record the file manager restores from.
    const QString info = homeTrashPath() + QStringLiteral("/info/") + QFileInfo(inTrash).fileName() + QStringLiteral(".trashinfo");
    const QString record = QString::fromUtf8(readFile(info));
    ASSERT_TRUE(record.startsWith(QStringLiteral("[Trash Info]"))) << record.toStdString();
    EXPECT_TRUE(record.contains(QStringLiteral("DeletionDate=")));
    const qsizetype at = record.indexOf(QStringLiteral("Path="));
    ASSERT_GE(at, 0);
    const QString stored = record.mid(at + 5).section(u'\n', 0, 0);
    EXPECT_EQ(QUrl::fromPercentEncoding(stored.toUtf8()), path);

    // Restore by hand, as a file manager does: move back, drop the record.
    ASSERT_TRUE(moveItem(inTrash, path, NameConflict::Fail, nullptr, &error)) << error.toStdString();
    ASSERT_TRUE(QFile::remove(info));
    EXPECT_EQ(readFile(path), "bye");

    // A second item of the same name gets a name of its own in the trash.
    ASSERT_TRUE(moveToTrash(path, &inTrash, &error));
    writeFile(path, "again");
    QString second;
    ASSERT_TRUE(moveToTrash(path, &second, &error));
    EXPECT_NE(second, inTrash);
    EXPECT_EQ(readFile(second), "again");
}

TEST(Trash, MissingItemFails)
{
    QString error;
    EXPECT_FALSE(moveToTrash(makeTempDir() + QStringLiteral("/none.mov"), nullptr, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(moveToTrash(QString(), nullptr, &error));
}

TEST(Trash, MisplacedItemIsMovedBack)
{
    // The failure this guards against: the item lands in "./files" of some folder and the
    // operation still answers success.
    const QString dir = makeTempDir(QStringLiteral("stray"));
    const QString path = dir + QStringLiteral("/Keep.mov");
    writeFile(path, "precious");
    setTrashImplementationForTesting([&](const QString& source, QString* getPathInTrash) {
        QDir().mkpath(dir + QStringLiteral("/cwd/files"));
        QDir().mkpath(dir + QStringLiteral("/cwd/info"));
        writeFile(dir + QStringLiteral("/cwd/info/Keep.mov.trashinfo"), "[Trash Info]\n");
        *getPathInTrash = dir + QStringLiteral("/cwd/files/Keep.mov");
        return QFile::rename(source, *getPathInTrash);
    });
    QString inTrash, error;
    EXPECT_FALSE(moveToTrash(path, &inTrash, &error));
    setTrashImplementationForTesting(nullptr);
    EXPECT_TRUE(inTrash.isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path), "precious");
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/cwd/files/Keep.mov")));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/cwd/info/Keep.mov.trashinfo")));

    const struct {
        const char* path;
        bool inTrash;
    } cases[] = {
        {"/media/u/Disk/.Trash-%1/files/a.mov", true},
        {"/media/u/Disk/.Trash/%1/files/a.mov", true},
        {"/media/u/Disk/.Trash-%1/info/a.mov", false},
        {"/home/u/files/a.mov", false},
        {"relative/Trash/files/a.mov", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isPathInTrash(QString::fromUtf8(c.path).arg(getuid())), c.inTrash) << c.path;
    EXPECT_TRUE(isPathInTrash(homeTrashPath() + QStringLiteral("/files/a.mov")));
}

TEST(Trash, LinkedDataFolderIsTheSameTrash)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QString real = makeTempDir(QStringLiteral("realdata"));
    const QString link = makeTempDir(QStringLiteral("links")) + QStringLiteral("/data");
    ASSERT_TRUE(QFile::link(real, link));
    qputenv("XDG_DATA_HOME", link.toUtf8());
    QDir().mkpath(real + QStringLiteral("/Trash/files"));
    const bool viaReal = isPathInTrash(real + QStringLiteral("/Trash/files/a.mov"));
    const bool viaLink = isPathInTrash(link + QStringLiteral("/Trash/files/a.mov"));
    const bool outside = isPathInTrash(real + QStringLiteral("/files/a.mov"));
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_TRUE(viaReal);
    EXPECT_TRUE(viaLink);
    EXPECT_FALSE(outside);
}
