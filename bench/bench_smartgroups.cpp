// Smart groups over a library of 100,000 movies like a user's (bench/support, files absent:
// the groups never look at them; PELLIS_BENCH_LIBRARY=plain gives the older library of
// 100 folders of movies that all carry a genre, a year, a cast and a rating): 100 groups
// with rules of every kind, 10 of them subdivided by tags. "Populate" is the whole work of one update on the
// thread pool (matching, subdivision, shaping), on 1 or 8 cores; "update" is the library
// update from start to the groups' content taken over, with the groups and without them.
#include "library/maintenance/PMSmartGroups.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Value.h"

#include "BenchSupport.h"
#include "support/RealisticLibrary.h"

#include <benchmark/benchmark.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>
#include <QtCore/QThread>
#include <QtCore/QThreadPool>

#include <functional>

#include <sched.h>

using platform::Array;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

constexpr int kMovies = 100000;
constexpr int kGroups = 100;
constexpr int kSubdivided = 10;

DictionaryPtr tagCriterion(const char* tag, long long action, const QString& value)
{
    return Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Tag"), QString::fromLatin1(tag)},
                             {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value}});
}

DictionaryPtr fixed(const char* key, long long action, const Value& value, long long unit = 0)
{
    return Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value},
                             {QStringLiteral("Unit"), unit}});
}

platform::Array gGroups;

void buildLibrary()
{
    static bool built = [] {
        PMMainController& c = mainController();
        c.registerDefaultSettings(); // as the program runs: the fast track on
        c.resetForTesting();
        const char* genres[] = {"Drama", "Comedy", "Action", "Horror", "Documentary", "Family", "Travel", "Music"};
        QRandomGenerator random(11);
        PMLibraryContainerPtr section = c.pellisSourceStorageSection();
        const double now = Date::now().secondsSince1970;
        if (!benchsupport::plainBenchLibraryAsked()) {
            benchsupport::RealisticLibraryOptions options;
            options.movies = kMovies;
            options.present = false;
            benchsupport::RealisticLibraryFigures figures;
            if (const QString error = benchsupport::populateRealisticLibrary(c, options, &figures); !error.isEmpty())
                qFatal("cannot make the library: %s", qPrintable(error));
            std::fprintf(stderr, "%s\n", qPrintable(figures.summary()));
        }
        for (int f = 0; f < (benchsupport::plainBenchLibraryAsked() ? 100 : 0); ++f) {
            auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Folder %1").arg(f)}});
            for (int i = f * (kMovies / 100); i < (f + 1) * (kMovies / 100); ++i) {
                auto m = PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl(QStringLiteral("https://example.invalid/movie/%1").arg(i)));
                m->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Movie %1").arg(i));
                m->setValue(QString::fromUtf8(genres[random.bounded(8)]) + QStringLiteral(", ") + QString::fromUtf8(genres[random.bounded(8)]),
                            QStringLiteral("Genre"));
                m->setValue(QString::number(1950 + random.bounded(75)), QStringLiteral("Year"));
                m->setValue(QStringLiteral("Person %1").arg(random.bounded(500)), QStringLiteral("Cast"));
                m->setRating(double(random.bounded(6)));
                m->setDuration(60 + random.bounded(7200));
                m->setAdditionDate(Date{now - double(random.bounded(86400 * 365))});
                folder->rawChildren()->append(Value(m));
            }
            section->rawChildren()->append(Value(folder));
        }
        for (int g = 0; g < kGroups; ++g) {
            auto group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Group %1").arg(g)}, {QStringLiteral("Smart"), true}});
            DictionaryPtr criteria = Dictionary::make();
            switch (g % 5) {
            case 0: criteria->setValue(QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion("Genre", 6, QString::fromUtf8(genres[g % 8])))}))); break;
            case 1: criteria->setValue(QStringLiteral("Rating"), Value(fixed("Rating", 3, Value(g % 5)))); break;
            case 2: criteria->setValue(QStringLiteral("Relative Date"), Value(fixed("Relative Date", 4, Value(1 + g % 12), 1))); break;
            case 3:
                criteria->setValue(QStringLiteral("Name"), Value(fixed("Name", 6, Value(QString::number(g)))));
                criteria->setValue(QStringLiteral("Time"), Value(fixed("Time", 5, Value(30), 1)));
                criteria->setValue(QStringLiteral("Match Any"), true);
                break;
            case 4:
                criteria->setValue(QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion("Year", 9, QString::number(1950 + g % 70))),
                                                                               Value(tagCriterion("Genre", 1, QStringLiteral("music")))})));
                break;
            }
            if (g < kSubdivided)
                criteria->setValue(QStringLiteral("Subdivider Tag"), g % 2 ? QStringLiteral("Genre, Year") : QStringLiteral("Year <= 10"));
            group->setValue(QStringLiteral("Criteria"), Value(criteria));
            gGroups.append(Value(group));
        }
        c.updateLibrary();
        c.finishSmartGroupPopulation();
        return true;
    }();
    (void)built;
}

// Runs on the last `cores` processors this process may use, with as many threads in the
// pool (the last ones: the first core is where the rest of the machine's work lands most).
// `cores` 0 gives back every processor the process started with.
void useCores(int cores)
{
    static cpu_set_t original = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        sched_getaffinity(0, sizeof(set), &set);
        return set;
    }();
    cpu_set_t set;
    if (cores <= 0) {
        set = original;
        cores = CPU_COUNT(&original);
    } else {
        CPU_ZERO(&set);
        int taken = 0;
        for (int i = CPU_SETSIZE - 1; i >= 0 && taken < cores; --i) {
            if (CPU_ISSET(i, &original)) {
                CPU_SET(i, &set);
                ++taken;
            }
        }
    }
    sched_setaffinity(0, sizeof(set), &set);
    QThreadPool::globalInstance()->setMaxThreadCount(std::max(1, cores - 1));
}

void BM_PopulateSmartGroups(benchmark::State& state)
{
    buildLibrary();
    PMMainController& c = mainController();
    const int cores = int(state.range(0));
    useCores(cores);
    // Once before: the groups then hold what the last update gave them, as in use.
    c.startSmartGroupPopulation(gGroups, Date::now().secondsSince1970);
    c.finishSmartGroupPopulation();
    qsizetype members = 0;
    for (auto _ : state) {
        c.startSmartGroupPopulation(gGroups, Date::now().secondsSince1970);
        c.finishSmartGroupPopulation();
    }
    // The movie entries of the groups' trees, and how many of them are proxies after the
    // updates (no view read them here).
    qsizetype entries = 0, proxies = 0;
    const std::function<void(PMLibraryContainer&)> countProxies = [&](PMLibraryContainer& container) {
        for (const Value& v : *container.storedChildren())
            if (PMLibraryContainer* sub = PMContainer(v))
                countProxies(*sub);
            else if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                ++entries;
                proxies += movie->isProxy() ? 1 : 0;
            }
    };
    for (const Value& v : gGroups)
        countProxies(*PMContainer(v));
    for (const Value& v : gGroups)
        members += PMContainer(v)->allNonProxyMovieChildren()->count();
    useCores(0);
    QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
    state.counters["movies"] = double(c._nonProxyFilteredMovieRepresentations->count());
    state.counters["groups"] = kGroups;
    state.counters["members"] = double(members);
    state.counters["entries"] = double(entries);
    state.counters["proxies"] = double(proxies);
    state.SetLabel(cores == 1 ? "one core" : "8 cores");
}
BENCHMARK(BM_PopulateSmartGroups)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same work as the program does it: the job runs on the pool while the main thread
// goes on with its event loop, and the result comes back through it. The CPU column is
// then the main thread's own share of an update (taking the movies' facts, copying the
// groups, taking the result over), not the job that a waiting caller would run itself.
void BM_PopulateSmartGroupsInTheBackground(benchmark::State& state)
{
    buildLibrary();
    PMMainController& c = mainController();
    useCores(8);
    int arrived = 0;
    c._smartGroupsDidPopulate = [&] { ++arrived; };
    const auto populate = [&] {
        const int before = arrived;
        c.startSmartGroupPopulation(gGroups, Date::now().secondsSince1970);
        while (arrived == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    populate();
    for (auto _ : state)
        populate();
    c._smartGroupsDidPopulate = nullptr;
    useCores(0);
    QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
    state.SetLabel("8 cores, main thread on its event loop");
}
BENCHMARK(BM_PopulateSmartGroupsInTheBackground)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument 1: the update with the 100 groups (until their content is taken over); 0:
// the same update of the same library without them.
void BM_UpdateLibraryWithSmartGroups(benchmark::State& state)
{
    buildLibrary();
    PMMainController& c = mainController();
    const bool withGroups = state.range(0) == 1;
    PMLibraryContainerPtr storage = c.smartGroupStorage();
    storage->rawChildren()->removeAll();
    if (withGroups)
        for (const Value& v : gGroups)
            storage->rawChildren()->append(v);
    c.updateLibrary();
    c.finishSmartGroupPopulation();
    for (auto _ : state) {
        c.updateLibrary();
        c.finishSmartGroupPopulation();
    }
    state.SetLabel(withGroups ? "with 100 smart groups" : "without smart groups");
}
BENCHMARK(BM_UpdateLibraryWithSmartGroups)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
