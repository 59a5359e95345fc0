// A second copy of the program hands the files on its command line to the first one over
// the session bus before it ends; the scripting commands reach the first copy from the
// command line, and fail cleanly when no copy runs.
#include "AppSession.h"


#include <gtest/gtest.h>

namespace {

TEST(OpenRequests, SecondCopyHandsItsFilesToTheFirstAndCommandsReachIt)
{
    const appsession::Session session = appsession::make([](const QString& home) {
        return platform::Dictionary::make({
            {QStringLiteral("Library Path"), home + QStringLiteral("/library")},
            {QStringLiteral("Do Not Forget Playlist On Quit"), true},
            {QStringLiteral("Do Not Play On Open"), true},
        });
    });
    if (session.runSession.isEmpty())
        GTEST_SKIP() << "no dbus-run-session";
    const QString& home = session.home;
    const QString library = home + QStringLiteral("/library");
    const QString files = home + QStringLiteral("/files");
    testsupport::writeFile(files + QStringLiteral("/handed.mov"), "x");
    // The second copy is started in the folder of the file with its relative name.
    const QString shell = QStringLiteral(
        "export HOME=\"$1\" XDG_CONFIG_HOME=\"$1/.config\" QT_QPA_PLATFORM=offscreen PROG=\"$2\"\n"
        "run() { env -u com.tolvane.MultipleApplicationInstanceCheck \"$PROG\" \"$@\"; }\n"
        "env -u com.tolvane.MultipleApplicationInstanceCheck \"$PROG\" 2>\"$1/first.log\" & first=$!\n"
        "i=0; while [ ! -f \"$3\" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
        "(cd \"$4\" && run handed.mov 2>\"$1/second.log\"); echo second=$?\n"
        "run --current-focus >\"$1/focus.txt\"; echo focus=$?\n"
        "run --restore-focus 'nothing||title'; echo restore=$?\n"
        "run --restore-focus; echo missing=$?\n"
        "sleep 1\n"
        "kill -TERM $first; wait $first; echo first=$?\n"
        "run --current-focus 2>\"$1/alone.log\"; echo alone=$?\n");
    const auto result = appsession::run(session, shell, {files});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString out = QString::fromUtf8(result.out);
    for (const char* expected : {"second=0", "focus=0", "restore=0", "missing=2", "first=0", "alone=1"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(expected))) << expected << "\n" << out.toStdString();
    // A first start shows the default library, whose first smart group is selected and
    // titles the main window.
    EXPECT_TRUE(testsupport::readFile(home + QStringLiteral("/focus.txt")).trimmed().endsWith("||Recently Added"))
        << testsupport::readFile(home + QStringLiteral("/focus.txt")).toStdString();
    EXPECT_TRUE(testsupport::readFile(home + QStringLiteral("/alone.log")).contains("no running Pellis"));

    // The first copy put the handed file into its library and saved it when it ended.
    const platform::PropertyListReadResult index =
        platform::readPropertyListFile(library + QStringLiteral("/Pellis.library/Pellis.2.libraryindex"));
    ASSERT_TRUE(index.ok()) << index.error.toStdString() << "\n" << testsupport::readFile(home + QStringLiteral("/first.log")).toStdString();
    EXPECT_TRUE(index.value.description().contains(QStringLiteral("handed.mov")))
        << testsupport::readFile(home + QStringLiteral("/first.log")).toStdString();
}

} // namespace
