#include "library/model/PMMainController.h"
#include "platform/Alert.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPushButton>

using namespace platform;
using testsupport::waitUntil;

namespace {

QStringList titles(const QMenu& menu)
{
    QStringList list;
    for (const QAction* item : menu.actions())
        list.append(item->isSeparator() ? QStringLiteral("-") : item->text());
    return list;
}

// A widget that answers some actions, records what it ran and validates by a flag.
template <class Base>
class Handling : public Base, public Responder {
public:
    using Base::Base;
    QStringList handles;
    QStringList performed;
    bool allowed = true;
    bool respondsToAction(const QString& action) const override { return handles.contains(action); }
    void performAction(const QString& action, QObject*) override { performed.append(action); }
    bool validateMenuItem(QAction* item) override
    {
        item->setChecked(menuItemTag(item) == 2);
        return allowed;
    }
};

} // namespace

TEST(MenuHelpers, SeparatorsAndTrimming)
{
    QMenu menu;
    EXPECT_EQ(addSeparatorIfNecessary(&menu), nullptr); // nothing to separate yet
    addNonActionItemWithTitle(&menu, QStringLiteral("A"));
    EXPECT_NE(addSeparatorIfNecessary(&menu), nullptr);
    EXPECT_EQ(addSeparatorIfNecessary(&menu), nullptr); // never two in a row
    addNonActionItemWithTitle(&menu, QStringLiteral("B"));
    addNonActionItemWithTitle(&menu, QStringLiteral("C"));
    addSeparator(&menu);
    addSeparator(&menu);
    removeTrailingSeparators(&menu);
    EXPECT_EQ(titles(menu), (QStringList{QStringLiteral("A"), QStringLiteral("-"), QStringLiteral("B"), QStringLiteral("C")}));
    addNonActionItemWithTitle(&menu, QStringLiteral("D"));
    removeItemsSparingAtTop(&menu, 1, 1);
    EXPECT_EQ(titles(menu), (QStringList{QStringLiteral("A"), QStringLiteral("D")}));
    removeItemsSparingAtTop(&menu, 5, 0);
    EXPECT_EQ(menu.actions().size(), 2);
}

TEST(MenuHelpers, ItemsHeadersAndTitles)
{
    QMenu menu;
    installMenuConventions(&menu);
    QAction* chosen = nullptr;
    QAction* handled = addItemWithTitle(&menu, QStringLiteral("Tom & Jerry"), [&](QAction* item) { chosen = item; });
    EXPECT_EQ(handled->text(), QStringLiteral("Tom && Jerry")); // shown with its ampersand
    QAction* plain = addNonActionItemWithTitle(&menu, QStringLiteral("Nothing"));
    QAction* header = addHeaderWithTitle(&menu, QStringLiteral("Section"));
    QAction* pseudo = addPseudoSeparator(&menu);
    validateMenu(&menu);
    EXPECT_TRUE(handled->isEnabled());
    EXPECT_FALSE(plain->isEnabled());
    EXPECT_FALSE(header->isEnabled());
    EXPECT_EQ(header->font().weight(), QFont::Medium);
    EXPECT_FALSE(pseudo->isEnabled());
    handled->trigger();
    EXPECT_EQ(chosen, handled);

    // Headers at normal size are plain items.
    UserDefaults::standard().setBool(true, QStringLiteral("Draw Menu Headers At Normal Size"));
    EXPECT_NE(addHeaderWithTitle(&menu, QStringLiteral("Plain"))->font().weight(), QFont::Medium);
    UserDefaults::standard().setObject({}, QStringLiteral("Draw Menu Headers At Normal Size"));

    // A suffix follows the title and replaces an earlier one; no suffix sets a title plainly.
    QAction item(QStringLiteral("Movies"));
    setTitleSuffix(&item, QStringLiteral(" (12)"), -1);
    EXPECT_EQ(item.text(), QStringLiteral("Movies (12)"));
    EXPECT_EQ(titleSuffix(&item), QStringLiteral(" (12)"));
    setTitleSuffix(&item, QStringLiteral(" (13)"), 12);
    EXPECT_EQ(item.text(), QStringLiteral("Movies (13)"));
    // Cleared, the suffix leaves the title; a later one does not pile up on it.
    setTitleSuffix(&item, QString(), 12);
    EXPECT_EQ(item.text(), QStringLiteral("Movies"));
    setTitleSuffix(&item, QStringLiteral(" 4"), 12);
    EXPECT_EQ(item.text(), QStringLiteral("Movies 4"));
    setTitle(&item, QStringLiteral("Shows"), QString(), 12);
    EXPECT_EQ(item.text(), QStringLiteral("Shows"));
    EXPECT_TRUE(titleSuffix(&item).isEmpty());
    EXPECT_EQ(PMMenuTitleSuffixColor(false, true), QColor::fromRgbF(1, 1, 1, 0.4f));

    // Pop-up menus: never reaching a menu bar.
    QMainWindow window;
    QMenu* fileMenu = window.menuBar()->addMenu(QStringLiteral("File"));
    QMenu* recent = fileMenu->addMenu(QStringLiteral("Recent"));
    EXPECT_FALSE(isPopUpMenu(recent));
    EXPECT_TRUE(isPopUpMenu(&menu));
    EXPECT_TRUE(isPopUpMenuItem(handled));
    EXPECT_FALSE(isPopUpMenuItem(recent->addAction(QStringLiteral("x"))));

    // An item targeting a control clicks it.
    QPushButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    QAction* click = addItemWithTitle(&menu, QStringLiteral("Click"), std::nullopt, QString());
    setTargetControl(click, &button);
    click->trigger();
    EXPECT_EQ(clicks, 1);
}

TEST(ActionDispatcher, ReachesTheNearestHandler)
{
    Handling<QWidget> window;
    window.handles = {QStringLiteral("play"), QStringLiteral("delete")};
    auto* panel = new Handling<QWidget>(&window);
    panel->handles = {QStringLiteral("delete")};
    auto* field = new QLineEdit(panel);
    struct AppResponder : Responder {
        QStringList performed;
        bool respondsToAction(const QString& action) const override { return action == QLatin1String("help"); }
        void performAction(const QString& action, QObject*) override { performed.append(action); }
    } application;
    setApplicationResponder(&application);

    EXPECT_EQ(targetForAction(QStringLiteral("delete"), field), static_cast<Responder*>(panel));
    EXPECT_EQ(targetForAction(QStringLiteral("play"), field), static_cast<Responder*>(&window));
    EXPECT_EQ(targetForAction(QStringLiteral("help"), field), static_cast<Responder*>(&application));
    EXPECT_EQ(targetForAction(QStringLiteral("copy"), field), nullptr);

    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == field; }));
    EXPECT_TRUE(sendAction(QStringLiteral("delete"), nullptr));
    EXPECT_TRUE(sendAction(QStringLiteral("play"), nullptr));
    EXPECT_TRUE(sendAction(QStringLiteral("help"), nullptr));
    EXPECT_FALSE(sendAction(QStringLiteral("copy"), nullptr));
    EXPECT_EQ(panel->performed, QStringList{QStringLiteral("delete")});
    EXPECT_EQ(window.performed, QStringList{QStringLiteral("play")});
    EXPECT_EQ(application.performed, QStringList{QStringLiteral("help")});
    // An explicit target must handle the action itself.
    EXPECT_FALSE(sendAction(QStringLiteral("play"), nullptr, panel));
    setApplicationResponder(nullptr);
}

TEST(ActionDispatcher, EndsAtTheController)
{
    PMMainController& controller = mainController();
    setApplicationResponder(&controller);
    QObject* received = nullptr;
    controller._actions.insert(QStringLiteral("showMovieInfo"), [&](QObject* sender) { received = sender; });
    controller._menuItemValidator = [](QAction* item) { return menuItemTag(item) != 7; };
    QWidget window;
    QMenu menu;
    QAction* info = addItemWithTitle(&menu, QStringLiteral("Info"), std::nullopt, QStringLiteral("showMovieInfo"));
    EXPECT_EQ(targetForAction(QStringLiteral("showMovieInfo"), &window), static_cast<Responder*>(&controller));
    validateMenu(&menu);
    EXPECT_TRUE(info->isEnabled());
    info->trigger();
    EXPECT_EQ(received, info);
    setMenuItemTag(info, 7);
    validateMenu(&menu);
    EXPECT_FALSE(info->isEnabled());
    controller._actions.clear();
    controller._menuItemValidator = nullptr;
    setApplicationResponder(nullptr);
}

TEST(ActionDispatcher, MenusValidateOnShowAndBeforeShortcuts)
{
    Handling<QMainWindow> window;
    window.handles = {QStringLiteral("play"), QStringLiteral("mark")};
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Movie"));
    installMenuConventions(menu);
    QAction* play = menu->addAction(QStringLiteral("Play"));
    setMenuItemAction(play, QStringLiteral("play"));
    play->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    play->setShortcutContext(Qt::ApplicationShortcut);
    QAction* mark = menu->addAction(QStringLiteral("Mark"));
    mark->setCheckable(true);
    setMenuItemAction(mark, QStringLiteral("mark"));
    setMenuItemTag(mark, 2);
    QAction* orphan = menu->addAction(QStringLiteral("Copy"));
    setMenuItemAction(orphan, QStringLiteral("copy")); // nobody handles it
    window.show();
    QApplication::setActiveWindow(&window);
    window.setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window; }));

    // Opening the menu validates every item: enabled and checked by the program's state.
    window.allowed = false;
    Q_EMIT menu->aboutToShow();
    EXPECT_FALSE(play->isEnabled());
    EXPECT_FALSE(orphan->isEnabled());
    EXPECT_TRUE(mark->isChecked());
    Q_EMIT menu->aboutToHide();

    // A refused command's shortcut does nothing but beep.
    const int beeps = beepCount();
    QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(window.performed.isEmpty());
    EXPECT_EQ(beepCount(), beeps + 1);
    // Once allowed, the same shortcut runs it, without the menu having been opened again.
    window.allowed = true;
    QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(window.performed, QStringList{QStringLiteral("play")});
    EXPECT_EQ(beepCount(), beeps + 1);
}

TEST(ActionDispatcher, AlternateItemsStandBesideTheirPrimaries)
{
    // A held modifier cannot reveal an item here (Alt closes an open menu, and window
    // managers take Alt with a click): alternates are items of their own, whatever is held.
    QMenu menu;
    installMenuConventions(&menu);
    QWidget window;
    int closedAll = 0;
    QAction* close = addItemWithTitle(&menu, QStringLiteral("Close"), [](QAction*) {});
    QAction* closeAll = addItemWithTitle(&menu, QStringLiteral("Close All"), [&](QAction*) { ++closedAll; });
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    closeAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W));
    setAlternateMenuItem(closeAll, close, Qt::ShiftModifier);
    EXPECT_EQ(alternateMenuItemPrimary(closeAll), close);
    EXPECT_EQ(alternateMenuItemPrimary(close), nullptr);
    window.addActions({close, closeAll}); // their shortcuts work in the window
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return menu.isVisible(); }));
    EXPECT_TRUE(close->isVisible());
    EXPECT_TRUE(closeAll->isVisible());
    QTest::keyPress(&menu, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_TRUE(close->isVisible());
    EXPECT_TRUE(closeAll->isVisible());
    QTest::keyRelease(&menu, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_TRUE(closeAll->isVisible());
    menu.close();
    ASSERT_TRUE(waitUntil([&] { return !menu.isVisible(); }));
    // With the menu closed, the alternate's own shortcut works.
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window; }));
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(closedAll, 1);
}

TEST(ActionDispatcher, AMenuBarWithTheFocusLeavesCommandsWhereTheUserWorked)
{
    // Alt alone (or the bar's keyboard navigation) moves the focus into the menu bar; the
    // commands of its menus still belong to the view that had the focus.
    QMainWindow window;
    auto* grid = new Handling<QWidget>(&window);
    grid->handles = {QStringLiteral("selectAll")};
    grid->setFocusPolicy(Qt::StrongFocus);
    window.setCentralWidget(grid);
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Edit"));
    installMenuConventions(menu);
    QAction* all = menu->addAction(QStringLiteral("Select All"));
    setMenuItemAction(all, QStringLiteral("selectAll"));
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window; }));
    grid->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == grid; }));
    window.menuBar()->setFocus(Qt::MenuBarFocusReason);
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == window.menuBar(); }));
    Q_EMIT menu->aboutToShow();
    EXPECT_TRUE(all->isEnabled());
    all->trigger();
    EXPECT_EQ(grid->performed, QStringList{QStringLiteral("selectAll")});
}
