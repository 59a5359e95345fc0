// A second copy of the program on the same session bus ends at once, leaving the first.
#include "AppSession.h"


#include <gtest/gtest.h>

namespace {

TEST(SingleInstance, SecondCopyOnTheSameBusEnds)
{
    const appsession::Session session = appsession::make([](const QString&) { return platform::Dictionary::make(); });
    if (session.runSession.isEmpty())
        GTEST_SKIP() << "no dbus-run-session";
    const QString& home = session.home;
    const QString shell = QStringLiteral(
        "export HOME=\"$1\" XDG_CONFIG_HOME=\"$1/.config\" QT_QPA_PLATFORM=offscreen\n"
        "env -u com.tolvane.MultipleApplicationInstanceCheck \"$2\" 2>\"$1/first.log\" & first=$!\n"
        "i=0; while [ ! -f \"$3\" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
        "env -u com.tolvane.MultipleApplicationInstanceCheck \"$2\" 2>\"$1/second.log\"; echo second=$?\n"
        "mkdir -p \"$1/handed\"; env -u com.tolvane.MultipleApplicationInstanceCheck \"$2\" \"$1/handed\" 2>\"$1/third.log\"; echo third=$?\n"
        "kill -0 $first && echo first-alive\n"
        "kill -TERM $first; wait $first; echo first=$?\n");
    const auto result = appsession::run(session, shell);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString out = QString::fromUtf8(result.out);
    EXPECT_TRUE(out.contains(QStringLiteral("second=0"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("first-alive"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("first=0"))) << out.toStdString();
    EXPECT_TRUE(testsupport::readFile(home + QStringLiteral("/second.log"))
                    .contains("you really don't want multiple Pellis instances running at the same time"));
    EXPECT_FALSE(testsupport::readFile(home + QStringLiteral("/first.log")).contains("multiple Pellis instances"));
    // A copy that handed its file over to the first one has nothing to complain about.
    EXPECT_TRUE(out.contains(QStringLiteral("third=0"))) << out.toStdString();
    EXPECT_FALSE(testsupport::readFile(home + QStringLiteral("/third.log")).contains("multiple Pellis instances"));
    // No log line prints an empty placeholder.
    for (const char* log : {"/first.log", "/second.log", "/third.log"})
        EXPECT_FALSE(testsupport::readFile(home + QLatin1String(log)).contains("<>")) << log;
}

} // namespace
