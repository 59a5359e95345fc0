// The interface kit's drawing: fitting a tile title, drawing count badges.
#include "BenchSupport.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"

#include "platform/Memory.h"

#include <QtCore/QTemporaryDir>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <benchmark/benchmark.h>

namespace {

const QString kTitle = QStringLiteral("The Extraordinary Adventures of a Very Long Movie Title, Part 2");

// Tile labels: each title fitted and drawn into a 200 × 40 point rectangle, the titles
// taken in turn.
void fitTitlesIntoTileLabels(benchmark::State& state, const QStringList& titles)
{
    QImage image(220, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    PMTextAttributes attributes; // kept, as a tile keeps its attributes
    qsizetype next = 0;
    for (auto _ : state) {
        fitAndDrawInRect(painter, titles[next], QRectF(10, 10, 200, 40), &attributes, std::nullopt, nullptr, 24);
        next = (next + 1) % titles.size();
    }
    state.SetItemsProcessed(state.iterations());
}

// The same tile repainted: a 60-character title.
void BM_FitTitleIntoTileLabel(benchmark::State& state)
{
    fitTitlesIntoTileLabels(state, {kTitle.left(60)});
}
BENCHMARK(BM_FitTitleIntoTileLabel)->Unit(benchmark::kMicrosecond);

// The first drawing of each title: 20,000 different titles, more than the kit keeps.
void BM_FitNewTitleIntoTileLabel(benchmark::State& state)
{
    QStringList titles;
    for (int i = 0; i < 20000; ++i)
        titles.append((QString::number(i) + QLatin1Char(' ') + kTitle).left(60));
    fitTitlesIntoTileLabels(state, titles);
}
BENCHMARK(BM_FitNewTitleIntoTileLabel)->Unit(benchmark::kMicrosecond);

// The measuring alone, without drawing.
void BM_FitTitleMeasureOnly(benchmark::State& state)
{
    const QString title = kTitle.left(60);
    for (auto _ : state)
        benchmark::DoNotOptimize(fitTextInRect(title, QRectF(10, 10, 200, 40), 24));
}
BENCHMARK(BM_FitTitleMeasureOnly)->Unit(benchmark::kMicrosecond);

// A window full of tiles: 1,000 badges, every tenth with a progress pie.
void BM_Draw1000Badges(benchmark::State& state)
{
    QImage image(1600, 1000, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::darkGray);
    QPainter painter(&image);
    QStringList counts;
    for (int i = 0; i < 1000; ++i)
        counts.append(QString::number(i * 7 % 1234));
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            const QRectF tile((i % 40) * 40, (i / 40) * 40, 40, 40);
            drawAsBadgeInRect(painter, counts[i], tile, i % 2 == 0, std::nullopt, PMBadgeBackground(), nullptr, i % 10 == 0 ? i % 100 : 0, 0, 0,
                              2, 2, -1, -1, false, true);
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Draw1000Badges)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QGuiApplication>(argc, argv);
}
