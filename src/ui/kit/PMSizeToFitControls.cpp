#include "ui/kit/PMSizeToFitControls.h"

#include "platform/PlatformProfile.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMControlSupport.h"

#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QAbstractButton>

#include <cmath>

namespace {

const char* const kAutoresizingMaskProperty = "PMAutoresizingMask";

double firstScreenScaleFactor()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screens.isEmpty() ? 1.0 : screens.first()->devicePixelRatio();
}

void letSizeItself(QWidget* view)
{
    if (auto* member = dynamic_cast<PMSizeToFitViewProtocol*>(view))
        member->sizeToFit();
    else
        view->resize(view->sizeHint());
}

// Qt frames are whole points; fractions round half away from zero.
int whole(double value)
{
    return int(PMRoundHalfAwayFromZero(value));
}

void setFrame(QWidget* view, double x, double y, double width, double height)
{
    view->setGeometry(whole(x), whole(y), std::max(0, whole(width)), std::max(0, whole(height)));
}

} // namespace

void setAutoresizingMask(QWidget* view, int mask)
{
    if (view)
        view->setProperty(kAutoresizingMaskProperty, mask);
}

int autoresizingMask(const QWidget* view)
{
    return view ? view->property(kAutoresizingMaskProperty).toInt() : PMViewNotSizable;
}

PMSizeToFitViewProtocol::~PMSizeToFitViewProtocol() = default;

void PMSizeToFitAndShiftChain(QWidget* view)
{
    if (!view)
        return;
    const int mask = autoresizingMask(view);
    if (mask & PMViewWidthSizable)
        return;
    const QRect before = view->geometry();
    const double scale = firstScreenScaleFactor();
    letSizeItself(view);
    const QRect after = view->geometry();
    double x = after.x(), y = after.y();
    const double width = after.width(), height = after.height();

    // The control stays centred vertically; a small control on a 1x screen sits a point lower.
    if (std::abs(before.height() - height) > 0.1) {
        y = std::floor(y + (before.height() - height) * 0.5);
        if (scale < platform::profile::retinaScaleThreshold && controlSize(view) == PMControlSize::Small)
            y += 1;
    }
    setFrame(view, x, y, width, height);

    double delta = before.width() - width; // positive: the control became narrower
    if (std::abs(delta) <= 0.1)
        return;
    const bool flexibleLeft = mask & PMViewMinXMargin;
    const bool flexibleRight = mask & PMViewMaxXMargin;
    const bool anchoredRight = flexibleLeft && !flexibleRight;
    const bool anchoredLeft = flexibleRight && !flexibleLeft;
    if (anchoredRight) {
        x = before.x() + delta;
    } else if (!anchoredLeft) {
        // A centred control moves by half the change and moves no other control.
        setFrame(view, before.x() + PMRoundHalfAwayFromZero(delta * 0.5), y, width, height);
        return;
    }
    setFrame(view, x, y, width, height);

    if (scale < platform::profile::retinaScaleThreshold) {
        delta = PMRoundHalfAwayFromZero(delta);
        if (delta == 0)
            return;
    }
    for (auto* link = dynamic_cast<PMSizeToFitViewProtocol*>(view); link;) {
        QWidget* next = link->nextSizeToFitView();
        if (!next)
            break;
        const QRect frame = next->geometry();
        const bool stretches = autoresizingMask(next) & PMViewWidthSizable;
        const double nextWidth = stretches ? frame.width() + delta : frame.width();
        double nextX = frame.x();
        if (anchoredLeft)
            nextX = frame.x() - delta;
        else if (!stretches)
            nextX = frame.x() + delta;
        setFrame(next, nextX, frame.y(), nextWidth, frame.height());
        if (stretches)
            break; // it has absorbed the change
        link = dynamic_cast<PMSizeToFitViewProtocol*>(next);
    }
}

void PMCorrectButtonFrameFromInterfaceFile(QAbstractButton* button, bool bordered)
{
    if constexpr (platform::profile::correctsControlFramesFromInterfaceFiles) {
        const int inset = bordered ? 7 : 2;
        button->setGeometry(button->geometry().adjusted(inset, 0, -inset, 0));
    } else {
        (void)button;
        (void)bordered;
    }
}

// ---- Boxes, labels, buttons ---------------------------------------------------------

void PMSizeToFitBox::awakeFromNib()
{
    if constexpr (platform::profile::correctsControlFramesFromInterfaceFiles)
        setGeometry(geometry().adjusted(3, 3, -3, -3));
}

void PMSizeToFitTextField::awakeFromNib()
{
    if (frameShape() == QFrame::NoFrame)
        PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitTextField::setStringValue(const QString& string)
{
    setText(string);
    if (frameShape() == QFrame::NoFrame) // neither bezeled nor bordered
        PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitTextField::mousePressEvent(QMouseEvent* event)
{
    if (!_clickButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    if (_clickButton->isEnabled())
        _clickButton->click();
}

void PMSizeToFitStaticButton::awakeFromNib()
{
    PMCorrectButtonFrameFromInterfaceFile(this, !isFlat());
}

void PMSizeToFitButton::awakeFromNib()
{
    PMSizeToFitStaticButton::awakeFromNib();
    PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitButton::setTitle(const QString& title)
{
    setText(title);
    PMSizeToFitAndShiftChain(this);
}

// ---- Pop-up buttons ------------------------------------------------------------------

void PMSizeToFitStaticPopUpButton::awakeFromNib()
{
    if constexpr (platform::profile::correctsControlFramesFromInterfaceFiles)
        setGeometry(geometry().adjusted(3, -1, -3, -1)); // Qt's y runs down: "up" is y - 1
}

PMSizeToFitPopUpButton::PMSizeToFitPopUpButton(QWidget* parent) : PMSizeToFitStaticPopUpButton(parent)
{
    // The widest item is measured again whenever items come or go.
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(this, &QComboBox::activated, this, &PMSizeToFitPopUpButton::itemChosen);
}

void PMSizeToFitPopUpButton::awakeFromNib()
{
    PMSizeToFitStaticPopUpButton::awakeFromNib();
    PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitPopUpButton::sizeToFit()
{
    const QFontMetricsF metrics(font());
    double largest = 1, selected = 1;
    for (int i = 0; i < count(); ++i) {
        const QString title = itemText(i);
        double width = title.isEmpty() ? 0 : metrics.horizontalAdvance(title);
        if (!itemIcon(i).isNull())
            width += iconSize().width() + 4;
        largest = std::max(largest, width);
        if (i == currentIndex())
            selected = std::max(1.0, width);
    }
    const double width = sizeHint().width() - largest + selected - platform::profile::popUpButtonSelectedItemWidthCorrection;
    if (width >= 20)
        resize(int(std::ceil(width)), height());
    else
        resize(sizeHint().width(), height());
}

void PMSizeToFitPopUpButton::selectItemAtIndex(int index)
{
    setCurrentIndex(index);
    PMSizeToFitAndShiftChain(this);
}

bool PMSizeToFitPopUpButton::selectItemWithTag(qint64 tag)
{
    const int index = findData(tag);
    setCurrentIndex(index);
    PMSizeToFitAndShiftChain(this);
    return index >= 0;
}

void PMSizeToFitPopUpButton::showPopup()
{
    m_indexBeforeMenu = currentIndex();
    PMSizeToFitStaticPopUpButton::showPopup();
}

void PMSizeToFitPopUpButton::itemChosen(int index)
{
    const int before = std::exchange(m_indexBeforeMenu, -1);
    // A custom item with a negative tag is not a choice: the previous one comes back.
    if (before >= 0 && index >= 0 && itemData(index, PMPopUpItemHasCustomViewRole).toBool()
        && itemData(index).toLongLong() < 0) {
        setCurrentIndex(-1);
        selectItemAtIndex(before);
        return;
    }
    if (!m_pullsDown)
        PMSizeToFitAndShiftChain(this);
}

void PMSizeToFitSlider::awakeFromNib()
{
    if constexpr (platform::profile::correctsControlFramesFromInterfaceFiles)
        setGeometry(geometry().adjusted(2, 0, -2, 0));
}
