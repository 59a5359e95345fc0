// Movies for the library window's benchmarks: named, with a genre and a thumbnail size
// (two in three wide, one in three 4:3), as the grid shows them.
#pragma once

#include "library/model/PMMovieRepresentation.h"

namespace benchsupport {

inline PMMovieRepresentationOriginalPtr gridMovie(const QString& path, int index)
{
    static const char* const genres[] = {"Drama", "Comedy", "Action", "Horror", "Documentary", "Family", "Travel", "Music"};
    auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    m->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Movie %1").arg(index));
    m->setValue(QString::fromUtf8(genres[index % 8]), QStringLiteral("Genre"));
    m->setThumbnailSizeDescription(QStringLiteral("{%1, 100}").arg(index % 3 ? 178 : 133));
    return m;
}

} // namespace benchsupport
