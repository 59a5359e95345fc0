#include "platform/Trash.h"

#include "platform/FileOperations.h"
#include "platform/Paths.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

TrashImplementation g_implementation;

bool systemMoveToTrash(const QString& path, QString* getPathInTrash)
{
    QString inTrash;
    const bool ok = QFile::moveToTrash(path, &inTrash);
    if (getPathInTrash)
        *getPathInTrash = inTrash;
    return ok;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

bool lexists(const QString& path)
{
    struct stat st;
    return lstat(platform::encodeFileName(path).constData(), &st) == 0;
}

} // namespace

QString homeTrashPath()
{
    QString dataHome = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (dataHome.isEmpty() || !dataHome.startsWith(u'/'))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(dataHome) + QStringLiteral("/Trash");
}

bool isPathInTrash(const QString& path)
{
    if (!path.startsWith(u'/'))
        return false;
    const QString clean = QDir::cleanPath(path);
    const QString folder = QFileInfo(clean).path();
    const QString homeFiles = homeTrashPath() + QStringLiteral("/files");
    if (folder == homeFiles)
        return true;
    // The same folder reached through a symbolic link (a linked home, for example).
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (!canonical.isEmpty() && canonical == QFileInfo(homeFiles).canonicalFilePath())
        return true;
    // <top>/.Trash-<uid>/files or <top>/.Trash/<uid>/files
    const QString uid = QString::number(getuid());
    return folder.endsWith(QStringLiteral("/.Trash-") + uid + QStringLiteral("/files"))
        || folder.endsWith(QStringLiteral("/.Trash/") + uid + QStringLiteral("/files"));
}

void setTrashImplementationForTesting(TrashImplementation implementation)
{
    g_implementation = std::move(implementation);
}

bool moveToTrash(const QString& path, QString* getPathInTrash, QString* error)
{
    setError(error, {});
    if (getPathInTrash)
        getPathInTrash->clear();
    if (path.isEmpty() || !lexists(path)) {
        setError(error, QStringLiteral("<%1> does not exist").arg(path));
        return false;
    }
    const QString source = QFileInfo(path).absoluteFilePath();
    // Without an existing data folder Qt trashes into the current folder and still
    // answers success: make sure the home trash has somewhere to go.
    QDir().mkpath(homeTrashPath() + QStringLiteral("/files"));
    QDir().mkpath(homeTrashPath() + QStringLiteral("/info"));

    QString inTrash;
    const bool ok = g_implementation ? g_implementation(source, &inTrash) : systemMoveToTrash(source, &inTrash);
    if (!ok) {
        setError(error, QStringLiteral("cannot move <%1> to the Trash").arg(source));
        return false;
    }
    if (isPathInTrash(inTrash) && lexists(inTrash) && !lexists(source)) {
        if (getPathInTrash)
            *getPathInTrash = QDir::cleanPath(inTrash);
        return true;
    }
    // Reported as trashed, but not in a trash: put it back where it was.
    if (!inTrash.isEmpty() && lexists(inTrash) && !lexists(source)) {
        QString moveError;
        if (!moveItem(inTrash, source, NameConflict::Fail, nullptr, &moveError)) {
            setError(error, QStringLiteral("cannot move <%1> to the Trash; it was left at <%2>").arg(source, inTrash));
            return false;
        }
        const QFileInfo stray(inTrash);
        const QString info = stray.dir().absolutePath() + QStringLiteral("/../info/") + stray.fileName() + QStringLiteral(".trashinfo");
        QFile::remove(QDir::cleanPath(info));
    }
    setError(error, QStringLiteral("cannot move <%1> to the Trash").arg(source));
    return false;
}

} // namespace platform
