// The library window: the status and search fields, the header status line with its
// progress bar, the toolbar's mode buttons, the divider's limits and hiding, the status
// texts of the header, the sidebar and the frame kept across runs.
#include "common/TestSupport.h"
#include "GridTestSupport.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/EventClock.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMSmallControls.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMMovieOutlineView.h"
#include "ui/library_window/PMSliderExtremeView.h"
#include "ui/library_window/PMStatusFields.h"
#include "ui/library_window/PMToolbarButtons.h"
#include "ui/library_window/PMZiruderShiftButton.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QSlider>

#include <limits>

using platform::Array;
using platform::ArrayPtr;
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

PMMovieRepresentationOriginalPtr movie(const QString& name)
{
    auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/Movies/") + name + QStringLiteral(".mov"));
    m->userSettings()->setValue(QStringLiteral("Name"), name);
    return m;
}

PMLibraryContainerPtr folder(const QString& name, std::initializer_list<Value> children = {}, bool smart = false)
{
    auto f = PMLibraryContainer::make({{QStringLiteral("Name"), name}});
    if (smart)
        f->setValue(QStringLiteral("Smart"), true);
    for (const Value& child : children)
        f->rawChildren()->append(child);
    return f;
}

void putInLibrary(std::initializer_list<Value> children)
{
    PMLibraryContainerPtr movies = c().pellisSourceStorageSection();
    for (const Value& child : children)
        movies->rawChildren()->append(child);
    c().invalidateLibraryDependencies();
    // The sidebar shows them.
    c().updateLibrary();
}

} // namespace

// ---------------------------------------------------------------------------
// Status and search fields

TEST(StatusFields, IndicatorAndTextFramesFollowIconAndSearchVariant)
{
    using namespace PMStatusIndicatorTextFieldCell;
    const QRectF cell(0, 0, 200, 22);
    struct Case {
        bool icon, search;
        QRectF indicator, text;
        double widening;
    } cases[] = {
        {false, false, QRectF(), cell, 0},
        {true, false, QRectF(1, 1, 20, 20), QRectF(22, 0, 178, 22), 22},
        {true, true, QRectF(1, 1, 20, 20), QRectF(22, 0, 173, 22), 27},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "icon " << k.icon << " search " << k.search);
        EXPECT_EQ(statusIndicatorFrameForCellFrame(cell, k.icon), k.indicator);
        EXPECT_EQ(textFrameForCellFrame(cell, k.icon, k.search), k.text);
        EXPECT_EQ(cellSize(QSizeF(100, 22), k.icon, k.search).width(), 100 + k.widening);
    }
    // The icon sits centred in the indicator, 16 points (13 for small controls).
    EXPECT_EQ(iconFrame(QRectF(1, 1, 20, 20), false, false, false), QRectF(4, 3, 16, 16));
    EXPECT_EQ(iconFrame(QRectF(1, 1, 20, 20), true, true, false), QRectF(5, 4, 13, 12));
}

TEST(StatusFields, PlainFieldKeepsItsWidthAndStatusMovesTheTextAtOnce)
{
    PMStatusIndicatorTextField field;
    field.resize(200, 22);
    field.show();
    EXPECT_EQ(field.textMargins().left(), 0);
    EXPECT_FALSE(field.showsIcon());
    field.setFocus();
    QTest::keyClicks(&field, QStringLiteral("abc"));
    field.setShowsStatus(true);
    EXPECT_EQ(field.textMargins().left(), 22);
    EXPECT_EQ(field.textMargins().right(), 0);
    EXPECT_EQ(field.text(), QStringLiteral("abc"));

    PMSearchStatusIndicatorTextField search;
    search.resize(200, 22);
    EXPECT_TRUE(search.showsIcon());
    EXPECT_EQ(search.textMargins().left(), 22);
    EXPECT_EQ(search.textMargins().right(), 5);
}

TEST(StatusFields, HeaderLinkFollowsTheBoldTitle)
{
    PMMainWindowHeaderStatusField field;
    field.resize(600, 22);
    const QString title = QStringLiteral("Documentaries");
    field.setText(title + QStringLiteral(" \u2014 Clip 0003 (0:09 \u00B7 325.7 KB)"));
    field.setStyledTitleLength(title.size(), true);
    QImage link(12, 12, QImage::Format_ARGB32_Premultiplied);
    link.fill(Qt::black);
    field.setActionButtonImage(link);
    // The text as drawn: the title bold, the rest in the field's font.
    QFont bold = field.font();
    bold.setBold(true);
    const double drawn = QFontMetricsF(bold).horizontalAdvance(title) + QFontMetricsF(field.font()).horizontalAdvance(field.text().mid(title.size()));
    EXPECT_NEAR(field.drawnTextWidth(field.text()), drawn, 3);
    const QRectF button = field.actionButtonTextFieldCell()->actionButtonFrameForCellFrame(field.rect());
    EXPECT_GE(button.left(), drawn + 2) << "the link glyph does not cover the end of the text";
}

TEST(StatusFields, InvalidStatusTintsTheIndicatorRed)
{
    PMStatusIndicatorTextField field;
    field.resize(200, 22);
    field.setShowsStatus(true);
    auto redness = [&](int status) {
        field.setStatus(status);
        const QImage image = field.grab().toImage();
        const QColor pixel = image.pixelColor(int(2 * image.devicePixelRatio()), image.height() / 2);
        return pixel.red() - (pixel.green() + pixel.blue()) / 2;
    };
    const int invalid = redness(-1);
    const int none = redness(0);
    const int valid = redness(1);
    EXPECT_GT(invalid, none + 10);
    EXPECT_LT(std::abs(valid - none), 5);
}

TEST(StatusFields, SearchFieldTurnsWhiteOnDarkInTheBlackInterface)
{
    PMAdaptiveSearchField field;
    field.resize(200, 22);
    field.interfaceDelegate = [] { return true; };
    field.updateTextColor();
    if (!isInFullyInvertedDarkMode(&field)) {
        EXPECT_TRUE(field.usesWhiteText());
        EXPECT_EQ(field.palette().color(QPalette::Text), QColor(Qt::white));
    }
    field.interfaceDelegate = [] { return false; };
    field.updateTextColor();
    EXPECT_FALSE(field.usesWhiteText());
    EXPECT_NE(field.palette().color(QPalette::Text), QColor(Qt::white));
    // Nobody to ask: black.
    field.interfaceDelegate = nullptr;
    EXPECT_TRUE(field.hasBlackInterface());
}

TEST(StatusFields, HeaderProgressBarFromStubToFull)
{
    const QRectF content(10, 2, 100, 16);
    QRectF track, fill;
    PMMainWindowHeaderStatusField::progressBarRects(content, -1, false, &track, &fill);
    EXPECT_TRUE(track.isEmpty());
    PMMainWindowHeaderStatusField::progressBarRects(content, 0, false, &track, &fill);
    EXPECT_EQ(track, QRectF(10, 20, 100, 2));
    EXPECT_EQ(fill.width(), 2);
    PMMainWindowHeaderStatusField::progressBarRects(content, 0.5, false, &track, &fill);
    EXPECT_EQ(fill.width(), 51);
    PMMainWindowHeaderStatusField::progressBarRects(content, 1, true, &track, &fill);
    EXPECT_EQ(fill.width(), 100);
    EXPECT_EQ(fill.y(), 16);
    // Text narrower than 3 points: no bar.
    PMMainWindowHeaderStatusField::progressBarRects(QRectF(0, 0, 3, 16), 1, false, &track, &fill);
    EXPECT_TRUE(track.isEmpty());
}

// ---------------------------------------------------------------------------
// Toolbar buttons

TEST(ToolbarButtons, ModeButtonCannotBeSwitchedOffByClickingIt)
{
    QWidget holder;
    PMPreviewModeButton grid(&holder), list(&holder);
    grid.setGeometry(0, 0, 32, 28);
    list.setGeometry(32, 0, 32, 28);
    grid.setChecked(true);
    int clicks = 0;
    QObject::connect(&grid, &QAbstractButton::clicked, [&] { ++clicks; });
    QObject::connect(&list, &QAbstractButton::clicked, [&] { grid.setChecked(false); });
    holder.show();
    QTest::mouseClick(&grid, Qt::LeftButton);
    EXPECT_TRUE(grid.isChecked());
    EXPECT_EQ(clicks, 0);
    QTest::mouseClick(&list, Qt::LeftButton);
    EXPECT_TRUE(list.isChecked());
    EXPECT_FALSE(grid.isChecked());
    EXPECT_TRUE(list.isOn());
}

TEST(ToolbarButtons, SimplifiedLookFollowsTheSettingElseTheHiddenTitleBar)
{
    clearDefaults();
    EXPECT_EQ(PMAdaptiveToolbarButton::isSimplified(), PMMainWindowHidesTitlebar);
    defaults().setBool(!PMMainWindowHidesTitlebar, QStringLiteral("Simplify Toolbar Buttons"));
    EXPECT_EQ(PMAdaptiveToolbarButton::isSimplified(), !PMMainWindowHidesTitlebar);
    clearDefaults();
}

TEST(ToolbarButtons, DisabledButtonDrawsItsImageFainter)
{
    PMToolbarButton button;
    button.resize(32, 28);
    QImage mask(16, 16, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::black);
    button.setImage(mask);
    auto darkness = [&] {
        const QImage image = button.grab().toImage();
        const QColor pixel = image.pixelColor(image.width() / 2, image.height() / 2);
        return 255 - pixel.value();
    };
    const bool showShapes = PMToolbarButtonsShowShapes;
    PMToolbarButtonsShowShapes = false;
    const int enabled = darkness();
    button.setEnabled(false);
    const int disabled = darkness();
    PMToolbarButtonsShowShapes = showShapes;
    EXPECT_GT(enabled, disabled + 40);
}

// ---------------------------------------------------------------------------
// The window

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        c().resetForTesting();
        clearDefaults();
        gridtest::useSmallUniformTiles();
        window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
        window->resize(1000, 600);
        window->layoutNow();
        // (The first frame fits the small test screen; the sidebar starts from its width.)
        window->ziruderButton()->tileUsingLeftColumnAutoSaveName();
    }
    void TearDown() override
    {
        window.reset();
        c()._mainWindow = nullptr;
        c()._selectedLibraryItems = Array::make();
        c()._inboxItems = nullptr;
        c()._maintenanceWindow = PMMainController::MaintenanceWindowHooks();
        c()._updateUserInterfaceHook = nullptr;
        c()._orderedWindowsOverride = nullptr;
        c()._dropWindow = PMMainController::DropWindowHooks();
        auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
        testsupport::waitUntil([&] { return loader.loadQueue().operationCount() == 0 && loader.crawlQueue().operationCount() == 0; }, 30000);
        c().resetForTesting();
        clearDefaults();
    }
    QString statusText() const { return window->groupStatusField()->text(); }
    QString statusAction() const { return window->groupStatusField()->action(); }
    QString statusTip() const { return window->groupStatusField()->stringForToolTip(); }

    std::unique_ptr<PMMainWindow> window;
};

TEST_F(MainWindowTest, HasItsPartsInPlace)
{
    EXPECT_EQ(c().mainWindow(), window.get());
    EXPECT_NE(window->groupView(), nullptr);
    EXPECT_NE(window->playerContainerView(), nullptr);
    EXPECT_EQ(window->playerContainer(), window->playerContainerView());
    EXPECT_EQ(window->statusField(), window->groupStatusField());
    EXPECT_EQ(window->groupStatusField()->progressFraction(), -1.0);
    // With nothing stored, the sidebar starts 185 points wide and the content fills the rest.
    EXPECT_EQ(window->sourceListContainer()->width(), 185);
    EXPECT_EQ(window->contentView()->x(), 185);
    EXPECT_EQ(window->contentView()->width(), 1000 - 185);
    c().setStatusProgress(0.25);
    EXPECT_EQ(window->groupStatusField()->progressFraction(), 0.25);
}

TEST_F(MainWindowTest, DividerLimits)
{
    PMZiruderShiftButton* divider = window->ziruderButton();
    EXPECT_EQ(divider->leftColumnAutoSaveName(), QStringLiteral("PMZiruderShiftButton Left Width PlaylistDivider"));
    // The content keeps 560 points.
    divider->tileWithDelta(1000);
    EXPECT_EQ(window->sourceListContainer()->width(), 1000 - 560);
    EXPECT_EQ(window->contentView()->width(), 560);
    // The sidebar keeps 100.
    divider->tileWithDelta(-1000);
    EXPECT_EQ(window->sourceListContainer()->width(), 100);
    // Narrower than 660: the sidebar stays at 100 and the rest goes to the content.
    window->setMinimumSize(0, 0);
    window->resize(600, 600);
    window->layoutNow();
    divider->tileWithDelta(50);
    EXPECT_EQ(window->sourceListContainer()->width(), 100);
    EXPECT_EQ(window->contentView()->width(), 500);
}

TEST_F(MainWindowTest, DraggingPastHalfTheMinimumHidesTheSidebarAndBack)
{
    PMZiruderShiftButton* divider = window->ziruderButton();
    divider->beginDrag(185, 1);
    EXPECT_EQ(PMLiveResizeCount, 1);
    divider->continueDrag(150, false);
    EXPECT_EQ(window->sourceListContainer()->width(), 150);
    // Left of 50 (half the minimum of 100): hidden through the toggler.
    divider->continueDrag(40, false);
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Hide Library")));
    EXPECT_TRUE(window->sourceListContainer()->isHidden());
    EXPECT_EQ(window->contentView()->x(), 0);
    EXPECT_EQ(window->contentView()->width(), 1000);
    // Back to the right within the same drag: shown again.
    divider->continueDrag(210, false);
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Hide Library")));
    EXPECT_FALSE(window->sourceListContainer()->isHidden());
    EXPECT_EQ(window->sourceListContainer()->width(), 210);
    divider->continueDrag(210, true);
    EXPECT_EQ(PMLiveResizeCount, 0);
    EXPECT_EQ(defaults().doubleForKey(divider->leftColumnAutoSaveName()), 210);
    // A drag that ends where it began stores the unchanged width.
    defaults().removeObjectForKey(divider->leftColumnAutoSaveName());
    divider->beginDrag(210, 1);
    divider->continueDrag(210, true);
    EXPECT_EQ(defaults().doubleForKey(divider->leftColumnAutoSaveName()), 210);
    // The next window starts with it.
    window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
    window->resize(1000, 600);
    window->layoutNow();
    window->ziruderButton()->tileUsingLeftColumnAutoSaveName();
    EXPECT_EQ(window->sourceListContainer()->width(), 210);
}

TEST_F(MainWindowTest, DoubleClickTogglesWithoutMovingTheBoundary)
{
    window->show();
    PMZiruderShiftButton* divider = window->ziruderButton();
    ASSERT_TRUE(divider->isVisible());
    const QPoint middle = divider->rect().center();
    QTest::mouseDClick(divider, Qt::LeftButton, {}, middle);
    EXPECT_TRUE(window->sourceListContainer()->isHidden());
    EXPECT_EQ(window->sourceListContainer()->width(), 185);
    // The toggle button brings it back.
    ASSERT_FALSE(window->libraryListVisibilitySwitch()->isHidden());
    QTest::mouseClick(window->libraryListVisibilitySwitch(), Qt::LeftButton);
    EXPECT_FALSE(window->sourceListContainer()->isHidden());
    EXPECT_EQ(window->sourceListContainer()->width(), 185);
    EXPECT_TRUE(window->libraryListVisibilitySwitch()->isHidden());
}

TEST_F(MainWindowTest, RealDragMovesTheSeam)
{
    window->show();
    PMZiruderShiftButton* divider = window->ziruderButton();
    const QPoint start = divider->rect().center();
    QTest::mousePress(divider, Qt::LeftButton, {}, start);
    const QPoint target = divider->mapToGlobal(start + QPoint(60, 0));
    QMouseEvent move(QEvent::MouseMove, QPointF(divider->mapFromGlobal(target)), QPointF(target), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(divider, &move);
    // The handle moved with the seam: the release is where the pointer is now.
    QTest::mouseRelease(divider, Qt::LeftButton, {}, divider->mapFromGlobal(target));
    EXPECT_EQ(window->sourceListContainer()->width(), 245);
    EXPECT_EQ(defaults().doubleForKey(divider->leftColumnAutoSaveName()), 245);
}

TEST_F(MainWindowTest, HeaderStatusTextTable)
{
    auto a = folder(QStringLiteral("A"), {}, true), b = folder(QStringLiteral("B"), {}, true), d = folder(QStringLiteral("D"), {}, true);
    for (const auto& f : {a, b, d})
        f->setValue(QStringLiteral("Subdivision"), QStringLiteral("genre"));
    auto root = folder(QStringLiteral("Root"), {Value(a), Value(b), Value(d)}, true);
    auto other = folder(QStringLiteral("Other"), {}, true);
    auto plainFolder = folder(QStringLiteral("Plain"));
    auto nameless = folder(QString(), {}, true);
    putInLibrary({Value(root), Value(other), Value(plainFolder), Value(nameless)});

    // Three smart groups of the same root, intersection: one title, not plain, so the
    // simplified buttons offer to edit the smart group. (Subdivisions show in the sidebar
    // only once smart groups are filled: the title rule is checked on its own.)
    defaults().setObject(Value(QStringLiteral("Intersection")), QStringLiteral("Implicit Multiple Selection Search"));
    bool plain = true;
    EXPECT_EQ(PMMainWindow::titleForSelection(Array::make({Value(a), Value(b), Value(d)}), &plain), QStringLiteral("A ∩ B ∩ D"));
    EXPECT_FALSE(plain);
    // Union of groups with different roots: plain.
    defaults().removeObjectForKey(QStringLiteral("Implicit Multiple Selection Search"));
    EXPECT_EQ(PMMainWindow::titleForSelection(Array::make({Value(a), Value(other)}), &plain), QStringLiteral("A ∪ Other"));
    EXPECT_TRUE(plain);
    // An item without a display name: no joined title.
    EXPECT_EQ(PMMainWindow::titleForSelection(Array::make({Value(a), Value(nameless)}), &plain), QString());
    EXPECT_TRUE(plain);

    // In the window: a selection of two groups, then one that offers clearing.
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(other), Value(plainFolder)})));
    window->setStatus(QStringLiteral("3 files"), nullptr, true, QVariant(), QString(), false);
    EXPECT_EQ(statusText(), QStringLiteral("Other ∪ Plain — 3 files"));
    EXPECT_NE(statusAction(), QStringLiteral("editSmartPlaylist"));
    window->setStatus(QStringLiteral("2 of 3 files selected"), nullptr, true, QVariant(), QString(), true);
    EXPECT_EQ(statusAction(), QStringLiteral("clearGroupItemSelection"));
    EXPECT_EQ(statusTip(), QStringLiteral("Clear Selection"));
    // A smart group shown alone with the simplified buttons: edit it.
    if (PMAdaptiveToolbarButton::isSimplified()) {
        window->setStatus(QStringLiteral("3 files"), other, false, QVariant(), QString(), false);
        EXPECT_EQ(statusText(), QStringLiteral("Other — 3 files"));
        EXPECT_EQ(statusAction(), QStringLiteral("editSmartPlaylist"));
        EXPECT_EQ(statusTip(), QStringLiteral("Edit Smart Playlist"));
        EXPECT_EQ(window->groupStatusField()->styledTitleLength(), 5);
    }

    // Nothing at all: empty.
    window->setStatus(QString(), nullptr, false, QVariant(), QString(), false);
    EXPECT_EQ(statusText(), QString());

    // A plain container: its name and the status.
    window->setStatus(QStringLiteral("4 files"), plainFolder, false, QVariant(), QString(), false);
    EXPECT_EQ(statusText(), QStringLiteral("Plain — 4 files"));
}

TEST_F(MainWindowTest, HeaderStatusOffersTheInboxOfABranch)
{
    if (!PMAdaptiveToolbarButton::isSimplified())
        GTEST_SKIP() << "the inbox is offered with the simplified buttons";
    auto m1 = movie(QStringLiteral("m1")), m2 = movie(QStringLiteral("m2"));
    auto inbox = folder(QStringLiteral("Inbox"), {Value(m1), Value(m2)});
    auto branch = folder(QStringLiteral("Branch"), {}, true);
    branch->setValue(QStringLiteral("Subdivision"), QStringLiteral("genre"));
    branch->setValue(QStringLiteral("Subdivision Branch"), Value(Array::make({Value(QStringLiteral("drama"))})));
    putInLibrary({Value(inbox), Value(branch)});
    defaults().setObject(Value(inbox->uniqueLibraryID()), QStringLiteral("Inbox"));
    ASSERT_TRUE(c().inboxMovieRepresentationsSorted(false));

    struct Case {
        bool open;
        int selected;
        QString tip;
    } cases[] = {{false, 0, QStringLiteral("Apply...")},
                 {true, 0, QStringLiteral("Cancel")},
                 {true, 1, QStringLiteral("Apply to 1 file")},
                 {true, 3, QStringLiteral("Apply to 3 files")}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.tip.toStdString());
        c()._inboxItems = k.open ? Array::make({Value(m1)}) : nullptr;
        c()._maintenanceWindow.selectedInboxItems = [n = k.selected] {
            ArrayPtr items = Array::make();
            for (int i = 0; i < n; ++i)
                items->append(Value(QString::number(i)));
            return items;
        };
        window->setStatus(QStringLiteral("2 files"), branch, false, QVariant(), QString(), false);
        EXPECT_EQ(statusText(), QStringLiteral("Branch — 2 files"));
        EXPECT_EQ(statusAction(), QStringLiteral("showInbox"));
        EXPECT_EQ(statusTip(), k.tip);
    }
}

TEST_F(MainWindowTest, StatusLineCountsWhatTheGridShows)
{
    auto movies = folder(QStringLiteral("Films"));
    std::vector<PMMovieRepresentationOriginalPtr> records;
    for (int i = 0; i < 20; ++i) {
        records.push_back(movie(QStringLiteral("Movie %1").arg(i, 2, 10, QLatin1Char('0'))));
        movies->rawChildren()->append(Value(records.back()));
    }
    putInLibrary({Value(movies)});
    window->show();
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(movies)})));
    PMGroupView* grid = window->groupView();
    ASSERT_EQ(grid->movieProxies().size(), 20u);

    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("Films — 20 files"))) << statusText().toStdString();

    // 3 of 20 selected.
    grid->selectItems(Array::make({Value(records[1]), Value(records[2]), Value(records[3])}), true, false, false);
    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("Films — 3 of 20 files selected"))) << statusText().toStdString();
    EXPECT_EQ(statusAction(), QStringLiteral("clearGroupItemSelection"));

    // One movie: its name as a link to its file; when the status always cancels the
    // selection, its name with the clearing button.
    grid->selectItems(Array::make({Value(records[4])}), true, false, false);
    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("Films — Movie 04"))) << statusText().toStdString();
    EXPECT_EQ(statusAction(), QStringLiteral("goToLinkURL"));
    defaults().setBool(true, QStringLiteral("Always Cancel Selection Via Main Window Status"));
    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("Films — Movie 04"))) << statusText().toStdString();
    EXPECT_EQ(statusAction(), QStringLiteral("clearGroupItemSelection"));
    grid->selectItems(Array::make(), true, false, false);

    // An online search: 20 of 50 loaded; more matches than shown: "[extra+]".
    struct Case {
        int overall, matches;
        QString start;
    } cases[] = {{50, 20, QStringLiteral("Films — 20 of 50 files")}, {50, 25, QStringLiteral("Films — [5+] 20 of 45 files")}};
    for (const Case& k : cases) {
        ArrayPtr matches = Array::make();
        for (int i = 0; i < k.matches; ++i)
            matches->append(Value(QString::number(i)));
        movies->setValue(QStringLiteral("Search"), Value(platform::Dictionary::make({{QStringLiteral("YouTube Overall Count"), qint64(k.overall)},
                                                                                    {QStringLiteral("YouTube Matches"), Value(matches)}})));
        c().updateStatusFields();
        EXPECT_TRUE(statusText().startsWith(k.start)) << statusText().toStdString();
    }
    movies->setValue(QStringLiteral("Search"), Value(platform::Dictionary::make({{QStringLiteral("Searching"), true}})));
    c().updateStatusFields();
    EXPECT_EQ(statusText(), QStringLiteral("Films — •••"));
}

TEST_F(MainWindowTest, SeveralContainersCountWhatTheGridShows)
{
    auto a = folder(QStringLiteral("A")), b = folder(QStringLiteral("B"));
    for (int i = 0; i < 3; ++i)
        a->rawChildren()->append(Value(movie(QStringLiteral("a%1").arg(i))));
    for (int i = 0; i < 2; ++i)
        b->rawChildren()->append(Value(movie(QStringLiteral("b%1").arg(i))));
    putInLibrary({Value(a), Value(b)});
    window->show();
    // As registered at launch: searches look at the files.
    defaults().setBool(true, QStringLiteral("Group Search Criterion: Files"));
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(a), Value(b)})));
    // (The combined content comes from a search that runs after its delay.)
    ASSERT_TRUE(testsupport::waitUntil([&] { return window->groupView()->movieProxies().size() == 5u; }, 5000));
    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("A \u222A B \u2014 5 files"))) << statusText().toStdString();
}

TEST_F(MainWindowTest, SubgroupTextGoesWhereThePreviewsAre)
{
    auto parent = folder(QStringLiteral("Films"));
    for (int i = 0; i < 12; ++i)
        parent->rawChildren()->append(Value(movie(QStringLiteral("M%1").arg(i))));
    parent->rawChildren()->append(Value(folder(QStringLiteral("Sub 1"))));
    parent->rawChildren()->append(Value(folder(QStringLiteral("Sub 2"))));
    putInLibrary({Value(parent)});
    window->show();
    ASSERT_TRUE(c().selectLibraryItems(Array::make({Value(parent)})));
    defaults().setInteger(1, QStringLiteral("Subgroup Previews Position"));
    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("Films — 12 files"))) << statusText().toStdString();
    EXPECT_TRUE(statusText().endsWith(QStringLiteral(" · 2 subgroups"))) << statusText().toStdString();
    defaults().setInteger(0, QStringLiteral("Subgroup Previews Position"));
    c().updateStatusFields();
    EXPECT_TRUE(statusText().startsWith(QStringLiteral("Films — 2 subgroups · 12 files"))) << statusText().toStdString();
}

TEST_F(MainWindowTest, SidebarHidesAndComesBackAndTheFrameIsKept)
{
    window->show();
    c().toggleLibrary(nullptr);
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Hide Library")));
    EXPECT_TRUE(window->sourceListContainer()->isHidden());
    EXPECT_FALSE(window->libraryListVisibilitySwitch()->isHidden());
    EXPECT_EQ(window->libraryListVisibilitySwitch()->toolTip(), QStringLiteral("Show Sidebar"));
    EXPECT_FALSE(c().isSidebarAccessible());
    c().toggleLibrary(nullptr);
    EXPECT_FALSE(window->sourceListContainer()->isHidden());
    EXPECT_TRUE(c().isSidebarAccessible());

    window->setGeometry(40, 50, 700, 500);
    c().saveMainWindowFrame();
    const QString stored = defaults().stringForKey(QStringLiteral("NSWindow Frame PMMPPlayerWindow"));
    EXPECT_FALSE(stored.isEmpty());
    const QRect kept = window->geometry();
    window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
    EXPECT_EQ(window->geometry(), kept);
    // A frame nowhere on a screen is not restored.
    defaults().setObject(Value(QStringLiteral("90000 90000 700 500")), QStringLiteral("NSWindow Frame PMMPPlayerWindow"));
    window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
    EXPECT_LT(window->x(), 10000);
    // Garbage is ignored.
    defaults().setObject(Value(QStringLiteral("a b c d")), QStringLiteral("NSWindow Frame PMMPPlayerWindow"));
    window.reset(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
    EXPECT_GE(window->width(), 200);
}

TEST_F(MainWindowTest, ProgressSheetShowsOnceAndHides)
{
    window->show();
    c().showProgressSheet(true);
    ASSERT_TRUE(c()._progressPanel);
    EXPECT_TRUE(c()._progressPanel->isVisible());
    c()._maintenanceWindow.progressUpdate(QStringLiteral("Moving 1 of 3"), 33);
    auto* label = c()._progressPanel->findChild<QLabel*>(QStringLiteral("progressText"));
    EXPECT_EQ(label->text(), QStringLiteral("Moving 1 of 3"));
    EXPECT_FALSE(c()._maintenanceWindow.progressCancelPressed());
    c()._progressPanel->findChild<QPushButton*>(QStringLiteral("progressCancelButton"))->click();
    EXPECT_TRUE(c()._maintenanceWindow.progressCancelPressed());
    // A second request while it is visible changes nothing.
    c().showProgressSheetWithStatus(QStringLiteral("other"), true, window.get(), false);
    EXPECT_EQ(label->text(), QStringLiteral("Moving 1 of 3"));
    c().hideProgressSheetIfVisible();
    EXPECT_FALSE(c()._progressPanel->isVisible());
    EXPECT_FALSE(c()._progressSheetIsVisible);
}

TEST_F(MainWindowTest, DownloadsPopUpOffersPlainContainers)
{
    auto inner = folder(QStringLiteral("Inner"));
    auto outer = folder(QStringLiteral("Outer"), {Value(inner)});
    auto smart = folder(QStringLiteral("Smart"), {}, true);
    putInLibrary({Value(outer), Value(smart)});
    QComboBox selector;
    c().downloadsContainerSelector = &selector;
    c().updateDownloadsContainerSelector();
    QStringList titles;
    for (int i = 0; i < selector.count(); ++i)
        if (!selector.itemText(i).isEmpty())
            titles << selector.itemText(i);
    EXPECT_TRUE(titles.contains(QStringLiteral("Outer")));
    EXPECT_TRUE(titles.contains(QStringLiteral("Outer ▸ Inner")));
    EXPECT_FALSE(titles.contains(QStringLiteral("Smart")));
    EXPECT_EQ(selector.itemData(selector.findText(QStringLiteral("Outer ▸ Inner"))).toString(), inner->uniqueLibraryID());
    // Nothing chosen yet: the library's own section, where downloads then go, shows as chosen
    // (never the disabled heading above it).
    defaults().removeObjectForKey(QStringLiteral("Downloads Container"));
    c().updateDownloadsContainerSelector();
    ASSERT_TRUE(c().downloadsContainer());
    EXPECT_EQ(selector.currentData().toString(), c().downloadsContainer()->uniqueLibraryID());
    c().downloadsContainerSelector = nullptr;
}

TEST_F(MainWindowTest, FullScreenIsTheWindowManagersUnlessSingleWindowMode)
{
    EXPECT_TRUE(window->respondsToAction(QStringLiteral("toggleFullScreen")));
    EXPECT_FALSE(window->usesCustomFullScreenMode());
    QAction item(QStringLiteral("Full Screen"));
    platform::setMenuItemAction(&item, QStringLiteral("toggleFullScreen"));
    EXPECT_TRUE(window->validateMenuItem(&item));
    EXPECT_EQ(item.text(), QStringLiteral("Enter Full Screen"));
    defaults().setBool(true, QStringLiteral("Single Window Mode"));
    EXPECT_TRUE(window->usesCustomFullScreenMode());
}

TEST_F(MainWindowTest, BackButtonAppearsWithHistoryAndGoesBack)
{
    auto a = folder(QStringLiteral("A")), b = folder(QStringLiteral("B"));
    putInLibrary({Value(a), Value(b)});
    window->show();
    PMAdaptiveToolbarButton* back = window->groupBackButton();
    const int statusX = window->groupStatusField()->x();
    platform::steerEventClockForTesting(true);
    struct Unsteer {
        ~Unsteer() { platform::steerEventClockForTesting(false); }
    } unsteer;
    ASSERT_TRUE(c().selectLibraryItem(Value(a)));
    platform::advanceEventClockForTesting(1);
    c().updateUserInterface();
    EXPECT_TRUE(back->isHidden() || !back->isEnabled());

    ASSERT_TRUE(c().selectLibraryItem(Value(b)));
    platform::advanceEventClockForTesting(1);
    c().updateUserInterface();
    ASSERT_FALSE(back->isHidden());
    EXPECT_TRUE(back->isEnabled());
    // The header's controls make room for it.
    EXPECT_GT(window->groupStatusField()->x(), statusX);
    // Empty containers hide the mode buttons: the status follows the back button closely.
    ASSERT_TRUE(window->groupViewPreviewModeButton()->isHidden());
    EXPECT_LE(window->groupStatusField()->x(), back->geometry().right() + 1 + 12);

    // Held, it lists the earlier selection; clicked, it goes there.
    QMenu* menu = back->delegate()->menuForOptionalMenuButton(back);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("A"));
    // A quick click goes back (the press waits for the hold that would open the menu).
    platform::setApplicationResponder(&c());
    struct Unset {
        ~Unset() { platform::setApplicationResponder(nullptr); }
    } unset;
    QTest::mouseClick(back, Qt::LeftButton, {}, back->rect().center());
    EXPECT_EQ(c().selectedContainer(), a);
}

TEST_F(MainWindowTest, ShownPlayerTakesTheGridsPlaceAndSize)
{
    window->show();
    QWidget* player = window->playerContainerView();
    PMGroupView* grid = window->groupView();
    ASSERT_TRUE(grid->isVisible());
    player->setVisible(true);
    EXPECT_TRUE(player->isVisible());
    EXPECT_FALSE(grid->isVisible());
    EXPECT_EQ(player->size(), grid->size());
    player->setVisible(false);
    EXPECT_TRUE(grid->isVisible());
}

TEST_F(MainWindowTest, DraggedSeamKeepsTheHeaderAndGridInsideTheWindowAfterAResize)
{
    window->show();
    window->resize(620, 420);
    QCoreApplication::processEvents();
    window->resize(1280, 800);
    QCoreApplication::processEvents();
    PMZiruderShiftButton* divider = window->ziruderButton();
    const QPoint start = divider->rect().center();
    QTest::mousePress(divider, Qt::LeftButton, {}, start);
    const QPoint target = divider->mapToGlobal(start + QPoint(140, 0));
    QMouseEvent move(QEvent::MouseMove, QPointF(divider->mapFromGlobal(target)), QPointF(target), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(divider, &move);
    QTest::mouseRelease(divider, Qt::LeftButton, {}, divider->mapFromGlobal(target));
    QCoreApplication::processEvents();
    EXPECT_EQ(window->sourceListContainer()->width(), 240);
    EXPECT_EQ(window->contentView()->x() + window->contentView()->width(), window->containerView()->width());
    // The header's controls follow its new width: the search field keeps its margin.
    QWidget* search = window->searchField();
    EXPECT_EQ(search->geometry().right() + 1, search->parentWidget()->width() - 10);
    EXPECT_LE(window->groupView()->geometry().right() + 1, window->contentView()->width());
}

TEST_F(MainWindowTest, TileSizeSliderShowsWithTilesAndResizesThem)
{
    auto movies = folder(QStringLiteral("Films"));
    for (int i = 0; i < 20; ++i)
        movies->rawChildren()->append(Value(movie(QStringLiteral("Movie %1").arg(i))));
    auto empty = folder(QStringLiteral("Empty"));
    putInLibrary({Value(movies), Value(empty)});
    window->show();
    QSlider* slider = window->previewSizeSlider();
    c().installViewOptions(); // as at launch: the slider's action
    platform::setApplicationResponder(&c());
    struct Unset {
        ~Unset() { platform::setApplicationResponder(nullptr); }
    } unset;
    QWidget* sliderView = window->previewSizeSliderView();
    ASSERT_TRUE(c().selectLibraryItem(Value(empty)));
    EXPECT_TRUE(sliderView->isHidden()) << "nothing to size";

    ASSERT_TRUE(c().selectLibraryItem(Value(movies)));
    c().updateUserInterface();
    ASSERT_FALSE(sliderView->isHidden());
    // Between the status and the search field, 30 points before the field.
    EXPECT_EQ(sliderView->geometry().right() + 1 + 30, window->searchField()->x());
    EXPECT_LE(window->groupStatusField()->geometry().right(), sliderView->x());
    // Its ends are the smallest tile and the grid's width less the margins.
    EXPECT_EQ(slider->minimum(), int(PMMainController::minimumPreviewWidth()));
    EXPECT_EQ(slider->maximum(), int(window->groupView()->width() - 2 * PMGroupView::spacing()));

    // The largest end gives one column of tiles as wide as the slider allows.
    const double before = PMGroupView::previewViewWidthForContainer(movies);
    QTest::mouseClick(window->previewSizeSliderEnd(true), Qt::LeftButton);
    EXPECT_EQ(slider->value(), slider->maximum());
    EXPECT_GT(PMGroupView::previewViewWidthForContainer(movies), before);
    EXPECT_EQ(window->groupView()->numberOfColumns(), 1u);

    // Dragging the knob to the small end: many columns of small tiles.
    const QRect groove = slider->rect();
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(groove.right() - 3, groove.center().y()));
    QMouseEvent move(QEvent::MouseMove, QPointF(groove.left() + 2, groove.center().y()), slider->mapToGlobal(QPointF(groove.left() + 2, groove.center().y())),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(groove.left() + 2, groove.center().y()));
    EXPECT_EQ(slider->value(), slider->minimum());
    EXPECT_GT(window->groupView()->numberOfColumns(), 3u);
}

TEST_F(MainWindowTest, ModifierClicksSelectTilesInTheWindow)
{
    auto movies = folder(QStringLiteral("Films"));
    for (int i = 0; i < 12; ++i)
        movies->rawChildren()->append(Value(movie(QStringLiteral("Movie %1").arg(i))));
    putInLibrary({Value(movies)});
    window->show();
    ASSERT_TRUE(c().selectLibraryItem(Value(movies)));
    PMGroupView* grid = window->groupView();
    ASSERT_EQ(grid->movieProxies().size(), 12u);
    auto centre = [&](int i) {
        return (grid->movieProxies()[size_t(i)]->frame.center() - QPointF(0, grid->verticalScrollBar()->value())).toPoint();
    };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(2));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(4));
    ASSERT_TRUE(grid->selectedItems());
    EXPECT_EQ(grid->selectedItems()->count(), 3);
}

TEST(ToolbarButtons, ADisabledImageIsFadedOnceToFortyPercent)
{
    clearDefaults();
    QWidget holder;
    QPalette palette = holder.palette();
    palette.setColor(QPalette::Window, Qt::white);
    holder.setPalette(palette);
    holder.setAutoFillBackground(true);
    holder.resize(40, 32);
    PMToolbarButton button(&holder);
    QImage square(16, 16, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::black);
    button.setImage(square);
    button.setGeometry(4, 2, 32, 28);
    button.setEnabled(false);
    const QImage shot = holder.grab().toImage();
    int darkest = 255;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            darkest = std::min(darkest, qGray(shot.pixel(x, y)));
    // Black at 40 % over white: 153 (the light look); not 22 % (199) nor less.
    EXPECT_NEAR(darkest, 153, 12);
}

TEST_F(MainWindowTest, MovingTheDividerTrimsTheTilesAndStoresThePlayersSize)
{
    window->show();
    QApplication::processEvents();
    // Tiles wider than the grid can ever be after the divider moved right.
    PMGroupView::setPreviewWidth(5000, nullptr);
    defaults().removeObjectForKey(QStringLiteral("Custom Size"));
    c().ziruderShiftButtonDidShift(true);
    EXPECT_LE(PMGroupView::previewViewWidthForContainer(nullptr), window->groupView()->width()) << "trimmed to the new grid";
    EXPECT_FALSE(defaults().stringForKey(QStringLiteral("Custom Size")).isEmpty()) << "the player's size is stored";
}

TEST_F(MainWindowTest, TheStoredPlayerSizeComesBackOnceTheWindowIsLaidOut)
{
    // The size is read and asked for before the window shows, as at start; the player's
    // place is measured only once the window is laid out.
    defaults().setObject(platform::Value(QStringLiteral("{600, 320}")), QStringLiteral("Custom Size"));
    c().restoreMainWindowSizeAfterFirstLayout(c().storedMainWindowSize());
    EXPECT_EQ(window->size(), QSize(1000, 600)) << "nothing is measured before the window shows";
    // The first tiling of the divider stores the size the window happens to have.
    c().saveMainWindowSize();
    ASSERT_NE(defaults().stringForKey(QStringLiteral("Custom Size")), QStringLiteral("{600, 320}"));
    window->show();
    EXPECT_TRUE(testsupport::waitUntil([&] { return c().playerAreaSizeOfWindow(window.get(), nullptr).toSize() == QSize(600, 320); }, 10000))
        << c().playerAreaSizeOfWindow(window.get(), nullptr).width() << "x" << c().playerAreaSizeOfWindow(window.get(), nullptr).height();

    // Unusable or overridden: the default size is stored (and asked for).
    // Smaller than a player can be is unusable too: earlier versions stored the size of a
    // place that was never laid out ("{100, 743}"), which would shrink the window to a strip.
    struct Case {
        const char* stored;
        bool always;
    };
    for (const Case& k : {Case{"{0, junk}", false}, Case{"{100, 743}", false}, Case{"{600, 30}", false}, Case{"{600, 320}", true}}) {
        defaults().setObject(platform::Value(QString::fromLatin1(k.stored)), QStringLiteral("Custom Size"));
        defaults().setBool(k.always, QStringLiteral("Always Apply Default Player Size"));
        EXPECT_EQ(c().storedMainWindowSize(), QSizeF(640, 538)) << k.stored;
        EXPECT_EQ(defaults().stringForKey(QStringLiteral("Custom Size")), QStringLiteral("{640, 538}")) << k.stored;
    }
}

TEST_F(MainWindowTest, TheFooterIsKeptOnlyWhenAskedForAndThenCarriesTheStatusAndItsProgress)
{
    // As the window comes: the header's status field is the status line, the footer gone.
    window->show();
    QApplication::processEvents();
    EXPECT_TRUE(window->footerView()->isHidden());
    EXPECT_EQ(window->statusField(), window->groupStatusField());
    EXPECT_EQ(window->statusProgressIndicator(), nullptr);
    c().setStatusProgress(0.5);
    EXPECT_DOUBLE_EQ(window->groupStatusField()->progressFraction(), 0.5);

    // Kept: along the whole bottom edge, with the status and its progress bar.
    defaults().setBool(true, QStringLiteral("Hide Main Window Titlebar: Retain Footer"));
    std::unique_ptr<PMMainWindow> kept(static_cast<PMMainWindow*>(PMMainController::makeMainWindow(nullptr)));
    kept->resize(900, 500);
    kept->show();
    QApplication::processEvents();
    ASSERT_FALSE(kept->footerView()->isHidden());
    const QRect footer(kept->footerView()->mapTo(kept.get(), QPoint(0, 0)), kept->footerView()->size());
    EXPECT_EQ(footer.left(), 0);
    EXPECT_EQ(footer.width(), kept->width());
    EXPECT_EQ(footer.bottom(), kept->height() - 1);
    EXPECT_LE(kept->containerView()->geometry().bottom(), footer.top()) << "the sidebar and the grid stand above it";
    EXPECT_EQ(kept->statusField(), kept->footerStatusField());
    EXPECT_TRUE(kept->groupStatusField()->isHidden());
    kept->setStatus(QStringLiteral("3 files"), nullptr, false, QVariant(), QString(), false);
    EXPECT_TRUE(kept->footerStatusField()->text().contains(QStringLiteral("3 files")));
    ASSERT_NE(kept->statusProgressIndicator(), nullptr);
    c().setStatusProgress(0.25);
    EXPECT_TRUE(kept->statusProgressIndicator()->isVisibleTo(kept.get()));
    EXPECT_EQ(kept->statusProgressIndicator()->value(), 250);
    c().setStatusProgress(-1);
    EXPECT_FALSE(kept->statusProgressIndicator()->isVisibleTo(kept.get()));
    kept.reset();
    c()._mainWindow = window.get();
}

// The back button's history menu names each earlier selection: the containers in their
// default order, joined as the multiple-selection search joins them, a subdivision followed
// by the groups it lies in.
TEST_F(MainWindowTest, HistoryMenuTitlesJoinSortAndPlaceSubdivisions)
{
    auto march = folder(QStringLiteral("March"), {}, true);
    auto year = folder(QStringLiteral("2020"), {Value(march)}, true);
    for (const auto& f : {march, year})
        f->setValue(QStringLiteral("Subdivision"), QStringLiteral("year"));
    auto byYear = folder(QStringLiteral("By Year"), {Value(year)}, true);
    auto a = folder(QStringLiteral("Alpha")), b = folder(QStringLiteral("Beta"));
    putInLibrary({Value(a), Value(b), Value(byYear)});

    const struct {
        const char* join;
        QList<PMLibraryContainerPtr> entry;
        QString title;
    } cases[] = {
        {"", {b, a}, QStringLiteral("Alpha ∪ Beta")},
        {"Intersection", {b, a}, QStringLiteral("Alpha ∩ Beta")},
        {"", {year}, QStringLiteral("2020 (By Year)")},
        {"", {march}, QStringLiteral("March (By Year: 2020)")},
        {"", {a}, QStringLiteral("Alpha")},
    };
    QList<QList<PMLibraryContainerPtr>> history;
    for (const auto& k : cases) {
        if (*k.join)
            defaults().setObject(Value(QString::fromLatin1(k.join)), QStringLiteral("Implicit Multiple Selection Search"));
        else
            defaults().removeObjectForKey(QStringLiteral("Implicit Multiple Selection Search"));
        EXPECT_EQ(c().historyMenuTitleForContainers(k.entry), k.title);
        history.append(k.entry);
    }
    defaults().removeObjectForKey(QStringLiteral("Implicit Multiple Selection Search"));
    QMenu menu;
    c().populateHistoryMenu(&menu, history);
    ASSERT_EQ(menu.actions().size(), qsizetype(std::size(cases)));
    EXPECT_EQ(menu.actions().at(0)->text(), QStringLiteral("Alpha ∪ Beta"));
    // Choosing an entry selects its containers.
    menu.actions().at(0)->trigger();
    EXPECT_EQ(c().selectedLibraryItems()->count(), 2);
}

// With the player in the window, hiding the sidebar gives its room back: the window narrows
// and the picture keeps its size; showing it again widens the window by as much. While a
// name is typed in the sidebar, a request to hide it is dropped.
TEST_F(MainWindowTest, TheSidebarBesideThePlayerChangesTheWindowNotThePicture)
{
    auto shelf = folder(QStringLiteral("Shelf"));
    putInLibrary({Value(shelf)});
    window->show();
    QWidget* container = window->playerContainerView();
    container->setVisible(true);
    QWidget picture(container); // where the movie view sits
    c().playerView = &picture;
    ASSERT_TRUE(c().playerIsInMainWindow());
    ASSERT_FALSE(window->sourceListContainer()->isHidden());
    const int width = window->width();
    const QSize area = container->size();

    c().toggleLibrary(nullptr);
    EXPECT_TRUE(window->sourceListContainer()->isHidden());
    EXPECT_TRUE(testsupport::waitUntil([&] { return window->width() < width; }));
    EXPECT_EQ(container->size(), area);
    c().toggleLibrary(nullptr);
    EXPECT_FALSE(window->sourceListContainer()->isHidden());
    EXPECT_TRUE(testsupport::waitUntil([&] { return window->width() == width; }));
    EXPECT_EQ(container->size(), area);

    // Renaming in the sidebar: the sidebar stays.
    PMMovieOutlineView* list = c().libraryListView;
    ASSERT_NE(list, nullptr);
    c().reloadInterfaceAfterLibraryUpdate();
    list->expandAll();
    list->setFocus();
    ASSERT_GE(list->rowForItem(Value(shelf)), 0);
    list->edit(list->indexAtRow(list->rowForItem(Value(shelf))));
    ASSERT_TRUE(list->isEditing());
    c().toggleLibrary(nullptr);
    EXPECT_FALSE(window->sourceListContainer()->isHidden());
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Hide Library")));
    c().playerView = nullptr;
}
