// Items the program does not play itself open in another application: the item's own
// (chosen with Open With or found by the viewer rules) or one picked from the Open With
// menu. A player that speaks MPRIS is followed: the durations of a sequence's parts are
// learnt, a preview image the user saved from it is picked up, and near its end the next
// part or the next item of the group follows.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLSONSerialization.h"
#include "foundation/PMLog.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Applications.h"
#include "platform/DelayedPerform.h"
#include "platform/Format.h"
#include "platform/Image.h"
#include "platform/Paths.h"
#include "platform/ImageReading.h"
#include "platform/RegularExpression.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMExternalViewerWatch.h"
#include "playback/PMPlaybackController.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QFutureWatcher>
#include <QtCore/QProcess>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QAction>

#include <algorithm>
#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

// The parts of a sequence bundle, or the file itself.
QStringList filePathsOf(PMMovieRepresentationPrototype& record)
{
    const QString path = record.path();
    if (path.isEmpty())
        return {};
    if (QFileInfo(path).isDir())
        if (const std::optional<QStringList> parts = sequencePaths(path); parts && !parts->isEmpty())
            return *parts;
    return {path};
}

bool isSequence(PMMovieRepresentationPrototype& record)
{
    return QFileInfo(record.path()).isDir() && filePathsOf(record).size() >= 2;
}

// A viewer that shows video is followed over MPRIS after it opens; it gets only the first
// part of a sequence (the watch opens the next ones).
bool isWatchableViewer(const platform::DesktopApplication& application)
{
    for (const QString& type : application.mimeTypes)
        if (type.startsWith(QLatin1String("video/")))
            return true;
    return false;
}

QString canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return (c.isEmpty() ? QFileInfo(path).absoluteFilePath() : c).normalized(QString::NormalizationForm_C);
}

bool startCommandLines(PMMainController& c, const std::vector<QStringList>& lines, QString* error)
{
    if (lines.empty()) {
        *error = QStringLiteral("the application's entry has no command");
        return false;
    }
    for (const QStringList& line : lines) {
        const bool started = c._startApplicationOverride ? c._startApplicationOverride(line.first(), line.mid(1))
                                                         : QProcess::startDetached(line.first(), line.mid(1));
        if (!started) {
            *error = platform::format("%@ could not be started", line.first());
            return false;
        }
    }
    return true;
}

// Only the desktop's installed applications are started: a desktop entry lying anywhere
// else (in a movie folder, say) is a file like any other.
bool installedApplicationAtPath(const QString& path, platform::DesktopApplication* getApplication)
{
    const QString wanted = QFileInfo(path).canonicalFilePath();
    if (wanted.isEmpty())
        return false;
    for (const platform::DesktopApplication& application : platform::allApplications()) {
        if (QFileInfo(application.path).canonicalFilePath() == wanted) {
            *getApplication = application;
            return true;
        }
    }
    return false;
}

bool refuseRunnableFiles(const QStringList& paths, const QString& name)
{
    for (const QString& path : paths) {
        if (platform::isRunnableFile(path)) {
            platform::Alert alert;
            alert.messageText = platform::format("“%@” is not opened in another application.", name);
            alert.informativeText = QStringLiteral("The file is a program, a script or a desktop entry, and programs are never started from the library.");
            platform::runAlert(alert);
            return true;
        }
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// Viewer rules

ArrayPtr PMMainController::viewerRules()
{
    if (_viewerRules)
        return *_viewerRules;
    QString text = settings().stringForKey(prefs::keys::ViewerRules);
    if (text.trimmed().isEmpty())
        text = PMBuiltInViewerRules();
    QString error;
    ArrayPtr rules = PMParseViewerRules(text, &error);
    if (!rules)
        PMLog("ignoring the viewer rules: %@", error);
    _viewerRules = rules;
    return rules;
}

// ---------------------------------------------------------------------------
// Opening elsewhere

bool PMMainController::openURL(const QString& path, const Value& forMovieRepresentation, const QString& withApplicationAtURL,
                               bool requestConfirmation, bool startPlaying)
{
    PMMovieRepresentationPrototype* record = PMMovie(forMovieRepresentation);
    DictionaryPtr keptDurations;
    if (record && !_externalViewerMovieRepresentation.isNull()
        && PMMovie(_externalViewerMovieRepresentation) && &PMMovie(_externalViewerMovieRepresentation)->original() == &record->original())
        keptDurations = _externalViewerDurationsBySequencePath;
    stopMonitoringExternalViewer();
    if (withApplicationAtURL.isEmpty())
        return false;
    platform::DesktopApplication application;
    if (!installedApplicationAtPath(withApplicationAtURL, &application)) {
        PMLog("cannot open %@ with <%@>: it is not an installed application's desktop entry", path, withApplicationAtURL);
        return false;
    }
    const bool watchable = isWatchableViewer(application);

    QStringList paths;
    const bool sequence = record && isSequence(*record) && path == record->path();
    if (sequence) {
        paths = filePathsOf(*record);
        if (watchable) {
            paths = paths.mid(0, 1);
        } else {
            const QString extension = QFileInfo(paths.first()).suffix().toLower();
            if (extension == QLatin1String("txt") || extension.startsWith(QLatin1String("rtf")) || extension.startsWith(QLatin1String("htm")))
                std::reverse(paths.begin(), paths.end());
        }
    } else {
        paths = {path};
    }
    const QString name = record ? record->displayName() : QFileInfo(path).fileName();
    if (refuseRunnableFiles(paths, name))
        return false;

    if (requestConfirmation) {
        const QString key = QStringLiteral("Confirmed External Applications");
        const QString url = QUrl::fromLocalFile(withApplicationAtURL).toString();
        const ArrayPtr confirmed = settings().arrayForKey(key);
        bool known = false;
        for (const Value& v : confirmed ? *confirmed : Array())
            known = known || v.string() == url;
        if (!known) {
            if (application.name.isEmpty())
                return false;
            platform::Alert alert;
            alert.messageText = platform::format("Open in %@?", application.name);
            alert.informativeText = platform::format(
                "Pellis cannot make sense of this file. Do you want to open it in its assigned default app, %@, instead?\n\n"
                "If you'd rather assign a different app for opening this file from within Pellis, you can do so in the Info dialog, "
                "or by setting up default app rules in Pellis's Advanced preferences.",
                application.name);
            alert.buttons = {platform::format("Open in %@", application.name), QStringLiteral("Cancel")};
            alert.style = platform::AlertStyle::Informational;
            if (platform::runAlert(alert).button != 0)
                return false;
            const ArrayPtr updated = Array::make();
            if (confirmed)
                *updated = *confirmed;
            updated->append(Value(url));
            settings().setObject(Value(updated), key);
        }
    }

    QString error;
    if (!startCommandLines(*this, platform::commandLinesForFiles(application, paths), &error)) {
        PMLog("cannot open %@ with <%@>: %@", paths.join(QStringLiteral(", ")), withApplicationAtURL, error);
        return false;
    }
    _externalViewerBundleIdentifier = application.id;
    // "Push-Start: " and the viewer's desktop entry: a viewer that opens files paused is
    // asked to play once its player is on the bus.
    if (startPlaying && !application.id.isEmpty() && settings().boolForKey(prefs::prefixes::PushStart + application.id)) {
        PMMprisPushStart::start(_externalViewerBusName, application.id, 30000, this);
    }

    if (watchable && record) {
        _externalViewerFilePath = canonical(paths.first());
        _checkExternalViewerDuration = true;
        if (keptDurations) {
            _externalViewerDurationsBySequencePath = keptDurations;
        } else if (sequence) {
            _externalViewerDurationsBySequencePath = Dictionary::make();
            for (const QString& part : filePathsOf(*record))
                _externalViewerDurationsBySequencePath->setValue(canonical(part), Value(0.0));
        } else {
            _externalViewerDurationsBySequencePath.reset();
        }
        _externalViewerMovieRepresentation = forMovieRepresentation;
        _externalViewerWatchStartMSecs = QDateTime::currentMSecsSinceEpoch();
        _externalViewerPreviewNewerThanMSecs = _externalViewerWatchStartMSecs;
        ++_externalViewerWatchSerial;
        if (shouldMonitorExternalViewer())
            startMonitoringExternalViewer(false);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Open With

DictionaryPtr PMMainController::applicationsForMovieRepresentations(const ArrayPtr& items, bool includePellis,
                                                                   QString* getCommonDefaultApplicationPath)
{
    QString common;
    int commonCount = 0; // 0 none seen yet, 1 one common path, 2 they differ
    std::optional<std::vector<platform::DesktopApplication>> list;
    QSet<QString> askedExtensions;
    for (const Value& v : items ? *items : Array()) {
        PMMovieRepresentationPrototype* record = PMMovie(v);
        if (!record || record->path().isEmpty())
            continue;
        const QString own = record->applicationPath();
        if (commonCount == 0) {
            common = own;
            commonCount = 1;
        } else if (commonCount == 1 && own != common) {
            commonCount = 2;
            common.clear();
        }
        for (const QString& file : filePathsOf(*record)) {
            const QString extension = QFileInfo(file).suffix().toLower();
            if (!extension.isEmpty()) {
                if (askedExtensions.contains(extension))
                    continue;
                askedExtensions.insert(extension);
            }
            std::vector<platform::DesktopApplication> found = platform::applicationsForFile(file);
            if (found.empty())
                continue;
            if (!list) {
                list = std::move(found);
            } else {
                std::erase_if(*list, [&](const platform::DesktopApplication& a) {
                    return std::none_of(found.begin(), found.end(), [&](const platform::DesktopApplication& b) { return a.path == b.path; });
                });
            }
        }
    }
    std::vector<platform::DesktopApplication> applications = list.value_or(std::vector<platform::DesktopApplication>());
    if (!list && commonCount == 1 && !common.isEmpty() && QFileInfo::exists(common)) {
        platform::DesktopApplication application;
        if (installedApplicationAtPath(common, &application))
            applications.push_back(application);
    }
    // A hex editor for a look at the bytes, when one is installed.
    for (const char* id : {"org.gnome.GHex.desktop", "okteta.desktop", "org.kde.okteta.desktop"}) {
        platform::DesktopApplication hex;
        if (platform::getDesktopApplication(QString::fromLatin1(id), &hex)
            && std::none_of(applications.begin(), applications.end(), [&](const auto& a) { return a.path == hex.path; })) {
            applications.push_back(hex);
            break;
        }
    }
    QHash<QString, int> nameCounts;
    for (const auto& a : applications)
        if (includePellis || !platform::isOwnApplication(a))
            ++nameCounts[a.name];
    const DictionaryPtr result = Dictionary::make();
    for (const auto& a : applications) {
        if (!includePellis && platform::isOwnApplication(a))
            continue;
        const QString title = nameCounts.value(a.name) > 1
            ? platform::format("%@%@%@", a.name, spacedDashString(), readablePathRepresentationRelativeToPath(a.path, QString(), false, true) + u'/'
                                   + QFileInfo(a.path).fileName())
            : a.name;
        result->setValue(title, Value(a.path));
    }
    if (getCommonDefaultApplicationPath)
        *getCommonDefaultApplicationPath = commonCount == 1 ? common : QString();
    return result->isEmpty() ? nullptr : result;
}

void PMMainController::openWithApplicationFromMenuItem(QAction* item)
{
    const DictionaryPtr object = platform::menuItemRepresentedObject(item).dictionary();
    if (!object)
        return;
    const QString application = object->value(QStringLiteral("Application")).string();
    const ArrayPtr movies = object->value(QStringLiteral("Movies")).array();
    const QString title = item ? item->text() : QString();
    if (movies && movies->count() == 1 && _currentMovieRepresentation.isNull()) {
        const Value movie = movies->at(0);
        PMMovieRepresentationPrototype* record = PMMovie(movie);
        if (record && openURL(record->path(), movie, application, false, !settings().boolForKey(prefs::keys::DoNotPlayOnOpen))) {
            addLastWatchedMovieRepresentation(movie, parentOfLibraryItem(movie));
            incrementCounterForMovieRepresentation(movie, true);
        }
        return;
    }
    QStringList paths;
    for (const Value& v : movies ? *movies : Array())
        if (PMMovieRepresentationPrototype* record = PMMovie(v))
            paths << filePathsOf(*record);
    platform::DesktopApplication entry;
    QString error = QStringLiteral("no files");
    bool opened = false;
    if (!paths.isEmpty() && !refuseRunnableFiles(paths, QFileInfo(paths.first()).fileName())) {
        if (installedApplicationAtPath(application, &entry))
            opened = startCommandLines(*this, platform::commandLinesForFiles(entry, paths), &error);
        else
            error = QStringLiteral("not an application's desktop entry");
    }
    if (!opened)
        PMLog("cannot open %@ with <%@>: %@", paths.join(QStringLiteral(", ")), title, error);
}

void PMMainController::alwaysOpenWithApplicationFromMenuItem(QAction* item)
{
    const DictionaryPtr object = platform::menuItemRepresentedObject(item).dictionary();
    if (!object)
        return;
    const QString application = object->value(QStringLiteral("Application")).string();
    const ArrayPtr movies = object->value(QStringLiteral("Movies")).array();
    for (const Value& v : movies ? *movies : Array())
        if (PMMovieRepresentationPrototype* record = PMMovie(v))
            record->setApplicationPath(application);
    Q_EMIT playbackController().updateUserInterfaceRequested();
}

void PMMainController::filterOpenWithApplicationFromMenuItemSwitch(QAction* item)
{
    if (!item)
        return;
    const QString key = QStringLiteral("Open With: Hidden Applications");
    const QString title = item->property("PMApplicationTitle").toString().isEmpty() ? item->text() : item->property("PMApplicationTitle").toString();
    const ArrayPtr old = settings().arrayForKey(key);
    const ArrayPtr hidden = Array::make();
    for (const Value& v : old ? *old : Array())
        if (v.string() != title)
            hidden->append(v);
    if (!item->isChecked())
        hidden->append(Value(title));
    if (hidden->isEmpty())
        settings().removeObjectForKey(key);
    else
        settings().setObject(Value(hidden), key);
}

// ---------------------------------------------------------------------------
// Watching the viewer

bool PMMainController::shouldMonitorExternalViewer()
{
    if (_externalViewerMovieRepresentation.isNull())
        return false;
    if (settings().boolForKey(prefs::keys::ContinueMonitorExternalViewer) && shouldContinueAfterMovieRepresentation(_externalViewerMovieRepresentation))
        return true;
    PMMovieRepresentationPrototype* record = PMMovie(_externalViewerMovieRepresentation);
    if (!record)
        return false;
    QStringList parts = filePathsOf(*record);
    if (parts.size() < 2)
        return false;
    for (QString& part : parts)
        part = canonical(part);
    return parts.indexOf(_externalViewerFilePath) >= 0 && parts.indexOf(_externalViewerFilePath) < parts.size() - 1;
}

void PMMainController::startMonitoringExternalViewer(bool immediately)
{
    if (_isMonitoringExternalViewer || _externalViewerMovieRepresentation.isNull())
        return;
    _isMonitoringExternalViewer = true;
    platform::performAfterDelay(this, QStringLiteral("monitorExternalViewer"), Value(), immediately ? 0.0 : 5.0, [this] { monitorExternalViewer(); });
    invalidateCurrentOrMonitoredMovieRepresentationAncestors();
    Q_EMIT playbackController().updateUserInterfaceRequested();
}

void PMMainController::pauseMonitoringExternalViewer()
{
    _isMonitoredExternalViewerReadyToContinue = false;
    if (!_isMonitoringExternalViewer)
        return;
    _isMonitoringExternalViewer = false;
    if (_currentMovieRepresentation.isNull())
        invalidateCurrentOrMonitoredMovieRepresentationAncestors();
    platform::cancelPreviousPerformRequests(this, QStringLiteral("monitorExternalViewer"), Value());
    Q_EMIT playbackController().updateApplicationIconRequested();
}

void PMMainController::stopMonitoringExternalViewer()
{
    pauseMonitoringExternalViewer();
    ++_externalViewerWatchSerial;
    _externalViewerBundleIdentifier.clear();
    _externalViewerFilePath.clear();
    _externalViewerMovieRepresentation = Value();
    _externalViewerDurationsBySequencePath.reset();
}

void PMMainController::monitorExternalViewer()
{
    if (_externalViewerMovieRepresentation.isNull())
        return;
    const bool detect = settings().boolForKey(prefs::keys::ContinueMonitorExternalViewerDetectPreview);
    const QString pattern = settings().stringForKey(prefs::keys::ContinueMonitorExternalViewerDetectPreviewPattern);
    QString directory = settings().stringForKey(prefs::keys::ContinueMonitorExternalViewerDetectPreviewDirectory);
    if (directory.isEmpty())
        directory = QStringLiteral("~/Desktop");
    directory = platform::stringByExpandingTildeInPath(directory);
    const qint64 since = _externalViewerPreviewNewerThanMSecs;
    const QString desktopId = _externalViewerBundleIdentifier;
    const QString watched = _externalViewerFilePath;
    const auto queryOverride = _externalViewerStateOverride;
    const QString busName = _externalViewerBusName;
    const quint64 serial = _externalViewerWatchSerial;
    struct Answer {
        ExternalViewerState state;
        platform::ImagePtr image;
        qint64 imageMadeMSecs = 0;
    };
    auto* watcher = new QFutureWatcher<Answer>(this);
    QObject::connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, serial] {
        const Answer answer = watcher->result();
        watcher->deleteLater();
        // A late answer of an earlier watch says nothing about this one: it would stop it
        // or give this movie the other one's picture.
        if (serial != _externalViewerWatchSerial) {
            ++_externalViewerAnswerCount;
            return;
        }
        // The picture taken is not taken again by the next polls; only a newer one is.
        if (answer.image)
            _externalViewerPreviewNewerThanMSecs = std::max(_externalViewerPreviewNewerThanMSecs, answer.imageMadeMSecs + 1);
        applyExternalViewerState(answer.state, answer.image);
    });
    watcher->setFuture(QtConcurrent::run([=]() -> Answer {
        Answer answer;
        if (detect && !pattern.isEmpty())
            answer.image = PMPickUpExternalViewerPreview(directory, pattern, since, &answer.imageMadeMSecs);
        if (queryOverride) {
            answer.state = queryOverride();
            return answer;
        }
        const PMMprisState mpris = PMQueryMprisPlayer(busName, desktopId, watched);
        answer.state.answered = mpris.answered;
        answer.state.path = mpris.path;
        answer.state.position = mpris.position;
        answer.state.duration = mpris.duration;
        answer.state.isPlaying = mpris.isPlaying;
        return answer;
    }));
}

void PMMainController::applyExternalViewerState(const ExternalViewerState& state, const platform::ImagePtr& pickedUpPreview)
{
    ++_externalViewerAnswerCount;
    PMMovieRepresentationPrototype* record = PMMovie(_externalViewerMovieRepresentation);
    if (!record)
        return;
    if (pickedUpPreview)
        record->setPosterImage(pickedUpPreview);
    if (!state.answered) {
        stopMonitoringExternalViewer();
        return;
    }
    // A length that is not finite or below a second says nothing (a player that has not
    // read the file yet): the file still counts, but not its end.
    const bool known = !state.path.isEmpty() && std::isfinite(state.duration) && state.duration >= 1 && std::isfinite(state.position);
    bool ended = false, nearEnd = false;
    double delay = 5.0;
    if (known) {
        if (!state.isPlaying) {
            ended = state.position > state.duration - 2;
        } else {
            nearEnd = (state.duration - state.position) / state.duration < 0.1;
            delay = std::max(0.5, std::min(state.duration - state.position + 0.5, 5.0));
        }
    }
    const QString shown = state.path.isEmpty() ? QString() : canonical(state.path);

    // Durations of the parts (or the file), once all are known.
    if (_checkExternalViewerDuration && known) {
        if (_externalViewerDurationsBySequencePath) {
            if (!_externalViewerDurationsBySequencePath->contains(shown)) {
                _checkExternalViewerDuration = false;
            } else {
                if (_externalViewerDurationsBySequencePath->value(shown).toDouble() == 0)
                    _externalViewerDurationsBySequencePath->setValue(shown, Value(state.duration));
                double sum = 0;
                bool complete = true;
                for (const QString& key : _externalViewerDurationsBySequencePath->keys()) {
                    const double d = _externalViewerDurationsBySequencePath->value(key).toDouble();
                    complete = complete && d > 0;
                    sum += d;
                }
                if (complete && sum >= 1) {
                    _checkExternalViewerDuration = false;
                    if (record->duration() != std::llround(sum)) {
                        record->setDuration(std::llround(sum));
                        updateLibrary();
                    }
                }
            }
        } else {
            _checkExternalViewerDuration = false;
            if (shown == _externalViewerFilePath && record->duration() != std::llround(state.duration)) {
                record->setDuration(std::llround(state.duration));
                updateLibrary();
            }
        }
    }

    if (!_isMonitoringExternalViewer || !shouldMonitorExternalViewer()) {
        pauseMonitoringExternalViewer();
        return;
    }
    if (!ended && !shown.isEmpty() && shown == _externalViewerFilePath) {
        _isMonitoredExternalViewerReadyToContinue = nearEnd && continueFromExternalViewerAsPreflightCheck(true);
        _externalViewerNextPollDelay = delay;
        platform::performAfterDelay(this, QStringLiteral("monitorExternalViewer"), Value(), delay, [this] { monitorExternalViewer(); });
        Q_EMIT playbackController().updateApplicationIconRequested();
        return;
    }
    if (!_isMonitoredExternalViewerReadyToContinue && !ended) {
        stopMonitoringExternalViewer();
        return;
    }
    if (!shown.isEmpty() && shown != _externalViewerFilePath
        && !settings().boolForKey(prefs::prefixes::ContinueOnMismatch + _externalViewerBundleIdentifier)) {
        stopMonitoringExternalViewer();
        return;
    }
    if (!continueFromExternalViewerAsPreflightCheck(false))
        stopMonitoringExternalViewer();
}

bool PMMainController::continueFromExternalViewerAsPreflightCheck(bool check)
{
    const Value watched = _externalViewerMovieRepresentation;
    PMMovieRepresentationPrototype* record = PMMovie(watched);
    if (!record)
        return false;
    const QStringList parts = filePathsOf(*record);
    if (parts.size() >= 2) {
        qsizetype index = -1;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            if (canonical(parts.at(i)) == _externalViewerFilePath)
                index = i;
        if (index >= 0) {
            const QString next = parts.at(index + 1);
            QString application = record->applicationPath();
            if (application.isEmpty()) {
                platform::DesktopApplication entry;
                if (platform::getDefaultApplicationForFile(next, &entry))
                    application = entry.path;
            }
            if (!application.isEmpty()) {
                if (check)
                    return true;
                const DictionaryPtr durations = _externalViewerDurationsBySequencePath;
                const bool checking = _checkExternalViewerDuration;
                if (openURL(next, Value(), application, true, true)) {
                    // The next part belongs to the same item: keep following it.
                    _externalViewerMovieRepresentation = watched;
                    _externalViewerFilePath = canonical(next);
                    _externalViewerDurationsBySequencePath = durations;
                    _checkExternalViewerDuration = checking;
                    startMonitoringExternalViewer(false);
                    return true;
                }
            }
        }
    }
    const Value sibling = playableSiblingOfMovieRepresentation(watched, 1, nullptr);
    if (sibling.isNull())
        return false;
    if (check)
        return true;
    PMMovieRepresentationPrototype* next = PMMovie(sibling);
    const bool play = !(next && next->isConsideredStillImage()) || settings().boolForKey(prefs::keys::ContinueStartSlideshowAfterMovie);
    return chooseMovieRepresentation(sibling, false, true, play, true);
}

void PMMainController::continueFromExternalViewer()
{
    if (!continueFromExternalViewerAsPreflightCheck(false))
        stopMonitoringExternalViewer();
}
