#include "binding/page_source.h"

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
  uint16_t freeMask = 0;  // bit i set: page i is free
  Region* prevWithFree = nullptr;
  Region* nextWithFree = nullptr;
};

constexpr uint16_t kAllPagesFree = 0xFFFF;
static_assert(kPagesPerRegion == 16, "the free mask has one bit per page");

class PageSource {
 public:
  void* Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (withFree_ == nullptr && !AddRegion()) return nullptr;
    // Regions in use come before the reserve, which is drawn on last.
    Region* region = withFree_;
    if (region == reserve_ && region->nextWithFree != nullptr) region = region->nextWithFree;
    if (region == reserve_) reserve_ = nullptr;
    const int index = __builtin_ctz(region->freeMask);
    region->freeMask = static_cast<uint16_t>(region->freeMask & ~(1u << index));
    --freePages_;
    if (region->freeMask == 0) Unlink(region);
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
    const bool hadFree = region.freeMask != 0;
    region.freeMask = static_cast<uint16_t>(region.freeMask | bit);
    ++freePages_;
    if (!hadFree) PushFront(&region);
    if (region.freeMask != kAllPagesFree) return;
    // One empty region stays in reserve, so that a tree built and dropped again and again
    // does not map and unmap 64 KiB each time.
    if (reserve_ == nullptr) {
      reserve_ = &region;
      return;
    }
    Unlink(&region);
    freePages_ -= kPagesPerRegion;
    ReleaseRegion(reinterpret_cast<void*>(region.base), kPageRegionSize);
    regions_.erase(it);
  }

  PageSourceStats Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {regions_.size(), freePages_, reserve_ != nullptr ? size_t{1} : size_t{0}};
  }

 private:
  bool AddRegion() {
    void* memory = ReserveRegion(kPageRegionSize);
    if (memory == nullptr) return false;
    const auto base = reinterpret_cast<uintptr_t>(memory);
    Region* region = nullptr;
    try {
      region = &regions_[base];
    } catch (const std::bad_alloc&) {
      ReleaseRegion(memory, kPageRegionSize);
      return false;
    }
    region->base = base;
    region->freeMask = kAllPagesFree;
    freePages_ += kPagesPerRegion;
    PushFront(region);
    return true;
  }

  void PushFront(Region* region) {
    region->prevWithFree = nullptr;
    region->nextWithFree = withFree_;
    if (withFree_ != nullptr) withFree_->prevWithFree = region;
    withFree_ = region;
  }

  void Unlink(Region* region) {
    if (region->prevWithFree != nullptr) {
      region->prevWithFree->nextWithFree = region->nextWithFree;
    } else {
      withFree_ = region->nextWithFree;
    }
    if (region->nextWithFree != nullptr) region->nextWithFree->prevWithFree = region->prevWithFree;
    region->prevWithFree = region->nextWithFree = nullptr;
  }

  std::mutex mutex_;
  std::map<uintptr_t, Region> regions_;  // by base address
  Region* withFree_ = nullptr;           // regions that have a free page
  Region* reserve_ = nullptr;            // an empty region kept for the next pages
  size_t freePages_ = 0;
};

// Never destroyed: value trees held by static objects may give pages back during exit.
PageSource& Source() {
  alignas(PageSource) static unsigned char storage[sizeof(PageSource)];
  static PageSource* source = new (storage) PageSource();
  return *source;
}

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
