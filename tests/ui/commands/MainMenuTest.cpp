// The main menu bar: its table, the shortcuts that only act when validation allows, and
// validation rules of the controller's commands.
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"

#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "playback/PMPlayback.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Image.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMainMenu.h"
#include "services/help/PMHelpManager.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <QtCore/QDir>
#include <QtCore/QStandardPaths>
#include <QtCore/QFile>
#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtGui/QClipboard>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

using platform::Array;
using platform::ArrayPtr;
using platform::UserDefaults;
using platform::Value;
using testsupport::testHome;
using testsupport::waitUntil;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

void collectItems(QMenu* menu, QList<QAction*>& into)
{
    for (QAction* item : menu->actions()) {
        if (item->isSeparator())
            continue;
        into.append(item);
        if (item->menu())
            collectItems(item->menu(), into);
    }
}

ArrayPtr oneMovie(const QString& path)
{
    auto movies = Array::make();
    movies->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl::fromLocalFile(path))));
    return movies;
}

class MainMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        c().resetForTesting();
        platform::setApplicationResponder(&c());
        bar = PMMainMenu::createMenuBar(c(), &window);
        window.setMenuBar(bar);
        window.resize(800, 500);
    }
    void TearDown() override
    {
        c()._infoMovieRepresentations = nullptr;
        c()._isPresenting = false;
        PMCachedSettings::determineNamesAutomatically = false;
        for (const char* key : {"Missing Movies Mode", "Serialize", "Show Experimental View Menu", "Single Window Mode", "PMDebugLog",
                                "Mosaic: Expand Last Row"})
            defaults().removeObjectForKey(QString::fromUtf8(key));
        platform::setApplicationResponder(nullptr);
    }
    QAction* item(const char* menu, const char* title)
    {
        QAction* found = PMMainMenu::itemWithTitle(bar, QString::fromUtf8(menu), QString::fromUtf8(title));
        EXPECT_NE(found, nullptr) << menu << " / " << title;
        return found;
    }
    // Validated as its menu would on opening.
    bool enabled(QAction* action) { return platform::validateMenuItemNow(action); }
    static void controllerValidates(QAction* action) { c().validateMainMenuItem(action); }

    QMainWindow window;
    QMenuBar* bar = nullptr;
};

} // namespace

TEST(MainMenuTable, EveryCommandHasItsOwnTagAndShortcut)
{
    QHash<QString, QString> commands;
    QHash<QKeySequence, QString> shortcuts;
    for (const PMMainMenu::Entry& entry : PMMainMenu::entries()) {
        const QString where = QString::fromUtf8(entry.menu) + u'/' + QString::fromUtf8(entry.title);
        if (entry.action && *entry.action) {
            // The tag tells the variants of one action apart: two items with the same
            // action and tag would be the same command twice.
            const QString command = QString::fromUtf8(entry.action) + u'#' + QString::number(entry.tag);
            EXPECT_FALSE(commands.contains(command)) << where.toStdString() << " repeats " << commands.value(command).toStdString();
            commands.insert(command, where);
        }
        if (entry.shortcut) {
            const QKeySequence key(QString::fromUtf8(entry.shortcut), QKeySequence::PortableText);
            EXPECT_FALSE(key.isEmpty()) << where.toStdString() << ": " << entry.shortcut;
            EXPECT_FALSE(shortcuts.contains(key)) << where.toStdString() << " takes " << entry.shortcut << " of "
                                                  << shortcuts.value(key).toStdString();
            shortcuts.insert(key, where);
        }
    }
    // The desktop's conventions.
    EXPECT_EQ(shortcuts.value(QKeySequence(QStringLiteral("Ctrl+Q"))), QStringLiteral("File/Quit Pellis"));
    EXPECT_EQ(shortcuts.value(QKeySequence(QStringLiteral("Ctrl+,"))), QStringLiteral("Edit/Preferences..."));
    EXPECT_EQ(shortcuts.value(QKeySequence(QStringLiteral("F11"))), QStringLiteral("View/Enter Full Screen"));
}

TEST_F(MainMenu, TheBarCarriesTheTableWithTagsAndOutlets)
{
    QList<QAction*> items;
    // (The library menu is made in code, around the library, not from the table.)
    for (QMenu* menu : bar->findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        if (menu != c().libraryMenu.data())
            collectItems(menu, items);
    QHash<QKeySequence, QString> shortcuts;
    int commands = 0;
    for (QAction* action : items) {
        if (action->menu())
            continue;
        ++commands;
        EXPECT_TRUE(action->data().isValid()) << action->text().toStdString();
        if (!action->shortcut().isEmpty()) {
            EXPECT_FALSE(shortcuts.contains(action->shortcut())) << action->text().toStdString();
            shortcuts.insert(action->shortcut(), action->text());
        }
    }
    // Every command row of the table became one item.
    const auto rows = std::count_if(PMMainMenu::entries().begin(), PMMainMenu::entries().end(), [](const PMMainMenu::Entry& entry) {
        return *entry.title && !(entry.flags & PMMainMenu::Submenu);
    });
    EXPECT_EQ(commands, rows);
    EXPECT_EQ(platform::menuItemTag(item("Movie/Rating", "\u2605\u2605\u2605")), 3);
    EXPECT_EQ(c()._mainMenu.infoMenuItem.data(), item("File", "Show Info"));
    EXPECT_EQ(c()._mainMenu.ratingMenu.data(), item("Movie", "Rating")->menu());
    for (QMenu* outlet : {c()._mainMenu.lastWatchedMenu.data(), c()._mainMenu.layoutMenu.data(), c()._mainMenu.sortMenu.data(),
                          c()._mainMenu.aspectRatioMenu.data(), c()._mainMenu.libraryFolderMenu.data()})
        EXPECT_NE(outlet, nullptr);
}

TEST_F(MainMenu, ADisabledItemsShortcutDoesNotRunItsAction)
{
    // The rating command counts its runs instead of rating.
    const auto saved = c()._actions.value(QStringLiteral("setRating"));
    QList<qint64> ratings;
    c()._actions.insert(QStringLiteral("setRating"), [&](QObject* sender) { ratings.append(platform::menuItemTag(qobject_cast<QAction*>(sender))); });
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window; }));

    // Nothing selected: the item is disabled, and so is its shortcut.
    EXPECT_FALSE(enabled(item("Movie/Rating", "\u2605\u2605\u2605")));
    QTest::keyClick(&window, Qt::Key_3, Qt::ControlModifier);
    EXPECT_TRUE(ratings.isEmpty());

    // A movie selected: the same shortcut rates it.
    c()._infoMovieRepresentations = oneMovie(testHome() + QStringLiteral("/a.mov"));
    QTest::keyClick(&window, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(ratings, QList<qint64>{3});

    // A command nobody answers yet is never enabled, nor reached by its key.
    auto* unanswered = new QAction(QStringLiteral("Nobody's"), bar);
    platform::setMenuItemAction(unanswered, QStringLiteral("commandNobodyAnswers"));
    EXPECT_FALSE(enabled(unanswered));
    c()._actions.insert(QStringLiteral("setRating"), saved);
}

TEST_F(MainMenu, ValidationRules)
{
    PMMainController& controller = c();

    // "Save as..." is retitled and never enabled in the controller.
    QAction* saveAs = item("File", "Save as...");
    EXPECT_FALSE(enabled(saveAs));
    EXPECT_EQ(saveAs->text(), QStringLiteral("Save as..."));

    // The missing-movies mode: on for -1, off for 1, mixed otherwise; choosing it cycles.
    QAction* missing = item("View", "Hide Missing Movies");
    const struct {
        qint64 mode;
        bool checked;
        bool mixed;
    } missingCases[] = {{-1, true, false}, {1, false, false}, {0, false, true}};
    for (const auto& testCase : missingCases) {
        defaults().setInteger(testCase.mode, QStringLiteral("Missing Movies Mode"));
        EXPECT_TRUE(enabled(missing));
        EXPECT_EQ(missing->isChecked(), testCase.checked) << testCase.mode;
        EXPECT_EQ(platform::menuItemMixedState(missing), testCase.mixed) << testCase.mode;
    }
    defaults().setInteger(1, QStringLiteral("Missing Movies Mode"));
    controller.setMissingMoviesModeFromMenuItem();
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Missing Movies Mode")), 0);
    controller.setMissingMoviesModeFromMenuItem();
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Missing Movies Mode")), -1);
    controller.setMissingMoviesModeFromMenuItem();
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Missing Movies Mode")), 1);

    // Without a current movie every player command is off.
    for (const auto& [menu, title] : {std::pair{"Movie", "Wind Forward"}, {"Movie", "Go to Time..."}, {"View/Scale", "Actual Size"},
                                      {"View", "Stay in Front"}, {"Movie/Time", "Trim to Selection"}, {"Edit", "Copy"}}) {
        QAction* action = item(menu, title);
        EXPECT_FALSE(controller.validateMainMenuItem(action)) << title;
        EXPECT_FALSE(action->isChecked()) << title;
    }
    EXPECT_FALSE(controller.validateMainMenuItem(item("Movie", "Presentation Mode")));
    EXPECT_FALSE(controller.validateMainMenuItem(item("Movie", "Aspect Ratio")));

    // The info command: one movie, and renaming not while names are automatic.
    QAction* info = item("File", "Show Info");
    QAction* rename = item("File", "Rename...");
    EXPECT_FALSE(controller.validateMainMenuItem(info));
    controller._infoMovieRepresentations = oneMovie(testHome() + QStringLiteral("/a.mov"));
    EXPECT_TRUE(controller.validateMainMenuItem(info));
    EXPECT_TRUE(controller.validateMainMenuItem(rename));
    PMCachedSettings::determineNamesAutomatically = true;
    EXPECT_FALSE(controller.validateMainMenuItem(rename));
    EXPECT_TRUE(controller.validateMainMenuItem(info));

    // Merging is called bundling while sequences are serialized.
    QAction* merge = item("File", "Merge Sequence...");
    platform::setMenuItemRepresentedObject(merge, Value(controller._infoMovieRepresentations));
    defaults().setBool(true, QStringLiteral("Serialize"));
    EXPECT_TRUE(controller.validateMainMenuItem(merge));
    EXPECT_EQ(merge->text(), QStringLiteral("Bundle..."));
    defaults().setBool(false, QStringLiteral("Serialize"));
    EXPECT_TRUE(controller.validateMainMenuItem(merge));
    EXPECT_EQ(merge->text(), QStringLiteral("Merge Sequence..."));

    // The dedicated player item is on while the single window mode is off, and does
    // nothing while presenting.
    QAction* dedicated = item("Window", "Dedicated Player Window");
    EXPECT_TRUE(controller.validateMainMenuItem(dedicated));
    EXPECT_TRUE(dedicated->isChecked());
    defaults().setBool(true, QStringLiteral("Single Window Mode"));
    controller._isPresenting = true;
    EXPECT_FALSE(controller.validateMainMenuItem(dedicated));
    EXPECT_FALSE(dedicated->isChecked());

    // The experimental submenu disappears with its setting and comes back with it.
    QAction* experimental = item("View", "Experimental");
    EXPECT_FALSE(controller.validateMainMenuItem(experimental));
    EXPECT_FALSE(experimental->isVisible());
    defaults().setBool(true, QStringLiteral("Show Experimental View Menu"));
    EXPECT_TRUE(controller.validateMainMenuItem(experimental));
    EXPECT_TRUE(experimental->isVisible());

    // Debug logging: the log window when a reader exists, else the setting's switch.
    QAction* logging = item("Window", "Enable Debug Logging");
    defaults().setBool(true, QStringLiteral("PMDebugLog"));
    EXPECT_TRUE(controller.validateMainMenuItem(logging));
    if (logging->text() == QStringLiteral("Log"))
        EXPECT_FALSE(logging->isChecked());
    else
        EXPECT_TRUE(logging->isChecked());
}

// A few actions of the validation table in representative states: nothing chosen, one
// movie, two movies; an action the table has no rule for is on when validation knows it.
TEST_F(MainMenu, TheRulesOfKeyActionsFollowTheChosenMovies)
{
    PMMainController& controller = c();
    const ArrayPtr one = oneMovie(testHome() + QStringLiteral("/a.mov"));
    const ArrayPtr two = oneMovie(testHome() + QStringLiteral("/a.mov"));
    two->append(oneMovie(testHome() + QStringLiteral("/b.mov"))->at(0));
    const struct {
        const char* action;
        bool none, one, two;
        const char* titleOne; // the title the rule gives with one movie (null: left alone)
        const char* titleTwo;
    } cases[] = {
        {"exportMetadataCSV", false, true, true, nullptr, nullptr},
        {"copyPlaybackURLViaMenuItem", false, true, false, nullptr, nullptr},
        {"setRating", false, true, true, nullptr, nullptr},
        {"setCustomPosterImage", false, true, true, "Reset Cover and Preview", "Reset Covers and Previews"},
        {"rotate", false, false, false, nullptr, nullptr}, // nothing can turn them without the player's part
        {"save", false, false, false, nullptr, nullptr},
        {"openFile", true, true, true, nullptr, nullptr},
        {"noSuchAction", false, false, false, nullptr, nullptr},
    };
    for (const auto& testCase : cases) {
        QAction action(QStringLiteral("Title"));
        platform::setMenuItemAction(&action, QString::fromLatin1(testCase.action));
        controller._infoMovieRepresentations = nullptr;
        EXPECT_EQ(controller.validateMainMenuItem(&action), testCase.none) << testCase.action;
        controller._infoMovieRepresentations = one;
        EXPECT_EQ(controller.validateMainMenuItem(&action), testCase.one) << testCase.action;
        if (testCase.titleOne) {
            EXPECT_EQ(action.text(), QString::fromLatin1(testCase.titleOne)) << testCase.action;
        }
        controller._infoMovieRepresentations = two;
        EXPECT_EQ(controller.validateMainMenuItem(&action), testCase.two) << testCase.action;
        if (testCase.titleTwo) {
            EXPECT_EQ(action.text(), QString::fromLatin1(testCase.titleTwo)) << testCase.action;
        }
    }
}

TEST_F(MainMenu, TheMergeItemAsksAgainWhenTheChosenMoviesOrTheLibraryChange)
{
    // Every validation of the menu asks whether the chosen movies can be merged; the answer
    // is kept for the same movies, and asked again for others or after a change to the
    // library.
    PMMainController& controller = c();
    for (const char* name : {"/a.mov", "/b.mov"})
        testsupport::writeFile(testHome() + QString::fromLatin1(name), "movie");
    const ArrayPtr a = oneMovie(testHome() + QStringLiteral("/a.mov")), b = oneMovie(testHome() + QStringLiteral("/b.mov")),
                   gone = oneMovie(testHome() + QStringLiteral("/gone.mov"));
    PMMovie(gone->at(0))->setMissing(true, false);
    const auto chosen = [](std::initializer_list<ArrayPtr> movies) {
        auto all = Array::make();
        for (const ArrayPtr& m : movies)
            all->append(m->at(0));
        c()._infoMovieRepresentations = all;
    };
    QAction* merge = item("File", "Merge Sequence...");
    chosen({a, b});
    EXPECT_TRUE(enabled(merge));
    EXPECT_EQ(merge->text(), QStringLiteral("Merge Sequence..."));
    chosen({a, gone});
    EXPECT_FALSE(enabled(merge));
    chosen({a, b});
    EXPECT_TRUE(enabled(merge));
    chosen({a});
    EXPECT_FALSE(enabled(merge));

    // The same movies after a change that is saved with the library, and after an update.
    chosen({a, b});
    EXPECT_TRUE(enabled(merge));
    PMMovie(b->at(0))->setMissing(true, false);
    controller.saveLibrarySoon();
    EXPECT_FALSE(enabled(merge));
    PMMovie(b->at(0))->setMissing(false, false);
    controller.libraryFolderDryRunNeedsUpdate();
    EXPECT_TRUE(enabled(merge));
    platform::cancelPreviousPerformRequests(&controller, QStringLiteral("saveLibrary"), Value());
}

TEST_F(MainMenu, ExperimentalSwitchesCycleThroughAbsence)
{
    // A setting whose absence means something goes on, off, then back to absent; the
    // item shows absence as mixed.
    defaults().setBool(true, QStringLiteral("Show Experimental View Menu"));
    QMenu* menu = c()._mainMenu.experimentalViewMenu;
    ASSERT_NE(menu, nullptr);
    const QString key = QStringLiteral("Mosaic: Expand Last Row");
    const auto expandLastRow = [&]() -> QAction* {
        c().menuNeedsUpdate(menu);
        for (QAction* action : menu->actions()) {
            if (platform::menuItemRepresentedObject(action).string() == key)
                return action;
        }
        return nullptr;
    };
    QAction* action = expandLastRow();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(platform::menuItemTag(action), -1);
    EXPECT_TRUE(platform::menuItemMixedState(action));
    c().toggleBooleanPreferenceViaMenuItem(action);
    EXPECT_TRUE(defaults().boolForKey(key));
    EXPECT_TRUE(expandLastRow()->isChecked());
    c().toggleBooleanPreferenceViaMenuItem(expandLastRow());
    EXPECT_TRUE(defaults().hasPersistentValueForKey(key));
    EXPECT_FALSE(defaults().boolForKey(key));
    EXPECT_FALSE(platform::menuItemMixedState(expandLastRow()));
    c().toggleBooleanPreferenceViaMenuItem(expandLastRow());
    EXPECT_FALSE(defaults().hasPersistentValueForKey(key));
    EXPECT_TRUE(platform::menuItemMixedState(expandLastRow()));
}

TEST_F(MainMenu, LibraryFolderMenuListsTheFoldersThatCanComeBack)
{
    const QString libraries = testHome() + QStringLiteral("/Libraries");
    const QString current = libraries + QStringLiteral("/Current");
    const QString other = libraries + QStringLiteral("/Other");
    const QString deleted = libraries + QStringLiteral("/Deleted");
    const QString unmounted = QStringLiteral("/mnt/PellisUnmountedVolume/Library");
    QDir().mkpath(current);
    QDir().mkpath(other);
    defaults().setObject(Value(current), QStringLiteral("Library Path"));
    const auto known = [&](const QStringList& paths) {
        auto locations = platform::Dictionary::make();
        for (const QString& path : paths)
            locations->setValue(path, Value(path));
        defaults().setObject(Value(locations), QStringLiteral("Libraries"));
    };
    known({other, deleted, unmounted});

    QMenu* menu = c()._mainMenu.libraryFolderMenu;
    ASSERT_NE(menu, nullptr);
    // The organiser's dry runs answer from a worker; the menu then shows their answer.
    c().menuNeedsUpdate(menu);
    QTRY_VERIFY_WITH_TIMEOUT(c()._libraryFolderDryRun.valid && c()._libraryFolderDryRun.generation == c()._libraryFolderGeneration, 30000);
    c().menuNeedsUpdate(menu);
    QAction* currentItem = nullptr;
    QAction* otherItem = nullptr;
    QAction* unmountedItem = nullptr;
    QStringList actions;
    for (QAction* action : menu->actions()) {
        const QString path = platform::menuItemRepresentedObject(action).string();
        actions.append(platform::menuItemAction(action) + u'#' + QString::number(platform::menuItemTag(action)));
        if (action->menu() && action->isChecked())
            currentItem = action;
        else if (path == other)
            otherItem = action;
        else if (action->text().contains(QStringLiteral("PellisUnmountedVolume")))
            unmountedItem = action;
        EXPECT_NE(path, deleted) << "a folder deleted from a mounted volume is not offered";
    }
    ASSERT_NE(currentItem, nullptr);
    ASSERT_NE(otherItem, nullptr);
    EXPECT_EQ(platform::menuItemAction(otherItem), QStringLiteral("changeLibraryLocation"));
    ASSERT_NE(unmountedItem, nullptr);
    EXPECT_FALSE(platform::validateMenuItemNow(unmountedItem)) << "a folder on an unmounted volume is listed, disabled";
    // "Other..." and, with several known folders, its "Clear" alternate.
    EXPECT_TRUE(actions.contains(QStringLiteral("changeLibraryLocation#0")));
    EXPECT_TRUE(actions.contains(QStringLiteral("changeLibraryLocation#-1")));
    // An empty library folder is in order.
    EXPECT_EQ(menu->actions().last()->text(), QStringLiteral("Library folder is organized and contains all files."));

    known({});
    c().menuNeedsUpdate(menu);
    for (QAction* action : menu->actions())
        EXPECT_NE(platform::menuItemTag(action), -1) << "one known folder: nothing to clear";
    for (const char* key : {"Libraries", "Library Path"})
        defaults().removeObjectForKey(QString::fromUtf8(key));
}

TEST_F(MainMenu, LayoutAndRatingMenusFollowTheState)
{
    // The median variants always stand beside the average ones, which say so.
    QMenu* layout = c()._mainMenu.layoutMenu;
    ASSERT_NE(layout, nullptr);
    const struct {
        int layout;
        int visibleFixedItems;
        const char* fourth;
    } layoutCases[] = {{0, 5, "Scale Previews to Fit Average Aspect Ratio"}, {6, 5, "Scale Previews to Fit Average Aspect Ratio"},
                       {7, 5, "Scale Previews to Fit Average Aspect Ratio"}, {56, 5, "Scale Previews to Fit Average Aspect Ratio"}};
    for (const auto& testCase : layoutCases) {
        defaults().setInteger(testCase.layout, QStringLiteral("Preview Layout"));
        c().menuNeedsUpdate(layout);
        QStringList fixed;
        QStringList checked;
        for (QAction* action : layout->actions()) {
            if (action->isSeparator())
                break;
            if (action->isCheckable() && action->isVisible())
                fixed.append(action->text());
            if (action->isChecked())
                checked.append(action->text());
        }
        EXPECT_EQ(fixed.size(), testCase.visibleFixedItems) << testCase.layout;
        if (testCase.visibleFixedItems == 5)
            EXPECT_EQ(fixed.value(3), QString::fromUtf8(testCase.fourth));
        else
            EXPECT_EQ(fixed.value(2), QString::fromUtf8(testCase.fourth));
        EXPECT_EQ(checked.size(), testCase.layout == 56 ? 0 : 1) << testCase.layout;
    }
    defaults().removeObjectForKey(QStringLiteral("Preview Layout"));

    // Two movies rated 3 and 5 have no common rating: both ratings show mixed.
    auto movies = oneMovie(testHome() + QStringLiteral("/three.mov"));
    movies->append(oneMovie(testHome() + QStringLiteral("/five.mov"))->at(0));
    PMMovie(movies->at(0))->setRating(3);
    PMMovie(movies->at(1))->setRating(5);
    c()._infoMovieRepresentations = movies;
    QMenu* rating = c()._mainMenu.ratingMenu;
    c().menuNeedsUpdate(rating);
    for (QAction* action : rating->actions()) {
        const qint64 tag = platform::menuItemTag(action);
        EXPECT_EQ(platform::menuItemMixedState(action), tag == 3 || tag == 5) << tag;
        EXPECT_FALSE(action->isChecked()) << tag;
    }
    PMMovie(movies->at(1))->setRating(3);
    c().menuNeedsUpdate(rating);
    for (QAction* action : rating->actions()) {
        EXPECT_FALSE(platform::menuItemMixedState(action));
        EXPECT_EQ(action->isChecked(), platform::menuItemTag(action) == 3);
    }
}

TEST_F(MainMenu, LastWatchedMenuAndItsShortcut)
{
    PMMainController& controller = c();
    QMenu* menu = controller._mainMenu.lastWatchedMenu;
    ASSERT_NE(menu, nullptr);
    controller.clearLastWatchedMovieRepresentations(nullptr);
    controller.menuNeedsUpdate(menu);
    EXPECT_TRUE(menu->actions().isEmpty()) << "no movies, no Clear";
    EXPECT_FALSE(controller.validateMainMenuItem(item("File", "Last Watched")));

    const auto movie = [](const QString& name) {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(testHome() + u'/' + name + QStringLiteral(".mov"));
        m->userSettings()->setValue(QStringLiteral("Name"), name);
        return m;
    };
    auto a = movie(QStringLiteral("Alpha"));
    auto b = movie(QStringLiteral("Beta"));
    controller.pellisSourceStorageSection()->rawChildren()->append(Value(a));
    controller.pellisSourceStorageSection()->rawChildren()->append(Value(b));
    controller.invalidateLibraryDependencies();
    controller.addLastWatchedMovieRepresentation(Value(a), nullptr);
    controller.addLastWatchedMovieRepresentation(Value(b), nullptr);
    controller.menuNeedsUpdate(menu);
    EXPECT_TRUE(controller.validateMainMenuItem(item("File", "Last Watched")));

    // Only the first movie and its Reveal alternate have shortcuts; Clear ends the menu.
    QStringList withShortcuts;
    for (QAction* action : menu->actions()) {
        if (!action->shortcut().isEmpty())
            withShortcuts.append(action->text() + u' ' + action->shortcut().toString(QKeySequence::PortableText));
    }
    EXPECT_EQ(withShortcuts, (QStringList{QStringLiteral("Beta Ctrl+="), QStringLiteral("Reveal \"Beta\" Ctrl+Alt+=")}));
    EXPECT_EQ(platform::menuItemAction(menu->actions().last()), QStringLiteral("clearLastWatchedMovieRepresentations"));

    // The shortcut goes to whatever movie is first when it is pressed.
    QAction* first = menu->actions().first();
    controller.addLastWatchedMovieRepresentation(Value(a), nullptr);
    controller.validateMainMenuItem(first);
    EXPECT_EQ(first->text(), QStringLiteral("Alpha"));
    EXPECT_EQ(platform::menuItemRepresentedObject(first).objectPointer(), Value(a).objectPointer());
    controller.clearLastWatchedMovieRepresentations(nullptr);
    EXPECT_FALSE(controller.validateMainMenuItem(first));
}

TEST_F(MainMenu, EditingCommandsReachTheTextFieldWithTheFocus)
{
    auto* field = new QLineEdit(&window);
    window.setCentralWidget(field);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == field; }));
    field->setText(QStringLiteral("Night & Day"));
    field->deselect();

    QAction* copy = item("Edit", "Copy");
    QAction* selectAll = item("Edit", "Select All");
    QAction* paste = item("Edit", "Paste");
    EXPECT_FALSE(enabled(copy)) << "nothing selected, no movie";
    ASSERT_TRUE(enabled(selectAll));
    selectAll->trigger();
    EXPECT_EQ(field->selectedText(), QStringLiteral("Night & Day"));
    ASSERT_TRUE(enabled(copy));
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Night & Day"));
    field->clear();
    ASSERT_TRUE(enabled(paste));
    paste->trigger();
    EXPECT_EQ(field->text(), QStringLiteral("Night & Day"));
    field->setReadOnly(true);
    EXPECT_FALSE(enabled(paste));

    // The frame commands that need an area selection or a save panel are not offered
    // until the player provides them.
    EXPECT_FALSE(c().validateMainMenuItem(item("Movie/Current Frame", "Use Area as Preview...")));
    EXPECT_FALSE(c().validateMainMenuItem(item("Movie/Current Frame", "Save Frame...")));
}

TEST(GoToTime, ReadsHoursMinutesAndSeconds)
{
    const struct {
        const char* text;
        double seconds; // negative: not a time
    } cases[] = {{"3723", 3723},     {"62:03", 3723},  {"1:02:03", 3723}, {" 1:02:03.5 ", 3723.5}, {"0:00:07,25", 7.25},
                 {"0", 0},           {"1:60", -1},     {"1:2:3:4", -1},   {"-5", -1},              {"", -1},
                 {"abc", -1},        {"1::3", -1},     {"1.5:00", -1},    {"inf", -1},             {"+3", -1}};
    for (const auto& testCase : cases) {
        const std::optional<double> seconds = PMMainController::secondsFromTimeString(QString::fromUtf8(testCase.text));
        if (testCase.seconds < 0)
            EXPECT_FALSE(seconds.has_value()) << testCase.text;
        else
            EXPECT_EQ(seconds.value_or(-1), testCase.seconds) << testCase.text;
    }
}

TEST(GoToTime, MovesTheCurrentMovieOrSaysWhyNot)
{
    PMMainController& controller = c();
    controller.resetPlaybackForTesting();
    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(testHome() + QStringLiteral("/clip.mov"));
    controller._currentMovieRepresentation = Value(movie);
    controller.timeSlider.duration = 100;
    QString answer;
    controller._goToTimeOverride = [&](const QString&) { return answer; };
    QStringList alerts;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        alerts.append(alert.messageText);
        return platform::AlertResponse{};
    });

    answer = QStringLiteral("1:05");
    controller.goToTime();
    EXPECT_EQ(controller.timeSlider.currentTime, 65);
    answer = QStringLiteral("2:00:00");
    controller.goToTime();
    EXPECT_EQ(controller.timeSlider.currentTime, 100) << "past the end goes to the end";
    answer = QStringLiteral("soon");
    controller.goToTime();
    EXPECT_EQ(controller.timeSlider.currentTime, 100);
    EXPECT_EQ(alerts, QStringList{QStringLiteral("The time \u201csoon\u201d cannot be read.")});
    answer.clear();
    controller.goToTime();
    EXPECT_EQ(alerts.size(), 1) << "cancelled: nothing happens";

    platform::setAlertHandler(nullptr);
    controller._goToTimeOverride = nullptr;
    controller.resetPlaybackForTesting();
}

namespace {

struct SortItem {
    QString title;      // with its suffix
    bool checked = false;
    bool mixed = false;
    bool badge = false; // a tier number instead of the check mark
    qint64 tag = 0;
    bool alternate = false;
};

QList<SortItem> sortItems(QMenu* menu)
{
    QList<SortItem> items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->menu())
            continue;
        items.append({action->text(), action->isChecked(), platform::menuItemMixedState(action), !action->icon().isNull(),
                      platform::menuItemTag(action), platform::alternateMenuItemPrimary(action) != nullptr});
    }
    return items;
}

const SortItem* findSortItem(const QList<SortItem>& items, const QString& title)
{
    for (const SortItem& item : items) {
        if (item.title == title || item.title == QStringLiteral("\u2013 ") + title)
            return &item;
    }
    return nullptr;
}

} // namespace

TEST_F(MainMenu, SortMenuShowsTheCriterionTiersAndDirection)
{
    PMMainController& controller = c();
    QMenu* sort = controller._mainMenu.sortMenu;
    ASSERT_NE(sort, nullptr);

    // Nothing shown: the default criterion, nothing to inherit.
    controller._groupItemsParent = nullptr;
    defaults().setObject(Value(QStringLiteral("GroupListRating")), QStringLiteral("Group Sorting Criterion"));
    controller.menuNeedsUpdate(sort);
    QList<SortItem> items = sortItems(sort);
    ASSERT_NE(findSortItem(items, QStringLiteral("Rating")), nullptr);
    EXPECT_TRUE(findSortItem(items, QStringLiteral("Rating"))->checked);
    EXPECT_EQ(findSortItem(items, QStringLiteral("Inherit Sort Order")), nullptr);
    // The current criterion's alternate (the other direction) is mixed, never on.
    const auto other = std::find_if(items.begin(), items.end(), [](const SortItem& item) { return item.alternate && item.title.startsWith(QStringLiteral("\u2013 Rating")); });
    ASSERT_NE(other, items.end());
    EXPECT_FALSE(other->checked);
    EXPECT_EQ(other->tag, 1);
    EXPECT_TRUE(findSortItem(items, QStringLiteral("Ascending"))->checked);
    EXPECT_FALSE(findSortItem(items, QStringLiteral("Descending"))->checked);
    defaults().removeObjectForKey(QStringLiteral("Group Sorting Criterion"));

    // A container sorted by rating, then time: tier badges 1 (on) and 2 (mixed).
    auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Shelf")},
                                                {QStringLiteral("Group Sorting Criterion"), QStringLiteral("GroupListRating,GroupListTime")}});
    controller.pellisSourceStorageSection()->rawChildren()->append(Value(container));
    controller.invalidateLibraryDependencies();
    controller._groupItemsParent = container;
    controller.menuNeedsUpdate(sort);
    items = sortItems(sort);
    const SortItem* rating = findSortItem(items, QStringLiteral("Rating"));
    const SortItem* time = findSortItem(items, QStringLiteral("Time"));
    ASSERT_TRUE(rating && time);
    EXPECT_TRUE(rating->checked && rating->badge);
    EXPECT_TRUE(time->mixed && time->badge);
    EXPECT_FALSE(findSortItem(items, QStringLiteral("Location"))->badge);

    // With the manual order switched automatically, "Index" is offered only while it is the
    // criterion.
    EXPECT_NE(findSortItem(items, QStringLiteral("Index")), nullptr);
    defaults().setBool(true, QStringLiteral("Automatically Toggle Manual Sorting"));
    controller.menuNeedsUpdate(sort);
    EXPECT_EQ(findSortItem(sortItems(sort), QStringLiteral("Index")), nullptr);
    defaults().removeObjectForKey(QStringLiteral("Automatically Toggle Manual Sorting"));

    // The rearrange menu ends with inverting and shuffling.
    QMenu* rearrange = controller._mainMenu.rearrangeMenu;
    controller.menuNeedsUpdate(rearrange);
    items = sortItems(rearrange);
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items[items.size() - 2].title, QStringLiteral("Invert"));
    EXPECT_EQ(items.last().title, QStringLiteral("Shuffle"));
    EXPECT_EQ(findSortItem(items, QStringLiteral("Index")), nullptr);
    controller._groupItemsParent = nullptr;
}

TEST_F(MainMenu, ChoosingFromTheSortMenuSortsTheSelectedContainer)
{
    PMMainController& controller = c();
    auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Shelf")}});
    controller.pellisSourceStorageSection()->rawChildren()->append(Value(container));
    controller.invalidateLibraryDependencies();
    ASSERT_TRUE(controller.selectLibraryItem(Value(container)));
    QMenu* sort = controller._mainMenu.sortMenu;
    auto choose = [&](const QString& title) {
        controller.menuNeedsUpdate(sort);
        for (QAction* action : sort->actions())
            if (action->text() == title && action->isVisible()) {
                EXPECT_TRUE(enabled(action)) << title.toStdString();
                platform::performMenuItem(action);
                return;
            }
        ADD_FAILURE() << "no item " << title.toStdString();
    };
    choose(QStringLiteral("Name"));
    EXPECT_EQ(container->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListName"));
    EXPECT_FALSE(container->sortsDescendingAccordingToAncestor(nullptr));
    choose(QStringLiteral("Descending"));
    EXPECT_EQ(container->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListName"));
    EXPECT_TRUE(container->sortsDescendingAccordingToAncestor(nullptr));
}

TEST_F(MainMenu, ExperimentalMenuOffersTheShownContainersInboxAndSubdivisions)
{
    PMMainController& controller = c();
    auto subgroups = platform::Dictionary::make();
    subgroups->setValue(QStringLiteral("Tag"), Value(QStringLiteral("year")));
    auto container = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Shelf")}, {QStringLiteral("Subgroup Settings"), Value(subgroups)}});
    controller.pellisSourceStorageSection()->rawChildren()->append(Value(container));
    controller.invalidateLibraryDependencies();
    ASSERT_FALSE(container->uniqueLibraryID().isEmpty());
    // The shown container is the selected one (and stays so through library updates).
    controller.selectLibraryItem(Value(container));
    ASSERT_EQ(controller._groupItemsParent, container);
    QMenu* menu = controller._mainMenu.experimentalViewMenu;
    controller.menuNeedsUpdate(menu);
    QAction* inbox = menu->actions().value(0);
    QAction* reset = menu->actions().value(1);
    ASSERT_TRUE(inbox && reset);
    EXPECT_EQ(inbox->text(), QStringLiteral("Use \"Shelf\" as Inbox"));
    EXPECT_FALSE(inbox->isChecked());
    inbox->trigger();
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("Inbox")), container->uniqueLibraryID());
    EXPECT_EQ(reset->text(), QStringLiteral("Reset \"Shelf\" Subdivisions"));
    reset->trigger();
    EXPECT_FALSE(container->contains(QStringLiteral("Subgroup Settings")));

    controller.menuNeedsUpdate(menu);
    EXPECT_TRUE(menu->actions().value(0)->isChecked());
    menu->actions().value(0)->trigger();
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("Inbox")), QString());
    EXPECT_TRUE(menu->actions().value(1)->isSeparator()) << "nothing left to reset";
    controller.selectLibraryItems(platform::Array::make());
    controller._groupItemsParent = nullptr;
    defaults().removeObjectForKey(QStringLiteral("Inbox"));
}

TEST(AspectRatioMenu, TicksTheRatioInUseOrOffersToDefineTheAreasOwn)
{
    PMMainController& controller = c();
    controller.resetPlaybackForTesting();
    QMenu empty;
    controller.populateAspectRatioMenu(&empty);
    ASSERT_EQ(empty.actions().size(), 1);
    EXPECT_EQ(empty.actions().first()->text(), QStringLiteral("-")) << "no movie: nothing to choose";

    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(testHome() + QStringLiteral("/wide.mov"));
    controller._currentMovieRepresentation = Value(movie);
    controller._currentMovieHasVideo = true;
    controller.playerViewContent().movieReplacingImage = platform::Image::make(QImage(1920, 1080, QImage::Format_RGB32));
    QWidget area;
    auto* view = new QWidget(&area);
    controller.playerView = view;

    struct Shown {
        QString first;
        qint64 firstTag;
        QString firstSuffix;
        QStringList ticked;
        QStringList resets;
    };
    const auto shown = [&](int width, int height) {
        area.resize(width, height);
        QMenu menu;
        controller.populateAspectRatioMenu(&menu);
        Shown result{menu.actions().first()->text(), platform::menuItemTag(menu.actions().first()), titleSuffix(menu.actions().first()), {}, {}};
        for (QAction* action : menu.actions()) {
            if (action->isChecked())
                result.ticked.append(action->text());
            if (platform::menuItemTag(action) <= 0 && action != menu.actions().first() && !action->isSeparator())
                result.resets.append(action->text());
        }
        return result;
    };

    // The area has the picture's shape: 16:9 is ticked.
    Shown matching = shown(960, 540);
    EXPECT_EQ(matching.first, QStringLiteral("Lock Aspect Ratio"));
    EXPECT_EQ(matching.ticked, QStringList{QStringLiteral("16:9 (1.78:1)")});
    EXPECT_TRUE(matching.resets.isEmpty());

    // An area of another shape: define its own ratio, or reset.
    Shown other = shown(800, 600);
    EXPECT_EQ(other.first, QStringLiteral("Define Aspect Ratio (1.33:1)"));
    EXPECT_EQ(other.firstTag, 1);
    EXPECT_EQ(other.firstSuffix, QStringLiteral(" (1.33:1)"));
    EXPECT_TRUE(other.ticked.isEmpty());
    EXPECT_EQ(other.resets, QStringList{QStringLiteral("Reset Aspect Ratio")});

    // A ratio stored for the movie rules, and can be cleared.
    movie->userSettings()->setValue(QStringLiteral("Aspect Ratio"), Value(0.75));
    Shown stored = shown(800, 600);
    EXPECT_EQ(stored.first, QStringLiteral("Lock Aspect Ratio"));
    EXPECT_EQ(stored.ticked, QStringList{QStringLiteral("4:3 (1.33:1)")});
    EXPECT_EQ(stored.resets, QStringList{QStringLiteral("Clear Custom Aspect Ratio")});

    controller._menuValidation.isAspectRatioLocked = [] { return true; };
    EXPECT_EQ(shown(800, 600).first, QStringLiteral("Unlock Aspect Ratio"));
    controller._menuValidation.isAspectRatioLocked = nullptr;
    controller.playerView = nullptr;
    controller.resetPlaybackForTesting();
}

TEST_F(MainMenu, ColumnMenuListsTheTablesColumnsThenTheOthersByName)
{
    PMMainController& controller = c();
    using Column = PMMainController::MenuValidationHooks::TableColumn;
    controller._menuValidation.groupListColumns = [] {
        return QList<Column>{{QStringLiteral("GroupListName"), QStringLiteral("Name"), true},
                             {QStringLiteral("GroupListIndex"), QStringLiteral("#"), false},
                             {QStringLiteral("GroupListSize"), QStringLiteral(" File Size "), true}};
    };
    QMenu* menu = controller._mainMenu.columnMenu;
    controller.menuNeedsUpdate(menu);
    QStringList titles;
    for (QAction* action : menu->actions()) {
        titles.append(action->text() + (action->isChecked() ? QStringLiteral(" \u2713") : QString()));
        if (action->text() == QLatin1String("Name"))
            EXPECT_FALSE(platform::validateMenuItemNow(action)) << "the name column stays";
        else
            EXPECT_EQ(platform::menuItemAction(action), QStringLiteral("toggleGroupListColumn"));
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Counter"), QStringLiteral("Date Created"), QStringLiteral("File Size \u2713"),
                                   QStringLiteral("Height"), QStringLiteral("Index"), QStringLiteral("Last Opened"),
                                   QStringLiteral("Name \u2713"), QStringLiteral("Resolution"), QStringLiteral("Width")}));
    controller._menuValidation.groupListColumns = nullptr;
}

namespace {

// A sidebar with one container, chosen.
class OneChosenContainer : public PMLibraryListAccess {
public:
    explicit OneChosenContainer(Value container) : m_container(std::move(container)) {}
    qsizetype numberOfRows() override { return 1; }
    Value itemAtRow(qsizetype row) override { return row == 0 ? m_container : Value(); }
    QList<qsizetype> selectedRows() override { return chosen ? QList<qsizetype>{0} : QList<qsizetype>{}; }
    bool chosen = true;

private:
    Value m_container;
};

} // namespace

TEST_F(MainMenu, MovieCommandsActOnTheGridsSelection)
{
    const QString dir = testHome() + QStringLiteral("/commands");
    QDir().mkpath(dir);
    auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("F")}});
    std::vector<PMMovieRepresentationOriginalPtr> movies;
    for (const char* name : {"/a.mov", "/b.mov"}) {
        QFile file(dir + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        movies.push_back(PMMovieRepresentationOriginal::movieRepresentationWithPath(file.fileName()));
        folder->rawChildren()->append(Value(movies.back()));
    }
    // The grid in a shown library window, with the keys.
    QWidget window;
    window.resize(480, 300);
    auto* gridInWindow = new PMGroupView(&window);
    PMGroupView& grid = *gridInWindow;
    grid.resize(480, 300);
    grid.setRepresentedGroup(folder);
    for (const auto& movie : movies)
        grid.addItem(Value(movie));
    grid.tileWithAdjustedSize(false, false, false);
    c()._groupView = &grid;
    c()._mainWindow = &window;
    window.show();
    QApplication::setActiveWindow(&window);
    grid.setFocus();
    auto sidebar = std::make_shared<OneChosenContainer>(Value(folder));
    sidebar->chosen = false;
    c()._libraryListAccess = sidebar;

    QAction* show = item("File", "Show in File Manager");
    QAction* copy = item("File", "Copy Playback URL");
    QAction* exportCSV = item("File", "Export Metadata CSV...");
    QAction* rating = item("Movie/Rating", "\u2605\u2605\u2605");
    // Nothing selected anywhere: nothing to act on.
    for (QAction* action : {show, copy, exportCSV, rating})
        EXPECT_FALSE(enabled(action)) << action->text().toStdString();
    // A context menu's item that names its movie's file acts on that file, selection or not.
    QAction revealNamed;
    platform::setMenuItemAction(&revealNamed, QStringLiteral("showInFinder"));
    platform::setMenuItemRepresentedObject(&revealNamed, Value(movies[0]->path()));
    EXPECT_TRUE(enabled(&revealNamed));
    // One movie selected in the grid: every command for one movie.
    // The movies a command acts on hold for one turn of the event loop.
    QCoreApplication::processEvents();
    grid.selectItems(Array::make({Value(movies[0])}), true, false, false);
    for (QAction* action : {show, copy, exportCSV, rating})
        EXPECT_TRUE(enabled(action)) << action->text().toStdString();
    // Clear Selection clears the grid's selection (tag 1), not a time selection.
    QAction* clear = item("Edit", "Clear Selection");
    platform::setMenuItemTag(clear, 0);
    EXPECT_TRUE(c().validateMainMenuItem(clear));
    EXPECT_EQ(platform::menuItemTag(clear), 1);
    // Two: the commands for one movie go off, the others stay.
    QCoreApplication::processEvents();
    grid.selectAll();
    EXPECT_FALSE(enabled(show));
    EXPECT_FALSE(enabled(copy));
    EXPECT_TRUE(enabled(exportCSV));
    EXPECT_TRUE(enabled(rating));
    c()._groupView = nullptr;
    c()._mainWindow = nullptr;
    c()._libraryListAccess = nullptr;
}

TEST_F(MainMenu, HelpIsOffWithoutAHelpBook)
{
    // The command follows whether the book can be found.
    QAction* help = item("Help", "Pellis Help");
    EXPECT_EQ(enabled(help), PMMainController::helpIsAvailable());
    // A folder without the book's first page has no help to show; with it, it has.
    const QString folder = testsupport::makeTempDir(QStringLiteral("book"));
    EXPECT_FALSE(PMHelpBookHasOverview(folder));
    EXPECT_FALSE(PMHelpBookHasOverview(QString()));
    testsupport::writeFile(folder + QStringLiteral("/overview.html"), "<html><body><div id=\"main\">Overview</div></body></html>");
    EXPECT_TRUE(PMHelpBookHasOverview(folder));
}

// Every item of the main menu (and of its refilled submenus) is decided by validation
// itself, never by a default, and an enabled item always reaches someone who acts on it.
TEST_F(MainMenu, EveryItemIsValidatedAndNoneIsEnabledThatDoesNothing)
{
    PMMainController& controller = c();
    defaults().setBool(true, QStringLiteral("Show Experimental View Menu"));
    const auto walk = [&](const char* state) {
        QList<QAction*> items;
        for (QMenu* menu : bar->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
            // Refilled as they would be on opening.
            for (QMenu* sub : menu->findChildren<QMenu*>())
                controller.menuNeedsUpdate(sub);
            collectItems(menu, items);
        }
        ASSERT_GT(items.size(), 100);
        for (QAction* action : items) {
            if (action->menu() || platform::hasMenuItemHandler(action))
                continue;
            const QString name = platform::menuItemAction(action);
            const std::string where = std::string(state) + ": " + action->text().toStdString();
            if (name.isEmpty()) {
                EXPECT_FALSE(enabled(action)) << where;
                continue;
            }
            EXPECT_TRUE(PMMainController::validationKnowsAction(name)) << where << " sends " << name.toStdString();
            if (enabled(action)) {
                // An item that names its target goes there; the others along the chain.
                const auto* target = dynamic_cast<platform::Responder*>(platform::menuItemTarget(action));
                const bool answered = platform::menuItemTarget(action) ? target && target->respondsToAction(name)
                                                                       : platform::targetForAction(name) != nullptr;
                EXPECT_TRUE(answered) << where << " enabled, but nobody answers " << name.toStdString();
            }
        }
    };
    walk("nothing chosen");
    controller._infoMovieRepresentations = oneMovie(testHome() + QStringLiteral("/a.mov"));
    walk("a movie selected");
    controller._currentMovieRepresentation = controller._infoMovieRepresentations->at(0);
    controller._currentMovieHasVideo = true;
    walk("a current movie");
    controller._currentMovieRepresentation = Value();
    controller._currentMovieHasVideo = false;
    // An action nobody knows is never enabled.
    QMenu menu;
    QAction* unknown = menu.addAction(QStringLiteral("Unknown"));
    platform::setMenuItemAction(unknown, QStringLiteral("someCommandThatDoesNotExist"));
    EXPECT_FALSE(controller.validateMainMenuItem(unknown));
}

TEST_F(MainMenu, TrimAndDeleteNeedTimeOutsideTheSelection)
{
    PMMainController& controller = c();
    const QString path = testsupport::media::fixtures().numbered();
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl::fromLocalFile(path));
    const PMPlaybackMoviePtr movie = PMMovieOfRecord(record.get());
    ASSERT_TRUE(movie && movie->asset());
    ASSERT_TRUE(movie->canEdit());
    controller._currentMovieRepresentation = Value(record);
    controller._currentMovieHasVideo = true;
    controller._playerViewHasMoviePlayer = true;
    controller.timeSlider.duration = 3;
    std::pair<double, double> selection{0, 3};
    controller._menuValidation.timeSliderSelection = [&] { return selection; };
    // The items of a context menu of the player (a pop-up menu): the player's window need
    // not be the main one.
    QMenu popUp;
    QAction* trim = popUp.addAction(QStringLiteral("Trim"));
    QAction* cut = popUp.addAction(QStringLiteral("Delete"));
    platform::setMenuItemAction(trim, QStringLiteral("trimToTimeRange"));
    platform::setMenuItemAction(cut, QStringLiteral("delete"));
    const struct {
        double start, end;
        bool enabled;
    } cases[] = {{0, 3, false}, {0, 2.995, false}, {0, 2.98, true}, {1, 2, true}, {0.5, 3, true}, {0, 0, false}};
    for (const auto& testCase : cases) {
        selection = {testCase.start, testCase.end};
        EXPECT_EQ(controller.validateMainMenuItem(trim), testCase.enabled) << testCase.start << "-" << testCase.end;
        EXPECT_EQ(controller.validateMainMenuItem(cut), testCase.enabled) << testCase.start << "-" << testCase.end;
    }
    // The player's Clear Selection clears the time selection (tag 0) while there is one,
    // and is off without one.
    QAction* clear = popUp.addAction(QStringLiteral("Clear Selection"));
    platform::setMenuItemAction(clear, QStringLiteral("clearSelection"));
    for (const auto& [end, enabled] : {std::pair{2.0, true}, {0.0, false}}) {
        selection = {0.5, end};
        platform::setMenuItemTag(clear, 1);
        EXPECT_EQ(controller.validateMainMenuItem(clear), enabled) << end;
        if (enabled) {
            EXPECT_EQ(platform::menuItemTag(clear), 0);
        }
    }
    controller._menuValidation.timeSliderSelection = nullptr;
    controller._playerViewHasMoviePlayer = false;
    controller._currentMovieRepresentation = Value();
    controller._currentMovieHasVideo = false;
    controller.timeSlider = {};
    clearMovie(record.get());
}

// Each rotate item is titled by the way it turns: the one tagged 1 turns against the
// direction the settings make the default.
TEST_F(MainMenu, RotateItemsAreTitledByTheWayTheyTurn)
{
    QAction* byDefault = item("Movie", "Rotate Clockwise");
    QAction* opposite = item("Movie", "Rotate Counterclockwise");
    ASSERT_TRUE(byDefault && opposite);
    EXPECT_EQ(platform::menuItemTag(byDefault), 0);
    EXPECT_EQ(platform::menuItemTag(opposite), 1);
    for (const bool counterclockwise : {false, true}) {
        platform::UserDefaults::standard().setBool(counterclockwise, QStringLiteral("Rotate Counterclockwise"));
        controllerValidates(byDefault);
        controllerValidates(opposite);
        EXPECT_EQ(byDefault->text(), counterclockwise ? QStringLiteral("Rotate Counterclockwise") : QStringLiteral("Rotate Clockwise"));
        EXPECT_EQ(opposite->text(), counterclockwise ? QStringLiteral("Rotate Clockwise") : QStringLiteral("Rotate Counterclockwise"));
    }
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Rotate Counterclockwise"));
}

TEST_F(MainMenu, FlipShowsMixedAndTheInfoItemIsRetitledForRenaming)
{
    PMMainController& controller = c();
    auto movies = Array::make();
    for (const char* name : {"/a.mov", "/b.mov", "/c.mov"})
        movies->append(oneMovie(testHome() + QString::fromLatin1(name))->at(0));
    controller._infoMovieRepresentations = movies;
    qsizetype flipped = 0;
    controller._menuValidation.canFlipOrRotateMovieRepresentations = [&](const ArrayPtr& items, qsizetype* getFlipped) {
        if (getFlipped)
            *getFlipped = std::min(flipped, items->count());
        return true;
    };
    QAction* mirror = item("Movie", "Mirror");
    for (const auto& [count, checked, mixed] : {std::tuple{0, false, false}, {1, false, true}, {3, true, false}}) {
        flipped = count;
        EXPECT_TRUE(controller.validateMainMenuItem(mirror));
        EXPECT_EQ(mirror->isChecked(), checked) << count;
        EXPECT_EQ(platform::menuItemMixedState(mirror), mixed) << count;
    }
    controller._menuValidation.canFlipOrRotateMovieRepresentations = nullptr;

    // The info panel open on its renaming view.
    int tab = 1;
    controller._menuValidation.infoPanelTabIndex = [&] { return tab; };
    QAction* info = item("File", "Show Info");
    QAction* rename = item("File", "Rename...");
    EXPECT_TRUE(controller.validateMainMenuItem(info));
    EXPECT_EQ(info->text(), QStringLiteral("Rename..."));
    EXPECT_TRUE(controller.validateMainMenuItem(rename));
    PMCachedSettings::determineNamesAutomatically = true;
    EXPECT_FALSE(controller.validateMainMenuItem(info));
    EXPECT_FALSE(controller.validateMainMenuItem(rename));
    tab = 0;
    EXPECT_TRUE(controller.validateMainMenuItem(info));
    EXPECT_EQ(info->text(), QStringLiteral("Show Info"));
    controller._menuValidation.infoPanelTabIndex = nullptr;
}

// The current library folder is known in the library folder menu however its path was
// written down: it shows once, as the ticked folder with its details.
TEST_F(MainMenu, TheCurrentLibraryFolderIsFoundHoweverItsPathIsWritten)
{
    const QString base = testsupport::makeTempDir(QStringLiteral("locations"));
    const QString library = base + QStringLiteral("/Library");
    const QString elsewhere = base + QStringLiteral("/Elsewhere");
    ASSERT_TRUE(QDir().mkpath(library) && QDir().mkpath(elsewhere));
    ASSERT_TRUE(QFile::link(library, base + QStringLiteral("/Link")));
    const struct {
        const char* what;
        QString written;
    } cases[] = {
        {"as stored", library},
        {"with a trailing slash", library + QStringLiteral("/")},
        {"through . and ..", base + QStringLiteral("/./Elsewhere/../Library")},
        {"through a link", base + QStringLiteral("/Link")},
    };
    for (const auto& k : cases) {
        defaults().setObject(Value(library), QStringLiteral("Library Path"));
        auto locations = platform::Dictionary::make();
        locations->setValue(QStringLiteral("Movies"), Value(k.written));
        locations->setValue(QStringLiteral("Other Movies"), Value(elsewhere));
        c().saveLibraryLocations(locations);
        QMenu menu;
        c().addLibraryLocationsToMenu(&menu, false);
        int current = 0;
        QStringList others;
        for (QAction* action : menu.actions()) {
            if (action->menu() && action->isChecked())
                ++current;
            else if (platform::menuItemAction(action) == QLatin1String("changeLibraryLocation") && !platform::menuItemRepresentedObject(action).isNull())
                others << platform::menuItemRepresentedObject(action).string();
        }
        EXPECT_EQ(current, 1) << k.what;
        EXPECT_EQ(others, QStringList{elsewhere}) << k.what;
    }
    defaults().removeObjectForKey(QStringLiteral("Library Path"));
    c().saveLibraryLocations(nullptr);
}
