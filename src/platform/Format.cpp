#include "platform/Format.h"

#include <cmath>

namespace platform {

long long FormatArg::asSigned() const
{
    switch (m_kind) {
    case Kind::Signed: return m_signed;
    case Kind::Unsigned:
    case Kind::Pointer: return (long long)m_unsigned;
    case Kind::Real: return std::isfinite(m_real) ? (long long)m_real : 0;
    case Kind::Text: return 0;
    }
    return 0;
}

unsigned long long FormatArg::asUnsigned() const
{
    switch (m_kind) {
    case Kind::Signed: return (unsigned long long)m_signed;
    case Kind::Unsigned:
    case Kind::Pointer: return m_unsigned;
    case Kind::Real: return std::isfinite(m_real) && m_real >= 0 ? (unsigned long long)m_real : 0;
    case Kind::Text: return 0;
    }
    return 0;
}

double FormatArg::asReal() const
{
    switch (m_kind) {
    case Kind::Signed: return double(m_signed);
    case Kind::Unsigned:
    case Kind::Pointer: return double(m_unsigned);
    case Kind::Real: return m_real;
    case Kind::Text: return 0.0;
    }
    return 0.0;
}

QString FormatArg::asText() const
{
    switch (m_kind) {
    case Kind::Signed: return QString::number(m_signed);
    case Kind::Unsigned: return QString::number(m_unsigned);
    case Kind::Pointer: return QStringLiteral("0x") + QString::number(m_unsigned, 16);
    case Kind::Real: return QString::number(m_real, 'g', QLocale::FloatingPointShortest);
    case Kind::Text: return m_text;
    }
    return {};
}

namespace {

bool isFlag(QChar c)
{
    return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0' || c == u'\'';
}

QString pad(const QString& text, const QString& flags, int width)
{
    if (width <= 0 || text.size() >= width)
        return text;
    const QString fill(width - text.size(), u' ');
    return flags.contains(u'-') ? text + fill : fill + text;
}

} // namespace

QString formatArgs(QStringView fmt, std::initializer_list<FormatArg> args)
{
    QString out;
    out.reserve(fmt.size() + 16 * qsizetype(args.size()));
    const FormatArg* next = args.begin();
    const FormatArg* const last = args.end();
    const qsizetype n = fmt.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = fmt[i];
        if (c != u'%') {
            out += c;
            ++i;
            continue;
        }
        const qsizetype start = i++;
        QString flags;
        while (i < n && isFlag(fmt[i]))
            flags += fmt[i++];
        int width = -1;
        if (i < n && fmt[i] == u'*') {
            width = next != last ? int(next++->asSigned()) : 0;
            ++i;
        } else {
            while (i < n && fmt[i].isDigit())
                width = std::max(width, 0) * 10 + (fmt[i++].unicode() - u'0');
        }
        int precision = -1;
        if (i < n && fmt[i] == u'.') {
            ++i;
            precision = 0;
            if (i < n && fmt[i] == u'*') {
                precision = next != last ? int(next++->asSigned()) : 0;
                ++i;
            } else {
                while (i < n && fmt[i].isDigit())
                    precision = precision * 10 + (fmt[i++].unicode() - u'0');
            }
        }
        // Length modifiers carry no meaning here: every argument knows its own type.
        while (i < n && (fmt[i] == u'l' || fmt[i] == u'h' || fmt[i] == u'q' || fmt[i] == u'L'
                         || fmt[i] == u'z' || fmt[i] == u't' || fmt[i] == u'j'))
            ++i;
        if (i >= n) {
            out += fmt.mid(start);
            break;
        }
        const QChar conv = fmt[i++];
        if (conv == u'%') {
            out += u'%';
            continue;
        }
        const FormatArg* arg = next != last ? next++ : nullptr;
        QByteArray spec = "%" + flags.toLatin1();
        if (width >= 0)
            spec += QByteArray::number(width);
        if (precision >= 0)
            spec += '.' + QByteArray::number(precision);
        switch (conv.unicode()) {
        case u'@':
        case u's':
        case u'S': {
            QString text = arg ? arg->asText() : QString();
            if (precision >= 0 && text.size() > precision)
                text.truncate(precision);
            out += pad(text, flags, width);
            break;
        }
        case u'd':
        case u'i':
            out += QString::asprintf((spec + "lld").constData(), arg ? arg->asSigned() : 0LL);
            break;
        case u'u':
        case u'x':
        case u'X':
        case u'o':
            out += QString::asprintf((spec + "ll" + char(conv.unicode())).constData(), arg ? arg->asUnsigned() : 0ULL);
            break;
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            out += QString::asprintf((spec + char(conv.unicode())).constData(), arg ? arg->asReal() : 0.0);
            break;
        case u'c':
        case u'C':
            out += pad(arg ? QString(QChar(char16_t(arg->asUnsigned()))) : QString(), flags, width);
            break;
        case u'p':
            out += QStringLiteral("0x") + QString::number(arg ? arg->asUnsigned() : 0ULL, 16);
            break;
        default:
            // Unknown conversion: keep the text as written.
            out += fmt.mid(start, i - start);
            if (arg)
                --next;
            break;
        }
    }
    return out;
}

} // namespace platform
