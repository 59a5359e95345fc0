// Launching to a populated library window: a library index of 20,000 movies (one
// container) is loaded by the start-up sequence, the library window is built and shown,
// and the time until the grid has painted its first tiles is measured (pictures load
// after that). Each launch runs in a fresh child process, as a real start does; the
// figure reported is the median of five.
//
// `bench_window --scale [COUNT]` (100,000) measures the window at library scale, each figure
// in a fresh child process holding COUNT movies of a library like a user's (made once by
// bench_makelibrary under /tmp: in folders of 50, and all in one folder for the figure that
// chooses it; `--scale-absent` the same with every movie's file absent, `--scale-plain` the
// older library of plainly named movies, loose and in one folder): launch to a painted window
// and the memory then, the longest hold of the main thread after the first search keystroke,
// the main thread's time per step of Page Down repeated every 15 ms (and whether the view
// lands where the keys say), the memory after scrolling the whole grid end to end (every
// tile that appeared given a picture, as its loads would), a rating change to the painted
// window, choosing the folder in the sidebar, and a full library update to the painted window.
//
// `bench_window --scale-renamed [COUNT]` (100,000) measures three launches of that library
// (loose) after its movies' folder was renamed: to the painted window, and on to the moment
// the moved movies have all been found.
//
// `bench_window --make-library DIR [COUNT]` instead makes a library of COUNT (300) real tiny
// movies and animated GIFs (ffmpeg) in folders inside DIR and points the settings of $HOME at it, for running
// the program itself; `bench_window --gallery DIR [COUNT]` does that in a throw-away home and
// saves screenshots of the window, light and dark, with its sidebar, a search typed and a
// menu open, into DIR (run it under xvfb-run to look at the window as a user does).
#include "foundation/PMFunctions.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "platform/Appearance.h"
#include "platform/InterfaceFiles.h"
#include "platform/Memory.h"
#include "platform/PropertyList.h"
#include "platform/SaveFile.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMainMenu.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMMovieOutlineView.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMMovieRepresentation.h"
#include "ui/library_window/PMStatusFields.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyle>

#include <functional>
#include <QtGui/QKeyEvent>

#include <ctime>

#include <algorithm>
#include <cstdio>
#include <vector>

using platform::Value;

namespace {

constexpr int kLaunchMovies = 20000;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

void processEventsFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

const char* const kTitles[] = {"The Long Harbour", "Night Train to Verlan", "Paper Moons", "A Quiet Field", "Orbit", "The Glass Orchard",
                               "Saltwater", "Midsummer Lights", "Hollow Creek", "Blue Hour", "The Cartographer", "Ember", "Northbound",
                               "Lanterns", "The Last Ferry", "Tidewater", "Copper Sky", "Winter Garden", "Small Wonders", "Driftwood"};

QString titleFor(int i)
{
    const int n = int(std::size(kTitles));
    if (i < n)
        return QString::fromLatin1(kTitles[i]);
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(kTitles[i % n])).arg(i / n + 1);
}

Value movieRecord(const QString& path, const QString& name, int i)
{
    auto settings = platform::Dictionary::make({{QStringLiteral("Name"), name},
                                                {QStringLiteral("Added Timestamp"), 1700000000.0 + i},
                                                {QStringLiteral("Rating"), double(i % 6)},
                                                {QStringLiteral("Unique ID"), QStringLiteral("00000000-0000-0000-0000-%1").arg(i, 12, 10, QLatin1Char('0'))}});
    return Value(platform::Dictionary::make({{QStringLiteral("Path"), path},
                                             {QStringLiteral("Bookmark"), PMBookmarkDataFromPath(path)},
                                             {QStringLiteral("User Settings"), Value(settings)}}));
}

// The index of the library folder: the movies section holding the folders and the loose movies.
bool writeIndex(const QString& library, const platform::ArrayPtr& sectionChildren)
{
    auto section = platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("Movies")},
                                               {QStringLiteral("Library Section"), QStringLiteral("Movies")},
                                               {QStringLiteral("Unique ID"), QStringLiteral("S-1")},
                                               {QStringLiteral("Children"), Value(sectionChildren)}});
    auto top = platform::Array::make({Value(platform::Dictionary::make({{QStringLiteral("Top Level"), QStringLiteral("Library")},
                                                                         {QStringLiteral("Unique ID"), QStringLiteral("T-1")},
                                                                         {QStringLiteral("Children"), platform::Array::make({Value(section)})}}))});
    auto index = platform::Dictionary::make({{QStringLiteral("Library"), Value(top)}, {QStringLiteral("Version"), QStringLiteral("2")}});
    QDir().mkpath(library + QStringLiteral("/Pellis.library"));
    return platform::saveFile(library + QStringLiteral("/Pellis.library/Pellis.2.libraryindex"), platform::writeBinaryPropertyList(Value(index)))
        .isEmpty();
}

// COUNT empty movie files in one folder, made once under /tmp, and their index: loose in
// the movies section, or (inFolder) in one folder of it. With `renamed`, a library of its
// own whose movies' folder was renamed after the index was written.
QString makeLaunchLibrary(int count = kLaunchMovies, bool inFolder = false, bool renamed = false)
{
    const QString library = QDir::tempPath()
                            + QStringLiteral("/pellis-bench-window-%1%2%3")
                                  .arg(count)
                                  .arg(inFolder ? QStringLiteral("-folder") : QString())
                                  .arg(renamed ? QStringLiteral("-renamed") : QString());
    const QString files = library + QStringLiteral("/Films");
    const QString madeFiles = renamed ? library + QStringLiteral("/Films (renamed)") : files;
    if (!QFileInfo::exists(library + QStringLiteral("/.complete"))) {
        QDir().mkpath(files);
        for (int i = 0; i < count; ++i) {
            QFile file(files + QStringLiteral("/Movie %1.mov").arg(i));
            if (!file.open(QIODevice::WriteOnly))
                return {};
        }
        if (!renamed)
            QFile(library + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    } else if (renamed) {
        return library;
    }
    auto children = platform::Array::make();
    for (int i = 0; i < count; ++i)
        children->append(movieRecord(files + QStringLiteral("/Movie %1.mov").arg(i), titleFor(i), i));
    if (inFolder) {
        auto folder = platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("Films")},
                                                  {QStringLiteral("Unique ID"), QStringLiteral("F-Films")},
                                                  {QStringLiteral("Children"), Value(children)}});
        children = platform::Array::make({Value(folder)});
    }
    if (!writeIndex(library, children))
        return {};
    // The index (and its bookmarks) was written before the folder was renamed.
    if (renamed) {
        if (!QDir().rename(files, madeFiles))
            return {};
        QFile(library + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    }
    return library;
}

// A library like a user's of COUNT movies in FOLDERS folders, files present or absent,
// written once under /tmp by bench_makelibrary (beside this program), where
// bench/measure-real-program.py keeps its libraries too; answers its library folder, or
// nothing when it could not be made.
QString makeRealisticLibrary(int count, int folders, bool present)
{
    const QString home = QDir::tempPath()
                         + QStringLiteral("/pellis-real-libraries/%1-%2-%3").arg(count).arg(folders).arg(present ? QStringLiteral("present") : QStringLiteral("absent"));
    const QString library = home + QStringLiteral("/Library");
    if (QFileInfo::exists(home + QStringLiteral("/.complete")))
        return library;
    QDir(home).removeRecursively();
    QStringList arguments = {QStringLiteral("--home"), home, QStringLiteral("--movies"), QString::number(count), QStringLiteral("--folders"),
                             QString::number(folders)};
    if (!present)
        arguments << QStringLiteral("--absent");
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedChannels);
    maker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_makelibrary"), arguments);
    if (!maker.waitForFinished(900000) || maker.exitStatus() != QProcess::NormalExit || maker.exitCode() != 0)
        return {};
    QFile(home + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    return library;
}

// COUNT tiny real movies (2 s, 320 x 180, each its own colour) in six folders and loose.
bool makeGalleryLibrary(const QString& library, int count)
{
    const QStringList folders = {QStringLiteral("Animation"), QStringLiteral("Classics"), QStringLiteral("Documentaries"),
                                 QStringLiteral("Holidays 2024"), QStringLiteral("Short Films"), QStringLiteral("Travel")};
    QDir().mkpath(library);
    std::vector<QProcess*> running;
    std::vector<std::pair<QString, QString>> made; // path, name
    for (int i = 0; i < count; ++i) {
        const QString folder = i % 4 == 3 ? QString() : folders[i % folders.size()];
        const QString dir = folder.isEmpty() ? library + QStringLiteral("/Loose") : library + QLatin1Char('/') + folder;
        QDir().mkpath(dir);
        const QString name = titleFor(i);
        // Every fifth file is a small animated GIF, as libraries of clips hold them.
        const bool gif = i % 5 == 4;
        const QString path = dir + QLatin1Char('/') + name + (gif ? QStringLiteral(".gif") : QStringLiteral(".mp4"));
        made.emplace_back(path, name);
        if (QFileInfo::exists(path))
            continue;
        auto* ffmpeg = new QProcess;
        const int size = i % 7 == 0 ? 240 : 320;
        if (gif)
            ffmpeg->start(QStringLiteral("ffmpeg"), {QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                                                     QStringLiteral("lavfi"), QStringLiteral("-i"),
                                                     QStringLiteral("testsrc2=size=%1x90:rate=8:duration=%2").arg(size / 2).arg(2 + i % 3),
                                                     QStringLiteral("-vf"), QStringLiteral("hue=h=%1").arg((i * 47) % 360), path});
        else
            ffmpeg->start(QStringLiteral("ffmpeg"), {QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                                                     QStringLiteral("lavfi"), QStringLiteral("-i"),
                                                     QStringLiteral("testsrc2=size=%1x180:rate=10:duration=%2").arg(size).arg(2 + i % 5),
                                                     QStringLiteral("-vf"), QStringLiteral("hue=h=%1").arg((i * 47) % 360), QStringLiteral("-pix_fmt"),
                                                     QStringLiteral("yuv420p"), path});
        running.push_back(ffmpeg);
        if (running.size() >= 6) {
            running.front()->waitForFinished(60000);
            delete running.front();
            running.erase(running.begin());
        }
    }
    for (QProcess* p : running) {
        p->waitForFinished(60000);
        delete p;
    }
    auto section = platform::Array::make();
    QHash<QString, platform::ArrayPtr> byFolder;
    for (const QString& f : folders) {
        byFolder[f] = platform::Array::make();
        section->append(Value(platform::Dictionary::make({{QStringLiteral("Name"), f},
                                                          {QStringLiteral("Unique ID"), QStringLiteral("F-") + f},
                                                          {QStringLiteral("Children"), Value(byFolder[f])}})));
    }
    for (std::size_t i = 0; i < made.size(); ++i) {
        const QString folder = QFileInfo(QFileInfo(made[i].first).path()).fileName();
        const Value record = movieRecord(made[i].first, made[i].second, int(i));
        if (byFolder.contains(folder))
            byFolder[folder]->append(record);
        else
            section->append(record);
    }
    return writeIndex(library, section);
}

// The program's start, as main() runs it.
void launch()
{
    qputenv("com.tolvane.MultipleApplicationInstanceCheck", "skip");
    platform::registerInterfaceBuilder(QStringLiteral("MainWindow"), [](QObject* owner) -> QWidget* {
        QWidget* window = PMMainController::makeMainWindow(owner);
        if (auto* main = qobject_cast<PMMainWindow*>(window))
            main->setMenuBar(PMMainMenu::createMenuBar(mainController(), main));
        return window;
    });
    PMMainController& controller = mainController();
    // Playback's requests reach the library window, as in the program.
    controller.connectPlaybackController();
    controller.applicationWillFinishLaunching();
    controller.applicationDidFinishLaunching();
}

PMGroupView* grid()
{
    auto* window = qobject_cast<PMMainWindow*>(mainController().mainWindow());
    return window ? window->groupView() : nullptr;
}

// One launch: milliseconds to the first painted grid (printed for the parent).
int launchOnce(const QString& library)
{
    defaults().setObject(Value(library), QStringLiteral("Library Path"));
    QElapsedTimer timer;
    timer.start();
    // The steps of the start, for a look at where the time goes (standard error).
    mainController()._startUpStepObserver = [&timer](const QString& step) {
        std::fprintf(stderr, "%6lld ms  %s\n", static_cast<long long>(timer.elapsed()), qPrintable(step));
    };
    launch();
    std::fprintf(stderr, "%6lld ms  launched\n", static_cast<long long>(timer.elapsed()));
    while (!(grid() && grid()->paintedTileCount() > 0) && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 elapsed = timer.elapsed();
    std::printf("%lld %zu\n", static_cast<long long>(elapsed), grid() ? grid()->proxies().size() : std::size_t(0));
    std::fflush(stdout);
    // No quit sequence: the library is left as it was.
    std::_Exit(0);
}

// A child process's environment: a throw-away home of its own, off screen unless told.
QProcessEnvironment childEnvironment(const QTemporaryDir& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    if (env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// ---- At library scale

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Resident and peak resident memory of this process, in MB.
std::pair<double, double> memoryMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double rss = 0, peak = 0;
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 2 && fields[0] == "VmRSS:")
                rss = fields[1].toDouble() / 1024.0;
            else if (fields.size() >= 2 && fields[0] == "VmHWM:")
                peak = fields[1].toDouble() / 1024.0;
        }
    return {rss, peak};
}

// Runs the event loop for the time given; answers the longest single turn (ms).
// The longest the main thread was held in the next `milliseconds`: a 2 ms timer's lateness,
// with the thread asleep between its ticks (a loop spinning on processEvents would make the
// profile and the thread's time its own). `each` hears every hold over 20 ms.
double longestTurnWithin(int milliseconds, const std::function<void(double at, double hold)>& each = {}, double eachOver = 20)
{
    constexpr double kTick = 2.0;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(int(kTick));
    QElapsedTimer total, last;
    total.start();
    last.start();
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const double hold = std::max(0.0, last.nsecsElapsed() / 1e6 - kTick);
        last.restart();
        longest = std::max(longest, hold);
        if (each && hold > eachOver)
            each(total.nsecsElapsed() / 1e9, hold);
        if (total.elapsed() >= milliseconds)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return longest;
}

// Every tile on screen holds a small picture, as once its loads came in.
void givePicturesToShownTiles(PMGroupView* grid, qint64* given)
{
    for (PMGroupViewItemProxy* proxy : grid->shownProxies())
        if (PMMovieRepresentationPrototype* movie = PMMovie(proxy->representedItem); movie && !movie->cachedPosterImage()) {
            movie->original().m_posterImage = platform::Image::make(QImage(60, 40, QImage::Format_RGB32));
            ++*given;
        }
}

void scaleOnce(const QString& library, const QString& figure, const QString& folderName)
{
    defaults().setObject(Value(library), QStringLiteral("Library Path"));
    QElapsedTimer timer;
    timer.start();
    launch();
    while (!(grid() && grid()->paintedTileCount() > 0) && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 launchMs = timer.elapsed();
    const auto [launchRSS, launchPeak] = memoryMB();
    auto* window = qobject_cast<PMMainWindow*>(mainController().mainWindow());
    PMGroupView* g = grid();
    if (!window || !g) {
        std::printf("failed\n");
        std::fflush(stdout);
        std::_Exit(1);
    }
    // For a profiler attached now: the figure starts once the file named by PELLIS_BENCH_HOLD exists.
    if (const QString hold = qEnvironmentVariable("PELLIS_BENCH_HOLD"); !hold.isEmpty()) {
        std::fprintf(stderr, "holding for %s (pid %lld)\n", qPrintable(hold), static_cast<long long>(QCoreApplication::applicationPid()));
        while (!QFileInfo::exists(hold))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (figure == QLatin1String("renamed")) {
        // On from the painted window until the search for the moved movies has answered.
        while (mainController().isSearchingForMissingFiles() && timer.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const qint64 foundMs = timer.elapsed();
        qsizetype present = 0;
        for (const auto& movie : std::as_const(mainController()._nonProxyRawMovieRepresentationsByID))
            present += movie->isMissing() ? 0 : 1;
        std::printf("launch %lld ms, %.0f MB resident; moved movies found %lld ms after the start (%lld of %lld present)\n",
                    static_cast<long long>(launchMs), launchRSS, static_cast<long long>(foundMs), static_cast<long long>(present),
                    static_cast<long long>(mainController()._nonProxyRawMovieRepresentationsByID.size()));
    } else if (figure == QLatin1String("launch")) {
        std::printf("launch %lld ms, %.0f MB resident (peak %.0f MB), %zu tiles\n", static_cast<long long>(launchMs), launchRSS, launchPeak,
                    g->proxies().size());
    } else if (figure == QLatin1String("idle")) {
        // The window left alone for a minute after launch (the background work of a first
        // session answers meanwhile): each turn of the main thread over 20 ms, and the longest.
        QElapsedTimer since;
        since.start();
        mainController()._libraryUpdateStepObserver = [&since](const QString& step) {
            std::fprintf(stderr, "%9.3f s  %s\n", since.nsecsElapsed() / 1e9, qPrintable(step));
        };
        mainController()._updateUserInterfaceHook = [&since] { std::fprintf(stderr, "%9.3f s  interface refreshed\n", since.nsecsElapsed() / 1e9); };
        int longTurns = 0;
        const double longest = longestTurnWithin(60000, [&](double at, double hold) {
            ++longTurns;
            std::fprintf(stderr, "%9.3f s  held %.1f ms\n", at, hold);
        });
        std::printf("left alone for 60 s after launch: %d turns over 20 ms, longest %.1f ms\n", longTurns, longest);
    } else if (figure == QLatin1String("search")) {
        // The first keystroke a second after the window showed: the longest hold of the
        // main thread in the 3 s that follow.
        longestTurnWithin(1000);
        window->searchField()->setFocus();
        const quint64 layoutsBefore = g->layoutCount();
        QElapsedTimer key;
        key.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, QStringLiteral("h"));
        QCoreApplication::sendEvent(window->searchField(), &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_H, Qt::NoModifier, QStringLiteral("h"));
        QCoreApplication::sendEvent(window->searchField(), &release);
        const double typed = key.nsecsElapsed() / 1e6;
        if (qEnvironmentVariableIsSet("PELLIS_BENCH_VERBOSE")) {
            mainController()._updateUserInterfaceHook = [&key] { std::fprintf(stderr, "%8.1f ms  interface refreshed\n", key.nsecsElapsed() / 1e6); };
            std::fprintf(stderr, "%8.1f ms  typed\n", typed);
        }
        const double longest = std::max(typed, longestTurnWithin(
                                                   3000,
                                                   [&key](double, double hold) {
                                                       if (qEnvironmentVariableIsSet("PELLIS_BENCH_VERBOSE"))
                                                           std::fprintf(stderr, "%8.1f ms  held %.1f ms\n", key.nsecsElapsed() / 1e6, hold);
                                                   },
                                                   qEnvironmentVariableIsSet("PELLIS_BENCH_VERBOSE") ? 4 : 20));
        std::printf("first search keystroke: main thread held at most %.1f ms (%zu tiles shown after, laid out %llu times)\n", longest,
                    g->proxies().size(), static_cast<unsigned long long>(g->layoutCount() - layoutsBefore));
    } else if (figure == QLatin1String("scroll")) {
        longestTurnWithin(1000);
        g->setFocus();
        const int step = g->verticalScrollBar()->pageStep();
        const int start = g->verticalScrollBar()->value();
        const int presses = 200;
        const double before = threadSeconds();
        QElapsedTimer wall;
        wall.start();
        // The repeats come from a timer so that the main thread sleeps between them: its
        // time is then the program's work, not a wait spinning in the event loop.
        int sent = 0;
        QEventLoop loop;
        QTimer repeat;
        repeat.setTimerType(Qt::PreciseTimer);
        repeat.setInterval(15);
        QObject::connect(&repeat, &QTimer::timeout, &loop, [&] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier, QString(), true);
            QCoreApplication::sendEvent(g, &press);
            if (++sent == presses) {
                repeat.stop();
                loop.quit();
            }
        });
        repeat.start();
        loop.exec();
        const double busy = threadSeconds() - before;
        longestTurnWithin(500);
        std::printf("Page Down every 15 ms: %.2f ms of main-thread time per step; landed at %d, keys say %d (page %d)\n", busy * 1000 / presses,
                    g->verticalScrollBar()->value(), std::min(g->verticalScrollBar()->maximum(), start + presses * step), step);
    } else if (figure == QLatin1String("memory")) {
        longestTurnWithin(1000);
        const auto [atStart, peakAtStart] = memoryMB();
        QScrollBar* bar = g->verticalScrollBar();
        qint64 given = 0;
        QElapsedTimer wall;
        wall.start();
        for (int y = 0; y <= bar->maximum(); y += bar->pageStep()) {
            bar->setValue(y);
            QCoreApplication::processEvents();
            givePicturesToShownTiles(g, &given);
        }
        const double scrollSeconds = wall.elapsed() / 1000.0;
        platform::releaseFreeMemory();
        const auto [after, peakAfter] = memoryMB();
        longestTurnWithin(6000);
        platform::releaseFreeMemory();
        const auto [later, peakLater] = memoryMB();
        std::printf("end to end (%.1f s, %lld pictures given): %.0f MB at the start, %.0f MB at the end (%.2fx), %.0f MB 6 s later (%.2fx); peak %.0f MB\n",
                    scrollSeconds, static_cast<long long>(given), atStart, after, after / atStart, later, later / atStart, peakLater);
    } else if (figure == QLatin1String("rating")) {
        longestTurnWithin(1000);
        PMGroupViewItemProxy* proxy = g->shownProxies().empty() ? nullptr : g->shownProxies().front();
        PMMovieRepresentationPrototype* movie = proxy ? PMMovie(proxy->representedItem) : nullptr;
        if (!movie) {
            std::printf("no movie\n");
            std::fflush(stdout);
            std::_Exit(1);
        }
        QElapsedTimer change;
        change.start();
        // Where the time goes (standard error).
        mainController()._libraryUpdateStepObserver = [&change](const QString& step) {
            std::fprintf(stderr, "%8.1f ms  %s\n", change.nsecsElapsed() / 1e6, qPrintable(step));
        };
        mainController()._updateUserInterfaceHook = [&change] { std::fprintf(stderr, "%8.1f ms  interface refreshed\n", change.nsecsElapsed() / 1e6); };
        // As the stars do when let go: the rating, then the update that brings what reads
        // ratings up to date, then paint.
        movie->setRating(std::fmod(movie->rating() + 1, 6));
        mainController().updateLibraryAfterRatingChange();
        window->repaint();
        const double painted = change.nsecsElapsed() / 1e6;
        const double longest = std::max(painted, longestTurnWithin(1500));
        std::printf("rating change: %.1f ms to the painted window, longest hold %.1f ms\n", painted, longest);
    } else if (figure == QLatin1String("update")) {
        // A full library update a second after the window showed, as an edit, a file added or
        // tags read from the files start one: the time to the painted window and the longest
        // hold of the main thread in the 2 s that follow. Four in a row, each a second apart.
        QElapsedTimer change;
        mainController()._libraryUpdateStepObserver = [&change](const QString& step) {
            std::fprintf(stderr, "%8.1f ms  %s\n", change.nsecsElapsed() / 1e6, qPrintable(step));
        };
        // The fourth comes after every movie's tags changed, as when the first reads of the
        // files' metadata found tags in all of them.
        for (int run = 1; run <= 4; ++run) {
            longestTurnWithin(1000);
            if (run == 4)
                for (const auto& movie : std::as_const(mainController()._nonProxyRawMovieRepresentationsByID))
                    movie->invalidateCachedTags();
            change.start();
            mainController().updateLibrary();
            window->repaint();
            const double painted = change.nsecsElapsed() / 1e6;
            const double longest = std::max(painted, longestTurnWithin(2000));
            std::printf("library update %d%s: %.1f ms to the painted window, longest hold %.1f ms (%zu tiles)\n", run,
                        run == 4 ? " (every movie's tags changed)" : "", painted, longest, g->proxies().size());
        }
    } else if (figure == QLatin1String("folder")) {
        longestTurnWithin(1000);
        PMMovieOutlineView* list = mainController().libraryListView;
        for (qsizetype row = 0; list && row < list->numberOfRows(); ++row)
            list->expandItem(list->itemAtRow(row), false);
        qsizetype folderRow = -1, otherRow = -1;
        for (qsizetype row = 0; list && row < list->numberOfRows(); ++row) {
            PMLibraryItem* item = PMItem(list->itemAtRow(row));
            if (item && item->displayName() == folderName)
                folderRow = row;
            else if (item && item->isContainer() && otherRow < 0 && row > 0)
                otherRow = row;
        }
        if (folderRow < 0 || otherRow < 0) {
            std::printf("no folder row\n");
            std::fflush(stdout);
            std::_Exit(1);
        }
        list->selectRowIndexes({otherRow}, false);
        longestTurnWithin(1500);
        QElapsedTimer choose;
        choose.start();
        list->selectRowIndexes({folderRow}, false);
        window->repaint();
        const double chosen = choose.nsecsElapsed() / 1e6;
        const double longest = longestTurnWithin(1500);
        std::printf("choosing the folder: %.1f ms to the painted window, then longest hold %.1f ms (%zu tiles)\n", chosen, longest, g->proxies().size());
    }
    std::fflush(stdout);
    std::_Exit(0);
}

// `kind`: "realistic", "absent" (realistic, every file absent) or "plain".
int measureAtScale(int count, const QString& kind)
{
    const bool plain = kind == QLatin1String("plain");
    const bool present = kind != QLatin1String("absent");
    const QString loose = plain ? makeLaunchLibrary(count, false) : makeRealisticLibrary(count, 2000, present);
    const QString folder = plain ? makeLaunchLibrary(count, true) : makeRealisticLibrary(count, 1, present);
    // The folder that holds every movie.
    const QString folderName = plain ? QStringLiteral("Films") : QStringLiteral("Everything");
    if (loose.isEmpty() || folder.isEmpty()) {
        std::fprintf(stderr, "cannot make the library\n");
        return 1;
    }
    const QStringList figures = {QStringLiteral("launch"), QStringLiteral("launch"), QStringLiteral("launch"), QStringLiteral("search"),
                                 QStringLiteral("scroll"), QStringLiteral("memory"), QStringLiteral("rating"), QStringLiteral("folder"), QStringLiteral("update")};
    for (const QString& figure : figures) {
        QTemporaryDir home;
        QProcess child;
        child.setProcessEnvironment(childEnvironment(home));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString lib = figure == QLatin1String("folder") ? folder : loose;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--scale-once"), lib, figure, folderName});
        child.waitForFinished(600000);
        std::printf("%d movies (%s), %s", count, qPrintable(kind), child.readAllStandardOutput().constData());
        std::fflush(stdout);
    }
    return 0;
}

int measureRenamedAtScale(int count)
{
    const QString library = makeLaunchLibrary(count, false, true);
    if (library.isEmpty()) {
        std::fprintf(stderr, "cannot make the library\n");
        return 1;
    }
    for (int run = 0; run < 3; ++run) {
        QTemporaryDir home;
        QProcess child;
        child.setProcessEnvironment(childEnvironment(home));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--scale-once"), library, QStringLiteral("renamed")});
        child.waitForFinished(900000);
        std::printf("%d movies, folder renamed, %s", count, child.readAllStandardOutput().constData());
        std::fflush(stdout);
    }
    return 0;
}

int measureLaunches()
{
    const QString library = makeLaunchLibrary();
    if (library.isEmpty()) {
        std::fprintf(stderr, "cannot make the library\n");
        return 1;
    }
    std::vector<long long> times;
    std::size_t tiles = 0;
    for (int run = 0; run < 5; ++run) {
        QTemporaryDir home;
        QProcess child;
        child.setProcessEnvironment(childEnvironment(home));
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--launch-once"), library});
        child.waitForFinished(120000);
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() != 2) {
            std::fprintf(stderr, "launch %d failed: %s\n", run, child.readAllStandardError().constData());
            return 1;
        }
        times.push_back(fields[0].toLongLong());
        tiles = fields[1].toULongLong();
        std::printf("launch %d: %lld ms to the first painted grid\n", run + 1, times.back());
    }
    std::sort(times.begin(), times.end());
    std::printf("launch to a populated window, %zu tiles: median %lld ms (min %lld, max %lld)\n", tiles, times[times.size() / 2], times.front(),
                times.back());
    return 0;
}

void waitForPictures(int milliseconds)
{
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    QElapsedTimer timer;
    timer.start();
    processEventsFor(500);
    while (timer.elapsed() < milliseconds && (loader.loadQueue().operationCount() > 0 || loader.crawlQueue().operationCount() > 0))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    processEventsFor(500);
}

void shoot(const QString& out, const QString& name)
{
    QWidget* window = mainController().mainWindow();
    window->repaint();
    processEventsFor(200);
    QImage shot;
    if (QScreen* screen = QGuiApplication::primaryScreen(); screen && QGuiApplication::platformName() == QLatin1String("xcb"))
        shot = screen->grabWindow(0).toImage();
    if (shot.isNull())
        shot = window->grab().toImage();
    shot.save(out + QLatin1Char('/') + name + QStringLiteral(".png"));
    std::printf("%s/%s.png\n", qPrintable(out), qPrintable(name));
}

int gallery(const QString& out, int count)
{
    QDir().mkpath(out);
    QTemporaryDir libraryDir;
    const QString library = libraryDir.path() + QStringLiteral("/Library");
    if (!makeGalleryLibrary(library, count)) {
        std::fprintf(stderr, "cannot make the library\n");
        return 1;
    }
    defaults().setObject(Value(library), QStringLiteral("Library Path"));
    launch();
    auto* window = qobject_cast<PMMainWindow*>(mainController().mainWindow());
    if (!window)
        return 1;
    window->setGeometry(20, 20, 1500, 900);
    waitForPictures(60000);
    // The sidebar open on the folders, one of them chosen.
    if (PMMovieOutlineView* list = mainController().libraryListView) {
        for (qsizetype row = 0; row < list->numberOfRows(); ++row)
            list->expandItem(list->itemAtRow(row), false);
        for (qsizetype row = 0; row < list->numberOfRows(); ++row)
            if (PMItem(list->itemAtRow(row)) && PMItem(list->itemAtRow(row))->displayName() == QLatin1String("Documentaries"))
                list->selectRowIndexes({row}, false);
        waitForPictures(20000);
    }
    for (const bool dark : {false, true}) {
        platform::AppearanceSource::shared().setDarkForTesting(dark);
        QApplication::setPalette(dark ? PMDarkPalette() : QApplication::style()->standardPalette());
        processEventsFor(300);
        const QString look = dark ? QStringLiteral("dark") : QStringLiteral("light");
        window->searchField()->clear();
        mainController().updateUserInterface();
        waitForPictures(20000);
        shoot(out, QStringLiteral("window-%1").arg(look));
        // A search typed.
        window->searchField()->setFocus();
        for (const QChar ch : QStringLiteral("harbour")) {
            window->searchField()->insert(QString(ch));
            processEventsFor(60);
        }
        processEventsFor(1500);
        shoot(out, QStringLiteral("window-%1-search").arg(look));
        window->searchField()->clear();
        // A menu open.
        if (QMenuBar* bar = window->menuBar(); bar && !bar->actions().isEmpty()) {
            QAction* view = bar->actions().value(2, bar->actions().first());
            if (QMenu* menu = view->menu()) {
                menu->popup(bar->mapToGlobal(bar->actionGeometry(view).bottomLeft()));
                processEventsFor(600);
                shoot(out, QStringLiteral("window-%1-menu").arg(look));
                menu->close();
            }
        }
        // The sidebar hidden.
        mainController().toggleLibrary(nullptr);
        processEventsFor(300);
        shoot(out, QStringLiteral("window-%1-sidebar-hidden").arg(look));
        mainController().toggleLibrary(nullptr);
    }
    platform::AppearanceSource::shared().setDarkForTesting(std::nullopt);
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    platform::prepareAllocator();
    const QStringList args = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i)
            list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    if (args.value(0) == QLatin1String("--make-library") && args.size() >= 2) {
        QCoreApplication app(argc, argv);
        const QString library = QFileInfo(args[1]).absoluteFilePath();
        if (!makeGalleryLibrary(library, args.value(2, QStringLiteral("300")).toInt()))
            return 1;
        // The settings of this $HOME name it as the library.
        defaults().setObject(Value(library), QStringLiteral("Library Path"));
        defaults().synchronize();
        std::printf("library at %s\n", qPrintable(library));
        return 0;
    }
    QTemporaryDir home;
    const bool child = args.value(0) == QLatin1String("--launch-once") || args.value(0) == QLatin1String("--scale-once");
    if (!child) {
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    }
    if (args.value(0) != QLatin1String("--gallery") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellis"));
    if (args.value(0) == QLatin1String("--scale-once")) {
        scaleOnce(args.value(1), args.value(2), args.value(3, QStringLiteral("Films")));
        return 0;
    }
    if (child)
        return launchOnce(args.value(1));
    if (args.value(0) == QLatin1String("--scale-renamed"))
        return measureRenamedAtScale(args.value(1, QStringLiteral("100000")).toInt());
    if (args.value(0) == QLatin1String("--scale"))
        return measureAtScale(args.value(1, QStringLiteral("100000")).toInt(), QStringLiteral("realistic"));
    if (args.value(0) == QLatin1String("--scale-absent"))
        return measureAtScale(args.value(1, QStringLiteral("100000")).toInt(), QStringLiteral("absent"));
    if (args.value(0) == QLatin1String("--scale-plain"))
        return measureAtScale(args.value(1, QStringLiteral("100000")).toInt(), QStringLiteral("plain"));
    if (args.value(0) == QLatin1String("--gallery") && args.size() >= 2)
        return gallery(args[1], args.value(2, QStringLiteral("300")).toInt());
    return measureLaunches();
}
