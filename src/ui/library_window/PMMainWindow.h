// The library window: the sidebar (source list) on the left, the handle between the sides,
// on the right a header strip (toolbar buttons, the group status line, the search field)
// above the scope bar and the grid, or the movie when it plays inside the window. The
// window manager draws the title bar; what the window would put into it sits in the
// header strip, painted in the window's own colours. Full screen is the window manager's.
// The views that paint the window's surfaces live here too. Main thread only.
#pragma once

#include "platform/Responder.h"
#include "platform/Value.h"
#include "playback/PMPlayerWindows.h"
#include "ui/kit/PMActionButtonTextField.h"
#include "ui/kit/PMViewBases.h"

#include <QtCore/QPointer>
#include <QtGui/QFont>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QWidget>

#include <functional>
#include <memory>

class PMAdaptiveSearchField;
class PMAdaptiveToolbarButton;
class PMGroupView;
class PMLibraryContainer;
class PMPreviewModeButton;
class PMGroupTableView;
class PMPreviewSizeSlider;
class PMSliderExtremeView;
class PMZiruderShiftButton;
class QAbstractButton;
class QStackedWidget;
class QVBoxLayout;

// The window-wide look, decided once before any window exists. Linux has no title-bar
// glass: the title bar counts as hidden (the header strip takes its place), corners are
// the window manager's.
extern bool PMMainWindowHidesTitlebar;
extern bool PMMainWindowUsesConcentricCorners;
extern double PMMainWindowCornerRadius;
extern double PMMainWindowButtonDistance;
// The header strip's height.
extern double PMMainWindowHeaderHeight;

// The interface darkness of the library window: 0 light to 4 fully dark; black above 2.
int PMMainWindowDarkness();
bool PMMainWindowHasBlackInterface();

// The status line of the header, with a thin progress bar below its text.
class PMMainWindowHeaderStatusField : public PMLinkTextField {
    Q_OBJECT
public:
    explicit PMMainWindowHeaderStatusField(QWidget* parent = nullptr);
    // Negative: no bar.
    double progressFraction() const { return _progressFraction; }
    void setProgressFraction(double fraction);
    // The bar's track and fill for a content frame, or empty rectangles without a bar.
    static void progressBarRects(const QRectF& content, double fraction, bool clipsToBounds, QRectF* track, QRectF* fill);
    // The styled parts: the title's length (bold), whether a status follows (" — " dimmed).
    void setStyledTitleLength(qsizetype length, bool withStatus);
    qsizetype styledTitleLength() const { return m_titleLength; }
    void drawText(QPainter& painter, const QRectF& textArea, const QString& shown, const QColor& color) const override;
    double drawnTextWidth(const QString& text) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QFont titleFont() const;
    double _progressFraction = -1.0;
    qsizetype m_titleLength = 0;
    bool m_withStatus = false;
};

// ---- The painted surfaces

class PMMainWindowBackgroundView : public PMKeyWindowReflectingView {
    Q_OBJECT
public:
    explicit PMMainWindowBackgroundView(QWidget* parent = nullptr);
    QWidget* leftView() const { return _leftView; }
    void setLeftView(QWidget* view) { _leftView = view; }
    // The sidebar's grey: lighter while the window is not active.
    static double sidebarGrey(bool mainWindow);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QWidget> _leftView;
};

class PMMainWindowHeaderView : public QWidget {
    Q_OBJECT
public:
    explicit PMMainWindowHeaderView(QWidget* parent = nullptr);
    // Takes a press first; answers whether it handled it.
    std::function<bool(QMouseEvent*)> mouseDownActionBlock;
    int separatorPriority() const { return _separatorPriority; }
    void setSeparatorPriority(int priority);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int _separatorPriority = 1;
};

class PMMainWindowFooterView : public PMKeyWindowReflectingView {
    Q_OBJECT
public:
    using PMKeyWindowReflectingView::PMKeyWindowReflectingView;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A warning above the grid on a yellow note.
class PMStickyNoteView : public PMMainWindowHeaderView {
    Q_OBJECT
public:
    using PMMainWindowHeaderView::PMMainWindowHeaderView;
    QString message() const { return _message; }
    void setMessage(const QString& message)
    {
        _message = message;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString _message;
};

class PMFakeTableHeaderView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class PMStickyNoteFakeTableHeaderView : public PMFakeTableHeaderView {
    Q_OBJECT
public:
    using PMFakeTableHeaderView::PMFakeTableHeaderView;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// ---- The window

class PMMainWindow : public PMPlayerWindow, public platform::Responder {
    Q_OBJECT
public:
    explicit PMMainWindow(QWidget* parent = nullptr);
    ~PMMainWindow() override;

    // No glass look on Linux.
    static bool usesGlass() { return false; }
    // "Single Window Mode": the full-screen command becomes presentation mode.
    bool usesCustomFullScreenMode() const override;

    // The parts.
    QWidget* sourceListView() const { return _sourceListView; }
    QWidget* sourceListContainer() const { return _sourceListContainer; }
    // The source list's button bar along the sidebar's bottom edge: shown while the add
    // button is enabled (the controller decides, Meta held or "Always Show Library Toolbar").
    QWidget* sidebarButtonBar() const { return _sidebarButtonBar; }
    QAbstractButton* libraryAddButton() const { return _libraryAddButton; }
    QAbstractButton* libraryDeleteButton() const { return _libraryDeleteButton; }
    QWidget* scopeBar() const { return _scopeBar; }
    PMGroupView* groupView() const { return _groupView; }
    // The list of the shown container (list mode).
    PMGroupTableView* groupList() const { return _groupList; }
    PMPlayerContainerView* playerContainerView() const { return _playerContainerView; }
    PMAdaptiveSearchField* searchField() const { return _searchField; }
    PMMainWindowHeaderStatusField* groupStatusField() const { return _groupStatusField; }
    // The footer along the window's bottom edge with the window's own status line and its
    // progress bar. It is kept only with "Hide Main Window Titlebar: Retain Footer" (the
    // window manager draws the title bar, so the status goes into the header); without it
    // the footer is hidden and the header's status field is the window's status field.
    PMMainWindowFooterView* footerView() const { return _footerView; }
    PMLinkTextField* footerStatusField() const { return _footerStatusField; }
    // The footer's progress bar; null once the footer is removed.
    QProgressBar* statusProgressIndicator() const { return _statusProgressIndicator; }
    PMMainWindowHeaderView* groupHeaderView() const { return _groupHeaderView; }
    PMZiruderShiftButton* ziruderButton() const { return _ziruderButton; }
    QWidget* contentView() const { return _contentView; }
    QWidget* containerView() const { return _containerView; }
    PMAdaptiveToolbarButton* libraryListVisibilitySwitch() const { return _libraryListVisibilitySwitch; }
    PMPreviewModeButton* groupViewPreviewModeButton() const { return _previewModeButton; }
    // Goes back to the containers chosen before; held, it lists them.
    PMAdaptiveToolbarButton* groupBackButton() const { return _backButton; }
    // The tile size slider and the view holding it with its two ends.
    PMPreviewSizeSlider* previewSizeSlider() const { return _previewSizeSlider; }
    QWidget* previewSizeSliderView() const { return _previewSizeSliderView; }
    PMSliderExtremeView* previewSizeSliderEnd(bool large) const { return large ? _previewSizeSliderLargeEnd : _previewSizeSliderSmallEnd; }
    PMPreviewModeButton* groupViewListModeButton() const { return _listModeButton; }
    PMPreviewModeButton* groupViewCoverModeButton() const { return _coverModeButton; }
    PMAdaptiveToolbarButton* clearTemporaryStorageButton() const { return _clearTemporaryStorageButton; }
    QMenuBar* menuBar() const { return _menuBar; }

    // Puts the others' widgets in place (each replaces its placeholder).
    void setSourceListView(QWidget* view);
    void setScopeBar(QWidget* bar);
    void setMenuBar(QMenuBar* menuBar);
    // The grid (or the list) or the movie in the right-hand area.
    void showPlayerContainer(bool show);
    // The list in place of the grid (list mode), unless the movie is shown there.
    void showGroupList(bool list);
    bool showsGroupList() const { return _showsGroupList; }

    // The group status line (see the definition for the rules).
    // The title of a selection of library items: their names joined, or the last name
    // seen; plain (no smart-group action) unless all are smart groups of one root.
    static QString titleForSelection(const platform::ArrayPtr& selected, bool* plain);
    // The container is nothing, the selection (forSelection), or the container given.
    void setStatus(const QString& status, const std::shared_ptr<PMLibraryContainer>& container, bool forSelection, const QVariant& link,
                   const QString& toolTip, bool canClearSelection);
    // The sidebar was hidden or shown (nothing to adjust without the glass look).
    void adjustToHiddenSidebar(bool hidden);
    void moveStandardWindowButtons() {}
    bool hasHiddenSidebar() const { return _hasHiddenSidebar; }

    // Set on each left press; still set after the press was handled, the inbox closes.
    bool destroysInboxAfterSendingEvent = false;
    // The search field's text changed (the controller filters with it).
    std::function<void()> searchFieldTextDidChange;

    // The window's own commands: full screen (the window manager's, or presentation in
    // single window mode) and the search field.
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;
    bool validateMenuItem(QAction* item) override;

    // The header's status line takes the window's text colours.
    void updateAppearance() override;

    // Tests and the benchmark: the frame geometry is laid out now.
    void layoutNow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildHeader();
    void buildFooter();
    void layoutHeader();
    void layoutContent();
    bool preprocessMouseEvent(QObject* watched, QEvent* event);

    QVBoxLayout* m_layout = nullptr;
    QPointer<QMenuBar> _menuBar;
    QWidget* _containerView = nullptr;
    PMMainWindowBackgroundView* _sourceListContainer = nullptr;
    QWidget* _sidebarButtonBar = nullptr;
    QAbstractButton* _libraryAddButton = nullptr;
    QAbstractButton* _libraryDeleteButton = nullptr;
    QPointer<QWidget> _sourceListView;
    QWidget* _contentView = nullptr;
    PMMainWindowHeaderView* _groupHeaderView = nullptr;
    PMMainWindowHeaderStatusField* _groupStatusField = nullptr;
    PMMainWindowFooterView* _footerView = nullptr;
    PMLinkTextField* _footerStatusField = nullptr;
    QPointer<QProgressBar> _statusProgressIndicator;
    PMAdaptiveSearchField* _searchField = nullptr;
    PMAdaptiveToolbarButton* _libraryListVisibilitySwitch = nullptr;
    PMAdaptiveToolbarButton* _clearTemporaryStorageButton = nullptr;
    PMPreviewModeButton* _previewModeButton = nullptr;
    PMAdaptiveToolbarButton* _backButton = nullptr;
    QWidget* _previewSizeSliderView = nullptr;
    PMPreviewSizeSlider* _previewSizeSlider = nullptr;
    PMSliderExtremeView* _previewSizeSliderSmallEnd = nullptr;
    PMSliderExtremeView* _previewSizeSliderLargeEnd = nullptr;
    PMPreviewModeButton* _listModeButton = nullptr;
    PMPreviewModeButton* _coverModeButton = nullptr;
    PMZiruderShiftButton* _ziruderButton = nullptr;
    QPointer<QWidget> _scopeBar;
    PMGroupView* _groupView = nullptr;
    PMGroupTableView* _groupList = nullptr;
    bool _showsGroupList = false;
    PMPlayerContainerView* _playerContainerView = nullptr;
    QStackedWidget* _contentStack = nullptr;
    bool _hasHiddenSidebar = false;
    bool m_inboxWasOpen = false;
};
