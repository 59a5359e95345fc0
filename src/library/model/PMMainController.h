// The one central controller: it owns the library tree and the lookup tables derived
// from it, the storages, the current movie and, later, the main window's views. Its
// operations are spread over the subsystems; each subsystem's share is defined in that
// subsystem's folder (PMMainController+<Share>.cpp). The sections below follow the
// subsystems. Everything runs on the main thread.
#pragma once

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMTagType.h"

#include "platform/Responder.h"
#include "platform/Value.h"

#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QRectF>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtGui/QImage>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class PMAutoCompleteTableView;
class PMGroupListAccess;
class PMGroupTableView;
struct PMTableCellAppearance;
struct PMTableCellMenuItem;
class PMGroupView;
class PMGroupViewTile;
class PMIndexImageView;
class PMLibraryListAccess;
class PMMovieCell;
class PMMovieOutlineView;
class PMMovieRepresentationOriginal;
class PMQuibScopeBar;
class PMQuickLookPanel;
class PMQuickLookPanelController;
class QuibScopeBarDelegate;
class QIcon;
class QTimer;
class QLineEdit;
class PMMovieRepresentationPrototype;
class QAction;
class QKeyEvent;
struct PMPlayerViewContent;
class PMContextButton;
class PMMovieTimeSlider;
class PMSelectAreaSession;
struct PMSelectAreaEvent;
class QMouseEvent;
class QPointF;
class QComboBox;
class QMenu;
class QMimeData;
class QPoint;
class QRect;
class QRectF;
class QScreen;
class QSizeF;
class QUrl;
class QWidget;
using PMMovieRepresentationOriginalPtr = std::shared_ptr<PMMovieRepresentationOriginal>;
namespace platform {
class Image;
using ImagePtr = std::shared_ptr<Image>;
} // namespace platform

class QMenuBar;
class QAbstractButton;
class QCheckBox;
class QLabel;
class QStackedWidget;
class PMJSONTextView;
class PMOptionalMenuButton;
class PMPreferencesWindow;
class PMPreferenceSlider;

class PMMainController : public QObject, public platform::Responder {
    Q_OBJECT
public:
    // The singleton, created on first use; it lives until the process ends.
    static PMMainController& mainController();

    // ---------------------------------------------------------------------------------
    // Library model: the tree and its lookup tables (rebuilt by every library update)

    platform::ArrayPtr _library = platform::Array::make();
    QHash<QString, PMLibraryContainerPtr> _containersByID;
    QHash<QString, PMMovieRepresentationOriginalPtr> _nonProxyRawMovieRepresentationsByPath; // precomposed paths
    // The downloads by their addresses, then the playable movies by the web address they
    // came from ("Original URL"); made on first request after each library rebuild.
    QHash<QString, platform::Value> availableMovieRepresentationsByOriginalURLString();
    std::optional<QHash<QString, platform::Value>> _availableMovieRepresentationsByOriginalURLString;
    QHash<QString, PMMovieRepresentationOriginalPtr> _nonProxyRawMovieRepresentationsByID;
    QHash<QString, platform::DictionaryPtr> _nonProxyRawMovieRepresentationSeriesByIDPrefix;
    QHash<QString, PMMovieRepresentationOriginalPtr> _nonProxyFilteredMovieRepresentationsByID;
    platform::ArrayPtr _nonProxyFilteredMovieRepresentations = platform::Array::make();
    platform::ArrayPtr _currentOrMonitoredMovieRepresentationAncestors;
    // The movie being played, and the one shown in a monitored external viewer.
    platform::Value _currentMovieRepresentation;
    platform::Value _externalViewerMovieRepresentation;
    // Whether playback watches the external viewer (its movie's place is then kept).
    bool _isMonitoringExternalViewer = false;

    // External viewers, viewer rules and Open With (src/playback/PMMainController+ExternalViewers.cpp).
    // Opens the files of the item (its parts for a sequence) in the application whose desktop
    // entry lies at `withApplicationAtURL`; with confirmation, asks once per application.
    // Programs, scripts and desktop entries are refused with a message. Answers whether the
    // application was started.
    bool openURL(const QString& path, const platform::Value& forMovieRepresentation, const QString& withApplicationAtURL,
                 bool requestConfirmation, bool startPlaying);
    // The parsed "Viewer Rules" (the built-in text when unset), null while the text is invalid.
    platform::ArrayPtr viewerRules();
    void invalidateViewerRules() { _viewerRules.reset(); }
    std::optional<platform::ArrayPtr> _viewerRules;
    // Menu title → desktop entry path of the applications that open all the items; nil for
    // none. The one application path the items share (maybe none) goes out.
    platform::DictionaryPtr applicationsForMovieRepresentations(const platform::ArrayPtr& items, bool includePellis,
                                                               QString* getCommonDefaultApplicationPath);
    // Open With commands; the item's represented object is {"Application": path, "Movies": items}.
    void openWithApplicationFromMenuItem(QAction* item);
    void alwaysOpenWithApplicationFromMenuItem(QAction* item);
    void filterOpenWithApplicationFromMenuItemSwitch(QAction* item);
    // Following an external viewer over MPRIS to continue with the next part or item.
    bool shouldMonitorExternalViewer();
    void startMonitoringExternalViewer(bool immediately);
    void pauseMonitoringExternalViewer();
    void stopMonitoringExternalViewer();
    void monitorExternalViewer();
    bool continueFromExternalViewerAsPreflightCheck(bool check);
    void continueFromExternalViewer();
    // Applies one answer of the viewer (tests feed answers directly).
    struct ExternalViewerState {
        bool answered = false;   // a player answered at all
        QString path;            // the shown file, empty when none
        double position = 0;     // seconds
        double duration = 0;     // seconds; below 1 means unknown
        bool isPlaying = false;  // playing: never counted as ended
    };
    void applyExternalViewerState(const ExternalViewerState& state, const platform::ImagePtr& pickedUpPreview);
    QString _externalViewerBundleIdentifier;   // the desktop entry's ID
    QString _externalViewerFilePath;
    platform::DictionaryPtr _externalViewerDurationsBySequencePath;
    bool _checkExternalViewerDuration = false;
    qint64 _externalViewerWatchStartMSecs = 0;
    // Each watch has its serial: an answer of an older watch's poll is dropped. A picture is
    // taken from the viewer only when it was made after the last one taken.
    quint64 _externalViewerWatchSerial = 0;
    qint64 _externalViewerPreviewNewerThanMSecs = 0;
    // Delay of the next poll in seconds (tests read it); the D-Bus connection to ask, the
    // session bus unless a test sets another.
    double _externalViewerNextPollDelay = 5.0;
    int _externalViewerAnswerCount = 0;
    std::function<ExternalViewerState()> _externalViewerStateOverride;
    QString _externalViewerBusName;

    // Unique library IDs, lookup and navigation
    platform::Value itemWithUniqueLibraryID(const QString& uniqueLibraryID) const;
    platform::Value movieRepresentationWithUniqueLibraryID(const QString& uniqueLibraryID, const QString& inContainerWithUniqueLibraryID);
    QList<PMLibraryContainerPtr> filteredContainers() const;
    platform::ArrayPtr nonProxyFilteredMovieRepresentations() const { return _nonProxyFilteredMovieRepresentations; }
    platform::ArrayPtr nonProxyFilteredItemsForUniqueLibraryIDs(const QStringList& uniqueLibraryIDs, bool includeContainers);
    bool collectAncestors(platform::Array& ancestors, const platform::Value& ofLibraryItem, const platform::ArrayPtr& fromSiblings,
                          bool checkSearchResults, qsizetype* getIndex);
    platform::ArrayPtr ancestorsOfLibraryItem(const platform::Value& item, const platform::ArrayPtr& fromSiblings, qsizetype* getIndex);
    platform::ArrayPtr ancestorsOfLibraryItem(const platform::Value& item, qsizetype* getIndex = nullptr);
    PMLibraryContainerPtr topLevelAncestorOfItem(const platform::Value& item);
    PMLibraryContainerPtr nonVolatileAncestorOfLibraryItem(const platform::Value& item, platform::ArrayPtr* getAncestors);
    PMLibraryContainerPtr parentOfLibraryItem(const platform::Value& item, qsizetype* getIndex = nullptr);
    platform::ArrayPtr siblingsOfLibraryItem(const platform::Value& item, const platform::ArrayPtr& fromSiblings, qsizetype* getIndex,
                                             qsizetype* getSortedIndex, platform::ArrayPtr* getAncestors);
    platform::ArrayPtr siblingsOfLibraryItem(const platform::Value& item, qsizetype* getIndex = nullptr);
    platform::ArrayPtr sortedSiblingsOfLibraryItem(const platform::Value& item, qsizetype* getSortedIndex = nullptr,
                                                   platform::ArrayPtr* getAncestors = nullptr);
    platform::Value siblingOfLibraryItem(const platform::Value& item, const platform::ArrayPtr& fromSiblings, qsizetype index,
                                         qsizetype indexDelta, bool loop, const platform::Value& stopAt, bool mustBePlayable);
    platform::Value playableChildOfGroup(PMLibraryContainer& group, bool enumerateInReverse, bool useFanOutProxies,
                                         const platform::Value& excludeMovieRepresentationOriginal);
    platform::Value playableSiblingOfMovieRepresentation(const platform::Value& movie, qsizetype withSortedIndexDelta,
                                                         platform::ArrayPtr* getAncestors);
    platform::ArrayPtr nonSmartPlaylistSiblingsOfLibraryItemWithURL(const QString& URL, const platform::ArrayPtr& fromSiblings,
                                                                    platform::Value* getMovieRepresentation, qsizetype* getIndex,
                                                                    qsizetype* getSortedIndex, PMLibraryContainerPtr* getParent);

    // Last-watched list
    std::uint64_t maximumNumberOfLastWatchedMovieRepresentations() const;
    void addLastWatchedMovieRepresentation(const platform::Value& movie, const PMLibraryContainerPtr& withParent);
    platform::ArrayPtr lastWatchedMovieRepresentations();
    void clearLastWatchedMovieRepresentations(QObject* sender);

    // Tags: the tag types by lower-case tag name, and the tag names imported from files.
    QHash<QString, PMTagType> _tagTypes;
    QSet<QString> _importTagNames;
    // Rebuilds the tag types from every movie of the library at once.
    void invalidateTagTypes();
    QSet<QString> updateImportTagNames(bool update);
    // Tag names for completion (all of them without a prefix).
    QStringList tagNamesWithPrefix(const QString& prefix) const;
    // Whether a tag (lower-case name) has a value anywhere in the library.
    bool isRelevantTag(const QString& lowercaseTag) const;
    // Whether every value of the tag (lower-case name) is made of digits and punctuation.
    bool isNumericTag(const QString& lowercaseTag) const;
    // The tag's values for completion, the info panel or a menu of tag-value switches.
    // With movies, `getAssociatedMovieRepresentations` receives, by value, the originals
    // among them that carry it (values without carriers are left out). With a threshold
    // (not PMNotFound) the values are grouped, and empty strings separate the groups.
    QStringList valuesForTag(const QString& tag, const QString& prefix, const platform::ArrayPtr& associateMatchingMovieRepresentations,
                             std::uint64_t separationThreshold,
                             QHash<QString, platform::ArrayPtr>* getAssociatedMovieRepresentations = nullptr);
    // Enters values of an info tag entry ({"Tag", ...}) into the tag types.
    void storeValues(const QStringList& values, const platform::DictionaryPtr& forInfoTag);
    // The info panel's movies and its tag rows ({"Tag", "Value", "State", "Checked
    // Separate Values", "Unchecked Separate Values"}; the first is the tag list's row).
    platform::ArrayPtr _infoMovieRepresentations;
    platform::ArrayPtr _infoTags;
    // Sets "Value" (CSV) and "State" (0 unchanged, 1 changed, -1 changed with values
    // that only some movies carry) from the movies and the check lists.
    void determineEffectiveValueAndStateForInfoTag(const platform::DictionaryPtr& infoTag, bool* isUnambiguous);
    void setState(int state, const platform::DictionaryPtr& forInfoTag);
    // A tag-value switch: 1 checks the value, 0 unchecks it, -1 leaves it as the movies have it.
    void toggleInfoTagValue(const QString& tagName, const QString& tagValue, int state);

    // Display names from tags, and series. A series record ({"Items", "Date", "Newest",
    // "Name", "Dummy"}) is kept by its series ID prefix; the names are cached in it.
    void updateDisplayNames();
    QString tagBasedDisplayNamePattern();
    QString tagBasedDisplayNameForMovieRepresentation(PMMovieRepresentationPrototype& movie);
    QString displayNameForSeries(const platform::DictionaryPtr& series) const;
    QString displayNameForSeriesIDPrefix(const QString& prefix) const;
    QString sortNameForSeriesIDPrefix(const QString& prefix) const;
    std::optional<platform::Date> oldestDateForSeriesIDPrefix(const QString& prefix) const;
    std::optional<platform::Date> newestDateForSeriesIDPrefix(const QString& prefix) const;
    // "3 / 5" (six-per-em spaces around the slash) for the third of five members.
    QString seriesIndexDescriptionForMovieRepresentation(PMMovieRepresentationPrototype& movie, QString* getSeriesDisplayName);
    // Renumbers every series from 1 under its first member's ID; a lone member leaves it.
    void organizeSeriesIDs();
    // Lets the movie records reach tag-based names and series dates and positions.
    static void installSeriesServices();
    // Lets records that are told to go to a time be chosen through the controller, and
    // lets records reach the library folders.
    static void installChooseService();
    // Lets the movie records store their covers and previews in the image folders.
    static void installImageServices();

    // ---------------------------------------------------------------------------------
    // Library lifecycle and maintenance

    // Storages and library sections: found by role, created in their place when missing.
    PMLibraryContainerPtr storageWithName(const QString& name, const PMLibraryContainerPtr& afterStorage, bool createIfNecessary);
    PMLibraryContainerPtr sourceStorage();
    PMLibraryContainerPtr temporaryStorage();
    PMLibraryContainerPtr downloadStorage();
    PMLibraryContainerPtr conversionStorage();
    PMLibraryContainerPtr smartGroupStorage();
    PMLibraryContainerPtr sourceStorageSectionWithName(const QString& name, const PMLibraryContainerPtr& afterSection);
    PMLibraryContainerPtr pellisSourceStorageSection();
    PMLibraryContainerPtr iTunesSourceStorageSection();
    PMLibraryContainerPtr iPhotoSourceStorageSection();
    PMLibraryContainerPtr apertureSourceStorageSection();
    PMLibraryContainerPtr onlineSourceStorageSection();
    PMLibraryContainerPtr downloadsContainer();
    PMLibraryContainerPtr defaultSearchReferenceContainer();
    // The "Library" storage without creating it.
    PMLibraryContainerPtr existingSourceStorage() const;

    // The update pipeline: the one road by which library changes reach the screen.
    void updateLibraryAfterDelay(double delay, bool forceUpdateMissingStatus);
    void updateLibrary();
    void updateLibraryWithFrozenSelections();
    void updateLibraryAndInvalidateDependencies(bool invalidateDependencies, bool forceUpdateFileLocations, bool saveExpansionStateFirst);
    // After ratings changed (stars, menu, list): a rating moves no file and no item of the
    // tree, so only what reads ratings is made again (the containers' sorts and searches,
    // the smart groups, off this thread) before one refresh of the window; the library is
    // saved soon after. Before the first full update it is one.
    void updateLibraryAfterRatingChange();
    // The same at the next turn of the event loop (ratings changed together count once).
    void updateLibraryAfterRatingChangeSoon();
    // The smart groups the last full update found (they are filled again after a rating change).
    platform::Array _rebuiltSmartGroups;
    // Tests and diagnostics: called with the name of each step of an update as it runs.
    std::function<void(const QString& step)> _libraryUpdateStepObserver;
    // Set at the end of the first update; before it the source list's expansion state is
    // not stored (there is nothing on screen to store yet).
    bool _libraryWasBuiltOnce = false;
    // The window's share of an update. The library window is not there yet: until it is,
    // these keep their place in the sequence and do nothing.
    // Freezing the selections is the library window's (below).
    // The remote's on-screen list and the open chapter and button menus close: what they
    // list may be gone after the update (src/playback/PMMainController+Remote.cpp).
    void closeInterfaceForLibraryUpdate();
    void storeLibraryListExpansionState();       // with the source list (the source list's share)
    void reloadInterfaceAfterLibraryUpdate();    // source list, expansion state, interface
    // Steps of other parts of the library that are built separately; each answers or does
    // nothing until its part is present.
    // The sections of the desktop's media libraries (PMMainController+ExternalMedia.cpp).
    void invalidateExternalMediaSections();
    // ---- Smart groups (the maintenance share, PMMainController+SmartGroups.cpp)
    // Fills the group's raw children with the filtered movies that meet its criteria and
    // answers the seconds until its content changes by the passing of time, or -1 for
    // never. `currentDate` is in seconds since 1970.
    double populateSmartGroup(const PMLibraryContainerPtr& smartGroup, double currentDate);
    void expireSmartGroups();
    // The delay of the pending expiry in seconds, or -1 without one (diagnostics, tests).
    double _smartGroupExpiryDelay = -1;
    // Every update fills, subdivides and shapes the smart groups it found on the thread
    // pool, over the library as it stood; the groups keep what they show until the result
    // arrives on the main thread, which takes it over unless a newer update has started.
    void startSmartGroupPopulation(const platform::Array& smartGroups, double currentDate);
    // Waits for a pending population and takes it over now (tests, benchmarks, quitting).
    // Answers whether there was one.
    bool finishSmartGroupPopulation();
    bool isPopulatingSmartGroups() const;
    // Called on the worker as a population job begins, before it reads anything: lets a test
    // hold the job there while the main thread changes the library.
    static void setSmartGroupJobWillWorkForTesting(std::function<void()> hook);
    // Waits for a pending population and drops it.
    void cancelSmartGroupPopulation();
    struct SmartGroupPopulationJob;
    std::shared_ptr<SmartGroupPopulationJob> _smartGroupPopulationJob;
    quint64 _smartGroupPopulationGeneration = 0;
    void takeOverSmartGroupPopulation(const std::shared_ptr<SmartGroupPopulationJob>& job);
    void registerSmartGroupBuckets(PMLibraryContainer& container);
    // Called on the main thread after a population was taken over (tests, the window).
    std::function<void()> _smartGroupsDidPopulate;
    // The unit step of the relative date criteria (days, weeks, months, years). With
    // `getPreflightReplacementUnitDescription` it only tells what the step would give.
    bool changeRelativeDateCriteriaForSmartGroup(const PMLibraryContainerPtr& smartGroup, bool increaseUnits,
                                                 QString* getPreflightReplacementUnitDescription);
    // The organiser's share of an update that forces file locations: brings the library
    // folder in order.
    void organizeLibraryFolderForUpdate();
    void updateCachedFileMetadataTagsForMovieRepresentations(const platform::ArrayPtr& movies);
    // Mount and unmount: the missing state is tested again and the library updated.
    void volumeWasMountedOrUnmounted(const QString& volumePath);
    void startWatchingVolumes();
    QObject* _volumeWatcher = nullptr;
    // The blend-subgroup-previews flag and the list metrics, set by every update.
    static bool blendsSubgroupPreviews();
    struct ListMetrics {
        bool largeListFont = false;
        bool largeContentFont = false;
        double rowHeights[3] = {22, 22, 32};
    };
    static const ListMetrics& listMetrics();
    // Rebuilds the lookup tables and drops every container's caches.
    void invalidateLibraryDependencies();
    // What the file tests of one rebuild share (the volumes asked about, the folder
    // looked up last).
    struct RebuildFileTests;
    void invalidateLibraryDependencies(const platform::ArrayPtr& items, platform::Array* collectSmartGroupFolders,
                                       platform::Array* collectSmartGroups, bool inSmartGroupStorage, RebuildFileTests& fileTests);
    // The movies the walk met, read (on the workers) and their files tested, into the walk.
    void walkMovies(RebuildFileTests& fileTests);
    // The movies met by the walk of one rebuild, registered in the tables after it.
    struct WalkedMovie {
        PMMovieRepresentationOriginalPtr original;
        QString uniqueLibraryID;
        QString path;
        bool filteredIn = true;
        // The record's missing state as the walk read it.
        bool missing = false;
        bool missingVolume = false;
    };
    // What the walk of one rebuild reads once: whether files are tested, how, and the
    // "Missing Movies Mode".
    bool _testsMissingStatus = false;
    bool _useSimplifiedVolumeCache = false;
    long long _missingMoviesMode = 0;
    std::vector<WalkedMovie> _walkedMovies;
    void registerWalkedMovies(std::span<const WalkedMovie> walked);
    // The walk of the last rebuild and the tables it made (shared with the live ones until
    // somebody changes those): a walk that meets the same movies with the same IDs, paths
    // and filtering would make the same tables, which are then kept.
    std::vector<WalkedMovie> _previousWalk;
    QHash<QString, PMMovieRepresentationOriginalPtr> _builtByPath, _builtByID, _builtFilteredByID;
    // The list of shown movies the last rebuild made, and its length then: kept with the
    // tables while nobody added to it (an addition copies it first).
    platform::ArrayPtr _builtFiltered;
    qsizetype _builtFilteredCount = 0;
    bool walkMatchesPrevious() const;
    // Lets go of what the last rebuild kept (its walk, tables and tag-type sources), so that
    // the next rebuild starts afresh; called when a library replaces another.
    void forgetPreviousRebuild();
    // The series records and the list of shown movies (kept as it is when `walkUnchanged`
    // and nobody added to it), with the table of shown movies when `tablesToo`.
    void registerWalkedSeriesAndFilteredMovies(std::span<const WalkedMovie> walked, bool tablesToo, bool walkUnchanged);
    void invalidateCurrentOrMonitoredMovieRepresentationAncestors();
    bool _skipMissingStatusUpdate = false;
    // The files the load finds missing on a mounted volume (or, in a library folder that
    // moved, not at their place in it) are looked for once the window shows: the searches
    // run on a worker, so that a renamed folder or a disk that is away costs the load
    // nothing. Each record keeps its stored path (and shows as missing) until its file is
    // found; the records found are changed on the main thread a slice at a time, followed
    // by one rebuild.
    struct PendingFileSearch {
        PMMovieRepresentationOriginalPtr movie;
        QString path;
        QString relativePath;
        QByteArray bookmark;
    };
    bool _defersFileSearches = false;
    std::vector<PendingFileSearch> _pendingFileSearches;
    // At start-up the files are not tested before the window shows either: from the load
    // until the search starts, the rebuilds leave every record as it is (a record just
    // read shows as present) and note it here; the search tests them all on its worker
    // first. A load started by the user (another library chosen) is searched for at once.
    struct PendingExistenceTest {
        PMMovieRepresentationOriginalPtr movie;
        QString path;
    };
    bool _launchDefersExistenceTests = false;
    bool _defersExistenceTests = false;
    std::vector<PendingExistenceTest> _pendingExistenceTests;
    // Counts the loads, so that the answers of a search for a library since replaced are dropped.
    quint64 _fileSearchGeneration = 0;
    bool _isSearchingMissingFiles = false;
    bool _foundFilesToApply = false;
    // The folders the last search listed (tests).
    quint64 _missingFileSearchFolderReads = 0;
    // Starts the search for what the load left pending (nothing when nothing is).
    void searchForMissingFilesInBackground();
    bool isSearchingForMissingFiles() const
    {
        return _isSearchingMissingFiles || !_pendingFileSearches.empty() || !_pendingExistenceTests.empty();
    }
    // What the search learnt of one record: its file found at `newPath` (the same path
    // when it was there all along), or, with no new path, missing (its volume too, or not).
    struct FoundFile {
        PMMovieRepresentationOriginalPtr movie;
        QString oldPath;
        QString newPath;
        QByteArray bookmark;
        bool volumeMissing = false;
    };
    bool _missingFilesToShow = false;
    void applyFoundFiles(std::shared_ptr<const std::vector<FoundFile>> found, size_t from, quint64 generation);

    // ---------------------------------------------------------------------------------
    // Library lifecycle: start-up, library locations, the library index, quit

    // Start-up, in the order the application calls them.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    bool _didFinishLaunching = false;
    // Set when start-up decided that this process must end without the quit sequence
    // (a second instance, no main window); the application then quits.
    bool _shouldTerminateWithoutQuitSequence = false;
    // Tests and diagnostics: called with the name of each start-up step as it runs.
    std::function<void(const QString& step)> _startUpStepObserver;
    // The table of registered defaults, built from the settings as they are now.
    static platform::DictionaryPtr defaultSettingsTable();
    void registerDefaultSettings();
    void migrateSettings();

    // Becoming active and inactive, as the desktop reports the application's state;
    // `startObservingApplicationState` follows that state from the end of start-up on.
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    void startObservingApplicationState();
    bool _isObservingApplicationState = false;
    bool _isApplicationActive = false;
    // From the start until the window's first paint, what becoming active looks at on disk
    // (metadata of every file, new files in the library folders) waits for that paint.
    bool _awaitsFirstPaint = false;
    bool _activationWorkAfterFirstPaint = false;
    void refreshFromDiskOnActivation();
    // The remote control listens while the application is active. The device belongs to
    // playback; until it is there, the flag is the whole state and the hook (when set)
    // lets the device follow it.
    void setListeningToRemoteControl(bool listening);
    bool _isListeningToRemoteControl = false;
    std::function<void(bool listening)> _remoteControlListeningHook;
    // The search for new files in the library folders is started on becoming active
    // (`autoDetectAndIncludeNonLibraryFiles`, with the files kept in order below).

    // User scripts listed under a time key ("Pre-Startup Scripts", ...), run in order.
    void runScriptsForTimeKey(const QString& timeKey);

    // Library locations and the settings folder.
    QString libraryPath();
    void setLibraryPath(const QString& path);
    platform::DictionaryPtr libraryLocations();
    void saveLibraryLocations(const platform::DictionaryPtr& locations);
    platform::DictionaryPtr supplementaryLibraryPaths() const;
    void saveSupplementaryLibraryPaths(const platform::DictionaryPtr& paths);
    QStringList libraryPaths();
    QString libraryFolderForPath(const QString& path);
    QString libraryFolderForItem(const platform::Value& item);
    QString vintageLibrarySettingsPath();
    QString librarySettingsPath();
    // A folder of the library's settings folder, made when missing (once per library path).
    QString imageFolder(const QString& name);
    QStringList libraryDatabasePaths();
    QString coverImageDirectoryPath();
    QString posterImageDirectoryPath();
    QString standardIndexImagesDirectoryPath();
    QString temporaryStoragePathByCreatingIfNecessary(bool create);
    // The open panel that chooses a library folder, with an explanation and a folder to
    // show first (either may be empty); the empty string when cancelled. Modal.
    QString libraryPathFromOpenPanelWithExplanation(const QString& explanation, const QString& suggestedPath);
    // Tests answer that panel: the chosen folder (empty: cancelled).
    std::function<QString(const QString& explanation, const QString& suggestedPath)> _chooseLibraryPathOverride;

    // The library index: loading. Until a library was loaded there is nothing a save may
    // write over the index.
    void loadLibrary();
    // The resource "Default" of type "libraryindex" (tests may point elsewhere).
    QString defaultLibraryResourcePath() const { return _defaultLibraryResourcePath; }
    QString _defaultLibraryResourcePath = QStringLiteral(":/Default.libraryindex");
    bool _libraryIsLoaded = false;
    void populateLibraryArray(platform::Array& libraryArray, const platform::ArrayPtr& fromSavedArray, bool convertOriginalURLsToTags,
                              bool convertToCSVTags, platform::Array* extractSmartGroups, int depth = 0);
    // The keys of the per-library settings the index keeps, in the order they are saved.
    static QStringList perLibrarySettingsKeys();
    // Whether a value read from an index may be stored under a per-library settings key.
    static bool isAcceptablePerLibrarySetting(const QString& key, const platform::Value& value);
    // The index is applied through this when loading (only the per-library keys, checked).
    void applyPerLibrarySettings(const platform::DictionaryPtr& settings);

    // The library index: saving. Answers NO when nothing was written.
    bool saveLibraryAndCleanUpImagesIfAppropriate(bool cleanUp);
    bool saveLibrary();
    // One coalesced save, 10 seconds after the last request.
    void saveLibrarySoon();
    void populateSaveArray(platform::Array& saveArray, const platform::ArrayPtr& fromLibraryArray, QStringList* collectMovieRepresentationIDs);
    platform::DictionaryPtr perLibrarySettings() const;
    bool _cleanUpCachedImages = false;
    // The error of the last save that failed, and whether that save leaves the alert to
    // its caller (the quit offers to try again instead).
    QString _lastSaveError;
    bool _callerReportsSaveFailure = false;
    // Counts the index writes (tests, the log).
    int _numberOfLibrarySaves = 0;
    // Writes the library beside the index under a name of its own ("<index>.unsaved-<date>"),
    // or into the user's cache folder when the library's folder takes nothing; answers
    // the copy's path, empty when neither could be written.
    QString saveLibraryEmergencyCopy();

    // Dropping and importing files. Places the given items (or, without items, records for
    // the URLs that the library's own movie section does not hold yet) into the siblings at
    // the index (-1 appends); every occurrence of the URLs' files leaves the temporary
    // storage first. The movie records concerned are collected; answers whether there are any.
    bool addLibraryItems(const platform::ArrayPtr& libraryItems, const QList<QUrl>& withURLs, const platform::ArrayPtr& defaultSiblings,
                         qsizetype atIndex, platform::Array* collectMovieRepresentations);

    // ---------------------------------------------------------------------------------
    // Dropping and importing files: drags from the source list and the list, validation
    // and acceptance of drops on the three views, and the import they lead to.

    // Drag operations as the views pass them on (0 refuses a drop).
    enum PMDragOperation : int { PMDragOperationNone = 0, PMDragOperationCopy = 1, PMDragOperationLink = 2, PMDragOperationMove = 16 };
    // The views of the library window that take part in drags; the controller tells them
    // apart by comparing the sender with its outlets.
    enum class PMLibraryView { None, LibraryList, GroupView, GroupList };
    static constexpr PMLibraryView libraryList = PMLibraryView::LibraryList; // the source list
    static constexpr PMLibraryView groupView = PMLibraryView::GroupView;     // the grid
    static constexpr PMLibraryView groupList = PMLibraryView::GroupList;     // the list
    enum class PMTableViewDropOperation { On, Above };
    // What a view hands over with a drop: the pasteboard, and the view the drag started
    // in (None for a drag from another program).
    struct PMDraggingInfo {
        const QMimeData* draggingPasteboard = nullptr;
        PMLibraryView draggingSource = PMLibraryView::None;
    };
    // Pasteboard types beside the internal one: the draggable image view's own type (never
    // accepted from outside) and the music application's track list (a property list).
    static QString imageViewSourcePasteboardType();
    static QString trackListPasteboardType();

    // The container shown in the grid and the list, the list's items in display order and
    // the list's direction; the library window keeps them up to date.
    PMLibraryContainerPtr _groupItemsParent;
    platform::ArrayPtr _groupMovieItems = platform::Array::make();
    bool _groupListSortsDescending = false;
    // Above zero while an import (and its file transfer) runs: the search for new files in
    // the library folders waits.
    int _nonLibraryFilesCheckSuppressionLevel = 0;
    // The process-wide count of layout changes in progress; the grid leaves animating
    // window frames out of its canvas size while it is above zero.
    static long long& layoutCounter();

    // Drag sources. The list writes the items of the rows unless the drag starts in its
    // rating column; the source list writes the items it may drag.
    bool tableView(PMLibraryView tableView, const QList<qsizetype>& writeRowsWithIndexes, QMimeData& toPasteboard);
    bool outlineView(PMLibraryView outlineView, const platform::ArrayPtr& writeItems, QMimeData& toPasteboard);
    // Whether the items may be dragged or deleted; what a deletion would do comes out.
    bool canDragOrDeleteItems(const platform::ArrayPtr& items, bool* byRemovingFromLibrary, bool* orBlacklisting);

    // Rules
    int externalDragOperation();
    bool shouldDragExternalItemsWithTypes(const QStringList& types, const PMLibraryContainerPtr& toProposedParent);
    int operationForDraggingLibraryItems(const platform::ArrayPtr& items, const PMLibraryContainerPtr& toProposedParent, qsizetype atProposedChildIndex,
                                         PMLibraryView inOutlineView, PMLibraryContainerPtr* createPlaylist);
    static qsizetype dropIndexInRawArray(const platform::ArrayPtr& rawArray, qsizetype forIndex, const platform::ArrayPtr& inFilteredArray);

    // Validation answers the operation (0 refuses) and changes nothing in the library;
    // the list and the source list may retarget the drop through the in/out parameters.
    int validateGroupViewDrop(const PMDraggingInfo& info);
    int tableView(PMLibraryView tableView, const PMDraggingInfo& validateDrop, qsizetype* proposedRow, PMTableViewDropOperation* proposedDropOperation);
    int outlineView(PMLibraryView outlineView, const PMDraggingInfo& validateDrop, PMLibraryContainerPtr* proposedItem, qsizetype* proposedChildIndex);
    // Acceptance
    bool acceptGroupViewDrop(const PMDraggingInfo& info);
    bool tableView(PMLibraryView tableView, const PMDraggingInfo& acceptDrop, qsizetype row, PMTableViewDropOperation dropOperation);
    bool outlineView(PMLibraryView outlineView, const PMDraggingInfo& acceptDrop, const PMLibraryContainerPtr& item, qsizetype childIndex);

    // The import: file URLs (the Open panel's "Add") or a drop, at the raw index of the
    // siblings (-1 appends), which are the parent's raw children or `_library`.
    bool dropFileURLs(const QList<QUrl>& fileURLs, const PMDraggingInfo* orDraggedItems, qsizetype atIndex, const platform::ArrayPtr& ofSiblings,
                      const PMLibraryContainerPtr& parent, bool dropOnParent);
    // The two kinds of import: files from outside (new records placed, what is to be moved
    // into the library folder added to `transfer`), and library items moved or listed.
    // Each answers whether the library changed.
    bool importExternalFiles(const QList<QUrl>& fileURLs, const QMimeData* pasteboard, qsizetype atIndex, const platform::ArrayPtr& ofSiblings,
                             const PMLibraryContainerPtr& parent, platform::Array& transfer, platform::ArrayPtr* getDropped);
    bool importLibraryItems(const platform::ArrayPtr& items, qsizetype atIndex, const platform::ArrayPtr& ofSiblings,
                            const PMLibraryContainerPtr& parent, bool dropOnParent, platform::Array& transfer);
    // The distinct movies of the items (containers walked into), unique by original, in the
    // order met; with paths, only movies whose files exist at or below one of them.
    platform::ArrayPtr uniqueMovieRepresentationsFromItems(const platform::ArrayPtr& items, const QStringList& restrictToPaths, bool sort,
                                                           bool orIncludeHiddenMovieRepresentations, bool includeProxies);

    // The organiser: moves files inside the library folders to their organised place
    // (organize), moves or copies files from outside into them (move, copy), or only
    // collects the records it would touch (preflightCollection). Items nil: the library's
    // own movie section and the temporary storage. Answers whether a file was moved or copied.
    struct FileLocationsRequest {
        platform::ArrayPtr items;
        platform::ArrayPtr ancestors; // the containers above the items, innermost first (nil: looked up)
        bool includeMovingFiles = false;
        bool organize = false;
        bool move = false;
        bool copy = false;
        platform::Array* preflightCollection = nullptr;
        QString showProgress; // the progress text (format with the file number, count and name)
        std::optional<platform::Date> startDate;
        bool runTwice = false;
    };
    bool updateFileLocations(const FileLocationsRequest& request);
    // The scheduled transfer of an import: runs the organiser over the records, then ends
    // the import.
    void transferFilesToLibraryFolder(const platform::ArrayPtr& records, bool copy, const platform::ArrayPtr& dropped, bool organize);
    // The end of every import that changed something: the organiser, the library update
    // and the window.
    void finishImport(const platform::ArrayPtr& dropped, bool organize);
    bool liesBelowContainer(const platform::Value& item, const PMLibraryContainerPtr& container);
    // The "Location" URLs of a dropped track list (a property list from another program).
    static QList<QUrl> trackListLocations(const QByteArray& propertyList);

    // The library window's share of a drag. The source list's members ask the source list
    // (src/ui/library_window/PMMainController+SourceList.cpp) and work without it; the
    // others can be steered through their hooks until their part of the window plugs in.
    void showSidebarWhileDragging();
    void setDraggingDestinationDropOnRow(qsizetype row);
    qsizetype _draggingDestinationDropOnRow = -1;
    platform::ArrayPtr outlineViewChildrenOfContainer(const PMLibraryContainerPtr& container);
    bool outlineViewShowMovieChildrenOfContainer(const PMLibraryContainerPtr& container);
    platform::ArrayPtr visibleTopLevelLibraryItems();
    qsizetype libraryListRowForItem(const platform::Value& item); // -1: no row
    // Selects the item's row (unless it is selected) and edits its name.
    void editNameOfLibraryItem(const platform::Value& item);
    void updateButtons();
    // Redraws `playerView` (declared with the opening of files) after an import.
    void redrawPlayerView();
    void showProgressSheet(bool cancellable);
    void hideProgressSheet();
    bool _progressSheetIsVisible = false;
    struct DropWindowHooks {
        std::function<void()> showSidebarWhileDragging;
        // The column of the mouse event that starts a drag in the list.
        std::function<QString()> groupListColumnOfCurrentEvent;
        std::function<void()> updateButtons;
        std::function<void()> redrawPlayerView;
        std::function<void()> reloadGroupList;
        std::function<void(bool show)> progressSheet;
    };
    DropWindowHooks _dropWindow;
    // Tests: forgets the drop state and the window hooks.
    void resetDropStateForTesting();

    // Opening files and URLs

    // Plays a playback URL, changes to the library a path names, or adds the files (or web
    // URLs) to the temporary storage and chooses the first one.
    void openURLs(const QList<QUrl>& urls, const QStringList& paths);
    // The library folder a path names: nothing when the path is no library file; the
    // empty text when it is one but names no usable folder.
    static std::optional<QString> libraryLocationFromPath(const QString& path);
    // A URL handed over from outside (the URL scripting command, the scheme handler).
    void handleURLString(const QString& string);
    // Requests from the command line or another copy of the program: file paths and URLs.
    // Those of another process are checked harder (see the definition). Executed once
    // start-up has finished.
    void openRequests(const QStringList& requests, bool fromOtherProcess);
    // What this copy was asked to open on its command line; a second copy hands them to
    // the first one before it ends.
    QStringList _openRequestsFromCommandLine;
    bool handOpenRequestsToRunningInstance(const QStringList& requests);
    // Makes the scripting commands reachable on the session bus (no bus: nothing).
    bool registerScriptingInterface();
    // Playback URLs ("pellis://play/<parent>/<movie>/<seconds>") and Markdown links.
    void copyPlaybackURLViaMenuItem(int menuItemTag);
    bool chooseMovieRepresentationFromPlaybackURL(const QUrl& url);
    static QString playbackURLString(const QString& host, const QString& parentID, const QString& movieID, long long seconds);
    // The focus: the movie in a player window in front, else the selected containers.
    platform::Value focusCurrentMovieRepresentationAtTimestamp(long long* getTimestamp);
    bool currentMovieRepresentationHasRelevantDuration();
    QString currentFocus();
    void restoreFocus(const QString& focus);
    // The Open URL window (interface file "URL": a text view, OK and Cancel).
    void openURL(QObject* sender);
    void openURLOK(QObject* sender);
    void openURLCancel(QObject* sender);
    QPointer<QWidget> openURLPanel;
    QPointer<QWidget> openURLTextView; // a QPlainTextEdit
    // The builder of the interface file "URL".
    static QWidget* makeOpenURLPanel(QObject* owner);
    // The Open (tag 0) and Add (tag 1) panels.
    void openFile(int senderTag);
    bool panel(QObject* /*panel*/, const QString& /*shouldShowFilename*/) const { return true; }
    // Files chosen with "Add" go into the downloads container; the drop handler does it.
    std::function<bool(const QList<QUrl>& urls)> _dropFileURLsForAdd;
    // Tests answer the Open panel: the chosen URLs (empty: cancelled).
    std::function<QList<QUrl>(const QString& title)> _chooseFilesOverride;
    void help(QObject* sender);
    // A page of the help book at a fragment; with force, an open window shows it too.
    bool openHelpPage(const QString& page, const QString& fragment, bool force);
    // Whether the help book with its first page can be found.
    static bool helpIsAvailable();
    void news(QObject* /*sender*/) {}
    void chooseMovieRepresentationFromMenuItem(const platform::Value& representedObject, int menuItemTag);
    // Continues with the movie that playback set when the current one ended.
    void chooseNextMovieRepresentation();
    platform::Value _nextMovieRepresentation;

    // Playback and the library window as the above sees them. Until those parts are there
    // the defaults below stand in; each hook lets them (and tests) take over.
    std::function<bool(const platform::Value& movie, bool withDefaultApplication, bool changeSelection, bool startPlaying,
                       bool byContinuing)>
        _chooseMovieRepresentationHandler;
    // Without a handler the movie simply becomes the current one.
    bool chooseMovieRepresentation(const platform::Value& movie, bool withDefaultApplication, bool changeSelection, bool startPlaying,
                                   bool byContinuing);
    // Selecting is the library window's (below); without the window the selected items
    // of the source list are kept here.
    platform::ArrayPtr _selectedLibraryItems = platform::Array::make();
    void showMainWindowIfNotVisible();
    void bringMainWindowToFront();
    QWidget* mainWindow() const;
    // The play/pause controls and the time display.
    std::function<void()> _updatePlaybackControls;
    // The movies the info panel's commands act on.
    platform::ArrayPtr cachedInfoMovieRepresentationsSorted(bool sorted);
    // The index image window's view, made with its window on first use and kept
    // (src/images/PMMainController+IndexImage.cpp).
    PMIndexImageView* indexImageWell = nullptr;
    // Opens the index image window for the menu item's record, else the only selected one.
    void generateIndexImage(QObject* sender);
    // The view movies play in (its window is the player's window), whether it holds a
    // movie player and the player's time; the time slider's position and length.
    QPointer<QWidget> playerView;
    bool _playerViewHasMoviePlayer = false;
    double _playerCurrentTime = 0;
    struct TimeSlider {
        double currentTime = 0;
        double duration = 0;
    } timeSlider;
    // The application's windows, front to back.
    std::function<QList<QWidget*>()> _orderedWindowsOverride;
    QList<QWidget*> orderedWindows() const;
    // Changes to another library folder: saves this one, loads the other, updates.
    bool setLibraryLocation(const QString& path);

    // Quit: answers whether the application may end now; runs the quit sequence first.
    bool applicationShouldTerminate();
    // The quit sequence once for the program's end, whoever asks (the menu, a closing window,
    // the session, a restart): once it has allowed the quit, later askers get that answer
    // instead of a second save and a second run of the scripts.
    bool approveTermination();
    bool _terminationApproved = false;
    bool _approvingTermination = false;
    // Set when the quit was asked for by the session or a signal, not by the user: nobody
    // may be there to answer an alert.
    bool _quitRequestedBySession = false;
    // Tests and diagnostics: called with the name of each quit step as it runs.
    std::function<void(const QString& step)> _quitStepObserver;
    // The player's share of the quit: the current movie remembers its position. The
    // player installs it; without a player nothing plays and there is nothing to keep.
    std::function<void()> _saveCurrentPlaybackPositionHook;
    // Removes every automatically converted movie (at load and at quit).
    void purgeAutoConvertedMovies();
    // The bulleted list of item names that confirmations show (at most 10 lines).
    QString namesListForItems(const platform::ArrayPtr& items, bool sort) { return namesListForItems(items, {}, sort, false, {}); }
    // The main window built from the "MainWindow" interface file.
    QPointer<QWidget> _mainWindow;
    int _numberOfRemainingItemsMovingToLibraryFolder = 0;

    // ---------------------------------------------------------------------------------
    // Playback: choosing and playing the current movie, the end of playback, the transport
    // (src/playback/PMMainController+Playback*.cpp)

    // Puts the player's real calls into the hooks above (launch does it, tests may).
    void installPlayback();
    // The playback part (src/playback/PMPlaybackController.cpp), made on first use. What it
    // asks of the window layer goes out as its signals; the window layer connects them to
    // the operations here (src/ui/library_window/PMMainController+PlaybackWiring.cpp),
    // once, before anything plays (main() and the test main do it).
    class PMPlaybackController& playbackController();
    void connectPlaybackController();
private:
    class PMPlaybackController* _playbackController = nullptr;
    bool _playbackControllerIsConnected = false;
public:
    // Makes the item the current movie and brings it to the player; false when nothing
    // was opened. The choice hook leads here.
    bool choosePlaybackMovieRepresentation(const platform::Value& movie, bool withDefaultApplication, bool changeSelection, bool startPlaying,
                                           bool byContinuing);
    void playerItemStatusDidChange();
    void convertAnimatedImageInBackground(const platform::Value& movie);
    void enableCurrentMoviePlaybackAndRestorePlaybackPosition(bool movieChanged);
    void showMovieReplacingImage();
    void incrementCounterForMovieRepresentation(const platform::Value& movie, bool updateCounterDisplay);
    void updateDuration(qint64 seconds, const QString& assetSizeDescription, const QString& forMovieRepresentationWithUniqueLibraryID);
    void clearMoviePlayer();
    void chooseNoMovie();
    void chooseNoMovieIfMovieRepresentationsContainCurrent(const platform::ArrayPtr& items);
    void chooseGroup(const PMLibraryContainerPtr& container);
    void chooseGroupFromMenuItem(const platform::Value& representedObject) { chooseGroup(PMContainerPtr(representedObject)); }
    // The current movie remembers where it stands (switching movies, closing, quitting).
    void saveCurrentPlaybackPosition();
    // Opens the item in the application the desktop names for its file; refuses files that
    // could run. Answers whether it was handed over.
    bool openWithDefaultApplication(const platform::Value& movie, bool requestConfirmation, bool startPlaying);
    // Tests: where the default application would be started (the program and arguments).
    std::function<bool(const QString& program, const QStringList& arguments)> _startApplicationOverride;
    // The interface refresh of the library window (+InterfaceRefresh.cpp); the hook is an
    // observer that tests and benchmarks set, told at the end of every refresh that was
    // asked for (not of the one its restored selection runs inside it).
    void updateUserInterface();
    std::function<void()> _updateUserInterfaceHook;
    int _userInterfaceRefreshDepth = 0;
    // How many interface refreshes and status updates ran (tests count them).
    int _userInterfaceRefreshCount = 0;
    int _statusFieldsUpdateCount = 0;
    // Presentation mode's share (its window comes with the player windows).
    void togglePresentation();
    // A double click on the picture (`clickCount` 2, 3 for a triple click): while presenting
    // it alternates fitting and filling the screen, a triple click leaves; otherwise it
    // presents, or ends the movie with "Double-Click Returns To Library".
    void togglePresentationFromPicture(int clickCount);
    bool canTogglePresentation();
    // Stores "Presentation Mode" (1 fills the screen, any other value fits the picture).
    void setPresentationMode(int mode, QObject* sender);
    // The scale commands: a preset (percent), the next half step up or down.
    void setScale(int percent);
    void increaseScale();
    void decreaseScale();
    void selectCurrentMagnificationMenuItem();
    QString _currentScaleTitle;   // the "Current Size" entry's title, also without a menu
    void toggleStayInFront();
    platform::Value _presentationEndingMovieRepresentation;

    // The remote control and its on-screen list (src/playback/PMMainController+Remote.cpp).
    // Every button event of the remote (codes of PMRemoteButton) arrives here.
    void remoteButton(int code, bool pressedDown, unsigned clickCount);
    void showRemoteInterface();
    void toggleRemoteControlInterface(QObject* sender);
    platform::ArrayPtr remoteInterfaceItems(const platform::ArrayPtr& siblings, const platform::Value& forParent);
    // One step each; called with the controller as `object` they repeat every 0.1 s (else
    // after 0.4 s) until the button's release cancels them.
    void remoteInterfacePlus(QObject* object);
    void remoteInterfaceMinus(QObject* object);
    void remoteInterfaceRight(QObject* object);
    void remoteInterfaceLeft(QObject* object);
    bool remoteInterfaceSelectChild();
    bool remoteInterfaceSelectParent();
    void remoteInterfaceEscape();
    void remoteInterfaceEnter();
    // Cancels the pending repeats of plus, minus, right and left (a release that never comes:
    // listening stopped, or the device went).
    void cancelRemoteInterfaceRepeats();
    // Makes the remote (input devices, or none) and its filter; started and stopped with
    // the listening of the remote.
    void installRemoteControl();
    std::shared_ptr<void> _remoteControl;
    bool _isPresenting = false;
    bool _startPresentingWhenReady = false;

    // The state of the current movie.
    bool _currentMovieHasAudio = false;
    bool _currentMovieHasVideo = false;
    bool _currentMovieIsContinuing = false;
    bool _currentMovieIsPlayable = false;
    bool _currentMovieShouldAutoplay = false;
    bool _currentMovieShouldActivateApplication = false;
    // The start of a run of winding steps (seconds of a steady clock), none outside a run.
    std::optional<double> _lastWindDate;
    // What the movie view shows: the player of the current movie or a still image, turned
    // and mirrored as the record says (the view itself comes with the player windows).
    std::shared_ptr<PMPlayerViewContent> _playerViewContent;
    PMPlayerViewContent& playerViewContent();

    // The end of playback and the playlist.
    void moviePlayerDidStop();
    bool shouldContinueAfterMovieRepresentation(const platform::Value& movie);
    void walkPlaylistWithSortedIndexDelta(qsizetype delta);
    void forwardPlaylist() { walkPlaylistWithSortedIndexDelta(1); }
    void backwardPlaylist() { walkPlaylistWithSortedIndexDelta(-1); }
    void clearPlaylist();

    // The transport.
    bool isPlayingMovie();
    bool isPlaying();
    void play();
    void playMovieAtRate(float rate);
    void pause();
    void playPause() { isPlaying() ? pause() : play(); }
    void playReverse();
    void playAtDoubleSpeed();
    void updateTimeDisplay(QObject* sender);
    void timeSlide(double seconds, bool mouseUp);
    // The time slider's time: setting it seeks the player.
    void setTimeSliderCurrentTimeValue(double seconds);
    float volume();
    void setVolume(float volume, bool adjustSlider, bool adjustPreference);
    void changeVolume(float sliderValue);
    void increaseVolume();
    void decreaseVolume();
    void mute();
    // Stand-ins of the volume slider, the mute menu item and the mute state's picture
    // until the playback controls are there.
    struct VolumeSlider {
        double value = 1.0;
    } volumeSlider;
    struct MuteMenuItem {
        bool state = false;
    } muteMenuItem;
    struct VolumeSliderMuteView {
        QString imageName;
    } volumeSliderMuteView;
    std::int64_t stepInterval();
    void windForward(bool forward, bool bySingleFrame, bool orAdjustRate);
    void windForward() { windForward(true, false, false); }
    void windBackward() { windForward(false, false, false); }
    // What the time display shows; it is redrawn only when this text changes.
    QString _timeDisplayText;
    int _timeDisplayRepaints = 0;
    bool _timeDisplayIsScheduled = false;
    // The playback controls' share: shown, and whether they are visible now.
    std::function<void(bool fadeIn)> _showPlaybackControlsHook;
    bool _playbackControlsAreVisible = false;
    void showPlaybackControlsByFadingIn(bool fadeIn);
    // Tests: forgets the current movie, its player and the transport state.
    void resetPlaybackForTesting();
    // The player windows (src/playback/PMMainController+PlayerWindows.cpp): the dedicated
    // player window with the movie view and the controls band, put in place of the
    // defaults above; `_playerControlsDidChange` tells the controls to follow.
    void installPlayerWindows();
    std::function<void()> _playerControlsDidChange;
    std::function<void(bool presenting)> _presentationDidChange;
    QPointer<QWidget> _dedicatedPlayerWindow;

    // Player window management (the same file): where the movie view sits (the main
    // window's player container, the dedicated player window or the presentation window),
    // the controls band or the hovering controls, titles, the aspect-ratio lock, zooming and
    // live resizing with the lock, and closing the windows.
    // The main window's player container: the one the window names here, else the first
    // `PMPlayerContainerView` inside the main window.
    QPointer<QWidget> _mainWindowPlayerContainer;
    QWidget* mainWindowPlayerContainer() const;
    // The interface refresh's first step: the player goes to the dedicated window, to the
    // main window or stays where it is, and the answer tells whether the main window shows
    // the player and whether the container content is to be computed.
    struct PlayerPlacement {
        bool showsPlayer = false;
        bool computesGroupContent = true;
    };
    PlayerPlacement updatePlayerPlacement();
    // The window that holds the movie view (none while it is in no window).
    QWidget* playerWindow() const;
    bool playerIsInMainWindow() const;
    void updatePlayerViewFrame();
    void updatePlayerWindowFrameAfterForcingPresentation(bool force);
    void updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(bool keep);
    void updatePlaybackControlVisibility();
    void hidePlaybackControlWindow();
    // Pointer movement over the player (its place on the screen; none: no event): the
    // hovering controls come back as "Hover Playback Controls Priority" allows.
    bool showWindowChromeAndPlaybackControlsByFadingIn(bool fade, const QPoint* forEventAtGlobalPoint);
    void updatePresentationSwitch();
    void updateAspectRatioLockSwitchPosition();
    void updateWindowTitles();
    QString alternateSliderMinimumMessage();
    QString alternateSliderMaximumMessage();
    int mainWindowDarkness();
    bool hasBlackInterface() { return mainWindowDarkness() > 2; }
    // The library window hides its title bar (its header strip stands in): set by the window.
    bool _mainWindowHidesTitlebar = false;
    bool isAspectRatioLocked() const { return _isAspectRatioLocked; }
    void setAspectRatioLocked(bool locked);
    void toggleAspectRatioLock() { setAspectRatioLocked(!_isAspectRatioLocked); }
    void updateAspectRatioWindow();
    void closeAspectRatioWindow();
    void updatePlayerWindowZoomStatus();
    void updatePlayerWindowZoomStatusAfterDelay();
    // Zooming (maximising) the player's window: the frame that fits the movie to the
    // screen, bottom-up; other windows get the screen's visible frame.
    QRectF windowWillUseStandardFrame(QWidget* window);
    void windowDidMove(QWidget* window);
    // A live resize of a player window (main or dedicated) as the user dragged it: the
    // size it may take (the aspect-ratio lock and the floors), remembering the width.
    QSizeF windowWillResize(QWidget* window, QSizeF proposed);
    void windowDidResize(QWidget* window);
    // Whether the window may close; closing the dedicated window ends the movie instead.
    bool windowShouldClose(QWidget* window);
    // Closing the window ends the program: it is the last one shown, or the library window
    // with "Quit On Close" set (never while files are being moved into the library).
    bool closingWindowEndsProgram(QWidget* window);
    static bool isLastVisibleWindow(QWidget* window);
    // Presentation: the picture on the screen (the movie view's window's screen when none).
    void updatePresentationWindowForScreen(QScreen* screen);
    double _currentMagnification = 1.0;
    double _currentMagnificationQuantum = 1.0;
    bool _isPlayerWindowZoomed = false;
    bool _isAspectRatioLocked = false;
    // The ratio read-out (its text, while it shows); tests read it.
    QPointer<QWidget> _aspectRatioWindow;
    QString _aspectRatioText;

    // Editing what plays (src/playback/PMMainController+Editing.cpp): the time selection,
    // trims and cuts, flip and rotation, markers and chapters, cropping and the custom
    // aspect ratio.

    // Connects the player's controls and the validation hooks (the player windows do it).
    void installEditing();
    // The current movie was chosen (again): the selection of another movie goes, the
    // markers are found anew and the crop button follows the item's crop.
    void updateEditingControlsForCurrentMovie(bool movieChanged);
    // The time selection on the time slider(s): the start and end (end 0 or below: none).
    std::pair<double, double> timeSliderSelection() const;
    void setTimeSliderSelection(double start, double end);
    void setSelectionStart();
    void setSelectionEnd();
    // A sender whose tag is 1 clears the grid's selection instead.
    void clearSelection(QObject* sender);
    // 0 undo (all steps), 1 trim to the selection, 2 delete the selection.
    void applyEditingAction(int action);
    void trimToTimeRange() { applyEditingAction(1); }
    void deleteSelectedTimeRange() { applyEditingAction(2); }
    void undoEditing() { applyEditingAction(0); }
    bool insertCurrentTimestampAsTestFlight(bool test);
    void insertCurrentTimestamp() { insertCurrentTimestampAsTestFlight(false); }
    // The sliders the selection lives in (the band's and the floating controls').
    std::function<QList<PMMovieTimeSlider*>()> _timeSliders;

    void invalidateCurrentMovieRepresentationFrameImages();
    void updateForEditedCurrentMovieRepresentationImage(const platform::ImagePtr& image, const std::shared_ptr<class PMMovie>& movie,
                                                        const platform::DictionaryPtr& settings, double updatedRatio, double containerWidth);
    bool canFlipOrRotateMovieRepresentations(const platform::ArrayPtr& movies, qsizetype* getNumberOfFlippedMovieRepresentations);
    void flip(QObject* sender);
    // From the rotate button (the button as sender; the modifiers held) or a menu item.
    void rotate(QObject* sender);
    void rotateWithModifiers(QObject* sender, Qt::KeyboardModifiers modifiers);
    bool updateForCurrentMovieRepresentationRotation();
    void endRotationPreview();
    // A drag on the rotate button (nothing: the question whether it may drag).
    bool processDragEvent(QMouseEvent* event, QPointF withDelta, QObject* forOptionalMenuButton, Qt::KeyboardModifiers modifiers);
    // The controls' buttons (the floating bar's; the band's mirror them).
    QPointer<PMContextButton> rotateButton, cropButton, chaptersButton;
    // The rotate button's tag: the angle the drag preview shows (0: none).
    int _rotateButtonTag = 0;
    // Every control bar, for the buttons they all show.
    std::function<QList<QWidget*>()> _playbackControlViews;

    // The markers by whole second: {"Title"} for a tag mark, {"Group", "Title"} for a chapter.
    using MarkerTable = std::map<qint64, platform::DictionaryPtr>;
    std::shared_ptr<MarkerTable> _currentMovieMarkersByTimestampValue;
    std::shared_ptr<MarkerTable> markersByTimeStampValueForMovieRepresentation(const platform::Value& movie);
    void invalidateChaptersMenu();
    void updateChaptersMenu();
    QMenu* populateChaptersMenu(QMenu* menu, const platform::Value& movie, bool* hasChapters);
    QPointer<QMenu> _chaptersButtonMenu;

    // The select-area tool: the rectangle chosen over the picture, in the player
    // container's coordinates (bottom-up) or in screen coordinates (bottom-up); empty when
    // cancelled.
    QRectF selectAreaInContainerCoordinates(bool inContainerCoordinates, double originalAspectRatio, bool indicateThumbnailAspectRatioByDefault,
                                            const platform::DictionaryPtr& initialArea);
    void cropMovie(QObject* sender);
    bool setCustomAspectRatioEnabled(bool enabled, const platform::Value& withRatio);
    void changeAspectRatio(QObject* sender);
    void updateCropButton(bool on, bool active);
    // The last applied crop (player-container coordinates), reused with Shift.
    QRectF _lastCropRect;
    // The grid's one tile ratio (width over height) when its tiles all have one; the
    // library window installs it.
    std::function<std::optional<double>()> _fixedTileAspectRatio;
    // Tests feed the selection with events instead of the overlay's loop.
    std::function<PMSelectAreaEvent(PMSelectAreaSession&)> _selectAreaEventSource;
    std::function<Qt::KeyboardModifiers()> _keyboardModifiersOverride;
    Qt::KeyboardModifiers keyboardModifiers() const;

    // Window presentation and sizing (src/ui/library_window/PMMainController+WindowSizing.cpp).
    void showMainWindow();
    bool showPlayerWindowIfNotVisible(bool onlyWhenNotVisible);
    void showMainOrPlayerWindowIfNotVisible();
    bool isSidebarAccessible();
    void updateMainWindowMinimumSizeAndLibraryListWidthConstraints();
    void saveMainWindowSize();
    // Gives the main window's player area the stored "Custom Size" (or the default size,
    // stored) once the window has been shown and laid out: measured earlier, the area has
    // no size yet and the window would be sized from nothing.
    // The size is read before the window is built (storedMainWindowSize): building and
    // first tiling the window move its divider, which stores whatever size it has then.
    void restoreMainWindowSizeAfterFirstLayout(QSizeF size);
    // "Custom Size", or the default size (stored) where it is unusable or overridden.
    QSizeF storedMainWindowSize();
    void restoreMainWindowSize(QSizeF size);
    // Resizes the window (nil: the player's window, else the main window) so that its player
    // area gets the size, within the screen. Sizes are in points, frames bottom-up.
    void resizeWindow(QWidget* window, QSizeF size, bool isMainWindowSize);
    void resizePlayerWindowForCurrentMagnification();
    QRectF playerWindowZoomFrameWithAspectRatioLock(bool lock, bool center, bool changeMagnificationSetting);
    void fitPlayerWindowToScreen();
    // The picture's natural size (a still image's or the movie's), empty without one.
    QSizeF currentPictureNaturalSize();
    // The player area of a window (the movie view's frame when it is there, else the
    // window's player container): its size, and its bottom above the window's bottom.
    QSizeF playerAreaSizeOfWindow(QWidget* window, double* getY = nullptr);
    // When the program last resized a window itself (milliseconds since the epoch): the
    // window manager's answer to that is no user resize.
    qint64 _programmaticResizeMSecs = 0;

    // ---------------------------------------------------------------------------------
    // Keeping the files in order: deleting, the inbox and the blacklist, organising the
    // library folder, moving movies to another library folder, new files found in the
    // library folders, choosing and changing library locations.

    // Deleting. The core asks (unless told not to), moves the files of deleted movies that
    // lie inside the library folders to the Trash when the user agrees, and blacklists what
    // must not come back. With `orDetermineWhetherConfirmationIsRequired` it changes
    // nothing and only reports (YES through it) whether a question would be asked.
    bool deleteItems(const platform::ArrayPtr& items, bool* orDetermineWhetherConfirmationIsRequired, bool confirm, bool confirmTrash,
                     bool updateUI);
    bool deleteItems(const platform::ArrayPtr& items) { return deleteItems(items, nullptr, true, true, true); }
    void deleteItemsFromMenuItem(const platform::Value& representedObject);
    void deleteMovieRepresentationRegardless(const platform::Value& movie);
    bool handleSelectAllRequestFromCollectionView(PMLibraryView view);
    bool canDeleteSelectedItemsFromCollectionView(PMLibraryView view);
    bool deleteSelectedItemsFromCollectionView(PMLibraryView view);
    // The window's share of deleting: the selections of the list and the source list, the
    // select-all of the grid's or the list's tab and the preference check boxes of the three
    // questions (by default key). The images of deleted movies go through the image
    // folders' service (`removeImagesOfMovieRepresentation`).
    struct MaintenanceWindowHooks {
        std::function<platform::ArrayPtr()> accessibleSelectedLibraryItems;
        std::function<void(const QString& defaultKey, bool on)> setConfirmationSwitch;
        // The progress sheet's text and bar, and whether its Cancel button was pressed.
        std::function<void(const QString& text, int percent)> progressUpdate;
        std::function<bool()> progressCancelPressed;
        // The inbox popover: shown with its items, closed; the selected inbox items.
        std::function<bool(const platform::ArrayPtr& proxies)> showInboxPopover;
        std::function<void()> closeInboxPopover;
        std::function<platform::ArrayPtr()> selectedInboxItems;
        std::function<bool()> isRunningModal;
    };
    MaintenanceWindowHooks _maintenanceWindow;

    // The inbox and the blacklist.
    platform::ArrayPtr inboxMovieRepresentationsSorted(bool sorted);
    void showInbox();
    qsizetype numberOfSelectedInboxItems();
    bool destroyInbox();
    platform::ArrayPtr _inboxItems; // the proxies the open inbox shows; nil while closed
    // The blacklist sheet's text, and what OK stores from it.
    QString blacklistText() const;
    void blacklistOK(const QString& text);
    void addBlacklistPaths(const QStringList& paths);
    // The blacklist sheet (interface "Blacklist"): a text of one pattern a line, OK and Cancel.
    void showBlacklist();
    void blacklistCancel();
    void updateBlacklistAttributes();
    QPointer<QWidget> blacklistSheet;
    QPointer<QWidget> blacklistField; // a QPlainTextEdit

    // Organising the library folder.
    bool organizeLibraryFiles();
    void organizeLibraryFilesCommand();
    void moveAllToLibraryFolder() { transferAllToLibraryFolder(false); }
    void copyAllToLibraryFolder() { transferAllToLibraryFolder(true); }
    // Moves (or copies) every movie outside the library folders into them after asking; NO
    // when the user declined.
    bool transferAllToLibraryFolder(bool copy);
    bool deleteFolder(const QString& folder, const QStringList& ifEmptyAndSubfolderOfFolders);
    bool deleteFolder(const QString& folder, const QString& ifEmptyAndSubfolderOfFolder);
    QString namesListForItems(const platform::ArrayPtr& items, const QStringList& files, bool sort, bool listReadablePaths,
                              const QString& relativeToPath);
    void decrementLongTermNumberOfDownloads() { --_longTermNumberOfDownloads; }
    void decrementLongTermNumberOfConversions() { --_longTermNumberOfConversions; }
    void invalidateLongTermNumberOfDownloads() { _longTermNumberOfDownloads = 0; }
    void invalidateLongTermNumberOfConversions() { _longTermNumberOfConversions = 0; }
    // The files the last organiser run could not move or copy (paths), for its report.
    QStringList _filesThatStayed;

    // Moving movies to another library folder, one file after another in the background.
    struct MoveToLibraryFolderTarget {
        QString title;  // the folder's readable path
        QString folder;
        platform::ArrayPtr items; // the records that can move (shared by all targets)
    };
    // The targets of the "Move to Library Folder" submenu (empty: no submenu); while a move
    // runs, one target without folder that stops it ("Stop Moving Files").
    QList<MoveToLibraryFolderTarget> moveToLibraryFolderTargetsForMovieRepresentations(const platform::ArrayPtr& movies);
    void addMoveToLibraryFolderSubmenuForMovieRepresentations(const platform::ArrayPtr& movies, QMenu* toMenu);
    void moveToLibraryFolder(const QString& folder, const platform::ArrayPtr& items);
    void stopMovingToLibraryFolder() { _stopMovingToLibraryFolder = true; }
    bool _stopMovingToLibraryFolder = false;
    // Tests: called on the background thread before each file of a move.
    std::function<void(const QString& path)> _willMoveFileToLibraryFolder;

    // New files in the library folders.
    void autoDetectAndIncludeNonLibraryFiles();
    // The search for non-library files as a job for any thread (nothing is stored).
    std::function<QStringList()> nonLibraryFilesSearch(bool allVolumes);
    // With a handler the search runs in the background and answers nothing.
    QStringList nonLibraryFilesFromAllVolumes(bool allVolumes, std::function<void(const QStringList& paths)> handler);
    void includeNonLibraryFiles(const QStringList& paths, bool askForPermission);
    void includeNonLibraryFilesFromMenuItem(const QStringList& paths, int menuItemTag);
    // How many searches were started (diagnostics, tests).
    int _numberOfNonLibraryFileSearches = 0;

    // Choosing and changing library locations (the folder panel is with the locations above).
    // A menu item's path (empty: the open panel), its state and tag.
    void changeLibraryLocation(const QString& path, bool menuItemIsOn, int menuItemTag);
    void addSupplementaryLibraryLocation();
    void locateSupplementaryLibraryLocation(const QString& expandedPath);
    void deleteSupplementaryLibraryLocation(const QString& readablePath);

    // ---------------------------------------------------------------------------------
    // Names and batches: meta references, batch rename, merging duplicates and sequences,
    // the metadata CSV export (src/library/maintenance/PMMainController+Names.cpp and beside)

    // A text with meta references decoded for one movie (the text itself without a movie
    // or for an empty text). `defaultImport`: the lower-case name of a tag whose value comes
    // from the movie's imported metadata only. Tags named in `decodedLowercaseTagNames` are
    // not used again, and the ones used are added to it.
    QString decodeMetaReferencesInString(const QString& string, PMMovieRepresentationPrototype* movie, const QString& defaultImport,
                                         bool useCache, bool usePrettyButBrokenCSV, qsizetype index,
                                         QSet<QString>* decodedLowercaseTagNames);
    // The decoded values of every text as one list of CSV fields, without case-insensitive
    // duplicates, in name order; empty for none.
    QStringList decodeMetaReferencesInStrings(const QStringList& strings, PMMovieRepresentationPrototype* movie,
                                              const QString& defaultImport, qsizetype index);
    struct DecodedMetaReference {
        QString result;
        QSet<QString> decodedTags;
    };
    // Decoded texts by text, then by unique library ID; the info panel empties it.
    QHash<QString, QHash<QString, DecodedMetaReference>> _infoDecodedMetaReferenceCache;
    // Only while the batch rename computes names: the info panel's rows being applied to
    // all movies (by lower-case tag name; null for none), and the panel's common prefix.
    std::optional<QHash<QString, platform::DictionaryPtr>> _infoBatchRenameInfoTagCache;
    std::optional<QString> _infoBatchRenameCachedCommonPrefix;
    // Text of files read for "text:" references, by path (read in the background, at most
    // 1 MiB, only files that decode as text; null text for one that does not). Filled by
    // the reads; `_metaReferenceTextDidLoad` is called on the main thread after each.
    QHash<QString, QString> _metaReferenceFileTexts;
    QSet<QString> _metaReferenceFileTextsLoading;
    std::function<void()> _metaReferenceTextDidLoad;

    // The batch rename of the info panel. The panel's fields as data: the panel sets them,
    // and shows the list of new names, the status and the find field's status.
    struct BatchRenameFields {
        int mode = 1; // 1 find and replace, 2 add, 3 upper, 4 lower, 5 capitalise, 6 compose, other: numbering
        bool enabled = true; // the batch rename checkbox
        QString findText, replacementText;
        bool regularExpression = false, ignoreCase = false;
        QString prefix, suffix;   // add
        QString composeText;      // compose
        QString numberingPrefix, numberingSuffix, groupIdentifier;
        bool groupIdentifierShowsPlaceholder = true;
        int startIndex = 1, incrementIndex = 0, digitsIndex = 0; // indexes of the selected menu items
    };
    BatchRenameFields _infoBatchRenameFields;
    QStringList _infoBatchRenameNewNames;
    QString _infoBatchRenameStatus;
    int _infoBatchRenameFindFieldStatus = 0; // 1 valid, -1 invalid, 0 none
    platform::Date _infoBatchRenameUpdateDate;
    bool _infoBatchRenameHasUpdated = false;
    bool _infoBatchRenameStatusIsScheduled = false;
    QHash<QString, platform::DictionaryPtr> _infoBatchRenamePseudoSeriesByID;
    bool _infoBatchRenamePseudoSeriesValid = false;
    QString decodeMetaReferencesInBatchRenamingPrefix(const QString& pattern, PMMovieRepresentationPrototype* movie, bool usePrettyButBrokenCSV,
                                                      bool preferSeriesPrefix, bool suppressSingleItemSequences, qsizetype index,
                                                      QSet<QString>* decodedLowercaseTagNames);
    qsizetype updateBatchRenameNamesAndPerformRenaming(bool performRenaming, platform::ArrayPtr getConflictingItems);
    void updateBatchRenameStatus();
    void updateBatchRenameStatusAfterDelay();
    // The info panel's OK with the batch rename on: asks about conflicts (through the one
    // alert), then renames. Answers the number of renamed movies, -1 when cancelled.
    qsizetype performBatchRename();

    // Merging duplicates and sequences; splitting sequence bundles.
    platform::ArrayPtr mergeableMovieRepresentations(const platform::ArrayPtr& items);
    platform::ArrayPtr mergeableMovieRepresentations();
    bool mergeRevenantDuplicates(const platform::ArrayPtr& revenantSets);
    bool mergeSequence(const platform::Value& representedObject);
    platform::Value splittableMovieRepresentation(const platform::ArrayPtr& items);
    platform::Value splittableMovieRepresentation();
    bool splitSequence(const platform::Value& representedObject);

    // The metadata CSV of the movies (header and one line per movie), and the command that
    // writes it where the save panel says. `_chooseExportPathOverride` answers the panel in
    // tests (empty: cancelled).
    QString metadataCSVForMovieRepresentations(const platform::ArrayPtr& movies);
    bool exportMetadataCSV(const platform::Value& representedObject);
    std::function<QString(const QString& title, const QString& proposedName)> _chooseExportPathOverride;

    // ---------------------------------------------------------------------------------
    // Auxiliary services: the state the Dock badge shows (its drawing comes with the
    // icon announcements)

    void updateApplicationIcon();
    void updateApplicationIconWithCrawlDelta(std::int64_t delta);
    void updateApplicationIconWithDownloads(const platform::ArrayPtr& downloads, const platform::ArrayPtr& conversions, double timestamp);
    std::int64_t _longTermNumberOfDownloads = 0;
    std::int64_t _longTermNumberOfConversions = 0;
    std::int64_t _numberOfCrawlers = 0;
    std::int64_t _numberOfRemainingCrawlers = 0;
    double _applicationIconUpdateTimestamp = 0; // seconds since the reference date
    double _movingToLibraryFolderFraction = 0;
    bool _isMonitoredExternalViewerReadyToContinue = false;
    // What the icon shows: the count (-1: the arrow of a waiting external viewer) and the
    // progress (-1: no bar); and how often it changed.
    std::int64_t _applicationIconBadgeCount = 0;
    double _applicationIconProgress = -1;
    int _numberOfApplicationIconRedraws = 0;
    QImage _applicationIconImage; // the icon with its badge; null while the icon is plain

    // ---------------------------------------------------------------------------------
    // Library window

private:
    // The interface refresh's steps (src/ui/library_window/PMMainController+InterfaceRefresh.cpp):
    // the shown content (which also sets the `_group...` flags below), the group shown in
    // place of the player, the list or grid filled, the header laid out.
    platform::ArrayPtr updateGroupContent(bool computesGroupContent, bool hideSubgroups, bool hideFlattenedOnly);
    void showGroupContent(const PMLibraryContainerPtr& reference, const platform::ArrayPtr& items, bool showsScopeBar, bool showsSubgroups,
                          bool modeButtonsEnabled, bool modeButtonsHidden);
    void fillGroupViews(const platform::ArrayPtr& items, bool listMode, bool showsScopeBar, bool showsSubgroups);
    void layoutGroupHeader(const PMLibraryContainerPtr& reference, bool showsSubgroups);

public:
    // The window's views that the selection, view-state, history and search code below
    // asks. The window fills them; until it does, stand-ins keep the state (see
    // PMLibraryWindowAccess.h) and the missing widgets are skipped.
    std::shared_ptr<PMLibraryListAccess> _libraryListAccess;
    std::shared_ptr<PMGroupListAccess> _groupListAccess;
    PMLibraryListAccess& libraryListAccess();
    PMGroupListAccess& groupListAccess();
    QPointer<PMGroupView> _groupView;   // the grid (tab 1)
    QPointer<QLineEdit> searchField;    // the main window's search field
    QPointer<QWidget> searchMoreButton; // fetches more results of an online search
    QPointer<PMGroupView> inboxGroupView;
    // Whether the grid is the shown group view (its tab is selected); else the list table is.
    bool isGroupViewShown() const;

    // Selection access (src/ui/library_window/PMMainController+Selections.cpp)
    platform::ArrayPtr groupListItemsForIndexSet(const QList<qsizetype>& indexes);
    platform::ArrayPtr selectedGroupListItems();
    // IDs of the group items to select (empty: none).
    void selectGroupItemsWithIDs(const QStringList& ids);
    void clearGroupItemSelection(QObject* sender);
    // Selects every item of the shown group view (grid or list table).
    void selectAllInSelectedGroupTab();
    platform::ArrayPtr libraryItemsForIndexSet(const QList<qsizetype>& indexes);
    platform::ArrayPtr selectedLibraryItems();
    platform::ArrayPtr multipleSelectionLibraryItems();
    bool canSelectSearchScope();
    bool canSearchContainers();
    bool canIntersectSearch();
    QSet<QString> selectedLibraryContainerIDs();
    PMLibraryContainerPtr selectedContainer();
    bool revealLibraryItems(const platform::ArrayPtr& items, bool select);
    bool revealLibraryItem(const platform::Value& item, bool select);
    bool selectLibraryItems(const platform::ArrayPtr& items);
    bool selectLibraryItem(const platform::Value& item);
    void addAndSelectLibraryItem(const platform::Value& item, const PMLibraryContainerPtr& toStorage, const platform::Value& withSelectedItem,
                                 bool assumeExpanded, platform::ArrayPtr* getSiblings);
    void addAndSelectLibraryItem(const platform::Value& item, const PMLibraryContainerPtr& toStorage, platform::ArrayPtr* getSiblings);
    void correctLibrarySelection();
    void selectFirstLibraryItem();
    void setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem();
    // The counts of the accepted library selection (set by `correctLibrarySelection`).
    qsizetype _numberOfSelectedLibraryContainers = 0;
    qsizetype _numberOfSelectedLibraryFiles = 0;
    // Freezing: the selections recorded so that they survive a rebuild of the library tree.
    // Freezes nest; every freeze is ended by one unfreeze or release.
    void freezeSelections();
    bool isSelectionFrozen() const { return _selectionFreezeLevel > 0; }
    void unfreezeSelections();
    void releaseFrozenSelections();
    long long _selectionFreezeLevel = 0;
    struct FrozenSelections {
        QRectF libraryRect; // the source list's visible rectangle at the outermost freeze
        platform::ArrayPtr library;
        std::optional<QStringList> group;
        bool groupViewHadFocus = false;
    } _frozenSelections;
    bool _isCorrectingLibrarySelection = false;

    // Group view state and manual order (+GroupViewState.cpp)
    QString _groupListSortColumn; // the identifier of the list column with the sort indicator
    QString _groupListPrimarySortCriterion;
    void setGroupListSortColumn(const QString& columnIdentifier);
    void toggleGroupListColumn(const QString& columnIdentifier);
    void saveRestoreOrStoreVisibleGroupViewRect(bool save, bool restore, const QRectF& rect);
    void storeVisibleGroupViewRect(const QRectF& rect) { saveRestoreOrStoreVisibleGroupViewRect(false, false, rect); }
    void restoreVisibleGroupViewRect() { saveRestoreOrStoreVisibleGroupViewRect(false, true, {}); }
    // Written at quit and when another library folder is chosen.
    void saveVisibleGroupViewRects() { saveRestoreOrStoreVisibleGroupViewRect(true, false, {}); }
    std::optional<QHash<QString, QString>> _groupViewRectStringsByID;
    std::optional<QHash<QString, QString>> _groupListRectStringsByID;
    void storeSequence(const platform::ArrayPtr& sequence, const PMLibraryContainerPtr& forSmartGroup);
    void setSortCriterionForSelectedContainer(const QString& criterion, bool descending, bool updateIfNil);
    // A sort menu item: its represented object (the criterion, or null) and tag.
    void setSortCriterionForSelectedContainerFromMenuItem(const platform::Value& representedObject, int tag);
    void toggleAutomaticDuplicateSorting(QObject* sender);
    // A rearrange menu item: "GroupListShuffle", "GroupListInvert" or a criterion, and tag.
    void rearrangeSelectedContainerFromMenuItem(const platform::Value& representedObject, int tag);
    void trimPreviewSize();
    void scrollToGroupTopOrBottom();
    // The lower limit of preview widths (the update pipeline may change it).
    static double& minimumPreviewWidth();
    // The preview size slider's limits (the slider is the window's; these stand for it).
    double _previewSizeSliderMinimum = 0;
    double _previewSizeSliderMaximum = 0;

    // Container history (+History.cpp). An entry holds the IDs of the containers selected
    // together and when the refresh recorded them (seconds of the event clock).
    struct PMContainerHistoryEntry {
        QSet<QString> IDs;
        double date = 0;
    };
    QList<PMContainerHistoryEntry> _selectedContainerHeap;    // newest first
    QList<PMContainerHistoryEntry> _selectedContainerHistory; // newest first
    // The refresh's share: the shown container becomes the first selected container, the
    // selection is recorded in the heap and the history, and the searched container is
    // found (its query shown in the search field).
    void updateGroupItemsParentAndContainerHistory();
    void recordSelectedContainerIDs(const QSet<QString>& ids, double now);
    QSet<QString> relevantContainerIDsFromHistoryItem(const PMContainerHistoryEntry& entry, QList<PMLibraryContainerPtr>* collectContainers);
    // Earlier selections, newest first, one list of containers each; null when there is
    // none; in preflight an empty list stands for "there is one".
    std::optional<QList<QList<PMLibraryContainerPtr>>> relevantSelectedContainerHistoryAsPreflightCheck(bool preflight);
    bool goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(bool preflight);
    void goBackToPreviouslySelectedContainers(QObject* sender);
    void selectHistoryContainers(const QList<PMLibraryContainerPtr>& containers);
    // The back button's menu: one item per earlier selection, titled by the containers'
    // names in the default order, joined as the multiple-selection search joins them, with
    // the first container's icon.
    void populateHistoryMenu(QMenu* menu, const QList<QList<PMLibraryContainerPtr>>& history);
    QString historyMenuTitleForContainers(QList<PMLibraryContainerPtr> containers);
    // The back button's menu of earlier selections (the main window's).
    class PMOptionalMenuButtonDelegate& backButtonMenuDelegate();

    // Interface refresh (+InterfaceRefresh.cpp): the container items of the shown content
    // in display order (the movie items are `_groupMovieItems`), the header's outlets that
    // the window fills beside the ones of the scope bar code, and what the last refresh
    // resolved.
    platform::ArrayPtr _groupSubgroupItems = platform::Array::make();
    QPointer<QWidget> groupBackButton;
    QPointer<QWidget> groupViewPreviewModeButton;
    QPointer<QWidget> smartGroupIncreaseRelativeDateCriteriaUnitsButton;
    QPointer<QWidget> smartGroupDecreaseRelativeDateCriteriaUnitsButton;
    QPointer<QWidget> smartGroupEditButton;
    QPointer<QWidget> groupStatusField; // the status line in the header, when the window has it there
    long long _effectiveDisplayMode = 10;
    bool _groupShowsScopeBar = false;
    bool _groupShowsSubgroups = true;
    bool _groupModeButtonsEnabled = false;
    bool _groupModeButtonsHidden = true;
    // The window that holds the movie view floats above others with "Stay In Front".
    void updateWindowLevels();

    // Search field, filter and grid hooks (+Search.cpp)
    PMLibraryContainerPtr _groupItemsParentOrSearchReferenceContainer;
    // The field is the main search field or the library menu's filter field.
    void updateResultsForSearchField(QLineEdit* field, bool afterDelay);
    void updateResultsForSearchField(QLineEdit* field);
    // A search or sort of the shown content compares pictures: its results grow as the
    // picture hashes arrive, so it runs again (at most every few seconds) when they do.
    bool shownContentDependsOnImageHashes();
    void imageHashDidArrive();
    QTimer* _imageHashRerunTimer = nullptr;
    // What rebuilds the library menu after its own filter field changed (the menu's).
    std::function<void()> _libraryMenuNeedsUpdate;
    // A filter menu item's represented object (a query, items, or null for the info
    // panel's movies).
    void filter(const platform::Value& representedObject);
    void searchMore(QObject* sender);
    void chooseContainer(const PMLibraryContainerPtr& container);
    QString groupPlaceholderMessage();
    bool displayAsRelatedToCurrentMovieRepresentation(const platform::Value& item);
    bool updatePreviewForMovieRepresentation(const platform::Value& movie);
    void updatePreviewByLoadingPosterImageForMovieRepresentation(const platform::Value& movie);
    // The sidebar's hiding (presentation's; until it is there, nothing happens).
    std::function<void(bool hide, bool inResponseToUserActivity, bool tileGroupView)> _hideSidebar;
    // How many searches were applied (diagnostics, tests).
    int _numberOfAppliedSearches = 0;

    // ---------------------------------------------------------------------------------
    // Library window: the scope bars' data source and delegate, the grid's view options
    // (src/ui/library_window/PMMainController+ScopeBar.cpp)

    // What answers both scope bars for the controller (their delegate).
    QuibScopeBarDelegate* scopeBarDelegate();
    // At launch, once the main window is there: the view option actions join the
    // controller's actions, the modifier keys are watched, the button bar takes its state.
    void installViewOptions();
    // Outlets the window fills: the scope bar above the grid and the library menu's filter
    // bar (both PMQuibScopeBar) and field, the preview size slider (a PMPreviewSizeSlider),
    // the list and cover mode buttons, the source list's add and delete buttons and the info
    // panel's tag delete button. The grid is the PMGroupView inside `_mainWindow`.
    QPointer<QWidget> groupScopeBar;
    QPointer<QWidget> libraryMenuFilterScopeBar;
    QPointer<QWidget> libraryMenuFilterField;
    QPointer<QWidget> previewSizeSlider;
    QPointer<QWidget> groupViewListModeButton;
    QPointer<QWidget> groupViewCoverModeButton;
    QPointer<QWidget> libraryAddButton;
    QPointer<QWidget> libraryDeleteButton;
    QPointer<QWidget> infoTagDeleteButton;
    // The scope bar's questions, answered for either bar.
    long long numberOfGroupsInScopeBar(PMQuibScopeBar* scopeBar);
    QStringList scopeBarItemIdentifiersForGroup(PMQuibScopeBar* scopeBar, long long group);
    QString scopeBarLabelForGroup(PMQuibScopeBar* scopeBar, long long group);
    long long scopeBarSelectionModeForGroup(PMQuibScopeBar* scopeBar, long long group);
    QString scopeBarTitleOfItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group);
    QIcon scopeBarImageForItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group);
    bool isMenuScopeBar(PMQuibScopeBar* scopeBar);
    bool assumeDarkModeForScopeBar(PMQuibScopeBar* scopeBar);
    void scopeBarSelectedStateChangedForItemInGroup(PMQuibScopeBar* scopeBar, bool selected, const QString& item, long long group);
    // After the grid's bar reloaded for a search of a library container: its items are
    // set from the settings, without the delegate hearing of it (the interface refresh).
    void selectGroupScopeBarItemsFromUserDefaults(PMQuibScopeBar* scopeBar);
    // The grid's view options. A slider sender changes the size or spacing; PMNullObject()
    // announces the start of a drag and no sender its end.
    void changePreviewSize(QObject* sender);
    void changePreviewSizeWithColumnsDelta(long long delta);
    void changePreviewSpacing(QObject* sender);
    // The list mode button shows the list (0), the cover mode button covers (11), any
    // other sender previews (10).
    void changeGroupViewMode(QObject* sender);
    static long long groupViewModeForSender(QObject* sender, QObject* listModeButton, QObject* coverModeButton);
    void listFontSizeDidChange();
    void accessibilityDisplayOptionsDidChange();
    // The source list's button bar: shown while forced (Control held), else as the
    // setting "Always Show Library Toolbar" says.
    void showSidebarButtons(bool force);
    void modifierFlagsChanged(Qt::KeyboardModifiers flags);
    // The modifier keys held now (tests steer them).
    std::function<Qt::KeyboardModifiers()> _currentModifierFlagsOverride;
    Qt::KeyboardModifiers currentModifierFlags() const;
    // The scope bars take the main window's darkness (0 light to 4 fully dark) once the
    // library window is installed; until then they follow their window's appearance.
    bool scopeBarsFollowMainWindowDarkness() const { return _scopeBarsFollowMainWindowDarkness; }
    void setScopeBarsFollowMainWindowDarkness(bool follow) { _scopeBarsFollowMainWindowDarkness = follow; }
private:
    bool _scopeBarsFollowMainWindowDarkness = false;

Q_SIGNALS:
    // What the view options tell the parts built elsewhere (the window layer and the menus
    // connect them; unconnected, nothing happens): a short note for the status line, the
    // preview size to trim to the grid, the library menu's filter results to redo, the
    // rotate button to update for the modifier keys held.
    void statusFeedback(const QString& text);
    void previewSizeNeedsTrim();
    void libraryMenuFilterResultsNeedUpdate();
    void updateRotateButton(Qt::KeyboardModifiers flags);

public:
    // The interface refresh on the next turn of the event loop (requests in one turn
    // collapse into one).
    void updateUserInterfaceAfterDelay();

    // ---------------------------------------------------------------------------------
    // The source list: the sidebar's data source and delegate, and its share of saving
    // (src/ui/library_window/PMMainController+SourceList.cpp)

    // The source list of the main window; it sets itself here when it is made.
    QPointer<PMMovieOutlineView> libraryListView;
    // The sections shown: the library always, any other one only with visible children.
    platform::ArrayPtr visibleTopLevelItems();
    // Children counts answer -1 for a movie record (never expanded).
    qsizetype outlineViewNumberOfChildrenOfItem(const platform::Value& item);
    platform::Value outlineViewChildOfItem(qsizetype child, const platform::Value& ofItem);
    bool outlineViewIsItemExpandable(const platform::Value& item);
    QString outlineViewObjectValueByItem(const platform::Value& item);
    bool outlineViewDisplayAsPseudoGroupItem(const platform::Value& item);
    bool outlineViewShouldShowOutlineCellForItem(const platform::Value& item);
    bool outlineViewShouldSelectItem(const platform::Value& item);
    bool outlineViewCanEditItem(const platform::Value& item);
    bool outlineViewShouldEditTableColumn(const platform::Value& item) { return outlineViewCanEditItem(item); }
    void outlineViewSetObjectValue(const QString& objectValue, const platform::Value& byItem);
    double outlineViewHeightOfRowByItem(const platform::Value& item);
    void outlineViewSelectionDidChange();
    void outlineViewWillDisplayCell(PMMovieCell& cell, const platform::Value& item);
    // The double action of the source list (the clicked row).
    void tableViewDidReceiveDoubleClickInRow(qsizetype row);
    // The context menu of the source list: for rows, or (null) for empty space. The menus
    // come with the menu commands; until then there is none.
    QMenu* contextMenuForLibraryListRowIndexes(const QList<qsizetype>* rowIndexes);
    std::function<QMenu*(const QList<qsizetype>* rowIndexes)> _contextMenuForLibraryListRowIndexes;
    // The source list's selection as the save and the start-up see it.
    platform::ArrayPtr selectedLibraryListItems();
    // The expansion state of the source list, kept under "Expanded Library Containers".
    void storeExpansionStateOfLibraryItems(const platform::ArrayPtr& items, platform::Array& inArray);
    void restoreLibraryListExpansionState();
    // The save's share: "Library Selection" and the expansion state (the list table, when
    // it is there, saves its own columns).
    void storeLibraryWindowStateForSave();

    // ---------------------------------------------------------------------------------
    // The tables: the list table of the shown container (group list) and the panels'
    // tables, whose data source and delegate the controller is. Every operation tells
    // the tables apart by comparing the table with the outlets below, in this order:
    // rename preview, info tag list, info property list, smart criteria, else the list
    // (src/ui/library_window/PMMainController+GroupList.cpp, +PanelTables.cpp).

    // The list table of the main window (it sets itself here when it is made) and the
    // panels' tables (their panels set them).
    QPointer<PMGroupTableView> groupListTable;
    QPointer<PMAutoCompleteTableView> infoBatchRenameList;
    QPointer<PMAutoCompleteTableView> infoTagTagList;
    QPointer<PMAutoCompleteTableView> infoTagPropertyList;
    QPointer<PMAutoCompleteTableView> smartPlaylistTagList;
    // The list's column set is read again from the settings at the next refresh (after a
    // change of library; the list installs it).
    std::function<void()> _invalidateGroupListTableColumns;
    qsizetype numberOfRowsInTableView(PMAutoCompleteTableView* tableView);
    platform::Value tableViewObjectValue(PMAutoCompleteTableView* tableView, const QString& forTableColumn, qsizetype row);
    double tableViewHeightOfRow(PMAutoCompleteTableView* tableView, qsizetype row);
    // Sets how the cell looks (the table filled in the selection and focus states).
    void tableViewWillDisplayCell(PMAutoCompleteTableView* tableView, PMTableCellAppearance& cell, const QString& forTableColumn, qsizetype row);
    // The items of a pop-up cell, rebuilt each time it is shown.
    void tableViewPopUpItems(PMAutoCompleteTableView* tableView, const QString& forTableColumn, qsizetype row,
                             std::vector<PMTableCellMenuItem>* items);
    QString tableViewToolTip(PMAutoCompleteTableView* tableView, const QString& forTableColumn, qsizetype row);
    // `doubleClick`: the request comes from a double click (the list then acts on the
    // row's item instead of editing).
    bool tableViewShouldEditTableColumn(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row, bool doubleClick);
    bool tableViewCanEditColumnWithIdentifier(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row, bool doubleClick);
    // Stores an edit. `tracking`: a rating set while the mouse is still down (stored
    // without the library update that ends every other edit).
    void tableViewSetObjectValue(PMAutoCompleteTableView* tableView, const platform::Value& objectValue, const QString& forTableColumn,
                                 qsizetype row, bool tracking = false);
private:
    // The edit's parts: the info panel's tag tables (a row's name, the panel for new values,
    // a row's state or value), the smart criteria, the list.
    void setInfoTagTableObjectValue(PMAutoCompleteTableView* tableView, const platform::Value& objectValue, const QString& identifier,
                                    qsizetype row);
    void renameInfoTag(PMAutoCompleteTableView* tableView, const platform::DictionaryPtr& entry, QString text, qsizetype movies,
                       int valueColumn);
    void chooseNewInfoTagValues(const platform::DictionaryPtr& entry, const platform::Value& objectValue);
    void storeInfoTagValue(PMAutoCompleteTableView* tableView, const platform::DictionaryPtr& entry, const platform::Value& objectValue,
                           const QString& identifier, qsizetype row, const QString& text, QStringList values, qsizetype movies,
                           int valueColumn);
    void setSmartCriterionTableObjectValue(PMAutoCompleteTableView* tableView, const platform::Value& objectValue, const QString& identifier,
                                           qsizetype row);
    void setGroupListObjectValue(const platform::Value& objectValue, const QString& identifier, qsizetype row, bool tracking);

public:
    bool tableViewShouldSelectRow(PMAutoCompleteTableView* tableView, qsizetype row);
    void tableViewSelectionDidChange(PMAutoCompleteTableView* tableView);
    void tableViewDidClickTableColumn(PMAutoCompleteTableView* tableView, const QString& identifier);
    void tableViewDidReceiveDoubleClickInRow(PMAutoCompleteTableView* tableView, qsizetype row);
    void doubleClickItem(const platform::Value& item);
    // After an edit that ended with Tab: edits the column of the row on the next turn of
    // the event loop (also inside a modal panel), the row selected first when asked.
    void tableViewEditColumnAfterDelayIfTabInRow(PMAutoCompleteTableView* tableView, int editColumn, qsizetype row, bool selectRowFirst);
    void delayedEditTableViewCell(PMAutoCompleteTableView* tableView, int column, qsizetype row);
    // The context menu of the list's rows (the commands build it; until then none).
    QMenu* contextMenuForGroupListRowIndexes(const QList<qsizetype>& rowIndexes);
    std::function<QMenu*(const QList<qsizetype>& rowIndexes)> _contextMenuForGroupListRowIndexes;
    // Completion of tag names and values in the tables and token fields. The control is
    // the edited table (or a token field); nothing for an empty prefix or when the only
    // completion is the prefix itself; the selected index is -1 unless "Auto-Auto-Complete".
    QStringList controlCompletionsForPrefix(QObject* control, const QString& prefix, int* indexOfSelectedItem);
    QStringList controlTextViewCompletions(QObject* control, const QString& text, int partialWordStart, int partialWordLength,
                                           int* indexOfSelectedItem);
    // The smart-playlist editor's divider tag token field (the editor sets it).
    QPointer<QObject> smartPlaylistDividerTagTokenField;

    // The panels' tables' state.
    QPointer<QWidget> infoBatchRenameSwitch; // a check box: on = the new names will be applied
    // `PMInfoTagRecord`: one editable tag row of the info panel, a dictionary ("Tag",
    // "Value", "State", "Counter", ...); the rows shown after the panel's filter.
    using PMInfoTagRecord = platform::DictionaryPtr;
    platform::ArrayPtr _filteredInfoTags = platform::Array::make();
    platform::DictionaryPtr _infoGloballyRenamedTagNames;
    platform::DictionaryPtr _infoPersistentTagNames = std::make_shared<platform::Dictionary>();
    platform::ArrayPtr _currentlyEditedSmartPlaylistTags = platform::Array::make();
    QPointer<QWidget> infoWindow;
    // ---- The smart-group editor (ui/commands/PMMainController+SmartPlaylist.cpp)
    QPointer<class PMSmartPlaylistPanel> smartPlaylistPanel;
    // The group being edited, from opening to OK or Cancel, and what runs after OK.
    PMLibraryContainerPtr _currentlyEditedSmartPlaylist;
    std::function<void()> _smartPlaylistSuccessHandler;
    void editSmartGroup(const PMLibraryContainerPtr& smartGroup, std::function<void()> successHandler);
    void smartPlaylistOK(QObject* sender);
    void smartPlaylistCancel(QObject* sender);
    void smartPlaylistTagAdd(QObject* sender);
    void smartPlaylistTagDelete(QObject* sender);
    void smartPlaylistUpdateSubdividerSettings(QObject* sender);
    void smartPlaylistUpdateContinueSwitchExplanation(QObject* sender);
    void updateSmartPlaylistMatchModeSelectorVisibility();
    void addSmartPlaylist(QObject* sender);
    void editSmartPlaylist(QObject* sender);
    void duplicateSmartPlaylist(QObject* sender);
    void changeSmartGroupRelativeDateCriteriaUnits(QObject* sender);
    void installSmartPlaylistCommands();
    QPointer<QWidget> smartPlaylistTagDeleteButton;
    QPointer<QWidget> smartPlaylistTagExplanationField;
    // The "NewTagValue" sheet: loaded when first needed.
    QPointer<QWidget> infoNewTagPanel;
    QPointer<QWidget> infoNewTagTitleField;
    QPointer<QWidget> infoNewTagTokenField;
    QPointer<QWidget> infoNewTagOKButton;
    platform::DictionaryPtr _infoNewTagEntry; // the entry the sheet adds values to
    bool loadNewTagValuePanel();
    void newTagValueOK(QObject* sender);
    void newTagValueCancel(QObject* sender);
    // Adds the values to the record: the one given (the sheet's own record), else the
    // selected row's.
    void addInfoTagValues(const QStringList& values, const platform::DictionaryPtr& toEntry = nullptr);
    void addInfoTagValueViaMenuItem(const platform::Value& representedObject);
    // The value pop-up of an info panel row, completed when it opens: "Import" with the
    // references to add, a switch per value of the row's tag, then the row's "Clear".
    // False, and the menu untouched, for any other menu.
    bool populateInfoTagValueMenu(QMenu* menu);
    // A value switch of that menu changed.
    void toggleInfoTagValueFromSwitch(QObject* sender);
    void clearInfoTagValueViaMenuItem(const platform::Value& representedObject);
    // What the info panel does after its tags changed (the panel installs them; until it
    // is there, nothing).
    std::function<void()> _updateInfoTagButtonsAvailability;
    std::function<void(bool fixAttributes)> _updateInfoTagNotesFieldAndFixAttributes;
    void updateInfoTagButtonsAvailability();
    void updateInfoTagNotesFieldAndFixAttributes(bool fixAttributes);

    // ---------------------------------------------------------------------------------
    // Interface kit: the controller as the last responder of every action chain

    // The actions the controller answers, by name ("showMovieInfo"), with what runs them;
    // the subsystems register theirs. The validator decides enabled, checked and title of
    // menu items sending them in place of the commands' validation (tests).
    QHash<QString, std::function<void(QObject* sender)>> _actions;
    std::function<bool(QAction* item)> _menuItemValidator;
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;
    bool validateMenuItem(QAction* item) override;
    // A key press in the info panel, offered before the control with the focus sees it
    // (src/ui/commands/PMMainController+InfoKeys.cpp): Space turns the selected record on,
    // Up and Down open the values of the edited row, Tab walks the value cells, Return is
    // OK. True when taken; keys of any other window are never taken. (The name is spelled
    // so: it is the operation's established name.)
    bool handlePopertyEditorKeyDown(QKeyEvent* event, QWidget* window);

    // ---------------------------------------------------------------------------------
    // Keys (src/ui/commands/PMMainController+KeyHandling.cpp): the keys that drive browsing
    // and playing, offered here before the focus widget sees them. True when taken.
    bool handleKeyDown(QKeyEvent* event, bool isRemoteInterfaceEvent);
    // The selected items of the source list while the sidebar can be used, else nil.
    platform::ArrayPtr accessibleSelectedLibraryItems();
    // The remote interface window's calls go out as the playback part's signals
    // (PMPlaybackController::remoteInterface...); until the window connects them it is
    // never visible and nothing is called.
    bool isRemoteInterfaceVisible() const;
    // Opens each movie with its own application (Shift-Return); false when one of them has
    // none installed or nothing could be started.
    bool openMovieRepresentationsWithTheirApplications(const platform::ArrayPtr& movies);
    // What Space does outside playback: the Quick Look panel when there is one, else a beep.
    void toggleQuickLookFromKeyboard();

    // ---------------------------------------------------------------------------------
    // The preview panel (src/ui/commands/PMMainController+QuickLook.cpp): a window of our
    // own showing the playable movies of the selection; the controller is its data source.
    // Opens or closes it; a sender carrying movies selects them first and opens it.
    void toggleQuickLook(QObject* sender);
    // The selection's movies that can play, in order.
    platform::ArrayPtr quickLookMovieRepresentations();
    // The selection changed: the open panel shows the new one on the next turn (once).
    void updateQuickLook();
    // Keeps the open panel at its screen's available area ("Always Zoom Quick Look").
    void zoomQuickLook();
    // Whether the context menu offers the panel for the movies, and whether they are the
    // movies the commands act on now (the item then carries none).
    bool quickLookOffersMovieRepresentations(const platform::ArrayPtr& movies);
    bool quickLookMovieRepresentationsAreCurrentItems(const platform::ArrayPtr& movies);
    // The panel's controller protocol.
    bool acceptsPreviewPanelControl(PMQuickLookPanel* panel);
    void beginPreviewPanelControl(PMQuickLookPanel* panel);
    void endPreviewPanelControl(PMQuickLookPanel* panel);
    qsizetype numberOfPreviewItemsInPreviewPanel(PMQuickLookPanel* panel);
    platform::Value previewPanel(PMQuickLookPanel* panel, qsizetype previewItemAtIndex);
    bool previewPanel(PMQuickLookPanel* panel, QKeyEvent* handleEvent);
    // What the panel shows (taken anew at each count request).
    platform::ArrayPtr _quickLookMovieRepresentations;
    bool _quickLookUpdateScheduled = false;
    std::shared_ptr<PMQuickLookPanelController> _quickLookPanelController;
    PMQuickLookPanelController* quickLookPanelController();

    // ---------------------------------------------------------------------------------
    // The movies a command acts on (src/ui/commands/PMMainController+InfoPanel.cpp).
    // `PMInfoScopeRecord`: what a menu item carries to name them, {"Movies": [...],
    // "Pool": [...] (optional)}.
    static platform::DictionaryPtr PMInfoScopeRecord(const platform::ArrayPtr& movies, const platform::ArrayPtr& pool);
    // The sender's movies (and pool): a scope record's, an array's, else the selection's.
    platform::ArrayPtr cachedInfoMovieRepresentationsSorted(bool sorted, QObject* fromRepresentingObject, platform::ArrayPtr* getPool);
    // The tag-value switches' action: one library update and a deferred save for a run of
    // toggles.
    void didTogglePropertyValue();
    // The selection's movies, kept until the main queue's next turn.
    platform::ArrayPtr _cachedInfoMovieRepresentations;
    bool _cachedInfoMovieRepresentationsAreSorted = false;
    bool _cachedInfoMovieRepresentationsDropScheduled = false;

    // ---- The info panel (src/ui/commands/PMMainController+InfoEditing.cpp): opened on the
    // movies a command acts on, applied in one go by OK or by a step to another movie.
    QPointer<class PMInfoPanel> _infoPanel;
    // The movies previous and next step through: only with one movie edited and at least
    // two movies in the pool.
    platform::ArrayPtr _infoMovieRepresentationsPool;
    // The originals of the edited movies, built when first asked for.
    platform::ArrayPtr _nonProxyInfoMovieRepresentations;
    platform::ArrayPtr nonProxyInfoMovieRepresentations();
    // Whether the panel shows the renaming view (tab 1 of the single/multiple view).
    bool infoShowsRenamingView() const;
    // Set when the user leaves the renaming chapter after the panel was prepared on it.
    bool _infoSwitchedAwayFromRenaming = false;
    // Set when the user changed the rating or its switch since the panel was prepared.
    bool _infoRatingTouched = false;
    // Opens the panel for the sender's movies, or, when it is open, switches its chapter.
    void showMovieInfo(QObject* sender);
    bool loadInfoPanel();
    void prepareInfoWithChapter(int chapter, const platform::ArrayPtr& forMovieRepresentations, const platform::ArrayPtr& pool, bool renameRegardless);
    void prepareInfoRating();
    // Applies every edit of the panel in order: tags, rating, names or renaming, pictures,
    // application; then forgets the panel's movies and updates the library.
    void absorbInfo();
    void infoStep(QObject* sender);
    void infoOK(QObject* sender);
    void infoCancel(QObject* sender);
    void infoChangeImage(QObject* sender);
    void infoChangeApplication(QObject* sender);
    void infoChangeBatchRenameAction(QObject* sender);
    void infoSelectChapter(int chapter);
    // Ends the edit in progress in the first of the controls that is editing, keeping it.
    void cleanUpCurrentEditorForControls(const QList<QWidget*>& controls);
    // The batch-rename controls into `_infoBatchRenameFields`, and the list and status
    // out of it.
    void readInfoBatchRenameFields();
    void showInfoBatchRenameResults();
    void installInfoPanelCommands();

    // ---------------------------------------------------------------------------------
    // Commands: the main menu (src/ui/commands/PMMainMenu.cpp builds it and sets these
    // outlets), the validation of every command that reaches the controller, the submenus
    // refilled as they open and the main menu's actions
    // (src/ui/commands/PMMainController+MenuValidation.cpp).

    struct MainMenuOutlets {
        QPointer<QAction> chaptersMenuItem, dedicatedPlayerWindowMenuItem, infoMenuItem, batchRenameMenuItem, playPauseMenuItem,
            currentScaleMenuItem, fullScreenMenuItem;
        QPointer<QMenu> lastWatchedMenu, ratingMenu, currentFrameMenu, findMenu, layoutMenu, experimentalViewMenu, columnMenu, sortMenu,
            rearrangeMenu, presentationModeMenu, playbackControlsModeMenu, aspectRatioMenu, libraryFolderMenu, openWithMenu;
    };
    MainMenuOutlets _mainMenu;
    // What validation reads of windows and panels that other parts own. Each answers a
    // sound default until its part installs the real call: nothing is hidden, no panel is
    // open.
    struct MenuValidationHooks {
        std::function<bool()> isSearchFieldHidden;
        std::function<bool()> isPreviewModeButtonEnabled;
        std::function<bool()> isSmartPlaylistPanelVisible;
        // The info panel's selected tab (0 information, else renaming), -1 while it is closed.
        std::function<int()> infoPanelTabIndex;
        std::function<bool()> isQuickLookPanelVisible;
        std::function<bool()> isRemoteControlInterfaceVisible;
        // The help window's text size steps when it is the main window: -1 not shown there,
        // else whether it can grow (larger) or shrink.
        std::function<int(bool larger)> helpViewCanChangeTextSize;
        // The time slider's selection (start, end; end 0 or below: none).
        std::function<std::pair<double, double>()> timeSliderSelection;
        // The columns the list table knows (identifier, header title, shown now), for its
        // columns menu; the list installs it.
        struct TableColumn {
            QString identifier;
            QString title;
            bool shown = false;
        };
        std::function<QList<TableColumn>()> groupListColumns;
        // Whether the player keeps the current movie's aspect ratio when its area changes.
        std::function<bool()> isAspectRatioLocked;
        // Whether the movies can be turned or mirrored, and how many are mirrored.
        std::function<bool(const platform::ArrayPtr& movies, qsizetype* getNumberOfFlipped)> canFlipOrRotateMovieRepresentations;
    };
    // Whether validation decides about the action itself (every command of the menus
    // does); an action it does not know is never enabled.
    static bool validationKnowsAction(const QString& action);
    MenuValidationHooks _menuValidation;
    // The one validation of the controller's commands: enabled, and the item's state,
    // title and visibility set on the way (the menu controller's table of rules).
    bool validateMainMenuItem(QAction* item);
    // The menu controller (src/ui/commands/PMMenuController.h): main-menu validation,
    // the context menus' builders and the keys; made on first use, a child of this.
    class PMMenuController& menuController();
private:
    PMMenuController* _menuController = nullptr;
public:
    // Puts the main menu's actions that are built into `_actions` (never replacing one a
    // part registered itself). Idempotent.
    void installMenuCommands();
    // The about panel and the update commands of the menu bar.
    void installServiceCommands(QMenuBar* bar);
    // Refills or re-checks a submenu of the main menu that is about to open.
    void menuNeedsUpdate(QMenu* menu);
    // The known library folders (the current one with its details) and the supplementary
    // ones, appended to a menu; the library folder submenu with the organiser's offers.
    void addLibraryLocationsToMenu(QMenu* menu, bool includeSupplementaryLocations);
    void addSupplementaryLibraryLocationsToMenu(QMenu* menu, bool includeHeader);
    void populateLibraryFolderMenu(QMenu* menu);
    // What the organiser's dry runs found for the library folder menu. They run on a
    // worker thread after each library update (and when the menu opens with no answer for
    // the library as it is); the menu shows the last answer and is refilled when a newer
    // one comes while it is open.
    struct LibraryFolderDryRunAnswer {
        bool valid = false;
        bool unorganized = false;       // files inside the library folders not where they belong
        QStringList unorganizedPaths;   // for the debug log
        QStringList nonLibraryFiles;    // files of the library folders that the library lacks
        bool outside = false;           // files of the library outside the library folders
        quint64 generation = 0;         // the library state it answers for
    };
    LibraryFolderDryRunAnswer _libraryFolderDryRun;
    quint64 _libraryFolderGeneration = 1;  // counts library updates
    // Counts changes that are saved with the library (every one asks for a save).
    quint64 _libraryEditGeneration = 0;
    // Whether the chosen movies can be merged, for the main menu's merge item: every
    // validation of the menu asks, and the answer walks every chosen movie. It holds for
    // the same movies until the library is updated or changed.
    struct MergeableSelectionAnswer {
        std::vector<platform::Value> items; // held: no other object can take their addresses
        quint64 updates = 0, edits = 0;
        bool valid = false;
        bool mergeable = false;
        bool movies = false; // a sequence of movies (else sets of duplicate references)
    };
    MergeableSelectionAnswer _mergeableSelectionAnswer;
    const MergeableSelectionAnswer& mergeableSelectionAnswer(const platform::ArrayPtr& items);
    quint64 _libraryFolderDryRunRunning = 0; // the generation being answered (0: none)
    // Starts the dry runs for the library as it is, unless they run or answered already.
    void startLibraryFolderDryRun();
    struct LibraryFolderWalk;
    std::shared_ptr<LibraryFolderWalk> _libraryFolderWalk;
    void continueLibraryFolderDryRun();
    void finishLibraryFolderDryRun(quint64 generation, const QList<std::pair<QString, QString>>& unorganized,
                                   const QList<std::pair<QString, QString>>& outside);
    // The library changed: the answer is out of date and is asked again soon.
    void libraryFolderDryRunNeedsUpdate();
    // The menu is refilled when an answer comes while it is open; the menu controller
    // then signals `libraryFolderDryRunAnswered`.

    // The library menu (src/ui/commands/PMMainController+LibraryMenu.cpp): the whole
    // library as submenus filled as they open, with its own filter field and criteria.
    QPointer<QMenu> libraryMenu;
    QPointer<QWidget> _libraryMenuFilterRow; // the filter field's row, kept for the whole run
    platform::DictionaryPtr _libraryMenuPopulator;
    // Whether the library menu is open on screen (not merely looked through).
    bool populateSlowMenusProperly();
    // Fills a menu with library items; without items, the library menu lists the library
    // or the matches of its filter text.
    void populateLibraryMenu(QMenu* menu, const platform::ArrayPtr& items);
    // Makes (item nil: appends) the menu item of one library item; NO stops the listing.
    bool updateLibraryMenuItem(QAction* item, QMenu* inMenu, const platform::Value& libraryItem, qsizetype atIndex, bool isFiltered,
                               const platform::ArrayPtr& siblings);
    void clearLibraryMenuForUpdate(bool forUpdate, int spareAtTop);
    void clearLibraryMenuForUpdate(bool forUpdate) { clearLibraryMenuForUpdate(forUpdate, 1); }
    void showLibraryItemFromMenuItem(const platform::Value& representedObject);
    void showGroupItemFromMenuItem(const platform::Value& representedObject);
    // Adds the library menu to the menu bar (before "Window").
    void installLibraryMenu(QMenuBar* bar);
    // The full-screen item goes where the placeholder stands, once.
    QPointer<QAction> fullScreenMenuItemPlaceholder;
    bool _useModernFullScreenKeyboardEquivalent = false;
    // The meta references ("<?meta:...?>") a tag's value can be made of: the embedded
    // value, the other tags, the name and its parts, the index. `exclude` is a tag name, a
    // tag record, or the info panel's tag list. A new menu "Meta" without one.
    QMenu* populateMetaReferenceMenu(QMenu* menu, QWidget* forWindow, const QString& action, QObject* target, const platform::Value& exclude);
    // The time slider's editing menu (nil without a relevant duration).
    QMenu* menuForSlider(QWidget* slider);
    // The delete item of a context menu: its title now, and a check to run off the main
    // thread that answers whether a confirmation will be asked after all.
    std::function<bool()> deleteItemsDryRunDeferringDiskWork(const platform::ArrayPtr& items, bool* confirmationRequired);
    // The sort menu (criteria, direction, inheriting; with a "Rearrange by" submenu when
    // asked) and the rearrange menu of the shown container; the movie is offered for
    // sorting by picture similarity.
    void populateSortMenu(QMenu* menu, bool addRearrangeSubmenu, const platform::Value& movieRepresentation);
    void populateRearrangeMenu(QMenu* menu, const platform::Value& movieRepresentation);
    // The aspect ratio menu of the current movie (a new menu without one): lock or define,
    // the common ratios, reset and clear. In the main menu its first item has a shortcut.
    QMenu* populateAspectRatioMenu(QMenu* menu);
    // The columns menu of the list: its known columns, the fixed ones it can add and one
    // per tag of the library, by name.
    void populateColumnMenu(QMenu* menu);
    // Whether the submenu's content can be made yet (its builder exists).
    bool canPopulateMenu(const QMenu* menu) const;
    // The movies a command acts on: those the item stands for, else the selection.
    platform::ArrayPtr infoMovieRepresentationsForMenuItem(const QAction* item);
    void toggleDebugLogging(QObject* sender);
    void toggleHoveringHeaders();
    void toggleAdjustedSizes();
    void toggleBooleanPreferenceViaMenuItem(QAction* item);
    void setUseDedicatedPlayer(bool useDedicatedPlayer);
    void setMissingMoviesModeFromMenuItem();
    void changePlaybackControlsModeViaMenuItem(int tag);
    void setPresentationModeFromMenuItem(int tag);
    void addContainer(QObject* sender);
    void setRating(QObject* sender);
    void toggleFullScreen();
    // Quit from the menu: the quit sequence, then the end of the program when it agrees.
    void terminate();
    // Asks for a time and moves the current movie there. The time is read as hours,
    // minutes and seconds ("1:02:03.5", "62:03", "3723"); nothing for any other text.
    void goToTime();
    static std::optional<double> secondsFromTimeString(const QString& text);
    // Tests answer the question instead of the user (the empty text: cancelled).
    std::function<QString(const QString& currentTime)> _goToTimeOverride;
    // The poster and index-image commands by the sender's tag, and the current frame made
    // into the poster, copied as PNG, or saved (src/ui/commands/PMMainController+ItemCommands.cpp).
    void setCustomPosterImage(QObject* sender);
    void processCurrentFrameSection(bool section, bool copy, bool save);
    // A picture of that part of the screen (the whole screen when empty); nothing when the
    // screen cannot be read.
    platform::ImagePtr screenshotWithScreenRect(const QRect& rect);
    // The visible area ({"x", "y", "w", "h"}: fractions, origin at the lower left) that the
    // area covers of the full rectangle, both top-down in screen points; null when equal.
    static platform::DictionaryPtr visibleAreaOfArea(const QRectF& area, const QRectF& full);
    // The part of the picture (showing the full rectangle) that the area covers, given the
    // ratio when one is asked for; the picture itself when there is nothing to cut.
    static platform::ImagePtr imageOfArea(const platform::ImagePtr& image, const QRectF& area, const QRectF& full, std::optional<double> aspectRatio);
    // The name a saved frame is offered under: "Name.mov (1'02'03.456)", safe as a file name.
    static QString savedFrameFilename(const QString& displayNameWithExtension, double seconds);
    // What the frame commands need of the player windows: the area the user selects in
    // the movie view (global coordinates; empty when cancelled), and the save panel of an
    // image. Without them, the commands that need them are not offered.
    struct ItemCommandHooks {
        std::function<QRect(const QRect& fullRect, bool indicateThumbnailAspectRatio)> selectArea;
        std::function<void(const platform::ImagePtr& image, const QString& suggestedFilename, QWidget* referenceWindow)> saveImage;
    };
    ItemCommandHooks _itemCommands;

    // ---------------------------------------------------------------------------------
    // Context menus (src/ui/commands/PMMainController+ContextMenus.cpp): one builder for the
    // grid's tiles, the list's rows, the sidebar's rows and the current movie. Items carry
    // what they act on. Answers the menu (a new one "Context" without one; empty when
    // nothing applies).
    QMenu* populateContextMenu(QMenu* menu, const platform::ArrayPtr& items, const platform::ArrayPtr& infoPool, const PMGroupViewTile* previewView,
                               bool addAspectRatioMenu, bool addSortAndRearrangeMenus);
    // "Index Image" for the hover frame a clicked tile shows: use it as the preview, save,
    // copy or reveal it, go to its time. Nothing while the tile shows no frame.
    void addIndexImageSubmenu(QMenu* menu, const platform::Value& movie, const PMGroupViewTile& tile);
    // Nothing without a current movie.
    QMenu* contextMenuForCurrentMovie();
    QMenu* contextMenuForGroupViewItems(const platform::ArrayPtr& items, const PMGroupViewTile* previewView);
    // The movies' common rating ticked, the others among them mixed; added under "Rating".
    QMenu* addRatingSubmenuForMovieRepresentations(const platform::ArrayPtr& movies, QMenu* toMenu);
    // Tag 1 marks every movie opened; tag 0 forgets their plays (and their history entries).
    void setWatchedFromMenuItem(QObject* sender);
    void addTagValueSwitchesToContextMenu(QMenu* menu, const platform::ArrayPtr& movies, QMenu** getMetadataMenu);
    // The applications that open the movies (name → desktop entry), their default for
    // every movie, and the switches that hide some of them from the menu. With every movie
    // present there are two such menus: `always` fills the one that changes the default
    // viewer ("Always Open with"), else the one that opens once.
    void populateOpenWithMenu(QMenu* menu, const platform::ArrayPtr& movies, const platform::DictionaryPtr& applications, const QString& common,
                              bool everyMoviePresent, bool always = false);

    // The context browsers (src/ui/commands/PMMainController+ContextBrowsers.cpp): "Similar"
    // (the movie's tags, their values and the movies that share them) and "Other Contexts"
    // (every container holding the movie, in tree order and depth), filled at each opening.
    // `PMTagBrowserPopulator`: the dictionary a browser submenu carries, {"_TagBrowserMenuDelegate_"
    // or "_ContextBrowserMenuDelegate_": the movie, "Tag", "Header", "Lowercase Tag Names", "Value"}.
    static platform::DictionaryPtr PMTagBrowserPopulator(const platform::Value& movie, bool contextBrowser);
    // The lower-case names of the tags "Similar" offers for the movie, sorted.
    static QStringList similarTagNamesOfMovieRepresentation(PMMovieRepresentationPrototype& movie);
    // A submenu that the populator fills anew each time it is about to open.
    QMenu* tagBrowserMenuWithTitle(const QString& title, const platform::DictionaryPtr& populator, QWidget* parent);
    void menuNeedsUpdateForTagBrowserPopulator(QMenu* menu, const platform::DictionaryPtr& populator);
    void populateTagMatchMenu(QMenu* menu, const platform::DictionaryPtr& populator);
    void populateTagMatchMenu(QMenu* menu, const platform::DictionaryPtr& populator, const QString& tag);
    // The library's filtered movies but `except` that carry every value of every tag
    // (lower-case names and values), by display name.
    QList<platform::Value> matchingMovieRepresentations(const platform::Value& except,
                                                        const QList<QPair<QString, QStringList>>& lowercaseValuesByLowercaseTag);
    void populateContextMatchMenu(QMenu* menu, const platform::DictionaryPtr& populator);
    // One container and its subgroups; true when it added items.
    bool populateContextMatchMenu(QMenu* menu, const platform::Value& forMovieRepresentation, const PMLibraryContainerPtr& fromChildrenOfContainer,
                                  bool alwaysIncludeReference, long long indexPriority, int indentationLevel);
    // The depth a browser's entry stands at (an int property of its menu item).
    static constexpr const char* kMenuItemIndentationLevelProperty = "PMIndentationLevel";
    // What the browsers' items send: reveal a movie in its container, or an item in the
    // sidebar (registered unless a part has its own).
    void installContextBrowserCommands();
    // Puts the builders into the views' hooks (those not installed otherwise).
    void installContextMenus();

    // Tests: forgets the whole library.
    void resetForTesting();

private:
    PMMainController();
    platform::Value searchAncestorsFastPath(const platform::Value& item, qsizetype* getIndex);
    PMLibraryContainerPtr sourceStorageSectionWithName(const QString& name, PMLibraryContainerPtr (PMMainController::*afterSectionForSelector)());
    // What the tag types were last built from: the movies and IDs in the order visited and
    // the tag epoch of the records then, with the table built (shared with `_tagTypes` while
    // nobody changed that). A rebuild from the same sources would build the same table.
    struct TagTypesSource {
        PMMovieRepresentationOriginalPtr movie;
        QString key;      // the ID as the table held it (kept, so that its text stays)
        QString uniqueID; // for a movie with tags a copy, side by side with the others
        bool isSame(const PMMovieRepresentationOriginalPtr& m, const QString& k) const
        {
            return m == movie && ((k.constData() == key.constData() && k.size() == key.size()) || k == key);
        }
    };
    std::vector<TagTypesSource> _tagTypesSources;
    // Each movie's share then, and the shares as numbers side by side (per movie from
    // `_tagTypeFlatStart[i]`: for each tag its number, 1 when non-numeric, the count of
    // values and their numbers), so that a rebuild reads only what changed from the movies.
    std::vector<std::shared_ptr<const PMTagTypeShare>> _tagTypeShares;
    std::vector<qsizetype> _tagTypeFlat;
    std::vector<size_t> _tagTypeFlatStart;
    std::uint64_t _tagTypesEpoch = 0;
    QHash<QString, PMTagType> _builtTagTypes;
    // The steps of a rebuild (`invalidateTagTypes`).
    struct TagTypesRebuild;
    void matchTagTypesSources(TagTypesRebuild& rebuild);
    void makeTagTypeShares(TagTypesRebuild& rebuild);
    void findReusableTagValueLists(TagTypesRebuild& rebuild) const;
    void buildTagTypes(const TagTypesRebuild& rebuild, const QHash<QString, PMTagType>& lastBuilt);
    bool tagTypesAreCurrent() const;

public:
    // ---------------------------------------------------------------------------------
    // The grid's calls into the window: the status line after a selection change and the
    // context menu. The library window connects the grid's request to the controller's, the
    // menus answer it; until they do, nothing happens.
Q_SIGNALS:
    void statusFieldsUpdated();
    // The context menu of the grid: its background (no items, no tile) or a tile. The first
    // answer puts the menu into *menu; later ones leave it.
    void groupViewContextMenuRequested(const platform::ArrayPtr& items, const PMGroupViewTile* previewView, QMenu** menu);

public:
    // The manual order after a drag inside the grid (the shown movies in their new order,
    // and the drag's pasteboard), and the manual order of any container.
    void storeSequenceForDragOperation(const platform::ArrayPtr& sequence, const QMimeData* pasteboard);
    void storeSequenceForContainer(const platform::ArrayPtr& sequence, const PMLibraryContainerPtr& container);
    // The status lines of the library window and the player window (the hook hears of
    // each update too).
    void updateStatusFields();

    // ---------------------------------------------------------------------------------
    // The library window (src/ui/library_window/PMMainController+MainWindow.cpp and
    // +StatusLine.cpp): the "MainWindow" builder, the sidebar, the window's frame, the
    // status lines, the header's buttons and the progress sheet.
    static QWidget* makeMainWindow(QObject* owner);
    // Puts the window's real calls into the hooks above; the builder does it.
    void installMainWindow(QWidget* window);
private:
    // The window's shares of the drop and maintenance code (the drag's sidebar, the
    // buttons, the progress sheet), and the order of the program's windows.
    void installMainWindowDropAndMaintenanceCalls();
    void installWindowActivationOrder();

public:
    void hideSidebar(bool hide, bool inResponseToUserActivity, bool tileGroupView);
    void toggleLibrary(QObject* sender);
    bool _canShowSidebarWhileDragging = false;
    // The window was moved or resized: the grid fits itself and the frame is kept.
    void mainWindowDidResize();
    void saveMainWindowFrame();
    void restoreMainWindowFrame();
    // The divider's delegate.
    QString ziruderShiftButtonAutoSaveName() const { return QStringLiteral("PlaylistDivider"); }
    double ziruderShiftButtonLeftMinimumWidth() const { return 100; }
    double ziruderShiftButtonRightMinimumWidth() const;
    void ziruderShiftButtonDidShift(bool done);
    // Shows the container in the grid until the interface refresh does it.
    void updateStatusForWindow(QWidget* window, const platform::Value& movie);
    // The window's header buttons (what `updateButtons` does once the window is there).
    void updateMainWindowButtons();
    void setStatusProgress(double fraction);
    void showProgressSheetWithStatus(const QString& status, bool isIndeterminate, QWidget* forWindow, bool mayCancel);
    void hideProgressSheetIfVisible();
    // The pop-up that chooses the downloads container (where a window has one) and its
    // menu of the library's plain containers.
    QPointer<QComboBox> downloadsContainerSelector;
    void updateDownloadsContainerSelector();
    void addPossibleDownloadsContainers(const platform::ArrayPtr& items, QMenu* toMenu, const QString& readableBasePath);
    bool _progressSheetMayCancel = true;
    QPointer<QWidget> _progressPanel;
    // Windows in the order they were last active (front first).
    QList<QPointer<QWidget>> _windowActivationOrder;

    // ---------------------------------------------------------------------------------
    // The preferences window (src/ui/commands/PMMainController+Preferences.cpp): its panes
    // and controls, each set from its setting when the window is built; the controls' actions
    // store the setting and apply it at once.
    void showPreferences(QObject* sender);
private:
    // The panes, each built into the window, and what their controls do.
    void buildGeneralPreferencesPane(PMPreferencesWindow* window);
    void buildAppearancePreferencesPane(PMPreferencesWindow* window);
    void buildControlsPreferencesPane(PMPreferencesWindow* window);
    void buildLibraryPreferencesPane(PMPreferencesWindow* window);
    void buildExternalMediaPreferencesPane(PMPreferencesWindow* window);
    void buildAdvancedPreferencesPane(PMPreferencesWindow* window);
    void buildUpdatesPreferencesPane(PMPreferencesWindow* window);
    void connectPreferenceControls();

public:
    // The toolbar's items in their order; an identifier is also the pane's name.
    static QStringList preferencesToolbarIdentifiers();
    void changePreferencesSection(const QString& identifier);
    void updatePreferencesWindowFrame();
    // Sets every control from its setting (once, when the window is built).
    void loadPreferenceControls();
    void toggleBooleanPreference(QAbstractButton* sender);
    void changeListPreference(QComboBox* sender);
    void changeSliderPreference(PMPreferenceSlider* sender);
    void setMissingMoviesMode(long long mode, bool updateLibrary, bool updateSelector, bool saveSetting);
    // The field's whole number, raised to 1 (and written back) when below 1, stored under
    // the key. Runs when editing ends, so typing is never interrupted.
    void setIntervalFromTextField(QLineEdit* textField, const QString& setting);
    void updateContinueByMonitoringExternalViewerSwitchVisibility();
    void invalidateSortPrefixes();
    void invalidateApplicationPaths();
    // A text field of the preferences changed (typed, not set by the program).
    void controlTextDidChange(QWidget* field);
    // The viewer rules: accepted only as a non-empty list of {pattern, "Open"} rules.
    static bool viewerRulesAreValid(const platform::Value& rules);
    void didChangeViewerRulesText();
    // The switches that move or copy the user's files ask first, as the menu commands do:
    // NO when the user declined (nothing was changed then).
    bool organizeLibraryFilesAfterAsking();
    QPointer<PMPreferencesWindow> preferencesWindow;
    QPointer<QStackedWidget> preferencesTabView;
    // General
    QPointer<QCheckBox> showOnStartupSwitch, showRemoteControlInterfaceOnStartupSwitch, quitOnCloseSwitch, confirmItemRemovalSwitch,
        confirmSmartGroupChildrenRemovalSwitch, confirmContainerRemovalSwitch, autoConvertAnimatedImagesSwitch;
    QPointer<QComboBox> singleClickBehaviorSelector;
    // Appearance
    QPointer<QComboBox> listFontSizeSelector, libraryDisplayModeSelector, itemCountModeSelector, thumbnailAppearanceSelector,
        nestedGroupsPositionSelector, previewModeSelector;
    QPointer<QCheckBox> showFileExtensionsSwitch, showItemCountsSwitch, showNestedGroupsSwitch, indexImageOnHoverSwitch;
    QPointer<PMPreferenceSlider> previewSpacingSlider, previewCoverAlphaSlider, previewCoverPositionSlider, indexImageOnHoverDelaySlider,
        previewFrameTimeSlider;
    QPointer<QLabel> indexImageOnHoverDelayField, previewFrameTimeField;
    // Controls
    QPointer<QCheckBox> dedicatedPlayerWindowSwitch, increaseConsecutiveStepsSwitch, forgetOnQuitSwitch, playOnOpenSwitch, playOnPresentSwitch,
        continueSwitch, continueByMonitoringExternalViewerSwitch, pauseOnWindowSwitch, listenToRemoteSwitch, remoteTriggersPresentationSwitch,
        remoteControlInterfaceAnimationSwitch, presentationSpaceSwitch;
    QPointer<QLineEdit> controlIntervalField, stepIntervalField;
    QPointer<QComboBox> resumeDurationThresholdSelector, resumeTimestampLimitSelector, continueModeSelector, presentationModeSelector;
    QPointer<PMPreferenceSlider> remoteControlInterfaceSizeSlider;
    QPointer<QAbstractButton> rotateClockwiseButton, rotateCounterclockwiseButton, rotateClockwiseIllustrationButton,
        rotateCounterclockwiseIllustrationButton;
    // Library
    QPointer<QLabel> libraryLocationField;
    QPointer<PMOptionalMenuButton> libraryLocationButton, supplementaryLibraryLocationsButton;
    QPointer<QComboBox> missingMoviesBehaviorSelector, moveCopyToLibrarySelector, nonLibraryFilesProcedureSelector;
    QPointer<QCheckBox> organizeLibrarySwitch, moveCopyToLibrarySwitch, checkForNonLibraryFilesSwitch, useSequencePrefixAsDefaultIdentifierSwitch,
        autoNameSwitch;
    QPointer<QLineEdit> autoNameField;
    // External media
    QPointer<QCheckBox> includeITunesMoviesSwitch;
    // Advanced
    QPointer<PMJSONTextView> viewerRulesTextView;
    QPointer<QLineEdit> sortPrefixesField, supportedFileExtensionsField;
    // The pauses after which costly fields apply (restarted by every change).
    QPointer<QTimer> _autoNamePatternTimer, _sortPrefixesTimer, _applicationPathsTimer, _whitelistTimer;
};

// Above zero while a slider or the divider is being dragged: the grid lays out lightly then.
extern long long PMLiveResizeCount;

inline PMMainController& mainController()
{
    return PMMainController::mainController();
}
