// Editing a playing movie: a 1080p H.264 movie plays (null audio, software picture at
// 960x540) and is trimmed to 10..20 s; timed is the edit itself until the edited timeline
// (an edl:// timeline of the same file) shows its first frame. The clip is made on first
// run with ffmpeg into /tmp (PELLIS_BENCH_PLAY_CLIP names another 25 s or longer).
#include "BenchSupport.h"

#include "platform/media/ImageGenerator.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"

#include <QtCore/QUrl>

#include <chrono>
#include <cmath>

using namespace platform::media;

namespace {

using benchsupport::spinUntil;

void BM_Editing_TrimPlayingMovieToFirstEditedFrame(benchmark::State& state)
{
    Player::setDefaultAudioOutput(QStringLiteral("null"));
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(benchsupport::playClipPath()));
    double editMs = 0;
    double checkMs = 0;
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
        const auto start = std::chrono::steady_clock::now();
        if (!movie.editWithAction(1, 10, 20)) {
            state.SkipWithError("the movie cannot be edited");
            return;
        }
        editMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // The window first makes sure the edited timeline shows a picture at its start (it
        // refuses an edit that would leave none): the same check on the edited timeline.
        {
            const auto checkStart = std::chrono::steady_clock::now();
            QString error;
            if (!ImageGenerator::playsAPictureAtItsStart(movie.asset(), &error))
                state.SkipWithError(("the check finds no picture: " + error).toStdString().c_str());
            checkMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - checkStart).count();
        }
        // The player counts frames afresh for the new timeline.
        const auto edited = [&] { return std::abs(player->duration() - 10) < 0.2 && player->renderedFrameCount() > 0; };
        if (!spinUntil(edited, 10000)) {
            state.SkipWithError("no edited frame");
            return;
        }
        state.PauseTiming();
        player->pause();
        state.ResumeTiming();
    }
    // The share of the edit itself (the timeline and the hand-over to the player).
    state.counters["edit_ms"] = editMs / double(state.iterations());
    state.counters["picture_check_ms"] = checkMs / double(state.iterations());
}
BENCHMARK(BM_Editing_TrimPlayingMovieToFirstEditedFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
