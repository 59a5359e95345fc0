// Movie records: proxies and identity, the settings and their load clean-ups, measures,
// dates and playback position, names, tool tips and the search test.
#include "ModelFixture.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMCachedSettings.h"
#include "platform/Alert.h"
#include "platform/LegacyArchive.h"
#include "library/model/PMMovie.h"

#include <QtGui/QImage>

#include <atomic>
#include <thread>

using platform::Date;
using platform::Value;

namespace {

struct CachedSettingsScope {
    CachedSettingsScope() = default;
    ~CachedSettingsScope()
    {
        PMCachedSettings::determineFuzzyOldestDate = false;
        PMCachedSettings::determineFuzzyOldestDateUseCreationDate = false;
        PMCachedSettings::determineNamesAutomatically = false;
    }
};

PMMovieRepresentationOriginalPtr recordAt(const QString& path)
{
    return PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
}

} // namespace

class MovieRecordTest : public ModelTest {
protected:
    CachedSettingsScope cachedSettings;
};

TEST_F(MovieRecordTest, ProxiesShareTheOriginalAndKeepTheirOwnSortingDates)
{
    PMMovieRepresentationOriginalPtr original = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
    PMMovieRepresentationProxyPtr a = original->proxy();
    PMMovieRepresentationProxyPtr b = original->staticPlaylistProxy();
    PMMovieRepresentationProxyPtr fan = original->fanOutProxy();

    // A proxy of a proxy is a plain proxy of the original.
    PMMovieRepresentationProxyPtr again = fan->proxy();
    EXPECT_EQ(again->proxyOriginal(), original);
    EXPECT_FALSE(again->isFanOutProxy());
    EXPECT_EQ(fan->fanOutProxy(), nullptr);
    EXPECT_EQ(original->proxyOriginal(), nullptr);
    EXPECT_TRUE(PMIsSameItem(b->nonProxySelf(), original->itemValue()));
    EXPECT_TRUE(b->isStaticPlaylistProxy() && !b->isFanOutProxy() && !b->isSearchResultProxy());

    // Changes through any proxy are seen through all of them.
    a->setRating(4);
    b->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    fan->setDisplayName(QStringLiteral("Holiday"));
    for (PMMovieRepresentationPrototype* record : std::initializer_list<PMMovieRepresentationPrototype*>{original.get(), a.get(), b.get(), fan.get()}) {
        EXPECT_EQ(record->rating(), 4);
        EXPECT_EQ(record->cachedLowercaseValueForLowercaseTag(QStringLiteral("genre")), QStringLiteral("drama"));
        EXPECT_EQ(record->displayName(), QStringLiteral("Holiday"));
        EXPECT_EQ(record->uniqueLibraryID(), original->uniqueLibraryID());
    }
    EXPECT_EQ(a->userSettings(), original->userSettings());

    // Sorting-context dates are each proxy's own.
    a->setNewestDateInSortingContext(Date{1000});
    b->setNewestDateInSortingContext(Date{2000});
    EXPECT_EQ(a->newestDateInSortingContext(), Date{1000});
    EXPECT_EQ(b->newestDateInSortingContext(), Date{2000});
    EXPECT_EQ(fan->newestDateInSortingContext(), original->newestDate());

    // A proxy is no dictionary.
    const int beeps = platform::beepCount();
    EXPECT_TRUE(a->objectForKey(QStringLiteral("Name")).isNull());
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_TRUE(original->description().startsWith(QStringLiteral("<PMMovieRepresentationOriginal: /media/test/Movies/Trip.mov 0x")));
    EXPECT_TRUE(fan->description().startsWith(QStringLiteral("<PMMovieRepresentationFanOutProxy: ")));
}

TEST_F(MovieRecordTest, SettingsKeepTheirTypesAndLoadCleansUp)
{
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    platform::DictionaryPtr s = m->userSettings();
    EXPECT_TRUE(s->value(QStringLiteral("Added Timestamp")).hasNumericValue()) << "a new record is stamped";

    m->setRating(3);
    EXPECT_EQ(s->value(QStringLiteral("Rating")), Value(3));
    m->setRating(0);
    EXPECT_FALSE(s->contains(QStringLiteral("Rating")));
    EXPECT_EQ(m->rating(), 0);

    m->setValue(QStringLiteral("x"), QStringLiteral("Genre"));
    EXPECT_TRUE(s->contains(QStringLiteral("Tags")));
    m->setTags(platform::Dictionary::make());
    EXPECT_FALSE(s->contains(QStringLiteral("Tags"))) << "no empty tag dictionary is stored";

    m->setSeriesID(QStringLiteral("S1"), 7);
    EXPECT_EQ(s->value(QStringLiteral("Series")), Value(QStringLiteral("S1:7")));
    EXPECT_EQ(m->seriesIDPrefix(), QStringLiteral("S1:"));
    m->setSeriesID(QString(), 0);
    EXPECT_EQ(m->seriesIDPrefix(), QString());

    m->setIsMoving(true);
    EXPECT_FALSE(m->canPlay());
    m->setIsMoving(false);
    EXPECT_FALSE(s->contains(QStringLiteral("Moving")));

    m->setApplicationPath(QDir::homePath() + QStringLiteral("/bin/viewer"));
    EXPECT_EQ(s->value(QStringLiteral("Application Path")), Value(QStringLiteral("~/bin/viewer")));
    EXPECT_EQ(m->applicationPath(), QDir::homePath() + QStringLiteral("/bin/viewer"));
    m->setApplicationPath(QString());
    EXPECT_FALSE(s->contains(QStringLiteral("Application Path")));

    // A saved item from an older library.
    const Date legacy{800000000};
    auto saved = platform::Dictionary::make({{QStringLiteral("Auto-Tag XML Items"), true}, {QStringLiteral("Moving"), true},
        {QStringLiteral("Plays Frame Images"), true}, {QStringLiteral("Unique ID"), QStringLiteral("ABC")}});
    saved->setValue(QStringLiteral("Date"), platform::archiveLegacyObject(Value(legacy)));
    PMMovieRepresentationOriginalPtr loaded = recordAt(QStringLiteral("/media/test/Movies/b.mov"));
    loaded->loadUserSettings(saved);
    platform::DictionaryPtr ls = loaded->userSettings();
    EXPECT_FALSE(ls->contains(QStringLiteral("Auto-Tag XML Items")));
    EXPECT_FALSE(ls->contains(QStringLiteral("Moving")));
    EXPECT_FALSE(ls->contains(QStringLiteral("Plays Frame Images")));
    EXPECT_EQ(ls->value(QStringLiteral("Duration")), Value(0));
    EXPECT_EQ(loaded->uniqueLibraryID(), QStringLiteral("ABC"));
    // The legacy date is tried in place of the fresh stamp (this build reads no old
    // archives, so the record is stamped again) and then dropped.
    loaded->additionDate();
    EXPECT_FALSE(ls->contains(QStringLiteral("Date")));
    EXPECT_TRUE(ls->contains(QStringLiteral("Added Timestamp")));
    auto current = platform::Dictionary::make();
    setDate(*current, legacy, QStringLiteral("Added Timestamp"));
    PMMovieRepresentationOriginalPtr reloaded = recordAt(QStringLiteral("/media/test/Movies/c.mov"));
    reloaded->loadUserSettings(current);
    EXPECT_EQ(reloaded->additionDate(), legacy);
    EXPECT_FALSE(loaded->isMoving());

    // A stored NO counts as much as a YES: the flag goes and the duration is measured again.
    PMMovieRepresentationOriginalPtr frames = recordAt(QStringLiteral("/media/test/Movies/d.mov"));
    frames->loadUserSettings(platform::Dictionary::make({{QStringLiteral("Plays Frame Images"), false}, {QStringLiteral("Duration"), 12}}));
    EXPECT_FALSE(frames->userSettings()->contains(QStringLiteral("Plays Frame Images")));
    EXPECT_EQ(frames->userSettings()->value(QStringLiteral("Duration")), Value(0));
}

TEST_F(MovieRecordTest, CounterAndDates)
{
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    EXPECT_TRUE(m->counterNumber().isNull());
    EXPECT_TRUE(isNeverDate(m->lastPlaybackDate()));

    m->incrementCounterOnlyIfNecessary(true);
    EXPECT_EQ(m->counter(), 1u);
    const Date first = m->lastPlaybackDate();
    EXPECT_FALSE(isNeverDate(first));
    m->userSettings()->setValue(QStringLiteral("Last Playback Timestamp"), 1.0); // long ago
    m->invalidateDates();
    m->incrementCounterOnlyIfNecessary(true);
    EXPECT_EQ(m->counter(), 1u) << "a record played before is left alone";
    EXPECT_EQ(m->lastPlaybackDate(), m->additionDate()) << "a last playback before the addition reads as the addition";
    m->incrementCounter();
    EXPECT_EQ(m->counter(), 2u);
    m->invalidateCounter();
    EXPECT_TRUE(m->counterNumber().isNull());
    EXPECT_TRUE(isNeverDate(m->lastPlaybackDate()));

    // Fuzzy oldest date: the end of the "year" tag's year when earlier.
    m->setValue(QStringLiteral("1990"), QStringLiteral("Year"));
    EXPECT_EQ(m->oldestDate(), m->additionDate());
    PMCachedSettings::determineFuzzyOldestDate = true;
    m->invalidateFuzzyDates();
    EXPECT_EQ(m->oldestDate(), dateWithEndOfYear(1990));
    EXPECT_EQ(m->newestDate(), m->additionDate());
    // The year is the tag's leading number, whatever follows it.
    const struct {
        const char* tag;
        long year; // 0: no oldest date from the tag
    } years[] = {{"1990, 1991", 1990}, {"1990s", 1990}, {"1990-05-04", 1990}, {" 1985", 1985}, {"circa 1990", 0}, {"", 0}};
    for (const auto& y : years) {
        SCOPED_TRACE(y.tag);
        m->setValue(QString::fromUtf8(y.tag), QStringLiteral("Year"));
        m->invalidateFuzzyDates();
        EXPECT_EQ(m->oldestDate(), y.year ? dateWithEndOfYear(y.year) : m->additionDate());
        EXPECT_EQ(m->valueForListID(QStringLiteral("GroupListOldestDate"), true).isNull(), y.year != 0);
    }
}

TEST_F(MovieRecordTest, PlaybackPositionBoundaries)
{
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    struct Case {
        double stoppedAt;
        qint64 duration;
        bool kept;
    };
    const Case cases[] = {
        {300, 600, true},   // in the middle
        {599, 600, false},  // 599 is not below 598
        {597.4, 600, true}, // rounds to 597
        {0.05, 600, false}, // within the first tenth of a second
        {0.4, 600, true},   // a part of a second counts as one
        {1.0, 600, true},
        {2, 3, false},      // a clip of three seconds has no middle
    };
    for (const Case& c : cases) {
        m->userSettings()->setValue(QStringLiteral("Last Playback: Position"), 42.0);
        m->savePlaybackPosition(c.stoppedAt, c.duration);
        EXPECT_EQ(m->userSettings()->contains(QStringLiteral("Last Playback: Position")), c.kept) << c.stoppedAt << " of " << c.duration;
        EXPECT_EQ(m->restorePlaybackPosition(c.duration), c.kept ? c.stoppedAt : 0.0) << c.stoppedAt << " of " << c.duration;
    }

    // An unknown duration leaves the stored position alone.
    m->savePlaybackPosition(300, 600);
    m->savePlaybackPosition(10, 0);
    EXPECT_EQ(doubleValueOfObjectForKey(m->userSettings(), QStringLiteral("Last Playback: Position")), 300.0);

    // Three days old: too old with the default limit, unless asked to resume regardless once.
    setDate(*m->userSettings(), Date{Date::now().secondsSince1970 - 3 * 86400}, QStringLiteral("Last Playback: Timestamp"));
    EXPECT_EQ(m->restorePlaybackPosition(600), 0.0);
    m->goToTimestamp(120, false);
    EXPECT_EQ(m->restorePlaybackPosition(600), 120.0);
    EXPECT_EQ(m->restorePlaybackPosition(600), 0.0) << "resuming regardless works once";
    setDefault(QStringLiteral("Resume: Timestamp Limit"), 0);
    EXPECT_EQ(m->restorePlaybackPosition(600), 120.0);
    setDefault(QStringLiteral("Resume: Duration Threshold"), 900);
    EXPECT_EQ(m->restorePlaybackPosition(600), 0.0) << "shorter than the threshold";
}

TEST_F(MovieRecordTest, PixelSizes)
{
    PMMovieRepresentationOriginalPtr movie = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    movie->userSettings()->setValue(QStringLiteral("Asset Size"), QStringLiteral("{1920, 1080}"));
    EXPECT_EQ(movie->assetSizeDescription(), QStringLiteral("1920\u2006×\u20061080"));
    EXPECT_EQ(movie->valueForListID(QStringLiteral("GroupListWidth"), false), Value(QStringLiteral("1920")));
    movie->userSettings()->setValue(QStringLiteral("Angle"), 90);
    EXPECT_EQ(movie->assetSizeIfCached(true), QSizeF(1080, 1920));
    EXPECT_EQ(movie->userSettings()->value(QStringLiteral("Asset Size")), Value(QStringLiteral("{1920, 1080}"))) << "a movie keeps its own size";
    movie->userSettings()->setValue(QStringLiteral("Aspect Ratio"), 0.5);
    EXPECT_EQ(movie->assetSizeIfCached(true), QSizeF(1080, 540));

    // A still picture stores the size it shows.
    const QString dir = testsupport::makeTempDir();
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(dir + QStringLiteral("/p.png")));
    PMMovieRepresentationOriginalPtr still = recordAt(dir + QStringLiteral("/p.png"));
    still->userSettings()->setValue(QStringLiteral("Angle"), 90);
    EXPECT_EQ(still->assetSizeIfCached(false), QSizeF(20, 40));
    EXPECT_EQ(still->userSettings()->value(QStringLiteral("Asset Size")), Value(QStringLiteral("{20, 40}")));
}

TEST_F(MovieRecordTest, DisplayNamesAndRenames)
{
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
    struct Case {
        const char* name; // "Name" setting, empty for none
        bool showExtensions;
        const char* shown;
    };
    const Case cases[] = {
        {"", false, "Trip"},
        {"", true, "Trip.mov"},
        {"Holiday.MOV", false, "Holiday"},
        {"Holiday.MOV", true, "Holiday.MOV"},
        {"Holiday", true, "Holiday.mov"},
    };
    for (const Case& c : cases) {
        setDefault(QStringLiteral("Show File Extensions"), c.showExtensions);
        setOrRemoveObject(*m->userSettings(), *c.name ? Value(QString::fromUtf8(c.name)) : Value(), QStringLiteral("Name"));
        m->invalidateDisplayNameRecursively();
        EXPECT_EQ(m->displayName(), QString::fromUtf8(c.shown)) << c.name << " " << c.showExtensions;
    }
    setDefault(QStringLiteral("Show File Extensions"), false);
    m->userSettings()->remove(QStringLiteral("Name"));
    m->invalidateDisplayNameRecursively();
    EXPECT_EQ(m->readableLocationPrefixedByDisplayNameIfDifferent(), m->readableLocation());

    // The first rename records the former name; later ones keep it.
    setDefault(QStringLiteral("Original Name Tag"), QStringLiteral(" Former Name "));
    m->setDisplayName(QStringLiteral("Trip"));
    EXPECT_EQ(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("former name")), QString()) << "the same name is no rename";
    m->setDisplayName(QStringLiteral("Holiday"));
    m->setDisplayName(QStringLiteral("Summer"));
    EXPECT_EQ(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("former name")), QStringLiteral("trip"));
    EXPECT_EQ(m->displayName(), QStringLiteral("Summer"));
    EXPECT_EQ(m->readableLocationPrefixedByDisplayNameIfDifferent(), QStringLiteral("Summer — ") + m->readableLocation());
    m->setDisplayName(QString());
    EXPECT_FALSE(m->userSettings()->contains(QStringLiteral("Name")));

    // Suggested file names are safe.
    m->setDisplayName(QStringLiteral("a/b: c"));
    EXPECT_EQ(m->suggestedFilename(), QStringLiteral("a|b c.mov"));
    m->userSettings()->setValue(QStringLiteral("Auto-Filename"), QStringLiteral("Chosen.mov"));
    EXPECT_EQ(m->suggestedFilename(), QStringLiteral("Chosen.mov"));

    // File name extensions with a blank are none.
    EXPECT_EQ(recordAt(QStringLiteral("/tmp/x/Report v1. final"))->filenameExtension(), QString());
    EXPECT_EQ(recordAt(QStringLiteral("/tmp/x/.hidden"))->filenameExtension(), QString());
}

TEST_F(MovieRecordTest, ALocalFilesNameComesFromItsPathWithoutAURL)
{
    setDefault(QStringLiteral("Show File Extensions"), true);
    struct Case {
        const char* path;
        const char* shown;
    };
    const Case cases[] = {
        {"/media/test/Movies/Trip.mov", "Trip.mov"},
        {"/media/test/100%25 Nuts.mov", "100%25 Nuts.mov"}, // the file's own characters, never decoded
        {"/media/test/Ærø 東京.gif", "Ærø 東京.gif"},
    };
    for (const Case& c : cases) {
        // Made from a path, as a library's load makes its records.
        auto m = std::make_shared<PMMovieRepresentationOriginal>(QString::fromUtf8(c.path));
        EXPECT_EQ(m->displayName(), QString::fromUtf8(c.shown)) << c.path;
        EXPECT_EQ(m->displayNameWithExtension(false), QString::fromUtf8(c.shown).section(u'.', 0, 0)) << c.path;
        // A load names every record: a URL made for the name would stay with each.
        EXPECT_FALSE(m->m_URL.has_value()) << c.path;
    }
    // A record of a remote URL is named by its URL's decoded last part.
    PMMovieRepresentationOriginalPtr remote = PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl(QStringLiteral("http://example.test/a%20b.mov")));
    EXPECT_EQ(remote->displayName(), QStringLiteral("a b.mov"));
    setDefault(QStringLiteral("Show File Extensions"), false);
}

TEST_F(MovieRecordTest, ToolTipTruncation)
{
    QString manyNames;
    QStringList names;
    for (int i = 0; i < 60; ++i)
        names << QStringLiteral("Person %1").arg(i, 2, 10, QLatin1Char('0')); // 9 characters each
    manyNames = names.join(QStringLiteral(", "));
    const QString longWords = QString(QStringLiteral("word ")).repeated(150).trimmed();
    const QString oneBlock = QString(600, u'x');

    struct Case {
        QString value;
        qsizetype threshold;
        QString expected;
    };
    QStringList fitting;
    qsizetype length = 0;
    for (const QString& n : names) {
        if (length + n.size() + 2 > 500)
            break;
        length += n.size() + 2;
        fitting << n;
    }
    const Case cases[] = {
        {QStringLiteral("short"), 500, QStringLiteral("short")},
        {manyNames, 500, (fitting + QStringList{QStringLiteral("…")}).join(QStringLiteral(", "))},
        {longWords, 500, longWords.left(500).left(longWords.left(500).lastIndexOf(u' ')) + QStringLiteral(" …")},
        {oneBlock, 500, QString(500, u'x') + QStringLiteral("…")},
        {oneBlock, 0, oneBlock},
    };
    for (const Case& c : cases) {
        setDefault(QStringLiteral("Tool Tips: Truncation Threshold"), (long long)c.threshold);
        PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
        m->setValue(c.value, QStringLiteral("Cast"));
        const QStringList lines = m->toolTip().split(u'\n');
        ASSERT_GE(lines.size(), 3);
        EXPECT_EQ(lines.at(0), QStringLiteral("Trip"));
        EXPECT_EQ(lines.at(2), QStringLiteral("• Cast: ") + c.expected) << c.value.left(20).toStdString() << " " << c.threshold;
    }

    PMMovieRepresentationOriginalPtr missing = recordAt(QStringLiteral("/media/test/Movies/Gone.mov"));
    missing->setMissing(true, false);
    EXPECT_TRUE(missing->toolTip().endsWith(QStringLiteral("\n\nMissing: /media/test/Movies/Gone.mov")));
}

TEST_F(MovieRecordTest, RatingAndTextSearch)
{
    struct Case {
        const char* search;
        int rating;
        bool match;
    };
    const Case cases[] = {
        {"***", 3, true}, {"***", 4, false}, {"***", 2, false}, {"***+", 3, true}, {"***+", 5, true},
        {"***+", 2, false}, {"***-", 2, true}, {"***-", 3, false}, {"***-", 0, true}, {"*", 1, true},
    };
    for (const Case& c : cases) {
        PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
        m->setRating(c.rating);
        EXPECT_EQ(m->isMatchForSearchString(QString::fromUtf8(c.search), false, true, false), c.match) << c.search << " rating " << c.rating;
    }

    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
    m->setValue(QStringLiteral("Alice, Bob"), QStringLiteral("Cast"));
    m->userSettings()->setValue(QStringLiteral("Original URL"), QStringLiteral("https://example.org/clip"));
    EXPECT_TRUE(m->isMatchForSearchString(QStringLiteral("TRIP"), true, false, false));
    EXPECT_TRUE(m->isMatchForSearchString(QStringLiteral("bob"), false, true, false));
    EXPECT_TRUE(m->isMatchForSearchString(QStringLiteral("cast"), false, true, false));
    EXPECT_FALSE(m->isMatchForSearchString(QStringLiteral("bob"), true, false, true));
    EXPECT_TRUE(m->isMatchForSearchString(QStringLiteral("example.org"), false, false, true));
    EXPECT_TRUE(m->isMatchForSearchString(QStringLiteral("movies/"), false, false, true));

    EXPECT_TRUE(m->isMatchForIdentifiers({m->uniqueLibraryID()}));
    m->setSeriesID(QStringLiteral("S"), 1);
    EXPECT_TRUE(m->isMatchForIdentifiers({QStringLiteral("S:")}));
}

TEST_F(MovieRecordTest, ListColumns)
{
    QStringList ids;
    PMMovieRepresentationPrototype::valueLabelsByListIDForSeries(false, &ids);
    EXPECT_FALSE(ids.contains(QStringLiteral("GroupListOldestDate")));
    PMCachedSettings::determineFuzzyOldestDate = true;
    ids.clear();
    const platform::DictionaryPtr labels = PMMovieRepresentationPrototype::valueLabelsByListIDForSeries(true, &ids);
    EXPECT_EQ(ids.indexOf(QStringLiteral("GroupListOldestDate")), ids.indexOf(QStringLiteral("GroupListCreationDate")) - 1);
    EXPECT_EQ(labels->value(QStringLiteral("GroupListDate")), Value(QStringLiteral("Last Added")));
    PMCachedSettings::determineFuzzyOldestDate = false;

    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
    m->setDuration(3725);
    m->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    EXPECT_EQ(m->valueForListID(QStringLiteral("GroupListTime"), false), Value(QStringLiteral("1:02:05")));
    EXPECT_EQ(m->valueForListID(QStringLiteral("GroupListCounter"), true), Value(0));
    EXPECT_EQ(m->valueForListID(QStringLiteral("AccessoryTagListName: genre"), false), Value(QStringLiteral("Drama")));
    EXPECT_TRUE(m->valueForListID(QStringLiteral("GroupListPlaybackDate"), false).isNull());
    m->setDuration(0);
    EXPECT_EQ(m->valueForListID(QStringLiteral("GroupListTime"), false), Value(QStringLiteral("-")));
}

TEST_F(MovieRecordTest, GettersAreSafeFromSeveralThreads)
{
    // The sort engine warms these from several threads at once, through originals and
    // proxies alike; the records must answer the same as on the main thread.
    PMCachedSettings::determineFuzzyOldestDate = true;
    std::vector<PMMovieRepresentationOriginalPtr> originals;
    std::vector<std::shared_ptr<PMMovieRepresentationPrototype>> records;
    for (int i = 0; i < 200; ++i) {
        auto m = recordAt(QStringLiteral("/media/test/Movies/Clip %1.mov").arg(i));
        m->setValue(QString::number(1980 + i % 30), QStringLiteral("Year"));
        m->setValue(QStringLiteral("B, A"), QStringLiteral("Cast"));
        m->setSeriesID(QStringLiteral("S%1").arg(i % 7), std::uint64_t(i));
        m->invalidateDates();
        originals.push_back(m);
        records.push_back(m);
        records.push_back(m->proxy());
        records.push_back(m->fanOutProxy());
    }
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < records.size(); ++i) {
                PMMovieRepresentationPrototype& r = *records[(i * 7 + size_t(t) * 13) % records.size()];
                r.displayName();
                r.sortName();
                r.seriesSortName();
                r.oldestDate();
                r.newestDate();
                r.lastPlaybackDate();
                r.additionDate();
                r.counter();
                r.rating();
                r.duration();
                r.cachedLowercaseValuesForLowercaseTag(QStringLiteral("cast"));
                r.cachedSubdivisionTags();
                if (r.cachedLowercaseValueForLowercaseTag(QStringLiteral("cast")) != QStringLiteral("b, a"))
                    ++mismatches;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
    for (const auto& m : originals)
        EXPECT_EQ(m->oldestDate(), dateWithEndOfYear(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("year")).toLong()));
}

TEST_F(MovieRecordTest, RotationAndFlip)
{
    struct Case {
        int from;
        int by;
        int to;
    };
    const Case cases[] = {{0, 90, 90}, {30, 90, 90}, {30, -90, 0}, {0, -90, 270}, {270, 90, 0}, {0, 720, 0}, {10, 5, 15}, {0, -450, 270}};
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    platform::DictionaryPtr s = m->userSettings();
    for (const Case& c : cases) {
        setOrRemoveObject(*s, c.from ? Value(c.from) : Value(), QStringLiteral("Angle"));
        s->setValue(QStringLiteral("Visible Area"), platform::Dictionary::make({{QStringLiteral("x"), 0.1}, {QStringLiteral("w"), 0.5}}));
        s->setValue(QStringLiteral("Aspect Ratio"), 2.0);
        m->proxy()->rotateByAngle(c.by);
        EXPECT_EQ(m->angle(), c.to) << c.from << " by " << c.by;
        EXPECT_EQ(s->contains(QStringLiteral("Angle")), c.to != 0) << "no angle 0 is stored";
        EXPECT_FALSE(s->contains(QStringLiteral("Visible Area")) || s->contains(QStringLiteral("Aspect Ratio")));
    }

    s->setValue(QStringLiteral("Visible Area"), platform::Dictionary::make({{QStringLiteral("x"), 0.1}, {QStringLiteral("w"), 0.5}}));
    m->setFlippedHorizontally(true);
    EXPECT_TRUE(m->isFlippedHorizontally());
    EXPECT_DOUBLE_EQ(doubleValueOfObjectForKey(s->value(QStringLiteral("Visible Area")).dictionary(), QStringLiteral("x")), 0.4);
    m->setFlippedHorizontally(true); // unchanged: not mirrored again
    EXPECT_DOUBLE_EQ(doubleValueOfObjectForKey(s->value(QStringLiteral("Visible Area")).dictionary(), QStringLiteral("x")), 0.4);

    EXPECT_FALSE(m->isConsideredStillImage());
    EXPECT_TRUE(recordAt(QStringLiteral("/media/test/p.JPG"))->isConsideredStillImage());
    EXPECT_FALSE(recordAt(QStringLiteral("/media/test/noextension"))->isConsideredStillImage());
}

TEST_F(MovieRecordTest, TheMovieObjectAndFrameImages)
{
    PMMovieRepresentationServices& services = PMMovieRepresentationServices::shared();
    const auto oldServices = services;
    std::vector<double> libraryUpdates;
    int previewUpdates = 0, positionsSaved = 0;
    services.updateLibraryAfterDelay = [&](double delay) { libraryUpdates.push_back(delay); };
    services.updatePreviewForMovieRepresentation = [&](PMMovieRepresentationPrototype&) { return ++previewUpdates, true; };
    services.savePlaybackPosition = [&](PMMovieRepresentationPrototype&) { ++positionsSaved; };

    // Made once, kept, shared with proxies, told of quarter turns, released by clearMovie.
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    const std::shared_ptr<class PMMovie> movie = m->movie();
    ASSERT_TRUE(movie);
    EXPECT_EQ(m->proxy()->movie(), movie);
    EXPECT_FALSE(movie->rotatesNaturalSize());
    m->rotateByAngle(90);
    EXPECT_TRUE(movie->rotatesNaturalSize());
    m->rotateByAngle(90);
    EXPECT_FALSE(movie->rotatesNaturalSize());
    m->clearMovie();
    EXPECT_EQ(positionsSaved, 1);
    EXPECT_NE(m->movie(), movie);

    // A still image played with others as frames forgets them when its movie goes.
    PMMovieRepresentationOriginalPtr still = recordAt(QStringLiteral("/media/test/p1.png"));
    still->setDuration(3);
    still->setFrameImageMovieRepresentations(std::make_shared<const PMMovieRepresentationPrototype::FrameImageMovieRepresentations>(
        PMMovieRepresentationPrototype::FrameImageMovieRepresentations{{QUrl::fromLocalFile(QStringLiteral("/media/test/p2.png")), QStringLiteral("P2")}}));
    EXPECT_TRUE(boolValueOfObjectForKey(still->userSettings(), QStringLiteral("Plays Frame Images")));
    ASSERT_TRUE(still->movie());
    still->proxy()->clearMovie();
    EXPECT_FALSE(still->frameImageMovieRepresentations());
    EXPECT_FALSE(still->userSettings()->contains(QStringLiteral("Plays Frame Images")));
    EXPECT_EQ(still->durationIfCached(true), 0);
    EXPECT_EQ(previewUpdates, 1);
    EXPECT_EQ(libraryUpdates, std::vector<double>{1.0});
    EXPECT_EQ(positionsSaved, 1); // no position for frame images
    services = oldServices;
}

TEST_F(MovieRecordTest, AutomaticNamesRecordTheFormerNameOnce)
{
    PMCachedSettings::determineNamesAutomatically = true;
    PMMovieRepresentationServices::shared().tagBasedDisplayName = [](PMMovieRepresentationPrototype& r) {
        return r.cachedLowercaseValueForLowercaseTag(QStringLiteral("title")).toUpper();
    };
    setDefault(QStringLiteral("Original Name Tag"), QStringLiteral("Former"));
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/Trip.mov"));
    m->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Typed"));
    m->setValue(QStringLiteral("Sea"), QStringLiteral("Title"));
    EXPECT_EQ(m->displayName(), QStringLiteral("SEA"));
    EXPECT_FALSE(m->userSettings()->contains(QStringLiteral("Name"))) << "automatic names store no name";
    EXPECT_EQ(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("former")), QStringLiteral("typed"));
    m->setValue(QStringLiteral("Lake"), QStringLiteral("Title"));
    EXPECT_EQ(m->displayName(), QStringLiteral("LAKE"));
    EXPECT_EQ(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("former")), QStringLiteral("typed")) << "the first name is kept";
    EXPECT_EQ(m->suggestedFilename(), QStringLiteral("LAKE.mov"));

    // Without a name from tags the record is "?".
    PMMovieRepresentationOriginalPtr untitled = recordAt(QStringLiteral("/media/test/Movies/Plain.mov"));
    EXPECT_EQ(untitled->displayName(), QStringLiteral("?"));
    PMMovieRepresentationServices::shared().tagBasedDisplayName = nullptr;
}

TEST_F(MovieRecordTest, GettersInASideEffectFreeScopeChangeNothing)
{
    PMMovieRepresentationOriginalPtr m = recordAt(QStringLiteral("/media/test/Movies/a.mov"));
    m->userSettings()->remove(QStringLiteral("Added Timestamp"));
    m->invalidateDates();
    setDefault(QStringLiteral("Import Metadata: Internal"), true);
    PMMovieRepresentationServices::shared().importTagNames = [] { return QStringList{QStringLiteral("Album")}; };
    const platform::DictionaryPtr before = deeplyMutableCopy(m->userSettings());
    {
        PMSideEffectFreeGetters pure;
        EXPECT_FALSE(PMRecordGettersMayChangeRecords());
        EXPECT_EQ(m->duration(), -1);
        EXPECT_FALSE(PMIsDurationComputationInFlight(m->uniqueLibraryID()));
        m->additionDate();
        m->creationDate();
        m->cachedTags();
        m->displayName();
        EXPECT_FALSE(m->hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce());
    }
    EXPECT_TRUE(PMRecordGettersMayChangeRecords());
    EXPECT_EQ(Value(m->userSettings()), Value(before));
    PMMovieRepresentationServices::shared().importTagNames = nullptr;
}
