// The image loader: 2,000 stored previews loaded for 200-point tiles, re-ranking 10,000
// waiting loads after a scroll, the search for a 1080p movie without pictures (frame grab
// and store included), and the memory that 2,000 loaded previews take and give back (the
// resident size, which the allocator keeps for reuse, and the pictures' own bytes).
#include "BenchSupport.h"

#include "images/NSImage+PMImageFiles.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Memory.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QThread>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>

#include <unistd.h>

using platform::ImagePtr;
using Priority = platform::Operation::Priority;

namespace {

QString g_home;

PMMovieRepresentationImageLoader& loader()
{
    return PMMovieRepresentationImageLoader::defaultLoader();
}

void spinUntil(const std::function<bool()>& done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!done())
            QThread::usleep(200);
    }
}

ImagePtr still(int w, int h, int seed)
{
    QImage pixels(w, h, QImage::Format_RGB32);
    QPainter painter(&pixels);
    QLinearGradient gradient(0, 0, w, h);
    gradient.setColorAt(0, QColor::fromHsv(seed % 360, 200, 120));
    gradient.setColorAt(1, QColor::fromHsv((seed * 7) % 360, 160, 230));
    painter.fillRect(pixels.rect(), gradient);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(QRect((i * 97 + seed) % w, (i * 53) % h, 60, 40), QColor::fromHsv((i * 37 + seed) % 360, 200, 220));
    painter.end();
    return platform::Image::make(std::move(pixels));
}

// 2,000 records, each with a stored 1280 x 720 preview and its reduced copy.
std::vector<PMMovieRepresentationOriginalPtr>& recordsWithPreviews()
{
    static std::vector<PMMovieRepresentationOriginalPtr> records = [] {
        std::vector<PMMovieRepresentationOriginalPtr> made;
        const QString folder = PMMainController::mainController().posterImageDirectoryPath();
        const ImagePtr source = still(1280, 720, 1);
        const QByteArray full = JPEGRepresentationWithCompressionFactor(source, 0.9);
        const QByteArray reduced = underscoreImageJPEGRepresentation(source);
        QDir().mkpath(folder + QStringLiteral("/_"));
        for (int i = 0; i < 2000; ++i) {
            auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/bench/movie %1.mp4").arg(i));
            const QString id = record->uniqueLibraryID();
            QFile a(folder + QLatin1Char('/') + id + QStringLiteral(".jpg"));
            a.open(QIODevice::WriteOnly);
            a.write(full);
            QFile b(folder + QStringLiteral("/_/") + id + QStringLiteral(".jpg"));
            b.open(QIODevice::WriteOnly);
            b.write(reduced);
            made.push_back(record);
        }
        return made;
    }();
    return records;
}

int loadAll(const std::vector<PMMovieRepresentationOriginalPtr>& records, std::vector<ImagePtr>* kept = nullptr)
{
    auto answered = std::make_shared<int>(0);
    for (size_t i = 0; i < records.size(); ++i) {
        loader().loadCoverImageAndPosterImageForMovieRepresentation(*records[i], true, QSizeF(200, 113), QRectF(0, double(i) * 120, 200, 113),
                                                                    Priority::Normal, [answered, kept](const ImagePtr&, const ImagePtr& poster) {
                                                                        ++*answered;
                                                                        if (kept && poster)
                                                                            kept->push_back(poster);
                                                                    });
    }
    spinUntil([&] { return *answered >= int(records.size()); });
    return *answered;
}

void BM_Load2000StoredPreviewsFor200PointTiles(benchmark::State& state)
{
    auto& records = recordsWithPreviews();
    for (auto _ : state)
        benchmark::DoNotOptimize(loadAll(records));
    state.SetItemsProcessed(state.iterations() * qint64(records.size()));
}

void BM_ReRank10000WaitingLoads(benchmark::State& state)
{
    auto& queue = loader().loadQueue();
    queue.setSuspended(true);
    std::vector<platform::OperationPtr> ops;
    for (int i = 0; i < 10000; ++i) {
        auto op = std::make_shared<PMMovieRepresentationImageLoaderOperation>(QStringLiteral("ID %1").arg(i),
                                                                              QRectF((i % 8) * 210, (i / 8) * 130, 200, 120), [] {});
        op->setQueuePriority(i % 2 ? Priority::Low : Priority::Normal);
        queue.addOperation(op);
        ops.push_back(op);
    }
    double scroll = 0;
    for (auto _ : state) {
        scroll = std::fmod(scroll + 977, 1250 * 130);
        loader().updateLoadingPrioritiesWithVisibleRect(QRectF(0, scroll, 1700, 1000));
    }
    queue.cancelAllOperations();
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
}

QString movie1080p()
{
    static const QString path = [] {
        const QString p = g_home + QStringLiteral("/movie-1080p.mp4");
        QProcess::execute(QStringLiteral("ffmpeg"), {QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                                                    QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=s=1920x1080:r=25:d=20"),
                                                    QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("veryfast"),
                                                    QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), p});
        return p;
    }();
    return path;
}

void BM_SearchFor1080pMovieWithoutPictures(benchmark::State& state)
{
    const QString source = movie1080p();
    std::vector<PMMovieRepresentationOriginalPtr> records;
    bool found = true;
    for (auto _ : state) {
        state.PauseTiming();
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(source);
        records.push_back(record);
        state.ResumeTiming();
        bool answered = false;
        loader().loadCoverImageAndPosterImageForMovieRepresentation(*record, true, QSizeF(200, 113), QRectF(), Priority::Normal,
                                                                    [&](const ImagePtr&, const ImagePtr& poster) {
                                                                        answered = true;
                                                                        found = found && poster;
                                                                    });
        spinUntil([&] { return answered; });
        loader().waitForSaveQueue();
    }
    if (!found)
        state.SkipWithError("no preview was found");
}

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

void BM_MemoryOf2000LoadedPreviews(benchmark::State& state)
{
    auto& records = recordsWithPreviews();
    for (auto _ : state) {
        platform::releaseFreeMemory();
        const long before = residentKiB();
        std::vector<ImagePtr> kept;
        loadAll(records, &kept);
        const long loaded = residentKiB();
        double pictureBytes = 0;
        for (const ImagePtr& image : kept) {
            pictureBytes += double(image->pixels().sizeInBytes());
            if (const ImagePtr blurred = image->cachedBlurredImage())
                pictureBytes += double(blurred->pixels().sizeInBytes());
        }
        state.counters["pictures_MiB"] = pictureBytes / (1024.0 * 1024.0);
        kept.clear();
        platform::releaseFreeMemory();
        QCoreApplication::processEvents();
        const long after = residentKiB();
        state.counters["loaded_MiB"] = double(loaded - before) / 1024.0;
        state.counters["after_release_MiB"] = double(after - before) / 1024.0;
    }
}

} // namespace

BENCHMARK(BM_Load2000StoredPreviewsFor200PointTiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ReRank10000WaitingLoads)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchFor1080pMovieWithoutPictures)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_MemoryOf2000LoadedPreviews)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, [](const QString& home) { g_home = home; });
}
