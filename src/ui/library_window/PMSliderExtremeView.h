// The clickable image at either end of a slider (the tile size and spacing sliders below
// the grid): a click moves the slider to its minimum (tag below 1) or maximum and sends
// the slider's action; with Alt held, the view's own action runs instead when it has one.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QLabel>

#include <functional>

class QSlider;

class PMSliderExtremeView : public QLabel {
    Q_OBJECT
public:
    explicit PMSliderExtremeView(QWidget* parent = nullptr);
    QSlider* slider() const { return m_slider; }
    void setSlider(QSlider* slider) { m_slider = slider; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    // The view's own action (run with Alt held).
    std::function<void(PMSliderExtremeView*)> action;
    // The slider's action: run with the slider as sender after the jump.
    std::function<void(QSlider*)> sliderAction;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QSlider> m_slider;
    int m_tag = 0;
};
