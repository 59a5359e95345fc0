#include "foundation/PMCSVParser.h"
#include "platform/SystemLog.h"

#include <gtest/gtest.h>

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

TEST(CSV, QuotingOfOneField)
{
    struct Case { const char* field; const char* separator; const char* quoted; };
    const Case cases[] = {
        {"abc", ",", "abc"},
        {"c,d", ",", "\"c,d\""},
        {"5\" disk", ",", "\"5\"\" disk\""},
        {"line\nbreak", ",", "\"line\nbreak\""},
        {"a;b", ",", "a;b"},
        {"a;b", ";", "\"a;b\""},
        {"", ",", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PMCSVQuotedField(q(c.field), q(c.separator)), q(c.quoted)) << c.field;
    EXPECT_EQ(PMCSVQuotedFieldWithSeparator(QString(), q(",")), QString());
    EXPECT_EQ(PMCSVQuotedFieldWithSeparator(q("a,b"), QString()), q("\"a,b\""));
}

TEST(CSV, JoinAndSplitRoundTrip)
{
    const QStringList fieldsList[] = {
        {q("a"), q("b"), q("c,d")},
        {q("5\" disk"), q("x")},
        {q("two\nlines"), q("\"\""), q("  padded  ")},
        {q("Zoë"), q("日本"), q("a;b")},
    };
    for (const QStringList& fields : fieldsList) {
        const QString line = PMCSVStringWithFields(fields, QString(), false);
        QStringList expected;
        for (const QString& f : fields)
            expected << f.trimmed();
        EXPECT_EQ(PMCSVFieldsFromString(line, QString()), expected) << line.toStdString();
    }
    EXPECT_EQ(PMCSVStringWithFields({q("a"), q("b"), q("c,d")}, QString(), false), q("a, b, \"c,d\""));
    EXPECT_EQ(PMCSVStringWithFields({q("5\" disk")}, q(","), false), q("\"5\"\" disk\""));
}

TEST(CSV, JoiningTrimsAndDropsEmptyFields)
{
    struct Case { QStringList fields; const char* separator; bool trim; const char* line; };
    const Case cases[] = {
        {{}, ",", true, ""},
        {{q(" a "), q("  "), q(",,"), q("\t")}, ",", true, "a"},
        {{q(" a "), q(",b,")}, ",", true, "a, b"},
        {{q("a"), q(""), q("b")}, ",", false, "a, , b"},
        {{q(" "), q("\n")}, ",", true, ""},
        {{q("a"), q("b")}, ";", true, "a; b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PMCSVStringWithFields(c.fields, q(c.separator), c.trim), q(c.line)) << c.line;
}

TEST(CSV, SplittingFields)
{
    struct Case { const char* text; const char* separator; QStringList fields; };
    const Case cases[] = {
        {"a,,b", ",", {q("a"), q("b")}},
        {"a, b, \"c,d\"", ",", {q("a"), q("b"), q("c,d")}},
        {"\"abc\"def, x", ",", {q("abcdef"), q("x")}},
        {"  \"  spaced  \"  ", ",", {q("  spaced  ")}},
        {"\"abc", ",", {q("\"abc")}},                  // unclosed: the whole text, trimmed
        {"  \"abc  ", ",", {q("\"abc")}},
        {"a;b,c", ";", {q("a"), q("b,c")}},
        {"a::b::c", "::", {q("a"), q("b"), q("c")}},
        {"a\r\nb\n\nc", ",", {q("a"), q("b"), q("c")}},
        {"\"x\ny\", z", ",", {q("x\ny"), q("z")}},
        {"\"\"\"a\"", ",", {q("\"a")}},
        {"\"\", a", ",", {q("a")}},
        {" , ,\t", ",", {}},
        {"", ",", {}},
        {"a\xe2\x80\xa8" "b", ",", {q("a"), q("b")}}, // line separator ends a line
    };
    for (const Case& c : cases)
        EXPECT_EQ(PMCSVFieldsFromString(q(c.text), q(c.separator)), c.fields) << c.text;
}

TEST(CSV, Records)
{
    EXPECT_EQ(PMCSVRecordsFromString(q("a,,b"), QString()), (QList<QStringList>{{q("a"), q(""), q("b")}}));
    // A quoted value holding a line break stays one field of one record.
    EXPECT_EQ(PMCSVRecordsFromString(q("\"one\ntwo\",x\r\ny,z\r\n"), QString()),
              (QList<QStringList>{{q("one\ntwo"), q("x")}, {q("y"), q("z")}}));
    // A record with the wrong number of fields is dropped and logged; the rest stay.
    QStringList logged;
    platform::setSystemLogSink([&](const QString& line) { logged << line; });
    EXPECT_EQ(PMCSVRecordsFromString(q("a,b,c\nd,\"e\"\nf,\"g,h\",i"), QString()),
              (QList<QStringList>{{q("a"), q("b"), q("c")}, {q("f"), q("g,h"), q("i")}}));
    platform::setSystemLogSink(nullptr);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged.first().endsWith(q("[PMCSVParser] incorrect number of fields in record: (\n    d,\n    e\n) (expected: 3; raw line: d,\")")))
        << logged.first().toStdString();
    // An unclosed quote gives nothing at all.
    EXPECT_TRUE(PMCSVRecordsFromString(q("a,b\n\"c,d"), QString()).isEmpty());
}

TEST(CSV, ScannerReportsUnclosedQuoteAndKeepsOutputs)
{
    PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(q("a,\"b\"\"c"));
    QStringList fields{q("untouched")};
    EXPECT_FALSE(scanner.scanCSVWithFieldSeparator(q(","), true, false, &fields, nullptr));
    EXPECT_EQ(fields, QStringList{q("untouched")});

    PMCSVScanner untrimmed = PMCSVScanner::CSVScannerWithString(q(" a , b "));
    EXPECT_TRUE(untrimmed.scanCSVWithFieldSeparator(q(","), false, false, &fields, nullptr));
    EXPECT_EQ(fields, (QStringList{q(" a "), q(" b ")}));
    EXPECT_TRUE(untrimmed.isAtEnd());
}

TEST(CSV, DefaultSeparatorFromTheUserDefault)
{
    EXPECT_EQ(PMCSVFieldSeparatorFromDefaultValue(platform::Value(q(" ; "))), q(";"));
    EXPECT_EQ(PMCSVFieldSeparatorFromDefaultValue(platform::Value(q(" \n "))), q(","));
    EXPECT_EQ(PMCSVFieldSeparatorFromDefaultValue(platform::Value()), q(","));
    EXPECT_EQ(PMCSVFieldSeparatorFromDefaultValue(platform::Value(42)), q(","));
    // A quote or line break could never separate fields.
    EXPECT_EQ(PMCSVFieldSeparatorFromDefaultValue(platform::Value(q("\""))), q(","));
    EXPECT_EQ(PMCSVDefaultFieldSeparator(), q(","));
}

TEST(CSV, CachedFieldsAndPrettyString)
{
    const QString text = q("\"a, b\", c");
    EXPECT_EQ(cachedCSVFields(text), (QStringList{q("a, b"), q("c")}));
    EXPECT_EQ(cachedCSVFields(text), (QStringList{q("a, b"), q("c")}));
    EXPECT_EQ(prettyButBrokenCSVString(text), q("a, b, c"));
    EXPECT_EQ(prettyButBrokenCSVString(q("single")), q("single"));
    EXPECT_EQ(prettyButBrokenCSVString(q(" , ")), QString());
    EXPECT_TRUE(cachedCSVFields(QString()).isEmpty());
}

} // namespace
