// The freedesktop Trash: items moved there keep a ".trashinfo" record of where they came
// from, so the file manager can put them back.
#pragma once

#include <QtCore/QString>

#include <functional>

namespace platform {

// Moves a file, folder or symbolic link to the Trash. `getPathInTrash` receives where it went.
// On failure the item stays where it was (an item the system misplaced is moved back) and
// `error` says why.
bool moveToTrash(const QString& path, QString* getPathInTrash = nullptr, QString* error = nullptr);

// Whether a path lies in the "files" folder of a trash: the home trash
// ($XDG_DATA_HOME/Trash) or the trash at the top of another volume (".Trash/<uid>",
// ".Trash-<uid>").
bool isPathInTrash(const QString& path);
// The home trash folder, $XDG_DATA_HOME/Trash.
QString homeTrashPath();

// Test hook: replaces the system's trash operation, which answers success and the new
// path, or failure. nullptr restores the system's.
using TrashImplementation = std::function<bool(const QString& path, QString* getPathInTrash)>;
void setTrashImplementationForTesting(TrashImplementation implementation);

} // namespace platform
