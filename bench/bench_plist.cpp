// Reading and writing a library-like property list: 100,000 records of about fifteen
// keys each (IDs, paths, names, numbers, timestamps, small dictionaries of tags and
// arrays), about 32 MB as a binary file. Reports MB/s of the file and milliseconds.
#include "platform/PropertyList.h"

#include <benchmark/benchmark.h>

#include <QtCore/QRandomGenerator>
#include <QtCore/QUuid>

#include <cstdio>

using namespace platform;

namespace {

Value makeLibrary(int records)
{
    QRandomGenerator random(42);
    const QStringList tagNames = {"genre", "year", "director", "cast", "language", "country", "series", "studio"};
    const QStringList words = {"Night", "Summer", "River", "Garden", "Station", "Letters", "Mountain", "Harbour", "Silent", "Golden",
                               "Winter", "Journey", "Island", "Shadow", "Empire", QString::fromUtf8("Caf\xC3\xA9"), QString::fromUtf8("M\xC3\xA4rchen")};
    ArrayPtr items = Array::make();
    items->reserve(records);
    auto word = [&] { return words[int(random.bounded(qsizetype(words.size())))]; };
    for (int i = 0; i < records; ++i) {
        quint64 raw[2] = {random.generate64(), random.generate64()};
        const QString id = QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(raw), 16)).toString(QUuid::WithoutBraces).toUpper();
        const QString name = word() + u' ' + word() + u' ' + QString::number(i);
        DictionaryPtr tags = Dictionary::make();
        const int tagCount = 1 + int(random.bounded(3));
        for (int t = 0; t < tagCount; ++t)
            tags->setValue(tagNames[(i + t) % tagNames.size()],
                           t == 0 ? Array::make({word(), QString::number(1950 + int(random.bounded(70)))}) : Array::make({word()}));
        DictionaryPtr settings = Dictionary::make({
            {"Unique Library ID", id},
            {"Display Name", name},
            {"Path", QStringLiteral("/media/user/Movies/%1.mkv").arg(name)},
            {"Rating", int(random.bounded(6))},
            {"Play Counter", int(random.bounded(40))},
            {"Date Added", 1.2e9 + random.bounded(4e8)},
            {"Last Playback Date", 1.3e9 + random.bounded(3e8)},
            {"Playback Position", random.bounded(7200.0)},
            {"File Size", qint64(random.bounded(8e9))},
            {"Duration", 600 + int(random.bounded(9000))},
            {"Tags", tags},
            {"Visible Area", Array::make({0, 0, 1920, 1080})},
            {"Type", "Movie"},
            {"Aspect Ratio", "16:9"},
            {"Is Favourite", random.bounded(4) == 0},
        });
        items->append(settings);
    }
    return Value(Dictionary::make({{"Library", items}, {"Version", "2"}}));
}

const Value& library()
{
    static const Value v = makeLibrary(100000);
    return v;
}

const QByteArray& binaryFile()
{
    static const QByteArray bytes = [] {
        const QByteArray b = writeBinaryPropertyList(library());
        std::fprintf(stderr, "library: binary %.1f MB\n", double(b.size()) / 1e6);
        return b;
    }();
    return bytes;
}

const QByteArray& xmlFile()
{
    static const QByteArray bytes = [] {
        const QByteArray b = writeXMLPropertyList(library());
        std::fprintf(stderr, "library: XML %.1f MB\n", double(b.size()) / 1e6);
        return b;
    }();
    return bytes;
}

using Reader = Value (*)(const QByteArray&, QString*);
using Writer = QByteArray (*)(const Value&, QString*);

void measureRead(benchmark::State& state, const QByteArray& bytes, Reader read)
{
    for (auto _ : state) {
        QString error;
        Value v = read(bytes, &error);
        if (v.isNull())
            state.SkipWithError(qPrintable(error));
        benchmark::DoNotOptimize(v);
        // Freeing the tree is not part of reading.
        state.PauseTiming();
        v = Value();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

void measureWrite(benchmark::State& state, qsizetype size, Writer write)
{
    const Value& v = library();
    for (auto _ : state) {
        QByteArray bytes = write(v, nullptr);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

void BM_ReadBinary(benchmark::State& state)
{
    measureRead(state, binaryFile(), readBinaryPropertyList);
}

void BM_WriteBinary(benchmark::State& state)
{
    measureWrite(state, binaryFile().size(), writeBinaryPropertyList);
}

void BM_ReadXML(benchmark::State& state)
{
    measureRead(state, xmlFile(), readXMLPropertyList);
}

void BM_WriteXML(benchmark::State& state)
{
    measureWrite(state, xmlFile().size(), writeXMLPropertyList);
}

// Reading a tenth of the library: time per record should stay the same (linear).
void BM_ReadBinarySmall(benchmark::State& state)
{
    static const QByteArray bytes = writeBinaryPropertyList(makeLibrary(10000));
    for (auto _ : state) {
        Value v = readBinaryPropertyList(bytes, nullptr);
        benchmark::DoNotOptimize(v);
        state.PauseTiming();
        v = Value();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

void BM_DeepCopy(benchmark::State& state)
{
    const Value& v = library();
    for (auto _ : state) {
        Value copy = deepCopyPropertyList(v);
        benchmark::DoNotOptimize(copy);
    }
}

} // namespace

BENCHMARK(BM_ReadBinary)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_WriteBinary)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ReadBinarySmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadXML)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_WriteXML)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DeepCopy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
