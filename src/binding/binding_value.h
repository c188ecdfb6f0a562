// BindingValue: the one dynamic value of the binding layer. Host requests and events,
// call arguments and bodies, JSON, MessagePack and YAML texts and help records all pass
// through it on their way to and from native records.
//
// A value is empty, bool, signed or unsigned 64-bit, float (double), string, blob, enum
// (32-bit value with its enum's static type key), collection (ordered elements) or
// structure (members ordered by name, byte-wise). A structure keeps its members' names
// and value references in one array sorted by name. Once it has held more than 32
// members, members that arrive out of order gather in a short second sorted run that
// merges into the first when it grows past about the square root of the member count, so
// that building any structure costs at most n^1.5 moves; a builder that adds all of a
// structure's members in one go may append them unsorted and sort them once at the end
// instead (AppendMemberUnsorted). Member values stay where they were created.
//
// A free-standing value owns the storage of its whole tree, a BindingValueContext created
// the first time the tree needs one; the elements and members of the tree share it.
// Reading a missing element or member yields a shared empty value; the *ForWriting
// operations create what is missing.
//
//   mau::BindingValue champion;
//   champion.MemberForWriting("id") = 103;
//   champion.MemberForWriting("name") = "Sable";
//   champion.MemberForWriting("roles").AppendElement() = "mage";
//   champion.Member("name").AsString();          // "Sable"
//   champion.Member("missing").kind();           // BindingValueKind::Empty
//
// Copying re-interns strings in the target's context; moving between two values that own
// their contexts swaps them without copying. Destroying a tree walks it without recursion,
// whatever its depth. Copying and comparing recurse once per nesting level with a small
// frame; the readers and the host conversion never produce trees deeper than 512 levels.
//
// Threads: a tree and its context are used by one thread at a time; nothing here locks
// except the process-wide page source behind the slot pools.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/binding_value_context.h"
#include "binding/static_type_key.h"

namespace mau {

enum class BindingValueKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// The kind's name used in messages ("empty" ... "structure"); the empty text for a code
// outside 0..9.
std::string_view BindingValueKindName(BindingValueKind kind) noexcept;

struct BindingEnumPair {
  int32_t value = 0;
  const StaticTypeKey* type = nullptr;
};

// Integers other than bool: signed ones become kind signed, unsigned ones kind unsigned.
template <typename T>
concept BindingInteger = std::integral<T> && !std::same_as<T, bool>;

class BindingValue;
class BindingMemberRange;
class MutableBindingMemberRange;

namespace binding_value_internal {

// Member names are short: compare them byte by byte (as unsigned characters) without a
// call to memcmp.
inline bool NameBefore(std::string_view a, std::string_view b) noexcept {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

struct PendingLink;
struct MemberEntry;
struct CollectionHeader;
struct StructureHeader;
struct BlobHeader;

// Selects the constructor of a value that shares a tree's context.
struct SharedContextTag {};

}  // namespace binding_value_internal

class BindingValue {
 public:
  constexpr BindingValue() noexcept = default;
  BindingValue(bool value) noexcept;
  template <BindingInteger T>
  BindingValue(T value) noexcept;
  BindingValue(double value) noexcept;
  BindingValue(std::string_view text);
  BindingValue(const char* text);
  BindingValue(const std::string& text) : BindingValue(std::string_view(text)) {}
  explicit BindingValue(std::span<const uint8_t> bytes);
  BindingValue(BindingEnumPair value);
  BindingValue(const BindingValue& other);
  // Takes other's tree without copying when other owns its context; otherwise copies it.
  // other is left empty.
  BindingValue(BindingValue&& other);
  ~BindingValue();

  // Deep copy into this value's context; other may lie inside this value's own tree.
  BindingValue& operator=(const BindingValue& other);
  // When both own their contexts the two values are swapped; when both belong to the same
  // tree the payload moves; otherwise other is copied and then reset. other must not
  // contain this value.
  BindingValue& operator=(BindingValue&& other);
  BindingValue& operator=(bool value) noexcept;
  template <BindingInteger T>
  BindingValue& operator=(T value) noexcept;
  BindingValue& operator=(double value) noexcept;
  BindingValue& operator=(std::string_view text);
  BindingValue& operator=(const char* text) {
    return *this = std::string_view(text != nullptr ? text : "");
  }
  BindingValue& operator=(const std::string& text) { return *this = std::string_view(text); }
  BindingValue& operator=(BindingEnumPair value);

  BindingValueKind kind() const noexcept { return kind_; }
  bool is_empty() const noexcept { return kind_ == BindingValueKind::Empty; }
  // Empty 0; string its length in bytes; blob its byte count; collection its element
  // count; structure its member count; every other kind 1.
  size_t size() const noexcept;

  // Typed reads: the payload when the kind matches, else the default. Nothing converts.
  bool AsBool(bool fallback = false) const noexcept;
  int64_t AsSigned(int64_t fallback = 0) const noexcept;
  uint64_t AsUnsigned(uint64_t fallback = 0) const noexcept;
  double AsDouble(double fallback = 0.0) const noexcept;
  // Valid while the value holds the string. Strings are NUL-terminated (AsCString).
  std::string_view AsString() const noexcept;
  const char* AsCString() const noexcept;
  std::span<const uint8_t> AsBlob() const noexcept;
  BindingEnumPair AsEnum() const noexcept;

  // Reads a number leniently: bool 0 or 1; signed and unsigned their 64 bits; float
  // truncated toward zero (the default when that leaves the 64-bit range or is NaN;
  // negative values wrap like signed ones); string by strtoull in base 0, trailing text
  // ignored; enum its value sign-extended; any other kind the default.
  uint64_t ReadUInt64Lenient(uint64_t fallback = 0) const noexcept;

  // Sets a new kind and payload, releasing the old payload first.
  void Reset() noexcept;
  void SetBool(bool value) noexcept {
    Payload payload{.u64 = 0};
    payload.boolean = value;
    SetScalar(BindingValueKind::Bool, payload);
  }
  void SetSigned(int64_t value) noexcept {
    SetScalar(BindingValueKind::Signed, Payload{.i64 = value});
  }
  void SetUnsigned(uint64_t value) noexcept {
    SetScalar(BindingValueKind::Unsigned, Payload{.u64 = value});
  }
  void SetDouble(double value) noexcept {
    SetScalar(BindingValueKind::Float, Payload{.f64 = value});
  }
  void SetString(std::string_view text);
  void SetBlob(std::span<const uint8_t> bytes);
  void SetEnum(BindingEnumPair value);

  // Collections. Element(i) is the shared empty value unless this is a collection with
  // more than i elements. ElementForWriting(i) turns a non-collection into an empty
  // collection (dropping its content) and appends empty elements until i exists.
  // References to elements stay valid until the collection grows or is released.
  const BindingValue& Element(size_t index) const noexcept;
  BindingValue& ElementForWriting(size_t index);
  BindingValue& AppendElement();
  // Room for count elements (a non-collection becomes an empty collection first); more
  // than 0x0FFFFFFF elements raise std::length_error.
  void Reserve(size_t count);
  // Drops the elements from index count on; nothing happens to anything but a collection
  // of more than count elements.
  void TruncateElements(size_t count) noexcept;
  std::span<const BindingValue> Elements() const noexcept;
  std::span<BindingValue> ElementsForWriting() noexcept;

  // Structures. Member(name) is the shared empty value unless this is a structure with
  // that member. MemberForWriting(name) turns a non-structure into an empty structure and
  // inserts an empty member when it is missing. Member references stay valid until the
  // member is removed or the structure released.
  const BindingValue& Member(std::string_view name) const noexcept;
  BindingValue& MemberForWriting(std::string_view name);
  // The same with the name's FNV-1a hash known already (a field descriptor keeps it).
  BindingValue& MemberForWriting(std::string_view name, uint32_t nameHash);
  bool HasMember(std::string_view name) const noexcept;
  // Room for count members (a non-structure becomes an empty structure first); more than
  // 0x0FFFFFFF members raise std::length_error.
  void ReserveMembers(size_t count);
  bool RemoveMember(std::string_view name) noexcept;
  // Members in ascending name order. A range stays valid until a member is added to or
  // removed from the structure (the members' values stay valid longer, see above).
  BindingMemberRange Members() const noexcept;
  MutableBindingMemberRange MembersForWriting() noexcept;

  // Turns a value of another kind into an empty collection or structure; a value that is
  // one already keeps its content. For builders such as the readers.
  BindingValue& EnsureCollection();
  BindingValue& EnsureStructure();
  // For builders that receive a structure's members one after another (the JSON reader):
  // appends a member without looking for its name or keeping the name order, turning a
  // non-structure into an empty structure first. Until SortMembers the structure may hold
  // its members out of order and a name more than once; nothing but these two and
  // destruction may touch it meanwhile.
  BindingValue& AppendMemberUnsorted(std::string_view name);
  // Puts the members in name order; of a name appended more than once only the last
  // member stays.
  void SortMembers() noexcept;

  // Deep equality: same kind and payload; strings and blobs by bytes; enums by value and
  // key; structures by member names and values.
  bool Equals(const BindingValue& other) const noexcept;
  friend bool operator==(const BindingValue& a, const BindingValue& b) noexcept {
    return a.Equals(b);
  }

  // Exchanges the two values: in place when both own their contexts, otherwise by copies.
  void Swap(BindingValue& other);

  bool owns_context() const noexcept { return ownsContext_ != 0; }
  // The storage of this value's tree; null until a free-standing value first needs one.
  const BindingValueContext* context() const noexcept { return context_; }

  // A value sharing context with a tree; used for elements, members and scratch nodes.
  BindingValue(binding_value_internal::SharedContextTag, BindingValueContext* context) noexcept
      : context_(context), ownsContext_(0) {}

 private:
  union Payload {
    bool boolean;
    int64_t i64;
    uint64_t u64;
    double f64;
    InternedString* string;
    binding_value_internal::BlobHeader* blob;
    BindingEnumPair* enumPair;
    binding_value_internal::CollectionHeader* collection;
    binding_value_internal::StructureHeader* structure;
  };

  static void DestroyContainers(BindingValueContext* context, BindingValue& root) noexcept;

  BindingValueContext* EnsureContext();
  void ReleasePayload() noexcept;
  // Only strings and the kinds after them hold storage that needs releasing.
  void SetScalar(BindingValueKind kind, Payload payload) noexcept {
    if (kind_ >= BindingValueKind::String) ReleasePayload();
    payload_ = payload;
    kind_ = kind;
  }
  void CopyTreeFrom(const BindingValue& source);
  void InstallFrom(BindingValue& node) noexcept;
  void MoveFrom(BindingValue& other);
  void GrowCollection(size_t needed);
  void GrowMembers(size_t needed);
  BindingValue& MemberForKey(InternedString* key);
  void DropMember(const binding_value_internal::MemberEntry& entry) noexcept;
  binding_value_internal::CollectionHeader* MakeCollection();
  binding_value_internal::StructureHeader* MakeStructure();

  Payload payload_{.u64 = 0};
  BindingValueContext* context_ = nullptr;
  BindingValueKind kind_ = BindingValueKind::Empty;
  uint8_t ownsContext_ = 1;
};

// The value read for a missing element or member. Read-only.
const BindingValue& SharedEmptyValue() noexcept;

namespace binding_value_internal {

// One member of a structure: its interned name and its value, which lives in a slot of
// the tree's context so that it stays in place while the array moves.
struct MemberEntry {
  InternedString* name;
  BindingValue* value;
};

// Walks the two sorted runs of a structure's members as one sequence in name order.
template <typename Entry, typename Member>
class MemberIterator {
 public:
  MemberIterator() = default;
  MemberIterator(Entry* first, Entry* firstEnd, Entry* second, Entry* secondEnd)
      : a_(first), aEnd_(firstEnd), b_(second), bEnd_(secondEnd) {}
  Member operator*() const {
    Entry* entry = Current();
    return {entry->name->view(), *entry->value};
  }
  Entry& entry() const { return *Current(); }
  MemberIterator& operator++() {
    if (FirstRunNext()) {
      ++a_;
    } else {
      ++b_;
    }
    return *this;
  }
  bool operator==(const MemberIterator& other) const { return a_ == other.a_ && b_ == other.b_; }

 private:
  // Whether the next member comes from the first run. (The first run's end is the second
  // run's start, so the runs are told apart by their ends, never by addresses alone.)
  bool FirstRunNext() const {
    if (b_ == bEnd_) return true;
    if (a_ == aEnd_) return false;
    return NameBefore(a_->name->view(), b_->name->view());
  }
  Entry* Current() const { return FirstRunNext() ? a_ : b_; }

  Entry* a_ = nullptr;
  Entry* aEnd_ = nullptr;
  Entry* b_ = nullptr;
  Entry* bEnd_ = nullptr;
};

}  // namespace binding_value_internal

struct BindingMember {
  std::string_view name;
  const BindingValue& value;
};

struct MutableBindingMember {
  std::string_view name;
  BindingValue& value;
};

template <typename Iterator>
class BasicBindingMemberRange {
 public:
  using iterator = Iterator;
  BasicBindingMemberRange() = default;
  BasicBindingMemberRange(iterator first, iterator last) : begin_(first), end_(last) {}
  iterator begin() const { return begin_; }
  iterator end() const { return end_; }

 private:
  iterator begin_{};
  iterator end_{};
};

class BindingMemberRange : public BasicBindingMemberRange<binding_value_internal::MemberIterator<
                               const binding_value_internal::MemberEntry, BindingMember>> {
  using BasicBindingMemberRange::BasicBindingMemberRange;
};

class MutableBindingMemberRange
    : public BasicBindingMemberRange<binding_value_internal::MemberIterator<
          binding_value_internal::MemberEntry, MutableBindingMember>> {
  using BasicBindingMemberRange::BasicBindingMemberRange;
};

template <BindingInteger T>
BindingValue::BindingValue(T value) noexcept {
  if constexpr (std::is_signed_v<T>) {
    kind_ = BindingValueKind::Signed;
    payload_.i64 = static_cast<int64_t>(value);
  } else {
    kind_ = BindingValueKind::Unsigned;
    payload_.u64 = static_cast<uint64_t>(value);
  }
}

template <BindingInteger T>
BindingValue& BindingValue::operator=(T value) noexcept {
  if constexpr (std::is_signed_v<T>) {
    SetSigned(static_cast<int64_t>(value));
  } else {
    SetUnsigned(static_cast<uint64_t>(value));
  }
  return *this;
}

}  // namespace mau
