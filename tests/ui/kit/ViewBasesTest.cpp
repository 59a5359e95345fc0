#include "ui/kit/PMViewBases.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtWidgets/QApplication>

using testsupport::waitUntil;

namespace {

class CountingView : public PMKeyWindowReflectingView {
public:
    using PMKeyWindowReflectingView::PMKeyWindowReflectingView;
    int reflections = 0;
    bool followsParent = false;
    bool reflectsKeyWindowStatusChangeForParentWindow() const override { return followsParent; }
    void reflectKeyWindowStatusChange() override { ++reflections; }
};

bool activate(QWidget* window)
{
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return waitUntil([&] { return QApplication::activeWindow() == window; });
}

} // namespace

TEST(ViewBases, FlippedView)
{
    PMFlippedView view;
    EXPECT_TRUE(view.isFlipped());
}

TEST(ViewBases, ReflectsOnlyItsOwnWindow)
{
    QWidget first, second, other;
    auto* view = new CountingView(&first);
    EXPECT_EQ(view->observedWindow(), &first);
    ASSERT_TRUE(activate(&first));
    ASSERT_TRUE(activate(&other));
    EXPECT_GE(view->reflections, 2); // became key, then resigned
    // Moved to another window: only that window counts now.
    view->setParent(&second);
    EXPECT_EQ(view->observedWindow(), &second);
    view->reflections = 0;
    ASSERT_TRUE(activate(&first));
    EXPECT_EQ(view->reflections, 0);
    ASSERT_TRUE(activate(&second));
    EXPECT_EQ(view->reflections, 1);
    // Its holder moved to another window: the view follows it there.
    auto* holder = new QWidget(&second);
    view->setParent(holder);
    EXPECT_EQ(view->observedWindow(), &second);
    holder->setParent(&first);
    EXPECT_EQ(view->observedWindow(), &first);
    view->reflections = 0;
    ASSERT_TRUE(activate(&second));
    ASSERT_TRUE(activate(&first));
    EXPECT_EQ(view->reflections, 1) << "only the window it is in now";
    holder->setParent(&second);
    EXPECT_EQ(view->observedWindow(), &second);
    // Out of every window: nothing more.
    view->setParent(nullptr);
    delete holder;
    EXPECT_EQ(view->observedWindow(), nullptr);
    view->reflections = 0;
    ASSERT_TRUE(activate(&first));
    EXPECT_EQ(view->reflections, 0);
    delete view;
}

TEST(ViewBases, ChildWindowViewFollowsItsParent)
{
    QWidget parent, unrelated;
    QWidget child(&parent, Qt::Tool);
    auto* view = new CountingView(&child);
    view->followsParent = true;
    ASSERT_TRUE(activate(&unrelated));
    view->reflections = 0;
    ASSERT_TRUE(activate(&parent)); // the parent becomes key: redraw (unrelated resigning is ignored)
    EXPECT_EQ(view->reflections, 1);
    ASSERT_TRUE(activate(&unrelated)); // the parent resigns: redraw again
    EXPECT_EQ(view->reflections, 2);
}
