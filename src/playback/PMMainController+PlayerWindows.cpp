// The player's windows as the controller runs them. The one movie view moves between the
// dedicated player window, the main window's player container and the presentation window;
// its container holds it with the playback controls, either as a fixed band below or above
// the movie or as a floating bezel over it that fades when the pointer rests. The
// controller sizes the windows to the movie, keeps their titles, the aspect-ratio lock and
// its read-out, and answers their resizing, zooming and closing.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Format.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMOverlayWindows.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackController.h"
#include "playback/PMPlaybackControls.h"
#include "playback/PMPlayerWindowGeometry.h"
#include "playback/PMPlayerWindows.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMActionButtonTextField.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtCore/QDateTime>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtGui/QAction>
#include <QtWidgets/QSlider>
#include <QtGui/QShortcut>
#include <QtGui/QKeySequence>
#include <QtCore/QPropertyAnimation>
#include <QtGui/QMouseEvent>

#include <cmath>
#include <limits>

using platform::media::Player;
using platform::media::TimeControlStatus;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

constexpr double kEpsilon = 1.1920928955078125e-07;

// Every pointer move in the program's windows, once each (at the window it happens in).
class PointerMoves : public QObject {
public:
    PointerMoves(QObject* parent, std::function<void(QPoint)> moved) : QObject(parent), m_moved(std::move(moved)) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove && watched->isWindowType())
            m_moved(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return false;
    }

private:
    std::function<void(QPoint)> m_moved;
};

// The movie view, its controls and the windows it moves between.
class PlayerWindows : public QObject, public PMMovieTimeSliderDelegate {
public:
    PlayerWindows(PMMainController& c) : QObject(&c), m_c(c)
    {
        m_hideTimer.setSingleShot(true);
        QObject::connect(&m_hideTimer, &QTimer::timeout, this, [this] { m_c.hidePlaybackControlWindow(); });
        m_liveResizeTimer.setSingleShot(true);
        m_liveResizeTimer.setInterval(150);
        QObject::connect(&m_liveResizeTimer, &QTimer::timeout, this, [this] { applyLockedSize(); });
        // Pointer movement anywhere brings the hovering controls back as far as "Hover
        // Playback Controls Priority" allows: every move reaches the program's windows.
        if (qApp)
            qApp->installEventFilter(new PointerMoves(this, [this](QPoint point) {
                if (movieView && floatingControls)
                    m_c.showWindowChromeAndPlaybackControlsByFadingIn(true, &point);
            }));
    }

    QString alternateSliderMinimumMessage() override { return m_c.alternateSliderMinimumMessage(); }
    QString alternateSliderMaximumMessage() override { return m_c.alternateSliderMaximumMessage(); }
    QMenu* menuForSlider(QWidget* slider) override { return m_c.playbackController().menuForSlider(slider); }

    // The controls mode of the current context: 0 hovering, -1 a band below, other above.
    int controlsMode() const
    {
        return int(settings().integerForKey(m_c._isPresenting ? prefs::keys::PresentationPlaybackControls
                                                              : prefs::keys::WindowPlaybackControls));
    }
    bool hasCurrentMovie() const { return !m_c._currentMovieRepresentation.isNull(); }
    bool isStatic() const { return controlsMode() != 0 && hasCurrentMovie() && movieView->parentWidget(); }
    QWidget* container() const { return movieView->parentWidget(); }

    // The dedicated window: its footer at the bottom, the container above it.
    void layoutDedicatedWindow()
    {
        if (!dedicated)
            return;
        const int footer = dedicated->footerView() && !dedicated->footerView()->isHidden() ? dedicated->footerView()->height() : 0;
        const int W = dedicated->width(), H = dedicated->height();
        if (dedicated->footerView())
            dedicated->footerView()->setGeometry(0, H - footer, W, footer);
        // The program's menus at the top (not in full screen, where the movie has it all).
        int top = 0;
        if (auto* bar = dedicated->findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly)) {
            bar->setVisible(!dedicated->isFullScreen());
            if (!bar->isHidden()) {
                top = std::max(0, bar->heightForWidth(W));
                if (top == 0)
                    top = bar->sizeHint().height();
                bar->setGeometry(0, 0, W, top);
            }
        }
        dedicated->playerContainer()->setGeometry(0, top, W, std::max(0, H - footer - top));
    }

    // The container holding the movie view: the band (when static) and the movie area.
    void layoutContainer()
    {
        QWidget* c = container();
        if (!c)
            return;
        // A hidden window gets its resize event only when shown: lay it out now.
        if (dedicated && c == dedicated->playerContainer())
            layoutDedicatedWindow();
        const int W = c->width(), H = c->height();
        const int mode = controlsMode();
        const int band = int(kPMPlaybackControlsBandHeight);
        QRect movieArea(0, 0, W, H);
        if (isStatic() && presentationWindow && c->window() == presentationWindow) {
            // Presenting, the picture may overflow the screen: the band keeps to the
            // screen's edge, where the picture's area leaves room for it.
            QWidget* host = presentationWindow;
            if (bandView->parentWidget() != host)
                bandView->setParent(host);
            bandView->setGeometry(0, mode == -1 ? host->height() - band : 0, host->width(), band);
            bandView->show();
            bandView->raise();
        } else if (isStatic() && H > band) {
            if (bandView->parentWidget() != c)
                bandView->setParent(c);
            if (mode == -1) {
                movieArea.setHeight(H - band);
                bandView->setGeometry(0, H - band, W, band);
            } else {
                movieArea.setTop(band);
                bandView->setGeometry(0, 0, W, band);
            }
            bandView->show();
            bandView->raise();
        } else {
            bandView->hide();
        }
        // The view cuts the picture to its visible area itself: it fills the movie area.
        if (movieView->geometry() != movieArea)
            movieView->setGeometry(movieArea);
    }

    // Moves the movie view (and its band) into the container; the floating controls ride
    // on the container's window from now on.
    void moveMovieViewInto(QWidget* c)
    {
        if (!c || container() == c)
            return;
        watch(c);
        watch(c->window());
        movieView->setParent(c);
        bandView->setParent(c);
        movieView->show();
        movieView->lower();
        attachFloatingControls(nullptr);
        layoutContainer();
        movieView->redisplay();
    }

    void attachFloatingControls(QWidget* parent)
    {
        if (floatingControls->parentWindow() == parent && (!parent || floatingControls->parentWidget() == parent))
            return;
        floatingControls->hide();
        floatingControls->setParent(parent, floatingControls->windowFlags());
        floatingControls->setParentWindow(parent);
    }

    void watch(QObject* object)
    {
        if (!object || m_watched.contains(object))
            return;
        m_watched.insert(object);
        object->installEventFilter(this);
        QObject::connect(object, &QObject::destroyed, this, [this, object] { m_watched.remove(object); });
    }

    // The hovering controls float only over a picture that can be seen: a window that
    // shows the grid where its player would be (the player's page hidden, or no movie
    // there yet) has none to float over.
    bool canFloatControls() const
    {
        QWidget* parent = floatingControls->parentWindow();
        return parent && parent->isVisible() && !floatingControls->isStatic() && movieView && movieView->window() == parent && movieView->isVisible();
    }

    void placeFloatingControls()
    {
        if (!canFloatControls()) {
            floatingControls->hide();
            return;
        }
        floatingControls->positionWithReferenceView(movieView, m_c._isPresenting);
    }

    // The hovering controls' fades (in towards the chosen opacity, out to nothing).
    QPropertyAnimation* fader()
    {
        if (!m_fade || m_fade->targetObject() != floatingControls.data()) {
            delete m_fade.data();
            m_fade = new QPropertyAnimation(floatingControls, "windowOpacity", floatingControls);
            m_fade->setDuration(250);
            QObject::connect(m_fade, &QPropertyAnimation::finished, floatingControls, [this] {
                // Faded out: closed (a fade in that followed has taken over meanwhile).
                if (floatingControls && m_fadingOut)
                    floatingControls->hide();
                m_fadingOut = false;
            });
        }
        return m_fade;
    }
    bool isFadingIn() const { return m_fade && m_fade->state() == QAbstractAnimation::Running && !m_fadingOut; }

    void showControls(bool fade)
    {
        m_hideTimer.stop();
        if (!canFloatControls()) {
            floatingControls->hide();
        } else {
            double opacity = settings().doubleForKey(prefs::keys::HoverPlaybackControlsOpacity);
            if (opacity < 0.2)
                opacity = 1.0;
            placeFloatingControls();
            const bool wasShown = floatingControls->isVisible() && !m_fadingOut;
            if (!fade) {
                if (m_fade)
                    m_fade->stop();
                m_fadingOut = false;
                floatingControls->setWindowOpacity(opacity);
            } else if (!isFadingIn()) {
                QPropertyAnimation* animation = fader();
                animation->stop();
                m_fadingOut = false;
                if (!wasShown && !floatingControls->isVisible())
                    floatingControls->setWindowOpacity(0.0);
                animation->setStartValue(floatingControls->windowOpacity());
                animation->setEndValue(opacity);
                animation->start();
            }
            floatingControls->show();
            floatingControls->raise();
        }
        if (controlsMode() == 0)
            m_hideTimer.start(PMWindowVanishInterval() * 1000);
    }

    void hideControls()
    {
        if (controlsMode() != 0)
            return;
        if (floatingControls->isVisible() && floatingControls->geometry().contains(QCursor::pos())) {
            m_hideTimer.start(PMWindowVanishInterval() * 1000);
            return;
        }
        if (floatingControls->isVisible() && floatingControls->windowOpacity() > 0) {
            QPropertyAnimation* animation = fader();
            animation->stop();
            m_fadingOut = true;
            animation->setStartValue(floatingControls->windowOpacity());
            animation->setEndValue(0.0);
            animation->start();
        } else {
            floatingControls->setWindowOpacity(0.0);
            floatingControls->hide();
        }
        m_c._playbackControlsAreVisible = false;
        if (QWidget* w = movieView->window(); w && w->isVisible() && w->geometry().contains(QCursor::pos()))
            movieView->setCursor(Qt::BlankCursor); // hidden until the pointer moves
    }

    void update()
    {
        const bool playing = m_c.isPlaying();
        const bool muted = m_c.volumeSlider.value < 0.01;
        PMMovieRepresentationPrototype* record = PMMovie(m_c._currentMovieRepresentation);
        const PMPlayerViewContent& v = m_c.playerViewContent();
        const bool still = record && (record->isConsideredStillImage() || (!v.moviePlayer && v.movieReplacingImage));
        const bool fast = PMPlaybackControlView::showsFastButtons(still, m_c._currentMovieIsPlayable,
                                                                   record ? double(record->durationIfCached(true)) : 0);
        for (PMPlaybackControlView* view : {bandView.data(), floatingControls->controlView()}) {
            view->setPlaying(playing);
            view->setMuted(muted);
            view->setShowsFastButtons(fast);
            view->setShowsVolume(!hasCurrentMovie() || m_c._currentMovieHasAudio || !v.moviePlayer);
            const QSignalBlocker blocker(view->volumeSlider());
            if (!view->volumeSlider()->isSliderDown())
                view->volumeSlider()->setValue(int(std::lround(m_c.volumeSlider.value * 1000)));
            view->timeSlider()->updateFromPlayer();
            view->playPauseSwitch()->setEnabled(hasCurrentMovie());
            view->presentationSwitch()->setEnabled(m_c._currentMovieHasVideo || m_c._isPresenting);
            view->setShowsPictureTools(hasCurrentMovie() && m_c._currentMovieHasVideo);
        }
        m_c.updatePresentationSwitch();
        m_c.updateAspectRatioLockSwitchPosition();
        // The movie's size becomes known once its first frame is there: the window follows.
        if (v.moviePlayer && !v.moviePlayer->presentationSize().isEmpty() && sizedFor != v.moviePlayer.get()) {
            sizedFor = v.moviePlayer.get();
            m_c.updatePlayerWindowFrameAfterForcingPresentation(false);
        }
    }

    // A live resize of a window with the lock on follows the picture's proportions once the
    // user lets go (the window manager decides the size while dragging).
    void scheduleLockedSize(QWidget* window)
    {
        if (m_applyingSize)
            return;
        m_resizedWindow = window;
        m_liveResizeTimer.start();
    }

    void applyLockedSize()
    {
        QWidget* window = m_resizedWindow;
        if (!window || !window->isVisible() || window->isFullScreen() || window->isMaximized())
            return;
        const QSizeF size = m_c.windowWillResize(window, QSizeF(window->size()));
        const QSize wanted(int(std::lround(size.width())), int(std::lround(size.height())));
        if (wanted != window->size() && !wanted.isEmpty()) {
            m_applyingSize = true;
            window->resize(wanted);
            m_applyingSize = false;
        }
    }

    QPointer<PMMovieView> movieView;
    QPointer<PMPlaybackControlView> bandView;
    QPointer<PMPlaybackControlWindow> floatingControls;
    QPointer<PMDedicatedPlayerWindow> dedicated;
    QPointer<PMFullScreenPlayerWindow> presentationWindow;
    QPointer<QWidget> presentationReturnContainer;
    bool m_applyingSize = false;
    // The player the window was last sized for: it is sized once per movie.
    const void* sizedFor = nullptr;
    QTimer m_hideTimer;
    QPointer<QPropertyAnimation> m_fade;
    bool m_fadingOut = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!movieView || !bandView || !floatingControls || parent() != &m_c)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::Resize:
            if (widget == dedicated)
                layoutDedicatedWindow();
            if (widget == container())
                layoutContainer();
            if (widget && widget->isWindow() && widget == movieView->window()) {
                m_c.windowDidResize(widget);
                // The window manager answering our own resize is no resize by the user.
                const bool byUser = QDateTime::currentMSecsSinceEpoch() - m_c._programmaticResizeMSecs > 500;
                if (byUser && !widget->isFullScreen() && !m_c._isPresenting && m_c._currentMovieHasVideo) {
                    scheduleLockedSize(widget);
                    m_c.updateAspectRatioWindow();
                }
            } else if (widget && widget->isWindow()) {
                m_c.windowDidResize(widget);
            }
            break;
        case QEvent::Move:
            if (widget && widget->isWindow())
                m_c.windowDidMove(widget);
            break;
        case QEvent::Show:
            if (widget == dedicated)
                layoutDedicatedWindow();
            if (widget == container() || (widget && widget == movieView->window()))
                layoutContainer();
            break;
        case QEvent::WindowStateChange:
            // Zooming (maximising) the player's window fits the movie to the screen instead.
            if (widget && widget->isWindow() && widget == movieView->window() && widget->isMaximized() && !m_c._isPresenting
                && widget != m_c._mainWindow.data()) {
                QTimer::singleShot(0, widget, [this, widget] {
                    widget->showNormal();
                    const QRect frame = PMGlobalFromBottomUp(m_c.windowWillUseStandardFrame(widget));
                    m_c._programmaticResizeMSecs = QDateTime::currentMSecsSinceEpoch();
                    widget->setGeometry(frame);
                    m_c.updatePlayerViewFrame();
                });
            }
            break;
        case QEvent::Hide:
            // The window or the place of the picture in it goes (the grid takes the
            // player's place): so do the controls floating over it.
            if (widget && (widget == floatingControls->parentWindow() || widget == container()))
                floatingControls->hide();
            // The movie ended or stopped while the user had closed the library window: it
            // comes back, so that the program is never left without a window.
            if (widget && widget == dedicated && m_c._mainWindow && !m_c._mainWindow->isVisible()
                && m_c._mainWindow->property(kPMLibraryWindowClosedProperty).toBool()) {
                QPointer<QWidget> library = m_c._mainWindow.data();
                QTimer::singleShot(0, this, [this, library] {
                    if (!library || library->isVisible() || !PMMainController::isLastVisibleWindow(nullptr))
                        return;
                    library->setProperty(kPMLibraryWindowClosedProperty, false);
                    Q_EMIT m_c.playbackController().showMainWindowRequested();
                });
            }
            break;
        case QEvent::Close:
            if (widget && widget->isWindow() && !m_c.windowShouldClose(widget)) {
                event->ignore();
                return true;
            }
            break;
        case QEvent::MouseMove:
        case QEvent::Enter:
            // Moving over the picture itself always brings the controls back; the priority
            // setting governs pointer movement elsewhere.
            if (watched == movieView) {
                movieView->unsetCursor();
                m_c.showWindowChromeAndPlaybackControlsByFadingIn(true, nullptr);
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    PMMainController& m_c;
    QSet<QObject*> m_watched;
    QTimer m_liveResizeTimer;
    QPointer<QWidget> m_resizedWindow;
};

// The controller's one set of player windows, while it lasts.
QPointer<QObject>& installedPlayerWindows()
{
    static QPointer<QObject> windows;
    return windows;
}

PlayerWindows* playerWindows(const PMMainController& c)
{
    QObject* windows = installedPlayerWindows().data();
    return windows && windows->parent() == &c ? static_cast<PlayerWindows*>(windows) : nullptr;
}

bool singleWindowMode()
{
    return settings().boolForKey(prefs::keys::SingleWindowMode);
}

// A window's frame, bottom-up, and giving it one (its decoration stays outside).
QRectF bottomUpFrameOf(const QWidget* window)
{
    return PMBottomUpFromGlobal(window->geometry());
}

void connectControls(PMMainController& c, PMPlaybackControlView* view, PMMovieView* movieView, PMMovieTimeSliderDelegate* controller)
{
    QObject::connect(view->playPauseSwitch(), &QAbstractButton::clicked, &c, [&c] { c.playPause(); });
    QObject::connect(view->windBackwardButton(), &QAbstractButton::clicked, &c, [&c] { c.windBackward(); });
    QObject::connect(view->windForwardButton(), &QAbstractButton::clicked, &c, [&c] { c.windForward(); });
    QObject::connect(view->previousButton(), &QAbstractButton::clicked, &c, [&c] { c.backwardPlaylist(); });
    QObject::connect(view->nextButton(), &QAbstractButton::clicked, &c, [&c] { c.forwardPlaylist(); });
    QObject::connect(view->muteButton(), &QAbstractButton::clicked, &c, [&c] { c.mute(); });
    QObject::connect(view->volumeSlider(), &QSlider::valueChanged, &c, [&c](int value) { c.changeVolume(float(value) / 1000.0f); });
    PMMovieTimeSlider* slider = view->timeSlider();
    slider->setMovieView(movieView);
    slider->setDelegate(controller);
    // The slider may outlive the windows' controller (a window kept by its owner): it then
    // draws without one instead of asking a deleted one.
    if (auto* object = dynamic_cast<QObject*>(controller))
        QObject::connect(object, &QObject::destroyed, slider, [slider] { slider->setDelegate(nullptr); });
    slider->playerRate = [&c] { return c.playerViewContent().moviePlayer ? c.playerViewContent().moviePlayer->rate() : 0.0f; };
    slider->playerIsPaused = [&c] {
        const PMPlayerPtr& p = c.playerViewContent().moviePlayer;
        return !p || p->timeControlStatus() == TimeControlStatus::Paused;
    };
    slider->pausePlayer = [&c] { c.pause(); };
    slider->playAtRate = [&c](float rate) {
        if (const PMPlayerPtr& p = c.playerViewContent().moviePlayer)
            p->setRate(rate);
        c.updateTimeDisplay(&c);
    };
    slider->seek = [&c](double seconds) { c.setTimeSliderCurrentTimeValue(seconds); };
}

// Presenting: the movie view moves into a full-screen window of its own, on the screen of
// the window it leaves.
void presentInFullScreenWindow(PMMainController& c, PlayerWindows* windows, const std::function<void(PMPlayerWindowPrototype*)>& prepare)
{
    QWidget* old = c.playerWindow();
    windows->presentationReturnContainer = windows->container();
    auto* full = new PMFullScreenPlayerWindow;
    full->setAttribute(Qt::WA_DeleteOnClose);
    full->setWindowTitle(windows->dedicated ? windows->dedicated->windowTitle() : QString());
    QPalette palette = full->palette();
    palette.setColor(QPalette::Window, Qt::black);
    full->setPalette(palette);
    full->setAutoFillBackground(true);
    prepare(full);
    auto* container = new PMPlayerContainerView(full);
    full->setPlayerContainer(container);
    QScreen* screen = old ? screenForWindow(old) : QGuiApplication::primaryScreen();
    if (old && old == windows->dedicated)
        old->hide();
    windows->presentationWindow = full;
    windows->watch(full);
    full->setGeometry(screen ? screen->geometry() : QRect(0, 0, 1280, 800));
    windows->moveMovieViewInto(container);
    full->showFullScreen();
    full->raise();
    full->activateWindow();
    full->setUsesCustomFullScreenMode(true);
    c.updatePresentationWindowForScreen(screen);
    c.updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
}

} // namespace

void PMMainController::installPlayerWindows()
{
    if (_dedicatedPlayerWindow)
        return;
    auto* windows = new PlayerWindows(*this);
    installedPlayerWindows() = windows;
    auto* window = new PMDedicatedPlayerWindow;
    window->resize(960, 600);
    auto* container = new PMPlayerContainerView(window);
    window->setPlayerContainer(container);
    auto* movieView = new PMMovieView(container);
    auto* footer = new PMDedicatedPlayerWindowFooterView(window);
    footer->setFixedHeight(24);
    window->setFooterView(footer);
    auto* status = new PMLinkTextField(footer);
    status->setGeometry(8, 3, 600, 18);
    window->setStatusField(status);

    windows->dedicated = window;
    windows->movieView = movieView;
    windows->bandView = new PMPlaybackControlView(container);
    windows->bandView->hide();
    windows->floatingControls = new PMPlaybackControlWindow(window);
    windows->floatingControls->setParentWindow(window);
    window->awakeFromNib();

    playerViewContent();
    movieView->setContent(_playerViewContent);
    movieView->isPlaying = [this] { return isPlaying(); };
    movieView->play = [this] { play(); };
    movieView->pause = [this] { pause(); };
    movieView->togglePresentation = [this] { togglePresentationFromPicture(2); };
    // The view may outlive this set of windows (a test or a window that keeps it).
    movieView->childWindows = [windows = QPointer<PlayerWindows>(windows)] {
        return windows && windows->floatingControls ? QList<QWidget*>{windows->floatingControls} : QList<QWidget*>{};
    };
    movieView->setMouseTracking(true);
    PMPlaybackControlView* floatingView = windows->floatingControls->controlView();
    movieView->setPreviousMovieButton(floatingView->previousButton());
    movieView->setNextMovieButton(floatingView->nextButton());
    movieView->setPlayPauseSwitch(floatingView->playPauseSwitch());
    connectControls(*this, windows->bandView, movieView, windows);
    connectControls(*this, floatingView, movieView, windows);
    for (PMPlaybackControlView* view : {windows->bandView.data(), floatingView}) {
        QObject::connect(view->presentationSwitch(), &QAbstractButton::clicked, this, [this] { togglePresentation(); });
        QObject::connect(view->aspectRatioLockSwitch(), &QAbstractButton::clicked, this, [this] { toggleAspectRatioLock(); });
    }

    const auto prepare = [this](PMPlayerWindowPrototype* w) {
        w->keyDownHandler = [this](QKeyEvent* event) { return playbackController().handleKeyDown(event, false); };
        w->togglePresentationHandler = [this](QObject*) { togglePresentation(); };
        w->isPresenting = [this] { return _isPresenting; };
        w->canTogglePresentation = [this] { return _isPresenting || _currentMovieHasVideo; };
    };
    prepare(window);
    windows->watch(window);
    windows->watch(container);
    windows->watch(movieView);
    // The library window comes back from here too: its menu (and the shortcut of Window >
    // Library Window) goes with it while it is closed.
    auto* showLibrary = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+L")), window);
    QObject::connect(showLibrary, &QShortcut::activated, this, [this] { Q_EMIT playbackController().showMainWindowRequested(); });

    // The controls and hooks go with the window (tests make and destroy it).
    const auto forget = [this, windows] {
        if (windows->parent() != this)
            return;
        windows->setParent(nullptr);
        windows->deleteLater();
        _playerControlsDidChange = nullptr;
        _showPlaybackControlsHook = nullptr;
        _presentationDidChange = nullptr;
        _timeSliders = nullptr;
        _playbackControlViews = nullptr;
    };
    QObject::connect(window, &QObject::destroyed, this, forget);
    QObject::connect(movieView, &QObject::destroyed, this, forget);
    playerView = movieView;
    _dedicatedPlayerWindow = window;
    _playerControlsDidChange = [windows] { windows->update(); };
    _showPlaybackControlsHook = [windows](bool fade) { windows->showControls(fade); };
    _presentationDidChange = [this, windows, prepare](bool presenting) {
        if (presenting) {
            presentInFullScreenWindow(*this, windows, prepare);
        } else {
            QWidget* target = nullptr;
            if (!_currentMovieRepresentation.isNull())
                target = !singleWindowMode() && windows->dedicated ? windows->dedicated->playerContainer() : mainWindowPlayerContainer();
            if (!target)
                target = windows->dedicated ? windows->dedicated->playerContainer() : nullptr;
            windows->moveMovieViewInto(target);
            if (windows->presentationWindow) {
                windows->presentationWindow->hide();
                windows->presentationWindow->deleteLater();
            }
            updatePlayerViewFrame();
            updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
            windows->movieView->setFocus();
            Q_EMIT playbackController().showPlayerWindowIfNotVisibleRequested(false);
            if (!_currentMovieRepresentation.isNull() && _currentMovieHasVideo) {
                const platform::Value ending = _currentMovieRepresentation;
                QTimer::singleShot(1000, this, [this, ending] {
                    if (_currentMovieRepresentation.objectPointer() == ending.objectPointer() && !_isPresenting)
                        updatePlayerWindowFrameAfterForcingPresentation(false);
                });
            }
        }
        showWindowChromeAndPlaybackControlsByFadingIn(false, nullptr);
        updateWindowTitles();
        Q_EMIT playbackController().updateStatusFieldsRequested();
    };
    _timeSliders = [windows] {
        QList<PMMovieTimeSlider*> sliders;
        if (windows->floatingControls)
            sliders.append(windows->floatingControls->controlView()->timeSlider());
        if (windows->bandView)
            sliders.append(windows->bandView->timeSlider());
        return sliders;
    };
    _playbackControlViews = [windows] {
        QList<QWidget*> views;
        if (windows->floatingControls)
            views.append(windows->floatingControls->controlView());
        if (windows->bandView)
            views.append(windows->bandView);
        return views;
    };
    installEditing();
    windows->layoutDedicatedWindow();
    windows->layoutContainer();
}

// ---------------------------------------------------------------------------
// Where the player sits

QWidget* PMMainController::mainWindowPlayerContainer() const
{
    if (_mainWindowPlayerContainer)
        return _mainWindowPlayerContainer.data();
    return _mainWindow ? _mainWindow->findChild<PMPlayerContainerView*>() : nullptr;
}

QWidget* PMMainController::playerWindow() const
{
    return playerView && playerView->parentWidget() ? playerView->window() : nullptr;
}

bool PMMainController::playerIsInMainWindow() const
{
    return _mainWindow && playerWindow() == _mainWindow.data();
}

PMMainController::PlayerPlacement PMMainController::updatePlayerPlacement()
{
    PlayerPlacement placement;
    PlayerWindows* windows = playerWindows(*this);
    const bool single = singleWindowMode();
    const bool hasMovie = !_currentMovieRepresentation.isNull();
    QWidget* mainContainer = mainWindowPlayerContainer();
    // The main window's resizes and closing come here too.
    if (windows && _mainWindow)
        windows->watch(_mainWindow);
    // Without a dedicated window the main window holds the player, and without a player
    // container in the main window the dedicated window does.
    const bool useMain = (single || !windows || !windows->dedicated) && mainContainer;
    if (!useMain) {
        if (hasMovie && !_isPresenting && windows && windows->dedicated) {
            windows->moveMovieViewInto(windows->dedicated->playerContainer());
            updatePlayerViewFrame();
        } else if (windows && windows->dedicated && windows->dedicated->isVisible()) {
            windows->dedicated->hide();
        }
    } else {
        if (windows && windows->dedicated && windows->dedicated->isVisible())
            windows->dedicated->hide();
        if (hasMovie) {
            placement.showsPlayer = true;
            placement.computesGroupContent = _isPresenting;
            if (!_isPresenting && windows) {
                windows->moveMovieViewInto(mainContainer);
                updatePlayerViewFrame();
                windows->movieView->redisplay();
                updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
            }
        }
    }
    if (mainContainer && mainContainer->isVisibleTo(mainContainer->window()) != placement.showsPlayer)
        mainContainer->setVisible(placement.showsPlayer);
    return placement;
}

void PMMainController::updatePlayerViewFrame()
{
    if (PlayerWindows* windows = playerWindows(*this))
        windows->layoutContainer();
}

void PMMainController::updatePlayerWindowFrameAfterForcingPresentation(bool force)
{
    PlayerWindows* windows = playerWindows(*this);
    if (_isPresenting) {
        updatePresentationWindowForScreen(nullptr);
        if (windows && windows->controlsMode() != 0)
            updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
        return;
    }
    if (force) {
        togglePresentation();
        return;
    }
    const std::int64_t q = settings().integerForKey(prefs::keys::PlayerWidthPreservationPriority);
    if (_isPlayerWindowZoomed && q < 1) {
        Q_EMIT playbackController().fitPlayerWindowToScreenRequested();
    } else if (_currentMovieHasVideo) {
        const QSizeF natural = playbackController().currentPictureNaturalSize();
        if (!natural.isEmpty()) {
            if (windows)
                windows->sizedFor = playerViewContent().moviePlayer.get();
            if (q >= 0) {
                double w = 0;
                if (q == 0 && settings().objectForKey(prefs::keys::PlayerWidth).isNumber())
                    w = settings().doubleForKey(prefs::keys::PlayerWidth);
                if (w < 1)
                    w = playbackController().playerAreaSizeOfWindow(playerWindow(), nullptr).width();
                if (w < 1 && playerView)
                    w = playerView->width();
                if (w >= 1)
                    _currentMagnification = w / natural.width();
            } else {
                _currentMagnification = _currentMagnificationQuantum;
            }
            Q_EMIT playbackController().resizePlayerWindowForCurrentMagnificationRequested();
        }
    }
    updatePlayerViewFrame();
}

void PMMainController::updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(bool keep)
{
    PlayerWindows* windows = playerWindows(*this);
    if (!windows)
        return;
    QWidget* pw = playerWindow();
    const bool isStatic = windows->isStatic();
    const bool hasMovie = windows->hasCurrentMovie();
    QWidget* hoverParent = hasMovie && !isStatic ? pw : nullptr;
    if (windows->floatingControls->parentWindow() != hoverParent)
        windows->attachFloatingControls(hoverParent);
    QSizeF remembered;
    if (isStatic != windows->floatingControls->isStatic()) {
        // The movie's area as it is before the band comes or goes.
        if (keep && hasMovie && pw && (pw == _mainWindow.data() || pw == windows->dedicated.data()))
            remembered = QSizeF(windows->movieView->size());
        windows->floatingControls->setStatic(isStatic);
    }
    windows->layoutContainer();
    if (remembered.width() > kEpsilon)
        Q_EMIT playbackController().resizeWindowRequested(nullptr, remembered, false);
    if (hoverParent && hoverParent->isVisible())
        windows->placeFloatingControls();
    updatePlaybackControlVisibility();
}

void PMMainController::updatePlaybackControlVisibility()
{
    if (PlayerWindows* windows = playerWindows(*this))
        windows->update();
}

void PMMainController::hidePlaybackControlWindow()
{
    if (PlayerWindows* windows = playerWindows(*this))
        windows->hideControls();
}

// ---------------------------------------------------------------------------
// Titles, slider texts, darkness

void PMMainController::updateWindowTitles()
{
    PlayerWindows* windows = playerWindows(*this);
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const bool inMain = playerIsInMainWindow();
    if (record) {
        QString t = record->displayName();
        PMLibraryContainer* parent = _currentOrMonitoredMovieRepresentationAncestors && !_currentOrMonitoredMovieRepresentationAncestors->isEmpty()
            ? PMContainer(_currentOrMonitoredMovieRepresentationAncestors->at(0)) : nullptr;
        qsizetype index = -1, count = 0;
        if (parent && settings().boolForKey(prefs::keys::PresentationPlaybackControlsShowIndex)
            && parent->getIndex(&index, &count, _currentMovieRepresentation) && count >= 2 && index >= 0)
            t = QStringLiteral("%1 — %2 / %3").arg(t).arg(index + 1).arg(count);
        const PMPlayerViewContent& v = playerViewContent();
        if (settings().boolForKey(prefs::keys::PresentationPlaybackControlsShowScale) && v.movieReplacingImage && playerView
            && v.movieReplacingImage->size().width() > 0)
            t = QStringLiteral("%1 — %2%").arg(t).arg(std::lround(playerView->width() * 100.0 / v.movieReplacingImage->size().width()));
        if (windows)
            windows->floatingControls->setTitle(t);

        if (!(inMain && settings().boolForKey(prefs::keys::StaticMainWindowTitle))) {
            const QString name = settings().boolForKey(prefs::keys::ShowFullPathInMainWindowTitle)
                ? record->readableLocationPrefixedByDisplayNameIfDifferent() : record->displayName();
            QWidget* target = playerWindow();
            if (_isPresenting) {
                if (windows && windows->presentationWindow)
                    windows->presentationWindow->setWindowTitle(name);
                target = windows ? windows->dedicated.data() : nullptr;
            }
            if (target) {
                target->setWindowFilePath(record->path());
                target->setWindowTitle(name);
            }
            if (inMain)
                return;
        }
    } else if (windows) {
        windows->floatingControls->setTitle(QString());
        if (windows->dedicated)
            windows->dedicated->setWindowTitle(QObject::tr("Player"));
    }
    if (!_mainWindow)
        return;
    _mainWindow->setWindowFilePath(QString());
    PMLibraryContainer* shown = nullptr;
    int containers = 0;
    bool files = false;
    for (const platform::Value& item : *_selectedLibraryItems) {
        if (PMLibraryContainer* container = PMContainer(item)) {
            shown = container;
            ++containers;
        } else if (PMMovie(item)) {
            files = true;
        }
    }
    _mainWindow->setWindowTitle(containers == 1 && !files ? shown->displayName() : QStringLiteral("Pellis"));
}

QString PMMainController::alternateSliderMinimumMessage()
{
    PMLibraryContainer* parent = _currentOrMonitoredMovieRepresentationAncestors && !_currentOrMonitoredMovieRepresentationAncestors->isEmpty()
        ? PMContainer(_currentOrMonitoredMovieRepresentationAncestors->at(0)) : nullptr;
    if (_currentMovieRepresentation.isNull() || !parent)
        return {};
    PlayerWindows* windows = playerWindows(*this);
    if (_isPresenting && windows && windows->controlsMode() == 0 && settings().boolForKey(prefs::keys::PresentationPlaybackControlsShowIndex))
        return {};
    qsizetype index = -1, count = 0;
    if (parent->getIndex(&index, &count, _currentMovieRepresentation) && count >= 2 && index >= 0)
        return QStringLiteral("%1 / %2").arg(index + 1).arg(count);
    return {};
}

QString PMMainController::alternateSliderMaximumMessage()
{
    const PMPlayerViewContent& v = playerViewContent();
    if (!v.movieReplacingImage)
        return {};
    const QSizeF natural = v.movieReplacingImage->associatedNaturalSize.isEmpty() ? v.movieReplacingImage->size()
                                                                                 : v.movieReplacingImage->associatedNaturalSize;
    if (natural.width() <= 0.9)
        return {};
    QStringList parts;
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const int a = record ? record->angle() : 0;
    if (a != 0)
        parts << QStringLiteral("%1°").arg(a < 180 ? -a : 360 - a);
    parts << QStringLiteral("%1 × %2").arg(std::lround(natural.width())).arg(std::lround(natural.height()));
    PlayerWindows* windows = playerWindows(*this);
    const bool scaleInTitle = _isPresenting && windows && windows->controlsMode() == 0
        && settings().boolForKey(prefs::keys::PresentationPlaybackControlsShowScale);
    if (!scaleInTitle && windows)
        parts << QStringLiteral("%1%").arg(std::lround(windows->movieView->currentGeometry().destination.width() * 100 / natural.width()));
    return parts.join(QStringLiteral(" — "));
}

int PMMainController::mainWindowDarkness()
{
    const bool hideLibrary = settings().boolForKey(prefs::keys::HideLibrary);
    if (_mainWindow && isInFullyInvertedDarkMode(_mainWindow))
        return 4;
    if (playerIsInMainWindow())
        return hideLibrary ? 4 : 3;
    // The grid follows the desktop's light or dark (no thumbnail appearance of its own yet):
    // a light grid is the light look.
    if (!_mainWindow || !PMIsDarkMode())
        return 0;
    // The library window's header strip stands in for a hidden title bar.
    if (hideLibrary)
        return _mainWindowHidesTitlebar ? 2 : 4;
    return _mainWindowHidesTitlebar ? 1 : 3;
}

// ---------------------------------------------------------------------------
// The aspect-ratio lock and its read-out

void PMMainController::setAspectRatioLocked(bool locked)
{
    _isAspectRatioLocked = locked;
    if (PlayerWindows* windows = playerWindows(*this)) {
        const bool lockImages = settings().integerForKey(prefs::keys::PlayerWindowAspectRatioButtonPriority) >= 2;
        const QString image = locked && !lockImages ? QStringLiteral("ellipsis") : locked ? QStringLiteral("locked") : QStringLiteral("unlocked");
        for (PMPlaybackControlView* view : {windows->bandView.data(), windows->floatingControls->controlView()}) {
            view->setAspectRatioLockImage(image, locked);
            view->aspectRatioLockSwitch()->setToolTip(locked ? QObject::tr("Unlock Aspect Ratio") : QObject::tr("Lock Aspect Ratio"));
        }
    }
    // Locking makes the window follow the picture's proportions at once.
    if (locked && _currentMovieHasVideo && !_isPresenting)
        if (PlayerWindows* windows = playerWindows(*this))
            if (QWidget* w = playerWindow(); w && w->isVisible()) {
                windows->scheduleLockedSize(w);
                windows->applyLockedSize();
            }
}

void PMMainController::updateAspectRatioWindow()
{
    QWidget* container = playerView ? playerView->parentWidget() : nullptr;
    if (!container || !container->window()->isVisible() || _isAspectRatioLocked || playerView->height() < 1)
        return;
    _aspectRatioText = QString::asprintf("%.2f:1", double(playerView->width()) / playerView->height());
    // One read-out window serves every resize: it is faded out between them, never made anew.
    auto* window = qobject_cast<PMFullScreenMessageWindow*>(_aspectRatioWindow.data());
    if (!window) {
        window = PMFullScreenMessageWindow::fullscreenWindowWithMessage(_aspectRatioText, playerView, 0.5, nullptr);
        window->storedTintColor = QColor(Qt::transparent);
        _aspectRatioWindow = window;
    } else {
        window->messageView = playerView;
        stopFadingOutAndSetAlphaValue(window, 0.5);
    }
    window->message = _aspectRatioText;
    window->setGeometry(QRect(playerView->mapToGlobal(QPoint(0, 0)), playerView->size()));
    window->show();
    window->raise();
    window->update();
    platform::performAfterDelay(this, QStringLiteral("closeAspectRatioWindow"), platform::Value(), 0.1, [this] { closeAspectRatioWindow(); });
}

void PMMainController::closeAspectRatioWindow()
{
    if (QWidget* window = _aspectRatioWindow.data(); window && window->isVisible())
        fadeOutAndClose(window); // kept for the next resize
}

// ---------------------------------------------------------------------------
// Zooming, resizing, closing

void PMMainController::updatePlayerWindowZoomStatus()
{
    if (!_isPlayerWindowZoomed || _isPresenting)
        return;
    QWidget* w = playerWindow();
    if (!w || PMGlobalFromBottomUp(playbackController().playerWindowZoomFrameWithAspectRatioLock(_isAspectRatioLocked, true, false)) != w->geometry())
        _isPlayerWindowZoomed = false;
}

void PMMainController::updatePlayerWindowZoomStatusAfterDelay()
{
    platform::cancelPreviousPerformRequests(this, QStringLiteral("updatePlayerWindowZoomStatus"), platform::Value());
    if (_isPlayerWindowZoomed && !_isPresenting)
        platform::performAfterDelay(this, QStringLiteral("updatePlayerWindowZoomStatus"), platform::Value(), 0, [this] { updatePlayerWindowZoomStatus(); });
}

QSizeF PMMainController::windowWillResize(QWidget* window, QSizeF proposed)
{
    PlayerWindows* windows = playerWindows(*this);
    if (!window || !windows || (window != _mainWindow.data() && window != windows->dedicated.data()))
        return proposed;
    if (!_currentMovieHasVideo || playerWindow() != window)
        return proposed;
    const QSizeF natural = playbackController().currentPictureNaturalSize();
    if (natural.isEmpty())
        return proposed;
    const QRectF frame = bottomUpFrameOf(window);
    const QSizeF container = playbackController().playerAreaSizeOfWindow(window, nullptr);
    const QRectF visible = PMBottomUpFromGlobal(visibleFrameWithExtraDockSpacing(screenForWindow(window)));
    const PMLiveResize r = PMPlayerWindowWillResize(proposed, frame, container, natural, _isAspectRatioLocked, visible.y(),
                                                    window->minimumWidth());
    _currentMagnification = r.magnification;
    settings().setDouble(r.playerWidth, prefs::keys::PlayerWidth);
    return r.size;
}

void PMMainController::windowDidResize(QWidget* window)
{
    if (window && window == playerWindow() && _isPresenting) {
        updatePresentationWindowForScreen(nullptr);
        updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
    } else if (window && window == playerWindow()) {
        updatePlayerViewFrame();
        updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
        updatePlayerWindowZoomStatusAfterDelay();
    }
    if (window && window == _mainWindow.data())
        Q_EMIT playbackController().saveMainWindowSizeRequested();
}

bool PMMainController::isLastVisibleWindow(QWidget* window)
{
    for (QWidget* other : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = other->windowType();
        if (other != window && other->isVisible() && !other->windowTitle().isEmpty() && !isChildWindow(other) && type != Qt::Tool
            && type != Qt::Popup && type != Qt::ToolTip)
            return false;
    }
    return true;
}

bool PMMainController::closingWindowEndsProgram(QWidget* window)
{
    // A program without a visible window cannot be reached here (no dock, no menu bar of its
    // own): closing the last one ends it, whatever "Quit On Close" says; with the setting,
    // so does closing the library window while a player remains.
    if (_numberOfRemainingItemsMovingToLibraryFolder > 0)
        return false;
    if (isLastVisibleWindow(window))
        return true;
    return window == _mainWindow.data() && settings().boolForKey(prefs::keys::QuitOnClose);
}

bool PMMainController::windowShouldClose(QWidget* window)
{
    PlayerWindows* windows = playerWindows(*this);
    // The library window's own closing is decided where it is made (see main()).
    if (window != _mainWindow.data() && closingWindowEndsProgram(window))
        QTimer::singleShot(0, this, [this] {
            if (approveTermination())
                QCoreApplication::quit();
        });
    // A refused close would also cancel a quit that closes every window: these windows let
    // go of the movie and then close.
    if (windows && window == windows->dedicated.data()) {
        // Closing the player ends the movie.
        pause();
        chooseNoMovie();
        return true;
    }
    if (windows && window == windows->presentationWindow.data()) {
        if (_isPresenting)
            togglePresentation();
        return true;
    }
    if (window && window == _mainWindow.data()) {
        if (playerIsInMainWindow() && !settings().boolForKey(prefs::keys::SingleWindowModeDoNotPauseOnClose))
            pause();
        if (settings().boolForKey(prefs::keys::ClearPlaylistOnClose))
            if (const PMLibraryContainerPtr storage = temporaryStorage(); storage && storage->rawChildren() && !storage->rawChildren()->isEmpty())
                clearPlaylist();
    }
    return true;
}

// ---------------------------------------------------------------------------
// Presentation

void PMMainController::updatePresentationWindowForScreen(QScreen* screen)
{
    PlayerWindows* windows = playerWindows(*this);
    if (!windows || !windows->presentationWindow)
        return;
    PMFullScreenPlayerWindow* w = windows->presentationWindow;
    if (!screen)
        screen = screenForWindow(w);
    const QRect S = screen ? screen->geometry() : w->geometry();
    if (!w->isFullScreen())
        w->setGeometry(S);
    const std::optional<QRectF> picture = PMPresentationPictureFrame(QSizeF(S.size()), notchGap(screen), windows->controlsMode(),
                                                                    int(settings().integerForKey(prefs::keys::PresentationMode)),
                                                                    playbackController().currentPictureNaturalSize());
    QWidget* container = windows->container();
    if (!picture || !container)
        return;
    // Bottom-up on the screen to the window's top-down coordinates.
    const QRectF& f = *picture;
    container->setGeometry(QRectF(f.x(), S.height() - f.y() - f.height(), f.width(), f.height()).toRect());
    updatePlayerViewFrame();
    windows->movieView->redisplay();
    updateWindowTitles();
}

// ---------------------------------------------------------------------------
// Pointer movement, switches, zoom and moves

bool PMMainController::showWindowChromeAndPlaybackControlsByFadingIn(bool fade, const QPoint* point)
{
    QWidget* w = playerWindow();
    if (point) {
        if (!w)
            return false;
        std::int64_t priority = std::numeric_limits<std::int64_t>::max();
        if (w != _mainWindow.data()) {
            priority = settings().integerForKey(prefs::keys::HoverPlaybackControlsPriority);
            if (priority < 1)
                return false;
        }
        if (QGuiApplication::applicationState() != Qt::ApplicationActive)
            return false;
        if (!w->isVisible())
            return false;
        if (!w->frameGeometry().contains(*point)) {
            QScreen* screen = w->screen();
            if (priority == 1 || !screen || !screen->geometry().contains(*point))
                return false;
        }
    }
    showPlaybackControlsByFadingIn(fade);
    return true;
}

void PMMainController::updatePresentationSwitch()
{
    if (PlayerWindows* windows = playerWindows(*this))
        for (PMPlaybackControlView* view : {windows->bandView.data(), windows->floatingControls->controlView()})
            view->setPresenting(_isPresenting);
}

void PMMainController::updateAspectRatioLockSwitchPosition()
{
    PlayerWindows* windows = playerWindows(*this);
    if (!windows)
        return;
    const std::int64_t priority = settings().integerForKey(prefs::keys::PlayerWindowAspectRatioButtonPriority);
    const bool hasMovie = !_currentMovieRepresentation.isNull();
    const bool shows = (_currentMovieHasVideo || (hasMovie && priority <= 1)) && !_isPresenting;
    for (PMPlaybackControlView* view : {windows->bandView.data(), windows->floatingControls->controlView()})
        view->setShowsAspectRatioLockSwitch(shows);
}

QRectF PMMainController::windowWillUseStandardFrame(QWidget* window)
{
    if (window && window == playerWindow()) {
        if (!_isPresenting)
            _isPlayerWindowZoomed = true;
        return playbackController().playerWindowZoomFrameWithAspectRatioLock(_isAspectRatioLocked, true, true);
    }
    return PMBottomUpFromGlobal(visibleFrameWithExtraDockSpacing(screenForWindow(window)));
}

void PMMainController::windowDidMove(QWidget* window)
{
    if (!window || window != playerWindow())
        return;
    updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
    updatePlayerWindowZoomStatusAfterDelay();
}

// ---------------------------------------------------------------------------
// Presentation mode choice and the player's scale

bool PMMainController::canTogglePresentation()
{
    return _currentMovieHasVideo || _isPresenting;
}

void PMMainController::togglePresentationFromPicture(int clickCount)
{
    if (_currentMovieHasVideo) {
        if (_isPresenting) {
            setPresentationMode(settings().integerForKey(prefs::keys::PresentationMode) == 1 ? 0 : 1, nullptr);
            if (clickCount < 3)
                return;
        } else if (settings().boolForKey(prefs::keys::DoubleClickReturnsToLibrary)) {
            chooseNoMovie();
            return;
        }
    }
    togglePresentation();
}

void PMMainController::setPresentationMode(int mode, QObject* sender)
{
    settings().setInteger(mode, prefs::keys::PresentationMode);
    if (_isPresenting) {
        updateAspectRatioLockSwitchPosition();
        updatePresentationWindowForScreen(nullptr);
    }
}

void PMMainController::setScale(int percent)
{
    if (_isPresenting) {
        platform::beep();
        return;
    }
    // The "Current Size" entry names the scale in use.
    if (percent > 0)
        _currentMagnification = _currentMagnificationQuantum = percent * 0.01;
    if (!_currentMovieRepresentation.isNull())
        Q_EMIT playbackController().resizePlayerWindowForCurrentMagnificationRequested();
    selectCurrentMagnificationMenuItem();
}

void PMMainController::increaseScale()
{
    if (_isPresenting) {
        platform::beep();
        return;
    }
    _currentMagnification = _currentMagnificationQuantum = PMNextMagnificationStep(_currentMagnification, true);
    if (!_currentMovieRepresentation.isNull())
        Q_EMIT playbackController().resizePlayerWindowForCurrentMagnificationRequested();
    selectCurrentMagnificationMenuItem();
}

void PMMainController::decreaseScale()
{
    if (_isPresenting) {
        platform::beep();
        return;
    }
    const double before = _currentMagnificationQuantum;
    const double width = playerView ? playerView->width() : 0;
    _currentMagnification = _currentMagnificationQuantum = PMNextMagnificationStep(_currentMagnification, false);
    if (!_currentMovieRepresentation.isNull())
        Q_EMIT playbackController().resizePlayerWindowForCurrentMagnificationRequested();
    // A window already at its smallest did not shrink: the scale stays where it was.
    if (!playerView || playerView->width() > width - 0.1)
        _currentMagnification = _currentMagnificationQuantum = before;
    selectCurrentMagnificationMenuItem();
}

void PMMainController::selectCurrentMagnificationMenuItem()
{
    const QSizeF natural = playbackController().currentPictureNaturalSize();
    long percent = std::lround(100 * _currentMagnification);
    if (_isPresenting && playerView && !natural.isEmpty())
        percent = std::lround(100 * playerView->width() / std::max(1.0, natural.width()));
    QAction* current = _mainMenu.currentScaleMenuItem;
    QMenu* menu = current ? qobject_cast<QMenu*>(current->parent()) : nullptr;
    bool presetChecked = false;
    if (menu) {
        for (QAction* item : menu->actions()) {
            if (item == current || platform::menuItemAction(item) != QLatin1String("setScale"))
                continue;
            const bool checked = _currentMovieHasVideo && !_isPresenting && platform::menuItemTag(item) == percent;
            item->setCheckable(true);
            item->setChecked(checked);
            presetChecked = presetChecked || checked;
        }
    }
    _currentScaleTitle = platform::format("Current Size: %ld%%", percent);
    if (current) {
        current->setVisible(_currentMovieHasVideo && !presetChecked);
        current->setText(_currentScaleTitle);
        current->setCheckable(true);
        current->setChecked(true);
    }
}

void PMMainController::toggleStayInFront()
{
    settings().setBool(!settings().boolForKey(prefs::keys::StayInFront), prefs::keys::StayInFront);
    Q_EMIT playbackController().updateWindowLevelsRequested();
}
