#include "playback/PMSelectArea.h"

#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "foundation/PMFunctions.h"

#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QPixmap>

#include <cfloat>
#include <cmath>

using platform::DictionaryPtr;

namespace {

constexpr double kEpsilon = 1.1920928955078125e-07; // 2^-23
constexpr double kEdgeTolerance = 4.01;

// Round to nearest, halves away from zero.
double rounded(double v)
{
    return std::round(v);
}

bool isEmptyRect(const QRectF& r)
{
    return !(r.width() > 0) || !(r.height() > 0);
}

} // namespace

PMSelectAreaEvent PMSelectAreaSession::next()
{
    if (!nextEvent)
        return {};
    PMSelectAreaEvent event = nextEvent();
    if (event.type == PMSelectAreaEvent::MouseDown || event.type == PMSelectAreaEvent::MouseUp)
        mouseLocation = event.location;
    return event;
}

void PMSelectAreaSession::setCursorPushed(bool pushed)
{
    if (pushed == cursorPushed)
        return;
    cursorPushed = pushed;
    if (pushCursor)
        pushCursor(pushed);
}

QRectF PMSelectAreaSession::update()
{
    const QPointF m = mouseLocation;
    if (!creating && isEmptyRect(selection))
        return QRectF();
    const Qt::KeyboardModifiers mods = currentModifiers();
    const bool command = mods & Qt::ControlModifier;
    const bool option = mods & Qt::AltModifier;

    QRectF S;
    std::optional<QColor> colour;
    PMApertureEdges emphasized;
    if (creating) {
        S = PMRectBetweenPoints(anchor, m);
    } else if (adjusting) {
        S = selection;
        bool vertical = false, horizontal = false;
        if (topEdge) {
            S.setHeight(S.height() + rounded(m.y() - anchor.y()));
            vertical = true;
        } else if (bottomEdge) {
            const double d = rounded(m.y() - anchor.y());
            S = QRectF(S.x(), S.y() + d, S.width(), S.height() - d);
            vertical = true;
        }
        if (vertical && S.height() < 0)
            S = QRectF(S.x(), S.y() + S.height(), S.width(), -S.height());
        if (rightEdge) {
            S.setWidth(S.width() + rounded(m.x() - anchor.x()));
            horizontal = true;
        } else if (leftEdge) {
            const double d = rounded(m.x() - anchor.x());
            S = QRectF(S.x() + d, S.y(), S.width() - d, S.height());
            horizontal = true;
        }
        if (horizontal && S.width() < 0)
            S = QRectF(S.x() + S.width(), S.y(), -S.width(), S.height());
    } else {
        S = selection;
        const QRectF grown = selection.adjusted(-kEdgeTolerance, -kEdgeTolerance, kEdgeTolerance, kEdgeTolerance);
        if (grown.contains(m)) {
            topEdge = std::fabs(m.y() - (S.y() + S.height())) < kEdgeTolerance;
            rightEdge = std::fabs(m.x() - (S.x() + S.width())) < kEdgeTolerance;
            bottomEdge = std::fabs(m.y() - S.y()) < kEdgeTolerance;
            leftEdge = std::fabs(m.x() - S.x()) < kEdgeTolerance;
        } else {
            topEdge = rightEdge = bottomEdge = leftEdge = false;
        }
        if (anyEdge()) {
            emphasized = {topEdge, rightEdge, bottomEdge, leftEdge};
            setCursorPushed(true);
        } else {
            if (selection.contains(m))
                colour = selectedColor;
            setCursorPushed(false);
        }
    }

    S = S.intersected(containerFrame);

    bool snapped = false;
    if ((creating || adjusting) && S.width() > kEpsilon && !command && !ratios.isEmpty()) {
        if (creating) {
            topEdge = m.y() > anchor.y();
            bottomEdge = !topEdge;
            leftEdge = m.x() < anchor.x();
            rightEdge = !leftEdge;
        }
        const double tolerance = option ? DBL_MAX : kEdgeTolerance;
        for (double ratio : ratios) {
            const QRectF T = PMSnapRectToFrame(S, ratio, tolerance, topEdge, rightEdge, bottomEdge, leftEdge, containerFrame);
            if (!isEmptyRect(T)) {
                S = T;
                snapped = true;
                break;
            }
        }
    }

    apertureFrame = S;
    emphasizedEdges = emphasized;
    apertureColor = colour;
    if (colour) {
        const bool widens = inContainerCoordinates && S.width() < containerFrame.width() - kEpsilon && !command && horizontalExtension > kEpsilon;
        message = widens ? QStringLiteral("\u2194\uFE0E") : QStringLiteral("\u2713");
    } else if (snapped) {
        message = QStringLiteral("\u2FF4");
    } else if (hideRatioReadout || S.height() < 1) {
        message.clear();
    } else {
        message = QStringLiteral("%1:1").arg(stringWithDouble(S.width() / S.height(), 2, false));
    }
    return S;
}

QRectF PMSelectAreaSession::finish(double minimum)
{
    const QRectF result = selection.width() < minimum || selection.height() < minimum ? QRectF() : selection;
    setCursorPushed(false);
    return result;
}

QRectF PMSelectAreaSession::run()
{
    selection = QRectF();
    creating = adjusting = false;
    topEdge = rightEdge = bottomEdge = leftEdge = false;
    const auto show = [this] {
        apertureFrame = selection;
        emphasizedEdges = {};
        apertureColor.reset();
        if (refresh)
            refresh();
    };

    if (!initialArea && mode < 2) {
        // Draw phase: a press, a drag, a release.
        setCursorPushed(true);
        PMSelectAreaEvent e = next();
        if (e.type != PMSelectAreaEvent::MouseDown)
            return finish(DBL_MAX);
        anchor = mouseLocation;
        creating = true;
        e = next();
        if (e.type != PMSelectAreaEvent::MouseUp)
            return finish(DBL_MAX);
        selection = update();
        if (mode < 1)
            return finish(10);
        if (selection.width() < 10 || selection.height() < 10) {
            selection = containerFrame;
            show();
        }
    } else {
        // Preset: the initial area (fractions of the container) or the whole container.
        selection = containerFrame;
        if (initialArea) {
            const QRectF& c = containerFrame;
            selection = QRectF(rounded(c.width() * initialArea->value(QStringLiteral("x")).toDouble()) + c.x(),
                               rounded(c.height() * initialArea->value(QStringLiteral("y")).toDouble()) + c.y(),
                               rounded(c.width() * initialArea->value(QStringLiteral("w")).toDouble()),
                               rounded(c.height() * initialArea->value(QStringLiteral("h")).toDouble()));
        }
        update();
        if (selection.width() < 1 || selection.height() < 1) {
            selection = containerFrame;
            update();
        }
        show();
    }

    // Adjust phase.
    bool first = true;
    for (;;) {
        if (first)
            creating = false;
        else
            adjusting = false;
        first = false;
        const PMSelectAreaEvent e = next();
        if (e.type == PMSelectAreaEvent::MouseDown) {
            anchor = mouseLocation;
            adjusting = true;
            const PMSelectAreaEvent up = next();
            if (up.type != PMSelectAreaEvent::MouseUp)
                return finish(DBL_MAX);
            if (anyEdge()) {
                selection = update();
                continue;
            }
            return selection.contains(anchor) ? finish(1) : finish(DBL_MAX);
        }
        if (e.type == PMSelectAreaEvent::KeyDown) {
            const QString& c = e.characters;
            if (c.isEmpty() || c.at(0).unicode() == 3 || c.at(0).unicode() == 13)
                return finish(1);
            return finish(DBL_MAX);
        }
        return finish(1);
    }
}

int PMRotationDragAngle(double dx, double dy)
{
    const int angle = int(std::sqrt(dx * dx + dy * dy) * 0.5);
    return angle >= 360 ? 0 : angle;
}

QCursor PMSelectAreaCursor()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(1, 1, 30, 30);
    const double L = 30 * M_PI / 8; // one eighth of the circle
    // Qt's dash lengths count in pen widths.
    QPen white(Qt::white, 3.5, Qt::CustomDashLine, Qt::RoundCap);
    white.setDashPattern({(L + 1) / 3.5, (L - 1) / 3.5});
    white.setDashOffset((1.5 * L + 0.5) / 3.5);
    p.setPen(white);
    p.drawEllipse(circle);
    QPen black(Qt::black, 1.5, Qt::CustomDashLine, Qt::RoundCap);
    black.setDashPattern({L / 1.5, L / 1.5});
    black.setDashOffset(1.5 * L / 1.5);
    p.setPen(black);
    p.drawEllipse(circle);
    p.end();
    return QCursor(pixmap, 15, 16);
}
