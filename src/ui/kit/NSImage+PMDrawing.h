// Small drawing operations on images, colours and paths that every window uses: icons at
// 16 points, template and tinted images, fitting an image into a size or a square, the
// error colour and rectangles with smooth ("curved") corners.
#pragma once

#include "platform/Image.h"

#include <QtCore/QRectF>
#include <QtGui/QColor>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <optional>

// Icons fitted into 16 × 16 points, made once per process.
platform::ImagePtr folderImage();
platform::ImagePtr genericApplicationImage();
// The icon of the first path that has one, else the generic application icon.
platform::ImagePtr applicationImageFromPaths(const QStringList& paths);
// The named image (the program's resources, then the icon theme) fitted into 16 × 16 with
// the inset, marked as a template.
platform::ImagePtr sidebarTemplateImageNamed(const QString& name, double inset);
// The named image redrawn at the height: width = (height − 2 inset) × its aspect + 2 inset.
platform::ImagePtr imageNamed(const QString& name, bool flipHorizontally, double height, double inset, double offset, const QColor& color);
// No symbol images are made here.
platform::ImagePtr imageWithSystemSymbolName(const QString& name, double pointSize, const QColor& color);
platform::ImagePtr whiteImageWithSystemSymbolName(const QString& name, double pointSize);

// The image painted in the colour (its shape kept); the image itself for no colour or size.
platform::ImagePtr imageTintedWithColor(const platform::ImagePtr& image, const QColor& color);
// The image fitted (and centred, unless snug) into the size at the opacity, within the inset.
platform::ImagePtr imageWithMaximumSize(const platform::ImagePtr& image, QSizeF size, double fraction, double inset, bool snug);
platform::ImagePtr imageWithMaximumSize(const platform::ImagePtr& image, QSizeF size);
// The image with its opacity multiplied by the fraction.
platform::ImagePtr imageWithAlpha(const platform::ImagePtr& image, double fraction);

// Draws the image into the square of the rectangle's shorter side × factor (at most the
// maximum edge when that is above 2^−23), centred in the rectangle; answers the square.
QRectF drawAsSquareInRect(const platform::ImagePtr& image, QPainter& painter, const QRectF& rect, QPainter::CompositionMode operation,
                          double scalingFactor, double maximumEdgeLength, double fraction);
// Draws the image into the largest centred rectangle of its aspect ratio in the rectangle.
void drawScaledToFitInRect(const platform::ImagePtr& image, QPainter& painter, const QRectF& rect);
// Without a colour: the image at the opacity. With one: the image's shape in the colour.
void drawInRectWithColor(const platform::ImagePtr& image, QPainter& painter, const QRectF& rect, const QColor& color, double fraction);
// Draws the image at its own size with the point as its top-left corner (y down).
void deprecatedDissolveToPoint(const platform::ImagePtr& image, QPainter& painter, QPointF point, double fraction);

// The error colour: red 0.6, green 0, blue 0 at the opacity.
QColor errorColorWithAlpha(double alpha);

// Curved rectangles: corners drawn as quadratic curves reaching 1.14 × the radius along each
// side; a radius below 0.5 leaves its corner sharp. Radii by corner, y up as stored: max x /
// max y, min x / max y, min x / min y, max x / min y.
inline constexpr double kCurvedRectCornerRadiusFactor = 1.14;
double curvedRectCornerRadiusFactor();
QPainterPath bezierPathWithCurvedRect(const QRectF& rect, double maxXMaxYRadius, double minXMaxYRadius, double minXMinYRadius, double maxXMinYRadius);
QPainterPath bezierPathWithCurvedRect(const QRectF& rect, double radius);
