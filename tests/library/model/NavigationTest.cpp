#include "ModelFixture.h"

#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMPasteboard.h"
#include "platform/SystemLog.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QMimeData>

#include <mutex>

using namespace platform;

TEST_F(ModelTest, LookupTablesFindItemsByIDAndPath)
{
    auto a = movie("a");
    auto b = movie("b");
    b->setMissing(true, true);
    auto inner = folder("inner", {Value(b)});
    PMLibraryContainerPtr movies = library({Value(a), Value(inner)});
    PMMainController& c = mainController();

    EXPECT_TRUE(PMIsSameItem(c.itemWithUniqueLibraryID(a->uniqueLibraryID()), Value(a)));
    EXPECT_TRUE(PMIsSameItem(c.itemWithUniqueLibraryID(inner->uniqueLibraryID()), Value(inner)));
    EXPECT_TRUE(c.itemWithUniqueLibraryID(QStringLiteral("NOPE")).isNull());
    EXPECT_TRUE(c._nonProxyRawMovieRepresentationsByPath.contains(QStringLiteral("/media/test/Movies/b.mov")));
    // A movie on a missing volume is not among the filtered movies (mode 0).
    EXPECT_EQ(c.nonProxyFilteredMovieRepresentations()->count(), 1);
    EXPECT_TRUE(c.movieRepresentationWithUniqueLibraryID(b->uniqueLibraryID(), QString()).isNull());

    // In its container a movie is found as the child there, proxy or not.
    auto proxy = a->proxy();
    inner->rawChildren()->append(Value(proxy));
    EXPECT_TRUE(PMIsSameItem(c.movieRepresentationWithUniqueLibraryID(a->uniqueLibraryID(), inner->uniqueLibraryID()), Value(proxy)));
    EXPECT_TRUE(PMIsSameItem(c.movieRepresentationWithUniqueLibraryID(a->uniqueLibraryID(), QStringLiteral("GONE")), Value(a)));
    EXPECT_TRUE(c.movieRepresentationWithUniqueLibraryID(QString(), inner->uniqueLibraryID()).isNull());
}

TEST_F(ModelTest, MultipleSelectionsUniteOrIntersect)
{
    auto a = movie("a");
    auto b = movie("b");
    auto cMovie = movie("c");
    auto first = folder("first", {Value(a), Value(b)});
    auto second = folder("second", {Value(b->proxy()), Value(cMovie)});
    library({Value(first), Value(second)});
    PMMainController& c = mainController();
    const QStringList ids{first->uniqueLibraryID(), second->uniqueLibraryID(), QStringLiteral("UNKNOWN")};

    QStringList lines;
    std::mutex mutex;
    setSystemLogSink([&](const QString& line) {
        std::lock_guard lock(mutex);
        lines << line;
    });
    EXPECT_EQ(names(c.nonProxyFilteredItemsForUniqueLibraryIDs(ids, false)), (QStringList{"a", "b", "c"}));
    ASSERT_TRUE(c.selectLibraryItems(Array::make({Value(first), Value(second)})));
    ASSERT_TRUE(c.canIntersectSearch());
    setDefault("Implicit Multiple Selection Search", "Intersection");
    EXPECT_EQ(names(c.nonProxyFilteredItemsForUniqueLibraryIDs(ids, false)), (QStringList{"b"}));
    // A movie outside the intersection empties it; one inside leaves it.
    EXPECT_EQ(names(c.nonProxyFilteredItemsForUniqueLibraryIDs({first->uniqueLibraryID(), a->uniqueLibraryID()}, false)), (QStringList{"a", "b"}));
    EXPECT_TRUE(c.nonProxyFilteredItemsForUniqueLibraryIDs({first->uniqueLibraryID(), cMovie->uniqueLibraryID()}, false)->isEmpty());
    setSystemLogSink(nullptr);
    EXPECT_EQ(lines.count(QStringLiteral("unknown multiple selection identifier: UNKNOWN")), 2);
}

TEST_F(ModelTest, AncestorsParentsAndSearchResults)
{
    auto a = movie("a");
    auto inner = folder("inner", {Value(a)});
    auto outer = folder("outer", {Value(movie("x")), Value(inner)});
    PMLibraryContainerPtr movies = library({Value(outer)});
    PMMainController& c = mainController();
    PMLibraryContainerPtr storage = c.sourceStorage();

    qsizetype index = -1;
    ArrayPtr ancestors = c.ancestorsOfLibraryItem(Value(a), &index);
    ASSERT_TRUE(ancestors);
    EXPECT_EQ(names(ancestors), (QStringList{"inner", "outer", movies->displayName(), storage->displayName()}));
    EXPECT_EQ(index, 0);
    c.ancestorsOfLibraryItem(Value(inner), &index);
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(c.ancestorsOfLibraryItem(Value(storage))->isEmpty());
    EXPECT_EQ(c.ancestorsOfLibraryItem(Value(movie("stranger"))), nullptr);
    EXPECT_EQ(c.parentOfLibraryItem(Value(a)).get(), inner.get());
    EXPECT_EQ(c.topLevelAncestorOfItem(Value(a)).get(), storage.get());

    // A movie reached only through a container's search results has that container as parent.
    auto found = movie("found");
    auto result = found->searchResultProxy();
    outer->setQuery(QStringLiteral("x"));
    outer->sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(false);
    outer->value(QStringLiteral("Search")).dictionary()->setValue(QStringLiteral("Group Search Matches"), Array::make({movie("other"), Value(result)}));
    ancestors = c.ancestorsOfLibraryItem(Value(result), &index);
    outer->setQuery(QString());
    ASSERT_TRUE(ancestors);
    EXPECT_EQ(ancestors->at(0).object().get(), outer.get());
    EXPECT_EQ(index, 1);
}

TEST_F(ModelTest, SiblingStepsLoopAtMostOnceAndSkipWhatCannotPlay)
{
    auto a = movie("a");
    auto b = movie("b");
    auto cMovie = movie("c");
    b->setMissing(true, false);
    auto siblings = Array::make({Value(a), Value(b), Value(cMovie)});
    PMMainController& ctl = mainController();
    EXPECT_TRUE(PMIsSameItem(ctl.siblingOfLibraryItem(Value(a), siblings, -1, 1, false, Value(), true), Value(cMovie)));
    EXPECT_TRUE(ctl.siblingOfLibraryItem(Value(cMovie), siblings, -1, 1, false, Value(), true).isNull());
    EXPECT_TRUE(PMIsSameItem(ctl.siblingOfLibraryItem(Value(cMovie), siblings, -1, 1, true, Value(cMovie), true), Value(a)));
    // Looping from the start item comes back to it and stops there.
    auto only = Array::make({Value(a), Value(b)});
    EXPECT_TRUE(ctl.siblingOfLibraryItem(Value(a), only, -1, 1, true, Value(a), true).isNull());
    // Containers count only when playability is not required.
    auto group = folder("group");
    auto mixed = Array::make({Value(a), Value(group)});
    EXPECT_TRUE(PMIsSameItem(ctl.siblingOfLibraryItem(Value(a), mixed, -1, 1, false, Value(), false), Value(group)));
    EXPECT_TRUE(ctl.siblingOfLibraryItem(Value(a), mixed, -1, 1, false, Value(a), true).isNull());
}

TEST_F(ModelTest, ContinuousPlaybackInModes0And1StaysAmongTheSiblings)
{
    auto a = movie("a");
    auto b = movie("b");
    auto next = folder("next", {Value(movie("elsewhere"))});
    auto group = folder("group", {Value(a), Value(b)});
    library({Value(group), Value(next)});
    setDefault("Continue: Mode", 0);
    EXPECT_TRUE(PMIsSameItem(mainController().playableSiblingOfMovieRepresentation(Value(a), 1, nullptr), Value(b)));
    EXPECT_TRUE(mainController().playableSiblingOfMovieRepresentation(Value(b), 1, nullptr).isNull());
    setDefault("Continue: Mode", 1);
    EXPECT_TRUE(PMIsSameItem(mainController().playableSiblingOfMovieRepresentation(Value(b), 1, nullptr), Value(a)));
    EXPECT_TRUE(PMIsSameItem(mainController().playableSiblingOfMovieRepresentation(Value(a), -1, nullptr), Value(b)));
    // Without a "Continue: Mode" of its own, the mode follows "Loop Group Movies".
    UserDefaults::standard().removeObjectForKey(QStringLiteral("Continue: Mode"));
    setDefault("Loop Group Movies", 1);
    EXPECT_TRUE(PMIsSameItem(mainController().playableSiblingOfMovieRepresentation(Value(b), 1, nullptr), Value(a)));
}

TEST_F(ModelTest, ContinuousPlaybackCrossesSubdivisionsOnlyWithinTheSmartGroupInMode2)
{
    auto a = movie("a");
    auto b = movie("b");
    auto later = movie("later");
    auto smart = PMLibraryContainer::make({{"Smart", true}, {"Name", "smart"}, {"Group Sorting Criterion", "GroupListName"}});
    auto otherGroup = PMLibraryContainer::make({{"Smart", true}, {"Name", "z other"}});
    PMLibraryContainerPtr storage = mainController().smartGroupStorage();
    storage->rawChildren()->append(Value(smart));
    storage->rawChildren()->append(Value(otherGroup));
    library({});
    auto sub1 = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "1"}, {"Name", "1"}});
    auto sub2 = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "2"}, {"Name", "2"}});
    auto aInSub1 = a->proxy();
    sub1->rawChildren()->append(Value(aInSub1));
    sub2->rawChildren()->append(Value(b->proxy()));
    smart->rawChildren()->append(Value(sub1));
    smart->rawChildren()->append(Value(sub2));
    otherGroup->rawChildren()->append(Value(later->proxy()));

    setDefault("Continue: Mode", 2);
    ArrayPtr ancestors;
    const Value next = mainController().playableSiblingOfMovieRepresentation(Value(aInSub1), 1, &ancestors);
    ASSERT_FALSE(next.isNull());
    EXPECT_TRUE(PMIsSameItem(PMItem(next)->nonProxySelf(), Value(b)));
    ASSERT_TRUE(ancestors);
    EXPECT_EQ(ancestors->at(0).object().get(), sub2.get());
    // From the last movie of the smart group, mode 2 never leaves it ...
    const Value afterLast = mainController().playableSiblingOfMovieRepresentation(next, 1, nullptr);
    EXPECT_TRUE(afterLast.isNull() || PMIsSameItem(PMItem(afterLast)->nonProxySelf(), Value(a)));
    // ... and mode 3 goes on to the next group of the storage.
    setDefault("Continue: Mode", 3);
    const Value beyond = mainController().playableSiblingOfMovieRepresentation(next, 1, nullptr);
    ASSERT_FALSE(beyond.isNull());
    EXPECT_TRUE(PMIsSameItem(PMItem(beyond)->nonProxySelf(), Value(later)));
}

TEST_F(ModelTest, LastWatchedListKeepsTheNewestFirstWithinItsLimit)
{
    auto a = movie("a");
    auto b = movie("b");
    auto cMovie = movie("c");
    auto first = folder("first", {Value(a), Value(b), Value(cMovie)});
    auto second = folder("second", {Value(a->proxy())});
    library({Value(first), Value(second)});
    PMMainController& ctl = mainController();

    ctl.addLastWatchedMovieRepresentation(Value(a), first);
    ctl.addLastWatchedMovieRepresentation(Value(b), first);
    ctl.addLastWatchedMovieRepresentation(Value(a), second); // moves to the front with its new container
    EXPECT_EQ(names(ctl.lastWatchedMovieRepresentations()), (QStringList{"a", "b"}));
    const ArrayPtr stored = UserDefaults::standard().arrayForKey(QStringLiteral("Last Watched"));
    ASSERT_EQ(stored->count(), 2);
    EXPECT_EQ(stored->at(0).dictionary()->value(QStringLiteral("Parent")).string(), second->uniqueLibraryID());

    setDefault("Last Watched Count", "many");
    EXPECT_EQ(ctl.maximumNumberOfLastWatchedMovieRepresentations(), 10u);
    setDefault("Last Watched Count", 1);
    EXPECT_EQ(names(ctl.lastWatchedMovieRepresentations()), QStringList{"a"});
    EXPECT_EQ(UserDefaults::standard().arrayForKey(QStringLiteral("Last Watched"))->count(), 2); // shortened at the next playback
    ctl.addLastWatchedMovieRepresentation(Value(cMovie), nullptr);
    EXPECT_EQ(UserDefaults::standard().arrayForKey(QStringLiteral("Last Watched"))->count(), 1);
    setDefault("Last Watched Count", 10);

    // An entry whose movie is filtered out is skipped but kept.
    cMovie->setMissing(true, true);
    ctl.invalidateLibraryDependencies();
    ctl.addLastWatchedMovieRepresentation(Value(b), nullptr);
    EXPECT_EQ(names(ctl.lastWatchedMovieRepresentations()), QStringList{"b"});
    EXPECT_EQ(UserDefaults::standard().arrayForKey(QStringLiteral("Last Watched"))->count(), 2);
    cMovie->setMissing(false, false);
    ctl.invalidateLibraryDependencies();
    EXPECT_EQ(names(ctl.lastWatchedMovieRepresentations()), (QStringList{"b", "c"}));

    ctl.clearLastWatchedMovieRepresentations(nullptr);
    EXPECT_TRUE(ctl.lastWatchedMovieRepresentations()->isEmpty());
}

TEST_F(ModelTest, ThePasteboardHandsItemsOnlyToThisProcessesDrag)
{
    auto a = movie("a");
    auto inner = folder("inner", {Value(movie("b"))});
    const ArrayPtr items = Array::make({Value(a), Value(inner)});
    QMimeData pasteboard;
    setLibraryItems(pasteboard, items, Value("grid"));
    EXPECT_EQ(pasteboard.urls().size(), 2); // the files of all movies below, for other programs
    EXPECT_EQ(libraryItems(pasteboard), items);
    EXPECT_EQ(lastDraggedLibraryItemsSource(), Value("grid"));

    QMimeData foreign;
    foreign.setData(internalLibraryIndexPasteboardType(), "4242:1");
    EXPECT_EQ(libraryItems(foreign), nullptr);
    QMimeData plain;
    plain.setText(QStringLiteral("hello"));
    EXPECT_EQ(libraryItems(plain), nullptr);

    // A newer drag makes the older pasteboard stale.
    QMimeData newer;
    setLibraryItems(newer, Array::make({Value(folder("empty"))}), Value());
    EXPECT_FALSE(newer.hasUrls());
    EXPECT_EQ(libraryItems(pasteboard), nullptr);
    invalidateDraggedLibraryItemsCache();
    EXPECT_EQ(libraryItems(newer), nullptr);
}

TEST_F(ModelTest, ItemArrayHelpers)
{
    auto elements = Array::make({Value(Dictionary::make({{"Tag", "genre"}})), Value(Dictionary::make({{"Tag", "Genre 1"}}))});
    EXPECT_EQ(uniqueTagName(*elements, QStringLiteral("Genre"), Value()), QStringLiteral("Genre 2"));
    EXPECT_EQ(uniqueTagName(*elements, QStringLiteral("Year"), Value()), QStringLiteral("Year"));
    EXPECT_EQ(uniqueTagName(*elements, QStringLiteral("genre"), elements->at(0)), QStringLiteral("genre"));
    EXPECT_EQ(uniqueTagName(*elements, QStringLiteral("NOTES"), Value()), QStringLiteral("Listed Notes"));

    EXPECT_EQ(commonRatingAmongRatings(*Array::make({Value(movie("a", -1, 3)), Value(movie("b", -1, 3))}), nullptr), 3);
    std::vector<double> ratings;
    EXPECT_EQ(commonRatingAmongRatings(*Array::make({Value(movie("a", -1, 3)), Value(movie("b", -1, 4))}), &ratings), -1);
    EXPECT_EQ(ratings, (std::vector<double>{3, 4}));
    EXPECT_EQ(commonRatingAmongRatings(Array(), nullptr), -1);

    EXPECT_EQ(uniqueTrimmedStrings({" Drama ", "drama", "", "Comedy", "  "}), (QStringList{"Drama", "Comedy"}));

    auto a = movie("a");
    auto b = movie("b");
    auto z = movie("z");
    auto y = movie("y");
    Dictionary byID;
    for (const auto& m : {a, b, z, y})
        byID.setValue(m->uniqueLibraryID(), Value(m));
    Array ordered;
    addSequence(ordered, {b->uniqueLibraryID(), QStringLiteral("MISSING"), a->uniqueLibraryID()}, byID);
    EXPECT_EQ(names(std::make_shared<Array>(ordered.values())), (QStringList{"b", "a", "y", "z"}));
    EXPECT_TRUE(byID.isEmpty());

    EXPECT_EQ(durationAndMovieFileSizeDescription(*Array::make({Value(movie("d", 245))})), QStringLiteral("4:05"));
    EXPECT_EQ(spacedParanthesizedDurationAndMovieFileSizeDescription(*Array::make({Value(movie("d", 245))})), QStringLiteral(" (4:05)"));
    EXPECT_EQ(spacedParanthesizedDurationAndMovieFileSizeDescription(Array()), QString());

    long long duration = 0;
    std::uint64_t size = 1;
    getAggregateDuration(*Array::make({Value(movie("d", 30)), Value(movie("e", -1))}), &duration, &size, true);
    EXPECT_EQ(duration, 30);
    EXPECT_EQ(size, 0u);
}

TEST_F(ModelTest, StoragesAreCreatedInTheirPlaces)
{
    PMMainController& c = mainController();
    c.temporaryStorage();
    ASSERT_EQ(c._library->count(), 2);
    EXPECT_EQ(PMContainer(c._library->at(0))->topLevelRole(), QStringLiteral("Library"));
    EXPECT_EQ(PMContainer(c._library->at(1))->topLevelRole(), QStringLiteral("Temporary"));
    QStringList sections;
    for (const Value& v : *c.sourceStorage()->rawChildren())
        sections << PMContainer(v)->value(QStringLiteral("Library Section")).string();
    EXPECT_EQ(sections, (QStringList{"Movies", "iTunes", "iPhoto", "Aperture", "Online"}));
    c.smartGroupStorage();
    QStringList roles;
    for (const Value& v : *c._library)
        roles << PMContainer(v)->topLevelRole();
    EXPECT_EQ(roles, (QStringList{"Library", "Temporary", "Downloads", "Conversions", "Smart Groups"}));
}

TEST_F(ModelTest, OlderLibraryLayoutsMigrateIntoSections)
{
    PMMainController& c = mainController();
    // A Library storage with plain folders and movies: they all move into one movies section.
    auto storage = PMLibraryContainer::make({{"Top Level", "Library"}, {"Name", "Library"}});
    auto oldSection = PMLibraryContainer::make({{"Name", "old"}, {"Library Section", "iTunes"}});
    storage->rawChildren()->append(Value(folder("f")));
    storage->rawChildren()->append(Value(movie("m")));
    storage->rawChildren()->append(Value(oldSection));
    c._library->append(Value(storage));
    PMLibraryContainerPtr movies = c.pellisSourceStorageSection();
    ASSERT_EQ(storage->rawChildren()->count(), 1);
    EXPECT_EQ(storage->rawChildren()->at(0).object().get(), movies.get());
    EXPECT_EQ(names(movies->rawChildren()), (QStringList{"f", "m", "old"}));
    EXPECT_FALSE(oldSection->contains(QStringLiteral("Library Section")));

    // The old marker of the movies section is recognised; no second section is made.
    c.resetForTesting();
    auto marked = PMLibraryContainer::make({{"Top Level", "Library"}});
    auto flagged = PMLibraryContainer::make({{"Library Movies", true}, {"Name", "mine"}});
    marked->rawChildren()->append(Value(flagged));
    c._library->append(Value(marked));
    EXPECT_EQ(c.pellisSourceStorageSection().get(), flagged.get());
    EXPECT_EQ(flagged->value(QStringLiteral("Library Section")).string(), QStringLiteral("Movies"));

    // An old top-level storage hands its children to the new section once.
    auto oldITunes = PMLibraryContainer::make({{"Top Level", "iTunes"}});
    oldITunes->rawChildren()->append(Value(movie("track")));
    c._library->append(Value(oldITunes));
    PMLibraryContainerPtr iTunes = c.iTunesSourceStorageSection();
    EXPECT_EQ(names(iTunes->rawChildren()), QStringList{"track"});
    EXPECT_TRUE(oldITunes->rawChildren()->isEmpty());
    EXPECT_GE(c._library->indexOfIdentical(oldITunes.get()), 0);

    // "Downloads Container" naming the Library storage answers the movies section.
    c.invalidateLibraryDependencies();
    setDefault("Downloads Container", marked->uniqueLibraryID());
    EXPECT_EQ(c.downloadsContainer().get(), flagged.get());
}

TEST_F(ModelTest, ProxiesShareTheOriginalsSettingsButNotTheirSortingDates)
{
    auto original = movie("m");
    auto p1 = original->proxy();
    auto p2 = p1->proxy(); // never a proxy of a proxy
    EXPECT_EQ(p2->proxyOriginal().get(), original.get());
    p1->setRating(4);
    EXPECT_EQ(original->rating(), 4);
    EXPECT_EQ(p2->rating(), 4);
    p1->setNewestDateInSortingContext(Date{1});
    p2->setNewestDateInSortingContext(Date{2});
    EXPECT_EQ(p1->newestDateInSortingContext(), Date{1});
    EXPECT_EQ(p2->newestDateInSortingContext(), Date{2});
    EXPECT_TRUE(PMIsSameItem(p1->nonProxySelf(), Value(original)));
}

TEST_F(ModelTest, AddingPathsCollectsMoviesAndKeepsFolders)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("drop"));
    testsupport::writeFile(root + QStringLiteral("/b.mov"), "x");
    testsupport::writeFile(root + QStringLiteral("/.hidden.mov"), "x");
    testsupport::writeFile(root + QStringLiteral("/Season 1/e2.mov"), "x");
    testsupport::writeFile(root + QStringLiteral("/Season 1/e10.mov"), "x");
    QDir().mkpath(root + QStringLiteral("/Empty"));
    // A link back to the top must not be followed.
    ASSERT_TRUE(QFile::link(root, root + QStringLiteral("/Season 1/loop")));

    QList<QUrl> urls;
    Array collected;
    Dictionary existing;
    auto known = movie("known");
    existing.setValue(root + QStringLiteral("/b.mov"), Value(known));
    EXPECT_TRUE(addMovieURLsFromPaths(urls, {root}, QString(), &existing, &collected));
    QStringList files;
    for (const QUrl& u : urls)
        files << u.toLocalFile().mid(root.size() + 1);
    files.sort();
    EXPECT_EQ(files, (QStringList{"Season 1/e10.mov", "Season 1/e2.mov", "b.mov"}));
    // The dropped folder itself becomes a container holding a container for "Season 1";
    // the file already in the library gets no second record; the empty folder is left out.
    ASSERT_EQ(collected.count(), 1);
    PMLibraryContainer* top = PMContainer(collected.at(0));
    ASSERT_TRUE(top);
    const ArrayPtr inside = top->rawChildren();
    ASSERT_EQ(inside->count(), 1);
    EXPECT_EQ(PMContainer(inside->at(0))->displayName(), QStringLiteral("Season 1"));
    EXPECT_EQ(PMContainer(inside->at(0))->rawChildren()->count(), 2);

    setDefault("Ignore External Folder Structure", true);
    QList<QUrl> flatURLs;
    Array flat;
    EXPECT_TRUE(addMovieURLsFromPaths(flatURLs, {root}, QString(), nullptr, &flat));
    EXPECT_EQ(flat.count(), 3);
    EXPECT_TRUE(containsMovieRepresentationsOnly(flat));

    QList<QUrl> mixed;
    EXPECT_TRUE(addMovieURLs(mixed, {QUrl(QStringLiteral("https://example.org/clip.mp4")), QUrl::fromLocalFile(root + QStringLiteral("/b.mov"))}));
    EXPECT_EQ(mixed.size(), 2);
    // Inside folders, hidden files are never collected.
    EXPECT_FALSE(files.join(u' ').contains(QStringLiteral(".hidden")));
}
