// Rational media times and time ranges, as movie files count them: a value in units of
// 1/timescale seconds, with flags for the invalid, infinite and indefinite times.
#pragma once

#include <cstdint>

namespace platform::media {

struct MediaTime {
    enum Flag : std::uint32_t { Valid = 1, PositiveInfinity = 4, NegativeInfinity = 8, Indefinite = 16 };
    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;

    // The time scale of assets and compositions: microseconds, the unit FFmpeg reports
    // container durations in, so that durations stay exact.
    static constexpr std::int32_t kDefaultTimescale = 1000000;

    static MediaTime make(std::int64_t value, std::int32_t timescale);
    static MediaTime zero(std::int32_t timescale = kDefaultTimescale) { return make(0, timescale); }
    static MediaTime invalid() { return {}; }
    static MediaTime indefinite() { return {0, 0, Valid | Indefinite}; }
    static MediaTime positiveInfinity() { return {0, 0, Valid | PositiveInfinity}; }
    // Seconds rounded half away from zero to the scale; invalid for NaN.
    static MediaTime withSeconds(double seconds, std::int32_t timescale = kDefaultTimescale);

    bool isValid() const { return (flags & Valid) && (timescale > 0 || (flags & (PositiveInfinity | NegativeInfinity | Indefinite))); }
    // Valid and neither infinite nor indefinite.
    bool isNumeric() const { return isValid() && !(flags & (PositiveInfinity | NegativeInfinity | Indefinite)) && timescale > 0; }
    double seconds() const;
    // The same time in another scale, rounded half away from zero.
    MediaTime convertScale(std::int32_t newTimescale) const;

    // Arithmetic and comparison of numeric times; the result keeps the left scale.
    MediaTime operator+(const MediaTime& o) const;
    MediaTime operator-(const MediaTime& o) const;
    int compare(const MediaTime& o) const;
    bool operator<(const MediaTime& o) const { return compare(o) < 0; }
    bool operator<=(const MediaTime& o) const { return compare(o) <= 0; }
    bool operator>(const MediaTime& o) const { return compare(o) > 0; }
    bool operator>=(const MediaTime& o) const { return compare(o) >= 0; }
    bool operator==(const MediaTime& o) const { return compare(o) == 0; }
};

struct TimeRange {
    MediaTime start;
    MediaTime duration;
    MediaTime end() const { return start + duration; }
    bool isEmpty() const { return !duration.isNumeric() || duration.value <= 0; }
    bool containsTime(const MediaTime& t) const { return t >= start && t < end(); }
};

} // namespace platform::media
