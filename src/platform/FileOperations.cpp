#include "platform/FileOperations.h"

#include "platform/Paths.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtCore/QTextBoundaryFinder>
#include <QtCore/QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

const FileOperationTestHooks* g_hooks = nullptr;

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString quoted(const QString& path)
{
    return u'<' + path + u'>';
}

QByteArray encode(const QString& path)
{
    return encodeFileName(path);
}

QString stripTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

// A rename that never replaces, as the kernel does it; -1 with errno set on failure.
// `firstStep` marks the rename a move begins with, the one a simulated EXDEV refuses.
int renameNoReplace(const QByteArray& from, const QByteArray& to, bool firstStep)
{
    if (firstStep && g_hooks && g_hooks->simulateCrossDevice) {
        errno = EXDEV;
        return -1;
    }
    if (!(g_hooks && g_hooks->simulateNoReplaceUnsupported)) {
        if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return -1;
        // EINVAL also means "moving a folder into itself": tell that apart below.
    } else {
        errno = EINVAL;
    }
    struct stat st;
    if (lstat(from.constData(), &st) != 0)
        return -1;
    // A file without RENAME_NOREPLACE: link() refuses a taken name atomically.
    if (!S_ISDIR(st.st_mode)) {
        if (link(from.constData(), to.constData()) == 0) {
            if (unlink(from.constData()) == 0)
                return 0;
            const int err = errno;
            unlink(to.constData());
            errno = err;
            return -1;
        }
        if (errno == EEXIST || errno == EXDEV || errno == ENOENT || errno == EACCES || errno == EROFS)
            return -1;
    }
    // Folders, and file systems without hard links: a checked rename. The check and the
    // rename are two steps; this is the last resort where the kernel offers nothing better.
    struct stat existing;
    if (lstat(to.constData(), &existing) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT)
        return -1;
    return ::rename(from.constData(), to.constData());
}

bool sameItem(const QByteArray& a, const QByteArray& b)
{
    struct stat sa, sb;
    return lstat(a.constData(), &sa) == 0 && lstat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool exists(const QByteArray& path)
{
    struct stat st;
    return lstat(path.constData(), &st) == 0;
}

void copyExtendedAttributes(int fromFd, int toFd)
{
    char names[65536];
    const ssize_t size = flistxattr(fromFd, names, sizeof names);
    if (size <= 0)
        return;
    QByteArray value;
    for (ssize_t i = 0; i < size;) {
        const char* name = names + i;
        const size_t len = strnlen(name, size_t(size - i));
        i += ssize_t(len) + 1;
        if (std::strncmp(name, "user.", 5) != 0)
            continue;
        value.resize(65536);
        const ssize_t got = fgetxattr(fromFd, name, value.data(), size_t(value.size()));
        if (got >= 0)
            fsetxattr(toFd, name, value.constData(), size_t(got), 0);
    }
}

void copyTimes(const struct stat& st, int toFd)
{
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(toFd, times);
}

bool fsyncPath(const QByteArray& path, bool directory)
{
    const int fd = open(path.constData(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0 || errno == EINVAL; // some file systems cannot sync folders
    close(fd);
    return ok;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

// Counts what a copy must reproduce, to compare the copy with its source.
struct Tally {
    long long bytes = 0;
    long long items = 0;
};

bool copyTree(const QByteArray& from, const QByteArray& to, Tally* tally, QString* error, int depth);

bool copyFile(const QByteArray& from, const QByteArray& to, const struct stat& st, Tally* tally, QString* error)
{
    const int in = open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(quoted(decodeFileName(from)), errnoText(errno)));
        return false;
    }
    const int out = open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, st.st_mode & 07777);
    if (out < 0) {
        setError(error, QStringLiteral("cannot create %1: %2").arg(quoted(decodeFileName(to)), errnoText(errno)));
        close(in);
        return false;
    }
    bool ok = true;
    long long written = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            setError(error, QStringLiteral("cannot read %1: %2").arg(quoted(decodeFileName(from)), errnoText(errno)));
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer.data() + done, size_t(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                setError(error, QStringLiteral("cannot write %1: %2").arg(quoted(decodeFileName(to)), errnoText(errno)));
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok)
            break;
        written += got;
    }
    if (ok) {
        fchmod(out, st.st_mode & 07777);
        copyExtendedAttributes(in, out);
        if (fsync(out) != 0) {
            setError(error, QStringLiteral("cannot flush %1: %2").arg(quoted(decodeFileName(to)), errnoText(errno)));
            ok = false;
        }
        copyTimes(st, out);
    }
    if (close(out) != 0 && ok) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(quoted(decodeFileName(to)), errnoText(errno)));
        ok = false;
    }
    close(in);
    if (ok && written != st.st_size) {
        setError(error, QStringLiteral("%1 changed while it was copied").arg(quoted(decodeFileName(from))));
        ok = false;
    }
    if (ok) {
        tally->bytes += written;
        tally->items += 1;
    }
    return ok;
}

bool copyFolder(const QByteArray& from, const QByteArray& to, const struct stat& st, Tally* tally, QString* error, int depth)
{
    if (depth > 256) {
        setError(error, QStringLiteral("folders nest too deeply below %1").arg(quoted(decodeFileName(from))));
        return false;
    }
    if (mkdir(to.constData(), 0700) != 0) {
        setError(error, QStringLiteral("cannot create %1: %2").arg(quoted(decodeFileName(to)), errnoText(errno)));
        return false;
    }
    DIR* dir = opendir(from.constData());
    if (!dir) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(quoted(decodeFileName(from)), errnoText(errno)));
        return false;
    }
    bool ok = true;
    while (ok) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry) {
            if (errno != 0) {
                setError(error, QStringLiteral("cannot read %1: %2").arg(quoted(decodeFileName(from)), errnoText(errno)));
                ok = false;
            }
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        ok = copyTree(from + '/' + entry->d_name, to + '/' + entry->d_name, tally, error, depth + 1);
    }
    closedir(dir);
    if (!ok)
        return false;
    const int fd = open(to.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fchmod(fd, st.st_mode & 07777);
        const int src = open(from.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (src >= 0) {
            copyExtendedAttributes(src, fd);
            close(src);
        }
        fsync(fd);
        copyTimes(st, fd);
        close(fd);
    }
    tally->items += 1;
    return true;
}

bool copyTree(const QByteArray& from, const QByteArray& to, Tally* tally, QString* error, int depth)
{
    struct stat st;
    if (lstat(from.constData(), &st) != 0) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(quoted(decodeFileName(from)), errnoText(errno)));
        return false;
    }
    if (S_ISREG(st.st_mode))
        return copyFile(from, to, st, tally, error);
    if (S_ISDIR(st.st_mode))
        return copyFolder(from, to, st, tally, error, depth);
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(size_t(PATH_MAX) + 1);
        const ssize_t len = readlink(from.constData(), target.data(), target.size() - 1);
        if (len < 0 || symlink(QByteArray(target.data(), qsizetype(len)).constData(), to.constData()) != 0) {
            setError(error, QStringLiteral("cannot copy the link %1: %2").arg(quoted(decodeFileName(from)), errnoText(errno)));
            return false;
        }
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        utimensat(AT_FDCWD, to.constData(), times, AT_SYMLINK_NOFOLLOW);
        tally->items += 1;
        return true;
    }
    setError(error, QStringLiteral("cannot copy the special file %1").arg(quoted(decodeFileName(from))));
    return false;
}

// Measures a tree as the copy sees it, without following links.
bool measureTree(const QByteArray& path, Tally* tally, int depth)
{
    struct stat st;
    if (depth > 256 || lstat(path.constData(), &st) != 0)
        return false;
    tally->items += 1;
    if (S_ISREG(st.st_mode))
        tally->bytes += st.st_size;
    if (!S_ISDIR(st.st_mode))
        return true;
    DIR* dir = opendir(path.constData());
    if (!dir)
        return false;
    bool ok = true;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (!measureTree(path + '/' + entry->d_name, tally, depth + 1)) {
            ok = false;
            break;
        }
    }
    closedir(dir);
    return ok;
}

// Removes a file, link or folder tree without following links.
bool removeTree(const QByteArray& path, int depth = 0)
{
    struct stat st;
    if (lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return unlink(path.constData()) == 0 || errno == ENOENT;
    if (depth > 256)
        return false;
    bool ok = true;
    if (DIR* dir = opendir(path.constData())) {
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            ok = removeTree(path + '/' + entry->d_name, depth + 1) && ok;
        }
        closedir(dir);
    }
    return rmdir(path.constData()) == 0 && ok;
}

// Renames `from` into `destination`, or the first free numbered name with UseFreeName.
bool renameIntoPlace(const QByteArray& from, const QString& destination, NameConflict conflict, QString* getFinalPath, int* getErrno,
                     bool firstStep)
{
    QString candidate = destination;
    for (unsigned long long n = 1;; ++n) {
        if (renameNoReplace(from, encode(candidate), firstStep) == 0) {
            if (getFinalPath)
                *getFinalPath = candidate;
            return true;
        }
        const int err = errno;
        if (err != EEXIST && err != ENOTEMPTY) {
            *getErrno = err;
            return false;
        }
        if (conflict == NameConflict::Fail || n > kMaximumNumberedNameAttempts) {
            *getErrno = EEXIST;
            return false;
        }
        candidate = numberedPath(destination, n);
    }
}

// The temporary copies being written now, by their paths.
std::mutex g_copiesMutex;
QSet<QByteArray> g_copiesInProgress;

struct CopyInProgress {
    explicit CopyInProgress(const QByteArray& path)
        : path(path)
    {
        std::lock_guard lock(g_copiesMutex);
        g_copiesInProgress.insert(path);
    }
    ~CopyInProgress()
    {
        std::lock_guard lock(g_copiesMutex);
        g_copiesInProgress.remove(path);
    }
    QByteArray path;
};

// The copy step shared by copies and cross-device moves: a hidden temporary copy in the
// destination folder, checked against the source, then renamed into place.
bool copyIntoPlace(const QString& source, const QString& destination, NameConflict conflict, QString* getFinalPath, QString* error)
{
    const QByteArray src = encode(source);
    const QByteArray folder = parentOf(encode(destination));
    const QString name = QFileInfo(destination).fileName();
    const QByteArray temp = folder + '/' + encode(QStringLiteral(".%1.pellis-%2").arg(name.left(64), QUuid::createUuid().toString(QUuid::Id128).left(12)));
    const CopyInProgress inProgress(temp);

    Tally copied;
    if (!copyTree(src, temp, &copied, error, 0)) {
        removeTree(temp);
        return false;
    }
    if (g_hooks && g_hooks->afterCopy && !g_hooks->afterCopy(source, decodeFileName(temp))) {
        setError(error, QStringLiteral("cannot copy %1 to %2").arg(quoted(source), quoted(destination)));
        removeTree(temp);
        return false;
    }
    Tally original, copy;
    if (!measureTree(src, &original, 0) || !measureTree(temp, &copy, 0) || original.bytes != copy.bytes || original.items != copy.items
        || copied.bytes != original.bytes) {
        setError(error, QStringLiteral("the copy of %1 differs in size from the original").arg(quoted(source)));
        removeTree(temp);
        return false;
    }
    int err = 0;
    if (!renameIntoPlace(temp, destination, conflict, getFinalPath, &err, false)) {
        setError(error, err == EEXIST ? QStringLiteral("%1 already exists").arg(quoted(destination))
                                      : QStringLiteral("cannot move %1 to %2: %3").arg(quoted(source), quoted(destination), errnoText(err)));
        removeTree(temp);
        return false;
    }
    fsyncPath(folder, true);
    return true;
}

} // namespace

bool isTemporaryCopyName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("\\A\\..+\\.pellis-[0-9a-f]{12}\\z"), QRegularExpression::DotMatchesEverythingOption);
    return name.startsWith(u'.') && name.contains(QLatin1String(".pellis-")) && pattern.match(name).hasMatch();
}

bool isTemporaryCopyInProgress(const QString& path)
{
    const QByteArray native = encode(path);
    std::lock_guard lock(g_copiesMutex);
    return g_copiesInProgress.contains(native);
}

void setFileOperationTestHooks(const FileOperationTestHooks* hooks)
{
    g_hooks = hooks;
}

void splitPathExtension(const QString& path, QString* getBase, QString* getExtension)
{
    const QString clean = stripTrailingSlashes(path);
    const qsizetype slash = clean.lastIndexOf(u'/');
    const qsizetype dot = clean.lastIndexOf(u'.');
    // The dot must lie inside the last component, not begin it and not end it.
    if (dot > slash + 1 && dot < clean.size() - 1) {
        if (getBase)
            *getBase = clean.left(dot);
        if (getExtension)
            *getExtension = clean.mid(dot + 1);
        return;
    }
    if (getBase)
        *getBase = clean;
    if (getExtension)
        getExtension->clear();
}

namespace {

constexpr qsizetype kMaxNameBytes = 255; // NAME_MAX of Linux file systems

} // namespace

QString cutToUtf8Bytes(const QString& text, qsizetype maxBytes)
{
    if (text.toUtf8().size() <= maxBytes)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype best = 0;
    qsizetype bytes = 0;
    qsizetype previous = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        bytes += QStringView(text).mid(previous, next - previous).toUtf8().size();
        if (bytes > maxBytes)
            break;
        best = next;
        previous = next;
    }
    return text.left(best);
}

QString numberedPath(const QString& path, unsigned long long n)
{
    QString base, extension;
    splitPathExtension(path, &base, &extension);
    const QString number = u' ' + QString::number(n);
    QString tail = extension.isEmpty() ? QString() : u'.' + extension;
    const qsizetype slash = base.lastIndexOf(u'/');
    const QString folder = base.left(slash + 1);
    QString name = base.mid(slash + 1);
    // The number must not push the name past the file system's limit: the name gives way
    // (at a character boundary), keeping the extension unless that alone is too long.
    const qsizetype numberBytes = number.toUtf8().size();
    if (name.toUtf8().size() + numberBytes + tail.toUtf8().size() > kMaxNameBytes) {
        const qsizetype room = kMaxNameBytes - numberBytes - tail.toUtf8().size();
        if (room >= 1) {
            name = cutToUtf8Bytes(name, room);
        } else {
            name = cutToUtf8Bytes(name + tail, kMaxNameBytes - numberBytes);
            tail.clear();
        }
        while (name.size() > 1 && name.back().isSpace())
            name.chop(1);
    }
    return folder + name + number + tail;
}

bool renameWithoutReplacing(const QString& from, const QString& to, QString* error, int* getErrno)
{
    setError(error, {});
    if (getErrno)
        *getErrno = 0;
    if (from.isEmpty() || to.isEmpty()) {
        setError(error, QStringLiteral("no path"));
        if (getErrno)
            *getErrno = EINVAL;
        return false;
    }
    if (renameNoReplace(encode(from), encode(to), true) == 0)
        return true;
    const int err = errno == ENOTEMPTY ? EEXIST : errno;
    if (getErrno)
        *getErrno = err;
    setError(error, err == EEXIST ? QStringLiteral("%1 already exists").arg(quoted(to))
                                  : QStringLiteral("cannot move %1 to %2: %3").arg(quoted(from), quoted(to), errnoText(err)));
    return false;
}

// The paths of a move or copy without trailing slashes, when both are given and the
// source exists; otherwise NO with the error set.
static bool checkedSourceAndDestination(const QString& sourcePath, const QString& destinationPath, QString& source, QString& destination,
                                        QString* error)
{
    setError(error, {});
    source = stripTrailingSlashes(sourcePath);
    destination = stripTrailingSlashes(destinationPath);
    if (source.isEmpty() || destination.isEmpty()) {
        setError(error, QStringLiteral("no path"));
        return false;
    }
    if (!exists(encode(source))) {
        setError(error, QStringLiteral("%1 does not exist").arg(quoted(source)));
        return false;
    }
    return true;
}

bool moveItem(const QString& sourcePath, const QString& destinationPath, NameConflict conflict, QString* getFinalPath, QString* error)
{
    QString source, destination;
    if (!checkedSourceAndDestination(sourcePath, destinationPath, source, destination, error))
        return false;
    const QByteArray src = encode(source);
    if (source == destination || sameItem(src, encode(destination))) {
        if (getFinalPath)
            *getFinalPath = destination;
        return true;
    }
    int err = 0;
    if (renameIntoPlace(src, destination, conflict, getFinalPath, &err, true))
        return true;
    if (err != EXDEV) {
        setError(error, err == EEXIST ? QStringLiteral("%1 already exists").arg(quoted(destination))
                                      : QStringLiteral("cannot move %1 to %2: %3").arg(quoted(source), quoted(destination), errnoText(err)));
        return false;
    }
    // Another file system: copy, then remove the source.
    if (conflict == NameConflict::Fail && exists(encode(destination))) {
        setError(error, QStringLiteral("%1 already exists").arg(quoted(destination)));
        return false;
    }
    QString finalPath;
    if (!copyIntoPlace(source, destination, conflict, &finalPath, error))
        return false;
    struct stat st;
    const bool folder = lstat(src.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!folder) {
        if (unlink(src.constData()) != 0) {
            // Keep exactly one copy: the source stays, the new copy goes.
            const int unlinkErr = errno;
            removeTree(encode(finalPath));
            setError(error, QStringLiteral("cannot remove %1 after copying it: %2").arg(quoted(source), errnoText(unlinkErr)));
            return false;
        }
    } else if (!removeTree(src)) {
        // The complete copy stands at the destination; what is left of the source is reported.
        setError(error, QStringLiteral("moved %1, but parts of the original could not be removed").arg(quoted(source)));
    }
    fsyncPath(parentOf(src), true);
    if (getFinalPath)
        *getFinalPath = finalPath;
    return true;
}

bool copyItem(const QString& sourcePath, const QString& destinationPath, NameConflict conflict, QString* getFinalPath, QString* error)
{
    QString source, destination;
    if (!checkedSourceAndDestination(sourcePath, destinationPath, source, destination, error))
        return false;
    if (conflict == NameConflict::Fail && exists(encode(destination))) {
        setError(error, QStringLiteral("%1 already exists").arg(quoted(destination)));
        return false;
    }
    return copyIntoPlace(source, destination, conflict, getFinalPath, error);
}

} // namespace platform
