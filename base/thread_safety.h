// Clang's thread-safety annotations, and a mutex the analysis understands.
//
// The standard library's mutexes carry no capability attribute, so state is
// guarded by kelvarn::Mutex and locked with kelvarn::MutexLock. Built with
// Clang and -Wthread-safety (the "clang" preset), touching a GUARDED_BY member
// without its mutex, or calling a REQUIRES function without it, is an error;
// other compilers see empty macros.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KELVARN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KELVARN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KELVARN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KELVARN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KELVARN_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KELVARN_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) KELVARN_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define REQUIRES(...) KELVARN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) KELVARN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KELVARN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KELVARN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KELVARN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) KELVARN_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KELVARN_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace kelvarn {

// std::mutex as a capability. Waiting on a condition goes through Wait and
// WaitFor, which the analysis sees as holding the mutex throughout.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

  // Waits on `condition` until `done` holds; the mutex must be held.
  template <class Predicate>
  void Wait(std::condition_variable& condition, Predicate done) REQUIRES(this) {
    std::unique_lock lock(mutex_, std::adopt_lock);
    condition.wait(lock, done);
    lock.release();
  }
  // The same for at most `timeout`; returns done().
  template <class Duration, class Predicate>
  bool WaitFor(std::condition_variable& condition, Duration timeout, Predicate done) REQUIRES(this) {
    std::unique_lock lock(mutex_, std::adopt_lock);
    const bool result = condition.wait_for(lock, timeout, done);
    lock.release();
    return result;
  }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace kelvarn
