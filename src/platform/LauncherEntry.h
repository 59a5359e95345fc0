// The launcher's count and progress on the program's icon. Docks and task managers of the
// Linux desktops (KDE's, the GNOME docks and others) listen for the "Update" signal of
// "com.canonical.Unity.LauncherEntry" on the session bus, keyed by the desktop file.
#pragma once

#include <QtCore/QString>
#include <QtCore/QVariantMap>

#include <cstdint>

namespace platform {

inline constexpr const char* kLauncherEntryInterface = "com.canonical.Unity.LauncherEntry";
inline constexpr const char* kLauncherEntryPath = "/com/tolvane/Pellis/LauncherEntry";

// The signal's properties: a count of 1 or more shows as the count; -1 (something waits for
// the user) marks the entry urgent; a progress from 0 to 1 shows a bar, below 0 none.
QVariantMap launcherEntryProperties(std::int64_t count, double progress);
// "application://NAME.desktop" for the desktop file name.
QString launcherEntryURI(const QString& desktopFileName);
// Answers whether the signal went out (false without a session bus).
bool updateLauncherEntry(const QString& desktopFileName, std::int64_t count, double progress);

} // namespace platform
