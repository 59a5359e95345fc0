#include "library/model/PMLibraryFileRules.h"

#include "platform/Format.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

QString stringByAbbreviatingWithTildeInPath(const QString& path)
{
    const QString home = QDir::homePath();
    if (path.isEmpty() || home.isEmpty() || home == QStringLiteral("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home) && path.at(home.size()) == u'/')
        return u'~' + path.mid(home.size());
    return path;
}

QString stringByExpandingTildeInPath(const QString& path)
{
    if (path == QStringLiteral("~"))
        return QDir::homePath();
    if (path.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

QString volumePathOrSlash(const QString& path)
{
    if (path.isEmpty() || !path.startsWith(u'/'))
        return QStringLiteral("/");
    return platform::volumeRootForPath(path);
}

bool volumeExistsForPath(const QString& path)
{
    const QString volume = volumePathOrSlash(path);
    return volume == QStringLiteral("/") || platform::isVolumeMounted(volume);
}

bool fileExistsAtPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isEqualToOrChildOfPath(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    if (path == folder)
        return true;
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    return path.startsWith(prefix);
}

QString readablePathRepresentation(const QString& path)
{
    return stringByAbbreviatingWithTildeInPath(path);
}

std::optional<platform::Date> creationDateFromPath(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    struct statx stx;
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx) != 0 || !(stx.stx_mask & STATX_BTIME))
        return std::nullopt;
    return platform::Date{double(stx.stx_btime.tv_sec) + double(stx.stx_btime.tv_nsec) / 1e9};
}

std::optional<platform::Date> modificationDateFromPath(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return platform::Date{double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9};
}

QString missingVolumeDescription(const QString& path)
{
    return platform::format("Volume “%@” is missing", QFileInfo(volumePathOrSlash(path)).fileName());
}
