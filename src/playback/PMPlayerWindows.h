// The windows that can hold the movie player: one small class tree with the same player
// container, the same key handling (keys go to the controller first), the same full-screen
// behaviour (the full-screen command becomes presentation mode) and the same status-field
// look. The dedicated player window keeps a footer with the status line; the window
// manager draws its title bar, which therefore never hides.
#pragma once

#include <QtCore/QPointer>
#include <QtCore/QRectF>
#include <QtWidgets/QWidget>

#include <functional>

#include "ui/kit/PMActionButtonTextField.h"
class QAction;

// Seconds after which hovering interface vanishes while the pointer rests elsewhere:
// "Window Vanish Interval", 5 when below 1.
int PMWindowVanishInterval();

// The fixed playback controls band is as high as the controls.
inline constexpr double kPMPlaybackControlsBandHeight = 61;

// The view holding the movie view in a player window; its context menu is the controller's.
class PMPlayerContainerView : public QWidget {
    Q_OBJECT
public:
    explicit PMPlayerContainerView(QWidget* parent = nullptr);
    bool mouseDownCanMoveWindow() const { return false; }
    std::function<void(QContextMenuEvent*)> contextMenuHandler;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// Moving the container for a fixed controls band: the frame is in bottom-up coordinates
// (y is the bottom edge), positions -1 below, 0 none, anything else above.
QRectF PMPlayerContainerFrameForControlsPosition(QRectF frame, int oldPosition, int newPosition);

class PMPlayerWindowPrototype : public QWidget {
    Q_OBJECT
public:
    explicit PMPlayerWindowPrototype(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    // Stored once; a second container is refused (logged).
    void setPlayerContainer(QWidget* container);
    QWidget* playerContainer() const { return _playerContainer; }
    virtual void adjustPlayerContainerFrameWithPlaybackControlsPosition(int /*position*/) {}
    virtual bool usesCustomFullScreenMode() const { return true; }
    void toggleFullScreen(QObject* sender);
    // The full-screen command's title and availability.
    bool validateFullScreenItem(QAction* item) const;
    bool canBecomeKeyWindow() const { return true; }
    bool canBecomeMainWindow() const { return true; }

    // The controller's share (its own calls by default): key presses first, presentation.
    std::function<bool(QKeyEvent*)> keyDownHandler;
    // Set once the application offers key presses to the handler before the focus widget
    // sees them; the window then no longer offers the ones that reach it.
    static bool& keyDownIsOfferedByApplication();
    std::function<void(QObject*)> togglePresentationHandler;
    std::function<bool()> isPresenting;
    std::function<bool()> canTogglePresentation;

protected:
    bool event(QEvent* event) override;

private:
    QPointer<QWidget> _playerContainer;
};

class PMPlayerWindow : public PMPlayerWindowPrototype {
    Q_OBJECT
public:
    explicit PMPlayerWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    void adjustPlayerContainerFrameWithPlaybackControlsPosition(int position) override;
    int playbackControlsPosition() const { return _playbackControlsPosition; }
    virtual void updateAppearance();
    PMLinkTextField* statusField() const { return _statusField; }
    void setStatusField(PMLinkTextField* field);

protected:
    void changeEvent(QEvent* event) override;

private:
    int _playbackControlsPosition = 0;
    QPointer<PMLinkTextField> _statusField;
};

class PMDedicatedPlayerWindowFooterView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void setDrawsSeparator(bool draws);
    bool drawsSeparator() const { return _drawsSeparator; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool _drawsSeparator = false;
};

class PMDedicatedPlayerWindow : public PMPlayerWindow {
    Q_OBJECT
public:
    explicit PMDedicatedPlayerWindow(QWidget* parent = nullptr);
    // Lays out the footer, restores the frame, decides the chrome.
    void awakeFromNib();
    void updateAppearance() override;
    // The window manager's title bar cannot fade: there is no chrome view to hide.
    QWidget* chromeView() const { return nullptr; }
    bool canHideChrome() const { return chromeView() != nullptr; }
    void updateCanHideChrome();
    bool hideChrome();
    void hideChromeByFadingOutIfMouseOutside() {}
    void showChromeByFadingIn(bool /*fade*/) {}
    double hiddenChromeTitlebarHeight() const { return 0; }
    PMDedicatedPlayerWindowFooterView* footerView() const { return _footerView; }
    void setFooterView(PMDedicatedPlayerWindowFooterView* footer) { _footerView = footer; }
    // Direct children of the content that move with the footer (all but the footer).
    QList<QWidget*> contentSubviews() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void saveFrame();
    QPointer<PMDedicatedPlayerWindowFooterView> _footerView;
    bool m_forcedDark = false;
};

class PMFullScreenPlayerWindow : public PMPlayerWindowPrototype {
    Q_OBJECT
public:
    explicit PMFullScreenPlayerWindow(QWidget* parent = nullptr);
    bool usesCustomFullScreenMode() const override { return _usesCustomFullScreenMode; }
    void setUsesCustomFullScreenMode(bool uses) { _usesCustomFullScreenMode = uses; }

private:
    bool _usesCustomFullScreenMode = false;
};

// Set on the library window while the user has closed it and a player window remains: when
// the player goes too, the library window comes back rather than leave no window at all.
inline constexpr const char* kPMLibraryWindowClosedProperty = "PMLibraryWindowClosedByUser";
