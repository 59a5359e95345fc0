// What the grid tests share.
#pragma once

#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QString>

namespace gridtest {

// 100-point preview tiles, spacing 10, the uniform layout, no size adjustment, previews
// rather than covers: a 480-point grid then has 4 columns.
inline void useSmallUniformTiles()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.setDouble(100, QStringLiteral("Preview Width"));
    defaults.setDouble(10, QStringLiteral("Preview Spacing"));
    defaults.setInteger(0, QStringLiteral("Preview Layout"));
    defaults.setInteger(0, QStringLiteral("Adjust Preview Size"));
    PMGroupView::coverMode() = false;
}

} // namespace gridtest
