// Switch rows in menus: their size, the drag across several, the action that goes to its
// target only; and the tag-value switches that add or remove a tag value on movies.
#include "common/TestSupport.h"

#include "foundation/PMRange.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMenuItemSwitch.h"
#include "ui/commands/PMTagValueSwitch.h"

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidgetAction>

#include <gtest/gtest.h>

using platform::Array;
using platform::UserDefaults;
using platform::Value;

namespace {

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

// A target that counts what it is sent.
class Counter : public QObject, public platform::Responder {
public:
    QList<QObject*> senders;
    bool respondsToAction(const QString& action) const override { return action == QLatin1String("count"); }
    void performAction(const QString&, QObject* sender) override { senders.append(sender); }
};

} // namespace

TEST(MenuItemSwitch, WidthIsCappedByTheSettingWithAFloor)
{
    const QString longTitle(300, u'x');
    const struct {
        const char* setting; // nullptr: absent
        int cap;
    } cases[] = {{nullptr, 500}, {"50", 100}, {"250", 250}, {"wide", 500}};
    for (const auto& testCase : cases) {
        if (testCase.setting && QByteArray(testCase.setting) != "wide")
            defaults().setInteger(QByteArray(testCase.setting).toInt(), QStringLiteral("PMMenuItemSwitch: Maximum Width"));
        else if (testCase.setting)
            defaults().setObject(Value(QStringLiteral("wide")), QStringLiteral("PMMenuItemSwitch: Maximum Width"));
        else
            defaults().removeObjectForKey(QStringLiteral("PMMenuItemSwitch: Maximum Width"));
        PMMenuItemSwitch::resetClassSettingsForTesting();
        QMenu menu;
        PMMenuItemSwitch* s = PMMenuItemSwitch::menuItemSwitchWithTitle(longTitle, nullptr, &menu, nullptr);
        EXPECT_EQ(PMMenuItemSwitch::maximumWidth(), testCase.cap) << testCase.cap;
        EXPECT_LE(s->width(), testCase.cap);
        EXPECT_GE(s->width(), testCase.cap - 1);
        // The menu item: no title, no action, tag -1, the container as its view.
        QWidgetAction* item = s->enclosingMenuItem();
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(menu.actions().value(0), item);
        EXPECT_TRUE(item->text().isEmpty());
        EXPECT_EQ(platform::menuItemTag(item), -1);
        EXPECT_EQ(qobject_cast<PMMenuItemSwitchContainerView*>(item->defaultWidget())->menuItemSwitch(), s);
    }
    defaults().removeObjectForKey(QStringLiteral("PMMenuItemSwitch: Maximum Width"));
    PMMenuItemSwitch::resetClassSettingsForTesting();
}

TEST(MenuItemSwitch, ADragFlipsEachSwitchWhileInsideAndKeepsTheOneReleasedOn)
{
    QMenu menu;
    Counter counter;
    QList<PMMenuItemSwitch*> switches;
    for (int i = 0; i < 3; ++i) {
        PMMenuItemSwitch* s = PMMenuItemSwitch::menuItemSwitchWithTitle(QStringLiteral("Value %1").arg(i), nullptr, &menu, nullptr);
        s->setTarget(&counter);
        s->setAction(QStringLiteral("count"));
        switches.append(s);
    }
    // Entering without a button changes nothing.
    switches[0]->mouseEntered(Qt::NoButton);
    EXPECT_FALSE(switches[0]->isHighlightedViaMouseDrag());

    for (PMMenuItemSwitch* s : switches) {
        s->mouseEntered(Qt::LeftButton);
        EXPECT_TRUE(s->isHighlightedViaMouseDrag());
        EXPECT_EQ(s->switchState(), 1);
        if (s != switches.last()) {
            s->mouseExited();
            EXPECT_EQ(s->switchState(), 0);
        }
    }
    switches.last()->mouseUp();
    EXPECT_EQ(switches.last()->switchState(), 1);
    EXPECT_FALSE(switches.last()->isHighlightedViaMouseDrag());
    ASSERT_EQ(counter.senders.size(), 1);
    EXPECT_EQ(counter.senders[0], switches.last());
    // Leaving afterwards keeps the kept flip.
    switches.last()->mouseExited();
    EXPECT_EQ(switches.last()->switchState(), 1);

    // Switched off by the setting.
    defaults().setBool(true, QStringLiteral("PMMenuItemSwitch: Disable Mouse Drag Switching"));
    switches[0]->mouseEntered(Qt::LeftButton);
    EXPECT_FALSE(switches[0]->isHighlightedViaMouseDrag());
    EXPECT_EQ(switches[0]->switchState(), 0);
    defaults().removeObjectForKey(QStringLiteral("PMMenuItemSwitch: Disable Mouse Drag Switching"));

    // Without a target, or for a target that does not answer, nothing is sent.
    EXPECT_FALSE(switches[0]->sendAction(QStringLiteral("count"), nullptr));
    EXPECT_FALSE(switches[0]->sendAction(QStringLiteral("other"), &counter));
}

TEST(MenuItemSwitch, AClickInAnOpenMenuSwitchesWithoutClosingIt)
{
    QMenu menu;
    menu.addAction(QStringLiteral("Plain"));
    Counter counter;
    PMMenuItemSwitch* s = PMMenuItemSwitch::menuItemSwitchWithTitle(QStringLiteral("Switch"), nullptr, &menu, nullptr);
    s->setTarget(&counter);
    s->setAction(QStringLiteral("count"));
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(testsupport::waitUntil([&] { return menu.isVisible() && s->isVisible(); }));
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(8, s->height() / 2));
    EXPECT_EQ(s->switchState(), 1);
    EXPECT_EQ(counter.senders.size(), 1);
    EXPECT_TRUE(menu.isVisible());
    menu.close();
}

namespace {

class TagValueSwitches : public ::testing::Test {
protected:
    void SetUp() override
    {
        mainController().resetForTesting();
        PMLibraryContainerPtr section = mainController().pellisSourceStorageSection();
        for (int i = 0; i < 3; ++i) {
            auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movie %1.mov").arg(i));
            if (i < 2)
                movie->setValue(QStringLiteral("Paris"), QStringLiteral("Place"));
            else
                movie->setValue(QStringLiteral("Rome"), QStringLiteral("Place"));
            section->rawChildren()->append(Value(movie));
            movies.push_back(movie);
        }
        mainController().invalidateLibraryDependencies();
        mainController().invalidateTagTypes();
        platform::setAlertHandler([this](const platform::Alert& alert) {
            alerts.append(alert.messageText);
            return platform::AlertResponse{answer, false};
        });
    }
    void TearDown() override
    {
        platform::setAlertHandler(nullptr);
        defaults().removeObjectForKey(QStringLiteral("PMTagValueSwitch: Immediate Toggle: Disable Alert"));
        mainController().resetForTesting();
    }
    platform::ArrayPtr all() const
    {
        auto array = Array::make();
        for (const auto& m : movies)
            array->append(Value(m));
        return array;
    }
    PMTagValueSwitch* switchFor(const QList<QAction*>& items, const QString& value)
    {
        for (QAction* item : items) {
            if (auto* action = qobject_cast<QWidgetAction*>(item)) {
                auto* s = qobject_cast<PMTagValueSwitch*>(qobject_cast<PMMenuItemSwitchContainerView*>(action->defaultWidget())->menuItemSwitch());
                if (s && s->tagValue == value)
                    return s;
            }
        }
        return nullptr;
    }
    QList<bool> carryParis() const
    {
        QList<bool> out;
        for (const auto& m : movies)
            out.append(m->valuesByLowercaseValueForTag(QStringLiteral("Place"))->contains(QStringLiteral("paris")));
        return out;
    }

    std::vector<PMMovieRepresentationOriginalPtr> movies;
    QStringList alerts;
    int answer = 0;
};

} // namespace

TEST_F(TagValueSwitches, OnOffAndMixedByTheCarriedCountAndMixedRestoresTheOpening)
{
    defaults().setBool(true, QStringLiteral("PMTagValueSwitch: Immediate Toggle: Disable Alert"));
    Counter counter;
    QMenu menu;
    auto* generator = PMTagValueSwitchGenerator::generatorForTag(QStringLiteral("Place"), all(), &counter, QStringLiteral("count"), nullptr, &menu);
    const QList<QAction*> items = generator->populateMenu(&menu, PMNotFound, 0, QStringLiteral("Empty"));
    PMTagValueSwitch* paris = switchFor(items, QStringLiteral("Paris"));
    PMTagValueSwitch* rome = switchFor(items, QStringLiteral("Rome"));
    ASSERT_TRUE(paris && rome);
    EXPECT_EQ(paris->switchState(), -1); // two of three
    EXPECT_EQ(rome->switchState(), -1);  // one of three
    // A menu's validation leaves its switches usable: they are controls, not commands.
    platform::validateMenu(&menu);
    for (QAction* item : items)
        EXPECT_TRUE(item->isEnabled());
    EXPECT_TRUE(paris->isEnabled());
    // Each switch a value carried by all or none has no mixed state.
    auto two = Array::make({Value(movies[0]), Value(movies[1])});
    QMenu other;
    const QList<QAction*> twoItems = PMTagValueSwitchGenerator::generatorForTag(QStringLiteral("Place"), two, nullptr, QString(), nullptr, &other)
                                         ->populateMenu(&other, PMNotFound, 0, QString());
    EXPECT_EQ(switchFor(twoItems, QStringLiteral("Paris"))->switchState(), 1);
    EXPECT_FALSE(switchFor(twoItems, QStringLiteral("Paris"))->isTristate());
    EXPECT_EQ(switchFor(twoItems, QStringLiteral("Rome"))->switchState(), 0);

    // Clicks: on for all, off for none, then mixed gives it back to the first two.
    const QList<QList<bool>> expected = {{true, true, true}, {false, false, false}, {true, true, false}};
    for (const QList<bool>& carried : expected) {
        paris->click();
        EXPECT_EQ(carryParis(), carried);
    }
    // Another switch, destroyed meanwhile, takes nothing of this one's opening state.
    delete rome->enclosingMenuItem();
    paris->click();
    paris->click();
    paris->click();
    EXPECT_EQ(carryParis(), (QList<bool>{true, true, false}));

    // A run of toggles ends in one update.
    EXPECT_TRUE(counter.senders.isEmpty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !counter.senders.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.senders.size(), 1);
}

TEST_F(TagValueSwitches, TheFirstClickOnlyExplainsUntilAcknowledged)
{
    QMenu menu;
    auto* generator = PMTagValueSwitchGenerator::generatorForTag(QStringLiteral("Place"), all(), nullptr, QString(), nullptr, &menu);
    const QList<QAction*> items = generator->populateMenu(&menu, PMNotFound, 0, QString());
    PMTagValueSwitch* paris = switchFor(items, QStringLiteral("Paris"));
    ASSERT_NE(paris, nullptr);
    answer = 1; // "Show Alert Again Next Time"
    paris->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return alerts.size() == 1; }));
    EXPECT_EQ(carryParis(), (QList<bool>{true, true, false}));
    EXPECT_EQ(paris->switchState(), -1);
    answer = 0; // "Understood"
    paris->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return alerts.size() == 2; }));
    EXPECT_EQ(carryParis(), (QList<bool>{true, true, false}));
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("PMTagValueSwitch: Immediate Toggle: Disable Alert")));
    paris->click();
    EXPECT_EQ(carryParis(), (QList<bool>{true, true, true}));
    EXPECT_EQ(alerts.size(), 2);
}

TEST_F(TagValueSwitches, ATagWithoutValuesShowsEmptyInItsSubmenu)
{
    QMenu menu;
    PMTagValueSwitchGenerator::generatorForTag(QStringLiteral("Mood"), all(), nullptr, QString(), &menu);
    ASSERT_EQ(menu.actions().size(), 1);
    QMenu* submenu = menu.actions().first()->menu();
    ASSERT_NE(submenu, nullptr);
    EXPECT_EQ(submenu->title(), QStringLiteral("Mood"));
    Q_EMIT submenu->aboutToShow();
    ASSERT_EQ(submenu->actions().size(), 1);
    EXPECT_EQ(submenu->actions().first()->text(), QStringLiteral("Empty"));
    EXPECT_FALSE(submenu->actions().first()->isEnabled());
}
