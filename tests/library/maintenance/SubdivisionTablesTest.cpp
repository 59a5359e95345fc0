// The subdivision of smart groups, one table per family, each row a small library and the
// tree the update makes of it, as text: the built-in kinds time, file size, library
// folder, counter and name; and the options that shape tag levels (the pseudo-index
// filter below merged buckets, alternates the branch has used, separate raised others,
// the case of values, series, and how deep the levels go).
#include "library/model/ModelFixture.h"

#include "foundation/NSString+PMHelpManagerPaths.h"
#include "library/model/PMMainController.h"

#include <QtCore/QDir>

#include <functional>

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

class SubdivisionTablesTest : public ModelTest {
protected:
    void TearDown() override
    {
        auto& d = platform::UserDefaults::standard();
        for (const QString& key : m_defaultsSet)
            d.removeObjectForKey(key);
        ModelTest::TearDown();
    }

    // A movie with the settings and tags of the row ("Name" is the movie's name).
    struct Movie {
        QString name;
        QList<std::pair<QString, QString>> tags;
        std::function<void(PMMovieRepresentationOriginal&)> more;
    };
    struct Row {
        const char* name;
        QList<std::pair<const char*, Value>> defaults;
        QList<std::pair<const char*, Value>> criteria;
        QList<Movie> movies;
        QString expected;
    };

    // Builds the row's library and group, updates, and answers the group's tree.
    QString subdivide(const Row& row)
    {
        mainController().resetForTesting();
        for (const auto& [key, value] : row.defaults) {
            setDefault(QString::fromUtf8(key), value);
            m_defaultsSet << QString::fromUtf8(key);
        }
        PMLibraryContainerPtr section = library({});
        for (const Movie& m : row.movies) {
            auto record = movie(m.name);
            for (const auto& [tag, value] : m.tags)
                record->setValue(value, tag);
            if (m.more)
                m.more(*record);
            section->rawChildren()->append(Value(record));
        }
        auto criteria = Dictionary::make({{QStringLiteral("Subdivider Bypass Level"), 1}});
        for (const auto& [key, value] : row.criteria)
            criteria->setValue(QString::fromUtf8(key), value);
        auto g = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("G")}, {QStringLiteral("Smart"), true}, {QStringLiteral("Criteria"), Value(criteria)}});
        mainController().smartGroupStorage()->rawChildren()->append(Value(g));
        mainController().invalidateLibraryDependencies();
        mainController().finishSmartGroupPopulation();
        for (const auto& [key, value] : row.defaults)
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
        return tree(*g);
    }

    // The tree below a container: "Bucket(child, child)", movies by name, each level
    // sorted so that the text does not depend on the order of buckets.
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

    static std::function<void(PMMovieRepresentationOriginal&)> setting(const char* key, long long value)
    {
        return [key, value](PMMovieRepresentationOriginal& m) { m.userSettings()->setValue(QString::fromUtf8(key), value); };
    }

    QStringList m_defaultsSet;
};

TEST_F(SubdivisionTablesTest, TimeFileSizeLibraryFolderCounterAndName)
{
    const QString main = testsupport::makeTempDir(QStringLiteral("Main Movies"));
    const QString second = testsupport::makeTempDir(QStringLiteral("Second Movies"));
    const auto at = [](const QString& folder) {
        return [folder](PMMovieRepresentationOriginal& m) {
            m.setURL(QUrl::fromLocalFile(folder + u'/' + m.userSettings()->value(QStringLiteral("Name")).string() + QStringLiteral(".mov")));
        };
    };
    const auto duration = [](long long seconds) { return [seconds](PMMovieRepresentationOriginal& m) { m.setDuration(seconds); }; };
    const auto emulated = QList<std::pair<const char*, Value>>{{"Subdivide By Tag: Emulate Other Subdivision Types", true}};
    // Named as the program names folders for people (the availability shown by default).
    const QString mainName = readablePathRepresentationIndicatingAvailability(main, true);
    const QString secondName = readablePathRepresentationIndicatingAvailability(second, true);
    const Row rows[] = {
        {"time: one bucket per duration text (hours in hour units), none in others",
         {},
         {{"Subdivide By Time", true}},
         {{"A", {}, duration(65)}, {"B", {}, duration(65)}, {"C", {}, duration(3700)}, {"D", {}, nullptr}},
         QStringLiteral("1 hour(C), 1:05(A, B), Other(D)")},
        {"time by an emulating level",
         emulated,
         {{"Subdivider Tag", QStringLiteral("duration")}},
         {{"A", {}, duration(65)}, {"C", {}, duration(3700)}},
         QStringLiteral("1 hour(C), 1:05(A)")},
        {"file size: one bucket per size text, unknown sizes in others",
         {},
         {{"Subdivide By File Size", true}},
         {{"A", {}, setting("Size", 1500)}, {"B", {}, setting("Size", 1500)}, {"C", {}, setting("Size", 3000000)}, {"D", {}, nullptr}},
         QStringLiteral("1.5 KB(A, B), 3 MB(C), Other(D)")},
        {"library folder: the folder that holds the file, others outside every folder",
         {{"Secondary Library Paths", Value(Dictionary::make({{QStringLiteral("Second"), second}}))}},
         {{"Subdivide By Library Folder", true}},
         {{"A", {}, at(main)}, {"B", {}, at(second)}, {"C", {}, at(second + QStringLiteral("/deeper"))}, {"D", {}, at(QStringLiteral("/elsewhere"))}},
         QStringLiteral("Other(D), ") + mainName + QStringLiteral("(A), ") + secondName + QStringLiteral("(B, C)")},
        {"counter: played movies by count, never played ones in Never",
         emulated,
         {{"Subdivider Tag", QStringLiteral("counter")}},
         {{"A", {}, setting("Counter", 2)}, {"B", {}, setting("Counter", 2)}, {"C", {}, setting("Counter", 11)}, {"D", {}, nullptr}},
         QStringLiteral("11(C), 2(A, B), Never(D)")},
        {"name: the whole name",
         emulated,
         {{"Subdivider Tag", QStringLiteral("name")}},
         {{"Alpha", {}, nullptr}, {"Alps", {}, nullptr}, {"Beta", {}, nullptr}},
         QStringLiteral("Alpha(Alpha), Alps(Alps), Beta(Beta)")},
        {"name cut to two letters",
         emulated,
         {{"Subdivider Tag", QStringLiteral("name <= 2 <= 0")}},
         {{"Alpha", {}, nullptr}, {"Alps", {}, nullptr}, {"Beta", {}, nullptr}},
         QStringLiteral("Al(Alpha, Alps), Be(Beta)")},
    };
    setDefault(QStringLiteral("Library Path"), main);
    m_defaultsSet << QStringLiteral("Library Path");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(subdivide(row), row.expected);
    }
}

TEST_F(SubdivisionTablesTest, OptionsOfTagLevels)
{
    const auto series = [](const char* id, long long index) {
        return [id, index](PMMovieRepresentationOriginal& m) { m.setSeriesID(QString::fromLatin1(id), index); };
    };
    // A level list that goes deeper than any library needs: each level below the first
    // finds the value fixed already, so the movie goes to the others bucket, level after level.
    QStringList manyLevels;
    for (int i = 0; i < 150; ++i)
        manyLevels << QStringLiteral("Genre");
    QString deepest = QStringLiteral("A");
    for (int level = 1; level <= 100; ++level)
        deepest = QStringLiteral("Other(") + deepest + u')';
    const Row rows[] = {
        {"below merged buckets only their own values stay",
         {},
         {{"Subdivider Tag", QStringLiteral("Year <= 2, Year")}},
         {{"A", {{"Year", "1990, 1995"}}, nullptr}, {"B", {{"Year", "1991"}}, nullptr}, {"C", {{"Year", "1995"}}, nullptr}, {"D", {{"Year", "1996"}}, nullptr}},
         QStringLiteral("1990, 1991(1990(A), 1991(B)), 1995, 1996(1995(A, C), 1996(D))")},
        {"unless every subdivision is kept",
         {{"Pseudo-Index: Keep All Subdivisions", true}},
         {{"Subdivider Tag", QStringLiteral("Year <= 2, Year")}},
         {{"A", {{"Year", "1990, 1995"}}, nullptr}, {"B", {{"Year", "1991"}}, nullptr}, {"C", {{"Year", "1995"}}, nullptr}, {"D", {{"Year", "1996"}}, nullptr}},
         QStringLiteral("1990, 1991(1990(A), 1991(B), 1995(A)), 1995, 1996(1990(A), 1995(A, C), 1996(D))")},
        {"alternates: a value the branch fixed is not offered again",
         {},
         {{"Subdivider Tag", QStringLiteral("+Cast + Place, +Cast + Place")}},
         {{"A", {{"Cast", "Ann, Bob"}, {"Place", "Paris"}}, nullptr}},
         QStringLiteral("Cast: Ann(Cast: Bob(A), Place: Paris(A)), Cast: Bob(Cast: Ann(A), Place: Paris(A)), "
                        "Place: Paris(Cast: Ann(A), Cast: Bob(A))")},
        {"alternates: a tag the branch used is skipped altogether",
         {{"Subdivide By Boolean Tag: Use Alternates: Skip Previously Used Alternates", true}},
         {{"Subdivider Tag", QStringLiteral("+Cast + Place, +Cast + Place")}},
         {{"A", {{"Cast", "Ann, Bob"}, {"Place", "Paris"}}, nullptr}},
         QStringLiteral("Cast: Ann(Place: Paris(A)), Cast: Bob(Place: Paris(A)), Place: Paris(Cast: Ann(A), Cast: Bob(A))")},
        {"raised others: one bucket of the movies that no raised tag has",
         {},
         {{"Subdivider Tag", QStringLiteral("<Cast + <Place")}},
         {{"A", {{"Cast", "Ann"}, {"Place", "Paris"}}, nullptr}, {"B", {{"Cast", "Bob"}}, nullptr}, {"C", {}, nullptr}},
         QStringLiteral("Ann(A), Bob(B), Other(C), Paris(A)")},
        {"raised others kept apart, named by their tags",
         {{"Subdivide By Boolean Tag: Use Alternates: Raise Late: Separate Others", true}},
         {{"Subdivider Tag", QStringLiteral("<Cast + <Place")}},
         {{"A", {{"Cast", "Ann"}, {"Place", "Paris"}}, nullptr}, {"B", {{"Cast", "Bob"}}, nullptr}, {"C", {}, nullptr}},
         QStringLiteral("Ann(A), Bob(B), Cast: Other(C), Paris(A), Place: Other(B, C)")},
        {"values that differ in case only share a bucket",
         {},
         {{"Subdivider Tag", QStringLiteral("Genre")}},
         {{"A", {{"Genre", "Drama"}}, nullptr}, {"B", {{"Genre", "drama"}}, nullptr}},
         QStringLiteral("Drama(A, B)")},
        {"with their case acknowledged they do not",
         {{"Subdivide By Tag: Acknowledge Value Case", true}},
         {{"Subdivider Tag", QStringLiteral("Genre")}},
         {{"A", {{"Genre", "Drama"}}, nullptr}, {"B", {{"Genre", "drama"}}, nullptr}},
         QStringLiteral("Drama(A), drama(B)")},
        {"a series is one bucket named as the series (by its first movie, having no tags)",
         {},
         {{"Subdivider Tag", QStringLiteral("Sequence")}},
         {{"Ep 1", {}, series("S1", 1)}, {"Ep 2", {}, series("S1", 2)}, {"Film", {}, nullptr}},
         QStringLiteral("Ep 1(Ep 1, Ep 2), Other(Film)")},
        {"levels stop at the depth limit",
         {},
         {{"Subdivider Tag", manyLevels.join(QStringLiteral(", "))}},
         {{"A", {{"Genre", "Drama"}}, nullptr}},
         QStringLiteral("Drama(") + deepest + u')'},
    };
    // The registered defaults these rows rely on, set as the program registers them.
    for (const char* key : {"Subdivide By Boolean Tag: Use Alternates", "Subdivide By Boolean Tag: Subdivide By Values",
                            "Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names"}) {
        setDefault(QString::fromUtf8(key), true);
        m_defaultsSet << QString::fromUtf8(key);
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(subdivide(row), row.expected);
    }
}

} // namespace
