#include "playback/PMPlayerWindows.h"

#include "foundation/PMLog.h"
#include "library/model/PMMainController.h"
#include "foundation/PMSettingsKeys.h"
#include "playback/PMPlaybackController.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMActionButtonTextField.h"
#include "ui/kit/PMAppearance.h"

#include <QtGui/QAction>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

// Bottom-up frames of a child against its parent's height, and back.
QRectF bottomUpFrame(const QWidget* child)
{
    const QRect g = child->geometry();
    const int parentHeight = child->parentWidget() ? child->parentWidget()->height() : 0;
    return QRectF(g.x(), parentHeight - g.y() - g.height(), g.width(), g.height());
}

void setBottomUpFrame(QWidget* child, const QRectF& frame)
{
    const int parentHeight = child->parentWidget() ? child->parentWidget()->height() : 0;
    child->setGeometry(QRectF(frame.x(), parentHeight - frame.y() - frame.height(), frame.width(), frame.height()).toRect());
}

const QString kFrameKey = prefs::keys::NSWindowFramePMDedicatedPlayerWindow;

} // namespace

int PMWindowVanishInterval()
{
    const qint64 seconds = settings().integerForKey(prefs::keys::WindowVanishInterval);
    return int(seconds < 1 ? 5 : seconds);
}

PMPlayerContainerView::PMPlayerContainerView(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
}

void PMPlayerContainerView::contextMenuEvent(QContextMenuEvent* event)
{
    if (contextMenuHandler) {
        contextMenuHandler(event);
        return;
    }
    // The current movie's menu, made for this click and gone when it closes.
    if (QMenu* menu = PMMainController::mainController().playbackController().contextMenuForCurrentMovie(); menu && !menu->actions().isEmpty()) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
        event->accept();
        return;
    }
    QWidget::contextMenuEvent(event);
}

QRectF PMPlayerContainerFrameForControlsPosition(QRectF frame, int o, int p)
{
    const double B = kPMPlaybackControlsBandHeight;
    if (p == o)
        return frame;
    if (p == 0) {
        frame.setHeight(frame.height() + B);
        if (o == -1)
            frame.moveTop(frame.y() - B);
    } else if (o == 0) {
        frame.setHeight(frame.height() - B);
        if (p == -1)
            frame.moveTop(frame.y() + B);
    } else {
        frame.moveTop(p == -1 ? frame.y() + B : frame.y() - B);
    }
    return frame;
}

// ---------------------------------------------------------------------------

PMPlayerWindowPrototype::PMPlayerWindowPrototype(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags | Qt::Window)
{
    setMouseTracking(true);
}

void PMPlayerWindowPrototype::setPlayerContainer(QWidget* container)
{
    if (_playerContainer) {
        PMLog("<%@> already has a player container", metaObject()->className());
        return;
    }
    _playerContainer = container;
}

void PMPlayerWindowPrototype::toggleFullScreen(QObject* sender)
{
    if (usesCustomFullScreenMode()) {
        if (togglePresentationHandler)
            togglePresentationHandler(sender);
    } else {
        isFullScreen() ? showNormal() : showFullScreen();
    }
}

bool PMPlayerWindowPrototype::validateFullScreenItem(QAction* item) const
{
    if (!usesCustomFullScreenMode())
        return true;
    const bool presenting = isPresenting && isPresenting();
    item->setText(presenting ? QObject::tr("Exit Full Screen") : QObject::tr("Enter Full Screen"));
    return canTogglePresentation ? canTogglePresentation() : false;
}

bool& PMPlayerWindowPrototype::keyDownIsOfferedByApplication()
{
    static bool offered = false;
    return offered;
}

bool PMPlayerWindowPrototype::event(QEvent* event)
{
    // Key presses go to the controller before the window's own handling.
    if (event->type() == QEvent::KeyPress && !keyDownIsOfferedByApplication() && keyDownHandler && keyDownHandler(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    // Key equivalents are never claimed here (the menus' shortcuts keep them).
    return QWidget::event(event);
}

// ---------------------------------------------------------------------------

PMPlayerWindow::PMPlayerWindow(QWidget* parent, Qt::WindowFlags flags) : PMPlayerWindowPrototype(parent, flags)
{
    updateAppearance();
}

void PMPlayerWindow::adjustPlayerContainerFrameWithPlaybackControlsPosition(int position)
{
    if (position == _playbackControlsPosition)
        return;
    if (QWidget* container = playerContainer()) {
        setBottomUpFrame(container, PMPlayerContainerFrameForControlsPosition(bottomUpFrame(container), _playbackControlsPosition, position));
        container->update();
        if (container->parentWidget())
            container->parentWidget()->update();
    }
    _playbackControlsPosition = position;
}

void PMPlayerWindow::setStatusField(PMLinkTextField* field)
{
    _statusField = field;
    updateAppearance();
}

void PMPlayerWindow::updateAppearance()
{
    if (!_statusField)
        return;
    QPalette p = _statusField->palette();
    const double white = isInFullyInvertedDarkMode(_statusField) ? 0.7 : 0.2;
    p.setColor(QPalette::WindowText, QColor::fromRgbF(float(white), float(white), float(white)));
    p.setColor(QPalette::Text, QColor::fromRgbF(float(white), float(white), float(white)));
    _statusField->setPalette(p);
    const bool active = QApplication::applicationState() == Qt::ApplicationActive && isActiveWindow();
    _statusField->setWindowOpacity(active ? 1.0 : 0.6);
    // Child widgets have no alpha of their own: the inactive look dims the text instead.
    if (!active) {
        QColor dim = p.color(QPalette::WindowText);
        dim.setAlphaF(0.6f);
        p.setColor(QPalette::WindowText, dim);
        p.setColor(QPalette::Text, dim);
        _statusField->setPalette(p);
    }
}

void PMPlayerWindow::changeEvent(QEvent* event)
{
    PMPlayerWindowPrototype::changeEvent(event);
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange)
        updateAppearance();
}

// ---------------------------------------------------------------------------

void PMDedicatedPlayerWindowFooterView::setDrawsSeparator(bool draws)
{
    if (draws == _drawsSeparator)
        return;
    _drawsSeparator = draws;
    update();
}

void PMDedicatedPlayerWindowFooterView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const bool dark = isInFullyInvertedDarkMode(this);
    painter.fillRect(event->rect(), dark && window()->isActiveWindow() ? QColor::fromRgbF(0.13f, 0.13f, 0.13f) : palette().color(QPalette::Window));
    if (_drawsSeparator) {
        const double thickness = isOnRetinaDisplay(window()) ? 0.5 : 1.0;
        painter.fillRect(QRectF(0, 0, width(), thickness), QColor::fromRgbF(0, 0, 0, 0.2f));
    }
}

// ---------------------------------------------------------------------------

PMDedicatedPlayerWindow::PMDedicatedPlayerWindow(QWidget* parent) : PMPlayerWindow(parent)
{
    setObjectName(QStringLiteral("PMDedicatedPlayerWindow"));
    setWindowTitle(QObject::tr("Player"));
    // Black from its first paint on: until the movie's first frame (and the picture's own
    // surface) is there, nothing shows through from behind.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
}

QList<QWidget*> PMDedicatedPlayerWindow::contentSubviews() const
{
    QList<QWidget*> result;
    for (QObject* child : children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow() && w != _footerView)
            result << w;
    return result;
}

void PMDedicatedPlayerWindow::awakeFromNib()
{
    if (statusField())
        statusField()->setAttribute(Qt::WA_TranslucentBackground);
    updateCanHideChrome();
    setFrameAutosaveName(this, QStringLiteral("PMDedicatedPlayerWindow"));
    const QStringList saved = settings().stringForKey(kFrameKey).split(u' ', Qt::SkipEmptyParts);
    if (saved.size() == 4) {
        const QRect frame(saved[0].toInt(), saved[1].toInt(), saved[2].toInt(), saved[3].toInt());
        if (frame.width() >= 200 && frame.height() >= 150)
            setGeometry(frame);
    }
}

void PMDedicatedPlayerWindow::saveFrame()
{
    if (!isVisible() || isFullScreen() || frameAutosaveName(this).isEmpty())
        return;
    const QRect g = geometry();
    settings().setObject(platform::Value(QStringLiteral("%1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())), kFrameKey);
}

void PMDedicatedPlayerWindow::resizeEvent(QResizeEvent* event)
{
    PMPlayerWindow::resizeEvent(event);
    saveFrame();
}

void PMDedicatedPlayerWindow::moveEvent(QMoveEvent* event)
{
    PMPlayerWindow::moveEvent(event);
    saveFrame();
}

void PMDedicatedPlayerWindow::updateAppearance()
{
    // Dark when asked always, or (unless the exception is turned off) while the window
    // floats in front; otherwise the window follows the desktop.
    const bool floats = windowFlags() & Qt::WindowStaysOnTopHint;
    const bool dark = settings().boolForKey(prefs::keys::PlayerWindowDarkAlways) ||
                      ((canHideChrome() || floats) && !settings().boolForKey(prefs::keys::PlayerWindowDarkDisableHoverException));
    if (dark != m_forcedDark) {
        m_forcedDark = dark;
        if (dark) {
            QPalette p = palette();
            p.setColor(QPalette::Window, QColor(38, 38, 38));
            p.setColor(QPalette::WindowText, QColor(230, 230, 230));
            p.setColor(QPalette::Base, QColor(30, 30, 30));
            p.setColor(QPalette::Text, QColor(230, 230, 230));
            setPalette(p);
        } else {
            setPalette(QPalette());
        }
    }
    if (_footerView)
        _footerView->update();
    PMPlayerWindow::updateAppearance();
}

void PMDedicatedPlayerWindow::updateCanHideChrome()
{
    const qint64 m = settings().integerForKey(prefs::keys::WindowPlaybackControls);
    const bool wantsHiding = m == 0 && chromeView() && !settings().boolForKey(prefs::keys::WindowPlaybackControlsCannotHideChrome);
    const bool hideFooter = wantsHiding || !settings().boolForKey(prefs::keys::WindowPlaybackControlsShowLocationBar);
    if (_footerView && _footerView->isHidden() != hideFooter) {
        const int f = _footerView->height();
        for (QWidget* view : contentSubviews()) {
            QRect g = view->geometry();
            // Hiding: the others reach down over the footer's place; showing: they give it back.
            g.setHeight(g.height() + (hideFooter ? f : -f));
            view->setGeometry(g);
        }
        _footerView->setHidden(hideFooter);
    }
    if (_footerView)
        _footerView->setDrawsSeparator(m != -1 && !_footerView->isHidden());
}

bool PMDedicatedPlayerWindow::hideChrome()
{
    return canHideChrome();
}

// ---------------------------------------------------------------------------

PMFullScreenPlayerWindow::PMFullScreenPlayerWindow(QWidget* parent) : PMPlayerWindowPrototype(parent, Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("PMFullScreenPlayerWindow"));
}
