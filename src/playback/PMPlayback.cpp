#include "playback/PMPlayback.h"

#include "library/model/PMMovieRepresentation.h"
#include "platform/media/Player.h"

#include <QtCore/QHash>

#include <algorithm>
#include <cmath>

void PMPlayerViewContent::setAnimatesMovieReplacingImage(bool animates)
{
    const bool value = animates && canAnimate();
    if (value != animatesMovieReplacingImage) {
        animatesMovieReplacingImage = value;
        setNeedsDisplay();
    }
}

void PMPlayerViewContent::setNeedsDisplay()
{
    ++redraws;
    if (needsDisplayHandler)
        needsDisplayHandler();
}

bool PMPlayerViewContent::canAnimate() const
{
    return movieReplacingImage && movieReplacingImage->associatedAnimationFrames.size() >= 2;
}

namespace {

// The movies by original record. Few records ever hold one (the current movie and what
// the windows show), and the entry goes with the record's movie.
struct RecordMovie {
    std::weak_ptr<PMMovieRepresentationOriginal> record;
    PMPlaybackMoviePtr movie;
};
QHash<const void*, RecordMovie>& recordMovies()
{
    static QHash<const void*, RecordMovie> movies;
    return movies;
}

} // namespace

PMPlaybackMoviePtr PMExistingMovieOfRecord(PMMovieRepresentationPrototype* record)
{
    if (!record)
        return nullptr;
    PMMovieRepresentationOriginal& original = record->original();
    auto it = recordMovies().find(&original);
    if (it == recordMovies().end())
        return nullptr;
    if (it->record.expired()) {
        recordMovies().erase(it);
        return nullptr;
    }
    return it->movie;
}

PMPlaybackMoviePtr PMMovieOfRecord(PMMovieRepresentationPrototype* record)
{
    if (!record)
        return nullptr;
    if (PMPlaybackMoviePtr existing = PMExistingMovieOfRecord(record))
        return existing;
    PMMovieRepresentationOriginal& original = record->original();
    auto movie = std::make_shared<class PMMovie>(original.movieRepresentationValues());
    recordMovies().insert(&original, {original.sharedOriginal(), movie});
    return movie;
}

void clearMovie(PMMovieRepresentationPrototype* record)
{
    if (record)
        recordMovies().remove(&record->original());
    // Entries of records that are gone go too.
    for (auto it = recordMovies().begin(); it != recordMovies().end();)
        it = it->record.expired() ? recordMovies().erase(it) : std::next(it);
}

std::optional<float> PMRateForPlayReverse(float r, const PMRateAbilities& a)
{
    if (r < -1.5f)
        return a.canPlayFastForward ? 2.0f : 1.0f;
    if (r < -0.5f)
        return 1.0f;
    if (r <= 1.5f)
        return a.canPlayReverse ? std::optional<float>(-1.0f) : std::nullopt;
    if (a.canPlayFastReverse)
        return -2.0f;
    return a.canPlayReverse ? std::optional<float>(-1.0f) : std::nullopt;
}

std::optional<float> PMRateForDoubleSpeed(float r, const PMRateAbilities& a)
{
    if (r < -1.5f)
        return a.canPlayReverse ? -1.0f : 0.0f;
    if (r < -0.5f)
        return a.canPlayFastReverse ? std::optional<float>(-2.0f) : std::nullopt;
    if (r <= 1.5f)
        return a.canPlayFastForward ? std::optional<float>(2.0f) : std::nullopt;
    return 1.0f;
}

float PMRateForWinding(bool forward, float r, const PMRateAbilities& a)
{
    if (!forward) {
        if (r > 1.5f)
            return 1.0f;
        if (r > -0.5f)
            return a.canPlayReverse ? -1.0f : a.canPlayFastReverse ? -2.0f : r;
        return a.canPlayFastReverse ? -2.0f : r;
    }
    if (r < -1.5f && a.canPlayReverse)
        return -1.0f;
    if (r < -0.5f)
        return 1.0f;
    return a.canPlayFastForward ? 2.0f : r;
}

double PMWindingStep(bool forward, double baseStep, const PMWindingRun& run, bool increaseConsecutiveSteps, double currentTime, double sliderMaximum)
{
    double step = baseStep;
    const bool sameWay = forward ? run.lastStep > 0.1 : run.lastStep < -0.1;
    if (run.inProgress && increaseConsecutiveSteps && run.secondsSinceLastStep < 2.0 && sameWay) {
        const double left = forward ? (sliderMaximum - currentTime) * 0.5 : currentTime * 0.5;
        step = std::max(baseStep, std::min(std::fabs(run.lastStep) * 1.5, left));
    }
    return forward ? step : -step;
}

bool PMShouldLoop(long long loopThreshold, double duration)
{
    return loopThreshold >= 1 && duration > 1.1920928955078125e-07 && duration < double(loopThreshold);
}
