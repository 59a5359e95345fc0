// Every context menu of the library, walked item by item as the user would open it: an
// enabled item reaches someone who acts on it, and a disabled one is disabled for a reason
// this test names. A video player of the test's own is installed, so "Open With" has
// something to offer, and its items are chosen for real.
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"

#include "library/model/PMInfoTagEditor.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMInfoTagEditorView.h"
#include "ui/commands/PMMainMenu.h"
#include "ui/commands/PMMenuItemSwitch.h"
#include "ui/commands/PMTagEditorTableView.h"
#include "ui/commands/PMTagValueSwitch.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QWidgetAction>

#include <gtest/gtest.h>

#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

// Items that are rightly disabled, by title: what they are, and why.
const struct {
    const char* title; // a regular expression over the whole title
    const char* reason;
} kDisabledForAReason[] = {
    {"Hold \\[Alt\\] to Change Default Viewer", "a hint, not a command"},
    {"Library List Options|Fixed Grid|Dynamic", "a header"},
    {"-", "the aspect ratio menu's placeholder without a picture"},
    {"No Matches", "an empty browser's placeholder"},
    {"\\+", "an info row's value pop-up: its title, the add image"},
    {"Copy|Copy Selection\\.\\.\\.|Save Area\\.\\.\\.|Save Frame\\.\\.\\.|Use Area as Preview\\.\\.\\.|Use Frame as Preview",
     "the current frame's commands need the player's window on screen, and this test shows none"},
};

QString disabledReason(const QString& title)
{
    for (const auto& entry : kDisabledForAReason)
        if (QRegularExpression(QStringLiteral("^(?:%1)$").arg(QString::fromUtf8(entry.title))).match(title).hasMatch())
            return QString::fromUtf8(entry.reason);
    return {};
}

// The item that carries the title, in the menu or its submenus (alternates included).
QAction* findItem(QMenu* menu, const QString& title)
{
    for (QAction* item : menu->actions()) {
        if (item->text() == title && !item->menu())
            return item;
        if (item->menu())
            if (QAction* found = findItem(item->menu(), title))
                return found;
    }
    return nullptr;
}

class ContextMenuWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        c().resetForTesting();
        platform::setApplicationResponder(&c());
        // The movie's editing commands, as the player installs them in the program.
        c().installEditing();
        installFixturePlayer();
        const QString folder = testsupport::makeTempDir(QStringLiteral("movies"));
        films = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Films")}});
        for (const char* name : {"Alpha.mp4", "Bravo.mp4"}) {
            const QString path = folder + u'/' + QString::fromLatin1(name);
            ASSERT_TRUE(QFile::copy(testsupport::media::fixtures().numbered(), path));
            auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
            films->rawChildren()->append(Value(movie));
            movies.push_back(movie);
        }
        c().pellisSourceStorageSection()->rawChildren()->append(Value(films));
        c().invalidateLibraryDependencies();
        window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
        bar = PMMainMenu::createMenuBar(c(), window.get());
        window->resize(1000, 600);
        window->show();
        QApplication::setActiveWindow(window.get());
        c().updateLibrary();
        ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(films)})));
        QApplication::processEvents();
    }
    void TearDown() override
    {
        if (c().infoNewTagPanel && c().infoNewTagPanel->isVisible())
            c().newTagValueCancel(nullptr);
        if (c()._infoPanel && c()._infoPanel->isVisible())
            c().infoCancel(nullptr);
        c()._numberOfRemainingItemsMovingToLibraryFolder = 0;
        c()._stopMovingToLibraryFolder = false;
        c()._currentMovieRepresentation = Value();
        c()._currentMovieHasVideo = false;
        c()._infoMovieRepresentations = nullptr;
        window.reset();
        c()._mainWindow = nullptr;
        platform::setApplicationResponder(nullptr);
        c().resetForTesting();
    }

    // A desktop entry for videos whose command writes its arguments to a file.
    void installFixturePlayer()
    {
        const QString data = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
        const QString bin = testsupport::makeTempDir(QStringLiteral("bin"));
        script = bin + QStringLiteral("/fixture-player");
        opened = bin + QStringLiteral("/opened.txt");
        testsupport::writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && mv '%1.part' '%1'\n").arg(opened).toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        entry = data + QStringLiteral("/applications/fixture-player.desktop");
        testsupport::writeFile(entry, QStringLiteral("[Desktop Entry]\nType=Application\nName=Fixture Player\nExec=%1 %F\n"
                                                     "MimeType=video/mp4;video/quicktime;\n")
                                          .arg(script)
                                          .toUtf8());
    }

    ArrayPtr some(std::initializer_list<int> indexes) const
    {
        auto array = Array::make();
        for (int i : indexes)
            array->append(Value(movies[size_t(i)]));
        return array;
    }

    // Every context menu the library window shows, by where the click was.
    std::vector<std::pair<const char*, std::unique_ptr<QMenu>>> contextMenus()
    {
        std::vector<std::pair<const char*, std::unique_ptr<QMenu>>> menus;
        static const PMGroupViewTile tile; // the grid passes the clicked tile
        menus.emplace_back("tile", c().contextMenuForGroupViewItems(some({0}), &tile));
        menus.emplace_back("selection", c().contextMenuForGroupViewItems(some({0, 1}), nullptr));
        menus.emplace_back("list row", c().contextMenuForGroupListRowIndexes({0}));
        const QList<qsizetype> sidebarRow{c().libraryListView ? c().libraryListView->rowForItem(Value(films)) : -1};
        menus.emplace_back("sidebar row", c().contextMenuForLibraryListRowIndexes(&sidebarRow));
        menus.emplace_back("empty sidebar", c().contextMenuForLibraryListRowIndexes(nullptr));
        menus.emplace_back("playing movie", c().contextMenuForCurrentMovie());
        return menus;
    }

    // Opens the menu as the user would (its lazy parts fill, its items validate) and checks
    // every item; answers the items found, submenus' included.
    QList<QAction*> walk(const std::string& where, QMenu* menu)
    {
        QList<QAction*> all;
        Q_EMIT menu->aboutToShow();
        for (QAction* item : menu->actions()) {
            if (item->isSeparator())
                continue;
            all.append(item);
            const std::string at = where + " / " + item->text().toStdString();
            if (item->menu()) {
                all += walk(at, item->menu());
                continue;
            }
            // A switch placed in the menu acts by itself, on its own target.
            if (auto* placed = qobject_cast<QWidgetAction*>(item); placed && placed->defaultWidget()) {
                auto* control = placed->defaultWidget()->findChild<PMMenuItemSwitch*>();
                EXPECT_NE(control, nullptr) << at;
                if (!control)
                    continue;
                const auto* target = dynamic_cast<platform::Responder*>(control->target());
                EXPECT_TRUE(target && target->respondsToAction(control->action())) << at << " switches, but nobody answers "
                                                                                   << control->action().toStdString();
                EXPECT_TRUE(control->isEnabled()) << at;
                continue;
            }
            // A hidden alternate (shown while a modifier is held) reads as disabled in Qt:
            // ask validation what it would show.
            const bool enabled = item->isVisible() ? item->isEnabled() : platform::validateMenuItemNow(item);
            if (!enabled) {
                EXPECT_FALSE(disabledReason(item->text()).isEmpty()) << at << " is disabled, and nothing here says why ("
                                                                     << platform::menuItemAction(item).toStdString() << ")";
                continue;
            }
            if (platform::hasMenuItemHandler(item))
                continue;
            const QString name = platform::menuItemAction(item);
            EXPECT_FALSE(name.isEmpty()) << at << " is enabled and sends nothing";
            EXPECT_TRUE(PMMainController::validationKnowsAction(name)) << at << " sends " << name.toStdString();
            const auto* target = dynamic_cast<platform::Responder*>(platform::menuItemTarget(item));
            const bool answered = platform::menuItemTarget(item) ? target && target->respondsToAction(name) : platform::targetForAction(name) != nullptr;
            EXPECT_TRUE(answered) << at << " enabled, but nobody answers " << name.toStdString();
        }
        return all;
    }

    std::unique_ptr<PMMainWindow> window;
    QMenuBar* bar = nullptr;
    PMLibraryContainerPtr films;
    std::vector<PMMovieRepresentationOriginalPtr> movies;
    QString script, opened, entry;
};

} // namespace

TEST_F(ContextMenuWalk, EveryItemIsEnabledAndAnsweredOrDisabledForANamedReason)
{
    const auto walkAll = [&](const char* state) {
        for (auto& [where, menu] : contextMenus()) {
            if (!menu)
                continue;
            const QList<QAction*> items = walk(std::string(state) + ": " + where, menu.get());
            EXPECT_FALSE(items.isEmpty()) << state << ": " << where;
        }
    };
    walkAll("nothing chosen");
    c()._infoMovieRepresentations = some({0});
    walkAll("a movie selected");
    c()._currentMovieRepresentation = Value(movies[0]);
    c()._currentMovieHasVideo = true;
    walkAll("a current movie");
    c()._currentMovieRepresentation = Value();
    c()._currentMovieHasVideo = false;
    c()._numberOfRemainingItemsMovingToLibraryFolder = 2;
    walkAll("files moving");
}

// The movies' own commands: "Open with" starts the chosen application on the movie, "Always
// Open with" and "Pellis" choose the movies' own viewer, and "Stop Moving Files" stops a move.
TEST_F(ContextMenuWalk, OpenWithAndStopMovingFilesAct)
{
    std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(some({0}), nullptr));
    ASSERT_NE(menu, nullptr);
    walk("tile", menu.get());
    // "Open with" opens once; "Always Open with", beside it, changes the default viewer.
    QMenu* openWith = nullptr;
    QMenu* alwaysOpenWith = nullptr;
    for (QAction* item : menu->actions()) {
        if (item->menu() && item->text() == QLatin1String("Open with"))
            openWith = item->menu();
        if (item->menu() && item->text() == QLatin1String("Always Open with"))
            alwaysOpenWith = item->menu();
    }
    ASSERT_NE(openWith, nullptr);
    ASSERT_NE(alwaysOpenWith, nullptr);
    const auto fixtureItem = [](QMenu* in, const char* action) -> QAction* {
        for (QAction* item : in->actions())
            if (item->text().startsWith(QLatin1String("Fixture Player")) && platform::menuItemAction(item) == QLatin1String(action))
                return item;
        return nullptr;
    };
    QAction* open = fixtureItem(openWith, "openWithApplicationFromMenuItem");
    QAction* always = fixtureItem(alwaysOpenWith, "alwaysOpenWithApplicationFromMenuItem");
    ASSERT_NE(open, nullptr);
    ASSERT_NE(always, nullptr);
    ASSERT_TRUE(open->isEnabled());
    platform::performMenuItem(open);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(opened); }, 60000));
    EXPECT_EQ(QString::fromUtf8(testsupport::readFile(opened)).trimmed(), movies[0]->path());

    platform::performMenuItem(always);
    EXPECT_EQ(QFileInfo(movies[0]->applicationPath()).canonicalFilePath(), QFileInfo(entry).canonicalFilePath());
    QAction* pellis = findItem(alwaysOpenWith, QStringLiteral("Pellis"));
    ASSERT_NE(pellis, nullptr);
    ASSERT_TRUE(pellis->isEnabled());
    platform::performMenuItem(pellis);
    EXPECT_TRUE(movies[0]->applicationPath().isEmpty());

    // The main menu's File ▸ Open With is built the same way, for the info items: here the
    // movies selected in the grid.
    ASSERT_NE(c()._groupView, nullptr);
    c()._groupView->selectItems(some({0, 1}), true, false, false);
    c()._groupView->setFocus();
    QApplication::processEvents();
    QAction* fileOpenWith = PMMainMenu::itemWithTitle(bar, QStringLiteral("File"), QStringLiteral("Open With"));
    ASSERT_TRUE(fileOpenWith && fileOpenWith->menu());
    c().menuNeedsUpdate(fileOpenWith->menu());
    walk("File / Open With", fileOpenWith->menu());
    QAction* mainOpen = nullptr;
    for (QAction* item : fileOpenWith->menu()->actions())
        if (item->text().startsWith(QLatin1String("Fixture Player")) && platform::menuItemAction(item) == QLatin1String("openWithApplicationFromMenuItem"))
            mainOpen = item;
    ASSERT_NE(mainOpen, nullptr);
    ASSERT_TRUE(mainOpen->isEnabled());
    QFile::remove(opened);
    platform::performMenuItem(mainOpen);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(opened); }, 60000));
    // Every movie the item stands for (the info items: here the shown folder's movies).
    QStringList expected;
    const platform::DictionaryPtr record = platform::menuItemRepresentedObject(mainOpen).dictionary();
    ASSERT_TRUE(record && record->value(QStringLiteral("Movies")).array());
    for (const Value& v : *record->value(QStringLiteral("Movies")).array())
        expected << PMMovie(v)->path();
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_EQ(QString::fromUtf8(testsupport::readFile(opened)).trimmed().split(u'\n'), expected);

    // While files move, the menu offers only stopping them, and that stops them.
    c()._numberOfRemainingItemsMovingToLibraryFolder = 2;
    std::unique_ptr<QMenu> moving(c().contextMenuForGroupViewItems(some({0}), nullptr));
    walk("tile while moving", moving.get());
    QAction* stop = findItem(moving.get(), QStringLiteral("Stop Moving Files"));
    ASSERT_NE(stop, nullptr);
    ASSERT_TRUE(stop->isEnabled());
    platform::performMenuItem(stop);
    EXPECT_TRUE(c()._stopMovingToLibraryFolder);
    // Chosen again after the move ended, it leaves the next move alone.
    c()._stopMovingToLibraryFolder = false;
    c()._numberOfRemainingItemsMovingToLibraryFolder = 0;
    platform::performMenuItem(stop);
    EXPECT_FALSE(c()._stopMovingToLibraryFolder);
}

// The info panel's value pop-ups (the tag list's and every property row's): walked like the
// menus above, and each kind of item, chosen, acts on the row the pop-up belongs to, whatever
// else is selected.
TEST_F(ContextMenuWalk, TheInfoPanelsValuePopUpsActOnTheirOwnRow)
{
    movies[0]->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    movies[0]->setValue(QStringLiteral("calm"), QStringLiteral("Mood"));
    movies[1]->setValue(QStringLiteral("Drama, Thriller"), QStringLiteral("Genre"));
    c().invalidateTagTypes();
    QAction opener;
    platform::setMenuItemRepresentedObject(&opener, Value(PMMainController::PMInfoScopeRecord(some({0, 1}), nullptr)));
    c().showMovieInfo(&opener);
    ASSERT_TRUE(c()._infoPanel && c()._infoPanel->isVisible());
    PMTagEditorTableView* tags = c()._infoPanel->infoTagEditor->tagList();
    PMTagEditorTableView* properties = c()._infoPanel->infoTagEditor->propertyList();
    const auto popUp = [](PMTagEditorTableView* table, int row) {
        // Pressed, a cell selects its row first.
        table->selectRow(row);
        return table->popUpMenu(table->columnWithIdentifier(QStringLiteral("ChooseValue")), row);
    };
    // Every row's pop-up: completed with "Import" and the values, and "Clear" kept last.
    ASSERT_GE(properties->numberOfRows(), 2);
    for (PMTagEditorTableView* table : {tags, properties})
        for (int row = 0; row < int(table->numberOfRows()); ++row) {
            std::unique_ptr<QMenu> menu = popUp(table, row);
            ASSERT_NE(menu, nullptr) << row;
            const QList<QAction*> items = walk((table == tags ? "tags row " : "property row ") + std::to_string(row), menu.get());
            ASSERT_GE(items.size(), 4);
            EXPECT_EQ(items.last()->text(), QStringLiteral("Clear"));
            EXPECT_NE(findItem(menu.get(), QStringLiteral("New...")), nullptr);
            EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](QAction* a) { return a->text() == QLatin1String("Import") && a->menu(); }));
        }

    const auto rowOf = [&](const QString& tag) {
        for (qsizetype i = 1; i < c()._filteredInfoTags->count(); ++i)
            if (PMInfoTagRecord::tag(c()._filteredInfoTags->at(i).dictionary()) == tag)
                return int(i - 1);
        return -1;
    };
    const int genreRow = rowOf(QStringLiteral("Genre"));
    const int moodRow = rowOf(QStringLiteral("Mood"));
    ASSERT_GE(genreRow, 0);
    ASSERT_GE(moodRow, 0);
    const platform::DictionaryPtr genre = c()._filteredInfoTags->at(genreRow + 1).dictionary();
    const platform::DictionaryPtr mood = c()._filteredInfoTags->at(moodRow + 1).dictionary();
    const auto has = [](const platform::DictionaryPtr& record, const char* key, const char* value) {
        const platform::ArrayPtr list = record->value(QString::fromLatin1(key)).array();
        return list && list->contains(Value(QString::fromLatin1(value)));
    };

    // A value on one movie of the two is mixed; chosen it goes on for both.
    tags->selectRow(0);
    std::unique_ptr<QMenu> menu = popUp(properties, genreRow);
    PMTagValueSwitch* thriller = nullptr;
    for (PMTagValueSwitch* s : menu->findChildren<PMTagValueSwitch*>())
        if (s->tagValue == QLatin1String("Thriller"))
            thriller = s;
    ASSERT_NE(thriller, nullptr);
    EXPECT_EQ(thriller->switchState(), -1);
    thriller->click();
    EXPECT_EQ(thriller->switchState(), 1);
    EXPECT_TRUE(has(genre, "Checked Separate Values", "Thriller"));

    // "Import" adds a reference to another row's values to this row.
    QAction* importMood = nullptr;
    for (QAction* item : menu->actions())
        if (item->text() == QLatin1String("Import") && item->menu())
            importMood = findItem(item->menu(), QStringLiteral("Mood"));
    ASSERT_NE(importMood, nullptr);
    platform::performMenuItem(importMood);
    EXPECT_TRUE(has(genre, "Checked Separate Values", "<?meta:Mood?>"));
    EXPECT_FALSE(has(mood, "Checked Separate Values", "<?meta:Mood?>"));

    // "New..." opens the sheet for this row; "Clear" takes every value off this row.
    QAction* add = findItem(menu.get(), QStringLiteral("New..."));
    ASSERT_TRUE(add && add->isEnabled());
    platform::performMenuItemHandler(add);
    ASSERT_TRUE(c().infoNewTagPanel && c().infoNewTagPanel->isVisible());
    EXPECT_TRUE(qobject_cast<QLabel*>(c().infoNewTagTitleField.data())->text().contains(QStringLiteral("Genre")));
    c().newTagValueCancel(nullptr);

    // The same chosen in the pop-up that a click on the cell opens, for the clicked row.
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* opened = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!opened)
            return;
        chooser.stop();
        QAction* item = findItem(opened, QStringLiteral("New..."));
        if (!item) {
            opened->close();
            return;
        }
        opened->setActiveAction(item);
        QTest::keyClick(opened, Qt::Key_Return);
    });
    chooser.start(5);
    const int chooseColumn = properties->columnWithIdentifier(QStringLiteral("ChooseValue"));
    QTest::mouseClick(properties->viewport(), Qt::LeftButton, {}, properties->visualRect(properties->tableModel()->index(moodRow, chooseColumn)).center());
    ASSERT_TRUE(c().infoNewTagPanel && c().infoNewTagPanel->isVisible());
    EXPECT_TRUE(qobject_cast<QLabel*>(c().infoNewTagTitleField.data())->text().contains(QStringLiteral("Mood")));
    c().newTagValueCancel(nullptr);

    menu = popUp(properties, moodRow);
    QAction* clear = findItem(menu.get(), QStringLiteral("Clear"));
    ASSERT_TRUE(clear && clear->isEnabled());
    platform::performMenuItemHandler(clear);
    EXPECT_EQ(PMInfoTagRecord::value(mood), QString());
    EXPECT_TRUE(has(mood, "Unchecked Separate Values", "calm"));
    EXPECT_TRUE(has(genre, "Checked Separate Values", "Thriller"));
}
