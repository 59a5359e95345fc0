// The controller made ready for playback tests (null audio, fresh settings, the player's
// hooks installed) and let go again afterwards.
#pragma once

#include "library/model/PMMainController.h"
#include "platform/DelayedPerform.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"

namespace testsupport {

inline void preparePlaybackController()
{
    platform::media::Player::setDefaultAudioOutput(QStringLiteral("null"));
    for (const QString& key : platform::UserDefaults::standard().persistentDomain()->keys())
        platform::UserDefaults::standard().removeObjectForKey(key);
    PMMainController& c = mainController();
    c.resetPlaybackForTesting();
    c.installPlayback();
    c._selectedLibraryItems = platform::Array::make();
}

inline void releasePlaybackController()
{
    PMMainController& c = mainController();
    c.resetPlaybackForTesting();
    platform::cancelPreviousPerformRequests(&c);
    c._chooseMovieRepresentationHandler = nullptr;
    c._updatePlaybackControls = nullptr;
    c._saveCurrentPlaybackPositionHook = nullptr;
    c._selectedLibraryItems = platform::Array::make();
}

} // namespace testsupport
