// The desktop's standard about panel, which Linux toolkits leave to each program: a small
// fixed panel with the program's icon, name and version, the credits in a text view and the
// copyright line. There is one panel; showing it again brings it to the front.
#pragma once

#include <QtCore/QString>
#include <QtGui/QIcon>

class QDialog;
class QTextDocument;

namespace platform {

struct AboutPanelOptions {
    const QTextDocument* credits = nullptr; // copied; none: no credits view
    QString copyright;                      // empty: none
    QString applicationName;                // empty: the program's name
    QString version;                        // empty: the program's version
    QIcon icon;                             // null: the program's icon
};

QDialog* orderFrontStandardAboutPanel(const AboutPanelOptions& options);

} // namespace platform
