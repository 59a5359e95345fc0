// The grid's own colours in its light or dark look (the grid can be dark in a light desktop).
#pragma once

#include <QtGui/QColor>

// The grid's background ("Stage Gray: Dark" / "Stage Gray: Light" when set), with the alpha
// and, when darken is above 0, that much darker.
QColor PMGroupViewBackgroundColor(bool dark, double alpha = 1.0, double darken = -1);
QColor PMGroupViewBorderColor(bool dark);
