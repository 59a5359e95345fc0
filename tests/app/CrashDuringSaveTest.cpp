// The program killed at any moment while it saves its library: the next start finds the
// old index or the new one, complete, never a torn one.
#include "platform/PropertyList.h"

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const char* kIndexScript = R"PY(
import plistlib, sys
path, count = sys.argv[1], int(sys.argv[2])
movies = [{"Path": f"/media/disk/Films/Movie {i:05d}.mov",
           "User Settings": {"Name": f"Movie {i}", "Added Timestamp": 1700000000.0 + i, "Rating": float(i % 6),
                             "Unique ID": f"00000000-0000-0000-0000-{i:012d}", "Tags": {"genre": {"Value": "drama"}}}}
          for i in range(count)]
lib = [{"Top Level": "Library", "Name": "Library", "Unique ID": "T-1",
        "Children": [{"Name": "Movies", "Library Section": "Movies", "Unique ID": "S-1", "Children": movies}]}]
plistlib.dump({"Library": lib, "Preferences": {}, "Version": "2"}, open(path, "wb"), fmt=plistlib.FMT_BINARY)
)PY";

qsizetype countMovies(const platform::Value& value)
{
    qsizetype n = 0;
    if (value.isArray())
        for (const platform::Value& v : *value.array())
            n += countMovies(v);
    else if (value.isDictionary()) {
        const platform::DictionaryPtr d = value.dictionary();
        if (d->contains(QStringLiteral("Path")))
            return 1;
        n += countMovies(d->value(QStringLiteral("Children")));
    }
    return n;
}

TEST(CrashDuringSave, KilledAtRandomMomentsTheIndexStaysWhole)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/Pellis");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    const QString home = testsupport::makeTempDir(QStringLiteral("home"));
    const QString settings = home + QStringLiteral("/Movies/Pellis Library/Pellis.library");
    ASSERT_TRUE(QDir().mkpath(settings));
    const QString index = settings + QStringLiteral("/Pellis.2.libraryindex");
    constexpr int kMovies = 20000;
    const auto made = testsupport::runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kIndexScript), index, QString::number(kMovies)});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("com.tolvane.MultipleApplicationInstanceCheck"), QStringLiteral("skip"));

    // A post-start-up script tells when start-up is over; the termination request then
    // runs the quit sequence, which saves. The first whole quit gives the span of the save
    // in which the kills fall.
    const QString ready = home + QStringLiteral("/ready");
    const QString script = home + QStringLiteral("/ready.sh");
    testsupport::writeFile(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(ready).toUtf8());
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    testsupport::writeFile(home + QStringLiteral("/.config/Pellis/com.tolvane.Pellis.plist"),
                           platform::writeBinaryPropertyList(platform::Value(platform::Dictionary::make({{QStringLiteral("Post-Startup Scripts"), script}}))));
    auto start = [&](QProcess& process) {
        QFile::remove(ready);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, {});
        if (!process.waitForStarted(10000) || !testsupport::waitUntil([&] { return QFileInfo::exists(ready); }, 60000))
            return false;
        ::kill(pid_t(process.processId()), SIGTERM);
        return true;
    };
    QElapsedTimer timer;
    {
        QProcess process;
        ASSERT_TRUE(start(process));
        timer.start();
        ASSERT_TRUE(process.waitForFinished(60000)) << process.readAll().toStdString();
    }
    const qint64 span = std::max<qint64>(timer.elapsed(), 50);
    // The quit saved: the program's own index holds the registered settings.
    const platform::PropertyListReadResult saved = platform::readPropertyListFile(index);
    ASSERT_TRUE(saved.ok());
    ASSERT_TRUE(saved.value.dictionary()->value(QStringLiteral("Preferences")).dictionary()->contains(QStringLiteral("Resume: Timestamp Limit")));
    EXPECT_EQ(countMovies(saved.value.dictionary()->value(QStringLiteral("Library"))), kMovies);

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        QProcess process;
        ASSERT_TRUE(start(process));
        QThread::msleep(QRandomGenerator::global()->bounded(quint32(span)));
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished(10000);

        const platform::PropertyListReadResult read = platform::readPropertyListFile(index);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        ASSERT_TRUE(read.value.isDictionary());
        EXPECT_EQ(countMovies(read.value.dictionary()->value(QStringLiteral("Library"))), kMovies);
        EXPECT_TRUE(QDir(settings).entryList({QStringLiteral("*.damaged-*")}).isEmpty());
    }
}

} // namespace
