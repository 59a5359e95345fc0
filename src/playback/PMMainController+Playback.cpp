// Choosing and playing the current movie: whether an item opens elsewhere or in the own
// player, still images, waiting for the player to be ready, the playback position, the
// play counter and the last-watched list; and letting the current movie go again.
#include "library/model/PMMainController.h"

#include "foundation/PMLog.h"
#include "images/NSImage+PMTransform.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Applications.h"
#include "platform/DelayedPerform.h"
#include "platform/ImageReading.h"
#include "platform/RegularFile.h"
#include "platform/Format.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackController.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QFutureWatcher>
#include <QtCore/QProcess>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;
using platform::media::Player;
using platform::media::PlayerItemStatus;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

// The record counted last in this process: choosing it again does not count again.
std::weak_ptr<PMMovieRepresentationOriginal>& lastCountedRecord()
{
    static std::weak_ptr<PMMovieRepresentationOriginal> record;
    return record;
}

PMMovieRepresentationPrototype* nonProxyRecord(const Value& movie)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    return record ? &record->original() : nullptr;
}

// The visible area and aspect ratio that the record's settings ask for.
} // namespace

void PMSetPlayerViewPictureSettings(PMPlayerViewContent& view, PMMovieRepresentationPrototype& record)
{
    const platform::DictionaryPtr userSettings = record.userSettings();
    view.visibleArea = userSettings ? userSettings->value(QStringLiteral("Visible Area")).dictionary() : nullptr;
    const Value ratio = userSettings ? userSettings->value(QStringLiteral("Aspect Ratio")) : Value();
    view.aspectRatio.reset();
    if (ratio.isNumber() && std::isfinite(ratio.toDouble()) && ratio.toDouble() > 0)
        view.aspectRatio = ratio.toDouble();
}

PMPlayerViewContent& PMMainController::playerViewContent()
{
    if (!_playerViewContent)
        _playerViewContent = std::make_shared<PMPlayerViewContent>();
    return *_playerViewContent;
}

void PMMainController::installPlayback()
{
    _chooseMovieRepresentationHandler = [this](const Value& movie, bool withDefaultApplication, bool changeSelection, bool startPlaying, bool byContinuing) {
        return choosePlaybackMovieRepresentation(movie, withDefaultApplication, changeSelection, startPlaying, byContinuing);
    };
    _updatePlaybackControls = [this] { updateTimeDisplay(this); };
    PMMovieRepresentationServices::shared().viewerRules = [this] { return viewerRules(); };
    if (!_remoteControl)
        installRemoteControl();
    _saveCurrentPlaybackPositionHook = [this] { saveCurrentPlaybackPosition(); };
    volumeSlider.value = volume();
    PMSetConvertsAnimatedImagesToMovies(settings().boolForKey(prefs::keys::ConvertAnimatedImagesToMovies));
    PMSetAssetValuesHandler([this](qint64 seconds, const QString& size, const QString& uniqueLibraryID) { updateDuration(seconds, size, uniqueLibraryID); });
}

void PMMainController::togglePresentation()
{
    if (!_currentMovieHasVideo && !_isPresenting) {
        QApplication::beep();
        updateWindowTitles();
        Q_EMIT playbackController().updateStatusFieldsRequested();
        return;
    }
    _isPresenting = !_isPresenting;
    const bool wasPlaying = isPlaying();
    if (wasPlaying)
        pause();
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const bool still = record && record->isConsideredStillImage();
    if (_presentationDidChange)
        _presentationDidChange(_isPresenting);
    bool shouldPlay = false;
    // An image opened straight into presentation is done with when the presentation ends.
    bool closeImage = false;
    if (_isPresenting)
        shouldPlay = !still && (wasPlaying || !settings().boolForKey(prefs::keys::DoNotPlayOnPresent));
    else if (still && settings().boolForKey(prefs::keys::OpenImagesInPresentationMode))
        closeImage = true;
    else
        shouldPlay = wasPlaying && !settings().boolForKey(prefs::keys::PauseOnWindow);
    // The scale menu names the scale shown now: none is ticked while presenting.
    selectCurrentMagnificationMenuItem();
    if (closeImage) {
        if (!_currentMovieRepresentation.isNull())
            chooseNoMovie();
        else
            Q_EMIT playbackController().updateUserInterfaceRequested();
        return;
    }
    if (shouldPlay)
        play();
}

void PMMainController::showPlaybackControlsByFadingIn(bool fadeIn)
{
    _playbackControlsAreVisible = true;
    if (_showPlaybackControlsHook)
        _showPlaybackControlsHook(fadeIn);
}

// ---------------------------------------------------------------------------
// Choosing

bool PMMainController::choosePlaybackMovieRepresentation(const Value& movie, bool withDefaultApplication, bool changeSelection, bool startPlaying,
                                                         bool byContinuing)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record || record->isOnlineItem() || record->URL().isEmpty())
        return false;
    _startPresentingWhenReady = false;
    _lastWindDate.reset();
    // Continuing from an external viewer in front brings the program back; the viewer's
    // watch comes with the external viewers.
    _currentMovieShouldActivateApplication = false;
    _isMonitoringExternalViewer = false;
    pause();

    // Where the item stands in the library.
    Value item = movie;
    ArrayPtr ancestors;
    ArrayPtr siblings = siblingsOfLibraryItem(item, _library, nullptr, nullptr, &ancestors);
    if (!siblings && record->proxyOriginal()) {
        Value resolved;
        for (const Value& selected : *_selectedLibraryItems)
            if (PMLibraryContainer* container = PMContainer(selected))
                if ((resolved = container->childWithUniqueLibraryID(record->uniqueLibraryID())), !resolved.isNull())
                    break;
        item = resolved.isNull() ? Value(record->proxyOriginal()) : resolved;
        siblings = siblingsOfLibraryItem(item, _library, nullptr, nullptr, &ancestors);
    }
    record = PMMovie(item);
    const bool inLibrary = siblings != nullptr;
    const PMLibraryContainerPtr parent = inLibrary && ancestors && !ancestors->isEmpty() && PMContainer(ancestors->at(0))
        ? PMContainer(ancestors->at(0))->sharedContainer() : nullptr;

    // Another application.
    if (withDefaultApplication) {
        const bool opened = openWithDefaultApplication(item, true, startPlaying);
        if (opened) {
            addLastWatchedMovieRepresentation(item, parent);
            incrementCounterForMovieRepresentation(item, true);
        }
        updateButtons();
        return opened;
    }
    const QString applicationPath = record->applicationPath();
    if (!applicationPath.isEmpty()) {
        if (openURL(record->path(), item, applicationPath, false, startPlaying)) {
            addLastWatchedMovieRepresentation(item, parent);
            incrementCounterForMovieRepresentation(item, true);
            updateButtons();
            return true;
        }
        // The user's choice stays; openURL said in the log why it failed.
        PMLog("cannot open <%@> with <%@>, will try opening it in Pellis", record->path(), applicationPath);
    }

    // The own player, or a still image. An animation that is still being converted into a
    // movie shows as an image until the movie is ready, then plays as the movie.
    const bool withoutFrames = record->movieRepresentationValues().frameImageMovieRepresentations.empty();
    // Whether an animated image file plays as a converted movie: by its measured duration,
    // else (not measured yet: the records answer from the name) by its header, which is
    // read without decoding a frame.
    const bool convertsAnimation = withoutFrames && PMConvertsAnimatedImagesToMovies() && PMIsAnimatedImageURL(record->URL())
        && (record->durationIfCached(true) >= 0 ? !record->isConsideredStillImage()
                                                : platform::AnimatedImageSource::isAnimatedImageFile(record->path()));
    const bool awaitsConversion = convertsAnimation && !PMAutoConvertedAssetIsAvailable(record->uniqueLibraryID());
    if (awaitsConversion)
        convertAnimatedImageInBackground(item);
    const bool isStillImage = awaitsConversion || (withoutFrames && !convertsAnimation && record->isConsideredStillImage());
    PMPlayerPtr player;
    if (!isStillImage) {
        const PMPlaybackMoviePtr movieObject = PMMovieOfRecord(record);
        player = movieObject ? movieObject->player() : nullptr;
        if (!player) {
            if (settings().boolForKey(prefs::keys::FallBackToDefaultApplication))
                return choosePlaybackMovieRepresentation(item, true, false, startPlaying, byContinuing);
            return false;
        }
    }

    // The new current movie.
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    const bool changed = !current || nonProxyRecord(_currentMovieRepresentation) != nonProxyRecord(item);
    if (item.objectPointer() != _currentMovieRepresentation.objectPointer()) {
        if (changed && current) {
            saveCurrentPlaybackPosition();
            // The new movie's player may be the same object when only the proxy differs.
            clearMovie(current);
            if (!isStillImage)
                player = PMMovieOfRecord(record)->player();
            if (parent && parent->topLevelRole().isEmpty() && !settings().boolForKey(prefs::keys::KeepSelectionWhenCurrentMovieParentChanges)) {
                // The grid shows the children of the selected container.
                bool newShown = false, oldShown = false;
                for (const Value& selected : *_selectedLibraryItems)
                    if (PMLibraryContainer* container = PMContainer(selected)) {
                        const ArrayPtr children = container->sortedChildren();
                        newShown = newShown || (children && children->indexOfIdentical(item.objectPointer()) >= 0);
                        oldShown = oldShown || (children && children->indexOfIdentical(_currentMovieRepresentation.objectPointer()) >= 0);
                    }
                if (!newShown && oldShown)
                    Q_EMIT playbackController().selectLibraryItemRequested(Value(parent));
            }
        }
        _currentMovieRepresentation = item;
    }
    updateEditingControlsForCurrentMovie(changed);

    clearMoviePlayer();
    PMPlayerViewContent& view = playerViewContent();
    view.setNeedsDisplay();
    if (!isStillImage) {
        _currentMovieIsContinuing = byContinuing;
        _currentMovieIsPlayable = player->status() == PlayerItemStatus::ReadyToPlay;
        _currentMovieShouldAutoplay = startPlaying;
        view.flipsHorizontally = record->isFlippedHorizontally();
        view.angle = record->angle();
        PMSetPlayerViewPictureSettings(view, *record);
        view.moviePlayer = player;
        QObject::connect(player.get(), &Player::statusChanged, this, [this, p = player.get()] {
            if (playerViewContent().moviePlayer.get() == p)
                playerItemStatusDidChange();
        }, Qt::QueuedConnection);
        QObject::connect(player.get(), &Player::didPlayToEnd, this, [this, p = player.get()] {
            if (playerViewContent().moviePlayer.get() == p)
                moviePlayerDidStop();
        }, Qt::QueuedConnection);
        QObject::connect(player.get(), &Player::timeChanged, this, [this, p = player.get()](double seconds) {
            if (playerViewContent().moviePlayer.get() == p) {
                _playerCurrentTime = seconds;
                timeSlider.currentTime = seconds;
            }
        });
        _playerViewHasMoviePlayer = true;
    } else {
        _currentMovieIsContinuing = byContinuing;
        _currentMovieIsPlayable = true;
        _currentMovieShouldAutoplay = startPlaying && (record->durationIfCached(true) > 0 || byContinuing || awaitsConversion);
        showMovieReplacingImage();
    }

    if (inLibrary) {
        invalidateCurrentOrMonitoredMovieRepresentationAncestors();
        if (changed && playerView && playerView->window() != _mainWindow.data())
            incrementCounterForMovieRepresentation(item, true);
    } else {
        // The playlist: what is played from outside the library.
        temporaryStorage()->rawChildren()->append(item);
        if (changed)
            incrementCounterForMovieRepresentation(item, false);
        updateLibraryAndInvalidateDependencies(true, false, true);
    }
    if (changeSelection && _selectedLibraryItems->indexOfIdentical(item.objectPointer()) < 0)
        Q_EMIT playbackController().selectLibraryItemRequested(item);

    Q_EMIT playbackController().updateUserInterfaceRequested();
    _currentMovieHasAudio = _currentMovieHasVideo = false;
    if (_currentMovieIsPlayable)
        enableCurrentMoviePlaybackAndRestorePlaybackPosition(changed);
    if (changed && inLibrary) {
        if (!playerView || playerView->window() == _mainWindow.data())
            incrementCounterForMovieRepresentation(item, true);
        addLastWatchedMovieRepresentation(item, parent);
    }
    if (_currentMovieIsPlayable && _currentMovieShouldAutoplay)
        play();
    updateButtons();
    return true;
}

void PMMainController::convertAnimatedImageInBackground(const Value& movie)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record)
        return;
    const QString key = record->uniqueLibraryID();
    static QSet<QString> converting;
    if (converting.contains(key))
        return;
    converting.insert(key);
    const QUrl url = record->URL();
    auto* watcher = new QFutureWatcher<void>(this);
    QObject::connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, key, movie] {
        watcher->deleteLater();
        converting.remove(key);
        // Still showing the animation as an image: it plays as the movie from now on.
        PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
        PMPlayerViewContent& view = playerViewContent();
        if (current && nonProxyRecord(_currentMovieRepresentation) == nonProxyRecord(movie) && !view.moviePlayer)
            choosePlaybackMovieRepresentation(_currentMovieRepresentation, false, false, isPlaying(), _currentMovieIsContinuing);
    });
    watcher->setFuture(QtConcurrent::run([url, key] { PMMovie::assetWithURL(url, key, {}, platform::media::AssetOptions{}); }));
}

void PMMainController::playerItemStatusDidChange()
{
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (_currentMovieIsPlayable || !player || _currentMovieRepresentation.isNull())
        return;
    if (player->status() == PlayerItemStatus::ReadyToPlay) {
        _currentMovieIsPlayable = true;
        enableCurrentMoviePlaybackAndRestorePlaybackPosition(true);
        if (_currentMovieShouldAutoplay)
            play();
        updateButtons();
    } else if (player->status() == PlayerItemStatus::Failed) {
        const Value item = _currentMovieRepresentation;
        const bool autoplay = _currentMovieShouldAutoplay;
        const QString error = player->error();
        // A file that did not open in time may sit on a disk or server that no longer
        // answers: nothing here touches it again (no other application, no look at it),
        // or the window would hang on it.
        const bool unanswered = player->didTimeOut();
        PMMovieRepresentationPrototype* record = PMMovie(item);
        PMLog("cannot play <%@>: %@", record ? record->path() : QString(), error);
        chooseNoMovie();
        if (!unanswered && settings().boolForKey(prefs::keys::FallBackToDefaultApplication) && openWithDefaultApplication(item, true, autoplay))
            return;
        // Nothing else will show it: say so, once, in words of this program (the media
        // layer's own text went to the log).
        platform::Alert alert;
        alert.messageText = platform::format("“%@” cannot be played.", record ? record->displayName() : QString());
        alert.informativeText = unanswered
            ? QCoreApplication::translate("PMMainController", "The file did not open in time: the disk or server that holds it may not be answering.")
            : PMPlaybackFailureExplanation(record ? record->path() : QString());
        platform::runAlert(alert);
    }
}

QString PMPlaybackFailureExplanation(const QString& path)
{
    const QFileInfo file(path);
    if (!path.isEmpty() && !file.exists())
        return QCoreApplication::translate("PMMainController", "The file is no longer there.");
    if (!path.isEmpty() && !file.isReadable())
        return QCoreApplication::translate("PMMainController", "The file cannot be read: you have no permission to open it.");
    return QCoreApplication::translate("PMMainController", "The file is damaged or is not a movie.");
}

void PMMainController::enableCurrentMoviePlaybackAndRestorePlaybackPosition(bool movieChanged)
{
    PMPlayerViewContent& view = playerViewContent();
    view.setNeedsDisplay();
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (!record)
        return;
    long long duration = 0;
    if (const PMPlayerPtr player = view.moviePlayer) {
        _currentMovieHasAudio = player->hasAudio();
        _currentMovieHasVideo = player->hasVideo();
        const platform::DictionaryPtr userSettings = record->userSettings();
        if (_currentMovieHasVideo) {
            if (const PMPlaybackMoviePtr movieObject = PMExistingMovieOfRecord(record)) {
                movieObject->invalidateNaturalSizeWithCustomVisibleArea(userSettings->value(QStringLiteral("Visible Area")).dictionary());
                const Value ratio = userSettings->value(QStringLiteral("Aspect Ratio"));
                if (ratio.isNumber())
                    movieObject->setAspectRatio(ratio.toDouble());
            }
        }
        duration = PMAssetDurationSeconds(player->currentAsset());
        timeSlider.duration = player->currentAsset() ? player->currentAsset()->duration().seconds() : 0;
        if (movieChanged || userSettings->value(QStringLiteral("Last Playback: Resume Regardless Once")).toBool()) {
            const double position = record->restorePlaybackPosition(duration);
            if (position > 0) {
                setCurrentTimeValue(*player, position);
                timeSlider.currentTime = _playerCurrentTime = position;
            }
        }
    } else {
        _currentMovieHasAudio = false;
        _currentMovieHasVideo = true;
        duration = view.movieReplacingImage ? PMRoundedSeconds(view.movieReplacingImage->associatedAnimationDuration) : 0;
    }
    if (duration > 0 && duration != record->durationIfCached(true))
        record->setDuration(duration);

    if (!_currentMovieHasVideo) {
        if (_isPresenting)
            togglePresentation();
        if (!_currentMovieHasAudio)
            return;
    } else if (!_isPresenting) {
        // Images open in presentation when the setting says so; Alt while choosing
        // reverses the setting for that one.
        const bool openImagesPresenting = settings().boolForKey(prefs::keys::OpenImagesInPresentationMode);
        const bool altHeld = keyboardModifiers() & Qt::AltModifier;
        if (_startPresentingWhenReady || (duration <= 0 && openImagesPresenting != altHeld))
            togglePresentation();
    }
    if (_currentMovieHasVideo)
        updatePlayerWindowFrameAfterForcingPresentation(false);
    if (QWidget* window = playerWindow(); window && window == _dedicatedPlayerWindow.data() && !window->isVisible())
        centerOnce(window);
    Q_EMIT playbackController().showPlayerWindowIfNotVisibleRequested(_currentMovieIsContinuing);
    updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
    if (view.moviePlayer)
        showPlaybackControlsByFadingIn(true);
    if (view.moviePlayer)
        view.moviePlayer->setVolume(float(volumeSlider.value));
}

void PMMainController::showMovieReplacingImage()
{
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (!record)
        return;
    PMPlayerViewContent& view = playerViewContent();
    view.flipsHorizontally = record->isFlippedHorizontally();
    view.angle = record->angle();
    PMSetPlayerViewPictureSettings(view, *record);
    const QString path = record->path();
    // A quick small rendering first; the full picture follows from the background.
    // Anything but a regular file (a pipe would block the reader) reads as no picture.
    const bool readable = platform::checkRegularFile(path);
    platform::ImageReadOptions quickOptions;
    quickOptions.autoTransform = true;
    quickOptions.fitInto = QSize(200, 200);
    QSize size;
    platform::ImagePtr quick = platform::Image::make(readable ? platform::readImageFile(path, quickOptions, nullptr, &size) : QImage());
    quick->associatedSourcePath = path;
    quick->associatedNaturalSize = QSizeF(size);
    view.movieReplacingImage = quick;
    view.showsQuickImage = true;
    view.setNeedsDisplay();
    // An animation shown as an image carries its frames, so that it can animate: they are
    // decoded with the full picture, in the background and within the cap of converted
    // frames (reduced when the file's own size would take more).
    const bool mayAnimate = PMIsAnimatedImageURL(record->URL());
    auto* watcher = new QFutureWatcher<platform::ImagePtr>(this);
    QObject::connect(watcher, &QFutureWatcher<platform::ImagePtr>::finished, this, [this, watcher, quick] {
        watcher->deleteLater();
        PMPlayerViewContent& v = playerViewContent();
        // Only the quick picture of this choice gives way; a newer choice keeps its own.
        if (v.movieReplacingImage != quick)
            return;
        const platform::ImagePtr image = watcher->result();
        if (!image)
            return;
        image->associatedSourcePath = quick->associatedSourcePath;
        // Playing, or chosen to play: the frames, now here, animate.
        const bool playing = isPlaying() || _currentMovieShouldAutoplay;
        v.movieReplacingImage = image;
        v.showsQuickImage = false;
        v.setNeedsDisplay();
        if (playing && image->associatedAnimationFrames.size() >= 2) {
            play();
            updateButtons();
        }
    });
    watcher->setFuture(QtConcurrent::run([path = readable ? path : QString(), mayAnimate, naturalSize = size]() -> platform::ImagePtr {
        if (path.isEmpty())
            return nullptr;
        if (mayAnimate && platform::AnimatedImageSource::isAnimatedImageFile(path)) {
            const platform::AnimatedImageSourcePtr source = platform::AnimatedImageSource::open(path, nullptr, kPMMaximumAnimationFrameBytes);
            if (source && source->count() >= 2) {
                std::vector<platform::AnimationFrameRecord> frames;
                double total = 0;
                for (int i = 0; i < source->count(); ++i) {
                    frames.push_back({source->imageAtIndex(i), source->frameDelay(i)});
                    total += source->frameDelay(i);
                }
                platform::ImagePtr image = platform::Image::imageWithAnimationFrames(frames);
                image->associatedAnimationFrames = std::move(frames);
                image->associatedAnimationDuration = total;
                image->associatedNaturalSize = QSizeF(naturalSize);
                return image;
            }
        }
        platform::ImageReadOptions options;
        options.autoTransform = true;
        const QImage full = platform::readImageFile(path, options);
        if (full.isNull())
            return nullptr;
        platform::ImagePtr image = platform::Image::make(full);
        image->associatedNaturalSize = QSizeF(full.size());
        return image;
    }));
}

// ---------------------------------------------------------------------------
// The play counter, durations

void PMMainController::incrementCounterForMovieRepresentation(const Value& movie, bool updateCounterDisplay)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record)
        return;
    PMMovieRepresentationOriginal& original = record->original();
    if (lastCountedRecord().lock().get() == &original)
        return;
    original.incrementCounter();
    lastCountedRecord() = original.sharedOriginal();
    if (!updateCounterDisplay)
        return;
    // The containers that the counter changes: those that the update filled, divided or
    // sorted by playback. The table of containers is the one the last update built.
    const auto flag = [](const PMLibraryContainerPtr& c, const char* key) { return c->value(QString::fromLatin1(key)).toBool(); };
    for (const PMLibraryContainerPtr& container : std::as_const(_containersByID)) {
        if (!container)
            continue;
        if (flag(container, "Did Populate Based On Playback") || flag(container, "Did Subdivide Based On Playback")) {
            updateLibrary();
            return;
        }
    }
    for (const PMLibraryContainerPtr& container : std::as_const(_containersByID)) {
        if (!container || !flag(container, "Did Sort Based On Playback"))
            continue;
        const ArrayPtr children = container->rawChildren();
        bool holds = false;
        for (const Value& child : *children)
            holds = holds || nonProxyRecord(child) == &original;
        if (!holds)
            continue;
        if (playbackController().outlineViewShowMovieChildrenOfContainer(container)) {
            updateLibrary();
            return;
        }
        container->invalidateChildrenRecursively(false);
    }
    Q_EMIT playbackController().freezeSelectionsRequested();
    Q_EMIT playbackController().updateUserInterfaceRequested();
    Q_EMIT playbackController().unfreezeSelectionsRequested();
}

void PMMainController::updateDuration(qint64 seconds, const QString& assetSizeDescription, const QString& uniqueLibraryID)
{
    const PMMovieRepresentationOriginalPtr record = _nonProxyRawMovieRepresentationsByID.value(uniqueLibraryID);
    if (!record)
        return;
    if (seconds > 0 && seconds != record->durationIfCached(true)) {
        record->setDuration(seconds);
        updateLibraryAfterDelay(1.0, true);
    }
    if (!assetSizeDescription.isEmpty() && record->movieRepresentationValues().frameImageMovieRepresentations.empty())
        record->userSettings()->setValue(QStringLiteral("Asset Size"), assetSizeDescription);
}

// ---------------------------------------------------------------------------
// Letting go

void PMMainController::clearMoviePlayer()
{
    PMPlayerViewContent& view = playerViewContent();
    if (view.moviePlayer)
        QObject::disconnect(view.moviePlayer.get(), nullptr, this, nullptr);
    view.movieReplacingImage = nullptr;
    view.animatesMovieReplacingImage = false;
    view.showsQuickImage = false;
    view.moviePlayer = nullptr;
    view.flipsHorizontally = false;
    view.angle = 0;
    _playerViewHasMoviePlayer = false;
    _playerCurrentTime = 0;
    timeSlider = {};
}

void PMMainController::saveCurrentPlaybackPosition()
{
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const PMPlayerPtr player = playerViewContent().moviePlayer;
    if (!record || !player || player->status() != PlayerItemStatus::ReadyToPlay)
        return;
    record->savePlaybackPosition(currentTimeValue(player.get()), PMAssetDurationSeconds(player->currentAsset()));
}

void PMMainController::chooseNoMovie()
{
    _isMonitoringExternalViewer = false;
    pause();
    saveCurrentPlaybackPosition();
    if (PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation))
        clearMovie(record);
    _currentMovieRepresentation = Value();
    updateEditingControlsForCurrentMovie(true);
    invalidateCurrentOrMonitoredMovieRepresentationAncestors();
    _startPresentingWhenReady = false;
    _currentMovieIsPlayable = false;
    _currentMovieHasAudio = false;
    clearMoviePlayer();
    playerViewContent().setNeedsDisplay();
    Q_EMIT playbackController().updateUserInterfaceRequested();
}

void PMMainController::chooseNoMovieIfMovieRepresentationsContainCurrent(const ArrayPtr& items)
{
    if (!items || items->isEmpty())
        return;
    const Value reference = _currentMovieRepresentation.isNull() ? _externalViewerMovieRepresentation : _currentMovieRepresentation;
    PMMovieRepresentationPrototype* target = nonProxyRecord(reference);
    QStringList ids;
    bool contains = false;
    for (const Value& v : *items) {
        if (PMLibraryItem* item = PMItem(v))
            ids << item->uniqueLibraryID();
        contains = contains || (target && nonProxyRecord(v) == target);
    }
    if (contains)
        chooseNoMovie();
    PMAutoConvertedAssetsPurge(ids);
}

void PMMainController::chooseGroup(const PMLibraryContainerPtr& container)
{
    if (container)
        Q_EMIT playbackController().selectLibraryItemRequested(Value(container));
    chooseNoMovie();
    Q_EMIT playbackController().updateUserInterfaceRequested();
    showMainWindowIfNotVisible();
}

// ---------------------------------------------------------------------------
// Other applications

bool PMMainController::openWithDefaultApplication(const Value& movie, bool requestConfirmation, bool startPlaying)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record)
        return false;
    const QString path = record->path();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    platform::DesktopApplication application;
    if (!platform::getDefaultApplicationForFile(path, &application) || platform::isOwnApplication(application))
        return false;
    return openURL(path, movie, application.path, requestConfirmation, startPlaying);
}

void PMMainController::resetPlaybackForTesting()
{
    platform::cancelPreviousPerformRequests(this);
    if (PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation))
        clearMovie(record);
    clearMoviePlayer();
    _currentMovieRepresentation = Value();
    _nextMovieRepresentation = Value();
    _currentMovieHasAudio = _currentMovieHasVideo = _currentMovieIsContinuing = _currentMovieIsPlayable = false;
    _currentMovieShouldAutoplay = _currentMovieShouldActivateApplication = _startPresentingWhenReady = _isPresenting = false;
    _lastWindDate.reset();
    volumeSlider.value = 1.0;
    muteMenuItem.state = false;
    _timeDisplayText.clear();
    _timeDisplayRepaints = 0;
    _playbackControlsAreVisible = false;
    _showPlaybackControlsHook = nullptr;
    _playerControlsDidChange = nullptr;
    _presentationDidChange = nullptr;
    _updateUserInterfaceHook = nullptr;
    _startApplicationOverride = nullptr;
    _isPlayerWindowZoomed = _isAspectRatioLocked = false;
    _currentMagnification = _currentMagnificationQuantum = 1.0;
    lastCountedRecord().reset();
}
