#include "library/model/PMByteScan.h"
#include "library/model/PMSearch.h"

#include <QtCore/QChar>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bytescan {

namespace {

std::atomic<int> gWidestScan{32};

// The places of a block of `width` starting at `i` picked in `mask` (one bit per place)
// are compared whole and reported. Answers where to go on.
inline size_t reportCandidates(std::uint32_t mask, size_t i, size_t width, const char* h, const ByteNeedle& n, EntryMarker& marker)
{
    const char* nb = n.bytes.data();
    const size_t ns = n.bytes.size();
    while (mask) {
        const size_t at = i + size_t(std::countr_zero(mask));
        mask &= mask - 1;
        if (std::memcmp(h + at, nb, ns) != 0)
            continue;
        const size_t resume = marker.found(at);
        if (resume >= i + width)
            return resume;
        // Drop the places before `resume` within this block.
        mask &= ~((std::uint32_t(1) << (resume - i)) - 1u);
    }
    return i + width;
}

#if defined(__GNUC__) && defined(__x86_64__)
#define PM_HAS_AVX2_SCAN 1
// Thirty-two places at a time, on processors that can, from `i` until `stop` is reached
// or fewer than thirty-two places are left before `limit`; answers where it stopped.
__attribute__((target("avx2"))) size_t scanThirtyTwoAtATime(const char* h, size_t limit, size_t stop, const ByteNeedle& n, size_t i,
                                                             EntryMarker& marker)
{
    const __m256i p = _mm256_set1_epi8(n.bytes[n.p]);
    const __m256i q = _mm256_set1_epi8(n.bytes[n.q]);
    while (i < stop && i + 32 <= limit) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + n.p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + n.q));
        const auto mask = std::uint32_t(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, p), _mm256_cmpeq_epi8(b, q))));
        i = mask ? reportCandidates(mask, i, 32, h, n, marker) : i + 32;
    }
    return i;
}

bool canScanThirtyTwoAtATime()
{
    static const bool can = __builtin_cpu_supports("avx2");
    return can;
}
#endif

// Reports the places from `i` on where the needle starts, in order, until `stop` is reached
// (places up to `limit`, one past the last where the needle fits, may be looked at before
// stopping); answers where to go on.
size_t scanForNeedle(const char* h, size_t limit, size_t stop, const ByteNeedle& n, size_t i, EntryMarker& marker)
{
    const int widest = gWidestScan.load(std::memory_order_relaxed);
#ifdef PM_HAS_AVX2_SCAN
    if (widest >= 32 && canScanThirtyTwoAtATime()) {
        i = scanThirtyTwoAtATime(h, limit, stop, n, i, marker);
        if (i >= stop)
            return i;
    }
#endif
#ifdef __SSE2__
    const __m128i p = _mm_set1_epi8(n.bytes[n.p]);
    const __m128i q = _mm_set1_epi8(n.bytes[n.q]);
    while (widest >= 16 && i < stop && i + 16 <= limit) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + n.p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + n.q));
        const auto mask = std::uint32_t(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, p), _mm_cmpeq_epi8(b, q))));
        i = mask ? reportCandidates(mask, i, 16, h, n, marker) : i + 16;
    }
#endif
    const char pb = n.bytes[n.p], qb = n.bytes[n.q];
    while (i < stop) {
        if (h[i + n.p] == pb && h[i + n.q] == qb && std::memcmp(h + i, n.bytes.data(), n.bytes.size()) == 0)
            i = marker.found(i);
        else
            ++i;
    }
    return i;
}

} // namespace

void appendAsBytes(std::string& into, QStringView text)
{
    const char16_t* s = text.utf16();
    const size_t n = size_t(text.size());
    size_t out = into.size();
    into.resize(out + 3 * n);
    char* d = into.data();
    for (size_t i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            d[out++] = char(c);
        } else if (c < 0x800) {
            d[out++] = char(0xC0 | (c >> 6));
            d[out++] = char(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
            c = QChar::surrogateToUcs4(char16_t(c), s[++i]);
            d[out++] = char(0xF0 | (c >> 18));
            d[out++] = char(0x80 | ((c >> 12) & 0x3F));
            d[out++] = char(0x80 | ((c >> 6) & 0x3F));
            d[out++] = char(0x80 | (c & 0x3F));
        } else {
            d[out++] = char(0xE0 | (c >> 12));
            d[out++] = char(0x80 | ((c >> 6) & 0x3F));
            d[out++] = char(0x80 | (c & 0x3F));
        }
    }
    into.resize(out);
}

ByteFrequencies sampledByteFrequencies(const std::string& text)
{
    ByteFrequencies counts{};
    constexpr size_t kWindow = 1024, kWindows = 64;
    const size_t step = std::max(kWindow, text.size() / kWindows);
    for (size_t start = 0; start < text.size(); start += step)
        for (size_t k = start, end = std::min(start + kWindow, text.size()); k < end; ++k)
            ++counts[static_cast<unsigned char>(text[k])];
    return counts;
}

ByteNeedle byteNeedle(QStringView text, const ByteFrequencies& frequencies)
{
    ByteNeedle needle;
    appendAsBytes(needle.bytes, text);
    const std::string& b = needle.bytes;
    auto frequency = [&](size_t k) { return frequencies[static_cast<unsigned char>(b[k])]; };
    if (b.size() < 2)
        return needle;
    // Ties go to the ends of the needle, whose bytes are the least related.
    size_t rarest = b.size() - 1;
    for (size_t k = 0; k < b.size(); ++k)
        if (frequency(k) < frequency(rarest))
            rarest = k;
    size_t second = rarest == 0 ? b.size() - 1 : 0;
    for (size_t k = 0; k < b.size(); ++k)
        if (k != rarest && frequency(k) < frequency(second))
            second = k;
    needle.p = std::min(rarest, second);
    needle.q = std::max(rarest, second);
    return needle;
}

void markAll(const std::string& buffer, std::vector<NeedleScan>& scans)
{
    constexpr size_t kStretch = 16384;
    const char* h = buffer.data();
    const size_t hs = buffer.size();
    for (size_t stop = kStretch;; stop += kStretch) {
        bool left = false;
        for (NeedleScan& scan : scans) {
            const size_t ns = scan.needle.bytes.size();
            if (ns == 0 || ns > hs)
                continue;
            const size_t limit = hs - ns + 1;
            if (scan.at >= limit)
                continue;
            scan.at = scanForNeedle(h, limit, std::min(stop, limit), scan.needle, scan.at, scan.marker);
            left = left || scan.at < limit;
        }
        if (!left)
            return;
    }
}

} // namespace bytescan

void PMLimitSearchScanWidth(int places)
{
    bytescan::gWidestScan.store(places, std::memory_order_relaxed);
}
