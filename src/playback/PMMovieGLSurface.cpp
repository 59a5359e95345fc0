#include "playback/PMMovieGLSurface.h"

#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"

#include <QtGui/QOpenGLContext>
#include <QtOpenGL/QOpenGLFramebufferObject>
#include <QtOpenGL/QOpenGLShaderProgram>
#include <QtOpenGL/QOpenGLTexture>

#include <cmath>

using platform::media::Player;

namespace {

// mpv resolves GL functions through the widget's context (passed back as `context`).
void* glProcAddress(void* context, const char* name)
{
    return reinterpret_cast<void*>(static_cast<QOpenGLContext*>(context)->getProcAddress(name));
}

const char* const kVertexShader = R"(
attribute highp vec2 position;
attribute highp vec2 texcoord;
varying highp vec2 coordinate;
void main()
{
    coordinate = texcoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

const char* const kFragmentShader = R"(
uniform sampler2D picture;
varying highp vec2 coordinate;
void main()
{
    gl_FragColor = vec4(texture2D(picture, coordinate).rgb, 1.0);
}
)";

} // namespace

PMMovieGLSurface::PMMovieGLSurface(PMMovieView* view) : QOpenGLWidget(view), m_view(view)
{
    // The view keeps the clicks, the pointer and the keys.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

PMMovieGLSurface::~PMMovieGLSurface()
{
    releaseResources();
}

void PMMovieGLSurface::releaseResources()
{
    if (!context())
        return;
    makeCurrent();
    releasePlayer();
    // Renderers of players let go are freed now, while their context is still there.
    Player::endOpenGLRenderersOf(context());
    m_frameBuffer.reset();
    m_program.reset();
    m_imageTexture.reset();
    m_imageKey = 0;
    m_hasFrame = false;
    doneCurrent();
}

void PMMovieGLSurface::releasePlayer()
{
    if (m_player && context() && m_player->openGLContext() == context())
        m_player->useSoftware();
    m_hasFrame = false;
}

void PMMovieGLSurface::setPlayer(Player* player)
{
    if (player == m_player)
        return;
    if (m_player && context()) {
        makeCurrent();
        releasePlayer();
        doneCurrent();
    }
    m_player = player;
    m_hasFrame = false;
    m_frameWaiting = true;
}

void PMMovieGLSurface::frameChanged()
{
    m_frameWaiting = true;
    if (isVisible())
        repaint();
}

void PMMovieGLSurface::initializeGL()
{
    initializeOpenGLFunctions();
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &m_maxTextureSize);
    // The widget's context goes when the widget moves to another window: mpv's renderer
    // and our textures go with it, and come back with the next paint.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &PMMovieGLSurface::releaseResources, Qt::UniqueConnection);
    m_frameWaiting = true;
}

bool PMMovieGLSurface::renderPlayerFrame(Player* player)
{
    QOpenGLContext* glContext = context();
    if (player->openGLContext() != glContext) {
        QPointer<PMMovieGLSurface> self(this);
        if (!player->useOpenGL(&glProcAddress, glContext, [self, glContext] {
                if (!self || self->context() != glContext)
                    return false;
                self->makeCurrent();
                return QOpenGLContext::currentContext() == glContext;
            }))
            return false;
        m_hasFrame = false;
        m_frameWaiting = true;
    }
    const QSize target = m_view->pictureTargetSize();
    if (target.isEmpty())
        return false;
    if (!m_frameBuffer || m_frameBuffer->size() != target) {
        m_frameBuffer = std::make_unique<QOpenGLFramebufferObject>(target);
        m_frameWaiting = true;
        if (!m_frameBuffer->isValid()) {
            m_frameBuffer.reset();
            return false;
        }
    }
    if (m_frameWaiting || !m_hasFrame) {
        m_frameWaiting = false;
        player->renderOpenGL(int(m_frameBuffer->handle()), target.width(), target.height(), false);
        // mpv leaves its own bindings behind.
        glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
        m_hasFrame = true;
    }
    return m_hasFrame;
}

QOpenGLTexture* PMMovieGLSurface::textureForImage(const QImage& image)
{
    if (image.isNull())
        return nullptr;
    if (m_imageTexture && m_imageKey == image.cacheKey())
        return m_imageTexture.get();
    QImage upload = image;
    // An image larger than the GL limit is shown from a smaller copy.
    if (m_maxTextureSize > 0 && (upload.width() > m_maxTextureSize || upload.height() > m_maxTextureSize))
        upload = upload.scaled(m_maxTextureSize, m_maxTextureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_imageTexture = std::make_unique<QOpenGLTexture>(upload.convertToFormat(QImage::Format_RGBA8888), QOpenGLTexture::GenerateMipMaps);
    if (!m_imageTexture->isCreated()) {
        m_imageTexture.reset();
        return nullptr;
    }
    m_imageTexture->setWrapMode(QOpenGLTexture::ClampToEdge);
    m_imageKey = image.cacheKey();
    m_imageTextureSize = upload.size();
    return m_imageTexture.get();
}

void PMMovieGLSurface::paintGL()
{
    ++m_view->m_paintCount;
    if (!context())
        return;
    const QColor background = m_view->backgroundColor();
    glDisable(GL_SCISSOR_TEST);
    glClearColor(background.redF(), background.greenF(), background.blueF(), 1);
    glClear(GL_COLOR_BUFFER_BIT);
    PMPlayerViewContent* content = m_view->content();
    if (!content)
        return;
    unsigned texture = 0;
    QSize pixels;
    QSizeF natural;
    bool smooth = true;
    if (content->movieReplacingImage) {
        const QImage picture = m_view->currentPicture(&natural);
        QOpenGLTexture* imageTexture = textureForImage(picture);
        if (!imageTexture)
            return;
        texture = imageTexture->textureId();
        // Geometry in the image's own pixels; the texture may be a smaller copy.
        pixels = picture.size();
        imageTexture->setMinificationFilter(QOpenGLTexture::LinearMipMapLinear);
        imageTexture->setMagnificationFilter(QOpenGLTexture::Linear);
    } else if (Player* player = content->moviePlayer.get()) {
        if (!renderPlayerFrame(player))
            return;
        texture = m_frameBuffer->texture();
        pixels = m_frameBuffer->size();
        natural = QSizeF(player->presentationSize());
    } else {
        return;
    }
    const PMMoviePictureGeometry g = PMMoviePictureGeometryFor(natural, pixels, content->flipsHorizontally, content->angle,
                                                               content->visibleArea, content->aspectRatio, QRectF(rect()));
    if (g.destination.isEmpty())
        return;
    const QTransform transform = m_view->paintTransform(g);
    // Drawn 1:1 (the engine renders at the size shown), a pixel stays a pixel.
    const qreal ratio = devicePixelRatioF();
    const bool identityScale = std::fabs((std::fabs(transform.m11()) + std::fabs(transform.m21())) * ratio - 1.0) < 1e-3 &&
                               std::fabs((std::fabs(transform.m12()) + std::fabs(transform.m22())) * ratio - 1.0) < 1e-3;
    smooth = !identityScale;
    drawTexture(texture, pixels, transform, m_view->rotationPreviewAngle() ? QRectF() : g.destination, size(), ratio, smooth);
}

void PMMovieGLSurface::drawTexture(unsigned texture, QSize texturePixels, const QTransform& frameToView, const QRectF& clip, QSize viewSize,
                                   qreal ratio, bool smooth)
{
    if (!texture || texturePixels.isEmpty() || viewSize.isEmpty())
        return;
    if (!m_program) {
        m_program = std::make_unique<QOpenGLShaderProgram>();
        m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
        m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
        m_program->bindAttributeLocation("position", 0);
        m_program->bindAttributeLocation("texcoord", 1);
        if (!m_program->link()) {
            qWarning("movie view: the picture shader does not link: %s", qPrintable(m_program->log()));
            m_program.reset();
            return;
        }
    }
    const double w = texturePixels.width(), h = texturePixels.height();
    const QPointF corners[4] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
    GLfloat positions[8];
    for (int i = 0; i < 4; ++i) {
        const QPointF p = frameToView.map(corners[i]);
        positions[2 * i] = GLfloat(2.0 * p.x() / viewSize.width() - 1.0);
        positions[2 * i + 1] = GLfloat(1.0 - 2.0 * p.y() / viewSize.height());
    }
    // Row 0 of both kinds of texture is the picture's top row.
    static const GLfloat coordinates[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    const int framebufferWidth = int(std::lround(viewSize.width() * ratio));
    const int framebufferHeight = int(std::lround(viewSize.height() * ratio));
    glViewport(0, 0, framebufferWidth, framebufferHeight);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    if (!clip.isEmpty()) {
        const int left = int(std::lround(clip.left() * ratio)), right = int(std::lround(clip.right() * ratio));
        const int top = int(std::lround(clip.top() * ratio)), bottom = int(std::lround(clip.bottom() * ratio));
        glEnable(GL_SCISSOR_TEST);
        glScissor(left, framebufferHeight - bottom, right - left, bottom - top);
    }
    m_program->bind();
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    if (m_frameBuffer && texture == m_frameBuffer->texture()) {
        const GLint filter = smooth ? GL_LINEAR : GL_NEAREST;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    m_program->setUniformValue("picture", 0);
    m_program->enableAttributeArray(0);
    m_program->enableAttributeArray(1);
    m_program->setAttributeArray(0, GL_FLOAT, positions, 2);
    m_program->setAttributeArray(1, GL_FLOAT, coordinates, 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    m_program->disableAttributeArray(0);
    m_program->disableAttributeArray(1);
    m_program->release();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_SCISSOR_TEST);
}
