// The names of the files the image loader keeps in the library's image folders, and their
// removal. Only what carries such a name, directly in the folder itself (never through a
// symbolic link), is ever deleted: a user's files that end up in or behind an image folder
// stay untouched.
#pragma once

#include <QtCore/QSet>
#include <QtCore/QString>

// Whether the ID may name a file: not empty, no "/", not "." or "..", and the UUID form of
// the program's IDs or one of the known media-library prefixes.
bool PMIsWellFormedImageID(const QString& uniqueLibraryID);

// What a folder holds: covers or previews ("ID.jpg", "ID.tiff", reduced copies in "_"),
// or hover frames (a folder "ID" of frames named "N (seconds).jpg").
enum class PMImageFolderKind { Pictures, ReducedCopies, HoverFrames };

// The ID a file of the kind is named after; empty when the name is none of the loader's.
// A hover-frame folder that was being written when the program ended (".ID.pellis-XXXXXX")
// names its ID too.
QString PMImageIDOfFileName(const QString& name, PMImageFolderKind kind, bool* isPartialFolder = nullptr);
bool PMIsHoverFrameFileName(const QString& name);

// Removes a hover-frame folder: its frames (regular files with frame names), then the
// folder when that left it empty. Nothing behind a symbolic link is touched; a link or a
// regular file at the path is unlinked itself. YES when nothing is left at the path.
bool PMRemoveHoverFrameFolder(const QString& path);

// Removes the loader's files of IDs that are not in the set from the image folder (and,
// for covers and previews, from its "_" subfolder). The folder must be a real folder
// inside `libraryFolder` once every link is resolved; otherwise nothing is removed.
// Entries that are not regular files (or, for hover frames, real folders) stay, whatever
// their names. Failures are logged and the rest goes on.
void PMRemoveStrayImageFiles(const QString& folder, const QSet<QString>& uniqueLibraryIDs, PMImageFolderKind kind, const QString& libraryFolder);
