// The browsers of a movie's context menu: "Similar" lists the movies that carry all the
// chosen values, "Other Contexts" every container that holds the movie, in tree order.
#include "common/TestSupport.h"
#include "library/model/ModelFixture.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"

#include <QtGui/QAction>
#include <QtWidgets/QMenu>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using platform::Array;
using platform::Value;

namespace {

PMMainController& c()
{
    return PMMainController::mainController();
}

// A browser submenu opened as the user would open it.
QMenu* open(QMenu* menu, const QString& title)
{
    for (QAction* item : menu->actions())
        if (item->menu() && item->text().trimmed() == title) {
            Q_EMIT item->menu()->aboutToShow();
            return item->menu();
        }
    return nullptr;
}

// Titles without the indentation, separators as "-".
QStringList titles(const QMenu* menu)
{
    QStringList out;
    for (QAction* item : menu->actions())
        out << (item->isSeparator() ? QStringLiteral("-") : item->text().trimmed());
    return out;
}

// The movie names a menu opens (its items sending the choose action).
QStringList movieItems(const QMenu* menu)
{
    QStringList out;
    for (QAction* item : menu->actions())
        if (platform::menuItemAction(item) == QLatin1String("chooseMovieRepresentationFromMenuItem"))
            out << item->text();
    return out;
}

int level(const QAction* item)
{
    return item->property(PMMainController::kMenuItemIndentationLevelProperty).toInt();
}

QAction* entry(const QMenu* menu, const QString& startsWith)
{
    for (QAction* item : menu->actions())
        if (!item->isSeparator() && item->text().trimmed().startsWith(startsWith) && platform::menuItemAction(item) != QLatin1String("chooseMovieRepresentationFromMenuItem"))
            return item;
    return nullptr;
}

class Browsers : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        setDefault(QStringLiteral("Toggle Tag Values Via Context Menu"), false);
        m = tagged(QStringLiteral("Movie"), QStringLiteral("Drama, Comedy"), QStringLiteral("Paris"));
        a = tagged(QStringLiteral("Alpha"), QStringLiteral("Comedy, Drama"), QStringLiteral("paris"));
        b = tagged(QStringLiteral("Beta"), QStringLiteral("Drama"), QStringLiteral("Paris"));
        d = tagged(QStringLiteral("Delta"), QStringLiteral("Drama, Comedy"), QStringLiteral("Rome"));
        shelf = folder(QStringLiteral("Shelf"), {Value(m), Value(a), Value(b), Value(d)});
        library({Value(shelf)});
        // Playlists hold stand-ins of the library's movies.
        favourites = playlist(QStringLiteral("Favourites"), {a, m});
        solo = playlist(QStringLiteral("Solo"), {m});
        nested = playlist(QStringLiteral("Nested"), {m, b});
        lists = folder(QStringLiteral("Lists"), {Value(nested)});
        for (const auto& playlist : {favourites, lists, solo})
            c().smartGroupStorage()->rawChildren()->append(Value(playlist));
        c().invalidateLibraryDependencies();
        c().invalidateTagTypes();
        c().installContextMenus();
    }
    static PMMovieRepresentationOriginalPtr tagged(const QString& name, const QString& genres, const QString& place)
    {
        auto record = movie(name);
        record->setValue(genres, QStringLiteral("Genre"));
        record->setValue(place, QStringLiteral("Place"));
        return record;
    }
    // A playlist names its movies; the library shows a stand-in of each.
    static PMLibraryContainerPtr playlist(const QString& name, std::initializer_list<PMMovieRepresentationOriginalPtr> members)
    {
        auto ids = Array::make();
        for (const auto& member : members)
            ids->append(Value(member->uniqueLibraryID()));
        auto container = folder(name);
        container->setValue(QStringLiteral("Static Proxies"), Value(ids));
        return container;
    }
    std::unique_ptr<QMenu> contextMenu(const Value& clicked)
    {
        return std::unique_ptr<QMenu>(c().contextMenuForGroupViewItems(Array::make({clicked}), nullptr));
    }
    PMMovieRepresentationOriginalPtr m, a, b, d;
    PMLibraryContainerPtr shelf, favourites, solo, nested, lists;
};

} // namespace

TEST_F(Browsers, SimilarListsOnlyMoviesCarryingEveryValue)
{
    auto menu = contextMenu(Value(m));
    QMenu* similar = open(menu.get(), QStringLiteral("Similar"));
    ASSERT_TRUE(similar);
    // One submenu per tag, then the movies sharing all values of all tags (any letter case).
    EXPECT_EQ(titles(similar), (QStringList{"Genre", "Place", "-", "Alpha"}));

    // A tag with several values: a submenu per value, then those carrying both.
    QMenu* genre = open(similar, QStringLiteral("Genre"));
    ASSERT_TRUE(genre);
    EXPECT_EQ(movieItems(genre), (QStringList{"Alpha", "Delta"}));
    QStringList valueMenus;
    for (QAction* item : genre->actions())
        if (item->menu())
            valueMenus << item->text();
    EXPECT_EQ(valueMenus.size(), 2);
    EXPECT_TRUE(valueMenus.contains(QStringLiteral("Drama")) && valueMenus.contains(QStringLiteral("Comedy")));
    QMenu* drama = open(genre, QStringLiteral("Drama"));
    ASSERT_TRUE(drama);
    EXPECT_EQ(movieItems(drama), (QStringList{"Alpha", "Beta", "Delta"}));
    EXPECT_FALSE(movieItems(drama).contains(QStringLiteral("Movie"))) << "never the movie itself";

    // Opened again, it is built afresh: a change in between shows up.
    b->setValue(QStringLiteral("Drama, Comedy"), QStringLiteral("Genre"));
    Q_EMIT similar->aboutToShow();
    EXPECT_EQ(movieItems(similar), (QStringList{"Alpha", "Beta"}));
}

TEST_F(Browsers, SimilarFindsQuotedValuesAndListsTheMatchesInTheOrderOfNames)
{
    // A value written in quotes (holding the separator, or quotes of its own) is found as
    // the movie's value, never as a piece of another; the matches follow the user's order
    // of names.
    const auto add = [this](const QString& name, const QString& genres) {
        auto record = movie(name);
        record->setValue(genres, QStringLiteral("Genre"));
        shelf->rawChildren()->append(Value(record));
        return record;
    };
    auto clicked = add(QStringLiteral("Clicked"), QStringLiteral("\"Sci, Fi\""));
    add(QStringLiteral("zed"), QStringLiteral("\"sci, fi\""));
    add(QStringLiteral("\u00c9mile"), QStringLiteral("Drama, \"Sci, Fi\""));
    add(QStringLiteral("Eve"), QStringLiteral("\"Sci, Fi\", Comedy"));
    add(QStringLiteral("apple"), QStringLiteral("\"SCI, FI\""));
    add(QStringLiteral("Apart"), QStringLiteral("Sci, Fi")); // two values, "sci" and "fi"
    add(QStringLiteral("Inside"), QStringLiteral("\"Sci, Fiction\""));
    auto quoted = add(QStringLiteral("Quoted"), QStringLiteral("\"The \"\"Best\"\"\""));
    add(QStringLiteral("Also Quoted"), QStringLiteral("\"the \"\"best\"\"\", Drama"));
    add(QStringLiteral("Unquoted"), QStringLiteral("The Best"));
    c().invalidateLibraryDependencies();
    c().invalidateTagTypes();

    auto menu = contextMenu(Value(clicked));
    QMenu* similar = open(menu.get(), QStringLiteral("Similar"));
    ASSERT_TRUE(similar);
    QStringList expected = {QStringLiteral("zed"), QStringLiteral("\u00c9mile"), QStringLiteral("Eve"), QStringLiteral("apple")};
    std::stable_sort(expected.begin(), expected.end(), [](const QString& x, const QString& y) { return x.localeAwareCompare(y) < 0; });
    EXPECT_EQ(movieItems(similar), expected);

    auto again = contextMenu(Value(quoted));
    QMenu* best = open(again.get(), QStringLiteral("Similar"));
    ASSERT_TRUE(best);
    EXPECT_EQ(movieItems(best), QStringList{QStringLiteral("Also Quoted")});
}

TEST_F(Browsers, ALoneTagAndUnsharedValuesSayNoMatches)
{
    auto lone = movie(QStringLiteral("Lone"));
    lone->setValue(QStringLiteral("Unique"), QStringLiteral("Mood"));
    shelf->rawChildren()->append(Value(lone));
    c().invalidateLibraryDependencies();
    auto menu = contextMenu(Value(lone));
    QMenu* similar = open(menu.get(), QStringLiteral("Similar"));
    ASSERT_TRUE(similar);
    // One tag: browsed directly, under a header naming the tag and value.
    EXPECT_EQ(titles(similar), (QStringList{QStringLiteral("Mood: Unique \u2014 No Matches")}));

    // Several tags nobody shares: the tag submenus and no movies.
    lone->setValue(QStringLiteral("Nowhere"), QStringLiteral("Place"));
    auto again = contextMenu(Value(lone));
    QMenu* two = open(again.get(), QStringLiteral("Similar"));
    ASSERT_TRUE(two);
    EXPECT_EQ(titles(two), (QStringList{"Mood", "Place", "-"}));

    // No tags at all: no "Similar".
    auto plain = movie(QStringLiteral("Plain"));
    shelf->rawChildren()->append(Value(plain));
    c().invalidateLibraryDependencies();
    EXPECT_FALSE(open(contextMenu(Value(plain)).get(), QStringLiteral("Similar")));
}

TEST_F(Browsers, OtherContextsFollowTheTreeWithIndentation)
{
    auto menu = contextMenu(Value(m));
    QMenu* contexts = open(menu.get(), QStringLiteral("Other Contexts"));
    ASSERT_TRUE(contexts);
    // The clicked original's own folder is left out; the playlists follow in tree order.
    QAction* fav = entry(contexts, QStringLiteral("Favourites"));
    QAction* listsEntry = entry(contexts, QStringLiteral("Lists"));
    QAction* nestedEntry = entry(contexts, QStringLiteral("Nested"));
    QAction* soloEntry = entry(contexts, QStringLiteral("Solo"));
    ASSERT_TRUE(fav && listsEntry && nestedEntry && soloEntry) << titles(contexts).join(u'|').toStdString();
    EXPECT_FALSE(entry(contexts, QStringLiteral("Shelf")));
    const QList<QAction*> items = contexts->actions();
    EXPECT_LT(items.indexOf(fav), items.indexOf(listsEntry));
    EXPECT_LT(items.indexOf(listsEntry), items.indexOf(nestedEntry));
    EXPECT_LT(items.indexOf(nestedEntry), items.indexOf(soloEntry));
    EXPECT_EQ(level(nestedEntry), level(listsEntry) + 1);
    EXPECT_EQ(level(fav), level(listsEntry));
    EXPECT_GT(nestedEntry->text().indexOf(u'N'), listsEntry->text().indexOf(u'L')) << "deeper entries stand further right";
    // An entry reveals the movie there; its Alt alternate opens it there.
    EXPECT_EQ(platform::menuItemAction(fav), QStringLiteral("showGroupItemFromMenuItem"));
    EXPECT_EQ(PMItem(platform::menuItemRepresentedObject(fav))->nonProxySelf().objectPointer(), m.get());
    EXPECT_FALSE(listsEntry->isEnabled()) << "a container holding it only below is a plain line";

    // Clicked in a playlist, the playlist itself shows only when asked for: checked, disabled.
    const Value proxy = favourites->rawChildren()->at(1);
    auto fromPlaylist = contextMenu(proxy);
    QMenu* fromFavourites = open(fromPlaylist.get(), QStringLiteral("Other Contexts"));
    EXPECT_FALSE(entry(fromFavourites, QStringLiteral("Favourites")));
    EXPECT_TRUE(entry(fromFavourites, QStringLiteral("Shelf")));
    setDefault(QStringLiteral("Other Contexts: Always Include Reference"), true);
    Q_EMIT fromFavourites->aboutToShow();
    QAction* itself = entry(fromFavourites, QStringLiteral("Favourites"));
    ASSERT_TRUE(itself);
    EXPECT_TRUE(itself->isChecked());
    EXPECT_FALSE(itself->isEnabled());
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Other Contexts: Always Include Reference"));
}

TEST_F(Browsers, PositionSuffixByPriorityAndCount)
{
    const QString space = QStringLiteral("\u2006");
    // priority, container, whether " (pos / n)" follows its name
    const struct {
        long long priority;
        const char* container;
        bool suffix;
    } cases[] = {
        {0, "Favourites", true}, // two movies
        {0, "Solo", false},      // one movie: its place says nothing
        {1, "Solo", true},       // unless the place is wanted
        {-1, "Favourites", false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.container);
        SCOPED_TRACE(testCase.priority);
        setDefault(QStringLiteral("Other Contexts: Index Priority"), Value(testCase.priority));
        auto menu = contextMenu(Value(m));
        QMenu* contexts = open(menu.get(), QStringLiteral("Other Contexts"));
        QAction* item = entry(contexts, QString::fromUtf8(testCase.container));
        ASSERT_TRUE(item);
        const QString name = QString::fromUtf8(testCase.container);
        if (!testCase.suffix) {
            EXPECT_EQ(item->text().trimmed(), name);
            continue;
        }
        const PMLibraryContainerPtr container = name == QLatin1String("Solo") ? solo : favourites;
        const platform::ArrayPtr sorted = container->sortedMovieChildren();
        qsizetype position = 0;
        for (qsizetype i = 0; i < sorted->count(); ++i)
            if (PMItem(sorted->at(i))->nonProxySelf().objectPointer() == m.get())
                position = i + 1;
        EXPECT_EQ(item->text().trimmed(), QStringLiteral("%1 (%2%3/%3%4)").arg(name).arg(position).arg(space).arg(sorted->count()));
    }
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Other Contexts: Index Priority"));
}
