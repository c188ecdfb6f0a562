// What the operating system holds for this process: its memory mappings and its resident
// memory, for tests that a library unloads without leaving anything behind.
#pragma once

#include <cstddef>

namespace mau::test {

struct ProcessFootprint {
  size_t mappings = 0;       // POSIX: lines of /proc/self/maps; Windows: allocated regions
  size_t mappedBytes = 0;    // the size of all of them: neighbours merged still count
  size_t residentBytes = 0;  // POSIX: resident set; Windows: private committed bytes
};

ProcessFootprint ReadProcessFootprint();

}  // namespace mau::test
