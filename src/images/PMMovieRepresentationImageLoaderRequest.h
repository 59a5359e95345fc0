// What a load captures from its record on the main thread; the loader's queues read only
// this (and the files), never the record.
#pragma once

#include "images/PMMovieRepresentationImageLoader.h"
#include "platform/Value.h"

#include <optional>

struct PMMovieRepresentationImageLoader::LoadRequest {
    std::weak_ptr<PMMovieRepresentationPrototype> record;
    QString uniqueLibraryID;
    QString displayName; // without extension
    QUrl url;            // only when the record can play
    bool isStillImage = false;
    bool isStillImageWithoutAnimation = false;
    bool flipHorizontally = false;
    int angle = 0;
    platform::DictionaryPtr visibleArea;
    std::optional<double> aspectRatio;
    platform::ArrayPtr editingSteps;
    QSizeF maximumSize;
    bool scalingWanted = false;
    bool checkUnderscoreImages = false;
    double backingScaleFactor = 1.0;
    platform::ImagePtr pendingCoverImage, pendingPosterImage;
    QByteArray pendingUnderscoreCover, pendingUnderscorePoster;
    QString coverFolder, posterFolder;
    platform::ImagePtr externalMediaArtwork;
    // Where reduced copies go; cleared when one was shown (nothing is written then).
    QString underscoreCoverBasePath, underscorePosterBasePath;
    quint64 coverGeneration = 0, posterGeneration = 0;
    SuccessHandler handler;
    platform::Operation::Priority priority = platform::Operation::Priority::Normal;
    QRectF viewFrame;

    // Large enough for the tile in device pixels, within 5 pixels.
    bool isSufficient(const platform::ImagePtr& image) const;
};

// The artwork that the media library keeps for an external item, when it hands one over.
platform::ImagePtr PMExternalMediaArtworkImage(const platform::Value& mediaObject);
// The image as a tile shows it: reduced to the maximum size with its blurred copy made,
// when scaling is wanted; else the image itself.
platform::ImagePtr PMShownImage(const platform::ImagePtr& image, const PMMovieRepresentationImageLoader::LoadRequest& request);
