// The system font in the three weights that custom-drawn views ask for. Sizes are the
// program's points: one point is one device-independent pixel, as in every geometry of
// the program, whatever the screen's DPI.
#pragma once

#include <QtGui/QFont>

#include <cstdint>

// Weight codes: 0 light, 2 medium, anything else regular. Family codes handed back:
// 2 the system font with the requested weight (the only case on Linux, where the font
// configuration gives every weight).
QFont backwardsCompatibleSystemFontOfSize(double size, std::int64_t weight, std::int64_t* getFamily = nullptr);

// The plain system font of a size in points (regular weight).
QFont PMSystemFontOfSize(double size);
// Gives a font the size in points (device-independent pixels).
void PMSetFontSize(QFont& font, double size);
// A font's size in the program's points, whether it was given in pixels or in points.
double PMFontSize(const QFont& font);
