#include "platform/SystemJournal.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>

#include <mutex>
#include <optional>
#include <algorithm>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::mutex g_toolMutex;
std::optional<LogTool> g_testTool;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

bool digits(QStringView text, qsizetype at, int count, int* value)
{
    if (at + count > text.size())
        return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[at + i];
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c.unicode() - u'0');
    }
    *value = v;
    return true;
}

// A journal field's value as text: a string, or an array of byte values (journalctl's
// form for text that is not valid UTF-8), read leniently.
QString fieldText(const DictionaryPtr& record, const QString& key)
{
    const Value v = record->value(key);
    if (v.isString())
        return v.string();
    if (v.isArray()) {
        QByteArray bytes;
        for (const Value& b : *v.array()) {
            if (!b.isNumber())
                return QString();
            bytes.append(char(quint8(b.toLongLong())));
        }
        return QString::fromUtf8(bytes);
    }
    return QString();
}

// Whether journalctl will show this user the lines the program sends: root and the
// groups that may read the whole journal see them, others only where journald keeps a
// journal of their own. Otherwise the history would stay empty however much was logged.
bool journalHoldsUsersLines()
{
    const uid_t uid = ::getuid();
    if (uid == 0)
        return true;
    std::vector<gid_t> groups(size_t(std::max(0, ::getgroups(0, nullptr))));
    if (!groups.empty())
        groups.resize(size_t(std::max(0, ::getgroups(int(groups.size()), groups.data()))));
    groups.push_back(::getgid());
    for (const char* name : {"systemd-journal", "adm", "wheel"}) {
        if (const struct group* g = ::getgrnam(name); g && std::find(groups.begin(), groups.end(), g->gr_gid) != groups.end())
            return true;
    }
    const QString userJournal = QStringLiteral("user-%1.journal").arg(uid);
    for (const char* base : {"/var/log/journal", "/run/log/journal"}) {
        const QDir dir(QString::fromLatin1(base));
        for (const QString& machine : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFileInfo::exists(dir.filePath(machine + QLatin1Char('/') + userJournal)))
                return true;
        }
    }
    return false;
}

} // namespace

LogTool systemJournalTool()
{
    {
        std::lock_guard lock(g_toolMutex);
        if (g_testTool)
            return *g_testTool;
    }
    LogTool tool;
    tool.framing = LogToolFraming::Lines;
    // journald owns the syslog socket only where it runs; without it our lines never
    // reach the journal, and reading it would show nothing of ours.
    if (!QFileInfo::exists(QStringLiteral("/run/systemd/journal/socket")) || !journalHoldsUsersLines())
        return tool;
    tool.program = QStandardPaths::findExecutable(QStringLiteral("journalctl"));
    return tool;
}

void setLogToolForTesting(const LogTool& tool)
{
    std::lock_guard lock(g_toolMutex);
    g_testTool = tool;
}

void resetLogToolForTesting()
{
    std::lock_guard lock(g_toolMutex);
    g_testTool.reset();
}

QString journalMatch(const QString& field, const QString& value)
{
    if (field.isEmpty() || field.size() > 64)
        return QString();
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field[i];
        const bool ok = (c >= u'A' && c <= u'Z') || c == u'_' || (i > 0 && c >= u'0' && c <= u'9');
        if (!ok)
            return QString();
    }
    if (value.contains(QChar(u'\n')) || value.contains(QChar(u'\0')))
        return QString();
    return field + QLatin1Char('=') + value;
}

QStringList defaultJournalMatches(const QString& identifier)
{
    QStringList matches;
    const QString byIdentifier = journalMatch(QStringLiteral("SYSLOG_IDENTIFIER"), identifier);
    if (!byIdentifier.isEmpty())
        matches << byIdentifier;
    matches << journalMatch(QStringLiteral("_UID"), QString::number(::getuid()));
    return matches;
}

QStringList journalArguments(bool follow, int level, const QString& since, const QStringList& matches)
{
    QStringList args{QStringLiteral("--output=json"), QStringLiteral("--no-pager"), QStringLiteral("--quiet")};
    const char* priority = level >= 2 ? "debug" : level == 1 ? "info" : "notice";
    args << QStringLiteral("--priority=") + QLatin1String(priority);
    if (follow)
        args << QStringLiteral("--follow") << QStringLiteral("--lines=0");
    else
        args << QStringLiteral("--since=-") + since;
    // Matches travel as arguments of their own, never through a shell.
    for (const QString& m : matches) {
        if (!m.isEmpty())
            args << m;
    }
    return args;
}

DictionaryPtr logEntryFromJournalRecord(const DictionaryPtr& record)
{
    if (!record)
        return nullptr;
    const Value message = record->value(QStringLiteral("MESSAGE"));
    if (message.isNull())
        return nullptr;
    auto entry = Dictionary::make();
    entry->setValue(QStringLiteral("eventMessage"), Value(fieldText(record, QStringLiteral("MESSAGE"))));
    QString exe = fieldText(record, QStringLiteral("_EXE"));
    if (exe.isEmpty())
        exe = fieldText(record, QStringLiteral("SYSLOG_IDENTIFIER"));
    entry->setValue(QStringLiteral("processImagePath"), Value(exe));
    entry->setValue(QStringLiteral("senderImagePath"), Value(exe));
    const QString realtime = fieldText(record, QStringLiteral("__REALTIME_TIMESTAMP"));
    bool ok = false;
    const qint64 micros = realtime.toLongLong(&ok);
    if (ok)
        entry->setValue(QStringLiteral("timestamp"), Value(logTimestampString(micros)));
    const QString unit = fieldText(record, QStringLiteral("SYSLOG_IDENTIFIER"));
    if (!unit.isEmpty())
        entry->setValue(QStringLiteral("subsystem"), Value(unit));
    return entry;
}

QString logTimestampString(qint64 microsecondsSince1970)
{
    const qint64 ms = microsecondsSince1970 >= 0 ? microsecondsSince1970 / 1000 : -((-microsecondsSince1970 + 999) / 1000);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = local.offsetFromUtc();
    const int micros = int(microsecondsSince1970 - ms * 1000) + local.time().msec() * 1000;
    const int absOffset = offset < 0 ? -offset : offset;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")) + QStringLiteral("%1").arg(micros, 6, 10, QLatin1Char('0'))
           + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) + QStringLiteral("%1").arg(absOffset / 3600, 2, 10, QLatin1Char('0'))
           + QStringLiteral("%1").arg((absOffset % 3600) / 60, 2, 10, QLatin1Char('0'));
}

bool dateFromLogTimestamp(QStringView text, Date* getDate)
{
    // "yyyy-MM-dd HH:mm:ss.SSSSSSZ", e.g. "2026-12-10 13:16:35.123456+0100"
    int y, mo, d, h, mi, s, frac, oh, om;
    if (text.size() != 31 || text[4] != u'-' || text[7] != u'-' || text[10] != u' ' || text[13] != u':' || text[16] != u':'
        || text[19] != u'.' || (text[26] != u'+' && text[26] != u'-'))
        return false;
    if (!digits(text, 0, 4, &y) || !digits(text, 5, 2, &mo) || !digits(text, 8, 2, &d) || !digits(text, 11, 2, &h)
        || !digits(text, 14, 2, &mi) || !digits(text, 17, 2, &s) || !digits(text, 20, 6, &frac) || !digits(text, 27, 2, &oh)
        || !digits(text, 29, 2, &om))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || oh > 23 || om > 59)
        return false;
    const int offset = (oh * 3600 + om * 60) * (text[26] == u'-' ? -1 : 1);
    const qint64 seconds = daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s - offset;
    if (getDate)
        getDate->secondsSince1970 = double(seconds) + frac / 1e6;
    return true;
}

} // namespace platform
