#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtGui/QFontMetricsF>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QStaticText>

namespace {

QImage canvas(int w = 200, int h = 100)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

} // namespace

TEST(SystemFont, WeightsAndFamily)
{
    std::int64_t family = -1;
    EXPECT_EQ(backwardsCompatibleSystemFontOfSize(13, 0, &family).weight(), QFont::Light);
    EXPECT_EQ(family, 2);
    EXPECT_EQ(backwardsCompatibleSystemFontOfSize(13, 2).weight(), QFont::Medium);
    EXPECT_EQ(backwardsCompatibleSystemFontOfSize(13, 1).weight(), QFont::Normal);
    EXPECT_EQ(backwardsCompatibleSystemFontOfSize(13, 7).weight(), QFont::Normal);
    // Sizes are device-independent pixels: a larger size is a larger font.
    EXPECT_GT(QFontMetricsF(PMSystemFontOfSize(26)).height(), 1.5 * QFontMetricsF(PMSystemFontOfSize(13)).height());
}

TEST(Badges, SizesAndPlaces)
{
    const QString text = QStringLiteral("12");
    const QRectF rect(10, 20, 200, 100);
    const double width = badgeWidthUsingLargeFont(text, false, false);
    const double textWidth = QFontMetricsF(PMBadgeFont(false)).horizontalAdvance(text);
    EXPECT_DOUBLE_EQ(width, textWidth + 6);
    EXPECT_DOUBLE_EQ(badgeWidthUsingLargeFont(text, true, true), QFontMetricsF(PMBadgeFont(true)).horizontalAdvance(text) + 8 + 14);

    struct Case {
        double right, bottom;
        bool alignLeft, flip;
        double x, y; // expected corner, relative to the rect; y < 0 means "at the bottom edge, that far up"
    } cases[] = {
        {4, 3, false, true, 200 - width - 4, 3},   // top right, flipped view
        {4, 3, false, false, 200 - width - 4, 3},  // the same place in a view counting from the bottom
        {-5, 3, false, true, 5, 3},                // a negative right margin counts from the left
        {4, -6, false, true, 200 - width - 4, -6}, // a negative bottom margin from the bottom
        {4, -6, false, false, 200 - width - 4, -6},
        {4, 3, true, true, 0, 3}, // aligned left, margins aside
    };
    for (const Case& c : cases) {
        const PMBadgeLayout layout = badgeLayout(text, rect, false, 0, 0, 0, c.right, c.bottom, -1, -1, c.alignLeft, c.flip);
        const double height = layout.badgeRect.height();
        EXPECT_DOUBLE_EQ(layout.badgeRect.x(), rect.x() + c.x) << c.right << ", " << c.bottom;
        const double y = c.y >= 0 ? rect.y() + c.y : rect.bottom() - height + c.y;
        EXPECT_DOUBLE_EQ(layout.badgeRect.y(), y) << c.right << ", " << c.bottom << " flip " << c.flip;
        EXPECT_DOUBLE_EQ(layout.badgeRect.width(), width);
        EXPECT_DOUBLE_EQ(layout.radius, 4.0);
    }

    // Wider than its rectangle: cut to the rectangle's width.
    const PMBadgeLayout wide = badgeLayout(QStringLiteral("1234567890123"), QRectF(0, 0, 40, 40), false, 0, 0, 0, 0, 0, -1, -1, false, true);
    EXPECT_DOUBLE_EQ(wide.badgeRect.width(), 40);
    // A pie makes room on the left and a pill is round.
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Draw Badges As Pills"));
    const PMBadgeLayout pie = badgeLayout(text, rect, true, 50, 0, 0, 0, 0, -1, -1, false, true);
    EXPECT_DOUBLE_EQ(pie.padding, 6);
    EXPECT_DOUBLE_EQ(pie.badgeRect.width(), QFontMetricsF(PMBadgeFont(true)).horizontalAdvance(text) + 12 + 14);
    EXPECT_DOUBLE_EQ(pie.radius, pie.badgeRect.height() / 2);
    EXPECT_DOUBLE_EQ(pie.textRect.x(), pie.badgeRect.x() + 14 + 6);
    EXPECT_DOUBLE_EQ(pie.pieRadius, pie.badgeRect.height() / 2 - 2 - 1);
    EXPECT_NEAR(pie.pieSweepDegrees, 179.95, 1e-9);
    platform::UserDefaults::standard().setObject({}, QStringLiteral("Draw Badges As Pills"));
    // A radius above half the height becomes the half.
    EXPECT_DOUBLE_EQ(badgeLayout(text, rect, false, 0, 0, 0, 0, 0, 100, -1, false, true).radius,
                     std::min(width, badgeLayout(text, rect, false, 0, 0, 0, 0, 0, 100, -1, false, true).badgeRect.height()) / 2);
}

TEST(Badges, DrawnWhereLaidOut)
{
    QImage image = canvas();
    QPainter painter(&image);
    const PMBadgeLayout layout = drawAsBadgeInRect(painter, QStringLiteral("7"), QRectF(image.rect()), false, PMBadgeBackground(Qt::red), 5, 5);
    painter.end();
    const QPoint inside = layout.badgeRect.center().toPoint() + QPoint(0, int(layout.badgeRect.height() / 2) - 2);
    EXPECT_EQ(QColor(image.pixel(inside.x() - int(layout.badgeRect.width() / 2) + 2, inside.y())).red(), 255);
    EXPECT_EQ(QColor(image.pixel(5, 90)), QColor(Qt::black)); // far from the badge nothing is drawn
    // Without background nothing but the text is drawn.
    QImage bare = canvas();
    QPainter barePainter(&bare);
    const PMBadgeLayout bareLayout = drawAsBadgeInRect(barePainter, QStringLiteral("7"), QRectF(bare.rect()), false, PMBadgeBackground::none(), 5, 5);
    barePainter.end();
    EXPECT_EQ(QColor(bare.pixel(bareLayout.badgeRect.topLeft().toPoint() + QPoint(1, 1))), QColor(Qt::black));
}

TEST(Badges, ACopiedBadgeLooksLikeOneDrawnAnew)
{
    // A grid's badges are drawn once per look and copied after that: the copy must match a
    // badge drawn directly (a painter at less than full opacity always draws anew), at
    // places between device pixels, at twice the scale, translated, with and without a pie.
    struct Case {
        QPointF translation;
        double scale;
        int pie;
        PMBadgeBackground background;
    };
    const Case cases[] = {
        {{0, 0}, 1.0, -1, PMBadgeBackground(QColor::fromRgbF(0, 0, 0, 0.45))},
        {{10.25, 3.5}, 1.0, -1, PMBadgeBackground(QColor::fromRgbF(0, 0, 0, 0.45))},
        {{7.75, 0.25}, 2.0, 50, PMBadgeBackground()},
        {{3.5, 2.5}, 2.0, 0, PMBadgeBackground(Qt::red)},
        {{1.0, 1.0}, 1.0, 30, PMBadgeBackground::none()},
    };
    for (const Case& c : cases) {
        const auto draw = [&](double opacity) {
            QImage image(QSize(160, 60) * c.scale, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(c.scale);
            image.fill(Qt::darkGreen);
            QPainter painter(&image);
            painter.setOpacity(opacity);
            painter.translate(c.translation);
            // Blank text: text drawn at less than full opacity takes another path of its own.
            drawAsBadgeInRect(painter, QStringLiteral("       "), QRectF(0, 0, 140, 50), false, std::nullopt, c.background, nullptr, c.pie, 0, 0, 8,
                              -8, -1, -1, false, false);
            return image;
        };
        const QImage first = draw(1.0);
        const QImage copied = draw(1.0);
        const QImage anew = draw(0.9999);
        EXPECT_EQ(first, copied);
        int worst = 0;
        int changed = 0;
        for (int y = 0; y < anew.height(); ++y)
            for (int x = 0; x < anew.width(); ++x) {
                const QRgb a = copied.pixel(x, y), b = anew.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
                changed += a != QColor(Qt::darkGreen).rgba();
            }
        EXPECT_LE(worst, 3) << c.translation.x() << "," << c.translation.y() << " at " << c.scale;
        EXPECT_GT(changed, 50); // the badge is there
    }
}

TEST(Badges, TextShapedOnceIsPlacedAndDrawnAsMeasured)
{
    // A badge's text is shaped once for its width and its glyphs: the badge lands where the
    // measured text puts it, and the text looks as the fonts draw it, in both sizes and for
    // every kind of text a badge shows (one too wide is shortened as before).
    const QString strings[] = {QStringLiteral("1:28:58"), QStringLiteral("12"), QStringLiteral("Ünïcödé"), QStringLiteral("東京"),
                               QStringLiteral("שלום"), QStringLiteral(" padded "), QStringLiteral("A very long status that cannot fit")};
    for (const bool large : {false, true})
        for (const QString& string : strings) {
            const QRectF rect(0, 0, 150, 40);
            QImage drawn(160, 44, QImage::Format_ARGB32_Premultiplied);
            drawn.fill(Qt::black);
            QImage expected = drawn;
            PMBadgeLayout layout;
            {
                QPainter painter(&drawn);
                layout = drawAsBadgeInRect(painter, string, rect, large, Qt::white, PMBadgeBackground::none(), nullptr, 0, 0, 0, 8, -8, -1, -1,
                                           false, false);
            }
            const PMBadgeLayout measured = badgeLayout(string, rect, large, 0, 0, 0, 8, -8, -1, -1, false, false);
            EXPECT_EQ(layout.badgeRect, measured.badgeRect) << string.toStdString();
            EXPECT_EQ(layout.textRect, measured.textRect) << string.toStdString();
            {
                QPainter painter(&expected);
                painter.setRenderHint(QPainter::Antialiasing, true);
                painter.setFont(PMBadgeFont(large));
                painter.setPen(Qt::white);
                QStaticText text(QFontMetricsF(PMBadgeFont(large)).elidedText(string, Qt::ElideMiddle, std::max(0.0, measured.textRect.width())));
                text.setTextFormat(Qt::PlainText);
                text.prepare(QTransform(), PMBadgeFont(large));
                painter.drawStaticText(QPointF(measured.textRect.x() + (measured.textRect.width() - text.size().width()) / 2.0, measured.textRect.y()),
                                       text);
            }
            int different = 0;
            for (int y = 0; y < drawn.height(); ++y)
                for (int x = 0; x < drawn.width(); ++x)
                    different += std::abs(qGray(drawn.pixel(x, y)) - qGray(expected.pixel(x, y))) > 24;
            EXPECT_EQ(different, 0) << string.toStdString() << (large ? " large" : "");
        }
}

TEST(Badges, FullPieDrawsLikeNinetySix)
{
    const auto draw = [](int percent) {
        QImage image = canvas(80, 30);
        QPainter painter(&image);
        drawAsBadgeInRect(painter, QStringLiteral("3"), QRectF(image.rect()), true, std::nullopt, PMBadgeBackground(), nullptr, percent, 0, 0, 0, 0, -1,
                          -1, false, true);
        return image;
    };
    EXPECT_EQ(draw(100), draw(96));
    EXPECT_NE(draw(50), draw(96));
    EXPECT_NE(draw(-1), draw(96));
}

TEST(FittedText, StopsAtTheMaximumAndGreysBySize)
{
    // One letter in a large rectangle: the maximum size holds.
    const PMFittedText big = fitTextInRect(QStringLiteral("A"), QRectF(0, 0, 600, 400), 36);
    EXPECT_DOUBLE_EQ(big.fontSize, 36);
    EXPECT_NEAR(big.color.redF(), 0.25 + 12.0 / 250, 1e-4);
    // A long title in a narrow rectangle: small, at least 10 points, lighter grey.
    const QString title = QStringLiteral("A Long Title Of Sixty Characters That Does Not Fit Anywhere!");
    const PMFittedText small = fitTextInRect(title, QRectF(0, 0, 120, 80), 60);
    EXPECT_DOUBLE_EQ(small.fontSize, 10);
    EXPECT_NEAR(small.color.redF(), 0.25 + 38.0 / 250, 1e-4);
    // Too wide even at 10 points: 10 points off each side.
    EXPECT_DOUBLE_EQ(small.textRect.x(), 10);
    EXPECT_DOUBLE_EQ(small.textRect.width(), 100);
    // Vertically centred.
    const double expectedY = std::round((80 - small.textRect.height()) / 2);
    EXPECT_DOUBLE_EQ(small.textRect.y(), expectedY);
    // A huge size gets the darkest grey.
    EXPECT_NEAR(fitTextInRect(QStringLiteral("Hi"), QRectF(0, 0, 1200, 600), 200).color.redF(), 0.25, 1e-4);

    // Drawing hands back the colour it used and stores it in the attributes given.
    QImage image = canvas();
    QPainter painter(&image);
    PMTextAttributes attributes;
    QColor used;
    fitAndDrawInRect(painter, QStringLiteral("A"), QRectF(image.rect()), &attributes, std::nullopt, &used, 36);
    painter.end();
    EXPECT_EQ(used, attributes.foregroundColor);
    EXPECT_NE(image, canvas());
}
