// Quitting always quits: the end of the session (SIGTERM) while an alert waits on the
// screen, a quit by the menu or by the session while a movie is in the player window (on a
// virtual screen of its own, where alerts really wait and keys reach the program), and the
// end of the session while much background work waits.
#include "AppSession.h"
#include "common/MediaFixtures.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>

#include <gtest/gtest.h>

namespace {

QString libraryOf(const QString& home)
{
    return home + QStringLiteral("/library");
}

QString indexOf(const QString& home)
{
    return libraryOf(home) + QStringLiteral("/Pellis.library/Pellis.2.libraryindex");
}

platform::Value setting(const QString& home, const QString& key)
{
    const platform::PropertyListReadResult read = platform::readPropertyListFile(home + QStringLiteral("/.config/Pellis/com.tolvane.Pellis.plist"));
    return read.ok() && read.value.isDictionary() ? read.value.dictionary()->value(key) : platform::Value();
}

// The termination script notes each run of the quit sequence in <home>/quits.
QString quitsOf(const QString& home)
{
    return home + QStringLiteral("/quits");
}

appsession::Session sessionWithLibrary(bool singleWindow = false)
{
    return appsession::make([singleWindow](const QString& home) {
        const QString script = home + QStringLiteral("/on-quit.sh");
        testsupport::writeFile(script, QStringLiteral("#!/bin/sh\necho quit >> '%1'\n").arg(quitsOf(home)).toUtf8());
        QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
        return platform::Dictionary::make({
            {QStringLiteral("Library Path"), libraryOf(home)},
            {QStringLiteral("Do Not Forget Playlist On Quit"), true},
            {QStringLiteral("Single Window Mode"), singleWindow},
            {QStringLiteral("Termination Scripts"), script},
        });
    });
}

#define SKIP_WITHOUT_SCREEN()                                                                                                          \
    if (appsession::screenRunner().isEmpty())                                                                                          \
        GTEST_SKIP() << "no xvfb-run: alerts cannot wait on a screen here";

TEST(Quit, TheEndOfTheSessionEndsOpenAlertsWithTheAnswerThatChangesNothing)
{
    SKIP_WITHOUT_SCREEN();
    // Started, an alert waits; the session ends (SIGTERM).
    const QString shell = QString::fromUtf8(appsession::kShellFunctions) + QStringLiteral(R"SH(
export QT_QPA_PLATFORM=xcb
message="$1"
start
waitfor 'grep -qF "alert: $message" "$H/log"' || echo "no alert"
kill -TERM $pid
ends
)SH");
    const auto output = [](const appsession::Session& s, const testsupport::ProcessResult& r) {
        return (r.out + r.err + "\n--- log:\n" + testsupport::readFile(s.home + QStringLiteral("/log"))).toStdString();
    };

    // During start-up: the index is damaged and no backup can stand in.
    {
        const appsession::Session s = sessionWithLibrary();
        testsupport::writeFile(indexOf(s.home), "not an index");
        const auto r = appsession::runOnScreen(s, shell, {QStringLiteral("The library could not be read.")});
        ASSERT_TRUE(r.out.contains("exit=0")) << output(s, r);
        EXPECT_FALSE(r.out.contains("no alert")) << output(s, r);
        const QString folder = QFileInfo(indexOf(s.home)).path();
        EXPECT_EQ(QDir(folder).entryList({QStringLiteral("Pellis.2.libraryindex.damaged-*")}, QDir::Files).size(), 1) << "the damaged index is kept";
        EXPECT_TRUE(platform::readPropertyListFile(indexOf(s.home)).ok()) << "the quit saved the library";
    }

    // Later: files found in the library folder. Nothing is added, ignored or switched off.
    {
        const appsession::Session s = sessionWithLibrary();
        const QString stray = libraryOf(s.home) + QStringLiteral("/stray.mov");
        testsupport::writeFile(stray, "x");
        const auto r = appsession::runOnScreen(s, shell, {QStringLiteral("Found New Files in Library Folder")});
        ASSERT_TRUE(r.out.contains("exit=0")) << output(s, r);
        EXPECT_FALSE(r.out.contains("no alert")) << output(s, r);
        const platform::PropertyListReadResult index = platform::readPropertyListFile(indexOf(s.home));
        ASSERT_TRUE(index.ok()) << output(s, r);
        EXPECT_FALSE(index.value.description().contains(QStringLiteral("stray.mov")));
        EXPECT_TRUE(QFileInfo::exists(stray));
        EXPECT_FALSE(setting(s.home, QStringLiteral("Do Not Check For Non-Library Files")).toBool());
    }
}

TEST(Quit, AMovieInThePlayerWindowDoesNotStopTheQuit)
{
    SKIP_WITHOUT_SCREEN();
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "no xdotool to press the keys";
    // The movie plays in its own window; then Ctrl+Q in that window, or the session ends.
    const QString shell = QString::fromUtf8(appsession::kShellFunctions) + QStringLiteral(R"SH(
export QT_QPA_PLATFORM=xcb
clip="$1"; how="$2"
start "$clip"
player() { xdotool search --onlyvisible --name '^clip' 2>/dev/null | head -n 1; }
waitfor '[ -n "$(player)" ]' || echo "no player window"
if [ "$how" = menu ]; then
    w=$(player)
    xdotool windowfocus "$w"
    waitfor '[ "$(xdotool getwindowfocus)" = "$w" ]' || echo "no focus"
    xdotool key --clearmodifiers ctrl+q
else
    kill -TERM $pid
fi
ends
)SH");
    for (const char* how : {"menu", "session"}) {
        SCOPED_TRACE(how);
        const appsession::Session s = sessionWithLibrary();
        const QString clip = s.home + QStringLiteral("/files/clip.mp4");
        ASSERT_TRUE(QDir().mkpath(QFileInfo(clip).path()));
        ASSERT_TRUE(testsupport::media::makeNumberedClip(clip, 100));
        const auto r = appsession::runOnScreen(s, shell, {clip, QString::fromLatin1(how)});
        const std::string output = (r.out + r.err + "\n--- log:\n" + testsupport::readFile(s.home + QStringLiteral("/log"))).toStdString();
        EXPECT_FALSE(r.out.contains("no player window")) << output;
        ASSERT_TRUE(r.out.contains("exit=0")) << output;
        // The library was saved with the movie in it.
        const platform::PropertyListReadResult index = platform::readPropertyListFile(indexOf(s.home));
        ASSERT_TRUE(index.ok()) << output;
        EXPECT_TRUE(index.value.description().contains(QStringLiteral("clip.mp4"))) << output;
        // The quit sequence ran once: the windows closing after it do not run it again.
        EXPECT_EQ(testsupport::readFile(quitsOf(s.home)), QByteArray("quit\n")) << output;
    }
}

// A library of movies whose durations and pictures are still to be read when the session
// ends: minutes of work wait in the background (each file is a large picture to decode).
const char* kManyMoviesScript = R"PY(
import os, plistlib, sys
index, clip, folder, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
os.makedirs(folder, exist_ok=True)
os.makedirs(os.path.dirname(index), exist_ok=True)
movies = []
for i in range(count):
    path = f"{folder}/Movie {i:05d}.mp4"
    os.link(clip, path)
    movies.append({"Path": path, "User Settings": {"Name": f"Movie {i}", "Unique ID": f"00000000-0000-0000-0000-{i:012d}"}})
library = [{"Top Level": "Library", "Name": "Library", "Unique ID": "T-1",
            "Children": [{"Name": "Movies", "Library Section": "Movies", "Unique ID": "S-1", "Children": movies}]}]
plistlib.dump({"Library": library, "Preferences": {}, "Version": "2"}, open(index, "wb"), fmt=plistlib.FMT_BINARY)
)PY";

TEST(Quit, TheEndOfTheSessionDoesNotWaitForQueuedBackgroundWork)
{
    const appsession::Session s = appsession::make([](const QString& home) {
        return platform::Dictionary::make({
            {QStringLiteral("Library Path"), libraryOf(home)},
            {QStringLiteral("Do Not Check For Non-Library Files"), true},
        });
    });
    const QString clip = s.home + QStringLiteral("/clip.mp4");
    ASSERT_TRUE(testsupport::media::runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                               QStringLiteral("nullsrc=s=2560x1440:r=1,geq=random(1)*255:128:128"), QStringLiteral("-frames:v"),
                                               QStringLiteral("2"), QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
                                               QStringLiteral("ultrafast"), QStringLiteral("-qp"), QStringLiteral("24"), QStringLiteral("-pix_fmt"),
                                               QStringLiteral("yuv420p"), clip}));
    constexpr int kMovies = 20000;
    const auto made = testsupport::runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kManyMoviesScript), indexOf(s.home), clip,
                                                                          libraryOf(s.home) + QStringLiteral("/Movies"), QString::number(kMovies)});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();

    // The library is saved, what waits is dropped and what runs has a few seconds: the
    // program ends long before the queued work could have run (many minutes).
    const appsession::Ending ending = appsession::startThenTerminate(s, 60000);
    ASSERT_TRUE(ending.started) << ending.output.toStdString();
    ASSERT_TRUE(ending.ended) << "the program still runs a minute after the session ended";
    EXPECT_EQ(ending.status, QProcess::NormalExit) << ending.output.right(2000).toStdString();
    const platform::PropertyListReadResult index = platform::readPropertyListFile(indexOf(s.home));
    ASSERT_TRUE(index.ok());
    EXPECT_TRUE(index.value.description().contains(QStringLiteral("Movie 19999.mp4"))) << "the library was saved first";
}

} // namespace
