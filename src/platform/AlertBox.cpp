// The alerts' message boxes: the widget side of platform/Alert.h.
#include "platform/AlertBox.h"

#include "platform/Responder.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

// An alert on the screen, and whether it was ended for nobody.
struct OpenAlert {
    QMessageBox* box;
    bool endedUnattended = false;
};

class MessageBoxScreen final : public AlertScreen {
public:
    AlertResponse show(const Alert& alert, bool* endedUnattended) override
    {
        QMessageBox box(alert.window);
        QList<QAbstractButton*> buttons;
        QCheckBox* suppression = nullptr;
        buildAlertBox(box, alert, &buttons, &suppression);
        if (alert.window)
            box.setWindowModality(Qt::WindowModal);
        OpenAlert open{&box};
        _openAlerts.push_back(&open);
        box.exec();
        std::erase(_openAlerts, &open);
        *endedUnattended = open.endedUnattended;
        AlertResponse response;
        response.button = std::max<int>(0, int(buttons.indexOf(box.clickedButton())));
        response.suppressed = suppression && suppression->isChecked();
        return response;
    }

    void endOpenAlerts() override
    {
        for (OpenAlert* open : _openAlerts) {
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

    int openCount() const override { return int(_openAlerts.size()); }

    void beep() override { QApplication::beep(); }

private:
    std::vector<OpenAlert*> _openAlerts; // main thread
};

} // namespace

void installAlertBoxes()
{
    static MessageBoxScreen screen;
    setAlertScreen(&screen);
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

} // namespace platform
