// Loading and saving a library index of 100,000 movies end to end: reading and parsing the
// file, building the records and containers and the lookup tables (load); gathering the
// saved items, writing the binary property list and replacing the file (save). The
// resident memory after the first load of a fresh process (and its peak) is reported by
// `BM_FirstLoadOfAProcess`.
//
// The index is made once by a child process and kept in the temporary folder. The movies'
// (empty) files are made once too, in 100 folders beside it: the load tests every one of
// them, either where the index says or, with the folder holding them renamed, after
// looking for each by its bookmark.
#include "foundation/PMFunctions.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/PropertyList.h"
#include "platform/SaveFile.h"
#include "platform/UserDefaults.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kMovies = 100000;
constexpr int kFolders = 100;

QString gLibrary;

QString indexPath()
{
    return gLibrary + QStringLiteral("/Pellis.library/Pellis.2.libraryindex");
}

// The fixture, made by a child process the first time and kept for later runs.
QString fixturePath()
{
    return QDir::tempPath() + QStringLiteral("/pellis-bench-lifecycle-%1-3.libraryindex").arg(kMovies);
}

// Where the movies' files are, and where their folder is moved for a load that must
// find every one again.
QString filesPath()
{
    return QDir::tempPath() + QStringLiteral("/pellis-bench-lifecycle-files");
}

QString awayPath()
{
    return filesPath() + QStringLiteral("-away");
}

QString moviePath(int folder, int movie)
{
    return filesPath() + QStringLiteral("/Films %1/Movie %2.mov").arg(folder).arg(movie);
}

bool makeFiles()
{
    if (QFileInfo::exists(awayPath()) && !QFile::rename(awayPath(), filesPath()))
        return false;
    const QString done = filesPath() + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return true;
    for (int f = 0; f < kFolders; ++f) {
        if (!QDir().mkpath(filesPath() + QStringLiteral("/Films %1").arg(f)))
            return false;
        for (int i = f * (kMovies / kFolders); i < (f + 1) * (kMovies / kFolders); ++i) {
            QFile file(moviePath(f, i));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
    }
    QFile mark(done);
    return mark.open(QIODevice::WriteOnly);
}

void writeIndex(const QString& path)
{
    using platform::Value;
    auto folders = platform::Array::make();
    for (int f = 0; f < kFolders; ++f) {
        auto children = platform::Array::make();
        for (int i = f * (kMovies / kFolders); i < (f + 1) * (kMovies / kFolders); ++i) {
            auto tags = platform::Dictionary::make({{QStringLiteral("genre"), platform::Dictionary::make({{QStringLiteral("Value"), QStringLiteral("drama, comedy")}})}});
            auto settings = platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("Movie %1").arg(i)},
                                                        {QStringLiteral("Added Timestamp"), 1700000000.0 + i},
                                                        {QStringLiteral("Rating"), double(i % 6)},
                                                        {QStringLiteral("Duration"), i % 7200},
                                                        {QStringLiteral("Unique ID"), QStringLiteral("00000000-0000-0000-0000-%1").arg(i, 12, 10, QLatin1Char('0'))},
                                                        {QStringLiteral("Tags"), Value(tags)}});
            // As the program saves a file it found: with a bookmark of it.
            children->append(Value(platform::Dictionary::make({{QStringLiteral("Path"), moviePath(f, i)},
                                                               {QStringLiteral("Bookmark"), PMBookmarkDataFromPath(moviePath(f, i))},
                                                               {QStringLiteral("User Settings"), Value(settings)}})));
        }
        folders->append(Value(platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("Folder %1").arg(f)},
                                                          {QStringLiteral("Unique ID"), QStringLiteral("F-%1").arg(f)},
                                                          {QStringLiteral("Children"), Value(children)}})));
    }
    auto section = platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("Movies")}, {QStringLiteral("Library Section"), QStringLiteral("Movies")},
                                               {QStringLiteral("Unique ID"), QStringLiteral("S-1")}, {QStringLiteral("Children"), Value(folders)}});
    auto library = platform::Array::make({Value(platform::Dictionary::make({{QStringLiteral("Top Level"), QStringLiteral("Library")},
                                                                            {QStringLiteral("Unique ID"), QStringLiteral("T-1")},
                                                                            {QStringLiteral("Children"), platform::Array::make({Value(section)})}}))});
    auto index = platform::Dictionary::make({{QStringLiteral("Library"), Value(library)}, {QStringLiteral("Version"), QStringLiteral("2")}});
    platform::saveFile(path, platform::writeBinaryPropertyList(Value(index)));
}

// Copies the fixture into the library folder, making it first in a child process when
// it is not there yet.
bool installIndex()
{
    if (!QFileInfo::exists(fixturePath())) {
        const int code = QProcess::execute(QCoreApplication::applicationFilePath(), {QStringLiteral("--write-fixture"), fixturePath()});
        if (code != 0 || !QFileInfo::exists(fixturePath())) {
            std::fprintf(stderr, "cannot make the fixture %s\n", qPrintable(fixturePath()));
            return false;
        }
    }
    QDir().mkpath(gLibrary + QStringLiteral("/Pellis.library"));
    QFile::remove(indexPath());
    return QFile::copy(fixturePath(), indexPath());
}

// "VmRSS" (now) or "VmHWM" (peak) of this process, in megabytes.
double residentMegabytes(const char* field = "VmRSS")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Argument 1: the files are where the index says; 0: their folder was renamed.
void BM_LoadLibrary(benchmark::State& state)
{
    const bool present = state.range(0) == 1;
    if (!makeFiles() || (!present && !QFile::rename(filesPath(), awayPath()))) {
        state.SkipWithError("cannot make or move the movie files");
        return;
    }
    // A load in a program that has loaded before (another library chosen, or the same
    // one again): the first load of a process is `BM_FirstLoadOfAProcess`.
    mainController().resetForTesting();
    mainController().loadLibrary();
    for (auto _ : state) {
        // Letting go of the library of the previous round is no part of a load.
        state.PauseTiming();
        mainController().resetForTesting();
        // As in a program that starts: the first rebuild tests every file.
        mainController()._skipMissingStatusUpdate = false;
        state.ResumeTiming();
        mainController().loadLibrary();
        benchmark::DoNotOptimize(mainController()._nonProxyRawMovieRepresentationsByID.size());
    }
    if (!present)
        QFile::rename(awayPath(), filesPath());
    qsizetype missing = 0;
    for (const auto& movie : std::as_const(mainController()._nonProxyRawMovieRepresentationsByID))
        missing += movie->isMissing() ? 1 : 0;
    state.counters["movies"] = double(mainController()._nonProxyRawMovieRepresentationsByID.size());
    state.counters["missing"] = double(missing);
}
BENCHMARK(BM_LoadLibrary)->ArgName("present")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The load as a program that starts does it: the first thing a fresh process does, its
// heap still to be taken from the system page by page. Each round is a process of its own
// (`--load-once`), which reports its time and its resident memory after loading.
void BM_FirstLoadOfAProcess(benchmark::State& state)
{
    if (!makeFiles()) {
        state.SkipWithError("cannot make the movie files");
        return;
    }
    double resident = 0, peak = 0;
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--load-once"), gLibrary});
        if (!child.waitForFinished(600000) || child.exitCode() != 0) {
            state.SkipWithError("the loading process failed");
            return;
        }
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        state.SetIterationTime(figures.value(0).toDouble() / 1000.0);
        resident = std::max(resident, figures.value(1).toDouble());
        peak = std::max(peak, figures.value(2).toDouble());
    }
    state.counters["resident MB"] = resident;
    state.counters["peak MB"] = peak;
}
BENCHMARK(BM_FirstLoadOfAProcess)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

// The share of the load that is reading and parsing the file alone.
void BM_ParseIndex(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::readPropertyListFile(indexPath()).ok());
}
BENCHMARK(BM_ParseIndex)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A fixed piece of work of the same kinds as a load (file-system calls, scattered reads
// of memory, pages new to the process), to tell how fast the machine was when the figures
// above were taken: this shared machine's speed varies from one minute to the next.
void BM_MachineReference(benchmark::State& state)
{
    constexpr size_t kWords = size_t(32) << 20; // 128 MB
    if (!makeFiles()) {
        state.SkipWithError("cannot make the movie files");
        return;
    }
    for (auto _ : state) {
        struct stat st;
        int found = 0;
        for (int i = 0; i < 20000; ++i)
            found += ::lstat(qPrintable(moviePath(i / 1000, i)), &st) == 0 ? 1 : 0;
        // New pages straight from the system, in 4 KB pages whatever the allocator does,
        // so that the reference stays comparable from one build to the next.
        void* mapped = ::mmap(nullptr, kWords * sizeof(quint32), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            state.SkipWithError("cannot map memory");
            return;
        }
        ::madvise(mapped, kWords * sizeof(quint32), MADV_NOHUGEPAGE);
        quint32* words = static_cast<quint32*>(mapped);
        std::memset(words, 0, kWords * sizeof(quint32));
        quint64 sum = 0, at = 1;
        for (size_t i = 0; i < kWords / 8; ++i) {
            at = (at * 6364136223846793005ull + 1442695040888963407ull);
            sum += words[(at >> 20) & (kWords - 1)]++;
        }
        benchmark::DoNotOptimize(sum + quint64(found));
        ::munmap(mapped, kWords * sizeof(quint32));
    }
}
BENCHMARK(BM_MachineReference)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_SaveLibrary(benchmark::State& state)
{
    mainController().resetForTesting();
    mainController()._skipMissingStatusUpdate = false;
    mainController().loadLibrary();
    for (auto _ : state)
        benchmark::DoNotOptimize(mainController().saveLibrary());
    state.counters["bytes"] = double(QFile(indexPath()).size());
}
BENCHMARK(BM_SaveLibrary)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-fixture") == 0) {
        QCoreApplication app(argc, argv);
        if (!makeFiles())
            return 1;
        writeIndex(QString::fromLocal8Bit(argv[2]));
        return QFileInfo::exists(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--load-once") == 0) {
        platform::prepareAllocator();
        QCoreApplication app(argc, argv);
        gLibrary = QString::fromLocal8Bit(argv[2]);
        platform::UserDefaults::standard().setObject(platform::Value(gLibrary), QStringLiteral("Library Path"));
        PMMainController& controller = mainController();
        controller._skipMissingStatusUpdate = false;
        QElapsedTimer timer;
        timer.start();
        controller.loadLibrary();
        const double milliseconds = double(timer.nsecsElapsed()) / 1e6;
        std::printf("%.1f %.1f %.1f\n", milliseconds, residentMegabytes(), residentMegabytes("VmHWM"));
        return controller._nonProxyRawMovieRepresentationsByID.size() == kMovies ? 0 : 1;
    }
    return benchsupport::runBenchmarks(argc, argv, [](const QString& home) {
        gLibrary = home + QStringLiteral("/Library");
        platform::UserDefaults::standard().setObject(platform::Value(gLibrary), QStringLiteral("Library Path"));
        if (!installIndex())
            std::exit(1);
    });
}
