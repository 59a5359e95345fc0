// Two ways of drawing a string: a title centred in a rectangle at the largest font size
// that fits (the placeholders of tiles without image), and count badges: rounded pills or
// rectangles with a centred number, optionally led by a small progress pie, at a corner
// of a rectangle. Main thread (they draw with the caller's painter).
#pragma once

#include <QtCore/QRectF>
#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QFont>

#include <optional>

class QImage;
class QPainter;

// Text attributes a caller may keep and hand in again (the fitting stores the font and
// colour it used into them).
struct PMTextAttributes {
    QFont font;
    QColor foregroundColor;
    Qt::TextElideMode truncation = Qt::ElideRight; // where a text too wide is cut
};

// ---- Fitting a title ----

struct PMFittedText {
    QFont font;
    double fontSize = 0;
    QRectF textRect; // where the text is drawn: the rectangle's width, the text's height
    QColor color;    // the grey used when no colour is given
};

// The size, place and colour of a fitted title (what fitAndDrawInRect draws).
PMFittedText fitTextInRect(const QString& string, const QRectF& rect, double maximumSize);
// Draws the title centred at the largest size that fits, at most maximumSize points.
// Without a colour the text is grey, lighter for smaller sizes, and that colour is handed
// back through orGetAdjustedColor. Given attributes receive the font and colour.
void fitAndDrawInRect(QPainter& painter, const QString& string, const QRectF& rect, PMTextAttributes* attributes,
                      const std::optional<QColor>& useColor, QColor* orGetAdjustedColor, double maximumSize);

// ---- Badges ----

// The background of a badge: the default (a translucent grey, or a dark veil over the
// background image), a colour, or none at all.
struct PMBadgeBackground {
    enum class Kind { Default, Color, None };
    Kind kind = Kind::Default;
    QColor color;
    PMBadgeBackground() = default;
    PMBadgeBackground(const QColor& c) : kind(Kind::Color), color(c) {}
    static PMBadgeBackground none()
    {
        PMBadgeBackground b;
        b.kind = Kind::None;
        return b;
    }
};

// "Draw Badges As Pills": pill shape and wider padding.
bool PMDrawsBadgesAsPills();
const QFont& PMBadgeFont(bool large);

// The badge's width: the text, the padding on both sides, and room for a pie.
double badgeWidthUsingLargeFont(const QString& string, bool useLargeFont, bool includePie);

struct PMBadgeLayout {
    QRectF badgeRect; // in the painter's (top-down) coordinates
    double radius = 0;
    QRectF textRect;
    bool hasPie = false;
    QPointF pieCenter;
    double pieRadius = 0;
    double pieSweepDegrees = 0; // clockwise from the top; 0 for a negative (empty) pie
    double padding = 0;
    double textWidth = 0; // the whole text's, before any shortening
};

// Where a badge goes. Margins count from the right and top edges; a negative right margin
// counts from the left, a negative bottom margin from the bottom. `flip` tells whether the
// caller's coordinates run top-down (every Qt view does; false for code that measures from
// the bottom, whose badges then land at the same visual place).
PMBadgeLayout badgeLayout(const QString& string, const QRectF& rect, bool useLargeFont, int piePercentage, double xOffset,
                          double yOffset, double rightMargin, double bottomMargin, double radius, double padding, bool alignLeft,
                          bool flip);

PMBadgeLayout drawAsBadgeInRect(QPainter& painter, const QString& string, const QRectF& rect, bool useLargeFont,
                                const std::optional<QColor>& color, const PMBadgeBackground& backgroundColor,
                                const QImage* backgroundImage, int piePercentage, double xOffset, double yOffset, double rightMargin,
                                double bottomMargin, double radius, double padding, bool alignLeft, bool flip);
PMBadgeLayout drawAsBadgeInRect(QPainter& painter, const QString& string, const QRectF& rect, bool useLargeFont,
                                const PMBadgeBackground& backgroundColor, double xOffset, double yOffset, double rightMargin,
                                double bottomMargin, bool flip);
PMBadgeLayout drawAsBadgeInRect(QPainter& painter, const QString& string, const QRectF& rect, bool useLargeFont,
                                const PMBadgeBackground& backgroundColor, double rightMargin, double bottomMargin);
