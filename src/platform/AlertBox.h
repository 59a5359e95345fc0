// The message box an alert is shown in, built apart from running it, so that what the
// user reads (titles, buttons, the check box) can be checked without a screen.
#pragma once

#include "platform/Alert.h"

#include <QtCore/QList>

class QAbstractButton;
class QCheckBox;
class QMessageBox;

namespace platform {

// Fills the box with the alert's texts, icon, buttons (in the alert's order) and the
// suppression check box when it shows one.
void buildAlertBox(QMessageBox& box, const Alert& alert, QList<QAbstractButton*>* getButtons, QCheckBox** getSuppression);

// Makes alerts show in message boxes (once the application object exists).
void installAlertBoxes();

} // namespace platform
