// Tag types over a library of 100,000 tagged movies: the rebuild that every library
// update runs, and the values of one tag with their carriers among all movies (the menu
// of tag-value switches for a whole-library selection) and among a few.
#include "foundation/PMRange.h"
#include "library/model/PMInfoTagEditor.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

constexpr int kMovies = 100000;

ArrayPtr& library()
{
    static ArrayPtr movies = [] {
        PMMainController& c = mainController();
        c.resetForTesting();
        const char* genres[] = {"Drama", "Comedy", "Action", "Horror", "Documentary", "Family", "Travel", "Music"};
        QRandomGenerator random(7);
        PMLibraryContainerPtr section = c.pellisSourceStorageSection();
        auto list = Array::make();
        for (int i = 0; i < kMovies; ++i) {
            auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/me/Movies/%1/%2.mov").arg(i % 97).arg(i));
            m->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Movie %1").arg(i));
            m->setValue(QString::fromUtf8(genres[random.bounded(8)]) + QStringLiteral(", ") + QString::fromUtf8(genres[random.bounded(8)]),
                        QStringLiteral("Genre"));
            m->setValue(QString::number(1950 + random.bounded(75)), QStringLiteral("Year"));
            m->setValue(QStringLiteral("Person %1, Person %2").arg(random.bounded(5000)).arg(random.bounded(5000)), QStringLiteral("Cast"));
            if (i % 10 == 0)
                m->setValue(QStringLiteral("Seen at home, twice"), QStringLiteral("Notes"));
            section->rawChildren()->append(Value(m));
            list->append(Value(m));
        }
        c.invalidateLibraryDependencies();
        c.invalidateTagTypes();
        return list;
    }();
    return movies;
}

// The update of an unchanged library.
void BM_RebuildTagTypesUnchanged(benchmark::State& state)
{
    library();
    for (auto _ : state)
        mainController().invalidateTagTypes();
    state.counters["movies"] = kMovies;
}
BENCHMARK(BM_RebuildTagTypesUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();

// The update after one movie's tags changed: the whole table is built again.
void BM_RebuildTagTypesAfterATagChange(benchmark::State& state)
{
    const ArrayPtr movies = library();
    auto* movie = PMMovie(movies->at(12345));
    qint64 n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        movie->setValue(QStringLiteral("Person %1").arg(++n % 5000), QStringLiteral("Cast"));
        state.ResumeTiming();
        mainController().invalidateTagTypes();
    }
    state.counters["movies"] = kMovies;
}
BENCHMARK(BM_RebuildTagTypesAfterATagChange)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GenreValuesForWholeLibrary(benchmark::State& state)
{
    const ArrayPtr movies = library();
    for (auto _ : state) {
        QHash<QString, ArrayPtr> carriers;
        benchmark::DoNotOptimize(mainController().valuesForTag(QStringLiteral("Genre"), QString(), movies, 10, &carriers));
    }
}
BENCHMARK(BM_GenreValuesForWholeLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CastValuesForTenMovies(benchmark::State& state)
{
    const ArrayPtr all = library();
    auto few = Array::make();
    for (int i = 0; i < 10; ++i)
        few->append(all->at(i * 997));
    for (auto _ : state)
        benchmark::DoNotOptimize(mainController().valuesForTag(QStringLiteral("Cast"), QString(), few, 10));
}
BENCHMARK(BM_CastValuesForTenMovies)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// The info panel's tag editor opened for 1,000 of the movies: every tag's records with
// their shared and mixed values, the library's tags and the filter.
void BM_PrepareInfoTagEditorForAThousandMovies(benchmark::State& state)
{
    const ArrayPtr all = library();
    auto selection = Array::make();
    for (int i = 0; i < 1000; ++i)
        selection->append(all->at(i * 97 % kMovies));
    PMInfoTagEditor editor(mainController());
    for (auto _ : state) {
        editor.prepareInfoTagEditorIncludingRating(selection, true);
        benchmark::DoNotOptimize(mainController()._filteredInfoTags->count());
    }
    state.counters["records"] = double(mainController()._infoTags->count());
    editor.forgetInfoTagEditorState(false);
}
BENCHMARK(BM_PrepareInfoTagEditorForAThousandMovies)->Unit(benchmark::kMillisecond)->UseRealTime();

// Applying the editor to those 1,000 movies with one cast member switched on for all (then
// off again): every movie's tags rebuilt, decoded and stored, and the tag types brought up
// to date.
void BM_AbsorbInfoTagsForAThousandMovies(benchmark::State& state)
{
    const ArrayPtr all = library();
    auto selection = Array::make();
    for (int i = 0; i < 1000; ++i)
        selection->append(all->at(i * 97 % kMovies));
    PMMainController& c = mainController();
    PMInfoTagEditor editor(c);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        editor.prepareInfoTagEditorIncludingRating(selection, false);
        c.toggleInfoTagValue(QStringLiteral("Cast"), QStringLiteral("Person 1"), round++ % 2 == 0 ? 1 : 0);
        state.ResumeTiming();
        editor.absorbInfoTags(std::nullopt, std::nullopt);
    }
    editor.forgetInfoTagEditorState(false);
}
BENCHMARK(BM_AbsorbInfoTagsForAThousandMovies)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
