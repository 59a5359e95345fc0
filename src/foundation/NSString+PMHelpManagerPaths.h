// Path texts shown to people.
#pragma once

#include <QtCore/QString>

// The last path component, without its extension unless the user default "Show File
// Extensions" is set.
QString displayFilename(const QString& path);
