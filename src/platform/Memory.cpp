#include "platform/Memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(PELLIS_WITH_MIMALLOC)
#include <mimalloc.h>
#include <sys/mman.h>

#include <cstdint>
#endif

namespace platform {

void prepareAllocator()
{
#if defined(PELLIS_WITH_MIMALLOC)
    // One range of address space for the heap, asked to be backed by 2 MB pages where the
    // system has transparent huge pages. It is handed to mimalloc as neither committed nor
    // pinned: memory freed in it (the pictures of a long scroll, a library let go of) goes
    // back to the system a moment later, where a range reserved as committed, or as huge
    // pages, would keep every page the heap ever touched. Nothing is resident until it is
    // used; past it, memory comes from the system as usual.
    constexpr std::size_t size = std::size_t(1) << 30;
    constexpr std::size_t alignment = std::size_t(64) << 20; // beyond mimalloc's segment alignment
    void* mapped = mmap(nullptr, size + alignment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED)
        return;
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = (begin + alignment - 1) & ~std::uintptr_t(alignment - 1);
    if (start > begin)
        munmap(mapped, start - begin);
    if (const std::size_t tail = begin + size + alignment - (start + size); tail > 0)
        munmap(reinterpret_cast<void*>(start + size), tail);
    (void)madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
    if (!mi_manage_os_memory(reinterpret_cast<void*>(start), size, false, false, true, -1))
        munmap(reinterpret_cast<void*>(start), size);
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
