#include "services/help/PMBrowserWindowController.h"

#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMAppearance.h"

#include <QtCore/QFileInfo>
#include <QtCore/QStringListModel>
#include <QtGui/QCloseEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtGui/QShortcut>
#include <QtGui/QTextCursor>
#include <QtPrintSupport/QPrintDialog>
#include <QtPrintSupport/QPrinter>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QApplication>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QListView>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyle>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

namespace {

QString gFindPasteboard;

constexpr int kSearchBarHeight = 31;

QString localized(const char* text)
{
    return QCoreApplication::translate("PMBrowserWindowController", text);
}

QIcon themedIcon(const char* name, QStyle::StandardPixmap fallback)
{
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

// A magnifier glass, for desktops whose icon theme has no search icon.
QIcon magnifierIcon(const QColor& color)
{
    QIcon themed = QIcon::fromTheme(QStringLiteral("edit-find"));
    if (!themed.isNull())
        return themed;
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal pen = size / 10.0;
        painter.setPen(QPen(color, pen, Qt::SolidLine, Qt::RoundCap));
        const qreal d = size * 0.58;
        painter.drawEllipse(QRectF(pen, pen, d, d));
        const qreal c = pen + d / 2 + d / 2 * 0.7071;
        painter.setPen(QPen(color, pen * 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(c, c), QPointF(size - pen * 1.2, size - pen * 1.2));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

// ---------------------------------------------------------------------------
// PMBrowserWindow

PMBrowserWindow::PMBrowserWindow(PMBrowserWindowController* controller, QWidget* parent)
    : QMainWindow(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("PMBrowserWindow"));
    // The toolbar may be shown but not hidden: no menu offers to hide it.
    setContextMenuPolicy(Qt::NoContextMenu);
}

bool PMBrowserWindow::respondsToAction(const QString& action) const
{
    return m_controller && m_controller->respondsToAction(action);
}

void PMBrowserWindow::performAction(const QString& action, QObject* sender)
{
    if (m_controller)
        m_controller->performAction(action, sender);
}

bool PMBrowserWindow::validateMenuItem(QAction* item)
{
    return m_controller && m_controller->validateMenuItem(item);
}

void PMBrowserWindow::closeEvent(QCloseEvent* event)
{
    // The window may always close.
    QMainWindow::closeEvent(event);
    event->accept();
    if (m_controller)
        m_controller->windowWillClose();
}

void PMBrowserWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (m_controller)
        m_controller->saveFrame();
}

void PMBrowserWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (m_controller)
        m_controller->saveFrame();
}

// ---------------------------------------------------------------------------
// PMBrowserWebView

PMBrowserWebView::PMBrowserWebView(PMBrowserWindowController* controller, QWidget* parent)
    : QTextBrowser(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("PMBrowserWebView"));
    // Every link goes through the controller's policy.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setFrameShape(QFrame::NoFrame);
}

void PMBrowserWebView::makeTextLarger()
{
    if (!canMakeTextLarger())
        return;
    ++m_zoomStep;
    zoomIn(1);
}

void PMBrowserWebView::makeTextSmaller()
{
    if (!canMakeTextSmaller())
        return;
    --m_zoomStep;
    zoomOut(1);
}

void PMBrowserWebView::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    // Copying stays; selecting everything is the Edit menu's.
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QLatin1String("select-all"))
            menu->removeAction(action);
    }
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().constFirst();
    auto* back = new QAction(localized("Back"), menu.get());
    back->setEnabled(isBackwardAvailable());
    QObject::connect(back, &QAction::triggered, this, &QTextBrowser::backward);
    auto* forward = new QAction(localized("Forward"), menu.get());
    forward->setEnabled(isForwardAvailable());
    QObject::connect(forward, &QAction::triggered, this, &QTextBrowser::forward);
    menu->insertAction(first, back);
    menu->insertAction(first, forward);
    if (first)
        menu->insertSeparator(first);
    menu->addSeparator();
    QAction* print = menu->addAction(localized("Print..."));
    QPointer<PMBrowserWindowController> controller = m_controller;
    QObject::connect(print, &QAction::triggered, this, [controller] {
        if (controller)
            controller->print();
    });
    menu->exec(event->globalPos());
}

// ---------------------------------------------------------------------------
// PMBrowserWindowSearchContainer

PMBrowserWindowSearchContainer::PMBrowserWindowSearchContainer(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PMBrowserWindowSearchContainer"));
    setFixedHeight(kSearchBarHeight);
}

void PMBrowserWindowSearchContainer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = isInFullyInvertedDarkMode(this) || palette().color(QPalette::Window).lightness() < 128;
    const QRectF r = rect();
    if (dark) {
        painter.fillRect(r, QColor::fromRgbF(0.22f, 0.22f, 0.22f));
        painter.fillRect(QRectF(0, r.height() - 1, r.width(), 1), QColor::fromRgbF(0.10f, 0.10f, 0.10f));
    } else {
        QLinearGradient gradient(r.topLeft(), r.bottomLeft());
        gradient.setColorAt(0, Qt::white);
        gradient.setColorAt(1, QColor::fromRgbF(0.97f, 0.97f, 0.97f));
        painter.fillRect(r, gradient);
        painter.fillRect(QRectF(0, r.height() - 1, r.width(), 1), QColor::fromRgbF(0.90f, 0.90f, 0.90f));
    }
}

// ---------------------------------------------------------------------------
// PMBrowserWindowSearchFieldEditor

PMBrowserWindowSearchFieldEditor::PMBrowserWindowSearchFieldEditor(PMBrowserWindowController* controller, QLineEdit* field, QWidget* listParent)
    : QObject(field), m_controller(controller), m_field(field), m_model(new QStringListModel(this))
{
    m_list = new QListView(listParent);
    m_list->setObjectName(QStringLiteral("PMBrowserWindowSearchSuggestions"));
    m_list->setModel(m_model);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true);
    m_list->setFrameShape(QFrame::NoFrame);
    // Rows start where the search field's text does; a line parts the list from the page.
    m_list->setStyleSheet(QStringLiteral("QListView { padding: 2px 6px 3px 6px; border: none; border-bottom: 1px solid palette(mid); }"));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_list->hide();
    m_list->installEventFilter(this);
    m_field->installEventFilter(this);
    // A chosen suggestion opens its page; it is not typed into the field.
    QObject::connect(m_list, &QListView::clicked, this, [this](const QModelIndex& index) { choose(index); });
}

PMBrowserWindowSearchFieldEditor::~PMBrowserWindowSearchFieldEditor()
{
    delete m_list.data();
}

void PMBrowserWindowSearchFieldEditor::choose(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const QString suggestion = index.data().toString();
    m_list->hide();
    if (m_controller)
        m_controller->selectSearchSuggestion(suggestion);
}

bool PMBrowserWindowSearchFieldEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !m_list)
        return QObject::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == m_field && key == Qt::Key_Down && m_list->isVisible() && m_model->rowCount() > 0) {
        m_list->setFocus(Qt::TabFocusReason);
        m_list->setCurrentIndex(m_model->index(0));
        return true;
    }
    if (watched == m_list.data()) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QModelIndex current = m_list->currentIndex();
            m_field->setFocus(Qt::OtherFocusReason);
            choose(current);
            return true;
        }
        if (key == Qt::Key_Escape || (key == Qt::Key_Up && m_list->currentIndex().row() <= 0)) {
            m_list->clearSelection();
            m_field->setFocus(Qt::OtherFocusReason);
            if (key == Qt::Key_Escape)
                m_list->hide();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PMBrowserWindowSearchFieldEditor::complete()
{
    const QStringList suggestions = m_controller ? m_controller->searchSuggestionsForQuery(m_field->text()) : QStringList();
    m_model->setStringList(suggestions);
    if (!m_list)
        return;
    if (suggestions.isEmpty()) {
        m_list->hide();
        return;
    }
    // Up to twelve rows show; more scroll. No row is preselected: Return in the field still
    // finds the typed text in the page.
    const int rows = std::min<int>(int(suggestions.size()), 12);
    const int rowHeight = m_list->sizeHintForRow(0) > 0 ? m_list->sizeHintForRow(0) : m_list->fontMetrics().height() + 2;
    m_list->setFixedHeight(rows * rowHeight + 2 * m_list->frameWidth() + 6);
    m_list->clearSelection();
    m_list->show();
}

QStringList PMBrowserWindowSearchFieldEditor::suggestions() const
{
    return m_model->stringList();
}

// ---------------------------------------------------------------------------
// PMBrowserWindowController

PMBrowserWindowController::PMBrowserWindowController(QObject* parent) : QObject(parent) {}

PMBrowserWindowController::~PMBrowserWindowController()
{
    if (m_window)
        delete m_window.data();
}

QSize PMBrowserWindowController::windowDefaultContentSizeForScreen(QScreen*) const
{
    return {800, 600};
}

QSet<QString> PMBrowserWindowController::acceptableFileURLExtensions() const
{
    return {QStringLiteral("htm"), QStringLiteral("html")};
}

QSet<QString> PMBrowserWindowController::acceptableExternalURLSchemes() const
{
    return {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto")};
}

QString PMBrowserWindowController::findPasteboardString()
{
    return gFindPasteboard;
}

void PMBrowserWindowController::setFindPasteboardString(const QString& text)
{
    gFindPasteboard = text;
}

QString PMBrowserWindowController::frameSaveKey() const
{
    return QStringLiteral("NSWindow Frame %1: %2").arg(className(), m_title);
}

bool PMBrowserWindowController::showHTMLContent(const QString& html, const QUrl& fromURL, const QString& windowTitle)
{
    if (!populateWithHTMLContent(html, fromURL, windowTitle))
        return false;
    if (!m_window)
        return false;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    return true;
}

bool PMBrowserWindowController::populateWithHTMLContent(const QString& html, const QUrl& fromURL, const QString& windowTitle)
{
    if (html.isEmpty() && fromURL.isEmpty())
        return false;
    if (!m_window || !m_webView)
        buildWindow(windowTitle);
    enableSpinner(true);
    if (!html.isEmpty()) {
        m_baseURL = fromURL;
        m_webView->clearHistory();
        m_webView->document()->setBaseUrl(fromURL);
        m_webView->setHtml(html);
    } else {
        m_baseURL = QUrl();
        const QSignalBlocker block(m_webView);
        m_webView->setSource(fromURL);
    }
    updateNavigator();
    didCommitLoad();
    didFinishLoad();
    return true;
}

void PMBrowserWindowController::buildWindow(const QString& windowTitle)
{
    m_title = windowTitle;
    QScreen* screen = preferredScreen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect visible = screen ? visibleFrameWithExtraDockSpacing(screen) : QRect(0, 0, 1280, 800);
    const QSize contentSize = windowDefaultContentSizeForScreen(screen).boundedTo(visible.size());
    const QSize minimumSize = windowMinimumContentSize().boundedTo(visible.size());

    m_window = new PMBrowserWindow(this);
    m_window->setWindowTitle(windowTitle);
    m_window->setMinimumSize(minimumSize);
    m_window->resize(contentSize);
    m_window->move(visible.topLeft());

    m_contentView = new QWidget(m_window);
    m_contentView->setObjectName(QStringLiteral("PMBrowserWindowContentView"));
    auto* column = new QVBoxLayout(m_contentView);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_webView = new PMBrowserWebView(this, m_contentView);
    column->addWidget(m_webView, 1);
    m_window->setCentralWidget(m_contentView);

    QObject::connect(m_webView, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        const QUrl base = m_webView && m_webView->source().isValid() && !m_webView->source().isEmpty() ? m_webView->source() : m_baseURL;
        decidePolicyForNavigation(base.isValid() && !base.isEmpty() ? base.resolved(link) : link);
    });
    // Back and forward load through the view itself.
    QObject::connect(m_webView, &QTextBrowser::sourceChanged, this, [this](const QUrl&) {
        updateNavigator();
        didCommitLoad();
        didFinishLoad();
    });
    QObject::connect(m_webView, &QTextBrowser::backwardAvailable, this, [this](bool) { updateNavigator(); });
    QObject::connect(m_webView, &QTextBrowser::forwardAvailable, this, [this](bool) { updateNavigator(); });

    if (allowsToolbarNavigation())
        buildToolbar(windowTitle);

    bool restored = false;
    if (windowSavesFrame()) {
        setFrameAutosaveName(m_window, QStringLiteral("%1: %2").arg(className(), windowTitle));
        const QStringList saved = platform::UserDefaults::standard().stringForKey(frameSaveKey()).split(u' ', Qt::SkipEmptyParts);
        if (saved.size() == 4) {
            const QRect frame(saved[0].toInt(), saved[1].toInt(), saved[2].toInt(), saved[3].toInt());
            if (frame.width() >= minimumSize.width() && frame.height() >= minimumSize.height()) {
                m_window->setGeometry(frame);
                restored = true;
            }
        }
    }
    if (!restored)
        center(m_window);
}

void PMBrowserWindowController::buildToolbar(const QString& windowTitle)
{
    auto* toolbar = new QToolBar(m_window);
    QString identifier = QStringLiteral("%1: %2 Toolbar").arg(className(), windowTitle);
    if (!hidesTitle())
        identifier += QStringLiteral(" (Separate Title)");
    if (allowsSearch())
        identifier += QStringLiteral(" (Search)");
    toolbar->setObjectName(identifier);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar->toggleViewAction()->setVisible(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    m_navigator = new QWidget(toolbar);
    m_navigator->setObjectName(QStringLiteral("Navigate"));
    m_navigator->setToolTip(localized("Back/Forward"));
    auto* pair = new QHBoxLayout(m_navigator);
    pair->setContentsMargins(0, 0, 0, 0);
    pair->setSpacing(0);
    m_backButton = new QToolButton(m_navigator);
    m_backButton->setIcon(themedIcon("go-previous", QStyle::SP_ArrowBack));
    m_backButton->setToolTip(localized("Back"));
    m_backButton->setProperty("segment", 0);
    m_backButton->setAutoRaise(true);
    m_forwardButton = new QToolButton(m_navigator);
    m_forwardButton->setIcon(themedIcon("go-next", QStyle::SP_ArrowForward));
    m_forwardButton->setToolTip(localized("Forward"));
    m_forwardButton->setProperty("segment", 1);
    m_forwardButton->setAutoRaise(true);
    pair->addWidget(m_backButton);
    pair->addWidget(m_forwardButton);
    QObject::connect(m_backButton, &QToolButton::clicked, this, [this] { navigate(m_backButton); });
    QObject::connect(m_forwardButton, &QToolButton::clicked, this, [this] { navigate(m_forwardButton); });
    toolbar->addWidget(m_navigator);

    if (hidesTitle()) {
        auto* spacer = new QWidget(toolbar);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(spacer);
        auto* title = new QWidget(toolbar);
        title->setObjectName(QStringLiteral("Title"));
        auto* row = new QHBoxLayout(title);
        row->setContentsMargins(toolbarTitlePaddingLeft(), 0, toolbarTitlePaddingRight(), 0);
        auto* icon = new QLabel(title);
        const QIcon image = toolbarTitleIcon.isNull() ? QApplication::windowIcon() : toolbarTitleIcon;
        icon->setPixmap(image.pixmap(16, 16));
        auto* text = new QLabel(windowTitle.isEmpty() ? QCoreApplication::applicationName() : windowTitle, title);
        row->addWidget(icon);
        row->addWidget(text);
        toolbar->addWidget(title);
    }
    if (allowsSearch()) {
        auto* spacer = new QWidget(toolbar);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(spacer);
        auto* search = new QToolButton(toolbar);
        search->setObjectName(QStringLiteral("Search"));
        search->setIcon(magnifierIcon(search->palette().color(QPalette::ButtonText)));
        search->setToolTip(localized("Find..."));
        search->setText(localized("Find..."));
        search->setAutoRaise(true);
        QObject::connect(search, &QToolButton::clicked, this, [this] { toggleSearchField(); });
        toolbar->addWidget(search);
    }
    m_window->addToolBar(Qt::TopToolBarArea, toolbar);
    updateNavigator();
}

void PMBrowserWindowController::updateNavigator()
{
    if (m_backButton)
        m_backButton->setEnabled(m_webView && m_webView->isBackwardAvailable());
    if (m_forwardButton)
        m_forwardButton->setEnabled(m_webView && m_webView->isForwardAvailable());
}

void PMBrowserWindowController::enableSpinner(bool flag)
{
    if (flag) {
        if (m_spinner || !displaysSpinnerWhileLoading() || !m_webView)
            return;
        m_spinner = new QProgressBar(m_webView);
        m_spinner->setRange(0, 0);
        m_spinner->setTextVisible(false);
        m_spinner->setFixedSize(64, 8);
        m_spinner->move((m_webView->width() - m_spinner->width()) / 2, (m_webView->height() - m_spinner->height()) / 2);
        m_spinner->show();
    } else if (m_spinner) {
        m_spinner->hide();
        m_spinner->deleteLater();
        m_spinner = nullptr;
    }
}

void PMBrowserWindowController::didFinishLoad()
{
    enableSpinner(false);
}

void PMBrowserWindowController::zoomIn(QObject*)
{
    if (m_webView)
        m_webView->makeTextLarger();
}

void PMBrowserWindowController::zoomOut(QObject*)
{
    if (m_webView)
        m_webView->makeTextSmaller();
}

void PMBrowserWindowController::showSearchField(bool flag)
{
    if (!m_contentView || !m_webView)
        return;
    auto* column = static_cast<QVBoxLayout*>(m_contentView->layout());
    if (flag) {
        if (!allowsSearch())
            return;
        if (!m_searchContainer) {
            m_searchContainer = new PMBrowserWindowSearchContainer(m_contentView);
            auto* row = new QHBoxLayout(m_searchContainer);
            row->setContentsMargins(4, 2, 4, 3);
            row->setSpacing(6);
            m_searchField = new QLineEdit(m_searchContainer);
            m_searchField->setObjectName(QStringLiteral("PMBrowserWindowSearchField"));
            m_searchField->setPlaceholderText(localized("Search"));
            m_searchField->setClearButtonEnabled(true);
            m_searchField->setText(findPasteboardString());
            auto* done = new QPushButton(localized("Done"), m_searchContainer);
            done->setObjectName(QStringLiteral("Done"));
            done->setAutoDefault(false);
            row->addWidget(m_searchField, 1);
            row->addWidget(done);
            m_searchFieldEditor = new PMBrowserWindowSearchFieldEditor(this, m_searchField, m_contentView);
            QObject::connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString& text) {
                setFindPasteboardString(text);
                if (m_searchFieldEditor)
                    m_searchFieldEditor->complete();
            });
            QObject::connect(m_searchField, &QLineEdit::returnPressed, this, [this] { performSearch(m_searchField); });
            QObject::connect(done, &QPushButton::clicked, this, [this] { toggleSearchField(); });
            // Escape in the bar (the Done button's key) hides it.
            auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_searchContainer, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
            QObject::connect(escape, &QShortcut::activated, this, [this] { showSearchField(false); });
            column->insertWidget(column->indexOf(m_webView), m_searchContainer);
            column->insertWidget(column->indexOf(m_webView), m_searchFieldEditor->list());
            m_searchContainer->show();
        }
        m_searchField->setFocus(Qt::ShortcutFocusReason);
        m_searchField->selectAll();
    } else if (m_searchContainer) {
        if (m_searchFieldEditor && m_searchFieldEditor->list()) {
            column->removeWidget(m_searchFieldEditor->list());
            m_searchFieldEditor->list()->hide();
        }
        column->removeWidget(m_searchContainer);
        m_searchContainer->hide();
        m_searchContainer->deleteLater();
        m_searchContainer = nullptr;
        m_searchField = nullptr;
        m_searchFieldEditor = nullptr;
        m_webView->setFocus(Qt::OtherFocusReason);
    }
}

void PMBrowserWindowController::toggleSearchField(QObject*)
{
    showSearchField(!m_searchContainer);
}

bool PMBrowserWindowController::findInPage(const QString& text, bool backwards)
{
    if (!m_webView || text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (m_webView->find(text, flags))
        return true;
    // Wrap around: from the other end of the page once more.
    const QTextCursor saved = m_webView->textCursor();
    QTextCursor cursor(m_webView->document());
    cursor.movePosition(backwards ? QTextCursor::End : QTextCursor::Start);
    m_webView->setTextCursor(cursor);
    if (m_webView->find(text, flags))
        return true;
    m_webView->setTextCursor(saved);
    return false;
}

void PMBrowserWindowController::performSearch(QObject*)
{
    const QString text = m_searchField ? m_searchField->text() : QString();
    if (!allowsSearch() || text.isEmpty() || !findInPage(text, false))
        platform::beep();
}

void PMBrowserWindowController::performTextFinderAction(QObject* sender)
{
    qint64 tag = 1;
    if (auto* item = qobject_cast<QAction*>(sender); item && platform::menuItemTag(item) != 0)
        tag = platform::menuItemTag(item);
    performTextFinderActionWithTag(tag);
}

void PMBrowserWindowController::performTextFinderActionWithTag(qint64 tag)
{
    if (tag == 1 && allowsSearch() && m_webView) {
        showSearchField(true);
        return;
    }
    if ((tag == 2 || tag == 3) && allowsSearch() && !findPasteboardString().isEmpty() && findInPage(findPasteboardString(), tag == 3))
        return;
    platform::beep();
}

void PMBrowserWindowController::navigate(QObject* sender)
{
    if (!m_webView)
        return;
    if (sender && sender->property("segment").toInt() == 1)
        m_webView->forward();
    else
        m_webView->backward();
}

bool PMBrowserWindowController::respondsToAction(const QString& action) const
{
    static const QSet<QString> actions = {
        QStringLiteral("performTextFinderAction"), QStringLiteral("zoomIn"), QStringLiteral("zoomOut"),
        QStringLiteral("increaseScale"), QStringLiteral("decreaseScale"), QStringLiteral("print"),
        QStringLiteral("navigate"), QStringLiteral("toggleSearchField"), QStringLiteral("performSearch"),
    };
    return actions.contains(action);
}

void PMBrowserWindowController::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("performTextFinderAction"))
        performTextFinderAction(sender);
    else if (action == QLatin1String("zoomIn") || action == QLatin1String("increaseScale"))
        zoomIn(sender);
    else if (action == QLatin1String("zoomOut") || action == QLatin1String("decreaseScale"))
        zoomOut(sender);
    else if (action == QLatin1String("print"))
        print(sender);
    else if (action == QLatin1String("navigate"))
        navigate(sender);
    else if (action == QLatin1String("toggleSearchField"))
        toggleSearchField(sender);
    else if (action == QLatin1String("performSearch"))
        performSearch(sender);
}

bool PMBrowserWindowController::validateMenuItem(QAction* item)
{
    const QString action = platform::menuItemAction(item);
    if (action == QLatin1String("performTextFinderAction")) {
        const qint64 tag = platform::menuItemTag(item);
        return (allowsSearch() && tag == 1) || ((tag == 2 || tag == 3) && !findPasteboardString().isEmpty());
    }
    if (action == QLatin1String("zoomIn") || action == QLatin1String("increaseScale"))
        return m_webView && m_webView->canMakeTextLarger();
    if (action == QLatin1String("zoomOut") || action == QLatin1String("decreaseScale"))
        return m_webView && m_webView->canMakeTextSmaller();
    return true;
}

void PMBrowserWindowController::print(QObject*)
{
    if (!m_webView)
        return;
    QPrinter printer;
    printer.setDocName(m_title);
    QPrintDialog dialog(&printer, m_window);
    if (dialog.exec() == QDialog::Accepted)
        m_webView->print(&printer);
}

PMBrowserWindowController::NavigationPolicy PMBrowserWindowController::policyForNavigationToURL(const QUrl& url) const
{
    if (url.isLocalFile()) {
        const QString suffix = QFileInfo(url.toLocalFile()).suffix();
        if (acceptableFileURLExtensions().contains(suffix) && acceptsFileURL(url))
            return NavigationPolicy::Load;
        return NavigationPolicy::Ignore;
    }
    // "about:blank" is never handed to another program.
    if (acceptableExternalURLSchemes().contains(url.scheme()) && url.toString() != QLatin1String("about:blank"))
        return NavigationPolicy::OpenExternally;
    return NavigationPolicy::Ignore;
}

void PMBrowserWindowController::decidePolicyForNavigation(const QUrl& url)
{
    if (handleNavigationToURL(url))
        return;
    switch (policyForNavigationToURL(url)) {
    case NavigationPolicy::Load:
        if (!m_webView)
            return;
        enableSpinner(true);
        {
            const QSignalBlocker block(m_webView);
            m_webView->setSource(url);
        }
        updateNavigator();
        didCommitLoad();
        didFinishLoad();
        break;
    case NavigationPolicy::OpenExternally:
        platform::openURLWithDefaultHandler(url);
        break;
    case NavigationPolicy::Ignore:
        break;
    }
}

void PMBrowserWindowController::saveFrame()
{
    if (!m_window || !windowSavesFrame() || !m_window->isVisible() || m_window->isFullScreen() || m_window->isMaximized())
        return;
    const QRect g = m_window->geometry();
    platform::UserDefaults::standard().setObject(
        platform::Value(QStringLiteral("%1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())), frameSaveKey());
}

void PMBrowserWindowController::windowWillClose()
{
    if (!releasesWindowWhenClosed())
        return;
    // Everything is built again for the next page.
    PMBrowserWindow* window = m_window;
    m_webView = nullptr;
    m_navigator = nullptr;
    m_backButton = nullptr;
    m_forwardButton = nullptr;
    m_spinner = nullptr;
    m_searchField = nullptr;
    m_searchFieldEditor = nullptr;
    m_searchContainer = nullptr;
    m_contentView = nullptr;
    m_window = nullptr;
    if (window)
        window->deleteLater();
}
