// Movie records: the record of one file of the library exists once, as an original;
// wherever the same file is shown elsewhere (another container, a subdivision, a search
// result, a static playlist) a light proxy stands in for it. Everything a user can
// change about a file lives once, in the original's settings dictionary, which proxies
// share: every operation of the prototype works on the original (a proxy's, or the record
// itself), so a proxy reads and writes exactly what its original holds.
//
// Threads: records are changed on the main thread. The getters that the sort engine warms
// from several threads (names, dates, sizes, counters, ratings, tag values) keep their
// cached values behind the original's lock and have no side effects off the main thread:
// they start no background work and write nothing into the settings there.
#pragma once

#include "library/model/PMLibraryItem.h"

#include "platform/Image.h"
#include "platform/Value.h"

#include <QtCore/QHash>
#include <QtCore/QRectF>
#include <QtCore/QSet>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PMMovieRepresentationOriginal;
class QMenu;
class QWidget;
class PMMovie;
struct PMFrameImageMovieRepresentation;
class PMMovieRepresentationProxy;
struct PMMovieRepresentationValues;
struct PMTagTypeShare;
using PMMovieRepresentationOriginalPtr = std::shared_ptr<PMMovieRepresentationOriginal>;
using PMMovieRepresentationProxyPtr = std::shared_ptr<PMMovieRepresentationProxy>;

// The tag-name prefix of tag columns of the list: "AccessoryTagListName: " + lower-case tag.
inline constexpr char PMAccessoryTagListNamePrefix[] = "AccessoryTagListName: ";

// The per-file settings of a movie record: one dictionary, shared by the original and all
// its proxies, saved with the library as "User Settings".
using PMMovieUserSettings = platform::Dictionary;

// One text with the parts a search looks at, in the order name, metadata, location, so that
// name and metadata together are one range: the display name with extension, the file name
// of the application, every tag value, then the path (or the address without one), each
// part case-folded and followed by a separator. Tag names are kept apart for the equality test.
struct PMMovieSearchText {
    QString text;
    qsizetype nameEnd = 0;
    qsizetype metadataEnd = 0;
    QStringList tagNames;
};
// The separator of the parts of a search text; no term that holds it is matched there.
inline constexpr char16_t PMSearchTextSeparator = 0xFFFF;
// The records noted since the last `take`, up to a limit; beyond it `take` answers NO
// (then any record may have changed). Safe from any thread.
class PMChangedRecords {
public:
    void note(const PMMovieRepresentationOriginal* record);
    bool take(std::vector<const PMMovieRepresentationOriginal*>& records);

private:
    static constexpr size_t kLimit = 4096;
    std::mutex m_mutex;
    std::vector<const PMMovieRepresentationOriginal*> m_records;
    bool m_overflowed = false;
};

// Rises whenever any record's search text is dropped.
std::uint64_t PMSearchTextEpoch();
// Hands over the records whose search texts were dropped since the last call; NO when
// too many were to be remembered (then any record may have changed).
bool PMTakeRecordsWithDroppedSearchTexts(std::vector<const PMMovieRepresentationOriginal*>& records);
// Rises whenever any record's cached tags are dropped.
std::uint64_t PMCachedTagsEpoch();
// Hands over the records whose cached tags were dropped since the last call; NO when
// too many were to be remembered (then any record may have changed).
bool PMTakeRecordsWithDroppedTags(std::vector<const PMMovieRepresentationOriginal*>& records);

// A term of a search, case-folded once for testing many records against it.
struct PMSearchTerm {
    explicit PMSearchTerm(const QString& string);
    QString string; // as given
    QString folded; // case-folded, unit by unit
    // Terms that hold no surrogate and no separator of the records' search texts, are not
    // empty and are no rating test are matched against those texts; others record by record.
    bool matchesFoldedText = false;
};

// A cached date, or none, in the room of the date alone (none is NaN): a record keeps
// six, and a library a hundred thousand records. Reads as std::optional<Date> does.
class PMCachedDate {
public:
    PMCachedDate() = default;
    PMCachedDate(const std::optional<platform::Date>& date) : m_seconds(date ? date->secondsSince1970 : kNone) {}
    PMCachedDate(platform::Date date) : m_seconds(date.secondsSince1970) {}
    bool has_value() const { return m_seconds == m_seconds; }
    explicit operator bool() const { return has_value(); }
    platform::Date operator*() const { return platform::Date{m_seconds}; }
    void reset() { m_seconds = kNone; }

private:
    static constexpr double kNone = __builtin_nan("");
    double m_seconds = kNone;
};

class PMMovieRepresentationPrototype : public platform::Object, public PMLibraryItem {
public:
    ~PMMovieRepresentationPrototype() override;

    int objectKind() const override { return kPMMovieRecordObjectKind; }
    platform::Object& itemObject() override { return *this; }
    std::shared_ptr<PMMovieRepresentationPrototype> sharedRecord();

    // The original of a proxy; the record itself for an original.
    PMMovieRepresentationOriginal& original();
    const PMMovieRepresentationOriginal& original() const;
    platform::Value nonProxySelf() override;

    // Proxy factories: nothing on the prototype and on proxies (but `proxy`).
    virtual PMMovieRepresentationProxyPtr proxy() { return nullptr; }
    virtual PMMovieRepresentationProxyPtr fanOutProxy() { return nullptr; }
    virtual PMMovieRepresentationProxyPtr searchResultProxy() { return nullptr; }
    virtual PMMovieRepresentationProxyPtr staticPlaylistProxy() { return nullptr; }
    virtual bool isFanOutProxy() const { return false; }
    virtual bool isSearchResultProxy() const { return false; }
    virtual platform::ArrayPtr duplicateIDs() const { return nullptr; }
    virtual QString duplicateImageHash() const { return {}; }
    // A proxy is never a container dictionary: asking it for a key logs, beeps, answers nothing.
    virtual platform::Value objectForKey(const QString& key);

    // Preview items
    QUrl previewItemURL() const { return URL(); }
    QString previewItemTitle() { return displayName(); }

    // ---- PMLibraryItem
    QString uniqueLibraryID() override;
    // The ID the record holds, without making one when it has none (empty then).
    QString storedUniqueLibraryID();
    void setUniqueLibraryID(const QString& uniqueLibraryID) override;
    bool isContainer() const override { return false; }
    bool isMovieRepresentation() const override { return true; }
    bool isExternalMediaItem() const override;
    QString description() const override;

    // ---- Per-file settings (shared with every proxy)
    platform::DictionaryPtr userSettings() const;

    // ---- Location and missing state
    QUrl URL() const;
    void setURL(const QUrl& url);
    // The same with the bookmark of the new place made already (on a worker): no disk call.
    void setURLWithBookmark(const QUrl& url, const std::optional<QByteArray>& bookmark);
    QString path() override;
    QByteArray bookmark();
    // The bookmark data stored so far, without making any: for a file known to be
    // missing, where making one can only fail.
    QByteArray storedBookmark() const;
    bool isMissing() const;
    bool isMissingVolume() const;
    void setMissing(bool missing, bool volumeMissing);
    void setIsMoving(bool moving);
    bool isMoving();
    bool canPlay();
    bool canMove();
    QString URLString() override;
    QString locationKey() override;
    QString filenameExtension();
    QString readableLocation();
    QString readableLocationPrefixedByDisplayNameIfDifferent();
    // The icon of the file's type from the icon theme; a globe for web addresses.
    QIcon icon() override;
    QString applicationPath();
    void setApplicationPath(const QString& path);
    void invalidateApplicationPath();
    bool setOriginalURLFileAttributes();
    // The web address the file came from, opened only when it is http or https; otherwise
    // the file itself. YES when something was opened.
    bool openOriginalURL();
    bool copyOriginalURL();
    bool showInFinder();
    // Lets the user locate a missing file (through the services' file chooser); the record
    // then points at the chosen file, keeps its old name where the name came from the old
    // file, and is present again. NO when nothing was chosen.
    bool promptForURL();
    // The current place of a file that may have moved (by bookmark, then under another
    // library folder), or nothing. With a record given, its URL follows the file.
    static QString fixedPath(const QString& path, const QString& relativePath, const QByteArray& bookmark,
                             PMMovieRepresentationPrototype* updateURLIfNecessaryForMovieRepresentation);
    // What a search for a moved file reads of the settings, read once on the main thread so
    // that the search itself can run on any thread.
    struct FileSearchSettings {
        QStringList libraryPaths;
        bool useBookmarks = true;
        bool simplifiedVolumeCache = false;
        bool debugLog = false;
        static FileSearchSettings current();
    };
    // The search of `fixedPath` with the settings given: touches neither a record nor the
    // settings, so it may run on a worker.
    static QString searchedPath(const QString& path, const QString& relativePath, const QByteArray& bookmark,
                                const FileSearchSettings& settings);
    // The folder for a record inside a library folder, from its ancestors (parent first).
    // Every component is made a safe file name; nothing when a folder cannot be made or the
    // result would leave the base folder.
    static QString folderPathForLibraryAncestors(const platform::ArrayPtr& ancestors, const QString& basePath, bool createFoldersIfNecessary);
    QString suggestedPathForLibraryAncestors(const platform::ArrayPtr& ancestors, const QStringList& possibleBasePaths, QString* getBasePath,
                                             bool createFoldersIfNecessary);
    QString availablePathForLibraryAncestors(const platform::ArrayPtr& ancestors, const QStringList& possibleBasePaths, QString* getBasePath,
                                             bool* isFileMatch);

    // ---- Tags
    void setTags(const platform::DictionaryPtr& tags);
    void setValue(const QString& value, const QString& forTag);
    platform::DictionaryPtr valuesByLowercaseValueForTag(const QString& tag);
    void setValuesByLowercaseValue(const platform::DictionaryPtr& values, const QString& forTag);
    void addValue(const QString& value, const QString& forTag);
    void subtractValue(const QString& value, const QString& forTag);
    void addTagValuesFromMovieRepresentation(PMMovieRepresentationPrototype& other, bool skipNotes);
    // A branch maps lower-case tag names to {"Tag", "Values"} and may hold "Series ID
    // Prefix"; the array form applies each branch dictionary it holds.
    void addTagValuesFromSubdivisionBranch(const platform::ArrayPtr& branches) override;
    void addTagValuesFromSubdivisionBranchDictionary(const platform::DictionaryPtr& branch);
    QString tagValueForListID(const QString& listID);
    platform::DictionaryPtr cachedTags();
    platform::DictionaryPtr importedTags();
    void updateCachedFileMetadataTags();
    QString cachedLowercaseValueForLowercaseTag(const QString& tag) override;
    QStringList cachedLowercaseValuesForLowercaseTag(const QString& tag);
    // What the record adds to the library's tag types; kept until its tags change.
    std::shared_ptr<const PMTagTypeShare> cachedTagTypeShare();
    void invalidateCachedTags();
    platform::DictionaryPtr cachedSubdivisionTags();
    QString fastTrackSubdivisionTagsDescription();
    void invalidateCachedSubdivisionTags();

    // ---- Measures, dates and playback position
    double rating() override;
    void setRating(double rating);
    // The number of plays; nothing (null) for a record never counted.
    platform::Value counterNumber();
    std::uint64_t counter() override;
    void incrementCounter();
    void incrementCounterOnlyIfNecessary(bool onlyIfNecessary);
    void invalidateCounter();
    platform::Date additionDate() override;
    void setAdditionDate(const platform::Date& date);
    platform::Date creationDate() override;
    platform::Date oldestDate() override;
    platform::Date newestDate() override;
    platform::Date individualOldestDate();
    // The year a "year" tag names: its leading integer, so "1990s", "1990-05-04" and
    // "1990, 1991" all give 1990; 0 when the tag does not begin with a number.
    long yearTagValue();
    platform::Date individualNewestDate();
    platform::Date newestDateInSortingContext() override;
    void setNewestDateInSortingContext(std::optional<platform::Date> date);
    bool hasNewestDateInSortingContext() const;
    platform::Date lastPlaybackDate() override;
    void setLastPlaybackDate(const platform::Date& date);
    void invalidateFuzzyDates();
    void invalidateDates();
    void setDuration(long long seconds);
    long long duration() override;
    long long durationIfCached(bool onlyIfCached, bool checkAnimatedImageDurationSynchronously = false);
    std::uint64_t movieFileSize() override;
    // The size measured this session, else the stored "Size" (0 when none), without a look
    // at the disk; known tells which.
    std::uint64_t movieFileSizeWithoutDisk(bool* known);
    QString movieFileSizeDescriptionIncludingEditedSize(bool includingEditedSize);
    QSizeF assetSizeIfCached(bool onlyIfCached) override;
    QString assetSizeDescription();
    QString indexedSeriesID();
    QString seriesIDPrefix();
    void setSeriesID(const QString& seriesID, std::uint64_t index);
    // The playback position of the current time `t` of a movie of `d` whole seconds: kept
    // when the record is stopped between its first second and its last two.
    void savePlaybackPosition(double currentTime, qint64 assetDurationSeconds);
    // The time to start from for a movie of `d` whole seconds.
    double restorePlaybackPosition(qint64 assetDurationSeconds);
    void goToTimestamp(double seconds, bool startPlaying);
    // Adds the items that open the movie at the time ("Play from …" and "Go to …", the one
    // the settings do not put first as the Alt alternate), after a separator when asked;
    // with a marker its "Title" names them. NO, and nothing
    // added, when the time is not within the known duration or the movie cannot play.
    bool addGoToTimestampMenuItemsToMenu(QMenu* menu, double timestamp, const QString& description, const platform::DictionaryPtr& marker,
                                         bool includeDisplayName, bool insertSeparator);
    int angle();
    // Turns the picture by the degrees (clockwise); a turn by quarters from a crooked angle
    // snaps to the quarter. Drops the visible area and the custom aspect ratio.
    void rotateByAngle(int degrees);
    bool isFlippedHorizontally();
    void setFlippedHorizontally(bool flipped);
    bool isConsideredStillImage();

    // ---- Images: cover and preview in memory, stored through the image folders
    QString coverImageBasePath();
    QString posterImageBasePath();
    QString standardIndexImagesBasePath();
    void setCoverImage(const platform::ImagePtr& image);
    platform::ImagePtr cachedCoverImage();
    void setPosterImage(const platform::ImagePtr& image);
    platform::ImagePtr cachedPosterImage();
    void uncacheCoverImageAndPosterImage();
    // The pictures go a few seconds later, or sooner when more than these wait to go.
    void uncacheCoverImageAndPosterImageAfterDelay();
    static constexpr std::size_t kMaximumRecordsAwaitingPictureRelease = 2000;
    static constexpr qsizetype kMaximumPictureBytesAwaitingRelease = qsizetype(48) << 20;
    void cancelUncacheCoverImageAndPosterImageAfterDelay();
    // Asks the loader for the pictures at the view's size: condition 0 always, 1 only to
    // improve pictures in memory (when the view outgrew them), 2 only when nothing is in
    // memory or on its way. The view is marked for redrawing when they arrive.
    void loadCoverImageAndPosterImageForView(QWidget* view, int condition);
    // The same for a tile that is no widget: its frame in the grid, whether it is visible,
    // and what redraws it when pictures arrive.
    void loadCoverImageAndPosterImageForFrame(const QRectF& frame, bool visible, int condition, std::function<void()> redraw);
    bool isPosterImagePending() const;
    // Clears the pending marker so that the next view asks the loader again.
    void retryImageLoading();
    // "Poster Image Size": the preview's pixel size as a size text, or nothing.
    void setThumbnailSizeDescription(const QString& description);
    void updateThumbnailSizeDescriptionWithImage(const platform::ImagePtr& image);
    // Width over height of the stored preview size; -1 when unknown.
    double thumbnailImageAspectRatio();

    // ---- Hover frames and image hashes (src/images)
    using IndexImageWrappers = std::vector<std::shared_ptr<class PMIndexImageWrapper>>;
    using IndexImageWrappersHandler = std::function<void(std::optional<IndexImageWrappers>)>;
    // The hover frames: saved ones, else grabbed (and stored); nothing for a record that
    // cannot play and has none. With a handler the answer goes there on the main thread.
    std::optional<IndexImageWrappers> standardIndexImageWrappersWithCompletionHandler(IndexImageWrappersHandler handler);
    bool hasSavedStandardIndexImages();
    // Keeps the hover frames in memory (asking for them once) and hands them on.
    void cacheStandardIndexImageWrappersWithCompletionHandler(std::function<void(const IndexImageWrappers*)> handler);
    std::shared_ptr<const IndexImageWrappers> cachedStandardIndexImageWrappers();
    void uncacheStandardIndexImages();
    void clearStandardIndexImages();
    bool canShowIndexImage();
    // The stored difference hash ("Image Hash %ld", "Movie Hash"); a missing one is computed
    // in the background and stored, so the answer is then empty for now.
    QString imageHashWithResolution(long long resolution) override;
    // Drops the index image's working settings, which stops a running generation.
    void clearIndexImageSettings();

    // ---- The movie object of playback, made on first request and kept until cleared
    std::shared_ptr<class PMMovie> movie();
    // Drops the movie object; a record that plays frame images forgets them and its
    // duration, any other saves its playback position first.
    void clearMovie();
    // The still images played in sequence as this record's frames, or nothing.
    using FrameImageMovieRepresentations = std::vector<PMFrameImageMovieRepresentation>;
    std::shared_ptr<const FrameImageMovieRepresentations> frameImageMovieRepresentations();

    // ---- Names, list values and tool tips
    QString displayName() override;
    QString displayNameWithExtension(bool withExtension);
    QString displayNameFromMetadataName(bool useMetadata);
    void setDisplayName(const QString& name);
    void invalidateDisplayNameRecursively() override;
    QString sortName() override;
    // The collation key of a sort name of this movie (as platform::localizedStandardCollationKey
    // makes it), kept with the record for the text it was made of: making the keys is most of
    // a sort by name, and every sort of a large container asks for them again.
    QByteArray sortNameCollationKey(const QString& sortName);
    void invalidateSortNameRecursively() override;
    QString seriesSortName() override;
    void invalidateSeriesSortName();
    QString suggestedFilename();
    static platform::DictionaryPtr valueLabelsByListIDForSeries(bool series, QStringList* getOrderedListIDs);
    platform::Value valueForListID(const QString& listID, bool forToolTip);
    QString fileMetaDataDescriptionForToolTip(bool forToolTip);
    QString toolTip();
    bool isMatchForIdentifiers(const QSet<QString>& identifiers);
    bool isMatchForSearchString(const QString& string, bool searchName, bool searchMetadata, bool searchLocation);
    // With `text` (the record's `searchText`, fetched once for many terms) or without.
    bool isMatchForSearchTerm(const PMSearchTerm& term, bool searchName, bool searchMetadata, bool searchLocation,
                              const PMMovieSearchText* text = nullptr);
    // The record's case-folded texts that searches test; made on first use.
    std::shared_ptr<const PMMovieSearchText> searchText();
    bool isMatchForSearchStringDirectly(const QString& string, bool searchName, bool searchMetadata, bool searchLocation);

    // The least a movie needs of its record.
    PMMovieRepresentationValues movieRepresentationValues();

protected:
    PMMovieRepresentationPrototype() = default;

private:
    PMCachedDate m_newestDateInSortingContext;
};

// Values kept by key for the few keys a record is ever asked about (the tags one search or
// a smart group's criteria name): a record holds none or a handful, and a library holds a
// hundred thousand records. Empty, it is one pointer; a QHash would set aside storage for
// 48 entries (about 2.5 KB) at its first insertion.
template <typename T>
class PMFewKeyedValues {
public:
    const T* find(const QString& key) const
    {
        if (m_entries)
            for (const auto& entry : *m_entries)
                if (entry.first == key)
                    return &entry.second;
        return nullptr;
    }
    void insert(const QString& key, T value)
    {
        if (!m_entries)
            m_entries = std::make_unique<std::vector<std::pair<QString, T>>>();
        for (auto& entry : *m_entries)
            if (entry.first == key) {
                entry.second = std::move(value);
                return;
            }
        m_entries->emplace_back(key, std::move(value));
    }
    void clear() { m_entries.reset(); }

private:
    std::unique_ptr<std::vector<std::pair<QString, T>>> m_entries;
};

class PMMovieRepresentationOriginal final : public PMMovieRepresentationPrototype {
public:
    // `settings`, when given, becomes the record's settings record itself (a dictionary
    // that nobody else holds, one just read from a file); `adoptUserSettings` with the
    // same dictionary then cleans it up as a saved one.
    explicit PMMovieRepresentationOriginal(const QUrl& url, platform::DictionaryPtr settings = nullptr);
    // A record of the local file at the path. A clean absolute path (nearly every one) is
    // kept as it is and the URL made only when asked for.
    explicit PMMovieRepresentationOriginal(const QString& localPath, platform::DictionaryPtr settings = nullptr);
    static PMMovieRepresentationOriginalPtr movieRepresentationWithURL(const QUrl& url);
    static PMMovieRepresentationOriginalPtr movieRepresentationWithPath(const QString& path);
    static PMMovieRepresentationOriginalPtr movieRepresentationWithPath(const QString& path, const QString& relativePath, const QByteArray& bookmark);
    // Stores the frame images (and "Plays Frame Images"), or with nothing removes both.
    void setFrameImageMovieRepresentations(std::shared_ptr<const FrameImageMovieRepresentations> frames);
    std::shared_ptr<PMMovieRepresentationOriginal> sharedOriginal();
    // Ask the processor to bring in what `cachedTagTypeShare` reads, for a loop over many
    // records in no order of memory to call ahead of time: first the record's own fields,
    // some steps later the share they point to.
    void prefetchTagTypeShare() const
    {
        __builtin_prefetch(&m_mutex);
        __builtin_prefetch(&m_tagTypeShare);
    }
    void prefetchTagTypeShareContents() const
    {
        std::lock_guard lock(m_mutex);
        if (const PMTagTypeShare* share = m_tagTypeShare.get())
            __builtin_prefetch(share);
    }

    PMMovieRepresentationProxyPtr proxy() override;
    PMMovieRepresentationProxyPtr fanOutProxy() override;
    PMMovieRepresentationProxyPtr searchResultProxy() override;
    PMMovieRepresentationProxyPtr staticPlaylistProxy() override;

    // Fills the settings from a saved item's "User Settings" and cleans up what older
    // libraries left: legacy keys, a "Moving" left over, frame-image records (measured 0),
    // and the fresh addition stamp when the saved settings hold the legacy "Date".
    void loadUserSettings(const platform::DictionaryPtr& saved);
    // The same for a dictionary that nobody else holds (one just read from a file): its
    // entries are taken over, not copied, and it is left empty. The record's own settings
    // record (given to the constructor) is cleaned up in place.
    void adoptUserSettings(const platform::DictionaryPtr& saved);

    // Original only.
    void setBookmark(const QByteArray& bookmark);
    QString retainedDisplayNameWithExtension(bool withExtension, bool autoName, bool cleanFilename);
    void updateRawCachedFileMetadataTags(const platform::DictionaryPtr& raw);
    // The same for many records at once (the imported metadata each holds, unless given):
    // one background job looks at all their files and reads again those that changed.
    static void refreshFileMetadataTags(const std::vector<PMMovieRepresentationOriginal*>& records,
                                        const std::vector<platform::DictionaryPtr>* raws = nullptr);
    platform::DictionaryPtr fileMetadataTagsWithNames(const QStringList& names);
    platform::DictionaryPtr externalMediaTagsWithNames(const QStringList& names);
    QString duplicateComparisonValue() const;
    void setDuplicateComparisonValue(const QString& value);
    bool hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce() const;

    // Set by the external media library for its items.
    platform::Value m_associatedMLMediaObject;

    // ---- State (the prototype's operations reach it through `original()`)
    mutable std::mutex m_mutex; // guards the state below
    // Either one is known: a record made from a clean local path gets its URL when the
    // URL is first asked for (a load makes a hundred thousand records, few of whose URLs
    // are ever needed).
    mutable std::optional<QUrl> m_URL;
    const platform::DictionaryPtr m_userSettings;
    bool m_isMissing = false;
    bool m_isMissingVolume = false;
    bool m_hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce = false;
    // (The flags side by side: a library holds a hundred thousand records, and a record
    // 8 bytes larger falls into the allocator's next size, 128 bytes larger.)
    bool m_durationQueued = false;       // waiting in a batch of duration measures
    bool m_durationUnmeasurable = false; // its file could not be measured this session
    QByteArray m_bookmark;
    std::optional<QString> m_path; // empty text: the URL is not a file URL
    std::optional<QString> m_applicationPath;
    platform::DictionaryPtr m_cachedTags;
    platform::DictionaryPtr m_cachedSubdivisionTags;
    std::optional<QString> m_fastTrackSubdivisionTagsDescription;
    PMFewKeyedValues<QString> m_cachedLowercaseTagValues;
    PMFewKeyedValues<QStringList> m_cachedSeparateLowercaseTagValues;
    std::optional<QString> m_displayNameWithExtension, m_displayNameWithoutExtension, m_displayName;
    std::optional<QString> m_sortName, m_seriesSortName;
    QString m_collationKeySortName; // the text m_sortNameCollationKey was made of
    QByteArray m_sortNameCollationKey;
    std::uint64_t m_sortNameGeneration = 0; // counts the times the sort name was dropped
    PMCachedDate m_additionDate, m_creationDate, m_oldestDate, m_newestDate, m_lastPlaybackDate;
    std::optional<std::uint64_t> m_movieFileSize;
    QString m_duplicateComparisonValue;
    // The case-folded name, tags and location that searches test, made on the first search
    // and dropped (under the lock) whenever the name, tags, application or location change.
    std::shared_ptr<const PMMovieSearchText> m_searchText;
    std::shared_ptr<const PMTagTypeShare> m_tagTypeShare; // dropped with the cached tags
    std::uint64_t m_tagsGeneration = 0;                    // counts the times they were dropped
    std::uint64_t m_searchTextGeneration = 0;
    void invalidateSearchTextLocked();
    // Images in memory (main thread only). The poster slot is empty, an image, or pending.
    platform::ImagePtr m_coverImage;
    platform::ImagePtr m_posterImage;
    bool m_posterImagePending = false;
    QSizeF m_requestedImageSize;
    std::uint64_t m_imageRequestSerial = 0; // counts the picture requests
    std::uint64_t m_imageReleaseSerial = 0; // counts the releases: an answer to a request made before one is dropped
    double m_thumbnailImageAspectRatio = -10.0; // -10: to be computed, -1: unknown
    // Playback (main thread only).
    std::shared_ptr<class PMMovie> m_movie;
    std::shared_ptr<const FrameImageMovieRepresentations> m_frameImageMovieRepresentations;
    // Hover frames in memory (main thread only).
    std::shared_ptr<const IndexImageWrappers> m_indexImageWrappers;
};

class PMMovieRepresentationProxy : public PMMovieRepresentationPrototype {
public:
    explicit PMMovieRepresentationProxy(PMMovieRepresentationOriginalPtr original);
    bool isProxy() const override { return true; }
    std::shared_ptr<PMMovieRepresentationOriginal> proxyOriginal() const override { return m_original; }
    // The same without counting a reference: `original` is asked for at every turn of a
    // grid or a sum over tens of thousands of movies.
    PMMovieRepresentationOriginal* proxiedOriginal() const { return m_original.get(); }
    // A proxy of a proxy is never made: this answers a new proxy of the original.
    PMMovieRepresentationProxyPtr proxy() override;
    platform::Value objectForKey(const QString& key) override;

private:
    PMMovieRepresentationOriginalPtr m_original;
};

class PMMovieRepresentationFanOutProxy final : public PMMovieRepresentationProxy {
public:
    using PMMovieRepresentationProxy::PMMovieRepresentationProxy;
    bool isFanOutProxy() const override { return true; }
};

class PMMovieRepresentationSearchResultProxy final : public PMMovieRepresentationProxy {
public:
    using PMMovieRepresentationProxy::PMMovieRepresentationProxy;
    bool isSearchResultProxy() const override { return true; }
    platform::ArrayPtr duplicateIDs() const override { return m_duplicateIDs; }
    QString duplicateImageHash() const override { return m_duplicateImageHash; }
    void setDuplicateIDs(platform::ArrayPtr ids) { m_duplicateIDs = std::move(ids); }
    void setDuplicateImageHash(const QString& hash) { m_duplicateImageHash = hash; }

private:
    platform::ArrayPtr m_duplicateIDs;
    QString m_duplicateImageHash;
};

class PMMovieRepresentationStaticPlaylistProxy final : public PMMovieRepresentationProxy {
public:
    using PMMovieRepresentationProxy::PMMovieRepresentationProxy;
    bool isStaticPlaylistProxy() const override { return true; }
};

// What the records ask of the rest of the program (the library folders, series, tag
// types, the player). The main controller's shares install these; until then each
// answers as a library without that subsystem would. The ones that the getters use
// (series dates, tag-based names, import tag names) may be called from several threads
// at once while the sort engine warms its caches.
struct PMMovieRepresentationServices {
    // The library folders, main one first.
    std::function<QStringList()> libraryPaths;
    // The name made from tags for a record (automatic names).
    std::function<QString(PMMovieRepresentationPrototype&)> tagBasedDisplayName;
    // Oldest and newest dates of a series, by its ID prefix.
    std::function<std::optional<platform::Date>(const QString&)> oldestDateForSeriesIDPrefix;
    std::function<std::optional<platform::Date>(const QString&)> newestDateForSeriesIDPrefix;
    // "2 of 5" style text of the record's place in its series.
    std::function<QString(PMMovieRepresentationPrototype&)> seriesIndexDescription;
    // The tag names whose values are imported from files.
    std::function<QStringList()> importTagNames;
    // Chooses the record for playback.
    std::function<void(PMMovieRepresentationPrototype&, bool startPlaying)> chooseMovieRepresentation;
    // A library update after the delay.
    std::function<void(double)> updateLibraryAfterDelay;
    // The Dock icon's count of background checks.
    std::function<void(int)> updateApplicationIconWithCrawlDelta;
    // A modal file chooser (title, prompt): the chosen file, or an empty URL.
    std::function<QUrl(const QString& title, const QString& prompt)> chooseFile;
    // The viewer rules ({"Match" or "Extensions", "Open"}).
    std::function<platform::ArrayPtr()> viewerRules;
    // The image folders: store (or, with nothing, remove) a record's cover or preview, and
    // cancel the loads waiting for a record.
    std::function<void(const platform::ImagePtr&, PMMovieRepresentationPrototype&)> saveCoverImage;
    std::function<void(const platform::ImagePtr&, PMMovieRepresentationPrototype&)> savePosterImage;
    std::function<void(PMMovieRepresentationPrototype&)> cancelLoadingForMovieRepresentation;
    // Removes a deleted record's cover, preview and hover frames from the image folders.
    std::function<void(PMMovieRepresentationPrototype&)> removeImagesOfMovieRepresentation;
    // The library window's refresh of a record's preview; answers whether it was shown.
    std::function<bool(PMMovieRepresentationPrototype&)> updatePreviewForMovieRepresentation;
    // Playback's saving of the record's current position, before its movie object goes.
    std::function<void(PMMovieRepresentationPrototype&)> savePlaybackPosition;

    static PMMovieRepresentationServices& shared();
};

// Stores a loaded duration (whole seconds) and size text ("{w, h}", may be empty) with the
// record of that ID, on the main thread.
void PMUpdateDurationForMovieRepresentation(qint64 seconds, const QString& assetSizeDescription, const QString& uniqueLibraryID);
// The queue that reads durations and metadata of files, one at a time.
namespace platform { class OperationQueue; }
class PMCrawlQueue {
public:
    static void async(std::function<void()> job);
    // The queue itself, for work with priorities (the image loader's slow stages).
    static platform::OperationQueue& operationQueue();
    // Work on other queues that will add crawl jobs: counted, so that waiting sees it.
    static void beginBackgroundWork();
    static void endBackgroundWork();
    // Waits until the counted work has ended and every crawl job added so far has run;
    // results then wait on the main thread's queue. Also done when the application
    // object goes away.
    static void waitUntilEmpty();
    // The same within a bound: whether it emptied in time.
    static bool waitUntilEmpty(std::chrono::milliseconds bound);
};
// While one of these lives on a thread, the record getters called on that thread have no
// side effects at all: they start no reads, stamp no dates and write nothing into the
// settings (the sort engine holds one on every thread of its warm-up, the main thread
// included). Off the main thread getters never have side effects.
class PMSideEffectFreeGetters {
public:
    PMSideEffectFreeGetters();
    ~PMSideEffectFreeGetters();
    PMSideEffectFreeGetters(const PMSideEffectFreeGetters&) = delete;
    PMSideEffectFreeGetters& operator=(const PMSideEffectFreeGetters&) = delete;
};
// On the main thread and outside such a scope.
bool PMRecordGettersMayChangeRecords();

// Whether a duration or metadata read is in flight for the ID (tests).
bool PMIsDurationComputationInFlight(const QString& uniqueLibraryID);
// Measures the files' sizes on a queue of their own and keeps them with the records (main
// thread); changed runs on the main thread when a size differed from what was known.
// Measures the durations not known yet of the movies given, in one background job, and
// calls `changed` on the main thread when any was learnt.
void PMMeasureMovieDurationsInBackground(const std::vector<PMMovieRepresentationPrototype*>& movies, std::function<void()> changed);
void PMRefreshMovieFileSizesInBackground(const std::vector<PMMovieRepresentationPrototype*>& movies, std::function<void()> changed);
bool PMIsMetadataReadInFlight(const QString& uniqueLibraryID);
