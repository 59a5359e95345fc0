// The sort engine: every ordered list of library items is made by PMSortLibraryItems.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

class PMLibraryContainer;

// Sorts the items by the criterion string (a CSV list of criterion names; empty sorts
// by item kind, then name) and direction, for the container when one is given. With
// `getIsSorted` only tests whether the items are already in that order. In place sorts
// the given array; otherwise a sorted copy is answered.
platform::ArrayPtr PMSortLibraryItems(bool* getIsSorted, bool inPlace, const platform::ArrayPtr& items, const QString& criterion,
                                      bool descending, PMLibraryContainer* container);
platform::ArrayPtr PMSortedLibraryItems(const platform::ArrayPtr& items, const QString& criterion, bool descending);
