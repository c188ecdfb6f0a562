// Process-wide allocation hooks and the memory counters behind the host's memory
// statistics.
//
// Every heap block of the plug-in comes from HookAllocate and friends. Until someone
// installs hooks of their own, the first HookAllocate installs the counting hooks:
// they use the C runtime heap and keep six 64-bit counters that ReadMemoryCounters
// reports. Texts that the host must free are duplicated with HookDuplicateText.
//
//   void* block = mau::HookAllocate(64);
//   ...
//   mau::HookRelease(block);
//   mau::MemoryCounters c = mau::ReadMemoryCounters();  // c.allocationCount >= 1
#pragma once

#include <cstddef>
#include <cstdint>

namespace mau {

using AllocateHook = void* (*)(size_t size, void* context);
using ReleaseHook = void (*)(void* block, void* context);
using ReallocateHook = void* (*)(void* block, size_t size, void* context);
using DuplicateTextHook = char* (*)(const char* text, void* context);
using SizeOfHook = size_t (*)(void* block, void* context);

struct AllocationHooks {
  AllocateHook allocate = nullptr;
  ReleaseHook release = nullptr;
  ReallocateHook reallocate = nullptr;
  DuplicateTextHook duplicateText = nullptr;
  SizeOfHook sizeOf = nullptr;
  void* context = nullptr;
};

// Replaces all five hooks and the context at once and returns true. A hook left null
// falls back to the C runtime. Installing hooks this way also counts as the lazy
// installation, so the counting hooks never replace them later. Call it before other
// threads allocate; the hooks are plain process-wide pointers.
bool SetAllocationHooks(AllocateHook allocate, ReleaseHook release, ReallocateHook reallocate,
                        DuplicateTextHook duplicateText, SizeOfHook sizeOf, void* context);

// The hooks in force now (after lazy installation), so a test can put them back.
AllocationHooks CurrentAllocationHooks();

// The five counting hooks over the counter block that ReadMemoryCounters reads.
AllocationHooks CountingAllocationHooks();

// Entry points for all code. HookAllocate installs the counting hooks on first use;
// the other four do not. [any-thread]
void* HookAllocate(size_t size);
void HookRelease(void* block);
void* HookReallocate(void* block, size_t size);
char* HookDuplicateText(const char* text);
size_t HookSizeOf(void* block);

// Counters of the counting hooks. Sizes are the runtime's usable block sizes.
struct MemoryCounters {
  uint64_t peakBytesInUse = 0;
  uint64_t blocksInUseAtPeak = 0;
  uint64_t bytesAllocated = 0;
  uint64_t allocationCount = 0;
  uint64_t bytesReleased = 0;
  uint64_t releaseCount = 0;
};

// Reads the six counters one after another, each with one atomic load; the six reads
// together are not one snapshot. [any-thread]
MemoryCounters ReadMemoryCounters();

// Standard allocator over the hooks, for containers whose memory must be counted even
// where the global operator new is not routed through the hooks.
template <typename T>
struct HookAllocator {
  using value_type = T;
  HookAllocator() noexcept = default;
  template <typename U>
  HookAllocator(const HookAllocator<U>&) noexcept {}
  T* allocate(size_t n);
  void deallocate(T* p, size_t) noexcept { HookRelease(p); }
  template <typename U>
  bool operator==(const HookAllocator<U>&) const noexcept {
    return true;
  }
};

[[noreturn]] void ThrowAllocationFailure();

template <typename T>
T* HookAllocator<T>::allocate(size_t n) {
  if (n > SIZE_MAX / sizeof(T)) ThrowAllocationFailure();
  void* block = HookAllocate(n * sizeof(T));
  if (block == nullptr) ThrowAllocationFailure();
  return static_cast<T*>(block);
}

}  // namespace mau
