#include "services/help/PMHelpManager.h"

#include "foundation/NSString+PMHelpManagerMatching.h"
#include "foundation/PMLog.h"
#include "library/model/PMMainController.h"
#include "platform/Alert.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "services/help/NSFileManager+PMHelpManagerHelpBook.h"
#include "services/help/NSString+PMHelpManagerHelpBook.h"
#include "ui/kit/PMAppearance.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QFuture>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kQuickAccessHeight = 35;
const QString kHelpScheme = QStringLiteral("x-tolvane-help");

QString localized(const char* text)
{
    return QCoreApplication::translate("PMHelpManager", text);
}

PMHelpManager* gHelpManager = nullptr;

// The futures of background index requests, so that a manager going away waits for them.
QHash<const PMHelpManager*, QList<QFuture<void>>>& pendingTasks()
{
    static QHash<const PMHelpManager*, QList<QFuture<void>>> tasks;
    return tasks;
}

// The value a help link stands for: nothing (remove), a boolean, a number or the text.
platform::Value valueOfHelpLink(const QString& text)
{
    if (text.isEmpty())
        return {};
    const QString lower = text.toLower();
    if (lower == QLatin1String("yes") || lower == QLatin1String("true"))
        return true;
    if (lower == QLatin1String("no") || lower == QLatin1String("false"))
        return false;
    const auto leadingNumber = [](const QString& s, bool integer) -> platform::Value {
        const QString t = s.trimmed();
        qsizetype end = 0;
        if (end < t.size() && (t.at(end) == QLatin1Char('-') || t.at(end) == QLatin1Char('+')))
            ++end;
        while (end < t.size() && (t.at(end).isDigit() || (!integer && (t.at(end) == QLatin1Char('.') || t.at(end) == QLatin1Char('e') ||
                                                                         t.at(end) == QLatin1Char('-')))))
            ++end;
        if (integer)
            return platform::Value(qint64(t.left(end).toLongLong()));
        return platform::Value(t.left(end).toDouble());
    };
    const qsizetype integerAt = lower.indexOf(QLatin1String("integer:"));
    if (integerAt >= 0 && integerAt + 8 < lower.size())
        return leadingNumber(lower.mid(integerAt + 8), true);
    const qsizetype doubleAt = lower.indexOf(QLatin1String("double:"));
    if (doubleAt >= 0 && doubleAt + 7 < lower.size())
        return leadingNumber(lower.mid(doubleAt + 7), false);
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// PMHelpManagerHeaderView

PMHelpManagerHeaderView::PMHelpManagerHeaderView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PMHelpManagerHeaderView"));
    setFixedHeight(kQuickAccessHeight);
}

void PMHelpManagerHeaderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    painter.fillRect(QRectF(0, height() - 1, width(), 1), QColor::fromRgbF(0, 0, 0, 0.12f));
}

// ---------------------------------------------------------------------------
// The singleton

PMHelpManager* PMHelpManager::helpManager()
{
    if (gHelpManager)
        return gHelpManager;
    gHelpManager = new PMHelpManager();
    // Its window goes while the application still stands (an object the application owned
    // would be deleted after the widgets' world is gone).
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { delete gHelpManager; });
    // The zoom commands of the main menu act on the help text while its window is active.
    mainController()._menuValidation.helpViewCanChangeTextSize = [](bool larger) -> int {
        PMHelpManager* manager = gHelpManager;
        if (!manager || !manager->window() || !manager->webView() || QApplication::activeWindow() != manager->window())
            return -1;
        return larger ? manager->webView()->canMakeTextLarger() : manager->webView()->canMakeTextSmaller();
    };
    const QString openAtStart = prefs::get(prefs::keys::PMHelpManagerOpenRelativePath);
    if (!openAtStart.isEmpty())
        QTimer::singleShot(0, gHelpManager, [openAtStart] { gHelpManager->openPageAtRelativePathWithFragment(openAtStart); });
    return gHelpManager;
}

bool PMHelpManager::hasVisibleWindow()
{
    return gHelpManager && gHelpManager->window() && gHelpManager->window()->isVisible();
}

PMHelpManager::PMHelpManager(const QString& bookFolder, QObject* parent)
    : PMBrowserWindowController(parent), _bookFolderOverride(bookFolder)
{
    // The book's name: "Pellis Help".
    _windowTitle = localized("%1 Help").arg(QStringLiteral("Pellis"));
}

PMHelpManager::~PMHelpManager()
{
    const QList<QFuture<void>> tasks = pendingTasks().take(this);
    for (QFuture<void> task : tasks)
        task.waitForFinished();
    if (gHelpManager == this)
        gHelpManager = nullptr;
}

// ---------------------------------------------------------------------------
// The book

QString PMHelpManager::helpBookFolder(const QString& userDataFolder, const QStringList& dataFolders, const QString& programFolder,
                                      const QStringList& languageCandidates)
{
    QStringList bases;
    bases.append(userDataFolder);
    bases.append(dataFolders);
    bases.append(programFolder);
    for (const QString& base : std::as_const(bases)) {
        if (base.isEmpty())
            continue;
        const QString folder = localizedPathToDirectory(QStringLiteral("help"), base, languageCandidates);
        if (!folder.isEmpty()) {
            // Links resolved, so that "inside the book" means one thing.
            const QString canonical = QFileInfo(folder).canonicalFilePath();
            return canonical.isEmpty() ? folder : canonical;
        }
    }
    return {};
}

QString PMHelpManager::helpBookFolder()
{
    static const QStringList candidates = helpManagerLanguageFolderCandidates(QLocale().uiLanguages());
    const QString userData = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QStringList dataFolders;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        if (folder != userData)
            dataFolders.append(folder + QStringLiteral("/Pellis"));
    }
    const QString beside = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/Pellis"));
    return helpBookFolder(userData.isEmpty() ? QString() : userData + QStringLiteral("/Pellis"), dataFolders, beside, candidates);
}

QString PMHelpManager::bookFolder()
{
    if (_bookFolderResolved.load(std::memory_order_acquire))
        return _bookFolder;
    QMutexLocker lock(&_bookFolderLock);
    if (!_bookFolderResolved.load(std::memory_order_relaxed)) {
        if (_bookFolderOverride.isEmpty()) {
            _bookFolder = helpBookFolder();
        } else if (QFileInfo(_bookFolderOverride).isDir()) {
            _bookFolder = QFileInfo(_bookFolderOverride).canonicalFilePath();
        }
        if (_bookFolder.isEmpty())
            PMLog("cannot find the help book");
        _bookFolderResolved.store(true, std::memory_order_release);
    }
    return _bookFolder;
}

bool PMHelpManager::isInsideBook(const QString& path) const
{
    if (!_bookFolderResolved.load(std::memory_order_acquire) || _bookFolder.isEmpty() || path.isEmpty())
        return false;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() && canonical.startsWith(_bookFolder + QLatin1Char('/'));
}

QMap<QString, QUrl> PMHelpManager::pageURLsByRelativePath()
{
    QMutexLocker lock(&_pageURLsLock);
    if (!_pageURLsBuilt) {
        _pageURLsByRelativePath = helpManagerPagesInFolder(bookFolder());
        _pageURLsBuilt = true;
    }
    return _pageURLsByRelativePath;
}

QList<PMHelpPageRepresentation> PMHelpManager::pageRepresentations()
{
    // Always the representations' lock first, then the pages' (inside pageURLsByRelativePath).
    QMutexLocker lock(&_pageRepresentationsLock);
    if (!_pageRepresentationsBuilt) {
        _pageRepresentations = helpManagerRepresentationsOfPages(pageURLsByRelativePath());
        _pageRepresentationsBuilt = true;
    }
    return _pageRepresentations;
}

// ---------------------------------------------------------------------------
// Opening pages

void PMHelpManager::help(QObject*)
{
    openPage(QString(), QString(), false);
}

bool PMHelpManager::openPage(const QString& page, const QString& fragment, bool force)
{
    if (!force && window()) {
        window()->show();
        window()->raise();
        window()->activateWindow();
        return true;
    }
    QString relativePath;
    if (!page.isEmpty()) {
        relativePath = page + QStringLiteral(".html");
    } else {
        const QList<PMHelpPageRepresentation> pages = pageRepresentations();
        if (!pages.isEmpty())
            relativePath = pages.constFirst().path;
    }
    if (openPageAtRelativePath(relativePath, fragment, {}))
        return true;
    PMLog("cannot open help page: %@", page.isEmpty() ? relativePath : page);
    platform::beep();
    return false;
}

void PMHelpManager::openPageAtRelativePathWithFragment(const QString& relativePathWithFragment)
{
    if (relativePathWithFragment.isEmpty())
        return;
    const qsizetype hash = relativePathWithFragment.lastIndexOf(QLatin1Char('#'));
    if (hash < 0)
        openPageAtRelativePath(relativePathWithFragment, QString(), {});
    else
        openPageAtRelativePath(relativePathWithFragment.left(hash), relativePathWithFragment.mid(hash), {});
}

bool PMHelpManager::openPageAtRelativePath(const QString& relativePath, const QString& fragment, const QStringList& highlightWords)
{
    _highlightWords = highlightWords;
    if (relativePath.isEmpty())
        return false;
    const QMap<QString, QUrl> pages = pageURLsByRelativePath();
    const auto it = pages.constFind(relativePath);
    if (it == pages.cend())
        return false;
    QUrl url = it.value();
    if (fragment.size() >= 2)
        url.setFragment(fragment.startsWith(QLatin1Char('#')) ? fragment.mid(1) : fragment);
    return showHTMLContent(QString(), url, _windowTitle);
}

void PMHelpManager::openPageFromMenuItem(QAction* item)
{
    if (item)
        openPageAtRelativePathWithFragment(platform::menuItemRepresentedObject(item).string());
}

QString PMHelpManager::currentRelativePath() const
{
    if (!webView())
        return {};
    QUrl shown = webView()->source();
    if (shown.isEmpty())
        return {};
    shown.setFragment(QString());
    const QMap<QString, QUrl> pages = const_cast<PMHelpManager*>(this)->pageURLsByRelativePath();
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        if (it.value() == shown)
            return it.key();
    }
    return {};
}

// ---------------------------------------------------------------------------
// Loads

bool PMHelpManager::acceptsFileURL(const QUrl& url) const
{
    // Only the book's own pages load here; other local files are ignored.
    return isInsideBook(url.toLocalFile());
}

bool PMHelpManager::handleNavigationToURL(const QUrl& url)
{
    if (url.scheme() != kHelpScheme)
        return false;
    handleHelpURL(url);
    return true;
}

void PMHelpManager::didCommitLoad()
{
    PMBrowserWindowController::didCommitLoad();
    const QString path = currentRelativePath();
    if (path.isEmpty())
        return;
    const quint64 generation = ++_loadGeneration;
    QPointer<PMHelpManager> guarded(this);
    // The index is usually built here, off the main thread, the first time a page shows.
    QFuture<void> task = QtConcurrent::run([this, guarded, path, generation] {
        PMHelpPageRepresentation found;
        bool any = false;
        for (const PMHelpPageRepresentation& page : pageRepresentations()) {
            if (page.path == path) {
                found = page;
                any = true;
                break;
            }
        }
        QMetaObject::invokeMethod(
            qApp,
            [guarded, path, generation, found, any] {
                if (!guarded || guarded->_loadGeneration != generation || guarded->currentRelativePath() != path)
                    return;
                guarded->showQuickAccessMenusForCategories(any ? found.quickAccess : QStringList());
                Q_EMIT guarded->quickAccessUpdated(path);
            },
            Qt::QueuedConnection);
    });
    QList<QFuture<void>>& tasks = pendingTasks()[this];
    tasks.removeIf([](const QFuture<void>& f) { return f.isFinished(); });
    tasks.append(task);
}

void PMHelpManager::didFinishLoad()
{
    PMBrowserWindowController::didFinishLoad();
    if (!_highlightWords.isEmpty()) {
        const QString word = _highlightWords.constFirst();
        _highlightWords.clear();
        findInPage(word, false);
    }
}

// ---------------------------------------------------------------------------
// Quick access

void PMHelpManager::buildAnchorsByCategory()
{
    if (_anchorsByCategoryBuilt)
        return;
    _anchorsByCategoryBuilt = true;
    for (const PMHelpPageRepresentation& page : pageRepresentations()) {
        for (const PMHelpAnchor& anchor : page.anchors) {
            if (!anchor.category.isEmpty())
                _anchorsByCategory[anchor.category].append(anchor);
        }
    }
    for (auto it = _anchorsByCategory.begin(); it != _anchorsByCategory.end(); ++it) {
        QList<PMHelpAnchor>& anchors = it.value();
        std::stable_sort(anchors.begin(), anchors.end(), [](const PMHelpAnchor& a, const PMHelpAnchor& b) {
            if (const int c = helpManagerCompareNumerically(a.sortString, b.sortString))
                return c < 0;
            if (a.name.size() != b.name.size())
                return a.name.size() < b.name.size();
            return helpManagerCompareNumerically(a.name, b.name) < 0;
        });
        QList<PMHelpAnchor> unique;
        for (const PMHelpAnchor& anchor : std::as_const(anchors)) {
            if (unique.isEmpty() || unique.constLast().name != anchor.name)
                unique.append(anchor);
        }
        anchors = unique;
    }
}

bool PMHelpManager::showQuickAccessMenusForCategories(const QStringList& categories)
{
    if (!webView() || !contentView())
        return false;
    auto* column = static_cast<QVBoxLayout*>(contentView()->layout());
    if (categories.isEmpty()) {
        if (_quickAccessView) {
            column->removeWidget(_quickAccessView);
            _quickAccessView->hide();
            _quickAccessView->deleteLater();
            _quickAccessView = nullptr;
        }
        return true;
    }
    if (!_quickAccessView) {
        _quickAccessView = new PMHelpManagerHeaderView(contentView());
        // From the top: quick access, the search bar, the page.
        column->insertWidget(0, _quickAccessView);
        _quickAccessView->show();
    } else {
        qDeleteAll(_quickAccessView->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
        delete _quickAccessView->layout();
    }
    buildAnchorsByCategory();
    const bool centered = prefs::get(prefs::keys::PMHelpManagerCenterQuickAccess);
    auto* row = new QHBoxLayout(_quickAccessView);
    row->setContentsMargins(centered ? 5 : 15, 0, 5, 1);
    row->setSpacing(5);
    if (centered)
        row->addStretch(1);
    auto* label = new QLabel(localized("Quick Access"), _quickAccessView);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    label->setFont(small);
    QPalette secondary = label->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    label->setPalette(secondary);
    row->addWidget(label);
    for (const QString& category : categories) {
        auto* button = new QToolButton(_quickAccessView);
        QString title = category;
        bool startOfWord = true;
        for (qsizetype i = 0; i < title.size(); ++i) {
            if (title.at(i).isLetter()) {
                title[i] = startOfWord ? title.at(i).toUpper() : title.at(i).toLower();
                startOfWord = false;
            } else {
                startOfWord = true;
            }
        }
        button->setText(title);
        button->setObjectName(QStringLiteral("QuickAccess:") + category);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        auto* menu = new QMenu(button);
        for (const PMHelpAnchor& anchor : _anchorsByCategory.value(category)) {
            QAction* item = menu->addAction(platform::escapedMenuTitle(anchor.name));
            platform::setMenuItemRepresentedObject(item, platform::Value(QStringLiteral("%1#%2").arg(anchor.path, anchor.fragment)));
            QObject::connect(item, &QAction::triggered, this, [this, item] { openPageFromMenuItem(item); });
        }
        button->setMenu(menu);
        row->addWidget(button);
    }
    row->addStretch(1);
    return true;
}

// ---------------------------------------------------------------------------
// Search

QList<PMHelpSearchItem> PMHelpManager::itemsWithSearchString(const QString& searchString, qint64 resultLimit, bool wrap,
                                                             const QString& abortIfFoundForRelativePath)
{
    QList<PMHelpSearchItem> items;
    const QStringList words = wordsFromString(searchString);
    if (words.isEmpty())
        return items;
    QStringList keys;
    for (const QString& word : words)
        keys.append(helpManagerInsensitiveSearchKey(word));
    QString wholeKey;
    for (const PMHelpPageRepresentation& page : pageRepresentations()) {
        const bool matches = std::all_of(keys.cbegin(), keys.cend(), [&page](const QString& key) { return page.searchableWords.contains(key); });
        if (!matches)
            continue;
        if (!abortIfFoundForRelativePath.isEmpty() && abortIfFoundForRelativePath == page.path) {
            // The page shown already holds what was typed: no suggestions.
            if (wholeKey.isEmpty())
                wholeKey = helpManagerInsensitiveSearchKey(searchString.simplified());
            if (page.searchableText.contains(wholeKey))
                return {};
        }
        PMHelpSearchItem item;
        item.title = page.title;
        if (wrap) {
            item.path = page.path;
            item.words = words;
        }
        items.append(item);
        if (resultLimit >= 1 && items.size() >= resultLimit)
            break;
    }
    return items;
}

void PMHelpManager::searchForItemsWithSearchString(const QString& searchString, qint64 resultLimit,
                                                   const std::function<void(const QList<PMHelpSearchItem>&)>& matchedItemHandler)
{
    if (matchedItemHandler)
        matchedItemHandler(itemsWithSearchString(searchString, resultLimit, true, QString()));
}

void PMHelpManager::performActionForItem(const PMHelpSearchItem& item)
{
    openPageAtRelativePath(item.path, QString(), item.words);
}

QStringList PMHelpManager::searchSuggestionsForQuery(const QString& query)
{
    QStringList titles;
    for (const PMHelpSearchItem& item : itemsWithSearchString(query, 0, false, currentRelativePath()))
        titles.append(item.title);
    return titles;
}

void PMHelpManager::selectSearchSuggestion(const QString& suggestion)
{
    if (suggestion.isEmpty() || !searchField())
        return;
    for (const PMHelpSearchItem& item : itemsWithSearchString(searchField()->text(), 0, true, QString())) {
        if (item.title == suggestion) {
            performActionForItem(item);
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// The help link scheme

const QSet<QString>& PMHelpManager::settingsChangeableFromHelp()
{
    // Only how things look: never scripts, paths, rules or where the library lives.
    static const QSet<QString> keys = {
        QStringLiteral("Adjust Cover Size"),
        QStringLiteral("Adjust Preview Size"),
        QStringLiteral("Cycle Through Index Image On Hover"),
        QStringLiteral("Draw Color Thumbnail Placeholders"),
        QStringLiteral("Hover Cover Headers"),
        QStringLiteral("List Font Size"),
        QStringLiteral("Mosaic: Balance Row Height"),
        QStringLiteral("Player Window: Dark: Always"),
        QStringLiteral("PMHelpManager: Center Quick Access"),
        QStringLiteral("Show Experimental View Menu"),
        QStringLiteral("Show File Extensions"),
        QStringLiteral("Show Full Path In Main Window Title"),
        QStringLiteral("Show Thumbnail Popover"),
        QStringLiteral("Show Zero Item Counts"),
        QStringLiteral("Thumbnail Appearance"),
    };
    return keys;
}

bool PMHelpManager::handleHelpURL(const QUrl& url)
{
    if (url.scheme() != kHelpScheme)
        return false;
    const QUrl from = webView() ? webView()->source() : QUrl();
    if (!from.isLocalFile() || !isInsideBook(from.toLocalFile())) {
        PMLog("ignoring help link <%@> from a page outside the help book", url.toString());
        return true;
    }
    const QString text = url.toString(QUrl::FullyEncoded);
    static const QString messageMarker = QStringLiteral("://message/");
    static const QString defaultMarker = QStringLiteral("://default/");
    const qsizetype messageAt = text.indexOf(messageMarker, 0, Qt::CaseInsensitive);
    if (messageAt >= 0) {
        if (_delegate)
            _delegate->helpManagerDidReceiveMessage(this, text.mid(messageAt + messageMarker.size()));
        return true;
    }
    const qsizetype defaultAt = text.indexOf(defaultMarker, 0, Qt::CaseInsensitive);
    if (defaultAt < 0)
        return true;
    const qsizetype keyStart = defaultAt + defaultMarker.size();
    const qsizetype hash = text.indexOf(QLatin1Char('#'), keyStart);
    if (hash < 0)
        return true;
    const QString key = QUrl::fromPercentEncoding(text.mid(keyStart, hash - keyStart).toUtf8());
    if (key.isEmpty())
        return true;
    if (!settingsChangeableFromHelp().contains(key)) {
        PMLog("ignoring help link that would change <%@>, which is not a display setting", key);
        platform::beep();
        return true;
    }
    const platform::Value newValue = valueOfHelpLink(QUrl::fromPercentEncoding(text.mid(hash + 1).toUtf8()));
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const platform::Value oldValue = defaults.objectForKey(key);

    if (window()) {
        window()->raise();
        window()->activateWindow();
    }
    const bool differs = (!oldValue.isNull() || !newValue.isNull()) && !(oldValue == newValue && oldValue.isNull() == newValue.isNull());
    if (!differs) {
        platform::Alert alert;
        alert.messageText = localized("That didn't do anything");
        alert.informativeText = localized("%1 was already set to %2.").arg(key, helpManagerDescriptionOrValue(newValue));
        alert.window = window();
        platform::runAlert(alert);
        return true;
    }
    // Ask before anything is written.
    platform::Alert ask;
    ask.messageText = localized("Change a setting?");
    ask.informativeText = localized("The help page would set %1 to %2. It is now set to %3.")
                              .arg(key, helpManagerDescriptionOrValue(newValue), helpManagerDescriptionOrValue(oldValue));
    ask.buttons = {localized("Change"), localized("Cancel")};
    ask.window = window();
    if (platform::runAlert(ask).button != 0)
        return true;

    const auto apply = [&defaults, &key](const platform::Value& value) {
        if (value.isNull())
            defaults.removeObjectForKey(key);
        else
            defaults.setObject(value, key);
    };
    apply(newValue);
    std::optional<QString> explanation = _delegate ? _delegate->helpManagerDidSetOrRemoveUserDefault(this, key) : std::nullopt;
    platform::Alert done;
    done.messageText = localized("User default updated");
    done.informativeText = explanation.value_or(localized("%1 is now set to %2.").arg(key, helpManagerDescriptionOrValue(newValue)));
    done.buttons = {localized("OK"), localized("Revert to %1").arg(helpManagerDescriptionOrValue(oldValue))};
    done.style = platform::AlertStyle::Informational;
    done.window = window();
    if (platform::runAlert(done).button == 1) {
        apply(oldValue);
        if (_delegate)
            _delegate->helpManagerDidSetOrRemoveUserDefault(this, key);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Commands

bool PMHelpManager::respondsToAction(const QString& action) const
{
    return action == QLatin1String("help") || PMBrowserWindowController::respondsToAction(action);
}

void PMHelpManager::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("help"))
        help(sender);
    else
        PMBrowserWindowController::performAction(action, sender);
}

bool PMHelpManager::validateMenuItem(QAction* item)
{
    if (platform::menuItemAction(item) == QLatin1String("help")) {
        setMacOS26ImageWithSystemSymbolName(item, QStringLiteral("lightbulb.max"), false, false);
        return PMMainController::helpIsAvailable();
    }
    return PMBrowserWindowController::validateMenuItem(item);
}
