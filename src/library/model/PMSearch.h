// The search matcher: turns a parsed query into search results, appended to an array.
// An ordinary search keeps the items that pass the identifier filters and every term
// (one alternative of each, negated alternatives by not matching); with duplicate keys
// ("?=name") it groups movies whose key values agree. Movies come as search-result
// proxies, containers as marked copies of their dictionaries ("Search Proxy" holds the
// container itself).
#pragma once

#include "library/model/PMParsedQuery.h"

#include "platform/Value.h"

#include <QtCore/QFuture>
#include <QtCore/QRectF>
#include <QtCore/QSizeF>
#include <QtCore/QString>

#include <functional>
#include <vector>

class PMLibraryContainer;

// Searches the container (the whole library without one). With one duplicate key the
// results are sorted by the matching criterion, or the criterion is handed to the caller
// through `getDuplicateSortCriterion`.
void addMatchesForParsedQuery(platform::Array& results, const PMParsedQuery& parsedQuery, PMLibraryContainer* inContainer, bool searchContainers,
                              bool searchFiles, bool searchName, bool searchMetadata, bool searchLocation, QString* getDuplicateSortCriterion);

// The query text with one "&=" token per selected item, the unique library ID
// percent-encoded so that only letters and digits stay literal.
QString PMQueryByAppendingMultipleSelection(const QString& query, const platform::ArrayPtr& selectedItems);

// Two pictures with equal image hashes show the same thing when both sizes are known,
// their aspect ratios differ by at most 0.01 (unless ignored), and their visible areas
// (fractions of the frame) are equal, one holds the other, or they overlap by more than
// half the smaller one.
bool PMPicturesLookAlike(const QSizeF& a, const QRectF& visibleAreaA, const QSizeF& b, const QRectF& visibleAreaB, bool ignoreAspectRatio);
// The sets of two or more indexes connected by likeness (a ~ b and b ~ c put a, b and c in
// one set), in the order of their first members; the members in ascending order.
std::vector<std::vector<size_t>> PMSimilarSets(size_t count, const std::function<bool(size_t, size_t)>& similar);
// Tests: the widest scan the library index may use, in places at a time (32, 16, or 1 for
// the plain loop), so that every path can be checked on any processor.
void PMLimitSearchScanWidth(int places);
// Makes the search texts and the sort names of the library's movies and its search index on
// a worker, so that the first keystroke in the search field and the first sort find them
// made (after launch). The future tells when it is done (tests).
QFuture<void> PMPrepareSearchIndexInBackground();
// Prepares them again when texts were dropped since the last preparation began (files found
// at new places, metadata read again, names changed): a library update calls it, so that
// the next keystroke finds them made too. Nothing before the first preparation, and nothing
// when none was dropped (an invalid future then).
QFuture<void> PMPrepareSearchIndexAgainIfStale();
