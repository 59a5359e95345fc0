#include "foundation/NSString+PMHelpManagerMatching.h"

#include <gtest/gtest.h>

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

TEST(Matching, WildcardTable)
{
    struct Case { const char* string; const char* pattern; bool matches; };
    const Case cases[] = {
        {"Clip.MOV", "*.mov", true},
        {"TMP-files", "tmp*", true},
        {"a-x-b-y-c", "a*b*c", true},
        {"a-c-x", "a*b*c", false},
        {"my backup copy", "* backup *", true},
        {"backup", "* backup *", true},
        {"backdrop", "* backup *", false},
        {"movies", "Movies", true},
        {"movies2", "Movies", false},
        {"anything", "*", true},
        {"", "*", true},
        {"ab", "a**b", true},             // an empty middle piece is skipped
        {"axyb", "a* *b", true},
        {"abc", "abc*abc", false},         // prefix and suffix never overlap
        {"abcabc", "abc*abc", true},
        {"Cafe\xcc\x81.mov", "caf\xc3\xa9*", true}, // decomposed text, precomposed pattern
        {"/media/me/My Disk /tmp", "/media/me/My Disk */tmp", true},
        {"/media/me/My Disk/tmp", "/media/me/My Disk */tmp", false}, // the blank is part of the path
        {"/home/me/Movies/x.part", "*/movies/*.part", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesWildcardQuery(q(c.string), q(c.pattern)), c.matches) << c.string << " ~ " << c.pattern;
    EXPECT_FALSE(matchesWildcardQuery(q("x"), QString()));
}

TEST(Matching, QualityTable)
{
    struct Case { const char* string; const char* query; bool fuzzy; std::uint64_t quality; };
    const Case cases[] = {
        {"Library", "lib", true, 0},
        {"My Library", "lib", true, 2},
        {"Apple Banana", "ab", true, 1},      // initials
        {"APPLE BANANA", "ab", true, 3},      // all capitals: gaps count
        {"Café", "cafe", true, 2},            // accents ignored only when fuzzy
        {"Café", "cafe", false, PMNotFound},
        {"apple banana", "ab", true, 3},      // from the start, one gap
        {"xapple banana", "ab", true, 6},     // not from the start: 3 + 2 gaps + 1
        {"Ｆｕｌｌ", "full", true, 2},         // widths ignored
        {"name", "   ", true, PMNotFound},
        {"name", "   ", false, PMNotFound},
        {"", "a", true, PMNotFound},
        {"abc", "", true, PMNotFound},
        {"ab", "abc", true, PMNotFound},      // runs out of text
        {"a b c", "a b c", true, 0},
        {"axbxc", "a b c", true, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matchingQualityOfQuery(q(c.string), q(c.query), c.fuzzy), c.quality) << c.string << " / " << c.query;
        // The evaluator answers the same for every target.
        const auto evaluator = newMatchingQualityEvaluatorAllowingFuzzyMatching(q(c.query), c.fuzzy);
        if (evaluator)
            EXPECT_EQ((*evaluator)(q(c.string)), c.quality) << c.string << " / " << c.query;
        else
            EXPECT_TRUE(QString::fromUtf8(c.query).isEmpty());
    }
}

TEST(Matching, CollectedRanges)
{
    QList<PMRange> ranges;
    EXPECT_EQ(matchingQualityOfQuery(q("My Library"), q("lib"), true, &ranges), 2u);
    EXPECT_EQ(ranges, (QList<PMRange>{{3, 3}}));
    ranges.clear();
    EXPECT_EQ(matchingQualityOfQuery(q("Apple Banana"), q("ab"), true, &ranges), 1u);
    EXPECT_EQ(ranges, (QList<PMRange>{{0, 1}, {6, 1}}));
    // A failed fuzzy match leaves the ranges empty.
    ranges = {{1, 1}};
    EXPECT_EQ(matchingQualityOfQuery(q("ab"), q("abc"), true, &ranges), PMNotFound);
    EXPECT_TRUE(ranges.isEmpty());
    // Fuzzy ranges lie in the precomposed text.
    ranges.clear();
    EXPECT_EQ(matchingQualityOfQuery(q("Cafe\xcc\x81 x"), q("cafex"), true, &ranges), 3u);
    EXPECT_EQ(ranges.at(3), (PMRange{3, 1}));
}

TEST(Matching, SearchWords)
{
    EXPECT_EQ(wordsFromString(q("a 1")), QStringList());
    EXPECT_EQ(wordsFromString(q("How to re-encode, RE-ENCODE 2 movies.")),
              (QStringList{q("how"), q("to"), q("re-encode"), q("movies")}));
    EXPECT_EQ(wordsFromString(q("abc123def")), (QStringList{q("abc"), q("def")}));
}

} // namespace
