#include "ui/kit/NSWindow+PMExtensions.h"

#include "foundation/PMLog.h"
#include "platform/InterfaceFiles.h"
#include "platform/PlatformProfile.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/NSView+PMExtensions.h"

#include <QtCore/QPropertyAnimation>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QWidget>

#include <cmath>

using platform::UserDefaults;

namespace {

const char* const kFadingStatusProperty = "PMWindowFadingStatus";
const char* const kChildWindowProperty = "PMChildWindow";
const char* const kAutosaveNameProperty = "PMFrameAutosaveName";
const QString kFadeAnimationName = QStringLiteral("PMWindowFadeAnimation");
const QString kAccessoryName = QStringLiteral("PMTitlebarAccessory");
constexpr double kMinimumAnimatedDuration = 0.05;

// The alpha animation of a window. A new fade overtakes the running one; the running
// one's completion still runs (as when an animation is interrupted) and finds the
// status changed.
class FadeAnimation : public QPropertyAnimation {
public:
    FadeAnimation(QWidget* window, std::function<void()> completion)
        : QPropertyAnimation(window, "windowOpacity", window), m_completion(std::move(completion))
    {
        setObjectName(kFadeAnimationName);
        connect(this, &QAbstractAnimation::finished, this, [this] { complete(); });
    }
    void complete()
    {
        setObjectName(QString());
        std::function<void()> completion = std::move(m_completion);
        m_completion = nullptr;
        deleteLater();
        if (completion)
            completion();
    }
    void overtake()
    {
        disconnect(this, &QAbstractAnimation::finished, this, nullptr);
        stop();
        complete();
    }

private:
    std::function<void()> m_completion;
};

void overtakeRunningFade(QWidget* window)
{
    if (auto* running = window->findChild<FadeAnimation*>(kFadeAnimationName, Qt::FindDirectChildrenOnly))
        running->overtake();
}

void animateAlpha(QWidget* window, double alpha, double duration, std::function<void()> completion)
{
    overtakeRunningFade(window);
    auto* animation = new FadeAnimation(window, std::move(completion));
    animation->setDuration(std::max(1, int(std::lround(duration * 1000))));
    animation->setStartValue(window->windowOpacity());
    animation->setEndValue(alpha);
    animation->start();
}

bool canBecomeKey(const QWidget* window)
{
    return !window->testAttribute(Qt::WA_ShowWithoutActivating) && !(window->windowFlags() & Qt::WindowDoesNotAcceptFocus);
}

// Closes a window; a window that stays (not deleted on close) is opaque again, so that
// showing it later shows it.
void closeFadedWindow(QWidget* window)
{
    QPointer<QWidget> guard(window);
    window->close();
    if (guard && !guard->isVisible())
        guard->setWindowOpacity(1.0);
}

// Waits for the next key press, click or scroll anywhere in the application.
class NextEventWatcher : public QObject {
public:
    explicit NextEventWatcher(QWidget* window) : QObject(window), m_window(window)
    {
        qApp->installEventFilter(this);
        QTimer::singleShot(60000, this, [this] { finish(); });
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            // The event goes on to its receiver; the window fades once it was handled.
            QTimer::singleShot(0, this, [this] { finish(); });
            qApp->removeEventFilter(this);
            break;
        default:
            break;
        }
        return false;
    }

private:
    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        qApp->removeEventFilter(this);
        if (m_window)
            fadeOutAndClose(m_window);
        deleteLater();
    }
    QPointer<QWidget> m_window;
    bool m_done = false;
};

} // namespace

bool vintageStyleLoadNibNamed(const QString& name, QObject* owner)
{
    // Nothing deletes the built window: it is kept for good, as its owner expects.
    return platform::loadInterface(name, owner) != nullptr;
}

QScreen* screenForWindow(const QWidget* window)
{
    QScreen* screen = window ? window->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

double notchGap(const QScreen*)
{
    // Linux screens report no safe area at their top.
    static_assert(!platform::profile::screensMayHaveNotch);
    return 0.0;
}

QRect visibleFrameWithExtraDockSpacing(const QRect& screenFrame, const QRect& visibleFrame, int extraSpacing)
{
    QRect frame = visibleFrame;
    if (extraSpacing < 1)
        return frame;
    if (frame.left() - screenFrame.left() > 10)
        frame.setLeft(frame.left() + extraSpacing);
    if (screenFrame.right() - frame.right() > 10)
        frame.setRight(frame.right() - extraSpacing);
    if (screenFrame.bottom() - frame.bottom() > 10)
        frame.setBottom(frame.bottom() - extraSpacing);
    return frame;
}

QRect visibleFrameWithExtraDockSpacing(const QScreen* screen)
{
    if (!screen)
        return {};
    const int spacing = int(prefs::get(prefs::keys::PMVisibleFrameExtraDockSpacing));
    return visibleFrameWithExtraDockSpacing(screen->geometry(), screen->availableGeometry(), spacing);
}

void setChildWindow(QWidget* window, bool isChild)
{
    if (window)
        window->setProperty(kChildWindowProperty, isChild ? QVariant(true) : QVariant());
}

bool isChildWindow(const QWidget* window)
{
    return window && window->property(kChildWindowProperty).toBool();
}

int windowFadingStatus(const QWidget* window)
{
    return window ? window->property(kFadingStatusProperty).toInt() : 0;
}

void setWindowFadingStatus(QWidget* window, int status)
{
    if (window)
        window->setProperty(kFadingStatusProperty, status == 0 ? QVariant() : QVariant(status));
}

double windowFadingDuration(const QWidget* window)
{
    const QVariant own = window ? window->property("windowFadingDuration") : QVariant();
    if (own.isValid())
        return own.toDouble();
    const platform::Value setting = prefs::get(prefs::keys::PMWindowFadingDuration);
    if (setting.isNumber())
        return setting.toDouble();
    return 0.15;
}

void setAlphaValue(QWidget* window, double alpha, bool orderFront, bool fadeIn, PMWindowCompletionHandler completionHandler)
{
    if (!window)
        return;
    const int status = windowFadingStatus(window);
    bool animated = status != 0 || fadeIn;
    double duration = 0.01; // overtaking a running fade
    if (status == 0 && fadeIn) {
        duration = windowFadingDuration(window);
        if (duration < kMinimumAnimatedDuration)
            animated = false;
    }
    if (animated && !window->isVisible() && !isChildWindow(window))
        window->setWindowOpacity(0.0);
    if (orderFront && !isChildWindow(window)) {
        window->show();
        window->raise();
        if (canBecomeKey(window))
            window->activateWindow();
    }
    if (!animated) {
        overtakeRunningFade(window);
        setWindowFadingStatus(window, 0);
        window->setWindowOpacity(alpha);
        if (completionHandler)
            completionHandler();
        return;
    }
    setWindowFadingStatus(window, 1);
    QPointer<QWidget> guard(window);
    animateAlpha(window, alpha, duration, [guard, completionHandler] {
        if (!guard || windowFadingStatus(guard) != 1)
            return;
        setWindowFadingStatus(guard, 0);
        if (completionHandler)
            completionHandler();
    });
}

void fadeInWithAlphaValue(QWidget* window, double alpha)
{
    setAlphaValue(window, alpha, false, true, nullptr);
}

void stopFadingOutAndSetAlphaValue(QWidget* window, double alpha)
{
    setAlphaValue(window, alpha, false, false, nullptr);
}

void orderFrontWithAlphaValue(QWidget* window, double alpha, bool fadeIn, PMWindowCompletionHandler completionHandler)
{
    setAlphaValue(window, alpha, true, fadeIn, std::move(completionHandler));
}

void orderFrontWithAlphaValue(QWidget* window, double alpha, bool fadeIn)
{
    setAlphaValue(window, alpha, true, fadeIn, nullptr);
}

void orderFrontAndFadeIn(QWidget* window)
{
    setAlphaValue(window, 1.0, true, true, nullptr);
}

void fadeOutAndCloseWithCompletionHandler(QWidget* window, PMWindowCompletionHandler completionHandler)
{
    if (!window || windowFadingStatus(window) == 2)
        return;
    const double duration = windowFadingDuration(window);
    if (duration < kMinimumAnimatedDuration) {
        // A fade-in still running must not finish after the close.
        setWindowFadingStatus(window, 0);
        overtakeRunningFade(window);
        if (isChildWindow(window))
            window->setWindowOpacity(0.0);
        else
            closeFadedWindow(window);
        if (completionHandler)
            completionHandler();
        return;
    }
    setWindowFadingStatus(window, 2);
    QPointer<QWidget> guard(window);
    animateAlpha(window, 0.0, duration, [guard, completionHandler] {
        if (!guard || windowFadingStatus(guard) != 2)
            return;
        setWindowFadingStatus(guard, 0);
        if (!isChildWindow(guard))
            closeFadedWindow(guard);
        if (completionHandler)
            completionHandler();
    });
}

void fadeOutAndClose(QWidget* window)
{
    fadeOutAndCloseWithCompletionHandler(window, nullptr);
}

void fadeOutAndCloseAfterNextEvent(QWidget* window)
{
    if (window)
        new NextEventWatcher(window);
}

void closeRegardless(QWidget* window)
{
    if (window)
        window->close();
}

void setFrameAutosaveName(QWidget* window, const QString& name)
{
    if (window)
        window->setProperty(kAutosaveNameProperty, name.isEmpty() ? QVariant() : QVariant(name));
}

QString frameAutosaveName(const QWidget* window)
{
    return window ? window->property(kAutosaveNameProperty).toString() : QString();
}

void center(QWidget* window)
{
    if (!window)
        return;
    if (isChildWindow(window) && window->parentWidget()) {
        center(window->parentWidget()->window());
        return;
    }
    const Qt::WindowType type = window->windowType();
    const bool hasTitleBar = !(window->windowFlags() & Qt::FramelessWindowHint) && type != Qt::Popup && type != Qt::ToolTip &&
                             type != Qt::SplashScreen;
    if (type == Qt::Sheet || !hasTitleBar)
        return;
    const QRect area = visibleFrameWithExtraDockSpacing(screenForWindow(window));
    if (area.isEmpty())
        return;
    // The frame (title bar included) is what is centred.
    const QRect frame = window->frameGeometry();
    const QPoint offset = window->pos() - frame.topLeft();
    const QPoint topLeft(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
    window->move(QPoint(std::max(topLeft.x(), area.x()), std::max(topLeft.y(), area.y())) + offset);
}

void centerOnce(QWidget* window)
{
    if (!window)
        return;
    const QString name = frameAutosaveName(window);
    if (name.isEmpty()) {
        center(window);
        return;
    }
    const QString key = QStringLiteral("NSWindow+PMExtensions Centered %1").arg(name);
    UserDefaults& defaults = UserDefaults::standard();
    if (defaults.boolForKey(key))
        return;
    center(window);
    defaults.setBool(true, key);
}

void updateFrameWithHeightFittingSubviewsOfView(QWidget* window, QWidget* view, double bottomMargin, bool /*checkSubviews*/, bool animate)
{
    if (!window || !view)
        return;
    // Plain container views are always measured by their contents: the windows that fit
    // their height rely on it whichever form they call.
    const double difference = heightDifferenceNecessaryToFitSubviewsWithBottomMargin(view, bottomMargin, nullptr, true);
    if (std::abs(difference) <= 0.5)
        return;
    QRect frame = window->geometry();
    frame.setHeight(std::max(1, int(std::lround(frame.height() - difference))));
    if (animate && window->isVisible()) {
        auto* animation = new QPropertyAnimation(window, "geometry", window);
        animation->setDuration(200);
        animation->setEndValue(frame);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        window->setGeometry(frame);
    }
    window->update();
}

void updateFrameWithHeightFittingSubviewsOfView(QWidget* window, QWidget* view, double bottomMargin, bool animate)
{
    updateFrameWithHeightFittingSubviewsOfView(window, view, bottomMargin, false, animate);
}

void makeViewFirstResponderIfAppropriate(QWidget* window, QWidget* view)
{
    if (window && view && view->window() == window)
        view->setFocus(Qt::OtherFocusReason);
}

bool isFullscreenContentWindow(const QWidget* window)
{
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        return false;
    const QRect content(window->mapToGlobal(QPoint(0, 0)), window->size());
    return content == screen->geometry();
}

// ---- Title-bar accessories ----

namespace {

// Keeps the accessories in the top right corner of their window.
class AccessoryLayout : public QObject {
public:
    explicit AccessoryLayout(QWidget* window) : QObject(window), m_window(window)
    {
        setObjectName(QStringLiteral("PMTitlebarAccessoryLayout"));
        window->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
            relayout();
        return false;
    }
    void relayout()
    {
        int right = m_window->width();
        const QList<QWidget*> accessories = m_window->findChildren<QWidget*>(kAccessoryName, Qt::FindDirectChildrenOnly);
        for (QWidget* accessory : accessories) {
            right -= accessory->width();
            accessory->move(right, 0);
            accessory->raise();
        }
    }

private:
    QWidget* m_window;
};

void relayoutAccessories(QWidget* window)
{
    auto* layout = window->findChild<AccessoryLayout*>(QStringLiteral("PMTitlebarAccessoryLayout"), Qt::FindDirectChildrenOnly);
    if (!layout)
        layout = new AccessoryLayout(window);
    layout->relayout();
}

} // namespace

QWidget* titlebarAccessoryViewControllerForView(const QWidget* window, const QWidget* view)
{
    if (!window || !view)
        return nullptr;
    QWidget* container = view->parentWidget();
    if (container && container->objectName() == kAccessoryName && container->parentWidget() == window)
        return container;
    return nullptr;
}

void addTitlebarView(QWidget* window, QWidget* view, const QSizeF& size, const QSizeF& padding, bool correctPaddingAutomatically)
{
    if (!window || !view)
        return;
    if (QWidget* previous = view->parentWidget(); previous && previous->objectName() == kAccessoryName)
        removeTitlebarView(previous->parentWidget(), view);
    QSizeF pad = padding;
    if (size.width() < 0.1) {
        view->adjustSize();
        if (view->pos() != QPoint(0, 0))
            view->move(0, 0);
    } else {
        view->setGeometry(0, 0, int(std::lround(size.width())), int(std::lround(size.height())));
    }
    if (correctPaddingAutomatically && platform::profile::centersTitlebarAccessories)
        pad.setHeight(std::max(0.0, std::floor((platform::profile::titlebarHeight - view->height()) / 2.0)));
    auto* container = new QWidget(window);
    container->setObjectName(kAccessoryName);
    container->resize(int(std::lround(view->width() + pad.width())), int(std::lround(view->height() + pad.height())));
    view->setParent(container);
    // The padding lies above and to the right of the view.
    view->move(0, int(std::lround(pad.height())));
    view->show();
    container->show();
    relayoutAccessories(window);
}

void addTitlebarView(QWidget* window, QWidget* view, const QSizeF& size, const QSizeF& padding)
{
    addTitlebarView(window, view, size, padding, true);
}

void addTitlebarView(QWidget* window, QWidget* view, const QSizeF& padding)
{
    addTitlebarView(window, view, QSizeF(0, 0), padding, true);
}

void removeTitlebarView(QWidget* window, QWidget* view)
{
    QWidget* container = titlebarAccessoryViewControllerForView(window, view);
    if (!container)
        return;
    view->hide();
    view->setParent(nullptr);
    delete container;
    relayoutAccessories(window);
}

void removeAndDereferenceTitlebarView(QWidget* window, QPointer<QWidget>& view)
{
    if (!view)
        return;
    QWidget* removed = view;
    removeTitlebarView(window, removed);
    view = nullptr;
    removed->deleteLater();
}

QPushButton* addTitlebarButtonWithTitle(QWidget* window, const QString& title, const QString& action, QObject* target)
{
    // The title as it reads: an "&" in it is no shortcut letter.
    auto* button = new QPushButton(platform::escapedMenuTitle(title));
    button->setFont(PMSystemFontOfSize(platform::profile::titlebarButtonFontSize));
    button->setProperty("PMControlSize", 1);
    QPointer<QObject> receiver(target);
    const bool hasTarget = target != nullptr;
    QObject::connect(button, &QPushButton::clicked, button, [button, action, receiver, hasTarget] {
        if (hasTarget && !receiver)
            return;
        platform::sendAction(action, button, receiver.data());
    });
    addTitlebarView(window, button, QSizeF(0, 0),
                    QSizeF(platform::profile::titlebarButtonPaddingWidth, platform::profile::titlebarButtonPaddingHeight), true);
    return button;
}
