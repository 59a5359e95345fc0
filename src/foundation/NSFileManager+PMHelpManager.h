// Sizes of files and folders on disk.
#pragma once

#include <QtCore/QString>

#include <cstdint>
#include <optional>

// The total size in bytes of the file at the path, or of everything below the folder at
// any depth (hidden files included; symbolic links count as themselves and are not
// followed; unreadable items count 0). Nothing when the path is empty or nothing is there.
std::optional<std::uint64_t> totalFileSizeAtPath(const QString& path);

// How often the main thread measured a file (tests: the status line and the grid must not).
std::uint64_t PMMainThreadFileSizeMeasurementCount();
