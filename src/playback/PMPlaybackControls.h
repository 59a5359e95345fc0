// The playback controls: one bar (title, transport buttons, time slider, volume) that sits
// either as a fixed 61-point band below or above the movie, or in a small floating window
// that hovers over the movie and can be dragged to a remembered place with snapping; and
// the time slider, which draws its own track, selection, playhead and time badges.
#pragma once

#include "ui/kit/PMViewBases.h"

#include <QtCore/QPointer>
#include <QtCore/QRectF>
#include <QtWidgets/QWidget>

#include <functional>
#include <optional>

class PMContextButton;
class PMMovieView;
class QLabel;
class QMenu;
class QSlider;
class QPainter;

inline constexpr double kPMPlaybackControlsHeight = 61;
inline constexpr double kPMFloatingControlsHeight = 64;
inline constexpr double kPMFloatingControlsTitledHeight = 81;

// ---- The time slider

class PMMovieTimeSliderDelegate {
public:
    virtual ~PMMovieTimeSliderDelegate() = default;
    virtual QString alternateSliderMinimumMessage() = 0;
    virtual QString alternateSliderMaximumMessage() = 0;
    virtual QMenu* menuForSlider(QWidget* slider) = 0;
};

// The texts of the slider for duration D and time T: the left and right badges.
struct PMTimeSliderTexts {
    QString left;
    QString right;
};
PMTimeSliderTexts PMTimeSliderTextsFor(double duration, double time, bool optionKey, double textRectWidth, const QString& alternateMinimum,
                                       const QString& alternateMaximum);

class PMMovieTimeSlider : public QWidget {
    Q_OBJECT
public:
    explicit PMMovieTimeSlider(QWidget* parent = nullptr);

    // The player's time and length (the movie view's player); setting the time seeks.
    double currentTimeValue() const;
    void setCurrentTimeValue(double seconds);
    double durationValue() const;

    double selectionStartTimeValue() const;
    double selectionEndTimeValue() const;
    void setSelectionStartTimeValue(double seconds);
    void setSelectionEndTimeValue(double seconds);
    void invalidateSelection();
    // The marked times (seconds) drawn as ticks on the bar.
    void setMarkerTimes(const QList<double>& times);
    const QList<double>& markerTimes() const { return _markerTimes; }

    PMMovieTimeSliderDelegate* delegate() const { return _delegate; }
    void setDelegate(PMMovieTimeSliderDelegate* delegate) { _delegate = delegate; }
    PMMovieView* movieView() const { return _movieView; }
    void setMovieView(PMMovieView* view) { _movieView = view; }

    // Follows the player: redraws only when the drawn position (a whole pixel) or a text
    // changed. Answers whether it redrew.
    bool updateFromPlayer();
    bool isTracking() const { return _isTracking; }

    // The controller's share of dragging (its own calls by default).
    std::function<float()> playerRate;
    std::function<bool()> playerIsPaused;
    std::function<void()> pausePlayer;
    std::function<void(float rate)> playAtRate;
    std::function<void(double seconds)> seek;

    // The rectangle of the selection for the bar rectangle (empty without a selection),
    // and drawing it with its shine.
    QRectF selectionRectInRect(const QRectF& rect, double duration) const;
    QRectF drawSelectionInRect(QPainter& painter, const QRectF& rect, double duration);
    static void drawShineInRect(QPainter& painter, const QRectF& rect);
    qint64 paintCount() const { return m_paintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void drawProgressBarInRect(QPainter& painter, const QRectF& rect);
    double timeAtX(double x) const;
    QString paintedState() const;

    PMMovieTimeSliderDelegate* _delegate = nullptr;
    QPointer<PMMovieView> _movieView;
    double _selectionStartTimeValue = -1;
    double _selectionEndTimeValue = -1;
    QList<double> _markerTimes;
    bool _isTracking = false;
    double _trackedValue = 0;
    float _rateBeforeTracking = 0;
    bool _wasPausedBeforeTracking = true;
    QString m_paintedState;
    qint64 m_paintCount = 0;
};

// ---- The bar

class PMPlaybackControlView : public PMKeyWindowReflectingView {
    Q_OBJECT
public:
    explicit PMPlaybackControlView(QWidget* parent = nullptr);
    bool reflectsKeyWindowStatusChangeForParentWindow() const override { return true; }
    void reflectKeyWindowStatusChange() override;

    QLabel* titleField() const { return _titleField; }
    QSlider* volumeSlider() const { return _volumeSlider; }
    PMMovieTimeSlider* timeSlider() const { return m_timeSlider; }
    PMContextButton* previousButton() const { return m_previous; }
    PMContextButton* nextButton() const { return m_next; }
    PMContextButton* playPauseSwitch() const { return m_playPause; }
    PMContextButton* windBackwardButton() const { return m_windBackward; }
    PMContextButton* windForwardButton() const { return m_windForward; }
    PMContextButton* muteButton() const { return m_mute; }
    void setPlaying(bool playing);
    void setMuted(bool muted);
    void setTitleVisible(bool visible);
    // The fast backward and forward buttons make no sense for still images, unplayable
    // items and movies shorter than 5 seconds (in whole seconds). Hidden, they leave their
    // places: the previous and next buttons move inwards by their own widths.
    static bool showsFastButtons(bool stillImage, bool playable, double durationSeconds);
    void setShowsFastButtons(bool shows);
    bool showsFastButtons() const { return m_showsFastButtons; }
    // The volume controls, hidden for a movie without sound.
    void setShowsVolume(bool shows);
    // The presentation toggle (its look follows whether a presentation runs) and the
    // aspect-ratio lock (its image and state as the controller decides).
    PMContextButton* presentationSwitch() const { return m_presentation; }
    PMContextButton* aspectRatioLockSwitch() const { return m_aspectRatioLock; }
    void setShowsAspectRatioLockSwitch(bool shows);
    void setPresenting(bool presenting);
    void setAspectRatioLockImage(const QString& glyphName, bool locked);
    // The picture's tools: the rotate button (a click turns, a drag previews a free turn)
    // and the crop button (on: the picture is cropped; active: a selection runs), shown
    // while a picture is; the chapters button, shown while the movie has markers.
    PMContextButton* rotateButton() const { return m_rotate; }
    PMContextButton* cropButton() const { return m_crop; }
    PMContextButton* chaptersButton() const { return m_chapters; }
    void setShowsPictureTools(bool shows);
    void setShowsChaptersButton(bool shows);
    bool showsChaptersButton() const { return m_showsChaptersButton; }
    void setCropButtonState(bool on, bool active);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutControls();
    QLabel* _titleField = nullptr;
    QSlider* _volumeSlider = nullptr;
    PMMovieTimeSlider* m_timeSlider = nullptr;
    PMContextButton* m_previous = nullptr;
    PMContextButton* m_windBackward = nullptr;
    PMContextButton* m_playPause = nullptr;
    PMContextButton* m_windForward = nullptr;
    PMContextButton* m_next = nullptr;
    PMContextButton* m_mute = nullptr;
    bool m_playing = false;
    bool m_muted = false;
    bool m_showsFastButtons = true;
    bool m_showsVolume = true;
    PMContextButton* m_presentation = nullptr;
    PMContextButton* m_aspectRatioLock = nullptr;
    bool m_showsPresentationSwitch = true;
    bool m_showsAspectRatioLockSwitch = true;
    PMContextButton* m_rotate = nullptr;
    PMContextButton* m_crop = nullptr;
    PMContextButton* m_chapters = nullptr;
    bool m_showsPictureTools = false;
    bool m_showsChaptersButton = false;
};

// ---- The floating window. Frames here are bottom-up (y is the bottom edge), as the
// placement descriptions count from the bottom.

struct PMControlsPlacement {
    QString x = QStringLiteral("Center");
    QString y = QStringLiteral("0.05");
};

// Snapping a proposed frame against the reference rectangle; updates the descriptions.
QRectF PMRasterControlsFrame(QRectF proposed, const QRectF& reference, PMControlsPlacement* placement);
// Where the floating bar goes in the reference rectangle; `canMove` and `height` out.
QRectF PMFloatingControlsFrame(const QRectF& reference, bool isPresentationWindow, const PMControlsPlacement& placement, bool* canMove);
// The fixed band (static) or the floating bar's reference, for a reference rectangle.
QRectF PMStaticControlsFrame(const QRectF& reference, bool presenting, bool controlsBelow, std::optional<double> targetHeight);

class PMPlaybackControlWindow : public QWidget {
    Q_OBJECT
public:
    explicit PMPlaybackControlWindow(QWidget* parent = nullptr);

    PMPlaybackControlView* controlView() const { return m_view; }
    QLabel* titleField() const;
    void setTitle(const QString& title);
    // Rides on the player window (nothing: free).
    void setParentWindow(QWidget* parent);
    QWidget* parentWindow() const { return m_parentWindow; }

    void setStatic(bool isStatic);
    bool isStatic() const { return _isStatic; }
    bool canMoveControls() const { return _canMoveControls; }
    QRectF referenceRect() const { return _referenceRect; }
    const PMControlsPlacement& placement() const { return m_placement; }
    // The bar's frame against the reference view r, converted into t's coordinates
    // (bottom-up; screen coordinates without t): the 61-point band for a static bar,
    // else the reference rectangle itself (the screen, less its camera gap, for a bar
    // floating in a native full-screen window). The reference rectangle goes out too.
    static QRectF playbackControlViewFrameWithReferenceView(QWidget* r, QWidget* t, bool isPresenting, bool isStatic,
                                                            QRectF* getOriginalReferenceRect);
    // Places the bar against the reference view (bottom-up global frames inside).
    void positionWithReferenceView(QWidget* reference, bool isPresenting);
    QRectF rasterFrame(const QRectF& proposed);
    void updateMaskImage();
    double cornerRadius() const { return _cornerRadius; }
    void setCornerRadius(double radius) { _cornerRadius = radius; }
    bool drawsShadow() const { return m_shadow; }

    // Bottom-up global frames and back (Qt's screen coordinates run top-down).
    static QRectF bottomUpFromGlobal(const QRect& global);
    static QRect globalFromBottomUp(const QRectF& frame);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void loadPlacement();
    PMPlaybackControlView* m_view = nullptr;
    QPointer<QWidget> m_parentWindow;
    bool _isStatic = false;
    bool _canMoveControls = false;
    QRectF _referenceRect;
    PMControlsPlacement m_placement;
    bool m_placementLoaded = false;
    double _cornerRadius = 7;
    bool m_shadow = false;
    bool m_presentationParent = false;
    // A drag of the bezel: where it began.
    std::optional<QPointF> m_dragStart;
    QRectF m_dragStartFrame;
};
