#include "platform/media/Player.h"
#include "platform/media/PlayerMailbox.h"
#include "platform/Paths.h"
#include "platform/RegularFile.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaObject>
#include <QtCore/QPointer>
#include <QtCore/QThreadPool>
#include <QtCore/QTimer>
#include <QtGui/QTransform>

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace platform::media {

namespace {

// Tags the reply of a seek command, whose other bits are the seek's number.
constexpr quint64 kSeekReply = quint64(1) << 62;
// Tags the reply of a load command, whose other bits are the load's number.
constexpr quint64 kLoadReply = quint64(1) << 61;
// Tags the answers to what a loaded item is asked (its tracks, duration and frame rate):
// the two low bits say which, the others above them the item's load number. Asked without
// waiting once mpv has loaded the item; the item is ready when all three have come.
constexpr quint64 kItemQuery = quint64(1) << 60;
enum ItemQuery : quint64 { kTrackListQuery, kDurationQuery, kFrameRateQuery, kItemQueryCount };
constexpr unsigned kAllItemAnswers = (1u << kItemQueryCount) - 1;

// How long an item may take to become ready before it counts as failed.
int g_readyTimeoutMs = 10000;

// An exact seek of sound lands on a sample boundary, up to one sample before the time
// asked for; a position that close to the target is the target.
constexpr double kSampleSlack = 0.001;
// The largest head start (seconds) given to the demuxer of a file whose seeks land late.
constexpr double kMaximumSeekHeadStart = 32;
// A sound has no frames: a step moves by a film frame's time.
constexpr double kSoundStepSeconds = 1.0 / 24.0;

enum PropertyID : unsigned long long {
    kTimePos = 1,
    kDuration,
    kPause,
    kSpeed,
    kVolume,
    kMute,
    kEofReached,
    kVideoParams,
    kChapterList,
};

QString& audioOutputSetting()
{
    static QString audioOutput;
    return audioOutput;
}

// mpv's timeline syntax: each text value is written as %<byte length>%<bytes>, so that no
// character of a file name can end a field.
QByteArray edlQuoted(const QString& text)
{
    const QByteArray bytes = encodeFileName(text); // a file name's own bytes, UTF-8 or not
    return '%' + QByteArray::number(bytes.size()) + '%' + bytes;
}

QByteArray edlNumber(double seconds)
{
    return QByteArray::number(seconds, 'f', 6);
}

const mpv_node* mapValue(const mpv_node& map, const char* key)
{
    if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i)
        if (std::strcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    return nullptr;
}

double nodeNumber(const mpv_node* node, double fallback = 0)
{
    if (!node)
        return fallback;
    if (node->format == MPV_FORMAT_DOUBLE)
        return node->u.double_;
    if (node->format == MPV_FORMAT_INT64)
        return double(node->u.int64);
    return fallback;
}

QString nodeString(const mpv_node* node)
{
    return node && node->format == MPV_FORMAT_STRING ? QString::fromUtf8(node->u.string) : QString();
}

bool nodeFlag(const mpv_node* node)
{
    return node && node->format == MPV_FORMAT_FLAG && node->u.flag;
}

void setOption(mpv_handle* mpv, const char* name, const char* value)
{
    mpv_set_option_string(mpv, name, value);
}

// Whether anything can play sound here: a sound server's socket or a sound card. Without
// one, mpv's outputs would each be tried for every movie, and the sound libraries print
// their failures (a dozen lines per movie) on standard error.
bool hasSoundOutput()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!qEnvironmentVariable("PULSE_SERVER").isEmpty() || !qEnvironmentVariable("PIPEWIRE_REMOTE").isEmpty())
        return true;
    if (!runtime.isEmpty()) {
        const QString pipewireRuntime = qEnvironmentVariable("PIPEWIRE_RUNTIME_DIR", runtime);
        if (QFileInfo::exists(pipewireRuntime + QStringLiteral("/pipewire-0")) || QFileInfo::exists(runtime + QStringLiteral("/pulse/native")))
            return true;
    }
    // A sound card's playback device.
    return !QDir(QStringLiteral("/dev/snd")).entryList({QStringLiteral("pcmC*D*p")}, QDir::System).isEmpty();
}

// The output mpv is given when none was set: its own choice where sound can play, else
// none at all (the picture plays in time all the same).
QString automaticAudioOutput()
{
    static const QString output = hasSoundOutput() ? QString() : QStringLiteral("null");
    return output;
}

} // namespace

void Player::setDefaultAudioOutput(const QString& audioOutput)
{
    audioOutputSetting() = audioOutput;
}

QString Player::loadURLForAsset(const AssetPtr& asset)
{
    if (!asset)
        return {};
    if (!asset->isComposition())
        return asset->URL().isLocalFile() ? pathFromFileURL(asset->URL()) : QString();
    // A movie not edited (yet) plays as its file: mpv then counts from the file's own start
    // as the asset does, and keeps the file's chapters and tracks.
    if (const AssetPtr original = asset->associatedOriginalAsset(); original && !original->isComposition())
        return loadURLForAsset(original);
    const auto composition = std::static_pointer_cast<Composition>(asset);
    // The picture's segments lead; a composition without pictures plays its sound.
    std::vector<Track> tracks = composition->tracksWithMediaType(MediaType::Video);
    if (tracks.empty())
        tracks = composition->tracksWithMediaType(MediaType::Audio);
    if (tracks.empty())
        return {};
    QByteArray edl;
    for (const Composition::Segment& segment : composition->segmentsForTrack(tracks.front().trackID)) {
        if (!segment.source || segment.source->isComposition() || !segment.source->URL().isLocalFile() || segment.target.isEmpty())
            continue;
        if (!edl.isEmpty())
            edl += ';';
        // A timeline's start counts on the source's own clock, which need not begin at 0
        // (transport streams, camera files): asset time 0 is the source's start time.
        const double start = segment.sourceStart.seconds() + segment.source->startTime().seconds();
        edl += edlQuoted(segment.source->URL().toLocalFile()) + ",start=" + edlNumber(std::max(0.0, start))
            + ",length=" + edlNumber(segment.target.duration.seconds());
    }
    if (edl.isEmpty())
        return {};
    return QStringLiteral("edl://") + decodeFileName(edl);
}

Player::Player(QObject* parent)
    : QObject(parent)
{
    m_mpv = mpv_create();
    if (!m_mpv)
        return;
    // A player inside a program: no configuration files, scripts, key bindings, terminal
    // output or on-screen controls of its own, and no helper that goes to the network.
    setOption(m_mpv, "config", "no");
    setOption(m_mpv, "load-scripts", "no");
    setOption(m_mpv, "load-stats-overlay", "no");
    setOption(m_mpv, "load-osd-console", "no");
    setOption(m_mpv, "load-auto-profiles", "no");
    setOption(m_mpv, "osc", "no");
    setOption(m_mpv, "ytdl", "no");
    setOption(m_mpv, "terminal", "no");
    setOption(m_mpv, "input-default-bindings", "no");
    setOption(m_mpv, "input-vo-keyboard", "no");
    setOption(m_mpv, "resume-playback", "no");
    setOption(m_mpv, "save-position-on-quit", "no");
    setOption(m_mpv, "vo", "libmpv");
    const QString audioOutput = audioOutputSetting().isEmpty() ? automaticAudioOutput() : audioOutputSetting();
    if (!audioOutput.isEmpty())
        setOption(m_mpv, "ao", audioOutput.toUtf8().constData());
    // A machine without a working sound device still plays the picture, in time; without
    // this a movie whose picture output is being replaced would end there.
    setOption(m_mpv, "audio-fallback-to-null", "yes");
    // Seeks land on the exact frame; the end of an item keeps its last frame on screen.
    setOption(m_mpv, "hr-seek", "yes");
    setOption(m_mpv, "keep-open", "yes");
    setOption(m_mpv, "idle", "yes");
    setOption(m_mpv, "pause", "yes");
    setOption(m_mpv, "audio-pitch-correction", "yes");
    setOption(m_mpv, "audio-display", "no");
    setOption(m_mpv, "video-rotate", "no");
    if (mpv_initialize(m_mpv) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return;
    }
    // The engine's warnings and errors go to the program's log, not to standard error.
    mpv_request_log_messages(m_mpv, "warn");
    mpv_observe_property(m_mpv, kTimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, kDuration, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, kPause, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, kSpeed, "speed", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, kVolume, "volume", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, kMute, "mute", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, kEofReached, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, kVideoParams, "video-params", MPV_FORMAT_NODE);
    mpv_observe_property(m_mpv, kChapterList, "chapter-list", MPV_FORMAT_NODE);
    mpv_set_wakeup_callback(m_mpv, &Player::wakeup, this);
    createSoftwareRenderContext();
    m_reverseTimer.setSingleShot(true);
    connect(&m_reverseTimer, &QTimer::timeout, this, &Player::stepBackwards);
}

namespace {

// The files that playing the asset reads: the file of a file asset, the sources of a
// composition's segments.
QStringList sourcePaths(const AssetPtr& asset)
{
    QStringList paths;
    if (!asset)
        return paths;
    if (!asset->isComposition()) {
        if (asset->URL().isLocalFile())
            paths << pathFromFileURL(asset->URL());
        return paths;
    }
    const auto composition = std::static_pointer_cast<Composition>(asset);
    for (const Track& track : composition->tracks()) {
        for (const Composition::Segment& segment : composition->segmentsForTrack(track.trackID)) {
            if (!segment.source)
                continue;
            for (const QString& path : sourcePaths(segment.source))
                if (!paths.contains(path))
                    paths << path;
        }
    }
    return paths;
}

} // namespace

void Player::setReadyTimeoutForTesting(int milliseconds)
{
    g_readyTimeoutMs = milliseconds < 0 ? 10000 : milliseconds;
}

void Player::failItem(const QString& error)
{
    m_status = PlayerItemStatus::Failed;
    m_error = error;
    m_itemStarted = false;
    const quint64 load = m_loadSerial;
    QMetaObject::invokeMethod(this, [this, load] {
        if (load == m_loadSerial && m_status == PlayerItemStatus::Failed)
            Q_EMIT statusChanged(m_status);
    }, Qt::QueuedConnection);
}

namespace {

// Where items are prepared: assets built and probed, their files checked. A file on a
// mount that no longer answers holds its worker for good, so these are not the shared
// pool's threads.
QThreadPool& itemPool()
{
    // At exit the program waits a while for the items being prepared (what they call must
    // not outlive the application), never for good: a worker may be held by such a mount.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(4);
        if (QCoreApplication::instance())
            qAddPostRoutine([] { itemPool().waitForDone(3000); });
        return p;
    }();
    return *pool;
}

} // namespace

struct Player::PreparedItem {
    AssetPtr asset;
    QString url;
    QString error;
};

Player::PreparedItem Player::prepareItem(const AssetPtr& asset)
{
    PreparedItem item;
    item.asset = asset;
    item.url = loadURLForAsset(asset);
    if (item.url.isEmpty()) {
        item.error = QStringLiteral("nothing to play");
        return item;
    }
    // A named pipe, a device or a socket would block the engine in its first read for
    // good, where no time limit reaches.
    for (const QString& path : sourcePaths(asset)) {
        if (!checkRegularFile(path, &item.error))
            return item;
    }
    // What the player asks of the asset later (its tracks' turn) is read here.
    if (asset)
        asset->tracks();
    return item;
}

void Player::replaceCurrentItemWithAsset(const AssetPtr& asset)
{
    beginItem(asset);
    if (!m_mpv)
        return;
    // Nothing to play is known at once; the files are checked on the worker.
    if (loadURLForAsset(asset).isEmpty()) {
        loadPreparedItem(m_loadSerial, prepareItem(asset), {});
        return;
    }
    prepareOnWorker([asset] { return asset; }, {});
}

void Player::replaceCurrentItemWithAssetBuiltBy(std::function<AssetPtr()> build, std::function<void(const AssetPtr&)> built)
{
    beginItem(nullptr);
    if (m_mpv && build)
        prepareOnWorker(std::move(build), std::move(built));
    else if (m_mpv)
        loadPreparedItem(m_loadSerial, prepareItem(nullptr), {});
}

void Player::prepareOnWorker(std::function<AssetPtr()> build, std::function<void(const AssetPtr&)> built)
{
    if (!m_mailbox) {
        m_mailbox = std::make_shared<Mailbox>();
        m_mailbox->player = this;
    }
    const quint64 load = m_loadSerial;
    itemPool().start([mailbox = m_mailbox, load, build = std::move(build), built = std::move(built)]() mutable {
        PreparedItem item = prepareItem(build());
        std::lock_guard lock(mailbox->mutex);
        if (Player* player = mailbox->player) {
            QMetaObject::invokeMethod(player, [player, load, item = std::move(item), built = std::move(built)] {
                player->loadPreparedItem(load, item, built);
            }, Qt::QueuedConnection);
        }
    });
}

void Player::loadPreparedItem(quint64 load, const PreparedItem& item, const std::function<void(const AssetPtr&)>& built)
{
    // A newer item, or this one failed meanwhile (it took too long).
    if (load != m_loadSerial || m_status != PlayerItemStatus::Unknown)
        return;
    m_asset = item.asset;
    if (built) {
        QPointer<Player> self(this);
        built(item.asset);
        if (!self || load != m_loadSerial || m_status != PlayerItemStatus::Unknown)
            return;
    }
    if (!item.error.isEmpty()) {
        const char* command[] = {"stop", nullptr};
        mpv_command_async(m_mpv, 0, command);
        failItem(item.error);
        return;
    }
    // Each seek of the last item's file may have needed a head start; a new file starts without.
    if (m_seekHeadStart > 0) {
        m_seekHeadStart = 0;
        mpv_set_property_async(m_mpv, 0, "hr-seek-demuxer-offset", MPV_FORMAT_DOUBLE, &m_seekHeadStart);
    }
    const QByteArray bytes = encodeFileName(item.url);
    const char* command[] = {"loadfile", bytes.constData(), "replace", nullptr};
    mpv_command_async(m_mpv, kLoadReply | m_loadSerial, command);
}

void Player::beginItem(const AssetPtr& asset)
{
    stopReversing();
    m_asset = asset;
    m_status = PlayerItemStatus::Unknown;
    m_error.clear();
    m_timedOut = false;
    m_hasVideo = m_hasAudio = false;
    m_eofReached = false;
    m_currentTime = 0;
    m_duration = 0;
    m_pendingSeeks = 0;
    m_seekSerialTaken = m_seekSerial;
    m_seekAwaitsFrame = false;
    m_seekWhenReady = -1;
    m_started = false;
    m_restartedBeforeReady = false;
    m_chapters.clear();
    m_frame = {};
    m_renderedFrames = 0;
    m_playlistEntryID = -1;
    m_itemStarted = false;
    m_listedVideo = m_listedAudio = false;
    m_itemAnswers = 0;
    m_frameRate = 0;
    m_exactSeekTarget = -1;
    ++m_loadSerial;
    setSoftwareRendererItem(0, true);
    if (!m_mpv) {
        failItem(QStringLiteral("the player engine could not be started"));
        return;
    }
    setPaused(true);
    // An item that never gets ready (a file on a server that does not answer, or on a
    // mount that holds its preparation) fails.
    const quint64 load = m_loadSerial;
    const int timeout = g_readyTimeoutMs;
    QTimer::singleShot(timeout, this, [this, load, timeout] {
        if (load != m_loadSerial || m_status != PlayerItemStatus::Unknown)
            return;
        const char* command[] = {"stop", nullptr};
        mpv_command_async(m_mpv, 0, command);
        m_timedOut = true;
        failItem(QStringLiteral("the file did not open within %1 seconds").arg(timeout / 1000.0));
    });
}

void Player::setPaused(bool paused)
{
    if (!m_mpv)
        return;
    stopReversing();
    m_paused = paused;
    setEnginePaused(paused);
}

void Player::setEnginePaused(bool paused)
{
    int flag = paused ? 1 : 0;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &flag);
}

void Player::applySpeed(float rate)
{
    m_backward = rate < 0;
    double speed = std::clamp(double(std::fabs(rate)), 0.01, 100.0);
    m_speed = float(speed);
    mpv_set_property_async(m_mpv, 0, "speed", MPV_FORMAT_DOUBLE, &speed);
}

// Playing backwards: mpv's own backward playback keeps a whole group of pictures decoded
// (hundreds of megabytes for a long one, and no movement at all once that is more than its
// buffer holds). Instead the paused engine seeks exactly, step by step, to where the
// picture should be by now: the memory is that of a seek, and a slow decoder shows fewer
// pictures at the same pace rather than falling behind.
void Player::startReversing()
{
    if (m_status != PlayerItemStatus::ReadyToPlay || !m_hasVideo)
        return;
    m_reverseFrom = m_eofReached && m_duration > 0 ? m_duration : m_currentTime;
    m_eofReached = false;
    m_reversing = true;
    m_paused = false;
    setEnginePaused(true);
    m_reverseClock.start();
    if (!isSeeking())
        stepBackwards();
}

void Player::stopReversing()
{
    m_reversing = false;
    m_reverseTimer.stop();
}

int Player::reverseStepInterval() const
{
    const double frame = m_frameRate > 0 ? 1.0 / m_frameRate : 1.0 / 24.0;
    return std::max(1, int(std::lround(frame / std::max(0.01f, m_speed) * 1000.0)));
}

void Player::stepBackwards()
{
    if (!m_reversing)
        return;
    if (isSeeking()) {
        // The step goes once the seek under way is done (finishSeek).
        return;
    }
    const double target = m_reverseFrom - m_reverseClock.nsecsElapsed() / 1e9 * double(m_speed);
    if (target <= 0) {
        // The start: the picture stays there, paused.
        stopReversing();
        m_paused = true;
        seekToTime(0);
        Q_EMIT rateChanged(0);
        return;
    }
    const double frame = m_frameRate > 0 ? 1.0 / m_frameRate : 0;
    // Not a frame further yet: wait for it.
    if (frame > 0 && frameStartTime(target) >= frameStartTime(m_currentTime)) {
        m_reverseTimer.start(reverseStepInterval());
        return;
    }
    seekToTime(target);
    // Re-anchored by the seek: keep the clock that sets the pace.
    m_reverseFrom = target;
    m_reverseClock.start();
}

void Player::play()
{
    if (!m_mpv)
        return;
    if (m_backward) {
        startReversing();
    } else {
        setPaused(false);
    }
    Q_EMIT rateChanged(rate());
}

void Player::pause()
{
    if (!m_mpv)
        return;
    setPaused(true);
    Q_EMIT rateChanged(0);
}

float Player::rate() const
{
    if (m_paused || m_eofReached)
        return 0;
    return m_backward ? -m_speed : m_speed;
}

void Player::setRate(float rate)
{
    if (!m_mpv)
        return;
    if (rate == 0) {
        pause();
        return;
    }
    applySpeed(rate);
    if (rate < 0) {
        if (!m_reversing)
            startReversing();
    } else {
        setPaused(false);
    }
    Q_EMIT rateChanged(this->rate());
}

TimeControlStatus Player::timeControlStatus() const
{
    if (m_paused || m_eofReached)
        return TimeControlStatus::Paused;
    return m_status == PlayerItemStatus::ReadyToPlay ? TimeControlStatus::Playing : TimeControlStatus::WaitingToPlayAtSpecifiedRate;
}

void Player::seekToTime(double seconds, bool exact)
{
    if (!m_mpv || !std::isfinite(seconds))
        return;
    seconds = std::max(0.0, seconds);
    // Playing backwards goes on from the new place.
    if (m_reversing) {
        m_reverseFrom = seconds;
        m_reverseClock.start();
    }
    // Until the item has started (its first picture up), a seek waits: the start's restart
    // would be taken for the seek's.
    if (!hasStarted()) {
        m_seekWhenReady = seconds;
        m_seekWhenReadyExact = exact;
        m_currentTime = seconds;
        return;
    }
    // Leaving the end: a rate asked for from now on applies (mpv tells when the end is
    // reached again).
    m_eofReached = false;
    if (exact)
        seconds = frameStartTime(seconds);
    seekEngine(seconds, exact);
}

void Player::seekEngine(double seconds, bool exact)
{
    const QByteArray target = QByteArray::number(seconds, 'f', 6);
    const char* command[] = {"seek", target.constData(), exact ? "absolute+exact" : "absolute+keyframes", nullptr};
    if (mpv_command_async(m_mpv, kSeekReply | (m_seekSerial + 1), command) >= 0) {
        ++m_seekSerial;
        ++m_pendingSeeks;
        m_seekAwaitsFrame = false;
        m_framesAtSeek = m_renderedFrames;
        m_exactSeekTarget = exact ? seconds : -1;
        // Until mpv reports the new position the player answers the time it goes to.
        m_currentTime = m_duration > 0 ? std::min(seconds, m_duration) : seconds;
    }
}

// mpv's exact seek of sound keeps the sample that begins just before the time.
double Player::landedTime(double position) const
{
    if (m_exactSeekTarget >= 0 && position < m_exactSeekTarget && m_exactSeekTarget - position < kSampleSlack)
        return m_exactSeekTarget;
    return position;
}

// Whether an exact seek's picture came later than the frame of its time, for want of a
// key frame before it (not at the end, where the last frame is as near as it gets).
bool Player::landedLate(double position) const
{
    if (m_exactSeekTarget < 0 || !m_hasVideo || m_seekHeadStart >= kMaximumSeekHeadStart)
        return false;
    const double frame = m_frameRate > 0 ? 1.0 / m_frameRate : 0.1;
    return position > m_exactSeekTarget + 1.5 * frame && (m_duration <= 0 || m_exactSeekTarget < m_duration - 2 * frame);
}

void Player::finishSeek()
{
    QPointer<Player> self(this);
    Q_EMIT seekCompleted();
    if (self && m_reversing && !m_reverseTimer.isActive())
        m_reverseTimer.start(reverseStepInterval());
}

// mpv's exact seek shows the first frame that starts at or after the time; the program
// wants the frame on screen at that time, the one that started last. With a known frame
// rate the target moves back to that frame's start (in the source's own frame grid for a
// segment of a composition, never before the segment).
double Player::frameStartTime(double seconds) const
{
    if (!(m_frameRate > 0))
        return seconds;
    const auto grid = [&](double t) { return std::floor(t * m_frameRate + 1e-4) / m_frameRate; };
    if (!m_asset || !m_asset->isComposition())
        return grid(seconds);
    const auto composition = std::static_pointer_cast<Composition>(m_asset);
    const std::vector<Track> video = composition->tracksWithMediaType(MediaType::Video);
    Composition::Segment segment;
    MediaTime source;
    if (video.empty() || !composition->getSegmentForTime(video.front().trackID, MediaTime::withSeconds(seconds), &segment, &source))
        return seconds;
    const double back = source.seconds() - grid(source.seconds());
    return std::max(segment.target.start.seconds(), seconds - back);
}

void Player::updatePresentationSize()
{
    QSize size = m_videoSize;
    // mpv reports the picture's size unturned. The software renderer draws it so (mpv's
    // own turning breaks it) and the finished image is turned; the GL renderer turns it.
    if (m_fileRotation % 180 == 90)
        size.transpose();
    if (size.isEmpty() || size == m_presentationSize)
        return;
    m_presentationSize = size;
    updateSoftwareTarget();
    Q_EMIT presentationSizeChanged(size);
}

bool Player::hasStarted() const
{
    return m_status == PlayerItemStatus::ReadyToPlay && m_started && (!m_hasVideo || m_renderedFrames > 0);
}

void Player::seekWhenStarted()
{
    if (m_seekWhenReady < 0 || !hasStarted())
        return;
    const double target = m_seekWhenReady;
    m_seekWhenReady = -1;
    seekToTime(target, m_seekWhenReadyExact);
}

void Player::stepByFrames(int count)
{
    if (!m_mpv || m_status != PlayerItemStatus::ReadyToPlay || count == 0)
        return;
    pause();
    // mpv steps pictures only: a sound moves by a step's time, exactly.
    if (!m_hasVideo) {
        seekToTime(std::clamp(m_currentTime + count * kSoundStepSeconds, 0.0, std::max(0.0, m_duration)));
        return;
    }
    for (int i = 0; i < std::abs(count); ++i) {
        const char* command[] = {count > 0 ? "frame-step" : "frame-back-step", nullptr};
        mpv_command_async(m_mpv, 0, command);
    }
}

void Player::setVolume(float volume)
{
    if (!m_mpv)
        return;
    m_volume = std::clamp(volume, 0.0f, 1.0f);
    double percent = double(m_volume) * 100.0;
    mpv_set_property_async(m_mpv, 0, "volume", MPV_FORMAT_DOUBLE, &percent);
}

void Player::setMuted(bool muted)
{
    if (!m_mpv)
        return;
    m_muted = muted;
    int flag = muted ? 1 : 0;
    mpv_set_property_async(m_mpv, 0, "mute", MPV_FORMAT_FLAG, &flag);
}

qint64 Player::droppedFrameCount() const
{
    if (!m_mpv)
        return 0;
    int64_t output = 0, decoder = 0;
    mpv_get_property(m_mpv, "frame-drop-count", MPV_FORMAT_INT64, &output);
    mpv_get_property(m_mpv, "decoder-frame-drop-count", MPV_FORMAT_INT64, &decoder);
    return qint64(output + decoder);
}

void Player::handlePropertyChange(unsigned long long id, int format, void* data)
{
    const bool none = format == MPV_FORMAT_NONE || !data;
    // What the item before says after it was replaced is no news of this one.
    const bool itemProperty = id == kTimePos || id == kDuration || id == kEofReached || id == kVideoParams || id == kChapterList;
    if (itemProperty && !m_itemStarted)
        return;
    switch (id) {
    case kTimePos:
        // While a seek runs the player answers the time it goes to, not the old one.
        if (!none && m_pendingSeeks == 0) {
            m_currentTime = landedTime(*static_cast<double*>(data));
            Q_EMIT timeChanged(m_currentTime);
        }
        break;
    case kDuration: {
        const double duration = none ? 0 : *static_cast<double*>(data);
        if (duration != m_duration) {
            m_duration = duration;
            Q_EMIT durationChanged(duration);
        }
        break;
    }
    case kPause:
        // Playing backwards runs on a paused engine.
        if (!none && !m_reversing) {
            m_paused = *static_cast<int*>(data) != 0;
            Q_EMIT rateChanged(rate());
        }
        break;
    case kSpeed:
        if (!none)
            m_speed = float(*static_cast<double*>(data));
        break;
    case kVolume:
        if (!none) {
            m_volume = float(std::clamp(*static_cast<double*>(data) / 100.0, 0.0, 1.0));
            Q_EMIT volumeChanged();
        }
        break;
    case kMute:
        if (!none) {
            m_muted = *static_cast<int*>(data) != 0;
            Q_EMIT volumeChanged();
        }
        break;
    case kEofReached: {
        const bool reached = !none && *static_cast<int*>(data) != 0;
        const bool arrived = reached && !m_eofReached;
        m_eofReached = reached;
        if (arrived && m_status == PlayerItemStatus::ReadyToPlay) {
            if (m_duration > 0)
                m_currentTime = m_duration;
            Q_EMIT rateChanged(0);
            Q_EMIT didPlayToEnd();
        }
        break;
    }
    case kVideoParams: {
        // mpv tells only changes: an item of the same size as the last one says nothing,
        // so the size is kept across items.
        m_videoSize = {};
        if (!none && format == MPV_FORMAT_NODE) {
            const mpv_node& node = *static_cast<mpv_node*>(data);
            m_videoSize = QSize(int(nodeNumber(mapValue(node, "dw"))), int(nodeNumber(mapValue(node, "dh"))));
        }
        updatePresentationSize();
        break;
    }
    case kChapterList: {
        m_chapters.clear();
        if (!none && format == MPV_FORMAT_NODE) {
            const mpv_node& node = *static_cast<mpv_node*>(data);
            if (node.format == MPV_FORMAT_NODE_ARRAY && node.u.list) {
                for (int i = 0; i < node.u.list->num; ++i) {
                    const mpv_node& chapter = node.u.list->values[i];
                    m_chapters.push_back({nodeNumber(mapValue(chapter, "time")), nodeString(mapValue(chapter, "title"))});
                }
            }
        }
        Q_EMIT chaptersChanged();
        break;
    }
    default:
        break;
    }
}

// The item has started: what mpv tells from now on is of this item.
void Player::startItem()
{
    m_itemStarted = true;
    setSoftwareRendererItem(m_loadSerial, false);
}

// An answer to what the loaded item was asked.
void Player::handleItemAnswer(quint64 query, int format, void* data)
{
    const bool none = format == MPV_FORMAT_NONE || !data;
    if (query == kTrackListQuery) {
        m_listedVideo = m_listedAudio = false;
        const mpv_node* tracks = !none && format == MPV_FORMAT_NODE ? static_cast<mpv_node*>(data) : nullptr;
        if (tracks && tracks->format == MPV_FORMAT_NODE_ARRAY && tracks->u.list) {
            for (int i = 0; i < tracks->u.list->num; ++i) {
                const mpv_node& track = tracks->u.list->values[i];
                const QString type = nodeString(mapValue(track, "type"));
                if (type == QLatin1String("video") && !nodeFlag(mapValue(track, "albumart")))
                    m_listedVideo = true;
                else if (type == QLatin1String("audio"))
                    m_listedAudio = true;
            }
        }
    } else if (query == kFrameRateQuery) {
        m_frameRate = none || format != MPV_FORMAT_DOUBLE ? 0 : *static_cast<double*>(data);
    } else if (query == kDurationQuery) {
        const double duration = none || format != MPV_FORMAT_DOUBLE ? 0 : *static_cast<double*>(data);
        if (duration > 0 && duration != m_duration) {
            m_duration = duration;
            Q_EMIT durationChanged(duration);
        }
    }
    m_itemAnswers |= 1u << query;
}

void Player::itemLoaded()
{
    if (m_status != PlayerItemStatus::Unknown || !m_itemStarted || m_loadedEntryID != m_playlistEntryID)
        return;
    // Asked once loaded (never read while the window waits); ready when all has come.
    if (m_itemQueried != m_loadSerial) {
        m_itemQueried = m_loadSerial;
        m_itemAnswers = 0;
        const quint64 tag = kItemQuery | (m_loadSerial << 2);
        mpv_get_property_async(m_mpv, tag | kTrackListQuery, "track-list", MPV_FORMAT_NODE);
        mpv_get_property_async(m_mpv, tag | kDurationQuery, "duration", MPV_FORMAT_DOUBLE);
        mpv_get_property_async(m_mpv, tag | kFrameRateQuery, "container-fps", MPV_FORMAT_DOUBLE);
        return;
    }
    if (m_itemAnswers != kAllItemAnswers)
        return;
    m_hasVideo = m_listedVideo;
    m_hasAudio = m_listedAudio;
    if (!m_hasVideo && !m_hasAudio) {
        m_status = PlayerItemStatus::Failed;
        m_error = QStringLiteral("the file holds no picture and no sound");
        Q_EMIT statusChanged(m_status);
        return;
    }
    m_fileRotation = 0;
    if (m_asset) {
        const std::vector<Track> video = m_asset->tracksWithMediaType(MediaType::Video);
        if (!video.empty()) {
            const AffineTransform& t = video.front().preferredTransform;
            const int degrees = int(std::lround(std::atan2(t.b, t.a) * 180.0 / M_PI));
            m_fileRotation = ((degrees % 360) + 360) % 360;
        }
    }
    m_softwareRotation = m_usesOpenGL ? 0 : m_fileRotation;
    if (!m_hasVideo)
        m_presentationSize = m_videoSize = {};
    updatePresentationSize();
    updateSoftwareTarget();
    m_status = PlayerItemStatus::ReadyToPlay;
    if (m_restartedBeforeReady)
        startPlayback();
    Q_EMIT statusChanged(m_status);
}

// The ready item has started: seeks asked for meanwhile go now.
void Player::startPlayback()
{
    m_started = true;
    m_restartedBeforeReady = false;
    // The item's first picture is up by now; its note may have been taken for one of the
    // item before (they can come in either order): show it.
    if (m_hasVideo && m_render && m_renderedFrames == 0)
        showFrame();
    else
        seekWhenStarted();
}

void Player::handleEvents()
{
    m_eventsPosted = false;
    // A receiver of a signal may drop this player; nothing is touched after that.
    QPointer<Player> self(this);
    while (self && m_mpv) {
        mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (!event || event->event_id == MPV_EVENT_NONE)
            break;
        switch (event->event_id) {
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* property = static_cast<mpv_event_property*>(event->data);
            handlePropertyChange(event->reply_userdata, property->format, property->data);
            break;
        }
        case MPV_EVENT_LOG_MESSAGE: {
            const auto* message = static_cast<mpv_event_log_message*>(event->data);
            if (!message || !message->text)
                break;
            const QString text = QString::fromUtf8(message->text).trimmed();
            if (!text.isEmpty()) {
                const EngineMessageLevel level = message->log_level <= MPV_LOG_LEVEL_ERROR ? EngineMessageLevel::Error
                                                 : message->log_level <= MPV_LOG_LEVEL_WARN ? EngineMessageLevel::Warning
                                                                                             : EngineMessageLevel::Information;
                Q_EMIT engineMessage(level, QString::fromUtf8(message->prefix ? message->prefix : ""), text);
            }
            break;
        }
        case MPV_EVENT_GET_PROPERTY_REPLY: {
            const quint64 tag = event->reply_userdata;
            if (!(tag & kItemQuery) || ((tag & ~kItemQuery) >> 2) != m_loadSerial || m_itemQueried != m_loadSerial)
                break;
            const auto* property = static_cast<mpv_event_property*>(event->data);
            if (event->error >= 0 && property)
                handleItemAnswer(tag & 3, property->format, property->data);
            else
                handleItemAnswer(tag & 3, MPV_FORMAT_NONE, nullptr);
            if (m_itemAnswers == kAllItemAnswers)
                itemLoaded();
            break;
        }
        case MPV_EVENT_START_FILE:
            // Until the item's own start, what mpv tells belongs to the item before.
            m_startedEntryID = static_cast<mpv_event_start_file*>(event->data)->playlist_entry_id;
            m_loadedEntryID = -1;
            if (m_playlistEntryID >= 0 && m_startedEntryID == m_playlistEntryID && m_status == PlayerItemStatus::Unknown)
                startItem();
            break;
        case MPV_EVENT_FILE_LOADED:
            m_loadedEntryID = m_startedEntryID;
            itemLoaded();
            break;
        case MPV_EVENT_COMMAND_REPLY:
            handleCommandReply(event);
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<mpv_event_end_file*>(event->data);
            if (end->playlist_entry_id != m_playlistEntryID || m_playlistEntryID < 0 || m_status == PlayerItemStatus::Failed)
                break;
            if (end->reason == MPV_END_FILE_REASON_ERROR || (m_status == PlayerItemStatus::Unknown && end->reason == MPV_END_FILE_REASON_EOF)) {
                m_status = PlayerItemStatus::Failed;
                m_error = end->reason == MPV_END_FILE_REASON_ERROR ? QString::fromUtf8(mpv_error_string(end->error))
                                                                   : QStringLiteral("the file cannot be played");
                Q_EMIT statusChanged(m_status);
            }
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART:
            handlePlaybackRestart();
            break;
        case MPV_EVENT_SHUTDOWN:
            return;
        default:
            break;
        }
    }
}

// The answer to a command sent without waiting: a load's (its playlist entry) or a seek's.
void Player::handleCommandReply(const mpv_event* event)
{
    if ((event->reply_userdata & kLoadReply) && (event->reply_userdata & ~kLoadReply) == m_loadSerial) {
        // The load's playlist entry: its start begins the item (mpv answers the
        // command before it starts the file, but nothing relies on that).
        const auto* reply = static_cast<mpv_event_command*>(event->data);
        if (event->error >= 0 && reply)
            m_playlistEntryID = qint64(nodeNumber(mapValue(reply->result, "playlist_entry_id"), -1));
        if (m_playlistEntryID < 0) {
            if (m_status == PlayerItemStatus::Unknown)
                failItem(event->error < 0 ? QString::fromUtf8(mpv_error_string(event->error)) : QStringLiteral("the file cannot be played"));
            return;
        }
        if (m_startedEntryID == m_playlistEntryID && m_status == PlayerItemStatus::Unknown) {
            startItem();
            if (m_loadedEntryID == m_playlistEntryID)
                itemLoaded();
        }
    } else if (event->reply_userdata & kSeekReply) {
        const quint64 serial = event->reply_userdata & ~kSeekReply;
        m_seekSerialTaken = std::max(m_seekSerialTaken, serial);
        // The newest seek refused: no restart will come for it.
        if (event->error < 0 && serial == m_seekSerial && m_pendingSeeks > 0) {
            m_pendingSeeks = 0;
            double position = 0;
            if (mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &position) >= 0)
                m_currentTime = position;
            finishSeek();
        }
    }
}

// mpv restarted playback: the item's first start, or the end of a seek.
void Player::handlePlaybackRestart()
{
    if (!m_started) {
        // The item's start can come before the answers that make it ready: it
        // counts once they are there (itemLoaded).
        m_restartedBeforeReady = m_itemStarted && m_status == PlayerItemStatus::Unknown;
        if (m_status == PlayerItemStatus::ReadyToPlay)
            startPlayback();
        return;
    }
    // A seek asked for while an older one was under way: the older one's restart
    // must not end the newer one (its time would be taken for the new one's).
    if (m_pendingSeeks > 0 && m_seekSerialTaken == m_seekSerial) {
        m_pendingSeeks = 0;
        double position = 0;
        const bool known = mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &position) >= 0;
        if (known && landedLate(position)) {
            // Seeks by time in some containers (MPEG transport and program
            // streams) land on any frame, and the picture can only start at the
            // next key frame: again, with the demuxer started earlier. A head
            // start that changed nothing was not needed (a gap in the frames).
            const bool retried = m_lateSeekTarget == m_exactSeekTarget;
            if (!retried || std::fabs(position - m_lateSeekPosition) > 1e-3) {
                m_lateSeekTarget = m_exactSeekTarget;
                m_lateSeekPosition = position;
                m_seekHeadStart = m_seekHeadStart > 0 ? m_seekHeadStart * 2 : 1;
                mpv_set_property_async(m_mpv, 0, "hr-seek-demuxer-offset", MPV_FORMAT_DOUBLE, &m_seekHeadStart);
                seekEngine(m_exactSeekTarget, true);
                return;
            }
            m_seekHeadStart = m_seekHeadStart > 1 ? m_seekHeadStart / 2 : 0;
            mpv_set_property_async(m_mpv, 0, "hr-seek-demuxer-offset", MPV_FORMAT_DOUBLE, &m_seekHeadStart);
        }
        m_lateSeekTarget = -1;
        if (known)
            m_currentTime = landedTime(position);
        // mpv restarts once the frame at the new time is decoded; the seek is done
        // for the program when that frame is drawn (soon after, or already, or
        // never for sound).
        if (m_hasVideo && m_render && m_renderedFrames == m_framesAtSeek) {
            m_seekAwaitsFrame = true;
            QTimer::singleShot(500, this, [this] {
                if (m_seekAwaitsFrame) {
                    m_seekAwaitsFrame = false;
                    finishSeek();
                }
            });
        } else {
            finishSeek();
        }
    }
}

} // namespace platform::media
