// The grid's drawing: the settings a paint reads, each tile composed into a kept buffer
// (picture layer, badge, ring, name band and stars), group tiles, and the visible area.
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGridSettings.h"
#include "ui/library_window/PMGroupViewColors.h"
#include "ui/library_window/PMMovieCell.h"
#include "ui/library_window/PMPreviewViewPrototype.h"

#include "foundation/PMFunctions.h"
#include "images/PMIndexImageWrapper.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "images/NSImage+PMBlurredImages.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMRatingView.h"

#include <QtCore/QSet>
#include <QtGui/QGuiApplication>
#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

using PMGridSettings::boolValue;
using PMGridSettings::defaults;

QString itemName(const Value& item)
{
    PMLibraryItem* it = PMItem(item);
    return it ? it->displayName() : QString();
}

} // namespace

// ---- Drawing

PMGroupView::DrawSettings PMGroupView::drawSettings() const
{
    if (m_paintSettings) // read once per paint
        return *m_paintSettings;
    DrawSettings d;
    // Dark in a dark desktop, or when the window gives the grid the dark look of its own
    // (the thumbnail appearance "Always dark").
    d.dark = isInFullyInvertedDarkMode(this);
    // The selection shows in the accent colour only where typing would act on it.
    d.selectionActive = hasFocus() && isActiveWindow();
    d.coverMode = coverMode();
    d.layout = currentLayout();
    d.staticLabels = d.coverMode ? !boolValue(QStringLiteral("Hover Cover Headers"), true) : !boolValue(QStringLiteral("Hover Preview Headers"), false);
    d.placeholders = boolValue(QStringLiteral("Draw Color Thumbnail Placeholders"), true);
    const double S = spacing();
    d.radius = defaults().objectForKey(prefs::keys::ThumbnailCornerRadius).isNumber() ? defaults().doubleForKey(prefs::keys::ThumbnailCornerRadius)
                                                                                              : (S < 1.5 ? 0.0 : std::min(S, 3.0));
    d.scale = std::max(1.0, devicePixelRatioF());
    const Value below = defaults().objectForKey(prefs::keys::PositionLabelsBelowThumbnails);
    d.labelsOverlaid = !d.staticLabels || (below.isNull() ? !(d.layout & PMLayoutScaleToFit) : !below.toBool());
    d.scaleIndividually = !d.coverMode && defaults().boolForKey(prefs::keys::ScalePreviewsToFitIndividually);
    d.fullyInteractive = isFullyInteractiveGroupView();
    d.overlayAlpha = coverOverlayAlpha();
    d.overlayPosition = coverOverlayPosition();
    d.coverRatio = coverAspectRatio();
    d.previewRatio = previewAspectRatio();
    d.background = PMGroupViewBackgroundColor(d.dark).rgb();
    // The subgroups' band is lightened by white at 5% in the dark look.
    const auto lighten = [](int channel) { return int(std::lround(channel * 0.95 + 255 * 0.05)); };
    const QColor plain(d.background);
    d.bandBackground = d.dark ? qRgb(lighten(plain.red()), lighten(plain.green()), lighten(plain.blue())) : d.background;
    if (!(d == m_drawSettings)) {
        m_drawSettings = d;
        ++m_drawSettingsGeneration;
    }
    return d;
}

PMTileCornerRadii PMGroupView::tileCornerRadii(const PMGroupViewItemProxy& proxy, const DrawSettings& settings) const
{
    const QRectF bounds(QPointF(0, 0), QSizeF(m_contentSize.width(), std::max(m_contentSize.height(), double(viewport()->height()))));
    if ((settings.staticLabels && !settings.labelsOverlaid) || proxy.isGroup) // the band, not the picture, meets the edge
        return {settings.radius, settings.radius, settings.radius, settings.radius};
    return PMTileCornerRadiiForFrame(proxy.frame, bounds, PMMainWindowTileCornerRadius, settings.radius);
}

platform::ImagePtr PMGroupView::tilePicture(const PMGroupViewItemProxy& proxy, const DrawSettings& settings) const
{
    PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem);
    if (!movie)
        return nullptr;
    if (proxy.view && proxy.view->hover.indexImageIndex() >= 0 && !_isInLiveScroll) {
        const auto frames = movie->cachedStandardIndexImageWrappers();
        const auto index = std::size_t(proxy.view->hover.indexImageIndex());
        proxy.view->hoverFrameCount = frames ? frames->size() : 0;
        if (frames && index < frames->size() && (*frames)[index] && (*frames)[index]->image())
            return (*frames)[index]->image();
    }
    platform::ImagePtr image = settings.coverMode ? movie->cachedCoverImage() : movie->cachedPosterImage();
    if (!image)
        image = settings.coverMode ? movie->cachedPosterImage() : movie->cachedCoverImage();
    return image;
}

namespace PMTileBufferPool {
namespace {
// Kept for the next tiles of the same size; the bound keeps a grid that shrinks its tiles
// from holding on to memory it will not use again.
constexpr std::size_t maximumBytes = std::size_t(96) << 20;

struct Pool {
    std::vector<QImage> buffers; // the most recently given last
    std::size_t bytes = 0;
};

Pool& pool()
{
    static Pool shared; // touched by the GUI thread only, like the tiles
    return shared;
}
}

QImage take(QSize pixels, double devicePixelRatio)
{
    Pool& p = pool();
    for (auto it = p.buffers.rbegin(); it != p.buffers.rend(); ++it) {
        if (it->size() == pixels) {
            QImage image = std::move(*it);
            p.buffers.erase(std::next(it).base());
            p.bytes -= std::size_t(image.sizeInBytes());
            image.setDevicePixelRatio(devicePixelRatio);
            return image;
        }
    }
    QImage image(pixels, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

void give(QImage&& image)
{
    // A buffer still shared with a painter or a copy is not reused under it.
    if (image.isNull() || !image.isDetached() || image.format() != QImage::Format_RGB32)
        return;
    Pool& p = pool();
    const auto bytes = std::size_t(image.sizeInBytes());
    if (bytes > maximumBytes)
        return;
    p.buffers.push_back(std::move(image));
    p.bytes += bytes;
    while (p.bytes > maximumBytes) {
        p.bytes -= std::size_t(p.buffers.front().sizeInBytes());
        p.buffers.erase(p.buffers.begin());
    }
}

void clear()
{
    pool() = Pool();
}
}

void PMGroupView::drawPreviewViewInRect(QPainter& painter, const PMGroupViewItemProxy& proxy, const QRectF& rect, double alpha) const
{
    if (rect.isEmpty())
        return;
    const DrawSettings settings = drawSettings();
    const platform::ImagePtr image = tilePicture(proxy, settings);
    const QColor background = backgroundUnder(proxy.frame, settings);
    const double scale = settings.scale;
    // The buffer covers the frame's device pixels, so that a resting tile is copied, not
    // resampled, onto the screen.
    const QSizeF logical = proxy.frame.isEmpty() ? rect.size() : proxy.frame.size();
    const QSize pixels(int(std::max(1L, std::lround(logical.width() * scale))), int(std::max(1L, std::lround(logical.height() * scale))));
    PMGroupViewTile* tile = proxy.view.get();
    const auto blit = [&](const QImage& drawing) {
        const double opacity = painter.opacity();
        if (alpha < 1.0)
            painter.setOpacity(opacity * alpha);
        if (std::abs(rect.width() - logical.width()) < 1e-6 && std::abs(rect.height() - logical.height()) < 1e-6)
            painter.drawImage(QPointF(std::round(rect.x() * scale) / scale, std::round(rect.y() * scale) / scale), drawing);
        else // moving: stretched
            painter.drawImage(rect, drawing);
        if (alpha < 1.0)
            painter.setOpacity(opacity);
    };
    if (!tile) {
        QImage drawing(pixels, QImage::Format_RGB32);
        drawing.setDevicePixelRatio(scale);
        QImage layer;
        composeTile(drawing, layer, nullptr, proxy, settings, image, background);
        blit(drawing);
        return;
    }
    // The tile's drawing is kept at its size and drawn again only when what it shows changes.
    quint64 state = 0;
    if (PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem))
        state = quint64(std::clamp(movie->rating(), 0.0, 15.0)) | quint64(movie->isMissing()) << 4 | quint64(movie->isMissingVolume()) << 5 |
                quint64(movie->durationIfCached(true) >= 0) << 6 | quint64(tile->hoveringLabel) << 7 | quint64(tile->hover.indexImageIndex() + 1) << 8 |
                quint64(std::lround(tileCornerRadii(proxy, settings).bottomRight * 4)) << 40 | quint64(tile->tracksRatingCell) << 56 |
                quint64(image && image->cachedBlurredImage() != nullptr) << 57 | quint64(_isInLiveScroll) << 58 |
                quint64(movie->cachedCoverImage() != nullptr) << 59 | quint64(movie->counter() < 1) << 60;
    const PMGroupViewTile::RenderKey key{image.get(), pixels, proxy.selected, tile->hovering, tile->displaysMenu, m_drawSettingsGeneration, state,
                                         background.rgb()};
    if (tile->rendered.isNull() || !(tile->renderedKey == key)) {
        if (tile->rendered.size() != pixels || !tile->rendered.isDetached() || tile->rendered.devicePixelRatio() != scale) {
            PMTileBufferPool::give(std::move(tile->rendered));
            tile->rendered = PMTileBufferPool::take(pixels, scale);
        }
        const bool resized = tile->renderedKey.size != pixels;
        composeTile(tile->rendered, tile->picture, &tile->pictureKey, proxy, settings, image, background);
        tile->renderedKey = key;
        // Drawn at rest: without a picture the first load is asked for, and a tile grown
        // beyond its picture asks for a larger one (the loader decides whether there is one).
        if (!_isInLiveScroll && !proxy.isGroup && (!image || resized))
            const_cast<PMGroupView*>(this)->loadPictures(const_cast<PMGroupViewItemProxy&>(proxy), proxy.frame.intersects(visibleRect()));
    }
    blit(tile->rendered);
}

QColor PMGroupView::backgroundUnder(const QRectF& frame, const DrawSettings& settings) const
{
    if (settings.bandBackground != settings.background && !_groupProxies.empty() && _separatorY > 0) {
        const bool below = defaults().integerForKey(prefs::keys::SubgroupPreviewsPosition) == 1;
        const double y = frame.center().y();
        if (below ? y > _separatorY : y < _separatorY)
            return QColor(settings.bandBackground);
    }
    return QColor(settings.background);
}

platform::ImagePtr PMGroupView::blurredPicture(const platform::ImagePtr& image, QSizeF size) const
{
    if (!image || !image->isValid())
        return nullptr;
    if (platform::ImagePtr blurred = image->cachedBlurredImage(); blurred && blurred->isValid())
        return blurred;
    // Made away from the main thread, once per picture; the tile is drawn again when it is there.
    if (!m_pendingBlurs.contains(image.get()) && !size.isEmpty()) {
        m_pendingBlurs.insert(image.get());
        blurredImageWithSize(image, size, false, [grid = QPointer<const PMGroupView>(this), key = image.get()](platform::ImagePtr) {
            if (grid) {
                grid->m_pendingBlurs.remove(key);
                grid->viewport()->update();
            }
        });
    }
    return nullptr;
}

QRectF PMGroupView::labelFrameInTile(const QRectF& rect, const DrawSettings& settings) const
{
    return PMMovieTileLabelFrame(rect, settings.labelsOverlaid, PMGroupViewLabelBand);
}

namespace {

// The source rectangle of a picture that fills an area of the ratio, cropped in the middle.
QRect filledSource(QSize size, double areaRatio)
{
    const double ratio = size.width() / std::max(1.0, double(size.height()));
    if (!(areaRatio > 0) || !std::isfinite(areaRatio))
        return QRect(QPoint(0, 0), size);
    if (ratio > areaRatio) {
        const int w = std::clamp(int(std::lround(size.height() * areaRatio)), 1, size.width());
        return QRect((size.width() - w) / 2, 0, w, size.height());
    }
    const int h = std::clamp(int(std::lround(size.width() / areaRatio)), 1, size.height());
    return QRect(0, (size.height() - h) / 2, size.width(), h);
}

// Part of a picture at a pixel size, resampled once (area-averaged when smooth); the part is
// read in place when its format allows.
QImage resampled(const QImage& pixels, const QRect& source, QSize size, bool smooth)
{
    const QRect part = source & pixels.rect();
    if (part.isEmpty() || size.isEmpty())
        return {};
    QImage view;
    if (pixels.depth() == 32 && part != pixels.rect())
        view = QImage(pixels.constBits() + qsizetype(part.y()) * pixels.bytesPerLine() + qsizetype(part.x()) * 4, part.width(), part.height(),
                      pixels.bytesPerLine(), pixels.format());
    else
        view = part == pixels.rect() ? pixels : pixels.copy(part);
    view.setDevicePixelRatio(1.0);
    if (view.size() == size)
        return view.copy(); // not kept over the picture's memory
    return view.scaled(size, Qt::IgnoreAspectRatio, smooth ? Qt::SmoothTransformation : Qt::FastTransformation);
}

// Draws a picture cropped to fill the target (logical coordinates of a painter on an image
// of the scale), resampled once to the target's pixels: bilinear by the painter for a
// reduction of up to half, area-averaged beyond that (where bilinear sampling would
// shimmer).
void drawFilled(QPainter& painter, const QImage& pixels, const QRectF& target, double scale, bool smooth, const QRectF& clipTo = QRectF())
{
    if (pixels.isNull() || target.isEmpty())
        return;
    const QRect device(int(std::lround(target.x() * scale)), int(std::lround(target.y() * scale)), int(std::lround(target.width() * scale)),
                       int(std::lround(target.height() * scale)));
    if (device.isEmpty())
        return;
    const QRect source = filledSource(pixels.size(), target.width() / target.height());
    const QRectF aligned(device.x() / scale, device.y() / scale, device.width() / scale, device.height() / scale);
    painter.save();
    if (!clipTo.isEmpty())
        painter.setClipRect(clipTo, Qt::IntersectClip);
    const bool reduceMuch = source.width() > 2 * device.width() || source.height() > 2 * device.height();
    if (smooth && reduceMuch) {
        QImage part = resampled(pixels, source, device.size(), true);
        part.setDevicePixelRatio(scale);
        painter.drawImage(aligned.topLeft(), part);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter.drawImage(aligned, pixels, QRectF(source));
    }
    painter.restore();
}

// The rectangle on whole device pixels.
QRectF alignedToPixels(const QRectF& rect, double scale)
{
    return QRectF(std::round(rect.x() * scale) / scale, std::round(rect.y() * scale) / scale, std::round(rect.width() * scale) / scale,
                  std::round(rect.height() * scale) / scale);
}

// The grid's colour in a corner of the tile outside its curve.
void fillCorners(QPainter& painter, const QRectF& rect, const PMTileCornerRadii& radii, const QColor& color)
{
    const double limit = std::min(rect.width(), rect.height()) / 2;
    auto corner = [&](double r, QPointF at, double startAngle, QRectF arc) {
        r = std::min(r, limit);
        if (r <= 0)
            return;
        QPainterPath wedge;
        wedge.moveTo(at);
        wedge.arcTo(arc, startAngle, 90);
        wedge.closeSubpath();
        painter.fillPath(wedge, color);
    };
    const double tl = std::min(radii.topLeft, limit), tr = std::min(radii.topRight, limit);
    const double br = std::min(radii.bottomRight, limit), bl = std::min(radii.bottomLeft, limit);
    corner(tl, rect.topLeft(), 90, QRectF(rect.left(), rect.top(), 2 * tl, 2 * tl));
    corner(tr, rect.topRight(), 0, QRectF(rect.right() - 2 * tr, rect.top(), 2 * tr, 2 * tr));
    corner(br, rect.bottomRight(), 270, QRectF(rect.right() - 2 * br, rect.bottom() - 2 * br, 2 * br, 2 * br));
    corner(bl, rect.bottomLeft(), 180, QRectF(rect.left(), rect.bottom() - 2 * bl, 2 * bl, 2 * bl));
}

// While a tile cycles through its frames: where the frame shown lies among the movie's
// frames, a track along the bottom of the base.
void drawCyclingTrack(QPainter& painter, const QRectF& base, const PMGroupViewTile& tile)
{
    const std::size_t n = std::max<std::size_t>(1, tile.hoverFrameCount);
    const QRectF track(base.left(), base.bottom() - 8, base.width(), 8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.3, 0.3, 0.3, 0.4));
    painter.drawRoundedRect(track, 4, 4);
    const QRectF knobs = track.adjusted(2, 2, -2, -2);
    const double part = knobs.width() / double(n);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(knobs.left() + part * double(tile.hover.indexImageIndex()), knobs.top(), part, knobs.height()), 2, 2);
}

// The duration (or a container's item count) in the picture's corner.
void drawDurationBadge(QPainter& painter, const PMGroupViewItemProxy& proxy, PMMovieRepresentationPrototype& movie, const QRectF& area)
{
    QString badge;
    int pie = 0;
    if (const auto container = PMContainerPtr(proxy.equivalentContainer)) {
        badge = PMItemCountString(*container);
    } else if (movie.durationIfCached(true) >= 0) {
        badge = PMDurationString(double(movie.durationIfCached(true)));
        pie = movie.counter() < 1 ? -1 : 0; // the mark of a movie never played
    }
    // In the picture's bottom-right corner (a negative margin counts from the bottom).
    if (!badge.isEmpty())
        drawAsBadgeInRect(painter, badge, area, false, std::nullopt, PMBadgeBackground(QColor::fromRgbF(0, 0, 0, 0.45)), nullptr, pie, 0, 0, 8, -8, -1,
                          -1, false, false);
}

// The ring around a tile (the selection, a missing file or volume), inside its shape.
void drawTileRing(QPainter& painter, const QRectF& shape, const PMTileCornerRadii& corners, const QColor& ring)
{
    painter.setPen(QPen(ring, 3.0));
    painter.setBrush(Qt::NoBrush);
    const auto inner = [](double r) { return std::max(0.0, r - 1.0); };
    painter.drawPath(PMRoundedRectPathWithRadii(shape.adjusted(1.5, 1.5, -1.5, -1.5),
                                                {inner(corners.topLeft), inner(corners.topRight), inner(corners.bottomRight), inner(corners.bottomLeft)}));
}

// The colour a movie's tile shows until its picture is there ("RGB": "r/g/b"), if stored.
std::optional<QColor> storedPlaceholderColor(PMMovieRepresentationPrototype& movie)
{
    const Value stored = movie.userSettings()->value(QStringLiteral("RGB"));
    const QStringList rgb = stored.isString() ? stored.string().split(QLatin1Char('/')) : QStringList();
    if (rgb.size() != 3)
        return std::nullopt;
    return QColor::fromRgbF(rgb[0].toFloat(), rgb[1].toFloat(), rgb[2].toFloat());
}

} // namespace

void PMGroupView::composePictureLayer(QImage& layer, const PictureLayerLook& look, const PMGroupViewItemProxy& proxy, const DrawSettings& settings,
                                      const platform::ImagePtr& main, const platform::ImagePtr& cover) const
{
    const double scale = settings.scale;
    const QRectF bounds(QPointF(0, 0), QSizeF(layer.width() / scale, layer.height() / scale));
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing, true);
    composePicture(p, look.area, look, proxy, settings, main, cover);
    if (!look.band.isEmpty()) {
        // The band above the picture, frosted: the blurred picture under the band's colour.
        p.setCompositionMode(QPainter::CompositionMode_Source);
        const platform::ImagePtr blurred = blurredPicture(main, look.area.size());
        if (blurred)
            drawFilled(p, blurred->pixels(), bounds, scale, !look.simplified, look.band);
        else
            p.fillRect(look.band, look.placeholder);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.fillRect(look.band, PMMovieTileBandColor(settings.dark));
    }
    // The grid shows through the rounded corners.
    fillCorners(p, bounds, look.corners, look.background);
}

void PMGroupView::composePicture(QPainter& p, const QRectF& area, const PictureLayerLook& look, const PMGroupViewItemProxy& proxy,
                                 const DrawSettings& settings, const platform::ImagePtr& main, const platform::ImagePtr& cover) const
{
    const double scale = settings.scale;
    const bool glyphHover = look.glyphHover, cycling = look.cycling, simplified = look.simplified;
    const QColor background = look.background, placeholder = look.placeholder;
    p.setCompositionMode(QPainter::CompositionMode_Source);
    if (!main || !main->isValid()) {
        p.fillRect(area, placeholder);
        return;
    }
    const bool smooth = !simplified;
    const QImage& pixels = main->pixels();
    const double mainRatio = pixels.width() / std::max(1.0, double(pixels.height()));
    const double areaRatio = area.width() / std::max(1.0, area.height());
    PMMovieTileOverlayInput in;
    in.coverMode = settings.coverMode;
    in.scaleToFit = (settings.layout & PMLayoutScaleToFit) && !PMIsWaterfallLayout(settings.layout);
    in.waterfall = PMIsWaterfallLayout(settings.layout);
    PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem);
    in.hasPoster = movie && movie->cachedPosterImage() != nullptr;
    in.hasCover = cover != nullptr;
    if (cycling) // the hover frame stands for the picture
        in.hasPoster = true, in.hasCover = false;
    in.looksActive = look.looksActive;
    in.scaleIndividually = settings.scaleIndividually && !in.hasCover && movie &&
                           PMMovieTileScalesIndividually(movie->userSettings()->value(QStringLiteral("Scale Preview To Fit")), mainRatio, areaRatio);
    in.alpha = (cycling || in.scaleIndividually) ? 1.0 : settings.overlayAlpha;
    in.mainRatio = mainRatio;
    in.area = area.size();
    const PMMovieTileOverlay overlay = simplified ? PMMovieTileOverlay::None : PMMovieTileOverlayFor(in);
    // Scaled to fit, a tile at rest shows the whole picture; an active one fills its area.
    const bool letterbox = in.scaleToFit && overlay == PMMovieTileOverlay::None && !glyphHover && !look.looksActive;
    if (pixels.hasAlphaChannel() || letterbox)
        p.fillRect(area, letterbox ? background : placeholder);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (letterbox) {
        // The whole picture, at its own shape, in the middle of the area.
        drawFilled(p, pixels, alignedToPixels(PMRectFittingAspectRatioInRect(area, mainRatio), scale), scale, smooth);
        return;
    }
    // Under a whole picture or the hover glyph lies the blurred copy (the picture itself
    // until the copy is there).
    const bool overBlur = glyphHover || overlay == PMMovieTileOverlay::Main;
    const platform::ImagePtr blurred = overBlur ? blurredPicture(main, area.size()) : nullptr;
    drawFilled(p, blurred ? blurred->pixels() : pixels, area, scale, smooth);
    if (overlay == PMMovieTileOverlay::None || glyphHover)
        return;
    const platform::ImagePtr& top = overlay == PMMovieTileOverlay::Cover ? cover : main;
    if (!top || !top->isValid())
        return;
    PMMovieTileOverlayGeometry g;
    g.coverMode = settings.coverMode;
    g.scaleToFit = in.scaleToFit;
    g.overlayIsMain = overlay == PMMovieTileOverlay::Main;
    g.scaleIndividually = in.scaleIndividually;
    g.cycling = cycling;
    g.coverAspectRatio = settings.coverRatio;
    g.previewAspectRatio = settings.previewRatio;
    g.position = settings.overlayPosition;
    const QImage& topPixels = top->pixels();
    QRectF frame = PMMovieTileOverlayFrame(area, topPixels.width() / std::max(1.0, double(topPixels.height())), g);
    if (overlay == PMMovieTileOverlay::Main && !g.scaleIndividually && frame == area) // shown whole
        frame = PMRectFittingAspectRatioInRect(area, mainRatio);
    // An icon (a file without a picture of its own) stands in the middle of its glow.
    if (overlay == PMMovieTileOverlay::Main && topPixels.hasAlphaChannel())
        frame.moveCenter(QPointF(area.center().x(), frame.center().y()));
    p.save();
    p.setOpacity(overlay == PMMovieTileOverlay::Main ? 1.0 : in.alpha);
    drawFilled(p, topPixels, alignedToPixels(frame, scale), scale, smooth);
    p.restore();
}

void PMGroupView::updatePictureLayer(QImage& pictureLayer, PMGroupViewTile::PictureKey* pictureKey, QSize layerPixels, const PictureLayerLook& look,
                                     const PMGroupViewItemProxy& proxy, const DrawSettings& settings, const platform::ImagePtr& image,
                                     const platform::ImagePtr& overlayCover) const
{
    const double scale = settings.scale;
    const platform::ImagePtr blurredNow = image ? image->cachedBlurredImage() : nullptr;
    const PMGroupViewTile::PictureKey key{image.get(),
                                          blurredNow.get(),
                                          overlayCover.get(),
                                          layerPixels,
                                          m_drawSettingsGeneration,
                                          quint64(look.glyphHover) | quint64(look.looksActive) << 1 | quint64(look.cycling) << 2 |
                                              quint64(look.simplified) << 3 | quint64(look.placeholder.rgba()) << 8 |
                                              quint64(look.background.rgb() & 0xffffff) << 40,
                                          look.corners};
    if (!pictureKey || pictureLayer.isNull() || !(*pictureKey == key)) {
        if (pictureLayer.size() != layerPixels || !pictureLayer.isDetached() || pictureLayer.devicePixelRatio() != scale) {
            PMTileBufferPool::give(std::move(pictureLayer));
            pictureLayer = PMTileBufferPool::take(layerPixels, scale);
        }
        composePictureLayer(pictureLayer, look, proxy, settings, image, overlayCover);
        if (pictureKey)
            *pictureKey = key;
    }
}

void PMGroupView::composeTile(QImage& out, QImage& pictureLayer, PMGroupViewTile::PictureKey* pictureKey, const PMGroupViewItemProxy& proxy,
                              const DrawSettings& settings, const platform::ImagePtr& image, QColor background) const
{
    const double scale = settings.scale;
    const QRectF bounds(QPointF(0, 0), QSizeF(out.width() / scale, out.height() / scale));
    if (proxy.isGroup) {
        out.fill(background);
        QPainter painter(&out);
        painter.setRenderHint(QPainter::Antialiasing, true);
        drawGroupTileContent(painter, proxy, bounds, settings);
        return;
    }
    PMGroupViewTile* tile = proxy.view.get();
    PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem);
    const bool dark = settings.dark;
    const bool staticLabels = settings.staticLabels;
    const bool overlaid = settings.labelsOverlaid;
    // The band in whole pixels.
    const double bandHeight = std::round(PMGroupViewLabelBand * scale) / scale;
    const QRectF band = PMMovieTileLabelFrame(bounds, overlaid, bandHeight);
    const QRectF area = PMMovieTilePictureFrame(bounds, staticLabels, overlaid, bandHeight);
    const bool hovering = tile && tile->hovering && tile->canHover;
    const bool menuOpen = tile && tile->displaysMenu;
    const bool visiblyHovering = hovering && !menuOpen;
    const bool bandHovered = tile && tile->hoveringLabel;
    const bool missing = movie && movie->isMissing() && proxy.equivalentContainer.isNull();
    const bool missingVolume = missing && movie->isMissingVolume();
    const bool cycling = tile && tile->hover.indexImageIndex() >= 0 && !_isInLiveScroll;
    // While the thumb is dragged, tiles are drawn quickly (a plain name, no ornaments) and
    // refined once the grid rests.
    const bool simplified = _isInLiveScroll && tile;
    if (simplified)
        tile->simplified = true;
    const bool looksActive = missing || cycling || proxy.selected || menuOpen || visiblyHovering;
    const bool glyphHover = visiblyHovering && !cycling && !bandHovered && image && image->isValid() && PMPreviewSingleClickBehavior(false) < 1 &&
                            PMMovieTileActionFor(proxy.representedItem, proxy.equivalentContainer, true, settings.fullyInteractive) !=
                                PMMovieTileAction::None;
    QColor placeholder = dark ? QColor(60, 60, 60) : QColor(215, 215, 215);
    bool hasPlaceholder = false;
    if (const std::optional<QColor> stored = movie && settings.placeholders ? storedPlaceholderColor(*movie) : std::nullopt) {
        placeholder = *stored;
        hasPlaceholder = placeholder.isValid();
    }
    const platform::ImagePtr cover = (!cycling && movie && !settings.coverMode) ? movie->cachedCoverImage() : nullptr;
    const platform::ImagePtr overlayCover = (cover && cover != image && movie->cachedPosterImage()) ? cover : nullptr;
    const PMTileCornerRadii corners = tileCornerRadii(proxy, settings);
    // With labels below, the picture has the rounded corners; otherwise the whole tile.
    const bool below = staticLabels && !overlaid;
    const QRectF shape = below ? area : bounds;
    // The picture's area (with the band above it), composed again only when what it shows
    // changed; the ornaments are drawn over it.
    const QRect layerPixels(0, 0, out.width(), below ? int(std::lround(area.height() * scale)) : out.height());
    PictureLayerLook look;
    look.area = area;
    look.band = (staticLabels && overlaid) ? band : QRectF();
    look.corners = corners;
    look.glyphHover = glyphHover;
    look.looksActive = looksActive;
    look.cycling = cycling;
    look.simplified = simplified;
    look.background = background;
    look.placeholder = placeholder;
    if (!layerPixels.isEmpty())
        updatePictureLayer(pictureLayer, pictureKey, layerPixels.size(), look, proxy, settings, image, overlayCover);
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (!layerPixels.isEmpty())
        painter.drawImage(QPointF(0, 0), pictureLayer);
    if (below)
        painter.fillRect(QRectF(0, layerPixels.height() / scale, bounds.width(), bounds.height() - layerPixels.height() / scale), background);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // The hover glyph: the tile's action is one click away.
    if (glyphHover && area.height() > 55) {
        const bool play = movie && movie->durationIfCached(true) >= 1 && !missing && !defaults().boolForKey(prefs::keys::DoNotPlayOnOpen);
        PMDrawMovieTileHoverGlyph(painter, area, area.height() < 70 ? 0.4 : 0.55, play);
    }
    // While cycling: where the frame shown lies among the movie's frames.
    if (cycling)
        drawCyclingTrack(painter, (staticLabels ? area : bounds).adjusted(10, 10, -10, -10), *tile);
    // The duration (or a container's item count) in the picture's corner.
    const std::int64_t ornamentPriority = PMGridSettings::integerValue(QStringLiteral("Optional Ornament Priority"), 2);
    if (!cycling && !simplified && (visiblyHovering || proxy.selected || overlaid) && area.width() > 100 && movie &&
        ornamentPriority > (visiblyHovering ? 0 : 1)) {
        drawDurationBadge(painter, proxy, *movie, area);
    }
    // The ring: the selection, a missing file, or a missing volume.
    std::optional<QColor> ring;
    if (proxy.selected)
        ring = selectionColor(settings);
    else if (missing && !missingVolume)
        ring = PMMovieTileMissingFileColor();
    else if (missingVolume && (staticLabels || hovering || menuOpen))
        ring = QColor::fromRgbF(0.98, 0.88, 0.61);
    // The label band with the name, the menu button and, when there is room, the stars.
    const bool bandShown = staticLabels || visiblyHovering || proxy.selected || menuOpen || (!(image && image->isValid()) && !hasPlaceholder);
    if (bandShown && movie) {
        if (ring) {
            if (staticLabels && !overlaid)
                painter.fillPath(PMRoundedRectPath(band.adjusted(0, -settings.radius, 0, 0), settings.radius).subtracted(PMRoundedRectPathWithRadii(area, corners)),
                                 *ring);
            else
                painter.fillRect(band, *ring);
        } else if (!staticLabels) {
            // Over the picture, frosted: the blurred picture under the band's colour.
            painter.save();
            painter.setClipPath(PMRoundedRectPathWithRadii(shape, corners));
            const platform::ImagePtr blurred = blurredPicture(image, area.size());
            if (blurred)
                drawFilled(painter, blurred->pixels(), bounds, scale, !simplified, band);
            painter.fillRect(band, PMMovieTileBandColor(dark));
            painter.restore();
        }
        const bool onColour = ring.has_value();
        const double emphasis = simplified ? (staticLabels || proxy.selected ? 0.0 : 0.4)
                                           : ((bandHovered || menuOpen) ? 1.0 : ((staticLabels || proxy.selected) ? (visiblyHovering ? 1.0 : 0.0) : 0.4));
        const QColor text = PMMovieTileLabelColor(missing, missingVolume, proxy.selected, dark, bandHovered || menuOpen, emphasis);
        QRectF textRect = band;
        if (overlaid || missing || proxy.selected)
            textRect.adjust(PMPreviewLabelInset(), 0, -PMPreviewLabelInset(), 0);
        bool drewControl = false;
        if (!simplified) {
            const QRectF button = PMMovieTileContextMenuButtonFrame(band, bandHovered || menuOpen, tile && tile->tracksRatingCell, settings.fullyInteractive);
            if (!button.isEmpty()) {
                QRectF glyph = button.adjusted(3, 3, -3, -3);
                if (!overlaid && !missing && !proxy.selected)
                    glyph.translate(-3, 0);
                PMDrawMovieTileMenuGlyph(painter, glyph.adjusted(-1, -1, 1, 1), text);
                textRect.setLeft(std::max(textRect.left(), button.right() + 4));
                drewControl = true;
            }
        }
        const QRectF stars = (cycling || simplified) ? QRectF() : ratingFrameInTile(proxy, bounds, settings);
        if (!stars.isEmpty()) {
            PMRatingCell cell;
            cell.setDoubleValue(movie->rating());
            cell.setTint(PMMovieTileRatingTint(proxy.selected || onColour, dark, missing, !overlaid, movie->rating()));
            // Where stars can be set, the empty places show too.
            cell.setHighlighted(bandHovered || (tile && tile->tracksRatingCell));
            cell.drawWithFrame(painter, stars);
            textRect.setRight(std::min(textRect.right(), stars.left() - 4));
            drewControl = true;
        }
        if (textRect.width() > 22)
            PMPreviewDrawLabel(painter, itemName(proxy.selectedItem()), textRect, staticLabels && !overlaid && !drewControl, proxy.selected, text);
    }
    if (ring)
        drawTileRing(painter, shape, corners, *ring);
}

QColor PMGroupView::selectionColor(const DrawSettings& settings)
{
    // Grey while the grid is not where keys go; dark enough that the white name on it
    // still reads.
    return settings.selectionActive ? QGuiApplication::palette().highlight().color() : QColor(115, 115, 115);
}

void PMGroupView::drawGroupTileContent(QPainter& painter, const PMGroupViewItemProxy& proxy, const QRectF& rect, const DrawSettings& settings) const
{
    const bool dark = settings.dark;
    const bool hovering = proxy.view && proxy.view->hovering;
    const bool menuOpen = proxy.view && proxy.view->displaysMenu;
    const bool selected = proxy.selected;
    const bool contrast = PMShouldIncreaseContrast();
    const bool emphasized = PMMovieCell::drawsEmphasizedStatusBadge();
    const QColor highlight = selectionColor(settings);
    const QPainterPath path = PMRoundedRectPath(rect.adjusted(0.25, 0.25, -0.25, -0.25), std::min(settings.radius, rect.height() / 2));
    QColor background;
    if (selected)
        background = highlight;
    else if (!dark)
        background = QColor::fromRgbF(contrast ? 1.0 : (hovering ? 0.96 : 0.99), contrast ? 1.0 : (hovering ? 0.96 : 0.99),
                                      contrast ? 1.0 : (hovering ? 0.96 : 0.99));
    else
        background = QColor::fromRgbF(hovering ? 0.325 : 0.275, hovering ? 0.325 : 0.275, hovering ? 0.325 : 0.275);
    painter.fillPath(path, background);
    if (!selected) {
        QColor border;
        if (!dark)
            border = contrast ? PMGroupViewBorderColor(dark) : QColor::fromRgbF(0, 0, 0, 0.15);
        else {
            const double level = contrast ? 1.0 : (hovering ? 0.325 : 0.275);
            border = QColor::fromRgbF(level, level, level);
            if (!contrast) // drawn a little lighter than the box, so that the edge shows
                border = border.lighter(135);
        }
        painter.setPen(QPen(border, contrast ? 1.0 : 0.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    const bool large = false;
    QRectF label = rect.adjusted(PMPreviewLabelInset(), 0, -PMPreviewLabelInset(), 0);
    const auto container = PMContainerPtr(proxy.representedItem);
    const QString count = container ? PMItemCountString(*container) : QString();
    if (!count.isEmpty()) {
        const double badge = badgeWidthUsingLargeFont(count, large, false);
        if (PMGroupTileBadgeFits(label.width(), badge)) {
            PMBadgeLayout layout;
            // Right and bottom margins of 4 points (a negative margin counts from the bottom).
            if (selected)
                layout = drawAsBadgeInRect(painter, count, rect, large, PMBadgeBackground(QColor::fromRgbF(1, 1, 1, 0.2)), 4, -4);
            else if (!hovering && !emphasized)
                layout = drawAsBadgeInRect(painter, count, rect, large, contrast ? std::optional<QColor>(PMGroupViewBorderColor(dark)) : QColor::fromRgbF(0.6, 0.6, 0.6),
                                           PMBadgeBackground::none(), nullptr, 0, 0, 0, 4, -4, -1, -1, false, false);
            else if (!contrast)
                layout = drawAsBadgeInRect(painter, count, rect, large, dark ? std::nullopt : std::optional<QColor>(QColor::fromRgbF(0, 0, 0, 0.6)),
                                           PMBadgeBackground(dark ? (emphasized ? QColor::fromRgbF(0, 0, 0, 0.2) : QColor::fromRgbF(1, 1, 1, 0.2))
                                                                  : QColor::fromRgbF(0, 0, 0, 0.1)),
                                           nullptr, 0, 0, 0, 4, -4, -1, -1, false, false);
            else
                layout = drawAsBadgeInRect(painter, count, rect, large, dark ? Qt::black : Qt::white, PMBadgeBackground(PMGroupViewBorderColor(dark)),
                                           nullptr, 0, 0, 0, 4, -4, -1, -1, false, false);
            label.setRight(std::min(label.right(), layout.badgeRect.left()));
        }
    }
    // Hovered or showing its menu, the name stands out.
    const bool active = hovering || menuOpen;
    QColor text = (!dark && !selected) ? Qt::black : Qt::white;
    if (active && !dark && !selected)
        text = backwardsCompatibleControlAccentColor();
    else
        text.setAlphaF(active ? 1.0 : (selected ? 0.86 : 0.8));
    PMPreviewDrawLabel(painter, itemName(proxy.representedItem), label, false, selected, text);
}

void PMGroupView::fillUncovered(QPainter& painter, const QRectF& area, const QRectF& band, const DrawSettings& settings) const
{
    const QColor plain(settings.background), tinted(settings.bandBackground);
    // Resting tiles are opaque and cover their frames' device pixels exactly.
    const double s = settings.scale;
    std::vector<QRectF> covers;
    covers.reserve(m_shown.size());
    for (const PMGroupViewItemProxy* proxy : m_shown) {
        const PMGroupViewTile* tile = proxy->view.get();
        if (!tile || tile->alpha < 1.0 || tile->moving || tile->shownFrame.size() != proxy->frame.size())
            continue;
        const QRectF& f = tile->shownFrame;
        const QRectF r = QRectF(std::round(f.x() * s) / s, std::round(f.y() * s) / s, double(std::max(1L, std::lround(f.width() * s))) / s,
                                double(std::max(1L, std::lround(f.height() * s))) / s) &
                         area;
        if (!r.isEmpty())
            covers.push_back(r);
    }
    std::vector<double> ys{area.top(), area.bottom()};
    if (!band.isEmpty())
        for (double y : {band.top(), band.bottom()})
            if (y > area.top() && y < area.bottom())
                ys.push_back(y);
    for (const QRectF& r : covers)
        ys.push_back(r.top()), ys.push_back(r.bottom());
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    const auto colourAt = [&](double y) { return !band.isEmpty() && y >= band.top() && y < band.bottom() ? tinted : plain; };
    // Ragged edges everywhere (a waterfall of many tiles): one fill is cheaper.
    if (ys.size() > 600) {
        painter.fillRect(area, plain);
        if (!band.isEmpty())
            painter.fillRect(band & area, tinted);
        return;
    }
    std::sort(covers.begin(), covers.end(), [](const QRectF& a, const QRectF& b) { return a.top() < b.top(); });
    std::vector<const QRectF*> active;
    std::vector<std::pair<double, double>> spans;
    std::size_t next = 0;
    for (std::size_t i = 0; i + 1 < ys.size(); ++i) {
        const double y0 = ys[i], y1 = ys[i + 1];
        active.erase(std::remove_if(active.begin(), active.end(), [&](const QRectF* r) { return r->bottom() <= y0; }), active.end());
        while (next < covers.size() && covers[next].top() <= y0)
            active.push_back(&covers[next++]);
        spans.clear();
        for (const QRectF* r : active)
            spans.emplace_back(r->left(), r->right());
        std::sort(spans.begin(), spans.end());
        const QColor colour = colourAt(y0);
        double x = area.left();
        for (const auto& [left, right] : spans) {
            if (left > x)
                painter.fillRect(QRectF(x, y0, left - x, y1 - y0), colour);
            x = std::max(x, right);
        }
        if (x < area.right())
            painter.fillRect(QRectF(x, y0, area.right() - x, y1 - y0), colour);
    }
}

void PMGroupView::paintVisible(QPainter& painter, const QRectF& visible, const QRectF& dirty)
{
    const QRectF area = dirty.isEmpty() ? visible : (dirty & visible);
    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    m_paintSettings.reset();
    m_paintSettings = drawSettings();
    const bool dark = m_paintSettings->dark;
    // The band and line between subgroups and movies; the band is lighter in the dark look.
    const bool separated = !_groupProxies.empty() && _separatorY > 0;
    const double lineWidth = devicePixelRatioF() > 1.0 ? 0.5 : 1.0;
    QRectF band;
    if (separated) {
        const QRectF bounds(0, 0, m_contentSize.width(), std::max(m_contentSize.height(), visible.bottom()));
        band = defaults().integerForKey(prefs::keys::SubgroupPreviewsPosition) == 1
                   ? QRectF(0, _separatorY + lineWidth, bounds.width(), bounds.bottom() - _separatorY - lineWidth)
                   : QRectF(0, 0, bounds.width(), _separatorY);
    }
    // The grid's colour only where no tile covers it.
    fillUncovered(painter, area, dark ? band : QRectF(), *m_paintSettings);
    if (separated)
        painter.fillRect(QRectF(0, _separatorY, band.width(), lineWidth), dark ? QColor::fromRgbF(0, 0, 0, 0.4f) : PMGroupViewBorderColor(dark));
    m_paintedTiles = 0;
    for (PMGroupViewItemProxy* proxy : m_shown) {
        if (!proxy->view)
            continue;
        const QRectF& shown = proxy->view->shownFrame;
        if (!shown.intersects(area))
            continue;
        drawPreviewViewInRect(painter, *proxy, shown, proxy->view->alpha);
        ++m_paintedTiles;
    }
    m_paintSettings.reset();
    // The empty grid's message.
    if (!_isHighlighted && _proxies.empty() && mainController()._groupView == this) {
        const QString message = mainController().groupPlaceholderMessage();
        if (!message.isEmpty())
            fitAndDrawInRect(painter, message, visible, nullptr, dark ? QColor::fromRgbF(1, 1, 1, 0.3f) : QColor::fromRgbF(0, 0, 0, 0.3f), nullptr, 32);
    }
    // An empty online container that is not searching points at the search field.
    if (!_isHighlighted && _movieProxies.empty() && _representedGroup && _representedGroup->isOnlineItem() && _arrowAlpha > 0) {
        const double height = std::min(visible.height(), 100.0);
        const double y = visible.top() + 100.0 * (1.0 - _arrowAlpha);
        fitAndDrawInRect(painter, QStringLiteral("⬆"), QRectF(visible.right() - 80, y, 80, height), nullptr,
                         QColor::fromRgbF(dark ? 1 : 0, dark ? 1 : 0, dark ? 1 : 0, float(0.18 * _arrowAlpha)), nullptr, 0);
    }
    // The drop marker in the gap of a local drag.
    std::vector<PMGroupViewItemProxy*> meeting;
    if (_isDragTarget)
        proxiesInRect(visible, meeting);
    for (PMGroupViewItemProxy* proxy : meeting)
        if (proxy->dragged) {
            fitAndDrawInRect(painter, QStringLiteral("•"), proxy->frame, nullptr, dark ? QColor::fromRgbF(1, 1, 1, 0.3f) : QColor::fromRgbF(0, 0, 0, 0.3f),
                             nullptr, 0);
            break;
        }
    painter.restore();
}

void PMGroupView::paintEvent(QPaintEvent* event)
{
    settleScroll();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double top = verticalScrollBar()->value();
    painter.translate(0, -top);
    // A hover frame or a single tile's change repaints only that tile's area.
    paintVisible(painter, visibleRect(), QRectF(event->rect()).translated(0, top));
    painter.translate(0, top);
    if (_isHighlighted) {
        painter.setPen(QPen(QGuiApplication::palette().highlight().color(), 5.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(viewport()->rect()).adjusted(2.5, 2.5, -2.5, -2.5));
    }
    const QRectF spot = m_spotlightRect;
    if (!spot.isEmpty()) {
        QPainterPath dim;
        dim.addRect(viewport()->rect());
        QPainterPath aperture;
        aperture.addRect(spot.translated(0, -top));
        painter.fillPath(dim.subtracted(aperture), PMGroupViewBackgroundColor(drawSettings().dark, 0.7));
    }
    if (!m_selectionWindow.frame.isEmpty())
        PMGroupViewSelectionWindow::drawOverlayInBounds(painter, m_selectionWindow.frame, m_selectionWindow);
}
