#include "platform/JSONSerialization.h"

#include <QtCore/QLocale>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace platform {

namespace {

class JSONReader {
public:
    explicit JSONReader(const QString& text)
        : m_p(reinterpret_cast<const char16_t*>(text.constData())), m_end(m_p + text.size()), m_begin(m_p) {}

    Value read(QString* error)
    {
        if (m_p < m_end && *m_p == 0xFEFF)
            ++m_p;
        skipSpace();
        if (m_p >= m_end)
            return failed(error, QStringLiteral("no value"));
        if (*m_p != u'[' && *m_p != u'{')
            return failed(error, QStringLiteral("the text must begin with an array or an object"));
        Value value;
        if (!parseValue(0, &value))
            return failed(error, QString());
        skipSpace();
        if (m_p < m_end)
            return failed(error, QStringLiteral("unexpected text after the value"));
        return value;
    }

private:
    Value failed(QString* error, const QString& message)
    {
        if (!message.isEmpty())
            fail(message);
        if (error) {
            int line = 1;
            const char16_t* lineStart = m_begin;
            for (const char16_t* q = m_begin; q < m_errorAt && q < m_end; ++q) {
                if (*q == u'\n') {
                    ++line;
                    lineStart = q + 1;
                }
            }
            const qsizetype column = qsizetype(m_errorAt - lineStart) + 1;
            *error = QStringLiteral("JSON text, line %1, column %2: %3").arg(line).arg(column).arg(m_error);
        }
        return Value();
    }

    bool fail(const QString& message)
    {
        if (m_error.isEmpty()) {
            m_error = message;
            m_errorAt = m_p;
        }
        return false;
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == u' ' || *m_p == u'\t' || *m_p == u'\n' || *m_p == u'\r'))
            ++m_p;
    }

    bool literal(const char* word)
    {
        const char16_t* q = m_p;
        for (const char* w = word; *w; ++w, ++q)
            if (q >= m_end || *q != char16_t(*w))
                return false;
        m_p = q;
        return true;
    }

    bool parseValue(int depth, Value* out)
    {
        skipSpace();
        if (m_p >= m_end)
            return fail(QStringLiteral("unexpected end of the text, a value was expected"));
        const char16_t c = *m_p;
        if (c == u'{' || c == u'[') {
            if (depth >= kJSONMaxDepth)
                return fail(QStringLiteral("the text nests deeper than %1 levels").arg(kJSONMaxDepth));
            return c == u'{' ? parseObject(depth, out) : parseArray(depth, out);
        }
        if (c == u'"') {
            QString s;
            if (!parseString(&s))
                return false;
            *out = Value(std::move(s));
            return true;
        }
        if (c == u'-' || (c >= u'0' && c <= u'9'))
            return parseNumber(out);
        if (literal("true")) {
            *out = Value(true);
            return true;
        }
        if (literal("false")) {
            *out = Value(false);
            return true;
        }
        if (literal("null")) {
            *out = Value();
            return true;
        }
        return fail(QStringLiteral("unexpected character '%1', a value was expected").arg(QChar(c)));
    }

    bool parseObject(int depth, Value* out)
    {
        ++m_p; // {
        auto dict = Dictionary::make();
        skipSpace();
        if (m_p < m_end && *m_p == u'}') {
            ++m_p;
            *out = Value(dict);
            return true;
        }
        for (;;) {
            skipSpace();
            if (m_p >= m_end || *m_p != u'"')
                return fail(m_p >= m_end ? QStringLiteral("unexpected end of the text inside an object")
                                         : QStringLiteral("a key in double quotes was expected"));
            QString key;
            if (!parseString(&key))
                return false;
            skipSpace();
            if (m_p >= m_end || *m_p != u':')
                return fail(QStringLiteral("':' was expected after the key \"%1\"").arg(key.left(60)));
            ++m_p;
            Value value;
            if (!parseValue(depth + 1, &value))
                return false;
            dict->setValue(key, std::move(value));
            skipSpace();
            if (m_p < m_end && *m_p == u',') {
                ++m_p;
                continue;
            }
            if (m_p < m_end && *m_p == u'}') {
                ++m_p;
                *out = Value(dict);
                return true;
            }
            return fail(m_p >= m_end ? QStringLiteral("unexpected end of the text inside an object")
                                     : QStringLiteral("',' or '}' was expected"));
        }
    }

    bool parseArray(int depth, Value* out)
    {
        ++m_p; // [
        auto array = Array::make();
        skipSpace();
        if (m_p < m_end && *m_p == u']') {
            ++m_p;
            *out = Value(array);
            return true;
        }
        for (;;) {
            Value value;
            if (!parseValue(depth + 1, &value))
                return false;
            array->append(std::move(value));
            skipSpace();
            if (m_p < m_end && *m_p == u',') {
                ++m_p;
                continue;
            }
            if (m_p < m_end && *m_p == u']') {
                ++m_p;
                *out = Value(array);
                return true;
            }
            return fail(m_p >= m_end ? QStringLiteral("unexpected end of the text inside an array")
                                     : QStringLiteral("',' or ']' was expected"));
        }
    }

    int hex4(const char16_t* q)
    {
        if (m_end - q < 4)
            return -1;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const char16_t c = q[i];
            int d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                return -1;
            v = v * 16 + d;
        }
        return v;
    }

    bool parseString(QString* out)
    {
        ++m_p; // opening quote
        QString s;
        const char16_t* run = m_p;
        for (;;) {
            if (m_p >= m_end)
                return fail(QStringLiteral("unterminated string"));
            const char16_t c = *m_p;
            if (c == u'"') {
                s.append(reinterpret_cast<const QChar*>(run), m_p - run);
                ++m_p;
                *out = std::move(s);
                return true;
            }
            if (c < 0x20)
                return fail(QStringLiteral("a control character must be escaped inside a string"));
            if (c != u'\\') {
                ++m_p;
                continue;
            }
            s.append(reinterpret_cast<const QChar*>(run), m_p - run);
            ++m_p;
            if (m_p >= m_end)
                return fail(QStringLiteral("unterminated string"));
            const char16_t e = *m_p++;
            switch (e) {
            case u'"': s += QLatin1Char('"'); break;
            case u'\\': s += QLatin1Char('\\'); break;
            case u'/': s += QLatin1Char('/'); break;
            case u'b': s += QLatin1Char('\b'); break;
            case u'f': s += QLatin1Char('\f'); break;
            case u'n': s += QLatin1Char('\n'); break;
            case u'r': s += QLatin1Char('\r'); break;
            case u't': s += QLatin1Char('\t'); break;
            case u'u': {
                const int unit = hex4(m_p);
                if (unit < 0) {
                    --m_p;
                    return fail(QStringLiteral("\\u must be followed by four hexadecimal digits"));
                }
                m_p += 4;
                if (QChar::isHighSurrogate(uint(unit))) {
                    const int low = (m_end - m_p >= 6 && m_p[0] == u'\\' && m_p[1] == u'u') ? hex4(m_p + 2) : -1;
                    if (low < 0 || !QChar::isLowSurrogate(uint(low)))
                        return fail(QStringLiteral("an unpaired surrogate escape"));
                    m_p += 6;
                    s += QChar(char16_t(unit));
                    s += QChar(char16_t(low));
                } else if (QChar::isLowSurrogate(uint(unit))) {
                    return fail(QStringLiteral("an unpaired surrogate escape"));
                } else {
                    s += QChar(char16_t(unit));
                }
                break;
            }
            default:
                --m_p;
                return fail(QStringLiteral("unknown escape '\\%1'").arg(QChar(e)));
            }
            run = m_p;
        }
    }

    bool parseNumber(Value* out)
    {
        const char16_t* start = m_p;
        const auto digit = [&](const char16_t* q) { return q < m_end && *q >= u'0' && *q <= u'9'; };
        if (*m_p == u'-')
            ++m_p;
        if (!digit(m_p))
            return fail(QStringLiteral("a digit was expected"));
        if (*m_p == u'0') {
            ++m_p;
            if (digit(m_p))
                return fail(QStringLiteral("a number must not begin with 0"));
        } else {
            while (digit(m_p))
                ++m_p;
        }
        bool isReal = false;
        if (m_p < m_end && *m_p == u'.') {
            isReal = true;
            ++m_p;
            if (!digit(m_p))
                return fail(QStringLiteral("a digit was expected after the decimal point"));
            while (digit(m_p))
                ++m_p;
        }
        if (m_p < m_end && (*m_p == u'e' || *m_p == u'E')) {
            isReal = true;
            ++m_p;
            if (m_p < m_end && (*m_p == u'+' || *m_p == u'-'))
                ++m_p;
            if (!digit(m_p))
                return fail(QStringLiteral("a digit was expected in the exponent"));
            while (digit(m_p))
                ++m_p;
        }
        QByteArray number;
        number.reserve(m_p - start);
        for (const char16_t* q = start; q < m_p; ++q)
            number.append(char(*q));
        if (!isReal) {
            bool ok = false;
            const qlonglong v = number.toLongLong(&ok);
            if (ok) {
                *out = Value(static_cast<long long>(v));
                return true;
            }
            const qulonglong u = number.toULongLong(&ok);
            if (ok) {
                *out = Value(static_cast<unsigned long long>(u));
                return true;
            }
        }
        bool ok = false;
        const double d = number.toDouble(&ok);
        if (!ok || !std::isfinite(d)) {
            m_p = start;
            return fail(QStringLiteral("the number %1 is out of range").arg(QString::fromLatin1(number.left(40))));
        }
        *out = Value(d);
        return true;
    }

    const char16_t* m_p;
    const char16_t* m_end;
    const char16_t* m_begin;
    QString m_error;
    const char16_t* m_errorAt = nullptr;
};

class JSONWriter {
public:
    explicit JSONWriter(const JSONWriteOptions& options) : m_options(options) {}

    bool write(const Value& v, int depth)
    {
        switch (v.type()) {
        case Value::Type::Null:
            m_out += QLatin1String("null");
            return true;
        case Value::Type::Bool:
            m_out += v.boolean() ? QLatin1String("true") : QLatin1String("false");
            return true;
        case Value::Type::Integer:
            m_out += v.isUnsignedInteger() ? QString::number(v.unsignedInteger()) : QString::number(v.integer());
            return true;
        case Value::Type::Real: {
            const double d = v.real();
            if (!std::isfinite(d))
                return fail(QStringLiteral("the number %1 cannot be written as JSON").arg(d));
            QString text = QString::number(d, 'g', QLocale::FloatingPointShortest);
            // Keep a real number a real number when it is read back.
            if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
                text += QLatin1String(".0");
            m_out += text;
            return true;
        }
        case Value::Type::String:
            return writeString(v.string());
        case Value::Type::Array: {
            if (depth >= kJSONMaxDepth)
                return fail(QStringLiteral("the value nests deeper than %1 levels").arg(kJSONMaxDepth));
            const ArrayPtr array = v.array();
            if (array->isEmpty()) {
                m_out += QLatin1String("[]");
                return true;
            }
            m_out += QLatin1Char('[');
            for (qsizetype i = 0; i < array->count(); ++i) {
                if (i > 0)
                    m_out += QLatin1Char(',');
                newline(depth + 1);
                if (!write(array->at(i), depth + 1))
                    return false;
            }
            newline(depth);
            m_out += QLatin1Char(']');
            return true;
        }
        case Value::Type::Dictionary: {
            if (depth >= kJSONMaxDepth)
                return fail(QStringLiteral("the value nests deeper than %1 levels").arg(kJSONMaxDepth));
            const DictionaryPtr dict = v.dictionary();
            if (dict->isEmpty()) {
                m_out += QLatin1String("{}");
                return true;
            }
            m_out += QLatin1Char('{');
            QList<QString> keys = m_options.sortedKeys ? dict->sortedKeys() : dict->keys();
            bool first = true;
            for (const QString& key : keys) {
                if (!first)
                    m_out += QLatin1Char(',');
                first = false;
                newline(depth + 1);
                if (!writeString(key))
                    return false;
                m_out += m_options.prettyPrinted ? QLatin1String(" : ") : QLatin1String(":");
                if (!write(dict->value(key), depth + 1))
                    return false;
            }
            newline(depth);
            m_out += QLatin1Char('}');
            return true;
        }
        case Value::Type::Date:
            return fail(QStringLiteral("a date cannot be written as JSON"));
        case Value::Type::Data:
            return fail(QStringLiteral("data cannot be written as JSON"));
        case Value::Type::Object:
            return fail(QStringLiteral("the object %1 cannot be written as JSON").arg(v.description().left(60)));
        }
        return fail(QStringLiteral("unknown value"));
    }

    QString m_out;
    QString m_error;

private:
    bool fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    void newline(int level)
    {
        if (!m_options.prettyPrinted)
            return;
        m_out += QLatin1Char('\n');
        for (int i = 0; i < level; ++i)
            m_out += QLatin1String("  ");
    }

    bool writeString(const QString& s)
    {
        if (!s.isValidUtf16())
            return fail(QStringLiteral("the text \"%1\" is not valid Unicode").arg(s.left(60)));
        m_out += QLatin1Char('"');
        for (QChar c : s) {
            const char16_t u = c.unicode();
            switch (u) {
            case u'"': m_out += QLatin1String("\\\""); break;
            case u'\\': m_out += QLatin1String("\\\\"); break;
            case u'\n': m_out += QLatin1String("\\n"); break;
            case u'\r': m_out += QLatin1String("\\r"); break;
            case u'\t': m_out += QLatin1String("\\t"); break;
            case u'\b': m_out += QLatin1String("\\b"); break;
            case u'\f': m_out += QLatin1String("\\f"); break;
            case u'/':
                m_out += m_options.escapeSlashes ? QLatin1String("\\/") : QLatin1String("/");
                break;
            default:
                if (u < 0x20)
                    m_out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
                else
                    m_out += c;
            }
        }
        m_out += QLatin1Char('"');
        return true;
    }

    JSONWriteOptions m_options;
};

} // namespace

Value readJSON(const QString& text, QString* error)
{
    JSONReader reader(text);
    return reader.read(error);
}

bool writeJSON(const Value& value, const JSONWriteOptions& options, QString* getText, QString* error)
{
    JSONWriter writer(options);
    if (!writer.write(value, 0)) {
        if (error)
            *error = QStringLiteral("cannot write JSON: ") + writer.m_error;
        return false;
    }
    if (getText)
        *getText = std::move(writer.m_out);
    return true;
}

} // namespace platform
