// The old text form of property lists: { key = value; }, ( a, b ), "quoted" and
// unquoted strings, <hex data>, and // or /* */ comments. Everything that is not a
// container or data is a string. Read only.
#include "platform/PropertyList.h"

#include <QtCore/QStringDecoder>

#include <vector>

namespace platform {

namespace {

// Octal escapes above \177 name characters of the NeXTSTEP encoding, the one the old
// text form was written in.
constexpr char16_t kNextStepHigh[128] = {
    0x00A0, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00B5, 0x00D7, 0x00F7,
    0x00A9, 0x00A1, 0x00A2, 0x00A3, 0x2044, 0x00A5, 0x0192, 0x00A7, 0x00A4, 0x2019, 0x201C, 0x00AB, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x00AE, 0x2013, 0x2020, 0x2021, 0x00B7, 0x00A6, 0x00B6, 0x2022, 0x201A, 0x201E, 0x201D, 0x00BB, 0x2026, 0x2030, 0x00AC, 0x00BF,
    0x00B9, 0x02CB, 0x00B4, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x00A8, 0x00B2, 0x02DA, 0x00B8, 0x00B3, 0x02DD, 0x02DB, 0x02C7,
    0x2014, 0x00B1, 0x00BC, 0x00BD, 0x00BE, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00C6, 0x00ED, 0x00AA, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x0141, 0x00D8, 0x0152, 0x00BA, 0x00F2, 0x00F3, 0x00F4, 0x00F5,
    0x00F6, 0x00E6, 0x00F9, 0x00FA, 0x00FB, 0x0131, 0x00FC, 0x00FD, 0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x00FF, 0xFFFD, 0xFFFD,
};

bool isUnquotedCharacter(char16_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '/' || c == ':'
        || c == '.' || c == '-';
}

int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class OpenStepReader {
public:
    explicit OpenStepReader(QString text) : m_text(std::move(text)), m_s(reinterpret_cast<const char16_t*>(m_text.constData())), m_n(m_text.size()) {}

    Value read(QString* error)
    {
        Value result;
        bool ok = skipSpaceAndComments();
        if (ok && m_i >= m_n)
            ok = fail(m_i, QStringLiteral("the text holds no property list"));
        ok = ok && parseValue(0, &result) && skipSpaceAndComments();
        if (ok && m_i < m_n)
            ok = fail(m_i, QStringLiteral("unexpected text after the property list"));
        if (!ok)
            result = Value();
        if (error)
            *error = m_error;
        return result;
    }

    bool fail(qsizetype at, const QString& message)
    {
        if (!m_error.isEmpty())
            return false;
        int line = 1;
        for (qsizetype i = 0; i < at && i < m_n; ++i)
            if (m_s[i] == '\n')
                ++line;
        m_error = QStringLiteral("text property list, line %1: %2").arg(line).arg(message);
        return false;
    }

private:
    bool skipSpaceAndComments()
    {
        while (m_i < m_n) {
            const char16_t c = m_s[m_i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0xFEFF || c == 0x2028 || c == 0x2029) {
                ++m_i;
            } else if (c == '/' && m_i + 1 < m_n && m_s[m_i + 1] == '/') {
                while (m_i < m_n && m_s[m_i] != '\n' && m_s[m_i] != '\r')
                    ++m_i;
            } else if (c == '/' && m_i + 1 < m_n && m_s[m_i + 1] == '*') {
                const qsizetype start = m_i;
                m_i += 2;
                while (m_i + 1 < m_n && !(m_s[m_i] == '*' && m_s[m_i + 1] == '/'))
                    ++m_i;
                if (m_i + 1 >= m_n)
                    return fail(start, QStringLiteral("unterminated comment"));
                m_i += 2;
            } else {
                break;
            }
        }
        return true;
    }

    bool expect(char16_t c, const QString& what)
    {
        if (!skipSpaceAndComments())
            return false;
        if (m_i >= m_n)
            return fail(m_i, QStringLiteral("unexpected end of the text; expected %1").arg(what));
        if (m_s[m_i] != c)
            return fail(m_i, QStringLiteral("unexpected '%1'; expected %2").arg(QChar(m_s[m_i]), what));
        ++m_i;
        return true;
    }

    bool parseValue(int depth, Value* out)
    {
        if (m_i >= m_n)
            return fail(m_i, QStringLiteral("unexpected end of the text; expected a value"));
        const char16_t c = m_s[m_i];
        if (c == '{' || c == '(') {
            if (depth >= kPropertyListMaxDepth)
                return fail(m_i, QStringLiteral("containers nest deeper than %1 levels").arg(kPropertyListMaxDepth));
            return c == '{' ? parseDictionary(depth, out) : parseArray(depth, out);
        }
        if (c == '<')
            return parseData(out);
        QString s;
        if (!parseString(&s))
            return false;
        *out = Value(std::move(s));
        return true;
    }

    bool parseString(QString* out)
    {
        if (m_i >= m_n)
            return fail(m_i, QStringLiteral("unexpected end of the text; expected a string"));
        const char16_t c = m_s[m_i];
        if (c == '"' || c == '\'')
            return parseQuoted(out);
        const qsizetype start = m_i;
        while (m_i < m_n && isUnquotedCharacter(m_s[m_i]))
            ++m_i;
        if (m_i == start)
            return fail(m_i, QStringLiteral("unexpected '%1'").arg(QChar(c)));
        *out = QString(reinterpret_cast<const QChar*>(m_s + start), m_i - start);
        return true;
    }

    bool parseQuoted(QString* out)
    {
        const qsizetype start = m_i;
        const char16_t quote = m_s[m_i++];
        QString s;
        for (;;) {
            if (m_i >= m_n)
                return fail(start, QStringLiteral("unterminated quoted string"));
            const char16_t c = m_s[m_i++];
            if (c == quote)
                break;
            if (c != '\\') {
                s.append(QChar(c));
                continue;
            }
            if (m_i >= m_n)
                return fail(start, QStringLiteral("unterminated quoted string"));
            const char16_t e = m_s[m_i++];
            switch (e) {
            case 'a': s.append(QChar(0x07)); break;
            case 'b': s.append(QChar(0x08)); break;
            case 'f': s.append(QChar(0x0C)); break;
            case 'n': s.append(QChar(0x0A)); break;
            case 'r': s.append(QChar(0x0D)); break;
            case 't': s.append(QChar(0x09)); break;
            case 'v': s.append(QChar(0x0B)); break;
            case 'U':
            case 'u': {
                // Up to four hex digits of a UTF-16 code unit.
                uint code = 0;
                int digits = 0;
                while (digits < 4 && m_i < m_n && hexValue(m_s[m_i]) >= 0) {
                    code = code * 16 + uint(hexValue(m_s[m_i++]));
                    ++digits;
                }
                if (digits == 0)
                    return fail(m_i, QStringLiteral("\\U without hexadecimal digits"));
                s.append(QChar(char16_t(code)));
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    uint code = uint(e - '0');
                    for (int digits = 1; digits < 3 && m_i < m_n && m_s[m_i] >= '0' && m_s[m_i] <= '7'; ++digits)
                        code = code * 8 + uint(m_s[m_i++] - '0');
                    if (code > 0xFF)
                        return fail(m_i, QStringLiteral("octal escape \\%1 is above \\377").arg(code, 0, 8));
                    s.append(QChar(code < 0x80 ? char16_t(code) : kNextStepHigh[code - 0x80]));
                } else {
                    // \", \', \\ and any other escaped character stand for themselves.
                    s.append(QChar(e));
                }
                break;
            }
        }
        *out = std::move(s);
        return true;
    }

    bool parseData(Value* out)
    {
        const qsizetype start = m_i++;
        QByteArray bytes;
        int pending = -1;
        for (;;) {
            if (m_i >= m_n)
                return fail(start, QStringLiteral("unterminated data"));
            const char16_t c = m_s[m_i++];
            if (c == '>')
                break;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
                continue;
            const int h = hexValue(c);
            if (h < 0)
                return fail(m_i - 1, QStringLiteral("'%1' in data is not a hexadecimal digit").arg(QChar(c)));
            if (pending < 0) {
                pending = h;
            } else {
                bytes.append(char(pending * 16 + h));
                pending = -1;
            }
        }
        if (pending >= 0)
            return fail(start, QStringLiteral("data has an odd number of hexadecimal digits"));
        *out = Value(std::move(bytes));
        return true;
    }

    bool parseArray(int depth, Value* out)
    {
        const qsizetype start = m_i++;
        std::vector<Value> values;
        for (;;) {
            if (!skipSpaceAndComments())
                return false;
            if (m_i >= m_n)
                return fail(start, QStringLiteral("unterminated array"));
            if (m_s[m_i] == ')') {
                ++m_i;
                break;
            }
            values.emplace_back();
            if (!parseValue(depth + 1, &values.back()) || !skipSpaceAndComments())
                return false;
            if (m_i >= m_n)
                return fail(start, QStringLiteral("unterminated array"));
            if (m_s[m_i] == ',') {
                ++m_i;
            } else if (m_s[m_i] != ')') {
                return fail(m_i, QStringLiteral("unexpected '%1' in an array; expected ',' or ')'").arg(QChar(m_s[m_i])));
            }
        }
        *out = Value(std::make_shared<Array>(std::move(values)));
        return true;
    }

    bool parseDictionary(int depth, Value* out)
    {
        const qsizetype start = m_i++;
        auto dict = std::make_shared<Dictionary>();
        for (;;) {
            if (!skipSpaceAndComments())
                return false;
            if (m_i >= m_n)
                return fail(start, QStringLiteral("unterminated dictionary"));
            if (m_s[m_i] == '}') {
                ++m_i;
                break;
            }
            QString key;
            if (m_s[m_i] == '{' || m_s[m_i] == '(' || m_s[m_i] == '<')
                return fail(m_i, QStringLiteral("dictionary key is not a string"));
            if (!parseString(&key) || !expect('=', QStringLiteral("'=' after the key \"%1\"").arg(key.left(100))) || !skipSpaceAndComments())
                return false;
            Value value;
            if (!parseValue(depth + 1, &value) || !expect(';', QStringLiteral("';' after the value of \"%1\"").arg(key.left(100))))
                return false;
            dict->map().insert(key, std::move(value));
        }
        *out = Value(std::move(dict));
        return true;
    }

    QString m_text;
    const char16_t* m_s;
    qsizetype m_n;
    qsizetype m_i = 0;
    QString m_error;
};

} // namespace

Value readOpenStepPropertyList(const QByteArray& bytes, QString* error)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    // A U+FEFF after the byte-order mark is text, not another mark.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(view);
    if (decoder.hasError()) {
        if (error)
            *error = QStringLiteral("text property list: the text is not valid UTF-8");
        return Value();
    }
    OpenStepReader reader(std::move(text));
    return reader.read(error);
}

} // namespace platform
