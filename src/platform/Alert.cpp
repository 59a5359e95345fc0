#include "platform/Alert.h"

#include <QtCore/QMutex>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

QMutex g_handlerMutex;
AlertHandler g_handler;
std::atomic<int> g_beeps{0};

} // namespace

void setAlertHandler(AlertHandler handler)
{
    QMutexLocker lock(&g_handlerMutex);
    g_handler = std::move(handler);
}

bool hasScreenForAlerts()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString platformName = QGuiApplication::platformName();
    return platformName != QLatin1String("offscreen") && platformName != QLatin1String("minimal");
}

bool alertsCanBeAnswered()
{
    {
        QMutexLocker lock(&g_handlerMutex);
        if (g_handler)
            return true;
    }
    return hasScreenForAlerts();
}

AlertResponse runAlert(const Alert& alert)
{
    AlertHandler handler;
    {
        QMutexLocker lock(&g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        return handler(alert);

    // Without a screen nobody could answer: take the default button instead of waiting forever.
    if (!hasScreenForAlerts()) {
        std::fprintf(stderr, "alert without a screen, taking the default button: %s\n", qPrintable(alert.messageText));
        return AlertResponse{0, alert.suppressionButtonChecked};
    }

    QMessageBox box(alert.window);
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    if (!alert.accessoryText.isEmpty())
        box.setDetailedText(alert.accessoryText);
    switch (alert.style) {
    case AlertStyle::Warning: box.setIcon(QMessageBox::Warning); break;
    case AlertStyle::Informational: box.setIcon(QMessageBox::Information); break;
    case AlertStyle::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < titles.size(); ++i) {
        // The first button is the default; a button titled "Cancel" (or the second one)
        // answers Escape, as people expect of such alerts.
        const auto role = i == 0 ? QMessageBox::AcceptRole
                                 : (titles[i] == QLatin1String("Cancel") ? QMessageBox::RejectRole : QMessageBox::ActionRole);
        buttons << box.addButton(titles[i], role);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    for (int i = 0; i < titles.size(); ++i)
        if (titles[i] == QLatin1String("Cancel"))
            box.setEscapeButton(buttons[i]);
    QCheckBox* suppression = nullptr;
    if (alert.showsSuppressionButton) {
        suppression = new QCheckBox(alert.suppressionButtonTitle.isEmpty() ? QStringLiteral("Do not show this message again")
                                                                           : alert.suppressionButtonTitle);
        suppression->setChecked(alert.suppressionButtonChecked);
        box.setCheckBox(suppression);
    }
    if (alert.window)
        box.setWindowModality(Qt::WindowModal);
    box.exec();
    AlertResponse response;
    response.button = std::max<int>(0, int(buttons.indexOf(box.clickedButton())));
    response.suppressed = suppression && suppression->isChecked();
    return response;
}

void beep()
{
    ++g_beeps;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}

int beepCount()
{
    return g_beeps;
}

} // namespace platform
