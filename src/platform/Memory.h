// Handing memory that the program freed back to the system.
#pragma once

namespace platform {

// Returns the free pages of the heap to the system, so that the memory a large piece of
// work freed (a library index read and turned into records) stops counting as the
// program's. Takes a few milliseconds; does nothing where the allocator cannot.
void releaseFreeMemory();

} // namespace platform
