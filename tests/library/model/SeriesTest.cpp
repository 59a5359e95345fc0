// Names made from tags and series: the pattern and its one-time migration, the joined
// tag values, series names, positions, dates and the renumbering.
#include "ModelFixture.h"

using platform::Value;

namespace {

const char* const kPatternKeys[] = {"Determine Names Automatically: Pattern", "Batch Rename Sequence Prefix", "Batch Rename Sequence Suffix"};

void clearPatternSettings()
{
    for (const char* key : kPatternKeys)
        platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
}

} // namespace

class SeriesTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        clearPatternSettings();
    }
    void TearDown() override
    {
        clearPatternSettings();
        ModelTest::TearDown();
    }
    // A series record of the members, registered under its ID prefix, members pointing at it.
    static platform::DictionaryPtr series(const QString& seriesID, const QList<PMMovieRepresentationOriginalPtr>& members)
    {
        auto items = platform::Array::make();
        std::uint64_t index = 1;
        for (const PMMovieRepresentationOriginalPtr& m : members) {
            m->setSeriesID(seriesID, index++);
            items->append(Value(m));
        }
        auto record = platform::Dictionary::make({{QStringLiteral("Items"), items}});
        mainController()._nonProxyRawMovieRepresentationSeriesByIDPrefix.insert(seriesID + u':', record);
        return record;
    }
};

TEST_F(SeriesTest, PatternComesFromTheBatchRenameSettingsOnceAndAStoredOneIsKept)
{
    struct Case {
        const char* stored; // nullptr: none stored
        const char* prefix;
        const char* suffix;
        const char* expected;
    } cases[] = {
        {nullptr, " Show ", "<?meta:Episode?>", "Show <?meta:Episode?>"},
        {nullptr, "", "<?meta:Episode?>", "<?meta:Episode?>"},
        {nullptr, "Show", "", "Show"},
        {nullptr, nullptr, nullptr, ""},
        {"  ", "Show", "Episode", ""},
        {" <?meta:Title?> ", "Show", "Episode", "<?meta:Title?>"},
    };
    PMMainController& controller = mainController();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        clearPatternSettings();
        if (c.stored)
            setDefault(QStringLiteral("Determine Names Automatically: Pattern"), QString::fromUtf8(c.stored));
        if (c.prefix)
            setDefault(QStringLiteral("Batch Rename Sequence Prefix"), QString::fromUtf8(c.prefix));
        if (c.suffix)
            setDefault(QStringLiteral("Batch Rename Sequence Suffix"), QString::fromUtf8(c.suffix));
        EXPECT_EQ(controller.tagBasedDisplayNamePattern(), QString::fromUtf8(c.expected));
        // Made once: later changes of the batch rename settings no longer count.
        setDefault(QStringLiteral("Batch Rename Sequence Prefix"), QStringLiteral("Other"));
        EXPECT_EQ(controller.tagBasedDisplayNamePattern(), QString::fromUtf8(c.expected));
    }
}

TEST_F(SeriesTest, WithAnEmptyPatternTheNameJoinsTheTagValues)
{
    setDefault(QStringLiteral("Determine Names Automatically: Pattern"), QString());
    auto tagged = movie(QStringLiteral("file"));
    tagged->setValue(QStringLiteral("2001"), QStringLiteral("Year"));
    tagged->setValue(QStringLiteral("Drama, Comedy"), QStringLiteral("Genre"));
    EXPECT_EQ(mainController().tagBasedDisplayNameForMovieRepresentation(*tagged), QStringLiteral("Drama, Comedy \u00B7 2001"));
    auto untagged = movie(QStringLiteral("plain"));
    EXPECT_TRUE(mainController().tagBasedDisplayNameForMovieRepresentation(*untagged).isEmpty());
}

TEST_F(SeriesTest, SeriesAreNamedDatedAndDescribedByPosition)
{
    setDefault(QStringLiteral("Determine Names Automatically: Pattern"), QString());
    PMMainController& controller = mainController();
    QList<PMMovieRepresentationOriginalPtr> episodes;
    for (int i = 1; i <= 5; ++i) {
        episodes << movie(QStringLiteral("Episode %1").arg(i));
        episodes.last()->setValue(QStringLiteral("Show"), QStringLiteral("Series"));
        episodes.last()->setValue(QStringLiteral("Notes %1, long").arg(i), QStringLiteral("Notes"));
    }
    auto show = series(QStringLiteral("S1"), episodes);
    show->setValue(QStringLiteral("Date"), Value(platform::Date{1000}));
    QList<PMMovieRepresentationOriginalPtr> plainMembers = {movie(QStringLiteral("Plain One")), movie(QStringLiteral("Plain Two"))};
    series(QStringLiteral("S2"), plainMembers);
    mainController()._nonProxyRawMovieRepresentationSeriesByIDPrefix.insert(QStringLiteral("S3:"), platform::Dictionary::make());

    QString seriesName;
    EXPECT_EQ(controller.seriesIndexDescriptionForMovieRepresentation(*episodes[2], &seriesName), QStringLiteral("3\u2006/\u20065"));
    // The members' tags without their notes.
    EXPECT_EQ(seriesName, QStringLiteral("Show"));
    EXPECT_EQ(controller.displayNameForSeriesIDPrefix(QStringLiteral("S2:")), QStringLiteral("Plain One"));
    EXPECT_EQ(controller.displayNameForSeriesIDPrefix(QStringLiteral("S3:")), QStringLiteral("?"));
    EXPECT_TRUE(controller.displayNameForSeriesIDPrefix(QString()).isEmpty());
    EXPECT_EQ(controller.sortNameForSeriesIDPrefix(QStringLiteral("S2:")), plainMembers[0]->sortName());

    // The name is kept with the record until the next update replaces the record.
    episodes[0]->setValue(QStringLiteral("Other"), QStringLiteral("Series"));
    EXPECT_EQ(controller.displayNameForSeriesIDPrefix(QStringLiteral("S1:")), QStringLiteral("Show"));

    ASSERT_TRUE(controller.oldestDateForSeriesIDPrefix(QStringLiteral("S1:")).has_value());
    EXPECT_EQ(controller.oldestDateForSeriesIDPrefix(QStringLiteral("S1:"))->secondsSince1970, 1000);
    EXPECT_FALSE(controller.newestDateForSeriesIDPrefix(QStringLiteral("S1:")).has_value());
    EXPECT_FALSE(controller.oldestDateForSeriesIDPrefix(QStringLiteral("S9:")).has_value());

    // Not a member (a stale series setting), or no series: no description.
    auto stray = movie(QStringLiteral("Stray"));
    stray->setSeriesID(QStringLiteral("S1"), 9);
    EXPECT_TRUE(controller.seriesIndexDescriptionForMovieRepresentation(*stray, nullptr).isEmpty());
    EXPECT_TRUE(controller.seriesIndexDescriptionForMovieRepresentation(*movie(QStringLiteral("Alone")), nullptr).isEmpty());
}

TEST_F(SeriesTest, RenumberingUsesTheFirstMemberAndDropsLoneMembers)
{
    QList<PMMovieRepresentationOriginalPtr> three = {movie(QStringLiteral("A")), movie(QStringLiteral("B")), movie(QStringLiteral("C"))};
    auto record = series(QStringLiteral("OLD"), three);
    // Gaps and a stale order: the record's order wins.
    three[0]->setSeriesID(QStringLiteral("OLD"), 7);
    three[2]->setSeriesID(QStringLiteral("OLD"), 2);
    auto lone = movie(QStringLiteral("Lone"));
    series(QStringLiteral("LONE"), {lone});

    mainController().organizeSeriesIDs();

    const QString id = three[0]->uniqueLibraryID();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(three[i]->indexedSeriesID(), id + QStringLiteral(":%1").arg(i + 1));
    EXPECT_TRUE(lone->indexedSeriesID().isEmpty());
    EXPECT_TRUE(lone->seriesIDPrefix().isEmpty());
}
