// Open panels: Qt's own file dialog set up the way the program's panels choose things.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>

class QFileDialog;
class QWidget;

namespace platform {

// A modal panel that chooses existing files and folders together (several at once): a
// folder selected and confirmed is chosen, a folder double-clicked is entered. The
// caller owns the dialog.
QFileDialog* makeFilesAndFoldersPanel(QWidget* parent, const QString& title, const QString& prompt);

// The filters of a panel that chooses media: the movies, sounds and pictures the desktop
// knows by name first, "All Files" second.
QStringList mediaFileNameFilters();
// A panel for media starts in the first of the folders that exists (else the home folder)
// with the media filter chosen.
void prepareMediaPanel(QFileDialog* dialog, const QStringList& startFolders);

// A panel that chooses one folder, where folders can be made; with an explanation shown
// below the file list and the suggested folder shown first when given. The caller owns
// the dialog.
QFileDialog* makeFolderPanel(QWidget* parent, const QString& title, const QString& prompt, const QString& explanation,
                             const QString& suggestedPath);

} // namespace platform
