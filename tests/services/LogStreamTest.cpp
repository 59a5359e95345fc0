// The log tool's output cut into entries: the tool's array framing (entries end with a
// line that is only "}") and the journal's one record a line, fed in pieces as a pipe
// delivers them, and a real child process that prints canned pieces.
#include "services/log_reader/ILRJSONLogStream.h"

#include "common/TestSupport.h"

#include <QtCore/QFile>
#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using platform::LogToolFraming;

namespace {

struct Collector {
    std::mutex mutex;
    std::vector<QStringList> batches;
    ILRJSONLogStream::OutputHandler handler(bool answer = true)
    {
        return [this, answer](const ILRJSONLogStream::Entries& entries) {
            QStringList messages;
            for (const auto& e : entries)
                messages << e->value(QStringLiteral("eventMessage")).string();
            std::lock_guard lock(mutex);
            batches.push_back(messages);
            return answer;
        };
    }
    QStringList all()
    {
        std::lock_guard lock(mutex);
        QStringList out;
        for (const auto& b : batches)
            out += b;
        return out;
    }
};

// One top-level entry as the tool writes it: an inner object indented, the closing line bare.
QByteArray toolEntry(const char* message)
{
    return QByteArray("{\n  \"eventMessage\" : \"") + message
           + "\",\n  \"source\" : {\n    \"file\" : \"x\"\n  },\n  \"timestamp\" : \"2026-12-10 10:00:00.000000+0000\"\n}";
}

QByteArray journalLine(const char* message, qint64 micros = 1765360800000000)
{
    return QByteArray("{\"MESSAGE\":\"") + message + "\",\"_EXE\":\"/usr/bin/Pellis\",\"SYSLOG_IDENTIFIER\":\"Pellis\",\"__REALTIME_TIMESTAMP\":\""
           + QByteArray::number(micros) + "\"}\n";
}

QString writeScript(const QByteArray& body)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("tool")) + QStringLiteral("/tool.sh");
    testsupport::writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

TEST(LogStream, ArrayFramingHoldsASplitEntryAndDropsTheHeaderOnce)
{
    Collector c;
    ILRJSONLogStream stream(LogToolFraming::Array, c.handler());
    const QByteArray first = toolEntry("one");
    // The tool's opening line, then the array, the first entry split inside its inner object.
    stream.readData("Filtering the log data using \"x\"\n[" + first.left(40));
    EXPECT_TRUE(c.all().isEmpty());
    stream.readData(first.mid(40));
    EXPECT_EQ(c.all(), QStringList{QStringLiteral("one")});
    // Two complete entries in one piece come as one batch; a later "[{" is no header.
    stream.readData(",\n" + toolEntry("[{ two") + ",\n" + toolEntry("three") + "\n]\n");
    ASSERT_EQ(c.batches.size(), 2u);
    EXPECT_EQ(c.batches[1], (QStringList{QStringLiteral("[{ two"), QStringLiteral("three")}));
    EXPECT_LE(stream.bufferedSize(), 4);
}

TEST(LogStream, ArrayFramingSkipsAMalformedEntryAndLogsItOnce)
{
    testsupport::LogCapture log;
    Collector c;
    ILRJSONLogStream stream(LogToolFraming::Array, c.handler());
    stream.readData("[" + toolEntry("good 1") + ",\n{\n  \"eventMessage\" : broken\n},\n" + toolEntry("good 2") + ",\n{\n  nope\n}");
    stream.readData(",\n" + toolEntry("good 3"));
    EXPECT_EQ(c.all(), (QStringList{QStringLiteral("good 1"), QStringLiteral("good 2"), QStringLiteral("good 3")}));
    int malformed = 0;
    for (const QString& line : log.lines())
        malformed += line.startsWith(QStringLiteral("[ILR] skipping malformed log entry"));
    EXPECT_EQ(malformed, 1);
}

TEST(LogStream, OutputWithoutAnEntryEndIsCappedAndTheStreamGoesOn)
{
    for (const LogToolFraming framing : {LogToolFraming::Array, LogToolFraming::Lines}) {
        Collector c;
        ILRJSONLogStream stream(framing, c.handler());
        const QByteArray junk(1024 * 1024, 'x');
        for (int i = 0; i < 5; ++i)
            stream.readData(junk);
        EXPECT_LE(stream.bufferedSize(), ILRJSONLogStream::kMaximumBufferSize);
        if (framing == LogToolFraming::Array)
            stream.readData("\n}\n" + toolEntry("after"));
        else
            stream.readData("tail of the long line\n" + journalLine("after"));
        EXPECT_EQ(c.all(), QStringList{QStringLiteral("after")});
    }
}

TEST(LogStream, LineFramingJoinsLinesSplitAcrossPiecesAndConvertsJournalRecords)
{
    testsupport::LogCapture log;
    Collector c;
    ILRJSONLogStream stream(LogToolFraming::Lines, c.handler());
    const QByteArray a = journalLine("first"), b = journalLine("second");
    stream.readData(a.left(17));
    EXPECT_TRUE(c.all().isEmpty());
    stream.readData(a.mid(17) + b.left(5));
    stream.readData(b.mid(5) + "{not json}\n" + "{\"MESSAGE\":[104,105,255],\"__REALTIME_TIMESTAMP\":\"1\"}\n");
    EXPECT_EQ(c.all(), (QStringList{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("hi\uFFFD")}));
    EXPECT_EQ(log.lines().filter(QStringLiteral("skipping malformed")).size(), 1);
}

TEST(LogStream, JournalRecordsBecomeEntries)
{
    auto record = platform::Dictionary::make({{QStringLiteral("MESSAGE"), platform::Value(QStringLiteral("cannot open <a>"))},
                                              {QStringLiteral("_EXE"), platform::Value(QStringLiteral("/opt/pellis/bin/Pellis"))},
                                              {QStringLiteral("SYSLOG_IDENTIFIER"), platform::Value(QStringLiteral("Pellis"))},
                                              {QStringLiteral("__REALTIME_TIMESTAMP"), platform::Value(QStringLiteral("1765360800123456"))}});
    const platform::DictionaryPtr entry = platform::logEntryFromJournalRecord(record);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("eventMessage")).string(), QStringLiteral("cannot open <a>"));
    EXPECT_EQ(entry->value(QStringLiteral("processImagePath")).string(), QStringLiteral("/opt/pellis/bin/Pellis"));
    platform::Date date;
    ASSERT_TRUE(platform::dateFromLogTimestamp(entry->value(QStringLiteral("timestamp")).string(), &date));
    EXPECT_NEAR(date.secondsSince1970, 1765360800.123456, 1e-6);
    EXPECT_FALSE(platform::logEntryFromJournalRecord(platform::Dictionary::make()));
}

TEST(LogStream, JournalArgumentsAreBuiltFromFields)
{
    EXPECT_EQ(platform::journalMatch(QStringLiteral("SYSLOG_IDENTIFIER"), QStringLiteral("Pel lis")), QStringLiteral("SYSLOG_IDENTIFIER=Pel lis"));
    EXPECT_TRUE(platform::journalMatch(QStringLiteral("A=B"), QStringLiteral("x")).isEmpty());
    EXPECT_TRUE(platform::journalMatch(QStringLiteral("lower"), QStringLiteral("x")).isEmpty());
    EXPECT_TRUE(platform::journalMatch(QStringLiteral("FIELD"), QStringLiteral("a\nb")).isEmpty());
    const QStringList history = platform::journalArguments(false, 0, QStringLiteral("7d"), {QStringLiteral("SYSLOG_IDENTIFIER=Pellis")});
    EXPECT_TRUE(history.contains(QStringLiteral("--since=-7d")));
    EXPECT_TRUE(history.contains(QStringLiteral("--output=json")));
    EXPECT_TRUE(history.contains(QStringLiteral("--priority=notice")));
    EXPECT_EQ(history.last(), QStringLiteral("SYSLOG_IDENTIFIER=Pellis"));
    const QStringList live = platform::journalArguments(true, 2, QString(), {});
    EXPECT_TRUE(live.contains(QStringLiteral("--follow")));
    EXPECT_TRUE(live.contains(QStringLiteral("--priority=debug")));
}

TEST(LogStream, AFakeChildsPiecesArriveAsEntries)
{
    // The entry is split across two writes with a pause between them.
    const QByteArray a = journalLine("from the child"), b = journalLine("second");
    const QString script = writeScript("printf '%s' '" + a.left(20) + "'\nsleep 0.3\nprintf '%s' '" + a.mid(20) + b + "'\n");
    Collector c;
    ASSERT_TRUE(ILRJSONLogStream::waitForStreamWithArguments({script, LogToolFraming::Lines}, {}, c.handler()));
    EXPECT_EQ(c.all(), (QStringList{QStringLiteral("from the child"), QStringLiteral("second")}));

    // A live stream reads on its own thread until terminated.
    const QString live = writeScript("printf '%s' '" + a + "'\nexec sleep 30\n");
    Collector l;
    auto stream = ILRJSONLogStream::initWithArguments({live, LogToolFraming::Lines}, {}, l.handler(), false);
    ASSERT_TRUE(stream);
    testsupport::waitUntil([&] { return !l.all().isEmpty(); }, 10000);
    EXPECT_EQ(l.all(), QStringList{QStringLiteral("from the child")});
    stream->terminate();
    ILRTerminateAllLogStreams();

    EXPECT_FALSE(ILRJSONLogStream::initWithArguments({QStringLiteral("/nonexistent/tool"), LogToolFraming::Lines}, {}, l.handler(), false));
}

TEST(LogStream, AHandlerThatSaysStopEndsAWaitingTool)
{
    const QString script = writeScript("printf '%s' '" + journalLine("one") + "'\nexec sleep 60\n");
    Collector c;
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(ILRJSONLogStream::waitForStreamWithArguments({script, LogToolFraming::Lines}, {}, c.handler(false)));
    EXPECT_LT(timer.elapsed(), 30000);
    EXPECT_EQ(c.all(), QStringList{QStringLiteral("one")});
}
