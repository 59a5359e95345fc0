// Frames of a movie: 10 hover frames of a 2-minute 1080p H.264 clip grabbed and stored; a
// 16-frame index image of the same clip (bench_framegrab has ffmpeg doing the 16 seeks in
// one process beside it); difference hashes of stored 256-pixel previews (run it on one
// core: taskset -c 2); look-alike groups among 10,000 stored hashes.
//
// The clip is made on first run with ffmpeg into /tmp (PELLIS_BENCH_CLIP overrides), the
// same one bench_framegrab uses.
#include "BenchSupport.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMImageHash.h"
#include "images/PMIndexImage.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSearch.h"
#include "platform/Memory.h"
#include "platform/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtGui/QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string clipPath()
{
    return benchsupport::framegrabClipPath();
}

PMMovieRepresentationOriginalPtr clipRecord()
{
    static PMMovieRepresentationOriginalPtr record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QString::fromStdString(clipPath()));
    return record;
}

template <class Done>
void spin(Done done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

void BM_HoverFrames10_GrabbedAndStored(benchmark::State& state)
{
    auto record = clipRecord();
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    for (auto _ : state) {
        state.PauseTiming();
        loader.saveStandardIndexImageWrappers(nullptr, *record);
        loader.waitForSaveQueue();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        bool done = false;
        size_t count = 0;
        record->standardIndexImageWrappersWithCompletionHandler([&](std::optional<PMIndexImageWrappers> frames) {
            count = frames ? frames->size() : 0;
            done = true;
        });
        spin([&] { return done; });
        loader.waitForSaveQueue();
        if (count != 10)
            state.SkipWithError("not 10 frames");
    }
}

void BM_IndexImage16(benchmark::State& state)
{
    auto record = clipRecord();
    platform::DictionaryPtr settings = PMIndexImageView::defaultIndexImageSettings();
    settings->setValue(PMIndexImageSettingsKeys::numberOfImages, platform::Value(16));
    settings->setValue(PMIndexImageSettingsKeys::maximumNumberOfColumns, platform::Value(4));
    for (auto _ : state) {
        state.PauseTiming();
        setIndexImageSettings(*record, nullptr);
        state.ResumeTiming();
        bool done = false;
        platform::ImagePtr sheet;
        compositeIndexImageForMovieRepresentation(*record, settings, {}, [&](platform::ImagePtr s) {
            sheet = s;
            done = true;
        });
        spin([&] { return done; });
        if (!sheet)
            state.SkipWithError("no sheet");
    }
}

// Changing the layout of an index image whose frames are there: one drawing pass.
void BM_IndexImage16_Relayout(benchmark::State& state)
{
    auto record = clipRecord();
    platform::DictionaryPtr settings = PMIndexImageView::defaultIndexImageSettings();
    settings->setValue(PMIndexImageSettingsKeys::numberOfImages, platform::Value(16));
    bool done = false;
    setIndexImageSettings(*record, nullptr);
    compositeIndexImageForMovieRepresentation(*record, settings, {}, [&](platform::ImagePtr) { done = true; });
    spin([&] { return done; });
    long columns = 2;
    for (auto _ : state) {
        settings->setValue(PMIndexImageSettingsKeys::maximumNumberOfColumns, platform::Value(columns++ % 8 + 1));
        if (!compositeIndexImageForMovieRepresentation(*record, settings, {}, {}))
            state.SkipWithError("no sheet");
    }
}

QStringList previewFiles()
{
    static QTemporaryDir dir;
    static QStringList files = [] {
        QStringList made;
        for (int i = 0; i < 64; ++i) {
            // Pictures with structure (gradients and blocks), as previews have.
            QImage image(256, 144, QImage::Format_RGB32);
            QRandomGenerator random(quint32(i + 1));
            for (int y = 0; y < 144; ++y)
                for (int x = 0; x < 256; ++x)
                    image.setPixel(x, y, qRgb((x + i * 7) % 256, (y * 2 + ((x / 32 + y / 32 + i) % 3) * 60) % 256, int(random.bounded(40)) + 100));
            const QString path = dir.path() + QStringLiteral("/%1.jpg").arg(i);
            image.save(path, "JPEG", 85);
            made << path;
        }
        return made;
    }();
    return files;
}

// Read from disk and hashed, as the hash pass does for a record's hover frames.
void BM_DHash_StoredPreviews256(benchmark::State& state)
{
    const QStringList files = previewFiles();
    qsizetype i = 0;
    for (auto _ : state) {
        const platform::ImagePtr image = PMImageWithContentsOfFile(files[i++ % files.size()]);
        benchmark::DoNotOptimize(dHashWithResolution(image, 8));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DHash_PreviewsInMemory256(benchmark::State& state)
{
    std::vector<platform::ImagePtr> images;
    for (const QString& file : previewFiles())
        images.push_back(PMImageWithContentsOfFile(file));
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(dHashWithResolution(images[i++ % images.size()], 8));
    state.SetItemsProcessed(state.iterations());
}

// 10,000 records with stored hashes (1 in 20 shared with another record): read, grouped by
// equal hash, and each group split into sets that look alike, as the duplicate search does.
void BM_LookAlikeGroups10000(benchmark::State& state)
{
    std::vector<PMMovieRepresentationOriginalPtr> records;
    QRandomGenerator random(7);
    QString previous;
    for (int i = 0; i < 10000; ++i) {
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/bench/%1.jpg").arg(i));
        QByteArray bits(7, '\0');
        for (char& b : bits)
            b = char(random.bounded(256));
        const QString hash = (i % 20 == 1) ? previous : QString::fromLatin1(bits.toBase64());
        previous = hash;
        record->userSettings()->setValue(QStringLiteral("Image Hash 8"), platform::Value(hash));
        records.push_back(record);
    }
    size_t groups = 0;
    for (auto _ : state) {
        QHash<QString, std::vector<size_t>> byHash;
        byHash.reserve(qsizetype(records.size()));
        for (size_t i = 0; i < records.size(); ++i) {
            const QString hash = records[i]->imageHashWithResolution(8);
            if (!hash.isEmpty())
                byHash[hash].push_back(i);
        }
        groups = 0;
        for (const std::vector<size_t>& members : std::as_const(byHash)) {
            if (members.size() < 2)
                continue;
            groups += PMSimilarSets(members.size(), [](size_t, size_t) { return true; }).size();
        }
    }
    state.counters["groups"] = double(groups);
}

} // namespace

BENCHMARK(BM_HoverFrames10_GrabbedAndStored)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_IndexImage16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_IndexImage16_Relayout)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DHash_StoredPreviews256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DHash_PreviewsInMemory256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookAlikeGroups10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The time badges need fonts.
    return benchsupport::runBenchmarks<QGuiApplication>(argc, argv, [](const QString&) {
        platform::UserDefaults::standard().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
    });
}
