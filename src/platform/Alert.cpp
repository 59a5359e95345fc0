#include "platform/Alert.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMutex>
#include <QtGui/QGuiApplication>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace platform {

namespace {

QMutex g_handlerMutex;
AlertHandler g_handler;
std::atomic<int> g_beeps{0};
std::atomic<bool> g_unattended{false};
AlertScreen* g_screen = nullptr; // main thread

int unattendedButtonOf(const Alert& alert)
{
    if (alert.unattendedButton)
        return std::clamp(*alert.unattendedButton, -1, std::max<int>(0, int(alert.buttons.size()) - 1));
    const qsizetype cancel = alert.buttons.indexOf(QStringLiteral("Cancel"));
    return cancel > 0 ? int(cancel) : 0;
}

AlertResponse unattendedResponse(const Alert& alert, const char* why)
{
    const int button = unattendedButtonOf(alert);
    std::fprintf(stderr, "alert %s, answered with %s: %s\n", why,
                 button < 0 ? "no button" : qPrintable(QStringLiteral("\u201c%1\u201d").arg(alert.buttons.value(button, QStringLiteral("OK")))),
                 qPrintable(alert.messageText));
    return AlertResponse{button, alert.suppressionButtonChecked};
}

// A widget application (QApplication), asked by class name so that this side needs no
// widgets.
bool isWidgetApplication()
{
    QCoreApplication* application = QCoreApplication::instance();
    return application && application->inherits("QApplication");
}

} // namespace

void setAlertScreen(AlertScreen* screen)
{
    g_screen = screen;
}

void setAlertHandler(AlertHandler handler)
{
    QMutexLocker lock(&g_handlerMutex);
    g_handler = std::move(handler);
}

bool hasScreenForAlerts()
{
    if (!g_screen || !isWidgetApplication())
        return false;
    const QString platformName = QGuiApplication::platformName();
    return platformName != QLatin1String("offscreen") && platformName != QLatin1String("minimal");
}

bool alertsCanBeAnswered()
{
    if (g_unattended)
        return false;
    {
        QMutexLocker lock(&g_handlerMutex);
        if (g_handler)
            return true;
    }
    return hasScreenForAlerts();
}

void answerAlertsUnattended()
{
    g_unattended = true;
    if (g_screen)
        g_screen->endOpenAlerts();
}

int openAlertCount()
{
    return g_screen ? g_screen->openCount() : 0;
}

AlertResponse runAlert(const Alert& alert)
{
    if (g_unattended)
        return unattendedResponse(alert, "while the session ends");
    AlertHandler handler;
    {
        QMutexLocker lock(&g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        return handler(alert);

    // Without a screen nobody could answer: the answer that changes nothing, instead of
    // waiting forever.
    if (!hasScreenForAlerts())
        return unattendedResponse(alert, "without a screen");

    // What the program asked goes to the log of the session too.
    std::fprintf(stderr, "alert: %s\n", qPrintable(alert.messageText));
    bool endedUnattended = false;
    const AlertResponse response = g_screen->show(alert, &endedUnattended);
    if (endedUnattended)
        return unattendedResponse(alert, "ended as the session ends");
    return response;
}

void beep()
{
    ++g_beeps;
    if (g_screen && isWidgetApplication())
        g_screen->beep();
}

int beepCount()
{
    return g_beeps;
}

} // namespace platform
