#include "foundation/NSString+PMHelpManagerPaths.h"

#include "platform/Paths.h"
#include "platform/FileOperations.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QRegularExpression>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString stripTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

// The file-system form of a path or name. A rebuild tests every file of the library:
// plain ASCII texts, nearly all of them, are copied into the buffer as they are rather
// than converted through the locale (into `converted`).
template <size_t N>
const char* nativeText(QStringView text, char (&ascii)[N], QByteArray& converted)
{
    const qsizetype n = text.size();
    if (n < qsizetype(N)) {
        qsizetype i = 0;
        while (i < n && text[i].unicode() != 0 && text[i].unicode() < 0x80) {
            ascii[i] = char(text[i].unicode());
            ++i;
        }
        if (i == n) {
            ascii[n] = '\0';
            return ascii;
        }
    }
    converted = platform::encodeFileName(text.toString());
    return converted.constData();
}

bool lexists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    char ascii[512];
    QByteArray converted;
    return lstat(nativeText(path, ascii, converted), &st) == 0;
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
    return !path.isEmpty() && statx(AT_FDCWD, platform::encodeFileName(path).constData(), 0, STATX_MTIME | STATX_BTIME, sx) == 0;
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
    if (prefs::get(prefs::keys::ShowFileExtensions))
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
    if (path.isEmpty() || lstat(platform::encodeFileName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
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
    return fileExistsAtPathOnVolume(path, path.isEmpty() ? QString() : volumePathOrSlash(path), useSimplifiedCacheForExternalVolumes);
}

namespace {

// A folder's names are read once this many of its files came in a row (asking for a
// few files of a large folder one by one is cheaper), unless the folder is so large
// that reading its names would cost more than it saves.
constexpr int kTestsBeforeListing = 8;
constexpr off_t kLargestListedFolderBytes = 8 << 20;

} // namespace

// A folder's names in one buffer, found through an open-addressing table of their places:
// a library's folders hold a hundred thousand names between them, none of which should
// cost an allocation of its own.
struct PMFileExistenceProbe::Listing {
    std::string buffer;                                  // the names, each followed by a NUL
    std::vector<std::pair<std::uint32_t, std::uint32_t>> places; // start and length of each
    std::vector<std::uint32_t> slots;                    // place number + 1; 0 for a free slot

    std::string_view nameAt(std::uint32_t place) const { return {buffer.data() + places[place].first, places[place].second}; }
    static size_t hashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

    void index()
    {
        size_t capacity = 16;
        while (capacity < places.size() * 2)
            capacity *= 2;
        slots.assign(capacity, 0);
        for (std::uint32_t place = 0; place < places.size(); ++place) {
            size_t s = hashOf(nameAt(place)) & (capacity - 1);
            while (slots[s] != 0)
                s = (s + 1) & (capacity - 1);
            slots[s] = place + 1;
        }
    }

    bool contains(std::string_view name) const
    {
        const size_t mask = slots.size() - 1;
        for (size_t s = hashOf(name) & mask;; s = (s + 1) & mask) {
            if (slots[s] == 0)
                return false;
            if (nameAt(slots[s] - 1) == name)
                return true;
        }
    }
};

PMFileExistenceProbe::PMFileExistenceProbe() = default;

PMFileExistenceProbe::~PMFileExistenceProbe()
{
    forgetFolder();
}

void PMFileExistenceProbe::forgetFolder()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    m_state = Folder::Unknown;
    m_mayList = false;
    m_testsInFolder = 0;
    m_listing.reset();
}

bool PMFileExistenceProbe::readListing()
{
    m_mayList = false; // read once, whatever comes of it
    struct stat folder;
    if (::fstat(m_descriptor, &folder) != 0 || folder.st_size > kLargestListedFolderBytes)
        return false;
    const int descriptor = ::fcntl(m_descriptor, F_DUPFD_CLOEXEC, 0);
    DIR* directory = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
    if (!directory) {
        if (descriptor >= 0)
            ::close(descriptor);
        return false;
    }
    auto listing = std::make_unique<Listing>();
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (!entry) {
            complete = errno == 0;
            break;
        }
        const size_t length = std::strlen(entry->d_name);
        listing->places.emplace_back(std::uint32_t(listing->buffer.size()), std::uint32_t(length));
        listing->buffer.append(entry->d_name, length + 1);
    }
    ::closedir(directory);
    if (!complete)
        return false;
    listing->index();
    m_listing = std::move(listing);
    return true;
}

bool PMFileExistenceProbe::exists(const QString& path)
{
    // Paths that cleaning would change ("..", "//") are asked as they are.
    if (path.size() < 2 || !platform::isCleanAbsolutePath(path))
        return lexists(path);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView folder = slash == 0 ? QStringView(u"/") : QStringView(path).left(slash);
    if (m_state == Folder::Unknown || folder != m_folder) {
        forgetFolder();
        m_folder = folder.toString();
        char ascii[512];
        QByteArray converted;
        const char* native = nativeText(folder, ascii, converted);
        // A folder that may be searched but not read still answers name by name.
        m_descriptor = ::open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        m_mayList = m_descriptor >= 0;
        if (m_descriptor < 0 && errno == EACCES)
            m_descriptor = ::open(native, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (m_descriptor >= 0)
            m_state = Folder::Open;
        else
            // No folder (or not a folder): nothing in it exists. Anything else (no
            // permission, no descriptor left) is left to `lstat`, path by path.
            m_state = errno == ENOENT || errno == ENOTDIR ? Folder::Missing : Folder::Unusable;
    }
    switch (m_state) {
    case Folder::Missing: return false;
    case Folder::Open: {
        char ascii[256];
        QByteArray converted;
        const char* name = nativeText(QStringView(path).mid(slash + 1), ascii, converted);
        if (m_mayList && ++m_testsInFolder > kTestsBeforeListing)
            readListing();
        if (m_listing)
            return m_listing->contains(std::string_view(name, std::strlen(name)));
        struct stat st;
        return ::fstatat(m_descriptor, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    }
    default: return lexists(path);
    }
}

namespace {
thread_local quint64 tExistenceTests = 0;
} // namespace

quint64 fileExistenceTestsOnThisThread()
{
    return tExistenceTests;
}

bool fileExistsAtPathOnVolume(const QString& path, const QString& volume, bool useSimplifiedCacheForExternalVolumes,
                              PMFileExistenceProbe* probe)
{
    ++tExistenceTests;
    if (path.isEmpty()) {
        clearSimplifiedExternalVolumesCache();
        return false;
    }
    const auto onDisk = [&] { return probe ? probe->exists(path) : lexists(path); };
    if (volume == QLatin1String("/"))
        return onDisk();
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
        return onDisk();
    g_existenceCache->insert(path, volumePresent);
    return volumePresent;
}

void clearSimplifiedExternalVolumesCache()
{
    std::lock_guard lock(g_cacheMutex);
    delete g_existenceCache;
    g_existenceCache = nullptr;
}
