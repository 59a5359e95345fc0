#include "ui/kit/NSString+PMHelpManagerDrawing.h"

#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"

#include <QtCore/QHash>
#include <QtGui/QFontMetricsF>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QStaticText>
#include <QtGui/QGlyphRun>
#include <QtGui/QTextLayout>

#include <cmath>
#include <memory>

namespace {

// Fonts and their metrics by size, made once: the fitting asks for the same few sizes
// for every tile.
struct MeasuredFont {
    QFont font;
    QFontMetricsF metrics;
    explicit MeasuredFont(const QFont& f) : font(f), metrics(f) {}
};

const MeasuredFont& fittingFont(double size)
{
    static QHash<int, std::shared_ptr<MeasuredFont>> cache;
    const int key = int(std::lround(size * 4));
    auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return **found;
    // Large sizes look better light; small ones need the regular weight to stay legible.
    const QFont font = size > 18 ? backwardsCompatibleSystemFontOfSize(size, 0) : PMSystemFontOfSize(size);
    auto measured = std::make_shared<MeasuredFont>(font);
    cache.insert(key, measured);
    return *measured;
}

const MeasuredFont& referenceFont()
{
    static const MeasuredFont font(backwardsCompatibleSystemFontOfSize(20, 0));
    return font;
}

const MeasuredFont& badgeFont(bool large)
{
    static const MeasuredFont largeFont(backwardsCompatibleSystemFontOfSize(13, 2));
    static const MeasuredFont smallFont(backwardsCompatibleSystemFontOfSize(11, 2));
    return large ? largeFont : smallFont;
}

double textHeight(const QFontMetricsF& metrics)
{
    return std::ceil(metrics.height());
}

double defaultBadgePadding(bool large)
{
    return (PMDrawsBadgesAsPills() ? 5.0 : 3.0) + (large ? 1.0 : 0.0);
}

constexpr double kPieWidth = 14.0;
constexpr float kFloatEpsilon = 1.1920928955078125e-07f;

} // namespace

namespace {

// What fitting learnt about one title: a grid repaints the same titles over and over
// (scrolling, hovering, selecting), so each is measured and laid out once.
struct TitleMeasures {
    double referenceWidth = -1; // in the 20-point light font
    double smallestWidth = -1;  // in the 10-point font
    // The last drawn layout: the size and width it was made for, and the text as shown.
    double shownSize = -1;
    double shownWidth = -1;
    Qt::TextElideMode shownTruncation = Qt::ElideNone;
    QStaticText shown;
    double shownTextWidth = 0;
};

TitleMeasures& measuresOf(const QString& string)
{
    static QHash<QString, TitleMeasures> cache;
    // A bound on memory: a library's worth of titles is forgotten at once and relearnt.
    constexpr qsizetype kLimit = 8192;
    auto found = cache.find(string);
    if (found != cache.end())
        return *found;
    if (cache.size() >= kLimit)
        cache.clear();
    return cache[string];
}

PMFittedText fitMeasuredTextInRect(const QString& string, TitleMeasures& measures, const QRectF& rect, double maximumSize)
{
    PMFittedText fitted;
    const QFontMetricsF& reference = referenceFont().metrics;
    if (measures.referenceWidth < 0)
        measures.referenceWidth = reference.horizontalAdvance(string);
    const double width20 = measures.referenceWidth;
    const double height20 = textHeight(reference);
    double widthSize = width20 > 0 ? std::round(rect.width() * 17.0 / width20) : maximumSize;
    widthSize = std::min(widthSize, maximumSize);
    const double heightSize = height20 > 0 ? std::round(rect.height() * 17.0 / height20) : maximumSize;

    double size = heightSize;
    if (widthSize <= heightSize && widthSize >= 1 && textHeight(fittingFont(widthSize).metrics) <= rect.height())
        size = widthSize;
    // The maximum holds whichever way the size was found.
    size = std::min(size, maximumSize);

    QRectF area = rect;
    const MeasuredFont* font = nullptr;
    if (size < 10) {
        size = 10;
        font = &fittingFont(10);
        if (measures.smallestWidth < 0)
            measures.smallestWidth = font->metrics.horizontalAdvance(string);
        if (measures.smallestWidth > rect.width() - 20)
            area = rect.adjusted(10, 0, -10, 0);
    } else {
        font = &fittingFont(size);
    }
    const double white = size >= 48 ? 0.25 : std::min(0.25 + (48.0 - size) / 250.0, 0.7);
    fitted.color = QColor::fromRgbF(float(white), float(white), float(white), 1.0f);
    fitted.font = font->font;
    fitted.fontSize = size;
    const double height = textHeight(font->metrics);
    fitted.textRect = QRectF(area.x(), area.y() + std::round((area.height() - height) / 2.0), area.width(), height);
    return fitted;
}

} // namespace

PMFittedText fitTextInRect(const QString& string, const QRectF& rect, double maximumSize)
{
    return fitMeasuredTextInRect(string, measuresOf(string), rect, maximumSize);
}

void fitAndDrawInRect(QPainter& painter, const QString& string, const QRectF& rect, PMTextAttributes* attributes,
                      const std::optional<QColor>& useColor, QColor* orGetAdjustedColor, double maximumSize)
{
    static PMTextAttributes defaultAttributes;
    PMTextAttributes& used = attributes ? *attributes : defaultAttributes;
    TitleMeasures& measures = measuresOf(string);
    const PMFittedText fitted = fitMeasuredTextInRect(string, measures, rect, maximumSize);
    used.font = fitted.font;
    if (useColor) {
        used.foregroundColor = *useColor;
    } else {
        used.foregroundColor = fitted.color;
        if (orGetAdjustedColor)
            *orGetAdjustedColor = fitted.color;
    }
    const double width = fitted.textRect.width();
    if (measures.shownSize != fitted.fontSize || measures.shownWidth != width || measures.shownTruncation != used.truncation) {
        const QFontMetricsF& metrics = fittingFont(fitted.fontSize).metrics;
        const QString shown = metrics.elidedText(string, used.truncation, width);
        measures.shown = QStaticText(shown);
        measures.shown.setTextFormat(Qt::PlainText);
        measures.shown.prepare(QTransform(), fitted.font);
        measures.shownTextWidth = measures.shown.size().width();
        measures.shownSize = fitted.fontSize;
        measures.shownWidth = width;
        measures.shownTruncation = used.truncation;
    }
    painter.save();
    painter.setFont(used.font);
    painter.setPen(used.foregroundColor);
    painter.drawStaticText(QPointF(fitted.textRect.x() + std::round((width - measures.shownTextWidth) / 2.0), fitted.textRect.y()),
                           measures.shown);
    painter.restore();
}

bool PMDrawsBadgesAsPills()
{
    return prefs::get(prefs::keys::DrawBadgesAsPills);
}

const QFont& PMBadgeFont(bool large)
{
    return badgeFont(large).font;
}

double badgeWidthUsingLargeFont(const QString& string, bool useLargeFont, bool includePie)
{
    return badgeFont(useLargeFont).metrics.horizontalAdvance(string) + 2 * defaultBadgePadding(useLargeFont) + (includePie ? kPieWidth : 0);
}

namespace {

PMBadgeLayout badgeLayoutForTextWidth(double textWidth, const QRectF& rect, bool useLargeFont, int piePercentage, double xOffset,
                                      double yOffset, double rightMargin, double bottomMargin, double radius, double padding, bool alignLeft,
                                      bool flip)
{
    PMBadgeLayout layout;
    const QFontMetricsF& metrics = badgeFont(useLargeFont).metrics;
    if (padding < 0)
        padding = defaultBadgePadding(useLargeFont);
    layout.padding = padding;
    layout.textWidth = textWidth;
    const double width = std::min(textWidth + 2 * padding + (piePercentage != 0 ? kPieWidth : 0), rect.width());
    const double height = textHeight(metrics) + (useLargeFont ? 0.5 : 0.0);

    double x = 0;
    if (alignLeft)
        x = rect.x();
    else if (rightMargin >= 0)
        x = rect.x() + rect.width() - width - rightMargin;
    else
        x = rect.x() + std::abs(rightMargin);
    // A margin counts from the top edge, a negative one from the bottom edge. Code that
    // measures from the bottom (not flipped) states its margins the same way, so the
    // place does not depend on `flip`; only the direction of the text offset does.
    const double y = bottomMargin >= 0 ? rect.y() + bottomMargin : rect.y() + rect.height() - height - std::abs(bottomMargin);
    layout.badgeRect = QRectF(x, y, width, height);
    if (!flip)
        yOffset = -yOffset;

    const double half = std::min(width, height) / 2.0;
    if (radius < 0)
        radius = PMDrawsBadgesAsPills() ? half : 4.0;
    if (radius > half || radius < -double(kFloatEpsilon))
        radius = half;
    layout.radius = radius;

    const QRectF& badge = layout.badgeRect;
    QRectF textArea = badge;
    if (piePercentage != 0) {
        layout.hasPie = true;
        const double inset = piePercentage < 0 ? 2.5 : 2.0;
        layout.pieRadius = height / 2.0 - inset - (useLargeFont ? 1.0 : 0.0);
        layout.pieCenter = QPointF(badge.x() + height / 2.0 + 0.5, badge.y() + height / 2.0);
        // 100 would close the circle: the sector stops at 96.
        layout.pieSweepDegrees = piePercentage > 0 ? std::min(piePercentage, 96) * 3.599 : 0.0;
        textArea.setLeft(textArea.left() + kPieWidth);
    }
    // The large font sits half a point higher.
    const double lift = useLargeFont ? -0.5 : 0.0;
    layout.textRect = QRectF(textArea.x() + padding + xOffset, textArea.y() + lift + yOffset, textArea.width() - 2 * padding, height);
    return layout;
}

// A badge's text laid out once per string and font: one shaping gives both the width that
// places the badge and the glyphs drawn (new durations pass by with every page of tiles).
struct BadgeText {
    QList<QGlyphRun> runs;
    double width = 0;
};

const BadgeText* badgeTextFor(const QString& string, bool useLargeFont)
{
    // Spaces at either end count in a measured width but not in a laid-out line's.
    if (string.isEmpty() || string.front().isSpace() || string.back().isSpace())
        return nullptr;
    static QHash<QString, BadgeText> texts;
    const QString key = string + QLatin1Char(useLargeFont ? 'L' : 'S');
    auto found = texts.constFind(key);
    if (found != texts.constEnd())
        return &*found;
    if (texts.size() >= 4096)
        texts.clear();
    QTextLayout layout(string, badgeFont(useLargeFont).font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    return &*texts.insert(key, BadgeText{line.glyphRuns(), line.naturalTextWidth()});
}

} // namespace

PMBadgeLayout badgeLayout(const QString& string, const QRectF& rect, bool useLargeFont, int piePercentage, double xOffset,
                          double yOffset, double rightMargin, double bottomMargin, double radius, double padding, bool alignLeft,
                          bool flip)
{
    return badgeLayoutForTextWidth(badgeFont(useLargeFont).metrics.horizontalAdvance(string), rect, useLargeFont, piePercentage, xOffset,
                                   yOffset, rightMargin, bottomMargin, radius, padding, alignLeft, flip);
}

namespace {

// The badge's shape: its background and the pie, without the text.
void drawBadgeShape(QPainter& painter, const PMBadgeLayout& layout, const QRectF& rect, const PMBadgeBackground& backgroundColor,
                    const QImage* backgroundImage, int piePercentage, const QColor& textColor)
{
    if (backgroundColor.kind != PMBadgeBackground::Kind::None) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(Qt::NoPen);
        if (backgroundColor.kind == PMBadgeBackground::Kind::Color) {
            painter.setBrush(backgroundColor.color);
        } else if (backgroundImage && !backgroundImage->isNull()) {
            // The picture behind shows through the badge's shape, veiled.
            QPainterPath path;
            path.addRoundedRect(layout.badgeRect, layout.radius, layout.radius);
            painter.save();
            painter.setClipPath(path, Qt::IntersectClip);
            painter.drawImage(rect, *backgroundImage);
            painter.restore();
            painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.1f));
        } else {
            painter.setBrush(QColor::fromRgbF(0.3f, 0.3f, 0.3f, 0.4f));
        }
        painter.drawRoundedRect(layout.badgeRect, layout.radius, layout.radius);
    }
    if (layout.hasPie) {
        const QRectF circle(layout.pieCenter.x() - layout.pieRadius, layout.pieCenter.y() - layout.pieRadius, 2 * layout.pieRadius,
                            2 * layout.pieRadius);
        if (piePercentage < 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.5f));
            painter.drawEllipse(circle);
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(textColor, 1.5));
        painter.drawArc(circle, 90 * 16, -int(std::lround(359.9 * 16)));
        if (layout.pieSweepDegrees > 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(textColor);
            painter.drawPie(circle, 90 * 16, -int(std::lround(layout.pieSweepDegrees * 16)));
        }
    }
}

// Badges of a grid look alike (a duration's digits have one width): each shape is drawn
// once per size, colours, pie and place within a device pixel, and copied after that.
// Drawn only by the GUI thread, like the tiles.
struct BadgeShapeKey {
    QSizeF size;
    double radius;
    QPointF pieCenter; // from the badge's corner
    double pieRadius;
    double pieSweep;
    int piePercentage;
    QRgb background;
    int backgroundKind;
    QRgb text;
    double scale;
    QPoint fraction; // the corner's place within a device pixel, in 64ths
    bool operator==(const BadgeShapeKey&) const = default;
};

size_t qHash(const BadgeShapeKey& k, size_t seed = 0)
{
    return qHashMulti(seed, k.size.width(), k.size.height(), k.radius, k.pieRadius, k.pieSweep, k.piePercentage, k.background, k.text,
                      k.fraction.x(), k.fraction.y());
}

bool drawCachedBadgeShape(QPainter& painter, const PMBadgeLayout& layout, const QRectF& rect, const PMBadgeBackground& backgroundColor,
                          int piePercentage, const QColor& textColor)
{
    const QTransform transform = painter.worldTransform();
    if (transform.type() > QTransform::TxTranslate || painter.opacity() < 1.0 || painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        !painter.device())
        return false;
    const double scale = painter.device()->devicePixelRatioF();
    const QRectF& badge = layout.badgeRect;
    const QPointF device = transform.map(badge.topLeft()) * scale;
    const QPointF whole(std::floor(device.x()), std::floor(device.y()));
    const QPoint fraction(int(std::lround((device.x() - whole.x()) * 64)), int(std::lround((device.y() - whole.y()) * 64)));
    const BadgeShapeKey key{badge.size(),
                            layout.radius,
                            layout.pieCenter - badge.topLeft(),
                            layout.hasPie ? layout.pieRadius : 0.0,
                            layout.pieSweepDegrees,
                            layout.hasPie ? piePercentage : 0,
                            backgroundColor.kind == PMBadgeBackground::Kind::Color ? backgroundColor.color.rgba() : 0u,
                            int(backgroundColor.kind),
                            textColor.rgba(),
                            scale,
                            fraction};
    static QHash<BadgeShapeKey, QImage> shapes;
    auto found = shapes.constFind(key);
    if (found == shapes.constEnd()) {
        if (shapes.size() >= 512)
            shapes.clear();
        const QPointF offset(fraction.x() / 64.0, fraction.y() / 64.0);
        QImage image(int(std::ceil(offset.x() + badge.width() * scale)) + 1, int(std::ceil(offset.y() + badge.height() * scale)) + 1,
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        image.setDevicePixelRatio(scale);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing, true);
            p.translate(offset / scale - badge.topLeft());
            drawBadgeShape(p, layout, rect, backgroundColor, nullptr, piePercentage, textColor);
        }
        found = shapes.insert(key, image);
    }
    painter.drawImage(whole / scale - QPointF(transform.dx(), transform.dy()), *found);
    return true;
}

} // namespace

PMBadgeLayout drawAsBadgeInRect(QPainter& painter, const QString& string, const QRectF& rect, bool useLargeFont,
                                const std::optional<QColor>& color, const PMBadgeBackground& backgroundColor,
                                const QImage* backgroundImage, int piePercentage, double xOffset, double yOffset, double rightMargin,
                                double bottomMargin, double radius, double padding, bool alignLeft, bool flip)
{
    const BadgeText* laidOutText = badgeTextFor(string, useLargeFont);
    const PMBadgeLayout layout = laidOutText ? badgeLayoutForTextWidth(laidOutText->width, rect, useLargeFont, piePercentage, xOffset, yOffset,
                                                                       rightMargin, bottomMargin, radius, padding, alignLeft, flip)
                                             : badgeLayout(string, rect, useLargeFont, piePercentage, xOffset, yOffset, rightMargin,
                                                           bottomMargin, radius, padding, alignLeft, flip);
    const QColor textColor = color ? *color : QColor::fromRgbF(0.95f, 0.95f, 0.95f, 1.0f);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A badge over a picture of its own is drawn each time; the others are copied.
    const bool ownPicture = backgroundColor.kind == PMBadgeBackground::Kind::Default && backgroundImage && !backgroundImage->isNull();
    if (ownPicture || !drawCachedBadgeShape(painter, layout, rect, backgroundColor, piePercentage, textColor))
        drawBadgeShape(painter, layout, rect, backgroundColor, backgroundImage, piePercentage, textColor);
    painter.setFont(PMBadgeFont(useLargeFont));
    painter.setPen(textColor);
    if (laidOutText && laidOutText->width <= layout.textRect.width() + 0.01) {
        const QPointF origin(layout.textRect.x() + (layout.textRect.width() - laidOutText->width) / 2.0, layout.textRect.y());
        for (const QGlyphRun& run : laidOutText->runs)
            painter.drawGlyphRun(origin, run);
        painter.restore();
        return layout;
    }
    // Counts repeat from badge to badge: each is laid out once per font and width.
    static QHash<QString, QStaticText> laidOut;
    const QString key = string + QLatin1Char(useLargeFont ? 'L' : 'S') + QString::number(layout.textRect.width());
    auto found = laidOut.find(key);
    if (found == laidOut.end()) {
        if (laidOut.size() >= 4096)
            laidOut.clear();
        const QFontMetricsF& metrics = badgeFont(useLargeFont).metrics;
        // The badge is as wide as its text unless the rectangle was narrower: only then is
        // the text shortened (measuring it again for nothing is most of a new badge's cost).
        const double available = std::max(0.0, layout.textRect.width());
        const bool fits = layout.textWidth <= available + 0.01;
        QStaticText text(fits ? string : metrics.elidedText(string, Qt::ElideMiddle, available));
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), PMBadgeFont(useLargeFont));
        found = laidOut.insert(key, text);
    }
    painter.setFont(PMBadgeFont(useLargeFont));
    painter.setPen(textColor);
    const double textX = layout.textRect.x() + (layout.textRect.width() - found->size().width()) / 2.0;
    painter.drawStaticText(QPointF(textX, layout.textRect.y()), *found);
    painter.restore();
    return layout;
}

PMBadgeLayout drawAsBadgeInRect(QPainter& painter, const QString& string, const QRectF& rect, bool useLargeFont,
                                const PMBadgeBackground& backgroundColor, double xOffset, double yOffset, double rightMargin,
                                double bottomMargin, bool flip)
{
    return drawAsBadgeInRect(painter, string, rect, useLargeFont, std::nullopt, backgroundColor, nullptr, 0, xOffset, yOffset,
                             rightMargin, bottomMargin, -1, -1, false, flip);
}

PMBadgeLayout drawAsBadgeInRect(QPainter& painter, const QString& string, const QRectF& rect, bool useLargeFont,
                                const PMBadgeBackground& backgroundColor, double rightMargin, double bottomMargin)
{
    return drawAsBadgeInRect(painter, string, rect, useLargeFont, backgroundColor, 0, 0, rightMargin, bottomMargin, false);
}
