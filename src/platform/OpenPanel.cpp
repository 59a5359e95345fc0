#include "platform/OpenPanel.h"
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QMimeDatabase>

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

QStringList mediaFileNameFilters()
{
    static const QStringList filters = [] {
        QStringList patterns;
        for (const QMimeType& type : QMimeDatabase().allMimeTypes()) {
            const QString name = type.name();
            if (!name.startsWith(QLatin1String("video/")) && !name.startsWith(QLatin1String("audio/")) && !name.startsWith(QLatin1String("image/")))
                continue;
            for (const QString& pattern : type.globPatterns())
                if (pattern.startsWith(QLatin1String("*.")) && !patterns.contains(pattern))
                    patterns.append(pattern);
        }
        patterns.sort();
        return QStringList{QCoreApplication::translate("OpenPanel", "Movies, Sounds and Pictures (%1)").arg(patterns.join(u' ')),
                           QCoreApplication::translate("OpenPanel", "All Files (*)")};
    }();
    return filters;
}

void prepareMediaPanel(QFileDialog* dialog, const QStringList& startFolders)
{
    QString start = QDir::homePath();
    for (const QString& folder : startFolders)
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
            start = folder;
            break;
        }
    dialog->setDirectory(start);
    const QStringList filters = mediaFileNameFilters();
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
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
