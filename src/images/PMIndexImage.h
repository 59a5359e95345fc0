// Grabbing frames of a movie and composing them: the frame times shared by hover frames and
// index images, the grab of n frames into wrappers (asynchronous, or waiting for them), and
// the index image (a frame sheet) made incrementally on a record: the frames are grabbed
// once, and every later layout change composes at once from them.
#pragma once

#include "images/PMIndexImageWrapper.h"
#include "platform/Queues.h"
#include "platform/media/Asset.h"

#include <QtGui/QColor>
#include <QtGui/QImage>

#include <functional>

// The frames of an asset, asked for at times; every requested time gets exactly one answer
// (an image, or none for a failure or a cancellation) on a thread of the generator's.
class PMIndexImageFrameGenerator {
public:
    virtual ~PMIndexImageFrameGenerator() = default;
    enum class Result { Succeeded, Failed, Cancelled };
    using Handler = std::function<void(const platform::media::MediaTime& requestedTime, const QImage& image,
                                       const platform::media::MediaTime& actualTime, Result result)>;
    virtual void setRequestedTimeTolerance(platform::media::MediaTime before, platform::media::MediaTime after) = 0;
    virtual void generateImagesAsynchronouslyForTimes(const std::vector<platform::media::MediaTime>& times, Handler handler) = 0;
    virtual void cancelAllImageGeneration() = 0;
    virtual platform::media::MediaTime assetDuration() const = 0;

    // Makes the generator of an asset that turns its pictures as the track says (the media
    // layer's); tests put a stand-in here.
    using Factory = std::function<std::shared_ptr<PMIndexImageFrameGenerator>(const platform::media::AssetPtr& asset)>;
    static Factory& factory();
    static std::shared_ptr<PMIndexImageFrameGenerator> generatorWithAsset(const platform::media::AssetPtr& asset);
    // How long one grab of n frames may take in all before its missing answers count as
    // failed: base plus a share per frame.
    static int& generationTimeLimitMs();
    static int generationTimeLimitMsForCount(int n);
};

// The n frame times dividing the duration into n + 1 equal parts; the tolerance (a third
// of the gap, none below 2 units) is set on the generator when one is given.
std::vector<platform::media::MediaTime> PMIndexImageFrameTimes(PMIndexImageFrameGenerator* generator, const platform::media::MediaTime& duration, int n);
platform::media::MediaTime PMIndexImageFrameTolerance(const platform::media::MediaTime& duration, int n);

// The record's values a grab needs, read on the main thread.
struct PMIndexImageRecordValues {
    QUrl url;
    QString uniqueLibraryID;
    platform::ArrayPtr editingSteps;
    bool flipHorizontally = false;
    int angle = 0;
    platform::DictionaryPtr visibleArea;
    std::optional<double> aspectRatio;
    static PMIndexImageRecordValues of(PMMovieRepresentationPrototype& movie);
};

// Where a completion runs: the main thread when none is given.
using PMCompletionQueue = std::function<void(platform::Job)>;

// Grabs n frames (transformed, reduced to the maximum size; a negative size is an area) on
// the loader's crawl queue. The handler gets the frames in time order (those that failed
// left out; maybe none), or nothing without a usable asset; it always runs, once.
void indexImageWrappersForMovieRepresentation(PMMovieRepresentationPrototype& movie, int numberOfImages, QSizeF maximumSize,
                                              std::function<void(std::optional<PMIndexImageWrappers>)> completionHandler,
                                              PMCompletionQueue completionQueue = {});
// The same for values read before, so that any thread may start it.
void indexImageWrappersForMovieRepresentationValues(const PMIndexImageRecordValues& values, int numberOfImages, QSizeF maximumSize,
                                                    std::function<void(std::optional<PMIndexImageWrappers>)> completionHandler,
                                                    PMCompletionQueue completionQueue = {});
// Waits for the frames (empty when nothing came). Never from an operation of the crawl queue.
PMIndexImageWrappers indexImageWrappersForMovieRepresentationValuesSynchronously(const PMIndexImageRecordValues& values, int numberOfImages,
                                                                                 QSizeF maximumSize);

// The hover-frame defaults: count ("…: Number Of Images", 10 below 1) and side ("…: Size", 256
// below 1).
int PMStandardIndexImageCount();
inline constexpr int kPMMaximumStandardIndexImageCount = 1000;
int PMStandardIndexImageSide();

// ---- Composition

struct PMIndexImageLayout {
    int numberOfImages = 1;
    int columns = 1;
    int rows = 1;
    double spacing = 0;  // S
    double border = 0;   // B
    bool solidBackground = false;
    bool dropShadows = false;
    QSizeF cellSize;     // cw, ch
    QSizeF sheetSize;
    // The cell of position i (origin at the lower left) and the background behind it.
    QRectF cellRect(int i) const;
    QRectF backgroundRect(int i) const;
};

// The size of one frame on the sheet: the natural size turned by the angle (any angle, as the
// image transform bounds it), cut to the visible area and stretched to the aspect ratio.
QSizeF PMIndexImageDisplaySize(QSizeF naturalSize, int angle, const platform::DictionaryPtr& visibleArea, std::optional<double> aspectRatio);
// The layout of n frames of the display size under the settings (numbers clamped to the
// fields' ranges).
PMIndexImageLayout PMIndexImageLayoutForSettings(const platform::DictionaryPtr& settings, int n, QSizeF displaySize);
// The number of columns whose sheet comes closest to the width-to-height ratio.
int PMIndexImageAutomaticColumns(int n, double ratio, QSizeF cellSize, double spacing, double pitchExtra);

// The largest sheet made, in pixels; a larger request fails with a message.
inline constexpr qint64 kPMMaximumIndexImagePixels = 100'000'000;

// Draws a frame's time badge into the cell (Qt coordinates, top-left origin); the window's
// kit installs its badge, until then a plain one is drawn.
using PMIndexImageBadgeDrawer = std::function<void(QPainter& painter, const QString& text, const QRectF& cell, const platform::ImagePtr& frameImage)>;
PMIndexImageBadgeDrawer& PMIndexImageTimestampBadgeDrawer();

using PMIndexImageProgressHandler = std::function<void(long long done, long long total)>;
using PMIndexImageCompletionHandler = std::function<void(platform::ImagePtr sheet)>;
// The sheet of the record's frames under the settings, at once when the record holds the
// frames (or, without a completion handler, from its saved hover frames); else nothing, and
// the frames are grabbed in the background with progress, the sheet going to the
// completion handler. Main thread. `error` gets the reason of a failure.
platform::ImagePtr compositeIndexImageForMovieRepresentation(PMMovieRepresentationPrototype& movie, const platform::DictionaryPtr& settings,
                                                             PMIndexImageProgressHandler progressHandler,
                                                             PMIndexImageCompletionHandler completionHandler, QString* error = nullptr);
// Composes the sheet of the frames the record already holds on a background queue, so that
// a layout change never blocks input; the handler gets it (or nothing, when the frames are
// not there or a generation runs) on the main thread.
void compositeIndexImageInBackground(PMMovieRepresentationPrototype& movie, const platform::DictionaryPtr& settings,
                                     PMIndexImageCompletionHandler completionHandler);
// The frames of a composed sheet, each with its cell.
PMIndexImageWrappers indexImageWrappers(const platform::ImagePtr& sheet);
void setIndexImageWrappers(const platform::ImagePtr& sheet, PMIndexImageWrappers wrappers);
// Draws the sheet of the frames (no generation).
platform::ImagePtr PMComposeIndexImage(const PMIndexImageWrappers& frames, const PMIndexImageLayout& layout, const QColor& borderColor,
                                       bool timestamps, QString* error = nullptr);
