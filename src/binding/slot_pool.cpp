#include "binding/slot_pool.h"

#include <cstring>

#include "binding/page_source.h"

namespace mau {

// Lives in the first slots of every page. Slots from `fresh` to the end of the page have
// never been handed out and are not chained yet: a new page is carved as it is used, so
// taking a page touches only the memory that values actually fill.
struct SlotPool::PageHeader {
  PageHeader* prev;
  PageHeader* next;
  uint16_t pageSize;
  uint16_t used;       // slots handed out
  uint16_t firstFree;  // index of the first returned slot, 0 when none
  uint16_t fresh;      // index of the first never-used slot, 0 when none

  bool full() const noexcept { return firstFree == 0 && fresh == 0; }
};

namespace {

uint16_t ReadIndex(const unsigned char* slot) noexcept {
  uint16_t index;
  std::memcpy(&index, slot, sizeof index);
  return index;
}

void WriteIndex(unsigned char* slot, uint16_t index) noexcept {
  std::memcpy(slot, &index, sizeof index);
}

}  // namespace

void SlotPool::SetSlotSize(uint32_t slotSize) noexcept {
  slotSize_ = static_cast<uint16_t>(slotSize);
  reciprocal_ = static_cast<uint32_t>(((uint64_t{1} << 32) + slotSize - 1) / slotSize);
  pageSlots_ = static_cast<uint16_t>(kSlotPageSize / slotSize);
  firstPageSlots_ = static_cast<uint16_t>(kFirstPageSize / slotSize);
}

SlotPool::~SlotPool() {
  GiveAllPages(available_);
  GiveAllPages(full_);
}

void SlotPool::GiveAllPages(PageHeader* list) noexcept {
  while (list != nullptr) {
    PageHeader* page = list;
    list = page->next;
    if (reinterpret_cast<unsigned char*>(page) != firstPage_) GiveSlotPage(page);
  }
}

SlotPool::PageHeader* SlotPool::FormatPage(void* memory, size_t pageSize) noexcept {
  const size_t headerSlots = (sizeof(PageHeader) + slotSize_ - 1) / slotSize_;
  auto* page = static_cast<PageHeader*>(memory);
  page->prev = page->next = nullptr;
  page->pageSize = static_cast<uint16_t>(pageSize);
  page->used = 0;
  page->firstFree = 0;
  const size_t slotCount = pageSize / slotSize_;
  page->fresh = headerSlots < slotCount ? static_cast<uint16_t>(headerSlots) : 0;
  return page;
}

void SlotPool::Push(PageHeader*& list, PageHeader* page) noexcept {
  page->prev = nullptr;
  page->next = list;
  if (list != nullptr) list->prev = page;
  list = page;
}

void SlotPool::Unlink(PageHeader*& list, PageHeader* page) noexcept {
  if (page->prev != nullptr) {
    page->prev->next = page->next;
  } else {
    list = page->next;
  }
  if (page->next != nullptr) page->next->prev = page->prev;
  page->prev = page->next = nullptr;
}

void* SlotPool::Take() noexcept {
  if (available_ == nullptr) {
    PageHeader* page = nullptr;
    if (!firstPageReady_) {
      firstPageReady_ = true;
      page = FormatPage(firstPage_, kFirstPageSize);
    } else {
      void* memory = TakeSlotPage();
      if (memory == nullptr) return nullptr;
      ++pageCount_;
      page = FormatPage(memory, kSlotPageSize);
    }
    if (page->full()) return nullptr;  // a slot size too large for the first page
    Push(available_, page);
  }
  PageHeader* page = available_;
  auto* bytes = reinterpret_cast<unsigned char*>(page);
  uint16_t firstFree = page->firstFree;
  uint16_t fresh = page->fresh;
  unsigned char* slot = nullptr;
  if (firstFree != 0) {
    slot = bytes + size_t{firstFree} * slotSize_;
    firstFree = ReadIndex(slot);
    page->firstFree = firstFree;
  } else {
    slot = bytes + size_t{fresh} * slotSize_;
    const uint16_t slotCount = bytes == firstPage_ ? firstPageSlots_ : pageSlots_;
    fresh = fresh + 1 < slotCount ? static_cast<uint16_t>(fresh + 1) : 0;
    page->fresh = fresh;
  }
  ++page->used;
  if (firstFree == 0 && fresh == 0) {
    Unlink(available_, page);
    Push(full_, page);
  }
  return slot;
}

void SlotPool::Give(void* slot) noexcept {
  auto* address = static_cast<unsigned char*>(slot);
  unsigned char* base = nullptr;
  if (address >= firstPage_ && address < firstPage_ + kFirstPageSize) {
    base = firstPage_;
  } else {
    base = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(address) &
                                            ~static_cast<uintptr_t>(kSlotPageSize - 1));
  }
  auto* page = reinterpret_cast<PageHeader*>(base);
  const bool wasFull = page->full();
  WriteIndex(address, page->firstFree);
  const auto offset = static_cast<uint64_t>(address - base);
  page->firstFree = static_cast<uint16_t>((offset * reciprocal_) >> 32);
  --page->used;
  if (wasFull) {
    Unlink(full_, page);
    Push(available_, page);
  }
  if (page->used == 0 && base != firstPage_) {
    Unlink(available_, page);
    --pageCount_;
    GiveSlotPage(page);
  }
}

SlotPools::SlotPools() noexcept {
  for (size_t i = 0; i < kClassCount; ++i)
    classes_[i].SetSlotSize(static_cast<uint32_t>(4 * (i + 1)));
}

size_t SlotPools::page_count() const noexcept {
  size_t count = 0;
  for (const SlotPool& pool : classes_) count += pool.page_count();
  return count;
}

}  // namespace mau
