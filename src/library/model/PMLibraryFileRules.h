// The few path rules the movie records need from the library's file rules: tilde forms,
// volumes, existence, dates of files and readable paths. Kept small and plain; the
// library's full file rules may take their place.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <optional>

// "~/..." for paths inside the home folder; other paths unchanged.
QString stringByAbbreviatingWithTildeInPath(const QString& path);
// The home folder for a leading "~" or "~/"; other paths unchanged.
QString stringByExpandingTildeInPath(const QString& path);
// The volume folder the path names under /media/$USER, /run/media/$USER or /mnt, or "/"
// for the system volume (by the text alone: a volume that is gone keeps its path).
QString volumePathOrSlash(const QString& path);
// Whether the volume of the path is mounted (the system volume always is).
bool volumeExistsForPath(const QString& path);
// Whether anything (file, folder or link) is at the path.
bool fileExistsAtPath(const QString& path);
// The path is the folder or lies inside it (whole components; exact comparison).
bool isEqualToOrChildOfPath(const QString& path, const QString& folder);
// The path as people read it: the tilde form, kept whole so it can be searched and copied.
QString readablePathRepresentation(const QString& path);
// The birth time of the file (statx), nothing when the file system does not keep one.
std::optional<platform::Date> creationDateFromPath(const QString& path);
// The modification time of the file, nothing when there is no file.
std::optional<platform::Date> modificationDateFromPath(const QString& path);
// The line that tells a missing volume: "Volume “%@” is missing".
QString missingVolumeDescription(const QString& path);
