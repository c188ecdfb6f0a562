// What the operating system holds for this process: its memory mappings, its resident
// memory and (on Windows) its heap blocks, for tests that a library unloads without
// leaving anything behind.
#pragma once

#include <cstddef>

namespace mau::test {

struct ProcessFootprint {
  size_t mappings = 0;       // POSIX: lines of /proc/self/maps; Windows: allocations
  size_t mappedBytes = 0;    // the size of all of them: neighbours merged still count
  size_t residentBytes = 0;  // resident set (POSIX), working set (Windows)
  // Windows: the bytes of busy blocks in the process's heaps, where the C runtime's malloc
  // takes its blocks. POSIX: 0; valgrind checks the heap there.
  size_t heapBytes = 0;
};

ProcessFootprint ReadProcessFootprint();

}  // namespace mau::test
