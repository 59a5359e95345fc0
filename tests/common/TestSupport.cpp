#include "TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtCore/QUuid>

#include <gtest/gtest.h>

#include "foundation/PMLogReader.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/EventClock.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

#include <mutex>

namespace testsupport {

QString testHome()
{
    return QString::fromLocal8Bit(qgetenv("HOME"));
}

void resetProcessState()
{
    // The services the records ask of the controller, as a fresh process has them once the
    // controller is made and has built its tables: tests that replace or clear one (and
    // the work on the crawl queue that may still call them) leave no trace in the next.
    PMMainController& controller = PMMainController::mainController();
    static const PMMovieRepresentationServices services = [&] {
        controller.invalidateLibraryDependencies();
        return PMMovieRepresentationServices::shared();
    }();
    PMCrawlQueue::waitUntilEmpty(std::chrono::seconds(30));
    PMMovieRepresentationServices::shared() = services;
    // The settings a launch or a library load reads into process-wide flags, as a fresh
    // process has them.
    PMCachedSettings::determineFuzzyOldestDate = false;
    PMCachedSettings::convertAnimatedImagesToMovies = false;
    PMCachedSettings::determineFuzzyOldestDateUseCreationDate = false;
    PMCachedSettings::determineFuzzyNewestDateUseSortingContext = false;
    PMCachedSettings::determineNamesAutomatically = false;
    // The controls' clock runs on real time again (a test that steered it and stopped early).
    platform::steerEventClockForTesting(false);
    // The log function looks for its reader again; lines and alerts go where the test says.
    PMLogReaderForgetForTesting();
    platform::setSystemLogSink(nullptr);
    platform::setAlertHandler(nullptr);
    // The settings an earlier test stored.
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (const platform::DictionaryPtr stored = defaults.persistentDomain())
        for (const QString& key : stored->keys())
            defaults.removeObjectForKey(key);
    // The library, the selection, the current movie and the pending searches.
    controller.resetForTesting();
}

QString makeTempDir(const QString& hint)
{
    const QString path = testHome() + QStringLiteral("/tmp/") + hint + u'-' + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(path);
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

ProcessResult runProcess(const QString& program, const QStringList& args, const QByteArray& input, int timeoutMs)
{
    ProcessResult r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        r.err = "cannot start " + program.toUtf8();
        return r;
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

struct LogCapture::State {
    mutable std::mutex mutex;
    QStringList lines;
};

LogCapture::LogCapture()
    : m_state(std::make_shared<State>())
{
    std::shared_ptr<State> state = m_state;
    platform::setSystemLogSink([state](const QString& line) {
        std::lock_guard lock(state->mutex);
        state->lines << line;
    });
}

LogCapture::~LogCapture()
{
    platform::setSystemLogSink(nullptr);
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->lines;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void runQueuedWork()
{
    const auto reached = std::make_shared<bool>(false);
    QTimer::singleShot(0, QCoreApplication::instance(), [reached] { *reached = true; });
    ASSERT_TRUE(waitUntil([&] { return *reached; }, 60000));
    QCoreApplication::sendPostedEvents();
}

QString privateBusConfigFile()
{
    static const QString path = [] {
        const QString folder = makeTempDir(QStringLiteral("bus"));
        const QString file = folder + QStringLiteral("/bus.conf");
        // A session bus without service directories: nothing is ever started on demand.
        writeFile(file, QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                       "<busconfig>\n"
                                       "  <type>session</type>\n"
                                       "  <listen>unix:tmpdir=%1</listen>\n"
                                       "  <auth>EXTERNAL</auth>\n"
                                       "  <policy context=\"default\">\n"
                                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                       "    <allow eavesdrop=\"true\"/>\n"
                                       "    <allow own=\"*\"/>\n"
                                       "  </policy>\n"
                                       "</busconfig>\n")
                            .arg(folder.toHtmlEscaped())
                            .toUtf8());
        return file;
    }();
    return path;
}

QString startPrivateBus(QProcess& daemon)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty())
        return {};
    daemon.start(program, {QStringLiteral("--config-file=") + privateBusConfigFile(), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(5000))
        return {};
    waitUntil([&] { return daemon.canReadLine(); }, 5000);
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

} // namespace testsupport
