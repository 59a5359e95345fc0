// Dropping 10,000 movie files on the grid's container: collecting the files, making the
// records, placing them and the library update that follows (first drop), and the same
// drop again when every file is known already.
#include "library/model/PMMainController.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QMimeData>
#include <QtCore/QProcess>
#include <QtCore/QUrl>

#include <filesystem>

namespace {

constexpr int kFiles = 10000;
QList<QUrl> gURLs;

void makeFiles(const QString& home)
{
    const QString dir = home + QStringLiteral("/drop");
    QDir().mkpath(dir);
    // One tiny movie, linked under every name.
    const QString tiny = dir + QStringLiteral("/tiny.mp4");
    QProcess::execute(QStringLiteral("ffmpeg"), {QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                                                 QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=black:s=16x16:d=0.1"),
                                                 QStringLiteral("-frames:v"), QStringLiteral("1"), tiny});
    if (!QFile::exists(tiny)) {
        QFile f(tiny);
        (void)f.open(QIODevice::WriteOnly);
    }
    QDir().mkpath(dir + QStringLiteral("/files"));
    for (int n = 0; n < kFiles; ++n) {
        const QString path = dir + QStringLiteral("/files/Movie %1.mp4").arg(n, 5, 10, QLatin1Char('0'));
        std::error_code error;
        std::filesystem::create_hard_link(tiny.toStdString(), path.toStdString(), error);
        gURLs << QUrl::fromLocalFile(path);
    }
}

PMLibraryContainerPtr freshTarget()
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c.resetDropStateForTesting();
    const PMLibraryContainerPtr target = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Target")}});
    c.pellisSourceStorageSection()->rawChildren()->append(platform::Value(target));
    c.invalidateLibraryDependencies();
    c._groupItemsParent = target;
    return target;
}

// Argument 0: the first drop; 1: the same drop again, when every file is known.
void BM_DropFiles(benchmark::State& state)
{
    const bool again = state.range(0) == 1;
    QMimeData mime;
    mime.setUrls(gURLs);
    const PMMainController::PMDraggingInfo info{&mime, PMMainController::PMLibraryView::None};
    for (auto _ : state) {
        state.PauseTiming();
        const PMLibraryContainerPtr target = freshTarget();
        if (again)
            mainController().acceptGroupViewDrop(info);
        state.ResumeTiming();
        benchmark::DoNotOptimize(mainController().acceptGroupViewDrop(info));
        if (target->rawChildren()->count() != kFiles)
            state.SkipWithError("the drops did not add every file once");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_DropFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, makeFiles);
}
