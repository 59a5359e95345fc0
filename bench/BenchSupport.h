// What every benchmark program shares: a throw-away home, so the user's own settings and
// library are never touched, and a Qt application object.
#pragma once

#include "platform/Memory.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QString>
#include <QtCore/QTemporaryDir>

#include <benchmark/benchmark.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>

namespace benchsupport {

// The processor time this process has used so far, in seconds (user and system).
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the registered benchmarks; `prepare` gets the home folder before they start. With a
// QGuiApplication as the application type (drawing text needs one), off screen unless told.
template <class Application = QCoreApplication>
// `finish` runs after the last benchmark while the application object still exists: what a
// benchmark keeps in statics (views above all) must go before it does.
inline int runBenchmarks(int argc, char** argv, const std::function<void(const QString& home)>& prepare = {},
                         const std::function<void()>& finish = {})
{
    platform::prepareAllocator();
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    if (!std::is_same_v<Application, QCoreApplication> && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    if (prepare)
        prepare(home.path());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (finish)
        finish();
    return 0;
}

// For a benchmark whose first pass makes what later passes find made (search texts, sort
// names, indexes): its first pass alone as "<name>/cold" (registered before any other use of
// what it makes, since benchmarks run in the order they are registered), then the benchmark
// itself after half a second of warm-up, the steady state. Arguments go on both.
inline benchmark::internal::Benchmark* registerColdThenWarm(const std::string& name, void (*function)(benchmark::State&),
                                                            const std::function<void(benchmark::internal::Benchmark*)>& configure = {})
{
    benchmark::internal::Benchmark* cold = benchmark::RegisterBenchmark((name + "/cold").c_str(), function)->Iterations(1);
    benchmark::internal::Benchmark* warm = benchmark::RegisterBenchmark(name.c_str(), function)->MinWarmUpTime(0.5);
    if (configure) {
        configure(cold);
        configure(warm);
    }
    return warm;
}

// The 2-minute 1080p H.264 clip of the frame-grab benchmarks (a key frame every 10 s), made
// on first run with ffmpeg into /tmp; PELLIS_BENCH_CLIP names another.
inline std::string framegrabClipPath()
{
    static const std::string path = [] {
        const char* given = std::getenv("PELLIS_BENCH_CLIP");
        std::string p = given && *given ? given : "/tmp/pellis-bench-framegrab-1080p.mp4";
        if (!QFileInfo::exists(QString::fromStdString(p))) {
            std::fprintf(stderr, "making %s (once)...\n", p.c_str());
            const std::string command = "ffmpeg -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=120 -c:v libx264 -preset veryfast "
                                        "-g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p '"
                + p + ".part.mp4' && mv '" + p + ".part.mp4' '" + p + "'";
            if (std::system(command.c_str()) != 0)
                std::fprintf(stderr, "cannot make the clip\n");
        }
        return p;
    }();
    return path;
}

// A clip made once with ffmpeg from the source arguments into the fallback path, unless the
// environment variable names one.
inline std::string makeClip(const char* env, const std::string& fallback, const std::string& source)
{
    const char* given = std::getenv(env);
    std::string p = given && *given ? given : fallback;
    if (!QFileInfo::exists(QString::fromStdString(p))) {
        std::fprintf(stderr, "making %s (once)...\n", p.c_str());
        const std::string command = "ffmpeg -y -v error " + source + " '" + p + ".part.mp4' && mv '" + p + ".part.mp4' '" + p + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "cannot make the clip\n");
    }
    return p;
}

// 25 s of 1080p30 H.264 with sound (PELLIS_BENCH_PLAY_CLIP names another).
inline std::string playClipPath()
{
    static const std::string p = makeClip("PELLIS_BENCH_PLAY_CLIP", "/tmp/pellis-bench-play-1080p30.mp4",
        "-f lavfi -i testsrc2=size=1920x1080:rate=30:duration=25 -f lavfi -i sine=frequency=440:duration=25 -c:v libx264 -preset veryfast "
        "-pix_fmt yuv420p -c:a aac -shortest");
    return p;
}

// Runs the event loop until the condition holds (true) or the time is up (false).
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

} // namespace benchsupport
