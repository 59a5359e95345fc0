// Bookmarks: a lasting reference to a file that survives a rename or a move within its
// volume and a remount of the volume under another mount point. It records the path, the
// identity of the volume and the file's inode; it is resolved by its path first, then on
// the identified volume by the same relative path, then by the inode in a bounded search.
// Inode numbers are reused once a file is deleted, so a file found by its inode must also
// have the recorded birth time (or, where the file system keeps none, the recorded size
// and modification time).
#pragma once

#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace platform {

struct Bookmark {
    QString path;
    QString volumePath;      // where the volume was mounted when the bookmark was made
    QString volumeIdentity;  // see Volume::identity
    quint64 device = 0;
    quint64 inode = 0;
    qint64 birthTime = 0;        // nanoseconds since 1970; 0 where the file system keeps none
    qint64 size = 0;
    qint64 modificationTime = 0; // nanoseconds since 1970

    bool isValid() const { return path.startsWith(u'/'); }
    // The record as a dictionary value ("Path", "Volume Path", "Volume Identity", "Device",
    // "Inode", "Birth", "Size", "Modified", "Version"), and back. Reading checks every key's type.
    Value toValue() const;
    static bool fromValue(const Value& value, Bookmark* getBookmark, QString* error = nullptr);
    // The record as bytes (compact JSON), and back; bad bytes give an error, never a crash.
    QByteArray toData() const;
    static bool fromData(const QByteArray& data, Bookmark* getBookmark, QString* error = nullptr);
};

// Records the file or folder at the path (not following a final symbolic link).
bool createBookmark(const QString& path, Bookmark* getBookmark, QString* error = nullptr);

// The most entries the inode search looks at before it gives up.
inline constexpr int kBookmarkSearchLimit = 50000;

// Finds the bookmarked file without mounting anything. `getIsStale` is set when the file
// was found elsewhere than the recorded path, or the path now holds another file: the
// caller should make a new bookmark.
bool resolveBookmark(const Bookmark& bookmark, QString* getPath, bool* getIsStale = nullptr, QString* error = nullptr);

} // namespace platform
