// Arrays of strings searched and edited ignoring letter case, matched fuzzily against a
// typed query, reduced to their common name prefix; identity comparison, index-set
// selection, shuffling and reversing of value arrays.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>
#include <vector>

// How names are ordered and reduced to sort strings. The sort engine of the library model
// installs its own at start-up; until then names compare ignoring case and a name is its
// own sort string.
struct PMNameOrdering {
    std::function<int(const QString&, const QString&)> compareNames;
    std::function<QString(const QString&)> sortString;
};
void PMSetNameOrdering(PMNameOrdering ordering);

// The index of the first string equal to the given one ignoring case, or -1.
qsizetype indexOfStringWithSameLowercaseStringAsString(const QStringList& strings, const QString& string);
bool containsStringWithSameLowercaseStringAsString(const QStringList& strings, const QString& string);
// Removes the first such string; answers whether one was removed.
bool removeStringWithSameLowercaseStringAsString(QStringList& strings, const QString& string);

// YES for the same array, or for arrays of equal count holding the very same objects in
// the same order (strings count as the same only when they share their text's storage).
bool isIdenticalToArray(const platform::ArrayPtr& array, const platform::ArrayPtr& other);
// The objects at the indexes in ascending order, stopping at the first index past the end;
// null for no index or none inside the array.
platform::ArrayPtr objectsForIndexSet(const platform::ArrayPtr& array, std::vector<qsizetype> indexes);

// The strings trimmed of the characters (none: not trimmed), empty ones dropped.
QStringList stringsByTrimmingCharactersInSet(const QStringList& strings, const QString& characters);
// The same with whitespace and newlines.
QStringList trimmedStrings(const QStringList& strings);

// The strings that match the query, best match first (ties in name order); the others are
// left out.
QStringList fuzzyMatchesForQuery(const QStringList& strings, const QString& query);

// The common name prefix of the names: with `trimIrrelevantCharacters`, leading numbers
// with their punctuation go first, and trailing separators and "part"/"chapter" words
// after; aggressively, names are reduced to their sort strings. Empty when there is none.
QString commonPrefixByTrimmingIrrelevantCharacters(const QStringList& names, bool trimIrrelevantCharacters, bool aggressively);
QString commonPrefix(const QStringList& names);

// Puts the array in a uniformly random order.
void shuffle(platform::Array& array);
void shuffle(QStringList& strings);
// Reverses the array in place.
void invert(platform::Array& array);
void invert(QStringList& strings);
