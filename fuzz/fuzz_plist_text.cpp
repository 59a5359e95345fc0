// The reader of all four text formats with their detection, as stored settings such as
// the viewer rules are read.
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
    const platform::Value value = PMLSONSerialization::objectWithString(text, &format, &error);
    if (value.isNull() != (format == PMJSONTextViewFormatNone))
        __builtin_trap(); // a format exactly when something was read
    if (value.isNull() && !text.trimmed().isEmpty() && error.isEmpty())
        __builtin_trap();
    if (!value.isNull()) {
        PMLSONSerialization::XMLStringWithObject(value, format == PMJSONTextViewFormatXMLShorthand);
        PMLSONSerialization::JSONStringWithObject(value, true, true);
    }
    return 0;
}
