// The log window's text: entries as paragraphs (time, sender, message), repeats folded
// into one paragraph with a count, the header that tells how far back the history
// reaches, and the mark where history is still being inserted. Pure functions over the
// entries, so they can be composed on any thread and tested without a window.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace platform {
class DateFormatter;
}

// One message of the log: the entry dictionary (as saved) and what the display reads of it.
struct ILRLogEntry {
    platform::DictionaryPtr dictionary;
    QString eventMessage;
    QString processImagePath;
    QString senderImagePath;
    QString subsystem;
    // "cachedTimestamp" when present, else the parsed "timestamp", else the distant past.
    platform::Date date;
    // The paragraph of this entry as last composed alone (count 1, no mark), and the
    // display settings it was composed with. Touched only under the reader's lock.
    QString cachedParagraph;
    int cachedGreyPrefix = 0;
    quint64 cachedKey = 0;
};
using ILRLogEntryPtr = std::shared_ptr<ILRLogEntry>;
using ILRLogEntries = std::vector<ILRLogEntryPtr>;

// An entry from the dictionary the log tool wrote (or the reader cached).
ILRLogEntryPtr ILRMakeLogEntry(const platform::DictionaryPtr& dictionary);
// An entry of the program's own message cache: {"cachedTimestamp": date, "eventMessage": text}.
ILRLogEntryPtr ILRMakeCachedLogEntry(const platform::Date& date, const QString& message);
// Whether the entries are in ascending date order; and a stable sort by date.
bool ILRLogEntriesAreSorted(const ILRLogEntries& entries, size_t from = 0);
void ILRSortLogEntries(ILRLogEntries& entries);

// One paragraph of the text: [0, greyPrefix) grey, [greyPrefix, greySuffix) normal,
// [greySuffix, end) grey. A header or mark paragraph is grey throughout.
struct ILRLogParagraph {
    QString text;
    int greyPrefix = 0;
    int greySuffix = 0;
    bool operator==(const ILRLogParagraph& o) const;
};
using ILRLogParagraphs = std::vector<ILRLogParagraph>;
// The whole text: paragraphs joined by newlines.
QString ILRLogText(const ILRLogParagraphs& paragraphs);

// Dates as the log shows them: the locale's date (the best pattern for "yyyyMMdd"), the
// separator " — ", and the time with milliseconds; "?" for the distant past. Not for
// two threads at once.
class ILRLogDateFormatter {
public:
    static constexpr const char16_t* kSeparator = u" — ";
    explicit ILRLogDateFormatter(const QString& localeName = QString());
    ~ILRLogDateFormatter();
    QString stringFromDate(const platform::Date& date);
    // Today's date written with the display format up to and including the separator.
    QString todayPrefix();
    // The display pattern ("MM/dd/yyyy' — 'HH:mm:ss.SSS" in English).
    const QString& pattern() const { return m_pattern; }

private:
    QString dayString(qint64 localDay);
    QString m_pattern;
    std::unique_ptr<platform::DateFormatter> m_dayFormatter;
    qint64 m_lastDay = std::numeric_limits<qint64>::min();
    QString m_lastDayString;
    // Local offsets from UTC by quarter hour, so that most entries need no time-zone lookup.
    qint64 m_offsetBucket = std::numeric_limits<qint64>::min();
    int m_offset = 0;
};

struct ILRLogDisplayOptions {
    bool hideSender = false;
    bool disableCoalescing = false;
    QStringList hiddenPrefixes;
    // Where history is being inserted; nothing when no history load is in progress.
    std::optional<size_t> archiveInsertionIndex;
    std::optional<platform::Date> updateDate;
    int numberOfDays = 0;
    // Changes whenever anything that shapes a single paragraph changes (sender shown,
    // hidden prefixes, today's date), so cached paragraphs of another setting are redone.
    quint64 paragraphKey = 1;
};

ILRLogParagraphs ILRComposeLogParagraphs(ILRLogEntries& entries, const ILRLogDisplayOptions& options, ILRLogDateFormatter& formatter);
