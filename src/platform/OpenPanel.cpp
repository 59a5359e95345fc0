#include "platform/OpenPanel.h"

#include <QtCore/QFileInfo>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>

namespace platform {

namespace {

// The file dialog accepts folders only by entering them in its file modes; this one
// takes a confirmed selection as it stands, folders included.
class FilesAndFoldersDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (chosen.isEmpty())
            return;
        for (const QString& path : chosen)
            if (!QFileInfo::exists(path))
                return;
        QDialog::accept();
    }
};

} // namespace

QFileDialog* makeFilesAndFoldersPanel(QWidget* parent, const QString& title, const QString& prompt)
{
    auto* dialog = new FilesAndFoldersDialog(parent, title);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setOption(QFileDialog::ReadOnly, true);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    return dialog;
}

QFileDialog* makeFolderPanel(QWidget* parent, const QString& title, const QString& prompt, const QString& explanation,
                             const QString& suggestedPath)
{
    auto* dialog = new QFileDialog(parent, title);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    if (!suggestedPath.isEmpty())
        dialog->setDirectory(suggestedPath);
    if (!explanation.isEmpty()) {
        auto* label = new QLabel(explanation, dialog);
        label->setObjectName(QStringLiteral("explanation"));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        label->setForegroundRole(QPalette::PlaceholderText);
        label->setContentsMargins(8, 8, 8, 8);
        // The dialog's own layout is a grid; the explanation takes a row of its own below it.
        if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()))
            grid->addWidget(label, grid->rowCount(), 0, 1, -1);
    }
    return dialog;
}

} // namespace platform
