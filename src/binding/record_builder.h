// Describing native records and enums to a BindingTypeRegistry: name each field once with
// its member pointer, and the builder derives the offset, the type reference and the
// converter from the member's type.
//
//   enum class Lane : int32_t { Top = 1, Middle = 2, Bottom = 3 };
//   struct Stats { int32_t attack = 0; int32_t defense = 0; };
//   struct Champion {
//     int32_t id = 0;
//     std::string name;
//     Lane lane = Lane::Top;
//     Stats stats;
//     std::vector<std::string> roles;
//     mau::BindingValue extra;
//   };
//
//   registry.Enum<Lane>("Lane").Value("Top", Lane::Top).Value("Middle", Lane::Middle);
//   registry.Record<Stats>("Stats").Field("attack", &Stats::attack).Field("defense",
//   &Stats::defense); registry.Record<Champion>("Champion")
//       .Description("A playable character.")
//       .Tag("game-data")
//       .Field("id", &Champion::id, {.description = "Numeric id", .required = true})
//       .Field("name", &Champion::name)
//       .Field("lane", &Champion::lane)
//       .Field("stats", &Champion::stats)
//       .Field("roles", &Champion::roles, {.omitWhenEmpty = true})
//       .Field("extra", &Champion::extra);
//
// Register nested records and enums before the records that use them, so their type
// references (shown by the help) name them; conversion finds them either way.
//
// Field types: bool; integers of 8 to 64 bits; float; double; std::string;
// std::vector<uint8_t> (blob); 32-bit enums; BindingValue (object); registered records; and
// std::vector of those except blob. Anything else fails to compile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/field_converters.h"
#include "binding/static_type_key.h"
#include "binding/type_registry.h"

namespace mau {

struct FieldOptions {
  std::string_view description = {};
  bool required = false;       // assigning from a structure without the member fails
  bool omitWhenEmpty = false;  // the member is left out of values when empty
  bool optional = false;       // shown as optional by the help
};

namespace record_builder_internal {

// Storage shaped like a T, in which member addresses are computed; no T is constructed.
template <typename T>
struct Probe {
  alignas(T) static inline unsigned char bytes[sizeof(T)];
};

// The byte offset of a member within T, also for members of a base class of T.
template <typename T, typename M, typename C>
size_t OffsetOf(M C::*member) {
  static_assert(std::is_base_of_v<C, T>, "the member must belong to the record or a base");
  const T* record = reinterpret_cast<const T*>(Probe<T>::bytes);
  const auto* field = reinterpret_cast<const unsigned char*>(&(record->*member));
  return static_cast<size_t>(field - Probe<T>::bytes);
}

}  // namespace record_builder_internal

template <typename T>
class RecordBuilder {
 public:
  explicit RecordBuilder(BindingTypeRegistry& registry, std::string_view name)
      : registry_(registry),
        builder_(registry.BeginType(sizeof(T), name, StaticTypeKeyOf<T>(), false)) {}

  // Created, Existing (the name was registered before; this builder is inert) or Refused.
  BindingTypeBuilder::State state() const noexcept { return builder_.state(); }
  const BindingTypeDescriptor* descriptor() const noexcept { return builder_.descriptor(); }

  template <typename M, typename C>
  RecordBuilder& Field(std::string_view name, M C::*member, const FieldOptions& options = {}) {
    if (!builder_.active()) return *this;
    uint32_t flags = 0;
    if (options.omitWhenEmpty) flags |= kBindingFieldOmitWhenEmpty;
    if (options.required) flags |= kBindingFieldRequired;
    builder_.AddField(name, options.description,
                      static_cast<uint32_t>(record_builder_internal::OffsetOf<T>(member)),
                      StaticTypeKeyOf<M>(), TypeRefOf<M>(registry_), BindingTypeRef{}, flags,
                      MakeFieldConverter<M>(), options.optional);
    return *this;
  }
  template <typename M, typename C>
  RecordBuilder& Field(std::string_view name, M C::*member, std::string_view description) {
    return Field(name, member, FieldOptions{.description = description});
  }

  RecordBuilder& Description(std::string_view text) {
    builder_.SetDescription(text);
    return *this;
  }
  RecordBuilder& Namespace(std::string_view text) {
    builder_.SetNamespace(text);
    return *this;
  }
  RecordBuilder& Tag(std::string_view text) {
    builder_.AddTag(text);
    return *this;
  }
  RecordBuilder& Tags(std::span<const std::string> texts) {
    for (const std::string& text : texts) builder_.AddTag(text);
    return *this;
  }

 private:
  BindingTypeRegistry& registry_;
  BindingTypeBuilder builder_;
};

template <typename E>
class EnumBuilder {
  static_assert(std::is_enum_v<E> && sizeof(E) == sizeof(int32_t),
                "binding enums are stored as 32-bit integers");

 public:
  explicit EnumBuilder(BindingTypeRegistry& registry, std::string_view name)
      : builder_(registry.BeginType(sizeof(E), name, StaticTypeKeyOf<E>(), true)) {}

  BindingTypeBuilder::State state() const noexcept { return builder_.state(); }
  const BindingTypeDescriptor* descriptor() const noexcept { return builder_.descriptor(); }

  EnumBuilder& Value(std::string_view name, E value, std::string_view description = {}) {
    builder_.AddEnumerator(name, static_cast<int32_t>(value), description);
    return *this;
  }
  EnumBuilder& Description(std::string_view text) {
    builder_.SetDescription(text);
    return *this;
  }
  EnumBuilder& Namespace(std::string_view text) {
    builder_.SetNamespace(text);
    return *this;
  }
  EnumBuilder& Tag(std::string_view text) {
    builder_.AddTag(text);
    return *this;
  }
  EnumBuilder& Tags(std::span<const std::string> texts) {
    for (const std::string& text : texts) builder_.AddTag(text);
    return *this;
  }

 private:
  BindingTypeBuilder builder_;
};

template <typename T>
RecordBuilder<T> BindingTypeRegistry::Record(std::string_view name) {
  return RecordBuilder<T>(*this, name);
}

template <typename E>
EnumBuilder<E> BindingTypeRegistry::Enum(std::string_view name) {
  return EnumBuilder<E>(*this, name);
}

}  // namespace mau
