// The one pass that brings the main window in line with the library after anything has
// changed: where the player sits, which container's content the grid shows and how, the
// container history, the sort of the shown content, the scope bar, the header row (back
// button, mode buttons, smart-group buttons, search field, preview size slider, status
// line) and the window levels. Selections are frozen around it so that they survive it.
//
// There is no list table yet: a container whose stored mode is the list shows through the
// grid (the list's sort column is still kept), and the header layout moves only controls
// that the window places by hand (a layout-managed header places its own).
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "platform/Memory.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMSmallControls.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGroupViewLayout.h"
#include "ui/library_window/PMInterfaceRefresh.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMToolbarButtons.h"
#include "ui/library_window/PMQuibScopeBar.h"

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QAbstractSlider>
#include <QtWidgets/QLayout>
#include <QtWidgets/QLineEdit>

#include <cmath>
#include <optional>
#include <utility>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

bool PMShowsToolbarButtonShapes = true;
bool PMUsesLightThumbnailBackground = false;
bool PMBlendsSubgroupPreviews = false;
bool PMUsesLargeContentFont = false;
bool PMInterfaceRefreshAwaitsUnfreeze = false;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// A control closer than this to where it belongs stays put (no jitter of a pixel).
constexpr double kPlacementTolerance = 0.9;

// "Thumbnail Appearance": 0 follows the desktop's style (light tiles in a light desktop),
// any other value keeps the dark grid; missing, 1.
bool usesLightThumbnailBackground()
{
    const Value appearance = defaults().objectForKey(prefs::keys::ThumbnailAppearance);
    return appearance.hasNumericValue() && appearance.toLongLong() == 0 && !PMIsDarkInterfaceStyle();
}

// Gives a widget the dark look of its own, or lets it follow the desktop again.
void setDarkLook(QWidget* widget, bool dark)
{
    if (!widget || widget->testAttribute(Qt::WA_SetPalette) == dark)
        return;
    if (dark) {
        widget->setPalette(PMDarkPalette());
    } else {
        widget->setPalette(QPalette());
        widget->setAttribute(Qt::WA_SetPalette, false);
    }
}

// Shows or hides a widget that lives inside a window; a widget without a parent (tests,
// benchmarks) is never turned into a window of its own.
void setShownInWindow(QWidget* widget, bool shown)
{
    if (widget && widget->parentWidget() && widget->isVisibleTo(widget->parentWidget()) != shown)
        widget->setVisible(shown);
}

bool isShown(const QWidget* widget)
{
    return widget && (!widget->parentWidget() || widget->isVisibleTo(widget->parentWidget()));
}

// The header's controls are moved only where the window places them by hand: not in a
// layout, and not in a view that lays out its own controls whenever it changes size.
bool isPlacedByHand(const QWidget* widget)
{
    if (!widget)
        return false;
    const QWidget* parent = widget->parentWidget();
    return !parent || (!parent->layout() && !parent->property(PMPlacesItsOwnControlsProperty).toBool());
}

void moveTo(QWidget* widget, double x)
{
    if (isPlacedByHand(widget) && std::abs(widget->x() - x) > kPlacementTolerance)
        widget->move(int(std::lround(x)), widget->y());
}

void shiftBy(QWidget* widget, double dx)
{
    if (isPlacedByHand(widget) && dx != 0)
        widget->move(int(std::lround(widget->x() + dx)), widget->y());
}

PMHeaderControlFrame frameOf(const QWidget* widget)
{
    PMHeaderControlFrame frame;
    if (widget) {
        frame.shown = isShown(widget);
        frame.x = widget->x();
        frame.width = widget->width();
    }
    return frame;
}

void setSmallSystemFont(QWidget* widget)
{
    if (!widget)
        return;
    QFont font = widget->font();
    font.setPointSizeF(PMUsesLargeContentFont ? 13 : 11);
    widget->setFont(font);
}

void setWindowFloats(QWidget* window, bool floats)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == floats)
        return;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, floats); // hides a shown window
    if (visible)
        window->show();
}

// Lets go of the last reference to a large array a slice per turn, once the window has
// been painted: neither the refresh that replaced the array nor its paint waits for that.
void releaseInSlicesLater(ArrayPtr array)
{
    if (array && array.use_count() == 1 && array->count() > 8192)
        platform::releaseValuesInSlices(std::move(array->values()), 1);
}

} // namespace

// ---- The arithmetic -------------------------------------------------------------------

long long PMEffectiveDisplayMode(long long storedMode, bool modeButtonsEnabled, bool modeButtonsHidden)
{
    if (!modeButtonsEnabled)
        return PMPreviewDisplayMode;
    if (storedMode != PMListDisplayMode && storedMode != PMPreviewDisplayMode && storedMode != PMCoverDisplayMode)
        return PMPreviewDisplayMode;
    if (modeButtonsHidden && storedMode != PMCoverDisplayMode)
        return PMPreviewDisplayMode;
    return storedMode;
}

double PMPreviewSizeSliderCanvasWidth(const PMGroupView* grid)
{
    if (!grid)
        return 0;
    const double spacing = PMGroupView::spacing();
    double width = grid->canvasSize().width();
    if (grid->adjustsSpacingForGlass() && spacing < 8)
        width += 2 * spacing - 16;
    return width;
}

unsigned PMPreviewSizeSliderMostColumns(const PMGroupView* grid, double minimum, double spacing, double canvasWidth)
{
    const unsigned most = numberOfColumnsForWidth(minimum, spacing, canvasWidth);
    if (!grid)
        return most;
    return std::max(1u, std::min(most, grid->columnsShownForWidth(minimum)));
}

double PMPreviewSizeSliderValue(double width, double minimum, double maximum, double spacing, double canvasWidth, unsigned mostColumns)
{
    if (width < minimum)
        return minimum;
    if (width > maximum)
        return maximum;
    const unsigned most = mostColumns ? mostColumns : numberOfColumnsForWidth(minimum, spacing, canvasWidth);
    if (most < 2)
        return (minimum + maximum) / 2;
    const double columns = (canvasWidth - spacing) / (spacing + width);
    if (columns <= 1)
        return maximum;
    return std::max(minimum, maximum - (maximum - minimum) * (columns - 1) / double(most - 1));
}

PMHeaderLayout PMComputeHeaderLayout(const PMHeaderLayoutInput& in)
{
    PMHeaderLayout out;
    const double gap = in.showsButtonShapes ? 8 : 12;
    const double margin = in.showsButtonShapes && in.spacing > 4.5 && in.spacing < 20.5 ? in.spacing : 8;
    double run = in.showsButtonShapes ? in.tabViewX + margin : in.tabViewX + 8 - (in.highlightsViaColor ? 7 : 1) + (in.usesGlass ? 1 : 0);
    // A control (or a row of them) moves to the run unless it is already within a hair of it.
    auto shiftTo = [](double x, double target) { return std::abs(x - target) > kPlacementTolerance ? target - x : 0.0; };

    out.backX = in.back.x;
    if (in.back.shown) {
        out.backX += shiftTo(in.back.x, run);
        run = out.backX + in.back.width + gap;
    }
    if (in.listMode.shown) {
        out.modeButtonsShift = shiftTo(in.listMode.x, run);
        run = in.coverMode.x + out.modeButtonsShift + in.coverMode.width + gap;
    }
    if (in.increaseUnits.shown) {
        out.relativeDateButtonsShift = shiftTo(in.increaseUnits.x, run);
        run = in.decreaseUnits.x + out.relativeDateButtonsShift + in.decreaseUnits.width + gap;
    }
    out.editX = in.edit.x;
    out.editWidth = in.edit.width + 6;
    if (in.edit.shown) {
        out.editX = run;
        run += out.editWidth + gap;
    }

    out.searchFieldX = in.headerWidth - margin - in.searchField.width;
    if (in.canGetMoreOnlineChildren) {
        out.moreButtonWidth = in.moreButtonWidth + 6;
        out.searchFieldX -= out.moreButtonWidth + 5;
        out.moreButtonX = out.searchFieldX + in.searchField.width + 5;
    } else if (in.usesGlass && !in.usesConcentricGlass && margin < 8.5) {
        out.searchFieldX -= 1;
    }
    out.sliderViewX = out.searchFieldX - in.sliderViewWidth - 30;

    const double limit = in.sliderShown ? out.sliderViewX : out.searchFieldX;
    const double width = limit - in.spacing - run;
    out.statusShown = width > 50;
    out.statusX = out.statusShown ? run : 0;
    out.statusWidth = out.statusShown ? width : 0;
    return out;
}

// ---- The refresh ----------------------------------------------------------------------

void PMMainController::updateUserInterface()
{
    platform::UserDefaults& d = defaults();
    // The selection restored at the end may refresh once more from inside this one.
    ++_userInterfaceRefreshDepth;
    ++_userInterfaceRefreshCount;
    // One status update at the end, however often the steps select.
    std::optional<PMStatusFieldsHold> statusHold(std::in_place);

    // 1. Selections survive the pass; the content of the last one is forgotten.
    freezeSelections();
    const bool hideSubgroups = d.boolForKey(prefs::keys::HideSubgroupsInPreviewMode);
    const bool hideFlattenedOnly = d.boolForKey(prefs::keys::HideSubgroupsInPreviewModeFlattenedOnly);
    // The toolbar buttons always draw their shapes here (there is no simplified look).
    PMShowsToolbarButtonShapes = true;
    PMUsesLightThumbnailBackground = false;
    _groupItemsParent = nullptr;
    _groupItemsParentOrSearchReferenceContainer = nullptr;
    releaseInSlicesLater(std::exchange(_groupMovieItems, Array::make()));
    releaseInSlicesLater(std::exchange(_groupSubgroupItems, Array::make()));

    // 2. The player takes its place first; the rest of the window follows it.
    const PlayerPlacement placement = updatePlayerPlacement();

    // 3, 4. The shown container, the history, the searched container and its content.
    const ArrayPtr items = updateGroupContent(placement.computesGroupContent, hideSubgroups, hideFlattenedOnly);
    const PMLibraryContainerPtr reference = _groupItemsParentOrSearchReferenceContainer;
    const bool showsScopeBar = _groupShowsScopeBar;
    const bool showsSubgroups = _groupShowsSubgroups;
    const bool modeButtonsEnabled = _groupModeButtonsEnabled;
    const bool modeButtonsHidden = _groupModeButtonsHidden;

    // 5. The grid is refilled below (it keeps its proxies when the content is the same);
    // with the player in the window, or the list shown instead, it is left empty.
    if (placement.showsPlayer) {
        if (_groupView)
            _groupView->clear();
        // 6. The player fills the right-hand side: the group goes, and the selections
        // frozen for it are let go rather than restored into an empty grid.
        setShownInWindow(_groupView, false);
        setShownInWindow(groupScopeBar, false);
        releaseFrozenSelections();
    } else {
        showGroupContent(reference, items, showsScopeBar, showsSubgroups, modeButtonsEnabled, modeButtonsHidden);
    }

    // 15. Titles, status, buttons and window levels, on every path.
    updateWindowTitles();
    updateStatusFields();
    statusHold.reset(); // the status now (unless an outer refresh or restore still runs)
    updateButtons();
    updateWindowLevels();
    if (_mainWindow)
        _mainWindow->update();
    if (--_userInterfaceRefreshDepth == 0 && _updateUserInterfaceHook)
        _updateUserInterfaceHook();
}

// Steps 3 and 4: the shown container and the history; the content of the searched
// container, split into movies and subgroups; what the header shows of it.
ArrayPtr PMMainController::updateGroupContent(bool computesGroupContent, bool hideSubgroups, bool hideFlattenedOnly)
{
    platform::UserDefaults& d = defaults();
    bool showsScopeBar = false;
    bool showsSubgroups = true;
    bool modeButtonsEnabled = false;
    bool modeButtonsHidden = true;
    ArrayPtr items;
    if (computesGroupContent) {
        updateGroupItemsParentAndContainerHistory();
        if (const PMLibraryContainerPtr reference = _groupItemsParentOrSearchReferenceContainer) {
            bool forceModeButtonsHidden = false;
            items = reference->sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(false);
            if (!items) {
                if (_groupItemsParent)
                    items = _groupItemsParent->sortedChildren();
                showsSubgroups = !hideSubgroups;
                if (hideSubgroups && hideFlattenedOnly && _groupItemsParent && !_groupItemsParent->value(QStringLiteral("Flattened")).toBool())
                    showsSubgroups = !_groupItemsParent->value(QStringLiteral("Flattened Non-Others")).toBool();
            } else if (reference->isOnlineItem() || (reference->query().isEmpty() && !canIntersectSearch())) {
                showsSubgroups = !hideSubgroups;
            } else {
                showsScopeBar = true;
                showsSubgroups = !hideSubgroups;
                if (_numberOfSelectedLibraryFiles == 0) {
                    if (d.boolForKey(prefs::keys::GroupSearchCriterionGroups)) {
                        // Found groups are the point of such a search: they show, and so
                        // does the grid whatever mode the container is in.
                        forceModeButtonsHidden = true;
                        showsSubgroups = true;
                    } else {
                        showsSubgroups = !hideSubgroups || hideFlattenedOnly;
                    }
                }
            }
            if (items) {
                _groupMovieItems->values().reserve(std::size_t(items->count()));
                for (const Value& item : *items)
                    (PMMovie(item) ? _groupMovieItems : _groupSubgroupItems)->append(item);
            }
            if (!_groupItemsParent || _groupItemsParent->topLevelRole().isEmpty()) {
                modeButtonsEnabled = true;
                modeButtonsHidden = forceModeButtonsHidden || _groupMovieItems->isEmpty();
            }
        }
    }
    _groupShowsScopeBar = showsScopeBar;
    _groupShowsSubgroups = showsSubgroups;
    _groupModeButtonsEnabled = modeButtonsEnabled;
    _groupModeButtonsHidden = modeButtonsHidden;
    return items;
}

// Steps 7 to 14, with the group shown (not the player): the smart group's buttons, the
// sort, the display mode, the list or the grid filled, the scope bar, the back button and
// the header.
void PMMainController::showGroupContent(const PMLibraryContainerPtr& reference, const ArrayPtr& items, bool showsScopeBar, bool showsSubgroups,
                                        bool modeButtonsEnabled, bool modeButtonsHidden)
{
    platform::UserDefaults& d = defaults();
    // 7. Smart-group buttons. Changing relative date criteria from the header is not
    // offered, so those two stay hidden.
    const bool isSmartGroup = _groupItemsParent && _groupItemsParent->isSmartGroup();
    if (smartGroupEditButton) {
        smartGroupEditButton->setVisible(isSmartGroup);
        setSmallSystemFont(smartGroupEditButton);
    }
    for (QWidget* button : {smartGroupIncreaseRelativeDateCriteriaUnitsButton.data(), smartGroupDecreaseRelativeDateCriteriaUnitsButton.data()})
        if (button)
            button->setVisible(false);

    // 8. The sort of the shown content.
    if (!reference) {
        _groupListPrimarySortCriterion = d.stringForKey(prefs::keys::GroupSortingCriterion);
        if (_groupListPrimarySortCriterion.isEmpty())
            _groupListPrimarySortCriterion = QStringLiteral("GroupListIndex");
        _groupListSortsDescending = d.boolForKey(prefs::keys::GroupSortingDirection);
    } else {
        const platform::DictionaryPtr search = reference->value(QStringLiteral("Search")).dictionary();
        _groupListPrimarySortCriterion = search && search->value(QStringLiteral("Disable Sorting")).toBool()
                                             ? QString()
                                             : reference->primarySortCriterionFromCSVString(nullptr, nullptr, true);
        _groupListSortsDescending = reference->sortsDescendingAccordingToAncestor(nullptr);
    }

    // 9. The display mode and the three mode buttons.
    long long stored = PMPreviewDisplayMode;
    if (modeButtonsEnabled && reference) {
        stored = reference->displayMode();
        const std::pair<QWidget*, long long> buttons[] = {
            {groupViewListModeButton, PMListDisplayMode}, {groupViewPreviewModeButton, PMPreviewDisplayMode}, {groupViewCoverModeButton, PMCoverDisplayMode}};
        for (const auto& [widget, mode] : buttons)
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                button->setCheckable(true);
                button->setChecked(stored == mode);
            }
    }
    _effectiveDisplayMode = PMEffectiveDisplayMode(stored, modeButtonsEnabled, modeButtonsHidden);
    for (QWidget* button : {groupViewListModeButton.data(), groupViewPreviewModeButton.data(), groupViewCoverModeButton.data()})
        if (button) {
            button->setEnabled(modeButtonsEnabled);
            button->setVisible(!modeButtonsHidden);
        }
    PMIsCoverDisplayMode = _effectiveDisplayMode == PMCoverDisplayMode;
    // The grid draws covers (and reads the covers' size and layout) in that mode.
    PMGroupView::coverMode() = PMIsCoverDisplayMode;
    const bool listMode = _effectiveDisplayMode == PMListDisplayMode;
    if (auto* window = qobject_cast<PMMainWindow*>(_mainWindow.data()))
        window->showGroupList(listMode);
    if (!listMode || !groupListTable)
        setShownInWindow(_groupView, true);

    fillGroupViews(items, listMode, showsScopeBar, showsSubgroups);

    // 12. The scope bar, with the search settings selected in it.
    setShownInWindow(groupScopeBar, showsScopeBar);
    if (auto* bar = qobject_cast<PMQuibScopeBar*>(groupScopeBar.data()); bar && showsScopeBar && bar->reloadData() && reference && !reference->isOnlineItem())
        selectGroupScopeBarItemsFromUserDefaults(bar);

    // 13. The back button.
    if (groupBackButton) {
        const bool canGoBack = goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(true);
        const bool enabled = canGoBack || relevantSelectedContainerHistoryAsPreflightCheck(true).has_value();
        groupBackButton->setEnabled(enabled);
        if (auto* button = qobject_cast<PMToolbarButton*>(groupBackButton.data()))
            button->setWaitsForMenu(canGoBack);
        else
            groupBackButton->setProperty("waitsForMenu", canGoBack);
        groupBackButton->setVisible(enabled || !PMShowsToolbarButtonShapes);
    }

    layoutGroupHeader(reference, showsSubgroups);

    trimPreviewSize();
    if (_groupView)
        _groupView->tileWithAdjustedSize(true, true, true);
    unfreezeSelections();
}

// Steps 10 and 11: the list takes its columns, rows and sort column; the grid the content.
void PMMainController::fillGroupViews(const ArrayPtr& items, bool listMode, bool showsScopeBar, bool showsSubgroups)
{
    // 10, 11. The list takes its columns, rows and sort column; the grid the content.
    if (PMGroupTableView* list = groupListTable) {
        list->updateTableColumns();
        list->reloadData();
        if (listMode) {
            setGroupListSortColumn(_groupListPrimarySortCriterion);
            groupListAccess().setSortIndicator(_groupListSortColumn, _groupListSortsDescending);
        }
    } else if (listMode) {
        setGroupListSortColumn(_groupListPrimarySortCriterion);
    }
    if (!listMode)
        PMUsesLightThumbnailBackground = usesLightThumbnailBackground();
    if (PMGroupView* grid = listMode && groupListTable ? nullptr : _groupView.data()) {
        // The grid and its scope bar are dark unless the tiles follow a light desktop.
        setDarkLook(grid, !PMUsesLightThumbnailBackground);
        setDarkLook(groupScopeBar, !PMUsesLightThumbnailBackground);
        grid->setHasScopeBar(showsScopeBar);
        if (PMBlendsSubgroupPreviews && showsSubgroups) {
            std::vector<Value> shown;
            if (items) {
                shown.reserve(size_t(items->count()));
                for (const Value& item : *items) {
                    PMLibraryContainer* container = PMContainer(item);
                    if (container && PMMovie(item) == nullptr) {
                        const ArrayPtr movies = container->allNonProxyMovieChildren();
                        if (!movies || movies->isEmpty())
                            continue;
                    }
                    shown.push_back(item);
                }
            }
            grid->setItems(_groupItemsParent, shown);
        } else {
            // The movies, then the subgroups, as they stand: no copy of the content.
            grid->setItems(_groupItemsParent, _groupMovieItems->values(),
                           showsSubgroups ? std::span<const Value>(_groupSubgroupItems->values()) : std::span<const Value>());
        }
    } else if (_groupView) {
        _groupView->clear();
    }
}

// Step 14: the header from left to right, the slider's knob and the status line.
void PMMainController::layoutGroupHeader(const PMLibraryContainerPtr& reference, bool showsSubgroups)
{
    // 14. The header from left to right, the slider's knob and the status line.
    PMHeaderLayoutInput in;
    in.tabViewX = _groupView && _groupView->parentWidget() ? _groupView->x() : 0;
    in.spacing = PMGroupView::spacing();
    in.showsButtonShapes = PMShowsToolbarButtonShapes;
    in.back = frameOf(groupBackButton);
    in.listMode = frameOf(groupViewListModeButton);
    in.coverMode = frameOf(groupViewCoverModeButton);
    in.increaseUnits = frameOf(smartGroupIncreaseRelativeDateCriteriaUnitsButton);
    in.decreaseUnits = frameOf(smartGroupDecreaseRelativeDateCriteriaUnitsButton);
    in.edit = frameOf(smartGroupEditButton);
    if (smartGroupEditButton)
        in.edit.width = smartGroupEditButton->sizeHint().width();
    in.searchField = frameOf(searchField);
    in.headerWidth = searchField && searchField->parentWidget() ? searchField->parentWidget()->width() : 0;
    in.canGetMoreOnlineChildren = reference && reference->canGetMoreOnlineChildren();
    if (searchMoreButton) {
        setSmallSystemFont(searchMoreButton);
        in.moreButtonWidth = searchMoreButton->sizeHint().width();
    }
    QWidget* sliderView = previewSizeSlider ? previewSizeSlider->parentWidget() : nullptr;
    const bool sliderShown = _effectiveDisplayMode != PMListDisplayMode && (!_groupMovieItems->isEmpty() || (showsSubgroups && !_groupSubgroupItems->isEmpty()));
    in.sliderShown = sliderShown && sliderView;
    in.sliderViewWidth = sliderView ? sliderView->width() : 0;
    const PMHeaderLayout layout = PMComputeHeaderLayout(in);

    if (in.back.shown)
        moveTo(groupBackButton, layout.backX);
    if (in.listMode.shown)
        for (QWidget* button : {groupViewListModeButton.data(), groupViewPreviewModeButton.data(), groupViewCoverModeButton.data()})
            shiftBy(button, layout.modeButtonsShift);
    if (in.edit.shown && isPlacedByHand(smartGroupEditButton))
        smartGroupEditButton->setGeometry(int(std::lround(layout.editX)), smartGroupEditButton->y(), int(std::lround(layout.editWidth)),
                                          smartGroupEditButton->height());
    if (searchField) {
        moveTo(searchField, layout.searchFieldX);
        searchField->setEnabled(reference != nullptr);
        searchField->setVisible(reference != nullptr);
    }
    if (searchMoreButton) {
        searchMoreButton->setEnabled(in.canGetMoreOnlineChildren);
        searchMoreButton->setVisible(in.canGetMoreOnlineChildren);
        if (in.canGetMoreOnlineChildren && isPlacedByHand(searchMoreButton))
            searchMoreButton->setGeometry(int(std::lround(layout.moreButtonX)), searchMoreButton->y(), int(std::lround(layout.moreButtonWidth)),
                                          searchMoreButton->height());
    }
    if (auto* slider = qobject_cast<QAbstractSlider*>(previewSizeSlider.data())) {
        const double canvas = PMPreviewSizeSliderCanvasWidth(_groupView);
        const double value = PMPreviewSizeSliderValue(PMGroupView::previewViewWidthForContainer(reference), slider->minimum(), slider->maximum(),
                                                      in.spacing, canvas,
                                                      PMPreviewSizeSliderMostColumns(_groupView, slider->minimum(), in.spacing, canvas));
        const QSignalBlocker quiet(slider); // placing the knob is no request to resize
        slider->setValue(int(std::lround(value)));
    }
    if (sliderView && sliderView != _mainWindow) {
        moveTo(sliderView, layout.sliderViewX);
        sliderView->setVisible(sliderShown);
    }
    if (groupStatusField) {
        groupStatusField->setVisible(layout.statusShown);
        if (isPlacedByHand(groupStatusField))
            groupStatusField->setGeometry(int(std::lround(layout.statusX)), groupStatusField->y(), int(std::lround(layout.statusWidth)),
                                          groupStatusField->height());
    }
}

void PMMainController::updateWindowLevels()
{
    QWidget* window = playerWindow();
    setWindowFloats(window, defaults().boolForKey(prefs::keys::StayInFront) && !_isPresenting);
    if (_mainWindow && window != _mainWindow.data())
        setWindowFloats(_mainWindow, false);
}
