#include "foundation/NSString+PMHelpManagerPaths.h"

#include "platform/Paths.h"
#include "platform/FileOperations.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QRegularExpression>

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

namespace {

QString stripTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

bool lexists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isVolumePresent(const QString& volumePath)
{
    return volumePath == QLatin1String("/") || platform::isVolumeMounted(volumePath);
}

// The readable components of a path by its text: the volume's name and what lies below it,
// or the components below "/" on the system volume.
QStringList textComponents(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString volume = volumePathOrSlash(clean);
    QStringList components;
    if (volume != QLatin1String("/")) {
        components.append(volume.mid(volume.lastIndexOf(u'/') + 1));
        components += clean.mid(volume.size()).split(u'/', Qt::SkipEmptyParts);
    } else {
        components = clean.split(u'/', Qt::SkipEmptyParts);
    }
    return components;
}

// What a file browser shows for an existing path; nothing for a missing one.
QStringList displayComponents(const QString& path)
{
    if (!path.startsWith(u'/') || !lexists(path))
        return {};
    return textComponents(path);
}

bool statTimes(const QString& path, struct statx* sx)
{
    return !path.isEmpty() && statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_MTIME | STATX_BTIME, sx) == 0;
}

platform::Date dateOf(const struct statx_timestamp& t)
{
    return platform::Date{double(t.tv_sec) + double(t.tv_nsec) / 1e9};
}

// Files that file managers of several systems leave in folders, and nothing else.
bool isClutterName(const QString& name)
{
    return name == QLatin1String(".DS_Store") || name.startsWith(QLatin1String("._")) || name == QLatin1String("Icon\r")
        || name.compare(QLatin1String("Thumbs.db"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("desktop.ini"), Qt::CaseInsensitive) == 0 || name == QLatin1String(".directory");
}

std::mutex g_cacheMutex;
QHash<QString, bool>* g_existenceCache = nullptr;

} // namespace

QString displayFilename(const QString& path)
{
    const QString name = stripTrailingSlashes(path).section(u'/', -1);
    if (platform::UserDefaults::standard().boolForKey(QStringLiteral("Show File Extensions")))
        return name;
    QString base;
    platform::splitPathExtension(name, &base, nullptr);
    return base;
}

QString volumePathOrSlash(const QString& path)
{
    return platform::volumeRootForPath(path);
}

QString pathByDeletingNumericVolumeSuffix(const QString& path)
{
    QString result = path;
    for (const QString& parent : platform::volumeParentFolders()) {
        const QRegularExpression pattern(u'(' + QRegularExpression::escape(parent) + QStringLiteral(R"(/[^/]+)\s\d+(/.*)?)"));
        result.replace(pattern, QStringLiteral("\\1\\2"));
    }
    return result;
}

QString missingVolumeDescription(const QString& path)
{
    const QString volume = readablePathRepresentationIndicatingAvailability(volumePathOrSlash(path), false);
    if (volume.isEmpty() || volume == QLatin1String("/"))
        return QStringLiteral("Not Available");
    return QStringLiteral("Not Available: %1").arg(volume);
}

QStringList pathComponentsRelativeToPath(const QString& path, const QString& basePath, bool includeFilename)
{
    return pathComponentsRelativeToPath(path, basePath, includeFilename, false, nullptr);
}

QStringList pathComponentsRelativeToPath(const QString& path, const QString& basePath, bool includeFilename, bool useFallback,
                                         bool* didUseFallback)
{
    if (didUseFallback)
        *didUseFallback = false;
    QStringList components = displayComponents(path);
    if (components.isEmpty() && useFallback && basePath.isEmpty() && path.startsWith(u'/') && volumePathOrSlash(path) != QLatin1String("/")) {
        components = textComponents(path);
        if (didUseFallback)
            *didUseFallback = true;
    }
    const QStringList base = basePath.isEmpty() ? QStringList() : displayComponents(basePath);
    const qsizetype n = base.size();
    // Below the base only when the path really lies below it.
    if (n >= 1 && components.size() > n && components.mid(0, n) == base && isEqualToOrChildOfPath(path, basePath)) {
        QStringList below = components.mid(n);
        if (!includeFilename)
            below.removeLast();
        return below;
    }
    if (components.size() < 2 || includeFilename)
        return components;
    components.removeLast();
    return components;
}

QString readablePathRepresentationRelativeToPath(const QString& path, const QString& basePath, bool includeFilename,
                                                 bool indicateAvailability)
{
    bool fallback = false;
    const QStringList components = pathComponentsRelativeToPath(path, basePath, includeFilename, true, &fallback);
    QString text = components.join(QStringLiteral(" \u25B8 "));
    bool isThere = !fallback;
    if (components.isEmpty()) {
        text = path;
        isThere = false;
    }
    if (isThere || !indicateAvailability)
        return text;
    const bool volumePresent = isVolumePresent(volumePathOrSlash(path));
    return QStringLiteral("%1 \u2014 %2").arg(text, volumePresent ? QStringLiteral("Missing") : QStringLiteral("Not Available"));
}

QString readablePathRepresentationIndicatingAvailability(const QString& path, bool indicateAvailability)
{
    return readablePathRepresentationRelativeToPath(path, QString(), true, indicateAvailability);
}

QString readablePathRepresentation(const QString& path)
{
    return readablePathRepresentationIndicatingAvailability(path, true);
}

bool isEqualToOrChildOfPath(const QString& path, const QString& otherPath)
{
    if (otherPath.isEmpty() || path.isEmpty())
        return false;
    const QString a = stripTrailingSlashes(path.normalized(QString::NormalizationForm_C));
    const QString b = stripTrailingSlashes(otherPath.normalized(QString::NormalizationForm_C));
    if (a == b)
        return true;
    if (b == QLatin1String("/"))
        return a.startsWith(u'/');
    return a.size() > b.size() && a.startsWith(b) && a.at(b.size()) == u'/';
}

bool isEqualToOrChildOrParentOfPath(const QString& path, const QString& otherPath)
{
    return isEqualToOrChildOfPath(path, otherPath) || isEqualToOrChildOfPath(otherPath, path);
}

bool checkFolderPathAndCreateIfNecessary(const QString& path)
{
    const QString folder = platform::stringByExpandingTildeInPath(path);
    if (folder.isEmpty())
        return false;
    if (QFileInfo(folder).isDir())
        return true;
    // On a disk that is not mounted the folder would land in the empty mount point.
    if (platform::isPathOnMissingVolume(QFileInfo(folder).absoluteFilePath()))
        return false;
    return QDir().mkpath(folder);
}

bool removeFolderIfVirtuallyEmpty(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    QDir dir(path);
    if (!dir.isReadable())
        return false;
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        if (!isClutterName(entry.fileName()) || entry.isDir() || entry.isSymLink())
            return false;
    for (const QFileInfo& entry : entries)
        if (!QFile::remove(entry.filePath()))
            return false;
    return QDir().rmdir(path);
}

std::optional<platform::Date> creationDateFromPath(const QString& path)
{
    struct statx sx;
    if (!statTimes(path, &sx))
        return std::nullopt;
    return dateOf((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime);
}

std::optional<platform::Date> modificationDateFromPath(const QString& path)
{
    struct statx sx;
    if (!statTimes(path, &sx))
        return std::nullopt;
    return dateOf(sx.stx_mtime);
}

bool hasModificationDate(const QString& path, const std::optional<platform::Date>& date, std::optional<platform::Date>* getActualDate)
{
    const std::optional<platform::Date> actual = modificationDateFromPath(path);
    if (getActualDate)
        *getActualDate = actual;
    return date && actual && *date == *actual;
}

bool removeItemAtPath(const QString& path)
{
    if (!lexists(path))
        return false;
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

bool removeItemAtAbbreviatedPath(const QString& path)
{
    return removeItemAtPath(platform::stringByExpandingTildeInPath(path));
}

bool fileExistsAtPath(const QString& path, bool useSimplifiedCacheForExternalVolumes)
{
    if (path.isEmpty()) {
        clearSimplifiedExternalVolumesCache();
        return false;
    }
    const QString volume = volumePathOrSlash(path);
    if (volume == QLatin1String("/"))
        return lexists(path);
    std::lock_guard lock(g_cacheMutex);
    if (!g_existenceCache)
        g_existenceCache = new QHash<QString, bool>;
    const auto cachedPath = g_existenceCache->find(path);
    if (cachedPath != g_existenceCache->end())
        return *cachedPath;
    auto cachedVolume = g_existenceCache->find(volume);
    if (cachedVolume == g_existenceCache->end())
        cachedVolume = g_existenceCache->insert(volume, platform::isVolumeMounted(volume));
    const bool volumePresent = *cachedVolume;
    if (!useSimplifiedCacheForExternalVolumes && volumePresent)
        return lexists(path);
    g_existenceCache->insert(path, volumePresent);
    return volumePresent;
}

void clearSimplifiedExternalVolumesCache()
{
    std::lock_guard lock(g_cacheMutex);
    delete g_existenceCache;
    g_existenceCache = nullptr;
}
