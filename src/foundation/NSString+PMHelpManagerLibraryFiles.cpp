#include "foundation/NSString+PMHelpManagerLibraryFiles.h"

#include "foundation/PMCaseFolding.h"

#include "foundation/NSString+PMHelpManagerMatching.h"
#include "platform/Paths.h"
#include "platform/FileOperations.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <algorithm>
#include <mutex>

namespace {

const QString kIgnoredSuffixes[] = {QStringLiteral(".library"), QStringLiteral(".libraryindex"), QStringLiteral(".pellislibrary"),
                                    QStringLiteral(".quentorlibrary"), QStringLiteral(".srt"), QStringLiteral(".sub")};
const QString kSequenceSuffixes[] = {QStringLiteral(".mseq"), QStringLiteral(".moviesequence"), QStringLiteral(".pms"), QStringLiteral(".qms")};

// Folders that other programs treat as one document, by extension (lower case).
const QString kPackageExtensions[] = {
    QStringLiteral("mseq"), QStringLiteral("moviesequence"), QStringLiteral("pms"), QStringLiteral("qms"),
    QStringLiteral("app"), QStringLiteral("bundle"), QStringLiteral("framework"), QStringLiteral("plugin"),
    QStringLiteral("rtfd"), QStringLiteral("pellislibrary"), QStringLiteral("quentorlibrary"), QStringLiteral("photoslibrary"),
    QStringLiteral("imovielibrary"), QStringLiteral("fcpbundle"), QStringLiteral("dvdmedia"), QStringLiteral("tvlibrary"),
};

// The whole paths that never become items. Besides the program's own list, the Linux
// folders of the kernel and the system, which a folder walk must never enter.
const QString kSystemPaths[] = {
    QStringLiteral("/automount"), QStringLiteral("/Desktop Folder"), QStringLiteral("/dev"), QStringLiteral("/etc"),
    QStringLiteral("/mach"), QStringLiteral("/mach.sym"), QStringLiteral("/mach_kernel"), QStringLiteral("/opt"),
    QStringLiteral("/tmp"), QStringLiteral("/var"), QStringLiteral("/proc"), QStringLiteral("/sys"),
    QStringLiteral("/run"), QStringLiteral("/boot"), QStringLiteral("/snap"),
};

QString lastComponent(const QString& path)
{
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(u'/'))
        clean.chop(1);
    return clean.mid(clean.lastIndexOf(u'/') + 1);
}

QString extensionOf(const QString& path)
{
    QString extension;
    platform::splitPathExtension(lastComponent(path), nullptr, &extension);
    return extension;
}

std::mutex g_comparisonMutex;
PMNameComparison g_comparison;

int compareNames(const QString& a, const QString& b)
{
    PMNameComparison comparison;
    {
        std::lock_guard lock(g_comparisonMutex);
        comparison = g_comparison;
    }
    if (comparison)
        return comparison(a, b);
    // Runs of digits compare as numbers, everything else ignoring case.
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            QStringView x = QStringView(a).mid(i, ei - i), y = QStringView(b).mid(j, ej - j);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y); c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const QChar x = a.at(i).toCaseFolded(), y = b.at(j).toCaseFolded();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return QString::compare(a, b);
}

} // namespace

namespace {

bool isNegligible(QStringView name, Qt::CaseSensitivity cs)
{
    const auto is = [&](QLatin1StringView word) { return name.size() == word.size() && name.compare(word, cs) == 0; };
    return name.startsWith(u'.') || is(QLatin1StringView("_ds_store")) || is(QLatin1StringView("desktop db"))
        || is(QLatin1StringView("desktop df")) || name.endsWith(u'\r');
}

} // namespace

bool isNegligibleLowercaseFilename(const QString& name)
{
    return isNegligible(name, Qt::CaseSensitive);
}

bool isNegligibleFilename(const QString& name)
{
    return isNegligibleLowercaseFilename(name.toLower());
}

bool isTabooFilenameOrSequence(QStringView name, bool* getIsSequence)
{
    // Every saved record's name passes here while a library loads: an ASCII name (nearly
    // all are) is compared ignoring ASCII case, which is what lowering it would give,
    // without making a lower-case copy.
    const bool ascii = QtPrivate::isAscii(name);
    const QString lower = ascii ? QString() : name.toString().toLower();
    const QStringView text = ascii ? name : QStringView(lower);
    const Qt::CaseSensitivity cs = ascii ? Qt::CaseInsensitive : Qt::CaseSensitive;
    // Every suffix is "." and an extension without a dot: a name ends with one exactly
    // when its own last "." begins that text.
    const qsizetype dot = text.lastIndexOf(u'.');
    const QStringView extension = dot < 0 ? QStringView() : text.mid(dot);
    const auto endsWith = [&](const QString& suffix) { return extension.size() == suffix.size() && extension.compare(suffix, cs) == 0; };
    if (isNegligible(text, cs))
        return true;
    if (std::any_of(std::begin(kIgnoredSuffixes), std::end(kIgnoredSuffixes), endsWith))
        return true;
    if (getIsSequence)
        *getIsSequence = std::any_of(std::begin(kSequenceSuffixes), std::end(kSequenceSuffixes), endsWith);
    return false;
}

bool isNetworkPath(const QString& path)
{
    return path == QLatin1String("Network") || path == QLatin1String("Network/") || path == QLatin1String("/Network")
        || path == QLatin1String("/Network/");
}

bool isTabooSystemPath(const QString& path)
{
    return std::find(std::begin(kSystemPaths), std::end(kSystemPaths), path) != std::end(kSystemPaths);
}

bool isBlacklistedPath(const QString& path)
{
    return PMBlacklistMatcher::fromUserDefaults().matches(path);
}

namespace {

QString caseFolded(QStringView text)
{
    const char16_t* fold = PMCaseFoldTable();
    QString folded(text.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(folded.data());
    const char16_t* in = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = fold[in[i]];
    return folded;
}

} // namespace

PMBlacklistMatcher::PMBlacklistMatcher(const QStringList& entries)
{
    for (const QString& entry : entries) {
        if (entry.isEmpty())
            continue;
        if (entry.startsWith(u'=')) {
            const QString literal = platform::stringByExpandingTildeInPath(entry.mid(1));
            if (!literal.isEmpty())
                m_literalPaths.insert(literal.normalized(QString::NormalizationForm_C));
            continue;
        }
        PMWildcardPattern pattern = PMPreparedWildcardPattern(platform::stringByExpandingTildeInPath(entry));
        if (pattern.hasWildcard)
            m_wildcards.push_back(std::move(pattern));
        else
            m_caselessPaths.insert(caseFolded(pattern.literal));
    }
}

PMBlacklistMatcher PMBlacklistMatcher::fromUserDefaults()
{
    QStringList entries;
    if (const platform::ArrayPtr list = prefs::get(prefs::keys::Blacklist))
        for (const platform::Value& entry : *list)
            if (entry.isString())
                entries.append(entry.string());
    return PMBlacklistMatcher(entries);
}

bool PMBlacklistMatcher::matches(const QString& path) const
{
    if (isEmpty())
        return false;
    if (!m_literalPaths.isEmpty() && (m_literalPaths.contains(path) || m_literalPaths.contains(path.normalized(QString::NormalizationForm_C))))
        return true;
    if (!m_caselessPaths.isEmpty() && m_caselessPaths.contains(caseFolded(path)))
        return true;
    if (m_wildcards.empty())
        return false;
    const QString prepared = PMPreparedWildcardText(path);
    for (const PMWildcardPattern& pattern : m_wildcards)
        if (PMMatchesPreparedWildcard(path, prepared, pattern))
            return true;
    return false;
}

QString blacklistEntryForPath(const QString& path)
{
    return u'=' + platform::stringByAbbreviatingWithTildeInPath(path);
}

bool matchesBlacklistEntry(const QString& path, const QString& entry)
{
    if (entry.isEmpty())
        return false;
    if (entry.startsWith(u'=')) {
        // A path is the same file only with the same text (after composition): names that
        // differ in letter case or contain "*" are other files.
        const QString literal = platform::stringByExpandingTildeInPath(entry.mid(1));
        return !literal.isEmpty() && (path == literal || path.normalized(QString::NormalizationForm_C) == literal.normalized(QString::NormalizationForm_C));
    }
    return matchesWildcardQuery(path, platform::stringByExpandingTildeInPath(entry));
}

namespace {

// The extension test of the whitelist alone; an empty or missing list allows everything.
bool hasWhitelistedExtension(const QString& nameOrPath)
{
    const platform::ArrayPtr list = prefs::get(prefs::keys::Whitelist);
    if (!list || list->isEmpty())
        return true;
    QString extension = extensionOf(nameOrPath);
    if (extension.isEmpty())
        extension = QStringLiteral("_ . _"); // only a pattern such as "*" lets it through
    for (const platform::Value& entry : *list) {
        if (!entry.isString())
            continue;
        QString pattern = entry.string();
        if (pattern.startsWith(u'.'))
            pattern.remove(0, 1);
        if (pattern.isEmpty())
            continue;
        if (matchesWildcardQuery(extension, pattern))
            return true;
    }
    return false;
}

} // namespace

bool isWhitelistedFilename(const QString& nameOrPath)
{
    if (hasWhitelistedExtension(nameOrPath))
        return true;
    return isFolderPath(nameOrPath) && !isPackagePath(nameOrPath);
}

bool isFolderPath(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool isPackagePath(const QString& path)
{
    // The name first: only a name that a package can have is worth asking the disk about.
    const QString name = lastComponent(path);
    if (name == QLatin1String("AVCHD") || name == QLatin1String("BDMV"))
        return isFolderPath(path) && !prefs::get(prefs::keys::IgnoreAVCHDBundles);
    const QString extension = extensionOf(path).toLower();
    return !extension.isEmpty() && std::find(std::begin(kPackageExtensions), std::end(kPackageExtensions), extension) != std::end(kPackageExtensions)
           && isFolderPath(path);
}

bool isAnimatedImagePathExtension(const QString& extension)
{
    return extension == QLatin1String("gif") || extension == QLatin1String("png") || extension == QLatin1String("webp");
}

bool isAnimatedImageURL(const QString& path)
{
    return isAnimatedImagePathExtension(extensionOf(path).toLower());
}

bool hasSameLowercaseStringAsString(const QString& string, const QString& other)
{
    if (other.isNull())
        return false;
    return string.compare(other, Qt::CaseInsensitive) == 0;
}

std::optional<QString> itemPathWithBasePath(const QString& name, const QString& basePath, bool* isSequence, bool checkWhitelist,
                                            bool checkBlacklist, const PMBlacklistMatcher* blacklist)
{
    if (name.isEmpty())
        return std::nullopt;
    bool sequence = isSequence ? *isSequence : false;
    if (isTabooFilenameOrSequence(name, &sequence))
        return std::nullopt;
    if (isSequence)
        *isSequence = sequence;
    QString path = name;
    if (!basePath.isEmpty())
        path = basePath.endsWith(u'/') ? basePath + name : basePath + u'/' + name;
    if (isNetworkPath(path) || isTabooSystemPath(path))
        return std::nullopt;
    if (checkBlacklist && (blacklist ? blacklist->matches(path) : isBlacklistedPath(path)))
        return std::nullopt;
    if (!checkWhitelist)
        return path;
    if (hasWhitelistedExtension(name))
        return path;
    // A folder to descend into; a file or package of another kind is not wanted.
    if (isFolderPath(path) && !isPackagePath(path))
        return path;
    return std::nullopt;
}

void setSequencePartNameComparison(PMNameComparison comparison)
{
    std::lock_guard lock(g_comparisonMutex);
    g_comparison = std::move(comparison);
}

std::optional<QStringList> sequencePaths(const QString& folderPath)
{
    if (!folderPath.startsWith(u'/') || !isPackagePath(folderPath))
        return std::nullopt;
    bool sequence = false;
    if (isTabooFilenameOrSequence(lastComponent(folderPath), &sequence) || !sequence)
        return QStringList();
    QStringList names = QDir(folderPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    const bool withExtensions = prefs::get(prefs::keys::ShowFileExtensions);
    const auto sortName = [&](const QString& name) {
        if (withExtensions)
            return name;
        QString base;
        platform::splitPathExtension(name, &base, nullptr);
        return base;
    };
    std::stable_sort(names.begin(), names.end(), [&](const QString& a, const QString& b) { return compareNames(sortName(a), sortName(b)) < 0; });
    QStringList paths;
    for (const QString& name : names) {
        const std::optional<QString> path = itemPathWithBasePath(name, folderPath, nullptr, false, false);
        // Parts are files: folders, and links to nothing or to themselves, are left out.
        if (path && QFileInfo(*path).isFile())
            paths.append(*path);
    }
    return paths;
}
