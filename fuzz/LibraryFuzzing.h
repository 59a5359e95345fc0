// Shared by the fuzz targets that build a library: the records look at the library
// folder, so it lives in a throw-away home, never the user's.
#pragma once

#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

namespace libraryfuzz {

// Answers true the first time only, after moving the process into a fresh home.
inline bool useThrowAwayHomeOnce()
{
    static bool done = false;
    if (done)
        return false;
    done = true;
    static QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QDir().mkpath(home.path() + QStringLiteral("/Library"));
    platform::UserDefaults::standard().setObject(platform::Value(home.path() + QStringLiteral("/Library")), QStringLiteral("Library Path"));
    return true;
}

} // namespace libraryfuzz
