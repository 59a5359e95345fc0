#include "foundation/PMFunctions.h"

#include "platform/Alert.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QFile>

#include <cmath>
#include <QtCore/QStandardPaths>
#include <QtGui/QImage>
#include <QtGui/QPainter>

using namespace testsupport;

namespace {

std::string text(QRectF r)
{
    return QStringLiteral("(%1, %2, %3, %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

} // namespace

TEST(PMFunctions, AlertButtonsAndResponseCodes)
{
    QStringList seen;
    int press = 0;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        seen = alert.buttons;
        return platform::AlertResponse{press, false};
    });
    EXPECT_EQ(PMRunAlert(QStringLiteral("m"), QStringLiteral("i")), PMAlertFirstButtonReturn);
    EXPECT_TRUE(seen.isEmpty());
    // A title counts only when every earlier one was given.
    press = 1;
    EXPECT_EQ(PMRunAlert(QStringLiteral("m"), QString(), QString(), QStringLiteral("Second")), PMAlertFirstButtonReturn);
    EXPECT_TRUE(seen.isEmpty());
    EXPECT_EQ(PMRunAlert(QStringLiteral("m"), QString(), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")), PMAlertSecondButtonReturn);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    press = 2;
    EXPECT_EQ(PMRunAlert(QStringLiteral("m"), QString(), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")), PMAlertThirdButtonReturn);
    platform::setAlertHandler(nullptr);
}

TEST(PMFunctions, AlertsThatNobodyCanAnswerTakeTheAnswerThatChangesNothing)
{
    platform::setAlertHandler(nullptr); // and no screen: nobody answers
    const QString m = QStringLiteral("m"), none;
    struct Case {
        QStringList buttons;
        std::optional<long> unattended;
        long expected;
    } cases[] = {
        {{}, std::nullopt, PMAlertFirstButtonReturn},
        {{QStringLiteral("Delete"), QStringLiteral("Cancel"), QStringLiteral("Delete and Stop Asking")}, std::nullopt, PMAlertSecondButtonReturn},
        {{QStringLiteral("Move Files to Trash"), QStringLiteral("Keep Files")}, PMAlertSecondButtonReturn, PMAlertSecondButtonReturn},
        {{QStringLiteral("Add"), QStringLiteral("Stop"), QStringLiteral("Ignore")}, PMAlertNoAnswer, PMAlertNoAnswer},
        {{QStringLiteral("Quit"), QStringLiteral("Cancel")}, PMAlertFirstButtonReturn, PMAlertFirstButtonReturn},
    };
    for (const Case& k : cases) {
        const QStringList b = k.buttons + QStringList(3, QString());
        EXPECT_EQ(PMRunAlert(m, none, b[0], b[1], b[2], k.unattended), k.expected) << k.buttons.join(u',').toStdString();
    }
}

TEST(PMFunctions, DurationTexts)
{
    platform::setUserLocale(QStringLiteral("en_US"));
    resetSharedNumberFormatter();
    const struct {
        double seconds;
        bool twoDigitHours, hourUnits, fractional;
        const char* english;
        const char* german;
    } cases[] = {
        {245.4, false, false, false, "4:05", "4:05"},
        {-245.4, false, false, false, "4:05", "4:05"},
        {245.5, false, false, false, "4:06", "4:06"}, // halves away from zero
        {3723, false, false, false, "1:02:03", "1:02:03"},
        {3723, false, true, false, "1 hour", "1 hour"},
        {9000, false, true, false, "2.5 hours", "2,5 hours"},
        {86400, false, false, false, "1 day", "1 day"},
        {129600, false, true, false, "1.5 days", "1,5 days"},
        {172800, false, false, false, "2 days", "2 days"},
        {245.25, false, false, true, "4:05.250", "4:05,250"},
        {5.5, false, false, true, "0:05.500", "0:05,500"},
        {3725.125, false, false, true, "1:02:05.125", "1:02:05,125"},
        // Rounded to the millisecond before minutes and hours are split off.
        {59.6, false, false, true, "0:59.600", "0:59,600"},
        {119.7, false, false, true, "1:59.700", "1:59,700"},
        {59.9996, false, false, true, "1:00.000", "1:00,000"},
        {3599.9997, false, false, true, "1:00:00.000", "1:00:00,000"},
        {0, false, false, false, "0:00", "0:00"},
        {0, true, false, false, "00:00:00", "00:00:00"},
        {245, true, true, true, "00:04:05", "00:04:05"},
        {90000, true, false, false, "25:00:00", "25:00:00"},
        {std::nan(""), false, false, false, "0:00", "0:00"},
        {-INFINITY, false, false, false, "0:00", "0:00"},
    };
    for (const char* locale : {"en_US", "de_DE"}) {
        platform::setUserLocale(QString::fromLatin1(locale));
        resetSharedNumberFormatter();
        const bool german = locale[0] == 'd';
        for (const auto& c : cases)
            EXPECT_EQ(PMDurationString(c.seconds, c.twoDigitHours, c.hourUnits, c.fractional).toStdString(), german ? c.german : c.english)
                << c.seconds << " " << locale;
    }
    platform::setUserLocale(QStringLiteral("en_US"));
    resetSharedNumberFormatter();
}

TEST(PMFunctions, BookmarkDataSurvivesARename)
{
    const QString dir = makeTempDir(QStringLiteral("bm"));
    writeFile(dir + QStringLiteral("/a.mov"), "a");
    const QByteArray data = PMBookmarkDataFromPath(dir + QStringLiteral("/a.mov"));
    ASSERT_FALSE(data.isEmpty());
    ASSERT_TRUE(QFile::rename(dir + QStringLiteral("/a.mov"), dir + QStringLiteral("/b.mov")));
    EXPECT_EQ(PMPathFromBookmarkData(data).value_or(QString()), dir + QStringLiteral("/b.mov"));
    EXPECT_FALSE(PMPathFromBookmarkData(QByteArray()).has_value());
    EXPECT_FALSE(PMPathFromBookmarkData("not a bookmark").has_value());
    EXPECT_TRUE(PMBookmarkDataFromPath(QString()).isEmpty());
    EXPECT_TRUE(PMBookmarkDataFromPath(dir + QStringLiteral("/none")).isEmpty());
}

TEST(PMFunctions, FittingAndSnapping)
{
    const struct {
        QRectF rect;
        double ratio;
        QRectF expected;
    } fits[] = {
        {{0, 0, 100, 100}, 2, {0, 25, 100, 50}},
        {{0, 0, 100, 100}, 0, {0, 0, 100, 100}},
        {{0, 0, 100, 100}, 0.5, {25, 0, 50, 100}},
        {{10, 10, 101, 50}, 16.0 / 9.0, {16, 10, 89, 50}}, // too wide: width 88.9 rounds to 89, x grows by 6
        {{0, 0, 0, 50}, 2, {0, 0, 0, 50}},
        {{0, 0, 99, 100}, 1.0 / 3.0, {33, 0, 33, 100}},
    };
    for (const auto& c : fits)
        EXPECT_EQ(text(PMRectFittingAspectRatioInRect(c.rect, c.ratio)), text(c.expected)) << text(c.rect) << " " << c.ratio;
    EXPECT_EQ(text(PMRectFittingSizeInRect({0, 0, 100, 100}, {200, 100})), text({0, 25, 100, 50}));
    EXPECT_EQ(text(PMRectFittingSizeInRect({0, 0, 100, 100}, {200, 0})), text({0, 0, 100, 100}));

    const QRectF frame(0, 0, 200, 200);
    const struct {
        QRectF rect;
        double ratio, tolerance;
        bool hMinY, wMinX, hMaxY, wMaxX;
        QRectF expected;
    } snaps[] = {
        // Only the width may change: 98 wide at height 50 snaps to 100 (ratio 2).
        {{10, 10, 98, 50}, 2, 5, false, true, false, false, {10, 10, 100, 50}},
        // Keeping the maximum-x edge moves x.
        {{10, 10, 98, 50}, 2, 5, false, false, false, true, {8, 10, 100, 50}},
        // Too far off: nothing.
        {{10, 10, 90, 50}, 2, 5, false, true, true, false, {0, 0, 0, 0}},
        // Height only, keeping the maximum-y edge.
        {{10, 10, 100, 52}, 2, 5, false, false, true, false, {10, 12, 100, 50}},
        // Both possible: the smaller change wins (height by 1 beats width by 2, then width by 1 beats height by 2).
        {{10, 10, 98, 50}, 2, 5, true, true, false, false, {10, 10, 98, 49}},
        {{10, 10, 50, 98}, 0.5, 5, true, true, false, false, {10, 10, 49, 98}},
        // A tie goes to the height.
        {{10, 10, 100, 98}, 1, 5, true, true, false, false, {10, 10, 100, 100}},
        // The width candidate leaves the frame: the height candidate is taken.
        {{150, 10, 48, 25}, 2, 5, true, true, false, false, {150, 10, 48, 24}},
        {{198, 10, 2, 2}, 2, 5, false, true, false, false, {0, 0, 0, 0}},
    };
    for (const auto& c : snaps)
        EXPECT_EQ(text(PMSnapRectToFrame(c.rect, c.ratio, c.tolerance, c.hMinY, c.wMinX, c.hMaxY, c.wMaxX, frame)), text(c.expected))
            << text(c.rect);
}

TEST(PMFunctions, SmallGeometry)
{
    EXPECT_EQ(PMRoundedRectRadius({0, 0, 10, 40}, 8), 5);
    EXPECT_EQ(PMRoundedRectRadius({0, 0, 10, 40}, 3), 3);
    EXPECT_EQ(PMRoundedRectRadius({0, 0, 10, 40}, -1), 5);
    EXPECT_EQ(PMRoundedRectRadius({0, 0, 10, 40}, -1e-9), -1e-9);
    EXPECT_EQ(text(PMRectBetweenPoints({10, 10}, {12, 15})), text({10, 9, 3, 6}));
    EXPECT_EQ(text(PMRectBetweenPoints({12, 15}, {10, 10})), text({10, 9, 3, 6}));
    EXPECT_EQ(text(PMRectBetweenPoints({10.5, 10.5}, {12, 15})), text({10, 9, 3, 6}));
    EXPECT_EQ(PMSizeWithMinimumOfOne({0.5, 3}), QSizeF(1, 3));
    EXPECT_TRUE(PMPointsNearlyEqual({1, 1}, {1.9, 0.1}));
    EXPECT_FALSE(PMPointsNearlyEqual({1, 1}, {2, 1}));
    EXPECT_EQ(PMClampYToBand({5, 100, 10, 20}, {0, 0, 50, 50}), QPointF(5, 50));
    EXPECT_EQ(PMClampYToBand({5, -40, 10, 20}, {0, 0, 50, 50}), QPointF(5, -20));
    EXPECT_EQ(PMClampYToBand({5, 10, 10, 20}, {0, 0, 50, 50}), QPointF(5, 10));
}

TEST(PMFunctions, DrawingFillsAndStrokes)
{
    QImage image(40, 40, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        PMFillRoundedRect(p, {0, 0, 40, 20}, 4, nullptr, nullptr);
        const QGradientStops stops{{0.0, QColor(Qt::red)}, {1.0, QColor(Qt::blue)}};
        PMFillRoundedRect(p, {0, 20, 40, 20}, 100, &stops, nullptr);
        PMDrawDashedFrame(p, {2, 2, 36, 36});
        PMDrawDashedFrame(p, {2, 2, 36, 36});
    }
    EXPECT_EQ(image.pixelColor(20, 10), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white)); // outside the rounded corner
    // Top of the gradient is red, bottom blue.
    EXPECT_GT(image.pixelColor(20, 22).red(), image.pixelColor(20, 22).blue());
    EXPECT_LT(image.pixelColor(20, 37).red(), image.pixelColor(20, 37).blue());
    EXPECT_EQ(PMRoundedRectPath({0, 0, 10, 40}, 50).boundingRect(), QRectF(0, 0, 10, 40));
}

TEST(PMFunctions, AnimatedImageFrameDelays)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "no ffmpeg to make the fixture";
    const QString dir = makeTempDir(QStringLiteral("gif"));
    const QString gif = dir + QStringLiteral("/a.gif");
    const ProcessResult made = runProcess(ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                   QStringLiteral("-i"), QStringLiteral("testsrc=s=16x16:r=4:d=0.75"), gif});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    QByteArray bytes = readFile(gif);
    // Set the second frame's delay to 0 in its graphic control extension.
    QList<qsizetype> extensions;
    for (qsizetype at = bytes.indexOf("\x21\xf9\x04"); at >= 0; at = bytes.indexOf("\x21\xf9\x04", at + 1))
        extensions.append(at);
    ASSERT_GE(extensions.size(), 3);
    bytes[extensions[1] + 4] = 0;
    bytes[extensions[1] + 5] = 0;

    EXPECT_DOUBLE_EQ(PMAnimatedImageFrameDelay(bytes, 0), 0.25);
    EXPECT_DOUBLE_EQ(PMAnimatedImageFrameDelay(bytes, 1), 0.1);
    EXPECT_DOUBLE_EQ(PMAnimatedImageFrameDelay(bytes, 2), 0.25);
    EXPECT_DOUBLE_EQ(PMAnimatedImageFrameDelay(gif, 0), 0.25);
    EXPECT_EQ(PMAnimatedImageFrameDelay(bytes, 99), 0.0);
    EXPECT_EQ(PMAnimatedImageFrameDelay(bytes, -1), 0.0);
    EXPECT_EQ(PMAnimatedImageFrameDelay(dir + QStringLiteral("/none.gif"), 0), 0.0);

    const QString jpeg = dir + QStringLiteral("/a.jpg");
    ASSERT_EQ(runProcess(ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                  QStringLiteral("testsrc=s=16x16:d=0.1"), QStringLiteral("-frames:v"), QStringLiteral("1"), jpeg})
                  .exitCode,
              0);
    EXPECT_EQ(PMAnimatedImageFrameDelay(jpeg, 0), 0.0);
}
