// The colouring and structure pass on plain strings: what is coloured as what, which
// brackets and tags pair and fold, where an error is marked.
#include "platform/RegularExpression.h"
#include "ui/plist_editor/PMJSONSyntax.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Role = PMJSONColorRole;

PMJSONSyntaxResult pass(const QString& text, PMJSONTextViewFormat format, bool colored = true, const QString& error = QString())
{
    PMJSONSyntaxInput input;
    input.text = text;
    input.format = format;
    input.colored = colored;
    input.showsGutter = true;
    input.autoFoldsData = true;
    input.errorDescription = error;
    return PMJSONComputeSyntax(input);
}

// The role the last span covering the location gives it (later spans win), else the base.
Role roleAt(const PMJSONSyntaxResult& result, qsizetype location)
{
    Role role = result.baseRole;
    for (const PMJSONColorSpan& span : result.spans) {
        if (location >= span.start && location < span.start + span.length)
            role = span.role;
    }
    return role;
}

QStringList pairTexts(const QString& text, const std::vector<PMWrappedSubstringPtr>& pairs)
{
    QStringList texts;
    for (const PMWrappedSubstringPtr& pair : pairs)
        texts << text.mid(pair->wrappingRange.location, pair->wrappingRange.length);
    return texts;
}

TEST(PMJSONSyntaxTest, JSONStringsHideTheirBracketsAndKeysGoByTheColon)
{
    const QString text = QStringLiteral("{\n\t\"a\\\"{b\" \t: \"x{y]\",\n\t\"n\" : [1, true, false],\n\t\"s\" : \"v\"\n}");
    const PMJSONSyntaxResult result = pass(text, PMJSONTextViewFormatJSON);

    // The brace and bracket inside strings neither pair nor fold.
    EXPECT_EQ(pairTexts(text, result.allWrappedSubstrings), QStringList({QStringLiteral("[1, true, false]"), text}));
    const qsizetype brace = text.indexOf(QStringLiteral("x{y"));
    EXPECT_EQ(roleAt(result, brace + 1), Role::Value);

    // An escaped quote does not end the key; blanks may stand before the colon.
    ASSERT_EQ(result.quotedSubstrings.size(), 5u);
    EXPECT_EQ(result.quotedSubstrings[0].stringValue(), QStringLiteral("\"a\\\"{b\""));
    EXPECT_TRUE(result.quotedSubstrings[0].key);
    EXPECT_FALSE(result.quotedSubstrings[1].key);
    EXPECT_TRUE(result.quotedSubstrings[2].key);
    EXPECT_EQ(roleAt(result, 3), Role::Key);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("\"v\"")) + 1), Role::Value);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1Char('1'))), Role::Tag);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("true"))), Role::True);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("false"))), Role::False);
    EXPECT_EQ(roleAt(result, 0), Role::OtherCode);
}

TEST(PMJSONSyntaxTest, SingleLinePairsFoldInJSONAndXML)
{
    const QString json = QStringLiteral("{\n\t\"e\" : {},\n\t\"a\" : [1, 2]\n}");
    EXPECT_EQ(pairTexts(json, pass(json, PMJSONTextViewFormatJSON).foldableWrappedSubstrings),
              QStringList({json, QStringLiteral("{}"), QStringLiteral("[1, 2]")}));

    const QString xml = QStringLiteral("<key>d</key>\n<dict><key>a</key><string>b</string></dict>");
    const PMJSONSyntaxResult result = pass(xml, PMJSONTextViewFormatXMLShorthand);
    EXPECT_EQ(pairTexts(xml, result.foldableWrappedSubstrings), QStringList({QStringLiteral("<dict><key>a</key><string>b</string></dict>")}));
}

TEST(PMJSONSyntaxTest, AStrayClosingIsSkippedAndPairingGoesOn)
{
    const QString text = QStringLiteral("}\n{\n\t\"a\" : [\n\t\t1\n\t]\n}");
    const PMJSONSyntaxResult result = pass(text, PMJSONTextViewFormatJSONShorthand, false);
    EXPECT_EQ(result.foldableWrappedSubstrings.size(), 2u);
    EXPECT_EQ(result.numberOfHierarchyLevels, 2u);
    EXPECT_EQ(result.foldableWrappedSubstrings[1]->numberOfEnclosingWrappedSubstrings, 1u);
    ASSERT_EQ(result.foldableWrappedSubstrings[0]->containedWrappedSubstrings.size(), 1u);
}

TEST(PMJSONSyntaxTest, CrossingPairsNestOnlyInWhatHoldsThem)
{
    // A dict and an array that cross, then a data element inside the array only.
    const QString text = QStringLiteral("<dict>\n<array>\n</dict>\n<data>\nAA\n</data>\n</array>");
    const PMJSONSyntaxResult result = pass(text, PMJSONTextViewFormatXML, false);
    ASSERT_EQ(result.foldableWrappedSubstrings.size(), 3u);
    const PMWrappedSubstring* dict = result.foldableWrappedSubstrings[0].get();
    const PMWrappedSubstring* data = result.foldableWrappedSubstrings[2].get();
    EXPECT_EQ(data->numberOfEnclosingWrappedSubstrings, 1u);
    EXPECT_EQ(dict->containedWrappedSubstrings.size(), 1u); // the array starts inside it; the data does not
}

TEST(PMJSONSyntaxTest, InvalidJSONIsDrawnInvalidWithItsPairsAndTheErrorPlace)
{
    const QString text = QStringLiteral("{\n\t\"a\" : [1 2],\n\t\"b\" : 3\n}");
    const PMJSONSyntaxResult result = pass(text, PMJSONTextViewFormatJSON, false, QStringLiteral("JSON text, line 2, column 11: expected ','"));
    EXPECT_EQ(result.baseRole, Role::Invalid);
    EXPECT_TRUE(result.spans.empty());
    EXPECT_EQ(result.foldableWrappedSubstrings.size(), 2u);
    ASSERT_TRUE(result.errorRange);
    // From the column to the end of line 2.
    EXPECT_EQ(text.mid(result.errorRange->location, result.errorRange->length), QStringLiteral("2],"));

    // A line past the end, or no line at all, marks nothing; a column past the end marks
    // the whole line.
    EXPECT_FALSE(PMJSONErrorRange(text, QStringLiteral("line 9, column 1: x")));
    EXPECT_FALSE(PMJSONErrorRange(text, QStringLiteral("unexpected end")));
    const std::optional<PMRange> wide = PMJSONErrorRange(text, QStringLiteral("Line 3, Column 99"));
    ASSERT_TRUE(wide);
    EXPECT_EQ(text.mid(wide->location, wide->length), QStringLiteral("\t\"b\" : 3"));
}

TEST(PMJSONSyntaxTest, XMLColoursTagsKeysValuesAndBooleans)
{
    const QString text = QStringLiteral("<key>k</key>\n<string>say \"hi\"</string>\n<key>t</key>\n<true/>\n<key>f</key>\n<false />\n"
                                        "<key>d</key>\n<data>\n\tAAEC\n</data>");
    const PMJSONSyntaxResult result = pass(text, PMJSONTextViewFormatXMLShorthand);
    EXPECT_EQ(roleAt(result, 1), Role::Tag);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String(">k<")) + 1), Role::Key);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("say"))), Role::Value);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("\"hi\""))), Role::Value);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("true"))), Role::True);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("false"))), Role::False);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("</string>"))), Role::OtherCode);
    EXPECT_FALSE(result.reportsQuotedSubstrings);
    // The data element folds by default.
    ASSERT_EQ(result.foldableWrappedSubstrings.size(), 1u);
    EXPECT_TRUE(result.foldableWrappedSubstrings[0]->foldedByDefault);
    EXPECT_EQ(result.foldableWrappedSubstrings[0]->type, 2);
}

TEST(PMJSONSyntaxTest, PlainTextEmphasisesHeadingsWhenMostLinesAreIndented)
{
    const QString text = QStringLiteral("First\n\tone\n\ttwo\nSecond\n\tthree\n\tfour");
    PMJSONSyntaxInput input;
    input.text = text;
    input.colored = true;
    input.showsGutter = true;
    input.indentationPriority = 3;
    const PMJSONSyntaxResult result = PMJSONComputeSyntax(input);
    EXPECT_TRUE(result.isPlainText);
    EXPECT_TRUE(result.emphasizeNonIndentedLines);
    EXPECT_EQ(roleAt(result, 0), Role::Value);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("Second"))), Role::Value);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("one"))), Role::Key);
    EXPECT_EQ(result.emphasizedLines.size(), 2u);
    // Each heading's body is an indentation region that folds.
    EXPECT_EQ(pairTexts(text, result.foldableWrappedSubstrings),
              QStringList({QStringLiteral("\tone\n\ttwo"), QStringLiteral("\tthree\n\tfour")}));

    // Two headings in a row, or a minority of indented lines: no emphasis.
    for (const QString& other : {QStringLiteral("Aa\nBb\n\tb\n\tc\n\td"), QStringLiteral("Aa\n\tb\nCc\nDd\nEe")}) {
        input.text = other;
        EXPECT_FALSE(PMJSONComputeSyntax(input).emphasizeNonIndentedLines) << other.toStdString();
    }
}

TEST(PMJSONSyntaxTest, MarkupPairsTagsByNameAndFoldsStyleSheets)
{
    const QString text = QStringLiteral("<div class=\"x\">\n<p>one</p>\n<style>\na {\n\tcolor: red;\n}\n</style>\n</div>");
    PMJSONSyntaxInput input;
    input.text = text;
    input.colored = true;
    input.markupMode = true;
    input.showsGutter = true;
    const PMJSONSyntaxResult result = PMJSONComputeSyntax(input);
    // The one-line paragraph pairs but does not fold; the braces of the style sheet pair.
    EXPECT_EQ(pairTexts(text, result.foldableWrappedSubstrings),
              QStringList({text, QStringLiteral("<style>\na {\n\tcolor: red;\n}\n</style>")}));
    EXPECT_TRUE(pairTexts(text, result.allWrappedSubstrings).contains(QStringLiteral("<p>one</p>")));
    EXPECT_TRUE(pairTexts(text, result.allWrappedSubstrings).contains(QStringLiteral("{\n\tcolor: red;\n}")));
    EXPECT_EQ(result.foldableWrappedSubstrings[0]->tagName, QStringLiteral("div"));
    EXPECT_EQ(roleAt(result, 1), Role::Tag);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("one"))), Role::Key);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("\"x\""))), Role::Value);
    EXPECT_EQ(roleAt(result, text.indexOf(QLatin1String("color"))), Role::OtherCode);
}

// The scanners find what the documented expressions find, on random texts made of the
// characters that matter to them.
TEST(PMJSONSyntaxTest, ScannersAgreeWithTheExpressions)
{
    const auto quoted = platform::RegularExpression::make(QStringLiteral("(?<!\\\\)(?:\\\\\\\\)*(\".*?(?<!\\\\)(?:\\\\\\\\)*\")(\\s*:)?"),
                                                          platform::RegularExpression::CaseInsensitive);
    const auto tagName = platform::RegularExpression::make(QStringLiteral("<\\s*(?:/|!|\\?)?\\s*(.+?)(?:\\s|>|/)"),
                                                           platform::RegularExpression::CaseInsensitive);
    ASSERT_TRUE(quoted && tagName);
    std::mt19937 random(46);
    const QString jsonAlphabet = QStringLiteral("\"\\\\a :\n{}");
    const QString xmlAlphabet = QStringLiteral("<>/!? a\nk");
    for (int round = 0; round < 400; ++round) {
        QString json, xml;
        const int length = int(random() % 40);
        for (int k = 0; k < length; ++k) {
            json += jsonAlphabet.at(qsizetype(random() % jsonAlphabet.size()));
            xml += xmlAlphabet.at(qsizetype(random() % xmlAlphabet.size()));
        }
        std::vector<std::pair<qsizetype, bool>> expected;
        for (const auto& match : quoted->matches(json))
            expected.emplace_back(match.range(1).start, match.range(2).found() && match.range(2).length > 0);
        std::vector<std::pair<qsizetype, bool>> found;
        for (const PMSubstring& s : pass(json, PMJSONTextViewFormatJSON).quotedSubstrings)
            found.emplace_back(s.range.location, s.key);
        EXPECT_EQ(found, expected) << json.toStdString();

        std::vector<qsizetype> expectedTags, foundTags;
        for (const auto& match : tagName->matches(xml))
            expectedTags.push_back(match.range(1).start);
        for (const PMJSONColorSpan& span : pass(xml, PMJSONTextViewFormatXML).spans) {
            if (span.role == Role::Tag)
                foundTags.push_back(span.start);
        }
        EXPECT_EQ(foundTags, expectedTags) << xml.toStdString();
    }
}

} // namespace
