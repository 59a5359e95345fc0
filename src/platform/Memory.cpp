#include "platform/Memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(PELLIS_WITH_MIMALLOC)
#include <mimalloc.h>
#endif

namespace platform {

void prepareAllocator()
{
#if defined(PELLIS_WITH_MIMALLOC)
    // Where neither explicit huge pages nor transparent ones are available, mimalloc
    // falls back to ordinary pages by itself.
    mi_option_enable(mi_option_large_os_pages);
#endif
}

void releaseFreeMemory()
{
#if defined(PELLIS_WITH_MIMALLOC)
    mi_collect(true);
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace platform
