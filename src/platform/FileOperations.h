// Moving, renaming and copying files and folders without ever replacing what is already at
// the destination. A rename is atomic and refuses a taken name (renameat2 with
// RENAME_NOREPLACE, or an equally safe fallback where the file system lacks it). Across file
// systems an item is copied to a hidden temporary name in the destination folder, flushed to
// disk, checked for size, renamed into place without replacing, and only then is the source
// removed; a failed step leaves the source as it was and removes the partial copy.
#pragma once

#include <QtCore/QString>

#include <functional>

namespace platform {

// "Movie.mov" with n = 2 gives "Movie 2.mov"; "Extras" gives "Extras 2". The extension is
// what follows the last dot of the last component, unless that dot begins the name or ends it.
QString numberedPath(const QString& path, unsigned long long n);
// The text cut to at most `maxBytes` bytes of UTF-8, at a character (grapheme) boundary.
QString cutToUtf8Bytes(const QString& text, qsizetype maxBytes);
// Splits the last component's extension off: "/a/Movie.mov" gives "/a/Movie" and "mov".
void splitPathExtension(const QString& path, QString* getBase, QString* getExtension);

// How many numbered names a move or copy tries before it gives up.
inline constexpr unsigned long long kMaximumNumberedNameAttempts = 100000;

enum class NameConflict {
    Fail,        // a taken destination fails the operation (the error says so)
    UseFreeName, // a taken destination makes it try "name 1.ext", "name 2.ext", ...
};

// Renames within one file system, refusing to replace. On failure `getErrno` receives the
// reason (EEXIST for a taken name, EXDEV across file systems) and `error` a text.
bool renameWithoutReplacing(const QString& from, const QString& to, QString* error = nullptr, int* getErrno = nullptr);

// Moves a file, folder or symbolic link to the destination path (the full new path, not its
// folder). Uses a rename where it can and the copy described above across file systems.
// `getFinalPath` receives the path the item ended at (a numbered one with UseFreeName).
// Moving an item onto itself succeeds and changes nothing. When a copied file's source
// cannot be removed, the copy is removed and the move fails; when parts of a copied
// folder's source cannot be removed, the complete copy stays, the move succeeds and
// `error` names what was left behind.
bool moveItem(const QString& source, const QString& destination, NameConflict conflict, QString* getFinalPath = nullptr, QString* error = nullptr);

// Copies a file, folder or symbolic link to the destination path through a temporary name,
// so that a partial copy is never seen under the final name. Permissions, modification
// times and user extended attributes travel with the copy.
bool copyItem(const QString& source, const QString& destination, NameConflict conflict, QString* getFinalPath = nullptr, QString* error = nullptr);

// The hidden temporary copies made above are named ".<name>.pellis-<12 hex digits>". One
// that no copy of this process is writing was left by a copy that was killed half-way.
bool isTemporaryCopyName(const QString& name);
bool isTemporaryCopyInProgress(const QString& path);

// Test hooks: the only way to make the file system misbehave on demand.
struct FileOperationTestHooks {
    // Every rename answers EXDEV, as if source and destination lay on different file systems.
    bool simulateCrossDevice = false;
    // renameat2 answers EINVAL, as on a file system without RENAME_NOREPLACE.
    bool simulateNoReplaceUnsupported = false;
    // Called after each temporary copy is complete and flushed, with the source and the
    // temporary path; answering false fails the copy step. It may also change the copy (to
    // show that the size check catches a short copy).
    std::function<bool(const QString& source, const QString& temporaryCopy)> afterCopy;
};
// Installs hooks (nullptr removes them). Not thread-safe: tests set them before working.
void setFileOperationTestHooks(const FileOperationTestHooks* hooks);

} // namespace platform
