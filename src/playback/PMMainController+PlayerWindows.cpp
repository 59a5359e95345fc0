// The player's windows as the controller runs them: the dedicated player window holds the
// movie view in its container and the playback controls, either as a fixed band below or
// above the movie or as a floating bezel over it that fades when the pointer rests; the
// controls follow the transport, the time slider follows the player.
#include "library/model/PMMainController.h"

#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackControls.h"
#include "playback/PMPlayerWindows.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMActionButtonTextField.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtCore/QTimer>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QLabel>
#include <QtWidgets/QSlider>

#include <cmath>

using platform::media::Player;
using platform::media::TimeControlStatus;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

// Lays out the dedicated window and runs its hovering controls.
class PlayerWindowController : public QObject, public PMMovieTimeSliderDelegate {
public:
    PlayerWindowController(PMMainController& c, PMDedicatedPlayerWindow* window) : QObject(window), m_c(c), m_window(window)
    {
        m_hideTimer.setSingleShot(true);
        QObject::connect(&m_hideTimer, &QTimer::timeout, this, [this] { hideControlsIfMouseOutside(); });
    }

    QString alternateSliderMinimumMessage() override { return {}; }
    QString alternateSliderMaximumMessage() override
    {
        const PMPlayerViewContent& v = m_c.playerViewContent();
        if (v.movieReplacingImage) {
            const QSizeF size = v.movieReplacingImage->associatedNaturalSize.isEmpty() ? v.movieReplacingImage->size()
                                                                                     : v.movieReplacingImage->associatedNaturalSize;
            return QStringLiteral("%1 × %2").arg(qRound(size.width())).arg(qRound(size.height()));
        }
        return {};
    }
    QMenu* menuForSlider(QWidget*) override { return nullptr; }

    int controlsMode() const { return int(settings().integerForKey(QStringLiteral("Window Playback Controls"))); }

    void layout()
    {
        if (!m_window)
            return;
        const int footer = m_window->footerView() && !m_window->footerView()->isHidden() ? m_window->footerView()->height() : 0;
        const int W = m_window->width(), H = m_window->height();
        if (m_window->footerView())
            m_window->footerView()->setGeometry(0, H - footer, W, footer);
        const int mode = m_c._isPresenting ? 0 : controlsMode();
        const int band = mode == 0 ? 0 : int(kPMPlaybackControlsBandHeight);
        QWidget* container = m_window->playerContainer();
        if (mode == 0) {
            container->setGeometry(0, 0, W, H - footer);
            bandView->hide();
        } else if (mode == -1) {
            container->setGeometry(0, 0, W, H - footer - band);
            bandView->setGeometry(0, H - footer - band, W, band);
            bandView->show();
        } else {
            container->setGeometry(0, band, W, H - footer - band);
            bandView->setGeometry(0, 0, W, band);
            bandView->show();
        }
        movieView->setGeometry(container->rect());
        placeFloatingControls();
    }

    void placeFloatingControls()
    {
        const bool floating = m_c._isPresenting || controlsMode() == 0;
        if (!floating || !m_window->isVisible()) {
            floatingControls->hide();
            return;
        }
        floatingControls->positionWithReferenceView(m_window->playerContainer(), m_c._isPresenting);
    }

    void showControls()
    {
        const bool floating = m_c._isPresenting || controlsMode() == 0;
        if (!floating || !m_window->isVisible())
            return;
        if (!floatingControls->isVisible() || floatingControls->windowOpacity() < 1.0) {
            placeFloatingControls();
            floatingControls->setWindowOpacity(1.0);
            floatingControls->show();
            floatingControls->raise();
        }
        m_hideTimer.start(PMWindowVanishInterval() * 1000);
    }

    void hideControlsIfMouseOutside()
    {
        if (floatingControls->isVisible() && floatingControls->geometry().contains(QCursor::pos())) {
            m_hideTimer.start(PMWindowVanishInterval() * 1000);
            return;
        }
        floatingControls->setWindowOpacity(0.0);
        floatingControls->hide();
        m_c._playbackControlsAreVisible = false;
    }

    void sizeToMovie(QSizeF shown)
    {
        if (shown.isEmpty() || m_sizedFor == m_c.playerViewContent().moviePlayer.get())
            return;
        m_sizedFor = m_c.playerViewContent().moviePlayer.get();
        const QRect available = visibleFrameWithExtraDockSpacing(screenForWindow(m_window));
        const int extra = m_window->height() - m_window->playerContainer()->height();
        const QSizeF fitted = shown.scaled(QSizeF(available.width() * 0.7, available.height() * 0.7 - extra), Qt::KeepAspectRatio);
        const QSizeF size = shown.width() <= fitted.width() ? shown : fitted;
        m_window->resize(std::max(480, int(std::lround(size.width()))), int(std::lround(size.height())) + extra);
    }

    void update()
    {
        const bool playing = m_c.isPlaying();
        const bool muted = m_c.volumeSlider.value < 0.01;
        for (PMPlaybackControlView* view : {bandView, floatingControls->controlView()}) {
            view->setPlaying(playing);
            view->setMuted(muted);
            const QSignalBlocker blocker(view->volumeSlider());
            if (!view->volumeSlider()->isSliderDown())
                view->volumeSlider()->setValue(int(std::lround(m_c.volumeSlider.value * 1000)));
            view->timeSlider()->updateFromPlayer();
            const bool hasItem = !m_c._currentMovieRepresentation.isNull();
            view->playPauseSwitch()->setEnabled(hasItem);
            view->windBackwardButton()->setEnabled(bool(m_c.playerViewContent().moviePlayer));
            view->windForwardButton()->setEnabled(bool(m_c.playerViewContent().moviePlayer));
        }
        const PMPlayerViewContent& v = m_c.playerViewContent();
        if (v.moviePlayer && !v.moviePlayer->presentationSize().isEmpty())
            sizeToMovie(movieView->currentGeometry().shownSize);
        PMMovieRepresentationPrototype* record = PMMovie(m_c._currentMovieRepresentation);
        const QString title = record ? record->displayName() : QString();
        if (title != m_title) {
            m_title = title;
            m_window->setWindowTitle(title.isEmpty() ? QObject::tr("Player") : title);
            floatingControls->setTitle(title);
        }
    }

    PMMovieView* movieView = nullptr;
    PMPlaybackControlView* bandView = nullptr;
    PMPlaybackControlWindow* floatingControls = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
        case QEvent::Show:
            if (watched == m_window)
                layout();
            break;
        case QEvent::Hide:
            if (watched == m_window)
                floatingControls->hide();
            break;
        case QEvent::Close:
            // Closing the player stops playback and leaves no current movie.
            if (watched == m_window) {
                m_c.pause();
                m_c.chooseNoMovie();
            }
            break;
        case QEvent::MouseMove:
        case QEvent::Enter:
            showControls();
            break;
        default:
            break;
        }
        return false;
    }

private:
    PMMainController& m_c;
    QPointer<PMDedicatedPlayerWindow> m_window;
    QTimer m_hideTimer;
    const void* m_sizedFor = nullptr;
    QString m_title;
};

// The keys the player window handles itself until the command keys are there.
bool handlePlayerKey(PMMainController& c, QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        c.playPause();
        return true;
    case Qt::Key_Left:
        c.windForward(false, event->modifiers() & Qt::AltModifier, false);
        return true;
    case Qt::Key_Right:
        c.windForward(true, event->modifiers() & Qt::AltModifier, false);
        return true;
    case Qt::Key_Up:
        c.increaseVolume();
        return true;
    case Qt::Key_Down:
        c.decreaseVolume();
        return true;
    case Qt::Key_Escape:
        if (c._isPresenting) {
            c.togglePresentation();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void connectControls(PMMainController& c, PMPlaybackControlView* view, PMMovieView* movieView, PlayerWindowController* controller)
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

} // namespace

void PMMainController::installPlayerWindows()
{
    if (_dedicatedPlayerWindow)
        return;
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

    auto* controller = new PlayerWindowController(*this, window);
    controller->movieView = movieView;
    controller->bandView = new PMPlaybackControlView(window);
    controller->floatingControls = new PMPlaybackControlWindow(window);
    controller->floatingControls->setParentWindow(window);
    window->awakeFromNib();

    playerViewContent();
    movieView->setContent(_playerViewContent);
    movieView->isPlaying = [this] { return isPlaying(); };
    movieView->play = [this] { play(); };
    movieView->pause = [this] { pause(); };
    movieView->togglePresentation = [this] { togglePresentation(); };
    movieView->childWindows = [controller] { return QList<QWidget*>{controller->floatingControls}; };
    PMPlaybackControlView* floatingView = controller->floatingControls->controlView();
    movieView->setPreviousMovieButton(floatingView->previousButton());
    movieView->setNextMovieButton(floatingView->nextButton());
    movieView->setPlayPauseSwitch(floatingView->playPauseSwitch());
    connectControls(*this, controller->bandView, movieView, controller);
    connectControls(*this, floatingView, movieView, controller);

    window->keyDownHandler = [this](QKeyEvent* event) { return handlePlayerKey(*this, event); };
    window->togglePresentationHandler = [this](QObject*) { togglePresentation(); };
    window->isPresenting = [this] { return _isPresenting; };
    window->canTogglePresentation = [this] { return _isPresenting || _currentMovieHasVideo; };
    window->installEventFilter(controller);
    movieView->installEventFilter(controller);
    container->installEventFilter(controller);

    playerView = movieView;
    _dedicatedPlayerWindow = window;
    _playerControlsDidChange = [controller] { controller->update(); };
    _showPlaybackControlsHook = [controller](bool) { controller->showControls(); };
    _presentationDidChange = [this, window, controller](bool presenting) {
        presenting ? window->showFullScreen() : window->showNormal();
        controller->layout();
        controller->showControls();
    };
    controller->layout();
}
