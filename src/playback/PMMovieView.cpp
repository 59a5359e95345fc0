#include "playback/PMMovieView.h"

#include "library/model/PMMainController.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMMovieGLSurface.h"
#include "playback/PMPlayback.h"
#include "playback/PMPlayerWindows.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtGui/QGuiApplication>
#include <QtCore/QLoggingCategory>
#include <QtGui/QMouseEvent>
#include <QtGui/QOffscreenSurface>
#include <QtGui/QOpenGLContext>
#include <QtGui/QOpenGLFunctions>
#include <QtGui/QPainter>
#include <QtGui/QStyleHints>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cmath>
#include <limits>

using platform::media::Player;

namespace {

constexpr double kEpsilon = std::numeric_limits<float>::epsilon();

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

std::optional<bool>& openGLChoice()
{
    static std::optional<bool> choice;
    return choice;
}

int normalizedQuarterAngle(int angle)
{
    const int a = ((angle % 360) + 360) % 360;
    return (a + 45) / 90 % 4 * 90;
}

} // namespace

PMMoviePictureGeometry PMMoviePictureGeometryFor(QSizeF natural, QSize framePixels, bool flipHorizontally, int angle,
                                                 const platform::DictionaryPtr& visibleArea, std::optional<double> aspectRatio,
                                                 const QRectF& bounds)
{
    PMMoviePictureGeometry g;
    if (natural.width() <= 0 || natural.height() <= 0 || framePixels.isEmpty())
        return g;
    const double nw = natural.width(), nh = natural.height();
    // Frame pixels to the picture's points.
    QTransform t = QTransform::fromScale(nw / framePixels.width(), nh / framePixels.height());
    if (flipHorizontally)
        t *= QTransform(-1, 0, 0, 1, nw, 0);
    // Turning clockwise about the origin, then back into the positive quadrant.
    switch (normalizedQuarterAngle(angle)) {
    case 90:
        t *= QTransform(0, 1, -1, 0, nh, 0);
        g.turnedSize = QSizeF(nh, nw);
        break;
    case 180:
        t *= QTransform(-1, 0, 0, -1, nw, nh);
        g.turnedSize = natural;
        break;
    case 270:
        t *= QTransform(0, -1, 1, 0, 0, nw);
        g.turnedSize = QSizeF(nh, nw);
        break;
    default:
        g.turnedSize = natural;
        break;
    }
    const double W = g.turnedSize.width(), H = g.turnedSize.height();
    QRectF visible(0, 0, W, H);
    if (visibleArea) {
        const auto number = [&](const char* key) { return visibleArea->value(QLatin1String(key)).toDouble(); };
        const double w = W * number("w"), h = H * number("h");
        const QRectF area = QRectF(W * number("x"), H - H * number("y") - h, w, h).intersected(visible);
        if (area.width() > 0 && area.height() > 0)
            visible = area;
    }
    g.visibleRect = visible;
    g.shownSize = QSizeF(visible.width(), aspectRatio && *aspectRatio > 0 ? visible.width() * *aspectRatio : visible.height());
    if (bounds.isEmpty() || g.shownSize.isEmpty())
        return g;
    const double scale = std::min(bounds.width() / g.shownSize.width(), bounds.height() / g.shownSize.height());
    const QSizeF fitted = g.shownSize * scale;
    g.destination = QRectF(bounds.x() + (bounds.width() - fitted.width()) / 2, bounds.y() + (bounds.height() - fitted.height()) / 2,
                           fitted.width(), fitted.height());
    t *= QTransform::fromTranslate(-visible.x(), -visible.y());
    t *= QTransform::fromScale(g.destination.width() / visible.width(), g.destination.height() / visible.height());
    t *= QTransform::fromTranslate(g.destination.x(), g.destination.y());
    g.transform = t;
    return g;
}

int PMNavigationAreaAt(QPointF point, QSizeF visibleSize, const PMNavigationAreaState& s)
{
    const double W = visibleSize.width(), H = visibleSize.height();
    if (!(point.x() >= 0 && point.y() >= 0 && point.x() < W && point.y() < H))
        return 0;
    int d;
    if (s.nextEnabled && s.showsStillImage)
        d = s.playPauseArea && (s.playPauseAlways || s.isPlaying) ? 3 : 2;
    else
        d = s.playPauseArea ? 3 : 0;
    const double size = s.size;
    if (!(size > kEpsilon))
        return d;
    const double x = point.x();
    if (point.y() < size) { // the top strip
        const double split = s.splitTopStripAtSize ? size : W / 2;
        if (x < split)
            return s.previousEnabled ? 1 : d;
        return s.nextEnabled ? 2 : d;
    }
    if (x < size && s.previousEnabled)
        return 1;
    if (x > W - size)
        return s.nextEnabled ? 2 : d;
    return d;
}

PMMovieView::PMMovieView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setAutoFillBackground(false);
    m_animationTimer.setSingleShot(true);
    connect(&m_animationTimer, &QTimer::timeout, this, &PMMovieView::animateMovieReplacingImage);
    m_singleClickTimer.setSingleShot(true);
    connect(&m_singleClickTimer, &QTimer::timeout, this, [this] {
        // No second click came: a click on a paused movie starts it.
        if (!m_wasPlayingAtClick && play)
            play();
    });
    if (drawsWithOpenGL())
        m_glSurface = new PMMovieGLSurface(this);
    setContent(std::make_shared<PMPlayerViewContent>());
}

PMMovieView::~PMMovieView()
{
    if (m_content)
        m_content->needsDisplayHandler = nullptr;
    // The surface's context goes first; the player goes back to software before.
    delete m_glSurface;
    m_glSurface = nullptr;
}

bool PMMovieView::canMakeOpenGLContext(QString* reason, QString* renderer)
{
    const auto fail = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    // Widgets on these platforms are drawn into images only: no GL surface can show.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return fail(QStringLiteral("the \"%1\" platform has no OpenGL widgets").arg(platform));
    QOpenGLContext context;
    if (!context.create())
        return fail(QStringLiteral("no OpenGL context can be made on the \"%1\" platform").arg(QGuiApplication::platformName()));
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return fail(QStringLiteral("an OpenGL context cannot be made current"));
    if (renderer) {
        const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
        *renderer = QString::fromLatin1(name ? name : "");
    }
    context.doneCurrent();
    return true;
}

namespace {

bool rendersOnTheProcessor(const QString& renderer)
{
    for (const char* software : {"llvmpipe", "softpipe", "Software Rasterizer"})
        if (renderer.contains(QLatin1String(software), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

bool PMMovieView::drawsWithOpenGL()
{
    std::optional<bool>& choice = openGLChoice();
    if (choice)
        return *choice;
    QString reason;
    QString renderer;
    if (qEnvironmentVariableIntValue("PELLIS_MOVIE_VIEW_SOFTWARE") != 0)
        reason = QStringLiteral("PELLIS_MOVIE_VIEW_SOFTWARE is set");
    else if (canMakeOpenGLContext(&reason, &renderer) && rendersOnTheProcessor(renderer))
        // OpenGL drawn by the processor (Mesa's llvmpipe or softpipe, as on machines without
        // a graphics driver) costs several times what the engine's own software renderer does.
        reason = QStringLiteral("OpenGL is drawn by the processor: %1").arg(renderer);
    choice = reason.isEmpty();
    if (*choice)
        qInfo("movie view: drawing with OpenGL");
    else
        qInfo("movie view: drawing with the software renderer (%s)", qPrintable(reason));
    return *choice;
}

void PMMovieView::setDrawsWithOpenGL(bool openGL)
{
    openGLChoice() = openGL;
}

void PMMovieView::setContent(std::shared_ptr<PMPlayerViewContent> content)
{
    if (m_content)
        m_content->needsDisplayHandler = nullptr;
    m_content = content ? std::move(content) : std::make_shared<PMPlayerViewContent>();
    if (m_content) {
        QPointer<PMMovieView> self(this);
        m_content->needsDisplayHandler = [self] {
            if (self)
                self->contentDidChange();
        };
    }
    contentDidChange();
}

void PMMovieView::contentDidChange()
{
    // A new image starts at its first frame; animation follows the content's wish.
    const void* image = m_content && m_content->movieReplacingImage ? m_content->movieReplacingImage.get() : nullptr;
    if (image != m_shownImage) {
        m_shownImage = image;
        setAnimatesMovieReplacingImage(false);
        _currentMovieReplacingImageAnimationFrame = -1;
    }
    if (m_content)
        setAnimatesMovieReplacingImage(m_content->animatesMovieReplacingImage);
    Player* player = m_content ? m_content->moviePlayer.get() : nullptr;
    if (player != m_connectedPlayer.data()) {
        if (m_connectedPlayer)
            disconnect(m_connectedPlayer, nullptr, this, nullptr);
        m_connectedPlayer = player;
        if (player) {
            // Each new frame is painted at once: a deferred update merges frames that come
            // close together and loses them.
            connect(player, &Player::frameChanged, this, [this] {
                if (m_glSurface)
                    m_glSurface->frameChanged();
                else if (isVisible())
                    repaint();
            });
            connect(player, &Player::presentationSizeChanged, this, [this] {
                updateSoftwareTargetSize();
                redisplay();
            });
        }
    }
    if (m_glSurface)
        m_glSurface->setPlayer(player);
    updateSoftwareTargetSize();
    redisplay();
}

void PMMovieView::setMoviePlayer(const std::shared_ptr<Player>& player)
{
    m_content->moviePlayer = player;
    contentDidChange();
}

void PMMovieView::setMovieReplacingImage(const platform::ImagePtr& image)
{
    m_content->movieReplacingImage = image;
    contentDidChange();
}

void PMMovieView::setMoviePlayerAngle(int angle)
{
    m_content->angle = angle;
    contentDidChange();
}

int PMMovieView::moviePlayerAngle() const
{
    return m_content ? m_content->angle : 0;
}

void PMMovieView::setFlipsMoviePlayerHorizontally(bool flips)
{
    m_content->flipsHorizontally = flips;
    contentDidChange();
}

bool PMMovieView::flipsMoviePlayerHorizontally() const
{
    return m_content && m_content->flipsHorizontally;
}

PMPlayerWindowPrototype* PMMovieView::playerWindow() const
{
    return qobject_cast<PMPlayerWindowPrototype*>(window());
}

// ---------------------------------------------------------------------------
// Animated images

double PMMovieView::currentMovieReplacingImageAnimationFrameDuration()
{
    const auto& frames = m_content && m_content->movieReplacingImage ? m_content->movieReplacingImage->associatedAnimationFrames
                                                                      : std::vector<platform::AnimationFrameRecord>();
    const int count = int(frames.size());
    if (count < 2) {
        _currentMovieReplacingImageAnimationFrame = -1;
        return -1;
    }
    if (_currentMovieReplacingImageAnimationFrame < 0)
        _currentMovieReplacingImageAnimationFrame = count - 1;
    else if (_currentMovieReplacingImageAnimationFrame >= count)
        _currentMovieReplacingImageAnimationFrame = 0;
    return frames[size_t(_currentMovieReplacingImageAnimationFrame)].duration;
}

bool PMMovieView::canAnimateMovieReplacingImage()
{
    return currentMovieReplacingImageAnimationFrameDuration() > 0;
}

void PMMovieView::setAnimatesMovieReplacingImage(bool animates)
{
    const double duration = animates ? currentMovieReplacingImageAnimationFrameDuration() : -1;
    if (animates && duration > 0) {
        if (!_animatesMovieReplacingImage) {
            _animatesMovieReplacingImage = true;
            m_animationTimer.start(int(std::lround(duration * 1000)));
        }
    } else {
        _animatesMovieReplacingImage = false;
        m_animationTimer.stop();
    }
}

void PMMovieView::animateMovieReplacingImage()
{
    ++_currentMovieReplacingImageAnimationFrame;
    const double duration = currentMovieReplacingImageAnimationFrameDuration();
    if (duration > 0 && _animatesMovieReplacingImage) {
        m_animationTimer.start(int(std::lround(duration * 1000)));
        redisplay();
    } else {
        _animatesMovieReplacingImage = false;
    }
}

bool PMMovieView::seekToMovieReplacingImageAnimationFrameWithDelta(int delta)
{
    _currentMovieReplacingImageAnimationFrame = std::max(_currentMovieReplacingImageAnimationFrame, 0) + delta;
    const bool can = canAnimateMovieReplacingImage();
    if (can)
        redisplay();
    return can;
}

// ---------------------------------------------------------------------------
// Drawing

void PMMovieView::setRotationPreviewAngle(double angle)
{
    m_rotationPreviewAngle = angle;
    redisplay();
}

void PMMovieView::endRotationPreview()
{
    m_rotationPreviewAngle.reset();
    redisplay();
}

QImage PMMovieView::currentPicture(QSizeF* natural) const
{
    if (!m_content)
        return {};
    if (const platform::ImagePtr& image = m_content->movieReplacingImage) {
        const auto& frames = image->associatedAnimationFrames;
        const int index = _currentMovieReplacingImageAnimationFrame;
        if (index >= 0 && index < int(frames.size())) {
            const QImage& frame = frames[size_t(index)].image;
            *natural = image->size().isEmpty() ? QSizeF(frame.size()) : image->size();
            return frame;
        }
        *natural = image->size();
        return image->pixels();
    }
    if (const PMPlayerPtr& player = m_content->moviePlayer) {
        const QImage frame = player->currentFrame();
        const QSize presentation = player->presentationSize();
        *natural = presentation.isEmpty() ? QSizeF(frame.size()) : QSizeF(presentation);
        return frame;
    }
    return {};
}

PMMoviePictureGeometry PMMovieView::currentGeometry() const
{
    if (!m_content)
        return {};
    QSizeF natural;
    QSize pixels;
    Player* player = m_content->moviePlayer.get();
    if (m_glSurface && !m_content->movieReplacingImage && player) {
        // The GL surface draws the frame at the target size.
        natural = QSizeF(player->presentationSize());
        pixels = pictureTargetSize();
    } else {
        const QImage picture = currentPicture(&natural);
        pixels = picture.size();
    }
    if (pixels.isEmpty())
        return {};
    return PMMoviePictureGeometryFor(natural, pixels, m_content->flipsHorizontally, m_content->angle, m_content->visibleArea,
                                     m_content->aspectRatio, QRectF(rect()));
}

void PMMovieView::updateSoftwareTargetSize()
{
    Player* player = m_content ? m_content->moviePlayer.get() : nullptr;
    if (!player || m_glSurface || player->usesOpenGL())
        return;
    const QSize size = pictureTargetSize();
    if (!size.isEmpty())
        player->setSoftwareTargetSize(size);
}

QSize PMMovieView::pictureTargetSize() const
{
    Player* player = m_content ? m_content->moviePlayer.get() : nullptr;
    if (!player)
        return {};
    const QSize presentation = player->presentationSize();
    if (presentation.isEmpty() || width() < 1 || height() < 1)
        return {};
    // The frame is rendered at the size the whole (uncut) picture takes in the view, in
    // the player's orientation and proportions, so that painting it only turns it.
    const PMMoviePictureGeometry g = PMMoviePictureGeometryFor(QSizeF(presentation), presentation, m_content->flipsHorizontally,
                                                               m_content->angle, m_content->visibleArea, m_content->aspectRatio, QRectF(rect()));
    if (g.destination.isEmpty() || g.visibleRect.isEmpty())
        return {};
    const double ratio = devicePixelRatioF();
    const bool turned = normalizedQuarterAngle(m_content->angle) % 180 == 90;
    // Widths of the whole turned picture in view pixels, back in the player's orientation.
    const double turnedWidth = g.destination.width() / g.visibleRect.width() * g.turnedSize.width() * ratio;
    const double turnedHeight = g.destination.height() / g.visibleRect.height() * g.turnedSize.height() * ratio;
    double w = turned ? turnedHeight : turnedWidth;
    w = std::clamp(w, 16.0, 8192.0);
    const double h = std::clamp(w * presentation.height() / presentation.width(), 16.0, 8192.0);
    return QSize(int(std::lround(w)), int(std::lround(h)));
}

void PMMovieView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_glSurface)
        m_glSurface->setGeometry(rect());
    updateSoftwareTargetSize();
}

void PMMovieView::redisplay()
{
    if (m_glSurface)
        m_glSurface->update();
    else
        update();
}

QColor PMMovieView::backgroundColor() const
{
    const bool showsImage = m_content && m_content->movieReplacingImage;
    return showsImage ? QColor::fromRgbF(0.93f, 0.93f, 0.93f) : QColor(Qt::black);
}

QTransform PMMovieView::paintTransform(const PMMoviePictureGeometry& g) const
{
    QTransform transform = g.transform;
    if (m_rotationPreviewAngle) {
        // The preview turns the shown picture about the view's centre.
        const double a = std::fmod(360.0 - std::fmod(*m_rotationPreviewAngle, 360.0), 360.0);
        const QPointF c = QRectF(rect()).center();
        transform *= QTransform::fromTranslate(-c.x(), -c.y()) * QTransform().rotate(-a) * QTransform::fromTranslate(c.x(), c.y());
    }
    return transform;
}

void PMMovieView::paintEvent(QPaintEvent*)
{
    // With OpenGL the surface covering the view draws.
    if (m_glSurface)
        return;
    ++m_paintCount;
    QPainter painter(this);
    QSizeF natural;
    const QImage picture = currentPicture(&natural);
    const PMMoviePictureGeometry g = picture.isNull() ? PMMoviePictureGeometry{}
                                                      : PMMoviePictureGeometryFor(natural, picture.size(), m_content->flipsHorizontally, m_content->angle,
                                                                                  m_content->visibleArea, m_content->aspectRatio, QRectF(rect()));
    // The background only around the picture: painting it under an opaque picture that
    // covers the view writes every pixel twice, each frame. The picture's edge pixels,
    // partly covered, get both.
    QRegion background(rect());
    const bool opaquePicture = !picture.hasAlphaChannel() && !m_rotationPreviewAngle;
    if (opaquePicture && !g.destination.isEmpty()) {
        const QRectF d = g.destination;
        const int left = int(std::ceil(d.left())), top = int(std::ceil(d.top()));
        const int right = int(std::floor(d.right())), bottom = int(std::floor(d.bottom()));
        if (right > left && bottom > top)
            background -= QRect(left, top, right - left, bottom - top);
    }
    for (const QRect& r : background)
        painter.fillRect(r, backgroundColor());
    if (picture.isNull() || g.destination.isEmpty())
        return;
    const QTransform transform = paintTransform(g);
    if (!m_rotationPreviewAngle)
        painter.setClipRect(g.destination);
    // Scaling to the view's size is sharp only with smoothing; at 1:1 it costs nothing.
    const bool identityScale = std::fabs(std::fabs(transform.m11()) + std::fabs(transform.m21()) - 1.0) < 1e-3 &&
                               std::fabs(std::fabs(transform.m12()) + std::fabs(transform.m22()) - 1.0) < 1e-3;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !identityScale);
    painter.setTransform(transform);
    painter.drawImage(QPointF(0, 0), picture);
}

// ---------------------------------------------------------------------------
// Navigation areas and clicks

bool PMMovieView::controllerIsPlaying() const
{
    return isPlaying ? isPlaying() : false;
}

void PMMovieView::updateNavigationAreaWithEvent(const QPointF* localPoint, QWidget* forWindow)
{
    int area = 0;
    QPointF point;
    bool have = false;
    if (localPoint) {
        point = *localPoint;
        have = true;
    } else if (forWindow) {
        point = mapFromGlobal(QCursor::pos());
        have = true;
    }
    const QRect visible = visibleRegion().boundingRect();
    if (have && !visible.isEmpty() && visible.contains(point.toPoint())) {
        bool overChild = false;
        if (childWindows) {
            const QPoint global = mapToGlobal(point.toPoint());
            for (QWidget* child : childWindows())
                if (child && child->isVisible() && child->windowOpacity() > kEpsilon && child->frameGeometry().contains(global))
                    overChild = true;
        }
        if (!overChild) {
            PMNavigationAreaState s;
            s.previousEnabled = _previousMovieButton && _previousMovieButton->isEnabled();
            s.nextEnabled = _nextMovieButton && _nextMovieButton->isEnabled();
            s.playPauseEnabled = _playPauseSwitch && _playPauseSwitch->isEnabled();
            s.playPauseArea = s.playPauseEnabled && settings().boolForKey(prefs::keys::NavigationAreaPlayPause);
            s.playPauseAlways = settings().boolForKey(prefs::keys::NavigationAreaPlayPauseAlways);
            s.showsStillImage = m_content && m_content->movieReplacingImage && !_animatesMovieReplacingImage;
            s.isPlaying = controllerIsPlaying();
            const platform::Value size = settings().objectForKey(prefs::keys::NavigationAreaSize);
            s.size = size.hasNumericValue() ? size.toDouble() : 50.0;
            s.splitTopStripAtSize = settings().boolForKey(prefs::keys::PlayerWidthResizeFromLeft) ||
                                    (window() && window() == mainController().mainWindow());
            area = PMNavigationAreaAt(point - QPointF(visible.topLeft()), QSizeF(visible.size()), s);
        }
    }
    setNavigationArea(area);
}

void PMMovieView::setNavigationArea(int area)
{
    if (area == _navigationArea)
        return;
    _navigationArea = area;
    const auto emphasize = [](QAbstractButton* button, bool on) {
        if (auto* context = qobject_cast<PMContextButton*>(button))
            context->setEmphasized(on);
    };
    emphasize(_previousMovieButton, area == 1);
    emphasize(_nextMovieButton, area == 2);
    emphasize(_playPauseSwitch, area == 3 && settings().boolForKey(prefs::keys::NavigationAreaPlayPauseHighlight));
}

void PMMovieView::updateTrackingAreasForWindow(QWidget* window)
{
    m_tracking = window && window->isActiveWindow() && isVisible() && !visibleRegion().isEmpty();
    updateNavigationAreaWithEvent(nullptr, m_tracking ? window : nullptr);
}

void PMMovieView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    updateNavigationAreaWithEvent(nullptr, window());
}

void PMMovieView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    updateNavigationAreaWithEvent(nullptr, nullptr);
}

void PMMovieView::mouseMoveEvent(QMouseEvent* event)
{
    // The areas follow the pointer only in the active window.
    const QPointF p = event->position();
    if (window()->isActiveWindow())
        updateNavigationAreaWithEvent(&p, window());
    QWidget::mouseMoveEvent(event);
}

bool PMMovieView::clickNavigationButton()
{
    if (_navigationArea != 1 && _navigationArea != 2)
        return false;
    if (QAbstractButton* button = _navigationArea == 1 ? _previousMovieButton : _nextMovieButton)
        button->click();
    return true;
}

void PMMovieView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore(); // right clicks go to the container's menu
        return;
    }
    const QPointF p = event->position();
    updateNavigationAreaWithEvent(&p, window());
    if (!clickNavigationButton() && _navigationArea == 3) {
        m_wasPlayingAtClick = controllerIsPlaying();
        if (m_wasPlayingAtClick && pause)
            pause();
        m_singleClickTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 10);
    }
    updateNavigationAreaWithEvent(&p, window());
}

void PMMovieView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPointF p = event->position();
    updateNavigationAreaWithEvent(&p, window());
    if (clickNavigationButton())
        return;
    // A second click within the interval: playback stays as it was before the first.
    if (m_singleClickTimer.isActive()) {
        m_singleClickTimer.stop();
        if (m_wasPlayingAtClick && play)
            play();
    }
    if (togglePresentation)
        togglePresentation();
}

void PMMovieView::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
}
