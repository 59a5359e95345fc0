#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMSizeAdjustingTextField.h"

#include <gtest/gtest.h>

#include <QtWidgets/QLabel>

namespace {

// A field whose text needs a given height, as its cell would answer.
class MeasuredField : public PMSizeAdjustingTextField {
public:
    using PMSizeAdjustingTextField::PMSizeAdjustingTextField;
    double needed = 22;
    double neededWidth = 100;
    QSizeF textFieldCellSizeForBounds(const QRectF&) const override { return {neededWidth, needed}; }
};

struct RecordingDelegate : PMSizeAdjustingTextFieldDelegate {
    std::optional<double> minimum, maximum;
    QList<double> deltas;
    std::optional<double> minimumHeightForTextField(QWidget*) override { return minimum; }
    std::optional<double> maximumHeightForTextField(QWidget*) override { return maximum; }
    bool textFieldDidResizeAndMoveSiblingsByDelta(QWidget*, double delta) override
    {
        deltas.append(delta);
        return true;
    }
};

// A stack: a label above, the field, two views below.
struct Stack {
    QWidget parent;
    QLabel* above = new QLabel(QStringLiteral("Above"), &parent);
    MeasuredField* field = new MeasuredField(&parent);
    QLabel* below = new QLabel(QStringLiteral("Below"), &parent);
    QWidget* further = new QWidget(&parent);
    Stack()
    {
        parent.resize(300, 400);
        above->setGeometry(10, 10, 200, 20);
        field->setGeometry(10, 40, 200, 22);
        below->setGeometry(10, 70, 200, 20);
        further->setGeometry(10, 100, 200, 50);
    }
};

} // namespace

TEST(SizeAdjustingTextField, GrowsAndShrinksWithinItsClamps)
{
    Stack s;
    RecordingDelegate delegate;
    setTextFieldDelegate(s.field, &delegate);
    s.field->needed = 30;
    EXPECT_TRUE(s.field->adjustTextFieldHeight());
    EXPECT_EQ(s.field->geometry(), QRect(10, 40, 200, 30)); // the top edge stays
    EXPECT_EQ(s.below->y(), 78);
    EXPECT_EQ(s.further->y(), 108);
    EXPECT_EQ(s.above->y(), 10);
    EXPECT_EQ(delegate.deltas, QList<double>{-8});

    s.field->needed = 200; // stops at the maximum
    EXPECT_TRUE(s.field->adjustTextFieldHeight());
    EXPECT_EQ(s.field->height(), 85);
    EXPECT_EQ(s.below->y(), 133);

    s.field->needed = 4; // emptied: back to the minimum, the views below come up
    EXPECT_TRUE(s.field->adjustTextFieldHeight());
    EXPECT_EQ(s.field->height(), 22);
    EXPECT_EQ(s.below->y(), 70);
    EXPECT_EQ(s.further->y(), 100);

    s.field->needed = 22.05; // a change of 0.1 or less does nothing and tells nobody
    delegate.deltas.clear();
    EXPECT_FALSE(s.field->adjustTextFieldHeight());
    EXPECT_TRUE(delegate.deltas.isEmpty());

    // A small field has its own limits; a delegate answering -1 gets the defaults.
    setControlSize(s.field, PMControlSize::Small);
    delegate.minimum = -1;
    delegate.maximum = -1;
    s.field->needed = 200;
    EXPECT_TRUE(s.field->adjustTextFieldHeight());
    EXPECT_EQ(s.field->height(), 75);
    s.field->needed = 1;
    EXPECT_TRUE(s.field->adjustTextFieldHeight());
    EXPECT_EQ(s.field->height(), 19);
    // The delegate's limits win; a maximum below the minimum is raised to it.
    delegate.minimum = 40;
    delegate.maximum = 30;
    EXPECT_TRUE(s.field->adjustTextFieldHeight());
    EXPECT_EQ(s.field->height(), 40);

    // Minimizing the width makes the field as wide as its text.
    s.field->needed = 40;
    s.field->neededWidth = 120;
    EXPECT_TRUE(PMSizeAdjustingTextField::adjustHeightOfTextField(s.field, true));
    EXPECT_EQ(s.field->width(), 120);
    setTextFieldDelegate(s.field, nullptr);
}

TEST(SizeAdjustingTextField, RealTextAndHiddenFields)
{
    QWidget parent;
    parent.resize(300, 400);
    auto* field = new PMSizeAdjustingTextField(&parent);
    field->setGeometry(0, 0, 200, 22);
    auto* below = new QWidget(&parent);
    below->setGeometry(0, 30, 200, 20);
    field->setStringValue(QStringLiteral("one\ntwo\nthree"));
    const int grown = field->height();
    EXPECT_GT(grown, 22);
    EXPECT_EQ(below->y(), 30 + grown - 22);
    field->setStringValue(QString(400, QLatin1Char('x')).replace(QLatin1Char('x'), QStringLiteral("word ")));
    EXPECT_EQ(field->height(), 85);
    field->setStringValue(QString());
    EXPECT_EQ(field->height(), 22);
    EXPECT_EQ(below->y(), 30);

    // A hidden view compares by top edges: hiding it with setVisible pulls up the views under it.
    QWidget stack;
    auto* a = new QWidget(&stack);
    a->setGeometry(0, 0, 100, 40);
    auto* b = new QWidget(&stack);
    b->setGeometry(0, 50, 100, 20);
    auto* side = new QWidget(&stack);
    side->setGeometry(150, 0, 20, 10); // its bottom lies above a's bottom: it stays
    EXPECT_TRUE(setVisible(a, false, 45));
    EXPECT_EQ(b->y(), 5);
    EXPECT_EQ(side->y(), 0);
    EXPECT_FALSE(setVisible(a, false, 45));
    EXPECT_TRUE(setVisible(a, true, 45));
    EXPECT_EQ(b->y(), 50);
    EXPECT_EQ(side->y(), 0);

    // Fields anywhere below a view adjust through the recursive walk.
    QWidget root;
    auto* group = new QWidget(&root);
    auto* nested = new PMSizeAdjustingTextField(group);
    nested->setGeometry(0, 0, 200, 22);
    nested->setText(QStringLiteral("a\nb\nc"));
    EXPECT_TRUE(adjustTextFieldHeightsOfSuitableSubviews(&root));
    EXPECT_FALSE(adjustTextFieldHeightsOfSuitableSubviews(&root));
}
