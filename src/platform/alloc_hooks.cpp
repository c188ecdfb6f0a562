#include "platform/alloc_hooks.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/runtime_heap.h"

namespace mau {

namespace {

struct CounterBlock {
  std::atomic<uint64_t> peakBytesInUse{0};
  std::atomic<uint64_t> blocksInUseAtPeak{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> allocationCount{0};
  std::atomic<uint64_t> bytesReleased{0};
  std::atomic<uint64_t> releaseCount{0};
};

// Constant-initialised: usable before any static constructor has run.
constinit CounterBlock g_counters;
constinit AllocationHooks g_hooks;
constinit std::atomic<bool> g_installed{false};

void Add(std::atomic<uint64_t>& counter, uint64_t amount) {
  uint64_t seen = counter.load(std::memory_order_relaxed);
  while (!counter.compare_exchange_weak(seen, seen + amount, std::memory_order_relaxed)) {
  }
}

// Raises the peak when the bytes in use exceed it. The comparison and the two stores
// are not one atomic step: concurrent allocations may record a slightly stale pair.
void UpdatePeak(CounterBlock& c) {
  const uint64_t inUse = c.bytesAllocated.load() - c.bytesReleased.load();
  if (inUse > c.peakBytesInUse.load()) {
    c.peakBytesInUse.store(inUse);
    c.blocksInUseAtPeak.store(c.allocationCount.load() - c.releaseCount.load());
  }
}

void* CountingAllocate(size_t size, void* context) {
  auto& c = *static_cast<CounterBlock*>(context);
  void* block = std::malloc(size);
  Add(c.bytesAllocated, HookSizeOf(block));
  Add(c.allocationCount, 1);
  UpdatePeak(c);
  return block;
}

void CountingRelease(void* block, void* context) {
  if (block == nullptr) return;
  auto& c = *static_cast<CounterBlock*>(context);
  const size_t size = HookSizeOf(block);
  std::free(block);
  Add(c.bytesReleased, size);
  Add(c.releaseCount, 1);
}

void* CountingReallocate(void* block, size_t size, void* context) {
  auto& c = *static_cast<CounterBlock*>(context);
  const size_t oldSize = HookSizeOf(block);
  void* grown = std::realloc(block, size);
  Add(c.bytesReleased, oldSize);
  Add(c.releaseCount, 1);
  Add(c.bytesAllocated, HookSizeOf(grown));
  Add(c.allocationCount, 1);
  UpdatePeak(c);
  return grown;
}

char* CountingDuplicateText(const char* text, void* context) {
  auto& c = *static_cast<CounterBlock*>(context);
  char* copy = RuntimeDuplicateText(text);
  // A failed duplication yields null, which counts zero bytes.
  Add(c.bytesAllocated, HookSizeOf(copy));
  Add(c.allocationCount, 1);
  UpdatePeak(c);
  return copy;
}

size_t CountingSizeOf(void* block, void*) { return RuntimeUsableSize(block); }

void InstallCountingHooks() {
  bool expected = false;
  if (!g_installed.compare_exchange_strong(expected, true)) return;
  g_counters.peakBytesInUse = 0;
  g_counters.blocksInUseAtPeak = 0;
  g_counters.bytesAllocated = 0;
  g_counters.allocationCount = 0;
  g_counters.bytesReleased = 0;
  g_counters.releaseCount = 0;
  g_hooks = CountingAllocationHooks();
}

}  // namespace

bool SetAllocationHooks(AllocateHook allocate, ReleaseHook release, ReallocateHook reallocate,
                        DuplicateTextHook duplicateText, SizeOfHook sizeOf, void* context) {
  g_installed.store(true);
  g_hooks = AllocationHooks{allocate, release, reallocate, duplicateText, sizeOf, context};
  return true;
}

AllocationHooks CurrentAllocationHooks() {
  if (!g_installed.load(std::memory_order_acquire)) InstallCountingHooks();
  return g_hooks;
}

AllocationHooks CountingAllocationHooks() {
  return AllocationHooks{CountingAllocate,      CountingRelease, CountingReallocate,
                         CountingDuplicateText, CountingSizeOf,  &g_counters};
}

void* HookAllocate(size_t size) {
  if (!g_installed.load(std::memory_order_acquire)) InstallCountingHooks();
  return g_hooks.allocate != nullptr ? g_hooks.allocate(size, g_hooks.context) : std::malloc(size);
}

void HookRelease(void* block) {
  if (g_hooks.release != nullptr) {
    g_hooks.release(block, g_hooks.context);
  } else {
    std::free(block);
  }
}

void* HookReallocate(void* block, size_t size) {
  return g_hooks.reallocate != nullptr ? g_hooks.reallocate(block, size, g_hooks.context)
                                       : std::realloc(block, size);
}

char* HookDuplicateText(const char* text) {
  return g_hooks.duplicateText != nullptr ? g_hooks.duplicateText(text, g_hooks.context)
                                          : RuntimeDuplicateText(text);
}

size_t HookSizeOf(void* block) {
  return g_hooks.sizeOf != nullptr ? g_hooks.sizeOf(block, g_hooks.context)
                                   : RuntimeUsableSize(block);
}

MemoryCounters ReadMemoryCounters() {
  MemoryCounters out;
  out.peakBytesInUse = g_counters.peakBytesInUse.load();
  out.blocksInUseAtPeak = g_counters.blocksInUseAtPeak.load();
  out.bytesAllocated = g_counters.bytesAllocated.load();
  out.allocationCount = g_counters.allocationCount.load();
  out.bytesReleased = g_counters.bytesReleased.load();
  out.releaseCount = g_counters.releaseCount.load();
  return out;
}

void ThrowAllocationFailure() { throw std::bad_alloc(); }

}  // namespace mau
