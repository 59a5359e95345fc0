// The library window's selections, container history, view state and search field,
// driven through the real controller with the stand-in source list and list table.
#include "library/model/ModelFixture.h"

#include "GridTestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMPasteboard.h"
#include "platform/EventClock.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>
#include <QtWidgets/QLineEdit>

#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

PMMainController& c()
{
    return mainController();
}

QString idOf(const Value& v)
{
    return PMItem(v)->uniqueLibraryID();
}

QStringList namesOfContainers(const QList<PMLibraryContainerPtr>& containers)
{
    QStringList names;
    for (const PMLibraryContainerPtr& container : containers)
        names << container->displayName();
    return names;
}

} // namespace

class SelectionsTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        platform::steerEventClockForTesting(true);
        removeDefaults();
        A = folder("A");
        B = folder("B");
        C = folder("C");
        movies = library({Value(A), Value(B), Value(C)});
    }
    void TearDown() override
    {
        platform::steerEventClockForTesting(false);
        c().searchField = nullptr;
        c()._groupView = nullptr;
        c()._libraryListAccess = nullptr;
        c()._groupListAccess = nullptr;
        c()._updateUserInterfaceHook = nullptr;
        c()._groupViewRectStringsByID.reset();
        c()._groupListRectStringsByID.reset();
        gridtest::waitForPictureLoads();
        removeDefaults();
        ModelTest::TearDown();
    }
    static void removeDefaults()
    {
        for (const char* key : {"Search Delay", "Group Search Scope", "Visible Rects (4703)", "Visible Rects", "Source List Display Mode",
                                "Container History Navigation Always Adds To Heap", "Filter"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
    }
    // Selects the container and lets the steered clock run on.
    static void selectAndWait(const PMLibraryContainerPtr& container, double seconds)
    {
        ASSERT_TRUE(c().selectLibraryItem(Value(container)));
        platform::advanceEventClockForTesting(seconds);
    }
    static QStringList heapNames()
    {
        QStringList names;
        for (const auto& entry : c()._selectedContainerHeap)
            names << namesOfContainers(idsToContainers(entry.IDs)).join(QLatin1Char('+'));
        return names;
    }
    static QList<PMLibraryContainerPtr> idsToContainers(const QSet<QString>& ids)
    {
        QList<PMLibraryContainerPtr> containers;
        for (const QString& id : ids)
            if (const PMLibraryContainerPtr container = c()._containersByID.value(id))
                containers << container;
        return containers;
    }

    PMLibraryContainerPtr A, B, C, movies;
};

// ---------------------------------------------------------------------------
// Heap and history

TEST_F(SelectionsTest, HeapAndHistoryKeepLastingSelectionsNewestFirst)
{
    const struct {
        const char* name;
        std::vector<std::pair<QString, double>> pushes; // IDs and the time of each refresh
        QStringList heap, history;
    } cases[] = {
        {"A, B 0.3 s later, C 1 s later: B's successor drops A", {{"A", 0}, {"B", 0.3}, {"C", 1.3}}, {"C", "B"}, {"C", "B"}},
        {"the same selection twice: one entry", {{"A", 0}, {"A", 2}}, {"A"}, {"A"}},
        {"a refresh just before the next choice keeps the held one", {{"A", 0}, {"A", 5}, {"B", 5.2}}, {"B", "A"}, {"B", "A"}},
        {"reselecting one from long ago", {{"A", 0}, {"B", 1}, {"A", 2}}, {"A", "B", "A"}, {"A", "B"}},
        {"exactly half a second counts as transient", {{"A", 0}, {"B", 0.5}}, {"B"}, {"B"}},
        {"passing through one back to the first", {{"A", 0}, {"B", 1}, {"C", 1.2}, {"A", 1.4}}, {"A"}, {"A"}},
        {"history drops the older same entry below a lasting one", {{"A", 0}, {"B", 1}, {"C", 2}, {"B", 3}}, {"B", "C", "B", "A"}, {"B", "C", "A"}},
    };
    for (const auto& t : cases) {
        c()._selectedContainerHeap.clear();
        c()._selectedContainerHistory.clear();
        for (const auto& [id, time] : t.pushes)
            c().recordSelectedContainerIDs({id}, time);
        QStringList heap, history;
        for (const auto& e : c()._selectedContainerHeap)
            heap << e.IDs.values().join(QLatin1Char('+'));
        for (const auto& e : c()._selectedContainerHistory)
            history << e.IDs.values().join(QLatin1Char('+'));
        EXPECT_EQ(heap, t.heap) << t.name;
        EXPECT_EQ(history, t.history) << t.name;
    }
    // The newer date wins for a repeated selection.
    EXPECT_EQ(c()._selectedContainerHeap.first().date, 3);
}

TEST_F(SelectionsTest, SelectingContainersFillsTheHeapThroughTheRefresh)
{
    selectAndWait(A, 0.3);
    selectAndWait(B, 1.0);
    selectAndWait(C, 0);
    EXPECT_EQ(c()._groupItemsParent, C);
    EXPECT_EQ(heapNames(), (QStringList{"C", "B"}));
    ASSERT_EQ(c()._selectedContainerHistory.size(), 2);

    // A new library starts without history.
    c().loadLibrary();
    EXPECT_TRUE(c()._selectedContainerHeap.isEmpty());
    EXPECT_TRUE(c()._selectedContainerHistory.isEmpty());
}

TEST_F(SelectionsTest, GoingBackWalksTheHeapAndSkipsDeletedContainers)
{
    selectAndWait(A, 1);
    selectAndWait(B, 1);
    selectAndWait(C, 1);
    EXPECT_TRUE(c().goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(true));
    EXPECT_EQ(heapNames(), (QStringList{"C", "B", "A"})); // a preflight changes nothing
    c().goBackToPreviouslySelectedContainers(nullptr);
    EXPECT_EQ(c().selectedContainer(), B);
    platform::advanceEventClockForTesting(1);
    c().goBackToPreviouslySelectedContainers(nullptr);
    EXPECT_EQ(c().selectedContainer(), A);
    EXPECT_EQ(heapNames(), (QStringList{"A"}));
    EXPECT_FALSE(c().goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(false));
    EXPECT_EQ(c().selectedContainer(), A);
    platform::advanceEventClockForTesting(1);

    // B deleted: going back from C lands on A.
    selectAndWait(B, 1);
    selectAndWait(C, 1);
    movies->rawChildren()->removeAt(movies->rawChildren()->indexOfIdentical(B.get()));
    c().invalidateLibraryDependencies();
    c().goBackToPreviouslySelectedContainers(nullptr);
    EXPECT_EQ(c().selectedContainer(), A);
}

TEST_F(SelectionsTest, DeletingTheShownContainerShowsTheOneBeforeItElseTheFirstItem)
{
    // Never a blank header over an empty grid: the containers selected before come back.
    selectAndWait(A, 1);
    selectAndWait(C, 1);
    c().freezeSelections();
    movies->rawChildren()->removeAt(movies->rawChildren()->indexOfIdentical(C.get()));
    c().updateLibraryWithFrozenSelections();
    EXPECT_EQ(c().selectedContainer(), A);
    EXPECT_EQ(c()._groupItemsParent, A);

    // Nothing selected before it is left: the first item, as at start-up.
    c()._selectedContainerHeap.clear();
    platform::advanceEventClockForTesting(1);
    c().freezeSelections();
    movies->rawChildren()->removeAt(movies->rawChildren()->indexOfIdentical(A.get()));
    c().updateLibraryWithFrozenSelections();
    ASSERT_NE(c().selectedContainer(), nullptr);
    EXPECT_NE(c().selectedContainer(), A);
    EXPECT_EQ(c()._groupItemsParent, c().selectedContainer());
}

TEST_F(SelectionsTest, HistoryMenuListsEachSelectionOnceAndTrimsTheHeap)
{
    selectAndWait(A, 1);
    selectAndWait(B, 1);
    selectAndWait(A, 1);
    selectAndWait(C, 1);
    const auto history = c().relevantSelectedContainerHistoryAsPreflightCheck(false);
    ASSERT_TRUE(history);
    QStringList listed;
    for (const auto& containers : *history)
        listed << namesOfContainers(containers).join(QLatin1Char('+'));
    EXPECT_EQ(listed, (QStringList{"A", "B"}));
    ASSERT_TRUE(c().relevantSelectedContainerHistoryAsPreflightCheck(true));
    EXPECT_TRUE(c().relevantSelectedContainerHistoryAsPreflightCheck(true)->isEmpty());

    // From the heap [C, B, A] (each lasting), choosing A.
    auto heapOfCBA = [&] {
        c()._selectedContainerHeap.clear();
        double age = 40;
        for (const auto& container : {A, B, C})
            c().recordSelectedContainerIDs({container->uniqueLibraryID()}, platform::eventClockNow() - (age -= 10));
    };
    heapOfCBA();
    platform::UserDefaults::standard().setObject(Value(true), QStringLiteral("Container History Navigation Always Adds To Heap"));
    c().selectHistoryContainers({A});
    EXPECT_EQ(heapNames(), (QStringList{"A", "C", "B", "A"}));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Container History Navigation Always Adds To Heap"));
    ASSERT_TRUE(c().selectLibraryItem(Value(C)));
    heapOfCBA();
    c().selectHistoryContainers({A});
    EXPECT_EQ(heapNames(), (QStringList{"A"}));
}

// ---------------------------------------------------------------------------
// Freezing and restoring

TEST_F(SelectionsTest, ProxiesAreRestoredThroughTheirParentAndOwnID)
{
    platform::UserDefaults::standard().setObject(Value(1), QStringLiteral("Source List Display Mode"));
    auto m = movie("m");
    auto playlist = folder("Playlist", {Value(m->proxy())});
    A->rawChildren()->append(Value(m));
    movies->rawChildren()->append(Value(playlist));
    c().invalidateLibraryDependencies();
    const Value oldProxy = playlist->rawChildren()->at(0);
    ASSERT_TRUE(c().selectLibraryItem(oldProxy));
    // The refresh of that selection searched the playlist for it: the proxy is still
    // found as the list's row, not as a search result.
    ASSERT_EQ(c().selectedLibraryItems()->count(), 1);
    c().freezeSelections();
    ASSERT_EQ(c()._frozenSelections.library->count(), 1);
    EXPECT_EQ(c()._frozenSelections.library->at(0).string(), playlist->uniqueLibraryID() + QStringLiteral(">>") + idOf(oldProxy));
    // The rebuild makes a new proxy of the same movie.
    const Value newProxy(m->proxy());
    ASSERT_FALSE(PMIsSameItem(newProxy, oldProxy));
    playlist->rawChildren()->values() = {newProxy};
    playlist->invalidateChildren();
    c().invalidateLibraryDependencies();
    c().unfreezeSelections();

    const ArrayPtr selected = c().selectedLibraryItems();
    ASSERT_TRUE(selected);
    ASSERT_EQ(selected->count(), 1);
    EXPECT_TRUE(PMIsSameItem(selected->at(0), newProxy));
    EXPECT_EQ(c()._numberOfSelectedLibraryFiles, 1);
}

TEST_F(SelectionsTest, SubdivisionsAreRestoredByIDPrefixAndTheirMovies)
{
    auto a = movie("a");
    auto b = movie("b");
    auto subdivision = [](const QString& id, std::initializer_list<Value> children) {
        auto d = PMLibraryContainer::make({{QStringLiteral("Smart"), true}, {QStringLiteral("Subdivision"), QStringLiteral("Year")}});
        d->setUniqueLibraryID(id);
        for (const Value& child : children)
            d->rawChildren()->append(child);
        return d;
    };
    auto smart = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Smart")}, {QStringLiteral("Smart"), true}});
    movies->rawChildren()->append(Value(smart));
    // The rebuild gives smart groups new subdivisions (here instead of their engine).
    auto rebuild = [&](std::initializer_list<PMLibraryContainerPtr> subdivisions) {
        c().invalidateLibraryDependencies();
        c().cancelSmartGroupPopulation();
        // The old subdivisions go, and are no longer known by their IDs.
        for (const Value& v : *smart->rawChildren())
            if (PMLibraryItem* d = PMItem(v))
                c()._containersByID.remove(d->uniqueLibraryID());
        smart->setValue(QStringLiteral("Children"), Value(platform::Array::make()));
        for (const PMLibraryContainerPtr& d : subdivisions) {
            smart->rawChildren()->append(Value(d));
            c()._containersByID.insert(d->uniqueLibraryID(), d);
        }
        smart->invalidateChildren();
    };
    rebuild({subdivision(QStringLiteral("S::Year::1"), {Value(a), Value(b)})});
    ASSERT_TRUE(c().selectLibraryItem(smart->rawChildren()->at(0)));
    c().freezeSelections();

    // New names: one of another prefix with the same movies, one of the same prefix with
    // other movies, and the right one.
    auto same = subdivision(QStringLiteral("S::Year::2"), {Value(b), Value(a)});
    rebuild({subdivision(QStringLiteral("S::Month::0"), {Value(a), Value(b)}), subdivision(QStringLiteral("S::Year::0"), {Value(a)}), same});
    c().unfreezeSelections();
    EXPECT_EQ(c().selectedContainer(), same);
}

TEST_F(SelectionsTest, NestedFreezesRestoreAtEveryUnfreezeAndForgetAtTheLast)
{
    int refreshes = 0;
    c()._updateUserInterfaceHook = [&] { ++refreshes; };
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    c().freezeSelections();
    c().freezeSelections();
    EXPECT_EQ(c()._selectionFreezeLevel, 2);
    ASSERT_TRUE(c().selectLibraryItem(Value(B)));
    c().unfreezeSelections();
    EXPECT_EQ(c().selectedContainer(), A); // restored from the outermost record
    EXPECT_TRUE(c()._frozenSelections.library);
    ASSERT_TRUE(c().selectLibraryItem(Value(C)));
    c().unfreezeSelections();
    EXPECT_EQ(c().selectedContainer(), A);
    EXPECT_FALSE(c()._frozenSelections.library);
    EXPECT_FALSE(c()._frozenSelections.group);

    // A restore of the very same rows still corrects the selection and refreshes once.
    c().freezeSelections();
    refreshes = 0;
    c().unfreezeSelections();
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(c()._numberOfSelectedLibraryContainers, 1);

    // Releasing drops the record without restoring: a selection made afterwards stays.
    // (A selection made while frozen is put back by the refresh it runs, whose own
    // unfreeze restores the outermost record.)
    c().freezeSelections();
    c().releaseFrozenSelections();
    EXPECT_EQ(c()._selectionFreezeLevel, 0);
    EXPECT_FALSE(c()._frozenSelections.library);
    ASSERT_TRUE(c().selectLibraryItem(Value(B)));
    EXPECT_EQ(c().selectedContainer(), B);
    // An unfreeze without a freeze does nothing.
    c().unfreezeSelections();
    EXPECT_EQ(c()._selectionFreezeLevel, 0);
}

TEST_F(SelectionsTest, GroupSelectionsAreRestoredByTheValueOfTheirIDs)
{
    auto m1 = movie("m1");
    auto m2 = movie("m2");
    A->rawChildren()->values() = {Value(m1), Value(m2)};
    c().invalidateLibraryDependencies();
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    ASSERT_EQ(names(c()._groupMovieItems), (QStringList{"m1", "m2"}));
    c().groupListAccess().selectRows({1});
    c().freezeSelections();
    // New records after the rebuild, with IDs equal in text but not the same strings.
    auto n1 = movie("m1");
    auto n2 = movie("m2");
    n1->setUniqueLibraryID(QString::fromUtf8(m1->uniqueLibraryID().toUtf8()));
    n2->setUniqueLibraryID(QString::fromUtf8(m2->uniqueLibraryID().toUtf8()));
    A->rawChildren()->values() = {Value(n1), Value(n2)};
    A->invalidateChildren();
    c().invalidateLibraryDependencies();
    c().groupListAccess().selectRows({});
    c().unfreezeSelections();
    ASSERT_EQ(c().selectedGroupListItems()->count(), 1);
    EXPECT_TRUE(PMIsSameItem(c().selectedGroupListItems()->at(0), Value(n2)));

    // The grid, when it is the shown view, gets the same by its IDs.
    gridtest::useSmallUniformTiles();
    PMGroupView grid;
    grid.resize(480, 400);
    c()._groupView = &grid;
    c().updateUserInterface(); // fills the grid with the container's movies
    grid.tileWithAdjustedSize(false, false, false);
    grid.selectItemsWithIDs({n1->uniqueLibraryID()});
    c().freezeSelections();
    grid.selectItemsWithIDs({});
    c().unfreezeSelections();
    ASSERT_EQ(grid.selectedItems()->count(), 1);
    EXPECT_TRUE(PMIsSameItem(grid.selectedItems()->at(0), Value(n1)));
    c()._groupView = nullptr;
}

TEST_F(SelectionsTest, CorrectingKeepsTheFirstItemsSiblingsAndCountsThem)
{
    auto inner = folder("inner");
    A->rawChildren()->append(Value(inner));
    c().invalidateLibraryDependencies();
    // Selecting a container and one of another level keeps the first and its siblings.
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(A), Value(B), Value(inner)})));
    EXPECT_EQ(c()._numberOfSelectedLibraryContainers, 2);
    ASSERT_EQ(c().selectedLibraryItems()->count(), 2);
    EXPECT_TRUE(c().canIntersectSearch());
    EXPECT_TRUE(c().multipleSelectionLibraryItems());
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    EXPECT_FALSE(c().multipleSelectionLibraryItems()); // one container: no multiple selection
    EXPECT_FALSE(c().canIntersectSearch());
    // The storages themselves are not selectable.
    EXPECT_FALSE(c().selectLibraryItem(Value(c().existingSourceStorage())) && c().selectedContainer() == c().existingSourceStorage());
}

// ---------------------------------------------------------------------------
// Adding and selecting

namespace {
// A source list that shows nothing expanded.
class CollapsedLibraryList : public PMLibraryListAccess {
public:
    bool isItemExpanded(const Value&) override { return false; }
};
} // namespace

TEST_F(SelectionsTest, AddedItemsArePlacedByTheReferenceAndStorage)
{
    auto m = movie("m");
    auto smart = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Smart")}, {QStringLiteral("Smart"), true}});
    A->rawChildren()->append(Value(m));
    movies->rawChildren()->append(Value(smart));
    const PMLibraryContainerPtr temporary = c().temporaryStorage();
    const PMLibraryContainerPtr library = c().existingSourceStorage();
    c().invalidateLibraryDependencies();

    enum class Where { Own, Temporary, A, Movies };
    const struct {
        const char* name;
        Value reference;
        PMLibraryContainerPtr storage;
        bool collapsed;
        Where where;
        qsizetype index; // -1: last
    } cases[] = {
        {"no reference, no storage", Value(), nullptr, false, Where::Own, -1},
        {"no reference, the temporary storage", Value(), temporary, false, Where::Temporary, -1},
        {"an expanded folder", Value(A), nullptr, false, Where::A, 0},
        {"a collapsed folder: after it", Value(A), nullptr, true, Where::Movies, 1},
        {"the own section, expanded", Value(movies), nullptr, false, Where::Movies, 0},
        {"the own section, collapsed", Value(movies), nullptr, true, Where::Movies, -1},
        {"a smart group: after it", Value(smart), nullptr, false, Where::Movies, 4},
        {"a movie: after it", Value(m), nullptr, false, Where::A, 1},
        {"a reference outside the storage", Value(A), temporary, false, Where::Temporary, -1},
        {"the Library storage with a reference in the own section", Value(A), library, false, Where::A, 0},
    };
    for (const auto& t : cases) {
        if (t.collapsed)
            c()._libraryListAccess = std::make_shared<CollapsedLibraryList>();
        else
            c()._libraryListAccess = nullptr;
        auto added = folder(QString::fromLatin1(t.name));
        ArrayPtr siblings;
        c().addAndSelectLibraryItem(Value(added), t.storage, t.reference, false, &siblings);
        const PMLibraryContainerPtr expected = t.where == Where::Own || t.where == Where::Movies ? movies
            : t.where == Where::Temporary                                                       ? temporary
                                                                                                : A;
        ASSERT_TRUE(siblings) << t.name;
        EXPECT_EQ(siblings, expected->rawChildren()) << t.name;
        const qsizetype at = siblings->indexOfIdentical(added.get());
        EXPECT_EQ(at, t.index < 0 ? siblings->count() - 1 : t.index) << t.name;
        if (!t.collapsed) {
            EXPECT_EQ(c().selectedContainer(), added) << t.name;
        }
        siblings->removeAt(at);
        c().invalidateLibraryDependencies();
    }
}

// ---------------------------------------------------------------------------
// View state

TEST_F(SelectionsTest, VisibleRectanglesAreStoredPerContainerAndRefuseWhatIsNotARectangle)
{
    auto rects = std::make_shared<platform::Dictionary>();
    auto view = std::make_shared<platform::Dictionary>();
    view->setValue(A->uniqueLibraryID(), Value(QStringLiteral("{{0, 40}, {100, 50}}")));
    view->setValue(B->uniqueLibraryID(), Value(5)); // not a rectangle string: left out
    rects->setValue(QStringLiteral("View"), Value(view));
    rects->setValue(QStringLiteral("List"), Value(QStringLiteral("not a dictionary")));
    platform::UserDefaults::standard().setObject(Value(rects), QStringLiteral("Visible Rects (4703)"));
    platform::UserDefaults::standard().setObject(Value(QByteArray("old archive")), QStringLiteral("Visible Rects"));

    ASSERT_TRUE(c().selectLibraryItem(Value(B)));
    PMGroupListAccess& list = c().groupListAccess();
    c()._groupMovieItems = Array::make();
    for (int i = 0; i < 100; ++i)
        c()._groupMovieItems->append(Value(movie(QStringLiteral("m%1").arg(i))));
    // The list: nothing stored for B, so its top-left corner; then a stored place.
    list.standInVisibleRect = QRectF(0, 500, 600, 300);
    c().restoreVisibleGroupViewRect();
    EXPECT_EQ(list.standInVisibleRect, QRectF(0, 0, 1, 1));
    c().storeVisibleGroupViewRect(QRectF(0, 220, 600, 300.5));
    list.standInVisibleRect = QRectF();
    c().restoreVisibleGroupViewRect();
    EXPECT_EQ(list.standInVisibleRect, QRectF(0, 220, 600, 300.5));
    EXPECT_EQ(c()._groupListRectStringsByID->value(B->uniqueLibraryID()), QStringLiteral("{{0, 220}, {600, 300.5}}"));
    // A flat rectangle forgets the place.
    c().storeVisibleGroupViewRect(QRectF(0, 220, 600, 0.5));
    EXPECT_FALSE(c()._groupListRectStringsByID->contains(B->uniqueLibraryID()));

    // The grid keeps its own places; A's came from the defaults.
    gridtest::useSmallUniformTiles();
    PMGroupView grid;
    grid.resize(480, 200);
    c()._groupView = &grid;
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    EXPECT_EQ(c()._groupViewRectStringsByID->value(A->uniqueLibraryID()), QStringLiteral("{{0, 40}, {100, 50}}"));
    EXPECT_FALSE(c()._groupViewRectStringsByID->contains(B->uniqueLibraryID()));
    c().storeVisibleGroupViewRect(QRectF(0, 100, 480, 200));
    c()._groupView = nullptr;
    ASSERT_TRUE(c().selectLibraryItem(Value(C)));
    c().storeVisibleGroupViewRect(QRectF(0, 10, 600, 300));

    // Saving keeps the existing containers only, and drops the old key.
    movies->rawChildren()->removeAt(movies->rawChildren()->indexOfIdentical(C.get()));
    c().invalidateLibraryDependencies();
    c().saveVisibleGroupViewRects();
    const platform::DictionaryPtr saved = platform::UserDefaults::standard().dictionaryForKey(QStringLiteral("Visible Rects (4703)"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->value(QStringLiteral("View")).dictionary()->value(A->uniqueLibraryID()).string(), QStringLiteral("{{0, 100}, {480, 200}}"));
    EXPECT_FALSE(saved->contains(QStringLiteral("List"))); // C's entry went with C
    EXPECT_TRUE(platform::UserDefaults::standard().objectForKey(QStringLiteral("Visible Rects")).isNull());
}

TEST_F(SelectionsTest, SmartGroupOrdersNeedTwoMoviesAndEveryChild)
{
    auto a = movie("a");
    auto b = movie("b");
    auto sub = folder("sub");
    auto smart = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Smart")}, {QStringLiteral("Smart"), true}});
    for (const Value& v : {Value(a), Value(sub), Value(b)})
        smart->rawChildren()->append(v);
    smart->setIndexSequence({QStringLiteral("x"), QStringLiteral("y")});

    // One movie: no order to keep.
    c().storeSequence(Array::make({Value(b), Value(sub)}), smart);
    EXPECT_FALSE(smart->contains(QStringLiteral("Index Sequence")) && !smart->value(QStringLiteral("Index Sequence")).isNull()
                 && smart->value(QStringLiteral("Index Sequence")).array() && !smart->value(QStringLiteral("Index Sequence")).array()->isEmpty());
    // Two movies, the group left out: it comes first, the movies keep the given order.
    c().storeSequence(Array::make({Value(b), Value(a)}), smart);
    EXPECT_EQ(names(smart->rawChildren()), (QStringList{"sub", "b", "a"}));
}

// ---------------------------------------------------------------------------
// Search field

TEST_F(SelectionsTest, SearchesApplyAfterTheDelayThatEveryKeystrokeRestarts)
{
    QLineEdit field;
    c().searchField = &field;
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    ASSERT_EQ(c()._groupItemsParentOrSearchReferenceContainer, A);
    const int before = c()._numberOfAppliedSearches;

    field.setText(QStringLiteral("b"));
    c().updateResultsForSearchField(&field, true);
    platform::advanceEventClockForTesting(0.6);
    field.setText(QStringLiteral("be"));
    c().updateResultsForSearchField(&field, true);
    platform::advanceEventClockForTesting(0.9); // 1.5 s after the first key, 0.9 after the second
    EXPECT_EQ(c()._numberOfAppliedSearches, before);
    EXPECT_EQ(A->query(), QString());
    platform::advanceEventClockForTesting(0.1);
    EXPECT_EQ(c()._numberOfAppliedSearches, before + 1);
    EXPECT_EQ(A->query(), QStringLiteral("be"));

    // A delay of one's own; an emptied field applies at once.
    platform::UserDefaults::standard().setObject(Value(0.25), QStringLiteral("Search Delay"));
    field.setText(QStringLiteral("bea"));
    c().updateResultsForSearchField(&field, true);
    platform::advanceEventClockForTesting(0.25);
    EXPECT_EQ(A->query(), QStringLiteral("bea"));
    field.setText(QStringLiteral("  "));
    c().updateResultsForSearchField(&field, true);
    EXPECT_EQ(A->query().trimmed(), QString());
    EXPECT_EQ(c()._numberOfAppliedSearches, before + 3);
}

TEST_F(SelectionsTest, FilteringFillsTheFieldAndSearchesAtOnce)
{
    QLineEdit field;
    c().searchField = &field;
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    platform::UserDefaults::standard().setObject(Value(QStringLiteral("[Selected]")), QStringLiteral("Group Search Scope"));

    auto m1 = movie("m1");
    auto m2 = movie("m2");
    c().filter(Value(Array::make({Value(m1), Value(m2)})));
    EXPECT_EQ(field.text(), QStringLiteral("==") + m1->uniqueLibraryID() + QStringLiteral("|") + m2->uniqueLibraryID());
    EXPECT_EQ(A->query(), field.text());
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey(QStringLiteral("Group Search Scope")), QStringLiteral("[Selected]"));

    c().filter(Value(QStringLiteral("genre:comedy")));
    EXPECT_EQ(A->query(), QStringLiteral("genre:comedy"));
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey(QStringLiteral("Group Search Scope")), QStringLiteral("[All]"));
    // Nothing to filter by: nothing happens.
    c().filter(Value(Array::make()));
    EXPECT_EQ(A->query(), QStringLiteral("genre:comedy"));
    field.clear();
    c().updateResultsForSearchField(&field, false);
}

TEST_F(SelectionsTest, AnEmptyGridSaysWhyItIsEmpty)
{
    A->rawChildren()->append(Value(folder("x")));
    A->rawChildren()->append(Value(folder("y")));
    B->rawChildren()->append(Value(folder("z")));
    c().invalidateLibraryDependencies();
    platform::UserDefaults::standard().setObject(Value(QStringLiteral("[All]")), QStringLiteral("Group Search Scope"));
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    EXPECT_EQ(c().groupPlaceholderMessage(), QStringLiteral("2 subgroups"));
    ASSERT_TRUE(c().selectLibraryItem(Value(B)));
    EXPECT_EQ(c().groupPlaceholderMessage(), QStringLiteral("1 subgroup"));
    ASSERT_TRUE(c().selectLibraryItem(Value(C)));
    EXPECT_EQ(c().groupPlaceholderMessage(), QString());
    B->setQuery(QStringLiteral("nothing"));
    ASSERT_TRUE(c().selectLibraryItem(Value(B)));
    EXPECT_EQ(c().groupPlaceholderMessage(), QStringLiteral("No Matches"));
    B->setQuery(QString());
}

TEST_F(SelectionsTest, SortMenuSetsAndReversesTheContainersCriterion)
{
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    c()._groupListSortsDescending = false;
    c().setSortCriterionForSelectedContainerFromMenuItem(Value(QStringLiteral("GroupListName")), 0);
    EXPECT_EQ(A->value(QStringLiteral("Group Sorting Criterion")).string(), QStringLiteral("GroupListName"));
    EXPECT_FALSE(A->value(QStringLiteral("Group Sorting Direction")).toBool());
    // Tag 1 with a criterion reverses the current direction.
    c().setSortCriterionForSelectedContainerFromMenuItem(Value(QStringLiteral("GroupListName")), 1);
    EXPECT_TRUE(A->value(QStringLiteral("Group Sorting Direction")).toBool());
    EXPECT_TRUE(c()._groupListSortsDescending);
    // Without a criterion, tag 0 sorts ascending.
    c().setSortCriterionForSelectedContainerFromMenuItem(Value(), 0);
    EXPECT_FALSE(A->value(QStringLiteral("Group Sorting Direction")).toBool());
    EXPECT_EQ(c().selectedContainer(), A); // the selection survived the rebuilds
}

TEST_F(SelectionsTest, ScrollingToTopOrBottomToggles)
{
    c()._groupMovieItems = Array::make();
    for (int i = 0; i < 100; ++i)
        c()._groupMovieItems->append(Value(movie(QStringLiteral("m%1").arg(i))));
    PMGroupListAccess& list = c().groupListAccess();
    list.standInVisibleRect = QRectF(0, 0, 600, 300);
    c().scrollToGroupTopOrBottom();
    EXPECT_EQ(list.standInVisibleRect.top(), 99 * 22);
    c().scrollToGroupTopOrBottom();
    EXPECT_EQ(list.standInVisibleRect.top(), 0);
}

TEST_F(SelectionsTest, ADragTheOrderCannotMatchStoresNothingButStillRebuilds)
{
    auto a1 = movie("a1");
    auto a2 = movie("a2");
    auto stranger = movie("stranger");
    A->rawChildren()->append(Value(a1));
    A->rawChildren()->append(Value(a2));
    c().invalidateLibraryDependencies();
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    QMimeData pasteboard;
    setLibraryItems(pasteboard, Array::make({Value(stranger)}), Value());
    QStringList steps;
    c()._libraryUpdateStepObserver = [&](const QString& step) { steps << step; };
    c().storeSequenceForDragOperation(Array::make({Value(a2), Value(a1)}), &pasteboard);
    EXPECT_EQ(names(A->rawChildren()), (QStringList{"a1", "a2"}));
    QCoreApplication::processEvents();
    c()._libraryUpdateStepObserver = nullptr;
    EXPECT_FALSE(steps.isEmpty());
    EXPECT_EQ(c().selectedContainer(), A);
}
