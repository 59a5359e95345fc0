// XML property lists: <plist version="1.0"> holding dict/key/array/string/integer/
// real/true/false/date/data elements.
//
// The reader is a small parser of its own for this one document type. It never loads
// or interprets a DTD: a DOCTYPE declaration, internal subset included, is skipped, and
// the only entities it knows are the five predefined ones and character references, so
// entity expansion attacks and external entities have nothing to work with. Nesting is
// limited, and every error names the line and column.
#include "platform/PropertyList.h"

#include <QtCore/QStringDecoder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace platform {

namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
qint64 daysFromCivil(qint64 y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(qint64 z, qint64* y, int* m, int* d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void appendUtf8(QByteArray& out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// The offset of the first byte that is not part of well-formed UTF-8, or -1.
qsizetype firstInvalidUtf8(const uchar* p, qsizetype n)
{
    qsizetype i = 0;
    while (i < n) {
        // Runs of ASCII eight bytes at a time.
        while (i + 8 <= n) {
            quint64 w;
            std::memcpy(&w, p + i, 8);
            if (w & 0x8080808080808080ull)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        const uchar c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return i;
        }
        if (i + len > n)
            return i;
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return i;
        i += len;
    }
    return -1;
}

// UTF-8 already checked as valid, to UTF-16. Unlike QString::fromUtf8 this keeps a
// leading U+FEFF, which is text here, not a byte-order mark.
QString decodeUtf8(const char* p, qsizetype n)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(p, n));
}

QString trimmedAscii(const QString& s)
{
    return s.trimmed();
}

// ---------------------------------------------------------------------------
// Reader

class XmlReader {
public:
    explicit XmlReader(const QByteArray& bytes)
        : m_begin(bytes.constData()), m_p(bytes.constData()), m_end(bytes.constData() + bytes.size())
    {
    }

    Value read(QString* error)
    {
        Value result;
        if (!readDocument(&result))
            result = Value();
        if (error)
            *error = m_error;
        return result;
    }

private:
    struct Tag {
        const char* at = nullptr; // the '<'
        const char* name = nullptr;
        int nameLength = 0;
        bool isEnd = false;
        bool isEmpty = false; // <name/>
        bool is(const char* n) const { return int(std::strlen(n)) == nameLength && std::memcmp(name, n, size_t(nameLength)) == 0; }
        QString text() const { return QString::fromUtf8(name, nameLength); }
    };

    bool fail(const char* at, const QString& message)
    {
        if (!m_error.isEmpty())
            return false;
        at = std::clamp(at, m_begin, m_end);
        int line = 1;
        const char* lineStart = m_begin;
        for (const char* q = m_begin; q < at; ++q)
            if (*q == '\n') {
                ++line;
                lineStart = q + 1;
            }
        qsizetype column = 1;
        for (const char* q = lineStart; q < at; ++q)
            if ((uchar(*q) & 0xC0) != 0x80)
                ++column;
        m_error = QStringLiteral("XML property list, line %1, column %2: %3").arg(line).arg(column).arg(message);
        return false;
    }

    bool lookingAt(const char* s) const
    {
        const size_t n = std::strlen(s);
        return size_t(m_end - m_p) >= n && std::memcmp(m_p, s, n) == 0;
    }

    void skipSpace()
    {
        while (m_p < m_end && isSpace(*m_p))
            ++m_p;
    }

    // Moves past the next occurrence of `terminator`.
    bool skipPast(const char* terminator, const char* what)
    {
        const char* start = m_p;
        const size_t n = std::strlen(terminator);
        const char* found = std::search(m_p, m_end, terminator, terminator + n);
        if (found == m_end)
            return fail(start, QStringLiteral("unterminated %1").arg(QLatin1String(what)));
        m_p = found + n;
        return true;
    }

    // Whitespace, comments and processing instructions between elements. With
    // `context` set, other text is an error naming that element.
    bool skipMisc(const char* context)
    {
        for (;;) {
            skipSpace();
            if (lookingAt("<!--")) {
                m_p += 4;
                if (!skipPast("-->", "comment"))
                    return false;
            } else if (lookingAt("<?")) {
                m_p += 2;
                if (!skipPast("?>", "processing instruction"))
                    return false;
            } else {
                if (m_p < m_end && *m_p != '<')
                    return fail(m_p, context ? QStringLiteral("unexpected text inside <%1>").arg(QLatin1String(context))
                                             : QStringLiteral("unexpected text outside the elements"));
                return true;
            }
        }
    }

    // A DOCTYPE declaration, skipped without interpreting anything in it: its
    // internal subset may declare entities, but none of them is ever expanded.
    bool skipDoctype()
    {
        const char* start = m_p;
        m_p += 9; // "<!DOCTYPE"
        bool inSubset = false;
        while (m_p < m_end) {
            const char c = *m_p;
            if (c == '"' || c == '\'') {
                const char* close = static_cast<const char*>(std::memchr(m_p + 1, c, size_t(m_end - m_p - 1)));
                if (!close)
                    return fail(m_p, QStringLiteral("unterminated quoted text in the DOCTYPE declaration"));
                m_p = close + 1;
            } else if (inSubset && lookingAt("<!--")) {
                m_p += 4;
                if (!skipPast("-->", "comment"))
                    return false;
            } else if (c == '[') {
                inSubset = true;
                ++m_p;
            } else if (c == ']') {
                inSubset = false;
                ++m_p;
            } else if (c == '>' && !inSubset) {
                ++m_p;
                return true;
            } else {
                ++m_p;
            }
        }
        return fail(start, QStringLiteral("unterminated DOCTYPE declaration"));
    }

    bool readTag(Tag* tag)
    {
        tag->at = m_p;
        if (m_p >= m_end)
            return fail(m_p, QStringLiteral("unexpected end of the document"));
        if (*m_p != '<')
            return fail(m_p, QStringLiteral("expected an element"));
        ++m_p;
        tag->isEnd = m_p < m_end && *m_p == '/';
        if (tag->isEnd)
            ++m_p;
        if (m_p >= m_end || !isNameStart(*m_p))
            return fail(tag->at, QStringLiteral("malformed tag"));
        tag->name = m_p;
        while (m_p < m_end && isNameChar(*m_p))
            ++m_p;
        tag->nameLength = int(std::min<qsizetype>(m_p - tag->name, 1 << 20));
        tag->isEmpty = false;
        for (;;) {
            skipSpace();
            if (m_p >= m_end)
                return fail(tag->at, QStringLiteral("unterminated tag <%1>").arg(tag->text()));
            if (*m_p == '>') {
                ++m_p;
                return true;
            }
            if (!tag->isEnd && *m_p == '/' && m_p + 1 < m_end && m_p[1] == '>') {
                m_p += 2;
                tag->isEmpty = true;
                return true;
            }
            if (tag->isEnd || !isNameStart(*m_p))
                return fail(m_p, QStringLiteral("malformed tag <%1>").arg(tag->text()));
            // An attribute: name = "value". Its value is not used.
            while (m_p < m_end && isNameChar(*m_p))
                ++m_p;
            skipSpace();
            if (m_p >= m_end || *m_p != '=')
                return fail(m_p, QStringLiteral("malformed attribute in <%1>").arg(tag->text()));
            ++m_p;
            skipSpace();
            if (m_p >= m_end || (*m_p != '"' && *m_p != '\''))
                return fail(m_p, QStringLiteral("attribute value in <%1> is not quoted").arg(tag->text()));
            const char quote = *m_p++;
            const char* close = static_cast<const char*>(std::memchr(m_p, quote, size_t(m_end - m_p)));
            if (!close || std::memchr(m_p, '<', size_t(close - m_p)))
                return fail(m_p, QStringLiteral("unterminated attribute value in <%1>").arg(tag->text()));
            m_p = close + 1;
        }
    }

    // Appends text with entity and character references decoded and line ends
    // normalised as XML requires.
    bool appendText(QByteArray& out, const char* p, const char* end)
    {
        while (p < end) {
            const char* special = p;
            while (special < end && *special != '&' && *special != '\r')
                ++special;
            out.append(p, special - p);
            if (special == end)
                break;
            if (*special == '\r') {
                out.append('\n');
                p = special + 1;
                if (p < end && *p == '\n')
                    ++p;
                continue;
            }
            const char* semi = static_cast<const char*>(std::memchr(special, ';', size_t(std::min<qsizetype>(end - special, 40))));
            if (!semi)
                return fail(special, QStringLiteral("'&' that does not begin an entity or character reference"));
            const QByteArray name(special + 1, semi - special - 1);
            if (name == "amp")
                out.append('&');
            else if (name == "lt")
                out.append('<');
            else if (name == "gt")
                out.append('>');
            else if (name == "quot")
                out.append('"');
            else if (name == "apos")
                out.append('\'');
            else if (name.startsWith('#')) {
                const bool hex = name.size() > 1 && (name[1] == 'x');
                const char* digits = name.constData() + (hex ? 2 : 1);
                const char* digitsEnd = name.constData() + name.size();
                quint32 code = 0;
                const auto [ptr, ec] = std::from_chars(digits, digitsEnd, code, hex ? 16 : 10);
                if (digits == digitsEnd || ec != std::errc() || ptr != digitsEnd || code == 0 || code > 0x10FFFF
                    || (code >= 0xD800 && code <= 0xDFFF))
                    return fail(special, QStringLiteral("invalid character reference &%1;").arg(QString::fromLatin1(name)));
                appendUtf8(out, char32_t(code));
            } else {
                return fail(special, QStringLiteral("unknown entity &%1; (only the predefined entities and character references are allowed)")
                                         .arg(QString::fromUtf8(name)));
            }
            p = semi + 1;
        }
        return true;
    }

    // The text content of `start` up to its end tag: character data, references and
    // CDATA sections; comments are skipped, elements are errors.
    bool readText(const Tag& start, QString* out)
    {
        out->clear();
        if (start.isEmpty)
            return true;
        // The common case: plain text up to the end tag.
        const char* lt = static_cast<const char*>(std::memchr(m_p, '<', size_t(m_end - m_p)));
        if (lt && lt + 1 < m_end && lt[1] == '/') {
            const qsizetype n = lt - m_p;
            if (!std::memchr(m_p, '&', size_t(n)) && !std::memchr(m_p, '\r', size_t(n))) {
                *out = n <= kMaxCachedText ? cachedText(m_p, n) : decodeUtf8(m_p, n);
                m_p = lt;
                return readEndTag(start);
            }
        }
        QByteArray buffer;
        for (;;) {
            lt = static_cast<const char*>(std::memchr(m_p, '<', size_t(m_end - m_p)));
            if (!lt)
                return fail(start.at, QStringLiteral("<%1> is not closed").arg(start.text()));
            if (!appendText(buffer, m_p, lt))
                return false;
            m_p = lt;
            if (lookingAt("<![CDATA[")) {
                m_p += 9;
                const char* cdataStart = m_p;
                if (!skipPast("]]>", "CDATA section"))
                    return false;
                const char* cdataEnd = m_p - 3;
                for (const char* q = cdataStart; q < cdataEnd; ++q) {
                    if (*q == '\r') {
                        buffer.append('\n');
                        if (q + 1 < cdataEnd && q[1] == '\n')
                            ++q;
                    } else {
                        buffer.append(*q);
                    }
                }
            } else if (lookingAt("<!--")) {
                m_p += 4;
                if (!skipPast("-->", "comment"))
                    return false;
            } else if (lookingAt("<?")) {
                m_p += 2;
                if (!skipPast("?>", "processing instruction"))
                    return false;
            } else if (lookingAt("</")) {
                *out = decodeUtf8(buffer.constData(), buffer.size());
                return readEndTag(start);
            } else {
                Tag inner;
                if (!readTag(&inner))
                    return false;
                return fail(inner.at, QStringLiteral("unexpected element <%1> inside <%2>").arg(inner.text(), start.text()));
            }
        }
    }

    bool readEndTag(const Tag& start)
    {
        Tag end;
        if (!readTag(&end))
            return false;
        if (!end.isEnd || end.nameLength != start.nameLength || std::memcmp(end.name, start.name, size_t(end.nameLength)) != 0)
            return fail(end.at, QStringLiteral("<%1> is closed by <%2%3>").arg(start.text(), end.isEnd ? QStringLiteral("/") : QString(), end.text()));
        return true;
    }

    bool readDocument(Value* out)
    {
        const qsizetype bad = firstInvalidUtf8(reinterpret_cast<const uchar*>(m_begin), m_end - m_begin);
        if (bad >= 0)
            return fail(m_begin + bad, QStringLiteral("the text is not valid UTF-8"));
        if (lookingAt("\xEF\xBB\xBF"))
            m_p += 3;
        if (lookingAt("<?xml")) {
            const char* declStart = m_p;
            m_p += 5;
            if (!skipPast("?>", "XML declaration"))
                return false;
            const QByteArray decl = QByteArray(declStart, m_p - declStart).toLower();
            const qsizetype enc = decl.indexOf("encoding");
            if (enc >= 0) {
                const qsizetype q1 = decl.indexOf('"', enc), q2 = decl.indexOf('\'', enc);
                const qsizetype open = q1 < 0 ? q2 : q2 < 0 ? q1 : std::min(q1, q2);
                if (open >= 0) {
                    const qsizetype close = decl.indexOf(decl[open], open + 1);
                    const QByteArray name = close > open ? decl.mid(open + 1, close - open - 1) : QByteArray();
                    if (name != "utf-8" && name != "utf8" && name != "us-ascii" && name != "ascii")
                        return fail(declStart, QStringLiteral("unsupported encoding \"%1\" (only UTF-8 is read)").arg(QString::fromUtf8(name)));
                }
            }
        }
        if (!skipMisc(nullptr))
            return false;
        if (lookingAt("<!DOCTYPE")) {
            if (!skipDoctype() || !skipMisc(nullptr))
                return false;
        }
        if (m_p >= m_end)
            return fail(m_p, QStringLiteral("the document holds no property list"));
        Tag root;
        if (!readTag(&root))
            return false;
        if (root.isEnd)
            return fail(root.at, QStringLiteral("unexpected end tag </%1>").arg(root.text()));
        if (root.is("plist")) {
            if (root.isEmpty)
                return fail(root.at, QStringLiteral("<plist> holds no value"));
            if (!skipMisc("plist"))
                return false;
            Tag value;
            if (!readTag(&value))
                return false;
            if (value.isEnd)
                return fail(value.at, QStringLiteral("<plist> holds no value"));
            if (!parseValue(value, 0, out) || !skipMisc("plist"))
                return false;
            Tag end;
            if (!readTag(&end))
                return false;
            if (!end.isEnd || !end.is("plist"))
                return fail(end.at, QStringLiteral("<plist> holds more than one value"));
        } else if (!parseValue(root, 0, out)) {
            return false;
        }
        if (!skipMisc(nullptr))
            return false;
        if (m_p < m_end)
            return fail(m_p, QStringLiteral("unexpected content after the property list"));
        return true;
    }

    bool parseValue(const Tag& tag, int depth, Value* out)
    {
        if (tag.isEnd)
            return fail(tag.at, QStringLiteral("unexpected end tag </%1>").arg(tag.text()));
        if (tag.is("dict") || tag.is("array"))
            return parseContainer(tag, depth, out);
        if (tag.is("true") || tag.is("false")) {
            QString text;
            if (!readText(tag, &text))
                return false;
            if (!trimmedAscii(text).isEmpty())
                return fail(tag.at, QStringLiteral("<%1> holds text").arg(tag.text()));
            *out = Value(tag.is("true"));
            return true;
        }
        QString text;
        if (tag.is("string")) {
            if (!readText(tag, &text))
                return false;
            *out = Value(std::move(text));
            return true;
        }
        if (tag.is("key"))
            return fail(tag.at, QStringLiteral("<key> outside a dictionary"));
        const bool known = tag.is("integer") || tag.is("real") || tag.is("date") || tag.is("data");
        if (!known)
            return fail(tag.at, QStringLiteral("unknown element <%1>").arg(tag.text()));
        if (!readText(tag, &text))
            return false;
        if (tag.is("integer"))
            return parseInteger(tag, text, out);
        if (tag.is("real"))
            return parseReal(tag, text, out);
        if (tag.is("date"))
            return parseDate(tag, text, out);
        return parseData(tag, text, out);
    }

    bool parseContainer(const Tag& tag, int depth, Value* out)
    {
        const bool isDictionary = tag.is("dict");
        if (depth >= kPropertyListMaxDepth)
            return fail(tag.at, QStringLiteral("containers nest deeper than %1 levels").arg(kPropertyListMaxDepth));
        const char* context = isDictionary ? "dict" : "array";
        if (isDictionary) {
            auto dict = std::make_shared<Dictionary>();
            if (!tag.isEmpty) {
                Dictionary::Map& map = dict->map();
                for (;;) {
                    Tag keyTag;
                    if (!skipMisc(context) || !readTag(&keyTag))
                        return false;
                    if (keyTag.isEnd) {
                        if (!keyTag.is("dict"))
                            return fail(keyTag.at, QStringLiteral("<dict> is closed by </%1>").arg(keyTag.text()));
                        break;
                    }
                    if (!keyTag.is("key"))
                        return fail(keyTag.at, QStringLiteral("<%1> in a dictionary without a <key> before it").arg(keyTag.text()));
                    QString key;
                    if (!readText(keyTag, &key))
                        return false;
                    Tag valueTag;
                    if (!skipMisc(context) || !readTag(&valueTag))
                        return false;
                    if (valueTag.isEnd || valueTag.is("key"))
                        return fail(valueTag.at, QStringLiteral("key \"%1\" has no value").arg(key.left(100)));
                    Value value;
                    if (!parseValue(valueTag, depth + 1, &value))
                        return false;
                    map.insert(key, std::move(value));
                }
            }
            *out = Value(std::move(dict));
            return true;
        }
        std::vector<Value> values;
        if (!tag.isEmpty) {
            for (;;) {
                Tag valueTag;
                if (!skipMisc(context) || !readTag(&valueTag))
                    return false;
                if (valueTag.isEnd) {
                    if (!valueTag.is("array"))
                        return fail(valueTag.at, QStringLiteral("<array> is closed by </%1>").arg(valueTag.text()));
                    break;
                }
                values.emplace_back();
                if (!parseValue(valueTag, depth + 1, &values.back()))
                    return false;
            }
        }
        *out = Value(std::make_shared<Array>(std::move(values)));
        return true;
    }

    bool parseInteger(const Tag& tag, const QString& text, Value* out)
    {
        const QByteArray s = trimmedAscii(text).toLatin1();
        const char* p = s.constData();
        const char* end = p + s.size();
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        int base = 10;
        if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
            base = 16;
            p += 2;
        }
        quint64 magnitude = 0;
        const auto [ptr, ec] = std::from_chars(p, end, magnitude, base);
        const bool bad = p == end || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range);
        if (bad)
            return fail(tag.at, QStringLiteral("\"%1\" is not an integer").arg(text.left(100)));
        constexpr quint64 minMagnitude = quint64(std::numeric_limits<qint64>::max()) + 1;
        if (ec == std::errc::result_out_of_range || (negative && magnitude > minMagnitude))
            return fail(tag.at, QStringLiteral("integer \"%1\" does not fit in 64 bits").arg(text.left(100)));
        if (negative)
            *out = Value(qint64(0 - magnitude));
        else
            *out = Value((unsigned long long)magnitude);
        return true;
    }

    bool parseReal(const Tag& tag, const QString& text, Value* out)
    {
        const QByteArray s = trimmedAscii(text).toLatin1();
        const QByteArray lower = s.toLower();
        const char* p = lower.constData();
        const char* end = p + lower.size();
        double sign = 1.0;
        if (p < end && (*p == '+' || *p == '-')) {
            if (*p == '-')
                sign = -1.0;
            ++p;
        }
        const QByteArray rest(p, end - p);
        if (rest == "inf" || rest == "infinity") {
            *out = Value(sign * std::numeric_limits<double>::infinity());
            return true;
        }
        if (rest == "nan") {
            *out = Value(std::numeric_limits<double>::quiet_NaN());
            return true;
        }
        double d = 0;
        const auto [ptr, ec] = std::from_chars(p, end, d, std::chars_format::general);
        if (p == end || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range) || *p == '-' || *p == '+')
            return fail(tag.at, QStringLiteral("\"%1\" is not a real number").arg(text.left(100)));
        if (ec == std::errc::result_out_of_range) {
            // Too large becomes infinity, too small zero, as strtod answers.
            d = std::strtod(lower.constData(), nullptr);
            sign = 1.0;
        }
        *out = Value(sign * d);
        return true;
    }

    // ISO 8601 in UTC as property lists write it: yyyy-MM-ddTHH:mm:ssZ, where the
    // trailing fields may be left out.
    bool parseDate(const Tag& tag, const QString& text, Value* out)
    {
        const QByteArray s = trimmedAscii(text).toLatin1();
        const char* p = s.constData();
        const char* end = p + s.size();
        auto bad = [&] { return fail(tag.at, QStringLiteral("\"%1\" is not a date of the form yyyy-MM-ddTHH:mm:ssZ").arg(text.left(100))); };
        auto number = [&](int digits, int* value) {
            if (end - p < digits)
                return false;
            int v = 0;
            for (int i = 0; i < digits; ++i) {
                if (p[i] < '0' || p[i] > '9')
                    return false;
                v = v * 10 + (p[i] - '0');
            }
            p += digits;
            *value = v;
            return true;
        };
        int fields[6] = {0, 1, 1, 0, 0, 0};
        const char separators[6] = {0, '-', '-', 'T', ':', ':'};
        const int widths[6] = {4, 2, 2, 2, 2, 2};
        for (int i = 0; i < 6; ++i) {
            if (i > 0) {
                if (p < end && *p == separators[i])
                    ++p;
                else
                    break;
            }
            if (!number(widths[i], &fields[i]))
                return bad();
        }
        if (p + 1 != end || *p != 'Z')
            return bad();
        if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 || fields[3] > 23 || fields[4] > 59 || fields[5] > 60)
            return bad();
        const qint64 days = daysFromCivil(fields[0], fields[1], fields[2]);
        *out = Value(Date{double(days * 86400 + fields[3] * 3600 + fields[4] * 60 + fields[5])});
        return true;
    }

    bool parseData(const Tag& tag, const QString& text, Value* out)
    {
        QByteArray base64;
        base64.reserve(text.size());
        for (QChar c : text)
            if (!c.isSpace())
                base64.append(char(c.unicode() < 0x80 ? c.unicode() : '!'));
        auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return fail(tag.at, QStringLiteral("<data> does not hold valid base64 text"));
        *out = Value(std::move(decoded.decoded));
        return true;
    }

    // Short texts (keys above all, which repeat in every record) decoded once and
    // shared: fewer allocations and a smaller tree.
    QString cachedText(const char* p, qsizetype n)
    {
        CachedText& entry = m_textCache[qHash(QByteArrayView(p, n), size_t(0)) & (kTextCache - 1)];
        if (entry.length == n && std::memcmp(entry.raw, p, size_t(n)) == 0)
            return entry.text;
        entry = {p, n, decodeUtf8(p, n)};
        return entry.text;
    }

    static constexpr qsizetype kMaxCachedText = 32;
    static constexpr size_t kTextCache = 512;
    struct CachedText {
        const char* raw = nullptr; // inside the document
        qsizetype length = -1;
        QString text;
    };
    std::vector<CachedText> m_textCache = std::vector<CachedText>(kTextCache);
    const char* m_begin;
    const char* m_p;
    const char* m_end;
    QString m_error;
};

// ---------------------------------------------------------------------------
// Writer

class XmlWriter {
public:
    QString error;

    bool write(const Value& root)
    {
        m_out.reserve(4096);
        m_out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\">\n");
        if (!writeValue(root, 0, 0))
            return false;
        m_out.append("</plist>\n");
        return true;
    }

    QByteArray result() { return std::move(m_out); }

private:
    bool fail(const QString& message)
    {
        if (error.isEmpty())
            error = QStringLiteral("cannot write an XML property list: ") + message;
        return false;
    }

    void indent(int level)
    {
        if (level > 0)
            m_out.append(qsizetype(level), '\t');
    }

    // Appends the text as UTF-8 with &, < and > escaped (and carriage returns as
    // references, which XML would otherwise read back as line feeds). Characters XML
    // cannot hold are refused rather than silently changed.
    bool appendEscaped(const QString& s)
    {
        const char16_t* src = reinterpret_cast<const char16_t*>(s.constData());
        const qsizetype n = s.size();
        const qsizetype start = m_out.size();
        m_out.resize(start + 5 * n);
        char* d = m_out.data() + start;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = src[i];
            if (c >= 0x20 && c < 0x80) {
                if (c == '&') {
                    std::memcpy(d, "&amp;", 5);
                    d += 5;
                } else if (c == '<') {
                    std::memcpy(d, "&lt;", 4);
                    d += 4;
                } else if (c == '>') {
                    std::memcpy(d, "&gt;", 4);
                    d += 4;
                } else {
                    *d++ = char(c);
                }
            } else if (c < 0x20) {
                if (c == '\t' || c == '\n') {
                    *d++ = char(c);
                } else if (c == '\r') {
                    std::memcpy(d, "&#13;", 5);
                    d += 5;
                } else {
                    m_out.truncate(start);
                    return fail(QStringLiteral("the text \"%1\" holds the control character U+%2, which XML cannot represent")
                                    .arg(s.left(60))
                                    .arg(uint(c), 4, 16, QLatin1Char('0')));
                }
            } else if (c < 0x800) {
                *d++ = char(0xC0 | (c >> 6));
                *d++ = char(0x80 | (c & 0x3F));
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                if (c >= 0xDC00 || i + 1 >= n || src[i + 1] < 0xDC00 || src[i + 1] > 0xDFFF) {
                    m_out.truncate(start);
                    return fail(QStringLiteral("the text \"%1\" holds an unpaired surrogate, which XML cannot represent").arg(s.left(60)));
                }
                const char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(src[i + 1]) - 0xDC00);
                ++i;
                *d++ = char(0xF0 | (cp >> 18));
                *d++ = char(0x80 | ((cp >> 12) & 0x3F));
                *d++ = char(0x80 | ((cp >> 6) & 0x3F));
                *d++ = char(0x80 | (cp & 0x3F));
            } else if (c == 0xFFFE || c == 0xFFFF) {
                m_out.truncate(start);
                return fail(QStringLiteral("the text \"%1\" holds the non-character U+%2, which XML cannot represent")
                                .arg(s.left(60))
                                .arg(uint(c), 4, 16, QLatin1Char('0')));
            } else {
                *d++ = char(0xE0 | (c >> 12));
                *d++ = char(0x80 | ((c >> 6) & 0x3F));
                *d++ = char(0x80 | (c & 0x3F));
            }
        }
        m_out.truncate(d - m_out.constData());
        return true;
    }

    void simpleElement(int level, const char* name, const char* text, qsizetype length)
    {
        indent(level);
        m_out.append('<').append(name).append('>');
        m_out.append(text, length);
        m_out.append("</").append(name).append(">\n");
    }

    bool writeValue(const Value& v, int level, int depth)
    {
        char buffer[64];
        switch (v.type()) {
        case Value::Type::Null:
            return fail(QStringLiteral("it holds an empty (null) value"));
        case Value::Type::Object:
            return fail(QStringLiteral("it holds an object that is not a property-list value (%1)").arg(v.object()->description().left(200)));
        case Value::Type::String:
            indent(level);
            m_out.append("<string>");
            if (!appendEscaped(v.string()))
                return false;
            m_out.append("</string>\n");
            return true;
        case Value::Type::Bool:
            indent(level);
            m_out.append(v.boolean() ? "<true/>\n" : "<false/>\n");
            return true;
        case Value::Type::Integer: {
            const auto r = v.isUnsignedInteger() ? std::to_chars(buffer, buffer + sizeof buffer, v.unsignedInteger())
                                                 : std::to_chars(buffer, buffer + sizeof buffer, v.integer());
            simpleElement(level, "integer", buffer, r.ptr - buffer);
            return true;
        }
        case Value::Type::Real: {
            const double d = v.real();
            if (std::isnan(d))
                simpleElement(level, "real", "nan", 3);
            else if (std::isinf(d))
                simpleElement(level, "real", d > 0 ? "+infinity" : "-infinity", 9);
            else {
                // The shortest text that reads back as the same double.
                const auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
                simpleElement(level, "real", buffer, r.ptr - buffer);
            }
            return true;
        }
        case Value::Type::Date: {
            const double seconds = v.date().secondsSince1970;
            // Whole seconds, as the format holds them.
            if (!std::isfinite(seconds) || seconds < -62167219200.0 || seconds >= 253402300800.0)
                return fail(QStringLiteral("date %1 lies outside the years 0000 to 9999").arg(seconds));
            const qint64 whole = qint64(std::floor(seconds));
            const qint64 days = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
            const qint64 secondOfDay = whole - days * 86400;
            qint64 year;
            int month, day;
            civilFromDays(days, &year, &month, &day);
            const int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", int(year), month, day,
                                        int(secondOfDay / 3600), int(secondOfDay / 60 % 60), int(secondOfDay % 60));
            simpleElement(level, "date", buffer, n);
            return true;
        }
        case Value::Type::Data: {
            indent(level);
            m_out.append("<data>\n");
            // Lines that stay within 76 columns with tabs counted as eight.
            const int lineLength = std::max(16, 76 - 8 * level) / 4 * 4;
            const QByteArray encoded = v.data().toBase64();
            for (qsizetype i = 0; i < encoded.size(); i += lineLength) {
                indent(level);
                m_out.append(encoded.constData() + i, std::min<qsizetype>(lineLength, encoded.size() - i));
                m_out.append('\n');
            }
            indent(level);
            m_out.append("</data>\n");
            return true;
        }
        case Value::Type::Array:
        case Value::Type::Dictionary:
            break;
        }
        if (depth >= kPropertyListMaxDepth)
            return fail(QStringLiteral("containers nest deeper than %1 levels (or contain themselves)").arg(kPropertyListMaxDepth));
        indent(level);
        if (v.isArray()) {
            const ArrayPtr a = v.array();
            if (a->isEmpty()) {
                m_out.append("<array/>\n");
                return true;
            }
            m_out.append("<array>\n");
            for (const Value& child : *a)
                if (!writeValue(child, level + 1, depth + 1))
                    return false;
            indent(level);
            m_out.append("</array>\n");
            return true;
        }
        const DictionaryPtr dict = v.dictionary();
        if (dict->isEmpty()) {
            m_out.append("<dict/>\n");
            return true;
        }
        m_out.append("<dict>\n");
        std::vector<Dictionary::Map::const_iterator> entries;
        entries.reserve(size_t(dict->count()));
        for (auto it = dict->map().cbegin(); it != dict->map().cend(); ++it)
            entries.push_back(it);
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });
        for (const auto& entry : entries) {
            indent(level + 1);
            m_out.append("<key>");
            if (!appendEscaped(entry.key()))
                return false;
            m_out.append("</key>\n");
            if (!writeValue(entry.value(), level + 1, depth + 1))
                return false;
        }
        indent(level);
        m_out.append("</dict>\n");
        return true;
    }

    QByteArray m_out;
};

} // namespace

Value readXMLPropertyList(const QByteArray& bytes, QString* error)
{
    XmlReader reader(bytes);
    return reader.read(error);
}

QByteArray writeXMLPropertyList(const Value& value, QString* error)
{
    XmlWriter writer;
    if (!writer.write(value)) {
        if (error)
            *error = writer.error;
        return QByteArray();
    }
    if (error)
        error->clear();
    return writer.result();
}

} // namespace platform
