// The record's side of its images: the cover and preview in memory, handed to the image
// folders to be stored, released a while after the views let go of them, and the
// preview's pixel size that the grid lays tiles out by.
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

#include "platform/DelayedPerform.h"
#include "platform/NotificationCenter.h"

namespace {

const QString kPosterImageSizeKey = QStringLiteral("Poster Image Size");
const QString kUncacheOperation = QStringLiteral("uncacheCoverImageAndPosterImage");

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
    original().m_coverImage = image;
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
    std::weak_ptr<PMMovieRepresentationOriginal> weak = o.sharedOriginal();
    platform::performAfterDelay(&o, kUncacheOperation, platform::Value(), 5.0, [weak] {
        if (auto record = weak.lock())
            record->uncacheCoverImageAndPosterImage();
    });
}

void PMMovieRepresentationPrototype::cancelUncacheCoverImageAndPosterImageAfterDelay()
{
    platform::cancelPreviousPerformRequests(&original(), kUncacheOperation, platform::Value());
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
