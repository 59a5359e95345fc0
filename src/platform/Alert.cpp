#include "platform/Alert.h"

#include "platform/AlertBox.h"
#include "platform/Responder.h"

#include <QtCore/QMutex>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace platform {

namespace {

QMutex g_handlerMutex;
AlertHandler g_handler;
std::atomic<int> g_beeps{0};
std::atomic<bool> g_unattended{false};

// An alert on the screen, and whether it was ended for nobody.
struct OpenAlert {
    QMessageBox* box;
    bool endedUnattended = false;
};
std::vector<OpenAlert*> g_openAlerts; // main thread

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
    for (OpenAlert* open : g_openAlerts) {
        open->endedUnattended = true;
        open->box->QDialog::done(QDialog::Rejected);
    }
    // Panels and other questions asked in dialogs of their own are cancelled.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible() && dialog->isModal() && !qobject_cast<QMessageBox*>(dialog))
            dialog->reject();
}

int openAlertCount()
{
    return int(g_openAlerts.size());
}

void buildAlertBox(QMessageBox& box, const Alert& alert, QList<QAbstractButton*>* getButtons, QCheckBox** getSuppression)
{
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
        // Titles are the program's texts, shown as they are: an "&" ("Move & Merge") is
        // no shortcut letter.
        buttons << box.addButton(escapedMenuTitle(titles[i]), role);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    for (int i = 0; i < titles.size(); ++i)
        if (titles[i] == QLatin1String("Cancel"))
            box.setEscapeButton(buttons[i]);
    QCheckBox* suppression = nullptr;
    if (alert.showsSuppressionButton) {
        suppression = new QCheckBox(alert.suppressionButtonTitle.isEmpty() ? QStringLiteral("Do not show this message again")
                                                                           : escapedMenuTitle(alert.suppressionButtonTitle));
        suppression->setChecked(alert.suppressionButtonChecked);
        box.setCheckBox(suppression);
    }
    if (getButtons)
        *getButtons = buttons;
    if (getSuppression)
        *getSuppression = suppression;
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

    QMessageBox box(alert.window);
    QList<QAbstractButton*> buttons;
    QCheckBox* suppression = nullptr;
    buildAlertBox(box, alert, &buttons, &suppression);
    if (alert.window)
        box.setWindowModality(Qt::WindowModal);
    // What the program asked goes to the log of the session too.
    std::fprintf(stderr, "alert: %s\n", qPrintable(alert.messageText));
    OpenAlert open{&box};
    g_openAlerts.push_back(&open);
    box.exec();
    std::erase(g_openAlerts, &open);
    if (open.endedUnattended)
        return unattendedResponse(alert, "ended as the session ends");
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
