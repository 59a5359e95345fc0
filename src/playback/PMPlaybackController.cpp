#include "playback/PMPlaybackController.h"

#include "library/model/PMMainController.h"

PMPlaybackController::PMPlaybackController(QObject* parent) : QObject(parent) {}

PMPlaybackController::~PMPlaybackController() = default;

PMPlaybackController& PMMainController::playbackController()
{
    if (!_playbackController)
        _playbackController = new PMPlaybackController(this);
    return *_playbackController;
}

bool PMMainController::isRemoteInterfaceVisible() const
{
    return _playbackController && Q_EMIT _playbackController->remoteInterfaceIsVisible();
}
