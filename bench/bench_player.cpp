// The player engine on 1080p H.264 with null audio and the software renderer:
// - opening a file to its first rendered frame;
// - exact seeks to 16 times of a 2-minute clip with a key frame every 250 frames, beside
//   the media layer's exact frame grab of the same times;
// - 20 s of 1080p30 playback rendered into a 960x540 image: dropped frames and CPU time,
//   beside a bare libmpv loop doing the same (same options, same renderer, same size).
//
// Clips are made on first run with ffmpeg into /tmp (PELLIS_BENCH_CLIP overrides the
// 2-minute one, PELLIS_BENCH_PLAY_CLIP the 30 fps one).
#include "BenchSupport.h"

#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"
#include "platform/media/Player.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>

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
    return benchsupport::runBenchmarks(argc, argv);
}
