#include "ui/kit/PMControlSupport.h"

#include "platform/Responder.h"

#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

platform::Responder* PMTargetAction::resolvedTarget(QWidget* control) const
{
    if (action.isEmpty())
        return nullptr;
    if (target) {
        auto* responder = dynamic_cast<platform::Responder*>(target.data());
        return responder && responder->respondsToAction(action) ? responder : nullptr;
    }
    return platform::targetForAction(action, control);
}

bool PMTargetAction::send(QWidget* control, QObject* sender) const
{
    platform::Responder* responder = resolvedTarget(control);
    if (!responder)
        return false;
    responder->performAction(action, sender);
    return true;
}

QObject* PMNullObject()
{
    static QObject* null = [] {
        auto* object = new QObject;
        object->setObjectName(QStringLiteral("NSNull"));
        return object;
    }();
    return null;
}

QImage PMTintedImage(const QImage& mask, const QColor& color, double fraction)
{
    QImage result(mask.size(), QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(mask.devicePixelRatio());
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setOpacity(std::clamp(fraction, 0.0, 1.0));
    painter.drawImage(QPointF(0, 0), mask);
    painter.setOpacity(1.0);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), mask.deviceIndependentSize()), color);
    return result;
}

bool PMWindowIsBlockedByModalSession(const QWidget* window)
{
    if (!window)
        return false;
    const QWidget* modal = QApplication::activeModalWidget();
    return modal && modal != window->window();
}
