// The process footprint from the virtual memory map and the process's memory counters.
// Only Win32 code belongs in this file.
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
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters)) {
    footprint.residentBytes = counters.PrivateUsage;
  }
  return footprint;
}

}  // namespace mau::test
