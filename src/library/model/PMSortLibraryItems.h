// The sort engine: every ordered list of library items (a container's sorted children,
// search results, playlist navigation, smart-group subdivisions) is made by
// PMSortLibraryItems from a criterion string (a CSV list of criterion names, as a
// container keeps it under "Group Sorting Criterion") and a direction. Names compare by
// their sort strings, which drop ignorable leading words ("a an the") and can send names
// with certain prefixes to the end; the comparison functions below also serve as plain
// sort functions elsewhere.
#pragma once

#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QUrl>

class PMLibraryContainer;
class PMLibraryItem;
class QObject;

// One parsed entry of a criterion string; at most one flag is set. No flag and no tag
// name: a name criterion.
class PMParsedSortingCriterion {
public:
    bool compareDuration = false;
    bool compareAdditionDate = false;
    bool compareCreationDate = false;
    bool compareOldestDate = false;
    bool comparePlaybackDate = false;
    bool compareFileSize = false;
    bool compareCounter = false;
    bool compareLocation = false;
    bool compareRating = false;
    bool compareWidth = false;
    bool compareHeight = false;
    bool compareImageHash = false;
    bool compareImageHashDelta = false;
    QString lowercaseTagName;

    bool isNameCriterion() const;
};

// Criterion names (also the list table's column identifiers).
inline constexpr const char* kGroupListTime = "GroupListTime";
inline constexpr const char* kGroupListDate = "GroupListDate";
inline constexpr const char* kGroupListCreationDate = "GroupListCreationDate";
inline constexpr const char* kGroupListOldestDate = "GroupListOldestDate";
inline constexpr const char* kGroupListPlaybackDate = "GroupListPlaybackDate";
inline constexpr const char* kGroupListSize = "GroupListSize";
inline constexpr const char* kGroupListWidth = "GroupListWidth";
inline constexpr const char* kGroupListResolution = "GroupListResolution";
inline constexpr const char* kGroupListHeight = "GroupListHeight";
inline constexpr const char* kGroupListCounter = "GroupListCounter";
inline constexpr const char* kGroupListLocation = "GroupListLocation";
inline constexpr const char* kGroupListRating = "GroupListRating";
inline constexpr const char* kAccessoryTagListNamePrefix = "AccessoryTagListName: ";
// "GroupListImageHash: dHash%ld" (resolution) and "GroupListImageHashDelta: dHash%ld: %@"
// (resolution, unique library ID of the reference item).
QString PMImageHashSortCriterion(long long resolution);
QString PMImageHashDeltaSortCriterion(long long resolution, const QString& referenceUniqueLibraryID);

// Sorts the items by the criterion string and direction, for the container when one is
// given (either may be null). With `getIsSorted` it only tests whether the items are
// already in that order and sorts nothing. In place it sorts the given array; otherwise it
// answers a sorted copy. The sort runs on several threads and is not stable.
platform::ArrayPtr PMSortLibraryItems(bool* getIsSorted, bool inPlace, const platform::ArrayPtr& items, const QString& criterion,
                                      bool descending, PMLibraryContainer* container);
bool PMLibraryItemsAreSorted(const platform::ArrayPtr& items, const QString& criterion, bool descending);
void PMSortLibraryItemsInPlace(const platform::ArrayPtr& items, const QString& criterion, bool descending, PMLibraryContainer* container);
platform::ArrayPtr PMSortedLibraryItems(const platform::ArrayPtr& items, const QString& criterion, bool descending);

// Sort strings. The prefix table comes from "Ignorable Sorting Prefixes": blank-separated
// entries, each an ignorable leading word ("the": "The Abyss" sorts as "Abyss") or, with
// an asterisk, a prefix that sends names to the end ("x*": after every other name; "x*2":
// there, sorting as "2 <name>"). Longer entries are tried first. Until the first rebuild
// (at library load) names are their own sort strings.
void PMRebuildSortPrefixTable();
void setSortPrefixesString(const QString& prefixes);
QString sortPrefixesString();
QString PMSortString(const QString& name);

// Subgroups are treated as files when "Subgroup Previews Position: Allow Blending" is on
// and "Subgroup Previews Position" is 2; worked out again by every library rebuild.
void PMUpdateSubgroupsTreatedAsFiles();
bool PMSubgroupsTreatedAsFiles();

// Comparison functions: -1 (ascending), 0 (same) or 1 (descending).
// Empty strings after the others, then sort-last strings after the others, then the
// locale's numeric-aware order.
int PMCompareSortStrings(const QString& a, const QString& b);
// By sort strings, then by the names as they stand.
int PMCompareNamesBySortString(const QString& a, const QString& b);
int PMCompareURLsByAbsoluteString(const QUrl& a, const QUrl& b);
// "tags" before every other tag name, "notes" after every other, the rest by name.
int PMCompareTagNames(const QString& a, const QString& b);
// Tag entries (dictionaries with "Tag") by their lower-cased tag names.
int PMCompareTagEntries(const platform::Value& a, const platform::Value& b);
// Objects by their titles (the "title" property, or "text" for objects without one, such
// as menu items), through `PMCompareNamesBySortString`.
int PMCompareObjectsByTitle(const QObject* a, const QObject* b);
// Mode 1: sorting-context newest dates; -1: oldest dates; otherwise addition dates; at
// whole seconds.
int PMCompareItemDates(PMLibraryItem& a, PMLibraryItem& b, int mode);
int PMCompareLibraryItemsByName(PMLibraryItem& a, PMLibraryItem& b);
int PMCompareLibraryItemsBySeriesAndName(PMLibraryItem& a, PMLibraryItem& b);
// Intermediate subdivisions first, "others" subdivisions last, then containers before
// movies (unless subgroups are treated as files).
int PMCompareItemKinds(PMLibraryItem& a, PMLibraryItem& b);

// The bytes of a Base64 image hash; empty for an empty or malformed text.
QByteArray PMImageHashData(const QString& imageHash);
// How far a hash lies from the reference: the differing bits over the bytes both have,
// and eight for each byte only one of them has.
long long PMImageHashDistance(const QByteArray& reference, const QByteArray& hash);
