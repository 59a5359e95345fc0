// Menus that fill themselves when they open: folder and container submenus, the library
// menu with its filter, the meta references, and the delete item whose title waits for
// the disk off the main thread.
#include "common/TestSupport.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ExtendedAttributes.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMSlowMenuDelegate.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

#include <gtest/gtest.h>

#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::UserDefaults;
using platform::Value;
using testsupport::makeTempDir;
using testsupport::writeFile;

namespace {

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

PMMainController& c()
{
    return PMMainController::mainController();
}

// The names of the entries of an item list ("-" for separators).
QStringList entryNames(const ArrayPtr& entries)
{
    QStringList names;
    for (const Value& v : *entries) {
        if (v.isNull())
            names.append(QStringLiteral("-"));
        else if (const platform::DictionaryPtr record = v.dictionary(); record && !PMItem(v))
            names.append(record->value(QStringLiteral("Name")).string());
        else if (PMLibraryItem* item = PMItem(v))
            names.append(item->displayName());
    }
    return names;
}

QStringList titles(const QMenu* menu)
{
    QStringList out;
    for (QAction* item : menu->actions())
        out.append(item->isSeparator() ? QStringLiteral("-") : item->text());
    return out;
}

class LazyMenus : public ::testing::Test {
protected:
    void SetUp() override { c().resetForTesting(); }
    void TearDown() override
    {
        for (const char* key : {"Show File Extensions", "Enable Smart Playlist Emancipation", "Submenu Threshold", "Library Path",
                                "Delete Items Without Confirmation", "Enable Meta Reference Text Access"})
            defaults().removeObjectForKey(QString::fromLatin1(key));
        c().resetForTesting();
    }
    PMMovieRepresentationOriginalPtr addMovie(const PMLibraryContainerPtr& to, const QString& path)
    {
        auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        to->rawChildren()->append(Value(movie));
        return movie;
    }
};

} // namespace

TEST_F(LazyMenus, AFolderListsTaggedFilesThenFoldersThenOtherFiles)
{
    const QString folder = makeTempDir(QStringLiteral("slow"));
    for (const char* name : {"b.mkv", "a.mkv", "c.txt", "Tagged 2.mov", "Tagged 1.mov", ".hidden"})
        writeFile(folder + u'/' + QString::fromLatin1(name), "x");
    QDir(folder).mkdir(QStringLiteral("Sub"));
    const bool tagsWork = platform::setFileTags(folder + QStringLiteral("/Tagged 1.mov"), {QStringLiteral("Red")})
        && platform::setFileTags(folder + QStringLiteral("/Tagged 2.mov"), {QStringLiteral("Blue")});
    const ArrayPtr entries = PMSlowMenuDelegate::folderSourceItems(folder);
    if (tagsWork)
        EXPECT_EQ(entryNames(entries), (QStringList{"Tagged 1", "Tagged 2", "-", "Sub", "-", "a", "b", "c"}));
    else
        EXPECT_EQ(entryNames(entries), (QStringList{"Sub", "-", "a", "b", "c", "Tagged 1", "Tagged 2"}));
    defaults().setBool(true, QStringLiteral("Show File Extensions"));
    EXPECT_TRUE(entryNames(PMSlowMenuDelegate::folderSourceItems(folder)).contains(QStringLiteral("a.mkv")));

    // Plain files only: no separators; a folder that cannot be read: one "Empty" item.
    const QString plain = makeTempDir(QStringLiteral("plain"));
    for (const char* name : {"x.mkv", "y.mkv"})
        writeFile(plain + u'/' + QString::fromLatin1(name), "x");
    EXPECT_EQ(entryNames(PMSlowMenuDelegate::folderSourceItems(plain)), (QStringList{"x.mkv", "y.mkv"}));
    std::unique_ptr<QMenu> gone(slowMenuWithTitle(QStringLiteral("Gone"), Value(plain + QStringLiteral("/nothing"))));
    slowMenuDelegate(gone.get())->fillMenu(gone.get());
    EXPECT_EQ(titles(gone.get()), QStringList{QStringLiteral("Empty")});

    // A subfolder is a submenu of its own, filled when it opens.
    std::unique_ptr<QMenu> menu(slowMenuWithTitle(QStringLiteral("Slow"), Value(folder)));
    slowMenuDelegate(menu.get())->fillMenu(menu.get());
    QMenu* sub = nullptr;
    for (QAction* item : menu->actions())
        if (item->text() == QLatin1String("Sub"))
            sub = item->menu();
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->actions().isEmpty());
}

TEST_F(LazyMenus, OnlyPlainDocumentsAreHandedToTheirApplication)
{
    const QString folder = makeTempDir(QStringLiteral("open"));
    const auto file = [&](const char* name, const QByteArray& bytes, bool executable) {
        const QString path = folder + u'/' + QString::fromLatin1(name);
        writeFile(path, bytes);
        if (executable)
            QFile(path).setPermissions(QFile(path).permissions() | QFileDevice::ExeOwner);
        return path;
    };
    const QString program = file("tool", "#!/bin/sh\necho hi\n", true);
    QFile::link(program, folder + QStringLiteral("/link to tool"));
    const struct {
        QString path;
        bool opens;
    } cases[] = {
        {file("movie.mkv", "not really a movie", false), true},
        {file("notes.txt", "words", false), true},
        {program, false},
        {file("script.sh", "#!/bin/sh\nrm -rf ~\n", false), false},
        {file("launcher.desktop", "[Desktop Entry]\nType=Application\nExec=sh\n", false), false},
        {folder + QStringLiteral("/link to tool"), false},
        {folder, false},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(PMSlowMenuDelegate::isSafeToOpen(testCase.path), testCase.opens) << testCase.path.toStdString();
}

TEST_F(LazyMenus, ContainersSeparateMoviesAndInlineSmallEmancipatedGroups)
{
    auto a = PMLibraryContainer::make({{"Name", "A"}, {"Children", Value(Array::make())}});
    auto b = PMLibraryContainer::make({{"Name", "B"}, {"Children", Value(Array::make())}});
    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/M.mov"));
    const ArrayPtr children = Array::make({Value(a), Value(b), Value(movie)});
    EXPECT_EQ(entryNames(slowMenuSourceItems(children)), (QStringList{"A", "B", "-", "M"}));
    EXPECT_EQ(children->count(), 3) << "the caller's list stays as it was";

    // An emancipating smart group shows its few children inline, marked as a header.
    auto smart = PMLibraryContainer::make({{"Name", "S"}, {"Smart", true}, {"Emancipate", true}});
    defaults().setBool(true, QStringLiteral("Enable Smart Playlist Emancipation"));
    defaults().setInteger(10, QStringLiteral("Submenu Threshold"));
    const ArrayPtr withSmart = Array::make({Value(a), Value(smart)});
    const QStringList names = entryNames(slowMenuSourceItems(withSmart));
    EXPECT_EQ(names.mid(0, 3), (QStringList{"A", "-", "S"}));
    EXPECT_TRUE(smart->value(QStringLiteral("Emancipate: Menu")).toBool());
    EXPECT_FALSE(a->value(QStringLiteral("Emancipate: Menu")).toBool());
    // Emancipation off: the mark goes.
    defaults().setBool(false, QStringLiteral("Enable Smart Playlist Emancipation"));
    slowMenuSourceItems(withSmart);
    EXPECT_FALSE(smart->value(QStringLiteral("Emancipate: Menu")).toBool());
}

TEST_F(LazyMenus, TheLibraryMenuListsTheLibraryOrTheFirst25Matches)
{
    PMLibraryContainerPtr section = c().pellisSourceStorageSection();
    auto folder = PMLibraryContainer::make({{"Name", "Tom & Jerry"}, {"Children", Value(Array::make())}});
    section->rawChildren()->append(Value(folder));
    for (int i = 0; i < 30; ++i)
        addMovie(folder, QStringLiteral("/media/test/Match %1.mov").arg(i, 2, 10, QLatin1Char('0')));
    addMovie(section, QStringLiteral("/media/test/Loose.mov"));
    c().invalidateLibraryDependencies();
    QMenuBar bar;
    c().installLibraryMenu(&bar);
    QMenu* menu = c().libraryMenu;
    ASSERT_NE(menu, nullptr);
    auto* field = qobject_cast<QLineEdit*>(c().libraryMenuFilterField.data());
    ASSERT_NE(field, nullptr);

    // Unfiltered: the filter row, the library's section as a submenu filled when it opens
    // (the folder as a submenu, a separator, then the movie), and the kept last item.
    Q_EMIT menu->aboutToShow();
    QStringList all = titles(menu);
    EXPECT_EQ(all.constFirst(), QStringLiteral("Filter"));
    EXPECT_EQ(all.constLast(), QStringLiteral("Library Window"));
    QMenu* sectionMenu = nullptr;
    for (QAction* item : menu->actions())
        if (item->menu() && platform::menuItemRepresentedObject(item).objectPointer() == section.get())
            sectionMenu = item->menu();
    ASSERT_NE(sectionMenu, nullptr);
    EXPECT_TRUE(sectionMenu->actions().isEmpty()) << "nothing below a submenu is made before it opens";
    Q_EMIT sectionMenu->aboutToShow();
    EXPECT_EQ(titles(sectionMenu), (QStringList{"Tom && Jerry", "-", "Loose"}));
    Q_EMIT sectionMenu->aboutToHide();

    // A filter matching 30 movies: 25 of them, then a line counting the rest.
    const QSignalBlocker quiet(field);
    field->setText(QStringLiteral("Match"));
    Q_EMIT menu->aboutToShow();
    all = titles(menu);
    EXPECT_EQ(all.count(QStringLiteral("\u2026")), 25);
    EXPECT_TRUE(all.contains(QStringLiteral("(5 more)")));
    EXPECT_TRUE(all.contains(QStringLiteral("Criteria")));
    EXPECT_EQ(all.constLast(), QStringLiteral("Library Window"));
    // Opened again, the rows are not doubled.
    Q_EMIT menu->aboutToShow();
    EXPECT_EQ(titles(menu), all);

    // Nothing matches: said so, and the whole library follows.
    field->setText(QStringLiteral("zzzz-nothing"));
    Q_EMIT menu->aboutToShow();
    all = titles(menu);
    const qsizetype noMatches = all.indexOf(QStringLiteral("No Matches"));
    ASSERT_GE(noMatches, 0);
    EXPECT_TRUE(all.mid(noMatches).contains(section->displayName())) << "the whole library follows";
    field->clear();
    c().libraryMenu = nullptr;
}

TEST_F(LazyMenus, MetaReferencesOfferTheOtherTagsThenTheNameAndTheIndex)
{
    PMLibraryContainerPtr section = c().pellisSourceStorageSection();
    auto movie = addMovie(section, QStringLiteral("/media/test/M.mov"));
    movie->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    movie->setValue(QStringLiteral("Calm"), QStringLiteral("Mood"));
    c().invalidateLibraryDependencies();
    c().invalidateTagTypes();
    QObject target;
    const struct {
        const char* exclude;
        bool textAccess;
        QStringList titles;
    } cases[] = {
        {"Genre", false, {"Mood", "-", "Name", "Name: Common Prefix", "Name: Regular Expression", "-", "Index"}},
        {"mood", true, {"Genre", "-", "Name", "Name: Common Prefix", "Name: Regular Expression", "Text: Regular Expression", "-", "Index"}},
        {"", false, {"Genre", "Mood", "-", "Name", "Name: Common Prefix", "Name: Regular Expression", "-", "Index"}},
    };
    for (const auto& testCase : cases) {
        defaults().setBool(testCase.textAccess, QStringLiteral("Enable Meta Reference Text Access"));
        std::unique_ptr<QMenu> menu(c().populateMetaReferenceMenu(nullptr, nullptr, QStringLiteral("insertMetaReference"), &target,
                                                                  Value(QString::fromLatin1(testCase.exclude))));
        EXPECT_EQ(menu->title(), QStringLiteral("Meta"));
        EXPECT_EQ(titles(menu.get()), testCase.titles) << testCase.exclude;
        for (QAction* item : menu->actions()) {
            if (item->text() == QLatin1String("Genre")) {
                EXPECT_EQ(platform::menuItemRepresentedObject(item).string(), QStringLiteral("<?meta:Genre?>"));
            } else if (item->text() == QLatin1String("Name: Regular Expression")) {
                EXPECT_EQ(platform::menuItemRepresentedObject(item).string(), QStringLiteral("<?meta:Name: ^(.*)$?>"));
            }
        }
    }
}

TEST_F(LazyMenus, TheDeleteItemAsksForConfirmationOnceTheDiskAnswers)
{
    const QString library = makeTempDir(QStringLiteral("library"));
    defaults().setObject(Value(library), QStringLiteral("Library Path"));
    defaults().setBool(true, QStringLiteral("Delete Items Without Confirmation"));
    PMLibraryContainerPtr section = c().pellisSourceStorageSection();
    const QString inside = library + QStringLiteral("/Inside.mov");
    writeFile(inside, "x");
    auto kept = addMovie(section, inside);
    auto outside = addMovie(section, makeTempDir(QStringLiteral("elsewhere")) + QStringLiteral("/Outside.mov"));
    c().invalidateLibraryDependencies();
    c().installContextMenus();
    const auto deleteItem = [](const QMenu* menu) -> QAction* {
        for (QAction* item : menu->actions())
            if (platform::menuItemAction(item) == QLatin1String("deleteItemsFromMenuItem"))
                return item;
        return nullptr;
    };
    // A file in the library folder would be offered to the trash: the title says so when
    // the worker has looked at the disk.
    std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(Array::make({Value(kept)}), nullptr));
    QAction* item = deleteItem(menu.get());
    ASSERT_NE(item, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(item->text(), QStringLiteral("Delete from Library..."), 30000);
    // A file elsewhere is never trashed: nothing to confirm.
    std::unique_ptr<QMenu> other(c().contextMenuForGroupViewItems(Array::make({Value(outside)}), nullptr));
    ASSERT_NE(deleteItem(other.get()), nullptr);
    EXPECT_EQ(deleteItem(other.get())->text(), QStringLiteral("Delete from Library"));
}

TEST_F(LazyMenus, TheLibraryFolderMenuShowsTheLastAnswerUntilTheNewOneComes)
{
    const QString library = makeTempDir(QStringLiteral("organised"));
    defaults().setObject(Value(library), QStringLiteral("Library Path"));
    PMLibraryContainerPtr section = c().pellisSourceStorageSection();
    const QString outside = makeTempDir(QStringLiteral("outside")) + QStringLiteral("/Outside.mov");
    writeFile(outside, "x");
    addMovie(section, outside);
    c().invalidateLibraryDependencies();
    QMenu menu;
    const auto lastTitles = [&menu] {
        QStringList out;
        for (QAction* item : menu.actions())
            if (!item->isSeparator() && !item->text().isEmpty())
                out.append(item->text());
        return out;
    };
    const auto answered = [] { return c()._libraryFolderDryRun.valid && c()._libraryFolderDryRun.generation == c()._libraryFolderGeneration; };

    // First opening: nothing known yet; the worker's answer comes later.
    c().populateLibraryFolderMenu(&menu);
    EXPECT_TRUE(lastTitles().contains(QStringLiteral("Checking the library folder\u2026")));
    QTRY_VERIFY_WITH_TIMEOUT(answered(), 30000);
    c().populateLibraryFolderMenu(&menu);
    EXPECT_TRUE(lastTitles().contains(QStringLiteral("Move All Files to Library Folder...")));

    // The library changes: the menu opens at once with what it knew, and the answer for
    // the library as it is follows.
    section->rawChildren()->removeAt(0);
    c().invalidateLibraryDependencies();
    c().libraryFolderDryRunNeedsUpdate();
    c().populateLibraryFolderMenu(&menu);
    EXPECT_TRUE(lastTitles().contains(QStringLiteral("Move All Files to Library Folder...")));
    QTRY_VERIFY_WITH_TIMEOUT(answered(), 30000);
    c().populateLibraryFolderMenu(&menu);
    EXPECT_TRUE(lastTitles().contains(QStringLiteral("Library folder is organized and contains all files.")));
}
