#include "binding/binding_value_context.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "binding/fnv1a.h"
#include "platform/alloc_hooks.h"

namespace mau {
namespace {

size_t RoundUp(size_t size, size_t alignment) { return (size + alignment - 1) & ~(alignment - 1); }

// Whether the n bytes (at most kShortText) at a and b are equal: word loads that may
// overlap, no call.
bool SameShortText(const char* a, const char* b, size_t n) noexcept {
  if (n >= 8) {
    uint64_t x;
    uint64_t y;
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return false;
    }
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
  }
  if (n >= 4) {
    uint32_t x;
    uint32_t y;
    uint32_t u;
    uint32_t v;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    std::memcpy(&u, a + n - 4, 4);
    std::memcpy(&v, b + n - 4, 4);
    return x == y && u == v;
  }
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

size_t EntrySize(size_t length) {
  return RoundUp(sizeof(InternedString) + length + 1, alignof(InternedString));
}

}  // namespace

BindingValueContext::BindingValueContext() noexcept : buckets_(initialBuckets_) {}

// Entries still here belong to a tree dropped with its context (or never released): they
// go with the slot pages and heap blocks.
BindingValueContext::~BindingValueContext() {
  for (HeapLink* link = heapBlocks_.next; link != &heapBlocks_;) {
    HeapLink* next = link->next;
    HookRelease(link);
    link = next;
  }
}

// Mixes the length with the first and last (up to) 8 bytes: enough to tell apart the names
// and values of one document, at a few instructions for any length.
inline uint32_t BindingValueContext::RecentSlot(std::string_view text) noexcept {
  const size_t n = text.size();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  uint64_t head = 0;
  uint64_t tail = 0;
  if (n >= 8) {
    std::memcpy(&head, p, 8);
    std::memcpy(&tail, p + n - 8, 8);
  } else if (n >= 4) {
    uint32_t a;
    uint32_t b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    head = a;
    tail = b;
  } else if (n > 0) {
    head = p[0] | (uint32_t{p[n / 2]} << 8) | (uint32_t{p[n - 1]} << 16);
  }
  const uint64_t mixed =
      (head * 0x9E3779B97F4A7C15ull) ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ (n * 0x165667B19E3779F9ull);
  return static_cast<uint32_t>(mixed >> (64 - kRecentSlotBits));
}

inline bool BindingValueContext::IsText(const InternedString* entry,
                                        std::string_view text) noexcept {
  if (entry == nullptr || entry->length != text.size()) return false;
  return text.size() <= kShortText ? SameShortText(entry->c_str(), text.data(), text.size())
                                   : std::memcmp(entry->c_str(), text.data(), text.size()) == 0;
}

void BindingValueContext::ClearCaches() noexcept {
  std::memset(recentValues_, 0, sizeof recentValues_);
  std::memset(recentNames_, 0, sizeof recentNames_);
  cachesReady_ = true;
}

InternedString* BindingValueContext::Intern(std::string_view text) {
  if (!CachesReady()) return Insert(text, Fnv1a32(text));
  InternedString*& recent = recentValues_[RecentSlot(text)];
  InternedString* entry = recent;
  if (IsText(entry, text)) {
    ++entry->refs;
    return entry;
  }
  entry = Insert(text, Fnv1a32(text));
  recent = entry;
  return entry;
}

InternedString* BindingValueContext::Intern(std::string_view text, uint32_t hash) {
  if (!CachesReady()) return Insert(text, hash);
  InternedString*& recent = recentValues_[RecentSlot(text)];
  InternedString* entry = recent;
  if (entry != nullptr && entry->hash == hash && IsText(entry, text)) {
    ++entry->refs;
    return entry;
  }
  entry = Insert(text, hash);
  recent = entry;
  return entry;
}

// A name found in the second way moves to the first, and a new one pushes the first way's
// name to the second: the names of one kind of record stay while others pass through.
template <bool kHashKnown>
InternedString* BindingValueContext::InternName(std::string_view text, uint32_t hash) {
  if (!CachesReady()) return Insert(text, kHashKnown ? hash : Fnv1a32(text));
  InternedString** set = recentNames_[RecentSlot(text) / 2];
  InternedString* first = set[0];
  if (IsText(first, text)) {
    ++first->refs;
    return first;
  }
  InternedString* second = set[1];
  if (IsText(second, text)) {
    set[0] = second;
    set[1] = first;
    ++second->refs;
    return second;
  }
  InternedString* entry = Insert(text, kHashKnown ? hash : Fnv1a32(text));
  set[0] = entry;
  set[1] = first;
  return entry;
}

InternedString* BindingValueContext::InternName(std::string_view text) {
  return InternName<false>(text, 0);
}

InternedString* BindingValueContext::InternName(std::string_view text, uint32_t hash) {
  return InternName<true>(text, hash);
}

// Finds the entry of text in the table (one more reference) or adds it.
InternedString* BindingValueContext::Insert(std::string_view text, uint32_t hash) {
  InternedString** bucket = &buckets_[hash & (bucketCount_ - 1)];
  for (InternedString* e = *bucket; e != nullptr; e = e->next) {
    if (e->hash == hash && e->length == text.size() &&
        std::memcmp(e->c_str(), text.data(), text.size()) == 0) {
      ++e->refs;
      return e;
    }
  }
  if (text.size() >= UINT32_MAX - 2 * sizeof(InternedString)) {
    throw std::length_error("interned text too long");
  }
  if (stringCount_ + 1 > bucketCount_) {
    Grow();
    bucket = &buckets_[hash & (bucketCount_ - 1)];
  }
  auto* entry = static_cast<InternedString*>(Allocate(EntrySize(text.size())));
  entry->hash = hash;
  entry->refs = 1;
  entry->length = static_cast<uint32_t>(text.size());
  char* chars = reinterpret_cast<char*>(entry + 1);
  if (!text.empty()) std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  entry->next = *bucket;
  *bucket = entry;
  ++stringCount_;
  return entry;
}

void BindingValueContext::Grow() {
  const uint32_t newCount = bucketCount_ * 2;
  auto** fresh = static_cast<InternedString**>(Allocate(sizeof(InternedString*) * newCount));
  std::memset(fresh, 0, sizeof(InternedString*) * newCount);
  for (uint32_t b = 0; b < bucketCount_; ++b) {
    for (InternedString* e = buckets_[b]; e != nullptr;) {
      InternedString* next = e->next;
      InternedString** target = &fresh[e->hash & (newCount - 1)];
      e->next = *target;
      *target = e;
      e = next;
    }
  }
  if (buckets_ != initialBuckets_) Free(buckets_, sizeof(InternedString*) * bucketCount_);
  buckets_ = fresh;
  bucketCount_ = newCount;
}

void BindingValueContext::Release(InternedString* entry) noexcept {
  if (--entry->refs != 0) return;
  InternedString** link = &buckets_[entry->hash & (bucketCount_ - 1)];
  while (*link != entry) link = &(*link)->next;
  *link = entry->next;
  if (cachesReady_) {
    const uint32_t slot = RecentSlot(entry->view());
    if (recentValues_[slot] == entry) recentValues_[slot] = nullptr;
    for (InternedString*& name : recentNames_[slot / 2]) {
      if (name == entry) name = nullptr;
    }
  }
  Free(entry, EntrySize(entry->length));
  if (--stringCount_ == 0 && buckets_ != initialBuckets_) {
    Free(buckets_, sizeof(InternedString*) * bucketCount_);
    buckets_ = initialBuckets_;
    bucketCount_ = kInitialBuckets;
    std::memset(initialBuckets_, 0, sizeof initialBuckets_);
  }
}

void BindingValueContext::ThrowOutOfMemory() { throw std::bad_alloc(); }

void* BindingValueContext::Reallocate(void* block, size_t oldSize, size_t newSize) {
  if (oldSize > SlotPools::kLargestSlot && newSize > SlotPools::kLargestSlot) {
    return ReallocateHeapBlock(block, newSize);
  }
  void* fresh = Allocate(newSize);
  std::memcpy(fresh, block, oldSize < newSize ? oldSize : newSize);
  Free(block, oldSize);
  return fresh;
}

void BindingValueContext::Free(void* block, size_t size) noexcept {
  if (block == nullptr) return;
  if (size <= SlotPools::kLargestSlot) {
    pools_.Give(block, size == 0 ? 1 : size);
  } else {
    FreeHeapBlock(block);
  }
}

void* BindingValueContext::AllocateHeapBlock(size_t size) {
  if (size > SIZE_MAX - kHeapLinkBytes) throw std::bad_alloc();
  auto* link = static_cast<HeapLink*>(HookAllocate(kHeapLinkBytes + size));
  if (link == nullptr) throw std::bad_alloc();
  link->prev = &heapBlocks_;
  link->next = heapBlocks_.next;
  heapBlocks_.next->prev = link;
  heapBlocks_.next = link;
  return BlockOf(link);
}

// The neighbours of a moved block point at its new place.
void* BindingValueContext::ReallocateHeapBlock(void* block, size_t size) {
  if (size > SIZE_MAX - kHeapLinkBytes) throw std::bad_alloc();
  auto* moved = static_cast<HeapLink*>(HookReallocate(LinkOf(block), kHeapLinkBytes + size));
  if (moved == nullptr) throw std::bad_alloc();
  moved->prev->next = moved;
  moved->next->prev = moved;
  return BlockOf(moved);
}

void BindingValueContext::FreeHeapBlock(void* block) noexcept {
  HeapLink* link = LinkOf(block);
  link->prev->next = link->next;
  link->next->prev = link->prev;
  HookRelease(link);
}

}  // namespace mau
