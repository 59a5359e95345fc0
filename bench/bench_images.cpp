// Images: the transform of a 4K frame into a tile, blurs at small and large radii, storing
// a cover with its reduced copy, and reading reduced copies back.
#include "BenchSupport.h"

#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "ui/kit/NSImage+PMBlurredImages.h"

#include <QtCore/QDir>
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

} // namespace

BENCHMARK(BM_TransformFrameToTileAtDPR2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur1000x600)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreCoverWithReducedCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
// The tile size to fit into: 240 decodes at half scale, 0 at full size.
BENCHMARK(BM_Read1000ReducedCopies)->Arg(240)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, [](const QString& home) { g_home = home; });
}
