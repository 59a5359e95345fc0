// The log window side of the reader: showing the window, composing and applying the
// text, the buttons, the spinner, the debug-logging switch, saving and closing.
#include "services/log_reader/ILRIntegratedLogReader.h"

#include "foundation/PMLog.h"
#include "platform/Alert.h"
#include "platform/InterfaceFiles.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/Queues.h"
#include "platform/SaveFile.h"
#include "platform/SavePanel.h"
#include "platform/UserDefaults.h"
#include "services/log_reader/ILRJSONLogStream.h"
#include "services/log_reader/ILRLogTextView.h"
#include "services/log_reader/ILRLogWindowController.h"

#include <QtCore/QUrl>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>

namespace {

const QString kUpdateDisplayNotification = QStringLiteral("ILRIntegratedLogReaderUpdateDisplayNotification");
const QString kUpdateDebugLoggingSwitchNotification = QStringLiteral("ILRIntegratedLogReaderUpdateDebugLoggingSwitchNotification");
const QString kHideSender = QStringLiteral("ILRIntegratedLogReaderHideSender");
const QString kDisableCoalescing = QStringLiteral("ILRIntegratedLogReaderDisableCoalescing");

QString tr(const char* text)
{
    return QCoreApplication::translate("ILRLogWindow", text);
}

QString bundleName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Pellis") : name;
}

QString bundleIdentifier()
{
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("com.tolvane.Pellis") : name;
}

// A theme icon where the desktop has one, else the text.
void setSymbol(QToolButton* button, const char* themeName, const QString& fallbackText)
{
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (icon.isNull()) {
        button->setIcon(QIcon());
        button->setText(fallbackText);
    } else {
        button->setIcon(icon);
        button->setText(QString());
    }
}

// The text with what an XML file cannot hold (control characters other than tab and
// line breaks, unpaired surrogates, U+FFFE and U+FFFF) replaced by U+FFFD: a log line
// naming a file with an odd character must not make the whole log unsavable.
QString xmlSafeText(const QString& text)
{
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char16_t c = out[i].unicode();
        bool bad = (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 < out.size() && QChar::isLowSurrogate(out[i + 1].unicode())) {
                ++i;
                continue;
            }
            bad = true;
        } else if (QChar::isLowSurrogate(c)) {
            bad = true;
        }
        if (bad)
            out[i] = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

// Property-list values of an entry: strings and numbers as they are, arrays and
// dictionaries element by element, anything else (a date) as its description.
platform::Value propertyListValue(const platform::Value& v)
{
    if (v.isString())
        return platform::Value(xmlSafeText(v.string()));
    if (v.isNumber())
        return v;
    if (const platform::ArrayPtr a = v.array()) {
        auto out = platform::Array::make();
        for (const platform::Value& e : *a)
            out->append(propertyListValue(e));
        return platform::Value(out);
    }
    if (const platform::DictionaryPtr d = v.dictionary()) {
        auto out = platform::Dictionary::make();
        for (auto it = d->begin(); it != d->end(); ++it)
            out->setValue(xmlSafeText(it.key()), propertyListValue(it.value()));
        return platform::Value(out);
    }
    return platform::Value(v.description());
}

} // namespace

// ---- Showing ------------------------------------------------------------------------------

void ILRIntegratedLogReader::displayLog(QObject*)
{
    if (QWidget* w = window())
        QApplication::setActiveWindow(w);
    displayLog();
}

void ILRIntegratedLogReader::displayLog()
{
    displayLogAndForceUpdate(false);
}

bool ILRIntegratedLogReader::displayLogAndForceUpdate(bool force)
{
    if (!platform::isMainThread()) {
        bool result = false;
        std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
        platform::dispatchSyncMain([weak, &result] {
            if (auto r = weak.lock())
                result = r->displayLogAndForceUpdate(false);
        });
        return result;
    }
    if (!canDisplayLog()) {
        platform::Alert alert;
        alert.messageText = tr("Log Not Supported");
        alert.informativeText = tr("Displaying an app-specific log requires macOS 10.13.4 or newer.");
        platform::runAlert(alert);
        return false;
    }
    ILRIntegratedLogReaderDelegate* delegate;
    {
        std::lock_guard lock(m_lock);
        delegate = _delegate;
    }
    if (!m_windowController) {
        auto controller = std::make_unique<ILRLogWindowController>(weak_from_this());
        QString nib = QStringLiteral("ILRLogWindow");
        if (delegate) {
            if (std::optional<QString> name = delegate->nibForLogReader(this))
                nib = *name;
        }
        QWidget* built = platform::loadInterface(nib, controller.get());
        if (!built) {
            PMLog("[ILR] cannot load ILRLogWindow.nib");
            platform::beep();
            return false;
        }
        if (!controller->connectOutlets(built)) {
            delete built;
            controller->window = nullptr;
            PMLog("[ILR] cannot instantiate ILRLogWindow.nib");
            platform::beep();
            return false;
        }
        m_windowController = std::move(controller);
        // The window and the tool's threads go before Qt does, not when the reader is
        // destroyed with the other statics after it.
        std::weak_ptr<ILRIntegratedLogReader> quitting = weak_from_this();
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [quitting] {
            if (auto r = quitting.lock()) {
                r->reset();
                r->m_windowVisible = false;
                r->m_windowController.reset();
            }
            ILRTerminateAllLogStreams();
        });
        windowTitle = QStringLiteral("%1 Log").arg(bundleName());
        built->setWindowTitle(windowTitle);
        QString frameName = QStringLiteral("%1.ILRLogWindow").arg(bundleIdentifier());
        if (delegate) {
            if (std::optional<std::optional<QString>> answer = delegate->windowFrameAutosaveNameForLogReader(this))
                frameName = answer->value_or(QString());
        }
        m_windowController->restoreFrame(frameName);
        updateDebugLoggingSwitch(false);
        updateFindEarlierResultsButton();
        m_windowController->logView->setTextContainerInset(QSize(2, 5));
        m_windowController->makeActionButton(!cacheLogMessages(), menuItemActionImageSetter());
        // Without the journal there is no history to go back into.
        if (cacheLogMessages())
            m_windowController->findEarlierResultsButton->hide();
        std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
        center.addObserver(m_windowController.get(), kUpdateDisplayNotification, nullptr, [weak](const platform::Notification&) {
            if (auto r = weak.lock())
                r->updateDisplay();
        });
        center.addObserver(m_windowController.get(), kUpdateDebugLoggingSwitchNotification, nullptr, [weak](const platform::Notification& n) {
            if (auto r = weak.lock())
                r->updateDebugLoggingSwitch(n.object == r.get());
        });
    }
    const bool wasVisible = windowIsVisible();
    m_windowVisible = true;
    if (cacheLogMessages()) {
        std::lock_guard lock(m_lock);
        if (!_cachedLogMessages)
            setUpCachedLogMessages();
        spin(false);
        updateDisplayByDispatchingToMainQueue(false);
    } else {
        int level = 0;
        QStringList predicate = defaultFilteringPredicate();
        if (delegate) {
            level = delegate->filteringLevelForLogReader(this).value_or(0);
            if (std::optional<QStringList> p = delegate->filteringPredicateForLogReader(this); p && !p->isEmpty())
                predicate = *p;
        }
        bool load = false;
        {
            std::lock_guard lock(m_lock);
            if (level != _filteringLevel) {
                _filteringLevel = level;
                force = true;
            }
            if (predicate != _filteringPredicate) {
                _filteringPredicate = predicate;
                load = true;
            } else {
                load = force || !wasVisible;
            }
        }
        if (load)
            updateLogAfterIncreasingNumberOfDays(false);
    }
    QWidget* w = m_windowController->window;
    w->show();
    w->raise();
    w->activateWindow();
    return true;
}

bool ILRIntegratedLogReader::windowIsVisible() const
{
    return m_windowVisible.load();
}

QWidget* ILRIntegratedLogReader::window() const
{
    return m_windowController ? m_windowController->window.data() : nullptr;
}

ILRLogTextView* ILRIntegratedLogReader::logView() const
{
    return m_windowController ? m_windowController->logView.data() : nullptr;
}

ILRLogWindowController* ILRIntegratedLogReader::windowController() const
{
    return m_windowController.get();
}

QString ILRIntegratedLogReader::displayedText() const
{
    ILRLogTextView* view = logView();
    return view ? view->text() : QString();
}

// ---- Composing and applying ---------------------------------------------------------------

ILRLogDisplayOptions ILRIntegratedLogReader::displayOptions() const
{
    std::lock_guard lock(m_lock);
    const platform::UserDefaults& d = platform::UserDefaults::standard();
    ILRLogDisplayOptions options;
    options.hideSender = d.boolForKey(kHideSender);
    options.disableCoalescing = d.boolForKey(kDisableCoalescing);
    options.hiddenPrefixes = _hiddenPrefixes;
    options.archiveInsertionIndex = _archiveInsertionIndex;
    options.updateDate = _updateDate;
    options.numberOfDays = _numberOfDays;
    options.paragraphKey = _hiddenPrefixesGeneration;
    return options;
}

ILRLogParagraphs ILRIntegratedLogReader::composeParagraphs()
{
    std::lock_guard lock(m_lock);
    static ILRLogEntries none;
    ILRLogEntries& entries = _cachedLogMessages ? *_cachedLogMessages : _logEntries ? *_logEntries : none;
    return ILRComposeLogParagraphs(entries, displayOptions(), *m_dateFormatter);
}

void ILRIntegratedLogReader::updateDisplay()
{
    // Composed off the main thread, which never waits for a reader thread's lock.
    if (windowIsVisible())
        scheduleDisplayUpdate();
}

void ILRIntegratedLogReader::scheduleDisplayUpdate()
{
    // Composing waits for nobody, and bursts of batches are composed once.
    if (!m_windowVisible.load() || m_compositionScheduled.exchange(true))
        return;
    std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
    platform::dispatchAsyncGlobal([weak] {
        auto r = weak.lock();
        if (!r)
            return;
        r->m_compositionScheduled = false;
        std::lock_guard lock(r->m_lock);
        r->updateDisplayByDispatchingToMainQueue(true);
    });
}

void ILRIntegratedLogReader::updateDisplayByDispatchingToMainQueue(bool dispatch)
{
    std::lock_guard lock(m_lock);
    const bool hasEntries = _cachedLogMessages ? !_cachedLogMessages->empty() : _logEntries && !_logEntries->empty();
    ILRLogParagraphs paragraphs = composeParagraphs();
    bool schedule = false;
    {
        std::lock_guard displayLock(m_displayMutex);
        // Only the newest text matters: one not yet applied is replaced.
        m_pendingDisplay = std::make_pair(std::move(paragraphs), hasEntries);
        if ((dispatch || !platform::isMainThread()) && !m_applyScheduled) {
            m_applyScheduled = true;
            schedule = true;
        }
    }
    if (dispatch || !platform::isMainThread()) {
        if (schedule) {
            std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
            platform::dispatchAsyncMain([weak] {
                if (auto r = weak.lock())
                    r->applyPendingDisplay();
            });
        }
        return;
    }
    applyPendingDisplay();
}

void ILRIntegratedLogReader::applyPendingDisplay()
{
    std::optional<std::pair<ILRLogParagraphs, bool>> pending;
    {
        std::lock_guard displayLock(m_displayMutex);
        m_applyScheduled = false;
        pending.swap(m_pendingDisplay);
    }
    if (pending)
        updateDisplayWithLogString(std::move(pending->first), pending->second);
}

void ILRIntegratedLogReader::updateDisplayWithLogString(ILRLogParagraphs paragraphs, bool hasLogEntries)
{
    ILRLogWindowController* c = m_windowController.get();
    if (!c || !c->logView)
        return;
    if (QToolButton* clearButton = c->clearButton) {
        if (hasLogEntries) {
            clearButton->setToolTip(tr("Clear"));
            setSymbol(clearButton, "edit-delete", QStringLiteral("\u2205"));
            clearButton->show();
        } else {
            clearButton->setToolTip(tr("Stop"));
            setSymbol(clearButton, "process-stop", QStringLiteral("\u2715"));
            bool loading;
            {
                std::lock_guard lock(m_lock);
                loading = _archiveInsertionIndex.has_value();
            }
            clearButton->setVisible(loading);
        }
    }
    if (c->saveButton)
        c->saveButton->setVisible(hasLogEntries);
    c->logView->setParagraphs(std::move(paragraphs));
}

void ILRIntegratedLogReader::updateFindEarlierResultsButton()
{
    ILRLogWindowController* c = m_windowController.get();
    if (!c || !c->findEarlierResultsButton)
        return;
    const bool spinning = _isSpinning.load();
    c->findEarlierResultsButton->setEnabled(!spinning && !cacheLogMessages());
    if (spinning) {
        c->findEarlierResultsButton->setIcon(QIcon());
        c->findEarlierResultsButton->setText(QString());
    } else {
        setSymbol(c->findEarlierResultsButton, "document-open-recent", QStringLiteral("\u2B06\uFE0E"));
    }
}

void ILRIntegratedLogReader::spin(bool on)
{
    _isSpinning = on;
    ILRLogWindowController* c = m_windowController.get();
    if (c && c->window) {
        c->window->setWindowTitle(on ? windowTitle + tr(" — Finding Older Messages…") : windowTitle);
        if (c->spinner)
            c->spinner->setVisible(on);
    }
    updateFindEarlierResultsButton();
}

void ILRIntegratedLogReader::updateDebugLoggingSwitch(bool fromThisReader)
{
    ILRLogWindowController* c = m_windowController.get();
    if (!c || !c->debugLoggingSwitch)
        return;
    bool settable = false;
    const bool enabled = isDebugLoggingEnabledAndSettable(&settable);
    if (c->debugLoggingSwitch->isChecked() != enabled) {
        if (fromThisReader)
            PMLog("[ILR] unexpected debug logging state change");
        c->debugLoggingSwitch->setChecked(enabled);
    }
    c->debugLoggingSwitch->setEnabled(settable);
    c->debugLoggingSwitch->setVisible(enabled || settable);
}

// ---- Options ------------------------------------------------------------------------------

void ILRIntegratedLogReader::toggleMessageSender()
{
    toggleDisplayRelatedUserDefault(kHideSender);
}

void ILRIntegratedLogReader::toggleMessageCoalescing()
{
    toggleDisplayRelatedUserDefault(kDisableCoalescing);
}

void ILRIntegratedLogReader::toggleDisplayRelatedUserDefault(const QString& key)
{
    {
        std::lock_guard lock(m_lock);
        platform::UserDefaults& d = platform::UserDefaults::standard();
        if (d.boolForKey(key))
            d.removeObjectForKey(key);
        else
            d.setBool(true, key);
    }
    platform::NotificationCenter::defaultCenter().postNotificationName(kUpdateDisplayNotification, this);
}

// ---- Saving -------------------------------------------------------------------------------

QString ILRIntegratedLogReader::writeLogToPath(const QString& path)
{
    auto list = platform::Array::make();
    {
        std::lock_guard lock(m_lock);
        const ILRLogEntries* entries = _cachedLogMessages ? &*_cachedLogMessages : _logEntries.get();
        if (entries) {
            for (const ILRLogEntryPtr& e : *entries)
                list->append(propertyListValue(platform::Value(e->dictionary)));
        }
    }
    if (list->count() == 0)
        return tr("no entries");
    QString error;
    const QByteArray bytes = platform::writeXMLPropertyList(platform::Value(list), &error);
    if (bytes.isEmpty())
        return error;
    return platform::saveFile(path, bytes);
}

bool ILRIntegratedLogReader::save()
{
    bool hasEntries;
    {
        std::lock_guard lock(m_lock);
        hasEntries = _cachedLogMessages ? !_cachedLogMessages->empty() : _logEntries && !_logEntries->empty();
    }
    if (!hasEntries) {
        PMLog("[ILR] cannot save log: no entries");
        platform::beep();
        return false;
    }
    platform::SavePanel panel;
    panel.title = tr("Save Log");
    panel.proposedName = tr("Log");
    panel.allowedExtension = QStringLiteral("plist");
    panel.window = window();
    // The lock is not held while the panel is open: the streams go on meanwhile, and the
    // file gets the entries as they are when the user confirms.
    const QString path = platform::runSavePanel(panel);
    if (path.isEmpty())
        return false;
    const QString error = writeLogToPath(path);
    if (!error.isEmpty()) {
        PMLog("[ILR] cannot save log: %@", QUrl::fromLocalFile(path).toString() + QStringLiteral(" (") + error + QLatin1Char(')'));
        platform::beep();
        return false;
    }
    return true;
}

// ---- Closing ------------------------------------------------------------------------------

void ILRIntegratedLogReader::windowWillClose()
{
    m_windowVisible = false;
    reset();
    std::lock_guard lock(m_lock);
    // The own-message cache stays: it is the only record of what happened before.
    if (!_cachedLogMessages) {
        _numberOfDays = 0;
        _updateDate.reset();
        updateDisplayByDispatchingToMainQueue(false);
    }
}
