// File services: finding a moved file by its bookmark in a large tree, giving up on a
// deleted one, parsing a large mount table, and a cross-device style copy with its flush.
#include "platform/Bookmark.h"
#include "platform/FileOperations.h"
#include "platform/Volumes.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <optional>
#include <vector>

namespace {

// A tree of `folders` folders of `files` files each.
QString makeTree(QTemporaryDir& dir, int folders, int files)
{
    for (int f = 0; f < folders; ++f) {
        const QString folder = dir.path() + QStringLiteral("/Movies/Folder %1").arg(f);
        QDir().mkpath(folder);
        for (int i = 0; i < files; ++i) {
            QFile file(folder + QStringLiteral("/Movie %1.mov").arg(i));
            file.open(QIODevice::WriteOnly);
        }
    }
    return dir.path();
}

void BM_BookmarkFindsMovedFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString root = makeTree(dir, 100, 200); // 20,000 files
    const QString original = root + QStringLiteral("/Movies/Folder 3/Movie 7.mov");
    platform::Bookmark b;
    platform::createBookmark(original, &b);
    QFile::rename(original, root + QStringLiteral("/Movies/Folder 97/Moved.mov"));
    for (auto _ : state) {
        QString path;
        benchmark::DoNotOptimize(platform::resolveBookmark(b, &path));
    }
}
BENCHMARK(BM_BookmarkFindsMovedFile)->Unit(benchmark::kMillisecond);

void BM_BookmarkGivesUpOnDeletedFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString root = makeTree(dir, 100, 200);
    const QString original = root + QStringLiteral("/Movies/Folder 3/Movie 7.mov");
    platform::Bookmark b;
    platform::createBookmark(original, &b);
    QFile::remove(original);
    for (auto _ : state) {
        QString path;
        benchmark::DoNotOptimize(platform::resolveBookmark(b, &path));
    }
}
BENCHMARK(BM_BookmarkGivesUpOnDeletedFile)->Unit(benchmark::kMillisecond);

// 10,000 bookmarked files in 10 folders whose top folder was renamed, as a library load
// finds them: resolved one after the other, with or without a shared search session.
struct MovedLibrary {
    QTemporaryDir dir;
    std::vector<platform::Bookmark> bookmarks;
    MovedLibrary()
    {
        makeTree(dir, 10, 1000);
        for (int f = 0; f < 10; ++f)
            for (int i = 0; i < 1000; ++i) {
                platform::Bookmark b;
                platform::createBookmark(dir.path() + QStringLiteral("/Movies/Folder %1/Movie %2.mov").arg(f).arg(i), &b);
                bookmarks.push_back(b);
            }
        QDir().rename(dir.path() + QStringLiteral("/Movies"), dir.path() + QStringLiteral("/Films"));
    }
};

void resolveMoved(benchmark::State& state, bool inSession)
{
    static MovedLibrary library;
    const size_t count = size_t(state.range(0));
    for (auto _ : state) {
        std::optional<platform::BookmarkSearchSession> session;
        if (inSession)
            session.emplace();
        int found = 0;
        for (size_t i = 0; i < count; ++i) {
            // Spread over all the folders, as a library lists them.
            QString path;
            found += platform::resolveBookmark(library.bookmarks[i * library.bookmarks.size() / count], &path);
        }
        if (found != int(count))
            state.SkipWithError("a moved file was not found");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BookmarksOfMovedFolderInSession(benchmark::State& state)
{
    resolveMoved(state, true);
}
BENCHMARK(BM_BookmarksOfMovedFolderInSession)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BookmarksOfMovedFolderAlone(benchmark::State& state)
{
    resolveMoved(state, false);
}
BENCHMARK(BM_BookmarksOfMovedFolderAlone)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_CreateBookmark(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = makeTree(dir, 1, 1) + QStringLiteral("/Movies/Folder 0/Movie 0.mov");
    for (auto _ : state) {
        platform::Bookmark b;
        benchmark::DoNotOptimize(platform::createBookmark(path, &b));
    }
}
BENCHMARK(BM_CreateBookmark)->Unit(benchmark::kMicrosecond);

void BM_ParseMountInfo(benchmark::State& state)
{
    QByteArray table;
    for (int i = 0; i < 2000; ++i)
        table += QByteArray::number(100 + i) + " 21 8:" + QByteArray::number(i) + " / /media/user/Disk\\040" + QByteArray::number(i)
            + " rw,nosuid,nodev,relatime shared:" + QByteArray::number(i) + " - ext4 /dev/sd" + QByteArray::number(i) + " rw,errors=remount-ro\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::parseMountInfo(table));
    state.SetBytesProcessed(state.iterations() * table.size());
}
BENCHMARK(BM_ParseMountInfo);

void BM_CopyWithFlush(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString source = dir.path() + QStringLiteral("/source.mov");
    {
        QFile f(source);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(qsizetype(state.range(0)), 'm'));
    }
    int n = 0;
    for (auto _ : state) {
        QString finalPath;
        platform::copyItem(source, dir.path() + QStringLiteral("/copy %1.mov").arg(n++), platform::NameConflict::Fail, &finalPath);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CopyWithFlush)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
