// The record's side of its images: the cover and preview in memory, handed to the image
// folders to be stored, released a while after the views let go of them, and the
// preview's pixel size that the grid lays tiles out by.
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include "platform/EventClock.h"
#include "platform/NotificationCenter.h"

#include <map>
#include <unordered_map>

namespace {

const QString kPosterImageSizeKey = QStringLiteral("Poster Image Size");
constexpr double kUncacheDelay = 5.0;

// What a record's pictures take in memory (their blurred copies included).
qsizetype pictureBytes(const PMMovieRepresentationOriginal& record)
{
    qsizetype bytes = 0;
    for (const platform::ImagePtr& image : {record.m_coverImage, record.m_posterImage})
        if (image) {
            bytes += image->pixels().sizeInBytes();
            if (const platform::ImagePtr blurred = image->cachedBlurredImage())
                bytes += blurred->pixels().sizeInBytes();
        }
    return bytes;
}

// The delayed releases of every record, on one timer of the event clock (tests steer it):
// scrolling past thousands of tiles schedules thousands of releases, and a timer object
// for each would cost more than the release saves. The delay spares a tile scrolled back
// to soon the wait for its pictures; what waits for release is bounded all the same (a
// fast scroll past a large library would otherwise hold every picture of the last
// seconds), the longest waiting going first. Main thread only.
class DelayedImageRelease {
public:
    static DelayedImageRelease& shared()
    {
        static auto* release = new DelayedImageRelease; // its timer must not outlive the application's end
        return *release;
    }
    void schedule(PMMovieRepresentationOriginal& record)
    {
        cancel(&record);
        const qsizetype bytes = pictureBytes(record);
        const auto it = m_byDeadline.emplace(platform::eventClockNow() + kUncacheDelay, Entry{&record, record.sharedOriginal(), bytes});
        m_byRecord.emplace(&record, it);
        m_bytes += bytes;
        if (m_byDeadline.size() > PMMovieRepresentationPrototype::kMaximumRecordsAwaitingPictureRelease ||
            m_bytes > PMMovieRepresentationPrototype::kMaximumPictureBytesAwaitingRelease) {
            std::vector<std::shared_ptr<PMMovieRepresentationOriginal>> early;
            while (m_byDeadline.size() > 1 && (m_byDeadline.size() > PMMovieRepresentationPrototype::kMaximumRecordsAwaitingPictureRelease ||
                                               m_bytes > PMMovieRepresentationPrototype::kMaximumPictureBytesAwaitingRelease))
                if (auto released = take(m_byDeadline.begin()))
                    early.push_back(std::move(released));
            for (const auto& released : early)
                released->uncacheCoverImageAndPosterImage();
            arm();
        } else if (it == m_byDeadline.begin()) {
            arm();
        }
    }
    void cancel(const PMMovieRepresentationOriginal* record)
    {
        const auto found = m_byRecord.find(record);
        if (found == m_byRecord.end())
            return;
        m_bytes -= found->second->second.bytes;
        m_byDeadline.erase(found->second);
        m_byRecord.erase(found);
        if (m_byDeadline.empty())
            m_timer.stop();
    }

private:
    struct Entry {
        const PMMovieRepresentationOriginal* key; // the index's key, also once the record is gone
        std::weak_ptr<PMMovieRepresentationOriginal> record;
        qsizetype bytes = 0; // its pictures' when scheduled
    };
    using Deadlines = std::multimap<double, Entry>;
    void arm()
    {
        if (m_byDeadline.empty()) {
            m_timer.stop();
            return;
        }
        m_timer.start(std::max(0.0, m_byDeadline.begin()->first - platform::eventClockNow()), [this] { fire(); });
    }
    // Out of the waiting entries: the record, if it is still there.
    std::shared_ptr<PMMovieRepresentationOriginal> take(Deadlines::iterator it)
    {
        m_byRecord.erase(it->second.key);
        m_bytes -= it->second.bytes;
        std::shared_ptr<PMMovieRepresentationOriginal> record = it->second.record.lock();
        m_byDeadline.erase(it);
        return record;
    }
    void fire()
    {
        const double now = platform::eventClockNow();
        std::vector<std::shared_ptr<PMMovieRepresentationOriginal>> due;
        while (!m_byDeadline.empty() && m_byDeadline.begin()->first <= now + 1e-6)
            if (std::shared_ptr<PMMovieRepresentationOriginal> record = take(m_byDeadline.begin()))
                due.push_back(std::move(record));
        for (const auto& record : due)
            record->uncacheCoverImageAndPosterImage();
        arm();
    }
    Deadlines m_byDeadline;
    std::unordered_map<const PMMovieRepresentationOriginal*, Deadlines::iterator> m_byRecord;
    qsizetype m_bytes = 0;
    platform::OneShotTimer m_timer;
};

bool parseSizeText(const QString& text, QSizeF* size)
{
    QString inner = text.trimmed();
    if (!inner.startsWith(QLatin1Char('{')) || !inner.endsWith(QLatin1Char('}')))
        return false;
    const QStringList parts = inner.mid(1, inner.size() - 2).split(QLatin1Char(','));
    if (parts.size() != 2)
        return false;
    bool okW = false, okH = false;
    const double w = parts[0].trimmed().toDouble(&okW), h = parts[1].trimmed().toDouble(&okH);
    if (!okW || !okH)
        return false;
    *size = QSizeF(w, h);
    return true;
}

} // namespace

QString PMMovieRepresentationPrototype::coverImageBasePath()
{
    return PMMainController::mainController().coverImageDirectoryPath() + QLatin1Char('/') + uniqueLibraryID();
}

QString PMMovieRepresentationPrototype::posterImageBasePath()
{
    return PMMainController::mainController().posterImageDirectoryPath() + QLatin1Char('/') + uniqueLibraryID();
}

QString PMMovieRepresentationPrototype::standardIndexImagesBasePath()
{
    return PMMainController::mainController().standardIndexImagesDirectoryPath() + QLatin1Char('/') + uniqueLibraryID();
}

void PMMovieRepresentationPrototype::setCoverImage(const platform::ImagePtr& image)
{
    if (auto& save = PMMovieRepresentationServices::shared().saveCoverImage)
        save(image, original());
    PMMovieRepresentationOriginal& o = original();
    o.m_coverImage = image;
    // A load still running brings the picture this one replaces: it shows nothing.
    ++o.m_imageReleaseSerial;
}

platform::ImagePtr PMMovieRepresentationPrototype::cachedCoverImage()
{
    return original().m_coverImage;
}

void PMMovieRepresentationPrototype::setPosterImage(const platform::ImagePtr& image)
{
    // A still image is its own preview: nothing is stored for it.
    if (image && isConsideredStillImage() && durationIfCached(true) < 1)
        return;
    if (image)
        updateThumbnailSizeDescriptionWithImage(image);
    if (auto& save = PMMovieRepresentationServices::shared().savePosterImage)
        save(image, original());
    PMMovieRepresentationOriginal& o = original();
    o.m_posterImage = image;
    o.m_posterImagePending = false;
    // A load still running brings the picture this one replaces: it shows nothing.
    ++o.m_imageReleaseSerial;
}

platform::ImagePtr PMMovieRepresentationPrototype::cachedPosterImage()
{
    cancelUncacheCoverImageAndPosterImageAfterDelay();
    return original().m_posterImage;
}

void PMMovieRepresentationPrototype::uncacheCoverImageAndPosterImage()
{
    PMMovieRepresentationOriginal& o = original();
    o.m_coverImage.reset();
    o.m_posterImage.reset();
    o.m_posterImagePending = false;
    ++o.m_imageReleaseSerial;
    if (auto& cancel = PMMovieRepresentationServices::shared().cancelLoadingForMovieRepresentation)
        cancel(o);
}

void PMMovieRepresentationPrototype::uncacheCoverImageAndPosterImageAfterDelay()
{
    cancelUncacheCoverImageAndPosterImageAfterDelay();
    PMMovieRepresentationOriginal& o = original();
    if (!o.m_coverImage && !o.m_posterImage) {
        uncacheCoverImageAndPosterImage();
        return;
    }
    DelayedImageRelease::shared().schedule(o);
}

void PMMovieRepresentationPrototype::cancelUncacheCoverImageAndPosterImageAfterDelay()
{
    DelayedImageRelease::shared().cancel(&original());
}

void PMMovieRepresentationPrototype::setThumbnailSizeDescription(const QString& description)
{
    PMMovieRepresentationOriginal& o = original();
    const platform::DictionaryPtr settings = userSettings();
    if (description.isNull()) {
        settings->remove(kPosterImageSizeKey);
        o.m_thumbnailImageAspectRatio = -1.0;
        return;
    }
    o.m_thumbnailImageAspectRatio = -10.0;
    const platform::Value stored = settings->value(kPosterImageSizeKey);
    if (stored.isString() && stored.string() == description)
        return;
    settings->setValue(kPosterImageSizeKey, description);
    platform::NotificationCenter::defaultCenter().postNotificationName(QStringLiteral("com.tolvane.PMPreviewViewLayoutUpdateNotification"),
                                                                       o.sharedOriginal());
}

void PMMovieRepresentationPrototype::updateThumbnailSizeDescriptionWithImage(const platform::ImagePtr& image)
{
    if (!image) {
        setThumbnailSizeDescription(QString());
        return;
    }
    const QSizeF size = image->pixelSize();
    setThumbnailSizeDescription(QStringLiteral("{%1, %2}").arg(QString::number(size.width(), 'g', 17), QString::number(size.height(), 'g', 17)));
}

double PMMovieRepresentationPrototype::thumbnailImageAspectRatio()
{
    PMMovieRepresentationOriginal& o = original();
    if (o.m_thumbnailImageAspectRatio < -9.0) {
        o.m_thumbnailImageAspectRatio = -1.0;
        const platform::Value stored = userSettings()->value(kPosterImageSizeKey);
        QSizeF size;
        if (stored.isString() && parseSizeText(stored.string(), &size) && size.height() > 0.0 && size.width() >= 0.0)
            o.m_thumbnailImageAspectRatio = size.width() / size.height();
    }
    return o.m_thumbnailImageAspectRatio;
}
