// Pixel work on 32-bit premultiplied images that Qt's painter does not do: box blurs whose
// cost does not grow with the box, colour matrices, and down-scaling that averages the
// area each output pixel covers (a painter's bilinear filter samples a few source pixels
// and loses the rest when shrinking by large factors).
#pragma once

#include <QtGui/QImage>

#include <array>

namespace platform {

// The side of the box whose three passes approximate a Gaussian blur of the radius: the
// whole part of radius × 3 × √(2π) / 4 + 0.5, made odd. 0 for no radius (or a non-finite
// one); at most kMaximumBoxSize.
int boxSizeForBlurRadius(double radius);
inline constexpr int kMaximumBoxSize = 4095;

// One box convolution of the side (odd, ≥ 1) in both directions, edges extended, from
// `source` into `destination` (both Format_ARGB32_Premultiplied, of the same size). Each
// output is the rounded mean of the box; the cost per pixel does not depend on the side.
void boxConvolve(const QImage& source, QImage& destination, int boxSize);

// Three box passes of the radius's box, in place; the image is converted to
// Format_ARGB32_Premultiplied first when it is not.
void boxBlur(QImage& image, double radius);

// A 4 × 4 colour matrix on the components blue, green, red, alpha (rows: input, columns:
// output), applied with each entry × 256 cut to a whole number and a divisor of 256, the
// results rounded, clamped to 0...255 and kept premultiplied (no colour above alpha).
using ColorMatrix = std::array<std::array<double, 4>, 4>;
void matrixMultiply(const QImage& source, QImage& destination, const ColorMatrix& matrix);
// The saturation matrix of the factor (1 keeps the colours, 0 gives grey, −1 inverts the
// hue), on the luminance weights 0.0722 blue, 0.7152 green, 0.2126 red, which add up to 1,
// so that greys stay grey whatever the factor.
ColorMatrix saturationMatrix(double factor);

// The image scaled to the size; shrinking averages the area under each output pixel, so
// that even a 1 × 1 result is the true mean colour. Enlarging interpolates smoothly.
QImage scaledImageAveragingArea(const QImage& image, QSize size);

} // namespace platform
