// Formatted strings in the program's format language: the printf conversions plus "%@"
// for the description of a value or object. Arguments are type-erased into `FormatArg`
// so that the formatting itself is one ordinary function.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Real, Text, Pointer };
    FormatArg(int v) : m_kind(Kind::Signed), m_signed(v) {}
    FormatArg(long v) : m_kind(Kind::Signed), m_signed(v) {}
    FormatArg(long long v) : m_kind(Kind::Signed), m_signed(v) {}
    FormatArg(unsigned v) : m_kind(Kind::Unsigned), m_unsigned(v) {}
    FormatArg(unsigned long v) : m_kind(Kind::Unsigned), m_unsigned(v) {}
    FormatArg(unsigned long long v) : m_kind(Kind::Unsigned), m_unsigned(v) {}
    FormatArg(char v) : m_kind(Kind::Signed), m_signed(v) {}
    FormatArg(bool v) : m_kind(Kind::Signed), m_signed(v ? 1 : 0) {}
    FormatArg(double v) : m_kind(Kind::Real), m_real(v) {}
    FormatArg(float v) : m_kind(Kind::Real), m_real(v) {}
    FormatArg(const QString& s) : m_kind(Kind::Text), m_text(s) {}
    FormatArg(const char* s) : m_kind(Kind::Text), m_text(s ? QString::fromUtf8(s) : QStringLiteral("(null)")) {}
    FormatArg(const std::string& s) : m_kind(Kind::Text), m_text(QString::fromStdString(s)) {}
    FormatArg(QLatin1StringView s) : m_kind(Kind::Text), m_text(s) {}
    FormatArg(QStringView s) : m_kind(Kind::Text), m_text(s.toString()) {}
    FormatArg(const Value& v) : m_kind(Kind::Text), m_text(v.isNull() ? QStringLiteral("(null)") : v.description()) {}
    FormatArg(const Object* o) : m_kind(Kind::Text), m_text(o ? o->description() : QStringLiteral("(null)")) {}
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    FormatArg(const std::shared_ptr<T>& o) : FormatArg(static_cast<const Object*>(o.get())) {}
    FormatArg(const void* p) : m_kind(Kind::Pointer), m_unsigned(quintptr(p)) {}

    Kind kind() const { return m_kind; }
    long long asSigned() const;
    unsigned long long asUnsigned() const;
    double asReal() const;
    QString asText() const;

private:
    Kind m_kind;
    long long m_signed = 0;
    unsigned long long m_unsigned = 0;
    double m_real = 0.0;
    QString m_text;
};

// Formats in the C locale. Missing arguments format as empty; surplus ones are ignored.
QString formatArgs(QStringView format, std::initializer_list<FormatArg> args);

template <class... Args>
QString format(QStringView fmt, const Args&... args)
{
    return formatArgs(fmt, {FormatArg(args)...});
}
template <class... Args>
QString format(const char* fmt, const Args&... args)
{
    return formatArgs(QString::fromUtf8(fmt), {FormatArg(args)...});
}

} // namespace platform
