#include "binding/slot_pool.h"

#include <cstring>

#include "binding/page_source.h"

namespace mau {

void SlotPool::GiveAllPages() noexcept {
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
  const size_t slotCount = pageSize / slotSize_;
  page->slotCount = static_cast<uint16_t>(slotCount);
  page->used = 0;
  page->firstFree = 0;
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

void* SlotPool::TakeSlow() noexcept {
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
    fresh = fresh + 1 < page->slotCount ? static_cast<uint16_t>(fresh + 1) : 0;
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
  if (OnFirstPage(address)) {
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

size_t SlotPools::page_count() const noexcept {
  size_t count = 0;
  for (const SlotPool& pool : classes_) count += pool.page_count();
  return count;
}

}  // namespace mau
