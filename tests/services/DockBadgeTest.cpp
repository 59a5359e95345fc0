// The state the Dock badge shows: count, progress and when it is redrawn.
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include "common/TestSupport.h"
#include "services/PMApplicationIcon.h"

#include <QtCore/QElapsedTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>

#include <gtest/gtest.h>

using platform::Array;
using platform::Value;

namespace {

class DockBadgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PMMainController& c = mainController();
        c.resetForTesting();
        c._longTermNumberOfDownloads = c._longTermNumberOfConversions = 0;
        c._numberOfCrawlers = c._numberOfRemainingCrawlers = 0;
        c._numberOfRemainingItemsMovingToLibraryFolder = 0;
        c._movingToLibraryFolderFraction = 0;
        c._isMonitoredExternalViewerReadyToContinue = false;
        c._applicationIconBadgeCount = 0;
        c._applicationIconProgress = -1;
        c._applicationIconUpdateTimestamp = 0;
    }
    static PMMovieRepresentationOriginalPtr movie(const QString& name)
    {
        return PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/") + name + QStringLiteral(".mov"));
    }
};

TEST_F(DockBadgeTest, DownloadsAndConversionsCountEachMovieOnce)
{
    PMMainController& c = mainController();
    auto a = movie(QStringLiteral("a"));
    c._longTermNumberOfDownloads = 3;
    c._longTermNumberOfConversions = 1;
    c.updateApplicationIconWithDownloads(Array::make({Value(a->proxy())}), Array::make({Value(a->proxy())}), 1.0);
    EXPECT_EQ(c._applicationIconBadgeCount, 1);
    EXPECT_DOUBLE_EQ(c._applicationIconProgress, 0.75);

    // Nothing pending: the plain icon again.
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 2.0);
    EXPECT_EQ(c._applicationIconBadgeCount, 0);
    EXPECT_EQ(c._applicationIconProgress, -1);
}

TEST_F(DockBadgeTest, RedrawsOnlyWhenCountOrWholePercentChanges)
{
    PMMainController& c = mainController();
    c._numberOfRemainingItemsMovingToLibraryFolder = 2;
    c._movingToLibraryFolderFraction = 0.412;
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 1.0);
    const int redraws = c._numberOfApplicationIconRedraws;
    c._movingToLibraryFolderFraction = 0.419;
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 2.0);
    EXPECT_EQ(c._numberOfApplicationIconRedraws, redraws);
    EXPECT_EQ(c._applicationIconUpdateTimestamp, 2.0);
    c._movingToLibraryFolderFraction = 0.42;
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 3.0);
    EXPECT_EQ(c._numberOfApplicationIconRedraws, redraws + 1);
    EXPECT_EQ(c._applicationIconBadgeCount, 2);
}

TEST_F(DockBadgeTest, BackgroundWorkIsThrottledButItsEndAlwaysShows)
{
    PMMainController& c = mainController();
    c.updateApplicationIconWithCrawlDelta(2);
    EXPECT_EQ(c._applicationIconProgress, 0);
    c.updateApplicationIconWithCrawlDelta(-1); // within 0.2 seconds: no update
    EXPECT_EQ(c._applicationIconProgress, 0);
    c.updateApplicationIconWithCrawlDelta(-1); // the last one ends the busy period at once
    EXPECT_EQ(c._applicationIconProgress, -1);
    EXPECT_EQ(c._numberOfCrawlers, 0);
}

TEST_F(DockBadgeTest, WaitingExternalViewerShowsTheArrow)
{
    PMMainController& c = mainController();
    c._isMonitoredExternalViewerReadyToContinue = true;
    c._externalViewerMovieRepresentation = Value(movie(QStringLiteral("x")));
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 1.0);
    EXPECT_EQ(c._applicationIconBadgeCount, -1);
    EXPECT_EQ(c._applicationIconProgress, -1) << "no bar without an active group";
}

} // namespace

namespace {

QImage shownWindowIcon()
{
    return QGuiApplication::windowIcon().pixmap(QSize(256, 256)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void processEventsFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Background work that starts and ends with every tile scrolled into view: the window icon
// (a costly round trip to the display) follows the newest state, not every one of them, and
// a badge that came and went before the window took it never reaches the window.
TEST_F(DockBadgeTest, WindowIconTakesOnlyTheNewestOfManyQuickChanges)
{
    PMMainController& c = mainController();
    // Idle, as the window shows it (whatever earlier tests left).
    c.updateApplicationIconWithCrawlDelta(1);
    c.updateApplicationIconWithCrawlDelta(-1);
    processEventsFor(700);
    const qint64 before = QGuiApplication::windowIcon().cacheKey();
    const QImage plain = QGuiApplication::windowIcon().isNull() ? PMApplicationIconImage().convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                                                : shownWindowIcon();
    for (int i = 0; i < 20; ++i) {
        c.updateApplicationIconWithCrawlDelta(1);
        c.updateApplicationIconWithCrawlDelta(-1);
    }
    EXPECT_EQ(QGuiApplication::windowIcon().cacheKey(), before) << "the window icon is not set while the changes come";
    processEventsFor(700);
    EXPECT_EQ(QGuiApplication::windowIcon().cacheKey(), before) << "busy and idle again: the plain icon it already shows";

    // Busy at the end: the window takes the badged icon, once.
    c.updateApplicationIconWithCrawlDelta(1);
    c.updateApplicationIconWithCrawlDelta(1);
    ASSERT_FALSE(c._applicationIconImage.isNull());
    const QImage badged = c._applicationIconImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(QGuiApplication::windowIcon().cacheKey(), before);
    QElapsedTimer wait;
    wait.start();
    while (QGuiApplication::windowIcon().cacheKey() == before && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(shownWindowIcon(), badged);

    // Back to idle, then busy again before the plain icon reached the window: the new badge
    // is drawn on the plain icon, not on the badge still shown.
    c.updateApplicationIconWithCrawlDelta(-2);
    c._applicationIconUpdateTimestamp = 0; // past the background work's own throttle
    c.updateApplicationIconWithCrawlDelta(1);
    c.updateApplicationIconWithCrawlDelta(1);
    EXPECT_EQ(c._applicationIconImage.convertToFormat(QImage::Format_ARGB32_Premultiplied), badged);
    c.updateApplicationIconWithCrawlDelta(-2);
    wait.restart();
    while (shownWindowIcon() != plain && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(shownWindowIcon(), plain);
}

} // namespace
