// Path forms the program's texts and settings use: "~" for the home folder.
#pragma once

#include <QtCore/QString>

namespace platform {

// "~/..." for paths inside the home folder (whole components); other paths unchanged.
QString stringByAbbreviatingWithTildeInPath(const QString& path);
// The home folder for a leading "~" or "~/"; other paths unchanged.
QString stringByExpandingTildeInPath(const QString& path);
// An absolute path that cleaning leaves as it is: no empty, "." or ".." component and no
// trailing "/" ("/" itself is clean).
bool isCleanAbsolutePath(QStringView path);

} // namespace platform
