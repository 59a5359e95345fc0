// File services: finding a moved file by its bookmark in a large tree, giving up on a
// deleted one, parsing a large mount table, and a cross-device style copy with its flush.
#include "platform/Bookmark.h"
#include "platform/FileOperations.h"
#include "platform/Volumes.h"

#include <benchmark/benchmark.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

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
