// Validating the whole main menu, as happens at every opening of a menu and every shortcut,
// with 10,000 movies selected: every item of every menu (the refilled submenus included)
// is asked once. It must stay below 5 ms.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "ui/commands/PMMainMenu.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QCoreApplication>
#include <QtGui/QAction>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

using platform::Array;
using platform::Value;

namespace {

constexpr int kSelected = 10000;

void collect(QMenu* menu, QList<QAction*>& into)
{
    for (QAction* item : menu->actions()) {
        if (item->isSeparator())
            continue;
        into.append(item);
        if (item->menu())
            collect(item->menu(), into);
    }
}

void BM_ValidateMainMenu(benchmark::State& state)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c.registerDefaultSettings();
    PMLibraryContainerPtr section = c.pellisSourceStorageSection();
    auto selected = Array::make();
    for (int i = 0; i < kSelected; ++i) {
        auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/bench/Movie %1.mov").arg(i));
        section->rawChildren()->append(Value(movie));
        selected->append(Value(movie));
    }
    c.invalidateLibraryDependencies();
    c._infoMovieRepresentations = selected;
    platform::setApplicationResponder(&c);
    QMainWindow window;
    QMenuBar* bar = PMMainMenu::createMenuBar(c, &window);
    window.setMenuBar(bar);
    QList<QAction*> items;
    for (QMenu* menu : bar->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        for (QMenu* sub : menu->findChildren<QMenu*>())
            c.menuNeedsUpdate(sub);
        collect(menu, items);
    }
    qsizetype enabled = 0;
    for (auto _ : state) {
        for (QAction* item : items)
            enabled += platform::validateMenuItemNow(item) ? 1 : 0;
        // The next opening comes in a later turn of the event loop: nothing kept for
        // the turn carries over.
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["items"] = double(items.size());
    state.counters["enabled"] = benchmark::Counter(double(enabled), benchmark::Counter::kAvgIterations);
    c._infoMovieRepresentations = nullptr;
    platform::setApplicationResponder(nullptr);
}
BENCHMARK(BM_ValidateMainMenu)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
