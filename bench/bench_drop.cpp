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

void BM_DropFiles(benchmark::State& state)
{
    QMimeData mime;
    mime.setUrls(gURLs);
    for (auto _ : state) {
        state.PauseTiming();
        const PMLibraryContainerPtr target = freshTarget();
        state.ResumeTiming();
        const bool ok = mainController().acceptGroupViewDrop({&mime, PMMainController::PMLibraryView::None});
        benchmark::DoNotOptimize(ok);
        if (!ok || target->rawChildren()->count() != kFiles)
            state.SkipWithError("the drop did not add every file");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_DropFiles)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DropKnownFilesAgain(benchmark::State& state)
{
    QMimeData mime;
    mime.setUrls(gURLs);
    for (auto _ : state) {
        state.PauseTiming();
        const PMLibraryContainerPtr target = freshTarget();
        mainController().acceptGroupViewDrop({&mime, PMMainController::PMLibraryView::None});
        state.ResumeTiming();
        mainController().acceptGroupViewDrop({&mime, PMMainController::PMLibraryView::None});
        if (target->rawChildren()->count() != kFiles)
            state.SkipWithError("the second drop changed the library");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_DropKnownFilesAgain)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, makeFiles);
}
