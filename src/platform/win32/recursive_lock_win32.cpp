// Win32 recursive lock over a critical section. Only Win32 code belongs in this file.
#include <windows.h>

#include "platform/recursive_lock.h"

namespace mau {

namespace {
CRITICAL_SECTION* Get(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= alignof(void*));

RecursiveLock::RecursiveLock() { InitializeCriticalSection(Get(storage_)); }
RecursiveLock::~RecursiveLock() { DeleteCriticalSection(Get(storage_)); }
void RecursiveLock::lock() { EnterCriticalSection(Get(storage_)); }
void RecursiveLock::unlock() { LeaveCriticalSection(Get(storage_)); }
bool RecursiveLock::try_lock() { return TryEnterCriticalSection(Get(storage_)) != 0; }

}  // namespace mau
