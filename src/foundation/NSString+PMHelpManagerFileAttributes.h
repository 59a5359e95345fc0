// Operations on files beyond their paths: extended attributes (the file comment and the
// download source, which the library shows as metadata tags), renaming, showing files in
// the file manager, moving to the Trash with a fallback to deleting, putting a path on the
// clipboard, and the application that opens a file.
#pragma once

#include "platform/Applications.h"
#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <optional>

// The program's names for the two attributes it reads and writes. On disk they are the
// shared freedesktop attributes "user.xdg.comment" and "user.xdg.origin.url", kept as plain
// text where other programs can read them; any other name is stored under "user." as a
// binary property list.
inline constexpr char PMFinderCommentAttributeName[] = "com.apple.metadata:kMDItemFinderComment";
inline constexpr char PMWhereFromsAttributeName[] = "com.apple.metadata:kMDItemWhereFroms";
// The attribute name on disk for one of the program's names.
QByteArray extendedAttributeNameOnDisk(const QString& name);

// Writes the bytes under the name on the file itself (a symbolic link at the end of the
// path is not followed). NO for missing data or name, a missing file or a failed write.
bool setData(const QString& path, const QByteArray& data, const QString& forExtendedFileAttribute);
// The attribute's bytes; nothing for a missing name or file, a missing or empty attribute,
// or a failed read.
std::optional<QByteArray> dataForExtendedFileAttribute(const QString& path, const QString& name);
// The value through `setData`: the comment as text, the download source as the first URL
// of its array, anything else as a binary property list. NO for no value or one of the
// wrong kind.
bool setValue(const QString& path, const platform::Value& value, const QString& forExtendedFileAttribute);
// The attribute as a value (the comment a string, the download source an array of one URL
// string, others parsed as a property list); nothing when missing or unreadable.
platform::Value valueForExtendedFileAttribute(const QString& path, const QString& name);

bool setSpotlightCommentAttribute(const QString& path, const QString& comment);
// The file comment; nothing when the file has none.
std::optional<QString> spotlightComment(const QString& path);
// Sets the comment the way file managers show it. NO for no comment (a null text).
bool setSpotlightComment(const QString& path, const QString& comment);
// With the flag, first sets the comment to the URL; then writes the download source. NO
// for no URL or a failed write.
bool setSourceURLString(const QString& path, const QString& urlString, bool alsoSetSpotlightComment);

// Gives the file a new name in its folder, never replacing another file. NO for no name, a
// name that is not a single file name, a taken name or a failed rename.
bool setFilename(const QString& path, const QString& newName);

// Shows the file selected in its folder in the file manager.
void showInFinder(const QString& path);
// Opens the folder itself in the file manager.
void showContentInFinder(const QString& path);

// Moves the file to the Trash; when that fails, deletes it or keeps it as the settings or
// the user decide. YES when it went to the Trash or was deleted.
bool moveFileToTrashOrDeleteWithoutAsking(const QString& path, bool deleteWithoutAsking, bool canApplyToAll);

// Puts the path on the clipboard as text, and with the flag also as a file URL.
bool copyToPasteboardAsURL(const QString& path, bool asURL);
bool copyToPasteboard(const QString& path);

// The text without its enclosing single quotes ("'MooV'" gives "MooV").
QString stringByRemovingHFSTypeDelimiters(const QString& string);

// The application that opens the file by default; nothing when there is none or when it
// is this program itself.
std::optional<platform::DesktopApplication> applicationURL(const QString& filePath);
