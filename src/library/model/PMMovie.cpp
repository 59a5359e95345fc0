#include "library/model/PMMovie.h"
#include "platform/Paths.h"

#include "platform/ImageReading.h"
#include "platform/media/Player.h"

#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "platform/Format.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/ImageGenerator.h"
#include "platform/media/MovieWriter.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtCore/QStandardPaths>

#include <cmath>
#include <condition_variable>
#include <mutex>

using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Image;
using platform::ImagePtr;
using platform::Value;
using namespace platform::media;

namespace {

// ---- Process-wide state

std::atomic<bool> gConvertsAnimatedImages{false};

std::mutex& handlerMutex()
{
    static std::mutex m;
    return m;
}
PMAssetValuesHandler& assetValuesHandler()
{
    static PMAssetValuesHandler h;
    return h;
}
PMFrameImageTransform& frameImageTransform()
{
    static PMFrameImageTransform t;
    return t;
}

// The auto-converted assets: conversion key -> converted file, or nothing (the null
// marker) when the conversion failed and the source file is used. One lock guards the
// registry, the conversions under way and the counter; it is held only to look up or
// mark, never while a conversion runs, so that choosing a movie never waits for one. A
// second request of a key being converted waits for that conversion's answer (on its own
// worker), and a key purged meanwhile drops what its conversion makes.
struct Registry {
    std::mutex mutex;
    std::condition_variable converted;
    QHash<QString, std::optional<QString>> entries;
    QSet<QString> converting;
    QSet<QString> purgedWhileConverting;
    int counter = 1;
};

std::function<void(const QString&)>& conversionStartHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}
Registry& registry()
{
    static Registry r;
    return r;
}

// ---- Conversion writer

// Turns an animated image (sources empty: read from the source URL) or a set of frame
// images (two or more sources) into an H.264 movie at the output path.
bool writeConvertedMovie(const QStringList& sources, const QUrl& sourceURL, const QString& outputPath, QString* error)
{
    if (outputPath.isEmpty() || (!sourceURL.isValid() && sources.size() < 2)) {
        *error = QStringLiteral("nothing to convert");
        return false;
    }
    const bool animated = sources.size() < 2;
    ImagePtr representation;
    platform::AnimatedImageSourcePtr source;
    int frameCount = 0;
    if (animated) {
        const ImagePtr image = Image::imageWithContentsOfFile(sourceURL.toLocalFile());
        representation = image ? image->animatedBitmapImageRepWithURL(sourceURL, &frameCount, nullptr, &source) : nullptr;
        if (!representation || frameCount < 2) {
            *error = QStringLiteral("not an animated image");
            return false;
        }
    } else {
        const ImagePtr first = Image::imageWithContentsOfFile(sources.front());
        representation = first ? first->anyBitmapImageRep() : nullptr;
        if (!representation) {
            *error = QStringLiteral("cannot read the first frame image");
            return false;
        }
        frameCount = int(sources.size());
    }
    const QSizeF pixelSize = representation->pixelSize();
    int timescale = 600;
    if (!animated)
        timescale = int(std::clamp<qint64>(prefs::get(prefs::keys::ImageSelectionMovieFramesPerSecond), 1, 100));
    MovieWriter writer;
    if (!writer.startWriting(outputPath, pixelSize.toSize(), timescale, error))
        return false;
    qint64 time = 0;
    for (int i = 0; i < frameCount; ++i) {
        QImage frame;
        double delay = 0;
        if (animated) {
            if (source) {
                frame = source->imageAtIndex(i);
                delay = platform::PMAnimatedImageFrameDelay(source, i);
            } else {
                representation->setCurrentFrame(i);
                frame = representation->currentFrameImage();
                delay = representation->currentFrameDuration();
            }
        } else {
            const ImagePtr image = Image::imageWithContentsOfFile(sources[i]);
            if (image)
                frame = image->pixels();
        }
        if (frame.isNull())
            continue;
        if (!writer.appendImage(frame, time, error))
            return false;
        // Every frame lasts at least one unit of time, so times always advance.
        time += animated ? std::max<qint64>(1, std::llround(delay * 600)) : 1;
    }
    if (writer.framesWritten() <= 1) {
        writer.cancelWriting();
        *error = QStringLiteral("fewer than two frames could be read");
        return false;
    }
    return writer.finishWriting(time, error);
}

// A file name made from a conversion key: unique IDs are plain, but the key comes from the
// library index and must not lead out of the folder.
QString safeFileName(const QString& name)
{
    QString safe = name;
    safe.replace(u'/', u'_');
    safe.replace(QChar(0), u'_');
    if (safe.isEmpty() || safe.startsWith(u'.'))
        safe.prepend(u'_');
    return safe.left(200);
}

// The converted movie for the key, made now when there is none; the source URL when the
// conversion fails or failed before.
QUrl convertedURL(const QString& key, const QString& fileName, const QStringList& sources, const QUrl& sourceURL)
{
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    for (;;) {
        if (const auto it = r.entries.constFind(key); it != r.entries.constEnd()) {
            if (!it->has_value())
                return sourceURL;
            // A converted movie that was cleaned away with the cache is made again.
            if (QFileInfo::exists(**it))
                return QUrl::fromLocalFile(**it);
            r.entries.remove(key);
        }
        if (!r.converting.contains(key))
            break;
        r.converted.wait(lock);
    }
    r.converting.insert(key);
    lock.unlock();

    const auto hook = conversionStartHook();
    if (hook)
        hook(key);
    QString output;
    QString error;
    bool written = false;
    if (const QString folder = PMAutoConvertedAssetsFolder(true); !folder.isEmpty()) {
        output = folder + u'/' + safeFileName(fileName) + QStringLiteral(".mov");
        // A file left by an earlier run of the program is not in the registry: make it anew.
        QFile::remove(output);
        written = writeConvertedMovie(sources, sourceURL, output, &error);
    } else {
        error = QStringLiteral("no folder for converted movies");
    }

    lock.lock();
    r.converting.remove(key);
    const bool purged = r.purgedWhileConverting.remove(key);
    if (purged) {
        // Purged while it ran: what it made goes, and the next request converts again.
        if (written)
            QFile::remove(output);
    } else {
        r.entries.insert(key, written ? std::optional<QString>(output) : std::nullopt);
    }
    r.converted.notify_all();
    lock.unlock();
    if (!written && PMDebugLogEnabled())
        PMLog("[Debug] cannot convert <%@> to a movie: %@", sourceURL.toLocalFile(), error);
    return written && !purged ? QUrl::fromLocalFile(output) : sourceURL;
}

QString sizeDescription(QSizeF size)
{
    // The platform's size text, in the C locale.
    return platform::format("{%g, %g}", size.width(), size.height());
}

void reportAssetValues(const PMAssetPtr& asset, const QString& uniqueLibraryID)
{
    if (!asset)
        return;
    asset->loadValuesAsynchronouslyForKeys({QStringLiteral("duration"), QStringLiteral("tracks")}, [asset, uniqueLibraryID] {
        qint64 seconds = 0;
        QString size;
        if (asset->statusOfValueForKey(QStringLiteral("duration")) == LoadStatus::Loaded)
            seconds = PMAssetDurationSeconds(asset);
        if (asset->statusOfValueForKey(QStringLiteral("tracks")) == LoadStatus::Loaded) {
            const QSizeF natural = PMAssetNaturalSize(asset);
            if (natural.width() >= 1 && natural.height() >= 1)
                size = sizeDescription(natural);
        }
        if (seconds <= 0 && size.isEmpty())
            return;
        PMAssetValuesHandler handler;
        {
            std::lock_guard lock(handlerMutex());
            handler = assetValuesHandler();
        }
        if (handler)
            handler(seconds, size, uniqueLibraryID);
    });
}

// Names compared as people read them: runs of digits by their value ("part 9" before
// "part 10"), the rest ignoring case.
int compareNumericAware(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Compare the digit runs by value without converting (they may be long).
            QStringView da = QStringView(a).mid(i, ei - i), db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da.front() == u'0')
                da = da.mid(1);
            while (db.size() > 1 && db.front() == u'0')
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size() ? -1 : 1;
            if (const int c = da.compare(db); c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const int c = QStringView(a).mid(i, 1).compare(QStringView(b).mid(j, 1), Qt::CaseInsensitive);
        if (c != 0)
            return c;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

} // namespace

// ---- Free functions

qint64 PMRoundedSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        return 0;
    const qint64 rounded = std::llround(seconds);
    if (rounded < 1)
        return seconds < 0.1 ? 0 : 1;
    return rounded;
}

qint64 PMAssetDurationSeconds(const PMAssetPtr& asset)
{
    if (!asset)
        return 0;
    const MediaTime d = asset->duration();
    return d.isNumeric() ? PMRoundedSeconds(d.seconds()) : 0;
}

qint64 PMAnimatedImageDuration(const QUrl& URL)
{
    if (!URL.isLocalFile() || !QFileInfo::exists(URL.toLocalFile()))
        return -1;
    // A still picture (a PNG without an animation chunk) is not decoded at all; the frames
    // of an animation are read one at a time and not kept.
    const QString path = URL.toLocalFile();
    if (!platform::AnimatedImageSource::isAnimatedImageFile(path))
        return 0;
    int frames = 0;
    double duration = 0;
    if (!platform::AnimatedImageSource::measure(path, &frames, &duration) || frames < 2 || duration <= 0.01)
        return 0;
    return duration < 1 ? 1 : PMRoundedSeconds(duration);
}

QSizeF PMAssetNaturalSize(const PMAssetPtr& asset)
{
    if (!asset)
        return {};
    double width = 0, height = 0;
    bool unknown = false;
    for (const Track& t : asset->tracks()) {
        if (!t.hasVisualCharacteristic())
            continue;
        double w = t.naturalSize.width(), h = t.naturalSize.height();
        if (w < 1 || h < 1) {
            unknown = true;
            continue;
        }
        const AffineTransform& m = t.preferredTransform;
        width = std::max(width, std::abs(m.a * w + m.c * h));
        height = std::max(height, std::abs(m.b * w + m.d * h));
    }
    // A picture stream whose size the media layer cannot tell (an animated WebP) is read
    // by the image reader, which knows it from the file's header.
    if (unknown && (width < 1 || height < 1) && !asset->isComposition() && asset->URL().isLocalFile()) {
        const QSize size = platform::imageFileSize(asset->URL().toLocalFile());
        if (size.width() >= 1 && size.height() >= 1)
            return QSizeF(size);
    }
    return QSizeF(width, height);
}

QString PMAutoConvertedAssetsFolder(bool create)
{
    return platform::privateCacheFolder(QStringLiteral("com.tolvane.Pellis.AutoConvertedAssets"), create);
}

void PMAutoConvertedAssetsPurge(const std::optional<QStringList>& uniqueLibraryIDs)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!uniqueLibraryIDs) {
        const QString folder = PMAutoConvertedAssetsFolder(false);
        if (QFileInfo::exists(folder))
            QDir(folder).removeRecursively();
        r.entries.clear();
        r.counter = 1;
        r.purgedWhileConverting = r.converting;
        return;
    }
    for (const QString& key : std::as_const(r.converting)) {
        for (const QString& id : *uniqueLibraryIDs)
            if (!id.isEmpty() && key.startsWith(id))
                r.purgedWhileConverting.insert(key);
    }
    if (uniqueLibraryIDs->isEmpty() || r.entries.isEmpty())
        return;
    for (auto it = r.entries.begin(); it != r.entries.end();) {
        bool matches = false;
        for (const QString& id : *uniqueLibraryIDs) {
            if (!id.isEmpty() && it.key().startsWith(id)) {
                matches = true;
                break;
            }
        }
        if (!matches) {
            ++it;
            continue;
        }
        if (it->has_value() && QFileInfo::exists(**it) && QFile::remove(**it)) {
            it = r.entries.erase(it);
        } else {
            *it = std::nullopt;
            ++it;
        }
    }
}

QString PMMovieTimestampString(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    quint64 whole = quint64(std::floor(seconds));
    quint64 milliseconds = quint64(std::llround((seconds - double(whole)) * 1000));
    if (milliseconds >= 1000) {
        whole += milliseconds / 1000;
        milliseconds %= 1000;
    }
    const quint64 days = whole / 86400;
    const quint64 rest = whole % 86400;
    return platform::format("%qu:%02qu:%02qu:%02qu.%03qu/1000", days, rest / 3600, rest % 3600 / 60, rest % 60, milliseconds);
}

double PMMovieTimestampParse(const QString& text)
{
    const QString time = text.section(u'/', 0, 0);
    const QStringList fields = time.split(u':');
    if (fields.size() != 4)
        return -1;
    double result = 0;
    const double factors[3] = {86400, 3600, 60};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const qint64 v = fields[i].trimmed().toLongLong(&ok);
        if (!ok)
            return -1;
        result += double(v) * factors[i];
    }
    bool ok = false;
    const double secondsField = fields[3].trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(secondsField))
        return -1;
    result += secondsField;
    return std::isfinite(result) ? result : -1;
}

QString PMMovieApplyEditingStep(const CompositionPtr& composition, int action, double start, double length)
{
    if (!composition || (action != 1 && action != 2) || !std::isfinite(start) || !std::isfinite(length))
        return {};
    const MediaTime duration = composition->duration();
    if (!duration.isNumeric() || duration.value <= 0)
        return {};
    const qint64 scale = duration.timescale;
    qint64 D = duration.value;
    // The start lies inside the movie (a start beyond the end means its last time unit).
    const qint64 S = std::clamp<qint64>(std::llround(std::max(0.0, start) * double(scale)), 0, D - 1);
    const qint64 L = std::min<qint64>(D - S, std::llround(std::max(0.0, length) * double(scale)));
    if (L <= 0)
        return {};
    const auto range = [&](qint64 from, qint64 count) { return TimeRange{MediaTime::make(from, int(scale)), MediaTime::make(count, int(scale))}; };
    if (action == 2) {
        // Deleting all of it would leave nothing to play.
        if (L >= D)
            return {};
        composition->removeTimeRange(range(S, L));
        composition->setAssociatedOriginalAsset(nullptr);
        return QStringLiteral("Delete");
    }
    if (S >= 1) {
        composition->removeTimeRange(range(0, S));
        D -= S;
    }
    if (D > L)
        composition->removeTimeRange(range(L, D - L));
    composition->setAssociatedOriginalAsset(nullptr);
    return QStringLiteral("Trim");
}

void PMSetConversionStartHookForTesting(std::function<void(const QString& key)> hook)
{
    conversionStartHook() = std::move(hook);
}

QString PMAutoConvertedAssetPath(const QString& key)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.entries.constFind(key);
    if (it == r.entries.constEnd() || !it->has_value() || !QFileInfo::exists(**it))
        return {};
    return **it;
}

bool PMAutoConvertedAssetIsAvailable(const QString& key)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.entries.constFind(key);
    return it != r.entries.constEnd() && (!it->has_value() || QFileInfo::exists(**it));
}

void PMSetConvertsAnimatedImagesToMovies(bool converts)
{
    gConvertsAnimatedImages = converts;
    // The records decide with the same flag whether an animation counts as a still image.
    PMCachedSettings::convertAnimatedImagesToMovies = converts;
}

bool PMConvertsAnimatedImagesToMovies()
{
    return gConvertsAnimatedImages;
}

void PMSetAssetValuesHandler(PMAssetValuesHandler handler)
{
    std::lock_guard lock(handlerMutex());
    assetValuesHandler() = std::move(handler);
}

void PMSetFrameImageTransform(PMFrameImageTransform transform)
{
    std::lock_guard lock(handlerMutex());
    frameImageTransform() = std::move(transform);
}

std::optional<QStringList> PMSequencePaths(const QUrl& URL)
{
    if (!URL.isLocalFile())
        return std::nullopt;
    const QFileInfo folder(URL.toLocalFile());
    if (!folder.isDir())
        return std::nullopt;
    static const char* const suffixes[] = {".mseq", ".moviesequence", ".pms", ".qms"};
    bool isSequence = false;
    for (const char* suffix : suffixes)
        isSequence = isSequence || folder.fileName().endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
    if (!isSequence)
        return std::nullopt;
    QFileInfoList entries = QDir(folder.filePath()).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    std::stable_sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        const int c = compareNumericAware(a.completeBaseName(), b.completeBaseName());
        return c != 0 ? c < 0 : compareNumericAware(a.fileName(), b.fileName()) < 0;
    });
    QStringList paths;
    for (const QFileInfo& e : entries)
        paths << e.filePath();
    return paths;
}

bool PMIsAnimatedImageURL(const QUrl& URL)
{
    const QString extension = QFileInfo(URL.path()).suffix().toLower();
    return extension == QLatin1String("gif") || extension == QLatin1String("png") || extension == QLatin1String("webp");
}

// ---- Frame grabs

ImagePtr frameImageAtTime(const PMAssetPtr& asset, double seconds, bool flipHorizontally, int angle, const DictionaryPtr& visibleArea, const Value& aspectRatio,
    QSizeF maximumSize)
{
    if (!asset || !std::isfinite(seconds))
        return nullptr;
    ImageGenerator generator(asset);
    generator.setAppliesPreferredTrackTransform(true);
    generator.setRequestedTimeToleranceBefore(MediaTime::zero());
    generator.setRequestedTimeToleranceAfter(MediaTime::zero());
    const QImage frame = generator.copyImageAtTime(MediaTime::withSeconds(seconds));
    if (frame.isNull())
        return nullptr;
    const ImagePtr image = Image::make(frame); // one pixel is one point
    PMFrameImageTransform transform;
    {
        std::lock_guard lock(handlerMutex());
        transform = frameImageTransform();
    }
    if (transform)
        return transform(image, flipHorizontally, angle, visibleArea, aspectRatio, maximumSize);
    if (maximumSize.width() >= 1 && maximumSize.height() >= 1 && (frame.width() > maximumSize.width() || frame.height() > maximumSize.height()))
        return Image::make(frame.scaled(maximumSize.toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return image;
}

// ---- Assets

PMAssetPtr PMMovie::assetWithURL(const QUrl& URL, const QString& identifier, const PMFrameImageMovieRepresentations& frameImageMovieRepresentations,
    const AssetOptions& options)
{
    QUrl url = URL;
    QStringList sources;
    QString key;
    QString fileName;
    if (frameImageMovieRepresentations.empty()) {
        if (const std::optional<QStringList> parts = PMSequencePaths(url)) {
            if (parts->isEmpty())
                return nullptr;
            if (parts->size() >= 2)
                return assetWithSequencePaths(*parts, identifier, options);
            url = QUrl::fromLocalFile(parts->front());
        }
        if (!PMConvertsAnimatedImagesToMovies() || !PMIsAnimatedImageURL(url))
            return Asset::assetWithURL(url, options);
        key = identifier;
        fileName = identifier;
    } else {
        sources << url.toLocalFile();
        QStringList ids = {identifier};
        for (const PMFrameImageMovieRepresentation& frame : frameImageMovieRepresentations) {
            sources << frame.URL.toLocalFile();
            ids << frame.uniqueLibraryID;
        }
        key = ids.join(u'+');
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        fileName = QStringLiteral("+%1").arg(r.counter++);
    }
    return Asset::assetWithURL(convertedURL(key, fileName, sources, url), options);
}

PMAssetPtr PMMovie::assetWithSequencePaths(const QStringList& paths, const QString& identifier, const AssetOptions& options)
{
    CompositionPtr composition;
    int videoTrack = 0, audioTrack = 0;
    MediaTime insertionTime = MediaTime::zero();
    int number = 1;
    for (const QString& path : paths) {
        const PMAssetPtr part = assetWithURL(QUrl::fromLocalFile(path), QStringLiteral("%1.%2").arg(identifier).arg(number++), {}, options);
        if (!part) {
            PMLog("cannot create asset for movie sequence path: %@", path);
            return nullptr;
        }
        const MediaTime duration = part->duration();
        const std::vector<Track> video = part->tracksWithMediaType(MediaType::Video);
        const std::vector<Track> audio = part->tracksWithMediaType(MediaType::Audio);
        const TimeRange whole = {MediaTime::zero(), duration};
        if (!video.empty()) {
            if (!composition)
                composition = Composition::composition();
            if (!videoTrack)
                videoTrack = composition->addMutableTrack(MediaType::Video);
            QString error = duration.isNumeric() ? QString() : QStringLiteral("the part has no duration");
            if (!error.isEmpty() || !composition->insertTimeRange(whole, part, video.front().trackID, videoTrack, insertionTime, &error)) {
                PMLog("movie sequence video asset insertion error: %@ (path: %@)", error, path);
                return nullptr;
            }
        }
        if (!audio.empty()) {
            if (!composition)
                composition = Composition::composition();
            if (!audioTrack)
                audioTrack = composition->addMutableTrack(MediaType::Audio);
            QString error = duration.isNumeric() ? QString() : QStringLiteral("the part has no duration");
            if (!error.isEmpty() || !composition->insertTimeRange(whole, part, audio.front().trackID, audioTrack, insertionTime, &error)) {
                PMLog("movie sequence audio asset insertion error: %@ (path: %@)", error, path);
                return nullptr;
            }
        }
        if (duration.isNumeric())
            insertionTime = insertionTime + duration;
    }
    return composition;
}

PMAssetPtr PMMovie::assetWithURL(const QUrl& URL, const QString& uniqueLibraryID, const PMFrameImageMovieRepresentations& frameImageMovieRepresentations,
    const ArrayPtr& editingActionDescriptions, bool* canEdit)
{
    AssetOptions options;
    options.preferPreciseDurationAndTiming = true;
    PMAssetPtr asset = assetWithURL(URL, uniqueLibraryID, frameImageMovieRepresentations, options);
    bool editable = false;
    const auto done = [&](PMAssetPtr result) {
        if (canEdit)
            *canEdit = editable;
        if (result && frameImageMovieRepresentations.empty())
            reportAssetValues(result, uniqueLibraryID);
        return result;
    };
    if (!asset)
        return done(nullptr);
    const bool hasSteps = editingActionDescriptions && !editingActionDescriptions->isEmpty();
    if (!canEdit && !hasSteps)
        return done(asset);
    if (!asset->isComposition()) {
        const CompositionPtr composition = Composition::composition();
        const MediaTime duration = asset->duration();
        if (!duration.isNumeric() || duration.value <= 0 || !composition->insertTimeRange({MediaTime::zero(), duration}, asset, MediaTime::zero()))
            return done(asset);
        const std::vector<Track> sourceVideo = asset->tracksWithMediaType(MediaType::Video);
        const std::vector<Track> compositionVideo = composition->tracksWithMediaType(MediaType::Video);
        if (!sourceVideo.empty() && sourceVideo.size() == compositionVideo.size()) {
            for (size_t i = 0; i < sourceVideo.size(); ++i)
                composition->setPreferredTransform(compositionVideo[i].trackID, sourceVideo[i].preferredTransform);
        }
        composition->setAssociatedOriginalAsset(asset);
        asset = composition;
    }
    editable = true;
    const CompositionPtr composition = std::static_pointer_cast<Composition>(asset);
    if (!hasSteps || composition->duration().value <= 0)
        return done(asset);
    for (const Value& step : *editingActionDescriptions) {
        const DictionaryPtr d = step.dictionary();
        const QString action = d ? d->value(QStringLiteral("Action")).string() : QString();
        const QStringList range = d ? d->value(QStringLiteral("Range")).string().split(u'~') : QStringList();
        const double length = range.size() == 2 ? PMMovieTimestampParse(range[1]) : -1;
        const double start = range.size() == 2 ? PMMovieTimestampParse(range[0]) : -1;
        if (range.size() != 2 || !(length > 0) || start < 0) {
            PMLog("bogus time range for <%@> editing action in <%@>", action, URL.toString());
            break;
        }
        int code = 0;
        if (action == QLatin1String("Trim"))
            code = 1;
        else if (action == QLatin1String("Delete") || action == QLatin1String("Cut"))
            code = 2;
        else {
            PMLog("unsupported <%@> editing action in <%@>", action, URL.toString());
            break;
        }
        // The steps build on each other: after one that cannot apply, the later ones would
        // cut the wrong times. The earlier ones stay.
        if (PMMovieApplyEditingStep(composition, code, start, length).isEmpty()) {
            PMLog("cannot apply <%@> editing action <%@> to <%@>: it and the later ones are skipped", action,
                  d->value(QStringLiteral("Range")).string(), URL.toString());
            break;
        }
    }
    return done(asset);
}

PMAssetPtr PMMovie::assetWithURL(const QUrl& URL, const QString& uniqueLibraryID, const ArrayPtr& editingActionDescriptions)
{
    return assetWithURL(URL, uniqueLibraryID, {}, editingActionDescriptions, nullptr);
}

// ---- The player's extension

void setCurrentTimeValue(platform::media::Player& player, double seconds)
{
    const double target = seconds < 0 || std::isnan(seconds) ? 0 : std::min(seconds, durationValue(&player));
    if (std::fabs(target - player.currentTime()) > 0.01)
        player.seekToTime(target, true);
}

double currentTimeValue(const platform::media::Player* player)
{
    return player && player->currentAsset() && std::isfinite(player->currentTime()) ? player->currentTime() : 0;
}

double durationValue(const platform::media::Player* player)
{
    return player && player->currentAsset() && std::isfinite(player->duration()) ? player->duration() : 0;
}

platform::ImagePtr frameImageAtCurrentTimeFlippedHorizontally(platform::media::Player& player, bool flipHorizontally, int angle, const DictionaryPtr& visibleArea,
    const Value& aspectRatio, QSizeF maximumSize)
{
    const float rate = player.rate();
    if (rate != 0)
        player.pause();
    platform::ImagePtr image = frameImageAtTime(player.currentAsset(), player.currentTime(), flipHorizontally, angle, visibleArea, aspectRatio, maximumSize);
    if (rate != 0)
        player.setRate(rate);
    return image;
}

// ---- The movie

PMMovie::PMMovie(const PMMovieRepresentationValues& movieRepresentation)
    : m_URL(movieRepresentation.URL)
    , m_uniqueLibraryID(movieRepresentation.uniqueLibraryID)
    , m_frameImageMovieRepresentations(movieRepresentation.frameImageMovieRepresentations)
    , m_editingActionDescriptions(platform::Array::make())
{
    if (movieRepresentation.editingSteps) {
        for (const Value& step : *movieRepresentation.editingSteps)
            m_editingActionDescriptions->append(step);
    }
    const int angle = ((movieRepresentation.angle % 360) + 360) % 360;
    m_rotatesNaturalSize = angle % 180 == 90;
}

// The asset that the player's worker built, once it is there.
struct PMMovie::AssetBuild {
    std::atomic<bool> done{false};
    PMAssetPtr asset;
    bool canEdit = false;
};

void PMMovie::adoptBuiltAsset()
{
    if (!m_build || !m_build->done.load(std::memory_order_acquire))
        return;
    m_asset = m_build->asset;
    m_canEdit = m_build->canEdit;
    m_assetBuilt = true;
    m_build.reset();
}

PMAssetPtr PMMovie::asset()
{
    adoptBuiltAsset();
    // While the player's worker builds it, the asset is not there yet (it is never built twice).
    if (!m_assetBuilt && !m_build && !m_URL.isEmpty()) {
        m_assetBuilt = true;
        m_asset = assetWithURL(m_URL, m_uniqueLibraryID, m_frameImageMovieRepresentations, m_editingActionDescriptions, &m_canEdit);
    }
    return m_asset;
}

bool PMMovie::canEdit()
{
    adoptBuiltAsset();
    return m_canEdit;
}

void PMLogEngineMessagesOfPlayer(platform::media::Player& player)
{
    QObject::connect(&player, &platform::media::Player::engineMessage, &player,
                     [](platform::media::EngineMessageLevel level, const QString& module, const QString& text) {
                         if (level == platform::media::EngineMessageLevel::Error)
                             PMLog("[mpv] %@: %@", module, text);
                         else if (PMDebugLogEnabled())
                             PMLog("[Debug] [mpv] %@: %@", module, text);
                     });
}

PMPlayerPtr PMMovie::player()
{
    adoptBuiltAsset();
    if (m_player || m_URL.isEmpty() || (m_assetBuilt && !m_asset))
        return m_player;
    m_player = std::make_shared<platform::media::Player>();
    PMLogEngineMessagesOfPlayer(*m_player);
    if (m_assetBuilt) {
        m_player->replaceCurrentItemWithAsset(m_asset);
        return m_player;
    }
    // The file is opened, probed (a converted animation made) and edited on a worker: the
    // window never waits on a file. The player plays it when it is there.
    m_build = std::make_shared<AssetBuild>();
    const platform::ArrayPtr steps = platform::Array::make();
    for (const Value& step : *m_editingActionDescriptions)
        steps->append(step);
    m_player->replaceCurrentItemWithAssetBuiltBy(
        [build = m_build, url = m_URL, id = m_uniqueLibraryID, frames = m_frameImageMovieRepresentations, steps] {
            bool canEdit = false;
            PMAssetPtr built = assetWithURL(url, id, frames, steps, &canEdit);
            build->asset = built;
            build->canEdit = canEdit;
            build->done.store(true, std::memory_order_release);
            return built;
        },
        {});
    return m_player;
}

DictionaryPtr PMMovie::editWithAction(int action, double betweenStart, double andEnd)
{
    // The asset the player's worker built is taken first: until then the flag is not known.
    if (!canEdit())
        return nullptr;
    const PMAssetPtr current = asset();
    if (!current || !current->isComposition()) {
        m_canEdit = false;
        return nullptr;
    }
    const auto composition = std::static_pointer_cast<Composition>(current);
    const double length = andEnd - betweenStart;
    const QString name = PMMovieApplyEditingStep(composition, action, betweenStart, length);
    if (name.isEmpty())
        return nullptr;
    const DictionaryPtr step = Dictionary::make({
        {QStringLiteral("Action"), name},
        {QStringLiteral("Range"), PMMovieTimestampString(betweenStart) + u'~' + PMMovieTimestampString(length)},
    });
    m_editingActionDescriptions->append(step);
    // The player goes on with the changed timeline from where it stood.
    if (m_player) {
        const double at = std::min(m_player->currentTime(), PMAssetDurationSeconds(composition) > 0 ? composition->duration().seconds() : 0.0);
        m_player->replaceCurrentItemWithAsset(composition);
        m_player->seekToTime(at);
    }
    if (m_frameImageMovieRepresentations.empty())
        reportAssetValues(composition, m_uniqueLibraryID);
    return step;
}

void PMMovie::setAspectRatio(double aspectRatio)
{
    if (m_naturalSize.width() > 1)
        m_naturalSize.setHeight(m_naturalSize.width() * aspectRatio);
}

void PMMovie::setRotatesNaturalSize(bool rotatesNaturalSize)
{
    if (m_rotatesNaturalSize == rotatesNaturalSize)
        return;
    m_rotatesNaturalSize = rotatesNaturalSize;
    invalidateNaturalSizeWithCustomVisibleArea(nullptr);
}

void PMMovie::invalidateNaturalSizeWithCustomVisibleArea(const DictionaryPtr& visibleArea)
{
    m_naturalSize = QSizeF();
    if (!visibleArea)
        return;
    const QSizeF full = naturalSize();
    const double w = visibleArea->value(QStringLiteral("w")).toDouble();
    const double h = visibleArea->value(QStringLiteral("h")).toDouble();
    m_naturalSize = QSizeF(std::round(full.width() * w), std::round(full.height() * h));
}

QSizeF PMMovie::naturalSize()
{
    if (m_naturalSize.width() < 1) {
        QSizeF size = PMAssetNaturalSize(asset());
        if (m_rotatesNaturalSize)
            size.transpose();
        m_naturalSize = size;
    }
    return m_naturalSize;
}

QSizeF PMMovie::naturalSizeWithMagnification(double magnification)
{
    const QSizeF size = naturalSize();
    return QSizeF(std::round(size.width() * magnification), std::round(size.height() * magnification));
}

float PMMovie::frameRate()
{
    if (m_frameRate < 0) {
        float rate = 0;
        const PMAssetPtr current = asset();
        if (current) {
            for (const Track& t : current->tracksWithMediaType(MediaType::Video))
                rate = std::max(rate, t.nominalFrameRate);
        }
        // Not kept while the asset is still being built.
        if (!current && m_build)
            return 24;
        m_frameRate = rate < 1 ? 24 : rate;
    }
    return m_frameRate;
}
