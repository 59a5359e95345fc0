#include "services/log_reader/ILRLogComposer.h"

#include "platform/DateFormatting.h"
#include "platform/Format.h"
#include "platform/Locale.h"
#include "platform/SystemJournal.h"

#include <QtCore/QDateTime>
#include <QtCore/QHash>

#include <algorithm>
#include <cmath>

#include <unicode/dtptngen.h>
#include <unicode/locid.h>

namespace {

const QString kCachedTimestamp = QStringLiteral("cachedTimestamp");
const QString kTimestamp = QStringLiteral("timestamp");
const QString kEventMessage = QStringLiteral("eventMessage");
const QString kProcessImagePath = QStringLiteral("processImagePath");
const QString kSenderImagePath = QStringLiteral("senderImagePath");
const QString kSubsystem = QStringLiteral("subsystem");
const QString kMark = QStringLiteral("\U0001F440");

QString lastPathComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

// The locale's date pattern for the template "yyyyMMdd", or "yyyy-MM-dd".
QString localeDayPattern(const QString& localeName)
{
    const QByteArray name = localeName.toLatin1();
    const icu::Locale locale(name.isEmpty() ? "en_US_POSIX" : name.constData());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status) || !generator)
        return QStringLiteral("yyyy-MM-dd");
    const icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString("yyyyMMdd"), status);
    if (U_FAILURE(status) || pattern.isEmpty())
        return QStringLiteral("yyyy-MM-dd");
    return QString(reinterpret_cast<const QChar*>(pattern.getBuffer()), pattern.length());
}

QString twoDigits(int v)
{
    return QString(QChar(u'0' + v / 10)) + QChar(u'0' + v % 10);
}

} // namespace

ILRLogEntryPtr ILRMakeLogEntry(const platform::DictionaryPtr& dictionary)
{
    auto entry = std::make_shared<ILRLogEntry>();
    entry->dictionary = dictionary ? dictionary : platform::Dictionary::make();
    const platform::Dictionary& d = *entry->dictionary;
    entry->eventMessage = d.value(kEventMessage).string();
    entry->processImagePath = d.value(kProcessImagePath).string();
    entry->senderImagePath = d.value(kSenderImagePath).string();
    entry->subsystem = d.value(kSubsystem).string();
    const platform::Value cached = d.value(kCachedTimestamp);
    if (cached.isDate())
        entry->date = cached.date();
    else if (!platform::dateFromLogTimestamp(d.value(kTimestamp).string(), &entry->date))
        entry->date = platform::Date::distantPast();
    return entry;
}

ILRLogEntryPtr ILRMakeCachedLogEntry(const platform::Date& date, const QString& message)
{
    return ILRMakeLogEntry(platform::Dictionary::make({{kCachedTimestamp, platform::Value(date)}, {kEventMessage, platform::Value(message)}}));
}

bool ILRLogEntriesAreSorted(const ILRLogEntries& entries, size_t from)
{
    for (size_t i = std::max<size_t>(from, 1); i < entries.size(); ++i) {
        if (entries[i]->date < entries[i - 1]->date)
            return false;
    }
    return true;
}

void ILRSortLogEntries(ILRLogEntries& entries)
{
    if (ILRLogEntriesAreSorted(entries))
        return;
    std::stable_sort(entries.begin(), entries.end(), [](const ILRLogEntryPtr& a, const ILRLogEntryPtr& b) { return a->date < b->date; });
}

bool ILRLogParagraph::operator==(const ILRLogParagraph& o) const
{
    if (greyPrefix != o.greyPrefix || greySuffix != o.greySuffix || text.size() != o.text.size())
        return false;
    // Paragraphs composed from the same cached text share their characters.
    return text.constData() == o.text.constData() || text == o.text;
}

QString ILRLogText(const ILRLogParagraphs& paragraphs)
{
    QString text;
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (i)
            text += QLatin1Char('\n');
        text += paragraphs[i].text;
    }
    return text;
}

// ---- Dates ----

ILRLogDateFormatter::ILRLogDateFormatter(const QString& localeName)
{
    const QString locale = localeName.isEmpty() ? platform::userLocaleName() : localeName;
    const QString dayPattern = localeDayPattern(locale);
    m_pattern = dayPattern + QLatin1Char('\'') + QString::fromUtf16(kSeparator) + QStringLiteral("'HH:mm:ss.SSS");
    m_dayFormatter = std::make_unique<platform::DateFormatter>(dayPattern, locale);
}

ILRLogDateFormatter::~ILRLogDateFormatter() = default;

QString ILRLogDateFormatter::dayString(qint64 localDay)
{
    if (localDay != m_lastDay) {
        // Noon of that local day: far from any change of the clock.
        const double noon = double(localDay) * 86400.0 + 43200.0 - m_offset;
        m_lastDayString = m_dayFormatter->isValid() ? m_dayFormatter->stringFromDate(platform::Date{noon}) : QString();
        m_lastDay = localDay;
    }
    return m_lastDayString;
}

QString ILRLogDateFormatter::stringFromDate(const platform::Date& date)
{
    if (!(date > platform::Date::distantPast()) || !std::isfinite(date.secondsSince1970))
        return QStringLiteral("?");
    const double seconds = date.secondsSince1970;
    const qint64 bucket = qint64(std::floor(seconds / 900.0));
    if (bucket != m_offsetBucket) {
        m_offset = QDateTime::fromSecsSinceEpoch(bucket * 900).offsetFromUtc();
        m_offsetBucket = bucket;
    }
    // Whole milliseconds, truncated as the date formatter does; the small nudge keeps a
    // time stored as x.678 (held as x.67799999...) at 678.
    const qint64 localMs = qint64(std::floor(seconds * 1000.0 + 1e-4)) + qint64(m_offset) * 1000;
    const qint64 localDay = localMs >= 0 ? localMs / 86400000 : -((-localMs + 86399999) / 86400000);
    const qint64 ms = std::clamp<qint64>(localMs - localDay * 86400000, 0, 86399999);
    const int h = int(ms / 3600000), m = int(ms / 60000 % 60), s = int(ms / 1000 % 60), milli = int(ms % 1000);
    QString text = dayString(localDay);
    text.reserve(text.size() + 3 + 12);
    text += QString::fromUtf16(kSeparator);
    text += twoDigits(h) + QLatin1Char(':') + twoDigits(m) + QLatin1Char(':') + twoDigits(s) + QLatin1Char('.');
    text += QChar(u'0' + milli / 100) + twoDigits(milli % 100);
    return text;
}

QString ILRLogDateFormatter::todayPrefix()
{
    const QString today = stringFromDate(platform::Date::now());
    const QString separator = QString::fromUtf16(kSeparator);
    const qsizetype at = today.indexOf(separator);
    return at < 0 ? QString() : today.left(at + separator.size());
}

// ---- Composing ----

namespace {

struct Composer {
    const ILRLogDisplayOptions& options;
    ILRLogDateFormatter& formatter;
    QString todayPrefix;
    quint64 key = 0;
    ILRLogParagraphs paragraphs;

    QString timeText(const ILRLogEntry& entry)
    {
        QString t = formatter.stringFromDate(entry.date);
        if (!todayPrefix.isEmpty() && t.startsWith(todayPrefix))
            t.remove(0, todayPrefix.size());
        if (!options.hideSender) {
            const QString p = lastPathComponent(entry.processImagePath);
            const QString s = lastPathComponent(entry.senderImagePath);
            QString sender;
            if (!s.isEmpty() && s != p)
                sender = p.isEmpty() ? s : p + QStringLiteral(" > ") + s;
            else
                sender = p;
            if (!sender.isEmpty())
                t += QStringLiteral(" | ") + sender;
        }
        return t;
    }

    QString messageText(const ILRLogEntry& entry)
    {
        QString message = entry.eventMessage;
        message.replace(QLatin1Char('\n'), QChar(QChar::LineSeparator));
        for (const QString& prefix : options.hiddenPrefixes) {
            if (!prefix.isEmpty() && message.startsWith(prefix))
                message.remove(0, prefix.size());
        }
        return message;
    }

    void write(ILRLogEntry& entry, size_t count, bool mark)
    {
        if (mark)
            paragraphs.push_back(ILRLogParagraph{kMark, int(kMark.size()), int(kMark.size())});
        if (count < 2 && entry.cachedKey == key) {
            paragraphs.push_back(ILRLogParagraph{entry.cachedParagraph, entry.cachedGreyPrefix, int(entry.cachedParagraph.size())});
            return;
        }
        ILRLogParagraph paragraph;
        paragraph.text = timeText(entry) + QStringLiteral(": ");
        paragraph.greyPrefix = int(paragraph.text.size());
        paragraph.text += messageText(entry);
        paragraph.greySuffix = int(paragraph.text.size());
        if (count >= 2) {
            paragraph.text += platform::format(u" (×%lu)", (unsigned long)count);
        } else {
            entry.cachedParagraph = paragraph.text;
            entry.cachedGreyPrefix = paragraph.greyPrefix;
            entry.cachedKey = key;
        }
        paragraphs.push_back(std::move(paragraph));
    }
};

bool sameKey(const ILRLogEntry& a, const ILRLogEntry& b)
{
    return a.eventMessage == b.eventMessage && a.processImagePath == b.processImagePath && a.senderImagePath == b.senderImagePath;
}

} // namespace

ILRLogParagraphs ILRComposeLogParagraphs(ILRLogEntries& entries, const ILRLogDisplayOptions& options, ILRLogDateFormatter& formatter)
{
    Composer c{options, formatter, formatter.todayPrefix(), 0, {}};
    c.key = (options.paragraphKey * 1000003u) ^ (quint64(qHash(c.todayPrefix)) << 1) ^ (options.hideSender ? 0x9e3779b97f4a7c15ull : 0);
    if (c.key == 0)
        c.key = 1;
    c.paragraphs.reserve(entries.size() + 2);

    if (options.updateDate) {
        QString d = formatter.stringFromDate(*options.updateDate);
        if (!c.todayPrefix.isEmpty() && d.startsWith(c.todayPrefix))
            d.remove(0, c.todayPrefix.size());
        QString header;
        if (options.numberOfDays < 0)
            header = platform::format(u"⇤ %@…", d);
        else if (options.numberOfDays == 0)
            header = platform::format(u"⇤ 1 hour before %@…", d);
        else if (options.numberOfDays == 1)
            header = platform::format(u"⇤ 1 day before %@…", d);
        else
            header = platform::format(u"⇤ %ld days before %@…", long(options.numberOfDays), d);
        c.paragraphs.push_back(ILRLogParagraph{header, int(header.size()), int(header.size())});
    }

    const size_t insertion = options.archiveInsertionIndex.value_or(size_t(-1));
    ILRLogEntry* pending = nullptr;
    size_t pendingCount = 0;
    bool pendingMark = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        ILRLogEntry& entry = *entries[i];
        if (entry.eventMessage.isEmpty())
            continue;
        if (options.disableCoalescing) {
            c.write(entry, 0, i == insertion);
            continue;
        }
        if (pending && i != insertion && sameKey(*pending, entry)) {
            ++pendingCount;
            continue;
        }
        if (pending)
            c.write(*pending, pendingCount, pendingMark);
        pending = &entry;
        pendingCount = 1;
        pendingMark = i == insertion;
    }
    if (pending)
        c.write(*pending, pendingCount, pendingMark);
    if (entries.size() == insertion)
        c.paragraphs.push_back(ILRLogParagraph{kMark, int(kMark.size()), int(kMark.size())});
    return std::move(c.paragraphs);
}
