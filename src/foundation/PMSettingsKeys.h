// The program's settings: one typed key per user default, named after the stored key
// text (those texts are what the settings file and other programs rely on, so they never
// change), with the type its readers expect and, for the registered ones, the value it has
// until the user sets one. The registered defaults are built from these keys, so that each
// setting is written down in one place.
//
// A key converts to its text, so it goes wherever the user defaults take a key; the typed
// helpers below read and write the standard user defaults with the key's own type.
// Keys made at run time (per window, per viewer, per column) join a registered prefix or
// suffix with the varying part.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringView>

#include <cstdint>
#include <memory>
#include <span>

namespace platform {
class Array;
class Dictionary;
class Value;
using ArrayPtr = std::shared_ptr<Array>;
using DictionaryPtr = std::shared_ptr<Dictionary>;
} // namespace platform

namespace prefs {

// The type a key's value is read and written as. Object keys hold values of more than one
// type (or a type only their reader knows) and are read as values.
enum class Type { Flag, Integer, Real, String, Array, Dictionary, Data, Object };

class Key {
public:
    // The stored key text; the string shares the static text.
    QString name() const { return QString::fromRawData(m_name.data(), m_name.size()); }
    operator QString() const { return name(); }
    constexpr QStringView view() const { return m_name; }
    constexpr Type type() const { return m_type; }
    // Registered keys have a default in the registered domain; others read NO, 0 or nothing
    // until set.
    constexpr bool isRegistered() const { return m_registered; }
    // The registered default as a value (null for an unregistered key).
    platform::Value defaultValue() const;

protected:
    constexpr Key(QStringView name, Type type, bool registered = false, std::int64_t integer = 0, double real = 0)
        : m_name(name), m_type(type), m_registered(registered), m_integer(integer), m_real(real) {}
    QStringView m_name;
    Type m_type;
    bool m_registered;
    std::int64_t m_integer;
    double m_real;
};

class FlagKey : public Key {
public:
    constexpr explicit FlagKey(QStringView name) : Key(name, Type::Flag) {}
    constexpr FlagKey(QStringView name, bool registeredDefault) : Key(name, Type::Flag, true, registeredDefault ? 1 : 0) {}
    constexpr bool defaultFlag() const { return m_integer != 0; }
};

class IntegerKey : public Key {
public:
    constexpr explicit IntegerKey(QStringView name) : Key(name, Type::Integer) {}
    constexpr IntegerKey(QStringView name, std::int64_t registeredDefault) : Key(name, Type::Integer, true, registeredDefault) {}
    constexpr std::int64_t defaultInteger() const { return m_integer; }
};

class RealKey : public Key {
public:
    constexpr explicit RealKey(QStringView name) : Key(name, Type::Real) {}
    constexpr RealKey(QStringView name, double registeredDefault) : Key(name, Type::Real, true, 0, registeredDefault) {}
    constexpr double defaultReal() const { return m_real; }
};

class StringKey : public Key {
public:
    constexpr explicit StringKey(QStringView name) : Key(name, Type::String) {}
};

class ArrayKey : public Key {
public:
    constexpr explicit ArrayKey(QStringView name) : Key(name, Type::Array) {}
};

class DictionaryKey : public Key {
public:
    constexpr explicit DictionaryKey(QStringView name) : Key(name, Type::Dictionary) {}
};

class DataKey : public Key {
public:
    constexpr explicit DataKey(QStringView name) : Key(name, Type::Data) {}
};

class ObjectKey : public Key {
public:
    constexpr explicit ObjectKey(QStringView name) : Key(name, Type::Object) {}
};

// The fixed part of a key made at run time: "Push-Start: " followed by a viewer's
// identifier, a window's class followed by ": Silent Save Directory".
class KeyPart {
public:
    constexpr explicit KeyPart(QStringView text) : m_text(text) {}
    QString text() const { return QString::fromRawData(m_text.data(), m_text.size()); }
    constexpr QStringView view() const { return m_text; }

private:
    QStringView m_text;
};
inline QString operator+(const KeyPart& prefix, const QString& rest) { return prefix.text() + rest; }
inline QString operator+(const KeyPart& prefix, QLatin1StringView rest) { return prefix.text() + rest; }
inline QString operator+(const QString& first, const KeyPart& suffix) { return first + suffix.text(); }

// Typed access to the standard user defaults.
bool get(const FlagKey& key);
std::int64_t get(const IntegerKey& key);
double get(const RealKey& key);
QString get(const StringKey& key);
platform::ArrayPtr get(const ArrayKey& key);
platform::DictionaryPtr get(const DictionaryKey& key);
platform::Value get(const ObjectKey& key);
void set(const FlagKey& key, bool value);
void set(const IntegerKey& key, std::int64_t value);
void set(const RealKey& key, double value);

// Every key, grouped by subsystem.
std::span<const Key* const> allKeys();
// The registered defaults: every registered key with its default.
platform::DictionaryPtr registeredDefaults();

namespace prefixes {
inline constexpr KeyPart GroupSearchCriterion{u"Group Search Criterion: "};
inline constexpr KeyPart NSWindowFrame{u"NSWindow Frame "};
inline constexpr KeyPart PushStart{u"Push-Start: "};
inline constexpr KeyPart ContinueOnMismatch{u"Continue: Monitor External Viewer: Continue On Mismatch: "};
} // namespace prefixes

namespace suffixes {
inline constexpr KeyPart RowsThreshold{u": Rows Threshold"};
inline constexpr KeyPart SilentSaveDirectory{u": Silent Save Directory"};
} // namespace suffixes

namespace keys {

// Text, numbers, file names and the log
inline constexpr FlagKey IgnoreAVCHDBundles{u"Ignore AVCHD Bundles", true};
inline constexpr ArrayKey Blacklist{u"Blacklist"};
inline constexpr FlagKey NumbersDisableGroupingSeparator{u"Numbers: Disable Grouping Separator"};
inline constexpr ObjectKey NumbersFractionDigits{u"Numbers: Fraction Digits"};
inline constexpr FlagKey NumbersLeaveUnlocalized{u"Numbers: Leave Unlocalized"};
inline constexpr ObjectKey PMCSVParserDefaultFieldSeparator{u"PMCSVParser: Default Field Separator"};
inline constexpr FlagKey PMDebugLog{u"PMDebugLog"};
inline constexpr FlagKey PMJSONTextViewEscapesJSONSlashes{u"PMJSONTextViewEscapesJSONSlashes"};
inline constexpr FlagKey ShowFileExtensions{u"Show File Extensions"};
inline constexpr ArrayKey Whitelist{u"Whitelist"};

// The library model: names, tags, sorting, search
inline constexpr FlagKey GroupSearchCriterionFiles{u"Group Search Criterion: Files", true};
inline constexpr FlagKey GroupSearchCriterionName{u"Group Search Criterion: Name", true};
inline constexpr FlagKey GroupSearchCriterionMetadata{u"Group Search Criterion: Metadata", true};
inline constexpr FlagKey ImportMetadataPositiveNumbersOnly{u"Import Metadata: Positive Numbers Only", true};
inline constexpr IntegerKey SubdivisionDateSortingPriority{u"Subdivision Date Sorting Priority", 1};
inline constexpr IntegerKey ResumeTimestampLimit{u"Resume: Timestamp Limit", 172800};
inline constexpr IntegerKey ContinueMode{u"Continue: Mode", 0};
inline constexpr IntegerKey ToolTipsTruncationThreshold{u"Tool Tips: Truncation Threshold", 500};
inline constexpr FlagKey AutoAutoComplete{u"Auto-Auto-Complete"};
inline constexpr StringKey BatchRenameSequencePrefix{u"Batch Rename Sequence Prefix"};
inline constexpr StringKey BatchRenameSequenceSuffix{u"Batch Rename Sequence Suffix"};
inline constexpr FlagKey ContinueAlwaysStayFlat{u"Continue: Always Stay Flat"};
inline constexpr FlagKey DisableFuzzySearchNames{u"Disable Fuzzy Search: Names"};
inline constexpr FlagKey DisableFuzzySearchValues{u"Disable Fuzzy Search: Values"};
inline constexpr FlagKey DuplicateSearchIgnoreOutOfScopeItems{u"Duplicate Search: Ignore Out-Of-Scope Items"};
inline constexpr FlagKey DuplicateSearchIgnoreTrivialResults{u"Duplicate Search: Ignore Trivial Results"};
inline constexpr FlagKey DuplicateSearchImageHashIgnoreAspectRatio{u"Duplicate Search: Image Hash: Ignore Aspect Ratio"};
inline constexpr FlagKey EnableSmartPlaylistEmancipation{u"Enable Smart Playlist Emancipation"};
inline constexpr ObjectKey ExternalMediaKindSeparationLevel{u"External Media Kind Separation Level"};
inline constexpr FlagKey FilterTagEditor{u"Filter Tag Editor"};
inline constexpr FlagKey GroupSearchCriterionGroups{u"Group Search Criterion: Groups"};
inline constexpr FlagKey GroupSearchCriterionLocation{u"Group Search Criterion: Location"};
inline constexpr StringKey GroupSearchScope{u"Group Search Scope"};
inline constexpr FlagKey GroupSearchSortsByDuplicateQueryComponent{u"Group Search Sorts By Duplicate Query Component"};
inline constexpr FlagKey HideDownloadedWebclips{u"Hide Downloaded Webclips"};
inline constexpr FlagKey IgnoreBookmarksWhenFixingPaths{u"Ignore Bookmarks When Fixing Paths"};
inline constexpr FlagKey IgnoreExternalFolderStructure{u"Ignore External Folder Structure"};
inline constexpr StringKey ImplicitMultipleSelectionSearch{u"Implicit Multiple Selection Search"};
inline constexpr ObjectKey ImportMetadataNames{u"Import Metadata: Names"};
inline constexpr FlagKey IncludeApertureMovies{u"Include Aperture Movies"};
inline constexpr IntegerKey ItemCountMode{u"Item Count Mode"};
inline constexpr ArrayKey LastWatched{u"Last Watched"};
inline constexpr ObjectKey LastWatchedCount{u"Last Watched Count"};
inline constexpr FlagKey MissingMoviesModeHideAllHideEmptySmartGroups{u"Missing Movies Mode: Hide All: Hide Empty Smart Groups"};
inline constexpr StringKey OriginalNameTag{u"Original Name Tag"};
inline constexpr DictionaryKey PersistentTags{u"Persistent Tags"};
inline constexpr FlagKey PrependTieredSettings{u"Prepend Tiered Settings"};
inline constexpr IntegerKey PropertySortingPriority{u"Property Sorting Priority"};
inline constexpr RealKey ResumeDurationThreshold{u"Resume: Duration Threshold"};
inline constexpr FlagKey SearchCheckReadablePathRepresentation{u"Search: Check Readable Path Representation"};
inline constexpr FlagKey ShowAllTagEditorCheckboxes{u"Show All Tag Editor Checkboxes"};
inline constexpr StringKey SmartGroupsStorageName{u"Smart Groups Storage Name"};
inline constexpr StringKey SubgroupPreviewsPositionTreatSubgroupsAsFilesNameEquivalent{u"Subgroup Previews Position: Treat Subgroups As Files: Name Equivalent"};
inline constexpr IntegerKey ToggleTagValuesViaContextMenuMatchSeparationMode{u"Toggle Tag Values Via Context Menu: Match Separation Mode"};
inline constexpr FlagKey ToolTipsSkipDatesAndCounter{u"Tool Tips: Skip Dates And Counter"};
inline constexpr ObjectKey UniqueID{u"Unique ID"};

// Loading, saving, updating and organising the library
inline constexpr FlagKey MenuSearchCriterionName{u"Menu Search Criterion: Name", true};
inline constexpr FlagKey MenuSearchCriterionMetadata{u"Menu Search Criterion: Metadata", true};
inline constexpr FlagKey IgnoreITunesMovies{u"Ignore iTunes Movies", false};
inline constexpr FlagKey IgnoreIPhotoMovies{u"Ignore iPhoto Movies", false};
inline constexpr FlagKey ImportMetadataInternal{u"Import Metadata: Internal", true};
inline constexpr FlagKey ImportMetadataExternal{u"Import Metadata: External", true};
inline constexpr FlagKey ImportMetadataName{u"Import Metadata: Name", true};
inline constexpr IntegerKey PresentOnSeparateSpaceToggleButtonPriority{u"Present On Separate Space: Toggle Button Priority", -1};
inline constexpr FlagKey PreloadPreviews{u"Preload Previews", true};
inline constexpr FlagKey MosaicBalanceRowHeight{u"Mosaic: Balance Row Height", true};
inline constexpr RealKey CycleThroughIndexImageOnHoverInterval{u"Cycle Through Index Image On Hover: Interval", 1.0};
inline constexpr IntegerKey OptionalOrnamentPriority{u"Optional Ornament Priority", 2};
inline constexpr FlagKey ShowThumbnailPopover{u"Show Thumbnail Popover", true};
inline constexpr FlagKey SubdivideByTagFastTrack{u"Subdivide By Tag: Fast Track", true};
inline constexpr FlagKey SubdivideByBooleanTagUseAlternates{u"Subdivide By Boolean Tag: Use Alternates", true};
inline constexpr FlagKey SubdivideByBooleanTagSubdivideByValues{u"Subdivide By Boolean Tag: Subdivide By Values", true};
inline constexpr FlagKey SubdivideByBooleanTagSubdivideByValuesShowCombinedNames{u"Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names", true};
inline constexpr FlagKey SubdivideByLibraryFolderIndicateAvailability{u"Subdivide By Library Folder: Indicate Availability", true};
inline constexpr FlagKey PushStartComAppleQuickTimePlayerX{u"Push-Start: com.apple.QuickTimePlayerX", true};
inline constexpr FlagKey ConvertAnimatedImagesToMovies{u"Convert Animated Images To Movies", true};
inline constexpr FlagKey ContinueStartSlideshowAfterMovie{u"Continue: Start Slideshow After Movie", true};
inline constexpr FlagKey ContinueMonitorExternalViewerContinueOnMismatchOrgVideolanVlc{u"Continue: Monitor External Viewer: Continue On Mismatch: org.videolan.vlc", true};
inline constexpr FlagKey PMHelpManagerListAnchorsInSubmenus{u"PMHelpManager: List Anchors In Submenus", true};
inline constexpr FlagKey DetermineFuzzyOldestDateUseCreationDate{u"Determine Fuzzy Oldest Date: Use Creation Date", true};
inline constexpr FlagKey AlwaysUpdateMissingStatusOnInvalidation{u"Always Update Missing Status On Invalidation"};
inline constexpr FlagKey BatchRenameResumePrefixGroupSequences{u"Batch Rename: Resume Prefix Group Sequences"};
inline constexpr FlagKey BatchRenameSequencesPreferSeriesPrefix{u"Batch Rename: Sequences Prefer Series Prefix"};
inline constexpr StringKey BatchRenameSequencesPreferSeriesPrefixIndexSeparator{u"Batch Rename: Sequences Prefer Series Prefix: Index Separator"};
inline constexpr FlagKey BatchRenameSuppressSingleItemSequences{u"Batch Rename: Suppress Single-Item Sequences"};
inline constexpr FlagKey CheckForNonLibraryFilesViaTopLevelModificationDate{u"Check For Non-Library Files Via Top-Level Modification Date"};
inline constexpr FlagKey ClearPlaylistOnClose{u"Clear Playlist On Close"};
inline constexpr IntegerKey ContentFontSize{u"Content Font Size"};
inline constexpr FlagKey DebugNonLibraryNameDuplicates{u"Debug Non-Library Name Duplicates"};
inline constexpr FlagKey DecodeBatchRenamePrefixAndSuffixSeparately{u"Decode Batch Rename Prefix And Suffix Separately"};
inline constexpr FlagKey DetermineFuzzyNewestDateUseSortingContext{u"Determine Fuzzy Newest Date: Use Sorting Context"};
inline constexpr FlagKey DetermineFuzzyOldestDate{u"Determine Fuzzy Oldest Date"};
inline constexpr FlagKey DetermineNamesAutomatically{u"Determine Names Automatically"};
inline constexpr FlagKey DoNotCheckExternalVolumesForNonLibraryFiles{u"Do Not Check External Volumes For Non-Library Files"};
inline constexpr FlagKey DoNotCheckForNonLibraryFiles{u"Do Not Check For Non-Library Files"};
inline constexpr FlagKey DoNotEncapsulateSettings{u"Do Not Encapsulate Settings"};
inline constexpr FlagKey DoNotForgetPlaylistOnQuit{u"Do Not Forget Playlist On Quit"};
inline constexpr FlagKey DoNotForgetPlaylistOnQuitConfirmed{u"Do Not Forget Playlist On Quit (Confirmed)"};
inline constexpr FlagKey DoNotListenToRemoteControl{u"Do Not Listen To Remote Control"};
inline constexpr FlagKey DoNotOrganizeLibraryFolder{u"Do Not Organize Library Folder"};
inline constexpr FlagKey DoNotShowWindowOnStartup{u"Do Not Show Window On Startup"};
inline constexpr StringKey DownloadsContainer{u"Downloads Container"};
inline constexpr IntegerKey DragDropStrictness{u"Drag & Drop Strictness"};
inline constexpr FlagKey DumbDownDecodedBatchRenameCSV{u"Dumb Down Decoded Batch Rename CSV"};
inline constexpr FlagKey EnableFanOutFineTuning{u"Enable Fan-Out Fine Tuning"};
inline constexpr FlagKey EnableMetaReferenceTextAccess{u"Enable Meta Reference Text Access"};
inline constexpr ObjectKey Filter{u"Filter"};
inline constexpr FlagKey ForgetPlaylistOnAddHidden{u"Forget Playlist On Add (Hidden)"};
inline constexpr FlagKey ImportNonMovieExternalMedia{u"Import Non-Movie External Media"};
inline constexpr StringKey Inbox{u"Inbox"};
inline constexpr FlagKey InboxStrict{u"Inbox: Strict"};
inline constexpr FlagKey IncludeNonLibraryFilesWithoutPrompt{u"Include Non-Library Files Without Prompt"};
inline constexpr ArrayKey Library{u"Library"};
inline constexpr IntegerKey ListFontSize{u"List Font Size"};
inline constexpr IntegerKey LoopGroupMovies{u"Loop Group Movies"};
inline constexpr IntegerKey MissingMoviesMode{u"Missing Movies Mode"};
inline constexpr FlagKey MoveFilesToTrashWithoutConfirmation{u"Move Files To Trash Without Confirmation"};
inline constexpr FlagKey MoveCopyToLibrary{u"Move/Copy To Library"};
inline constexpr IntegerKey MoveCopyToLibraryMode{u"Move/Copy To Library Mode"};
inline constexpr StringKey MusicLibraryPath{u"Music Library Path"};
inline constexpr IntegerKey NSTableViewDefaultSizeMode{u"NSTableViewDefaultSizeMode"};
inline constexpr FlagKey OriginalURLsTagged{u"Original URLs Tagged"};
inline constexpr FlagKey PreferPromisedFilesOverURLs{u"Prefer Promised Files Over URLs"};
inline constexpr FlagKey PreventMovingOfOriginalsViaProxy{u"Prevent Moving Of Originals Via Proxy"};
inline constexpr IntegerKey PreviewLayout{u"Preview Layout"};
inline constexpr FlagKey PseudoIndexKeepAllSubdivisions{u"Pseudo-Index: Keep All Subdivisions"};
inline constexpr FlagKey ScalePreviewsToFit{u"Scale Previews To Fit"};
inline constexpr ObjectKey SecondaryLibraryPaths{u"Secondary Library Paths"};
inline constexpr FlagKey Serialize{u"Serialize"};
inline constexpr FlagKey ShowProgressForBackgroundChecks{u"Show Progress For Background Checks"};
inline constexpr FlagKey ShowRemoteControlInterfaceOnStartup{u"Show Remote Control Interface On Startup"};
inline constexpr StringKey SmartPlaylistNameCriterionPathIndicatorPrefix{u"Smart Playlist Name Criterion: Path Indicator Prefix"};
inline constexpr IntegerKey SourceListDisplayMode{u"Source List Display Mode"};
inline constexpr FlagKey SubdivideByBooleanTagIncludeNotes{u"Subdivide By Boolean Tag: Include Notes"};
inline constexpr FlagKey SubdivideByBooleanTagUseAlternatesRaiseLateSeparateOthers{u"Subdivide By Boolean Tag: Use Alternates: Raise Late: Separate Others"};
inline constexpr FlagKey SubdivideByBooleanTagUseAlternatesSkipPreviouslyUsedAlternates{u"Subdivide By Boolean Tag: Use Alternates: Skip Previously Used Alternates"};
inline constexpr FlagKey SubdivideByLibraryFolderGroupByVolumeName{u"Subdivide By Library Folder: Group By Volume Name"};
inline constexpr FlagKey SubdivideByTagAcknowledgeValueCase{u"Subdivide By Tag: Acknowledge Value Case"};
inline constexpr FlagKey SubdivideByTagEmulateOtherSubdivisionTypes{u"Subdivide By Tag: Emulate Other Subdivision Types"};
inline constexpr FlagKey SubdivisionLimitsDisable{u"Subdivision Limits: Disable"};
inline constexpr FlagKey SubdivisionLimitsStripWhitespace{u"Subdivision Limits: Strip Whitespace"};
inline constexpr IntegerKey SubgroupPreviewsPosition{u"Subgroup Previews Position"};
inline constexpr FlagKey SubgroupPreviewsPositionAllowBlending{u"Subgroup Previews Position: Allow Blending"};
inline constexpr FlagKey SubgroupSettingsCheckPseudoAncestors{u"Subgroup Settings: Check Pseudo-Ancestors"};
inline constexpr IntegerKey SubgroupSettingsCleaningZeal{u"Subgroup Settings: Cleaning Zeal"};
inline constexpr FlagKey UseSimplifiedCacheForExternalVolumeFileChecks{u"Use Simplified Cache For External Volume File Checks"};
inline constexpr DictionaryKey Libraries{u"Libraries"};
inline constexpr ObjectKey PMZiruderShiftButtonLeftWidthPlaylistDivider{u"PMZiruderShiftButton Left Width PlaylistDivider"};
inline constexpr ObjectKey CoverWidth{u"Cover Width"};
inline constexpr ObjectKey PreviewWidth{u"Preview Width"};
inline constexpr ArrayKey PMGroupTableViewColumns{u"PMGroupTableViewColumns"};
inline constexpr ObjectKey IgnoreOnlineMovies{u"Ignore Online Movies"};
inline constexpr StringKey BrowseDirectory{u"Browse Directory"};

// Covers, previews and index images
inline constexpr FlagKey LoadFrameImages{u"Load Frame Images", true};
inline constexpr FlagKey DrawColorThumbnailPlaceholders{u"Draw Color Thumbnail Placeholders", true};
inline constexpr FlagKey CycleThroughIndexImageOnHover{u"Cycle Through Index Image On Hover", true};
inline constexpr ObjectKey CycleThroughIndexImageOnHoverJPEGCompressionFactor{u"Cycle Through Index Image On Hover: JPEG Compression Factor"};
inline constexpr IntegerKey CycleThroughIndexImageOnHoverNumberOfImages{u"Cycle Through Index Image On Hover: Number Of Images"};
inline constexpr IntegerKey CycleThroughIndexImageOnHoverSize{u"Cycle Through Index Image On Hover: Size"};
inline constexpr FlagKey DisableIconPreviews{u"Disable Icon Previews"};
inline constexpr FlagKey DisableUnderscoreImages{u"Disable Underscore Images"};
inline constexpr FlagKey DoNotPlayOnOpen{u"Do Not Play On Open"};
inline constexpr FlagKey EnableRotationBlur{u"Enable Rotation Blur"};
inline constexpr FlagKey LoadTIFFImages{u"Load TIFF Images"};
inline constexpr FlagKey SaveTIFFImages{u"Save TIFF Images"};
inline constexpr ObjectKey UnderscoreImageArea{u"Underscore Image Area"};
inline constexpr ObjectKey LoadFrameImagesFraction{u"Load Frame Images: Fraction"};

// Playback, players and external viewers
inline constexpr RealKey SlideshowInterval{u"Slideshow Interval", 1.5};
inline constexpr FlagKey NavigationAreaPlayPause{u"Navigation Area: Play/Pause", true};
inline constexpr FlagKey FallBackToDefaultApplication{u"Fall Back To Default Application", true};
inline constexpr FlagKey ContinueMonitorExternalViewerDetectPreview{u"Continue: Monitor External Viewer: Detect Preview", true};
inline constexpr IntegerKey SelectAreaMode{u"Select Area: Mode", 1};
inline constexpr FlagKey AlwaysDrawTimeSliderTextAsBadges{u"Always Draw Time Slider Text As Badges"};
inline constexpr FlagKey ContinueMonitorExternalViewer{u"Continue: Monitor External Viewer"};
inline constexpr StringKey ContinueMonitorExternalViewerDetectPreviewDirectory{u"Continue: Monitor External Viewer: Detect Preview: Directory"};
inline constexpr StringKey ContinueMonitorExternalViewerDetectPreviewPattern{u"Continue: Monitor External Viewer: Detect Preview: Pattern"};
inline constexpr StringKey ControlsBezelX{u"Controls Bezel X"};
inline constexpr StringKey ControlsBezelY{u"Controls Bezel Y"};
inline constexpr FlagKey DoNotAnimateRemoteControlInterface{u"Do Not Animate Remote Control Interface"};
inline constexpr FlagKey DoNotContinueWithNextGroupMovie{u"Do Not Continue With Next Group Movie"};
inline constexpr FlagKey DoNotPlayOnPresent{u"Do Not Play On Present"};
inline constexpr FlagKey DoubleClickReturnsToLibrary{u"Double-Click Returns To Library"};
inline constexpr FlagKey HideLibrary{u"Hide Library"};
inline constexpr RealKey HoverPlaybackControlsOpacity{u"Hover Playback Controls Opacity"};
inline constexpr IntegerKey HoverPlaybackControlsPriority{u"Hover Playback Controls Priority"};
inline constexpr IntegerKey ImageSelectionMovieFramesPerSecond{u"Image Selection Movie: Frames Per Second"};
inline constexpr FlagKey IncreaseConsecutiveSteps{u"Increase Consecutive Steps"};
inline constexpr FlagKey InvertRemoteControlInterface{u"Invert Remote Control Interface"};
inline constexpr FlagKey KeepSelectionWhenCurrentMovieParentChanges{u"Keep Selection When Current Movie Parent Changes"};
inline constexpr FlagKey NavigationAreaPlayPauseAlways{u"Navigation Area: Play/Pause: Always"};
inline constexpr FlagKey NavigationAreaPlayPauseHighlight{u"Navigation Area: Play/Pause: Highlight"};
inline constexpr ObjectKey NavigationAreaSize{u"Navigation Area: Size"};
inline constexpr FlagKey OpenImagesInPresentationMode{u"Open Images In Presentation Mode"};
inline constexpr FlagKey PauseOnWindow{u"Pause On Window"};
inline constexpr IntegerKey PlaybackEndLoopThreshold{u"Playback End: Loop Threshold"};
inline constexpr IntegerKey PlaybackEndWindowClosingPriority{u"Playback End: Window Closing Priority"};
inline constexpr RealKey PlayerWidth{u"Player Width"};
inline constexpr IntegerKey PlayerWidthPreservationPriority{u"Player Width: Preservation Priority"};
inline constexpr FlagKey PlayerWidthResizeFromLeft{u"Player Width: Resize From Left"};
inline constexpr IntegerKey PlayerWindowAspectRatioButtonPriority{u"Player Window: Aspect Ratio Button Priority"};
inline constexpr FlagKey PlayerWindowDarkAlways{u"Player Window: Dark: Always"};
inline constexpr FlagKey PlayerWindowDarkDisableHoverException{u"Player Window: Dark: Disable Hover Exception"};
inline constexpr ObjectKey PMFullScreenMessageWindowAnimationInterval{u"PMFullScreenMessageWindowAnimationInterval"};
inline constexpr IntegerKey PresentationMode{u"Presentation Mode"};
inline constexpr IntegerKey PresentationPlaybackControls{u"Presentation Playback Controls"};
inline constexpr FlagKey PresentationPlaybackControlsShowIndex{u"Presentation Playback Controls Show Index"};
inline constexpr FlagKey PresentationPlaybackControlsShowScale{u"Presentation Playback Controls Show Scale"};
inline constexpr FlagKey QuitOnClose{u"Quit On Close"};
inline constexpr RealKey RemoteControlInterfaceLineHeight{u"Remote Control Interface Line Height"};
inline constexpr FlagKey RemoteDoesNotTriggerPresentation{u"Remote Does Not Trigger Presentation"};
inline constexpr FlagKey RotateAnythingViaContextMenu{u"Rotate Anything Via Context Menu"};
inline constexpr FlagKey RotateByDragging{u"Rotate By Dragging"};
inline constexpr FlagKey RotateByDraggingDirectional{u"Rotate By Dragging: Directional"};
inline constexpr FlagKey RotateCounterclockwise{u"Rotate Counterclockwise"};
inline constexpr IntegerKey SelectAreaAspectRatioPriorityOriginal{u"Select Area: Aspect Ratio Priority: Original"};
inline constexpr IntegerKey SelectAreaAspectRatioPriorityThumbnail{u"Select Area: Aspect Ratio Priority: Thumbnail"};
inline constexpr IntegerKey SelectAreaCrosshairsPriority{u"Select Area: Crosshairs Priority"};
inline constexpr FlagKey ShowFullPathInMainWindowTitle{u"Show Full Path In Main Window Title"};
inline constexpr FlagKey SingleWindowMode{u"Single Window Mode"};
inline constexpr FlagKey SingleWindowModeDoNotPauseOnClose{u"Single Window Mode: Do Not Pause On Close"};
inline constexpr FlagKey StaticMainWindowTitle{u"Static Main Window Title"};
inline constexpr FlagKey StayInFront{u"Stay In Front"};
inline constexpr IntegerKey StepInterval{u"Step Interval"};
inline constexpr FlagKey UnrestrictedCrosshairs{u"Unrestricted Crosshairs"};
inline constexpr FlagKey VariableAspectRatio{u"Variable Aspect Ratio"};
inline constexpr StringKey ViewerRules{u"Viewer Rules"};
inline constexpr RealKey VisibleImageAreaExtensionHorizontal{u"Visible Image Area Extension: Horizontal"};
inline constexpr ObjectKey Volume{u"Volume"};
inline constexpr IntegerKey WindowPlaybackControls{u"Window Playback Controls"};
inline constexpr FlagKey WindowPlaybackControlsCannotHideChrome{u"Window Playback Controls: Cannot Hide Chrome"};
inline constexpr FlagKey WindowPlaybackControlsShowLocationBar{u"Window Playback Controls: Show Location Bar"};
inline constexpr IntegerKey WindowVanishInterval{u"Window Vanish Interval"};
inline constexpr StringKey NSWindowFramePMDedicatedPlayerWindow{u"NSWindow Frame PMDedicatedPlayerWindow"};

// Window and control helpers
inline constexpr FlagKey DrawBadgesAsPills{u"Draw Badges As Pills"};
inline constexpr FlagKey DrawMenuHeadersAtNormalSize{u"Draw Menu Headers At Normal Size"};
inline constexpr ObjectKey NSMenuEnableActionImages{u"NSMenuEnableActionImages"};
inline constexpr ObjectKey PMEnableMenuActionImages{u"PMEnableMenuActionImages"};
inline constexpr IntegerKey PMVisibleFrameExtraDockSpacing{u"PMVisibleFrameExtraDockSpacing"};
inline constexpr ObjectKey PMWindowFadingDuration{u"PMWindowFadingDuration"};
inline constexpr FlagKey PathLinkDisplayModeCanBeToggled{u"Path Link Display Mode Can Be Toggled"};

// The library window
inline constexpr FlagKey PresentOnSeparateSpace{u"Present On Separate Space", true};
inline constexpr FlagKey AlwaysApplyDefaultPlayerSize{u"Always Apply Default Player Size"};
inline constexpr FlagKey AlwaysCancelSelectionViaMainWindowStatus{u"Always Cancel Selection Via Main Window Status"};
inline constexpr FlagKey AlwaysShowLibraryToolbar{u"Always Show Library Toolbar"};
inline constexpr StringKey AppleActionOnDoubleClick{u"AppleActionOnDoubleClick"};
inline constexpr FlagKey AutomaticallyHideAndShowSidebarFilter{u"Automatically Hide And Show Sidebar: Filter"};
inline constexpr FlagKey AverageMedianAspectRatioFallBackTo11{u"Average/Median Aspect Ratio: Fall Back To 1:1"};
inline constexpr FlagKey ContainerHistoryNavigationAlwaysAddsToHeap{u"Container History Navigation Always Adds To Heap"};
inline constexpr RealKey CoverAspectRatio{u"Cover Aspect Ratio"};
inline constexpr IntegerKey CoverLayout{u"Cover Layout"};
inline constexpr RealKey CoverOverlayAlpha{u"Cover Overlay Alpha"};
inline constexpr RealKey CoverOverlayPosition{u"Cover Overlay Position"};
inline constexpr ObjectKey CustomSize{u"Custom Size"};
inline constexpr FlagKey DrawScopeBarIcons{u"Draw Scope Bar Icons"};
inline constexpr ObjectKey EmphasizeItemCountBadges{u"Emphasize Item Count Badges"};
inline constexpr ObjectKey ExpandedLibraryContainers{u"Expanded Library Containers"};
inline constexpr IntegerKey GoldStarPriority{u"Gold Star Priority"};
inline constexpr IntegerKey GroupContentDisplayMode{u"Group Content Display Mode"};
inline constexpr IntegerKey GroupListPillPriority{u"Group List: Pill Priority"};
inline constexpr FlagKey GroupSearchScopeAllUseDefaultReference{u"Group Search Scope: [All]: Use Default Reference"};
inline constexpr FlagKey GroupSortingDirection{u"Group Sorting Direction"};
inline constexpr FlagKey HideMainWindowTitlebarRetainFooter{u"Hide Main Window Titlebar: Retain Footer"};
inline constexpr FlagKey HideMainWindowTitlebarToneDownTitle{u"Hide Main Window Titlebar: Tone Down Title"};
inline constexpr FlagKey HidePreviewRatings{u"Hide Preview Ratings"};
inline constexpr FlagKey HighlightSortingIssues{u"Highlight Sorting Issues"};
inline constexpr FlagKey IndividualPreviewWidths{u"Individual Preview Widths"};
inline constexpr StringKey LibrarySelection{u"Library Selection"};
inline constexpr ObjectKey MosaicExpandLastRow{u"Mosaic: Expand Last Row"};
inline constexpr RealKey MosaicMinimumAspectRatio{u"Mosaic: Minimum Aspect Ratio"};
inline constexpr FlagKey OnlyCountTopLevelChildrenInPreviewMode{u"Only Count Top-Level Children In Preview Mode"};
inline constexpr IntegerKey PathLinkDisplayMode{u"Path Link Display Mode"};
inline constexpr ObjectKey PMGroupTableViewVisibleColumnsGroupViewList{u"PMGroupTableView Visible Columns GroupViewList"};
inline constexpr ObjectKey PositionLabelsBelowThumbnails{u"Position Labels Below Thumbnails"};
inline constexpr RealKey PreviewAspectRatio{u"Preview Aspect Ratio"};
inline constexpr IntegerKey PreviewSingleClickBehavior{u"Preview Single-Click Behavior"};
inline constexpr FlagKey PreviewSingleClickBehaviorApplyToSubgroups{u"Preview Single-Click Behavior: Apply To Subgroups"};
inline constexpr RealKey PreviewSpacing{u"Preview Spacing"};
inline constexpr RealKey SearchDelay{u"Search Delay"};
inline constexpr FlagKey ShowDummyPathLinks{u"Show Dummy Path Links"};
inline constexpr FlagKey ShowZeroItemCounts{u"Show Zero Item Counts"};
inline constexpr ObjectKey SimplifyToolbarButtons{u"Simplify Toolbar Buttons"};
inline constexpr FlagKey SimplifyToolbarButtonsDrawBezelOnHover{u"Simplify Toolbar Buttons: Draw Bezel On Hover"};
inline constexpr IntegerKey SlowMotionAnimationDuration{u"Slow-Motion Animation Duration"};
inline constexpr FlagKey SourceListArrowsReflectCurrentMovieDepth{u"Source List Arrows Reflect Current Movie Depth"};
inline constexpr RealKey ThumbnailCornerRadius{u"Thumbnail Corner Radius"};
inline constexpr ObjectKey VariableHeightCenterVertically{u"Variable Height: Center Vertically"};
inline constexpr StringKey NSWindowFramePMMPPlayerWindow{u"NSWindow Frame PMMPPlayerWindow"};
inline constexpr ObjectKey VisibleRects4703{u"Visible Rects (4703)"};
inline constexpr ObjectKey VisibleRects{u"Visible Rects"};

// Menus, preferences and commands
inline constexpr IntegerKey ThumbnailAppearance{u"Thumbnail Appearance", 1};
inline constexpr FlagKey HoverCoverHeaders{u"Hover Cover Headers", true};
inline constexpr IntegerKey AdjustCoverSize{u"Adjust Cover Size", 1};
inline constexpr IntegerKey AdjustPreviewSize{u"Adjust Preview Size", 1};
inline constexpr RealKey CycleThroughIndexImageOnHoverDelay{u"Cycle Through Index Image On Hover: Delay", 2.0};
inline constexpr FlagKey AutomaticallyToggleManualSorting{u"Automatically Toggle Manual Sorting", true};
inline constexpr FlagKey ToggleTagValuesViaContextMenu{u"Toggle Tag Values Via Context Menu", true};
inline constexpr IntegerKey SubmenuThreshold{u"Submenu Threshold", 5};
inline constexpr ObjectKey AlignDateDefault{u"Align Date: Default"};
inline constexpr FlagKey AlwaysZoomQuickLook{u"Always Zoom Quick Look"};
inline constexpr FlagKey ArrowKeysJump{u"Arrow Keys Jump"};
inline constexpr FlagKey AutomaticallyHideAndShowSidebar{u"Automatically Hide And Show Sidebar"};
inline constexpr IntegerKey BatchRenameAction4521{u"Batch Rename Action (4521)"};
inline constexpr IntegerKey BatchRenameDefaultDigits{u"Batch Rename Default Digits"};
inline constexpr FlagKey BatchRenameSequencesFallBackToPrefixIdentifier{u"Batch Rename Sequences Fall Back To Prefix Identifier"};
inline constexpr ObjectKey DetermineNamesAutomaticallyPattern{u"Determine Names Automatically: Pattern"};
inline constexpr FlagKey EnableImageHashDeltaSorting{u"Enable Image Hash Delta Sorting"};
inline constexpr FlagKey EnableSmartPlaylistEmancipationMenuIncludeFiles{u"Enable Smart Playlist Emancipation: Menu: Include Files"};
inline constexpr StringKey GroupSortingCriterion{u"Group Sorting Criterion"};
inline constexpr FlagKey HideInaccessibleLibraries{u"Hide Inaccessible Libraries"};
inline constexpr FlagKey HideItemCounts{u"Hide Item Counts"};
inline constexpr FlagKey HideSubgroupsInPreviewMode{u"Hide Subgroups In Preview Mode"};
inline constexpr FlagKey HideSubgroupsInPreviewModeFlattenedOnly{u"Hide Subgroups In Preview Mode: Flattened Only"};
inline constexpr FlagKey HoverPreviewHeaders{u"Hover Preview Headers"};
inline constexpr ObjectKey LibraryPath{u"Library Path"};
inline constexpr FlagKey NavigateWithSwappedSpaceAndReturn{u"Navigate With Swapped Space And Return"};
inline constexpr FlagKey NavigateWithWASD{u"Navigate With WASD"};
inline constexpr ArrayKey OpenWithHiddenApplications{u"Open With: Hidden Applications"};
inline constexpr FlagKey OtherContextsAlwaysIncludeReference{u"Other Contexts: Always Include Reference"};
inline constexpr IntegerKey OtherContextsIndexPriority{u"Other Contexts: Index Priority"};
inline constexpr FlagKey PlayGIFsAsMoviesExport{u"Play GIFs As Movies: Export"};
inline constexpr FlagKey PMMenuItemSwitchDisableMouseDragSwitching{u"PMMenuItemSwitch: Disable Mouse Drag Switching"};
inline constexpr ObjectKey PMMenuItemSwitchMaximumWidth{u"PMMenuItemSwitch: Maximum Width"};
inline constexpr IntegerKey PMTagValueSwitchGeneratorDefaultSmallFontThreshold{u"PMTagValueSwitchGenerator: Default Small Font Threshold"};
inline constexpr FlagKey PopUpPropertyValuesAfterDelay{u"Pop Up Property Values After Delay"};
inline constexpr FlagKey ScalePreviewsToFitIndividually{u"Scale Previews To Fit Individually"};
inline constexpr FlagKey ShowExperimentalViewMenu{u"Show Experimental View Menu"};
inline constexpr FlagKey SimilarIncludeNotes{u"Similar: Include Notes"};
inline constexpr IntegerKey ThumbnailAppearanceGlass{u"Thumbnail Appearance: Glass"};
inline constexpr FlagKey ToggleTagValuesViaContextMenuIncludeNotes{u"Toggle Tag Values Via Context Menu: Include Notes"};
inline constexpr FlagKey UseTraditionalFullScreenKeyboardEquivalent{u"Use Traditional Full Screen Keyboard Equivalent"};

// Help, updates and the log reader
inline constexpr FlagKey ILRCacheDebugLogSilently{u"ILRCacheDebugLogSilently"};
inline constexpr FlagKey ILRIntegratedLogReaderDisableCoalescing{u"ILRIntegratedLogReaderDisableCoalescing"};
inline constexpr FlagKey ILRIntegratedLogReaderHideSender{u"ILRIntegratedLogReaderHideSender"};
inline constexpr FlagKey PMHelpManagerCenterQuickAccess{u"PMHelpManager: Center Quick Access"};
inline constexpr StringKey PMHelpManagerOpenRelativePath{u"PMHelpManager: Open Relative Path"};
inline constexpr ObjectKey PMSparkleWrapperSpacedStatus{u"PMSparkleWrapper Status"};
inline constexpr ObjectKey PMSparkleWrapperStatus{u"PMSparkleWrapperStatus"};
inline constexpr StringKey PMSparkleWrapperUpdateStatus{u"PMSparkleWrapperUpdateStatus"};
inline constexpr FlagKey PMSparkleWrapperMuted{u"PMSparkleWrapperMuted"};
} // namespace keys

} // namespace prefs
