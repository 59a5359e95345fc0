#include "foundation/PMFunctions.h"

#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "platform/Alert.h"
#include "platform/Bookmark.h"
#include "platform/Format.h"
#include "platform/Image.h"
#include "platform/ImageReading.h"
#include "platform/RegularFile.h"

#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtGui/QGuiApplication>
#include <QtGui/QImageReader>
#include <QtGui/QPainter>
#include <QtGui/QPalette>

#include <algorithm>
#include <cmath>
#include <memory>

long PMRunAlert(const QString& messageText, const QString& informativeText, const QString& firstButton, const QString& secondButton,
                const QString& thirdButton, std::optional<long> unattendedAnswer)
{
    platform::Alert alert;
    alert.messageText = messageText;
    alert.informativeText = informativeText;
    for (const QString* title : {&firstButton, &secondButton, &thirdButton}) {
        if (title->isEmpty())
            break;
        alert.buttons.append(*title);
    }
    if (unattendedAnswer)
        alert.unattendedButton = *unattendedAnswer == PMAlertNoAnswer ? -1 : int(*unattendedAnswer - PMAlertFirstButtonReturn);
    const platform::AlertResponse response = platform::runAlert(alert);
    if (response.button < 0)
        return PMAlertNoAnswer;
    const int last = std::max<int>(0, int(alert.buttons.size()) - 1);
    return PMAlertFirstButtonReturn + std::clamp(response.button, 0, last);
}

std::optional<QString> PMPathFromBookmarkData(const QByteArray& bookmarkData)
{
    platform::Bookmark bookmark;
    if (bookmarkData.isEmpty() || !platform::Bookmark::fromData(bookmarkData, &bookmark))
        return std::nullopt;
    QString path;
    if (!platform::resolveBookmark(bookmark, &path))
        return std::nullopt;
    return path;
}

QByteArray PMBookmarkDataFromPath(const QString& path)
{
    platform::Bookmark bookmark;
    if (path.isEmpty() || !platform::createBookmark(path, &bookmark))
        return {};
    return bookmark.toData();
}

QString PMDurationString(double seconds, bool twoDigitHours, bool hourUnits, bool fractionalSeconds)
{
    // Beyond this nothing is a duration any more; it also keeps the whole seconds exact.
    constexpr double kLongest = 1e15;
    double a = std::isfinite(seconds) ? std::fabs(seconds) : 0.0;
    a = std::min(a, kLongest);
    const auto r = static_cast<unsigned long long>(std::round(a)); // halves away from zero
    const unsigned long long h = r / 3600, m = (r % 3600) / 60, s = r % 60;
    if (twoDigitHours)
        return platform::format("%02llu:%02llu:%02llu", h, m, s);
    if (r >= 86400) {
        const QString days = stringWithDouble(double(r) / 86400.0, 1, true);
        return days == QLatin1String("1") ? QStringLiteral("1 day") : platform::format("%@ days", days);
    }
    if (r >= 3600 && hourUnits) {
        const QString hours = stringWithDouble(double(r) / 3600.0, 1, true);
        return hours == QLatin1String("1") ? QStringLiteral("1 hour") : platform::format("%@ hours", hours);
    }
    if (fractionalSeconds) {
        // Rounded to the millisecond before the split, so that 59.9996 s is "1:00.000",
        // never "0:60.000".
        const auto ms = static_cast<unsigned long long>(std::llround(a * 1000.0));
        const unsigned long long t = ms / 1000;
        const QString secondsText = stringWithNumber(platform::Value(double(t % 60) + double(ms % 1000) / 1000.0), 2, 3, false);
        if (t >= 3600)
            return platform::format("%01llu:%02llu:%@", t / 3600, (t % 3600) / 60, secondsText);
        return platform::format("%01llu:%@", (t % 3600) / 60, secondsText);
    }
    if (r >= 3600)
        return platform::format("%01llu:%02llu:%02llu", h, m, s);
    return platform::format("%01llu:%02llu", m, s);
}

QSizeF PMSizeWithMinimumOfOne(QSizeF size)
{
    return QSizeF(std::max(size.width(), 1.0), std::max(size.height(), 1.0));
}

bool PMPointsNearlyEqual(QPointF a, QPointF b)
{
    return std::fabs(a.x() - b.x()) < 1.0 && std::fabs(a.y() - b.y()) < 1.0;
}

QRectF PMRectFittingAspectRatioInRect(QRectF rect, double q)
{
    const double w = rect.width(), h = rect.height();
    if (!(q > PMGeometryEpsilon) || !(w > 0.0) || !(h > 0.0))
        return rect;
    if (w / h < q) {
        const double height = std::round(w / q);
        return QRectF(rect.x(), rect.y() + std::floor((h - height) / 2.0), w, height);
    }
    const double width = std::round(h * q);
    return QRectF(rect.x() + std::floor((w - width) / 2.0), rect.y(), width, h);
}

QRectF PMRectFittingSizeInRect(QRectF rect, QSizeF size)
{
    if (size.height() < PMGeometryEpsilon)
        return rect;
    return PMRectFittingAspectRatioInRect(rect, size.width() / size.height());
}

namespace {

// Whether the frame wholly encloses a non-empty rectangle.
bool encloses(QRectF frame, QRectF r)
{
    return r.width() > 0.0 && r.height() > 0.0 && r.x() >= frame.x() && r.y() >= frame.y() && r.x() + r.width() <= frame.x() + frame.width()
        && r.y() + r.height() <= frame.y() + frame.height();
}

} // namespace

QRectF PMSnapRectToFrame(QRectF rect, double q, double tolerance, bool changeHeightKeepingMinY, bool changeWidthKeepingMinX,
                         bool changeHeightKeepingMaxY, bool changeWidthKeepingMaxX, QRectF frame)
{
    const double x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    bool widthQualifies = false, heightQualifies = false;
    double dW = 0.0, dH = 0.0;
    QRectF widthCandidate, heightCandidate;
    if (changeWidthKeepingMinX || changeWidthKeepingMaxX) {
        const double W = std::round(h * q);
        dW = std::fabs(w - W);
        if (dW < tolerance) {
            widthCandidate = QRectF(changeWidthKeepingMaxX ? x + w - W : x, y, W, h);
            widthQualifies = encloses(frame, widthCandidate);
        }
    }
    if ((changeHeightKeepingMinY || changeHeightKeepingMaxY) && q > PMGeometryEpsilon) {
        const double H = std::round(w / q);
        dH = std::fabs(h - H);
        if (dH < tolerance) {
            heightCandidate = QRectF(x, changeHeightKeepingMaxY ? y + h - H : y, w, H);
            heightQualifies = encloses(frame, heightCandidate);
        }
    }
    if (widthQualifies && (!heightQualifies || dW < dH))
        return widthCandidate;
    if (heightQualifies)
        return heightCandidate;
    return QRectF(0, 0, 0, 0);
}

double PMRoundedRectRadius(QRectF rect, double radius)
{
    const double half = std::min(rect.width(), rect.height()) / 2.0;
    if (radius > half || radius < -PMGeometryEpsilon)
        return half;
    return radius;
}

QPainterPath PMRoundedRectPath(QRectF rect, double radius)
{
    const double r = PMRoundedRectRadius(rect, radius);
    QPainterPath path;
    path.addRoundedRect(rect, r, r);
    return path;
}

void PMFillRoundedRect(QPainter& painter, QRectF rect, double radius, const QGradientStops* gradient, const QColor* color)
{
    const QPainterPath path = PMRoundedRectPath(rect, radius);
    if (gradient) {
        // The gradient's start lies at the top edge, its end at the bottom edge.
        QLinearGradient linear(rect.topLeft(), rect.bottomLeft());
        linear.setStops(*gradient);
        painter.fillPath(path, QBrush(linear));
        return;
    }
    painter.fillPath(path, color ? *color : QColor(Qt::black));
}

QPointF PMClampYToBand(QRectF rect, QRectF band)
{
    const double low = band.y() - rect.height();
    const double high = band.y() + band.height();
    return QPointF(rect.x(), std::clamp(rect.y(), low, std::max(low, high)));
}

QRectF PMRectBetweenPoints(QPointF a, QPointF b)
{
    const double x = std::min(a.x(), b.x());
    const double y = std::min(a.y(), b.y()) - 1.0;
    const double w = std::fabs(b.x() - a.x()) + 1.0;
    const double h = std::fabs(b.y() - a.y()) + 1.0;
    // Integral: origin rounded down, far edges rounded up.
    const double left = std::floor(x), top = std::floor(y);
    return QRectF(left, top, std::ceil(x + w) - left, std::ceil(y + h) - top);
}

void PMDrawDashedFrame(QPainter& painter, QRectF rect)
{
    // The path is made again only when the rectangle changes (drop highlights redraw often).
    static QRectF cachedRect;
    static QPainterPath cachedPath;
    static bool cached = false;
    if (!cached || cachedRect != rect) {
        const double radius = std::min(std::min(rect.width(), rect.height()) / 2.0, 5.0);
        cachedPath = QPainterPath();
        cachedPath.addRoundedRect(rect, radius, radius);
        cachedRect = rect;
        cached = true;
    }
    QPen pen(QGuiApplication::palette().color(QPalette::Mid));
    pen.setWidthF(1.0);
    pen.setDashPattern({4.0, 2.0});
    pen.setDashOffset(5.0);
    painter.save();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cachedPath);
    painter.restore();
}

namespace {

double frameDelay(QIODevice* device, int frameIndex)
{
    if (frameIndex < 0)
        return 0.0;
    QImageReader reader(device);
    const QByteArray format = reader.format().toLower();
    // Only these formats keep a delay per frame.
    if (format != "gif" && format != "webp")
        return 0.0;
    const int count = reader.imageCount();
    if ((count > 0 && frameIndex >= count) || frameIndex >= platform::AnimatedImageSource::kMaximumFrameCount)
        return 0.0;
    // The frames before it may be decoded on the way: each within the cap.
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > platform::kMaximumDecodedImagePixels)
        return 0.0;
    reader.setAllocationLimit(int((platform::kMaximumDecodedImagePixels * 8) >> 20) + 1);
    if (!reader.jumpToImage(frameIndex)) {
        // Sequential formats: read the frames before it.
        for (int i = 0; i < frameIndex; ++i)
            if (reader.read().isNull())
                return 0.0;
    }
    if (reader.read().isNull())
        return 0.0;
    const int milliseconds = reader.nextImageDelay();
    const double seconds = milliseconds / 1000.0;
    return seconds < 0.01 ? 0.1 : seconds;
}

} // namespace

double PMAnimatedImageFrameDelay(const QString& imagePath, int frameIndex)
{
    QFile file(imagePath);
    if (!platform::checkRegularFile(imagePath) || !file.open(QIODevice::ReadOnly))
        return 0.0;
    return frameDelay(&file, frameIndex);
}

double PMAnimatedImageFrameDelay(const QByteArray& imageData, int frameIndex)
{
    QByteArray copy = imageData;
    QBuffer buffer(&copy);
    if (!buffer.open(QIODevice::ReadOnly))
        return 0.0;
    return frameDelay(&buffer, frameIndex);
}
