// Start-up: what happens before launching finishes (single instance, default settings,
// migration, cached settings) and after (user scripts, the library, the main window, the
// first library update, the window shown). Steps of parts of the program that are not
// present yet are absent; each step that runs is reported to `_startUpStepObserver`.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMSearch.h"
#include "platform/Alert.h"
#include "platform/InterfaceFiles.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QEvent>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QTimer>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtWidgets/QWidget>

#include <utility>

namespace {
const QString kServiceName = QStringLiteral("com.tolvane.Pellis");
}

void PMMainController::applicationWillFinishLaunching()
{
    auto step = [this](const char* name) {
        if (_startUpStepObserver)
            _startUpStepObserver(QString::fromUtf8(name));
    };
    // An update framework that replaces the running program does not exist here: no
    // relaunch is ever due.
    step("relaunchAgainIfAppropriate");

    step("multipleInstanceCheck");
    const QString check = QProcessEnvironment::systemEnvironment().value(QStringLiteral("com.tolvane.MultipleApplicationInstanceCheck"));
    if (check.startsWith(QLatin1String("skip"))) {
        PMLog("skipping multiple instance check");
    } else {
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Without a session bus there is nothing to ask: this copy runs on its own.
        if (bus.isConnected() && bus.interface()) {
            // The commands are in place before the name is taken, so no request finds
            // the name without them.
            registerScriptingInterface();
            const auto reply = bus.interface()->registerService(kServiceName, QDBusConnectionInterface::DontQueueService,
                                                                QDBusConnectionInterface::DontAllowReplacement);
            if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
                // What this copy was asked to open goes to the copy that runs; only when
                // nothing went over is a second copy worth a word.
                const bool handedOver = !_openRequestsFromCommandLine.isEmpty() && handOpenRequestsToRunningInstance(_openRequestsFromCommandLine);
                if (!handedOver) {
                    PMLog("you really don't want multiple Pellis instances running at the same time");
                    platform::beep();
                }
                _shouldTerminateWithoutQuitSequence = true;
                return;
            }
        }
    }

    step("registerDefaults");
    registerDefaultSettings();
    step("migrateSettings");
    migrateSettings();
    step("cacheSettings");
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    PMCachedSettings::determineFuzzyOldestDate = defaults.boolForKey(prefs::keys::DetermineFuzzyOldestDate);
    PMCachedSettings::convertAnimatedImagesToMovies = defaults.boolForKey(prefs::keys::ConvertAnimatedImagesToMovies);
    // The records of the library about to load import these tags from their files.
    updateImportTagNames(true);
}

namespace {

// Calls the function once, at the turn of the event loop after the widget's first paint.
class FirstPaintWatcher : public QObject {
public:
    FirstPaintWatcher(QWidget* widget, std::function<void()> then) : QObject(widget), m_then(std::move(then)) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_then) {
            QTimer::singleShot(0, std::move(m_then));
            m_then = nullptr;
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_then;
};

void callAfterFirstPaint(QWidget* widget, std::function<void()> then)
{
    widget->installEventFilter(new FirstPaintWatcher(widget, std::move(then)));
}

} // namespace

void PMMainController::applicationDidFinishLaunching()
{
    auto step = [this](const char* name) {
        if (_startUpStepObserver)
            _startUpStepObserver(QString::fromUtf8(name));
    };
    step("Pre-Startup Scripts");
    runScriptsForTimeKey(QStringLiteral("Pre-Startup Scripts"));

    step("loadLibrary");
    // The files are tested once the window has been painted.
    _launchDefersExistenceTests = true;
    loadLibrary();
    _launchDefersExistenceTests = false;
    if (_shouldTerminateWithoutQuitSequence)
        return;
    installPlayback();

    step("MainWindow");
    const QSizeF playerSize = storedMainWindowSize();
    _mainWindow = platform::loadInterface(QStringLiteral("MainWindow"), this);
    if (!_mainWindow) {
        PMLog("cannot load <MainWindow.nib>");
        platform::beep();
        _shouldTerminateWithoutQuitSequence = true;
        return;
    }
    installViewOptions();

    // Mounts and unmounts from now on change the missing state of movies.
    startWatchingVolumes();
    step("updateLibrary");
    updateLibrary();
    step("setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem");
    setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem();

    restoreMainWindowSizeAfterFirstLayout(playerSize);
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (!defaults.boolForKey(prefs::keys::DoNotShowWindowOnStartup)) {
        step("showMainWindow");
        _mainWindow->show();
        _mainWindow->raise();
        _mainWindow->activateWindow();
    }
    if (defaults.boolForKey(prefs::keys::ShowRemoteControlInterfaceOnStartup)) {
        step("showRemoteInterface");
        showRemoteInterface();
    }

    step("Post-Startup Scripts");
    runScriptsForTimeKey(QStringLiteral("Post-Startup Scripts"));
    _didFinishLaunching = true;
    // What the first search needs is made on a worker while the user looks at the window:
    // once it has been painted, so that the worker takes nothing from the start itself.
    // Files that moved are looked for then too.
    if (_mainWindow->isVisible()) {
        _awaitsFirstPaint = true;
        callAfterFirstPaint(_mainWindow, [this] {
            _awaitsFirstPaint = false;
            searchForMissingFilesInBackground();
            PMPrepareSearchIndexInBackground();
            // The load left the first reads of the files' metadata to now, whether or
            // not the application became active meanwhile.
            if (std::exchange(_activationWorkAfterFirstPaint, false))
                refreshFromDiskOnActivation();
            else
                updateCachedFileMetadataTagsForMovieRepresentations(nullptr);
        });
    } else {
        searchForMissingFilesInBackground();
        PMPrepareSearchIndexInBackground();
        updateCachedFileMetadataTagsForMovieRepresentations(nullptr);
    }
    startObservingApplicationState();
}
