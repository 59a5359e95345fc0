// The transport: play and pause, reverse and double speed, winding by steps, frames or
// rates, scrubbing, the volume with its mute state, and the time display that refreshes
// the controls while a movie plays and keeps the display awake.
#include "library/model/PMMainController.h"

#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/DelayedPerform.h"
#include "platform/DisplaySleep.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMPlayback.h"

#include <QtCore/QElapsedTimer>

#include <algorithm>
#include <cmath>

using platform::Value;
using platform::media::Player;
using platform::media::TimeControlStatus;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

const QString kChooseNext = QStringLiteral("chooseNextMovieRepresentation");

// The last winding step (signed seconds), whether the display was last asked to stay awake, and a steady
// clock for the runs of winding steps.
double gLastWindStep = 0;
bool gDisplayKeptAwake = false;

double steadySeconds()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return double(clock.nsecsElapsed()) / 1e9;
}

PMRateAbilities abilitiesOf(const Player& player)
{
    return {player.canPlayReverse(), player.canPlayFastReverse(), player.canPlayFastForward()};
}

} // namespace

bool PMMainController::isPlayingMovie()
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    return player && player->timeControlStatus() != TimeControlStatus::Paused;
}

bool PMMainController::isPlaying()
{
    return !_nextMovieRepresentation.isNull() || playerViewContent().animatesMovieReplacingImage || isPlayingMovie();
}

void PMMainController::play()
{
    PMPlayerViewContent& view = playerViewContent();
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (!view.moviePlayer && view.movieReplacingImage && record) {
        _nextMovieRepresentation = Value();
        platform::cancelPreviousPerformRequests(this, kChooseNext, Value());
        view.setAnimatesMovieReplacingImage(true);
        if (!view.animatesMovieReplacingImage) {
            // A slideshow: the next picture after this one's time.
            const Value next = playableSiblingOfMovieRepresentation(_currentMovieRepresentation, 1, nullptr);
            if (!next.isNull()) {
                _nextMovieRepresentation = next;
                const long long duration = record->durationIfCached(true);
                const double delay = duration >= 1 ? double(duration) : std::max(0.1, settings().doubleForKey(prefs::keys::SlideshowInterval));
                platform::performAfterDelay(this, kChooseNext, Value(), delay, [this] { chooseNextMovieRepresentation(); });
            }
        }
    } else if (const PMPlayerPtr player = view.moviePlayer) {
        if (_currentMovieIsPlayable && !isPlayingMovie()) {
            // Play at the end starts again.
            if (currentTimeValue(player.get()) > durationValue(player.get()) - 0.1)
                player->seekToTime(0);
            player->play();
        }
    }
    updateTimeDisplay(this);
}

void PMMainController::pause()
{
    PMPlayerViewContent& view = playerViewContent();
    view.setAnimatesMovieReplacingImage(false);
    _nextMovieRepresentation = Value();
    platform::cancelPreviousPerformRequests(this, kChooseNext, Value());
    if (isPlayingMovie())
        view.moviePlayer->pause();
    updateTimeDisplay(this);
}

void PMMainController::playMovieAtRate(float rate)
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (!player || std::fabs(rate - player->rate()) <= 0.1f)
        return;
    player->setRate(rate);
    updateTimeDisplay(this);
}

void PMMainController::playReverse()
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (!player)
        return;
    if (const std::optional<float> rate = PMRateForPlayReverse(player->rate(), abilitiesOf(*player)))
        playMovieAtRate(*rate);
}

void PMMainController::playAtDoubleSpeed()
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (!player)
        return;
    const std::optional<float> rate = PMRateForDoubleSpeed(player->rate(), abilitiesOf(*player));
    if (!rate)
        return;
    if (*rate == 0)
        pause();
    else
        playMovieAtRate(*rate);
}

// ---------------------------------------------------------------------------
// The time display

void PMMainController::updateTimeDisplay(QObject* sender)
{
    PMPlayerViewContent& view = playerViewContent();
    bool keepAwake = false;
    double interval = 0.5;
    if (view.moviePlayer || view.movieReplacingImage) {
        if (isPlaying()) {
            keepAwake = _currentMovieHasVideo;
            if (_playbackControlsAreVisible)
                interval = 0.1;
        }
    }
    if (!sender || !_timeDisplayIsScheduled) {
        _timeDisplayIsScheduled = true;
        platform::performAfterDelay(this, QStringLiteral("updateTimeDisplay"), Value(), interval, [this] { updateTimeDisplay(nullptr); });
    }

    // The slider follows the player; its text is redrawn only when it changes.
    if (const PMPlayerPtr player = view.moviePlayer) {
        timeSlider.currentTime = _playerCurrentTime = currentTimeValue(player.get());
        timeSlider.duration = durationValue(player.get());
    }
    const QString text = view.moviePlayer || timeSlider.duration > 0
        ? PMDurationString(std::floor(timeSlider.currentTime)) + QStringLiteral(" / ") + PMDurationString(std::floor(timeSlider.duration))
        : QString();
    if (text != _timeDisplayText) {
        _timeDisplayText = text;
        ++_timeDisplayRepaints;
    }
    if (_playerControlsDidChange)
        _playerControlsDidChange();

    // Asked at every tick: the request itself goes out only when nothing is held or waiting,
    // never blocks, and after a failure waits for its back-off.
    platform::setKeepsDisplayAwake(keepAwake, QStringLiteral("Movie Playback"));
    if (keepAwake != gDisplayKeptAwake && settings().boolForKey(prefs::keys::PMDebugLog))
        PMLog(keepAwake ? "[Debug] enabled display sleep prevention" : "[Debug] disabled display sleep prevention");
    gDisplayKeptAwake = keepAwake;
}

void PMMainController::setTimeSliderCurrentTimeValue(double seconds)
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    const double maximum = player ? durationValue(player.get()) : timeSlider.duration;
    timeSlider.currentTime = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, std::max(0.0, maximum));
    if (player) {
        setCurrentTimeValue(*player, timeSlider.currentTime);
        _playerCurrentTime = timeSlider.currentTime;
    }
}

void PMMainController::timeSlide(double seconds, bool mouseUp)
{
    if (!playerViewContent().moviePlayer || mouseUp)
        return;
    setTimeSliderCurrentTimeValue(seconds);
}

// ---------------------------------------------------------------------------
// Volume

float PMMainController::volume()
{
    const Value stored = settings().objectForKey(prefs::keys::Volume);
    return stored.hasNumericValue() ? float(std::clamp(stored.toDouble(), 0.0, 1.0)) : 1.0f;
}

void PMMainController::setVolume(float volume, bool adjustSlider, bool adjustPreference)
{
    if (volume < 0.01f)
        volume = 0;
    volume = std::min(volume, 1.0f);
    if (const PMPlayerPtr player = playerViewContent().moviePlayer)
        player->setVolume(volume);
    if (adjustSlider)
        volumeSlider.value = volume;
    if (adjustPreference)
        settings().setObject(Value(double(volume)), prefs::keys::Volume);
    muteMenuItem.state = volume < 0.01f;
    volumeSliderMuteView.imageName = muteMenuItem.state ? QStringLiteral("PMVolumeOff") : QStringLiteral("PMVolumeDown");
    if (_playerControlsDidChange)
        _playerControlsDidChange();
    showPlaybackControlsByFadingIn(false);
}

void PMMainController::changeVolume(float sliderValue)
{
    volumeSlider.value = sliderValue;
    setVolume(sliderValue, false, true);
}

void PMMainController::increaseVolume()
{
    setVolume(float(std::min(1.0, volumeSlider.value + 0.1)), true, true);
}

void PMMainController::decreaseVolume()
{
    setVolume(float(std::max(0.0, volumeSlider.value - 0.1)), true, true);
}

void PMMainController::mute()
{
    if (volumeSlider.value < 0.01) {
        float stored = volume();
        const bool store = stored < 0.01f;
        if (store)
            stored = 0.1f;
        setVolume(stored, true, store);
    } else {
        setVolume(0, true, false);
    }
}

// ---------------------------------------------------------------------------
// Winding

std::int64_t PMMainController::stepInterval()
{
    const std::int64_t interval = settings().integerForKey(prefs::keys::StepInterval);
    return interval < 1 ? 10 : interval;
}

void PMMainController::windForward(bool forward, bool bySingleFrame, bool orAdjustRate)
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (!player)
        return;
    showPlaybackControlsByFadingIn(false);
    if (orAdjustRate) {
        const float r = player->rate();
        const float rate = PMRateForWinding(forward, r, abilitiesOf(*player));
        if (std::fabs(rate - r) <= 0.1f)
            return;
        player->setRate(rate);
        updateTimeDisplay(this);
        return;
    }
    const double current = currentTimeValue(player.get());
    double step = 0;
    if (bySingleFrame) {
        const PMPlaybackMoviePtr movieObject = PMExistingMovieOfRecord(PMMovie(_currentMovieRepresentation));
        step = movieObject ? 1.0 / movieObject->frameRate() : 1.0;
        step = forward ? step : -step;
        _lastWindDate.reset();
    } else {
        const double now = steadySeconds();
        PMWindingRun run;
        run.inProgress = _lastWindDate.has_value();
        run.secondsSinceLastStep = _lastWindDate ? now - *_lastWindDate : 0;
        run.lastStep = gLastWindStep;
        step = PMWindingStep(forward, double(stepInterval()), run, settings().boolForKey(prefs::keys::IncreaseConsecutiveSteps), current,
                             durationValue(player.get()));
        _lastWindDate = now;
        gLastWindStep = step;
    }
    setTimeSliderCurrentTimeValue(current + step);
    updateTimeDisplay(this);
}
