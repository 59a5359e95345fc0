// Calendar arithmetic and date texts in the user's calendar, time zone and locale,
// backed by ICU (the same pattern letters as the platform's date formatter: "MMMM d, yyyy").
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <memory>

namespace platform {

// The user's current calendar and time zone.
struct CalendarFields {
    int year = 0;
    int month = 0; // 1-12
    int day = 0;   // day of the month, 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The fields of the date in the user's calendar and time zone; false when they cannot be computed.
bool calendarFieldsOfDate(const Date& date, CalendarFields* getFields);
// The date of the given fields (missing seconds as 0), or false.
bool dateFromCalendarFields(const CalendarFields& fields, Date* getDate);
// The date moved by whole years, months and days (each may be negative).
Date dateByAddingCalendarUnits(const Date& date, int years, int months, int days);

// A formatter for one pattern in a locale (the user's locale when empty).
class DateFormatter {
public:
    DateFormatter(const QString& pattern, const QString& localeName = QString());
    // The locale's short date and short time style.
    static std::unique_ptr<DateFormatter> shortDateAndTimeFormatter(const QString& localeName = QString());
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    bool isValid() const;
    const QString& localeName() const { return m_localeName; }
    // Not safe for two threads at once on one formatter.
    QString stringFromDate(const Date& date) const;
    // The date the whole text names in the pattern (strictly, no trailing text); false
    // when it does not parse.
    bool dateFromString(const QString& string, Date* getDate) const;

private:
    DateFormatter() = default;
    struct Impl;
    std::unique_ptr<Impl> d;
    QString m_localeName;
};

} // namespace platform
