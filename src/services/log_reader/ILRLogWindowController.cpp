#include "services/log_reader/ILRLogWindowController.h"

#include "platform/NotificationCenter.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "services/log_reader/ILRIntegratedLogReader.h"
#include "services/log_reader/ILRLogTextView.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/kit/PMAppearance.h"

#include <QtCore/QEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

namespace {

// The window answers the find and copy commands of the main menu for its log view, which
// reach it along the responder chain from whatever has the focus inside it.
class ILRLogWindow : public QWidget, public platform::Responder {
public:
    using QWidget::QWidget;
    std::function<void()> showFindBar;
    QPointer<ILRLogTextView> view;
    bool respondsToAction(const QString& action) const override
    {
        if (action == QLatin1String("performTextFinderAction") || action == QLatin1String("performFindPanelAction"))
            return bool(showFindBar);
        return view && (action == QLatin1String("copy") || action == QLatin1String("selectAll"));
    }
    void performAction(const QString& action, QObject*) override
    {
        if (action == QLatin1String("copy"))
            view->copy();
        else if (action == QLatin1String("selectAll"))
            view->selectAll();
        else if (showFindBar)
            showFindBar();
    }
    bool validateMenuItem(QAction* item) override
    {
        if (platform::menuItemAction(item) == QLatin1String("copy"))
            return view && !view->selectedText().isEmpty();
        return true;
    }
};

template <class T>
T* outlet(QWidget* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

ILRLogWindowController::ILRLogWindowController(std::weak_ptr<ILRIntegratedLogReader> reader)
    : m_reader(std::move(reader))
{
}

ILRLogWindowController::~ILRLogWindowController()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    delete window.data();
}

QWidget* ILRLogWindowController::buildWindow(QObject*)
{
    auto* window = new ILRLogWindow(nullptr, Qt::Window);
    window->setObjectName(QStringLiteral("window"));
    window->resize(720, 520);
    window->setMinimumSize(360, 220);
    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(0, 0, 0, 8);
    column->setSpacing(0);

    // The strip of the Options button (the title bar's accessory on other desktops).
    auto* top = new QWidget(window);
    top->setObjectName(QStringLiteral("titlebarAccessories"));
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(8, 3, 8, 3);
    topRow->addStretch(1);
    column->addWidget(top);

    auto* view = new ILRLogTextView(window);
    view->setObjectName(QStringLiteral("logView"));
    view->setFrameShape(QFrame::NoFrame);
    column->addWidget(view, 1);

    auto* findBar = new QWidget(window);
    findBar->setObjectName(QStringLiteral("findBar"));
    auto* findRow = new QHBoxLayout(findBar);
    findRow->setContentsMargins(8, 6, 8, 0);
    auto* findField = new QLineEdit(findBar);
    findField->setObjectName(QStringLiteral("findField"));
    findField->setPlaceholderText(tr("Find"));
    findField->setClearButtonEnabled(true);
    auto* previous = new QToolButton(findBar);
    previous->setObjectName(QStringLiteral("findPrevious"));
    previous->setText(QStringLiteral("\u25C0"));
    previous->setToolTip(tr("Previous"));
    auto* next = new QToolButton(findBar);
    next->setObjectName(QStringLiteral("findNext"));
    next->setText(QStringLiteral("\u25B6"));
    next->setToolTip(tr("Next"));
    auto* done = new QPushButton(tr("Done"), findBar);
    done->setObjectName(QStringLiteral("findDone"));
    findRow->addWidget(findField, 1);
    findRow->addWidget(previous);
    findRow->addWidget(next);
    findRow->addWidget(done);
    findBar->hide();
    column->addWidget(findBar);

    auto* bottom = new QWidget(window);
    auto* row = new QHBoxLayout(bottom);
    row->setContentsMargins(8, 8, 8, 0);
    auto* earlier = new QToolButton(bottom);
    earlier->setObjectName(QStringLiteral("findEarlierResultsButton"));
    earlier->setToolTip(tr("Find Earlier Messages"));
    auto* clear = new QToolButton(bottom);
    clear->setObjectName(QStringLiteral("clearButton"));
    auto* spinner = new QProgressBar(bottom);
    spinner->setObjectName(QStringLiteral("spinner"));
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(60, 12);
    spinner->hide();
    auto* debug = new QCheckBox(tr("Debug Logging"), bottom);
    debug->setObjectName(QStringLiteral("debugLoggingSwitch"));
    auto* save = new QPushButton(tr("Save…"), bottom);
    save->setObjectName(QStringLiteral("saveButton"));
    row->addWidget(earlier);
    row->addWidget(clear);
    row->addWidget(spinner);
    row->addStretch(1);
    row->addWidget(debug);
    row->addSpacing(12);
    row->addWidget(save);
    column->addWidget(bottom);
    return window;
}

bool ILRLogWindowController::connectOutlets(QWidget* built)
{
    window = built;
    logView = outlet<ILRLogTextView>(built, "logView");
    spinner = outlet<QProgressBar>(built, "spinner");
    findEarlierResultsButton = outlet<QToolButton>(built, "findEarlierResultsButton");
    clearButton = outlet<QToolButton>(built, "clearButton");
    saveButton = outlet<QPushButton>(built, "saveButton");
    debugLoggingSwitch = outlet<QCheckBox>(built, "debugLoggingSwitch");
    findBar = outlet<QWidget>(built, "findBar");
    findField = outlet<QLineEdit>(built, "findField");
    if (!logView || !spinner || !findEarlierResultsButton || !clearButton || !saveButton)
        return false;

    auto reader = [this] { return m_reader.lock(); };
    connect(findEarlierResultsButton, &QToolButton::clicked, this, [reader] {
        if (auto r = reader())
            r->findEarlierResults();
    });
    connect(clearButton, &QToolButton::clicked, this, [reader] {
        if (auto r = reader())
            r->clear();
    });
    connect(saveButton, &QPushButton::clicked, this, [reader] {
        if (auto r = reader())
            r->save();
    });
    if (debugLoggingSwitch) {
        connect(debugLoggingSwitch, &QCheckBox::clicked, this, [reader](bool on) {
            if (auto r = reader())
                r->toggleDebugLogging(on);
        });
    }
    // Return in the log view saves when saving is possible, and is taken either way.
    connect(logView, &ILRLogTextView::insertNewline, this, [this] {
        if (saveButton && saveButton->isEnabled() && saveButton->isVisible())
            saveButton->click();
    });
    connect(logView, &ILRLogTextView::findRequested, this, &ILRLogWindowController::showFindBar);
    if (findField) {
        connect(findField, &QLineEdit::returnPressed, this, [this] {
            findNext(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
        });
        connect(findField, &QLineEdit::textEdited, this, [this] {
            // Typing on refines the match in place rather than moving past it.
            if (logView) {
                const ILRLogTextView::Position start = logView->selectionStart();
                logView->setSelection(start, start);
            }
            findNext(false);
        });
        findField->installEventFilter(this);
    }
    if (auto* previous = outlet<QToolButton>(built, "findPrevious"))
        connect(previous, &QToolButton::clicked, this, [this] { findNext(true); });
    if (auto* next = outlet<QToolButton>(built, "findNext"))
        connect(next, &QToolButton::clicked, this, [this] { findNext(false); });
    if (auto* done = outlet<QPushButton>(built, "findDone")) {
        connect(done, &QPushButton::clicked, this, [this] {
            findBar->hide();
            logView->setFocus();
        });
    }
    if (auto* responder = dynamic_cast<ILRLogWindow*>(built)) {
        responder->view = logView;
        responder->showFindBar = [this] { showFindBar(); };
    }
    built->installEventFilter(this);
    return true;
}

void ILRLogWindowController::makeActionButton(bool showSenderItem, const QString& imageSetter)
{
    auto* strip = window ? window->findChild<QWidget*>(QStringLiteral("titlebarAccessories")) : nullptr;
    if (!strip)
        return;
    auto* button = new QToolButton(strip);
    button->setObjectName(QStringLiteral("optionsButton"));
    button->setToolTip(tr("Options"));
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAutoRaise(true);
    QIcon face = QIcon::fromTheme(QStringLiteral("open-menu-symbolic"), QIcon::fromTheme(QStringLiteral("configure")));
    if (face.isNull())
        button->setText(QStringLiteral("\u2699\uFE0E"));
    else
        button->setIcon(face);
    setControlSize(button, PMControlSize::Small);
    auto* menu = new QMenu(button);
    auto reader = [this] { return m_reader.lock(); };
    if (showSenderItem) {
        messageSenderItem = menu->addAction(tr("Show Message Sender"), this, [reader] {
            if (auto r = reader())
                r->toggleMessageSender();
        });
        messageSenderItem->setCheckable(true);
    }
    messageCoalescingItem = menu->addAction(tr("Coalesce Repeat Messages"), this, [reader] {
        if (auto r = reader())
            r->toggleMessageCoalescing();
    });
    messageCoalescingItem->setCheckable(true);
    menu->addSeparator();
    findItem = menu->addAction(tr("Find…"), this, &ILRLogWindowController::showFindBar);
    findItem->setData(1);
    if (imageSetter == QLatin1String("setMacOS26ImageWithSystemSymbolName")) {
        if (messageSenderItem)
            setMacOS26ImageWithSystemSymbolName(messageSenderItem, QStringLiteral("antenna.radiowaves.left.and.right"));
        setMacOS26ImageWithSystemSymbolName(messageCoalescingItem, QStringLiteral("rectangle.stack"));
        setMacOS26ImageWithSystemSymbolName(findItem, QStringLiteral("text.page.badge.magnifyingglass"));
    }
    connect(menu, &QMenu::aboutToShow, this, &ILRLogWindowController::validateMenuItems);
    // The menu opens under the button and inside the window, its right edges aligned.
    menu->installEventFilter(this);
    button->setMenu(menu);
    static_cast<QHBoxLayout*>(strip->layout())->addWidget(button);
    _actionButton = button;
}

void ILRLogWindowController::validateMenuItems()
{
    auto r = m_reader.lock();
    if (!r)
        return;
    platform::UserDefaults& d = platform::UserDefaults::standard();
    if (messageSenderItem) {
        if (r->cachedLogMessages()) {
            messageSenderItem->setChecked(false);
            messageSenderItem->setEnabled(false);
        } else {
            messageSenderItem->setEnabled(true);
            messageSenderItem->setChecked(!d.boolForKey(prefs::keys::ILRIntegratedLogReaderHideSender));
        }
    }
    if (messageCoalescingItem) {
        messageCoalescingItem->setEnabled(true);
        messageCoalescingItem->setChecked(!d.boolForKey(prefs::keys::ILRIntegratedLogReaderDisableCoalescing));
    }
    if (findItem)
        findItem->setEnabled(true);
}

void ILRLogWindowController::showFindBar()
{
    if (!findBar || !findField)
        return;
    findBar->show();
    findField->setFocus();
    findField->selectAll();
}

void ILRLogWindowController::findNext(bool backwards)
{
    if (!logView || !findField)
        return;
    const bool found = logView->find(findField->text(), backwards);
    // A search that finds nothing shows it in the field, as text fields do.
    QPalette palette = findField->palette();
    palette.setColor(QPalette::Text, found || findField->text().isEmpty() ? QApplication::palette().color(QPalette::Text) : QColor(200, 30, 30));
    findField->setPalette(palette);
}

void ILRLogWindowController::restoreFrame(const QString& name)
{
    m_frameName = name;
    if (!window)
        return;
    if (name.isEmpty()) {
        center(window);
        return;
    }
    setFrameAutosaveName(window, name);
    const QStringList parts = platform::UserDefaults::standard().stringForKey(prefs::prefixes::NSWindowFrame + name).split(QLatin1Char(' '));
    if (parts.size() == 4) {
        bool ok[4];
        const QRect frame(parts[0].toInt(&ok[0]), parts[1].toInt(&ok[1]), parts[2].toInt(&ok[2]), parts[3].toInt(&ok[3]));
        if (ok[0] && ok[1] && ok[2] && ok[3] && frame.width() >= window->minimumWidth() && frame.height() >= window->minimumHeight()) {
            // Only where a screen still shows it.
            for (QScreen* screen : QGuiApplication::screens()) {
                if (screen->availableGeometry().intersects(frame)) {
                    window->setGeometry(frame);
                    return;
                }
            }
        }
    }
    center(window);
}

void ILRLogWindowController::saveFrame()
{
    if (!window || m_frameName.isEmpty())
        return;
    const QRect g = window->geometry();
    platform::UserDefaults::standard().setObject(
        platform::Value(QStringLiteral("%1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())),
        prefs::prefixes::NSWindowFrame + m_frameName);
}

bool ILRLogWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == findField && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            findBar->hide();
            logView->setFocus();
            return true;
        }
    }
    if (_actionButton && watched == _actionButton->menu() && event->type() == QEvent::Show) {
        auto* menu = static_cast<QMenu*>(watched);
        const QPoint topRight = _actionButton->mapToGlobal(QPoint(_actionButton->width(), _actionButton->height()));
        menu->move(topRight.x() - menu->width(), topRight.y());
    }
    if (watched == window) {
        switch (event->type()) {
        case QEvent::Close:
            saveFrame();
            if (auto r = m_reader.lock())
                r->windowWillClose();
            break;
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
            if (_actionButton)
                _actionButton->update();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
