#include "platform/SavePanel.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtWidgets/QFileDialog>

#include <mutex>

namespace platform {

namespace {
std::mutex g_mutex;
SavePanelHandler g_handler;
} // namespace

void setSavePanelHandler(SavePanelHandler handler)
{
    std::lock_guard lock(g_mutex);
    g_handler = std::move(handler);
}

QString runSavePanel(const SavePanel& panel)
{
    SavePanelHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    QString path;
    if (handler) {
        path = handler(panel);
    } else {
        QFileDialog dialog(panel.window, panel.title);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!panel.allowedExtension.isEmpty()) {
            dialog.setDefaultSuffix(panel.allowedExtension);
            dialog.setNameFilter(QStringLiteral("%1 (*.%2)").arg(panel.allowedExtension.toUpper(), panel.allowedExtension));
        }
        dialog.setDirectory(QDir::homePath());
        dialog.selectFile(panel.proposedName + (panel.allowedExtension.isEmpty() ? QString() : QLatin1Char('.') + panel.allowedExtension));
        if (panel.window)
            dialog.setWindowModality(Qt::WindowModal);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        path = dialog.selectedFiles().constFirst();
    }
    if (!path.isEmpty() && !panel.allowedExtension.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + panel.allowedExtension;
    return path;
}

} // namespace platform
