// Free functions every window shares: the one-call modal alert, bookmark data of a path,
// small geometry rules for fitting and snapping rectangles, rounded rectangles with a
// clamped corner radius, the dashed frame of a drop target, and the frame delay of an
// animated image.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QPointF>
#include <QtCore/QRectF>
#include <QtCore/QSizeF>
#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QGradient>
#include <QtGui/QPainterPath>

#include <optional>

class QPainter;

// The response codes of the alert's buttons, first to third.
inline constexpr long PMAlertFirstButtonReturn = 1000;
inline constexpr long PMAlertSecondButtonReturn = 1001;
inline constexpr long PMAlertThirdButtonReturn = 1002;
// An alert that nobody could answer and that had no button to take.
inline constexpr long PMAlertNoAnswer = 0;

// Runs a modal alert. A button title counts only when every earlier one was given; with
// none the alert has the single default button. Answers the pressed button's code. When
// nobody can answer, the alert answers `unattendedAnswer` (a button's code, or
// PMAlertNoAnswer); unset, the "Cancel" button's code when there is one, else the first's.
long PMRunAlert(const QString& messageText, const QString& informativeText, const QString& firstButton = {}, const QString& secondButton = {},
                const QString& thirdButton = {}, std::optional<long> unattendedAnswer = std::nullopt);

// The path a bookmark resolves to, without asking the user and without mounting anything;
// nothing for no data or a failed resolution.
std::optional<QString> PMPathFromBookmarkData(const QByteArray& bookmarkData);
// Bookmark data for the file at the path; empty for no path or a failure.
QByteArray PMBookmarkDataFromPath(const QString& path);

// The text of a duration (the sign is dropped): "4:05", "1:02:03", with two-digit hours
// "00:04:05"; from a day on "1 day" or "1.5 days"; with hour units from an hour on "1 hour"
// or "2.5 hours"; with fractional seconds "4:05.250". A value that is not a finite number
// counts as 0.
QString PMDurationString(double seconds, bool twoDigitHours = false, bool hourUnits = false, bool fractionalSeconds = false);

// Below this an aspect ratio or a height counts as zero: 2^-23.
inline constexpr double PMGeometryEpsilon = 1.1920928955078125e-07;

QSizeF PMSizeWithMinimumOfOne(QSizeF size);
// True when the points differ by less than 1 in x and in y.
bool PMPointsNearlyEqual(QPointF a, QPointF b);
// The largest centred rectangle of the ratio (width over height) inside the rectangle, in
// whole points; the rectangle itself for no ratio or an empty rectangle.
QRectF PMRectFittingAspectRatioInRect(QRectF rect, double aspectRatio);
QRectF PMRectFittingSizeInRect(QRectF rect, QSizeF size);
// The rectangle adjusted to the ratio by changing its width or height (as the edge flags
// allow) by less than the tolerance, inside the frame; the zero rectangle when neither fits.
QRectF PMSnapRectToFrame(QRectF rect, double aspectRatio, double tolerance, bool changeHeightKeepingMinY, bool changeWidthKeepingMinX,
                         bool changeHeightKeepingMaxY, bool changeWidthKeepingMaxX, QRectF frame);
// The corner radius actually used: at most half the shorter side; a negative one means that.
double PMRoundedRectRadius(QRectF rect, double radius);
QPainterPath PMRoundedRectPath(QRectF rect, double radius);
// Fills the rounded rectangle with the gradient drawn from its top to its bottom, or with
// the colour, black when there is neither.
void PMFillRoundedRect(QPainter& painter, QRectF rect, double radius, const QGradientStops* gradient, const QColor* color);
// The rectangle's origin with y kept between band.y - rect.height and band.y + band.height.
QPointF PMClampYToBand(QRectF rect, QRectF band);
// The rectangle covering the whole pixels of both points (one row below the smaller y).
QRectF PMRectBetweenPoints(QPointF a, QPointF b);
// Strokes the dashed rounded frame of a drop target.
void PMDrawDashedFrame(QPainter& painter, QRectF rect);

// The delay of a frame of an animated image in seconds: 0 for a format without frame
// delays or an unreadable frame; a delay below 0.01 seconds counts as 0.1.
double PMAnimatedImageFrameDelay(const QString& imagePath, int frameIndex);
double PMAnimatedImageFrameDelay(const QByteArray& imageData, int frameIndex);
