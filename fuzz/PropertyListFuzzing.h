// Shared by the property-list fuzz targets: whatever a reader accepts must survive a
// round trip through the binary writer and reader unchanged (and through the XML
// writer and reader whenever XML can hold it).
#pragma once

#include "platform/PropertyList.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace plistfuzz {

// Strict equality: same kinds, NaN equal to NaN, dates compared at whole seconds
// when `wholeSecondDates` (XML keeps no fractions).
inline bool same(const platform::Value& a, const platform::Value& b, bool wholeSecondDates)
{
    using platform::Value;
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case Value::Type::Integer:
        return a.isUnsignedInteger() == b.isUnsignedInteger() && a.integer() == b.integer();
    case Value::Type::Real:
        return (std::isnan(a.real()) && std::isnan(b.real())) || (std::signbit(a.real()) == std::signbit(b.real()) && a.real() == b.real());
    case Value::Type::Date:
        if (wholeSecondDates)
            return std::floor(a.date().secondsSince1970) == std::floor(b.date().secondsSince1970);
        return a.date() == b.date() || (std::isnan(a.date().secondsSince1970) && std::isnan(b.date().secondsSince1970));
    case Value::Type::Array: {
        const auto x = a.array(), y = b.array();
        if (x->count() != y->count())
            return false;
        for (qsizetype i = 0; i < x->count(); ++i)
            if (!same(x->at(i), y->at(i), wholeSecondDates))
                return false;
        return true;
    }
    case Value::Type::Dictionary: {
        const auto x = a.dictionary(), y = b.dictionary();
        if (x->count() != y->count())
            return false;
        for (auto it = x->begin(); it != x->end(); ++it) {
            const Value* other = y->find(it.key());
            if (!other || !same(it.value(), *other, wholeSecondDates))
                return false;
        }
        return true;
    }
    default:
        return a == b;
    }
}

[[noreturn]] inline void failed(const char* what, const QString& error)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(error));
    std::abort();
}

inline void checkRoundTrip(const platform::Value& value, const QString& error)
{
    if (value.isNull()) {
        if (error.isEmpty())
            failed("reader failed without an error text", error);
        return;
    }
    if (!error.isEmpty())
        failed("reader answered a value and an error", error);
    QString message;
    const QByteArray binary = platform::writeBinaryPropertyList(value, &message);
    if (binary.isEmpty())
        failed("binary writer refused what a reader accepted", message);
    const platform::Value again = platform::readBinaryPropertyList(binary, &message);
    if (again.isNull())
        failed("binary reader refused what the binary writer wrote", message);
    if (!same(value, again, false))
        failed("binary round trip changed the value", value.description());
    const QByteArray xml = platform::writeXMLPropertyList(value, &message);
    if (xml.isEmpty())
        return; // characters or dates XML cannot hold
    const platform::Value fromXml = platform::readXMLPropertyList(xml, &message);
    if (fromXml.isNull())
        failed("XML reader refused what the XML writer wrote", message);
    if (!same(value, fromXml, true))
        failed("XML round trip changed the value", value.description());
}

} // namespace plistfuzz
