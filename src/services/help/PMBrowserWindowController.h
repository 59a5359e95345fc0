// A window that shows local HTML pages, or an HTML text: a toolbar with back and forward
// (and a find button), an inline search bar, zoom, printing and a fixed link policy.
// Local HTML files open in the window; web and mail links go to the desktop's handler;
// everything else is ignored. Subclasses tune it through the hook operations (the help
// window is one). The page view is a QTextBrowser: HTML 4 with style sheets, no scripts.
// Main thread only.
#pragma once

#include "platform/Responder.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtCore/QSize>
#include <QtCore/QUrl>
#include <QtGui/QIcon>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListView>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QToolButton>


class QModelIndex;
class QScreen;
class QStringListModel;
class PMBrowserWindowController;

// The viewer's window. It is a responder: the Find, zoom and print commands of the main
// menu reach its controller while it is the active window.
class PMBrowserWindow : public QMainWindow, public platform::Responder {
    Q_OBJECT
public:
    PMBrowserWindow(PMBrowserWindowController* controller, QWidget* parent = nullptr);
    PMBrowserWindowController* controller() const { return m_controller; }

    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;
    bool validateMenuItem(QAction* item) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<PMBrowserWindowController> m_controller;
};

// The page view: links go to the controller's policy, drops are refused.
class PMBrowserWebView : public QTextBrowser {
    Q_OBJECT
public:
    PMBrowserWebView(PMBrowserWindowController* controller, QWidget* parent);
    // The steps the text was made larger (positive) or smaller.
    int zoomStep() const { return m_zoomStep; }
    bool canMakeTextLarger() const { return m_zoomStep < 8; }
    bool canMakeTextSmaller() const { return m_zoomStep > -4; }
    void makeTextLarger();
    void makeTextSmaller();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QPointer<PMBrowserWindowController> m_controller;
    int m_zoomStep = 0;
};

// The bar above the page that holds the search field and its Done button.
class PMBrowserWindowSearchContainer : public QWidget {
    Q_OBJECT
public:
    explicit PMBrowserWindowSearchContainer(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Completes the search field from the controller's suggestions: choosing one hands it to
// `selectSearchSuggestion` instead of putting it into the field.
class PMBrowserWindowSearchFieldEditor : public QObject {
    Q_OBJECT
public:
    // The list of suggestions is a widget of `listParent`, placed by the caller right
    // below the search bar: it pushes the page down rather than covering its first lines.
    PMBrowserWindowSearchFieldEditor(PMBrowserWindowController* controller, QLineEdit* field, QWidget* listParent);
    ~PMBrowserWindowSearchFieldEditor() override;
    // Shows the suggestions for the field's text (or hides the list when there are none).
    void complete();
    QListView* list() const { return m_list; }
    QStringList suggestions() const;

protected:
    // Down in the field goes to the list; Return in the list chooses, Escape (or Up on its
    // first row) goes back to the field.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose(const QModelIndex& index);
    QPointer<PMBrowserWindowController> m_controller;
    QLineEdit* m_field;
    QPointer<QListView> m_list;
    QStringListModel* m_model;
};

class PMBrowserWindowController : public QObject {
    Q_OBJECT
public:
    explicit PMBrowserWindowController(QObject* parent = nullptr);
    ~PMBrowserWindowController() override;

    // ---- Hooks ----
    virtual QString className() const { return QStringLiteral("PMBrowserWindowController"); }
    virtual QSize windowMinimumContentSize() const { return {400, 200}; }
    virtual QSize windowDefaultContentSizeForScreen(QScreen* screen) const;
    virtual bool windowSavesFrame() const { return true; }
    virtual QScreen* preferredScreen() const { return nullptr; }
    virtual bool displaysSpinnerWhileLoading() const { return true; }
    virtual bool allowsToolbarNavigation() const { return true; }
    virtual int toolbarTitlePaddingLeft() const { return 0; }
    virtual int toolbarTitlePaddingRight() const { return 0; }
    // The window manager always draws the title bar here, so the title is not repeated
    // in the toolbar.
    virtual bool hidesTitle() const { return false; }
    virtual bool allowsSearch() const { return allowsToolbarNavigation(); }
    virtual QStringList searchSuggestionsForQuery(const QString& query) { return {}; }
    virtual void selectSearchSuggestion(const QString& suggestion) {}
    virtual QSet<QString> acceptableFileURLExtensions() const;
    virtual QSet<QString> acceptableExternalURLSchemes() const;
    // Whether a local page of an acceptable extension may load in the window.
    virtual bool acceptsFileURL(const QUrl& url) const { return true; }
    // Whether closing the window tears it down (the next page builds a new one).
    virtual bool releasesWindowWhenClosed() const { return true; }
    // A navigation the link policy does not know: true when the subclass took it.
    virtual bool handleNavigationToURL(const QUrl& url) { return false; }
    // A load of the main page was committed, then finished.
    virtual void didCommitLoad() {}
    virtual void didFinishLoad();
    // The commands the window answers while it is active (the main menu's Find, zoom and
    // print commands); subclasses add their own.
    virtual bool respondsToAction(const QString& action) const;
    virtual void performAction(const QString& action, QObject* sender);

    QIcon toolbarTitleIcon;

    // ---- Showing ----
    bool showHTMLContent(const QString& html, const QUrl& fromURL, const QString& windowTitle);
    bool populateWithHTMLContent(const QString& html, const QUrl& fromURL, const QString& windowTitle);
    void enableSpinner(bool flag);

    // ---- Commands ----
    void zoomIn(QObject* sender = nullptr);
    void zoomOut(QObject* sender = nullptr);
    void showSearchField(bool flag);
    void toggleSearchField(QObject* sender = nullptr);
    void performSearch(QObject* sender = nullptr);
    void performTextFinderAction(QObject* sender);
    void performTextFinderActionWithTag(qint64 tag);
    void navigate(QObject* sender);
    virtual bool validateMenuItem(QAction* item);
    void print(QObject* sender = nullptr);

    // The link policy: loads the URL in the window, hands it to the desktop or ignores it.
    enum class NavigationPolicy { Load, OpenExternally, Ignore };
    NavigationPolicy policyForNavigationToURL(const QUrl& url) const;
    void decidePolicyForNavigation(const QUrl& url);

    // Finds the text in the page, ignoring case, wrapping around; false when it is not
    // there.
    bool findInPage(const QString& text, bool backwards);

    // The text of the Find commands, shared by every viewer of the process (the desktop
    // has no find clipboard).
    static QString findPasteboardString();
    static void setFindPasteboardString(const QString& text);

    // ---- The parts (null while there is no window) ----
    PMBrowserWindow* window() const { return m_window; }
    PMBrowserWebView* webView() const { return m_webView; }
    QWidget* navigator() const { return m_navigator; }
    QProgressBar* spinner() const { return m_spinner; }
    QLineEdit* searchField() const { return m_searchField; }
    PMBrowserWindowSearchFieldEditor* searchFieldEditor() const { return m_searchFieldEditor; }
    PMBrowserWindowSearchContainer* searchContainer() const { return m_searchContainer; }
    // The column that holds the bars above the page and the page.
    QWidget* contentView() const { return m_contentView; }
    // The user defaults key of the saved frame.
    QString frameSaveKey() const;
    virtual void windowWillClose();
    void saveFrame();

protected:
    QString m_title;
    QUrl m_baseURL;

private:
    void buildWindow(const QString& windowTitle);
    void buildToolbar(const QString& windowTitle);
    void updateNavigator();

    QPointer<PMBrowserWindow> m_window;
    QPointer<PMBrowserWebView> m_webView;
    QPointer<QWidget> m_contentView;
    QPointer<QWidget> m_navigator;
    QPointer<QToolButton> m_backButton;
    QPointer<QToolButton> m_forwardButton;
    QPointer<QProgressBar> m_spinner;
    QPointer<QLineEdit> m_searchField;
    QPointer<PMBrowserWindowSearchFieldEditor> m_searchFieldEditor;
    QPointer<PMBrowserWindowSearchContainer> m_searchContainer;
    bool m_restoringFrame = false;
};
