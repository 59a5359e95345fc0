// Frame grabs of a movie (hover frames and index images) and the composition of index images.
#include "images/PMIndexImage.h"
#include "images/NSImage+PMQuickLook.h"
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoader.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMMovie.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/ImageGenerator.h"

#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;
using platform::media::MediaTime;
namespace media = platform::media;

namespace {

// ---- The media layer's generator

class MediaFrameGenerator final : public PMIndexImageFrameGenerator {
public:
    explicit MediaFrameGenerator(media::AssetPtr asset) : m_asset(std::move(asset)), m_generator(std::make_shared<media::ImageGenerator>(m_asset))
    {
        m_generator->setAppliesPreferredTrackTransform(true);
    }
    void setRequestedTimeTolerance(MediaTime before, MediaTime after) override
    {
        m_generator->setRequestedTimeToleranceBefore(before);
        m_generator->setRequestedTimeToleranceAfter(after);
    }
    void generateImagesAsynchronouslyForTimes(const std::vector<MediaTime>& times, Handler handler) override
    {
        m_generator->generateImagesAsynchronouslyForTimes(
            times, [handler = std::move(handler)](const MediaTime& requested, const QImage& image, const MediaTime& actual,
                                                  media::ImageGenerator::Result result, const QString&) {
                handler(requested, image, actual,
                        result == media::ImageGenerator::Result::Succeeded ? Result::Succeeded
                        : result == media::ImageGenerator::Result::Cancelled ? Result::Cancelled
                                                                             : Result::Failed);
            });
    }
    void cancelAllImageGeneration() override { m_generator->cancelAllImageGeneration(); }
    MediaTime assetDuration() const override { return m_asset ? m_asset->duration() : MediaTime::zero(); }

private:
    media::AssetPtr m_asset;
    std::shared_ptr<media::ImageGenerator> m_generator;
};

// ---- Deadlines: one watcher thread runs jobs once their time has come.

class DeadlineWatcher {
public:
    static DeadlineWatcher& shared()
    {
        static DeadlineWatcher* watcher = new DeadlineWatcher(); // lives to the end of the process
        return *watcher;
    }
    void runAfter(int milliseconds, platform::Job job)
    {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds), std::move(job));
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_all();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_jobs.empty()) {
                m_wake.wait(lock);
                continue;
            }
            const auto first = m_jobs.begin();
            if (first->first > std::chrono::steady_clock::now()) {
                m_wake.wait_until(lock, first->first);
                continue;
            }
            platform::Job job = std::move(first->second);
            m_jobs.erase(first);
            lock.unlock();
            platform::dispatchAsyncGlobal(std::move(job));
            lock.lock();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<std::chrono::steady_clock::time_point, platform::Job> m_jobs;
    std::thread m_thread;
};

PMCompletionQueue mainQueue()
{
    return [](platform::Job job) { platform::dispatchAsyncMain(std::move(job)); };
}

// One grab of n frames: its counter and frames are touched on the completion queue only.
struct Grab {
    int n = 0;
    int answered = 0;
    bool finished = false;
    PMIndexImageWrappers wrappers;
    std::shared_ptr<PMIndexImageFrameGenerator> generator;
    std::function<void(std::optional<PMIndexImageWrappers>)> completion;
    PMCompletionQueue queue;
};

// Grabs in progress are held here until they end, whatever their generator does.
std::mutex g_grabsMutex;
std::set<std::shared_ptr<Grab>> g_grabs;

void finishGrab(const std::shared_ptr<Grab>& grab)
{
    if (grab->finished)
        return;
    grab->finished = true;
    PMSortIndexImageWrappersByTime(grab->wrappers);
    // Ended off the completion queue: ending a generator waits for the frame it decodes.
    if (std::shared_ptr<PMIndexImageFrameGenerator> generator = std::move(grab->generator))
        platform::dispatchAsyncGlobal([generator = std::move(generator)]() mutable {
            generator->cancelAllImageGeneration();
            generator.reset();
        });
    {
        std::lock_guard lock(g_grabsMutex);
        g_grabs.erase(grab);
    }
    auto completion = std::move(grab->completion);
    if (completion)
        completion(std::move(grab->wrappers));
}

ImagePtr transformedFrame(const QImage& image, const PMIndexImageRecordValues& values, QSizeF maximumSize)
{
    if (image.isNull())
        return nullptr;
    ImagePtr frame = sizeCorrectedImageWithCGImage(image);
    if (!frame)
        return nullptr;
    return imageWithImage(frame, values.flipHorizontally, values.angle, values.visibleArea, values.aspectRatio, maximumSize, false);
}

} // namespace

// ---- Generators and frame times

PMIndexImageFrameGenerator::Factory& PMIndexImageFrameGenerator::factory()
{
    static Factory factory = [](const media::AssetPtr& asset) -> std::shared_ptr<PMIndexImageFrameGenerator> {
        return asset ? std::make_shared<MediaFrameGenerator>(asset) : nullptr;
    };
    return factory;
}

std::shared_ptr<PMIndexImageFrameGenerator> PMIndexImageFrameGenerator::generatorWithAsset(const media::AssetPtr& asset)
{
    return factory() ? factory()(asset) : nullptr;
}

int& PMIndexImageFrameGenerator::generationTimeLimitMs()
{
    static int limit = 30000;
    return limit;
}

int PMIndexImageFrameGenerator::generationTimeLimitMsForCount(int n)
{
    // Every request may take the media layer's limit; a grab gets a share of that per frame.
    const qint64 limit = qint64(generationTimeLimitMs()) + qint64(std::max(n, 1)) * (generationTimeLimitMs() / 10);
    return int(std::min<qint64>(limit, 3'600'000));
}

MediaTime PMIndexImageFrameTolerance(const MediaTime& duration, int n)
{
    n = std::max(n, 1);
    const std::int64_t value = duration.value / (3 * std::int64_t(n));
    MediaTime tolerance = MediaTime::make(value < 2 ? 0 : value, duration.timescale);
    return tolerance;
}

std::vector<MediaTime> PMIndexImageFrameTimes(PMIndexImageFrameGenerator* generator, const MediaTime& duration, int n)
{
    n = std::max(n, 1);
    if (generator) {
        const MediaTime tolerance = PMIndexImageFrameTolerance(duration, n);
        generator->setRequestedTimeTolerance(tolerance, tolerance);
    }
    std::vector<MediaTime> times;
    times.reserve(size_t(n));
    for (int i = 1; i <= n; ++i) {
        MediaTime t = duration;
        // value × i / (n + 1) without overflow for long movies at fine scales
        t.value = std::int64_t((__int128)duration.value * i / (n + 1));
        times.push_back(t);
    }
    return times;
}

PMIndexImageRecordValues PMIndexImageRecordValues::of(PMMovieRepresentationPrototype& movie)
{
    PMIndexImageRecordValues v;
    v.url = movie.URL();
    v.uniqueLibraryID = movie.uniqueLibraryID();
    const DictionaryPtr settings = movie.userSettings();
    v.editingSteps = settings ? settings->value(QStringLiteral("Editing Steps")).array() : nullptr;
    v.flipHorizontally = movie.isFlippedHorizontally();
    v.angle = movie.angle();
    v.visibleArea = settings ? settings->value(QStringLiteral("Visible Area")).dictionary() : nullptr;
    if (settings) {
        const Value ratio = settings->value(QStringLiteral("Aspect Ratio"));
        if (ratio.isNumber() && ratio.toDouble() > 0 && std::isfinite(ratio.toDouble()))
            v.aspectRatio = ratio.toDouble();
    }
    return v;
}

// ---- Grabbing frames

void indexImageWrappersForMovieRepresentation(PMMovieRepresentationPrototype& movie, int numberOfImages, QSizeF maximumSize,
                                              std::function<void(std::optional<PMIndexImageWrappers>)> completionHandler,
                                              PMCompletionQueue completionQueue)
{
    indexImageWrappersForMovieRepresentationValues(PMIndexImageRecordValues::of(movie), numberOfImages, maximumSize, std::move(completionHandler),
                                                   std::move(completionQueue));
}

void indexImageWrappersForMovieRepresentationValues(const PMIndexImageRecordValues& values, int numberOfImages, QSizeF maximumSize,
                                                    std::function<void(std::optional<PMIndexImageWrappers>)> completionHandler,
                                                    PMCompletionQueue completionQueue)
{
    if (!completionQueue)
        completionQueue = mainQueue();
    const int n = std::max(numberOfImages, 1);
    PMMovieRepresentationImageLoader::defaultLoader().crawlQueue().addOperation(
        [values, n, maximumSize, completionHandler = std::move(completionHandler), completionQueue]() mutable {
            const PMAssetPtr asset = PMMovie::assetWithURL(values.url, values.uniqueLibraryID, values.editingSteps);
            const MediaTime duration = asset ? asset->duration() : MediaTime::invalid();
            std::shared_ptr<PMIndexImageFrameGenerator> generator;
            if (asset && duration.isNumeric() && duration.value > 0)
                generator = PMIndexImageFrameGenerator::generatorWithAsset(asset);
            if (!generator) {
                completionQueue([completionHandler = std::move(completionHandler)] {
                    if (completionHandler)
                        completionHandler(std::nullopt);
                });
                return;
            }
            auto grab = std::make_shared<Grab>();
            grab->n = n;
            grab->generator = generator;
            grab->completion = std::move(completionHandler);
            grab->queue = completionQueue;
            {
                std::lock_guard lock(g_grabsMutex);
                g_grabs.insert(grab);
            }
            const std::vector<MediaTime> times = PMIndexImageFrameTimes(generator.get(), duration, n);
            // The answers that never came count as failed once the grab's time is up.
            std::weak_ptr<Grab> weakGrab = grab;
            DeadlineWatcher::shared().runAfter(PMIndexImageFrameGenerator::generationTimeLimitMsForCount(n), [weakGrab, completionQueue] {
                if (std::shared_ptr<Grab> grab = weakGrab.lock())
                    completionQueue([grab] {
                        if (!grab->finished)
                            PMLog("frame grab timed out with %ld of %ld frames", (long)grab->answered, (long)grab->n);
                        finishGrab(grab);
                    });
            });
            generator->generateImagesAsynchronouslyForTimes(
                times, [grab, values, maximumSize](const MediaTime&, const QImage& image, const MediaTime& actual, PMIndexImageFrameGenerator::Result result) {
                    platform::dispatchAsyncGlobal([grab, values, maximumSize, image, actual, result] {
                        ImagePtr frame;
                        if (result == PMIndexImageFrameGenerator::Result::Succeeded)
                            frame = transformedFrame(image, values, maximumSize);
                        grab->queue([grab, frame, actual] {
                            if (grab->finished)
                                return;
                            if (frame)
                                grab->wrappers.push_back(std::make_shared<PMGeneratedIndexImageWrapper>(frame, actual));
                            if (++grab->answered >= grab->n)
                                finishGrab(grab);
                        });
                    });
                });
        });
}

PMIndexImageWrappers indexImageWrappersForMovieRepresentationValuesSynchronously(const PMIndexImageRecordValues& values, int numberOfImages,
                                                                                 QSizeF maximumSize)
{
    // The answers are serialised by a lock of this call's own, on whichever thread brings them.
    auto mutex = std::make_shared<std::recursive_mutex>();
    auto promise = std::make_shared<std::promise<PMIndexImageWrappers>>();
    std::future<PMIndexImageWrappers> future = promise->get_future();
    indexImageWrappersForMovieRepresentationValues(
        values, numberOfImages, maximumSize,
        [promise](std::optional<PMIndexImageWrappers> wrappers) { promise->set_value(wrappers ? std::move(*wrappers) : PMIndexImageWrappers()); },
        [mutex](platform::Job job) {
            std::lock_guard lock(*mutex);
            job();
        });
    return future.get();
}

int PMStandardIndexImageCount()
{
    const long long n = prefs::get(prefs::keys::CycleThroughIndexImageOnHoverNumberOfImages);
    return n < 1 ? 10 : int(std::min<long long>(n, kPMMaximumStandardIndexImageCount));
}

int PMStandardIndexImageSide()
{
    const long long side = prefs::get(prefs::keys::CycleThroughIndexImageOnHoverSize);
    return side < 1 ? 256 : int(std::min<long long>(side, 4096));
}

// ---- Layout

QRectF PMIndexImageLayout::cellRect(int i) const
{
    const int column = i % columns, row = i / columns;
    const double P = spacing + 2 * border;
    return QRectF(spacing + border + column * (cellSize.width() + P),
                  sheetSize.height() - spacing - border - cellSize.height() - row * (cellSize.height() + P), cellSize.width(), cellSize.height());
}

QRectF PMIndexImageLayout::backgroundRect(int i) const
{
    const int column = i % columns, row = i / columns;
    const double P = spacing + 2 * border;
    return QRectF(spacing + column * (cellSize.width() + P), sheetSize.height() - (row + 1) * (cellSize.height() + P),
                  cellSize.width() + 2 * border, cellSize.height() + 2 * border);
}

QSizeF PMIndexImageDisplaySize(QSizeF naturalSize, int angle, const DictionaryPtr& visibleArea, std::optional<double> aspectRatio)
{
    double w = naturalSize.width(), h = naturalSize.height();
    const int a = ((angle % 360) + 360) % 360;
    if (a % 180 == 90) {
        std::swap(w, h);
    } else if (a % 90 != 0) {
        // Any other angle: the bounding box of the turned picture, as the transform draws it.
        const double radians = a * M_PI / 180.0;
        const double c = std::fabs(std::cos(radians)), s = std::fabs(std::sin(radians));
        const double bw = w * c + h * s, bh = w * s + h * c;
        w = bw;
        h = bh;
    }
    if (visibleArea) {
        const double fw = doubleValueOfObjectForKey(visibleArea, QStringLiteral("w")), fh = doubleValueOfObjectForKey(visibleArea, QStringLiteral("h"));
        if (fw > 0 && fw <= 1)
            w *= fw;
        if (fh > 0 && fh <= 1)
            h *= fh;
    }
    if (aspectRatio && *aspectRatio > 0 && std::isfinite(*aspectRatio))
        h = w * *aspectRatio;
    return QSizeF(w, h);
}

int PMIndexImageAutomaticColumns(int n, double ratio, QSizeF cell, double S, double P)
{
    struct Track {
        bool active = true, started = false;
        double best = 0;
        int columns = 1;
    } exact, ragged;
    ragged.active = n > 2;
    for (int r = n; r >= 1; --r) {
        const int columns = (n + r - 1) / r;
        const double error = std::fabs(ratio - (S + columns * (cell.width() + P)) / (S + r * (cell.height() + P)));
        Track& track = n % r == 0 ? exact : ragged;
        Track& other = n % r == 0 ? ragged : exact;
        if (!track.active)
            continue;
        if (!track.started || error < track.best) {
            track.started = true;
            track.best = error;
            track.columns = columns;
        } else {
            if (!other.active)
                break;
            track.active = false;
        }
    }
    int columns = exact.columns;
    if ((columns == 1 || columns == n) && ragged.started && ragged.columns >= 2 && ragged.best < exact.best)
        columns = ragged.columns;
    return columns;
}

PMIndexImageLayout PMIndexImageLayoutForSettings(const DictionaryPtr& given, int n, QSizeF display)
{
    using namespace PMIndexImageSettingsKeys;
    const DictionaryPtr settings = PMIndexImageViewSettings::clampedIndexImageSettings(given);
    PMIndexImageLayout layout;
    n = std::max(n, 1);
    layout.numberOfImages = n;
    const long S0 = integerValueOfObjectForKey(settings, spacing), B0 = integerValueOfObjectForKey(settings, border);
    layout.dropShadows = boolValueOfObjectForKey(settings, dropShadows) && S0 >= 1;
    layout.solidBackground = S0 < 1 && B0 > 0;
    layout.spacing = layout.solidBackground ? B0 : S0;
    layout.border = layout.solidBackground ? 0 : B0;
    const double P = layout.spacing + 2 * layout.border;
    double w = display.width(), h = display.height();
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h))
        w = h = 1;
    const long M = integerValueOfObjectForKey(settings, maximumNumberOfColumns);
    const long W = std::max<long>(integerValueOfObjectForKey(settings, singleImageWidth), 1);
    double cw, ch;
    if (M < 0 && h > w) {
        ch = W;
        cw = std::round(w * W / h);
        if (cw < 70) {
            cw = 70;
            ch = std::round(70 * h / w);
        }
    } else {
        cw = std::max<long>(W, 70);
        ch = std::round(h * cw / w);
    }
    ch = std::clamp(ch, 1.0, 100000.0);
    layout.cellSize = QSizeF(cw, ch);
    if (M > n)
        layout.columns = n;
    else if (M >= 0)
        layout.columns = std::max<int>(int(M), 1);
    else
        layout.columns = PMIndexImageAutomaticColumns(n, -double(M) / 100.0, layout.cellSize, layout.spacing, P);
    layout.rows = (n + layout.columns - 1) / layout.columns;
    layout.sheetSize = QSizeF(layout.spacing + layout.columns * (cw + P), layout.spacing + layout.rows * (ch + P));
    return layout;
}

// ---- Drawing

PMIndexImageBadgeDrawer& PMIndexImageTimestampBadgeDrawer()
{
    static PMIndexImageBadgeDrawer drawer = [](QPainter& painter, const QString& text, const QRectF& cell, const ImagePtr&) {
        QFont font = painter.font();
        font.setPixelSize(std::clamp(int(cell.height() / 9), 9, 16));
        font.setBold(true);
        painter.save();
        painter.setFont(font);
        const QFontMetricsF metrics(font);
        const double padding = metrics.height() * 0.3;
        const QSizeF size(metrics.horizontalAdvance(text) + 2 * padding, metrics.height() + padding * 0.6);
        const QRectF badge(cell.right() - 8 - size.width(), cell.bottom() - 8 - size.height(), size.width(), size.height());
        QPainterPath path;
        path.addRoundedRect(badge.intersected(cell), size.height() / 2, size.height() / 2);
        painter.fillPath(path, QColor(0, 0, 0, 140));
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
        painter.restore();
    };
    return drawer;
}

namespace {

std::mutex g_sheetsMutex;
std::vector<std::pair<std::weak_ptr<platform::Image>, PMIndexImageWrappers>> g_sheets;

} // namespace

void setIndexImageWrappers(const ImagePtr& sheet, PMIndexImageWrappers wrappers)
{
    std::lock_guard lock(g_sheetsMutex);
    std::erase_if(g_sheets, [](const auto& entry) { return entry.first.expired(); });
    g_sheets.emplace_back(sheet, std::move(wrappers));
}

PMIndexImageWrappers indexImageWrappers(const ImagePtr& sheet)
{
    std::lock_guard lock(g_sheetsMutex);
    for (const auto& entry : g_sheets)
        if (entry.first.lock() == sheet)
            return entry.second;
    return {};
}

ImagePtr PMComposeIndexImage(const PMIndexImageWrappers& frames, const PMIndexImageLayout& layout, const QColor& borderColor, bool timestamps,
                             QString* error)
{
    const double scale = std::max(PMLargestBackingScaleFactor(), 1.0);
    const qint64 pixelWidth = qint64(std::ceil(layout.sheetSize.width() * scale)), pixelHeight = qint64(std::ceil(layout.sheetSize.height() * scale));
    if (pixelWidth < 1 || pixelHeight < 1 || pixelWidth > 60000 || pixelHeight > 60000 || pixelWidth * pixelHeight > kPMMaximumIndexImagePixels) {
        const QString message = QStringLiteral("The index image would be too large (%1 × %2 pixels): choose fewer images or a smaller width.")
                                    .arg(pixelWidth)
                                    .arg(pixelHeight);
        PMLog("%@", message);
        if (error)
            *error = message;
        return nullptr;
    }
    const int n = layout.numberOfImages;
    const double H = layout.sheetSize.height();
    auto flipped = [H](const QRectF& r) { return QRectF(r.x(), H - r.y() - r.height(), r.width(), r.height()); };
    ImagePtr drawn = imageWithSize(layout.sheetSize, int(pixelWidth), int(pixelHeight), PMImageInterpolation::High, [&](QPainter& painter, const QRectF&) {
        painter.scale(scale, scale);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QColor colour = borderColor.isValid() ? borderColor : QColor(Qt::white);
        if (layout.dropShadows || layout.border > 0 || layout.solidBackground) {
            if (layout.solidBackground) {
                painter.fillRect(QRectF(QPointF(0, 0), layout.sheetSize), colour);
            } else {
                if (layout.dropShadows) {
                    // A soft shadow one point below each frame, fading over the blur radius.
                    const double radius = layout.spacing < 3 ? layout.spacing * 0.5 : layout.spacing * 0.4;
                    const int steps = std::max(1, int(std::ceil(radius)));
                    for (int i = 0; i < std::max(n, 1); ++i) {
                        const QRectF r = flipped(layout.backgroundRect(i)).translated(0, 1);
                        for (int k = steps; k >= 1; --k)
                            painter.fillRect(r.adjusted(-k * radius / steps, -k * radius / steps, k * radius / steps, k * radius / steps),
                                             QColor(0, 0, 0, int(std::round(0.2 * 255 / (steps + 1)))));
                    }
                }
                for (int i = 0; i < std::max(n, 1); ++i)
                    painter.fillRect(flipped(layout.backgroundRect(i)), colour);
            }
        }
        for (int i = 0; i < std::max(n, 1); ++i) {
            const QRectF cell = layout.cellRect(i);
            const QRectF target = flipped(cell);
            const PMIndexImageWrapperPtr frame = size_t(i) < frames.size() ? frames[size_t(i)] : nullptr;
            if (frame && frame->image() && frame->image()->isValid()) {
                painter.drawImage(target, frame->image()->pixels());
                frame->setFrame(cell);
            } else {
                PMDrawDashedFrame(painter, target.adjusted(4, 4, -4, -4));
            }
            if (timestamps && frame) {
                const QString text = frame->timestampDescription();
                if (!text.isEmpty() && PMIndexImageTimestampBadgeDrawer())
                    PMIndexImageTimestampBadgeDrawer()(painter, text, target, frame->image());
            }
        }
    });
    if (!drawn) {
        if (error)
            *error = QStringLiteral("The index image could not be drawn.");
        return nullptr;
    }
    setIndexImageWrappers(drawn, frames);
    return drawn;
}

// ---- Composition on a record

namespace {

QColor borderColorOfSettings(const DictionaryPtr& settings)
{
    // Archived by older versions; this build stores "#rrggbb" text or component arrays.
    Value colour = settings ? settings->value(PMIndexImageSettingsKeys::borderColor) : Value();
    if (colour.isData())
        colour = unarchivedObjectForKey(settings, PMIndexImageSettingsKeys::borderColor);
    if (colour.isString()) {
        const QColor c = QColor::fromString(colour.string());
        if (c.isValid())
            return c;
    }
    if (colour.isArray()) {
        const platform::ArrayPtr parts = colour.array();
        if (parts->count() >= 3) {
            QColor c;
            c.setRgbF(float(std::clamp(parts->at(0).toDouble(), 0.0, 1.0)), float(std::clamp(parts->at(1).toDouble(), 0.0, 1.0)),
                      float(std::clamp(parts->at(2).toDouble(), 0.0, 1.0)),
                      float(parts->count() >= 4 ? std::clamp(parts->at(3).toDouble(), 0.0, 1.0) : 1.0));
            return c;
        }
    }
    return QColor(Qt::white);
}

// Frames kept for the sheet: at most 1000 points wide at the screen's pixel ratio.
QImage reducedForSheet(const QImage& image)
{
    const int maximum = int(1000 * std::max(PMLargestBackingScaleFactor(), 1.0));
    return image.width() > maximum ? image.scaledToWidth(maximum, Qt::SmoothTransformation) : image;
}

void startGeneration(const std::shared_ptr<PMMovieRepresentationPrototype>& record, const PMIndexImageWorkingSettingsPtr& working, int n,
                     const DictionaryPtr& settings, PMIndexImageProgressHandler progress, PMIndexImageCompletionHandler completion)
{
    auto array = std::make_shared<PMIndexImageWrappers>();
    working->wrappers = array;
    working->currentIndex = 0;
    if (progress)
        progress(0, n);
    const std::vector<MediaTime> times = PMIndexImageFrameTimes(working->generator.get(), working->generator->assetDuration(), n);
    const PMIndexImageRecordValues values = PMIndexImageRecordValues::of(*record);
    std::weak_ptr<PMMovieRepresentationPrototype> weakRecord = record;
    std::weak_ptr<PMIndexImageWorkingSettings> weakWorking = working;
    // Main thread only: the times answered so far, so that a deadline can fill in the rest.
    auto answered = std::make_shared<std::vector<bool>>(times.size(), false);
    // Held weakly, so that a deadline still waiting keeps no frames of a closed sheet alive.
    std::weak_ptr<PMIndexImageWrappers> weakArray = array;
    auto append = [weakRecord, weakWorking, weakArray, n, settings, progress, completion, answered](size_t index, const MediaTime& time, ImagePtr image) {
        std::shared_ptr<PMMovieRepresentationPrototype> record = weakRecord.lock();
        PMIndexImageWorkingSettingsPtr working = weakWorking.lock();
        std::shared_ptr<PMIndexImageWrappers> array = weakArray.lock();
        if (!record || !working || !array || indexImageSettings(*record) != working || !working->currentIndex || working->wrappers != array)
            return;
        if (index < answered->size()) {
            if ((*answered)[index])
                return;
            (*answered)[index] = true;
        }
        array->push_back(std::make_shared<PMGeneratedIndexImageWrapper>(std::move(image), time));
        if (static_cast<long long>(array->size()) < n) {
            working->currentIndex = static_cast<long long>(array->size());
            if (progress)
                progress(static_cast<long long>(array->size()), n);
            return;
        }
        PMSortIndexImageWrappersByTime(*array);
        working->currentIndex.reset();
        const ImagePtr sheet = compositeIndexImageForMovieRepresentation(*record, settings, {}, {});
        if (completion)
            completion(sheet);
    };
    DeadlineWatcher::shared().runAfter(PMIndexImageFrameGenerator::generationTimeLimitMsForCount(n), [append, times] {
        platform::dispatchAsyncMain([append, times] {
            for (size_t i = 0; i < times.size(); ++i)
                append(i, times[i], nullptr);
        });
    });
    auto indexOfTime = std::make_shared<std::vector<MediaTime>>(times);
    working->generator->generateImagesAsynchronouslyForTimes(
        times, [append, values, indexOfTime, weakWorking](const MediaTime& requested, const QImage& image, const MediaTime& actual,
                                                          PMIndexImageFrameGenerator::Result result) {
            if (result == PMIndexImageFrameGenerator::Result::Cancelled)
                return;
            size_t index = indexOfTime->size();
            for (size_t i = 0; i < indexOfTime->size(); ++i)
                if ((*indexOfTime)[i] == requested) {
                    index = i;
                    break;
                }
            platform::dispatchAsyncGlobal([append, values, image, requested, actual, result, index] {
                ImagePtr frame;
                if (result == PMIndexImageFrameGenerator::Result::Succeeded)
                    frame = transformedFrame(reducedForSheet(image), values, QSizeF(0, 0));
                const MediaTime time = frame && actual.isNumeric() ? actual : requested;
                platform::dispatchAsyncMain([append, index, time, frame] { append(index, time, frame); });
            });
        });
}

} // namespace

ImagePtr compositeIndexImageForMovieRepresentation(PMMovieRepresentationPrototype& movie, const DictionaryPtr& givenSettings,
                                                   PMIndexImageProgressHandler progressHandler, PMIndexImageCompletionHandler completionHandler,
                                                   QString* error)
{
    using namespace PMIndexImageSettingsKeys;
    const DictionaryPtr settings = PMIndexImageViewSettings::clampedIndexImageSettings(givenSettings);
    PMIndexImageWorkingSettingsPtr working = indexImageSettings(movie);
    std::shared_ptr<PMIndexImageWrappers> frames = working ? working->wrappers : nullptr;
    int n = int(std::max<long>(integerValueOfObjectForKey(settings, numberOfImages), 1));
    bool regenerate = !frames || qsizetype(frames->size()) != n;
    std::optional<PMIndexImageWrappers> saved;
    if (regenerate && !completionHandler) {
        saved = PMSavedIndexImageWrapper::indexImageWrappersAtPath(movie.standardIndexImagesBasePath());
        if (!saved || saved->empty())
            return nullptr;
        n = int(saved->size());
        if (progressHandler)
            progressHandler(n, n);
        regenerate = false;
    }
    if (!working) {
        working = std::make_shared<PMIndexImageWorkingSettings>();
        setIndexImageSettings(movie, working);
    }
    for (auto it = settings->begin(); it != settings->end(); ++it)
        working->settings->setValue(it.key(), it.value());

    if (!regenerate) {
        const PMIndexImageWrappers& shown = saved ? *saved : *frames;
        QSizeF display;
        if (saved) {
            // Saved hover frames were turned and cut when they were made.
            const ImagePtr first = shown.empty() ? nullptr : shown.front()->image();
            display = first ? first->size() : QSizeF(16, 9);
        } else {
            const PMIndexImageRecordValues values = PMIndexImageRecordValues::of(movie);
            display = PMIndexImageDisplaySize(working->naturalSingleImageSize, values.angle, values.visibleArea, values.aspectRatio);
        }
        const PMIndexImageLayout layout = PMIndexImageLayoutForSettings(working->settings, n, display);
        return PMComposeIndexImage(shown, layout, borderColorOfSettings(working->settings), boolValueOfObjectForKey(working->settings, timestamps),
                                   error);
    }

    std::shared_ptr<PMMovieRepresentationPrototype> record = movie.sharedRecord();
    if (!record)
        return nullptr;
    const quint64 serial = ++working->requestSerial;
    if (working->generator) {
        working->currentIndex.reset();
        working->generator->cancelAllImageGeneration();
        startGeneration(record, working, n, settings, std::move(progressHandler), std::move(completionHandler));
        return nullptr;
    }
    // The asset is opened off the main thread; the generation starts once it is there,
    // unless the record's working settings changed meanwhile.
    working->wrappers = std::make_shared<PMIndexImageWrappers>();
    working->currentIndex = 0;
    if (progressHandler)
        progressHandler(0, n);
    const PMIndexImageRecordValues values = PMIndexImageRecordValues::of(movie);
    std::weak_ptr<PMMovieRepresentationPrototype> weakRecord = record;
    platform::dispatchAsyncGlobal([values, weakRecord, working, n, settings, progressHandler, completionHandler, serial] {
        const PMAssetPtr asset = PMMovie::assetWithURL(values.url, values.uniqueLibraryID, values.editingSteps);
        const MediaTime duration = asset ? asset->duration() : MediaTime::invalid();
        const bool usable = asset && duration.isNumeric() && duration.value > 0;
        std::shared_ptr<PMIndexImageFrameGenerator> generator = usable ? PMIndexImageFrameGenerator::generatorWithAsset(asset) : nullptr;
        const QSizeF natural = usable ? PMAssetNaturalSize(asset) : QSizeF();
        platform::dispatchAsyncMain([weakRecord, working, n, settings, progressHandler, completionHandler, generator, natural, serial]() mutable {
            std::shared_ptr<PMMovieRepresentationPrototype> record = weakRecord.lock();
            // Stopped, replaced, or asked again meanwhile (the later request answers):
            // the generator made for this one is not used.
            if (!record || indexImageSettings(*record) != working || !working->currentIndex || working->requestSerial != serial) {
                PMReleaseIndexImageFrameGenerator(std::move(generator));
                return;
            }
            if (!generator) {
                setIndexImageSettings(*record, nullptr);
                if (completionHandler)
                    completionHandler(nullptr);
                return;
            }
            PMReleaseIndexImageFrameGenerator(std::exchange(working->generator, std::move(generator)));
            working->naturalSingleImageSize = natural;
            startGeneration(record, working, n, settings, progressHandler, completionHandler);
        });
    });
    return nullptr;
}

void compositeIndexImageInBackground(PMMovieRepresentationPrototype& movie, const DictionaryPtr& givenSettings, PMIndexImageCompletionHandler completionHandler)
{
    using namespace PMIndexImageSettingsKeys;
    const DictionaryPtr settings = PMIndexImageViewSettings::clampedIndexImageSettings(givenSettings);
    PMIndexImageWorkingSettingsPtr working = indexImageSettings(movie);
    const int n = int(std::max<long>(integerValueOfObjectForKey(settings, numberOfImages), 1));
    if (!working || !working->wrappers || working->currentIndex || qsizetype(working->wrappers->size()) != n) {
        if (completionHandler)
            completionHandler(nullptr);
        return;
    }
    for (auto it = settings->begin(); it != settings->end(); ++it)
        working->settings->setValue(it.key(), it.value());
    const PMIndexImageRecordValues values = PMIndexImageRecordValues::of(movie);
    const PMIndexImageLayout layout = PMIndexImageLayoutForSettings(
        working->settings, n, PMIndexImageDisplaySize(working->naturalSingleImageSize, values.angle, values.visibleArea, values.aspectRatio));
    // The frames are copied, so that the cells written while drawing touch no frame the window holds.
    PMIndexImageWrappers frames;
    for (const PMIndexImageWrapperPtr& frame : *working->wrappers) {
        auto* generated = dynamic_cast<PMGeneratedIndexImageWrapper*>(frame.get());
        frames.push_back(std::make_shared<PMGeneratedIndexImageWrapper>(frame->image(),
                                                                        generated ? generated->CMTimestamp() : MediaTime::withSeconds(frame->timestamp())));
    }
    const QColor colour = borderColorOfSettings(working->settings);
    const bool timestamps = boolValueOfObjectForKey(working->settings, PMIndexImageSettingsKeys::timestamps);
    platform::dispatchAsyncGlobal([frames = std::move(frames), layout, colour, timestamps, completionHandler = std::move(completionHandler)] {
        ImagePtr sheet = PMComposeIndexImage(frames, layout, colour, timestamps);
        platform::dispatchAsyncMain([sheet, completionHandler] {
            if (completionHandler)
                completionHandler(sheet);
        });
    }, platform::QueuePriority::UserInitiated);
}
