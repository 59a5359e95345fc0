// Hand-overs between threads that go through Qt's own locks (a job given to the thread
// pool, a queued call back to the main thread, QFuture::waitForFinished) are invisible to
// ThreadSanitizer, since Qt is not built with it: every write made before such a
// hand-over and read after it would read as a race. The calls below name the hand-over
// instead. They cost nothing in other builds.
//
// - `handOver(address)` where the giving thread lets go of data, `takeOver(address)` where
//   the receiving thread starts on it, when the receiver is known to come after the giver
//   (after a wait for the job, or with an object made completely before it is given).
// - `carried(job)` for a job whose carrier Qt builds and runs itself (QThreadPool::start,
//   QtConcurrent::run, a queued QMetaObject::invokeMethod): the wrapper hands itself over
//   where it is made, copied or moved, and every touch of it on the receiving side (its
//   call, the copy a carrier may take before calling it, its destruction, also when the
//   call never comes) first takes it over at the same address. The ordering is the job's
//   own: it says nothing of other threads, so it cannot hide a race elsewhere.
#pragma once

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

template <class F>
class Carried {
public:
    explicit Carried(F f) : m_f(std::move(f)) { handOver(this); }
    Carried(const Carried& other) : m_f((takeOver(&other), other.m_f)) { handOver(this); }
    Carried(Carried&& other) noexcept(std::is_nothrow_move_constructible_v<F>) : m_f((takeOver(&other), std::move(other.m_f))) { handOver(this); }
    Carried& operator=(const Carried&) = delete;
    Carried& operator=(Carried&&) = delete;
    ~Carried() { takeOver(this); }
    template <class... Args>
    decltype(auto) operator()(Args&&... args)
    {
        takeOver(this);
        return m_f(std::forward<Args>(args)...);
    }
    template <class... Args>
    decltype(auto) operator()(Args&&... args) const
    {
        takeOver(this);
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
