// Handing memory that the program freed back to the system.
#pragma once

namespace platform {

// Sets the allocator up for this program, first thing in main(): with mimalloc, memory is
// taken from the system in 2 MB pages where the system allows them (transparent huge
// pages), so that the hundreds of megabytes a large library takes are not faulted in
// 4 KB at a time. Such memory is kept for reuse rather than handed back: the program's
// resident size stays near the most it has needed.
void prepareAllocator();

// Returns the free pages of the heap to the system, so that the memory a large piece of
// work freed (a library index read and turned into records) stops counting as the
// program's. Takes a few milliseconds; does nothing where the allocator cannot.
void releaseFreeMemory();

} // namespace platform
