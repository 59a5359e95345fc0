// Images: the transform of a 4K frame into a tile, blurs at small and large radii, storing
// a cover with its reduced copy, reading reduced copies back, the difference hash of a
// 1080p JPEG, and a 150-frame 720p GIF: its first frame as the player shows it at once,
// its frames within the cap (the worker's part), and all frames at full size.
#include "BenchSupport.h"

#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMImageHash.h"
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "platform/ImageReading.h"
#include "images/NSImage+PMBlurredImages.h"

#include <QtCore/QProcess>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QUuid>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>

using platform::Image;
using platform::ImagePtr;

namespace {

QString g_home;

ImagePtr frame(int w, int h)
{
    QImage pixels(w, h, QImage::Format_RGB32);
    QPainter painter(&pixels);
    QLinearGradient gradient(0, 0, w, h);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(0.5, Qt::yellow);
    gradient.setColorAt(1, Qt::darkRed);
    painter.fillRect(pixels.rect(), gradient);
    for (int i = 0; i < 200; ++i)
        painter.fillRect(QRect((i * 97) % w, (i * 53) % h, 40, 30), QColor::fromHsv((i * 37) % 360, 200, 220));
    painter.end();
    return Image::make(std::move(pixels));
}

void BM_TransformFrameToTileAtDPR2(benchmark::State& state)
{
    const ImagePtr source = frame(3840, 2160);
    PMSetLargestBackingScaleFactor(2.0);
    for (auto _ : state) {
        const ImagePtr tile = imageWithImage(source, false, 0, nullptr, {}, QSizeF(400, 225), false);
        benchmark::DoNotOptimize(tile.get());
    }
    PMSetLargestBackingScaleFactor(1.0);
}

void BM_Blur1000x600(benchmark::State& state)
{
    const ImagePtr source = frame(1000, 600);
    const double radius = double(state.range(0));
    for (auto _ : state) {
        const ImagePtr blurred = blurredImageWithImage(source, radius, 1.0, QColor(), nullptr);
        benchmark::DoNotOptimize(blurred.get());
    }
}

void BM_StoreCoverWithReducedCopy(benchmark::State& state)
{
    const QString folder = g_home + QStringLiteral("/Cover Images");
    QDir().mkpath(folder + QStringLiteral("/_"));
    const ImagePtr cover = frame(1000, 1500);
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    for (auto _ : state) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        bool done = false;
        loader.saveImage(cover, true, folder, id, false, nullptr, [&](bool) { done = true; });
        loader.saveUnderscoreCoverImageJPEGRepresentation(underscoreImageJPEGRepresentation(cover), folder + QStringLiteral("/_/") + id, id,
                                                          loader.imageGeneration(true, id));
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        loader.waitForSaveQueue();
    }
}

void BM_Read1000ReducedCopies(benchmark::State& state)
{
    const QString folder = g_home + QStringLiteral("/Preview Images/_");
    QDir().mkpath(folder);
    QStringList paths;
    const QByteArray data = underscoreImageJPEGRepresentation(frame(1920, 1080));
    for (int i = 0; i < 1000; ++i) {
        const QString path = folder + QStringLiteral("/%1.jpg").arg(i);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        paths << path;
    }
    const QSize fit(int(state.range(0)), int(state.range(0)));
    for (auto _ : state)
        for (const QString& path : paths) {
            const ImagePtr image = PMImageWithContentsOfFile(path, fit);
            benchmark::DoNotOptimize(image.get());
        }
    state.counters["copies/s"] = benchmark::Counter(double(state.iterations()) * 1000.0, benchmark::Counter::kIsRate);
}

// Argument 0: the file read whole and hashed (as the hash pass did); 1: read reduced.
void BM_DHashOf1080pJPEG(benchmark::State& state)
{
    const QString path = g_home + QStringLiteral("/hash.jpg");
    if (!QFile::exists(path))
        frame(1920, 1080)->pixels().save(path, "JPEG", 90);
    const bool reduced = state.range(0) == 1;
    for (auto _ : state) {
        QString hash;
        if (reduced) {
            hash = dHashOfImageFile(path, 8);
        } else if (const ImagePtr image = Image::imageWithContentsOfFile(path)) {
            hash = dHashWithResolution(image, 8);
        }
        if (hash.isEmpty())
            state.SkipWithError("no hash");
        benchmark::DoNotOptimize(hash);
    }
    state.SetLabel(reduced ? "read reduced" : "read whole");
}

QString animationFile()
{
    const QString path = g_home + QStringLiteral("/animation.gif");
    if (!QFile::exists(path))
        QProcess::execute(QStringLiteral("ffmpeg"), {QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                                                     QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=1280x720:rate=10"),
                                                     QStringLiteral("-frames:v"), QStringLiteral("150"), path});
    return path;
}

// Argument 0: the first frame as the player shows it at once (fitted into 200 x 200);
// 1: every frame within the 96 MB cap (the worker's part); 2: the duration measured in the
// background, every frame decoded at full size and none kept. (Kept at full size, the
// frames would take 553 MB, above the cap of any animation.)
void BM_AnimatedGIF150Frames720p(benchmark::State& state)
{
    const QString path = animationFile();
    const int mode = int(state.range(0));
    for (auto _ : state) {
        bool ok = false;
        if (mode == 0) {
            platform::ImageReadOptions options;
            options.autoTransform = true;
            options.fitInto = QSize(200, 200);
            ok = !platform::readImageFile(path, options).isNull();
        } else if (mode == 1) {
            const auto source = platform::AnimatedImageSource::open(path, nullptr, kPMMaximumAnimationFrameBytes);
            ok = source && source->count() == 150;
        } else {
            int count = 0;
            ok = platform::AnimatedImageSource::measure(path, &count, nullptr) && count == 150;
        }
        if (!ok)
            state.SkipWithError("cannot read the animation");
    }
    state.SetLabel(mode == 0 ? "first frame" : mode == 1 ? "frames within the cap" : "duration measured");
}

} // namespace

BENCHMARK(BM_TransformFrameToTileAtDPR2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur1000x600)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreCoverWithReducedCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
// The tile size to fit into: 240 decodes at half scale, 0 at full size.
BENCHMARK(BM_Read1000ReducedCopies)->Arg(240)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DHashOf1080pJPEG)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimatedGIF150Frames720p)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, [](const QString& home) { g_home = home; });
}
