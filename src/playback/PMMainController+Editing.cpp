// Editing what plays: the time selection and the editing steps (trim, delete, undo all),
// inserting the current time into text, flipping and turning the picture (by menu, by
// the rotate button and by dragging it), the markers of chapters and tag time marks with
// the Chapters menu and button, and cropping with the select-area tool and the custom
// aspect ratio.
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/ImageGenerator.h"
#include "platform/media/Player.h"
#include "library/model/PMMovie.h"
#include "playback/PMMovieView.h"
#include "playback/PMOverlayWindows.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlaybackController.h"
#include "playback/PMPlaybackControls.h"
#include "playback/PMPlayerWindows.h"
#include "playback/PMSelectArea.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtCore/QRegularExpression>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QTextEdit>

#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

constexpr double kEpsilon = 1.1920928955078125e-07; // 2^-23

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

PMMovieRepresentationPrototype* originalOf(const Value& movie)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    return record ? &record->original() : nullptr;
}

PMMovieView* movieViewOf(const PMMainController& c)
{
    return qobject_cast<PMMovieView*>(c.playerView.data());
}

QAction* actionOf(QObject* sender)
{
    return qobject_cast<QAction*>(sender);
}

// The sliders to use when no player window is there (the selection still has a home).
PMMovieTimeSlider* spareTimeSlider()
{
    static QPointer<PMMovieTimeSlider> slider;
    if (!slider)
        slider = new PMMovieTimeSlider;
    return slider;
}

QList<PMMovieTimeSlider*> timeSlidersOf(const PMMainController& c)
{
    QList<PMMovieTimeSlider*> sliders = c._timeSliders ? c._timeSliders() : QList<PMMovieTimeSlider*>();
    sliders.removeAll(nullptr);
    if (sliders.isEmpty())
        sliders.append(spareTimeSlider());
    return sliders;
}

QList<PMPlaybackControlView*> controlViewsOf(const PMMainController& c)
{
    QList<PMPlaybackControlView*> views;
    if (c._playbackControlViews)
        for (QWidget* w : c._playbackControlViews())
            if (auto* view = qobject_cast<PMPlaybackControlView*>(w))
                views.append(view);
    return views;
}

// The rectangle the picture takes in the movie view (top-down view coordinates): the
// select-area tool's container, since the picture may not fill the view.
QRectF pictureRectOf(PMMovieView* view)
{
    if (!view)
        return {};
    const QRectF destination = view->currentGeometry().destination;
    const QRectF bounds = QRectF(view->rect());
    const QRectF r = destination.isEmpty() ? bounds : destination.intersected(bounds);
    return QRectF(std::round(r.x()), std::round(r.y()), std::round(r.width()), std::round(r.height()));
}

// The drag delegate of the rotate buttons: no menu, drags turn the picture.
class RotateButtonDelegate : public QObject, public PMOptionalMenuButtonDelegate {
public:
    explicit RotateButtonDelegate(PMMainController& c) : QObject(&c), m_c(c) {}
    QMenu* menuForOptionalMenuButton(PMOptionalMenuButton*) override { return nullptr; }
    std::optional<bool> waitForMenuForOptionalMenuButton(PMOptionalMenuButton*) override { return false; }
    std::optional<bool> processDragEvent(QMouseEvent* event, QPointF delta, PMOptionalMenuButton* button) override
    {
        return m_c.processDragEvent(event, delta, button, m_c.keyboardModifiers());
    }

protected:
    // The drag ends with the release: the preview becomes the turn. A drag back to 0°
    // turns nothing but must still end the preview.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const PMMovieView* view = movieViewOf(m_c);
        if (event->type() == QEvent::MouseButtonRelease && (m_c._rotateButtonTag != 0 || (view && view->rotationPreviewAngle())))
            QTimer::singleShot(0, &m_c, [c = &m_c] { c->endRotationPreview(); });
        return QObject::eventFilter(watched, event);
    }

private:
    PMMainController& m_c;
};

} // namespace

// ---------------------------------------------------------------------------
// Set-up

Qt::KeyboardModifiers PMMainController::keyboardModifiers() const
{
    return _keyboardModifiersOverride ? _keyboardModifiersOverride() : QGuiApplication::queryKeyboardModifiers();
}

void PMMainController::installEditing()
{
    const auto add = [this](const char* name, std::function<void(QObject*)> run) { _actions.insert(QString::fromLatin1(name), std::move(run)); };
    add("setSelectionStart", [this](QObject*) { setSelectionStart(); });
    add("setSelectionEnd", [this](QObject*) { setSelectionEnd(); });
    add("clearSelection", [this](QObject* s) { clearSelection(s); });
    add("trimToTimeRange", [this](QObject*) { trimToTimeRange(); });
    add("delete", [this](QObject*) { deleteSelectedTimeRange(); });
    add("undoEditing", [this](QObject*) { undoEditing(); });
    add("insertCurrentTimestamp", [this](QObject*) { insertCurrentTimestamp(); });
    add("flip", [this](QObject* s) { flip(s); });
    add("rotate", [this](QObject* s) { rotate(s); });
    add("cropMovie", [this](QObject* s) { cropMovie(s); });
    add("changeAspectRatio", [this](QObject* s) { changeAspectRatio(s); });
    for (const char* name : {"selectAll", "cut", "paste"})
        if (!_actions.contains(QString::fromLatin1(name)))
            add(name, [](QObject*) { platform::beep(); });

    _menuValidation.timeSliderSelection = [this] { return timeSliderSelection(); };
    _menuValidation.isAspectRatioLocked = [this] { return isAspectRatioLocked(); };
    _menuValidation.canFlipOrRotateMovieRepresentations = [this](const ArrayPtr& movies, qsizetype* flipped) {
        return canFlipOrRotateMovieRepresentations(movies, flipped);
    };
    _itemCommands.selectArea = [this](const QRect&, bool indicateThumbnailAspectRatio) {
        return selectAreaInContainerCoordinates(false, -1, indicateThumbnailAspectRatio, nullptr).toRect();
    };

    // The buttons of every control bar.
    static QPointer<RotateButtonDelegate> installed;
    if (!installed)
        installed = new RotateButtonDelegate(*this);
    RotateButtonDelegate* delegate = installed;
    for (PMPlaybackControlView* view : controlViewsOf(*this)) {
        PMContextButton* rotateButton = view->rotateButton();
        if (rotateButton->delegate() == delegate)
            continue;
        rotateButton->setDelegate(delegate);
        rotateButton->setTarget(this);
        rotateButton->setAction(QStringLiteral("rotate"));
        // A click sends the action (the button does that itself); a drag previews a turn.
        rotateButton->installEventFilter(delegate);
        QObject::connect(view->cropButton(), &QAbstractButton::clicked, this, [this] { cropMovie(nullptr); });
        PMContextButton* chapters = view->chaptersButton();
        QObject::connect(chapters, &QAbstractButton::clicked, this, [this, chapters] {
            bool hasChapters = false;
            QMenu* menu = populateChaptersMenu(nullptr, _currentMovieRepresentation, &hasChapters);
            if (!menu)
                return;
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(chapters->mapToGlobal(QPoint(0, chapters->height())));
            _chaptersButtonMenu = menu;
        });
    }
    if (!controlViewsOf(*this).isEmpty()) {
        PMPlaybackControlView* first = controlViewsOf(*this).constFirst();
        rotateButton = first->rotateButton();
        cropButton = first->cropButton();
        chaptersButton = first->chaptersButton();
    }
}

void PMMainController::updateEditingControlsForCurrentMovie(bool movieChanged)
{
    if (movieChanged)
        setTimeSliderSelection(-1, -1);
    invalidateChaptersMenu();
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const DictionaryPtr settings = record ? record->userSettings() : nullptr;
    updateCropButton(settings && settings->contains(QStringLiteral("Visible Area")), false);
}

// ---------------------------------------------------------------------------
// The time selection and the editing steps

std::pair<double, double> PMMainController::timeSliderSelection() const
{
    const PMMovieTimeSlider* slider = timeSlidersOf(*this).constFirst();
    return {slider->selectionStartTimeValue(), slider->selectionEndTimeValue()};
}

void PMMainController::setTimeSliderSelection(double start, double end)
{
    for (PMMovieTimeSlider* slider : timeSlidersOf(*this)) {
        if (start < 0 && end < 0) {
            slider->invalidateSelection();
        } else {
            slider->setSelectionStartTimeValue(start);
            slider->setSelectionEndTimeValue(end);
        }
    }
}

namespace {

// The slider's time and length: the player's, while there is one.
double sliderTime(PMMainController& c)
{
    const PMPlayerPtr& player = c.playerViewContent().moviePlayer;
    return player ? currentTimeValue(player.get()) : c.timeSlider.currentTime;
}

double sliderDuration(PMMainController& c)
{
    const PMPlayerPtr& player = c.playerViewContent().moviePlayer;
    const double d = player ? durationValue(player.get()) : 0;
    return d > 0 ? d : c.timeSlider.duration;
}

} // namespace

void PMMainController::setSelectionStart()
{
    const double t = sliderTime(*this);
    const PMMovieTimeSlider* slider = timeSlidersOf(*this).constFirst();
    double end = slider->selectionEndTimeValue();
    // The raw end: -1 stands for "to the end" while a start exists.
    if (end >= 0 && end < t)
        end = sliderDuration(*this);
    setTimeSliderSelection(t, end);
    const auto [s, e] = timeSliderSelection();
    if (e > 0 && e - s < 0.01)
        setTimeSliderSelection(-1, -1);
}

void PMMainController::setSelectionEnd()
{
    const double t = sliderTime(*this);
    double start = timeSlidersOf(*this).constFirst()->selectionStartTimeValue();
    if (start > t)
        start = 0;
    setTimeSliderSelection(std::max(start, 0.0), t);
    const auto [s, e] = timeSliderSelection();
    if (!(e > 0) || e - s < 0.01)
        setTimeSliderSelection(-1, -1);
}

void PMMainController::clearSelection(QObject* sender)
{
    if (platform::menuItemTag(actionOf(sender)) == 1) {
        Q_EMIT playbackController().clearGroupItemSelectionRequested(sender);
        return;
    }
    setTimeSliderSelection(-1, -1);
}

namespace {

// Whether the movie's timeline, edited as the action would edit it, still shows a picture at
// its start; the reason in `error` when not. A short piece of a file that seeks poorly (a
// transport stream far from its key frames) can leave a timeline without any picture: the
// player then gives up on the movie, and with the step stored it would never play again.
// Movies without pictures and steps that change nothing pass (the step itself decides).
bool editedTimelineShowsAPicture(class PMMovie& movie, int action, double start, double end, QString* error)
{
    using namespace platform::media;
    const PMAssetPtr asset = movie.asset();
    if (!asset || !asset->isComposition())
        return true;
    const auto composition = std::static_pointer_cast<Composition>(asset);
    if (composition->tracksWithMediaType(MediaType::Video).empty())
        return true;
    // The step is tried on a copy: the movie's own timeline is what the player plays.
    const CompositionPtr trial = Composition::composition();
    for (const Track& track : composition->tracks()) {
        const int trackID = trial->addMutableTrack(track.mediaType);
        trial->setPreferredTransform(trackID, track.preferredTransform);
        for (const Composition::Segment& segment : composition->segmentsForTrack(track.trackID))
            if (!trial->insertTimeRange({segment.sourceStart, segment.target.duration}, segment.source, segment.sourceTrackID, trackID, segment.target.start, error))
                return false;
    }
    if (PMMovieApplyEditingStep(trial, action, start, end - start).isEmpty())
        return true;
    return ImageGenerator::playsAPictureAtItsStart(trial, error);
}

} // namespace

void PMMainController::applyEditingAction(int action)
{
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    const DictionaryPtr settings = current ? current->userSettings() : nullptr;
    if (!settings)
        return;
    pause();
    invalidateCurrentMovieRepresentationFrameImages();
    const Value item = _currentMovieRepresentation;
    if (action == 0) {
        settings->remove(QStringLiteral("Editing Steps"));
        clearMovie(current);
        setTimeSliderSelection(-1, -1);
        choosePlaybackMovieRepresentation(item, false, false, false, false);
    } else {
        const PMPlaybackMoviePtr movie = PMExistingMovieOfRecord(current);
        const double t = sliderTime(*this);
        const auto [s, e] = timeSliderSelection();
        if (QString reason; movie && e > s && movie->canEdit() && !editedTimelineShowsAPicture(*movie, action, s, e, &reason)) {
            PMLog("refusing to %@ <%@>: the edited movie would show no picture (%@)", action == 1 ? QStringLiteral("trim") : QStringLiteral("cut"),
                  current->path().isEmpty() ? current->URLString() : current->path(), reason);
            platform::Alert alert;
            alert.messageText = action == 1 ? QCoreApplication::translate("PMMainController", "The movie cannot be trimmed to the selection.")
                                            : QCoreApplication::translate("PMMainController", "The selection cannot be deleted from the movie.");
            alert.informativeText = QCoreApplication::translate("PMMainController",
                "The movie that would remain shows no picture at its start, so it could not be played. Choose a longer or "
                "another part of the movie. The movie is left as it was.");
            platform::runAlert(alert);
            return;
        }
        const DictionaryPtr step = movie && e > s ? movie->editWithAction(action, s, e) : nullptr;
        if (!step) {
            platform::beep();
            return;
        }
        ArrayPtr steps = settings->value(QStringLiteral("Editing Steps")).array();
        if (!steps) {
            steps = Array::make();
            settings->setValue(QStringLiteral("Editing Steps"), steps);
        }
        steps->append(step);
        // The old selection names times of the old timeline.
        setTimeSliderSelection(-1, -1);
        // The player learns the new length only once the edited timeline is loaded: the
        // seek waits for it, within the length the timeline will have. The remembered
        // place is the new one too, so that getting ready does not go back to an old one.
        const PMAssetPtr edited = movie->asset();
        const double length = edited ? edited->duration().seconds() : 0;
        const double position = std::clamp(action == 1 ? t - s : s, 0.0, std::max(0.0, length));
        current->savePlaybackPosition(position, PMRoundedSeconds(length));
        choosePlaybackMovieRepresentation(item, false, false, false, false);
        if (const PMPlayerPtr& player = playerViewContent().moviePlayer)
            player->seekToTime(position);
        timeSlider.currentTime = _playerCurrentTime = position;
    }
    saveLibrarySoon();
}

bool PMMainController::insertCurrentTimestampAsTestFlight(bool test)
{
    const PMPlayerPtr& player = playerViewContent().moviePlayer;
    if (!player)
        return false;
    const ArrayPtr items = playbackController().cachedInfoMovieRepresentationsSorted(true);
    if (!items || items->count() != 1 || !originalOf(_currentMovieRepresentation) || originalOf(items->at(0)) != originalOf(_currentMovieRepresentation))
        return false;
    QWidget* focus = QApplication::focusWidget();
    auto* line = qobject_cast<QLineEdit*>(focus);
    auto* text = qobject_cast<QTextEdit*>(focus);
    auto* plain = qobject_cast<QPlainTextEdit*>(focus);
    if (!(line && !line->isReadOnly()) && !(text && !text->isReadOnly()) && !(plain && !plain->isReadOnly()))
        return false;
    if (test)
        return true;
    const QString time = PMDurationString(currentTimeValue(player.get()));
    if (line)
        line->insert(time);
    else if (text)
        text->insertPlainText(time);
    else
        plain->insertPlainText(time);
    return true;
}

// ---------------------------------------------------------------------------
// Flip and rotation

void PMMainController::invalidateCurrentMovieRepresentationFrameImages()
{
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (!record)
        return;
    // A preview that was a frame of the movie no longer shows it: it goes.
    const QString base = record->posterImageBasePath();
    for (const char* extension : {"jpg", "tiff"}) {
        const std::optional<QString> comment = spotlightComment(base + u'.' + QLatin1String(extension));
        if (comment && (comment->trimmed().toInt() & 2)) {
            record->setPosterImage(nullptr);
            break;
        }
    }
    record->clearStandardIndexImages();
    if (const DictionaryPtr settings = record->userSettings())
        settings->remove(QStringLiteral("Movie Hash"));
    if (defaults().boolForKey(prefs::keys::CycleThroughIndexImageOnHover))
        PMMovieRepresentationImageLoader::defaultLoader().generateStandardIndexImageWrappersForMovieRepresentation(*record);
}

void PMMainController::updateForEditedCurrentMovieRepresentationImage(const platform::ImagePtr& image, const PMPlaybackMoviePtr& movie,
                                                                      const DictionaryPtr& settings, double updatedRatio, double)
{
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (settings && updatedRatio > 0)
        settings->setValue(QStringLiteral("Aspect Ratio"), updatedRatio);
    if (image) {
        if (record)
            record->setPosterImage(nullptr);
        showMovieReplacingImage();
    } else {
        invalidateCurrentMovieRepresentationFrameImages();
        if (movie) {
            movie->invalidateNaturalSizeWithCustomVisibleArea(settings ? settings->value(QStringLiteral("Visible Area")).dictionary() : nullptr);
            if (updatedRatio > 0)
                movie->setAspectRatio(updatedRatio);
        }
        if (record)
            PMSetPlayerViewPictureSettings(playerViewContent(), *record);
        playerViewContent().setNeedsDisplay();
    }
    updatePlayerWindowFrameAfterForcingPresentation(false);
    updateWindowTitles();
    for (PMMovieTimeSlider* slider : timeSlidersOf(*this))
        slider->update();
}

bool PMMainController::canFlipOrRotateMovieRepresentations(const ArrayPtr& movies, qsizetype* getNumberOfFlippedMovieRepresentations)
{
    if (getNumberOfFlippedMovieRepresentations)
        *getNumberOfFlippedMovieRepresentations = 0;
    if (!movies || movies->isEmpty())
        return false;
    const bool anything = defaults().boolForKey(prefs::keys::RotateAnythingViaContextMenu);
    PMMovieRepresentationPrototype* current = originalOf(_currentMovieRepresentation);
    qsizetype flipped = 0;
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* record = PMMovie(v);
        if (!record)
            return false;
        if (!anything && !record->isConsideredStillImage() && !(originalOf(v) == current && _currentMovieHasVideo))
            return false;
        if (record->isFlippedHorizontally())
            ++flipped;
    }
    if (getNumberOfFlippedMovieRepresentations)
        *getNumberOfFlippedMovieRepresentations = flipped;
    return true;
}

void PMMainController::flip(QObject* sender)
{
    QAction* item = actionOf(sender);
    const bool on = item && item->isChecked() && !platform::menuItemMixedState(item);
    const bool flipped = !on;
    const ArrayPtr movies = playbackController().infoMovieRepresentationsForMenuItem(item);
    if (!movies)
        return;
    PMMovieRepresentationPrototype* current = originalOf(_currentMovieRepresentation);
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* record = PMMovie(v);
        if (!record || record->isFlippedHorizontally() == flipped)
            continue;
        record->setFlippedHorizontally(flipped);
        if (originalOf(v) == current && playerView && playerView->parentWidget()) {
            PMPlayerViewContent& content = playerViewContent();
            if (content.movieReplacingImage) {
                showMovieReplacingImage();
            } else if (content.moviePlayer) {
                if (PMMovieView* view = movieViewOf(*this))
                    view->setFlipsMoviePlayerHorizontally(flipped);
                else
                    content.flipsHorizontally = flipped;
                invalidateCurrentMovieRepresentationFrameImages();
            }
        }
        Q_EMIT playbackController().updatePreviewByLoadingPosterImageForMovieRepresentationRequested(v);
    }
    saveLibrarySoon();
}

void PMMainController::rotate(QObject* sender)
{
    rotateWithModifiers(sender, keyboardModifiers());
}

void PMMainController::rotateWithModifiers(QObject* sender, Qt::KeyboardModifiers modifiers)
{
    QAction* item = actionOf(sender);
    const bool counterclockwise = defaults().boolForKey(prefs::keys::RotateCounterclockwise);
    ArrayPtr movies;
    int angle = 90;
    if (!item) {
        // The rotate button: the current movie alone, while it shows a picture.
        if (_currentMovieRepresentation.isNull() || !_currentMovieHasVideo)
            return;
        movies = Array::make();
        movies->append(_currentMovieRepresentation);
        if (counterclockwise != bool(modifiers & Qt::AltModifier))
            angle = -90;
        PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
        const bool stillImage = playerViewContent().movieReplacingImage || (record && record->isConsideredStillImage());
        if (stillImage && (modifiers & Qt::ControlModifier))
            angle /= (modifiers & Qt::ShiftModifier) ? 9 : 90;
    } else {
        movies = playbackController().infoMovieRepresentationsForMenuItem(item);
        if (counterclockwise)
            angle = -angle;
        if (platform::menuItemTag(item) == 1)
            angle = -angle;
    }
    if (!movies || movies->isEmpty())
        return;
    PMMovieRepresentationPrototype* current = originalOf(_currentMovieRepresentation);
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* record = PMMovie(v);
        if (!record)
            continue;
        record->rotateByAngle(angle);
        if (originalOf(v) != current || !updateForCurrentMovieRepresentationRotation())
            Q_EMIT playbackController().updatePreviewByLoadingPosterImageForMovieRepresentationRequested(v);
    }
    saveLibrarySoon();
}

bool PMMainController::updateForCurrentMovieRepresentationRotation()
{
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (!record || !playerView || !playerView->parentWidget())
        return false;
    PMPlayerViewContent& content = playerViewContent();
    const PMPlaybackMoviePtr movie = content.movieReplacingImage ? nullptr : PMExistingMovieOfRecord(record);
    if (content.moviePlayer) {
        if (PMMovieView* view = movieViewOf(*this))
            view->setMoviePlayerAngle(record->angle());
        else
            content.angle = record->angle();
        if (movie)
            movie->setRotatesNaturalSize(((record->angle() % 360) + 360) % 180 == 90);
    }
    updateForEditedCurrentMovieRepresentationImage(content.movieReplacingImage, movie, record->userSettings(), -1, playerView->parentWidget()->width());
    Q_EMIT playbackController().updatePreviewByLoadingPosterImageForMovieRepresentationRequested(_currentMovieRepresentation);
    updateCropButton(false, false);
    return true;
}

bool PMMainController::processDragEvent(QMouseEvent* event, QPointF withDelta, QObject* forOptionalMenuButton, Qt::KeyboardModifiers modifiers)
{
    bool isRotateButton = false;
    for (PMPlaybackControlView* view : controlViewsOf(*this))
        isRotateButton = isRotateButton || view->rotateButton() == forOptionalMenuButton;
    if (!isRotateButton || _currentMovieRepresentation.isNull() || !playerViewContent().movieReplacingImage)
        return false;
    const bool byDragging = defaults().boolForKey(prefs::keys::RotateByDragging);
    if (!byDragging || !event)
        return byDragging;
    int angle = PMRotationDragAngle(withDelta.x(), withDelta.y());
    if (defaults().boolForKey(prefs::keys::RotateCounterclockwise) != bool(modifiers & Qt::AltModifier))
        angle = -angle;
    if (withDelta.x() < 0 && defaults().boolForKey(prefs::keys::RotateByDraggingDirectional))
        angle = -angle;
    if (PMMovieView* view = movieViewOf(*this))
        view->setRotationPreviewAngle(angle);
    _rotateButtonTag = angle;
    return true;
}

void PMMainController::endRotationPreview()
{
    if (PMMovieView* view = movieViewOf(*this))
        view->endRotationPreview();
    const int angle = _rotateButtonTag;
    _rotateButtonTag = 0;
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (angle != 0 && record) {
        record->rotateByAngle(angle);
        updateForCurrentMovieRepresentationRotation();
        saveLibrarySoon();
    }
}

// ---------------------------------------------------------------------------
// Markers and chapters

namespace {

// Time marks in tag values: [h:]m:ss with an optional title in parentheses, whole numbers
// only (no digit right before or after).
const QRegularExpression& timeMarkPattern()
{
    static const QRegularExpression pattern(QStringLiteral(R"((?<!\d)((\d+):)?(\d+):(\d{2})(?!\d)(\s*\(([^)]+)\))?)"));
    return pattern;
}

// Adds the play and go-to items of a marked time; NO when the time lies past the movie.
bool addGoToTimestampMenuItemsToMenu(const Value& movie, QMenu* menu, double forTimestamp, const QString& withDescription, const DictionaryPtr& marker,
                                     bool includeDisplayName, bool insertSeparator)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record || !menu)
        return false;
    const long long cached = record->durationIfCached(true);
    const double duration = cached > 0 ? double(cached) : -1;
    if (!(forTimestamp < duration) || !record->canPlay())
        return false;
    std::optional<QString> markerTitle;
    if (marker && marker->contains(QStringLiteral("Title"))) {
        const QString t = marker->value(QStringLiteral("Title")).string();
        markerTitle = t.isEmpty() ? QCoreApplication::translate("PMMainController", "Untitled") : t;
    }
    const QString playTitle = includeDisplayName
        ? QCoreApplication::translate("PMMainController", "Play %1 from %2").arg(record->displayName(), withDescription)
        : QCoreApplication::translate("PMMainController", "Play from %1").arg(withDescription);
    const QString goTitle = QCoreApplication::translate("PMMainController", "Go to %1").arg(withDescription);
    if (insertSeparator)
        addSeparator(menu);
    const bool doNotPlay = defaults().boolForKey(prefs::keys::DoNotPlayOnOpen);
    for (const bool play : {!doNotPlay, doNotPlay}) {
        const QString own = play ? playTitle : goTitle;
        QAction* action = addItemWithTitle(menu, markerTitle.value_or(own), [movie, forTimestamp, play](QAction*) {
            if (PMMovieRepresentationPrototype* r = PMMovie(movie))
                r->goToTimestamp(forTimestamp, play);
        });
        if (markerTitle)
            setTitleSuffix(action, QStringLiteral(" - %1").arg(own), -1);
    }
    return true;
}

} // namespace

std::shared_ptr<PMMainController::MarkerTable> PMMainController::markersByTimeStampValueForMovieRepresentation(const Value& movie)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record)
        return nullptr;
    const bool isCurrent = originalOf(movie) == originalOf(_currentMovieRepresentation);
    if (isCurrent && _currentMovieMarkersByTimestampValue)
        return _currentMovieMarkersByTimestampValue;
    auto table = std::make_shared<MarkerTable>();
    if (isCurrent)
        _currentMovieMarkersByTimestampValue = table;

    // Chapters, of the current movie's own file (an edited timeline has none).
    if (isCurrent) {
        const PMPlayerPtr& player = playerViewContent().moviePlayer;
        const PMAssetPtr asset = player ? player->currentAsset() : nullptr;
        const PMAssetPtr source = asset && asset->isComposition() ? asset->associatedOriginalAsset() : asset;
        if (source) {
            for (const platform::media::Chapter& chapter : source->chapters()) {
                if (!chapter.timeRange.start.isNumeric())
                    continue;
                QString title = chapter.title;
                if (title.endsWith(QChar(0)))
                    title.chop(1);
                title = title.trimmed();
                const double start = chapter.timeRange.start.seconds();
                const DictionaryPtr group = Dictionary::make({{QStringLiteral("Title"), title}, {QStringLiteral("Start"), start}});
                (*table)[qint64(std::floor(start))] = Dictionary::make({{QStringLiteral("Group"), group}, {QStringLiteral("Title"), title}});
            }
        }
    }

    // Time marks in the tag values.
    if (const DictionaryPtr tags = record->cachedTags()) {
        for (auto it = tags->begin(); it != tags->end(); ++it) {
            const DictionaryPtr entry = it.value().dictionary();
            const QString value = entry ? entry->value(QStringLiteral("Value")).string() : QString();
            if (value.isEmpty())
                continue;
            QRegularExpressionMatchIterator matches = timeMarkPattern().globalMatch(value);
            while (matches.hasNext()) {
                const QRegularExpressionMatch m = matches.next();
                qint64 seconds = m.captured(4).toLongLong() + m.captured(3).toLongLong() * 60;
                if (m.capturedLength(2) > 0)
                    seconds += m.captured(2).toLongLong() * 3600;
                QString title = m.captured(6).trimmed();
                if (title.isEmpty())
                    title = entry->value(QStringLiteral("Tag")).string();
                (*table)[seconds] = Dictionary::make({{QStringLiteral("Title"), title}});
            }
        }
    }
    return table;
}

void PMMainController::invalidateChaptersMenu()
{
    _currentMovieMarkersByTimestampValue.reset();
    if (QAction* item = _mainMenu.chaptersMenuItem) {
        item->setText(QCoreApplication::translate("PMMainController", "Chapters"));
        if (QMenu* submenu = item->menu())
            submenu->clear();
    }
    for (PMPlaybackControlView* view : controlViewsOf(*this)) {
        view->chaptersButton()->setEnabled(false);
        view->setShowsChaptersButton(false);
        view->timeSlider()->setMarkerTimes({});
    }
    platform::cancelPreviousPerformRequests(this, QStringLiteral("updateChaptersMenu"), Value());
    platform::performAfterDelay(this, QStringLiteral("updateChaptersMenu"), Value(), 0, [this] { updateChaptersMenu(); });
}

void PMMainController::updateChaptersMenu()
{
    if (_currentMovieRepresentation.isNull())
        return;
    if (!_currentMovieIsPlayable) {
        // Until the player is ready; a short wait rather than a spin of the event loop.
        platform::performAfterDelay(this, QStringLiteral("updateChaptersMenu"), Value(), 0.1, [this] { updateChaptersMenu(); });
        return;
    }
    QMenu* submenu = _mainMenu.chaptersMenuItem ? _mainMenu.chaptersMenuItem->menu() : nullptr;
    bool hasChapters = false;
    QMenu* filled = nullptr;
    if (submenu) {
        submenu->clear();
        filled = populateChaptersMenu(submenu, _currentMovieRepresentation, &hasChapters);
    } else {
        filled = populateChaptersMenu(nullptr, _currentMovieRepresentation, &hasChapters);
        delete filled;
    }
    if (!filled)
        return;
    const QString title = hasChapters ? QCoreApplication::translate("PMMainController", "Chapters") : QCoreApplication::translate("PMMainController", "Markers");
    if (_mainMenu.chaptersMenuItem)
        _mainMenu.chaptersMenuItem->setText(title);
    QList<double> times;
    if (const auto table = markersByTimeStampValueForMovieRepresentation(_currentMovieRepresentation))
        for (const auto& [seconds, marker] : *table)
            times.append(double(seconds));
    for (PMPlaybackControlView* view : controlViewsOf(*this)) {
        view->chaptersButton()->setToolTip(title);
        view->chaptersButton()->setEnabled(true);
        view->setShowsChaptersButton(true);
        view->timeSlider()->setMarkerTimes(times);
    }
    updatePlaybackControlVisibility();
}

QMenu* PMMainController::populateChaptersMenu(QMenu* menu, const Value& movie, bool* hasChapters)
{
    const auto table = markersByTimeStampValueForMovieRepresentation(movie);
    if (!table || table->empty())
        return nullptr;
    QMenu* made = nullptr;
    if (!menu)
        menu = made = new QMenu(QCoreApplication::translate("PMMainController", "Chapters"));
    bool added = false;
    for (const auto& [seconds, marker] : *table) {
        if (!addGoToTimestampMenuItemsToMenu(movie, menu, double(seconds), PMDurationString(double(seconds)), marker, false, false))
            break;
        added = true;
        if (hasChapters && marker && marker->contains(QStringLiteral("Group")))
            *hasChapters = true;
    }
    if (!added) {
        delete made;
        return nullptr;
    }
    return menu;
}

// ---------------------------------------------------------------------------
// The select-area tool and cropping

QRectF PMMainController::selectAreaInContainerCoordinates(bool inContainerCoordinates, double originalAspectRatio, bool indicateThumbnailAspectRatioByDefault,
                                                          const DictionaryPtr& initialArea)
{
    PMMovieView* view = movieViewOf(*this);
    QWidget* window = view ? view->window() : nullptr;
    if (!window || (!qobject_cast<PMPlayerWindowPrototype*>(window) && window != _mainWindow.data()))
        return {};
    if (!window->isVisible()) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    // The floating controls would cover the picture.
    hidePlaybackControlWindow();

    const QRectF picture = pictureRectOf(view);
    const QRect globalPicture(view->mapToGlobal(picture.topLeft().toPoint()), picture.size().toSize());

    PMSelectAreaSession session;
    const auto showState = [&session](PMFullScreenMessageWindow* w) {
        w->apertureFrame = session.apertureFrame;
        w->apertureFrameEmphasizedEdges = session.emphasizedEdges;
        w->apertureColor = session.apertureColor;
        w->message = session.message;
        w->update();
    };
    PMFullScreenMessageWindow* overlay = PMFullScreenMessageWindow::fullscreenWindowWithMessage(
        QCoreApplication::translate("PMMainController", "Select Area"), view, 0.8, [&session, showState](PMFullScreenMessageWindow* w) {
            session.mouseLocation = w->mouseLocation;
            session.update();
            showState(w);
        });
    overlay->storedTintColor = QColor::fromRgbF(1, 1, 1, 0.5f);
    session.mouseLocation = overlay->mouseLocation;
    const auto show = [overlay, showState] { showState(overlay); };

    // The ratios offered.
    const qint64 thumbnailPriority = defaults().integerForKey(prefs::keys::SelectAreaAspectRatioPriorityThumbnail);
    const std::optional<double> tileRatio = _fixedTileAspectRatio ? _fixedTileAspectRatio() : std::nullopt;
    if (tileRatio && *tileRatio > 0 && thumbnailPriority > (indicateThumbnailAspectRatioByDefault ? -1 : 0)) {
        session.hideRatioReadout = true;
        session.ratios = {*tileRatio};
    } else if (defaults().integerForKey(prefs::keys::SelectAreaAspectRatioPriorityOriginal) < 0) {
        session.hideRatioReadout = true;
    } else if (originalAspectRatio > 0) {
        session.ratios = {originalAspectRatio};
    }
    overlay->noteworthyApertureAspectRatios = session.ratios;
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const bool still = record && record->isConsideredStillImage();
    if (defaults().integerForKey(prefs::keys::SelectAreaCrosshairsPriority) > (still ? -1 : 0))
        overlay->drawsHalfApertureFrameLines = true;

    overlay->show();
    overlay->raise();
    const QRect o = overlay->geometry();
    session.containerFrame = QRectF(globalPicture.x() - o.x(), o.height() - (globalPicture.y() + globalPicture.height() - o.y()), globalPicture.width(),
                                    globalPicture.height());
    session.inContainerCoordinates = inContainerCoordinates;
    session.horizontalExtension = defaults().doubleForKey(prefs::keys::VisibleImageAreaExtensionHorizontal);
    session.mode = int(defaults().integerForKey(prefs::keys::SelectAreaMode));
    session.initialArea = initialArea;
    session.selectedColor = QApplication::palette().color(QPalette::Highlight);
    session.modifiers = [this] { return keyboardModifiers(); };
    session.pushCursor = [](bool push) {
        if (push)
            QGuiApplication::setOverrideCursor(PMSelectAreaCursor());
        else
            QGuiApplication::restoreOverrideCursor();
    };
    session.refresh = show;
    QPointer<PMFullScreenMessageWindow> guard = overlay;
    session.nextEvent = [this, &session, guard]() -> PMSelectAreaEvent {
        if (_selectAreaEventSource)
            return _selectAreaEventSource(session);
        if (!guard)
            return {};
        const QEvent::Type type = guard->nextMouseEvent();
        PMSelectAreaEvent e;
        if (!guard)
            return e;
        e.location = guard->mouseLocation;
        if (type == QEvent::MouseButtonPress)
            e.type = PMSelectAreaEvent::MouseDown;
        else if (type == QEvent::MouseButtonRelease)
            e.type = PMSelectAreaEvent::MouseUp;
        else if (type == QEvent::KeyPress) {
            e.type = PMSelectAreaEvent::KeyDown;
            e.characters = guard->lastKeyCharacters;
        }
        return e;
    };
    QRectF result = session.run();
    if (guard) {
        guard->mouseMovedHandler = nullptr;
        guard->hide();
        guard->deleteLater();
    }
    updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
    if (result.isEmpty())
        return {};
    const QRectF& c = session.containerFrame;
    if (inContainerCoordinates)
        return QRectF(result.x() - c.x(), result.y() - c.y(), result.width(), result.height());
    // Screen coordinates, top-down as the screen grab wants them.
    return QRectF(o.x() + result.x(), o.y() + o.height() - (result.y() + result.height()), result.width(), result.height());
}

void PMMainController::updateCropButton(bool on, bool active)
{
    for (PMPlaybackControlView* view : controlViewsOf(*this)) {
        view->setCropButtonState(on, active);
        if (active)
            view->cropButton()->repaint();
    }
}

void PMMainController::cropMovie(QObject*)
{
    PMMovieView* view = movieViewOf(*this);
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    if (!view || !view->parentWidget() || !record)
        return;
    const platform::ImagePtr image = playerViewContent().movieReplacingImage;
    const PMPlaybackMoviePtr movie = image ? nullptr : PMExistingMovieOfRecord(record);
    const bool hasContent = image || movie;
    const DictionaryPtr settings = record->userSettings();
    const DictionaryPtr A = settings->value(QStringLiteral("Visible Area")).dictionary();
    const Value Q = settings->value(QStringLiteral("Aspect Ratio"));
    QRectF picture = pictureRectOf(view);
    double W = picture.width(), H = picture.height();
    const bool usable = hasContent && W > 1 && H > 1;
    const qint64 mode = defaults().integerForKey(prefs::keys::SelectAreaMode);
    const Qt::KeyboardModifiers modifiers = keyboardModifiers();
    double r = -1;
    bool on = false;
    bool applied = false;

    const auto apply = [&](const QRectF& R) {
        const DictionaryPtr area = Dictionary::make({{QStringLiteral("x"), R.x() / W}, {QStringLiteral("y"), R.y() / H}, {QStringLiteral("w"), R.width() / W},
                                                     {QStringLiteral("h"), R.height() / H}});
        if (keyboardModifiers() & Qt::ControlModifier)
            area->setValue(QStringLiteral("s"), true);
        settings->setValue(QStringLiteral("Visible Area"), area);
        if (Q.isNumber())
            r = R.height() / R.width();
        on = true;
        applied = true;
    };
    // Answers whether the user chose a part of the picture; NO for a cancel or the whole.
    bool cancelled = false;
    const auto select = [&](const DictionaryPtr& initial) {
        updateCropButton(false, true);
        const QRectF R = selectAreaInContainerCoordinates(true, W / H, false, initial);
        if (R.isEmpty()) {
            cancelled = true;
            return;
        }
        if (R.width() >= W - kEpsilon && R.height() >= H - kEpsilon)
            return;
        _lastCropRect = R;
        apply(R);
    };

    if (A) {
        settings->remove(QStringLiteral("Visible Area"));
        const double aw = A->value(QStringLiteral("w")).toDouble(), ah = A->value(QStringLiteral("h")).toDouble();
        if (Q.isNumber() && aw > 0 && ah > 0)
            r = Q.toDouble() * aw / ah;
        if (usable && mode >= 1) {
            // Re-crop: the whole picture shows while the user chooses.
            updateForEditedCurrentMovieRepresentationImage(image, movie, settings, r, W);
            picture = pictureRectOf(view);
            W = picture.width();
            H = picture.height();
            if (W > 1 && H > 1)
                select(A);
            if (cancelled) {
                // A cancelled re-crop keeps the crop the item had.
                settings->setValue(QStringLiteral("Visible Area"), A);
                if (Q.isNumber())
                    settings->setValue(QStringLiteral("Aspect Ratio"), Q);
                else
                    settings->remove(QStringLiteral("Aspect Ratio"));
                r = Q.isNumber() ? Q.toDouble() : -1;
                on = true;
            }
        }
    } else {
        if (!usable) {
            updateCropButton(false, false);
            return;
        }
        const QRectF& last = _lastCropRect;
        if ((modifiers & Qt::ShiftModifier) && last.width() >= 1 && last.width() <= W && last.height() >= 1 && last.height() <= H)
            apply(last);
        else
            select(nullptr);
        if (cancelled) {
            updateCropButton(false, false);
            return;
        }
    }

    if ((A || applied) && hasContent) {
        updateForEditedCurrentMovieRepresentationImage(image, movie, settings, r, W);
        Q_EMIT playbackController().updatePreviewByLoadingPosterImageForMovieRepresentationRequested(_currentMovieRepresentation);
    }
    updateCropButton(on, false);
    saveLibrarySoon();
}

bool PMMainController::setCustomAspectRatioEnabled(bool enabled, const Value& withRatio)
{
    const bool locked = isAspectRatioLocked();
    PMMovieRepresentationPrototype* record = PMMovie(_currentMovieRepresentation);
    const DictionaryPtr settings = record ? record->userSettings() : nullptr;
    if (!settings)
        return false;
    const platform::ImagePtr image = playerViewContent().movieReplacingImage;
    const PMPlaybackMoviePtr movie = image ? nullptr : PMExistingMovieOfRecord(record);
    bool resize = false;
    if (enabled) {
        PMMovieView* view = movieViewOf(*this);
        if (!view || !view->parentWidget() || view->width() <= 1 || view->height() <= 1)
            return false;
        const double ratio = withRatio.isNumber() && withRatio.toDouble() > 0 ? withRatio.toDouble() : double(view->height()) / double(view->width());
        if (movie)
            movie->setAspectRatio(ratio);
        settings->setValue(QStringLiteral("Aspect Ratio"), ratio);
        resize = withRatio.isNumber();
        if (!locked) {
            defaults().setBool(false, prefs::keys::VariableAspectRatio);
            setAspectRatioLocked(true);
            if (_isPresenting)
                updatePresentationWindowForScreen(nullptr);
        }
    } else {
        if (!settings->contains(QStringLiteral("Aspect Ratio")))
            return false;
        settings->remove(QStringLiteral("Aspect Ratio"));
        if (movie)
            movie->invalidateNaturalSizeWithCustomVisibleArea(settings->value(QStringLiteral("Visible Area")).dictionary());
        resize = true;
    }
    if (image) {
        record->setPosterImage(nullptr);
        showMovieReplacingImage();
    } else {
        invalidateCurrentMovieRepresentationFrameImages();
        PMSetPlayerViewPictureSettings(playerViewContent(), *record);
        playerViewContent().setNeedsDisplay();
    }
    Q_EMIT playbackController().updatePreviewByLoadingPosterImageForMovieRepresentationRequested(_currentMovieRepresentation);
    if (resize) {
        if (_isPlayerWindowZoomed)
            Q_EMIT playbackController().fitPlayerWindowToScreenRequested();
        else
            Q_EMIT playbackController().resizePlayerWindowForCurrentMagnificationRequested();
    }
    updateWindowTitles();
    for (PMMovieTimeSlider* slider : timeSlidersOf(*this))
        slider->update();
    saveLibrarySoon();
    return true;
}

void PMMainController::changeAspectRatio(QObject* sender)
{
    QAction* item = actionOf(sender);
    const qint64 tag = platform::menuItemTag(item);
    if (tag == 1) {
        const Value ratio = platform::menuItemRepresentedObject(item);
        setCustomAspectRatioEnabled(true, ratio.isNumber() ? ratio : Value());
    } else if (tag == -1) {
        setCustomAspectRatioEnabled(false, Value());
    } else {
        const bool variable = defaults().boolForKey(prefs::keys::VariableAspectRatio);
        defaults().setBool(!variable, prefs::keys::VariableAspectRatio);
        setAspectRatioLocked(variable);
        if (_isPresenting)
            updatePresentationWindowForScreen(nullptr);
        if (variable) {
            if (_isPlayerWindowZoomed)
                Q_EMIT playbackController().fitPlayerWindowToScreenRequested();
            else
                Q_EMIT playbackController().resizePlayerWindowForCurrentMagnificationRequested();
        }
    }
}
