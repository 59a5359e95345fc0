// The help window: shows the program's help book (a folder of HTML pages) in a viewer
// window of its own. It finds the book, indexes its pages in the background (title,
// order, words, named anchors, quick-access categories), opens a page by its relative
// path with a fragment and words to highlight, shows a quick-access bar of menus above
// the page, searches the index, and handles the help link scheme "x-tolvane-help" through
// which a page of the book can hand a message to the program or change a display setting
// (after asking).
//
// The book is looked for in the user's data folder first ($XDG_DATA_HOME/Pellis/help),
// then in the installed data folders ($XDG_DATA_DIRS: .../Pellis/help), then beside the
// program (bin/../share/Pellis/help, which the build tree has too); in each, in the
// folder of the user's language (help/de/, help/German/), else help/en/, else help/.
#pragma once

#include "services/help/PMBrowserWindowController.h"
#include "services/help/PMHelpPageIndex.h"

#include <QtCore/QHash>
#include <QtCore/QMap>
#include <QtCore/QMutex>
#include <QtCore/QPointer>

#include <atomic>
#include <optional>

class PMHelpManager;

// Told of what the pages ask for. Both operations are optional: the defaults report that
// they are not implemented.
class PMHelpManagerDelegate {
public:
    virtual ~PMHelpManagerDelegate() = default;
    // A page asked the program to act on a message; false when not implemented.
    virtual bool helpManagerDidReceiveMessage(PMHelpManager* helpManager, const QString& message) { return false; }
    // A page changed a setting: a text that replaces the confirmation's explanation, or
    // nothing.
    virtual std::optional<QString> helpManagerDidSetOrRemoveUserDefault(PMHelpManager* helpManager, const QString& key) { return std::nullopt; }
};

// A page found by help search.
struct PMHelpSearchItem {
    QString title;
    QString path;      // the page's relative path
    QStringList words; // the search words that found it
};

// The bar of quick-access menus above the page.
class PMHelpManagerHeaderView : public QWidget {
    Q_OBJECT
public:
    explicit PMHelpManagerHeaderView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class PMHelpManager : public PMBrowserWindowController {
    Q_OBJECT
public:
    // The program's help window, made on first call.
    static PMHelpManager* helpManager();
    // Whether the help window is on screen.
    static bool hasVisibleWindow();

    // A help manager over the book in the folder given (empty: the book is looked for as
    // described above).
    explicit PMHelpManager(const QString& bookFolder = QString(), QObject* parent = nullptr);
    ~PMHelpManager() override;

    // The folder of the help book as the program looks for it; empty when there is none.
    // The variant with folders given is the rule itself.
    static QString helpBookFolder();
    static QString helpBookFolder(const QString& userDataFolder, const QStringList& dataFolders, const QString& programFolder,
                                  const QStringList& languageCandidates);
    // The folder this manager reads (resolved once), empty when there is no book.
    QString bookFolder();

    // ---- Opening pages ----
    void help(QObject* sender = nullptr);
    // A page by name without ".html" (nothing: the first page of the contents), with a
    // fragment ("#Name") or none; without force an open window only comes to the front.
    bool openPage(const QString& page, const QString& fragment, bool force);
    void openPageAtRelativePathWithFragment(const QString& relativePathWithFragment);
    bool openPageAtRelativePath(const QString& relativePath, const QString& fragment, const QStringList& highlightWords);
    void openPageFromMenuItem(QAction* item);
    // The relative path of the page shown, or empty.
    QString currentRelativePath() const;

    // ---- The indexes, built on first request (from any thread) ----
    QMap<QString, QUrl> pageURLsByRelativePath();
    QList<PMHelpPageRepresentation> pageRepresentations();
    QString windowTitle() const { return _windowTitle; }

    // ---- Quick access ----
    bool showQuickAccessMenusForCategories(const QStringList& categories);
    QWidget* quickAccessView() const { return _quickAccessView; }

    // ---- Search ----
    QList<PMHelpSearchItem> itemsWithSearchString(const QString& searchString, qint64 resultLimit, bool wrap,
                                                  const QString& abortIfFoundForRelativePath);
    void searchForItemsWithSearchString(const QString& searchString, qint64 resultLimit,
                                        const std::function<void(const QList<PMHelpSearchItem>&)>& matchedItemHandler);
    QStringList localizedTitlesForItem(const PMHelpSearchItem& item) const { return {item.title}; }
    void performActionForItem(const PMHelpSearchItem& item);
    QStringList searchSuggestionsForQuery(const QString& query) override;
    void selectSearchSuggestion(const QString& suggestion) override;

    // ---- The help link scheme ----
    // Handles an "x-tolvane-help" URL (true: it was one, whatever came of it).
    bool handleHelpURL(const QUrl& url);
    // The settings a help page may change: display settings only.
    static const QSet<QString>& settingsChangeableFromHelp();

    PMHelpManagerDelegate* delegate() const { return _delegate; }
    void setDelegate(PMHelpManagerDelegate* delegate) { _delegate = delegate; }

    // ---- Viewer hooks ----
    QString className() const override { return QStringLiteral("PMHelpManager"); }
    QSize windowDefaultContentSizeForScreen(QScreen* screen) const override { return {800, 800}; }
    bool displaysSpinnerWhileLoading() const override { return false; }
    bool releasesWindowWhenClosed() const override { return false; }
    bool acceptsFileURL(const QUrl& url) const override;
    bool handleNavigationToURL(const QUrl& url) override;
    void didCommitLoad() override;
    void didFinishLoad() override;
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;
    bool validateMenuItem(QAction* item) override;

    // Whether the path (of a file) lies inside the help book.
    bool isInsideBook(const QString& path) const;

Q_SIGNALS:
    // The page representation the quick-access bar was made for (tests wait on it).
    void quickAccessUpdated(const QString& relativePath);

private:
    void buildAnchorsByCategory();

    QString _bookFolderOverride;
    QString _bookFolder;
    std::atomic<bool> _bookFolderResolved{false};
    QMutex _bookFolderLock;

    QMutex _pageURLsLock;
    bool _pageURLsBuilt = false;
    QMap<QString, QUrl> _pageURLsByRelativePath;

    QMutex _pageRepresentationsLock;
    bool _pageRepresentationsBuilt = false;
    QList<PMHelpPageRepresentation> _pageRepresentations;

    bool _anchorsByCategoryBuilt = false;
    QHash<QString, QList<PMHelpAnchor>> _anchorsByCategory;

    QString _windowTitle;
    QStringList _highlightWords;
    PMHelpManagerDelegate* _delegate = nullptr;
    QPointer<PMHelpManagerHeaderView> _quickAccessView;
    // Bumped by every committed load, so that a late index answer for an older page is
    // dropped.
    quint64 _loadGeneration = 0;
};

// Whether the help book in the folder has the page the Help command opens.
bool PMHelpBookHasOverview(const QString& folder);
