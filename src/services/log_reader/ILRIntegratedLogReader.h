// The log reader: the program's own log lines, shown in a window of their own so that a
// user can read or save them without a terminal. Where the program's lines reach the
// systemd journal, the history (the last hour, a day, a week, ...) comes from journalctl
// beside a live stream of new lines; elsewhere the reader keeps the lines the program logs
// in the process from its start. The window side (composing the text, buttons, saving)
// is in ILRIntegratedLogReader+Window.cpp.
#pragma once

#include "foundation/PMLogReader.h"
#include "platform/SystemJournal.h"
#include "services/log_reader/ILRLogComposer.h"

#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class ILRJSONLogStream;
class ILRIntegratedLogReader;
class ILRLogTextView;
class ILRLogWindowController;
class QAbstractButton;
class QProgressBar;
class QToolButton;
class QWidget;

// Optional customisation: every operation answers nothing (or false) when the delegate
// does not implement it, and the reader falls back to its own behaviour.
class ILRIntegratedLogReaderDelegate {
public:
    virtual ~ILRIntegratedLogReaderDelegate();
    virtual std::optional<bool> isDebugLoggingEnabledForLogReader(ILRIntegratedLogReader* reader);
    // Whether the delegate implements setDebugLoggingEnabled (the switch is then settable).
    virtual bool respondsToSetDebugLoggingEnabled() const;
    virtual void setDebugLoggingEnabled(bool enabled, ILRIntegratedLogReader* reader);
    virtual std::optional<int> filteringLevelForLogReader(ILRIntegratedLogReader* reader);
    // The journal matches ("FIELD=value") that select the lines to show.
    virtual std::optional<QStringList> filteringPredicateForLogReader(ILRIntegratedLogReader* reader);
    // The name of the interface that builds the window.
    virtual std::optional<QString> nibForLogReader(ILRIntegratedLogReader* reader);
    // The outer optional tells whether the delegate answers; the inner one may be nothing.
    virtual std::optional<std::optional<QString>> windowFrameAutosaveNameForLogReader(ILRIntegratedLogReader* reader);
};

class ILRIntegratedLogReader : public PMLogReaderInterface, public std::enable_shared_from_this<ILRIntegratedLogReader> {
public:
    // Makes the class known to the log function; call before the first log line.
    static void registerClass();
    static bool canDisplayLog();

    // A reader over the system journal when it holds the program's lines, else over the
    // in-process cache. Tests pass the tool (an empty program: the cache).
    ILRIntegratedLogReader();
    explicit ILRIntegratedLogReader(const platform::LogTool& tool);
    ~ILRIntegratedLogReader() override;

    // ---- PMLogReaderInterface
    void logFormat(QStringView format, std::initializer_list<platform::FormatArg> arguments) override;
    void displayLog(QObject* sender) override;
    void setDelegate(QObject* delegate) override;
    void setMenuItemActionImageSetter(const QString& operation) override;
    void setDebugLoggingUserDefaultName(const QString& name) override;

    // ---- Loading
    // The program's own lines are kept in the process (no journal to read them back from).
    bool cacheLogMessages() const;
    void setUpCachedLogMessages();
    void reset();
    void updateLogAfterIncreasingNumberOfDays(bool increase);
    void findEarlierResults();
    void clear();
    bool isDebugLoggingEnabledAndSettable(bool* getSettable);
    // `on` is the switch's new state.
    void toggleDebugLogging(bool on);
    void setHiddenPrefixes(const QStringList& prefixes);
    QStringList hiddenPrefixes() const;
    void setDelegate(ILRIntegratedLogReaderDelegate* delegate);
    QString debugLoggingUserDefaultName() const;
    QString menuItemActionImageSetter() const;
    int numberOfDays() const;
    std::optional<platform::Date> updateDate() const;
    // Copies under the lock (tests and saving).
    ILRLogEntries logEntries() const;
    std::optional<ILRLogEntries> cachedLogMessages() const;
    bool isSpinning() const { return _isSpinning.load(); }
    // The matches passed to the tool and the level (0 default, 1 info, 2 debug).
    QStringList filteringPredicate() const;
    static QStringList defaultFilteringPredicate();
    // The two argument lists of the tool: live, and history back `numberOfDays`.
    QStringList liveArguments() const;
    QStringList historyArguments(const QString& since) const;
    // Days of history after asking for earlier results from `days`: −1 → 0 → 1 → 7 → 14 ...
    static int increasedNumberOfDays(int days);
    // Delay before the catch-up run after a history load (seconds); tests shorten it.
    void setCatchUpDelay(double seconds);
    // Incremented each time the entries are replaced by a new generation (tests).
    quint64 generation() const;

    // Merging entries into the current generation, as the stream handlers do (tests feed
    // them without a tool). Answers false when `generationEntries` is not the current one.
    using EntriesRef = std::shared_ptr<ILRLogEntries>;
    EntriesRef currentEntriesReference() const;
    bool handleLiveBatch(const EntriesRef& captured, const std::vector<platform::DictionaryPtr>& batch);
    bool handleHistoryBatch(const EntriesRef& captured, const std::vector<platform::DictionaryPtr>& batch,
                            const std::optional<platform::Date>& before, bool* goOn);
    void finishHistory(const EntriesRef& captured);
    // Adds the catch-up entries that lie strictly between the history and the live stream.
    void mergeCatchUp(const EntriesRef& captured, const std::vector<platform::DictionaryPtr>& batch);
    // Sets the live stream's first and the history's last timestamps (tests).
    void setStreamTimestampsForTesting(std::optional<platform::Date> firstLive, std::optional<platform::Date> lastArchive);
    // Puts entries in place as one loaded generation, without a tool (tests, benchmarks).
    void setLogEntriesForTesting(ILRLogEntries entries, int numberOfDays);

    // ---- Window (ILRIntegratedLogReader+Window.cpp); main thread
    bool displayLogAndForceUpdate(bool force);
    void displayLog();
    // The answer to "ILRIntegratedLogReaderUpdateDisplayNotification": while the window is
    // shown, the text is composed again (off the main thread) and applied.
    void updateDisplay();
    // Rebuilds the text; with the lock held. Dispatching applies it later on the main thread.
    void updateDisplayByDispatchingToMainQueue(bool dispatch);
    void updateDisplayWithLogString(ILRLogParagraphs paragraphs, bool hasLogEntries);
    void updateFindEarlierResultsButton();
    void updateDebugLoggingSwitch(bool fromThisReader);
    void spin(bool on);
    // Saves through the save panel; false when there is nothing to save or it failed.
    bool save();
    // Writes the entries as an XML property list; the empty string or the error's text.
    QString writeLogToPath(const QString& path);
    void toggleMessageSender();
    void toggleMessageCoalescing();
    void toggleDisplayRelatedUserDefault(const QString& key);
    void windowWillClose();
    // The composed text as last applied to the view.
    QString displayedText() const;
    QWidget* window() const;
    ILRLogTextView* logView() const;
    ILRLogWindowController* windowController() const;
    // The text as it would be composed now (tests).
    ILRLogParagraphs composeParagraphs();

    // The lock guarding the loading state (recursive).
    std::recursive_mutex& lock() const { return m_lock; }

private:
    friend class ILRLogWindowController;
    void startHistoryJob(const EntriesRef& captured, const QStringList& arguments, std::optional<platform::Date> before,
                         bool increase, platform::Date updateDate);
    void scheduleCatchUp(const EntriesRef& captured);
    void runCatchUp(const EntriesRef& captured);
    void scheduleDisplayUpdate();
    void appendCachedMessage(const platform::Date& date, const QString& text);
    void postUpdateDisplayNotification();
    ILRLogDisplayOptions displayOptions() const;
    bool windowIsVisible() const;
    void applyPendingDisplay();

    platform::LogTool m_tool;
    mutable std::recursive_mutex m_lock;

    // Loading state (under the lock).
    QStringList _filteringPredicate;
    int _filteringLevel = 0;
    std::shared_ptr<ILRJSONLogStream> _liveStream;
    std::optional<platform::Date> _firstLiveStreamTimestamp;
    std::optional<platform::Date> _lastArchiveStreamTimestamp;
    std::optional<size_t> _archiveInsertionIndex;
    std::atomic<bool> _isSpinning{false};
    int _numberOfDays = 0;
    std::optional<platform::Date> _updateDate;
    EntriesRef _logEntries;
    std::optional<ILRLogEntries> _cachedLogMessages;
    QStringList _hiddenPrefixes;
    quint64 _hiddenPrefixesGeneration = 1;
    QString _debugLoggingUserDefaultName;
    ILRIntegratedLogReaderDelegate* _delegate = nullptr;
    QString _menuItemActionImageSetter;
    double m_catchUpDelay = 3.0;
    quint64 m_generation = 0;
    std::unique_ptr<ILRLogDateFormatter> m_dateFormatter;

    // Display hand-over to the main thread: the latest composition wins.
    std::mutex m_displayMutex;
    std::optional<std::pair<ILRLogParagraphs, bool>> m_pendingDisplay;
    bool m_applyScheduled = false;
    std::atomic<bool> m_displayUpdateScheduled{false};
    std::atomic<bool> m_compositionScheduled{false};
    std::atomic<bool> m_windowVisible{false};

    // Window side (main thread).
    std::unique_ptr<ILRLogWindowController> m_windowController;
    QString windowTitle;
};
