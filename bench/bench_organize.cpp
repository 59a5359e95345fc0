// Keeping the files in order. "Organise in place": the organiser over 10,000 movies in 100
// folders whose files already lie at their organised places (nothing moves; each record
// costs the path computation and a comparison). "Find new files": the search of a library
// folder of 100,000 files in 1,000 folders of which 100 are new, first with every folder
// read, then again with the folders' timestamps and nothing changed.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>

using platform::Value;

namespace {

QString gHome;

// 10,000 movies in 100 containers, each file at its organised place.
void buildOrganizedLibrary()
{
    static bool built = [] {
        PMMainController& c = mainController();
        c.resetForTesting();
        const QString library = gHome + QStringLiteral("/organised");
        platform::UserDefaults::standard().setObject(Value(library), QStringLiteral("Library Path"));
        PMLibraryContainerPtr section = c.pellisSourceStorageSection();
        for (int f = 0; f < 100; ++f) {
            const QString name = QStringLiteral("Folder %1").arg(f);
            QDir().mkpath(library + u'/' + name);
            auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), name}});
            for (int i = 0; i < 100; ++i) {
                const QString movieName = QStringLiteral("Movie %1").arg(f * 100 + i);
                const QString path = library + u'/' + name + u'/' + movieName + QStringLiteral(".mov");
                QFile(path).open(QIODevice::WriteOnly);
                auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
                m->userSettings()->setValue(QStringLiteral("Name"), movieName);
                folder->rawChildren()->append(Value(m));
            }
            section->rawChildren()->append(Value(folder));
        }
        c.invalidateLibraryDependencies();
        return true;
    }();
    (void)built;
}

void BM_OrganiseInPlace(benchmark::State& state)
{
    buildOrganizedLibrary();
    for (auto _ : state)
        if (mainController().organizeLibraryFiles())
            state.SkipWithError("something moved");
}
BENCHMARK(BM_OrganiseInPlace)->Unit(benchmark::kMillisecond);

// 100,000 files in 1,000 folders (10 at the top, 100 in each), 99,900 of them known.
void buildSearchedLibrary()
{
    static bool built = [] {
        PMMainController& c = mainController();
        c.resetForTesting();
        const QString library = gHome + QStringLiteral("/searched");
        platform::UserDefaults::standard().setObject(Value(library), QStringLiteral("Library Path"));
        PMLibraryContainerPtr section = c.pellisSourceStorageSection();
        int n = 0;
        for (int top = 0; top < 10; ++top)
            for (int sub = 0; sub < 100; ++sub) {
                const QString folderPath = library + QStringLiteral("/T%1/S%2").arg(top).arg(sub);
                QDir().mkpath(folderPath);
                auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("S%1").arg(sub)}});
                for (int i = 0; i < 100; ++i, ++n) {
                    const QString path = folderPath + QStringLiteral("/Movie %1.mov").arg(n);
                    QFile(path).open(QIODevice::WriteOnly);
                    if (n % 1000 == 999)
                        continue; // one new file in every tenth folder
                    folder->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(path)));
                }
                section->rawChildren()->append(Value(folder));
            }
        c.invalidateLibraryDependencies();
        return true;
    }();
    (void)built;
}

void BM_FindNewFiles(benchmark::State& state)
{
    buildSearchedLibrary();
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Check For Non-Library Files Via Top-Level Modification Date"));
    for (auto _ : state) {
        const QStringList found = mainController().nonLibraryFilesFromAllVolumes(true, nullptr);
        if (found.size() != 100)
            state.SkipWithError("not the 100 new files");
    }
}
BENCHMARK(BM_FindNewFiles)->Unit(benchmark::kMillisecond);

void BM_FindNewFilesAgainUnchanged(benchmark::State& state)
{
    buildSearchedLibrary();
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.setBool(true, QStringLiteral("Check For Non-Library Files Via Top-Level Modification Date"));
    defaults.removeObjectForKey(QStringLiteral("Library Check Timestamps"));
    if (mainController().nonLibraryFilesFromAllVolumes(true, nullptr).size() != 100)
        state.SkipWithError("not the 100 new files");
    for (auto _ : state) {
        const QStringList found = mainController().nonLibraryFilesFromAllVolumes(true, nullptr);
        if (!found.isEmpty())
            state.SkipWithError("found something in an unchanged library");
    }
    defaults.removeObjectForKey(QStringLiteral("Check For Non-Library Files Via Top-Level Modification Date"));
}
BENCHMARK(BM_FindNewFilesAgainUnchanged)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, [](const QString& home) { gHome = home; });
}
