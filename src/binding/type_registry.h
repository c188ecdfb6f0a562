// BindingTypeRegistry: the descriptors of every native record, enum and event that a
// plug-in exchanges through the binding layer, and the names of binding types.
//
// Conversion (field_converters.h) walks a record's field table to turn a BindingValue
// into the record and back; help and exports are rendered from the same descriptors; the
// call dispatcher finds parameter and result types here. Registration is idempotent: a
// type or event registered again under a known name keeps its first descriptor, and the
// second builder is inert.
//
// Plug-in code describes its records with the typed builders of record_builder.h; the
// BindingTypeBuilder below is the layer underneath, for generated or builtin descriptors.
//
// Threads: one mutex guards the registry's indexes. Registration and lookup hold it for
// the index operation only: a builder fills its descriptor after releasing it, on the
// registering thread, while other threads may already find the descriptor by name.
// Register at load time, before other threads look types up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/static_type_key.h"

namespace mau {

class BindingResult;
class BindingValue;
class BindingTypeRegistry;
struct BindingTypeDescriptor;

enum class BindingTypeId : uint32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,  // a BindingValue field
  Blob = 14,    // a byte vector
  Vector = 15,
  Enum = 16,
  Struct = 17,
  Callback = 18,
  Map = 19,
};

// The type of a field, parameter, result or event payload. Vector and map carry their
// element's id in elementId; enum and struct (also as an element) carry the descriptor,
// null when the type is not registered. An element cannot carry an element of its own.
struct BindingTypeRef {
  BindingTypeId id = BindingTypeId::None;
  BindingTypeId elementId = BindingTypeId::None;
  const BindingTypeDescriptor* descriptor = nullptr;
};

// Field flags.
inline constexpr uint32_t kBindingFieldOmitWhenEmpty = 1;  // left out of values when empty
inline constexpr uint32_t kBindingFieldRequired = 2;       // assigning without it fails

// Converts one native field type. Each rule reports into a BindingResult; see
// field_converters.h for the rules and their messages.
class FieldConverter {
 public:
  virtual ~FieldConverter() = default;

  // Sets the native field at `field` from value. typeInfo is the descriptor of the field's
  // struct or enum type (or of its element type), null when unregistered.
  virtual void Assign(BindingResult& result, void* field, const BindingValue& value,
                      std::string_view fieldName, const BindingTypeDescriptor* typeInfo,
                      const BindingTypeRegistry& registry, uint32_t flags) const = 0;

  // Builds the field's value into out, which is result's value or a node inside it. On
  // failure result is failed, which releases its old value, out included: check
  // result.ok() before touching out again.
  virtual void ToValue(BindingResult& result, BindingValue& out, const void* field,
                       const BindingTypeDescriptor* typeInfo,
                       const BindingTypeRegistry& registry) const = 0;
};

struct BindingEnumerator {
  int32_t value = 0;
  std::string name;
  std::string description;
  const BindingTypeDescriptor* owner = nullptr;
};

struct BindingFieldDescriptor {
  std::string name;
  uint32_t nameHash = 0;  // FNV-1a of name
  std::string description;
  const StaticTypeKey* staticKey = nullptr;  // of the field's native type
  uint32_t offset = 0;                       // in the native record
  BindingTypeRef type;
  BindingTypeRef secondaryType;  // all zero unless given with an id other than None
  uint32_t flags = 0;            // kBindingField*
  std::unique_ptr<const FieldConverter> converter;
  const BindingTypeDescriptor* owner = nullptr;
  bool optional = false;  // shown by the help; conversion ignores it
};

// One registered struct or enum, owned by the registry.
struct BindingTypeDescriptor {
  uint32_t nativeSize = 0;
  bool isEnum = false;
  std::string name;
  uint32_t typeId = 0;
  const StaticTypeKey* staticKey = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;               // in the order added, never empty texts
  std::vector<BindingFieldDescriptor> fields;  // structs: in registration order
  // Enums: by name, byte-wise ascending.
  std::map<std::string, BindingEnumerator, std::less<>> enumerators;
  BindingTypeRegistry* registry = nullptr;

  // Whether some enumerator has this value.
  bool HasEnumeratorValue(int64_t value) const noexcept;
  // The first enumerator in name order with this value, or null.
  const BindingEnumerator* FindEnumeratorByValue(int64_t value) const noexcept;
  const BindingFieldDescriptor* FindField(std::string_view fieldName) const noexcept;
};

struct BindingEventDescriptor {
  std::string name;
  const BindingTypeDescriptor* payload = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

// Fills one type descriptor. Inert (every call skipped) when the name was registered
// before or the registration was refused; state() tells which.
class BindingTypeBuilder {
 public:
  enum class State : uint8_t {
    Created,   // a new descriptor, being filled by this builder
    Existing,  // the name was registered before; that descriptor is kept unchanged
    Refused,   // the static type id collides with another type's; nothing was registered
  };

  State state() const noexcept { return state_; }
  bool active() const noexcept { return state_ == State::Created; }
  // The new or existing descriptor; null when refused.
  const BindingTypeDescriptor* descriptor() const noexcept { return descriptor_; }

  // Inserts the enumerator, or overwrites the value and description of one of that name.
  BindingTypeBuilder& AddEnumerator(std::string_view name, int32_t value,
                                    std::string_view description = {});
  BindingTypeBuilder& AddField(std::string_view name, std::string_view description, uint32_t offset,
                               const StaticTypeKey& staticKey, BindingTypeRef type,
                               BindingTypeRef secondaryType, uint32_t flags,
                               std::unique_ptr<const FieldConverter> converter, bool optional);
  BindingTypeBuilder& SetDescription(std::string_view text);
  BindingTypeBuilder& SetNamespace(std::string_view text);
  BindingTypeBuilder& AddTag(std::string_view text);  // an empty text is ignored

 private:
  friend class BindingTypeRegistry;
  BindingTypeBuilder(BindingTypeDescriptor* descriptor, State state) noexcept
      : descriptor_(descriptor), state_(state) {}

  BindingTypeDescriptor* descriptor_;
  State state_;
};

// Fills one event descriptor; inert when the event existed.
class BindingEventBuilder {
 public:
  bool existed() const noexcept { return existed_; }
  const BindingEventDescriptor* descriptor() const noexcept { return descriptor_; }

  BindingEventBuilder& SetDescription(std::string_view text);
  BindingEventBuilder& SetNamespace(std::string_view text);
  BindingEventBuilder& AddTag(std::string_view text);  // an empty text is ignored

 private:
  friend class BindingTypeRegistry;
  BindingEventBuilder(BindingEventDescriptor* descriptor, bool existed) noexcept
      : descriptor_(descriptor), existed_(existed) {}

  BindingEventDescriptor* descriptor_;
  bool existed_;
};

template <typename T>
class RecordBuilder;
template <typename E>
class EnumBuilder;

class BindingTypeRegistry {
 public:
  BindingTypeRegistry();
  ~BindingTypeRegistry();
  BindingTypeRegistry(const BindingTypeRegistry&) = delete;
  BindingTypeRegistry& operator=(const BindingTypeRegistry&) = delete;

  // Starts a type. A known name gives an inert builder over the existing descriptor. A
  // static type id that another registered type already uses (or a type that claims the
  // reserved id without being the reserved key) is refused with a message kept in
  // RegistrationErrors(). Types with the reserved key stay out of the by-id index.
  [[nodiscard]] BindingTypeBuilder BeginType(uint32_t nativeSize, std::string_view name,
                                             const StaticTypeKey& staticKey, bool isEnum);

  // Registers an event, or returns an inert builder over the one of that name.
  [[nodiscard]] BindingEventBuilder RegisterEvent(std::string_view name,
                                                  const BindingTypeDescriptor* payload);

  // The typed builders of record_builder.h.
  template <typename T>
  RecordBuilder<T> Record(std::string_view name);
  template <typename E>
  EnumBuilder<E> Enum(std::string_view name);
  // An event whose payload is the registered type T.
  template <typename T>
  BindingEventBuilder Event(std::string_view name) {
    return RegisterEvent(name, FindTypeById(StaticTypeKeyOf<T>().id));
  }

  const BindingTypeDescriptor* FindType(std::string_view name) const;
  const BindingTypeDescriptor* FindTypeById(uint32_t staticTypeId) const;
  template <typename T>
  const BindingTypeDescriptor* Find() const {
    return FindTypeById(StaticTypeKeyOf<T>().id);
  }
  // The first enumerator in name order of the enum with that static type id whose value
  // matches, or null.
  const BindingEnumerator* FindEnumerator(uint32_t staticTypeId, int64_t value) const;
  const BindingEventDescriptor* FindEvent(std::string_view name) const;

  // Snapshots in registration order; the descriptors live as long as the registry (or
  // until Reset).
  std::vector<const BindingTypeDescriptor*> Types() const;
  std::vector<const BindingEventDescriptor*> Events() const;
  // Messages of refused registrations, oldest first.
  std::vector<std::string> RegistrationErrors() const;

  // Removes every event and destroys every type descriptor.
  void Reset();

 private:
  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept;
  };

  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<BindingEventDescriptor>, StringHash,
                     std::equal_to<>>
      eventsByName_;
  std::vector<BindingEventDescriptor*> eventList_;
  std::unordered_map<std::string, std::unique_ptr<BindingTypeDescriptor>, StringHash,
                     std::equal_to<>>
      typesByName_;
  std::vector<BindingTypeDescriptor*> typeList_;
  std::unordered_map<uint32_t, BindingTypeDescriptor*> typesById_;
  std::vector<std::string> registrationErrors_;
};

// The name of a type id in the native help format: "bool" ... "map"; the empty text
// outside 1..19.
std::string_view NativeTypeName(BindingTypeId id) noexcept;

// The type identifier of the native (Full) help format: the type text and, for vector
// and map, the element's type text. Enum and struct give the registered name ("enum" or
// "struct" when the descriptor is absent).
struct BindingTypeIdentifier {
  std::string type;
  std::string elementType;
};
BindingTypeIdentifier FullTypeIdentifier(const BindingTypeRef& type);

// The epytext name: scalar names as in the native form except "bytearray" for blob,
// "list[%1]" and "dict[%1]" around the element's epytext name, "L{%1}" around the
// registered name of an enum or struct (its native name when the descriptor is absent);
// the empty text outside 1..19.
std::string EpytextTypeName(const BindingTypeRef& type);

}  // namespace mau
