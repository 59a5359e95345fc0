// The process-wide image loader. Loads run on a loading queue that the grid throttles and
// re-ranks (visible tiles first): reduced copies first, the full pictures only where a tile
// needs more pixels, and a search for a picture (one per record, remembered when it found
// nothing) on the crawl queue. Results reach the caller and the loader's tables on the main
// thread; loads name their record by unique ID and hold it weakly.
//
// The writing half: Every write and deletion in the
// image folders runs on one serial save queue, in request order; what waits for its write
// is kept in memory and served to readers meanwhile. A write never deletes first: the new
// file goes through the one save function, and only then are the other variant and the
// stale reduced copy removed, so a failed write keeps the old picture.
#pragma once

#include "library/model/PMImageFolderFiles.h"
#include "platform/Image.h"
#include "platform/Queues.h"

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QString>

#include <QtCore/QRectF>
#include <QtCore/QSet>
#include <QtCore/QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class PMMovieRepresentationPrototype;

// The height of the tiles' headers while they are always shown (0 otherwise): a view's
// usable height for pictures is its height less this. The grid sets it.
void PMSetAlwaysShownTileHeaderHeight(double height);
double PMAlwaysShownTileHeaderHeight();

// One queued load: the unique ID of the record it works for (compared when cancelling) and
// the requesting tile's frame in the grid (empty: not re-ranked).
class PMMovieRepresentationImageLoaderOperation final : public platform::Operation {
public:
    PMMovieRepresentationImageLoaderOperation(QString imageLoaderReference, QRectF viewFrame, std::function<void()> body)
        : m_imageLoaderReference(std::move(imageLoaderReference)), m_viewFrame(viewFrame), m_body(std::move(body))
    {
    }
    const QString& imageLoaderReference() const { return m_imageLoaderReference; }
    QRectF viewFrame() const { return m_viewFrame; }
    void main() override
    {
        if (m_body)
            m_body();
        m_body = nullptr; // what the body captured goes with it
    }

private:
    const QString m_imageLoaderReference;
    const QRectF m_viewFrame;
    std::function<void()> m_body;
};


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
    // Hover"): the loader's one-at-a-time hover-frame generation.
    std::function<void(PMMovieRepresentationPrototype&)> generateStandardIndexImageWrappers;

    // ---- Loading (main thread)
    using SuccessHandler = std::function<void(const platform::ImagePtr& coverImage, const platform::ImagePtr& posterImage)>;
    // Queues a load; the handler runs on the main thread zero, one or two times (reduced
    // copies first, then better pictures). A maximum width of 0 asks for the stored pictures
    // at full size, untransformed, without reduced copies.
    void loadCoverImageAndPosterImageForMovieRepresentation(PMMovieRepresentationPrototype& movie, bool checkUnderscoreImages, QSizeF maximumSize,
                                                            QRectF viewFrame, platform::Operation::Priority priority, SuccessHandler successHandler);
    // n above 0 pushes a limit of n concurrent loads (a nested push only lowers it); 0 pops one.
    void throttleLoading(unsigned n);
    unsigned loadQueueThrottleLevel() const { return m_loadQueueThrottleLevel; }
    // Waiting loads whose tile is visible move to normal priority, the others to low.
    void updateLoadingPrioritiesWithVisibleRect(QRectF visibleRect);
    // Cancels the record's waiting loads and its waiting search for a picture (running ones
    // end by themselves). Waiting loads are indexed by ID: a cancellation never scans the
    // queues.
    void cancelLoadingForMovieRepresentation(PMMovieRepresentationPrototype& movie);
    // Puts a load on its queue and in the index by ID (any thread: the second stage is
    // queued from the loading threads). Only loads queued so are cancelled with their record.
    // A search passes its flag: set when a cancellation has already forgotten the search.
    void enqueueLoad(const std::shared_ptr<PMMovieRepresentationImageLoaderOperation>& op, bool onCrawlQueue,
                     std::shared_ptr<std::atomic_bool> searchForgotten = nullptr);
    // Loads queued on the main thread while one lives are put on their queues together when
    // it ends (the grid asks for a screenful of tiles at once): one lock per queue, and the
    // most urgent of them start first.
    class LoadBatch {
    public:
        LoadBatch();
        ~LoadBatch();
        LoadBatch(const LoadBatch&) = delete;
        LoadBatch& operator=(const LoadBatch&) = delete;
    };
    // The record's loads (and search) that wait or run (tests, diagnostics).
    int queuedLoadCountForID(const QString& uniqueLibraryID) const;
    platform::OperationQueue& loadQueue() { return *m_loadQueue; }
    platform::OperationQueue& crawlQueue();

    // The fraction of a movie's duration at which its preview frame is taken.
    static double frameTimeFraction();
    static void setFrameTimeFraction(double fraction);

    // Whether a search for a picture of the ID waits or runs; whether one found nothing
    // (remembered for the session, forgotten when the file changes).
    bool isSearchingForMissingImage(const QString& uniqueLibraryID) const { return m_searchesByID.contains(uniqueLibraryID); }
    bool hasFoundNothingFor(const QString& uniqueLibraryID, const QUrl& url) const;
    // Forgets what the searches found nothing for (tests, a new library).
    void forgetFailedSearches() { m_failedSearchesByID.clear(); }

    // ---- Hover frames, one record at a time
    void generateStandardIndexImageWrappersForMovieRepresentation(PMMovieRepresentationPrototype& movie);
    void processStandardIndexImageWrappers(const QString& uniqueLibraryID);
    // How a record makes its hover frames; the hover frames install it. Until then a record
    // is done at once. The completion runs on the main thread.
    std::function<void(PMMovieRepresentationPrototype&, std::function<void()> completion)> standardIndexImageWrappersWithCompletionHandler;
    int waitingStandardIndexImageRecordCount() const { return int(m_indexImageLoadQueueMovieRepresentationsByID.size()); }

    // The average colour (red, green, blue from 0 to 1) of a picture, for the placeholders
    // drawn while pictures load; the image hashes install it. Runs on the crawl queue.
    std::function<std::vector<double>(const platform::ImagePtr&)> rgbAverageComponents;

    // ---- Hover frames on disk (main thread). Writes (or, with nothing, removes) the
    // record's hover-frame folder on the save queue; an empty set of frames is remembered
    // for the session only, so that a failed grab is tried again in the next one.
    using IndexImageWrappers = std::vector<std::shared_ptr<class PMIndexImageWrapper>>;
    void saveStandardIndexImageWrappers(const IndexImageWrappers* wrappers, PMMovieRepresentationPrototype& movie);
    // The record's hover frames still waiting to be written, or nothing.
    const IndexImageWrappers* saveQueueStandardIndexImageWrappersForMovieRepresentation(PMMovieRepresentationPrototype& movie) const;
    bool hasNoStandardIndexImages(const QString& uniqueLibraryID) const { return m_emptyStandardIndexImageIDs.contains(uniqueLibraryID); }

    struct LoadRequest; // what a load captured on the main thread

private:
    PMMovieRepresentationImageLoader();
    // After a failed write: the record's picture in memory goes, and the status line says so.
    void forgetUnsavedImage(PMMovieRepresentationPrototype& movie, const platform::ImagePtr& image, bool asCover);
    void saveUnderscoreImageJPEGRepresentation(const QByteArray& data, const QString& basePath, const QString& uniqueLibraryID, bool cover,
                                               quint64 generation);

    platform::SerialQueue m_saveQueue;
    QHash<QString, platform::ImagePtr> m_saveQueueCoverImagesByID;
    QHash<QString, QByteArray> m_saveQueueUnderscoreCoverJPEGRepresentationsByID;
    QHash<QString, platform::ImagePtr> m_saveQueuePosterImagesByID;
    QHash<QString, QByteArray> m_saveQueueUnderscorePosterJPEGRepresentationsByID;
    // Loading.
    void runUnderscoreStage(const std::shared_ptr<LoadRequest>& request);
    void runFullStage(const std::shared_ptr<LoadRequest>& request, bool needsCover, bool needsPoster, bool coverShown);
    // What a file was when a search found nothing for it (kept for every such movie of the
    // session: its path only as a hash).
    struct FileStamp {
        std::size_t path = 0;
        qint64 size = -1;
        qint64 modified = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // On the main thread, with the file's stamp as the load read it (off the main thread).
    void queueSearchForMissingImage(const std::shared_ptr<LoadRequest>& request, const FileStamp& file);
    void runSearchForMissingImage(const std::shared_ptr<LoadRequest>& request);
    void deliverIconPreview(const std::shared_ptr<LoadRequest>& request);
    std::unique_ptr<platform::OperationQueue> m_loadQueue;
    unsigned m_loadQueueThrottleLevel = 0;
    struct IndexedLoad {
        std::weak_ptr<PMMovieRepresentationImageLoaderOperation> op;
        bool onCrawlQueue = false;
        std::shared_ptr<std::atomic_bool> searchForgotten;
    };
    // Loads held by the main thread's open batches, per queue.
    int m_batchDepth = 0;
    std::vector<platform::OperationPtr> m_batchedLoads, m_batchedCrawls;
    mutable std::mutex m_waitingLoadsMutex;
    QHash<QString, std::vector<IndexedLoad>> m_waitingLoadsByID;
    QSet<QString> m_searchesByID;
    static FileStamp stampOfURL(const QUrl& url);
    QHash<QString, FileStamp> m_failedSearchesByID;
    // Hover frames.
    QHash<QString, std::weak_ptr<PMMovieRepresentationPrototype>> m_indexImageLoadQueueMovieRepresentationsByID;
    QStringList m_indexImageLoadOrder;
    QHash<QString, std::shared_ptr<const IndexImageWrappers>> m_saveQueueStandardIndexImageWrappersByID;
    QSet<QString> m_emptyStandardIndexImageIDs;

    mutable std::mutex m_generationMutex; // the save queue reads the generations too
    QHash<QString, quint64> m_coverGenerations, m_posterGenerations;
};
