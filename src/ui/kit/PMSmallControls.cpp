#include "ui/kit/PMSmallControls.h"

#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"

#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>

bool PMIsCoverDisplayMode = false;

// ---- Grey backgrounds ----------------------------------------------------------------

PMGrayBackgroundView::PMGrayBackgroundView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PMGrayBackgroundView::paintEvent(QPaintEvent* event)
{
    const double white = whiteLevel();
    QPainter painter(this);
    painter.fillRect(event->rect().intersected(rect()), QColor::fromRgbF(white, white, white));
}

double PMGrayView::grayWhite(const QWidget* view)
{
    const bool inverted = isInFullyInvertedDarkMode(view);
    if (PMShouldIncreaseContrast())
        return inverted ? 0.95 : 0.05;
    return inverted ? 0.25 : 0.8;
}

double PMLightGrayView::grayWhite(const QWidget* view)
{
    return isInFullyInvertedDarkMode(view) ? 0.14 : 0.95;
}

// ---- The tag editor's check boxes --------------------------------------------------------

bool PMInvisibleButtonCell::drawsNothing() const
{
    return !isEnabled() && !prefs::get(prefs::keys::ShowAllTagEditorCheckboxes);
}

void PMInvisibleButtonCell::paintEvent(QPaintEvent* event)
{
    if (!drawsNothing())
        QCheckBox::paintEvent(event);
}

// ---- Segments that drive pages -----------------------------------------------------------

PMTabSegmentedControl::PMTabSegmentedControl(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_group.setExclusive(true);
    connect(&m_group, &QButtonGroup::idClicked, this, &PMTabSegmentedControl::setSelectedSegment);
}

void PMTabSegmentedControl::setSegmentLabels(const QStringList& labels)
{
    for (QAbstractButton* button : m_group.buttons()) {
        m_group.removeButton(button);
        delete button;
    }
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QPushButton(platform::escapedMenuTitle(labels[i]), this);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        // The selected segment shows in the selection colour, in light and dark alike.
        connect(button, &QAbstractButton::toggled, button, [button](bool on) {
            QPalette palette;
            if (on) {
                palette.setColor(QPalette::Button, palette.color(QPalette::Highlight));
                palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
            }
            button->setPalette(palette);
        });
        m_group.addButton(button, i);
        layout()->addWidget(button);
    }
}

QAbstractButton* PMTabSegmentedControl::segmentButton(int index) const
{
    return m_group.button(index);
}

int PMTabSegmentedControl::selectedSegment() const
{
    return m_group.checkedId();
}

void PMTabSegmentedControl::setSelectedSegment(int index)
{
    if (QAbstractButton* button = m_group.button(index)) {
        button->setChecked(true);
    } else if (QAbstractButton* checked = m_group.checkedButton()) {
        m_group.setExclusive(false); // an exclusive group keeps one checked
        checked->setChecked(false);
        m_group.setExclusive(true);
    }
    if (_tabView && index >= 0 && index < _tabView->count())
        _tabView->setCurrentIndex(index);
}

int PMTabSegmentedControl::indexOfSelectedItem() const
{
    return std::max(0, selectedSegment());
}

// ---- Table and panel -------------------------------------------------------------------

PMNoKeyTableView::PMNoKeyTableView(QWidget* parent) : QTableView(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

PMPropertyEditorPanel::PMPropertyEditorPanel(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags)
{
    qApp->installEventFilter(this);
}

PMPropertyEditorPanel::~PMPropertyEditorPanel()
{
    qApp->removeEventFilter(this);
}

bool PMPropertyEditorPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    // The key's first receiver only, not each parent it propagates to.
    QWidget* first = QApplication::focusWidget();
    if (widget != (first && first->window() == this ? first : this))
        return false;
    return mainController().handlePopertyEditorKeyDown(static_cast<QKeyEvent*>(event), this);
}

// ---- The preview-size slider ------------------------------------------------------------

PMPreviewSizeSlider::PMPreviewSizeSlider(QWidget* parent) : PMSizeToFitSlider(parent) {}

PMPreviewSizeSlider::~PMPreviewSizeSlider() = default;

void PMPreviewSizeSlider::updateMaximumExtremeView()
{
    if (!_maximumExtremeView)
        return;
    if (_maximumExtremeImage.isNull())
        _maximumExtremeImage = _maximumExtremeView->pixmap();
    const QString key = PMIsCoverDisplayMode ? QStringLiteral("Adjust Cover Size") : QStringLiteral("Adjust Preview Size");
    if (window()->isActiveWindow() && platform::UserDefaults::standard().integerForKey(key) >= 1 && !_maximumExtremeImage.isNull()) {
        QColor color = backwardsCompatibleControlAccentColor();
        double opacity = 0.92;
        if (_isDragging) {
            color = isInFullyInvertedDarkMode(this) ? Qt::white : Qt::black;
            opacity = 0.7;
        }
        _maximumExtremeView->setPixmap(QPixmap::fromImage(PMTintedImage(_maximumExtremeImage.toImage(), color, opacity)));
    } else {
        _maximumExtremeView->setPixmap(_maximumExtremeImage);
    }
}

void PMPreviewSizeSlider::setDoubleValue(double value)
{
    setValue(int(PMRoundHalfAwayFromZero(value)));
    updateMaximumExtremeView();
}

bool PMPreviewSizeSlider::event(QEvent* event)
{
    const bool result = PMSizeToFitSlider::event(event);
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        updateMaximumExtremeView();
    return result;
}

void PMPreviewSizeSlider::sliderChange(SliderChange change)
{
    PMSizeToFitSlider::sliderChange(change);
    updateMaximumExtremeView();
}

void PMPreviewSizeSlider::sendIfMoved()
{
    if (_isDragging && value() != m_lastSentValue) {
        m_lastSentValue = value();
        m_targetAction.send(this, this);
    }
}

void PMPreviewSizeSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_targetAction.targetAnswers(this)) {
        _isDragging = true;
        m_lastSentValue = value();
        m_targetAction.send(this, PMNullObject()); // a drag starts
        updateMaximumExtremeView();
    }
    PMSizeToFitSlider::mousePressEvent(event);
    sendIfMoved();
}

void PMPreviewSizeSlider::mouseMoveEvent(QMouseEvent* event)
{
    PMSizeToFitSlider::mouseMoveEvent(event);
    sendIfMoved();
}

void PMPreviewSizeSlider::mouseReleaseEvent(QMouseEvent* event)
{
    PMSizeToFitSlider::mouseReleaseEvent(event);
    sendIfMoved();
    if (_isDragging && event->button() == Qt::LeftButton) {
        _isDragging = false;
        m_targetAction.send(this, nullptr); // the drag ended
    }
    updateMaximumExtremeView();
}
