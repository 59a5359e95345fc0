#include "platform/Volumes.h"

#include "platform/NotificationCenter.h"
#include "platform/Paths.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QSocketNotifier>
#include <QtCore/QStorageInfo>
#include <QtCore/QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

const QString kProcMountInfo = QStringLiteral("/proc/self/mountinfo");
const QString kDiskByUUID = QStringLiteral("/dev/disk/by-uuid");
// A real mount table is a few hundred kilobytes at most; anything larger is refused.
constexpr qsizetype kMaximumMountInfoSize = 16 * 1024 * 1024;

std::mutex g_pathsMutex;
QString g_mountInfoPath;
QString g_diskByUUIDPath;

QString configuredMountInfoPath()
{
    std::lock_guard lock(g_pathsMutex);
    return g_mountInfoPath.isEmpty() ? kProcMountInfo : g_mountInfoPath;
}

QString configuredDiskByUUIDPath()
{
    std::lock_guard lock(g_pathsMutex);
    return g_diskByUUIDPath.isEmpty() ? kDiskByUUID : g_diskByUUIDPath;
}

QString userName()
{
    QString user = QString::fromLocal8Bit(qgetenv("USER"));
    if (user.isEmpty() || user.contains(u'/')) {
        // The account database is read once: every path's volume is asked for through
        // here, and a lookup reads the password file each time.
        static const QString accountName = [] {
            const passwd* pw = getpwuid(getuid());
            return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
        }();
        user = accountName;
    }
    return user.contains(u'/') ? QString() : user;
}

bool parseInt(QByteArrayView text, int* out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (ok && v >= 0)
        *out = v;
    return ok && v >= 0;
}

// Reads a whole file of unknown size (proc files report 0) from an open descriptor.
bool readAllFrom(int fd, QByteArray* out, QString* error)
{
    out->clear();
    (void)lseek(fd, 0, SEEK_SET); // what cannot seek is read on from where it stands
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        if (out->size() + got > kMaximumMountInfoSize) {
            if (error)
                *error = QStringLiteral("the mount table is larger than %1 bytes").arg(kMaximumMountInfoSize);
            return false;
        }
        out->append(buffer, qsizetype(got));
    }
}

bool readMountTableText(const QString& path, QByteArray* text, QString* error)
{
    const int fd = ::open(platform::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot read <%1>: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const bool ok = readAllFrom(fd, text, error);
    ::close(fd);
    return ok;
}

QString cleanPath(const QString& path)
{
    return QDir::cleanPath(path);
}

bool isInside(const QString& path, const QString& folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(u'/');
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == u'/');
}

// Device node -> file-system UUID, from the links udev keeps.
QHash<QString, QString> uuidsByDevice()
{
    QHash<QString, QString> uuids;
    QDirIterator it(configuredDiskByUUIDPath(), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    int seen = 0;
    while (it.hasNext() && ++seen < 4096) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString target = info.canonicalFilePath();
        if (target.isEmpty() && info.isSymLink())
            target = cleanPath(info.symLinkTarget());
        if (!target.isEmpty() && !uuids.contains(target))
            uuids.insert(target, info.fileName());
    }
    return uuids;
}

// The identity of the disk behind a mount: its file-system UUID when it has one, else its
// type and source; either with the folder of the file system that is mounted (a btrfs
// subvolume, a bind mount), which all stay the same across mounts of the same disk.
QString identityFor(const MountEntry& entry, const QHash<QString, QString>& uuids)
{
    const QString rootSuffix = !entry.root.isEmpty() && entry.root != QLatin1String("/") ? u':' + entry.root : QString();
    if (entry.source.startsWith(u'/')) {
        const QString device = QFileInfo(entry.source).canonicalFilePath();
        const auto it = uuids.find(device.isEmpty() ? cleanPath(entry.source) : device);
        if (it != uuids.end())
            return QStringLiteral("UUID:") + *it + rootSuffix;
    }
    return entry.fileSystemType + u':' + entry.source + rootSuffix;
}

Volume volumeFor(const MountEntry& entry, bool system, const QHash<QString, QString>& uuids)
{
    Volume v;
    v.path = system ? QStringLiteral("/") : entry.mountPoint;
    v.name = system ? QStringLiteral("/") : QFileInfo(entry.mountPoint).fileName();
    v.identity = identityFor(entry, uuids);
    v.fileSystemType = entry.fileSystemType;
    v.source = entry.source;
    v.isSystemVolume = system;
    return v;
}

std::vector<Volume> volumesFrom(const std::vector<MountEntry>& entries)
{
    std::vector<Volume> volumes;
    const QHash<QString, QString> uuids = uuidsByDevice();
    // The last mount of a mount point hides the earlier ones.
    const MountEntry* systemEntry = nullptr;
    for (const MountEntry& e : entries)
        if (e.mountPoint == QLatin1String("/"))
            systemEntry = &e;
    if (systemEntry) {
        volumes.push_back(volumeFor(*systemEntry, true, uuids));
    } else {
        Volume system;
        system.path = system.name = QStringLiteral("/");
        system.isSystemVolume = true;
        volumes.push_back(system);
    }
    QHash<QString, size_t> lastMount;
    for (size_t i = 0; i < entries.size(); ++i)
        lastMount.insert(entries[i].mountPoint, i);
    for (size_t i = 0; i < entries.size(); ++i) {
        const MountEntry& e = entries[i];
        if (lastMount.value(e.mountPoint) != i || e.mountPoint == QLatin1String("/") || volumeRootForPath(e.mountPoint) != e.mountPoint)
            continue;
        volumes.push_back(volumeFor(e, false, uuids));
    }
    return volumes;
}

} // namespace

QString unescapeMountInfoField(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        const auto isOctal = [](char d) { return d >= '0' && d <= '7'; };
        if (c == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xff && value != 0) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QFile::decodeName(out);
}

std::vector<MountEntry> parseMountInfo(const QByteArray& text, QString* error)
{
    std::vector<MountEntry> entries;
    int bad = 0;
    for (const QByteArray& line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        qsizetype dash = -1;
        for (qsizetype i = 6; i < fields.size(); ++i) {
            if (fields[i] == "-") {
                dash = i;
                break;
            }
        }
        MountEntry e;
        const qsizetype colon = fields.size() > 2 ? fields[2].indexOf(':') : -1;
        int major = 0, minor = 0;
        if (fields.size() < 6 || dash < 0 || fields.size() < dash + 3 || colon < 0 || !parseInt(fields[0], &e.mountId)
            || !parseInt(fields[1], &e.parentId) || !parseInt(fields[2].left(colon), &major) || !parseInt(fields[2].mid(colon + 1), &minor)
            || !fields[4].startsWith('/')) {
            ++bad;
            continue;
        }
        e.deviceMajor = unsigned(major);
        e.deviceMinor = unsigned(minor);
        e.root = unescapeMountInfoField(fields[3]);
        e.mountPoint = unescapeMountInfoField(fields[4]);
        e.mountOptions = unescapeMountInfoField(fields[5]);
        e.fileSystemType = unescapeMountInfoField(fields[dash + 1]);
        e.source = unescapeMountInfoField(fields[dash + 2]);
        if (fields.size() > dash + 3)
            e.superOptions = unescapeMountInfoField(fields[dash + 3]);
        entries.push_back(std::move(e));
    }
    if (error)
        *error = bad ? QStringLiteral("%1 malformed mount table lines skipped").arg(bad) : QString();
    return entries;
}

QStringList volumeParentFolders()
{
    // Asked for every path whose volume is looked up: the list is made again only when
    // the user name it depends on changed (each thread keeps its own).
    // (Read without a copy: this runs for every file a rebuild tests.)
    const char* variable = std::getenv("USER");
    const QByteArrayView userVariable(variable ? variable : "");
    thread_local QByteArray cachedUserVariable;
    thread_local QStringList cachedParents;
    thread_local bool cached = false;
    if (cached && cachedUserVariable == userVariable)
        return cachedParents;
    QStringList parents;
    const QString user = userName();
    if (!user.isEmpty()) {
        parents << QStringLiteral("/media/") + user << QStringLiteral("/run/media/") + user;
    }
    parents << QStringLiteral("/mnt");
    cached = true;
    cachedUserVariable = userVariable.toByteArray();
    cachedParents = parents;
    return parents;
}

QString volumeRootForPath(const QString& path)
{
    // Nearly every path is clean already (no "//", no "." or ".." component, no trailing
    // slash): it is then taken as it is rather than copied clean.
    const QString clean = path.startsWith(u'/') ? (isCleanAbsolutePath(path) ? path : cleanPath(path)) : QString();
    if (clean.isEmpty())
        return QStringLiteral("/");
    for (const QString& parent : volumeParentFolders()) {
        if (clean.size() > parent.size() + 1 && clean.startsWith(parent) && clean.at(parent.size()) == u'/') {
            const qsizetype end = clean.indexOf(u'/', parent.size() + 1);
            return end < 0 ? clean : clean.left(end);
        }
    }
    return QStringLiteral("/");
}

void setMountInfoPath(const QString& path)
{
    std::lock_guard lock(g_pathsMutex);
    g_mountInfoPath = path;
}

void setDiskByUUIDPath(const QString& path)
{
    std::lock_guard lock(g_pathsMutex);
    g_diskByUUIDPath = path;
}

bool readMountTable(std::vector<MountEntry>* getEntries, QString* error)
{
    QByteArray text;
    const bool ok = readMountTableText(configuredMountInfoPath(), &text, error);
    if (getEntries)
        *getEntries = ok ? parseMountInfo(text) : std::vector<MountEntry>();
    return ok;
}

std::vector<Volume> mountedVolumes()
{
    // The volumes, with their identities, are made again only when the table changed. The
    // kernel's own table tells of a change through poll() on a descriptor kept open, so an
    // unchanged table is not even read; another table (tests) is read and compared.
    static std::mutex cacheMutex;
    static int procFd = -1;
    static QByteArray cachedText;
    static QString cachedSources;
    static std::vector<Volume> cachedVolumes;
    static bool cached = false;
    const QString path = configuredMountInfoPath();
    const QString sources = path + u'\n' + configuredDiskByUUIDPath() + u'\n' + volumeParentFolders().join(u'\n');

    std::lock_guard lock(cacheMutex);
    QByteArray text;
    if (path == kProcMountInfo) {
        // An open table keeps showing the mount namespace it was opened in.
        static QByteArray namespaceLink;
        char link[64] = {};
        const ssize_t len = readlink("/proc/self/ns/mnt", link, sizeof link - 1);
        const QByteArray currentNamespace(link, len > 0 ? qsizetype(len) : 0);
        if (procFd >= 0 && currentNamespace != namespaceLink) {
            ::close(procFd);
            procFd = -1;
            cached = false;
        }
        namespaceLink = currentNamespace;
        if (procFd < 0)
            procFd = ::open(platform::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (procFd >= 0) {
            pollfd p{procFd, POLLPRI, 0};
            const bool changed = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR));
            if (cached && !changed && sources == cachedSources)
                return cachedVolumes;
            if (!readAllFrom(procFd, &text, nullptr))
                return volumesFrom({});
        }
    }
    if (text.isEmpty() && !readMountTableText(path, &text, nullptr))
        return volumesFrom({});
    if (cached && text == cachedText && sources == cachedSources)
        return cachedVolumes;
    cachedVolumes = volumesFrom(parseMountInfo(text));
    cachedText = text;
    cachedSources = sources;
    cached = true;
    return cachedVolumes;
}

bool isVolumeMounted(const QString& volumePath)
{
    return getVolume(volumePath, nullptr);
}

bool getVolume(const QString& volumePath, Volume* getVolume)
{
    if (volumePath.isEmpty() || !volumePath.startsWith(u'/'))
        return false;
    const QString path = cleanPath(volumePath);
    for (const Volume& v : mountedVolumes()) {
        if (v.path == path) {
            if (getVolume)
                *getVolume = v;
            return true;
        }
    }
    return false;
}

bool getVolumeForPath(const QString& path, Volume* getVolume)
{
    if (path.isEmpty() || !path.startsWith(u'/'))
        return false;
    const QString clean = cleanPath(path);
    const std::vector<Volume> volumes = mountedVolumes();
    const Volume* best = nullptr;
    for (const Volume& v : volumes)
        if (isInside(clean, v.path) && (!best || v.path.size() > best->path.size()))
            best = &v;
    if (!best)
        return false;
    if (getVolume)
        *getVolume = *best;
    return true;
}

bool isPathOnMissingVolume(const QString& path)
{
    const QString root = volumeRootForPath(path);
    return root != QLatin1String("/") && !isVolumeMounted(root);
}

bool getVolumeSizes(const QString& path, qint64* getTotalBytes, qint64* getAvailableBytes)
{
    const QStorageInfo info(path);
    if (!info.isValid() || !info.isReady())
        return false;
    if (getTotalBytes)
        *getTotalBytes = info.bytesTotal();
    if (getAvailableBytes)
        *getAvailableBytes = info.bytesAvailable();
    return true;
}

VolumeWatcher::VolumeWatcher(QObject* parent)
    : QObject(parent)
{
}

VolumeWatcher::~VolumeWatcher()
{
    stop();
}

void VolumeWatcher::start()
{
    stop();
    m_volumes = mountedVolumes();
    const QString path = configuredMountInfoPath();
    if (path == kProcMountInfo) {
        m_fd = ::open(platform::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd >= 0) {
            // The kernel marks the open table exceptional (POLLPRI) whenever mounts change;
            // reading it through the same descriptor arms the next report.
            QByteArray ignored;
            readAllFrom(m_fd, &ignored, nullptr);
            m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &VolumeWatcher::onChange);
            return;
        }
    }
    m_timer = new QTimer(this);
    m_timer->setInterval(2000);
    connect(m_timer, &QTimer::timeout, this, &VolumeWatcher::rescan);
    m_timer->start();
}

void VolumeWatcher::stop()
{
    delete m_notifier;
    m_notifier = nullptr;
    delete m_timer;
    m_timer = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool VolumeWatcher::isWatching() const
{
    return m_notifier || m_timer;
}

void VolumeWatcher::setCallbacks(std::function<void(const Volume&)> mounted, std::function<void(const Volume&)> unmounted)
{
    m_mounted = std::move(mounted);
    m_unmounted = std::move(unmounted);
}

void VolumeWatcher::setNotificationCenter(NotificationCenter* center)
{
    m_center = center;
}

void VolumeWatcher::onChange()
{
    if (m_fd >= 0) {
        QByteArray ignored;
        readAllFrom(m_fd, &ignored, nullptr);
    }
    rescan();
}

void VolumeWatcher::rescan()
{
    std::vector<Volume> now = mountedVolumes();
    const auto find = [](const std::vector<Volume>& list, const Volume& v) {
        return std::find_if(list.begin(), list.end(), [&](const Volume& o) { return o.path == v.path && o.identity == v.identity; }) != list.end();
    };
    std::vector<Volume> gone, added;
    for (const Volume& v : m_volumes)
        if (!find(now, v))
            gone.push_back(v);
    for (const Volume& v : now)
        if (!find(m_volumes, v))
            added.push_back(v);
    m_volumes = std::move(now);
    const auto post = [this](const char* name, const Volume& v) {
        if (m_center)
            m_center->postNotificationName(QString::fromLatin1(name), this,
                                           Dictionary::make({{QString::fromLatin1(kVolumeDevicePathKey), Value(v.path)}}));
    };
    for (const Volume& v : gone) {
        if (m_unmounted)
            m_unmounted(v);
        post(kVolumeDidUnmountNotification, v);
        Q_EMIT volumeUnmounted(v.path);
    }
    for (const Volume& v : added) {
        if (m_mounted)
            m_mounted(v);
        post(kVolumeDidMountNotification, v);
        Q_EMIT volumeMounted(v.path);
    }
}

} // namespace platform
