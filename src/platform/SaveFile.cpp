#include "platform/SaveFile.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString errorText(const char* what, const QString& path, int error)
{
    return QStringLiteral("cannot %1 <%2>: %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(error)));
}

mode_t currentUmask()
{
    // There is no way to read the umask without setting it; setting it back at once is
    // the accepted idiom (the window is harmless here, files we create pass modes).
    const mode_t mask = umask(0022);
    umask(mask);
    return mask;
}

} // namespace

QString saveFile(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QByteArray folderBytes = QFile::encodeName(folder);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));

    mode_t mode = 0666 & ~currentUmask();
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            return errorText("write", path, EISDIR);
        mode = existing.st_mode & 07777;
    }

    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errorText("create a temporary file for", path, errno);
    const QString tempPath = QFile::decodeName(temp);
    auto fail = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(temp.constData());
        return errorText(what, what[0] == 'r' ? path : tempPath, error);
    };

    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qsizetype>(left, 1 << 24)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail("write", errno);
        }
        if (n == 0)
            return fail("write", EIO);
        data += n;
        left -= n;
    }
    if (::fchmod(fd, mode) != 0)
        return fail("set the permissions of", errno);
    if (::fsync(fd) != 0)
        return fail("flush", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return errorText("write", tempPath, error);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return errorText("replace", path, error);
    }
    // The rename is durable only once the folder's entry is on the device.
    const int dirFd = ::open(folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

int removeLeftoverSaveFiles(const QString& path)
{
    const QFileInfo info(path);
    if (info.fileName().isEmpty())
        return 0;
    // "." + the file's name + "." + the six characters that mkostemp chose.
    const QString prefix = u'.' + info.fileName() + u'.';
    const auto isTemporaryName = [&](const QString& name) {
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
            return false;
        for (const QChar c : QStringView(name).mid(prefix.size()))
            if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
                return false;
        return true;
    };
    int removed = 0;
    const QDir folder(info.absolutePath());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)) {
        if (!isTemporaryName(name))
            continue;
        const QByteArray entry = QFile::encodeName(folder.filePath(name));
        struct stat st {};
        if (::lstat(entry.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(entry.constData()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace platform
