#include "ControlsSupport.h"

#include "library/model/PMMainController.h"
#include "platform/Appearance.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMSmallControls.h"

#include <QtGui/QKeyEvent>
#include <QtTest/QTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>

TEST(PreviewSizeSlider, ADragSendsBeginValuesAndEnd)
{
    ActionWindow window;
    window.answers = {QStringLiteral("changePreviewSize")};
    auto* slider = new PMPreviewSizeSlider(&window);
    slider->setRange(0, 100);
    slider->setGeometry(10, 10, 200, 24);
    slider->setAction(QStringLiteral("changePreviewSize"));
    window.showActive();

    const QPoint start(slider->style()->sliderPositionFromValue(0, 100, 0, slider->width() - 20) + 10, 12);
    sendMouse(slider, QEvent::MouseButtonPress, start);
    EXPECT_TRUE(slider->isDragging());
    sendMouse(slider, QEvent::MouseMove, start + QPoint(60, 0));
    sendMouse(slider, QEvent::MouseMove, start + QPoint(120, 0));
    sendMouse(slider, QEvent::MouseButtonRelease, start + QPoint(120, 0));
    EXPECT_FALSE(slider->isDragging());
    ASSERT_GE(window.performed.size(), 4);
    EXPECT_EQ(window.performed.first().second, PMNullObject());
    EXPECT_EQ(window.performed.last().second, nullptr);
    for (qsizetype i = 1; i + 1 < window.performed.size(); ++i)
        EXPECT_EQ(window.performed[i].second, slider);
    EXPECT_GT(slider->value(), 30);

    // Without an answering target the slider is an ordinary one.
    window.performed.clear();
    window.answers.clear();
    QTest::mouseClick(slider, Qt::LeftButton, {}, start);
    EXPECT_TRUE(window.performed.isEmpty());
}

TEST(PreviewSizeSlider, TheLargeEndLightsUpInTheKeyWindowWhileTheAdjustmentIsOn)
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    ActionWindow window;
    auto* slider = new PMPreviewSizeSlider(&window);
    auto* extreme = new QLabel(&window);
    QImage black(12, 12, QImage::Format_ARGB32_Premultiplied);
    black.fill(Qt::black);
    extreme->setPixmap(QPixmap::fromImage(black));
    slider->setMaximumExtremeView(extreme);
    const auto centre = [&] { return extreme->pixmap().toImage().pixelColor(6, 6); };

    defaults.setInteger(0, QStringLiteral("Adjust Preview Size"));
    window.showActive();
    slider->updateMaximumExtremeView();
    EXPECT_EQ(centre(), QColor(Qt::black));
    defaults.setInteger(1, QStringLiteral("Adjust Preview Size"));
    slider->setDoubleValue(40);
    QColor accent = backwardsCompatibleControlAccentColor();
    EXPECT_NEAR(centre().redF(), accent.redF() * 0.92, 0.02);
    EXPECT_NEAR(centre().alphaF(), 0.92, 0.02);
    // The covers' own setting counts while the grid shows covers.
    PMIsCoverDisplayMode = true;
    defaults.setInteger(0, QStringLiteral("Adjust Cover Size"));
    slider->updateMaximumExtremeView();
    EXPECT_EQ(centre(), QColor(Qt::black));
    PMIsCoverDisplayMode = false;
    // Not in the key window: the plain image.
    window.hide();
    slider->updateMaximumExtremeView();
    EXPECT_EQ(centre(), QColor(Qt::black));
    defaults.removeObjectForKey(QStringLiteral("Adjust Preview Size"));
    defaults.removeObjectForKey(QStringLiteral("Adjust Cover Size"));
}

TEST(TabSegmentedControl, SelectsTheTabOfItsSegment)
{
    QWidget window;
    PMTabSegmentedControl control(&window);
    control.setSegmentLabels({QStringLiteral("General"), QStringLiteral("Tags"), QStringLiteral("Files")});
    QStackedWidget tabs(&window);
    for (int i = 0; i < 3; ++i)
        tabs.addWidget(new QWidget);
    control.setTabView(&tabs);
    EXPECT_EQ(control.selectedSegment(), -1);
    EXPECT_EQ(control.indexOfSelectedItem(), 0);
    control.setSelectedSegment(2);
    EXPECT_EQ(tabs.currentIndex(), 2);
    EXPECT_EQ(control.indexOfSelectedItem(), 2);
    QTest::mouseClick(control.segmentButton(1), Qt::LeftButton);
    EXPECT_EQ(tabs.currentIndex(), 1);
    control.setSelectedSegment(-1);
    EXPECT_EQ(control.selectedSegment(), -1);
    EXPECT_EQ(control.indexOfSelectedItem(), 0);
}

TEST(SmallControls, GreyBackgroundsFollowTheAppearance)
{
    platform::AppearanceSource& appearance = platform::AppearanceSource::shared();
    PMGrayView gray;
    PMLightGrayView light;
    EXPECT_DOUBLE_EQ(PMGrayView::grayWhite(&gray), 0.8);
    EXPECT_DOUBLE_EQ(PMLightGrayView::grayWhite(&light), 0.95);
    gray.resize(10, 10);
    EXPECT_EQ(qGray(gray.grab().toImage().pixel(5, 5)), qRound(0.8 * 255));
    appearance.setIncreasesContrastForTesting(true);
    EXPECT_DOUBLE_EQ(PMGrayView::grayWhite(&gray), 0.05);
    appearance.setIncreasesContrastForTesting(std::nullopt);
    gray.setPalette(PMDarkPalette());
    light.setPalette(PMDarkPalette());
    EXPECT_DOUBLE_EQ(PMGrayView::grayWhite(&gray), 0.25);
    EXPECT_DOUBLE_EQ(PMLightGrayView::grayWhite(&light), 0.14);
}

TEST(SmallControls, DisabledTagEditorCheckBoxesAreInvisibleUnlessAllAreShown)
{
    PMInvisibleButtonCell box(QStringLiteral("Tag"));
    box.resize(60, 20);
    EXPECT_FALSE(box.drawsNothing());
    box.setEnabled(false);
    EXPECT_TRUE(box.drawsNothing());
    QWidget blank;
    blank.resize(60, 20);
    EXPECT_EQ(box.grab().toImage(), blank.grab().toImage());
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Show All Tag Editor Checkboxes"));
    EXPECT_FALSE(box.drawsNothing());
    EXPECT_NE(box.grab().toImage(), blank.grab().toImage());
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Show All Tag Editor Checkboxes"));
}

TEST(SmallControls, ThePropertyEditorPanelLeavesKeysTheInfoPanelDoesNotTake)
{
    // The controller takes keys of the info panel only (its own tests show what it takes):
    // in any other property editor panel the keys reach the control with the focus.
    PMPropertyEditorPanel panel;
    auto* field = new QLineEdit(&panel);
    auto* next = new QLineEdit(&panel);
    panel.show();
    QApplication::setActiveWindow(&panel);
    field->setFocus();
    ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::focusWidget() == field; }));
    QTest::keyClick(field, Qt::Key_A);
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_EQ(field->text(), QStringLiteral("a "));
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::focusWidget() == next; }));

    PMNoKeyTableView table;
    EXPECT_FALSE(table.acceptsFirstResponder());
    EXPECT_EQ(table.focusPolicy(), Qt::NoFocus);
}
