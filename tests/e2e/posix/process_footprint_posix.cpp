// The process footprint from /proc. Only POSIX (Linux) code belongs in this file.
#include <unistd.h>

#include <fstream>
#include <string>

#include "process_footprint.h"

namespace mau::test {

ProcessFootprint ReadProcessFootprint() {
  ProcessFootprint footprint;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    ++footprint.mappings;
    // "start-end perms ...", in hexadecimal.
    size_t dash = 0;
    const unsigned long long start = std::stoull(line, &dash, 16);
    const unsigned long long end = std::stoull(line.substr(dash + 1), nullptr, 16);
    footprint.mappedBytes += static_cast<size_t>(end - start);
  }
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  size_t resident = 0;
  statm >> pages >> resident;
  footprint.residentBytes = resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return footprint;
}

}  // namespace mau::test
