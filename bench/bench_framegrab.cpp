// Frame grabs as index images and hover frames make them: 16 evenly spaced times in a
// 2-minute 1080p H.264 clip with a key frame every 250 frames, exact and with a tolerance
// of 3 s, beside the ffmpeg command seeking to the same times (16 processes, and all 16
// in one process), and the ffmpeg command's own start-up for reference.
//
// The clip is made on first run with ffmpeg into /tmp (PELLIS_BENCH_CLIP overrides).
#include "BenchSupport.h"
#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"

#include <benchmark/benchmark.h>

#include <QtCore/QFileInfo>
#include <QtCore/QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace platform::media;

namespace {

constexpr double kClipSeconds = 120.0;
constexpr int kGrabs = 16;
constexpr double kToleranceSeconds = 3.0;

std::string clipPath()
{
    return benchsupport::framegrabClipPath();
}

// Milliseconds per grabbed frame, from the benchmark's own real-time measurement.
struct Stopwatch {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double milliseconds() const { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(); }
};
thread_local Stopwatch* gStopwatch = nullptr;

void perFrame(benchmark::State& state)
{
    if (gStopwatch && state.iterations() > 0)
        state.counters["ms_per_frame"] = gStopwatch->milliseconds() / double(kGrabs * state.iterations());
}

std::vector<double> grabTimes()
{
    std::vector<double> times;
    for (int i = 0; i < kGrabs; ++i)
        times.push_back((i + 0.5) * kClipSeconds / kGrabs);
    return times;
}

void grabWithGenerator(benchmark::State& state, bool exact)
{
    const AssetPtr asset = Asset::assetWithURL(QUrl::fromLocalFile(QString::fromStdString(clipPath())));
    if (!asset || !asset->duration().isNumeric()) {
        state.SkipWithError("no clip");
        return;
    }
    Stopwatch watch;
    gStopwatch = &watch;
    for (auto _ : state) {
        // A new generator each round, as each index image makes its own.
        ImageGenerator generator(asset);
        const MediaTime tolerance = exact ? MediaTime::zero() : MediaTime::withSeconds(kToleranceSeconds);
        generator.setRequestedTimeToleranceBefore(tolerance);
        generator.setRequestedTimeToleranceAfter(tolerance);
        generator.setAppliesPreferredTrackTransform(true);
        for (const double t : grabTimes()) {
            QString error;
            const QImage image = generator.copyImageAtTime(MediaTime::withSeconds(t), nullptr, &error);
            if (image.isNull()) {
                state.SkipWithError(error.toStdString().c_str());
                return;
            }
            benchmark::DoNotOptimize(image.constBits());
        }
    }
    perFrame(state);
}

void BM_Pellis_Exact16(benchmark::State& state)
{
    grabWithGenerator(state, true);
}
void BM_Pellis_Tolerant16(benchmark::State& state)
{
    grabWithGenerator(state, false);
}

bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string seconds(double t)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", t);
    return buffer;
}

// One ffmpeg process per time: decoded and turned into BGRA like our grabs, then dropped.
void ffmpegProcesses(benchmark::State& state, bool exact)
{
    const std::string clip = clipPath();
    Stopwatch watch;
    gStopwatch = &watch;
    for (auto _ : state) {
        for (const double t : grabTimes()) {
            const std::string command = std::string("ffmpeg -v error ") + (exact ? "" : "-noaccurate_seek ") + "-ss " + seconds(t) + " -i '" + clip
                + "' -frames:v 1 -pix_fmt bgra -f rawvideo -y /dev/null";
            if (!run(command)) {
                state.SkipWithError("ffmpeg failed");
                return;
            }
        }
    }
    perFrame(state);
}

void BM_FFmpegCommand_Exact16Processes(benchmark::State& state)
{
    ffmpegProcesses(state, true);
}
void BM_FFmpegCommand_Tolerant16Processes(benchmark::State& state)
{
    ffmpegProcesses(state, false);
}

// All 16 seeks in one ffmpeg process: 16 inputs, each with its own -ss, one frame each.
void BM_FFmpegCommand_Exact16InOneProcess(benchmark::State& state)
{
    const std::string clip = clipPath();
    std::string command = "ffmpeg -v error";
    int index = 0;
    for (const double t : grabTimes())
        command += " -ss " + seconds(t) + " -i '" + clip + "'";
    for (index = 0; index < kGrabs; ++index)
        command += " -map " + std::to_string(index) + ":v -frames:v 1 -pix_fmt bgra -f rawvideo -y /dev/null";
    Stopwatch watch;
    gStopwatch = &watch;
    for (auto _ : state) {
        if (!run(command)) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
    perFrame(state);
}

// The ffmpeg command opening the clip and decoding nothing: its start-up cost.
void BM_FFmpegCommand_StartOnly(benchmark::State& state)
{
    const std::string command = "ffmpeg -v error -i '" + clipPath() + "' -frames:v 0 -f null -";
    for (auto _ : state) {
        if (!run(command)) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
}

} // namespace

BENCHMARK(BM_Pellis_Exact16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Pellis_Tolerant16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_FFmpegCommand_Exact16Processes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_FFmpegCommand_Tolerant16Processes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_FFmpegCommand_Exact16InOneProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_FFmpegCommand_StartOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
