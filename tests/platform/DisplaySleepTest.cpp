// Keeping the display awake: asked at every tick of the time display while a movie plays,
// the request goes to the desktop once, and after a failure (no bus, nobody listening, no
// answer) not again before its back-off, which doubles.
#include "platform/DisplaySleep.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

TEST(DisplaySleepTest, FailedRequestsBackOffInsteadOfRepeatingEveryTick)
{
    double clock = 1000;
    platform::setDisplaySleepClockForTesting([&clock] { return clock; });
    platform::resetDisplaySleepForTesting();
    // The test's bus (if any) has no screen saver: every request fails.
    const auto settle = [] { EXPECT_TRUE(testsupport::waitUntil([] { return !platform::isDisplaySleepRequestPending(); }, 10000)); };
    const auto tick = [](int n) {
        for (int i = 0; i < n; ++i)
            platform::setKeepsDisplayAwake(true, QStringLiteral("Movie Playback"));
    };
    tick(50);
    settle();
    tick(50);
    EXPECT_EQ(platform::displaySleepRequestCount(), 1);
    EXPECT_FALSE(platform::keepsDisplayAwake());
    // One second later it is tried again, then only after two more, then four.
    clock += 1.01;
    tick(20);
    settle();
    EXPECT_EQ(platform::displaySleepRequestCount(), 2);
    clock += 1.5;
    tick(20);
    EXPECT_EQ(platform::displaySleepRequestCount(), 2);
    clock += 0.6;
    tick(20);
    settle();
    EXPECT_EQ(platform::displaySleepRequestCount(), 3);
    clock += 3.9;
    tick(20);
    EXPECT_EQ(platform::displaySleepRequestCount(), 3);
    // Letting the display sleep needs no request.
    platform::setKeepsDisplayAwake(false, QString());
    EXPECT_EQ(platform::displaySleepRequestCount(), 3);
    platform::resetDisplaySleepForTesting();
    platform::setDisplaySleepClockForTesting({});
}
