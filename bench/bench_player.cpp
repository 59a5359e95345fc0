// The player engine on 1080p H.264 with null audio and the software renderer:
// - opening a file to its first rendered frame;
// - exact seeks to 16 times of a 2-minute clip with a key frame every 250 frames, beside
//   the media layer's exact frame grab of the same times;
// - 20 s of 1080p30 playback rendered into a 960x540 image: dropped frames and CPU time,
//   beside a bare libmpv loop doing the same (same options, same renderer, same size).
//
// - a movie switch: letting go of a playing movie and choosing the next one, through the
//   playback layer's movie objects, as the window does: the main thread's time in the switch
//   itself, its longest single turn and its whole time until the new movie's first frame;
// - the main thread's time per frame while a movie plays into a 4K target.
// - the same switch in a movie view drawing with OpenGL (run under a display with GL, e.g.
//   `QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24 +extension GLX"`; skipped
//   elsewhere), the player let go before the view shows the next one (as the window does)
//   or after.
//
// Clips are made on first run with ffmpeg into /tmp (PELLIS_BENCH_CLIP overrides the
// 2-minute one, PELLIS_BENCH_PLAY_CLIP the 30 fps one).
#include "BenchSupport.h"

#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"
#include "playback/PMMovieView.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>

#include <mpv/client.h>
#include <mpv/render.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace platform::media;

namespace {

using benchsupport::makeClip;
using benchsupport::spinUntil;

// The frame-grab benchmark's clip: 2 minutes, 25 fps, a key frame every 250 frames.
std::string seekClip()
{
    static const std::string p = makeClip("PELLIS_BENCH_CLIP", "/tmp/pellis-bench-framegrab-1080p.mp4",
        "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=120 -c:v libx264 -preset veryfast -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p");
    return p;
}

std::string playClip()
{
    return benchsupport::playClipPath();
}

AssetPtr assetOf(const std::string& path)
{
    return Asset::assetWithURL(QUrl::fromLocalFile(QString::fromStdString(path)));
}

std::vector<double> seekTimes()
{
    std::vector<double> times;
    for (int i = 0; i < 16; ++i)
        times.push_back((i + 0.5) * 120.0 / 16);
    return times;
}

void BM_Player_OpenToFirstFrame(benchmark::State& state)
{
    const AssetPtr asset = assetOf(playClip());
    // Players are let go after the timing: ending an engine is not part of opening.
    std::vector<std::unique_ptr<Player>> players;
    for (auto _ : state) {
        players.push_back(std::make_unique<Player>());
        Player& player = *players.back();
        player.setSoftwareTargetSize(QSize(960, 540));
        player.replaceCurrentItemWithAsset(asset);
        if (!spinUntil([&] { return player.renderedFrameCount() > 0 || player.status() == PlayerItemStatus::Failed; }, 10000)
            || player.status() == PlayerItemStatus::Failed) {
            state.SkipWithError("no first frame");
            return;
        }
    }

}
BENCHMARK(BM_Player_OpenToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The same with the engine already started: what loading the item itself takes.
void BM_Player_LoadToFirstFrameInStartedEngine(benchmark::State& state)
{
    const AssetPtr asset = assetOf(playClip());
    Player player;
    player.setSoftwareTargetSize(QSize(960, 540));
    for (auto _ : state) {
        player.replaceCurrentItemWithAsset(asset);
        if (!spinUntil([&] { return player.renderedFrameCount() > 0 || player.status() == PlayerItemStatus::Failed; }, 10000)
            || player.status() == PlayerItemStatus::Failed) {
            const std::string why = "no first frame: status " + std::to_string(int(player.status())) + " " + player.error().toStdString();
            state.SkipWithError(why.c_str());
            return;
        }
    }
}
BENCHMARK(BM_Player_LoadToFirstFrameInStartedEngine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_Player_ExactSeek16(benchmark::State& state)
{
    Player player;
    player.setSoftwareTargetSize(QSize(960, 540));
    player.replaceCurrentItemWithAsset(assetOf(seekClip()));
    if (!spinUntil([&] { return player.renderedFrameCount() > 0; }, 10000)) {
        state.SkipWithError("not ready");
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (double t : seekTimes()) {
            player.seekToTime(t, true);
            if (!spinUntil([&] { return !player.isSeeking(); }, 10000)) {
                state.SkipWithError("seek did not finish");
                return;
            }
        }
    }
    state.counters["ms_per_seek"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / double(state.iterations() * 16);
}
BENCHMARK(BM_Player_ExactSeek16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_MediaLayer_ExactGrab16(benchmark::State& state)
{
    const AssetPtr asset = assetOf(seekClip());
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ImageGenerator generator(asset);
        generator.setRequestedTimeToleranceBefore(MediaTime::zero());
        generator.setRequestedTimeToleranceAfter(MediaTime::zero());
        for (double t : seekTimes())
            benchmark::DoNotOptimize(generator.copyImageAtTime(MediaTime::withSeconds(t)).constBits());
    }
    state.counters["ms_per_grab"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / double(state.iterations() * 16);
}
BENCHMARK(BM_MediaLayer_ExactGrab16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Two 1080p clips of ten seconds with sound, told apart by their pattern.
std::string switchClip(int which)
{
    return makeClip(which == 0 ? "PELLIS_BENCH_SWITCH_CLIP_A" : "PELLIS_BENCH_SWITCH_CLIP_B",
        which == 0 ? "/tmp/pellis-bench-switch-a.mp4" : "/tmp/pellis-bench-switch-b.mp4",
        std::string("-f lavfi -i ") + (which == 0 ? "testsrc2" : "smptebars")
            + "=size=1920x1080:rate=30:duration=10 -f lavfi -i sine=frequency=440:duration=10 -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest");
}

// Runs the event loop until the condition holds, adding each turn's time (ms) and keeping
// the longest one.
template <class Condition>
bool spinMeasuring(Condition condition, int timeoutMs, double* total, double* longest)
{
    QElapsedTimer deadline;
    deadline.start();
    while (!condition()) {
        if (deadline.elapsed() > timeoutMs)
            return false;
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const double ms = turn.nsecsElapsed() / 1e6;
        *total += ms;
        *longest = std::max(*longest, ms);
        if (!condition())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

PMMovieRepresentationValues movieValues(int which)
{
    PMMovieRepresentationValues values;
    values.URL = QUrl::fromLocalFile(QString::fromStdString(switchClip(which)));
    values.uniqueLibraryID = QStringLiteral("switch-%1").arg(which);
    return values;
}

// The switches of a benchmark, once a movie plays: each waits until the playing movie is
// half a second in; then `switchTo(which)` lets it go and chooses movie `which` (0 or 1,
// taking turns), which `player` then holds, and it is asked to play. Figures per switch, in
// ms of the main thread: the switch itself, and every turn until `firstFrame` holds.
template <class FirstFrame, class SwitchTo>
void measureSwitches(benchmark::State& state, PMPlayerPtr& player, FirstFrame firstFrame, SwitchTo switchTo)
{
    double switchTotal = 0, switchLongest = 0, untilFrameTotal = 0, turnLongest = 0;
    int which = 0;
    // The second clip is made (by ffmpeg, seconds) before the clock starts, not inside the
    // first timed switch.
    switchClip(1);
    for (auto _ : state) {
        spinUntil([&] { return player->currentTime() > 0.5; }, 5000);
        which = 1 - which;
        QElapsedTimer timer;
        timer.start();
        switchTo(which);
        if (player)
            player->play();
        const double switchMs = timer.nsecsElapsed() / 1e6;
        switchTotal += switchMs;
        switchLongest = std::max(switchLongest, switchMs);
        double total = switchMs, longest = switchMs;
        if (!player || !spinMeasuring(firstFrame, 10000, &total, &longest) || player->status() == PlayerItemStatus::Failed) {
            state.SkipWithError("the next movie does not play");
            return;
        }
        untilFrameTotal += total;
        turnLongest = std::max(turnLongest, longest);
    }
    const double n = double(state.iterations());
    state.counters["switch_ms"] = switchTotal / n;
    state.counters["switch_longest_ms"] = switchLongest;
    state.counters["main_thread_to_first_frame_ms"] = untilFrameTotal / n;
    state.counters["longest_turn_ms"] = turnLongest;
}

// A movie plays; then the switch: the playing movie is let go and the next one is chosen
// and asked to play.
void BM_Player_MovieSwitch(benchmark::State& state)
{
    std::shared_ptr<PMMovie> movie = std::make_shared<PMMovie>(movieValues(0));
    PMPlayerPtr player = movie->player();
    const auto firstFrame = [&] { return player && (player->renderedFrameCount() > 0 || player->status() == PlayerItemStatus::Failed); };
    player->setSoftwareTargetSize(QSize(1920, 1080));
    player->play();
    if (!spinUntil(firstFrame, 10000) || player->status() == PlayerItemStatus::Failed) {
        state.SkipWithError("the first movie does not play");
        return;
    }
    measureSwitches(state, player, firstFrame, [&](int which) {
        player.reset();
        movie = std::make_shared<PMMovie>(movieValues(which));
        player = movie->player();
        if (player)
            player->setSoftwareTargetSize(QSize(1920, 1080));
    });
}
BENCHMARK(BM_Player_MovieSwitch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The movie switch in a shown 960x540 movie view drawing with OpenGL: the playing movie is
// let go (argument 0: the player first, then the view shows the next one; 1: the view
// first), the next one is chosen and asked to play. Figures as above.
void BM_Player_MovieSwitchOpenGL(benchmark::State& state)
{
    QString reason;
    if (!PMMovieView::canMakeOpenGLContext(&reason)) {
        state.SkipWithError(("no OpenGL here: " + reason).toStdString().c_str());
        return;
    }
    const bool viewFirst = state.range(0) == 1;
    PMMovieView::setDrawsWithOpenGL(true);
    PMMovieView view;
    view.resize(960, 540);
    view.show();
    if (!spinUntil([&] { return view.windowHandle() && view.windowHandle()->isExposed(); }, 10000)) {
        state.SkipWithError("the view does not show");
        return;
    }
    std::shared_ptr<PMMovie> movie = std::make_shared<PMMovie>(movieValues(0));
    PMPlayerPtr player = movie->player();
    const auto firstFrame = [&] {
        return player && ((player->usesOpenGL() && player->renderedFrameCount() > 0) || player->status() == PlayerItemStatus::Failed);
    };
    view.setMoviePlayer(player);
    player->play();
    if (!spinUntil(firstFrame, 10000) || player->status() == PlayerItemStatus::Failed) {
        state.SkipWithError("the first movie does not play with OpenGL");
        return;
    }
    measureSwitches(state, player, firstFrame, [&](int which) {
        std::shared_ptr<PMMovie> next = std::make_shared<PMMovie>(movieValues(which));
        const PMPlayerPtr nextPlayer = next->player();
        if (viewFirst)
            view.setMoviePlayer(nextPlayer);
        player = nextPlayer;
        movie = std::move(next);
        if (!viewFirst)
            view.setMoviePlayer(nextPlayer);
    });
    view.setMoviePlayer(nullptr);
}
BENCHMARK(BM_Player_MovieSwitchOpenGL)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Three seconds of 1080p30 rendered by the software renderer for a 4K target: the main
// thread's time per shown frame.
void BM_Player_MainThreadPerFrameAt4KTarget(benchmark::State& state)
{
    for (auto _ : state) {
        Player player;
        player.setSoftwareTargetSize(QSize(3840, 2160));
        player.replaceCurrentItemWithAsset(assetOf(switchClip(0)));
        if (!spinUntil([&] { return player.renderedFrameCount() > 0; }, 10000)) {
            state.SkipWithError("not ready");
            return;
        }
        const qint64 before = player.renderedFrameCount();
        player.play();
        double total = 0, longest = 0;
        spinMeasuring([&] { return player.currentTime() >= 3.5; }, 15000, &total, &longest);
        const qint64 shown = player.renderedFrameCount() - before;
        state.counters["frames_shown"] = double(shown);
        state.counters["main_thread_ms_per_frame"] = shown > 0 ? total / double(shown) : 0;
        state.counters["longest_turn_ms"] = longest;
        state.counters["frame_width"] = player.currentFrame().width();
    }
}
BENCHMARK(BM_Player_MainThreadPerFrameAt4KTarget)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

constexpr double kPlaySeconds = 20.0;

void BM_Player_Play20s(benchmark::State& state)
{
    for (auto _ : state) {
        Player player;
        player.setSoftwareTargetSize(QSize(960, 540));
        player.replaceCurrentItemWithAsset(assetOf(playClip()));
        if (!spinUntil([&] { return player.renderedFrameCount() > 0; }, 10000)) {
            state.SkipWithError("not ready");
            return;
        }
        const double cpu = benchsupport::cpuSeconds();
        const qint64 framesBefore = player.renderedFrameCount();
        player.play();
        spinUntil([&] { return player.currentTime() >= kPlaySeconds; }, int(kPlaySeconds * 1000) + 5000);
        const double used = benchsupport::cpuSeconds() - cpu;
        const qint64 shown = player.renderedFrameCount() - framesBefore;
        const qint64 dropped = player.droppedFrameCount();
        state.counters["frames_shown"] = double(shown);
        state.counters["frames_dropped"] = double(dropped);
        state.counters["dropped_percent"] = 100.0 * double(dropped) / (kPlaySeconds * 30);
        state.counters["cpu_seconds"] = used;
        state.counters["cpu_percent_of_one_core"] = 100.0 * used / kPlaySeconds;
    }
}
BENCHMARK(BM_Player_Play20s)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// The same 20 s with nothing but libmpv: the same options, the software renderer drawing
// into a 960x540 buffer from a thread woken by mpv's update callback.
void BM_BareLibmpv_Play20s(benchmark::State& state)
{
    for (auto _ : state) {
        mpv_handle* mpv = mpv_create();
        for (const auto& [name, value] : std::vector<std::pair<const char*, const char*>>{{"config", "no"}, {"terminal", "no"}, {"vo", "libmpv"},
                 {"ao", "null"}, {"hr-seek", "yes"}, {"keep-open", "yes"}, {"idle", "yes"}, {"video-rotate", "no"}, {"audio-display", "no"}})
            mpv_set_option_string(mpv, name, value);
        mpv_initialize(mpv);
        char apiType[] = MPV_RENDER_API_TYPE_SW;
        mpv_render_param create[] = {{MPV_RENDER_PARAM_API_TYPE, apiType}, {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context* render = nullptr;
        mpv_render_context_create(&render, mpv, create);
        std::mutex mutex;
        std::condition_variable wake;
        bool pending = false, stop = false;
        std::atomic<long> rendered{0};
        struct Waker {
            std::mutex* mutex;
            std::condition_variable* wake;
            bool* pending;
        } waker{&mutex, &wake, &pending};
        mpv_render_context_set_update_callback(render, [](void* p) {
            auto* w = static_cast<Waker*>(p);
            std::lock_guard lock(*w->mutex);
            *w->pending = true;
            w->wake->notify_one();
        }, &waker);
        std::thread renderer([&] {
            const int w = 960, h = 540;
            size_t stride = 960 * 4;
            std::vector<unsigned char> buffer(stride * h + 64);
            void* pixels = buffer.data() + (64 - reinterpret_cast<uintptr_t>(buffer.data()) % 64) % 64;
            int size[2] = {w, h};
            char format[] = "rgb0";
            for (;;) {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return pending || stop; });
                if (stop)
                    return;
                pending = false;
                lock.unlock();
                if (mpv_render_context_update(render) & MPV_RENDER_UPDATE_FRAME) {
                    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size}, {MPV_RENDER_PARAM_SW_FORMAT, format},
                        {MPV_RENDER_PARAM_SW_STRIDE, &stride}, {MPV_RENDER_PARAM_SW_POINTER, pixels}, {MPV_RENDER_PARAM_INVALID, nullptr}};
                    mpv_render_context_render(render, params);
                    mpv_render_context_report_swap(render);
                    ++rendered;
                }
            }
        });
        const std::string path = playClip();
        const char* load[] = {"loadfile", path.c_str(), nullptr};
        mpv_command(mpv, load);
        while (rendered == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double cpu = benchsupport::cpuSeconds();
        const long before = rendered;
        double position = 0;
        while (position < kPlaySeconds) {
            mpv_event* event = mpv_wait_event(mpv, 0.05);
            (void)event;
            mpv_get_property(mpv, "time-pos", MPV_FORMAT_DOUBLE, &position);
        }
        const double used = benchsupport::cpuSeconds() - cpu;
        int64_t dropped = 0, decoderDropped = 0;
        mpv_get_property(mpv, "frame-drop-count", MPV_FORMAT_INT64, &dropped);
        mpv_get_property(mpv, "decoder-frame-drop-count", MPV_FORMAT_INT64, &decoderDropped);
        {
            std::lock_guard lock(mutex);
            stop = true;
            wake.notify_one();
        }
        renderer.join();
        mpv_render_context_free(render);
        mpv_terminate_destroy(mpv);
        state.counters["frames_shown"] = double(rendered - before);
        state.counters["frames_dropped"] = double(dropped + decoderDropped);
        state.counters["dropped_percent"] = 100.0 * double(dropped + decoderDropped) / (kPlaySeconds * 30);
        state.counters["cpu_seconds"] = used;
        state.counters["cpu_percent_of_one_core"] = 100.0 * used / kPlaySeconds;
    }
}
BENCHMARK(BM_BareLibmpv_Play20s)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    Player::setDefaultAudioOutput(QStringLiteral("null"));
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
