// Smart groups through the real update: the criteria and their actions, pseudo-tags and
// the path criterion, calendar steps and the expiry, the subdivision by every kind and by
// tag levels (limits, thresholds, others, alternates), the fast track, and the shaping of
// the tree (bypass, fan-out, raised others, manual order, cleaned subgroup settings).
#include "library/model/ModelFixture.h"
#include "common/TestSupport.h"

#include "library/maintenance/PMSmartGroups.h"
#include "library/model/PMCachedSettings.h"
#include "platform/PropertyList.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QScopeGuard>
#include <QtCore/QSemaphore>
#include <QtCore/QThread>
#include <QtCore/QThreadPool>
#include <QtTest/QTest>

#include <atomic>
#include <limits>

using platform::Array;
using platform::ArrayPtr;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

DictionaryPtr dict(std::initializer_list<std::pair<QString, Value>> entries)
{
    return Dictionary::make(entries);
}

DictionaryPtr tagCriterion(const QString& tag, long long action, const QString& value)
{
    return dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Tag"), tag}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value}});
}

class SmartGroupsTest : public ModelTest {
protected:
    void TearDown() override
    {
        for (const char* key : {"Subdivide By Tag: Emulate Other Subdivision Types", "Smart Playlist Name Criterion: Path Indicator Prefix",
                                "Subdivide By Tag: Fast Track", "Subdivide By Boolean Tag: Subdivide By Values", "Enable Fan-Out Fine Tuning",
                                "Subgroup Settings: Cleaning Zeal", "Subdivide By Boolean Tag: Use Alternates",
                                "Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names", "Subdivide By Boolean Tag: Include Notes"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
        ModelTest::TearDown();
    }

    // A smart group in the smart-group storage with the criteria.
    PMLibraryContainerPtr group(const QString& name, const DictionaryPtr& criteria)
    {
        auto g = PMLibraryContainer::make({{QStringLiteral("Name"), name}, {QStringLiteral("Smart"), true}});
        if (criteria)
            g->setValue(QStringLiteral("Criteria"), Value(criteria));
        mainController().smartGroupStorage()->rawChildren()->append(Value(g));
        return g;
    }
    // Updates and waits for the smart groups.
    void update()
    {
        mainController().invalidateLibraryDependencies();
        mainController().finishSmartGroupPopulation();
    }
    // The tree below a container as text: "Bucket(child, child)", movies by name, each
    // level sorted so that the text does not depend on the order of buckets.
    static QString tree(PMLibraryContainer& c)
    {
        QStringList parts;
        for (const Value& v : *c.rawChildren()) {
            if (PMLibraryContainer* sub = PMContainer(v))
                parts << sub->value(QStringLiteral("Name")).string() + u'(' + tree(*sub) + u')';
            else if (PMLibraryItem* item = PMItem(v))
                parts << item->displayName();
        }
        std::sort(parts.begin(), parts.end());
        return parts.join(QStringLiteral(", "));
    }
    // The member names of a populated (not subdivided) group, sorted.
    QStringList members(const DictionaryPtr& criteria)
    {
        PMMainController& c = mainController();
        auto g = PMLibraryContainer::make({{QStringLiteral("Smart"), true}, {QStringLiteral("Criteria"), Value(criteria)}});
        c.populateSmartGroup(g, Date::now().secondsSince1970);
        QStringList result = names(g->rawChildren());
        result.sort();
        return result;
    }
};

TEST_F(SmartGroupsTest, TagNameRatingAndTimeCriteriaFollowTheActionTable)
{
    auto a = movie(QStringLiteral("Alpha"), 30, 1);
    auto b = movie(QStringLiteral("Beta"), 600, 4);
    auto g = movie(QStringLiteral("Gamma"), 7200, 0);
    a->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    b->setValue(QStringLiteral("Drama, Comedy"), QStringLiteral("Genre"));
    a->setValue(QStringLiteral("12"), QStringLiteral("Season"));
    b->setValue(QStringLiteral("3"), QStringLiteral("Season"));
    library({Value(a), Value(b), Value(g)});

    struct Case {
        const char* what;
        DictionaryPtr criteria;
        QStringList expected;
    };
    const auto tags = [](std::initializer_list<Value> entries, bool any = false) {
        auto d = dict({{QStringLiteral("Tags"), Value(Array::make(entries))}});
        if (any)
            d->setValue(QStringLiteral("Match Any"), true);
        return d;
    };
    const auto fixed = [](const char* key, DictionaryPtr entry) {
        entry->setValue(QStringLiteral("Enabled"), true);
        return dict({{QString::fromLatin1(key), Value(entry)}});
    };
    DictionaryPtr disabled = Dictionary::make();
    disabled->setValue(QStringLiteral("Tag"), QStringLiteral("Genre"));
    disabled->setValue(QStringLiteral("Value"), QStringLiteral("x"));
    DictionaryPtr disabledOnly = Dictionary::make();
    disabledOnly->setValue(QStringLiteral("Tags"), Value(Array::make({Value(disabled)})));
    const Case cases[] = {
        {"no criteria: everything", dict({}), {"Alpha", "Beta", "Gamma"}},
        {"equals is case-blind on the whole value", tags({Value(tagCriterion("genre", 0, "DRAMA"))}), {"Alpha"}},
        {"differs", tags({Value(tagCriterion("Genre", 1, "drama"))}), {"Beta", "Gamma"}},
        {"begins with", tags({Value(tagCriterion("Genre", 2, "dra"))}), {"Alpha", "Beta"}},
        {"does not begin with", tags({Value(tagCriterion("Genre", 3, "dra"))}), {"Gamma"}},
        {"ends with", tags({Value(tagCriterion("Genre", 4, "comedy"))}), {"Beta"}},
        {"does not end with", tags({Value(tagCriterion("Genre", 5, "comedy"))}), {"Alpha", "Gamma"}},
        {"contains", tags({Value(tagCriterion("Genre", 6, "MED"))}), {"Beta"}},
        {"does not contain", tags({Value(tagCriterion("Genre", 7, "med"))}), {"Alpha", "Gamma"}},
        {"less than, as numbers", tags({Value(tagCriterion("Season", 8, "10"))}), {"Beta", "Gamma"}},
        {"greater than, as numbers", tags({Value(tagCriterion("Season", 9, "10 episodes"))}), {"Alpha"}},
        // An empty value: every action from 2 on fails in all-mode...
        {"all-mode, begins with nothing", tags({Value(tagCriterion("Genre", 2, ""))}), {}},
        {"all-mode, does not begin with nothing", tags({Value(tagCriterion("Genre", 3, ""))}), {}},
        // ...while in any-mode it is a prefix of nothing: 2 fails, 3 passes for all.
        {"any-mode, begins with nothing", tags({Value(tagCriterion("Genre", 2, "")), Value(tagCriterion("Genre", 6, "zzz"))}, true), {}},
        {"any-mode, does not begin with nothing",
         tags({Value(tagCriterion("Genre", 3, "")), Value(tagCriterion("Genre", 6, "zzz"))}, true),
         {"Alpha", "Beta", "Gamma"}},
        {"equals nothing: movies without the tag", tags({Value(tagCriterion("Genre", 0, ""))}), {"Gamma"}},
        {"one criterion is all-mode even with Match Any", tags({Value(tagCriterion("Genre", 0, "drama"))}, true), {"Alpha"}},
        {"disabled criteria count for nothing", disabledOnly, {"Alpha", "Beta", "Gamma"}},
        {"name contains", fixed("Name", dict({{QStringLiteral("Action"), 6}, {QStringLiteral("Value"), "ETA"}})), {"Beta"}},
        {"rating lower than 1: unrated", fixed("Rating", dict({{QStringLiteral("Action"), 2}, {QStringLiteral("Value"), 1}})), {"Gamma"}},
        {"rating higher than 3", fixed("Rating", dict({{QStringLiteral("Action"), 3}, {QStringLiteral("Value"), 3}})), {"Beta"}},
        {"rating differs", fixed("Rating", dict({{QStringLiteral("Action"), 1}, {QStringLiteral("Value"), 4}})), {"Alpha", "Gamma"}},
        {"rating with an action of no meaning", fixed("Rating", dict({{QStringLiteral("Action"), 5}, {QStringLiteral("Value"), 4}})), {}},
        {"at most 10 minutes", fixed("Time", dict({{QStringLiteral("Action"), 4}, {QStringLiteral("Value"), 10}, {QStringLiteral("Unit"), 1}})),
         {"Alpha", "Beta"}},
        {"longer than 1 hour", fixed("Time", dict({{QStringLiteral("Action"), 5}, {QStringLiteral("Value"), 1}, {QStringLiteral("Unit"), 2}})),
         {"Gamma"}},
        {"another unit counts seconds", fixed("Time", dict({{QStringLiteral("Action"), 4}, {QStringLiteral("Value"), 30}, {QStringLiteral("Unit"), 7}})),
         {"Alpha"}},
        // Stored values of any size: the limit saturates, it never wraps round.
        {"at most the largest number of hours",
         fixed("Time", dict({{QStringLiteral("Action"), 4}, {QStringLiteral("Value"), std::numeric_limits<long long>::max()}, {QStringLiteral("Unit"), 2}})),
         {"Alpha", "Beta", "Gamma"}},
        {"longer than the largest number of minutes",
         fixed("Time", dict({{QStringLiteral("Action"), 5}, {QStringLiteral("Value"), std::numeric_limits<long long>::max()}, {QStringLiteral("Unit"), 1}})),
         {}},
        {"longer than the smallest number of hours",
         fixed("Time", dict({{QStringLiteral("Action"), 5}, {QStringLiteral("Value"), std::numeric_limits<long long>::min()}, {QStringLiteral("Unit"), 2}})),
         {"Alpha", "Beta", "Gamma"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_EQ(members(test.criteria), test.expected);
    }
}

TEST_F(SmartGroupsTest, PseudoTagsAndThePathPrefixOfTheNameCriterion)
{
    auto a = movie(QStringLiteral("Alpha"), 90, 3);
    auto b = movie(QStringLiteral("Beta"), 20, 0);
    b->setValue(QStringLiteral("7"), QStringLiteral("Rating")); // a real tag wins over the pseudo-tag
    library({Value(a), Value(b)});
    const auto byTag = [](const char* tag, long long action, const char* value) {
        return dict({{QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion(QString::fromLatin1(tag), action, QString::fromLatin1(value)))}))}});
    };
    EXPECT_EQ(members(byTag("rating", 0, "3")), QStringList{});
    setDefault(QStringLiteral("Subdivide By Tag: Emulate Other Subdivision Types"), true);
    EXPECT_EQ(members(byTag("rating", 0, "3")), QStringList{"Alpha"});
    EXPECT_EQ(members(byTag("rating", 0, "7")), QStringList{"Beta"});
    EXPECT_EQ(members(byTag("time", 9, "60")), QStringList{"Alpha"});
    EXPECT_EQ(members(byTag("name", 2, "be")), QStringList{"Beta"});
    EXPECT_EQ(members(byTag("counter", 0, "0")), (QStringList{"Alpha", "Beta"}));

    // A name value beginning with the prefix is looked for in the path, without it.
    const auto name = [](const char* value) {
        return dict({{QStringLiteral("Name"), Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), 6}, {QStringLiteral("Value"), value}}))}});
    };
    EXPECT_EQ(members(name("/media/test")), QStringList{});
    setDefault(QStringLiteral("Smart Playlist Name Criterion: Path Indicator Prefix"), QStringLiteral("/"));
    EXPECT_EQ(members(name("/media/test/movies/b")), QStringList{"Beta"});
    EXPECT_EQ(members(name("alpha")), QStringList{"Alpha"});
}

TEST_F(SmartGroupsTest, RelativeDatesStepByCalendarUnitsAndTellWhenTheyChange)
{
    // One month back from 31 March is the last day of February.
    const double march31 = QDateTime(QDate(2023, 3, 31), QTime(12, 0)).toSecsSinceEpoch();
    const auto day = [](double seconds) { return QDateTime::fromSecsSinceEpoch(qint64(seconds)).date(); };
    EXPECT_EQ(day(PMSmartGroupMatcher::referenceDate(march31, 1, 1)), QDate(2023, 2, 28));
    EXPECT_EQ(day(PMSmartGroupMatcher::referenceDate(march31, 2, 3)), QDate(2023, 3, 17));
    EXPECT_EQ(day(PMSmartGroupMatcher::referenceDate(march31, 1, 2)), QDate(2022, 3, 31));
    EXPECT_EQ(day(PMSmartGroupMatcher::referenceDate(march31, 3, 0)), QDate(2023, 3, 28));

    // Within the last 2 weeks: a movie added 13 days ago is in, for about a day more.
    PMMainController& c = mainController();
    const double now = Date::now().secondsSince1970;
    const double twoWeeksAgo = PMSmartGroupMatcher::referenceDate(now, 2, 3);
    auto recent = movie(QStringLiteral("Recent"));
    auto old = movie(QStringLiteral("Old"));
    auto played = movie(QStringLiteral("Played"));
    recent->setAdditionDate(Date{twoWeeksAgo + 86400});
    old->setAdditionDate(Date{twoWeeksAgo - 86400});
    played->setAdditionDate(Date{twoWeeksAgo - 3 * 86400});
    played->setLastPlaybackDate(Date{now - 3600});
    library({Value(recent), Value(old), Value(played)});
    const auto relative = [](const char* key, long long action, long long value, long long unit) {
        return dict({{QString::fromLatin1(key), Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), action},
                                                            {QStringLiteral("Value"), value}, {QStringLiteral("Unit"), unit}}))}});
    };
    auto within = PMLibraryContainer::make({{QStringLiteral("Smart"), true}, {QStringLiteral("Criteria"), Value(relative("Relative Date", 4, 2, 3))}});
    EXPECT_NEAR(c.populateSmartGroup(within, now), 86400, 1);
    EXPECT_EQ(names(within->rawChildren()), QStringList{"Recent"});
    EXPECT_FALSE(within->contains(QStringLiteral("Did Populate Based On Playback")));

    // Not within: the movies still inside the window enter when they age past it, so the
    // group changes then too.
    auto notWithin = PMLibraryContainer::make({{QStringLiteral("Smart"), true}, {QStringLiteral("Criteria"), Value(relative("Relative Date", 5, 2, 3))}});
    EXPECT_NEAR(c.populateSmartGroup(notWithin, now), 86400, 1);
    QStringList outside = names(notWithin->rawChildren());
    outside.sort();
    EXPECT_EQ(outside, (QStringList{"Old", "Played"}));

    // Never played counts as earlier than any window; the group depends on playback.
    auto neverPlayed =
        PMLibraryContainer::make({{QStringLiteral("Smart"), true}, {QStringLiteral("Criteria"), Value(relative("Relative Playback Date", 5, 1, 0))}});
    EXPECT_NEAR(c.populateSmartGroup(neverPlayed, now), 82800, 2);
    QStringList never = names(neverPlayed->rawChildren());
    never.sort();
    EXPECT_EQ(never, (QStringList{"Old", "Recent"}));
    EXPECT_TRUE(neverPlayed->value(QStringLiteral("Did Populate Based On Playback")).toBool());

    // An empty library: nothing, never, and no playback flag.
    c.resetForTesting();
    library({});
    neverPlayed->setValue(QStringLiteral("Did Populate Based On Playback"), true);
    EXPECT_EQ(c.populateSmartGroup(neverPlayed, now), -1);
    EXPECT_FALSE(neverPlayed->contains(QStringLiteral("Did Populate Based On Playback")));
}

TEST_F(SmartGroupsTest, TheResultDoesNotDependOnWhichThreadFinishesFirst)
{
    // Enough movies for many chunks: members keep the library's order every time.
    std::vector<Value> all;
    for (int i = 0; i < 5000; ++i) {
        auto m = movie(QStringLiteral("M%1").arg(i, 5, 10, QLatin1Char('0')));
        m->setValue(i % 3 == 0 ? QStringLiteral("yes") : QStringLiteral("no"), QStringLiteral("Pick"));
        all.push_back(Value(m));
    }
    auto movies = Array::make();
    movies->values() = all;
    const auto criteria = dict({{QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion("Pick", 0, "yes"))}))}});
    const PMSmartGroupSettings settings;
    const PMSmartGroupPopulation first = PMPopulateSmartGroupMovies(criteria, movies, Date::now().secondsSince1970, settings);
    ASSERT_EQ(first.children->count(), 1667);
    for (int run = 0; run < 5; ++run) {
        const PMSmartGroupPopulation again = PMPopulateSmartGroupMovies(criteria, movies, Date::now().secondsSince1970, settings);
        ASSERT_EQ(again.children->values(), first.children->values());
    }
    for (qsizetype i = 1; i < first.children->count(); ++i)
        ASSERT_LT(PMItem(first.children->at(i - 1))->displayName(), PMItem(first.children->at(i))->displayName());
}

TEST_F(SmartGroupsTest, BuiltInKindsMakeTheirBucketsAndOthers)
{
    const bool fuzzy = PMCachedSettings::determineFuzzyOldestDate;
    PMCachedSettings::determineFuzzyOldestDate = false;
    const double now = Date::now().secondsSince1970;
    const double dayStart = QDateTime(QDate(2024, 5, 6), QTime(9, 0)).toSecsSinceEpoch();
    auto a = movie(QStringLiteral("apple"), 65, 5);
    auto b = movie(QStringLiteral("avocado"), 65, 0);
    auto c2 = movie(QStringLiteral("cherry"), 3700, 5);
    a->setAdditionDate(Date{dayStart});
    b->setAdditionDate(Date{dayStart + 3600}); // the same day, another hour
    c2->setAdditionDate(Date{dayStart + 86400});
    c2->setLastPlaybackDate(Date{now - 60});
    library({Value(a), Value(b), Value(c2)});

    const QString day1 = QLocale().toString(QDate(2024, 5, 6), QStringLiteral("MMMM d, yyyy"));
    const QString day2 = QLocale().toString(QDate(2024, 5, 7), QStringLiteral("MMMM d, yyyy"));
    const QString played = QLocale().toString(QDateTime::fromSecsSinceEpoch(qint64(now - 60)).date(), QStringLiteral("MMMM d, yyyy"));
    struct Case {
        const char* flag;
        long long others;
        QStringList expected;
    };
    const Case cases[] = {
        {"Subdivide By Rating", 0, {QStringLiteral("No Rating(avocado)"), QStringLiteral("\u2605\u2605\u2605\u2605\u2605(apple, cherry)")}},
        {"Subdivide By Rating", 2, {QStringLiteral("\u2605\u2605\u2605\u2605\u2605(apple, cherry)")}},
        {"Subdivide By First Letter", 0, {QStringLiteral("a(apple, avocado)"), QStringLiteral("c(cherry)")}},
        {"Subdivide By Date Added", 0, {day1 + QStringLiteral("(apple, avocado)"), day2 + QStringLiteral("(cherry)")}},
        {"Subdivide By Last Playback Date", 0, {QStringLiteral("Never(apple, avocado)"), played + QStringLiteral("(cherry)")}},
    };
    PMLibraryContainerPtr g = group(QStringLiteral("G"), dict({}));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.flag);
        g->setValue(QStringLiteral("Criteria"), Value(dict({{QString::fromLatin1(test.flag), true}, {QStringLiteral("Subdivider Others Behavior"), test.others},
                                                            {QStringLiteral("Subdivider Bypass Level"), 1}})));
        update();
        QStringList expected = test.expected;
        expected.sort();
        EXPECT_EQ(tree(*g), expected.join(QStringLiteral(", ")));
    }
    // Buckets are named "<group ID>::<key>": a date bucket by its day.
    g->setValue(QStringLiteral("Criteria"), Value(dict({{QStringLiteral("Subdivide By Date Added"), true}, {QStringLiteral("Subdivider Bypass Level"), 1}})));
    update();
    QStringList ids;
    for (const Value& v : *g->rawChildren())
        ids << PMItem(v)->uniqueLibraryID();
    ids.sort();
    EXPECT_EQ(ids, (QStringList{g->uniqueLibraryID() + QStringLiteral("::2024-05-06"), g->uniqueLibraryID() + QStringLiteral("::2024-05-07")}));
    // The update knows them by those IDs.
    EXPECT_TRUE(mainController()._containersByID.contains(ids.first()));
    EXPECT_TRUE(mainController()._containersByID.contains(ids.last()));
    PMCachedSettings::determineFuzzyOldestDate = fuzzy;
}

TEST_F(SmartGroupsTest, TagLevelsWithLimitsThresholdsAndOthers)
{
    std::vector<Value> all;
    // Seven values of "Year", with 1 to 7 movies each... and one movie without a year.
    int n = 0;
    for (int year = 0; year < 7; ++year)
        for (int i = 0; i <= year % 3; ++i) {
            auto m = movie(QStringLiteral("Y%1-%2").arg(year).arg(i));
            m->setValue(QString::number(1990 + year), QStringLiteral("Year"));
            m->setValue(i == 0 ? QStringLiteral("Drama") : QStringLiteral("Comedy"), QStringLiteral("Genre"));
            all.push_back(Value(m));
            ++n;
        }
    auto none = movie(QStringLiteral("Untagged"));
    all.push_back(Value(none));
    PMLibraryContainerPtr section = library({});
    for (const Value& v : all)
        section->rawChildren()->append(v);

    PMLibraryContainerPtr g = group(QStringLiteral("G"), nullptr);
    const auto criteria = [&](const QString& levels, long long others, long long threshold) {
        g->setValue(QStringLiteral("Criteria"), Value(dict({{QStringLiteral("Subdivider Tag"), levels}, {QStringLiteral("Subdivider Others Behavior"), others},
                                                            {QStringLiteral("Subdivider Threshold"), threshold}, {QStringLiteral("Subdivider Bypass Level"), 1}})));
        update();
    };
    const auto bucketNames = [&] {
        QStringList result;
        for (const Value& v : *g->rawChildren())
            if (PMLibraryContainer* b = PMContainer(v))
                result << b->value(QStringLiteral("Name")).string() + QStringLiteral(":%1").arg(b->allNonProxyMovieChildren()->count());
        return result;
    };

    // A limit of 3 merges 7 value buckets 3, 2 and 2, named by the range; others last.
    criteria(QStringLiteral("Year <= 3"), 0, 0);
    const QString dash = QStringLiteral("\u2006\u2013\u2006");
    EXPECT_EQ(bucketNames(), (QStringList{QStringLiteral("1990") + dash + QStringLiteral("1992:6"), QStringLiteral("1993, 1994:3"),
                                          QStringLiteral("1995, 1996:4"), QStringLiteral("Other:1")}));

    // Threshold 2: buckets of 1 and 2 movies go to the others bucket.
    criteria(QStringLiteral("Year"), 0, 2);
    QStringList names = bucketNames();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("1992:3"), QStringLiteral("1995:3"), QStringLiteral("Other:8")}));
    // With others behaviour 2, those and the untagged movie are left out.
    criteria(QStringLiteral("Year"), 2, 2);
    names = bucketNames();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("1992:3"), QStringLiteral("1995:3")}));

    // Two levels: IDs are the group's, then each value, joined by "::".
    criteria(QStringLiteral("Genre, Year"), 2, 0);
    PMLibraryContainer* drama = nullptr;
    for (const Value& v : *g->rawChildren())
        if (PMLibraryContainer* b = PMContainer(v); b && b->value(QStringLiteral("Name")).string() == QLatin1String("Drama"))
            drama = b;
    ASSERT_TRUE(drama);
    EXPECT_EQ(drama->uniqueLibraryID(), g->uniqueLibraryID() + QStringLiteral("::drama"));
    EXPECT_EQ(PMItem(drama->rawChildren()->at(0))->uniqueLibraryID(), g->uniqueLibraryID() + QStringLiteral("::drama::1990"));
    const DictionaryPtr branch = PMContainer(drama->rawChildren()->at(0))->value(QStringLiteral("Subdivision Branch")).dictionary();
    ASSERT_TRUE(branch);
    EXPECT_TRUE(branch->contains(QStringLiteral("genre")) && branch->contains(QStringLiteral("year")));
}

TEST_F(SmartGroupsTest, BooleanLevelsAndAlternates)
{
    auto a = movie(QStringLiteral("A"));
    auto b = movie(QStringLiteral("B"));
    auto c2 = movie(QStringLiteral("C"));
    a->setValue(QStringLiteral("Ann"), QStringLiteral("Cast"));
    a->setValue(QStringLiteral("Paris"), QStringLiteral("Place"));
    b->setValue(QStringLiteral("Bob"), QStringLiteral("Cast"));
    library({Value(a), Value(b), Value(c2)});
    setDefault(QStringLiteral("Subdivide By Boolean Tag: Subdivide By Values"), false);
    PMLibraryContainerPtr g = group(QStringLiteral("G"), nullptr);
    struct Case {
        const char* levels;
        QString expected;
    };
    const Case cases[] = {
        {"?", QStringLiteral("Cast(A, B), Other(C), Place(A)")},
        {"Cast + Place", QStringLiteral("Cast(A, B), Other(C), Place(A)")},
        {"Cast", QStringLiteral("Ann(A), Bob(B), Other(C)")},
        {"+Cast + Place", QStringLiteral("Cast: Ann(A), Cast: Bob(B), Other(C), Place: Paris(A)")},
        {"+Cast + >Place", QStringLiteral("Ann(A), Bob(B), Other(C), Place(Paris(A))")},
        {"<Cast + Place", QStringLiteral("Other(C), Place(A)")},
    };
    setDefault(QStringLiteral("Subdivide By Boolean Tag: Use Alternates"), true);
    setDefault(QStringLiteral("Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names"), true);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.levels);
        g->setValue(QStringLiteral("Criteria"), Value(dict({{QStringLiteral("Subdivider Tag"), QString::fromLatin1(test.levels)},
                                                            {QStringLiteral("Subdivider Bypass Level"), 1}})));
        update();
        EXPECT_EQ(tree(*g), test.expected);
    }
    // With values following, a tag's bucket holds the tag's values.
    setDefault(QStringLiteral("Subdivide By Boolean Tag: Subdivide By Values"), true);
    g->setValue(QStringLiteral("Criteria"), Value(dict({{QStringLiteral("Subdivide By Boolean Tag"), true}, {QStringLiteral("Subdivider Others Behavior"), 2},
                                                        {QStringLiteral("Subdivider Bypass Level"), 1}})));
    update();
    EXPECT_EQ(tree(*g), QStringLiteral("Cast(Ann(A), Bob(B)), Place(Paris(A))"));
    // ">>" stops a tag's buckets after their values.
    g->setValue(QStringLiteral("Criteria"), Value(dict({{QStringLiteral("Subdivider Tag"), QStringLiteral("Cast>> + Place, Place")},
                                                        {QStringLiteral("Subdivider Others Behavior"), 2}, {QStringLiteral("Subdivider Bypass Level"), 1}})));
    update();
    EXPECT_TRUE(tree(*g).contains(QStringLiteral("Cast(Ann(A), Bob(B))"))) << tree(*g).toStdString();
}

TEST_F(SmartGroupsTest, TheFastTrackGivesTheSameTreeAsTheFullRun)
{
    std::vector<Value> all;
    for (int i = 0; i < 60; ++i) {
        auto m = movie(QStringLiteral("M%1").arg(i, 2, 10, QLatin1Char('0')), -1, 1 + i % 2);
        m->setValue(QStringList{"Drama", "Comedy", "Horror"}[i % 3], QStringLiteral("Genre"));
        if (i % 4)
            m->setValue(QString::number(1990 + i % 5), QStringLiteral("Year"));
        // Notes and a tag named like a built-in kind: neither is in what representatives share.
        if (i % 7 == 0)
            m->setValue(QStringLiteral("seen"), QStringLiteral("Notes"));
        m->setValue(QStringLiteral("x"), QStringLiteral("Rating"));
        all.push_back(Value(m));
    }
    PMLibraryContainerPtr section = library({});
    for (const Value& v : all)
        section->rawChildren()->append(v);
    struct Case {
        const char* levels;
        bool includeNotes = false;
        bool emulate = false;
    };
    const Case cases[] = {{"Genre, Year"}, {"Year <= 2, Genre"}, {"?"}, {"?", true}, {"Genre, ?", true}, {"Rating", false, true}, {"Genre, rating", false, true}};
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.levels) + (test.includeNotes ? " with notes" : "") + (test.emulate ? " emulating" : ""));
        setDefault(QStringLiteral("Subdivide By Boolean Tag: Include Notes"), test.includeNotes);
        setDefault(QStringLiteral("Subdivide By Tag: Emulate Other Subdivision Types"), test.emulate);
        mainController().smartGroupStorage()->rawChildren()->removeAll();
        PMLibraryContainerPtr g = group(QStringLiteral("G"), dict({{QStringLiteral("Subdivider Tag"), QString::fromLatin1(test.levels)},
                                                                    {QStringLiteral("Name"), Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), 6}, {QStringLiteral("Value"), "m"}}))}}));
        setDefault(QStringLiteral("Subdivide By Tag: Fast Track"), false);
        update();
        const QString slow = tree(*g);
        setDefault(QStringLiteral("Subdivide By Tag: Fast Track"), true);
        update();
        EXPECT_EQ(tree(*g), slow);
        EXPECT_FALSE(slow.isEmpty());
    }
    // Nothing of the fast track is left in the movies' settings.
    for (const Value& v : all)
        EXPECT_FALSE(PMMovie(v)->userSettings()->contains(QStringLiteral("Fast Track")));
}

TEST_F(SmartGroupsTest, PostProcessingBypassFanOutRaisedOthersAndManualOrder)
{
    auto a = movie(QStringLiteral("A"), -1, 3);
    auto b = movie(QStringLiteral("B"), -1, 3);
    auto c2 = movie(QStringLiteral("C"), -1, 0);
    a->setValue(QStringLiteral("x"), QStringLiteral("Kind"));
    library({Value(a), Value(b), Value(c2)});
    PMLibraryContainerPtr g = group(QStringLiteral("G"), nullptr);
    const auto set = [&](std::initializer_list<std::pair<QString, Value>> entries) {
        g->setValue(QStringLiteral("Criteria"), Value(dict(entries)));
        update();
    };

    // Bypass level 0: a level whose only bucket is the others bucket does not show; -1
    // collapses a chain of single buckets to the movies; 1 keeps both.
    set({{QStringLiteral("Subdivider Tag"), QStringLiteral("Missing")}, {QStringLiteral("Subdivider Bypass Level"), 0}});
    EXPECT_EQ(tree(*g), QStringLiteral("A, B, C"));
    set({{QStringLiteral("Subdivider Tag"), QStringLiteral("Missing")}, {QStringLiteral("Subdivider Bypass Level"), 1}});
    EXPECT_EQ(tree(*g), QStringLiteral("Other(A, B, C)"));
    set({{QStringLiteral("Subdivider Tag"), QStringLiteral("Kind")}, {QStringLiteral("Subdivider Bypass Level"), -1},
         {QStringLiteral("Rating"), Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), 0}, {QStringLiteral("Value"), 3}}))}});
    EXPECT_EQ(tree(*g), QStringLiteral("Other(B), x(A)"));
    set({{QStringLiteral("Subdivider Tag"), QStringLiteral("Kind")}, {QStringLiteral("Subdivider Bypass Level"), -1},
         {QStringLiteral("Name"), Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), 0}, {QStringLiteral("Value"), "a"}}))}});
    EXPECT_EQ(tree(*g), QStringLiteral("A"));

    // Raise-others: the others bucket's movies join the group's.
    set({{QStringLiteral("Subdivider Tag"), QStringLiteral("Kind")}, {QStringLiteral("Subdivider Others Behavior"), 1},
         {QStringLiteral("Subdivider Bypass Level"), 1}});
    EXPECT_EQ(tree(*g), QStringLiteral("B, C, x(A)"));

    // Fan-out levels.
    struct Case {
        bool flatten, subdivisionsOnly, fineTuning;
        QString expected;
        bool flattened;
    };
    const Case cases[] = {
        {false, false, false, QStringLiteral("No Rating(C), \u2605\u2605\u2605(A, B)"), false},
        {true, false, false, QStringLiteral("A, B, C, No Rating(C), \u2605\u2605\u2605(A, B)"), true},
        {true, true, true, QStringLiteral("No Rating(C), \u2605\u2605\u2605(A, B)"), false},
        {true, false, true, QStringLiteral("A, B, C, No Rating(C), \u2605\u2605\u2605(A, B)"), true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.expected.toStdString());
        setDefault(QStringLiteral("Enable Fan-Out Fine Tuning"), test.fineTuning);
        g->setValue(QStringLiteral("Flatten"), test.flatten);
        g->setValue(QStringLiteral("Flatten: Subdivisions Only"), test.subdivisionsOnly);
        set({{QStringLiteral("Subdivide By Rating"), true}, {QStringLiteral("Subdivider Bypass Level"), 1}});
        EXPECT_EQ(tree(*g), test.expected);
        EXPECT_EQ(g->value(QStringLiteral("Flattened")).toBool(), test.flattened);
    }
    g->remove(QStringLiteral("Flatten"));
    g->remove(QStringLiteral("Flatten: Subdivisions Only"));

    // A manual order: the named movies first, the rest after them by name.
    g->setValue(QStringLiteral("Index Sequence"), QStringLiteral("%1,%2").arg(c2->uniqueLibraryID(), b->uniqueLibraryID()));
    set({});
    EXPECT_EQ(names(g->rawChildren()), (QStringList{"C", "B", "A"}));
}

TEST_F(SmartGroupsTest, SubgroupSettingsLoseWhatTheyInheritAndWhatNoLongerExists)
{
    auto a = movie(QStringLiteral("A"), -1, 3);
    library({Value(a)});
    PMLibraryContainerPtr g = group(QStringLiteral("G"), dict({{QStringLiteral("Subdivide By Rating"), true}, {QStringLiteral("Subdivider Bypass Level"), 1}}));
    g->setValue(QStringLiteral("Group Sorting Criterion"), QStringLiteral("GroupListName"));
    const QString bucket = g->uniqueLibraryID() + QStringLiteral("::\u2605\u2605\u2605");
    const QString gone = g->uniqueLibraryID() + QStringLiteral("::\u2605");
    const auto settings = [&] {
        return dict({{bucket, Value(dict({{QStringLiteral("Group Sorting Criterion"), "GroupListName"}, {QStringLiteral("Group Content Display Mode"), 2}}))},
                     {gone, Value(dict({{QStringLiteral("Group Content Display Mode"), 1}}))}});
    };
    g->setValue(QStringLiteral("Subgroup Settings"), Value(settings()));
    setDefault(QStringLiteral("Subgroup Settings: Cleaning Zeal"), 0);
    update();
    DictionaryPtr cleaned = g->value(QStringLiteral("Subgroup Settings")).dictionary();
    ASSERT_TRUE(cleaned);
    EXPECT_EQ(cleaned->value(bucket).dictionary()->keys(), QList<QString>{QStringLiteral("Group Content Display Mode")});
    EXPECT_TRUE(cleaned->contains(gone));
    setDefault(QStringLiteral("Subgroup Settings: Cleaning Zeal"), 1);
    update();
    cleaned = g->value(QStringLiteral("Subgroup Settings")).dictionary();
    ASSERT_TRUE(cleaned);
    EXPECT_FALSE(cleaned->contains(gone));
    EXPECT_TRUE(cleaned->contains(bucket));
    // A negative zeal leaves them alone.
    g->setValue(QStringLiteral("Subgroup Settings"), Value(settings()));
    setDefault(QStringLiteral("Subgroup Settings: Cleaning Zeal"), -1);
    update();
    EXPECT_EQ(g->value(QStringLiteral("Subgroup Settings")).dictionary()->count(), 2);

    // A copy of the group takes the settings under its own ID.
    const DictionaryPtr rekeyed = PMRekeyedSubgroupSettings(settings(), g->uniqueLibraryID(), QStringLiteral("NEW"));
    EXPECT_TRUE(rekeyed->contains(QStringLiteral("NEW::\u2605\u2605\u2605")));
    EXPECT_TRUE(rekeyed->contains(QStringLiteral("NEW::\u2605")));
}

TEST_F(SmartGroupsTest, WritesWhileAJobRunsNeitherReachTheJobNorGetLost)
{
    // Ratings, tags and a bucket's display mode change on the main thread while a job
    // runs: the job works on what it took at its start (under the thread sanitizer any
    // read of the live records or settings from the pool is reported), and the user's
    // setting outlives the job's cleaning of the settings.
    PMMainController& c = mainController();
    std::vector<PMMovieRepresentationOriginalPtr> all;
    PMLibraryContainerPtr section = library({});
    for (int i = 0; i < 400; ++i) {
        auto m = movie(QStringLiteral("M%1").arg(i, 3, 10, QLatin1Char('0')), 60 + i, 1 + i % 5);
        m->setValue(QStringList{"Drama", "Comedy", "Horror"}[i % 3], QStringLiteral("Genre"));
        section->rawChildren()->append(Value(m));
        all.push_back(m);
    }
    PMLibraryContainerPtr byRating = group(QStringLiteral("R"), dict({{QStringLiteral("Subdivide By Rating"), true}, {QStringLiteral("Subdivider Bypass Level"), 1},
                                                                      {QStringLiteral("Rating"), Value(dict({{QStringLiteral("Enabled"), true},
                                                                                                             {QStringLiteral("Action"), 3},
                                                                                                             {QStringLiteral("Value"), 0}}))}}));
    PMLibraryContainerPtr byGenre = group(QStringLiteral("G"), dict({{QStringLiteral("Subdivider Tag"), QStringLiteral("Genre, Mood")}}));
    const QString gone = byRating->uniqueLibraryID() + QStringLiteral("::gone");
    byRating->setValue(QStringLiteral("Subgroup Settings"), Value(dict({{gone, Value(dict({{QStringLiteral("Group Content Display Mode"), 1}}))}})));
    setDefault(QStringLiteral("Subgroup Settings: Cleaning Zeal"), 1);
    update();
    ASSERT_FALSE(byRating->value(QStringLiteral("Subgroup Settings")).dictionary()); // the stale entry went
    ASSERT_GE(byRating->rawChildren()->count(), 2);
    PMLibraryContainerPtr bucket = PMContainerPtr(byRating->rawChildren()->at(0));
    ASSERT_TRUE(bucket && bucket->isSmartGroupSubdivision());
    byRating->setValue(QStringLiteral("Subgroup Settings"), Value(dict({{gone, Value(dict({{QStringLiteral("Group Content Display Mode"), 1}}))}})));

    // The first job is held as it begins until this thread has written once, then both run: the
    // writes go on while the job reads. The hold is relaxed on purpose: it orders nothing, so
    // a job that read the live records would be a race for the thread sanitizer to report.
    std::atomic<bool> written{false};
    const auto release = qScopeGuard([&] {
        written.store(true, std::memory_order_relaxed);
        QThreadPool::globalInstance()->waitForDone();
        PMMainController::setSmartGroupJobWillWorkForTesting({});
    });
    PMMainController::setSmartGroupJobWillWorkForTesting([&written] {
        while (!written.load(std::memory_order_relaxed))
            QThread::yieldCurrentThread();
    });
    // Several jobs in turn, each overtaking the last, so that reads and writes meet often.
    for (int round = 0; round < 400; ++round) {
        if (round % 5 == 0) {
            c.invalidateLibraryDependencies();
            ASSERT_TRUE(c.isPopulatingSmartGroups());
        }
        for (size_t i = 0; i < all.size(); ++i) {
            all[i]->setRating(double(5 - (i + size_t(round)) % 5));
            all[i]->setValue(round % 2 ? QStringLiteral("Western") : QStringLiteral("Noir"), QStringLiteral("Genre"));
            all[i]->setValue(QStringLiteral("new"), QStringLiteral("Mood"));
        }
        written.store(true, std::memory_order_relaxed);
    }
    // The job has done its work (not taken over yet) when the user sets the mode.
    QThreadPool::globalInstance()->waitForDone();
    bucket->setDisplayMode(2);
    c.finishSmartGroupPopulation();
    DictionaryPtr settings = byRating->value(QStringLiteral("Subgroup Settings")).dictionary();
    ASSERT_TRUE(settings);
    ASSERT_TRUE(settings->value(bucket->uniqueLibraryID()).dictionary());
    EXPECT_EQ(settings->value(bucket->uniqueLibraryID()).dictionary()->value(QStringLiteral("Group Content Display Mode")).toLongLong(), 2);
    // The next update cleans what is stale and keeps the user's setting.
    update();
    settings = byRating->value(QStringLiteral("Subgroup Settings")).dictionary();
    ASSERT_TRUE(settings);
    EXPECT_FALSE(settings->contains(gone));
    ASSERT_TRUE(settings->value(bucket->uniqueLibraryID()).dictionary());
    EXPECT_EQ(settings->value(bucket->uniqueLibraryID()).dictionary()->value(QStringLiteral("Group Content Display Mode")).toLongLong(), 2);
    // And it shows what the writes made.
    EXPECT_EQ(tree(*byGenre).count(QStringLiteral("Western(")), 1);
    EXPECT_EQ(tree(*byGenre).count(QStringLiteral("Drama(")), 0);
}

TEST_F(SmartGroupsTest, ANewerUpdateStopsTheJobOnItsWay)
{
    PMMainController& c = mainController();
    PMLibraryContainerPtr section = library({});
    std::vector<PMMovieRepresentationOriginalPtr> all;
    for (int i = 0; i < 2000; ++i) {
        all.push_back(movie(QStringLiteral("M%1").arg(i, 4, 10, QLatin1Char('0')), 60, 1 + i % 5));
        section->rawChildren()->append(Value(all.back()));
    }
    const auto rated = [](long long least) {
        return dict({{QStringLiteral("Rating"), Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), 3}, {QStringLiteral("Value"), least}}))}});
    };
    PMLibraryContainerPtr top = group(QStringLiteral("Top"), rated(4));
    PMLibraryContainerPtr good = group(QStringLiteral("Good"), rated(3));
    update();
    ASSERT_EQ(top->rawChildren()->count(), 400);

    // A chunked population asked to stop gives nothing.
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(PMPopulateSmartGroupMovies(rated(0), section->rawChildren(), Date::now().secondsSince1970, PMSmartGroupSettings::fromDefaults(),
                                           nullptr, &stop)
                    .children->isEmpty());

    // Two quick rating changes while every worker is busy: the first job is overtaken
    // before it starts and stops without working; the second one's result is shown.
    setDefault(QStringLiteral("PMDebugLog"), true);
    testsupport::LogCapture log;
    QThreadPool* pool = QThreadPool::globalInstance();
    QSemaphore started, release;
    const int workers = pool->maxThreadCount();
    for (int i = 0; i < workers; ++i)
        pool->start([&] {
            started.release();
            release.acquire();
        });
    ASSERT_TRUE(started.tryAcquire(workers, 30000));
    all[4]->setRating(1);
    c.invalidateLibraryDependencies();
    all[9]->setRating(1);
    c.invalidateLibraryDependencies();
    release.release(workers);
    c.finishSmartGroupPopulation();
    pool->waitForDone();
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("PMDebugLog"));
    const QStringList stopped = log.lines().filter(QStringLiteral("a newer update stopped the population"));
    ASSERT_EQ(stopped.size(), 1) << log.lines().join(u'\n').toStdString();
    EXPECT_TRUE(stopped.constFirst().contains(QStringLiteral("with 2 of 2 groups unfinished"))) << stopped.constFirst().toStdString();
    EXPECT_EQ(top->rawChildren()->count(), 398);
    EXPECT_EQ(good->rawChildren()->count(), 798);
}

TEST_F(SmartGroupsTest, GroupsKeepTheirContentUntilTheNewOneArrivesAndFollowRatings)
{
    PMMainController& c = mainController();
    auto a = movie(QStringLiteral("A"), -1, 4);
    auto b = movie(QStringLiteral("B"), -1, 2);
    library({Value(a), Value(b)});
    PMLibraryContainerPtr g = group(QStringLiteral("Rated"), dict({{QStringLiteral("Rating"), Value(dict({{QStringLiteral("Enabled"), true},
                                                                                                        {QStringLiteral("Action"), 3},
                                                                                                        {QStringLiteral("Value"), 3}}))}}));
    int populated = 0;
    c._smartGroupsDidPopulate = [&] { ++populated; };
    c.invalidateLibraryDependencies();
    // The result arrives through the event loop.
    QTRY_COMPARE_WITH_TIMEOUT(populated, 1, 30000);
    EXPECT_EQ(names(g->rawChildren()), QStringList{"A"});
    b->setRating(5);
    c.invalidateLibraryDependencies();
    EXPECT_EQ(names(g->rawChildren()), QStringList{"A"}); // still the last content
    QTRY_COMPARE_WITH_TIMEOUT(populated, 2, 30000);
    QStringList now = names(g->rawChildren());
    now.sort();
    EXPECT_EQ(now, (QStringList{"A", "B"}));
    // A result overtaken by a newer update is dropped.
    c.invalidateLibraryDependencies();
    c.invalidateLibraryDependencies();
    QTRY_COMPARE_WITH_TIMEOUT(populated, 3, 30000);
    QCoreApplication::processEvents();
    EXPECT_EQ(populated, 3);
    c._smartGroupsDidPopulate = nullptr;
}

TEST_F(SmartGroupsTest, MembersBecomeProxiesOnlyWhereAViewReadsThem)
{
    auto a = movie(QStringLiteral("A"), 60, 4);
    auto b = movie(QStringLiteral("B"), 60, 5);
    auto c2 = movie(QStringLiteral("C"), 60, 1);
    a->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    b->setValue(QStringLiteral("Comedy"), QStringLiteral("Genre"));
    c2->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    library({Value(a), Value(b), Value(c2)});
    PMLibraryContainerPtr rated = group(QStringLiteral("Rated"), dict({{QStringLiteral("Rating"), Value(dict({{QStringLiteral("Enabled"), true},
                                                                                                            {QStringLiteral("Action"), 3},
                                                                                                            {QStringLiteral("Value"), 3}}))}}));
    PMLibraryContainerPtr byGenre = group(QStringLiteral("Genres"), dict({{QStringLiteral("Subdivider Tag"), QStringLiteral("Genre")}}));
    update();

    // Nothing read them yet: every group and bucket holds the movies' own records.
    const auto records = [](PMLibraryContainer& c) {
        int proxies = 0, movies = 0;
        for (const Value& v : *c.storedChildren())
            if (PMMovieRepresentationPrototype* m = PMMovie(v)) {
                ++movies;
                proxies += m->isProxy() ? 1 : 0;
            }
        return std::pair{movies, proxies};
    };
    EXPECT_EQ(records(*rated), std::pair(2, 0));
    ASSERT_EQ(byGenre->storedChildren()->count(), 2);
    PMLibraryContainerPtr drama, comedy;
    for (const Value& v : *byGenre->storedChildren()) {
        PMLibraryContainerPtr bucket = PMContainerPtr(v);
        ASSERT_TRUE(bucket);
        (bucket->value(QStringLiteral("Name")).string() == QLatin1String("Drama") ? drama : comedy) = bucket;
    }
    ASSERT_TRUE(drama && comedy);
    EXPECT_EQ(records(*drama), std::pair(2, 0));
    EXPECT_EQ(records(*comedy), std::pair(1, 0));
    // Counts read the records as they are.
    EXPECT_EQ(rated->numberOfChildrenToDisplay(), 2u);
    EXPECT_EQ(byGenre->numberOfChildrenToDisplay(), 3u);
    EXPECT_EQ(records(*rated), std::pair(2, 0));
    EXPECT_EQ(records(*drama), std::pair(2, 0));

    // A view reads one bucket and one group: those get proxies of the matched movies, once;
    // what no view read keeps its records.
    QStringList dramaNames = names(drama->sortedChildren());
    dramaNames.sort();
    EXPECT_EQ(dramaNames, (QStringList{"A", "C"}));
    EXPECT_EQ(records(*drama), std::pair(2, 2));
    EXPECT_EQ(records(*comedy), std::pair(1, 0));
    const ArrayPtr shown = rated->rawChildren();
    EXPECT_EQ(rated->rawChildren(), shown);
    EXPECT_EQ(records(*rated), std::pair(2, 2));
    std::vector<const platform::Object*> originals;
    for (const Value& v : *shown)
        originals.push_back(PMMovie(v)->proxyOriginal().get());
    EXPECT_EQ(originals, (std::vector<const platform::Object*>{a.get(), b.get()}));

    // The next update keeps the proxies a view has for the movies that stay, and the new
    // member waits for a reader.
    c2->setRating(5);
    update();
    EXPECT_EQ(records(*rated), std::pair(3, 2));
    EXPECT_EQ(rated->storedChildren()->at(0).objectPointer(), shown->at(0).objectPointer());
    EXPECT_EQ(rated->storedChildren()->at(1).objectPointer(), shown->at(1).objectPointer());
    QStringList now = names(rated->sortedChildren());
    now.sort();
    EXPECT_EQ(now, (QStringList{"A", "B", "C"}));
    EXPECT_EQ(records(*rated), std::pair(3, 3));
}

TEST_F(SmartGroupsTest, AFirstStartOnAnEmptyHomeShowsTheDefaultLibrary)
{
    PMMainController& c = mainController();
    const QString home = testsupport::makeTempDir(QStringLiteral("home"));
    const QString libraryFolder = home + QStringLiteral("/Movies/Pellis Library");
    ASSERT_TRUE(QDir().mkpath(libraryFolder));
    setDefault(QStringLiteral("Library Path"), libraryFolder);
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Ignore iTunes Movies"));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Library"));
    testsupport::LogCapture log;
    c.loadLibrary();
    EXPECT_TRUE(log.lines().join(u'\n').contains(QStringLiteral("using default library"))) << log.lines().join(u'\n').toStdString();
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("Ignore iTunes Movies")));
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("Ignore iPhoto Movies")));
    QStringList groups;
    for (const Value& v : *c.smartGroupStorage()->rawChildren())
        if (PMLibraryContainer* g = PMContainer(v); g && g->isSmartGroup())
            groups << g->displayName();
    EXPECT_EQ(groups, (QStringList{"Recently Added", "Never Played", "Favourites"}));
    // They fill from the movies the user adds.
    auto fresh = movie(QStringLiteral("Fresh"), -1, 5);
    c.pellisSourceStorageSection()->rawChildren()->append(Value(fresh));
    update();
    for (const Value& v : *c.smartGroupStorage()->rawChildren()) {
        PMLibraryContainer* g = PMContainer(v);
        SCOPED_TRACE(g->displayName().toStdString());
        EXPECT_EQ(g->allNonProxyMovieChildren()->count(), 1);
    }
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Library Path"));
}

} // namespace
