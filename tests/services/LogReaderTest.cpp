// The log reader's loading: history from the journal tool beside a live stream, the
// catch-up between them, earlier results, generations, and the program's own lines kept
// in the process where there is no journal.
#include "services/log_reader/ILRIntegratedLogReader.h"

#include "common/TestSupport.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "services/log_reader/ILRJSONLogStream.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QFile>
#include <QtCore/QThread>

#include <gtest/gtest.h>

namespace {

QStringList messages(const ILRLogEntries& entries)
{
    QStringList out;
    for (const auto& e : entries)
        out << e->eventMessage;
    return out;
}

platform::DictionaryPtr dated(const QString& message, double seconds)
{
    return platform::Dictionary::make({{QStringLiteral("cachedTimestamp"), platform::Value(platform::Date{seconds})},
                                       {QStringLiteral("eventMessage"), platform::Value(message)}});
}

bool waitFor(const std::function<bool()>& condition, int ms = 30000)
{
    return testsupport::waitUntil(condition, ms);
}

QByteArray journalLine(const char* message, qint64 micros)
{
    return QByteArray("{\"MESSAGE\":\"") + message + "\",\"_EXE\":\"/usr/bin/Pellis\",\"__REALTIME_TIMESTAMP\":\"" + QByteArray::number(micros) + "\"}";
}

} // namespace

TEST(LogReader, EarlierResultsStepThroughTheDays)
{
    const int cases[][2] = {{-1, 0}, {0, 1}, {1, 7}, {3, 7}, {6, 7}, {7, 14}, {14, 21}};
    for (const auto& c : cases)
        EXPECT_EQ(ILRIntegratedLogReader::increasedNumberOfDays(c[0]), c[1]) << c[0];
}

TEST(LogReader, HistoryLiveCatchUpAndEarlierResultsFromAFakeJournal)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000;
    const qint64 minute = 60000000;
    const QString dir = testsupport::makeTempDir(QStringLiteral("journal"));
    const QString argsFile = dir + QStringLiteral("/args");
    // A stand-in for journalctl: the last hour, the last day, a catch-up window, and live.
    const QByteArray script = "#!/bin/sh\necho \"$*\" >> '" + argsFile.toUtf8() + "'\ncase \"$*\" in\n"
        "*--follow*) echo '" + journalLine("live", now + minute) + "'; touch '" + argsFile.toUtf8() + ".live'; exec sleep 60;;\n"
        "*--since=-1h*) while [ ! -f '" + argsFile.toUtf8() + ".live' ]; do sleep 0.05; done; echo '" + journalLine("hour 1", now - 30 * minute) + "'; echo '" + journalLine("hour 2", now - 20 * minute) + "';;\n"
        "*--since=-1d*) echo '" + journalLine("day 1", now - 600 * minute) + "'; echo '" + journalLine("day 2", now - 500 * minute) + "'; echo '"
        + journalLine("hour 1", now - 30 * minute) + "'; echo '" + journalLine("never", now - 10 * minute) + "';;\n"
        "*m*) echo '" + journalLine("before history", now - 25 * minute) + "'; echo '" + journalLine("at history end", now - 20 * minute) + "'; echo '"
        + journalLine("gap", now - 5 * minute) + "'; echo '" + journalLine("at live start", now + minute) + "';;\nesac\n";
    const QString tool = dir + QStringLiteral("/journalctl");
    testsupport::writeFile(tool, script);
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{tool, platform::LogToolFraming::Lines});
    reader->setCatchUpDelay(0.5);
    EXPECT_FALSE(reader->cacheLogMessages());
    reader->updateLogAfterIncreasingNumberOfDays(false);
    EXPECT_EQ(reader->numberOfDays(), 0);
    EXPECT_TRUE(waitFor([&] { return messages(reader->logEntries()).contains(QStringLiteral("gap")); }))
        << messages(reader->logEntries()).join(QStringLiteral(", ")).toStdString();
    // The catch-up adds only what lies strictly between the history's end and the live start.
    EXPECT_EQ(messages(reader->logEntries()),
              (QStringList{QStringLiteral("hour 1"), QStringLiteral("hour 2"), QStringLiteral("gap"), QStringLiteral("live")}));
    EXPECT_FALSE(reader->isSpinning());

    // Earlier results insert only entries older than the oldest shown, and stop there.
    reader->findEarlierResults();
    EXPECT_EQ(reader->numberOfDays(), 1);
    EXPECT_TRUE(waitFor([&] { return messages(reader->logEntries()).size() == 6 && !reader->isSpinning(); }));
    EXPECT_EQ(messages(reader->logEntries()), (QStringList{QStringLiteral("day 1"), QStringLiteral("day 2"), QStringLiteral("hour 1"),
                                                           QStringLiteral("hour 2"), QStringLiteral("gap"), QStringLiteral("live")}));
    const QString calls = QString::fromUtf8(testsupport::readFile(argsFile));
    EXPECT_TRUE(calls.contains(QStringLiteral("--since=-1h")));
    EXPECT_TRUE(calls.contains(QStringLiteral("--since=-1d")));
    EXPECT_TRUE(calls.contains(QStringLiteral("--since=-2m")));
    EXPECT_TRUE(calls.contains(QStringLiteral("--follow")));
    reader->reset();
    ILRTerminateAllLogStreams();
}

TEST(LogReader, BatchesOfAnEarlierGenerationChangeNothing)
{
    auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{QStringLiteral("/bin/true"), platform::LogToolFraming::Lines});
    reader->setLogEntriesForTesting({ILRMakeLogEntry(dated(QStringLiteral("kept"), 100))}, 0);
    const auto stale = reader->currentEntriesReference();
    reader->setLogEntriesForTesting({ILRMakeLogEntry(dated(QStringLiteral("new generation"), 200))}, 0);
    EXPECT_TRUE(reader->handleLiveBatch(stale, {dated(QStringLiteral("stale live"), 300)}));
    bool goOn = true;
    reader->handleHistoryBatch(stale, {dated(QStringLiteral("stale history"), 50)}, std::nullopt, &goOn);
    EXPECT_FALSE(goOn);
    reader->mergeCatchUp(stale, {dated(QStringLiteral("stale catch-up"), 250)});
    EXPECT_EQ(messages(reader->logEntries()), QStringList{QStringLiteral("new generation")});

    // The current generation takes live lines in date order.
    const auto current = reader->currentEntriesReference();
    reader->handleLiveBatch(current, {dated(QStringLiteral("later"), 400), dated(QStringLiteral("earlier"), 150)});
    EXPECT_EQ(messages(reader->logEntries()), (QStringList{QStringLiteral("earlier"), QStringLiteral("new generation"), QStringLiteral("later")}));
}

TEST(LogReader, CatchUpKeepsOnlyWhatLiesStrictlyBetween)
{
    auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{QStringLiteral("/bin/true"), platform::LogToolFraming::Lines});
    reader->setLogEntriesForTesting({}, 0);
    reader->setStreamTimestampsForTesting(platform::Date{300}, platform::Date{100});
    reader->mergeCatchUp(reader->currentEntriesReference(),
                         {dated(QStringLiteral("99"), 99), dated(QStringLiteral("100"), 100), dated(QStringLiteral("200"), 200),
                          dated(QStringLiteral("300"), 300), dated(QStringLiteral("301"), 301)});
    EXPECT_EQ(messages(reader->logEntries()), QStringList{QStringLiteral("200")});
}

TEST(LogReader, WithoutAJournalTheProgramsOwnLinesAreKeptFromTheStart)
{
    testsupport::LogCapture log;
    auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{});
    EXPECT_TRUE(reader->cacheLogMessages());
    EXPECT_EQ(reader->numberOfDays(), -1);
    reader->logFormat(u"cannot open <%@>", {platform::FormatArg(QStringLiteral("/m/a.mov"))});
    reader->logFormat(u"second %d", {platform::FormatArg(2)});
    ASSERT_TRUE(reader->cachedLogMessages());
    EXPECT_EQ(messages(*reader->cachedLogMessages()), (QStringList{QStringLiteral("cannot open </m/a.mov>"), QStringLiteral("second 2")}));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("cannot open </m/a.mov>"), QStringLiteral("second 2")}));
    // Nothing is run without a tool.
    reader->updateLogAfterIncreasingNumberOfDays(false);
    EXPECT_TRUE(reader->logEntries().empty());
    reader->clear();
    EXPECT_TRUE(reader->cachedLogMessages()->empty());
}

TEST(LogReader, DebugLoggingFollowsItsUserDefault)
{
    auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{});
    bool settable = true;
    EXPECT_FALSE(reader->isDebugLoggingEnabledAndSettable(&settable));
    EXPECT_FALSE(settable);
    reader->setDebugLoggingUserDefaultName(QStringLiteral("PMDebugLog"));
    reader->toggleDebugLogging(true);
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("PMDebugLog")));
    EXPECT_TRUE(reader->isDebugLoggingEnabledAndSettable(&settable));
    EXPECT_TRUE(settable);

    struct ReadOnly : ILRIntegratedLogReaderDelegate {
        std::optional<bool> isDebugLoggingEnabledForLogReader(ILRIntegratedLogReader*) override { return false; }
    } delegate;
    reader->setDelegate(&delegate);
    EXPECT_FALSE(reader->isDebugLoggingEnabledAndSettable(&settable));
    EXPECT_FALSE(settable);
    reader->setDelegate(static_cast<ILRIntegratedLogReaderDelegate*>(nullptr));
}
