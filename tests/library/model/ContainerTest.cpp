#include "ModelFixture.h"

#include "foundation/NSDate+PMExtensions.h"
#include "library/model/PMLibraryItemArrays.h"

#include <QtCore/QRegularExpression>

using namespace platform;

TEST_F(ModelTest, RolesFollowTheContainerKeys)
{
    struct Case {
        std::initializer_list<std::pair<QString, Value>> keys;
        bool smart, subdivision, nonSubdivision, intermediate, others, external, online, section, pellisSection;
    };
    const Case cases[] = {
        {{}, false, false, false, false, false, false, false, false, false},
        {{{"Smart", true}}, true, false, true, false, false, false, false, false, false},
        {{{"Smart", true}, {"Subdivision", "A"}}, true, true, false, false, false, false, false, false, false},
        {{{"Subdivision", "A"}}, false, false, false, false, false, false, false, false, false},
        {{{"Subdivision Intermediate", "x"}, {"Subdivision Others", true}}, false, false, false, true, true, false, false, false, false},
        {{{"External", "Movies"}}, false, false, false, false, false, true, false, false, false},
        {{{"Online", "YouTube"}}, false, false, false, false, false, false, true, false, false},
        {{{"Library Section", "iTunes"}}, false, false, false, false, false, false, false, true, false},
        {{{"Library Section", "Movies"}}, false, false, false, false, false, false, false, true, true},
        {{{"Library Movies", true}}, false, false, false, false, false, false, false, true, true},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(row++);
        auto container = PMLibraryContainer::make(c.keys);
        EXPECT_EQ(container->isSmartGroup(), c.smart);
        EXPECT_EQ(container->isSmartGroupSubdivision(), c.subdivision);
        EXPECT_EQ(container->isNonSubdivisionSmartGroup(), c.nonSubdivision);
        EXPECT_EQ(container->isIntermediate(), c.intermediate);
        EXPECT_EQ(container->isOthers(), c.others);
        EXPECT_EQ(container->isExternalMediaItem(), c.external);
        EXPECT_EQ(container->isOnlineItem(), c.online);
        EXPECT_EQ(container->isSourceStorageSection(), c.section);
        EXPECT_EQ(container->isPellisSourceStorageSection(), c.pellisSection);
        EXPECT_TRUE(container->isContainer());
        EXPECT_FALSE(container->isMovieRepresentation());
        EXPECT_FALSE(container->isProxy());
    }
    auto emancipating = PMLibraryContainer::make({{"Smart", true}, {"Emancipate", true}});
    EXPECT_TRUE(emancipating->emancipatesChildrenIfEnabled());
    EXPECT_FALSE(emancipating->emancipatesChildren());
    setDefault("Enable Smart Playlist Emancipation", true);
    EXPECT_TRUE(emancipating->emancipatesChildren());
}

TEST_F(ModelTest, UniqueIDsAreUpperCaseUUIDsMadeOnceAndRemovable)
{
    auto container = folder("A");
    const QString id = container->uniqueLibraryID();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")).match(id).hasMatch()) << id.toStdString();
    EXPECT_EQ(container->uniqueLibraryID(), id);
    container->setUniqueLibraryID(QString());
    EXPECT_FALSE(container->contains(QStringLiteral("Unique ID")));
    EXPECT_NE(container->uniqueLibraryID(), id);

    auto original = movie("m");
    auto proxy = original->proxy();
    EXPECT_EQ(proxy->uniqueLibraryID(), original->uniqueLibraryID());
    library({Value(container), Value(original)});
    for (int i = 0; i < 50; ++i) {
        const QString fresh = availableUniqueLibraryID();
        EXPECT_TRUE(mainController().itemWithUniqueLibraryID(fresh).isNull());
    }
}

TEST_F(ModelTest, PseudoParentIDOnlyWhereTheParentIDStandsInTheID)
{
    struct Case {
        const char* id;
        const char* pseudoParent;
        const char* subdivision;
        const char* expected;
    };
    const Case cases[] = {
        {"PARENT::2019", "PARENT", "2019", ""}, // not longer than the parts plus the separator
        {"X-PARENT::2019", "PARENT", "2019", "X-PARENT"},
        {"OTHER::2019", "PARENT", "2019", ""},
        {"AB-P::A", "P", "A", "AB-P"},
    };
    for (const Case& c : cases) {
        auto container = PMLibraryContainer::make({{"Unique ID", c.id}, {"Pseudo-Parent", c.pseudoParent}, {"Subdivision", c.subdivision}});
        EXPECT_EQ(container->pseudoParentUniqueLibraryID(), QString::fromLatin1(c.expected)) << c.id;
    }
    EXPECT_EQ(PMLibraryContainer::make({{"Unique ID", "PARENT::2019"}, {"Subdivision", "2019"}})->pseudoParentUniqueLibraryID(), QString());
}

TEST_F(ModelTest, StorageAndSectionNamesDependOnTheLibrary)
{
    PMLibraryContainerPtr movies = mainController().pellisSourceStorageSection();
    PMLibraryContainerPtr libraryStorage = mainController().sourceStorage();
    EXPECT_EQ(libraryStorage->displayName(), QStringLiteral("Library"));
    EXPECT_EQ(movies->displayName(), QStringLiteral("All Media"));
    mainController().iTunesSourceStorageSection();
    libraryStorage->invalidateChildren();
    EXPECT_EQ(libraryStorage->displayName(), QStringLiteral("Sources"));
    EXPECT_EQ(movies->displayName(), QStringLiteral("Pellis"));

    PMLibraryContainerPtr smart = mainController().smartGroupStorage();
    EXPECT_EQ(smart->displayName(), QStringLiteral("Playlists"));
    setDefault("Smart Groups Storage Name", "  ");
    EXPECT_EQ(smart->displayName(), QStringLiteral("Playlists"));
    setDefault("Smart Groups Storage Name", "Collections");
    EXPECT_EQ(smart->displayName(), QStringLiteral("Collections"));
    EXPECT_EQ(PMLibraryContainer::make({{"Online", "YouTube"}, {"Name", "x"}})->displayName(), QStringLiteral("Web"));
    EXPECT_EQ(PMLibraryContainer::make({{"Library Section", "iPhoto"}, {"Name", "x"}})->displayName(), QStringLiteral("Photos"));
    EXPECT_EQ(folder("Holidays")->displayName(), QStringLiteral("Holidays"));
    EXPECT_EQ(PMLibraryContainer::make({{"Name", "May"}, {"Year-Month-Day Name", "2019-05"}})->sortName(), QStringLiteral("2019-05"));
}

TEST_F(ModelTest, DatesOfOrdinaryContainersAreTheirOwnAndOfSubdivisionsInferred)
{
    auto plain = folder("plain");
    const Date first = plain->additionDate();
    EXPECT_TRUE(plain->contains(QStringLiteral("Generic Timestamp")));
    EXPECT_EQ(plain->additionDate(), first);

    auto a = movie("a");
    auto b = movie("b");
    a->setAdditionDate(Date{1000});
    b->setAdditionDate(Date{5000});
    auto subdivision = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "x"}});
    subdivision->rawChildren()->append(Value(a->fanOutProxy()));
    subdivision->rawChildren()->append(Value(b->fanOutProxy()));
    auto empty = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "y"}});

    setDefault("Subdivision Date Sorting Priority", 1);
    EXPECT_EQ(subdivision->additionDate(), Date{5000});
    EXPECT_TRUE(isNeverDate(empty->additionDate()));

    setDefault("Subdivision Date Sorting Priority", 0);
    subdivision->invalidateChildren();
    EXPECT_TRUE(isNeverDate(subdivision->additionDate()));
    auto series = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "z"}, {"Series ID Prefix", "S:"}});
    series->rawChildren()->append(Value(a->fanOutProxy()));
    EXPECT_EQ(series->additionDate(), Date{1000});
}

TEST_F(ModelTest, AggregatesSumTheMoviesBelow)
{
    auto a = movie("a", 100);
    auto b = movie("b", -1); // unknown duration counts as nothing
    auto c = movie("c", 20);
    a->incrementCounter();
    a->incrementCounter();
    c->incrementCounter();
    auto inner = folder("inner", {Value(c)});
    auto outer = folder("outer", {Value(a), Value(b), Value(inner)});
    EXPECT_EQ(outer->duration(), 120);
    EXPECT_EQ(outer->counter(), 3u);
    auto sample = folder("sample", {Value(a), Value(c)});
    sample->setValue(QStringLiteral("Use Sample Duration"), true);
    EXPECT_EQ(sample->duration(), 20);
}

TEST_F(ModelTest, MissingMoviesModeFiltersFoldersButNotSmartGroups)
{
    auto present = movie("present");
    auto missing = movie("missing");
    auto offline = movie("offline");
    missing->setMissing(true, false);
    offline->setMissing(true, true);
    auto plainFolder = folder("folder", {Value(present), Value(missing), Value(offline)});
    auto smart = PMLibraryContainer::make({{"Smart", true}, {"Name", "smart"}});
    smart->rawChildren()->append(Value(missing->proxy()));
    struct Case {
        int mode;
        QStringList folderNames;
    };
    const Case cases[] = {
        {1, {"present", "missing", "offline"}},
        {0, {"present", "missing"}},
        {-1, {"present"}},
    };
    for (const Case& c : cases) {
        setDefault("Missing Movies Mode", c.mode);
        plainFolder->invalidateChildren();
        smart->invalidateChildren();
        EXPECT_EQ(names(plainFolder->filteredChildren()), c.folderNames) << c.mode;
        EXPECT_EQ(names(smart->filteredChildren()), QStringList{"missing"}) << c.mode;
    }
}

TEST_F(ModelTest, ParentIDIsWrittenByTheParentsFilteredChildren)
{
    auto child = folder("child");
    auto parent = folder("parent", {Value(child)});
    EXPECT_FALSE(child->contains(QStringLiteral("Parent ID")));
    parent->filteredChildren();
    EXPECT_EQ(child->value(QStringLiteral("Parent ID")).string(), parent->uniqueLibraryID());
    child->invalidateChildren();
    EXPECT_FALSE(child->contains(QStringLiteral("Parent ID")));
}

TEST_F(ModelTest, TheLibraryListShowsKindContainersInPlaceOfAnExternalSection)
{
    mainController().pellisSourceStorageSection();
    PMLibraryContainerPtr iTunes = mainController().iTunesSourceStorageSection();
    auto kindMovies = PMLibraryContainer::make({{"External", "Movies"}, {"Name", "Movies"}});
    auto kindShows = PMLibraryContainer::make({{"External", "TV Shows"}, {"Name", "TV Shows"}});
    iTunes->rawChildren()->append(Value(kindMovies));
    iTunes->rawChildren()->append(Value(kindShows));
    PMLibraryContainerPtr libraryStorage = mainController().sourceStorage();
    const QStringList withKinds = names(libraryStorage->filteredChildren());
    EXPECT_TRUE(withKinds.contains(QStringLiteral("TV Shows")));
    EXPECT_FALSE(withKinds.contains(iTunes->displayName()));

    iTunes->rawChildren()->append(Value(movie("song video")));
    iTunes->invalidateChildren();
    libraryStorage->invalidateChildren();
    const QStringList withSection = names(libraryStorage->filteredChildren());
    EXPECT_TRUE(withSection.contains(iTunes->displayName()));
    EXPECT_FALSE(withSection.contains(QStringLiteral("TV Shows")));
}

TEST_F(ModelTest, AllNonProxyChildrenResolveProxiesFlattenAndDropDuplicatesOfSmartGroups)
{
    auto a = movie("a");
    auto b = movie("b");
    auto sub1 = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "1"}, {"Name", "1"}});
    auto sub2 = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "2"}, {"Name", "2"}});
    sub1->rawChildren()->append(Value(a->fanOutProxy()));
    sub2->rawChildren()->append(Value(a->fanOutProxy()));
    sub2->rawChildren()->append(Value(b->fanOutProxy()));
    auto smart = PMLibraryContainer::make({{"Smart", true}, {"Name", "smart"}});
    smart->rawChildren()->append(Value(sub1));
    smart->rawChildren()->append(Value(sub2));
    const ArrayPtr movies = smart->allNonProxyMovieChildren();
    ASSERT_EQ(movies->count(), 2);
    EXPECT_TRUE(PMIsSameItem(movies->at(0), Value(a)));
    EXPECT_TRUE(PMIsSameItem(movies->at(1), Value(b)));
    EXPECT_EQ(smart->allNonProxyChildrenFromFilteredChildren(true, true)->count(), 4);

    auto plain = folder("plain", {Value(a), Value(folder("inner", {Value(a->proxy())}))});
    EXPECT_EQ(plain->allNonProxyMovieChildren()->count(), 2); // plain folders keep repeats
    auto flattened = folder("flat", {Value(b), Value(folder("inner", {Value(a)}))});
    flattened->setValue(QStringLiteral("Flattened"), true);
    EXPECT_EQ(names(flattened->allNonProxyMovieChildren()), QStringList{"b"});
}

TEST_F(ModelTest, AFolderOfMoviesOnlyListsThemOnceForItsItemsAndItsMovies)
{
    auto a = movie("a");
    auto b = movie("b");
    auto movies = folder("movies", {Value(a->proxy()), Value(b)});
    const ArrayPtr items = movies->allNonProxyChildrenFromFilteredChildren(true, true);
    EXPECT_EQ(names(items), (QStringList{"a", "b"}));
    EXPECT_TRUE(items->at(0).objectPointer() == a.get()); // the record, not the proxy
    // Every item is a movie: one list serves as both (a folder of 100,000 movies would
    // otherwise hold two copies of a 100,000-value list).
    EXPECT_EQ(movies->allNonProxyMovieChildren().get(), items.get());

    auto mixed = folder("mixed", {Value(a), Value(folder("inner", {Value(b)}))});
    const ArrayPtr mixedItems = mixed->allNonProxyChildrenFromFilteredChildren(true, true);
    const ArrayPtr mixedMovies = mixed->allNonProxyMovieChildren();
    EXPECT_NE(mixedItems.get(), mixedMovies.get());
    EXPECT_EQ(mixedItems->count(), 3);
    EXPECT_EQ(names(mixedMovies), (QStringList{"a", "b"}));
}

TEST_F(ModelTest, ItemCountModes)
{
    auto played = movie("played");
    played->incrementCounter();
    auto inner = folder("inner", {Value(movie("deep"))});
    auto container = folder("c", {Value(played), Value(movie("new")), Value(inner)});
    struct Case {
        int mode;
        std::uint64_t count;
    };
    for (const Case& c : {Case{0, 3}, Case{2, 3}, Case{1, 2}, Case{4, 1}, Case{3, 2}, Case{7, 2}, Case{-1, 3}}) {
        setDefault("Item Count Mode", c.mode);
        EXPECT_EQ(container->numberOfChildrenToDisplay(), c.count) << c.mode;
    }
}

TEST_F(ModelTest, ManualOrderAndItsSettings)
{
    auto a = movie("a");
    auto b = movie("b");
    auto c = movie("c");
    auto container = folder("f", {Value(c), Value(a), Value(b)});
    // Manual order is the default of plain folders: the raw order.
    EXPECT_EQ(names(container->sortedChildren()), (QStringList{"c", "a", "b"}));

    container->setSortCriterion(QStringLiteral("GroupListName"), false, true);
    EXPECT_EQ(names(container->sortedChildren()), (QStringList{"a", "b", "c"}));
    container->setSortsDescending(true, true);
    EXPECT_EQ(names(container->sortedChildren()), (QStringList{"c", "b", "a"}));
    container->setSortsDescending(false, true);

    // Choosing manual order remembers the criterion it replaced.
    container->setSortCriterion(QStringLiteral("GroupListIndex"), false, true);
    EXPECT_EQ(container->value(QStringLiteral("Group Sorting Criterion: Previous")).string(), QStringLiteral("GroupListName"));

    // An auxiliary criterion is merged into the list, last or first.
    auto tiered = folder("t");
    tiered->setSortCriterion(QStringLiteral("GroupListTime"), false, false);
    tiered->setSortCriterion(QStringLiteral("GroupListName"), true, false);
    EXPECT_EQ(tiered->value(QStringLiteral("Group Sorting Criterion")).string(), QStringLiteral("GroupListTime,GroupListName"));
    auto prepended = folder("p");
    setDefault("Prepend Tiered Settings", true);
    prepended->setSortCriterion(QStringLiteral("GroupListTime"), false, false);
    prepended->setSortCriterion(QStringLiteral("GroupListName"), true, false);
    EXPECT_EQ(prepended->value(QStringLiteral("Group Sorting Criterion")).string(), QStringLiteral("GroupListName,GroupListTime"));

    container->setIndexSequence({a->uniqueLibraryID()});
    EXPECT_FALSE(container->contains(QStringLiteral("Index Sequence")));
    container->setIndexSequence({a->uniqueLibraryID(), b->uniqueLibraryID()});
    EXPECT_EQ(container->value(QStringLiteral("Index Sequence")).string(), a->uniqueLibraryID() + u',' + b->uniqueLibraryID());

    EXPECT_FALSE(folder("one", {Value(movie("x"))})->rearrangeChildrenAsPreflightCheck(false));
}

TEST_F(ModelTest, RearrangingMakesTheSortedOrderTheManualOrder)
{
    auto container = folder("f", {Value(movie("c")), Value(movie("a")), Value(movie("b"))});
    container->setSortCriterion(QStringLiteral("GroupListName"), false, true);
    EXPECT_TRUE(container->rearrangeChildrenAsPreflightCheck(true));
    EXPECT_EQ(names(container->rawChildren()), (QStringList{"c", "a", "b"}));
    EXPECT_TRUE(container->rearrangeChildrenAsPreflightCheck(false));
    EXPECT_EQ(names(container->rawChildren()), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(container->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListIndex"));
}

TEST_F(ModelTest, VolatileSubdivisionsKeepTheirSettingsInTheirSmartGroup)
{
    auto smart = PMLibraryContainer::make({{"Smart", true}, {"Name", "smart"}, {"Group Sorting Criterion", "GroupListDate"}});
    auto subdivision = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "A"}, {"Name", "A"}});
    PMLibraryContainerPtr storage = mainController().smartGroupStorage();
    storage->rawChildren()->append(Value(smart));
    // The update empties smart groups; their subdivisions are made anew after it.
    mainController().invalidateLibraryDependencies();
    smart->rawChildren()->append(Value(subdivision));

    Value source;
    EXPECT_EQ(subdivision->primarySortCriterionFromCSVString(nullptr, &source, false), QStringLiteral("GroupListDate"));
    EXPECT_TRUE(PMIsSameItem(source, Value(smart)));

    subdivision->setSortCriterion(QStringLiteral("GroupListName"), false, false);
    EXPECT_FALSE(subdivision->contains(QStringLiteral("Group Sorting Criterion")));
    const DictionaryPtr entry = smart->value(QStringLiteral("Subgroup Settings")).dictionary()->value(subdivision->uniqueLibraryID()).dictionary();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value(QStringLiteral("Group Sorting Criterion")).string(), QStringLiteral("GroupListName"));
    EXPECT_EQ(subdivision->primarySortCriterionFromCSVString(nullptr, nullptr, false), QStringLiteral("GroupListName"));

    EXPECT_TRUE(subdivision->removeVolatileSortCriterionAndIndexSequence(true));
    EXPECT_EQ(subdivision->primarySortCriterionFromCSVString(nullptr, nullptr, false), QStringLiteral("GroupListDate"));
    EXPECT_FALSE(smart->removeVolatileSortCriterionAndIndexSequence(true));

    EXPECT_EQ(subdivision->displayMode(), 10);
    smart->setDisplayMode(11);
    EXPECT_EQ(subdivision->displayMode(), 11);
    smart->remove(QStringLiteral("Group Content Display Mode"));
    smart->setValue(QStringLiteral("List Group"), true);
    EXPECT_EQ(smart->displayModeByCheckingAncestors(true, true), 0);
}

TEST_F(ModelTest, ASubdivisionWhoseManualOrderMatchesItsParentReturnsToTheInheritedCriterion)
{
    auto a = movie("a");
    auto b = movie("b");
    auto smart = PMLibraryContainer::make({{"Smart", true}, {"Name", "smart"}, {"Group Sorting Criterion", "GroupListName"}});
    auto subdivision = PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "A"}, {"Name", "A"}});
    subdivision->rawChildren()->append(Value(a->fanOutProxy()));
    subdivision->rawChildren()->append(Value(b->fanOutProxy()));
    mainController().smartGroupStorage()->rawChildren()->append(Value(smart));
    mainController().invalidateLibraryDependencies();
    smart->rawChildren()->append(Value(subdivision));

    subdivision->setSortCriterion(QStringLiteral("GroupListIndex"), false, false);
    subdivision->setIndexSequence({a->uniqueLibraryID(), b->uniqueLibraryID()});
    EXPECT_EQ(subdivision->primarySortCriterionFromCSVString(nullptr, nullptr, false), QStringLiteral("GroupListIndex"));
    EXPECT_EQ(names(subdivision->sortedChildren()), (QStringList{"a", "b"}));
    // The manual order equals the parent's name order, so the subdivision inherits again.
    EXPECT_EQ(subdivision->primarySortCriterionFromCSVString(nullptr, nullptr, false), QStringLiteral("GroupListName"));
}

TEST_F(ModelTest, SmartPlaylistFolderIcons)
{
    auto empty = PMLibraryContainer::make({{"Smart Playlists Folder", true}});
    EXPECT_EQ(empty->iconName(), QStringLiteral("PMPlaylist"));
    auto foldersOnly = PMLibraryContainer::make({{"Smart Playlists Folder", true}});
    foldersOnly->rawChildren()->append(Value(folder("sub")));
    EXPECT_EQ(foldersOnly->iconName(), QStringLiteral("PMBasicFolder"));
    auto withMovie = PMLibraryContainer::make({{"Smart Playlists Folder", true}});
    withMovie->rawChildren()->append(Value(folder("sub")));
    withMovie->rawChildren()->append(Value(movie("m")));
    EXPECT_EQ(withMovie->iconName(), QStringLiteral("PMPlaylist"));
    EXPECT_EQ(PMLibraryContainer::make({{"Smart", true}})->iconName(), QStringLiteral("PMSmartFolder"));
    EXPECT_EQ(PMLibraryContainer::make({{"Smart", true}, {"Subdivision", "x"}, {"Subdivision Intermediate", "i"}})->iconName(),
              QStringLiteral("PMSmartIntermediateFolder"));
    EXPECT_EQ(folder("plain")->iconName(), QStringLiteral("PMFolder"));
}
