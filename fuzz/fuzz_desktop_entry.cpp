// Desktop entries are written by any installed package: reading one must never fail badly.
#include "platform/Applications.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    platform::DesktopApplication app;
    if (platform::parseDesktopEntry(bytes, QStringLiteral("/fuzz/x.desktop"), QStringLiteral("x.desktop"), &app))
        (void)app.mimeTypes.size();
    return 0;
}
