// The window layer's side of playback: each request of the playback part goes to the
// controller's operation of the same name, directly, so an answer comes back at once.
#include "library/model/PMMainController.h"

#include "playback/PMPlaybackController.h"

#include <QtGui/QAction>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QWidget>

void PMMainController::connectPlaybackController()
{
    if (_playbackControllerIsConnected)
        return;
    _playbackControllerIsConnected = true;
    PMPlaybackController* p = &playbackController();
    using P = PMPlaybackController;
    constexpr auto direct = Qt::DirectConnection;

    // The library window.
    connect(p, &P::updateUserInterfaceRequested, this, [this] { updateUserInterface(); }, direct);
    connect(p, &P::updateStatusFieldsRequested, this, [this] { updateStatusFields(); }, direct);
    connect(p, &P::updateWindowLevelsRequested, this, [this] { updateWindowLevels(); }, direct);
    connect(p, &P::freezeSelectionsRequested, this, [this] { freezeSelections(); }, direct);
    connect(p, &P::unfreezeSelectionsRequested, this, [this] { unfreezeSelections(); }, direct);
    connect(p, &P::selectLibraryItemRequested, this, [this](const platform::Value& item) { selectLibraryItem(item); }, direct);
    connect(p, &P::selectLibraryItemsRequested, this, [this](const platform::ArrayPtr& items) { selectLibraryItems(items); }, direct);
    connect(p, &P::clearGroupItemSelectionRequested, this, [this](QObject* sender) { clearGroupItemSelection(sender); }, direct);
    connect(p, &P::updatePreviewByLoadingPosterImageForMovieRepresentationRequested, this,
            [this](const platform::Value& movie) { updatePreviewByLoadingPosterImageForMovieRepresentation(movie); }, direct);
    connect(p, &P::libraryListRowForItem, this, [this](const platform::Value& item) { return libraryListRowForItem(item); }, direct);
    connect(p, &P::outlineViewShowMovieChildrenOfContainer, this,
            [this](const PMLibraryContainerPtr& container) { return outlineViewShowMovieChildrenOfContainer(container); }, direct);
    connect(p, &P::visibleTopLevelLibraryItems, this, [this] { return visibleTopLevelLibraryItems(); }, direct);

    // Window presentation and sizing.
    connect(p, &P::showMainWindowRequested, this, [this] { showMainWindow(); }, direct);
    connect(p, &P::showPlayerWindowIfNotVisibleRequested, this, [this](bool only) { showPlayerWindowIfNotVisible(only); }, direct);
    connect(p, &P::saveMainWindowSizeRequested, this, [this] { saveMainWindowSize(); }, direct);
    connect(p, &P::resizeWindowRequested, this,
            [this](QWidget* window, QSizeF size, bool isMainWindowSize) { resizeWindow(window, size, isMainWindowSize); }, direct);
    connect(p, &P::resizePlayerWindowForCurrentMagnificationRequested, this, [this] { resizePlayerWindowForCurrentMagnification(); }, direct);
    connect(p, &P::fitPlayerWindowToScreenRequested, this, [this] { fitPlayerWindowToScreen(); }, direct);
    connect(p, &P::playerWindowZoomFrameWithAspectRatioLock, this,
            [this](bool lock, bool center, bool change) { return playerWindowZoomFrameWithAspectRatioLock(lock, center, change); }, direct);
    connect(p, &P::currentPictureNaturalSize, this, [this] { return currentPictureNaturalSize(); }, direct);
    connect(p, &P::playerAreaSizeOfWindow, this, [this](QWidget* window, double* getY) { return playerAreaSizeOfWindow(window, getY); }, direct);

    // Menus, keys and the info panel.
    connect(p, &P::contextMenuForCurrentMovie, this, [this] { return contextMenuForCurrentMovie(); }, direct);
    connect(p, &P::menuForSlider, this, [this](QWidget* slider) { return menuForSlider(slider); }, direct);
    connect(p, &P::handleKeyDown, this, [this](QKeyEvent* event, bool remote) { return handleKeyDown(event, remote); }, direct);
    connect(p, &P::cachedInfoMovieRepresentationsSorted, this, [this](bool sorted) { return cachedInfoMovieRepresentationsSorted(sorted); }, direct);
    connect(p, &P::infoMovieRepresentationsForMenuItem, this,
            [this](const QAction* item) { return infoMovieRepresentationsForMenuItem(item); }, direct);

    // The application icon.
    connect(p, &P::updateApplicationIconRequested, this, [this] { updateApplicationIcon(); }, direct);
}
