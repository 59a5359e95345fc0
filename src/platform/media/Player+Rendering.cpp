// The player's pictures and its end: the software renderer (a thread of its own that draws
// into pooled images), the OpenGL renderer and its letting go, the frames handed to the
// view, and the ending of the engine.
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

// The item whose frames the software renderer draws (0: none, with its picture dropped).
void Player::setSoftwareRendererItem(quint64 item, bool dropPicture)
{
    if (!m_software)
        return;
    std::lock_guard lock(m_software->mutex);
    m_software->item = item;
    if (dropPicture)
        m_software->hasPicture = false;
}

} // namespace platform::media
