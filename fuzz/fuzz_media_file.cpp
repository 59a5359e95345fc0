// Movie and animated image files from outside: the bytes are written to a file, which is
// opened as an asset (duration, tracks, metadata, chapters, cover), grabbed from at two
// times, and read as an animated image. Nothing may crash, hang or read out of bounds.
#include "platform/Image.h"
#include "platform/media/Asset.h"
#include "platform/media/ImageGenerator.h"

#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = [] {
        QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/pellis-fuzz-media-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd >= 0)
            close(fd);
        return QString::fromLocal8Bit(pattern);
    }();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    using namespace platform::media;
    const AssetPtr asset = Asset::assetWithURL(QUrl::fromLocalFile(path));
    asset->duration();
    asset->metadata();
    asset->chapters();
    asset->coverImage();
    ImageGenerator generator(asset);
    generator.setRequestedTimeToleranceBefore(MediaTime::zero());
    generator.setRequestedTimeToleranceAfter(MediaTime::zero());
    generator.copyImageAtTime(MediaTime::withSeconds(0.0));
    generator.copyImageAtTime(MediaTime::withSeconds(1.5));
    platform::AnimatedImageSource::open(path);
    return 0;
}
