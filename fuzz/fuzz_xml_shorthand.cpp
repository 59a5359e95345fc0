// The XML shorthand reader: dictionary members without their wrappers.
#include "PropertyListFuzzing.h"
#include "foundation/PMLSONSerialization.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QString text = QStringLiteral("<key>") + QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
    QString error;
    const platform::Value value = PMLSONSerialization::objectWithData(text.toUtf8(), text, &format, &error);
    if (value.isNull()) {
        if (error.isEmpty())
            __builtin_trap(); // a failure always says why
        return 0;
    }
    // What the shorthand reads, the shorthand writer writes and the reader reads back (a
    // NaN read as one counts as the same, though it equals no number).
    const std::optional<QString> written = PMLSONSerialization::XMLStringWithObject(value, true);
    if (written && !plistfuzz::same(PMLSONSerialization::objectWithString(*written, nullptr, nullptr), value, false))
        __builtin_trap();
    return 0;
}
