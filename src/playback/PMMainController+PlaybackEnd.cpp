// The end of playback: looping short movies, continuing with the next playable item of
// the group, or ending; and the playlist commands.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackController.h"

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

} // namespace

void PMMainController::moviePlayerDidStop()
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (player && PMShouldLoop(settings().integerForKey(prefs::keys::PlaybackEndLoopThreshold), durationValue(player.get()))) {
        player->seekToTime(0);
        player->play();
        return;
    }
    const std::int64_t closingPriority = settings().integerForKey(prefs::keys::PlaybackEndWindowClosingPriority);
    bool attempted = false;
    ArrayPtr ancestors;
    if (shouldContinueAfterMovieRepresentation(_currentMovieRepresentation)) {
        attempted = true;
        const Value next = playableSiblingOfMovieRepresentation(_currentMovieRepresentation, 1, &ancestors);
        if (!next.isNull()) {
            _nextMovieRepresentation = next;
            updateTimeDisplay(this);
            platform::performAfterDelay(this, QStringLiteral("chooseNextMovieRepresentation"), Value(), 0, [this] { chooseNextMovieRepresentation(); });
            return;
        }
    }
    if (_isPresenting && closingPriority >= 0) {
        pause();
        togglePresentation();
    } else {
        updateTimeDisplay(this);
    }
    PMLibraryContainer* group = attempted && ancestors && !ancestors->isEmpty() ? PMContainer(ancestors->at(0)) : nullptr;
    if (group) {
        const Value groupValue(group->sharedContainer());
        chooseNoMovie();
        if (playbackController().libraryListRowForItem(groupValue) >= 0)
            Q_EMIT playbackController().selectLibraryItemsRequested(Array::make({groupValue}));
    } else if (closingPriority >= 1) {
        chooseNoMovie();
    }
}

bool PMMainController::shouldContinueAfterMovieRepresentation(const Value& movie)
{
    if (!PMMovie(movie))
        return false;
    const ArrayPtr ancestors = ancestorsOfLibraryItem(movie);
    if (!ancestors || ancestors->isEmpty())
        return false;
    const bool general = !settings().boolForKey(prefs::keys::DoNotContinueWithNextGroupMovie);
    for (const Value& ancestor : *ancestors) {
        PMLibraryContainer* container = PMContainer(ancestor);
        if (!container)
            continue;
        if (container->isSmartGroupSubdivision())
            continue;
        if (container->isSmartGroup()) {
            const Value rule = container->value(QStringLiteral("Continue"));
            return rule.isBool() ? rule.toBool() : general;
        }
        return general;
    }
    return general;
}

void PMMainController::walkPlaylistWithSortedIndexDelta(qsizetype delta)
{
    const Value sibling = PMMovie(_currentMovieRepresentation) ? playableSiblingOfMovieRepresentation(_currentMovieRepresentation, delta, nullptr) : Value();
    if (sibling.isNull() || !chooseMovieRepresentation(sibling, false, false, isPlaying(), false))
        platform::beep();
}

void PMMainController::clearPlaylist()
{
    const PMLibraryContainerPtr playlist = temporaryStorage();
    const ArrayPtr children = playlist->rawChildren();
    if (children->isEmpty())
        return;
    const ArrayPtr items = Array::make();
    for (const Value& child : *children)
        items->append(child);
    // The items go whatever the answer below (it only decides about their files): the
    // player lets go of the current one first.
    chooseNoMovieIfMovieRepresentationsContainCurrent(items);
    // Through the one deletion path, as quitting does: files that were moved into the
    // library folder for these items go to the Trash only when the user agrees.
    deleteItems(items, nullptr, false, true, true);
}
