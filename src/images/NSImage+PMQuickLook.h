// Thumbnails of files: for movies and audio files the media layer's own picture (attached
// artwork, else a frame), for other files the desktop's shared thumbnail cache (read only,
// checked against the file's modification time), and the desktop theme's icon for a
// file's type as the last resort.
#pragma once

#include "platform/Image.h"

#include <QtCore/QSize>
#include <QtCore/QUrl>
#include <QtGui/QImage>

// An image of the size holding the pixels (one pixel one point without a size); nothing
// for no pixels.
platform::ImagePtr sizeCorrectedImageWithCGImage(const QImage& image, QSizeF size);
platform::ImagePtr sizeCorrectedImageWithCGImage(const QImage& image);

// A thumbnail of at most the pixel size; nothing when none is made or a side is 0.
platform::ImagePtr quickLookImageWithURL(const QUrl& url, QSize maximumSize);
// For a sequence bundle its first part, else the URL itself; at most 1024 x 1024.
platform::ImagePtr quickLookImageWithPotentialSequenceURL(const QUrl& url);

// The cached thumbnail of the shared cache ("normal", "large", "x-large" under
// $XDG_CACHE_HOME/thumbnails), largest first; nothing when missing or stale.
QImage PMSharedThumbnailCacheImage(const QString& path);

// 512 x 512 points with the theme's icon for the file's type (the generic document icon
// when there is none) in the middle. Main thread only (icons are).
platform::ImagePtr PMFileIconPreviewImage(const QUrl& url);
// The two halves of it. The type's name as told by the file's name alone (no file is read)
// and its icon drawn at the size the preview shows it, or a null image without one: main
// thread only, and cheap once per type (kept).
QString PMFileIconTypeName(const QUrl& url);
QImage PMFileIconImageForTypeName(const QString& typeName);
// The preview around an icon drawn beforehand (a null one: the generic document); any thread.
platform::ImagePtr PMFileIconPreviewImageWithIcon(const QImage& icon);
