// The program's icon, drawn rather than shipped so it is sharp at every size, and the icon
// with the launcher badge: a progress bar near the bottom and a count (or the arrow "➔")
// in the top right corner.
#pragma once

#include <QtGui/QColor>
#include <QtGui/QImage>

#include <cstdint>

QImage PMApplicationIconImage(int size = 256);

// The base icon with a bar for a progress from 0 to 1 (none below 0) and a badge for a count
// of 1 or more (the arrow for -1), both in the accent colour.
QImage PMApplicationIconWithBadge(const QImage& base, std::int64_t count, double progress, const QColor& accent);
