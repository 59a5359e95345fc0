#include "foundation/PMLog.h"
#include "foundation/PMLogReader.h"
#include "platform/ClassRegistry.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::mutex g_mutex;
QStringList g_systemLines;

void captureSystemLog()
{
    platform::setSystemLogSink([](const QString& line) {
        std::lock_guard lock(g_mutex);
        g_systemLines << line;
    });
}

std::atomic<int> g_readersCreated{0};
QStringList g_readerLines;

class RecordingReader : public PMLogReaderInterface {
public:
    void logFormat(QStringView format, std::initializer_list<platform::FormatArg> arguments) override
    {
        const QString line = platform::formatArgs(format, arguments);
        platform::writeToSystemLog(line);
        std::lock_guard lock(g_mutex);
        g_readerLines << line;
    }
    void displayLog(QObject*) override { ++displayed; }
    void setDelegate(QObject*) override {}
    void setMenuItemActionImageSetter(const QString& operation) override { imageSetter = operation; }
    void setDebugLoggingUserDefaultName(const QString& name) override { debugName = name; }
    int displayed = 0;
    QString imageSetter;
    QString debugName;
};

std::shared_ptr<RecordingReader> g_reader;

// The test main makes the log function look its reader up afresh before each test; each
// test starts without a reader class and with nothing recorded.
class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::registerClass(QString::fromLatin1(kPMLogReaderClassName), nullptr);
        std::lock_guard lock(g_mutex);
        g_systemLines.clear();
        g_readerLines.clear();
        g_readersCreated = 0;
        g_reader.reset();
    }
};

} // namespace

TEST_F(Log, WithoutAReaderLinesGoToTheSystemLogUnchanged)
{
    captureSystemLog();
    PMLog("cannot move <%@> to <%@>", QStringLiteral("/a b"), QStringLiteral("/c"));
    PMLog("[PMCSVParser] incorrect number of fields in record: %@ (expected: %lu; raw line: %@)", QStringLiteral("x"), size_t(3), QStringLiteral("a,b"));
    EXPECT_FALSE(PMLogReaderExists());
    EXPECT_FALSE(PMLogReaderDisplay(nullptr));
    EXPECT_FALSE(PMLogReaderSetDelegate(nullptr));
    std::lock_guard lock(g_mutex);
    EXPECT_EQ(g_systemLines, (QStringList{QStringLiteral("cannot move </a b> to </c>"),
                                          QStringLiteral("[PMCSVParser] incorrect number of fields in record: x (expected: 3; raw line: a,b)")}));
}

TEST_F(Log, AReaderThatCannotDisplayIsNotUsed)
{
    captureSystemLog();
    auto cls = std::make_shared<PMLogReaderClass>();
    cls->canDisplayLog = [] { return false; };
    cls->create = [] { ++g_readersCreated; return std::make_shared<RecordingReader>(); };
    platform::registerClass(QString::fromLatin1(kPMLogReaderClassName), cls);
    PMLog("line");
    EXPECT_FALSE(PMLogReaderExists());
    EXPECT_EQ(g_readersCreated, 0);
}

TEST_F(Log, ConcurrentFirstCallsCreateExactlyOneReader)
{
    captureSystemLog();
    auto cls = std::make_shared<PMLogReaderClass>();
    cls->canDisplayLog = [] { return true; };
    cls->create = [] {
        ++g_readersCreated;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g_reader = std::make_shared<RecordingReader>();
        return g_reader;
    };
    platform::registerClass(QString::fromLatin1(kPMLogReaderClassName), cls);
    std::thread background([] { PMLog("from the background %d", 1); });
    EXPECT_TRUE(PMLogReaderExists());
    background.join();
    EXPECT_EQ(g_readersCreated, 1);
    ASSERT_TRUE(g_reader);
    EXPECT_EQ(g_reader->imageSetter, QStringLiteral("setMacOS26ImageWithSystemSymbolName"));
    EXPECT_EQ(g_reader->debugName, QStringLiteral("PMDebugLog"));
    EXPECT_TRUE(PMLogReaderDisplay(nullptr));
    EXPECT_EQ(g_reader->displayed, 1);
    std::lock_guard lock(g_mutex);
    EXPECT_EQ(g_readerLines, QStringList{QStringLiteral("from the background 1")});
    EXPECT_EQ(g_systemLines, QStringList{QStringLiteral("from the background 1")});
}

TEST_F(Log, DebugLoggingFollowsTheDefault)
{
    EXPECT_FALSE(PMDebugLogEnabled());
    platform::UserDefaults::standard().setBool(true, QStringLiteral("PMDebugLog"));
    EXPECT_TRUE(PMDebugLogEnabled());
}
