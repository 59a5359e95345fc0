// Setting the allocator up, and tidying the heap after large pieces of work.
#pragma once

#include "platform/Value.h"

#include <vector>

namespace platform {

// Sets the allocator up for this program, first thing in main(): with mimalloc, memory is
// taken from the system in 2 MB pages where the system allows them (transparent huge
// pages), so that the hundreds of megabytes a large library takes are not faulted in
// 4 KB at a time. Such memory is kept for reuse rather than handed back: the program's
// resident size stays near the most it has needed.
void prepareAllocator();

// Tidies the heap after a large piece of work freed much of what it made (a library let
// go of, an index read and turned into records). The system allocator hands its free
// pages back to the system. mimalloc, which keeps them, gathers the fully free ones, so
// that the next large piece of work is laid out in them in order rather than scattered
// over the holes the freed objects left (a library built scattered loads at half speed).
// Takes a few milliseconds at most.
void releaseFreeMemory();

// Lets go of many values a slice per turn of the main thread, the last ones first, from
// `afterMilliseconds` on (0: the first slice at once): dropping 100,000 references touches
// 100,000 objects rarely in the cache, and the work that let go of them (or the paint that
// follows it) should not wait for that.
void releaseValuesInSlices(std::vector<Value>&& values, int afterMilliseconds);

} // namespace platform
