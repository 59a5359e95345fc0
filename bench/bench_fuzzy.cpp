// Ranking 100,000 names against one typed query, as tag-value and name completion do.
#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerMatching.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

const QStringList& names()
{
    static const QStringList list = [] {
        std::mt19937 rng(11);
        const char* words[] = {"Holiday", "Summer", "Night", "the", "Return", "of", "Café", "Drama", "Crossing", "Ocean",
                               "Part", "Director's", "Cut", "Zoë", "Mountain", "River", "CITY", "Lights", "Dark", "Garden"};
        QStringList out;
        out.reserve(100000);
        for (int i = 0; i < 100000; ++i) {
            QString name;
            const int count = 2 + int(rng() % 4);
            for (int w = 0; w < count; ++w) {
                if (w)
                    name += QLatin1Char(' ');
                name += QString::fromUtf8(words[rng() % 20]);
            }
            name += QLatin1Char(' ') + QString::number(rng() % 1000);
            out.append(name);
        }
        return out;
    }();
    return list;
}

void BM_FuzzyMatches(benchmark::State& state, const char* query)
{
    const QStringList& list = names();
    const QString q = QString::fromUtf8(query);
    qsizetype found = 0;
    for (auto _ : state) {
        const QStringList matches = fuzzyMatchesForQuery(list, q);
        found = matches.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["matches"] = double(found);
}

} // namespace

BENCHMARK_CAPTURE(BM_FuzzyMatches, literal, "hol")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FuzzyMatches, fuzzy, "smc")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FuzzyMatches, accents, "cafe")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FuzzyMatches, none, "qqq")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
