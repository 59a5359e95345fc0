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
#include "ui/images/PMIndexImageView.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSearch.h"
#include "platform/Memory.h"
#include "platform/UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>

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
    platform::DictionaryPtr settings = PMIndexImageViewSettings::defaultIndexImageSettings();
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
    platform::DictionaryPtr settings = PMIndexImageViewSettings::defaultIndexImageSettings();
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

// The index image window: from typing "16" into its frames field (then "Update", so the
// quiet second before a rebuild is left out) to the sheet shown, each time from a record
// without frames.
void BM_IndexImageWindow16_ChangeToShownSheet(benchmark::State& state)
{
    auto record = clipRecord();
    std::unique_ptr<QWidget> window(PMIndexImageView::buildWindow(nullptr));
    auto* view = window->findChild<PMIndexImageView*>();
    platform::DictionaryPtr settings = PMIndexImageView::indexImageSettings();
    settings->setValue(PMIndexImageSettingsKeys::numberOfImages, platform::Value(15));
    settings->setValue(PMIndexImageSettingsKeys::maximumNumberOfColumns, platform::Value(4));
    view->awakeFromNib();
    window->show();
    for (auto _ : state) {
        state.PauseTiming();
        view->setMovieRepresentation(nullptr);
        settings->setValue(PMIndexImageSettingsKeys::numberOfImages, platform::Value(15));
        view->setMovieRepresentation(record.get());
        view->_numberOfFramesField->setText(QStringLiteral("1"));
        QCoreApplication::processEvents();
        state.ResumeTiming();
        view->_numberOfFramesField->setText(QStringLiteral("16"));
        view->controlTextDidChange(view->_numberOfFramesField);
        view->save(view->_saveButton);
        spin([&] { return view->image() && indexImageWrappers(view->image()).size() == 16; });
        QCoreApplication::processEvents();
    }
    view->setMovieRepresentation(nullptr);
}

// ffmpeg making a 16-frame sheet with its tile filter in one process: 16 inputs, each
// seeking to its time, each frame scaled to 200 points wide, tiled 4 × 4 and written as PNG.
void BM_FFmpegCommand_TileSheet16(benchmark::State& state)
{
    const std::string clip = clipPath();
    const double duration = 120.0;
    std::string command = "ffmpeg -v error -y";
    std::string graph;
    std::string inputs;
    for (int i = 1; i <= 16; ++i) {
        char at[32];
        std::snprintf(at, sizeof at, "%.3f", duration * i / 17.0);
        command += std::string(" -ss ") + at + " -i '" + clip + "'";
        graph += "[" + std::to_string(i - 1) + ":v]trim=end_frame=1,setpts=N/TB,scale=200:-2[f" + std::to_string(i) + "];";
        inputs += "[f" + std::to_string(i) + "]";
    }
    graph += inputs + "concat=n=16:v=1:a=0,tile=4x4:padding=10:margin=10:color=white";
    const QString out = QDir::tempPath() + QStringLiteral("/pellis-bench-tile-%1.png").arg(QCoreApplication::applicationPid());
    command += " -filter_complex '" + graph + "' -frames:v 1 '" + out.toStdString() + "' 2>/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
    QFile::remove(out);
}

// 64 JPEG pictures of the given width (16:9), with structure (gradients and blocks) as
// previews and stills have.
QStringList previewFiles(int width = 256)
{
    static QTemporaryDir dir;
    static QHash<int, QStringList> byWidth;
    QStringList& made = byWidth[width];
    if (!made.isEmpty())
        return made;
    const int height = width * 9 / 16;
    for (int i = 0; i < 64; ++i) {
        QImage image(width, height, QImage::Format_RGB32);
        QRandomGenerator random(quint32(i + 1));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, qRgb((x + i * 7) % 256, (y * 2 + ((x / 32 + y / 32 + i) % 3) * 60) % 256, int(random.bounded(40)) + 100));
        const QString path = dir.path() + QStringLiteral("/%1-%2.jpg").arg(width).arg(i);
        image.save(path, "JPEG", 85);
        made << path;
    }
    return made;
}

// Read from disk and hashed, as the hash pass does for a record's hover frames (256 pixels
// wide) and for stills (other widths). First argument 0: the picture read whole and hashed;
// 1: through the hash of a file, which reads large pictures reduced and small ones as they
// are. Second argument: the pictures' width.
void BM_DHash_StoredPreviews256(benchmark::State& state)
{
    const QStringList files = previewFiles(int(state.range(1)));
    const bool ofFile = state.range(0) == 1;
    qsizetype i = 0;
    for (auto _ : state) {
        const QString& file = files[i++ % files.size()];
        if (ofFile) {
            benchmark::DoNotOptimize(dHashOfImageFile(file, 8));
        } else {
            const platform::ImagePtr image = PMImageWithContentsOfFile(file);
            benchmark::DoNotOptimize(dHashWithResolution(image, 8));
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(ofFile ? "hash of the file" : "read whole");
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
BENCHMARK(BM_IndexImageWindow16_ChangeToShownSheet)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_FFmpegCommand_TileSheet16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DHash_StoredPreviews256)->ArgsProduct({{0, 1}, {160, 256, 320, 480, 640, 1280}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DHash_PreviewsInMemory256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookAlikeGroups10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The time badges need fonts, the index image window widgets.
    return benchsupport::runBenchmarks<QApplication>(argc, argv, [](const QString&) {
        platform::UserDefaults::standard().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
    });
}
