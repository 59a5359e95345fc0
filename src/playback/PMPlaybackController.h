// The playback part of the main controller. Playback sits below the library window and the
// menus, so it never calls them: where playing a movie has to refresh, select, size or ask
// something of the window layer, it emits one of the signals below, and the window layer
// (PMMainController+PlaybackWiring.cpp) connects each to the controller's operation of the
// same name. The connections are direct: a signal that answers something (a size, a menu,
// the movies of the info panel) returns what the connected operation returned, and the
// default value while nothing is connected.
#pragma once

#include "platform/Value.h"

#include <QtCore/QObject>
#include <QtCore/QRectF>
#include <QtCore/QSizeF>

#include <memory>

class PMLibraryContainer;
class QAction;
class QKeyEvent;
class QMenu;
class QWidget;

class PMPlaybackController : public QObject {
    Q_OBJECT
public:
    explicit PMPlaybackController(QObject* parent = nullptr);
    ~PMPlaybackController() override;

Q_SIGNALS:
    // ---- The library window (ui/library_window)
    void updateUserInterfaceRequested();
    void updateStatusFieldsRequested();
    void updateWindowLevelsRequested();
    void freezeSelectionsRequested();
    void unfreezeSelectionsRequested();
    void selectLibraryItemRequested(const platform::Value& item);
    void selectLibraryItemsRequested(const platform::ArrayPtr& items);
    void clearGroupItemSelectionRequested(QObject* sender);
    void updatePreviewByLoadingPosterImageForMovieRepresentationRequested(const platform::Value& movie);
    // -1: the item has no row in the library list.
    qsizetype libraryListRowForItem(const platform::Value& item);
    bool outlineViewShowMovieChildrenOfContainer(const std::shared_ptr<PMLibraryContainer>& container);
    platform::ArrayPtr visibleTopLevelLibraryItems();

    // ---- Window presentation and sizing (ui/library_window)
    void showMainWindowRequested();
    void showPlayerWindowIfNotVisibleRequested(bool onlyWhenNotVisible);
    void saveMainWindowSizeRequested();
    void resizeWindowRequested(QWidget* window, QSizeF size, bool isMainWindowSize);
    void resizePlayerWindowForCurrentMagnificationRequested();
    void fitPlayerWindowToScreenRequested();
    QRectF playerWindowZoomFrameWithAspectRatioLock(bool lock, bool center, bool changeMagnificationSetting);
    QSizeF currentPictureNaturalSize();
    QSizeF playerAreaSizeOfWindow(QWidget* window, double* getY);

    // ---- Menus, keys and the info panel (ui/commands)
    QMenu* contextMenuForCurrentMovie();
    QMenu* menuForSlider(QWidget* slider);
    bool handleKeyDown(QKeyEvent* event, bool isRemoteInterfaceEvent);
    platform::ArrayPtr cachedInfoMovieRepresentationsSorted(bool sorted);
    platform::ArrayPtr infoMovieRepresentationsForMenuItem(const QAction* item);

    // ---- The application icon (services)
    void updateApplicationIconRequested();

    // ---- The remote interface window: what the remote's keys do while it shows. The
    // window connects these; while nothing is connected it is never visible.
    bool remoteInterfaceIsVisible();
    void remoteInterfaceEnterRequested();
    void remoteInterfaceEscapeRequested();
    void remoteInterfaceSelectParentRequested();
    void remoteInterfaceSelectChildRequested();
    void remoteInterfaceStepRequested(int delta);
};
