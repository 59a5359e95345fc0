// Bookmark data comes from the library index: reading it must refuse what is not a bookmark.
#include "platform/Bookmark.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    platform::Bookmark bookmark;
    QString error;
    if (platform::Bookmark::fromData(bytes, &bookmark, &error)) {
        platform::Bookmark again;
        if (!platform::Bookmark::fromData(bookmark.toData(), &again) || again.path != bookmark.path || again.inode != bookmark.inode)
            __builtin_trap();
    }
    return 0;
}
