#include "platform/JSONSerialization.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

using platform::Value;

TEST(JSONSerialization, ReaderErrorsNameTheirPlace)
{
    struct Case { const char* text; const char* error; };
    const Case cases[] = {
        {"", "line 1, column 1: no value"},
        {"42", "line 1, column 1: the text must begin with an array or an object"},
        {"[1,]", "line 1, column 4: unexpected character ']'"},
        {"{\"a\" 1}", "line 1, column 6: ':' was expected"},
        {"[\n\"x\ny\"]", "line 2, column 3: a control character must be escaped"},
        {"[\"\\ud800\"]", "line 1, column 9: an unpaired surrogate escape"},
        {"[01]", "line 1, column 3: a number must not begin with 0"},
        {"[1e999]", "line 1, column 2: the number 1e999 is out of range"},
        {"[1] x", "line 1, column 5: unexpected text after the value"},
        {"[\"open", "line 1, column 7: unterminated string"},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_TRUE(platform::readJSON(QString::fromUtf8(c.text), &error).isNull()) << c.text;
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << c.text << " -> " << error.toStdString();
    }
    QString error;
    EXPECT_TRUE(platform::readJSON(QString(600, QLatin1Char('[')) + QString(600, QLatin1Char(']')), &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("deeper than 512")));
}

TEST(JSONSerialization, ValuesAndCompactWriting)
{
    QString error;
    const Value v = platform::readJSON(QString::fromUtf8("\xEF\xBB\xBF{\"e\":\"\\u00e9\\ud83d\\ude00\\/\",\"n\":[-0,9223372036854775808,1.5,true,null]}"), &error);
    ASSERT_FALSE(v.isNull()) << error.toStdString();
    EXPECT_EQ(v.dictionary()->value(QStringLiteral("e")), Value(QString::fromUtf8("é😀/")));
    const platform::ArrayPtr n = v.dictionary()->value(QStringLiteral("n")).array();
    EXPECT_TRUE(n->at(1).isUnsignedInteger());
    EXPECT_TRUE(n->at(2).isReal());
    EXPECT_TRUE(n->at(3).isBool());
    EXPECT_TRUE(n->at(4).isNull());
    QString text;
    platform::JSONWriteOptions compact;
    compact.prettyPrinted = false;
    ASSERT_TRUE(platform::writeJSON(v, compact, &text));
    EXPECT_EQ(text, QString::fromUtf8("{\"e\":\"é😀/\",\"n\":[0,9223372036854775808,1.5,true,null]}"));
    EXPECT_FALSE(platform::writeJSON(Value(platform::Array::make({Value(std::nan(""))})), compact, &text, &error));
    EXPECT_FALSE(platform::writeJSON(Value(platform::Array::make({Value(QString(QChar(0xD800)))})), compact, &text, &error));
}
