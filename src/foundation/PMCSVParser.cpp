#include "foundation/PMCSVParser.h"

#include "foundation/PMLog.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QHash>

#include <mutex>
#include <shared_mutex>

namespace {

constexpr char16_t kQuote = u'"';

// The platform's newline set: line feed to carriage return (with vertical tab and form
// feed), next line, line and paragraph separators.
inline bool isNewline(char16_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Blanks and tabs, not newlines.
inline bool isBlank(char16_t c)
{
    if (c == u' ' || c == u'\t')
        return true;
    return c >= 0x80 && QChar::category(c) == QChar::Separator_Space;
}

bool separatorIsUsable(const QString& separator)
{
    if (separator.isEmpty())
        return false;
    for (QChar c : separator)
        if (c.unicode() == kQuote || isNewline(c.unicode()))
            return false;
    return true;
}

std::once_flag g_separatorOnce;
QString g_defaultSeparator;

QString effectiveSeparator(const QString& separator)
{
    return separatorIsUsable(separator) ? separator : PMCSVDefaultFieldSeparator();
}

// Trims whitespace, newlines and any character of `extra` from both ends.
QString trimmedOf(const QString& s, const QString& extra)
{
    qsizetype start = 0, end = s.size();
    const auto strip = [&](QChar c) { return c.isSpace() || extra.contains(c); };
    while (start < end && strip(s.at(start)))
        ++start;
    while (end > start && strip(s.at(end - 1)))
        --end;
    return s.mid(start, end - start);
}

// The line as the second pass of the classic two-pass reading sees it: every quoted section
// stands as one double quote. Only built for the log line of a dropped record.
QString skeletonOfLine(QStringView line)
{
    QString out;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        if (line[i] != kQuote) {
            out += line[i++];
            continue;
        }
        out += QChar(kQuote);
        ++i;
        while (i < n) {
            if (line[i] == kQuote) {
                if (i + 1 < n && line[i + 1] == kQuote) {
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            ++i;
        }
    }
    return out;
}

platform::Value arrayValue(const QStringList& fields)
{
    auto array = platform::Array::make();
    array->reserve(fields.size());
    for (const QString& f : fields)
        array->append(f);
    return array;
}

// One pass over the text. A field is built from the unquoted text and the quoted values it
// holds; trimming touches only unquoted blanks at its ends, so blanks inside quotes survive.
// Separators and newlines inside quotes belong to the value.
class Scanner {
public:
    Scanner(QStringView text, QStringView separator, bool trim, bool records)
        : m_text(text), m_sep(separator), m_trim(trim), m_records(records) {}

    bool run(QStringList* fields, QList<QStringList>* records)
    {
        const char16_t* p = reinterpret_cast<const char16_t*>(m_text.data());
        m_p = p;
        const qsizetype n = m_text.size();
        const char16_t sep0 = m_sep[0].unicode();
        const qsizetype sepLen = m_sep.size();
        qsizetype i = 0;
        qsizetype runStart = 0; // start of the current unquoted run
        m_lineStart = 0;
        m_fieldStart = 0;
        while (i < n) {
            const char16_t c = p[i];
            // Plain characters are by far the most common: step over them quickly.
            if (c > u'"' && c != sep0 && c < 0x85) {
                ++i;
                continue;
            }
            if (c == kQuote) {
                if (!m_quoted) {
                    m_quoted = true;
                    m_field.truncate(0);
                    runStart = m_fieldStart;
                }
                appendUnquoted(p + runStart, i - runStart);
                m_lineHasContent = true;
                qsizetype j = i + 1;
                if (m_quotedFrom < 0)
                    m_quotedFrom = m_field.size();
                for (;;) {
                    qsizetype k = j;
                    while (k < n && p[k] != kQuote)
                        ++k;
                    if (k >= n)
                        return false; // the quote is never closed
                    m_field.append(reinterpret_cast<const QChar*>(p + j), k - j);
                    if (k + 1 < n && p[k + 1] == kQuote) {
                        m_field.append(QChar(kQuote));
                        j = k + 2;
                        continue;
                    }
                    i = k + 1;
                    break;
                }
                m_quotedTo = m_field.size();
                runStart = i;
                continue;
            }
            if (isNewline(c)) {
                if (m_quoted)
                    appendUnquoted(p + runStart, i - runStart);
                endLine(i);
                ++i;
                m_lineStart = i;
                m_fieldStart = i;
                runStart = i;
                continue;
            }
            if (c == sep0 && (sepLen == 1 || (n - i >= sepLen && QStringView(p + i, sepLen) == m_sep))) {
                if (m_quoted)
                    appendUnquoted(p + runStart, i - runStart);
                m_lineHasContent = true;
                endField(i);
                i += sepLen;
                m_fieldStart = i;
                runStart = i;
                continue;
            }
            ++i;
        }
        if (m_quoted)
            appendUnquoted(p + runStart, n - runStart);
        endLine(n);
        if (fields)
            *fields = std::move(m_flat);
        if (records)
            *records = std::move(m_result);
        return true;
    }

private:
    void appendUnquoted(const char16_t* s, qsizetype len)
    {
        if (len <= 0)
            return;
        m_lineHasContent = true;
        m_field.append(reinterpret_cast<const QChar*>(s), len);
    }

    // Ends the field that runs up to `end` in the text.
    void endField(qsizetype fieldEnd)
    {
        QString value;
        if (!m_quoted) {
            // No quotes: the field is a plain slice of the text, made in one allocation.
            qsizetype start = m_fieldStart, end = fieldEnd;
            if (m_trim) {
                while (start < end && isBlank(m_p[start]))
                    ++start;
                while (end > start && isBlank(m_p[end - 1]))
                    --end;
            }
            if (end > start)
                value = QString(reinterpret_cast<const QChar*>(m_p + start), end - start);
        } else {
            qsizetype start = 0, end = m_field.size();
            if (m_trim) {
                while (start < m_quotedFrom && isBlank(m_field.at(start).unicode()))
                    ++start;
                while (end > m_quotedTo && isBlank(m_field.at(end - 1).unicode()))
                    --end;
            }
            value = QStringView(m_field).mid(start, end - start).toString();
            m_quoted = false;
            m_quotedFrom = -1;
            m_quotedTo = -1;
        }
        if (m_records)
            m_line.append(std::move(value));
        else if (!value.isEmpty())
            m_flat.append(std::move(value));
    }

    void endLine(qsizetype lineEnd)
    {
        if (lineEnd > m_lineStart)
            m_lineHasContent = true;
        if (!m_lineHasContent)
            return; // empty lines are skipped (a CR LF pair ends one line)
        endField(lineEnd);
        m_lineHasContent = false;
        if (!m_records)
            return;
        if (m_expected < 0)
            m_expected = m_line.size();
        if (m_line.size() == m_expected) {
            m_result.append(std::move(m_line));
        } else {
            const QString raw = skeletonOfLine(m_text.mid(m_lineStart, lineEnd - m_lineStart));
            PMLog("[PMCSVParser] incorrect number of fields in record: %@ (expected: %lu; raw line: %@)",
                  arrayValue(m_line), static_cast<unsigned long>(m_expected), raw);
        }
        m_line = QStringList();
        m_line.reserve(m_expected);
    }

    QStringView m_text;
    QStringView m_sep;
    bool m_trim;
    bool m_records;
    const char16_t* m_p = nullptr;
    QString m_field;               // the value being built when the field holds quotes
    bool m_quoted = false;
    qsizetype m_fieldStart = 0;
    qsizetype m_quotedFrom = -1; // where the first quoted value of the field begins
    qsizetype m_quotedTo = -1;   // where the last one ends
    bool m_lineHasContent = false;
    qsizetype m_lineStart = 0;
    QStringList m_line;
    QStringList m_flat;
    QList<QStringList> m_result;
    qsizetype m_expected = -1;
};

// The per-text cache of parsed fields. The program asks for the same tag values over and
// over from concurrent enumerations; equal texts have equal fields, so the text is the key.
struct FieldCache {
    std::shared_mutex lock;
    QHash<QString, QStringList> fields;
    static constexpr qsizetype kLimit = 200000;
};

FieldCache& fieldCache()
{
    static FieldCache cache;
    return cache;
}

} // namespace

QString PMCSVFieldSeparatorFromDefaultValue(const platform::Value& value)
{
    if (value.isString()) {
        const QString trimmed = value.string().trimmed();
        if (separatorIsUsable(trimmed))
            return trimmed;
    }
    return QStringLiteral(",");
}

void PMCSVParserLoad()
{
    std::call_once(g_separatorOnce, [] {
        g_defaultSeparator = PMCSVFieldSeparatorFromDefaultValue(
            prefs::get(prefs::keys::PMCSVParserDefaultFieldSeparator));
    });
}

QString PMCSVDefaultFieldSeparator()
{
    PMCSVParserLoad();
    return g_defaultSeparator;
}

QString PMCSVQuotedField(const QString& field, const QString& separator)
{
    bool needsQuotes = !separator.isEmpty() && field.contains(separator);
    if (!needsQuotes) {
        for (QChar c : field) {
            if (c.unicode() == kQuote || isNewline(c.unicode())) {
                needsQuotes = true;
                break;
            }
        }
    }
    if (!needsQuotes)
        return field;
    QString quoted;
    quoted.reserve(field.size() + 2);
    quoted += QChar(kQuote);
    for (QChar c : field) {
        if (c.unicode() == kQuote)
            quoted += QChar(kQuote);
        quoted += c;
    }
    quoted += QChar(kQuote);
    return quoted;
}

QString PMCSVQuotedFieldWithSeparator(const QString& field, const QString& separator)
{
    if (field.isEmpty())
        return QString();
    return PMCSVQuotedField(field, effectiveSeparator(separator));
}

QString PMCSVStringWithFields(const QStringList& fields, const QString& separator, bool trim)
{
    if (fields.isEmpty())
        return QString();
    const QString sep = effectiveSeparator(separator);
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields) {
        if (trim) {
            const QString t = trimmedOf(field, sep);
            if (t.isEmpty())
                continue;
            quoted.append(PMCSVQuotedField(t, sep));
        } else {
            quoted.append(PMCSVQuotedField(field, sep));
        }
    }
    if (quoted.isEmpty())
        return QString();
    if (quoted.size() == 1)
        return quoted.first();
    return quoted.join(sep + QLatin1Char(' '));
}

PMCSVScanner PMCSVScanner::CSVScannerWithString(const QString& string)
{
    return PMCSVScanner(string);
}

bool PMCSVScanner::scanCSVWithFieldSeparator(const QString& separator, bool trimFields, bool separateRecords,
                                             QStringList* getFields, QList<QStringList>* getRecords)
{
    const QString sep = effectiveSeparator(separator);
    Scanner scanner(QStringView(m_string).mid(m_location), sep, trimFields, separateRecords);
    QStringList fields;
    QList<QStringList> records;
    if (!scanner.run(&fields, &records))
        return false;
    m_location = m_string.size();
    if (getFields)
        *getFields = std::move(fields);
    if (getRecords)
        *getRecords = std::move(records);
    return true;
}

QStringList PMCSVFieldsFromString(const QString& string, const QString& separator)
{
    if (string.isEmpty())
        return {};
    const QString sep = effectiveSeparator(separator);
    PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(string);
    QStringList fields;
    if (scanner.scanCSVWithFieldSeparator(sep, true, false, &fields, nullptr) && !fields.isEmpty())
        return fields;
    const QString whole = trimmedOf(string, sep);
    if (whole.isEmpty())
        return {};
    return {whole};
}

QList<QStringList> PMCSVRecordsFromString(const QString& string, const QString& separator)
{
    if (string.isEmpty())
        return {};
    PMCSVScanner scanner = PMCSVScanner::CSVScannerWithString(string);
    QList<QStringList> records;
    if (!scanner.scanCSVWithFieldSeparator(separator, true, true, nullptr, &records))
        return {};
    return records;
}

QStringList cachedCSVFields(const QString& string)
{
    FieldCache& cache = fieldCache();
    {
        std::shared_lock guard(cache.lock);
        const auto it = cache.fields.constFind(string);
        if (it != cache.fields.cend())
            return *it;
    }
    QStringList fields = PMCSVFieldsFromString(string, PMCSVDefaultFieldSeparator());
    std::unique_lock guard(cache.lock);
    // Another thread may have parsed the same text meanwhile: answer what it stored.
    const auto it = cache.fields.constFind(string);
    if (it != cache.fields.cend())
        return *it;
    if (cache.fields.size() >= FieldCache::kLimit)
        cache.fields.clear();
    cache.fields.insert(string, fields);
    return fields;
}

QString prettyButBrokenCSVString(const QString& string)
{
    return cachedCSVFields(string).join(QStringLiteral(", "));
}
