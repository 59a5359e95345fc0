// Tag types: the rebuild over the library (counts, values and their carriers, notes kept
// whole, numeric detection) and the grouping of values for the menus of tag-value switches.
#include "ModelFixture.h"

#include "foundation/PMCSVParser.h"
#include "foundation/PMRange.h"
#include "library/model/PMTagType.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

using platform::Value;

namespace {

PMMovieRepresentationOriginalPtr tagged(const QString& name, std::initializer_list<std::pair<const char*, const char*>> tags)
{
    auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/") + name + QStringLiteral(".mov"));
    m->userSettings()->setValue(QStringLiteral("Name"), name);
    for (const auto& [tag, value] : tags)
        m->setValue(QString::fromUtf8(value), QString::fromUtf8(tag));
    return m;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// The table holds, for each tag, what the movies' shares say, each value listing its
// carriers in the order of the table by ID with the text of its first carrier.
void expectTagTypesBuiltFromTheShares(PMMainController& controller)
{
    QHash<QString, QHash<QString, QStringList>> carriers;
    QHash<QString, QHash<QString, QString>> texts;
    QHash<QString, qsizetype> counters;
    const auto& byID = controller._nonProxyRawMovieRepresentationsByID;
    for (auto it = byID.cbegin(); it != byID.cend(); ++it) {
        const auto share = it.value()->cachedTagTypeShare();
        if (!share)
            continue;
        for (const PMTagTypeShare::Tag& tag : share->tags) {
            ++counters[tag.key];
            for (qsizetype k = 0; k < tag.lowercaseValues.size(); ++k) {
                QStringList& list = carriers[tag.key][tag.lowercaseValues[k]];
                if (list.isEmpty())
                    texts[tag.key][tag.lowercaseValues[k]] = tag.values[k];
                list << it.key();
            }
        }
    }
    ASSERT_EQ(sorted(controller._tagTypes.keys()), sorted(carriers.keys()));
    for (auto type = carriers.cbegin(); type != carriers.cend(); ++type) {
        SCOPED_TRACE(type.key().toStdString());
        const PMTagType& built = controller._tagTypes[type.key()];
        EXPECT_EQ(built.counter, counters[type.key()]);
        ASSERT_EQ(sorted(built.values.keys()), sorted(type->keys()));
        for (auto value = type->cbegin(); value != type->cend(); ++value) {
            EXPECT_EQ(built.values[value.key()].associatedIdentifiers, *value) << value.key().toStdString();
            EXPECT_EQ(built.values[value.key()].value, texts[type.key()][value.key()]);
        }
    }
}

} // namespace

class TagTypeTest : public ModelTest {
protected:
    void TearDown() override
    {
        for (const char* key : {"Toggle Tag Values Via Context Menu: Match Separation Mode", "Toggle Tag Values Via Context Menu: Pinned Values",
                                "Toggle Tag Values Via Context Menu: Inverted Tags"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
        ModelTest::TearDown();
    }
};

TEST_F(TagTypeTest, RebuildCountsCarriersKeepsNotesWholeAndDetectsNumbers)
{
    auto a = tagged("A", {{"Genre", "Drama, Comedy"}, {"Notes", "long, winding, road"}, {"Year", "1.5"}, {"Code", "7"}});
    auto b = tagged("B", {{"genre", "drama"}, {"Year", "2001-10"}, {"Code", "12a"}});
    auto c = tagged("C", {});
    library({Value(a), Value(b), Value(c)});
    PMMainController& controller = mainController();
    controller.invalidateTagTypes();

    ASSERT_TRUE(controller._tagTypes.contains(QStringLiteral("genre")));
    const PMTagType& genre = controller._tagTypes[QStringLiteral("genre")];
    EXPECT_TRUE(genre.tag == QLatin1String("Genre") || genre.tag == QLatin1String("genre"));
    EXPECT_EQ(genre.counter, 2);
    ASSERT_EQ(sorted(genre.values.keys()), QStringList({QStringLiteral("comedy"), QStringLiteral("drama")}));
    EXPECT_EQ(genre.values[QStringLiteral("comedy")].associatedIdentifiers, QStringList{a->uniqueLibraryID()});
    EXPECT_EQ(sorted(genre.values[QStringLiteral("drama")].associatedIdentifiers), sorted({a->uniqueLibraryID(), b->uniqueLibraryID()}));
    const QString dramaAsStored = genre.values[QStringLiteral("drama")].value;
    EXPECT_TRUE(dramaAsStored == QLatin1String("Drama") || dramaAsStored == QLatin1String("drama"));

    const PMTagType& notes = controller._tagTypes[QStringLiteral("notes")];
    EXPECT_EQ(notes.values.keys(), QStringList{QStringLiteral("long, winding, road")});
    EXPECT_EQ(notes.counter, 1);

    struct Case {
        const char* tag;
        bool relevant, numeric;
    } cases[] = {
        {"year", true, true},    // 1.5 and 2001-10: digits and punctuation
        {"code", true, false},   // 12a
        {"genre", true, false},  // words
        {"mood", false, false},  // nobody carries it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        EXPECT_EQ(controller.isRelevantTag(QString::fromUtf8(c.tag)), c.relevant);
        EXPECT_EQ(controller.isNumericTag(QString::fromUtf8(c.tag)), c.numeric);
    }

    // A rebuild replaces what an earlier one found.
    b->setValue(QString(), QStringLiteral("Genre"));
    a->setValue(QString(), QStringLiteral("Genre"));
    controller.invalidateTagTypes();
    EXPECT_FALSE(controller.isRelevantTag(QStringLiteral("genre")));
}

TEST_F(TagTypeTest, ValuesForTagCompletesAndFindsCarriers)
{
    auto a = tagged("A", {{"Genre", "Drama, Comedy"}});
    auto b = tagged("B", {{"Genre", "drama, Action"}});
    library({Value(a), Value(b)});
    PMMainController& controller = mainController();
    controller.invalidateTagTypes();
    setDefault(QStringLiteral("Disable Fuzzy Search: Values"), true);

    EXPECT_EQ(controller.valuesForTag(QStringLiteral("GENRE"), QStringLiteral("d"), nullptr, PMNotFound).size(), 1);
    EXPECT_EQ(controller.valuesForTag(QStringLiteral("genre"), QString(), nullptr, PMNotFound).size(), 3);
    EXPECT_TRUE(controller.valuesForTag(QStringLiteral("mood"), QString(), nullptr, PMNotFound).isEmpty());

    // Carriers among a subset (scanned) and among the whole library (from the rebuild).
    for (const platform::ArrayPtr& movies : {platform::Array::make({Value(b)}), platform::Array::make({Value(a), Value(b)})}) {
        QHash<QString, platform::ArrayPtr> carriers;
        controller.valuesForTag(QStringLiteral("genre"), QString(), movies, PMNotFound, &carriers);
        const bool whole = movies->count() == 2;
        EXPECT_EQ(carriers.contains(QStringLiteral("Comedy")), whole);
        ASSERT_TRUE(carriers.contains(QStringLiteral("Action")));
        EXPECT_EQ(carriers[QStringLiteral("Action")]->count(), 1);
        ASSERT_EQ(carriers.size(), whole ? 3 : 2);
        const auto dramaKey = carriers.contains(QStringLiteral("Drama")) ? QStringLiteral("Drama") : QStringLiteral("drama");
        EXPECT_EQ(carriers[dramaKey]->count(), whole ? 2 : 1);
    }
    // As many movies as the library holds, but one of them twice (itself and its proxy):
    // the carriers are still looked up among these movies only.
    QHash<QString, platform::ArrayPtr> carriers;
    controller.valuesForTag(QStringLiteral("genre"), QString(), platform::Array::make({Value(b), Value(b->proxy())}), PMNotFound, &carriers);
    EXPECT_FALSE(carriers.contains(QStringLiteral("Comedy")));
    EXPECT_EQ(carriers.value(QStringLiteral("Action"))->count(), 1);
    // Auto-complete keeps the prefix as typed; tag names complete from the table.
    setDefault(QStringLiteral("Auto-Auto-Complete"), true);
    EXPECT_EQ(controller.valuesForTag(QStringLiteral("genre"), QStringLiteral("CO"), nullptr, PMNotFound), QStringList{QStringLiteral("COmedy")});
    setDefault(QStringLiteral("Disable Fuzzy Search: Names"), true);
    EXPECT_EQ(controller.tagNamesWithPrefix(QStringLiteral("GE")), QStringList{QStringLiteral("Genre")});
    EXPECT_TRUE(controller.tagNamesWithPrefix(QStringLiteral("x")).isEmpty());
    EXPECT_EQ(controller.tagNamesWithPrefix(QString()), QStringList{QStringLiteral("Genre")});
    for (const char* key : {"Disable Fuzzy Search: Values", "Disable Fuzzy Search: Names", "Auto-Auto-Complete"})
        platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
}

TEST_F(TagTypeTest, SeparationModesGroupCarriedPinnedAndOtherValues)
{
    auto a = tagged("A", {{"Genre", "Drama"}, {"Year", "2001"}});
    auto b = tagged("B", {{"Genre", "Action, Comedy, Horror"}, {"Year", "1999, 2005"}});
    library({Value(a), Value(b)});
    PMMainController& controller = mainController();
    controller.invalidateTagTypes();
    setDefault(QStringLiteral("Toggle Tag Values Via Context Menu: Pinned Values"), QStringLiteral("horror, 2005"));
    const auto onlyA = platform::Array::make({Value(a)});

    // Empty strings separate groups; "|" joins the entries.
    struct Case {
        const char* tag;
        int mode;
        std::uint64_t threshold;
        const char* inverted;
        const char* expected;
    } cases[] = {
        {"Genre", 1, 2, "", "Drama||Horror||Action|Comedy"},
        {"Genre", 0, 2, "", "Drama||Horror||Action|Comedy"},   // non-numeric: separated in mode 0
        {"Genre", -1, 2, "", "Horror||Action|Comedy|Drama"},   // negative: never separated
        {"Genre", 1, 3, "", "Horror||Action|Comedy|Drama"},    // carried + others not above the threshold
        {"Genre", 1, 2, "genre", "Drama||Horror||Comedy|Action"},
        {"Genre", -1, 2, "Genre", "Horror||Drama|Comedy|Action"},
        {"Year", 0, 1, "", "2005||1999|2001"},                 // numeric: never separated in mode 0
        {"Year", 1, 1, "", "2001||2005||1999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tag) + " mode " + std::to_string(c.mode) + " threshold " + std::to_string(c.threshold));
        setDefault(QStringLiteral("Toggle Tag Values Via Context Menu: Match Separation Mode"), qint64(c.mode));
        setDefault(QStringLiteral("Toggle Tag Values Via Context Menu: Inverted Tags"), QString::fromUtf8(c.inverted));
        EXPECT_EQ(controller.valuesForTag(QString::fromUtf8(c.tag), QString(), onlyA, c.threshold).join(u'|'), QString::fromUtf8(c.expected));
    }
}

// The info panel's pending edits of one tag over two selected movies: the effective value,
// the state and the check lists as values are toggled.
TEST_F(TagTypeTest, InfoTagEditStateFollowsTheCheckLists)
{
    auto a = tagged("A", {{"Genre", "Drama, Comedy"}});
    auto b = tagged("B", {{"Genre", "Drama"}});
    library({Value(a), Value(b)});
    PMMainController& controller = mainController();
    controller.invalidateTagTypes();
    controller.storeValues({QStringLiteral("Horror")}, platform::Dictionary::make({{QStringLiteral("Tag"), QStringLiteral("Genre")}}));
    controller._infoMovieRepresentations = platform::Array::make({Value(a), Value(b)});
    auto entry = platform::Dictionary::make({{QStringLiteral("Tag"), QStringLiteral("Genre")}});
    controller._infoTags = platform::Array::make({Value(entry)});

    auto valueSet = [&] {
        QStringList fields = cachedCSVFields(entry->value(QStringLiteral("Value")).string());
        fields.sort();
        return fields.join(u'|');
    };
    auto list = [&](const char* key) {
        QStringList result;
        if (const platform::ArrayPtr values = entry->value(QString::fromUtf8(key)).array())
            for (const Value& v : *values)
                result << v.string();
        return result.join(u'|');
    };
    struct Step {
        const char* value; // nullptr: setState instead of a toggle
        int state;
        const char* effective;
        int expectedState;
        bool unambiguous;
        const char* checked;
        const char* unchecked;
    } steps[] = {
        {nullptr, 0, "Comedy|Drama", 0, false, "", ""},           // as the movies have it; Comedy only on A
        {"comedy", 1, "Comedy|Drama", 1, true, "comedy", ""},     // now on both
        {"Drama", 0, "Comedy", 1, true, "comedy", "Drama"},       // off everywhere
        {"Horror", 1, "Comedy|Horror", 1, true, "comedy|Horror", "Drama"}, // carried by none, added
        {"drama", -1, "Comedy|Drama|Horror", 1, true, "comedy|Horror", ""}, // mixed: neither list
        {"Comedy", -1, "Comedy|Drama|Horror", -1, false, "Horror", ""},
        {nullptr, 1, "Comedy|Drama|Horror", 1, true, "Horror|Comedy|Drama", ""}, // checks what is carried
        {nullptr, 0, "Comedy|Drama", 0, false, "", ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.value ? s.value : "setState") + " " + std::to_string(s.state));
        if (s.value)
            controller.toggleInfoTagValue(QStringLiteral("GENRE"), QString::fromUtf8(s.value), s.state);
        else
            controller.setState(s.state, entry);
        bool unambiguous = false;
        controller.determineEffectiveValueAndStateForInfoTag(entry, &unambiguous);
        EXPECT_EQ(valueSet(), QString::fromUtf8(s.effective));
        EXPECT_EQ(entry->value(QStringLiteral("State")).integer(), s.expectedState);
        EXPECT_EQ(unambiguous, s.unambiguous);
        EXPECT_EQ(list("Checked Separate Values"), QString::fromUtf8(s.checked));
        EXPECT_EQ(list("Unchecked Separate Values"), QString::fromUtf8(s.unchecked));
    }
}

TEST_F(TagTypeTest, ImportTagNamesComeFromPersistentTagsAndTheImportList)
{
    PMMainController& controller = mainController();
    // Without settings: the built-in import list, in English.
    QStringList builtIn = controller.updateImportTagNames(true).values();
    builtIn.sort();
    EXPECT_EQ(builtIn, QStringList({"Album", "Artist", "Cast", "Composer", "Directors", "Episode", "Genre", "Notes", "Screenwriters", "Season",
                                    "Series", "Source", "Studio", "Tags", "Tempo", "Year"}));

    setDefault(QStringLiteral("Persistent Tags"), platform::Dictionary::make({{QStringLiteral("genre"), QString()}, {QStringLiteral("NOTES"), QString()},
                                                                              {QStringLiteral("Mood"), QString()}}));
    setDefault(QStringLiteral("Import Metadata: Names"), platform::Array::make({Value(QStringLiteral("year")), Value(QStringLiteral("Foo")),
                                                                                  Value(QStringLiteral("TAGS"))}));
    QStringList names = controller.updateImportTagNames(true).values();
    names.sort();
    EXPECT_EQ(names, QStringList({"Genre", "Notes", "Tags", "Year"}));
    // Without the flag the set is answered as it stands.
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Import Metadata: Names"));
    EXPECT_EQ(controller.updateImportTagNames(false).size(), 4);
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Persistent Tags"));
}

// After any mix of changes, each value lists its carriers in the order of the table by ID
// and shows its text as its first carrier has it, however much an update takes over from
// the one before.
TEST_F(TagTypeTest, UpdatesListCarriersInTableOrderAfterEveryKindOfChange)
{
    const char* genres[] = {"Drama", "Comedy", "Action", "Horror"};
    QRandomGenerator random(11);
    int made = 0;
    const auto make = [&] {
        const int n = made++;
        return tagged(QStringLiteral("M%1").arg(n), {{"Genre", genres[random.bounded(4)]}, {"Year", n % 3 ? "1999" : "2001"},
                                                      {"Cast", random.bounded(2) ? "Ann, Bob" : "bob"}});
    };
    PMLibraryContainerPtr section = library({});
    for (int i = 0; i < 200; ++i)
        section->rawChildren()->append(Value(make()));
    PMMainController& controller = mainController();

    const auto check = [&controller] { expectTagTypesBuiltFromTheShares(controller); };

    const auto movieAt = [&](qsizetype i) { return PMMovie(section->rawChildren()->at(i)); };
    const std::function<void()> changes[] = {
        [] {},                                                                          // nothing
        [&] { section->rawChildren()->append(Value(make())); },                         // a movie added
        [&] { section->rawChildren()->removeAt(random.bounded(int(section->rawChildren()->count()))); }, // one removed
        [&] { movieAt(random.bounded(int(section->rawChildren()->count())))->setValue(QStringLiteral("Western"), QStringLiteral("Genre")); },
        [&] { movieAt(random.bounded(int(section->rawChildren()->count())))->setUniqueLibraryID(QStringLiteral("ID%1").arg(made++)); },
        [&] { // one moved to the front and a tag changed elsewhere
            const Value moved = section->rawChildren()->at(section->rawChildren()->count() - 1);
            section->rawChildren()->removeAt(section->rawChildren()->count() - 1);
            section->rawChildren()->insert(0, moved);
            movieAt(5)->setValue(QStringLiteral("ann, Carl"), QStringLiteral("Cast"));
        },
    };
    controller.invalidateLibraryDependencies();
    check();
    for (int round = 0; round < 3; ++round)
        for (size_t i = 0; i < std::size(changes); ++i) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", change " << i);
            changes[i]();
            controller.invalidateLibraryDependencies();
            check();
        }
}

// Tag numbers are remembered by the storage of the text they were given for: a text is
// answered as the table answers it whether it shares storage, has its own, stands where
// a freed text stood, or lies over memory that changed since.
TEST(TagSlots, AnswerAsTheTableWhateverTheStorage)
{
    const QString tag = QStringLiteral("Genre").toLower();
    const qsizetype tagSlot = PMTagTypeSlot(tag);
    const auto slotsOf = [&](const QStringList& values) {
        std::vector<qsizetype> slots;
        EXPECT_EQ(PMTagSlots(tag, values, slots), tagSlot);
        return slots;
    };
    // Shared storage, then copies of the same texts, then other texts.
    const QStringList values = {QStringLiteral("Drama").toLower(), QStringLiteral("Comedy").toLower()};
    const std::vector<qsizetype> first = slotsOf(values);
    EXPECT_EQ(slotsOf(values), first);
    EXPECT_EQ(slotsOf({QString(values[0].constData(), values[0].size()), QString(values[1].constData(), values[1].size())}), first);
    EXPECT_NE(slotsOf({QStringLiteral("drams")})[0], first[0]);
    // Many short-lived texts of one length, each freed before the next is made.
    for (int i = 0; i < 2000; ++i) {
        const QString value = QString::number(i).rightJustified(6, u'x');
        ASSERT_EQ(slotsOf({value})[0], PMTagValueSlot(tagSlot, value)) << i;
    }
    // A text over memory of the caller's, changed between two calls.
    char16_t buffer[] = u"thriller";
    const std::vector<qsizetype> before = slotsOf({QString::fromRawData(reinterpret_cast<const QChar*>(buffer), 8)});
    buffer[0] = u's';
    const std::vector<qsizetype> after = slotsOf({QString::fromRawData(reinterpret_cast<const QChar*>(buffer), 8)});
    EXPECT_NE(before[0], after[0]);
    EXPECT_EQ(after[0], PMTagValueSlot(tagSlot, QStringLiteral("shriller")));
    EXPECT_EQ(before[0], PMTagValueSlot(tagSlot, QStringLiteral("thriller")));
}

// The records ask the controller which tags to import: a file's embedded genre and date
// become the movie's Genre and Year, and only those the import names allow.
TEST_F(TagTypeTest, RecordsImportTheTagsTheControllerNames)
{
    const QString clip = testsupport::makeTempDir(QStringLiteral("imported")) + QStringLiteral("/western.mp4");
    const testsupport::ProcessResult made = testsupport::runProcess(QStringLiteral("ffmpeg"),
        {QStringLiteral("-y"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("color=c=black:s=32x16:d=1"), QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-metadata"),
         QStringLiteral("genre=Western"), QStringLiteral("-metadata"), QStringLiteral("date=1969-06-18"), clip});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    setDefault(QStringLiteral("Import Metadata: Internal"), true);
    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(clip);
    library({Value(movie)});
    PMMainController& controller = mainController();
    controller.updateImportTagNames(true);
    const auto imported = [&](const QString& key) {
        const platform::DictionaryPtr entry = movie->cachedTags() ? movie->cachedTags()->value(key).dictionary() : nullptr;
        return entry ? entry->value(QStringLiteral("Value")).string() : QString();
    };
    movie->cachedTags(); // starts the background read of the file
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            PMCrawlQueue::waitUntilEmpty();
            QCoreApplication::processEvents();
            movie->invalidateCachedTags();
            return !imported(QStringLiteral("genre")).isEmpty();
        },
        30000));
    EXPECT_EQ(imported(QStringLiteral("genre")), QStringLiteral("Western"));
    EXPECT_EQ(imported(QStringLiteral("year")), QStringLiteral("1969"));
    controller.invalidateTagTypes();
    ASSERT_TRUE(controller._tagTypes.contains(QStringLiteral("genre")));
    EXPECT_TRUE(controller._tagTypes[QStringLiteral("genre")].values.contains(QStringLiteral("western")));

    // Readers on other threads see whole lists while the names change under them.
    std::atomic<bool> stop = false;
    std::atomic<int> odd = 0;
    std::thread reader([&] {
        while (!stop) {
            const QStringList names = PMMovieRepresentationServices::shared().importTagNames();
            odd += !(names.isEmpty() || names.contains(QStringLiteral("Genre")));
        }
    });
    setDefault(QStringLiteral("Import Metadata: Names"), platform::Array::make({Value(QStringLiteral("Genre"))}));
    for (int i = 0; i < 200; ++i)
        controller.updateImportTagNames(true);
    stop = true;
    reader.join();
    EXPECT_EQ(odd, 0);
    movie->invalidateCachedTags();
    EXPECT_EQ(imported(QStringLiteral("genre")), QStringLiteral("Western"));
    EXPECT_EQ(imported(QStringLiteral("year")), QString()) << "Year is no longer imported";
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Import Metadata: Names"));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Import Metadata: Internal"));
}

// With imported metadata on, the shares of many changed movies are made on the workers:
// the table is the one they would make one by one, and a worker asking for the import
// names after they changed hears the new ones.
TEST_F(TagTypeTest, SharesMadeOnTheWorkersBuildTheSameTable)
{
    setDefault(QStringLiteral("Import Metadata: Internal"), true);
    const char* genres[] = {"Drama", "Comedy", "Action", "Horror", "Western"};
    PMLibraryContainerPtr section = library({});
    std::vector<PMMovieRepresentationOriginal*> records;
    for (int i = 0; i < 3000; ++i) {
        auto m = tagged(QStringLiteral("M%1").arg(i), {{"Genre", genres[i % 5]}, {"Cast", i % 7 ? "Ann, Bob" : "Carl"}});
        records.push_back(m.get());
        section->rawChildren()->append(Value(m));
    }
    // (Their files are not there: nothing is read, but each record has had its first read.)
    PMMovieRepresentationOriginal::refreshFileMetadataTags(records);
    PMMainController& controller = mainController();
    controller.updateImportTagNames(true);
    controller.invalidateLibraryDependencies();
    expectTagTypesBuiltFromTheShares(controller);
    for (int i = 0; i < 3000; i += 2)
        records[size_t(i)]->setValue(QString::fromUtf8(genres[(i / 2) % 5]) + QStringLiteral(", Noir"), QStringLiteral("Genre"));
    controller.invalidateLibraryDependencies();
    expectTagTypesBuiltFromTheShares(controller);
    EXPECT_EQ(controller._tagTypes[QStringLiteral("genre")].values[QStringLiteral("noir")].associatedIdentifiers.size(), 1500);

    std::promise<QStringList> before, after;
    std::promise<void> changed;
    std::thread worker([&] {
        before.set_value(PMMovieRepresentationServices::shared().importTagNames());
        changed.get_future().wait();
        after.set_value(PMMovieRepresentationServices::shared().importTagNames());
    });
    EXPECT_TRUE(before.get_future().get().contains(QStringLiteral("Year")));
    setDefault(QStringLiteral("Import Metadata: Names"), platform::Array::make({Value(QStringLiteral("Genre"))}));
    controller.updateImportTagNames(true);
    changed.set_value();
    EXPECT_EQ(after.get_future().get(), QStringList{QStringLiteral("Genre")});
    worker.join();
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Import Metadata: Names"));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Import Metadata: Internal"));
    controller.updateImportTagNames(true);
}
