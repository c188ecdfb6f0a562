#include "binding/binding_value.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>
#include <utility>

namespace mau {

namespace binding_value_internal {

// Chains containers that wait to be destroyed; see DestroyContainers.
struct PendingLink {
  PendingLink* next = nullptr;
};

// The first elements live in the header's own block, right after the header; a
// collection that outgrows them moves its elements to an array of their own.
struct CollectionHeader : PendingLink {
  CollectionHeader() noexcept;
  BindingValue* inlineItems() noexcept;

  BindingValue* items;
  uint32_t size = 0;
  uint32_t capacity;
};

constexpr uint32_t kInlineElements = 2;
constexpr size_t kInlineOffset = (sizeof(CollectionHeader) + alignof(BindingValue) - 1) /
                                 alignof(BindingValue) * alignof(BindingValue);
constexpr size_t kCollectionBlock = kInlineOffset + kInlineElements * sizeof(BindingValue);
static_assert(kCollectionBlock <= SlotPools::kLargestSmallSlot && kCollectionBlock % 8 == 0);

inline CollectionHeader::CollectionHeader() noexcept
    : items(inlineItems()), capacity(kInlineElements) {}

inline BindingValue* CollectionHeader::inlineItems() noexcept {
  return reinterpret_cast<BindingValue*>(reinterpret_cast<unsigned char*>(this) + kInlineOffset);
}

// The members sorted by name in items[0, sorted) (the main run), and those that arrived
// out of order in a large structure sorted again in items[sorted, size) (the recent run).
struct StructureHeader : PendingLink {
  MemberEntry* items = nullptr;
  uint32_t size = 0;
  uint32_t capacity = 0;
  uint32_t sorted = 0;
};

// The byte count; the bytes follow the header.
struct BlobHeader {
  uint32_t size;
  uint8_t* bytes() noexcept { return reinterpret_cast<uint8_t*>(this + 1); }
};

}  // namespace binding_value_internal

using namespace binding_value_internal;

namespace {

constexpr size_t kMaxElements = 0x0FFFFFFF;
// The first array of a collection or structure fills the largest small slot.
constexpr uint32_t kFirstCapacity =
    static_cast<uint32_t>(SlotPools::kLargestSmallSlot / sizeof(BindingValue));
constexpr uint32_t kFirstMemberCapacity =
    static_cast<uint32_t>(SlotPools::kLargestSmallSlot / sizeof(MemberEntry));
static_assert(kFirstCapacity > 0 && kFirstMemberCapacity > 0);
// Up to this many members a structure keeps a single run: an insertion moves few entries.
constexpr uint32_t kSingleRunMembers = 32;
// SortMembers sorts up to this many members by insertion.
constexpr uint32_t kInsertionSortedMembers = 16;

constinit const BindingValue kSharedEmptyValue;

// The length at which the recent run merges into the main one: about the square root of
// the member count, so that insertions into the recent run and merges cost about the same.
uint32_t RecentRunLimit(uint32_t size) {
  uint32_t limit = kSingleRunMembers;
  while (uint64_t{limit} * limit < size) limit *= 2;
  return limit;
}

void MoveEntries(MemberEntry* to, const MemberEntry* from, size_t count) noexcept {
  if (count != 0) std::memmove(static_cast<void*>(to), from, count * sizeof(MemberEntry));
}

// The first entry of [first, first + count) whose name is not before name.
MemberEntry* LowerBound(MemberEntry* first, uint32_t count, std::string_view name) noexcept {
  while (count > 0) {
    const uint32_t half = count / 2;
    if (NameBefore(first[half].name->view(), name)) {
      first += half + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  return first;
}

MemberEntry* FindEntry(StructureHeader* header, std::string_view name) noexcept {
  MemberEntry* const mainEnd = header->items + header->sorted;
  MemberEntry* entry = LowerBound(header->items, header->sorted, name);
  if (entry != mainEnd && entry->name->view() == name) return entry;
  MemberEntry* const end = header->items + header->size;
  entry = LowerBound(mainEnd, header->size - header->sorted, name);
  return entry != end && entry->name->view() == name ? entry : nullptr;
}

// Merges the recent run into the main run, in place, with a copy of the recent run aside.
// From the back, each recent entry finds its place in the main run by binary search and
// the main entries after it move up as one block: a merge compares names about
// recent * log(size) times and moves each entry once.
void MergeRuns(BindingValueContext* context, StructureHeader* header) {
  const uint32_t recent = header->size - header->sorted;
  if (recent == 0) return;
  const size_t bytes = size_t{recent} * sizeof(MemberEntry);
  auto* aside = static_cast<MemberEntry*>(context->Allocate(bytes));
  MoveEntries(aside, header->items + header->sorted, recent);
  MemberEntry* items = header->items;
  uint32_t unplaced = header->sorted;  // main entries [0, unplaced) have not moved yet
  size_t free = header->size;          // entries from here on are placed
  for (uint32_t j = recent; j-- > 0;) {
    const auto at =
        static_cast<uint32_t>(LowerBound(items, unplaced, aside[j].name->view()) - items);
    const uint32_t after = unplaced - at;
    free -= after;
    MoveEntries(&items[free], &items[at], after);
    unplaced = at;
    items[--free] = aside[j];
  }
  context->Free(aside, bytes);
  header->sorted = header->size;
}

size_t BlobBlockSize(size_t size) { return sizeof(BlobHeader) + size; }

[[noreturn]] void ThrowTooManyElements() {
  throw std::length_error("BindingValue collection longer than 0x0FFFFFFF elements");
}

// Grows the array of a collection or structure to hold needed items: twice its capacity,
// first items at first, at most 0x0FFFFFFF. Elements and member entries hold no pointers
// into themselves, so they move with their bytes.
template <typename Item>
void GrowArray(BindingValueContext* context, Item*& items, uint32_t& capacity, size_t needed,
               uint32_t first) {
  if (needed > kMaxElements) ThrowTooManyElements();
  size_t grown = capacity != 0 ? size_t{capacity} * 2 : first;
  if (grown < needed) grown = needed;
  if (grown > kMaxElements) grown = kMaxElements;
  const size_t bytes = grown * sizeof(Item);
  items = static_cast<Item*>(
      items != nullptr ? context->Reallocate(items, size_t{capacity} * sizeof(Item), bytes)
                       : context->Allocate(bytes));
  capacity = static_cast<uint32_t>(grown);
}

}  // namespace

std::string_view BindingValueKindName(BindingValueKind kind) noexcept {
  static constexpr std::string_view kNames[] = {"empty",      "bool",     "signed", "unsigned",
                                                "float",      "string",   "blob",   "enum",
                                                "collection", "structure"};
  const auto code = static_cast<size_t>(kind);
  return code < std::size(kNames) ? kNames[code] : std::string_view("");
}

const BindingValue& SharedEmptyValue() noexcept { return kSharedEmptyValue; }

// ---------------------------------------------------------------- construction

BindingValue::BindingValue(bool value) noexcept : kind_(BindingValueKind::Bool) {
  payload_.boolean = value;
}

BindingValue::BindingValue(double value) noexcept : kind_(BindingValueKind::Float) {
  payload_.f64 = value;
}

BindingValue::BindingValue(std::string_view text) { SetString(text); }

BindingValue::BindingValue(const char* text) {
  SetString(text != nullptr ? std::string_view(text) : std::string_view());
}

BindingValue::BindingValue(std::span<const uint8_t> bytes) { SetBlob(bytes); }

BindingValue::BindingValue(BindingEnumPair value) { SetEnum(value); }

// A copy that fails part way leaves no context behind: the destructor of a value whose
// constructor throws never runs.
BindingValue::BindingValue(const BindingValue& other) {
  try {
    *this = other;
  } catch (...) {
    delete context_;
    throw;
  }
}

BindingValue::BindingValue(BindingValue&& other) {
  if (other.ownsContext_ != 0) {
    payload_ = other.payload_;
    context_ = other.context_;
    kind_ = other.kind_;
    other.payload_.u64 = 0;
    other.context_ = nullptr;
    other.kind_ = BindingValueKind::Empty;
  } else {
    *this = other;
    other.Reset();
  }
}

BindingValue::~BindingValue() {
  if (ownsContext_ == 0 || context_ == nullptr) {
    ReleasePayload();
    return;
  }
  // The whole tree goes with its context, which gives back every page and heap block.
  delete context_;
}

BindingValueContext* BindingValue::EnsureContext() {
  if (context_ == nullptr) context_ = new BindingValueContext();
  return context_;
}

// ---------------------------------------------------------------- release

void BindingValue::ReleasePayload() noexcept {
  switch (kind_) {
    case BindingValueKind::String:
      context_->Release(payload_.string);
      break;
    case BindingValueKind::Blob:
      context_->Free(payload_.blob, BlobBlockSize(payload_.blob->size));
      break;
    case BindingValueKind::Enum:
      context_->Free(payload_.enumPair, sizeof(BindingEnumPair));
      break;
    case BindingValueKind::Collection:
    case BindingValueKind::Structure:
      DestroyContainers(context_, *this);
      break;
    default:
      break;
  }
  kind_ = BindingValueKind::Empty;
  payload_.u64 = 0;
}

// Destroys a container and everything below it without recursion: each container met
// inside the one being destroyed is pushed on one of two lists, of collections and of
// structures, threaded through the containers' own headers, so the walk needs neither
// stack nor heap, whatever the depth.
void BindingValue::DestroyContainers(BindingValueContext* context, BindingValue& root) noexcept {
  PendingLink* collections = nullptr;
  PendingLink* structures = nullptr;
  auto detach = [&collections, &structures](BindingValue& value) {
    if (value.kind_ == BindingValueKind::Collection) {
      value.payload_.collection->next = collections;
      collections = value.payload_.collection;
    } else if (value.kind_ == BindingValueKind::Structure) {
      value.payload_.structure->next = structures;
      structures = value.payload_.structure;
    } else {
      value.ReleasePayload();
      return;
    }
    value.kind_ = BindingValueKind::Empty;
    value.payload_.u64 = 0;
  };
  detach(root);
  while (collections != nullptr || structures != nullptr) {
    if (structures != nullptr) {
      auto* header = static_cast<StructureHeader*>(structures);
      structures = header->next;
      for (uint32_t i = 0; i < header->size; ++i) {
        context->Release(header->items[i].name);
        detach(*header->items[i].value);
        context->Free(header->items[i].value, sizeof(BindingValue));
      }
      context->Free(header->items, size_t{header->capacity} * sizeof(MemberEntry));
      header->~StructureHeader();
      context->Free(header, sizeof(StructureHeader));
    } else {
      auto* header = static_cast<CollectionHeader*>(collections);
      collections = header->next;
      for (uint32_t i = 0; i < header->size; ++i) detach(header->items[i]);
      if (header->items != header->inlineItems()) {
        context->Free(header->items, size_t{header->capacity} * sizeof(BindingValue));
      }
      header->~CollectionHeader();
      context->Free(header, kCollectionBlock);
    }
  }
}

void BindingValue::Reset() noexcept { ReleasePayload(); }

// ---------------------------------------------------------------- scalars

// The new payload is made before the old one is released, so the argument may point into
// this value's own storage.
void BindingValue::SetString(std::string_view text) {
  InternedString* entry = EnsureContext()->Intern(text);
  SetScalar(BindingValueKind::String, Payload{.string = entry});
}

void BindingValue::SetBlob(std::span<const uint8_t> bytes) {
  if (bytes.size() >= UINT32_MAX - sizeof(BlobHeader)) throw std::length_error("blob too long");
  BindingValueContext* context = EnsureContext();
  auto* header = static_cast<BlobHeader*>(context->Allocate(BlobBlockSize(bytes.size())));
  header->size = static_cast<uint32_t>(bytes.size());
  if (!bytes.empty()) std::memcpy(header->bytes(), bytes.data(), bytes.size());
  SetScalar(BindingValueKind::Blob, Payload{.blob = header});
}

void BindingValue::SetEnum(BindingEnumPair value) {
  BindingValueContext* context = EnsureContext();
  auto* pair = new (context->Allocate(sizeof(BindingEnumPair))) BindingEnumPair(value);
  SetScalar(BindingValueKind::Enum, Payload{.enumPair = pair});
}

BindingValue& BindingValue::operator=(bool value) noexcept {
  SetBool(value);
  return *this;
}

BindingValue& BindingValue::operator=(double value) noexcept {
  SetDouble(value);
  return *this;
}

BindingValue& BindingValue::operator=(BindingEnumPair value) {
  SetEnum(value);
  return *this;
}

BindingValue& BindingValue::operator=(std::string_view text) {
  SetString(text);
  return *this;
}

// ---------------------------------------------------------------- reads

size_t BindingValue::size() const noexcept {
  switch (kind_) {
    case BindingValueKind::Empty:
      return 0;
    case BindingValueKind::String:
      return payload_.string->length;
    case BindingValueKind::Blob:
      return payload_.blob->size;
    case BindingValueKind::Collection:
      return payload_.collection->size;
    case BindingValueKind::Structure:
      return payload_.structure->size;
    default:
      return 1;
  }
}

bool BindingValue::AsBool(bool fallback) const noexcept {
  return kind_ == BindingValueKind::Bool ? payload_.boolean : fallback;
}

int64_t BindingValue::AsSigned(int64_t fallback) const noexcept {
  return kind_ == BindingValueKind::Signed ? payload_.i64 : fallback;
}

uint64_t BindingValue::AsUnsigned(uint64_t fallback) const noexcept {
  return kind_ == BindingValueKind::Unsigned ? payload_.u64 : fallback;
}

double BindingValue::AsDouble(double fallback) const noexcept {
  return kind_ == BindingValueKind::Float ? payload_.f64 : fallback;
}

std::string_view BindingValue::AsString() const noexcept {
  return kind_ == BindingValueKind::String ? payload_.string->view() : std::string_view("");
}

const char* BindingValue::AsCString() const noexcept {
  return kind_ == BindingValueKind::String ? payload_.string->c_str() : "";
}

std::span<const uint8_t> BindingValue::AsBlob() const noexcept {
  if (kind_ != BindingValueKind::Blob) return {};
  return {payload_.blob->bytes(), payload_.blob->size};
}

BindingEnumPair BindingValue::AsEnum() const noexcept {
  return kind_ == BindingValueKind::Enum ? *payload_.enumPair : BindingEnumPair{};
}

uint64_t BindingValue::ReadUInt64Lenient(uint64_t fallback) const noexcept {
  switch (kind_) {
    case BindingValueKind::Bool:
      return payload_.boolean ? 1 : 0;
    case BindingValueKind::Signed:
      return static_cast<uint64_t>(payload_.i64);
    case BindingValueKind::Unsigned:
      return payload_.u64;
    case BindingValueKind::Float: {
      const double t = std::trunc(payload_.f64);
      if (t >= -9223372036854775808.0 && t < 9223372036854775808.0) {
        return static_cast<uint64_t>(static_cast<int64_t>(t));
      }
      if (t >= 0 && t < 18446744073709551616.0) return static_cast<uint64_t>(t);
      return fallback;  // NaN, infinities and everything beyond 64 bits
    }
    case BindingValueKind::String:
      return std::strtoull(payload_.string->c_str(), nullptr, 0);
    case BindingValueKind::Enum:
      return static_cast<uint64_t>(static_cast<int64_t>(payload_.enumPair->value));
    default:
      return fallback;
  }
}

// ---------------------------------------------------------------- collections

CollectionHeader* BindingValue::MakeCollection() {
  BindingValueContext* context = EnsureContext();
  auto* header = new (context->Allocate(kCollectionBlock)) CollectionHeader();
  payload_.collection = header;
  kind_ = BindingValueKind::Collection;
  return header;
}

BindingValue& BindingValue::EnsureCollection() {
  if (kind_ != BindingValueKind::Collection) {
    ReleasePayload();
    MakeCollection();
  }
  return *this;
}

void BindingValue::GrowCollection(size_t needed) {
  CollectionHeader* header = payload_.collection;
  if (header->items != header->inlineItems()) {
    GrowArray(context_, header->items, header->capacity, needed, kFirstCapacity);
    return;
  }
  BindingValue* items = nullptr;
  uint32_t capacity = 0;
  GrowArray(context_, items, capacity, needed, kFirstCapacity);
  std::memcpy(static_cast<void*>(items), header->items,
              size_t{header->size} * sizeof(BindingValue));
  header->items = items;
  header->capacity = capacity;
}

void BindingValue::Reserve(size_t count) {
  if (count > kMaxElements) ThrowTooManyElements();
  EnsureCollection();
  if (count > payload_.collection->capacity) GrowCollection(count);
}

BindingValue& BindingValue::AppendElement() {
  EnsureCollection();
  CollectionHeader* header = payload_.collection;
  if (header->size == header->capacity) GrowCollection(size_t{header->size} + 1);
  BindingValue* element =
      new (&header->items[header->size]) BindingValue(SharedContextTag{}, context_);
  ++header->size;
  return *element;
}

const BindingValue& BindingValue::Element(size_t index) const noexcept {
  if (kind_ != BindingValueKind::Collection || index >= payload_.collection->size) {
    return kSharedEmptyValue;
  }
  return payload_.collection->items[index];
}

BindingValue& BindingValue::ElementForWriting(size_t index) {
  if (index >= kMaxElements) ThrowTooManyElements();
  EnsureCollection();
  CollectionHeader* header = payload_.collection;
  if (index >= header->size) {
    if (index >= header->capacity) GrowCollection(index + 1);
    while (header->size <= index) {
      new (&header->items[header->size]) BindingValue(SharedContextTag{}, context_);
      ++header->size;
    }
  }
  return header->items[index];
}

void BindingValue::TruncateElements(size_t count) noexcept {
  if (kind_ != BindingValueKind::Collection) return;
  CollectionHeader* header = payload_.collection;
  while (header->size > count) header->items[--header->size].ReleasePayload();
}

std::span<const BindingValue> BindingValue::Elements() const noexcept {
  if (kind_ != BindingValueKind::Collection) return {};
  return {payload_.collection->items, payload_.collection->size};
}

std::span<BindingValue> BindingValue::ElementsForWriting() noexcept {
  if (kind_ != BindingValueKind::Collection) return {};
  return {payload_.collection->items, payload_.collection->size};
}

// ---------------------------------------------------------------- structures

StructureHeader* BindingValue::MakeStructure() {
  BindingValueContext* context = EnsureContext();
  auto* header = new (context->Allocate(sizeof(StructureHeader))) StructureHeader();
  payload_.structure = header;
  kind_ = BindingValueKind::Structure;
  return header;
}

BindingValue& BindingValue::EnsureStructure() {
  if (kind_ != BindingValueKind::Structure) {
    ReleasePayload();
    MakeStructure();
  }
  return *this;
}

void BindingValue::GrowMembers(size_t needed) {
  StructureHeader* header = payload_.structure;
  GrowArray(context_, header->items, header->capacity, needed, kFirstMemberCapacity);
}

void BindingValue::ReserveMembers(size_t count) {
  if (count > kMaxElements) ThrowTooManyElements();
  EnsureStructure();
  if (count > payload_.structure->capacity) GrowMembers(count);
}

const BindingValue& BindingValue::Member(std::string_view name) const noexcept {
  if (kind_ != BindingValueKind::Structure) return kSharedEmptyValue;
  const MemberEntry* entry = FindEntry(payload_.structure, name);
  return entry != nullptr ? *entry->value : kSharedEmptyValue;
}

bool BindingValue::HasMember(std::string_view name) const noexcept {
  return kind_ == BindingValueKind::Structure && FindEntry(payload_.structure, name) != nullptr;
}

// The name is interned first (before a non-structure is released: the name may be this
// value's own text); its entry then identifies an existing member by address.
BindingValue& BindingValue::MemberForWriting(std::string_view name) {
  return MemberForKey(EnsureContext()->InternName(name));
}

BindingValue& BindingValue::MemberForWriting(std::string_view name, uint32_t nameHash) {
  return MemberForKey(EnsureContext()->InternName(name, nameHash));
}

// Destroys a member's value and releases its name; the entry itself stays for the caller.
void BindingValue::DropMember(const MemberEntry& entry) noexcept {
  entry.value->~BindingValue();
  context_->Free(entry.value, sizeof(BindingValue));
  context_->Release(entry.name);
}

// Takes over one reference to key. Names arriving in ascending order (copies, sorted input)
// are appended without a search; others are inserted in place in a small structure, or
// into the recent run of a large one.
BindingValue& BindingValue::MemberForKey(InternedString* key) {
  const std::string_view name = key->view();
  try {
    EnsureStructure();
    StructureHeader* header = payload_.structure;
    uint32_t index = header->size;
    bool joinsMainRun = true;
    if (header->sorted != header->size ||
        (header->size != 0 && !NameBefore(header->items[header->size - 1].name->view(), name))) {
      MemberEntry* const mainEnd = header->items + header->sorted;
      MemberEntry* entry = LowerBound(header->items, header->sorted, name);
      if (entry != mainEnd && entry->name == key) {
        context_->Release(key);
        return *entry->value;
      }
      MemberEntry* recent = LowerBound(mainEnd, header->size - header->sorted, name);
      if (recent != header->items + header->size && recent->name == key) {
        context_->Release(key);
        return *recent->value;
      }
      if (header->sorted == header->size && header->size <= kSingleRunMembers) {
        index = static_cast<uint32_t>(entry - header->items);
      } else if (header->size - header->sorted < RecentRunLimit(header->size)) {
        index = static_cast<uint32_t>(recent - header->items);
        joinsMainRun = false;
      } else {
        MergeRuns(context_, header);
        joinsMainRun = false;  // the name starts a new recent run at the end
      }
    }
    if (header->size == header->capacity) GrowMembers(size_t{header->size} + 1);
    auto* value =
        new (context_->Allocate(sizeof(BindingValue))) BindingValue(SharedContextTag{}, context_);
    MemberEntry* slot = header->items + index;
    MoveEntries(slot + 1, slot, header->size - index);
    *slot = {key, value};
    ++header->size;
    if (joinsMainRun) ++header->sorted;
    return *value;
  } catch (...) {
    context_->Release(key);
    throw;
  }
}

BindingValue& BindingValue::AppendMemberUnsorted(std::string_view name) {
  InternedString* key = EnsureContext()->InternName(name);
  try {
    EnsureStructure();
    StructureHeader* header = payload_.structure;
    if (header->size == header->capacity) GrowMembers(size_t{header->size} + 1);
    auto* value =
        new (context_->Allocate(sizeof(BindingValue))) BindingValue(SharedContextTag{}, context_);
    header->items[header->size++] = {key, value};
    return *value;
  } catch (...) {
    context_->Release(key);
    throw;
  }
}

// Stable, so that the last of equal names stays last: an insertion sort for the few
// members of most records, a merge sort beyond. Equal names are one interned entry.
void BindingValue::SortMembers() noexcept {
  if (kind_ != BindingValueKind::Structure) return;
  StructureHeader* header = payload_.structure;
  MemberEntry* const items = header->items;
  const uint32_t size = header->size;
  const auto before = [](const MemberEntry& a, const MemberEntry& b) {
    return NameBefore(a.name->view(), b.name->view());
  };
  if (size <= kInsertionSortedMembers) {
    for (uint32_t i = 1; i < size; ++i) {
      const MemberEntry entry = items[i];
      uint32_t j = i;
      for (; j > 0 && before(entry, items[j - 1]); --j) items[j] = items[j - 1];
      items[j] = entry;
    }
  } else if (!std::is_sorted(items, items + size, before)) {
    std::stable_sort(items, items + size, before);
  }
  uint32_t kept = 0;
  for (uint32_t i = 0; i < size; ++i) {
    if (i + 1 < size && items[i + 1].name == items[i].name) {
      DropMember(items[i]);
      continue;
    }
    items[kept++] = items[i];
  }
  header->size = kept;
  header->sorted = kept;
}

bool BindingValue::RemoveMember(std::string_view name) noexcept {
  if (kind_ != BindingValueKind::Structure) return false;
  StructureHeader* header = payload_.structure;
  MemberEntry* entry = FindEntry(header, name);
  if (entry == nullptr) return false;
  const auto index = static_cast<uint32_t>(entry - header->items);
  DropMember(*entry);
  MoveEntries(entry, entry + 1, header->size - index - 1);
  --header->size;
  if (index < header->sorted) --header->sorted;
  return true;
}

BindingMemberRange BindingValue::Members() const noexcept {
  if (kind_ != BindingValueKind::Structure) return {};
  const StructureHeader* header = payload_.structure;
  const MemberEntry* mainEnd = header->items + header->sorted;
  const MemberEntry* end = header->items + header->size;
  return {BindingMemberRange::iterator(header->items, mainEnd, mainEnd, end),
          BindingMemberRange::iterator(mainEnd, mainEnd, end, end)};
}

MutableBindingMemberRange BindingValue::MembersForWriting() noexcept {
  if (kind_ != BindingValueKind::Structure) return {};
  StructureHeader* header = payload_.structure;
  MemberEntry* mainEnd = header->items + header->sorted;
  MemberEntry* end = header->items + header->size;
  return {MutableBindingMemberRange::iterator(header->items, mainEnd, mainEnd, end),
          MutableBindingMemberRange::iterator(mainEnd, mainEnd, end, end)};
}

// ---------------------------------------------------------------- copy and move

// Copies source into this empty value, whose context is set. Strings of the same context
// gain a reference; strings of another context are interned here with their known hash.
// On an exception this value holds a consistent partial copy, which its owner releases.
void BindingValue::CopyTreeFrom(const BindingValue& source) {
  switch (source.kind_) {
    case BindingValueKind::String:
      if (source.context_ == context_) {
        BindingValueContext::Retain(source.payload_.string);
        payload_.string = source.payload_.string;
      } else {
        payload_.string =
            context_->Intern(source.payload_.string->view(), source.payload_.string->hash);
      }
      kind_ = BindingValueKind::String;
      return;
    case BindingValueKind::Blob:
      SetBlob(source.AsBlob());
      return;
    case BindingValueKind::Enum:
      SetEnum(*source.payload_.enumPair);
      return;
    case BindingValueKind::Collection: {
      const CollectionHeader* from = source.payload_.collection;
      CollectionHeader* to = MakeCollection();
      if (from->size > to->capacity) GrowCollection(from->size);
      for (uint32_t i = 0; i < from->size; ++i) {
        BindingValue* element = new (&to->items[i]) BindingValue(SharedContextTag{}, context_);
        ++to->size;
        element->CopyTreeFrom(from->items[i]);
      }
      return;
    }
    case BindingValueKind::Structure: {
      const uint32_t count = source.payload_.structure->size;
      StructureHeader* to = MakeStructure();
      if (count != 0) GrowMembers(count);
      const bool sameContext = source.context_ == context_;
      const BindingMemberRange members = source.Members();
      for (auto it = members.begin(); it != members.end(); ++it) {
        const MemberEntry& from = it.entry();
        InternedString* key = from.name;
        if (sameContext) {
          BindingValueContext::Retain(key);
        } else {
          key = context_->InternName(key->view(), key->hash);
        }
        BindingValue* value;
        try {
          value = new (context_->Allocate(sizeof(BindingValue)))
              BindingValue(SharedContextTag{}, context_);
        } catch (...) {
          context_->Release(key);
          throw;
        }
        to->items[to->size] = {key, value};
        ++to->size;
        ++to->sorted;
        value->CopyTreeFrom(*from.value);
      }
      return;
    }
    default:
      payload_ = source.payload_;
      kind_ = source.kind_;
      return;
  }
}

void BindingValue::InstallFrom(BindingValue& node) noexcept {
  ReleasePayload();
  payload_ = node.payload_;
  kind_ = node.kind_;
  node.payload_.u64 = 0;
  node.kind_ = BindingValueKind::Empty;
}

// The copy is built in a scratch node of this value's context and installed only when
// complete, so the source may lie inside this value's own tree.
BindingValue& BindingValue::operator=(const BindingValue& other) {
  if (this == &other) return *this;
  switch (other.kind_) {
    case BindingValueKind::String:
    case BindingValueKind::Blob:
    case BindingValueKind::Enum:
    case BindingValueKind::Collection:
    case BindingValueKind::Structure: {
      BindingValue node(SharedContextTag{}, EnsureContext());
      node.CopyTreeFrom(other);
      InstallFrom(node);
      return *this;
    }
    default:
      SetScalar(other.kind_, other.payload_);
      return *this;
  }
}

BindingValue& BindingValue::operator=(BindingValue&& other) {
  MoveFrom(other);
  return *this;
}

void BindingValue::MoveFrom(BindingValue& other) {
  if (this == &other) return;
  if (ownsContext_ != 0 && other.ownsContext_ != 0) {
    std::swap(payload_, other.payload_);
    std::swap(context_, other.context_);
    std::swap(kind_, other.kind_);
    return;
  }
  if (context_ != nullptr && context_ == other.context_) {
    BindingValue node(SharedContextTag{}, context_);
    node.payload_ = other.payload_;
    node.kind_ = other.kind_;
    other.payload_.u64 = 0;
    other.kind_ = BindingValueKind::Empty;
    InstallFrom(node);
    return;
  }
  *this = other;
  other.Reset();
}

void BindingValue::Swap(BindingValue& other) {
  if (this == &other) return;
  if (ownsContext_ != 0 && other.ownsContext_ != 0) {
    MoveFrom(other);
    return;
  }
  BindingValue saved(*this);
  *this = other;
  other = saved;
}

// ---------------------------------------------------------------- comparison

bool BindingValue::Equals(const BindingValue& other) const noexcept {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case BindingValueKind::Empty:
      return true;
    case BindingValueKind::Bool:
      return payload_.boolean == other.payload_.boolean;
    case BindingValueKind::Signed:
      return payload_.i64 == other.payload_.i64;
    case BindingValueKind::Unsigned:
      return payload_.u64 == other.payload_.u64;
    case BindingValueKind::Float:
      return payload_.f64 == other.payload_.f64;
    case BindingValueKind::String:
      return payload_.string == other.payload_.string ||
             payload_.string->view() == other.payload_.string->view();
    case BindingValueKind::Blob: {
      const auto a = AsBlob();
      const auto b = other.AsBlob();
      return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
    }
    case BindingValueKind::Enum: {
      const BindingEnumPair a = *payload_.enumPair;
      const BindingEnumPair b = *other.payload_.enumPair;
      const uint32_t aId = a.type != nullptr ? a.type->id : 0;
      const uint32_t bId = b.type != nullptr ? b.type->id : 0;
      return a.value == b.value && aId == bId;
    }
    case BindingValueKind::Collection: {
      const auto a = Elements();
      const auto b = other.Elements();
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (!a[i].Equals(b[i])) return false;
      }
      return true;
    }
    case BindingValueKind::Structure: {
      if (payload_.structure->size != other.payload_.structure->size) return false;
      const BindingMemberRange a = Members();
      const BindingMemberRange b = other.Members();
      for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        const BindingMember x = *i;
        const BindingMember y = *j;
        if (x.name != y.name || !x.value.Equals(y.value)) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace mau
