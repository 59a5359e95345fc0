// The library window as the controller builds and drives it: the "MainWindow" builder,
// the sidebar's hiding and showing, the divider's limits, the window's frame kept across
// runs, the window order, and the grid's content until the interface refresh shows it.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Responder.h"
#include "platform/Alert.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/kit/PMSmallControls.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMMovieOutlineView.h"
#include "ui/library_window/PMQuibScopeBar.h"
#include "ui/library_window/PMStatusFields.h"
#include "ui/library_window/PMToolbarButtons.h"
#include "ui/library_window/PMZiruderShiftButton.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/library_window/PMSliderExtremeView.h"
#include "images/NSImage+PMImageHash.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QScreen>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

// Set on the library window when its saved frame was restored (read by the start-up
// sizing in PMMainController+WindowSizing.cpp and PMMainController+MainWindow.cpp).
constexpr const char* kPMMainWindowFrameRestoredProperty = "PMMainWindowFrameRestored";

const QString kFrameKey = prefs::keys::NSWindowFramePMMPPlayerWindow;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

PMMainWindow* libraryWindow()
{
    return qobject_cast<PMMainWindow*>(mainController().mainWindow());
}

// The controller answers the divider's questions.
class ZiruderDelegate : public PMZiruderShiftButtonDelegate {
public:
    QString ziruderShiftButtonAutoSaveName(PMZiruderShiftButton*) override { return mainController().ziruderShiftButtonAutoSaveName(); }
    double ziruderShiftButtonLeftMinimumWidth(PMZiruderShiftButton*) override { return mainController().ziruderShiftButtonLeftMinimumWidth(); }
    double ziruderShiftButtonRightMinimumWidth(PMZiruderShiftButton*) override
    {
        return mainController().ziruderShiftButtonRightMinimumWidth();
    }
    void ziruderShiftButtonDidShift(PMZiruderShiftButton*, bool done) override { mainController().ziruderShiftButtonDidShift(done); }
};

ZiruderDelegate& ziruderDelegate()
{
    static ZiruderDelegate delegate;
    return delegate;
}

} // namespace

QWidget* PMMainController::makeMainWindow(QObject*)
{
    PMMainController& c = mainController();
    auto* window = new PMMainWindow;
    window->setWindowTitle(QStringLiteral("Pellis"));
    window->resize(1100, 700);
    // The sidebar's list, and the scope bar above the grid (shown while a search runs).
    window->setSourceListView(new PMMovieOutlineView(c));
    auto* scopeBar = new PMQuibScopeBar;
    scopeBar->setDelegate(c.scopeBarDelegate());
    window->setScopeBar(scopeBar);
    scopeBar->hide();
    c.installMainWindow(window);
    return window;
}

void PMMainController::installMainWindow(QWidget* widget)
{
    auto* window = qobject_cast<PMMainWindow*>(widget);
    if (!window)
        return;
    _mainWindow = window;
    _mainWindowHidesTitlebar = PMMainWindowHidesTitlebar;
    // The outlets the controller's window code asks.
    _groupView = window->groupView();
    searchField = window->searchField();
    groupScopeBar = window->scopeBar();
    groupViewListModeButton = window->groupViewListModeButton();
    groupViewPreviewModeButton = window->groupViewPreviewModeButton();
    groupViewCoverModeButton = window->groupViewCoverModeButton();
    libraryAddButton = window->libraryAddButton();
    libraryDeleteButton = window->libraryDeleteButton();
    QObject::connect(window->libraryAddButton(), &QAbstractButton::clicked, window, [this, window] { addContainer(window->libraryAddButton()); });
    QObject::connect(window->libraryDeleteButton(), &QAbstractButton::clicked, window, [this] {
        if (const ArrayPtr items = selectedLibraryItems(); items && !items->isEmpty() && canDragOrDeleteItems(items, nullptr, nullptr))
            deleteItems(items);
        else
            platform::beep();
    });
    groupBackButton = window->groupBackButton();
    // A click sends the action; a press held on it opens the menu of earlier selections.
    window->groupBackButton()->setAction(QStringLiteral("goBackToPreviouslySelectedContainers"));
    window->groupBackButton()->setDelegate(&backButtonMenuDelegate());
    // The tile size slider sends "changePreviewSize" itself around and during a drag; its
    // ends jump it to the smallest or largest tiles.
    previewSizeSlider = window->previewSizeSlider();
    for (const bool large : {false, true})
        window->previewSizeSliderEnd(large)->sliderAction = [this](QSlider* s) { changePreviewSize(s); };
    _mainWindowPlayerContainer = window->playerContainerView();
    // The library window is a player window: the controller has its keys first.
    window->keyDownHandler = [this](QKeyEvent* event) { return handleKeyDown(event, false); };
    window->searchFieldTextDidChange = [this, window] { updateResultsForSearchField(window->searchField(), true); };
    window->ziruderButton()->setDelegate(&ziruderDelegate());
    window->groupHeaderView()->mouseDownActionBlock = [this, window](QMouseEvent* event) {
        // A double click in the header does what the setting asks of a double click on a
        // title bar, else scrolls the grid to its top or bottom.
        if (event->type() != QEvent::MouseButtonDblClick)
            return false;
        const QString action = PMMainWindowHidesTitlebar ? defaults().stringForKey(prefs::keys::AppleActionOnDoubleClick) : QString();
        if (action == QLatin1String("Minimize"))
            window->showMinimized();
        else if (action == QLatin1String("Maximize"))
            window->isMaximized() ? window->showNormal() : window->showMaximized();
        else
            scrollToGroupTopOrBottom();
        return true;
    };
    QObject::connect(window->libraryListVisibilitySwitch(), &QAbstractButton::clicked, window, [this] { toggleLibrary(nullptr); });
    window->groupStatusField()->setDelegate(this);
    window->groupView()->setAdjustsSpacingForGlass(PMMainWindow::usesGlass());
    // The mode buttons switch between the list and the grid of the shown container.
    QObject::connect(window->groupViewListModeButton(), &QAbstractButton::clicked, window,
                     [this, window] { changeGroupViewMode(window->groupViewListModeButton()); });
    QObject::connect(window->groupViewPreviewModeButton(), &QAbstractButton::clicked, window,
                     [this, window] { changeGroupViewMode(window->groupViewPreviewModeButton()); });
    QObject::connect(window->groupViewCoverModeButton(), &QAbstractButton::clicked, window,
                     [this, window] { changeGroupViewMode(window->groupViewCoverModeButton()); });

    // The window's own actions, unless something registered them first.
    const auto addAction = [this](const QString& name, std::function<void(QObject*)> run) {
        if (!_actions.contains(name))
            _actions.insert(name, std::move(run));
    };
    addAction(QStringLiteral("goBackToPreviouslySelectedContainers"), [this](QObject* sender) { goBackToPreviouslySelectedContainers(sender); });
    addAction(QStringLiteral("toggleLibrary"), [this](QObject* sender) { toggleLibrary(sender); });
    addAction(QStringLiteral("showInbox"), [this](QObject*) { showInbox(); });
    addAction(QStringLiteral("clearGroupItemSelection"), [this](QObject*) {
        if (PMMainWindow* main = libraryWindow()) {
            main->groupView()->selectItems(Array::make(), true, false, false);
            updateStatusFields();
        }
    });

    // What the menus ask of the window.
    const QPointer<PMMainWindow> guarded(window);
    _menuValidation.isSearchFieldHidden = [guarded] { return !guarded || guarded->searchField()->isHidden(); };
    _menuValidation.isPreviewModeButtonEnabled = [guarded] { return guarded && guarded->groupViewPreviewModeButton()->isEnabled(); };
    // Tiles of one fixed ratio (no scale to fit, computed ratio or per-item heights) offer
    // that ratio to the select-area tool.
    _fixedTileAspectRatio = []() -> std::optional<double> {
        if ((PMGroupView::currentLayout() & 11) != 0)
            return std::nullopt;
        return PMIsCoverDisplayMode ? 1.0 / PMGroupView::coverAspectRatio() : PMGroupView::previewAspectRatio();
    };
    // The sidebar's hiding, and what the view options need of the window.
    _hideSidebar = [this](bool hide, bool user, bool tile) { hideSidebar(hide, user, tile); };
    _scopeBarsFollowMainWindowDarkness = true;
    QObject::connect(this, &PMMainController::previewSizeNeedsTrim, this, &PMMainController::trimPreviewSize, Qt::UniqueConnection);
    QObject::connect(this, &PMMainController::statusFeedback, window, [window](const QString& text) {
        // A short note in the status line until the next status update.
        window->groupStatusField()->setStringValue(text);
    });
    // The grid's context menu is the menus' answer to the controller's request.
    QObject::connect(window->groupView(), &PMGroupView::contextMenuRequested, this, &PMMainController::groupViewContextMenuRequested,
                     Qt::UniqueConnection);
    // Searches and sorts that compare pictures run again as the picture hashes arrive.
    if (!PMImageHashPassDidStoreHash())
        PMImageHashPassDidStoreHash() = [this](PMMovieRepresentationPrototype&) { imageHashDidArrive(); };
    installMainWindowDropAndMaintenanceCalls();
    installWindowActivationOrder();
    restoreMainWindowFrame();
    window->layoutNow();
    window->ziruderButton()->tileUsingLeftColumnAutoSaveName();
    if (defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar))
        defaults().setBool(true, prefs::keys::HideLibrary);
    hideSidebar(defaults().boolForKey(prefs::keys::HideLibrary), false, false);
    updateMainWindowButtons();
}

// The window's shares of the earlier parts: the drag's sidebar, the buttons and the
// progress sheet of the drops and of the library's maintenance.
void PMMainController::installMainWindowDropAndMaintenanceCalls()
{
    _dropWindow.showSidebarWhileDragging = [this] {
        if (!_canShowSidebarWhileDragging || !defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar))
            return;
        _canShowSidebarWhileDragging = false;
        QTimer::singleShot(0, &PMMainController::mainController(), [this] { hideSidebar(false, true, true); });
    };
    _dropWindow.updateButtons = [this] { updateMainWindowButtons(); };
    _dropWindow.progressSheet = [this](bool show) {
        if (show)
            showProgressSheetWithStatus(QString(), false, mainWindow(), _progressSheetMayCancel);
        else if (_progressPanel)
            _progressPanel->hide();
    };
    _maintenanceWindow.progressUpdate = [this](const QString& text, int percent) {
        if (!_progressPanel)
            return;
        if (auto* label = _progressPanel->findChild<QLabel*>(QStringLiteral("progressText")); label && !text.isEmpty())
            label->setText(text);
        if (auto* bar = _progressPanel->findChild<QProgressBar*>(QStringLiteral("progressBar"))) {
            if (percent < 0) {
                bar->setRange(0, 0);
            } else {
                bar->setRange(0, 100);
                bar->setValue(percent);
            }
        }
        // The work runs on the main thread: the sheet is drawn and its Cancel button
        // heard now and then (the sheet keeps the window itself from taking input).
        static QElapsedTimer lastPass;
        if (!lastPass.isValid() || lastPass.elapsed() > 50) {
            lastPass.restart();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    };
    _maintenanceWindow.progressCancelPressed = [this] {
        if (!_progressPanel)
            return false;
        auto* cancel = _progressPanel->findChild<QPushButton*>(QStringLiteral("progressCancelButton"));
        return cancel && cancel->isChecked();
    };
}

// Window order: the windows in the order they were last active.
void PMMainController::installWindowActivationOrder()
{
    static bool observing = false;
    if (!observing) {
        observing = true;
        QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget*, QWidget* now) {
            if (!now)
                return;
            QWidget* window = now->window();
            auto& order = mainController()._windowActivationOrder;
            order.removeIf([window](const QPointer<QWidget>& w) { return !w || w == window; });
            order.prepend(window);
        });
    }
    _orderedWindowsOverride = [this] {
        QList<QWidget*> windows;
        QWidget* active = QApplication::activeWindow();
        if (active && active->isVisible())
            windows.append(active);
        for (const QPointer<QWidget>& w : _windowActivationOrder)
            if (w && w->isVisible() && !windows.contains(w.data()))
                windows.append(w.data());
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && !windows.contains(w))
                windows.append(w);
        return windows;
    };
}

namespace {

// The back button's menu: every earlier selection once, newest first, each choosing its
// containers again.
class BackButtonMenuDelegate final : public PMOptionalMenuButtonDelegate {
public:
    QMenu* menuForOptionalMenuButton(PMOptionalMenuButton* button) override
    {
        PMMainController& c = mainController();
        const auto history = c.relevantSelectedContainerHistoryAsPreflightCheck(false);
        if (!history || history->isEmpty())
            return nullptr;
        if (!m_menu)
            m_menu = new QMenu(button);
        c.populateHistoryMenu(m_menu, *history);
        return m_menu;
    }

private:
    QPointer<QMenu> m_menu;
};

} // namespace

QString PMMainController::historyMenuTitleForContainers(QList<PMLibraryContainerPtr> containers)
{
    if (containers.size() >= 2) {
        auto items = Array::make();
        for (const PMLibraryContainerPtr& container : containers)
            items->append(Value(container));
        PMSortLibraryItemsInPlace(items, QString(), false, nullptr);
        containers.clear();
        for (const Value& item : *items)
            if (PMLibraryContainerPtr container = PMContainerPtr(item))
                containers.append(container);
    }
    QStringList names;
    for (const PMLibraryContainerPtr& container : containers) {
        QString name = container->displayName();
        // A subdivision is told from its namesakes by the groups it lies in, down from the
        // smart group that made it: "2020 (By Year)".
        if (container->isSmartGroupSubdivision()) {
            QStringList path;
            if (const ArrayPtr ancestors = ancestorsOfLibraryItem(Value(container))) // nearest first
                for (const Value& v : *ancestors) {
                    PMLibraryContainer* ancestor = PMContainer(v);
                    if (!ancestor)
                        break;
                    path.prepend(ancestor->displayName());
                    if (!ancestor->isSmartGroupSubdivision())
                        break;
                }
            if (!path.isEmpty())
                name += QStringLiteral(" (%1)").arg(path.join(QStringLiteral(": ")));
        }
        names << name;
    }
    const bool intersection = defaults().stringForKey(prefs::keys::ImplicitMultipleSelectionSearch) == QLatin1String("Intersection");
    return names.join(intersection ? QStringLiteral(" ∩ ") : QStringLiteral(" ∪ "));
}

void PMMainController::populateHistoryMenu(QMenu* menu, const QList<QList<PMLibraryContainerPtr>>& history)
{
    menu->clear();
    for (const QList<PMLibraryContainerPtr>& containers : history) {
        if (containers.isEmpty())
            continue;
        QAction* item = menu->addAction(platform::escapedMenuTitle(historyMenuTitleForContainers(containers)));
        item->setIcon(containers.constFirst()->icon());
        QObject::connect(item, &QAction::triggered, menu, [containers] { mainController().selectHistoryContainers(containers); });
    }
}

PMOptionalMenuButtonDelegate& PMMainController::backButtonMenuDelegate()
{
    static BackButtonMenuDelegate delegate;
    return delegate;
}

void PMMainController::hideSidebar(bool hide, bool inResponseToUserActivity, bool tileGroupView)
{
    PMMainWindow* main = libraryWindow();
    if (inResponseToUserActivity) {
        // A name being typed in the sidebar is not taken away from under the typing.
        if (hide && libraryListView && libraryListView->isEditing())
            return;
        if (hide == defaults().boolForKey(prefs::keys::HideLibrary))
            return;
        defaults().setBool(hide, prefs::keys::HideLibrary);
    }
    _canShowSidebarWhileDragging = hide;
    if (!main)
        return;
    ++PMGroupView::animationSuppressionCounter();
    main->adjustToHiddenSidebar(hide);
    QWidget* sidebar = main->sourceListContainer();
    const int d = sidebar->width();
    const bool wasHidden = sidebar->isHidden();
    const bool fullScreen = isFullscreenContentWindow(main);
    // With the player in the window, the window gives up or takes the sidebar's room (its
    // width and the seam), so that the picture keeps its size.
    const bool playerInWindow = !fullScreen && playerIsInMainWindow() && main->playerContainerView()->isVisible();
    if (wasHidden != hide && playerInWindow && (hide || inResponseToUserActivity)) {
        const int contentWidth = main->contentView()->width();
        sidebar->setHidden(hide);
        main->layoutNow();
        const int room = contentWidth - main->contentView()->width();
        updateMainWindowMinimumSizeAndLibraryListWidthConstraints();
        main->resize(std::max(main->minimumWidth(), main->width() + room), main->height());
    } else {
        if (!hide && inResponseToUserActivity && wasHidden && !fullScreen && d + 560 > main->width())
            main->resize(d + 560, main->height());
        sidebar->setHidden(hide);
    }
    main->layoutNow();
    if (tileGroupView && wasHidden != hide && main->groupView()->isVisible())
        main->groupView()->tileWithAdjustedSize(true, false, false);
    main->libraryListVisibilitySwitch()->setToolTip(hide ? QObject::tr("Show Sidebar") : QObject::tr("Hide Sidebar"));
    updateMainWindowMinimumSizeAndLibraryListWidthConstraints();
    updateButtons();
    if (inResponseToUserActivity)
        updateStatusFields();
    --PMGroupView::animationSuppressionCounter();
}

void PMMainController::toggleLibrary(QObject*)
{
    if (defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar))
        defaults().setBool(false, prefs::keys::AutomaticallyHideAndShowSidebar);
    hideSidebar(!defaults().boolForKey(prefs::keys::HideLibrary), true, true);
}

double PMMainController::ziruderShiftButtonRightMinimumWidth() const
{
    PMMainWindow* main = libraryWindow();
    if (main && _currentMovieHasVideo && playerView && playerView->window() == main && main->playerContainerView()->isVisible())
        return -1;
    return 560;
}

void PMMainController::ziruderShiftButtonDidShift(bool done)
{
    updateMainWindowMinimumSizeAndLibraryListWidthConstraints();
    PMMainWindow* main = libraryWindow();
    if (!main)
        return;
    // While the divider drags, the grid lays out as in a live resize.
    main->groupView()->setLiveResize(PMLiveResizeCount > 0 && !done);
    updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
    if (main->groupView()->isVisible()) {
        // The tiles may not grow past the new width of the grid.
        trimPreviewSize();
        main->groupView()->tileWithAdjustedSize(true, false, false);
        saveMainWindowSize();
    } else if (playerView && playerView->window() == main) {
        playerView->update();
    }
}

void PMMainController::mainWindowDidResize()
{
    PMMainWindow* main = libraryWindow();
    if (!main || !main->isVisible())
        return;
    // The header's controls (shown or hidden with what the grid holds) set how narrow the
    // window may become.
    updateMainWindowMinimumSizeAndLibraryListWidthConstraints();
    saveMainWindowFrame();
}

void PMMainController::saveMainWindowFrame()
{
    PMMainWindow* main = libraryWindow();
    if (!main || !main->isVisible() || main->isFullScreen() || main->isMaximized() || main->isMinimized())
        return;
    const QRect g = main->geometry();
    const QString text = QStringLiteral("%1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height());
    if (defaults().stringForKey(kFrameKey) != text)
        defaults().setObject(Value(text), kFrameKey);
}

void PMMainController::restoreMainWindowFrame()
{
    PMMainWindow* main = libraryWindow();
    if (!main)
        return;
    setFrameAutosaveName(main, QStringLiteral("PMMPPlayerWindow"));
    const QStringList saved = defaults().stringForKey(kFrameKey).split(u' ', Qt::SkipEmptyParts);
    bool ok = saved.size() == 4;
    QRect frame;
    if (ok) {
        int numbers[4];
        for (int i = 0; i < 4 && ok; ++i)
            numbers[i] = saved[i].toInt(&ok);
        frame = QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
    }
    // A frame from another screen arrangement is kept only where it can still be seen.
    bool visible = false;
    if (ok && frame.width() >= 200 && frame.height() >= 150)
        for (QScreen* screen : QGuiApplication::screens())
            if (screen->availableGeometry().intersected(frame).width() >= 100 && screen->availableGeometry().intersected(frame).height() >= 50)
                visible = true;
    if (visible) {
        main->setGeometry(frame);
        main->setProperty(kPMMainWindowFrameRestoredProperty, true);
        return;
    }
    // The first time: a good share of the screen, centred.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        main->resize(std::min(1280, area.width() * 9 / 10), std::min(800, area.height() * 9 / 10));
    }
    centerOnce(main);
}
