// The folding model without a widget: the state string, default and preserved folds, the
// outermost fold hiding the ones inside it, and the marks following edits.
#include "ui/plist_editor/PMJSONFolding.h"
#include "ui/plist_editor/PMJSONSyntax.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// <dict> holding an array holding a data element, then a second dict.
const QString kXML = QStringLiteral("<key>a</key>\n<dict>\n\t<key>b</key>\n\t<array>\n\t\t<data>\n\t\tAAEC\n\t\t</data>\n\t</array>\n</dict>\n"
                                    "<key>c</key>\n<dict>\n\t<key>d</key>\n\t<true/>\n</dict>");

std::vector<PMWrappedSubstringPtr> pairsOf(const QString& text, bool autoFoldsData = true)
{
    PMJSONSyntaxInput input;
    input.text = text;
    input.format = PMJSONTextViewFormatXMLShorthand;
    input.colored = true;
    input.autoFoldsData = autoFoldsData;
    return PMJSONComputeSyntax(input).foldableWrappedSubstrings;
}

QString states(const std::vector<PMWrappedSubstringPtr>& pairs)
{
    QString s;
    for (const PMWrappedSubstringPtr& pair : pairs)
        s += pair->implicitlyHidden ? QLatin1Char('h') : pair->folded ? QLatin1Char('-') : QLatin1Char('+');
    return s;
}

TEST(PMJSONFoldingTest, DefaultsStateStringAndWrongLengths)
{
    PMJSONFoldMarks marks;
    std::vector<PMWrappedSubstringPtr> pairs = pairsOf(kXML);
    ASSERT_EQ(pairs.size(), 4u); // dict, array, data, dict in text order
    PMJSONApplyFolding(pairs, marks, {});
    EXPECT_EQ(states(pairs), QStringLiteral("++-+"));
    EXPECT_FALSE(PMJSONFoldingState(pairs)); // all as by default

    // A cached state of one character per pair is applied, and reported back.
    pairs = pairsOf(kXML);
    PMJSONApplyFolding(pairs, marks, {QStringLiteral("+-++"), true});
    EXPECT_EQ(states(pairs), QStringLiteral("+-h+"));
    EXPECT_EQ(PMJSONFoldingState(pairs), QStringLiteral("+-++"));

    // One of another length (the structure changed) gives the defaults.
    for (const QString& wrong : {QStringLiteral("+-+"), QStringLiteral("+-+++"), QString()}) {
        pairs = pairsOf(kXML);
        PMJSONApplyFolding(pairs, marks, {wrong, true});
        EXPECT_EQ(states(pairs), QStringLiteral("++-+")) << wrong.toStdString();
    }
}

TEST(PMJSONFoldingTest, AnOuterFoldHidesTheInnerOnesAndUnfoldingShowsThemUnfolded)
{
    PMJSONFoldMarks marks;
    std::vector<PMWrappedSubstringPtr> pairs = pairsOf(kXML, false);
    PMJSONApplyFolding(pairs, marks, {});
    // Fold the array, then the outer dict, as clicks on their pills do.
    marks.addFolded(*pairs[1]);
    pairs = pairsOf(kXML, false);
    PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    EXPECT_EQ(states(pairs), QStringLiteral("+-h+"));
    marks.addFolded(*pairs[0]);
    pairs = pairsOf(kXML, false);
    const std::vector<PMWrappedSubstring*> folded = PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    EXPECT_EQ(states(pairs), QStringLiteral("-hh+"));
    ASSERT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded[0], pairs[0].get());

    // Unfolding the outer dict shows the inner pairs unfolded.
    marks.removeFolded(pairs[0]->wrappingRange);
    pairs = pairsOf(kXML, false);
    PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    EXPECT_EQ(states(pairs), QStringLiteral("++++"));
}

TEST(PMJSONFoldingTest, FoldsFollowEditsAndUnfoldWhenTheirInsideChanges)
{
    PMJSONFoldMarks marks;
    std::vector<PMWrappedSubstringPtr> pairs = pairsOf(kXML, false);
    PMJSONApplyFolding(pairs, marks, {});
    marks.addFolded(*pairs[3]);
    pairs = pairsOf(kXML, false);
    PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    ASSERT_EQ(states(pairs), QStringLiteral("+++-"));

    // Typing before the fold moves it along.
    QString text = QStringLiteral("<key>z</key>\n<string>new</string>\n") + kXML;
    marks.textChanged(0, 0, 34);
    pairs = pairsOf(text, false);
    PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    EXPECT_EQ(states(pairs), QStringLiteral("+++-"));

    // Typing inside the folded pair changes its inside: it unfolds.
    const qsizetype inside = text.lastIndexOf(QLatin1String("<true/>"));
    text.insert(inside, QStringLiteral("<false/>"));
    marks.textChanged(inside, 0, 8);
    pairs = pairsOf(text, false);
    PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    EXPECT_EQ(states(pairs), QStringLiteral("++++"));
}

TEST(PMJSONFoldingTest, AbilitiesFollowTheStates)
{
    PMJSONFoldMarks marks;
    std::vector<PMWrappedSubstringPtr> pairs = pairsOf(kXML);
    PMJSONApplyFolding(pairs, marks, {});
    PMJSONFoldingAbilities abilities = PMJSONFoldingAbilitiesOf(pairs);
    EXPECT_TRUE(abilities.canFold);
    EXPECT_TRUE(abilities.canUnfold);
    EXPECT_FALSE(abilities.canRestoreDefault);
    for (const PMWrappedSubstringPtr& pair : pairs)
        marks.addFolded(*pair);
    pairs = pairsOf(kXML);
    PMJSONApplyFolding(pairs, marks, {std::nullopt, true});
    abilities = PMJSONFoldingAbilitiesOf(pairs);
    EXPECT_TRUE(abilities.canRestoreDefault);
}

} // namespace
