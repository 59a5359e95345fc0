// Validating the whole main menu, as happens at every opening of a menu and every shortcut,
// with 10,000 movies selected: every item of every menu (the refilled submenus included)
// is asked once. It must stay below 5 ms.
// Opening the context menu of 1,000 selected movies, built and shown (at most 50 ms), and
// opening the library folder menu of a library of 100,000 movies while its dry runs go on
// in the background (at most 50 ms); the dry runs' own time is measured apart.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMainMenu.h"
#include "ui/commands/PMSlowMenuDelegate.h"

#include "BenchLibrary.h"
#include "BenchSupport.h"
#include "support/RealisticLibrary.h"

#include <benchmark/benchmark.h>

#include <functional>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

using platform::Array;
using platform::Value;

namespace {

constexpr int kSelected = 10000;

void collect(QMenu* menu, QList<QAction*>& into)
{
    for (QAction* item : menu->actions()) {
        if (item->isSeparator())
            continue;
        into.append(item);
        if (item->menu())
            collect(item->menu(), into);
    }
}

void BM_ValidateMainMenu(benchmark::State& state)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c.registerDefaultSettings();
    PMLibraryContainerPtr section = c.pellisSourceStorageSection();
    auto selected = Array::make();
    if (benchsupport::plainBenchLibraryAsked()) {
        for (int i = 0; i < kSelected; ++i) {
            auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/bench/Movie %1.mov").arg(i));
            section->rawChildren()->append(Value(movie));
            selected->append(Value(movie));
        }
    } else {
        // The selection of a library like a user's, its files absent (validation never reads them).
        benchsupport::RealisticLibraryOptions options;
        options.movies = kSelected;
        options.folders = kSelected / 50;
        options.present = false;
        if (const QString error = benchsupport::populateRealisticLibrary(c, options); !error.isEmpty())
            qFatal("cannot make the library: %s", qPrintable(error));
        selected = benchsupport::realisticLibraryMovies(c);
    }
    c.invalidateLibraryDependencies();
    c._infoMovieRepresentations = selected;
    platform::setApplicationResponder(&c);
    QMainWindow window;
    QMenuBar* bar = PMMainMenu::createMenuBar(c, &window);
    window.setMenuBar(bar);
    QList<QAction*> items;
    for (QMenu* menu : bar->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        for (QMenu* sub : menu->findChildren<QMenu*>())
            c.menuNeedsUpdate(sub);
        collect(menu, items);
    }
    qsizetype enabled = 0;
    for (auto _ : state) {
        for (QAction* item : items)
            enabled += platform::validateMenuItemNow(item) ? 1 : 0;
        // The next opening comes in a later turn of the event loop: nothing kept for
        // the turn carries over.
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(items.size());
    state.counters["enabled"] = benchmark::Counter(double(enabled), benchmark::Counter::kAvgIterations);
    c._infoMovieRepresentations = nullptr;
    platform::setApplicationResponder(nullptr);
}
BENCHMARK(BM_ValidateMainMenu)->Unit(benchmark::kMillisecond)->UseRealTime();

// Runs the event loop until the condition holds (at most ten minutes).
bool waitFor(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 600000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return condition();
}

// A library of movies in the library folder: like a user's, in folders of 50 with their
// (empty) files made; with PELLIS_BENCH_LIBRARY=plain, plainly named movies loose in the
// section, their files not made (records only).
void makeLibrary(PMMainController& c, int count, Array* selected)
{
    c.resetForTesting();
    c.registerDefaultSettings();
    const QString library = QDir::homePath() + QStringLiteral("/Movies Library");
    QDir().mkpath(library);
    platform::UserDefaults::standard().setObject(Value(library), QStringLiteral("Library Path"));
    PMLibraryContainerPtr section = c.pellisSourceStorageSection();
    if (!benchsupport::plainBenchLibraryAsked()) {
        benchsupport::RealisticLibraryOptions options;
        options.movies = count;
        options.folders = std::max(1, count / 50);
        options.mediaFolder = library;
        if (const QString error = benchsupport::populateRealisticLibrary(c, options); !error.isEmpty())
            qFatal("cannot make the library: %s", qPrintable(error));
        if (selected)
            for (const Value& movie : *benchsupport::realisticLibraryMovies(c))
                selected->append(movie);
        return;
    }
    for (int i = 0; i < count; ++i) {
        auto movie = benchsupport::gridMovie(library + QStringLiteral("/Movie %1.mov").arg(i), i);
        section->rawChildren()->append(Value(movie));
        if (selected)
            selected->append(Value(movie));
    }
    c.invalidateLibraryDependencies();
    c.invalidateTagTypes();
}

void BM_ContextMenuOf1000SelectedMovies(benchmark::State& state)
{
    PMMainController& c = mainController();
    auto selected = Array::make();
    makeLibrary(c, 1000, selected.get());
    c._groupMovieItems = selected;
    c.installContextMenus();
    platform::setApplicationResponder(&c);
    qsizetype items = 0;
    for (auto _ : state) {
        QMenu* menu = c.contextMenuForGroupViewItems(selected, nullptr);
        menu->popup(QPoint(10, 10));
        QCoreApplication::processEvents();
        items = menu->actions().size();
        state.PauseTiming();
        menu->hide();
        delete menu;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(items);
    platform::setApplicationResponder(nullptr);
    c._groupMovieItems = Array::make();
}
BENCHMARK(BM_ContextMenuOf1000SelectedMovies)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibraryFolderMenuOf100000Movies(benchmark::State& state)
{
    PMMainController& c = mainController();
    makeLibrary(c, 100000, nullptr);
    platform::setApplicationResponder(&c);
    QMainWindow window;
    window.setMenuBar(PMMainMenu::createMenuBar(c, &window));
    QMenu* menu = c._mainMenu.libraryFolderMenu;
    // The dry runs' own time, from the start to the answer.
    QElapsedTimer dryRun;
    dryRun.start();
    c.startLibraryFolderDryRun();
    waitFor([&c] { return c._libraryFolderDryRun.valid; });
    state.counters["dry_run_ms"] = double(dryRun.elapsed());
    for (auto _ : state) {
        // The library changed since the last answer: the menu shows it and asks anew.
        state.PauseTiming();
        c.libraryFolderDryRunNeedsUpdate();
        state.ResumeTiming();
        Q_EMIT menu->aboutToShow();
        menu->popup(QPoint(10, 10));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 0);
        state.PauseTiming();
        menu->hide();
        waitFor([&c] { return c._libraryFolderDryRunRunning == 0 && c._libraryFolderDryRun.generation == c._libraryFolderGeneration; });
        state.ResumeTiming();
    }
    state.counters["items"] = double(menu->actions().size());
    platform::setApplicationResponder(nullptr);
}
BENCHMARK(BM_LibraryFolderMenuOf100000Movies)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The context menu of one movie whose image folders hold the pictures of 100,000 movies
// (built and shown, at most 50 ms): its own pictures are found among them.
void BM_ContextMenuOfOneMovieBesidePictures(benchmark::State& state)
{
    PMMainController& c = mainController();
    auto selected = Array::make();
    makeLibrary(c, 1000, selected.get());
    for (const QString& folder : {c.posterImageDirectoryPath(), c.coverImageDirectoryPath()}) {
        QDir().mkpath(folder);
        for (int i = 0; i < 100000; ++i) {
            QFile file(folder + QStringLiteral("/%1.jpg").arg(i, 8, 16, QLatin1Char('0')).toUpper());
            if (!file.exists())
                file.open(QIODevice::WriteOnly);
        }
    }
    Value clicked;
    for (const Value& v : *selected)
        if (PMMovie(v)) {
            clicked = v;
            break;
        }
    auto one = Array::make({clicked});
    c._groupMovieItems = one;
    c.installContextMenus();
    platform::setApplicationResponder(&c);
    qsizetype items = 0;
    for (auto _ : state) {
        QMenu* menu = c.contextMenuForGroupViewItems(one, nullptr);
        menu->popup(QPoint(10, 10));
        QCoreApplication::processEvents();
        items = menu->actions().size();
        state.PauseTiming();
        menu->hide();
        delete menu;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(items);
    platform::setApplicationResponder(nullptr);
    c._groupMovieItems = Array::make();
}
BENCHMARK(BM_ContextMenuOfOneMovieBesidePictures)->Unit(benchmark::kMillisecond)->UseRealTime();

// The delete item of the context menu of 10,000 selected movies of a library of 100,000 in
// the library folder, with "Delete Items Without Confirmation" on: what the menu does on the
// main thread for its title (at most 50 ms); the disk check it hands off is run apart.
void BM_DeleteItemOf10000SelectedWithoutConfirmation(benchmark::State& state)
{
    PMMainController& c = mainController();
    auto all = Array::make();
    makeLibrary(c, 100000, all.get());
    auto selected = Array::make();
    for (const Value& v : *all) {
        if (!PMMovie(v))
            continue;
        selected->append(v);
        if (selected->count() == kSelected)
            break;
    }
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Delete Items Without Confirmation"));
    platform::setApplicationResponder(&c);
    std::function<bool()> check;
    for (auto _ : state) {
        bool confirmation = false;
        check = c.deleteItemsDryRunDeferringDiskWork(selected, &confirmation);
        benchmark::DoNotOptimize(confirmation);
    }
    QElapsedTimer disk;
    disk.start();
    const bool asks = check && check();
    state.counters["disk_check_ms"] = double(disk.elapsed());
    state.counters["asks"] = asks ? 1 : 0;
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Delete Items Without Confirmation"));
    platform::setApplicationResponder(nullptr);
}
BENCHMARK(BM_DeleteItemOf10000SelectedWithoutConfirmation)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Opening the submenu of a folder of 100,000 movies (Browse ▸ the movies section ▸ the
// folder), built and shown: at most 50 ms.
void BM_BrowseFolderOf100000Movies(benchmark::State& state)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c.registerDefaultSettings();
    benchsupport::RealisticLibraryOptions options;
    options.movies = 100000;
    options.folders = 1;
    options.present = false;
    if (const QString error = benchsupport::populateRealisticLibrary(c, options); !error.isEmpty())
        qFatal("cannot make the library: %s", qPrintable(error));
    platform::setApplicationResponder(&c);
    const platform::ArrayPtr sections = c.pellisSourceStorageSection()->sortedGroupChildren();
    if (!sections || sections->isEmpty())
        qFatal("no folder in the library");
    const Value folder = sections->at(0);
    qsizetype items = 0;
    for (auto _ : state) {
        QMenu* menu = slowMenuWithTitle(PMContainer(folder)->displayName(), folder);
        menu->popup(QPoint(10, 10));
        QCoreApplication::processEvents();
        items = menu->actions().size();
        state.PauseTiming();
        menu->hide();
        delete menu;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(items);
    platform::setApplicationResponder(nullptr);
}
BENCHMARK(BM_BrowseFolderOf100000Movies)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Opening "Similar ▸ Genre" of a movie of one genre in a library of 100,000 movies, where
// thousands share it: at most 50 ms.
void BM_SimilarGenreOf100000Movies(benchmark::State& state)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c.registerDefaultSettings();
    benchsupport::RealisticLibraryOptions options;
    options.movies = 100000;
    options.folders = 2000;
    options.present = false;
    if (const QString error = benchsupport::populateRealisticLibrary(c, options); !error.isEmpty())
        qFatal("cannot make the library: %s", qPrintable(error));
    platform::setApplicationResponder(&c);
    Value clicked;
    for (const Value& movie : *benchsupport::realisticLibraryMovies(c))
        if (PMMovie(movie) && PMMovie(movie)->cachedLowercaseValuesForLowercaseTag(QStringLiteral("genre")) == QStringList{QStringLiteral("drama")}) {
            clicked = movie;
            break;
        }
    if (clicked.isNull())
        qFatal("no movie of one genre");
    auto populator = PMMainController::PMTagBrowserPopulator(clicked, false);
    populator->setValue(QStringLiteral("Tag"), Value(QStringLiteral("Genre")));
    qsizetype items = 0;
    for (auto _ : state) {
        QMenu* menu = c.tagBrowserMenuWithTitle(QStringLiteral("Genre"), populator, nullptr);
        menu->popup(QPoint(10, 10));
        QCoreApplication::processEvents();
        items = menu->actions().size();
        state.PauseTiming();
        menu->hide();
        delete menu;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(items);
    platform::setApplicationResponder(nullptr);
}
BENCHMARK(BM_SimilarGenreOf100000Movies)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
