#include "services/log_reader/ILRIntegratedLogReader.h"

#include "foundation/PMLog.h"
#include "platform/ClassRegistry.h"
#include "platform/InterfaceFiles.h"
#include "platform/NotificationCenter.h"
#include "platform/Queues.h"
#include "platform/SystemLog.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "services/log_reader/ILRJSONLogStream.h"
#include "services/log_reader/ILRLogWindowController.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>

#include <cmath>

namespace {

const QString kUpdateDisplayNotification = QStringLiteral("ILRIntegratedLogReaderUpdateDisplayNotification");
const QString kUpdateDebugLoggingSwitchNotification = QStringLiteral("ILRIntegratedLogReaderUpdateDebugLoggingSwitchNotification");

// The own-message cache keeps the newest lines of a long session; beyond this many the
// oldest tenth is let go, so debug logging left on for days cannot eat the memory.
constexpr size_t kMaximumCachedMessages = 200000;

std::vector<platform::DictionaryPtr> noEntries;

// Runs on the main thread: now when already there, else later.
void onMain(platform::Job job)
{
    if (platform::isMainThread())
        job();
    else
        platform::dispatchAsyncMain(std::move(job));
}

} // namespace

ILRIntegratedLogReaderDelegate::~ILRIntegratedLogReaderDelegate() = default;
std::optional<bool> ILRIntegratedLogReaderDelegate::isDebugLoggingEnabledForLogReader(ILRIntegratedLogReader*) { return std::nullopt; }
bool ILRIntegratedLogReaderDelegate::respondsToSetDebugLoggingEnabled() const { return false; }
void ILRIntegratedLogReaderDelegate::setDebugLoggingEnabled(bool, ILRIntegratedLogReader*) {}
std::optional<int> ILRIntegratedLogReaderDelegate::filteringLevelForLogReader(ILRIntegratedLogReader*) { return std::nullopt; }
std::optional<QStringList> ILRIntegratedLogReaderDelegate::filteringPredicateForLogReader(ILRIntegratedLogReader*) { return std::nullopt; }
std::optional<QString> ILRIntegratedLogReaderDelegate::nibForLogReader(ILRIntegratedLogReader*) { return std::nullopt; }
std::optional<std::optional<QString>> ILRIntegratedLogReaderDelegate::windowFrameAutosaveNameForLogReader(ILRIntegratedLogReader*)
{
    return std::nullopt;
}

// ---- Class ------------------------------------------------------------------------------

void ILRIntegratedLogReader::registerClass()
{
    auto cls = std::make_shared<PMLogReaderClass>();
    cls->canDisplayLog = &ILRIntegratedLogReader::canDisplayLog;
    cls->create = []() -> std::shared_ptr<PMLogReaderInterface> { return std::make_shared<ILRIntegratedLogReader>(); };
    platform::registerClass(QString::fromLatin1(kPMLogReaderClassName), cls);
    platform::registerInterfaceBuilder(QStringLiteral("ILRLogWindow"), &ILRLogWindowController::buildWindow);
}

bool ILRIntegratedLogReader::canDisplayLog()
{
    // The in-process cache works everywhere; the journal adds history where it runs.
    return true;
}

ILRIntegratedLogReader::ILRIntegratedLogReader()
    : ILRIntegratedLogReader(platform::systemJournalTool())
{
}

ILRIntegratedLogReader::ILRIntegratedLogReader(const platform::LogTool& tool)
    : m_tool(tool)
    , m_dateFormatter(std::make_unique<ILRLogDateFormatter>())
{
    // Without a journal to read them back from, the program's lines are kept from the
    // start: whatever went wrong before the window was opened is there when it opens.
    if (cacheLogMessages())
        setUpCachedLogMessages();
}

ILRIntegratedLogReader::~ILRIntegratedLogReader()
{
    if (_liveStream)
        _liveStream->terminate();
}

// ---- Properties -------------------------------------------------------------------------

void ILRIntegratedLogReader::setDelegate(QObject* delegate)
{
    setDelegate(dynamic_cast<ILRIntegratedLogReaderDelegate*>(delegate));
}

void ILRIntegratedLogReader::setDelegate(ILRIntegratedLogReaderDelegate* delegate)
{
    std::lock_guard lock(m_lock);
    _delegate = delegate;
}

void ILRIntegratedLogReader::setMenuItemActionImageSetter(const QString& operation)
{
    std::lock_guard lock(m_lock);
    _menuItemActionImageSetter = operation;
}

QString ILRIntegratedLogReader::menuItemActionImageSetter() const
{
    std::lock_guard lock(m_lock);
    return _menuItemActionImageSetter;
}

void ILRIntegratedLogReader::setDebugLoggingUserDefaultName(const QString& name)
{
    std::lock_guard lock(m_lock);
    _debugLoggingUserDefaultName = name;
}

QString ILRIntegratedLogReader::debugLoggingUserDefaultName() const
{
    std::lock_guard lock(m_lock);
    return _debugLoggingUserDefaultName;
}

int ILRIntegratedLogReader::numberOfDays() const
{
    std::lock_guard lock(m_lock);
    return _numberOfDays;
}

std::optional<platform::Date> ILRIntegratedLogReader::updateDate() const
{
    std::lock_guard lock(m_lock);
    return _updateDate;
}

ILRLogEntries ILRIntegratedLogReader::logEntries() const
{
    std::lock_guard lock(m_lock);
    return _logEntries ? *_logEntries : ILRLogEntries{};
}

std::optional<ILRLogEntries> ILRIntegratedLogReader::cachedLogMessages() const
{
    std::lock_guard lock(m_lock);
    return _cachedLogMessages;
}

QStringList ILRIntegratedLogReader::filteringPredicate() const
{
    std::lock_guard lock(m_lock);
    return _filteringPredicate;
}

QStringList ILRIntegratedLogReader::defaultFilteringPredicate()
{
    return platform::defaultJournalMatches(platform::systemLogIdentifier());
}

void ILRIntegratedLogReader::setHiddenPrefixes(const QStringList& prefixes)
{
    {
        std::lock_guard lock(m_lock);
        _hiddenPrefixes = prefixes;
        ++_hiddenPrefixesGeneration;
    }
    std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
    platform::dispatchAsyncMain([weak] {
        if (auto r = weak.lock())
            platform::NotificationCenter::defaultCenter().postNotificationName(kUpdateDisplayNotification, r.get());
    });
}

QStringList ILRIntegratedLogReader::hiddenPrefixes() const
{
    std::lock_guard lock(m_lock);
    return _hiddenPrefixes;
}

void ILRIntegratedLogReader::setCatchUpDelay(double seconds)
{
    std::lock_guard lock(m_lock);
    m_catchUpDelay = seconds;
}

quint64 ILRIntegratedLogReader::generation() const
{
    std::lock_guard lock(m_lock);
    return m_generation;
}

ILRIntegratedLogReader::EntriesRef ILRIntegratedLogReader::currentEntriesReference() const
{
    std::lock_guard lock(m_lock);
    return _logEntries;
}

// ---- The program's own lines --------------------------------------------------------------

bool ILRIntegratedLogReader::cacheLogMessages() const
{
    return m_tool.program.isEmpty();
}

void ILRIntegratedLogReader::setUpCachedLogMessages()
{
    std::lock_guard lock(m_lock);
    _cachedLogMessages = ILRLogEntries{};
    _numberOfDays = -1;
    _updateDate = platform::Date::now();
    _archiveInsertionIndex.reset();
}

void ILRIntegratedLogReader::logFormat(QStringView format, std::initializer_list<platform::FormatArg> arguments)
{
    const QString text = platform::formatArgs(format, arguments);
    platform::writeToSystemLog(text);
    if (!cacheLogMessages())
        return;
    appendCachedMessage(platform::Date::now(), text);
}

void ILRIntegratedLogReader::appendCachedMessage(const platform::Date& date, const QString& text)
{
    // Appended at once, in the order the lines were logged: a line logged while the lock is
    // held elsewhere waits only for a composition, never for the main thread.
    {
        std::lock_guard lock(m_lock);
        if (!_cachedLogMessages) {
            if (!prefs::get(prefs::keys::ILRCacheDebugLogSilently))
                return;
            setUpCachedLogMessages();
        }
        ILRLogEntries& cache = *_cachedLogMessages;
        if (cache.size() >= kMaximumCachedMessages)
            cache.erase(cache.begin(), cache.begin() + kMaximumCachedMessages / 10);
        cache.push_back(ILRMakeCachedLogEntry(date, text));
    }
    postUpdateDisplayNotification();
}

void ILRIntegratedLogReader::postUpdateDisplayNotification()
{
    // One notification for a burst of lines: the display shows them all when it runs.
    if (!m_windowVisible.load() || m_displayUpdateScheduled.exchange(true))
        return;
    std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
    platform::dispatchAsyncMain([weak] {
        auto r = weak.lock();
        if (!r)
            return;
        r->m_displayUpdateScheduled = false;
        platform::NotificationCenter::defaultCenter().postNotificationName(kUpdateDisplayNotification, r.get());
    });
}

// ---- Loading ------------------------------------------------------------------------------

int ILRIntegratedLogReader::increasedNumberOfDays(int days)
{
    if (days < 0)
        return 0;
    if (days == 0)
        return 1;
    if (days < 7)
        return 7;
    return days + 7;
}

QStringList ILRIntegratedLogReader::liveArguments() const
{
    std::lock_guard lock(m_lock);
    return platform::journalArguments(true, _filteringLevel, QString(), _filteringPredicate);
}

QStringList ILRIntegratedLogReader::historyArguments(const QString& since) const
{
    std::lock_guard lock(m_lock);
    return platform::journalArguments(false, _filteringLevel, since, _filteringPredicate);
}

void ILRIntegratedLogReader::reset()
{
    std::shared_ptr<ILRJSONLogStream> stream;
    {
        std::lock_guard lock(m_lock);
        _logEntries.reset();
        ++m_generation;
        stream = std::move(_liveStream);
        _firstLiveStreamTimestamp.reset();
        _archiveInsertionIndex.reset();
    }
    if (stream)
        stream->terminate();
}

void ILRIntegratedLogReader::updateLogAfterIncreasingNumberOfDays(bool increase)
{
    if (cacheLogMessages())
        return;
    std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
    std::unique_lock lock(m_lock);
    if (increase)
        _numberOfDays = increasedNumberOfDays(_numberOfDays);
    const QString since = _numberOfDays <= 0 ? QStringLiteral("1h") : QStringLiteral("%1d").arg(_numberOfDays);
    const QStringList history = historyArguments(since);
    const platform::Date updateDate = platform::Date::now();
    _updateDate = updateDate;
    std::optional<platform::Date> before;
    std::shared_ptr<ILRJSONLogStream> dropped;
    if (increase && _logEntries && !_logEntries->empty()) {
        before = _logEntries->front()->date;
    } else {
        _logEntries = std::make_shared<ILRLogEntries>();
        ++m_generation;
        dropped = std::move(_liveStream);
        _firstLiveStreamTimestamp.reset();
        _lastArchiveStreamTimestamp.reset();
    }
    const EntriesRef captured = _logEntries;
    _archiveInsertionIndex = _numberOfDays < 0 ? std::nullopt : std::optional<size_t>(0);
    updateDisplayByDispatchingToMainQueue(true);
    if (dropped)
        dropped->terminate();
    if (!_liveStream) {
        _liveStream = ILRJSONLogStream::initWithArguments(m_tool, liveArguments(),
            [weak, captured](const ILRJSONLogStream::Entries& batch) {
                auto r = weak.lock();
                return r ? r->handleLiveBatch(captured, batch) : false;
            },
            false);
        if (!_liveStream)
            PMLog("[ILR] cannot run <%@>", m_tool.program);
    }
    if (_numberOfDays < 0) {
        lock.unlock();
        onMain([weak] {
            if (auto r = weak.lock())
                r->spin(false);
        });
        return;
    }
    _isSpinning = true;
    lock.unlock();
    onMain([weak] {
        if (auto r = weak.lock())
            r->spin(true);
    });
    startHistoryJob(captured, history, before, increase, updateDate);
}

void ILRIntegratedLogReader::startHistoryJob(const EntriesRef& captured, const QStringList& arguments, std::optional<platform::Date> before,
                                             bool increase, platform::Date)
{
    std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
    const platform::LogTool tool = m_tool;
    platform::dispatchAsyncGlobal([weak, tool, captured, arguments, before, increase] {
        auto goOn = std::make_shared<bool>(true);
        const bool ran = ILRJSONLogStream::waitForStreamWithArguments(tool, arguments, [weak, captured, before, goOn](const ILRJSONLogStream::Entries& batch) {
            auto r = weak.lock();
            if (!r)
                return false;
            r->handleHistoryBatch(captured, batch, before, goOn.get());
            return *goOn;
        });
        auto r = weak.lock();
        if (!r)
            return;
        if (!ran)
            PMLog("[ILR] cannot run <%@>", tool.program);
        r->finishHistory(captured);
        platform::dispatchAsyncMain([weak, captured, increase] {
            auto r = weak.lock();
            if (!r || r->currentEntriesReference() != captured)
                return;
            r->_isSpinning = false;
            r->spin(false);
            if (!increase)
                r->scheduleCatchUp(captured);
        });
    });
}

bool ILRIntegratedLogReader::handleLiveBatch(const EntriesRef& captured, const std::vector<platform::DictionaryPtr>& batch)
{
    std::lock_guard lock(m_lock);
    if (!captured || captured != _logEntries)
        return true;
    if (batch.empty())
        return true;
    ILRLogEntries& entries = *_logEntries;
    const size_t oldCount = entries.size();
    for (const platform::DictionaryPtr& d : batch)
        entries.push_back(ILRMakeLogEntry(d));
    if (!_firstLiveStreamTimestamp)
        _firstLiveStreamTimestamp = entries[oldCount]->date;
    // Live lines are nearly always the newest; sort only when they are not.
    if (!ILRLogEntriesAreSorted(entries, oldCount))
        ILRSortLogEntries(entries);
    scheduleDisplayUpdate();
    return true;
}

bool ILRIntegratedLogReader::handleHistoryBatch(const EntriesRef& captured, const std::vector<platform::DictionaryPtr>& batch,
                                                const std::optional<platform::Date>& before, bool* goOn)
{
    std::lock_guard lock(m_lock);
    if (!*goOn || !captured || captured != _logEntries) {
        *goOn = false;
        return false;
    }
    ILRLogEntries& entries = *_logEntries;
    size_t index = std::min(_archiveInsertionIndex.value_or(entries.size()), entries.size());
    if (!before && !batch.empty())
        _lastArchiveStreamTimestamp = ILRMakeLogEntry(batch.back())->date;
    for (const platform::DictionaryPtr& d : batch) {
        ILRLogEntryPtr entry = ILRMakeLogEntry(d);
        if (before && !(entry->date < *before)) {
            *goOn = false;
            break;
        }
        entries.insert(entries.begin() + qsizetype(index), std::move(entry));
        ++index;
    }
    _archiveInsertionIndex = index;
    scheduleDisplayUpdate();
    return true;
}

void ILRIntegratedLogReader::finishHistory(const EntriesRef& captured)
{
    std::lock_guard lock(m_lock);
    if (!captured || captured != _logEntries)
        return;
    ILRSortLogEntries(*_logEntries);
    _archiveInsertionIndex.reset();
    scheduleDisplayUpdate();
}

void ILRIntegratedLogReader::scheduleCatchUp(const EntriesRef& captured)
{
    std::weak_ptr<ILRIntegratedLogReader> weak = weak_from_this();
    double delay;
    {
        std::lock_guard lock(m_lock);
        delay = m_catchUpDelay;
    }
    QTimer::singleShot(int(delay * 1000), QCoreApplication::instance(), [weak, captured] {
        platform::dispatchAsyncGlobal([weak, captured] {
            if (auto r = weak.lock())
                r->runCatchUp(captured);
        });
    });
}

void ILRIntegratedLogReader::runCatchUp(const EntriesRef& captured)
{
    QStringList arguments;
    {
        std::lock_guard lock(m_lock);
        if (!captured || captured != _logEntries || !_updateDate)
            return;
        const double minutes = (platform::Date::now().secondsSince1970 - _updateDate->secondsSince1970) / 60.0;
        const long m = long(minutes + 2.0);
        if (m < 1)
            return;
        arguments = historyArguments(QStringLiteral("%1m").arg(m));
    }
    std::vector<platform::DictionaryPtr> collected;
    ILRJSONLogStream::waitForStreamWithArguments(m_tool, arguments, [&collected](const ILRJSONLogStream::Entries& batch) {
        collected.insert(collected.end(), batch.begin(), batch.end());
        return true;
    });
    mergeCatchUp(captured, collected);
}

void ILRIntegratedLogReader::mergeCatchUp(const EntriesRef& captured, const std::vector<platform::DictionaryPtr>& batch)
{
    std::lock_guard lock(m_lock);
    if (!captured || captured != _logEntries)
        return;
    bool added = false;
    for (const platform::DictionaryPtr& d : batch) {
        ILRLogEntryPtr entry = ILRMakeLogEntry(d);
        if (_firstLiveStreamTimestamp && !(entry->date < *_firstLiveStreamTimestamp))
            continue;
        if (_lastArchiveStreamTimestamp && !(entry->date > *_lastArchiveStreamTimestamp))
            continue;
        _logEntries->push_back(std::move(entry));
        added = true;
    }
    if (added) {
        ILRSortLogEntries(*_logEntries);
        scheduleDisplayUpdate();
    }
}

void ILRIntegratedLogReader::setStreamTimestampsForTesting(std::optional<platform::Date> firstLive, std::optional<platform::Date> lastArchive)
{
    std::lock_guard lock(m_lock);
    _firstLiveStreamTimestamp = firstLive;
    _lastArchiveStreamTimestamp = lastArchive;
}

void ILRIntegratedLogReader::setLogEntriesForTesting(ILRLogEntries entries, int numberOfDays)
{
    std::lock_guard lock(m_lock);
    _logEntries = std::make_shared<ILRLogEntries>(std::move(entries));
    ++m_generation;
    _numberOfDays = numberOfDays;
    _updateDate = platform::Date::now();
    _archiveInsertionIndex.reset();
}

void ILRIntegratedLogReader::findEarlierResults()
{
    updateLogAfterIncreasingNumberOfDays(true);
}

void ILRIntegratedLogReader::clear()
{
    {
        std::lock_guard lock(m_lock);
        _numberOfDays = -1;
        if (_cachedLogMessages) {
            _cachedLogMessages->clear();
            // The header tells from when on the lines are shown: from now.
            _updateDate = platform::Date::now();
        }
    }
    if (!cacheLogMessages())
        updateLogAfterIncreasingNumberOfDays(false);
    std::lock_guard lock(m_lock);
    updateDisplayByDispatchingToMainQueue(true);
}

// ---- Debug logging ------------------------------------------------------------------------

bool ILRIntegratedLogReader::isDebugLoggingEnabledAndSettable(bool* getSettable)
{
    ILRIntegratedLogReaderDelegate* delegate;
    QString name;
    {
        std::lock_guard lock(m_lock);
        delegate = _delegate;
        name = _debugLoggingUserDefaultName;
    }
    if (delegate) {
        if (const std::optional<bool> enabled = delegate->isDebugLoggingEnabledForLogReader(this)) {
            if (getSettable)
                *getSettable = delegate->respondsToSetDebugLoggingEnabled();
            return *enabled;
        }
    }
    if (name.isEmpty()) {
        if (getSettable)
            *getSettable = false;
        return false;
    }
    if (getSettable)
        *getSettable = true;
    return platform::UserDefaults::standard().boolForKey(name);
}

void ILRIntegratedLogReader::toggleDebugLogging(bool on)
{
    ILRIntegratedLogReaderDelegate* delegate;
    QString name;
    {
        std::lock_guard lock(m_lock);
        delegate = _delegate;
        name = _debugLoggingUserDefaultName;
    }
    if (delegate && delegate->isDebugLoggingEnabledForLogReader(this)) {
        if (delegate->respondsToSetDebugLoggingEnabled())
            delegate->setDebugLoggingEnabled(on, this);
    } else if (!name.isEmpty()) {
        platform::UserDefaults::standard().setBool(on, name);
    }
    platform::NotificationCenter::defaultCenter().postNotificationName(kUpdateDebugLoggingSwitchNotification, this);
}
