// Difference hashes and average colours.
#include "images/NSImage+PMImageHash.h"

#include "platform/ImageReading.h"

#include <QtCore/QByteArray>
#include <QtGui/QPainter>

#include <algorithm>
#include <cmath>

namespace {

// The picture reduced to exactly w × h pixels over a cleared bitmap: premultiplied RGBA, so
// transparent parts are black. Reducing by area averaging, as the platform's down-sampling
// does, keeps a hash stable under small shifts of the picture.
QImage renderedBitmap(const QImage& source, int width, int height)
{
    // Shrunk first, converted after: a photo's 32-bit pixels scale as they are, and only
    // the few pixels of the result change format.
    const QImage::Format format = source.format();
    const bool scalesAsIs = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
    QImage argb = (scalesAsIs && (source.width() != width || source.height() != height))
                      ? source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      : source;
    argb = std::move(argb).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (argb.isNull())
        return {};
    QImage scaled = (argb.width() == width && argb.height() == height)
                        ? argb
                        : argb.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.width() != width || scaled.height() != height) {
        QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(0, 0, width, height), argb);
        painter.end();
        scaled = canvas;
    }
    return scaled.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

QImage grayAndHash(const QImage& source, int width, int height, QString* dHash, std::vector<double>* rgbComponents)
{
    if (width < 1 || height < 1 || source.isNull())
        return {};
    QImage bitmap = renderedBitmap(source, width, height);
    if (bitmap.isNull())
        return {};
    QByteArray hash;
    const bool hashes = dHash && width > 1;
    if (hashes)
        hash = QByteArray(int(((qint64(width) - 1) * height - 1) / 8 + 1), '\0');
    if (rgbComponents)
        rgbComponents->reserve(rgbComponents->size() + size_t(width) * size_t(height) * 3);
    for (int row = 0; row < height; ++row) {
        uchar* pixel = bitmap.scanLine(row);
        int left = 0;
        for (int column = 0; column < width; ++column, pixel += 4) {
            const int red = pixel[0], green = pixel[1], blue = pixel[2];
            if (rgbComponents) {
                rgbComponents->push_back(red);
                rgbComponents->push_back(green);
                rgbComponents->push_back(blue);
            }
            // Integer form of 0.3 r + 0.59 g + 0.11 b, cut to a whole number.
            const int grey = (30 * red + 59 * green + 11 * blue) / 100;
            pixel[0] = pixel[1] = pixel[2] = uchar(grey);
            if (hashes && column > 0 && grey < left) {
                const qint64 bit = qint64(row) * (width - 1) + column - 1;
                hash[int(bit / 8)] = char(uchar(hash[int(bit / 8)]) | uchar(1u << (bit % 8)));
            }
            left = grey;
        }
    }
    if (hashes)
        *dHash = QString::fromLatin1(hash.toBase64());
    return bitmap;
}

} // namespace

platform::ImagePtr grayScaleImageWithSize(const platform::ImagePtr& image, QSizeF size, QString* dHash, std::vector<double>* rgbComponents)
{
    if (!image || !image->isValid() || !std::isfinite(size.width()) || !std::isfinite(size.height()))
        return nullptr;
    const int width = int(std::min(size.width(), 100000.0)), height = int(std::min(size.height(), 100000.0));
    const QImage grey = grayAndHash(image->pixels(), width, height, dHash, rgbComponents);
    if (grey.isNull())
        return nullptr;
    return platform::Image::make(grey, QSizeF(width, height));
}

platform::ImagePtr grayScaleImage(const platform::ImagePtr& image)
{
    if (!image || !image->isValid())
        return nullptr;
    const QSizeF points(std::round(image->size().width()), std::round(image->size().height()));
    const QSizeF pixels = image->pixelSize();
    if (pixels.width() > points.width()) {
        platform::ImagePtr grey = grayScaleImageWithSize(image, pixels, nullptr, nullptr);
        if (grey)
            grey->setSize(image->size());
        return grey;
    }
    return grayScaleImageWithSize(image, points, nullptr, nullptr);
}

QString dHashWithResolution(const QImage& image, long long resolution)
{
    if (resolution < 2 || image.isNull())
        return {};
    const int n = int(std::min(resolution, 1000LL));
    QString hash;
    grayAndHash(image, n, n, &hash, nullptr);
    return hash;
}

QString dHashOfImageFile(const QString& path, long long resolution)
{
    if (resolution < 2)
        return {};
    // Ample pixels for every hash bit to average over: the reduction is by area either way.
    const int side = int(std::clamp<long long>(resolution * 32, 256, 4096));
    platform::ImageReadOptions options;
    options.fitInto = QSize(side, side);
    // A still a little larger than that is read faster whole.
    options.fitOnlyWhenHalving = true;
    const QImage pixels = platform::readImageFile(path, options);
    if (pixels.isNull() || pixels.width() < 1 || pixels.height() < 1)
        return {};
    return dHashWithResolution(pixels, resolution);
}

QString dHashWithResolution(const platform::ImagePtr& image, long long resolution)
{
    return image ? dHashWithResolution(image->pixels(), resolution) : QString();
}

std::vector<double> rgbAverageComponents(const platform::ImagePtr& image)
{
    if (!image || !image->isValid())
        return {};
    std::vector<double> components;
    grayAndHash(image->pixels(), 1, 1, nullptr, &components);
    for (double& c : components)
        c /= 255.0;
    return components;
}
