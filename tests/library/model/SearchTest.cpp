#include "ModelFixture.h"

#include "library/model/PMParsedQuery.h"
#include "library/model/PMSearch.h"
#include "library/model/PMSortLibraryItems.h"

#include <thread>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

class SearchTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        resetSettings();
        setSettings(true, true);
        setDefault("Group Search Criterion: Name", true);
        setDefault("Group Search Criterion: Metadata", true);
        PMRebuildSortPrefixTable();
    }
    void TearDown() override
    {
        resetSettings();
        ModelTest::TearDown();
    }
    static void resetSettings()
    {
        auto& d = platform::UserDefaults::standard();
        for (const char* key : {"Filter", "Group Search Scope", "Duplicate Search: Ignore Out-Of-Scope Items", "Duplicate Search: Ignore Trivial Results",
                                "Duplicate Search: Image Hash: Ignore Aspect Ratio",
                                "Group Search Criterion: Groups", "Group Search Criterion: Files", "Group Search Criterion: Name",
                                "Group Search Criterion: Metadata", "Group Search Criterion: Location"})
            d.removeObjectForKey(QString::fromUtf8(key));
    }
    static void setSettings(bool containers, bool files)
    {
        setDefault("Group Search Criterion: Groups", containers);
        setDefault("Group Search Criterion: Files", files);
    }
    // The names of the results, containers marked "+" and movies "*" (search-result
    // proxies), in the order given.
    static QStringList describe(const Array& results)
    {
        QStringList out;
        for (const Value& v : results) {
            if (PMLibraryContainer* c = PMContainer(v))
                out << (c->contains(QStringLiteral("Search Proxy")) ? QStringLiteral("+") : QStringLiteral("?")) + c->value(QStringLiteral("Name")).string();
            else if (PMMovieRepresentationPrototype* m = PMMovie(v))
                out << (m->isSearchResultProxy() ? QStringLiteral("*") : QStringLiteral("?")) + m->displayName();
        }
        return out;
    }
    static QStringList search(const QString& text, PMLibraryContainer* in, bool containers, bool files, QString* criterion = nullptr)
    {
        const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(text);
        EXPECT_TRUE(query) << text.toStdString();
        Array results;
        if (query)
            addMatchesForParsedQuery(results, *query, in, containers, files, true, true, false, criterion);
        QStringList names = describe(results);
        names.sort();
        return names;
    }
};

} // namespace

TEST_F(SearchTest, EveryTermMustMatchOneOfItsAlternativesAndNegationKeepsWhatDoesNotMatch)
{
    library({Value(folder("Summer Trip", {Value(movie("a"))})), Value(folder("Winter Trip", {Value(movie("b"))})),
             Value(folder("Summer Empty")), Value(folder("Holiday", {Value(movie("c"))}))});
    const struct {
        const char* query;
        QStringList results;
    } cases[] = {
        {"summer trip", {"+Summer Trip"}},
        {"summer||holiday", {"+Holiday", "+Summer Trip"}},
        {"trip -winter", {"+Summer Trip"}},
        // An empty container never matches, so a negated term keeps it.
        {"-trip", {"+Holiday", "+Library", "+Movies", "+Summer Empty"}}, // with the storage and its section
        {"SUMMER -\"empty\"", {"+Summer Trip"}},
        {"nothing", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        // With files off no movie ever matches.
        EXPECT_EQ(search(QString::fromUtf8(c.query), nullptr, true, false), c.results);
    }
    // Containers take part only when names are searched too.
    const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QStringLiteral("summer"));
    Array results;
    addMatchesForParsedQuery(results, *query, nullptr, true, false, false, true, false, nullptr);
    EXPECT_TRUE(results.isEmpty());
}

TEST_F(SearchTest, SelectionsAndIdentifierFiltersChooseItemsAsTheSettingsAdmit)
{
    auto a = movie("a");
    auto b = movie("b");
    auto group = folder("group", {Value(b), Value(folder("sub"))});
    library({Value(a), Value(group)});
    // A selected group stands for what lies below it.
    const QString ids = QStringLiteral("&=%1 &=%2").arg(a->uniqueLibraryID(), group->uniqueLibraryID());
    EXPECT_EQ(search(ids, nullptr, true, true), (QStringList{"*a", "*b", "+sub"}));
    EXPECT_EQ(search(ids, nullptr, false, true), (QStringList{"*a", "*b"}));
    EXPECT_EQ(search(ids, nullptr, true, false), (QStringList{"+sub"}));
    // Filters: movies by unique ID (files searched), containers by their ID.
    EXPECT_EQ(search(QStringLiteral("==") + a->uniqueLibraryID(), nullptr, true, true), (QStringList{"*a"}));
    EXPECT_EQ(search(QStringLiteral("==") + a->uniqueLibraryID(), nullptr, true, false), QStringList{});
    // Searched inside a container, only what lies below it counts.
    EXPECT_EQ(search(QStringLiteral("==%1|%2").arg(a->uniqueLibraryID(), b->uniqueLibraryID()), group.get(), true, true), (QStringList{"*b"}));
}

TEST_F(SearchTest, DuplicatesShareEveryKeyValueAndLackingValuesMatchNothing)
{
    auto a1 = movie("A", 60);
    auto a2 = movie("A", 60);
    auto a3 = movie("A", 30);
    auto b = movie("B");
    auto c1 = movie("C");
    auto c2 = movie("C");
    auto inside = folder("inside", {Value(a1), Value(b)});
    library({Value(inside), Value(a2), Value(a3), Value(c1), Value(c2)});

    QString criterion;
    EXPECT_EQ(search(QStringLiteral("?=name"), nullptr, false, true, &criterion), (QStringList{"*A", "*A", "*A", "*C", "*C"}));
    EXPECT_EQ(criterion, QStringLiteral("GroupListName"));
    // Two keys: name and duration agree only for a1 and a2; unknown durations never match.
    criterion.clear();
    EXPECT_EQ(search(QStringLiteral("?=name ?=time"), nullptr, false, true, &criterion), (QStringList{"*A", "*A"}));
    EXPECT_TRUE(criterion.isEmpty());
    EXPECT_EQ(search(QStringLiteral("?=duration"), nullptr, false, true), (QStringList{"*A", "*A"}));
    // Files off: nothing to compare.
    EXPECT_EQ(search(QStringLiteral("?=name"), nullptr, false, false), QStringList{});

    // Inside a container, a group counts when one of its members lies there; both are
    // reported. Limited to the container's own items, a1 has no partner.
    EXPECT_EQ(search(QStringLiteral("?=name"), inside.get(), false, true), (QStringList{"*A", "*A", "*A"}));
    setDefault("Duplicate Search: Ignore Out-Of-Scope Items", true);
    EXPECT_EQ(search(QStringLiteral("?=name"), inside.get(), false, true), QStringList{});
}

// Without an out-parameter duplicate results come sorted by the criterion: the 20 s group,
// found after the 90 s one, comes first. Each result carries the IDs of its group, in the
// library's order.
TEST_F(SearchTest, DuplicateResultsComeSortedByTheirCriterion)
{
    auto long1 = movie("Long 1", 90);
    auto short1 = movie("Short 1", 20);
    auto long2 = movie("Long 2", 90);
    auto short2 = movie("Short 2", 20);
    library({Value(long1), Value(short1), Value(long2), Value(short2), Value(movie("Alone", 55))});
    const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QStringLiteral("?=time"));
    Array results;
    addMatchesForParsedQuery(results, *query, nullptr, false, true, true, true, false, nullptr);
    EXPECT_EQ(describe(results), (QStringList{"*Short 1", "*Short 2", "*Long 1", "*Long 2"}));
    const QStringList shortIDs = {short1->uniqueLibraryID(), short2->uniqueLibraryID()};
    const QStringList longIDs = {long1->uniqueLibraryID(), long2->uniqueLibraryID()};
    const QList<QStringList> groups = {shortIDs, shortIDs, longIDs, longIDs};
    for (qsizetype i = 0; i < results.count() && i < groups.size(); ++i) {
        auto* result = dynamic_cast<PMMovieRepresentationSearchResultProxy*>(PMMovie(results.at(i)));
        ASSERT_TRUE(result && result->duplicateIDs());
        QStringList ids;
        for (const Value& id : *result->duplicateIDs())
            ids << id.string();
        EXPECT_EQ(ids, groups[i]) << i;
    }
}

TEST_F(SearchTest, WhenEverythingIsADuplicateNothingIs)
{
    library({Value(movie("same")), Value(movie("same"))});
    EXPECT_EQ(search(QStringLiteral("?=name"), nullptr, false, true).size(), 2);
    setDefault("Duplicate Search: Ignore Trivial Results", true);
    EXPECT_EQ(search(QStringLiteral("?=name"), nullptr, false, true), QStringList{});
}

TEST_F(SearchTest, ContainersKeepTheirResultsUntilTheTextOrASettingChanges)
{
    auto inner = folder("Beach", {Value(movie("m"))});
    auto outer = folder("Summer", {Value(inner), Value(folder("Beach Empty"))});
    library({Value(outer)});
    ASSERT_TRUE(mainController().selectLibraryItem(Value(outer))); // a container selected: its scope counts
    setDefault("Group Search Scope", "[All]");
    outer->setQuery(QStringLiteral("beach"));
    EXPECT_EQ(PMLibraryContainer::make()->query(), QStringLiteral("beach")); // one text for every container
    EXPECT_EQ(outer->cachedSortedChildrenForCurrentQuery(), nullptr);

    const ArrayPtr results = outer->sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(false);
    ASSERT_TRUE(results);
    // Named after their place, outermost first, up to the storage.
    EXPECT_EQ(describe(*results), (QStringList{"+Beach (All Media: Summer)"}));
    const ArrayPtr cached = outer->cachedSortedChildrenForCurrentQuery();
    ASSERT_TRUE(cached);
    EXPECT_TRUE(PMIsSameItem(cached->at(0), results->at(0)));

    // In the selected container's scope the names stop at it.
    setDefault("Group Search Scope", "[Selected]");
    EXPECT_EQ(outer->cachedSortedChildrenForCurrentQuery(), nullptr); // a setting changed: the cache is dropped
    EXPECT_FALSE(outer->contains(QStringLiteral("Search")));
    EXPECT_EQ(describe(*outer->sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(false)), (QStringList{"+Beach"}));

    // A text that does not parse is no search.
    outer->setQuery(QStringLiteral("?=nosuchkey"));
    EXPECT_EQ(outer->sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(false), nullptr);
    EXPECT_FALSE(outer->contains(QStringLiteral("Search")));
    outer->setQuery(QString());
    EXPECT_FALSE(platform::UserDefaults::standard().objectForKey(QStringLiteral("Filter")).isString());
}

TEST_F(SearchTest, MultipleSelectionsAppendOneEncodedTokenPerItem)
{
    auto a = movie("a");
    auto b = movie("b");
    a->setUniqueLibraryID(QStringLiteral("A-1"));
    b->setUniqueLibraryID(QStringLiteral("B 2"));
    auto c = folder("c");
    EXPECT_FALSE(c->hasMultipleSelectionQuery());
    // Two movies selected in a source list that shows movies.
    setDefault("Source List Display Mode", 1);
    library({Value(a), Value(b)});
    ASSERT_TRUE(mainController().selectLibraryItems(Array::make({Value(a), Value(b)})));
    EXPECT_EQ(c->multipleSelectionQuery(), QStringLiteral("&=A%2D1 &=B%202"));
    c->setQuery(QStringLiteral("x"));
    EXPECT_EQ(c->multipleSelectionQuery(), QStringLiteral("x &=A%2D1 &=B%202"));
    EXPECT_TRUE(c->hasMultipleSelectionQuery());
    EXPECT_EQ(PMParsedQuery::parsedQuery(c->multipleSelectionQuery())->multipleSelectionIdentifierComponents, (QStringList{"A-1", "B 2"}));
    c->setQuery(QString());
}

TEST(DuplicateImages, PicturesLookAlikeByShapeAndVisibleArea)
{
    const QRectF whole(0, 0, 1, 1);
    const struct {
        QSizeF a;
        QRectF areaA;
        QSizeF b;
        QRectF areaB;
        bool ignoreAspectRatio;
        bool alike;
    } cases[] = {
        {{640, 480}, whole, {320, 240}, whole, false, true},
        {{640, 480}, whole, {640, 360}, whole, false, false}, // 4:3 against 16:9
        {{640, 480}, whole, {640, 360}, whole, true, true},
        {{640, 480}, whole, {643, 480}, whole, false, true},  // within 0.01
        {{640, 480}, whole, {0, 0}, whole, true, false},      // size unknown
        {{640, 480}, whole, {640, 480}, QRectF(0, 0, 0.5, 0.5), false, true},
        {{640, 480}, QRectF(0, 0, 0.5, 1), {640, 480}, QRectF(0.5, 0, 0.5, 1), false, false},
        {{640, 480}, QRectF(0, 0, 0.6, 1), {640, 480}, QRectF(0.2, 0, 0.6, 1), false, true},  // overlap 0.4 of 0.6
        {{640, 480}, QRectF(0, 0, 0.6, 1), {640, 480}, QRectF(0.35, 0, 0.6, 1), false, false}, // overlap 0.25 of 0.6
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row++);
        EXPECT_EQ(PMPicturesLookAlike(c.a, c.areaA, c.b, c.areaB, c.ignoreAspectRatio), c.alike);
        EXPECT_EQ(PMPicturesLookAlike(c.b, c.areaB, c.a, c.areaA, c.ignoreAspectRatio), c.alike);
    }
}

TEST(DuplicateImages, LikenessGroupsAreConnectedSets)
{
    // A ~ B and C ~ D, but the pairs differ in shape: two groups, not one; E alone is none.
    const QSizeF shapes[] = {{640, 480}, {320, 240}, {640, 360}, {1280, 720}, {100, 400}};
    auto alike = [&](size_t a, size_t b) { return PMPicturesLookAlike(shapes[a], QRectF(0, 0, 1, 1), shapes[b], QRectF(0, 0, 1, 1), false); };
    EXPECT_EQ(PMSimilarSets(5, alike), (std::vector<std::vector<size_t>>{{0, 1}, {2, 3}}));
    // Likeness carries over: a ~ b ~ c makes one group although a and c are not alike.
    auto chain = [](size_t a, size_t b) { return b == a + 1; };
    EXPECT_EQ(PMSimilarSets(3, chain), (std::vector<std::vector<size_t>>{{0, 1, 2}}));
    EXPECT_TRUE(PMSimilarSets(1, chain).empty());
}

TEST_F(SearchTest, ChangesAfterASearchReachTheNextSearch)
{
    auto m = movie("Summer Trip");
    library({Value(folder("Home", {Value(m)}))});
    auto names = [&](const char* text) { return search(QString::fromUtf8(text), nullptr, false, true); };
    EXPECT_EQ(names("drama"), QStringList());
    EXPECT_EQ(names("summer"), QStringList{QStringLiteral("*Summer Trip")});

    m->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    EXPECT_EQ(names("drama"), QStringList{QStringLiteral("*Summer Trip")});
    EXPECT_EQ(names("genre"), QStringList{QStringLiteral("*Summer Trip")}); // a tag name, whole
    m->setValue(QStringLiteral("Comedy"), QStringLiteral("Genre"));
    EXPECT_EQ(names("drama"), QStringList());

    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Original Name Tag")); // the old name stays out of the tags
    m->setDisplayName(QStringLiteral("Winter Walk"));
    EXPECT_EQ(names("summer"), QStringList());
    EXPECT_EQ(names("WALK"), QStringList{QStringLiteral("*Winter Walk")});

    // The location follows the file.
    Array results;
    addMatchesForParsedQuery(results, *PMParsedQuery::parsedQuery(QStringLiteral("elsewhere")), nullptr, false, true, false, false, true, nullptr);
    EXPECT_TRUE(results.isEmpty());
    m->setURL(QUrl::fromLocalFile(QStringLiteral("/media/elsewhere/a.mov")));
    addMatchesForParsedQuery(results, *PMParsedQuery::parsedQuery(QStringLiteral("elsewhere")), nullptr, false, true, false, false, true, nullptr);
    EXPECT_EQ(results.count(), 1);
}

// The records keep folded texts for searching; every answer must be the one that testing
// the record's own texts ignoring case gives.
TEST_F(SearchTest, FoldedSearchTextsAnswerLikeTheRecordsOwnTexts)
{
    auto m = movie("Été à Straße ΣΟΦΊΑ");
    m->setValue(QStringLiteral("Drama, İstanbul"), QStringLiteral("Genre"));
    m->setValue(QStringLiteral("Ann Lee"), QStringLiteral("Cast"));
    m->userSettings()->setValue(QStringLiteral("Original URL"), QStringLiteral("https://example.org/Clip"));
    const char* terms[] = {"été", "ÉTÉ", "straße", "STRASSE", "σοφία", "ΣΟΦΊΑ", "drama", "istanbul", "i̇stanbul", "cast", "CAST", "cas",
                           "lee", "mov", "movdrama", "ée à", "trip", "/media/test", "EXAMPLE.org", "*", "**+", "x\xef\xbf\xbfy", "\xf0\x90\x90\x80"};
    for (const char* t : terms) {
        const QString term = QString::fromUtf8(t);
        for (int flags = 0; flags < 8; ++flags) {
            SCOPED_TRACE(t);
            SCOPED_TRACE(flags);
            const bool name = flags & 1, metadata = flags & 2, location = flags & 4;
            EXPECT_EQ(m->isMatchForSearchTerm(PMSearchTerm(term), name, metadata, location),
                      m->isMatchForSearchStringDirectly(term, name, metadata, location));
        }
    }
}

TEST_F(SearchTest, OnlineSearchesAskForPagesAndShowWhatTheLibraryHoldsAsItsOwnMovies)
{
    // A movie of the library that came from the web, and an online container.
    auto kept = movie("Kept Clip", 30);
    kept->userSettings()->setValue(QStringLiteral("Original URL"), QStringLiteral("https://example.org/kept"));
    library({Value(folder("Home", {Value(kept)}))});
    auto online = PMLibraryContainer::make({{QStringLiteral("Online"), QStringLiteral("YouTube")}, {QStringLiteral("Name"), QStringLiteral("Web")}});
    EXPECT_EQ(online->queryName(), QStringLiteral("YouTube Search"));

    // A new search answers an empty list at once and waits for the first pages.
    const ArrayPtr first = online->sortedChildrenForQuery(QStringLiteral("clips"), true, false);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isEmpty());
    const platform::DictionaryPtr search = online->value(QStringLiteral("Search")).dictionary();
    ASSERT_TRUE(search);
    EXPECT_TRUE(search->value(QStringLiteral("Searching")).toBool());
    EXPECT_FALSE(online->canGetMoreOnlineChildren());
    const platform::DictionaryPtr firstRequest = online->onlinePageRequest(true);
    EXPECT_EQ(firstRequest->value(QStringLiteral("Query")).string(), QStringLiteral("clips"));
    EXPECT_EQ(firstRequest->value(QStringLiteral("YouTube Start Index")).string(), QStringLiteral("1"));
    EXPECT_EQ(firstRequest->value(QStringLiteral("Vimeo Page")).string(), QStringLiteral("1"));
    EXPECT_FALSE(firstRequest->value(QStringLiteral("Search YouTube")).toBool());
    EXPECT_FALSE(firstRequest->value(QStringLiteral("Search Vimeo")).toBool());

    // Pages arrive: the next request follows what was received and what was announced.
    auto clip = [](const char* name, long long duration, const char* url) {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl(QString::fromUtf8(url)));
        m->userSettings()->setValue(QStringLiteral("Name"), QString::fromUtf8(name));
        m->setDuration(duration);
        return Value(m);
    };
    const struct {
        int first, second;
        long long firstAnnounced, secondAnnounced;
        bool searching, canGetMore;
        const char *startIndex, *page;
    } cases[] = {
        {3, 0, 3, 0, false, false, "0", "0"},
        {3, 0, 40, 0, false, true, "4", "0"},
        {3, 0, 40, 0, true, false, "4", "0"}, // a request is under way
        {0, 50, 0, 51, false, true, "0", "2"},
        {0, 49, 0, 200, false, true, "0", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " " << c.second << " " << c.firstAnnounced << " " << c.secondAnnounced);
        auto first = Array::make(), second = Array::make();
        for (int i = 0; i < c.first; ++i)
            first->append(clip("y", 10, "https://example.org/y"));
        for (int i = 0; i < c.second; ++i)
            second->append(clip("v", 10, "https://example.org/v"));
        search->setValue(QStringLiteral("YouTube Matches"), Value(first));
        search->setValue(QStringLiteral("Vimeo Matches"), Value(second));
        search->setValue(QStringLiteral("YouTube Overall Count"), c.firstAnnounced);
        search->setValue(QStringLiteral("Vimeo Overall Count"), c.secondAnnounced);
        search->setValue(QStringLiteral("Searching"), c.searching);
        EXPECT_EQ(online->canGetMoreOnlineChildren(), c.canGetMore);
        const platform::DictionaryPtr next = online->onlinePageRequest(false);
        EXPECT_EQ(next->value(QStringLiteral("YouTube Start Index")).string(), QString::fromUtf8(c.startIndex));
        EXPECT_EQ(next->value(QStringLiteral("Vimeo Page")).string(), QString::fromUtf8(c.page));
    }

    // The results received: clips without a duration are left out, and a clip the library
    // holds shows as the library's movie, or not at all while downloaded clips are hidden.
    search->setValue(QStringLiteral("YouTube Matches"),
                     Value(Array::make({clip("New", 10, "https://example.org/new"), clip("Kept", 10, "https://example.org/kept")})));
    search->setValue(QStringLiteral("Vimeo Matches"), Value(Array::make({clip("Broken", 0, "https://example.org/broken")})));
    search->setValue(QStringLiteral("Searching"), false);
    QStringList shown = describe(*online->sortedChildrenForQuery(QStringLiteral("clips"), false, false));
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"*Kept Clip", "?New"}));
    setDefault(QStringLiteral("Hide Downloaded Webclips"), true);
    EXPECT_EQ(describe(*online->sortedChildrenForQuery(QStringLiteral("clips"), false, false)), QStringList{"?New"});
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Hide Downloaded Webclips"));

    // Asking for more sets the search under way and answers nothing yet.
    EXPECT_EQ(online->sortedChildrenForQuery(QStringLiteral("clips"), false, true), nullptr);
    EXPECT_TRUE(search->value(QStringLiteral("Searching")).toBool());
    // Without results of either service the answer is an empty list.
    search->setValue(QStringLiteral("YouTube Matches"), Value(Array::make()));
    search->setValue(QStringLiteral("Vimeo Matches"), Value(Array::make()));
    const ArrayPtr none = online->sortedChildrenForQuery(QStringLiteral("clips"), false, true);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isEmpty());
}

// Searching the whole library goes through one index of the library's texts; searching a
// container tests its movies one by one. Both must find the same movies.
TEST_F(SearchTest, TheLibraryIndexFindsWhatTestingEachMovieFinds)
{
    // Letters beyond Latin-1, a character outside the basic plane (a pair of surrogates) and
    // a lone surrogate among the texts; enough movies that the texts run to many blocks.
    const char* words[] = {"Summer", "trip", "ÉTÉ", "Straße", "clip", "Holiday", "strasse", "x", "東京", "ΩΜΈΓΑ🎬", "Łódź"};
    constexpr int kWords = int(std::size(words));
    PMLibraryContainerPtr home = folder("Home");
    for (int i = 0; i < 1500; ++i) {
        QString name = QStringLiteral("%1 %2 %3").arg(QString::fromUtf8(words[i % kWords]), QString::fromUtf8(words[(i * 3) % kWords])).arg(i);
        if (i % 7 == 0)
            name += QChar(0xD800);
        auto m = movie(name);
        if (i % 3 == 0)
            m->setValue(QString::fromUtf8(words[(i * 5) % kWords]) + QStringLiteral(", Drama"), QStringLiteral("Genre"));
        if (i % 4 == 0)
            m->setValue(QStringLiteral("Ann"), QString::fromUtf8(words[i % kWords])); // a tag named like a word
        home->rawChildren()->append(Value(m));
    }
    PMLibraryContainerPtr section = library({Value(home)});
    const char* queries[] = {"summer",  "été -clip", "STRASSE||straße", "trip holiday", "drama -x",   "genre", "clip||holiday -drama", "ann",
                             "東京 -ω", "ωμέγα",     "έγα||łódź",       "京 x",         "ŁÓDŹ -12||3"};
    // Every scan the processor may choose answers alike: 32 and 16 places at a time, one by one.
    for (int width : {32, 16, 1}) {
        for (const char* text : queries) {
            PMLimitSearchScanWidth(width);
            for (int flags = 1; flags < 4; ++flags) {
                SCOPED_TRACE(testing::Message() << text << " " << flags << " width " << width);
                const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QString::fromUtf8(text));
                ASSERT_TRUE(query);
                Array whole, inSection;
                addMatchesForParsedQuery(whole, *query, nullptr, false, true, flags & 1, flags & 2, false, nullptr);
                addMatchesForParsedQuery(inSection, *query, section.get(), false, true, flags & 1, flags & 2, false, nullptr);
                QStringList a = describe(whole), b = describe(inSection);
                a.sort();
                b.sort();
                EXPECT_EQ(a, b);
            }
        }
    }
    PMLimitSearchScanWidth(32);
    // A tag changed after a search reaches the index.
    auto m = PMMovie(home->rawChildren()->at(1));
    Array before, after;
    addMatchesForParsedQuery(before, *PMParsedQuery::parsedQuery(QStringLiteral("western")), nullptr, false, true, true, true, false, nullptr);
    m->setValue(QStringLiteral("Western"), QStringLiteral("Genre"));
    addMatchesForParsedQuery(after, *PMParsedQuery::parsedQuery(QStringLiteral("western")), nullptr, false, true, true, true, false, nullptr);
    EXPECT_EQ(before.count(), 0);
    EXPECT_EQ(after.count(), 1);

    // After a rebuild of the library without that movie, and with another one changed,
    // the index follows both.
    home->rawChildren()->removeAt(1);
    PMMovie(home->rawChildren()->at(5))->setValue(QStringLiteral("Western"), QStringLiteral("Genre"));
    mainController().invalidateLibraryDependencies();
    Array rebuilt;
    addMatchesForParsedQuery(rebuilt, *PMParsedQuery::parsedQuery(QStringLiteral("western")), nullptr, false, true, true, true, false, nullptr);
    EXPECT_EQ(describe(rebuilt), QStringList{QStringLiteral("*") + PMMovie(home->rawChildren()->at(5))->displayName()});
    // The texts the rebuilt index took over from the one before still answer like the movies.
    for (const char* text : {"genre", "ann", "straße", "東京 -drama"}) {
        SCOPED_TRACE(text);
        const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QString::fromUtf8(text));
        Array whole, inSection;
        addMatchesForParsedQuery(whole, *query, nullptr, false, true, true, true, false, nullptr);
        addMatchesForParsedQuery(inSection, *query, section.get(), false, true, true, true, false, nullptr);
        QStringList a = describe(whole), b = describe(inSection);
        a.sort();
        b.sort();
        EXPECT_EQ(a, b);
        EXPECT_FALSE(a.isEmpty());
    }
}

TEST_F(SearchTest, ALargeContainersResultsKeepItsOrderWithItsSubgroupsInPlace)
{
    // Enough movies that they are matched and their results made on every core; subgroups
    // among them are tested in place, so the results come in the container's order.
    PMLibraryContainerPtr big = folder("Big");
    QStringList expected;
    for (int i = 0; i < 9000; ++i) {
        if (i % 1500 == 700) {
            const QString name = QStringLiteral("%1 folder %2").arg(i % 3000 == 700 ? QStringLiteral("Summer") : QStringLiteral("Autumn")).arg(i);
            big->rawChildren()->append(Value(folder(name.toUtf8().constData(), {Value(movie(QStringLiteral("inside %1").arg(i)))})));
            if (name.startsWith(QLatin1String("Summer")))
                expected << QStringLiteral("+") + name;
        }
        const QString name = QStringLiteral("Clip %1 %2").arg(i).arg(i % 3 ? QStringLiteral("summer") : QStringLiteral("winter"));
        big->rawChildren()->append(Value(movie(name)));
        if (i % 3)
            expected << QStringLiteral("*") + name;
    }
    library({Value(big)});
    const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QStringLiteral("summer"));
    ASSERT_TRUE(query);
    Array inBig, whole;
    addMatchesForParsedQuery(inBig, *query, big.get(), true, true, true, true, false, nullptr);
    EXPECT_EQ(describe(inBig), expected);
    // The whole library, through its index: the same movies.
    addMatchesForParsedQuery(whole, *query, nullptr, false, true, true, true, false, nullptr);
    QStringList movies = describe(whole), expectedMovies;
    for (const QString& name : expected)
        if (name.startsWith(QLatin1Char('*')))
            expectedMovies << name;
    movies.sort();
    expectedMovies.sort();
    EXPECT_EQ(movies, expectedMovies);
}

// Searches from several threads at once make the records' texts and the library's index
// on whichever thread comes first; all find the same.
TEST_F(SearchTest, ConcurrentSearchesAgree)
{
    PMLibraryContainerPtr home = folder("Home");
    for (int i = 0; i < 200; ++i) {
        auto m = movie(QStringLiteral("Clip %1 %2").arg(i).arg(i % 3 ? QStringLiteral("summer") : QStringLiteral("winter")));
        m->setValue(i % 2 ? QStringLiteral("Drama") : QStringLiteral("Comedy"), QStringLiteral("Genre"));
        home->rawChildren()->append(Value(m));
    }
    library({Value(home)});
    const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QStringLiteral("summer||winter drama"));
    std::vector<qsizetype> found(8, -1);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < found.size(); ++t)
        threads.emplace_back([&, t] {
            // Half search the whole library (the index), half test the records one by one.
            if (t % 2) {
                found[t] = 0;
                for (const Value& v : *home->rawChildren())
                    if (PMMovie(v)->isMatchForSearchString(QStringLiteral("drama"), true, true, false))
                        ++found[t];
                return;
            }
            Array results;
            addMatchesForParsedQuery(results, *query, nullptr, false, true, true, true, false, nullptr);
            found[t] = results.count();
        });
    for (std::thread& thread : threads)
        thread.join();
    for (qsizetype count : found)
        EXPECT_EQ(count, 100);
}

// The texts and the index made on a worker after launch serve the searches of the main
// thread; a record renamed while they are made is searched by its new name, never by a
// text made from the old one.
TEST_F(SearchTest, TheSearchPreparedInTheBackgroundFollowsRenamesMadeMeanwhile)
{
    PMLibraryContainerPtr home = folder("Home");
    std::vector<PMMovieRepresentationOriginalPtr> clips;
    for (int i = 0; i < 3000; ++i) {
        clips.push_back(movie(QStringLiteral("Clip %1 summer").arg(i)));
        home->rawChildren()->append(Value(clips.back()));
    }
    library({Value(home)});
    QFuture<void> prepared = PMPrepareSearchIndexInBackground();
    ASSERT_TRUE(prepared.isValid());
    // Renamed while the worker runs (the first, last and every hundredth clip).
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Original Name Tag"));
    for (size_t i = 0; i < clips.size(); i += 100)
        clips[i]->setDisplayName(QStringLiteral("Renamed %1 winter").arg(i));
    clips.back()->setDisplayName(QStringLiteral("Renamed last winter"));
    prepared.waitForFinished();
    auto count = [](const char* text) {
        Array results;
        addMatchesForParsedQuery(results, *PMParsedQuery::parsedQuery(QString::fromUtf8(text)), nullptr, false, true, true, true, false, nullptr);
        return results.count();
    };
    EXPECT_EQ(count("winter"), 31);
    EXPECT_EQ(count("summer"), 3000 - 31);
    EXPECT_EQ(count("renamed last"), 1);
}

// Texts dropped once the search was prepared (files found at new places, names changed)
// are made again ahead of the next keystroke when the library is updated; with nothing
// dropped nothing is started, and the searches answer by the new names and places.
TEST_F(SearchTest, TextsDroppedAfterThePreparationAreMadeAgainAhead)
{
    PMLibraryContainerPtr home = folder("Home");
    std::vector<PMMovieRepresentationOriginalPtr> clips;
    for (int i = 0; i < 500; ++i) {
        clips.push_back(movie(QStringLiteral("Clip %1 summer").arg(i)));
        home->rawChildren()->append(Value(clips.back()));
    }
    library({Value(home)});
    QFuture<void> first = PMPrepareSearchIndexInBackground();
    ASSERT_TRUE(first.isValid());
    first.waitForFinished();
    EXPECT_FALSE(PMPrepareSearchIndexAgainIfStale().isValid()) << "nothing was dropped";

    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Original Name Tag"));
    for (size_t i = 0; i < clips.size(); i += 50) {
        clips[i]->setURL(QUrl::fromLocalFile(QStringLiteral("/found/elsewhere/clip %1.mov").arg(i)));
        clips[i]->setDisplayName(QStringLiteral("Found %1 winter").arg(i));
    }
    QFuture<void> again = PMPrepareSearchIndexAgainIfStale();
    ASSERT_TRUE(again.isValid());
    again.waitForFinished();
    EXPECT_FALSE(PMPrepareSearchIndexAgainIfStale().isValid()) << "made again once";

    auto count = [](const QString& text, bool location) {
        Array results;
        addMatchesForParsedQuery(results, *PMParsedQuery::parsedQuery(text), nullptr, false, true, true, true, location, nullptr);
        return results.count();
    };
    EXPECT_EQ(count(QStringLiteral("winter"), false), 10);
    EXPECT_EQ(count(QStringLiteral("summer"), false), 490);
    EXPECT_EQ(count(QStringLiteral("found/elsewhere"), true), 10);
}

// An image-hash duplicate search from the stored hashes to the sorted groups: equal
// hashes group only pictures that look alike (same aspect ratio unless told to ignore
// it), each result carries its group and its hash, and the results come by hash.
TEST_F(SearchTest, ImageHashDuplicatesGroupLookalikesWithEqualHashes)
{
    auto withHash = [](const char* name, const char* hash, const char* assetSize) {
        auto m = movie(name, 60);
        if (hash)
            m->userSettings()->setValue(QStringLiteral("Movie Hash"), Value(platform::Dictionary::make({{QStringLiteral("Image Hash 7"), QString::fromUtf8(hash)}})));
        m->userSettings()->setValue(QStringLiteral("Asset Size"), QString::fromUtf8(assetSize));
        return m;
    };
    auto wide1 = withHash("Wide 1", "BBBB", "{1920, 1080}");
    auto wide2 = withHash("Wide 2", "BBBB", "{1280, 720}");
    auto square = withHash("Square", "BBBB", "{500, 500}"); // the same hash, another shape
    auto other1 = withHash("Other 1", "AAAA", "{640, 480}");
    auto other2 = withHash("Other 2", "AAAA", "{320, 240}");
    auto alone = withHash("Alone", "CCCC", "{640, 480}");
    auto none = withHash("None", nullptr, "{640, 480}"); // no hash: never a duplicate
    library({Value(wide1), Value(wide2), Value(square), Value(other1), Value(other2), Value(alone), Value(none)});

    QString criterion;
    EXPECT_EQ(search(QStringLiteral("?=dhash"), nullptr, false, true, &criterion), (QStringList{"*Other 1", "*Other 2", "*Wide 1", "*Wide 2"}));
    EXPECT_EQ(criterion, QStringLiteral("GroupListImageHash: dHash7"));
    const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(QStringLiteral("?=dhash"));
    Array results;
    addMatchesForParsedQuery(results, *query, nullptr, false, true, true, true, false, nullptr);
    EXPECT_EQ(describe(results), (QStringList{"*Other 1", "*Other 2", "*Wide 1", "*Wide 2"}));
    for (const Value& v : results) {
        auto* result = dynamic_cast<PMMovieRepresentationSearchResultProxy*>(PMMovie(v));
        ASSERT_TRUE(result && result->duplicateIDs());
        EXPECT_EQ(result->duplicateIDs()->count(), 2);
        EXPECT_EQ(result->duplicateImageHash(), result->displayName().startsWith(QLatin1String("Wide")) ? QStringLiteral("BBBB") : QStringLiteral("AAAA"));
    }
    // Other resolutions read other stored hashes: none here.
    EXPECT_EQ(search(QStringLiteral("?=dhash12"), nullptr, false, true), QStringList{});
    setDefault("Duplicate Search: Image Hash: Ignore Aspect Ratio", true);
    // Within a hash the shapes order by aspect ratio.
    EXPECT_EQ(search(QStringLiteral("?=dhash"), nullptr, false, true), (QStringList{"*Other 1", "*Other 2", "*Square", "*Wide 1", "*Wide 2"}));
}
