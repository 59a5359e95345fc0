// The preferences window: every control set from its setting, what switches, pop-ups,
// sliders and fields store, the toolbar, closing by key, the menu toggles, the missing-movies
// cycle, the viewer rules, and the switches that move files asking first.
#include "common/TestSupport.h"
#include "FocusSupport.h"
#include "library/maintenance/FilesFixture.h"

#include "library/model/PMCachedSettings.h"
#include "library/model/PMMainController.h"
#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "playback/PMExternalViewerWatch.h"
#include "ui/commands/PMPreferencesWindow.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/library_window/PMPreviewViewPrototype.h"
#include "ui/plist_editor/PMJSONTextView.h"

#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QToolBar>

#include <gtest/gtest.h>

#include <optional>

using platform::Array;
using platform::UserDefaults;
using platform::Value;
using testsupport::waitUntil;

namespace {

UserDefaults& defaults()
{
    return UserDefaults::standard();
}

using Switch = QPointer<QCheckBox> PMMainController::*;
using Selector = QPointer<QComboBox> PMMainController::*;

// Every plain switch with the setting it shows; `negative` settings show inverted.
struct SwitchCase {
    Switch outlet;
    const char* key;
    bool negative;
};
const SwitchCase kSwitches[] = {
    {&PMMainController::increaseConsecutiveStepsSwitch, "Increase Consecutive Steps", false},
    {&PMMainController::showFileExtensionsSwitch, "Show File Extensions", false},
    {&PMMainController::showItemCountsSwitch, "Hide Item Counts", true},
    {&PMMainController::includeITunesMoviesSwitch, "Ignore iTunes Movies", true},
    {&PMMainController::organizeLibrarySwitch, "Do Not Organize Library Folder", true},
    {&PMMainController::moveCopyToLibrarySwitch, "Move/Copy To Library", false},
    {&PMMainController::checkForNonLibraryFilesSwitch, "Do Not Check For Non-Library Files", true},
    {&PMMainController::confirmItemRemovalSwitch, "Delete Items Without Confirmation", true},
    {&PMMainController::confirmSmartGroupChildrenRemovalSwitch, "Delete Smart Group Children Without Confirmation", true},
    {&PMMainController::confirmContainerRemovalSwitch, "Delete Containers Without Confirmation", true},
    {&PMMainController::forgetOnQuitSwitch, "Do Not Forget Playlist On Quit", true},
    {&PMMainController::playOnOpenSwitch, "Do Not Play On Open", true},
    {&PMMainController::playOnPresentSwitch, "Do Not Play On Present", true},
    {&PMMainController::presentationSpaceSwitch, "Present On Separate Space", false},
    {&PMMainController::continueSwitch, "Do Not Continue With Next Group Movie", true},
    {&PMMainController::continueByMonitoringExternalViewerSwitch, "Continue: Monitor External Viewer", false},
    {&PMMainController::indexImageOnHoverSwitch, "Cycle Through Index Image On Hover", false},
    {&PMMainController::pauseOnWindowSwitch, "Pause On Window", false},
    {&PMMainController::quitOnCloseSwitch, "Quit On Close", false},
    {&PMMainController::showOnStartupSwitch, "Do Not Show Window On Startup", true},
    {&PMMainController::showRemoteControlInterfaceOnStartupSwitch, "Show Remote Control Interface On Startup", false},
    {&PMMainController::listenToRemoteSwitch, "Do Not Listen To Remote Control", true},
    {&PMMainController::remoteTriggersPresentationSwitch, "Remote Does Not Trigger Presentation", true},
    {&PMMainController::remoteControlInterfaceAnimationSwitch, "Do Not Animate Remote Control Interface", true},
    {&PMMainController::useSequencePrefixAsDefaultIdentifierSwitch, "Batch Rename Sequences Fall Back To Prefix Identifier", false},
    {&PMMainController::dedicatedPlayerWindowSwitch, "Single Window Mode", true},
};

// Pop-ups: the setting, a value to store, and the tag (or index) that must show.
struct SelectorCase {
    Selector outlet;
    const char* key;
    long long stored;
    int expectedTag;
    bool byIndex;
};
const SelectorCase kSelectors[] = {
    {&PMMainController::resumeDurationThresholdSelector, "Resume: Duration Threshold", 600, 600, false},
    {&PMMainController::resumeTimestampLimitSelector, "Resume: Timestamp Limit", 3600, 3600, false},
    {&PMMainController::listFontSizeSelector, "List Font Size", 2, 2, false},
    {&PMMainController::libraryDisplayModeSelector, "Source List Display Mode", 1, 1, false},
    {&PMMainController::itemCountModeSelector, "Item Count Mode", 4, 4, false},
    {&PMMainController::thumbnailAppearanceSelector, "Thumbnail Appearance", 0, 0, false},
    {&PMMainController::singleClickBehaviorSelector, "Preview Single-Click Behavior", 2, 2, false},
    {&PMMainController::continueModeSelector, "Continue: Mode", 2, 2, false},
    {&PMMainController::presentationModeSelector, "Presentation Mode", 1, 1, true},
    {&PMMainController::missingMoviesBehaviorSelector, "Missing Movies Mode", -1, -1, false},
    {&PMMainController::moveCopyToLibrarySelector, "Move/Copy To Library Mode", 1, 1, true},
    {&PMMainController::nestedGroupsPositionSelector, "Subgroup Previews Position", 1, 1, true},
};

class PreferencesTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        closeWindow();
    }
    void TearDown() override
    {
        closeWindow();
        PMCachedSettings::determineNamesAutomatically = false;
        PMCachedSettings::convertAnimatedImagesToMovies = true;
        FilesTest::TearDown();
    }
    // The window is built afresh, reading the settings again.
    static PMPreferencesWindow* open()
    {
        c().showPreferences(nullptr);
        return c().preferencesWindow;
    }
    static void closeWindow() { delete c().preferencesWindow.data(); }
    static QCheckBox* sw(Switch outlet) { return c().*outlet; }
    static QComboBox* sel(Selector outlet) { return c().*outlet; }
};

// ---- every control shows its setting ----

TEST_F(PreferencesTest, EveryControlShowsItsSettingWhenTheWindowIsBuilt)
{
    // Twice: with every switch's setting on, then off; a switch worded in the negative
    // shows the inverse.
    for (const bool value : {true, false}) {
        for (const SwitchCase& s : kSwitches)
            defaults().setBool(value, QString::fromUtf8(s.key));
        open();
        for (const SwitchCase& s : kSwitches) {
            ASSERT_NE(sw(s.outlet), nullptr) << s.key;
            EXPECT_EQ(sw(s.outlet)->isChecked(), s.negative ? !value : value) << s.key << " stored " << value;
        }
        closeWindow();
    }

    for (const SelectorCase& s : kSelectors)
        defaults().setInteger(s.stored, QString::fromUtf8(s.key));
    defaults().setBool(true, QStringLiteral("Include Non-Library Files Without Prompt"));
    defaults().setBool(false, QStringLiteral("Load Frame Images"));
    defaults().setBool(true, QStringLiteral("Rotate Counterclockwise"));
    defaults().setInteger(0, QStringLiteral("Window Vanish Interval"));
    defaults().setInteger(7, QStringLiteral("Step Interval"));
    defaults().setDouble(1.0, QStringLiteral("Cycle Through Index Image On Hover: Delay"));
    defaults().setObject(Value(Array::make({Value(QStringLiteral("mov")), Value(QStringLiteral("mkv"))})), QStringLiteral("Whitelist"));
    defaults().setObject(Value(QStringLiteral("<?meta:Title?>")), QStringLiteral("Determine Names Automatically: Pattern"));
    PMCachedSettings::determineNamesAutomatically = true;
    // Showing the settings changes none of them (only the window's own place is kept).
    const auto settingsText = [] {
        platform::DictionaryPtr settings = defaults().persistentDomain();
        QStringList lines;
        for (const QString& key : settings->keys())
            if (key != PMPreferencesWindow::paneKey() && key != PMPreferencesWindow::frameKey())
                lines << key + QStringLiteral(" = ") + platform::describe(settings->value(key));
        lines.sort();
        return lines;
    };
    const QStringList before = settingsText();
    PMPreferencesWindow* window = open();
    EXPECT_EQ(settingsText(), before);
    for (const SelectorCase& s : kSelectors) {
        QComboBox* box = sel(s.outlet);
        ASSERT_NE(box, nullptr) << s.key;
        if (s.byIndex)
            EXPECT_EQ(box->currentIndex(), s.expectedTag) << s.key;
        else
            EXPECT_EQ(box->currentData().toInt(), s.expectedTag) << s.key;
    }
    EXPECT_EQ(c().nonLibraryFilesProcedureSelector->currentData().toInt(), 1);
    EXPECT_EQ(c().previewModeSelector->currentData().toInt(), 0);
    EXPECT_TRUE(c().previewFrameTimeSlider->parentWidget()->isHidden()) << "no frame time without frame images";
    EXPECT_TRUE(c().rotateCounterclockwiseButton->isChecked());
    EXPECT_FALSE(c().rotateClockwiseButton->isChecked());
    EXPECT_EQ(c().controlIntervalField->text(), QStringLiteral("5")) << "below 1 shows the 5 in force";
    EXPECT_EQ(c().stepIntervalField->text(), QStringLiteral("7"));
    EXPECT_EQ(c().indexImageOnHoverDelayField->text(), QStringLiteral("1 second"));
    EXPECT_EQ(c().supportedFileExtensionsField->text(), QStringLiteral("mov mkv"));
    EXPECT_EQ(c().autoNameField->text(), QStringLiteral("<?meta:Title?>"));
    EXPECT_TRUE(c().autoNameSwitch->isChecked());
    EXPECT_TRUE(c().autoNameField->isEnabled());
    EXPECT_EQ(c().libraryLocationField->toolTip(), m_library);
    // A library moved elsewhere shows there.
    const QString elsewhere = testsupport::makeTempDir(QStringLiteral("elsewhere"));
    setDefault(QStringLiteral("Library Path"), elsewhere);
    EXPECT_TRUE(waitUntil([&] { return c().libraryLocationField->toolTip() == elsewhere; }));
    EXPECT_EQ(c().viewerRulesTextView->string(), PMBuiltInViewerRules());
    // No pop-up of the window is left without a selection.
    for (QComboBox* box : window->findChildren<QComboBox*>()) {
        EXPECT_GE(box->currentIndex(), 0) << box->itemText(0).toStdString();
        if (box->currentIndex() >= 0) {
            EXPECT_TRUE(box->model()->flags(box->model()->index(box->currentIndex(), 0)) & Qt::ItemIsEnabled) << box->currentText().toStdString();
        }
    }
    // Opening it again reads nothing again.
    defaults().setBool(false, QStringLiteral("Quit On Close"));
    c().quitOnCloseSwitch->setChecked(true);
    EXPECT_EQ(open(), window);
    EXPECT_TRUE(c().quitOnCloseSwitch->isChecked());
}

TEST_F(PreferencesTest, ClickingASwitchStoresItsSettingInvertedWhenWordedInTheNegative)
{
    for (const SwitchCase& s : kSwitches)
        defaults().removeObjectForKey(QString::fromUtf8(s.key));
    open();
    for (const SwitchCase& s : kSwitches) {
        // These two move files and ask first: tested below.
        if (s.outlet == &PMMainController::organizeLibrarySwitch || s.outlet == &PMMainController::moveCopyToLibrarySwitch)
            continue;
        QCheckBox* box = sw(s.outlet);
        for (int round = 0; round < 2; ++round) {
            box->click();
            EXPECT_EQ(defaults().boolForKey(QString::fromUtf8(s.key)), s.negative ? !box->isChecked() : box->isChecked())
                << s.key << " shown " << box->isChecked();
        }
    }
    // Switches that enable or show what depends on them.
    c().showItemCountsSwitch->setChecked(true);
    c().showItemCountsSwitch->click();
    EXPECT_FALSE(c().itemCountModeSelector->isEnabled());
    c().checkForNonLibraryFilesSwitch->setChecked(true);
    c().checkForNonLibraryFilesSwitch->click();
    EXPECT_FALSE(c().nonLibraryFilesProcedureSelector->isEnabled());
    c().indexImageOnHoverSwitch->setChecked(true);
    c().indexImageOnHoverSwitch->click();
    EXPECT_TRUE(c().indexImageOnHoverDelaySlider->parentWidget()->isHidden());
    // Without continuing, the monitoring of other applications has no say.
    c().continueSwitch->setChecked(true);
    c().continueSwitch->click();
    EXPECT_TRUE(c().continueByMonitoringExternalViewerSwitch->parentWidget()->isHidden());
    c().continueSwitch->click();
    EXPECT_FALSE(c().continueByMonitoringExternalViewerSwitch->parentWidget()->isHidden());
    // The player mode changed elsewhere (the menu) shows in its switch.
    c().setUseDedicatedPlayer(false);
    EXPECT_FALSE(c().dedicatedPlayerWindowSwitch->isChecked());
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Single Window Mode")));
    c().setUseDedicatedPlayer(true);
    EXPECT_TRUE(c().dedicatedPlayerWindowSwitch->isChecked());
    // The rotate buttons exclude each other.
    c().rotateCounterclockwiseButton->click();
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Rotate Counterclockwise")));
    EXPECT_FALSE(c().rotateClockwiseButton->isChecked());
    c().rotateClockwiseButton->click();
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Rotate Counterclockwise")));
    EXPECT_FALSE(c().rotateCounterclockwiseButton->isChecked());
}

TEST_F(PreferencesTest, NestedGroupsSwitchShowsAndStoresTheMixedState)
{
    defaults().setBool(true, QStringLiteral("Hide Subgroups In Preview Mode"));
    defaults().setBool(true, QStringLiteral("Hide Subgroups In Preview Mode: Flattened Only"));
    open();
    QCheckBox* box = c().showNestedGroupsSwitch;
    EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(c().nestedGroupsPositionSelector->isEnabled());
    const struct {
        Qt::CheckState state;
        bool hide;
        bool flattenedOnly;
        bool selectorEnabled;
    } steps[] = {{Qt::Checked, false, false, true}, {Qt::Unchecked, true, false, false}, {Qt::PartiallyChecked, true, true, true}};
    for (const auto& step : steps) {
        box->click();
        ASSERT_EQ(box->checkState(), step.state);
        EXPECT_EQ(defaults().boolForKey(QStringLiteral("Hide Subgroups In Preview Mode")), step.hide) << step.state;
        EXPECT_EQ(defaults().boolForKey(QStringLiteral("Hide Subgroups In Preview Mode: Flattened Only")), step.flattenedOnly) << step.state;
        EXPECT_EQ(c().nestedGroupsPositionSelector->isEnabled(), step.selectorEnabled) << step.state;
    }
    // Blending adds the third position.
    closeWindow();
    defaults().setBool(true, QStringLiteral("Subgroup Previews Position: Allow Blending"));
    defaults().setInteger(2, QStringLiteral("Subgroup Previews Position"));
    open();
    EXPECT_EQ(c().nestedGroupsPositionSelector->count(), 3);
    EXPECT_EQ(c().nestedGroupsPositionSelector->currentIndex(), 2);
}

// ---- the window ----

TEST_F(PreferencesTest, TheToolbarSwitchesPanesAndCannotBeHidden)
{
    PMPreferencesWindow* window = open();
    QToolBar* toolbar = window->toolbar();
    EXPECT_EQ(window->identifiers(), PMMainController::preferencesToolbarIdentifiers());
    EXPECT_EQ(window->selectedPane(), QStringLiteral("General"));
    // Every item has a picture, from the desktop's theme or our own when there is none.
    for (QAction* item : toolbar->actions())
        EXPECT_FALSE(item->icon().isNull()) << item->text().toStdString();
    EXPECT_FALSE(window->respondsToToggleToolbarShown());
    const int beeps = platform::beepCount();
    window->toggleToolbarShown();
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_TRUE(toolbar->isVisible());
    EXPECT_FALSE(toolbar->isMovable());
    EXPECT_FALSE(toolbar->toggleViewAction()->isEnabled());
    EXPECT_EQ(toolbar->contextMenuPolicy(), Qt::PreventContextMenu);

    // One item checked at a time; the pane shown is remembered for the next window.
    window->toolbarItem(QStringLiteral("Library"))->trigger();
    EXPECT_EQ(window->tabView()->currentWidget()->objectName(), QStringLiteral("Library"));
    int checked = 0;
    for (QAction* item : toolbar->actions())
        checked += item->isChecked() ? 1 : 0;
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(window->toolbarItem(QStringLiteral("Library"))->isChecked());
    EXPECT_EQ(window->toolbarItem(QStringLiteral("iLife"))->text(), QStringLiteral("External Media"));
    // So is where the window was left.
    window->move(40, 50);
    ASSERT_TRUE(waitUntil([&] { return window->pos() == QPoint(40, 50); }));
    closeWindow();
    window = open();
    EXPECT_EQ(window->selectedPane(), QStringLiteral("Library"));
    EXPECT_EQ(window->pos(), QPoint(40, 50));
}

TEST_F(PreferencesTest, EscapeAndCtrlPeriodCloseTheWindowFromAField)
{
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } keys[] = {{Qt::Key_Escape, Qt::NoModifier}, {Qt::Key_Period, Qt::ControlModifier}};
    for (const auto& k : keys) {
        PMPreferencesWindow* window = open();
        window->toolbarItem(QStringLiteral("Controls"))->trigger();
        ASSERT_TRUE(testsupport::giveKeysTo(c().stepIntervalField));
        QTest::keyClick(c().stepIntervalField, k.key, k.modifiers);
        EXPECT_TRUE(waitUntil([&] { return !window->isVisible(); })) << k.key;
        EXPECT_EQ(c().stepIntervalField->text(), QString::number(c().stepInterval())) << "the key typed nothing";
    }
    // A plain period is typed.
    open();
    ASSERT_TRUE(testsupport::giveKeysTo(c().sortPrefixesField));
    c().sortPrefixesField->clear();
    QTest::keyClick(c().sortPrefixesField, Qt::Key_Period);
    EXPECT_TRUE(c().preferencesWindow->isVisible());
    EXPECT_EQ(c().sortPrefixesField->text(), QStringLiteral("."));
}

// ---- sliders, pop-ups, fields ----

TEST_F(PreferencesTest, CoverPositionSnapsToItsEndsAndItsMiddle)
{
    open();
    const struct {
        double released;
        double stored;
    } cases[] = {{0.52, 0.5}, {0.97, 1.0}, {0.03, 0.0}, {0.3, 0.3}, {0.44, 0.44}, {0.46, 0.5}};
    for (const auto& t : cases) {
        c().previewCoverPositionSlider->setDoubleValue(t.released);
        EXPECT_DOUBLE_EQ(defaults().doubleForKey(QStringLiteral("Cover Overlay Position")), t.stored) << t.released;
        EXPECT_DOUBLE_EQ(c().previewCoverPositionSlider->doubleValue(), t.stored) << t.released;
    }
    // The delay's read-out follows its slider.
    c().indexImageOnHoverDelaySlider->setDoubleValue(2.5);
    EXPECT_EQ(c().indexImageOnHoverDelayField->text(), QStringLiteral("2.5 seconds"));
    EXPECT_DOUBLE_EQ(defaults().doubleForKey(QStringLiteral("Cycle Through Index Image On Hover: Delay")), 2.5);
    c().previewFrameTimeSlider->setDoubleValue(0.25);
    EXPECT_EQ(c().previewFrameTimeField->text(), QStringLiteral("25%"));
}

TEST_F(PreferencesTest, IntervalFieldsStoreWhenEditingEndsWithOneAsTheLeast)
{
    open();
    c().preferencesWindow->toolbarItem(QStringLiteral("Controls"))->trigger();
    QLineEdit* field = c().stepIntervalField;
    defaults().setInteger(10, QStringLiteral("Step Interval"));
    ASSERT_TRUE(testsupport::giveKeysTo(field));
    const struct {
        const char* typed;
        long long stored;
        const char* shown;
        bool beeps; // the typed value was not taken as it stands
    } cases[] = {{"12", 12, "12", false}, {"0", 1, "1", true}, {"-3", 1, "1", true}, {"seven", 1, "1", true}, {"30", 30, "30", false}};
    for (const auto& t : cases) {
        field->selectAll();
        const int beeps = platform::beepCount();
        const long long before = defaults().integerForKey(QStringLiteral("Step Interval"));
        // Digit by digit: nothing is stored or rewritten while typing.
        for (const char ch : QByteArray(t.typed)) {
            QTest::keyClicks(field, QString(QChar(ch)));
            EXPECT_EQ(defaults().integerForKey(QStringLiteral("Step Interval")), before);
        }
        EXPECT_EQ(field->text(), QString::fromUtf8(t.typed));
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(defaults().integerForKey(QStringLiteral("Step Interval")), t.stored) << t.typed;
        EXPECT_EQ(field->text(), QString::fromUtf8(t.shown)) << t.typed;
        EXPECT_EQ(platform::beepCount(), beeps + (t.beeps ? 1 : 0)) << t.typed;
    }
}

TEST_F(PreferencesTest, TheHoverDelayReadOutShowsTheDelayTheTilesUse)
{
    const struct {
        std::optional<double> stored;
        const char* shown;
    } cases[] = {{std::nullopt, "2 seconds"}, {0.0, "0.1 seconds"}, {-2.0, "0.1 seconds"}, {0.05, "0.1 seconds"}, {2.5, "2.5 seconds"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.stored ? *k.stored : -1000);
        if (k.stored)
            defaults().setDouble(*k.stored, QStringLiteral("Cycle Through Index Image On Hover: Delay"));
        else
            defaults().removeObjectForKey(QStringLiteral("Cycle Through Index Image On Hover: Delay"));
        open();
        EXPECT_EQ(c().indexImageOnHoverDelayField->text(), QString::fromUtf8(k.shown));
        EXPECT_NEAR(c().indexImageOnHoverDelaySlider->doubleValue(), PMMovieTileHover::delay(), 0.051);
        closeWindow();
    }
}

TEST_F(PreferencesTest, AutomaticNamesCanBeSwitchedOnInTheWindow)
{
    // Never set before: the switch is there all the same, beside the prefix fallback.
    defaults().removeObjectForKey(QStringLiteral("Determine Names Automatically"));
    PMPreferencesWindow* window = open();
    window->toolbarItem(QStringLiteral("Library"))->trigger();
    EXPECT_TRUE(c().autoNameSwitch->isVisibleTo(window));
    EXPECT_TRUE(c().useSequencePrefixAsDefaultIdentifierSwitch->isVisibleTo(window));
    EXPECT_FALSE(c().autoNameSwitch->isChecked());
    c().autoNameSwitch->click();
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Determine Names Automatically")));
    EXPECT_TRUE(PMCachedSettings::determineNamesAutomatically);
    EXPECT_TRUE(c().autoNameField->isEnabled());
}

TEST_F(PreferencesTest, PopUpsStoreTheirTagOrIndex)
{
    open();
    for (const SelectorCase& s : kSelectors) {
        QComboBox* box = sel(s.outlet);
        const int index = s.byIndex ? s.expectedTag : box->findData(QVariant::fromValue(s.expectedTag));
        ASSERT_GE(index, 0) << s.key;
        box->setCurrentIndex(index);
        Q_EMIT box->activated(index);
        EXPECT_EQ(defaults().integerForKey(QString::fromUtf8(s.key)), s.stored) << s.key;
    }
    // The mode selector only stores the mode: no file moves and nobody is asked.
    EXPECT_TRUE(m_alerts.isEmpty());
    const int frames = c().previewModeSelector->findData(QVariant::fromValue(1));
    c().previewModeSelector->setCurrentIndex(frames);
    Q_EMIT c().previewModeSelector->activated(frames);
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Load Frame Images")));
    EXPECT_FALSE(c().previewFrameTimeSlider->parentWidget()->isHidden());
}

TEST_F(PreferencesTest, CostlyFieldsApplyAfterAPause)
{
    open();
    c().preferencesWindow->toolbarItem(QStringLiteral("Advanced"))->trigger();
    ASSERT_TRUE(testsupport::giveKeysTo(c().supportedFileExtensionsField));
    QTest::keyClicks(c().supportedFileExtensionsField, QStringLiteral("mov   mkv"));
    EXPECT_TRUE(defaults().objectForKey(QStringLiteral("Whitelist")).isNull()) << "not per keystroke";
    ASSERT_TRUE(waitUntil([] { return !defaults().objectForKey(QStringLiteral("Whitelist")).isNull(); }, 10000));
    EXPECT_EQ(defaults().objectForKey(QStringLiteral("Whitelist")),
              Value(Array::make({Value(QStringLiteral("mov")), Value(QStringLiteral("mkv"))})));
    // No words: the setting goes.
    c().supportedFileExtensionsField->selectAll();
    QTest::keyClick(c().supportedFileExtensionsField, Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([] { return defaults().objectForKey(QStringLiteral("Whitelist")).isNull(); }, 10000));
}

// ---- menu toggles and the missing-movies cycle ----

TEST_F(PreferencesTest, AMenuToggleWithTagMinusOneRemovesAStoredFalse)
{
    const QString key = QStringLiteral("Mosaic: Expand Last Row");
    const struct {
        std::optional<bool> before;
        int tag;
        std::optional<bool> after; // nullopt: removed
    } cases[] = {{false, -1, std::nullopt}, {std::nullopt, -1, true}, {true, -1, false}, {false, 0, true}, {true, 0, false}};
    for (const auto& t : cases) {
        if (t.before)
            defaults().setBool(*t.before, key);
        else
            defaults().removeObjectForKey(key);
        QAction item;
        platform::setMenuItemRepresentedObject(&item, Value(key));
        platform::setMenuItemTag(&item, t.tag);
        c().toggleBooleanPreferenceViaMenuItem(&item);
        if (t.after)
            EXPECT_EQ(defaults().objectForKey(key), Value(*t.after)) << t.tag;
        else
            EXPECT_FALSE(defaults().hasPersistentValueForKey(key)) << t.tag;
    }
}

TEST_F(PreferencesTest, TheMissingMoviesCommandCyclesAndTheSelectorFollows)
{
    defaults().setInteger(0, QStringLiteral("Missing Movies Mode"));
    open();
    for (const long long expected : {-1, 1, 0, -1}) {
        c().setMissingMoviesModeFromMenuItem();
        EXPECT_EQ(defaults().integerForKey(QStringLiteral("Missing Movies Mode")), expected);
        EXPECT_EQ(c().missingMoviesBehaviorSelector->currentData().toInt(), expected);
    }
}

// ---- viewer rules ----

TEST(ViewerRules, OnlyListsOfPatternAndOpenRulesAreValid)
{
    const auto parse = [](const char* json) { return PMJSONTextView::objectValueFromString(QString::fromUtf8(json), nullptr); };
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {R"([{"Match": "\\.mkv$", "Open": "vlc.desktop"}])", true},
        {R"([{"Extensions": "mkv avi", "Open": "vlc.desktop"}])", true},
        {R"([{"Match": "\\.mkv$", "Open": "vlc.desktop", "Note": "x"}])", false},     // three keys
        {R"([{"Match": "\\.mkv$", "Extensions": "mkv"}])", false},                      // no "Open"
        {R"([{"Match": "(unclosed", "Open": "vlc.desktop"}])", false},                 // bad regex
        {R"([{"Match": "   ", "Open": "vlc.desktop"}])", false},                        // empty pattern
        {R"([{"Match": "\\.mkv$", "Open": "  "}])", false},                             // empty application
        {R"([{"Match": 5, "Open": "vlc.desktop"}])", false},
        {R"([])", true}, // no rules
        {R"({"Match": "x", "Open": "y"})", false},
        {R"([{"Match": "a", "Open": "b"}, "loose"])", false},
    };
    for (const auto& t : cases)
        EXPECT_EQ(PMMainController::viewerRulesAreValid(parse(t.text)), t.valid) << t.text;
}

TEST_F(PreferencesTest, ViewerRulesAreStoredAndClearingThemRestoresTheBuiltInRules)
{
    open();
    c().preferencesWindow->toolbarItem(QStringLiteral("Advanced"))->trigger();
    PMJSONTextView* view = c().viewerRulesTextView;
    ASSERT_TRUE(testsupport::giveKeysTo(view));
    view->selectAll();
    QTest::keyClicks(view, QStringLiteral(R"([{"Match": "\\.mkv$", "Open": "vlc.desktop"}])"));
    ASSERT_TRUE(waitUntil([] { return !defaults().stringForKey(QStringLiteral("Viewer Rules")).isEmpty() && c()._viewerRules && *c()._viewerRules; }));
    EXPECT_EQ(c().viewerRules()->count(), 1);
    // Invalid text is kept (nothing typed is lost) but no rules apply.
    QTest::keyClick(view, Qt::Key_Backspace);
    ASSERT_TRUE(waitUntil([] { return c()._viewerRules && !*c()._viewerRules; }));
    EXPECT_EQ(c().viewerRules(), nullptr);
    // Empty: the setting goes and the built-in rules show again.
    view->selectAll();
    QTest::keyClick(view, Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([&] { return view->string() == PMBuiltInViewerRules(); }));
    EXPECT_FALSE(defaults().hasPersistentValueForKey(QStringLiteral("Viewer Rules")));
}

TEST_F(PreferencesTest, AViewerRulesSettingTooLargeToShowIsRefusedAndLeftAsStored)
{
    // Laying out such a text held the window for most of a minute when the window opened.
    const QString huge(PMJSONTextView::kMaximumPasteSize + 1, u'x');
    defaults().setObject(Value(huge), QStringLiteral("Viewer Rules"));
    open();
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].messageText, QStringLiteral("The text is too large to paste."));
    EXPECT_LE(c().viewerRulesTextView->string().size(), PMJSONTextView::kMaximumPasteSize);
    EXPECT_TRUE(defaults().stringForKey(QStringLiteral("Viewer Rules")) == huge);
}

// ---- switches that move files ----

TEST_F(PreferencesTest, DecliningTheOrganiseSwitchLeavesEveryFileInPlace)
{
    const auto holiday = fileMovie(m_library + QStringLiteral("/loose/Holiday.mov"), "holiday");
    const auto far = fileMovie(m_outside + QStringLiteral("/far.mov"), "far");
    const auto trips = folder(QStringLiteral("Trips"), {v(holiday)});
    library({v(trips), v(far)});
    defaults().setBool(true, QStringLiteral("Do Not Organize Library Folder"));
    const QStringList before = filesBelow(m_library);
    open();

    m_answers = {1}; // Cancel
    c().organizeLibrarySwitch->click();
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts[0].informativeText.contains(QStringLiteral("Holiday")));
    EXPECT_FALSE(c().organizeLibrarySwitch->isChecked());
    EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Do Not Organize Library Folder")));
    EXPECT_EQ(filesBelow(m_library), before);
    EXPECT_EQ(holiday->path(), m_library + QStringLiteral("/loose/Holiday.mov"));

    m_answers = {1};
    c().moveCopyToLibrarySwitch->click();
    EXPECT_EQ(m_alerts.size(), 2);
    EXPECT_FALSE(c().moveCopyToLibrarySwitch->isChecked());
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Move/Copy To Library")));
    EXPECT_EQ(far->path(), m_outside + QStringLiteral("/far.mov"));
    EXPECT_EQ(filesBelow(m_library), before);

    // Agreed: organised at once.
    m_answers = {0};
    c().organizeLibrarySwitch->click();
    EXPECT_TRUE(c().organizeLibrarySwitch->isChecked());
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Do Not Organize Library Folder")));
    EXPECT_EQ(holiday->path(), m_library + QStringLiteral("/Trips/Holiday.mov"));
    EXPECT_EQ(testsupport::readFile(holiday->path()), QByteArray("holiday"));
}

} // namespace
