#include "binding/page_source.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>

#include "platform/page_memory.h"

namespace mau {
namespace {

// Bookkeeping of one region. Pages find their region through the by-address index:
// regions are 4096-byte aligned but not necessarily 64 KiB aligned, so the address of a
// page alone does not tell its region's start.
struct Region {
  uintptr_t base = 0;
  uint16_t freeMask = 0;   // bit i set: page i is free
  Region* prev = nullptr;  // in the list of partly used or of empty regions
  Region* next = nullptr;
};

constexpr uint16_t kAllPagesFree = 0xFFFF;
static_assert(kPagesPerRegion == 16, "the free mask has one bit per page");

// A doubly linked list of regions.
class RegionList {
 public:
  Region* front() const { return head_; }
  size_t size() const { return size_; }
  void PushFront(Region* region) {
    region->prev = nullptr;
    region->next = head_;
    if (head_ != nullptr) head_->prev = region;
    head_ = region;
    ++size_;
  }
  void Remove(Region* region) {
    if (region->prev != nullptr) {
      region->prev->next = region->next;
    } else {
      head_ = region->next;
    }
    if (region->next != nullptr) region->next->prev = region->prev;
    region->prev = region->next = nullptr;
    --size_;
  }

 private:
  Region* head_ = nullptr;
  size_t size_ = 0;
};

class PageSource {
 public:
  // Partly used regions first, then empty ones, then a new one.
  void* Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    Region* region = partial_.front();
    if (region == nullptr) {
      region = empty_.front();
      if (region != nullptr) {
        empty_.Remove(region);
      } else {
        region = AddRegion();
        if (region == nullptr) return nullptr;
      }
      partial_.PushFront(region);
    }
    const int index = __builtin_ctz(region->freeMask);
    region->freeMask = static_cast<uint16_t>(region->freeMask & ~(1u << index));
    --freePages_;
    if (region->freeMask == 0) partial_.Remove(region);
    return reinterpret_cast<void*>(region->base + static_cast<uintptr_t>(index) * kSlotPageSize);
  }

  void Give(void* page) {
    const auto address = reinterpret_cast<uintptr_t>(page);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return;  // not ours; nothing sound to do with it
    --it;
    Region& region = it->second;
    const uintptr_t offset = address - region.base;
    if (offset >= kPageRegionSize || offset % kSlotPageSize != 0) return;
    const unsigned bit = 1u << (offset / kSlotPageSize);
    if ((region.freeMask & bit) != 0) return;  // already free
    const bool wasFull = region.freeMask == 0;
    region.freeMask = static_cast<uint16_t>(region.freeMask | bit);
    ++freePages_;
    if (region.freeMask != kAllPagesFree) {
      if (wasFull) partial_.PushFront(&region);
      return;
    }
    if (!wasFull) partial_.Remove(&region);
    // Empty regions stay in reserve, 8 MiB at most, so that value trees built and dropped
    // again and again do not map, fault in and unmap their memory each time.
    if (keepReserve_ && empty_.size() < kReservedPageRegions) {
      empty_.PushFront(&region);
      return;
    }
    freePages_ -= kPagesPerRegion;
    ReleaseRegion(reinterpret_cast<void*>(region.base), kPageRegionSize);
    regions_.erase(it);
  }

  // Releases the reserve, and from now on every region as soon as its pages are all back:
  // the code that owns the pages is going away.
  void DropReserve() {
    std::lock_guard<std::mutex> lock(mutex_);
    keepReserve_ = false;
    while (Region* region = empty_.front()) {
      const uintptr_t base = region->base;
      empty_.Remove(region);
      freePages_ -= kPagesPerRegion;
      ReleaseRegion(reinterpret_cast<void*>(base), kPageRegionSize);
      regions_.erase(base);
    }
  }

  PageSourceStats Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {regions_.size(), freePages_, empty_.size()};
  }

 private:
  Region* AddRegion() {
    void* memory = ReserveRegion(kPageRegionSize);
    if (memory == nullptr) return nullptr;
    const auto base = reinterpret_cast<uintptr_t>(memory);
    Region* region = nullptr;
    try {
      region = &regions_[base];
    } catch (const std::bad_alloc&) {
      ReleaseRegion(memory, kPageRegionSize);
      return nullptr;
    }
    region->base = base;
    region->freeMask = kAllPagesFree;
    freePages_ += kPagesPerRegion;
    return region;
  }

  std::mutex mutex_;
  std::map<uintptr_t, Region> regions_;  // by base address
  RegionList partial_;                   // regions with free pages and pages in use
  RegionList empty_;                     // the reserve: regions with every page free
  size_t freePages_ = 0;
  bool keepReserve_ = true;
};

std::atomic<PageSource*> g_created{nullptr};  // the source, once Source() has made it

// Never destroyed: value trees held by static objects may give pages back during exit.
PageSource& Source() {
  alignas(PageSource) static unsigned char storage[sizeof(PageSource)];
  static PageSource* source = [] {
    auto* made = new (storage) PageSource();
    g_created.store(made, std::memory_order_release);
    return made;
  }();
  return *source;
}

// When the program ends or the plug-in library is unloaded, the reserve goes back to the
// operating system, and so does each region whose last page a static object gives back
// later, whichever order the static objects go in. With its last region the index frees
// its last node: nothing of the source stays behind in a host that unloads the library.
struct ReleaseAtExit {
  ~ReleaseAtExit() {
    // A source never made holds nothing; making it here would only take resources.
    PageSource* source = g_created.load(std::memory_order_acquire);
    if (source == nullptr) return;
    try {
      source->DropReserve();
    } catch (...) {  // a failing mutex: leave the memory where it is
    }
  }
} g_releaseAtExit;

}  // namespace

void* TakeSlotPage() noexcept {
  try {
    return Source().Take();
  } catch (...) {  // a failing mutex: report it as no memory
    return nullptr;
  }
}

void GiveSlotPage(void* page) noexcept {
  if (page == nullptr) return;
  try {
    Source().Give(page);
  } catch (...) {
  }
}

PageSourceStats ReadPageSourceStats() noexcept {
  try {
    return Source().Stats();
  } catch (...) {
    return {};
  }
}

}  // namespace mau
