// Editing a playing movie: a 1080p H.264 movie plays (null audio, software picture at
// 960x540) and is trimmed to 10..20 s; timed is the edit itself until the edited timeline
// (an edl:// timeline of the same file) shows its first frame. The clip is made on first
// run with ffmpeg into /tmp (PELLIS_BENCH_PLAY_CLIP names another 25 s or longer).
#include "BenchSupport.h"

#include "platform/media/Player.h"
#include "playback/PMMovie.h"

#include <QtCore/QUrl>

#include <cmath>

using namespace platform::media;

namespace {

using benchsupport::spinUntil;

void BM_Editing_TrimPlayingMovieToFirstEditedFrame(benchmark::State& state)
{
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(benchsupport::playClipPath()));
    for (auto _ : state) {
        state.PauseTiming();
        PMMovie movie(PMMovieRepresentationValues{url, QStringLiteral("bench"), {}, nullptr, 0});
        const PMPlayerPtr player = movie.player();
        if (!player) {
            state.SkipWithError("no player");
            return;
        }
        player->setSoftwareTargetSize(QSize(960, 540));
        player->seekToTime(12);
        player->play();
        if (!spinUntil([&] { return player->renderedFrameCount() > 5 && player->currentTime() > 12.1; }, 15000)) {
            state.SkipWithError("the movie does not play");
            return;
        }
        state.ResumeTiming();
        const qint64 before = player->renderedFrameCount();
        if (!movie.editWithAction(1, 10, 20)) {
            state.SkipWithError("the movie cannot be edited");
            return;
        }
        // A frame drawn once the edited timeline is loaded.
        qint64 loaded = -1;
        const auto edited = [&] {
            if (loaded < 0 && std::abs(player->duration() - 10) < 0.2 && player->renderedFrameCount() >= before)
                loaded = player->renderedFrameCount();
            return loaded >= 0 && player->renderedFrameCount() > loaded;
        };
        if (!spinUntil(edited, 10000)) {
            state.SkipWithError("no edited frame");
            return;
        }
        state.PauseTiming();
        player->pause();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Editing_TrimPlayingMovieToFirstEditedFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
