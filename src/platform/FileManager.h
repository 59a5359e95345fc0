// Showing files in the desktop's file manager: the folder of an item with the item
// selected, or a folder's contents. Asks the file manager over the session bus
// (org.freedesktop.FileManager1) and, when there is no bus or no file manager answers,
// opens the folder with the desktop's default handler instead; when that fails too, an
// alert says so.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

#include <functional>

namespace platform {

// Shows the items selected in their folders. Returns at once; the fallback, when needed,
// runs when the bus answers. False only for an empty list.
bool revealInFileManager(const QStringList& paths);
// Opens the folder itself in the file manager.
bool openFolderInFileManager(const QString& folderPath);
// Opens a URL with the desktop's default handler (through the test hook when one is set).
bool openURLWithDefaultHandler(const QUrl& url);

// Test hooks: the handler that stands in for the desktop's URL opener, and the name of a
// bus connection (QDBusConnection::connectToBus) to use instead of the session bus.
// Empty values restore the real ones.
void setURLOpenerForTesting(std::function<bool(const QUrl&)> opener);
void setFileManagerBusForTesting(const QString& connectionName);

} // namespace platform
