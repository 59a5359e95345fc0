// The main of every test executable: each test gets a fresh temporary HOME and XDG folders
// of its own (the machine's installed applications, icon themes, caches and settings are
// never seen), process-wide state is put back between tests, and a Qt application runs on
// the offscreen platform.
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStringList>
#include <QtCore/QThreadPool>
#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "platform/Queues.h"
#ifdef PELLIS_TEST_ALERT_BOXES
#include "platform/AlertBox.h"
#endif

#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#include <dlfcn.h>
#include <sched.h>

// QProcess starts its child with clone() sharing the parent's memory until exec (vfork
// style). The thread sanitizer's clone() treats every child as a forked copy and resets
// its own bookkeeping in the child, which with shared memory is the parent's: later hand-
// overs between the parent's threads are then lost and read as races. Under the sanitizer
// the test executables start such children as copies instead (plain fork semantics).
extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...)
{
    va_list rest;
    va_start(rest, arg);
    void* parentTid = va_arg(rest, void*);
    void* tls = va_arg(rest, void*);
    void* childTid = va_arg(rest, void*);
    va_end(rest);
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const Clone next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    if ((flags & CLONE_VM) && !(flags & CLONE_THREAD))
        flags &= ~(CLONE_VM | CLONE_VFORK);
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
#endif

namespace {

std::string makeRoot()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/pellis-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        std::abort();
    return buffer.data();
}

// The machine's MIME database (shared-mime-info), found before the environment changes.
// It is the type system the program runs with, not a setting: tests see it, and nothing
// else of the system's data folders.
std::string machineMimeDatabase()
{
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const QStringList folders = QString::fromLocal8Bit(dirs && *dirs ? dirs : "/usr/local/share:/usr/share").split(u':', Qt::SkipEmptyParts);
    for (const QString& folder : folders)
        if (QFileInfo::exists(folder + QStringLiteral("/mime/mime.cache")))
            return (folder + QStringLiteral("/mime")).toStdString();
    return {};
}

// Points HOME and every XDG variable at new folders inside `home`. The system-wide lists
// (XDG_DATA_DIRS, XDG_CONFIG_DIRS) name folders of the test's own, so that neither
// /usr/share/applications nor /etc/xdg can change a result.
void useHome(const std::string& home, const std::string& mimeDatabase)
{
    const auto sub = [&](const char* name) {
        const std::string path = home + "/" + name;
        QDir().mkpath(QString::fromStdString(path));
        return path;
    };
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", sub(".config").c_str(), 1);
    setenv("XDG_DATA_HOME", sub(".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", sub(".cache").c_str(), 1);
    setenv("XDG_STATE_HOME", sub(".local/state").c_str(), 1);
    const std::string systemData = sub("system/share");
    if (!mimeDatabase.empty())
        QFile::link(QString::fromStdString(mimeDatabase), QString::fromStdString(systemData + "/mime"));
    setenv("XDG_DATA_DIRS", systemData.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", sub("system/xdg").c_str(), 1);
    const std::string runtime = sub("runtime");
    chmod(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

// Before each test: a home of its own, and the state that earlier tests of the same
// process left in the program's singletons put back.
class FreshStateForEachTest : public testing::EmptyTestEventListener {
public:
    FreshStateForEachTest(std::string root, std::string mimeDatabase)
        : m_root(std::move(root))
        , m_mimeDatabase(std::move(mimeDatabase))
    {
    }
    void OnTestStart(const testing::TestInfo&) override
    {
        useHome(m_root + "/" + std::to_string(++m_count), m_mimeDatabase);
        testsupport::resetProcessState();
    }
    // After each test: the work it queued on the main thread (a job for the next turn of the
    // run loop, a deferred delete) runs now, against the state it was queued for, instead of
    // in the next test.
    void OnTestEnd(const testing::TestInfo&) override { testsupport::runQueuedWork(); }

private:
    std::string m_root;
    std::string m_mimeDatabase;
    int m_count = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const std::string root = makeRoot();
    const std::string mimeDatabase = machineMimeDatabase();
    // The application object reads the environment once: it starts in a home too.
    useHome(root + "/0", mimeDatabase);
    // A test that needs a real display (OpenGL) is run with PELLIS_TEST_PLATFORM=xcb.
    const char* platform = std::getenv("PELLIS_TEST_PLATFORM");
    setenv("QT_QPA_PLATFORM", platform && *platform ? platform : "offscreen", 1);
    setenv("com.tolvane.MultipleApplicationInstanceCheck", "skip", 1);

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellis"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvane.com"));
#ifdef PELLIS_TEST_ALERT_BOXES
    platform::installAlertBoxes();
#endif
    // Numbers written by C functions must not follow the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    testing::UnitTest::GetInstance()->listeners().Append(new FreshStateForEachTest(root, mimeDatabase));

    const int result = RUN_ALL_TESTS();
    // Work a test left on the idle threads (pictures blurred, files read) ends before the
    // application it draws with goes. None of it is dropped: operation queues count on their
    // jobs running. The main thread keeps answering, for jobs that wait on it.
    while (!platform::backgroundThreadPool()->waitForDone(20))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!std::getenv("PELLIS_KEEP_TEST_HOME"))
        QDir(QString::fromStdString(root)).removeRecursively();
    return result;
}
