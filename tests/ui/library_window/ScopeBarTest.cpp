// The scope bar with a delegate of its own (buttons, radio and multiple groups, pop-ups
// when narrow) and with the controller as its delegate (search criteria and scope kept in
// the settings), and the grid's view options: display mode and the preview size slider.
#include "GridTestSupport.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGroupViewLayout.h"
#include "ui/library_window/PMQuibScopeBar.h"

#include <gtest/gtest.h>

#include <QtGui/QKeyEvent>
#include <QtCore/QSet>
#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

struct GroupSpec {
    QString label;
    long long mode = 0;
    QStringList identifiers;
};

// A delegate answering from a table, recording what the bar tells it.
class TableDelegate : public QuibScopeBarDelegate {
public:
    std::vector<GroupSpec> groups;
    std::optional<bool> menuBar;
    std::optional<bool> dark;
    QWidget* accessory = nullptr;
    struct Change {
        bool selected;
        QString identifier;
        long long group;
    };
    std::vector<Change> changes;
    bool reloadOnChange = false;

    long long numberOfGroupsInScopeBar(PMQuibScopeBar*) override { return (long long)groups.size(); }
    QStringList scopeBarItemIdentifiersForGroup(PMQuibScopeBar*, long long g) override { return groups[size_t(g)].identifiers; }
    QString scopeBarLabelForGroup(PMQuibScopeBar*, long long g) override { return groups[size_t(g)].label; }
    long long scopeBarSelectionModeForGroup(PMQuibScopeBar*, long long g) override { return groups[size_t(g)].mode; }
    QString scopeBarTitleOfItemInGroup(PMQuibScopeBar*, const QString& identifier, long long) override { return identifier + QStringLiteral(" title"); }
    std::optional<bool> isMenuScopeBar(PMQuibScopeBar*) override { return menuBar; }
    std::optional<bool> assumeDarkModeForScopeBar(PMQuibScopeBar*) override { return dark; }
    QWidget* accessoryViewForScopeBar(PMQuibScopeBar*) override { return accessory; }
    QSet<QString> disabled;
    std::optional<bool> scopeBarEnableItemInGroup(PMQuibScopeBar*, const QString& identifier, long long) override
    {
        if (disabled.isEmpty())
            return std::nullopt;
        return !disabled.contains(identifier);
    }
    bool scopeBarSelectedStateChangedForItemInGroup(PMQuibScopeBar* bar, bool selected, const QString& identifier, long long group) override
    {
        changes.push_back({selected, identifier, group});
        if (reloadOnChange)
            bar->reloadData();
        return true;
    }
};

PMQuibScopeBarButton* buttonOf(const PMQuibScopeBar& bar, const QString& identifier, long long group)
{
    return qobject_cast<PMQuibScopeBarButton*>(bar.getButtonForItem(identifier, group));
}

QAction* menuItemOf(const PMQuibScopeBar& bar, const QString& identifier, long long group)
{
    return qobject_cast<QAction*>(bar.getButtonForItem(identifier, group));
}

class ScopeBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        delegate.groups = {
            {QStringLiteral("Search:"), 0, {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A")}},
            {QString(), 1, {QStringLiteral("Name"), QStringLiteral("Metadata"), QStringLiteral("Location")}},
            {QStringLiteral("Selection:"), 0, {QStringLiteral("Union"), QStringLiteral("Intersection")}},
        };
        bar.resize(1200, 25);
        bar.show(); // resizes reach a shown bar at once
    }
    void load()
    {
        bar.setDelegate(&delegate);
        bar.reloadData();
    }
    TableDelegate delegate;
    PMQuibScopeBar bar;
};

TEST_F(ScopeBar, ReloadBuildsOneButtonPerIdentifierAndSelectsTheFirstItemOfRadioGroups)
{
    load();
    ASSERT_EQ(bar.groupCount(), 3);
    EXPECT_EQ(bar.identifiersOfGroup(0), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    int buttons = 0;
    for (auto* button : bar.findChildren<PMQuibScopeBarButton*>())
        buttons += button->isVisible() || !button->isHidden();
    EXPECT_EQ(buttons, 7);
    // The first item of each radio group is on, without the delegate hearing of it; a
    // group of several selectable items starts empty.
    const std::vector<QStringList> selected = bar.selectedItems();
    EXPECT_EQ(selected[0], QStringList{QStringLiteral("A")});
    EXPECT_TRUE(selected[1].isEmpty());
    EXPECT_EQ(selected[2], QStringList{QStringLiteral("Union")});
    EXPECT_TRUE(delegate.changes.empty());
    EXPECT_TRUE(buttonOf(bar, QStringLiteral("A"), 0)->isChecked());
    // Labels come first, then buttons left to right, whole points apart; separators before
    // every group but the first.
    EXPECT_EQ(bar.labelFieldOfGroup(0)->text(), QStringLiteral("Search:"));
    EXPECT_LT(bar.labelFieldOfGroup(0)->geometry().right(), buttonOf(bar, QStringLiteral("A"), 0)->x());
    EXPECT_EQ(buttonOf(bar, QStringLiteral("B"), 0)->x(), buttonOf(bar, QStringLiteral("A"), 0)->geometry().right() + 1 + 6);
    EXPECT_FALSE(bar.separatorPositions()[0].has_value());
    EXPECT_TRUE(bar.separatorPositions()[1].has_value());
    EXPECT_EQ(bar.height(), 25);
    // A reload starts afresh.
    bar.reloadData();
    EXPECT_EQ(bar.identifiersOfGroup(1).size(), 3);
    EXPECT_EQ(bar.getButtonForItem(QStringLiteral("Name"), 0), nullptr);
    EXPECT_EQ(bar.getButtonForItem(QStringLiteral("Name"), 7), nullptr);
}

TEST_F(ScopeBar, ClicksOnRadioAndMultipleGroups)
{
    load();
    bar.show();
    PMQuibScopeBarButton* a = buttonOf(bar, QStringLiteral("A"), 0);
    PMQuibScopeBarButton* b = buttonOf(bar, QStringLiteral("B"), 0);

    // Clicking the selected button of a radio group leaves it on and tells nobody.
    QTest::mouseClick(a, Qt::LeftButton);
    EXPECT_TRUE(a->isChecked());
    EXPECT_EQ(bar.selectedItems()[0], QStringList{QStringLiteral("A")});
    EXPECT_TRUE(delegate.changes.empty());

    // Another button of the group takes over; only its change is told.
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_TRUE(b->isChecked());
    EXPECT_FALSE(a->isChecked());
    EXPECT_EQ(bar.selectedItems()[0], QStringList{QStringLiteral("B")});
    ASSERT_EQ(delegate.changes.size(), 1u);
    EXPECT_TRUE(delegate.changes[0].selected);
    EXPECT_EQ(delegate.changes[0].identifier, QStringLiteral("B"));
    EXPECT_EQ(delegate.changes[0].group, 0);

    // Buttons of a multiple group switch on and off on their own.
    delegate.changes.clear();
    PMQuibScopeBarButton* name = buttonOf(bar, QStringLiteral("Name"), 1);
    PMQuibScopeBarButton* location = buttonOf(bar, QStringLiteral("Location"), 1);
    QTest::mouseClick(name, Qt::LeftButton);
    QTest::mouseClick(location, Qt::LeftButton);
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(bar.selectedItems()[1], QStringList{QStringLiteral("Location")});
    ASSERT_EQ(delegate.changes.size(), 3u);
    EXPECT_FALSE(delegate.changes[2].selected);

    // Selecting from code: unknown items and groups are ignored; a radio group keeps its item.
    bar.setSelected(true, QStringLiteral("Nope"), 0);
    bar.setSelected(true, QStringLiteral("A"), 9);
    bar.setSelected(false, QStringLiteral("B"), 0);
    EXPECT_EQ(bar.selectedItems()[0], QStringList{QStringLiteral("B")});
    EXPECT_TRUE(b->isChecked());
}

TEST_F(ScopeBar, NarrowingCollapsesTheRightmostGroupsFirstAndWideningRestoresThem)
{
    delegate.disabled = {QStringLiteral("Location")};
    load();
    EXPECT_FALSE(buttonOf(bar, QStringLiteral("Location"), 1)->isEnabled());
    const double full = bar.totalGroupsWidth() + 2 * bar.horizontalInset();
    EXPECT_EQ(bar.firstCollapsedGroup(), -1);

    // Just too narrow for all buttons: the last group becomes a pop-up.
    bar.resize(int(full) - 2, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), 2);
    EXPECT_TRUE(bar.groupIsInMenuMode(2));
    EXPECT_FALSE(bar.groupIsInMenuMode(1));
    ASSERT_NE(bar.popupButtonOfGroup(2), nullptr);
    EXPECT_EQ(bar.popupButtonOfGroup(2)->text(), QStringLiteral("Union title"));
    EXPECT_NE(menuItemOf(bar, QStringLiteral("Intersection"), 2), nullptr);
    // Its label stays in front of it.
    EXPECT_LT(bar.labelFieldOfGroup(2)->geometry().right(), bar.popupButtonOfGroup(2)->x());

    // Narrower still: the middle group too, then everything.
    bar.resize(int(full) - 160, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), 1);
    EXPECT_FALSE(menuItemOf(bar, QStringLiteral("Location"), 1)->isEnabled());
    bar.resize(140, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), 0);

    // Widening expands from the left, a group only when its buttons fit.
    bar.resize(int(full) - 2, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), 2);
    EXPECT_FALSE(bar.groupIsInMenuMode(0));
    EXPECT_FALSE(bar.groupIsInMenuMode(1));
    EXPECT_NE(buttonOf(bar, QStringLiteral("Metadata"), 1), nullptr);
    EXPECT_FALSE(buttonOf(bar, QStringLiteral("Location"), 1)->isEnabled()); // kept through the pop-up
    bar.resize(int(full) + 40, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), -1);
    ASSERT_NE(buttonOf(bar, QStringLiteral("Union"), 2), nullptr);
    EXPECT_TRUE(buttonOf(bar, QStringLiteral("Union"), 2)->isChecked()); // the selection survived
    EXPECT_EQ(bar.popupButtonOfGroup(2), nullptr);
}

TEST_F(ScopeBar, PopUpsShrinkWhenEvenTheyDoNotFitButNeverBelowSixty)
{
    load();
    bar.resize(60, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), 0);
    for (long long g = 0; g < 3; ++g) {
        ASSERT_NE(bar.popupButtonOfGroup(g), nullptr);
        EXPECT_GE(bar.popupButtonOfGroup(g)->width(), 60);
    }
    // A little more room than the minimum: they shrink by a share, and grow back when
    // there is room for them all.
    const int roomy = int(bar.totalGroupsWidthForPopups() + 2 * bar.horizontalInset());
    bar.resize(roomy - 30, 25);
    const int squeezed = bar.popupButtonOfGroup(1)->width();
    bar.resize(roomy, 25);
    EXPECT_GT(bar.popupButtonOfGroup(1)->width(), squeezed);
}

TEST_F(ScopeBar, AMultipleSelectionPopUpNamesItsSelection)
{
    load();
    bar.resize(60, 25);
    PMQuibScopeBarPopUpButton* popUp = bar.popupButtonOfGroup(1);
    ASSERT_NE(popUp, nullptr);
    EXPECT_EQ(popUp->text(), QStringLiteral("(None)"));
    EXPECT_FALSE(popUp->isBordered());
    ASSERT_NE(popUp->recessedCell(), nullptr);

    // Choosing from its menu toggles the item.
    menuItemOf(bar, QStringLiteral("Metadata"), 1)->trigger();
    EXPECT_EQ(popUp->text(), QStringLiteral("Metadata title"));
    EXPECT_TRUE(popUp->isBordered());
    EXPECT_TRUE(menuItemOf(bar, QStringLiteral("Metadata"), 1)->isChecked());
    menuItemOf(bar, QStringLiteral("Name"), 1)->trigger();
    EXPECT_EQ(popUp->text(), QStringLiteral("(Multiple)"));
    menuItemOf(bar, QStringLiteral("Name"), 1)->trigger();
    menuItemOf(bar, QStringLiteral("Metadata"), 1)->trigger();
    EXPECT_EQ(popUp->text(), QStringLiteral("(None)"));
    EXPECT_FALSE(popUp->isBordered());
    ASSERT_EQ(delegate.changes.size(), 4u);
    EXPECT_FALSE(delegate.changes[3].selected);

    // A radio pop-up keeps its item when it is chosen again.
    PMQuibScopeBarPopUpButton* radio = bar.popupButtonOfGroup(0);
    EXPECT_EQ(radio->recessedCell(), nullptr);
    menuItemOf(bar, QStringLiteral("A"), 0)->trigger();
    EXPECT_EQ(bar.selectedItems()[0], QStringList{QStringLiteral("A")});
    EXPECT_TRUE(menuItemOf(bar, QStringLiteral("A"), 0)->isChecked());
    menuItemOf(bar, QStringLiteral("B"), 0)->trigger();
    EXPECT_EQ(radio->text(), QStringLiteral("B title"));
    EXPECT_FALSE(menuItemOf(bar, QStringLiteral("A"), 0)->isChecked());
}

TEST_F(ScopeBar, AChoiceThatRebuildsTheBarFromItsOwnMenuOrButton)
{
    delegate.reloadOnChange = true;
    load();
    QPointer<PMQuibScopeBarButton> b = buttonOf(bar, QStringLiteral("B"), 0);
    QTest::mouseClick(b, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(b.isNull()); // replaced by the reload
    EXPECT_NE(buttonOf(bar, QStringLiteral("B"), 0), nullptr);

    bar.resize(60, 25);
    QPointer<PMQuibScopeBarPopUpButton> popUp = bar.popupButtonOfGroup(1);
    ASSERT_FALSE(popUp.isNull());
    QAction* item = menuItemOf(bar, QStringLiteral("Name"), 1);
    // The item is chosen, then the menu closed, from within the menu's own loop once it shows.
    QObject::connect(
        popUp->menu(), &QMenu::aboutToShow, item,
        [&, item] {
            item->trigger();
            if (popUp)
                popUp->menu()->close();
        },
        Qt::QueuedConnection);
    popUp->showMenu();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(delegate.changes.size(), 2u);
    EXPECT_EQ(delegate.changes[1].identifier, QStringLiteral("Name"));
    EXPECT_EQ(bar.groupCount(), 3);
}

TEST_F(ScopeBar, AMenuScopeBarNeverCollapsesAndAsksForItsExtent)
{
    delegate.menuBar = true;
    load();
    bar.resize(80, 25);
    EXPECT_FALSE(bar.smartResizeEnabled());
    EXPECT_EQ(bar.firstCollapsedGroup(), -1);
    QWidget* last = buttonOf(bar, QStringLiteral("Intersection"), 2);
    EXPECT_EQ(bar.minimumWidth(), bar.horizontalInset() + last->x() + last->width());

    delegate.menuBar.reset();
    bar.setSmartResizeEnabled(false);
    bar.resize(70, 25);
    EXPECT_EQ(bar.firstCollapsedGroup(), -1);
    bar.setSmartResizeEnabled(true); // reloads and fits itself to the width
    EXPECT_EQ(bar.minimumWidth(), 0);
    EXPECT_EQ(bar.firstCollapsedGroup(), 0);
}

TEST_F(ScopeBar, WithoutDelegateTheBarIsAnEmptyGradientAndTheAccessorySitsRight)
{
    bar.reloadData();
    EXPECT_EQ(bar.groupCount(), 0);
    bar.resize(300, 25);
    const QImage light = bar.grab().toImage();
    EXPECT_GT(qGray(light.pixel(150, 2)), 240);
    EXPECT_LT(qGray(light.pixel(150, 24)), qGray(light.pixel(150, 12))); // the border line

    delegate.dark = true;
    QPushButton accessory(QStringLiteral("X"));
    accessory.resize(40, 20);
    delegate.accessory = &accessory;
    load();
    EXPECT_EQ(accessory.parentWidget(), &bar);
    EXPECT_EQ(accessory.x(), 300 - 40 - 6);
    bar.resize(400, 25);
    EXPECT_EQ(accessory.x(), 400 - 40 - 6);
    const QImage dark = bar.grab().toImage();
    EXPECT_LT(qGray(dark.pixel(bar.width() - 60, 2)), 80);
    // Reloading without it gives it back.
    delegate.accessory = nullptr;
    bar.reloadData();
    EXPECT_EQ(accessory.parentWidget(), nullptr);
}

// ---- The controller as the delegate --------------------------------------------------

class ControllerScopeBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        PMMainController& c = mainController();
        for (const char* key : {"Group Search Scope", "Implicit Multiple Selection Search", "Group Search Criterion: Groups",
                                "Group Search Criterion: Files", "Group Search Criterion: Name", "Group Search Criterion: Metadata",
                                "Group Search Criterion: Location", "Menu Search Criterion: Name", "Menu Search Criterion: Metadata",
                                "Menu Search Criterion: Location", "Draw Scope Bar Icons"})
            defaults().removeObjectForKey(QString::fromLatin1(key));
        // Two containers selected: the scope can be chosen and the search intersected.
        setSelectionCounts(2, 0);
        c._selectedLibraryItems = platform::Array::make();
        c._updateUserInterfaceHook = [this] { ++refreshes; };
        gridBar = new PMQuibScopeBar(&window);
        menuBar = new PMQuibScopeBar(&window);
        c.groupScopeBar = gridBar;
        c.libraryMenuFilterScopeBar = menuBar;
        gridBar->resize(1200, 25);
        gridBar->setDelegate(c.scopeBarDelegate());
        menuBar->setDelegate(c.scopeBarDelegate());
    }
    void TearDown() override
    {
        PMMainController& c = mainController();
        c._updateUserInterfaceHook = nullptr;
        setSelectionCounts(0, 0);
        c._groupItemsParent = nullptr;
        c._selectedLibraryItems = platform::Array::make();
        c.setScopeBarsFollowMainWindowDarkness(false);
    }
    // What the scope bar asks of the selection follows from these counts.
    static void setSelectionCounts(qsizetype containers, qsizetype files)
    {
        mainController()._numberOfSelectedLibraryContainers = containers;
        mainController()._numberOfSelectedLibraryFiles = files;
    }
    QWidget window;
    PMQuibScopeBar* gridBar = nullptr;
    PMQuibScopeBar* menuBar = nullptr;
    int refreshes = 0;
};

TEST_F(ControllerScopeBar, GroupsItemsAndTitles)
{
    EXPECT_EQ(gridBar->groupCount(), 4);
    EXPECT_EQ(gridBar->identifiersOfGroup(0), (QStringList{QStringLiteral("[All]"), QStringLiteral("[Selected]")}));
    EXPECT_EQ(gridBar->identifiersOfGroup(1), (QStringList{QStringLiteral("Groups"), QStringLiteral("Files")}));
    EXPECT_EQ(gridBar->identifiersOfGroup(3), (QStringList{QStringLiteral("Union"), QStringLiteral("Intersection")}));
    EXPECT_EQ(gridBar->labelFieldOfGroup(0)->text(), QStringLiteral("Search:"));
    EXPECT_EQ(gridBar->labelFieldOfGroup(3)->text(), QStringLiteral("Selection:"));
    EXPECT_EQ(gridBar->selectionModeOfGroup(0), 0);
    EXPECT_EQ(gridBar->selectionModeOfGroup(2), 1);
    EXPECT_EQ(buttonOf(*gridBar, QStringLiteral("[All]"), 0)->text(), QStringLiteral("All Media"));
    EXPECT_EQ(buttonOf(*gridBar, QStringLiteral("[Selected]"), 0)->text(), QStringLiteral("Selection"));
    EXPECT_EQ(menuBar->groupCount(), 1);
    EXPECT_EQ(menuBar->selectionModeOfGroup(0), 1);
    EXPECT_FALSE(menuBar->smartResizeEnabled());

    // One selected container names the scope; movie records selected leave only "Files".
    PMMainController& c = mainController();
    auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Holidays")}});
    c._selectedLibraryItems->append(platform::Value(container));
    setSelectionCounts(1, 0);
    gridBar->reloadData();
    EXPECT_EQ(gridBar->groupCount(), 3);
    EXPECT_EQ(buttonOf(*gridBar, QStringLiteral("[Selected]"), 0)->text(), QStringLiteral("\"Holidays\""));
    defaults().setBool(true, QStringLiteral("Draw Scope Bar Icons"));
    gridBar->reloadData();
    EXPECT_EQ(buttonOf(*gridBar, QStringLiteral("[Selected]"), 0)->text(), QStringLiteral("Holidays"));
    setSelectionCounts(0, 0);
    gridBar->reloadData();
    EXPECT_EQ(gridBar->identifiersOfGroup(0), QStringList{QStringLiteral("[All]")});
    setSelectionCounts(1, 0);

    // An online container: one group of its own items, any number on.
    auto online = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Web")}, {QStringLiteral("Online"), true}});
    c._groupItemsParent = online;
    gridBar->reloadData();
    EXPECT_EQ(gridBar->groupCount(), 1);
    EXPECT_TRUE(gridBar->identifiersOfGroup(0).isEmpty());
}

TEST_F(ControllerScopeBar, ScopeAndSelectionAreRadioGroupsStoredInTheSettings)
{
    // Clicking the already selected "[All]" changes nothing and refreshes nothing.
    gridBar->show();
    QTest::mouseClick(buttonOf(*gridBar, QStringLiteral("[All]"), 0), Qt::LeftButton);
    EXPECT_EQ(refreshes, 0);
    EXPECT_TRUE(defaults().objectForKey(QStringLiteral("Group Search Scope")).isNull());

    QTest::mouseClick(buttonOf(*gridBar, QStringLiteral("[Selected]"), 0), Qt::LeftButton);
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("Group Search Scope")), QStringLiteral("[Selected]"));
    EXPECT_EQ(refreshes, 1);
    QTest::mouseClick(buttonOf(*gridBar, QStringLiteral("Intersection"), 3), Qt::LeftButton);
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("Implicit Multiple Selection Search")), QStringLiteral("Intersection"));
    EXPECT_EQ(refreshes, 2);
    // The same item again through the bar (a stored value that matches): no refresh.
    gridBar->setSelected(true, QStringLiteral("Intersection"), 3);
    EXPECT_EQ(refreshes, 2);
    EXPECT_TRUE(gridBar->canReloadData());
}

TEST_F(ControllerScopeBar, AfterAReloadTheItemsComeFromTheSettings)
{
    PMMainController& c = mainController();
    defaults().setBool(false, QStringLiteral("Group Search Criterion: Groups"));
    defaults().setBool(true, QStringLiteral("Group Search Criterion: Files"));
    defaults().setBool(true, QStringLiteral("Group Search Criterion: Location"));
    defaults().setObject(platform::Value(QStringLiteral("Intersection")), QStringLiteral("Implicit Multiple Selection Search"));
    ASSERT_TRUE(gridBar->reloadData());
    c.selectGroupScopeBarItemsFromUserDefaults(gridBar);
    std::vector<QStringList> selected = gridBar->selectedItems();
    EXPECT_EQ(selected[0], QStringList{QStringLiteral("[Selected]")}); // no stored scope
    EXPECT_EQ(selected[1], QStringList{QStringLiteral("Files")});
    EXPECT_EQ(selected[2], QStringList{QStringLiteral("Location")});
    EXPECT_EQ(selected[3], QStringList{QStringLiteral("Intersection")});
    EXPECT_TRUE(buttonOf(*gridBar, QStringLiteral("Location"), 2)->isChecked());

    // Nothing selected: the scope cannot be chosen, whatever is stored.
    setSelectionCounts(0, 0);
    defaults().setObject(platform::Value(QStringLiteral("[Selected]")), QStringLiteral("Group Search Scope"));
    gridBar->reloadData();
    c.selectGroupScopeBarItemsFromUserDefaults(gridBar);
    selected = gridBar->selectedItems();
    EXPECT_EQ(selected[0], QStringList{QStringLiteral("[All]")});
    // Files selected: containers are not searched, only "Files" is on.
    defaults().setBool(true, QStringLiteral("Group Search Criterion: Groups"));
    setSelectionCounts(2, 1);
    gridBar->reloadData();
    c.selectGroupScopeBarItemsFromUserDefaults(gridBar);
    selected = gridBar->selectedItems();
    EXPECT_EQ(selected[1], QStringList{QStringLiteral("Files")});
    setSelectionCounts(2, 0);
    EXPECT_EQ(refreshes, 0);

    // While the controller changes it, the bar does not rebuild itself.
    gridBar->setCanReloadData(false);
    EXPECT_FALSE(gridBar->reloadData());
    gridBar->setCanReloadData(true);
}

TEST_F(ControllerScopeBar, TheLastCriterionCannotBeSwitchedOff)
{
    defaults().setBool(true, QStringLiteral("Group Search Criterion: Name"));
    defaults().setBool(false, QStringLiteral("Group Search Criterion: Metadata"));
    defaults().setBool(false, QStringLiteral("Group Search Criterion: Location"));
    gridBar->setSelected(true, QStringLiteral("Name"), 2, false);
    gridBar->show();

    // Turning off the only criterion turns the first other one on instead.
    QTest::mouseClick(buttonOf(*gridBar, QStringLiteral("Name"), 2), Qt::LeftButton);
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Group Search Criterion: Name")));
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Group Search Criterion: Metadata")));
    EXPECT_EQ(gridBar->selectedItems()[2], QStringList{QStringLiteral("Metadata")});
    EXPECT_TRUE(buttonOf(*gridBar, QStringLiteral("Metadata"), 2)->isChecked());
    EXPECT_EQ(refreshes, 1);

    // With movie records selected the criterion group holds "Files" alone: it stays on.
    PMMainController& c = mainController();
    c._selectedLibraryItems->append(platform::Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/tmp/a.mp4"))));
    defaults().setBool(true, QStringLiteral("Group Search Criterion: Files"));
    gridBar->reloadData();
    gridBar->setSelected(true, QStringLiteral("Files"), 1, false);
    gridBar->show();
    QTest::mouseClick(buttonOf(*gridBar, QStringLiteral("Files"), 1), Qt::LeftButton);
    EXPECT_TRUE(buttonOf(*gridBar, QStringLiteral("Files"), 1)->isChecked());
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Group Search Criterion: Files")));
    EXPECT_EQ(refreshes, 1);

    // The library menu's bar keeps its own keys and updates the filter results at once.
    int filtered = 0;
    QObject::connect(&c, &PMMainController::libraryMenuFilterResultsNeedUpdate, menuBar, [&] { ++filtered; });
    menuBar->setSelected(true, QStringLiteral("Location"), 0);
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Menu Search Criterion: Location")));
    EXPECT_EQ(filtered, 1);
    EXPECT_EQ(refreshes, 1);
}

// ---- View options ----------------------------------------------------------------------

TEST(ViewOptions, DisplayModeFollowsTheButtonThatAskedForIt)
{
    PMMainController& c = mainController();
    QPushButton list, cover, other;
    c.groupViewListModeButton = &list;
    c.groupViewCoverModeButton = &cover;
    struct Case {
        QObject* sender;
        long long mode;
    };
    for (const Case& k : {Case{&list, 0}, Case{&cover, 11}, Case{&other, 10}, Case{nullptr, 10}})
        EXPECT_EQ(PMMainController::groupViewModeForSender(k.sender, &list, &cover), k.mode);
    // Without outlets nothing is the list or the cover button.
    EXPECT_EQ(PMMainController::groupViewModeForSender(nullptr, nullptr, nullptr), 10);

    auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Shown")}});
    c._groupItemsParent = container;
    int refreshes = 0;
    c._updateUserInterfaceHook = [&] { ++refreshes; };
    c.changeGroupViewMode(&cover);
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Group Content Display Mode")), 11);
    EXPECT_EQ(container->value(QStringLiteral("Group Content Display Mode")).toLongLong(), 11);
    EXPECT_GT(refreshes, 0);
    const int afterFirst = refreshes;
    c._groupItemsParent = container; // the refresh shows the (empty) selection's container
    c.changeGroupViewMode(&list);
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Group Content Display Mode")), 0);
    EXPECT_EQ(container->value(QStringLiteral("Group Content Display Mode")).toLongLong(), 0);
    EXPECT_GT(refreshes, afterFirst);
    c._updateUserInterfaceHook = nullptr;
    c._groupItemsParent = nullptr;
    c.groupViewListModeButton = nullptr;
    c.groupViewCoverModeButton = nullptr;
}

class PreviewSizeSlider : public ::testing::Test {
protected:
    void SetUp() override
    {
        gridtest::useSmallUniformTiles();
        PMMainController& c = mainController();
        window.resize(600, 400);
        grid = new PMGroupView(&window);
        grid->setGeometry(0, 0, 480, 300);
        slider = new QSlider(Qt::Horizontal, &window);
        slider->setRange(50, 500);
        c._mainWindow = &window;
        c.previewSizeSlider = slider;
        window.show();
        container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Shown")}});
        c._groupItemsParent = container;
        c._currentModifierFlagsOverride = [this] { return modifiers; };
        QObject::connect(&c, &PMMainController::statusFeedback, &window, [this](const QString& text) { feedback = text; });
    }
    void TearDown() override
    {
        PMMainController& c = mainController();
        c._mainWindow = nullptr;
        c.previewSizeSlider = nullptr;
        c._groupItemsParent = nullptr;
        c._currentModifierFlagsOverride = nullptr;
        c.setScopeBarsFollowMainWindowDarkness(false);
        PMGroupView::setSpacing(10);
    }
    unsigned columnsShown() const
    {
        return numberOfColumnsForWidth(PMGroupView::previewViewWidthForContainer(container), PMGroupView::spacing(), grid->canvasSize().width());
    }
    QWidget window;
    PMGroupView* grid = nullptr;
    QSlider* slider = nullptr;
    PMLibraryContainerPtr container;
    Qt::KeyboardModifiers modifiers;
    QString feedback;
};

TEST_F(PreviewSizeSlider, TheSliderChoosesTheNumberOfColumns)
{
    PMMainController& c = mainController();
    const unsigned most = numberOfColumnsForWidth(50, PMGroupView::spacing(), grid->canvasSize().width());
    ASSERT_GE(most, 3u);

    slider->setValue(500);
    c.changePreviewSize(slider);
    EXPECT_EQ(columnsShown(), 1u);
    slider->setValue(50);
    c.changePreviewSize(slider);
    EXPECT_EQ(columnsShown(), most);

    // Steps of one column: the slider follows; one column is as far as it goes.
    c.changePreviewSizeWithColumnsDelta(-1);
    EXPECT_EQ(columnsShown(), most - 1);
    slider->setValue(500);
    c.changePreviewSizeWithColumnsDelta(-1);
    EXPECT_EQ(columnsShown(), 1u);
    EXPECT_EQ(slider->value(), 500);
    c.changePreviewSizeWithColumnsDelta(+1);
    EXPECT_EQ(columnsShown(), 2u);
    EXPECT_EQ(slider->value(), int(PMRoundHalfAwayFromZero(500 - 450.0 / double(most - 1))));

    // With Ctrl the width follows the slider on a curve with fine steps at the small end.
    modifiers = Qt::ControlModifier;
    slider->setValue(50);
    c.changePreviewSize(slider);
    EXPECT_NEAR(PMGroupView::previewViewWidthForContainer(container), 50, 1e-9);
    slider->setValue(500);
    c.changePreviewSize(slider);
    EXPECT_NEAR(PMGroupView::previewViewWidthForContainer(container), 50 + 500 * (450.0 * 10 / 500) / 10, 1e-6);
}

TEST_F(PreviewSizeSlider, ShiftSetsTheSpacingFromFiveToFifty)
{
    PMMainController& c = mainController();
    modifiers = Qt::ShiftModifier;
    const double before = PMGroupView::previewViewWidthForContainer(container);
    struct Case {
        int value;
        double spacing;
        const char* text;
    };
    for (const Case& k : {Case{50, 5, "Spacing: 5 pt"}, Case{275, 28, "Spacing: 28 pt"}, Case{500, 50, "Spacing: 50 pt"},
                          Case{70, 7, "Spacing: 7 pt"}}) {
        slider->setValue(k.value);
        c.changePreviewSize(slider);
        EXPECT_EQ(PMGroupView::spacing(), k.spacing) << k.value;
        EXPECT_EQ(feedback, QString::fromLatin1(k.text));
    }
    // The default spacing says so.
    slider->setValue(80);
    c.changePreviewSize(slider);
    EXPECT_EQ(PMGroupView::spacing(), 8);
    EXPECT_EQ(feedback, QStringLiteral("Spacing: 8 pt (Default)"));
    EXPECT_EQ(PMGroupView::previewViewWidthForContainer(container), before); // the size stays

    // With Alt and the size adjustment on, the column count becomes the adjustment's limit.
    modifiers = Qt::AltModifier;
    defaults().setInteger(1, QStringLiteral("Adjust Preview Size"));
    slider->setValue(500);
    c.changePreviewSize(slider);
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Adjust Preview Size")), 1);
    EXPECT_EQ(feedback, QStringLiteral("Scale up: Limit to 1 or more columns"));
    defaults().setInteger(0, QStringLiteral("Adjust Preview Size"));

    // A drag of the spacing slider: the default catches the knob.
    QSlider spacingSlider;
    spacingSlider.setRange(0, 50);
    spacingSlider.setValue(9);
    c.changePreviewSpacing(PMNullObject());
    EXPECT_EQ(PMLiveResizeCount, 1);
    c.changePreviewSpacing(&spacingSlider);
    EXPECT_EQ(PMGroupView::spacing(), 8);
    spacingSlider.setValue(12);
    c.changePreviewSpacing(&spacingSlider);
    EXPECT_EQ(PMGroupView::spacing(), 12);
    c._updateUserInterfaceHook = [] {};
    c.changePreviewSpacing(nullptr);
    c._updateUserInterfaceHook = nullptr;
    EXPECT_EQ(PMLiveResizeCount, 0);
}

TEST(SidebarButtons, ForcedWhileHeldOtherwiseAsTheSettingSays)
{
    PMMainController& c = mainController();
    QWidget sidebar;
    sidebar.resize(200, 400);
    auto* list = new QWidget(&sidebar);
    list->setGeometry(0, 0, 200, 400);
    auto* add = new QPushButton(QStringLiteral("+"), &sidebar);
    add->setGeometry(0, 400, 24, 22); // under the bottom edge while hidden
    add->setEnabled(false);
    c.libraryAddButton = add;
    defaults().setBool(false, QStringLiteral("Always Show Library Toolbar"));

    c.modifierFlagsChanged(Qt::MetaModifier);
    EXPECT_TRUE(add->isEnabled());
    EXPECT_EQ(add->y(), 378);
    EXPECT_EQ(list->height(), 378);
    EXPECT_EQ(list->y(), 0);
    c.modifierFlagsChanged(Qt::MetaModifier); // already shown
    EXPECT_EQ(add->y(), 378);
    c.modifierFlagsChanged({});
    EXPECT_FALSE(add->isEnabled());
    EXPECT_EQ(add->y(), 400);
    EXPECT_EQ(list->height(), 400);

    // Installed at launch: the modifier keys of any window reach it.
    c.installViewOptions();
    sidebar.show();
    // As the window system reports them: the modifiers before the key went down or up.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Meta, Qt::NoModifier);
    QApplication::sendEvent(&sidebar, &press);
    EXPECT_TRUE(add->isEnabled());
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Meta, Qt::MetaModifier);
    QApplication::sendEvent(&sidebar, &release);
    EXPECT_FALSE(add->isEnabled());
    EXPECT_TRUE(c.respondsToAction(QStringLiteral("changePreviewSize")));
    EXPECT_TRUE(c.respondsToAction(QStringLiteral("changeGroupViewMode")));

    defaults().setBool(true, QStringLiteral("Always Show Library Toolbar"));
    c.showSidebarButtons(false);
    EXPECT_TRUE(add->isEnabled());
    defaults().removeObjectForKey(QStringLiteral("Always Show Library Toolbar"));
    c.libraryAddButton = nullptr;
}

} // namespace
