// The preferences window's panes and controls, and what each control does: it stores its
// setting and applies it at once (a refresh, a library update, organising, moving files).
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMExternalViewerWatch.h"
#include "playback/PMRemoteInterfaceWindow.h"
#include "ui/commands/PMSparkleWrapper.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMPreferencesWindow.h"
#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/PMOptionalMenuButton.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMMovieOutlineView.h"
#include "ui/library_window/PMPreviewViewPrototype.h"
#include "ui/plist_editor/PMJSONTextView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRegularExpression>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::UserDefaults;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

UserDefaults& store()
{
    return UserDefaults::standard();
}

// Which object a settings row reads and writes.
using SwitchOutlet = QPointer<QCheckBox> PMMainController::*;
using SelectorOutlet = QPointer<QComboBox> PMMainController::*;

// A switch that shows one boolean setting. Settings worded in the negative ("Do Not ...",
// "Ignore ...", "Hide ...", "... Without Confirmation") show the inverse.
struct BooleanRow {
    SwitchOutlet outlet;
    const char* key;
};

bool isNegativelyWorded(const QString& key)
{
    return key.startsWith(QLatin1String("Do Not ")) || key.startsWith(QLatin1String("Ignore ")) || key.startsWith(QLatin1String("Hide "))
        || key.endsWith(QLatin1String("Without Confirmation")) || key == QLatin1String("Remote Does Not Trigger Presentation");
}

// The plain switches: their setting is the switch's state (inverted when negative).
const BooleanRow kBooleanRows[] = {
    {&PMMainController::increaseConsecutiveStepsSwitch, "Increase Consecutive Steps"},
    {&PMMainController::showFileExtensionsSwitch, "Show File Extensions"},
    {&PMMainController::showItemCountsSwitch, "Hide Item Counts"},
    {&PMMainController::includeITunesMoviesSwitch, "Ignore iTunes Movies"},
    {&PMMainController::organizeLibrarySwitch, "Do Not Organize Library Folder"},
    {&PMMainController::moveCopyToLibrarySwitch, "Move/Copy To Library"},
    {&PMMainController::checkForNonLibraryFilesSwitch, "Do Not Check For Non-Library Files"},
    {&PMMainController::confirmItemRemovalSwitch, "Delete Items Without Confirmation"},
    {&PMMainController::confirmSmartGroupChildrenRemovalSwitch, "Delete Smart Group Children Without Confirmation"},
    {&PMMainController::confirmContainerRemovalSwitch, "Delete Containers Without Confirmation"},
    {&PMMainController::forgetOnQuitSwitch, "Do Not Forget Playlist On Quit"},
    {&PMMainController::playOnOpenSwitch, "Do Not Play On Open"},
    {&PMMainController::playOnPresentSwitch, "Do Not Play On Present"},
    {&PMMainController::presentationSpaceSwitch, "Present On Separate Space"},
    {&PMMainController::continueSwitch, "Do Not Continue With Next Group Movie"},
    {&PMMainController::continueByMonitoringExternalViewerSwitch, "Continue: Monitor External Viewer"},
    {&PMMainController::indexImageOnHoverSwitch, "Cycle Through Index Image On Hover"},
    {&PMMainController::pauseOnWindowSwitch, "Pause On Window"},
    {&PMMainController::quitOnCloseSwitch, "Quit On Close"},
    {&PMMainController::showOnStartupSwitch, "Do Not Show Window On Startup"},
    {&PMMainController::showRemoteControlInterfaceOnStartupSwitch, "Show Remote Control Interface On Startup"},
    {&PMMainController::listenToRemoteSwitch, "Do Not Listen To Remote Control"},
    {&PMMainController::remoteTriggersPresentationSwitch, "Remote Does Not Trigger Presentation"},
    {&PMMainController::remoteControlInterfaceAnimationSwitch, "Do Not Animate Remote Control Interface"},
    {&PMMainController::autoConvertAnimatedImagesSwitch, "Convert Animated Images To Movies"},
    {&PMMainController::useSequencePrefixAsDefaultIdentifierSwitch, "Batch Rename Sequences Fall Back To Prefix Identifier"},
    {&PMMainController::autoNameSwitch, "Determine Names Automatically"},
};

// A pop-up button's items (title, tag) and the setting it shows: by the selected item's tag,
// or by its index.
struct SelectorRow {
    SelectorOutlet outlet;
    const char* key; // nullptr: the selector is set by code of its own
    bool byIndex;
    std::vector<std::pair<const char*, int>> items;
};

const std::vector<SelectorRow>& selectorRows()
{
    static const std::vector<SelectorRow> rows = {
        {&PMMainController::resumeDurationThresholdSelector, "Resume: Duration Threshold", false,
         {{"movies of any length", 0}, {"movies longer than 1 minute", 60}, {"movies longer than 5 minutes", 300},
          {"movies longer than 10 minutes", 600}, {"movies longer than 30 minutes", 1800}}},
        {&PMMainController::resumeTimestampLimitSelector, "Resume: Timestamp Limit", false,
         {{"never", 0}, {"after 1 hour", 3600}, {"after 1 day", 86400}, {"after 2 days", 172800}, {"after 1 week", 604800},
          {"after 30 days", 2592000}}},
        {&PMMainController::listFontSizeSelector, "List Font Size", false, {{"System Default", 0}, {"Small", 1}, {"Large", 2}}},
        {&PMMainController::libraryDisplayModeSelector, "Source List Display Mode", false,
         {{"Groups, and movies of temporary items", 0}, {"Groups and movies", 1}, {"Groups only", 2}}},
        {&PMMainController::itemCountModeSelector, "Item Count Mode", false,
         {{"All movies inside", 0}, {"Movies", 1}, {"Movies and subgroups", 2}, {"Unwatched movies inside", 3}, {"Unwatched movies", 4}}},
        {&PMMainController::thumbnailAppearanceSelector, "Thumbnail Appearance", false, {{"Follow the desktop", 0}, {"Always dark", 1}}},
        {&PMMainController::nestedGroupsPositionSelector, nullptr, true, {{"before movies", 0}, {"after movies", 1}}},
        {&PMMainController::previewModeSelector, nullptr, false, {{"Index images", 0}, {"Frames of the movie", 1}}},
        {&PMMainController::singleClickBehaviorSelector, "Preview Single-Click Behavior", false,
         {{"Plays the movie", 0}, {"Selects the tile", 1}, {"Adds the tile to the selection", 2}}},
        {&PMMainController::continueModeSelector, "Continue: Mode", false,
         {{"stop after the last movie", 0}, {"start again with the first movie", 1}, {"go on into subgroups", 2}}},
        {&PMMainController::presentationModeSelector, nullptr, true, {{"Fit to Screen", 0}, {"Fill Screen", 1}}},
        {&PMMainController::missingMoviesBehaviorSelector, nullptr, false,
         {{"Hide them", -1}, {"Show them", 0}, {"Show them, also those of drives not attached", 1}}},
        {&PMMainController::moveCopyToLibrarySelector, nullptr, true, {{"Move", 0}, {"Copy", 1}}},
        {&PMMainController::nonLibraryFilesProcedureSelector, nullptr, false, {{"ask before adding them", 0}, {"add them without asking", 1}}},
    };
    return rows;
}

// Selects the item with the tag; a tag no item has selects nothing.
void selectItemWithTag(QComboBox* selector, long long tag)
{
    if (!selector)
        return;
    const QSignalBlocker blocker(selector);
    selector->setCurrentIndex(selector->findData(QVariant::fromValue(int(tag))));
}

void selectItemAtIndex(QComboBox* selector, long long index)
{
    if (selector && index >= 0 && index < selector->count()) {
        const QSignalBlocker blocker(selector);
        selector->setCurrentIndex(int(index));
    }
}

int selectedTag(QComboBox* selector)
{
    return selector->currentData().toInt();
}

void setChecked(QAbstractButton* button, bool on)
{
    if (!button)
        return;
    const QSignalBlocker blocker(button);
    button->setChecked(on);
}

void setRowVisible(QWidget* control, bool visible)
{
    if (control && control->parentWidget())
        control->parentWidget()->setVisible(visible);
}

// "1 second" or "%@ seconds" with the delay written with one fraction digit at most.
QString delayText(double seconds)
{
    QString text = QString::number(seconds, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text == QLatin1String("1") ? localized("1 second") : platform::format(localized("%@ seconds"), text);
}

QString percentText(double fraction)
{
    return QStringLiteral("%1%").arg(std::lround(fraction * 100));
}

// Snaps the cover caption position to its ends and to the middle.
double snappedCoverPosition(double value)
{
    if (value < 0.05)
        return 0.0;
    if (value > 0.95)
        return 1.0;
    if (std::abs(value - 0.5) < 0.05)
        return 0.5;
    return value;
}

// ---- building the panes ----

class PaneBuilder {
public:
    explicit PaneBuilder(QWidget* pane)
        : m_pane(pane)
        , m_layout(new QVBoxLayout(pane))
    {
        m_layout->setContentsMargins(20, 16, 20, 20);
        m_layout->setSpacing(6);
    }

    // A row: the label on the left (in one column for the pane), then the controls.
    QWidget* row(const QString& label, std::initializer_list<QWidget*> controls, bool stretch = true)
    {
        auto* row = new QWidget(m_pane);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* title = new QLabel(label, row);
        title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        title->setFixedWidth(210);
        layout->addWidget(title);
        for (QWidget* control : controls) {
            control->setParent(row);
            layout->addWidget(control);
        }
        if (stretch)
            layout->addStretch(1);
        m_layout->addWidget(row);
        return row;
    }

    QCheckBox* checkBox(const QString& title) { return new QCheckBox(platform::escapedMenuTitle(title), m_pane); }

    QComboBox* selector(SelectorOutlet outlet)
    {
        auto* box = new QComboBox(m_pane);
        for (const SelectorRow& r : selectorRows())
            if (r.outlet == outlet)
                for (const auto& [title, tag] : r.items)
                    box->addItem(localized(title), QVariant::fromValue(tag));
        return box;
    }

    void gap() { m_layout->addSpacing(10); }
    void finish() { m_layout->addStretch(1); }
    QVBoxLayout* layout() const { return m_layout; }

private:
    QWidget* m_pane;
    QVBoxLayout* m_layout;
};

// Validates and stores the viewer rules typed into the property-list editor.
class ViewerRulesValidator final : public PMJSONTextViewValidator {
public:
    bool validateObjectValue(const Value& value, PMJSONTextView*, Value* result) override
    {
        *result = PMMainController::viewerRulesAreValid(value) ? value : Value();
        return true;
    }
    void didChangeObjectValueForTextView(PMJSONTextView*) override { mainController().didChangeViewerRulesText(); }
};

// The library-location buttons open their menus at once.
class LibraryLocationMenus final : public PMOptionalMenuButtonDelegate {
public:
    QMenu* menuForOptionalMenuButton(PMOptionalMenuButton* button) override
    {
        PMMainController& c = mainController();
        if (!m_menu)
            m_menu = new QMenu(button);
        m_menu->clear();
        if (button == c.libraryLocationButton.data()) {
            m_menu->setTitle(localized("Library Location"));
            c.addLibraryLocationsToMenu(m_menu, false);
        } else if (button == c.supplementaryLibraryLocationsButton.data()) {
            m_menu->setTitle(localized("Supplementary Library Locations"));
            c.addSupplementaryLibraryLocationsToMenu(m_menu, false);
        } else {
            return nullptr;
        }
        return m_menu->isEmpty() ? nullptr : m_menu.data();
    }
    std::optional<bool> waitForMenuForOptionalMenuButton(PMOptionalMenuButton*) override { return false; }

private:
    QPointer<QMenu> m_menu;
};

LibraryLocationMenus& libraryLocationMenus()
{
    static LibraryLocationMenus menus;
    return menus;
}

// Without a remembered check there is no status to show: its rows give way.
void showUpdateStatusRows()
{
    PMSparkleWrapper& updates = PMSparkleWrapper::sharedSparkleWrapper();
    for (QLabel* label : {updates.statusTextField.data(), updates.statusDateTextField.data()})
        if (label)
            setRowVisible(label, !label->text().isEmpty());
}

ViewerRulesValidator& viewerRulesValidator()
{
    static ViewerRulesValidator validator;
    return validator;
}

// The rotation illustration: the refresh arrow in the text colour, mirrored for the other way.
QIcon rotationIllustration(bool counterclockwise, const QPalette& palette)
{
    QIcon base = QIcon::fromTheme(QStringLiteral("view-refresh"));
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!base.isNull()) {
            base.paint(&painter, QRect(0, 0, 48, 48));
        } else {
            painter.setPen(QPen(palette.color(QPalette::ButtonText), 4, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(QRectF(8, 8, 32, 32), 90 * 16, -300 * 16);
            QPolygonF head({QPointF(24, 1), QPointF(33, 8), QPointF(24, 15)});
            painter.setBrush(palette.color(QPalette::ButtonText));
            painter.drawPolygon(head);
        }
    }
    if (counterclockwise)
        pixmap = QPixmap::fromImage(pixmap.toImage().mirrored(true, false));
    return QIcon(pixmap);
}

} // namespace

// ---------------------------------------------------------------------------------------
// The window

QStringList PMMainController::preferencesToolbarIdentifiers()
{
    return {QStringLiteral("General"), QStringLiteral("Appearance"), QStringLiteral("Controls"), QStringLiteral("Library"),
            QStringLiteral("iLife"),   QStringLiteral("Advanced"),   QStringLiteral("Updates")};
}

void PMMainController::showPreferences(QObject*)
{
    if (PMRemoteInterfaceWindow::isVisible())
        PMRemoteInterfaceWindow::fadeOutAndClose();
    if (preferencesWindow) {
        // Already built: nothing is read again.
        showUpdateStatusRows();
        preferencesWindow->makeKeyAndOrderFront();
        updatePreferencesWindowFrame();
        return;
    }
    auto* window = new PMMainPreferencesWindow(nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    preferencesWindow = window;

    buildGeneralPreferencesPane(window);
    buildAppearancePreferencesPane(window);
    buildControlsPreferencesPane(window);
    buildLibraryPreferencesPane(window);
    buildExternalMediaPreferencesPane(window);
    buildAdvancedPreferencesPane(window);
    buildUpdatesPreferencesPane(window);
    preferencesTabView = window->tabView();
    connect(window, &PMPreferencesWindow::paneChosen, this, [this](const QString& identifier) { changePreferencesSection(identifier); });

    connectPreferenceControls();

    // The library folder shown follows a change made from its menu (or anywhere else).
    const std::uint64_t libraryPathObserver = store().addObserver(prefs::keys::LibraryPath, [this, window](const QString&) {
        QMetaObject::invokeMethod(
            window,
            [this] {
                if (libraryLocationField) {
                    libraryLocationField->setText(readablePathRepresentation(libraryPath()));
                    libraryLocationField->setToolTip(libraryPath());
                }
            },
            Qt::QueuedConnection);
    });
    connect(window, &QObject::destroyed, this, [libraryPathObserver] { store().removeObserver(libraryPathObserver); });

    window->setWindowTitle(localized("Preferences"));
    loadPreferenceControls();
    PMSparkleWrapper::sharedSparkleWrapper().updateControls();
    showUpdateStatusRows();
    const QString remembered = store().stringForKey(PMPreferencesWindow::paneKey());
    changePreferencesSection(preferencesToolbarIdentifiers().contains(remembered) ? remembered : QStringLiteral("General"));
    window->makeKeyAndOrderFront();
    updatePreferencesWindowFrame();
}

// The "General" pane.
void PMMainController::buildGeneralPreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    showOnStartupSwitch = b.checkBox(localized("Show the library window"));
    showRemoteControlInterfaceOnStartupSwitch = b.checkBox(localized("Show the remote control interface"));
    b.row(localized("At startup:"), {showOnStartupSwitch});
    b.row(QString(), {showRemoteControlInterfaceOnStartupSwitch});
    quitOnCloseSwitch = b.checkBox(localized("Quit when the last window closes"));
    b.row(localized("Windows:"), {quitOnCloseSwitch});
    b.gap();
    confirmItemRemovalSwitch = b.checkBox(localized("Movies and other items"));
    confirmSmartGroupChildrenRemovalSwitch = b.checkBox(localized("Items shown by smart groups"));
    confirmContainerRemovalSwitch = b.checkBox(localized("Playlists, folders and smart groups"));
    b.row(localized("Ask before deleting:"), {confirmItemRemovalSwitch});
    b.row(QString(), {confirmSmartGroupChildrenRemovalSwitch});
    b.row(QString(), {confirmContainerRemovalSwitch});
    b.gap();
    singleClickBehaviorSelector = b.selector(&PMMainController::singleClickBehaviorSelector);
    b.row(localized("A single click on a tile:"), {singleClickBehaviorSelector});
    downloadsContainerSelector = new QComboBox(pane);
    downloadsContainerSelector->setMinimumWidth(200);
    b.row(localized("Downloads go to:"), {downloadsContainerSelector});
    autoConvertAnimatedImagesSwitch = b.checkBox(localized("Convert animated images to movies"));
    b.row(localized("Animated images:"), {autoConvertAnimatedImagesSwitch});
    b.finish();
    window->addPane(QStringLiteral("General"), localized("General"), QStringLiteral("preferences-system"), u'G', pane);
}

// The "Appearance" pane.
void PMMainController::buildAppearancePreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    listFontSizeSelector = b.selector(&PMMainController::listFontSizeSelector);
    b.row(localized("List font size:"), {listFontSizeSelector});
    libraryDisplayModeSelector = b.selector(&PMMainController::libraryDisplayModeSelector);
    b.row(localized("The sidebar shows:"), {libraryDisplayModeSelector});
    showItemCountsSwitch = b.checkBox(localized("Show item counts of"));
    itemCountModeSelector = b.selector(&PMMainController::itemCountModeSelector);
    b.row(localized("Counts:"), {showItemCountsSwitch, itemCountModeSelector});
    showFileExtensionsSwitch = b.checkBox(localized("Show file name extensions"));
    b.row(localized("Names:"), {showFileExtensionsSwitch});
    b.gap();
    thumbnailAppearanceSelector = b.selector(&PMMainController::thumbnailAppearanceSelector);
    b.row(localized("Thumbnail background:"), {thumbnailAppearanceSelector});
    showNestedGroupsSwitch = b.checkBox(localized("Show subgroups in the grid,"));
    showNestedGroupsSwitch->setTristate(true);
    showNestedGroupsSwitch->setToolTip(localized("Mixed: only in flattened groups"));
    nestedGroupsPositionSelector = b.selector(&PMMainController::nestedGroupsPositionSelector);
    b.row(localized("Subgroups:"), {showNestedGroupsSwitch, nestedGroupsPositionSelector});
    previewSpacingSlider = new PMPreferenceSlider(0, 40, 1);
    b.row(localized("Thumbnail spacing:"), {previewSpacingSlider});
    previewCoverAlphaSlider = new PMPreferenceSlider(0, 1, 100);
    b.row(localized("Cover caption opacity:"), {previewCoverAlphaSlider});
    previewCoverPositionSlider = new PMPreferenceSlider(0, 1, 100);
    b.row(localized("Cover caption position:"), {previewCoverPositionSlider});
    b.gap();
    indexImageOnHoverSwitch = b.checkBox(localized("Cycle through the index image while the pointer rests on a tile"));
    b.row(localized("Hovering:"), {indexImageOnHoverSwitch});
    indexImageOnHoverDelaySlider = new PMPreferenceSlider(0.1, 5, 10);
    indexImageOnHoverDelayField = new QLabel;
    indexImageOnHoverDelayField->setMinimumWidth(80);
    b.row(localized("Start after:"), {indexImageOnHoverDelaySlider, indexImageOnHoverDelayField});
    previewModeSelector = b.selector(&PMMainController::previewModeSelector);
    b.row(localized("Thumbnails show:"), {previewModeSelector});
    previewFrameTimeSlider = new PMPreferenceSlider(0, 1, 100);
    previewFrameTimeField = new QLabel;
    previewFrameTimeField->setMinimumWidth(80);
    b.row(localized("Frame at:"), {previewFrameTimeSlider, previewFrameTimeField});
    for (PMPreferenceSlider* slider : {previewSpacingSlider.data(), previewCoverAlphaSlider.data(), previewCoverPositionSlider.data(),
                                       indexImageOnHoverDelaySlider.data(), previewFrameTimeSlider.data()})
        slider->setMinimumWidth(220);
    b.finish();
    window->addPane(QStringLiteral("Appearance"), localized("Appearance"), QStringLiteral("preferences-desktop-theme"), u'A', pane);
}

// The "Controls" pane.
void PMMainController::buildControlsPreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    dedicatedPlayerWindowSwitch = b.checkBox(localized("Play movies in a window of their own"));
    b.row(localized("Player:"), {dedicatedPlayerWindowSwitch});
    controlIntervalField = new QLineEdit;
    controlIntervalField->setFixedWidth(60);
    b.row(localized("Hide the controls after:"), {controlIntervalField, new QLabel(localized("seconds"))});
    stepIntervalField = new QLineEdit;
    stepIntervalField->setFixedWidth(60);
    b.row(localized("Step by:"), {stepIntervalField, new QLabel(localized("seconds"))});
    increaseConsecutiveStepsSwitch = b.checkBox(localized("Take longer steps when stepping repeatedly"));
    b.row(QString(), {increaseConsecutiveStepsSwitch});
    b.gap();
    resumeDurationThresholdSelector = b.selector(&PMMainController::resumeDurationThresholdSelector);
    b.row(localized("Resume playing:"), {resumeDurationThresholdSelector});
    resumeTimestampLimitSelector = b.selector(&PMMainController::resumeTimestampLimitSelector);
    b.row(localized("Forget where a movie stopped:"), {resumeTimestampLimitSelector});
    playOnOpenSwitch = b.checkBox(localized("When a movie opens"));
    playOnPresentSwitch = b.checkBox(localized("When a presentation begins"));
    b.row(localized("Start playing:"), {playOnOpenSwitch});
    b.row(QString(), {playOnPresentSwitch});
    pauseOnWindowSwitch = b.checkBox(localized("Pause when a presentation ends"));
    b.row(QString(), {pauseOnWindowSwitch});
    forgetOnQuitSwitch = b.checkBox(localized("Forget the playlist when quitting"));
    b.row(localized("Playlist:"), {forgetOnQuitSwitch});
    continueSwitch = b.checkBox(localized("Continue with the next movie of the group and"));
    continueModeSelector = b.selector(&PMMainController::continueModeSelector);
    b.row(localized("At the end of a movie:"), {continueSwitch, continueModeSelector});
    continueByMonitoringExternalViewerSwitch = b.checkBox(localized("Also after movies played in other applications"));
    b.row(QString(), {continueByMonitoringExternalViewerSwitch});
    b.gap();
    presentationModeSelector = b.selector(&PMMainController::presentationModeSelector);
    b.row(localized("Presentation:"), {presentationModeSelector});
    presentationSpaceSwitch = b.checkBox(localized("Present in a full-screen window of its own"));
    b.row(QString(), {presentationSpaceSwitch});
    listenToRemoteSwitch = b.checkBox(localized("Listen to the remote control"));
    remoteTriggersPresentationSwitch = b.checkBox(localized("The remote control starts presentations"));
    remoteControlInterfaceAnimationSwitch = b.checkBox(localized("Animate the remote control interface"));
    b.row(localized("Remote control:"), {listenToRemoteSwitch});
    b.row(QString(), {remoteTriggersPresentationSwitch});
    b.row(QString(), {remoteControlInterfaceAnimationSwitch});
    remoteControlInterfaceSizeSlider = new PMPreferenceSlider(40, 150, 1);
    remoteControlInterfaceSizeSlider->setMinimumWidth(220);
    b.row(localized("Interface size:"), {remoteControlInterfaceSizeSlider});
    b.gap();
    auto* clockwise = new QRadioButton(localized("Clockwise"));
    auto* counterclockwise = new QRadioButton(localized("Counterclockwise"));
    clockwise->setAutoExclusive(false);
    counterclockwise->setAutoExclusive(false);
    rotateClockwiseButton = clockwise;
    rotateCounterclockwiseButton = counterclockwise;
    auto* clockwiseIllustration = new QToolButton;
    auto* counterclockwiseIllustration = new QToolButton;
    clockwiseIllustration->setIcon(rotationIllustration(false, window->palette()));
    counterclockwiseIllustration->setIcon(rotationIllustration(true, window->palette()));
    for (QToolButton* button : {clockwiseIllustration, counterclockwiseIllustration}) {
        button->setAutoRaise(true);
        button->setIconSize(QSize(24, 24));
    }
    rotateClockwiseIllustrationButton = clockwiseIllustration;
    rotateCounterclockwiseIllustrationButton = counterclockwiseIllustration;
    b.row(localized("The rotate button turns:"), {clockwiseIllustration, clockwise, counterclockwiseIllustration, counterclockwise});
    connect(clockwiseIllustration, &QToolButton::clicked, clockwise, [clockwise] { clockwise->click(); });
    connect(counterclockwiseIllustration, &QToolButton::clicked, counterclockwise, [counterclockwise] { counterclockwise->click(); });
    b.finish();
    window->addPane(QStringLiteral("Controls"), localized("Controls"), QStringLiteral("media-playback-start"), u'C', pane);
}

// The "Library" pane.
void PMMainController::buildLibraryPreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    libraryLocationField = new QLabel;
    libraryLocationField->setTextInteractionFlags(Qt::TextSelectableByMouse);
    libraryLocationField->setMinimumWidth(260);
    b.row(localized("Library folder:"), {libraryLocationField});
    libraryLocationButton = new PMOptionalMenuButton(localized("Change…"));
    supplementaryLibraryLocationsButton = new PMOptionalMenuButton(localized("Supplementary Library Locations"));
    for (PMOptionalMenuButton* button : {libraryLocationButton.data(), supplementaryLibraryLocationsButton.data()})
        button->setDelegate(&libraryLocationMenus());
    b.row(QString(), {libraryLocationButton, supplementaryLibraryLocationsButton});
    b.gap();
    missingMoviesBehaviorSelector = b.selector(&PMMainController::missingMoviesBehaviorSelector);
    b.row(localized("Movies whose files are missing:"), {missingMoviesBehaviorSelector});
    organizeLibrarySwitch = b.checkBox(localized("Keep the library folder organised"));
    b.row(localized("Organising:"), {organizeLibrarySwitch});
    moveCopyToLibrarySwitch = b.checkBox(localized("Put added movies into the library folder:"));
    moveCopyToLibrarySelector = b.selector(&PMMainController::moveCopyToLibrarySelector);
    b.row(QString(), {moveCopyToLibrarySwitch, moveCopyToLibrarySelector});
    checkForNonLibraryFilesSwitch = b.checkBox(localized("Look for new files in the library folder and"));
    nonLibraryFilesProcedureSelector = b.selector(&PMMainController::nonLibraryFilesProcedureSelector);
    b.row(QString(), {checkForNonLibraryFilesSwitch, nonLibraryFilesProcedureSelector});
    b.gap();
    autoNameSwitch = b.checkBox(localized("Name movies from their tags:"));
    autoNameField = new PMMetaReferenceTokenField;
    autoNameField->setMinimumWidth(240);
    b.row(localized("Names:"), {autoNameSwitch, autoNameField});
    useSequencePrefixAsDefaultIdentifierSwitch = b.checkBox(localized("Batch renaming falls back to the sequence prefix"));
    b.row(QString(), {useSequencePrefixAsDefaultIdentifierSwitch});
    b.finish();
    window->addPane(QStringLiteral("Library"), localized("Library"), QStringLiteral("folder-documents"), u'L', pane);
}

// The "External Media" pane.
void PMMainController::buildExternalMediaPreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    const Value level = store().objectForKey(prefs::keys::ExternalMediaKindSeparationLevel);
    const bool separated = (level.hasNumericValue() ? level.toLongLong() : 1) > 0;
    includeITunesMoviesSwitch = b.checkBox(separated ? localized("Include the movies of the music library") : localized("iTunes"));
    b.row(localized("External media:"), {includeITunesMoviesSwitch});
    b.finish();
    window->addPane(QStringLiteral("iLife"), localized("External Media"), QStringLiteral("applications-multimedia"), u'E', pane);
}

// The "Advanced" pane.
void PMMainController::buildAdvancedPreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    auto* rulesTitle = new QLabel(localized("Viewer rules (which application opens which files):"), pane);
    b.layout()->addWidget(rulesTitle);
    auto* rules = new PMJSONTextView(pane);
    rules->setMinimumHeight(240);
    rules->setValidator(&viewerRulesValidator());
    viewerRulesTextView = rules;
    b.layout()->addWidget(rules, 1);
    sortPrefixesField = new QLineEdit;
    sortPrefixesField->setMinimumWidth(300);
    b.row(localized("Ignored when sorting:"), {sortPrefixesField});
    supportedFileExtensionsField = new QLineEdit;
    supportedFileExtensionsField->setMinimumWidth(300);
    supportedFileExtensionsField->setPlaceholderText(localized("all movie and image types"));
    b.row(localized("Only add files ending in:"), {supportedFileExtensionsField});
    window->addPane(QStringLiteral("Advanced"), localized("Advanced"), QStringLiteral("preferences-other"), u'X', pane);
}

// The "Updates" pane.
void PMMainController::buildUpdatesPreferencesPane(PMPreferencesWindow* window)
{
    auto* pane = new QWidget;
    PaneBuilder b(pane);
    PMSparkleWrapper& updates = PMSparkleWrapper::sharedSparkleWrapper();
    auto* automatic = b.checkBox(localized("Check for updates automatically"));
    updates.autoUpdateCheckingSwitch = automatic;
    connect(automatic, &QCheckBox::clicked, automatic, [automatic] { PMSparkleWrapper::sharedSparkleWrapper().toggleAutomaticChecking(automatic); });
    b.row(localized("Updates:"), {automatic});
    auto* status = new QLabel;
    auto* date = new QLabel;
    status->setWordWrap(true);
    updates.statusTextField = status;
    updates.statusDateTextField = date;
    b.row(QString(), {status});
    b.row(QString(), {date});
    auto* check = new QPushButton(localized("Check Now"));
    connect(check, &QPushButton::clicked, this, [this, check] {
        PMSparkleWrapper::sharedSparkleWrapper().checkForUpdates(check);
        showUpdateStatusRows();
        updatePreferencesWindowFrame();
    });
    b.row(QString(), {check});
    b.finish();
    window->addPane(QStringLiteral("Updates"), localized("Updates"), QStringLiteral("view-refresh"), u'U', pane);
}

// What the controls do (only what the user does: the program sets them silently).
void PMMainController::connectPreferenceControls()
{
    for (const BooleanRow& row : kBooleanRows)
        if (QCheckBox* box = this->*row.outlet)
            connect(box, &QCheckBox::clicked, this, [this, box] { toggleBooleanPreference(box); });
    for (QCheckBox* box : {dedicatedPlayerWindowSwitch.data(), showNestedGroupsSwitch.data()})
        connect(box, &QCheckBox::clicked, this, [this, box] { toggleBooleanPreference(box); });
    for (QAbstractButton* button : {rotateClockwiseButton.data(), rotateCounterclockwiseButton.data()})
        connect(button, &QAbstractButton::clicked, this, [this, button] { toggleBooleanPreference(button); });
    for (const SelectorRow& row : selectorRows())
        if (QComboBox* box = this->*row.outlet)
            connect(box, &QComboBox::activated, this, [this, box] { changeListPreference(box); });
    connect(downloadsContainerSelector, &QComboBox::activated, this, [this] { changeListPreference(downloadsContainerSelector); });
    for (PMPreferenceSlider* slider : {previewSpacingSlider.data(), previewCoverAlphaSlider.data(), previewCoverPositionSlider.data(),
                                       indexImageOnHoverDelaySlider.data(), previewFrameTimeSlider.data(), remoteControlInterfaceSizeSlider.data()}) {
        connect(slider, &QSlider::valueChanged, this, [this, slider] { changeSliderPreference(slider); });
        connect(slider, &QSlider::sliderReleased, this, [this, slider] { changeSliderPreference(slider); });
    }
    connect(controlIntervalField, &QLineEdit::editingFinished, this,
            [this] { setIntervalFromTextField(controlIntervalField, QStringLiteral("Window Vanish Interval")); });
    connect(stepIntervalField, &QLineEdit::editingFinished, this,
            [this] { setIntervalFromTextField(stepIntervalField, QStringLiteral("Step Interval")); });
    for (QLineEdit* field : {autoNameField.data(), sortPrefixesField.data(), supportedFileExtensionsField.data()})
        connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
}

void PMMainController::changePreferencesSection(const QString& identifier)
{
    if (!preferencesWindow || !preferencesWindow->selectPane(identifier))
        return;
    updatePreferencesWindowFrame();
}

void PMMainController::updatePreferencesWindowFrame()
{
    PMPreferencesWindow* window = preferencesWindow;
    if (!window || !preferencesTabView || !preferencesTabView->currentWidget())
        return;
    // The window takes the height its shown pane needs (plus a margin below it); its top
    // edge stays, and it is as wide as the widest pane, so that switching panes keeps it.
    QWidget* pane = preferencesTabView->currentWidget();
    if (QLayout* layout = window->layout())
        layout->activate();
    const int toolbar = window->toolbar()->isVisible() ? window->toolbar()->sizeHint().height() : 0;
    int width = window->toolbar()->sizeHint().width();
    for (int i = 0; i < preferencesTabView->count(); ++i)
        if (QLayout* layout = preferencesTabView->widget(i)->layout())
            width = std::max(width, layout->minimumSize().width());
    width = std::max(width, window->width());
    const int height = toolbar + std::max(pane->sizeHint().height(), pane->minimumSizeHint().height());
    const QRect frame = window->geometry();
    window->setGeometry(frame.x(), frame.y(), width, height);
}

// ---------------------------------------------------------------------------------------
// Setting the controls

void PMMainController::loadPreferenceControls()
{
    UserDefaults& d = store();
    for (const BooleanRow& row : kBooleanRows) {
        const QString key = QString::fromUtf8(row.key);
        const bool on = d.boolForKey(key);
        setChecked(this->*row.outlet, isNegativelyWorded(key) ? !on : on);
    }
    // The cached flags are what the program follows until the next launch or library load.
    setChecked(autoConvertAnimatedImagesSwitch, PMCachedSettings::convertAnimatedImagesToMovies.load());
    setChecked(autoNameSwitch, PMCachedSettings::determineNamesAutomatically.load());
    setChecked(dedicatedPlayerWindowSwitch, !d.boolForKey(prefs::keys::SingleWindowMode));
    const bool counterclockwise = d.boolForKey(prefs::keys::RotateCounterclockwise);
    setChecked(rotateClockwiseButton, !counterclockwise);
    setChecked(rotateCounterclockwiseButton, counterclockwise);

    for (const SelectorRow& row : selectorRows())
        if (row.key) {
            QComboBox* selector = this->*row.outlet;
            const long long value = d.integerForKey(QString::fromUtf8(row.key));
            if (row.byIndex)
                selectItemAtIndex(selector, value);
            else
                selectItemWithTag(selector, value);
        }
    if (PMMainWindow::usesGlass())
        selectItemWithTag(thumbnailAppearanceSelector, d.integerForKey(prefs::keys::ThumbnailAppearanceGlass));
    selectItemAtIndex(presentationModeSelector, d.integerForKey(prefs::keys::PresentationMode));
    selectItemAtIndex(moveCopyToLibrarySelector, d.integerForKey(prefs::keys::MoveCopyToLibraryMode));
    selectItemWithTag(nonLibraryFilesProcedureSelector, d.boolForKey(prefs::keys::IncludeNonLibraryFilesWithoutPrompt) ? 1 : 0);
    selectItemWithTag(previewModeSelector, d.boolForKey(prefs::keys::LoadFrameImages) ? 1 : 0);
    setMissingMoviesMode(d.integerForKey(prefs::keys::MissingMoviesMode), false, true, false);

    // Enabled states and rows that follow a switch.
    itemCountModeSelector->setEnabled(showItemCountsSwitch->isChecked());
    moveCopyToLibrarySelector->setEnabled(moveCopyToLibrarySwitch->isChecked());
    nonLibraryFilesProcedureSelector->setEnabled(checkForNonLibraryFilesSwitch->isChecked());
    autoNameField->setEnabled(autoNameSwitch->isChecked());
    updateContinueByMonitoringExternalViewerSwitchVisibility();
    setRowVisible(indexImageOnHoverDelaySlider, indexImageOnHoverSwitch->isChecked());
    setRowVisible(previewFrameTimeSlider, selectedTag(previewModeSelector) != 0);

    // Nested groups: shown, hidden, or (mixed) hidden only in flattened groups.
    const bool hideSubgroups = d.boolForKey(prefs::keys::HideSubgroupsInPreviewMode);
    const bool flattenedOnly = d.boolForKey(prefs::keys::HideSubgroupsInPreviewModeFlattenedOnly);
    {
        const QSignalBlocker blocker(showNestedGroupsSwitch);
        showNestedGroupsSwitch->setCheckState(!hideSubgroups ? Qt::Checked : (flattenedOnly ? Qt::PartiallyChecked : Qt::Unchecked));
    }
    nestedGroupsPositionSelector->setEnabled(showNestedGroupsSwitch->checkState() != Qt::Unchecked);
    if (d.boolForKey(prefs::keys::SubgroupPreviewsPositionAllowBlending) && nestedGroupsPositionSelector->count() < 3)
        nestedGroupsPositionSelector->addItem(localized("among"), QVariant::fromValue(2));
    selectItemAtIndex(nestedGroupsPositionSelector, d.integerForKey(prefs::keys::SubgroupPreviewsPosition));

    // Sliders and their read-outs.
    const auto setSlider = [](PMPreferenceSlider* slider, double value) {
        const QSignalBlocker blocker(slider);
        slider->setDoubleValue(value);
    };
    setSlider(remoteControlInterfaceSizeSlider, PMRemoteInterfaceWindow::lineHeight());
    setSlider(previewSpacingSlider, PMGroupView::spacing());
    setSlider(previewCoverAlphaSlider, PMGroupView::coverOverlayAlpha());
    setSlider(previewCoverPositionSlider, PMGroupView::coverOverlayPosition());
    // The delay in force, as the tiles read it: a stored delay below the slider's minimum
    // (typed into the settings file) is shown and used as that minimum.
    const double delay = PMMovieTileHover::delay();
    setSlider(indexImageOnHoverDelaySlider, delay);
    indexImageOnHoverDelayField->setText(delayText(delay));
    const double fraction = PMMovieRepresentationImageLoader::frameTimeFraction();
    setSlider(previewFrameTimeSlider, fraction);
    previewFrameTimeField->setText(percentText(fraction));

    // Fields.
    const qint64 vanish = d.integerForKey(prefs::keys::WindowVanishInterval);
    controlIntervalField->setText(QString::number(vanish < 1 ? 5 : vanish));
    stepIntervalField->setText(QString::number(stepInterval()));
    libraryLocationField->setText(readablePathRepresentation(libraryPath()));
    libraryLocationField->setToolTip(libraryPath());
    autoNameField->setText(tagBasedDisplayNamePattern());
    sortPrefixesField->setText(sortPrefixesString());
    QStringList extensions;
    if (const ArrayPtr whitelist = d.arrayForKey(prefs::keys::Whitelist))
        for (const Value& v : *whitelist)
            if (v.isString())
                extensions.append(v.string());
    supportedFileExtensionsField->setText(extensions.join(u' '));
    const QString rules = d.stringForKey(prefs::keys::ViewerRules);
    viewerRulesTextView->setString(rules.trimmed().isEmpty() ? PMBuiltInViewerRules() : rules);
    updateDownloadsContainerSelector();

    // Both naming rows are always there: automatic names are switched on here, not only in
    // the settings file.
    setRowVisible(useSequencePrefixAsDefaultIdentifierSwitch, true);
    setRowVisible(autoNameSwitch, true);
}

// ---------------------------------------------------------------------------------------
// Switches

void PMMainController::toggleBooleanPreference(QAbstractButton* sender)
{
    if (!sender)
        return;
    UserDefaults& d = store();
    const bool on = sender->isChecked();

    if (sender == dedicatedPlayerWindowSwitch.data()) {
        setUseDedicatedPlayer(on);
        return;
    }
    if (sender == showNestedGroupsSwitch.data()) {
        const Qt::CheckState state = showNestedGroupsSwitch->checkState();
        d.setBool(state != Qt::Checked, prefs::keys::HideSubgroupsInPreviewMode);
        d.setBool(state == Qt::PartiallyChecked, prefs::keys::HideSubgroupsInPreviewModeFlattenedOnly);
        nestedGroupsPositionSelector->setEnabled(state != Qt::Unchecked);
        updateUserInterface();
        return;
    }
    if (sender == rotateClockwiseButton.data() || sender == rotateCounterclockwiseButton.data()) {
        const bool counterclockwise = sender == rotateCounterclockwiseButton.data();
        d.setBool(counterclockwise, prefs::keys::RotateCounterclockwise);
        setChecked(rotateClockwiseButton, !counterclockwise);
        setChecked(rotateCounterclockwiseButton, counterclockwise);
        Q_EMIT updateRotateButton(QGuiApplication::queryKeyboardModifiers());
        return;
    }
    // Switches that move the user's files ask first, and change nothing when declined.
    if (sender == organizeLibrarySwitch.data() && on) {
        if (!organizeLibraryFilesAfterAsking()) {
            setChecked(sender, false);
            return;
        }
        d.setBool(false, prefs::keys::DoNotOrganizeLibraryFolder);
        return;
    }
    if (sender == moveCopyToLibrarySwitch.data() && on) {
        if (!transferAllToLibraryFolder(d.integerForKey(prefs::keys::MoveCopyToLibraryMode) == 1)) {
            setChecked(sender, false);
            return;
        }
        d.setBool(true, prefs::keys::MoveCopyToLibrary);
        moveCopyToLibrarySelector->setEnabled(true);
        return;
    }

    // A presentation ends the way it began, before the place of the next one changes.
    if (sender == presentationSpaceSwitch.data() && _isPresenting)
        togglePresentation();

    const BooleanRow* row = nullptr;
    for (const BooleanRow& r : kBooleanRows)
        if (this->*r.outlet == sender)
            row = &r;
    if (!row)
        return;
    const QString key = QString::fromUtf8(row->key);
    d.setBool(isNegativelyWorded(key) ? !on : on, key);

    if (sender == showFileExtensionsSwitch.data()) {
        for (const Value& item : *_library)
            if (PMLibraryItem* i = PMItem(item))
                i->invalidateDisplayNameRecursively();
        updateLibrary();
    } else if (sender == showItemCountsSwitch.data()) {
        itemCountModeSelector->setEnabled(on);
        if (libraryListView)
            libraryListView->viewport()->update();
    } else if (sender == includeITunesMoviesSwitch.data()) {
        if (!on)
            _cleanUpCachedImages = true;
        if (on)
            _skipMissingStatusUpdate = false;
        updateLibraryAndInvalidateDependencies(true, false, true);
    } else if (sender == moveCopyToLibrarySwitch.data()) {
        moveCopyToLibrarySelector->setEnabled(on);
    } else if (sender == checkForNonLibraryFilesSwitch.data()) {
        nonLibraryFilesProcedureSelector->setEnabled(on);
        autoDetectAndIncludeNonLibraryFiles();
    } else if (sender == presentationSpaceSwitch.data()) {
        if (_playerControlsDidChange)
            _playerControlsDidChange();
    } else if (sender == continueSwitch.data() || sender == continueByMonitoringExternalViewerSwitch.data()) {
        updateContinueByMonitoringExternalViewerSwitchVisibility();
        if (shouldMonitorExternalViewer())
            startMonitoringExternalViewer(false);
        else
            pauseMonitoringExternalViewer();
    } else if (sender == indexImageOnHoverSwitch.data()) {
        setRowVisible(indexImageOnHoverDelaySlider, on);
        updatePreferencesWindowFrame();
    } else if (sender == listenToRemoteSwitch.data()) {
        setListeningToRemoteControl(on && _isApplicationActive);
    } else if (sender == autoConvertAnimatedImagesSwitch.data()) {
        PMCachedSettings::convertAnimatedImagesToMovies = on;
    } else if (sender == autoNameSwitch.data()) {
        PMCachedSettings::determineNamesAutomatically = on;
        autoNameField->setEnabled(on);
        updateDisplayNames();
    }
}

bool PMMainController::organizeLibraryFilesAfterAsking()
{
    Array collected;
    FileLocationsRequest preflight;
    preflight.organize = true;
    preflight.preflightCollection = &collected;
    updateFileLocations(preflight);
    if (!collected.isEmpty()) {
        const ArrayPtr records = Array::make();
        for (const Value& v : collected)
            records->append(v);
        const long answer =
            PMRunAlert(localized("Organize Library Folder?"),
                       platform::format(localized("The following files will be renamed or moved within your library folder:\n\n%@\n\nDo you want to "
                                                  "organize your library folder now?"),
                                        namesListForItems(records, {}, true, false, {})),
                       localized("Organize"), localized("Cancel"));
        if (answer != PMAlertFirstButtonReturn)
            return false;
    }
    organizeLibraryFilesCommand();
    return true;
}

void PMMainController::updateContinueByMonitoringExternalViewerSwitchVisibility()
{
    if (!continueByMonitoringExternalViewerSwitch)
        return;
    bool visible = !store().boolForKey(prefs::keys::DoNotContinueWithNextGroupMovie);
    if (!visible)
        for (const PMLibraryContainerPtr& container : std::as_const(_containersByID))
            if (container && container->value(QStringLiteral("Continue")).toBool() && container->isSmartGroup()
                && !container->isSmartGroupSubdivision()) {
                visible = true;
                break;
            }
    setRowVisible(continueByMonitoringExternalViewerSwitch, visible);
}

// ---------------------------------------------------------------------------------------
// Pop-up buttons

void PMMainController::changeListPreference(QComboBox* sender)
{
    if (!sender || sender->currentIndex() < 0)
        return;
    UserDefaults& d = store();
    const int tag = selectedTag(sender);
    const int index = sender->currentIndex();

    if (sender == downloadsContainerSelector.data()) {
        // An item without a container (a header) puts the selector back as it was.
        const QString id = sender->currentData().toString();
        if (id.isEmpty())
            updateDownloadsContainerSelector();
        else
            d.setObject(Value(id), prefs::keys::DownloadsContainer);
        return;
    }
    if (sender == presentationModeSelector.data()) {
        setPresentationMode(index, sender);
        return;
    }
    if (sender == missingMoviesBehaviorSelector.data()) {
        setMissingMoviesMode(tag, true, false, true);
        return;
    }
    if (sender == previewModeSelector.data()) {
        d.setBool(tag == 1, prefs::keys::LoadFrameImages);
        setRowVisible(previewFrameTimeSlider, tag != 0);
        updatePreferencesWindowFrame();
        return;
    }
    if (sender == thumbnailAppearanceSelector.data()) {
        d.setInteger(tag, PMMainWindow::usesGlass() ? prefs::keys::ThumbnailAppearanceGlass : prefs::keys::ThumbnailAppearance);
        updateUserInterface();
        return;
    }
    if (sender == nestedGroupsPositionSelector.data()) {
        d.setInteger(index, prefs::keys::SubgroupPreviewsPosition);
        if ((index == 2) != blendsSubgroupPreviews())
            updateLibrary();
        else
            updateUserInterface();
        return;
    }
    if (sender == moveCopyToLibrarySelector.data()) {
        // Only the mode is stored: the files move when the switch is turned on.
        d.setInteger(index, prefs::keys::MoveCopyToLibraryMode);
        return;
    }
    if (sender == nonLibraryFilesProcedureSelector.data()) {
        d.setBool(tag == 1, prefs::keys::IncludeNonLibraryFilesWithoutPrompt);
        return;
    }
    for (const SelectorRow& row : selectorRows())
        if (row.key && this->*row.outlet == sender)
            d.setInteger(row.byIndex ? index : tag, QString::fromUtf8(row.key));
    if (sender == continueModeSelector.data()) {
        updateButtons();
    } else if (sender == singleClickBehaviorSelector.data()) {
        if (mainWindow())
            mainWindow()->update();
    } else if (sender == listFontSizeSelector.data()) {
        listFontSizeDidChange();
    } else if (sender == libraryDisplayModeSelector.data()) {
        updateLibrary();
    } else if (sender == itemCountModeSelector.data()) {
        if (libraryListView)
            libraryListView->viewport()->update();
        if (_groupView)
            setNeedsDisplayRecursively(_groupView);
    }
}

void PMMainController::setMissingMoviesMode(long long mode, bool updateLibrary, bool updateSelector, bool saveSetting)
{
    if (saveSetting)
        store().setInteger(mode, prefs::keys::MissingMoviesMode);
    if (updateSelector)
        selectItemWithTag(missingMoviesBehaviorSelector, mode);
    if (updateLibrary) {
        _skipMissingStatusUpdate = false;
        updateLibraryAndInvalidateDependencies(true, false, true);
    }
}

void PMMainController::setMissingMoviesModeFromMenuItem()
{
    const qint64 mode = store().integerForKey(prefs::keys::MissingMoviesMode);
    setMissingMoviesMode(mode == 1 ? 0 : (mode == -1 ? 1 : -1), true, true, true);
}

// ---------------------------------------------------------------------------------------
// Sliders

void PMMainController::changeSliderPreference(PMPreferenceSlider* sender)
{
    if (!sender)
        return;
    double value = sender->doubleValue();
    if (sender == remoteControlInterfaceSizeSlider.data()) {
        PMRemoteInterfaceWindow::setLineHeight(value);
        if (sender->isSliderDown())
            return;
        if (!PMRemoteInterfaceWindow::isVisible())
            showRemoteInterface();
        else if (PMRemoteInterfaceWindow* window = PMRemoteInterfaceWindow::remoteInterfaceWindowByCreatingIfNecessary(false))
            window->update();
        // The interface shows its new size for a moment.
        platform::performAfterDelay(this, QStringLiteral("closeRemoteInterfaceAfterResizing"), Value(), 1.0,
                                    [] { PMRemoteInterfaceWindow::fadeOutAndClose(); });
    } else if (sender == previewSpacingSlider.data()) {
        PMGroupView::setSpacing(value);
        updateUserInterfaceAfterDelay();
    } else if (sender == previewCoverAlphaSlider.data()) {
        constexpr double epsilon = 1.1920929e-7;
        const double old = PMGroupView::coverOverlayAlpha();
        PMGroupView::setCoverOverlayAlpha(value);
        if ((old < epsilon) != (value < epsilon) && PMGroupView::coverMode())
            updateUserInterface();
        else if (_groupView)
            _groupView->updatePreviewsIncludingOrnaments(false);
    } else if (sender == previewCoverPositionSlider.data()) {
        if (!sender->isSliderDown()) {
            value = snappedCoverPosition(value);
            const QSignalBlocker blocker(sender);
            sender->setDoubleValue(value);
        }
        PMGroupView::setCoverOverlayPosition(value);
        if (_groupView)
            _groupView->updatePreviewsIncludingOrnaments(false);
    } else if (sender == indexImageOnHoverDelaySlider.data()) {
        store().setDouble(value, prefs::keys::CycleThroughIndexImageOnHoverDelay);
        indexImageOnHoverDelayField->setText(delayText(value));
    } else if (sender == previewFrameTimeSlider.data()) {
        PMMovieRepresentationImageLoader::setFrameTimeFraction(value);
        previewFrameTimeField->setText(percentText(value));
    }
}

// ---------------------------------------------------------------------------------------
// Fields

void PMMainController::setIntervalFromTextField(QLineEdit* textField, const QString& setting)
{
    if (!textField)
        return;
    bool ok = false;
    qint64 value = textField->text().trimmed().toLongLong(&ok);
    if (!ok) {
        // Not a number: the field shows the interval in force again, with a beep.
        const qint64 stored = store().integerForKey(setting);
        textField->setText(QString::number(setting == QLatin1String("Step Interval") ? stepInterval() : (stored < 1 ? 5 : stored)));
        platform::beep();
        return;
    }
    if (value < 1) {
        // The shortest interval is 1: the field says so, and the beep tells that the typed
        // value was not taken.
        value = 1;
        textField->setText(QStringLiteral("1"));
        platform::beep();
    }
    store().setInteger(value, setting);
}

namespace {

// Restarts the pause after which a costly change applies.
void restartPause(QPointer<QTimer>& timer, QObject* owner, std::function<void()> apply)
{
    if (!timer) {
        timer = new QTimer(owner);
        timer->setSingleShot(true);
        timer->setInterval(1000);
        QObject::connect(timer, &QTimer::timeout, owner, std::move(apply));
    }
    timer->start();
}

} // namespace

void PMMainController::controlTextDidChange(QWidget* field)
{
    if (!field)
        return;
    if (field == autoNameField.data()) {
        store().setObject(Value(autoNameField->text()), prefs::keys::DetermineNamesAutomaticallyPattern);
        restartPause(_autoNamePatternTimer, this, [this] { updateDisplayNames(); });
    } else if (field == supportedFileExtensionsField.data()) {
        restartPause(_whitelistTimer, this, [this] {
            if (!supportedFileExtensionsField)
                return;
            const QStringList words = supportedFileExtensionsField->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
            if (words.isEmpty()) {
                store().removeObjectForKey(prefs::keys::Whitelist);
                return;
            }
            const ArrayPtr list = Array::make();
            for (const QString& word : words)
                list->append(Value(word));
            store().setObject(Value(list), prefs::keys::Whitelist);
        });
    } else if (field == sortPrefixesField.data()) {
        restartPause(_sortPrefixesTimer, this, [this] { invalidateSortPrefixes(); });
    } else if (_infoPanel && field == _infoPanel->infoNameField) {
        // The panel's title quotes the name being typed; an emptied field shows the name
        // the movie keeps.
        QString name = _infoPanel->infoNameField->text();
        if (name.isEmpty() && _infoMovieRepresentations && !_infoMovieRepresentations->isEmpty())
            if (PMMovieRepresentationPrototype* movie = PMMovie(_infoMovieRepresentations->at(0)))
                name = movie->displayName();
        _infoPanel->setWindowTitle(platform::format(localized("\"%@\""), name));
    }
}

void PMMainController::invalidateSortPrefixes()
{
    if (sortPrefixesField)
        setSortPrefixesString(sortPrefixesField->text());
    freezeSelections();
    for (const Value& item : *_library)
        if (PMLibraryItem* i = PMItem(item))
            i->invalidateSortNameRecursively();
    updateLibraryWithFrozenSelections();
}

void PMMainController::invalidateApplicationPaths()
{
    for (const PMMovieRepresentationOriginalPtr& movie : std::as_const(_nonProxyRawMovieRepresentationsByPath))
        if (movie)
            movie->invalidateApplicationPath();
    if (_groupView && _groupView->isVisible())
        setNeedsDisplayRecursively(_groupView);
    else if (libraryListView)
        libraryListView->viewport()->update();
}

// ---------------------------------------------------------------------------------------
// Viewer rules

bool PMMainController::viewerRulesAreValid(const Value& rules)
{
    // An empty list is valid: no rules (the built-in text).
    const ArrayPtr list = rules.array();
    if (!list)
        return false;
    const auto nonEmptyString = [](const Value& v) { return v.isString() && !v.string().trimmed().isEmpty(); };
    for (const Value& element : *list) {
        const DictionaryPtr rule = element.dictionary();
        if (!rule || rule->count() != 2)
            return false;
        Value pattern = rule->value(QStringLiteral("Match"));
        if (pattern.isNull()) {
            const Value extensions = rule->value(QStringLiteral("Extensions"));
            if (!extensions.isString())
                return false;
            pattern = Value(extensionMatchingQuery(extensions.string()).value_or(QString()));
        }
        if (!nonEmptyString(pattern) || !caseInsensitiveRegularExpression(pattern.string()))
            return false;
        if (!nonEmptyString(rule->value(QStringLiteral("Open"))))
            return false;
    }
    return true;
}

void PMMainController::didChangeViewerRulesText()
{
    PMJSONTextView* view = viewerRulesTextView;
    if (!view)
        return;
    static bool restoring = false;
    if (restoring)
        return;
    const QString text = view->string();
    if (text.trimmed().isEmpty()) {
        // Cleared: the built-in rules apply again, and show.
        store().removeObjectForKey(prefs::keys::ViewerRules);
        restoring = true;
        view->setString(PMBuiltInViewerRules());
        restoring = false;
    } else {
        store().setObject(Value(text), prefs::keys::ViewerRules);
    }
    const Value validated = view->validatedObjectValue();
    _viewerRules = validated.array() ? validated.array() : ArrayPtr();
    restartPause(_applicationPathsTimer, this, [this] { invalidateApplicationPaths(); });
}
