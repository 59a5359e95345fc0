// The process-wide image loader: here its writing half. Every write and deletion in the
// image folders runs on one serial save queue, in request order; what waits for its write
// is kept in memory and served to readers meanwhile. A write never deletes first: the new
// file goes through the one save function, and only then are the other variant and the
// stale reduced copy removed, so a failed write keeps the old picture.
#pragma once

#include "platform/Image.h"
#include "platform/Queues.h"

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QString>

#include <functional>
#include <mutex>

class PMMovieRepresentationPrototype;

// Whether the ID may name a file: not empty, no "/", not "." or "..", and the UUID form of
// the program's IDs or one of the known media-library prefixes.
bool PMIsWellFormedImageID(const QString& uniqueLibraryID);

class PMMovieRepresentationImageLoader {
public:
    static PMMovieRepresentationImageLoader& defaultLoader();

    using CompletionHandler = std::function<void(bool succeeded)>;

    // Store (or, with nothing, remove) the record's cover or preview. The handler, when
    // given, learns on the main thread whether the write succeeded.
    void saveCoverImage(const platform::ImagePtr& image, PMMovieRepresentationPrototype& movie, CompletionHandler completion = {});
    void savePosterImage(const platform::ImagePtr& image, PMMovieRepresentationPrototype& movie, CompletionHandler completion = {});
    // The shared body, for a folder and an ID.
    void saveImage(const platform::ImagePtr& image, bool asCoverImage, const QString& folder, const QString& uniqueLibraryID,
                   bool triggerStandardIndexImageLoadingIfNew, PMMovieRepresentationPrototype* movie, CompletionHandler completion);

    // Reduced copies made from the picture of the generation given (imageGeneration at the
    // time the picture was read); one whose picture has since been replaced is dropped.
    void saveUnderscoreCoverImageJPEGRepresentation(const QByteArray& data, const QString& basePath, const QString& uniqueLibraryID,
                                                    quint64 generation);
    void saveUnderscorePosterImageJPEGRepresentation(const QByteArray& data, const QString& basePath, const QString& uniqueLibraryID,
                                                     quint64 generation);
    // The generation of a record's cover or preview: rises with every save of it.
    quint64 imageGeneration(bool cover, const QString& uniqueLibraryID) const;

    // What waits for its write (main thread).
    platform::ImagePtr pendingCoverImage(const QString& uniqueLibraryID) const { return m_saveQueueCoverImagesByID.value(uniqueLibraryID); }
    platform::ImagePtr pendingPosterImage(const QString& uniqueLibraryID) const { return m_saveQueuePosterImagesByID.value(uniqueLibraryID); }
    QByteArray pendingUnderscoreCoverJPEGRepresentation(const QString& uniqueLibraryID) const
    {
        return m_saveQueueUnderscoreCoverJPEGRepresentationsByID.value(uniqueLibraryID);
    }
    QByteArray pendingUnderscorePosterJPEGRepresentation(const QString& uniqueLibraryID) const
    {
        return m_saveQueueUnderscorePosterJPEGRepresentationsByID.value(uniqueLibraryID);
    }

    // Waits until every write queued so far is done (quit, tests).
    void waitForSaveQueue() { m_saveQueue.waitUntilEmpty(); }

    // Started for a record whose first preview was written ("Cycle Through Index Image On
    // Hover"); the hover frames install it.
    std::function<void(PMMovieRepresentationPrototype&)> generateStandardIndexImageWrappers;

private:
    PMMovieRepresentationImageLoader();
    void saveUnderscoreImageJPEGRepresentation(const QByteArray& data, const QString& basePath, const QString& uniqueLibraryID, bool cover,
                                               quint64 generation);

    platform::SerialQueue m_saveQueue;
    QHash<QString, platform::ImagePtr> m_saveQueueCoverImagesByID;
    QHash<QString, QByteArray> m_saveQueueUnderscoreCoverJPEGRepresentationsByID;
    QHash<QString, platform::ImagePtr> m_saveQueuePosterImagesByID;
    QHash<QString, QByteArray> m_saveQueueUnderscorePosterJPEGRepresentationsByID;
    mutable std::mutex m_generationMutex; // the save queue reads the generations too
    QHash<QString, quint64> m_coverGenerations, m_posterGenerations;
};
