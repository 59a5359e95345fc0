// Simple case folding of single UTF-16 units by table, for the hot loops of matching and
// ranking (a unit outside the table's reach folds to itself).
#pragma once

#include <QtCore/QStringView>

// The table of 65,536 folded units, built on first use.
const char16_t* PMCaseFoldTable();
// Compares the texts ignoring case, unit by unit; negative, 0 or positive.
int PMCompareIgnoringCase(QStringView a, QStringView b);
