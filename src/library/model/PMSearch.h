// The search matcher: turns a parsed query into search results, appended to an array.
// An ordinary search keeps the items that pass the identifier filters and every term
// (one alternative of each, negated alternatives by not matching); with duplicate keys
// ("?=name") it groups movies whose key values agree. Movies come as search-result
// proxies, containers as marked copies of their dictionaries ("Search Proxy" holds the
// container itself).
#pragma once

#include "library/model/PMParsedQuery.h"

#include "platform/Value.h"

#include <QtCore/QString>

class PMLibraryContainer;

// Searches the container (the whole library without one). With one duplicate key the
// results are sorted by the matching criterion, or the criterion is handed to the caller
// through `getDuplicateSortCriterion`.
void addMatchesForParsedQuery(platform::Array& results, const PMParsedQuery& parsedQuery, PMLibraryContainer* inContainer, bool searchContainers,
                              bool searchFiles, bool searchName, bool searchMetadata, bool searchLocation, QString* getDuplicateSortCriterion);

// The query text with one "&=" token per selected item, the unique library ID
// percent-encoded so that only letters and digits stay literal.
QString PMQueryByAppendingMultipleSelection(const QString& query, const platform::ArrayPtr& selectedItems);
