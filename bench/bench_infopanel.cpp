// The info panel at scale: opening it for 1,000 selected movies (the renaming view with its
// list of old and new names, the tag editor's records and the common rating) until it is
// shown, and one step to the next movie of a pool of 1,000.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMInfoPanel.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>

namespace {

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

ArrayPtr libraryOf(int count)
{
    PMMainController& c = PMMainController::mainController();
    c.resetForTesting();
    platform::UserDefaults::standard().setObject(Value(true), QStringLiteral("Do Not Organize Library Folder"));
    auto movies = Array::make();
    const QStringList genres = {QStringLiteral("Drama"), QStringLiteral("Comedy"), QStringLiteral("Documentary"), QStringLiteral("Animation")};
    for (int i = 0; i < count; ++i) {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/bench/Movies/Holiday %1.mov").arg(i));
        m->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Holiday %1").arg(i));
        m->setDuration(60 + i % 3600);
        m->setRating(i % 6);
        m->setValue(genres.at(i % genres.size()), QStringLiteral("Genre"));
        m->setValue(QString::number(1990 + i % 30), QStringLiteral("Year"));
        movies->append(Value(m));
    }
    PMLibraryContainerPtr section = c.pellisSourceStorageSection();
    for (const Value& v : *movies)
        section->rawChildren()->append(v);
    c.invalidateLibraryDependencies();
    return movies;
}

void BM_OpenForSelectedMovies(benchmark::State& state)
{
    PMMainController& c = PMMainController::mainController();
    const ArrayPtr movies = libraryOf(int(state.range(0)));
    QAction item;
    platform::setMenuItemTag(&item, 1);
    platform::setMenuItemRepresentedObject(&item, Value(PMMainController::PMInfoScopeRecord(movies, nullptr)));
    for (auto _ : state) {
        c.showMovieInfo(&item);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(c._infoPanel->isVisible());
        state.PauseTiming();
        c.infoCancel(nullptr);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenForSelectedMovies)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_StepThroughPool(benchmark::State& state)
{
    PMMainController& c = PMMainController::mainController();
    const ArrayPtr movies = libraryOf(int(state.range(0)));
    QAction item;
    platform::setMenuItemTag(&item, 1);
    platform::setMenuItemRepresentedObject(&item, Value(PMMainController::PMInfoScopeRecord(Array::make({movies->at(0)}), movies)));
    c.showMovieInfo(&item);
    for (auto _ : state) {
        c.infoStep(c._infoPanel->infoNextButton);
        QCoreApplication::processEvents();
    }
    c.infoCancel(nullptr);
}
BENCHMARK(BM_StepThroughPool)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
