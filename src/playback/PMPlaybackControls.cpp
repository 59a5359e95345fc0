#include "playback/PMPlaybackControls.h"
#include "playback/PMPlayerWindowGeometry.h"

#include "foundation/PMFunctions.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/media/Player.h"
#include "playback/PMMovieView.h"
#include "playback/PMPlayback.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QSlider>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kEpsilon = std::numeric_limits<float>::epsilon();
constexpr double kGap = 15;

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

// The transport glyphs, drawn in white so that they read on the dark bar.
QIcon glyph(const QString& name)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(22, 22) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    const auto triangle = [&](double x, double w, bool right) {
        QPainterPath path;
        if (right) {
            path.moveTo(x, 5);
            path.lineTo(x + w, 11);
            path.lineTo(x, 17);
        } else {
            path.moveTo(x + w, 5);
            path.lineTo(x, 11);
            path.lineTo(x + w, 17);
        }
        path.closeSubpath();
        p.drawPath(path);
    };
    if (name == u"play") {
        triangle(6, 11, true);
    } else if (name == u"pause") {
        p.drawRect(QRectF(6, 5, 3.5, 12));
        p.drawRect(QRectF(12.5, 5, 3.5, 12));
    } else if (name == u"next") {
        triangle(5, 9, true);
        p.drawRect(QRectF(15, 5, 2.5, 12));
    } else if (name == u"previous") {
        p.drawRect(QRectF(4.5, 5, 2.5, 12));
        triangle(8, 9, false);
    } else if (name == u"forward") {
        triangle(3, 8, true);
        triangle(11, 8, true);
    } else if (name == u"backward") {
        triangle(3, 8, false);
        triangle(11, 8, false);
    } else if (name == u"enter" || name == u"exit") {
        // Four corners pointing out of (enter) or into (exit) the picture.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const bool out = name == u"enter";
        for (int sx : {-1, 1})
            for (int sy : {-1, 1}) {
                const QPointF corner(11 + sx * 7, 11 + sy * 6);
                const QPointF tip = out ? corner : QPointF(11 + sx * 2.5, 11 + sy * 2);
                const double dx = out ? -sx * 4.0 : sx * 4.0, dy = out ? -sy * 3.5 : sy * 3.5;
                p.drawLine(tip, tip + QPointF(dx, 0));
                p.drawLine(tip, tip + QPointF(0, dy));
            }
    } else if (name == u"locked" || name == u"unlocked") {
        p.drawRoundedRect(QRectF(5, 10, 12, 9), 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), 1.8));
        QPainterPath shackle;
        const double right = name == u"locked" ? 14.5 : 18.5;
        const double left = name == u"locked" ? 7.5 : 11.5;
        shackle.moveTo(left, 10);
        shackle.lineTo(left, 7);
        shackle.arcTo(QRectF(left, 3, right - left, 7), 180, -180);
        if (name == u"locked")
            shackle.lineTo(right, 10);
        p.drawPath(shackle);
    } else if (name == u"ellipsis") {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), 1.5));
        p.drawEllipse(QRectF(3.5, 3.5, 15, 15));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 230));
        for (double x : {7.0, 11.0, 15.0})
            p.drawEllipse(QPointF(x, 11), 1.3, 1.3);
    } else if (name == u"rotate") {
        // A three-quarter circle with an arrow head: turning clockwise.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(4.5, 4.5, 13, 13), 90 * 16, -270 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 230));
        QPainterPath head;
        head.moveTo(11, 1.5);
        head.lineTo(15.5, 4.5);
        head.lineTo(11, 7.5);
        head.closeSubpath();
        p.drawPath(head);
    } else if (name == u"crop" || name == u"cropped") {
        // Two crossing corner brackets; filled between them while the picture is cropped.
        if (name == u"cropped")
            p.drawRect(QRectF(7, 7, 8, 8));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), 1.8, Qt::SolidLine, Qt::SquareCap));
        p.drawPolyline(QPolygonF({QPointF(7, 3), QPointF(7, 15), QPointF(19, 15)}));
        p.drawPolyline(QPolygonF({QPointF(3, 7), QPointF(15, 7), QPointF(15, 19)}));
    } else if (name == u"chapters") {
        // A list: three bullets and lines.
        for (double y : {6.0, 11.0, 16.0}) {
            p.drawEllipse(QPointF(5, y), 1.4, 1.4);
            p.drawRect(QRectF(8.5, y - 0.9, 10, 1.8));
        }
    } else if (name == u"volume" || name == u"muted") {
        QPainterPath speaker;
        speaker.moveTo(3, 8.5);
        speaker.lineTo(7, 8.5);
        speaker.lineTo(11.5, 4.5);
        speaker.lineTo(11.5, 17.5);
        speaker.lineTo(7, 13.5);
        speaker.lineTo(3, 13.5);
        speaker.closeSubpath();
        p.drawPath(speaker);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), 1.5, Qt::SolidLine, Qt::RoundCap));
        if (name == u"volume") {
            p.drawArc(QRectF(9, 7, 6, 8), -60 * 16, 120 * 16);
            p.drawArc(QRectF(9, 4, 10, 14), -60 * 16, 120 * 16);
        } else {
            p.drawLine(QPointF(14, 8), QPointF(19, 14));
            p.drawLine(QPointF(19, 8), QPointF(14, 14));
        }
    }
    return QIcon(pixmap);
}

PMContextButton* transportButton(QWidget* parent, const QString& icon, const QString& tip)
{
    auto* b = new PMContextButton(parent);
    b->setFlat(true);
    b->setIcon(glyph(icon));
    b->setIconSize(QSize(22, 22));
    b->setFixedSize(32, 30);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(tip);
    b->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"
                                    "QPushButton:pressed { background: rgba(255,255,255,40); border-radius: 5px; }"
                                    "QPushButton:disabled { background: transparent; }"));
    return b;
}

double fractionOf(const QString& description)
{
    bool ok = false;
    const double f = description.toDouble(&ok);
    return ok && std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
}

// A placement between the gaps as the stored text. Where the reference leaves no room to
// move (a zero span), the bar stands at the start: the fraction 0, never "nan" or "inf".
QString fractionDescription(double offset, double span)
{
    const double f = span > kEpsilon ? offset / span : 0.0;
    return QString::asprintf("%f", std::isfinite(f) ? f : 0.0);
}

} // namespace

// ---------------------------------------------------------------------------
// The time slider

PMTimeSliderTexts PMTimeSliderTextsFor(double D, double T, bool optionKey, double textRectWidth, const QString& alternateMinimum,
                                       const QString& alternateMaximum)
{
    PMTimeSliderTexts t;
    if (D > 0.01) {
        t.left = PMDurationString(T);
        if (optionKey)
            t.right = PMDurationString(D);
        else if (D - T > 0.5)
            t.right = QStringLiteral("-") + PMDurationString(D - T);
    } else {
        if (textRectWidth >= 250)
            t.left = alternateMinimum;
        t.right = alternateMaximum;
    }
    return t;
}

PMMovieTimeSlider::PMMovieTimeSlider(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(23);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    invalidateSelection();
}

static PMPlayerViewContent* contentOf(const PMMovieView* view)
{
    return view ? view->content() : nullptr;
}

double PMMovieTimeSlider::currentTimeValue() const
{
    const PMPlayerViewContent* c = contentOf(_movieView);
    return c && c->moviePlayer ? c->moviePlayer->currentTime() : 0.0;
}

void PMMovieTimeSlider::setCurrentTimeValue(double seconds)
{
    if (seek)
        seek(seconds);
    else if (PMPlayerViewContent* c = contentOf(_movieView); c && c->moviePlayer)
        c->moviePlayer->seekToTime(seconds);
    update();
}

double PMMovieTimeSlider::durationValue() const
{
    const PMPlayerViewContent* c = contentOf(_movieView);
    if (c && c->moviePlayer)
        return c->moviePlayer->duration();
    return c && c->movieReplacingImage ? 0.0 : 0.1;
}

double PMMovieTimeSlider::selectionStartTimeValue() const
{
    if (_selectionStartTimeValue < 0 && _selectionEndTimeValue > 0)
        return 0;
    return _selectionStartTimeValue;
}

double PMMovieTimeSlider::selectionEndTimeValue() const
{
    if (_selectionEndTimeValue < 0 && _selectionStartTimeValue > 0)
        return durationValue();
    return _selectionEndTimeValue;
}

void PMMovieTimeSlider::setSelectionStartTimeValue(double seconds)
{
    _selectionStartTimeValue = seconds;
    update();
}

void PMMovieTimeSlider::setSelectionEndTimeValue(double seconds)
{
    _selectionEndTimeValue = seconds;
    update();
}

void PMMovieTimeSlider::invalidateSelection()
{
    _selectionStartTimeValue = _selectionEndTimeValue = -1;
    update();
}

QString PMMovieTimeSlider::paintedState() const
{
    // What the drawing depends on: the playhead's pixel and the two texts.
    const double D = durationValue();
    const double T = _isTracking ? _trackedValue : currentTimeValue();
    const double W = width() + 2.0 * x();
    const long long pixel = D > 0.01 ? std::llround(W * T / D) : -1;
    const PMTimeSliderTexts texts = PMTimeSliderTextsFor(D, T, QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier, width() - 16, {}, {});
    return QString::number(pixel) + u'|' + texts.left + u'|' + texts.right;
}

bool PMMovieTimeSlider::updateFromPlayer()
{
    const QString state = paintedState();
    if (state == m_paintedState)
        return false;
    update();
    return true;
}

QRectF PMMovieTimeSlider::selectionRectInRect(const QRectF& R, double D) const
{
    const double start = selectionStartTimeValue(), end = selectionEndTimeValue();
    if (!(end > 0) || !(D > 0))
        return {};
    const double W = R.width();
    return QRectF(R.x() + std::round(W * start / D), R.y(), std::max(1.0, std::round(W * (end - start) / D)), R.height());
}

void PMMovieTimeSlider::drawShineInRect(QPainter& painter, const QRectF& r)
{
    painter.fillRect(QRectF(r.x(), r.y(), r.width(), 1), QColor::fromRgbF(1, 1, 1, 0.1f));
}

QRectF PMMovieTimeSlider::drawSelectionInRect(QPainter& painter, const QRectF& rect, double duration)
{
    const QRectF selection = selectionRectInRect(rect, duration);
    if (!selection.isEmpty()) {
        painter.fillRect(selection, palette().color(QPalette::Highlight));
        drawShineInRect(painter, selection);
    }
    return selection;
}

void PMMovieTimeSlider::drawProgressBarInRect(QPainter& painter, const QRectF& R)
{
    const PMPlayerViewContent* c = contentOf(_movieView);
    if (!isEnabled() || !c || (!c->moviePlayer && !c->movieReplacingImage))
        return;
    const double D = durationValue();
    const double T = _isTracking ? _trackedValue : currentTimeValue();
    const double x = R.x(), y = R.y(), W = R.width(), h = R.height();
    painter.save();
    QRectF selection;
    if (D > 0.01) {
        const double p = std::round(W * std::clamp(T, 0.0, D) / D);
        QLinearGradient gradient(0, y + h, 0, y);
        gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.3f));
        gradient.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.32f));
        painter.fillRect(QRectF(x, y, p, h), gradient);
        drawShineInRect(painter, QRectF(x, y, p, h));
        selection = drawSelectionInRect(painter, R, D);
        const bool onSelection = !selection.isEmpty() && selection.adjusted(-0.5, 0, 0.5, 0).contains(QPointF(x + p, y + h / 2));
        if (onSelection)
            painter.fillRect(QRectF(x + p - 0.5, y, 2, h), QColor::fromRgbF(1, 1, 1, 0.7f));
        else
            painter.fillRect(QRectF(x + p, y, 1, h), QColor::fromRgbF(1, 1, 1, 0.5f));
    } else if (D > kEpsilon) {
        selection = drawSelectionInRect(painter, R, D);
    }
    // The markers: a short light tick at the top of the bar for each marked second.
    if (D > kEpsilon) {
        for (double t : _markerTimes) {
            if (t < 0 || t > D)
                continue;
            const double mx = std::round(x + W * t / D);
            painter.fillRect(QRectF(mx - 0.5, y, 2, h * 0.4), QColor::fromRgbF(1, 0.85f, 0.3f, 0.9f));
        }
    }
    // In a fixed band, a dark line parts the slider from the buttons above it.
    if (!qobject_cast<PMPlaybackControlWindow*>(window()) && mapTo(window(), QPoint(0, height())).y() < window()->height())
        painter.fillRect(QRectF(x, y, W, 0.5), QColor::fromRgbF(0, 0, 0, 0.6f));
    painter.restore();

    // The texts, as badges with a selection or when asked.
    const bool badges = !selection.isEmpty() || settings().boolForKey(prefs::keys::AlwaysDrawTimeSliderTextAsBadges);
    const double margin = badges ? 8 : 4;
    const QRectF textRect = QRectF(rect()).adjusted(margin, 0, -margin, 0);
    const bool option = QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier;
    const PMTimeSliderTexts texts = PMTimeSliderTextsFor(D, T, option, textRect.width(),
                                                         _delegate ? _delegate->alternateSliderMinimumMessage() : QString(),
                                                         _delegate ? _delegate->alternateSliderMaximumMessage() : QString());
    const PMBadgeBackground background = badges ? PMBadgeBackground(QColor::fromRgbF(0, 0, 0, 0.3f)) : PMBadgeBackground::none();
    const QColor white(255, 255, 255, 220);
    if (!texts.left.isEmpty())
        drawAsBadgeInRect(painter, texts.left, textRect, false, white, background, nullptr, 0, 0, 0, 0, 5.0, -1, 5.0, true, true);
    if (!texts.right.isEmpty())
        drawAsBadgeInRect(painter, texts.right, textRect, false, white, background, nullptr, 0, 0, 0, 0, 5.0, -1, 5.0, false, true);
}

void PMMovieTimeSlider::setMarkerTimes(const QList<double>& times)
{
    if (times == _markerTimes)
        return;
    _markerTimes = times;
    update();
}

void PMMovieTimeSlider::paintEvent(QPaintEvent*)
{
    ++m_paintCount;
    m_paintedState = paintedState();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The bar reaches the edges of the controls bar.
    drawProgressBarInRect(painter, QRectF(-x(), 0, width() + 2.0 * x(), height()));
}

double PMMovieTimeSlider::timeAtX(double px) const
{
    const double W = width() + 2.0 * x();
    const double D = durationValue();
    return W > 0 ? std::clamp((px + x()) / W * D, 0.0, D) : 0.0;
}

void PMMovieTimeSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        event->ignore();
        return;
    }
    _rateBeforeTracking = playerRate ? playerRate() : 0;
    _wasPausedBeforeTracking = playerIsPaused ? playerIsPaused() : true;
    if (!_wasPausedBeforeTracking && pausePlayer)
        pausePlayer();
    _isTracking = true;
    _trackedValue = timeAtX(event->position().x());
    setCurrentTimeValue(_trackedValue);
}

void PMMovieTimeSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!_isTracking)
        return;
    _trackedValue = timeAtX(event->position().x());
    setCurrentTimeValue(_trackedValue);
}

void PMMovieTimeSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (!_isTracking)
        return;
    _trackedValue = timeAtX(event->position().x());
    setCurrentTimeValue(_trackedValue);
    _isTracking = false;
    if (!_wasPausedBeforeTracking && playAtRate)
        playAtRate(std::fabs(_rateBeforeTracking) < 1.0f ? 1.0f : _rateBeforeTracking);
    update();
}

void PMMovieTimeSlider::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = _delegate ? _delegate->menuForSlider(this) : nullptr)
        menu->popup(event->globalPos());
}

void PMMovieTimeSlider::keyPressEvent(QKeyEvent* event)
{
    update(); // the Option key changes the right text
    QWidget::keyPressEvent(event);
}

void PMMovieTimeSlider::keyReleaseEvent(QKeyEvent* event)
{
    update();
    QWidget::keyReleaseEvent(event);
}

// ---------------------------------------------------------------------------
// The bar

PMPlaybackControlView::PMPlaybackControlView(QWidget* parent) : PMKeyWindowReflectingView(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    _titleField = new QLabel(this);
    _titleField->setObjectName(QStringLiteral("titleField"));
    _titleField->setStyleSheet(QStringLiteral("color: rgba(255,255,255,220);"));
    _titleField->setAlignment(Qt::AlignCenter);
    _titleField->hide();
    m_previous = transportButton(this, QStringLiteral("previous"), tr("Previous"));
    m_windBackward = transportButton(this, QStringLiteral("backward"), tr("Wind Backward"));
    m_playPause = transportButton(this, QStringLiteral("play"), tr("Play"));
    m_windForward = transportButton(this, QStringLiteral("forward"), tr("Wind Forward"));
    m_next = transportButton(this, QStringLiteral("next"), tr("Next"));
    m_mute = transportButton(this, QStringLiteral("volume"), tr("Mute"));
    m_aspectRatioLock = transportButton(this, QStringLiteral("unlocked"), QString());
    m_aspectRatioLock->setCheckable(true);
    m_presentation = transportButton(this, QStringLiteral("enter"), tr("Enter Full Screen"));
    m_rotate = transportButton(this, QStringLiteral("rotate"), tr("Rotate"));
    m_crop = transportButton(this, QStringLiteral("crop"), tr("Crop"));
    m_chapters = transportButton(this, QStringLiteral("chapters"), tr("Chapters"));
    m_chapters->setEnabled(false);
    _volumeSlider = new QSlider(Qt::Horizontal, this);
    _volumeSlider->setRange(0, 1000);
    _volumeSlider->setFocusPolicy(Qt::NoFocus);
    _volumeSlider->setFixedWidth(90);
    _volumeSlider->setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal { height: 4px; background: rgba(255,255,255,60); border-radius: 2px; }"
        "QSlider::sub-page:horizontal { background: rgba(255,255,255,190); border-radius: 2px; }"
        "QSlider::handle:horizontal { background: white; width: 12px; height: 12px; margin: -4px 0; border-radius: 6px; }"));
    m_timeSlider = new PMMovieTimeSlider(this);
    setMinimumHeight(int(kPMPlaybackControlsHeight));
    layoutControls();
}

bool PMPlaybackControlView::showsFastButtons(bool stillImage, bool playable, double durationSeconds)
{
    return !stillImage && playable && std::floor(durationSeconds) >= 5;
}

void PMPlaybackControlView::setShowsFastButtons(bool shows)
{
    if (shows == m_showsFastButtons)
        return;
    m_showsFastButtons = shows;
    for (PMContextButton* b : {m_windBackward, m_windForward}) {
        b->setVisible(shows);
        b->setEnabled(shows);
    }
    layoutControls();
}

void PMPlaybackControlView::setShowsVolume(bool shows)
{
    if (shows == m_showsVolume)
        return;
    m_showsVolume = shows;
    layoutControls();
}

void PMPlaybackControlView::setPlaying(bool playing)
{
    if (playing == m_playing)
        return;
    m_playing = playing;
    m_playPause->setIcon(glyph(playing ? QStringLiteral("pause") : QStringLiteral("play")));
    m_playPause->setToolTip(playing ? tr("Pause") : tr("Play"));
}

void PMPlaybackControlView::setMuted(bool muted)
{
    if (muted == m_muted)
        return;
    m_muted = muted;
    m_mute->setIcon(glyph(muted ? QStringLiteral("muted") : QStringLiteral("volume")));
}

void PMPlaybackControlView::setTitleVisible(bool visible)
{
    _titleField->setVisible(visible);
    layoutControls();
}

void PMPlaybackControlView::reflectKeyWindowStatusChange()
{
    // The volume slider takes the new look by a redraw (unless it is being dragged).
    if (!_volumeSlider->isSliderDown())
        _volumeSlider->update();
    PMKeyWindowReflectingView::reflectKeyWindowStatusChange();
}

void PMPlaybackControlView::resizeEvent(QResizeEvent* event)
{
    PMKeyWindowReflectingView::resizeEvent(event);
    layoutControls();
}

void PMPlaybackControlView::layoutControls()
{
    const int w = width(), h = height();
    const int sliderHeight = 23;
    m_timeSlider->setGeometry(0, h - sliderHeight, w, sliderHeight);
    int top = 0;
    if (_titleField->isVisible()) {
        _titleField->setGeometry(10, 2, w - 20, 17);
        top = 17;
    }
    const int rowHeight = h - sliderHeight - top;
    const int y = top + (rowHeight - 30) / 2;
    PMContextButton* transport[] = {m_previous, m_windBackward, m_playPause, m_windForward, m_next};
    const int total = 5 * 32 + 4 * 4;
    int x = (w - total) / 2;
    // A narrow bar keeps the transport clear of the volume.
    const int volumeWidth = 32 + 90 + 10;
    if (x + total > w - volumeWidth)
        x = std::max(4, w - volumeWidth - total);
    for (PMContextButton* b : transport) {
        b->move(x, y);
        x += 36;
    }
    if (!m_showsFastButtons) {
        m_previous->move(m_previous->x() + m_previous->width(), y);
        m_next->move(m_next->x() - m_next->width(), y);
    }
    m_mute->move(w - volumeWidth, y);
    _volumeSlider->setGeometry(w - 90 - 10, y + 5, 90, 20);
    // The presentation toggle and the lock sit on the left; they step aside (hidden) where
    // they would come within 22 points of the transport group, as does the volume.
    m_presentation->move(6, y);
    m_aspectRatioLock->move(6 + 36, y);
    // The picture's own tools follow on the left; the chapters button sits before the volume.
    m_rotate->move(6 + 72, y);
    m_crop->move(6 + 108, y);
    m_chapters->move(w - volumeWidth - 36, y);
    const QRect zone = QRect(m_previous->geometry().topLeft(), m_next->geometry().bottomRight()).adjusted(-22, 0, 22, 0);
    const auto place = [&zone](QWidget* control, bool wanted) { control->setVisible(wanted && !control->geometry().intersects(zone)); };
    place(m_presentation, m_showsPresentationSwitch);
    place(m_aspectRatioLock, m_showsAspectRatioLockSwitch);
    place(m_rotate, m_showsPictureTools);
    place(m_crop, m_showsPictureTools);
    place(m_chapters, m_showsChaptersButton);
    place(m_mute, m_showsVolume);
    place(_volumeSlider, m_showsVolume);
}

void PMPlaybackControlView::setShowsAspectRatioLockSwitch(bool shows)
{
    m_showsAspectRatioLockSwitch = shows;
    m_aspectRatioLock->setEnabled(shows);
    layoutControls();
}

void PMPlaybackControlView::setShowsPictureTools(bool shows)
{
    if (shows == m_showsPictureTools)
        return;
    m_showsPictureTools = shows;
    layoutControls();
}

void PMPlaybackControlView::setShowsChaptersButton(bool shows)
{
    if (shows == m_showsChaptersButton)
        return;
    m_showsChaptersButton = shows;
    layoutControls();
}

void PMPlaybackControlView::setCropButtonState(bool on, bool active)
{
    m_crop->setIcon(glyph(on ? QStringLiteral("cropped") : QStringLiteral("crop")));
    m_crop->setEmphasized(active);
    m_crop->setToolTip(on ? tr("Change Cropped Visible Area") : tr("Crop Visible Area"));
    m_crop->update();
}

void PMPlaybackControlView::setPresenting(bool presenting)
{
    m_presentation->setIcon(glyph(presenting ? QStringLiteral("exit") : QStringLiteral("enter")));
    m_presentation->setToolTip(presenting ? tr("Exit Full Screen") : tr("Enter Full Screen"));
}

void PMPlaybackControlView::setAspectRatioLockImage(const QString& name, bool locked)
{
    const QSignalBlocker blocker(m_aspectRatioLock);
    m_aspectRatioLock->setChecked(locked);
    m_aspectRatioLock->setIcon(glyph(name));
}

void PMPlaybackControlView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF B = rect();
    double base = 0.2;
    auto* controls = qobject_cast<PMPlaybackControlWindow*>(window());
    if (controls && !controls->isStatic()) {
        base = 0.1;
        const double r = controls->cornerRadius();
        if (!controls->drawsShadow()) {
            const double thickness = isOnRetinaDisplay(window()) ? 0.5 : 1.0;
            painter.fillRect(QRectF(0, 0, B.width(), thickness), Qt::black);
        }
        if (r > kEpsilon) {
            QRectF clip = B;
            if (!controls->drawsShadow())
                clip.setTop(B.top() - r - 1); // only the bottom corners round
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setClipPath(PMRoundedRectPath(clip, r));
        }
        // The floating bar stands on its own: a dark, slightly translucent bezel.
        painter.fillRect(B, QColor::fromRgbF(0.11f, 0.11f, 0.12f, 0.86f));
    } else {
        // The band under the movie: the movie's black continues into it.
        painter.fillRect(B, QColor::fromRgbF(0.09f, 0.09f, 0.09f));
    }
    painter.fillRect(B, QColor::fromRgbF(0, 0, 0, float(base)));
    painter.fillRect(QRectF(0, B.height() - 23, B.width(), 23), QColor::fromRgbF(1, 1, 1, 0.1f));
}

// ---------------------------------------------------------------------------
// Placement

QRectF PMStaticControlsFrame(const QRectF& reference, bool presenting, bool controlsBelow, std::optional<double> targetHeight)
{
    const double B = kPMPlaybackControlsHeight;
    double y;
    if (controlsBelow)
        y = presenting ? 0 : reference.y() - B;
    else
        y = presenting && targetHeight ? *targetHeight - B : reference.y() + reference.height();
    return QRectF(reference.x(), y, reference.width(), B);
}

QRectF PMFloatingControlsFrame(const QRectF& R, bool isPresentationWindow, const PMControlsPlacement& placement, bool* canMoveOut)
{
    const bool canMove = R.width() > 560 && R.height() > 100;
    if (canMoveOut)
        *canMoveOut = canMove;
    const double h = canMove && isPresentationWindow ? kPMFloatingControlsTitledHeight : kPMFloatingControlsHeight;
    if (placement.y == u"Bottom")
        return QRectF(R.x(), R.y(), R.width(), h);
    if (placement.y == u"Top")
        return QRectF(R.x(), R.y() + R.height() - h, R.width(), h);
    if (!canMove)
        return QRectF(R.x(), R.y(), R.width(), kPMFloatingControlsHeight);
    const double w = std::min(std::floor(0.8 * R.width()), 600.0);
    double x;
    if (placement.x == u"Center")
        x = R.x() + std::floor((R.width() - w) / 2);
    else if (placement.x == u"Left" || placement.x == u"Left Gap")
        x = R.x() + kGap;
    else if (placement.x == u"Right" || placement.x == u"Right Gap")
        x = R.x() + R.width() - w - kGap;
    else
        x = R.x() + kGap + std::floor(fractionOf(placement.x) * (R.width() - w - 2 * kGap));
    double y;
    if (placement.y == u"Bottom Gap")
        y = R.y() + kGap;
    else if (placement.y == u"Top Gap")
        y = R.y() + R.height() - h - kGap;
    else
        y = R.y() + kGap + std::floor(fractionOf(placement.y) * (R.height() - h - 2 * kGap));
    return QRectF(x, y, w, h);
}

QRectF PMRasterControlsFrame(QRectF f, const QRectF& R, PMControlsPlacement* placement)
{
    const double h = f.height();
    const double top = R.y() + R.height(), right = R.x() + R.width();
    QString yd, xd;
    if (f.y() < R.y() + 1) {
        f = QRectF(R.x(), R.y(), R.width(), h);
        yd = QStringLiteral("Bottom");
        xd = QStringLiteral("Center");
    } else if (f.y() < R.y() + kGap) {
        f.moveTop(R.y() + kGap);
        yd = QStringLiteral("Bottom Gap");
    } else if (f.y() + h > top - 1) {
        f = QRectF(R.x(), top - h, R.width(), h);
        yd = QStringLiteral("Top");
        xd = QStringLiteral("Center");
    } else if (f.y() + h > top - kGap) {
        f.moveTop(top - h - kGap);
        yd = QStringLiteral("Top Gap");
    } else {
        yd = fractionDescription(f.y() - R.y() - kGap, R.height() - h - 2 * kGap);
    }
    if (xd.isEmpty()) {
        const double w = std::min(std::floor(0.8 * R.width()), 600.0);
        if (std::fabs(w - f.width()) > kEpsilon) {
            const double centre = f.center().x();
            f = QRectF(centre - w / 2, f.y(), w, h);
        }
        const double centred = R.x() + std::floor((R.width() - w) / 2);
        if (f.x() < R.x() + kGap) {
            f.moveLeft(R.x() + kGap);
            xd = QStringLiteral("Left Gap");
        } else if (f.x() + w > right - kGap) {
            f.moveLeft(right - w - kGap);
            xd = QStringLiteral("Right Gap");
        } else if (std::fabs(f.x() - centred) <= kGap) {
            f.moveLeft(centred);
            xd = QStringLiteral("Center");
        } else {
            xd = fractionDescription(f.x() - R.x() - kGap, R.width() - w - 2 * kGap);
        }
    }
    if (placement) {
        placement->x = xd;
        placement->y = yd;
    }
    return f;
}

// ---------------------------------------------------------------------------
// The floating window

PMPlaybackControlWindow::PMPlaybackControlWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_view = new PMPlaybackControlView(this);
    m_view->setGeometry(rect());
    resize(600, int(kPMFloatingControlsHeight));
}

QLabel* PMPlaybackControlWindow::titleField() const
{
    return m_view ? m_view->titleField() : nullptr;
}

void PMPlaybackControlWindow::setTitle(const QString& title)
{
    if (QLabel* field = titleField())
        field->setText(title);
}

void PMPlaybackControlWindow::setParentWindow(QWidget* parent)
{
    if (parent)
        setWindowOpacity(0); // the controls fade in later
    m_parentWindow = parent;
}

void PMPlaybackControlWindow::setStatic(bool isStatic)
{
    _isStatic = isStatic;
    if (isStatic)
        setWindowOpacity(0);
    else
        updateMaskImage();
    setAttribute(Qt::WA_TransparentForMouseEvents, isStatic);
    update();
}

QRectF PMPlaybackControlWindow::bottomUpFromGlobal(const QRect& g)
{
    return PMBottomUpFromGlobal(g);
}

QRect PMPlaybackControlWindow::globalFromBottomUp(const QRectF& f)
{
    return PMGlobalFromBottomUp(f);
}

void PMPlaybackControlWindow::loadPlacement()
{
    if (m_placementLoaded)
        return;
    m_placementLoaded = true;
    const QString x = settings().stringForKey(prefs::keys::ControlsBezelX);
    const QString y = settings().stringForKey(prefs::keys::ControlsBezelY);
    m_placement.x = x.isEmpty() ? QStringLiteral("Center") : x;
    m_placement.y = y.isEmpty() ? QStringLiteral("0.05") : y;
}

QRectF PMPlaybackControlWindow::playbackControlViewFrameWithReferenceView(QWidget* r, QWidget* t, bool isPresenting, bool isStatic,
                                                                         QRectF* getOriginalReferenceRect)
{
    if (!r)
        return {};
    const auto inT = [t](const QRect& global) {
        QRectF f = bottomUpFromGlobal(global);
        if (t) {
            const QRectF origin = bottomUpFromGlobal(QRect(t->mapToGlobal(QPoint(0, 0)), t->size()));
            f.translate(-origin.x(), -origin.y());
        }
        return f;
    };
    QRectF reference = inT(QRect(r->mapToGlobal(QPoint(0, 0)), r->size()));
    QWidget* window = r->window();
    if (!isStatic && window && window->isFullScreen()) {
        QScreen* screen = screenForWindow(window);
        QRect frame = screen ? screen->geometry() : window->geometry();
        frame.setTop(frame.top() + int(notchGap(screen)));
        reference = inT(frame);
    }
    if (getOriginalReferenceRect)
        *getOriginalReferenceRect = reference;
    if (!isStatic)
        return reference;
    return PMStaticControlsFrame(reference, isPresenting, true, t ? std::optional<double>(t->height()) : std::nullopt);
}

void PMPlaybackControlWindow::positionWithReferenceView(QWidget* reference, bool isPresenting)
{
    if (!reference)
        return;
    QRectF R;
    playbackControlViewFrameWithReferenceView(reference, nullptr, isPresenting, _isStatic, &R);
    m_presentationParent = isPresenting;
    if (_isStatic) {
        _referenceRect = R;
        _canMoveControls = false;
        m_view->setTitleVisible(false);
        setGeometry(globalFromBottomUp(PMStaticControlsFrame(R, isPresenting, true, std::nullopt)));
        return;
    }
    loadPlacement();
    _referenceRect = R;
    const QRectF frame = PMFloatingControlsFrame(R, isPresenting, m_placement, &_canMoveControls);
    m_view->setTitleVisible(_canMoveControls && isPresenting);
    setGeometry(globalFromBottomUp(frame));
    updateMaskImage();
}

QRectF PMPlaybackControlWindow::rasterFrame(const QRectF& proposed)
{
    return PMRasterControlsFrame(proposed, _referenceRect, &m_placement);
}

void PMPlaybackControlWindow::updateMaskImage()
{
    const bool edge = m_placement.y == u"Top" || m_placement.y == u"Bottom";
    if (_canMoveControls && !edge) {
        _cornerRadius = 7;
        m_shadow = true;
    } else if (m_presentationParent) {
        _cornerRadius = 0;
        m_shadow = true;
    } else if (m_placement.y != u"Top") {
        _cornerRadius = 10;
        m_shadow = false;
    } else {
        _cornerRadius = 0;
        m_shadow = true;
    }
    // The window's shape follows the corners, so that they round also where the window
    // system does not blend translucent windows.
    if (_cornerRadius > kEpsilon && !_isStatic) {
        QRectF shape = rect();
        if (!m_shadow)
            shape.setTop(shape.top() - _cornerRadius - 1); // only the bottom corners round
        setMask(QRegion(PMRoundedRectPath(shape, _cornerRadius).toFillPolygon().toPolygon()));
    } else {
        clearMask();
    }
    update();
}

void PMPlaybackControlWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_view->setGeometry(rect());
    updateMaskImage();
}

void PMPlaybackControlWindow::mousePressEvent(QMouseEvent* event)
{
    if (windowOpacity() < 0.1) {
        event->accept(); // an invisible bezel swallows the click
        return;
    }
    if (m_parentWindow && !m_parentWindow->isActiveWindow())
        m_parentWindow->activateWindow();
    // Presses on controls reach them directly; what lands here is the bezel's background.
    if (event->button() == Qt::LeftButton && _canMoveControls && !_isStatic) {
        m_dragStart = event->globalPosition();
        m_dragStartFrame = bottomUpFromGlobal(geometry());
    }
}

void PMPlaybackControlWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragStart)
        return;
    const QPointF delta = event->globalPosition() - *m_dragStart;
    // Bottom-up: moving the pointer down lowers y.
    const QRectF proposed = m_dragStartFrame.translated(delta.x(), -delta.y());
    setGeometry(globalFromBottomUp(rasterFrame(proposed)));
    updateMaskImage();
}

void PMPlaybackControlWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragStart)
        return;
    mouseMoveEvent(event);
    m_dragStart.reset();
    settings().setObject(platform::Value(m_placement.x), prefs::keys::ControlsBezelX);
    settings().setObject(platform::Value(m_placement.y), prefs::keys::ControlsBezelY);
}
