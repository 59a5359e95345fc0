// Menus of big libraries: a container's submenu, the library menu and "Similar" show a few
// hundred items at once, and a "(N more)" item reveals the rest in steps, in place, with the
// menu left open and never taller than the screen.
#include "common/TestSupport.h"
#include "library/model/ModelFixture.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "ui/commands/PMMainMenu.h"
#include "ui/commands/PMSlowMenuDelegate.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMap>
#include <QtGui/QAction>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

#include <gtest/gtest.h>

#include <memory>

using platform::Array;
using platform::Value;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

QStringList movieTitles(const QMenu* menu)
{
    QStringList out;
    for (QAction* item : menu->actions())
        if (platform::menuItemAction(item) == QLatin1String("chooseMovieRepresentationFromMenuItem"))
            out << item->text();
    return out;
}

QAction* revealItem(const QMenu* menu)
{
    for (QAction* item : menu->actions())
        if (isMenuListRevealItem(item))
            return item;
    return nullptr;
}

void hideAllMenus(QMenu* menu)
{
    for (QMenu* sub : menu->findChildren<QMenu*>())
        sub->hide();
    menu->hide();
}

enum class Choose { Click, Key };

// Chooses the "(N more)" item as the user would: a click on it, or Return with it highlighted.
void chooseReveal(QMenu* menu, Choose how)
{
    QAction* more = revealItem(menu);
    ASSERT_NE(more, nullptr);
    if (how == Choose::Click) {
        menu->setActiveAction(more);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(more).center());
    } else {
        menu->setActiveAction(more);
        QTest::keyClick(menu, Qt::Key_Return);
    }
}

// Reveals until everything shows, checking each step: the menu stays open, grows by the
// limit, says how many remain, and keeps within the screen.
void revealAll(QMenu* menu, const QStringList& all, Choose how)
{
    const qsizetype limit = kPMMenuListLimit;
    for (qsizetype shown = limit; shown < all.size(); shown += limit) {
        SCOPED_TRACE(shown);
        ASSERT_TRUE(movieTitles(menu) == all.mid(0, shown)) << movieTitles(menu).size() << " shown";
        ASSERT_NE(revealItem(menu), nullptr);
        EXPECT_EQ(revealItem(menu)->text(), QStringLiteral("(%1 more)").arg(all.size() - shown));
        chooseReveal(menu, how);
        EXPECT_TRUE(menu->isVisible());
        EXPECT_LE(menu->height(), menu->screen()->availableGeometry().height());
    }
    EXPECT_TRUE(movieTitles(menu) == all) << movieTitles(menu).size() << " shown";
    EXPECT_EQ(revealItem(menu), nullptr);
}

class MenuScale : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        platform::setApplicationResponder(&c());
    }
    void TearDown() override
    {
        platform::setApplicationResponder(nullptr);
        ModelTest::TearDown();
    }
    // Movies named so that their order is their number ("Movie 0001", ...).
    static QStringList addMovies(const PMLibraryContainerPtr& to, int count, const QString& genre = QString())
    {
        QStringList names;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("Movie %1").arg(i, 4, 10, QLatin1Char('0'));
            auto record = movie(name);
            if (!genre.isEmpty())
                record->setValue(genre, QStringLiteral("Genre"));
            to->rawChildren()->append(Value(record));
            names << name;
        }
        return names;
    }
};

} // namespace

TEST_F(MenuScale, AContainerSubmenuShowsAFewHundredAndRevealsTheRestInSteps)
{
    auto shelf = folder(QStringLiteral("Shelf"));
    const QStringList all = addMovies(shelf, int(kPMMenuListLimit) * 2 + 57);
    library({Value(shelf)});
    std::unique_ptr<QMenu> menu(slowMenuWithTitle(QStringLiteral("Shelf"), Value(shelf)));
    menu->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    revealAll(menu.get(), all, Choose::Click);

    // The next opening starts again from the first few hundred.
    menu->hide();
    menu->popup(QPoint(0, 0));
    EXPECT_EQ(movieTitles(menu.get()).size(), kPMMenuListLimit);
    ASSERT_NE(revealItem(menu.get()), nullptr);
    EXPECT_EQ(revealItem(menu.get())->text(), QStringLiteral("(%1 more)").arg(all.size() - kPMMenuListLimit));
}

TEST_F(MenuScale, BrowseRevealsTheMoviesOfASectionWithTheKeyboard)
{
    const QStringList all = addMovies(c().pellisSourceStorageSection(), int(kPMMenuListLimit) + 12);
    c().invalidateLibraryDependencies();
    QMainWindow window;
    window.setMenuBar(PMMainMenu::createMenuBar(c(), &window));
    QMenu* browse = c().libraryMenu;
    ASSERT_NE(browse, nullptr);
    // Open menus are closed whatever happens, as the tests after this one expect none.
    const std::unique_ptr<QMenu, void (*)(QMenu*)> closer(browse, [](QMenu* m) { hideAllMenus(m); });
    browse->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(browse));
    QMenu* section = nullptr;
    for (QAction* item : browse->actions())
        if (PMSlowMenuDelegate* delegate = slowMenuDelegate(item->menu()))
            if (PMContainer(delegate->representedContainerOrPath()) == c().pellisSourceStorageSection().get())
                section = item->menu();
    ASSERT_NE(section, nullptr);
    section->popup(QPoint(40, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(section));
    revealAll(section, all, Choose::Key);
    EXPECT_TRUE(browse->isVisible());
}

TEST_F(MenuScale, SimilarShowsAFewHundredMatchesAndRevealsTheRest)
{
    auto shelf = folder(QStringLiteral("Shelf"));
    auto clicked = movie(QStringLiteral("Clicked"));
    clicked->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    shelf->rawChildren()->append(Value(clicked));
    const QStringList all = addMovies(shelf, int(kPMMenuListLimit) + 40, QStringLiteral("Drama"));
    library({Value(shelf)});
    c().invalidateTagTypes();
    auto populator = PMMainController::PMTagBrowserPopulator(Value(clicked), false);
    populator->setValue(QStringLiteral("Tag"), Value(QStringLiteral("Genre")));
    std::unique_ptr<QMenu> menu(c().tagBrowserMenuWithTitle(QStringLiteral("Genre"), populator, nullptr));
    menu->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    revealAll(menu.get(), all, Choose::Click);
}

TEST_F(MenuScale, AMoviesContextMenuFindsItsPicturesByTheirOwnNames)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("pictures")) + QStringLiteral("/Here.mov");
    testsupport::writeFile(path, "x");
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    library({Value(record)});
    c().installContextMenus();
    const QString preview = record->posterImageBasePath(), cover = record->coverImageBasePath();
    for (const QString& base : {preview, cover})
        QDir().mkpath(QFileInfo(base).path());
    // What else lies in the image folders (another movie's picture, a leftover that starts
    // with the movie's name) is never taken for the movie's own picture.
    testsupport::writeFile(preview + QStringLiteral(".a-leftover"), "x");
    testsupport::writeFile(QFileInfo(preview).path() + QStringLiteral("/other.jpg"), "x");
    const auto revealed = [&] {
        std::unique_ptr<QMenu> menu(c().contextMenuForGroupViewItems(Array::make({Value(record)}), nullptr));
        QMap<QString, QString> out;
        for (QAction* item : menu->actions())
            if (item->text().startsWith(QLatin1String("Show ")) && item->text().endsWith(QLatin1String(" in File Manager")))
                out.insert(item->text(), platform::menuItemRepresentedObject(item).string());
        return out;
    };
    EXPECT_FALSE(revealed().contains(QStringLiteral("Show Preview in File Manager")));
    testsupport::writeFile(preview + QStringLiteral(".jpg"), "x");
    testsupport::writeFile(cover + QStringLiteral(".tiff"), "x");
    const QMap<QString, QString> found = revealed();
    EXPECT_EQ(found.value(QStringLiteral("Show Preview in File Manager")), preview + QStringLiteral(".jpg"));
    EXPECT_EQ(found.value(QStringLiteral("Show Cover in File Manager")), cover + QStringLiteral(".tiff"));
}
