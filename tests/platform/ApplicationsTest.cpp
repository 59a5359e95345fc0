#include "platform/Applications.h"

#include <gtest/gtest.h>

#include "common/MediaFixtures.h"
#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QLocale>

using namespace platform;
using namespace testsupport;

namespace {

// A complete XDG tree of desktop entries and mimeapps.list files, installed through the
// environment for one test.
class XdgFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP"})
            m_saved.append({name, qgetenv(name)});
        m_root = makeTempDir(QStringLiteral("xdg"));
        qputenv("XDG_DATA_HOME", (m_root + QStringLiteral("/home-data")).toUtf8());
        qputenv("XDG_DATA_DIRS", (m_root + QStringLiteral("/sys-data:") + m_root + QStringLiteral("/other-data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_root + QStringLiteral("/home-config")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", (m_root + QStringLiteral("/sys-config")).toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", "Test:GNOME");
        // The shared MIME database is found through the same folders.
        QDir().mkpath(m_root + QStringLiteral("/sys-data"));
        QFile::link(QStringLiteral("/usr/share/mime"), m_root + QStringLiteral("/sys-data/mime"));

        entry("home-data/applications/vlc.desktop", "VLC", "video/mp4;video/quicktime;");
        entry("sys-data/applications/vlc.desktop", "Old VLC", "video/mp4;");
        entry("sys-data/applications/mpv.desktop", "mpv", "video/mp4;video/x-matroska;");
        entry("sys-data/applications/kde/dragon.desktop", "Dragon", "video/*;");
        entry("sys-data/applications/viewer.desktop", "Viewer", "image/gif;image/png;");
        entry("sys-data/applications/editor.desktop", "Editor", "text/plain;");
        entry("other-data/applications/notes.desktop", "Notes", "text/plain;");
        entry("sys-data/applications/hidden.desktop", "Hidden", "video/mp4;", "Hidden=true\n");
        entry("sys-data/applications/gone.desktop", "Gone", "video/mp4;", "TryExec=/nonexistent/program\n");
        entry("sys-data/applications/link.desktop", "Link", "video/mp4;", {}, "Link");
        writeFile(m_root + QStringLiteral("/sys-data/applications/huge.desktop"), QByteArray(2 * 1024 * 1024, '#'));

        writeFile(m_root + QStringLiteral("/sys-config/mimeapps.list"),
                  "[Default Applications]\n"
                  "video/mp4=missing.desktop;mpv.desktop;\n"
                  "text/plain=editor.desktop\n");
        writeFile(m_root + QStringLiteral("/home-config/mimeapps.list"),
                  "# the user's own choices\n"
                  "[Added Associations]\n"
                  "video/quicktime=viewer.desktop;\n"
                  "[Removed Associations]\n"
                  "video/mp4=kde-dragon.desktop;\n"
                  "text/plain=editor.desktop;\n");
        writeFile(m_root + QStringLiteral("/home-config/gnome-mimeapps.list"), "[Default Applications]\nimage/png=vlc.desktop\n");
    }
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    void entry(const char* relative, const char* name, const char* mime, const QByteArray& extra = {}, const char* type = "Application")
    {
        writeFile(m_root + u'/' + QString::fromUtf8(relative),
                  QByteArray("[Desktop Entry]\nType=") + type + "\nName=" + name + "\nName[de]=Lokal\nExec=" + QByteArray(name).toLower()
                      + " %U\nMimeType=" + mime + "\n" + extra + "[Desktop Action new]\nName=Other\nExec=other\n");
    }
    static QStringList ids(const std::vector<DesktopApplication>& apps)
    {
        QStringList result;
        for (const DesktopApplication& a : apps)
            result.append(a.id);
        return result;
    }
    QString m_root;
    QList<std::pair<const char*, QByteArray>> m_saved;
};

} // namespace

TEST_F(XdgFixture, DefaultsAndAssociations)
{
    const struct {
        const char* file;
        const char* defaultId;
        QStringList all;
    } cases[] = {
        // The system default skips an entry that is not installed; the user removed Dragon.
        {"a.mp4", "mpv.desktop", {QStringLiteral("mpv.desktop"), QStringLiteral("vlc.desktop")}},
        // No default: the user's added association leads, then every entry that declares it.
        {"a.mov", "viewer.desktop", {QStringLiteral("viewer.desktop"), QStringLiteral("vlc.desktop"), QStringLiteral("kde-dragon.desktop")}},
        // An alias in the entry ("video/x-matroska") still counts; "video/*" matches any video.
        {"a.mkv", "mpv.desktop", {QStringLiteral("mpv.desktop"), QStringLiteral("kde-dragon.desktop")}},
        // A removal in the user's list hides the system default below it.
        {"a.txt", "notes.desktop", {QStringLiteral("notes.desktop")}},
        // The desktop-specific list wins over the rest.
        {"a.png", "vlc.desktop", {QStringLiteral("vlc.desktop"), QStringLiteral("viewer.desktop")}},
        {"a.gif", "viewer.desktop", {QStringLiteral("viewer.desktop")}},
        {"a.unknownext", "", {}},
    };
    for (const auto& c : cases) {
        const QString path = m_root + QStringLiteral("/files/") + QString::fromUtf8(c.file);
        DesktopApplication app;
        const bool found = getDefaultApplicationForFile(path, &app);
        EXPECT_EQ(found, *c.defaultId != 0) << c.file;
        EXPECT_EQ(app.id.toStdString(), c.defaultId) << c.file << " is " << mimeTypeForFile(path).toStdString();
        EXPECT_EQ(ids(applicationsForFile(path)).join(u' '), c.all.join(u' ')) << c.file;
    }
}

TEST_F(XdgFixture, EntriesAreReadWithCare)
{
    DesktopApplication app;
    // The home entry masks the system's entry of the same ID.
    ASSERT_TRUE(getDesktopApplication(QStringLiteral("vlc.desktop"), &app));
    EXPECT_EQ(app.name, QStringLiteral("VLC"));
    EXPECT_EQ(app.exec, QStringLiteral("vlc %U"));
    EXPECT_EQ(app.path, m_root + QStringLiteral("/home-data/applications/vlc.desktop"));
    EXPECT_EQ(app.mimeTypes, (QStringList{QStringLiteral("video/mp4"), QStringLiteral("video/quicktime")}));
    // Names in the user's language, and the entry format's escapes.
    writeFile(m_root + QStringLiteral("/home-data/applications/esc.desktop"),
              "[Desktop Entry]\nType=Application\nName=Two\\sWords\nName[de]=Zwei\\sW\xc3\xb6rter\nExec=esc \\\\x %f\n");
    ASSERT_TRUE(getDesktopApplication(QStringLiteral("esc.desktop"), &app));
    EXPECT_EQ(app.name, QStringLiteral("Two Words"));
    EXPECT_EQ(app.exec, QStringLiteral("esc \\x %f"));
    const QLocale savedLocale;
    QLocale::setDefault(QLocale(QStringLiteral("de_AT")));
    ASSERT_TRUE(getDesktopApplication(QStringLiteral("esc.desktop"), &app));
    QLocale::setDefault(savedLocale);
    EXPECT_EQ(app.name, QStringLiteral("Zwei Wörter"));
    // Entries in subfolders get the folder in their ID.
    EXPECT_TRUE(getDesktopApplication(QStringLiteral("kde-dragon.desktop"), &app));
    // Hidden, missing TryExec, not an application, too large: not installed.
    for (const char* id : {"hidden.desktop", "gone.desktop", "link.desktop", "huge.desktop", "none.desktop"})
        EXPECT_FALSE(getDesktopApplication(QString::fromUtf8(id), &app)) << id;

    // A change on disk is seen at the next question.
    writeFile(m_root + QStringLiteral("/home-config/mimeapps.list"), "[Default Applications]\nvideo/mp4=vlc.desktop\n");
    ASSERT_TRUE(getDefaultApplicationForMimeType(QStringLiteral("video/mp4"), &app));
    EXPECT_EQ(app.id, QStringLiteral("vlc.desktop"));

    // This program's own entry is recognised by its executable.
    writeFile(m_root + QStringLiteral("/home-data/applications/self.desktop"),
              "[Desktop Entry]\nType=Application\nName=Self\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" %F\n");
    ASSERT_TRUE(getDesktopApplication(QStringLiteral("self.desktop"), &app));
    EXPECT_TRUE(isOwnApplication(app));
    ASSERT_TRUE(getDesktopApplication(QStringLiteral("mpv.desktop"), &app));
    EXPECT_FALSE(isOwnApplication(app));
}

TEST(Applications, TypeIdentifiers)
{
    const QString dir = makeTempDir(QStringLiteral("types"));
    const struct {
        const char* file;
        const char* type;
        bool conforms;
    } cases[] = {
        {"a.mp4", "public.movie", true},
        {"a.mov", "com.apple.quicktime-movie", true},
        {"a.mkv", "public.movie", true},
        {"a.gif", "public.movie", false},
        {"a.gif", "public.image", true},
        {"a.gif", "com.compuserve.gif", true},
        {"a.png", "com.compuserve.gif", false},
        {"a.png", "image/png", true},
        {"a.txt", "public.text", true},
        {"a.txt", "public.item", true},
        {"a.txt", "com.example.unknown", false},
        {"", "public.folder", true},
        {"a.mp4", "public.folder", false},
    };
    for (const auto& c : cases) {
        const QString path = *c.file ? dir + u'/' + QString::fromUtf8(c.file) : dir;
        EXPECT_EQ(fileConformsToType(path, QString::fromUtf8(c.type)), c.conforms) << c.file << " " << c.type;
    }
    EXPECT_EQ(mimeTypeForTypeIdentifier(QStringLiteral("public.movie")), QStringLiteral("video/*"));
    EXPECT_EQ(mimeTypeForTypeIdentifier(QStringLiteral("public.folder")), QStringLiteral("inode/directory"));
    EXPECT_EQ(mimeTypeForTypeIdentifier(QStringLiteral("nonsense")), QString());
    EXPECT_EQ(mimeTypeForFile(dir), QStringLiteral("inode/directory"));
}

TEST(Applications, ExecFieldCodesKeepEveryFileOneArgument)
{
    DesktopApplication app;
    app.id = QStringLiteral("player.desktop");
    app.path = QStringLiteral("/usr/share/applications/player.desktop");
    app.name = QStringLiteral("Player");
    app.icon = QStringLiteral("player");
    // Names a shell would split, quote, expand or read as options.
    const QStringList hostile = {QStringLiteral("/m/a b.mp4"), QStringLiteral("/m/it's \"x\".mp4"), QStringLiteral("/m/-rf $(x).mp4"),
                                 QStringLiteral("/m/line\nbreak;`y`.mp4")};
    struct Case {
        const char* exec;
        std::vector<QStringList> expected;
    } cases[] = {
        {"player %F", {QStringList{QStringLiteral("player")} + hostile}},
        {"\"/opt/my player/bin\" --flag %f", {{QStringLiteral("/opt/my player/bin"), QStringLiteral("--flag"), hostile[0]},
                                               {QStringLiteral("/opt/my player/bin"), QStringLiteral("--flag"), hostile[1]},
                                               {QStringLiteral("/opt/my player/bin"), QStringLiteral("--flag"), hostile[2]},
                                               {QStringLiteral("/opt/my player/bin"), QStringLiteral("--flag"), hostile[3]}}},
        {"player %i %c %k --rate=100%% %d", {QStringList{QStringLiteral("player"), QStringLiteral("--icon"), QStringLiteral("player"), QStringLiteral("Player"),
                                                         app.path, QStringLiteral("--rate=100%")} + hostile}},
        {"player \"unclosed", {}},
        {"", {}},
    };
    for (const Case& k : cases) {
        app.exec = QString::fromUtf8(k.exec);
        EXPECT_EQ(commandLinesForFiles(app, hostile), k.expected) << k.exec;
    }
    // URLs are encoded, and a relative name becomes absolute, so "-x" never reads as an option.
    app.exec = QStringLiteral("player %U");
    const std::vector<QStringList> urls = commandLinesForFiles(app, {QStringLiteral("/m/a b#1.mp4"), QStringLiteral("-x.mp4")});
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0].at(1), QStringLiteral("file:///m/a%20b%231.mp4"));
    EXPECT_TRUE(urls[0].at(2).startsWith(QStringLiteral("file:///"))) << urls[0].at(2).toStdString();
}

// Programs, scripts and desktop entries are refused whatever their name or mode; a movie,
// a sound or a picture is not, even with the execute bit that every file of a FAT, exFAT
// or NTFS drive shows.
TEST(Applications, RunnableFilesAreRecognisedByWhatTheyAre)
{
    const QString dir = makeTempDir(QStringLiteral("runnable"));
    QByteArray elf("\x7f" "ELF\x02\x01\x01", 7);
    elf += QByteArray(9, '\0');
    elf += QByteArray("\x02\x00\x3e\x00", 4); // an executable for x86-64
    elf += QByteArray(48, '\0');
    const QByteArray movie = readFile(testsupport::media::fixtures().numbered());
    ASSERT_FALSE(movie.isEmpty());
    const QByteArray png = QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==");
    const struct {
        const char* name;
        QByteArray bytes;
        bool executable;
        bool runnable;
    } cases[] = {
        {"run.sh", "#!/bin/sh\necho hi\n", false, true},
        {"run-bit.sh", "#!/bin/sh\necho hi\n", true, true},
        {"launcher.desktop", "[Desktop Entry]\nType=Application\nExec=sh\n", false, true},
        {"tool.py", "print(1)\n", false, true},
        {"program", elf, true, true},
        // a program or a script dressed as a movie
        {"program.mp4", elf, true, true},
        {"program-no-bit.mp4", elf, false, true},
        {"script.mp4", "#!/bin/sh\nrm -rf \"$HOME\"\n", true, true},
        // unknown bytes with the bit may run as a shell script
        {"notes", "echo hi\n", true, true},
        {"notes.txt", "hello\n", false, false},
        {"clip.mp4", QByteArray(64, '\0'), false, false},
        {"movie.mp4", movie, false, false},
        {"movie-on-fat.mp4", movie, true, false},
        {"movie-without-extension", movie, true, false},
        {"picture-on-fat.png", png, true, false},
    };
    for (const auto& testCase : cases) {
        const QString path = dir + u'/' + QString::fromUtf8(testCase.name);
        writeFile(path, testCase.bytes);
        if (testCase.executable)
            QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
        EXPECT_EQ(isRunnableFile(path), testCase.runnable) << testCase.name;
    }
    EXPECT_FALSE(isRunnableFile(dir));
}
