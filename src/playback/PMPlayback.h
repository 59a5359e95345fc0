// The program's side of playback: what the movie view shows, the movie object that each
// record plays through, and the rules of the transport (rates, winding steps, looping),
// kept as plain functions so that the controller and its tests share them.
#pragma once

#include "library/model/PMMovie.h"

#include "platform/Image.h"

#include <functional>
#include <optional>

class PMMovieRepresentationPrototype;

// What the one movie view shows: the player of the current movie, or a still image (which
// may animate), turned and mirrored as the record says. The view draws from here.
struct PMPlayerViewContent {
    PMPlayerPtr moviePlayer;
    platform::ImagePtr movieReplacingImage;
    bool animatesMovieReplacingImage = false;
    bool flipsHorizontally = false;
    int angle = 0;
    // Whether the shown image is the quick first rendering that the full one replaces.
    bool showsQuickImage = false;
    // The part of the picture shown and its aspect ratio (height / width), from the
    // record's settings.
    platform::DictionaryPtr visibleArea;
    std::optional<double> aspectRatio;
    // How often the view was asked to redraw itself; the view, once there, is told.
    int redraws = 0;
    std::function<void()> needsDisplayHandler;
    void setNeedsDisplay();
    // Starts or stops animating the image; only an image with frames animates.
    void setAnimatesMovieReplacingImage(bool animates);
    bool canAnimate() const;
};

// The record's visible area and aspect ratio put into what the view shows.
void PMSetPlayerViewPictureSettings(PMPlayerViewContent& view, PMMovieRepresentationPrototype& record);

// The movie of a record (made on first request, shared by the record's proxies), and
// letting go of it (its player stops with it).
PMPlaybackMoviePtr PMMovieOfRecord(PMMovieRepresentationPrototype* record);
PMPlaybackMoviePtr PMExistingMovieOfRecord(PMMovieRepresentationPrototype* record);
void clearMovie(PMMovieRepresentationPrototype* record);

// ---- Rates. What a player can do besides playing forward at normal speed.
struct PMRateAbilities {
    bool canPlayReverse = false;
    bool canPlayFastReverse = false;
    bool canPlayFastForward = false;
};
// The rate that "play reverse" and "double speed" go to from the rate r; nothing when the
// command does nothing. A rate of 0 from "double speed" means pausing.
std::optional<float> PMRateForPlayReverse(float r, const PMRateAbilities& abilities);
std::optional<float> PMRateForDoubleSpeed(float r, const PMRateAbilities& abilities);
// The rate that winding by changing the rate goes to (r itself when nothing changes).
float PMRateForWinding(bool forward, float r, const PMRateAbilities& abilities);

// ---- Winding. The size of the next step of a run (signed: backward is negative).
struct PMWindingRun {
    bool inProgress = false;       // a step was taken before in this run
    double secondsSinceLastStep = 0;
    double lastStep = 0;           // signed
};
double PMWindingStep(bool forward, double baseStep, const PMWindingRun& run, bool increaseConsecutiveSteps, double currentTime, double sliderMaximum);

// ---- The end of playback: whether a movie of the duration loops with the threshold.
bool PMShouldLoop(long long loopThreshold, double duration);

// What the alert says when a file cannot be played: gone, unreadable, or damaged (or no
// movie at all), in the program's words.
QString PMPlaybackFailureExplanation(const QString& path);
