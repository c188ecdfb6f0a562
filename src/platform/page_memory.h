// Page-granular memory straight from the operating system (VirtualAlloc / mmap),
// used by the global page source of the binding layer's slot pools.
#pragma once

#include <cstddef>

namespace mau {

// Reserves and commits size bytes of read-write memory, aligned to at least 4096
// bytes. Returns nullptr on failure. [any-thread]
void* ReserveRegion(size_t size);

// Gives a region obtained from ReserveRegion back to the operating system.
void ReleaseRegion(void* region, size_t size);

}  // namespace mau
