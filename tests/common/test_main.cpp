// The main of every test executable: a fresh temporary HOME and XDG dirs, so that no test
// sees the user's settings or library, and a Qt application on the offscreen platform.
#include <QtCore/QDir>
#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string makeHome()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/pellis-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        std::abort();
    return buffer.data();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string home = makeHome();
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
    const std::string runtime = sub("runtime");
    chmod(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // A test that needs a real display (OpenGL) is run with PELLIS_TEST_PLATFORM=xcb.
    const char* platform = std::getenv("PELLIS_TEST_PLATFORM");
    setenv("QT_QPA_PLATFORM", platform && *platform ? platform : "offscreen", 1);
    setenv("com.tolvane.MultipleApplicationInstanceCheck", "skip", 1);

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellis"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvane.com"));
    // Numbers written by C functions must not follow the user's locale.
    std::setlocale(LC_NUMERIC, "C");

    const int result = RUN_ALL_TESTS();
    if (!std::getenv("PELLIS_KEEP_TEST_HOME"))
        QDir(QString::fromStdString(home)).removeRecursively();
    return result;
}
