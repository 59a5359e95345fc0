// The tag names the movie records import from their files, as the records read them.
#pragma once

#include <QtCore/QSet>
#include <QtCore/QString>

// Replaces the names the records see (main thread; the records may read from any thread).
void PMPublishImportTagNames(const QSet<QString>& names);
// Installs the records' service that answers the names last published.
void PMInstallImportTagNamesService();
