// The one way pictures are decoded from files and data: within a cap on pixels that is
// checked against the picture's header before anything is allocated. Files that users put
// anywhere, and data from movie files and media libraries, can announce any size (a small
// PNG of one colour decodes to gigabytes); a picture above the cap is decoded at a reduced
// size where its format can do that while decoding (JPEG), and refused otherwise.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QByteArrayView>
#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtGui/QImage>

class QImageReader;

namespace platform {

// The most pixels a decoded picture may have (a 40 megapixel photo).
inline constexpr qint64 kMaximumDecodedImagePixels = 40'000'000;
// The frames of an animation have caps of their own (AnimatedImageSource).

struct ImageReadOptions {
    // Decode no larger than this (aspect ratio kept); nothing: the picture's own size.
    QSize fitInto;
    // Reduce only where the picture is at least twice `fitInto`: below that, a JPEG cannot
    // shrink while decoding and every format decodes whole and is scaled after, which costs
    // more than it saves for a caller that only averages the pixels (a difference hash).
    bool fitOnlyWhenHalving = false;
    // Turn the picture as its EXIF orientation says.
    bool autoTransform = false;
    // Tell the format from the content rather than from the name.
    bool formatFromContent = true;
};

// Reads the first picture of a regular file (anything else, such as a named pipe, is
// refused before it is opened). A null image when it cannot be read or is too large; the
// reason in `error`, and the picture's own size (before any reduction) in `originalSize`.
QImage readImageFile(const QString& path, const ImageReadOptions& options = {}, QString* error = nullptr, QSize* originalSize = nullptr);
// The same for encoded data (the format given, or told from the data).
QImage readImageData(const QByteArray& data, const char* format = nullptr, const ImageReadOptions& options = {}, QString* error = nullptr);
// The same with a reader the caller set up (device, format, and what to read next).
QImage readImage(QImageReader& reader, const ImageReadOptions& options = {}, QString* error = nullptr, QSize* originalSize = nullptr);
// The size a picture file's header announces (nothing for a file that is not regular).
QSize imageFileSize(const QString& path);

// A GIF's frames are decoded onto its logical screen, whose size the header states freely:
// 43 bytes can place a 2 x 2 frame on a screen of 65,281 x 252 pixels, which every decoder
// fills for each frame. False, with the reason, for a GIF whose screen is large (above 4
// megapixels) and more than four times the area its frames cover; true for anything else
// (other formats too). Only the block headers are read.
bool checkGIFCanvas(QByteArrayView data, QString* error = nullptr);
bool checkGIFCanvasOfFile(const QString& path, QString* error = nullptr);

} // namespace platform
