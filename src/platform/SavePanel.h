// Save panels: where to save a file, chosen by the user (or, in tests, by a handler that
// answers in the user's place).
#pragma once

#include <QtCore/QString>

#include <functional>

class QWidget;

namespace platform {

struct SavePanel {
    QString title;
    QString proposedName;      // without the extension
    QString allowedExtension;  // e.g. "plist"; appended when the chosen name lacks it
    QWidget* window = nullptr; // the window the panel belongs to
    bool canCreateDirectories = true;
};

// The chosen path, or the empty string when the user cancelled.
QString runSavePanel(const SavePanel& panel);

// The panel as a sheet of its window: it opens window-modal and returns at once; the
// handler gets the chosen path (empty when cancelled) when the user has answered. Without
// a window it runs as runSavePanel does.
void beginSavePanelSheet(const SavePanel& panel, std::function<void(const QString& path)> completionHandler);

using SavePanelHandler = std::function<QString(const SavePanel&)>;
// Tests answer save panels through a handler; an empty one restores the real panel.
void setSavePanelHandler(SavePanelHandler handler);

} // namespace platform
