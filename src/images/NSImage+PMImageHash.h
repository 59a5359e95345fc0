// Difference hashes and average colours of pictures: the picture is drawn into a small RGBA
// bitmap (transparency counts as black), turned grey, and on the way its colour values and
// the hash bits (a pixel darker than its left neighbour) are read. The duplicate search and
// the similarity sort count differing bits between hashes.
#pragma once

#include "platform/Image.h"

#include <QtCore/QString>

#include <functional>
#include <vector>

// The grey image of the size (each side cut to a whole number); nothing when a side is 0.
// With `dHash`, the Base64 hash text ((w − 1) × h bits, row by row, least significant bit
// first; none when w is 1); with `rgbComponents`, red, green, blue (0 to 255, alpha
// premultiplied) of every pixel appended.
platform::ImagePtr grayScaleImageWithSize(const platform::ImagePtr& image, QSizeF size, QString* dHash, std::vector<double>* rgbComponents);
// The grey image at the picture's own resolution.
platform::ImagePtr grayScaleImage(const platform::ImagePtr& image);
// The hash of an N × N rendering; nothing below 2.
QString dHashWithResolution(const platform::ImagePtr& image, long long resolution);
// The hash of a bitmap (the rendering as above), for callers that hold pixels only.
QString dHashWithResolution(const QImage& image, long long resolution);
// The hash of a picture file, read reduced where its format can do that while decoding
// (JPEG): the hash needs few pixels, and a photo decoded and converted at its own size
// costs a hundred times more. Empty when the file cannot be read.
QString dHashOfImageFile(const QString& path, long long resolution);
// The average colour: red, green, blue of a 1 × 1 rendering, from 0 to 1; nothing without a picture.
std::vector<double> rgbAverageComponents(const platform::ImagePtr& image);

class PMMovieRepresentationPrototype;
// Runs on the main thread after the background pass stored a record's missing hash (the
// duplicate search and the sort may ask again).
std::function<void(PMMovieRepresentationPrototype&)>& PMImageHashPassDidStoreHash();
// Waits until the pass has computed what was asked of it so far (tests, benchmarks).
void PMWaitForImageHashPass();
// The hashes the pass still has to make (main thread).
std::size_t PMImageHashPassWaitingCount();
