// The JSON reader of the property-list text converter: whatever it reads must write
// back as JSON and JSON shorthand and read back the same.
#include "foundation/PMLSONSerialization.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
    QString error;
    const platform::Value value = PMLSONSerialization::objectWithJSONString(text, nullptr, &format, &error);
    if (value.isNull())
        return 0;
    for (const bool shorthand : {false, true}) {
        const std::optional<QString> written = PMLSONSerialization::JSONStringWithObject(value, shorthand, shorthand);
        if (!written)
            __builtin_trap(); // everything JSON reads, JSON can write
        if (written->trimmed().isEmpty())
            continue; // an empty dictionary in shorthand
        PMJSONTextViewFormat again = PMJSONTextViewFormatNone;
        if (PMLSONSerialization::objectWithString(*written, &again, nullptr) != value)
            __builtin_trap();
    }
    return 0;
}
