// The few path helpers the movie records need beyond the library's file rules
// (NSString+PMHelpManagerPaths.h): tilde forms of stored paths and whether a path's volume
// is mounted.
#pragma once

#include "foundation/NSString+PMHelpManagerPaths.h"

#include <QtCore/QString>

// Whether the volume of the path is mounted (the system volume always is).
bool volumeExistsForPath(const QString& path);
// Whether anything is at the path, with the program's setting for external volumes.
bool fileExistsAtPathWithDefaultCache(const QString& path);
