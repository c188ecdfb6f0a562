// Fixed-size slot pools: the storage of the small payloads of a BindingValue tree (string
// entries, container headers, structure nodes, enum pairs, small arrays).
//
// A SlotPool serves one slot size. Its first page, 144 bytes, is memory its owner lends it
// (SlotPools keeps those of its small classes next to the pools); further 4096-byte pages
// come from the global page source (page_source.h). Every page starts with a header that
// occupies its first slots. A page hands out its never-used slots in order; returned slots
// are chained by 16-bit slot indexes kept in their first two bytes (0 ends the chain, since
// slot 0 always belongs to the header) and are handed out first. The pool keeps a list of
// its pages that still have a free slot and a list of its full pages; a page that empties
// completely goes back to the page source, except the first page. A pool destroyed with
// slots still taken gives all its pages back at once, so a value tree dropped together
// with its context needs no slot-by-slot release.
//
// SlotPools bundles the size classes of one value context: 18 small ones of 4, 8, ..., 72
// bytes, and medium ones of 96 to 1024 bytes for the arrays of larger collections and
// structures and for longer texts. A medium class has no first page: a page of its own
// holds from 3 to 41 slots. The pool records lie together, set up in one pass from
// compile-time tables whenever a context is created, and the first pages follow them.
//
// Threads: a pool belongs to one value tree, which one thread uses at a time; nothing here
// locks except the page source.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

namespace mau {

class SlotPool {
 public:
  static constexpr size_t kFirstPageSize = 144;

  SlotPool() noexcept = default;
  // A pool of slotSize bytes with ReciprocalOf(slotSize) computed already, as SlotPools
  // takes it from its compile-time tables, and the first page as for SetSlotSize (nullptr
  // when unused).
  SlotPool(uint32_t slotSize, uint32_t reciprocal, unsigned char* firstPage) noexcept {
    Configure(slotSize, reciprocal, firstPage);
  }
  // A pool that never took a page has nothing to give back: most pools of a small tree.
  ~SlotPool() {
    if (available_ != nullptr || full_ != nullptr) GiveAllPages();
  }
  SlotPool(const SlotPool&) = delete;
  SlotPool& operator=(const SlotPool&) = delete;

  // Sets the slot size (a multiple of 4, 4 to 1024) before the first Take, with the
  // kFirstPageSize bytes (aligned to 8) of the first page, or nullptr for none. The first
  // page must outlive the pool; it is used only if it has room for a slot (UsesFirstPage).
  void SetSlotSize(uint32_t slotSize, unsigned char* firstPage = nullptr) noexcept {
    Configure(slotSize, ReciprocalOf(slotSize), UsesFirstPage(slotSize) ? firstPage : nullptr);
  }
  // A first page too small for a slot besides its header is never used.
  static constexpr bool UsesFirstPage(uint32_t slotSize) noexcept {
    return kFirstPageSize / slotSize >= 2;
  }
  // ceil(2^32 / slot size): dividing a page offset by the slot size is a multiplication,
  // exact for every slot boundary of a 4096-byte page.
  static constexpr uint32_t ReciprocalOf(uint32_t slotSize) noexcept {
    return static_cast<uint32_t>(((uint64_t{1} << 32) + slotSize - 1) / slotSize);
  }
  uint32_t slot_size() const noexcept { return slotSize_; }

  // A free slot, aligned like the slot size allows (at least 4 bytes, and 8 when the slot
  // size is a multiple of 8), or nullptr when no page can be had. A slot that leaves its
  // page with a free slot is taken inline; the rest goes through TakeSlow.
  void* Take() noexcept {
    PageHeader* page = available_;
    if (page == nullptr) return TakeSlow();
    auto* bytes = reinterpret_cast<unsigned char*>(page);
    if (page->firstFree != 0) {
      unsigned char* slot = bytes + size_t{page->firstFree} * slotSize_;
      const uint16_t next = ReadIndex(slot);
      if (next == 0 && page->fresh == 0) return TakeSlow();
      page->firstFree = next;
      ++page->used;
      return slot;
    }
    if (page->fresh + 1 >= page->slotCount) return TakeSlow();
    unsigned char* slot = bytes + size_t{page->fresh} * slotSize_;
    ++page->fresh;
    ++page->used;
    return slot;
  }
  // Returns a slot obtained from Take of this pool.
  void Give(void* slot) noexcept;

  // Pages taken from the page source and not yet given back.
  size_t page_count() const noexcept { return pageCount_; }

 private:
  // Lives in the first slots of every page. Slots from `fresh` to the end of the page have
  // never been handed out and are not chained yet: a new page is carved as it is used, so
  // taking a page touches only the memory that values actually fill.
  struct PageHeader {
    PageHeader* prev;
    PageHeader* next;
    uint16_t slotCount;  // slots of the page, the header's included
    uint16_t used;       // slots handed out
    uint16_t firstFree;  // index of the first returned slot, 0 when none
    uint16_t fresh;      // index of the first never-used slot, 0 when none

    bool full() const noexcept { return firstFree == 0 && fresh == 0; }
  };

  static uint16_t ReadIndex(const unsigned char* slot) noexcept {
    uint16_t index;
    std::memcpy(&index, slot, sizeof index);
    return index;
  }
  static void WriteIndex(unsigned char* slot, uint16_t index) noexcept {
    std::memcpy(slot, &index, sizeof index);
  }

  void Configure(uint32_t slotSize, uint32_t reciprocal, unsigned char* firstPage) noexcept {
    slotSize_ = static_cast<uint16_t>(slotSize);
    reciprocal_ = reciprocal;
    firstPage_ = firstPage;
    firstPageReady_ = firstPage == nullptr;
  }
  void* TakeSlow() noexcept;
  PageHeader* FormatPage(void* memory, size_t pageSize) noexcept;
  static void Push(PageHeader*& list, PageHeader* page) noexcept;
  static void Unlink(PageHeader*& list, PageHeader* page) noexcept;
  void GiveAllPages() noexcept;
  void GiveAllPages(PageHeader* list) noexcept;

  bool OnFirstPage(const unsigned char* address) const noexcept {
    return reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(firstPage_) <
           kFirstPageSize;
  }

  PageHeader* available_ = nullptr;  // pages with at least one free slot
  PageHeader* full_ = nullptr;       // pages without one
  unsigned char* firstPage_ = nullptr;
  size_t pageCount_ = 0;
  uint32_t reciprocal_ = 1u << 30;  // ReciprocalOf(slotSize_)
  uint16_t slotSize_ = 4;
  bool firstPageReady_ = true;  // no first page left to format
};

class SlotPools {
 public:
  static constexpr size_t kSmallClassCount = 18;
  static constexpr size_t kLargestSmallSlot = 72;
  static constexpr uint32_t kMediumSlots[] = {96, 128, 192, 256, 384, 512, 768, 1024};
  static constexpr size_t kClassCount = kSmallClassCount + std::size(kMediumSlots);
  static constexpr size_t kLargestSlot = kMediumSlots[std::size(kMediumSlots) - 1];
  static constexpr std::array<uint32_t, kClassCount> kSlotSizes = [] {
    std::array<uint32_t, kClassCount> sizes{};
    for (size_t i = 0; i < kSmallClassCount; ++i) sizes[i] = static_cast<uint32_t>(4 * (i + 1));
    for (size_t i = 0; i < std::size(kMediumSlots); ++i)
      sizes[kSmallClassCount + i] = kMediumSlots[i];
    return sizes;
  }();
  static constexpr std::array<uint32_t, kClassCount> kReciprocals = [] {
    std::array<uint32_t, kClassCount> reciprocals{};
    for (size_t i = 0; i < kClassCount; ++i) reciprocals[i] = SlotPool::ReciprocalOf(kSlotSizes[i]);
    return reciprocals;
  }();

  // Each pool is set up in one pass from the compile-time tables.
  SlotPools() noexcept : SlotPools(std::make_index_sequence<kClassCount>()) {}

  // A slot of at least size bytes (1 to kLargestSlot): the request is rounded up to a
  // multiple of 4, or to a medium class above 72 bytes, and served by that size class.
  // nullptr when no page can be had.
  void* Take(size_t size) noexcept { return classes_[ClassIndex(size)].Take(); }
  // Returns a slot taken with the same size.
  void Give(void* slot, size_t size) noexcept { classes_[ClassIndex(size)].Give(slot); }

  size_t page_count() const noexcept;

 private:
  static size_t ClassIndex(size_t size) noexcept {
    if (size <= kLargestSmallSlot) return (size + 3) / 4 - 1;
    size_t index = kSmallClassCount;
    while (kMediumSlots[index - kSmallClassCount] < size) ++index;
    return index;
  }

  static_assert(SlotPool::UsesFirstPage(kLargestSmallSlot) &&
                    !SlotPool::UsesFirstPage(kMediumSlots[0]),
                "the small classes are those with a first page");

  template <size_t... kIndex>
  explicit SlotPools(std::index_sequence<kIndex...>) noexcept
      : classes_{SlotPool(kSlotSizes[kIndex], kReciprocals[kIndex],
                          kIndex < kSmallClassCount ? firstPages_[kIndex] : nullptr)...} {}

  SlotPool classes_[kClassCount];
  alignas(8) unsigned char firstPages_[kSmallClassCount][SlotPool::kFirstPageSize];
};

}  // namespace mau
