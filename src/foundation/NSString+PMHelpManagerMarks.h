// Two marks that travel with one string object: the series-ID-prefix mark and the
// sort-last mark, set while series IDs and sort strings are built and read by sorting
// and smart-group subdivision. A mark belongs to the string's shared text: copies of the
// QString (assignments, values in dictionaries and arrays) carry it, while an equal text
// built elsewhere, or a string changed after marking, does not. Empty strings carry no
// marks. Safe from any thread.
#pragma once

#include <QtCore/QString>

void setAssociatedSeriesIDPrefixFlag(const QString& string, bool flag);
bool associatedSeriesIDPrefixFlag(const QString& string);
void setAssociatedSortLastFlag(const QString& string, bool flag);
bool associatedSortLastFlag(const QString& string);
