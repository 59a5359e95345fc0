// The OpenGL way of putting a movie view's picture on screen: a GL surface covering the
// view (mouse events pass through to the view). The player renders each frame into a
// framebuffer texture of the size the picture takes on screen, in the player's
// orientation; still and animated images become textures. Either texture is then drawn
// with the view's picture geometry, as the software path paints its image. GL work runs
// on the main thread only, in paintGL or with the context made current.
#pragma once

#include <QtCore/QPointer>
#include <QtGui/QOpenGLFunctions>
#include <QtGui/QTransform>
#include <QtOpenGLWidgets/QOpenGLWidget>

#include <memory>

class PMMovieView;
class QOpenGLFramebufferObject;
class QOpenGLShaderProgram;
class QOpenGLTexture;
namespace platform::media {
class Player;
}

class PMMovieGLSurface : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
public:
    explicit PMMovieGLSurface(PMMovieView* view);
    ~PMMovieGLSurface() override;

    // A new frame is waiting in the player: render and draw it now.
    void frameChanged();
    // The view shows another player (or none): the one shown so far goes back to the
    // software renderer. Its GL renderer is let go without waiting and freed with this
    // context current, at the latest when the context goes.
    void setPlayer(platform::media::Player* player);

    // Draws a texture of the size whose pixels the transform maps into the view (logical
    // coordinates of a view of `viewSize`), clipped to `clip` unless it is empty, into
    // the framebuffer bound now, whose size is `viewSize` × `ratio`. `program` is made
    // on first use in the current context.
    void drawTexture(unsigned texture, QSize texturePixels, const QTransform& frameToView, const QRectF& clip, QSize viewSize,
                     qreal ratio, bool smooth);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void releasePlayer();
    void releaseResources();
    // The texture of a still image (cached by the image's key), null when it cannot be made.
    QOpenGLTexture* textureForImage(const QImage& image);
    // Renders the player's frame into the framebuffer texture when a new one is waiting or
    // the target size changed; answers whether a frame is there to draw.
    bool renderPlayerFrame(platform::media::Player* player);

    PMMovieView* m_view;
    QPointer<platform::media::Player> m_player;
    std::unique_ptr<QOpenGLFramebufferObject> m_frameBuffer;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLTexture> m_imageTexture;
    qint64 m_imageKey = 0;
    QSize m_imageTextureSize;
    bool m_frameWaiting = false;
    bool m_hasFrame = false;
    int m_maxTextureSize = 0;
};
