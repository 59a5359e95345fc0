// Where a record's file is: URL, path, bookmark, missing and moving state, location texts,
// finding a file that moved, the organised folder layout and the application that opens it.
#include "library/model/PMMovieRepresentation.h"
#include "platform/Queues.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSFileManager+PMHelpManager.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerIcons.h"
#include "foundation/NSString+PMHelpManagerMatching.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/Paths.h"
#include "platform/Applications.h"
#include "platform/FileManager.h"
#include "platform/Format.h"
#include "platform/RegularExpression.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtGui/QPixmap>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeDatabase>
#include <QtGui/QClipboard>
#include <QtGui/QIcon>
#include "platform/Alert.h"

using platform::Value;

namespace {

bool debugLog()
{
    return prefs::get(prefs::keys::PMDebugLog);
}

QStringList libraryPaths()
{
    auto& services = PMMovieRepresentationServices::shared();
    return services.libraryPaths ? services.libraryPaths() : QStringList();
}

// A folder name made safe: no separators, no "." or "..", within the length a file
// system allows.
QString safeComponent(const QString& name)
{
    QString component = cleanFilename(name);
    if (component == QStringLiteral(".") || component == QStringLiteral(".."))
        component.clear();
    return component;
}

} // namespace

// ---- Location

QUrl PMMovieRepresentationPrototype::URL() const
{
    const PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    if (!o.m_URL)
        o.m_URL = QUrl::fromLocalFile(*o.m_path);
    return *o.m_URL;
}

void PMMovieRepresentationPrototype::setURL(const QUrl& url)
{
    setURLWithBookmark(url, std::nullopt);
}

void PMMovieRepresentationPrototype::setURLWithBookmark(const QUrl& url, const std::optional<QByteArray>& bookmark)
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        o.m_URL = url;
        o.m_path.reset();
        o.m_applicationPath.reset();
        o.invalidateSearchTextLocked();
    }
    const QString newPath = path();
    const QByteArray bookmarkData = bookmark ? *bookmark : newPath.isEmpty() ? QByteArray() : PMBookmarkDataFromPath(newPath);
    {
        std::lock_guard lock(o.m_mutex);
        o.m_bookmark = bookmarkData;
    }
    invalidateDisplayNameRecursively();
}

QString PMMovieRepresentationPrototype::path()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    if (!o.m_path)
        // The bytes of a file name that is not UTF-8 are kept (platform/Paths.h).
        o.m_path = o.m_URL->isLocalFile() ? QDir::cleanPath(platform::pathFromFileURL(*o.m_URL)) : QString();
    return *o.m_path;
}

QByteArray PMMovieRepresentationPrototype::bookmark()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (!o.m_bookmark.isEmpty())
            return o.m_bookmark;
    }
    const QString p = path();
    const QByteArray data = p.isEmpty() ? QByteArray() : PMBookmarkDataFromPath(p);
    std::lock_guard lock(o.m_mutex);
    if (o.m_bookmark.isEmpty())
        o.m_bookmark = data;
    return o.m_bookmark;
}

QByteArray PMMovieRepresentationPrototype::storedBookmark() const
{
    const PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    return o.m_bookmark;
}

void PMMovieRepresentationOriginal::setBookmark(const QByteArray& bookmark)
{
    std::lock_guard lock(m_mutex);
    m_bookmark = bookmark;
}

bool PMMovieRepresentationPrototype::isMissing() const
{
    const PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    return o.m_isMissing;
}

bool PMMovieRepresentationPrototype::isMissingVolume() const
{
    const PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    return o.m_isMissingVolume;
}

void PMMovieRepresentationPrototype::setMissing(bool missing, bool volumeMissing)
{
    PMMovieRepresentationOriginal& o = original();
    bool foundAgain = false;
    {
        std::lock_guard lock(o.m_mutex);
        foundAgain = o.m_isMissing && !missing;
        o.m_isMissing = missing;
        o.m_isMissingVolume = volumeMissing;
    }
    if (foundAgain)
        retryImageLoading();
}

// A load that found no file left the pending marker in the poster slot: with the file back
// (found again, or done moving) the next view asks again.
void PMMovieRepresentationPrototype::retryImageLoading()
{
    PMMovieRepresentationOriginal& o = original();
    if (platform::isMainThread()) {
        o.m_posterImagePending = false;
        return;
    }
    std::weak_ptr<PMMovieRepresentationOriginal> weak = o.sharedOriginal();
    platform::dispatchAsyncMain([weak] {
        if (auto record = weak.lock())
            record->m_posterImagePending = false;
    });
}

void PMMovieRepresentationPrototype::setIsMoving(bool moving)
{
    if (moving) {
        setNumberWithBool(*userSettings(), true, QStringLiteral("Moving"));
    } else if (isMoving()) {
        userSettings()->remove(QStringLiteral("Moving"));
        retryImageLoading();
    } else {
        userSettings()->remove(QStringLiteral("Moving"));
    }
}

bool PMMovieRepresentationPrototype::isMoving()
{
    return boolValueOfObjectForKey(userSettings(), QStringLiteral("Moving"));
}

bool PMMovieRepresentationPrototype::canPlay()
{
    return !isMissing() && !isMoving();
}

bool PMMovieRepresentationPrototype::canMove()
{
    return !isExternalMediaItem() && !path().isEmpty();
}

QString PMMovieRepresentationPrototype::URLString()
{
    return URL().toString(QUrl::FullyEncoded);
}

QString PMMovieRepresentationPrototype::locationKey()
{
    const QString p = path();
    return p.isEmpty() ? URLString() : platform::stringByAbbreviatingWithTildeInPath(p);
}

QString PMMovieRepresentationPrototype::filenameExtension()
{
    // A local file's own path, not a URL made for it (which would stay with the record).
    const QString localPath = path();
    const QString fileName = QFileInfo(localPath.isEmpty() ? URL().path() : localPath).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    const QString extension = fileName.mid(dot + 1);
    return extension.contains(u' ') ? QString() : extension;
}

QString PMMovieRepresentationPrototype::readableLocation()
{
    const QString p = path();
    return p.isEmpty() ? URLString() : readablePathRepresentation(p);
}

QString PMMovieRepresentationPrototype::readableLocationPrefixedByDisplayNameIfDifferent()
{
    const QString location = readableLocation();
    const QString name = displayName();
    const QString last = stringByReplacingPercentEscapesIfNecessary(QFileInfo(URL().path()).fileName());
    const QString extension = filenameExtension();
    const QString lastWithoutExtension = extension.isEmpty() ? last : last.left(last.size() - extension.size() - 1);
    if (name == last || name == lastWithoutExtension)
        return location;
    return platform::format("%@ — %@", name, location);
}

// ---- Application

namespace {

// Patterns of viewer rules whose matching ran past its time limit. Such a pattern costs that
// limit again for every record it is tried on (for all of them when the search texts are
// built), so it is left out until the program ends.
std::mutex gDroppedViewerPatternsMutex;
QSet<QString> gDroppedViewerPatterns;

bool isDroppedViewerPattern(const QString& pattern)
{
    std::lock_guard lock(gDroppedViewerPatternsMutex);
    return gDroppedViewerPatterns.contains(pattern);
}

void dropViewerPattern(const QString& pattern, const QString& error)
{
    {
        std::lock_guard lock(gDroppedViewerPatternsMutex);
        if (gDroppedViewerPatterns.contains(pattern))
            return;
        gDroppedViewerPatterns.insert(pattern);
    }
    PMLog("ignoring the viewer rule matching <%@> until the next start: %@", pattern, error);
}

} // namespace

QString PMMovieRepresentationPrototype::applicationPath()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_applicationPath)
            return *o.m_applicationPath;
    }
    QString result;
    const Value stored = userSettings()->value(QStringLiteral("Application Path"));
    if (stored.isString() && !stored.string().isEmpty()) {
        result = platform::stringByExpandingTildeInPath(stored.string());
    } else if (auto& rulesOf = PMMovieRepresentationServices::shared().viewerRules) {
        const QString urlString = URLString();
        const platform::ArrayPtr rules = rulesOf();
        for (const Value& v : rules ? *rules : platform::Array()) {
            const platform::DictionaryPtr rule = v.dictionary();
            if (!rule)
                continue;
            QString pattern = rule->value(QStringLiteral("Match")).isString() ? rule->value(QStringLiteral("Match")).string() : QString();
            if (pattern.isEmpty() && rule->value(QStringLiteral("Extensions")).isString())
                pattern = extensionMatchingQuery(rule->value(QStringLiteral("Extensions")).string()).value_or(QString());
            if (pattern.isEmpty() || isDroppedViewerPattern(pattern))
                continue;
            const platform::RegularExpressionPtr expression = caseInsensitiveRegularExpression(pattern);
            if (!expression)
                continue;
            QString matchError;
            if (!expression->firstMatch(urlString, nullptr, 0, false, &matchError)) {
                if (!matchError.isEmpty())
                    dropViewerPattern(pattern, matchError);
                continue;
            }
            const QString open = rule->value(QStringLiteral("Open")).isString() ? rule->value(QStringLiteral("Open")).string() : QString();
            // A desktop entry: by its path, its ID or its name; never a program to run. A
            // rule naming nothing installed falls through.
            if (open.contains(u'/')) {
                if (!open.endsWith(QLatin1String(".desktop")))
                    continue;
                result = platform::stringByExpandingTildeInPath(open);
                break;
            }
            platform::DesktopApplication app;
            if (!open.isEmpty()
                && (platform::getDesktopApplication(open, &app) || platform::getDesktopApplication(open + QStringLiteral(".desktop"), &app))
                && !app.path.isEmpty()) {
                result = app.path;
                break;
            }
            for (const platform::DesktopApplication& candidate : platform::allApplications())
                if (candidate.name.compare(open, Qt::CaseInsensitive) == 0) {
                    result = candidate.path;
                    break;
                }
            if (!result.isEmpty())
                break;
        }
    }
    std::lock_guard lock(o.m_mutex);
    o.m_applicationPath = result;
    // The search text takes the application only once it is known (working the rules out
    // there would run them for every record): it is made again with it.
    if (!result.isEmpty())
        o.invalidateSearchTextLocked();
    return result;
}

void PMMovieRepresentationPrototype::setApplicationPath(const QString& applicationPath)
{
    if (applicationPath.isEmpty())
        userSettings()->remove(QStringLiteral("Application Path"));
    else
        userSettings()->setValue(QStringLiteral("Application Path"), platform::stringByAbbreviatingWithTildeInPath(applicationPath));
    invalidateApplicationPath();
}

void PMMovieRepresentationPrototype::invalidateApplicationPath()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_applicationPath.reset();
    o.invalidateSearchTextLocked();
}

// ---- Icon

QIcon PMMovieRepresentationPrototype::icon()
{
    const QString p = path();
    if (p.isEmpty())
        return QIcon::fromTheme(QStringLiteral("applications-internet"), QIcon::fromTheme(QStringLiteral("network-workgroup")));
    // The application that opens the item shows its own icon; else the file type's.
    const QString application = applicationPath();
    platform::ImagePtr image = application.isEmpty() ? nullptr : cachedIconFromPath(application);
    if (!image)
        image = cachedIconFromExtension(QFileInfo(p).suffix());
    if (!image)
        return QIcon();
    // Both caches keep their images for the whole process, so their icons are kept as well
    // (main thread only, as all views are).
    static QHash<const platform::Image*, QIcon> icons;
    auto it = icons.constFind(image.get());
    if (it == icons.constEnd()) {
        QPixmap pixmap = QPixmap::fromImage(image->pixels());
        pixmap.setDevicePixelRatio(image->size().width() > 0 ? image->pixels().width() / image->size().width() : 1.0);
        it = icons.insert(image.get(), QIcon(pixmap));
    }
    return *it;
}

// ---- Web address and file manager

bool PMMovieRepresentationPrototype::setOriginalURLFileAttributes()
{
    const Value original = userSettings()->value(QStringLiteral("Original URL"));
    if (!original.isString() || original.string().isEmpty() || path().isEmpty())
        return false;
    return setSourceURLString(path(), original.string(), true);
}

bool PMMovieRepresentationPrototype::openOriginalURL()
{
    const Value original = userSettings()->value(QStringLiteral("Original URL"));
    if (original.isString()) {
        // A saved library is outside input: only web addresses are opened from it.
        const QUrl url(original.string(), QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")))
            return platform::openURLWithDefaultHandler(url);
    }
    return URL().isValid() && platform::openURLWithDefaultHandler(URL());
}

bool PMMovieRepresentationPrototype::copyOriginalURL()
{
    const Value original = userSettings()->value(QStringLiteral("Original URL"));
    const QString text = original.isString() && !original.string().isEmpty() ? original.string() : URLString();
    if (copyToPasteboardAsURL(text, true))
        return true;
    platform::beep();
    return false;
}

bool PMMovieRepresentationPrototype::showInFinder()
{
    const QString p = path();
    if (!p.isEmpty() && platform::revealInFileManager({p}))
        return true;
    PMLog("cannot reveal <%@>", displayName());
    platform::beep();
    return false;
}

bool PMMovieRepresentationPrototype::promptForURL()
{
    auto& services = PMMovieRepresentationServices::shared();
    const QUrl chosen = services.chooseFile ? services.chooseFile(QStringLiteral("Locate File"), QStringLiteral("Select File")) : QUrl();
    if (!chosen.isValid() || chosen.isEmpty())
        return false;
    auto baseName = [](const QUrl& url) {
        const QString name = stringByReplacingPercentEscapesIfNecessary(QFileInfo(url.path()).fileName());
        const qsizetype dot = name.lastIndexOf(u'.');
        return dot > 0 ? name.left(dot) : name;
    };
    const QString oldName = baseName(URL());
    const Value stored = userSettings()->value(QStringLiteral("Name"));
    if (!PMCachedSettings::determineNamesAutomatically && !(stored.isString() && !stored.string().isEmpty())
        && !prefs::get(prefs::keys::ImportMetadataName) && baseName(chosen) != oldName)
        setDisplayName(oldName);
    setURL(chosen);
    setMissing(false, false);
    updateCachedFileMetadataTags();
    if (services.updateLibraryAfterDelay)
        services.updateLibraryAfterDelay(0);
    return true;
}

// ---- Finding and placing files

PMMovieRepresentationPrototype::FileSearchSettings PMMovieRepresentationPrototype::FileSearchSettings::current()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    FileSearchSettings settings;
    settings.libraryPaths = ::libraryPaths();
    settings.useBookmarks = !defaults.boolForKey(prefs::keys::IgnoreBookmarksWhenFixingPaths);
    settings.simplifiedVolumeCache = defaults.boolForKey(prefs::keys::UseSimplifiedCacheForExternalVolumeFileChecks);
    settings.debugLog = ::debugLog();
    return settings;
}

QString PMMovieRepresentationPrototype::fixedPath(const QString& path, const QString& relativePath, const QByteArray& bookmark,
                                                  PMMovieRepresentationPrototype* record)
{
    if (path.isEmpty())
        return {};
    const QString answer = searchedPath(path, relativePath, bookmark, FileSearchSettings::current());
    if (!answer.isEmpty() && answer != path && record)
        record->setURL(QUrl::fromLocalFile(answer));
    return answer;
}

QString PMMovieRepresentationPrototype::searchedPath(const QString& path, const QString& relativePath, const QByteArray& bookmark,
                                                     const FileSearchSettings& settings)
{
    if (path.isEmpty())
        return {};
    if (fileExistsAtPath(path, settings.simplifiedVolumeCache))
        return path;
    const bool volumeExists = volumeExistsForPath(path);
    QString answer;
    if (!bookmark.isEmpty() && volumeExists && settings.useBookmarks) {
        const std::optional<QString> resolved = PMPathFromBookmarkData(bookmark);
        if (resolved && *resolved != path && fileExistsAtPath(*resolved, false)) {
            answer = *resolved;
            if (settings.debugLog)
                PMLog("[Debug] %@ moved to path: %@ (identified via bookmark)", QFileInfo(path).fileName(), answer);
        }
    }
    if (answer.isEmpty()) {
        const QStringList& libraries = settings.libraryPaths;
        QString relative = relativePath;
        if (relative.isEmpty()) {
            if (!volumeExists)
                return {};
            for (const QString& library : libraries) {
                // A whole-component prefix: "/Movies" is no prefix of "/Movies2/a.mov".
                if (isEqualToOrChildOfPath(path, library) && path != library) {
                    relative = path.mid(library.endsWith(u'/') ? library.size() - 1 : library.size());
                    break;
                }
            }
            if (relative.isEmpty())
                return {};
        }
        if (!relative.startsWith(u'/'))
            relative.prepend(u'/');
        // A stored relative path that climbs out of a library folder is no candidate.
        if (relative.split(u'/').contains(QStringLiteral("..")))
            return {};
        for (const QString& library : libraries) {
            QString base = library;
            while (base.size() > 1 && base.endsWith(u'/'))
                base.chop(1);
            const QString candidate = base + relative;
            // The same place under another library folder is the file, whatever its size
            // now (tags written into it change that).
            if (candidate == path || !fileExistsAtPath(candidate, false))
                continue;
            answer = candidate;
            if (settings.debugLog)
                PMLog("[Debug] %@ moved to path: %@ (found on a different satellite)", QFileInfo(path).fileName(), answer);
            break;
        }
    }
    return answer;
}

QString PMMovieRepresentationPrototype::folderPathForLibraryAncestors(const platform::ArrayPtr& ancestors, const QString& basePath,
                                                                     bool createFoldersIfNecessary)
{
    if (basePath.isEmpty())
        return {};
    QString base = QDir::cleanPath(basePath);
    if (createFoldersIfNecessary && !QDir().mkpath(base))
        return {};
    QString result = base;
    const qsizetype count = ancestors ? ancestors->count() : 0;
    for (qsizetype i = count - 1; i >= 0; --i) {
        PMLibraryContainer* ancestor = PMContainer(ancestors->at(i));
        if (!ancestor)
            continue;
        if (ancestor->isPellisSourceStorageSection())
            continue;
        if (!ancestor->topLevelRole().isEmpty() && ancestor->topLevelRole() != QStringLiteral("Temporary"))
            continue;
        QString name;
        if (const Value ymd = ancestor->value(QStringLiteral("Year-Month-Day Name")); ymd.isString())
            name = ymd.string();
        if (name.isEmpty())
            name = ancestor->displayName();
        QString component = safeComponent(name);
        if (component.isEmpty())
            component = QStringLiteral("Untitled");
        result += u'/' + component;
        if (createFoldersIfNecessary && !QDir().mkpath(result))
            return {};
    }
    // Every component was made a single safe name, so the result lies in the base folder;
    // checked once more on the cleaned text.
    if (!isEqualToOrChildOfPath(QDir::cleanPath(result), base))
        return {};
    return result;
}

QString PMMovieRepresentationPrototype::suggestedPathForLibraryAncestors(const platform::ArrayPtr& ancestors, const QStringList& possibleBasePaths,
                                                                         QString* getBasePath, bool createFoldersIfNecessary)
{
    if (possibleBasePaths.isEmpty())
        return {};
    const QString p = path();
    QString base;
    if (!p.isEmpty()) {
        for (const QString& candidate : possibleBasePaths)
            if (isEqualToOrChildOfPath(p, candidate)) {
                base = candidate;
                break;
            }
        if (base.isEmpty()) {
            const QString volume = volumePathOrSlash(p).toLower();
            for (const QString& candidate : possibleBasePaths)
                if (volumePathOrSlash(candidate).toLower() == volume) {
                    base = candidate;
                    break;
                }
        }
    }
    if (base.isEmpty())
        base = possibleBasePaths.first();
    if (getBasePath)
        *getBasePath = base;
    const QString folder = folderPathForLibraryAncestors(ancestors, base, createFoldersIfNecessary);
    if (folder.isEmpty())
        return {};
    const QString name = safeComponent(suggestedFilename());
    return folder + u'/' + (name.isEmpty() ? QStringLiteral("Untitled") : name);
}

QString PMMovieRepresentationPrototype::availablePathForLibraryAncestors(const platform::ArrayPtr& ancestors, const QStringList& possibleBasePaths,
                                                                         QString* getBasePath, bool* isFileMatch)
{
    const QString suggested = suggestedPathForLibraryAncestors(ancestors, possibleBasePaths, getBasePath, true);
    if (suggested.isEmpty())
        return {};
    const QString current = path();
    if (suggested == current) {
        if (isFileMatch)
            *isFileMatch = true;
        return suggested;
    }
    // The free-name search also finds the record's own file among the numbered names.
    return availablePathWithCurrentPath(suggested, current, isFileMatch);
}
