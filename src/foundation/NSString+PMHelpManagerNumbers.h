// Number and file-size texts shown to people. Every number goes through one shared
// formatter: decimal, rounding half up, grouping unless "Numbers: Disable Grouping
// Separator" is set, and "." and "," instead of the locale's separators when "Numbers:
// Leave Unlocalized" is set (both read when the formatter is made).
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <cstdint>

// The number's text with at least `minimumNumberOfIntegerDigits` integer digits and
// `numberOfFractionDigits` fraction digits (negative: chosen by the number's size, or by
// the user default "Numbers: Fraction Digits"). With `trim`, trailing zeros and a lone
// decimal separator go. The empty text when the value is not a number.
QString stringWithNumber(const platform::Value& number, int minimumNumberOfIntegerDigits, int numberOfFractionDigits, bool trim);
QString stringWithNumber(const platform::Value& number, int numberOfFractionDigits, bool trim);
QString stringWithDouble(double value, int numberOfFractionDigits, bool trim);
QString stringWithInteger(std::int64_t value);
QString stringWithUnsignedInteger(std::uint64_t value);

// The size in decimal units ("1.5 MB"; "-" for 0). With an overall count in the same unit
// the number comes alone, so a caller can write "1.2 of 3.4 MB".
QString partialFileSizeDescriptionWithBytesCount(std::uint64_t bytesCount, std::uint64_t overallBytesCount);
QString fileSizeDescriptionWithBytesCount(std::uint64_t bytesCount);

// Forgets the shared formatter, so the next text is made with the current locale and
// settings. The formatter is also made anew when the user's locale has changed.
void resetSharedNumberFormatter();
