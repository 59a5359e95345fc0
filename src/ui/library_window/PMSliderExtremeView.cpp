#include "ui/library_window/PMSliderExtremeView.h"

#include <QtGui/QMouseEvent>
#include <QtWidgets/QSlider>

PMSliderExtremeView::PMSliderExtremeView(QWidget* parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void PMSliderExtremeView::mousePressEvent(QMouseEvent* event)
{
    if (!m_slider || !m_slider->isEnabled())
        return;
    if ((event->modifiers() & Qt::AltModifier) && action) {
        action(this);
        return;
    }
    m_slider->setValue(m_tag < 1 ? m_slider->minimum() : m_slider->maximum());
    if (sliderAction)
        sliderAction(m_slider);
}
