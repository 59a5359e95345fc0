// The JSON shorthand reader: comma insertion on arbitrary text, then the JSON reader.
#include "foundation/PMLSONSerialization.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString json = PMLSONSerialization::JSONStringFromLSONString(text);
    const QString lson = PMLSONSerialization::LSONStringFromJSONString(json);
    // Putting commas in twice changes nothing more; taking them out and putting them back
    // gives the same text, but for where a comma stands among blanks.
    if (PMLSONSerialization::JSONStringFromLSONString(json) != json)
        __builtin_trap();
    const auto squeezed = [](QString s) {
        s.removeIf([](QChar c) { return c.isSpace(); });
        return s;
    };
    if (squeezed(PMLSONSerialization::JSONStringFromLSONString(lson)) != squeezed(json))
        __builtin_trap();
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
    QString error;
    const platform::Value value = PMLSONSerialization::objectWithJSONString(QLatin1Char('"') + text, nullptr, &format, &error);
    if (value.isNull() && error.isEmpty())
        __builtin_trap(); // a failure always says why
    objectValueFromString(text, &format);
    return 0;
}
