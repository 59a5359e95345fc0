// Loading the durations and embedded metadata of 1,000 movie files through the crawl
// queue, as a freshly imported folder does: each record asks once, the queue reads one
// file at a time, and the results come back on the main thread.
//
// The files are copies of one small tagged clip made with ffmpeg into /tmp on first run
// (PELLIS_BENCH_RECORDS_DIR overrides the folder).
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 1000;

QString filesFolder()
{
    static const QString folder = [] {
        const char* given = std::getenv("PELLIS_BENCH_RECORDS_DIR");
        const QString dir = given && *given ? QString::fromLocal8Bit(given) : QStringLiteral("/tmp/pellis-bench-records");
        QDir().mkpath(dir);
        const QString clip = dir + QStringLiteral("/source.mp4");
        if (!QFileInfo::exists(clip)) {
            std::fprintf(stderr, "making %s (once)...\n", qPrintable(clip));
            const std::string command = "ffmpeg -y -v error -f lavfi -i testsrc2=size=160x90:rate=25:duration=4 -c:v libx264 -preset veryfast "
                                        "-metadata title=Bench -metadata album=Album -metadata season_number=2 -metadata comment=Note "
                                        "-movflags use_metadata_tags '"
                + clip.toStdString() + ".part.mp4' && mv '" + clip.toStdString() + ".part.mp4' '" + clip.toStdString() + "'";
            if (std::system(command.c_str()) != 0)
                std::fprintf(stderr, "cannot make the clip\n");
        }
        for (int i = 0; i < kFiles; ++i) {
            const QString copy = dir + QStringLiteral("/clip-%1.mp4").arg(i, 4, 10, QLatin1Char('0'));
            if (!QFileInfo::exists(copy))
                QFile::copy(clip, copy);
        }
        return dir;
    }();
    return folder;
}

std::vector<PMMovieRepresentationOriginalPtr> makeRecords()
{
    std::vector<PMMovieRepresentationOriginalPtr> records;
    records.reserve(kFiles);
    for (int i = 0; i < kFiles; ++i)
        records.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(filesFolder() + QStringLiteral("/clip-%1.mp4").arg(i, 4, 10, QLatin1Char('0'))));
    return records;
}

void settle()
{
    for (int i = 0; i < 3; ++i) {
        PMCrawlQueue::waitUntilEmpty();
        QCoreApplication::processEvents();
    }
}

void BM_Durations(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<PMMovieRepresentationOriginalPtr> records = makeRecords();
        state.ResumeTiming();
        for (const auto& record : records)
            record->duration();
        settle();
        state.PauseTiming();
        for (const auto& record : records)
            if (record->durationIfCached(true) != 4)
                state.SkipWithError("a duration was not read");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_Durations)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Metadata(benchmark::State& state)
{
    platform::UserDefaults::standard().setObject(true, QStringLiteral("Import Metadata: Internal"));
    PMMovieRepresentationServices::shared().importTagNames = [] { return QStringList{QStringLiteral("Album"), QStringLiteral("Season")}; };
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<PMMovieRepresentationOriginalPtr> records = makeRecords();
        state.ResumeTiming();
        for (const auto& record : records)
            record->cachedTags();
        settle();
        state.PauseTiming();
        for (const auto& record : records)
            if (record->cachedLowercaseValueForLowercaseTag(QStringLiteral("album")) != QStringLiteral("album"))
                state.SkipWithError("metadata was not read");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_Metadata)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, [](const QString&) { filesFolder(); });
}
