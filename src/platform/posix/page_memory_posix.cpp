// POSIX page memory. Only POSIX code belongs in this file.
#include <sys/mman.h>

#include "platform/page_memory.h"

namespace mau {

void* ReserveRegion(size_t size) {
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return region == MAP_FAILED ? nullptr : region;
}

void ReleaseRegion(void* region, size_t size) {
  if (region != nullptr) munmap(region, size);
}

}  // namespace mau
