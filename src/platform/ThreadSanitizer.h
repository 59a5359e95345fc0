// Hand-overs between threads that go through Qt's own locks (a job given to the thread
// pool, a queued call back to the main thread, QFuture::waitForFinished) are invisible to
// ThreadSanitizer, since Qt is not built with it: every write made before such a
// hand-over and read after it would read as a race. The calls below name the hand-over
// instead. They cost nothing in other builds.
//
// - `handOver(address)` where the giving thread lets go of data, `takeOver(address)` where
//   the receiving thread starts on it, when the receiver is known to come after the giver
//   (after a wait for the job, or with an object made completely before it is given).
// - A job whose carrier Qt builds itself (QtConcurrent::run, QMetaObject::invokeMethod):
//   the giver holds a `HandingOver` while it makes and gives the job, and the job's first
//   statement is `arrived()`; that orders everything the giver wrote, the carrier
//   included, before everything the job reads.
#pragma once

#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define PM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PM_THREAD_SANITIZER 1
#endif
#endif

#ifdef PM_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace platform {

inline void handOver(const void* address)
{
#ifdef PM_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(address));
#else
    (void)address;
#endif
}

inline void takeOver(const void* address)
{
#ifdef PM_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(address));
#else
    (void)address;
#endif
}

#ifdef PM_THREAD_SANITIZER
inline std::recursive_mutex& handOverGate()
{
    static std::recursive_mutex gate;
    return gate;
}

class HandingOver {
public:
    HandingOver() : m_lock(handOverGate()) {}

private:
    std::lock_guard<std::recursive_mutex> m_lock;
};

inline void arrived()
{
    std::lock_guard lock(handOverGate());
}
#else
class HandingOver {
public:
    HandingOver() {}
};

inline void arrived() {}
#endif

} // namespace platform
