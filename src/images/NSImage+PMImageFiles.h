// The image files of the library's image folders: reading stored covers and previews
// (within decoding limits), the reduced JPEG copies, and the encoders that every image
// write goes through.
#pragma once

#include "platform/Image.h"

#include <QtCore/QByteArray>
#include <QtCore/QSize>
#include <QtCore/QString>

// Settings of the image folders, read once per process.
struct PMImageFolderSettings {
    bool loadsTIFFImages = false;
    bool savesTIFFImages = false;
    bool usesUnderscoreImages = true;
    qint64 underscoreImageArea = 160000; // square pixels
    static const PMImageFolderSettings& shared();
};

// An image file decoded within the limits (a pixel cap and an allocation limit): nothing,
// with a log line for an oversized one, when it cannot be read. With a size to fit, a
// larger picture is decoded scaled down to fit it (JPEG files decode at a reduced scale
// directly). The path is recorded as the image's source path.
platform::ImagePtr PMImageWithContentsOfFile(const QString& path, QSize fitIntoPixels = QSize());

// The stored cover: "jpg", then "tiff" when TIFF images are read, then the artwork of a
// media-library item when it is square or portrait (marked as a thumbnail).
platform::ImagePtr coverImageWithBasePath(const QString& basePath, const platform::ImagePtr& externalMediaArtwork);
platform::ImagePtr posterImageWithBasePath(const QString& basePath);

// JPEG data of the image reduced to the area limit (factor 0.85); nothing when the image is
// not above the limit.
QByteArray underscoreImageJPEGRepresentation(const platform::ImagePtr& image);
// The pixel size of the reduced copy of a picture of the size; the size itself when none is made.
QSize underscoreImagePixelSize(QSizeF pixelSize, qint64 areaLimit);

// Encoders. Factors run from 0 (smallest) to 1 (best).
QByteArray JPEGRepresentationWithCompressionFactor(const platform::ImagePtr& image, double factor);
QByteArray PNGRepresentation(const platform::ImagePtr& image);
QByteArray TIFFRepresentation(const platform::ImagePtr& image);
// Encode and write through the one save function; NO, with a log line, on failure. The
// reason of a failed write is handed out when asked for.
bool writeToJPEGFile(const platform::ImagePtr& image, const QString& path, double compressionFactor = 0.95, QString* error = nullptr);
bool writeToPNGFile(const platform::ImagePtr& image, const QString& path);
bool writeToTIFFFile(const platform::ImagePtr& image, const QString& path, QString* error = nullptr);
