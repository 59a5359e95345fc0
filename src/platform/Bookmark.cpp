#include "platform/Bookmark.h"

#include "platform/Paths.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QHash>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <deque>
#include <unordered_map>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {

const QString kPath = QStringLiteral("Path");
const QString kVolumePath = QStringLiteral("Volume Path");
const QString kVolumeIdentity = QStringLiteral("Volume Identity");
const QString kDevice = QStringLiteral("Device");
const QString kInode = QStringLiteral("Inode");
const QString kVersion = QStringLiteral("Version");
const QString kBirth = QStringLiteral("Birth");
const QString kSize = QStringLiteral("Size");
const QString kModified = QStringLiteral("Modified");
constexpr int kCurrentVersion = 1;
constexpr qsizetype kMaximumDataSize = 64 * 1024;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

bool statPath(const QString& path, struct stat* st)
{
    return lstat(platform::encodeFileName(path).constData(), st) == 0;
}

struct Identity {
    quint64 device = 0, inode = 0;
    qint64 birth = 0, size = 0, modified = 0;
};

bool identityOf(const QByteArray& path, Identity* out)
{
    struct statx sx;
    if (statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME, &sx) != 0)
        return false;
    out->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    out->inode = sx.stx_ino;
    out->birth = (sx.stx_mask & STATX_BTIME) ? qint64(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec : 0;
    out->size = qint64(sx.stx_size);
    out->modified = qint64(sx.stx_mtime.tv_sec) * 1000000000 + sx.stx_mtime.tv_nsec;
    return true;
}

// The same file, not merely a later file that was given the freed inode number.
bool isSameFile(const Identity& now, const Bookmark& b)
{
    if (now.inode != b.inode)
        return false;
    if (now.birth != 0 && b.birthTime != 0)
        return now.birth == b.birthTime;
    return now.size == b.size && now.modified == b.modificationTime;
}

bool parseSigned(const QString& text, qint64* out)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (ok)
        *out = v;
    return ok;
}

bool parseNumber(const QString& text, quint64* out)
{
    bool ok = false;
    const quint64 v = text.toULongLong(&ok, 10);
    if (ok)
        *out = v;
    return ok;
}

QString relativeTo(const QString& path, const QString& root)
{
    if (root == QLatin1String("/"))
        return path.mid(1);
    if (path == root)
        return {};
    if (path.startsWith(root) && path.at(root.size()) == u'/')
        return path.mid(root.size() + 1);
    return {};
}

// Folders of the system volume that never hold the user's files.
bool isSystemFolder(const QByteArray& path)
{
    static const QByteArray folders[] = {"/proc", "/sys", "/dev", "/run", "/boot", "/snap"};
    for (const QByteArray& f : folders)
        if (path == f)
            return true;
    return false;
}

// A folder as the inode search reads it: its entries without "." and "..", in the order the
// file system gives them, with what lstat said of those the search had to look at.
struct ListedEntry {
    quint64 entryInode = 0;   // d_ino
    quint64 device = 0;       // lstat, once done
    quint64 inode = 0;        // lstat, once done
    quint32 mode = 0;         // lstat, once done
    quint32 nameOffset = 0;   // into ListedFolder::names, NUL-terminated there
    unsigned char type = DT_UNKNOWN;
    unsigned char status = 0; // kNotLooked, kLooked or kVanished
};
constexpr unsigned char kNotLooked = 0, kLooked = 1, kVanished = 2;

struct ListedFolder {
    QByteArray path;
    QByteArray names;
    std::vector<ListedEntry> entries;
};

thread_local quint64 tFolderReads = 0;

// Reads the folder's entries, as many as one search can look at; an unreadable folder is
// an empty one.
void listFolder(const QByteArray& path, ListedFolder* out)
{
    ++tFolderReads;
    out->path = path;
    out->names.clear();
    out->entries.clear();
    DIR* dir = opendir(path.constData());
    if (!dir)
        return;
    while (out->entries.size() < size_t(kBookmarkSearchLimit)) {
        const dirent* entry = readdir(dir);
        if (!entry)
            break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        ListedEntry e;
        e.entryInode = entry->d_ino;
        e.type = entry->d_type;
        e.nameOffset = quint32(out->names.size());
        out->names.append(entry->d_name, qsizetype(std::strlen(entry->d_name)) + 1);
        out->entries.push_back(e);
    }
    closedir(dir);
}

QByteArray childPath(const ListedFolder& folder, const ListedEntry& entry)
{
    return (folder.path == "/" ? QByteArray() : folder.path) + '/' + (folder.names.constData() + entry.nameOffset);
}

} // namespace

// What the resolutions of one session share. Every entry of a kept folder is in the index
// under its d_ino (and under its lstat inode where that differs), so a search that ran to its
// end without a hit has put every entry it looked at in the index: the same search (same start,
// skip and budget, hence the same entries in the same order) cannot find anything the index
// does not answer first, and is not run again.
struct BookmarkSearchSession::State {
    struct Place {
        quint32 folder = 0, entry = 0;
    };
    qsizetype limit = 0;
    qsizetype kept = 0; // entries of kept folders and fruitless searches
    std::deque<ListedFolder> folders;
    QHash<QByteArray, quint32> folderByPath;
    std::unordered_multimap<quint64, Place> placesByInode;
    QHash<QByteArray, int> budgetAfterFruitlessSearch;
    // Folders seen renamed or moved (old path, new path), the latest first: the other
    // files of a folder that moved are most likely where it went.
    std::vector<std::pair<QString, QString>> movedFolders;
    quint64 movedFoldersLearned = 0;

    bool hasRoom(qsizetype count) const { return kept + count <= limit; }

    // The folder, read once and kept while there is room; `*complete` is cleared when it
    // could not be kept (its entries are then not in the index).
    ListedFolder& folder(const QByteArray& path, ListedFolder* scratch, bool* complete, quint32* getIndex)
    {
        const auto known = folderByPath.constFind(path);
        if (known != folderByPath.constEnd()) {
            *getIndex = *known;
            return folders[*known];
        }
        listFolder(path, scratch);
        if (!hasRoom(qsizetype(scratch->entries.size()) + 1)) {
            *complete = false;
            *getIndex = quint32(-1);
            return *scratch;
        }
        const quint32 index = quint32(folders.size());
        folders.push_back(std::move(*scratch));
        *scratch = {};
        ListedFolder& added = folders.back();
        added.names.squeeze();
        added.entries.shrink_to_fit();
        kept += qsizetype(added.entries.size()) + 1;
        folderByPath.insert(path, index);
        for (quint32 i = 0; i < added.entries.size(); ++i)
            placesByInode.emplace(added.entries[i].entryInode, Place{index, i});
        return added;
    }
};

namespace {

thread_local BookmarkSearchSession::State* tSession = nullptr;

QByteArray fruitlessSearchKey(const QByteArray& start, const QByteArray& skip, dev_t device, int budget)
{
    return start + '\0' + skip + '\0' + QByteArray::number(quint64(device)) + '/' + QByteArray::number(budget);
}

// The folder that moved, when a file was found elsewhere: the paths' common ending (whole
// components, the file's name at least) taken off both.
void learnMovedFolder(BookmarkSearchSession::State& session, const QString& oldPath, const QString& newPath)
{
    constexpr size_t kMostMovedFolders = 16;
    qsizetype o = oldPath.size(), n = newPath.size();
    qsizetype lastSlashO = -1, lastSlashN = -1;
    while (o > 0 && n > 0 && oldPath.at(o - 1) == newPath.at(n - 1)) {
        --o;
        --n;
        if (oldPath.at(o) == u'/') {
            lastSlashO = o;
            lastSlashN = n;
        }
    }
    if (lastSlashO <= 0 || lastSlashN <= 0)
        return; // the name changed, or a whole path is the common ending
    const QString from = oldPath.left(lastSlashO), to = newPath.left(lastSlashN);
    auto& moved = session.movedFolders;
    const auto same = std::find_if(moved.begin(), moved.end(), [&](const auto& entry) { return entry.first == from && entry.second == to; });
    if (same != moved.end())
        moved.erase(same);
    else
        ++session.movedFoldersLearned;
    moved.insert(moved.begin(), {from, to});
    if (moved.size() > kMostMovedFolders)
        moved.pop_back();
}

// The file at the place it would have if its folder moved as another one did.
bool findInMovedFolders(const BookmarkSearchSession::State& session, dev_t device, const Bookmark& bookmark, QString* found)
{
    for (const auto& [from, to] : session.movedFolders) {
        if (!(bookmark.path.size() > from.size() && bookmark.path.startsWith(from) && bookmark.path.at(from.size()) == u'/'))
            continue;
        const QString candidate = to + bookmark.path.mid(from.size());
        Identity identity;
        if (identityOf(platform::encodeFileName(candidate), &identity) && identity.device == device && isSameFile(identity, bookmark)) {
            *found = candidate;
            return true;
        }
    }
    return false;
}

// A file the session has seen with the bookmarked inode, checked to be the same file.
bool findInIndex(const BookmarkSearchSession::State& session, dev_t device, const Bookmark& bookmark, QByteArray* found)
{
    const auto [first, last] = session.placesByInode.equal_range(bookmark.inode);
    for (auto it = first; it != last; ++it) {
        const ListedFolder& folder = session.folders[it->second.folder];
        const QByteArray path = childPath(folder, folder.entries[it->second.entry]);
        Identity identity;
        if (identityOf(path, &identity) && identity.device == device && isSameFile(identity, bookmark)) {
            *found = path;
            return true;
        }
    }
    return false;
}

// Looks for the inode below `start`, on one device, breadth first (a rename usually
// stays close), without following links, skipping `skip` (searched already). Within a
// session the folders come from its memory where they were read before, in the same order;
// `*complete` is cleared when a folder read could not be kept.
bool searchInode(const QByteArray& start, const QByteArray& skip, dev_t device, const Bookmark& bookmark, int* budget, QByteArray* found,
                 BookmarkSearchSession::State* session, bool* complete)
{
    std::deque<std::pair<QByteArray, int>> folders{{start, 0}};
    ListedFolder scratch;
    while (!folders.empty() && *budget > 0) {
        const auto [path, depth] = folders.front();
        folders.pop_front();
        quint32 folderIndex = quint32(-1);
        ListedFolder* folder = &scratch;
        if (session)
            folder = &session->folder(path, &scratch, complete, &folderIndex);
        else
            listFolder(path, &scratch);
        for (quint32 i = 0; i < folder->entries.size(); ++i) {
            if (--*budget <= 0)
                break;
            ListedEntry& entry = folder->entries[i];
            // The entry's own inode number spares a stat call for every file.
            const bool candidate = entry.entryInode == bookmark.inode;
            const bool folderEntry = entry.type == DT_DIR || entry.type == DT_UNKNOWN;
            if (!candidate && !folderEntry)
                continue;
            const QByteArray child = childPath(*folder, entry);
            if (entry.status == kNotLooked) {
                struct stat st;
                if (lstat(child.constData(), &st) != 0) {
                    entry.status = kVanished;
                } else {
                    entry.status = kLooked;
                    entry.device = st.st_dev;
                    entry.inode = st.st_ino;
                    entry.mode = st.st_mode;
                    // A mount point's d_ino is not the inode lstat sees: index that too.
                    if (session && folderIndex != quint32(-1) && entry.inode != entry.entryInode && entry.device == device)
                        session->placesByInode.emplace(entry.inode, BookmarkSearchSession::State::Place{folderIndex, i});
                }
            }
            if (entry.status != kLooked || entry.device != device)
                continue;
            Identity identity;
            if (entry.inode == bookmark.inode && identityOf(child, &identity) && isSameFile(identity, bookmark)) {
                *found = child;
                return true;
            }
            if (S_ISDIR(entry.mode) && depth < 32 && child != skip && !isSystemFolder(child))
                folders.emplace_back(child, depth + 1);
        }
    }
    return false;
}

} // namespace

Value Bookmark::toValue() const
{
    return DictionaryPtr(Dictionary::make({
        {kVersion, Value(kCurrentVersion)},
        {kPath, Value(path)},
        {kVolumePath, Value(volumePath)},
        {kVolumeIdentity, Value(volumeIdentity)},
        {kDevice, Value(QString::number(device))},
        {kInode, Value(QString::number(inode))},
        {kBirth, Value(QString::number(birthTime))},
        {kSize, Value(QString::number(size))},
        {kModified, Value(QString::number(modificationTime))},
    }));
}

bool Bookmark::fromValue(const Value& value, Bookmark* getBookmark, QString* error)
{
    const DictionaryPtr dict = value.dictionary();
    if (!dict) {
        setError(error, QStringLiteral("bookmark is not a dictionary"));
        return false;
    }
    Bookmark b;
    const Value version = dict->value(kVersion);
    if (!version.isInteger() || version.integer() < 1 || version.integer() > kCurrentVersion) {
        setError(error, QStringLiteral("unknown bookmark version"));
        return false;
    }
    const Value path = dict->value(kPath), volumePath = dict->value(kVolumePath), identity = dict->value(kVolumeIdentity);
    const Value device = dict->value(kDevice), inode = dict->value(kInode);
    if (!path.isString() || !volumePath.isString() || !identity.isString() || !device.isString() || !inode.isString()
        || !parseNumber(device.string(), &b.device) || !parseNumber(inode.string(), &b.inode)) {
        setError(error, QStringLiteral("bookmark lacks a key or has one of the wrong type"));
        return false;
    }
    // The file's times and size: absent in nothing this program wrote, but checked all the same.
    for (const auto& [key, field] : {std::pair{kBirth, &b.birthTime}, std::pair{kSize, &b.size}, std::pair{kModified, &b.modificationTime}}) {
        const Value v = dict->value(key);
        if (v.isNull())
            continue;
        if (!v.isString() || !parseSigned(v.string(), field)) {
            setError(error, QStringLiteral("bookmark has a bad \"%1\"").arg(key));
            return false;
        }
    }
    b.path = path.string();
    b.volumePath = volumePath.string();
    b.volumeIdentity = identity.string();
    if (!b.isValid() || !b.volumePath.startsWith(u'/') || b.path.contains(QChar(0))) {
        setError(error, QStringLiteral("bookmark path is not absolute"));
        return false;
    }
    if (getBookmark)
        *getBookmark = b;
    return true;
}

QByteArray Bookmark::toData() const
{
    QJsonObject o;
    o.insert(kVersion, kCurrentVersion);
    o.insert(kPath, path);
    o.insert(kVolumePath, volumePath);
    o.insert(kVolumeIdentity, volumeIdentity);
    o.insert(kDevice, QString::number(device));
    o.insert(kInode, QString::number(inode));
    o.insert(kBirth, QString::number(birthTime));
    o.insert(kSize, QString::number(size));
    o.insert(kModified, QString::number(modificationTime));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool Bookmark::fromData(const QByteArray& data, Bookmark* getBookmark, QString* error)
{
    if (data.isEmpty() || data.size() > kMaximumDataSize) {
        setError(error, QStringLiteral("bookmark data is empty or too large"));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (!doc.isObject()) {
        setError(error, QStringLiteral("bookmark data is unreadable: %1").arg(parseError.errorString()));
        return false;
    }
    const QJsonObject o = doc.object();
    const auto text = [&](const QString& key) { return o.value(key).isString() ? Value(o.value(key).toString()) : Value(); };
    const QJsonValue version = o.value(kVersion);
    const Value value = DictionaryPtr(Dictionary::make({
        {kVersion, version.isDouble() && version.toDouble() == double(version.toInt()) ? Value(version.toInt()) : Value()},
        {kPath, text(kPath)},
        {kVolumePath, text(kVolumePath)},
        {kVolumeIdentity, text(kVolumeIdentity)},
        {kDevice, text(kDevice)},
        {kInode, text(kInode)},
    }));
    // Optional keys pass through as they are, so that a wrong type is refused, not dropped.
    const DictionaryPtr dict = value.dictionary();
    for (const QString& key : {kBirth, kSize, kModified}) {
        if (!o.contains(key))
            continue;
        dict->setValue(key, o.value(key).isString() ? Value(o.value(key).toString()) : Value(false));
    }
    return fromValue(value, getBookmark, error);
}

bool createBookmark(const QString& path, Bookmark* getBookmark, QString* error)
{
    setError(error, {});
    if (!path.startsWith(u'/')) {
        setError(error, QStringLiteral("no absolute path"));
        return false;
    }
    const QString clean = QDir::cleanPath(path);
    Identity identity;
    if (!identityOf(platform::encodeFileName(clean), &identity)) {
        setError(error, QStringLiteral("<%1> does not exist").arg(clean));
        return false;
    }
    Volume volume;
    if (!getVolumeForPath(clean, &volume)) {
        setError(error, QStringLiteral("no volume holds <%1>").arg(clean));
        return false;
    }
    Bookmark b;
    b.path = clean;
    b.volumePath = volume.path;
    b.volumeIdentity = volume.identity;
    b.device = identity.device;
    b.inode = identity.inode;
    b.birthTime = identity.birth;
    b.size = identity.size;
    b.modificationTime = identity.modified;
    if (getBookmark)
        *getBookmark = b;
    return true;
}

bool resolveBookmark(const Bookmark& bookmark, QString* getPath, bool* getIsStale, QString* error)
{
    setError(error, {});
    if (getIsStale)
        *getIsStale = false;
    if (!bookmark.isValid()) {
        setError(error, QStringLiteral("no bookmark"));
        return false;
    }
    const auto answer = [&](const QString& path, bool stale) {
        if (getPath)
            *getPath = path;
        if (getIsStale)
            *getIsStale = stale;
        return true;
    };
    struct stat st;
    // 1. The recorded path.
    Identity atPath;
    if (identityOf(platform::encodeFileName(bookmark.path), &atPath))
        return answer(bookmark.path, atPath.device != bookmark.device || !isSameFile(atPath, bookmark));

    // 2. The identified volume, wherever it is mounted now; an absent volume is not mounted.
    const QString relative = relativeTo(bookmark.path, bookmark.volumePath);
    Volume volume;
    bool found = false;
    if (getVolume(bookmark.volumePath, &volume) && volume.identity == bookmark.volumeIdentity) {
        found = true;
    } else {
        for (const Volume& v : mountedVolumes()) {
            if (!bookmark.volumeIdentity.isEmpty() && v.identity == bookmark.volumeIdentity) {
                volume = v;
                found = true;
                break;
            }
        }
    }
    if (!found) {
        setError(error, QStringLiteral("the volume of <%1> is not available").arg(bookmark.path));
        return false;
    }
    const QString onVolume = volume.path == QLatin1String("/") ? u'/' + relative : volume.path + u'/' + relative;
    if (!relative.isEmpty() && onVolume != bookmark.path && statPath(onVolume, &st))
        return answer(QDir::cleanPath(onVolume), true);

    // 3. The inode on that volume: first near the old place, then further up.
    struct stat root;
    if (!statPath(volume.path, &root)) {
        setError(error, QStringLiteral("cannot read the volume <%1>").arg(volume.path));
        return false;
    }
    BookmarkSearchSession::State* const session = tSession;
    // Found by the inode: within a session, where the file went tells where the rest of
    // its folder may have gone.
    const auto foundElsewhere = [&](const QString& path) {
        if (session)
            learnMovedFolder(*session, bookmark.path, path);
        return answer(path, true);
    };
    if (session) {
        QString moved;
        if (findInMovedFolders(*session, root.st_dev, bookmark, &moved))
            return answer(moved, true);
        QByteArray hit;
        if (findInIndex(*session, root.st_dev, bookmark, &hit))
            return foundElsewhere(platform::decodeFileName(hit));
    }
    int budget = kBookmarkSearchLimit;
    QString folder = QDir::cleanPath(onVolume + QStringLiteral("/.."));
    QByteArray searched;
    for (;;) {
        const QByteArray start = platform::encodeFileName(folder);
        struct stat fs;
        if (statPath(folder, &fs) && fs.st_dev == root.st_dev) {
            const QByteArray key = session ? fruitlessSearchKey(start, searched, root.st_dev, budget) : QByteArray();
            const auto fruitless = session ? session->budgetAfterFruitlessSearch.constFind(key) : QHash<QByteArray, int>::const_iterator();
            if (session && fruitless != session->budgetAfterFruitlessSearch.constEnd()) {
                budget = *fruitless;
            } else {
                QByteArray hit;
                bool complete = true;
                if (searchInode(start, searched, root.st_dev, bookmark, &budget, &hit, session, &complete))
                    return foundElsewhere(platform::decodeFileName(hit));
                if (session && complete && session->hasRoom(1)) {
                    session->budgetAfterFruitlessSearch.insert(key, budget);
                    ++session->kept;
                }
            }
            searched = start;
        }
        if (budget <= 0 || folder == volume.path || folder == QLatin1String("/") || folder.size() <= volume.path.size())
            break;
        folder = QDir::cleanPath(folder + QStringLiteral("/.."));
    }
    setError(error, QStringLiteral("cannot find <%1>").arg(bookmark.path));
    return false;
}

BookmarkSearchSession::BookmarkSearchSession(qsizetype entryLimit)
{
    if (tSession)
        return;
    m_state = std::make_unique<State>();
    m_state->limit = entryLimit;
    tSession = m_state.get();
}

BookmarkSearchSession::~BookmarkSearchSession()
{
    if (m_state && tSession == m_state.get())
        tSession = nullptr;
}

quint64 bookmarkSearchFolderReads()
{
    return tFolderReads;
}

quint64 bookmarkSearchMovedFoldersLearned()
{
    return tSession ? tSession->movedFoldersLearned : 0;
}

namespace {

// The fixed part of a version 2 alias record ends here; its tagged fields follow.
constexpr int kAliasVersion2FieldsOffset = 150;
enum AliasTag : int {
    kAliasTagClassicPath = 2,
    kAliasTagPath = 18,
    kAliasTagMountPoint = 19,
    kAliasTagEnd = 0xFFFF,
};

quint16 bigEndian16(const QByteArray& data, qsizetype at)
{
    return quint16((quint8(data[at]) << 8) | quint8(data[at + 1]));
}

// The tagged fields from `offset` on, when they run without a fault up to the end
// marker inside the record; empty otherwise.
QHash<int, QByteArray> aliasFields(const QByteArray& data, qsizetype offset, qsizetype end)
{
    QHash<int, QByteArray> fields;
    qsizetype at = offset;
    while (at + 4 <= end) {
        const int tag = bigEndian16(data, at);
        const qsizetype length = bigEndian16(data, at + 2);
        at += 4;
        if (tag == kAliasTagEnd)
            return fields;
        if (tag > 0x100 || at + length > end)
            return {};
        fields.insert(tag, data.mid(at, length));
        at += length + (length & 1);
    }
    return {};
}

} // namespace

bool pathFromAliasRecord(const QByteArray& alias, QString* getPath, QString* error)
{
    setError(error, {});
    const auto fail = [&](const QString& why) {
        setError(error, why);
        return false;
    };
    if (alias.size() < 8)
        return fail(QStringLiteral("alias record too short"));
    const qsizetype end = std::min<qsizetype>(bigEndian16(alias, 4), alias.size());
    const int version = bigEndian16(alias, 6);
    QHash<int, QByteArray> fields;
    if (version == 2) {
        fields = aliasFields(alias, kAliasVersion2FieldsOffset, end);
    } else if (version == 3) {
        // The newer record's fixed part is shorter; its fields begin where a chain of them
        // runs cleanly to the end marker.
        for (qsizetype offset = 20; offset < kAliasVersion2FieldsOffset && fields.isEmpty(); offset += 2)
            fields = aliasFields(alias, offset, end);
    } else {
        return fail(QStringLiteral("alias record of unknown version %1").arg(version));
    }
    QString path;
    if (const QByteArray posix = fields.value(kAliasTagPath); posix.startsWith('/')) {
        path = QString::fromUtf8(posix);
        QString mountPoint = QString::fromUtf8(fields.value(kAliasTagMountPoint));
        while (mountPoint.endsWith(u'/'))
            mountPoint.chop(1);
        if (!mountPoint.isEmpty() && !path.startsWith(mountPoint + u'/'))
            path.prepend(mountPoint);
    } else if (const QByteArray classic = fields.value(kAliasTagClassicPath); classic.contains(':')) {
        // "Volume:Folder:File": the volume's own folder is the root; a "/" inside a name
        // is a ":" in the file system's path.
        QStringList components = QString::fromLatin1(classic).split(u':');
        components.removeFirst();
        for (QString& component : components)
            component.replace(u'/', u':');
        components.removeAll(QString());
        path = u'/' + components.join(u'/');
    }
    if (path.size() < 2 || path.contains(QChar(0)))
        return fail(QStringLiteral("alias record holds no path"));
    if (getPath)
        *getPath = QDir::cleanPath(path);
    return true;
}

} // namespace platform
