// The library's context menus: the sections by what was clicked, the sidebar's own options,
// the opened state, the online addresses and the titles made from data.
#include "common/TestSupport.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QAction>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>

#include <gtest/gtest.h>

#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::UserDefaults;
using platform::Value;

namespace {

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

// The titles of a menu's items (separators as "-"), submenus included by their title.
QStringList titles(const QMenu* menu)
{
    QStringList out;
    for (QAction* item : menu->actions())
        out.append(item->isSeparator() ? QStringLiteral("-") : item->text());
    return out;
}

QMenu* submenu(const QMenu* menu, const QString& title)
{
    for (QAction* item : menu->actions())
        if (item->menu() && item->text() == title)
            return item->menu();
    return nullptr;
}

bool hasSortMenu(const QMenu* menu)
{
    const QList<QAction*> items = menu->actions();
    return std::any_of(items.begin(), items.end(), [](QAction* a) { return a->menu() && a->menu()->objectName() == QLatin1String("ContextSortBy"); });
}

class ContextMenus : public ::testing::Test {
protected:
    void SetUp() override
    {
        c().resetForTesting();
        defaults().setBool(false, QStringLiteral("Toggle Tag Values Via Context Menu"));
        PMLibraryContainerPtr section = c().pellisSourceStorageSection();
        for (int i = 0; i < 3; ++i) {
            auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movie %1.mov").arg(i));
            movie->setValue(i < 2 ? QStringLiteral("Paris") : QStringLiteral("Rome"), QStringLiteral("Place"));
            section->rawChildren()->append(Value(movie));
            movies.push_back(movie);
        }
        c().invalidateLibraryDependencies();
        c().invalidateTagTypes();
        c().installContextMenus();
    }
    void TearDown() override
    {
        for (const char* key : {"Toggle Tag Values Via Context Menu", "Submenu Threshold", "Determine Names Automatically"})
            defaults().removeObjectForKey(QString::fromLatin1(key));
        c().resetForTesting();
    }
    static PMMainController& c() { return PMMainController::mainController(); }
    ArrayPtr some(std::initializer_list<int> indexes) const
    {
        auto array = Array::make();
        for (int i : indexes)
            array->append(Value(movies[size_t(i)]));
        return array;
    }
    std::unique_ptr<QMenu> grid(const ArrayPtr& items) { return std::unique_ptr<QMenu>(c().contextMenuForGroupViewItems(items, nullptr)); }

    std::vector<PMMovieRepresentationOriginalPtr> movies;
};

} // namespace

TEST_F(ContextMenus, EmptySidebarSpaceGivesTheLibraryListOptions)
{
    std::unique_ptr<QMenu> menu(c()._contextMenuForLibraryListRowIndexes(nullptr));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("Library List Options"));
    EXPECT_EQ(titles(menu.get()), (QStringList{"New Folder", "New Playlist", "New Smart Playlist..."}));
    // With the sidebar option set, its switch follows, ticked as set.
    defaults().setBool(true, QStringLiteral("Automatically Hide And Show Sidebar"));
    std::unique_ptr<QMenu> withOption(c()._contextMenuForLibraryListRowIndexes(nullptr));
    defaults().removeObjectForKey(QStringLiteral("Automatically Hide And Show Sidebar"));
    ASSERT_EQ(withOption->actions().size(), 5);
    EXPECT_EQ(withOption->actions().at(4)->text(), QStringLiteral("Automatically Hide and Show Sidebar"));
    EXPECT_TRUE(withOption->actions().at(4)->isChecked());
}

TEST_F(ContextMenus, SectionsByWhatWasClicked)
{
    ASSERT_TRUE(c().selectLibraryItem(Value(c().pellisSourceStorageSection())));
    // One movie: info and rename, opened state, reveal; the grid adds filtering and sorting
    // but never the aspect ratio.
    auto one = grid(some({0}));
    const QStringList oneTitles = titles(one.get());
    for (const char* expected : {"Edit Metadata", "Show Info", "Filter", "Mark as Opened"})
        EXPECT_TRUE(oneTitles.contains(QString::fromLatin1(expected))) << expected << " in " << oneTitles.join(u'|').toStdString();
    EXPECT_FALSE(oneTitles.contains(QStringLiteral("Batch Rename...")));
    EXPECT_FALSE(oneTitles.contains(QStringLiteral("Aspect Ratio")));
    EXPECT_TRUE(hasSortMenu(one.get()));
    EXPECT_NE(oneTitles.constLast(), QStringLiteral("-"));
    EXPECT_NE(oneTitles.constFirst(), QStringLiteral("-"));

    // Several movies: batch rename instead of show info.
    auto several = grid(some({0, 1, 2}));
    const QStringList severalTitles = titles(several.get());
    EXPECT_TRUE(severalTitles.contains(QStringLiteral("Batch Rename...")));
    EXPECT_FALSE(severalTitles.contains(QStringLiteral("Show Info")));
    // Items carry the movies they were made for.
    for (QAction* item : several->actions())
        if (item->text() == QLatin1String("Filter")) {
            EXPECT_EQ(platform::menuItemRepresentedObject(item).array()->count(), 3);
        }

    // Names determined automatically: no renaming at all.
    defaults().setBool(true, QStringLiteral("Determine Names Automatically"));
    EXPECT_FALSE(titles(grid(some({0, 1})).get()).contains(QStringLiteral("Batch Rename...")));
    EXPECT_FALSE(titles(grid(some({0})).get()).contains(QStringLiteral("Rename...")));

    // The current movie's menu never sorts.
    c()._currentMovieRepresentation = Value(movies[0]);
    std::unique_ptr<QMenu> current(c().contextMenuForCurrentMovie());
    ASSERT_NE(current, nullptr);
    EXPECT_FALSE(titles(current.get()).contains(QStringLiteral("Filter")));
    EXPECT_FALSE(hasSortMenu(current.get()));
    c()._currentMovieRepresentation = Value();
    EXPECT_EQ(c().contextMenuForCurrentMovie(), nullptr);
}

TEST_F(ContextMenus, MarkAsUnopenedOnlyWhenEveryMovieWasPlayedAndItForgetsThePlays)
{
    movies[0]->incrementCounter();
    EXPECT_TRUE(titles(grid(some({0, 1})).get()).contains(QStringLiteral("Mark as Opened")));
    auto played = grid(some({0}));
    QAction* unopened = nullptr;
    for (QAction* item : played->actions())
        if (item->text() == QLatin1String("Mark as Unopened"))
            unopened = item;
    ASSERT_NE(unopened, nullptr);
    c().setWatchedFromMenuItem(unopened);
    EXPECT_EQ(movies[0]->counter(), 0u);
    EXPECT_TRUE(titles(grid(some({0})).get()).contains(QStringLiteral("Mark as Opened")));
}

TEST_F(ContextMenus, OnlineItemsShowTheirAddressesAndEndThere)
{
    auto items = Array::make();
    for (int i = 0; i < 11; ++i)
        items->append(Value(PMLibraryContainer::make({{"Online", "YouTube"}, {"Name", QStringLiteral("clip %1").arg(i)}})));
    auto menu = grid(items);
    const QStringList all = titles(menu.get());
    ASSERT_GE(all.size(), 12);
    EXPECT_EQ(all.count(QStringLiteral("(2 more)")), 1);
    EXPECT_EQ(all.indexOf(QStringLiteral("(2 more)")), 9);
    EXPECT_EQ(all.constLast(), QStringLiteral("Copy URLs"));
    EXPECT_FALSE(all.contains(QStringLiteral("Filter")));
}

TEST_F(ContextMenus, SwitchesMoveIntoMetadataAboveTheThreshold)
{
    defaults().setBool(true, QStringLiteral("Toggle Tag Values Via Context Menu"));
    defaults().setInteger(0, QStringLiteral("Submenu Threshold"));
    auto menu = grid(some({0, 1}));
    QMenu* metadata = submenu(menu.get(), QStringLiteral("Metadata"));
    ASSERT_NE(metadata, nullptr);
    EXPECT_NE(submenu(metadata, QStringLiteral("Place")), nullptr);
    EXPECT_TRUE(titles(metadata).contains(QStringLiteral("Edit Metadata")));
    EXPECT_NE(submenu(menu.get(), QStringLiteral("Rating")), nullptr);
    // Below the threshold the tag's submenu stands in the menu itself.
    defaults().setInteger(5, QStringLiteral("Submenu Threshold"));
    auto inline_ = grid(some({0, 1}));
    EXPECT_EQ(submenu(inline_.get(), QStringLiteral("Metadata")), nullptr);
    EXPECT_NE(submenu(inline_.get(), QStringLiteral("Place")), nullptr);
}

TEST_F(ContextMenus, ContainerNamesShowLiterally)
{
    auto folder = PMLibraryContainer::make({{"Name", "Tom & Jerry <b>bold</b>"}, {"Children", Value(Array::make())}});
    auto items = Array::make({Value(folder)});
    auto menu = grid(items);
    EXPECT_TRUE(titles(menu.get()).contains(QStringLiteral("New Subfolder")));
    // Data lines keep an ampersand as text, not a mnemonic, and only web addresses open.
    const struct {
        const char* address;
        bool opens;
    } cases[] = {{"https://a.example/?x=1&y=<b>2</b>", true}, {"ftp://a.example/f&g", false}, {"file:///bin/sh", false}};
    for (const auto& testCase : cases) {
        movies[0]->userSettings()->setValue(QStringLiteral("Original URL"), Value(QString::fromLatin1(testCase.address)));
        const QStringList all = titles(grid(some({0})).get());
        EXPECT_TRUE(all.contains(QString::fromLatin1(testCase.address).replace(QLatin1String("&"), QLatin1String("&&")))) << testCase.address;
        EXPECT_EQ(all.contains(QStringLiteral("Open Original URL")), testCase.opens) << testCase.address;
        EXPECT_TRUE(all.contains(QStringLiteral("Copy Original URL")));
    }
}

TEST_F(ContextMenus, AlignDateOffersTheDefaultDateAndSetsItOnEveryMovie)
{
    const auto alignMenu = [](const QMenu* menu) -> QMenu* {
        for (QAction* item : menu->actions())
            if (item->menu() && (item->text() == QLatin1String("Align Date Added") || item->text() == QLatin1String("Align Date")))
                return item->menu();
        return nullptr;
    };
    defaults().setObject(Value(86400.0 * 365), QStringLiteral("Align Date: Default")); // early in 1971
    auto menu = grid(some({0, 1}));
    QMenu* align = alignMenu(menu.get());
    defaults().removeObjectForKey(QStringLiteral("Align Date: Default"));
    ASSERT_NE(align, nullptr);
    QAction* byDefault = nullptr;
    for (QAction* item : align->actions())
        if (item->text().startsWith(QLatin1String("Default: ")))
            byDefault = item;
    ASSERT_NE(byDefault, nullptr);
    platform::performMenuItemHandler(byDefault);
    for (int i : {0, 1})
        EXPECT_EQ(movies[size_t(i)]->additionDate().secondsSince1970, 86400.0 * 365);
    EXPECT_NE(movies[2]->additionDate().secondsSince1970, 86400.0 * 365);
}

// "Show in File Manager" in a movie's menu reveals that movie's file: it is offered whatever is
// selected or focused, and only while the file is there.
TEST_F(ContextMenus, ShowInFinderFollowsTheClickedMoviesFile)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("reveal")) + QStringLiteral("/Here.mov");
    testsupport::writeFile(path, "x");
    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    c().pellisSourceStorageSection()->rawChildren()->append(Value(movie));
    c().invalidateLibraryDependencies();
    auto one = Array::make();
    one->append(Value(movie));
    std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(one, nullptr));
    QAction* reveal = nullptr;
    for (QAction* item : menu->actions())
        if (item->text() == QLatin1String("Show in File Manager"))
            reveal = item;
    ASSERT_NE(reveal, nullptr) << titles(menu.get()).join(u'|').toStdString();
    // Nothing is selected and no window has the focus.
    EXPECT_TRUE(c().validateMainMenuItem(reveal));
    // A file gone since the menu was made: validation does not ask the disk, choosing the
    // item finds it out and refuses with a beep.
    QFile::remove(path);
    EXPECT_TRUE(c().validateMainMenuItem(reveal));
    const int beeps = platform::beepCount();
    platform::performMenuItem(reveal);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(ContextMenus, CropPreviewShowsAndSetsTheTilesOwnSetting)
{
    const QString key = QStringLiteral("Scale Preview To Fit");
    defaults().setBool(true, QStringLiteral("Scale Previews To Fit Individually"));
    const PMGroupViewTile tile; // any clicked tile
    const auto cropItem = [&](const ArrayPtr& items) -> std::pair<std::unique_ptr<QMenu>, QAction*> {
        std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(items, &tile));
        QAction* found = nullptr;
        for (QAction* item : menu->actions())
            if (item->text().contains(QLatin1String("Crop Preview"))) // a mixed item's title carries a dash
                found = item;
        return {std::move(menu), found};
    };
    // (own settings of movies 0 and 1: -1 none, 0 off, 1 on) → title, ticked, mixed.
    const struct {
        int first, second;
        const char* title;
        bool checked, mixed;
    } cases[] = {
        {-1, -1, "Crop Preview", false, false},
        {0, -1, "Crop Preview", true, false},
        {0, 1, "Crop Preview", false, true},
        {1, 1, "Crop Preview Automatically", false, false},
    };
    for (const auto& testCase : cases) {
        for (auto [movie, state] : {std::pair{0, testCase.first}, std::pair{1, testCase.second}}) {
            if (state < 0)
                movies[size_t(movie)]->userSettings()->remove(key);
            else
                movies[size_t(movie)]->userSettings()->setValue(key, Value(state == 1));
        }
        auto [menu, item] = cropItem(some({0, 1}));
        ASSERT_NE(item, nullptr) << testCase.first << testCase.second;
        EXPECT_TRUE(item->text().endsWith(QString::fromLatin1(testCase.title))) << item->text().toStdString();
        EXPECT_EQ(item->isChecked(), testCase.checked) << testCase.first << testCase.second;
        EXPECT_EQ(platform::menuItemMixedState(item), testCase.mixed) << testCase.first << testCase.second;
    }
    // Choosing: all on → the own settings go; one unset → every movie crops (off).
    auto [automatic, clear] = cropItem(some({0, 1}));
    platform::performMenuItemHandler(clear);
    EXPECT_FALSE(movies[0]->userSettings()->contains(key));
    auto [unset, crop] = cropItem(some({0, 1}));
    platform::performMenuItemHandler(crop);
    EXPECT_FALSE(movies[0]->userSettings()->value(key).toBool());
    EXPECT_TRUE(movies[1]->userSettings()->contains(key));
    // Without a clicked tile, or in a layout that scales, there is nothing to crop.
    std::unique_ptr<QMenu> noTile(c().contextMenuForGroupViewItems(some({0}), nullptr));
    EXPECT_FALSE(titles(noTile.get()).contains(QStringLiteral("Crop Preview")));
    defaults().setInteger(3, QStringLiteral("Preview Layout"));
    EXPECT_EQ(cropItem(some({0})).second, nullptr);
    defaults().removeObjectForKey(QStringLiteral("Preview Layout"));
    defaults().removeObjectForKey(QStringLiteral("Scale Previews To Fit Individually"));
}

// "Filter" in the movies' menu is offered and shows just those movies: their identity query
// goes into the search field.
TEST_F(ContextMenus, FilterShowsTheClickedMovies)
{
    QLineEdit field;
    c().searchField = &field;
    c().installMenuCommands();
    ASSERT_TRUE(c().selectLibraryItem(Value(c().pellisSourceStorageSection())));
    auto menu = grid(some({0, 2}));
    QAction* filter = nullptr;
    for (QAction* item : menu->actions())
        if (item->text() == QLatin1String("Filter"))
            filter = item;
    ASSERT_NE(filter, nullptr) << titles(menu.get()).join(u'|').toStdString();
    EXPECT_TRUE(c().respondsToAction(platform::menuItemAction(filter)));
    EXPECT_TRUE(c().validateMainMenuItem(filter));
    c().performAction(platform::menuItemAction(filter), filter);
    EXPECT_EQ(field.text(), QStringLiteral("==") + movies[0]->uniqueLibraryID() + QStringLiteral("|") + movies[2]->uniqueLibraryID());
    c().searchField = nullptr;
}

// Sorting and rearranging are offered only for a shown container whose order can change, as
// the main menu offers them.
TEST_F(ContextMenus, SortAndRearrangeOnlyWhereTheOrderCanChange)
{
    auto shelf = PMLibraryContainer::make({{"Name", "Shelf"}, {"Children", Value(some({0, 1}))}});
    auto single = PMLibraryContainer::make({{"Name", "Single"}, {"Children", Value(some({2}))}});
    c().pellisSourceStorageSection()->rawChildren()->append(Value(shelf));
    c().pellisSourceStorageSection()->rawChildren()->append(Value(single));
    // A section of the library holding one smart playlist: nothing to order.
    c().smartGroupStorage()->rawChildren()->append(Value(PMLibraryContainer::make({{"Name", "Smart"}, {"Smart", true}})));
    c().invalidateLibraryDependencies();
    defaults().removeObjectForKey(QStringLiteral("Group Search Scope"));
    const QString filter = QStringLiteral("Filter");
    const auto hasMenu = [](const QMenu* menu, const char* name) {
        const QList<QAction*> items = menu->actions();
        return std::any_of(items.begin(), items.end(), [name](QAction* a) { return a->menu() && a->menu()->objectName() == QLatin1String(name); });
    };
    const struct {
        const char* what;
        PMLibraryContainerPtr shown;
        bool sort, rearrange;
        const char* query = "";
    } cases[] = {
        {"nothing shown", nullptr, false, false},
        {"a playlist of two", shelf, true, true},
        {"a playlist of two while filtered", shelf, true, false, "Movie"},
        {"a playlist of one", single, true, false},
        {"the library", c().pellisSourceStorageSection(), true, true},
        {"the smart playlists section of one", c().smartGroupStorage(), false, false},
    };
    defaults().setBool(true, QStringLiteral("Automatically Toggle Manual Sorting"));
    for (const auto& k : cases) {
        defaults().setObject(Value(QString::fromLatin1(k.query)), filter);
        auto shownItems = Array::make();
        if (k.shown)
            shownItems->append(Value(k.shown));
        ASSERT_TRUE(c().selectLibraryItems(shownItems) || !k.shown) << k.what;
        auto menu = grid(some({0}));
        EXPECT_EQ(hasMenu(menu.get(), "ContextSortBy"), k.sort) << k.what;
        EXPECT_EQ(hasMenu(menu.get(), "ContextRearrangeBy"), k.rearrange) << k.what;
    }
    defaults().removeObjectForKey(QStringLiteral("Automatically Toggle Manual Sorting"));
    defaults().removeObjectForKey(filter);
}

// A tile that shows one of its movie's hover frames offers that frame: as the preview,
// saved, copied or revealed. A tile showing its usual picture does not.
TEST_F(ContextMenus, IndexImageActsOnTheHoverFrameTheTileShows)
{
    const QString folder = movies[0]->standardIndexImagesBasePath();
    ASSERT_TRUE(QDir().mkpath(folder));
    const QColor colors[] = {Qt::red, Qt::blue};
    QStringList files;
    for (int i = 0; i < 2; ++i) {
        QImage frame(32, 18, QImage::Format_RGB32);
        frame.fill(colors[i]);
        files << folder + QStringLiteral("/%1 (%2).jpg").arg(i + 1).arg(i == 0 ? 2.5 : 75.25);
        ASSERT_TRUE(frame.save(files.last()));
    }
    bool cached = false;
    movies[0]->cacheStandardIndexImageWrappersWithCompletionHandler([&](const auto*) { cached = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return cached; }, 30000));
    ASSERT_EQ(movies[0]->cachedStandardIndexImageWrappers()->size(), 2u);

    const auto indexImageMenu = [](const QMenu* menu) { return submenu(menu, QStringLiteral("Index Image")); };
    PMGroupViewTile tile;
    auto plain = c().contextMenuForGroupViewItems(some({0}), &tile);
    EXPECT_EQ(indexImageMenu(plain), nullptr) << "the tile shows its usual picture";
    delete plain;

    // The pointer rests on the picture until the frames cycle, then scrubs to the second.
    double now = 0;
    tile.hover.clock = [&] { return now; };
    tile.hover.cachedFrameCount = [] { return std::size_t(2); };
    tile.hover.setPointer(true, true, false);
    now = 100;
    ASSERT_TRUE(tile.hover.advance());
    tile.hover.scrub(90, 100);
    ASSERT_EQ(tile.hover.indexImageIndex(), 1);

    QString savedName;
    c()._itemCommands.saveImage = [&](const platform::ImagePtr&, const QString& name, QWidget*) { savedName = name; };
    std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(some({0}), &tile));
    QMenu* frameMenu = indexImageMenu(menu.get());
    ASSERT_NE(frameMenu, nullptr) << titles(menu.get()).join(u'|').toStdString();
    EXPECT_EQ(titles(frameMenu).mid(0, 6), (QStringList{"Use as Preview", "-", "Save...", "Copy", "-", "Show in File Manager"}));
    const auto item = [&](const QString& title) {
        for (QAction* a : frameMenu->actions())
            if (a->text() == title)
                return a;
        return static_cast<QAction*>(nullptr);
    };
    EXPECT_EQ(platform::menuItemRepresentedObject(item(QStringLiteral("Show in File Manager"))).string(), files[1]);
    platform::performMenuItemHandler(item(QStringLiteral("Copy")));
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_GT(copied.pixelColor(16, 9).blue(), 200);
    platform::performMenuItemHandler(item(QStringLiteral("Save...")));
    EXPECT_TRUE(savedName.startsWith(QStringLiteral("Movie 0.mov (1'15"))) << savedName.toStdString();
    EXPECT_FALSE(savedName.contains(u':'));
    platform::performMenuItemHandler(item(QStringLiteral("Use as Preview")));
    ASSERT_TRUE(movies[0]->cachedPosterImage());
    EXPECT_GT(movies[0]->cachedPosterImage()->pixels().pixelColor(16, 9).blue(), 200);
    c()._itemCommands.saveImage = nullptr;
}

// A movie of a named series offers "Show "<name>"" in its "Sequence" menu; a sequence
// bundle reveals the bundle or any of its parts.
TEST_F(ContextMenus, NamedSeriesAndTheBundlesParts)
{
    movies[0]->setSeriesID(movies[0]->uniqueLibraryID(), 1);
    movies[1]->setSeriesID(movies[0]->uniqueLibraryID(), 2);
    c().invalidateLibraryDependencies();
    const QString name = c().displayNameForSeriesIDPrefix(movies[0]->seriesIDPrefix());
    ASSERT_FALSE(name.isEmpty());
    auto menu = grid(some({0}));
    QMenu* sequence = submenu(menu.get(), QStringLiteral("Sequence"));
    ASSERT_NE(sequence, nullptr) << titles(menu.get()).join(u'|').toStdString();
    EXPECT_EQ(titles(sequence).value(0), QStringLiteral("Show \"%1\" — 2 files").arg(name));

    const QString base = testsupport::makeTempDir(QStringLiteral("bundle"));
    const QString trip = base + QStringLiteral("/Trip.mseq");
    testsupport::writeFile(trip + QStringLiteral("/Trip 10.mov"), "10");
    testsupport::writeFile(trip + QStringLiteral("/Trip 2.mov"), "2");
    auto bundle = PMMovieRepresentationOriginal::movieRepresentationWithPath(trip);
    c().pellisSourceStorageSection()->rawChildren()->append(Value(bundle));
    c().invalidateLibraryDependencies();
    std::unique_ptr<QMenu> bundleMenu(c().contextMenuForGroupViewItems(Array::make({Value(bundle)}), nullptr));
    QMenu* reveal = submenu(bundleMenu.get(), QStringLiteral("Show in File Manager"));
    ASSERT_NE(reveal, nullptr) << titles(bundleMenu.get()).join(u'|').toStdString();
    EXPECT_EQ(titles(reveal), (QStringList{"Trip.mseq", "-", "Trip 2.mov", "Trip 10.mov"}));
    QStringList revealed;
    for (QAction* a : reveal->actions())
        if (!a->isSeparator())
            revealed << platform::menuItemRepresentedObject(a).string();
    EXPECT_EQ(revealed, (QStringList{trip, trip + QStringLiteral("/Trip 2.mov"), trip + QStringLiteral("/Trip 10.mov")}));
    // A plain movie keeps its one item.
    EXPECT_EQ(submenu(grid(some({0})).get(), QStringLiteral("Show in File Manager")), nullptr);
}
