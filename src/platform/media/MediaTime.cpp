#include "platform/media/MediaTime.h"

#include <cmath>

namespace platform::media {

namespace {
// a * b / c rounded half away from zero, without overflow for the values of media times.
std::int64_t rescale(std::int64_t a, std::int64_t b, std::int64_t c)
{
    const __int128 product = __int128(a) * b;
    const __int128 half = c / 2;
    const __int128 q = product >= 0 ? (product + half) / c : (product - half) / c;
    return std::int64_t(q);
}
} // namespace

MediaTime MediaTime::make(std::int64_t value, std::int32_t timescale)
{
    if (timescale <= 0)
        return invalid();
    return {value, timescale, Valid};
}

MediaTime MediaTime::withSeconds(double seconds, std::int32_t timescale)
{
    if (std::isnan(seconds) || timescale <= 0)
        return invalid();
    if (std::isinf(seconds))
        return seconds > 0 ? positiveInfinity() : MediaTime{0, 0, Valid | NegativeInfinity};
    return make(std::int64_t(std::llround(seconds * timescale)), timescale);
}

double MediaTime::seconds() const
{
    if (!isValid())
        return std::nan("");
    if (flags & PositiveInfinity)
        return INFINITY;
    if (flags & NegativeInfinity)
        return -INFINITY;
    if (flags & Indefinite)
        return std::nan("");
    return double(value) / double(timescale);
}

MediaTime MediaTime::convertScale(std::int32_t newTimescale) const
{
    if (!isNumeric() || newTimescale <= 0)
        return *this;
    if (newTimescale == timescale)
        return *this;
    return make(rescale(value, newTimescale, timescale), newTimescale);
}

MediaTime MediaTime::operator+(const MediaTime& o) const
{
    if (!isNumeric() || !o.isNumeric())
        return invalid();
    return make(value + o.convertScale(timescale).value, timescale);
}

MediaTime MediaTime::operator-(const MediaTime& o) const
{
    if (!isNumeric() || !o.isNumeric())
        return invalid();
    return make(value - o.convertScale(timescale).value, timescale);
}

int MediaTime::compare(const MediaTime& o) const
{
    const auto rank = [](const MediaTime& t) {
        if (t.flags & NegativeInfinity)
            return -1;
        if (t.flags & PositiveInfinity)
            return 1;
        return 0;
    };
    if (rank(*this) != rank(o) || rank(*this) != 0)
        return rank(*this) < rank(o) ? -1 : rank(*this) > rank(o) ? 1 : 0;
    if (!isNumeric() || !o.isNumeric())
        return isNumeric() ? -1 : o.isNumeric() ? 1 : 0;
    const __int128 l = __int128(value) * o.timescale;
    const __int128 r = __int128(o.value) * timescale;
    return l < r ? -1 : l > r ? 1 : 0;
}

} // namespace platform::media
