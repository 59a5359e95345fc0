// The record's hover frames and image hashes: hover frames are read from the record's folder
// or grabbed once and stored; hashes are read from the settings, and a missing one is
// computed in a pass of its own in the background (never while the caller waits), its
// result stored on the main thread.
#include "images/NSImage+PMImageHash.h"
#include "images/PMIndexImage.h"
#include "images/PMMovieRepresentationImageLoader.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Queues.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QSet>

#include <mutex>

using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;

namespace {

using Wrappers = PMMovieRepresentationPrototype::IndexImageWrappers;

QSizeF hoverFrameMaximumSize()
{
    const double side = PMStandardIndexImageSide();
    return QSizeF(-side, -side);
}

QString imageHashKey(long long resolution)
{
    return QStringLiteral("Image Hash %1").arg(resolution);
}

QString joinedHashes(const Wrappers& wrappers, long long resolution)
{
    QString joined;
    for (const PMIndexImageWrapperPtr& wrapper : wrappers) {
        const ImagePtr& image = wrapper ? wrapper->image() : nullptr;
        if (image && image->size().width() > 0.1 && image->size().height() > 0.1)
            joined += dHashWithResolution(image, resolution);
    }
    return joined;
}

void storeMovieHash(PMMovieRepresentationPrototype& movie, const QString& key, const QString& hash)
{
    const DictionaryPtr settings = movie.userSettings();
    if (!settings || hash.isEmpty())
        return;
    const DictionaryPtr old = settings->value(QStringLiteral("Movie Hash")).dictionary();
    DictionaryPtr hashes = old ? deeplyMutableCopy(old) : nullptr;
    if (!hashes)
        hashes = platform::Dictionary::make();
    hashes->setValue(key, Value(hash));
    settings->setValue(QStringLiteral("Movie Hash"), Value(hashes));
}

// The pass of missing hashes: one job per record and resolution on a bounded pool of its own.
class ImageHashPass {
public:
    static ImageHashPass& shared()
    {
        static ImageHashPass* pass = new ImageHashPass(); // lives to the end of the process
        return *pass;
    }
    void queue(PMMovieRepresentationPrototype& movie, long long resolution)
    {
        const QString id = movie.uniqueLibraryID() + QLatin1Char('/') + QString::number(resolution);
        if (m_waiting.contains(id) || m_foundNothing.contains(id))
            return;
        m_waiting.insert(id);
        std::weak_ptr<PMMovieRepresentationPrototype> weak = movie.sharedRecord();
        const bool still = movie.isConsideredStillImage();
        const QString path = movie.URL().toLocalFile();
        const QString folder = movie.standardIndexImagesBasePath();
        const bool canPlay = movie.canPlay();
        const PMIndexImageRecordValues values = PMIndexImageRecordValues::of(movie);
        m_queue.addOperation([this, id, weak, still, path, folder, canPlay, values, resolution] {
            QString hash;
            bool computed = false;
            std::optional<Wrappers> grabbed;
            if (still) {
                hash = dHashOfImageFile(path, resolution);
                computed = !hash.isEmpty();
            } else if (std::optional<PMIndexImageWrappers> saved = PMSavedIndexImageWrapper::indexImageWrappersAtPath(folder)) {
                hash = joinedHashes(*saved, resolution);
            } else if (canPlay) {
                grabbed = indexImageWrappersForMovieRepresentationValuesSynchronously(values, PMStandardIndexImageCount(), hoverFrameMaximumSize());
                hash = joinedHashes(*grabbed, resolution);
            }
            platform::dispatchAsyncMain([this, id, weak, still, computed, hash, grabbed, resolution] {
                m_waiting.remove(id);
                // Nothing to hash (no frames, an unreadable file): not asked again this session.
                if (hash.isEmpty() && !(still && computed))
                    m_foundNothing.insert(id);
                std::shared_ptr<PMMovieRepresentationPrototype> movie = weak.lock();
                if (!movie)
                    return;
                if (grabbed && !grabbed->empty() && !movie->hasSavedStandardIndexImages()
                    && !PMMovieRepresentationImageLoader::defaultLoader().saveQueueStandardIndexImageWrappersForMovieRepresentation(*movie))
                    PMMovieRepresentationImageLoader::defaultLoader().saveStandardIndexImageWrappers(&*grabbed, *movie);
                if (still) {
                    if (computed)
                        movie->userSettings()->setValue(imageHashKey(resolution), Value(hash)); // empty: no hash, not tried again
                } else {
                    storeMovieHash(*movie, imageHashKey(resolution), hash);
                }
                if (auto& done = PMImageHashPassDidStoreHash())
                    done(*movie);
            });
        });
    }
    // From a sort's key making (any thread, records not to be changed): the request
    // reaches the pass on the main thread, once per record and resolution.
    void requestFromAnyThread(PMMovieRepresentationPrototype& movie, long long resolution)
    {
        const QString id = movie.uniqueLibraryID() + QLatin1Char('/') + QString::number(resolution);
        {
            std::lock_guard lock(m_requestedMutex);
            if (m_requested.contains(id))
                return;
            m_requested.insert(id);
        }
        std::weak_ptr<PMMovieRepresentationPrototype> weak = movie.sharedRecord();
        platform::dispatchAsyncMain([this, weak, id, resolution] {
            {
                std::lock_guard lock(m_requestedMutex);
                m_requested.remove(id);
            }
            if (std::shared_ptr<PMMovieRepresentationPrototype> movie = weak.lock())
                movie->imageHashWithResolution(resolution);
        });
    }
    std::size_t waitingCount() const { return std::size_t(m_waiting.size()); }
    void waitUntilDone()
    {
        QCoreApplication::processEvents();
        m_queue.waitUntilAllOperationsAreFinished();
    }

private:
    ImageHashPass() : m_queue(QStringLiteral("image hashes"))
    {
        m_queue.setMaxConcurrentOperationCount(2);
        // The pass lives on, but its work must not: a hash being made reaches the media
        // engine and Qt, which go with the application. Waiting ones are dropped, the
        // running ones finished, before that.
        qAddPostRoutine([] {
            ImageHashPass& pass = shared();
            pass.m_queue.cancelAllOperations();
            pass.m_queue.waitUntilAllOperationsAreFinished();
        });
    }
    platform::OperationQueue m_queue;
    QSet<QString> m_waiting;
    QSet<QString> m_foundNothing;
    std::mutex m_requestedMutex;
    QSet<QString> m_requested;
};

} // namespace

std::function<void(PMMovieRepresentationPrototype&)>& PMImageHashPassDidStoreHash()
{
    static std::function<void(PMMovieRepresentationPrototype&)> handler;
    return handler;
}

std::size_t PMImageHashPassWaitingCount()
{
    return ImageHashPass::shared().waitingCount();
}

void PMWaitForImageHashPass()
{
    ImageHashPass::shared().waitUntilDone();
}

// ---- Hover frames

std::optional<Wrappers> PMMovieRepresentationPrototype::standardIndexImageWrappersWithCompletionHandler(IndexImageWrappersHandler handler)
{
    const int n = PMStandardIndexImageCount();
    const QSizeF maximumSize = hoverFrameMaximumSize();
    const QString folder = standardIndexImagesBasePath();
    PMMovieRepresentationImageLoader& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const QString id = uniqueLibraryID();
    if (!handler) {
        if (std::optional<PMIndexImageWrappers> saved = PMSavedIndexImageWrapper::indexImageWrappersAtPath(folder))
            return saved;
        if (loader.hasNoStandardIndexImages(id))
            return Wrappers();
        if (!canPlay())
            return std::nullopt;
        Wrappers grabbed = indexImageWrappersForMovieRepresentationValuesSynchronously(PMIndexImageRecordValues::of(*this), n, maximumSize);
        loader.saveStandardIndexImageWrappers(&grabbed, *this);
        return grabbed;
    }
    std::weak_ptr<PMMovieRepresentationPrototype> weak = sharedRecord();
    platform::dispatchAsyncGlobal([folder, weak, n, maximumSize, id, handler = std::move(handler)]() mutable {
        std::optional<PMIndexImageWrappers> saved = PMSavedIndexImageWrapper::indexImageWrappersAtPath(folder);
        platform::dispatchAsyncMain([saved = std::move(saved), weak, n, maximumSize, id, handler = std::move(handler)]() mutable {
            if (saved) {
                handler(std::move(saved));
                return;
            }
            std::shared_ptr<PMMovieRepresentationPrototype> movie = weak.lock();
            PMMovieRepresentationImageLoader& loader = PMMovieRepresentationImageLoader::defaultLoader();
            if (movie && loader.hasNoStandardIndexImages(id)) {
                handler(Wrappers());
                return;
            }
            if (!movie || !movie->canPlay()) {
                handler(std::nullopt);
                return;
            }
            indexImageWrappersForMovieRepresentation(*movie, n, maximumSize, [weak, handler = std::move(handler)](std::optional<PMIndexImageWrappers> frames) {
                if (frames)
                    if (std::shared_ptr<PMMovieRepresentationPrototype> movie = weak.lock())
                        PMMovieRepresentationImageLoader::defaultLoader().saveStandardIndexImageWrappers(&*frames, *movie);
                handler(std::move(frames));
            });
        });
    });
    return std::nullopt;
}

bool PMMovieRepresentationPrototype::hasSavedStandardIndexImages()
{
    return PMSavedIndexImageWrapper::indexImageWrappers(nullptr, standardIndexImagesBasePath());
}

void PMMovieRepresentationPrototype::cacheStandardIndexImageWrappersWithCompletionHandler(std::function<void(const Wrappers*)> handler)
{
    PMMovieRepresentationOriginal& o = original();
    if (o.m_indexImageWrappers) {
        if (handler)
            handler(o.m_indexImageWrappers.get());
        return;
    }
    if (isConsideredStillImage()) {
        if (handler)
            handler(nullptr);
        return;
    }
    if (const Wrappers* pending = PMMovieRepresentationImageLoader::defaultLoader().saveQueueStandardIndexImageWrappersForMovieRepresentation(*this)) {
        o.m_indexImageWrappers = std::make_shared<const Wrappers>(*pending);
        if (handler)
            handler(o.m_indexImageWrappers.get());
        return;
    }
    std::weak_ptr<PMMovieRepresentationPrototype> weak = sharedRecord();
    standardIndexImageWrappersWithCompletionHandler([weak, handler = std::move(handler)](std::optional<Wrappers> wrappers) {
        std::shared_ptr<PMMovieRepresentationPrototype> movie = weak.lock();
        if (!movie) {
            if (handler)
                handler(nullptr);
            return;
        }
        PMMovieRepresentationOriginal& o = movie->original();
        o.m_indexImageWrappers = std::make_shared<const Wrappers>(wrappers ? std::move(*wrappers) : Wrappers());
        if (handler)
            handler(o.m_indexImageWrappers.get());
    });
}

std::shared_ptr<const Wrappers> PMMovieRepresentationPrototype::cachedStandardIndexImageWrappers()
{
    return original().m_indexImageWrappers;
}

void PMMovieRepresentationPrototype::uncacheStandardIndexImages()
{
    original().m_indexImageWrappers.reset();
}

void PMMovieRepresentationPrototype::clearStandardIndexImages()
{
    uncacheStandardIndexImages();
    PMMovieRepresentationImageLoader::defaultLoader().saveStandardIndexImageWrappers(nullptr, *this);
}

bool PMMovieRepresentationPrototype::canShowIndexImage()
{
    if (isConsideredStillImage())
        return false;
    const DictionaryPtr settings = userSettings();
    const bool playsFrameImages = settings && settings->value(QStringLiteral("Plays Frame Images")).toBool();
    return (canPlay() || hasSavedStandardIndexImages()) && !playsFrameImages;
}

void PMMovieRepresentationPrototype::clearIndexImageSettings()
{
    setIndexImageSettings(*this, nullptr);
}

// ---- Image hashes

QString PMMovieRepresentationPrototype::imageHashWithResolution(long long resolution)
{
    resolution = std::clamp<long long>(resolution, 2, 100);
    const QString key = imageHashKey(resolution);
    const DictionaryPtr settings = userSettings();
    if (!settings)
        return {};
    // Off the main thread (a sort making its keys side by side) only stored hashes are read.
    const bool mayChange = PMRecordGettersMayChangeRecords();
    if (isConsideredStillImage()) {
        const Value stored = settings->value(key);
        if (stored.isString())
            return stored.string();
        if (mayChange)
            ImageHashPass::shared().queue(*this, resolution);
        else
            ImageHashPass::shared().requestFromAnyThread(*this, resolution);
        return {};
    }
    if (const DictionaryPtr hashes = settings->value(QStringLiteral("Movie Hash")).dictionary()) {
        const Value stored = hashes->value(key);
        if (stored.isString())
            return stored.string();
    }
    if (!mayChange) {
        ImageHashPass::shared().requestFromAnyThread(*this, resolution);
        return {};
    }
    // Frames already in memory are hashed at once; anything else waits for the pass.
    const Wrappers* wrappers = original().m_indexImageWrappers.get();
    if (!wrappers)
        wrappers = PMMovieRepresentationImageLoader::defaultLoader().saveQueueStandardIndexImageWrappersForMovieRepresentation(*this);
    if (wrappers && !wrappers->empty()) {
        const QString hash = joinedHashes(*wrappers, resolution);
        if (hash.isEmpty())
            return {};
        storeMovieHash(*this, key, hash);
        return hash;
    }
    ImageHashPass::shared().queue(*this, resolution);
    return {};
}
