#include "playback/PMOverlayWindows.h"

#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMAppearance.h"

#include <QtCore/QDateTime>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QScreen>

#include <algorithm>
#include <QtWidgets/QApplication>

#include <cmath>

#if __has_include(<xcb/xcb.h>)
#include <QtGui/QGuiApplication>
#include <xcb/xcb.h>
#include <dlfcn.h>
#define PM_HAVE_XCB_HEADERS 1
#endif

namespace {

constexpr double kAnimationStop = 1.0 / (1 << 23);

} // namespace

bool PMWindowSystemComposites()
{
    static const bool composites = [] {
        const QString platform = QGuiApplication::platformName();
        if (platform != u"xcb")
            return true; // Wayland always composites; offscreen draws into images
#ifdef PM_HAVE_XCB_HEADERS
        // A compositing manager owns the selection "_NET_WM_CM_S<screen>". libxcb is
        // already loaded by Qt's xcb platform; it is looked up rather than linked.
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        using InternAtom = xcb_intern_atom_cookie_t (*)(xcb_connection_t*, uint8_t, uint16_t, const char*);
        using InternAtomReply = xcb_intern_atom_reply_t* (*)(xcb_connection_t*, xcb_intern_atom_cookie_t, xcb_generic_error_t**);
        using GetOwner = xcb_get_selection_owner_cookie_t (*)(xcb_connection_t*, xcb_atom_t);
        using GetOwnerReply = xcb_get_selection_owner_reply_t* (*)(xcb_connection_t*, xcb_get_selection_owner_cookie_t, xcb_generic_error_t**);
        auto internAtom = reinterpret_cast<InternAtom>(dlsym(RTLD_DEFAULT, "xcb_intern_atom"));
        auto internAtomReply = reinterpret_cast<InternAtomReply>(dlsym(RTLD_DEFAULT, "xcb_intern_atom_reply"));
        auto getOwner = reinterpret_cast<GetOwner>(dlsym(RTLD_DEFAULT, "xcb_get_selection_owner"));
        auto getOwnerReply = reinterpret_cast<GetOwnerReply>(dlsym(RTLD_DEFAULT, "xcb_get_selection_owner_reply"));
        if (!connection || !internAtom || !internAtomReply || !getOwner || !getOwnerReply)
            return false;
        const QByteArray name = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom = internAtomReply(connection, internAtom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
        if (!atom)
            return false;
        xcb_get_selection_owner_reply_t* owner = getOwnerReply(connection, getOwner(connection, atom->atom), nullptr);
        const bool owned = owner && owner->owner != 0;
        free(owner);
        free(atom);
        return owned;
#else
        return false;
#endif
    }();
    return composites;
}

void PMDrawOnePointFrame(QPainter& painter, const QRectF& r, const QColor& color)
{
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const double x = r.x(), y = r.y(), w = r.width(), h = r.height();
    painter.fillRect(QRectF(x, y, w, 1), color);
    painter.fillRect(QRectF(x, y + h - 1, w, 1), color);
    painter.fillRect(QRectF(x, y + 1, 1, h - 2), color);
    painter.fillRect(QRectF(x + w - 1, y + 1, 1, h - 2), color);
    painter.restore();
}

// ---------------------------------------------------------------------------

void PMSelfDrawingOverlayWindowContentView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!PMWindowSystemComposites()) {
        // Nothing below shows through: the picture of the screen taken before the window
        // came, else an opaque ground.
        auto* overlay = qobject_cast<PMSelfDrawingOverlayWindow*>(window());
        if (overlay && !overlay->backdrop.isNull())
            painter.drawPixmap(rect(), overlay->backdrop);
        else
            painter.fillRect(rect(), Qt::black);
    }
    if (!flipped) {
        painter.translate(0, height());
        painter.scale(1, -1);
    }
    if (auto* overlay = qobject_cast<PMSelfDrawingOverlayWindow*>(window()))
        overlay->drawOverlayInBounds(painter, QRectF(0, 0, width(), height()), this);
}

PMSelfDrawingOverlayWindow::PMSelfDrawingOverlayWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
{
}

void PMSelfDrawingOverlayWindow::configureWindow(QWidget* window, QSizeF size, int level, bool flipContent)
{
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    if (auto* overlay = qobject_cast<PMSelfDrawingOverlayWindow*>(window))
        overlay->m_level = level;
    window->setWindowFlag(Qt::WindowStaysOnTopHint, level > 0);
    window->setWindowFlag(Qt::WindowTransparentForInput, true);
    window->setWindowFlag(Qt::NoDropShadowWindowHint, true);
    window->setAttribute(Qt::WA_TranslucentBackground, PMWindowSystemComposites());
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    auto* content = new PMSelfDrawingOverlayWindowContentView(window);
    content->setObjectName(QStringLiteral("PMSelfDrawingOverlayWindowContentView"));
    content->setGeometry(0, 0, int(size.width()), int(size.height()));
    content->setFlipped(flipContent);
    content->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The content follows the window's size.
    struct Follow : QObject {
        QWidget* content;
        explicit Follow(QWidget* c, QObject* parent) : QObject(parent), content(c) {}
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Resize)
                content->setGeometry(static_cast<QWidget*>(watched)->rect());
            return false;
        }
    };
    window->installEventFilter(new Follow(content, window));
}

PMSelfDrawingOverlayWindowContentView* PMSelfDrawingOverlayWindow::contentView() const
{
    return findChild<PMSelfDrawingOverlayWindowContentView*>(QString(), Qt::FindDirectChildrenOnly);
}

PMSelfDrawingOverlayWindow* PMSelfDrawingOverlayWindow::overlayWindowWithFrame(const QRect& frame, int level, bool flipContent)
{
    auto* window = new PMSelfDrawingOverlayWindow;
    window->setGeometry(frame);
    configureWindow(window, frame.size(), level, flipContent);
    return window;
}

PMSelfDrawingOverlayPanel* PMSelfDrawingOverlayPanel::overlayPanelWithFrame(const QRect& frame, int level, bool nonActivating, bool flipContent)
{
    auto* panel = new PMSelfDrawingOverlayPanel;
    panel->setGeometry(frame);
    configureWindow(panel, frame.size(), level, flipContent);
    (void)nonActivating; // overlays never activate: every overlay is a non-activating panel here
    return panel;
}

void PMSelfDrawingOverlayWindow::drawOverlayInBounds(QPainter& painter, const QRectF& bounds, PMSelfDrawingOverlayWindowContentView*)
{
    drawDefaultOverlay(painter, bounds);
}

void PMSelfDrawingOverlayWindow::drawDefaultOverlay(QPainter& painter, const QRectF& b)
{
    PMDrawOnePointFrame(painter, b, QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.95f));
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(b.adjusted(1, 1, -1, -1), QColor::fromRgbF(0, 0, 0, 0.13f));
    painter.restore();
}

// ---------------------------------------------------------------------------

double PMFullScreenMessageWindow::animationInterval()
{
    static const double interval = [] {
        const platform::Value stored =
            prefs::get(prefs::keys::PMFullScreenMessageWindowAnimationInterval);
        return stored.hasNumericValue() ? stored.toDouble() : 0.7;
    }();
    return interval;
}

PMFullScreenMessageWindow* PMFullScreenMessageWindow::fullscreenWindowWithMessage(const QString& message, QWidget* overView, double alphaValue,
                                                                                  MouseMovedHandler handler)
{
    QScreen* screen = overView && overView->window() ? screenForWindow(overView->window()) : QGuiApplication::primaryScreen();
    auto* window = new PMFullScreenMessageWindow;
    const QRect frame = screen ? screen->geometry() : QRect(0, 0, 800, 600);
    window->setGeometry(frame);
    configureWindow(window, frame.size(), 999, false);
    window->message = message;
    window->messageView = overView;
    window->maximumMessageHeight = -1;
    window->apertureFrame = QRectF();
    window->mouseMovedHandler = std::move(handler);
    // An overlay the user works in must show what lies below it, also where translucent
    // windows are not blended.
    if (window->mouseMovedHandler && screen && !PMWindowSystemComposites())
        window->backdrop = screen->grabWindow(0);
    if (window->mouseMovedHandler) {
        window->setWindowFlag(Qt::WindowTransparentForInput, false);
        window->setMouseTracking(true);
        window->mouseLocation = window->bottomUpPoint(QCursor::pos());
    } else {
        window->mouseLocation = QPointF(-10, -10);
    }
    window->setWindowOpacity(alphaValue);
    return window;
}

PMFullScreenMessageWindow* PMFullScreenMessageWindow::fullscreenWindowWithMessage(const QString& message)
{
    return fullscreenWindowWithMessage(message, nullptr, 0.2, nullptr);
}

PMFullScreenMessageWindow* PMFullScreenMessageWindow::fadeInFullscreenWindowWithMessage(const QString& message, double alphaValue)
{
    PMFullScreenMessageWindow* window = fullscreenWindowWithMessage(message, nullptr, 0.05, nullptr);
    orderFrontWithAlphaValue(window, alphaValue, true);
    return window;
}

void PMFullScreenMessageWindow::sizeToFit()
{
    if (QScreen* s = screenForWindow(this))
        setGeometry(s->geometry());
    if (isVisible())
        update();
}

QPointF PMFullScreenMessageWindow::bottomUpPoint(const QPointF& global) const
{
    const QPointF local = global - QPointF(geometry().topLeft());
    return QPointF(local.x(), height() - local.y());
}

QEvent::Type PMFullScreenMessageWindow::nextMouseEvent()
{
    QEventLoop loop;
    QTimer periodic;
    QObject::connect(&periodic, &QTimer::timeout, this, [this] {
        if (!apertureColor)
            update(); // the dashes march
    });
    periodic.start(10);
    m_inLoop = true;
    m_endingEvent = QEvent::None;
    qApp->installEventFilter(this);
    QObject::connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    while (m_inLoop)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    qApp->removeEventFilter(this);
    return m_endingEvent;
}

bool PMFullScreenMessageWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_inLoop)
        return PMSelfDrawingOverlayWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        mouseLocation = bottomUpPoint(static_cast<QMouseEvent*>(event)->globalPosition());
        if (mouseMovedHandler)
            mouseMovedHandler(this);
        update();
        return false;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        const int key = keyEvent->key();
        const bool modifier = key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta;
        if (modifier) {
            if (mouseMovedHandler)
                mouseMovedHandler(this);
            update();
            return false;
        }
        // Letting go of a key (the shortcut that opened the overlay, say) ends nothing.
        if (event->type() == QEvent::KeyRelease || keyEvent->isAutoRepeat())
            return true;
        lastKeyCharacters = keyEvent->text();
        if (key == Qt::Key_Return)
            lastKeyCharacters = QString(QChar(13));
        else if (key == Qt::Key_Enter)
            lastKeyCharacters = QString(QChar(3));
        else if (key == Qt::Key_Escape)
            lastKeyCharacters = QString(QChar(27));
        m_endingEvent = event->type();
        m_inLoop = false;
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        mouseLocation = bottomUpPoint(static_cast<QMouseEvent*>(event)->globalPosition());
        m_endingEvent = event->type();
        m_inLoop = false;
        return true;
    default:
        return false;
    }
}

void PMDrawMarchingRect(QPainter& painter, QRectF r, const PMApertureEdges* edges, double phase)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    r = QRectF(std::round(r.x()), std::round(r.y()), std::round(r.right()) - std::round(r.x()), std::round(r.bottom()) - std::round(r.y()));
    QPainterPath path;
    const bool line = r.width() < 3 || r.height() < 3;
    if (r.width() < 3) {
        path.moveTo(r.x() + 0.5, r.y());
        path.lineTo(r.x() + 0.5, r.y() + r.height());
    } else if (r.height() < 3) {
        path.moveTo(r.x(), r.y() + 0.5);
        path.lineTo(r.x() + r.width(), r.y() + 0.5);
    } else {
        path.addRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
    }
    for (int pass = 0; pass < 2; ++pass) {
        QPen pen(pass == 0 ? QColor::fromRgbF(1, 1, 1, 0.5f) : QColor::fromRgbF(0, 0, 0, 0.5f), 1);
        pen.setDashPattern({10, 20});
        pen.setDashOffset(30 * phase + (pass == 0 ? 0 : 15));
        painter.strokePath(path, pen);
    }
    if (!line && edges) {
        const QColor accent = backwardsCompatibleControlAccentColor();
        const double x = r.x(), y = r.y(), w = r.width(), h = r.height();
        if (edges->top)
            painter.fillRect(QRectF(x, y + h - 1, w, 1), accent);
        if (edges->right)
            painter.fillRect(QRectF(x + w - 1, y, 1, h), accent);
        if (edges->bottom)
            painter.fillRect(QRectF(x, y, w, 1), accent);
        if (edges->left)
            painter.fillRect(QRectF(x, y, 1, h), accent);
    }
    painter.restore();
}

void PMFullScreenMessageWindow::drawOverlayInBounds(QPainter& painter, const QRectF& B, PMSelfDrawingOverlayWindowContentView*)
{
    const double interval = animationInterval();
    const double phase = interval > kAnimationStop ? std::fmod(QDateTime::currentMSecsSinceEpoch() / 1000.0 / interval, 1.0) : 0.0;
    // The message rectangle: the message view's area in this window, else everything.
    QRectF M = B;
    if (messageView && messageView->window()) {
        const QRect global(messageView->mapToGlobal(QPoint(0, 0)), messageView->size());
        const QPointF bottomLeft = bottomUpPoint(QPointF(global.bottomLeft()) + QPointF(0, 1));
        M = QRectF(bottomLeft.x(), bottomLeft.y(), global.width(), global.height());
    }
    QPointF P = mouseLocation;
    const QColor tint = tintColor();
    const QRectF A = apertureFrame;
    QRectF messageRect;
    if (A.isEmpty()) {
        painter.fillRect(M, tint);
        if (messageView && messageView->window() && !prefs::get(prefs::keys::UnrestrictedCrosshairs)) {
            P.setX(std::clamp(P.x(), M.x(), M.x() + M.width() - 1));
            P.setY(std::clamp(P.y(), M.y(), M.y() + M.height() - 1));
        }
        if (B.width() > 24 && B.height() > 24) {
            PMDrawMarchingRect(painter, QRectF(P.x(), B.y(), 1, B.height()), nullptr, phase);
            PMDrawMarchingRect(painter, QRectF(B.x(), P.y(), B.width(), 1), nullptr, phase);
        }
        messageRect = M;
    } else {
        // Four strips around the aperture that do not overlap (a translucent tint painted
        // twice would light the corners).
        const double left = std::clamp(A.x(), M.x(), M.x() + M.width());
        const double right = std::clamp(A.x() + A.width(), left, M.x() + M.width());
        const double bottom = std::clamp(A.y(), M.y(), M.y() + M.height());
        const double top = std::clamp(A.y() + A.height(), bottom, M.y() + M.height());
        painter.fillRect(QRectF(M.x(), M.y(), left - M.x(), M.height()), tint);
        painter.fillRect(QRectF(right, M.y(), M.x() + M.width() - right, M.height()), tint);
        painter.fillRect(QRectF(left, M.y(), right - left, bottom - M.y()), tint);
        painter.fillRect(QRectF(left, top, right - left, M.y() + M.height() - top), tint);
        if (apertureColor) {
            PMDrawOnePointFrame(painter, A, *apertureColor);
        } else {
            if (drawsHalfApertureFrameLines && A.width() > 24 && A.height() > 24) {
                PMDrawMarchingRect(painter, QRectF(A.x() + A.width() / 2, A.y(), 1, A.height()), nullptr, phase);
                PMDrawMarchingRect(painter, QRectF(A.x(), A.y() + A.height() / 2, A.width(), 1), nullptr, phase);
            }
            const double a = A.width() / A.height();
            for (double r : noteworthyApertureAspectRatios) {
                if (r > a) {
                    const double hr = A.width() / r;
                    if (hr > 5 && A.height() - hr > 5) {
                        const double y0 = A.y() + (A.height() - hr) / 2;
                        PMDrawMarchingRect(painter, QRectF(A.x(), y0, A.width(), 1), nullptr, phase);
                        PMDrawMarchingRect(painter, QRectF(A.x(), y0 + hr - 1, A.width(), 1), nullptr, phase);
                    }
                } else {
                    const double wr = A.height() * r;
                    if (wr > 5 && A.width() - wr > 5) {
                        const double x0 = A.x() + (A.width() - wr) / 2;
                        PMDrawMarchingRect(painter, QRectF(x0, A.y(), 1, A.height()), nullptr, phase);
                        PMDrawMarchingRect(painter, QRectF(x0 + wr - 1, A.y(), 1, A.height()), nullptr, phase);
                    }
                }
            }
            PMDrawMarchingRect(painter, A, &apertureFrameEmphasizedEdges, phase);
        }
        messageRect = A;
    }
    if (messageRect.width() > 50 && messageRect.height() > 15 && !message.isEmpty()) {
        painter.save();
        // Text reads top-down: undo the bottom-up flip inside the target rectangle.
        painter.translate(0, 2 * messageRect.y() + messageRect.height());
        painter.scale(1, -1);
        fitAndDrawInRect(painter, message, messageRect, nullptr, apertureColor.value_or(QColor::fromRgbF(1, 1, 1, 0.7f)), nullptr,
                         maximumMessageHeight > 0 ? maximumMessageHeight : 1e6);
        painter.restore();
    }
}
