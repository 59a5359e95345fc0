// The smart-group engine: the matching of movies against a group's saved criteria, the
// subdivision of a group's movies into generated buckets, and the shaping of the bucket
// tree that the user sees. None of it touches the controller: it works on the containers
// and movies it is given with the settings of one library update, so that the update can
// run it on any thread over a snapshot of the library.
#pragma once

#include "library/model/PMLibraryContainer.h"
#include "platform/Value.h"

#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class PMMovieRepresentationPrototype;
class PMMovieRepresentationOriginal;

// Everything the engine reads of the settings and of the library, fixed once per update.
struct PMSmartGroupSettings {
    // Population
    bool fuzzyDates = false;         // "Determine Fuzzy Oldest Date" (as cached at start-up)
    QString pathIndicatorPrefix;     // "Smart Playlist Name Criterion: Path Indicator Prefix"
    bool emulateOtherSubdivisionTypes = false;

    // Subdivision
    bool fastTrack = true;
    bool limitsDisabled = false;
    bool stripWhitespace = false;
    bool groupByVolumeName = false;
    bool indicateAvailability = true;
    bool acknowledgeValueCase = false;
    bool useAlternates = true;
    bool skipPreviouslyUsedAlternates = false;
    bool keepAllSubdivisions = false;
    bool includeNotes = false;
    bool subdivideByValues = true;
    bool showCombinedNames = true;
    bool raiseLateSeparateOthers = false;

    // Post-processing
    bool fanOutFineTuning = false;
    long long cleaningZeal = 0;
    bool checkPseudoAncestors = false;
    bool blendsSubgroupPreviews = false;

    // The library
    struct TagType {
        QString name;
        bool nonNumeric = false;
    };
    QHash<QString, TagType> tagTypes; // by lower-case tag
    QStringList libraryPaths;
    QHash<QString, QString> seriesNames; // series ID prefix -> display name
    // Readable names of library folders (and volumes), made once per update.
    std::function<QString(const QString& path)> readableFolderName;

    // Texts
    QString otherName = QStringLiteral("Other");
    QString neverName = QStringLiteral("Never");
    QString noRatingName = QStringLiteral("No Rating");
    QString nameSeparator = QStringLiteral(": ");

    // Reads the user defaults (and the cached settings) of this moment.
    static PMSmartGroupSettings fromDefaults();
};

// ---- Population ----------------------------------------------------------------------

// What matching and subdivision read of each movie, taken once per update while the
// main thread waits (index by index with the movies), so that the job on the pool never
// reads a live record: the main thread goes on changing ratings, tags and dates while
// the job runs. Only what the groups' criteria and levels look at is taken.
struct PMSmartGroupMovieFacts {
    std::vector<PMMovieRepresentationPrototype*> movies;
    QHash<const void*, size_t> indexOf; // movie object -> index
    std::vector<long long> ratings, durations;
    std::vector<std::uint64_t> counters, fileSizes;
    std::vector<platform::Date> dates, playbackDates; // dates: the one that counts as added
    // lower-case tag -> each movie's lower-case value (a pseudo-tag's value where the tag
    // has none and the emulation is on)
    QHash<QString, std::vector<QString>> tagValues;
    std::vector<QString> names, paths;              // lower-cased, when a name criterion needs them
    // What subdivision levels read (each empty when no level needs it).
    std::vector<QString> displayNames, sortNames, livePaths, fileSizeDescriptions, fastTrackDescriptions;
    std::vector<platform::DictionaryPtr> subdivisionTags;

    // The index of the movie (null when it was not taken).
    const size_t* find(const platform::Value& movie) const
    {
        const auto it = indexOf.constFind(movie.objectPointer());
        return it == indexOf.constEnd() ? nullptr : &*it;
    }
    // Reads what the criteria and the subdivisions of the groups need (concurrently, while
    // the calling thread waits).
    static std::shared_ptr<PMSmartGroupMovieFacts> make(const platform::ArrayPtr& movies, const std::vector<platform::DictionaryPtr>& criteria,
                                                        const PMSmartGroupSettings& settings);
};

// A group's criteria, normalised once for one population.
class PMSmartGroupMatcher {
public:
    PMSmartGroupMatcher(const platform::DictionaryPtr& criteria, double now, const PMSmartGroupSettings& settings);
    // No enabled criterion: every movie belongs to the group.
    bool matchesEverything() const { return m_count == 0; }
    bool isPlaybackDependent() const { return m_playbackDependent; }
    // Whether the movie belongs to the group; `expiry` is lowered to the seconds until the
    // movie's answer changes by the passing of time alone, when that is sooner (a negative
    // `expiry` stands for never).
    bool matches(PMMovieRepresentationPrototype& movie, double& expiry) const;
    // The same for the movie at the index of the facts.
    bool matches(const PMSmartGroupMovieFacts& facts, size_t index, double& expiry) const;

    // The reference date "Value" units before now (unit 0 days, 1 months, 3 weeks, any
    // other years), in the user's calendar.
    static double referenceDate(double now, long long value, long long unit);

private:
    struct TagCriterion {
        QString lowercaseTag;
        QString lowercaseValue;
        long long action = 0;
    };
    struct DateCriterion {
        bool enabled = false;
        long long action = 0;
        double reference = 0;
    };
    const PMSmartGroupSettings& m_settings;
    std::vector<TagCriterion> m_tags;
    bool m_nameEnabled = false, m_nameUsesPath = false;
    long long m_nameAction = 0;
    QString m_nameValue;
    bool m_ratingEnabled = false;
    long long m_ratingAction = 0, m_ratingValue = 0;
    bool m_timeEnabled = false;
    long long m_timeAction = 0, m_timeLimit = 0;
    DateCriterion m_date, m_playbackDate;
    int m_count = 0;
    bool m_allMode = true;
    bool m_playbackDependent = false;

public:
    // The value that stands for a tag the movie does not have, when the emulation of other
    // kinds is on.
    QString pseudoTagValue(PMMovieRepresentationPrototype& movie, const QString& lowercaseTag) const;

private:
    // The one matching routine, over any source of the movie's values.
    template <class Source>
    bool matchesWith(const Source& source, double& expiry) const;
    friend struct PMSmartGroupMovieFacts;
};

// The result of matching one group: the movies that belong (in the order of `movies`),
// the seconds until the content changes by itself (-1: never) and whether the group
// depends on playback.
struct PMSmartGroupPopulation {
    platform::ArrayPtr children;
    double expiry = -1;
    bool playbackDependent = false;
};
// Tests every movie concurrently; the answer does not depend on which thread finishes
// first: the members keep the order of `movies`.
// With `stop` set (by a newer update) the remaining chunks are skipped.
PMSmartGroupPopulation PMPopulateSmartGroupMovies(const platform::DictionaryPtr& criteria, const platform::ArrayPtr& movies, double now,
                                                  const PMSmartGroupSettings& settings, const PMSmartGroupMovieFacts* facts = nullptr,
                                                  const std::atomic<bool>* stop = nullptr);
// Whether a change of ratings may change what a group with these criteria holds: false
// only for a group that holds every movie, undivided (a rating cannot move a movie in or
// out of it, nor between its buckets).
bool PMSmartGroupContentMayDependOnRatings(const platform::DictionaryPtr& criteria, const PMSmartGroupSettings& settings);
// The delay of the next expiry of the groups of one update: one second after the soonest
// non-negative answer, nothing (-1) when no group changes by itself.
double PMSmartGroupExpiryDelay(const std::vector<double>& answers);

// ---- Subdivision and post-processing ---------------------------------------------------

// The containers made or kept by the subdivision of one group, by unique ID (registered
// in the controller's table when the group's result is taken over).
using PMSmartGroupRegistry = QHash<QString, PMLibraryContainerPtr>;

// Movies with equal subdivision tags end in equal buckets: such a set is subdivided once,
// by its first movie (its representative), and expanded afterwards. The sets are kept
// here, never in the records' settings, so nothing of them can reach the saved library.
struct PMSmartGroupFastTrack {
    QHash<const void*, platform::Value> representativeOf; // movie -> representative
    QHash<const void*, std::vector<platform::Value>> members; // representative -> every member, itself first
    // The sets of the movies; null when no two movies share their tags.
    static std::unique_ptr<PMSmartGroupFastTrack> make(const platform::ArrayPtr& movies, const PMSmartGroupMovieFacts* facts = nullptr);
};

class PMSmartGroupSubdivider {
public:
    explicit PMSmartGroupSubdivider(const PMSmartGroupSettings& settings);

    // Subdivides the populated group (its raw children are its movies) by its criteria and
    // post-processes it. `representatives` (may be null) maps a fast-track representative
    // to all movies sharing its subdivision tags.
    void subdivideAndPostProcess(PMLibraryContainer& group, PMSmartGroupRegistry& registry);

    // The engine, for one container at one level (movies: null for the container's own raw
    // children).
    void subdivide(PMLibraryContainer& container, const platform::ArrayPtr& movies, const platform::Dictionary& criteria, long long level,
                   long long othersBehavior, long long threshold, int depth = 0);

    // Post-processing of the group (see the operations of the controller of the same name).
    void postProcessSmartGroup(PMLibraryContainer& group, const platform::Dictionary& criteria, bool raiseOthers, bool allowFanOutFineTuning,
                               long long cleaningZeal, bool checkPseudoAncestors, PMSmartGroupRegistry& registry);
    // Answers the number of distinct movies below the container.
    qsizetype postProcessSmartGroupOrSubdivision(PMLibraryContainer& container, PMLibraryContainer& group, const platform::Dictionary& criteria,
                                                 bool raiseOthers, int fanOutLevel, qsizetype numberOfFannedOutMovieRepresentationsAtParentLevel,
                                                 PMSmartGroupRegistry& registry);

    // Whether a group's levels look only at tags (so that movies with equal subdivision tags
    // end in equal buckets).
    bool qualifiesForFastTrack(const platform::Dictionary& criteria) const;

    // Fast track (may be null): set before subdividing.
    const struct PMSmartGroupFastTrack* fastTrack = nullptr;
    // The group's children of the last update, whose proxies are taken again (may be null).
    platform::ArrayPtr previousChildren;
    // What the levels read of the movies, taken before the job began (may be null: then
    // the records themselves are read, on the main thread).
    const PMSmartGroupMovieFacts* facts = nullptr;

private:
    struct Level;
    struct Bucket;
    struct Pass;
    struct Division;
    const PMSmartGroupSettings& m_settings;

    Level parseLevel(const platform::Dictionary& criteria, long long level, const PMLibraryContainer& container, bool* ok) const;
    // The index of the pass's bucket for the key (made when missing).
    int bucketFor(Pass& pass, const QString& keyComponent, const QString& raisedTagName, const QString& name, const double* date,
                  const QString& parentID, bool* isNew) const;
    // A level that divides nothing: the container holds the movies themselves.
    void keepMoviesUndivided(PMLibraryContainer& container, const std::vector<platform::Value>& movies, int depth) const;
};

// The same key rewritten for a copy of a group: keys that begin with the old ID begin with
// the new one (duplicating a group keeps the settings of its buckets).
platform::DictionaryPtr PMRekeyedSubgroupSettings(const platform::DictionaryPtr& settings, const QString& oldID, const QString& newID);
