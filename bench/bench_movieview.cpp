// The frame path from the engine to the screen: a 1080p30 movie with null audio, the
// engine rendering at the view's size, the movie view painting each frame into a 1280x720
// window (offscreen unless QT_QPA_PLATFORM says otherwise) for 20 s; frames painted per
// second and frames dropped. Once upright, once turned by 90 degrees, mirrored and cut to a
// visible area (the view then renders and turns a larger picture). Each with the software
// renderer and with OpenGL (a texture drawn by the view's GL surface); the OpenGL runs
// need a display with GL, e.g. QT_QPA_PLATFORM=xcb under xvfb-run with GLX.
//
// And 10 s of 1080p30 and of 2160p30 in a shown 1920x1080 view with the software renderer,
// the process's processor time (compare with `mpv --vo=x11 --ao=null` on the same file and
// display, e.g. under `xvfb-run -s "-screen 0 1920x1080x24"` with QT_QPA_PLATFORM=xcb).
//
// The clips are made on first run with ffmpeg into /tmp (PELLIS_BENCH_PLAY_CLIP overrides
// the 1080p one).
#include "platform/Memory.h"
#include "platform/media/Asset.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <string>

using namespace platform::media;

namespace {

std::string playClip()
{
    return benchsupport::playClipPath();
}

// Waits for events rather than polling: the processor time of playback is measured.
template <class Condition>
bool spinUntil(Condition condition, int timeoutMs)
{
    // processEvents with a time limit never waits (it drops WaitForMoreEvents): it would
    // spin a core. A tick wakes the wait to check the time.
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(50);
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

constexpr double kPlaySeconds = 20.0;

void BM_MovieView_Play20s(benchmark::State& state)
{
    const bool turned = state.range(0) != 0;
    const bool openGL = state.range(1) != 0;
    QString reason;
    if (openGL && !PMMovieView::canMakeOpenGLContext(&reason)) {
        state.SkipWithError(("no OpenGL here: " + reason).toStdString().c_str());
        return;
    }
    PMMovieView::setDrawsWithOpenGL(openGL);
    for (auto _ : state) {
        auto player = std::make_shared<Player>();
        auto content = std::make_shared<PMPlayerViewContent>();
        content->moviePlayer = player;
        if (turned) {
            content->angle = 90;
            content->flipsHorizontally = true;
            auto area = platform::Dictionary::make();
            area->setValue(QStringLiteral("x"), platform::Value(0.1));
            area->setValue(QStringLiteral("y"), platform::Value(0.2));
            area->setValue(QStringLiteral("w"), platform::Value(0.8));
            area->setValue(QStringLiteral("h"), platform::Value(0.6));
            content->visibleArea = area;
        }
        PMMovieView view;
        view.resize(1280, 720);
        view.setContent(content);
        view.show();
        player->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(QString::fromStdString(playClip()))));
        if (!spinUntil([&] { return player->renderedFrameCount() > 0 && view.paintCount() > 0; }, 10000)) {
            state.SkipWithError("not ready");
            return;
        }
        const double cpu = benchsupport::cpuSeconds();
        const qint64 paintsBefore = view.paintCount();
        const qint64 framesBefore = player->renderedFrameCount();
        QElapsedTimer clock;
        clock.start();
        player->play();
        spinUntil([&] { return player->currentTime() >= kPlaySeconds; }, int(kPlaySeconds * 1000) + 5000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const double used = benchsupport::cpuSeconds() - cpu;
        const qint64 painted = view.paintCount() - paintsBefore;
        state.counters["frames_rendered"] = double(player->renderedFrameCount() - framesBefore);
        state.counters["frames_painted"] = double(painted);
        state.counters["painted_per_second"] = double(painted) / seconds;
        state.counters["frames_dropped"] = double(player->droppedFrameCount());
        state.counters["cpu_percent_of_one_core"] = 100.0 * used / seconds;
        const QSize rendered = view.pictureTargetSize();
        state.counters["rendered_width"] = double(rendered.width());
        state.counters["rendered_height"] = double(rendered.height());
    }
}
BENCHMARK(BM_MovieView_Play20s)->ArgNames({"turned", "opengl"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// 25 s of 2160p30 H.264 with sound.
std::string play4KClip()
{
    static const std::string p = benchsupport::makeClip("PELLIS_BENCH_PLAY_4K_CLIP", "/tmp/pellis-bench-play-2160p30.mp4",
        "-f lavfi -i testsrc2=size=3840x2160:rate=30:duration=25 -f lavfi -i sine=frequency=440:duration=25 -c:v libx264 -preset veryfast "
        "-pix_fmt yuv420p -c:a aac -shortest");
    return p;
}

constexpr double kWindowPlaySeconds = 10.0;

// 10 s of 1080p30 (argument 1080) or 2160p30 (2160) in a shown 1920x1080 view.
void BM_MovieView_Play10sIn1920x1080(benchmark::State& state)
{
    PMMovieView::setDrawsWithOpenGL(false);
    const std::string clip = state.range(0) == 2160 ? play4KClip() : playClip();
    for (auto _ : state) {
        auto player = std::make_shared<Player>();
        auto content = std::make_shared<PMPlayerViewContent>();
        content->moviePlayer = player;
        PMMovieView view;
        view.resize(1920, 1080);
        view.setContent(content);
        view.show();
        player->replaceCurrentItemWithAsset(Asset::assetWithURL(QUrl::fromLocalFile(QString::fromStdString(clip))));
        if (!spinUntil([&] { return player->renderedFrameCount() > 0 && view.paintCount() > 0; }, 10000)) {
            state.SkipWithError("not ready");
            return;
        }
        const double cpu = benchsupport::cpuSeconds();
        const qint64 paintsBefore = view.paintCount();
        const qint64 framesBefore = player->renderedFrameCount();
        QElapsedTimer clock;
        clock.start();
        player->play();
        spinUntil([&] { return player->currentTime() >= kWindowPlaySeconds; }, int(kWindowPlaySeconds * 1000) + 5000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const double used = benchsupport::cpuSeconds() - cpu;
        state.counters["cpu_seconds"] = used;
        state.counters["frames_rendered"] = double(player->renderedFrameCount() - framesBefore);
        state.counters["frames_painted"] = double(view.paintCount() - paintsBefore);
        state.counters["frames_dropped"] = double(player->droppedFrameCount());
        state.counters["seconds"] = seconds;
        const QSize rendered = player->currentFrame().size();
        state.counters["rendered_width"] = double(rendered.width());
        state.counters["rendered_height"] = double(rendered.height());
    }
}
BENCHMARK(BM_MovieView_Play10sIn1920x1080)->Arg(1080)->Arg(2160)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    platform::prepareAllocator();
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Player::setDefaultAudioOutput(QStringLiteral("null"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
