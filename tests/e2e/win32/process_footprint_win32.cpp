// The process footprint from the virtual memory map, the process's memory counters and
// its heaps. Only Win32 code belongs in this file.
#include <windows.h>

#include <psapi.h>

#include "process_footprint.h"

namespace mau::test {

ProcessFootprint ReadProcessFootprint() {
  ProcessFootprint footprint;
  // Each allocation (VirtualAlloc, a mapped image, a thread stack) counts once, however
  // many regions of different protection it spans.
  MEMORY_BASIC_INFORMATION info;
  const char* address = nullptr;
  void* lastBase = nullptr;
  while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
    if (info.State != MEM_FREE) {
      footprint.mappedBytes += info.RegionSize;
      if (info.AllocationBase != lastBase) ++footprint.mappings;
      lastBase = info.AllocationBase;
    }
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    footprint.residentBytes = counters.WorkingSetSize;
  }
  HANDLE heaps[256];
  const DWORD count = GetProcessHeaps(256, heaps);
  for (DWORD i = 0; i < count && i < 256; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) footprint.heapBytes += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return footprint;
}

}  // namespace mau::test
