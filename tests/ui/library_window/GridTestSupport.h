// What the grid tests share.
#pragma once

#include "common/TestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QCoreApplication>
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

// The picture loads and saves a grid asked for, ended before its records and the process go.
inline void waitForPictureLoads()
{
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000);
    loader.waitForSaveQueue();
    QCoreApplication::processEvents();
}

} // namespace gridtest
