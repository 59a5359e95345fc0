// The source list after a library update, with 2,000 containers (40 folders of 49
// subfolders, 5 movies each), all expanded and one selected: the refresh when the rows
// stayed the same (the usual case: counts and names may have changed), the same with the
// visible rows drawn again, and the refresh when a folder came or went (a reset, the
// expansion state restored, the selection found again).
#include "BenchSupport.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>

#include <memory>

using platform::Value;

namespace {

constexpr int kFolders = 40;
constexpr int kSubfolders = 49;
constexpr int kMoviesPerFolder = 5;

struct Library {
    std::unique_ptr<PMMovieOutlineView> view;
    PMLibraryContainerPtr movies;
    PMLibraryContainerPtr selected;
};

Library& library()
{
    // Never destroyed: its view must not outlive the application object, which goes first.
    static Library& lib = *[] {
        auto* made = new Library;
        Library& l = *made;
        PMMainController& c = mainController();
        c.resetForTesting();
        l.movies = c.pellisSourceStorageSection();
        int n = 0;
        for (int f = 0; f < kFolders; ++f) {
            auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Folder %1").arg(f)}});
            for (int s = 0; s < kSubfolders; ++s) {
                auto sub = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Subfolder %1-%2").arg(f).arg(s)}});
                for (int m = 0; m < kMoviesPerFolder; ++m) {
                    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/bench/Movies/m%1.mov").arg(n++));
                    sub->rawChildren()->append(Value(movie));
                }
                folder->rawChildren()->append(Value(sub));
            }
            l.movies->rawChildren()->append(Value(folder));
        }
        c.invalidateLibraryDependencies();
        l.view = std::make_unique<PMMovieOutlineView>(c);
        l.view->resize(260, 900);
        l.view->show();
        c.reloadInterfaceAfterLibraryUpdate();
        l.view->expandAll();
        l.selected = PMContainerPtr(PMContainer(Value(l.movies))->rawChildren()->at(20));
        l.view->selectRowIndexes({l.view->rowForItem(Value(l.selected))}, false);
        c.storeLibraryListExpansionState();
        QApplication::processEvents();
        return made;
    }();
    return lib;
}

void reportRows(benchmark::State& state)
{
    state.counters["rows"] = double(library().view->numberOfRows());
    state.counters["containers"] = double(kFolders * (kSubfolders + 1));
}

// Rows unchanged: the caches of every container were dropped by the update's rebuild.
void BM_SourceListRefreshUnchanged(benchmark::State& state)
{
    Library& l = library();
    PMMainController& c = mainController();
    for (auto _ : state) {
        state.PauseTiming();
        c.invalidateLibraryDependencies();
        state.ResumeTiming();
        c.reloadInterfaceAfterLibraryUpdate();
    }
    if (l.view->sourceListModel()->numberOfResets() != 0)
        state.SkipWithError("the unchanged refresh reset the list");
    reportRows(state);
}
BENCHMARK(BM_SourceListRefreshUnchanged)->Unit(benchmark::kMillisecond);

// The same, with the visible rows drawn again.
void BM_SourceListRefreshUnchangedAndDraw(benchmark::State& state)
{
    Library& l = library();
    PMMainController& c = mainController();
    QImage image(l.view->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        state.PauseTiming();
        c.invalidateLibraryDependencies();
        state.ResumeTiming();
        c.reloadInterfaceAfterLibraryUpdate();
        l.view->viewport()->render(&image);
    }
    reportRows(state);
}
BENCHMARK(BM_SourceListRefreshUnchangedAndDraw)->Unit(benchmark::kMillisecond);

// A folder came or went: the list resets, opens the stored rows again and reselects.
void BM_SourceListRefreshChanged(benchmark::State& state)
{
    Library& l = library();
    PMMainController& c = mainController();
    auto extra = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Extra")}});
    bool added = false;
    for (auto _ : state) {
        state.PauseTiming();
        if (added)
            l.movies->rawChildren()->removeAt(l.movies->rawChildren()->count() - 1);
        else
            l.movies->rawChildren()->append(Value(extra));
        added = !added;
        c.invalidateLibraryDependencies();
        state.ResumeTiming();
        c.reloadInterfaceAfterLibraryUpdate();
    }
    if (!l.view->selectedItems() || l.view->selectedItems()->count() != 1 || !PMIsSameItem(l.view->selectedItems()->at(0), Value(l.selected)))
        state.SkipWithError("the selection was not kept");
    reportRows(state);
}
BENCHMARK(BM_SourceListRefreshChanged)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
