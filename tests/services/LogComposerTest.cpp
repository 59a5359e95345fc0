// The log window's text: folding, the insertion mark, senders, line breaks, dates and
// the header.
#include "services/log_reader/ILRLogComposer.h"
#include "platform/SystemJournal.h"

#include "common/TestSupport.h"

#include <QtCore/QDateTime>

#include <gtest/gtest.h>

namespace {

platform::Date localDate(QDate day, QTime time)
{
    return platform::Date{double(QDateTime(day, time).toMSecsSinceEpoch()) / 1000.0};
}

platform::Date today(int seconds)
{
    return localDate(QDate::currentDate(), QTime(0, 0).addSecs(seconds));
}

ILRLogEntryPtr entry(const QString& message, const platform::Date& date, const QString& process = QString(), const QString& sender = QString())
{
    auto d = platform::Dictionary::make({{QStringLiteral("cachedTimestamp"), platform::Value(date)},
                                         {QStringLiteral("eventMessage"), platform::Value(message)}});
    if (!process.isEmpty())
        d->setValue(QStringLiteral("processImagePath"), platform::Value(process));
    if (!sender.isEmpty())
        d->setValue(QStringLiteral("senderImagePath"), platform::Value(sender));
    return ILRMakeLogEntry(d);
}

QString compose(ILRLogEntries& entries, ILRLogDisplayOptions options = {})
{
    ILRLogDateFormatter formatter(QStringLiteral("en_US"));
    return ILRLogText(ILRComposeLogParagraphs(entries, options, formatter));
}

} // namespace

TEST(LogComposer, RepeatsFoldIntoOneParagraphWithACount)
{
    ILRLogEntries entries{entry(QStringLiteral("cannot open <a.mov>"), today(1)), entry(QStringLiteral("cannot open <a.mov>"), today(2)),
                          entry(QStringLiteral("cannot open <a.mov>"), today(3)), entry(QStringLiteral("other"), today(4))};
    EXPECT_EQ(compose(entries), QStringLiteral("00:00:01.000: cannot open <a.mov> (\u00D73)\n00:00:04.000: other"));
    ILRLogDisplayOptions off;
    off.disableCoalescing = true;
    EXPECT_EQ(compose(entries, off), QStringLiteral("00:00:01.000: cannot open <a.mov>\n00:00:02.000: cannot open <a.mov>\n"
                                                    "00:00:03.000: cannot open <a.mov>\n00:00:04.000: other"));
}

TEST(LogComposer, TheInsertionPointBreaksAFoldAndCarriesTheMark)
{
    ILRLogEntries entries{entry(QStringLiteral("same"), today(1)), entry(QStringLiteral("same"), today(2)), entry(QStringLiteral("same"), today(3))};
    ILRLogDisplayOptions options;
    options.archiveInsertionIndex = 1;
    EXPECT_EQ(compose(entries, options), QStringLiteral("00:00:01.000: same\n\U0001F440\n00:00:02.000: same (\u00D72)"));
    // History being inserted after every entry shows the mark at the end.
    options.archiveInsertionIndex = 3;
    EXPECT_EQ(compose(entries, options), QStringLiteral("00:00:01.000: same (\u00D73)\n\U0001F440"));
    ILRLogEntries none;
    options.archiveInsertionIndex = 0;
    EXPECT_EQ(compose(none, options), QStringLiteral("\U0001F440"));
}

TEST(LogComposer, SendersLineBreaksAndHiddenPrefixes)
{
    const platform::Date t = today(61);
    ILRLogEntries entries{entry(QStringLiteral("a"), t, QStringLiteral("/usr/bin/Pellis"), QStringLiteral("/usr/lib/libmpv.so.2")),
                          entry(QStringLiteral("b"), t, QStringLiteral("/usr/bin/Pellis"), QStringLiteral("/usr/bin/Pellis")),
                          entry(QStringLiteral("c"), t, QString(), QStringLiteral("/usr/lib/libx.so")),
                          entry(QStringLiteral("[ILR] first\nsecond"), t)};
    ILRLogDisplayOptions options;
    options.hiddenPrefixes = {QStringLiteral("[ILR] ")};
    EXPECT_EQ(compose(entries, options), QStringLiteral("00:01:01.000 | Pellis > libmpv.so.2: a\n00:01:01.000 | Pellis: b\n"
                                                        "00:01:01.000 | libx.so: c\n00:01:01.000: first\u2028second"));
    options.hideSender = true;
    EXPECT_EQ(compose(entries, options).section(QLatin1Char('\n'), 0, 0), QStringLiteral("00:01:01.000: a"));
}

TEST(LogComposer, EarlierDaysShowTheirDateAndTheHeaderTellsTheRange)
{
    ILRLogEntries entries{entry(QStringLiteral("old"), localDate(QDate(2020, 1, 2), QTime(3, 4, 5, 678))),
                          entry(QStringLiteral("undated"), platform::Date::distantPast())};
    EXPECT_EQ(compose(entries), QStringLiteral("01/02/2020 \u2014 03:04:05.678: old\n?: undated"));

    ILRLogEntries none;
    ILRLogDisplayOptions options;
    options.updateDate = today(3600 * 2);
    const struct {
        int days;
        const char16_t* header;
    } cases[] = {{-1, u"\u21E4 02:00:00.000\u2026"},
                 {0, u"\u21E4 1 hour before 02:00:00.000\u2026"},
                 {1, u"\u21E4 1 day before 02:00:00.000\u2026"},
                 {14, u"\u21E4 14 days before 02:00:00.000\u2026"}};
    for (const auto& c : cases) {
        options.numberOfDays = c.days;
        EXPECT_EQ(compose(none, options), QString::fromUtf16(c.header)) << c.days;
    }
    options.numberOfDays = 7;
    options.updateDate = localDate(QDate(2021, 5, 6), QTime(7, 8, 9));
    EXPECT_EQ(compose(none, options), QStringLiteral("\u21E4 7 days before 05/06/2021 \u2014 07:08:09.000\u2026"));
}

TEST(LogComposer, EntriesWithoutAMessageAreSkippedButCounted)
{
    ILRLogEntries entries{entry(QStringLiteral("x"), today(1)), entry(QString(), today(2)), entry(QStringLiteral("x"), today(3))};
    // The empty one does not break the fold.
    EXPECT_EQ(compose(entries), QStringLiteral("00:00:01.000: x (\u00D72)"));
}

TEST(LogComposer, GreyRunsAndUnchangedParagraphsShareTheirText)
{
    ILRLogEntries entries{entry(QStringLiteral("message"), today(1)), entry(QStringLiteral("again"), today(2)), entry(QStringLiteral("again"), today(3))};
    ILRLogDateFormatter formatter(QStringLiteral("en_US"));
    const ILRLogParagraphs first = ILRComposeLogParagraphs(entries, {}, formatter);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].text.left(first[0].greyPrefix), QStringLiteral("00:00:01.000: "));
    EXPECT_EQ(first[0].greySuffix, first[0].text.size());
    EXPECT_EQ(first[1].text.mid(first[1].greySuffix), QStringLiteral(" (\u00D72)"));
    const ILRLogParagraphs second = ILRComposeLogParagraphs(entries, {}, formatter);
    EXPECT_EQ(first[0].text.constData(), second[0].text.constData());
}

TEST(LogComposer, TimestampsOfTheToolParse)
{
    platform::Date d;
    ASSERT_TRUE(platform::dateFromLogTimestamp(u"2026-12-10 13:16:35.123456+0100", &d));
    EXPECT_NEAR(d.secondsSince1970, 1796904995.123456, 1e-6);
    for (const char16_t* bad : {u"", u"2026-12-10 13:16:35", u"2026-13-10 13:16:35.123456+0100", u"2026-12-10 13:16:35.12345x+0100"})
        EXPECT_FALSE(platform::dateFromLogTimestamp(QString::fromUtf16(bad), &d));
    EXPECT_EQ(ILRMakeLogEntry(platform::Dictionary::make({{QStringLiteral("timestamp"), platform::Value(QStringLiteral("garbage"))}}))->date,
              platform::Date::distantPast());
    const QString text = platform::logTimestampString(1765368995123456);
    ASSERT_TRUE(platform::dateFromLogTimestamp(text, &d)) << text.toStdString();
    EXPECT_NEAR(d.secondsSince1970, 1765368995.123456, 1e-6);
}
