#include "platform/Memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void releaseFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace platform
