#include "platform/ImageProcessing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The passes are built twice where the compiler can choose at run time, so that processors
// with 256-bit vectors use them.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define PM_WITH_AVX2 __attribute__((target_clones("avx2", "default")))
#else
#define PM_WITH_AVX2
#endif

namespace platform {

namespace {

// Four channels of one pixel side by side, so that a pixel's sums move in one step.
using Int4 = std::int32_t __attribute__((vector_size(16)));
using Float4 = float __attribute__((vector_size(16)));

#if defined(__SSE2__)
inline Int4 channels(const std::uint8_t* p)
{
    std::uint32_t pixel;
    std::memcpy(&pixel, p, 4);
    const __m128i zero = _mm_setzero_si128();
    return Int4(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(pixel)), zero), zero));
}
#else
inline Int4 channels(const std::uint8_t* p)
{
    return Int4{p[0], p[1], p[2], p[3]};
}
#endif

// sum / k rounded to the nearest, through a float reciprocal: the sums stay below 2^21, k is
// odd so that no exact quotient ends in one half, and the quotient's distance from a half
// (at least 1 / 2k) is far above the float error for every k up to kMaximumBoxSize.
inline Int4 mean(Int4 sum, float reciprocal)
{
    return __builtin_convertvector(__builtin_convertvector(sum, Float4) * reciprocal + 0.5f, Int4);
}

inline void storeMean(std::uint8_t* d, Int4 sum, float reciprocal)
{
    const Int4 q = mean(sum, reciprocal);
#if defined(__SSE2__)
    const __m128i words = _mm_packs_epi32(__m128i(q), __m128i(q));
    const int pixel = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(d, &pixel, 4);
#else
    d[0] = std::uint8_t(q[0]);
    d[1] = std::uint8_t(q[1]);
    d[2] = std::uint8_t(q[2]);
    d[3] = std::uint8_t(q[3]);
#endif
}

PM_WITH_AVX2 void horizontalPass(const QImage& source, QImage& destination, int k)
{
    const int w = source.width(), h = source.height(), r = k / 2;
    const float reciprocal = 1.0f / float(k);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = source.constScanLine(y);
        std::uint8_t* d = destination.scanLine(y);
        Int4 sum = channels(s) * (r + 1);
        for (int i = 1; i <= r; ++i)
            sum += channels(s + std::min(i, w - 1) * 4);
        // The edges clamp their neighbours; the middle runs without a test per pixel.
        const int middleStart = std::min(r, w), middleEnd = std::max(middleStart, w - r - 1);
        int x = 0;
        for (; x < middleStart; ++x) {
            storeMean(d + x * 4, sum, reciprocal);
            sum += channels(s + std::min(x + r + 1, w - 1) * 4) - channels(s + std::max(x - r, 0) * 4);
        }
        for (; x < middleEnd; ++x) {
            storeMean(d + x * 4, sum, reciprocal);
            sum += channels(s + (x + r + 1) * 4) - channels(s + (x - r) * 4);
        }
        for (; x < w; ++x) {
            storeMean(d + x * 4, sum, reciprocal);
            sum += channels(s + std::min(x + r + 1, w - 1) * 4) - channels(s + std::max(x - r, 0) * 4);
        }
    }
}

// Runs down the columns of all channels at once, one row at a time, so that every row is
// read and written in memory order.
PM_WITH_AVX2 void verticalPass(const QImage& source, QImage& destination, int k)
{
    const int w = source.width(), h = source.height(), r = k / 2, n = w * 4;
    const float reciprocal = 1.0f / float(k);
    std::vector<std::int32_t> sums(size_t(n), 0);
    {
        const std::uint8_t* first = source.constScanLine(0);
        for (int i = 0; i < n; ++i)
            sums[size_t(i)] = std::int32_t(r + 1) * first[i];
        for (int j = 1; j <= r; ++j) {
            const std::uint8_t* row = source.constScanLine(std::min(j, h - 1));
            for (int i = 0; i < n; ++i)
                sums[size_t(i)] += row[i];
        }
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* __restrict d = destination.scanLine(y);
        const std::uint8_t* __restrict add = source.constScanLine(std::min(y + r + 1, h - 1));
        const std::uint8_t* __restrict remove = source.constScanLine(std::max(y - r, 0));
        std::int32_t* __restrict sum = sums.data();
        for (int i = 0; i < n; ++i) {
            d[i] = std::uint8_t(std::int32_t(float(sum[i]) * reciprocal + 0.5f));
            sum[i] += std::int32_t(add[i]) - std::int32_t(remove[i]);
        }
    }
}

// Each pixel of `half` the exact mean of the 2 × 2 pixels under it, rounded.
PM_WITH_AVX2 void halve(const QImage& input, QImage& half)
{
    const int w = half.width(), h = half.height();
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* a = reinterpret_cast<const std::uint32_t*>(input.constScanLine(2 * y));
        const std::uint32_t* b = reinterpret_cast<const std::uint32_t*>(input.constScanLine(2 * y + 1));
        std::uint32_t* d = reinterpret_cast<std::uint32_t*>(half.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p[4] = {a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]};
            // Two channels at a time: each sum of four bytes fits in 10 bits.
            const std::uint32_t evens = (p[0] & 0x00ff00ff) + (p[1] & 0x00ff00ff) + (p[2] & 0x00ff00ff) + (p[3] & 0x00ff00ff);
            const std::uint32_t odds = ((p[0] >> 8) & 0x00ff00ff) + ((p[1] >> 8) & 0x00ff00ff) + ((p[2] >> 8) & 0x00ff00ff) + ((p[3] >> 8) & 0x00ff00ff);
            d[x] = (((evens + 0x00020002) >> 2) & 0x00ff00ff) | ((((odds + 0x00020002) >> 2) & 0x00ff00ff) << 8);
        }
    }
}

} // namespace

int boxSizeForBlurRadius(double radius)
{
    if (!std::isfinite(radius) || radius <= 0.0)
        return 0;
    const double side = std::floor(radius * 3.0 * 2.5066282746310002 / 4.0 + 0.5);
    const int k = int(std::min(side, double(kMaximumBoxSize))) | 1;
    return std::min(k, kMaximumBoxSize);
}

void boxConvolve(const QImage& source, QImage& destination, int boxSize)
{
    if (source.isNull() || boxSize < 1)
        return;
    const int k = std::min(boxSize | 1, kMaximumBoxSize);
    QImage middle(source.size(), QImage::Format_ARGB32_Premultiplied);
    horizontalPass(source, middle, k);
    verticalPass(middle, destination, k);
}

void boxBlur(QImage& image, double radius)
{
    const int k = boxSizeForBlurRadius(radius);
    if (image.isNull() || k <= 1)
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage other(image.size(), QImage::Format_ARGB32_Premultiplied);
    for (int pass = 0; pass < 3; ++pass) {
        horizontalPass(image, other, k);
        verticalPass(other, image, k);
    }
}

ColorMatrix saturationMatrix(double s)
{
    constexpr double b = 0.0722, g = 0.7152, r = 0.2126;
    return {{
        {b + (1.0 - b) * s, b - b * s, b - b * s, 0.0},
        {g - g * s, g + (1.0 - g) * s, g - g * s, 0.0},
        {r - r * s, r - r * s, r + (1.0 - r) * s, 0.0},
        {0.0, 0.0, 0.0, 1.0},
    }};
}

void matrixMultiply(const QImage& source, QImage& destination, const ColorMatrix& matrix)
{
    if (source.isNull())
        return;
    int m[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = int(matrix[size_t(i)][size_t(j)] * 256.0);
    const QImage input = source.format() == QImage::Format_ARGB32_Premultiplied ? source : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (destination.size() != input.size() || destination.format() != QImage::Format_ARGB32_Premultiplied)
        destination = QImage(input.size(), QImage::Format_ARGB32_Premultiplied);
    const auto channel = [](int value) { return std::clamp((value + 128) >> 8, 0, 255); };
    for (int y = 0; y < input.height(); ++y) {
        const std::uint32_t* s = reinterpret_cast<const std::uint32_t*>(input.constScanLine(y));
        std::uint32_t* d = reinterpret_cast<std::uint32_t*>(destination.scanLine(y));
        for (int x = 0; x < input.width(); ++x) {
            const std::uint32_t p = s[x];
            const int in[4] = {int(p & 0xff), int((p >> 8) & 0xff), int((p >> 16) & 0xff), int(p >> 24)};
            int out[4];
            for (int j = 0; j < 4; ++j)
                out[j] = channel(in[0] * m[0][j] + in[1] * m[1][j] + in[2] * m[2][j] + in[3] * m[3][j]);
            const int a = out[3];
            d[x] = std::uint32_t(std::min(out[0], a)) | std::uint32_t(std::min(out[1], a)) << 8 | std::uint32_t(std::min(out[2], a)) << 16
                 | std::uint32_t(a) << 24;
        }
    }
}

QImage scaledImageAveragingArea(const QImage& image, QSize size)
{
    if (image.isNull() || size.isEmpty())
        return {};
    if (image.size() == size)
        return image;
    QImage input = image;
    // Halving by exact 2 × 2 means first is both faster and, for the 1 × 1 end, exact.
    // Opaque 32-bit pixels already are premultiplied ones: read as they are, not copied.
    if (input.format() != QImage::Format_ARGB32_Premultiplied && input.format() != QImage::Format_RGB32)
        input = std::move(input).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    while (input.width() >= 2 * size.width() && input.height() >= 2 * size.height() && input.width() % 2 == 0 && input.height() % 2 == 0
           && input.width() >= 4 && input.height() >= 4) {
        QImage half(input.width() / 2, input.height() / 2, QImage::Format_ARGB32_Premultiplied);
        halve(input, half);
        input = std::move(half);
    }
    if (input.size() == size)
        return input;
    return input.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace platform
