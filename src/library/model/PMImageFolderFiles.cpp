#include "library/model/PMImageFolderFiles.h"

#include "foundation/PMLog.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>

#include <sys/stat.h>

namespace {

enum class EntryType { None, File, Folder, Other };

// What is at the path itself, a symbolic link not followed.
EntryType entryType(const QString& path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return EntryType::None;
    if (S_ISREG(info.st_mode))
        return EntryType::File;
    if (S_ISDIR(info.st_mode))
        return EntryType::Folder;
    return EntryType::Other;
}

bool removeFile(const QString& path, const QString& name)
{
    if (QFile::remove(path)) {
        if (PMDebugLogEnabled())
            PMLog("[Debug] removed stray image <%@>", name);
        return true;
    }
    PMLog("cannot remove stray image <%@>", name);
    return false;
}

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

bool PMIsWellFormedImageID(const QString& id)
{
    if (id.isEmpty() || id.size() > 200 || id == QLatin1String(".") || id == QLatin1String("..") || id.contains(QLatin1Char('/'))
        || id.contains(QChar(0)))
        return false;
    static const QRegularExpression uuid(QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (uuid.match(id).hasMatch())
        return true;
    for (const char* prefix : {"iTunesTrack-", "iPhotoImage-", "Photos-", "ApertureImage-"})
        if (id.startsWith(QLatin1String(prefix)) && id.size() > int(qstrlen(prefix)))
            return true;
    return false;
}

QString PMImageIDOfFileName(const QString& name, PMImageFolderKind kind, bool* isPartialFolder)
{
    if (isPartialFolder)
        *isPartialFolder = false;
    QString id;
    switch (kind) {
    case PMImageFolderKind::Pictures:
        if (name.endsWith(QLatin1String(".jpg")))
            id = name.chopped(4);
        else if (name.endsWith(QLatin1String(".tiff")))
            id = name.chopped(5);
        break;
    case PMImageFolderKind::ReducedCopies:
        if (name.endsWith(QLatin1String(".jpg")))
            id = name.chopped(4);
        break;
    case PMImageFolderKind::HoverFrames: {
        static const QRegularExpression partial(QStringLiteral("^\\.(.+)\\.pellis-[A-Za-z0-9]{6}$"));
        const QRegularExpressionMatch match = partial.match(name);
        if (match.hasMatch()) {
            id = match.captured(1);
            if (isPartialFolder && PMIsWellFormedImageID(id))
                *isPartialFolder = true;
        } else {
            id = name;
        }
        break;
    }
    }
    return PMIsWellFormedImageID(id) ? id : QString();
}

bool PMIsHoverFrameFileName(const QString& name)
{
    static const QRegularExpression frame(QStringLiteral("^[0-9]{1,6} \\([^/()]{1,40}\\)\\.jpg$"));
    return frame.match(name).hasMatch();
}

bool PMRemoveHoverFrameFolder(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    switch (entryType(path)) {
    case EntryType::None:
        return true;
    case EntryType::File:
    case EntryType::Other:
        // A file or a link where the frames belong: the entry itself goes, never what a
        // link points to.
        return removeFile(path, name);
    case EntryType::Folder:
        break;
    }
    const QDir folder(path);
    for (const QString& frame : folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString framePath = folder.filePath(frame);
        if (PMIsHoverFrameFileName(frame) && entryType(framePath) == EntryType::File)
            removeFile(framePath, name + QLatin1Char('/') + frame);
    }
    // Anything else in it (someone's own file) keeps the folder.
    if (QDir().rmdir(path))
        return true;
    PMLog("cannot remove stray image <%@>", name);
    return false;
}

void PMRemoveStrayImageFiles(const QString& folderPath, const QSet<QString>& ids, PMImageFolderKind kind, const QString& libraryFolder)
{
    if (folderPath.isEmpty() || libraryFolder.isEmpty() || entryType(folderPath) == EntryType::None)
        return;
    // The folder must resolve to a place inside the library: a link to somewhere else (the
    // user's pictures) is never cleaned.
    const QString real = canonical(folderPath), library = canonical(libraryFolder);
    if (real.isEmpty() || library.isEmpty() || !real.startsWith(library + QLatin1Char('/')) || !QFileInfo(real).isDir()) {
        PMLog("not removing stray images from <%@>: it leads out of the library", folderPath);
        return;
    }
    const QDir folder(real);
    bool sawShortName = false;
    for (const QString& name : folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name.size() < 2) {
            sawShortName = true;
            continue;
        }
        bool partial = false;
        const QString id = PMImageIDOfFileName(name, kind, &partial);
        // A record's partial folder may be written right now: its own next write removes it.
        if (id.isEmpty() || ids.contains(id))
            continue;
        const QString path = folder.filePath(name);
        const EntryType type = entryType(path);
        if (kind == PMImageFolderKind::HoverFrames) {
            if (type == EntryType::Folder)
                PMRemoveHoverFrameFolder(path);
            else if (type == EntryType::File && !partial)
                removeFile(path, name);
        } else if (type == EntryType::File) {
            removeFile(path, name);
        }
    }
    const QString reduced = folder.filePath(QStringLiteral("_"));
    if (kind == PMImageFolderKind::Pictures && sawShortName && entryType(reduced) == EntryType::Folder)
        PMRemoveStrayImageFiles(reduced, ids, PMImageFolderKind::ReducedCopies, libraryFolder);
}
