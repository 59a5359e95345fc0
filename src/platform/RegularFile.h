// Reading files that users put into their library folders.
#pragma once

#include <QtCore/QString>

namespace platform {

// Whether the path names a regular file; the error's text when not. A named pipe, a
// device or a socket that carries a movie's or a picture's name would block a reader in
// open() or in its first read for good, where no time limit reaches: such a file must be
// refused before any reader touches it.
bool checkRegularFile(const QString& path, QString* error = nullptr);

} // namespace platform
