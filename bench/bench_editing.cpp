// Editing a playing movie: a 1080p H.264 movie plays (null audio, software picture at
// 960x540) and is trimmed to 10..20 s; timed is the edit itself until the edited timeline
// (an edl:// timeline of the same file) shows its first frame. The clip is made on first
// run with ffmpeg into /tmp (PELLIS_BENCH_PLAY_CLIP names another 25 s or longer).
#include "BenchSupport.h"

#include "platform/media/Player.h"
#include "playback/PMMovie.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace platform::media;

namespace {

std::string playClip()
{
    static const std::string path = [] {
        const char* given = std::getenv("PELLIS_BENCH_PLAY_CLIP");
        std::string p = given && *given ? given : "/tmp/pellis-bench-play-1080p30.mp4";
        if (!QFileInfo::exists(QString::fromStdString(p))) {
            std::fprintf(stderr, "making %s (once)...\n", p.c_str());
            const std::string command = "ffmpeg -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=25 -f lavfi -i sine=frequency=440:duration=25 "
                                        "-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest '"
                + p + ".part.mp4' && mv '" + p + ".part.mp4' '" + p + "'";
            if (std::system(command.c_str()) != 0)
                std::fprintf(stderr, "cannot make the clip\n");
        }
        return p;
    }();
    return path;
}

template <class Condition>
bool spinUntil(Condition condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!condition())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void BM_Editing_TrimPlayingMovieToFirstEditedFrame(benchmark::State& state)
{
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(playClip()));
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
