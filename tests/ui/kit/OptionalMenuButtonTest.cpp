#include "ControlsSupport.h"

#include "ui/kit/PMOptionalMenuButton.h"

#include <QtGui/QPainter>
#include <QtTest/QTest>
#include <QtWidgets/QMenu>

namespace {

struct MenuDelegate : PMOptionalMenuButtonDelegate {
    QMenu menu;
    bool givesMenu = true;
    std::optional<bool> acceptsDrags;
    std::optional<bool> waits;
    QList<QPointF> offsets;
    int dragQuestions = 0;
    MenuDelegate() { menu.addAction(QStringLiteral("Rotate Left")); }
    QMenu* menuForOptionalMenuButton(PMOptionalMenuButton*) override { return givesMenu ? &menu : nullptr; }
    std::optional<bool> waitForMenuForOptionalMenuButton(PMOptionalMenuButton*) override { return waits; }
    std::optional<bool> processDragEvent(QMouseEvent* event, QPointF delta, PMOptionalMenuButton*) override
    {
        if (!acceptsDrags)
            return std::nullopt;
        if (event)
            offsets.append(delta);
        else
            ++dragQuestions;
        return acceptsDrags;
    }
};

class OptionalMenuButton : public SteeredClockTest {
protected:
    ActionWindow window;
    PMOptionalMenuButton* button = new PMOptionalMenuButton(QStringLiteral("Rotate"), &window);
    MenuDelegate delegate;
    const QPoint centre{20, 10};

    void SetUp() override
    {
        SteeredClockTest::SetUp();
        window.answers = {QStringLiteral("rotate")};
        button->setGeometry(50, 50, 80, 24);
        button->setAction(QStringLiteral("rotate"));
        button->setDelegate(&delegate);
        window.showActive();
    }
    void TearDown() override
    {
        delegate.menu.hide();
        SteeredClockTest::TearDown();
    }
    void click()
    {
        sendMouse(button, QEvent::MouseButtonPress, centre);
        sendMouse(button, QEvent::MouseButtonRelease, centre);
    }
};

} // namespace

TEST_F(OptionalMenuButton, AShortClickPerformsTheActionOnceAndAHoldOpensTheMenu)
{
    EXPECT_TRUE(button->waitsForMenu());
    sendMouse(button, QEvent::MouseButtonPress, centre);
    EXPECT_TRUE(button->isDown()); // highlighted while pressed
    platform::advanceEventClockForTesting(0.4);
    EXPECT_FALSE(delegate.menu.isVisible());
    sendMouse(button, QEvent::MouseButtonRelease, centre);
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);
    EXPECT_EQ(window.performed.first().second, button);
    EXPECT_FALSE(button->isDown());
    EXPECT_FALSE(delegate.menu.isVisible());

    // Held for half a second: the menu opens below the button, and no action runs.
    sendMouse(button, QEvent::MouseButtonPress, centre);
    platform::advanceEventClockForTesting(0.5);
    EXPECT_TRUE(delegate.menu.isVisible());
    EXPECT_TRUE(button->isMenuVisible());
    EXPECT_EQ(button->menuEventLocation(), QPointF(-3, 26));
    sendMouse(button, QEvent::MouseButtonRelease, centre);
    delegate.menu.hide();
    EXPECT_FALSE(button->isMenuVisible());
    EXPECT_FALSE(button->isDown());
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);

    // A right click opens the menu at once.
    sendMouse(button, QEvent::MouseButtonPress, centre, Qt::RightButton);
    EXPECT_TRUE(button->isMenuVisible());
    delegate.menu.hide();
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);
}

TEST_F(OptionalMenuButton, WithoutAnActionOrWithADelegateThatSaysSoTheMenuOpensAtOnce)
{
    button->setAction(QString());
    EXPECT_FALSE(button->waitsForMenu());
    sendMouse(button, QEvent::MouseButtonPress, centre);
    EXPECT_TRUE(button->isMenuVisible());
    delegate.menu.hide();

    button->setAction(QStringLiteral("rotate"));
    delegate.waits = false;
    EXPECT_FALSE(button->waitsForMenu());
    // An action nobody answers does not make the press wait either.
    delegate.waits.reset();
    window.answers.clear();
    EXPECT_FALSE(button->waitsForMenu());
}

TEST_F(OptionalMenuButton, WithoutAMenuAHeldButtonIsAnOrdinaryButton)
{
    delegate.givesMenu = false;
    sendMouse(button, QEvent::MouseButtonPress, centre);
    platform::advanceEventClockForTesting(1.0);
    EXPECT_TRUE(button->isDown());
    sendMouse(button, QEvent::MouseButtonRelease, centre);
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);

    // Released outside: nothing.
    sendMouse(button, QEvent::MouseButtonPress, centre);
    platform::advanceEventClockForTesting(1.0);
    sendMouse(button, QEvent::MouseMove, {200, 10});
    EXPECT_FALSE(button->isDown());
    sendMouse(button, QEvent::MouseButtonRelease, {200, 10});
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);

    // Without a delegate the button is an ordinary one: one action per click.
    button->setDelegate(nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre);
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 2);
}

TEST_F(OptionalMenuButton, ADelegateThatAcceptsDragsGetsOffsetsAndAClickStillActsOnce)
{
    delegate.acceptsDrags = true;
    sendMouse(button, QEvent::MouseButtonPress, centre);
    sendMouse(button, QEvent::MouseMove, centre + QPoint(10, 5));
    sendMouse(button, QEvent::MouseMove, centre + QPoint(30, -4));
    platform::advanceEventClockForTesting(1.0); // a drag is no hold: no menu
    EXPECT_FALSE(delegate.menu.isVisible());
    sendMouse(button, QEvent::MouseMove, centre + QPoint(-7, 0));
    sendMouse(button, QEvent::MouseButtonRelease, centre + QPoint(-7, 0));
    EXPECT_EQ(delegate.dragQuestions, 1);
    EXPECT_EQ(delegate.offsets, (QList<QPointF>{{10, 5}, {30, -4}, {-7, 0}}));
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 0);
    EXPECT_FALSE(button->isDown());

    // A plain click on it performs the action exactly once.
    click();
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);
    EXPECT_EQ(delegate.offsets.size(), 3);
}

TEST_F(OptionalMenuButton, ADisabledButtonNeverOpensItsMenu)
{
    button->setEnabled(false);
    sendMouse(button, QEvent::MouseButtonPress, centre, Qt::RightButton);
    sendMouse(button, QEvent::MouseButtonPress, centre);
    platform::advanceEventClockForTesting(1.0);
    EXPECT_FALSE(delegate.menu.isVisible());
    sendMouse(button, QEvent::MouseButtonRelease, centre);
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 0);
}

TEST_F(OptionalMenuButton, AContextButtonIsPressedByItsMenuItemOnlyWhileItsParentWindowShows)
{
    auto* child = new QWidget(&window, Qt::Tool);
    auto* contextButton = new PMContextButton(child);
    contextButton->setAction(QStringLiteral("rotate"));
    contextButton->setTarget(&window);
    QAction item(QStringLiteral("Rotate"));
    platform::setMenuItemAction(&item, QStringLiteral("performClick"), contextButton);
    child->show();
    EXPECT_TRUE(platform::validateMenuItemNow(&item));
    platform::performMenuItem(&item);
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 1);
    EXPECT_TRUE(contextButton->isDown()); // shown pressed for a moment
    platform::advanceEventClockForTesting(0.2);
    EXPECT_FALSE(contextButton->isDown());

    window.hide();
    EXPECT_FALSE(platform::validateMenuItemNow(&item));
    QAction other(QStringLiteral("Other"));
    platform::setMenuItemAction(&other, QStringLiteral("paste"), contextButton);
    EXPECT_FALSE(platform::validateMenuItemNow(&other));
    window.show();
    contextButton->setEnabled(false);
    EXPECT_FALSE(platform::validateMenuItemNow(&item));
}

TEST(ListBarView, DrawsABorderAroundAWhiteInsideThatAHighlightDarkens)
{
    QImage image(40, 20, QImage::Format_ARGB32);
    QPainter painter(&image);
    QWidget view;
    PMListBarView::drawBackgroundInBounds(painter, QRectF(0, 0, 40, 20), &view, false);
    EXPECT_EQ(qGray(image.pixel(0, 10)), qRound(0.7 * 255)); // left border
    EXPECT_EQ(qGray(image.pixel(20, 0)), qRound(0.7 * 255)); // top border
    EXPECT_EQ(qGray(image.pixel(20, 19)), 255);              // no border at the bottom
    PMListBarView::drawBackgroundInBounds(painter, QRectF(0, 0, 40, 20), &view, true);
    EXPECT_EQ(qGray(image.pixel(20, 10)), qRound(0.87 * 255));
}

TEST(OptionalMenuButtonOnTheRealClock, AHeldButtonOpensItsMenuAfterHalfASecond)
{
    ActionWindow window;
    window.answers = {QStringLiteral("rotate")};
    auto* button = new PMOptionalMenuButton(QStringLiteral("Rotate"), &window);
    button->setGeometry(50, 50, 80, 24);
    button->setAction(QStringLiteral("rotate"));
    MenuDelegate delegate;
    button->setDelegate(&delegate);
    window.showActive();
    sendMouse(button, QEvent::MouseButtonPress, {20, 10});
    EXPECT_FALSE(button->isMenuVisible());
    EXPECT_TRUE(testsupport::waitUntil([&] { return button->isMenuVisible(); }, 3000));
    sendMouse(button, QEvent::MouseButtonRelease, {20, 10});
    delegate.menu.hide();
    EXPECT_EQ(window.count(QStringLiteral("rotate")), 0);
}
