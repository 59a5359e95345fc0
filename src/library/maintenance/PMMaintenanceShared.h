// What the library's upkeep (deleting, organising, moving and finding files, locations)
// shares: its texts, translated in the controller's context, and the user defaults.
#pragma once

#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QHash>
#include <QtCore/QList>
#include <QtCore/QString>

#include <functional>
#include <memory>

class PMMainController;
class PMMovieRepresentationOriginal;

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
// still there), and only then is the source removed. When a file's source cannot be
// removed, `revert` takes the record back and then the copy goes. A folder's complete copy
// is never deleted: when its source can be removed only in part, the move succeeds, the
// record stays on the copy and `error` names what was left behind. `commit` gets the final
// path and whether it was a copy.
// The records of the library that name one file with others (by the path's precomposed
// text), gathered once before a run of moves so that all of them follow a moved file.
using RecordsSharingPaths = QHash<QString, QList<std::shared_ptr<PMMovieRepresentationOriginal>>>;
RecordsSharingPaths recordsSharingPaths(PMMainController& c);
// Points every record of `shared` that names `from` at `to` (the one that moved may be
// among them; others that name another path are left alone).
void followMovedFile(const RecordsSharingPaths& shared, const QString& from, const QString& to);

bool moveItemCommitting(const QString& source, const QString& destination, const std::function<void(const QString& path, bool copied)>& commit,
                        const std::function<void()>& revert, QString* error);

} // namespace pmmaintenance
