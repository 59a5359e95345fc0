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
    // One range of address space for the heap, whose freed pages stay with the program:
    // a library that is loaded again (another library chosen, the same one reverted) is
    // built in pages that are already there, not in new ones the system must clear first.
    // Nothing is resident until it is used; past it, memory comes from the system as usual.
    (void)mi_reserve_os_memory(size_t(1) << 30, true, true);
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
