// Keeping the display awake while a movie plays: the desktop's screen-saver inhibition
// (org.freedesktop.ScreenSaver on the session bus). Without a bus nothing is held.
#pragma once

#include <QtCore/QString>

namespace platform {

// Asks the desktop to keep the display awake; answers the cookie of the request, 0 when
// it was refused or nobody listens.
unsigned int preventDisplaySleep(const QString& reason);
void allowDisplaySleep(unsigned int cookie);

} // namespace platform
