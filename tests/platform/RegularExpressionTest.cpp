#include "platform/RegularExpression.h"

#include <gtest/gtest.h>

using platform::RegularExpression;

TEST(RegularExpression, TemplatesGroupsAndOptions)
{
    struct Case { const char* pattern; int options; const char* subject; const char* tmpl; const char* result; };
    const Case cases[] = {
        {"(\\w+) (\\w+)", 0, "hello world", "$2 $1", "world hello"},
        {"a", RegularExpression::CaseInsensitive, "AbA", "x", "xbx"},
        {"(?s)^\\s*\\{\\s*(.*)\\s*\\}\\s*$", 0, "{\n\t\"a\" : 1\n}", "$1", "\"a\" : 1\n"},
        {"x", 0, "abc", "y", "abc"},
        {"b", 0, "abc", "\\$1", "a$1c"},
        {"[[:punct:]]+", 0, "a.,b", "-", "a-b"},
    };
    for (const Case& c : cases) {
        auto re = RegularExpression::make(QString::fromUtf8(c.pattern), c.options);
        ASSERT_TRUE(re) << c.pattern;
        EXPECT_EQ(re->stringByReplacingMatches(QString::fromUtf8(c.subject), QString::fromUtf8(c.tmpl)), QString::fromUtf8(c.result)) << c.pattern;
    }
    QString error;
    EXPECT_FALSE(RegularExpression::make(QStringLiteral("(unclosed"), 0, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(RegularExpression::replace(QStringLiteral("abc"), QStringLiteral("(bad"), QStringLiteral("x")), QStringLiteral("abc"));
}

TEST(RegularExpression, MatchesAndAnchoredSearch)
{
    auto re = RegularExpression::make(QStringLiteral("(\\d)(x)?"));
    ASSERT_TRUE(re);
    EXPECT_EQ(re->numberOfCaptureGroups(), 2);
    const QString subject = QStringLiteral("a1x2b3");
    const auto matches = re->matches(subject);
    ASSERT_EQ(matches.size(), 3);
    EXPECT_EQ(matches[0].captured(subject), QStringLiteral("1x"));
    EXPECT_FALSE(matches[1].range(2).found());
    EXPECT_EQ(re->numberOfMatches(subject), 3);
    RegularExpression::Match m;
    EXPECT_FALSE(re->firstMatch(subject, &m, 0, true));
    EXPECT_TRUE(re->firstMatch(subject, &m, 1, true));
    EXPECT_EQ(m.range().start, 1);
}

TEST(RegularExpression, RunawayBacktrackingGivesUp)
{
    auto re = RegularExpression::make(QStringLiteral("(a+)+$"));
    ASSERT_TRUE(re);
    const QString subject = QString(40, QLatin1Char('a')) + QLatin1Char('b');
    EXPECT_FALSE(re->firstMatch(subject, nullptr));
    EXPECT_EQ(re->stringByReplacingMatches(subject, QStringLiteral("x")), subject);
}
