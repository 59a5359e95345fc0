#include "platform/SavePanel.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtWidgets/QFileDialog>

#include <memory>
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

namespace {

SavePanelHandler currentHandler()
{
    std::lock_guard lock(g_mutex);
    return g_handler;
}

QString withExtension(const SavePanel& panel, QString path)
{
    if (!path.isEmpty() && !panel.allowedExtension.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + panel.allowedExtension;
    return path;
}

QFileDialog* makeDialog(const SavePanel& panel)
{
    auto* dialog = new QFileDialog(panel.window, panel.title);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!panel.canCreateDirectories)
        dialog->setOption(QFileDialog::ReadOnly);
    if (!panel.allowedExtension.isEmpty()) {
        dialog->setDefaultSuffix(panel.allowedExtension);
        dialog->setNameFilter(QStringLiteral("%1 (*.%2)").arg(panel.allowedExtension.toUpper(), panel.allowedExtension));
    }
    dialog->setDirectory(QDir::homePath());
    dialog->selectFile(panel.proposedName + (panel.allowedExtension.isEmpty() ? QString() : QLatin1Char('.') + panel.allowedExtension));
    if (panel.window)
        dialog->setWindowModality(Qt::WindowModal);
    return dialog;
}

} // namespace

QString runSavePanel(const SavePanel& panel)
{
    if (const SavePanelHandler handler = currentHandler())
        return withExtension(panel, handler(panel));
    std::unique_ptr<QFileDialog> dialog(makeDialog(panel));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return withExtension(panel, dialog->selectedFiles().constFirst());
}

void beginSavePanelSheet(const SavePanel& panel, std::function<void(const QString& path)> completionHandler)
{
    if (!panel.window || currentHandler()) {
        const QString path = runSavePanel(panel);
        if (completionHandler)
            completionHandler(path);
        return;
    }
    QFileDialog* dialog = makeDialog(panel);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, panel, completionHandler](int result) {
        const QString path = result == QDialog::Accepted && !dialog->selectedFiles().isEmpty() ? dialog->selectedFiles().constFirst() : QString();
        if (completionHandler)
            completionHandler(withExtension(panel, path));
    });
    dialog->open();
}

} // namespace platform
