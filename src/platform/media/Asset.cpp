#include "platform/Queues.h"
#include "platform/media/Asset.h"
#include "platform/ImageReading.h"
#include "platform/media/AssetFile.h"
#include "platform/ThreadSanitizer.h"
#include "platform/Paths.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QHash>
#include <QtCore/QMetaObject>
#include <QtCore/QThreadPool>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::media {

namespace {

constexpr int kMaximumChapters = 10000;
constexpr int kMaximumMetadataValueLength = 1 << 20;
constexpr int kMaximumCoverBytes = 64 << 20;

MediaTime fromStreamTime(int64_t value, AVRational timeBase)
{
    if (value == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0)
        return MediaTime::invalid();
    return MediaTime::make(av_rescale_q(value, timeBase, AVRational{1, MediaTime::kDefaultTimescale}), MediaTime::kDefaultTimescale);
}

MediaType mediaTypeOf(const AVStream* stream)
{
    switch (stream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) ? MediaType::Other : MediaType::Video;
    case AVMEDIA_TYPE_AUDIO:
        return MediaType::Audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return MediaType::Subtitle;
    default:
        return MediaType::Other;
    }
}

} // namespace

int interruptCallback(void* opaque)
{
    const auto* state = static_cast<const InterruptState*>(opaque);
    return state && state->expired() ? 1 : 0;
}

void setUpMediaLibraryLogging()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (qEnvironmentVariableIsEmpty("PELLIS_FFMPEG_LOG"))
            av_log_set_level(AV_LOG_QUIET);
    });
}

QString errorText(int averror)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

namespace {

// Every file FFmpeg opens for a file asset (the movie itself, and whatever its demuxer
// reaches from it) comes through here: a local regular file, opened without blocking.
// A named pipe, a device or a socket would hang in open() or in the first read, where
// no interrupt callback reaches; such a file is refused at once.
int openRegularFileOnly(AVFormatContext* context, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
{
    if (flags & AVIO_FLAG_WRITE)
        return AVERROR(EPERM);
    QByteArray path(url);
    if (path.startsWith("file:"))
        path.remove(0, 5);
    else if (path.contains("://") || (path.indexOf(':') > 0 && path.indexOf(':') < path.indexOf('/')))
        return AVERROR(EPERM); // another protocol
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return AVERROR(errno);
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return AVERROR(EPERM);
    }
    // Reopening through the descriptor reaches the very file just checked, even when the
    // name has been replaced meanwhile.
    const QByteArray checked = "file:/proc/self/fd/" + QByteArray::number(fd);
    int result = avio_open2(pb, checked.constData(), flags, &context->interrupt_callback, options);
    if (result == AVERROR(ENOENT)) // no /proc here: the name it is
        result = avio_open2(pb, ("file:" + path).constData(), flags, &context->interrupt_callback, options);
    ::close(fd);
    return result;
}

} // namespace

AVFormatContext* openFormatContext(const QString& path, InterruptState* interrupt, QString* error)
{
    setUpMediaLibraryLogging();
    if (!checkRegularFile(path, error))
        return nullptr;
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        *error = QStringLiteral("out of memory");
        return nullptr;
    }
    context->interrupt_callback.callback = interruptCallback;
    context->interrupt_callback.opaque = interrupt;
    context->io_open = openRegularFileOnly;
    // Local files only: no protocol may reach out of the file (playlists naming URLs).
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const QByteArray localPath = encodeFileName(path); // the name's own bytes, UTF-8 or not
    int result = avformat_open_input(&context, localPath.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        *error = QStringLiteral("cannot open <%1>: %2").arg(path, interrupt->expired() ? QStringLiteral("timed out") : errorText(result));
        return nullptr; // avformat_open_input frees the context on failure
    }
    // Finding the streams decodes the first frame, onto a GIF's screen of any size.
    if (context->iformat && context->iformat->name && std::strcmp(context->iformat->name, "gif") == 0) {
        QString reason;
        if (!checkGIFCanvasOfFile(path, &reason)) {
            *error = QStringLiteral("cannot read <%1>: %2").arg(path, reason);
            avformat_close_input(&context);
            return nullptr;
        }
    }
    result = avformat_find_stream_info(context, nullptr);
    if (result < 0 || interrupt->expired()) {
        *error = QStringLiteral("cannot read the streams of <%1>: %2").arg(path, interrupt->expired() ? QStringLiteral("timed out") : errorText(result));
        avformat_close_input(&context);
        return nullptr;
    }
    return context;
}

QString escapedIdentifierKey(const QByteArray& utf8Key)
{
    // Keys of the iTunes key space are four bytes in Mac Roman ("©" is 0xA9); FFmpeg hands
    // them over as UTF-8, so a "©" becomes the one byte again before escaping.
    QString out;
    const QString key = QString::fromUtf8(utf8Key);
    for (const QChar ch : key) {
        const ushort u = ch.unicode();
        if (u == 0xA9) {
            out += QStringLiteral("%A9");
        } else if (u == '%' || u < 0x20 || u > 0x7E) {
            const QByteArray bytes = QString(ch).toUtf8();
            for (const char b : bytes)
                out += QLatin1Char('%') + QStringLiteral("%1").arg(uchar(b), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<MetadataItem> metadataItemFromTag(const QString& key, const QString& value)
{
    // FFmpeg names the iTunes-style atoms of MP4 and QuickTime files, the ID3 frames of MP3
    // files and the tags of Matroska and Ogg files alike; they all land in the iTunes key
    // space, where the program reads album, artist, genre, year, series and the rest.
    struct Entry { const char* ffmpeg; const char* identifier; bool numeric; };
    static const Entry table[] = {
        {"title", "itsk/%A9nam", false},
        {"artist", "itsk/%A9ART", false},
        {"album_artist", "itsk/aART", false},
        {"album", "itsk/%A9alb", false},
        {"composer", "itsk/%A9wrt", false},
        {"comment", "itsk/%A9cmt", false},
        {"description", "itsk/desc", false},
        {"synopsis", "itsk/ldes", false},
        {"genre", "itsk/%A9gen", false},
        {"date", "itsk/%A9day", false},
        {"year", "itsk/%A9day", false},
        {"encoder", "itsk/%A9too", false},
        {"encoded_by", "itsk/%A9enc", false},
        {"copyright", "itsk/cprt", false},
        {"grouping", "itsk/%A9grp", false},
        {"lyrics", "itsk/%A9lyr", false},
        {"show", "itsk/tvsh", false},
        {"episode_id", "itsk/tven", false},
        {"network", "itsk/tvnn", false},
        {"episode_sort", "itsk/tves", true},
        {"season_number", "itsk/tvsn", true},
        {"tmpo", "itsk/tmpo", true},
        {"track", "itsk/trkn", false},
        {"disc", "itsk/disk", false},
        {"media_type", "itsk/stik", true},
        {"hd_video", "itsk/hdvd", true},
        {"keywords", "itsk/keyw", false},
        {"iTunMOVI", "itlk/com.apple.iTunes.iTunMOVI", false},
        {"creation_time", "mdta/com.apple.quicktime.creationdate", false},
        {"location", "mdta/com.apple.quicktime.location.ISO6709", false},
    };
    // Tags that only describe the container or a muxer's bookkeeping.
    static const char* const ignored[] = {"major_brand", "minor_version", "compatible_brands", "handler_name", "vendor_id", "duration", "encoder_options"};
    const QString lower = key.toLower();
    for (const char* name : ignored) {
        if (lower == QLatin1String(name))
            return std::nullopt;
    }
    MetadataItem item;
    item.key = key;
    item.stringValue = value.left(kMaximumMetadataValueLength);
    for (const Entry& e : table) {
        if (lower == QLatin1String(e.ffmpeg) || key == QLatin1String(e.ffmpeg)) {
            item.identifier = QString::fromLatin1(e.identifier);
            if (e.numeric) {
                bool ok = false;
                const double number = value.trimmed().toDouble(&ok);
                if (ok && std::isfinite(number))
                    item.numberValue = number;
            }
            return item;
        }
    }
    // Keys of the QuickTime metadata key space keep their reverse-domain names; anything
    // else is a free-form key of the same kind.
    item.identifier = QStringLiteral("mdta/") + escapedIdentifierKey(key.toUtf8());
    return item;
}

void Asset::File::openIfNeeded()
{
    std::lock_guard lock(mutex);
    if (opened)
        return;
    opened = true;
    status = LoadStatus::Loading;
    InterruptState interrupt;
    interrupt.deadline = QDeadlineTimer(kOpenTimeoutMs);
    AVFormatContext* context = openFormatContext(path, &interrupt, &error);
    if (!context) {
        failed = true;
        status = LoadStatus::Failed;
        return;
    }
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        duration = MediaTime::make(context->duration, MediaTime::kDefaultTimescale);
    // Asset time 0 is where the container starts (a WebM whose audio begins at -0.007 s
    // starts there), as for the frame grabs; track and chapter times count from it.
    const MediaTime origin = context->start_time != AV_NOPTS_VALUE ? MediaTime::make(context->start_time, MediaTime::kDefaultTimescale) : MediaTime::zero();
    startTime = origin;
    const auto streamCount = std::min<unsigned>(context->nb_streams, 4096);
    for (unsigned i = 0; i < streamCount; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        Track track;
        track.trackID = int(i) + 1;
        track.mediaType = mediaTypeOf(stream);
        track.codecName = QString::fromUtf8(avcodec_get_name(par->codec_id));
        track.naturalSize = QSizeF(0, 0); // unknown until the stream says
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && par->width > 0 && par->height > 0) {
            double width = par->width;
            const AVRational sar = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : stream->sample_aspect_ratio;
            if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
                width = std::round(width * sar.num / sar.den);
            track.naturalSize = QSizeF(width, par->height);
        }
        size_t sideDataSize = 0;
        const auto* matrix = reinterpret_cast<const int32_t*>(av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &sideDataSize));
        if (matrix && sideDataSize >= 9 * sizeof(int32_t)) {
            const auto fixed = [](int32_t v) { return v / 65536.0; };
            track.preferredTransform = {fixed(matrix[0]), fixed(matrix[1]), fixed(matrix[3]), fixed(matrix[4]), fixed(matrix[6]), fixed(matrix[7])};
        }
        AVRational rate = stream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0 && track.mediaType == MediaType::Video)
            track.nominalFrameRate = float(av_q2d(rate));
        const MediaTime streamStart = fromStreamTime(stream->start_time, stream->time_base);
        const MediaTime start = streamStart.isNumeric() ? std::max(MediaTime::zero(), streamStart - origin) : MediaTime::zero();
        MediaTime length = fromStreamTime(stream->duration, stream->time_base);
        if (!length.isNumeric() && duration.isNumeric())
            length = std::max(MediaTime::zero(), duration - start); // a track without its own length ends with the asset
        track.timeRange = {start, length};
        if (!duration.isNumeric() && length.isNumeric())
            duration = length;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
            const AVPacket& pic = stream->attached_pic;
            if (cover.isNull() && pic.data && pic.size > 0 && pic.size <= kMaximumCoverBytes)
                cover = readImageData(QByteArray(reinterpret_cast<const char*>(pic.data), pic.size));
        }
        tracks.push_back(track);
    }
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(context->metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        if (auto item = metadataItemFromTag(QString::fromUtf8(tag->key), QString::fromUtf8(tag->value)))
            metadata.push_back(std::move(*item));
    }
    const auto chapterCount = std::min<unsigned>(context->nb_chapters, kMaximumChapters);
    for (unsigned i = 0; i < chapterCount; ++i) {
        const AVChapter* chapter = context->chapters[i];
        Chapter c;
        MediaTime start = fromStreamTime(chapter->start, chapter->time_base);
        MediaTime end = fromStreamTime(chapter->end, chapter->time_base);
        if (!start.isNumeric() || !end.isNumeric() || end < start)
            continue;
        start = std::max(start - origin, MediaTime::zero());
        end = std::max(end - origin, start);
        c.timeRange = {start, end - start};
        if (const AVDictionaryEntry* title = av_dict_get(chapter->metadata, "title", nullptr, 0))
            c.title = QString::fromUtf8(title->value).left(4096);
        chapters.push_back(std::move(c));
    }
    if (!duration.isNumeric())
        duration = MediaTime::indefinite();
    avformat_close_input(&context);
    status = LoadStatus::Loaded;
}

Asset::~Asset() = default;

AssetPtr Asset::assetWithURL(const QUrl& url, AssetOptions)
{
    if (!url.isLocalFile())
        return nullptr;
    auto asset = std::shared_ptr<Asset>(new Asset());
    asset->m_url = url;
    asset->m_file = std::make_shared<File>();
    asset->m_file->path = pathFromFileURL(url);
    return asset;
}

MediaTime Asset::duration() const
{
    m_file->openIfNeeded();
    return m_file->failed ? MediaTime::invalid() : m_file->duration;
}

MediaTime Asset::startTime() const
{
    m_file->openIfNeeded();
    return m_file->failed ? MediaTime::zero() : m_file->startTime;
}

std::vector<Track> Asset::tracks() const
{
    m_file->openIfNeeded();
    return m_file->tracks;
}

std::vector<Track> Asset::tracksWithMediaType(MediaType type) const
{
    std::vector<Track> result;
    for (const Track& t : tracks()) {
        if (t.mediaType == type)
            result.push_back(t);
    }
    return result;
}

std::optional<Track> Asset::trackWithTrackID(int trackID) const
{
    for (const Track& t : tracks()) {
        if (t.trackID == trackID)
            return t;
    }
    return std::nullopt;
}

std::vector<MetadataItem> Asset::metadata() const
{
    m_file->openIfNeeded();
    return m_file->metadata;
}

std::vector<Chapter> Asset::chapters() const
{
    m_file->openIfNeeded();
    return m_file->chapters;
}

QImage Asset::coverImage() const
{
    m_file->openIfNeeded();
    return m_file->cover;
}

bool Asset::isPlayable() const
{
    // A picture stream whose size FFmpeg cannot tell (an animated WebP) has no frame it
    // could decode either.
    for (const Track& t : tracks()) {
        if ((t.mediaType == MediaType::Video && !t.naturalSize.isEmpty()) || t.mediaType == MediaType::Audio)
            return true;
    }
    return false;
}

QString Asset::error() const
{
    m_file->openIfNeeded();
    return m_file->error;
}

LoadStatus Asset::statusOfValueForKey(const QString& key, QString* error) const
{
    const LoadStatus status = m_file->status.load();
    if (status == LoadStatus::Failed) {
        if (error) {
            std::lock_guard lock(m_file->mutex);
            *error = m_file->error;
        }
        return status;
    }
    if (key == QLatin1String("duration") || key == QLatin1String("tracks") || key == QLatin1String("metadata") || key == QLatin1String("chapters")
        || key == QLatin1String("playable"))
        return status;
    if (error)
        *error = QStringLiteral("unknown key: %1").arg(key);
    return LoadStatus::Failed;
}

void Asset::loadValuesAsynchronouslyForKeys(const QStringList& keys, std::function<void()> completion)
{
    Q_UNUSED(keys);
    auto self = shared_from_this();
    QThreadPool* pool = platform::sharedThreadPool();
    if (!pool)
        return; // the program is ending
    pool->start(platform::carried([self, completion = std::move(completion)]() mutable {
        if (self->m_file)
            self->m_file->openIfNeeded();
        if (completion)
            platform::dispatchAsyncMain(std::move(completion));
    }));
}

void Asset::setAssociatedOriginalAsset(AssetPtr asset)
{
    std::lock_guard lock(m_associationMutex);
    m_associatedOriginalAsset = std::move(asset);
}

AssetPtr Asset::associatedOriginalAsset() const
{
    std::lock_guard lock(m_associationMutex);
    return m_associatedOriginalAsset;
}

AssetPtr Asset::originalAsset()
{
    if (AssetPtr original = associatedOriginalAsset())
        return original;
    return shared_from_this();
}

// ---- Composition

Composition::Composition() = default;

CompositionPtr Composition::composition()
{
    return std::make_shared<Composition>();
}

int Composition::addMutableTrack(MediaType type)
{
    std::lock_guard lock(m_mutex);
    CompositionTrack t;
    t.track.trackID = m_nextTrackID++;
    t.track.mediaType = type;
    m_tracks.push_back(t);
    return t.track.trackID;
}

namespace {

using Segments = std::vector<Composition::Segment>;

// Splits the segment that spans t so that a segment boundary lies at t.
void splitAt(Segments& segments, const MediaTime& t)
{
    for (size_t i = 0; i < segments.size(); ++i) {
        Composition::Segment& s = segments[i];
        if (t > s.target.start && t < s.target.end()) {
            Composition::Segment tail = s;
            const MediaTime head = t - s.target.start;
            tail.target = {t, s.target.duration - head};
            tail.sourceStart = s.sourceStart + head;
            s.target.duration = head;
            segments.insert(segments.begin() + long(i) + 1, tail);
            return;
        }
    }
}

void insertSegment(Segments& segments, Composition::Segment segment)
{
    splitAt(segments, segment.target.start);
    const MediaTime at = segment.target.start;
    const MediaTime length = segment.target.duration;
    size_t index = segments.size();
    for (size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].target.start >= at) {
            if (index == segments.size())
                index = i;
            segments[i].target.start = segments[i].target.start + length;
        }
    }
    segments.insert(segments.begin() + long(index), std::move(segment));
}

void removeRange(Segments& segments, const TimeRange& range)
{
    splitAt(segments, range.start);
    splitAt(segments, range.end());
    Segments kept;
    for (Composition::Segment& s : segments) {
        if (s.target.start >= range.start && s.target.end() <= range.end())
            continue;
        if (s.target.start >= range.end())
            s.target.start = s.target.start - range.duration;
        kept.push_back(std::move(s));
    }
    segments = std::move(kept);
}

} // namespace

bool Composition::insertTimeRange(const TimeRange& sourceRange, const AssetPtr& asset, int sourceTrackID, int compositionTrackID, const MediaTime& at, QString* error)
{
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!asset)
        return fail(QStringLiteral("no source asset"));
    if (!sourceRange.start.isNumeric() || !sourceRange.duration.isNumeric() || sourceRange.duration.value <= 0 || sourceRange.start.value < 0 || !at.isNumeric() || at.value < 0)
        return fail(QStringLiteral("invalid time range"));
    const std::optional<Track> source = asset->trackWithTrackID(sourceTrackID);
    if (!source)
        return fail(QStringLiteral("no track %1 in the source asset%2").arg(sourceTrackID).arg(asset->error().isEmpty() ? QString() : QStringLiteral(": ") + asset->error()));
    std::lock_guard lock(m_mutex);
    for (CompositionTrack& t : m_tracks) {
        if (t.track.trackID != compositionTrackID)
            continue;
        if (t.track.mediaType != source->mediaType)
            return fail(QStringLiteral("the track kinds differ"));
        Segment segment;
        segment.target = {at.convertScale(MediaTime::kDefaultTimescale), sourceRange.duration.convertScale(MediaTime::kDefaultTimescale)};
        segment.source = asset;
        segment.sourceTrackID = sourceTrackID;
        segment.sourceStart = sourceRange.start.convertScale(MediaTime::kDefaultTimescale);
        if (t.segments.empty()) {
            t.track.naturalSize = source->naturalSize;
            t.track.nominalFrameRate = source->nominalFrameRate;
            t.track.codecName = source->codecName;
        }
        // Inserting past the end leaves no gap to fill: the segment goes to the end.
        MediaTime end = MediaTime::zero();
        for (const Segment& s : t.segments)
            end = std::max(end, s.target.end());
        if (segment.target.start > end)
            segment.target.start = end;
        insertSegment(t.segments, std::move(segment));
        return true;
    }
    return fail(QStringLiteral("no composition track %1").arg(compositionTrackID));
}

bool Composition::insertTimeRange(const TimeRange& sourceRange, const AssetPtr& asset, const MediaTime& at, QString* error)
{
    if (!asset) {
        if (error)
            *error = QStringLiteral("no source asset");
        return false;
    }
    const std::vector<Track> sourceTracks = asset->tracks();
    if (!asset->error().isEmpty()) {
        if (error)
            *error = asset->error();
        return false;
    }
    bool inserted = false;
    std::vector<int> usedVideo, usedAudio;
    for (const Track& source : sourceTracks) {
        if (source.mediaType != MediaType::Video && source.mediaType != MediaType::Audio)
            continue;
        auto& used = source.mediaType == MediaType::Video ? usedVideo : usedAudio;
        int target = 0;
        {
            std::lock_guard lock(m_mutex);
            for (const CompositionTrack& t : m_tracks) {
                if (t.track.mediaType == source.mediaType && std::find(used.begin(), used.end(), t.track.trackID) == used.end()) {
                    target = t.track.trackID;
                    break;
                }
            }
        }
        if (!target)
            target = addMutableTrack(source.mediaType);
        used.push_back(target);
        // A track may end before the asset does; insert what it has.
        TimeRange range = sourceRange;
        if (source.timeRange.duration.isNumeric() && source.timeRange.end() < range.end())
            range.duration = source.timeRange.end() - range.start;
        if (range.isEmpty())
            continue;
        if (!insertTimeRange(range, asset, source.trackID, target, at, error))
            return false;
        inserted = true;
    }
    if (!inserted && error)
        *error = QStringLiteral("the asset has no audio or video in that range");
    return inserted;
}

void Composition::removeTimeRange(const TimeRange& range)
{
    if (range.isEmpty() || !range.start.isNumeric())
        return;
    const TimeRange r = {range.start.convertScale(MediaTime::kDefaultTimescale), range.duration.convertScale(MediaTime::kDefaultTimescale)};
    std::lock_guard lock(m_mutex);
    for (CompositionTrack& t : m_tracks)
        removeRange(t.segments, r);
}

void Composition::setPreferredTransform(int trackID, const AffineTransform& transform)
{
    std::lock_guard lock(m_mutex);
    for (CompositionTrack& t : m_tracks) {
        if (t.track.trackID == trackID)
            t.track.preferredTransform = transform;
    }
}

std::vector<Composition::Segment> Composition::segmentsForTrack(int trackID) const
{
    std::lock_guard lock(m_mutex);
    for (const CompositionTrack& t : m_tracks) {
        if (t.track.trackID == trackID)
            return t.segments;
    }
    return {};
}

bool Composition::getSegmentForTime(int trackID, const MediaTime& t, Segment* segment, MediaTime* sourceTime) const
{
    std::lock_guard lock(m_mutex);
    for (const CompositionTrack& track : m_tracks) {
        if (track.track.trackID != trackID)
            continue;
        for (const Segment& s : track.segments) {
            if (s.target.containsTime(t)) {
                if (segment)
                    *segment = s;
                if (sourceTime)
                    *sourceTime = s.sourceStart + (t - s.target.start);
                return true;
            }
        }
    }
    return false;
}

MediaTime Composition::duration() const
{
    std::lock_guard lock(m_mutex);
    MediaTime end = MediaTime::zero();
    for (const CompositionTrack& t : m_tracks) {
        for (const Segment& s : t.segments)
            end = std::max(end, s.target.end());
    }
    return end;
}

std::vector<Track> Composition::tracks() const
{
    std::lock_guard lock(m_mutex);
    std::vector<Track> result;
    for (const CompositionTrack& t : m_tracks) {
        Track track = t.track;
        MediaTime end = MediaTime::zero();
        for (const Segment& s : t.segments)
            end = std::max(end, s.target.end());
        track.timeRange = {MediaTime::zero(), end};
        result.push_back(track);
    }
    return result;
}

bool Composition::isPlayable() const
{
    return duration().value > 0;
}

LoadStatus Composition::statusOfValueForKey(const QString&, QString*) const
{
    return LoadStatus::Loaded;
}

} // namespace platform::media
