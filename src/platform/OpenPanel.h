// Open panels: Qt's own file dialog set up the way the program's panels choose things.
#pragma once

#include <QtCore/QString>

class QFileDialog;
class QWidget;

namespace platform {

// A modal panel that chooses existing files and folders together (several at once): a
// folder selected and confirmed is chosen, a folder double-clicked is entered. The
// caller owns the dialog.
QFileDialog* makeFilesAndFoldersPanel(QWidget* parent, const QString& title, const QString& prompt);

// A panel that chooses one folder, where folders can be made; with an explanation shown
// below the file list and the suggested folder shown first when given. The caller owns
// the dialog.
QFileDialog* makeFolderPanel(QWidget* parent, const QString& title, const QString& prompt, const QString& explanation,
                             const QString& suggestedPath);

} // namespace platform
