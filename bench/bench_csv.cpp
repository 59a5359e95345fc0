// Scanning a 50 MB CSV text with quoted fields and line breaks inside quotes, as the
// metadata export writes it. Throughput is counted in bytes of the UTF-8 file.
#include "foundation/PMCSVParser.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

struct Sample {
    QByteArray utf8;
    QString text;
};

const Sample& sample()
{
    static const Sample s = [] {
        std::mt19937 rng(7);
        const char* words[] = {"Movie", "Holiday", "Part", "Director's Cut", "2019", "Comedy", "x264", "Zoë", "Drama"};
        QByteArray out;
        out.reserve(52 * 1024 * 1024);
        out += "Name,Path,Tags,Notes,Rating,Added\r\n";
        while (out.size() < 50 * 1024 * 1024) {
            const auto word = [&] { return QByteArray(words[rng() % 9]); };
            out += word() + " " + word() + ",";
            out += "\"/media/user/Disk/Movies/" + word() + ", " + word() + ".mov\",";
            out += "\"" + word() + ", " + word() + "\",";
            out += "\"a note with \"\"quotes\"\"\nand a second line\",";
            out += QByteArray::number(int(rng() % 6)) + ",";
            out += "2024-05-0" + QByteArray::number(int(rng() % 9) + 1) + " 12:00:00\r\n";
        }
        return Sample{out, QString::fromUtf8(out)};
    }();
    return s;
}

void BM_ScanRecords(benchmark::State& state)
{
    const Sample& s = sample();
    for (auto _ : state) {
        PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(s.text);
        QList<QStringList> records;
        benchmark::DoNotOptimize(scanner.scanCSVWithFieldSeparator(QStringLiteral(","), true, true, nullptr, &records));
        benchmark::DoNotOptimize(records.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.utf8.size());
}

void BM_ScanFields(benchmark::State& state)
{
    const Sample& s = sample();
    for (auto _ : state) {
        PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(s.text);
        QStringList fields;
        benchmark::DoNotOptimize(scanner.scanCSVWithFieldSeparator(QStringLiteral(","), true, false, &fields, nullptr));
        benchmark::DoNotOptimize(fields.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.utf8.size());
}

// The same with the decoding of the file's UTF-8 bytes included.
void BM_DecodeAndScanRecords(benchmark::State& state)
{
    const Sample& s = sample();
    for (auto _ : state) {
        const QString text = QString::fromUtf8(s.utf8);
        PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(text);
        QList<QStringList> records;
        benchmark::DoNotOptimize(scanner.scanCSVWithFieldSeparator(QStringLiteral(","), true, true, nullptr, &records));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.utf8.size());
}

} // namespace

// The scan alone: the records of the previous round are freed outside the timing.
void BM_ScanRecordsWithoutFreeing(benchmark::State& state)
{
    const Sample& s = sample();
    QList<QStringList> previous;
    for (auto _ : state) {
        PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(s.text);
        QList<QStringList> records;
        benchmark::DoNotOptimize(scanner.scanCSVWithFieldSeparator(QStringLiteral(","), true, true, nullptr, &records));
        state.PauseTiming();
        previous = std::move(records);
        previous = QList<QStringList>();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.utf8.size());
}

BENCHMARK(BM_ScanRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanRecordsWithoutFreeing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanFields)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAndScanRecords)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
