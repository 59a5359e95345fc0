// Alerts: every alert of the program goes through runAlert, so tests can answer it
// without a screen. Also the system beep.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace platform {

enum class AlertStyle { Warning, Informational, Critical };

struct Alert {
    QString messageText;
    QString informativeText;
    QStringList buttons;            // the first is the default; empty: one "OK" button
    AlertStyle style = AlertStyle::Warning;
    bool showsSuppressionButton = false;
    QString suppressionButtonTitle; // empty: "Do not show this message again"
    bool suppressionButtonChecked = false;
    QWidget* window = nullptr;      // shown as a sheet of this window when given
    QString accessoryText;          // a scrollable list shown under the texts, when given
    // The answer when nobody can answer (no screen, or the session ending): the button that
    // leaves files and settings as they are. Unset: the one titled "Cancel" when there is
    // one, else the first. -1: none of them (the response's button is -1).
    std::optional<int> unattendedButton;
};

// The index of the button the user chose (0 for the first; -1 when an alert nobody could
// answer had no button to take) and the state of the suppression box.
struct AlertResponse {
    int button = 0;
    bool suppressed = false;
};

AlertResponse runAlert(const Alert& alert);

// Tests answer alerts through a handler; it sees every alert instead of the screen.
using AlertHandler = std::function<AlertResponse(const Alert&)>;
void setAlertHandler(AlertHandler handler);

// Whether the program has a screen to show alerts on (else they take their default button).
bool hasScreenForAlerts();
// Whether anybody can answer an alert: a screen, or a handler that answers instead, and
// the session is not ending.
bool alertsCanBeAnswered();

// From now on nobody answers (the session is ending): every open alert ends with its
// unattended answer, other modal dialogs are cancelled, and later alerts take their
// unattended answer at once, handler or not. Main thread.
void answerAlertsUnattended();
// Alerts waiting for an answer on the screen now (nested ones included).
int openAlertCount();

void beep();
// Counts beeps since the start, so that tests can tell a refused command.
int beepCount();

// The screen side of alerts: message boxes, in the platform's widget library
// (installAlertBoxes in AlertBox.h), so that code below the widgets can ask and be
// answered. Until one is installed alerts have no screen to show on.
class AlertScreen {
public:
    virtual ~AlertScreen() = default;
    // Shows the alert and waits for the answer; sets `endedUnattended` when the session's
    // end closed it.
    virtual AlertResponse show(const Alert& alert, bool* endedUnattended) = 0;
    // Ends every open alert and cancels the other modal dialogs.
    virtual void endOpenAlerts() = 0;
    virtual int openCount() const = 0;
    virtual void beep() = 0;
};
void setAlertScreen(AlertScreen* screen);

} // namespace platform
