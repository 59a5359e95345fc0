// Hand-overs between threads that go through Qt's own locks (a job given to the thread
// pool, a queued call back to the main thread, QFuture::waitForFinished) are invisible to
// ThreadSanitizer, since Qt is not built with it: every write made before such a
// hand-over and read after it would read as a race. The two calls below name the
// hand-over instead: `handOver` where the giving thread lets go of the data, `takeOver`
// where the receiving thread starts on it, both with the same address. They cost nothing
// in other builds.
#pragma once

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

} // namespace platform
