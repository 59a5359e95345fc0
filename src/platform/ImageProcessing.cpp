#include "platform/ImageProcessing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace platform {

namespace {

// n / k rounded to the nearest, by a multiplication: with m = ⌈2^32 / k⌉ the quotient is
// exact for every n below 256 × k as long as k stays at most kMaximumBoxSize.
struct RoundingDivider {
    explicit RoundingDivider(int k)
        : half(std::uint32_t(k) / 2)
        , multiplier((std::uint64_t(1) << 32) / std::uint64_t(k) + ((std::uint64_t(1) << 32) % std::uint64_t(k) != 0))
    {
    }
    std::uint32_t operator()(std::uint32_t n) const { return std::uint32_t((std::uint64_t(n + half) * multiplier) >> 32); }
    std::uint32_t half;
    std::uint64_t multiplier;
};

void horizontalPass(const QImage& source, QImage& destination, int k)
{
    const int w = source.width(), h = source.height(), r = k / 2;
    const RoundingDivider divide(k);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = source.constScanLine(y);
        std::uint8_t* d = destination.scanLine(y);
        std::uint32_t sum[4];
        for (int c = 0; c < 4; ++c) {
            sum[c] = std::uint32_t(r + 1) * s[c];
            for (int i = 1; i <= r; ++i)
                sum[c] += s[std::min(i, w - 1) * 4 + c];
        }
        // The edges clamp their neighbours; the middle runs without a test per pixel.
        const int middleStart = std::min(r, w), middleEnd = std::max(middleStart, w - r - 1);
        const auto step = [&](int x, int add, int remove) {
            for (int c = 0; c < 4; ++c) {
                d[x * 4 + c] = std::uint8_t(divide(sum[c]));
                sum[c] += s[add * 4 + c];
                sum[c] -= s[remove * 4 + c];
            }
        };
        int x = 0;
        for (; x < middleStart; ++x)
            step(x, std::min(x + r + 1, w - 1), std::max(x - r, 0));
        for (; x < middleEnd; ++x)
            step(x, x + r + 1, x - r);
        for (; x < w; ++x)
            step(x, std::min(x + r + 1, w - 1), std::max(x - r, 0));
    }
}

void verticalPass(const QImage& source, QImage& destination, int k)
{
    const int w = source.width(), h = source.height(), r = k / 2, n = w * 4;
    const RoundingDivider divide(k);
    std::vector<std::uint32_t> sums(size_t(n), 0);
    {
        const std::uint8_t* first = source.constScanLine(0);
        for (int i = 0; i < n; ++i)
            sums[size_t(i)] = std::uint32_t(r + 1) * first[i];
        for (int j = 1; j <= r; ++j) {
            const std::uint8_t* row = source.constScanLine(std::min(j, h - 1));
            for (int i = 0; i < n; ++i)
                sums[size_t(i)] += row[i];
        }
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* d = destination.scanLine(y);
        const std::uint8_t* add = source.constScanLine(std::min(y + r + 1, h - 1));
        const std::uint8_t* remove = source.constScanLine(std::max(y - r, 0));
        std::uint32_t* sum = sums.data();
        for (int i = 0; i < n; ++i) {
            d[i] = std::uint8_t(divide(sum[i]));
            sum[i] += add[i];
            sum[i] -= remove[i];
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
    if (input.format() != QImage::Format_ARGB32_Premultiplied)
        input = std::move(input).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    while (input.width() >= 2 * size.width() && input.height() >= 2 * size.height() && input.width() % 2 == 0 && input.height() % 2 == 0
           && input.width() >= 4 && input.height() >= 4) {
        QImage half(input.width() / 2, input.height() / 2, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < half.height(); ++y) {
            const std::uint32_t* a = reinterpret_cast<const std::uint32_t*>(input.constScanLine(2 * y));
            const std::uint32_t* b = reinterpret_cast<const std::uint32_t*>(input.constScanLine(2 * y + 1));
            std::uint32_t* d = reinterpret_cast<std::uint32_t*>(half.scanLine(y));
            for (int x = 0; x < half.width(); ++x) {
                const std::uint32_t p[4] = {a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]};
                // Two channels at a time: each sum of four bytes fits in 10 bits.
                const std::uint64_t evens = std::uint64_t(p[0] & 0x00ff00ff) + (p[1] & 0x00ff00ff) + (p[2] & 0x00ff00ff) + (p[3] & 0x00ff00ff);
                const std::uint64_t odds = std::uint64_t((p[0] >> 8) & 0x00ff00ff) + ((p[1] >> 8) & 0x00ff00ff) + ((p[2] >> 8) & 0x00ff00ff)
                                         + ((p[3] >> 8) & 0x00ff00ff);
                d[x] = std::uint32_t(((evens + 0x00020002) >> 2) & 0x00ff00ff) | std::uint32_t((((odds + 0x00020002) >> 2) & 0x00ff00ff) << 8);
            }
        }
        input = std::move(half);
    }
    if (input.size() == size)
        return input;
    return input.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace platform
