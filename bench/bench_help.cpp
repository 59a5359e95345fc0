// The help book: building its index (every page read, its words, markers and anchors) and
// a search over it, for the program's own book and for a book twenty times its size.
#include "BenchSupport.h"

#include "services/help/PMHelpManager.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>

namespace {

QString realBook()
{
    return QStringLiteral(PELLIS_SOURCE_DIR "/resources/help/en");
}

// The real book copied twenty times into subfolders of a temporary folder.
QString largeBook()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        for (int copy = 0; copy < 20; ++copy) {
            const QString folder = dir.path() + QStringLiteral("/part%1").arg(copy);
            QDir().mkpath(folder);
            QDirIterator it(realBook(), {QStringLiteral("*.html")}, QDir::Files);
            while (it.hasNext()) {
                it.next();
                QFile::copy(it.filePath(), folder + QLatin1Char('/') + it.fileName());
            }
        }
        return dir.path();
    }();
    return path;
}

void BM_HelpIndex(benchmark::State& state, bool large)
{
    const QString book = large ? largeBook() : realBook();
    qsizetype pages = 0;
    for (auto _ : state) {
        PMHelpManager manager(book);
        pages = manager.pageRepresentations().size();
        benchmark::DoNotOptimize(pages);
    }
    state.counters["pages"] = double(pages);
}

void BM_HelpSearch(benchmark::State& state, bool large, const char* query)
{
    PMHelpManager manager(large ? largeBook() : realBook());
    manager.pageRepresentations();
    const QString text = QString::fromUtf8(query);
    qsizetype found = 0;
    for (auto _ : state) {
        found = manager.itemsWithSearchString(text, 0, true, QString()).size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = double(found);
}

} // namespace

BENCHMARK_CAPTURE(BM_HelpIndex, book, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_HelpIndex, book_x20, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_HelpSearch, smart_group, false, "smart group")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_HelpSearch, nothing, false, "zebra crossing")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_HelpSearch, x20_smart_group, true, "smart group")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_HelpSearch, x20_five_words, true, "move files library folder drive")->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv);
}
