#include "ControlsSupport.h"

#include "ui/kit/PMRatingView.h"
#include "ui/kit/PMSizeToFitControls.h"

#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QListView>

// ---- Rating ------------------------------------------------------------------------------

namespace {

struct RatingPanel : ActionWindow {
    PMRatingView* view = new PMRatingView(this);
    PMOnStateViaActionSwitch* box = new PMOnStateViaActionSwitch(QStringLiteral("Rating"), this);
    QList<double> changes, ends;
    RatingPanel()
    {
        view->setGeometry(100, 20, 70, 20);
        box->setGeometry(10, 20, 80, 20);
        view->setOnStateSwitch(box);
        QObject::connect(view, &PMRatingView::ratingDidChange, [this](double r) { changes.append(r); });
        QObject::connect(view, &PMRatingView::ratingDidEndChange, [this](double r) { ends.append(r); });
    }
};

} // namespace

TEST(RatingView, CtrlAndADigitSetTheRatingAndTickTheSwitch)
{
    RatingPanel panel;
    // A menu shortcut on the same keys does not take them from the rating view.
    int menuShortcut = 0;
    QAction shortcut(&panel);
    shortcut.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_3));
    panel.addAction(&shortcut);
    QObject::connect(&shortcut, &QAction::triggered, [&] { ++menuShortcut; });
    panel.showActive();

    QTest::keyClick(&panel, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(panel.view->rating(), platform::Value(qint64(3)));
    EXPECT_TRUE(panel.box->isChecked());
    EXPECT_EQ(panel.ends, QList<double>{3}); // stored like a change with the mouse
    EXPECT_EQ(menuShortcut, 0);

    panel.box->setChecked(false);
    QTest::keyClick(&panel, Qt::Key_6, Qt::ControlModifier); // not a rating
    QTest::keyClick(&panel, Qt::Key_4);                       // no Ctrl
    EXPECT_EQ(panel.view->rating(), platform::Value(qint64(3)));
    EXPECT_FALSE(panel.box->isChecked());

    QTest::keyClick(&panel, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(panel.view->rating(), platform::Value(qint64(0)));
    EXPECT_TRUE(panel.box->isChecked());
    EXPECT_EQ(panel.ends, (QList<double>{3, 0}));
}

TEST(RatingView, APressSetsTheStarAtOnceAndADragFollowsThePointer)
{
    RatingPanel panel;
    panel.showActive();
    const int y = 10;
    const auto starX = [](int star) { return int((star - 0.5) * PMRatingCell::kStarWidth); };
    sendMouse(panel.view, QEvent::MouseButtonPress, {starX(4), y});
    EXPECT_EQ(panel.view->rating(), platform::Value(qint64(4))); // before the release
    EXPECT_TRUE(panel.box->isChecked());
    sendMouse(panel.view, QEvent::MouseMove, {starX(2), y});
    sendMouse(panel.view, QEvent::MouseMove, {starX(2) + 2, y}); // the same star: no change
    sendMouse(panel.view, QEvent::MouseMove, {-5, y});           // left of the stars: none
    sendMouse(panel.view, QEvent::MouseMove, {starX(5), y});
    sendMouse(panel.view, QEvent::MouseButtonRelease, {starX(5), y});
    EXPECT_EQ(panel.changes, (QList<double>{4, 2, 0, 5}));
    EXPECT_EQ(panel.ends, QList<double>{5});

    // Without a switch the rating still changes.
    panel.view->setOnStateSwitch(nullptr);
    QTest::mouseClick(panel.view, Qt::LeftButton, {}, {starX(1), y});
    EXPECT_EQ(panel.view->rating(), platform::Value(qint64(1)));
}

TEST(RatingView, StarImagesAreMadeOnceAndDrawnInTheirTints)
{
    EXPECT_EQ(PMRatingCell::starImage(2).cacheKey(), PMRatingCell::starImage(7).cacheKey());
    const QImage gold = PMRatingCell::starImage(2), white = PMRatingCell::starImage(0);
    EXPECT_EQ(gold.deviceIndependentSize(), QSizeF(13, 16));
    const QPoint centre(gold.width() / 2, gold.height() / 2);
    EXPECT_EQ(gold.pixelColor(centre).rgb(), qRgb(255, 191, 38));
    EXPECT_EQ(white.pixelColor(centre), QColor(Qt::white));
    EXPECT_EQ(qAlpha(gold.pixel(0, 0)), 0); // transparent around the star

    RatingPanel panel;
    panel.view->setRating(platform::Value(qint64(2)));
    const QImage shot = panel.view->grab().toImage();
    const qreal r = shot.devicePixelRatio();
    EXPECT_EQ(shot.pixelColor(QPoint(6.5 * r, 10.5 * r)).rgb(), qRgb(255, 191, 38)); // first star
    EXPECT_NE(shot.pixelColor(QPoint(45.5 * r, 10.5 * r)).rgb(), qRgb(255, 191, 38)); // fourth: empty
}

TEST(OnStateViaActionSwitch, TurnsOnWhateverTheSender)
{
    PMSizeToFitOnStateViaActionSwitch box(QStringLiteral("Touched"));
    box.setOnStateViaAction(nullptr);
    EXPECT_TRUE(box.isChecked());
    box.setOnStateViaAction(&box);
    EXPECT_TRUE(box.isChecked());
}

// ---- Size to fit -----------------------------------------------------------------------------

namespace {

// A control whose content needs a given width.
class Sized : public PMSizeToFitView {
public:
    Sized(QWidget* parent, QRect frame, int mask, int needs) : PMSizeToFitView(parent), needs(needs)
    {
        setGeometry(frame);
        setAutoresizingMask(this, mask);
    }
    int needs;
    void sizeToFit() override { resize(needs, height()); }
};

} // namespace

TEST(SizeToFit, ShiftsTheChainByTheChangeOfWidth)
{
    struct Case {
        const char* name;
        int mask, needs;
        QRect control, next, stretching, afterNext;
        QRect expectedControl, expectedNext, expectedStretching, expectedAfterNext;
    };
    const int left = PMViewMaxXMargin, right = PMViewMinXMargin, centred = PMViewMinXMargin | PMViewMaxXMargin;
    const Case cases[] = {
        // A left-anchored label 20 narrower pulls the next control left; the stretching one
        // grows by 20 and stops the chain.
        {"left", left, 80, {10, 10, 100, 20}, {120, 10, 50, 20}, {180, 10, 100, 20}, {300, 10, 40, 20},
         {10, 10, 80, 20}, {100, 10, 50, 20}, {160, 10, 120, 20}, {300, 10, 40, 20}},
        // Anchored right: the right edge stays, the controls chained before it move right.
        {"right", right, 80, {200, 10, 100, 20}, {140, 10, 50, 20}, {10, 10, 120, 20}, {0, 40, 5, 5},
         {220, 10, 80, 20}, {160, 10, 50, 20}, {10, 10, 140, 20}, {0, 40, 5, 5}},
        // Centred, 11 wider: 6 to the left (half away from zero), nothing else moves.
        {"centred", centred, 111, {100, 10, 100, 20}, {220, 10, 50, 20}, {280, 10, 100, 20}, {0, 40, 5, 5},
         {94, 10, 111, 20}, {220, 10, 50, 20}, {280, 10, 100, 20}, {0, 40, 5, 5}},
        // A stretching control never sizes itself.
        {"stretching", PMViewWidthSizable, 40, {10, 10, 100, 20}, {120, 10, 50, 20}, {180, 10, 100, 20}, {0, 40, 5, 5},
         {10, 10, 100, 20}, {120, 10, 50, 20}, {180, 10, 100, 20}, {0, 40, 5, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget row;
        auto* control = new Sized(&row, c.control, c.mask, c.needs);
        auto* next = new Sized(&row, c.next, PMViewNotSizable, 0);
        auto* stretching = new Sized(&row, c.stretching, PMViewWidthSizable, 0);
        auto* afterNext = new Sized(&row, c.afterNext, PMViewNotSizable, 0);
        control->setNextSizeToFitView(next);
        next->setNextSizeToFitView(stretching);
        stretching->setNextSizeToFitView(afterNext);
        PMSizeToFitAndShiftChain(control);
        EXPECT_EQ(control->geometry(), c.expectedControl);
        EXPECT_EQ(next->geometry(), c.expectedNext);
        EXPECT_EQ(stretching->geometry(), c.expectedStretching);
        EXPECT_EQ(afterNext->geometry(), c.expectedAfterNext);
    }
}

TEST(SizeToFit, AControlThatChangesHeightStaysCentredVertically)
{
    QWidget row;
    PMSizeToFitTextField label(&row);
    setAutoresizingMask(&label, PMViewMaxXMargin);
    label.setGeometry(10, 10, 200, 40);
    label.setStringValue(QStringLiteral("Size"));
    const QSize hint = label.sizeHint();
    EXPECT_EQ(label.geometry(), QRect(10, 10 + (40 - hint.height()) / 2, hint.width(), hint.height()));
}

TEST(SizeToFit, APopUpFitsItsSelectedItemAndKeepsItsChoiceForCustomItems)
{
    ActionWindow window;
    auto* popUp = new PMSizeToFitPopUpButton(&window);
    popUp->addItem(QStringLiteral("All"), qint64(1));
    popUp->addItem(QStringLiteral("A much longer item title"), qint64(2));
    popUp->addItem(QStringLiteral("Size…"), qint64(-1));
    popUp->setItemData(2, true, PMPopUpItemHasCustomViewRole);
    setAutoresizingMask(popUp, PMViewMaxXMargin);
    auto* next = new Sized(&window, {300, 10, 50, 20}, PMViewNotSizable, 0);
    popUp->setNextSizeToFitView(next);
    popUp->setGeometry(10, 10, 100, popUp->sizeHint().height());
    popUp->awakeFromNib();
    const QFontMetricsF metrics(popUp->font());
    const int shortWidth = popUp->width();
    EXPECT_LT(shortWidth, popUp->sizeHint().width()); // narrower than the widest item makes it
    EXPECT_NEAR(shortWidth, popUp->sizeHint().width() - metrics.horizontalAdvance(QStringLiteral("A much longer item title"))
                                + metrics.horizontalAdvance(QStringLiteral("All")), 1);
    EXPECT_EQ(next->x(), 300 - (100 - shortWidth));

    EXPECT_TRUE(popUp->selectItemWithTag(2));
    EXPECT_GT(popUp->width(), shortWidth);
    EXPECT_FALSE(popUp->selectItemWithTag(9));
    popUp->selectItemAtIndex(0);
    EXPECT_EQ(popUp->width(), shortWidth);
    EXPECT_EQ(next->x(), 300 - (100 - shortWidth));

    // Choosing from the menu: a custom item with a negative tag is no choice.
    window.showActive();
    const auto choose = [&](int row) {
        QTest::mouseClick(popUp, Qt::LeftButton);
        ASSERT_TRUE(testsupport::waitUntil([&] { return popUp->view()->isVisible(); }));
        popUp->view()->setCurrentIndex(popUp->model()->index(row, 0));
        QTest::keyClick(popUp->view(), Qt::Key_Return);
        ASSERT_TRUE(testsupport::waitUntil([&] { return !popUp->view()->isVisible(); }));
    };
    choose(2);
    EXPECT_EQ(popUp->currentIndex(), 0);
    EXPECT_EQ(popUp->width(), shortWidth);
    choose(1);
    EXPECT_EQ(popUp->currentIndex(), 1);
    EXPECT_GT(popUp->width(), shortWidth);
    EXPECT_EQ(next->x(), 300 - (100 - popUp->width()));
}

TEST(SizeToFit, APopUpTooNarrowForItsSelectedItemTakesThePlatformsSize)
{
    // A style whose combo boxes are no wider than their widest title.
    struct Tight : PMSizeToFitPopUpButton {
        QSize sizeHint() const override
        {
            return {int(QFontMetricsF(font()).horizontalAdvance(itemText(1))) + 4, 20};
        }
    };
    Tight popUp;
    popUp.addItems({QString(), QStringLiteral("A much longer item title")});
    popUp.setGeometry(0, 0, 300, 20);
    popUp.selectItemAtIndex(0); // 4 - widest + 1 would be below 20
    EXPECT_EQ(popUp.width(), popUp.sizeHint().width());
    // Items added later count for the widest item.
    PMSizeToFitPopUpButton growing;
    growing.addItem(QStringLiteral("A"));
    growing.selectItemAtIndex(0);
    const int alone = growing.width();
    growing.addItem(QStringLiteral("A much longer item title"));
    growing.selectItemAtIndex(0);
    EXPECT_NEAR(growing.width(), alone, 1);
}

TEST(SizeToFit, ALabelWithAClickButtonForwardsClicksOnlyWhileItIsEnabled)
{
    QWidget window;
    QCheckBox box(&window);
    PMSizeToFitTextField label(QStringLiteral("Show subtitles"), &window);
    label.setClickButton(&box);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_TRUE(box.isChecked());
    box.setEnabled(false);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_TRUE(box.isChecked());
}
