#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSDate+PMExtensions.h"
#include "platform/DateFormatting.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

platform::Date localDate(int year, int month, int day, int hour, int minute, int second = 0)
{
    platform::Date date;
    EXPECT_TRUE(platform::dateFromCalendarFields({year, month, day, hour, minute, second}, &date));
    return date;
}

platform::Date secondsBefore(const platform::Date& date, double seconds)
{
    return platform::Date{date.secondsSince1970 - seconds};
}

class Dates : public testing::Test {
protected:
    void TearDown() override { platform::setUserLocale(q("en_US")); }
};

TEST_F(Dates, FuzzyDescriptionsInEnglishAndGerman)
{
    const platform::Date now = localDate(2026, 6, 15, 12, 0);
    struct Case { platform::Date date; const char* english; const char* german; };
    const Case cases[] = {
        {platform::Date{now.secondsSince1970 + 30}, "just now", "just now"},
        {secondsBefore(now, 59.9), "just now", "just now"},
        {secondsBefore(now, 90), "1 minute ago", "1 minute ago"},
        {secondsBefore(now, 659), "10 minutes ago", "10 minutes ago"},
        {secondsBefore(now, 660), "Today - 11:49 AM", "Today - 11:49 AM"},
        {localDate(2026, 6, 14, 20, 5), "Yesterday - 8:05 PM", "Yesterday - 8:05 PM"},
        {secondsBefore(now, 47 * 3600), "June 13", "Juni 13"},
        {platform::Date{now.secondsSince1970 + 120}, "June 15", "Juni 15"},  // the future
        {localDate(2027, 3, 1, 9, 0), "March 1, 2027", "März 1, 2027"},
        {localDate(2019, 12, 31, 23, 59, 59), "End of 2019", "End of 2019"},
        {neverDate(), "", ""},
    };
    for (const char* locale : {"en_US", "de_DE"}) {
        platform::setUserLocale(q(locale));
        const bool german = QString::fromLatin1(locale) == q("de_DE");
        for (const Case& c : cases)
            EXPECT_EQ(fuzzyDescriptionForEndOfYearOnly(c.date, false, now), q(german ? c.german : c.english)) << locale << " " << c.english;
    }
    platform::setUserLocale(q("en_US"));
    EXPECT_EQ(fuzzyDescriptionForEndOfYearOnly(dateWithEndOfYear(2019), true, now), q("End of 2019"));
    const QString shortStyle = fuzzyDescriptionForEndOfYearOnly(secondsBefore(now, 30), true, now);
    EXPECT_TRUE(shortStyle.startsWith(q("6/15/26"))) << shortStyle.toStdString();
    EXPECT_EQ(simpleDescription(localDate(2024, 2, 29, 10, 0)), q("February 29, 2024"));
    platform::setUserLocale(q("de_DE"));
    EXPECT_EQ(simpleDescription(localDate(2024, 2, 29, 10, 0)), q("Februar 29, 2024"));
}

TEST_F(Dates, CalendarArithmetic)
{
    const platform::Date end = dateWithEndOfYear(2019);
    platform::CalendarFields fields;
    ASSERT_TRUE(platform::calendarFieldsOfDate(end, &fields));
    EXPECT_EQ(fields.year, 2019);
    EXPECT_EQ(fields.month, 12);
    EXPECT_EQ(fields.day, 31);
    EXPECT_EQ(fields.second, 59);
    ASSERT_TRUE(platform::calendarFieldsOfDate(dateByAddingYears(localDate(2024, 1, 31, 8, 0), 1, 1, -1), &fields));
    EXPECT_EQ(fields.year, 2025);
    EXPECT_EQ(fields.month, 2);
    EXPECT_EQ(fields.day, 27); // Jan 31 + 1 year = 2025-01-31, + 1 month = Feb 28, - 1 day
    EXPECT_TRUE(isNeverDate(neverDate()));
}

TEST_F(Dates, CanonicalDateHoldsForOneTurnOfTheEventLoop)
{
    const platform::Date first = canonicalMainQueueDate();
    QThread::msleep(5);
    EXPECT_EQ(canonicalMainQueueDate(), first);
    QCoreApplication::processEvents();
    QThread::msleep(5);
    EXPECT_GT(canonicalMainQueueDate(), first);
}

TEST(Arrays, CaseInsensitiveStrings)
{
    QStringList list{q("Alpha"), q("beta"), q("ÄRGER")};
    EXPECT_EQ(indexOfStringWithSameLowercaseStringAsString(list, q("BETA")), 1);
    EXPECT_TRUE(containsStringWithSameLowercaseStringAsString(list, q("ärger")));
    EXPECT_FALSE(containsStringWithSameLowercaseStringAsString(list, q("gamma")));
    EXPECT_TRUE(removeStringWithSameLowercaseStringAsString(list, q("ALPHA")));
    EXPECT_FALSE(removeStringWithSameLowercaseStringAsString(list, q("ALPHA")));
    EXPECT_EQ(list, (QStringList{q("beta"), q("ÄRGER")}));
    EXPECT_EQ(trimmedStrings({q(" a "), q(""), q(" \n"), q("b")}), (QStringList{q("a"), q("b")}));
    EXPECT_EQ(stringsByTrimmingCharactersInSet({q("-a-"), q("--"), q("")}, q("-")), QStringList{q("a")});
    EXPECT_EQ(stringsByTrimmingCharactersInSet({q(" a "), q("")}, QString()), QStringList{q(" a ")});
}

TEST(Arrays, IdentityAndIndexSets)
{
    const QString text = q("shared");
    auto a = platform::Array::make({platform::Value(text), platform::Value(1)});
    auto b = platform::Array::make({platform::Value(text), platform::Value(1)});
    auto c = platform::Array::make({platform::Value(QString(q("shar")) + q("ed")), platform::Value(1)});
    EXPECT_TRUE(isIdenticalToArray(a, a));
    EXPECT_TRUE(isIdenticalToArray(a, b));
    EXPECT_FALSE(isIdenticalToArray(a, c)); // equal but distinct strings
    EXPECT_TRUE(isIdenticalToArray(platform::Array::make(), platform::Array::make()));

    auto letters = platform::Array::make({q("a"), q("b"), q("c")});
    auto picked = objectsForIndexSet(letters, {2, 0, 7, 1});
    ASSERT_TRUE(picked);
    EXPECT_EQ(platform::Value(picked), platform::Value(platform::Array::make({q("a"), q("b"), q("c")})));
    EXPECT_FALSE(objectsForIndexSet(letters, {}));
    EXPECT_FALSE(objectsForIndexSet(letters, {3, 4}));
}

TEST(Arrays, FuzzyMatchesAndCommonPrefix)
{
    const QStringList names{q("Zebra Crossing"), q("Crossing"), q("Ocean"), q("C-ross"), q("crossing guard"), q("Boss")};
    EXPECT_EQ(fuzzyMatchesForQuery(names, q("cross")),
              (QStringList{q("Crossing"), q("crossing guard"), q("Zebra Crossing"), q("C-ross")}));
    EXPECT_TRUE(fuzzyMatchesForQuery(names, q("xyz")).isEmpty());
    EXPECT_TRUE(fuzzyMatchesForQuery(names, QString()).isEmpty());

    EXPECT_EQ(commonPrefix({q("01 - Holiday Part 1"), q("02 - Holiday Part 2")}), q("Holiday"));
    EXPECT_EQ(commonPrefix({q("Alpha"), q("Beta")}), QString());
    EXPECT_EQ(commonPrefix({q("Show - Ch. 1"), q("show - ch. 2")}), q("Show"));
    EXPECT_EQ(commonPrefix({q("Only")}), q("Only"));
    EXPECT_EQ(commonPrefix({q("x"), q("")}), QString());
    EXPECT_EQ(commonPrefixByTrimmingIrrelevantCharacters({q(" Movie A "), q(" Movie B")}, false, false), q("Movie"));
    // Aggressive trimming compares sort strings when the names share nothing.
    PMSetNameOrdering({nullptr, [](const QString& name) { return name.startsWith(q("The ")) ? name.mid(4) : name; }});
    EXPECT_EQ(commonPrefix({q("The Saga 1"), q("Saga 2")}), q("Saga"));
    PMSetNameOrdering({});
}

TEST(Arrays, ShuffleAndInvert)
{
    QStringList list{q("a"), q("b"), q("c"), q("d"), q("e")};
    QStringList shuffled = list;
    shuffle(shuffled);
    QStringList sorted = shuffled;
    sorted.sort();
    EXPECT_EQ(sorted, list);
    invert(list);
    EXPECT_EQ(list, (QStringList{q("e"), q("d"), q("c"), q("b"), q("a")}));
    platform::Array array{1, 2, 3};
    invert(array);
    EXPECT_EQ(array.at(0), platform::Value(3));
    platform::Array one{1};
    shuffle(one);
    EXPECT_EQ(one.count(), 1);
}

} // namespace
