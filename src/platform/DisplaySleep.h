// Keeping the display awake while a movie plays: the desktop's screen-saver inhibition
// (org.freedesktop.ScreenSaver on the session bus). Without a bus nothing is held.
#pragma once

#include <QtCore/QString>

#include <functional>

namespace platform {

// Asks the desktop to keep the display awake (true) or lets it sleep again (false). Never
// waits for the desktop: the request goes out asynchronously, and after a refusal, an
// error or silence it is not repeated before a back-off (1 s, doubling up to 5 minutes)
// however often it is asked for. Main thread.
void setKeepsDisplayAwake(bool awake, const QString& reason);
// The desktop holds the display awake for this program.
bool keepsDisplayAwake();
// How many requests were tried (tests), and the clock of the back-off (tests
// steer it; seconds, a steady clock when unset).
int displaySleepRequestCount();
bool isDisplaySleepRequestPending();
void setDisplaySleepClockForTesting(std::function<double()> clock);
// Tests: forget the state (and the back-off).
void resetDisplaySleepForTesting();

} // namespace platform
