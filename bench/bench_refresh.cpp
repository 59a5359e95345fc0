// A library update followed by the interface refresh while a container of 20,000 movies is
// shown: the derived tables rebuilt, the source list reloaded, and the refresh that records
// the selection, gathers and sorts the container's content, fills the grid (a 1600 x 1000
// viewport), sets the header's controls and tiles the grid.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "ui/library_window/PMGroupView.h"

#include "BenchLibrary.h"
#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QSlider>

using platform::Value;

namespace {

constexpr int kChildren = 20000;

struct Library {
    PMLibraryContainerPtr folder;
    std::unique_ptr<PMGroupView> grid;
    std::unique_ptr<QLineEdit> searchField;
    std::unique_ptr<QSlider> slider;
};

Library& library()
{
    static Library* shared = [] {
        auto* lib = new Library;
        PMMainController& c = mainController();
        c.resetForTesting();
        c.registerDefaultSettings();
        lib->folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Everything")}});
        for (int i = 0; i < kChildren; ++i) {
            lib->folder->rawChildren()->append(Value(benchsupport::gridMovie(QStringLiteral("/media/bench/Movie %1.mov").arg(i), i)));
        }
        c.pellisSourceStorageSection()->rawChildren()->append(Value(lib->folder));
        c.invalidateLibraryDependencies();

        lib->grid = std::make_unique<PMGroupView>();
        lib->grid->resize(1600, 1000);
        c._groupView = lib->grid.get();
        lib->searchField = std::make_unique<QLineEdit>();
        c.searchField = lib->searchField.get();
        lib->slider = std::make_unique<QSlider>(Qt::Horizontal);
        lib->slider->setRange(50, 500);
        c.previewSizeSlider = lib->slider.get();
        c.selectLibraryItem(Value(lib->folder));
        return lib;
    }();
    return *shared;
}

void BM_LibraryUpdateAndRefresh(benchmark::State& state)
{
    Library& lib = library();
    PMMainController& c = mainController();
    for (auto _ : state)
        c.updateLibraryAndInvalidateDependencies(true, false, true);
    state.counters["tiles"] = double(lib.grid->proxies().size());
    state.counters["movies"] = double(c._groupMovieItems->count());
}
BENCHMARK(BM_LibraryUpdateAndRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();

// The refresh alone, for comparison.
void BM_InterfaceRefresh(benchmark::State& state)
{
    Library& lib = library();
    PMMainController& c = mainController();
    for (auto _ : state)
        c.updateUserInterface();
    state.counters["tiles"] = double(lib.grid->proxies().size());
}
BENCHMARK(BM_InterfaceRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
