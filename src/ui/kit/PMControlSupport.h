// What the kit's controls share: the target and action a control sends (an action name
// that goes to an explicit target or along the responder chain from the control), the
// object that stands for "the null object" as a sender, tinting of mask images, and
// whether another window's modal session keeps a window from lighting up. Main thread only.
#pragma once

#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QImage>

class QObject;
class QWidget;

namespace platform {
class Responder;
}

struct PMTargetAction {
    QString action;
    QPointer<QObject> target; // nothing: the responder chain from the control

    // The responder that would take the action from the control; nothing when none does.
    platform::Responder* resolvedTarget(QWidget* control) const;
    bool targetAnswers(QWidget* control) const { return resolvedTarget(control) != nullptr; }
    // Sends the action with the sender; answers whether a responder took it.
    bool send(QWidget* control, QObject* sender) const;
};

// The sender that announces the start of a change (distinct from no sender at all,
// which announces its end).
QObject* PMNullObject();

// The mask image drawn in the colour at the opacity (fraction): its opaque pixels take
// the colour, the rest stays transparent. Keeps the device pixel ratio.
QImage PMTintedImage(const QImage& mask, const QColor& color, double fraction = 1.0);

// Another window is modal, or a sheet (a modal child window) is attached to the window:
// controls of the window do not light up then.
bool PMWindowIsBlockedByModalSession(const QWidget* window);

// Rounding half away from zero, as the controls' geometry rules want.
inline double PMRoundHalfAwayFromZero(double value)
{
    return value < 0 ? -double(qint64(-value + 0.5)) : double(qint64(value + 0.5));
}
