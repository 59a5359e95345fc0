// The one view that shows the current movie or still image. It draws the player's frames
// and still or animated images itself, through one geometry that turns, mirrors, cuts to
// the visible area and stretches to the aspect ratio, and one of two ways to put pixels on
// screen: with OpenGL (the engine renders into a texture that a GL surface covering the
// view draws) where a GL context can be made, else with the software renderer's image
// painted by QPainter. The choice is made once, for all views. The view plays
// the frames of an animated image on its own timer; and it divides its surface into
// navigation areas: the edges (and the halves of the top strip) stand for "previous" and
// "next", the middle for play/pause.
#pragma once

#include "platform/Image.h"
#include "platform/Value.h"

#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QTransform>
#include <QtWidgets/QWidget>

#include <functional>
#include <memory>
#include <optional>

class PMContextButton;
class PMMovieGLSurface;
class PMPlayerWindowPrototype;
struct PMPlayerViewContent;
namespace platform::media {
class Player;
}
#include <QtWidgets/QAbstractButton>

// Where the picture lands in a view. `natural` is the picture's size in points as the
// source shows it (before our own turning), `framePixels` the size of the image drawn.
// The picture is mirrored first, then turned clockwise by the angle (a multiple of 90),
// cut to the visible area ("x", "y", "w", "h": fractions of the turned picture, origin at
// the lower left) and given the aspect ratio (height / width of the shown picture); it is
// then fitted into the bounds, centred.
struct PMMoviePictureGeometry {
    QTransform transform;  // frame pixels to view coordinates
    QRectF destination;    // where the shown picture lies in the view
    QSizeF shownSize;      // the shown picture's own size in points
    QRectF visibleRect;    // the visible part of the turned picture (top-left origin)
    QSizeF turnedSize;     // the turned picture's size in points
};
PMMoviePictureGeometry PMMoviePictureGeometryFor(QSizeF natural, QSize framePixels, bool flipHorizontally, int angle,
                                                 const platform::DictionaryPtr& visibleArea, std::optional<double> aspectRatio,
                                                 const QRectF& bounds);

// Navigation areas: 0 none, 1 previous, 2 next, 3 play/pause.
struct PMNavigationAreaState {
    bool previousEnabled = false;
    bool nextEnabled = false;
    bool playPauseEnabled = false;
    bool playPauseArea = false;       // "Navigation Area: Play/Pause"
    bool playPauseAlways = false;     // "Navigation Area: Play/Pause: Always"
    bool showsStillImage = false;     // a replacing image that does not animate
    bool isPlaying = false;
    double size = 50;                 // "Navigation Area: Size"
    bool splitTopStripAtSize = false; // main window or "Player Width: Resize From Left"
};
// The area at the point (top-left origin, relative to the visible rectangle of the size).
int PMNavigationAreaAt(QPointF point, QSizeF visibleSize, const PMNavigationAreaState& state);

class PMMovieView : public QWidget {
    Q_OBJECT
public:
    explicit PMMovieView(QWidget* parent = nullptr);
    ~PMMovieView() override;

    // Whether views draw with OpenGL: decided on the first call (or the first view) and
    // logged. PELLIS_MOVIE_VIEW_SOFTWARE=1 and the offscreen and minimal platforms keep
    // the software path, and so does an OpenGL drawn by the processor (llvmpipe);
    // otherwise OpenGL is used if a context can be made.
    static bool drawsWithOpenGL();
    // Overrides the choice for views made from now on (tests, benchmarks).
    static void setDrawsWithOpenGL(bool openGL);
    // Whether a GL context can be made and made current here; if not, why.
    static bool canMakeOpenGLContext(QString* reason = nullptr, QString* renderer = nullptr);
    // Whether this view draws with OpenGL.
    bool usesOpenGL() const { return m_glSurface != nullptr; }

    // What the view shows; the controller owns it and tells the view to redisplay.
    void setContent(std::shared_ptr<PMPlayerViewContent> content);
    PMPlayerViewContent* content() const { return m_content.get(); }
    // The content changed (player, image, angle, mirroring, visible area).
    void contentDidChange();

    // What is shown, through the content.
    void setMoviePlayer(const std::shared_ptr<platform::media::Player>& player);
    void setMovieReplacingImage(const platform::ImagePtr& image);
    void setMoviePlayerAngle(int angle);
    int moviePlayerAngle() const;
    void setFlipsMoviePlayerHorizontally(bool flips);
    bool flipsMoviePlayerHorizontally() const;
    // Turning and mirroring are applied when painting; this only redraws.
    void updatePlayerLayerTransform() { redisplay(); }
    // Draws again, soon.
    void redisplay();

    // The window when it is a player window, else nothing.
    PMPlayerWindowPrototype* playerWindow() const;

    // Animated images.
    double currentMovieReplacingImageAnimationFrameDuration();
    bool canAnimateMovieReplacingImage();
    bool seekToMovieReplacingImageAnimationFrameWithDelta(int delta);
    void animateMovieReplacingImage();
    void setAnimatesMovieReplacingImage(bool animates);
    bool animatesMovieReplacingImage() const { return _animatesMovieReplacingImage; }
    int currentMovieReplacingImageAnimationFrame() const { return _currentMovieReplacingImageAnimationFrame; }

    // The drag-to-rotate preview: the picture shown turned by the angle (degrees).
    void setRotationPreviewAngle(double angle);
    void endRotationPreview();
    std::optional<double> rotationPreviewAngle() const { return m_rotationPreviewAngle; }

    // Navigation areas.
    void updateNavigationAreaWithEvent(const QPointF* localPoint, QWidget* forWindow);
    void updateTrackingAreasForWindow(QWidget* window);
    int navigationArea() const { return _navigationArea; }
    QAbstractButton* previousMovieButton() const { return _previousMovieButton; }
    void setPreviousMovieButton(QAbstractButton* button) { _previousMovieButton = button; }
    QAbstractButton* nextMovieButton() const { return _nextMovieButton; }
    void setNextMovieButton(QAbstractButton* button) { _nextMovieButton = button; }
    QAbstractButton* playPauseSwitch() const { return _playPauseSwitch; }
    void setPlayPauseSwitch(QAbstractButton* button) { _playPauseSwitch = button; }
    // The windows riding on the view's window whose area gives no navigation area (the
    // floating controls).
    std::function<QList<QWidget*>()> childWindows;

    // The controller's share of clicks (the controller's own calls by default).
    std::function<bool()> isPlaying;
    std::function<void()> play;
    std::function<void()> pause;
    std::function<void()> togglePresentation;

    // Where the picture lies now, and how often the view was painted (tests, bench).
    PMMoviePictureGeometry currentGeometry() const;
    qint64 paintCount() const { return m_paintCount; }
    // The size in device pixels, in the player's orientation, at which the engine renders
    // the frame: the whole (uncut) picture as large as it is shown. Empty without a player.
    QSize pictureTargetSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    friend class PMMovieGLSurface;
    QImage currentPicture(QSizeF* natural) const;
    // The geometry's transform, with the rotation preview's turn about the centre.
    QTransform paintTransform(const PMMoviePictureGeometry& g) const;
    QColor backgroundColor() const;
    void updateSoftwareTargetSize();
    void setNavigationArea(int area);
    // In the edge areas a click is the previous or next button's; answers whether it was.
    bool clickNavigationButton();
    bool controllerIsPlaying() const;

    std::shared_ptr<PMPlayerViewContent> m_content;
    int _currentMovieReplacingImageAnimationFrame = -1;
    int _navigationArea = 0;
    bool _animatesMovieReplacingImage = false;
    QTimer m_animationTimer;
    std::optional<double> m_rotationPreviewAngle;
    QPointer<QAbstractButton> _previousMovieButton;
    QPointer<QAbstractButton> _nextMovieButton;
    QPointer<QAbstractButton> _playPauseSwitch;
    QPointer<QObject> m_connectedPlayer;
    const void* m_shownImage = nullptr;
    // A single click in the play/pause area waits for a second one.
    QTimer m_singleClickTimer;
    bool m_wasPlayingAtClick = false;
    bool m_tracking = false;
    qint64 m_paintCount = 0;
    PMMovieGLSurface* m_glSurface = nullptr;
};
