// A second copy of the program on the same session bus ends at once, leaving the first.
#include "platform/PropertyList.h"

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>

#include <gtest/gtest.h>

namespace {

TEST(SingleInstance, SecondCopyOnTheSameBusEnds)
{
    const QString runSession = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    if (runSession.isEmpty())
        GTEST_SKIP() << "no dbus-run-session";
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/Pellis");
    const QString home = testsupport::makeTempDir(QStringLiteral("home"));
    const QString ready = home + QStringLiteral("/ready");
    const QString script = home + QStringLiteral("/ready.sh");
    testsupport::writeFile(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(ready).toUtf8());
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    testsupport::writeFile(home + QStringLiteral("/.config/Pellis/com.tolvane.Pellis.plist"),
                           platform::writeBinaryPropertyList(platform::Value(platform::Dictionary::make({{QStringLiteral("Post-Startup Scripts"), script}}))));

    const QString shell = QStringLiteral(
        "export HOME=\"$1\" XDG_CONFIG_HOME=\"$1/.config\" QT_QPA_PLATFORM=offscreen\n"
        "env -u com.tolvane.MultipleApplicationInstanceCheck \"$2\" 2>\"$1/first.log\" & first=$!\n"
        "i=0; while [ ! -f \"$3\" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
        "env -u com.tolvane.MultipleApplicationInstanceCheck \"$2\" 2>\"$1/second.log\"; echo second=$?\n"
        "kill -0 $first && echo first-alive\n"
        "kill -TERM $first; wait $first; echo first=$?\n");
    const auto result = testsupport::runProcess(runSession, {QStringLiteral("--"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), shell,
                                                             QStringLiteral("sh"), home, program, ready}, {}, 120000);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString out = QString::fromUtf8(result.out);
    EXPECT_TRUE(out.contains(QStringLiteral("second=0"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("first-alive"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("first=0"))) << out.toStdString();
    EXPECT_TRUE(testsupport::readFile(home + QStringLiteral("/second.log"))
                    .contains("you really don't want multiple Pellis instances running at the same time"));
    EXPECT_FALSE(testsupport::readFile(home + QStringLiteral("/first.log")).contains("multiple Pellis instances"));
}

} // namespace
