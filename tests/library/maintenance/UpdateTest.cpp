// The library update on a real tree in the real controller: the order of its steps, the
// missing state of files, downloads and conversions, series, static playlists and the
// expiry of smart groups.
#include "library/model/ModelFixture.h"

#include "library/maintenance/PMSmartGroups.h"
#include "library/model/PMCachedSettings.h"
#include "platform/DelayedPerform.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>
#include <QtCore/QFile>

using platform::Array;
using platform::Date;
using platform::Value;

namespace {

class UpdateTest : public ModelTest {
protected:
    void TearDown() override
    {
        PMMainController& c = mainController();
        c._libraryUpdateStepObserver = nullptr;
        platform::cancelPreviousPerformRequests(&c);
        for (const char* key : {"Missing Movies Mode", "Always Update Missing Status On Invalidation", "Do Not Organize Library Folder"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
        ModelTest::TearDown();
    }
    static QStringList ids(const platform::ArrayPtr& items)
    {
        QStringList result;
        for (const Value& v : *items)
            result << PMItem(v)->uniqueLibraryID();
        return result;
    }
};

TEST_F(UpdateTest, StepsRunInOrderAndTheExpansionStateIsStoredOnlyAfterTheFirstUpdate)
{
    PMMainController& c = mainController();
    c._libraryWasBuiltOnce = false;
    QStringList steps;
    c._libraryUpdateStepObserver = [&](const QString& step) { steps << step; };
    c.updateLibrary();
    const QStringList first = {"closeInterface", "invalidateLibraryDependencies", "invalidateCurrentOrMonitoredMovieRepresentationAncestors",
                               "listMetrics", "reloadInterface"};
    EXPECT_EQ(steps, first);

    steps.clear();
    c.updateLibraryAndInvalidateDependencies(true, true, true);
    EXPECT_EQ(steps, (QStringList{"closeInterface", "storeLibraryListExpansionState", "invalidateLibraryDependencies", "organize",
                                  "invalidateLibraryDependencies", "invalidateCurrentOrMonitoredMovieRepresentationAncestors", "listMetrics",
                                  "reloadInterface"}));

    // The organiser stays out when the library folder is not organised.
    setDefault(QStringLiteral("Do Not Organize Library Folder"), true);
    steps.clear();
    c.updateLibraryAndInvalidateDependencies(true, true, false);
    EXPECT_EQ(steps, first);
}

TEST_F(UpdateTest, MissingStateIsTestedWithOneAnswerPerVolumeAndFiltersByMode)
{
    PMMainController& c = mainController();
    const QString dir = testsupport::makeTempDir(QStringLiteral("files"));
    auto present = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/present.mov"));
    auto removed = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/removed.mov"));
    // A disk that is not mounted: its mount-point folder may even exist, it does not count.
    auto offline1 = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/mnt/PellisUnmountedDisk/a.mov"));
    auto offline2 = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/mnt/PellisUnmountedDisk/b.mov"));
    testsupport::writeFile(dir + QStringLiteral("/present.mov"), "x");
    testsupport::writeFile(dir + QStringLiteral("/removed.mov"), "x");
    PMLibraryContainerPtr f = folder(QStringLiteral("F"), {Value(present), Value(removed), Value(offline1), Value(offline2)});
    library({Value(f)});

    // The first rebuild after a forced request tests every file.
    ASSERT_TRUE(QFile::remove(dir + QStringLiteral("/removed.mov")));
    struct Case {
        long long mode;
        QStringList shown;
    };
    const Case cases[] = {
        {-1, {present->uniqueLibraryID()}},
        {0, {present->uniqueLibraryID(), removed->uniqueLibraryID()}},
        {1, {present->uniqueLibraryID(), removed->uniqueLibraryID(), offline1->uniqueLibraryID(), offline2->uniqueLibraryID()}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.mode);
        setDefault(QStringLiteral("Missing Movies Mode"), Value(test.mode));
        c.updateLibraryAfterDelay(1000, true);
        c.invalidateLibraryDependencies();
        EXPECT_FALSE(present->isMissing());
        EXPECT_TRUE(removed->isMissing());
        EXPECT_FALSE(removed->isMissingVolume());
        EXPECT_TRUE(offline1->isMissing() && offline1->isMissingVolume());
        EXPECT_TRUE(offline2->isMissing() && offline2->isMissingVolume());
        QStringList filtered = ids(c.nonProxyFilteredMovieRepresentations());
        EXPECT_EQ(filtered, test.shown);
        EXPECT_EQ(c._nonProxyFilteredMovieRepresentationsByID.size(), test.shown.size());
        EXPECT_EQ(c._nonProxyRawMovieRepresentationsByID.size(), 4);
        EXPECT_EQ(names(f->filteredChildren()).size(), test.shown.size());
    }

    // A rebuild right after does not test again...
    setDefault(QStringLiteral("Missing Movies Mode"), Value(0));
    ASSERT_TRUE(QFile::remove(dir + QStringLiteral("/present.mov")));
    c.invalidateLibraryDependencies();
    EXPECT_FALSE(present->isMissing());
    // ...unless the user asks for it every time...
    setDefault(QStringLiteral("Always Update Missing Status On Invalidation"), true);
    c.invalidateLibraryDependencies();
    EXPECT_TRUE(present->isMissing());
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Always Update Missing Status On Invalidation"));
    // ...or a volume comes or goes, which updates the whole library.
    testsupport::writeFile(dir + QStringLiteral("/present.mov"), "x");
    c.invalidateLibraryDependencies();
    EXPECT_TRUE(present->isMissing());
    c.volumeWasMountedOrUnmounted(QStringLiteral("/mnt/PellisUnmountedDisk"));
    EXPECT_FALSE(present->isMissing());
    EXPECT_TRUE(c._skipMissingStatusUpdate);
}

TEST_F(UpdateTest, FilesOfOneFolderTestedTogetherAnswerAsEachAlone)
{
    // A folder of many movies is looked at once for all of them (its names read); runs of
    // movies from other folders and from a disk that is away come between.
    PMMainController& c = mainController();
    const QString dir = testsupport::makeTempDir(QStringLiteral("many"));
    Array items;
    QHash<QString, bool> expected;
    const auto add = [&](const QString& path, bool present) {
        if (present)
            testsupport::writeFile(path, "x");
        items.append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(path)));
        expected.insert(path, present);
    };
    for (int i = 0; i < 20; ++i)
        add(dir + QStringLiteral("/A/m%1.mov").arg(i), i % 7 != 3);
    add(QStringLiteral("/mnt/PellisUnmountedDisk/a.mov"), false);
    add(dir + QStringLiteral("/B/one.mov"), true);
    for (int i = 20; i < 30; ++i)
        add(dir + QStringLiteral("/A/m%1.mov").arg(i), i % 2 == 0);
    add(dir + QStringLiteral("/Gone/x.mov"), false);
    add(dir + QStringLiteral("/A/Été.mov"), true);
    ASSERT_TRUE(QFile::link(dir + QStringLiteral("/nowhere"), dir + QStringLiteral("/A/link.mov")));
    items.append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/A/link.mov"))));
    expected.insert(dir + QStringLiteral("/A/link.mov"), true); // a link counts, as lstat says
    PMLibraryContainerPtr f = folder(QStringLiteral("F"));
    for (const Value& v : items)
        f->rawChildren()->append(v);
    library({Value(f)});

    c.updateLibraryAfterDelay(1000, true);
    c.invalidateLibraryDependencies();
    for (const Value& v : items) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        EXPECT_EQ(movie->isMissing(), !expected.value(movie->path())) << qPrintable(movie->path());
    }
}

TEST_F(UpdateTest, DownloadsAndConversionsAreSortedByDateAndCounted)
{
    PMMainController& c = mainController();
    PMLibraryContainerPtr downloads = c.downloadStorage();
    PMLibraryContainerPtr conversions = c.conversionStorage();
    auto late = movie(QStringLiteral("Late"));
    auto early = movie(QStringLiteral("Early"));
    auto middle = movie(QStringLiteral("Middle"));
    late->setAdditionDate(Date{3000});
    early->setAdditionDate(Date{1000});
    middle->setAdditionDate(Date{2000});
    for (const auto& m : {late, early, middle})
        downloads->rawChildren()->append(Value(m));
    c._longTermNumberOfConversions = 5;
    c.invalidateLibraryDependencies();
    EXPECT_EQ(names(downloads->rawChildren()), (QStringList{"Early", "Middle", "Late"}));
    EXPECT_EQ(c._longTermNumberOfDownloads, 3);
    EXPECT_EQ(c._longTermNumberOfConversions, 0);

    // The long-term count keeps the largest number until the storage is empty.
    downloads->rawChildren()->removeAt(0);
    conversions->rawChildren()->append(Value(movie(QStringLiteral("Converting"))));
    c.invalidateLibraryDependencies();
    EXPECT_EQ(c._longTermNumberOfDownloads, 3);
    EXPECT_EQ(c._longTermNumberOfConversions, 1);
    downloads->rawChildren()->removeAll();
    c.invalidateLibraryDependencies();
    EXPECT_EQ(c._longTermNumberOfDownloads, 0);
    // The downloads are not library movies: they stay out of the tables.
    EXPECT_TRUE(c._nonProxyRawMovieRepresentationsByID.isEmpty());
}

TEST_F(UpdateTest, SeriesRecordsHoldTheirMembersInIndexOrderAndTheirDates)
{
    PMMainController& c = mainController();
    const bool wasFuzzy = PMCachedSettings::determineFuzzyOldestDate;
    PMCachedSettings::determineFuzzyOldestDate = true;
    auto second = movie(QStringLiteral("Second"));
    auto tenth = movie(QStringLiteral("Tenth"));
    auto first = movie(QStringLiteral("First"));
    auto other = movie(QStringLiteral("Other"));
    second->setSeriesID(QStringLiteral("S"), 2);
    tenth->setSeriesID(QStringLiteral("S"), 10);
    first->setSeriesID(QStringLiteral("S"), 1);
    second->setAdditionDate(Date{5000});
    tenth->setAdditionDate(Date{9000});
    first->setAdditionDate(Date{7000});
    library({Value(folder(QStringLiteral("F"), {Value(second), Value(tenth), Value(other)})), Value(folder(QStringLiteral("G"), {Value(first)}))});

    ASSERT_EQ(c._nonProxyRawMovieRepresentationSeriesByIDPrefix.size(), 1);
    const platform::DictionaryPtr record = c._nonProxyRawMovieRepresentationSeriesByIDPrefix.value(QStringLiteral("S:"));
    ASSERT_TRUE(record);
    // Numerically: 1, 2, 10 (never 1, 10, 2).
    EXPECT_EQ(names(record->value(QStringLiteral("Items")).array()), (QStringList{"First", "Second", "Tenth"}));
    EXPECT_EQ(record->value(QStringLiteral("Date")).date(), first->individualOldestDate() < second->individualOldestDate()
                                                                 ? first->individualOldestDate() : second->individualOldestDate());
    EXPECT_EQ(record->value(QStringLiteral("Newest")).date(), tenth->individualNewestDate());
    PMCachedSettings::determineFuzzyOldestDate = wasFuzzy;
}

TEST_F(UpdateTest, StaticPlaylistsShowTheirFoldersThenTheMoviesStillInTheLibrary)
{
    PMMainController& c = mainController();
    auto kept = movie(QStringLiteral("Kept"));
    auto alsoKept = movie(QStringLiteral("Also kept"));
    library({Value(folder(QStringLiteral("F"), {Value(kept), Value(alsoKept)}))});
    PMLibraryContainerPtr sub = folder(QStringLiteral("Sub"));
    PMLibraryContainerPtr playlist = folder(QStringLiteral("Playlist"), {Value(sub)});
    playlist->setValue(QStringLiteral("Static Proxies"),
                       Value(Array::make({Value(alsoKept->uniqueLibraryID()), Value(QStringLiteral("DELETED-MOVIE")), Value(kept->uniqueLibraryID())})));
    c.smartGroupStorage()->rawChildren()->append(Value(playlist));
    c.invalidateLibraryDependencies();
    c.invalidateLibraryDependencies(); // rebuilt again: the proxies are not doubled

    const platform::ArrayPtr children = playlist->rawChildren();
    ASSERT_EQ(children->count(), 3);
    EXPECT_EQ(PMContainer(children->at(0)), sub.get());
    for (qsizetype i = 1; i < 3; ++i)
        EXPECT_TRUE(PMMovie(children->at(i))->isProxy());
    EXPECT_EQ(names(children), (QStringList{"Sub", "Also kept", "Kept"}));
    EXPECT_TRUE(playlist->value(QStringLiteral("Smart Playlists Folder")).toBool());
    EXPECT_EQ(c._containersByID.value(sub->uniqueLibraryID()), sub);

    // The movie being played from the playlist is found again in its new proxy.
    c._currentMovieRepresentation = children->at(2);
    c.invalidateCurrentOrMonitoredMovieRepresentationAncestors();
    c.updateLibrary();
    const Value current = c._currentMovieRepresentation;
    EXPECT_NE(current.object(), children->at(2).object());
    EXPECT_EQ(current.object(), playlist->rawChildren()->at(2).object());
    ASSERT_TRUE(c._currentOrMonitoredMovieRepresentationAncestors);
    EXPECT_EQ(PMContainer(c._currentOrMonitoredMovieRepresentationAncestors->at(0)), playlist.get());
    c._currentMovieRepresentation = Value();
}

TEST_F(UpdateTest, SmartGroupsExpireAfterTheEarliestChangePlusOneSecond)
{
    struct Case {
        std::vector<double> answers;
        double delay; // -1: nothing scheduled
    };
    const Case cases[] = {{{300, -1, 60}, 61}, {{60, 300, -1}, 61}, {{-1, 0.5}, 1.5}, {{-1, -1}, -1}, {{}, -1}, {{0}, -1}};
    for (const Case& test : cases)
        EXPECT_EQ(PMSmartGroupExpiryDelay(test.answers), test.delay);

    // The update schedules the expiry from the groups' own answers: a movie leaves the
    // two-day window in 300 seconds, another the one-day window in 60.
    PMMainController& c = mainController();
    const double now = Date::now().secondsSince1970;
    auto older = movie(QStringLiteral("Older"));
    auto newer = movie(QStringLiteral("Newer"));
    older->setAdditionDate(Date{PMSmartGroupMatcher::referenceDate(now, 2, 0) + 300});
    newer->setAdditionDate(Date{PMSmartGroupMatcher::referenceDate(now, 1, 0) + 60});
    const auto withinDays = [](long long days) {
        auto group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Within %1").arg(days)}, {QStringLiteral("Smart"), true}});
        group->setValue(QStringLiteral("Criteria"), Value(platform::Dictionary::make({{QStringLiteral("Relative Date"),
            Value(platform::Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), 4}, {QStringLiteral("Value"), days},
                                              {QStringLiteral("Unit"), 0}}))}})));
        return group;
    };
    auto everything = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("All")}, {QStringLiteral("Smart"), true}});
    c.smartGroupStorage()->rawChildren()->append(Value(withinDays(2)));
    c.smartGroupStorage()->rawChildren()->append(Value(everything));
    c.smartGroupStorage()->rawChildren()->append(Value(withinDays(1)));
    library({Value(older), Value(newer)});
    ASSERT_TRUE(c.finishSmartGroupPopulation());
    EXPECT_TRUE(platform::hasPendingPerformRequest(&c, QStringLiteral("expireSmartGroups"), Value()));
    EXPECT_NEAR(c._smartGroupExpiryDelay, 61, 2);

    // Without groups that change by themselves nothing is scheduled.
    c.smartGroupStorage()->rawChildren()->removeAll();
    c.smartGroupStorage()->rawChildren()->append(Value(everything));
    c.invalidateLibraryDependencies();
    c.finishSmartGroupPopulation();
    EXPECT_FALSE(platform::hasPendingPerformRequest(&c, QStringLiteral("expireSmartGroups"), Value()));
    EXPECT_EQ(c._smartGroupExpiryDelay, -1);
}

TEST_F(UpdateTest, MountingADiskUpdatesTheLibraryThroughTheVolumeWatcher)
{
    PMMainController& c = mainController();
    const QString dir = testsupport::makeTempDir(QStringLiteral("mounts"));
    const QString table = dir + QStringLiteral("/mountinfo");
    const QByteArray system = testsupport::readFile(QStringLiteral("/proc/self/mountinfo"));
    testsupport::writeFile(table, system);
    platform::setMountInfoPath(table);

    auto onDisk = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/mnt/PellisTestDisk/Movie.mov"));
    library({Value(folder(QStringLiteral("F"), {Value(onDisk)}))});
    c.startWatchingVolumes();
    c.updateLibraryAfterDelay(1000, true);
    c.updateLibrary();
    EXPECT_TRUE(onDisk->isMissingVolume());
    EXPECT_TRUE(c.nonProxyFilteredMovieRepresentations()->isEmpty());

    // The disk appears (without the file): the next update sees the volume, not the file.
    testsupport::writeFile(table, system + "999 1 8:99 / /mnt/PellisTestDisk rw,relatime - ext4 /dev/sdz1 rw\n");
    auto* watcher = qobject_cast<platform::VolumeWatcher*>(c._volumeWatcher);
    ASSERT_TRUE(watcher);
    watcher->rescan();
    EXPECT_TRUE(onDisk->isMissing());
    EXPECT_FALSE(onDisk->isMissingVolume());
    EXPECT_EQ(c.nonProxyFilteredMovieRepresentations()->count(), 1);

    // And goes again.
    testsupport::writeFile(table, system);
    watcher->rescan();
    EXPECT_TRUE(onDisk->isMissingVolume());
    platform::setMountInfoPath({});
    watcher->rescan();
}


TEST_F(UpdateTest, EveryRebuildRenewsTheTagTypes)
{
    PMMainController& c = mainController();
    auto tagged = movie(QStringLiteral("Tagged"));
    tagged->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    library({Value(folder(QStringLiteral("F"), {Value(tagged)}))});
    EXPECT_TRUE(c.isRelevantTag(QStringLiteral("genre")));
    EXPECT_FALSE(c.isRelevantTag(QStringLiteral("mood")));
    tagged->setValue(QStringLiteral("Calm"), QStringLiteral("Mood"));
    c.invalidateLibraryDependencies();
    EXPECT_TRUE(c.isRelevantTag(QStringLiteral("mood")));
}

} // namespace

// Rebuilds keep the lookup tables of an unchanged library; every change reaches them.
TEST_F(UpdateTest, RebuiltTablesFollowEveryChangeOfTheMovies)
{
    PMMainController& c = mainController();
    auto a = movie(QStringLiteral("A"));
    auto b = movie(QStringLiteral("B"));
    PMLibraryContainerPtr home = folder(QStringLiteral("Home"), {Value(a), Value(b)});
    library({Value(home)});
    c.invalidateLibraryDependencies();
    auto paths = [&] {
        QStringList keys = c._nonProxyRawMovieRepresentationsByPath.keys();
        keys.sort();
        return keys;
    };
    EXPECT_EQ(c._nonProxyRawMovieRepresentationsByID.size(), 2);
    const platform::ArrayPtr before = c.nonProxyFilteredMovieRepresentations();

    // Unchanged: the same content.
    c.invalidateLibraryDependencies();
    EXPECT_EQ(c._nonProxyRawMovieRepresentationsByID.value(a->uniqueLibraryID()), a);
    EXPECT_EQ(ids(c.nonProxyFilteredMovieRepresentations()), ids(before));

    // A moved file, a removed movie, a table changed by hand: each is rebuilt.
    a->setURL(QUrl::fromLocalFile(QStringLiteral("/media/test/Elsewhere/A.mov")));
    c.invalidateLibraryDependencies();
    EXPECT_TRUE(paths().contains(QStringLiteral("/media/test/Elsewhere/A.mov")));
    EXPECT_FALSE(paths().contains(QStringLiteral("/media/test/Movies/A.mov")));
    home->rawChildren()->removeAt(1);
    c.invalidateLibraryDependencies();
    EXPECT_FALSE(c._nonProxyRawMovieRepresentationsByID.contains(b->uniqueLibraryID()));
    EXPECT_EQ(ids(c.nonProxyFilteredMovieRepresentations()), QStringList{a->uniqueLibraryID()});
    c._nonProxyRawMovieRepresentationsByID.insert(QStringLiteral("STRAY"), b);
    c._nonProxyFilteredMovieRepresentationsByID.insert(QStringLiteral("STRAY"), b);
    c.invalidateLibraryDependencies();
    EXPECT_FALSE(c._nonProxyRawMovieRepresentationsByID.contains(QStringLiteral("STRAY")));
    EXPECT_FALSE(c._nonProxyFilteredMovieRepresentationsByID.contains(QStringLiteral("STRAY")));
    // A movie that goes missing leaves the filtered tables.
    platform::UserDefaults::standard().setObject(Value(0), QStringLiteral("Missing Movies Mode"));
    a->setMissing(true, true);
    c.invalidateLibraryDependencies();
    EXPECT_TRUE(c._nonProxyFilteredMovieRepresentationsByID.isEmpty());
}

// A library too large for one thread to read its movies in turn: the walk reads them on
// the workers and keeps the order of the tree, gives a movie without an ID one, filters
// the missing out, and the list of shown movies follows every change of the filtering.
TEST_F(UpdateTest, ALargeWalkKeepsTheOrderOfTheTreeAndFollowsTheFiltering)
{
    PMMainController& c = mainController();
    platform::UserDefaults::standard().setObject(Value(-1), QStringLiteral("Missing Movies Mode"));
    std::vector<PMLibraryContainerPtr> folders = {folder(QStringLiteral("A")), folder(QStringLiteral("B")), folder(QStringLiteral("C"))};
    std::vector<PMMovieRepresentationOriginalPtr> movies;
    for (int i = 0; i < 5000; ++i) {
        auto m = movie(QStringLiteral("M%1").arg(i));
        if (i % 3 != 1) // the others get theirs from the walk
            m->setUniqueLibraryID(QStringLiteral("ID-%1").arg(i));
        if (i % 250 == 7)
            m->setMissing(true, false);
        folders[size_t(i % 3)]->rawChildren()->append(Value(m));
        movies.push_back(m);
    }
    library({Value(folders[0]), Value(folders[1]), Value(folders[2])});
    const auto expectedShown = [&] {
        QStringList shown;
        for (size_t f = 0; f < 3; ++f)
            for (const Value& v : *folders[f]->rawChildren())
                if (!PMMovie(v)->isMissing())
                    shown << PMItem(v)->uniqueLibraryID();
        return shown;
    };
    ASSERT_EQ(c._nonProxyRawMovieRepresentationsByID.size(), 5000);
    for (const auto& m : movies) {
        ASSERT_FALSE(m->uniqueLibraryID().isEmpty());
        ASSERT_EQ(c._nonProxyRawMovieRepresentationsByID.value(m->uniqueLibraryID()), m);
    }
    EXPECT_EQ(c._nonProxyRawMovieRepresentationsByPath.size(), 5000);
    EXPECT_EQ(ids(c.nonProxyFilteredMovieRepresentations()), expectedShown());
    EXPECT_EQ(c.nonProxyFilteredMovieRepresentations()->count(), 5000 - 20);

    // Unchanged, then one more missing, then one found again.
    c.invalidateLibraryDependencies();
    EXPECT_EQ(ids(c.nonProxyFilteredMovieRepresentations()), expectedShown());
    movies[4000]->setMissing(true, false);
    c.invalidateLibraryDependencies();
    EXPECT_EQ(ids(c.nonProxyFilteredMovieRepresentations()), expectedShown());
    EXPECT_FALSE(c._nonProxyFilteredMovieRepresentationsByID.contains(movies[4000]->uniqueLibraryID()));
    movies[7]->setMissing(false, false);
    c.invalidateLibraryDependencies();
    EXPECT_EQ(ids(c.nonProxyFilteredMovieRepresentations()), expectedShown());
    EXPECT_EQ(c.nonProxyFilteredMovieRepresentations()->count(), 5000 - 20);
}
