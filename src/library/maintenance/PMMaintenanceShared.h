// What the library's upkeep (deleting, organising, moving and finding files, locations)
// shares: its texts, translated in the controller's context, and the user defaults.
#pragma once

#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QString>

#include <functional>

namespace pmmaintenance {

inline QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

inline platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// Moves a file (or package) to the destination without replacing anything, so that a
// library index saved by `commit` never names a place where the file is not, whenever the
// program may stop: a rename keeps the file's identity, which the index follows by itself;
// across file systems the file is copied, `commit` learns the copy's path (the source is
// still there), and only then is the source removed. When it cannot be, the copy goes and
// `revert` takes the record back. `commit` gets the final path and whether it was a copy.
bool moveItemCommitting(const QString& source, const QString& destination, const std::function<void(const QString& path, bool copied)>& commit,
                        const std::function<void()>& revert, QString* error);

} // namespace pmmaintenance
