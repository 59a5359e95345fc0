// Tags: own tags merged with imported ones, the per-tag caches, and the background reads
// of embedded metadata and durations on fixture files made by ffmpeg.
#include "ModelFixture.h"

#include "common/MediaFixtures.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMLibraryItemArrays.h"
#include "platform/ExtendedAttributes.h"
#include "platform/Queues.h"

#include <QtCore/QCoreApplication>

#include <sched.h>

#include <algorithm>
#include <atomic>

using platform::Value;

namespace {

const QStringList kImportNames = {QStringLiteral("Tags"), QStringLiteral("Notes"), QStringLiteral("Album"), QStringLiteral("Artist"),
    QStringLiteral("Genre"), QStringLiteral("Season"), QStringLiteral("Series"), QStringLiteral("Episode"), QStringLiteral("Year"),
    QStringLiteral("Cast"), QStringLiteral("Directors")};

// Runs the crawl queue dry and delivers what it handed to the main thread.
void settleBackgroundWork()
{
    for (int i = 0; i < 3; ++i) {
        PMCrawlQueue::waitUntilEmpty();
        QCoreApplication::processEvents();
    }
}

QString value(const platform::DictionaryPtr& tags, const QString& key)
{
    const platform::DictionaryPtr entry = tags ? tags->value(key).dictionary() : nullptr;
    return entry ? entry->value(QStringLiteral("Value")).string() : QString();
}

} // namespace

class MovieRecordTagsTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        PMMovieRepresentationServices::shared().importTagNames = [] { return kImportNames; };
        setDefault(QStringLiteral("Import Metadata: Internal"), true);
    }
    void TearDown() override
    {
        settleBackgroundWork();
        PMMovieRepresentationServices::shared().importTagNames = nullptr;
        ModelTest::TearDown();
    }
    // A record whose imported raw dictionary is given (no file is read).
    static PMMovieRepresentationOriginalPtr withImported(const platform::DictionaryPtr& raw)
    {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/none.mov"));
        m->setMissing(true, false); // nothing to read
        m->userSettings()->setValue(QStringLiteral("Tags: Imported"), raw);
        m->invalidateCachedTags();
        return m;
    }
};

TEST_F(MovieRecordTagsTest, OwnTagsMergeWithImportedOnes)
{
    auto m = withImported(platform::Dictionary::make({{QStringLiteral("itsk/%A9gen"), QStringLiteral("Drama")},
        {QStringLiteral("itsk/%A9alb"), QStringLiteral("Album")}, {QStringLiteral("com.tolvane.meta/notes"), QStringLiteral("one, two")}}));
    EXPECT_EQ(value(m->cachedTags(), QStringLiteral("genre")), QStringLiteral("Drama"));

    // Equal to the imported value: nothing stored.
    m->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    EXPECT_FALSE(m->userSettings()->contains(QStringLiteral("Tags")));
    // An empty own value hides the imported tag; removing it shows it again.
    m->setValue(QString(), QStringLiteral("Genre"));
    EXPECT_FALSE(m->cachedTags()->contains(QStringLiteral("genre")));
    m->setTags(platform::Dictionary::make());
    EXPECT_EQ(value(m->cachedTags(), QStringLiteral("genre")), QStringLiteral("Drama"));
    // An empty own value without an imported one is dropped.
    m->setValue(QString(), QStringLiteral("Mood"));
    EXPECT_FALSE(m->userSettings()->contains(QStringLiteral("Tags")));

    // Notes stay whole; other tags split into values.
    EXPECT_EQ(m->cachedLowercaseValuesForLowercaseTag(QStringLiteral("notes")), QStringList{QStringLiteral("one, two")});
    m->setValue(QStringLiteral("one, two"), QStringLiteral("Cast"));
    EXPECT_EQ(m->cachedLowercaseValuesForLowercaseTag(QStringLiteral("cast")), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));

    // Values added and taken away, kept in sort order, compared ignoring case.
    m->addValue(QStringLiteral("Anna"), QStringLiteral("Cast"));
    m->addValue(QStringLiteral("ONE"), QStringLiteral("Cast"));
    EXPECT_EQ(value(m->cachedTags(), QStringLiteral("cast")), QStringLiteral("Anna, one, two"));
    m->subtractValue(QStringLiteral("TWO"), QStringLiteral("Cast"));
    EXPECT_EQ(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("cast")), QStringLiteral("anna, one"));
    m->subtractValue(QStringLiteral("anna"), QStringLiteral("Cast"));
    m->subtractValue(QStringLiteral("one"), QStringLiteral("Cast"));
    EXPECT_FALSE(m->cachedTags()->contains(QStringLiteral("cast")));

    // "?" stands for any tag.
    EXPECT_FALSE(m->cachedLowercaseValueForLowercaseTag(QStringLiteral("?")).isEmpty());
    auto untagged = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/plain.mov"));
    untagged->setMissing(true, false);
    EXPECT_EQ(untagged->cachedLowercaseValueForLowercaseTag(QStringLiteral("?")), QString());

    // Merging another record's tags, notes left out.
    untagged->addTagValuesFromMovieRepresentation(*m, true);
    EXPECT_EQ(value(untagged->cachedTags(), QStringLiteral("genre")), QStringLiteral("Drama"));
    EXPECT_FALSE(untagged->cachedTags()->contains(QStringLiteral("notes")));

    // Subdivision branches add values and join series.
    auto branch = platform::Dictionary::make({{QStringLiteral("genre"),
        platform::Dictionary::make({{QStringLiteral("Tag"), QStringLiteral("Genre")},
            {QStringLiteral("Values"), platform::Array::make({QStringLiteral("Comedy"), QStringLiteral("drama")})}})},
        {QStringLiteral("Series ID Prefix"), QStringLiteral("S9:")}});
    untagged->addTagValuesFromSubdivisionBranch(platform::Array::make({Value(branch)}));
    EXPECT_EQ(value(untagged->cachedTags(), QStringLiteral("genre")), QStringLiteral("Comedy, Drama"));
    EXPECT_EQ(untagged->seriesIDPrefix(), QStringLiteral("S9:"));
    EXPECT_EQ(value(untagged->cachedSubdivisionTags(), QStringLiteral("sequence")), QStringLiteral("S9:"));
    EXPECT_FALSE(untagged->fastTrackSubdivisionTagsDescription().contains(QStringLiteral("notes")));

    // The fast-track description tells apart tag sets whose values hold line breaks or "=".
    const auto described = [](std::initializer_list<std::pair<const char*, const char*>> tags) {
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/fast.mov"));
        record->setMissing(true, false);
        auto dictionary = platform::Dictionary::make();
        for (const auto& [name, text] : tags)
            dictionary->setValue(QString::fromUtf8(name), platform::Dictionary::make({{QStringLiteral("Tag"), QString::fromUtf8(name)},
                                                                                     {QStringLiteral("Value"), QString::fromUtf8(text)}}));
        record->userSettings()->setValue(QStringLiteral("Tags"), Value(dictionary));
        record->invalidateCachedTags();
        return record->fastTrackSubdivisionTagsDescription();
    };
    EXPECT_NE(described({{"a", "x\nb=y"}}), described({{"a", "x"}, {"b", "y"}}));
    EXPECT_NE(described({{"a", "x=y"}}), described({{"a=x", "y"}}));
    EXPECT_EQ(described({{"a", "x"}, {"b", "y"}}), described({{"b", "y"}, {"a", "x"}}));
    EXPECT_EQ(untagged->tagValueForListID(QStringLiteral("AccessoryTagListName: genre")), QStringLiteral("Comedy, Drama"));
}

TEST_F(MovieRecordTagsTest, ImportTable)
{
    auto cast = platform::Array::make({Value(platform::Dictionary::make({{QStringLiteral("name"), QStringLiteral("Zed")}})),
        Value(platform::Dictionary::make({{QStringLiteral("name"), QStringLiteral("Amy")}})), Value(QStringLiteral("not a dictionary"))});
    auto movi = platform::Dictionary::make({{QStringLiteral("cast"), cast}, {QStringLiteral("directors"), QStringLiteral("Kim, Lee")}});
    auto m = withImported(platform::Dictionary::make({
        {QStringLiteral("itsk/%A9day"), QStringLiteral("2019-05-04")},
        {QStringLiteral("itsk/tvsn"), 0},
        {QStringLiteral("itsk/tves"), 7},
        {QStringLiteral("itsk/%A9cmt"), QStringLiteral("from the file")},
        {QStringLiteral("itlk/com.apple.iTunes.iTunMOVI"), movi},
    }));
    const platform::DictionaryPtr tags = m->cachedTags();
    EXPECT_EQ(value(tags, QStringLiteral("year")), QStringLiteral("2019"));
    EXPECT_EQ(value(tags, QStringLiteral("season")), QStringLiteral("0"));
    EXPECT_EQ(value(tags, QStringLiteral("episode")), QStringLiteral("7"));
    EXPECT_EQ(value(tags, QStringLiteral("notes")), QStringLiteral("from the file"));
    EXPECT_EQ(value(tags, QStringLiteral("cast")), QStringLiteral("Amy, Zed"));
    EXPECT_EQ(value(tags, QStringLiteral("directors")), QStringLiteral("Kim, Lee"));

    setDefault(QStringLiteral("Import Metadata: Positive Numbers Only"), true);
    m->invalidateCachedTags();
    EXPECT_FALSE(m->cachedTags()->contains(QStringLiteral("season")));

    // Switching the import off forgets what was read.
    setDefault(QStringLiteral("Import Metadata: Internal"), false);
    m->invalidateCachedTags();
    EXPECT_TRUE(m->cachedTags()->isEmpty());
    EXPECT_FALSE(m->userSettings()->contains(QStringLiteral("Tags: Imported")));
}

TEST_F(MovieRecordTagsTest, EmbeddedMetadataIsReadOnTheCrawlQueue)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("meta"));
    const QString clip = dir + QStringLiteral("/clip.mp4");
    ASSERT_TRUE(testsupport::media::runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=c=black:s=32x16:d=2"),
        QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-metadata"), QStringLiteral("title=Clip Title"), QStringLiteral("-metadata"),
        QStringLiteral("album=The Album"), QStringLiteral("-metadata"), QStringLiteral("season_number=3"), QStringLiteral("-metadata"),
        QStringLiteral("comment=Embedded comment"), QStringLiteral("-metadata"),
        QStringLiteral("iTunMOVI=<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>cast</key><array><dict><key>name</key><string>Zed</string></dict>"
                       "<dict><key>name</key><string>Amy</string></dict></array></dict></plist>"),
        QStringLiteral("-movflags"), QStringLiteral("use_metadata_tags"), clip}));
    const QString broken = dir + QStringLiteral("/broken.mp4");
    ASSERT_TRUE(testsupport::media::runFFmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=c=black:s=32x16:d=1"),
        QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-metadata"), QStringLiteral("iTunMOVI=<plist><array/></plist>"),
        QStringLiteral("-metadata"), QStringLiteral("season_number=1e300"), QStringLiteral("-movflags"), QStringLiteral("use_metadata_tags"), broken}));

    int updates = 0;
    PMMovieRepresentationServices::shared().updateLibraryAfterDelay = [&](double) { ++updates; };
    auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(clip);
    EXPECT_TRUE(m->cachedTags()->isEmpty()) << "the first request starts the read and answers what is there";
    EXPECT_TRUE(m->hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce());
    settleBackgroundWork();
    EXPECT_EQ(updates, 1);
    const platform::DictionaryPtr tags = m->cachedTags();
    EXPECT_EQ(value(tags, QStringLiteral("album")), QStringLiteral("The Album"));
    EXPECT_EQ(value(tags, QStringLiteral("season")), QStringLiteral("3"));
    EXPECT_EQ(value(tags, QStringLiteral("notes")), QStringLiteral("Embedded comment"));
    EXPECT_EQ(value(tags, QStringLiteral("cast")), QStringLiteral("Amy, Zed"));
    const platform::DictionaryPtr raw = m->userSettings()->value(QStringLiteral("Tags: Imported")).dictionary();
    ASSERT_TRUE(raw);
    EXPECT_TRUE(raw->value(QStringLiteral("com.tolvane.meta/timestamp")).isInteger());
    EXPECT_EQ(raw->value(QStringLiteral("itsk/%A9nam")), Value(QStringLiteral("Clip Title")));

    // The title names the record when asked to.
    EXPECT_EQ(m->displayName(), QStringLiteral("clip"));
    setDefault(QStringLiteral("Import Metadata: Name"), true);
    m->invalidateDisplayNameRecursively();
    EXPECT_EQ(m->displayName(), QStringLiteral("Clip Title"));

    // Nothing changed on disk: the file is not read again.
    m->updateCachedFileMetadataTags();
    settleBackgroundWork();
    EXPECT_EQ(updates, 1);
    // A file comment changes the picture.
    if (platform::setFileComment(clip, QStringLiteral("  New note  "))) {
        m->updateCachedFileMetadataTags();
        settleBackgroundWork();
        EXPECT_EQ(updates, 2);
        EXPECT_EQ(value(m->cachedTags(), QStringLiteral("notes")), QStringLiteral("New note"));
    }

    // An iTunMOVI text that is no dictionary is left out.
    auto b = PMMovieRepresentationOriginal::movieRepresentationWithPath(broken);
    b->updateCachedFileMetadataTags();
    settleBackgroundWork();
    const platform::DictionaryPtr brokenRaw = b->userSettings()->value(QStringLiteral("Tags: Imported")).dictionary();
    ASSERT_TRUE(brokenRaw);
    EXPECT_FALSE(brokenRaw->contains(QStringLiteral("itlk/com.apple.iTunes.iTunMOVI")));
    // A whole number beyond any integer stays a real number.
    EXPECT_EQ(brokenRaw->value(QStringLiteral("itsk/tvsn")), Value(1e300));

    // A second request while the first one reads does nothing more.
    auto twice = PMMovieRepresentationOriginal::movieRepresentationWithPath(broken);
    const int updatesBefore = updates;
    twice->updateCachedFileMetadataTags();
    twice->updateCachedFileMetadataTags();
    settleBackgroundWork();
    EXPECT_EQ(updates, updatesBefore + 1);
    EXPECT_FALSE(PMIsMetadataReadInFlight(twice->uniqueLibraryID()));

    // A record renamed while its file is read keeps what it had.
    auto moved = PMMovieRepresentationOriginal::movieRepresentationWithPath(clip);
    moved->updateCachedFileMetadataTags();
    moved->setURL(QUrl::fromLocalFile(dir + QStringLiteral("/elsewhere.mp4")));
    settleBackgroundWork();
    EXPECT_FALSE(moved->userSettings()->contains(QStringLiteral("Tags: Imported")));
    // Paths are told apart by case too: a file renamed to other letter case is another path.
    auto recased = PMMovieRepresentationOriginal::movieRepresentationWithPath(clip);
    recased->updateCachedFileMetadataTags();
    recased->setURL(QUrl::fromLocalFile(dir + QStringLiteral("/CLIP.mp4")));
    settleBackgroundWork();
    EXPECT_FALSE(recased->userSettings()->contains(QStringLiteral("Tags: Imported")));
    PMMovieRepresentationServices::shared().updateLibraryAfterDelay = nullptr;
}

TEST_F(MovieRecordTagsTest, ALibraryOfFilesIsReadInBatches)
{
    // Files read for the first time, then unchanged, then one of them changed: each record
    // gets what its file holds, no record keeps a URL made for the read, unchanged files
    // are not read again, and the library is updated (and what was made from a record's
    // metadata dropped) only where a file says something new. The second library is large
    // enough to be prepared a slice per turn.
    for (const int count : {70, 3000}) {
        SCOPED_TRACE(count);
        const QString dir = testsupport::makeTempDir(QStringLiteral("meta-batch-%1").arg(count));
        std::vector<PMMovieRepresentationOriginalPtr> records;
        std::vector<PMMovieRepresentationOriginal*> pointers;
        for (int i = 0; i < count; ++i) {
            testsupport::writeFile(dir + QStringLiteral("/movie %1.mov").arg(i), QByteArray::number(i));
            // As the load makes them: from the path, the URL made only when asked for.
            records.push_back(std::make_shared<PMMovieRepresentationOriginal>(dir + QStringLiteral("/movie %1.mov").arg(i)));
            (void)records.back()->uniqueLibraryID();
            pointers.push_back(records.back().get());
        }
        int updates = 0;
        PMMovieRepresentationServices::shared().updateLibraryAfterDelay = [&](double) { ++updates; };
        const auto allRead = [&] {
            return std::all_of(records.begin(), records.end(), [](const PMMovieRepresentationOriginalPtr& record) {
                return record->userSettings()->contains(QStringLiteral("Tags: Imported")) && !PMIsMetadataReadInFlight(record->uniqueLibraryID());
            });
        };
        PMMovieRepresentationOriginal::refreshFileMetadataTags(pointers);
        // Asked again while the first is prepared or read: nothing is read twice.
        PMMovieRepresentationOriginal::refreshFileMetadataTags(pointers);
        for (int turn = 0; turn < 2000 && !allRead(); ++turn) {
            PMCrawlQueue::waitUntilEmpty();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        ASSERT_TRUE(allRead());
        settleBackgroundWork();
        EXPECT_EQ(updates, 0) << "files that say nothing change no tags";
        for (const PMMovieRepresentationOriginalPtr& record : records) {
            EXPECT_TRUE(record->hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce());
            const platform::DictionaryPtr raw = record->userSettings()->value(QStringLiteral("Tags: Imported")).dictionary();
            ASSERT_TRUE(raw);
            EXPECT_TRUE(raw->value(QStringLiteral("com.tolvane.meta/timestamp")).isInteger());
            EXPECT_FALSE(record->m_URL.has_value());
        }
        const platform::DictionaryPtr keptTags = records[1]->cachedTags();
        PMMovieRepresentationOriginal::refreshFileMetadataTags(pointers);
        settleBackgroundWork();
        EXPECT_EQ(updates, 0);
        if (platform::setFileComment(dir + QStringLiteral("/movie 0.mov"), QStringLiteral("A note"))) {
            PMMovieRepresentationOriginal::refreshFileMetadataTags(pointers);
            for (int turn = 0; turn < 2000 && updates == 0; ++turn) {
                PMCrawlQueue::waitUntilEmpty();
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
            settleBackgroundWork();
            EXPECT_EQ(updates, 1);
            EXPECT_EQ(value(records[0]->cachedTags(), QStringLiteral("notes")), QStringLiteral("A note"));
            EXPECT_EQ(records[1]->cachedTags(), keptTags) << "a record whose file said nothing new keeps its tags";
        }
        PMMovieRepresentationServices::shared().updateLibraryAfterDelay = nullptr;
    }
}

// The crawl queue (reads of the files' metadata, duration measures) runs on the background
// threads, at the idle scheduling class: a library's worth of it yields to the window.
TEST_F(MovieRecordTagsTest, CrawlWorkRunsOnTheIdleBackgroundThreads)
{
    std::atomic<int> onBackground{-1};
    std::atomic<int> idle{-1};
    PMCrawlQueue::async([&] {
        onBackground = platform::isBackgroundThread() ? 1 : 0;
        idle = sched_getscheduler(0) == SCHED_IDLE ? 1 : 0;
    });
    settleBackgroundWork();
    EXPECT_EQ(onBackground.load(), 1);
    EXPECT_EQ(idle.load(), 1);
}

TEST_F(MovieRecordTagsTest, DurationsAreMeasuredOnceInTheBackground)
{
    testsupport::media::Fixtures fixtures;
    const QString dir = testsupport::makeTempDir(QStringLiteral("durations"));
    QImage still(8, 8, QImage::Format_RGB32);
    still.fill(Qt::blue);
    ASSERT_TRUE(still.save(dir + QStringLiteral("/still.png")));
    testsupport::writeFile(dir + QStringLiteral("/junk.mp4"), QByteArray(100, 'x'));

    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(fixtures.numbered());
    auto gif = PMMovieRepresentationOriginal::movieRepresentationWithPath(fixtures.gif());
    auto picture = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/still.png"));
    auto junk = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/junk.mp4"));
    mainController()._nonProxyRawMovieRepresentationsByID.insert(movie->uniqueLibraryID(), movie);

    EXPECT_EQ(movie->durationIfCached(true), -1) << "only if cached: nothing starts";
    EXPECT_FALSE(PMIsDurationComputationInFlight(movie->uniqueLibraryID()));
    for (auto& record : {movie, gif, picture, junk})
        EXPECT_EQ(record->duration(), -1);
    EXPECT_TRUE(PMIsDurationComputationInFlight(movie->uniqueLibraryID()));
    EXPECT_EQ(movie->duration(), -1) << "a second request while one is in flight starts nothing";
    settleBackgroundWork();
    EXPECT_FALSE(PMIsDurationComputationInFlight(movie->uniqueLibraryID()));
    EXPECT_EQ(movie->duration(), 3);
    EXPECT_EQ(gif->duration(), 2); // three frames of half a second
    EXPECT_EQ(picture->userSettings()->value(QStringLiteral("Duration")), Value(0)) << "a still picture is measured once";
    EXPECT_FALSE(junk->userSettings()->contains(QStringLiteral("Duration"))) << "an unreadable file stays unknown";
    EXPECT_EQ(junk->duration(), -1);
    EXPECT_FALSE(PMIsDurationComputationInFlight(junk->uniqueLibraryID())) << "an unreadable file is not opened again at every ask";
    EXPECT_EQ(picture->durationIfCached(false, true), 0);
}

// The status line sums the durations of whole libraries: those not known are measured in
// one background batch, each file once, and the sum is brought up to date when they come.
TEST_F(MovieRecordTagsTest, SumsMeasureUnknownDurationsInOneBatch)
{
    testsupport::media::Fixtures fixtures;
    const QString dir = testsupport::makeTempDir(QStringLiteral("sums"));
    testsupport::writeFile(dir + QStringLiteral("/junk.mp4"), QByteArray(100, 'x'));
    auto movie = PMMovieRepresentationOriginal::movieRepresentationWithPath(fixtures.numbered());
    auto junk = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/junk.mp4"));
    const platform::ArrayPtr items = platform::Array::make({Value(movie), Value(junk)});
    int changes = 0;
    std::vector<PMMovieRepresentationPrototype*> both{movie.get(), junk.get()};
    long long duration = -1;
    getAggregateDuration(*items, &duration, nullptr, true);
    EXPECT_EQ(duration, 0) << "nothing known yet";
    EXPECT_TRUE(PMIsDurationComputationInFlight(movie->uniqueLibraryID()));
    EXPECT_TRUE(PMIsDurationComputationInFlight(junk->uniqueLibraryID()));
    PMMeasureMovieDurationsInBackground(both, [&changes] { ++changes; });
    settleBackgroundWork();
    EXPECT_EQ(changes, 0) << "a movie waiting in a batch is not queued twice";
    getAggregateDuration(*items, &duration, nullptr, true);
    EXPECT_EQ(duration, 3);
    EXPECT_FALSE(PMIsDurationComputationInFlight(junk->uniqueLibraryID())) << "the unreadable file is not opened again for every sum";
    EXPECT_FALSE(junk->userSettings()->contains(QStringLiteral("Duration")));
}

// A large content is summed in slices on several threads: the sum is that of every movie,
// search results counted through their records, and each unknown duration queued once.
TEST_F(MovieRecordTagsTest, LargeSumsCountEveryMovieOnce)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("large-sums"));
    std::vector<PMMovieRepresentationOriginalPtr> records;
    auto items = platform::Array::make();
    long long expectedDuration = 0;
    std::uint64_t expectedSize = 0;
    for (int i = 0; i < 40000; ++i) {
        // Files that do not exist: nothing is measured from the disk meanwhile.
        records.push_back(std::make_shared<PMMovieRepresentationOriginal>(dir + QStringLiteral("/gone %1.mp4").arg(i)));
        if (i % 3 != 0) {
            records.back()->userSettings()->setValue(QStringLiteral("Duration"), Value((long long)(i % 100)));
            expectedDuration += i % 100;
        }
        records.back()->userSettings()->setValue(QStringLiteral("Size"), Value((long long)i));
        expectedSize += std::uint64_t(i);
        items->append(i % 2 ? Value(records.back()->searchResultProxy()) : Value(records.back()));
    }
    long long duration = -1;
    std::uint64_t size = 0;
    getAggregateDuration(*items, &duration, &size, false);
    EXPECT_EQ(duration, expectedDuration);
    EXPECT_EQ(size, expectedSize);
    EXPECT_TRUE(std::all_of(records.begin(), records.end(), [](const PMMovieRepresentationOriginalPtr& record) {
        return record->userSettings()->contains(QStringLiteral("Duration")) || PMIsDurationComputationInFlight(record->uniqueLibraryID())
            || record->m_durationQueued;
    })) << "every unknown duration is on its way";
    settleBackgroundWork();
    for (int turn = 0; turn < 1000 && std::any_of(records.begin(), records.end(), [](const PMMovieRepresentationOriginalPtr& record) {
                           return PMIsDurationComputationInFlight(record->uniqueLibraryID());
                       });
         ++turn) {
        PMCrawlQueue::waitUntilEmpty();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    getAggregateDuration(*items, &duration, &size, false);
    EXPECT_EQ(duration, expectedDuration) << "a file that cannot be measured adds nothing";
}
