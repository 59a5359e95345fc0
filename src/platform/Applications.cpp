#include "platform/Applications.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QLocale>
#include <QtCore/QMimeDatabase>
#include <QtCore/QProcess>
#include <QtCore/QSet>
#include <QtCore/QStandardPaths>
#include <QtCore/QUrl>
#include <QtGui/QGuiApplication>

#include <mutex>

namespace platform {

namespace {

QMimeDatabase& mimeDatabase()
{
    static thread_local QMimeDatabase db;
    return db;
}

// Desktop entries and lists are small; anything larger is not one.
constexpr qint64 kMaximumEntrySize = 1024 * 1024;
constexpr int kMaximumEntryDepth = 4;
constexpr int kMaximumEntriesPerFolder = 20000;

QString envPath(const char* name, const QString& fallback)
{
    const QString value = QString::fromLocal8Bit(qgetenv(name));
    return value.startsWith(u'/') ? QDir::cleanPath(value) : fallback;
}

QStringList envPaths(const char* name, const QStringList& fallback)
{
    QStringList result;
    for (const QString& p : QString::fromLocal8Bit(qgetenv(name)).split(u':', Qt::SkipEmptyParts))
        if (p.startsWith(u'/'))
            result.append(QDir::cleanPath(p));
    return result.isEmpty() ? fallback : result;
}

QString dataHome()
{
    return envPath("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"));
}

QStringList dataDirs()
{
    return envPaths("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
}

QString configHome()
{
    return envPath("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
}

QStringList configDirs()
{
    return envPaths("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
}

// Application folders, most important first.
QStringList applicationFolders()
{
    QStringList folders{dataHome() + QStringLiteral("/applications")};
    for (const QString& d : dataDirs())
        folders.append(d + QStringLiteral("/applications"));
    folders.removeDuplicates();
    return folders;
}

// mimeapps.list files, most important first; desktop-specific ones before the general one.
QStringList mimeAppsLists()
{
    QStringList desktops;
    for (const QString& d : QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).split(u':', Qt::SkipEmptyParts))
        if (!d.contains(u'/') && !d.contains(u'.'))
            desktops.append(d.toLower());
    QStringList folders{configHome()};
    folders += configDirs();
    folders.append(dataHome() + QStringLiteral("/applications"));
    for (const QString& d : dataDirs())
        folders.append(d + QStringLiteral("/applications"));
    QStringList lists;
    for (const QString& folder : folders) {
        for (const QString& desktop : desktops)
            lists.append(folder + u'/' + desktop + QStringLiteral("-mimeapps.list"));
        lists.append(folder + QStringLiteral("/mimeapps.list"));
    }
    lists.removeDuplicates();
    return lists;
}

bool readSmallFile(const QString& path, QByteArray* out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaximumEntrySize)
        return false;
    *out = f.read(kMaximumEntrySize + 1);
    return out->size() <= kMaximumEntrySize;
}

// Parses "key=value" lines of an ini-style file into groups; comments and blank lines are skipped.
using Group = QHash<QString, QString>;
QHash<QString, Group> parseIni(const QByteArray& bytes)
{
    QHash<QString, Group> groups;
    QString current;
    for (const QByteArray& rawLine : bytes.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || current.isEmpty())
            continue;
        Group& group = groups[current];
        const QString key = line.left(eq).trimmed();
        if (!group.contains(key)) // the first occurrence counts
            group.insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

// Desktop-entry escapes in values: \s, \n, \t, \r and \\.
QString unescapeValue(const QString& value)
{
    if (!value.contains(u'\\'))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value.at(++i);
        switch (n.unicode()) {
        case 's': out += u' '; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'r': out += u'\r'; break;
        case '\\': out += u'\\'; break;
        default: out += c; out += n; break; // kept for the field's own rules (Exec quoting)
        }
    }
    return out;
}

// The Name for the user's language ("Name[de_AT]", then "Name[de]"), else the plain one.
QString localizedValue(const QHash<QString, QString>& group, const QString& key)
{
    const QString locale = QLocale().name(); // "de_AT"
    const QString language = locale.section(u'_', 0, 0);
    for (const QString& candidate : {locale, language}) {
        const auto it = group.find(key + u'[' + candidate + u']');
        if (it != group.end() && !it->isEmpty())
            return unescapeValue(*it);
    }
    return unescapeValue(group.value(key));
}

QStringList splitList(const QString& value)
{
    QStringList result;
    for (const QString& part : value.split(u';', Qt::SkipEmptyParts)) {
        const QString item = part.trimmed();
        if (!item.isEmpty())
            result.append(item);
    }
    return result;
}

struct MimeAppsList {
    QHash<QString, QStringList> defaults, added, removed;
};

struct Catalog {
    QStringList signature; // folders and files with their modification times
    std::vector<DesktopApplication> applications; // by precedence, each ID once
    QHash<QString, qsizetype> indexById;
    std::vector<MimeAppsList> lists;
};

void collectEntries(const QString& folder, const QString& prefix, int depth, Catalog* catalog, QSet<QString>* seen, int* budget)
{
    if (depth > kMaximumEntryDepth)
        return;
    const QFileInfoList infos = QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name);
    for (const QFileInfo& info : infos) {
        if (--*budget < 0)
            return;
        if (info.isDir()) {
            if (!info.isSymLink())
                collectEntries(info.filePath(), prefix + info.fileName() + u'-', depth + 1, catalog, seen, budget);
            continue;
        }
        if (!info.fileName().endsWith(QLatin1String(".desktop")))
            continue;
        const QString id = prefix + info.fileName();
        if (seen->contains(id))
            continue;
        seen->insert(id); // a hidden or broken entry still masks entries of the same ID below it
        DesktopApplication app;
        if (readDesktopEntry(info.filePath(), id, &app)) {
            catalog->indexById.insert(id, qsizetype(catalog->applications.size()));
            catalog->applications.push_back(std::move(app));
        }
    }
}

QStringList currentSignature()
{
    QStringList signature{QLocale().name()}; // names are read in the user's language
    const auto stamp = [&](const QString& path) {
        const QFileInfo info(path);
        signature.append(path + u'@' + (info.exists() ? QString::number(info.lastModified().toMSecsSinceEpoch()) + u'/' + QString::number(info.size())
                                                    : QStringLiteral("-")));
    };
    for (const QString& folder : applicationFolders()) {
        stamp(folder);
        // Subfolders change their own times; one level is what installers use.
        for (const QString& sub : QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            stamp(folder + u'/' + sub);
    }
    for (const QString& list : mimeAppsLists())
        stamp(list);
    return signature;
}

std::mutex g_catalogMutex;
std::shared_ptr<const Catalog> g_catalog;

std::shared_ptr<const Catalog> catalog()
{
    const QStringList signature = currentSignature();
    std::lock_guard lock(g_catalogMutex);
    if (g_catalog && g_catalog->signature == signature)
        return g_catalog;
    auto fresh = std::make_shared<Catalog>();
    fresh->signature = signature;
    QSet<QString> seen;
    for (const QString& folder : applicationFolders()) {
        int budget = kMaximumEntriesPerFolder;
        collectEntries(folder, QString(), 0, fresh.get(), &seen, &budget);
    }
    for (const QString& path : mimeAppsLists()) {
        QByteArray bytes;
        if (!readSmallFile(path, &bytes))
            continue;
        const QHash<QString, Group> groups = parseIni(bytes);
        MimeAppsList list;
        const auto fill = [&](const char* groupName, QHash<QString, QStringList>* into) {
            const Group group = groups.value(QString::fromLatin1(groupName));
            for (auto it = group.begin(); it != group.end(); ++it) {
                // Lists may name a type by an alias: file it under the canonical name.
                const QMimeType type = mimeDatabase().mimeTypeForName(it.key());
                const QString key = type.isValid() ? type.name() : it.key().toLower();
                (*into)[key] += splitList(it.value());
            }
        };
        fill("Default Applications", &list.defaults);
        fill("Added Associations", &list.added);
        fill("Removed Associations", &list.removed);
        fresh->lists.push_back(std::move(list));
    }
    g_catalog = fresh;
    return fresh;
}

// The type and the types it inherits from, nearest first.
QStringList typeChain(const QString& mimeType)
{
    const QMimeType type = mimeDatabase().mimeTypeForName(mimeType);
    if (!type.isValid())
        return {mimeType.toLower()};
    QStringList chain{type.name()};
    for (const QString& parent : type.allAncestors())
        if (!chain.contains(parent))
            chain.append(parent);
    return chain;
}

// Whether the entry declares the type: 2 by its name or an alias, 1 by a "major/*"
// family, 0 not at all.
int entryHandles(const DesktopApplication& app, const QString& type)
{
    int match = 0;
    for (const QString& declared : app.mimeTypes) {
        if (declared.compare(type, Qt::CaseInsensitive) == 0)
            return 2;
        if (declared.endsWith(QLatin1String("/*"))) {
            if (type.startsWith(declared.chopped(1), Qt::CaseInsensitive))
                match = 1;
            continue;
        }
        // A declared alias ("video/x-matroska" for "video/matroska") counts as the type.
        const QMimeType canonical = mimeDatabase().mimeTypeForName(declared);
        if (canonical.isValid() && canonical.name() == type)
            return 2;
    }
    return match;
}

QStringList associationsFor(const Catalog& cat, const QString& type)
{
    QStringList result;
    QSet<QString> removed;
    for (const MimeAppsList& list : cat.lists) {
        for (const QString& id : list.added.value(type))
            if (!removed.contains(id) && cat.indexById.contains(id) && !result.contains(id))
                result.append(id);
        for (const QString& id : list.removed.value(type))
            removed.insert(id);
    }
    // Entries that name the type come before those that take a whole family.
    for (const int strength : {2, 1})
        for (const DesktopApplication& app : cat.applications)
            if (!removed.contains(app.id) && !result.contains(app.id) && entryHandles(app, type) == strength)
                result.append(app.id);
    return result;
}

QString defaultFor(const Catalog& cat, const QString& type)
{
    QSet<QString> removed;
    for (const MimeAppsList& list : cat.lists) {
        for (const QString& id : list.defaults.value(type))
            if (!removed.contains(id) && cat.indexById.contains(id))
                return id;
        for (const QString& id : list.removed.value(type))
            removed.insert(id);
    }
    return {};
}

const DesktopApplication* byId(const Catalog& cat, const QString& id)
{
    const auto it = cat.indexById.find(id);
    return it == cat.indexById.end() ? nullptr : &cat.applications[size_t(*it)];
}

struct TypeMapping {
    const char* identifier;
    const char* mimeType;
};

// The program's type names and the MIME types (or families) they stand for.
constexpr TypeMapping kTypeMappings[] = {
    {"public.item", "*"},
    {"public.data", "*"},
    {"public.content", "*"},
    {"public.movie", "video/*"},
    {"public.video", "video/*"},
    {"public.audiovisual-content", "video/*"},
    {"public.audio", "audio/*"},
    {"public.image", "image/*"},
    {"public.folder", "inode/directory"},
    {"public.directory", "inode/directory"},
    {"public.text", "text/plain"},
    {"public.plain-text", "text/plain"},
    {"public.jpeg", "image/jpeg"},
    {"public.png", "image/png"},
    {"public.tiff", "image/tiff"},
    {"public.heic", "image/heic"},
    {"com.compuserve.gif", "image/gif"},
    {"org.webmproject.webp", "image/webp"},
    {"com.apple.quicktime-movie", "video/quicktime"},
    {"public.mpeg-4", "video/mp4"},
    {"public.mpeg", "video/mpeg"},
    {"public.avi", "video/x-msvideo"},
    {"org.matroska.mkv", "video/x-matroska"},
    {"org.webmproject.webm", "video/webm"},
    {"public.comma-separated-values-text", "text/csv"},
    {"public.html", "text/html"},
};

} // namespace

bool readDesktopEntry(const QString& path, const QString& id, DesktopApplication* getApplication)
{
    QByteArray bytes;
    if (!readSmallFile(path, &bytes))
        return false;
    return parseDesktopEntry(bytes, path, id, getApplication);
}

bool parseDesktopEntry(const QByteArray& bytes, const QString& path, const QString& id, DesktopApplication* getApplication)
{
    if (bytes.size() > kMaximumEntrySize)
        return false;
    const Group entry = parseIni(bytes).value(QStringLiteral("Desktop Entry"));
    if (entry.value(QStringLiteral("Type")) != QLatin1String("Application"))
        return false;
    if (entry.value(QStringLiteral("Hidden")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return false;
    const QString exec = entry.value(QStringLiteral("Exec"));
    if (exec.isEmpty())
        return false;
    const QString tryExec = entry.value(QStringLiteral("TryExec"));
    if (!tryExec.isEmpty()) {
        const bool found = tryExec.startsWith(u'/') ? QFileInfo(tryExec).isExecutable() : !QStandardPaths::findExecutable(tryExec).isEmpty();
        if (!found)
            return false;
    }
    if (getApplication) {
        getApplication->id = id;
        getApplication->path = path;
        getApplication->name = localizedValue(entry, QStringLiteral("Name"));
        getApplication->exec = unescapeValue(exec);
        getApplication->mimeTypes = splitList(entry.value(QStringLiteral("MimeType")));
        getApplication->icon = unescapeValue(entry.value(QStringLiteral("Icon")));
    }
    return true;
}

QString mimeTypeForFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    return mimeDatabase().mimeTypeForFile(path).name();
}

QString mimeTypeForTypeIdentifier(const QString& typeIdentifier)
{
    for (const TypeMapping& m : kTypeMappings)
        if (typeIdentifier.compare(QLatin1String(m.identifier), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(m.mimeType);
    if (typeIdentifier.contains(u'/')) {
        const QMimeType type = mimeDatabase().mimeTypeForName(typeIdentifier);
        return type.isValid() ? type.name() : typeIdentifier.toLower();
    }
    return {};
}

bool mimeTypeConformsToType(const QString& mimeType, const QString& typeIdentifierOrMimeType)
{
    const QString wanted = mimeTypeForTypeIdentifier(typeIdentifierOrMimeType);
    if (mimeType.isEmpty() || wanted.isEmpty())
        return false;
    if (wanted == QLatin1String("*"))
        return true;
    const QStringList chain = typeChain(mimeType);
    if (wanted.endsWith(QLatin1String("/*"))) {
        const QString family = wanted.chopped(1);
        for (const QString& t : chain)
            if (t.startsWith(family))
                return true;
        return false;
    }
    return chain.contains(wanted);
}

bool fileConformsToType(const QString& path, const QString& typeIdentifierOrMimeType)
{
    return mimeTypeConformsToType(mimeTypeForFile(path), typeIdentifierOrMimeType);
}

bool getDefaultApplicationForMimeType(const QString& mimeType, DesktopApplication* getApplication)
{
    if (mimeType.isEmpty())
        return false;
    const auto cat = catalog();
    for (const QString& type : typeChain(mimeType)) {
        QString id = defaultFor(*cat, type);
        if (id.isEmpty())
            id = associationsFor(*cat, type).value(0);
        if (const DesktopApplication* app = byId(*cat, id)) {
            if (getApplication)
                *getApplication = *app;
            return true;
        }
    }
    return false;
}

bool getDefaultApplicationForFile(const QString& path, DesktopApplication* getApplication)
{
    return getDefaultApplicationForMimeType(mimeTypeForFile(path), getApplication);
}

std::vector<DesktopApplication> applicationsForMimeType(const QString& mimeType)
{
    std::vector<DesktopApplication> result;
    if (mimeType.isEmpty())
        return result;
    const auto cat = catalog();
    QStringList ids;
    DesktopApplication defaultApp;
    if (getDefaultApplicationForMimeType(mimeType, &defaultApp))
        ids.append(defaultApp.id);
    for (const QString& type : typeChain(mimeType))
        for (const QString& id : associationsFor(*cat, type))
            if (!ids.contains(id))
                ids.append(id);
    for (const QString& id : ids)
        if (const DesktopApplication* app = byId(*cat, id))
            result.push_back(*app);
    return result;
}

std::vector<DesktopApplication> applicationsForFile(const QString& path)
{
    return applicationsForMimeType(mimeTypeForFile(path));
}

bool getDesktopApplication(const QString& id, DesktopApplication* getApplication)
{
    const auto cat = catalog();
    const DesktopApplication* app = byId(*cat, id);
    if (app && getApplication)
        *getApplication = *app;
    return app != nullptr;
}

bool isOwnApplication(const DesktopApplication& application)
{
    if (!application.isValid())
        return false;
    QString own = QGuiApplication::desktopFileName();
    if (!own.isEmpty()) {
        if (!own.endsWith(QLatin1String(".desktop")))
            own += QLatin1String(".desktop");
        if (application.id == own)
            return true;
    }
    // The first word of the command line names the program.
    const QString program = application.exec.section(u' ', 0, 0, QString::SectionSkipEmpty).remove(u'"');
    if (program.isEmpty())
        return false;
    const QString resolved = program.startsWith(u'/') ? program : QStandardPaths::findExecutable(program);
    const QString self = QCoreApplication::applicationFilePath();
    return !resolved.isEmpty() && !self.isEmpty() && QFileInfo(resolved).canonicalFilePath() == QFileInfo(self).canonicalFilePath();
}

namespace {

// The words of an Exec= line: separated by spaces, a word in double quotes may hold spaces,
// and inside quotes a backslash keeps the next of " ` $ \ as it is. Empty for an unclosed
// quote.
QStringList execWords(const QString& exec)
{
    QStringList words;
    QString word;
    bool inWord = false, quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar ch = exec.at(i);
        if (quoted) {
            if (ch == u'\\' && i + 1 < exec.size()) {
                word += exec.at(++i);
            } else if (ch == u'"') {
                quoted = false;
            } else {
                word += ch;
            }
        } else if (ch == u'"') {
            quoted = inWord = true;
        } else if (ch == u' ' || ch == u'\t') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += ch;
            inWord = true;
        }
    }
    if (quoted)
        return {};
    if (inWord)
        words << word;
    return words;
}

} // namespace

std::vector<QStringList> commandLinesForFiles(const DesktopApplication& application, const QStringList& paths)
{
    const QStringList words = execWords(application.exec);
    if (words.isEmpty())
        return {};
    QStringList files;
    for (const QString& path : paths)
        files << QFileInfo(path).absoluteFilePath();
    const auto urls = [](const QStringList& list) {
        QStringList result;
        for (const QString& f : list)
            result << QUrl::fromLocalFile(f).toString(QUrl::FullyEncoded);
        return result;
    };
    bool takesAll = false, takesOne = false;
    for (const QString& w : words) {
        takesAll = takesAll || w == QLatin1String("%F") || w == QLatin1String("%U");
        takesOne = takesOne || w.contains(QLatin1String("%f")) || w.contains(QLatin1String("%u"));
    }
    // One command line per file for entries that take one file; else one for all.
    QList<QStringList> batches;
    if (takesOne && !takesAll && files.size() > 1) {
        for (const QString& f : files)
            batches << QStringList{f};
    } else {
        batches << files;
    }
    std::vector<QStringList> result;
    for (const QStringList& batch : batches) {
        QStringList line;
        bool placed = false;
        for (const QString& w : words) {
            if (w == QLatin1String("%F") || w == QLatin1String("%U")) {
                line << (w == QLatin1String("%U") ? urls(batch) : batch);
                placed = true;
            } else if (w == QLatin1String("%f") || w == QLatin1String("%u")) {
                if (!batch.isEmpty())
                    line << (w == QLatin1String("%u") ? urls(batch).first() : batch.first());
                placed = true;
            } else if (w == QLatin1String("%i")) {
                if (!application.icon.isEmpty())
                    line << QStringLiteral("--icon") << application.icon;
            } else if (w == QLatin1String("%c")) {
                line << application.name;
            } else if (w == QLatin1String("%k")) {
                line << application.path;
            } else {
                // Other codes (and the deprecated ones) are dropped; %% is a percent sign.
                QString text;
                for (qsizetype i = 0; i < w.size(); ++i) {
                    if (w.at(i) == u'%' && i + 1 < w.size()) {
                        if (w.at(++i) == u'%')
                            text += u'%';
                    } else {
                        text += w.at(i);
                    }
                }
                if (!text.isEmpty() || w.isEmpty())
                    line << text;
            }
        }
        if (line.isEmpty())
            return {};
        if (!placed)
            line << batch;
        result.push_back(line);
    }
    return result;
}

bool isRunnableFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return false;
    if (path.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive))
        return true;
    static const char* const runnable[] = {"application/x-executable", "application/x-sharedlib", "application/x-shellscript",
        "application/x-desktop", "application/x-ms-dos-executable", "application/x-msdownload", "application/x-perl", "application/x-python",
        "text/x-python", "text/x-python3", "application/x-ruby", "application/x-java-archive", "application/vnd.appimage",
        "application/x-pie-executable", "application/x-csh", "application/x-sh", "text/x-shellscript", "application/x-msi"};
    const auto isRunnableType = [](const QString& mime) {
        for (const char* type : runnable)
            if (mimeTypeConformsToType(mime, QString::fromLatin1(type)))
                return true;
        return false;
    };
    // What the name says and what the bytes say are asked apart: a program renamed to
    // "clip.mp4" is still a program, and "tool.py" is a script whatever it starts with.
    QMimeDatabase& db = mimeDatabase();
    if (isRunnableType(db.mimeTypeForFile(info, QMimeDatabase::MatchExtension).name())
        || isRunnableType(db.mimeTypeForFile(info, QMimeDatabase::MatchContent).name()))
        return true;
    if (!info.isExecutable())
        return false;
    // Drives formatted FAT, exFAT or NTFS show an execute bit on every file: a movie, a
    // sound or a picture stays one. Anything else with the bit set could run.
    const QString type = db.mimeTypeForFile(info).name();
    for (const char* media : {"video/*", "audio/*", "image/*"})
        if (mimeTypeConformsToType(type, QString::fromLatin1(media)))
            return false;
    return true;
}

std::vector<DesktopApplication> allApplications()
{
    const auto cat = catalog();
    return cat->applications;
}

} // namespace platform
