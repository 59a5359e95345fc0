// The blacklist at scale: a walk of 10,000 files in 100 folders against 6,000 entries
// (5,990 paths the program added, 10 wildcard patterns a user wrote), and adding 3,000
// paths to a blacklist that holds 3,000.
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMainController.h"
#include "platform/UserDefaults.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QUrl>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;

struct Tree {
    QTemporaryDir dir;
    QString root;
};

Tree& tree()
{
    static Tree* shared = [] {
        auto* t = new Tree;
        t->root = t->dir.path() + QStringLiteral("/Movies");
        for (int f = 0; f < kFolders; ++f) {
            const QString folder = t->root + QStringLiteral("/Folder %1").arg(f);
            QDir().mkpath(folder);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                QFile file(folder + QStringLiteral("/Movie %1.mov").arg(i));
                file.open(QIODevice::WriteOnly);
            }
        }
        return t;
    }();
    return *shared;
}

// 6,000 entries: every third file of the tree by its path (3,333), the rest paths
// elsewhere, and ten patterns.
void storeBlacklist(const QString& root)
{
    auto list = platform::Array::make();
    int n = 0;
    for (int f = 0; f < kFolders && n < 3333; ++f)
        for (int i = 0; i < kFilesPerFolder && n < 3333; i += 3, ++n)
            list->append(blacklistEntryForPath(root + QStringLiteral("/Folder %1/Movie %2.mov").arg(f).arg(i)));
    while (list->count() < 5990)
        list->append(blacklistEntryForPath(QStringLiteral("/media/elsewhere/Clip %1.mp4").arg(list->count())));
    for (int p = 0; p < 10; ++p)
        list->append(QStringLiteral("*/Never %1/*.tmp").arg(p));
    platform::UserDefaults::standard().setObject(platform::Value(list), QStringLiteral("Blacklist"));
}

void BM_BlacklistWalk10000Files6000Entries(benchmark::State& state)
{
    Tree& t = tree();
    storeBlacklist(t.root);
    qsizetype found = 0;
    for (auto _ : state) {
        QList<QUrl> urls;
        addMovieURLsFromPaths(urls, {t.root}, QString(), nullptr, nullptr);
        found = urls.size();
    }
    state.counters["files"] = double(found); // 10,000 less the 3,333 blacklisted
}
BENCHMARK(BM_BlacklistWalk10000Files6000Entries)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlacklistAdd3000PathsTo3000(benchmark::State& state)
{
    PMMainController& c = mainController();
    QStringList first, second;
    for (int i = 0; i < 3000; ++i) {
        first << QStringLiteral("/media/first/Movie %1.mov").arg(i);
        second << QStringLiteral("/media/second/Movie %1.mov").arg(i);
    }
    for (auto _ : state) {
        state.PauseTiming();
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Blacklist"));
        c.addBlacklistPaths(first);
        state.ResumeTiming();
        c.addBlacklistPaths(second);
    }
}
BENCHMARK(BM_BlacklistAdd3000PathsTo3000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
