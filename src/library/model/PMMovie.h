// The playback side of one movie record: the asset built from the record's file (a plain
// file, a sequence bundle played as one movie, or a movie converted from an animated
// image or a set of frame images), the record's editing steps replayed on it, its display
// size and frame rate; beside it the free functions for durations, natural sizes, the
// folder of converted movies and the text form of timestamps in editing steps.
#pragma once

#include "platform/Image.h"
#include "platform/Value.h"
#include "platform/media/Asset.h"

#include <QtCore/QSizeF>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

#include <functional>
#include <optional>
#include <vector>

using PMAssetPtr = platform::media::AssetPtr;
namespace platform::media {
class Player;
}
using PMPlayerPtr = std::shared_ptr<platform::media::Player>;

// A still image that belongs to a record as one of its frames (a movie made of images).
struct PMFrameImageMovieRepresentation {
    QUrl URL;
    QString uniqueLibraryID;
};
using PMFrameImageMovieRepresentations = std::vector<PMFrameImageMovieRepresentation>;

// What a movie takes from its movie record when it is made: the record's file, unique
// library ID, frame images (empty for an ordinary file), "Editing Steps" and angle.
struct PMMovieRepresentationValues {
    QUrl URL;
    QString uniqueLibraryID;
    PMFrameImageMovieRepresentations frameImageMovieRepresentations;
    platform::ArrayPtr editingSteps;
    int angle = 0;
};

class PMMovie {
public:
    // The asset of a file: a sequence bundle's parts as one composition, a converted movie
    // for an animated image (while conversion is on) or for a set of frame images, or the
    // file itself. Nothing for a bundle without parts.
    static PMAssetPtr assetWithURL(const QUrl& URL, const QString& identifier, const PMFrameImageMovieRepresentations& frameImageMovieRepresentations,
        const platform::media::AssetOptions& options);
    // The parts of a sequence bundle played one after another; nothing when a part cannot
    // be inserted or no part has a track.
    static PMAssetPtr assetWithSequencePaths(const QStringList& paths, const QString& identifier, const platform::media::AssetOptions& options);
    // The asset with the editing steps replayed on it. With `canEdit` given (or with
    // steps), the asset is a composition that further steps can change, and `canEdit`
    // tells whether it is. Without frame images, the duration and size are also handed to
    // the asset-values handler once they have loaded.
    static PMAssetPtr assetWithURL(const QUrl& URL, const QString& uniqueLibraryID, const PMFrameImageMovieRepresentations& frameImageMovieRepresentations,
        const platform::ArrayPtr& editingActionDescriptions, bool* canEdit);
    // The same without frame images and without asking for edits.
    static PMAssetPtr assetWithURL(const QUrl& URL, const QString& uniqueLibraryID, const platform::ArrayPtr& editingActionDescriptions);

    explicit PMMovie(const PMMovieRepresentationValues& movieRepresentation);

    // The asset the player plays, built on first request; nothing without a URL or asset.
    PMAssetPtr asset();
    bool canEdit();
    platform::ArrayPtr editingActionDescriptions() const { return m_editingActionDescriptions; }
    // The player of the asset, made on first request; nothing without a URL or an asset
    // built before. A player made before its asset builds the asset on a worker: its item
    // gets ready or fails as the asset turns out, and `asset` answers nothing until then.
    PMPlayerPtr player();
    PMPlayerPtr existingPlayer() const { return m_player; }

    // Applies a new step (1 Trim, 2 Delete) between the times; answers the step to store
    // ({"Action", "Range"}), or nothing when the movie cannot be edited or nothing changed.
    platform::DictionaryPtr editWithAction(int action, double betweenStart, double andEnd);

    void setAspectRatio(double aspectRatio);
    void setRotatesNaturalSize(bool rotatesNaturalSize);
    bool rotatesNaturalSize() const { return m_rotatesNaturalSize; }
    void invalidateNaturalSizeWithCustomVisibleArea(const platform::DictionaryPtr& visibleArea);
    QSizeF naturalSize();
    QSizeF naturalSizeWithMagnification(double magnification);
    float frameRate();

private:
    struct AssetBuild;
    void adoptBuiltAsset();

    QUrl m_URL;
    QString m_uniqueLibraryID;
    PMFrameImageMovieRepresentations m_frameImageMovieRepresentations;
    bool m_canEdit = false;
    platform::ArrayPtr m_editingActionDescriptions;
    PMAssetPtr m_asset;
    bool m_assetBuilt = false;
    std::shared_ptr<AssetBuild> m_build;
    PMPlayerPtr m_player;
    bool m_rotatesNaturalSize = false;
    QSizeF m_naturalSize;
    float m_frameRate = -1;
};

// The record's name for a shared movie (the free function PMMovie names the record of a
// library value, so the class is spelt out here).
using PMPlaybackMoviePtr = std::shared_ptr<class PMMovie>;

// ---- The player's extension: times in seconds, exact seeking, frame grabs

// Seeks exactly to the time (0 for negative times, at most the duration) unless the
// player is within 0.01 s of it already.
void setCurrentTimeValue(platform::media::Player& player, double seconds);
// The current time and the duration in seconds; 0 without player or item.
double currentTimeValue(const platform::media::Player* player);
double durationValue(const platform::media::Player* player);
// The frame shown now, grabbed exactly from the player's asset (a playing player pauses
// for it and goes on afterwards).
platform::ImagePtr frameImageAtCurrentTimeFlippedHorizontally(platform::media::Player& player, bool flipHorizontally, int angle,
    const platform::DictionaryPtr& visibleArea, const platform::Value& aspectRatio, QSizeF maximumSize);

// ---- Frame grabs (the asset's extension)

// The frame shown at the time (exact, display matrix applied), passed through the frame
// image transform; nothing for a time that is not a number or a frame that cannot be read.
platform::ImagePtr frameImageAtTime(const PMAssetPtr& asset, double seconds, bool flipHorizontally, int angle, const platform::DictionaryPtr& visibleArea,
    const platform::Value& aspectRatio, QSizeF maximumSize);
// The transform that turns a grabbed frame into what the player shows (flip, angle,
// visible area, aspect ratio, maximum size). The image layer installs its transform here;
// until one is installed a frame is only fitted into the maximum size.
using PMFrameImageTransform = std::function<platform::ImagePtr(const platform::ImagePtr& image, bool flipHorizontally, int angle,
    const platform::DictionaryPtr& visibleArea, const platform::Value& aspectRatio, QSizeF maximumSize)>;
void PMSetFrameImageTransform(PMFrameImageTransform transform);

// ---- Free functions

// Rounds half away from zero; a result below 1 becomes 0 for inputs below 0.1, else 1.
qint64 PMRoundedSeconds(double seconds);

// The player's engine reports into the program's log: errors always, warnings only as
// diagnostic lines (with "PMDebugLog" set).
void PMLogEngineMessagesOfPlayer(platform::media::Player& player);

// The asset's duration in whole seconds; 0 when it is not a number.
qint64 PMAssetDurationSeconds(const PMAssetPtr& asset);
// The duration of an animated image in whole seconds: -1 when nothing can be read and the
// URL is no existing file, 0 when nothing can be read otherwise or the image is still, 1
// for an animation shorter than a second.
qint64 PMAnimatedImageDuration(const QUrl& URL);
// The largest display size over the visual tracks (their natural size through their
// display matrix); zero without visual tracks.
QSizeF PMAssetNaturalSize(const PMAssetPtr& asset);
// The folder of converted movies; with `create`, made (mode 0700) and empty on failure.
QString PMAutoConvertedAssetsFolder(bool create);
// Drops converted movies: all of them (nullopt), or those whose key begins with one of
// the unique IDs; a file that cannot be removed keeps its key as a failed conversion.
void PMAutoConvertedAssetsPurge(const std::optional<QStringList>& uniqueLibraryIDs);
// "d:hh:mm:ss.mmm/1000" and back (-1 for text that is not such a time).
QString PMMovieTimestampString(double seconds);
double PMMovieTimestampParse(const QString& text);
// Applies one step to a composition: 1 Trim (keep [start, start + length)), 2 Delete
// (remove it). Answers "Trim" or "Delete", or an empty text when nothing was applied.
QString PMMovieApplyEditingStep(const platform::media::CompositionPtr& composition, int action, double start, double length);

// The process-wide flag of "Convert Animated Images To Movies" (read at launch and set by
// the preferences when the user changes it).
void PMSetConvertsAnimatedImagesToMovies(bool converts);
// Whether the conversion of the key (a record's unique library ID) has been decided: its
// movie is there, or it failed and the source plays. Until then building the asset
// converts, which takes a while.
bool PMAutoConvertedAssetIsAvailable(const QString& key);
// Tests: called on the converting thread as each conversion starts, with no lock held.
void PMSetConversionStartHookForTesting(std::function<void(const QString& key)> hook);
// The converted movie of the key, when its conversion succeeded; else empty.
QString PMAutoConvertedAssetPath(const QString& key);
bool PMConvertsAnimatedImagesToMovies();

// Where the loaded duration (whole seconds) and size text ("{w, h}") of a record's asset
// go, on the main thread; the main controller installs its updater here.
using PMAssetValuesHandler = std::function<void(qint64 seconds, const QString& assetSizeDescription, const QString& uniqueLibraryID)>;
void PMSetAssetValuesHandler(PMAssetValuesHandler handler);

// The parts of a sequence bundle (a folder named with a sequence suffix) in numeric-aware
// name order; nullopt for a URL that is no such folder.
std::optional<QStringList> PMSequencePaths(const QUrl& URL);
// Whether the URL names an animated image file (GIF, PNG or WebP).
bool PMIsAnimatedImageURL(const QUrl& URL);
