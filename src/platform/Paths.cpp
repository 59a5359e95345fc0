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
    // Each component starts after a "/": it must not be empty, "." or "..". The last
    // character is no "/", so every "/" has a character after it. (One plain pass: every
    // path of a library comes here while it loads.)
    const char16_t* const end = path.utf16() + n;
    for (const char16_t* c = path.utf16(); c < end; ++c) {
        if (*c != u'/')
            continue;
        const char16_t a = c[1];
        if (a == u'/')
            return false;
        if (a == u'.') {
            const char16_t* b = c + 2;
            if (b == end || *b == u'/' || (*b == u'.' && (b + 1 == end || b[1] == u'/')))
                return false;
        }
    }
    return true;
}

} // namespace platform
