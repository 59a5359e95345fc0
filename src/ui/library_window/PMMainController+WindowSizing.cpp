// Bringing the main window and the player's window to the front, and sizing windows: the
// main window's minimum size, the stored size of its player area, resizing a window so
// that its player area gets a wanted size within the screen, the player at the current
// magnification, and the zoom frame that fits the movie to the screen.
#include "library/model/PMMainController.h"
#include <QtWidgets/QStackedWidget>

#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlayerWindowGeometry.h"
#include "playback/PMPlayerWindows.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <QtCore/QDateTime>
#include <QtCore/QEvent>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QLayout>
#include <QtWidgets/QWidget>

#include <cmath>

namespace {

// Set on the library window when its saved frame was restored (read by the start-up
// sizing in PMMainController+WindowSizing.cpp and PMMainController+MainWindow.cpp).
constexpr const char* kPMMainWindowFrameRestoredProperty = "PMMainWindowFrameRestored";

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

// The screen's visible frame, bottom-up, less the room the window manager's decoration
// takes around the window (the title bar above, the borders at the sides and below), so
// that the whole window stays on the screen.
QRectF visibleFrameFor(const QWidget* window)
{
    QRect visible = visibleFrameWithExtraDockSpacing(screenForWindow(window));
    const QRect content = window->geometry(), frame = window->frameGeometry();
    const QMargins decoration(content.left() - frame.left(), content.top() - frame.top(), frame.right() - content.right(),
                              frame.bottom() - content.bottom());
    const bool plausible = decoration.left() >= 0 && decoration.top() >= 0 && decoration.right() >= 0 && decoration.bottom() >= 0
                           && decoration.left() + decoration.right() < visible.width() / 2
                           && decoration.top() + decoration.bottom() < visible.height() / 2;
    if (plausible)
        visible = visible.marginsRemoved(decoration);
    return PMBottomUpFromGlobal(visible);
}

} // namespace

void PMMainController::showMainWindow()
{
    bringMainWindowToFront();
}

bool PMMainController::showPlayerWindowIfNotVisible(bool onlyWhenNotVisible)
{
    if (_isPresenting && !settings().boolForKey(prefs::keys::PresentOnSeparateSpace))
        return true;
    if (_currentMovieRepresentation.isNull())
        return false;
    QWidget* window = playerWindow();
    if (!window)
        return false;
    if (onlyWhenNotVisible && window->isVisible())
        return true;
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void PMMainController::showMainOrPlayerWindowIfNotVisible()
{
    if (!showPlayerWindowIfNotVisible(true))
        showMainWindowIfNotVisible();
}

bool PMMainController::isSidebarAccessible()
{
    return !_isPresenting && !settings().boolForKey(prefs::keys::HideLibrary);
}

void PMMainController::updateMainWindowMinimumSizeAndLibraryListWidthConstraints()
{
    QWidget* container = mainWindowPlayerContainer();
    if (!_mainWindow || !container)
        return;
    // The right-hand side holding the player never gets narrower than the player's floor.
    QWidget* right = container->parentWidget() ? container->parentWidget() : container;
    const int x = container->mapTo(right, QPoint(0, 0)).x();
    // The header above the grid keeps its controls in sight: the view-mode buttons, a
    // little of the status, the tile-size slider and the search field (at its narrowest).
    int rightMinimum = int(kPMMinimumPlayerWidth);
    if (auto* main = qobject_cast<PMMainWindow*>(_mainWindow.data())) {
        QWidget* cover = groupViewCoverModeButton;
        QWidget* header = cover ? cover->parentWidget() : nullptr;
        if (cover && header && !cover->isHidden()) {
            int need = cover->geometry().right() + 1 + 12 + 40 + 120 + 10;
            if (QWidget* slider = main->previewSizeSliderView(); slider && !slider->isHidden())
                need += slider->width() + 30;
            // The header's own place in the right-hand side, when it does not span it all.
            need += right->width() - header->width();
            rightMinimum = std::max(rightMinimum, need);
        }
    }
    const int width = rightMinimum + _mainWindow->width() + x - right->width();
    _mainWindow->setMinimumSize(std::max(0, width), int(kPMMinimumPlayerHeight));
}

void PMMainController::saveMainWindowSize()
{
    if (!_mainWindow)
        return;
    double y = 0;
    const QSizeF size = playerAreaSizeOfWindow(_mainWindow, &y);
    if (size.width() < 1 || size.height() < 1)
        return;
    settings().setObject(platform::Value(PMStringFromSize(QSizeF(size.width(), size.height() + y))), prefs::keys::CustomSize);
}

QSizeF PMMainController::storedMainWindowSize()
{
    const QString key = QStringLiteral("Custom Size");
    std::optional<QSizeF> size = PMSizeFromString(settings().stringForKey(key));
    // A size smaller than any player can be was never a real one (earlier versions measured a
    // place that had not been laid out): restoring it would shrink the window to a strip.
    if (!size || size->width() < kPMMinimumPlayerWidth || size->height() < kPMMinimumPlayerHeight
        || settings().boolForKey(prefs::keys::AlwaysApplyDefaultPlayerSize)) {
        size = QSizeF(640, 538);
        settings().setObject(platform::Value(PMStringFromSize(*size)), key);
    }
    return *size;
}

void PMMainController::restoreMainWindowSize(QSizeF size)
{
    if (!_mainWindow)
        return;
    resizeWindow(_mainWindow, size, true);
    updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
}

void PMMainController::restoreMainWindowSizeAfterFirstLayout(QSizeF size)
{
    if (!_mainWindow)
        return;
    // A window whose own frame came back keeps it: the player area's size was stored from
    // that frame, but measured in whatever state the window was then (a scope bar shown, the
    // player in place of the grid), and resizing to it made the height drift from run to
    // run. The stored size applies to a first window, or when it is to be applied always.
    if (_mainWindow->property(kPMMainWindowFrameRestoredProperty).toBool()
        && !settings().boolForKey(prefs::keys::AlwaysApplyDefaultPlayerSize))
        return;
    const auto restore = [size] { PMMainController::mainController().restoreMainWindowSize(size); };
    // Waits for the window's first showing, then for the turn of the event loop after it,
    // when the layout has given the player's place its size.
    class FirstShow : public QObject {
    public:
        FirstShow(QObject* parent, std::function<void()> run) : QObject(parent), m_run(std::move(run)) {}
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Show) {
                watched->removeEventFilter(this);
                QTimer::singleShot(0, watched, m_run);
                deleteLater();
            }
            return false;
        }

    private:
        std::function<void()> m_run;
    };
    if (_mainWindow->isVisible())
        QTimer::singleShot(0, _mainWindow, restore);
    else
        _mainWindow->installEventFilter(new FirstShow(_mainWindow, restore));
}

QSizeF PMMainController::playerAreaSizeOfWindow(QWidget* window, double* getY)
{
    if (getY)
        *getY = 0;
    if (!window)
        return {};
    // The window system confirms a window's new size later; its layout already knows it.
    if (QLayout* layout = window->layout()) {
        layout->invalidate();
        layout->activate();
    }
    QWidget* area = nullptr;
    if (playerView && playerView->window() == window) {
        updatePlayerViewFrame();
        area = playerView;
    } else if (window == _mainWindow.data()) {
        area = mainWindowPlayerContainer();
    } else if (auto* player = qobject_cast<PMPlayerWindowPrototype*>(window); player && player->playerContainer()) {
        area = player->playerContainer();
    }
    // While the grid or the list holds the place, the player's container is a page not
    // laid out: the place itself (the page stack) has the size the player gets. (The
    // library window is a player window too: its container is such a page.)
    if (area && area->isHidden() && qobject_cast<QStackedWidget*>(area->parentWidget()))
        area = area->parentWidget();
    if (!area)
        return {};
    if (getY)
        *getY = window->height() - area->mapTo(window, QPoint(0, area->height())).y();
    return QSizeF(area->size());
}

void PMMainController::resizeWindow(QWidget* window, QSizeF size, bool isMainWindowSize)
{
    QWidget* w = window ? window : playerWindow() ? playerWindow() : _mainWindow.data();
    if (!w || w->isFullScreen())
        return;
    if (w->isMaximized())
        w->showNormal();
    PMResizeWindowRequest r;
    r.frame = PMBottomUpFromGlobal(w->geometry());
    r.container = playerAreaSizeOfWindow(w, &r.containerY);
    r.wanted = size;
    r.isMainWindowSize = isMainWindowSize;
    r.visible = visibleFrameFor(w);
    r.isMainWindow = w == _mainWindow.data();
    r.resizeFromLeft = settings().boolForKey(prefs::keys::PlayerWidthResizeFromLeft);
    if (w == playerWindow() && !_currentMovieRepresentation.isNull())
        r.zoomFrame = [this] { return playerWindowZoomFrameWithAspectRatioLock(true, false, true); };
    const QRect frame = PMGlobalFromBottomUp(PMResizedWindowFrame(r));
    _programmaticResizeMSecs = QDateTime::currentMSecsSinceEpoch();
    w->setGeometry(frame);
    updatePlayerViewFrame();
}

QSizeF PMMainController::currentPictureNaturalSize()
{
    const PMPlayerViewContent& v = playerViewContent();
    if (auto* view = qobject_cast<PMMovieView*>(playerView.data())) {
        const QSizeF shown = view->currentGeometry().shownSize;
        if (!shown.isEmpty())
            return shown;
    }
    if (v.movieReplacingImage)
        return v.movieReplacingImage->associatedNaturalSize.isEmpty() ? v.movieReplacingImage->size() : v.movieReplacingImage->associatedNaturalSize;
    if (PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation))
        if (const PMPlaybackMoviePtr movie = PMExistingMovieOfRecord(record))
            return movie->naturalSize();
    return {};
}

void PMMainController::resizePlayerWindowForCurrentMagnification()
{
    const QSizeF natural = currentPictureNaturalSize();
    if (natural.isEmpty())
        return;
    resizeWindow(nullptr, QSizeF(std::round(natural.width() * _currentMagnification), std::round(natural.height() * _currentMagnification)), false);
}

QRectF PMMainController::playerWindowZoomFrameWithAspectRatioLock(bool lock, bool center, bool changeMagnificationSetting)
{
    QWidget* w = playerWindow();
    if (!w) {
        QScreen* first = QGuiApplication::screens().isEmpty() ? nullptr : QGuiApplication::screens().first();
        return PMBottomUpFromGlobal(visibleFrameWithExtraDockSpacing(first));
    }
    std::optional<QSizeF> natural;
    if (_currentMovieHasVideo)
        if (const QSizeF size = currentPictureNaturalSize(); !size.isEmpty())
            natural = size;
    const PMZoomFrame zoom = PMPlayerWindowZoomFrame(visibleFrameFor(w), PMBottomUpFromGlobal(w->geometry()), playerAreaSizeOfWindow(w), natural,
                                                     lock, center);
    if (changeMagnificationSetting && zoom.playerWidth && natural)
        _currentMagnification = *zoom.playerWidth / std::max(1.0, natural->width());
    return zoom.frame;
}

void PMMainController::fitPlayerWindowToScreen()
{
    QWidget* w = playerWindow();
    if (!w || w->isFullScreen())
        return;
    const QRect frame = PMGlobalFromBottomUp(playerWindowZoomFrameWithAspectRatioLock(_isAspectRatioLocked, true, true));
    _programmaticResizeMSecs = QDateTime::currentMSecsSinceEpoch();
    w->setGeometry(frame);
    updatePlayerViewFrame();
}
