#include "ModelFixture.h"

#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerMarks.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Collation.h"

#include <QtCore/QObject>
#include <QtCore/QRandomGenerator>

#include <algorithm>
#include <memory>
#include <thread>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

class SortTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        resetSettings();
    }
    void TearDown() override
    {
        resetSettings();
        ModelTest::TearDown();
    }
    static void resetSettings()
    {
        auto& d = platform::UserDefaults::standard();
        for (const char* key : {"Ignorable Sorting Prefixes", "Subgroup Previews Position: Allow Blending", "Subgroup Previews Position",
                                "Subgroup Previews Position: Treat Subgroups As Files: Name Equivalent"})
            d.removeObjectForKey(QString::fromUtf8(key));
        PMRebuildSortPrefixTable();
        PMUpdateSubgroupsTreatedAsFiles();
    }
    static ArrayPtr items(std::initializer_list<Value> values) { return std::make_shared<Array>(std::vector<Value>(values)); }
    static QStringList sortedNames(const ArrayPtr& list, const QString& criterion, bool descending)
    {
        return names(PMSortedLibraryItems(list, criterion, descending));
    }
    static QStringList sortedFolderNames(const QStringList& folderNames)
    {
        auto list = Array::make();
        for (const QString& name : folderNames)
            list->append(Value(folder(name)));
        return names(PMSortedLibraryItems(list, QStringLiteral("GroupListName"), false));
    }
};

} // namespace

TEST_F(SortTest, CriteriaAndDirectionsOrderMoviesWithContainersFirst)
{
    // name, duration, rating
    auto b = movie("b", 30, 3);
    auto a = movie("a", 20, 5);
    auto d = movie("d", 10, 3);
    auto c = movie("c", 20, 1);
    auto f = folder("f");
    b->setAdditionDate(platform::Date{1000.9});
    a->setAdditionDate(platform::Date{3000});
    d->setAdditionDate(platform::Date{1000.1}); // the same whole second as b
    c->setAdditionDate(platform::Date{2000});
    const ArrayPtr list = items({Value(b), Value(a), Value(f), Value(d), Value(c)});

    const struct {
        const char* criterion; // nullptr: no criterion string at all
        bool descending;
        QStringList order;
    } cases[] = {
        {nullptr, false, {"f", "a", "b", "c", "d"}},
        {nullptr, true, {"f", "d", "c", "b", "a"}},
        {"GroupListName", false, {"f", "a", "b", "c", "d"}},
        {"GroupListName", true, {"f", "d", "c", "b", "a"}},
        {"GroupListIndex", true, {"f", "d", "c", "b", "a"}},
        {"", false, {"f", "a", "b", "c", "d"}},
        {"Bogus", true, {"f", "d", "c", "b", "a"}},
        {"GroupListIndex,GroupListRating", true, {"f", "a", "b", "d", "c"}},
        {"GroupListRating", false, {"f", "c", "b", "d", "a"}},
        {"GroupListRating,GroupListTime", true, {"f", "a", "d", "b", "c"}},
        {"GroupListTime", false, {"f", "d", "a", "c", "b"}},
        // Only the first criterion follows the direction: a and c tie and stay ascending.
        {"GroupListTime", true, {"f", "b", "a", "c", "d"}},
        {"GroupListTime, GroupListName", true, {"f", "b", "a", "c", "d"}},
        {"GroupListTime,GroupListRating", false, {"f", "d", "c", "a", "b"}},
        // Whole seconds: b and d were added in the same second and fall back on names.
        {"GroupListDate", false, {"f", "b", "d", "c", "a"}},
        {"GroupListDate", true, {"f", "a", "c", "b", "d"}},
    };
    for (const auto& row : cases) {
        const QString criterion = row.criterion ? QString::fromUtf8(row.criterion) : QString();
        SCOPED_TRACE(testing::Message() << (row.criterion ? row.criterion : "(none)") << (row.descending ? " descending" : " ascending"));
        EXPECT_EQ(sortedNames(list, criterion, row.descending), row.order);
        EXPECT_TRUE(PMLibraryItemsAreSorted(PMSortedLibraryItems(list, criterion, row.descending), criterion, row.descending));
    }
    // The list itself is untouched by a sorted copy and sorted by an in-place sort.
    EXPECT_EQ(names(list), (QStringList{"b", "a", "f", "d", "c"}));
    EXPECT_FALSE(PMLibraryItemsAreSorted(list, QStringLiteral("GroupListName"), false));
    PMSortLibraryItemsInPlace(list, QStringLiteral("GroupListName"), false, nullptr);
    EXPECT_EQ(names(list), (QStringList{"f", "a", "b", "c", "d"}));
}

TEST_F(SortTest, IntermediateSubdivisionsComeFirstAndOthersLastInEitherDirection)
{
    auto intermediate = PMLibraryContainer::make({{"Name", "m"}, {"Subdivision Intermediate", "x"}});
    auto others = PMLibraryContainer::make({{"Name", "a"}, {"Subdivision Others", true}});
    const ArrayPtr list = items({Value(others), Value(movie("b")), Value(folder("z")), Value(intermediate), Value(movie("y"))});
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), false), (QStringList{"m", "z", "b", "y", "a"}));
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), true), (QStringList{"m", "z", "y", "b", "a"}));
    // Equal durations: the tie-break after a criterion stays ascending.
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListTime"), true), (QStringList{"m", "z", "b", "y", "a"}));
}

TEST_F(SortTest, SortPrefixesDropLeadingWordsAndSendEntriesToTheEnd)
{
    // Before the first rebuild (at library load) names are their own sort strings; the
    // fixture has rebuilt with the default "a an the".
    EXPECT_EQ(sortPrefixesString(), QStringLiteral("a an the"));
    EXPECT_EQ(PMSortString(QStringLiteral("The Abyss")), QStringLiteral("Abyss"));
    EXPECT_EQ(PMSortString(QStringLiteral("Theory")), QStringLiteral("Theory"));
    EXPECT_EQ(PMSortString(QStringLiteral("A")), QStringLiteral("A"));
    EXPECT_EQ(PMSortString(QStringLiteral("an Apple")), QStringLiteral("Apple"));
    EXPECT_EQ(PMSortString(QString()), QString());
    EXPECT_EQ(sortedFolderNames({"Zed", "Theory", "The Abyss", "A", "Banana", "An Apple", ""}),
              (QStringList{"A", "The Abyss", "An Apple", "Banana", "Theory", "Zed", ""}));

    const struct {
        const char* prefixes;
        QStringList names;
        QStringList order;
    } cases[] = {
        // A sort-last entry sends its names after every other name, in name order.
        {"x*", {"Xylophone", "Zed", "Xanadu", "Apple"}, {"Apple", "Zed", "Xanadu", "Xylophone"}},
        // With a number, they sort as the number and the name among themselves.
        {"x*2 y*1", {"Xanadu", "Zed", "Yak", "Apple"}, {"Apple", "Zed", "Yak", "Xanadu"}},
        // The longer entry applies, whatever the order of writing.
        {"t* the", {"Tom", "The Abyss", "Bob"}, {"The Abyss", "Bob", "Tom"}},
        {"the t*", {"Tom", "The Abyss", "Bob"}, {"The Abyss", "Bob", "Tom"}},
        // Entries are lower-cased and trimmed; repeated blanks are no entries.
        {"  THE   ", {"The Zoo", "Moon"}, {"Moon", "The Zoo"}},
        // No prefixes at all.
        {"", {"The Zoo", "Moon"}, {"Moon", "The Zoo"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.prefixes);
        setSortPrefixesString(QString::fromUtf8(row.prefixes));
        EXPECT_EQ(sortedFolderNames(row.names), row.order);
    }
    setSortPrefixesString(QStringLiteral("x*2"));
    const QString sortString = PMSortString(QStringLiteral("Xanadu"));
    EXPECT_EQ(sortString, QStringLiteral("2 Xanadu"));
    EXPECT_TRUE(associatedSortLastFlag(sortString));
    // The name it came from carries no mark.
    const QString name = QStringLiteral("Xenon");
    EXPECT_TRUE(associatedSortLastFlag(PMSortString(name)) && !associatedSortLastFlag(name));
    // The engine also orders the foundation's name lists.
    EXPECT_EQ(fuzzyMatchesForQuery({"Xa", "Za", "Ya"}, QStringLiteral("a")), (QStringList{"Ya", "Za", "Xa"}));
}

TEST_F(SortTest, SortStringComparisonsPutEmptyThenSortLastThenLocaleOrder)
{
    setSortPrefixesString(QStringLiteral("the zz*"));
    const QString last = PMSortString(QStringLiteral("zzTop"));
    const struct {
        QString a, b;
        int order;
    } cases[] = {
        {"", "", 0},
        {"", "a", 1},
        {"a", "", -1},
        {last, "b", 1},
        {"b", last, -1},
        {"Movie 2", "Movie 10", -1},
        {"movie 10", "Movie 2", 1},
        {"a", "B", -1},
        {"abc", "abc", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a.toStdString() << " <> " << c.b.toStdString());
        EXPECT_EQ(PMCompareSortStrings(c.a, c.b), c.order);
    }
    EXPECT_EQ(PMCompareNamesBySortString(QStringLiteral("The Band"), QStringLiteral("Band")), 1); // same sort string, then as they stand
    EXPECT_EQ(PMCompareNamesBySortString(QStringLiteral("The Band"), QStringLiteral("Cat")), -1);
    QStringList tags{"notes", "genre", "Tags", "tags", "actor"};
    std::sort(tags.begin(), tags.end(), [](const QString& a, const QString& b) { return PMCompareTagNames(a, b) < 0; });
    EXPECT_EQ(tags, (QStringList{"tags", "actor", "genre", "Tags", "notes"}));
    auto entry = [](const char* tag) { return Value(platform::Dictionary::make({{QStringLiteral("Tag"), QString::fromUtf8(tag)}})); };
    EXPECT_EQ(PMCompareTagEntries(entry("Notes"), entry("Genre")), 1);
    EXPECT_EQ(PMCompareTagEntries(entry("TAGS"), entry("Genre")), -1);
    EXPECT_EQ(PMCompareURLsByAbsoluteString(QUrl(QStringLiteral("file:///a/Movie%202.mov")), QUrl(QStringLiteral("file:///a/Movie%2010.mov"))), -1);
}

TEST_F(SortTest, ObjectsCompareByTheirTitlesLikeNames)
{
    PMRebuildSortPrefixTable();
    auto titled = [](const char* property, const char* title) {
        auto object = std::make_unique<QObject>();
        object->setProperty(property, QString::fromUtf8(title));
        return object;
    };
    const auto theBand = titled("title", "The Band"), band = titled("title", "Band"), cat = titled("text", "Cat"), movie2 = titled("title", "Movie 2"),
               movie10 = titled("text", "Movie 10"), untitled = std::make_unique<QObject>();
    EXPECT_EQ(PMCompareObjectsByTitle(theBand.get(), cat.get()), -1); // leading "The" is ignored
    EXPECT_EQ(PMCompareObjectsByTitle(theBand.get(), band.get()), 1);  // same sort string, then as they stand
    EXPECT_EQ(PMCompareObjectsByTitle(movie10.get(), movie2.get()), 1);
    EXPECT_EQ(PMCompareObjectsByTitle(untitled.get(), cat.get()), 1); // no title sorts last
    EXPECT_EQ(PMCompareObjectsByTitle(band.get(), band.get()), 0);
}

TEST_F(SortTest, TieBreaksOfNamesAndSeriesOrderEqualNamesAndAreInvertedAsAWhole)
{
    auto older = movie("Same");
    auto newer = movie("Same");
    older->setAdditionDate(platform::Date{100});
    newer->setAdditionDate(platform::Date{200});
    EXPECT_EQ(PMCompareLibraryItemsByName(*older, *newer), -1);
    EXPECT_EQ(PMCompareLibraryItemsBySeriesAndName(*newer, *older), 1);
    EXPECT_EQ(PMCompareItemDates(*older, *newer, 0), -1);
    auto twin = movie("Same");
    twin->setAdditionDate(platform::Date{100.5});
    // Same name and second: the unique IDs decide, so no two items are ever the same.
    older->setUniqueLibraryID(QStringLiteral("B0000000-0000-4000-8000-000000000000"));
    twin->setUniqueLibraryID(QStringLiteral("A0000000-0000-4000-8000-000000000000"));
    newer->setUniqueLibraryID(QStringLiteral("00000000-0000-4000-8000-000000000000"));
    EXPECT_EQ(PMCompareLibraryItemsByName(*older, *twin), 1);
    EXPECT_EQ(PMCompareLibraryItemsByName(*twin, *older), -1);

    const ArrayPtr list = items({Value(newer), Value(older), Value(twin)});
    QStringList ids;
    QStringList descendingIDs;
    const ArrayPtr ascending = PMSortedLibraryItems(list, QStringLiteral("GroupListName"), false);
    const ArrayPtr descending = PMSortedLibraryItems(list, QStringLiteral("GroupListName"), true);
    for (const Value& v : *ascending)
        ids << PMItem(v)->uniqueLibraryID();
    for (const Value& v : *descending)
        descendingIDs << PMItem(v)->uniqueLibraryID();
    const QStringList expected = {twin->uniqueLibraryID(), older->uniqueLibraryID(), newer->uniqueLibraryID()};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(descendingIDs, (QStringList{expected[2], expected[1], expected[0]}));
}

TEST_F(SortTest, PlaybackCriteriaMarkTheContainerSoThatPlayingResortsIt)
{
    auto x = movie("x");
    auto y = movie("y");
    x->incrementCounter();
    x->incrementCounter();
    y->incrementCounter();
    auto container = folder("c", {Value(x), Value(y)});
    container->setSortCriterion(QStringLiteral("GroupListCounter"), false, true);
    EXPECT_EQ(names(container->sortedChildren()), (QStringList{"y", "x"}));
    EXPECT_TRUE(container->value(QStringLiteral("Did Sort Based On Playback")).toBool());

    auto byName = folder("n", {Value(movie("x")), Value(movie("y"))});
    byName->setSortCriterion(QStringLiteral("GroupListName"), false, true);
    byName->sortedChildren();
    EXPECT_FALSE(byName->contains(QStringLiteral("Did Sort Based On Playback")));
}

TEST_F(SortTest, SubgroupsTreatedAsFilesMixWithMoviesAndLendTheirNamesToTheNameTag)
{
    const ArrayPtr list = items({Value(movie("b")), Value(folder("c")), Value(movie("a"))});
    const QString byTitle = QStringLiteral("AccessoryTagListName: title");
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), false), (QStringList{"c", "a", "b"}));
    setDefault("Subgroup Previews Position: Allow Blending", true);
    setDefault("Subgroup Previews Position", 2);
    PMUpdateSubgroupsTreatedAsFiles();
    EXPECT_TRUE(PMSubgroupsTreatedAsFiles());
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), false), (QStringList{"a", "b", "c"}));
    // Every value of the tag is empty: without a name equivalent the names break the tie.
    EXPECT_EQ(sortedNames(list, byTitle, true), (QStringList{"a", "b", "c"}));
    setDefault("Subgroup Previews Position: Treat Subgroups As Files: Name Equivalent", "Title");
    EXPECT_EQ(sortedNames(list, byTitle, true), (QStringList{"c", "b", "a"}));
}

TEST_F(SortTest, ImageHashesDecodeAndMeasureTheirDistanceBitByBit)
{
    EXPECT_TRUE(PMImageHashData(QString()).isEmpty());
    EXPECT_TRUE(PMImageHashData(QStringLiteral("not base64!")).isEmpty());
    EXPECT_EQ(PMImageHashData(QStringLiteral("AP8=")), QByteArray("\x00\xff", 2));
    // A movie's hash: its frames' padded hashes joined as they are.
    EXPECT_EQ(PMImageHashData(QStringLiteral("AP8=AP8=")), QByteArray("\x00\xff\x00\xff", 4));
    EXPECT_EQ(PMImageHashData(QStringLiteral("AAAAAAAAAA==/////////w==")), QByteArray(7, '\0') + QByteArray(7, '\xff'));
    EXPECT_EQ(PMImageHashData(QStringLiteral("AAAAAAAA////")), QByteArray(6, '\0') + QByteArray(3, '\xff'));
    EXPECT_TRUE(PMImageHashData(QStringLiteral("AP8=!!")).isEmpty());
    const QByteArray reference("\x0f\xf0", 2);
    EXPECT_EQ(PMImageHashDistance(reference, reference), 0);
    EXPECT_EQ(PMImageHashDistance(reference, QByteArray("\x0e\xf0", 2)), 1);
    EXPECT_EQ(PMImageHashDistance(reference, QByteArray("\xf0\x0f", 2)), 16);
    EXPECT_EQ(PMImageHashDistance(reference, QByteArray("\x0f", 1)), 8);
    EXPECT_EQ(PMImageHashDistance(reference, QByteArray("\x0f\xf0\x00", 3)), 8);
    // No hash at all is as far as a hash of that length can be.
    EXPECT_EQ(PMImageHashDistance(reference, QByteArray()), 16);
    EXPECT_EQ(PMImageHashSortCriterion(8), QStringLiteral("GroupListImageHash: dHash8"));
    EXPECT_EQ(PMImageHashDeltaSortCriterion(8, QStringLiteral("ID")), QStringLiteral("GroupListImageHashDelta: dHash8: ID"));

    // A similarity entry whose reference has no hash sorts by name; so does a resolution
    // below 1.
    auto a = movie("a");
    auto b = movie("b");
    library({Value(b), Value(a)});
    const ArrayPtr list = items({Value(b), Value(a)});
    for (const QString& criterion : {PMImageHashDeltaSortCriterion(8, a->uniqueLibraryID()), PMImageHashDeltaSortCriterion(8, QString()),
                                     PMImageHashDeltaSortCriterion(0, a->uniqueLibraryID()), PMImageHashSortCriterion(0)}) {
        SCOPED_TRACE(criterion.toStdString());
        EXPECT_EQ(sortedNames(list, criterion, true), (QStringList{"b", "a"}));
    }
}

TEST_F(SortTest, OrderTestsOfNoneOrOneItemReportSorted)
{
    EXPECT_TRUE(PMLibraryItemsAreSorted(Array::make(), QStringLiteral("GroupListName"), false));
    EXPECT_TRUE(PMLibraryItemsAreSorted(nullptr, QStringLiteral("GroupListName"), false));
    EXPECT_TRUE(PMLibraryItemsAreSorted(items({Value(movie("z"))}), QStringLiteral("GroupListName"), true));
    bool sorted = false;
    const ArrayPtr two = items({Value(movie("b")), Value(movie("a"))});
    EXPECT_EQ(PMSortLibraryItems(&sorted, true, two, QStringLiteral("GroupListName"), false, nullptr), two);
    EXPECT_FALSE(sorted);
    EXPECT_EQ(names(two), (QStringList{"b", "a"}));
}

// A sort by name compares the collation keys the records keep: a movie renamed since the
// last sort sorts by its new name, never by the key of the old one, and a sort key asked for
// another text of the same movie is that text's.
TEST_F(SortTest, RecordsKeepTheirSortKeysOnlyForTheNameTheyWereMadeOf)
{
    auto b = movie("b");
    auto c = movie("c");
    auto d = movie("d");
    const ArrayPtr list = items({Value(d), Value(b), Value(c)});
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), false), (QStringList{"b", "c", "d"}));
    d->setDisplayName(QStringLiteral("a"));
    b->setDisplayName(QStringLiteral("e"));
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), false), (QStringList{"a", "c", "e"}));
    EXPECT_EQ(sortedNames(list, QStringLiteral("GroupListName"), true), (QStringList{"e", "c", "a"}));
    EXPECT_EQ(c->sortNameCollationKey(QStringLiteral("z")), platform::localizedStandardCollationKey(QStringLiteral("z")));
    EXPECT_EQ(c->sortNameCollationKey(c->sortName()), platform::localizedStandardCollationKey(QStringLiteral("c")));
}

// Many items, many threads: the concurrent warm-up and sort agree with a plain sort by the
// comparison functions, also while other sorts of the same records run at the same time
// and the sort strings are made for the first time.
TEST_F(SortTest, ConcurrentSortsAgreeWithTheComparisonFunctions)
{
    setSortPrefixesString(QStringLiteral("a an the zz*3"));
    QRandomGenerator random(42);
    const char* words[] = {"The", "Movie", "zz", "An", "Clip", "a", "10", "2", "Été", "ende"};
    auto list = Array::make();
    std::vector<PMMovieRepresentationOriginalPtr> originals;
    for (int i = 0; i < 12000; ++i) {
        QString name;
        for (int w = 0, n = 1 + int(random.bounded(3)); w < n; ++w)
            name += QString::fromUtf8(words[random.bounded(int(std::size(words)))]) + u' ';
        auto m = movie(name.trimmed() + QString::number(random.bounded(50)), random.bounded(100), double(random.bounded(6)));
        m->setAdditionDate(platform::Date{double(random.bounded(1000))});
        m->uniqueLibraryID();
        originals.push_back(m);
        list->append(Value(m));
        if (i % 10 == 0)
            list->append(Value(m->proxy())); // the same record twice
    }
    for (int i = 0; i < 40; ++i)
        list->append(Value(folder(QStringLiteral("Folder %1").arg(i))));

    auto reference = [&](const QString& criterion, bool descending) {
        std::vector<Value> values = list->values();
        std::stable_sort(values.begin(), values.end(), [&](const Value& x, const Value& y) {
            PMLibraryItem& a = *PMItem(x);
            PMLibraryItem& b = *PMItem(y);
            if (int kinds = PMCompareItemKinds(a, b))
                return kinds < 0;
            int c = 0;
            if (criterion == QLatin1String("GroupListTime")) {
                c = a.duration() < b.duration() ? -1 : (a.duration() > b.duration() ? 1 : 0);
                if (c)
                    return descending ? c > 0 : c < 0;
                return PMCompareLibraryItemsBySeriesAndName(a, b) < 0;
            }
            c = criterion.isNull() ? PMCompareLibraryItemsBySeriesAndName(a, b) : PMCompareLibraryItemsByName(a, b);
            return descending ? c > 0 : c < 0;
        });
        QStringList result;
        for (const Value& v : values)
            result << PMItem(v)->uniqueLibraryID() + u'/' + PMItem(v)->displayName();
        return result;
    };
    auto describe = [](const ArrayPtr& sorted) {
        QStringList result;
        for (const Value& v : *sorted)
            result << PMItem(v)->uniqueLibraryID() + u'/' + PMItem(v)->displayName();
        return result;
    };

    const struct {
        QString criterion;
        bool descending;
    } runs[] = {{QString(), false}, {QStringLiteral("GroupListName"), true}, {QStringLiteral("GroupListTime"), true}, {QStringLiteral("GroupListName"), false}};
    // Containers fill their caches on first request: first sorts on this thread do that,
    // as the library update does before it sorts smart groups side by side.
    for (const auto& run : runs)
        PMSortedLibraryItems(list, run.criterion, run.descending);
    std::vector<ArrayPtr> results(std::size(runs));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::size(runs); ++i)
        threads.emplace_back([&, i] { results[i] = PMSortedLibraryItems(list, runs[i].criterion, runs[i].descending); });
    for (std::thread& thread : threads)
        thread.join();
    for (size_t i = 0; i < std::size(runs); ++i) {
        SCOPED_TRACE(runs[i].criterion.toStdString());
        const ArrayPtr& sorted = results[i];
        ASSERT_EQ(sorted->count(), list->count());
        // Proxies of one record are not told apart by the reference: compare IDs and names.
        EXPECT_EQ(describe(sorted), reference(runs[i].criterion, runs[i].descending));
        EXPECT_TRUE(PMLibraryItemsAreSorted(sorted, runs[i].criterion, runs[i].descending));
    }

    // Sort strings made for the first time on many threads at once: one per name.
    PMRebuildSortPrefixTable();
    QStringList names;
    for (int i = 0; i < 20000; ++i)
        names << QStringLiteral("%1 Name %2").arg(QString::fromUtf8(words[i % std::size(words)])).arg(i % 5000);
    std::vector<QString> concurrent(size_t(names.size()));
    threads.clear();
    for (qsizetype t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (qsizetype i = t; i < names.size(); i += 4)
                concurrent[size_t(i)] = PMSortString(names.at(i));
        });
    for (std::thread& thread : threads)
        thread.join();
    for (qsizetype i = 0; i < names.size(); ++i) {
        ASSERT_EQ(concurrent[size_t(i)], PMSortString(names.at(i)));
        ASSERT_EQ(associatedSortLastFlag(concurrent[size_t(i)]), names.at(i).startsWith(QLatin1String("zz")));
    }
}

// With fuzzy dates in the sorting context, a sort by date first works out the newest date
// of each series among the container's children, once until the children change; a movie
// outside any series drops a sorting-context date it had.
TEST_F(SortTest, SortingContextDatesAreWorkedOutOncePerContainer)
{
    PMCachedSettings::determineFuzzyOldestDate = true;
    PMCachedSettings::determineFuzzyNewestDateUseSortingContext = true;
    auto a = movie("a");
    auto b = movie("b");
    a->setAdditionDate(platform::Date{2000});
    b->setAdditionDate(platform::Date{1000});
    auto container = folder("c", {Value(a->proxy()), Value(b->proxy())});
    auto stale = PMMovie(container->rawChildren()->at(1));
    stale->setNewestDateInSortingContext(platform::Date{5000});
    container->setSortCriterion(QStringLiteral("GroupListDate"), false, true);
    EXPECT_EQ(names(container->sortedChildren()), (QStringList{"b", "a"}));
    EXPECT_EQ(stale->newestDateInSortingContext(), platform::Date{1000});
    EXPECT_TRUE(container->value(QStringLiteral("Determined Fuzzy Newest Dates")).toBool());
    container->invalidateChildren();
    EXPECT_FALSE(container->contains(QStringLiteral("Determined Fuzzy Newest Dates")));
    PMCachedSettings::determineFuzzyOldestDate = false;
    PMCachedSettings::determineFuzzyNewestDateUseSortingContext = false;
}

// The criteria read from the records' measures: location, file size, picture width,
// height and resolution (width first, height breaking ties), creation and oldest dates.
TEST_F(SortTest, MeasureCriteriaOrderByTheirValues)
{
    struct Record {
        const char* name;
        const char* path;
        long long size;
        const char* assetSize;
        double created;
        const char* year;
    };
    const Record records[] = {
        {"p", "/media/b/Movies/p.mov", 300, "{1920, 1080}", 5000, "1995"},
        {"q", "/media/a/Movies/q.mov", 100, "{640, 480}", 7000, nullptr},
        {"r", "/media/a/Archive/r.mov", 200, "{1920, 800}", 6000, "1980"},
        {"s", "/media/c/s.mov", 400, "{320, 1200}", 4000, nullptr},
    };
    auto list = Array::make();
    for (const Record& k : records) {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QString::fromUtf8(k.path));
        m->userSettings()->setValue(QStringLiteral("Name"), QString::fromUtf8(k.name));
        m->setMissing(true, false); // the stored measures stand
        m->userSettings()->setValue(QStringLiteral("Size"), Value(k.size));
        m->userSettings()->setValue(QStringLiteral("Asset Size"), QString::fromUtf8(k.assetSize));
        m->userSettings()->setValue(QStringLiteral("Created Timestamp"), Value(k.created));
        m->setAdditionDate(platform::Date{1.0e9});
        if (k.year)
            m->setValue(QString::fromUtf8(k.year), QStringLiteral("Year"));
        list->append(Value(m));
    }
    PMCachedSettings::determineFuzzyOldestDate = true;
    for (const Value& v : *list)
        PMMovie(v)->invalidateFuzzyDates();
    const struct {
        const char* criterion;
        bool descending;
        QStringList order;
    } cases[] = {
        {"GroupListLocation", false, {"r", "q", "p", "s"}},
        {"GroupListLocation", true, {"s", "p", "q", "r"}},
        {"GroupListSize", false, {"q", "r", "p", "s"}},
        {"GroupListSize", true, {"s", "p", "r", "q"}},
        {"GroupListWidth", false, {"s", "q", "r", "p"}}, // 1920 wide twice: the lower first
        {"GroupListResolution", true, {"p", "r", "q", "s"}},
        {"GroupListHeight", false, {"q", "r", "p", "s"}},
        {"GroupListCreationDate", false, {"s", "p", "r", "q"}},
        {"GroupListCreationDate", true, {"q", "r", "p", "s"}},
        // The end of the year tag's year when earlier than the addition; the rest tie on
        // the addition date and fall back on names.
        {"GroupListOldestDate", false, {"r", "p", "q", "s"}},
        {"GroupListOldestDate", true, {"q", "s", "p", "r"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::Message() << row.criterion << (row.descending ? " descending" : " ascending"));
        EXPECT_EQ(sortedNames(list, QString::fromUtf8(row.criterion), row.descending), row.order);
    }
    PMCachedSettings::determineFuzzyOldestDate = false;
}
