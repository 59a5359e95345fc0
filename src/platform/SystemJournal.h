// The systemd journal as the history of the program's own log lines. The program's lines
// reach the journal through syslog(3) (journald owns /dev/log where it runs), tagged with
// the identifier "Pellis"; `journalctl --output=json` reads them back, one JSON object a
// line. Where journald does not run or journalctl is missing, the journal is not used and
// the log reader keeps the program's own lines in the process instead.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

namespace platform {

// How the log tool frames its entries: one JSON array whose top-level objects each end
// with a line that is only "}", or one JSON object a line (newline-delimited JSON).
enum class LogToolFraming { Array, Lines };

struct LogTool {
    QString program;                       // empty: no tool can be run
    LogToolFraming framing = LogToolFraming::Lines;
};

// The journal tool when the journal holds the program's lines: journalctl found on PATH
// and journald's socket present. Otherwise a tool with an empty program.
LogTool systemJournalTool();
// Tests put a fake tool in place (an empty program: no tool); `reset` returns to the real one.
void setLogToolForTesting(const LogTool& tool);
void resetLogToolForTesting();

// One match "FIELD=value" for journalctl, built from a field name and its value: the name
// must be a journal field name (upper-case letters, digits, "_"; not starting with a
// digit) and the value must hold no newline or NUL. Empty when either is unfit.
QString journalMatch(const QString& field, const QString& value);
// The matches that select this program's own lines: its syslog identifier and the user.
QStringList defaultJournalMatches(const QString& identifier);

// The arguments of journalctl: JSON output, no pager, the priority for the level (0 the
// program's own notices and above, 1 info, 2 debug), then either following new entries
// from now (`follow`) or the entries since `since` (a time span back from now such as
// "1h", "7d", "12m"), then the matches.
QStringList journalArguments(bool follow, int level, const QString& since, const QStringList& matches);

// A journal record (the JSON object journalctl writes) as a log entry dictionary with
// "eventMessage", "processImagePath", "senderImagePath", "timestamp" (text in the form
// "yyyy-MM-dd HH:mm:ss.SSSSSSZ", local time) and "subsystem". Fields that journalctl
// writes as arrays of bytes (text that is not UTF-8) are decoded leniently. Null when the
// record has no message.
DictionaryPtr logEntryFromJournalRecord(const DictionaryPtr& record);

// The text "yyyy-MM-dd HH:mm:ss.SSSSSSZ" of the time in the local time zone, and back.
QString logTimestampString(qint64 microsecondsSince1970);
bool dateFromLogTimestamp(QStringView text, Date* getDate);

} // namespace platform
