#include "platform/RegularFile.h"

#include "platform/Paths.h"

#include <QtCore/QFile>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool checkRegularFile(const QString& path, QString* error)
{
    const QByteArray local = platform::encodeFileName(path);
    struct stat info = {};
    if (::stat(local.constData(), &info) != 0) {
        if (error)
            *error = QStringLiteral("cannot open <%1>: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        if (error)
            *error = QStringLiteral("cannot open <%1>: not a regular file").arg(path);
        return false;
    }
    return true;
}

} // namespace platform
