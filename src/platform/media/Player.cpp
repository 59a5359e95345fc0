#include "platform/media/Player.h"
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

void freeAligned(void* data)
{
    std::free(data);
}

qsizetype alignedStride(QSize size)
{
    return (qsizetype(size.width()) * 4 + 63) / 64 * 64;
}

// The pixel layout of the software renderer's images: mpv's "bgr0" is, in memory, what
// Qt's RGB32 is on a little-endian machine, so the view paints a frame by copying it into
// the window's buffer, without converting each pixel. mpv leaves the padding byte
// undefined: the engine's images are made opaque by Qt wherever it reads their alpha as
// such (conversions and scaled paints of an RGB32 image treat it as 0xff).
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr char kSoftwareFormat[] = "bgr0";
constexpr QImage::Format kSoftwareImageFormat = QImage::Format_RGB32;
#else
constexpr char kSoftwareFormat[] = "rgb0";
constexpr QImage::Format kSoftwareImageFormat = QImage::Format_RGBX8888;
#endif

// An image whose rows and start are aligned as mpv's software renderer likes them.
QImage alignedImage(QSize size)
{
    const qsizetype stride = alignedStride(size);
    void* data = std::aligned_alloc(64, size_t(stride * size.height()));
    if (!data)
        return {};
    return QImage(static_cast<uchar*>(data), size.width(), size.height(), stride, kSoftwareImageFormat, &freeAligned, data);
}

// The buffers of the frames the software renderer draws: a frame the view has let go of
// gives its buffer back for a later frame of the same size. A fresh buffer of a 1080p
// frame is 8 MB of pages the kernel has to hand over and clear, 30 times a second.
class FrameBufferPool : public std::enable_shared_from_this<FrameBufferPool> {
public:
    static constexpr size_t kKept = 3;

    QImage image(QSize size)
    {
        const qsizetype stride = alignedStride(size);
        const size_t bytes = size_t(stride * size.height());
        void* data = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (bytes != m_bytes) {
                for (void* buffer : m_free)
                    std::free(buffer);
                m_free.clear();
                m_bytes = bytes;
            }
            if (!m_free.empty()) {
                data = m_free.back();
                m_free.pop_back();
            }
        }
        if (!data)
            data = std::aligned_alloc(64, bytes);
        if (!data)
            return {};
        auto* loan = new Loan{shared_from_this(), data, bytes};
        return QImage(static_cast<uchar*>(data), size.width(), size.height(), stride, kSoftwareImageFormat, &Loan::giveBack, loan);
    }

    ~FrameBufferPool()
    {
        for (void* buffer : m_free)
            std::free(buffer);
    }

private:
    struct Loan {
        std::shared_ptr<FrameBufferPool> pool;
        void* data;
        size_t bytes;

        static void giveBack(void* info)
        {
            auto* loan = static_cast<Loan*>(info);
            loan->pool->take(loan->data, loan->bytes);
            delete loan;
        }
    };

    void take(void* data, size_t bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            if (bytes == m_bytes && m_free.size() < kKept) {
                m_free.push_back(data);
                return;
            }
        }
        std::free(data);
    }

    std::mutex m_mutex;
    size_t m_bytes = 0;
    std::vector<void*> m_free;
};

bool renderSoftware(mpv_render_context* render, QImage& image)
{
    int size[2] = {image.width(), image.height()};
    char format[sizeof kSoftwareFormat];
    std::memcpy(format, kSoftwareFormat, sizeof kSoftwareFormat);
    size_t stride = size_t(image.bytesPerLine());
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size}, {MPV_RENDER_PARAM_SW_FORMAT, format}, {MPV_RENDER_PARAM_SW_STRIDE, &stride},
        {MPV_RENDER_PARAM_SW_POINTER, image.bits()}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(render, params) < 0)
        return false;
    mpv_render_context_report_swap(render);
    return true;
}

} // namespace

// The way back from a worker preparing an item: the player, while it lives (the worker
// posts under the lock, the player's end clears it under the lock).
struct Player::Mailbox {
    std::mutex mutex;
    Player* player = nullptr;
};

// The software renderer draws on a thread of its own: mpv's note of a new frame wakes it,
// it renders into an image of the target size, turns it, and posts it to the player. Only
// this thread calls the render context, but for an on-demand frame, under `renderMutex`.
// One frame at a time is on its way to the player: the next is drawn once the player has
// taken it. A main thread that falls behind then gets the frame that is due when it comes
// back, while the engine drops the ones it could not show in time, instead of a queue of
// pictures drawn in full and painted one after the other, late.
struct Player::SoftwareRenderer {
    mpv_render_context* render = nullptr;
    std::shared_ptr<Mailbox> mailbox;
    std::shared_ptr<FrameBufferPool> buffers = std::make_shared<FrameBufferPool>();
    std::mutex mutex; // guards the fields up to the thread
    std::condition_variable wake;
    bool pending = false;
    bool force = false;
    bool stop = false;
    bool inFlight = false; // a frame posted that the player has not taken yet
    // Whether mpv has handed over a picture since the item was loaded. Until it has, a
    // redraw (a new size) would draw the empty black of an output without a picture, and
    // that would be shown as the item's first frame.
    bool hasPicture = false;
    QSize target;     // unturned; empty: frames are drawn and dropped
    int rotation = 0;
    quint64 item = 0; // the started item whose frames are shown (0: none)
    std::mutex renderMutex;
    std::thread thread;

    static void update(void* self)
    {
        auto* renderer = static_cast<SoftwareRenderer*>(self);
        std::lock_guard lock(renderer->mutex);
        renderer->pending = true;
        renderer->wake.notify_one();
    }

    void run()
    {
        for (;;) {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return (pending && !inFlight) || force || stop; });
            if (stop)
                return;
            const bool forced = force;
            pending = force = false;
            const QSize size = target;
            const int turn = rotation;
            const quint64 shownItem = item;
            lock.unlock();
            QImage image;
            {
                std::lock_guard rendering(renderMutex);
                const bool fresh = mpv_render_context_update(render) & MPV_RENDER_UPDATE_FRAME;
                {
                    std::lock_guard noting(mutex);
                    if (fresh)
                        hasPicture = true;
                    if (!fresh && (!forced || !hasPicture))
                        continue;
                }
                // mpv hands over no further picture until this one is drawn: a picture
                // nobody shows yet is drawn small and dropped.
                const bool shown = shownItem != 0 && !size.isEmpty();
                image = shown ? buffers->image(size) : alignedImage(QSize(16, 16));
                if (image.isNull() || !renderSoftware(render, image) || !shown)
                    continue;
            }
            if (turn)
                image = image.transformed(QTransform().rotate(turn));
            std::lock_guard posting(mailbox->mutex);
            if (Player* player = mailbox->player) {
                {
                    std::lock_guard flight(mutex);
                    inFlight = true;
                }
                QMetaObject::invokeMethod(player, [player, image = std::move(image), shownItem] { player->softwareFrameRendered(image, shownItem); },
                    Qt::QueuedConnection);
            }
        }
    }

    // Stops the thread (after the frame it renders) and frees the context.
    void end()
    {
        mpv_render_context_set_update_callback(render, nullptr, nullptr);
        {
            std::lock_guard lock(mutex);
            stop = true;
            wake.notify_one();
        }
        if (thread.joinable())
            thread.join();
        mpv_render_context_free(render);
        render = nullptr;
    }
};

namespace {

// Where engines are ended: freeing a renderer waits until the core has brought its video
// down, and ending the core waits for its threads (together a good part of a second).
QThreadPool& teardownPool()
{
    // At exit the program waits a while for the engines still being ended (one stuck in a
    // read of a mount that no longer answers does not hold it up for good).
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(2);
        if (QCoreApplication::instance())
            qAddPostRoutine([] { teardownPool().waitForDone(5000); });
        return p;
    }();
    return *pool;
}

std::atomic<int> g_teardownsUnderWay{0};

void endEngine(mpv_handle* mpv)
{
    teardownPool().start([mpv] {
        mpv_terminate_destroy(mpv);
        --g_teardownsUnderWay;
    });
}

std::atomic<int> g_openGLRenderers{0};

std::function<void(void*)>& openGLRendererFreedHook()
{
    static std::function<void(void*)> hook;
    return hook;
}

// How long a GL renderer being let go waits for the engine's video to come down before it
// is freed all the same (the free then waits for it).
constexpr int kRetireTimeoutMs = 3000;

} // namespace

// A GL renderer being let go. Freeing it while the engine's video output is up brings that
// output down and waits for it, and the output waits for each picture it has handed over
// to be drawn (up to 200 ms each) while nobody draws: several hundred ms of the window's
// time. So the engine is asked, without waiting, to bring its video down (a player let go
// stops altogether); pictures handed over meanwhile are taken without being drawn; once no
// video output is left (a client of the engine's own watches "current-vo"), the renderer is
// freed with its context current, and then only deletes its GL objects. A player let go
// meanwhile leaves its engine here, ended after the free. All of it runs on the main
// thread; mpv's callbacks only post there.
struct Player::RetiringRenderer {
    quint64 id = 0;
    mpv_render_context* render = nullptr;
    mpv_handle* watcher = nullptr;
    mpv_handle* engine = nullptr; // the engine, once its player has gone
    void* context = nullptr;
    std::function<bool()> makeCurrent;
    Player* player = nullptr; // the player still using the engine, if any
    bool videoDown = false;
    std::atomic<bool> eventsPosted{false};
    std::atomic<bool> framePosted{false};

    // Never destroyed: mpv's callbacks may still reach one at exit.
    static std::map<quint64, std::shared_ptr<RetiringRenderer>>& all()
    {
        static auto* renderers = new std::map<quint64, std::shared_ptr<RetiringRenderer>>;
        return *renderers;
    }

    static std::shared_ptr<RetiringRenderer> find(quint64 id)
    {
        const auto it = all().find(id);
        return it == all().end() ? nullptr : it->second;
    }

    // Lets the renderer go; answers its number, or 0 when it was freed at once (no client
    // could be made to watch the engine).
    static quint64 begin(Player* player, mpv_handle* mpv, mpv_render_context* render, void* context, std::function<bool()> makeCurrent, bool stopEngine)
    {
        static quint64 serial = 0;
        auto retiring = std::make_shared<RetiringRenderer>();
        retiring->render = render;
        retiring->context = context;
        retiring->makeCurrent = std::move(makeCurrent);
        retiring->player = player;
        retiring->watcher = mpv_create_client(mpv, nullptr);
        if (!retiring->watcher || !QCoreApplication::instance()) {
            if (retiring->watcher)
                mpv_destroy(retiring->watcher);
            retiring->watcher = nullptr;
            retiring->free();
            return 0;
        }
        retiring->id = ++serial;
        all()[retiring->id] = retiring;
        mpv_observe_property(retiring->watcher, 0, "current-vo", MPV_FORMAT_STRING);
        if (stopEngine) {
            const char* stop[] = {"stop", nullptr};
            mpv_command_async(retiring->watcher, 0, stop);
        } else {
            const char* no = "no";
            mpv_set_property_async(retiring->watcher, 0, "vid", MPV_FORMAT_STRING, &no);
        }
        mpv_set_wakeup_callback(retiring->watcher, &RetiringRenderer::wakeup, retiring.get());
        mpv_render_context_set_update_callback(render, &RetiringRenderer::update, retiring.get());
        const quint64 id = retiring->id;
        QTimer::singleShot(kRetireTimeoutMs, QCoreApplication::instance(), [id] {
            if (find(id)) {
                qWarning("player: the engine's video did not come down in time: its GL renderer is freed all the same");
                finish(id);
            }
        });
        return id;
    }

    // Called on mpv's threads.
    static void wakeup(void* self)
    {
        auto* retiring = static_cast<RetiringRenderer*>(self);
        if (!retiring->eventsPosted.exchange(true))
            post(retiring->id, [](RetiringRenderer& r) {
                r.eventsPosted = false;
                r.takeEvents(0);
                if (r.videoDown)
                    finish(r.id);
            });
    }

    static void update(void* self)
    {
        auto* retiring = static_cast<RetiringRenderer*>(self);
        if (!retiring->framePosted.exchange(true))
            post(retiring->id, [](RetiringRenderer& r) {
                r.framePosted = false;
                r.takeFrame();
            });
    }

    static void post(quint64 id, void (*what)(RetiringRenderer&))
    {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [id, what] {
                if (const std::shared_ptr<RetiringRenderer> retiring = find(id))
                    what(*retiring);
            }, Qt::QueuedConnection);
    }

    // Reads what the watcher was told, waiting up to `timeout` seconds for the first news.
    void takeEvents(double timeout)
    {
        for (;; timeout = 0) {
            const mpv_event* event = mpv_wait_event(watcher, timeout);
            if (!event || event->event_id == MPV_EVENT_NONE)
                return;
            if (event->event_id == MPV_EVENT_SHUTDOWN)
                videoDown = true;
            else if (event->event_id == MPV_EVENT_PROPERTY_CHANGE && static_cast<mpv_event_property*>(event->data)->format == MPV_FORMAT_NONE)
                videoDown = true;
        }
    }

    // Takes the picture the video output hands over without drawing it, so that the output
    // does not wait for it.
    void takeFrame()
    {
        if (!makeCurrent || !makeCurrent())
            return;
        if (!(mpv_render_context_update(render) & MPV_RENDER_UPDATE_FRAME))
            return;
        int skip = 1;
        int block = 0;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &skip}, {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
            {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(render, params);
        mpv_render_context_report_swap(render);
    }

    // Frees the renderer with its context current. Answers false, leaving it, when the
    // context cannot be made current: freed without it, it would delete GL objects of
    // whatever context is current, or crash.
    bool free()
    {
        if (!makeCurrent || !makeCurrent()) {
            qWarning("player: a GL renderer is left behind: its context has gone");
            return false;
        }
        if (openGLRendererFreedHook())
            openGLRendererFreedHook()(context);
        mpv_render_context_free(render);
        render = nullptr;
        --g_openGLRenderers;
        return true;
    }

    // Frees the renderer now, once the engine's video is down (waiting for it here a
    // while, taking its pictures). A player still using the engine takes the software
    // renderer when `softwareAfter`; an engine whose player has gone is ended.
    static void finish(quint64 id, bool softwareAfter = true)
    {
        const std::shared_ptr<RetiringRenderer> retiring = find(id);
        if (!retiring)
            return;
        all().erase(id);
        mpv_set_wakeup_callback(retiring->watcher, nullptr, nullptr);
        mpv_render_context_set_update_callback(retiring->render, nullptr, nullptr);
        QElapsedTimer waited;
        waited.start();
        while (!retiring->videoDown && waited.elapsed() < kRetireTimeoutMs) {
            retiring->takeFrame();
            retiring->takeEvents(0.005);
        }
        const bool freed = retiring->free();
        mpv_destroy(retiring->watcher);
        if (Player* player = retiring->player) {
            player->m_retiringRenderer = 0;
            if (softwareAfter)
                player->openGLRendererRetired();
        } else if (retiring->engine && freed) {
            endEngine(retiring->engine);
        }
    }
};

Player::~Player()
{
    if (m_mailbox) {
        std::lock_guard lock(m_mailbox->mutex);
        m_mailbox->player = nullptr;
    }
    if (!m_mpv)
        return;
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    ++g_teardownsUnderWay;
    // A GL renderer is let go (the engine stopped), and the engine is ended once it is
    // freed; the software one (its thread) ends with the engine on a worker. Nothing of
    // this object is reached from either.
    if (m_usesOpenGL) {
        retireOpenGLRenderer(true);
    } else if (m_retiringRenderer) {
        const char* stop[] = {"stop", nullptr};
        mpv_command_async(m_mpv, 0, stop);
    }
    mpv_handle* mpv = std::exchange(m_mpv, nullptr);
    if (const std::shared_ptr<RetiringRenderer> retiring = RetiringRenderer::find(m_retiringRenderer)) {
        retiring->player = nullptr;
        retiring->engine = mpv;
        return;
    }
    std::shared_ptr<SoftwareRenderer> software = std::move(m_software);
    m_render = nullptr;
    teardownPool().start([mpv, software] {
        if (software)
            software->end();
        mpv_terminate_destroy(mpv);
        --g_teardownsUnderWay;
    });
}

int Player::enginesBeingEnded()
{
    return g_teardownsUnderWay;
}

// Called on mpv's threads: they only post to the main thread, once until it has run.
void Player::wakeup(void* self)
{
    auto* player = static_cast<Player*>(self);
    if (!player->m_eventsPosted.exchange(true))
        QMetaObject::invokeMethod(player, &Player::handleEvents, Qt::QueuedConnection);
}

void Player::renderUpdate(void* self)
{
    auto* player = static_cast<Player*>(self);
    if (!player->m_renderPosted.exchange(true))
        QMetaObject::invokeMethod(player, &Player::handleRenderUpdate, Qt::QueuedConnection);
}

bool Player::createSoftwareRenderContext()
{
    char apiType[] = MPV_RENDER_API_TYPE_SW;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context* render = nullptr;
    if (mpv_render_context_create(&render, m_mpv, params) < 0)
        return false;
    m_usesOpenGL = false;
    m_render = render;
    if (!m_mailbox) {
        m_mailbox = std::make_shared<Mailbox>();
        m_mailbox->player = this;
    }
    m_software = std::make_shared<SoftwareRenderer>();
    m_software->render = render;
    m_software->mailbox = m_mailbox;
    m_software->item = m_itemStarted ? m_loadSerial : 0;
    // A renderer taking over from another (OpenGL) redraws the picture the engine holds.
    m_software->hasPicture = m_itemStarted && m_renderedFrames > 0;
    mpv_render_context_set_update_callback(render, &SoftwareRenderer::update, m_software.get());
    m_software->thread = std::thread([renderer = m_software.get()] { renderer->run(); });
    updateSoftwareTarget();
    return true;
}

// The size the software renderer draws at: the target asked for (the picture's own size
// when none), never larger than the picture itself (the view scales it up), unturned.
// A new size draws the picture shown again.
void Player::updateSoftwareTarget()
{
    if (!m_software)
        return;
    QSize size = m_softwareTargetSize.isEmpty() ? m_presentationSize : m_softwareTargetSize;
    if (!m_presentationSize.isEmpty() && (size.width() > m_presentationSize.width() || size.height() > m_presentationSize.height()))
        size = size.scaled(m_presentationSize, Qt::KeepAspectRatio);
    if (m_softwareRotation % 180 == 90)
        size.transpose();
    std::lock_guard lock(m_software->mutex);
    const bool changed = m_software->target != size || m_software->rotation != m_softwareRotation;
    m_software->target = size;
    m_software->rotation = m_softwareRotation;
    if (changed && m_itemStarted && !size.isEmpty()) {
        m_software->force = true;
        m_software->wake.notify_one();
    }
}

void Player::requestSoftwareFrame()
{
    if (!m_software)
        return;
    std::lock_guard lock(m_software->mutex);
    m_software->force = true;
    m_software->wake.notify_one();
}

void Player::softwareFrameRendered(const QImage& image, quint64 item)
{
    // The next frame may be drawn. (A frame posted by a renderer since replaced lets the
    // current one draw a frame early: at most two are then on their way.)
    if (m_software) {
        std::lock_guard lock(m_software->mutex);
        m_software->inFlight = false;
        if (m_software->pending)
            m_software->wake.notify_one();
    }
    // A picture of the item before, or of a renderer since replaced.
    if (item != m_loadSerial || !m_itemStarted || m_usesOpenGL)
        return;
    m_frame = image;
    ++m_renderedFrames;
    frameShown();
}

// Ends the software renderer (the GL one is let go by `retireOpenGLRenderer`).
void Player::freeRenderContext()
{
    if (m_software) {
        const std::shared_ptr<SoftwareRenderer> software = std::move(m_software);
        software->end();
        m_render = nullptr;
    }
}

void Player::retireOpenGLRenderer(bool stopEngine)
{
    if (!m_render || !m_usesOpenGL)
        return;
    mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
    mpv_render_context* render = std::exchange(m_render, nullptr);
    m_usesOpenGL = false;
    void* context = std::exchange(m_glContext, nullptr);
    std::function<bool()> makeCurrent = std::move(m_makeGLContextCurrent);
    m_makeGLContextCurrent = nullptr;
    m_retiringRenderer = RetiringRenderer::begin(stopEngine ? nullptr : this, m_mpv, render, context, std::move(makeCurrent), stopEngine);
    if (m_retiringRenderer && !stopEngine)
        m_videoTurnedOff = true;
}

// The GL renderer let go by `useSoftware` is freed: the software one takes over.
void Player::openGLRendererRetired()
{
    createSoftwareRenderContext();
    reselectVideo();
}

void Player::endOpenGLRenderersOf(void* context)
{
    std::vector<quint64> ids;
    for (const auto& [id, retiring] : RetiringRenderer::all())
        if (retiring->context == context)
            ids.push_back(id);
    for (const quint64 id : ids)
        RetiringRenderer::finish(id);
}

int Player::openGLRenderers()
{
    return g_openGLRenderers;
}

void Player::setOpenGLRendererFreedHookForTesting(std::function<void(void* context)> hook)
{
    openGLRendererFreedHook() = std::move(hook);
}

// The video output of a loaded item is bound to the renderer it started with: selecting
// the picture again brings it up on the new one. A picture turned off while a renderer
// was let go is turned on again.
void Player::reselectVideo()
{
    if (m_videoTurnedOff) {
        m_videoTurnedOff = false;
        const char* automatic = "auto";
        mpv_set_property_async(m_mpv, 0, "vid", MPV_FORMAT_STRING, &automatic);
    } else if (m_asset && m_hasVideo) {
        mpv_set_property_string(m_mpv, "vid", "no");
        mpv_set_property_string(m_mpv, "vid", "auto");
    }
}

bool Player::useOpenGL(GetProcAddress getProcAddress, void* context, std::function<bool()> makeCurrent)
{
    if (!m_mpv || !getProcAddress || !makeCurrent)
        return false;
    if (m_usesOpenGL && m_glContext == context)
        return true;
    // The engine takes one renderer at a time: another context's renderer is freed now
    // (with that context current), and this context is made current again for the new one.
    const bool hadOtherContext = m_usesOpenGL || m_retiringRenderer;
    retireOpenGLRenderer(false);
    if (m_retiringRenderer)
        RetiringRenderer::finish(m_retiringRenderer, false);
    freeRenderContext();
    if (hadOtherContext && !makeCurrent()) {
        openGLRendererRetired();
        return false;
    }
    mpv_opengl_init_params init{getProcAddress, context};
    char apiType[] = MPV_RENDER_API_TYPE_OPENGL;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType}, {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &init}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    bool ok = mpv_render_context_create(&m_render, m_mpv, params) >= 0;
    if (ok) {
        ++g_openGLRenderers;
        m_usesOpenGL = true;
        m_glContext = context;
        m_makeGLContextCurrent = std::move(makeCurrent);
        // mpv's GL renderer turns the picture as the file asks.
        m_softwareRotation = 0;
        const char* fileRotation = "0";
        mpv_set_property_async(m_mpv, 0, "video-rotate", MPV_FORMAT_STRING, &fileRotation);
        mpv_render_context_set_update_callback(m_render, &Player::renderUpdate, this);
    } else {
        m_render = nullptr;
        createSoftwareRenderContext();
    }
    m_frame = {};
    reselectVideo();
    return ok;
}

void Player::useSoftware()
{
    if (!m_mpv || !m_usesOpenGL)
        return;
    retireOpenGLRenderer(false);
    const char* no = "no";
    mpv_set_property_async(m_mpv, 0, "video-rotate", MPV_FORMAT_STRING, &no);
    m_softwareRotation = m_fileRotation;
    // Freed at once (nothing could watch the engine): the software renderer takes over now.
    if (!m_retiringRenderer)
        openGLRendererRetired();
}

void Player::renderOpenGL(int framebuffer, int width, int height, bool flipY)
{
    if (!m_render || !m_usesOpenGL)
        return;
    mpv_opengl_fbo fbo{framebuffer, width, height, 0};
    int flip = flipY ? 1 : 0;
    // The frame is drawn when it is due (mpv's update callback says so): the main thread
    // never waits here for its display time.
    int block = 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo}, {MPV_RENDER_PARAM_FLIP_Y, &flip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(m_render, params);
    mpv_render_context_report_swap(m_render);
}


void Player::setSoftwareTargetSize(QSize size)
{
    m_softwareTargetSize = size;
    updateSoftwareTarget();
}

// The OpenGL renderer's note of a new frame (the software renderer's thread takes its own).
void Player::handleRenderUpdate()
{
    m_renderPosted = false;
    if (!m_render || !m_usesOpenGL)
        return;
    // The news mpv sent before this picture first: the start of the item may be among it
    // (the note of a picture can overtake the events that came before it).
    if (!m_itemStarted) {
        QPointer<Player> self(this);
        handleEvents();
        if (!self || !m_render || !m_usesOpenGL)
            return;
    }
    if (!(mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME))
        return;
    // A picture of the item before (a late redraw) is not this item's first frame. It is
    // drawn all the same: mpv hands over no further picture until this one is drawn.
    if (!m_itemStarted) {
        Q_EMIT frameChanged();
        return;
    }
    showFrame();
}

// Shows the frame that is due: the GL view draws it when told; the software renderer
// draws it on its thread and posts it.
void Player::showFrame()
{
    if (!m_usesOpenGL) {
        requestSoftwareFrame();
        return;
    }
    ++m_renderedFrames;
    frameShown();
}

void Player::frameShown()
{
    seekWhenStarted();
    QPointer<Player> self(this);
    Q_EMIT frameChanged();
    if (self && m_seekAwaitsFrame && m_pendingSeeks == 0) {
        m_seekAwaitsFrame = false;
        finishSeek();
    }
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
    if (m_software) {
        std::lock_guard lock(m_software->mutex);
        m_software->item = 0;
        m_software->hasPicture = false;
    }
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
    if (m_software) {
        std::lock_guard lock(m_software->mutex);
        m_software->item = m_loadSerial;
    }
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
            if ((event->reply_userdata & kLoadReply) && (event->reply_userdata & ~kLoadReply) == m_loadSerial) {
                // The load's playlist entry: its start begins the item (mpv answers the
                // command before it starts the file, but nothing relies on that).
                const auto* reply = static_cast<mpv_event_command*>(event->data);
                if (event->error >= 0 && reply)
                    m_playlistEntryID = qint64(nodeNumber(mapValue(reply->result, "playlist_entry_id"), -1));
                if (m_playlistEntryID < 0) {
                    if (m_status == PlayerItemStatus::Unknown)
                        failItem(event->error < 0 ? QString::fromUtf8(mpv_error_string(event->error)) : QStringLiteral("the file cannot be played"));
                    break;
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
            if (!m_started) {
                // The item's start can come before the answers that make it ready: it
                // counts once they are there (itemLoaded).
                m_restartedBeforeReady = m_itemStarted && m_status == PlayerItemStatus::Unknown;
                if (m_status == PlayerItemStatus::ReadyToPlay)
                    startPlayback();
                break;
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
                        break;
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
            break;
        case MPV_EVENT_SHUTDOWN:
            return;
        default:
            break;
        }
    }
}

} // namespace platform::media
