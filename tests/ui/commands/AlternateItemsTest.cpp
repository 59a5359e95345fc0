// Every alternate command (one the design reveals with a held modifier) is an item of its own
// here, right below the item it stands for, and can be chosen from the menu it belongs to.
#include "common/TestSupport.h"
#include "library/model/ModelFixture.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMainMenu.h"

#include <QtGui/QAction>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using platform::Array;
using platform::Value;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

// A title as it reads: indentation and the "&&" of a literal ampersand undone.
QString reads(const QAction* item)
{
    return item->text().trimmed().replace(QStringLiteral("&&"), QStringLiteral("&"));
}

// The item of the menu, or of one of its submenus as the user opens them, that reads so.
QAction* find(QMenu* menu, const QString& title, QMenu** in)
{
    Q_EMIT menu->aboutToShow(); // filled and validated as on opening
    for (QAction* item : menu->actions()) {
        if (item->isSeparator())
            continue;
        if (reads(item) == title) {
            *in = menu;
            return item;
        }
    }
    for (QAction* item : menu->actions())
        if (item->menu() && item->menu() != menu)
            if (QAction* found = find(item->menu(), title, in))
                return found;
    return nullptr;
}

class AlternateItems : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        platform::setApplicationResponder(&c());
        setDefault(QStringLiteral("Toggle Tag Values Via Context Menu"), false);
        setDefault(QStringLiteral("Enable Smart Playlist Emancipation"), true);
        movieM = movie(QStringLiteral("Movie"));
        movieA = movie(QStringLiteral("Alpha"));
        shelf = folder(QStringLiteral("Shelf"), {Value(movieM), Value(movieA)});
        library({Value(shelf)});
        // A playlist holding a stand-in of the movie, and a smart playlist.
        auto ids = Array::make();
        ids->append(Value(movieM->uniqueLibraryID()));
        favourites = folder(QStringLiteral("Favourites"));
        favourites->setValue(QStringLiteral("Static Proxies"), Value(ids));
        smart = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Smart")}, {QStringLiteral("Smart"), true}});
        c().smartGroupStorage()->rawChildren()->append(Value(favourites));
        c().smartGroupStorage()->rawChildren()->append(Value(smart));
        c().invalidateLibraryDependencies();
        c().installContextMenus();
        // Sort items are offered for the container shown.
        ASSERT_TRUE(c().selectLibraryItem(Value(shelf)));
        bar = PMMainMenu::createMenuBar(c(), &window);
        window.setMenuBar(bar);
        c()._infoMovieRepresentations = Array::make({Value(movieM)});
        c()._cachedInfoMovieRepresentations = nullptr;
        c().addLastWatchedMovieRepresentation(Value(movieM), shelf);
    }
    void TearDown() override
    {
        c()._infoMovieRepresentations = nullptr;
        for (const char* key : {"Toggle Tag Values Via Context Menu", "Enable Smart Playlist Emancipation"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
        platform::setApplicationResponder(nullptr);
        ModelTest::TearDown();
    }
    QMenu* keep(QMenu* menu)
    {
        menus.emplace_back(menu);
        return menu;
    }
    QMenu* barMenu(const char* title)
    {
        for (QAction* item : bar->actions())
            if (item->menu() && item->menu()->property("PMMainMenuTitle").toString() == QLatin1String(title))
                return item->menu();
        for (QAction* item : bar->actions())
            if (item->menu() && reads(item).remove(u'&') == QLatin1String(title))
                return item->menu();
        return nullptr;
    }

    PMMovieRepresentationOriginalPtr movieM, movieA;
    PMLibraryContainerPtr shelf, favourites, smart;
    QMainWindow window;
    QMenuBar* bar = nullptr;
    std::vector<std::unique_ptr<QMenu>> menus;
};

} // namespace

TEST_F(AlternateItems, EachStandsBelowItsPrimaryAndCanBeChosen)
{
    const std::function<QMenu*()> movieMenu = [this] { return keep(c().contextMenuForGroupViewItems(Array::make({Value(movieM)}), nullptr)); };
    const std::function<QMenu*()> smartMenu = [this] { return keep(c().contextMenuForGroupViewItems(Array::make({Value(smart)}), nullptr)); };
    const struct {
        const char* where;
        std::function<QMenu*()> menu;
        QString alternate;
        QString primary;
        QString action; // empty: a handler of its own, or a submenu
    } rows[] = {
        {"movie", movieMenu, QStringLiteral("Export Metadata CSV..."), QStringLiteral("Edit Metadata"), QStringLiteral("exportMetadataCSV")},
        {"movie", movieMenu, QStringLiteral("Rename..."), QStringLiteral("Show Info"), QStringLiteral("showMovieInfo")},
        {"movie", movieMenu, QStringLiteral("Favourites \u25B8 Movie"), QStringLiteral("Favourites"), QStringLiteral("chooseMovieRepresentationFromMenuItem")},
        {"movie", movieMenu, QStringLiteral("Name (Descending)"), QStringLiteral("Name"), QStringLiteral("setSortCriterionForSelectedContainerFromMenuItem")},
        {"smart playlist", smartMenu, QStringLiteral("Show Item Count"), QStringLiteral("Emancipate"), QString()},
        {"File", [this] { return barMenu("File"); }, QStringLiteral("Copy Playback Markdown Link"), QStringLiteral("Copy Playback URL"),
         QStringLiteral("copyPlaybackURLViaMenuItem")},
        {"Last Watched", [] { return c()._mainMenu.lastWatchedMenu.data(); }, QStringLiteral("Reveal \"Movie\""), QStringLiteral("Movie"),
         QStringLiteral("showGroupItemFromMenuItem")},
        {"Layout", [] { return c()._mainMenu.layoutMenu.data(); }, QStringLiteral("Crop Previews to Median Aspect Ratio"),
         QStringLiteral("Crop Previews to Average Aspect Ratio"), QString()},
        {"Layout", [] { return c()._mainMenu.layoutMenu.data(); }, QStringLiteral("Scale Previews to Fit Median Aspect Ratio"),
         QStringLiteral("Scale Previews to Fit Average Aspect Ratio"), QString()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.where + std::string(" / ") + row.alternate.toStdString());
        QMenu* menu = row.menu();
        ASSERT_NE(menu, nullptr);
        QMenu* in = nullptr;
        QAction* alternate = find(menu, row.alternate, &in);
        ASSERT_NE(alternate, nullptr);
        QAction* primary = platform::alternateMenuItemPrimary(alternate);
        ASSERT_NE(primary, nullptr) << "an alternate";
        EXPECT_EQ(reads(primary), row.primary);
        // Shown, in the same menu below its primary, and enabled as it opens.
        EXPECT_TRUE(alternate->isVisible());
        EXPECT_TRUE(primary->isVisible());
        const QList<QAction*> items = in->actions();
        EXPECT_LT(items.indexOf(primary), items.indexOf(alternate));
        EXPECT_GE(items.indexOf(primary), 0);
        EXPECT_TRUE(alternate->isEnabled());
        EXPECT_TRUE(alternate->menu() || platform::validateMenuItemNow(alternate));
        if (!row.action.isEmpty()) {
            EXPECT_EQ(platform::menuItemAction(alternate), row.action);
        }
    }
}
