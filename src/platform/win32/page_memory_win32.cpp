// Win32 page memory. Only Win32 code belongs in this file.
#include <windows.h>

#include "platform/page_memory.h"

namespace mau {

void* ReserveRegion(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseRegion(void* region, size_t /*size*/) {
  if (region != nullptr) VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace mau
