// The list of the library window: the mode button shows it, it holds the shown
// container's movies with the user's columns (saved per library and read back with bad
// entries skipped), sorts by a header click, edits names, ratings and tags in place and
// saves them, colours missing movies, draws tag values as pills that fade out when they
// overflow, says why it is empty, and drags its rows onto containers.
#include "common/TestSupport.h"
#include "GridTestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMToolbarButtons.h"

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QScopeGuard>
#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

PMMainController& c()
{
    return mainController();
}

void clearDefaults()
{
    for (const QString& key : defaults().persistentDomain()->keys())
        defaults().removeObjectForKey(key);
}

PMMovieRepresentationOriginalPtr movie(const QString& name, const QString& genre, long long duration)
{
    auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/") + name + QStringLiteral(".mov"));
    m->userSettings()->setValue(QStringLiteral("Name"), name);
    if (!genre.isEmpty())
        m->setValue(genre, QStringLiteral("Genre"));
    m->setDuration(duration);
    return m;
}

PMLibraryContainerPtr folder(const QString& name, std::initializer_list<Value> children = {})
{
    auto f = PMLibraryContainer::make({{QStringLiteral("Name"), name}});
    for (const Value& child : children)
        f->rawChildren()->append(child);
    return f;
}

class GroupListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        c().resetForTesting();
        clearDefaults();
        gridtest::useSmallUniformTiles();
        PMGroupTableView::resetPillPriorityForTesting();
        window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
        window->resize(1100, 600);
        window->layoutNow();
        window->show();
        QApplication::setActiveWindow(window.get());
    }
    void TearDown() override
    {
        PMCachedSettings::determineNamesAutomatically = false;
        c()._libraryUpdateStepObserver = nullptr;
        window.reset();
        c()._mainWindow = nullptr;
        c()._selectedLibraryItems = Array::make();
        auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
        testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000);
        c().resetForTesting();
        clearDefaults();
    }

    // Films { Delta, alpha, Charlie, Bravo, Sub {} }, Target {}, Parent { P1 {}, P2 {} }, Empty {}.
    void build()
    {
        delta = movie(QStringLiteral("Delta"), QStringLiteral("Drama, Documentary"), 400);
        alpha = movie(QStringLiteral("alpha"), QStringLiteral("Comedy"), 100);
        charlie = movie(QStringLiteral("Charlie"), QStringLiteral("Drama"), 300);
        bravo = movie(QStringLiteral("Bravo"), QString(), 200);
        films = folder(QStringLiteral("Films"), {Value(delta), Value(alpha), Value(charlie), Value(bravo), Value(folder(QStringLiteral("Sub")))});
        target = folder(QStringLiteral("Target"));
        parent = folder(QStringLiteral("Parent"), {Value(folder(QStringLiteral("P1"))), Value(folder(QStringLiteral("P2")))});
        empty = folder(QStringLiteral("Empty"));
        PMLibraryContainerPtr movies = c().pellisSourceStorageSection();
        for (const PMLibraryContainerPtr& f : {films, target, parent, empty})
            movies->rawChildren()->append(Value(f));
        c().invalidateLibraryDependencies();
        c().updateLibrary();
    }
    PMGroupTableView* showListOf(const PMLibraryContainerPtr& container)
    {
        EXPECT_TRUE(c().selectLibraryItems(Array::make({Value(container)})));
        window->groupViewListModeButton()->click();
        QApplication::processEvents();
        return window->groupList();
    }
    QStringList rowNames(PMGroupTableView* list) const
    {
        QStringList names;
        const int column = list->columnWithIdentifier(QStringLiteral("GroupListName"));
        for (int row = 0; row < list->numberOfRows(); ++row)
            names << list->objectValue(column, row).string();
        return names;
    }
    void clickHeader(PMGroupTableView* list, const QString& identifier)
    {
        QHeaderView* header = list->horizontalHeader();
        const int column = list->columnWithIdentifier(identifier);
        ASSERT_GE(column, 0);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(column) + 8, header->height() / 2));
        QApplication::processEvents();
    }

    std::unique_ptr<PMMainWindow> window;
    PMMovieRepresentationOriginalPtr delta, alpha, charlie, bravo;
    PMLibraryContainerPtr films, target, parent, empty;
};

} // namespace

TEST_F(GroupListTest, ListModeButtonShowsTheContainersMoviesAndTheGridComesBack)
{
    build();
    PMGroupTableView* list = showListOf(films);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisibleTo(window.get()));
    EXPECT_FALSE(window->groupView()->isVisibleTo(window.get()));
    EXPECT_TRUE(window->groupViewListModeButton()->isChecked());
    EXPECT_EQ(films->displayMode(), 0);
    // One row per movie; the subfolder has none.
    EXPECT_EQ(list->numberOfRows(), 4);
    EXPECT_EQ(rowNames(list).size(), 4);
    EXPECT_FALSE(rowNames(list).contains(QStringLiteral("Sub")));
    // Fixed columns as the window first shows them; the row number starts at 1.
    EXPECT_EQ(list->objectValue(list->columnWithIdentifier(QStringLiteral("GroupListIndex")), 0).toLongLong(), 1);
    EXPECT_GE(list->columnWithIdentifier(QStringLiteral("GroupListRating")), 0);

    window->groupViewPreviewModeButton()->click();
    QApplication::processEvents();
    EXPECT_FALSE(list->isVisibleTo(window.get()));
    EXPECT_TRUE(window->groupView()->isVisibleTo(window.get()));
    EXPECT_EQ(films->displayMode(), 10);
    EXPECT_FALSE(PMGroupView::coverMode());

    // The covers button: the grid shows covers, and only that button stays on.
    window->groupViewCoverModeButton()->click();
    QApplication::processEvents();
    EXPECT_EQ(films->displayMode(), 11);
    EXPECT_TRUE(PMGroupView::coverMode());
    EXPECT_TRUE(window->groupView()->isVisibleTo(window.get()));
    EXPECT_TRUE(window->groupViewCoverModeButton()->isChecked());
    EXPECT_FALSE(window->groupViewPreviewModeButton()->isChecked());
    EXPECT_FALSE(window->groupViewListModeButton()->isChecked());
    // Chosen again, the container keeps its mode through a refresh.
    c().updateUserInterface();
    EXPECT_TRUE(window->groupViewCoverModeButton()->isChecked());
    EXPECT_TRUE(window->groupViewListModeButton()->isEnabled());
    window->groupViewPreviewModeButton()->click();
    QApplication::processEvents();
    EXPECT_FALSE(PMGroupView::coverMode());
}

TEST_F(GroupListTest, HeaderClickSortsAndReversesOnlyOnTheSameColumnUnlessSortingIsDisabled)
{
    build();
    PMGroupTableView* list = showListOf(films);
    ASSERT_FALSE(c()._groupListSortsDescending);

    clickHeader(list, QStringLiteral("GroupListName"));
    EXPECT_EQ(films->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListName"));
    EXPECT_FALSE(c()._groupListSortsDescending);
    EXPECT_EQ(rowNames(window->groupList()),
              QStringList({QStringLiteral("alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Delta")}));

    // The same column again reverses.
    clickHeader(list, QStringLiteral("GroupListName"));
    EXPECT_TRUE(c()._groupListSortsDescending);
    EXPECT_EQ(rowNames(list).first(), QStringLiteral("Delta"));

    // Another column keeps the direction.
    clickHeader(list, QStringLiteral("GroupListTime"));
    EXPECT_EQ(films->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListTime"));
    EXPECT_TRUE(c()._groupListSortsDescending);
    EXPECT_EQ(rowNames(list), QStringList({QStringLiteral("Delta"), QStringLiteral("Charlie"), QStringLiteral("Bravo"), QStringLiteral("alpha")}));
    EXPECT_EQ(list->horizontalHeader()->sortIndicatorSection(), list->columnWithIdentifier(QStringLiteral("GroupListTime")));
    EXPECT_EQ(list->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // A search that disables sorting ignores header clicks.
    auto search = Dictionary::make({{QStringLiteral("Disable Sorting"), Value(true)}});
    c()._groupItemsParentOrSearchReferenceContainer->setValue(QStringLiteral("Search"), Value(search));
    c().tableViewDidClickTableColumn(list, QStringLiteral("GroupListName"));
    EXPECT_EQ(films->primarySortCriterionFromCSVString(nullptr, nullptr, true), QStringLiteral("GroupListTime"));
    EXPECT_TRUE(c()._groupListSortsDescending);
}

TEST_F(GroupListTest, NameEditedInPlaceEndsWithReturnOnTheSameRowAndIsNotEditableWithAutomaticNames)
{
    build();
    PMGroupTableView* list = showListOf(films);
    const int name = list->columnWithIdentifier(QStringLiteral("GroupListName"));
    list->setFocus();
    list->selectRow(1);
    const QString before = list->objectValue(name, 1).string();
    PMMovieRepresentationPrototype* edited = PMMovie(c()._groupMovieItems->at(1));
    ASSERT_TRUE(list->editColumn(name, 1, true));
    QLineEdit* editor = list->fieldEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), before);
    QTest::keyClicks(editor, QStringLiteral("Zulu"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !list->isEditing(); }));
    EXPECT_EQ(edited->displayName(), QStringLiteral("Zulu"));
    // Return moves nowhere: the same row stays selected and the list keeps the focus.
    QApplication::processEvents();
    EXPECT_EQ(list->currentIndex().row(), 1);
    EXPECT_TRUE(testsupport::waitUntil([&] { return list->hasFocus(); }));

    PMCachedSettings::determineNamesAutomatically = true;
    EXPECT_FALSE(c().tableViewShouldEditTableColumn(list, QStringLiteral("GroupListName"), 0, false));
    EXPECT_FALSE(list->editColumn(name, 0, true));
    const QString first = PMMovie(c()._groupMovieItems->at(0))->displayName();
    c().tableViewSetObjectValue(list, Value(QStringLiteral("Changed")), QStringLiteral("GroupListName"), 0);
    EXPECT_EQ(PMMovie(c()._groupMovieItems->at(0))->displayName(), first);
    // Ratings stay editable.
    EXPECT_TRUE(c().tableViewShouldEditTableColumn(list, QStringLiteral("GroupListRating"), 0, false));
}

TEST_F(GroupListTest, RatingsFromTheKeyboardAndTheMouseAreSavedLikeEachOther)
{
    build();
    PMGroupTableView* list = showListOf(films);
    // A rating change refreshes the window (without rebuilding the library) and saves soon.
    int updates = 0;
    c()._updateUserInterfaceHook = [&] { ++updates; };
    const auto forget = qScopeGuard([] { c()._updateUserInterfaceHook = nullptr; });
    platform::cancelPreviousPerformRequests(&c(), QStringLiteral("saveLibrary"), Value());
    const int ratingColumn = list->columnWithIdentifier(QStringLiteral("GroupListRating"));
    list->setFocus();
    list->setCurrentIndex(list->tableModel()->index(0, ratingColumn));
    PMMovieRepresentationPrototype* first = PMMovie(c()._groupMovieItems->at(0));
    QTest::keyClick(list, Qt::Key_4);
    EXPECT_EQ(first->rating(), 4.0);
    // The library update and the save follow, as after a click.
    EXPECT_TRUE(testsupport::waitUntil([&] { return updates > 0; }));
    EXPECT_TRUE(platform::hasPendingPerformRequest(&c(), QStringLiteral("saveLibrary"), Value()));
    EXPECT_EQ(c()._selectionFreezeLevel, 0);

    // Dragging over the stars sets the rating without an update; the release updates.
    updates = 0;
    PMMovieRepresentationPrototype* second = PMMovie(c()._groupMovieItems->at(1));
    const QRect cell = list->visualRect(list->tableModel()->index(1, ratingColumn));
    const QPoint twoStars(cell.x() + 2 + int(PMRatingCell::kStarWidth * 1.5), cell.center().y());
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, twoStars);
    EXPECT_EQ(second->rating(), 2.0);
    QApplication::processEvents();
    EXPECT_EQ(updates, 0);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, twoStars);
    EXPECT_TRUE(testsupport::waitUntil([&] { return updates > 0; }));
    EXPECT_TRUE(platform::hasPendingPerformRequest(&c(), QStringLiteral("saveLibrary"), Value()));
    EXPECT_EQ(second->rating(), 2.0);
}

TEST_F(GroupListTest, TagColumnShowsPillsEditsWithCompletionAndStoresCSV)
{
    build();
    PMGroupTableView* list = showListOf(films);
    EXPECT_EQ(list->toggleTableColumn(QStringLiteral("Genre"), QString()), QStringLiteral("AccessoryTagListName: genre"));
    const int genre = list->columnWithIdentifier(QStringLiteral("AccessoryTagListName: genre"));
    ASSERT_GE(genre, 0);
    EXPECT_EQ(list->tableColumn(genre)->cell, PMTableColumn::Cell::GroupToken);
    EXPECT_EQ(list->tableColumn(genre)->header, QStringLiteral("Genre"));
    // The values as tokens.
    const int deltaRow = int(c()._groupMovieItems->indexOfIdentical(delta.get()));
    const Value tokens = list->objectValue(genre, deltaRow);
    ASSERT_TRUE(tokens.isArray());
    EXPECT_EQ(tokens.array()->count(), 2);

    // Typing asks for completions of the word being typed; Return takes one without
    // opening the list again, and a second Return stores the text.
    const int bravoRow = int(c()._groupMovieItems->indexOfIdentical(bravo.get()));
    list->setFocus();
    list->selectRow(bravoRow);
    ASSERT_TRUE(list->editColumn(genre, bravoRow, true));
    QLineEdit* editor = list->fieldEditor();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("Do"));
    EXPECT_TRUE(list->hasPendingAutoComplete());
    ASSERT_TRUE(testsupport::waitUntil([&] { return list->isShowingCompletions(); }));
    EXPECT_EQ(list->completionList()->item(0)->text(), QStringLiteral("Documentary"));
    list->completionList()->setCurrentRow(0);
    const int requests = list->numberOfCompletionRequests();
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(list->isEditing());
    EXPECT_EQ(editor->text(), QStringLiteral("Documentary"));
    QApplication::processEvents();
    EXPECT_FALSE(list->isShowingCompletions());
    EXPECT_EQ(list->numberOfCompletionRequests(), requests);
    // A meta reference from the menu goes in where the caret is, while a tag cell is edited.
    QAction insert;
    platform::setMenuItemAction(&insert, QStringLiteral("insertMetaReference"));
    platform::setMenuItemRepresentedObject(&insert, Value(QStringLiteral("<?meta:Mood?>")));
    EXPECT_EQ(list->tokenEditingColumnIdentifier(), QStringLiteral("AccessoryTagListName: genre"));
    EXPECT_TRUE(list->validateMenuItem(&insert));
    EXPECT_TRUE(platform::sendAction(QStringLiteral("insertMetaReference"), &insert));
    EXPECT_EQ(editor->text(), QStringLiteral("Documentary<?meta:Mood?>"));
    editor->setText(QStringLiteral("Documentary"));
    QTest::keyClicks(editor, QStringLiteral(", Travel"));
    QApplication::processEvents(); // no value begins so: no list
    EXPECT_FALSE(list->isShowingCompletions());
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !list->isEditing(); }));
    EXPECT_EQ(bravo->cachedTags()->value(QStringLiteral("genre")).dictionary()->value(QStringLiteral("Value")).string(),
              QStringLiteral("Documentary, Travel"));
    EXPECT_FALSE(list->validateMenuItem(&insert));
}

TEST_F(GroupListTest, OverflowingPillsFadeIntoTheEllipsisInTheDrawnList)
{
    build();
    PMGroupTableView* list = showListOf(films);
    list->toggleTableColumn(QStringLiteral("Genre"), QString());
    const int genre = list->columnWithIdentifier(QStringLiteral("AccessoryTagListName: genre"));
    list->horizontalHeader()->resizeSection(genre, 90);
    const int deltaRow = int(c()._groupMovieItems->indexOfIdentical(delta.get()));
    const int alphaRow = int(c()._groupMovieItems->indexOfIdentical(alpha.get()));
    list->clearSelection();
    QApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const auto pixel = [&](double x, double y) { return image.pixelColor(int(x * ratio), int(y * ratio)); };

    // "Drama, Documentary" does not fit: the first pill is drawn solid, the token area
    // fades to nothing just before the dotted ellipsis at the right end.
    const QRect cell = list->visualRect(list->tableModel()->index(deltaRow, genre));
    const double y = cell.y() + 4 + (cell.height() - 4) / 2.0; // the pills sit 4 points low
    const QString ellipsis = PMTokenPillPainter::ellipsisText(false);
    QFont font = list->willDisplayCell(genre, deltaRow, false).font;
    const double ellipsisWidth = QFontMetricsF(font).horizontalAdvance(ellipsis);
    const double tokenAreaRight = cell.right() + 1 - ellipsisWidth;
    const QColor solid = pixel(cell.x() + 3, y);
    const QColor background = pixel(cell.x() + 3, cell.y() + 1);
    EXPECT_GT(std::abs(solid.blue() - solid.red()), 8) << "the pill's plate is drawn in full";
    const QColor faded = pixel(tokenAreaRight - 1.5, y);
    EXPECT_LE(std::abs(faded.red() - background.red()) + std::abs(faded.blue() - background.blue()), 12) << "faded out next to the ellipsis";
    bool dots = false;
    for (double x = tokenAreaRight; x < cell.right(); x += 0.5)
        for (double yy = cell.y() + 4; yy < cell.bottom(); yy += 0.5)
            dots = dots || pixel(x, yy).lightness() < background.lightness() - 60;
    EXPECT_TRUE(dots) << "the ellipsis is drawn";

    // A single short value fits: no ellipsis.
    const QRect short_ = list->visualRect(list->tableModel()->index(alphaRow, genre));
    bool shortDots = false;
    for (double x = short_.right() - ellipsisWidth + 4; x < short_.right() - 1; x += 0.5)
        for (double yy = short_.y() + 4; yy < short_.bottom(); yy += 0.5)
            shortDots = shortDots || pixel(x, yy).lightness() < background.lightness() - 60;
    EXPECT_FALSE(shortDots);
}

TEST_F(GroupListTest, ColumnSetRoundTripsAndBadStoredEntriesAreSkippedOrClamped)
{
    build();
    PMGroupTableView* list = showListOf(films);
    list->toggleTableColumn(QStringLiteral("Genre"), QString());
    list->horizontalHeader()->resizeSection(list->columnWithIdentifier(QStringLiteral("AccessoryTagListName: genre")), 123);
    defaults().setObject(Value(true), QStringLiteral("PMGroupTableView Visible Columns GroupViewList"));
    list->saveTableColumns();
    EXPECT_TRUE(defaults().objectForKey(QStringLiteral("PMGroupTableView Visible Columns GroupViewList")).isNull());
    const ArrayPtr saved = defaults().objectForKey(QStringLiteral("PMGroupTableViewColumns")).array();
    ASSERT_TRUE(saved);
    QStringList identifiers;
    for (const Value& entry : *saved)
        identifiers << entry.dictionary()->value(QStringLiteral("Identifier")).string();
    EXPECT_EQ(identifiers.last(), QStringLiteral("AccessoryTagListName: genre"));
    EXPECT_EQ(saved->at(saved->count() - 1).dictionary()->value(QStringLiteral("Width")).toDouble(), 123);
    EXPECT_EQ(saved->at(saved->count() - 1).dictionary()->value(QStringLiteral("Header")).string(), QStringLiteral("Genre"));

    // Another library's set, with entries this list cannot use.
    const auto entry = [](const Value& identifier, const Value& header, const Value& width) {
        auto d = Dictionary::make();
        d->setValue(QStringLiteral("Identifier"), identifier);
        if (!header.isNull())
            d->setValue(QStringLiteral("Header"), header);
        if (!width.isNull())
            d->setValue(QStringLiteral("Width"), width);
        return Value(d);
    };
    auto stored = Array::make({entry(Value(QStringLiteral("GroupListName")), Value(QStringLiteral("Name")), Value(1e9)),
                               entry(Value(QStringLiteral("GroupListBogus")), Value(QStringLiteral("Bogus")), Value(100.0)),
                               entry(Value(42LL), Value(), Value(100.0)), Value(QStringLiteral("not a dictionary")),
                               entry(Value(QStringLiteral("AccessoryTagListName: mood")), Value(QStringLiteral("Mood ")), Value(QStringLiteral("wide"))),
                               entry(Value(QStringLiteral("GroupListSize")), Value(), Value(3.0)),
                               entry(Value(QStringLiteral("GroupListName")), Value(), Value(50.0))});
    defaults().setObject(Value(stored), QStringLiteral("PMGroupTableViewColumns"));
    list->invalidateTableColumns();
    list->updateTableColumns();
    QStringList restored;
    for (const PMTableColumn& column : list->tableColumns())
        restored << column.identifier;
    EXPECT_EQ(restored, QStringList({QStringLiteral("GroupListName"), QStringLiteral("AccessoryTagListName: mood"), QStringLiteral("GroupListSize")}));
    EXPECT_LE(list->horizontalHeader()->sectionSize(0), 4000);
    EXPECT_EQ(list->tableColumns()[1].header, QStringLiteral("Mood"));
    EXPECT_EQ(list->horizontalHeader()->sectionSize(1), 150);
    EXPECT_GE(list->horizontalHeader()->sectionSize(2), 16);
}

TEST_F(GroupListTest, MissingMoviesAreRedOrGreyAndEmptyListsSayWhy)
{
    build();
    PMGroupTableView* list = showListOf(films);
    const int row = int(c()._groupMovieItems->indexOfIdentical(charlie.get()));
    charlie->setMissing(true, false);
    const auto colour = [&](bool selected) {
        PMTableCellAppearance a;
        a.highlighted = selected;
        c().tableViewWillDisplayCell(list, a, QStringLiteral("GroupListName"), row);
        return a.textColor.value_or(QColor());
    };
    EXPECT_EQ(colour(false), QColor::fromRgbF(0.65f, 0, 0, 1));
    EXPECT_EQ(colour(true), QColor::fromRgbF(1, 0.8f, 0.8f, 1));
    charlie->setMissing(true, true);
    EXPECT_LT(colour(false).alphaF(), 0.5);
    charlie->setMissing(false, false);
    EXPECT_FALSE([&] {
        PMTableCellAppearance a;
        c().tableViewWillDisplayCell(list, a, QStringLiteral("GroupListName"), row);
        return a.textColor.has_value();
    }());

    // Empty lists: the subgroups are counted; an empty folder is "Empty".
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(parent)})));
    EXPECT_EQ(list->emptyListMessage(), QStringLiteral("2 subgroups"));
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(empty)})));
    EXPECT_EQ(list->emptyListMessage(), QStringLiteral("Empty"));
    c()._groupMovieItems = Array::make();
    list->reloadData();
    list->resize(400, 300);
    const QImage image = list->viewport()->grab().toImage();
    bool drawn = false;
    for (int x = 0; x < image.width(); x += 2)
        drawn = drawn || image.pixelColor(x, image.height() / 2).lightness() < 230;
    EXPECT_TRUE(drawn) << "the message is drawn over the empty list";
}

TEST_F(GroupListTest, RowsDraggedOntoAContainerMoveThere)
{
    build();
    PMGroupTableView* list = showListOf(films);
    const int a = int(c()._groupMovieItems->indexOfIdentical(alpha.get()));
    const int b = int(c()._groupMovieItems->indexOfIdentical(bravo.get()));
    std::unique_ptr<QMimeData> mime(list->tableModel()->mimeData({list->tableModel()->index(a, 0), list->tableModel()->index(b, 1)}));
    ASSERT_TRUE(mime);
    const PMMainController::PMDraggingInfo info{mime.get(), PMMainController::PMLibraryView::GroupList};
    PMLibraryContainerPtr proposed = target;
    qsizetype childIndex = -1;
    EXPECT_EQ(c().outlineView(PMMainController::libraryList, info, &proposed, &childIndex), PMMainController::PMDragOperationMove);
    ASSERT_TRUE(c().outlineView(PMMainController::libraryList, info, proposed, childIndex));
    EXPECT_GE(target->rawChildren()->indexOfIdentical(alpha.get()), 0);
    EXPECT_GE(target->rawChildren()->indexOfIdentical(bravo.get()), 0);
    EXPECT_LT(films->rawChildren()->indexOfIdentical(alpha.get()), 0);
    // A smart group takes none.
    auto smart = folder(QStringLiteral("Smart"));
    smart->setValue(QStringLiteral("Smart"), Value(true));
    c().smartGroupStorage()->rawChildren()->append(Value(smart));
    c().invalidateLibraryDependencies();
    auto more = std::unique_ptr<QMimeData>(list->tableModel()->mimeData({list->tableModel()->index(0, 0)}));
    const PMMainController::PMDraggingInfo moreInfo{more.get(), PMMainController::PMLibraryView::GroupList};
    PMLibraryContainerPtr smartTarget = smart;
    childIndex = -1;
    EXPECT_EQ(c().outlineView(PMMainController::libraryList, moreInfo, &smartTarget, &childIndex), PMMainController::PMDragOperationNone);
}

TEST_F(GroupListTest, RatingStarsFollowSelectionAndFocusAndDeleteWithNothingSelectedBeeps)
{
    build();
    alpha->setRating(5);
    PMGroupTableView* list = showListOf(films);
    const int row = int(c()._groupMovieItems->indexOfIdentical(alpha.get()));
    const int unrated = int(c()._groupMovieItems->indexOfIdentical(bravo.get()));
    const auto appearance = [&](int r, bool selected, bool focused) {
        PMTableCellAppearance a;
        a.highlighted = selected;
        a.focused = focused;
        c().tableViewWillDisplayCell(list, a, QStringLiteral("GroupListRating"), r);
        return a;
    };
    // A light list: grey stars, lit where there is a rating.
    EXPECT_EQ(appearance(row, false, false).tint, 1);
    EXPECT_TRUE(appearance(row, false, false).ratingHighlighted);
    EXPECT_FALSE(appearance(unrated, false, false).ratingHighlighted);
    // Selected: white in the focused list of the main window, else grey.
    EXPECT_EQ(appearance(row, true, true).tint, 0);
    EXPECT_EQ(appearance(row, true, false).tint, 1);

    // Delete with no row selected removes nothing and beeps.
    list->clearSelection();
    list->setFocus();
    const int beeps = platform::beepCount();
    const qsizetype children = films->rawChildren()->count();
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_EQ(films->rawChildren()->count(), children);
}

TEST_F(GroupListTest, PillPriorityDecidesTagCellsAndRightClicksSelectTheRow)
{
    build();
    delta->setValue(QStringLiteral("2001"), QStringLiteral("Year"));
    alpha->setValue(QStringLiteral("1.5"), QStringLiteral("Year"));
    delta->setValue(QStringLiteral("long, notes"), QStringLiteral("Notes"));
    c().invalidateTagTypes();
    struct Case {
        long long priority;
        PMTableColumn::Cell genreCell;
        int yearStyle;
        bool yearRight;
    } cases[] = {
        {-1, PMTableColumn::Cell::Text, 0, true},
        {0, PMTableColumn::Cell::GroupToken, 1, true},
        {1, PMTableColumn::Cell::GroupToken, 0, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "priority " << k.priority);
        defaults().setInteger(k.priority, QStringLiteral("Group List: Pill Priority"));
        PMGroupTableView::resetPillPriorityForTesting();
        PMGroupTableView list;
        const auto genre = list.cachedTableColumnWithIdentifier(QStringLiteral("AccessoryTagListName: genre"), QStringLiteral("Genre"));
        ASSERT_TRUE(genre);
        EXPECT_EQ(genre->cell, k.genreCell);
        // Notes are never pills.
        EXPECT_EQ(list.cachedTableColumnWithIdentifier(QStringLiteral("AccessoryTagListName: notes"), QString())->cell, PMTableColumn::Cell::Text);
        list.toggleTableColumn(QStringLiteral("Year"), QString());
        list.styleTagColumns();
        const PMTableColumn* year = list.tableColumn(list.columnWithIdentifier(QStringLiteral("AccessoryTagListName: year")));
        ASSERT_TRUE(year);
        EXPECT_EQ(year->tokenStyle, k.yearStyle);
        EXPECT_EQ(year->rightAligned, k.yearRight);
    }
    defaults().removeObjectForKey(QStringLiteral("Group List: Pill Priority"));
    PMGroupTableView::resetPillPriorityForTesting();

    // A right click on an unselected row selects it alone; below the rows, nothing.
    PMGroupTableView* list = showListOf(films);
    list->selectRow(0);
    const QRect third = list->visualRect(list->tableModel()->index(2, 1));
    list->menuForEvent(third.center());
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(list->selectionModel()->selectedRows().first().row(), 2);
    list->menuForEvent(QPoint(10, list->viewport()->height() - 2));
    EXPECT_FALSE(list->selectionModel()->hasSelection());
}

TEST_F(GroupListTest, TheSidebarsButtonBarComesWithMetaAndAddsAPlaylistOrAFolder)
{
    build();
    QWidget* bar = window->sidebarButtonBar();
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->isVisibleTo(window.get()));
    const int listHeight = window->sourceListContainer()->height();
    // Meta held: the bar shows below the source list; released: it goes.
    c().modifierFlagsChanged(Qt::MetaModifier);
    EXPECT_TRUE(bar->isVisibleTo(window.get()));
    window->layoutNow();
    QApplication::processEvents();
    EXPECT_EQ(bar->geometry().bottom(), window->sourceListContainer()->height() - 1) << "along the sidebar's bottom edge";
    EXPECT_EQ(window->sourceListContainer()->height(), listHeight);
    const qsizetype before = c().smartGroupStorage()->rawChildren()->count();
    window->libraryAddButton()->click();
    EXPECT_EQ(c().smartGroupStorage()->rawChildren()->count(), before + 1) << "a playlist";
    c().modifierFlagsChanged({});
    EXPECT_FALSE(bar->isVisibleTo(window.get()));
    // Shown for good with the setting.
    defaults().setBool(true, QStringLiteral("Always Show Library Toolbar"));
    c().modifierFlagsChanged({});
    EXPECT_TRUE(bar->isVisibleTo(window.get()));
}
