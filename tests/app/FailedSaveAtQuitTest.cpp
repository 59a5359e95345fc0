// A quit asked for by the session (SIGTERM) while the library cannot be saved: with no
// screen nobody can answer, so the program keeps the library in an emergency copy beside
// the index and ends, instead of asking again for ever.
#include "platform/PropertyList.h"

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(FailedSaveAtQuit, ProgramWithoutScreenEndsAndKeepsAnEmergencyCopy)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/Pellis");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    const QString home = testsupport::makeTempDir(QStringLiteral("home"));
    const QString settings = home + QStringLiteral("/Movies/Pellis Library/Pellis.library");
    ASSERT_TRUE(QDir().mkpath(settings));
    const QString ready = home + QStringLiteral("/ready");
    const QString script = home + QStringLiteral("/ready.sh");
    testsupport::writeFile(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(ready).toUtf8());
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    testsupport::writeFile(home + QStringLiteral("/.config/Pellis/com.tolvane.Pellis.plist"),
                           platform::writeBinaryPropertyList(platform::Value(platform::Dictionary::make({{QStringLiteral("Post-Startup Scripts"), script}}))));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("com.tolvane.MultipleApplicationInstanceCheck"), QStringLiteral("skip"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {});
    ASSERT_TRUE(process.waitForStarted(10000));
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(ready); }, 60000));

    // The index's place is taken by a folder: every save fails.
    const QString index = settings + QStringLiteral("/Pellis.2.libraryindex");
    QFile::remove(index);
    ASSERT_TRUE(QDir().mkpath(index + QStringLiteral("/blocking")));
    ::kill(pid_t(process.processId()), SIGTERM);
    const bool ended = process.waitForFinished(30000);
    const QByteArray output = process.readAll();
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "the program still runs; it wrote " << output.size() << " bytes of output";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    const QStringList copies = QDir(settings).entryList({QStringLiteral("Pellis.2.libraryindex.unsaved-*")}, QDir::Files);
    ASSERT_EQ(copies.size(), 1) << output.right(2000).toStdString();
    const platform::PropertyListReadResult copy = platform::readPropertyListFile(settings + u'/' + copies.first());
    ASSERT_TRUE(copy.ok()) << copy.error.toStdString();
    EXPECT_TRUE(copy.value.dictionary()->value(QStringLiteral("Library")).isArray());
    EXPECT_TRUE(output.contains(copies.first().toUtf8())) << "the log tells where the copy is";
}

} // namespace
