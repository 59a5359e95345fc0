// What the image tests share: letting the loader's queues run dry, plain pictures, and
// records for copies of fixture files.
#pragma once

#include "common/TestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QThread>
#include <QtGui/QColor>

namespace imagestest {

// Lets every queue of the loader run dry, with the hand-backs to the main thread.
inline void settle()
{
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    for (int round = 0; round < 4; ++round) {
        testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000);
        loader.waitForSaveQueue();
        QCoreApplication::processEvents();
        QThread::msleep(5);
        QCoreApplication::processEvents();
    }
}

inline platform::ImagePtr picture(int w, int h, QColor color)
{
    QImage pixels(w, h, QImage::Format_RGB32);
    pixels.fill(color);
    return platform::Image::make(std::move(pixels));
}

// A record for a copy of the file (so each test has its own ID and file stamp).
inline PMMovieRepresentationOriginalPtr recordFor(const QString& source, const QString& name = {})
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("movies"));
    const QString path = dir + QLatin1Char('/') + (name.isEmpty() ? QFileInfo(source).fileName() : name);
    QFile::copy(source, path);
    return PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
}

} // namespace imagestest
