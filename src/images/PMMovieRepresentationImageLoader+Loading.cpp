// The loader's reading half: queued loads in two stages (reduced copies, then the full
// pictures where a tile needs them), the throttle and re-ranking that the grid drives,
// cancelling, and the one-at-a-time hover-frame generation.
#include "images/PMMovieRepresentationImageLoader.h"

#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMQuickLook.h"
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoaderRequest.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ImageReading.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "images/NSImage+PMBlurredImages.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <cmath>

using platform::ImagePtr;
using Priority = platform::Operation::Priority;

namespace {

const QString kFrameFractionKey = prefs::keys::LoadFrameImagesFraction;

ImagePtr decodeJPEG(const QByteArray& data)
{
    QImage pixels = platform::readImageData(data, "JPEG");
    if (pixels.isNull())
        return nullptr;
    return platform::Image::make(std::move(pixels));
}

// A reduced copy, decoded only as large as needed to cover the tile (a JPEG decodes at a
// fraction of its size directly): a screenful of tiles takes a fraction of the time and
// memory, and a copy too small for the tile stays too small.
ImagePtr readUnderscoreImage(const QString& basePath, QSizeF tilePixels)
{
    const QString path = basePath + QStringLiteral(".jpg");
    QSize fit;
    // The header is read first: a named pipe or any other non-file is refused before that.
    const QSize size = platform::imageFileSize(path);
    if (!size.isValid())
        return nullptr;
    if (size.isValid() && tilePixels.width() >= 1 && tilePixels.height() >= 1) {
        const QSize cover = size.scaled(QSize(int(std::ceil(tilePixels.width())), int(std::ceil(tilePixels.height()))), Qt::KeepAspectRatioByExpanding);
        if (cover.width() < size.width() && cover.height() < size.height())
            fit = cover;
    }
    return PMImageWithContentsOfFile(path, fit);
}

} // namespace

ImagePtr PMExternalMediaArtworkImage(const platform::Value& mediaObject)
{
    // The media library hands its artwork over as encoded image data, alone or under
    // "artworkImage".
    QByteArray data;
    if (mediaObject.isData())
        data = mediaObject.data();
    else if (mediaObject.isDictionary())
        if (const platform::Value artwork = mediaObject.dictionary()->value(QStringLiteral("artworkImage")); artwork.isData())
            data = artwork.data();
    if (data.isEmpty())
        return nullptr;
    QImage pixels = platform::readImageData(data);
    if (pixels.isNull())
        return nullptr;
    return platform::Image::make(std::move(pixels));
}

ImagePtr PMShownImage(const ImagePtr& image, const PMMovieRepresentationImageLoader::LoadRequest& request)
{
    if (!image || !request.scalingWanted)
        return image;
    ImagePtr shown = imageWithImage(image, false, 0, nullptr, std::nullopt, request.maximumSize, false);
    blurredImageWithSize(shown, request.maximumSize, false, nullptr);
    return shown;
}

double PMMovieRepresentationImageLoader::frameTimeFraction()
{
    const platform::Value value = platform::UserDefaults::standard().objectForKey(kFrameFractionKey);
    if (!value.isNumber())
        return 0.05;
    const double fraction = value.toDouble();
    if (!(fraction == fraction))
        return 0.05;
    return std::clamp(fraction, 0.0, 1.0);
}

void PMMovieRepresentationImageLoader::setFrameTimeFraction(double fraction)
{
    platform::UserDefaults::standard().setObject(platform::Value(fraction), kFrameFractionKey);
}

platform::OperationQueue& PMMovieRepresentationImageLoader::crawlQueue()
{
    return PMCrawlQueue::operationQueue();
}

// ---- Throttle, re-ranking, cancelling

void PMMovieRepresentationImageLoader::throttleLoading(unsigned n)
{
    if (n > 0) {
        const int current = m_loadQueue->maxConcurrentOperationCount();
        if (m_loadQueueThrottleLevel == 0 || current <= 0 || current > int(n))
            m_loadQueue->setMaxConcurrentOperationCount(int(n));
        ++m_loadQueueThrottleLevel;
        return;
    }
    if (m_loadQueueThrottleLevel == 0) {
        PMLog("image loading was not throttled: an unbalanced release is ignored");
        return;
    }
    if (--m_loadQueueThrottleLevel == 0)
        m_loadQueue->setMaxConcurrentOperationCount(-1);
}

void PMMovieRepresentationImageLoader::updateLoadingPrioritiesWithVisibleRect(QRectF visibleRect)
{
    // The picture loads are found through their index: the queues also hold thousands of
    // other operations (durations, file details) that a scroll step must not walk.
    std::vector<std::shared_ptr<PMMovieRepresentationImageLoaderOperation>> loads;
    {
        std::lock_guard lock(m_waitingLoadsMutex);
        for (const std::vector<IndexedLoad>& byID : std::as_const(m_waitingLoadsByID))
            for (const IndexedLoad& load : byID)
                if (auto op = load.op.lock())
                    loads.push_back(std::move(op));
    }
    for (const auto& load : loads) {
        if (load->isExecuting() || load->isFinished() || load->viewFrame().isEmpty())
            continue;
        const Priority current = load->queuePriority();
        if (int(current) >= int(Priority::High)) // high and very high stay
            continue;
        const Priority next = load->viewFrame().intersects(visibleRect) ? Priority::Normal : Priority::Low;
        if (next != current)
            load->setQueuePriority(next);
    }
}

void PMMovieRepresentationImageLoader::enqueueLoad(const std::shared_ptr<PMMovieRepresentationImageLoaderOperation>& op, bool onCrawlQueue,
                                                   std::shared_ptr<std::atomic_bool> searchForgotten)
{
    {
        std::lock_guard lock(m_waitingLoadsMutex);
        std::vector<IndexedLoad>& loads = m_waitingLoadsByID[op->imageLoaderReference()];
        // Loads that ended went with their queue: only the record's live ones stay listed.
        std::erase_if(loads, [](const IndexedLoad& load) { return load.op.expired(); });
        loads.push_back(IndexedLoad{op, onCrawlQueue, std::move(searchForgotten)});
    }
    if (platform::isMainThread() && m_batchDepth > 0) {
        (onCrawlQueue ? m_batchedCrawls : m_batchedLoads).push_back(op);
        return;
    }
    (onCrawlQueue ? crawlQueue() : *m_loadQueue).addOperation(op);
}

PMMovieRepresentationImageLoader::LoadBatch::LoadBatch()
{
    ++defaultLoader().m_batchDepth;
}

PMMovieRepresentationImageLoader::LoadBatch::~LoadBatch()
{
    PMMovieRepresentationImageLoader& loader = defaultLoader();
    if (--loader.m_batchDepth > 0)
        return;
    if (!loader.m_batchedLoads.empty())
        loader.m_loadQueue->addOperations(std::exchange(loader.m_batchedLoads, {}));
    if (!loader.m_batchedCrawls.empty())
        loader.crawlQueue().addOperations(std::exchange(loader.m_batchedCrawls, {}));
}

void PMMovieRepresentationImageLoader::cancelLoadingForMovieRepresentation(PMMovieRepresentationPrototype& movie)
{
    std::vector<IndexedLoad> loads;
    {
        std::lock_guard lock(m_waitingLoadsMutex);
        auto it = m_waitingLoadsByID.find(movie.uniqueLibraryID());
        if (it == m_waitingLoadsByID.end())
            return;
        loads = std::move(it.value());
        m_waitingLoadsByID.erase(it);
    }
    std::vector<IndexedLoad> kept;
    for (const IndexedLoad& load : loads) {
        const std::shared_ptr<PMMovieRepresentationImageLoaderOperation> op = load.op.lock();
        if (!op || op->isFinished())
            continue;
        // A load asked for at high priority (a picture the user is waiting for) stays.
        if (!op->isExecuting() && (load.onCrawlQueue || int(op->queuePriority()) < int(Priority::High))) {
            op->cancel();
            // A search cancelled while waiting is forgotten now (its completion comes later,
            // on another thread): the tile coming straight back asks for one again.
            if (load.searchForgotten && !load.searchForgotten->exchange(true)) {
                m_searchesByID.remove(op->imageLoaderReference());
                if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
                    update(-1);
            }
        } else {
            kept.push_back(load);
        }
    }
    if (!kept.empty()) {
        std::lock_guard lock(m_waitingLoadsMutex);
        std::vector<IndexedLoad>& loads = m_waitingLoadsByID[movie.uniqueLibraryID()];
        loads.insert(loads.end(), kept.begin(), kept.end());
    }
}

int PMMovieRepresentationImageLoader::queuedLoadCountForID(const QString& uniqueLibraryID) const
{
    std::lock_guard lock(m_waitingLoadsMutex);
    int count = 0;
    for (const IndexedLoad& load : m_waitingLoadsByID.value(uniqueLibraryID))
        if (const auto op = load.op.lock(); op && !op->isFinished() && !op->isCancelled())
            ++count;
    return count;
}

// ---- Queuing a load

void PMMovieRepresentationImageLoader::loadCoverImageAndPosterImageForMovieRepresentation(PMMovieRepresentationPrototype& movie, bool checkUnderscoreImages,
    QSizeF maximumSize, QRectF viewFrame, Priority priority, SuccessHandler successHandler)
{
    auto request = std::make_shared<LoadRequest>();
    LoadRequest& r = *request;
    r.record = movie.sharedRecord();
    // An animated image is its own picture (its first frame) even while it plays as a
    // converted movie: a tile never waits for a conversion or a frame grab.
    r.isStillImage = movie.isConsideredStillImage() || isAnimatedImagePathExtension(movie.filenameExtension().toLower());
    r.isStillImageWithoutAnimation = r.isStillImage && movie.durationIfCached(true) < 1;
    r.uniqueLibraryID = movie.uniqueLibraryID();
    r.displayName = movie.displayNameWithExtension(false);
    if (movie.canPlay())
        r.url = movie.URL();
    r.flipHorizontally = movie.isFlippedHorizontally();
    r.angle = movie.angle();
    const platform::DictionaryPtr settings = movie.userSettings();
    if (const platform::Value area = settings->value(QStringLiteral("Visible Area")); area.isDictionary())
        r.visibleArea = std::make_shared<platform::Dictionary>(*area.dictionary()); // the queues read a copy of their own
    if (const platform::Value ratio = settings->value(QStringLiteral("Aspect Ratio")); ratio.hasNumericValue())
        r.aspectRatio = ratio.toDouble();
    r.maximumSize = maximumSize;
    r.scalingWanted = maximumSize.width() > 0.1;
    r.checkUnderscoreImages = checkUnderscoreImages && r.scalingWanted && PMImageFolderSettings::shared().usesUnderscoreImages;
    r.backingScaleFactor = PMLargestBackingScaleFactor();
    r.pendingCoverImage = m_saveQueueCoverImagesByID.value(r.uniqueLibraryID);
    r.pendingUnderscoreCover = m_saveQueueUnderscoreCoverJPEGRepresentationsByID.value(r.uniqueLibraryID);
    if (!r.pendingCoverImage) {
        r.coverFolder = PMMainController::mainController().coverImageDirectoryPath();
        r.externalMediaArtwork = PMExternalMediaArtworkImage(movie.original().m_associatedMLMediaObject);
    }
    r.pendingPosterImage = m_saveQueuePosterImagesByID.value(r.uniqueLibraryID);
    r.pendingUnderscorePoster = m_saveQueueUnderscorePosterJPEGRepresentationsByID.value(r.uniqueLibraryID);
    if (!r.pendingPosterImage) {
        r.posterFolder = PMMainController::mainController().posterImageDirectoryPath();
        if (!r.isStillImage)
            if (const platform::Value steps = settings->value(QStringLiteral("Editing Steps")); steps.isArray())
                r.editingSteps = steps.array();
    }
    r.coverGeneration = imageGeneration(true, r.uniqueLibraryID);
    r.posterGeneration = imageGeneration(false, r.uniqueLibraryID);
    r.handler = std::move(successHandler);
    r.priority = priority;
    r.viewFrame = viewFrame;
    if (!PMIsWellFormedImageID(r.uniqueLibraryID)) {
        // No file can be named by this ID: nothing is read or written for it.
        r.coverFolder.clear();
        r.posterFolder.clear();
    }
    auto op = std::make_shared<PMMovieRepresentationImageLoaderOperation>(r.uniqueLibraryID, viewFrame, [this, request] { runUnderscoreStage(request); });
    op->setQueuePriority(priority);
    enqueueLoad(op, false);
}

bool PMMovieRepresentationImageLoader::LoadRequest::isSufficient(const ImagePtr& image) const
{
    if (!image)
        return false;
    const QSizeF pixels = image->pixelSize();
    return pixels.width() + 5 > backingScaleFactor * maximumSize.width() && pixels.height() + 5 > backingScaleFactor * maximumSize.height();
}

void PMMovieRepresentationImageLoader::runUnderscoreStage(const std::shared_ptr<LoadRequest>& request)
{
    LoadRequest& r = *request;
    ImagePtr cover, poster;
    if (r.checkUnderscoreImages) {
        if (!r.pendingUnderscoreCover.isEmpty()) {
            cover = decodeJPEG(r.pendingUnderscoreCover);
        } else if (!r.coverFolder.isEmpty()) {
            r.underscoreCoverBasePath = r.coverFolder + QStringLiteral("/_/") + r.uniqueLibraryID;
            checkFolderPathAndCreateIfNecessary(r.coverFolder + QStringLiteral("/_"));
            if (!r.pendingCoverImage)
                cover = readUnderscoreImage(r.underscoreCoverBasePath, r.maximumSize * r.backingScaleFactor);
        }
        if (!r.pendingUnderscorePoster.isEmpty()) {
            poster = decodeJPEG(r.pendingUnderscorePoster);
        } else if (!r.posterFolder.isEmpty()) {
            r.underscorePosterBasePath = r.posterFolder + QStringLiteral("/_/") + r.uniqueLibraryID;
            checkFolderPathAndCreateIfNecessary(r.posterFolder + QStringLiteral("/_"));
            if (!r.pendingPosterImage)
                poster = readUnderscoreImage(r.underscorePosterBasePath, r.maximumSize * r.backingScaleFactor);
        }
        // A still image without animation is its own preview: a reduced copy of it is
        // only a stand-in while the file is read.
    }
    const bool shown = cover || poster;
    if (shown) {
        for (const ImagePtr& image : {cover, poster}) {
            if (!image)
                continue;
            image->associatedSourceType = PMImageSourceTypeUnderscore;
            blurredImageWithSize(image, r.maximumSize, false, nullptr);
        }
        platform::dispatchAsyncMain([request, cover, poster] {
            if (request->record.expired())
                return; // the record went meanwhile
            if (request->handler)
                request->handler(cover, poster);
        });
    }
    const bool coverSufficient = r.isSufficient(cover), posterSufficient = r.isSufficient(poster);
    if (coverSufficient && posterSufficient)
        return;
    const bool needsCover = !coverSufficient, needsPoster = !posterSufficient;
    const bool coverShown = bool(cover);
    if (cover)
        r.underscoreCoverBasePath.clear(); // a copy exists: none is written
    if (poster)
        r.underscorePosterBasePath.clear();
    auto full = std::make_shared<PMMovieRepresentationImageLoaderOperation>(
        r.uniqueLibraryID, (!shown && r.priority != Priority::VeryLow) ? QRectF() : r.viewFrame,
        [this, request, needsCover, needsPoster, coverShown] { runFullStage(request, needsCover, needsPoster, coverShown); });
    if (!shown && r.priority != Priority::VeryLow) {
        full->setQueuePriority(r.priority);
        enqueueLoad(full, false);
    } else {
        full->setQueuePriority(Priority::High);
        enqueueLoad(full, true);
    }
}

void PMMovieRepresentationImageLoader::runFullStage(const std::shared_ptr<LoadRequest>& request, bool needsCover, bool needsPoster, bool coverShown)
{
    LoadRequest& r = *request;
    ImagePtr fullCover, shownCover, fullPoster, shownPoster, posterSource;
    bool updatesThumbnailSize = false;
    if (needsCover) {
        fullCover = r.pendingCoverImage;
        if (!fullCover && !r.coverFolder.isEmpty())
            fullCover = coverImageWithBasePath(r.coverFolder + QLatin1Char('/') + r.uniqueLibraryID, r.externalMediaArtwork);
        shownCover = PMShownImage(fullCover, r);
    }
    if (needsPoster) {
        const QString posterBasePath = (r.isStillImageWithoutAnimation || r.posterFolder.isEmpty()) ? QString() : r.posterFolder + QLatin1Char('/') + r.uniqueLibraryID;
        if (!r.isStillImage) {
            fullPoster = r.pendingPosterImage;
            if (!fullPoster && !posterBasePath.isEmpty())
                fullPoster = posterImageWithBasePath(posterBasePath);
            if (!fullPoster) {
                // A cover shown from its reduced copy counts as found: no search overwrites it.
                if (fullCover || coverShown) {
                    updatesThumbnailSize = true;
                } else if (!r.url.isEmpty()) {
                    // Whether an earlier search found nothing in this very file is
                    // answered from its stamp, read here rather than on the main thread.
                    platform::dispatchAsyncMain([this, request, file = stampOfURL(r.url)] { queueSearchForMissingImage(request, file); });
                    return;
                }
            } else {
                shownPoster = PMShownImage(fullPoster, r);
                updatesThumbnailSize = true;
            }
        } else {
            bool found = false;
            if (!r.isStillImageWithoutAnimation && !posterBasePath.isEmpty()) {
                if (ImagePtr stored = posterImageWithBasePath(posterBasePath)) {
                    fullPoster = stored;
                    shownPoster = r.scalingWanted ? imageWithImage(stored, false, 0, nullptr, std::nullopt, r.maximumSize, false) : stored;
                    found = true;
                }
            }
            if (!found && !r.url.isEmpty() && r.url.isLocalFile()) {
                const QString path = r.url.toLocalFile();
                fullPoster = PMImageWithContentsOfFile(path);
                if (fullPoster) {
                    fullPoster->associatedSourcePath = path;
                    const bool untouched = !r.scalingWanted && !r.flipHorizontally && r.angle == 0 && !r.visibleArea && !r.aspectRatio;
                    if (untouched) {
                        shownPoster = fullPoster;
                    } else {
                        // The transform records the picture's size with the record (on the main thread).
                        // A tile shows one picture: an animation's frames are not converted for it.
                        shownPoster = imageWithImage(fullPoster, r.flipHorizontally, r.angle, r.visibleArea, r.aspectRatio, r.maximumSize,
                                                     PMImageInterpolation::High, false, false, r.record.lock(), true);
                        if (r.scalingWanted)
                            blurredImageWithSize(shownPoster, r.maximumSize, false, nullptr);
                        if (r.pendingUnderscorePoster.isEmpty() && !r.underscorePosterBasePath.isEmpty())
                            posterSource = imageWithImage(fullPoster, r.flipHorizontally, r.angle, r.visibleArea, r.aspectRatio, QSizeF(0, 0),
                                                          PMImageInterpolation::High, false, false, nullptr, false);
                    }
                }
            }
        }
    }
    if (!shownCover && !shownPoster)
        return;
    QByteArray underscoreCover, underscorePoster;
    if (shownCover && !r.underscoreCoverBasePath.isEmpty())
        underscoreCover = underscoreImageJPEGRepresentation(fullCover ? fullCover : shownCover);
    if (shownPoster && !r.underscorePosterBasePath.isEmpty())
        underscorePoster = underscoreImageJPEGRepresentation(posterSource ? posterSource : (fullPoster ? fullPoster : shownPoster));
    const bool updateSize = updatesThumbnailSize && needsCover && needsPoster;
    const ImagePtr sizeSource = fullPoster ? fullPoster : shownPoster ? shownPoster : fullCover ? fullCover : shownCover;
    platform::dispatchAsyncMain([this, request, shownCover, shownPoster, underscoreCover, underscorePoster, updateSize, sizeSource] {
        LoadRequest& r = *request;
        std::shared_ptr<PMMovieRepresentationPrototype> record = r.record.lock();
        if (!record)
            return; // deleted meanwhile: nothing to show it on
        if (updateSize)
            record->updateThumbnailSizeDescriptionWithImage(sizeSource);
        if (!underscoreCover.isEmpty())
            saveUnderscoreCoverImageJPEGRepresentation(underscoreCover, r.underscoreCoverBasePath, r.uniqueLibraryID, r.coverGeneration);
        if (!underscorePoster.isEmpty())
            saveUnderscorePosterImageJPEGRepresentation(underscorePoster, r.underscorePosterBasePath, r.uniqueLibraryID, r.posterGeneration);
        if (r.handler)
            r.handler(shownCover, shownPoster);
    });
}

// ---- Hover frames

void PMMovieRepresentationImageLoader::generateStandardIndexImageWrappersForMovieRepresentation(PMMovieRepresentationPrototype& movie)
{
    if (movie.isConsideredStillImage())
        return;
    const QString id = movie.uniqueLibraryID();
    if (m_indexImageLoadQueueMovieRepresentationsByID.contains(id))
        return;
    m_indexImageLoadQueueMovieRepresentationsByID.insert(id, movie.sharedRecord());
    m_indexImageLoadOrder.append(id);
    if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
        update(1);
    if (m_indexImageLoadQueueMovieRepresentationsByID.size() == 1) {
        if (standardIndexImageWrappersWithCompletionHandler)
            standardIndexImageWrappersWithCompletionHandler(movie, [this, id] { processStandardIndexImageWrappers(id); });
        else
            platform::dispatchAsyncMain([this, id] { processStandardIndexImageWrappers(id); });
    }
}

void PMMovieRepresentationImageLoader::processStandardIndexImageWrappers(const QString& id)
{
    if (!m_indexImageLoadQueueMovieRepresentationsByID.remove(id))
        return;
    m_indexImageLoadOrder.removeAll(id);
    if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
        update(-1);
    // The next record: the one queued last. A record that went meanwhile is skipped.
    while (!m_indexImageLoadOrder.isEmpty()) {
        const QString next = m_indexImageLoadOrder.last();
        std::shared_ptr<PMMovieRepresentationPrototype> record = m_indexImageLoadQueueMovieRepresentationsByID.value(next).lock();
        if (record) {
            if (standardIndexImageWrappersWithCompletionHandler)
                standardIndexImageWrappersWithCompletionHandler(*record, [this, next] { processStandardIndexImageWrappers(next); });
            else
                platform::dispatchAsyncMain([this, next] { processStandardIndexImageWrappers(next); });
            return;
        }
        m_indexImageLoadQueueMovieRepresentationsByID.remove(next);
        m_indexImageLoadOrder.removeLast();
        if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
            update(-1);
    }
}
