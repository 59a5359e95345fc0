// The library model on a tree of 100,000 movies in 2,000 containers: building the lookup
// tables, finding items by unique ID, the sorted children of the largest container.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

using platform::Value;

namespace {

constexpr int kMovies = 100000;
constexpr int kContainers = 2000;

struct Library {
    QStringList ids;
    PMLibraryContainerPtr largest;
};

Library& buildOnce()
{
    static Library library = [] {
        Library lib;
        PMMainController& c = mainController();
        c.resetForTesting();
        PMLibraryContainerPtr movies = c.pellisSourceStorageSection();
        std::vector<PMLibraryContainerPtr> containers;
        for (int i = 0; i < kContainers; ++i) {
            auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Folder %1").arg(i)}});
            // Folders nest ten deep in places, as real libraries do.
            if (i % 10 == 0 || containers.empty())
                movies->rawChildren()->append(Value(container));
            else
                containers.back()->rawChildren()->append(Value(container));
            containers.push_back(container);
        }
        // One large container holds a fifth of the movies; the rest are spread out.
        lib.largest = containers[7];
        for (int i = 0; i < kMovies; ++i) {
            auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/me/Movies/%1/Movie %2.mov").arg(i % 97).arg(i));
            m->userSettings()->setValue(QStringLiteral("Display Name"), QStringLiteral("Movie %1").arg((i * 7919) % kMovies));
            lib.ids << m->uniqueLibraryID();
            PMLibraryContainerPtr home = i % 5 == 0 ? lib.largest : containers[size_t(i % kContainers)];
            home->rawChildren()->append(Value(m));
        }
        lib.largest->setValue(QStringLiteral("Group Sorting Criterion"), QStringLiteral("GroupListName"));
        c.invalidateLibraryDependencies();
        return lib;
    }();
    return library;
}

void BM_BuildLookupTables(benchmark::State& state)
{
    buildOnce();
    for (auto _ : state)
        mainController().invalidateLibraryDependencies();
    state.counters["items"] = kMovies + kContainers;
}
BENCHMARK(BM_BuildLookupTables)->Unit(benchmark::kMillisecond);

void BM_FindByID(benchmark::State& state)
{
    Library& lib = buildOnce();
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mainController().itemWithUniqueLibraryID(lib.ids[i]));
        i = (i + 7919) % lib.ids.size();
    }
}
BENCHMARK(BM_FindByID);

void BM_SortedChildrenOfLargestContainer(benchmark::State& state)
{
    Library& lib = buildOnce();
    for (auto _ : state) {
        lib.largest->invalidateChildren();
        benchmark::DoNotOptimize(lib.largest->sortedChildren());
    }
    state.counters["children"] = double(lib.largest->rawChildren()->count());
}
BENCHMARK(BM_SortedChildrenOfLargestContainer)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
