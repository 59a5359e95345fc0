#include "platform/DateFormatting.h"

#include "platform/Locale.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>

#include <cmath>

namespace platform {

namespace {

QString toQString(const icu::UnicodeString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

std::unique_ptr<icu::Calendar> userCalendar()
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(icu::Locale::getDefault(), status));
    if (U_FAILURE(status))
        return nullptr;
    calendar->setLenient(true);
    return calendar;
}

UDate toUDate(const Date& date)
{
    return date.secondsSince1970 * 1000.0;
}

// Dates beyond what calendars compute sensibly (the never date lies far in the past but
// inside; this only keeps infinities and NaN away from ICU).
bool isComputable(const Date& date)
{
    return std::isfinite(date.secondsSince1970) && std::fabs(date.secondsSince1970) < 1e14;
}

} // namespace

bool calendarFieldsOfDate(const Date& date, CalendarFields* getFields)
{
    if (!isComputable(date))
        return false;
    auto calendar = userCalendar();
    if (!calendar)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(toUDate(date), status);
    CalendarFields f;
    f.year = calendar->get(UCAL_EXTENDED_YEAR, status);
    f.month = calendar->get(UCAL_MONTH, status) + 1;
    f.day = calendar->get(UCAL_DATE, status);
    f.hour = calendar->get(UCAL_HOUR_OF_DAY, status);
    f.minute = calendar->get(UCAL_MINUTE, status);
    f.second = calendar->get(UCAL_SECOND, status);
    if (U_FAILURE(status))
        return false;
    if (getFields)
        *getFields = f;
    return true;
}

bool dateFromCalendarFields(const CalendarFields& fields, Date* getDate)
{
    auto calendar = userCalendar();
    if (!calendar)
        return false;
    calendar->clear();
    calendar->set(UCAL_EXTENDED_YEAR, fields.year);
    calendar->set(UCAL_MONTH, fields.month - 1);
    calendar->set(UCAL_DATE, fields.day);
    calendar->set(UCAL_HOUR_OF_DAY, fields.hour);
    calendar->set(UCAL_MINUTE, fields.minute);
    calendar->set(UCAL_SECOND, fields.second);
    UErrorCode status = U_ZERO_ERROR;
    const UDate millis = calendar->getTime(status);
    if (U_FAILURE(status))
        return false;
    if (getDate)
        *getDate = Date{millis / 1000.0};
    return true;
}

Date dateByAddingCalendarUnits(const Date& date, int years, int months, int days)
{
    if (!isComputable(date))
        return date;
    auto calendar = userCalendar();
    if (!calendar)
        return date;
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(toUDate(date), status);
    calendar->add(UCAL_YEAR, years, status);
    calendar->add(UCAL_MONTH, months, status);
    calendar->add(UCAL_DATE, days, status);
    const UDate millis = calendar->getTime(status);
    if (U_FAILURE(status))
        return date;
    return Date{millis / 1000.0};
}

struct DateFormatter::Impl {
    std::unique_ptr<icu::DateFormat> format;
};

DateFormatter::DateFormatter(const QString& pattern, const QString& localeName)
    : d(std::make_unique<Impl>()), m_localeName(localeName.isEmpty() ? userLocaleName() : localeName)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString icuPattern(reinterpret_cast<const UChar*>(pattern.utf16()), int32_t(pattern.size()));
    auto format = std::make_unique<icu::SimpleDateFormat>(icuPattern, icu::Locale(m_localeName.toLatin1().constData()), status);
    if (U_SUCCESS(status))
        d->format = std::move(format);
}

std::unique_ptr<DateFormatter> DateFormatter::shortDateAndTimeFormatter(const QString& localeName)
{
    std::unique_ptr<DateFormatter> formatter(new DateFormatter());
    formatter->d = std::make_unique<Impl>();
    formatter->m_localeName = localeName.isEmpty() ? userLocaleName() : localeName;
    formatter->d->format.reset(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kShort, icu::DateFormat::kShort, icu::Locale(formatter->m_localeName.toLatin1().constData())));
    return formatter;
}

DateFormatter::~DateFormatter() = default;

bool DateFormatter::isValid() const
{
    return d && d->format;
}

QString DateFormatter::stringFromDate(const Date& date) const
{
    if (!isValid() || !isComputable(date))
        return QString();
    icu::UnicodeString out;
    d->format->format(toUDate(date), out);
    return toQString(out);
}

bool DateFormatter::dateFromString(const QString& string, Date* getDate) const
{
    if (!isValid() || string.isEmpty())
        return false;
    const icu::UnicodeString text(reinterpret_cast<const UChar*>(string.utf16()), int32_t(string.size()));
    icu::ParsePosition position(0);
    d->format->setLenient(false);
    const UDate millis = d->format->parse(text, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != text.length())
        return false;
    if (getDate)
        *getDate = Date{millis / 1000.0};
    return true;
}

} // namespace platform
