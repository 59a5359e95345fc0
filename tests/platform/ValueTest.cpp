#include "platform/Format.h"
#include "platform/Value.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

using namespace platform;

TEST(Value, ConversionsFollowNumbersAndLeadingNumericText)
{
    struct Case {
        Value value;
        double asDouble;
        long long asInteger;
        bool asBool;
    };
    const Case cases[] = {
        {Value(), 0, 0, false},
        {Value(12), 12, 12, true},
        {Value(2.75), 2.75, 2, true},
        {Value(true), 1, 1, true},
        {Value("12abc"), 12, 12, true},
        {Value("  -3.5e2x"), -350, -3, true},
        {Value("YES"), 0, 0, true},
        {Value("no"), 0, 0, false},
        {Value("true"), 0, 0, true},
        {Value("  0007"), 7, 7, true},
        {Value("0"), 0, 0, false},
        {Value("abc"), 0, 0, false},
        {Value("99999999999999999999"), 1e20, 9223372036854775807LL, true},
        {Value(Array::make({1})), 0, 0, false},
        {Value(QByteArray("1")), 0, 0, false},
        {Value(Date{5}), 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.description().toStdString());
        EXPECT_DOUBLE_EQ(c.value.toDouble(), c.asDouble);
        EXPECT_EQ(c.value.toLongLong(), c.asInteger);
        EXPECT_EQ(c.value.toBool(), c.asBool);
    }
}

TEST(Value, ArraysAndDictionariesAreSharedReferences)
{
    DictionaryPtr inner = Dictionary::make({{"a", 1}});
    Value v(inner);
    ASSERT_TRUE(v.isDictionary());
    v.dictionary()->setValue("b", "x");
    EXPECT_EQ(inner->count(), 2);
    inner->setValue("a", Value());
    EXPECT_FALSE(inner->contains("a"));

    ArrayPtr a = Array::make({1, "two", 3.0});
    Value copy = Value(a);
    copy.array()->append(Value(false));
    EXPECT_EQ(a->count(), 4);
}

TEST(Value, EqualityComparesPropertyListsByContent)
{
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(true), Value(1));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value(Dictionary::make({{"k", Array::make({1, "x"})}})), Value(Dictionary::make({{"k", Array::make({1, "x"})}})));
    EXPECT_NE(Value(Dictionary::make({{"k", 1}})), Value(Dictionary::make({{"k", 2}})));
    EXPECT_EQ(Value(18446744073709551615ULL).unsignedInteger(), 18446744073709551615ULL);
    EXPECT_NE(Value(18446744073709551615ULL), Value(-1));
}

TEST(Format, PrintfConversionsAndObjects)
{
    struct Case {
        QString got;
        const char* expected;
    };
    const Case cases[] = {
        {format("cannot move <%@> to <%@>", QStringLiteral("/a"), QStringLiteral("/b")), "cannot move </a> to </b>"},
        {format("%lu of %ld", size_t(3), long(-4)), "3 of -4"},
        {format("%.2f|%5d|%-4s|%%", 2.345, 42, "ab"), "2.35|   42|ab  |%"},
        {format("%@", Value(12)), "12"},
        {format("%@ and %@", Value("x")), "x and "},
        {format("(%@ more)", 7), "(7 more)"},
        {format("%x %03u", 255u, 7u), "ff 007"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got.toStdString(), c.expected);
}
