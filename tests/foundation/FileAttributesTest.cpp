#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "platform/Alert.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileManager.h"
#include "platform/SystemLog.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>

#include <mutex>

using namespace platform;
using namespace testsupport;

namespace {


QString attributeFile(const char* name)
{
    const QString path = makeTempDir(QStringLiteral("attr")) + u'/' + QString::fromUtf8(name);
    writeFile(path, "movie");
    return path;
}

const QString kComment = QString::fromLatin1(PMFinderCommentAttributeName);
const QString kWhereFroms = QString::fromLatin1(PMWhereFromsAttributeName);

#define SKIP_WITHOUT_XATTRS(path)                                                                  \
    if (!extendedAttributesSupported(path))                                                        \
        GTEST_SKIP() << "the test file system keeps no user extended attributes";

// Makes every move to the Trash fail, and answers alerts, for one test.
struct FailingTrash {
    QList<Alert> alerts;
    AlertResponse answer;
    FailingTrash()
    {
        setTrashImplementationForTesting([](const QString&, QString*) { return false; });
        setAlertHandler([this](const Alert& alert) {
            alerts.append(alert);
            return answer;
        });
        clearDefaults();
    }
    ~FailingTrash()
    {
        setTrashImplementationForTesting(nullptr);
        setAlertHandler(nullptr);
        clearDefaults();
    }
    static void clearDefaults()
    {
        for (const char* key : {"Delete If Trashing Fails (Always Apply)", "Delete If Trashing Fails (Apply To All)",
                                "Keep If Trashing Fails (Apply To All)", "Show File Extensions"})
            UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
    }
};

} // namespace

TEST(FileAttributes, CommentAndDownloadSource)
{
    const QString path = attributeFile("Clip.mov");
    SKIP_WITHOUT_XATTRS(path);
    EXPECT_FALSE(spotlightComment(path).has_value());

    const QString comment = QStringLiteral("He said \"hi\" \\ and left");
    ASSERT_TRUE(setSpotlightComment(path, comment));
    EXPECT_EQ(spotlightComment(path).value_or(QString()), comment);
    // Stored where other programs read it, as plain text.
    QByteArray raw;
    ASSERT_TRUE(getExtendedAttribute(path, "user.xdg.comment", &raw));
    EXPECT_EQ(raw, comment.toUtf8());
    EXPECT_FALSE(setSpotlightComment(path, QString()));

    ASSERT_TRUE(setSourceURLString(path, QStringLiteral("https://example.org/clip.mov"), true));
    EXPECT_EQ(spotlightComment(path).value_or(QString()), QStringLiteral("https://example.org/clip.mov"));
    const Value source = valueForExtendedFileAttribute(path, kWhereFroms);
    ASSERT_TRUE(source.isArray());
    EXPECT_EQ(source.array()->count(), 1);
    EXPECT_EQ(source.array()->value(0).string(), QStringLiteral("https://example.org/clip.mov"));
    ASSERT_TRUE(getExtendedAttribute(path, "user.xdg.origin.url", &raw));
    EXPECT_EQ(raw, "https://example.org/clip.mov");
    EXPECT_FALSE(setSourceURLString(path, QString(), false));

    // A blob that is not text is no comment.
    ASSERT_TRUE(setExtendedAttribute(path, "user.xdg.comment", QByteArray("\xff\xfe\x00x", 4)));
    EXPECT_FALSE(spotlightComment(path).has_value());
    ASSERT_TRUE(setExtendedAttribute(path, "user.xdg.comment", QByteArray("ok\0", 3)));
    EXPECT_EQ(spotlightComment(path).value_or(QString()), QStringLiteral("ok"));
}

TEST(FileAttributes, OtherAttributesArePropertyLists)
{
    const QString path = attributeFile("Clip.mov");
    SKIP_WITHOUT_XATTRS(path);
    const Value value = Dictionary::make({{QStringLiteral("Rating"), Value(4)}, {QStringLiteral("Tags"), Array::make({Value("a")})}});
    ASSERT_TRUE(setValue(path, value, QStringLiteral("com.tolvane.Pellis.test")));
    EXPECT_EQ(valueForExtendedFileAttribute(path, QStringLiteral("com.tolvane.Pellis.test")), value);
    EXPECT_TRUE(dataForExtendedFileAttribute(path, QStringLiteral("com.tolvane.Pellis.test"))->startsWith("bplist00"));
    EXPECT_TRUE(extendedAttributeNames(path).contains("user.com.tolvane.Pellis.test"));

    ASSERT_TRUE(setData(path, "not a property list", QStringLiteral("com.tolvane.Pellis.test")));
    EXPECT_TRUE(valueForExtendedFileAttribute(path, QStringLiteral("com.tolvane.Pellis.test")).isNull());
    EXPECT_FALSE(setData(path, QByteArray(), QStringLiteral("x")));
    EXPECT_FALSE(setData(path, "x", QString()));
    EXPECT_FALSE(setData(path + QStringLiteral(".gone"), "x", QStringLiteral("x")));
    EXPECT_FALSE(setValue(path, Value(), QStringLiteral("x")));
    EXPECT_FALSE(setValue(path, Value(3), kComment));
    EXPECT_FALSE(dataForExtendedFileAttribute(path, QStringLiteral("com.tolvane.none")).has_value());
    EXPECT_FALSE(dataForExtendedFileAttribute(path + QStringLiteral(".gone"), kComment).has_value());

    // A symbolic link's target is not read through the link.
    const QString link = path + QStringLiteral(".link");
    ASSERT_TRUE(QFile::link(path, link));
    setSpotlightComment(path, QStringLiteral("target"));
    EXPECT_FALSE(spotlightComment(link).has_value());
}

TEST(FileAttributes, RenameNeverReplaces)
{
    const QString dir = makeTempDir(QStringLiteral("rename"));
    writeFile(dir + QStringLiteral("/a.mov"), "a");
    writeFile(dir + QStringLiteral("/b.mov"), "b");
    EXPECT_TRUE(setFilename(dir + QStringLiteral("/a.mov"), QStringLiteral("c \"d\".mov")));
    EXPECT_EQ(readFile(dir + QStringLiteral("/c \"d\".mov")), "a");
    EXPECT_FALSE(setFilename(dir + QStringLiteral("/c \"d\".mov"), QStringLiteral("b.mov")));
    EXPECT_EQ(readFile(dir + QStringLiteral("/b.mov")), "b");
    for (const char* bad : {"", ".", "..", "x/y.mov"})
        EXPECT_FALSE(setFilename(dir + QStringLiteral("/b.mov"), QString::fromUtf8(bad))) << bad;
    EXPECT_FALSE(setFilename(dir + QStringLiteral("/none.mov"), QStringLiteral("x.mov")));
    EXPECT_TRUE(setFilename(dir + QStringLiteral("/b.mov"), QStringLiteral("b.mov")));
}

TEST(FileAttributes, TrashSucceeds)
{
    const QString path = attributeFile("Trash Me.mov");
    EXPECT_TRUE(moveFileToTrashOrDeleteWithoutAsking(path, false, false));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(moveFileToTrashOrDeleteWithoutAsking(path, true, false));
}

TEST(FileAttributes, TrashFailureKeepsOrDeletes)
{
    FailingTrash trash;
    testsupport::LogCapture log;

    // Kept for the batch without asking.
    const QString kept = attributeFile("Kept.mov");
    UserDefaults::standard().setBool(true, QStringLiteral("Keep If Trashing Fails (Apply To All)"));
    EXPECT_FALSE(moveFileToTrashOrDeleteWithoutAsking(kept, false, true));
    EXPECT_TRUE(QFileInfo::exists(kept));
    EXPECT_TRUE(trash.alerts.isEmpty());
    EXPECT_TRUE(log.lines().contains(QStringLiteral("keeping <%1>").arg(kept)));
    FailingTrash::clearDefaults();

    // Asked: keeping is the default answer.
    trash.answer = AlertResponse{0, false};
    EXPECT_FALSE(moveFileToTrashOrDeleteWithoutAsking(kept, false, false));
    ASSERT_EQ(trash.alerts.size(), 1);
    EXPECT_EQ(trash.alerts[0].messageText, QStringLiteral("Cannot Move \"Kept\" to Trash"));
    EXPECT_EQ(trash.alerts[0].informativeText, QStringLiteral("You can either keep the file for now or try to delete it for good."));
    EXPECT_EQ(trash.alerts[0].buttons, (QStringList{QStringLiteral("Keep File"), QStringLiteral("Delete File")}));
    EXPECT_FALSE(trash.alerts[0].showsSuppressionButton);
    EXPECT_TRUE(QFileInfo::exists(kept));

    // "Delete File" with "Apply to all": this one and the rest of the batch go without asking.
    const QString first = attributeFile("First.mov");
    const QString second = makeTempDir(QStringLiteral("folder")) + QStringLiteral("/Second");
    writeFile(second + QStringLiteral("/inner/x.mov"), "x");
    trash.answer = AlertResponse{1, true};
    EXPECT_TRUE(moveFileToTrashOrDeleteWithoutAsking(first, false, true));
    ASSERT_EQ(trash.alerts.size(), 2);
    EXPECT_TRUE(trash.alerts[1].showsSuppressionButton);
    EXPECT_EQ(trash.alerts[1].suppressionButtonTitle, QStringLiteral("Apply to all"));
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_TRUE(UserDefaults::standard().boolForKey(QStringLiteral("Delete If Trashing Fails (Apply To All)")));
    EXPECT_TRUE(moveFileToTrashOrDeleteWithoutAsking(second, false, true));
    EXPECT_EQ(trash.alerts.size(), 2);
    EXPECT_FALSE(QFileInfo::exists(second));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("deleted <%1>").arg(first)));
    FailingTrash::clearDefaults();

    // Deleting without asking removes a link to a folder, never the folder it points to.
    const QString target = makeTempDir(QStringLiteral("target"));
    writeFile(target + QStringLiteral("/keep.mov"), "k");
    const QString link = makeTempDir(QStringLiteral("links")) + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_TRUE(moveFileToTrashOrDeleteWithoutAsking(link, true, false));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target + QStringLiteral("/keep.mov")), "k");
    EXPECT_EQ(trash.alerts.size(), 2);
}

TEST(FileAttributes, DisplayNamesAndSmallHelpers)
{
    FailingTrash::clearDefaults();
    EXPECT_EQ(displayFilename(QStringLiteral("/a/Holiday.2019.mov")), QStringLiteral("Holiday.2019"));
    EXPECT_EQ(displayFilename(QStringLiteral("/a/Extras/")), QStringLiteral("Extras"));
    EXPECT_EQ(displayFilename(QStringLiteral("/a/.hidden")), QStringLiteral(".hidden"));
    UserDefaults::standard().setBool(true, QStringLiteral("Show File Extensions"));
    EXPECT_EQ(displayFilename(QStringLiteral("/a/Holiday.2019.mov")), QStringLiteral("Holiday.2019.mov"));
    FailingTrash::clearDefaults();

    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"'MooV'", "MooV"}, {"'", "'"}, {"''", ""}, {"MooV", "MooV"}, {"'MooV", "'MooV"}};
    for (const auto& c : cases)
        EXPECT_EQ(stringByRemovingHFSTypeDelimiters(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;

    ASSERT_TRUE(copyToPasteboardAsURL(QStringLiteral("/a/b c.mov"), true));
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->text(), QStringLiteral("/a/b c.mov"));
    EXPECT_EQ(mime->urls(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/a/b c.mov"))});
    ASSERT_TRUE(copyToPasteboard(QStringLiteral("/a/d.mov")));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->text(), QStringLiteral("/a/d.mov"));
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->urls().isEmpty());

    // Without a file manager on the bus the folder opens instead.
    QList<QUrl> opened;
    setURLOpenerForTesting([&](const QUrl& url) {
        opened.append(url);
        return true;
    });
    setFileManagerBusForTesting(QStringLiteral("pellis-no-such-bus"));
    showInFinder(QStringLiteral("/a/b/c.mov"));
    showContentInFinder(QStringLiteral("/a/b"));
    setFileManagerBusForTesting({});
    setURLOpenerForTesting(nullptr);
    EXPECT_EQ(opened, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/a/b")), QUrl::fromLocalFile(QStringLiteral("/a/b"))}));
}

TEST(FileAttributes, ApplicationForAFileIsNeverThisProgram)
{
    const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS"), savedHome = qgetenv("XDG_DATA_HOME");
    const QString root = makeTempDir(QStringLiteral("apps"));
    qputenv("XDG_DATA_DIRS", (root + QStringLiteral("/share")).toUtf8());
    qputenv("XDG_DATA_HOME", (root + QStringLiteral("/home")).toUtf8());
    QDir().mkpath(root + QStringLiteral("/share"));
    QFile::link(QStringLiteral("/usr/share/mime"), root + QStringLiteral("/share/mime"));
    writeFile(root + QStringLiteral("/share/applications/player.desktop"), "[Desktop Entry]\nType=Application\nName=Player\nExec=player %f\nMimeType=video/mp4;\n");
    writeFile(root + QStringLiteral("/share/applications/self.desktop"),
              "[Desktop Entry]\nType=Application\nName=Self\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + " %F\nMimeType=video/x-matroska;\n");
    const auto app = applicationURL(root + QStringLiteral("/a.mp4"));
    const bool self = applicationURL(root + QStringLiteral("/a.mkv")).has_value();
    const bool none = applicationURL(root + QStringLiteral("/a.unknownext")).has_value();
    // A sequence folder opens with the application of its first part.
    writeFile(root + QStringLiteral("/Trip.mseq/Trip 1.mp4"), "1");
    const auto sequenceApp = applicationURL(root + QStringLiteral("/Trip.mseq"));
    qputenv("XDG_DATA_DIRS", savedDirs);
    qputenv("XDG_DATA_HOME", savedHome);
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->id, QStringLiteral("player.desktop"));
    EXPECT_FALSE(self);
    EXPECT_FALSE(none);
    ASSERT_TRUE(sequenceApp.has_value());
    EXPECT_EQ(sequenceApp->id, QStringLiteral("player.desktop"));
}
