// The one function through which every file the program writes reaches the disk: a
// temporary file in the same folder, written and flushed to the device, renamed into
// place, then the folder itself synced. A crash leaves the old file or the new one,
// never a torn one.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace platform {

// Answers the empty string on success, else the error's text (with the path). On
// failure the file at the path is unchanged and no temporary file is left behind.
// An existing file keeps its permissions; a new one gets 0666 less the umask.
QString saveFile(const QString& path, const QByteArray& bytes);

// Removes the temporary files that `saveFile` left beside the path when the process was
// killed while it wrote: regular files named exactly as it names them, nothing else.
// Answers how many were removed. Call it only while nothing saves to that path.
int removeLeftoverSaveFiles(const QString& path);

} // namespace platform
