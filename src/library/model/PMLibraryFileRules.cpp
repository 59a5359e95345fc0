#include "library/model/PMLibraryFileRules.h"

#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>

QString stringByAbbreviatingWithTildeInPath(const QString& path)
{
    const QString home = QDir::homePath();
    if (path.isEmpty() || home.isEmpty() || home == QStringLiteral("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home) && path.size() > home.size() && path.at(home.size()) == u'/')
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

bool volumeExistsForPath(const QString& path)
{
    const QString volume = volumePathOrSlash(path);
    return volume == QStringLiteral("/") || platform::isVolumeMounted(volume);
}

bool fileExistsAtPathWithDefaultCache(const QString& path)
{
    return fileExistsAtPath(path, platform::UserDefaults::standard().boolForKey(QStringLiteral("Use Simplified Cache For External Volume File Checks")));
}
