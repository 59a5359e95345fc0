// The record asks the image loader for its pictures at the size of the view that shows
// it, once per first showing (a pending marker stops repeats) and again only when the view
// has outgrown a reduced copy.
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QPointer>
#include <QtWidgets/QWidget>

namespace {
double gTileHeaderHeight = 0.0;
}

// The height of the tiles' headers while they are always shown (0 otherwise); the grid sets it.
void PMSetAlwaysShownTileHeaderHeight(double height)
{
    gTileHeaderHeight = std::max(0.0, height);
}

double PMAlwaysShownTileHeaderHeight()
{
    return gTileHeaderHeight;
}

bool PMMovieRepresentationPrototype::isPosterImagePending() const
{
    return original().m_posterImagePending;
}

void PMMovieRepresentationPrototype::loadCoverImageAndPosterImageForView(QWidget* view, int condition)
{
    if (!view)
        return;
    const QWidget* superview = view->parentWidget();
    const QRectF frame = view->geometry();
    const bool visible = superview && frame.toRect().intersects(superview->visibleRegion().boundingRect());
    QPointer<QWidget> weakView(view);
    loadCoverImageAndPosterImageForFrame(frame, visible, condition, [weakView] {
        if (weakView && weakView->window() && weakView->isVisible())
            weakView->update();
    });
}

void PMMovieRepresentationPrototype::loadCoverImageAndPosterImageForFrame(const QRectF& frame, bool visible, int condition,
                                                                        std::function<void()> redraw)
{
    PMMovieRepresentationOriginal& o = original();
    bool improvement = false;
    if (o.m_posterImage || o.m_posterImagePending) {
        if (condition == 2)
            return;
        improvement = condition == 1;
    } else {
        if (condition == 1)
            return;
        o.m_posterImagePending = true;
    }
    const double width = frame.width();
    const double height = frame.height() - PMAlwaysShownTileHeaderHeight();
    if (improvement) {
        const platform::ImagePtr compared = o.m_posterImage ? o.m_posterImage : o.m_coverImage;
        if (compared) {
            const QSizeF size = compared->size();
            if (width < size.width() + 5 && height < size.height() + 5)
                return;
            if (!(compared->associatedSourceType & (PMImageSourceTypeUnderscore | PMImageSourceTypeScaledDown)))
                return; // a full picture: nothing better to load
        } else if (width < o.m_requestedImageSize.width() + 5 && height < o.m_requestedImageSize.height() + 5) {
            return;
        }
    }
    o.m_requestedImageSize = QSizeF(width, height);
    platform::Operation::Priority priority = platform::Operation::Priority::VeryLow;
    if (!improvement) {
        priority = visible ? platform::Operation::Priority::Normal : platform::Operation::Priority::Low;
    }
    std::weak_ptr<PMMovieRepresentationOriginal> weakRecord = o.sharedOriginal();
    const std::uint64_t serial = ++o.m_imageRequestSerial;
    const std::uint64_t releases = o.m_imageReleaseSerial;
    PMMovieRepresentationImageLoader::defaultLoader().loadCoverImageAndPosterImageForMovieRepresentation(
        *this, !improvement, o.m_requestedImageSize, frame, priority,
        [weakRecord, redraw, serial, releases](platform::ImagePtr cover, platform::ImagePtr poster) {
            std::shared_ptr<PMMovieRepresentationOriginal> record = weakRecord.lock();
            if (!record)
                return;
            // A load that was already running when the record let go of its pictures (its
            // tile left the screen) brings nothing back into memory.
            if (releases != record->m_imageReleaseSerial)
                return;
            // An answer to an older request can arrive after that of a newer one for a larger
            // tile: it never replaces a larger picture with its smaller one.
            const auto smaller = [](const platform::ImagePtr& incoming, const platform::ImagePtr& held) {
                return incoming && held && incoming->pixelSize().width() < held->pixelSize().width();
            };
            if (serial < record->m_imageRequestSerial) {
                if (smaller(cover, record->m_coverImage))
                    cover.reset();
                if (smaller(poster, record->m_posterImage))
                    poster.reset();
                if (!cover && !poster)
                    return;
            }
            if (cover)
                record->m_coverImage = cover;
            if (poster) {
                record->m_posterImage = poster;
                record->m_posterImagePending = false;
            }
            if (!PMMainController::blendsSubgroupPreviews()) {
                if (redraw)
                    redraw();
            } else {
                auto& refresh = PMMovieRepresentationServices::shared().updatePreviewForMovieRepresentation;
                if (refresh && !refresh(*record)) {
                    record->m_coverImage.reset();
                    record->m_posterImage.reset();
                }
            }
            // The average colour that placeholders are drawn in, once.
            auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
            const platform::ImagePtr source = poster ? poster : cover;
            if (source && loader.rgbAverageComponents && prefs::get(prefs::keys::DrawColorThumbnailPlaceholders)
                && !record->userSettings()->value(QStringLiteral("RGB")).isString()) {
                auto average = loader.rgbAverageComponents;
                std::weak_ptr<PMMovieRepresentationOriginal> weak = record;
                loader.crawlQueue().addOperation([average, source, weak] {
                    const std::vector<double> rgb = average(source);
                    if (rgb.size() != 3)
                        return;
                    const QString text = QString::asprintf("%.2f/%.2f/%.2f", rgb[0], rgb[1], rgb[2]);
                    platform::dispatchAsyncMain([weak, text] {
                        if (auto record = weak.lock())
                            record->userSettings()->setValue(QStringLiteral("RGB"), text);
                    });
                });
            }
        });
}
