// Becoming active and inactive. While the application is active the remote control
// listens; each time it becomes active the metadata tags read from files are refreshed
// and the library folders are searched for new files, so that what changed on disk while
// the user was elsewhere shows up.
#include "library/model/PMMainController.h"

#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtGui/QGuiApplication>

void PMMainController::setListeningToRemoteControl(bool listening)
{
    if (_isListeningToRemoteControl == listening)
        return;
    _isListeningToRemoteControl = listening;
    if (_remoteControlListeningHook)
        _remoteControlListeningHook(listening);
}

void PMMainController::applicationDidBecomeActive()
{
    if (!prefs::get(prefs::keys::DoNotListenToRemoteControl))
        setListeningToRemoteControl(true);
    // At start-up the window is painted first: the look at every file would compete with it.
    if (_awaitsFirstPaint) {
        _activationWorkAfterFirstPaint = true;
        return;
    }
    refreshFromDiskOnActivation();
}

void PMMainController::refreshFromDiskOnActivation()
{
    updateCachedFileMetadataTagsForMovieRepresentations(nullptr);
    autoDetectAndIncludeNonLibraryFiles();
}

void PMMainController::applicationDidResignActive()
{
    setListeningToRemoteControl(false);
    // The on-screen remote list and open chapter and button menus close, as on an update.
    closeInterfaceForLibraryUpdate();
}

void PMMainController::startObservingApplicationState()
{
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (_isObservingApplicationState || !application)
        return;
    _isObservingApplicationState = true;
    // Qt reports every state (active, inactive, hidden, suspended); only the passages
    // into and out of the active state count, each once.
    auto follow = [this](Qt::ApplicationState state) {
        const bool active = state == Qt::ApplicationActive;
        if (active == _isApplicationActive)
            return;
        _isApplicationActive = active;
        if (active)
            applicationDidBecomeActive();
        else
            applicationDidResignActive();
    };
    connect(application, &QGuiApplication::applicationStateChanged, this, follow);
    // Start-up may end with the application already active: no change would tell.
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        follow(Qt::ApplicationActive);
}
