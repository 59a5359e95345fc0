#include "foundation/NSString+PMHelpManager.h"

#include <gtest/gtest.h>

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

TEST(MetaReferences, FindingSplittingAndReadableForm)
{
    PMRange range;
    EXPECT_EQ(firstMetaReferenceWithRange(q("a<?meta:Genre?>b"), &range), q("Genre"));
    EXPECT_EQ(range, (PMRange{1, 14}));
    EXPECT_EQ(firstMetaReferenceWithRange(q("x <?META: Year ?>"), &range), q(" Year "));
    EXPECT_EQ(range, (PMRange{2, 15}));
    EXPECT_EQ(firstMetaReferenceWithRange(q("<?meta:open"), &range), std::nullopt);
    EXPECT_FALSE(range.found());

    struct Case { const char* text; QStringList pieces; };
    const Case cases[] = {
        {"<?meta:open", {q("<?meta:open")}},
        {"<?meta:Genre?>", {q("<?meta:Genre?>")}},
        {"a<?meta:x?><?meta:y?>b", {q("a"), q("<?meta:x?>"), q("<?meta:y?>"), q("b")}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(metaReferenceComponents(q(c.text)), c.pieces) << c.text;

    EXPECT_EQ(stringByMakingMetaReferencesReadableWithMetaPrefix(q("<?meta:   ?>"), false), q("-"));
    EXPECT_EQ(stringByMakingMetaReferencesReadableWithMetaPrefix(q("<?meta:   ?>"), true), q("→ -"));
    EXPECT_EQ(stringByMakingMetaReferencesReadableWithMetaPrefix(q("By <?meta: Director ?> (<?Meta:Year?>)"), true),
              q("By → Director (→ Year)"));
    // A replacement that forms a new reference is read again, and the rounds end.
    EXPECT_EQ(stringByMakingMetaReferencesReadableWithMetaPrefix(q("<?meta:<?meta:?>?>"), false), q("-"));
}

TEST(TextHelpers, ShorteningAndReversing)
{
    EXPECT_EQ(ellipsedStringWithMaximumLength(q("The Long Goodbye"), 10), q("The Long …"));
    EXPECT_EQ(ellipsedStringWithMaximumLength(q("Extraordinarily"), 10), q("Extraordin…"));
    EXPECT_EQ(ellipsedStringWithMaximumLength(q("Short"), 10), q("Short"));
    EXPECT_EQ(stringFromNonEmptyTrimmedStringWithMaximumLength(q("Hello World Foo"), 8, false), q("Hello Wor"));
    EXPECT_EQ(stringFromNonEmptyTrimmedStringWithMaximumLength(q("Hello World Foo"), 8, true), q("HELLOWOR"));
    EXPECT_EQ(stringFromNonEmptyTrimmedStringWithMaximumLength(q("hello"), 1, true), q("H"));
    EXPECT_EQ(stringFromNonEmptyTrimmedStringWithMaximumLength(q("ab cd"), 4, false), q("ab cd"));
    EXPECT_EQ(stringFromNonEmptyTrimmedStringWithMaximumLength(q("😀 x"), 1, false), q("😀"));
    EXPECT_EQ(invertedString(q("abc")), q("cba"));
    EXPECT_EQ(invertedString(q("a😀e\xcc\x81")), q("e\xcc\x81😀a")); // pairs and accents stay whole
    EXPECT_EQ(invertedString(q("x")), q("x"));
    EXPECT_EQ(trimmedString(q(" \n a b \t")), q("a b"));
    EXPECT_EQ(stringByRemovingCharactersInSet(q("a-b_c"), q("-_")), q("abc"));
}

TEST(TextHelpers, PrefixesAndSuffixes)
{
    EXPECT_EQ(substringBeforeSuffix(q("a.b.c"), q("."), false), q("a"));
    EXPECT_EQ(substringBeforeSuffix(q("a.b.c"), q("."), true, false), q("a.b"));
    EXPECT_EQ(substringAfterPrefix(q("a.b.c"), q("."), false), q("b.c"));
    EXPECT_EQ(substringAfterPrefix(q("a.b.c"), q("."), true, false), q("c"));
    EXPECT_EQ(substringAfterPrefix(q("abc"), q("x"), true), q("abc"));
    EXPECT_EQ(substringAfterPrefix(q("abc"), q("x"), false), std::nullopt);
    EXPECT_EQ(substringBetweenPrefix(q("key=[value]"), q("["), q("]"), false), q("value"));
    EXPECT_EQ(substringBetweenPrefix(q("key=value]"), q("["), q("]"), false), std::nullopt);
    EXPECT_EQ(substringBetweenPrefix(q("key=value]"), q("["), q("]"), true), q("key=value]"));
    EXPECT_EQ(substringBeforeSuffix(q(".mov"), q(".mov"), false), q(""));
}

TEST(TextHelpers, SplittingPatternsAndSymbols)
{
    EXPECT_EQ(componentsSeparatedByNewlines(q(" a \r\n\n\tb\u2028 ")), (QStringList{q("a"), q("b")}));
    EXPECT_TRUE(componentsSeparatedByNewlines(q(" \n \n")).isEmpty());
    EXPECT_EQ(componentsSeparatedByWhitespaceAndNewlines(q(" a\tb\nc  ")), (QStringList{q("a"), q("b"), q("c")}));

    EXPECT_EQ(extensionMatchingQuery(q(".mov, mp4|m4v")), q("\\.(mov|mp4|m4v)$"));
    EXPECT_EQ(extensionMatchingQuery(q(" , ,, ")), std::nullopt);
    EXPECT_EQ(extensionMatchingQuery(q(". mkv")), q("\\.(mkv)$"));

    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("S01E02 and s03e04"), q("s(\\d+)e(\\d+)"), QString()),
              q("01020304"));
    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("Abc abc"), q("ABC"), QString()), q("Abcabc"));
    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("x1y2"), q("match:\\d"), q("match:")), q("12"));
    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("x1"), q("match:"), q("match:")), std::nullopt);
    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("x1"), q("\\d"), q("nope")), std::nullopt);
    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("x1"), q("(bad"), QString()), q(""));
    EXPECT_EQ(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(q("x1"), QString(), QString()), std::nullopt);
    EXPECT_TRUE(caseInsensitiveRegularExpression(q("a+")));
    EXPECT_FALSE(caseInsensitiveRegularExpression(q("a(")));

    EXPECT_EQ(stringWithNumberOfStars(3), q("★★★☆☆"));
    EXPECT_EQ(stringWithNumberOfStars(7), q("★★★★★"));
    EXPECT_EQ(stringWithNumberOfStars(2, QString()), q("★★"));
    EXPECT_EQ(stringWithNumberOfStars(-1), q("☆☆☆☆☆"));
    EXPECT_EQ(stringWithNumber(2, q("x"), q("-"), 4), q("xx--"));
    EXPECT_EQ(spacedRightTriangleArrowString(), q(" ▸ "));
    EXPECT_EQ(spacedDashString(), q(" — "));
}

TEST(TextHelpers, PercentEscapes)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"a%20b", "a b"},
        {"a+%41", "a A"},
        {"plain+text", "plain+text"},
        {"%C3%A9t%C3%A9", "été"},
        {"%E9t%E9", "été"},      // not UTF-8: read as ISO Latin 1
        {"100%", "100%"},        // malformed: unchanged
        {"%zz", "%zz"},
        {"+%20+", " "},          // trimmed before decoding
    };
    for (const Case& c : cases)
        EXPECT_EQ(stringByReplacingPercentEscapesIfNecessary(q(c.in)), q(c.out)) << c.in;
}

} // namespace

#include "foundation/NSString+PMHelpManagerMarks.h"
#include "platform/Value.h"

namespace {

TEST(StringMarks, BelongToOneTextAndTravelWithItsCopies)
{
    QString sortString = QStringLiteral("Saga") + QString::number(2);
    setAssociatedSortLastFlag(sortString, true);
    EXPECT_TRUE(associatedSortLastFlag(sortString));
    EXPECT_FALSE(associatedSeriesIDPrefixFlag(sortString));
    const QString copy = sortString;
    EXPECT_TRUE(associatedSortLastFlag(copy));
    const platform::Value stored(copy); // kept in a record
    EXPECT_TRUE(associatedSortLastFlag(stored.string()));
    EXPECT_FALSE(associatedSortLastFlag(QStringLiteral("Saga2"))); // equal, built elsewhere
    QString changed = sortString;
    changed.append(QLatin1Char('x'));
    EXPECT_FALSE(associatedSortLastFlag(changed));
    setAssociatedSortLastFlag(sortString, false);
    EXPECT_FALSE(associatedSortLastFlag(copy));

    setAssociatedSeriesIDPrefixFlag(QString(), true);
    EXPECT_FALSE(associatedSeriesIDPrefixFlag(QString()));
    // Marks of texts nobody holds any more are swept away without harm to living ones.
    const QString kept = QStringLiteral("kept") + QString::number(1);
    setAssociatedSeriesIDPrefixFlag(kept, true);
    for (int i = 0; i < 5000; ++i)
        setAssociatedSeriesIDPrefixFlag(QString::number(i) + QStringLiteral("-prefix"), true);
    EXPECT_TRUE(associatedSeriesIDPrefixFlag(kept));
}

} // namespace
