// The storage shared by one BindingValue tree: its interned strings and its slot pools.
//
// The string table stores each distinct text of the tree once, with its FNV-1a hash and a
// reference count; a string value, a structure member's name and a copy of either refer to
// the same entry. The table starts with 8 buckets, doubles when it would hold more entries
// than buckets, and goes back to 8 buckets when its last entry is released. In front of the
// table, two small caches remember recently interned texts, values and member names apart,
// by a cheap hash of their length and outer bytes: names and many values repeat throughout
// a document, and a text found there needs neither its FNV-1a hash nor a walk of the table.
// The caches come into use with the table's kUncachedStrings-th entry, so a context that
// holds a text or two (a call's string argument) never clears their 4 KB.
//
// Blocks up to 1024 bytes come from the context's slot pools (slot_pool.h); larger ones
// from the allocation hooks, each behind a small link that chains the context's heap
// blocks. The root value of a tree creates its context when it first needs one and
// destroys it last; destroying a context gives back every slot page and heap block it
// still holds, so a tree dropped together with its context needs no walk. Threads: one
// thread at a time, like the tree; nothing locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/slot_pool.h"

namespace mau {

// One entry of the string table. The text follows the entry, NUL-terminated.
struct InternedString {
  InternedString* next;  // bucket chain
  uint32_t hash;
  uint32_t refs;
  uint32_t length;

  const char* c_str() const noexcept { return reinterpret_cast<const char*>(this + 1); }
  std::string_view view() const noexcept { return {c_str(), length}; }
};

class BindingValueContext {
 public:
  static constexpr uint32_t kInitialBuckets = 8;
  static constexpr uint32_t kRecentSlotBits = 8;
  static constexpr uint32_t kRecentSlots = 1u << kRecentSlotBits;  // values
  static constexpr uint32_t kRecentNameSets = kRecentSlots / 2;    // of two names each
  static constexpr uint32_t kUncachedStrings = 8;

  BindingValueContext() noexcept;
  ~BindingValueContext();
  BindingValueContext(const BindingValueContext&) = delete;
  BindingValueContext& operator=(const BindingValueContext&) = delete;

  // The entry of text with one more reference (a new entry with one reference when the
  // text is not interned yet). Throws std::bad_alloc, or std::length_error for a text of
  // 4 GiB or more.
  InternedString* Intern(std::string_view text);
  InternedString* Intern(std::string_view text, uint32_t hash);
  // The same for member names, which have a cache of their own: the few names of a
  // document's records recur far more often than its values.
  InternedString* InternName(std::string_view text);
  InternedString* InternName(std::string_view text, uint32_t hash);
  static void Retain(InternedString* entry) noexcept { ++entry->refs; }
  // Drops one reference; the last one removes the entry.
  void Release(InternedString* entry) noexcept;

  size_t string_count() const noexcept { return stringCount_; }
  size_t bucket_count() const noexcept { return bucketCount_; }

  // A block of size bytes: a slot of the size class for up to 1024 bytes, else a heap block
  // from the allocation hooks. A slot is aligned to the largest power of two (up to 8) that
  // divides its class's size, so a block of sizeof(T) bytes, or of an array of T, suits T.
  // Throws std::bad_alloc.
  void* Allocate(size_t size) {
    if (size > SlotPools::kLargestSlot) return AllocateHeapBlock(size);
    void* block = pools_.Take(size == 0 ? 1 : size);
    if (block == nullptr) ThrowOutOfMemory();
    return block;
  }
  // Resizes a block, keeping the first min(oldSize, newSize) bytes.
  void* Reallocate(void* block, size_t oldSize, size_t newSize);
  void Free(void* block, size_t size) noexcept;

  size_t page_count() const noexcept { return pools_.page_count(); }

 private:
  // Links the heap blocks; it fills the first kHeapLinkBytes of each, so the block handed
  // out keeps the alignment of the hooks' own blocks on every target.
  struct HeapLink {
    HeapLink* prev;
    HeapLink* next;
  };
  static constexpr size_t kHeapLinkBytes = 16;
  static_assert(sizeof(HeapLink) <= kHeapLinkBytes);
  static void* BlockOf(HeapLink* link) noexcept {
    return reinterpret_cast<unsigned char*>(link) + kHeapLinkBytes;
  }
  static HeapLink* LinkOf(void* block) noexcept {
    return reinterpret_cast<HeapLink*>(static_cast<unsigned char*>(block) - kHeapLinkBytes);
  }

  [[noreturn]] static void ThrowOutOfMemory();
  void Grow();
  void* AllocateHeapBlock(size_t size);
  void* ReallocateHeapBlock(void* block, size_t size);
  void FreeHeapBlock(void* block) noexcept;
  InternedString* Insert(std::string_view text, uint32_t hash);
  static uint32_t RecentSlot(std::string_view text) noexcept;
  template <bool kHashKnown>
  InternedString* InternName(std::string_view text, uint32_t hash);
  static constexpr size_t kShortText = 32;
  static bool IsText(const InternedString* entry, std::string_view text) noexcept;
  // Whether the caches are in use, clearing them when the table has grown enough to use
  // them now.
  bool CachesReady() noexcept {
    if (cachesReady_) [[likely]]
      return true;
    if (stringCount_ + 1 < kUncachedStrings) return false;
    ClearCaches();
    return true;
  }
  void ClearCaches() noexcept;

  InternedString** buckets_;
  uint32_t bucketCount_ = kInitialBuckets;
  uint32_t stringCount_ = 0;
  bool cachesReady_ = false;
  InternedString* initialBuckets_[kInitialBuckets] = {};
  // Entries of the table: values direct-mapped, names two-way; cleared when they come into
  // use.
  InternedString* recentValues_[kRecentSlots];
  InternedString* recentNames_[kRecentNameSets][2];
  SlotPools pools_;
  HeapLink heapBlocks_{&heapBlocks_, &heapBlocks_};  // ring of the heap blocks
};

}  // namespace mau
