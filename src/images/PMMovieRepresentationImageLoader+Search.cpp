// The search for a picture of a movie that has neither cover nor preview: image files named
// after it in the external cover and preview folders, then the file's own thumbnail and a
// frame of the movie, and last the icon of its type (shown, never stored). One search per
// record at a time; a search that found nothing is remembered until the file changes.
#include "images/PMMovieRepresentationImageLoader.h"

#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMQuickLook.h"
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoaderRequest.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "library/model/PMMovie.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>

#include <mutex>


using platform::ImagePtr;

namespace {

bool iconPreviewsEnabled()
{
    static const bool enabled = !prefs::get(prefs::keys::DisableIconPreviews);
    return enabled;
}

QString folderDefault(const char* key)
{
    const QString path = platform::UserDefaults::standard().stringForKey(QLatin1String(key));
    if (path.isEmpty())
        return {};
    return path.startsWith(QLatin1Char('~')) ? QDir::homePath() + path.mid(1) : path;
}

double aspect(QSizeF size)
{
    return size.width() / size.height();
}

} // namespace

PMMovieRepresentationImageLoader::FileStamp PMMovieRepresentationImageLoader::stampOfURL(const QUrl& url)
{
    FileStamp stamp;
    stamp.path = qHash(url.toString());
    if (url.isLocalFile()) {
        const QFileInfo info(url.toLocalFile());
        if (info.exists()) {
            stamp.size = info.size();
            stamp.modified = info.lastModified().toMSecsSinceEpoch();
        }
    }
    return stamp;
}

bool PMMovieRepresentationImageLoader::hasFoundNothingFor(const QString& id, const QUrl& url) const
{
    const auto it = m_failedSearchesByID.constFind(id);
    return it != m_failedSearchesByID.constEnd() && *it == stampOfURL(url);
}

void PMMovieRepresentationImageLoader::queueSearchForMissingImage(const std::shared_ptr<LoadRequest>& request, const FileStamp& file)
{
    const QString id = request->uniqueLibraryID;
    if (request->record.expired() || m_searchesByID.contains(id))
        return; // the search that waits or runs answers for the record
    if (const auto failed = m_failedSearchesByID.constFind(id); failed != m_failedSearchesByID.constEnd()) {
        if (*failed == file) {
            if (iconPreviewsEnabled())
                deliverIconPreview(request);
            return;
        }
        m_failedSearchesByID.remove(id); // the file changed: worth another look
    }
    m_searchesByID.insert(id);
    if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
        update(1);
    // Re-ranked with the tile's frame (the searches of visible tiles run first) and
    // cancelled with the record's other loads when its tile leaves the screen: a search (a
    // frame grab) is the costliest work of all. `forgotten` is set once the search has left
    // the table: by the search itself when it starts, or by a cancellation.
    auto forgotten = std::make_shared<std::atomic_bool>(false);
    auto op = std::make_shared<PMMovieRepresentationImageLoaderOperation>(id, request->viewFrame, [this, request, forgotten] {
        forgotten->store(true); // it answers for itself
        runSearchForMissingImage(request);
    });
    op->setCompletionBlock([this, id, forgotten] {
        if (forgotten->exchange(true))
            return;
        platform::dispatchAsyncMain([this, id] { // cancelled otherwise (the queue's end)
            m_searchesByID.remove(id);
            if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
                update(-1);
        });
    });
    if (request->priority != platform::Operation::Priority::VeryLow)
        op->setQueuePriority(request->priority);
    enqueueLoad(op, true, forgotten);
}

namespace {

// The icon previews as tiles show them, by type and size: drawing, reducing and blurring
// one costs milliseconds, and a folder of one type asks for the same one for every tile.
struct IconPreviews {
    std::mutex mutex;
    QHash<QString, ImagePtr> shown;
};
IconPreviews& iconPreviews()
{
    static IconPreviews previews;
    return previews;
}

} // namespace

void PMMovieRepresentationImageLoader::deliverIconPreview(const std::shared_ptr<LoadRequest>& request)
{
    if (request->record.expired())
        return;
    // The icon itself comes from the theme on this thread (once per type); the preview is
    // made on the crawl queue, once per type and size, and handed back here.
    const QString typeName = PMFileIconTypeName(request->url);
    const QImage icon = PMFileIconImageForTypeName(typeName);
    const QString key = typeName + QLatin1Char(' ') + QString::number(request->maximumSize.width()) + QLatin1Char('x')
                      + QString::number(request->maximumSize.height()) + QLatin1Char('@') + QString::number(request->backingScaleFactor);
    const auto deliver = [request](const ImagePtr& shown) {
        std::shared_ptr<PMMovieRepresentationPrototype> record = request->record.lock();
        if (!record)
            return;
        record->setThumbnailSizeDescription(QStringLiteral("{512, 512}"));
        if (request->handler)
            request->handler(nullptr, shown);
    };
    IconPreviews& previews = iconPreviews();
    {
        std::lock_guard lock(previews.mutex);
        if (const ImagePtr shown = previews.shown.value(key)) {
            deliver(shown);
            return;
        }
    }
    crawlQueue().addOperation([request, icon, key, deliver] {
        const ImagePtr preview = PMFileIconPreviewImageWithIcon(icon);
        if (!preview)
            return;
        preview->associatedSourceType = PMImageSourceTypeIcon;
        const ImagePtr made = PMShownImage(preview, *request);
        ImagePtr shown;
        {
            IconPreviews& previews = iconPreviews();
            std::lock_guard lock(previews.mutex);
            if (previews.shown.size() > 256)
                previews.shown.clear(); // sizes of a grid long since resized
            shown = previews.shown.value(key); // another tile's, made meanwhile
            if (!shown)
                previews.shown.insert(key, shown = made);
        }
        platform::dispatchAsyncMain([deliver, shown] { deliver(shown); });
    });
}

void PMMovieRepresentationImageLoader::runSearchForMissingImage(const std::shared_ptr<LoadRequest>& request)
{
    const LoadRequest& r = *request;
    ImagePtr cover, poster;
    // 1. Image files named after the movie.
    const QString name = cleanFilename(r.displayName);
    const QString coverFolder = folderDefault("External Cover Directory"), posterFolder = folderDefault("External Preview Directory");
    if (!name.isEmpty() && (!coverFolder.isEmpty() || !posterFolder.isEmpty())) {
        for (const char* extension : {"jpg", "jpeg", "png", "tif", "tiff"}) {
            const QString file = name + QLatin1Char('.') + QLatin1String(extension);
            if (!cover && !coverFolder.isEmpty())
                cover = PMImageWithContentsOfFile(QDir(coverFolder).filePath(file));
            if (!poster && !posterFolder.isEmpty())
                poster = PMImageWithContentsOfFile(QDir(posterFolder).filePath(file));
        }
        for (const ImagePtr& image : {cover, poster})
            if (image)
                image->associatedSourceType = PMImageSourceTypeFile;
    }
    // 2. The file's own picture and a frame of the movie.
    if (!cover && !poster) {
        PMAssetPtr asset = PMMovie::assetWithURL(r.url, r.uniqueLibraryID, r.editingSteps);
        ImagePtr thumbnail;
        if (asset && asset->isPlayable()) {
            // A movie's or a song's own thumbnail is its attached artwork; without one its
            // frame serves (and is taken below).
            const QImage artwork = asset->coverImage();
            if (!artwork.isNull() && qint64(artwork.width()) * artwork.height() <= kPMMaximumImagePixels) {
                QImage fitted = artwork;
                if (fitted.width() > 1024 || fitted.height() > 1024)
                    fitted = fitted.scaled(1024, 1024, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                thumbnail = sizeCorrectedImageWithCGImage(fitted);
            }
        } else {
            thumbnail = quickLookImageWithPotentialSequenceURL(r.url);
        }
        if (thumbnail)
            thumbnail->associatedSourceType = PMImageSourceTypeThumbnail;
        ImagePtr frame;
        if (asset && asset->isPlayable() && !asset->tracksWithMediaType(platform::media::MediaType::Video).empty()) {
            const platform::media::MediaTime duration = asset->duration();
            if (duration.isNumeric()) {
                frame = frameImageAtTime(asset, duration.seconds() * frameTimeFraction(), r.flipHorizontally, r.angle, r.visibleArea,
                                         r.aspectRatio ? platform::Value(*r.aspectRatio) : platform::Value(), QSizeF(0, 0));
                if (frame)
                    frame->associatedSourceType = PMImageSourceTypeMovieFrame;
            }
        }
        const QSizeF natural = asset ? PMAssetNaturalSize(asset) : QSizeF();
        const QSizeF thumbnailSize = thumbnail ? thumbnail->size() : QSizeF();
        if (thumbnail && asset && thumbnailSize.width() > 1 && thumbnailSize.height() > 1 && natural.width() > 1 && natural.height() > 1
            && std::abs(aspect(thumbnailSize) - aspect(natural)) > 0.1) {
            // The file carries a picture of its own (a poster): the cover, beside a frame.
            cover = thumbnail;
            poster = frame;
        } else if (prefs::get(prefs::keys::LoadFrameImages)) {
            poster = frame ? frame : thumbnail;
        } else {
            poster = thumbnail ? thumbnail : frame;
        }
    }
    const QString id = r.uniqueLibraryID;
    const auto storedIn = [&id](const QString& folder) {
        return !folder.isEmpty()
            && (QFileInfo::exists(folder + QLatin1Char('/') + id + QStringLiteral(".jpg")) || QFileInfo::exists(folder + QLatin1Char('/') + id + QStringLiteral(".tiff")));
    };
    const bool coverStored = storedIn(r.coverFolder), posterStored = storedIn(r.posterFolder);
    if (!cover && !poster) {
        const FileStamp stamp = stampOfURL(r.url);
        platform::dispatchAsyncMain([this, request, stamp] {
            const QString id = request->uniqueLibraryID;
            m_searchesByID.remove(id);
            m_failedSearchesByID.insert(id, stamp);
            if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
                update(-1);
            if (iconPreviewsEnabled())
                deliverIconPreview(request);
        });
        return;
    }
    // 3. Stored with their reduced copies, and shown.
    const QByteArray underscoreCover = (cover && !r.underscoreCoverBasePath.isEmpty()) ? underscoreImageJPEGRepresentation(cover) : QByteArray();
    const QByteArray underscorePoster = (poster && !r.underscorePosterBasePath.isEmpty()) ? underscoreImageJPEGRepresentation(poster) : QByteArray();
    const ImagePtr shownCover = PMShownImage(cover, r), shownPoster = PMShownImage(poster, r);
    platform::dispatchAsyncMain([this, request, cover, poster, shownCover, shownPoster, underscoreCover, underscorePoster, coverStored, posterStored] {
        const LoadRequest& r = *request;
        const QString id = r.uniqueLibraryID;
        m_searchesByID.remove(id);
        if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
            update(-1);
        std::shared_ptr<PMMovieRepresentationPrototype> record = r.record.lock();
        if (!record)
            return; // deleted meanwhile
        record->updateThumbnailSizeDescriptionWithImage(poster ? poster : cover);
        // A picture stored or waiting for its write meanwhile (or shown from its reduced
        // copy) is never replaced by what the search found.
        if (cover && !coverStored && !m_saveQueueCoverImagesByID.contains(id)) {
            saveCoverImage(cover, *record);
            if (!underscoreCover.isEmpty())
                saveUnderscoreCoverImageJPEGRepresentation(underscoreCover, r.underscoreCoverBasePath, id, imageGeneration(true, id));
        }
        if (poster && !posterStored && !m_saveQueuePosterImagesByID.contains(id)) {
            savePosterImage(poster, *record);
            if (!underscorePoster.isEmpty())
                saveUnderscorePosterImageJPEGRepresentation(underscorePoster, r.underscorePosterBasePath, id, imageGeneration(false, id));
        }
        if (r.handler)
            r.handler(shownCover, shownPoster);
    });
}
