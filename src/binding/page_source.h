// The process-wide source of 4096-byte pages for the slot pools of value contexts.
//
// Pages come from 64 KiB regions of read-write memory reserved from the operating system
// (VirtualAlloc / mmap through ReserveRegion), each split into 16 pages. A page given back
// returns to its region. A region whose 16 pages are all back stays in reserve while fewer
// than 128 regions (8 MiB) are kept so, and is released to the operating system otherwise:
// value trees of a few megabytes built and dropped in a loop (a large document read again
// and again) then cost no system call and no page fault, which on a virtual machine is
// most of the cost of the fresh memory. When the program ends or the library that holds
// this code is unloaded, the reserve is released, and each region with it once its last
// page is back.
// Pages are taken from partly used regions first, then from the reserve. One mutex guards
// the source; every function here is [any-thread].
#pragma once

#include <cstddef>

namespace mau {

inline constexpr size_t kSlotPageSize = 4096;
inline constexpr size_t kPageRegionSize = 64 * 1024;
inline constexpr size_t kPagesPerRegion = kPageRegionSize / kSlotPageSize;
inline constexpr size_t kReservedPageRegions = 128;  // empty regions kept at most

// A 4096-byte page aligned to 4096 bytes, or nullptr when the operating system refuses
// memory. The page's content is unspecified.
void* TakeSlotPage() noexcept;

// Gives back a page obtained from TakeSlotPage.
void GiveSlotPage(void* page) noexcept;

struct PageSourceStats {
  size_t regions = 0;       // regions reserved from the operating system now
  size_t freePages = 0;     // pages of those regions that nobody holds
  size_t emptyRegions = 0;  // regions with every page free: the reserve
};

PageSourceStats ReadPageSourceStats() noexcept;

}  // namespace mau
