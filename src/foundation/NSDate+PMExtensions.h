// Dates as the library shows them: short human texts, the "never" date, the end of a
// year standing for a date known only to its year, and one current date shared by a
// whole pass over the library.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

// The date that stands for never (a movie never played); shown as the empty text.
platform::Date neverDate();
bool isNeverDate(const platform::Date& date);
// One current date shared by every caller until the main event loop next runs; then the
// next request takes a new one. Without a running application, simply the current date.
platform::Date canonicalMainQueueDate();
// 31 December, 23:59:59, of the year in the user's calendar and time zone.
platform::Date dateWithEndOfYear(long year);
platform::Date dateByAddingYears(const platform::Date& date, int years, int months, int days);
// The date as "MMMM d, yyyy" in the user's locale.
QString simpleDescription(const platform::Date& date);
// The date as a short human text ("just now", "5 minutes ago", "Today - 3:05 PM",
// "March 4", "End of 2019", ...). With `endOfYearOnly` the relative forms are not used.
QString fuzzyDescriptionForEndOfYearOnly(const platform::Date& date, bool endOfYearOnly);
// The same, relative to the given current date.
QString fuzzyDescriptionForEndOfYearOnly(const platform::Date& date, bool endOfYearOnly, const platform::Date& now);
