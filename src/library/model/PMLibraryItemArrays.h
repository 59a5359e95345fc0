// Operations on arrays of library items shared by the model and its callers: lookup by
// unique ID, aggregates, a common rating, unique names, the collection of movie files
// from dropped or opened paths, and the ordering of movies by a stored sequence.
#pragma once

#include "platform/Value.h"

class PMMovieRepresentationPrototype;

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

#include <cstdint>
#include <span>
#include <vector>

// The key under which two movie locations count as one: files by their clean path (Linux
// file systems tell case apart), other addresses by their encoded text.
QString PMMovieLocationKey(const QUrl& url);

// The first element whose unique library ID equals the ID, else nothing.
platform::Value objectWithUniqueLibraryID(const platform::Array& items, const QString& uniqueLibraryID);
bool containsMovieRepresentationsOnly(const platform::Array& items);
bool containsOnlineItem(const platform::Array& items);
// Sums over the movie records (negative durations count as 0). An online item makes the
// size doubtful: with `returnZeroSizeIfInDoubt` the size is then 0, else it is not counted.
void getAggregateDuration(const platform::Array& items, long long* getAggregateDuration, std::uint64_t* getAggregateSize,
                          bool returnZeroSizeIfInDoubt);
// "1:02:03 · 1.2 GB" for the movies of the items: the duration text (in hours from two
// items on) and the size text; the size alone below one second; empty for neither.
QString durationAndMovieFileSizeDescription(const platform::Array& items);
// The same as " (%@)", or the empty text unchanged.
QString spacedParanthesizedDurationAndMovieFileSizeDescription(const platform::Array& items);
// The same over movies known by address (a grid's tiles: no array of values is made).
QString spacedParanthesizedDurationAndMovieFileSizeDescription(std::span<PMMovieRepresentationPrototype* const> movies);
// The common rating of the items, or -1 (not found) when they differ or there are none.
// With `amongRatings`, every rating is collected there.
long long commonRatingAmongRatings(const platform::Array& items, std::vector<double>* amongRatings);
// Trimmed, without empty ones and without repeats ignoring case; the first spelling wins.
QStringList uniqueTrimmedStrings(const QStringList& strings);
// A tag name that none of the elements (dictionaries with "Tag") uses, ignoring case.
QString uniqueTagName(const platform::Array& elements, const QString& proposedName, const platform::Value& ignore);
// Collects the movie files among the paths (folders searched, white- and blacklists applied
// below a base path) as file URLs appended to `urls`. With `collectLibraryItems`, a new
// movie record is made for each file not already in `existingMovieRepresentationsByPath`
// (precomposed path -> record) and, unless "Ignore External Folder Structure" is set,
// folders become containers. Answers whether anything was added at any depth.
bool addMovieURLsFromPaths(QList<QUrl>& urls, const QStringList& paths, const QString& basePath,
                           const platform::Dictionary* existingMovieRepresentationsByPath, platform::Array* collectLibraryItems);
// File URLs go through the above one by one; other URLs are appended as they are.
bool addMovieURLs(QList<QUrl>& urls, const QList<QUrl>& movieURLs);

// Appends the movies of the sequence in its order, consuming them from the dictionary
// (unique ID -> movie); the rest follow, sorted.
void addSequence(platform::Array& items, const QStringList& sequence, platform::Dictionary& byConsumingMovieRepresentations);

// The "External Media Kind Separation Level" setting; 1 while it is not set.
long long PMExternalMediaKindSeparationLevel();
