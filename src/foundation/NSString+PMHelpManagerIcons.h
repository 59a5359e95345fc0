// Icons of files as the desktop shows them: a picture file shows itself, an application's
// desktop entry its own icon, any other file the icon theme's icon for its type (the
// type's generic icon, then the generic document, when the theme has none). The
// HFS type and creator codes of files do not exist on Linux.
#pragma once

#include "platform/Image.h"

#include <QtCore/QRectF>
#include <QtCore/QSizeF>
#include <QtCore/QString>
#include <QtGui/QIcon>

class QMimeType;
class QPainter;

// The file's icon as an image of exactly the size (in points, sharp at the screen's pixel
// ratio), the picture scaled proportionally and centred; nothing for a missing file.
platform::ImagePtr iconFromPathWithSize(const QString& path, QSizeF size);
// The same at 16 × 16 points.
platform::ImagePtr iconFromPath(const QString& path);
// `iconFromPath`, kept per path for the whole process (nothing is not kept). Main thread.
platform::ImagePtr cachedIconFromPath(const QString& path);
// The icon of the file type of the extension (ignoring case) at 16 × 16 points, kept per
// extension. An empty extension gives the generic document. Main thread.
platform::ImagePtr cachedIconFromExtension(const QString& extension);

// The HFS type and creator codes: Linux files have none, so both are empty.
QString fileTypeFromPath(const QString& path);
QString fileCreatorFromPath(const QString& path);

// The icon theme's icon for the type: its own, then its generic one, then the generic
// document; a null icon when the theme has none of them.
QIcon PMIconForMimeType(const QMimeType& type);
// A plain sheet with a folded corner in the frame: the document icon without an icon theme.
void PMDrawGenericDocumentIcon(QPainter& painter, const QRectF& frame);
// The icon drawn into an image of exactly the size, proportionally and centred.
platform::ImagePtr PMImageWithIcon(const QIcon& icon, QSizeF size);
// Forgets the kept icons (tests, and a change of the icon theme).
void PMResetCachedIcons();
