// The editor as a widget: fonts and gutter sizes, the format menu, pasting, new lines,
// folding through the view and its gutter, large texts passing off the main thread.
#include "platform/Alert.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "ui/plist_editor/PMJSONGutterView.h"
#include "ui/plist_editor/PMJSONTextView.h"

#include "common/TestSupport.h"

#include <QtCore/QMimeData>
#include <QtGui/QClipboard>
#include <QtGui/QTextBlock>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

#include <gtest/gtest.h>

#include <random>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

class PMJSONTextViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* key : {"PMJSONTextViewFontSize", "PMJSONTextViewFontName", "PMJSONTextViewShowsGutter",
                                "PMJSONTextViewGutterAutoFoldsData", "PMJSONTextViewPrefersJSON", "PMJSONTextViewPrefersShorthand"})
            defaults().removeObjectForKey(QLatin1String(key));
        PMJSONTextView::setClassFontSize(12);
        defaults().removeObjectForKey(QStringLiteral("PMJSONTextViewFontSize"));
        view = std::make_unique<PMJSONTextView>();
        view->resize(600, 800);
        view->show();
    }

    static platform::Value nested()
    {
        using platform::Dictionary;
        using platform::Array;
        return platform::Value(Dictionary::make({
            {QStringLiteral("outer"), Dictionary::make({{QStringLiteral("inner"), Array::make({1, 2, 3})}, {QStringLiteral("x"), true}})},
            {QStringLiteral("list"), Array::make({QStringLiteral("a"), QStringLiteral("b")})},
        }));
    }

    PMWrappedSubstring* pairStartingWith(const QString& opening)
    {
        const QString text = view->toPlainText();
        for (const PMWrappedSubstringPtr& pair : view->foldableWrappedSubstrings()) {
            if (text.mid(pair->wrappingRange.location).startsWith(opening))
                return pair.get();
        }
        return nullptr;
    }

    std::unique_ptr<PMJSONTextView> view;
};

TEST_F(PMJSONTextViewTest, FontSizeIsClampedAndGutterFollowsIt)
{
    const std::vector<std::pair<std::optional<double>, double>> cases = {
        {std::nullopt, 12}, {0.0, 12}, {-4.0, 12}, {7.5, 8}, {8.0, 8}, {60.0, 50}, {14.0, 14}};
    for (const auto& [stored, expected] : cases) {
        if (stored)
            defaults().setDouble(*stored, QStringLiteral("PMJSONTextViewFontSize"));
        else
            defaults().removeObjectForKey(QStringLiteral("PMJSONTextViewFontSize"));
        EXPECT_EQ(PMJSONTextView::fontSize(), expected) << (stored ? *stored : -999);
    }
    int g = 0, i = 0;
    PMJSONTextView::gutterMetricsForFontSize(12, &g, &i);
    EXPECT_EQ(g, 10);
    EXPECT_EQ(i, 1);
    PMJSONTextView::gutterMetricsForFontSize(20, &g, &i);
    EXPECT_EQ(g, 18);
    EXPECT_EQ(i, 2);

    view->setFontSize(20);
    EXPECT_EQ(PMJSONTextView::gutterWidth(), 18);
    EXPECT_EQ(PMJSONTextView::font().pointSizeF(), 20);
}

TEST_F(PMJSONTextViewTest, NewTextTakesThePreferredFormatAndFallsBackToXML)
{
    const platform::Value withData(platform::Dictionary::make({{QStringLiteral("d"), QByteArray("\x01\x02")}}));
    struct Case {
        bool prefersJSON, prefersShorthand;
        platform::Value value;
        PMJSONTextViewFormat expected;
    };
    const std::vector<Case> cases = {
        {false, false, nested(), PMJSONTextViewFormatXML},
        {false, true, nested(), PMJSONTextViewFormatXMLShorthand},
        {true, false, nested(), PMJSONTextViewFormatJSON},
        {true, true, nested(), PMJSONTextViewFormatJSONShorthand},
        {true, true, withData, PMJSONTextViewFormatXMLShorthand}, // JSON holds no data
        {true, false, withData, PMJSONTextViewFormatXML},
    };
    for (const Case& c : cases) {
        defaults().setBool(c.prefersJSON, QStringLiteral("PMJSONTextViewPrefersJSON"));
        defaults().setBool(c.prefersShorthand, QStringLiteral("PMJSONTextViewPrefersShorthand"));
        const std::optional<QString> text = PMJSONTextView::stringWithSerializedPropertyList(c.value);
        ASSERT_TRUE(text);
        PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
        EXPECT_EQ(PMJSONTextView::objectValueFromString(*text, &format), c.value);
        EXPECT_EQ(format, c.expected) << c.prefersJSON << c.prefersShorthand;
    }
    EXPECT_FALSE(PMJSONTextView::stringWithSerializedPropertyList(nested(), PMJSONTextViewFormatNone));
}

TEST_F(PMJSONTextViewTest, ChangingTheFormatIsUndoableAndKeepsTheFolding)
{
    ASSERT_TRUE(view->setStringBySerializingPropertyList(nested(), false, std::nullopt));
    EXPECT_EQ(view->detectedFormat(), PMJSONTextViewFormatXML);
    const QString xml = view->toPlainText();
    // Fold the inner array.
    view->toggleFoldingOfWrappedSubstring(pairStartingWith(QStringLiteral("<array>\n\t\t\t<integer>1")));
    const std::optional<QString> state = view->foldingState();
    ASSERT_TRUE(state);

    QMenu menu;
    QList<QAction*> items = view->formatMenuItems(&menu);
    QStringList titles;
    for (QAction* item : items)
        titles << (item->isSeparator() ? QStringLiteral("-") : item->text());
    EXPECT_EQ(titles, QStringList({"XML", "XML Shorthand", "-", "JSON", "JSON Shorthand"}));
    EXPECT_TRUE(items[0]->isChecked());
    // JSON has the same pairs as XML, one to one: the folds carry over.
    items[3]->trigger();

    EXPECT_EQ(view->toPlainText(), *PMLSONSerialization::JSONStringWithObject(nested(), false, false));
    EXPECT_EQ(view->detectedFormat(), PMJSONTextViewFormatJSON);
    EXPECT_EQ(view->foldingState(), state);
    PMWrappedSubstring* array = pairStartingWith(QStringLiteral("[\n\t\t\t1"));
    ASSERT_TRUE(array);
    EXPECT_TRUE(array->folded);
    // The lines inside the folded array are hidden, its opening and closing lines shown.
    const QTextBlock opening = view->document()->findBlock(int(array->wrappingRange.location));
    EXPECT_TRUE(opening.isVisible());
    EXPECT_FALSE(opening.next().isVisible());
    EXPECT_TRUE(view->document()->findBlock(int(array->range.end())).isVisible());

    items = view->formatMenuItems(&menu);
    EXPECT_TRUE(items[3]->isChecked());
    EXPECT_FALSE(items[0]->isChecked());
    // JSON shorthand drops the top-level braces: one pair less, so the default folding.
    items[4]->trigger();
    EXPECT_EQ(view->toPlainText(), *PMLSONSerialization::JSONStringWithObject(nested(), true, true));
    EXPECT_EQ(view->detectedFormat(), PMJSONTextViewFormatJSONShorthand);
    EXPECT_TRUE(view->formatMenuItems(&menu).last()->isChecked());
    EXPECT_FALSE(view->foldingState());

    view->undo();

    view->undo();
    EXPECT_EQ(view->toPlainText(), xml);
    EXPECT_EQ(view->detectedFormat(), PMJSONTextViewFormatXML);
}

TEST_F(PMJSONTextViewTest, PastedPropertyListsTakeTheFormOfTheText)
{
    const platform::Value fragment(platform::Dictionary::make({{QStringLiteral("x"), 1}}));
    auto paste = [&](const QString& text) {
        view->setString(text);
        QTextCursor cursor = view->textCursor();
        cursor.movePosition(QTextCursor::End);
        view->setTextCursor(cursor);
        QMimeData data;
        data.setData(QString::fromLatin1(PMJSONTextView::kPasteboardType), platform::writeXMLPropertyList(fragment));
        QApplication::clipboard()->setMimeData(new QMimeData);
        auto* copy = new QMimeData;
        copy->setData(QString::fromLatin1(PMJSONTextView::kPasteboardType), data.data(QString::fromLatin1(PMJSONTextView::kPasteboardType)));
        QApplication::clipboard()->setMimeData(copy);
        view->paste();
        return view->toPlainText();
    };
    EXPECT_EQ(paste(QStringLiteral("<key>a</key>\n<true/>\n")), QStringLiteral("<key>a</key>\n<true/>\n<key>x</key>\n<integer>1</integer>"));
    EXPECT_EQ(view->detectedFormat(), PMJSONTextViewFormatXMLShorthand);
    EXPECT_EQ(paste(QStringLiteral("\"a\" : true\n")), QStringLiteral("\"a\" : true\n\"x\" : 1"));
    EXPECT_EQ(view->detectedFormat(), PMJSONTextViewFormatJSONShorthand);

    // A key name beside a plain value makes a one-member dictionary.
    view->setString(QStringLiteral("<key>a</key>\n<true/>\n"));
    QTextCursor cursor = view->textCursor();
    cursor.movePosition(QTextCursor::End);
    view->setTextCursor(cursor);
    auto* keyed = new QMimeData;
    keyed->setData(QString::fromLatin1(PMJSONTextView::kForeignKeyPasteboardType), QByteArray("name"));
    keyed->setText(QStringLiteral("value"));
    QApplication::clipboard()->setMimeData(keyed);
    view->paste();
    EXPECT_EQ(view->toPlainText(), QStringLiteral("<key>a</key>\n<true/>\n<key>name</key>\n<string>value</string>"));

    // Copying a selection that is a property list offers it as property-list data.
    view->selectAll();
    ASSERT_TRUE(view->selectedPropertyList());
    QTest::keySequence(view.get(), QKeySequence::Copy);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(copied->hasFormat(QString::fromLatin1(PMJSONTextView::kPasteboardType)));
    const platform::PropertyListReadResult read = platform::readPropertyList(copied->data(QString::fromLatin1(PMJSONTextView::kPasteboardType)));
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(read.value.dictionary()->value(QStringLiteral("name")).isString());
}

TEST_F(PMJSONTextViewTest, ANewLineKeepsTheIndentation)
{
    view->setString(QStringLiteral("{\n\t\t\"a\" : 1"));
    view->moveCursor(QTextCursor::End);
    QTest::keyClick(view.get(), Qt::Key_Return);
    QTest::keyClicks(view.get(), QStringLiteral("x"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("{\n\t\t\"a\" : 1\n\t\tx"));
    // At the very start there is nothing to keep.
    view->moveCursor(QTextCursor::Start);
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_TRUE(view->toPlainText().startsWith(QStringLiteral("\n{")));
}

TEST_F(PMJSONTextViewTest, FoldingStateRoundTripsAndFallsBackToTheDefaults)
{
    const QString xml = QStringLiteral("<key>a</key>\n<dict>\n\t<key>b</key>\n\t<data>\n\tAAEC\n\t</data>\n</dict>\n<key>c</key>\n<array>\n\t<true/>\n</array>");
    view->setString(xml);
    // Data folds by default.
    EXPECT_FALSE(view->foldingState());
    PMWrappedSubstring* data = pairStartingWith(QStringLiteral("<data>"));
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->folded);
    view->toggleFoldingOfWrappedSubstring(pairStartingWith(QStringLiteral("<array>")));
    const std::optional<QString> state = view->foldingState();
    EXPECT_EQ(state, QStringLiteral("+--"));

    view->setString(xml, false, state, false);
    EXPECT_EQ(view->foldingState(), state);
    // The structure changed: the state no longer fits, the defaults apply.
    view->setString(QStringLiteral("<key>c</key>\n<array>\n\t<true/>\n</array>"), false, state, false);
    EXPECT_FALSE(view->foldingState());

    // Folding the outer dict hides the pills inside it.
    view->setString(xml);
    view->toggleFoldingOfWrappedSubstring(pairStartingWith(QStringLiteral("<dict>")));
    EXPECT_TRUE(pairStartingWith(QStringLiteral("<data>"))->implicitlyHidden);
    ASSERT_TRUE(view->gutterView());
    for (const PMJSONGutterPillLayer& pill : view->gutterView()->pillLayers())
        EXPECT_NE(pill.wrappedSubstring, pairStartingWith(QStringLiteral("<data>")));
    bool fold = false, unfold = false, restore = false;
    EXPECT_TRUE(view->canFold(&fold, &unfold, &restore));
    EXPECT_TRUE(unfold);
    EXPECT_TRUE(restore);
    view->restoreDefaultFolding();
    EXPECT_FALSE(view->foldingState());

    // Without the gutter nothing stays folded and every line shows.
    view->setShowsGutter(false);
    EXPECT_FALSE(view->gutterView());
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("PMJSONTextViewShowsGutter")));
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
        EXPECT_TRUE(block.isVisible());
    EXPECT_FALSE(view->canFold(nullptr, nullptr, nullptr));
    // Another editor follows the setting.
    PMJSONTextView other;
    other.setString(xml);
    view->setShowsGutter(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.showsGutter(); }, 10000));
    EXPECT_TRUE(other.gutterView());
    EXPECT_FALSE(pairStartingWith(QStringLiteral("<data>"))->folded);
    view->restoreDefaultFolding();
    EXPECT_TRUE(pairStartingWith(QStringLiteral("<data>"))->folded);
}

TEST_F(PMJSONTextViewTest, ClickingTheGutterAndTheEllipsisFoldsAndUnfolds)
{
    view->setString(QStringLiteral("{\n\t\"a\" : [\n\t\t1,\n\t\t2\n\t],\n\t\"b\" : 2\n}"));
    ASSERT_TRUE(view->gutterView());
    PMWrappedSubstring* array = pairStartingWith(QStringLiteral("["));
    ASSERT_TRUE(array);
    std::optional<QRectF> pillFrame;
    for (const PMJSONGutterPillLayer& pill : view->gutterView()->pillLayers()) {
        if (pill.wrappedSubstring == array)
            pillFrame = pill.frame();
    }
    ASSERT_TRUE(pillFrame);
    QTest::mouseMove(view->gutterView(), pillFrame->center().toPoint());
    QTest::mouseClick(view->gutterView(), Qt::LeftButton, {}, pillFrame->center().toPoint());
    array = pairStartingWith(QStringLiteral("["));
    ASSERT_TRUE(array->folded);
    // The ellipsis after the opening line unfolds it again.
    view->viewport()->repaint();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !array->foldedEllipsisRect.isEmpty(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, array->foldedEllipsisRect.center().toPoint());
    EXPECT_FALSE(pairStartingWith(QStringLiteral("["))->folded);
}

TEST_F(PMJSONTextViewTest, ErrorsAreMarkedAndPresentedAndTheEmptyTextHasNoValue)
{
    view->setString(QString());
    EXPECT_TRUE(view->objectValue().isNull());
    EXPECT_TRUE(view->error().isEmpty());
    EXPECT_FALSE(view->presentSyntaxError());

    // The pairs of the format detected last are still found.
    view->setString(QStringLiteral("{\n\t\"a\" : [1, 2],\n\t\"b\" : 3\n}"));
    ASSERT_EQ(view->detectedFormat(), PMJSONTextViewFormatJSON);
    view->setString(QStringLiteral("{\n\t\"a\" : [1 2],\n\t\"b\" : 3\n}"));
    EXPECT_TRUE(view->objectValue().isNull());
    EXPECT_FALSE(view->error().isEmpty());
    ASSERT_TRUE(view->errorRange());
    // The text is drawn in the invalid colour, the error's line from its column on a
    // coloured background.
    const std::vector<QTextLayout::FormatRange> formats = view->formatsInRange(view->errorRange()->location, 1);
    ASSERT_FALSE(formats.empty());
    EXPECT_TRUE(formats.back().format.hasProperty(QTextFormat::BackgroundBrush));
    EXPECT_EQ(view->foldableWrappedSubstrings().size(), 2u);

    QString shown;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        shown = alert.messageText;
        return platform::AlertResponse{};
    });
    EXPECT_TRUE(view->presentSyntaxError());
    platform::setAlertHandler(nullptr);
    EXPECT_EQ(shown, view->error());
}

// A validator that takes dictionaries only and adds an underline under every key.
class DictionariesOnly : public PMJSONTextViewValidator {
public:
    bool validateObjectValue(const platform::Value& value, PMJSONTextView*, platform::Value* result) override
    {
        *result = value.isDictionary() ? value : platform::Value();
        return true;
    }
    void didChangeObjectValueForTextView(PMJSONTextView*) override { ++changes; }
    bool didApplySyntaxHighlightingToTextStorage(std::vector<QTextLayout::FormatRange>& textStorage,
                                                const std::vector<PMSubstring>* quoted, PMJSONTextView*) override
    {
        quotedCount = quoted ? int(quoted->size()) : -1;
        if (quoted) {
            for (const PMSubstring& s : *quoted) {
                if (!s.key)
                    continue;
                QTextLayout::FormatRange range;
                range.start = int(s.range.location);
                range.length = int(s.range.length);
                range.format.setFontUnderline(true);
                textStorage.push_back(range);
            }
        }
        return true;
    }
    int changes = 0;
    int quotedCount = 0;
};

TEST_F(PMJSONTextViewTest, TheValidatorDecidesWhatIsValidAndMayAddFormats)
{
    DictionariesOnly validator;
    view->setValidator(&validator);
    view->setString(QStringLiteral("{\n\t\"a\" : \"b\"\n}"));
    EXPECT_TRUE(view->validatedObjectValue().isDictionary());
    EXPECT_EQ(validator.quotedCount, 2);
    const std::vector<QTextLayout::FormatRange> key = view->formatsInRange(3, 1);
    ASSERT_FALSE(key.empty());
    EXPECT_TRUE(key.back().format.fontUnderline());
    EXPECT_EQ(key.front().format.foreground().color(), view->keyColorInDarkMode(false));

    // An array parses but is refused: the text is drawn as invalid.
    view->moveCursor(QTextCursor::End);
    view->selectAll();
    QTest::keyClicks(view.get(), QStringLiteral("[1]"));
    EXPECT_GE(validator.changes, 3);
    EXPECT_FALSE(view->objectValue().isNull());
    EXPECT_TRUE(view->validatedObjectValue().isNull());
    EXPECT_EQ(view->palette().color(QPalette::Text), PMJSONTextView::invalidCodeColorInDarkMode(false));
    EXPECT_TRUE(view->formatsInRange(0, 3).empty()); // all in the base colour
    view->setValidator(nullptr);
}

// Random edits, folds, format changes, undos and repaints in any order leave the view
// consistent: every pair lies inside the text, and the gutter exists exactly when
// something can fold.
TEST_F(PMJSONTextViewTest, RandomEditingKeepsTheViewConsistent)
{
    const QStringList texts = {
        *PMLSONSerialization::XMLStringWithObject(nested(), false),
        *PMLSONSerialization::JSONStringWithObject(nested(), true, true),
        QStringLiteral("<key>d</key>\n<data>\n\tAAEC\n</data>\n<key>e</key>\n<dict>\n\t<key>f</key>\n\t<array/>\n</dict>"),
        QStringLiteral("Heading\n\tbody\n\t\tdeeper\nOther\n\tmore"),
        QStringLiteral("{ \"a\" : [1, {\"b\" : \"}\"}], } ] {"),
    };
    const QString typed = QStringLiteral("<>/{}[]\"\\\n\ta1:,");
    std::mt19937 random(46);
    QMenu menu;
    for (int step = 0; step < 400; ++step) {
        switch (random() % 10) {
        case 0: view->setString(texts[qsizetype(random() % texts.size())]); break;
        case 1:
        case 2: {
            QTextCursor cursor = view->textCursor();
            cursor.setPosition(int(random() % qsizetype(view->document()->characterCount())));
            cursor.insertText(QString(typed.at(qsizetype(random() % typed.size()))));
            break;
        }
        case 3: view->foldAll(); break;
        case 4: view->unfoldAll(); break;
        case 5: {
            const auto& pairs = view->foldableWrappedSubstrings();
            if (!pairs.empty())
                view->toggleFoldingOfWrappedSubstring(pairs[random() % pairs.size()].get());
            break;
        }
        case 6: {
            const QList<QAction*> items = view->formatMenuItems(&menu);
            if (!items.isEmpty() && !items[qsizetype(random() % items.size())]->isSeparator())
                items[qsizetype(random() % items.size())]->trigger();
            break;
        }
        case 7: view->undo(); break;
        case 8: view->setShowsGutter(random() % 4 != 0); break;
        case 9: view->restoreDefaultFolding(); break;
        }
        view->viewport()->repaint();
        const qsizetype size = view->toPlainText().size();
        for (const PMWrappedSubstringPtr& pair : view->foldableWrappedSubstrings())
            ASSERT_LE(pair->wrappingRange.end(), size) << step;
        ASSERT_EQ(view->gutterView() != nullptr, !view->foldableWrappedSubstrings().empty()) << step;
        if (view->gutterView())
            view->gutterView()->pillLayers();
    }
    view->setShowsGutter(true);
}

TEST_F(PMJSONTextViewTest, ALargeTextPassesAfterTypingOffTheMainThread)
{
    platform::ArrayPtr rows = platform::Array::make();
    for (int k = 0; k < 4000; ++k)
        rows->append(platform::Value(platform::Dictionary::make({{QStringLiteral("name"), QStringLiteral("row %1").arg(k)}, {QStringLiteral("n"), k}})));
    view->setString(*PMLSONSerialization::XMLStringWithObject(platform::Value(rows), false));
    ASSERT_GT(view->document()->characterCount(), PMJSONTextView::kDeferredPassSize);
    const size_t pairs = view->foldableWrappedSubstrings().size();
    EXPECT_EQ(pairs, 4001u);

    QSignalSpy passes(view.get(), &PMJSONTextView::passFinished);
    view->moveCursor(QTextCursor::End);
    QTest::keyClicks(view.get(), QStringLiteral("oops"));
    EXPECT_TRUE(view->isParsing());
    ASSERT_TRUE(passes.wait(20000));
    EXPECT_FALSE(view->isParsing());
    EXPECT_FALSE(view->error().isEmpty());
    EXPECT_EQ(view->foldableWrappedSubstrings().size(), pairs);
}

} // namespace
