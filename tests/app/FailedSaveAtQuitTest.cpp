// A quit asked for by the session (SIGTERM) while the library cannot be saved: with no
// screen nobody can answer, so the program keeps the library in an emergency copy beside
// the index and ends, instead of asking again for ever.
#include "AppSession.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>

#include <gtest/gtest.h>

namespace {

TEST(FailedSaveAtQuit, ProgramWithoutScreenEndsAndKeepsAnEmergencyCopy)
{
    const appsession::Session session = appsession::make([](const QString&) { return platform::Dictionary::make(); });
    ASSERT_TRUE(QFileInfo(session.program).isExecutable()) << session.program.toStdString();
    const QString settings = session.home + QStringLiteral("/Movies/Pellis Library/Pellis.library");
    ASSERT_TRUE(QDir().mkpath(settings));
    const appsession::Ending ending = appsession::startThenTerminate(session, 30000, [&] {
        // The index's place is taken by a folder: every save fails.
        const QString index = settings + QStringLiteral("/Pellis.2.libraryindex");
        QFile::remove(index);
        ASSERT_TRUE(QDir().mkpath(index + QStringLiteral("/blocking")));
    });
    const QByteArray& output = ending.output;
    ASSERT_TRUE(ending.started) << output.toStdString();
    ASSERT_TRUE(ending.ended) << "the program still runs; it wrote " << output.size() << " bytes of output";
    EXPECT_EQ(ending.status, QProcess::NormalExit);
    const QStringList copies = QDir(settings).entryList({QStringLiteral("Pellis.2.libraryindex.unsaved-*")}, QDir::Files);
    ASSERT_EQ(copies.size(), 1) << output.right(2000).toStdString();
    const platform::PropertyListReadResult copy = platform::readPropertyListFile(settings + u'/' + copies.first());
    ASSERT_TRUE(copy.ok()) << copy.error.toStdString();
    EXPECT_TRUE(copy.value.dictionary()->value(QStringLiteral("Library")).isArray());
    EXPECT_TRUE(output.contains(copies.first().toUtf8())) << "the log tells where the copy is";
}

} // namespace
