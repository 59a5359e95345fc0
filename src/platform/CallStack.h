// A description of the current call stack, for the log lines of caught failures.
#pragma once

#include <QtCore/QString>

namespace platform {

QString callStackDescription(int skipFrames = 1);

} // namespace platform
