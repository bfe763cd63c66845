// Mutex and MutexLock: a mutex that Clang's thread-safety analysis knows, so that members shared with a thread
// can say which mutex guards them (GUARDED_BY) and functions which mutex they need held (REQUIRES), and a build
// with -Wthread-safety finds every access without it. Other compilers see plain std::mutex and no annotations.
#ifndef LABELER_COMMON_MUTEX_H_
#define LABELER_COMMON_MUTEX_H_

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define LABELER_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LABELER_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) LABELER_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY LABELER_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) LABELER_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) LABELER_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) LABELER_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) LABELER_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) LABELER_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

namespace labeler {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex from construction to destruction or Unlock, but while it waits on a condition (the predicate runs
// with the mutex held, and says so with REQUIRES).
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() {
    mutex_.unlock();
    held_ = false;
  }
  template <typename Predicate>
  void Wait(std::condition_variable_any& condition, Predicate until) {
    condition.wait(mutex_, until);
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

}  // namespace labeler

#endif  // LABELER_COMMON_MUTEX_H_
