// A recursive lock: a critical section on Windows, a recursive mutex elsewhere. It
// meets the Lockable requirements, so std::lock_guard and std::unique_lock work on it.
#pragma once

#include <cstddef>

namespace mau {

class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock();
  void unlock();
  bool try_lock();

 private:
  // Holds the platform's lock object; each platform file checks that it fits.
  alignas(void*) unsigned char storage_[64];
};

}  // namespace mau
