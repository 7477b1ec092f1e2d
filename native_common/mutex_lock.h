// An unnamed mutex, locked without time limit. It is recursive, as the
// original design's mutex is: a thread that holds it may take it again (a
// request handler running under a link's lock may call back into the link).
// Usable with std::lock_guard / std::unique_lock.
#pragma once

#include <mutex>

namespace sorvel {

class MutexLock {
 public:
  MutexLock() = default;
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  bool TryLock() { return mutex_.try_lock(); }

  void lock() { Lock(); }
  void unlock() { Unlock(); }
  bool try_lock() { return TryLock(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace sorvel
