// The property-list editor on a 1 MB XML property list (the viewer rules of a big set-up
// and more): the colouring and pairing pass alone, the pass with its colours laid over the
// text, and one keystroke with the repaint that follows it. Budgets: the pass within
// 100 ms, a keystroke within a frame (16 ms).
#include "BenchSupport.h"

#include "foundation/PMLSONSerialization.h"
#include "ui/plist_editor/PMJSONSyntax.h"
#include "ui/plist_editor/PMJSONTextView.h"

#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>

namespace {

void type(QWidget* view, Qt::Key key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &release);
}

QString megabytePropertyList()
{
    static const QString text = [] {
        platform::ArrayPtr rules = platform::Array::make();
        for (int k = 0; rules->count() < 100000; ++k) {
            rules->append(platform::Value(platform::Dictionary::make({
                {QStringLiteral("Name"), QStringLiteral("Rule %1 for \"films\" {%1}").arg(k)},
                {QStringLiteral("Extensions"), platform::Array::make({QStringLiteral("mkv"), QStringLiteral("mp4"), k})},
                {QStringLiteral("Enabled"), k % 3 != 0},
                {QStringLiteral("Ratio"), 1.5 + k},
            })));
            if (k % 500 == 0) {
                const QString xml = *PMLSONSerialization::XMLStringWithObject(platform::Value(rules), false);
                if (xml.toUtf8().size() >= 1024 * 1024)
                    return xml;
            }
        }
        return QString();
    }();
    return text;
}

void BM_ColourAndPair(benchmark::State& state)
{
    PMJSONSyntaxInput input;
    input.text = megabytePropertyList();
    input.format = PMJSONTextViewFormatXML;
    input.colored = true;
    input.showsGutter = true;
    input.autoFoldsData = true;
    input.recordPrefix = true;
    size_t pairs = 0;
    for (auto _ : state) {
        const PMJSONSyntaxResult result = PMJSONComputeSyntax(input);
        pairs = result.foldableWrappedSubstrings.size();
        benchmark::DoNotOptimize(result.spans.data());
    }
    state.counters["pairs"] = double(pairs);
    state.counters["MB"] = double(input.text.toUtf8().size()) / (1024 * 1024);
}
BENCHMARK(BM_ColourAndPair)->Unit(benchmark::kMillisecond);

void BM_ViewPass(benchmark::State& state)
{
    PMJSONTextView view;
    view.resize(800, 1000);
    view.show();
    view.setString(megabytePropertyList());
    for (auto _ : state) {
        view.parse(); // the value is kept; colours, pairs and folds are made again
    }
}
BENCHMARK(BM_ViewPass)->Unit(benchmark::kMillisecond);

void BM_Keystroke(benchmark::State& state)
{
    PMJSONTextView view;
    view.resize(800, 1000);
    view.show();
    view.setString(megabytePropertyList());
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(int(megabytePropertyList().size() / 2));
    view.setTextCursor(cursor);
    view.ensureCursorVisible();
    view.viewport()->grab();
    for (auto _ : state) {
        type(&view, Qt::Key_A, QStringLiteral("a"));
        benchmark::DoNotOptimize(view.viewport()->grab()); // the repaint that follows
        state.PauseTiming();
        type(&view, Qt::Key_Backspace, QString());
        view.viewport()->grab();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Keystroke)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv);
}
