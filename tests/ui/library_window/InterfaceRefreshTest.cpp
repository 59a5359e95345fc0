// The interface refresh, driven through the real controller with a real grid and header
// controls: what it shows for a container, in which mode, with the player in the window,
// and the arithmetic of the slider and the header row.
#include "library/model/ModelFixture.h"

#include "GridTestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Appearance.h"
#include "platform/EventClock.h"
#include "ui/kit/PMSmallControls.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGroupViewLayout.h"
#include "ui/library_window/PMInterfaceRefresh.h"
#include "ui/library_window/PMPreviewViewToolTipPopover.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QScopeGuard>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>

#include <cmath>
#include <memory>
#include <optional>

using platform::Value;

namespace {

PMMainController& c()
{
    return mainController();
}

const char* const kDefaults[] = {"Single Window Mode", "Hide Subgroups In Preview Mode", "Group Search Criterion: Groups", "Group Search Criterion: Files",
                                 "Group Search Criterion: Name",
                                 "Group Content Display Mode", "Group Search Scope", "Stay In Front"};

} // namespace

class InterfaceRefreshTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        platform::steerEventClockForTesting(true);
        removeDefaults();
        header = std::make_unique<QWidget>();
        header->resize(1000, 40);
        back = new QPushButton(QStringLiteral("<"), header.get());
        list = new QPushButton(QStringLiteral("L"), header.get());
        preview = new QPushButton(QStringLiteral("P"), header.get());
        cover = new QPushButton(QStringLiteral("C"), header.get());
        field = new QLineEdit(header.get());
        field->resize(200, 22);
        sliderView = new QWidget(header.get());
        sliderView->resize(120, 22);
        slider = new QSlider(Qt::Horizontal, sliderView);
        slider->setRange(50, 500);
        grid = std::make_unique<PMGroupView>();
        grid->resize(800, 600);
        c()._groupView = grid.get();
        c().groupBackButton = back;
        c().groupViewListModeButton = list;
        c().groupViewPreviewModeButton = preview;
        c().groupViewCoverModeButton = cover;
        c().searchField = field;
        c().previewSizeSlider = slider;

        sub = folder(QStringLiteral("sub"), {Value(movie(QStringLiteral("inner")))});
        A = folder(QStringLiteral("A"), {Value(movie(QStringLiteral("alpha"))), Value(sub), Value(movie(QStringLiteral("beta")))});
        empty = folder(QStringLiteral("empty"), {Value(folder(QStringLiteral("only a folder")))});
        movies = library({Value(A), Value(empty)});
    }
    void TearDown() override
    {
        platform::steerEventClockForTesting(false);
        c()._groupView = nullptr;
        c().searchField = nullptr;
        c().previewSizeSlider = nullptr;
        c()._mainWindowPlayerContainer = nullptr;
        c()._currentMovieRepresentation = Value();
        grid.reset();
        header.reset();
        gridtest::waitForPictureLoads();
        removeDefaults();
        ModelTest::TearDown();
    }
    static void removeDefaults()
    {
        for (const char* key : kDefaults)
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
    }
    QStringList gridNames() const
    {
        QStringList result;
        for (const auto& proxy : grid->proxies())
            result << PMItem(proxy->representedItem)->displayName();
        return result;
    }
    static bool shown(const QWidget* w) { return w->isVisibleTo(w->parentWidget()); }

    std::unique_ptr<QWidget> header;
    std::unique_ptr<PMGroupView> grid;
    QPushButton *back = nullptr, *list = nullptr, *preview = nullptr, *cover = nullptr;
    QLineEdit* field = nullptr;
    QWidget* sliderView = nullptr;
    QSlider* slider = nullptr;
    PMLibraryContainerPtr A, sub, empty, movies;
};

// ---------------------------------------------------------------------------
// The shown content

TEST_F(InterfaceRefreshTest, TheGridShowsTheMoviesThenTheSubgroupsUnlessTheyAreHidden)
{
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    EXPECT_EQ(c()._groupItemsParent, A);
    EXPECT_EQ(names(c()._groupMovieItems), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(names(c()._groupSubgroupItems), (QStringList{"sub"}));
    EXPECT_EQ(gridNames(), (QStringList{"alpha", "beta", "sub"}));
    EXPECT_EQ(grid->representedGroup(), A);
    EXPECT_EQ(c()._groupListPrimarySortCriterion, QStringLiteral("GroupListIndex"));
    EXPECT_EQ(c()._selectionFreezeLevel, 0);

    setDefault(QStringLiteral("Hide Subgroups In Preview Mode"), Value(true));
    c().updateUserInterface();
    EXPECT_EQ(gridNames(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(names(c()._groupSubgroupItems), (QStringList{"sub"})); // still known, only not shown
}

TEST_F(InterfaceRefreshTest, DisplayModeFollowsTheStoredModeAndTheModeButtons)
{
    // The plain rule: disabled buttons give previews, hidden ones keep only covers.
    const struct {
        long long stored;
        bool enabled, hidden;
        long long effective;
    } rules[] = {{0, true, false, 0},  {10, true, false, 10}, {11, true, false, 11}, {0, true, true, 10}, {11, true, true, 11},
                 {0, false, false, 10}, {11, false, true, 10}, {7, true, false, 10}, {-1, true, false, 10}};
    for (const auto& r : rules)
        EXPECT_EQ(PMEffectiveDisplayMode(r.stored, r.enabled, r.hidden), r.effective) << r.stored << " " << r.enabled << " " << r.hidden;

    // Through the refresh: a container with movies and one with only folders.
    const struct {
        const char* name;
        PMLibraryContainerPtr container;
        long long stored, effective;
        bool buttonsShown;
    } cases[] = {
        {"list", A, 0, 0, true},
        {"cover", A, 11, 11, true},
        {"list without movies", empty, 0, 10, false},
        {"cover without movies", empty, 11, 11, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        k.container->setDisplayMode(k.stored);
        ASSERT_TRUE(c().selectLibraryItem(Value(k.container)));
        c().updateUserInterface();
        EXPECT_EQ(c()._effectiveDisplayMode, k.effective);
        EXPECT_EQ(PMIsCoverDisplayMode, k.effective == 11);
        EXPECT_EQ(shown(list), k.buttonsShown);
        EXPECT_EQ(shown(cover), k.buttonsShown);
        if (k.buttonsShown) {
            EXPECT_EQ(list->isChecked(), k.stored == 0);
            EXPECT_EQ(cover->isChecked(), k.stored == 11);
        }
        // The slider goes in list mode and when there is nothing to size.
        EXPECT_EQ(shown(sliderView), k.effective != 0);
    }
}

TEST_F(InterfaceRefreshTest, SearchingForGroupsHidesTheModeButtonsAndKeepsOnlyCovers)
{
    setDefault(QStringLiteral("Group Search Criterion: Name"), Value(true));
    setDefault(QStringLiteral("Group Search Criterion: Files"), Value(true));
    for (const bool groups : {false, true}) {
        setDefault(QStringLiteral("Group Search Criterion: Groups"), Value(groups));
        for (const long long stored : {0LL, 11LL}) {
            SCOPED_TRACE(testing::Message() << "groups " << groups << " stored " << stored);
            A->setDisplayMode(stored);
            A->setQuery(QString());
            ASSERT_TRUE(c().selectLibraryItem(Value(A)));
            A->setQuery(QStringLiteral("alpha"));
            c().updateUserInterface();
            EXPECT_EQ(field->text(), QStringLiteral("alpha"));
            EXPECT_TRUE(c()._groupShowsScopeBar);
            EXPECT_EQ(names(c()._groupMovieItems), QStringList{"alpha"});
            EXPECT_EQ(shown(list), !groups);
            EXPECT_EQ(c()._effectiveDisplayMode, groups && stored == 0 ? 10 : stored);
        }
    }
    A->setQuery(QString()); // searches are remembered by the container's ID beyond this library
}

TEST_F(InterfaceRefreshTest, APlayingMovieInTheSingleWindowTakesTheRightSide)
{
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    ASSERT_FALSE(grid->proxies().empty());
    const qsizetype heapBefore = c()._selectedContainerHeap.size();

    QWidget window;
    auto* playerContainer = new QWidget(&window);
    playerContainer->hide();
    c()._mainWindowPlayerContainer = playerContainer;
    setDefault(QStringLiteral("Single Window Mode"), Value(true));
    c()._currentMovieRepresentation = c()._groupMovieItems->at(0);
    c().freezeSelections(); // an outer freeze: the refresh lets go of its own only
    c().updateUserInterface();

    EXPECT_TRUE(playerContainer->isVisibleTo(&window));
    EXPECT_TRUE(grid->proxies().empty());
    EXPECT_EQ(c()._groupItemsParent, nullptr);
    EXPECT_TRUE(c()._groupMovieItems->isEmpty());
    EXPECT_EQ(c()._selectedContainerHeap.size(), heapBefore); // nothing recorded
    EXPECT_EQ(c()._selectionFreezeLevel, 1);
    c().unfreezeSelections();

    // When the movie is gone the container comes back.
    c()._currentMovieRepresentation = Value();
    c().updateUserInterface();
    EXPECT_FALSE(playerContainer->isVisibleTo(&window));
    EXPECT_EQ(gridNames(), (QStringList{"alpha", "beta", "sub"}));
    EXPECT_EQ(c()._selectionFreezeLevel, 0);
}

// ---------------------------------------------------------------------------
// The slider and the header

TEST_F(InterfaceRefreshTest, TheSliderKnobIsLinearInColumnsAndMeetsTheSlidersOwnMapping)
{
    const double m = 50, M = 500, s = 8, K = 1000;
    EXPECT_EQ(PMPreviewSizeSliderValue(20, m, M, s, K), m);
    EXPECT_EQ(PMPreviewSizeSliderValue(900, m, M, s, K), M);
    EXPECT_EQ(PMPreviewSizeSliderValue(990, m, 1000, s, K), 1000); // one column at most
    EXPECT_EQ(PMPreviewSizeSliderValue(80, m, M, s, 100), (m + M) / 2); // only one column fits at all
    // Every column count the slider's own action gives maps back to its knob position.
    const unsigned most = numberOfColumnsForWidth(m, s, K);
    ASSERT_GE(most, 2u);
    for (unsigned columns = 1; columns <= most; ++columns) {
        const double width = (K - 0.001 - s) / double(columns) - s;
        const double knob = M - double(columns - 1) / double(most - 1) * (M - m);
        EXPECT_NEAR(PMPreviewSizeSliderValue(width, m, M, s, K), knob, 0.01) << columns;
    }
}

TEST_F(InterfaceRefreshTest, ANarrowGridPutsTheKnobInTheMiddle)
{
    grid->resize(90, 600); // not even two of the smallest previews side by side
    grid->setAttribute(Qt::WA_DontShowOnScreen);
    grid->show(); // the viewport takes the size
    PMGroupView::setPreviewWidth(70, A);
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    ASSERT_LT(numberOfColumnsForWidth(50, PMGroupView::spacing(), PMPreviewSizeSliderCanvasWidth(grid.get())), 2u);
    // (The refresh then narrows the slider's range to what the grid can hold.)
    EXPECT_EQ(PMPreviewSizeSliderValue(70, 50, 500, PMGroupView::spacing(), PMPreviewSizeSliderCanvasWidth(grid.get())), 275);
    EXPECT_LE(slider->maximum(), grid->width()) << "no tile wider than the grid is offered";
}

TEST_F(InterfaceRefreshTest, HeaderControlsRunFromLeftToRight)
{
    PMHeaderLayoutInput in;
    in.tabViewX = 200;
    in.headerWidth = 1000;
    in.spacing = 10;
    in.back = {true, 150, 30};
    in.listMode = {true, 300, 30};
    in.coverMode = {true, 364, 30};
    in.edit = {true, 0, 40};
    in.searchField = {true, 0, 200};
    in.sliderViewWidth = 120;
    in.sliderShown = true;

    PMHeaderLayout out = PMComputeHeaderLayout(in);
    EXPECT_EQ(out.backX, 210);                 // the tab view's x plus the margin (the spacing)
    EXPECT_EQ(out.modeButtonsShift, 248 - 300); // after the back button and a gap of 8
    EXPECT_EQ(out.editX, 364 - 52 + 30 + 8);
    EXPECT_EQ(out.editWidth, 46);
    EXPECT_EQ(out.searchFieldX, 1000 - 10 - 200);
    EXPECT_EQ(out.sliderViewX, 790 - 120 - 30);
    EXPECT_TRUE(out.statusShown);
    EXPECT_EQ(out.statusX, 350 + 46 + 8);
    EXPECT_EQ(out.statusWidth, 640 - 10 - 404);

    // Within 0.9 of its place a control stays; a margin outside (4.5, 20.5) is 8; more
    // online results make room for their button; a status line of 50 or less goes.
    in.spacing = 30;
    in.back = {true, 208.5, 30};
    in.listMode.shown = in.coverMode.shown = in.edit.shown = false;
    in.canGetMoreOnlineChildren = true;
    in.moreButtonWidth = 40;
    in.headerWidth = 500;
    out = PMComputeHeaderLayout(in);
    EXPECT_EQ(out.backX, 208.5);
    EXPECT_EQ(out.moreButtonWidth, 46);
    EXPECT_EQ(out.searchFieldX, 500 - 8 - 200 - 51);
    EXPECT_EQ(out.moreButtonX, out.searchFieldX + 205);
    EXPECT_FALSE(out.statusShown);
    EXPECT_EQ(out.statusX, 0);
}

TEST_F(InterfaceRefreshTest, TheBackButtonOffersEarlierContainers)
{
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    EXPECT_FALSE(back->isEnabled());
    EXPECT_FALSE(shown(back)); // disabled toolbar buttons with shapes go
    platform::advanceEventClockForTesting(2);
    ASSERT_TRUE(c().selectLibraryItem(Value(empty)));
    EXPECT_TRUE(back->isEnabled());
    EXPECT_TRUE(shown(back));
    EXPECT_TRUE(back->property("waitsForMenu").toBool());
}

// The header and the grid in a window after refreshes: the header's controls keep apart
// and inside it, the grid shows what the search leaves. With PELLIS_REFRESH_SHOTS set to a
// folder, the pictures are saved there for a person to look at.
TEST_F(InterfaceRefreshTest, TheHeaderAndGridInAWindowAfterRefreshes)
{
    const QString folderPath = qEnvironmentVariable("PELLIS_REFRESH_SHOTS");
    const auto shoot = [&](QWidget& w, const QString& name) {
        if (!folderPath.isEmpty()) {
            EXPECT_TRUE(w.grab().save(folderPath + u'/' + name));
        }
    };
    QWidget window;
    window.resize(900, 420);
    // The fixture owns the header and the grid: they leave the window before it goes.
    const auto giveBack = qScopeGuard([this] {
        c().groupStatusField = nullptr;
        grid->setParent(nullptr);
        header->setParent(nullptr);
    });
    header->setParent(&window);
    header->setGeometry(0, 0, 900, 40);
    int x = 0;
    for (QPushButton* b : {back, list, preview, cover})
        b->setGeometry(x += 28, 8, 28, 24);
    auto* status = new QLabel(QStringLiteral("3 movies"), header.get());
    status->setGeometry(0, 10, 10, 20);
    c().groupStatusField = status;
    field->setGeometry(0, 9, 200, 22);
    field->setPlaceholderText(QStringLiteral("Search"));
    sliderView->setGeometry(0, 9, 120, 22);
    slider->setGeometry(0, 0, 120, 22);
    grid->setParent(&window);
    grid->setGeometry(0, 40, 900, 380);
    window.show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(c().selectLibraryItem(Value(empty)));
    platform::advanceEventClockForTesting(2);
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(gridNames().contains(QStringLiteral("alpha")) && gridNames().contains(QStringLiteral("beta"))) << gridNames().join(u',').toStdString();
    // The search field, the slider and the status keep within the header and apart.
    const QRect headerRect = header->rect();
    EXPECT_TRUE(headerRect.contains(field->geometry())) << field->geometry().x();
    EXPECT_TRUE(headerRect.contains(sliderView->geometry()));
    EXPECT_FALSE(field->geometry().intersects(sliderView->geometry()));
    if (shown(status)) {
        EXPECT_FALSE(status->geometry().intersects(field->geometry()));
    }
    // The tiles' pictures.
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    EXPECT_TRUE(testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000));
    testsupport::runQueuedWork();
    shoot(window, QStringLiteral("refresh-A.png"));

    setDefault(QStringLiteral("Group Search Criterion: Name"), Value(true));
    setDefault(QStringLiteral("Group Search Criterion: Files"), Value(true));
    A->setQuery(QStringLiteral("beta"));
    c().updateUserInterface();
    QCoreApplication::processEvents();
    EXPECT_TRUE(testsupport::waitUntil([&] { return gridNames() == QStringList{QStringLiteral("beta")}; })) << gridNames().join(u',').toStdString();
    shoot(window, QStringLiteral("refresh-A-search.png"));
    A->setQuery(QString());
}

// ---------------------------------------------------------------------------
// The cost of a change

TEST_F(InterfaceRefreshTest, ARatingChangeRefreshesOnceAndUpdatesTheStatusOnce)
{
    c().selectLibraryItem(Value(A));
    ASSERT_EQ(gridNames(), QStringList({QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("sub")}));
    const int refreshes = c()._userInterfaceRefreshCount, statuses = c()._statusFieldsUpdateCount;
    // What the stars do when let go: the rating, then the library update that saves it.
    PMMovie(grid->movieProxies().front()->representedItem)->setRating(4);
    c().updateLibrary();
    EXPECT_EQ(c()._userInterfaceRefreshCount - refreshes, 1);
    EXPECT_EQ(c()._statusFieldsUpdateCount - statuses, 1);
    // The grid still shows the container, with the rating.
    EXPECT_EQ(gridNames(), QStringList({QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("sub")}));
    EXPECT_EQ(PMMovie(grid->movieProxies().front()->representedItem)->rating(), 4);
}

TEST_F(InterfaceRefreshTest, ASearchRefreshesOnceAndKeepsTheChosenContainer)
{
    // The refresh restores the chosen container at its end; the very container it froze
    // needs no second refresh (at 100,000 movies each costs a keystroke milliseconds).
    setDefault(QStringLiteral("Group Search Criterion: Name"), Value(true));
    setDefault(QStringLiteral("Group Search Criterion: Files"), Value(true));
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    A->setQuery(QStringLiteral("alpha"));
    const int refreshes = c()._userInterfaceRefreshCount, statuses = c()._statusFieldsUpdateCount;
    c().updateUserInterface();
    EXPECT_EQ(c()._userInterfaceRefreshCount - refreshes, 1);
    EXPECT_EQ(c()._statusFieldsUpdateCount - statuses, 1);
    EXPECT_EQ(c().selectedContainer(), A);
    EXPECT_EQ(c()._numberOfSelectedLibraryContainers, 1);
    EXPECT_EQ(gridNames(), QStringList{QStringLiteral("alpha")});
    A->setQuery(QString());
}

TEST_F(InterfaceRefreshTest, ARatingChangeReachesSortsAndSmartGroupsWithoutRebuildingTheLibrary)
{
    using platform::Dictionary;
    // A smart group of the movies rated above 3, and A sorted by rating, highest first.
    auto rated = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Rated")}, {QStringLiteral("Smart"), true}});
    rated->setValue(QStringLiteral("Criteria"),
                    Value(Dictionary::make({{QStringLiteral("Rating"), Value(Dictionary::make({{QStringLiteral("Enabled"), true},
                                                                                               {QStringLiteral("Action"), 3},
                                                                                               {QStringLiteral("Value"), 3}}))}})));
    c().smartGroupStorage()->rawChildren()->append(Value(rated));
    c().updateLibrary(); // the first full update of a running program
    c().finishSmartGroupPopulation();
    A->setSortCriterion(QString::fromLatin1(kGroupListRating), false, true);
    A->setSortsDescending(true, true);
    c().selectLibraryItem(Value(A));
    ASSERT_EQ(gridNames(), QStringList({QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("sub")}));
    PMMovieRepresentationPrototype* alpha = PMMovie(A->rawChildren()->at(0));
    PMMovieRepresentationPrototype* beta = PMMovie(A->rawChildren()->at(2));
    ASSERT_TRUE(alpha && beta);

    QStringList steps;
    c()._libraryUpdateStepObserver = [&steps](const QString& step) { steps << step; };
    const auto forget = qScopeGuard([] { c()._libraryUpdateStepObserver = nullptr; });
    const auto rate = [&](PMMovieRepresentationPrototype* movie, double rating) {
        const int refreshes = c()._userInterfaceRefreshCount, statuses = c()._statusFieldsUpdateCount;
        movie->setRating(rating);
        c().updateLibraryAfterRatingChange();
        EXPECT_EQ(c()._userInterfaceRefreshCount - refreshes, 1);
        EXPECT_EQ(c()._statusFieldsUpdateCount - statuses, 1);
    };

    // The rating moves beta to the front and into the smart group; no step of the full
    // update (the walk of the library, its tables, its files) ran.
    rate(beta, 4);
    EXPECT_TRUE(steps.isEmpty()) << steps.join(u',').toStdString();
    EXPECT_EQ(gridNames(), QStringList({QStringLiteral("beta"), QStringLiteral("alpha"), QStringLiteral("sub")}));
    ASSERT_TRUE(c().finishSmartGroupPopulation());
    QStringList inGroup;
    for (const Value& v : *rated->rawChildren())
        if (PMItem(v))
            inGroup << PMItem(v)->displayName();
    EXPECT_EQ(inGroup, QStringList{QStringLiteral("beta")});

    // A rating that moves nothing keeps every tile's proxy (only the tiles on screen are
    // drawn again), and the grid shows the new stars.
    const std::vector<PMGroupViewItemProxyPtr> before = grid->proxies();
    // A description open over the tile closes: it told the old rating.
    const PMGroupViewTilePtr tile = grid->movieProxies()[1]->view;
    ASSERT_TRUE(tile);
    auto& description = PMPreviewViewToolTipPopover::shared();
    description.showForPreviewView(grid->viewport(), tile->serial, grid->movieProxies()[1]->representedItem, grid->movieProxies()[1]->frame, -1,
                                   true);
    ASSERT_TRUE(description.previewView() == tile->serial || description.delayedPreviewView() == tile->serial);
    rate(alpha, 2);
    EXPECT_NE(description.previewView(), tile->serial);
    EXPECT_NE(description.delayedPreviewView(), tile->serial);
    EXPECT_EQ(gridNames(), QStringList({QStringLiteral("beta"), QStringLiteral("alpha"), QStringLiteral("sub")}));
    EXPECT_EQ(grid->proxies(), before);
    EXPECT_EQ(PMMovie(grid->movieProxies()[1]->representedItem)->rating(), 2);
    EXPECT_TRUE(steps.isEmpty()) << steps.join(u',').toStdString();
}

TEST_F(InterfaceRefreshTest, ARatingChangeRefillsOnlyTheSmartGroupsWhoseContentARatingCanChange)
{
    using platform::Dictionary;
    const auto group = [](const QString& name, const platform::DictionaryPtr& criteria) {
        auto made = PMLibraryContainer::make({{QStringLiteral("Name"), Value(name)}, {QStringLiteral("Smart"), true}});
        made->setValue(QStringLiteral("Criteria"), Value(criteria));
        c().smartGroupStorage()->rawChildren()->append(Value(made));
        return made;
    };
    const auto enabled = [](long long action, long long value) {
        return Value(Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value}}));
    };
    // Every movie, shown; the movies rated above 3; every movie in buckets by rating; every
    // movie by a list of subdivision tags; a group whose rating criterion is switched off.
    auto every = group(QStringLiteral("Every"), Dictionary::make());
    auto rated = group(QStringLiteral("Rated"), Dictionary::make({{QStringLiteral("Rating"), enabled(3, 3)}}));
    auto byRating = group(QStringLiteral("By Rating"), Dictionary::make({{QStringLiteral("Subdivide By Rating"), true}}));
    auto byTags = group(QStringLiteral("By Tags"), Dictionary::make({{QStringLiteral("Subdivider Tag"), QStringLiteral("genre")}}));
    auto off = group(QStringLiteral("Off"), Dictionary::make({{QStringLiteral("Rating"), Value(Dictionary::make({{QStringLiteral("Enabled"), false},
                                                                                                           {QStringLiteral("Action"), 3},
                                                                                                           {QStringLiteral("Value"), 3}}))}}));
    c().updateLibrary(); // the first full update of a running program
    c().finishSmartGroupPopulation();
    ASSERT_TRUE(c().selectLibraryItem(Value(every)));
    ASSERT_EQ(gridNames().size(), 3);
    PMMovieRepresentationPrototype* beta = PMMovie(A->rawChildren()->at(2));
    ASSERT_TRUE(beta);
    const auto children = [](const PMLibraryContainerPtr& g) { return g->value(QStringLiteral("Children")).array(); };
    const platform::ArrayPtr everyBefore = children(every), offBefore = children(off), ratedBefore = children(rated),
                             byRatingBefore = children(byRating), byTagsBefore = children(byTags);
    const platform::ArrayPtr sortedBefore = every->sortedChildren();
    const std::vector<PMGroupViewItemProxyPtr> tiles = grid->proxies();

    beta->setRating(4);
    c().updateLibraryAfterRatingChange();
    ASSERT_TRUE(c().finishSmartGroupPopulation());
    // The groups of every movie keep their members, their order and the grid its tiles...
    EXPECT_EQ(children(every), everyBefore);
    EXPECT_EQ(children(off), offBefore);
    EXPECT_EQ(every->sortedChildren(), sortedBefore);
    EXPECT_EQ(grid->proxies(), tiles);
    for (const auto& tile : grid->proxies())
        if (PMItem(tile->representedItem)->displayName() == QLatin1String("beta")) {
            EXPECT_EQ(PMMovie(tile->representedItem)->rating(), 4);
        }
    // ...the others are filled again, and the rating's group holds the movie now.
    EXPECT_NE(children(rated), ratedBefore);
    EXPECT_NE(children(byRating), byRatingBefore);
    EXPECT_NE(children(byTags), byTagsBefore);
    QStringList inRated;
    for (const Value& v : *rated->rawChildren())
        if (PMItem(v))
            inRated << PMItem(v)->displayName();
    EXPECT_EQ(inRated, QStringList{QStringLiteral("beta")});

    // A rating given while a library update's population is still on its way replaces that
    // population with one of every group: the update's content reaches them all.
    A->rawChildren()->append(Value(movie(QStringLiteral("gamma"))));
    c().invalidateLibraryDependencies();
    c().updateLibrary();
    ASSERT_TRUE(c().isPopulatingSmartGroups());
    beta->setRating(1);
    c().updateLibraryAfterRatingChange();
    ASSERT_TRUE(c().finishSmartGroupPopulation());
    QStringList inEvery;
    for (const Value& v : *every->rawChildren())
        if (PMItem(v))
            inEvery << PMItem(v)->displayName();
    EXPECT_TRUE(inEvery.contains(QStringLiteral("gamma"))) << inEvery.join(u',').toStdString();
    EXPECT_TRUE(rated->rawChildren()->isEmpty());
}

TEST_F(InterfaceRefreshTest, ARatingChangeKeepsTheOrderAndTheTilesOfASortThatReadsNoRatings)
{
    c().updateLibrary(); // the first full update of a running program
    PMMovieRepresentationPrototype* alpha = PMMovie(A->rawChildren()->at(0));
    ASSERT_TRUE(alpha);
    const QString name = kGroupListName;
    const QString rating = QString::fromLatin1(kGroupListRating);
    const struct {
        QString criterion;
        bool keeps;
    } cases[] = {
        {name, true},
        {QString::fromLatin1(kGroupListDate), true},
        {rating, false},
        {name + u',' + rating, false},
        {QString::fromLatin1(kAccessoryTagListNamePrefix) + QStringLiteral("rating"), false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.criterion.toStdString());
        A->setSortCriterion(test.criterion, false, true);
        A->invalidateSortsAndSearches();
        c().selectLibraryItem(Value(A));
        const platform::ArrayPtr sorted = A->sortedChildren();
        const std::vector<PMGroupViewItemProxyPtr> proxies = grid->proxies();
        const quint64 layouts = grid->layoutCount();
        alpha->setRating(std::fmod(alpha->rating() + 1, 6));
        c().updateLibraryAfterRatingChange();
        EXPECT_EQ(A->sortedChildren() == sorted, test.keeps);
        if (test.keeps) {
            // Nothing the grid shows moved: its proxies and their frames stay, unlaid.
            EXPECT_EQ(grid->proxies(), proxies);
            EXPECT_EQ(grid->layoutCount(), layouts);
        }
    }
}

TEST_F(InterfaceRefreshTest, EveryPartOfTheSizeSliderChangesTheTilesWhenFewMoviesFillTheView)
{
    // 20 movies in an 800-point grid: the grid scales small tiles up until they fill the
    // view, so the smallest width the slider asks for is never shown as such.
    platform::UserDefaults::standard().setInteger(0, QStringLiteral("Preview Layout"));
    std::initializer_list<Value> none{};
    auto many = folder(QStringLiteral("many"), none);
    for (int i = 0; i < 20; ++i)
        many->rawChildren()->append(Value(movie(QStringLiteral("m%1").arg(i))));
    movies->rawChildren()->append(Value(many));
    c().invalidateLibraryDependencies();
    c().updateLibrary();
    // The slider acts on the grid of the library window.
    QWidget window;
    window.resize(grid->size());
    grid->setParent(&window);
    c()._mainWindow = &window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    ASSERT_TRUE(c().selectLibraryItem(Value(many)));
    ASSERT_EQ(grid->movieProxies().size(), 20u);
    const double s = PMGroupView::spacing();
    const double canvas = PMPreviewSizeSliderCanvasWidth(grid.get());
    ASSERT_LT(grid->columnsShownForWidth(slider->minimum()), numberOfColumnsForWidth(slider->minimum(), s, canvas));
    std::vector<unsigned> columns;
    for (double fraction : {0.0, 0.25, 0.5, 1.0}) {
        slider->setValue(int(std::lround(slider->minimum() + fraction * (slider->maximum() - slider->minimum()))));
        c().changePreviewSizeWithColumnsDelta(0);
        columns.push_back(grid->numberOfColumns());

    }
    // From the left end to the middle the tiles grow, then up to one column.
    EXPECT_GT(columns[0], columns[1]) << columns[0] << " " << columns[1];
    EXPECT_GT(columns[1], columns[2]) << columns[1] << " " << columns[2];
    EXPECT_EQ(columns[3], 1u);
    EXPECT_EQ(columns[0], PMPreviewSizeSliderMostColumns(grid.get(), slider->minimum(), s, canvas));
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Preview Layout"));
    c()._mainWindow = nullptr;
    grid->setParent(nullptr);
}

// "Thumbnail Appearance": 0 lets the grid follow the desktop, anything else keeps it dark,
// and the grid is drawn in the look it was given.
TEST_F(InterfaceRefreshTest, TheThumbnailAppearanceDecidesTheGridsLook)
{
    auto& appearance = platform::AppearanceSource::shared();
    const auto restore = qScopeGuard([&] {
        appearance.setDarkForTesting(std::nullopt);
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Thumbnail Appearance"));
    });
    struct Case {
        bool desktopDark;
        std::optional<int> setting;
        bool light;
    } cases[] = {
        {false, std::nullopt, false}, {false, 1, false}, {false, 0, true}, {true, 0, false}, {true, 1, false}, {false, 0, true},
    };
    ASSERT_TRUE(c().selectLibraryItem(Value(A)));
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "desktop dark " << k.desktopDark << ", setting " << k.setting.value_or(-1));
        appearance.setDarkForTesting(k.desktopDark);
        if (k.setting)
            setDefault(QStringLiteral("Thumbnail Appearance"), Value(*k.setting));
        else
            platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Thumbnail Appearance"));
        c().updateUserInterface();
        EXPECT_EQ(PMUsesLightThumbnailBackground, k.light);
        // A corner of the grid that no tile covers.
        const QImage shot = grid->viewport()->grab().toImage();
        const int grey = qGray(shot.pixel(shot.width() - 3, shot.height() - 3));
        if (k.light)
            EXPECT_GT(grey, 200);
        else
            EXPECT_LT(grey, 90);
    }
}
