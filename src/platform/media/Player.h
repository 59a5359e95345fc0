// The movie player: one libmpv core per player. An asset is handed over as the file itself
// or, for a composition (trims, cuts, sequences), as an `edl://` timeline of its segments,
// so that the player's time is the composition's time. mpv's property changes and events
// arrive on the main thread as this object's signals; its callbacks only post there. The
// picture is rendered through mpv's render API: its software renderer into an image (the
// default, and all that a machine without OpenGL has), or OpenGL into the framebuffer of a
// widget that has a context. The player is used on the main thread; the software renderer
// draws on a thread of its own, items are prepared on workers and engines are ended there.
#pragma once

#include "platform/media/Asset.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtCore/QTimer>
#include <QtGui/QImage>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

struct mpv_event;
struct mpv_handle;
struct mpv_render_context;

namespace platform::media {

enum class PlayerItemStatus { Unknown, ReadyToPlay, Failed };
// How much a message of the engine matters.
enum class EngineMessageLevel { Error, Warning, Information };
enum class TimeControlStatus { Paused, WaitingToPlayAtSpecifiedRate, Playing };

struct PlayerChapter {
    double time = 0;
    QString title;
};

class Player : public QObject {
    Q_OBJECT
public:
    // The audio output of players made from now on; empty (the default) lets mpv pick the
    // desktop's sound server, or none when the machine has no sound server and no sound
    // card. Tests and benchmarks use "null".
    static void setDefaultAudioOutput(const QString& audioOutput);

    explicit Player(QObject* parent = nullptr);
    // Lets go at once: the engine is ended on a worker (its software renderer with it).
    ~Player() override;
    // How many engines of players let go are still being ended.
    static int enginesBeingEnded();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // What mpv is given for the asset: the local path of a file asset, an `edl://`
    // timeline of a composition's segments; empty when there is nothing to play.
    static QString loadURLForAsset(const AssetPtr& asset);

    // Replaces what plays (paused, at time 0); the status is Unknown until the item is
    // ready or has failed. Nothing unloads the player. Only regular files are played (a
    // named pipe or a device fails at once), and an item that is not ready within ten
    // seconds fails.
    void replaceCurrentItemWithAsset(const AssetPtr& asset);
    // The same with an asset still to be built: `build` runs on a worker (with the checks
    // of the files, so the window never waits on a file), `built` gets the asset on the
    // main thread before it is loaded, unless another item has come meanwhile. Until
    // then `currentAsset` is nothing.
    void replaceCurrentItemWithAssetBuiltBy(std::function<AssetPtr()> build, std::function<void(const AssetPtr&)> built);
    // How long an item may take to get ready (negative: the usual ten seconds).
    static void setReadyTimeoutForTesting(int milliseconds);
    AssetPtr currentAsset() const { return m_asset; }
    PlayerItemStatus status() const { return m_status; }
    QString error() const { return m_error; }
    // The item failed because it was not ready in time: its file may sit on a disk or
    // server that does not answer, where looking at it again would hang.
    bool didTimeOut() const { return m_timedOut; }
    bool hasVideo() const { return m_hasVideo; }
    bool hasAudio() const { return m_hasAudio; }

    // Transport. The rate is 0 while paused, negative while playing backwards (pictures
    // only, by timed exact seeks: it stops at the start).
    void play();
    void pause();
    float rate() const;
    void setRate(float rate);
    TimeControlStatus timeControlStatus() const;
    bool canPlayFastForward() const { return m_status == PlayerItemStatus::ReadyToPlay; }
    bool canPlayReverse() const { return m_status == PlayerItemStatus::ReadyToPlay && m_hasVideo; }
    bool canPlayFastReverse() const { return canPlayReverse(); }

    // Times in seconds of the item (the composition's time for a composition).
    double currentTime() const { return m_currentTime; }
    double duration() const { return m_duration; }
    // Seeks to the time, exactly (the frame shown at that time) or to a nearby key frame.
    // A seek asked for before the item is ready happens when it is.
    void seekToTime(double seconds, bool exact = true);
    bool isSeeking() const { return m_pendingSeeks > 0 || m_seekAwaitsFrame || m_seekWhenReady >= 0; }
    // Steps by whole frames (negative: back), pausing; a sound steps by 1/24 s.
    void stepByFrames(int count);

    // Volume 0..1 and mute (each remembered apart).
    float volume() const { return m_volume; }
    void setVolume(float volume);
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);

    // The picture's display size (rotation applied), empty before the first frame.
    QSize presentationSize() const { return m_presentationSize; }
    const std::vector<PlayerChapter>& chapters() const { return m_chapters; }

    // ---- The picture
    // Software rendering (the default): each new frame is rendered on the renderer's thread
    // into an image of the target size (the presentation size when empty; never larger
    // than that, the view scales it up), kept as `currentFrame` when it arrives.
    void setSoftwareTargetSize(QSize size);
    QImage currentFrame() const { return m_frame; }
    // OpenGL: replaces the software renderer by one that draws into the context current
    // now (`context` is passed back to `getProcAddress`, which resolves GL functions).
    // Answers false (software stays) when mpv cannot use the context. mpv's GL renderer
    // must be freed with its context current: `makeCurrent` makes it current and answers
    // whether it is (false once the context has gone); it is called whenever the renderer
    // goes (another context taking the player, `useSoftware`, destruction) and while it
    // is being let go. Call `renderOpenGL` with the context current, on frameChanged.
    using GetProcAddress = void* (*)(void* context, const char* name);
    bool useOpenGL(GetProcAddress getProcAddress, void* context, std::function<bool()> makeCurrent);
    // Back to the software renderer. The GL renderer is let go without waiting: the
    // engine brings its video down meanwhile, and the software renderer takes over once
    // the GL one is freed (with its context current). The same happens when a player
    // drawing with OpenGL is destroyed, and its engine is ended after that free.
    void useSoftware();
    // Frees now, with the context current, the GL renderers drawing with `context` that are
    // still being let go: call it before the context goes.
    static void endOpenGLRenderersOf(void* context);
    // How many GL renderers exist (in use or being let go).
    static int openGLRenderers();
    // Called with each GL renderer's context right before the renderer is freed.
    static void setOpenGLRendererFreedHookForTesting(std::function<void(void* context)> hook);
    void renderOpenGL(int framebuffer, int width, int height, bool flipY);
    bool usesOpenGL() const { return m_usesOpenGL; }
    // The context the GL renderer draws with (what `useOpenGL` was given), else null.
    void* openGLContext() const { return m_usesOpenGL ? m_glContext : nullptr; }
    // Counts since the item was loaded: frames shown, and frames dropped by the output or
    // the decoder because they came late.
    qint64 renderedFrameCount() const { return m_renderedFrames; }
    qint64 droppedFrameCount() const;

Q_SIGNALS:
    void statusChanged(PlayerItemStatus status);
    void timeChanged(double seconds);
    void durationChanged(double seconds);
    void rateChanged(float rate);
    void volumeChanged();
    void presentationSizeChanged(QSize size);
    void chaptersChanged();
    // The item played to its end (once each time it gets there).
    void didPlayToEnd();
    // A seek has finished and the picture at the new time is shown.
    void seekCompleted();
    // A new picture is ready (software: `currentFrame`; OpenGL: time to repaint).
    void frameChanged();
    // A warning or error of the engine (its module, the text without the line end).
    void engineMessage(platform::media::EngineMessageLevel level, const QString& module, const QString& text);

private:
    void handleEvents();
    void handleRenderUpdate();
    void handlePropertyChange(unsigned long long id, int format, void* data);
    void handleCommandReply(const mpv_event* event);
    void handlePlaybackRestart();
    void setSoftwareRendererItem(quint64 item, bool dropPicture);
    struct Mailbox;
    struct PreparedItem;
    static PreparedItem prepareItem(const AssetPtr& asset);
    void beginItem(const AssetPtr& asset);
    void prepareOnWorker(std::function<AssetPtr()> build, std::function<void(const AssetPtr&)> built);
    void loadPreparedItem(quint64 load, const PreparedItem& item, const std::function<void(const AssetPtr&)>& built);
    void startItem();
    void handleItemAnswer(quint64 query, int format, void* data);
    void itemLoaded();
    void startPlayback();
    void showFrame();
    void frameShown();
    struct SoftwareRenderer;
    void updateSoftwareTarget();
    void requestSoftwareFrame();
    void softwareFrameRendered(const QImage& image, quint64 item);
    void failItem(const QString& error);
    void setPaused(bool paused);
    void setEnginePaused(bool paused);
    void startReversing();
    void stopReversing();
    void stepBackwards();
    int reverseStepInterval() const;
    void seekEngine(double seconds, bool exact);
    double landedTime(double position) const;
    bool landedLate(double position) const;
    void finishSeek();
    void applySpeed(float rate);
    bool createSoftwareRenderContext();
    void freeRenderContext();
    struct RetiringRenderer;
    void retireOpenGLRenderer(bool stopEngine);
    void openGLRendererRetired();
    void reselectVideo();
    double frameStartTime(double seconds) const;
    bool hasStarted() const;
    void updatePresentationSize();
    void seekWhenStarted();
    static void wakeup(void* self);
    static void renderUpdate(void* self);

    mpv_handle* m_mpv = nullptr;
    std::shared_ptr<Mailbox> m_mailbox;
    mpv_render_context* m_render = nullptr;
    std::shared_ptr<SoftwareRenderer> m_software;
    bool m_usesOpenGL = false;
    void* m_glContext = nullptr;
    std::function<bool()> m_makeGLContextCurrent;
    // The GL renderer being let go (0: none): no other renderer can be made until it is
    // freed. Its picture was turned off meanwhile, to be turned on again after.
    quint64 m_retiringRenderer = 0;
    bool m_videoTurnedOff = false;
    std::atomic<bool> m_eventsPosted{false};
    std::atomic<bool> m_renderPosted{false};

    AssetPtr m_asset;
    PlayerItemStatus m_status = PlayerItemStatus::Unknown;
    QString m_error;
    bool m_timedOut = false;
    // The playlist entry of the item (from the load's answer), the entry mpv started and
    // loaded last, and whether the item's own start has come: what mpv says before that
    // belongs to the item before.
    long long m_playlistEntryID = -1;
    long long m_startedEntryID = -1;
    long long m_loadedEntryID = -1;
    bool m_itemStarted = false;
    quint64 m_loadSerial = 0;
    // The load number whose loaded item was asked of its tracks, duration and frame rate,
    // the answers come (bits), and what the track list says.
    quint64 m_itemQueried = 0;
    unsigned m_itemAnswers = 0;
    bool m_listedVideo = false;
    bool m_listedAudio = false;
    bool m_hasVideo = false;
    bool m_hasAudio = false;
    bool m_paused = true;
    bool m_eofReached = false;
    float m_speed = 1.0f;
    bool m_backward = false;
    double m_currentTime = 0;
    double m_duration = 0;
    float m_volume = 1.0f;
    bool m_muted = false;
    int m_pendingSeeks = 0;
    // Seeks are numbered; mpv answers each seek command once it has taken it. A restart
    // that comes before the newest seek was taken belongs to an older seek.
    quint64 m_seekSerial = 0;
    quint64 m_seekSerialTaken = 0;
    bool m_seekAwaitsFrame = false;
    bool m_started = false;
    bool m_restartedBeforeReady = false;
    // The time of the last exact seek (-1 after other seeks), the head start given to the
    // demuxer of a file whose seeks land late, and the late landing being retried.
    double m_exactSeekTarget = -1;
    double m_seekHeadStart = 0;
    double m_lateSeekTarget = -1;
    double m_lateSeekPosition = 0;
    // Playing backwards: the time the clock counts back from.
    bool m_reversing = false;
    double m_reverseFrom = 0;
    QElapsedTimer m_reverseClock;
    QTimer m_reverseTimer;
    double m_seekWhenReady = -1;
    bool m_seekWhenReadyExact = true;
    QSize m_presentationSize;
    QSize m_videoSize; // as mpv reports it, unturned in software
    std::vector<PlayerChapter> m_chapters;
    QSize m_softwareTargetSize;
    // The turn the file asks for: mpv's GL renderer applies it, the software renderer's
    // image is turned afterwards.
    int m_fileRotation = 0;
    int m_softwareRotation = 0;
    double m_frameRate = 0;
    QImage m_frame;
    qint64 m_renderedFrames = 0;
    qint64 m_framesAtSeek = 0;
};

} // namespace platform::media
