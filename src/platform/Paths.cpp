#include "platform/Paths.h"

#include <QtCore/QDir>

namespace platform {

QString stringByAbbreviatingWithTildeInPath(const QString& path)
{
    const QString home = QDir::homePath();
    if (path.isEmpty() || home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home) && path.size() > home.size() && path.at(home.size()) == u'/')
        return u'~' + path.mid(home.size());
    return path;
}

QString stringByExpandingTildeInPath(const QString& path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

} // namespace platform
