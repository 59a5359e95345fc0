#include "foundation/NSDate+PMExtensions.h"

#include "platform/DateFormatting.h"
#include "platform/Locale.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>

#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("PMExtensions", text);
}

// The formats, made once per locale and reused.
struct Formatters {
    QString locale;
    std::unique_ptr<platform::DateFormatter> simple, thisYear, today, yesterday, shortStyle;
};

std::mutex g_formatLock;

Formatters& formatters()
{
    static Formatters f;
    const QString locale = platform::userLocaleName();
    if (!f.simple || f.locale != locale) {
        f.locale = locale;
        f.simple = std::make_unique<platform::DateFormatter>(tr("MMMM d, yyyy"));
        f.thisYear = std::make_unique<platform::DateFormatter>(tr("MMMM d"));
        f.today = std::make_unique<platform::DateFormatter>(tr("'Today' - h:mm a"));
        f.yesterday = std::make_unique<platform::DateFormatter>(tr("'Yesterday' - h:mm a"));
        f.shortStyle = platform::DateFormatter::shortDateAndTimeFormatter();
    }
    return f;
}

QString formatWith(std::unique_ptr<platform::DateFormatter> Formatters::*which, const platform::Date& date)
{
    std::lock_guard guard(g_formatLock);
    return (formatters().*which)->stringFromDate(date);
}

bool isEndOfItsYear(const platform::Date& date, long* getYear)
{
    platform::CalendarFields fields;
    if (!platform::calendarFieldsOfDate(date, &fields))
        return false;
    if (fields.month != 12 || fields.day != 31 || fields.hour != 23 || fields.minute != 59 || fields.second != 59)
        return false;
    if (!(dateWithEndOfYear(fields.year) == date))
        return false;
    *getYear = fields.year;
    return true;
}

std::mutex g_canonicalLock;
std::optional<platform::Date> g_canonicalDate;

} // namespace

platform::Date neverDate()
{
    return platform::Date::distantPast();
}

bool isNeverDate(const platform::Date& date)
{
    return date == platform::Date::distantPast();
}

platform::Date canonicalMainQueueDate()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return platform::Date::now();
    std::lock_guard guard(g_canonicalLock);
    if (!g_canonicalDate) {
        g_canonicalDate = platform::Date::now();
        QMetaObject::invokeMethod(
            app,
            [] {
                std::lock_guard inner(g_canonicalLock);
                g_canonicalDate.reset();
            },
            Qt::QueuedConnection);
    }
    return *g_canonicalDate;
}

platform::Date dateWithEndOfYear(long year)
{
    platform::CalendarFields fields;
    fields.year = int(std::clamp(year, -100000L, 100000L));
    fields.month = 12;
    fields.day = 31;
    fields.hour = 23;
    fields.minute = 59;
    fields.second = 59;
    platform::Date date;
    platform::dateFromCalendarFields(fields, &date);
    return date;
}

platform::Date dateByAddingYears(const platform::Date& date, int years, int months, int days)
{
    return platform::dateByAddingCalendarUnits(date, years, months, days);
}

QString simpleDescription(const platform::Date& date)
{
    return formatWith(&Formatters::simple, date);
}

QString fuzzyDescriptionForEndOfYearOnly(const platform::Date& date, bool endOfYearOnly)
{
    return fuzzyDescriptionForEndOfYearOnly(date, endOfYearOnly, platform::Date::now());
}

QString fuzzyDescriptionForEndOfYearOnly(const platform::Date& date, bool endOfYearOnly, const platform::Date& now)
{
    if (isNeverDate(date))
        return QString();
    long year = 0;
    if (isEndOfItsYear(date, &year))
        return tr("End of %ld").replace(QLatin1String("%ld"), QString::number(year));
    if (endOfYearOnly)
        return formatWith(&Formatters::shortStyle, date);

    const double difference = now.secondsSince1970 - date.secondsSince1970;
    const long long d = std::isfinite(difference) ? static_cast<long long>(std::trunc(std::clamp(difference, -1e15, 1e15))) : 0;
    if (d >= -59 && d <= 59)
        return tr("just now");
    if (d >= 60 && d <= 119)
        return tr("1 minute ago");
    if (d >= 120 && d <= 659)
        return tr("%qd minutes ago").replace(QLatin1String("%qd"), QString::number(d / 60));
    platform::CalendarFields dateFields, nowFields;
    const bool haveFields = platform::calendarFieldsOfDate(date, &dateFields) && platform::calendarFieldsOfDate(now, &nowFields);
    if (haveFields && d >= 660 && d <= 172799) {
        if (dateFields.day == nowFields.day)
            return formatWith(&Formatters::today, date);
        platform::CalendarFields yesterday;
        if (platform::calendarFieldsOfDate(platform::dateByAddingCalendarUnits(now, 0, 0, -1), &yesterday)
            && dateFields.day == yesterday.day)
            return formatWith(&Formatters::yesterday, date);
    }
    if (haveFields && dateFields.year == nowFields.year)
        return formatWith(&Formatters::thisYear, date);
    return simpleDescription(date);
}
