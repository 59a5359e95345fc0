// What the control tests share: a window that answers actions and records them, real
// mouse events with a held button, and the steered clock.
#pragma once

#include "common/TestSupport.h"
#include "platform/EventClock.h"
#include "platform/Responder.h"

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

// A window that answers the actions it is given, recording each with its sender.
class ActionWindow : public QWidget, public platform::Responder {
public:
    QStringList answers;
    QList<std::pair<QString, QObject*>> performed;
    bool respondsToAction(const QString& action) const override { return answers.contains(action); }
    void performAction(const QString& action, QObject* sender) override { performed.append({action, sender}); }
    int count(const QString& action) const
    {
        return int(std::count_if(performed.begin(), performed.end(), [&](const auto& p) { return p.first == action; }));
    }
    void showActive()
    {
        if (!testAttribute(Qt::WA_Resized))
            resize(500, 300);
        show();
        QApplication::setActiveWindow(this);
        ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == this; }));
    }
};

// A mouse event as the window system delivers it, with the left button held on moves.
inline void sendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(pos), widget->mapTo(widget->window(), QPointF(pos)), widget->mapToGlobal(QPointF(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Tests of the controls' timing run on the steered clock.
class SteeredClockTest : public ::testing::Test {
protected:
    void SetUp() override { platform::steerEventClockForTesting(true); }
    void TearDown() override { platform::steerEventClockForTesting(false); }
};
