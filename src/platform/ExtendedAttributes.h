// Extended attributes of files: the comment, the tags and the download source that file
// managers keep beside a file, and raw access for everything else. Attributes are read and
// written on the file itself, never on the target of a symbolic link at the end of the path.
// A missing attribute, a missing file and a file system without extended attributes all
// answer "nothing": none of them is an error the user needs to see.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QStringList>

namespace platform {

// The shared freedesktop names.
inline constexpr char kCommentAttribute[] = "user.xdg.comment";       // plain UTF-8 text
inline constexpr char kTagsAttribute[] = "user.xdg.tags";             // comma-separated tags
inline constexpr char kOriginURLAttribute[] = "user.xdg.origin.url";  // where the file came from

// The largest attribute value the kernel allows (XATTR_SIZE_MAX).
inline constexpr qsizetype kMaximumAttributeSize = 65536;

// Reads the raw bytes of an attribute. False (and `getData` cleared) when the path or name is
// empty, the file or attribute is missing or empty, the file system has no attributes, or the
// read fails; `error` then holds a reason for the log, empty for the ordinary "not there".
bool getExtendedAttribute(const QString& path, const QByteArray& name, QByteArray* getData, QString* error = nullptr);
// Writes the bytes (replacing an earlier value). False for an empty path or name, a missing
// file, a value over the kernel's limit or a refused write, with the reason in `error`.
bool setExtendedAttribute(const QString& path, const QByteArray& name, const QByteArray& data, QString* error = nullptr);
// Removes an attribute; true also when it was not there.
bool removeExtendedAttribute(const QString& path, const QByteArray& name, QString* error = nullptr);
// The names of the file's attributes (empty when there are none or they are unsupported).
QList<QByteArray> extendedAttributeNames(const QString& path);
// Whether the file system holding the path accepts user attributes: probes by writing and
// removing a scratch attribute on the path itself (which must be writable).
bool extendedAttributesSupported(const QString& path);

// The comment as text; empty when there is none. Invalid UTF-8 is decoded leniently and
// trailing NUL bytes that some writers append are dropped.
QString fileComment(const QString& path);
// Sets the comment; an empty text removes it.
bool setFileComment(const QString& path, const QString& comment, QString* error = nullptr);

// The tags, trimmed, empty entries dropped, in stored order.
QStringList fileTags(const QString& path);
// Sets the tags; an empty list removes the attribute. A tag holding a comma cannot be stored
// in this form and is refused (false, nothing written).
bool setFileTags(const QString& path, const QStringList& tags, QString* error = nullptr);

// The download source URL text; empty when there is none.
QString fileOriginURL(const QString& path);
bool setFileOriginURL(const QString& path, const QString& url, QString* error = nullptr);

} // namespace platform
