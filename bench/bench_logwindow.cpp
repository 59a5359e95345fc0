// The log window with a hundred thousand entries: how long until it is shown, and what
// appending a thousand live entries costs the main thread (composing runs elsewhere).
#include "platform/InterfaceFiles.h"
#include "platform/SystemLog.h"
#include "services/log_reader/ILRIntegratedLogReader.h"
#include "services/log_reader/ILRJSONLogStream.h"
#include "services/log_reader/ILRLogTextView.h"
#include "services/log_reader/ILRLogWindowController.h"

#include <QtWidgets/QApplication>

#include <benchmark/benchmark.h>

namespace {

platform::DictionaryPtr entryDictionary(int i, double t)
{
    const QString process = QStringLiteral("/usr/bin/Pellis");
    return platform::Dictionary::make({{QStringLiteral("cachedTimestamp"), platform::Value(platform::Date{t})},
                                       {QStringLiteral("eventMessage"), platform::Value(i % 5 == 0 ? QStringLiteral("cannot open </home/user/Movies/Film %1.mov>: Invalid data found when processing input").arg(i)
                                                                                                     : QStringLiteral("[Debug] loaded index image of <Film %1> in %2 ms").arg(i).arg(i % 97))},
                                       {QStringLiteral("processImagePath"), platform::Value(process)},
                                       {QStringLiteral("senderImagePath"), platform::Value(process)}});
}

ILRLogEntries makeEntries(int count, double start)
{
    ILRLogEntries entries;
    entries.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        entries.push_back(ILRMakeLogEntry(entryDictionary(i, start + i * 0.5)));
    return entries;
}

// A reader over a tool that ends at once, with the entries put in place as one load.
std::shared_ptr<ILRIntegratedLogReader> makeReader()
{
    auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{QStringLiteral("/bin/true"), platform::LogToolFraming::Lines});
    return reader;
}

void BM_LogWindowShownWith100000Entries(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        // The program's own lines kept in the process, as where there is no journal.
        auto reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{});
        for (int i = 0; i < 100000; ++i)
            reader->logFormat(u"cannot open <%@>: Invalid data found when processing input (%d)", {platform::FormatArg(QStringLiteral("/home/user/Movies/Film.mov")), platform::FormatArg(i)});
        state.ResumeTiming();
        // Shown: the window built, the text composed, applied and painted at its end.
        reader->displayLogAndForceUpdate(false);
        reader->logView()->viewport()->repaint();
        state.PauseTiming();
        benchmark::DoNotOptimize(reader->displayedText().size());
        reader->window()->close();
        reader.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LogWindowShownWith100000Entries)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LogWindowAppends1000LiveEntriesOnTheMainThread(benchmark::State& state)
{
    const double start = platform::Date::now().secondsSince1970 - 100000;
    auto reader = makeReader();
    reader->displayLogAndForceUpdate(false);
    reader->setLogEntriesForTesting(makeEntries(100000, start), 7);
    {
        std::lock_guard lock(reader->lock());
        reader->updateDisplayByDispatchingToMainQueue(false);
    }
    reader->logView()->scrollToEnd();
    QApplication::processEvents();
    int next = 100000;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<platform::DictionaryPtr> batch;
        for (int i = 0; i < 1000; ++i, ++next)
            batch.push_back(entryDictionary(next, start + next * 0.5));
        reader->handleLiveBatch(reader->currentEntriesReference(), batch);
        // Composing happens on a reader thread; only applying and painting are the main thread's.
        ILRLogParagraphs paragraphs = reader->composeParagraphs();
        state.ResumeTiming();
        reader->updateDisplayWithLogString(std::move(paragraphs), true);
        reader->logView()->viewport()->repaint();
    }
    reader->window()->close();
}
BENCHMARK(BM_LogWindowAppends1000LiveEntriesOnTheMainThread)->Unit(benchmark::kMillisecond)->Iterations(10);

// Composing the whole text of 100,000 entries, off the main thread (informative).
void BM_LogComposeAfter1000LiveEntries(benchmark::State& state)
{
    const double start = platform::Date::now().secondsSince1970 - 100000;
    auto reader = makeReader();
    reader->setLogEntriesForTesting(makeEntries(100000, start), 7);
    reader->composeParagraphs();
    int next = 100000;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<platform::DictionaryPtr> batch;
        for (int i = 0; i < 1000; ++i, ++next)
            batch.push_back(entryDictionary(next, start + next * 0.5));
        reader->handleLiveBatch(reader->currentEntriesReference(), batch);
        state.ResumeTiming();
        benchmark::DoNotOptimize(reader->composeParagraphs().size());
    }
}
BENCHMARK(BM_LogComposeAfter1000LiveEntries)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    platform::setSystemLogSink([](const QString&) {});
    platform::registerInterfaceBuilder(QStringLiteral("ILRLogWindow"), &ILRLogWindowController::buildWindow);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ILRTerminateAllLogStreams();
    return 0;
}
