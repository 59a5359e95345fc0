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
// - `carried(job)` wraps such a job so that every touch of it on the receiving side comes
//   after `arrived()`: its call, the copy a carrier may take before calling it, and its
//   destruction (also when the call never comes, as with a queued call dropped when its
//   receiver goes).
#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

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

template <class F>
class Carried {
public:
    explicit Carried(F f) : m_f(std::move(f)) {}
    Carried(const Carried& other) : m_f((arrived(), other.m_f)) {}
    Carried(Carried&& other) noexcept(std::is_nothrow_move_constructible_v<F>) : m_f((arrived(), std::move(other.m_f))) {}
    Carried& operator=(const Carried&) = delete;
    Carried& operator=(Carried&&) = delete;
    ~Carried() { arrived(); }
    template <class... Args>
    decltype(auto) operator()(Args&&... args)
    {
        arrived();
        return m_f(std::forward<Args>(args)...);
    }
    template <class... Args>
    decltype(auto) operator()(Args&&... args) const
    {
        arrived();
        return m_f(std::forward<Args>(args)...);
    }

private:
    F m_f;
};

template <class F>
Carried<std::decay_t<F>> carried(F&& f)
{
    return Carried<std::decay_t<F>>(std::forward<F>(f));
}

} // namespace platform
