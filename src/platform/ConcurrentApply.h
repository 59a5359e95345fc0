// Concurrent enumeration: runs a job for each index from 0 to count - 1 on the shared
// thread pool and the calling thread together, and returns when every index has run. The
// caller takes part, so a call from a pool thread never waits for a free thread. Writes
// made before the call are seen by every job; writes made by the jobs are seen after it.
#pragma once

#include <cstddef>
#include <functional>

namespace platform {

void concurrentApply(std::size_t count, const std::function<void(std::size_t index)>& job);

} // namespace platform
