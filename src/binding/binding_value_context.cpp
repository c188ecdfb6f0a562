#include "binding/binding_value_context.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "binding/fnv1a.h"
#include "platform/alloc_hooks.h"

namespace mau {
namespace {

size_t RoundUp(size_t size, size_t alignment) { return (size + alignment - 1) & ~(alignment - 1); }

size_t EntrySize(size_t length) {
  return RoundUp(sizeof(InternedString) + length + 1, alignof(InternedString));
}

}  // namespace

BindingValueContext::BindingValueContext() noexcept : buckets_(initialBuckets_) {}

// Entries still here belong to a tree dropped with its context (or never released). Those
// on the heap are freed one by one; those in slots go with the pools' pages.
BindingValueContext::~BindingValueContext() {
  for (uint32_t b = 0; b < bucketCount_; ++b) {
    for (InternedString* e = buckets_[b]; e != nullptr;) {
      InternedString* next = e->next;
      FreeHeapBlock(e, EntrySize(e->length));
      e = next;
    }
  }
  if (buckets_ != initialBuckets_) FreeHeapBlock(buckets_, sizeof(InternedString*) * bucketCount_);
}

InternedString* BindingValueContext::Intern(std::string_view text) {
  return Intern(text, Fnv1a32(text));
}

InternedString* BindingValueContext::Intern(std::string_view text, uint32_t hash) {
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
  Free(entry, EntrySize(entry->length));
  if (--stringCount_ == 0 && buckets_ != initialBuckets_) {
    Free(buckets_, sizeof(InternedString*) * bucketCount_);
    buckets_ = initialBuckets_;
    bucketCount_ = kInitialBuckets;
    std::memset(initialBuckets_, 0, sizeof initialBuckets_);
  }
}

void* BindingValueContext::Allocate(size_t size) {
  void* block = nullptr;
  if (size <= SlotPools::kLargestSlot) {
    block = pools_.Take(size == 0 ? 1 : size);
  } else {
    block = HookAllocate(size);
  }
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* BindingValueContext::Reallocate(void* block, size_t oldSize, size_t newSize) {
  if (oldSize > SlotPools::kLargestSlot && newSize > SlotPools::kLargestSlot) {
    void* grown = HookReallocate(block, newSize);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
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
    HookRelease(block);
  }
}

}  // namespace mau
