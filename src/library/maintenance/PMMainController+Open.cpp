// Everything the outside world hands the program to open: files and URLs (open requests,
// the Open and Add panels, the Open URL window, the URL scripting command), the library
// a path names, and the two small texts that name a movie or a selection from outside:
// the playback URL of the program's own scheme and the focus string.
//
// Requests from outside are untrusted: every length is bounded, only the program's own
// scheme (and its predecessor's) with the hosts "play" and "open" reaches a movie, a web
// address is added only after the user agreed, and other schemes are refused.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/InterfaceFiles.h"
#include "platform/OpenPanel.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "library/model/PMMovie.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QClipboard>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFileDialog>
#include <QtCore/QStandardPaths>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QVBoxLayout>
#include <QtCore/QThread>

#include <algorithm>
#include <memory>
#include <optional>
#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

// Longer requests are refused: no URL or focus string of the program comes near these.
constexpr qsizetype kMaximumURLLength = 8192;
constexpr qsizetype kMaximumPathLength = 4096;
constexpr qsizetype kMaximumFocusLength = 64 * 1024;
constexpr qsizetype kMaximumNumberOfRequests = 1000;
// How long a request that arrives during start-up waits before it tries again.
constexpr double kStartUpRetryDelay = 0.1;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

bool playsOnOpen()
{
    return !defaults().boolForKey(prefs::keys::DoNotPlayOnOpen);
}

// Outside input shortened for the log.
QString forLog(const QString& text)
{
    return text.size() > 200 ? text.left(200) + QStringLiteral("...") : text;
}

bool isOwnScheme(const QString& scheme)
{
    const QString lower = scheme.toLower();
    return lower == QLatin1String("pellis") || lower == QLatin1String("quentor");
}

bool isPlaybackHost(const QString& host)
{
    const QString lower = host.toLower();
    return lower == QLatin1String("play") || lower == QLatin1String("open");
}

bool isWebScheme(const QString& scheme)
{
    const QString lower = scheme.toLower();
    return lower == QLatin1String("http") || lower == QLatin1String("https");
}

// The integer at the start of the text (after blanks, with an optional sign); none
// without one, or when it lies beyond the range of 64 bits.
std::optional<long long> leadingInteger(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+'))
        ++end;
    while (end < trimmed.size() && trimmed[end].isDigit() && trimmed[end].unicode() < 128)
        ++end;
    bool ok = false;
    const long long value = trimmed.left(end).toLongLong(&ok);
    return ok ? std::optional<long long>(value) : std::nullopt;
}

Value arrayOfStrings(const QStringList& strings)
{
    auto array = Array::make();
    for (const QString& s : strings)
        array->append(Value(s));
    return Value(array);
}

bool isLibrarySettingsFolderName(const QString& name)
{
    return name == QLatin1String("Pellis") || name == QLatin1String("Quentor") || name == QLatin1String("Pellis.library")
        || name == QLatin1String("Quentor.library");
}

QString parentFolder(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// A path handed over by another process: absolute, without "." and ".." components, and
// with a file name that is already a safe one (`cleanFilename` leaves it as it is).
bool isAcceptablePathFromOtherProcess(const QString& path)
{
    if (path.isEmpty() || path.size() > kMaximumPathLength || !path.startsWith(u'/') || path.contains(QChar(0)))
        return false;
    const QStringList components = path.split(u'/');
    for (qsizetype i = 1; i < components.size(); ++i) {
        const QString& component = components[i];
        if (component == QLatin1String(".") || component == QLatin1String(".."))
            return false;
        if (component.isEmpty() && i != components.size() - 1)
            return false;
    }
    const QString name = components.last();
    return name.isEmpty() || cleanFilename(name) == name;
}

} // namespace

void PMMainController::installChooseService()
{
    // Records that are told to go to a time ask the controller to choose them.
    PMMovieRepresentationServices::shared().chooseMovieRepresentation = [](PMMovieRepresentationPrototype& record, bool startPlaying) {
        mainController().chooseMovieRepresentation(Value(record.sharedRecord()), false, true, startPlaying, false);
    };
    // Records look for a file gone from its place at the same place under the other
    // library folders, and the rebuild repairs paths with them.
    PMMovieRepresentationServices::shared().libraryPaths = [] { return mainController().libraryPaths(); };
    // The image loader's pending saves and searches count on the launcher badge; the badge is
    // the main thread's.
    PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta = [](int delta) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QCoreApplication::closingDown())
            return; // work that ends as the program ends has nobody to show it to
        if (QThread::currentThread() == app->thread())
            mainController().updateApplicationIconWithCrawlDelta(delta);
        else
            QMetaObject::invokeMethod(app, [delta] { mainController().updateApplicationIconWithCrawlDelta(delta); }, Qt::QueuedConnection);
    };
}

// ---------------------------------------------------------------------------
// Open requests

void PMMainController::openURLs(const QList<QUrl>& urls, const QStringList& paths)
{
    QStringList pathList = paths;
    QList<QUrl> acceptedURLs;
    bool hasWebURLs = false;
    if (!urls.isEmpty()) {
        QStringList filePaths;
        for (const QUrl& url : urls) {
            if (chooseMovieRepresentationFromPlaybackURL(url))
                return;
            if (url.isLocalFile()) {
                filePaths.append(url.toLocalFile());
                acceptedURLs.append(url);
            } else if (isWebScheme(url.scheme())) {
                hasWebURLs = true;
                acceptedURLs.append(url);
            } else {
                // A playback URL of no known movie, or a scheme nothing here can play.
                PMLog("ignoring URL <%@>", forLog(url.toString()));
            }
        }
        pathList = filePaths;
    }

    bool failedToSwitch = false;
    for (const QString& path : pathList) {
        const std::optional<QString> location = libraryLocationFromPath(path);
        if (!location)
            continue;
        if (setLibraryLocation(*location))
            return;
        failedToSwitch = true;
    }
    if (failedToSwitch) {
        PMLog("failed to switch to library: %@", arrayOfStrings(pathList));
        platform::beep();
        return;
    }

    platform::dispatchAsyncMain([this, acceptedURLs, pathList, hasWebURLs] {
        QList<QUrl> movieURLs;
        Array collectedItems;
        // Only files that are there: a record of a name that names nothing helps nobody.
        auto exists = [](const QString& path) {
            if (QFileInfo::exists(path))
                return true;
            PMLog("cannot open <%@>: no such file", forLog(path));
            return false;
        };
        if (hasWebURLs) {
            QList<QUrl> present;
            for (const QUrl& url : acceptedURLs)
                if (!url.isLocalFile() || exists(url.toLocalFile()))
                    present.append(url);
            addMovieURLs(movieURLs, present);
        } else {
            QStringList existingPaths;
            for (const QString& path : pathList)
                if (exists(path))
                    existingPaths.append(path);
            platform::Dictionary existing;
            for (auto it = _nonProxyRawMovieRepresentationsByPath.cbegin(); it != _nonProxyRawMovieRepresentationsByPath.cend(); ++it)
                existing.setValue(it.key(), Value(it.value()));
            addMovieURLsFromPaths(movieURLs, existingPaths, QString(), &existing, &collectedItems);
        }
        if (movieURLs.isEmpty()) {
            platform::beep();
            return;
        }
        std::stable_sort(movieURLs.begin(), movieURLs.end(),
                         [](const QUrl& a, const QUrl& b) { return PMCompareURLsByAbsoluteString(a, b) < 0; });
        freezeSelections();
        const PMLibraryContainerPtr temporary = temporaryStorage();
        if (defaults().boolForKey(prefs::keys::ForgetPlaylistOnAddHidden) && temporary && !temporary->rawChildren()->isEmpty())
            temporary->rawChildren()->removeAll();

        Array collectedMovies;
        const bool placed = addLibraryItems(collectedItems.isEmpty() ? ArrayPtr() : std::make_shared<Array>(collectedItems.values()), movieURLs,
                                            temporary ? temporary->rawChildren() : ArrayPtr(), -1, &collectedMovies);
        updateLibrary();
        saveLibrarySoon();

        const QUrl& first = movieURLs.first();
        Value movie;
        if (first.isLocalFile()) {
            if (PMMovieRepresentationOriginalPtr original =
                    _nonProxyRawMovieRepresentationsByPath.value(first.toLocalFile().normalized(QString::NormalizationForm_C)))
                movie = Value(original);
        } else {
            // A web address has no path to look up: its new record is among those placed.
            for (const Value& candidate : collectedMovies.values())
                if (PMMovieRepresentationPrototype* record = PMMovie(candidate); record && record->URL() == first) {
                    movie = record->nonProxySelf();
                    break;
                }
        }
        if (!movie.isNull() && chooseMovieRepresentation(movie, false, true, playsOnOpen(), false)) {
            releaseFrozenSelections();
            return;
        }
        if (!placed)
            platform::beep();
        unfreezeSelections();
        showMainWindowIfNotVisible();
    });
}

std::optional<QString> PMMainController::libraryLocationFromPath(const QString& givenPath)
{
    QString path = givenPath;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    if (path.isEmpty())
        return std::nullopt;
    if (path.endsWith(QLatin1String("/Pellis.library")) || path.endsWith(QLatin1String("/Quentor.library"))) {
        if (!QFileInfo(path).isDir())
            return QString(QLatin1String(""));
        const QString parent = parentFolder(path);
        return QFileInfo(parent).isDir() ? parent : QString(QLatin1String(""));
    }
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension != QLatin1String("libraryindex") && extension != QLatin1String("pellislibrary") && extension != QLatin1String("quentorlibrary"))
        return std::nullopt;
    // The index of the current layout lies in "Pellis.library"; older layouts kept it in
    // a folder "Pellis" or "Quentor".
    const QString folder = parentFolder(path);
    if (!isLibrarySettingsFolderName(QFileInfo(folder).fileName()))
        return QString(QLatin1String(""));
    const QString library = parentFolder(folder);
    return !library.isEmpty() && QFileInfo(library).isDir() ? library : QString(QLatin1String(""));
}

void PMMainController::handleURLString(const QString& string)
{
    if (!_didFinishLaunching) {
        platform::performAfterDelay(this, QStringLiteral("handleURLString"), Value(string), kStartUpRetryDelay,
                                    [this, string] { handleURLString(string); });
        return;
    }
    if (string.size() > kMaximumURLLength) {
        PMLog("ignoring URL request of %ld characters", long(string.size()));
        platform::beep();
        return;
    }
    const QUrl url(string.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        PMLog("ignoring URL request <%@>: not a URL", forLog(string));
        platform::beep();
        return;
    }
    const QString scheme = url.scheme().toLower();
    if (isOwnScheme(scheme)) {
        if (!isPlaybackHost(url.host()) || !chooseMovieRepresentationFromPlaybackURL(url)) {
            PMLog("ignoring URL request <%@>: no such movie", forLog(string));
            platform::beep();
        }
        return;
    }
    if (scheme == QLatin1String("file")) {
        const QString path = url.toLocalFile();
        if (!isAcceptablePathFromOtherProcess(path)) {
            PMLog("refusing to open <%@>", forLog(string));
            platform::beep();
            return;
        }
        openURLs({}, {path});
        return;
    }
    if (!isWebScheme(scheme)) {
        PMLog("ignoring URL request <%@>: unsupported scheme", forLog(string));
        platform::beep();
        return;
    }
    // Any web page can hand the program a URL: nothing from the web is added and played
    // unless the user agrees.
    platform::Alert alert;
    alert.messageText = QCoreApplication::translate("PMMainController", "Add this web address to the temporary storage and play it?");
    alert.informativeText = forLog(url.toDisplayString());
    alert.buttons = {QCoreApplication::translate("PMMainController", "Add and Play"),
                     QCoreApplication::translate("PMMainController", "Cancel")};
    if (platform::runAlert(alert).button != 0)
        return;
    openURLs({url}, {});
}

void PMMainController::openRequests(const QStringList& requests, bool fromOtherProcess)
{
    if (requests.isEmpty())
        return;
    if (!_didFinishLaunching) {
        platform::performAfterDelay(this, QStringLiteral("openRequests"),
                                    Value(requests.join(QChar(0)) + (fromOtherProcess ? QStringLiteral("\1") : QString())),
                                    kStartUpRetryDelay, [this, requests, fromOtherProcess] { openRequests(requests, fromOtherProcess); });
        return;
    }
    if (requests.size() > kMaximumNumberOfRequests) {
        PMLog("ignoring open request of %ld files and URLs", long(requests.size()));
        platform::beep();
        return;
    }
    QStringList paths;
    bool refused = false;
    for (const QString& request : requests) {
        QString path;
        if (request.startsWith(u'/')) {
            path = request;
        } else {
            const QUrl url(request, QUrl::StrictMode);
            if (url.isValid() && url.scheme().size() > 1) {
                if (!url.isLocalFile()) {
                    handleURLString(request);
                    continue;
                }
                path = url.toLocalFile();
            } else if (!fromOtherProcess && !request.isEmpty()) {
                path = QDir::current().absoluteFilePath(request);
            }
        }
        const bool acceptable = fromOtherProcess ? isAcceptablePathFromOtherProcess(path)
                                                 : !path.isEmpty() && path.size() <= kMaximumPathLength && !path.contains(QChar(0));
        if (!acceptable) {
            PMLog("refusing to open <%@>", forLog(request));
            refused = true;
            continue;
        }
        paths.append(path);
    }
    if (refused)
        platform::beep();
    if (!paths.isEmpty())
        openURLs({}, paths);
}

// ---------------------------------------------------------------------------
// Playback URLs

QString PMMainController::playbackURLString(const QString& host, const QString& parentID, const QString& movieID, long long seconds)
{
    return platform::format("pellis://%@/%@/%@/%ld", host, parentID, movieID, seconds).toLower();
}

bool PMMainController::chooseMovieRepresentationFromPlaybackURL(const QUrl& url)
{
    if (!isOwnScheme(url.scheme()) || !isPlaybackHost(url.host()))
        return false;
    // Encoded: an escaped slash stays inside its component (and matches no ID).
    const QString path = url.path(QUrl::FullyEncoded);
    if (path.size() < 2 || path.size() > kMaximumURLLength)
        return false;
    const QStringList components = path.toUpper().split(u'/');
    if (components.size() != 4)
        return false;
    const Value movie = movieRepresentationWithUniqueLibraryID(components[2], components[1]);
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record)
        return false;
    if (const PMLibraryContainerPtr parent = parentOfLibraryItem(movie))
        selectLibraryItem(Value(parent));
    // Only a position inside the movie replaces the stored one; 0 (the link of a movie
    // that was not playing) means "from the start".
    const std::optional<long long> seconds = leadingInteger(components[3]);
    if (seconds && *seconds >= 0 && *seconds < record->durationIfCached(true)) {
        record->userSettings()->setValue(QStringLiteral("Last Playback: Position"), Value(double(*seconds)));
        record->userSettings()->setValue(QStringLiteral("Last Playback: Resume Regardless Once"), Value(true));
    }
    return chooseMovieRepresentation(movie, false, true, url.host().toLower() == QLatin1String("play"), false);
}

void PMMainController::copyPlaybackURLViaMenuItem(int menuItemTag)
{
    const ArrayPtr movies = cachedInfoMovieRepresentationsSorted(true);
    if (!movies || movies->count() != 1 || !PMMovie(movies->at(0))) {
        platform::beep();
        return;
    }
    const Value movie = movies->at(0);
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    long long seconds = 0;
    if (PMMovie(_currentMovieRepresentation) && PMMovie(record->nonProxySelf()) == PMMovie(PMMovie(_currentMovieRepresentation)->nonProxySelf())
        && currentMovieRepresentationHasRelevantDuration())
        seconds = (long long)std::floor(std::max(0.0, timeSlider.currentTime));
    const PMLibraryContainerPtr parent = parentOfLibraryItem(movie);
    const QString host = menuItemTag >= 10 && menuItemTag <= 19 ? QStringLiteral("open") : QStringLiteral("play");
    const QString url = playbackURLString(host, parent ? parent->uniqueLibraryID() : QString(), record->uniqueLibraryID(), seconds);

    QClipboard* clipboard = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard) {
        platform::beep();
        return;
    }
    if (menuItemTag % 10 == 1) {
        QString label = record->displayName();
        if (seconds >= 1)
            label = platform::format("%@ (%@)", label, PMDurationString(double(seconds)));
        // Brackets in a name would end the link text early.
        label.replace(QLatin1String("\\"), QLatin1String("\\\\")).replace(QLatin1String("["), QLatin1String("\\[")).replace(QLatin1String("]"), QLatin1String("\\]"));
        clipboard->setText(platform::format("[%@](%@)", label, url));
        return;
    }
    auto* mime = new QMimeData;
    mime->setUrls({QUrl(url)});
    mime->setText(url);
    clipboard->setMimeData(mime);
}

bool PMMainController::currentMovieRepresentationHasRelevantDuration()
{
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    return _playerViewHasMoviePlayer && timeSlider.duration > 0 && current
        && current->movieRepresentationValues().frameImageMovieRepresentations.empty();
}

// ---------------------------------------------------------------------------
// The focus

QList<QWidget*> PMMainController::orderedWindows() const
{
    if (_orderedWindowsOverride)
        return _orderedWindowsOverride();
    QList<QWidget*> windows;
    QWidget* active = QApplication::activeWindow();
    if (active && active->isVisible())
        windows.append(active);
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget != active)
            windows.append(widget);
    return windows;
}

Value PMMainController::focusCurrentMovieRepresentationAtTimestamp(long long* getTimestamp)
{
    if (getTimestamp)
        *getTimestamp = 0;
    if (_currentMovieRepresentation.isNull() || !playerView)
        return {};
    QWidget* playerWindow = playerView->window();
    if (!playerWindow || !playerWindow->isVisible())
        return {};
    const QList<QWidget*> windows = orderedWindows();
    const qsizetype playerIndex = windows.indexOf(playerWindow);
    if (playerIndex < 0)
        return {};
    const qsizetype mainIndex = _mainWindow ? windows.indexOf(_mainWindow.data()) : -1;
    // A movie playing inside the main window is never the focus.
    if (mainIndex >= 0 && playerIndex >= mainIndex)
        return {};
    if (getTimestamp)
        *getTimestamp = _playerViewHasMoviePlayer ? (long long)std::floor(std::max(0.0, _playerCurrentTime)) : 0;
    return _currentMovieRepresentation;
}

QString PMMainController::currentFocus()
{
    long long seconds = 0;
    const Value movie = focusCurrentMovieRepresentationAtTimestamp(&seconds);
    if (PMMovieRepresentationPrototype* record = PMMovie(movie)) {
        QString focus;
        if (const PMLibraryContainerPtr parent = parentOfLibraryItem(movie))
            focus = parent->uniqueLibraryID() + QStringLiteral(">>");
        focus += record->uniqueLibraryID() + platform::format("@%ld", seconds);
        return focus + QStringLiteral("||") + playerView->window()->windowTitle();
    }
    QStringList ids;
    for (const Value& item : _selectedLibraryItems ? _selectedLibraryItems->values() : std::vector<Value>())
        if (PMLibraryContainer* container = PMContainer(item))
            ids.append(container->uniqueLibraryID());
    return ids.join(u'|') + QStringLiteral("||") + (_mainWindow ? _mainWindow->windowTitle() : QString());
}

void PMMainController::restoreFocus(const QString& focus)
{
    if (focus.size() > kMaximumFocusLength) {
        PMLog("ignoring focus of %ld characters", long(focus.size()));
        platform::beep();
        return;
    }
    const QStringList entries = focus.section(QStringLiteral("||"), 0, 0).split(u'|', Qt::SkipEmptyParts);
    auto containers = Array::make();
    for (const QString& entry : entries) {
        const QStringList parts = entry.split(QStringLiteral(">>"));
        QString containerID;
        QString rest = entry;
        if (parts.size() >= 2) {
            containerID = parts[parts.size() - 2];
            rest = parts.last();
        }
        const QStringList movieParts = rest.split(u'@');
        if (movieParts.size() == 2) {
            const Value movie = movieRepresentationWithUniqueLibraryID(movieParts[0], containerID);
            if (PMMovieRepresentationPrototype* record = PMMovie(movie)) {
                // A position from outside counts only inside the movie's known length (as
                // a playback URL's does); before the start, past the end, or with the length
                // not known yet, the movie starts from the beginning.
                const long long asked = leadingInteger(movieParts[1]).value_or(0);
                const double seconds = asked > 0 && asked < record->durationIfCached(true) ? double(asked) : 0;
                record->goToTimestamp(seconds, playsOnOpen());
                return;
            }
        }
        const QString id = movieParts.size() == 2 ? movieParts[0] : rest;
        if (const PMLibraryContainerPtr container = _containersByID.value(id))
            containers->append(Value(container));
    }
    if (!containers->isEmpty()) {
        selectLibraryItems(containers);
        bringMainWindowToFront();
    }
}

// ---------------------------------------------------------------------------
// Windows and panels

QWidget* PMMainController::makeOpenURLPanel(QObject* owner)
{
    auto* panel = new QDialog;
    panel->setWindowTitle(QCoreApplication::translate("PMMainController", "Open URL"));
    auto* layout = new QVBoxLayout(panel);
    layout->addWidget(new QLabel(QCoreApplication::translate("PMMainController", "Enter one URL per line:"), panel));
    auto* text = new QPlainTextEdit(panel);
    text->setObjectName(QStringLiteral("openURLTextView"));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, panel);
    layout->addWidget(buttons);
    auto* controller = qobject_cast<PMMainController*>(owner);
    if (controller) {
        QObject::connect(buttons, &QDialogButtonBox::accepted, controller, [controller, buttons] { controller->openURLOK(buttons); });
        QObject::connect(buttons, &QDialogButtonBox::rejected, controller, [controller, buttons] { controller->openURLCancel(buttons); });
        controller->openURLTextView = text;
    }
    panel->resize(480, 240);
    return panel;
}

void PMMainController::openURL(QObject*)
{
    if (!openURLPanel) {
        openURLPanel = platform::loadInterface(QStringLiteral("URL"), this);
        if (!openURLPanel) {
            PMLog("cannot load <URL.nib>");
            platform::beep();
            return;
        }
        if (!openURLTextView)
            openURLTextView = openURLPanel->findChild<QPlainTextEdit*>();
    }
    if (!openURLPanel->isVisible()) {
        if (QWidget* screenWindow = _mainWindow ? _mainWindow.data() : nullptr)
            openURLPanel->move(screenWindow->geometry().center() - openURLPanel->rect().center());
    }
    if (auto* text = qobject_cast<QPlainTextEdit*>(openURLTextView.data()))
        text->clear();
    openURLPanel->show();
    openURLPanel->raise();
    openURLPanel->activateWindow();
}

void PMMainController::openURLOK(QObject*)
{
    if (openURLPanel)
        openURLPanel->hide();
    const auto* text = qobject_cast<QPlainTextEdit*>(openURLTextView.data());
    QList<QUrl> urls;
    for (const QString& line : (text ? text->toPlainText() : QString()).split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        const QUrl url(trimmed, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || !(isOwnScheme(scheme) || isWebScheme(scheme) || scheme == QLatin1String("file"))) {
            PMLog("ignoring URL <%@>: not a URL the program can open", forLog(trimmed));
            continue;
        }
        urls.append(url);
    }
    openURLs(urls, {});
}

void PMMainController::openURLCancel(QObject*)
{
    if (openURLPanel)
        openURLPanel->hide();
}

void PMMainController::openFile(int senderTag)
{
    const bool add = senderTag == 1;
    const QString word = add ? QCoreApplication::translate("PMMainController", "Add") : QCoreApplication::translate("PMMainController", "Open");
    QList<QUrl> urls;
    if (_chooseFilesOverride) {
        urls = _chooseFilesOverride(word);
    } else {
        // Files and folders: a folder opened or added brings the movies inside it.
        const std::unique_ptr<QFileDialog> dialog(platform::makeFilesAndFoldersPanel(_mainWindow, word, word));
        // Where the movies are: the library's folders, else the user's videos folder.
        QStringList starts = libraryPaths();
        starts.append(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation));
        platform::prepareMediaPanel(dialog.get(), starts);
        if (dialog->exec() == QDialog::Accepted)
            urls = dialog->selectedUrls();
    }
    if (urls.isEmpty())
        return;
    if (!add) {
        openURLs(urls, {});
        return;
    }
    if (!_dropFileURLsForAdd) {
        // The import of a drop, into the downloads container.
        _dropFileURLsForAdd = [this](const QList<QUrl>& chosen) {
            const PMLibraryContainerPtr downloads = downloadsContainer();
            return downloads && dropFileURLs(chosen, nullptr, -1, downloads->rawChildren(), downloads, false);
        };
    }
    if (!_dropFileURLsForAdd(urls))
        platform::beep();
}

// ---------------------------------------------------------------------------
// Choosing movies

void PMMainController::chooseMovieRepresentationFromMenuItem(const Value& representedObject, int menuItemTag)
{
    if (!PMMovie(representedObject))
        return;
    if (menuItemTag == 1)
        if (const PMLibraryContainerPtr parent = parentOfLibraryItem(representedObject))
            selectLibraryItem(Value(parent));
    chooseMovieRepresentation(representedObject, false, true, playsOnOpen(), false);
}

void PMMainController::chooseNextMovieRepresentation()
{
    const Value next = _nextMovieRepresentation;
    _nextMovieRepresentation = Value();
    PMMovieRepresentationPrototype* nextRecord = PMMovie(next);
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    if (!nextRecord || !current)
        return;
    const bool startPlaying = current->isConsideredStillImage() || !nextRecord->isConsideredStillImage()
        || defaults().boolForKey(prefs::keys::ContinueStartSlideshowAfterMovie);
    chooseMovieRepresentation(next, false, false, startPlaying, true);
    if (_updatePlaybackControls)
        _updatePlaybackControls();
}

bool PMMainController::chooseMovieRepresentation(const Value& movie, bool withDefaultApplication, bool changeSelection, bool startPlaying,
                                                 bool byContinuing)
{
    if (_chooseMovieRepresentationHandler)
        return _chooseMovieRepresentationHandler(movie, withDefaultApplication, changeSelection, startPlaying, byContinuing);
    if (!PMMovie(movie))
        return false;
    _currentMovieRepresentation = movie;
    return true;
}

void PMMainController::showMainWindowIfNotVisible()
{
    if (_mainWindow && !_mainWindow->isVisible())
        bringMainWindowToFront();
}

QWidget* PMMainController::mainWindow() const
{
    return _mainWindow.data();
}

void PMMainController::bringMainWindowToFront()
{
    if (!_mainWindow)
        return;
    _mainWindow->show();
    _mainWindow->raise();
    _mainWindow->activateWindow();
}

