// POSIX recursive lock. Only POSIX code belongs in this file.
#include <mutex>
#include <new>

#include "platform/recursive_lock.h"

namespace mau {

namespace {
std::recursive_mutex& Get(unsigned char* storage) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(storage));
}
}  // namespace

static_assert(sizeof(std::recursive_mutex) <= 64 &&
              alignof(std::recursive_mutex) <= alignof(void*));

RecursiveLock::RecursiveLock() { new (storage_) std::recursive_mutex(); }
RecursiveLock::~RecursiveLock() { Get(storage_).~recursive_mutex(); }
void RecursiveLock::lock() { Get(storage_).lock(); }
void RecursiveLock::unlock() { Get(storage_).unlock(); }
bool RecursiveLock::try_lock() { return Get(storage_).try_lock(); }

}  // namespace mau
