// The mount-table parser over arbitrary bytes: it must skip what it cannot read.
#include "platform/Volumes.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::vector<platform::MountEntry> entries = platform::parseMountInfo(bytes, &error);
    for (const platform::MountEntry& e : entries)
        (void)e.mountPoint.size();
    (void)platform::unescapeMountInfoField(QByteArrayView(bytes));
    return 0;
}
