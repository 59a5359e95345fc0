#include "foundation/PMLSONSerialization.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

using platform::Value;

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

Value sampleDictionary()
{
    return Value(platform::Dictionary::make({{q("a"), Value(1)}, {q("b"), Value(platform::Array::make({Value(true), Value(q("x/y"))}))}}));
}

TEST(PropertyListText, FourFormatsRoundTripWithExactTexts)
{
    const Value dict = sampleDictionary();
    struct Case { PMJSONTextViewFormat format; const char* text; };
    const Case cases[] = {
        {PMJSONTextViewFormatXML,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n\t<key>a</key>\n\t<integer>1</integer>\n\t<key>b</key>\n\t<array>\n"
         "\t\t<true/>\n\t\t<string>x/y</string>\n\t</array>\n</dict>\n</plist>\n"},
        {PMJSONTextViewFormatXMLShorthand,
         "<key>a</key>\n<integer>1</integer>\n<key>b</key>\n<array>\n\t<true/>\n\t<string>x/y</string>\n</array>\n"},
        {PMJSONTextViewFormatJSON, "{\n\t\"a\" : 1,\n\t\"b\" : [\n\t\ttrue,\n\t\t\"x/y\"\n\t]\n}"},
        {PMJSONTextViewFormatJSONShorthand, "\"a\" : 1\n\"b\" : [\n\ttrue\n\t\"x/y\"\n]\n"},
    };
    for (const Case& c : cases) {
        std::optional<QString> text;
        switch (c.format) {
        case PMJSONTextViewFormatXML: text = PMLSONSerialization::XMLStringWithObject(dict, false); break;
        case PMJSONTextViewFormatXMLShorthand: text = PMLSONSerialization::XMLStringWithObject(dict, true); break;
        case PMJSONTextViewFormatJSON: text = PMLSONSerialization::JSONStringWithObject(dict, false, false); break;
        default: text = PMLSONSerialization::JSONStringWithObject(dict, true, true); break;
        }
        ASSERT_TRUE(text) << c.format;
        EXPECT_EQ(*text, q(c.text)) << c.format;
        PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
        QString error = q("stale");
        const Value read = PMLSONSerialization::objectWithString(*text, &format, &error);
        EXPECT_EQ(read, dict) << c.format;
        EXPECT_EQ(format, c.format);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        // Booleans stay booleans, numbers numbers.
        EXPECT_TRUE(read.dictionary()->value(q("b")).array()->at(0).isBool()) << c.format;
        EXPECT_TRUE(read.dictionary()->value(q("a")).isInteger()) << c.format;
    }
}

TEST(PropertyListText, WritingEdgeCases)
{
    const Value array(platform::Array::make({Value(1), Value(2)}));
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(array, true, true), q("[\n\t1\n\t2\n]"));
    EXPECT_EQ(PMLSONSerialization::XMLStringWithObject(array, true), q("<array>\n\t<integer>1</integer>\n\t<integer>2</integer>\n</array>"));
    // Line breaks and tabs inside texts survive the shorthand's loss of one indentation level.
    const Value texts(platform::Dictionary::make({{q("k\n\tk"), Value(platform::Dictionary::make({{q("v"), Value(q("a\n\tb\n\t\tc"))}}))}}));
    EXPECT_EQ(PMLSONSerialization::XMLStringWithObject(texts, true),
              q("<key>k\n\tk</key>\n<dict>\n\t<key>v</key>\n\t<string>a\n\tb\n\t\tc</string>\n</dict>\n"));
    EXPECT_EQ(PMLSONSerialization::objectWithString(*PMLSONSerialization::XMLStringWithObject(texts, true), nullptr, nullptr), texts);
    const Value empty(platform::Dictionary::make());
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(empty, true, true), QString());
    EXPECT_EQ(PMLSONSerialization::XMLStringWithObject(empty, true), q("<dict/>\n"));
    EXPECT_EQ(PMLSONSerialization::XMLStringWithObject(Value(q("top")), true), q("<string>top</string>\n"));
    // Dates and data cannot be JSON; the XML writer takes them.
    const Value withDate(platform::Dictionary::make({{q("d"), Value(platform::Date{0})}}));
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(withDate, false, false), std::nullopt);
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(Value(platform::Array::make({Value(QByteArray("x"))})), true, true), std::nullopt);
    EXPECT_TRUE(PMLSONSerialization::XMLStringWithObject(withDate, false));
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(Value(), false, false), std::nullopt);
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(Value(q("top")), false, false), std::nullopt);
    // Reals stay reals, text is escaped, slashes only on request.
    const Value mixed(platform::Array::make({Value(2.0), Value(0.1), Value(q("q\"\\\n/"))}));
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(mixed, false, false), q("[\n\t2.0,\n\t0.1,\n\t\"q\\\"\\\\\\n/\"\n]"));
    platform::UserDefaults::standard().setBool(true, q("PMJSONTextViewEscapesJSONSlashes"));
    EXPECT_EQ(PMLSONSerialization::JSONStringWithObject(Value(platform::Array::make({Value(q("a/b"))})), false, false), q("[\n\t\"a\\/b\"\n]"));
    platform::UserDefaults::standard().removeObjectForKey(q("PMJSONTextViewEscapesJSONSlashes"));
}

TEST(PropertyListText, ReadingAndErrors)
{
    struct Case { const char* text; PMJSONTextViewFormat format; const char* json; };
    // The value of each readable text, given as JSON for comparison.
    const Case cases[] = {
        {"[\n1\n2\n3\n]", PMJSONTextViewFormatJSONShorthand, "[1,2,3]"},           // one-character lines
        {"[\n\t1\n\t2\n\n]", PMJSONTextViewFormatJSONShorthand, "[1,2]"},           // a blank line before the bracket
        {"{\n\"a\" : [\n\n1\n\n2\n]\n\n\"b\" : {}\n}", PMJSONTextViewFormatJSONShorthand, "{\"a\":[1,2],\"b\":{}}"},
        {"\"k\" : \"v\"", PMJSONTextViewFormatJSONShorthand, "{\"k\":\"v\"}"},
        {"{\"k\": [true, false, null, -1.5e2, 18446744073709551615]}", PMJSONTextViewFormatJSON,
         "{\"k\":[true,false,null,-150.0,18446744073709551615]}"},
        {"<array><integer>1</integer></array>", PMJSONTextViewFormatXML, "[1]"},
        {"  <key>a</key><string>b</string>", PMJSONTextViewFormatXMLShorthand, "{\"a\":\"b\"}"},
        {"{ a = (1, 2); }", PMJSONTextViewFormatXML, "{\"a\":[\"1\",\"2\"]}"},      // the old text form
    };
    for (const Case& c : cases) {
        PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
        QString error;
        const Value value = PMLSONSerialization::objectWithString(q(c.text), &format, &error);
        const Value expected = PMLSONSerialization::objectWithString(q(c.json), nullptr, nullptr);
        EXPECT_EQ(value, expected) << c.text << " " << error.toStdString();
        EXPECT_EQ(format, c.format) << c.text;
    }
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
    EXPECT_EQ(objectValueFromString(q("hello"), &format), Value(q("hello")));
    EXPECT_EQ(format, PMJSONTextViewFormatXML);

    QString error = q("stale");
    EXPECT_TRUE(PMLSONSerialization::objectWithString(q(" \n\t "), &format, &error).isNull());
    EXPECT_TRUE(error.isEmpty());
    // A text with a key tag reports the XML reader's error, with the place in the user's text.
    EXPECT_TRUE(PMLSONSerialization::objectWithString(q("<key>a</key><strin>b</string>"), nullptr, &error).isNull());
    EXPECT_TRUE(error.startsWith(q("XML property list, line 1, column 13"))) << error.toStdString();
    // Without one, the JSON reader's error.
    EXPECT_TRUE(PMLSONSerialization::objectWithString(q("[1 2]"), nullptr, &error).isNull());
    EXPECT_TRUE(error.startsWith(q("JSON text, line 1, column 4"))) << error.toStdString();
    EXPECT_TRUE(PMLSONSerialization::objectWithString(q("{\n\"a\" : [1,\n 2 x]}"), nullptr, &error).isNull());
    EXPECT_TRUE(error.startsWith(q("JSON text, line 3, column 4"))) << error.toStdString();
    // In shorthand, the place is the one in the user's text, not in the braces put around it.
    EXPECT_TRUE(PMLSONSerialization::objectWithString(q("\"a\" : [1 2]"), nullptr, &error).isNull());
    EXPECT_TRUE(error.startsWith(q("JSON text, line 1, column 10"))) << error.toStdString();
    // Entities are never expanded.
    EXPECT_TRUE(PMLSONSerialization::objectWithString(
                    q("<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY x \"boom\">]><plist><dict><key>k</key><string>&x;</string></dict></plist>"), nullptr, &error)
                    .isNull());
    EXPECT_TRUE(error.contains(q("entity"))) << error.toStdString();
    // Nesting beyond the limit is an error, not a crash.
    EXPECT_TRUE(PMLSONSerialization::objectWithString(QString(100000, QLatin1Char('[')), nullptr, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

TEST(PropertyListText, CommaConversions)
{
    struct Case { const char* json; const char* lson; };
    const Case cases[] = {
        {"[\n1,\n2,\n3\n]", "[\n1\n2\n3\n]"},
        {"{\n\t\"a\" : [\n\t\t1,\n\t\t2\n\t],\n\t\"b\" : 2\n}", "{\n\t\"a\" : [\n\t\t1\n\t\t2\n\t]\n\t\"b\" : 2\n}"},
        {"[\"x,\",\n\"y\"]", "[\"x,\"\n\"y\"]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PMLSONSerialization::LSONStringFromJSONString(q(c.json)), q(c.lson)) << c.json;
        EXPECT_EQ(PMLSONSerialization::JSONStringFromLSONString(q(c.lson)), q(c.json)) << c.lson;
    }
    // Blank lines: the comma goes after the element, none before a closing bracket.
    EXPECT_EQ(PMLSONSerialization::JSONStringFromLSONString(q("[\n1\n\n2\n\n]")), q("[\n1,\n\n2\n\n]"));
}

} // namespace
