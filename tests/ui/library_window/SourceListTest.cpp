// The source list: what the data source shows, how the cell lays out and colours its
// badge, the selection plates, frame corrections, context menus, Delete, and how an
// update refreshes the list with its expansion and selection kept.
#include "library/model/ModelFixture.h"

#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMMovieCell.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QDrag>
#include <QtGui/QImage>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

PMMainController& c()
{
    return mainController();
}

Value v(const PMLibraryContainerPtr& x)
{
    return Value(x);
}
Value v(const PMMovieRepresentationOriginalPtr& x)
{
    return Value(x);
}

bool near(const QColor& a, const QColor& b, int tolerance = 12)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

class SourceListTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        for (const char* key : {"Source List Display Mode", "Hide Item Counts", "Item Count Mode", "Show Zero Item Counts",
                                "Enable Smart Playlist Emancipation", "Emphasize Item Count Badges", "Expanded Library Containers",
                                "Library Selection", "Source List Arrows Reflect Current Movie Depth"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
    }
    void TearDown() override
    {
        view.reset();
        c()._contextMenuForLibraryListRowIndexes = nullptr;
        ModelTest::TearDown();
    }

    // Library: movies section { A {a1 a2 a3}, B {b1}, C {}, D { E {} } }, temporary storage
    // { t1 }, smart groups { P {a1 proxy} }.
    void build()
    {
        a1 = movie(QStringLiteral("a1"));
        a2 = movie(QStringLiteral("a2"));
        a3 = movie(QStringLiteral("a3"));
        b1 = movie(QStringLiteral("b1"));
        t1 = movie(QStringLiteral("t1"));
        A = folder(QStringLiteral("A"), {v(a1), v(a2), v(a3)});
        B = folder(QStringLiteral("B"), {v(b1)});
        C = folder(QStringLiteral("C"));
        E = folder(QStringLiteral("E"));
        D = folder(QStringLiteral("D"), {v(E)});
        movies = library({v(A), v(B), v(C), v(D)});
        T = c().temporaryStorage();
        T->rawChildren()->append(v(t1));
        S = c().smartGroupStorage();
        P = folder(QStringLiteral("P"));
        S->rawChildren()->append(v(P));
        c().invalidateLibraryDependencies();
    }
    PMMovieOutlineView& showList(int height = 400)
    {
        view = std::make_unique<PMMovieOutlineView>(c());
        view->resize(260, height);
        c().reloadInterfaceAfterLibraryUpdate();
        view->expandAll();
        view->show();
        QApplication::setActiveWindow(view.get());
        view->setFocus();
        QApplication::processEvents();
        return *view;
    }
    QStringList rowNames() const
    {
        QStringList names;
        for (qsizetype r = 0; r < view->numberOfRows(); ++r)
            names << PMItem(view->itemAtRow(r))->displayName();
        return names;
    }
    QImage grab() const { return view->viewport()->grab().toImage(); }

    std::unique_ptr<PMMovieOutlineView> view;
    PMMovieRepresentationOriginalPtr a1, a2, a3, b1, t1;
    PMLibraryContainerPtr A, B, C, D, E, movies, T, S, P;
};

} // namespace

TEST_F(SourceListTest, SectionsRowsAndWhatCanBeSelectedOrEdited)
{
    build();
    // An empty downloads section is left out; the library stays even when empty.
    c().downloadStorage();
    const ArrayPtr top = c().visibleTopLevelItems();
    QStringList roles;
    for (const Value& item : *top)
        roles << PMItem(item)->topLevelRole();
    EXPECT_TRUE(roles.contains(QStringLiteral("Library")));
    EXPECT_FALSE(roles.contains(QStringLiteral("Downloads")));

    // Display mode 0: only the temporary storage lists its movies.
    EXPECT_FALSE(c().outlineViewIsItemExpandable(v(A)));
    EXPECT_TRUE(c().outlineViewIsItemExpandable(v(T)));
    EXPECT_TRUE(c().outlineViewIsItemExpandable(v(D)));
    EXPECT_EQ(c().outlineViewNumberOfChildrenOfItem(v(a1)), -1);
    setDefault(QStringLiteral("Source List Display Mode"), Value(1LL));
    EXPECT_TRUE(c().outlineViewIsItemExpandable(v(A)));
    EXPECT_EQ(names(c().outlineViewChildrenOfContainer(A)), (QStringList{"a1", "a2", "a3"}));
    setDefault(QStringLiteral("Source List Display Mode"), Value(0LL));

    // Sections: no selection, no editing, no disclosure chevron.
    for (const PMLibraryContainerPtr& section : {T, S}) {
        EXPECT_TRUE(c().outlineViewDisplayAsPseudoGroupItem(v(section)));
        EXPECT_FALSE(c().outlineViewShouldSelectItem(v(section)));
        EXPECT_FALSE(c().outlineViewCanEditItem(v(section)));
        EXPECT_FALSE(c().outlineViewShouldShowOutlineCellForItem(v(section)));
    }
    EXPECT_TRUE(c().outlineViewShouldSelectItem(v(A)));
    EXPECT_TRUE(c().outlineViewCanEditItem(v(A)));
    EXPECT_FALSE(c().outlineViewCanEditItem(v(movies))); // the library's own section
}

TEST_F(SourceListTest, CellsShowCountsTheCurrentMoviesPlaceAndMissingMovies)
{
    build();
    showList();
    PMMovieCell cell;
    auto display = [&](const Value& item) {
        cell.reset();
        c().outlineViewWillDisplayCell(cell, item);
        return cell.status();
    };
    EXPECT_EQ(display(v(A)), QStringLiteral("3"));
    EXPECT_TRUE(display(v(C)).isNull()); // no zero counts by default
    setDefault(QStringLiteral("Show Zero Item Counts"), Value(true));
    EXPECT_EQ(display(v(C)), QStringLiteral("0"));
    A->setValue(QStringLiteral("Hide Item Count"), true);
    EXPECT_TRUE(display(v(A)).isNull());
    A->remove(QStringLiteral("Hide Item Count"));

    // The third of twelve movies plays from a collapsed folder that shows 15 items.
    auto big = folder(QStringLiteral("Big"));
    std::vector<PMMovieRepresentationOriginalPtr> twelve;
    for (int i = 0; i < 12; ++i) {
        twelve.push_back(movie(QStringLiteral("m%1").arg(i, 2, 10, QLatin1Char('0'))));
        big->rawChildren()->append(v(twelve.back()));
    }
    for (int i = 0; i < 3; ++i)
        big->rawChildren()->append(v(folder(QStringLiteral("sub%1").arg(i))));
    movies->rawChildren()->append(v(big));
    c().invalidateLibraryDependencies();
    c()._currentMovieRepresentation = v(twelve[2]);
    c()._currentOrMonitoredMovieRepresentationAncestors = Array::make({v(big), v(movies)});
    const QString thin = QStringLiteral("\u2006");
    setDefault(QStringLiteral("Item Count Mode"), Value(2LL)); // every child counts
    EXPECT_EQ(display(v(big)), QStringLiteral("3") + thin + "/" + thin + QStringLiteral("12 \u00B7 15"));
    EXPECT_TRUE(cell.playing());
    c()._currentMovieRepresentation = Value();
    c()._currentOrMonitoredMovieRepresentationAncestors = nullptr;

    // A missing movie shows "?" (the temporary storage lists its movies).
    t1->setMissing(true, false);
    EXPECT_EQ(display(v(t1)), QStringLiteral("?"));
    // Sections carry no icon and are drawn as headers.
    display(v(T));
    EXPECT_TRUE(cell.pseudoGroupItem());
    EXPECT_TRUE(cell.icon().isNull());
}

TEST_F(SourceListTest, StatusTextCancelMarkRules)
{
    PMMovieCell cell;
    struct Case {
        QString status;
        int percentage;
        bool cancel;
        QString expected; // null: no badge
    } cases[] = {
        {QString(), 40, true, QString()},
        {QStringLiteral(""), 0, true, QStringLiteral("\u2716")},
        {QStringLiteral(""), 0, false, QString()},
        {QStringLiteral(""), 40, false, QStringLiteral("")}, // the pie alone
        {QStringLiteral("12"), 40, true, QStringLiteral("12 \u2716")},
        {QStringLiteral("12"), 0, false, QStringLiteral("12")},
    };
    for (const Case& k : cases) {
        cell.setStatus(k.status, k.percentage, k.cancel, false);
        EXPECT_EQ(cell.status(), k.expected) << k.status.toStdString() << " " << k.cancel;
        EXPECT_EQ(cell.status().isNull(), k.expected.isNull());
        EXPECT_EQ(cell.percentage(), k.percentage);
    }
    // A group row's progress draws a badge of the pie's width.
    cell.setStatus(QStringLiteral(""), 40, false, false);
    EXPECT_FALSE(cell.statusFrameForCellFrame(QRectF(0, 0, 200, 24)).isEmpty());
}

TEST_F(SourceListTest, StatusFrameTakesAtMostFortyPercentAndNeedsTwentySixPoints)
{
    PMMovieCell cell;
    cell.setStatus(QStringLiteral("12345"));
    const double b = cell.badgeWidth();
    ASSERT_GT(b, 26);
    struct Case {
        double width;
        double expectedWidth; // 0: no badge
    } cases[] = {
        {std::ceil(b / 0.4) + 10, b},                     // fits
        {std::floor(b / 0.4) - 5, std::floor((std::floor(b / 0.4) - 5) * 0.4)}, // cut to 40 %
        {64, 0},                                           // 40 % is 25: no badge at all
        {65, 26},                                          // 40 % is 26: cut to it
    };
    for (const Case& k : cases) {
        const QRectF frame(10, 5, k.width, 22);
        const QRectF status = cell.statusFrameForCellFrame(frame);
        const QRectF text = cell.textFrameForCellFrame(frame);
        if (k.expectedWidth == 0) {
            EXPECT_TRUE(status.isEmpty()) << k.width;
            EXPECT_DOUBLE_EQ(text.width(), frame.width()) << "the name gets the whole width";
        } else {
            EXPECT_DOUBLE_EQ(status.width(), k.expectedWidth) << k.width;
            EXPECT_DOUBLE_EQ(status.right(), frame.right());
            EXPECT_DOUBLE_EQ(text.width(), frame.width() - status.width() - 5);
        }
    }
    // Playing mark and icon take room from the name; a low cell has a smaller top inset.
    cell.setStatus(QString());
    cell.setPlaying(true);
    cell.setIcon(QIcon(QPixmap(16, 16)));
    for (long long fontSize : {1LL, 2LL}) {
        // The list font follows "List Font Size" from the next update on.
        setDefault(QStringLiteral("List Font Size"), Value(fontSize));
        c().updateLibraryAndInvalidateDependencies(false, false, false);
        const bool large = fontSize == 2;
        ASSERT_EQ(PMUsesLargeListFont(), large);
        const double iconRoom = large ? 20 : 19;
        const QRectF low = cell.textFrameForCellFrame(QRectF(0, 0, 200, 20));
        EXPECT_DOUBLE_EQ(low.x(), iconRoom);
        EXPECT_DOUBLE_EQ(low.width(), 200 - iconRoom - 19);
        EXPECT_DOUBLE_EQ(low.y(), large ? 1 : 2);
        EXPECT_DOUBLE_EQ(cell.textFrameForCellFrame(QRectF(0, 0, 200, 24)).y(), large ? 3 : 4);
    }
    platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("List Font Size"));
}

TEST_F(SourceListTest, RenamingStartsOnTheNameAndTruncatedNamesOfferTheirWholeText)
{
    PMMovieCell cell;
    cell.setIcon(QIcon(QPixmap(16, 16)));
    cell.setStatus(QStringLiteral("12"));
    cell.setStringValue(QStringLiteral("A name far too long to fit into this narrow row of the sidebar"));
    const QRectF frame(10, 0, 160, 24);
    const QRectF text = cell.textFrameForCellFrame(frame);
    const QRectF status = cell.statusFrameForCellFrame(frame);
    cell.setEditable(true);
    EXPECT_TRUE(cell.hitTestsEditableTextArea(text.center(), frame));
    EXPECT_FALSE(cell.hitTestsEditableTextArea(QPointF(frame.x() + 8, frame.center().y()), frame)) << "the icon";
    EXPECT_FALSE(cell.hitTestsEditableTextArea(status.center(), frame)) << "the badge";
    cell.setEditable(false);
    EXPECT_FALSE(cell.hitTestsEditableTextArea(text.center(), frame));

    // The whole name as a tool tip: in the outline only when it is cut, never for a cell
    // with an icon elsewhere.
    const QRectF expansion = cell.expansionFrameWithFrame(frame, nullptr, true);
    EXPECT_FALSE(expansion.isEmpty());
    EXPECT_DOUBLE_EQ(expansion.x(), frame.x() - 2);
    EXPECT_DOUBLE_EQ(expansion.height(), frame.height() + 2);
    EXPECT_TRUE(cell.expansionFrameWithFrame(frame, nullptr, false).isEmpty());
    cell.setStringValue(QStringLiteral("Short"));
    EXPECT_TRUE(cell.expansionFrameWithFrame(frame, nullptr, true).isEmpty());
}

TEST_F(SourceListTest, TheHairlineShowsOnceTheListIsScrolled)
{
    build();
    for (int i = 0; i < 40; ++i)
        movies->rawChildren()->append(v(folder(QStringLiteral("More %1").arg(i))));
    c().invalidateLibraryDependencies();
    PMMovieOutlineView& list = showList(200);
    EXPECT_FALSE(list.separatorView()) << "no window header: no hairline";
    QWidget header;
    list.setWindowHeaderView(&header);
    ASSERT_TRUE(list.separatorView());
    list.verticalScrollBar()->setValue(0);
    EXPECT_TRUE(list.separatorView()->isHidden());
    list.verticalScrollBar()->setValue(1);
    EXPECT_FALSE(list.separatorView()->isHidden());
    list.verticalScrollBar()->setValue(0);
    EXPECT_TRUE(list.separatorView()->isHidden());
    // Its colour follows the appearance and the contrast setting.
    EXPECT_NEAR(PMMovieOutlineView::separatorColor(false, false).alphaF(), 0.15, 0.005);
    EXPECT_EQ(PMMovieOutlineView::separatorColor(false, false).lightness(), 0);
    EXPECT_NEAR(PMMovieOutlineView::separatorColor(true, true).alphaF(), 0.95, 0.005);
    EXPECT_EQ(PMMovieOutlineView::separatorColor(true, true).lightness(), 255);
}

TEST_F(SourceListTest, BadgeColourTable)
{
    PMMovieCell cell;
    using S = PMMovieCell::DrawingStates;
    auto st = [](bool H, bool A, bool E, bool I) {
        S s;
        s.highlighted = H;
        s.active = A;
        s.emphasized = E;
        s.inverted = I;
        return s;
    };
    auto alpha = [](const std::optional<QColor>& c) { return c ? std::round(double(c->alphaF()) * 100) / 100 : -1.0; };
    auto lightness = [](const std::optional<QColor>& c) { return c ? c->lightness() : -1; };

    // Ordinary count, not emphasised: no plate, dark text at 0.3 (0.23 inactive).
    cell.setStatus(QStringLiteral("7"));
    auto b = cell.badgeStyle(st(false, true, false, false));
    EXPECT_TRUE(b.noPlate);
    EXPECT_EQ(lightness(b.text), 0);
    EXPECT_DOUBLE_EQ(alpha(b.text), 0.3);
    EXPECT_DOUBLE_EQ(alpha(cell.badgeStyle(st(false, false, false, false)).text), 0.23);
    EXPECT_EQ(lightness(cell.badgeStyle(st(false, true, false, true)).text), 255); // dark mode: light text
    // The emphasised selection with rounded plates: no plate, the badge's own text colour.
    b = cell.badgeStyle(st(true, true, true, false));
    EXPECT_TRUE(b.noPlate);
    EXPECT_FALSE(b.text);
    // A missing movie: the error colour, unless its row is the emphasised selection.
    cell.setStatus(QStringLiteral("?"));
    b = cell.badgeStyle(st(false, true, false, false));
    ASSERT_TRUE(b.plate);
    EXPECT_EQ(b.plate->red(), 153);
    EXPECT_EQ(b.plate->green(), 0);
    EXPECT_TRUE(cell.badgeStyle(st(true, true, true, false)).noPlate);
    // A pressed cancel mark: light grey, or white at 0.25 in dark mode.
    cell.setStatus(QString(), 30, true, true);
    EXPECT_EQ(lightness(cell.badgeStyle(st(false, true, false, false)).plate), 140);
    EXPECT_DOUBLE_EQ(alpha(cell.badgeStyle(st(false, true, false, true)).plate), 0.25);
    // Emphasised badges ("Item Count Mode" above 2): a faint plate, none on a highlighted row.
    setDefault(QStringLiteral("Item Count Mode"), Value(3LL));
    EXPECT_TRUE(PMMovieCell::drawsEmphasizedStatusBadge());
    cell.setStatus(QStringLiteral("7"));
    b = cell.badgeStyle(st(false, true, false, false));
    EXPECT_DOUBLE_EQ(alpha(b.plate), 0.07);
    EXPECT_DOUBLE_EQ(alpha(b.text), 0.5);
    EXPECT_TRUE(cell.badgeStyle(st(true, true, false, false)).noPlate);
    EXPECT_DOUBLE_EQ(alpha(cell.badgeStyle(st(false, true, false, true)).plate), 0.2); // dark
    // A playing row with a status is emphasised whatever the setting.
    setDefault(QStringLiteral("Emphasize Item Count Badges"), Value(false));
    EXPECT_FALSE(PMMovieCell::drawsEmphasizedStatusBadge());
    cell.setPlaying(true);
    EXPECT_DOUBLE_EQ(alpha(cell.badgeStyle(st(false, true, false, false)).plate), 0.2);
}

TEST_F(SourceListTest, SelectedRowsMergeIntoPlatesAndTheDropTargetIsDrawnOnceInTheAccentColour)
{
    build();
    PMMovieOutlineView& list = showList();
    ASSERT_GE(list.numberOfRows(), 6);
    list.selectRowIndexes({2, 3, 5}, false);
    const QRectF clip = list.viewport()->rect();
    QList<PMMovieOutlineView::Plate> plates = list.selectionPlatesInClipRect(clip);
    ASSERT_EQ(plates.size(), 2);
    EXPECT_EQ(plates[0].mode, 0);
    EXPECT_DOUBLE_EQ(plates[0].rect.top(), list.rectOfRow(2).top());
    EXPECT_DOUBLE_EQ(plates[0].rect.bottom(), list.rectOfRow(3).bottom());
    EXPECT_DOUBLE_EQ(plates[1].rect.top(), list.rectOfRow(5).top());

    // The pixels: the join of rows 2 and 3 is covered, row 4 is not.
    const QColor selection = list.plateColorForMode(0);
    ASSERT_EQ(selection, backwardsCompatibleControlAccentColor()) << "the focused list draws the accent colour";
    QImage image = grab();
    const int x = list.viewport()->width() / 2;
    const double ratio = image.devicePixelRatio();
    auto pixel = [&](double px, double py) { return image.pixelColor(int(px * ratio), int(py * ratio)); };
    // Away from the text: near the plate's left end.
    const double plateX = plates[0].rect.left() + 3;
    EXPECT_TRUE(near(pixel(plateX, list.rectOfRow(3).top()), selection));
    EXPECT_TRUE(near(pixel(plateX, list.rectOfRow(5).center().y()), selection));
    EXPECT_FALSE(near(pixel(plateX, list.rectOfRow(4).center().y()), selection));
    Q_UNUSED(x);

    // A drag onto the only selected row: one plate, in the accent colour.
    list.selectRowIndexes({3}, false);
    list.setDraggingDestinationDropOnRow(3);
    plates = list.selectionPlatesInClipRect(clip);
    ASSERT_EQ(plates.size(), 1);
    EXPECT_EQ(plates[0].mode, 1);
    // With other rows selected: those in grey, the target in the accent colour. (Rows 2 and
    // 5 are siblings, so the selection stays as it is.)
    list.selectRowIndexes({2, 5}, false);
    list.setDraggingDestinationDropOnRow(5);
    plates = list.selectionPlatesInClipRect(clip);
    ASSERT_EQ(plates.size(), 3);
    EXPECT_EQ(plates[0].mode, -1);
    EXPECT_EQ(plates[1].mode, -1);
    EXPECT_EQ(plates[2].mode, 1);
    EXPECT_NE(list.plateColorForMode(-1), backwardsCompatibleControlAccentColor());
    image = grab();
    EXPECT_TRUE(near(pixel(plateX, list.rectOfRow(5).center().y()), backwardsCompatibleControlAccentColor()));
    EXPECT_FALSE(near(pixel(plateX, list.rectOfRow(2).center().y()), backwardsCompatibleControlAccentColor()));

    // A drag that ends leaves no target.
    c().setDraggingDestinationDropOnRow(-1);
    EXPECT_EQ(list.draggingDestinationDropOnRow(), -1);
    list.selectRowIndexes({}, false);
    EXPECT_TRUE(list.selectionPlatesInClipRect(clip).isEmpty());
}

TEST_F(SourceListTest, FrameCorrections)
{
    build();
    PMMovieOutlineView& list = showList();
    const QRectF frame(13, 100, 200, 24);
    const double saved = PMSourceListFirstRowTopOffset;
    // Row 0 gives its extra space back only when it has some.
    PMSourceListFirstRowTopOffset = 4;
    EXPECT_EQ(list.correctedFrame(frame, 0, true, true), QRectF(13, 104, 200, 20));
    PMSourceListFirstRowTopOffset = 0;
    EXPECT_EQ(list.correctedFrame(frame, 0, true, true), frame);
    PMSourceListFirstRowTopOffset = saved;
    // A section row: its gap is taken off the top.
    const qsizetype sectionRow = list.rowForItem(v(S));
    ASSERT_GT(sectionRow, 0);
    EXPECT_EQ(list.correctedFrame(frame, sectionRow, true, true), QRectF(13, 108, 200, 16));
    // An ordinary row without emancipation: unchanged.
    const qsizetype eRow = list.rowForItem(v(E));
    ASSERT_GT(eRow, 0);
    EXPECT_EQ(list.correctedFrame(frame, eRow, true, true), frame);

    // A smart group showing its children at its own level, and everything inside it, move
    // left by its level's indentation (only with emancipation enabled).
    auto group = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("G")}, {QStringLiteral("Smart"), true},
                                           {QStringLiteral("Emancipate"), true}});
    auto inner = folder(QStringLiteral("inner"));
    group->rawChildren()->append(v(inner));
    if (!group->emancipatesChildrenIfEnabled())
        GTEST_SKIP() << "this smart group does not emancipate its children";
    setDefault(QStringLiteral("Enable Smart Playlist Emancipation"), Value(true));
    S->rawChildren()->append(v(group));
    c().invalidateLibraryDependencies();
    c().reloadInterfaceAfterLibraryUpdate();
    list.expandAll();
    const qsizetype gRow = list.rowForItem(v(group));
    ASSERT_GT(gRow, 0);
    const double d = list.indentation() * list.levelForItem(v(group));
    EXPECT_EQ(list.correctedFrame(frame, gRow, true, true), QRectF(13 - d, 108, 200 + d, 16));
    EXPECT_EQ(list.correctedFrame(frame, gRow, true, false), QRectF(13 - d, 108, 200, 16));
    setDefault(QStringLiteral("Enable Smart Playlist Emancipation"), Value(false));
    EXPECT_EQ(list.correctedFrame(frame, gRow, true, true).x(), 13);
}

TEST_F(SourceListTest, ContextMenuRowRules)
{
    build();
    PMMovieOutlineView& list = showList();
    std::optional<QList<qsizetype>> asked;
    bool askedForEmptySpace = false;
    c()._contextMenuForLibraryListRowIndexes = [&](const QList<qsizetype>* rows) -> QMenu* {
        askedForEmptySpace = rows == nullptr;
        asked = rows ? std::optional<QList<qsizetype>>(*rows) : std::nullopt;
        return nullptr;
    };
    auto centre = [&](qsizetype row) { return list.rectOfRow(row).center().toPoint(); };
    const qsizetype aRow = list.rowForItem(v(A)), bRow = list.rowForItem(v(B)), cRow = list.rowForItem(v(C));
    const qsizetype sectionRow = list.rowForItem(v(S));
    list.selectRowIndexes({aRow, bRow}, false);

    // A selected row: the menu for the selection.
    list.menuForEvent(centre(bRow));
    ASSERT_TRUE(asked);
    EXPECT_EQ(*asked, (QList<qsizetype>{aRow, bRow}));
    // A section header: the empty-space menu, the selection unchanged.
    list.menuForEvent(centre(sectionRow));
    EXPECT_TRUE(askedForEmptySpace);
    EXPECT_EQ(list.selectedRowIndexes(), (QList<qsizetype>{aRow, bRow}));
    // Below the rows: the empty-space menu.
    list.menuForEvent(QPoint(20, list.viewport()->height() - 2));
    EXPECT_TRUE(askedForEmptySpace);
    // An unselected ordinary row is selected first.
    list.menuForEvent(centre(cRow));
    ASSERT_TRUE(asked);
    EXPECT_EQ(*asked, QList<qsizetype>{cRow});
    EXPECT_EQ(list.selectedRowIndexes(), QList<qsizetype>{cRow});
}

TEST_F(SourceListTest, DeleteWithNothingDeletableBeeps)
{
    build();
    PMMovieOutlineView& list = showList();
    list.selectRowIndexes({}, false);
    int beeps = platform::beepCount();
    QTest::keyClick(&list, Qt::Key_Backspace);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    QTest::keyClick(&list, Qt::Key_Delete);
    EXPECT_EQ(platform::beepCount(), beeps + 2);
    EXPECT_FALSE(list.respondsToAction(QStringLiteral("delete")));
    // A folder can be deleted: the command answers, and Edit > Delete is enabled.
    list.selectRowIndexes({list.rowForItem(v(C))}, false);
    EXPECT_TRUE(list.respondsToAction(QStringLiteral("delete")));
}

TEST_F(SourceListTest, AnUpdateKeepsExpansionAndSelectionAndResetsOnlyWhenRowsChange)
{
    build();
    PMMovieOutlineView& list = showList();
    list.collapse(list.sourceListModel()->indexForItem(v(D)));
    list.selectRowIndexes({list.rowForItem(v(B))}, false);
    const int resets = list.sourceListModel()->numberOfResets();
    ASSERT_TRUE(PMIsSameItem(list.itemAtRow(list.selectedRowIndexes().value(0)), v(B)));

    // Nothing changed in the rows: no reset.
    c().updateLibraryAndInvalidateDependencies(true, false, true);
    EXPECT_EQ(list.sourceListModel()->numberOfResets(), resets);
    EXPECT_TRUE(PMIsSameItem(list.itemAtRow(list.selectedRowIndexes().value(0)), v(B)));
    EXPECT_FALSE(list.isItemExpanded(v(D)));

    // A new folder: the rows change; expansion and selection are kept.
    list.expand(list.sourceListModel()->indexForItem(v(D)));
    movies->rawChildren()->append(v(folder(QStringLiteral("New"))));
    c().updateLibraryAndInvalidateDependencies(true, false, true);
    EXPECT_EQ(list.sourceListModel()->numberOfResets(), resets + 1);
    EXPECT_TRUE(list.isItemExpanded(v(D)));
    EXPECT_TRUE(list.isItemExpanded(v(T))); // sections are always open
    ASSERT_EQ(list.selectedRowIndexes().size(), 1);
    EXPECT_TRUE(PMIsSameItem(list.itemAtRow(list.selectedRowIndexes().value(0)), v(B)));
    EXPECT_TRUE(rowNames().contains(QStringLiteral("New")));
}

TEST_F(SourceListTest, TheSaveKeepsTheSelectionAndExpansionAndTheStartRestoresThem)
{
    build();
    PMMovieOutlineView& list = showList();
    list.collapse(list.sourceListModel()->indexForItem(v(D)));
    list.selectRowIndexes({list.rowForItem(v(B))}, false);
    c().storeLibraryWindowStateForSave();
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("Library Selection")).string(), B->uniqueLibraryID());
    QStringList expanded;
    const ArrayPtr stored = defaults.objectForKey(QStringLiteral("Expanded Library Containers")).array();
    ASSERT_TRUE(stored);
    for (const Value& id : *stored)
        expanded << id.string();
    EXPECT_TRUE(expanded.contains(movies->uniqueLibraryID()));
    EXPECT_FALSE(expanded.contains(D->uniqueLibraryID()));

    // A new window at start-up: the expansion and the selection come back.
    view.reset();
    view = std::make_unique<PMMovieOutlineView>(c());
    c().updateLibraryAndInvalidateDependencies(true, false, false);
    c().setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem();
    EXPECT_FALSE(view->isItemExpanded(v(D)));
    EXPECT_TRUE(view->isItemExpanded(v(movies)));
    EXPECT_TRUE(PMIsSameItem(Value(c().selectedContainer()), v(B)));

    // Nothing selected: the key goes; an unknown selection falls back to the first item.
    view->deselectAll();
    c().storeLibraryWindowStateForSave();
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Library Selection")).isNull());
    defaults.setObject(Value(QStringLiteral("no-such-id")), QStringLiteral("Library Selection"));
    c().setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem();
    EXPECT_TRUE(PMIsSameItem(Value(c().selectedContainer()), v(P))) << "the first smart group";
}

TEST_F(SourceListTest, MouseAndKeyRules)
{
    build();
    PMMovieOutlineView& list = showList();
    PMSourceListModel* model = list.sourceListModel();
    auto chevron = [&](const PMLibraryContainerPtr& item) { return list.frameOfOutlineCellAtRow(list.rowForItem(v(item))).center().toPoint(); };

    // A click on a chevron opens or closes that row; with Alt+Shift, every row.
    list.collapse(model->indexForItem(v(D)));
    list.collapse(model->indexForItem(v(movies)));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, chevron(movies));
    EXPECT_TRUE(list.isItemExpanded(v(movies)));
    EXPECT_FALSE(list.isItemExpanded(v(D)));
    list.collapse(model->indexForItem(v(movies)));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::AltModifier | Qt::ShiftModifier, chevron(movies));
    EXPECT_TRUE(list.isItemExpanded(v(movies)));
    EXPECT_TRUE(list.isItemExpanded(v(D)));

    // Right opens the one selected row, Left closes it.
    list.collapse(model->indexForItem(v(D)));
    list.selectRowIndexes({list.rowForItem(v(D))}, false);
    QTest::keyClick(&list, Qt::Key_Right);
    EXPECT_TRUE(list.isItemExpanded(v(D)));
    QTest::keyClick(&list, Qt::Key_Left);
    EXPECT_FALSE(list.isItemExpanded(v(D)));

    // Down from the last row of a section passes over the next section's title.
    const qsizetype lastMovieRow = list.rowForItem(v(T)) - 1;
    list.setCurrentIndex(list.indexAtRow(lastMovieRow));
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_TRUE(PMIsSameItem(list.itemAtRow(list.selectedRowIndexes().value(0)), v(t1)));
    QTest::keyClick(&list, Qt::Key_Up);
    EXPECT_EQ(list.selectedRowIndexes(), QList<qsizetype>{lastMovieRow});

    // A drag starts at once from a selected row, or from an unselected row's icon area.
    list.selectRowIndexes({list.rowForItem(v(D))}, false);
    const QRectF cRow = list.frameOfCellAtColumn(list.rowForItem(v(C)));
    const QRectF dRow = list.frameOfCellAtColumn(list.rowForItem(v(D)));
    EXPECT_TRUE(list.dragImmediatelyWithMouseDown(dRow.center().toPoint()));
    EXPECT_TRUE(list.dragImmediatelyWithMouseDown(QPointF(cRow.x() + 5, cRow.center().y()).toPoint()));
    EXPECT_FALSE(list.dragImmediatelyWithMouseDown(QPointF(cRow.x() + 60, cRow.center().y()).toPoint()));
    EXPECT_FALSE(list.dragImmediatelyWithMouseDown(QPoint(30, list.viewport()->height() - 2)));

    // A double click on a movie chooses it; on a folder it chooses nothing.
    Value chosen;
    c()._chooseMovieRepresentationHandler = [&](const Value& m, bool, bool, bool, bool) {
        chosen = m;
        return true;
    };
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.rectOfRow(list.rowForItem(v(C))).center().toPoint());
    EXPECT_TRUE(chosen.isNull());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.rectOfRow(list.rowForItem(v(t1))).center().toPoint());
    EXPECT_TRUE(PMIsSameItem(chosen, v(t1)));
    c()._chooseMovieRepresentationHandler = nullptr;
}

TEST_F(SourceListTest, ReturnEndsARenameAndLeavesTheSelectionWhereItWas)
{
    build();
    PMMovieOutlineView& list = showList();
    const qsizetype row = list.rowForItem(v(C));
    list.selectRowIndexes({row}, false);
    list.setCurrentIndex(list.indexAtRow(row));
    QTest::keyClick(&list, Qt::Key_Return);
    ASSERT_TRUE(list.isEditing());
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_TRUE(editor);
    // The editor covers the name, not the icon.
    EXPECT_GE(editor->geometry().left(), int(list.frameOfCellAtColumn(row).left()));
    editor->setText(QStringLiteral("Renamed"));
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents(); // the editor hands its text over in a queued call
    EXPECT_FALSE(list.isEditing());
    EXPECT_EQ(C->value(QStringLiteral("Name")).string(), QStringLiteral("Renamed"));
    EXPECT_EQ(list.selectedRowIndexes(), QList<qsizetype>{list.rowForItem(v(C))});
    EXPECT_TRUE(list.hasFocus());
    // The library update that follows keeps the row selected.
    ASSERT_TRUE(testsupport::waitUntil([] { return !platform::hasPendingPerformRequest(&c(), QStringLiteral("updateLibraryWithFrozenSelections"), Value()); }));
    testsupport::runQueuedWork();
    EXPECT_TRUE(PMIsSameItem(list.itemAtRow(list.selectedRowIndexes().value(0)), v(C)));
    // A blank name keeps the old one.
    c().outlineViewSetObjectValue(QStringLiteral("   "), v(C));
    EXPECT_EQ(C->value(QStringLiteral("Name")).string(), QStringLiteral("Renamed"));
    // Sections cannot be renamed.
    EXPECT_FALSE(list.sourceListModel()->flags(list.sourceListModel()->indexForItem(v(S))).testFlag(Qt::ItemIsEditable));
}

TEST_F(SourceListTest, DragsOverRowsMarkTheDropTargetAndLeaveNoneBehind)
{
    build();
    PMMovieOutlineView& list = showList();
    const QString dir = testsupport::makeTempDir(QStringLiteral("drops"));
    testsupport::writeFile(dir + QStringLiteral("/new.mov"), QByteArray("not really a movie"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir + QStringLiteral("/new.mov"))});
    auto move = [&](const QPoint& at) {
        QDragMoveEvent event(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &event);
        return event.isAccepted();
    };
    QDragEnterEvent enter(list.rectOfRow(0).center().toPoint(), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &enter);

    // Onto the middle of a folder's row: that row is the target, drawn as such.
    const qsizetype cRow = list.rowForItem(v(C));
    ASSERT_TRUE(move(list.rectOfRow(cRow).center().toPoint()));
    EXPECT_EQ(list.draggingDestinationDropOnRow(), cRow);
    EXPECT_EQ(c()._draggingDestinationDropOnRow, cRow);
    PMMovieCell cell;
    c().outlineViewWillDisplayCell(cell, v(C));
    EXPECT_TRUE(cell.highlightedDropTarget());
    // Between two rows: the folder is no target any more (files dropped between rows go
    // into the section, which the rules may make the target).
    const QRectF aRect = list.rectOfRow(list.rowForItem(v(A)));
    move(QPointF(aRect.center().x(), aRect.bottom() - 1).toPoint());
    const qsizetype between = list.draggingDestinationDropOnRow();
    EXPECT_TRUE(between == -1 || between == list.rowForItem(v(movies))) << between;
    // Back onto the folder, then out of the list: nothing stays highlighted.
    move(list.rectOfRow(cRow).center().toPoint());
    EXPECT_EQ(list.draggingDestinationDropOnRow(), cRow);
    QDragLeaveEvent leave;
    QApplication::sendEvent(list.viewport(), &leave);
    EXPECT_EQ(list.draggingDestinationDropOnRow(), -1);
    EXPECT_EQ(c()._draggingDestinationDropOnRow, -1);
}

// The source list of a small library drawn in light and dark mode: the list's ground
// follows the mode, and selected rows stand out from the others. With
// PELLIS_SOURCE_LIST_SHOTS set to a folder, the pictures are saved there for a person to
// look at.
TEST_F(SourceListTest, DrawnInLightAndDarkMode)
{
    const QString folderPath = qEnvironmentVariable("PELLIS_SOURCE_LIST_SHOTS");
    const auto shoot = [&](QWidget& w, const QString& name) {
        if (!folderPath.isEmpty()) {
            EXPECT_TRUE(w.grab().save(folderPath + u'/' + name));
        }
    };
    build();
    std::vector<PMMovieRepresentationOriginalPtr> action;
    auto actionFolder = folder(QStringLiteral("Action"));
    for (int i = 0; i < 12; ++i) {
        action.push_back(movie(QStringLiteral("Action %1").arg(i + 1)));
        actionFolder->rawChildren()->append(v(action.back()));
    }
    auto docs = folder(QStringLiteral("Documentaries"), {v(folder(QStringLiteral("Nature"), {v(movie(QStringLiteral("Reef")))})),
                                                          v(folder(QStringLiteral("History with a rather long name that will not fit"),
                                                                   {v(movie(QStringLiteral("Rome"))), v(movie(QStringLiteral("Troy")))}))});
    movies->rawChildren()->append(v(actionFolder));
    movies->rawChildren()->append(v(docs));
    auto lost = movie(QStringLiteral("Lost and not found"));
    lost->setMissing(true, false);
    T->rawChildren()->append(v(lost));
    c().invalidateLibraryDependencies();
    c()._currentMovieRepresentation = v(action[2]);
    c()._currentOrMonitoredMovieRepresentationAncestors = Array::make({v(actionFolder), v(movies)});

    for (bool dark : {false, true}) {
        if (dark)
            qApp->setPalette(PMDarkPalette());
        QWidget window;
        window.resize(280, 600);
        auto* header = new QWidget(&window);
        header->setGeometry(0, 0, 280, 40);
        auto* list = new PMMovieOutlineView(c(), &window);
        list->setGeometry(0, 40, 280, 560);
        list->setWindowHeaderView(header);
        window.show();
        c().reloadInterfaceAfterLibraryUpdate();
        list->expandAll();
        list->collapse(list->sourceListModel()->indexForItem(v(actionFolder)));
        list->selectRowIndexes({list->rowForItem(v(B)), list->rowForItem(v(C)), list->rowForItem(v(E))}, false);
        QApplication::setActiveWindow(&window);
        list->setFocus();
        const QString mode = dark ? QStringLiteral("dark") : QStringLiteral("light");
        ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == &window; }));
        testsupport::runQueuedWork();
        const QImage shot = list->viewport()->grab().toImage();
        // The ground below the last row.
        const QColor ground = shot.pixelColor(shot.width() / 2, shot.height() - 4);
        if (dark)
            EXPECT_LT(qGray(ground.rgb()), 100) << mode.toStdString();
        else
            EXPECT_GT(qGray(ground.rgb()), 150) << mode.toStdString();
        // A selected row against one that is not, halfway along (no text there).
        const auto edge = [&](const Value& item) {
            const QRectF row = list->rectOfRow(list->rowForItem(item));
            return shot.pixelColor(shot.width() / 2, int(row.center().y()));
        };
        EXPECT_NE(edge(v(B)).rgb(), edge(v(P)).rgb()) << mode.toStdString();
        shoot(window, QStringLiteral("source-list-%1.png").arg(mode));
        list->setDraggingDestinationDropOnRow(list->rowForItem(v(P)));
        shoot(window, QStringLiteral("source-list-%1-dragging.png").arg(mode));
        list->setDraggingDestinationDropOnRow(-1);
        list->clearFocus();
        list->resize(280, 300);
        list->verticalScrollBar()->setValue(30); // the hairline shows once scrolled
        shoot(window, dark ? QStringLiteral("source-list-dark-unfocused.png") : QStringLiteral("source-list-light-unfocused.png"));
    }
    qApp->setPalette(QPalette());
    c()._currentMovieRepresentation = Value();
    c()._currentOrMonitoredMovieRepresentationAncestors = nullptr;
}

TEST_F(SourceListTest, SectionsOfOtherProgramsLibrariesShowOnlyWithMovies)
{
    build();
    const PMLibraryContainerPtr library = c().sourceStorage();
    ASSERT_TRUE(library);
    // The library as a new one starts: its own section, a music and a photo section.
    PMLibraryContainerPtr music = c().iTunesSourceStorageSection();
    PMLibraryContainerPtr photos = c().iPhotoSourceStorageSection();
    ASSERT_TRUE(music && photos);
    c().invalidateLibraryDependencies();
    auto shownNames = [&] { return names(c().outlineViewChildrenOfContainer(library)); };
    EXPECT_FALSE(shownNames().contains(music->displayName())) << shownNames().join(u',').toStdString();
    EXPECT_FALSE(shownNames().contains(photos->displayName()));
    EXPECT_TRUE(shownNames().contains(c().pellisSourceStorageSection()->displayName()));
    // A movie in the music section (its source exists after all): the section shows.
    music->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/music/clip.m4v"))));
    c().invalidateLibraryDependencies();
    EXPECT_TRUE(shownNames().contains(music->displayName()));
}
