// Names and batches. "Batch rename preview": the new names of 10,000 panel movies composed
// from a template of three references (two tags and the position), as the info panel
// recomputes them while the user types. "CSV export": the metadata text of 100,000 movies
// with three tags; the figure that counts is the bytes of output a second. The first run also
// asks the file system for every movie's creation date, which the records then keep.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>

using platform::Value;

namespace {

platform::ArrayPtr makeMovies(int count)
{
    auto movies = platform::Array::make();
    for (int i = 0; i < count; ++i) {
        // Files in 100 folders of the library folder in the home folder, as in a real library;
        // every tenth name needs quotes.
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(
            QDir::homePath() + QStringLiteral("/Movies/Pellis Library/Collection %1/A Movie Title %2.mp4").arg(i % 100).arg(i));
        m->userSettings()->setValue(QStringLiteral("Name"), i % 10 ? QStringLiteral("A Movie Title %1").arg(i) : QStringLiteral("Movie, \"%1\"").arg(i));
        m->setValue(QStringLiteral("Artist %1").arg(i % 97), QStringLiteral("Artist"));
        m->setValue(QStringLiteral("%1").arg(1950 + i % 70), QStringLiteral("Year"));
        m->setValue(QStringLiteral("Drama, Crime"), QStringLiteral("Genre"));
        m->setRating(i % 6);
        m->setAdditionDate(platform::Date{1.6e9 + i * 3600.0});
        movies->append(Value(m));
    }
    return movies;
}

void BM_BatchRenamePreview(benchmark::State& state)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c._infoMovieRepresentations = makeMovies(10000);
    c._infoTags = platform::Array::make();
    c._infoBatchRenameFields = PMMainController::BatchRenameFields();
    c._infoBatchRenameFields.mode = 6;
    c._infoBatchRenameFields.composeText = QStringLiteral("<?meta:Artist?> - <?meta:Year?> (<?meta:index?>)");
    for (auto _ : state) {
        // Every keystroke changes the template, so the decoding cache does not help.
        c._infoDecodedMetaReferenceCache.clear();
        benchmark::DoNotOptimize(c.updateBatchRenameNamesAndPerformRenaming(false, nullptr));
    }
    c._infoMovieRepresentations.reset();
}
BENCHMARK(BM_BatchRenamePreview)->Unit(benchmark::kMillisecond);

void BM_ExportMetadataCSV(benchmark::State& state)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    const platform::ArrayPtr movies = makeMovies(100000);
    PMLibraryContainerPtr section = c.pellisSourceStorageSection();
    for (const Value& m : *movies)
        section->rawChildren()->append(m);
    c.invalidateLibraryDependencies();
    c.updateLibrary();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const QByteArray text = c.metadataCSVForMovieRepresentations(movies).toUtf8();
        bytes += text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ExportMetadataCSV)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
