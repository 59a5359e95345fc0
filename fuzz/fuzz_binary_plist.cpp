// Reads the input with readBinaryPropertyList; whatever it accepts must survive the writers.
#include "PropertyListFuzzing.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const platform::Value value = platform::readBinaryPropertyList(bytes, &error);
    plistfuzz::checkRoundTrip(value, error);
    return 0;
}
