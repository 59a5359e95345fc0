// A full library update of 100,000 movies with tags in 100 folders, beside 50 static
// playlists of 200 movies each in the smart-group storage: the rebuild of every derived
// table, the tag types and the playlists, and the refresh of the interface hooks.
// "Skipping missing test" is the usual update (files were tested on an earlier one);
// "With missing test" tests every file again (after a volume change or a forced request),
// on a library whose files all exist.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>

using platform::Array;
using platform::Value;

namespace {

constexpr int kMovies = 100000;
constexpr int kFolders = 100;
constexpr int kPlaylists = 50;
constexpr int kPlaylistLength = 200;

QString gFiles;

void buildLibrary()
{
    static bool built = [] {
        PMMainController& c = mainController();
        c.resetForTesting();
        const char* genres[] = {"Drama", "Comedy", "Action", "Horror", "Documentary", "Family", "Travel", "Music"};
        QRandomGenerator random(7);
        PMLibraryContainerPtr section = c.pellisSourceStorageSection();
        std::vector<QString> ids;
        ids.reserve(kMovies);
        for (int f = 0; f < kFolders; ++f) {
            const QString folderPath = gFiles + QStringLiteral("/%1").arg(f);
            QDir().mkpath(folderPath);
            auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Folder %1").arg(f)}});
            for (int i = f * (kMovies / kFolders); i < (f + 1) * (kMovies / kFolders); ++i) {
                const QString path = folderPath + QStringLiteral("/Movie %1.mov").arg(i);
                QFile(path).open(QIODevice::WriteOnly);
                auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
                m->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Movie %1").arg(i));
                m->setValue(QString::fromUtf8(genres[random.bounded(8)]) + QStringLiteral(", ") + QString::fromUtf8(genres[random.bounded(8)]),
                            QStringLiteral("Genre"));
                m->setValue(QString::number(1950 + random.bounded(75)), QStringLiteral("Year"));
                m->setValue(QStringLiteral("Person %1, Person %2").arg(random.bounded(5000)).arg(random.bounded(5000)), QStringLiteral("Cast"));
                folder->rawChildren()->append(Value(m));
                ids.push_back(m->uniqueLibraryID());
            }
            section->rawChildren()->append(Value(folder));
        }
        for (int p = 0; p < kPlaylists; ++p) {
            auto playlist = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Playlist %1").arg(p)}});
            auto proxies = Array::make();
            for (int i = 0; i < kPlaylistLength; ++i)
                proxies->append(Value(ids[size_t(random.bounded(kMovies))]));
            playlist->setValue(QStringLiteral("Static Proxies"), Value(proxies));
            c.smartGroupStorage()->rawChildren()->append(Value(playlist));
        }
        c.updateLibrary(); // the first update tests every file
        return true;
    }();
    (void)built;
}

// Argument 0: nothing changed since the last update; 1: the same, testing every file;
// 2: one movie's tags changed; 3: a movie was added to (or taken out of) a folder.
void BM_UpdateLibrary(benchmark::State& state)
{
    buildLibrary();
    const long long mode = state.range(0);
    PMMainController& c = mainController();
    PMLibraryContainer* folder = PMContainer(c.pellisSourceStorageSection()->rawChildren()->at(0));
    auto added = PMMovieRepresentationOriginal::movieRepresentationWithPath(gFiles + QStringLiteral("/0/Added.mov"));
    qint64 n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (mode == 2)
            PMMovie(folder->rawChildren()->at(0))->setValue(QStringLiteral("Person %1").arg(++n % 5000), QStringLiteral("Cast"));
        if (mode == 3) {
            if (++n % 2)
                folder->rawChildren()->append(Value(added));
            else
                folder->rawChildren()->removeAt(folder->rawChildren()->count() - 1);
        }
        state.ResumeTiming();
        if (mode == 1)
            c._skipMissingStatusUpdate = false;
        c.updateLibrary();
    }
    if (mode == 3 && n % 2)
        folder->rawChildren()->removeAt(folder->rawChildren()->count() - 1);
    state.counters["movies"] = double(c._nonProxyFilteredMovieRepresentations->count());
    state.counters["playlists"] = kPlaylists;
    const char* labels[] = {"unchanged, skipping missing test", "unchanged, with missing test", "after a tag change", "after adding or removing a movie"};
    state.SetLabel(labels[mode]);
}
BENCHMARK(BM_UpdateLibrary)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The movie files are made in memory where that is possible: 100,000 empty files on a
    // disk take minutes to make.
    static QTemporaryDir memoryFiles(QStringLiteral("/dev/shm/pellis-bench-XXXXXX"));
    return benchsupport::runBenchmarks(argc, argv, [](const QString& home) {
        gFiles = (memoryFiles.isValid() ? memoryFiles.path() : home) + QStringLiteral("/Movies");
    });
}
