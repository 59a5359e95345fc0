#include "platform/Memory.h"

#include "platform/Queues.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>

#include <memory>

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

void releaseValuesInSlices(std::vector<Value>&& values, int afterMilliseconds)
{
    constexpr std::size_t kPerTurn = 4096;
    if (values.empty())
        return;
    auto held = std::make_shared<std::vector<Value>>(std::move(values));
    auto release = [held] {
        dispatchSlicesOnMain(held->size(), kPerTurn, [held](std::size_t begin, std::size_t end) {
            held->erase(held->end() - std::ptrdiff_t(end - begin), held->end());
        });
    };
    if (afterMilliseconds <= 0 || !QCoreApplication::instance())
        release();
    else
        QTimer::singleShot(afterMilliseconds, QCoreApplication::instance(), std::move(release));
}

} // namespace platform
