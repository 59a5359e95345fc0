// Path forms the program's texts and settings use: "~" for the home folder.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QUrl>

namespace platform {

// "~/..." for paths inside the home folder (whole components); other paths unchanged.
QString stringByAbbreviatingWithTildeInPath(const QString& path);
// The home folder for a leading "~" or "~/"; other paths unchanged.
QString stringByExpandingTildeInPath(const QString& path);
// An absolute path that cleaning leaves as it is: no empty, "." or ".." component and no
// trailing "/" ("/" itself is clean).
bool isCleanAbsolutePath(QStringView path);

// File names as the file system gives them: bytes, nearly always UTF-8. A byte that is not
// part of valid UTF-8 becomes the lone surrogate U+DC00 + byte in the text and goes back to
// the same byte, so a name that is not valid UTF-8 still names its own file (Qt's
// conversion makes such a byte U+FFFD, which names no file). For valid UTF-8 these are
// QString::fromUtf8 and toUtf8. Qt's own file classes cannot open such names; the
// program's POSIX calls go through these.
QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& path);
// The path of a local file URL, its bytes kept as above: a percent-encoded byte that is
// not UTF-8 (as a URL stored in the library index holds it), or a lone surrogate that
// QUrl::fromLocalFile encoded as three bytes, comes back as the escaped byte.
QString pathFromFileURL(const QUrl& url);

// A folder of the program's own under the user's cache folder that nobody else may read
// (mode 0700), for files it makes for itself. With `create` it is made when missing; the
// empty string when it cannot be made or written.
QString privateCacheFolder(const QString& name, bool create);

} // namespace platform
