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

bool isCleanAbsolutePath(QStringView path)
{
    const qsizetype n = path.size();
    if (n == 0 || path[0] != u'/')
        return false;
    if (n == 1)
        return true;
    if (path[n - 1] == u'/')
        return false;
    // Each component starts after a "/": it must not be empty, "." or "..". (The slashes
    // are found by the library's vectorised search: every path of a library passes here.)
    for (qsizetype i = 0; (i = path.indexOf(u'/', i)) >= 0; ++i) {
        const qsizetype rest = n - i - 1;
        const QChar a = rest > 0 ? path[i + 1] : QChar(u'/');
        if (a == u'/')
            return false;
        if (a == u'.') {
            const QChar b = rest > 1 ? path[i + 2] : QChar(u'/');
            if (b == u'/' || (b == u'.' && (rest == 2 || path[i + 3] == u'/')))
                return false;
        }
    }
    return true;
}

} // namespace platform
