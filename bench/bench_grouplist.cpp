// The list of the library window showing a container of 100,000 movies (names, a genre
// tag column drawn as pills, ratings, dates and durations): the time from loading the
// rows to the first painted page, and the time to scroll one page and paint it. The
// counters show that only the visible rows were asked for their values.
#include "BenchLibrary.h"
#include "BenchSupport.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "ui/library_window/PMGroupTableView.h"

#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

#include <memory>

using platform::Array;
using platform::Value;

namespace {

constexpr int kMovies = 100000;

struct List {
    std::unique_ptr<PMGroupTableView> view;
    PMLibraryContainerPtr container;
    QImage canvas;
};

List* gList = nullptr;

List& list()
{
    static List l = [] {
        List made;
        PMMainController& c = mainController();
        c.resetForTesting();
        made.container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Everything")}});
        auto items = Array::make();
        items->reserve(kMovies);
        for (int i = 0; i < kMovies; ++i) {
            auto movie = benchsupport::gridMovie(QStringLiteral("/media/bench/Movies/m%1.mov").arg(i), i);
            if (i % 3 == 0)
                movie->setValue(QStringLiteral("Drama, Documentary, Travel"), QStringLiteral("Genre"));
            movie->setRating(double(i % 6));
            movie->setDuration(60 + i % 5000);
            made.container->rawChildren()->append(Value(movie));
            items->append(Value(movie));
        }
        c.pellisSourceStorageSection()->rawChildren()->append(Value(made.container));
        c.invalidateLibraryDependencies();
        c._groupMovieItems = items;
        made.view = std::make_unique<PMGroupTableView>();
        made.view->resize(1000, 800);
        made.view->toggleTableColumn(QStringLiteral("Genre"), QString());
        made.view->show();
        made.view->reloadData();
        QApplication::processEvents();
        made.canvas = QImage(made.view->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        return made;
    }();
    gList = &l;
    return l;
}

void paint(List& l)
{
    QPainter painter(&l.canvas);
    l.view->viewport()->render(&painter);
}

// Loading the rows and painting the first page.
void BM_GroupListFirstPaintedRows(benchmark::State& state)
{
    List& l = list();
    for (auto _ : state) {
        l.view->verticalScrollBar()->setValue(0);
        l.view->reloadData();
        paint(l);
    }
    state.counters["rows"] = double(l.view->numberOfRows());
    state.counters["values asked"] = double(l.view->tableModel()->numberOfValueRequests);
    state.counters["highest row asked"] = double(l.view->tableModel()->highestRequestedRow);
}
BENCHMARK(BM_GroupListFirstPaintedRows)->Unit(benchmark::kMillisecond);

// One page down, painted.
void BM_GroupListScrollOnePage(benchmark::State& state)
{
    List& l = list();
    l.view->reloadData();
    QScrollBar* bar = l.view->verticalScrollBar();
    bar->setValue(0);
    paint(l);
    const qint64 before = l.view->tableModel()->numberOfValueRequests;
    qint64 pages = 0;
    for (auto _ : state) {
        int next = bar->value() + bar->pageStep();
        if (next > bar->maximum())
            next = 0;
        bar->setValue(next);
        paint(l);
        ++pages;
    }
    state.counters["values asked per page"] = pages ? double(l.view->tableModel()->numberOfValueRequests - before) / double(pages) : 0;
}
BENCHMARK(BM_GroupListScrollOnePage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The view goes with the application still there; as a static it outlived it and crashed.
    return benchsupport::runBenchmarks<QApplication>(argc, argv, {}, [] {
        if (gList)
            gList->view.reset();
    });
}
