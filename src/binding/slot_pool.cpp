#include "binding/slot_pool.h"

#include <cstring>

#include "binding/page_source.h"

namespace mau {

// Lives in the first slots of every page.
struct SlotPool::PageHeader {
  PageHeader* prev;
  PageHeader* next;
  uint16_t pageSize;
  uint16_t used;       // slots handed out
  uint16_t firstFree;  // index of the first free slot, 0 when none
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

SlotPool::~SlotPool() {
  // A context gives every slot back before it goes; a page still held here would
  // otherwise be lost to the page source for good.
  while (available_ != nullptr) {
    PageHeader* page = available_;
    Unlink(page);
    if (reinterpret_cast<unsigned char*>(page) != firstPage_) GiveSlotPage(page);
  }
}

SlotPool::PageHeader* SlotPool::FormatPage(void* memory, size_t pageSize) noexcept {
  auto* bytes = static_cast<unsigned char*>(memory);
  const size_t headerSlots = (sizeof(PageHeader) + slotSize_ - 1) / slotSize_;
  const size_t slotCount = pageSize / slotSize_;
  auto* page = reinterpret_cast<PageHeader*>(bytes);
  page->prev = page->next = nullptr;
  page->pageSize = static_cast<uint16_t>(pageSize);
  page->used = 0;
  page->firstFree = headerSlots < slotCount ? static_cast<uint16_t>(headerSlots) : 0;
  for (size_t i = headerSlots; i < slotCount; ++i) {
    WriteIndex(bytes + i * slotSize_, i + 1 < slotCount ? static_cast<uint16_t>(i + 1) : 0);
  }
  return page;
}

void SlotPool::Push(PageHeader* page) noexcept {
  page->prev = nullptr;
  page->next = available_;
  if (available_ != nullptr) available_->prev = page;
  available_ = page;
}

void SlotPool::Unlink(PageHeader* page) noexcept {
  if (page->prev != nullptr) {
    page->prev->next = page->next;
  } else {
    available_ = page->next;
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
    if (page->firstFree == 0) return nullptr;  // a slot size too large for the first page
    Push(page);
  }
  PageHeader* page = available_;
  auto* bytes = reinterpret_cast<unsigned char*>(page);
  unsigned char* slot = bytes + size_t{page->firstFree} * slotSize_;
  page->firstFree = ReadIndex(slot);
  ++page->used;
  if (page->firstFree == 0) Unlink(page);
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
  const bool wasFull = page->firstFree == 0;
  WriteIndex(address, page->firstFree);
  const auto offset = static_cast<uint64_t>(address - base);
  page->firstFree = static_cast<uint16_t>((offset * reciprocal_) >> 32);
  --page->used;
  if (wasFull) Push(page);
  if (page->used == 0 && base != firstPage_) {
    Unlink(page);
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
