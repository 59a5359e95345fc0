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

#include <memory>

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

// The path of the file that an alias record of older libraries points to, read from
// the record's tagged fields (its own path text, or the volume-relative one joined to
// the volume's mount point, or the colon-separated classic path). Damaged or foreign
// data gives false and an error, never a crash.
bool pathFromAliasRecord(const QByteArray& alias, QString* getPath, QString* error = nullptr);

// The most entries the inode search looks at before it gives up.
inline constexpr int kBookmarkSearchLimit = 50000;

// Finds the bookmarked file without mounting anything. `getIsStale` is set when the file
// was found elsewhere than the recorded path, or the path now holds another file: the
// caller should make a new bookmark.
bool resolveBookmark(const Bookmark& bookmark, QString* getPath, bool* getIsStale = nullptr, QString* error = nullptr);

// The most entries (folder entries read, searches that found nothing) a session keeps.
inline constexpr qsizetype kBookmarkSessionEntryLimit = 500000;

// While an object of this class lives, the bookmark resolutions on the thread that made it
// share what their inode searches read: the folders listed, an index of the inodes seen and
// the searches that found nothing, so that resolving many files that moved or vanished
// together costs about one search per folder instead of one per file. Files found are still
// checked to be the bookmarked ones; the file system is assumed not to change much meanwhile,
// so keep a session for one batch only. Past `entryLimit` entries it keeps nothing more and
// searches as without it. Other threads are unaffected; a session made while another is
// active on the same thread leaves all to the outer one.
class BookmarkSearchSession {
public:
    explicit BookmarkSearchSession(qsizetype entryLimit = kBookmarkSessionEntryLimit);
    ~BookmarkSearchSession();
    BookmarkSearchSession(const BookmarkSearchSession&) = delete;
    BookmarkSearchSession& operator=(const BookmarkSearchSession&) = delete;

    struct State;

private:
    std::unique_ptr<State> m_state; // null when an outer session is in charge
};

// How many folders the inode searches of this thread have listed so far (to measure and
// test the sharing of a session).
quint64 bookmarkSearchFolderReads();
// How many moved folders the session of this thread has learned of (0 without one): a
// file not found before the count grew may be found now, where its folder went.
quint64 bookmarkSearchMovedFoldersLearned();

} // namespace platform
