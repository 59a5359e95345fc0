// Sorting and searching a library of 100,000 movies with tags: parsing a query of three tokens,
// sorting by name and by date added, warm (sort strings and item caches already made)
// and cold (the sort-string cache emptied and the items' sort names dropped before each
// sort, as after a change of the ignorable prefixes).
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMParsedQuery.h"
#include "library/model/PMSearch.h"
#include "library/model/PMSortLibraryItems.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <numeric>

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
        PMRebuildSortPrefixTable();
        const char* words[] = {"The", "Night", "A", "Summer", "Clip", "Holiday", "An", "Interview", "Birthday", "Trip", "Été", "Part"};
        const char* genres[] = {"Drama", "Comedy", "Action", "Horror", "Documentary", "Family", "Travel", "Music", "Holiday Special"};
        QRandomGenerator random(7);
        PMLibraryContainerPtr section = c.pellisSourceStorageSection();
        auto list = Array::make();
        for (int i = 0; i < kMovies; ++i) {
            QString name;
            for (int w = 0, n = 1 + int(random.bounded(3)); w < n; ++w)
                name += QString::fromUtf8(words[random.bounded(int(std::size(words)))]) + u' ';
            name += QString::number(random.bounded(2000));
            auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/me/Movies/%1/%2.mov").arg(i % 97).arg(i));
            m->userSettings()->setValue(QStringLiteral("Name"), name);
            m->setAdditionDate(platform::Date{1.6e9 + double(random.bounded(100000000))});
            m->setDuration(random.bounded(7200));
            m->setValue(QString::fromUtf8(genres[random.bounded(int(std::size(genres)))]) + QStringLiteral(", ")
                            + QString::fromUtf8(genres[random.bounded(int(std::size(genres)))]),
                        QStringLiteral("Genre"));
            m->setValue(QStringLiteral("Person %1, Person %2").arg(random.bounded(5000)).arg(random.bounded(5000)), QStringLiteral("Cast"));
            m->setValue(QString::number(1950 + random.bounded(75)), QStringLiteral("Year"));
            section->rawChildren()->append(Value(m));
            list->append(Value(m));
        }
        c.invalidateLibraryDependencies();
        return list;
    }();
    return movies;
}

void shuffled(const ArrayPtr& from, std::vector<Value>& into)
{
    std::vector<size_t> order(size_t(from->count()));
    std::iota(order.begin(), order.end(), size_t(0));
    QRandomGenerator random(11);
    for (size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[size_t(random.bounded(quint32(i)))]);
    into.clear();
    into.reserve(order.size());
    for (size_t i : order)
        into.push_back(from->at(qsizetype(i)));
}

void BM_ParseThreeTokenQuery(benchmark::State& state)
{
    const QString query = QStringLiteral("summer||holiday -clip \"trip\"");
    for (auto _ : state)
        benchmark::DoNotOptimize(PMParsedQuery::parsedQuery(query));
}
BENCHMARK(BM_ParseThreeTokenQuery);

// What one keystroke in the search field costs: parsing the text and matching every
// movie and container of the library against it.
// Argument 1 searches names, tags and metadata (the default settings), 0 names only.
void BM_ParseAndMatchThreeTokenQuery(benchmark::State& state)
{
    const ArrayPtr movies = library();
    const QString query = QStringLiteral("summer||holiday -clip \"trip\"");
    const bool metadata = state.range(0) != 0;
    qsizetype found = 0;
    for (auto _ : state) {
        Array results;
        addMatchesForParsedQuery(results, *PMParsedQuery::parsedQuery(query), nullptr, true, true, true, metadata, false, nullptr);
        found = results.count();
    }
    state.counters["items"] = double(movies->count());
    state.counters["results"] = double(found);
}
// The first search of the program makes every movie's search text and the library's index.
const auto* const kParseAndMatch = benchsupport::registerColdThenWarm("BM_ParseAndMatchThreeTokenQuery", BM_ParseAndMatchThreeTokenQuery,
                                                                      [](benchmark::internal::Benchmark* b) { b->Arg(1)->Unit(benchmark::kMillisecond); });
const auto* const kParseAndMatchNames = benchmark::RegisterBenchmark("BM_ParseAndMatchThreeTokenQuery", BM_ParseAndMatchThreeTokenQuery)
                                            ->Arg(0)->MinWarmUpTime(0.5)->Unit(benchmark::kMillisecond);

// The first keystroke after one movie's tags changed: the library's search index is made
// again from the records' texts (only the changed record makes its text again).
void BM_ParseAndMatchAfterATagChange(benchmark::State& state)
{
    const ArrayPtr movies = library();
    const QString query = QStringLiteral("summer||holiday -clip \"trip\"");
    auto* movie = PMMovie(movies->at(4321));
    qint64 n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        movie->setValue(QStringLiteral("Person %1").arg(++n), QStringLiteral("Cast"));
        state.ResumeTiming();
        Array results;
        addMatchesForParsedQuery(results, *PMParsedQuery::parsedQuery(query), nullptr, true, true, true, true, false, nullptr);
        benchmark::DoNotOptimize(results.count());
    }
    state.counters["items"] = double(movies->count());
}
BENCHMARK(BM_ParseAndMatchAfterATagChange)->Unit(benchmark::kMillisecond);

void sortBenchmark(benchmark::State& state, const QString& criterion, bool cold)
{
    const ArrayPtr movies = library();
    auto items = std::make_shared<Array>();
    std::vector<Value> order;
    shuffled(movies, order);
    if (!cold)
        PMSortLibraryItemsInPlace(std::make_shared<Array>(order), criterion, false, nullptr); // warms the caches
    for (auto _ : state) {
        state.PauseTiming();
        items->values() = order;
        state.ResumeTiming();
        if (cold) {
            PMRebuildSortPrefixTable();
            for (const Value& v : order)
                PMItem(v)->invalidateSortNameRecursively();
        }
        PMSortLibraryItemsInPlace(items, criterion, false, nullptr);
        benchmark::DoNotOptimize(items->at(0));
    }
    state.counters["items"] = double(movies->count());
}

void BM_SortByNameWarm(benchmark::State& state) { sortBenchmark(state, QStringLiteral("GroupListName"), false); }
void BM_SortByNameCold(benchmark::State& state) { sortBenchmark(state, QStringLiteral("GroupListName"), true); }
void BM_SortBySeriesAndNameWarm(benchmark::State& state) { sortBenchmark(state, QString(), false); }
void BM_SortByDateAddedWarm(benchmark::State& state) { sortBenchmark(state, QStringLiteral("GroupListDate"), false); }
void BM_SortByDateAddedCold(benchmark::State& state) { sortBenchmark(state, QStringLiteral("GroupListDate"), true); }
BENCHMARK(BM_SortByNameWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortByNameCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortBySeriesAndNameWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortByDateAddedWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortByDateAddedCold)->Unit(benchmark::kMillisecond)->UseRealTime();

// The order test of a sorted list: one comparison per neighbouring pair, on one thread.
void BM_OrderTestByName(benchmark::State& state)
{
    const ArrayPtr sorted = PMSortedLibraryItems(library(), QStringLiteral("GroupListName"), false);
    for (auto _ : state)
        benchmark::DoNotOptimize(PMLibraryItemsAreSorted(sorted, QStringLiteral("GroupListName"), false));
    state.counters["items"] = double(sorted->count());
}
BENCHMARK(BM_OrderTestByName)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
