// The library window's answers to a user: choosing another container in the source list
// until its grid is filled, laid out and its visible part painted; and a search typed into
// the search field over 100,000 movies, from the moment the search delay has passed to the
// painted grid of the results. The library has 100,000 movies in 50 folders of 2,000.
//
// The window's views are stood in for by the real grid (a 1600 x 1000 viewport) and the
// stand-in source list; the interface refresh fills and tiles the grid, and one paint of
// the visible tiles follows it.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"

#include "BenchLibrary.h"
#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

constexpr int kFolders = 50;
constexpr int kMoviesPerFolder = 2000;

struct Library {
    std::vector<PMLibraryContainerPtr> folders;
    PMLibraryContainerPtr section;
    std::unique_ptr<PMGroupView> grid;
    std::unique_ptr<QLineEdit> searchField;
    int refreshes = 0;
    qsizetype shownItems = 0;
};

Library& library()
{
    static Library* shared = [] {
        auto* lib = new Library;
        PMMainController& c = mainController();
        c.resetForTesting();
        c.registerDefaultSettings();
        lib->section = c.pellisSourceStorageSection();
        for (int f = 0; f < kFolders; ++f) {
            auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Folder %1").arg(f)}});
            for (int i = f * kMoviesPerFolder; i < (f + 1) * kMoviesPerFolder; ++i) {
                folder->rawChildren()->append(Value(benchsupport::gridMovie(QStringLiteral("/media/bench/%1/Movie %2.mov").arg(f).arg(i), i)));
            }
            lib->section->rawChildren()->append(Value(folder));
            lib->folders.push_back(folder);
        }
        c.invalidateLibraryDependencies();

        lib->grid = std::make_unique<PMGroupView>();
        lib->grid->resize(1600, 1000);
        c._groupView = lib->grid.get();
        lib->searchField = std::make_unique<QLineEdit>();
        c.searchField = lib->searchField.get();
        // The refresh fills and tiles the grid; what follows it on screen is one paint of
        // the visible tiles.
        c._updateUserInterfaceHook = [lib] {
            PMGroupView& grid = *lib->grid;
            ++lib->refreshes;
            lib->shownItems = qsizetype(grid.proxies().size());
            QImage canvas(1600, 1000, QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&canvas);
            grid.paintVisible(painter, grid.visibleRect());
        };
        return lib;
    }();
    return *shared;
}

// Choosing the other of two folders of 2,000 movies: the selection is corrected, the
// container recorded in the history, the grid filled, tiled and painted.
void BM_SelectionChangeRefresh(benchmark::State& state)
{
    Library& lib = library();
    PMMainController& c = mainController();
    lib.searchField->clear();
    lib.section->setQuery(QString());
    std::size_t next = 0;
    for (auto _ : state) {
        c.selectLibraryItem(Value(lib.folders[next]));
        next = (next + 1) % 2;
    }
    state.counters["tiles"] = double(lib.shownItems);
    state.counters["heap"] = double(c._selectedContainerHeap.size());
}
BENCHMARK(BM_SelectionChangeRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();

// A search typed letter by letter in the whole library (the library section shown, 100,000
// movies below it): each iteration applies the next text, as it is when the search delay
// after a keystroke has passed, to the painted grid of its results.
void BM_SearchAfterDelay(benchmark::State& state)
{
    Library& lib = library();
    PMMainController& c = mainController();
    platform::UserDefaults::standard().setObject(Value(QStringLiteral("[All]")), QStringLiteral("Group Search Scope"));
    c.selectLibraryItem(Value(lib.section));
    const QStringList typed = {QStringLiteral("movie 1"), QStringLiteral("movie 12"), QStringLiteral("movie 123"), QStringLiteral("movie 1234"),
                               QStringLiteral("movie 4"), QStringLiteral("movie 45"), QStringLiteral("movie 456"), QStringLiteral("movie 4567")};
    qsizetype shown = 0;
    qsizetype next = 0;
    for (auto _ : state) {
        lib.searchField->setText(typed.at(next));
        c.updateResultsForSearchField(lib.searchField.get());
        shown += lib.shownItems;
        next = (next + 1) % typed.size();
    }
    state.counters["results"] = benchmark::Counter(double(shown), benchmark::Counter::kAvgIterations);
    lib.searchField->clear();
    c.updateResultsForSearchField(lib.searchField.get());
}
// The first search applied makes the search texts and the sort names of the results.
const auto* const kSearchAfterDelay = benchsupport::registerColdThenWarm("BM_SearchAfterDelay", BM_SearchAfterDelay, [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime();
});

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
